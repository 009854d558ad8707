#include <QCoreApplication>

#include "ServerMain.h"

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pru_server"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0"));
    return ServerMain::run(app);
}
