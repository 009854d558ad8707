#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>

#include "DataSetModel.h"
#include "FrameworkTestData.h"
#include "TDBGrid.h"

// The grid's model follows the record set through Qt's precise row signals,
// and stays consistent for QAbstractItemModelTester through every change.
class TestGridModel : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_ds = new TClientDataSet(this);
        m_ds->setObjectName(u"cdsPessoas"_s);
        definePeople(*m_ds);
        m_ds->SetData(people(5));
        m_dts = new TDataSource(this);
        m_dts->setDataSet(m_ds);
        m_grid = new TDBGrid;
        m_grid->setDataSource(m_dts);
        m_tester =
            new QAbstractItemModelTester(m_grid->model(), QAbstractItemModelTester::FailureReportingMode::QtTest, this);
    }
    void cleanup()
    {
        delete m_tester;
        delete m_grid;
        delete m_dts;
        delete m_ds;
    }

    void columnsComeFromTheFields()
    {
        QCOMPARE(m_grid->model()->columnCount(), 4);
        QCOMPARE(m_grid->model()->rowCount(), 5);
        QCOMPARE(m_grid->model()->headerData(1, Qt::Horizontal).toString(), u"NOME"_s);
        QCOMPARE(m_grid->model()->index(2, 1).data().toString(), u"Carla"_s);
    }

    void insertIsOneRowInsertNotAReset()
    {
        QSignalSpy inserted(m_grid->model(), &QAbstractItemModel::rowsInserted);
        QSignalSpy reset(m_grid->model(), &QAbstractItemModel::modelReset);
        m_ds->setRecNo(3);
        m_ds->Insert();
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(inserted.at(0).at(1).toInt(), 2);
        QCOMPARE(reset.count(), 0);
        QCOMPARE(m_grid->model()->rowCount(), 6);
        m_ds->FieldByName(u"NOME"_s)->setAsString(u"Nova"_s);
        m_ds->FieldByName(u"CODIGO"_s)->setAsFloat(99);
        m_ds->Post();
        QCOMPARE(m_grid->model()->rowCount(), 6);
        QCOMPARE(reset.count(), 0);
    }

    void cancelledInsertRemovesTheRow()
    {
        QSignalSpy removed(m_grid->model(), &QAbstractItemModel::rowsRemoved);
        m_ds->Append();
        QCOMPARE(m_grid->model()->rowCount(), 6);
        m_ds->Cancel();
        QCOMPARE(m_grid->model()->rowCount(), 5);
        QCOMPARE(removed.count(), 1);
    }

    void deleteIsOneRowRemove()
    {
        QSignalSpy removed(m_grid->model(), &QAbstractItemModel::rowsRemoved);
        QSignalSpy reset(m_grid->model(), &QAbstractItemModel::modelReset);
        m_ds->setRecNo(2);
        m_ds->Delete();
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed.at(0).at(1).toInt(), 1);
        QCOMPARE(reset.count(), 0);
        QCOMPARE(m_grid->model()->index(1, 1).data().toString(), u"Carla"_s);
    }

    void editChangesOneRow()
    {
        QSignalSpy changed(m_grid->model(), &QAbstractItemModel::dataChanged);
        QSignalSpy reset(m_grid->model(), &QAbstractItemModel::modelReset);
        m_ds->setRecNo(4);
        m_ds->Edit();
        m_ds->FieldByName(u"NOME"_s)->setAsString(u"Diego"_s);
        m_ds->Post();
        QVERIFY(changed.count() >= 1);
        for (const auto &args : changed) {
            QCOMPARE(args.at(0).value<QModelIndex>().row(), 3);
        }
        QCOMPARE(reset.count(), 0);
        QCOMPARE(m_grid->model()->index(3, 1).data().toString(), u"Diego"_s);
    }

    void indexOrderMovesRows()
    {
        m_ds->addIndex(u"idxCodigo"_s, u"CODIGO"_s);
        m_ds->setIndexName(u"idxCodigo"_s); // a reset: the whole order may change
        QCOMPARE(m_grid->model()->index(0, 1).data().toString(), u"Ana"_s);
        QSignalSpy moved(m_grid->model(), &QAbstractItemModel::rowsMoved);
        QSignalSpy reset(m_grid->model(), &QAbstractItemModel::modelReset);
        m_ds->First();
        m_ds->Edit();
        m_ds->FieldByName(u"CODIGO"_s)->setAsFloat(50);
        m_ds->Post();
        QCOMPARE(m_grid->model()->index(4, 1).data().toString(), u"Ana"_s);
        QCOMPARE(m_grid->model()->index(0, 1).data().toString(), u"Bruno"_s);
        QCOMPARE(moved.count(), 1);
        QCOMPARE(reset.count(), 0);
    }

    void refillResets()
    {
        QSignalSpy reset(m_grid->model(), &QAbstractItemModel::modelReset);
        m_ds->SetData(people(3));
        QCOMPARE(reset.count(), 1);
        QCOMPARE(m_grid->model()->rowCount(), 3);
        m_ds->EmptyDataSet();
        QCOMPARE(m_grid->model()->rowCount(), 0);
        m_ds->Close();
        QCOMPARE(m_grid->model()->rowCount(), 0);
    }

    void columnsAddedByCodeReplaceTheFieldColumns()
    {
        TColumn *c = m_grid->Columns()->Add(u"NOME"_s);
        c->setTitle(u"Nome da pessoa"_s);
        c->setWidth(120);
        c->setReadOnly(true);
        m_grid->Columns()->Add(u"CODIGO"_s)->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        QCOMPARE(m_grid->model()->columnCount(), 2);
        QCOMPARE(m_grid->model()->headerData(0, Qt::Horizontal).toString(), u"Nome da pessoa"_s);
        QCOMPARE(m_grid->horizontalHeader()->sectionSize(0) - m_grid->gridLineWidth(), 120);
        QCOMPARE(m_grid->cellRect(0, 0).width(), 120); // the grid line lies beyond the cell
        QVERIFY(!(m_grid->model()->flags(m_grid->model()->index(0, 0)) & Qt::ItemIsEditable));
        QVERIFY(m_grid->model()->flags(m_grid->model()->index(0, 1)) & Qt::ItemIsEditable);
        m_grid->setOption(dgEditing, false);
        QVERIFY(!(m_grid->model()->flags(m_grid->model()->index(0, 1)) & Qt::ItemIsEditable));
        QCOMPARE(m_grid->model()->index(0, 1).data(Qt::TextAlignmentRole).value<Qt::Alignment>(),
                 Qt::AlignRight | Qt::AlignVCenter);
        // The refill keeps the columns chosen by code.
        m_ds->SetData(people(2));
        QCOMPARE(m_grid->model()->columnCount(), 2);
    }

    // Columns added and set up between BeginUpdate and EndUpdate are one
    // change of the set of columns: one reset, no header change per column,
    // and the grid takes every column's geometry at its end.
    void columnsChangedInOneUpdateAreOneReset()
    {
        QSignalSpy reset(m_grid->model(), &QAbstractItemModel::modelReset);
        QSignalSpy header(m_grid->model(), &QAbstractItemModel::headerDataChanged);
        TDBGridColumns *columns = m_grid->Columns();
        columns->BeginUpdate();
        columns->Clear();
        TColumn *name = columns->Add(u"NOME"_s);
        name->setTitle(u"Nome da pessoa"_s);
        name->setWidth(133);
        columns->BeginUpdate(); // nested: the outer end counts
        columns->Add(u"CODIGO"_s)->setWidth(41);
        columns->EndUpdate();
        QCOMPARE(reset.count(), 0);
        columns->Add(u"ATIVO"_s)->setVisible(false);
        columns->EndUpdate();
        QCOMPARE(reset.count(), 1);
        QCOMPARE(header.count(), 0);
        QCOMPARE(m_grid->model()->columnCount(), 3);
        QCOMPARE(m_grid->model()->headerData(0, Qt::Horizontal).toString(), u"Nome da pessoa"_s);
        QCOMPARE(m_grid->horizontalHeader()->sectionSize(0) - m_grid->gridLineWidth(), 133);
        QCOMPARE(m_grid->horizontalHeader()->sectionSize(1) - m_grid->gridLineWidth(), 41);
        QVERIFY(m_grid->isColumnHidden(2));
        QCOMPARE(m_grid->model()->index(1, 0).data().toString(), u"Bruno"_s);
        // Outside an update each change is told as it happens.
        name->setWidth(90);
        QCOMPARE(header.count(), 1);
        QCOMPARE(m_grid->horizontalHeader()->sectionSize(0) - m_grid->gridLineWidth(), 90);
    }

    // The model needs no view: it owns its columns and says when they change.
    void aModelWithoutAViewFollowsItsColumns()
    {
        DataSetModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setDataSet(m_ds);
        QCOMPARE(model.columnCount(), 4);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        model.columns()->Add(u"NOME"_s);
        QCOMPARE(reset.count(), 1);
        QCOMPARE(model.columnCount(), 1);
        QCOMPARE(model.index(2, 0).data().toString(), u"Carla"_s);
        m_ds->Append();
        QCOMPARE(model.rowCount(), 6);
        m_ds->Cancel();
        model.columns()->Clear();
        QCOMPARE(reset.count(), 2);
        QCOMPARE(model.columnCount(), 4);
        QCOMPARE(model.headerData(3, Qt::Horizontal).toString(), u"ATIVO"_s);
        model.setDataSet(nullptr);
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(model.columnCount(), 0);
    }

    // A change to one column reaches the header of that column only, and the
    // grid answers it with the column's geometry; the model does not start over.
    void aColumnChangeIsOneHeaderChange_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("title") << u"title"_s;
        QTest::newRow("title alignment") << u"titleAlignment"_s;
        QTest::newRow("width") << u"width"_s;
        QTest::newRow("width dragged by the user") << u"drag"_s;
        QTest::newRow("hidden") << u"hidden"_s;
    }
    void aColumnChangeIsOneHeaderChange()
    {
        QFETCH(QString, change);
        m_grid->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_grid));
        m_grid->Columns()->Add(u"CODIGO"_s);
        TColumn *column = m_grid->Columns()->Add(u"NOME"_s);
        QSignalSpy reset(m_grid->model(), &QAbstractItemModel::modelReset);
        QSignalSpy header(m_grid->model(), &QAbstractItemModel::headerDataChanged);
        if (change == u"title"_s) {
            column->setTitle(u"Nome"_s);
            QCOMPARE(m_grid->model()->headerData(1, Qt::Horizontal).toString(), u"Nome"_s);
        } else if (change == u"titleAlignment"_s) {
            column->setTitleAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
            QCOMPARE(m_grid->model()->headerData(1, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>(),
                     Qt::AlignHCenter | Qt::AlignVCenter);
        } else if (change == u"width"_s) {
            column->setWidth(77);
        } else if (change == u"drag"_s) {
            m_grid->horizontalHeader()->resizeSection(1, 77 + m_grid->gridLineWidth());
        } else {
            column->setVisible(false);
        }
        if (change == u"width"_s || change == u"drag"_s) {
            QCOMPARE(column->Width(), 77);
        }
        QCOMPARE(m_grid->isColumnHidden(1), change == u"hidden"_s);
        if (change != u"hidden"_s) {
            QCOMPARE(m_grid->horizontalHeader()->sectionSize(1) - m_grid->gridLineWidth(), column->Width());
        }
        QCOMPARE(reset.count(), 0);
        QCOMPARE(header.count(), 1);
        QCOMPARE(header.at(0).at(0).value<Qt::Orientation>(), Qt::Horizontal);
        QCOMPARE(header.at(0).at(1).toInt(), 1);
        QCOMPARE(header.at(0).at(2).toInt(), 1);
        // Columns added by code keep their geometry when the rows start over.
        m_ds->SetData(people(2));
        QCOMPARE(m_grid->isColumnHidden(1), change == u"hidden"_s);
        if (change != u"hidden"_s) {
            QCOMPARE(m_grid->horizontalHeader()->sectionSize(1) - m_grid->gridLineWidth(), column->Width());
        }
    }

    // A column without a width of its own is as wide as its title or its
    // field, in the grid's font, measured again whenever one of them changes.
    void measuredWidthFollowsTitleAndFont()
    {
        TColumn *column = m_grid->Columns()->Add(u"NOME"_s);
        const int plain = column->Width();
        QCOMPARE(column->Width(), plain);
        column->setTitle(u"Nome completo da pessoa responsável pela tarefa"_s);
        const int titled = column->Width();
        QVERIFY2(titled > plain, qPrintable(u"%1 -> %2"_s.arg(plain).arg(titled)));
        QFont larger = m_grid->Columns()->font();
        larger.setPointSizeF(larger.pointSizeF() * 2);
        m_grid->Columns()->setFont(larger);
        QVERIFY2(column->Width() > titled, qPrintable(u"%1 -> %2"_s.arg(titled).arg(column->Width())));
        m_ds->SetData(people(2));
        QCOMPARE(m_grid->horizontalHeader()->sectionSize(0) - m_grid->gridLineWidth(), column->Width());
    }

    void getTextIsWhatCellsShow()
    {
        TField *nome = m_ds->FieldByName(u"NOME"_s);
        nome->OnGetText = [](TField *sender, QString &text, bool displayText) {
            text = (displayText ? u"[%1]"_s : u"<%1>"_s).arg(sender->AsString());
        };
        const QModelIndex idx = m_grid->model()->index(1, 1);
        QCOMPARE(idx.data(Qt::DisplayRole).toString(), u"[Bruno]"_s);
        QCOMPARE(idx.data(Qt::EditRole).toString(), u"<Bruno>"_s);
    }

    // The indicator going to another row with the same glyph is a move of
    // two header sections, not a header-data change (which makes a view
    // measure its header and lay every row out again); a glyph that changes
    // (editing, inserting) is a header-data change of its row.
    void indicatorMovesWithoutAHeaderChange()
    {
        auto *model = m_grid->dataModel();
        QSignalSpy moved(model, &DataSetModel::indicatorMoved);
        QSignalSpy changed(model, &QAbstractItemModel::headerDataChanged);
        m_ds->setRecNo(4);
        QCOMPARE(moved.count(), 1);
        QCOMPARE(moved.at(0).at(0).toInt(), 0);
        QCOMPARE(moved.at(0).at(1).toInt(), 3);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(model->headerData(3, Qt::Vertical).toString(), u"\u25B6"_s);
        QCOMPARE(model->headerData(0, Qt::Vertical).toString(), QString());

        m_ds->Edit();
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).value<Qt::Orientation>(), Qt::Vertical);
        QCOMPARE(changed.at(0).at(1).toInt(), 3);
        QCOMPARE(changed.at(0).at(2).toInt(), 3);
        QCOMPARE(model->headerData(3, Qt::Vertical).toString(), u"I"_s);
        m_ds->Cancel();
        QCOMPARE(changed.count(), 2);
        QCOMPARE(model->headerData(3, Qt::Vertical).toString(), u"\u25B6"_s);

        // An insert shifts the rows below: the row the indicator leaves is
        // followed to where it went.
        moved.clear();
        changed.clear();
        m_ds->Insert();
        QCOMPARE(model->headerData(3, Qt::Vertical).toString(), u"*"_s);
        QVERIFY(changed.count() >= 1);
        m_ds->Cancel();
        moved.clear();
        changed.clear();
        m_ds->setRecNo(1);
        QCOMPARE(moved.count(), 1);
        QCOMPARE(moved.at(0).at(0).toInt(), 3);
        QCOMPARE(moved.at(0).at(1).toInt(), 0);

        // New content: the indicator starts on its first row, where the
        // reset drew it.
        m_ds->SetData(people(8));
        moved.clear();
        changed.clear();
        m_ds->setRecNo(2);
        QCOMPARE(moved.count(), 1);
        QCOMPARE(moved.at(0).at(0).toInt(), 0);
        QCOMPARE(changed.count(), 0);
    }

    void randomChangesKeepTheModelConsistent()
    {
        // A long mixed sequence; the tester checks every signal on the way.
        for (int i = 0; i < 40; ++i) {
            switch (i % 5) {
            case 0:
                m_ds->Append();
                m_ds->FieldByName(u"CODIGO"_s)->setAsFloat(100 + i);
                m_ds->FieldByName(u"NOME"_s)->setAsString(u"N%1"_s.arg(i));
                m_ds->Post();
                break;
            case 1:
                m_ds->First();
                m_ds->Delete();
                break;
            case 2:
                m_ds->Last();
                m_ds->Edit();
                m_ds->FieldByName(u"NOME"_s)->setAsString(u"E%1"_s.arg(i));
                m_ds->Post();
                break;
            case 3:
                m_ds->Insert();
                m_ds->Cancel();
                break;
            case 4:
                m_ds->CancelUpdates();
                break;
            }
            QCOMPARE(m_grid->model()->rowCount(), m_ds->rowCount());
        }
    }

private:
    TClientDataSet *m_ds = nullptr;
    TDataSource *m_dts = nullptr;
    TDBGrid *m_grid = nullptr;
    QAbstractItemModelTester *m_tester = nullptr;
};

QTEST_MAIN(TestGridModel)
#include "tst_gridmodel.moc"
