#include <QCoreApplication>

#include "PruVersion.h"
#include "ServerMain.h"

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pru_server"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(pruVersion));
    return ServerMain::run(app);
}
