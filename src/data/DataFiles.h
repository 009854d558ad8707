#pragma once

#include <QHash>
#include <QMutex>
#include <QString>

#include "definitions_export.h"

namespace DataFiles {
// Reads a file kept under ":/data/" (UTF-8); throws EDatabaseError when missing.
PRU_DEFINITIONS_EXPORT QString read(const QString &relativePath);

// A file's parsed form, parsed once per program (the files are built into it
// and never change); callers on any thread share it. A file that does not
// parse throws at every asking.
template <typename T>
T parsed(const QString &relativePath, T (*parse)(const QString &text, const QString &sourceName))
{
    static QMutex mutex;
    static QHash<QString, T> done;
    const QMutexLocker lock(&mutex);
    auto found = done.constFind(relativePath);
    if (found == done.constEnd()) {
        found = done.insert(relativePath, parse(read(relativePath), relativePath));
    }
    return *found;
}
} // namespace DataFiles
