#include <sys/prctl.h>
#include <sys/resource.h>
#include <QCoreApplication>

#include "PruVersion.h"
#include "ServerMain.h"

int main(int argc, char *argv[])
{
    // A core dump would hold passwords being checked and every hash read: none is written.
    ::prctl(PR_SET_DUMPABLE, 0);
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pru_server"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(pruVersion));
    return ServerMain::run(app);
}
