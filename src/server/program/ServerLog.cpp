#include "ServerLog.h"

#include <QDeadlineTimer>
#include <QMutex>
#include <QString>

#include <cstdio>

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcServer, "pru.server", QtInfoMsg)

namespace {

void writeLine(QtMsgType, const QMessageLogContext &context, const QString &message)
{
    static QMutex mutex;
    static LogThrottle throttle;
    const QString category = context.category ? QString::fromLatin1(context.category) : QString();
    const bool own =
        category.isEmpty() || category == QLatin1StringView(lcServer().categoryName()) || category == u"default"_s;
    const QString prefix = own ? u"pru_server: "_s : u"pru_server: "_s + category + u": "_s;
    QString text;
    {
        const QMutexLocker lock(&mutex);
        qint64 omitted = 0;
        const bool written = own || throttle.admit(category, QDeadlineTimer::current().deadline(), &omitted);
        if (omitted > 0) {
            text += prefix
                    + u"%1 linhas omitidas nos últimos %2 s (mais de %3 nesse tempo)\n"_s.arg(omitted)
                          .arg(LogThrottle::windowMs / 1000)
                          .arg(LogThrottle::linesPerWindow);
        }
        if (written) {
            text += prefix + message + u'\n';
        }
    }
    if (!text.isEmpty()) {
        std::fputs(text.toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
    }
}

} // namespace

namespace ServerLog {

void installProgramHandler()
{
    qInstallMessageHandler(writeLine);
}

} // namespace ServerLog

bool LogThrottle::admit(const QString &category, qint64 nowMs, qint64 *omitted)
{
    Window &window = m_windows[category];
    *omitted = 0;
    if (nowMs - window.startMs >= windowMs) {
        *omitted = window.omitted;
        window = {nowMs, 0, 0};
    }
    if (window.written >= linesPerWindow) {
        ++window.omitted;
        return false;
    }
    ++window.written;
    return true;
}
