#include "TarefasLevel.h"

#include <QPainter>
#include <QToolButton>

#include "CriaObs.h"
#include "Exceptions.h"
#include "FrameworkServices.h"
#include "GridKeys.h"
#include "Guard.h"
#include "RecordSetState.h"
#include "ScreenIcons.h"
#include "ScreenImage.h"
#include "TADOIBQuery.h"
#include "TButtonFlat.h"
#include "TMessages.h"
#include "TfrmProcessoUnidade.h"

using namespace Qt::StringLiterals;
using namespace RecordSetState;

namespace {
constexpr int kPeriodicityWidth = 2;
}

TarefasLevel::TarefasLevel(TfrmProcessoUnidade *screen)
    : QObject(screen)
    , m_screen(screen)
    , m_rows(screen->cdsTarefas)
    , m_grid(screen->dbgTarefas)
{
    setObjectName(u"tarefas"_s);
    TClientDataSet *cds = m_rows;
    cds->AfterOpen = [this](TClientDataSet *ds) { cdsTarefasAfterOpen(ds); };
    cds->AfterScroll = [this](TClientDataSet *ds) { cdsTarefasAfterScroll(ds); };
    cds->BeforeInsert = [this](TClientDataSet *ds) { cdsTarefasBeforeInsert(ds); };
    cds->AfterInsert = [this](TClientDataSet *ds) { cdsTarefasAfterInsert(ds); };
    cds->BeforeEdit = [this](TClientDataSet *ds) { cdsTarefasBeforeEdit(ds); };
    cds->AfterEdit = [this](TClientDataSet *ds) { cdsTarefasAfterEdit(ds); };
    cds->BeforePost = [this](TClientDataSet *ds) { cdsTarefasBeforePost(ds); };
    cds->AfterCancel = [this](TClientDataSet *ds) { cdsTarefasAfterCancel(ds); };
    cds->BeforeDelete = [this](TClientDataSet *ds) { cdsTarefasBeforeDelete(ds); };
    cds->AfterDelete = [this](TClientDataSet *ds) { cdsTarefasAfterDelete(ds); };
    taskField(u"CDPERIENTR"_s)->OnGetText = [this](TField *sender, QString &text, bool displayText) {
        cdsTarefasCDPERIENTRGetText(sender, text, displayText);
    };

    TDBGrid *grid = m_grid;
    grid->OnEnter = [this](QObject *sender) { dbgTarefasEnter(sender); };
    grid->OnColEnter = [this](QObject *sender) { dbgTarefasColEnter(sender); };
    grid->OnColExit = [this](QObject *sender) { dbgTarefasColExit(sender); };
    grid->OnDrawColumnCell = [this](QObject *sender, QPainter &painter, const QRect &rect, int dataCol, TColumn *column,
                                    TGridDrawState state) {
        dbgTarefasDrawColumnCell(sender, painter, rect, dataCol, column, state);
    };
    grid->OnEditButtonClick = [this](QObject *sender) { dbgTarefasEditButtonClick(sender); };
    grid->OnDblClick = [this](QObject *sender) { dbgTarefasDblClick(sender); };
    grid->OnKeyDown = [this](QObject *sender, quint16 &key, Qt::KeyboardModifiers shift) {
        dbgTarefasKeyDown(sender, key, shift);
    };
    connect(m_screen->sbtTarefaUp, &QToolButton::clicked, this,
            [this] { guarded(m_screen, [this] { sbtTarefaUpClick(m_screen->sbtTarefaUp); }); });
    connect(m_screen->sbtTarefaDown, &QToolButton::clicked, this,
            [this] { guarded(m_screen, [this] { sbtTarefaDownClick(m_screen->sbtTarefaDown); }); });
}

TField *TarefasLevel::taskField(const QString &fieldName) const
{
    return m_rows->FieldByName(fieldName);
}

bool TarefasLevel::selectedFieldIs(const QString &fieldName) const
{
    const TField *field = m_grid->SelectedField();
    return field && field->FieldName() == fieldName;
}

// ---------------------------------------------------------------------------
// Record-set reactions

void TarefasLevel::cdsTarefasAfterOpen(TClientDataSet *)
{
    if (m_screen->currentGrid() == m_grid) {
        m_screen->Habilita(false);
    }
    if (isEmptySet(m_rows)) {
        m_screen->emptyBelow(m_rows);
    }
}

void TarefasLevel::cdsTarefasAfterScroll(TClientDataSet *)
{
    TClientDataSet *tasks = m_rows;
    if (tasks->State() == TDataSetState::dsBrowse) {
        const std::optional<double> nrAtividade = currentNumber(tasks, u"NRATIVIDADEFILIAL"_s);
        if (!nrAtividade) {
            m_screen->emptyBelow(m_rows);
        } else {
            m_screen->GetOperadores(*nrAtividade);
        }
    }
    m_grid->setTag(tasks->RecNo());
}

void TarefasLevel::cdsTarefasBeforeInsert(TClientDataSet *)
{
    TClientDataSet *tasks = m_rows;
    if (isEmptySet(m_screen->cdsProcessos)) {
        Abort();
    }
    m_screen->Habilita(true);
    m_getTextOff.emplace(taskField(u"CDPERIENTR"_s)->OnGetText);
    try {
        if (isEmptySet(tasks)) {
            m_screen->nrProxOrdem = 1;
        } else {
            // The move loads the last task's operators; the new row empties them.
            tasks->Last();
            m_screen->nrProxOrdem = qint32(taskField(u"NRORDENAATIVIDADE"_s)->AsFloat()) + 1;
            taskField(u"NMATIVIDADEFILIAL"_s)->FocusControl();
        }
    } catch (...) {
        // No insert follows, so no after-insert would give the get-text back.
        m_getTextOff.reset();
        throw;
    }
}

void TarefasLevel::cdsTarefasAfterInsert(TClientDataSet *)
{
    TClientDataSet *tasks = m_rows;
    taskField(u"NRORDENAATIVIDADE"_s)->setAsFloat(m_screen->nrProxOrdem);
    // A temporary key until the server gives the real one; the count leaves the new row out.
    taskField(u"NRATIVIDADEFILIAL"_s)->setAsFloat(-double(tasks->RecordCount() + 1));
    m_getTextOff.reset();
    m_screen->emptyBelow(m_rows);
}

void TarefasLevel::cdsTarefasBeforeEdit(TClientDataSet *)
{
    if (isEmptySet(m_screen->cdsProcessos)) {
        Abort();
    }
    m_screen->Habilita(true);
    m_getTextOff.emplace(taskField(u"CDPERIENTR"_s)->OnGetText);
}

void TarefasLevel::cdsTarefasAfterEdit(TClientDataSet *)
{
    m_getTextOff.reset();
}

void TarefasLevel::cdsTarefasBeforePost(TClientDataSet *)
{
    ValidaTarefas();
    taskField(u"NRPROCESSOFILIAL"_s)->setAsFloat(m_screen->parentKey(m_rows));
    TField *module = taskField(u"CDMODULOATIVIDADE"_s);
    if (!EmptyString(module->AsString())) {
        module->setAsString(module->AsString().toUpper());
    }
    taskField(u"CDOPERATU"_s)->setAsString(Operador());
}

void TarefasLevel::ValidaTarefas()
{
    TField *description = taskField(u"NMATIVIDADEFILIAL"_s);
    if (EmptyString(description->AsString())) {
        description->FocusControl();
        MensErro(m_screen->msgPadrao->Msg(u"NmTarefaNull"_s), true);
    }
    VdPeridiocidade();
}

void TarefasLevel::cdsTarefasAfterCancel(TClientDataSet *)
{
    if (m_rows->ChangeCount() == 0) {
        m_screen->Habilita(false);
    }
}

void TarefasLevel::cdsTarefasBeforeDelete(TClientDataSet *)
{
    TClientDataSet *activities = m_screen->cdsVerifTarefas;
    activities->SetData(m_screen
                            ->callServer(u"GetVerifTarefas"_s, {taskField(u"NRPROCESSOFILIAL"_s)->AsString(),
                                                                taskField(u"NRATIVIDADEFILIAL"_s)->AsString()})
                            .packet());
    if (isEmptySet(activities)) {
        return;
    }
    TField *operatorDone = activities->FieldByName(u"CDOPERCONCL"_s);
    TField *dateDone = activities->FieldByName(u"DTCONCLUSAO"_s);
    for (activities->First(); !activities->Eof(); activities->Next()) {
        if (!EmptyString(operatorDone->AsString()) && !EmptyString(dateDone->AsString())) {
            taskField(u"NMATIVIDADEFILIAL"_s)->FocusControl();
            MensErro(m_screen->msgPadrao->Msg(u"TARE_N_EXC"_s), true);
        }
    }
    // Only a task with scheduled activities is held by its process having ended.
    const TField *end = m_screen->cdsProcessosDTFINVIGENCIA;
    if (!end->IsNull() && end->AsDateTime() < m_screen->dtAtualServidor) {
        MensErro(m_screen->msgPadrao->Msg(u"ProcNaoVigNotAlt"_s), true);
    }
}

void TarefasLevel::cdsTarefasAfterDelete(TClientDataSet *)
{
    m_screen->SetTarefas();
    m_screen->Habilita(false);
    m_screen->Atualiza(m_screen->cdsProcessos, 0);
}

// ---------------------------------------------------------------------------
// Periodicity

void TarefasLevel::VdPeridiocidade()
{
    TField *code = taskField(u"CDPERIENTR"_s);
    TField *name = taskField(u"NMPERIENTR"_s);
    if (EmptyString(code->AsString())) {
        // A task may go without periodicity.
        code->setAsString(QString());
        name->setAsString(QString());
        return;
    }
    TADOIBQuery *query = m_screen->qryVdPeridiocidade;
    query->Close();
    query->ParamByName(u"CDPERIENTR"_s)->setValue(Ajusta(code->AsString(), kPeriodicityWidth));
    query->ParamByName(u"TCDPERIENTR"_s)->setValue(QString());
    query->Open();
    if (query->IsEmpty()) {
        code->setAsString(QString());
        name->setAsString(QString());
        code->FocusControl();
        MensErro(m_screen->msgPadrao->Msg(u"CdPeriodicidadeInv"_s), true);
    }
    // The code as the table holds it.
    code->setAsString(query->FieldByName(u"CDPERIENTR"_s)->AsString());
    name->setAsString(query->FieldByName(u"NMPERIENTR"_s)->AsString());
}

void TarefasLevel::GetPeriodicidades()
{
    TADOIBQuery *query = m_screen->qryVdPeridiocidade;
    query->Close();
    query->ParamByName(u"CDPERIENTR"_s)->setValue(QString());
    query->ParamByName(u"TCDPERIENTR"_s)->setValue(u"T"_s);
    query->Open();
    if (!Pesquisar(m_screen->dtsVdPeridiocidade, m_screen->msgPadrao->Msg(u"Periodicidades"_s), false, true)) {
        return;
    }
    TClientDataSet *tasks = m_rows;
    if (!inEditOrInsert(tasks)) {
        tasks->Edit();
    }
    // Validated again on leaving the cell and at the post.
    taskField(u"NMPERIENTR"_s)->setAsString(query->FieldByName(u"NMPERIENTR"_s)->AsString());
    taskField(u"CDPERIENTR"_s)->setAsString(query->FieldByName(u"CDPERIENTR"_s)->AsString());
}

void TarefasLevel::cdsTarefasCDPERIENTRGetText(TField *sender, QString &text, bool)
{
    // The cell the user is in shows and edits the code; every other cell the name.
    TDBGrid *grid = m_grid;
    const bool userIsHere =
        selectedFieldIs(u"CDPERIENTR"_s) && sender->DataSet()->RecNo() == grid->Tag() && grid->Focused();
    text = userIsHere ? sender->AsString() : taskField(u"NMPERIENTR"_s)->AsString();
}

// ---------------------------------------------------------------------------
// Grid

// Entering the grid leaves any editing mode: the commands follow its rows.
void TarefasLevel::dbgTarefasEnter(QObject *)
{
    m_screen->Habilita(false);
}

void TarefasLevel::dbgTarefasColEnter(QObject *)
{
    // The observation is edited in its own dialog, never in the cell.
    m_grid->setOption(dgEditing, !selectedFieldIs(u"DSATIVIDADEFILIAL"_s));
    m_grid->setTag(m_rows->RecNo());
}

void TarefasLevel::dbgTarefasColExit(QObject *)
{
    if (inEditOrInsert(m_rows) && selectedFieldIs(u"CDPERIENTR"_s)) {
        VdPeridiocidade();
    }
}

void TarefasLevel::dbgTarefasDrawColumnCell(QObject *, QPainter &painter, const QRect &rect, int, TColumn *column,
                                            TGridDrawState)
{
    if (isEmptySet(m_rows)) {
        return;
    }
    if (!column || !column->Field() || column->Field()->FieldName() != "DSATIVIDADEFILIAL"_L1) {
        return;
    }
    // The icon stands for the observation in every row; the text itself is never shown.
    const QColor background = painter.brush().color();
    painter.fillRect(rect, background);
    const QImage &icon = m_screen->imgObs->Picture();
    ScreenIcons::drawInCell(&painter, rect, (rect.width() - icon.width()) / 2, icon, background);
}

void TarefasLevel::dbgTarefasEditButtonClick(QObject *)
{
    if (!isEmptySet(m_screen->cdsProcessos) && selectedFieldIs(u"CDPERIENTR"_s)) {
        GetPeriodicidades();
    }
}

void TarefasLevel::dbgTarefasDblClick(QObject *)
{
    TClientDataSet *tasks = m_rows;
    if (isEmptySet(m_screen->cdsProcessos) || !selectedFieldIs(u"DSATIVIDADEFILIAL"_s) || isEmptySet(tasks)) {
        return;
    }
    TField *observation = taskField(u"DSATIVIDADEFILIAL"_s);
    const QString kept = CriaObs(observation->AsString());
    // Exactly the same text leaves the task untouched; a change of case is a change.
    if (kept == observation->AsString()) {
        return;
    }
    if (!inEditOrInsert(tasks)) {
        tasks->Edit();
    }
    observation->setAsString(kept);
}

void TarefasLevel::dbgTarefasKeyDown(QObject *, quint16 &key, Qt::KeyboardModifiers shift)
{
    // A task goes only through the screen's Delete command, with its checks.
    if (GridKeys::isCtrlDelete(key, shift)) {
        key = 0;
    }
}

// ---------------------------------------------------------------------------
// Ordering

void TarefasLevel::OrdenaTarefa(bool up)
{
    TClientDataSet *tasks = m_rows;
    if (isEmptySet(tasks) || tasks->RecordCount() < 2) {
        return;
    }
    // Text still in the cell editor is part of the row that moves: it reaches
    // its field (and the field's rules) before the row is posted.
    if (!m_grid->commitEdit()) {
        Abort();
    }
    {
        // The moves below load no operators and leave the grid's tag alone;
        // whatever happens, the reaction and the task order come back.
        ScopedDetach<TDataSetNotifyEvent> off(tasks->AfterScroll);
        try {
            if (inEditOrInsert(tasks)) {
                tasks->Post();
            }
            TField *order = taskField(u"NRORDENAATIVIDADE"_s);
            const double mine = order->AsFloat();
            const double key = taskField(u"NRATIVIDADEFILIAL"_s)->AsFloat();
            if (up) {
                tasks->Prior();
            } else {
                tasks->Next();
            }
            m_screen->Habilita(true);
            const double theirs = order->AsFloat();
            tasks->Edit();
            order->setAsFloat(mine);
            tasks->Post();
            tasks->Locate(u"NRATIVIDADEFILIAL"_s, key);
            tasks->Edit();
            order->setAsFloat(theirs);
            tasks->Post();
        } catch (...) {
            off.restore();
            tasks->setIndexName(u"idxPadrao"_s);
            throw;
        }
    }
    tasks->setIndexName(u"idxPadrao"_s);
}

void TarefasLevel::sbtTarefaUpClick(QObject *)
{
    OrdenaTarefa(true);
}

void TarefasLevel::sbtTarefaDownClick(QObject *)
{
    OrdenaTarefa(false);
}
