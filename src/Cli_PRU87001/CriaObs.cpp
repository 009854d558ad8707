#include "CriaObs.h"

#include <QPointer>
#include <QScopeGuard>

#include <QMainWindow>

#include "FrameworkServices.h"
#include "TfrmObs.h"

extern "C" {
TfrmObs *frmObs = nullptr;
QString txt;
}

QString CriaObs(const QString &text)
{
    // Over the host's window, owned by it: a new dialog on every call.
    TfrmObs *dialog = TfrmRotiGeral::create<TfrmObs>(MainWindow());
    frmObs = dialog;
    QObject::connect(dialog, &QObject::destroyed, dialog, [dialog] {
        if (frmObs == dialog) {
            frmObs = nullptr;
        }
    });
    // Nothing reads a closed dialog.
    const auto release = qScopeGuard([dialog] { dialog->deleteLater(); });
    txt = text;
    dialog->setObservacao(txt);
    dialog->ShowModal();
    return txt;
}
