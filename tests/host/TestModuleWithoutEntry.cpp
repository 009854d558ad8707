// A library that is no screen module: it has no IniProc.
#include <QtCore/qglobal.h>

extern "C" Q_DECL_EXPORT int notAScreen()
{
    return 1;
}
