#include "TarefasLevel.h"

#include "Exceptions.h"
#include "FrameworkServices.h"
#include "GridKeys.h"
#include "RecordSetState.h"
#include "TField.h"
#include "TMessages.h"
#include "TfrmProcessoUnidade.h"

using namespace Qt::StringLiterals;
using namespace RecordSetState;

TarefasLevel::TarefasLevel(TfrmProcessoUnidade *screen)
    : QObject(screen), m_screen(screen)
{
    setObjectName(u"tarefas"_s);
    TClientDataSet *cds = m_screen->cdsTarefas;
    cds->AfterOpen = [this](TClientDataSet *ds) { cdsTarefasAfterOpen(ds); };
    cds->AfterScroll = [this](TClientDataSet *ds) { cdsTarefasAfterScroll(ds); };
    cds->BeforeInsert = [this](TClientDataSet *ds) { cdsTarefasBeforeInsert(ds); };
    cds->AfterInsert = [this](TClientDataSet *ds) { cdsTarefasAfterInsert(ds); };
    cds->BeforeEdit = [this](TClientDataSet *ds) { cdsTarefasBeforeEdit(ds); };
    cds->BeforePost = [this](TClientDataSet *ds) { cdsTarefasBeforePost(ds); };
    cds->AfterCancel = [this](TClientDataSet *ds) { cdsTarefasAfterCancel(ds); };
    cds->AfterDelete = [this](TClientDataSet *ds) { cdsTarefasAfterDelete(ds); };
    m_screen->dbgTarefas->OnKeyDown = [this](QObject *sender, quint16 &key, Qt::KeyboardModifiers shift) {
        dbgTarefasKeyDown(sender, key, shift);
    };
}

void TarefasLevel::cdsTarefasAfterOpen(TClientDataSet *)
{
    if (m_screen->currentGrid() == m_screen->dbgTarefas) {
        m_screen->Habilita(false);
    }
    if (isEmptySet(m_screen->cdsTarefas)) {
        emptyRecordSet(m_screen->cdsOperadores);
    }
}

void TarefasLevel::cdsTarefasAfterScroll(TClientDataSet *)
{
    TClientDataSet *tasks = m_screen->cdsTarefas;
    if (tasks->State() == TDataSetState::dsBrowse) {
        const std::optional<double> nrAtividade = currentNumber(tasks, u"NRATIVIDADEFILIAL"_s);
        if (!nrAtividade) {
            emptyRecordSet(m_screen->cdsOperadores);
        } else {
            m_screen->GetOperadores(*nrAtividade);
        }
    }
    m_screen->dbgTarefas->setTag(tasks->RecNo());
}

void TarefasLevel::cdsTarefasBeforeInsert(TClientDataSet *)
{
    TClientDataSet *tasks = m_screen->cdsTarefas;
    if (isEmptySet(m_screen->cdsProcessos)) {
        Abort();
    }
    m_screen->Habilita(true);
    if (isEmptySet(tasks)) {
        m_screen->nrProxOrdem = 1;
    } else {
        // The move loads the last task's operators; the new row empties them.
        tasks->Last();
        m_screen->nrProxOrdem = qint32(tasks->FieldByName(u"NRORDENAATIVIDADE"_s)->AsFloat()) + 1;
        tasks->FieldByName(u"NMATIVIDADEFILIAL"_s)->FocusControl();
    }
}

void TarefasLevel::cdsTarefasAfterInsert(TClientDataSet *)
{
    TClientDataSet *tasks = m_screen->cdsTarefas;
    tasks->FieldByName(u"NRORDENAATIVIDADE"_s)->setAsFloat(m_screen->nrProxOrdem);
    // A temporary key until the server gives the real one; the count leaves the new row out.
    tasks->FieldByName(u"NRATIVIDADEFILIAL"_s)->setAsFloat(-double(tasks->RecordCount() + 1));
    emptyRecordSet(m_screen->cdsOperadores);
}

void TarefasLevel::cdsTarefasBeforeEdit(TClientDataSet *)
{
    if (isEmptySet(m_screen->cdsProcessos)) {
        Abort();
    }
    m_screen->Habilita(true);
}

void TarefasLevel::cdsTarefasBeforePost(TClientDataSet *)
{
    TClientDataSet *tasks = m_screen->cdsTarefas;
    ValidaTarefas();
    tasks->FieldByName(u"NRPROCESSOFILIAL"_s)
        ->setAsFloat(currentNumber(m_screen->cdsProcessos, u"NRPROCESSOFILIAL"_s).value_or(0));
    TField *module = tasks->FieldByName(u"CDMODULOATIVIDADE"_s);
    if (!EmptyString(module->AsString())) {
        module->setAsString(module->AsString().toUpper());
    }
    tasks->FieldByName(u"CDOPERATU"_s)->setAsString(Operador());
}

void TarefasLevel::ValidaTarefas()
{
    TField *description = m_screen->cdsTarefas->FieldByName(u"NMATIVIDADEFILIAL"_s);
    if (EmptyString(description->AsString())) {
        description->FocusControl();
        MensErro(m_screen->msgPadrao->Msg(u"NmTarefaNull"_s), true);
    }
}

void TarefasLevel::cdsTarefasAfterCancel(TClientDataSet *)
{
    if (m_screen->cdsTarefas->ChangeCount() == 0) {
        m_screen->Habilita(false);
    }
}

void TarefasLevel::cdsTarefasAfterDelete(TClientDataSet *)
{
    m_screen->SetTarefas();
    m_screen->Habilita(false);
    m_screen->Atualiza(m_screen->cdsProcessos, 0);
}

void TarefasLevel::dbgTarefasKeyDown(QObject *, quint16 &key, Qt::KeyboardModifiers shift)
{
    // A task goes only through the screen's Delete command, with its checks.
    if (GridKeys::isCtrlDelete(key, shift)) {
        key = 0;
    }
}
