#include "TfrmProcessoUnidade.h"

#include <QAction>
#include <QDate>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QScopeGuard>
#include <QVBoxLayout>

#include <optional>

#include "DataFiles.h"
#include "DateTime.h"
#include "Exceptions.h"
#include "FrameworkServices.h"
#include "GridDefinitions.h"
#include "Guard.h"
#include "LookupQueries.h"
#include "MessageFormat.h"
#include "ModalDialogs.h"
#include "RecordSetDefinitions.h"
#include "ScreenIcons.h"
#include "ScreenImage.h"
#include "TButtonFlat.h"
#include "TDBNavigator.h"
#include "TDataSource.h"
#include "TField.h"
#include "TMessages.h"
#include "TNetConnection.h"

using namespace Qt::StringLiterals;

namespace {

// The widths and heights the screen is laid out with (at 96 dpi).
constexpr int kClientWidth = 846;
constexpr int kClientHeight = 496;
constexpr int kProcessPanelHeight = 192;
constexpr int kTitleStripHeight = 25;
constexpr int kTitleTasksX = 8;
constexpr int kTitleOperatorsX = 400;
constexpr int kSequenceStripHeight = 36;
constexpr int kOrderButtonWidth = 94;
constexpr int kOrderButtonHeight = 25;
constexpr int kOperatorPanelWidth = 408;
constexpr int kRedefineWidth = 29;
constexpr int kRedefineHeight = 21;
// A lowered bevel of one pixel and a border of two inside it.
constexpr int kBevel = 1;
constexpr int kBorder = 2;

bool inEditOrInsert(const TClientDataSet *dataSet)
{
    return dataSet
        && (dataSet->State() == TDataSetState::dsEdit || dataSet->State() == TDataSetState::dsInsert);
}

bool isEmptySet(const TClientDataSet *dataSet)
{
    return !dataSet || !dataSet->Active() || dataSet->IsEmpty();
}

// The current row's number field, or nullopt when there is no row or no value.
std::optional<double> currentNumber(const TClientDataSet *dataSet, const QString &fieldName)
{
    if (isEmptySet(dataSet) && !inEditOrInsert(dataSet)) {
        return std::nullopt;
    }
    const TField *field = dataSet->FieldByName(fieldName);
    if (field->IsNull()) {
        return std::nullopt;
    }
    return field->AsFloat();
}

// A data packet out of a checked reply; anything else is a clear error.
QByteArray packetOf(const QVariant &value, const QString &method)
{
    if (value.metaType().id() != QMetaType::QByteArray) {
        throw EDatabaseError(u"Resposta inesperada do servidor para %1: um pacote de dados era esperado."_s.arg(method));
    }
    return value.toByteArray();
}

double numberOf(const QVariant &value, const QString &method)
{
    if (!value.isValid() || value.isNull()) {
        return 0;
    }
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok || value.metaType().id() == QMetaType::QByteArray) {
        throw EDatabaseError(u"Resposta inesperada do servidor para %1: um número era esperado."_s.arg(method));
    }
    return number;
}

QFont boldFont(const QWidget *widget)
{
    QFont font = widget->font();
    font.setBold(true);
    return font;
}

QFrame *makePanel(const QString &name, QWidget *parent)
{
    auto *panel = new QFrame(parent);
    panel->setObjectName(name);
    return panel;
}

} // namespace

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

    buildRecordSets();
    buildLayout();
    bindEvents();
    setFixedSize(kClientWidth, kClientHeight);
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

TDBGrid *TfrmProcessoUnidade::makeLowerGrid(const QString &name, TDataSource *source, QWidget *parent)
{
    auto *grid = new TDBGrid(parent);
    grid->setObjectName(name);
    grid->setDataSource(source);
    QPalette palette = grid->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::ToolTipBase));
    grid->setPalette(palette);
    QFont titleFont(u"Sans Serif"_s);
    titleFont.setStyleHint(QFont::SansSerif);
    titleFont.setPixelSize(11);
    titleFont.setBold(false);
    grid->horizontalHeader()->setFont(titleFont);
    applyGridDefinition(grid, name);
    return grid;
}

void TfrmProcessoUnidade::applyGridDefinition(TDBGrid *grid, const QString &name)
{
    const GridDefinitions::Grid definition = GridDefinitions::load(name);
    TDBGridColumns *columns = grid->Columns();
    columns->Clear();
    for (const GridDefinitions::Column &def : definition.columns) {
        TColumn *column = columns->Add(def.fieldName);
        if (!def.title.isEmpty()) {
            column->setTitle(def.title);
        }
        if (def.width >= 0) {
            column->setWidth(def.width);
        }
        column->setReadOnly(def.readOnly);
        column->setAlignment(def.alignment | Qt::AlignVCenter);
        column->setTitleAlignment(def.titleAlignment | Qt::AlignVCenter);
        if (def.ellipsisButton) {
            column->setButtonStyle(cbsEllipsis);
        }
    }
    if (definition.hasOptions) {
        static const QHash<QString, TDBGridOption> flags{
            {u"editing"_s, dgEditing},         {u"titles"_s, dgTitles},
            {u"columnResize"_s, dgColumnResize}, {u"columnLines"_s, dgColLines},
            {u"rowLines"_s, dgRowLines},       {u"tabs"_s, dgTabs},
            {u"alwaysShowSelection"_s, dgAlwaysShowSelection},
            {u"cancelOnExit"_s, dgCancelOnExit}};
        TDBGridOptions options;
        for (const QString &option : definition.options) {
            options |= flags.value(option);
        }
        grid->setOptions(options);
    }
}

void TfrmProcessoUnidade::buildLayout()
{
    auto *page = qobject_cast<QVBoxLayout *>(Page()->layout());
    page->removeWidget(dbgPadrao);
    page->setSpacing(0);

    // The processes across the whole width, in their own top panel.
    panProcessos = makePanel(u"panProcessos"_s, Page());
    panProcessos->setFixedHeight(kProcessPanelHeight);
    auto *processLayout = new QVBoxLayout(panProcessos);
    processLayout->setContentsMargins(0, 0, 0, 0);
    dbgPadrao->setParent(panProcessos);
    processLayout->addWidget(dbgPadrao);
    applyGridDefinition(dbgPadrao, u"dbgPadrao"_s);
    page->addWidget(panProcessos);

    // The title strip: labels at fixed distances, not laid out.
    panTitulo = makePanel(u"panTitulo"_s, Page());
    panTitulo->setFixedHeight(kTitleStripHeight);
    lblTarefas = new QLabel(u"Tarefas"_s, panTitulo);
    lblTarefas->setObjectName(u"lblTarefas"_s);
    lblOperadores = new QLabel(u"Operadores"_s, panTitulo);
    lblOperadores->setObjectName(u"lblOperadores"_s);
    for (QLabel *label : {lblTarefas, lblOperadores}) {
        label->setFont(boldFont(label));
        label->adjustSize();
    }
    lblTarefas->move(kTitleTasksX, (kTitleStripHeight - lblTarefas->height()) / 2);
    lblOperadores->move(kTitleOperatorsX, (kTitleStripHeight - lblOperadores->height()) / 2);
    page->addWidget(panTitulo);

    auto *lower = new QWidget(Page());
    auto *lowerLayout = new QHBoxLayout(lower);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    lowerLayout->setSpacing(0);
    page->addWidget(lower, 1);

    auto lowered = [](QFrame *panel) {
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setLineWidth(kBevel);
        auto *layout = new QVBoxLayout(panel);
        layout->setContentsMargins(kBorder, kBorder, kBorder, kBorder);
        layout->setSpacing(0);
        return layout;
    };

    // Tasks fill what the operators leave; the ordering strip at their bottom.
    panTarefas = makePanel(u"panTarefas"_s, lower);
    QVBoxLayout *taskLayout = lowered(panTarefas);
    dbgTarefas = makeLowerGrid(u"dbgTarefas"_s, dtsTarefas, panTarefas);
    taskLayout->addWidget(dbgTarefas, 1);
    panSequencia = makePanel(u"panSequencia"_s, panTarefas);
    panSequencia->setFixedHeight(kSequenceStripHeight);
    lblSequencia = new QLabel(u"Sequência"_s, panSequencia);
    lblSequencia->setObjectName(u"lblSequencia"_s);
    lblSequencia->setFont(boldFont(lblSequencia));
    lblSequencia->adjustSize();
    lblSequencia->move(8, (kSequenceStripHeight - lblSequencia->height()) / 2);
    const int buttonTop = (kSequenceStripHeight - kOrderButtonHeight) / 2;
    const int buttonLeft = 8 + lblSequencia->width() + 8;
    sbtTarefaUp = new TButtonFlat(panSequencia);
    sbtTarefaUp->setObjectName(u"sbtTarefaUp"_s);
    sbtTarefaUp->setGlyph(QPixmap::fromImage(ScreenIcons::taskUpGlyph()), 2);
    sbtTarefaDown = new TButtonFlat(panSequencia);
    sbtTarefaDown->setObjectName(u"sbtTarefaDown"_s);
    sbtTarefaDown->setGlyph(QPixmap::fromImage(ScreenIcons::taskDownGlyph()), 2);
    for (TButtonFlat *button : {sbtTarefaUp, sbtTarefaDown}) {
        button->setTransparentColor(ScreenIcons::transparentColor());
        button->setFixedSize(kOrderButtonWidth, kOrderButtonHeight);
    }
    sbtTarefaUp->move(buttonLeft, buttonTop);
    sbtTarefaDown->move(buttonLeft + kOrderButtonWidth, buttonTop);
    taskLayout->addWidget(panSequencia);
    lowerLayout->addWidget(panTarefas, 1);

    panOperadores = makePanel(u"panOperadores"_s, lower);
    panOperadores->setFixedWidth(kOperatorPanelWidth);
    QVBoxLayout *operatorLayout = lowered(panOperadores);
    dbgOperadores = makeLowerGrid(u"dbgOperadores"_s, dtsOperadores, panOperadores);
    operatorLayout->addWidget(dbgOperadores);
    lowerLayout->addWidget(panOperadores);

    // The redefinition command: a toolbar button and the sixth maintenance item.
    sbtRedefinir = new TButtonFlat(panPadrao);
    sbtRedefinir->setObjectName(u"sbtRedefinir"_s);
    sbtRedefinir->setFixedSize(kRedefineWidth, kRedefineHeight);
    sbtRedefinir->setHint(u"Redefinir Atividades"_s);
    sbtRedefinir->setGlyph(QPixmap::fromImage(ScreenIcons::recalc()));
    sbtRedefinir->setTransparentColor(ScreenIcons::transparentColor());
    sbtRedefinir->setEnabled(false);
    addToolButton(sbtRedefinir);
    mnuRedefinir = new QAction(u"&Redefinir Atividades"_s, this);
    mnuRedefinir->setObjectName(u"mnuRedefinir"_s);
    mnuRedefinir->setShortcut(QKeySequence(Qt::Key_F6));
    mnuRedefinir->setEnabled(false);
    const QList<QAction *> items = mnuManutencao->actions();
    mnuManutencao->insertAction(items.size() > 5 ? items.at(5) : nullptr, mnuRedefinir);

    setNavigatorField(u"NMPROCESSOFILIAL"_s);

    // Pictures the grids copy into their cells; never shown themselves.
    imgObs = new ScreenImage(u"imgObs"_s, ScreenIcons::obs(), panPadrao);
    imgChecked = new ScreenImage(u"imgChecked"_s, ScreenIcons::checked(), panPadrao);
    imgUnchecked = new ScreenImage(u"imgUnchecked"_s, ScreenIcons::unchecked(), panPadrao);
    imgOK = new ScreenImage(u"imgOK"_s, ScreenIcons::ok(), panPadrao);
    imgRecalc = new ScreenImage(u"imgRecalc"_s, ScreenIcons::recalc(), panPadrao);
}

void TfrmProcessoUnidade::attachProcessosAfterScroll()
{
    cdsProcessos->AfterScroll = [this](TClientDataSet *dataSet) { cdsProcessosAfterScroll(dataSet); };
}

void TfrmProcessoUnidade::attachTarefasAfterScroll()
{
    cdsTarefas->AfterScroll = [this](TClientDataSet *dataSet) { cdsTarefasAfterScroll(dataSet); };
}

void TfrmProcessoUnidade::attachTarefasGetText(bool attach)
{
    TField *field = cdsTarefas->FieldByName(u"CDPERIENTR"_s);
    if (attach) {
        field->OnGetText = [this](TField *f, QString &text, bool display) { cdsTarefasCDPERIENTRGetText(f, text, display); };
    } else {
        field->OnGetText = nullptr;
    }
}

void TfrmProcessoUnidade::attachOperadoresGetText(bool attach)
{
    TField *operatorCode = cdsOperadores->FieldByName(u"CDOPERADOR"_s);
    TField *groupCode = cdsOperadores->FieldByName(u"CDGRUPOPER"_s);
    if (attach) {
        operatorCode->OnGetText = [this](TField *f, QString &text, bool display) {
            cdsOperadoresCDOPERADORGetText(f, text, display);
        };
        groupCode->OnGetText = [this](TField *f, QString &text, bool display) {
            cdsOperadoresCDGRUPOPERGetText(f, text, display);
        };
    } else {
        operatorCode->OnGetText = nullptr;
        groupCode->OnGetText = nullptr;
    }
}

void TfrmProcessoUnidade::bindEvents()
{
    netProcessoUnidade->BeforeConnect = [this](QObject *sender) { netProcessoUnidadeBeforeConnect(sender); };

    cdsProcessos->AfterOpen = [this](TClientDataSet *ds) { cdsProcessosAfterOpen(ds); };
    cdsProcessos->BeforeInsert = [this](TClientDataSet *ds) { cdsProcessosBeforeInsert(ds); };
    cdsProcessos->AfterInsert = [this](TClientDataSet *ds) { cdsProcessosAfterInsert(ds); };
    cdsProcessos->BeforeEdit = [this](TClientDataSet *ds) { cdsProcessosBeforeEdit(ds); };
    cdsProcessos->BeforePost = [this](TClientDataSet *ds) { cdsProcessosBeforePost(ds); };
    cdsProcessos->AfterCancel = [this](TClientDataSet *ds) { cdsProcessosAfterCancel(ds); };
    cdsProcessos->BeforeDelete = [this](TClientDataSet *ds) { cdsProcessosBeforeDelete(ds); };
    cdsProcessos->AfterDelete = [this](TClientDataSet *ds) { cdsProcessosAfterDelete(ds); };
    cdsProcessos->OnCalcFields = [this](TClientDataSet *ds) { cdsProcessosCalcFields(ds); };
    cdsProcessosDTINIVIGENCIA->OnSetText = [this](TField *f, const QString &text) {
        cdsProcessosDTINIVIGENCIASetText(f, text);
    };
    cdsProcessosDTFINVIGENCIA->OnSetText = [this](TField *f, const QString &text) {
        cdsProcessosDTFINVIGENCIASetText(f, text);
    };
    attachProcessosAfterScroll();

    cdsTarefas->AfterOpen = [this](TClientDataSet *ds) { cdsTarefasAfterOpen(ds); };
    cdsTarefas->BeforeInsert = [this](TClientDataSet *ds) { cdsTarefasBeforeInsert(ds); };
    cdsTarefas->AfterInsert = [this](TClientDataSet *ds) { cdsTarefasAfterInsert(ds); };
    cdsTarefas->BeforeEdit = [this](TClientDataSet *ds) { cdsTarefasBeforeEdit(ds); };
    cdsTarefas->AfterEdit = [this](TClientDataSet *ds) { cdsTarefasAfterEdit(ds); };
    cdsTarefas->BeforePost = [this](TClientDataSet *ds) { cdsTarefasBeforePost(ds); };
    cdsTarefas->AfterCancel = [this](TClientDataSet *ds) { cdsTarefasAfterCancel(ds); };
    cdsTarefas->BeforeDelete = [this](TClientDataSet *ds) { cdsTarefasBeforeDelete(ds); };
    cdsTarefas->AfterDelete = [this](TClientDataSet *ds) { cdsTarefasAfterDelete(ds); };
    attachTarefasAfterScroll();
    attachTarefasGetText(true);
    attachOperadoresGetText(true);

    // The working copy carries the operator handlers too; they always act on
    // cdsOperadores and its grid, whichever record set fired them.
    for (TClientDataSet *ds : {cdsOperadores, cdsVdOperadores}) {
        ds->AfterOpen = [this](TClientDataSet *s) { cdsOperadoresAfterOpen(s); };
        ds->BeforeInsert = [this](TClientDataSet *s) { cdsOperadoresBeforeInsert(s); };
        ds->AfterInsert = [this](TClientDataSet *s) { cdsOperadoresAfterInsert(s); };
        ds->BeforeEdit = [this](TClientDataSet *s) { cdsOperadoresBeforeEdit(s); };
        ds->AfterEdit = [this](TClientDataSet *s) { cdsOperadoresAfterEdit(s); };
        ds->BeforePost = [this](TClientDataSet *s) { cdsOperadoresBeforePost(s); };
        ds->AfterCancel = [this](TClientDataSet *s) { cdsOperadoresAfterCancel(s); };
        ds->AfterDelete = [this](TClientDataSet *s) { cdsOperadoresAfterDelete(s); };
        ds->AfterScroll = [this](TClientDataSet *s) { cdsOperadoresAfterScroll(s); };
    }

    dbgPadrao->OnColEnter = [this](QObject *s) { dbgPadraoColEnter(s); };
    dbgPadrao->OnColExit = [this](QObject *s) { dbgPadraoColExit(s); };
    dbgPadrao->OnDrawColumnCell = [this](QObject *s, QPainter &p, const QRect &r, int c, TColumn *col,
                                         TGridDrawState st) { dbgPadraoDrawColumnCell(s, p, r, c, col, st); };

    dbgTarefas->OnEnter = [this](QObject *s) { dbgTarefasEnter(s); };
    dbgTarefas->OnColEnter = [this](QObject *s) { dbgTarefasColEnter(s); };
    dbgTarefas->OnColExit = [this](QObject *s) { dbgTarefasColExit(s); };
    dbgTarefas->OnDrawColumnCell = [this](QObject *s, QPainter &p, const QRect &r, int c, TColumn *col,
                                          TGridDrawState st) { dbgTarefasDrawColumnCell(s, p, r, c, col, st); };
    dbgTarefas->OnEditButtonClick = [this](QObject *s) { dbgTarefasEditButtonClick(s); };
    dbgTarefas->OnDblClick = [this](QObject *s) { dbgTarefasDblClick(s); };
    dbgTarefas->OnKeyDown = [this](QObject *s, quint16 &key, Qt::KeyboardModifiers shift) {
        dbgTarefasKeyDown(s, key, shift);
    };

    dbgOperadores->OnEnter = [this](QObject *s) { dbgOperadoresEnter(s); };
    dbgOperadores->OnColEnter = [this](QObject *s) { dbgOperadoresColEnter(s); };
    dbgOperadores->OnColExit = [this](QObject *s) { dbgOperadoresColExit(s); };
    dbgOperadores->OnDrawColumnCell = [this](QObject *s, QPainter &p, const QRect &r, int c, TColumn *col,
                                             TGridDrawState st) { dbgOperadoresDrawColumnCell(s, p, r, c, col, st); };
    dbgOperadores->OnEditButtonClick = [this](QObject *s) { dbgOperadoresEditButtonClick(s); };
    dbgOperadores->OnDblClick = [this](QObject *s) { dbgOperadoresDblClick(s); };
    dbgOperadores->OnKeyDown = [this](QObject *s, quint16 &key, Qt::KeyboardModifiers shift) {
        dbgOperadoresKeyDown(s, key, shift);
    };
    dbgOperadores->OnKeyPress = [this](QObject *s, QChar &key) { dbgOperadoresKeyPress(s, key); };

    connect(sbtRedefinir, &QToolButton::clicked, this,
            [this] { guarded(this, [this] { sbtRedefinirClick(sbtRedefinir); }); });
    connect(sbtTarefaUp, &QToolButton::clicked, this,
            [this] { guarded(this, [this] { sbtTarefaUpClick(sbtTarefaUp); }); });
    connect(sbtTarefaDown, &QToolButton::clicked, this,
            [this] { guarded(this, [this] { sbtTarefaDownClick(sbtTarefaDown); }); });
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

void TfrmProcessoUnidade::netProcessoUnidadeBeforeConnect(QObject *sender)
{
    Q_UNUSED(sender);
    netProcessoUnidade->setHost(WebURL());
    netProcessoUnidade->setPort(WebPort());
}

double TfrmProcessoUnidade::GetDataAtualServidor()
{
    const QString method = u"GetDataServidor"_s;
    const QVariant value = CheckResultServ(netProcessoUnidade->AppServer()->call(method), true, 0);
    const double serverNow = numberOf(value, method);
    // Through the text of the day, as the date rules compare whole days.
    const QString text = DateTime::toQDateTime(serverNow).toString(u"dd/MM/yyyy"_s);
    const QDate day = QDate::fromString(text, u"dd/MM/yyyy"_s);
    if (!value.isValid() || !day.isValid()) {
        throw EDatabaseError(formatMessage(msgPadrao->Msg(u"DataInv"_s), text.isEmpty() ? value.toString() : text));
    }
    return DateTime::fromDate(day.year(), day.month(), day.day());
}

// ---------------------------------------------------------------------------
// Loading and saving

void TfrmProcessoUnidade::GetProcessos(bool detach)
{
    auto reattach = qScopeGuard([this] { attachProcessosAfterScroll(); });
    if (detach) {
        cdsProcessos->AfterScroll = nullptr;
    }
    BusyIndicatorScope busy(MainWindow(), 1);
    const QString method = u"GetProcessos"_s;
    const QVariant value = CheckResultServ(netProcessoUnidade->AppServer()->call(method), true, 0);
    cdsProcessos->SetData(packetOf(value, method));
}

void TfrmProcessoUnidade::GetTarefas(double nrProcesso, bool detach)
{
    auto reattach = qScopeGuard([this] { attachTarefasAfterScroll(); });
    if (detach) {
        cdsTarefas->AfterScroll = nullptr;
    }
    BusyIndicatorScope busy(MainWindow(), 1);
    const QString method = u"GetTarefas"_s;
    const QVariant value =
        CheckResultServ(netProcessoUnidade->AppServer()->call(method, QVariantList{nrProcesso}), true, 0);
    cdsTarefas->SetData(packetOf(value, method));
}

void TfrmProcessoUnidade::GetOperadores(double nrAtividade)
{
    BusyIndicatorScope busy(MainWindow(), 1);
    const QString method = u"GetOperadores"_s;
    const QVariant value =
        CheckResultServ(netProcessoUnidade->AppServer()->call(method, QVariantList{nrAtividade}), true, 0);
    cdsOperadores->SetData(packetOf(value, method));
    cdsVdOperadores->SetData(cdsOperadores->GetData());
}

double TfrmProcessoUnidade::saveLevel(TClientDataSet *level, const QString &method, const QString &table,
                                      bool returnsKey)
{
    double result = 0;
    if (!level->Active() || level->ChangeCount() == 0) {
        return result;
    }
    try {
        {
            BusyIndicatorScope busy(MainWindow(), 1);
            const QVariant value = CheckResultServ(
                netProcessoUnidade->AppServer()->call(method, QVariantList{level->GetDelta()}), true, 0);
            if (returnsKey) {
                result = numberOf(value, method);
            }
        }
        AtualizaLocalCache({table});
        level->MergeChangeLog();
        if (!returnsKey) {
            result = currentNumber(cdsProcessos, u"NRPROCESSOFILIAL"_s).value_or(0);
        }
    } catch (...) {
        // While browsing (a delete) nothing waits for correction: the level
        // goes back to what the server last gave. While editing the user
        // corrects and confirms again.
        if (!isEditing()) {
            level->CancelUpdates();
        }
        throw;
    }
    return result;
}

double TfrmProcessoUnidade::SetProcessos()
{
    return saveLevel(cdsProcessos, u"SetProcessos"_s, u"PROCESSOFILIAL"_s, true);
}

double TfrmProcessoUnidade::SetTarefas()
{
    return saveLevel(cdsTarefas, u"SetTarefas"_s, u"ATIVIDADEFILIAL"_s, false);
}

double TfrmProcessoUnidade::SetOperadores()
{
    return saveLevel(cdsOperadores, u"SetOperadores"_s, u"RESPATIVFILIAL"_s, false);
}

double TfrmProcessoUnidade::AplicaAlteracoes(TClientDataSet *dataSet)
{
    const QString name = dataSet ? dataSet->objectName() : QString();
    if (name == "cdsProcessos"_L1) {
        return SetProcessos();
    }
    if (name == "cdsTarefas"_L1) {
        return SetTarefas();
    }
    if (name == "cdsOperadores"_L1) {
        return SetOperadores();
    }
    return 0;
}

void TfrmProcessoUnidade::Atualiza(TClientDataSet *dataSet, double key)
{
    if (!dataSet) {
        return;
    }
    const QString name = dataSet->objectName();
    if (name == "cdsProcessos"_L1) {
        const double position = currentNumber(cdsProcessos, u"NRPROCESSOFILIAL"_s).value_or(key);
        GetProcessos(true);
        cdsProcessos->Locate(u"NRPROCESSOFILIAL"_s, position, loCaseInsensitive);
    } else if (name == "cdsTarefas"_L1) {
        const double position = currentNumber(cdsTarefas, u"NRATIVIDADEFILIAL"_s).value_or(key);
        GetTarefas(currentNumber(cdsProcessos, u"NRPROCESSOFILIAL"_s).value_or(0), true);
        cdsTarefas->Locate(u"NRATIVIDADEFILIAL"_s, position, loCaseInsensitive);
    } else if (name == "cdsOperadores"_L1) {
        const double position = currentNumber(cdsOperadores, u"NRRESPATIVFILIAL"_s).value_or(key);
        GetOperadores(currentNumber(cdsTarefas, u"NRATIVIDADEFILIAL"_s).value_or(0));
        cdsOperadores->Locate(u"NRRESPATIVFILIAL"_s, position, loCaseInsensitive);
    }
}

void TfrmProcessoUnidade::emptyRecordSet(TClientDataSet *dataSet)
{
    if (!dataSet->Active()) {
        dataSet->CreateDataSet();
    } else {
        dataSet->EmptyDataSet();
    }
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
        throw EDatabaseError(u"Selecione uma das grades (processos, tarefas ou operadores) antes de usar este comando."_s);
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
    mnuRedefinir->setEnabled(browsing && level && level->objectName() == "cdsProcessos"_L1 && !empty
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
    SetChildEnabled(panSequencia, grid == dbgTarefas && dtsTarefas->State() == TDataSetState::dsBrowse
                                      && !isEmptySet(cdsTarefas));

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

void TfrmProcessoUnidade::dbgTarefasEnter(QObject *sender)
{
    Q_UNUSED(sender);
    Habilita(false);
}

void TfrmProcessoUnidade::dbgOperadoresEnter(QObject *sender)
{
    Q_UNUSED(sender);
    Habilita(false);
}

void TfrmProcessoUnidade::dtsPadraoStateChange(QObject *sender)
{
    // Only Habilita sets enabled states on this screen.
    Q_UNUSED(sender);
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
    const QString key = grid->objectName() == "dbgPadrao"_L1 ? u"ExclProcesso"_s : u"Excl"_s;
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
    const bool operators = level && level->objectName() == "cdsOperadores"_L1;
    {
        // Whatever happens below, the task reaction ends attached.
        auto reattach = qScopeGuard([this] { attachTarefasAfterScroll(); });
        double nrAtividade = 0;
        if (operators) {
            cdsTarefas->AfterScroll = nullptr;
            nrAtividade = currentNumber(cdsTarefas, u"NRATIVIDADEFILIAL"_s).value_or(0);
        }
        Atualiza(cdsProcessos, key);
        if (operators) {
            attachTarefasAfterScroll();
            cdsTarefas->Locate(u"NRATIVIDADEFILIAL"_s, nrAtividade, loCaseInsensitive);
        }
    }
    Habilita(false);
}

void TfrmProcessoUnidade::sbtRedefinirClick(QObject *sender)
{
    Q_UNUSED(sender);
    {
        BusyIndicatorScope busy(MainWindow(), 1);
        CheckResultServ(netProcessoUnidade->AppServer()->call(
                            u"RedefinirAtividadesDia"_s,
                            QVariantList{cdsProcessos->FieldByName(u"NRPROCESSOFILIAL"_s)->AsString(), Operador()}),
                        true, 0);
    }
    Atualiza(cdsProcessos, 0);
    ModalDialogs::messageBox(msgPadrao->Msg(u"RedefSucess"_s), mtInformation, mbOK, {}, this);
}

void TfrmProcessoUnidade::sbtTarefaUpClick(QObject *sender)
{
    // Task ordering is built on the task rules; it does nothing until they are.
    Q_UNUSED(sender);
}

void TfrmProcessoUnidade::sbtTarefaDownClick(QObject *)
{
}

// ---------------------------------------------------------------------------
// Process records

void TfrmProcessoUnidade::cdsProcessosAfterOpen(TClientDataSet *dataSet)
{
    Q_UNUSED(dataSet);
    if (currentGrid() == dbgPadrao) {
        Habilita(false);
    }
    if (isEmptySet(cdsProcessos)) {
        emptyRecordSet(cdsTarefas);
    }
}

void TfrmProcessoUnidade::cdsProcessosAfterScroll(TClientDataSet *dataSet)
{
    Q_UNUSED(dataSet);
    if (cdsProcessos->State() != TDataSetState::dsBrowse) {
        return;
    }
    const std::optional<double> nrProcesso = currentNumber(cdsProcessos, u"NRPROCESSOFILIAL"_s);
    if (!nrProcesso) {
        emptyRecordSet(cdsTarefas);
        emptyRecordSet(cdsOperadores);
    } else {
        GetTarefas(*nrProcesso, false);
    }
    if (!isEditing()) {
        Habilita(false);
    }
}

void TfrmProcessoUnidade::cdsProcessosBeforeInsert(TClientDataSet *dataSet)
{
    Q_UNUSED(dataSet);
    Habilita(true);
    if (!isEmptySet(cdsProcessos)) {
        cdsProcessos->FieldByName(u"NMPROCESSOFILIAL"_s)->FocusControl();
    }
}

void TfrmProcessoUnidade::cdsProcessosAfterInsert(TClientDataSet *dataSet)
{
    Q_UNUSED(dataSet);
    emptyRecordSet(cdsTarefas);
    emptyRecordSet(cdsOperadores);
    cdsProcessos->FieldByName(u"IDSITUACAO"_s)->setAsString(u"S"_s);
    cdsProcessosDTINIVIGENCIA->setAsDateTime(dtAtualServidor + 1);
}

void TfrmProcessoUnidade::cdsProcessosBeforeEdit(TClientDataSet *dataSet)
{
    Q_UNUSED(dataSet);
    Habilita(true);
}

void TfrmProcessoUnidade::cdsProcessosBeforePost(TClientDataSet *dataSet)
{
    Q_UNUSED(dataSet);
    ValidaProcessos();
    cdsProcessos->FieldByName(u"CDOPERATU"_s)->setAsString(Operador());
}

void TfrmProcessoUnidade::ValidaProcessos()
{
    TField *name = cdsProcessos->FieldByName(u"NMPROCESSOFILIAL"_s);
    if (EmptyString(name->AsString())) {
        name->FocusControl();
        MensErro(msgPadrao->Msg(u"NmProcessoNull"_s), true);
    }
}

void TfrmProcessoUnidade::cdsProcessosDTINIVIGENCIASetText(TField *sender, const QString &text)
{
    // The field's own reading of the typed date until the validity rules take over.
    sender->setAsString(text);
}

void TfrmProcessoUnidade::cdsProcessosDTFINVIGENCIASetText(TField *sender, const QString &text)
{
    sender->setAsString(text);
}

void TfrmProcessoUnidade::cdsProcessosAfterCancel(TClientDataSet *dataSet)
{
    Q_UNUSED(dataSet);
    if (cdsProcessos->ChangeCount() == 0) {
        Habilita(false);
    }
}

void TfrmProcessoUnidade::cdsProcessosBeforeDelete(TClientDataSet *dataSet)
{
    Q_UNUSED(dataSet);
    boExcluiAtividades = false;
    nrProcessoExcl = cdsProcessos->FieldByName(u"NRPROCESSOFILIAL"_s)->AsString();
}

void TfrmProcessoUnidade::cdsProcessosAfterDelete(TClientDataSet *dataSet)
{
    Q_UNUSED(dataSet);
    if (boExcluiAtividades) {
        // Pending activities go before the process itself.
        CheckResultServ(netProcessoUnidade->AppServer()->call(u"SetAtividades"_s, QVariantList{nrProcessoExcl}),
                        true, 0);
    }
    SetProcessos();
    sbtVerificarClick(this);
    Habilita(false);
}

void TfrmProcessoUnidade::cdsProcessosCalcFields(TClientDataSet *dataSet)
{
    Q_UNUSED(dataSet);
    const QString name = cdsProcessos->FieldByName(u"NMOPERADOR"_s)->AsString();
    if (EmptyString(name)) {
        return;
    }
    const double when = cdsProcessos->FieldByName(u"DTATUALIZACAO"_s)->AsDateTime();
    cdsProcessos->FieldByName(u"ULTATU"_s)
        ->setAsString(name + u" - "_s + DateTime::toQDateTime(when).toString(u"dd/MM/yyyy HH:mm:ss"_s));
}

void TfrmProcessoUnidade::dbgPadraoDrawColumnCell(QObject *, QPainter &, const QRect &, int,
                                                  TColumn *, TGridDrawState)
{
}

void TfrmProcessoUnidade::dbgPadraoColEnter(QObject *)
{
}

void TfrmProcessoUnidade::dbgPadraoColExit(QObject *)
{
}

void TfrmProcessoUnidade::dbgPadraoKeyDown(QObject *sender, quint16 &key, Qt::KeyboardModifiers shift)
{
    TfrmPadraoGrid::dbgPadraoKeyDown(sender, key, shift);
}

void TfrmProcessoUnidade::dbgPadraoKeyPress(QObject *sender, QChar &key)
{
    TfrmPadraoGrid::dbgPadraoKeyPress(sender, key);
}

// ---------------------------------------------------------------------------
// Task records

void TfrmProcessoUnidade::cdsTarefasAfterOpen(TClientDataSet *dataSet)
{
    Q_UNUSED(dataSet);
    if (currentGrid() == dbgTarefas) {
        Habilita(false);
    }
    if (isEmptySet(cdsTarefas)) {
        emptyRecordSet(cdsOperadores);
    }
}

void TfrmProcessoUnidade::cdsTarefasAfterScroll(TClientDataSet *dataSet)
{
    Q_UNUSED(dataSet);
    if (cdsTarefas->State() == TDataSetState::dsBrowse) {
        const std::optional<double> nrAtividade = currentNumber(cdsTarefas, u"NRATIVIDADEFILIAL"_s);
        if (!nrAtividade) {
            emptyRecordSet(cdsOperadores);
        } else {
            GetOperadores(*nrAtividade);
        }
    }
    dbgTarefas->setTag(cdsTarefas->RecNo());
}

void TfrmProcessoUnidade::cdsTarefasBeforeInsert(TClientDataSet *dataSet)
{
    Q_UNUSED(dataSet);
    if (isEmptySet(cdsProcessos)) {
        Abort();
    }
    Habilita(true);
    attachTarefasGetText(false);
    try {
        if (isEmptySet(cdsTarefas)) {
            nrProxOrdem = 1;
        } else {
            // The move loads the last task's operators; the new row empties them.
            cdsTarefas->Last();
            nrProxOrdem = qint32(cdsTarefas->FieldByName(u"NRORDENAATIVIDADE"_s)->AsFloat()) + 1;
            cdsTarefas->FieldByName(u"NMATIVIDADEFILIAL"_s)->FocusControl();
        }
    } catch (...) {
        // No insert follows, so nothing else would attach the handler again.
        attachTarefasGetText(true);
        throw;
    }
}

void TfrmProcessoUnidade::cdsTarefasAfterInsert(TClientDataSet *dataSet)
{
    Q_UNUSED(dataSet);
    cdsTarefas->FieldByName(u"NRORDENAATIVIDADE"_s)->setAsFloat(nrProxOrdem);
    // A temporary key until the server gives the real one; the count leaves the new row out.
    cdsTarefas->FieldByName(u"NRATIVIDADEFILIAL"_s)->setAsFloat(-double(cdsTarefas->RecordCount() + 1));
    attachTarefasGetText(true);
    emptyRecordSet(cdsOperadores);
}

void TfrmProcessoUnidade::cdsTarefasBeforeEdit(TClientDataSet *dataSet)
{
    Q_UNUSED(dataSet);
    if (isEmptySet(cdsProcessos)) {
        Abort();
    }
    Habilita(true);
    attachTarefasGetText(false);
}

void TfrmProcessoUnidade::cdsTarefasAfterEdit(TClientDataSet *dataSet)
{
    Q_UNUSED(dataSet);
    attachTarefasGetText(true);
}

void TfrmProcessoUnidade::cdsTarefasBeforePost(TClientDataSet *dataSet)
{
    Q_UNUSED(dataSet);
    ValidaTarefas();
    cdsTarefas->FieldByName(u"NRPROCESSOFILIAL"_s)
        ->setAsFloat(currentNumber(cdsProcessos, u"NRPROCESSOFILIAL"_s).value_or(0));
    TField *module = cdsTarefas->FieldByName(u"CDMODULOATIVIDADE"_s);
    if (!EmptyString(module->AsString())) {
        module->setAsString(module->AsString().toUpper());
    }
    cdsTarefas->FieldByName(u"CDOPERATU"_s)->setAsString(Operador());
}

void TfrmProcessoUnidade::ValidaTarefas()
{
    TField *description = cdsTarefas->FieldByName(u"NMATIVIDADEFILIAL"_s);
    if (EmptyString(description->AsString())) {
        description->FocusControl();
        MensErro(msgPadrao->Msg(u"NmTarefaNull"_s), true);
    }
}

void TfrmProcessoUnidade::cdsTarefasCDPERIENTRGetText(TField *sender, QString &text, bool displayText)
{
    // The code as stored until the periodicity names are looked up.
    Q_UNUSED(sender);
    Q_UNUSED(text);
    Q_UNUSED(displayText);
}

void TfrmProcessoUnidade::cdsTarefasAfterCancel(TClientDataSet *dataSet)
{
    Q_UNUSED(dataSet);
    if (cdsTarefas->ChangeCount() == 0) {
        Habilita(false);
    }
}

void TfrmProcessoUnidade::cdsTarefasBeforeDelete(TClientDataSet *)
{
}

void TfrmProcessoUnidade::cdsTarefasAfterDelete(TClientDataSet *dataSet)
{
    Q_UNUSED(dataSet);
    SetTarefas();
    Habilita(false);
    Atualiza(cdsProcessos, 0);
}

void TfrmProcessoUnidade::dbgTarefasColEnter(QObject *)
{
}

void TfrmProcessoUnidade::dbgTarefasColExit(QObject *)
{
}

void TfrmProcessoUnidade::dbgTarefasDrawColumnCell(QObject *, QPainter &, const QRect &, int,
                                                   TColumn *, TGridDrawState)
{
}

void TfrmProcessoUnidade::dbgTarefasEditButtonClick(QObject *)
{
}

void TfrmProcessoUnidade::dbgTarefasDblClick(QObject *)
{
}

void TfrmProcessoUnidade::dbgTarefasKeyDown(QObject *, quint16 &, Qt::KeyboardModifiers)
{
}

// ---------------------------------------------------------------------------
// Operator records (the handlers also serve the working copy)

void TfrmProcessoUnidade::cdsOperadoresAfterOpen(TClientDataSet *dataSet)
{
    Q_UNUSED(dataSet);
    if (currentGrid() == dbgOperadores) {
        Habilita(false);
    }
}

void TfrmProcessoUnidade::cdsOperadoresAfterScroll(TClientDataSet *dataSet)
{
    Q_UNUSED(dataSet);
    dbgOperadores->setTag(cdsOperadores->RecNo());
}

void TfrmProcessoUnidade::cdsOperadoresBeforeInsert(TClientDataSet *dataSet)
{
    Q_UNUSED(dataSet);
    if (isEmptySet(cdsTarefas)) {
        Abort();
    }
    Habilita(true);
    cdsVdOperadores->SetData(cdsOperadores->GetData());
    attachOperadoresGetText(false);
    if (!isEmptySet(cdsOperadores)) {
        cdsOperadores->FieldByName(u"CDOPERADOR"_s)->FocusControl();
    }
}

void TfrmProcessoUnidade::cdsOperadoresAfterInsert(TClientDataSet *dataSet)
{
    Q_UNUSED(dataSet);
    cdsOperadores->FieldByName(u"IDEXECUTA"_s)->setAsString(u"N"_s);
    cdsOperadores->FieldByName(u"IDVALIDA"_s)->setAsString(u"N"_s);
    cdsOperadores->FieldByName(u"NRRESPATIVFILIAL"_s)->setAsFloat(-double(cdsOperadores->RecordCount() + 1));
    attachOperadoresGetText(true);
    Habilita(true);
}

void TfrmProcessoUnidade::cdsOperadoresBeforeEdit(TClientDataSet *dataSet)
{
    Q_UNUSED(dataSet);
    if (isEmptySet(cdsTarefas)) {
        Abort();
    }
    Habilita(true);
    cdsVdOperadores->SetData(cdsOperadores->GetData());
    attachOperadoresGetText(false);
}

void TfrmProcessoUnidade::cdsOperadoresAfterEdit(TClientDataSet *dataSet)
{
    Q_UNUSED(dataSet);
    Habilita(true);
    attachOperadoresGetText(true);
}

void TfrmProcessoUnidade::cdsOperadoresBeforePost(TClientDataSet *dataSet)
{
    Q_UNUSED(dataSet);
    ValidaOperadores();
    cdsOperadores->FieldByName(u"NRPROCESSOFILIAL"_s)
        ->setAsFloat(currentNumber(cdsProcessos, u"NRPROCESSOFILIAL"_s).value_or(0));
    cdsOperadores->FieldByName(u"NRATIVIDADEFILIAL"_s)
        ->setAsFloat(currentNumber(cdsTarefas, u"NRATIVIDADEFILIAL"_s).value_or(0));
    cdsOperadores->FieldByName(u"CDOPERATU"_s)->setAsString(Operador());
}

void TfrmProcessoUnidade::ValidaOperadores()
{
    TField *operatorCode = cdsOperadores->FieldByName(u"CDOPERADOR"_s);
    if (EmptyString(operatorCode->AsString()) && EmptyString(cdsOperadores->FieldByName(u"CDGRUPOPER"_s)->AsString())) {
        operatorCode->FocusControl();
        MensErro(msgPadrao->Msg(u"CdOpGrupopNull"_s), true);
    }
}

void TfrmProcessoUnidade::cdsOperadoresCDOPERADORGetText(TField *sender, QString &text, bool displayText)
{
    // The code as stored until the operator names are looked up.
    Q_UNUSED(sender);
    Q_UNUSED(text);
    Q_UNUSED(displayText);
}

void TfrmProcessoUnidade::cdsOperadoresCDGRUPOPERGetText(TField *, QString &, bool)
{
}

void TfrmProcessoUnidade::cdsOperadoresAfterCancel(TClientDataSet *dataSet)
{
    Q_UNUSED(dataSet);
    if (cdsOperadores->ChangeCount() == 0) {
        Habilita(false);
    }
}

void TfrmProcessoUnidade::cdsOperadoresAfterDelete(TClientDataSet *dataSet)
{
    Q_UNUSED(dataSet);
    SetOperadores();
    Habilita(false);
    // Back on the same task once the levels above are reloaded.
    auto reattach = qScopeGuard([this] { attachTarefasAfterScroll(); });
    cdsTarefas->AfterScroll = nullptr;
    const double nrAtividade = currentNumber(cdsTarefas, u"NRATIVIDADEFILIAL"_s).value_or(0);
    Atualiza(cdsProcessos, 0);
    attachTarefasAfterScroll();
    cdsTarefas->Locate(u"NRATIVIDADEFILIAL"_s, nrAtividade, loCaseInsensitive);
}

void TfrmProcessoUnidade::dbgOperadoresColEnter(QObject *)
{
}

void TfrmProcessoUnidade::dbgOperadoresColExit(QObject *)
{
}

void TfrmProcessoUnidade::dbgOperadoresDrawColumnCell(QObject *, QPainter &, const QRect &,
                                                      int, TColumn *, TGridDrawState)
{
}

void TfrmProcessoUnidade::dbgOperadoresEditButtonClick(QObject *)
{
}

void TfrmProcessoUnidade::dbgOperadoresDblClick(QObject *)
{
}

void TfrmProcessoUnidade::dbgOperadoresKeyDown(QObject *, quint16 &, Qt::KeyboardModifiers)
{
}

void TfrmProcessoUnidade::dbgOperadoresKeyPress(QObject *, QChar &)
{
}
