#pragma once

class QCoreApplication;

// The server program: reads the command line and configuration file, then
// runs an administration command or serves until SIGINT/SIGTERM.
namespace ServerMain {
int run(QCoreApplication &app);
}
