#pragma once

#include <QLoggingCategory>

// The server's own lines: one per start, stop and failure. Shown by default;
// "pru.server.info=false" keeps only the failures.
Q_DECLARE_LOGGING_CATEGORY(lcServer)

namespace ServerLog {
// For the program: every message, of any category, goes to standard error as
// one line "pru_server: <message>" (other categories name themselves after
// the prefix), written at once, whatever standard error is connected to.
void installProgramHandler();
}
