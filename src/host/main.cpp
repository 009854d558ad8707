#include <QApplication>

#include "HostApp.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("pru_host"));
    return runHost(app, QApplication::arguments());
}
