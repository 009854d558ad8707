#include "TfrmPadraoGrid.h"

#include <QAction>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QStyle>
#include <QVBoxLayout>

#include "Exceptions.h"
#include "FrameworkServices.h"
#include "Guard.h"
#include "TButtonFlat.h"
#include "TDBGrid.h"
#include "TDBNavigator.h"
#include "TDataSource.h"
#include "TMessages.h"

using namespace Qt::StringLiterals;

namespace {
// Commands act on what the user typed: text still in a cell editor reaches
// its field first. A field that refuses it stops the command.
void commitEditors(QWidget *screen)
{
    const auto grids = screen->findChildren<TDBGrid *>();
    for (TDBGrid *grid : grids) {
        if (grid->EditorMode() && !grid->commitEdit()) {
            Abort();
        }
    }
}

// A 16-pixel printer: paper going in at the top, the body, a sheet coming out.
QIcon printerIcon()
{
    QPixmap picture(16, 16);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setPen(QColor(60, 60, 60));
    painter.setBrush(Qt::white);
    painter.drawRect(4, 1, 7, 5);
    painter.setBrush(QColor(150, 150, 150));
    painter.drawRoundedRect(1, 5, 13, 6, 1, 1);
    painter.setBrush(Qt::white);
    painter.drawRect(4, 9, 7, 5);
    painter.drawLine(6, 11, 9, 11);
    painter.fillRect(11, 7, 2, 1, QColor(40, 160, 40));
    painter.end();
    return QIcon(picture);
}

// Cancel throws away what is still in a cell editor, whatever the field
// would have said of it.
void dropEditors(QWidget *screen)
{
    const auto grids = screen->findChildren<TDBGrid *>();
    for (TDBGrid *grid : grids) {
        if (grid->EditorMode()) {
            grid->cancelEdit();
        }
    }
}

// A menu or toolbar command: typed text first (dropped for Cancel), then the
// handler, under the guard.
void runCommand(TfrmPadraoGrid *screen, void (TfrmPadraoGrid::*handler)(QObject *), QObject *sender)
{
    guarded(screen, [&] {
        if (handler == &TfrmPadraoGrid::sbtCancelarClick) {
            dropEditors(screen);
        } else {
            commitEditors(screen);
        }
        (screen->*handler)(sender);
    });
}
} // namespace

TfrmPadraoGrid::TfrmPadraoGrid(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(u"frmPadraoGrid"_s);
    setAttribute(Qt::WA_DeleteOnClose);

    msgPadrao = new TMessages(this);
    msgPadrao->setObjectName(u"msgPadrao"_s);
    msgGrid = new TMessages(this);
    msgGrid->setObjectName(u"msgGrid"_s);
    msgGrid->setMessages({
        u"Canc|Deseja cancelar as alterações pendentes?"_s,
        u"Excl|Confirma exclusão?"_s,
    });

    dtsPadrao = new TDataSource(this);
    dtsPadrao->setObjectName(u"dtsPadrao"_s);

    // ---- menu ----
    mnuPrincipal = new QMenuBar(this);
    mnuPrincipal->setObjectName(u"mnuPrincipal"_s);
    mnuPrincipal->setNativeMenuBar(false);
    mnuManutencao = mnuPrincipal->addMenu(u"&Manutenção"_s);
    mnuManutencao->setObjectName(u"mnuManutencao"_s);

    mnuIncluir = makeAction(u"mnuIncluir"_s, u"&Incluir"_s, {}, &TfrmPadraoGrid::sbtIncluirClick);
    mnuAlterar = makeAction(u"mnuAlterar"_s, u"&Alterar"_s, {}, &TfrmPadraoGrid::sbtAlterarClick);
    mnuExcluir = makeAction(u"mnuExcluir"_s, u"&Excluir"_s, {}, &TfrmPadraoGrid::sbtExcluirClick);
    mnuProcurar = makeAction(u"mnuProcurar"_s, u"&Procurar"_s, {}, &TfrmPadraoGrid::sbtProcurarClick);
    mnuVerificar = makeAction(u"mnuVerificar"_s, u"&Verificar"_s, {}, &TfrmPadraoGrid::sbtVerificarClick);
    mnuManutencao->addSeparator();
    mnuCancelar = makeAction(u"mnuCancelar"_s, u"&Cancelar"_s, {}, &TfrmPadraoGrid::sbtCancelarClick);
    mnuConfirmar = makeAction(u"mnuConfirmar"_s, u"C&onfirmar"_s, {}, &TfrmPadraoGrid::sbtConfirmarClick);
    mnuManutencao->addSeparator();
    mnuImprimir = makeAction(u"mnuImprimir"_s, u"Imp&rimir"_s, {}, &TfrmPadraoGrid::sbtImprimirClick);
    mnuVisualizar = makeAction(u"mnuVisualizar"_s, u"Visuali&zar Impressão"_s, {}, &TfrmPadraoGrid::sbtImprimirClick);
    mnuManutencao->addSeparator();
    mnuAjuda = makeAction(u"mnuAjuda"_s, u"Aj&uda"_s, {}, &TfrmPadraoGrid::sbtAjudaClick);
    mnuFechar = makeAction(u"mnuFechar"_s, u"&Fechar"_s, {}, &TfrmPadraoGrid::sbtFecharClick);
    mnuImprimir->setEnabled(false);
    mnuVisualizar->setEnabled(false);

    // ---- toolbar ----
    panPadrao = new QFrame(this);
    panPadrao->setObjectName(u"panPadrao"_s);
    panPadrao->setFrameShape(QFrame::StyledPanel);
    m_toolBarLayout = new QHBoxLayout(panPadrao);
    m_toolBarLayout->setContentsMargins(2, 2, 2, 2);
    m_toolBarLayout->setSpacing(1);

    sbtIncluir = makeButton(u"sbtIncluir"_s, u"Incluir"_s, mnuIncluir, &TfrmPadraoGrid::sbtIncluirClick);
    sbtAlterar = makeButton(u"sbtAlterar"_s, u"Alterar"_s, mnuAlterar, &TfrmPadraoGrid::sbtAlterarClick);
    sbtExcluir = makeButton(u"sbtExcluir"_s, u"Excluir"_s, mnuExcluir, &TfrmPadraoGrid::sbtExcluirClick);
    sbtProcurar = makeButton(u"sbtProcurar"_s, u"Procurar"_s, mnuProcurar, &TfrmPadraoGrid::sbtProcurarClick);
    sbtVerificar = makeButton(u"sbtVerificar"_s, u"Verificar"_s, mnuVerificar, &TfrmPadraoGrid::sbtVerificarClick);
    sbtCancelar = makeButton(u"sbtCancelar"_s, u"Cancelar"_s, mnuCancelar, &TfrmPadraoGrid::sbtCancelarClick);
    sbtConfirmar = makeButton(u"sbtConfirmar"_s, u"Confirmar"_s, mnuConfirmar, &TfrmPadraoGrid::sbtConfirmarClick);
    sbtImprimir = makeButton(u"sbtImprimir"_s, u"Imprimir"_s, mnuImprimir, &TfrmPadraoGrid::sbtImprimirClick);
    sbtAjuda = makeButton(u"sbtAjuda"_s, u"Ajuda"_s, mnuAjuda, &TfrmPadraoGrid::sbtAjudaClick);
    m_toolInsertIndex = m_toolBarLayout->count();
    m_toolBarLayout->addStretch(1);
    sbtFechar = makeButton(u"sbtFechar"_s, u"Fechar"_s, mnuFechar, &TfrmPadraoGrid::sbtFecharClick);
    sbtImprimir->setEnabled(false);

    const QList<std::pair<TButtonFlat *, QStyle::StandardPixmap>> icons = {
        {sbtIncluir, QStyle::SP_FileIcon},
        {sbtAlterar, QStyle::SP_FileDialogDetailedView},
        {sbtExcluir, QStyle::SP_TrashIcon},
        {sbtProcurar, QStyle::SP_FileDialogContentsView},
        {sbtVerificar, QStyle::SP_BrowserReload},
        {sbtCancelar, QStyle::SP_DialogCancelButton},
        {sbtConfirmar, QStyle::SP_DialogApplyButton},
        {sbtFechar, QStyle::SP_DialogCloseButton},
    };
    for (const auto &[button, pixmap] : icons) {
        button->setIcon(standardIcon(this, pixmap));
        button->setIconSize(QSize(16, 16));
    }
    // The style has no printer, and its help picture reads as "full screen":
    // the desktop theme's pictures where there is one, else a printer drawn
    // here and the style's question mark.
    sbtImprimir->setIcon(QIcon::fromTheme(u"document-print"_s, printerIcon()));
    sbtAjuda->setIcon(QIcon::fromTheme(u"help-contents"_s, standardIcon(this, QStyle::SP_MessageBoxQuestion)));
    for (TButtonFlat *button : {sbtImprimir, sbtAjuda}) {
        button->setIconSize(QSize(16, 16));
    }

    // ---- page ----
    m_page = new QWidget(this);
    m_page->setObjectName(u"panPagina"_s);
    auto *pageLayout = new QVBoxLayout(m_page);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->setSpacing(0);

    dbgPadrao = new TDBGrid(m_page);
    dbgPadrao->setObjectName(u"dbgPadrao"_s);
    dbgPadrao->setDataSource(dtsPadrao);
    pageLayout->addWidget(dbgPadrao);

    // ---- bottom bar ----
    auto *bottom = new QFrame(this);
    bottom->setObjectName(u"panRodape"_s);
    auto *bottomLayout = new QHBoxLayout(bottom);
    bottomLayout->setContentsMargins(2, 1, 2, 1);
    navPadrao = new TDBNavigator(bottom);
    navPadrao->setObjectName(u"navPadrao"_s);
    navPadrao->setDataSource(dtsPadrao);
    lblCodTela = new QLabel(bottom);
    lblCodTela->setObjectName(u"lblCodTela"_s);
    lblCodTela->setFrameShape(QFrame::StyledPanel);
    bottomLayout->addWidget(navPadrao, 1);
    bottomLayout->addWidget(lblCodTela);

    auto *main = new QVBoxLayout(this);
    main->setContentsMargins(0, 0, 0, 0);
    main->setSpacing(0);
    main->setMenuBar(mnuPrincipal);
    main->addWidget(panPadrao);
    main->addWidget(m_page, 1);
    main->addWidget(bottom);

    // ---- handlers bound by name ----
    // Only what the base itself reacts to; the grid's other events belong to
    // whoever owns its rows (a screen's level), which binds them all.
    dbgPadrao->OnEnter = [this](QObject *sender) { dbgPadraoEnter(sender); };
    dtsPadrao->OnStateChange = [this](QObject *sender) { dtsPadraoStateChange(sender); };
    connect(LocalCache::instance(), &LocalCache::tablesChanged, this,
            [this](const QStringList &tables) { guarded(this, [&] { LocalCacheChanged(tables); }); });
}

TfrmPadraoGrid::~TfrmPadraoGrid() = default;

QAction *TfrmPadraoGrid::makeAction(const QString &name, const QString &text, const QKeySequence &shortcut,
                                    void (TfrmPadraoGrid::*handler)(QObject *))
{
    auto *action = new QAction(text, this);
    action->setObjectName(name);
    if (!shortcut.isEmpty()) {
        action->setShortcut(shortcut);
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        addAction(action);
    }
    mnuManutencao->addAction(action);
    connect(action, &QAction::triggered, this, [this, action, handler] { runCommand(this, handler, action); });
    return action;
}

TButtonFlat *TfrmPadraoGrid::makeButton(const QString &name, const QString &hint, QAction *action,
                                        void (TfrmPadraoGrid::*handler)(QObject *))
{
    Q_UNUSED(action)
    auto *button = new TButtonFlat(panPadrao);
    button->setObjectName(name);
    button->setHint(hint);
    button->setFixedSize(29, 21);
    m_toolBarLayout->addWidget(button);
    connect(button, &QToolButton::clicked, this, [this, button, handler] { runCommand(this, handler, button); });
    return button;
}

void TfrmPadraoGrid::addToolButton(QWidget *button)
{
    button->setParent(panPadrao);
    button->setFocusPolicy(Qt::NoFocus);
    m_toolBarLayout->insertWidget(m_toolInsertIndex++, button);
}

void TfrmPadraoGrid::setNavigatorField(const QString &fieldName)
{
    navPadrao->setFieldName(fieldName);
}

void TfrmPadraoGrid::initialize()
{
    if (m_created) {
        return;
    }
    FormCreate(this);
    m_created = true;
}

void TfrmPadraoGrid::finalize()
{
    if (m_destroyed || !m_created) {
        return;
    }
    m_destroyed = true;
    guarded(this, [this] { FormDestroy(this); });
}

bool TfrmPadraoGrid::event(QEvent *event)
{
    if (event->type() == QEvent::ParentChange) {
        // The commands act on the grid that holds the focus, so a press on the
        // toolbar must leave the focus there: the child window around the
        // screen takes none by click (it would pull the focus out of the grid).
        if (auto *frame = qobject_cast<QMdiSubWindow *>(parentWidget())) {
            frame->setFocusPolicy(Qt::NoFocus);
        }
    }
    return QWidget::event(event);
}

void TfrmPadraoGrid::closeEvent(QCloseEvent *event)
{
    // A question that fails (an error in the handler) keeps the screen open:
    // closing must never be the way work is lost.
    bool canClose = true;
    if (m_created && !m_destroyed && !guarded(this, [&] { FormCloseQuery(this, canClose); })) {
        canClose = false;
    }
    if (!canClose) {
        event->ignore();
        return;
    }
    finalize();
    event->accept();
}

void TfrmPadraoGrid::FormCreate(QObject *)
{ }

void TfrmPadraoGrid::FormCloseQuery(QObject *, bool &)
{ }

void TfrmPadraoGrid::FormDestroy(QObject *)
{ }

void TfrmPadraoGrid::sbtIncluirClick(QObject *)
{
    if (TClientDataSet *ds = dtsPadrao->DataSet(); ds && ds->Active()) {
        dbgPadrao->setFocus();
        ds->Insert();
    }
}

void TfrmPadraoGrid::sbtAlterarClick(QObject *)
{
    if (TClientDataSet *ds = dtsPadrao->DataSet(); ds && ds->Active()) {
        dbgPadrao->setFocus();
        ds->Edit();
    }
}

void TfrmPadraoGrid::sbtExcluirClick(QObject *)
{
    TClientDataSet *ds = dtsPadrao->DataSet();
    if (!ds || !ds->Active() || ds->IsEmpty()) {
        return;
    }
    if (msgGrid->ShowMsg(u"Excl"_s, mtConfirmation, mbYes | mbNo, 0) == mrYes) {
        ds->Delete();
    }
}

void TfrmPadraoGrid::sbtProcurarClick(QObject *)
{
    if (TClientDataSet *ds = dtsPadrao->DataSet(); ds && ds->Active()) {
        Procura(ds);
    }
}

void TfrmPadraoGrid::sbtVerificarClick(QObject *)
{ }

void TfrmPadraoGrid::sbtCancelarClick(QObject *)
{
    TClientDataSet *ds = dtsPadrao->DataSet();
    if (ds && (ds->State() == TDataSetState::dsEdit || ds->State() == TDataSetState::dsInsert)) {
        ds->Cancel();
    }
}

void TfrmPadraoGrid::sbtConfirmarClick(QObject *)
{
    TClientDataSet *ds = dtsPadrao->DataSet();
    if (ds && (ds->State() == TDataSetState::dsEdit || ds->State() == TDataSetState::dsInsert)) {
        ds->Post();
    }
}

void TfrmPadraoGrid::sbtImprimirClick(QObject *)
{ }

void TfrmPadraoGrid::sbtAjudaClick(QObject *)
{
    ModalDialogs::messageBox(u"Não há ajuda disponível para esta tela."_s, mtInformation, mbOK, {}, this);
}

void TfrmPadraoGrid::sbtFecharClick(QObject *)
{
    if (auto *sub = qobject_cast<QMdiSubWindow *>(parentWidget())) {
        sub->close();
    } else {
        close();
    }
}

void TfrmPadraoGrid::dbgPadraoEnter(QObject *)
{ }

void TfrmPadraoGrid::dtsPadraoStateChange(QObject *)
{ }

void TfrmPadraoGrid::LocalCacheChanged(const QStringList &)
{ }
