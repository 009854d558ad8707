// A screen module as small as one can be: IniProc opens one screen.
#include <QLabel>
#include <QPointer>

#include "Exceptions.h"
#include "FrameworkServices.h"
#include "TfrmPadraoGrid.h"

using namespace Qt::StringLiterals;

namespace {
class TestScreen : public TfrmPadraoGrid
{
public:
    void FormCreate(QObject *sender) override
    {
        TfrmPadraoGrid::FormCreate(sender);
        if (qEnvironmentVariableIsSet("PRU_TESTMODULE_FAIL")) {
            throw EDatabaseError(u"Falha ao criar a tela de teste."_s);
        }
        setObjectName(u"frmTeste"_s);
        setWindowTitle(u"Tela de Teste"_s);
        lblCodTela->setText(u"PRUTEST1"_s);
        setFixedSize(400, 250);
    }
};
QPointer<TestScreen> g_screen;
} // namespace

extern "C" {
Q_DECL_EXPORT int testModuleOpened = 0;

Q_DECL_EXPORT void IniProc()
{
    ++testModuleOpened;
    if (!g_screen) {
        g_screen = TfrmPadraoGrid::create<TestScreen>();
    }
    ShowChildWindow(g_screen);
}
}
