#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// One line of a process's /proc status in kB ("VmRSS", "VmHWM"); pid "self"
// for this process. -1 when it cannot be read.
inline qint64 procStatusKiB(const QString &pid, const QByteArray &key)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray prefix = key + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(prefix)) {
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return -1;
}
