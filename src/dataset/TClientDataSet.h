#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "DataSetRecord.h"
#include "Exceptions.h"
#include "LocateIndex.h"
#include "Packet.h"
#include "TField.h"
#include "dataset_export.h"

class TClientDataSet;
// Plain callables rather than signals: a before-event throws back to the
// call that raised it (that is how it refuses), and exactly one handler answers.
using TDataSetNotifyEvent = std::function<void(TClientDataSet *dataSet)>;

enum class TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert, dsCalcFields };

enum TLocateOption { loCaseInsensitive = 0x1, loPartialKey = 0x2 };
Q_DECLARE_FLAGS(TLocateOptions, TLocateOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TLocateOptions)

// In-memory record set with a current row, states, before/after events and a
// change log. Rows stand in the order of the active index (or arrival order).
//
// Event order:
//   Insert: BeforeInsert, row created (before the current row), AfterInsert, AfterScroll
//   Append: as Insert, row created at the end
//   Edit:   BeforeEdit, state edit, AfterEdit (on an empty record set Edit starts an Insert)
//   Post:   BeforePost, row written (index order restored), AfterPost
//   Cancel: BeforeCancel, changes discarded, AfterCancel; dropping a new row
//           returns the cursor to a row, a move: AfterScroll follows (not when
//           the new row is dropped on the way to a move, which scrolls itself)
//   Delete: BeforeDelete, row removed, AfterDelete, AfterScroll
//           (deleting a row being inserted cancels the insert instead)
//   Moves:  a pending edit is posted first (a new row with nothing assigned
//           since AfterInsert is cancelled instead), BeforeScroll, move,
//           AfterScroll when the current row changed; First and Last run
//           AfterScroll always, a successful Locate too. Next on the last row
//           (Prior on the first) only sets Eof (Bof); a failed Locate runs nothing.
//           The post before a move stands even if BeforeScroll then stops.
//   Fill (SetData/CreateDataSet): AfterOpen, then AfterScroll when not empty.
//   EmptyDataSet, CancelUpdates, Close and a change of IndexName replace the
//   content as a whole: they run no event, views get aboutToReset/contentReset.
// A before-event that throws (Abort or any error) leaves the record set exactly
// as it was (what the handler itself assigned to a row being edited stays in
// it) and the exception goes on to the caller. An after-event that throws
// lets its exception go on too, but the operation itself stands.
// Calculated fields are filled by OnCalcFields for every row: on fill, after a
// post and after every assignment to the row being edited. While it runs,
// State() is dsCalcFields and the fields read the row being calculated.
class DATASET_EXPORT TClientDataSet : public QObject
{
    Q_OBJECT
public:
    explicit TClientDataSet(QObject *parent = nullptr);
    ~TClientDataSet() override;

    // ---- definition (while inactive) ----
    // Text fields without a size get 20. Flags are Text of size 1.
    TField *addField(const QString &name, FieldType type, int size = 0, bool calculated = false);
    void addIndex(const QString &indexName, const QString &fieldName);
    QString IndexName() const;
    void setIndexName(const QString &indexName); // "" = arrival order; unknown name throws

    const QList<TField *> &Fields() const;
    int FieldCount() const;
    TField *FieldByName(const QString &name) const; // throws EDatabaseError when missing
    TField *FindField(const QString &name) const; // nullptr when missing

    // ---- content ----
    void CreateDataSet(); // opens empty with the defined fields
    void Close();
    bool Active() const;
    // Replaces all rows, leaves an empty change log, opens on the first row.
    // With fields already defined, every stored field must be in the packet
    // (extra packet fields are ignored); without, fields come from the packet.
    void SetData(const QByteArray &packet);
    void SetData(const DataPacket &packet);
    // Same as SetData(source.GetData()), events included, without building
    // a packet: the source's posted rows are copied as they stand, and the
    // source is left untouched (an inactive one gives an empty content).
    void SetDataFrom(const TClientDataSet &source);
    QByteArray GetData() const; // current content (posted rows) as a data packet
    DataPacket data() const;
    QByteArray GetDelta() const; // change log as a delta packet
    DeltaPacket delta() const;
    int ChangeCount() const; // rows with pending changes (inserted, modified, deleted)
    void MergeChangeLog();
    void CancelUpdates(); // back to the last merged content
    void EmptyDataSet(); // removes every row and empties the change log

    // ---- state and row operations ----
    TDataSetState State() const;
    void Insert();
    void Append();
    void Edit();
    void Post();
    void Cancel();
    void Delete();

    // ---- navigation ----
    void First();
    void Last();
    void Next();
    void Prior();
    bool Eof() const;
    bool Bof() const;
    bool IsEmpty() const; // no row at all, a row being inserted counts
    int RecordCount() const; // posted rows: a row being inserted is not counted
    // 1-based in index order; 0 when empty. While displayTextAt/textAt reads
    // a row, the number of that row.
    int RecNo() const;
    void setRecNo(int recNo); // out of range throws EDatabaseError
    // Finds the first row (in index order) whose field equals value: numbers
    // compare as numbers (value as double, int or text), texts as texts.
    bool Locate(const QString &fieldName, const QVariant &value, TLocateOptions options = {});

    // ---- events (attach and detach at run time by assignment) ----
    TDataSetNotifyEvent BeforeInsert, AfterInsert;
    TDataSetNotifyEvent BeforeEdit, AfterEdit;
    TDataSetNotifyEvent BeforePost, AfterPost;
    TDataSetNotifyEvent BeforeCancel, AfterCancel;
    TDataSetNotifyEvent BeforeDelete, AfterDelete;
    TDataSetNotifyEvent BeforeScroll, AfterScroll;
    TDataSetNotifyEvent AfterOpen;
    TDataSetNotifyEvent OnCalcFields;

    // ---- for views (grids): rows by 0-based position in index order ----
    int currentRow() const; // -1 when empty
    int rowCount() const; // rows a view shows, a row being inserted included
    QVariant valueAt(int row, int fieldIndex) const;
    // Field text of another row, through the get-text handler, without moving
    // the current row or running any event.
    QString displayTextAt(int row, TField *field) const;
    QString textAt(int row, TField *field) const;

    // Used by TField: the row a field reads (the current row, or the row a
    // view or the calculate-fields pass is looking at).
    QVariant fieldValue(const TField *field) const;
    void setFieldValue(TField *field, const QVariant &value);
    QVariant fieldOldValue(const TField *field) const;

signals:
    void rowAboutToBeInserted(int row);
    void rowInserted(int row);
    void rowAboutToBeRemoved(int row);
    void rowRemoved(int row);
    void rowChanged(int row); // values of a row changed in place
    void rowAboutToBeMoved(int from, int to); // Qt's beginMoveRows convention for 'to'
    void rowMoved(int from, int to);
    void currentRowChanged(int row);
    void aboutToReset(); // content about to be replaced
    void contentReset();
    void stateChanged(TDataSetState state);
    void fieldFocusRequested(TField *field);

private:
    using Record = DataSetRecord;
    struct Change
    {
        ChangeKind kind = ChangeKind::Inserted;
        Row original; // values of the last merge (Modified, Deleted)
        quint64 order = 0; // when the row was first changed
        Record *live = nullptr; // Inserted, Modified: the row in m_rows
        std::unique_ptr<Record> removed; // Deleted: the row, kept for CancelUpdates
    };
    // What the fields read: the current row, a row a view asks about, or the
    // row being calculated.
    struct ReadTarget
    {
        Record *record = nullptr;
        Row *values = nullptr;
    };

    // How the values of a packet (or of another record set) land here.
    struct FillTarget
    {
        int slot; // field slot here
        int source; // field position in the packet
        FieldType type;
        int size;
        QString name;
    };
    struct FillPlan
    {
        QList<FieldDef> defs;
        qsizetype rowCount = 0;
        bool recreate = false; // the fields are made anew from defs
        int slotCount = 0;
        int indexSlot = -1;
        std::vector<FillTarget> targets;
    };
    FillPlan planFill(const QList<FieldDef> &defs, qsizetype rowCount) const;
    template <typename Packet>
    void fillFromPacket(Packet &&packet);
    // rowsGiven: readRow hands over each record's whole storage.
    template <typename ReadRow>
    void fill(const FillPlan &plan, bool rowsGiven, ReadRow &&readRow);

    QString displayName() const;
    void checkActive() const;
    void checkNotCalculating() const;
    void checkBrowseMode();
    // Cancel; scroll: whether dropping a new row runs AfterScroll.
    void cancelRow(bool scroll);
    void setState(TDataSetState state);
    ReadTarget readTarget() const;
    bool editing() const { return m_state == TDataSetState::dsEdit || m_state == TDataSetState::dsInsert; }
    void runEvent(const TDataSetNotifyEvent &event);
    void calculate(Record *record, Row &values);
    void calculateAll();
    Row storedValues(const Row &values) const;
    QList<FieldDef> storedDefs() const;
    bool lessInIndex(const Record *a, const Record *b) const;
    int sortedPosition(const Record *record, int excluding) const;
    void sortRows(bool inArrivalOrder = false);
    void moveRowTo(int from, int to);
    void insertRow(bool append);
    void moveTo(int row, bool always);
    void discardEdit();
    void resetContent(std::vector<std::unique_ptr<Record>> rows, std::vector<LocateIndex> *lookups,
                      const std::function<void()> &beforeInstall = {});
    qint64 seqBefore(int position);
    void renumberSeqs();
    bool matches(const TField *field, const QVariant &stored, const QVariant &wanted, TLocateOptions options) const;
    void renameFields();
    LocateIndex &lookup(int slot);
    int positionOf(const Record *record) const;

    QList<TField *> m_fields;
    QHash<QString, TField *> m_fieldsByName; // by upper-case name
    bool m_fieldsFromPacket = false;
    QHash<QString, QString> m_indexes; // upper-case index name -> field name
    QString m_indexName;
    TField *m_indexField = nullptr;

    bool m_active = false;
    TDataSetState m_state = TDataSetState::dsInactive;
    std::vector<std::unique_ptr<Record>> m_rows; // in index (or arrival) order
    int m_current = -1;
    bool m_eof = true;
    bool m_bof = true;
    Row m_buffer; // values of the row being edited or inserted
    bool m_touched = false; // a value was assigned since the insert began
    int m_returnRow = -1; // the row current before the insert, for its cancel
    std::unordered_map<quint64, Change> m_changes; // by Record::id
    quint64 m_nextId = 1;
    quint64 m_changeOrder = 0;
    qint64 m_maxSeq = 0;
    int m_calculating = 0;
    mutable ReadTarget m_override;
    mutable int m_viewRow = -1; // the row displayTextAt/textAt is reading
    std::vector<LocateIndex> m_lookups; // by field slot
    quint64 m_generation = 1; // bumped by every post, delete and new content
};
