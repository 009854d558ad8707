#include "OperadoresLevel.h"

#include "Exceptions.h"
#include "FrameworkServices.h"
#include "GridKeys.h"
#include "RecordSetState.h"
#include "TField.h"
#include "TMessages.h"
#include "TfrmProcessoUnidade.h"

using namespace Qt::StringLiterals;
using namespace RecordSetState;

OperadoresLevel::OperadoresLevel(TfrmProcessoUnidade *screen)
    : QObject(screen), m_screen(screen)
{
    setObjectName(u"operadores"_s);
    // The working copy carries the operator reactions too; they always act on
    // cdsOperadores and its grid, whichever record set fired them.
    for (TClientDataSet *ds : {m_screen->cdsOperadores, m_screen->cdsVdOperadores}) {
        ds->AfterOpen = [this](TClientDataSet *d) { cdsOperadoresAfterOpen(d); };
        ds->BeforeInsert = [this](TClientDataSet *d) { cdsOperadoresBeforeInsert(d); };
        ds->AfterInsert = [this](TClientDataSet *d) { cdsOperadoresAfterInsert(d); };
        ds->BeforeEdit = [this](TClientDataSet *d) { cdsOperadoresBeforeEdit(d); };
        ds->AfterEdit = [this](TClientDataSet *d) { cdsOperadoresAfterEdit(d); };
        ds->BeforePost = [this](TClientDataSet *d) { cdsOperadoresBeforePost(d); };
        ds->AfterCancel = [this](TClientDataSet *d) { cdsOperadoresAfterCancel(d); };
        ds->AfterDelete = [this](TClientDataSet *d) { cdsOperadoresAfterDelete(d); };
        ds->AfterScroll = [this](TClientDataSet *d) { cdsOperadoresAfterScroll(d); };
    }
    m_screen->dbgOperadores->OnKeyDown = [this](QObject *sender, quint16 &key, Qt::KeyboardModifiers shift) {
        dbgOperadoresKeyDown(sender, key, shift);
    };
}

void OperadoresLevel::cdsOperadoresAfterOpen(TClientDataSet *)
{
    if (m_screen->currentGrid() == m_screen->dbgOperadores) {
        m_screen->Habilita(false);
    }
}

void OperadoresLevel::cdsOperadoresAfterScroll(TClientDataSet *)
{
    m_screen->dbgOperadores->setTag(m_screen->cdsOperadores->RecNo());
}

void OperadoresLevel::cdsOperadoresBeforeInsert(TClientDataSet *)
{
    TClientDataSet *operators = m_screen->cdsOperadores;
    if (isEmptySet(m_screen->cdsTarefas)) {
        Abort();
    }
    m_screen->Habilita(true);
    m_screen->cdsVdOperadores->SetDataFrom(*operators);
    if (!isEmptySet(operators)) {
        operators->FieldByName(u"CDOPERADOR"_s)->FocusControl();
    }
}

void OperadoresLevel::cdsOperadoresAfterInsert(TClientDataSet *)
{
    TClientDataSet *operators = m_screen->cdsOperadores;
    operators->FieldByName(u"IDEXECUTA"_s)->setAsString(u"N"_s);
    operators->FieldByName(u"IDVALIDA"_s)->setAsString(u"N"_s);
    operators->FieldByName(u"NRRESPATIVFILIAL"_s)->setAsFloat(-double(operators->RecordCount() + 1));
    m_screen->Habilita(true);
}

void OperadoresLevel::cdsOperadoresBeforeEdit(TClientDataSet *)
{
    if (isEmptySet(m_screen->cdsTarefas)) {
        Abort();
    }
    m_screen->Habilita(true);
    m_screen->cdsVdOperadores->SetDataFrom(*m_screen->cdsOperadores);
}

void OperadoresLevel::cdsOperadoresAfterEdit(TClientDataSet *)
{
    m_screen->Habilita(true);
}

void OperadoresLevel::cdsOperadoresBeforePost(TClientDataSet *)
{
    TClientDataSet *operators = m_screen->cdsOperadores;
    ValidaOperadores();
    operators->FieldByName(u"NRPROCESSOFILIAL"_s)
        ->setAsFloat(currentNumber(m_screen->cdsProcessos, u"NRPROCESSOFILIAL"_s).value_or(0));
    operators->FieldByName(u"NRATIVIDADEFILIAL"_s)
        ->setAsFloat(currentNumber(m_screen->cdsTarefas, u"NRATIVIDADEFILIAL"_s).value_or(0));
    operators->FieldByName(u"CDOPERATU"_s)->setAsString(Operador());
}

void OperadoresLevel::ValidaOperadores()
{
    TClientDataSet *operators = m_screen->cdsOperadores;
    TField *operatorCode = operators->FieldByName(u"CDOPERADOR"_s);
    if (EmptyString(operatorCode->AsString()) && EmptyString(operators->FieldByName(u"CDGRUPOPER"_s)->AsString())) {
        operatorCode->FocusControl();
        MensErro(m_screen->msgPadrao->Msg(u"CdOpGrupopNull"_s), true);
    }
}

void OperadoresLevel::cdsOperadoresAfterCancel(TClientDataSet *)
{
    if (m_screen->cdsOperadores->ChangeCount() == 0) {
        m_screen->Habilita(false);
    }
}

void OperadoresLevel::cdsOperadoresAfterDelete(TClientDataSet *)
{
    m_screen->SetOperadores();
    m_screen->Habilita(false);
    // Back on the same task once the levels above are reloaded.
    m_screen->reloadKeepingTask(0);
}

void OperadoresLevel::dbgOperadoresKeyDown(QObject *, quint16 &key, Qt::KeyboardModifiers shift)
{
    // An operator goes only through the screen's Delete command, with its question.
    if (GridKeys::isCtrlDelete(key, shift)) {
        key = 0;
    }
}
