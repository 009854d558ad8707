#include <QAbstractItemModelTester>
#include <QAbstractTableModel>
#include <QSignalSpy>
#include <QTest>

#include <functional>

#include "DateTime.h"
#include "Exceptions.h"
#include "Refusal.h"
#include "TClientDataSet.h"

using namespace Qt::StringLiterals;

using Step = std::function<void(TClientDataSet &)>;
Q_DECLARE_METATYPE(Step)
Q_DECLARE_METATYPE(DataPacket)

namespace {

// The shape of the task record set: a key, a text, the order the index runs
// on, a date-time and a flag.
void defineTasks(TClientDataSet &ds)
{
    ds.setObjectName(u"cdsTarefas"_s);
    ds.addField(u"NRATIVIDADEFILIAL"_s, FieldType::Number);
    ds.addField(u"NMATIVIDADEFILIAL"_s, FieldType::Text, 100);
    ds.addField(u"NRORDENAATIVIDADE"_s, FieldType::Number);
    ds.addField(u"DTATUALIZACAO"_s, FieldType::DateTime);
    ds.addField(u"IDEXECUTA"_s, FieldType::Text, 1);
    ds.addIndex(u"idxPadrao"_s, u"NRORDENAATIVIDADE"_s);
}

QList<FieldDef> taskDefs()
{
    return {{u"NRATIVIDADEFILIAL"_s, FieldType::Number, 0},
            {u"NMATIVIDADEFILIAL"_s, FieldType::Text, 100},
            {u"NRORDENAATIVIDADE"_s, FieldType::Number, 0},
            {u"DTATUALIZACAO"_s, FieldType::DateTime, 0},
            {u"IDEXECUTA"_s, FieldType::Text, 1}};
}

Row task(double key, const QString &name, const QVariant &order)
{
    return {key, name, order, QVariant(), u"N"_s};
}

// Three tasks: keys 10, 20, 30 with orders 1, 2, 5.
DataPacket threeTasks()
{
    return {taskDefs(), {task(10, u"Conferir"_s, 1.0), task(20, u"Lançar"_s, 2.0), task(30, u"Arquivar"_s, 5.0)}};
}

// The task layout, loaded with the three tasks.
void openThreeTasks(TClientDataSet &ds)
{
    defineTasks(ds);
    ds.SetData(threeTasks());
}

QString name(TClientDataSet &ds)
{
    return ds.FieldByName(u"NMATIVIDADEFILIAL"_s)->AsString();
}

double key(TClientDataSet &ds)
{
    return ds.FieldByName(u"NRATIVIDADEFILIAL"_s)->AsFloat();
}

QList<double> keysInOrder(const TClientDataSet &ds)
{
    QList<double> keys;
    for (int row = 0; row < ds.rowCount(); ++row) {
        keys << ds.valueAt(row, 0).toDouble();
    }
    return keys;
}

// Every event of a record set, in the order they run; optionally one of them
// stops with Abort (or fails with an error).
struct EventLog
{
    QStringList events;
    QString stopIn;
    bool withError = false;

    void attach(TClientDataSet &ds)
    {
        auto hook = [this](const QString &event) {
            return [this, event](TClientDataSet *) {
                events << event;
                if (event == stopIn) {
                    if (withError) {
                        throw EDatabaseError(u"recusado"_s);
                    }
                    Abort();
                }
            };
        };
        ds.BeforeInsert = hook(u"BeforeInsert"_s);
        ds.AfterInsert = hook(u"AfterInsert"_s);
        ds.BeforeEdit = hook(u"BeforeEdit"_s);
        ds.AfterEdit = hook(u"AfterEdit"_s);
        ds.BeforePost = hook(u"BeforePost"_s);
        ds.AfterPost = hook(u"AfterPost"_s);
        ds.BeforeCancel = hook(u"BeforeCancel"_s);
        ds.AfterCancel = hook(u"AfterCancel"_s);
        ds.BeforeDelete = hook(u"BeforeDelete"_s);
        ds.AfterDelete = hook(u"AfterDelete"_s);
        ds.BeforeScroll = hook(u"BeforeScroll"_s);
        ds.AfterScroll = hook(u"AfterScroll"_s);
        ds.AfterOpen = hook(u"AfterOpen"_s);
    }
};

// Everything a caller can observe of a record set.
struct Snapshot
{
    TDataSetState state;
    int recNo;
    int recordCount;
    int rowCount;
    bool eof;
    bool bof;
    Row current;
    DataPacket data;
    DeltaPacket delta;

    explicit Snapshot(TClientDataSet &ds)
        : state(ds.State())
        , recNo(ds.RecNo())
        , recordCount(ds.RecordCount())
        , rowCount(ds.rowCount())
        , eof(ds.Eof())
        , bof(ds.Bof())
        , data(ds.data())
        , delta(ds.delta())
    {
        for (TField *field : ds.Fields()) {
            current << field->Value();
        }
    }
    bool operator==(const Snapshot &) const = default;
};

// Mirrors a record set as a table model through the record set's own
// notifications, as a grid's model does; QAbstractItemModelTester watches it.
class Mirror : public QAbstractTableModel
{
public:
    explicit Mirror(TClientDataSet *ds)
        : m_ds(ds)
    {
        connect(ds, &TClientDataSet::rowAboutToBeInserted, this, [this](int row) { beginInsertRows({}, row, row); });
        connect(ds, &TClientDataSet::rowInserted, this, [this](int) { endInsertRows(); });
        connect(ds, &TClientDataSet::rowAboutToBeRemoved, this, [this](int row) { beginRemoveRows({}, row, row); });
        connect(ds, &TClientDataSet::rowRemoved, this, [this](int) { endRemoveRows(); });
        connect(ds, &TClientDataSet::rowAboutToBeMoved, this,
                [this](int from, int to) { QVERIFY(beginMoveRows({}, from, from, {}, to)); });
        connect(ds, &TClientDataSet::rowMoved, this, [this](int, int) { endMoveRows(); });
        connect(ds, &TClientDataSet::rowChanged, this, [this](int row) {
            ++changes;
            emit dataChanged(index(row, 0), index(row, columnCount() - 1));
        });
        connect(ds, &TClientDataSet::aboutToReset, this, [this] { beginResetModel(); });
        connect(ds, &TClientDataSet::contentReset, this, [this] {
            ++resets;
            endResetModel();
        });
    }
    int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : m_ds->rowCount(); }
    int columnCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : m_ds->FieldCount(); }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid()) {
            return {};
        }
        return m_ds->displayTextAt(index.row(), m_ds->Fields().at(index.column()));
    }

    int resets = 0;
    int changes = 0;

private:
    TClientDataSet *m_ds;
};

} // namespace

class TstClientDataSet : public QObject
{
    Q_OBJECT

private slots:
    // event order and stops
    void eventOrder_data();
    void eventOrder();
    void stopInBeforeEventLeavesSetAsItWas_data();
    void stopInBeforeEventLeavesSetAsItWas();
    void failureInAfterEventKeepsTheOperation();
    void handlerMayDetachItselfAndReload();
    void beforeInsertMayMoveFirst();

    // states and rows
    void editOnEmptySetInserts();
    void deleteOfLastRowLeavesEmptySet();
    void deleteOfInsertedRowCancelsIt();
    void movingWhileEditingPostsAndDropsUntouchedRow();
    void assigningInBrowseIsRefused();
    void closedSetRefusesOperations();

    // navigation
    void navigationFlags();
    void locate_data();
    void locate();
    void locateRunsAfterScrollOnCurrentRow();
    void detachedReloadThenLocateLoadsOnce();
    void recNoAndCounts();
    void locateStaysRightThroughChanges();

    // change log
    void changeLogRules();
    void changeLogOrderAndOriginals();
    void cancelUpdatesRestoresMergedContent();
    void oldValue();
    void packetsShowPostedRowsOnly();

    // index
    void indexOrdersFillAndPost();
    void indexNewRowStandsBeforeCurrentUntilPosted();
    void exchangingOrdersSwapsRows();
    void indexByName();
    void sameIndexAgainKeepsRefusedEdit();

    // fill
    void setDataWithDefinedFields();
    void setDataWithoutFieldsCreatesThem();
    void setDataRefusesBadPacketAndKeepsContent_data();
    void setDataRefusesBadPacketAndKeepsContent();
    void bytesRoundTrip();
    void bytesFillAsThePacketDoes();
    void setDataFromMeansSetDataOfGetData_data();
    void setDataFromMeansSetDataOfGetData();
    void setDataFromLeavesSourceAlone();
    void emptyAndCreate();

    // views
    void notificationsFollowedByModel();
    void viewReadsOtherRowsWithoutMoving();
    void objectNames();
};

// ---------------------------------------------------------------- event order

void TstClientDataSet::eventOrder_data()
{
    QTest::addColumn<Step>("prepare");
    QTest::addColumn<Step>("act");
    QTest::addColumn<QStringList>("expected");

    const Step fill = [](TClientDataSet &ds) { ds.SetData(threeTasks()); };
    const Step empty = [](TClientDataSet &ds) { ds.CreateDataSet(); };
    const Step assign = [](TClientDataSet &ds) { ds.FieldByName(u"NMATIVIDADEFILIAL"_s)->setAsString(u"novo"_s); };

    QTest::newRow("insert") << fill << Step([](TClientDataSet &ds) { ds.Insert(); })
                            << QStringList{u"BeforeInsert"_s, u"AfterInsert"_s, u"AfterScroll"_s};
    QTest::newRow("append") << fill << Step([](TClientDataSet &ds) { ds.Append(); })
                            << QStringList{u"BeforeInsert"_s, u"AfterInsert"_s, u"AfterScroll"_s};
    QTest::newRow("edit") << fill << Step([](TClientDataSet &ds) { ds.Edit(); })
                          << QStringList{u"BeforeEdit"_s, u"AfterEdit"_s};
    QTest::newRow("edit on empty set inserts") << empty << Step([](TClientDataSet &ds) { ds.Edit(); })
                                               << QStringList{u"BeforeInsert"_s, u"AfterInsert"_s, u"AfterScroll"_s};
    QTest::newRow("edit while editing") << Step([=](TClientDataSet &ds) {
        fill(ds);
        ds.Edit();
    }) << Step([](TClientDataSet &ds) { ds.Edit(); })
                                        << QStringList{};
    QTest::newRow("post") << Step([=](TClientDataSet &ds) {
        fill(ds);
        ds.Edit();
        assign(ds);
    }) << Step([](TClientDataSet &ds) { ds.Post(); })
                          << QStringList{u"BeforePost"_s, u"AfterPost"_s};
    QTest::newRow("post in browse") << fill << Step([](TClientDataSet &ds) { ds.Post(); }) << QStringList{};
    QTest::newRow("cancel edit") << Step([=](TClientDataSet &ds) {
        fill(ds);
        ds.Edit();
    }) << Step([](TClientDataSet &ds) { ds.Cancel(); })
                                 << QStringList{u"BeforeCancel"_s, u"AfterCancel"_s};
    QTest::newRow("cancel in browse") << fill << Step([](TClientDataSet &ds) { ds.Cancel(); }) << QStringList{};
    QTest::newRow("delete") << fill << Step([](TClientDataSet &ds) { ds.Delete(); })
                            << QStringList{u"BeforeDelete"_s, u"AfterDelete"_s, u"AfterScroll"_s};
    QTest::newRow("delete while editing") << Step([=](TClientDataSet &ds) {
        fill(ds);
        ds.Edit();
        assign(ds);
    }) << Step([](TClientDataSet &ds) { ds.Delete(); })
                                          << QStringList{u"BeforeDelete"_s, u"AfterDelete"_s, u"AfterScroll"_s};
    QTest::newRow("delete of inserted row cancels") << Step([=](TClientDataSet &ds) {
        fill(ds);
        ds.Insert();
        assign(ds);
    }) << Step([](TClientDataSet &ds) {
        ds.Delete();
    }) << QStringList{u"BeforeCancel"_s, u"AfterCancel"_s, u"AfterScroll"_s};
    // The cursor goes back to a row: the level below follows it as on any move.
    QTest::newRow("cancel insert") << Step([=](TClientDataSet &ds) {
        fill(ds);
        ds.Insert();
        assign(ds);
    }) << Step([](TClientDataSet &ds) { ds.Cancel(); })
                                   << QStringList{u"BeforeCancel"_s, u"AfterCancel"_s, u"AfterScroll"_s};
    QTest::newRow("next") << fill << Step([](TClientDataSet &ds) { ds.Next(); })
                          << QStringList{u"BeforeScroll"_s, u"AfterScroll"_s};
    QTest::newRow("next at last row") << Step([=](TClientDataSet &ds) {
        fill(ds);
        ds.Last();
    }) << Step([](TClientDataSet &ds) { ds.Next(); })
                                      << QStringList{};
    QTest::newRow("prior at first row") << fill << Step([](TClientDataSet &ds) { ds.Prior(); }) << QStringList{};
    QTest::newRow("first on first row") << fill << Step([](TClientDataSet &ds) { ds.First(); })
                                        << QStringList{u"BeforeScroll"_s, u"AfterScroll"_s};
    QTest::newRow("last") << fill << Step([](TClientDataSet &ds) { ds.Last(); })
                          << QStringList{u"BeforeScroll"_s, u"AfterScroll"_s};
    QTest::newRow("recno to current row") << fill << Step([](TClientDataSet &ds) { ds.setRecNo(1); }) << QStringList{};
    QTest::newRow("recno") << fill << Step([](TClientDataSet &ds) { ds.setRecNo(3); })
                           << QStringList{u"BeforeScroll"_s, u"AfterScroll"_s};
    QTest::newRow("locate found") << fill
                                  << Step([](TClientDataSet &ds) { QVERIFY(ds.Locate(u"NRATIVIDADEFILIAL"_s, 30)); })
                                  << QStringList{u"BeforeScroll"_s, u"AfterScroll"_s};
    QTest::newRow("locate missing") << fill
                                    << Step([](TClientDataSet &ds) { QVERIFY(!ds.Locate(u"NRATIVIDADEFILIAL"_s, 99)); })
                                    << QStringList{};
    QTest::newRow("move while editing posts first") << Step([=](TClientDataSet &ds) {
        fill(ds);
        ds.Edit();
        assign(ds);
    }) << Step([](TClientDataSet &ds) {
        ds.Next();
    }) << QStringList{u"BeforePost"_s, u"AfterPost"_s, u"BeforeScroll"_s, u"AfterScroll"_s};
    QTest::newRow("move from untouched new row cancels it") << Step([=](TClientDataSet &ds) {
        fill(ds);
        ds.Insert();
    }) << Step([](TClientDataSet &ds) {
        ds.Last();
    }) << QStringList{u"BeforeCancel"_s, u"AfterCancel"_s, u"BeforeScroll"_s, u"AfterScroll"_s};
    QTest::newRow("move from typed new row posts it") << Step([=](TClientDataSet &ds) {
        fill(ds);
        ds.Insert();
        assign(ds);
    }) << Step([](TClientDataSet &ds) {
        ds.Last();
    }) << QStringList{u"BeforePost"_s, u"AfterPost"_s, u"BeforeScroll"_s, u"AfterScroll"_s};
    QTest::newRow("fill") << empty << fill << QStringList{u"AfterOpen"_s, u"AfterScroll"_s};
    QTest::newRow("fill with no rows") << fill << Step([](TClientDataSet &ds) {
        ds.SetData(DataPacket{taskDefs(), {}});
    }) << QStringList{u"AfterOpen"_s};
    QTest::newRow("create") << Step([](TClientDataSet &) {}) << empty << QStringList{u"AfterOpen"_s};
    QTest::newRow("empty the set") << fill << Step([](TClientDataSet &ds) { ds.EmptyDataSet(); }) << QStringList{};
}

void TstClientDataSet::eventOrder()
{
    QFETCH(Step, prepare);
    QFETCH(Step, act);
    QFETCH(QStringList, expected);

    TClientDataSet ds;
    defineTasks(ds);
    EventLog log;
    log.attach(ds);
    prepare(ds);
    log.events.clear();
    act(ds);
    QCOMPARE(log.events, expected);
}

void TstClientDataSet::stopInBeforeEventLeavesSetAsItWas_data()
{
    QTest::addColumn<QString>("event");
    QTest::addColumn<bool>("withError");
    QTest::addColumn<Step>("prepare");
    QTest::addColumn<Step>("act");

    const Step fill = [](TClientDataSet &ds) {
        ds.SetData(threeTasks());
        ds.Next(); // second row, so that moves and inserts have somewhere to go
    };
    const Step editing = [=](TClientDataSet &ds) {
        fill(ds);
        ds.Edit();
        ds.FieldByName(u"NMATIVIDADEFILIAL"_s)->setAsString(u"digitado"_s);
    };
    const Step inserting = [=](TClientDataSet &ds) {
        fill(ds);
        ds.Insert();
        ds.FieldByName(u"NMATIVIDADEFILIAL"_s)->setAsString(u"novo"_s);
    };
    const Step pendingChange = [=](TClientDataSet &ds) {
        fill(ds);
        ds.Edit();
        ds.FieldByName(u"NRORDENAATIVIDADE"_s)->setAsFloat(9);
        ds.Post(); // the row moves to the end and leaves a change in the log
    };
    struct Case
    {
        const char *tag;
        QString event;
        Step prepare;
        Step act;
    };
    const QList<Case> cases = {
        {"insert", u"BeforeInsert"_s, pendingChange, [](TClientDataSet &ds) { ds.Insert(); }},
        {"append", u"BeforeInsert"_s, fill, [](TClientDataSet &ds) { ds.Append(); }},
        {"edit on empty set", u"BeforeInsert"_s, [](TClientDataSet &ds) { ds.CreateDataSet(); },
         [](TClientDataSet &ds) { ds.Edit(); }},
        {"edit", u"BeforeEdit"_s, pendingChange, [](TClientDataSet &ds) { ds.Edit(); }},
        {"post of edit", u"BeforePost"_s, editing, [](TClientDataSet &ds) { ds.Post(); }},
        {"post of insert", u"BeforePost"_s, inserting, [](TClientDataSet &ds) { ds.Post(); }},
        {"move posting an edit", u"BeforePost"_s, editing, [](TClientDataSet &ds) { ds.First(); }},
        {"cancel of edit", u"BeforeCancel"_s, editing, [](TClientDataSet &ds) { ds.Cancel(); }},
        {"cancel of insert", u"BeforeCancel"_s, inserting, [](TClientDataSet &ds) { ds.Cancel(); }},
        {"delete", u"BeforeDelete"_s, pendingChange, [](TClientDataSet &ds) { ds.Delete(); }},
        {"delete while editing", u"BeforeDelete"_s, editing, [](TClientDataSet &ds) { ds.Delete(); }},
        {"next", u"BeforeScroll"_s, fill, [](TClientDataSet &ds) { ds.Next(); }},
        {"prior", u"BeforeScroll"_s, fill, [](TClientDataSet &ds) { ds.Prior(); }},
        {"first", u"BeforeScroll"_s, fill, [](TClientDataSet &ds) { ds.First(); }},
        {"last", u"BeforeScroll"_s, fill, [](TClientDataSet &ds) { ds.Last(); }},
        {"recno", u"BeforeScroll"_s, fill, [](TClientDataSet &ds) { ds.setRecNo(3); }},
        {"locate", u"BeforeScroll"_s, fill, [](TClientDataSet &ds) { ds.Locate(u"NRATIVIDADEFILIAL"_s, 10); }},
        {"locate of current row", u"BeforeScroll"_s, fill,
         [](TClientDataSet &ds) { ds.Locate(u"NRATIVIDADEFILIAL"_s, 20); }},
    };
    for (const Case &c : cases) {
        QTest::addRow("%s, Abort", c.tag) << c.event << false << c.prepare << c.act;
        QTest::addRow("%s, error", c.tag) << c.event << true << c.prepare << c.act;
    }
}

void TstClientDataSet::stopInBeforeEventLeavesSetAsItWas()
{
    QFETCH(QString, event);
    QFETCH(bool, withError);
    QFETCH(Step, prepare);
    QFETCH(Step, act);

    TClientDataSet ds;
    defineTasks(ds);
    ds.setIndexName(u"idxPadrao"_s);
    EventLog log;
    log.attach(ds);
    prepare(ds);
    const Snapshot before(ds);
    const int changes = ds.ChangeCount();

    Mirror mirror(&ds);
    QAbstractItemModelTester tester(&mirror, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy rowsChanged(&mirror, &QAbstractItemModel::rowsInserted);

    log.events.clear();
    log.stopIn = event;
    log.withError = withError;
    bool stopped = false;
    bool failed = false;
    try {
        act(ds);
    } catch (const EAbort &) {
        stopped = true;
    } catch (const EDatabaseError &e) {
        failed = e.message() == u"recusado"_s;
    }
    QVERIFY2(withError ? failed : stopped, qPrintable(log.events.join(u", "_s)));
    QCOMPARE(log.events.last(), event); // nothing ran after the stop

    const Snapshot after(ds);
    QCOMPARE(after.state, before.state);
    QCOMPARE(after.recNo, before.recNo);
    QCOMPARE(after.current, before.current);
    QCOMPARE(after.rowCount, before.rowCount);
    QVERIFY(after.data == before.data);
    QVERIFY(after.delta == before.delta);
    QCOMPARE(ds.ChangeCount(), changes);
    QCOMPARE(rowsChanged.count(), 0);
}

void TstClientDataSet::failureInAfterEventKeepsTheOperation()
{
    TClientDataSet ds;
    openThreeTasks(ds);
    EventLog log;
    log.attach(ds);
    log.stopIn = u"AfterPost"_s;
    ds.Edit();
    ds.FieldByName(u"NMATIVIDADEFILIAL"_s)->setAsString(u"alterado"_s);
    QVERIFY_THROWS_EXCEPTION(EAbort, ds.Post());
    QCOMPARE(ds.State(), TDataSetState::dsBrowse);
    QCOMPARE(ds.ChangeCount(), 1);
    QCOMPARE(name(ds), u"alterado"_s);

    log.stopIn = u"AfterInsert"_s;
    log.events.clear();
    QVERIFY_THROWS_EXCEPTION(EAbort, ds.Insert());
    QCOMPARE(log.events, (QStringList{u"BeforeInsert"_s, u"AfterInsert"_s})); // no AfterScroll after the throw
    QCOMPARE(ds.State(), TDataSetState::dsInsert);
    QCOMPARE(ds.rowCount(), 4);

    log.stopIn = u"AfterDelete"_s;
    log.events.clear();
    ds.Cancel();
    QVERIFY_THROWS_EXCEPTION(EAbort, ds.Delete());
    QCOMPARE(ds.RecordCount(), 2);
}

void TstClientDataSet::handlerMayDetachItselfAndReload()
{
    TClientDataSet ds;
    openThreeTasks(ds);
    int scrolls = 0;
    // Detaching the running handler must not destroy it under its own feet.
    ds.AfterScroll = [&](TClientDataSet *set) {
        ++scrolls;
        set->AfterScroll = nullptr;
    };
    ds.Next();
    ds.Next();
    QCOMPARE(scrolls, 1);

    // An after-delete that reloads the set from the server; the after-scroll
    // that follows sees the reloaded rows.
    QStringList seen;
    ds.AfterDelete = [&](TClientDataSet *set) { set->SetData(threeTasks()); };
    ds.AfterScroll = [&](TClientDataSet *set) { seen << QString::number(set->RecordCount()); };
    ds.Delete();
    QCOMPARE(ds.RecordCount(), 3);
    QCOMPARE(ds.ChangeCount(), 0);
    QCOMPARE(seen, (QStringList{u"3"_s, u"3"_s})); // one from the reload, one from the delete
}

// The task rules move to the last row inside before-insert to number the new
// task; the new row then stands before that row and gets the next order.
void TstClientDataSet::beforeInsertMayMoveFirst()
{
    TClientDataSet ds;
    defineTasks(ds);
    ds.setIndexName(u"idxPadrao"_s);
    ds.SetData(threeTasks());
    EventLog log;
    log.attach(ds);
    int next = 0;
    ds.BeforeInsert = [&](TClientDataSet *set) {
        log.events << u"BeforeInsert"_s;
        set->Last();
        next = int(set->FieldByName(u"NRORDENAATIVIDADE"_s)->AsFloat()) + 1;
    };
    ds.AfterInsert = [&](TClientDataSet *set) {
        log.events << u"AfterInsert"_s;
        set->FieldByName(u"NRORDENAATIVIDADE"_s)->setAsFloat(next);
        set->FieldByName(u"NRATIVIDADEFILIAL"_s)->setAsFloat(-(set->RecordCount() + 1));
    };
    ds.Insert();
    QCOMPARE(log.events,
             (QStringList{u"BeforeInsert"_s, u"BeforeScroll"_s, u"AfterScroll"_s, u"AfterInsert"_s, u"AfterScroll"_s}));
    QCOMPARE(ds.RecNo(), 3);
    QCOMPARE(key(ds), -4.0);
    ds.FieldByName(u"NMATIVIDADEFILIAL"_s)->setAsString(u"Nova"_s);
    ds.Post();
    QCOMPARE(keysInOrder(ds), (QList<double>{10, 20, 30, -4}));
    QCOMPARE(ds.FieldByName(u"NRORDENAATIVIDADE"_s)->AsFloat(), 6.0);
}

// ---------------------------------------------------------------- states and rows

void TstClientDataSet::editOnEmptySetInserts()
{
    TClientDataSet ds;
    defineTasks(ds);
    ds.CreateDataSet();
    ds.Edit();
    QCOMPARE(ds.State(), TDataSetState::dsInsert);
    QCOMPARE(ds.RecordCount(), 0); // the new row is not counted until posted
    QVERIFY(!ds.IsEmpty());
    QCOMPARE(ds.RecNo(), 1);
    ds.FieldByName(u"NMATIVIDADEFILIAL"_s)->setAsString(u"primeira"_s);
    ds.Post();
    QCOMPARE(ds.RecordCount(), 1);
    QCOMPARE(ds.ChangeCount(), 1);
}

void TstClientDataSet::deleteOfLastRowLeavesEmptySet()
{
    TClientDataSet ds;
    defineTasks(ds);
    ds.SetData(DataPacket{taskDefs(), {task(1, u"única"_s, 1.0)}});
    ds.Delete();
    QVERIFY(ds.IsEmpty());
    QVERIFY(ds.Eof());
    QVERIFY(ds.Bof());
    QCOMPARE(ds.RecNo(), 0);
    QCOMPARE(ds.currentRow(), -1);
    QVERIFY(ds.FieldByName(u"NMATIVIDADEFILIAL"_s)->IsNull());
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, ds.Delete());
    QCOMPARE(ds.ChangeCount(), 1);
}

void TstClientDataSet::deleteOfInsertedRowCancelsIt()
{
    TClientDataSet ds;
    openThreeTasks(ds);
    ds.Next();
    ds.Insert();
    ds.FieldByName(u"NMATIVIDADEFILIAL"_s)->setAsString(u"nova"_s);
    ds.Delete();
    QCOMPARE(ds.State(), TDataSetState::dsBrowse);
    QCOMPARE(ds.RecordCount(), 3);
    QCOMPARE(ds.ChangeCount(), 0);
    QCOMPARE(key(ds), 20.0); // back on the row that was current before the insert

    ds.Append();
    ds.Cancel();
    QCOMPARE(key(ds), 20.0);
}

void TstClientDataSet::movingWhileEditingPostsAndDropsUntouchedRow()
{
    TClientDataSet ds;
    openThreeTasks(ds);
    // Defaults set by after-insert do not make the row typed.
    ds.AfterInsert = [](TClientDataSet *set) { set->FieldByName(u"IDEXECUTA"_s)->setAsString(u"N"_s); };
    ds.Insert();
    ds.Next();
    QCOMPARE(ds.RecordCount(), 3);
    QCOMPARE(ds.ChangeCount(), 0);

    ds.Insert();
    ds.FieldByName(u"NMATIVIDADEFILIAL"_s)->setAsString(u"digitada"_s);
    ds.First();
    QCOMPARE(ds.RecordCount(), 4);
    QCOMPARE(ds.ChangeCount(), 1);

    ds.Edit();
    ds.FieldByName(u"NMATIVIDADEFILIAL"_s)->setAsString(u"alterada"_s);
    QVERIFY(ds.Locate(u"NRATIVIDADEFILIAL"_s, 30));
    QCOMPARE(ds.State(), TDataSetState::dsBrowse);
    QCOMPARE(ds.ChangeCount(), 2);
}

void TstClientDataSet::assigningInBrowseIsRefused()
{
    TClientDataSet ds;
    openThreeTasks(ds);
    TField *field = ds.FieldByName(u"NMATIVIDADEFILIAL"_s);
    const QString said = refusalOf([&] { field->setAsString(u"x"_s); });
    QVERIFY2(said.contains(u"não está em modo de edição"_s), qPrintable(said));
    QVERIFY(said.contains(u"NMATIVIDADEFILIAL"_s));
    QCOMPARE(name(ds), u"Conferir"_s);
    QVERIFY(refusalOf([&] { ds.FieldByName(u"NAOEXISTE"_s); }).contains(u"NAOEXISTE"_s));
    QCOMPARE(ds.FindField(u"naoexiste"_s), nullptr);
    QCOMPARE(ds.FindField(u"nmatividadefilial"_s), field); // names are not case-sensitive
    QCOMPARE(ds.FindField(u"NmAtividadeFilial"_s), field);
    QCOMPARE(ds.FindField(u"NMATIVIDADEFILIAL"_s), field);
}

void TstClientDataSet::closedSetRefusesOperations()
{
    TClientDataSet ds;
    defineTasks(ds);
    QCOMPARE(ds.State(), TDataSetState::dsInactive);
    QVERIFY(ds.IsEmpty());
    QVERIFY(ds.Eof());
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, ds.Insert());
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, ds.First());
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, ds.Locate(u"NRATIVIDADEFILIAL"_s, 1));
    QVERIFY(ds.FieldByName(u"NRATIVIDADEFILIAL"_s)->IsNull());
    ds.SetData(threeTasks());
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, ds.addField(u"OUTRO"_s, FieldType::Number));
    ds.Close();
    QVERIFY(!ds.Active());
    QCOMPARE(ds.State(), TDataSetState::dsInactive);
    QCOMPARE(ds.RecordCount(), 0);
}

// ---------------------------------------------------------------- navigation

void TstClientDataSet::navigationFlags()
{
    TClientDataSet ds;
    openThreeTasks(ds);
    QVERIFY(ds.Bof());
    QVERIFY(!ds.Eof());
    QStringList names;
    for (ds.First(); !ds.Eof(); ds.Next()) {
        names << name(ds);
    }
    QCOMPARE(names, (QStringList{u"Conferir"_s, u"Lançar"_s, u"Arquivar"_s}));
    QCOMPARE(ds.RecNo(), 3); // Next at the last row stays there
    names.clear();
    for (ds.Last(); !ds.Bof(); ds.Prior()) {
        names << name(ds);
    }
    QCOMPARE(names, (QStringList{u"Arquivar"_s, u"Lançar"_s, u"Conferir"_s}));
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, ds.setRecNo(4));
}

void TstClientDataSet::locate_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("caseInsensitive");
    QTest::addColumn<int>("recNo"); // 0: not found

    QTest::newRow("number as double") << u"NRATIVIDADEFILIAL"_s << QVariant(20.0) << false << 2;
    QTest::newRow("number as int") << u"NRATIVIDADEFILIAL"_s << QVariant(30) << false << 3;
    QTest::newRow("number as text") << u"NRATIVIDADEFILIAL"_s << QVariant(u"20"_s) << true << 2;
    QTest::newRow("number as text with decimals") << u"NRATIVIDADEFILIAL"_s << QVariant(u"30.0"_s) << false << 3;
    QTest::newRow("negative temporary key") << u"NRATIVIDADEFILIAL"_s << QVariant(-4) << false << 4;
    QTest::newRow("number not there") << u"NRATIVIDADEFILIAL"_s << QVariant(25) << false << 0;
    QTest::newRow("number from bad text") << u"NRATIVIDADEFILIAL"_s << QVariant(u"vinte"_s) << false << 0;
    QTest::newRow("text, same case") << u"NMATIVIDADEFILIAL"_s << QVariant(u"Lançar"_s) << false << 2;
    QTest::newRow("text, other case, sensitive") << u"NMATIVIDADEFILIAL"_s << QVariant(u"LANÇAR"_s) << false << 0;
    QTest::newRow("text, other case, insensitive") << u"NMATIVIDADEFILIAL"_s << QVariant(u"LANÇAR"_s) << true << 2;
    QTest::newRow("null finds the null") << u"NRORDENAATIVIDADE"_s << QVariant() << false << 4;
    QTest::newRow("blank text finds the null") << u"NRORDENAATIVIDADE"_s << QVariant(u"  "_s) << false << 4;
    QTest::newRow("text longer than the field") << u"NMATIVIDADEFILIAL"_s << QVariant(QString(500, u'x')) << false << 0;
    // Only the fourth row has a date (01/12/2026); the others have none.
    QTest::newRow("date as QDate") << u"DTATUALIZACAO"_s << QVariant(QDate(2026, 12, 1)) << false << 4;
    QTest::newRow("date as its text") << u"DTATUALIZACAO"_s << QVariant(u"01/12/2026"_s) << false << 4;
    QTest::newRow("blank date mask finds the null") << u"DTATUALIZACAO"_s << QVariant(u"  /  /    "_s) << false << 1;
    QTest::newRow("date-time on a number field")
        << u"NRATIVIDADEFILIAL"_s << QVariant(DateTime::toQDateTime(20.0)) << false << 0;
}

void TstClientDataSet::locate()
{
    QFETCH(QString, field);
    QFETCH(QVariant, value);
    QFETCH(bool, caseInsensitive);
    QFETCH(int, recNo);

    TClientDataSet ds;
    defineTasks(ds);
    DataPacket packet = threeTasks();
    Row dated = task(-4, u"Sem ordem"_s, QVariant());
    dated[3] = DateTime::fromDate(2026, 12, 1);
    packet.rows << dated;
    ds.SetData(packet);
    ds.Next();
    int scrolls = 0;
    ds.AfterScroll = [&](TClientDataSet *) { ++scrolls; };
    const bool found = ds.Locate(field, value, caseInsensitive ? TLocateOptions(loCaseInsensitive) : TLocateOptions());
    QCOMPARE(found, recNo != 0);
    QCOMPARE(ds.RecNo(), found ? recNo : 2);
    QCOMPARE(scrolls, found ? 1 : 0);
}

void TstClientDataSet::locateRunsAfterScrollOnCurrentRow()
{
    TClientDataSet ds;
    openThreeTasks(ds);
    QStringList seen;
    ds.AfterScroll = [&](TClientDataSet *set) { seen << set->FieldByName(u"NMATIVIDADEFILIAL"_s)->AsString(); };
    QVERIFY(ds.Locate(u"NRATIVIDADEFILIAL"_s, 10));
    QCOMPARE(seen, QStringList{u"Conferir"_s});
}

// A reload with the after-scroll detached, then a locate: the level below is
// loaded once, for the row found; a position that is gone loads nothing.
void TstClientDataSet::detachedReloadThenLocateLoadsOnce()
{
    TClientDataSet ds;
    defineTasks(ds);
    QList<double> loads;
    const TDataSetNotifyEvent afterScroll = [&](TClientDataSet *set) { loads << key(*set); };
    ds.AfterScroll = afterScroll;
    ds.SetData(threeTasks());
    QCOMPARE(loads, QList<double>{10});

    loads.clear();
    ds.AfterScroll = nullptr;
    ds.SetData(threeTasks());
    ds.AfterScroll = afterScroll;
    QVERIFY(ds.Locate(u"NRATIVIDADEFILIAL"_s, 10.0, loCaseInsensitive));
    QCOMPARE(loads, QList<double>{10});

    loads.clear();
    ds.AfterScroll = nullptr;
    ds.SetData(threeTasks());
    ds.AfterScroll = afterScroll;
    QVERIFY(!ds.Locate(u"NRATIVIDADEFILIAL"_s, 77.0, loCaseInsensitive));
    QVERIFY(loads.isEmpty());
    QCOMPARE(ds.RecNo(), 1);
}

// Locate keeps its own view of the values; every change of rows, values or
// order must show in what it finds.
void TstClientDataSet::locateStaysRightThroughChanges()
{
    TClientDataSet ds;
    defineTasks(ds);
    // Keys 5, 7, 5 with orders 3, 1, 2: under the index the second 5 comes first.
    ds.SetData(DataPacket{taskDefs(), {task(5, u"a"_s, 3.0), task(7, u"b"_s, 1.0), task(5, u"c"_s, 2.0)}});
    QVERIFY(ds.Locate(u"NRATIVIDADEFILIAL"_s, 5));
    QCOMPARE(name(ds), u"a"_s);
    ds.setIndexName(u"idxPadrao"_s);
    QVERIFY(ds.Locate(u"NRATIVIDADEFILIAL"_s, 5));
    QCOMPARE(name(ds), u"c"_s);
    QCOMPARE(ds.RecNo(), 2);

    ds.Edit();
    ds.FieldByName(u"NRATIVIDADEFILIAL"_s)->setAsFloat(9);
    QVERIFY(ds.Locate(u"NRATIVIDADEFILIAL"_s, 5)); // posts first, then finds the other 5
    QCOMPARE(name(ds), u"a"_s);
    QVERIFY(ds.Locate(u"NRATIVIDADEFILIAL"_s, 9));
    QCOMPARE(name(ds), u"c"_s);

    ds.Delete();
    QVERIFY(!ds.Locate(u"NRATIVIDADEFILIAL"_s, 9));
    ds.Append();
    ds.FieldByName(u"NRATIVIDADEFILIAL"_s)->setAsFloat(-1);
    ds.FieldByName(u"NRORDENAATIVIDADE"_s)->setAsFloat(0);
    ds.Post();
    ds.Last();
    QVERIFY(ds.Locate(u"NRATIVIDADEFILIAL"_s, -1));
    QCOMPARE(ds.RecNo(), 1);

    ds.CancelUpdates();
    QVERIFY(!ds.Locate(u"NRATIVIDADEFILIAL"_s, -1));
    QVERIFY(ds.Locate(u"NRATIVIDADEFILIAL"_s, 5));
    QCOMPARE(name(ds), u"c"_s);

    // The index made active again after a change orders by the new values.
    ds.setIndexName(QString());
    QCOMPARE(keysInOrder(ds), (QList<double>{5, 7, 5}));
    ds.Edit();
    ds.FieldByName(u"NRORDENAATIVIDADE"_s)->setAsFloat(0);
    ds.Post();
    ds.setIndexName(u"idxPadrao"_s);
    QCOMPARE(ds.RecNo(), 1);
    QCOMPARE(name(ds), u"c"_s);
    QCOMPARE(keysInOrder(ds), (QList<double>{5, 7, 5}));
    QCOMPARE(ds.displayTextAt(2, ds.FieldByName(u"NMATIVIDADEFILIAL"_s)), u"a"_s);
}

void TstClientDataSet::recNoAndCounts()
{
    TClientDataSet ds;
    defineTasks(ds);
    ds.setIndexName(u"idxPadrao"_s);
    ds.SetData(threeTasks());
    ds.Last();
    QCOMPARE(ds.RecNo(), 3);
    ds.Insert();
    // The new row stands before the current one and is not counted yet.
    QCOMPARE(ds.RecNo(), 3);
    QCOMPARE(ds.RecordCount(), 3);
    QCOMPARE(ds.rowCount(), 4);
    ds.FieldByName(u"NRORDENAATIVIDADE"_s)->setAsFloat(0);
    ds.Post();
    QCOMPARE(ds.RecNo(), 1);
    QCOMPARE(ds.RecordCount(), 4);
}

// ---------------------------------------------------------------- change log

void TstClientDataSet::changeLogRules()
{
    TClientDataSet ds;
    openThreeTasks(ds);
    TField *nm = ds.FieldByName(u"NMATIVIDADEFILIAL"_s);

    // inserted, then modified: one insertion with its latest values
    ds.Append();
    ds.FieldByName(u"NRATIVIDADEFILIAL"_s)->setAsFloat(-4);
    nm->setAsString(u"primeiro"_s);
    ds.Post();
    ds.Edit();
    nm->setAsString(u"segundo"_s);
    ds.Post();
    QCOMPARE(ds.ChangeCount(), 1);
    QCOMPARE(ds.delta().entries.size(), 1);
    QCOMPARE(ds.delta().entries[0].kind, ChangeKind::Inserted);
    QVERIFY(ds.delta().entries[0].original.isEmpty());
    QCOMPARE(ds.delta().entries[0].current.at(1), QVariant(u"segundo"_s));

    // inserted, then deleted: no trace
    ds.Delete();
    QCOMPARE(ds.ChangeCount(), 0);
    QVERIFY(ds.delta().entries.isEmpty());

    // modified back to the original values still counts
    ds.First();
    ds.Edit();
    nm->setAsString(u"outro"_s);
    ds.Post();
    ds.Edit();
    nm->setAsString(u"Conferir"_s);
    ds.Post();
    QCOMPARE(ds.ChangeCount(), 1);
    QCOMPARE(ds.delta().entries[0].kind, ChangeKind::Modified);
    QCOMPARE(ds.delta().entries[0].original, ds.delta().entries[0].current);

    ds.MergeChangeLog();
    QCOMPARE(ds.ChangeCount(), 0);
    QVERIFY(ds.delta().entries.isEmpty());
}

void TstClientDataSet::changeLogOrderAndOriginals()
{
    TClientDataSet ds;
    openThreeTasks(ds);
    TField *nm = ds.FieldByName(u"NMATIVIDADEFILIAL"_s);

    ds.Last(); // 30: modified first
    ds.Edit();
    nm->setAsString(u"um"_s);
    ds.Post();
    ds.MergeChangeLog(); // "um" is the new base
    ds.Edit();
    nm->setAsString(u"dois"_s);
    ds.Post();
    ds.First(); // 10: deleted second
    ds.Delete();
    ds.Append(); // new row third
    ds.FieldByName(u"NRATIVIDADEFILIAL"_s)->setAsFloat(-1);
    ds.Post();
    QVERIFY(ds.Locate(u"NRATIVIDADEFILIAL"_s, 30)); // 30 changed again: keeps its place
    ds.Edit();
    nm->setAsString(u"três"_s);
    ds.Post();
    QVERIFY(ds.Locate(u"NRATIVIDADEFILIAL"_s, 30));
    ds.Delete(); // modified, then deleted: carries the values of the last merge

    const DeltaPacket delta = ds.delta();
    QCOMPARE(delta.fields, taskDefs());
    QCOMPARE(delta.entries.size(), 3);
    QCOMPARE(delta.entries[0].kind, ChangeKind::Deleted);
    QCOMPARE(delta.entries[0].original.at(1), QVariant(u"um"_s));
    QVERIFY(delta.entries[0].current.isEmpty());
    QCOMPARE(delta.entries[1].kind, ChangeKind::Deleted);
    QCOMPARE(delta.entries[1].original, task(10, u"Conferir"_s, 1.0));
    QCOMPARE(delta.entries[2].kind, ChangeKind::Inserted);
    QCOMPARE(delta.entries[2].current.at(0), QVariant(-1.0));
}

void TstClientDataSet::cancelUpdatesRestoresMergedContent()
{
    TClientDataSet ds;
    defineTasks(ds); // arrival order: no index
    ds.SetData(threeTasks());
    const DataPacket base = ds.data();
    TField *nm = ds.FieldByName(u"NMATIVIDADEFILIAL"_s);

    ds.Edit();
    nm->setAsString(u"mudado"_s);
    ds.Post();
    ds.Next();
    ds.Delete(); // the middle row
    ds.Insert();
    nm->setAsString(u"novo"_s);
    ds.Post();
    ds.Insert(); // still being typed
    nm->setAsString(u"pendente"_s);

    Mirror mirror(&ds);
    QAbstractItemModelTester tester(&mirror, QAbstractItemModelTester::FailureReportingMode::QtTest);
    ds.CancelUpdates();
    QCOMPARE(mirror.resets, 1);
    QCOMPARE(ds.State(), TDataSetState::dsBrowse);
    QCOMPARE(ds.ChangeCount(), 0);
    QVERIFY(ds.data() == base); // the deleted row is back in its place
    QCOMPARE(ds.RecordCount(), 3);
}

void TstClientDataSet::oldValue()
{
    TClientDataSet ds;
    openThreeTasks(ds);
    TField *nm = ds.FieldByName(u"NMATIVIDADEFILIAL"_s);
    QCOMPARE(nm->OldValue(), QVariant(u"Conferir"_s));
    ds.Edit();
    nm->setAsString(u"primeira"_s);
    QCOMPARE(nm->OldValue(), QVariant(u"Conferir"_s));
    ds.Post();
    QCOMPARE(nm->OldValue(), QVariant(u"Conferir"_s)); // modified: the original of the log
    ds.Edit();
    nm->setAsString(u"segunda"_s);
    ds.Post();
    QCOMPARE(nm->OldValue(), QVariant(u"Conferir"_s));
    ds.MergeChangeLog();
    QCOMPARE(nm->OldValue(), QVariant(u"segunda"_s));

    ds.Insert();
    nm->setAsString(u"nova"_s);
    QVERIFY(!nm->OldValue().isValid());
    ds.Post();
    QVERIFY(!nm->OldValue().isValid()); // not saved yet
}

void TstClientDataSet::packetsShowPostedRowsOnly()
{
    TClientDataSet ds;
    openThreeTasks(ds);
    const DataPacket base = ds.data();
    ds.Edit();
    ds.FieldByName(u"NMATIVIDADEFILIAL"_s)->setAsString(u"não postado"_s);
    QVERIFY(ds.data() == base);
    QVERIFY(ds.delta().entries.isEmpty());
    ds.Cancel();
    ds.Insert();
    ds.FieldByName(u"NMATIVIDADEFILIAL"_s)->setAsString(u"não postado"_s);
    QVERIFY(ds.data() == base);
    QVERIFY(ds.delta().entries.isEmpty());
}

// ---------------------------------------------------------------- index

void TstClientDataSet::indexOrdersFillAndPost()
{
    TClientDataSet ds;
    defineTasks(ds);
    ds.setIndexName(u"idxPadrao"_s);
    // Out of order, with equal orders and a null: nulls first, equal values
    // in arrival order.
    ds.SetData(DataPacket{taskDefs(),
                          {task(1, u"a"_s, 5.0), task(2, u"b"_s, 2.0), task(3, u"c"_s, QVariant()),
                           task(4, u"d"_s, 2.0), task(5, u"e"_s, 1.0)}});
    QCOMPARE(keysInOrder(ds), (QList<double>{3, 5, 2, 4, 1}));

    Mirror mirror(&ds);
    QAbstractItemModelTester tester(&mirror, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy moves(&ds, &TClientDataSet::rowAboutToBeMoved);

    QVERIFY(ds.Locate(u"NRATIVIDADEFILIAL"_s, 5)); // row 1, order 1
    ds.Edit();
    ds.FieldByName(u"NRORDENAATIVIDADE"_s)->setAsFloat(3);
    QCOMPARE(keysInOrder(ds), (QList<double>{3, 5, 2, 4, 1})); // not before the post
    ds.Post();
    QCOMPARE(keysInOrder(ds), (QList<double>{3, 2, 4, 5, 1}));
    QCOMPARE(key(ds), 5.0); // still current
    QCOMPARE(ds.RecNo(), 4);
    QCOMPARE(moves.count(), 1);
    QCOMPARE(moves[0][0].toInt(), 1);
    QCOMPARE(moves[0][1].toInt(), 4); // Qt's convention: before the old row 4

    ds.Edit();
    ds.FieldByName(u"NRORDENAATIVIDADE"_s)->Clear();
    ds.Post();
    QCOMPARE(keysInOrder(ds), (QList<double>{3, 5, 2, 4, 1})); // nulls first, arrival order among them
    QCOMPARE(moves[1][0].toInt(), 3);
    QCOMPARE(moves[1][1].toInt(), 1);
    QCOMPARE(ds.RecNo(), 2);
}

void TstClientDataSet::indexNewRowStandsBeforeCurrentUntilPosted()
{
    TClientDataSet ds;
    defineTasks(ds);
    ds.setIndexName(u"idxPadrao"_s);
    ds.SetData(threeTasks());
    ds.Next();
    ds.Insert();
    QCOMPARE(ds.currentRow(), 1);
    QCOMPARE(keysInOrder(ds).at(2), 20.0);
    ds.FieldByName(u"NRATIVIDADEFILIAL"_s)->setAsFloat(-4);
    ds.FieldByName(u"NRORDENAATIVIDADE"_s)->setAsFloat(6);
    ds.Post();
    QCOMPARE(keysInOrder(ds), (QList<double>{10, 20, 30, -4}));
    QCOMPARE(ds.RecNo(), 4);

    ds.First();
    ds.Append();
    QCOMPARE(ds.currentRow(), 4);
    ds.FieldByName(u"NRATIVIDADEFILIAL"_s)->setAsFloat(-5);
    ds.FieldByName(u"NRORDENAATIVIDADE"_s)->setAsFloat(2); // equal to an existing order: after it
    ds.Post();
    QCOMPARE(keysInOrder(ds), (QList<double>{10, 20, -5, 30, -4}));
    QCOMPARE(ds.RecNo(), 3);
}

// The task ordering: two edits exchange the orders of neighbours; for a
// moment both carry the same order, the second edit finds its row by key.
void TstClientDataSet::exchangingOrdersSwapsRows()
{
    TClientDataSet ds;
    defineTasks(ds);
    ds.setIndexName(u"idxPadrao"_s);
    ds.SetData(threeTasks());
    TField *order = ds.FieldByName(u"NRORDENAATIVIDADE"_s);
    ds.Last();
    const double a = order->AsFloat();
    const double movedKey = key(ds);
    ds.Prior();
    const double b = order->AsFloat();
    ds.Edit();
    order->setAsFloat(a);
    ds.Post();
    QVERIFY(ds.Locate(u"NRATIVIDADEFILIAL"_s, movedKey));
    ds.Edit();
    order->setAsFloat(b);
    ds.Post();
    QCOMPARE(keysInOrder(ds), (QList<double>{10, 30, 20}));
    QCOMPARE(key(ds), 30.0);
    QCOMPARE(order->AsFloat(), 2.0);
    QCOMPARE(ds.ChangeCount(), 2);
}

void TstClientDataSet::indexByName()
{
    TClientDataSet ds;
    defineTasks(ds);
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, ds.setIndexName(u"idxNaoExiste"_s));
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, ds.addIndex(u"idxTexto"_s, u"NMATIVIDADEFILIAL"_s));
    ds.SetData(DataPacket{taskDefs(), {task(1, u"a"_s, 3.0), task(2, u"b"_s, 1.0), task(3, u"c"_s, 2.0)}});
    QCOMPARE(keysInOrder(ds), (QList<double>{1, 2, 3}));
    ds.Next(); // key 2
    Mirror mirror(&ds);
    QAbstractItemModelTester tester(&mirror, QAbstractItemModelTester::FailureReportingMode::QtTest);
    ds.setIndexName(u"IDXPADRAO"_s);
    QCOMPARE(keysInOrder(ds), (QList<double>{2, 3, 1}));
    QCOMPARE(key(ds), 2.0);
    QCOMPARE(ds.RecNo(), 1);
    ds.setIndexName(QString());
    QCOMPARE(keysInOrder(ds), (QList<double>{1, 2, 3}));
    QCOMPARE(mirror.resets, 2);
}

// After a refused post the row stays in edit; naming the active index again
// (as the task ordering does in every case) must neither post nor move it.
void TstClientDataSet::sameIndexAgainKeepsRefusedEdit()
{
    TClientDataSet ds;
    defineTasks(ds);
    ds.setIndexName(u"idxPadrao"_s);
    ds.SetData(threeTasks());
    ds.BeforePost = [](TClientDataSet *) { Abort(); };
    ds.Edit();
    ds.FieldByName(u"NRORDENAATIVIDADE"_s)->setAsFloat(9);
    QVERIFY_THROWS_EXCEPTION(EAbort, ds.Post());
    ds.setIndexName(u"idxPadrao"_s);
    QCOMPARE(ds.State(), TDataSetState::dsEdit);
    QCOMPARE(ds.RecNo(), 1);
    QCOMPARE(ds.FieldByName(u"NRORDENAATIVIDADE"_s)->AsFloat(), 9.0);
    QCOMPARE(ds.ChangeCount(), 0);
}

// ---------------------------------------------------------------- fill

void TstClientDataSet::setDataWithDefinedFields()
{
    TClientDataSet ds;
    ds.setObjectName(u"cdsAtividades"_s);
    ds.addField(u"CDOPERCONCL"_s, FieldType::Text, 12);
    ds.addField(u"DTCONCLUSAO"_s, FieldType::DateTime);
    // The packet's field order, an extra field and a wider text size do not matter.
    DataPacket packet{
        {{u"EXTRA"_s, FieldType::Number, 0},
         {u"DTCONCLUSAO"_s, FieldType::DateTime, 0},
         {u"CDOPERCONCL"_s, FieldType::Text, 40}},
        {{1.0, DateTime::fromDate(2025, 3, 5, 14, 7, 9), u"SUPERVISOR"_s}, {2.0, QVariant(), QVariant()}}};
    ds.SetData(packet);
    QCOMPARE(ds.FieldCount(), 2);
    QCOMPARE(ds.FieldByName(u"CDOPERCONCL"_s)->AsString(), u"SUPERVISOR"_s);
    QCOMPARE(ds.FieldByName(u"DTCONCLUSAO"_s)->AsString(), u"05/03/2025 14:07:09"_s);
    ds.Next();
    QVERIFY(ds.FieldByName(u"CDOPERCONCL"_s)->IsNull());
    QCOMPARE(ds.data().fields.size(), 2);
}

void TstClientDataSet::setDataWithoutFieldsCreatesThem()
{
    TClientDataSet ds;
    ds.setObjectName(u"cdsVdOperadores"_s);
    ds.SetData(threeTasks());
    QCOMPARE(ds.FieldCount(), 5);
    QCOMPARE(ds.Fields().at(1)->Size(), 100);
    QCOMPARE(ds.Fields().at(1)->objectName(), u"cdsVdOperadoresNMATIVIDADEFILIAL"_s);
    QVERIFY(ds.data() == threeTasks());
    // A packet of another shape replaces fields that came from a packet.
    ds.SetData(DataPacket{{{u"X"_s, FieldType::Number, 0}}, {{1.0}}});
    QCOMPARE(ds.FieldCount(), 1);
    QCOMPARE(ds.FieldByName(u"X"_s)->AsFloat(), 1.0);
}

void TstClientDataSet::setDataRefusesBadPacketAndKeepsContent_data()
{
    QTest::addColumn<DataPacket>("packet");
    QTest::addColumn<QString>("mentions");

    DataPacket missing = threeTasks();
    missing.fields.removeAt(4);
    for (Row &row : missing.rows) {
        row.removeAt(4);
    }
    QTest::newRow("defined field missing") << missing << u"IDEXECUTA"_s;

    DataPacket wrongType = threeTasks();
    wrongType.fields[3].type = FieldType::Number;
    QTest::newRow("incompatible type") << wrongType << u"DTATUALIZACAO"_s;

    DataPacket tooLong = threeTasks();
    tooLong.fields[1].size = 200;
    tooLong.rows[2][1] = QString(101, u'x');
    QTest::newRow("text longer than the defined size") << tooLong << u"NMATIVIDADEFILIAL"_s;

    DataPacket shortRow = threeTasks();
    shortRow.rows[1].removeLast();
    QTest::newRow("row with too few values") << shortRow << u"linha 2"_s;

    DataPacket loneSurrogate = threeTasks();
    loneSurrogate.rows[1][1] = u"a"_s + QChar(0xDC00);
    QTest::newRow("text with a lone surrogate") << loneSurrogate << u"NMATIVIDADEFILIAL"_s;

    DataPacket textInNumber = threeTasks();
    textInNumber.rows[0][0] = u"10"_s;
    QTest::newRow("text in a number field") << textInNumber << u"NRATIVIDADEFILIAL"_s;
}

void TstClientDataSet::setDataRefusesBadPacketAndKeepsContent()
{
    QFETCH(DataPacket, packet);
    QFETCH(QString, mentions);

    // A packet that can be encoded is also given as bytes: decoding checks
    // texts against the packet's own sizes, the record set against its own.
    QList<std::function<void(TClientDataSet &)>> ways{[&](TClientDataSet &ds) { ds.SetData(packet); }};
    try {
        const QByteArray bytes = packet.encode();
        ways << [bytes](TClientDataSet &ds) { ds.SetData(bytes); };
    } catch (const EPacketError &) { }
    for (const auto &setData : ways) {
        TClientDataSet ds;
        defineTasks(ds);
        ds.SetData(DataPacket{taskDefs(), {task(7, u"antes"_s, 1.0)}});
        ds.Edit();
        ds.FieldByName(u"NMATIVIDADEFILIAL"_s)->setAsString(u"editando"_s);
        const Snapshot before(ds);
        EventLog log;
        log.attach(ds);
        const QString said = refusalOf([&] { setData(ds); });
        QVERIFY2(said.contains(mentions), qPrintable(said));
        QVERIFY(Snapshot(ds) == before);
        QVERIFY(log.events.isEmpty());
    }
}

void TstClientDataSet::bytesRoundTrip()
{
    TClientDataSet source;
    defineTasks(source);
    source.setIndexName(u"idxPadrao"_s);
    source.SetData(
        DataPacket{taskDefs(),
                   {{-3.0, QString(), 1.0, DateTime::fromDate(2025, 12, 31, 23, 59, 59), u"S"_s},
                    {-1.0, QVariant(), 2.0, QVariant(), QVariant()},
                    {4.0, u"Ação de revisão — conferência"_s, 3.0, DateTime::fromDate(1899, 12, 30), u"N"_s}}});
    source.Edit();
    source.FieldByName(u"NMATIVIDADEFILIAL"_s)->setAsString(QString(100, u'é'));
    source.Post();

    TClientDataSet copy;
    copy.SetData(source.GetData());
    QVERIFY(copy.data() == source.data());
    QVERIFY(copy.valueAt(0, 1).isValid()); // empty text stays empty text
    QVERIFY(!copy.valueAt(1, 1).isValid()); // and null stays null
    QCOMPARE(copy.FieldByName(u"DTATUALIZACAO"_s)->AsString(), u"31/12/2025 23:59:59"_s);

    const DeltaPacket delta = DeltaPacket::decode(source.GetDelta());
    QVERIFY(delta == source.delta());
    QCOMPARE(delta.entries.size(), 1);
}

QStringList observed(TClientDataSet &ds);

// The rows of a packet given as bytes become the records' storage as they
// are: the record set must end as the same packet given decoded leaves it,
// its calculated field computed and its narrower text still counted.
void TstClientDataSet::bytesFillAsThePacketDoes()
{
    auto define = [](TClientDataSet &ds) {
        defineTasks(ds);
        ds.addField(u"NOME_ORDEM"_s, FieldType::Text, 120, true);
        ds.setIndexName(u"idxPadrao"_s);
        ds.OnCalcFields = [](TClientDataSet *set) {
            set->FieldByName(u"NOME_ORDEM"_s)
                ->setAsString(set->FieldByName(u"NMATIVIDADEFILIAL"_s)->AsString() + u" "_s
                              + set->FieldByName(u"NRORDENAATIVIDADE"_s)->AsString());
        };
    };
    DataPacket wider = threeTasks();
    wider.fields[1].size = 200;
    wider.rows[1][3] = DateTime::fromDate(2025, 3, 5, 14, 7, 9);
    wider.rows[2][1] = QVariant();
    TClientDataSet fromPacket, fromBytes;
    define(fromPacket);
    define(fromBytes);
    fromPacket.SetData(wider);
    fromBytes.SetData(wider.encode());
    QCOMPARE(observed(fromBytes), observed(fromPacket));
    QCOMPARE(fromBytes.FieldByName(u"NOME_ORDEM"_s)->AsString(), u"Conferir 1"_s);
    QVERIFY(fromBytes.data() == fromPacket.data());

    wider.rows[0][1] = QString(101, u'x');
    const Snapshot before(fromBytes);
    const QString said = refusalOf([&] { fromBytes.SetData(wider.encode()); });
    QVERIFY2(said.contains(u"NMATIVIDADEFILIAL"_s), qPrintable(said));
    QVERIFY(Snapshot(fromBytes) == before);
}

// What a copy must agree on: fields, state, position, rows (null apart from
// empty text), change log and current values, calculated ones included.
QStringList observed(TClientDataSet &ds)
{
    QStringList seen;
    for (const TField *field : ds.Fields()) {
        seen << u"%1 %2 %3"_s.arg(field->FieldName()).arg(int(field->DataType())).arg(field->Size());
    }
    const Snapshot snapshot(ds);
    seen << u"state %1 recNo %2 count %3 rows %4 changes %5"_s.arg(int(snapshot.state))
                .arg(snapshot.recNo)
                .arg(snapshot.recordCount)
                .arg(snapshot.rowCount)
                .arg(ds.ChangeCount());
    for (int row = 0; row < ds.rowCount(); ++row) {
        for (int column = 0; column < ds.FieldCount(); ++column) {
            const QVariant value = ds.valueAt(row, column);
            seen << u"%1/%2 %3 %4"_s.arg(row).arg(column).arg(
                value.isValid() ? QString::fromLatin1(value.typeName()) : u"null"_s, value.toString());
        }
    }
    for (const QVariant &value : snapshot.current) {
        seen << u"current %1"_s.arg(value.isValid() ? value.toString() : u"null"_s);
    }
    return seen;
}

void TstClientDataSet::setDataFromMeansSetDataOfGetData_data()
{
    QTest::addColumn<Step>("prepareSource");
    QTest::addColumn<Step>("prepareTarget");
    QTest::addColumn<bool>("intoItself");

    const Step nothing = [](TClientDataSet &) {};
    const Step tasks = [](TClientDataSet &ds) { defineTasks(ds); };
    const Step nullAndEmpty = [](TClientDataSet &ds) {
        defineTasks(ds);
        ds.SetData(
            DataPacket{taskDefs(), {task(1, QString(u""_s), 3.0), {2.0, QVariant(), 1.0, 45000.25, QVariant()}}});
    };
    // One row modified, one inserted, one deleted, all posted and pending.
    const Step pending = [](TClientDataSet &ds) {
        openThreeTasks(ds);
        ds.Edit();
        ds.FieldByName(u"NMATIVIDADEFILIAL"_s)->setAsString(u"Conferir de novo"_s);
        ds.Post();
        ds.Append();
        ds.FieldByName(u"NRATIVIDADEFILIAL"_s)->setAsFloat(40);
        ds.Post();
        ds.Last();
        ds.Prior();
        ds.Delete();
    };
    const Step inserting = [](TClientDataSet &ds) {
        openThreeTasks(ds);
        ds.Next();
        ds.Insert();
        ds.FieldByName(u"NRATIVIDADEFILIAL"_s)->setAsFloat(99);
    };
    const Step editing = [](TClientDataSet &ds) {
        openThreeTasks(ds);
        ds.Last();
        ds.Edit();
        ds.FieldByName(u"NMATIVIDADEFILIAL"_s)->setAsString(u"não gravado"_s);
    };
    const Step indexed = [](TClientDataSet &ds) {
        defineTasks(ds);
        ds.setIndexName(u"idxPadrao"_s);
        ds.SetData(DataPacket{taskDefs(), {task(1, u"c"_s, 9.0), task(2, u"a"_s, QVariant()), task(3, u"b"_s, 4.0)}});
        ds.Last();
    };
    const Step fromOtherPacket = [](TClientDataSet &ds) {
        ds.SetData(DataPacket{{{u"X"_s, FieldType::Number, 0}}, {{1.0}}});
    };
    const Step narrowName = [](TClientDataSet &ds) {
        ds.addField(u"NRATIVIDADEFILIAL"_s, FieldType::Number);
        ds.addField(u"NMATIVIDADEFILIAL"_s, FieldType::Text, 6);
    };
    // A calculated field, an active index and handlers of its own.
    const Step calculating = [](TClientDataSet &ds) {
        defineTasks(ds);
        ds.addField(u"ROTULO"_s, FieldType::Text, 120, true);
        ds.setIndexName(u"idxPadrao"_s);
        ds.OnCalcFields = [](TClientDataSet *set) {
            set->FieldByName(u"ROTULO"_s)->setAsString(set->FieldByName(u"NMATIVIDADEFILIAL"_s)->AsString() + u"!"_s);
        };
    };

    QTest::newRow("null and empty text") << nullAndEmpty << nothing << false;
    QTest::newRow("null and empty text, defined fields") << nullAndEmpty << tasks << false;
    QTest::newRow("pending changes") << pending << tasks << false;
    QTest::newRow("row being inserted") << inserting << nothing << false;
    QTest::newRow("row being edited") << editing << tasks << false;
    QTest::newRow("index and calculated field here") << indexed << calculating << false;
    QTest::newRow("inactive source with fields") << tasks << nothing << false;
    QTest::newRow("inactive source with fields, defined fields") << tasks << tasks << false;
    QTest::newRow("inactive source without fields") << nothing << nothing << false;
    QTest::newRow("inactive source without fields, defined fields") << nothing << tasks << false;
    QTest::newRow("fields of an earlier packet") << pending << fromOtherPacket << false;
    QTest::newRow("text too long for a narrower field") << pending << narrowName << false;
    QTest::newRow("into itself, pending changes") << pending << nothing << true;
    QTest::newRow("into itself, row being inserted") << inserting << nothing << true;
}

void TstClientDataSet::setDataFromMeansSetDataOfGetData()
{
    QFETCH(Step, prepareSource);
    QFETCH(Step, prepareTarget);
    QFETCH(bool, intoItself);

    // Each way gets a source and a target of its own, prepared alike.
    auto run = [&](bool direct, QStringList *events, QString *failure, QStringList *sourceAfter) {
        TClientDataSet source;
        TClientDataSet separate;
        prepareSource(source);
        TClientDataSet &target = intoItself ? source : separate;
        if (!intoItself) {
            prepareTarget(target);
        }
        const QStringList sourceBefore = observed(source);
        EventLog log;
        log.attach(target);
        try {
            if (direct) {
                target.SetDataFrom(source);
            } else {
                target.SetData(source.GetData());
            }
        } catch (const EDatabaseError &e) {
            *failure = e.message();
        }
        *events = log.events;
        if (!intoItself) {
            *sourceAfter = observed(source);
            if (*sourceAfter != sourceBefore) {
                *failure += u" (source changed)"_s;
            }
        }
        return observed(target);
    };
    QStringList packetEvents, copyEvents, packetSource, copySource;
    QString packetFailure, copyFailure;
    const QStringList byPacket = run(false, &packetEvents, &packetFailure, &packetSource);
    const QStringList byCopy = run(true, &copyEvents, &copyFailure, &copySource);
    QCOMPARE(copyFailure, packetFailure);
    QCOMPARE(copyEvents, packetEvents);
    QCOMPARE(byCopy, byPacket);
    QCOMPARE(copySource, packetSource);
}

void TstClientDataSet::setDataFromLeavesSourceAlone()
{
    TClientDataSet source;
    openThreeTasks(source);
    TClientDataSet copy;
    copy.SetDataFrom(source);
    const QStringList before = observed(source);

    copy.Edit();
    copy.FieldByName(u"NMATIVIDADEFILIAL"_s)->setAsString(u"mudado na cópia"_s);
    copy.Post();
    copy.Last();
    copy.Delete();
    copy.Append();
    copy.FieldByName(u"NRATIVIDADEFILIAL"_s)->setAsFloat(50);
    copy.Post();
    QCOMPARE(observed(source), before);
    QVERIFY(source.Locate(u"NRATIVIDADEFILIAL"_s, 30.0));
    QVERIFY(!source.Locate(u"NRATIVIDADEFILIAL"_s, 50.0));

    // Nor the other way round.
    source.First();
    source.Edit();
    source.FieldByName(u"NMATIVIDADEFILIAL"_s)->setAsString(u"mudado na origem"_s);
    source.Post();
    copy.First();
    QCOMPARE(name(copy), u"mudado na cópia"_s);
}

void TstClientDataSet::emptyAndCreate()
{
    TClientDataSet ds;
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, ds.CreateDataSet()); // no fields
    defineTasks(ds);
    ds.CreateDataSet();
    QVERIFY(ds.Active());
    QVERIFY(ds.IsEmpty());
    ds.SetData(threeTasks());
    ds.Edit();
    ds.FieldByName(u"NMATIVIDADEFILIAL"_s)->setAsString(u"x"_s);
    ds.Post();
    ds.Edit();
    Mirror mirror(&ds);
    QAbstractItemModelTester tester(&mirror, QAbstractItemModelTester::FailureReportingMode::QtTest);
    ds.EmptyDataSet();
    QCOMPARE(ds.State(), TDataSetState::dsBrowse);
    QVERIFY(ds.IsEmpty());
    QCOMPARE(ds.ChangeCount(), 0);
    QCOMPARE(mirror.resets, 1);
}

// ---------------------------------------------------------------- views

void TstClientDataSet::notificationsFollowedByModel()
{
    TClientDataSet ds;
    defineTasks(ds);
    ds.setIndexName(u"idxPadrao"_s);
    Mirror mirror(&ds);
    QAbstractItemModelTester tester(&mirror, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy current(&ds, &TClientDataSet::currentRowChanged);
    QSignalSpy states(&ds, &TClientDataSet::stateChanged);

    auto modelMatches = [&] {
        if (mirror.rowCount() != ds.rowCount()) {
            return false;
        }
        for (int row = 0; row < ds.rowCount(); ++row) {
            for (int column = 0; column < ds.FieldCount(); ++column) {
                if (mirror.index(row, column).data() != ds.displayTextAt(row, ds.Fields().at(column))) {
                    return false;
                }
            }
        }
        return true;
    };

    ds.SetData(threeTasks());
    QCOMPARE(mirror.resets, 1);
    QVERIFY(modelMatches());

    TField *nm = ds.FieldByName(u"NMATIVIDADEFILIAL"_s);
    TField *order = ds.FieldByName(u"NRORDENAATIVIDADE"_s);
    ds.Next();
    QCOMPARE(current.last().at(0).toInt(), 1);
    ds.Insert();
    QCOMPARE(mirror.rowCount(), 4);
    QCOMPARE(states.last().at(0).value<TDataSetState>(), TDataSetState::dsInsert);
    const int changesBefore = mirror.changes;
    nm->setAsString(u"nova"_s);
    QCOMPARE(mirror.changes, changesBefore + 1);
    QCOMPARE(mirror.index(1, 1).data().toString(), u"nova"_s); // typing shows at once
    order->setAsFloat(9);
    ds.Post();
    QCOMPARE(ds.currentRow(), 3);
    QVERIFY(modelMatches());
    ds.First();
    ds.Edit();
    order->setAsFloat(3);
    ds.Post();
    QVERIFY(modelMatches());
    ds.Insert();
    ds.Cancel();
    QVERIFY(modelMatches());
    ds.Delete();
    QVERIFY(modelMatches());
    ds.Last();
    ds.Delete();
    QVERIFY(modelMatches());
    QCOMPARE(mirror.resets, 1); // single-row changes never reset the view
    ds.CancelUpdates();
    QVERIFY(modelMatches());
    ds.Close();
    QCOMPARE(mirror.rowCount(), 0);
}

void TstClientDataSet::viewReadsOtherRowsWithoutMoving()
{
    TClientDataSet ds;
    defineTasks(ds);
    TField *nm = ds.FieldByName(u"NMATIVIDADEFILIAL"_s);
    QStringList asked;
    QList<int> recNos;
    nm->OnGetText = [&](TField *sender, QString &text, bool displayText) {
        asked << sender->AsString();
        recNos << sender->DataSet()->RecNo();
        text = displayText ? u"<"_s + sender->AsString() + u">"_s : sender->AsString().toLower();
    };
    ds.SetData(threeTasks());
    int scrolls = 0;
    ds.AfterScroll = [&](TClientDataSet *) { ++scrolls; };
    QCOMPARE(ds.displayTextAt(2, nm), u"<Arquivar>"_s);
    QCOMPARE(ds.textAt(1, nm), u"lançar"_s);
    QCOMPARE(asked, (QStringList{u"Arquivar"_s, u"Lançar"_s}));
    // While a row is read for a view, RecNo names that row; afterwards the current one again.
    QCOMPARE(recNos, (QList<int>{3, 2}));
    QCOMPARE(ds.RecNo(), 1);
    QCOMPARE(ds.currentRow(), 0);
    QCOMPARE(nm->AsString(), u"Conferir"_s);
    QCOMPARE(scrolls, 0);
    QCOMPARE(ds.valueAt(2, 0), QVariant(30.0));
    QVERIFY(!ds.valueAt(3, 0).isValid());
    QVERIFY(ds.displayTextAt(-1, nm).isEmpty());

    ds.Edit();
    nm->setAsString(u"Digitando"_s);
    QCOMPARE(ds.displayTextAt(0, nm), u"<Digitando>"_s); // the row being edited shows what is typed
    QCOMPARE(ds.displayTextAt(1, nm), u"<Lançar>"_s);
}

void TstClientDataSet::objectNames()
{
    QObject screen;
    auto *ds = new TClientDataSet(&screen);
    TField *field = ds->addField(u"NRPROCESSOFILIAL"_s, FieldType::Number);
    ds->setObjectName(u"cdsProcessos"_s);
    QCOMPARE(field->objectName(), u"cdsProcessosNRPROCESSOFILIAL"_s);
    QCOMPARE(screen.findChild<TClientDataSet *>(u"cdsProcessos"_s), ds);
    QCOMPARE(screen.findChild<TField *>(u"cdsProcessosNRPROCESSOFILIAL"_s), field);
    QCOMPARE(field->Index(), 0);
    QCOMPARE(field->DataSet(), ds);
}

QTEST_GUILESS_MAIN(TstClientDataSet)
#include "tst_clientdataset.moc"
