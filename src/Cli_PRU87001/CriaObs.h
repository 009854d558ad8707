#pragma once

#include <QString>
#include <QtCore/qglobal.h>

class TfrmObs;

// The observation editor as the module offers it, under plain names.
extern "C" {
// Shows text in a new modal "Observação" dialog and gives back the text to
// keep: the editor's text when the user confirmed, else text itself.
Q_DECL_EXPORT QString CriaObs(const QString &text);

// The dialog last created by CriaObs (null once it is gone).
Q_DECL_EXPORT extern TfrmObs *frmObs;
// The observation on its way through the dialog.
Q_DECL_EXPORT extern QString txt;
}
