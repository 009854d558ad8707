#pragma once

#include <QString>
#include <QStringList>

// What the account the service runs as can reach, asked by root before a
// restart: root reads every file, so its own look proves nothing.
namespace ServiceAccount {
// The account of the packaged service (User= of pru-server.service).
inline constexpr QLatin1StringView serviceUser{"pru"};

// One text for each file that user cannot read and each folder or file it
// cannot write into. Nothing when this process is not root or the user does not
// exist. *checked says whether the check ran.
QStringList unreachable(const QString &user, const QStringList &readFiles, const QStringList &writablePaths,
                        bool *checked);
} // namespace ServiceAccount
