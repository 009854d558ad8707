#include "TfrmProcessoUnidade.h"

#include <QAction>
#include <QDate>
#include <QLabel>
#include <QMainWindow>

#include <optional>

#include "DataFiles.h"
#include "DateTime.h"
#include "Exceptions.h"
#include "FrameworkServices.h"
#include "Guard.h"
#include "LookupQueries.h"
#include "MessageFormat.h"
#include "ModalDialogs.h"
#include "OperadoresLevel.h"
#include "ProcessosLevel.h"
#include "RecordSetDefinitions.h"
#include "RecordSetState.h"
#include "ScopedDetach.h"
#include "ScreenLayout.h"
#include "TButtonFlat.h"
#include "TDBNavigator.h"
#include "TDataSource.h"
#include "TField.h"
#include "TMessages.h"
#include "TNetConnection.h"
#include "TarefasLevel.h"

using namespace Qt::StringLiterals;
using namespace RecordSetState;

TfrmProcessoUnidade::TfrmProcessoUnidade(QWidget *parent)
    : TfrmPadraoGrid(parent)
{
    setObjectName(u"frmProcessoUnidade"_s);
    setWindowTitle(u"Processos da Unidade"_s);
    // A closed screen goes away, so the next opening builds a fresh one.
    setAttribute(Qt::WA_DeleteOnClose);
    lblCodTela->setText(u"PRU87000"_s);
    msgPadrao->loadFromText(DataFiles::read(u"PRU87000.msg"_s));

    netProcessoUnidade = new TNetConnection(this);
    netProcessoUnidade->setObjectName(u"netProcessoUnidade"_s);
    netProcessoUnidade->setServerName(u"PRU87000.rdmProcessoUnidade"_s);
    netProcessoUnidade->setThrowException(false);
    netProcessoUnidade->BeforeConnect = [this](QObject *sender) { netProcessoUnidadeBeforeConnect(sender); };
    // The server logs in and reads the processes while the screen is built;
    // FormCreate's connection and first load take what it answered.
    netProcessoUnidade->connectAhead();
    netProcessoUnidade->AppServer()->post(u"GetProcessos"_s);

    buildRecordSets();
    ScreenLayout::build(this);
    buildLevels();

    // Each level binds its own reactions.
    m_processos = new ProcessosLevel(this);
    m_tarefas = new TarefasLevel(this);
    m_operadores = new OperadoresLevel(this);

    // Browsing until something says otherwise: Confirm and Cancel start disabled.
    setEnabledStates(false, dbgPadrao);
}

TfrmProcessoUnidade::~TfrmProcessoUnidade()
{
    finalize();
}

// ---------------------------------------------------------------------------
// Components

TClientDataSet *TfrmProcessoUnidade::makeRecordSet(const QString &name)
{
    auto *dataSet = new TClientDataSet(this);
    dataSet->setObjectName(name);
    RecordSetDefinitions::apply(dataSet, name);
    return dataSet;
}

void TfrmProcessoUnidade::buildRecordSets()
{
    cdsProcessos = makeRecordSet(u"cdsProcessos"_s);
    cdsTarefas = makeRecordSet(u"cdsTarefas"_s);
    cdsOperadores = makeRecordSet(u"cdsOperadores"_s);
    cdsVdOperadores = makeRecordSet(u"cdsVdOperadores"_s);
    cdsAtividades = makeRecordSet(u"cdsAtividades"_s);
    cdsVerifTarefas = makeRecordSet(u"cdsVerifTarefas"_s);
    cdsProcessosDTINIVIGENCIA = cdsProcessos->FieldByName(u"DTINIVIGENCIA"_s);
    cdsProcessosDTFINVIGENCIA = cdsProcessos->FieldByName(u"DTFINVIGENCIA"_s);

    dtsPadrao->setDataSet(cdsProcessos);
    dtsTarefas = new TDataSource(this);
    dtsTarefas->setObjectName(u"dtsTarefas"_s);
    dtsTarefas->setDataSet(cdsTarefas);
    dtsOperadores = new TDataSource(this);
    dtsOperadores->setObjectName(u"dtsOperadores"_s);
    dtsOperadores->setDataSet(cdsOperadores);

    const LookupQueries::LookupQuerySet lookups = LookupQueries::createAll(this);
    qryVdPeridiocidade = lookups.qryVdPeridiocidade;
    qryVdOperador = lookups.qryVdOperador;
    qryVdGrupoper = lookups.qryVdGrupoper;
    dtsVdPeridiocidade = lookups.dtsVdPeridiocidade;
    dtsVdOperador = lookups.dtsVdOperador;
    dtsVdGrupoper = lookups.dtsVdGrupoper;
}

// ---------------------------------------------------------------------------
// Lifecycle

void TfrmProcessoUnidade::FormCreate(QObject *sender)
{
    TfrmPadraoGrid::FormCreate(sender);
    // The screen opens on the process grid, so the first load already
    // evaluates the commands for it.
    dbgPadrao->setFocus();
    netProcessoUnidade->setConnected(true);
    GetProcessos(false);
    dtAtualServidor = GetDataAtualServidor();
    cdsProcessosDTINIVIGENCIA->setEditMask(DateMask());
    cdsProcessosDTFINVIGENCIA->setEditMask(DateMask());
}

void TfrmProcessoUnidade::FormDestroy(QObject *sender)
{
    TfrmPadraoGrid::FormDestroy(sender);
    // A connection the server already dropped is left alone; a close that
    // leaves it connected is not retried for ever.
    for (int attempt = 0; attempt < 3 && netProcessoUnidade->Connected(); ++attempt) {
        netProcessoUnidade->setConnected(false);
    }
}

void TfrmProcessoUnidade::FormCloseQuery(QObject *sender, bool &canClose)
{
    Q_UNUSED(sender);
    if (!hasPendingChanges()) {
        return;
    }
    // Closing throws the changes away, so it asks what Cancel asks.
    canClose = BaseMessages()->ShowMsg(u"Canc"_s, mtConfirmation, TMsgDlgButtons(mbYes) | mbNo, 0) == mrYes;
    if (canClose) {
        for (TDBGrid *grid : {dbgPadrao, dbgTarefas, dbgOperadores}) {
            grid->cancelEdit();
        }
    }
}

void TfrmProcessoUnidade::netProcessoUnidadeBeforeConnect(QObject *sender)
{
    Q_UNUSED(sender);
    netProcessoUnidade->setHost(WebURL());
    netProcessoUnidade->setPort(WebPort());
}

RpcReply TfrmProcessoUnidade::callServer(const QString &method, const QVariantList &args)
{
    RpcReply reply = netProcessoUnidade->AppServer()->call(method, args);
    CheckResultServ(reply, true, 0);
    return reply;
}

double TfrmProcessoUnidade::GetDataAtualServidor()
{
    const RpcReply reply = callServer(u"GetDataServidor"_s);
    if (reply.isNull()) {
        throw EDatabaseError(formatMessage(msgPadrao->Msg(u"DataInv"_s), QString()));
    }
    // Through the text of the day, as the date rules compare whole days.
    const QString text = DateTime::toQDateTime(reply.number()).toString(u"dd/MM/yyyy"_s);
    const QDate day = QDate::fromString(text, u"dd/MM/yyyy"_s);
    if (!day.isValid()) {
        throw EDatabaseError(formatMessage(msgPadrao->Msg(u"DataInv"_s), text));
    }
    return DateTime::fromDate(day.year(), day.month(), day.day());
}

// ---------------------------------------------------------------------------
// Loading and saving

void TfrmProcessoUnidade::GetProcessos(bool detach)
{
    std::optional<ScopedDetach<TDataSetNotifyEvent>> off;
    if (detach) {
        off.emplace(cdsProcessos->AfterScroll);
    }
    BusyIndicatorScope busy(MainWindow(), 1);
    cdsProcessos->SetData(callServer(u"GetProcessos"_s).packet());
}

void TfrmProcessoUnidade::GetTarefas(double nrProcesso, bool detach)
{
    std::optional<ScopedDetach<TDataSetNotifyEvent>> off;
    if (detach) {
        off.emplace(cdsTarefas->AfterScroll);
    }
    BusyIndicatorScope busy(MainWindow(), 1);
    cdsTarefas->SetData(callServer(u"GetTarefas"_s, {nrProcesso}).packet());
}

void TfrmProcessoUnidade::GetOperadores(double nrAtividade)
{
    BusyIndicatorScope busy(MainWindow(), 1);
    cdsOperadores->SetData(callServer(u"GetOperadores"_s, {nrAtividade}).packet());
    cdsVdOperadores->SetDataFrom(*cdsOperadores);
}

void TfrmProcessoUnidade::buildLevels()
{
    const std::pair<TClientDataSet *, TDBGrid *> parts[] = {
        {cdsProcessos, dbgPadrao}, {cdsTarefas, dbgTarefas}, {cdsOperadores, dbgOperadores}};
    for (int i = 0; i < 3; ++i) {
        LevelRecord &level = m_levels[i];
        const RecordSetDefinitions::Definition definition = RecordSetDefinitions::load(parts[i].first->objectName());
        level.records = parts[i].first;
        level.grid = parts[i].second;
        level.key = definition.key;
        level.table = definition.table;
        level.saveMethod = u"Set"_s + definition.name.mid(3); // cdsTarefas: SetTarefas
        level.parent = i > 0 ? &m_levels[i - 1] : nullptr;
        level.child = i < 2 ? &m_levels[i + 1] : nullptr;
    }
    m_levels[0].load = [this] { GetProcessos(true); };
    m_levels[1].load = [this] { GetTarefas(parentKey(cdsTarefas), true); };
    m_levels[2].load = [this] { GetOperadores(parentKey(cdsOperadores)); };
}

const TfrmProcessoUnidade::LevelRecord *TfrmProcessoUnidade::levelOf(const TClientDataSet *dataSet) const
{
    for (const LevelRecord &level : m_levels) {
        if (dataSet && level.records == dataSet) {
            return &level;
        }
    }
    return nullptr;
}

double TfrmProcessoUnidade::parentKey(const TClientDataSet *level) const
{
    const LevelRecord *record = levelOf(level);
    const LevelRecord *parent = record ? record->parent : nullptr;
    return parent ? currentNumber(parent->records, parent->key).value_or(0) : 0;
}

void TfrmProcessoUnidade::emptyBelow(const TClientDataSet *level)
{
    const LevelRecord *record = levelOf(level);
    for (const LevelRecord *below = record ? record->child : nullptr; below; below = below->child) {
        emptyRecordSet(below->records);
    }
}

double TfrmProcessoUnidade::saveLevel(const LevelRecord &level)
{
    // The top level answers with the key to come back to; a lower one comes
    // back to the current process.
    const bool returnsKey = !level.parent;
    const LevelRecord &top = m_levels[0];
    double result = 0;
    if (!level.records->Active() || level.records->ChangeCount() == 0) {
        return result;
    }
    try {
        {
            BusyIndicatorScope busy(MainWindow(), 1);
            const RpcReply reply = callServer(level.saveMethod, {level.records->GetDelta()});
            if (returnsKey && !reply.isNull()) {
                result = reply.number();
            }
        }
        AtualizaLocalCache({level.table});
        level.records->MergeChangeLog();
        if (!returnsKey) {
            result = currentNumber(top.records, top.key).value_or(0);
        }
    } catch (...) {
        // While browsing (a delete) nothing waits for correction: the level
        // goes back to what the server last gave. While editing the user
        // corrects and confirms again.
        if (!isEditing()) {
            level.records->CancelUpdates();
        }
        throw;
    }
    return result;
}

double TfrmProcessoUnidade::SetProcessos()
{
    return saveLevel(m_levels[0]);
}

double TfrmProcessoUnidade::SetTarefas()
{
    return saveLevel(m_levels[1]);
}

double TfrmProcessoUnidade::SetOperadores()
{
    return saveLevel(m_levels[2]);
}

double TfrmProcessoUnidade::AplicaAlteracoes(TClientDataSet *dataSet)
{
    const LevelRecord *level = levelOf(dataSet);
    return level ? saveLevel(*level) : 0;
}

void TfrmProcessoUnidade::Atualiza(TClientDataSet *dataSet, double key)
{
    const LevelRecord *level = levelOf(dataSet);
    if (!level) {
        return;
    }
    const double position = currentNumber(level->records, level->key).value_or(key);
    level->load();
    level->records->Locate(level->key, position, loCaseInsensitive);
}

// ---------------------------------------------------------------------------
// Edit mode

TDBGrid *TfrmProcessoUnidade::currentGrid() const
{
    // The focused control, or the grid around it (a cell editor lives inside its grid).
    for (QWidget *widget = focusWidget(); widget && widget != this; widget = widget->parentWidget()) {
        if (auto *grid = qobject_cast<TDBGrid *>(widget)) {
            return grid;
        }
    }
    return nullptr;
}

TDBGrid *TfrmProcessoUnidade::requireCurrentGrid() const
{
    TDBGrid *grid = currentGrid();
    if (!grid) {
        throw EDatabaseError(
            u"Selecione uma das grades (processos, tarefas ou operadores) antes de usar este comando."_s);
    }
    return grid;
}

TClientDataSet *TfrmProcessoUnidade::currentDataSet(TDBGrid *grid) const
{
    return grid && grid->DataSource() ? grid->DataSource()->DataSet() : nullptr;
}

bool TfrmProcessoUnidade::isEditing() const
{
    return sbtConfirmar->isEnabledTo(const_cast<TfrmProcessoUnidade *>(this))
           || sbtCancelar->isEnabledTo(const_cast<TfrmProcessoUnidade *>(this));
}

bool TfrmProcessoUnidade::hasPendingChanges() const
{
    bool pending = isEditing();
    for (const TClientDataSet *level : {cdsProcessos, cdsTarefas, cdsOperadores}) {
        pending = pending || inEditOrInsert(level) || (level->Active() && level->ChangeCount() > 0);
    }
    return pending;
}

void TfrmProcessoUnidade::Habilita(bool editing)
{
    TDBGrid *grid = currentGrid();
    if (!grid) {
        return;
    }
    setEnabledStates(editing, grid);
}

void TfrmProcessoUnidade::setEnabledStates(bool editing, TDBGrid *grid)
{
    TClientDataSet *level = currentDataSet(grid);
    const bool empty = isEmptySet(level);
    const bool browsing = !editing;

    mnuConfirmar->setEnabled(editing);
    mnuCancelar->setEnabled(editing);
    mnuIncluir->setEnabled(browsing);
    mnuAlterar->setEnabled(browsing && !empty);
    mnuExcluir->setEnabled(browsing && !empty);
    mnuProcurar->setEnabled(browsing && !empty);
    mnuVerificar->setEnabled(browsing);
    const LevelRecord *record = levelOf(level);
    mnuRedefinir->setEnabled(browsing && record && !record->parent && !empty
                             && level->FieldByName(u"IDSITUACAO"_s)->AsString() == "N"_L1);
    mnuImprimir->setEnabled(false);
    mnuVisualizar->setEnabled(false);

    sbtConfirmar->setEnabled(mnuConfirmar->isEnabled());
    sbtCancelar->setEnabled(mnuCancelar->isEnabled());
    sbtIncluir->setEnabled(mnuIncluir->isEnabled());
    sbtAlterar->setEnabled(mnuAlterar->isEnabled());
    sbtExcluir->setEnabled(mnuExcluir->isEnabled());
    sbtProcurar->setEnabled(mnuProcurar->isEnabled());
    sbtVerificar->setEnabled(mnuVerificar->isEnabled());
    sbtImprimir->setEnabled(mnuImprimir->isEnabled());
    sbtRedefinir->setEnabled(mnuRedefinir->isEnabled());

    navPadrao->setEnabled(grid->DataSource() && grid->DataSource()->State() == TDataSetState::dsBrowse && browsing);
    SetChildEnabled(panSequencia,
                    grid == dbgTarefas && dtsTarefas->State() == TDataSetState::dsBrowse && !isEmptySet(cdsTarefas));

    for (TDBGrid *each : {dbgPadrao, dbgTarefas, dbgOperadores}) {
        if (!editing) {
            each->setEnabled(true);
        } else if (each != grid) {
            each->setEnabled(false);
        }
    }
    dbgTarefas->setOption(dgAlwaysShowSelection, !(grid == dbgPadrao && editing));
}

void TfrmProcessoUnidade::dbgPadraoEnter(QObject *sender)
{
    Q_UNUSED(sender);
    Habilita(false);
}

// ---------------------------------------------------------------------------
// Commands: each acts on the record set of the grid that holds the focus.

void TfrmProcessoUnidade::sbtIncluirClick(QObject *sender)
{
    Q_UNUSED(sender);
    TClientDataSet *level = currentDataSet(requireCurrentGrid());
    if (!level || level->State() != TDataSetState::dsBrowse) {
        return;
    }
    for (TField *field : level->Fields()) {
        if (field->Tag() & 1) {
            field->FocusControl();
            break;
        }
    }
    level->Insert();
}

void TfrmProcessoUnidade::sbtAlterarClick(QObject *sender)
{
    Q_UNUSED(sender);
    TClientDataSet *level = currentDataSet(requireCurrentGrid());
    if (!level || level->State() != TDataSetState::dsBrowse) {
        return;
    }
    const QList<TField *> &fields = level->Fields();
    for (int i = 0; i + 1 < fields.size(); ++i) {
        if (fields.at(i)->Tag() & 1) {
            fields.at(i + 1)->FocusControl();
            break;
        }
    }
    level->Edit();
}

void TfrmProcessoUnidade::sbtExcluirClick(QObject *sender)
{
    Q_UNUSED(sender);
    TDBGrid *grid = requireCurrentGrid();
    TClientDataSet *level = currentDataSet(grid);
    if (!level || level->State() != TDataSetState::dsBrowse) {
        return;
    }
    const LevelRecord *record = levelOf(level);
    const QString key = record && !record->parent ? u"ExclProcesso"_s : u"Excl"_s;
    if (msgPadrao->ShowMsg(key, mtConfirmation, TMsgDlgButtons(mbYes) | mbNo, 0) != mrNo) {
        level->Delete();
    }
}

void TfrmProcessoUnidade::sbtProcurarClick(QObject *sender)
{
    Q_UNUSED(sender);
    TClientDataSet *level = currentDataSet(requireCurrentGrid());
    if (level && level->Active()) {
        Procura(level);
    }
}

void TfrmProcessoUnidade::sbtVerificarClick(QObject *sender)
{
    Q_UNUSED(sender);
    TClientDataSet *level = currentDataSet(requireCurrentGrid());
    if (level && level->State() == TDataSetState::dsBrowse) {
        Atualiza(level, 0);
    }
}

void TfrmProcessoUnidade::sbtCancelarClick(QObject *sender)
{
    Q_UNUSED(sender);
    TClientDataSet *level = currentDataSet(requireCurrentGrid());
    if (inEditOrInsert(level)) {
        // The row being typed goes first; its after-cancel decides the mode.
        level->Cancel();
        return;
    }
    if (BaseMessages()->ShowMsg(u"Canc"_s, mtConfirmation, TMsgDlgButtons(mbYes) | mbNo, 0) == mrYes) {
        Atualiza(level, 0);
        Habilita(false);
    }
}

void TfrmProcessoUnidade::sbtConfirmarClick(QObject *sender)
{
    Q_UNUSED(sender);
    TClientDataSet *level = currentDataSet(requireCurrentGrid());
    RefreshGrid(this);
    if (inEditOrInsert(level)) {
        level->Post();
    }
    const double key = AplicaAlteracoes(level);
    if (const LevelRecord *record = levelOf(level); record && !record->child) {
        reloadKeepingTask(key);
    } else {
        Atualiza(cdsProcessos, key);
    }
    Habilita(false);
}

void TfrmProcessoUnidade::reloadKeepingTask(double key)
{
    const LevelRecord &tasks = m_levels[1];
    const double nrAtividade = currentNumber(tasks.records, tasks.key).value_or(0);
    {
        // The process move must not load the first task's operators; whatever
        // happens, the task reaction is back when the block ends.
        ScopedDetach<TDataSetNotifyEvent> off(cdsTarefas->AfterScroll);
        Atualiza(cdsProcessos, key);
    }
    tasks.records->Locate(tasks.key, nrAtividade, loCaseInsensitive);
}
