#include "ProcessosLevel.h"

#include <QMainWindow>
#include <QToolButton>

#include "DateTime.h"
#include "FrameworkServices.h"
#include "Guard.h"
#include "ModalDialogs.h"
#include "RecordSetState.h"
#include "TButtonFlat.h"
#include "TField.h"
#include "TMessages.h"
#include "TNetConnection.h"
#include "TfrmProcessoUnidade.h"

using namespace Qt::StringLiterals;
using namespace RecordSetState;

ProcessosLevel::ProcessosLevel(TfrmProcessoUnidade *screen)
    : QObject(screen), m_screen(screen)
{
    setObjectName(u"processos"_s);
    TClientDataSet *cds = m_screen->cdsProcessos;
    cds->AfterOpen = [this](TClientDataSet *ds) { cdsProcessosAfterOpen(ds); };
    cds->AfterScroll = [this](TClientDataSet *ds) { cdsProcessosAfterScroll(ds); };
    cds->BeforeInsert = [this](TClientDataSet *ds) { cdsProcessosBeforeInsert(ds); };
    cds->AfterInsert = [this](TClientDataSet *ds) { cdsProcessosAfterInsert(ds); };
    cds->BeforeEdit = [this](TClientDataSet *ds) { cdsProcessosBeforeEdit(ds); };
    cds->BeforePost = [this](TClientDataSet *ds) { cdsProcessosBeforePost(ds); };
    cds->AfterCancel = [this](TClientDataSet *ds) { cdsProcessosAfterCancel(ds); };
    cds->BeforeDelete = [this](TClientDataSet *ds) { cdsProcessosBeforeDelete(ds); };
    cds->AfterDelete = [this](TClientDataSet *ds) { cdsProcessosAfterDelete(ds); };
    cds->OnCalcFields = [this](TClientDataSet *ds) { cdsProcessosCalcFields(ds); };
    m_screen->cdsProcessosDTINIVIGENCIA->OnSetText = [this](TField *f, const QString &text) {
        cdsProcessosDTINIVIGENCIASetText(f, text);
    };
    m_screen->cdsProcessosDTFINVIGENCIA->OnSetText = [this](TField *f, const QString &text) {
        cdsProcessosDTFINVIGENCIASetText(f, text);
    };
    connect(m_screen->sbtRedefinir, &QToolButton::clicked, this,
            [this] { guarded(m_screen, [this] { sbtRedefinirClick(m_screen->sbtRedefinir); }); });
}

void ProcessosLevel::cdsProcessosAfterOpen(TClientDataSet *)
{
    if (m_screen->currentGrid() == m_screen->dbgPadrao) {
        m_screen->Habilita(false);
    }
    if (isEmptySet(m_screen->cdsProcessos)) {
        emptyRecordSet(m_screen->cdsTarefas);
    }
}

void ProcessosLevel::cdsProcessosAfterScroll(TClientDataSet *)
{
    if (m_screen->cdsProcessos->State() != TDataSetState::dsBrowse) {
        return;
    }
    const std::optional<double> nrProcesso = currentNumber(m_screen->cdsProcessos, u"NRPROCESSOFILIAL"_s);
    if (!nrProcesso) {
        emptyRecordSet(m_screen->cdsTarefas);
        emptyRecordSet(m_screen->cdsOperadores);
    } else {
        m_screen->GetTarefas(*nrProcesso, false);
    }
    if (!m_screen->isEditing()) {
        m_screen->Habilita(false);
    }
}

void ProcessosLevel::cdsProcessosBeforeInsert(TClientDataSet *)
{
    m_screen->Habilita(true);
    if (!isEmptySet(m_screen->cdsProcessos)) {
        m_screen->cdsProcessos->FieldByName(u"NMPROCESSOFILIAL"_s)->FocusControl();
    }
}

void ProcessosLevel::cdsProcessosAfterInsert(TClientDataSet *)
{
    emptyRecordSet(m_screen->cdsTarefas);
    emptyRecordSet(m_screen->cdsOperadores);
    m_screen->cdsProcessos->FieldByName(u"IDSITUACAO"_s)->setAsString(u"S"_s);
    m_screen->cdsProcessosDTINIVIGENCIA->setAsDateTime(m_screen->dtAtualServidor + 1);
}

void ProcessosLevel::cdsProcessosBeforeEdit(TClientDataSet *)
{
    m_screen->Habilita(true);
}

void ProcessosLevel::cdsProcessosBeforePost(TClientDataSet *)
{
    ValidaProcessos();
    m_screen->cdsProcessos->FieldByName(u"CDOPERATU"_s)->setAsString(Operador());
}

void ProcessosLevel::ValidaProcessos()
{
    TField *name = m_screen->cdsProcessos->FieldByName(u"NMPROCESSOFILIAL"_s);
    if (EmptyString(name->AsString())) {
        name->FocusControl();
        MensErro(m_screen->msgPadrao->Msg(u"NmProcessoNull"_s), true);
    }
}

void ProcessosLevel::cdsProcessosDTINIVIGENCIASetText(TField *sender, const QString &text)
{
    // The field's own reading of the typed date until the validity rules take over.
    sender->setAsString(text);
}

void ProcessosLevel::cdsProcessosDTFINVIGENCIASetText(TField *sender, const QString &text)
{
    sender->setAsString(text);
}

void ProcessosLevel::cdsProcessosAfterCancel(TClientDataSet *)
{
    if (m_screen->cdsProcessos->ChangeCount() == 0) {
        m_screen->Habilita(false);
    }
}

void ProcessosLevel::cdsProcessosBeforeDelete(TClientDataSet *)
{
    m_screen->boExcluiAtividades = false;
    m_screen->nrProcessoExcl = m_screen->cdsProcessos->FieldByName(u"NRPROCESSOFILIAL"_s)->AsString();
}

void ProcessosLevel::cdsProcessosAfterDelete(TClientDataSet *)
{
    if (m_screen->boExcluiAtividades) {
        // Pending activities go before the process itself.
        m_screen->callServer(u"SetAtividades"_s, {m_screen->nrProcessoExcl});
    }
    m_screen->SetProcessos();
    m_screen->sbtVerificarClick(m_screen);
    m_screen->Habilita(false);
}

void ProcessosLevel::cdsProcessosCalcFields(TClientDataSet *)
{
    const QString name = m_screen->cdsProcessos->FieldByName(u"NMOPERADOR"_s)->AsString();
    if (EmptyString(name)) {
        return;
    }
    const double when = m_screen->cdsProcessos->FieldByName(u"DTATUALIZACAO"_s)->AsDateTime();
    m_screen->cdsProcessos->FieldByName(u"ULTATU"_s)
        ->setAsString(name + u" - "_s + DateTime::toQDateTime(when).toString(u"dd/MM/yyyy HH:mm:ss"_s));
}

void ProcessosLevel::sbtRedefinirClick(QObject *)
{
    {
        BusyIndicatorScope busy(MainWindow(), 1);
        m_screen->callServer(u"RedefinirAtividadesDia"_s,
                             {m_screen->cdsProcessos->FieldByName(u"NRPROCESSOFILIAL"_s)->AsString(), Operador()});
    }
    m_screen->Atualiza(m_screen->cdsProcessos, 0);
    ModalDialogs::messageBox(m_screen->msgPadrao->Msg(u"RedefSucess"_s), mtInformation, mbOK, {}, m_screen);
}
