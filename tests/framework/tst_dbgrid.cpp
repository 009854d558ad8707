#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPainter>
#include <QPaintEvent>
#include <QScreen>
#include <QStyleFactory>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include "Exceptions.h"
#include "FrameworkServices.h"
#include "FrameworkTestData.h"
#include "CellText.h"
#include "Guard.h"
#include "TDBGrid.h"

// The grid as a user drives it: keys to the window, clicks on cells; the
// record set and the grid follow each other, and the screen's events can
// refuse or swallow what the user does.
class TestDBGrid : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        setErrorDisplay([this](const QString &text, QWidget *) { m_errors << text; });
    }

    void init()
    {
        resetDialogs();
        m_errors.clear();
        m_window = new QWidget;
        auto *layout = new QVBoxLayout(m_window);
        m_other = new QLineEdit(m_window);
        m_other->setObjectName(u"outro"_s);
        layout->addWidget(m_other);
        m_ds = new TClientDataSet(m_window);
        m_ds->setObjectName(u"cdsPessoas"_s);
        definePeople(*m_ds);
        m_ds->SetData(people(5));
        m_dts = new TDataSource(m_window);
        m_dts->setDataSet(m_ds);
        m_grid = new TDBGrid(m_window);
        m_grid->setObjectName(u"dbgPessoas"_s);
        m_grid->setDataSource(m_dts);
        layout->addWidget(m_grid);
        // Every change the user drives keeps the model consistent.
        new QAbstractItemModelTester(m_grid->model(), QAbstractItemModelTester::FailureReportingMode::QtTest, m_window);
        m_window->resize(500, 300);
        m_window->show();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window));
        m_grid->setFocus();
        QTRY_VERIFY(m_grid->hasFocus());
    }

    void cleanup()
    {
        delete m_window;
        QCOMPARE(ModalDialogs::pendingAnswers(), 0);
    }

    void gridFollowsTheRecordSet()
    {
        m_ds->setRecNo(3);
        QCOMPARE(m_grid->currentIndex().row(), 2);
        m_ds->Last();
        QCOMPARE(m_grid->currentIndex().row(), 4);
    }

    void recordSetFollowsKeysAndClicks()
    {
        QCOMPARE(m_ds->RecNo(), 1);
        key(Qt::Key_Down);
        QCOMPARE(m_ds->RecNo(), 2);
        key(Qt::Key_Down);
        QCOMPARE(m_ds->RecNo(), 3);
        QTest::mouseClick(m_grid->viewport(), Qt::LeftButton, {}, m_grid->cellRect(4, 1).center());
        QCOMPARE(m_ds->RecNo(), 5);
        QCOMPARE(m_grid->SelectedIndex(), 1);
    }

    void refusedMoveKeepsTheRow_data()
    {
        QTest::addColumn<bool>("withError");
        QTest::newRow("silent stop") << false;
        QTest::newRow("error") << true;
    }
    void refusedMoveKeepsTheRow()
    {
        QFETCH(bool, withError);
        m_ds->BeforeScroll = [withError](TClientDataSet *) {
            if (withError) {
                throw EDatabaseError(u"Não pode sair desta linha."_s);
            }
            Abort();
        };
        key(Qt::Key_Down);
        QCOMPARE(m_ds->RecNo(), 1);
        QCOMPARE(m_grid->currentIndex().row(), 0);
        QTest::mouseClick(m_grid->viewport(), Qt::LeftButton, {}, m_grid->cellRect(3, 0).center());
        QCOMPARE(m_ds->RecNo(), 1);
        QCOMPARE(m_grid->currentIndex().row(), 0);
        QCOMPARE(m_errors.size(), withError ? 2 : 0);
        m_ds->BeforeScroll = nullptr;
        key(Qt::Key_Down);
        QCOMPARE(m_ds->RecNo(), 2);
    }

    void columnExitRefusalKeepsTheColumn()
    {
        QStringList log;
        m_grid->OnColExit = [&](QObject *sender) {
            auto *g = static_cast<TDBGrid *>(sender);
            log << u"exit %1"_s.arg(g->SelectedIndex());
            if (g->SelectedField()->FieldName() == u"NOME"_s && m_ds->FieldByName(u"NOME"_s)->AsString() == u"Ana"_s) {
                MensErro(u"Nome recusado"_s);
            }
        };
        m_grid->OnColEnter = [&](QObject *sender) {
            log << u"enter %1"_s.arg(static_cast<TDBGrid *>(sender)->SelectedIndex());
        };
        ModalDialogs::answerNext(u"OK"_s);
        key(Qt::Key_Right); // CODIGO -> NOME
        QCOMPARE(m_grid->SelectedIndex(), 1);
        key(Qt::Key_Right); // refused while on Ana
        QCOMPARE(m_grid->SelectedIndex(), 1);
        QCOMPARE(m_grid->currentIndex().column(), 1);
        QCOMPARE(ModalDialogs::shown().size(), 1);
        QCOMPARE(ModalDialogs::shown().at(0).text, u"Nome recusado"_s);
        QCOMPARE(log, (QStringList{u"exit 0"_s, u"enter 1"_s, u"exit 1"_s}));
        // A click on another column is refused the same way.
        ModalDialogs::answerNext(u"OK"_s);
        QTest::mouseClick(m_grid->viewport(), Qt::LeftButton, {}, m_grid->cellRect(0, 3).center());
        QCOMPARE(m_grid->SelectedIndex(), 1);
        key(Qt::Key_Down); // same column, another row: no column exit
        QCOMPARE(m_ds->RecNo(), 2);
        key(Qt::Key_Right);
        QCOMPARE(m_grid->SelectedIndex(), 2);
    }

    void keyDownSetToZeroGoesNoFurther()
    {
        QList<quint16> seen;
        m_grid->OnKeyDown = [&](QObject *, quint16 &k, Qt::KeyboardModifiers) {
            seen << k;
            if (k == 45 || k == 40) {
                k = 0;
            }
        };
        key(Qt::Key_Insert);
        key(Qt::Key_Down);
        QCOMPARE(m_ds->State(), TDataSetState::dsBrowse);
        QCOMPARE(m_ds->RecNo(), 1);
        key(Qt::Key_Backspace);
        key(Qt::Key_Delete);
        key(Qt::Key_Space);
        key(Qt::Key_Tab);
        key(Qt::Key_Return);
        QCOMPARE(seen, (QList<quint16>{45, 40, 8, 46, 32, 9, 13}));
        m_grid->OnKeyDown = nullptr;
        key(Qt::Key_Insert);
        QCOMPARE(m_ds->State(), TDataSetState::dsInsert);
    }

    void keyPressSetToZeroTypesNothing()
    {
        m_grid->setSelectedIndex(1);
        m_grid->OnKeyPress = [](QObject *, QChar &c) {
            if (c.isDigit()) {
                c = QChar();
            } else if (c.isLower()) {
                c = c.toUpper();
            }
        };
        key(Qt::Key_5);
        QVERIFY(!m_grid->EditorMode());
        QCOMPARE(m_ds->State(), TDataSetState::dsBrowse);
        type(u"zx"_s);
        QVERIFY(m_grid->EditorMode());
        QCOMPARE(m_ds->State(), TDataSetState::dsEdit); // typing put the record set into edit state
        type(u"9"_s);
        key(Qt::Key_Return);
        QTRY_VERIFY(!m_grid->EditorMode());
        QCOMPARE(m_ds->FieldByName(u"NOME"_s)->AsString(), u"ZX"_s);
    }

    void typingRunsEditAndARefusalOpensNoEditor()
    {
        m_grid->setSelectedIndex(1);
        m_ds->BeforeEdit = [](TClientDataSet *) { Abort(); };
        type(u"a"_s);
        QVERIFY(!m_grid->EditorMode());
        QCOMPARE(m_ds->State(), TDataSetState::dsBrowse);
        m_ds->BeforeEdit = nullptr;
        type(u"a"_s);
        QVERIFY(m_grid->EditorMode());
    }

    void cellsShowGetTextAndEditorsStartFromIt()
    {
        TField *nome = m_ds->FieldByName(u"NOME"_s);
        nome->OnGetText = [](TField *f, QString &text, bool display) {
            text = display ? u"Sr(a). %1"_s.arg(f->AsString()) : f->AsString().toLower();
        };
        QCOMPARE(m_grid->model()->index(0, 1).data().toString(), u"Sr(a). Ana"_s);
        m_grid->setSelectedIndex(1);
        key(Qt::Key_F2);
        QVERIFY(m_grid->EditorMode());
        auto *editor = m_grid->findChild<QLineEdit *>(u"gridEditor"_s);
        QVERIFY(editor);
        QCOMPARE(editor->text(), u"ana"_s);
        key(Qt::Key_Escape); // cell edit cancelled
        QVERIFY(!m_grid->EditorMode());
        QCOMPARE(nome->AsString(), u"Ana"_s);
        key(Qt::Key_Escape); // then the row's edit
        QCOMPARE(m_ds->State(), TDataSetState::dsBrowse);
    }

    void anEditorOpenedWithoutTypingChangesNothingUntilTyping()
    {
        m_grid->setSelectedIndex(1);
        key(Qt::Key_Return); // on a cell Enter opens nothing
        QVERIFY(!m_grid->EditorMode());
        key(Qt::Key_F2);
        QVERIFY(m_grid->EditorMode());
        QVERIFY(m_grid->Focused());
        QVERIFY(!m_grid->hasFocus()); // the editor has it
        QCOMPARE(m_ds->State(), TDataSetState::dsBrowse);
        key(Qt::Key_End);
        QCOMPARE(m_ds->State(), TDataSetState::dsBrowse);
        type(u"x"_s);
        QCOMPARE(m_ds->State(), TDataSetState::dsEdit);
        key(Qt::Key_Return);
        QTRY_COMPARE(m_ds->FieldByName(u"NOME"_s)->AsString(), u"Anax"_s);
    }

    void typedTextGoesThroughSetText()
    {
        QStringList received;
        TField *nome = m_ds->FieldByName(u"NOME"_s);
        nome->OnSetText = [&](TField *f, const QString &text) {
            received << text;
            f->setAsString(text.trimmed().toUpper());
        };
        m_grid->setSelectedIndex(1);
        type(u"beto"_s);
        key(Qt::Key_Tab); // commits and moves on
        QTRY_COMPARE(received, QStringList{u"beto"_s});
        QCOMPARE(nome->AsString(), u"BETO"_s);
        QCOMPARE(m_grid->SelectedIndex(), 2);
        QCOMPARE(m_ds->State(), TDataSetState::dsEdit);
    }

    void refusedTextKeepsTheEditor()
    {
        TField *nome = m_ds->FieldByName(u"NOME"_s);
        nome->OnSetText = [](TField *, const QString &text) {
            if (text == u"x"_s) {
                throw EDatabaseError(u"Texto inválido"_s);
            }
        };
        m_grid->setSelectedIndex(1);
        type(u"x"_s);
        key(Qt::Key_Return);
        QCOMPARE(m_errors, QStringList{u"Texto inválido"_s});
        QVERIFY(m_grid->EditorMode());
        // The editor that stayed open still hands its keys to the key events first.
        QList<quint16> seen;
        m_grid->OnKeyDown = [&](QObject *, quint16 &k, Qt::KeyboardModifiers) { seen << std::exchange(k, 0); };
        key(Qt::Key_Tab);
        QCOMPARE(seen, QList<quint16>{9});
        QCOMPARE(m_errors.size(), 1);
        m_grid->OnKeyDown = nullptr;
        QVERIFY(!m_grid->commitEdit());
    }

    void editMaskBecomesTheInputMask()
    {
        QString received;
        TField *data = m_ds->FieldByName(u"NASCIMENTO"_s);
        data->setEditMask(DateMask());
        data->OnSetText = [&](TField *, const QString &text) { received = text; };
        m_grid->setSelectedIndex(2);
        type(u"0612"_s);
        auto *editor = m_grid->findChild<QLineEdit *>(u"gridEditor"_s);
        QVERIFY(editor);
        QCOMPARE(editor->inputMask(), DateMask());
        key(Qt::Key_Return);
        // Day, slash, month, slash, year, with blanks where nothing was typed.
        QTRY_COMPARE(received, u"06/12/    "_s);
    }

    void focusControlMovesFocusToTheCell()
    {
        m_other->setFocus();
        QTRY_VERIFY(m_other->hasFocus());
        m_ds->FieldByName(u"ATIVO"_s)->FocusControl();
        QTRY_VERIFY(m_grid->hasFocus());
        QCOMPARE(m_grid->SelectedIndex(), 3);
        QCOMPARE(m_grid->SelectedField()->FieldName(), u"ATIVO"_s);
    }

    void drawEventRunsAfterTheDefaultDrawing()
    {
        struct Call
        {
            int dataCol;
            QString field;
            QRect rect;
            QColor brush;
            int row;
            TGridDrawState state;
        };
        QList<Call> calls;
        m_grid->OnDrawColumnCell = [&](QObject *sender, QPainter &painter, const QRect &rect, int dataCol,
                                       TColumn *column, TGridDrawState state) {
            auto *g = static_cast<TDBGrid *>(sender);
            calls.append({dataCol, column->FieldName(), rect, painter.brush().color(), g->DrawingRow(), state});
            if (column->FieldName() == u"ATIVO"_s) {
                painter.fillRect(rect, Qt::red);
            }
        };
        m_grid->viewport()->repaint();
        QVERIFY(calls.size() >= 20);
        bool sawCurrent = false;
        for (const Call &c : std::as_const(calls)) {
            QCOMPARE(c.rect, m_grid->cellRect(c.row, c.dataCol));
            QCOMPARE(c.field, m_grid->Columns()->Items(c.dataCol)->FieldName());
            if (c.row == 0 && c.dataCol == 0) {
                sawCurrent = true;
                QVERIFY(c.state & gdSelected);
                QVERIFY(c.state & gdFocused);
                QCOMPARE(c.brush, m_grid->palette().color(QPalette::Active, QPalette::Highlight));
            } else {
                QVERIFY(!(c.state & gdSelected));
            }
        }
        QVERIFY(sawCurrent);
        QCOMPARE(m_grid->DrawingRow(), -1);
        // What the handler painted is on screen.
        const QImage image = m_grid->viewport()->grab().toImage();
        const QPoint p = m_grid->cellRect(1, 3).center();
        QCOMPARE(image.pixelColor(p), QColor(Qt::red));

        // The brush is the background the default drawing used: filling with it
        // leaves the cell's background (here a selected cell) unchanged.
        m_grid->OnDrawColumnCell = [](QObject *, QPainter &painter, const QRect &rect, int dataCol, TColumn *,
                                      TGridDrawState) {
            if (dataCol == 0) {
                painter.fillRect(rect, painter.brush());
            }
        };
        m_grid->viewport()->repaint();
        const QImage filled = m_grid->viewport()->grab().toImage();
        const QRect cell = m_grid->cellRect(0, 0);
        const QColor background = filled.pixelColor(cell.topLeft() + QPoint(1, 1));
        QCOMPARE(filled.pixelColor(cell.center()), background);
        QCOMPARE(background, m_grid->palette().color(QPalette::Active, QPalette::Highlight));
    }

    void ellipsisButtonRunsTheEvent()
    {
        int clicks = 0;
        m_grid->OnEditButtonClick = [&](QObject *) { ++clicks; };
        m_grid->Columns()->Add(u"CODIGO"_s);
        m_grid->Columns()->Add(u"NOME"_s)->setButtonStyle(cbsEllipsis);
        m_grid->setSelectedIndex(1);
        const QRect cell = m_grid->cellRect(0, 1);
        QTest::mouseClick(m_grid->viewport(), Qt::LeftButton, {}, QPoint(cell.right() - 4, cell.center().y()));
        QCOMPARE(clicks, 1);
        QTest::keyClick(m_window->windowHandle(), Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(clicks, 2);
        // A click in the middle of the cell is not the button.
        QTest::mouseClick(m_grid->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(clicks, 2);
        // While typing, the button stays uncovered; pressing it hands the text over first.
        QString nameAtClick;
        m_grid->OnEditButtonClick = [&](QObject *) {
            ++clicks;
            nameAtClick = m_ds->FieldByName(u"NOME"_s)->AsString();
        };
        type(u"lu"_s);
        QVERIFY(m_grid->EditorMode());
        QTest::mouseClick(m_grid->viewport(), Qt::LeftButton, {}, QPoint(cell.right() - 4, cell.center().y()));
        QCOMPARE(clicks, 3);
        QCOMPARE(nameAtClick, u"lu"_s);
    }

    void doubleClickRunsTheEvent()
    {
        int clicks = 0;
        m_grid->OnDblClick = [&](QObject *) { ++clicks; };
        const QPoint p = m_grid->cellRect(2, 1).center();
        QTest::mouseClick(m_grid->viewport(), Qt::LeftButton, {}, p);
        QTest::mouseDClick(m_grid->viewport(), Qt::LeftButton, {}, p);
        QCOMPARE(clicks, 1);
        QCOMPARE(m_ds->RecNo(), 3);
    }

    void enterRunsOnceWhenFocusComesIn()
    {
        int enters = 0;
        m_grid->OnEnter = [&](QObject *) { ++enters; };
        m_other->setFocus();
        QTRY_VERIFY(m_other->hasFocus());
        m_grid->setFocus();
        QTRY_VERIFY(m_grid->hasFocus());
        QCOMPARE(enters, 1);
        m_grid->setSelectedIndex(1);
        type(u"q"_s); // the editor takes the focus and gives it back
        key(Qt::Key_Return);
        QTRY_VERIFY(m_grid->hasFocus());
        QCOMPARE(enters, 1);
        // Focus taken away to nowhere and given back counts as leaving and entering.
        m_grid->clearFocus();
        m_grid->setFocus();
        QTRY_COMPARE(enters, 2);
    }

    void cancelOnExitDropsAnUntouchedNewRow()
    {
        key(Qt::Key_Insert);
        QCOMPARE(m_ds->State(), TDataSetState::dsInsert);
        QCOMPARE(m_grid->model()->rowCount(), 6);
        m_other->setFocus();
        QTRY_COMPARE(m_ds->State(), TDataSetState::dsBrowse);
        QCOMPARE(m_grid->model()->rowCount(), 5);

        // A row the user typed into stays.
        m_grid->setFocus();
        QTRY_VERIFY(m_grid->hasFocus());
        key(Qt::Key_Insert);
        m_grid->setSelectedIndex(1);
        type(u"novo"_s);
        key(Qt::Key_Return);
        m_other->setFocus();
        QTRY_VERIFY(m_other->hasFocus());
        QCOMPARE(m_ds->State(), TDataSetState::dsInsert);
        QCOMPARE(m_ds->FieldByName(u"NOME"_s)->AsString(), u"novo"_s);
    }

    void anotherChildWindowTakingFocusIsNoExit()
    {
        QMdiArea area;
        area.resize(800, 500);
        auto *form = new QWidget;
        auto *formLayout = new QVBoxLayout(form);
        TClientDataSet ds;
        definePeople(ds);
        ds.SetData(people(2));
        TDataSource dts;
        dts.setDataSet(&ds);
        auto *grid = new TDBGrid(form);
        grid->setDataSource(&dts);
        formLayout->addWidget(grid);
        auto *otherForm = new QLineEdit;
        QMdiSubWindow *sub = area.addSubWindow(form);
        QMdiSubWindow *otherSub = area.addSubWindow(otherForm);
        int exits = 0;
        grid->OnExit = [&](QObject *) { ++exits; };
        area.show();
        area.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&area));
        area.setActiveSubWindow(sub);
        grid->setFocus();
        QTRY_VERIFY(grid->hasFocus());
        ds.Insert();
        area.setActiveSubWindow(otherSub);
        otherForm->setFocus();
        QTRY_VERIFY(otherForm->hasFocus());
        QCOMPARE(exits, 0);
        QCOMPARE(ds.State(), TDataSetState::dsInsert); // the new row waits for the user's return

        // Back in the first form, the user moves to another of its controls: that is an exit.
        auto *sibling = new QLineEdit(form);
        formLayout->addWidget(sibling);
        sibling->show();
        area.setActiveSubWindow(sub);
        sibling->setFocus();
        QTRY_VERIFY(sibling->hasFocus());
        QCOMPARE(exits, 1);
        QCOMPARE(ds.State(), TDataSetState::dsBrowse); // the untouched new row is gone
    }

    // Rows are deleted only through the screen's delete command, with its own
    // question: the grid itself deletes nothing, whatever modifiers go with Delete.
    void deleteKeyNeverDeletesARow_data()
    {
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Delete") << int(Qt::NoModifier);
        QTest::newRow("Ctrl+Delete") << int(Qt::ControlModifier);
        QTest::newRow("Ctrl+Shift+Delete") << int(Qt::ControlModifier | Qt::ShiftModifier);
    }
    void deleteKeyNeverDeletesARow()
    {
        QFETCH(int, modifiers);
        QList<int> deletes; // the modifiers each Delete reached the handler with
        m_grid->OnKeyDown = [&](QObject *, quint16 &k, Qt::KeyboardModifiers shift) {
            if (k == 46) {
                deletes << int(shift);
            }
        };
        // A question that opened would take this answer and delete at once.
        ModalDialogs::answerNext(u"Sim"_s);
        m_ds->setRecNo(3);
        QTest::keyClick(m_window->windowHandle(), Qt::Key_Delete, Qt::KeyboardModifiers(modifiers));
        QCOMPARE(deletes, QList<int>{modifiers});
        QCOMPARE(m_ds->RecordCount(), 5);
        QCOMPARE(m_ds->RecNo(), 3);
        QCOMPARE(m_ds->State(), TDataSetState::dsBrowse);
        QCOMPARE(m_ds->ChangeCount(), 0);
        QVERIFY(ModalDialogs::shown().isEmpty());
        QCOMPARE(ModalDialogs::pendingAnswers(), 1);
        ModalDialogs::clearAnswers();
    }

    void typingIntoAnEmptyGridStartsARow()
    {
        m_ds->EmptyDataSet();
        QCOMPARE(m_grid->model()->rowCount(), 0);
        m_grid->setSelectedIndex(1);
        type(u"primeira"_s);
        QCOMPARE(m_ds->State(), TDataSetState::dsInsert);
        key(Qt::Key_Return);
        QTRY_COMPARE(m_ds->FieldByName(u"NOME"_s)->AsString(), u"primeira"_s);
    }

    void optionsApplyAtRunTime()
    {
        m_grid->setOption(dgTitles, false);
        QVERIFY(m_grid->horizontalHeader()->isHidden());
        m_grid->setOption(dgTitles, true);
        QVERIFY(!m_grid->horizontalHeader()->isHidden());
        m_grid->setOption(dgEditing, false);
        m_grid->setSelectedIndex(1);
        type(u"a"_s);
        QVERIFY(!m_grid->EditorMode());
        QCOMPARE(m_ds->State(), TDataSetState::dsBrowse);
        m_grid->setTag(7);
        QCOMPARE(m_grid->Tag(), 7);
    }

    void textSizeCountsCharacters()
    {
        // NOME holds 20 characters: 20 emoji fit (40 UTF-16 units), a 21st does not.
        m_grid->setSelectedIndex(1);
        key(Qt::Key_F2);
        QVERIFY(m_grid->EditorMode());
        auto *editor = m_grid->findChild<QLineEdit *>(u"gridEditor"_s);
        QVERIFY(editor);
        editor->clear();
        const QString smile = QString::fromUcs4(U"\U0001F600", 1);
        for (int i = 0; i < 21; ++i) {
            QTest::sendKeyEvent(QTest::Click, m_window->windowHandle(), Qt::Key_unknown, smile, {});
        }
        QCOMPARE(editor->text(), smile.repeated(20));
        key(Qt::Key_Return);
        QTRY_COMPARE(m_ds->FieldByName(u"NOME"_s)->AsString(), smile.repeated(20));
        QVERIFY(m_errors.isEmpty());
    }

    // A move of the current row draws the row left and the row arrived at,
    // cells and indicator, and nothing else; what the window then shows is
    // what drawing the whole grid anew shows.
    void moveDrawsOnlyTheTwoRows()
    {
        QCOMPARE(m_ds->RecNo(), 1);
        m_window->repaint();
        QCoreApplication::processEvents();
        PaintedRegion cells(m_grid->viewport());
        PaintedRegion indicator(m_grid->verticalHeader()->viewport());
        key(Qt::Key_Down);
        key(Qt::Key_Down);
        key(Qt::Key_Down);
        QCOMPARE(m_ds->RecNo(), 4);
        QCoreApplication::processEvents();
        QCOMPARE(cells.region, QRegion(rowRect(0)) | rowRect(1) | rowRect(2) | rowRect(3));
        QCOMPARE(indicator.region, QRegion(indicatorRect(0)) | indicatorRect(1) | indicatorRect(2) | indicatorRect(3));

        // Moved by the record set, and far: the same two rows only.
        cells.region = indicator.region = QRegion();
        m_ds->setRecNo(2);
        QCoreApplication::processEvents();
        QCOMPARE(cells.region, QRegion(rowRect(1)) | rowRect(3));
        QCOMPARE(indicator.region, QRegion(indicatorRect(1)) | indicatorRect(3));

        QVERIFY(shownIsDrawn());
    }

    // Plain cells drawn from their kept layouts look exactly as the style
    // draws them: short and cut texts, left, right and centred, accents, an
    // empty cell, the current row with and without the focus, and again once
    // every text is laid out.
    void keptTextsDrawAsTheStyle()
    {
        DataPacket packet;
        packet.fields = peopleDefs();
        packet.rows = {Row{1.0, u"Ana"_s, QVariant(), u"S"_s}, Row{22.0, u"Bruno Albuquerque F."_s, 45000.5, u"N"_s},
                       Row{333.25, u"Ção Ínês Ümlaut"_s, QVariant(), u"S"_s},
                       Row{-4444.0, QString(), 45001.0, QVariant()}, Row{5.0, u"  espaços  "_s, QVariant(), u"S"_s}};
        m_ds->SetData(packet);
        m_grid->Columns()->Items(1)->setWidth(60); // the long names are cut
        m_grid->Columns()->Items(3)->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
        m_grid->Columns()->Items(0)->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        m_ds->setRecNo(2);
        CellTextCache &texts = m_grid->cellTexts();
        const TDBGridOptions plain = m_grid->Options();
        for (const TDBGridOptions options : {plain, plain | dgAlwaysShowSelection | dgRowSelect}) {
            m_grid->setOptions(options);
            for (const bool focused : {true, false}) {
                if (focused) {
                    m_grid->setFocus();
                } else {
                    m_other->setFocus();
                }
                QCoreApplication::processEvents();
                const QByteArray what =
                    (focused ? "focused" : "unfocused") + QByteArray(options == plain ? "" : ", whole row selected");
                texts.setEnabled(false);
                const QImage byStyle = m_grid->grab().toImage();
                texts.setEnabled(true);
                const QImage laidOut = m_grid->grab().toImage();
                QVERIFY(texts.size() > 10);
                const QImage kept = m_grid->grab().toImage();
                QVERIFY2(laidOut == byStyle, what.constData());
                QVERIFY2(kept == byStyle, what.constData());
            }
        }
    }

    // Rows inserted and deleted above the current one, then a move: the row
    // the grid left is followed to where the change put it, and the window
    // shows what a full drawing shows.
    void drawnRowsFollowInsertsAndDeletes()
    {
        // The screen marks its current row, in every cell of it.
        m_grid->OnDrawColumnCell = [this](QObject *, QPainter &painter, const QRect &rect, int, TColumn *,
                                          TGridDrawState) {
            if (m_grid->DrawingRow() == m_ds->currentRow()) {
                painter.fillRect(rect.adjusted(1, 1, -rect.width() + 5, -1), Qt::red);
            }
        };
        m_ds->SetData(people(8));
        m_ds->setRecNo(5);
        QCoreApplication::processEvents();
        m_ds->setRecNo(2);
        m_ds->Insert();
        m_ds->FieldByName(u"CODIGO"_s)->setAsFloat(50);
        m_ds->FieldByName(u"NOME"_s)->setAsString(u"Nova"_s);
        m_ds->Post();
        QCoreApplication::processEvents();
        m_ds->setRecNo(7);
        QCoreApplication::processEvents();
        QVERIFY(shownIsDrawn());
        m_ds->setRecNo(1);
        m_ds->Delete();
        QCoreApplication::processEvents();
        m_ds->setRecNo(4);
        QCoreApplication::processEvents();
        QVERIFY(shownIsDrawn());
        key(Qt::Key_Up);
        key(Qt::Key_Up);
        QCoreApplication::processEvents();
        QVERIFY(shownIsDrawn());
    }

    // Right to left, and in a style that draws its own way (the style then
    // draws every cell); a new font starts the kept texts over.
    void keptTextsFollowDirectionStyleAndFont()
    {
        CellTextCache &texts = m_grid->cellTexts();
        m_grid->setLayoutDirection(Qt::RightToLeft);
        QCoreApplication::processEvents();
        texts.setEnabled(false);
        const QImage byStyle = m_grid->grab().toImage();
        texts.setEnabled(true);
        QVERIFY(m_grid->grab().toImage() == byStyle);
        QVERIFY(texts.size() > 0);
        m_grid->setLayoutDirection(Qt::LeftToRight);

        // Same cells, other font: only the font tells the kept texts apart.
        for (int c = 0; c < m_grid->Columns()->Count(); ++c) {
            m_grid->Columns()->Items(c)->setWidth(90);
        }
        m_grid->grab();
        QFont bigger = m_grid->font();
        bigger.setPointSize(bigger.pointSize() + 3);
        m_grid->setFont(bigger);
        QCoreApplication::processEvents();
        const QImage laidOut = m_grid->grab().toImage();
        texts.setEnabled(false);
        QVERIFY(laidOut == m_grid->grab().toImage());
        texts.setEnabled(true);

        std::unique_ptr<QStyle> windows(QStyleFactory::create(u"Windows"_s));
        QVERIFY(windows);
        m_grid->setStyle(windows.get());
        texts.clear();
        m_grid->grab();
        QCOMPARE(texts.size(), 0);
        m_grid->setStyle(nullptr);
    }

    // With more rows than the row header measures, the indicator column
    // asks for the size the header would measure itself: one empty row and
    // the current row's glyph, where the header would have seen it (among
    // the first or the last hundred rows).
    void indicatorColumnSizeAsTheHeaderMeasures()
    {
        m_ds->SetData(people(1000));
        QHeaderView *header = m_grid->verticalHeader();
        const auto measured = [header] {
            header->headerDataChanged(Qt::Vertical, 0, header->count() - 1); // forgets what it measured
            return header->QHeaderView::sizeHint();
        };
        QSet<int> widths;
        for (const int row : {0, 1, 57, 99, 100, 500, 899, 900, 999}) {
            m_ds->setRecNo(row + 1);
            QCOMPARE(header->sizeHint(), measured());
            widths << header->sizeHint().width();
            m_ds->Edit();
            QCOMPARE(header->sizeHint(), measured());
            m_ds->Cancel();
        }
        QCOMPARE(widths.size(), 2); // the glyph counts at the ends only
        m_ds->setRecNo(1000);
        m_ds->Insert();
        QCOMPARE(header->sizeHint(), measured());
        m_ds->Cancel();
        // Few rows: the header measures them all.
        m_ds->SetData(people(150));
        m_ds->setRecNo(120);
        QCOMPARE(header->sizeHint(), measured());
    }

private:
    bool shownIsDrawn() const
    {
        const QImage shown =
            QGuiApplication::primaryScreen()
                ->grabWindow(m_window->winId(), m_grid->x(), m_grid->y(), m_grid->width(), m_grid->height())
                .toImage()
                .convertToFormat(QImage::Format_RGB32);
        return shown == m_grid->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
    // The union of what a widget's paint events covered.
    struct PaintedRegion : QObject
    {
        explicit PaintedRegion(QWidget *widget) { widget->installEventFilter(this); }
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Paint) {
                region |= static_cast<QPaintEvent *>(event)->region();
            }
            return false;
        }
        QRegion region;
    };
    QRect rowRect(int row) const
    {
        return QRect(0, m_grid->rowViewportPosition(row), m_grid->viewport()->width(), m_grid->rowHeight(row));
    }
    QRect indicatorRect(int row) const
    {
        QHeaderView *header = m_grid->verticalHeader();
        return QRect(0, header->sectionViewportPosition(row), header->viewport()->width(), header->sectionSize(row));
    }
    void key(Qt::Key k) { QTest::keyClick(m_window->windowHandle(), k); }
    void type(const QString &text)
    {
        for (const QChar c : text) {
            QTest::keyClick(m_window->windowHandle(), c.toLatin1());
        }
    }

    QWidget *m_window = nullptr;
    QLineEdit *m_other = nullptr;
    TClientDataSet *m_ds = nullptr;
    TDataSource *m_dts = nullptr;
    TDBGrid *m_grid = nullptr;
    QStringList m_errors;
};

QTEST_MAIN(TestDBGrid)
#include "tst_dbgrid.moc"
