#pragma once

#include <QStringList>

class QApplication;

// The whole host: options, login, main window, screens opened at start,
// and the picture-and-exit mode. Returns the process exit code.
int runHost(QApplication &app, const QStringList &arguments);
