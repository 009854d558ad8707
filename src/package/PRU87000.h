#pragma once

#include <QtCore/qglobal.h>

class TfrmProcessoUnidade;

// What the module offers the host, under plain unmangled names.
extern "C" {
// Opens the screen: creates it on the first call, shows it on every call.
Q_DECL_EXPORT void IniProc();
Q_DECL_EXPORT void CriaProcessoUnidade();

// The single screen instance (null until created, and again once it is
// destroyed) and whether it exists.
Q_DECL_EXPORT extern TfrmProcessoUnidade *frmProcessoUnidade;
Q_DECL_EXPORT extern bool boIdCriado;
}
