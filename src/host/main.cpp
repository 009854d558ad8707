#include <QApplication>

#include <cstdio>

#include "HostApp.h"
#include "HostOptions.h"
#include "PruVersion.h"

int main(int argc, char *argv[])
{
    // --help and --version answer on a terminal without a display.
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--version" || argument == "-v") {
            std::printf("pru_host %s\n", pruVersion);
            return 0;
        }
        if (argument == "--help" || argument == "-h") {
            QCoreApplication core(argc, argv);
            QCoreApplication::setApplicationName(QStringLiteral("pru_host"));
            HostOptions options;
            QString help;
            parseHostOptions(QCoreApplication::arguments(), &options, &help);
            std::printf("%s\n", help.toLocal8Bit().constData());
            return 0;
        }
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("pru_host"));
    QApplication::setApplicationVersion(QString::fromLatin1(pruVersion));
    return runHost(app, QApplication::arguments());
}
