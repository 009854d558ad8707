#include "TerminalPassword.h"

#include <QTextStream>

#include "Secret.h"

#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace TerminalPassword {

QString read(const QString &prompt)
{
    if (isatty(STDIN_FILENO) == 0) {
        QTextStream in(stdin);
        return in.readLine();
    }
    std::fputs(prompt.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    termios saved{};
    const bool quiet = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (quiet) {
        termios silent = saved;
        silent.c_lflag &= ~tcflag_t(ECHO);
        silent.c_lflag |= ECHONL;
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    }
    QByteArray line;
    for (int c; (c = std::fgetc(stdin)) != EOF && c != '\n';) {
        line += char(c);
    }
    if (quiet) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    }
    QString password = QString::fromLocal8Bit(line);
    Secret::wipe(line);
    return password;
}

} // namespace TerminalPassword
