#include "PRU87000.h"

#include <QApplication>
#include <QCursor>

#include "FrameworkServices.h"
#include "Guard.h"
#include "TfrmProcessoUnidade.h"

extern "C" {
TfrmProcessoUnidade *frmProcessoUnidade = nullptr;
// False from the module's initialization until the screen is created.
bool boIdCriado = false;
}

namespace {

// The hourglass for as long as the screen is being built, on every exit path.
class WaitCursor
{
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

void createScreen()
{
    WaitCursor cursor;
    if (boIdCriado) {
        return;
    }
    // Owned by the host: it lives in the host's workspace until closed.
    auto *screen = TfrmPadraoGrid::create<TfrmProcessoUnidade>(nullptr);
    frmProcessoUnidade = screen;
    // A destroyed screen is forgotten, so the next opening builds a new one.
    QObject::connect(screen, &QObject::destroyed, qApp, [screen] {
        if (frmProcessoUnidade == screen) {
            frmProcessoUnidade = nullptr;
            boIdCriado = false;
        }
    });
    boIdCriado = true;
}

} // namespace

extern "C" {

void CriaProcessoUnidade()
{
    // Nothing may leave through this C entry point: a failed creation shows
    // its error (after the cursor is back) and leaves no screen behind.
    const bool created = guarded(nullptr, createScreen);
    if (created && frmProcessoUnidade) {
        ShowChildWindow(frmProcessoUnidade);
    }
}

void IniProc()
{
    CriaProcessoUnidade();
}

} // extern "C"
