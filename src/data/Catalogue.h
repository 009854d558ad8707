#pragma once

#include <QString>

#include "definitions_export.h"

// The screen's message catalogue (PRU87000.msg), readable without the
// framework, so that a refusal by the server of a rule the screen also checks
// carries exactly the screen's text.
namespace Catalogue {
// The text of key; a key the catalogue lacks gives the key itself, so a
// missing entry is visible instead of an empty message.
PRU_DEFINITIONS_EXPORT QString text(const QString &key);
PRU_DEFINITIONS_EXPORT bool contains(const QString &key);
} // namespace Catalogue
