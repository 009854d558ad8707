#include "HostMainWindow.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QStatusBar>

#include "FrameworkServices.h"
#include "Guard.h"
#include "ProcessReport.h"

using namespace Qt::StringLiterals;

HostMainWindow::HostMainWindow(QWidget *parent)
    : QMainWindow(parent)
{
    // Every screen's child window and menu bar asks the style for its icons.
    installStandardIconCache();
    setObjectName(u"frmPrincipal"_s);
    setWindowTitle(u"Sistema da Unidade"_s);
    m_mdi = new QMdiArea(this);
    m_mdi->setObjectName(u"mdiPrincipal"_s);
    m_mdi->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_mdi->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_mdi);

    QMenu *file = menuBar()->addMenu(u"&Arquivo"_s);
    file->setObjectName(u"mnuArquivo"_s);
    QAction *openFile = file->addAction(u"&Abrir módulo..."_s);
    openFile->setObjectName(u"actAbrirModulo"_s);
    connect(openFile, &QAction::triggered, this, [this] { guarded(this, [this] { openModuleFile(); }); });
    file->addSeparator();
    QAction *quit = file->addAction(u"&Sair"_s);
    quit->setObjectName(u"actSair"_s);
    connect(quit, &QAction::triggered, this, &QWidget::close);

    QMenu *screens = menuBar()->addMenu(u"&Telas"_s);
    screens->setObjectName(u"mnuTelas"_s);
    QAction *processes = screens->addAction(u"&Processos da Unidade (PRU87000)"_s);
    processes->setObjectName(u"actPRU87000"_s);
    connect(processes, &QAction::triggered, this, [this] { openScreen(u"PRU87000"_s); });

    QMenu *reports = menuBar()->addMenu(u"&Relatórios"_s);
    reports->setObjectName(u"mnuRelatorios"_s);
    QAction *processReport = reports->addAction(u"&Processos da unidade..."_s);
    processReport->setObjectName(u"actRelProcessos"_s);
    // Ctrl+P: the screens' own print entries are disabled and claim no key.
    processReport->setShortcut(QKeySequence::Print);
    connect(processReport, &QAction::triggered, this, [this] { ProcessReport::open(this); });

    QMenu *windows = menuBar()->addMenu(u"&Janela"_s);
    windows->setObjectName(u"mnuJanela"_s);
    connect(windows->addAction(u"&Cascata"_s), &QAction::triggered, m_mdi, &QMdiArea::cascadeSubWindows);
    connect(windows->addAction(u"&Lado a lado"_s), &QAction::triggered, m_mdi, &QMdiArea::tileSubWindows);
    connect(windows->addAction(u"&Fechar todas"_s), &QAction::triggered, m_mdi, &QMdiArea::closeAllSubWindows);

    m_session = new QLabel(this);
    m_session->setObjectName(u"lblSessao"_s);
    statusBar()->addPermanentWidget(m_session, 1);
    resize(1024, 700);
}

void HostMainWindow::presentChild(QWidget *child)
{
    for (QMdiSubWindow *sub : m_mdi->subWindowList()) {
        if (sub->widget() == child) {
            sub->showNormal();
            m_mdi->setActiveSubWindow(sub);
            return;
        }
    }
    QMdiSubWindow *sub = m_mdi->addSubWindow(child);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->setWindowTitle(child->windowTitle());
    sub->setWindowIcon(child->windowIcon());
    if (child->minimumSize() == child->maximumSize()) {
        // A single fixed border: the child window keeps the screen's size.
        sub->setWindowFlags(Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                            | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
        sub->adjustSize();
        sub->setFixedSize(sub->sizeHint());
    }
    // A screen that closes itself takes its frame along.
    connect(child, &QObject::destroyed, sub, [sub] { sub->close(); });
    connect(child, &QWidget::windowTitleChanged, sub, &QWidget::setWindowTitle);
    sub->show();
    m_mdi->setActiveSubWindow(sub);
}

bool HostMainWindow::openScreen(const QString &pathOrCode)
{
    QString error;
    if (m_modules.open(pathOrCode, &error)) {
        return true;
    }
    if (!error.isEmpty()) {
        showError(error, this);
    }
    return false;
}

void HostMainWindow::setSessionText(const QString &text)
{
    m_session->setText(text);
}

void HostMainWindow::openModuleFile()
{
    const QString path = QFileDialog::getOpenFileName(this, u"Abrir módulo"_s, {}, u"Módulos (*.so)"_s);
    if (!path.isEmpty()) {
        openScreen(path);
    }
}

void HostMainWindow::closeEvent(QCloseEvent *event)
{
    // Screens end first, each with its own clean-up (disconnecting from the server).
    m_mdi->closeAllSubWindows();
    if (!m_mdi->subWindowList().isEmpty()) {
        event->ignore();
        return;
    }
    event->accept();
}
