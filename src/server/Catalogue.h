#pragma once

#include <QString>

// The screen's message catalogue, compiled into the server, so that a refusal
// of a rule the screen also checks carries exactly the screen's text.
namespace Catalogue {
// The text of key; a key the catalogue lacks gives the key itself, so a
// missing entry is visible instead of an empty message.
QString text(const QString &key);
bool contains(const QString &key);
}
