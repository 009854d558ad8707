#pragma once

#include <QtCore/qglobal.h>

// The observation editor's exports, CriaObs, frmObs and txt, are defined with
// the dialog (Cli_PRU87001) and leave the module with it.
#include "CriaObs.h"

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
