#include "ScreenLayout.h"

#include <QAction>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QVBoxLayout>

#include "GridDefinitions.h"
#include "ScreenIcons.h"
#include "ScreenImage.h"
#include "TButtonFlat.h"
#include "TDataSource.h"
#include "TfrmProcessoUnidade.h"

using namespace Qt::StringLiterals;

namespace ScreenLayout {

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

// A grid's columns from its definition, told to the grid as one change.
void applyColumns(TDBGrid *grid, const QString &name)
{
    TDBGridColumns *columns = grid->Columns();
    columns->BeginUpdate();
    try {
        GridDefinitions::apply(grid, name);
    } catch (...) {
        columns->EndUpdate();
        throw;
    }
    columns->EndUpdate();
}

TDBGrid *makeLowerGrid(const QString &name, TDataSource *source, QWidget *parent)
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
    applyColumns(grid, name);
    return grid;
}

} // namespace

void build(TfrmProcessoUnidade *screen)
{
    TfrmProcessoUnidade &s = *screen;
    auto *page = qobject_cast<QVBoxLayout *>(s.Page()->layout());
    page->removeWidget(s.dbgPadrao);
    page->setSpacing(0);

    // The processes across the whole width, in their own top panel.
    s.panProcessos = makePanel(u"panProcessos"_s, s.Page());
    s.panProcessos->setFixedHeight(kProcessPanelHeight);
    auto *processLayout = new QVBoxLayout(s.panProcessos);
    processLayout->setContentsMargins(0, 0, 0, 0);
    s.dbgPadrao->setParent(s.panProcessos);
    processLayout->addWidget(s.dbgPadrao);
    applyColumns(s.dbgPadrao, u"dbgPadrao"_s);
    page->addWidget(s.panProcessos);

    // The title strip: labels at fixed distances, not laid out.
    s.panTitulo = makePanel(u"panTitulo"_s, s.Page());
    s.panTitulo->setFixedHeight(kTitleStripHeight);
    s.lblTarefas = new QLabel(u"Tarefas"_s, s.panTitulo);
    s.lblTarefas->setObjectName(u"lblTarefas"_s);
    s.lblOperadores = new QLabel(u"Operadores"_s, s.panTitulo);
    s.lblOperadores->setObjectName(u"lblOperadores"_s);
    for (QLabel *label : {s.lblTarefas, s.lblOperadores}) {
        label->setFont(boldFont(label));
        label->adjustSize();
    }
    s.lblTarefas->move(kTitleTasksX, (kTitleStripHeight - s.lblTarefas->height()) / 2);
    s.lblOperadores->move(kTitleOperatorsX, (kTitleStripHeight - s.lblOperadores->height()) / 2);
    page->addWidget(s.panTitulo);

    auto *lower = new QWidget(s.Page());
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
    s.panTarefas = makePanel(u"panTarefas"_s, lower);
    QVBoxLayout *taskLayout = lowered(s.panTarefas);
    s.dbgTarefas = makeLowerGrid(u"dbgTarefas"_s, s.dtsTarefas, s.panTarefas);
    taskLayout->addWidget(s.dbgTarefas, 1);
    s.panSequencia = makePanel(u"panSequencia"_s, s.panTarefas);
    s.panSequencia->setFixedHeight(kSequenceStripHeight);
    s.lblSequencia = new QLabel(u"Sequência"_s, s.panSequencia);
    s.lblSequencia->setObjectName(u"lblSequencia"_s);
    s.lblSequencia->setFont(boldFont(s.lblSequencia));
    s.lblSequencia->adjustSize();
    s.lblSequencia->move(8, (kSequenceStripHeight - s.lblSequencia->height()) / 2);
    const int buttonTop = (kSequenceStripHeight - kOrderButtonHeight) / 2;
    const int buttonLeft = 8 + s.lblSequencia->width() + 8;
    s.sbtTarefaUp = new TButtonFlat(s.panSequencia);
    s.sbtTarefaUp->setObjectName(u"sbtTarefaUp"_s);
    s.sbtTarefaUp->setGlyph(QPixmap::fromImage(ScreenIcons::taskUpGlyph()), 2);
    s.sbtTarefaDown = new TButtonFlat(s.panSequencia);
    s.sbtTarefaDown->setObjectName(u"sbtTarefaDown"_s);
    s.sbtTarefaDown->setGlyph(QPixmap::fromImage(ScreenIcons::taskDownGlyph()), 2);
    for (TButtonFlat *button : {s.sbtTarefaUp, s.sbtTarefaDown}) {
        button->setTransparentColor(ScreenIcons::transparentColor());
        button->setFixedSize(kOrderButtonWidth, kOrderButtonHeight);
    }
    s.sbtTarefaUp->move(buttonLeft, buttonTop);
    s.sbtTarefaDown->move(buttonLeft + kOrderButtonWidth, buttonTop);
    taskLayout->addWidget(s.panSequencia);
    lowerLayout->addWidget(s.panTarefas, 1);

    s.panOperadores = makePanel(u"panOperadores"_s, lower);
    s.panOperadores->setFixedWidth(kOperatorPanelWidth);
    QVBoxLayout *operatorLayout = lowered(s.panOperadores);
    s.dbgOperadores = makeLowerGrid(u"dbgOperadores"_s, s.dtsOperadores, s.panOperadores);
    operatorLayout->addWidget(s.dbgOperadores);
    lowerLayout->addWidget(s.panOperadores);

    // The redefinition command: a toolbar button and the sixth maintenance item.
    s.sbtRedefinir = new TButtonFlat(s.panPadrao);
    s.sbtRedefinir->setObjectName(u"sbtRedefinir"_s);
    s.sbtRedefinir->setFixedSize(kRedefineWidth, kRedefineHeight);
    s.sbtRedefinir->setHint(u"Redefinir Atividades"_s);
    s.sbtRedefinir->setGlyph(QPixmap::fromImage(ScreenIcons::recalc()));
    s.sbtRedefinir->setTransparentColor(ScreenIcons::transparentColor());
    s.sbtRedefinir->setEnabled(false);
    s.addToolButton(s.sbtRedefinir);
    s.mnuRedefinir = new QAction(u"&Redefinir Atividades"_s, screen);
    s.mnuRedefinir->setObjectName(u"mnuRedefinir"_s);
    s.mnuRedefinir->setShortcut(QKeySequence(Qt::Key_F6));
    s.mnuRedefinir->setEnabled(false);
    const QList<QAction *> items = s.mnuManutencao->actions();
    s.mnuManutencao->insertAction(items.size() > 5 ? items.at(5) : nullptr, s.mnuRedefinir);

    s.setNavigatorField(u"NMPROCESSOFILIAL"_s);

    // Pictures the grids copy into their cells; never shown themselves.
    s.imgObs = new ScreenImage(u"imgObs"_s, ScreenIcons::obs(), s.panPadrao);
    s.imgChecked = new ScreenImage(u"imgChecked"_s, ScreenIcons::checked(), s.panPadrao);
    s.imgUnchecked = new ScreenImage(u"imgUnchecked"_s, ScreenIcons::unchecked(), s.panPadrao);
    s.imgOK = new ScreenImage(u"imgOK"_s, ScreenIcons::ok(), s.panPadrao);
    s.imgRecalc = new ScreenImage(u"imgRecalc"_s, ScreenIcons::recalc(), s.panPadrao);

    // The client area below the screen's own menu bar keeps its fixed size.
    s.setFixedSize(kClientWidth, kClientHeight + s.mnuPrincipal->sizeHint().height());
}

} // namespace ScreenLayout
