#pragma once

#include <QString>

// A password for an administration command: on a terminal it asks with
// prompt on standard error and reads without echo; otherwise it reads one
// line of standard input (a script's pipe), with no prompt.
namespace TerminalPassword {
QString read(const QString &prompt);
}
