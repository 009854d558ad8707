#pragma once

#include <QString>

#include "definitions_export.h"

namespace DataFiles {
// Reads a file kept under ":/data/" (UTF-8); throws EDatabaseError when missing.
PRU_DEFINITIONS_EXPORT QString read(const QString &relativePath);
} // namespace DataFiles
