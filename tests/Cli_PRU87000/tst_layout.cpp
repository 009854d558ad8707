// What the screen is made of before it talks to any server: its layout,
// pictures, record-set fields, grid columns and message catalogue.

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QMenuBar>
#include <QtTest>

#include "ScopedDetach.h"

#include "DataFiles.h"
#include "GridDefinitions.h"
#include "MessageFormat.h"
#include "RecordSetDefinitions.h"
#include "ScreenIcons.h"
#include "ScreenPicture.h"
#include "ScreenImage.h"
#include "TButtonFlat.h"
#include "TDBNavigator.h"
#include "TDataSource.h"
#include "TMessages.h"
#include "TfrmProcessoUnidade.h"

using namespace Qt::StringLiterals;

namespace {

// The check boxes as described: a white box with black top and left edges,
// a light grey line one pixel beyond its right and bottom sides, olive
// around; the checked one has a black tick inside.
//   . olive   K black   W white   G grey 192
const char *const kUnchecked[16] = {"................", "................", "..KKKKKKKKKKKG..", "..KWWWWWWWWWWG..",
                                    "..KWWWWWWWWWWG..", "..KWWWWWWWWWWG..", "..KWWWWWWWWWWG..", "..KWWWWWWWWWWG..",
                                    "..KWWWWWWWWWWG..", "..KWWWWWWWWWWG..", "..KWWWWWWWWWWG..", "..KWWWWWWWWWWG..",
                                    "..KWWWWWWWWWWG..", "..GGGGGGGGGGGG..", "................", "................"};
const char *const kChecked[16] = {"................", "................", "..KKKKKKKKKKKG..", "..KWWWWWWWWWWG..",
                                  "..KWWWWWWWWWWG..", "..KWWWWWWWKWWG..", "..KWWWWWWKKWWG..", "..KWKWWWKKKWWG..",
                                  "..KWKKWKKKWWWG..", "..KWKKKKKWWWWG..", "..KWWKKKWWWWWG..", "..KWWWKWWWWWWG..",
                                  "..KWWWWWWWWWWG..", "..GGGGGGGGGGGG..", "................", "................"};

QColor colourOf(char code)
{
    switch (code) {
    case 'K':
        return QColor(0, 0, 0);
    case 'W':
        return QColor(255, 255, 255);
    case 'G':
        return QColor(192, 192, 192);
    default:
        return QColor(128, 128, 0);
    }
}

} // namespace

class TestLayout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void screenGeometry();
    void orderingStrip();
    void lowerGridsShowTheTooltipColour();
    void tasksStandInTheirOrder();
    void redefineCommand();
    void hiddenPictures();
    void checkBoxPixels_data();
    void checkBoxPixels();
    void recordSetFields_data();
    void recordSetFields();
    void gridColumns_data();
    void gridColumns();
    void catalogue();
    void componentsByName();
    void pictureOfTheScreen();

private:
    // Built but not created: no server is involved in what is tested here.
    TfrmProcessoUnidade *m_screen = nullptr;
};

void TestLayout::initTestCase()
{
    m_screen = new TfrmProcessoUnidade;
    m_screen->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_screen));
}

void TestLayout::cleanupTestCase()
{
    delete m_screen;
}

void TestLayout::screenGeometry()
{
    TfrmProcessoUnidade *screen = m_screen;
    QCOMPARE(screen->windowTitle(), u"Processos da Unidade"_s);
    QCOMPARE(screen->lblCodTela->text(), u"PRU87000"_s);
    // The client area is what lies below the screen's own menu bar.
    const int menuBar = screen->mnuPrincipal->height();
    QVERIFY(menuBar > 0);
    QCOMPARE(screen->mnuPrincipal->mapTo(screen, QPoint(0, 0)), QPoint(0, 0));
    QCOMPARE(screen->size(), QSize(846, 496 + menuBar));
    QCOMPARE(screen->minimumSize(), screen->maximumSize());

    auto rectIn = [screen](QWidget *widget) { return QRect(widget->mapTo(screen, QPoint(0, 0)), widget->size()); };
    const QRect processes = rectIn(screen->panProcessos);
    const QRect title = rectIn(screen->panTitulo);
    const QRect tasks = rectIn(screen->panTarefas);
    const QRect operators = rectIn(screen->panOperadores);

    QCOMPARE(processes.height(), 192);
    QCOMPARE(processes.width(), 846);
    QCOMPARE(processes.left(), 0);
    QCOMPARE(screen->dbgPadrao->parentWidget(), screen->panProcessos);
    QCOMPARE(screen->dbgPadrao->height(), 192);

    QCOMPARE(title.top(), processes.bottom() + 1);
    QCOMPARE(title.height(), 25);
    QCOMPARE(title.width(), 846);
    QCOMPARE(screen->lblTarefas->text(), u"Tarefas"_s);
    QCOMPARE(screen->lblOperadores->text(), u"Operadores"_s);
    QCOMPARE(screen->lblTarefas->x(), 8);
    QCOMPARE(screen->lblOperadores->x(), 400);
    QVERIFY(screen->lblTarefas->font().bold());
    QVERIFY(screen->lblOperadores->font().bold());

    // Below the strip: tasks on the left, operators 408 pixels on the right.
    QCOMPARE(tasks.top(), title.bottom() + 1);
    QCOMPARE(operators.top(), tasks.top());
    QCOMPARE(tasks.left(), 0);
    QCOMPARE(operators.width(), 408);
    QCOMPARE(operators.right(), 845);
    QCOMPARE(tasks.right() + 1, operators.left());
    QCOMPARE(tasks.bottom(), operators.bottom());
    QCOMPARE(tasks.bottom(), rectIn(screen->Page()).bottom());
    for (QFrame *panel : {screen->panTarefas, screen->panOperadores}) {
        QCOMPARE(panel->frameShadow(), QFrame::Sunken);
    }
    QCOMPARE(screen->dbgTarefas->parentWidget(), screen->panTarefas);
    QCOMPARE(screen->dbgOperadores->parentWidget(), screen->panOperadores);
}

void TestLayout::orderingStrip()
{
    TfrmProcessoUnidade *screen = m_screen;
    QCOMPARE(screen->panSequencia->parentWidget(), screen->panTarefas);
    QCOMPARE(screen->panSequencia->height(), 36);
    // At the bottom of the task panel, under the grid.
    QCOMPARE(screen->panSequencia->geometry().bottom(), screen->panTarefas->contentsRect().bottom() - 2);
    QCOMPARE(screen->dbgTarefas->geometry().bottom() + 1, screen->panSequencia->y());
    QCOMPARE(screen->lblSequencia->text(), u"Sequência"_s);
    QVERIFY(screen->lblSequencia->font().bold());
    for (TButtonFlat *button : {screen->sbtTarefaUp, screen->sbtTarefaDown}) {
        QCOMPARE(button->size(), QSize(94, 25));
        QCOMPARE(button->NumGlyphs(), 2);
        QCOMPARE(button->Glyph().size(), QSize(32, 16));
    }
    QCOMPARE(screen->sbtTarefaDown->x(), screen->sbtTarefaUp->x() + 94);
    QCOMPARE(screen->sbtTarefaDown->y(), screen->sbtTarefaUp->y());
    // The enabled and the disabled pictures differ.
    const QImage glyph = screen->sbtTarefaUp->Glyph().toImage();
    QVERIFY(glyph.copy(0, 0, 16, 16) != glyph.copy(16, 0, 16, 16));
}

void TestLayout::lowerGridsShowTheTooltipColour()
{
    // Rows are there to be painted; what the grid paints under the text is
    // the tooltip colour, and its titles use the 11-pixel regular font. The
    // screen is not created, so its task rules stay out of the way.
    ScopedDetach noInsertRules(m_screen->cdsTarefas->BeforeInsert);
    ScopedDetach noPostRules(m_screen->cdsTarefas->BeforePost);
    m_screen->cdsTarefas->CreateDataSet();
    m_screen->cdsTarefas->Append();
    m_screen->cdsTarefas->FieldByName(u"NMATIVIDADEFILIAL"_s)->setAsString(u"x"_s);
    m_screen->cdsTarefas->FieldByName(u"NRORDENAATIVIDADE"_s)->setAsFloat(1);
    m_screen->cdsTarefas->Post();
    m_screen->cdsOperadores->CreateDataSet();
    for (TDBGrid *grid : {m_screen->dbgTarefas, m_screen->dbgOperadores}) {
        const QImage picture = grid->viewport()->grab().toImage();
        const QColor tooltip = grid->palette().color(QPalette::ToolTipBase);
        QVERIFY(tooltip != QApplication::palette().color(QPalette::Base));
        // Below the rows, and in a cell away from its text.
        QCOMPARE(picture.pixelColor(picture.width() - 3, picture.height() - 3), tooltip);
        const QFontInfo titles(grid->horizontalHeader()->font());
        QCOMPARE(titles.pixelSize(), 11);
        QVERIFY(!titles.bold());
    }
    m_screen->cdsTarefas->Close();
    m_screen->cdsOperadores->Close();
}

void TestLayout::tasksStandInTheirOrder()
{
    // Whatever order rows arrive in, tasks are listed by their order number.
    TClientDataSet *tasks = m_screen->cdsTarefas;
    ScopedDetach noInsertRules(tasks->BeforeInsert);
    ScopedDetach noNewRowRules(tasks->AfterInsert);
    ScopedDetach noPostRules(tasks->BeforePost);
    ScopedDetach noMoveRules(tasks->AfterScroll);
    tasks->CreateDataSet();
    for (double order : {3.0, 1.0, 2.0}) {
        tasks->Append();
        tasks->FieldByName(u"NRORDENAATIVIDADE"_s)->setAsFloat(order);
        tasks->FieldByName(u"NMATIVIDADEFILIAL"_s)->setAsString(QString::number(order));
        tasks->Post();
    }
    QList<double> shown;
    for (tasks->First(); !tasks->Eof(); tasks->Next()) {
        shown << tasks->FieldByName(u"NRORDENAATIVIDADE"_s)->AsFloat();
    }
    QCOMPARE(shown, QList<double>({1.0, 2.0, 3.0}));
    QCOMPARE(m_screen->dbgTarefas->model()->index(0, 1).data().toString(), u"1"_s);
    tasks->Close();
}

void TestLayout::redefineCommand()
{
    TfrmProcessoUnidade *screen = m_screen;
    QCOMPARE(screen->sbtRedefinir->size(), QSize(29, 21));
    QCOMPARE(screen->sbtRedefinir->toolTip(), u"Redefinir Atividades"_s);
    QVERIFY(!screen->sbtRedefinir->isEnabled());
    QVERIFY(screen->sbtRedefinir->parentWidget() == screen->panPadrao);
    QCOMPARE(screen->mnuRedefinir->text(), u"&Redefinir Atividades"_s);
    QCOMPARE(screen->mnuRedefinir->shortcut(), QKeySequence(Qt::Key_F6));
    QVERIFY(!screen->mnuRedefinir->isEnabled());
    QCOMPARE(screen->mnuManutencao->actions().indexOf(screen->mnuRedefinir), 5);
    QCOMPARE(screen->mnuManutencao->actions().at(4), screen->mnuVerificar);
    // Browsing at first: Confirm and Cancel off.
    QVERIFY(!screen->sbtConfirmar->isEnabled());
    QVERIFY(!screen->sbtCancelar->isEnabled());
}

void TestLayout::hiddenPictures()
{
    const QList<std::tuple<QString, QSize>> pictures = {{u"imgObs"_s, QSize(16, 16)},
                                                        {u"imgChecked"_s, QSize(16, 16)},
                                                        {u"imgUnchecked"_s, QSize(16, 16)},
                                                        {u"imgOK"_s, QSize(16, 16)},
                                                        {u"imgRecalc"_s, QSize(20, 17)}};
    for (const auto &[name, size] : pictures) {
        auto *image = m_screen->findChild<ScreenImage *>(name);
        QVERIFY2(image, qPrintable(name));
        QVERIFY(image->isHidden());
        QCOMPARE(image->Picture().size(), size);
        const QImage &picture = image->Picture();
        for (QPoint corner : {QPoint(0, 0), QPoint(size.width() - 1, 0), QPoint(0, size.height() - 1),
                              QPoint(size.width() - 1, size.height() - 1)}) {
            QCOMPARE(picture.pixelColor(corner), QColor(128, 128, 0));
        }
        // Something is drawn on the olive.
        int drawn = 0;
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                drawn += picture.pixelColor(x, y) != QColor(128, 128, 0) ? 1 : 0;
            }
        }
        QVERIFY2(drawn > 20, qPrintable(name));
    }
    // The check boxes are 16-colour pictures; the note is true colour.
    QVERIFY(m_screen->imgChecked->Picture().colorCount() <= 16);
    QVERIFY(m_screen->imgChecked->Picture().colorCount() > 0);
    QVERIFY(m_screen->imgUnchecked->Picture().colorCount() <= 16);
    QCOMPARE(m_screen->imgObs->Picture().depth(), 32);
    // The redefine button shows the lightning of the situation column.
    QCOMPARE(m_screen->sbtRedefinir->Glyph().toImage().convertToFormat(QImage::Format_RGB32),
             m_screen->imgRecalc->Picture().convertToFormat(QImage::Format_RGB32));
}

void TestLayout::checkBoxPixels_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("checked");
    QTest::newRow("imgChecked") << u"imgChecked"_s << true;
    QTest::newRow("imgUnchecked") << u"imgUnchecked"_s << false;
}

void TestLayout::checkBoxPixels()
{
    QFETCH(QString, name);
    QFETCH(bool, checked);
    const QImage picture = m_screen->findChild<ScreenImage *>(name)->Picture();
    const char *const *expected = checked ? kChecked : kUnchecked;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const QColor want = colourOf(expected[y][x]);
            if (picture.pixelColor(x, y) != want) {
                QFAIL(qPrintable(u"pixel (%1, %2) is %3, described %4"_s.arg(x).arg(y).arg(
                    picture.pixelColor(x, y).name(), want.name())));
            }
        }
    }
}

// The rows of a table: one per record set of the screen, by name.
void TestLayout::recordSetFields_data()
{
    QTest::addColumn<QString>("dataSet");
    for (const QString &name : RecordSetDefinitions::names()) {
        QTest::newRow(qPrintable(name)) << name;
    }
}

// Each record set holds the fields of its definition (src/data/recordsets).
void TestLayout::recordSetFields()
{
    QFETCH(QString, dataSet);
    const RecordSetDefinitions::Definition definition = RecordSetDefinitions::load(dataSet);
    auto *records = m_screen->findChild<TClientDataSet *>(dataSet);
    QVERIFY(records);
    QCOMPARE(records->FieldCount(), int(definition.fields.size()));
    for (int i = 0; i < records->FieldCount(); ++i) {
        const RecordSetDefinitions::FieldDefinition &expected = definition.fields.at(i);
        TField *field = records->Fields().at(i);
        QCOMPARE(field->FieldName(), expected.name);
        QCOMPARE(field->DataType(), expected.type);
        if (expected.type == FieldType::Text) {
            QCOMPARE(field->Size(), expected.size);
        }
        QCOMPARE(field->DisplayLabel(), expected.label.isEmpty() ? expected.name : expected.label);
        QCOMPARE(field->Visible(), expected.visible);
        QCOMPARE(field->Calculated(), expected.calculated);
        if (expected.displayWidth >= 0) {
            QCOMPARE(field->DisplayWidth(), expected.displayWidth);
        }
        QCOMPARE(field->objectName(), dataSet + field->FieldName());
    }
}

void TestLayout::gridColumns_data()
{
    QTest::addColumn<QString>("grid");
    for (const TDBGrid *grid : m_screen->findChildren<TDBGrid *>()) {
        QTest::newRow(qPrintable(grid->objectName())) << grid->objectName();
    }
}

// Each grid shows the columns and takes the options of its definition
// (src/data/grids); a column without a title of its own shows its field's label.
void TestLayout::gridColumns()
{
    QFETCH(QString, grid);
    auto *target = m_screen->findChild<TDBGrid *>(grid);
    const GridDefinitions::Grid definition = GridDefinitions::load(grid);
    const RecordSetDefinitions::Definition records = RecordSetDefinitions::load(target->dataSet()->objectName());
    QCOMPARE(target->Columns()->Count(), int(definition.columns.size()));
    for (int i = 0; i < target->Columns()->Count(); ++i) {
        const GridDefinitions::Column &expected = definition.columns.at(i);
        TColumn *column = target->Columns()->Items(i);
        QCOMPARE(column->FieldName(), expected.fieldName);
        const RecordSetDefinitions::FieldDefinition *field = records.field(expected.fieldName);
        QVERIFY2(field, qPrintable(expected.fieldName));
        const QString label = field->label.isEmpty() ? field->name : field->label;
        QCOMPARE(column->Title(), expected.title.isEmpty() ? label : expected.title);
        if (expected.width >= 0) {
            QCOMPARE(column->Width(), expected.width);
        }
        QCOMPARE(column->ReadOnly(), expected.readOnly);
        QCOMPARE(column->Alignment() & Qt::AlignHorizontal_Mask, expected.alignment);
        QCOMPARE(column->TitleAlignment() & Qt::AlignHorizontal_Mask, expected.titleAlignment);
        QCOMPARE(column->ButtonStyle() == cbsEllipsis, expected.ellipsisButton);
    }
    if (definition.hasOptions) {
        // The options as the definition names them, on a grid of their own.
        TDBGrid defined;
        GridDefinitions::apply(&defined, grid);
        QCOMPARE(target->Options(), defined.Options());
    }
}

void TestLayout::catalogue()
{
    TMessages *messages = m_screen->msgPadrao;
    const QStringList lines = DataFiles::read(u"PRU87000.msg"_s).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 25);
    QCOMPARE(messages->Messages(), lines);
    const QStringList keys = {u"Excl"_s,
                              u"NmProcessoNull"_s,
                              u"ExclProcesso"_s,
                              u"NmTarefaNull"_s,
                              u"Periodicidades"_s,
                              u"CdPeriodicidadeInv"_s,
                              u"GrupoOperadores"_s,
                              u"CdGrupoperInv"_s,
                              u"Operadores"_s,
                              u"CdOperadorInv"_s,
                              u"CdOpGrupopNull"_s,
                              u"CdGrupoperJaCad"_s,
                              u"CdOperadorJaCad"_s,
                              u"DataFinVigInv"_s,
                              u"DataIniVigInv"_s,
                              u"DataIniVigNull"_s,
                              u"Data<Atual"_s,
                              u"DataInv"_s,
                              u"DtFin>DtIni"_s,
                              u"DataIniInfNotAlt"_s,
                              u"ProcNaoVigNotAlt"_s,
                              u"RedefSucess"_s,
                              u"PROC_N_EXC"_s,
                              u"PROC_C_ATIV"_s,
                              u"TARE_N_EXC"_s};
    for (int i = 0; i < keys.size(); ++i) {
        QVERIFY(lines.at(i).startsWith(keys.at(i) + u'|'));
        QVERIFY(messages->contains(keys.at(i)));
    }
    QCOMPARE(messages->Msg(u"Excl"_s), u"Confirma exclusão?"_s);
    QCOMPARE(messages->Msg(u"CdGrupoperJaCad"_s), u" Código de grupo de operadores informado já cadastrado"_s);
    QCOMPARE(formatMessage(messages->Msg(u"DataInv"_s), u"31/02/2027"_s), u"31/02/2027 não é uma data válida."_s);
    QCOMPARE(formatMessage(u"%s de %s: 100%%"_s, {u"1"_s, u"2"_s}), u"1 de 2: 100%"_s);
    QCOMPARE(formatMessage(u"%s e %s"_s, u"um"_s), u"um e "_s);
    QVERIFY(!messages->contains(u"excl"_s));
    QVERIFY(!messages->contains(u"Proc_n_exc"_s));
    QVERIFY(!messages->Msg(u"ChaveInexistente"_s).trimmed().isEmpty());
    // Canc lives in the base screen's own catalogue.
    QVERIFY(!messages->contains(u"Canc"_s));
    QVERIFY(!m_screen->BaseMessages()->Msg(u"Canc"_s).trimmed().isEmpty());
    QVERIFY(m_screen->BaseMessages()->contains(u"Canc"_s));
}

void TestLayout::componentsByName()
{
    // Handlers and tools find every component by its name.
    const QStringList names = {u"netProcessoUnidade"_s,
                               u"dtsPadrao"_s,
                               u"dtsTarefas"_s,
                               u"dtsOperadores"_s,
                               u"dtsVdPeridiocidade"_s,
                               u"dtsVdOperador"_s,
                               u"dtsVdGrupoper"_s,
                               u"qryVdPeridiocidade"_s,
                               u"qryVdOperador"_s,
                               u"qryVdGrupoper"_s,
                               u"dbgPadrao"_s,
                               u"dbgTarefas"_s,
                               u"dbgOperadores"_s,
                               u"panTitulo"_s,
                               u"panTarefas"_s,
                               u"panSequencia"_s,
                               u"panOperadores"_s,
                               u"sbtTarefaUp"_s,
                               u"sbtTarefaDown"_s,
                               u"sbtRedefinir"_s,
                               u"mnuRedefinir"_s,
                               u"msgPadrao"_s,
                               u"imgObs"_s,
                               u"cdsProcessosDTINIVIGENCIA"_s,
                               u"cdsProcessosDTFINVIGENCIA"_s};
    for (const QString &name : names) {
        QVERIFY2(m_screen->findChild<QObject *>(name), qPrintable(name));
    }
    // The record sets are those with a definition, each by its name.
    QStringList recordSets;
    for (const TClientDataSet *records :
         m_screen->findChildren<TClientDataSet *>(QString(), Qt::FindDirectChildrenOnly)) {
        recordSets << records->objectName();
    }
    recordSets.sort();
    QCOMPARE(recordSets, RecordSetDefinitions::names());
    QCOMPARE(m_screen->dtsPadrao->DataSet(), m_screen->cdsProcessos);
    QCOMPARE(m_screen->dtsTarefas->DataSet(), m_screen->cdsTarefas);
    QCOMPARE(m_screen->dtsOperadores->DataSet(), m_screen->cdsOperadores);
    QCOMPARE(m_screen->dbgTarefas->DataSource(), m_screen->dtsTarefas);
    QCOMPARE(m_screen->dbgOperadores->DataSource(), m_screen->dtsOperadores);
}

void TestLayout::pictureOfTheScreen()
{
    const QImage picture = m_screen->grab().toImage();
    const int inset = 1 + 2 + m_screen->dbgOperadores->frameWidth();
    const ScreenPictureGeometry g =
        measureScreenPicture(picture, m_screen->dbgOperadores->palette().color(QPalette::ToolTipBase),
                             m_screen->palette().color(QPalette::Window), inset,
                             {m_screen->dbgPadrao->palette().color(QPalette::Base), m_screen->dbgPadrao->frameWidth(),
                              m_screen->dbgPadrao->horizontalHeader()->height()});
    QVERIFY2(g.problem.isEmpty(), qPrintable(g.problem));
    QCOMPARE(g.screenLeft, 0);
    QCOMPARE(g.screenRight - g.screenLeft + 1, 846);
    QCOMPARE(g.screenRight - g.operatorsLeft + 1, 408);
    QCOMPARE(g.lowerTop, m_screen->panTarefas->mapTo(m_screen, QPoint(0, 0)).y());
    QCOMPARE(g.lowerTop, m_screen->panProcessos->mapTo(m_screen, QPoint(0, 0)).y() + 192 + 25);
    QVERIFY(g.lineAboveStrip);
    QCOMPARE(g.processHeight, 192);
    QVERIFY(g.stripBlankRows > 0);
    QVERIFY2(g.tasksInkLeft >= 8 && g.tasksInkLeft <= 10, qPrintable(QString::number(g.tasksInkLeft)));
    QVERIFY2(g.operatorsInkLeft >= 400 && g.operatorsInkLeft <= 402, qPrintable(QString::number(g.operatorsInkLeft)));
}

QTEST_MAIN(TestLayout)
#include "tst_layout.moc"
