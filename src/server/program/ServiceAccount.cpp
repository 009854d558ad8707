#include "ServiceAccount.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace ServiceAccount {

QStringList unreachable(const QString &user, const QStringList &readFiles, const QStringList &writablePaths,
                        bool *checked)
{
    *checked = false;
    if (geteuid() != 0) {
        return {};
    }
    const QByteArray name = user.toLocal8Bit();
    const passwd *account = getpwnam(name.constData());
    if (account == nullptr) {
        return {};
    }
    const uid_t uid = account->pw_uid;
    const gid_t gid = account->pw_gid;
    int fds[2];
    if (pipe(fds) != 0) {
        return {u"não foi possível verificar o acesso do usuário %1: %2"_s.arg(
            user, QString::fromLocal8Bit(std::strerror(errno)))};
    }
    // A child takes on the account (its groups too) and tries each path as
    // the service will; this process keeps root.
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        if (initgroups(name.constData(), gid) != 0 || setgid(gid) != 0 || setuid(uid) != 0) {
            _exit(2);
        }
        auto report = [&](const QString &text) {
            const QByteArray line = text.toUtf8() + '\n';
            (void)!write(fds[1], line.constData(), size_t(line.size()));
        };
        for (const QString &path : readFiles) {
            if (access(QFile::encodeName(path).constData(), R_OK) != 0) {
                report(u"ler %1 (%2)"_s.arg(path, QString::fromLocal8Bit(std::strerror(errno))));
            }
        }
        for (const QString &path : writablePaths) {
            const QByteArray encoded = QFile::encodeName(path);
            const int mode = W_OK | (QFileInfo(path).isDir() ? X_OK : R_OK);
            if (access(encoded.constData(), mode) != 0) {
                report(u"gravar em %1 (%2)"_s.arg(path, QString::fromLocal8Bit(std::strerror(errno))));
            }
        }
        _exit(0);
    }
    close(fds[1]);
    QByteArray out;
    char buffer[512];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        out.append(buffer, n);
    }
    close(fds[0]);
    int status = 0;
    while (child > 0 && waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    if (child < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return {u"não foi possível verificar o acesso do usuário %1"_s.arg(user)};
    }
    *checked = true;
    return QString::fromUtf8(out).split(u'\n', Qt::SkipEmptyParts);
}

} // namespace ServiceAccount
