#include "ServerLog.h"

#include <QString>

#include <cstdio>

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcServer, "pru.server", QtInfoMsg)

namespace {

void writeLine(QtMsgType, const QMessageLogContext &context, const QString &message)
{
    const QString category = context.category ? QString::fromLatin1(context.category) : QString();
    QString line = u"pru_server: "_s;
    if (!category.isEmpty() && category != QLatin1StringView(lcServer().categoryName()) && category != u"default"_s) {
        line += category + u": "_s;
    }
    line += message;
    line += u'\n';
    std::fputs(line.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

} // namespace

namespace ServerLog {

void installProgramHandler()
{
    qInstallMessageHandler(writeLine);
}

} // namespace ServerLog
