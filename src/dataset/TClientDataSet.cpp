#include "TClientDataSet.h"

#include "DateTime.h"
#include "FieldValue.h"
#include "NullValue.h"
#include "RadixSort.h"

#include <QMetaType>
#include <QScopeGuard>

#include <algorithm>
#include <utility>
#include <cmath>
#include <exception>
#include <type_traits>
#include <unordered_set>

using namespace Qt::StringLiterals;

namespace {

// Room between the arrival numbers of neighbouring rows, so that a row
// inserted between two others gets a number of its own without renumbering.
constexpr qint64 seqGap = qint64(1) << 20;

QString typeName(FieldType type)
{
    return enumName(fieldTypeNames, type).label.toString();
}

} // namespace

TClientDataSet::TClientDataSet(QObject *parent)
    : QObject(parent)
{
    connect(this, &QObject::objectNameChanged, this, [this] { renameFields(); });
}

TClientDataSet::~TClientDataSet() = default;

// ---------------------------------------------------------------- definition

QString TClientDataSet::displayName() const
{
    return objectName().isEmpty() ? u"(sem nome)"_s : objectName();
}

TField *TClientDataSet::addField(const QString &name, FieldType type, int size, bool calculated)
{
    if (m_active) {
        throw EDatabaseError(
            u"Os campos de %1 só podem ser definidos com o conjunto de registros fechado."_s.arg(displayName()));
    }
    if (name.trimmed().isEmpty()) {
        throw EDatabaseError(u"Nome de campo vazio em %1."_s.arg(displayName()));
    }
    if (m_fieldsByName.contains(name.toUpper())) {
        throw EDatabaseError(u"O campo %1 já existe em %2."_s.arg(name, displayName()));
    }
    if (m_fields.size() >= PacketLimits::maxFields) {
        throw EDatabaseError(u"%1 não comporta mais de %2 campos."_s.arg(displayName()).arg(PacketLimits::maxFields));
    }
    if (type == FieldType::Text) {
        if (size == 0) {
            size = 20;
        }
        if (size < 1 || size > PacketLimits::maxTextSize) {
            throw EDatabaseError(u"Tamanho inválido (%1) para o campo %2."_s.arg(size).arg(name));
        }
    } else {
        size = 0;
    }
    auto *field = new TField(this, name, type, size, calculated);
    field->m_index = int(m_fields.size());
    field->setObjectName(objectName() + name);
    m_fields.append(field);
    m_fieldsByName.insert(name.toUpper(), field);
    m_fieldsFromPacket = false;
    return field;
}

void TClientDataSet::renameFields()
{
    for (TField *field : std::as_const(m_fields)) {
        field->setObjectName(objectName() + field->FieldName());
    }
}

void TClientDataSet::addIndex(const QString &indexName, const QString &fieldName)
{
    TField *field = FieldByName(fieldName);
    if (field->DataType() != FieldType::Number || field->Calculated()) {
        throw EDatabaseError(
            u"O índice %1 precisa de um campo numérico armazenado; %2 não é."_s.arg(indexName, fieldName));
    }
    if (indexName.trimmed().isEmpty()) {
        throw EDatabaseError(u"Nome de índice vazio em %1."_s.arg(displayName()));
    }
    m_indexes.insert(indexName.toUpper(), field->FieldName());
}

QString TClientDataSet::IndexName() const
{
    return m_indexName;
}

void TClientDataSet::setIndexName(const QString &indexName)
{
    if (indexName.compare(m_indexName, Qt::CaseInsensitive) == 0) {
        return;
    }
    TField *field = nullptr;
    if (!indexName.isEmpty()) {
        const auto it = m_indexes.constFind(indexName.toUpper());
        if (it == m_indexes.constEnd()) {
            throw EDatabaseError(u"O índice %1 não existe em %2."_s.arg(indexName, displayName()));
        }
        field = FieldByName(*it);
    }
    if (!m_active) {
        m_indexName = indexName;
        m_indexField = field;
        return;
    }
    checkNotCalculating();
    checkBrowseMode();
    Record *current = m_current >= 0 ? m_rows[size_t(m_current)].get() : nullptr;
    // Without an index the rows already stand in arrival order.
    const bool inArrivalOrder = m_indexField == nullptr;
    emit aboutToReset();
    m_indexName = indexName;
    m_indexField = field;
    sortRows(inArrivalOrder);
    if (current) {
        for (size_t i = 0; i < m_rows.size(); ++i) {
            if (m_rows[i].get() == current) {
                m_current = int(i);
                break;
            }
        }
    }
    emit contentReset();
    emit currentRowChanged(m_current);
}

const QList<TField *> &TClientDataSet::Fields() const
{
    return m_fields;
}

int TClientDataSet::FieldCount() const
{
    return int(m_fields.size());
}

TField *TClientDataSet::FieldByName(const QString &name) const
{
    TField *field = FindField(name);
    if (!field) {
        throw EDatabaseError(u"O campo %1 não existe em %2."_s.arg(name, displayName()));
    }
    return field;
}

TField *TClientDataSet::FindField(const QString &name) const
{
    // Names are kept in upper case, and most callers write them so: found
    // without making an upper-case copy first.
    if (TField *field = m_fieldsByName.value(name, nullptr)) {
        return field;
    }
    return m_fieldsByName.value(name.toUpper(), nullptr);
}

// ---------------------------------------------------------------- helpers

void TClientDataSet::checkActive() const
{
    if (!m_active) {
        throw EDatabaseError(u"O conjunto de registros %1 não está aberto."_s.arg(displayName()));
    }
}

void TClientDataSet::checkNotCalculating() const
{
    if (m_calculating > 0) {
        throw EDatabaseError(u"Operação não permitida em %1 durante o cálculo dos campos."_s.arg(displayName()));
    }
}

// A pending edit is posted before anything else happens to the record set; a
// new row that nobody typed into is dropped instead, as a user expects.
void TClientDataSet::checkBrowseMode()
{
    if (m_state == TDataSetState::dsInsert && !m_touched) {
        cancelRow(false);
    } else if (editing()) {
        Post();
    }
}

void TClientDataSet::setState(TDataSetState state)
{
    if (m_state != state) {
        m_state = state;
        emit stateChanged(state);
    }
}

TClientDataSet::ReadTarget TClientDataSet::readTarget() const
{
    if (m_override.values) {
        return m_override;
    }
    if (!m_active || m_current < 0) {
        return {};
    }
    auto *self = const_cast<TClientDataSet *>(this);
    Record *record = self->m_rows[size_t(m_current)].get();
    if (editing()) {
        return {record, &self->m_buffer};
    }
    return {record, &record->values};
}

void TClientDataSet::runEvent(const TDataSetNotifyEvent &event)
{
    if (event) {
        // A copy: the handler may detach or replace itself while it runs.
        const TDataSetNotifyEvent handler = event;
        handler(this);
    }
}

void TClientDataSet::calculate(Record *record, Row &values)
{
    if (!OnCalcFields) {
        return;
    }
    bool any = false;
    for (const TField *field : std::as_const(m_fields)) {
        if (field->Calculated()) {
            values[field->m_index] = QVariant();
            any = true;
        }
    }
    if (!any) {
        return;
    }
    const ReadTarget saved = m_override;
    m_override = {record, &values};
    ++m_calculating;
    const auto restore = qScopeGuard([this, saved] {
        --m_calculating;
        m_override = saved;
    });
    const TDataSetNotifyEvent handler = OnCalcFields;
    handler(this);
}

void TClientDataSet::calculateAll()
{
    if (!OnCalcFields) {
        return;
    }
    for (const auto &record : m_rows) {
        calculate(record.get(), record->values);
    }
}

Row TClientDataSet::storedValues(const Row &values) const
{
    Row row;
    row.reserve(m_fields.size());
    for (const TField *field : m_fields) {
        if (!field->Calculated()) {
            row.append(values.at(field->m_index));
        }
    }
    return row;
}

QList<FieldDef> TClientDataSet::storedDefs() const
{
    QList<FieldDef> defs;
    for (const TField *field : m_fields) {
        if (!field->Calculated()) {
            defs.append(field->def());
        }
    }
    return defs;
}

// Nulls first, then by value; equal values keep their arrival order.
bool TClientDataSet::lessInIndex(const Record *a, const Record *b) const
{
    if (m_indexField) {
        const QVariant &ka = a->values.at(m_indexField->m_index);
        const QVariant &kb = b->values.at(m_indexField->m_index);
        const bool na = !ka.isValid();
        const bool nb = !kb.isValid();
        if (na != nb) {
            return na;
        }
        if (!na) {
            const double da = ka.toDouble();
            const double db = kb.toDouble();
            if (da != db) {
                return da < db;
            }
        }
    }
    return a->seq < b->seq;
}

// Where the record belongs among the other rows (the row at 'excluding' left
// out), as its final position.
int TClientDataSet::sortedPosition(const Record *record, int excluding) const
{
    const int others = int(m_rows.size()) - (excluding >= 0 ? 1 : 0);
    auto at = [&](int i) { return m_rows[size_t(excluding >= 0 && i >= excluding ? i + 1 : i)].get(); };
    int lo = 0;
    int hi = others;
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (lessInIndex(at(mid), record)) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}

void TClientDataSet::sortRows(bool inArrivalOrder)
{
    // The values of the index field, as a fill collected them, already carry
    // everything the order needs.
    if (m_indexField && size_t(m_indexField->m_index) < m_lookups.size()) {
        if (const auto *entries =
                m_lookups[size_t(m_indexField->m_index)].arrivalOrdered(m_generation, m_rows.size())) {
            for (auto &row : m_rows) {
                row.release();
            }
            for (size_t i = 0; i < m_rows.size(); ++i) {
                m_rows[i].reset((*entries)[i].record);
            }
            return;
        }
    }
    struct Item
    {
        quint64 key;
        Record *record;
    };
    std::vector<Item> items;
    items.reserve(m_rows.size());
    for (auto &row : m_rows) {
        items.push_back({seqKey(row->seq), row.release()});
    }
    if (!inArrivalOrder) {
        radixSort(items);
    }
    if (m_indexField) {
        const int slot = m_indexField->m_index;
        for (Item &item : items) {
            item.key = orderKey(item.record->values.at(slot));
        }
        radixSort(items);
    }
    for (size_t i = 0; i < items.size(); ++i) {
        m_rows[i].reset(items[i].record);
    }
}

void TClientDataSet::moveRowTo(int from, int to)
{
    if (from == to) {
        return;
    }
    // Qt's convention: the destination is the row before which the moved row
    // lands, counted before the move.
    const int destination = to > from ? to + 1 : to;
    emit rowAboutToBeMoved(from, destination);
    if (from < to) {
        std::rotate(m_rows.begin() + from, m_rows.begin() + from + 1, m_rows.begin() + to + 1);
    } else {
        std::rotate(m_rows.begin() + to, m_rows.begin() + from, m_rows.begin() + from + 1);
    }
    if (m_current == from) {
        m_current = to;
    } else if (from < m_current && m_current <= to) {
        --m_current;
    } else if (to <= m_current && m_current < from) {
        ++m_current;
    }
    emit rowMoved(from, destination);
}

qint64 TClientDataSet::seqBefore(int position)
{
    if (m_indexField || position >= int(m_rows.size())) {
        m_maxSeq += seqGap;
        return m_maxSeq;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        const qint64 hi = m_rows[size_t(position)]->seq;
        const qint64 lo = position > 0 ? m_rows[size_t(position) - 1]->seq : hi - 2 * seqGap;
        const qint64 mid = lo + (hi - lo) / 2;
        if (mid != lo && mid != hi) {
            return mid;
        }
        renumberSeqs();
    }
    m_maxSeq += seqGap;
    return m_maxSeq;
}

// Spreads the arrival numbers again (rare: many rows inserted at one place),
// keeping their order, deleted rows of the change log included.
void TClientDataSet::renumberSeqs()
{
    std::vector<Record *> all;
    all.reserve(m_rows.size() + m_changes.size());
    for (const auto &record : m_rows) {
        all.push_back(record.get());
    }
    for (auto &entry : m_changes) {
        if (entry.second.removed) {
            all.push_back(entry.second.removed.get());
        }
    }
    std::stable_sort(all.begin(), all.end(), [](const Record *a, const Record *b) { return a->seq < b->seq; });
    qint64 seq = 0;
    for (Record *record : all) {
        seq += seqGap;
        record->seq = seq;
    }
    m_maxSeq = seq;
}

// ---------------------------------------------------------------- content

void TClientDataSet::resetContent(std::vector<std::unique_ptr<Record>> rows, std::vector<LocateIndex> *lookups,
                                  const std::function<void()> &beforeInstall)
{
    const TDataSetState oldState = m_state;
    emit aboutToReset();
    if (beforeInstall) {
        beforeInstall();
    }
    m_rows = std::move(rows);
    m_changes.clear();
    m_buffer.clear();
    m_touched = false;
    m_returnRow = -1;
    m_active = true;
    m_state = TDataSetState::dsBrowse;
    ++m_generation;
    m_lookups.clear();
    if (lookups) {
        m_lookups = std::move(*lookups);
        for (LocateIndex &lookup : m_lookups) {
            lookup.adopt(m_generation);
        }
    }
    m_current = m_rows.empty() ? -1 : 0;
    m_eof = m_rows.empty();
    m_bof = true;
    std::exception_ptr failure;
    try {
        calculateAll();
    } catch (...) {
        failure = std::current_exception();
    }
    emit contentReset();
    if (oldState != m_state) {
        emit stateChanged(m_state);
    }
    emit currentRowChanged(m_current);
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void TClientDataSet::CreateDataSet()
{
    checkNotCalculating();
    if (m_fields.isEmpty()) {
        throw EDatabaseError(u"%1 não tem campos definidos."_s.arg(displayName()));
    }
    resetContent({}, nullptr);
    runEvent(AfterOpen);
}

void TClientDataSet::Close()
{
    checkNotCalculating();
    if (!m_active) {
        return;
    }
    emit aboutToReset();
    m_rows.clear();
    m_lookups.clear();
    ++m_generation;
    m_changes.clear();
    m_buffer.clear();
    m_touched = false;
    m_returnRow = -1;
    m_active = false;
    m_current = -1;
    m_eof = m_bof = true;
    m_state = TDataSetState::dsInactive;
    emit contentReset();
    emit stateChanged(m_state);
    emit currentRowChanged(-1);
}

bool TClientDataSet::Active() const
{
    return m_active;
}

void TClientDataSet::SetData(const QByteArray &packet)
{
    // Decoding checked every value against the packet's own fields, and its
    // rows are this record set's to take.
    fillFromPacket(DataPacket::decode(packet));
}

void TClientDataSet::SetData(const DataPacket &packet)
{
    fillFromPacket(packet);
}

void TClientDataSet::SetDataFrom(const TClientDataSet &source)
{
    checkNotCalculating();
    const QList<FieldDef> defs = source.storedDefs();
    checkFields(defs); // what GetData would refuse to put in a packet
    std::vector<int> sourceSlots; // the source's slot of each stored field
    for (const TField *field : source.m_fields) {
        if (!field->Calculated()) {
            sourceSlots.push_back(field->m_index);
        }
    }
    // A row being inserted is not posted, so GetData leaves it out.
    std::vector<const Record *> rows;
    rows.reserve(source.m_rows.size());
    for (size_t i = 0; i < source.m_rows.size(); ++i) {
        if (!(source.m_state == TDataSetState::dsInsert && int(i) == source.m_current)) {
            rows.push_back(source.m_rows[i].get());
        }
    }
    const FillPlan plan = planFill(defs, qsizetype(rows.size()));
    // The source's values passed their own fields' checks; only a narrower
    // text field here has something left to check.
    fill(plan, false, [&](qsizetype r, Row &values) {
        const Row &from = rows[size_t(r)]->values;
        for (const FillTarget &target : plan.targets) {
            const QVariant &value = from.at(sourceSlots[size_t(target.source)]);
            if (target.type == FieldType::Text && value.isValid() && target.size < defs.at(target.source).size) {
                FieldValue::checkText(value.toString(), target.name, target.size, r);
            }
            values[target.slot] = value;
        }
    });
}

TClientDataSet::FillPlan TClientDataSet::planFill(const QList<FieldDef> &defs, qsizetype rowCount) const
{
    if (defs.size() > PacketLimits::maxFields) {
        throw EDatabaseError(u"O pacote de dados tem campos demais (%1)."_s.arg(defs.size()));
    }
    if (rowCount > PacketLimits::maxRows) {
        throw EDatabaseError(u"O pacote de dados tem linhas demais (%1)."_s.arg(rowCount));
    }
    QHash<QString, int> packetIndex;
    for (int i = 0; i < defs.size(); ++i) {
        const FieldDef &def = defs.at(i);
        if (def.name.trimmed().isEmpty()) {
            throw EDatabaseError(u"O pacote de dados tem um campo sem nome."_s);
        }
        if (def.type == FieldType::Text && (def.size < 1 || def.size > PacketLimits::maxTextSize)) {
            throw EDatabaseError(
                u"Tamanho inválido (%1) do campo %2 no pacote de dados."_s.arg(def.size).arg(def.name));
        }
        if (packetIndex.contains(def.name.toUpper())) {
            throw EDatabaseError(u"O campo %1 aparece duas vezes no pacote de dados."_s.arg(def.name));
        }
        packetIndex.insert(def.name.toUpper(), i);
    }

    FillPlan plan;
    plan.defs = defs;
    plan.rowCount = rowCount;
    // Fields made from an earlier packet follow the new one; fields defined
    // by the program stay, and the packet must carry each of them.
    plan.recreate = m_fields.isEmpty() || (m_fieldsFromPacket && storedDefs() != defs);
    if (plan.recreate) {
        for (int i = 0; i < defs.size(); ++i) {
            const FieldDef &def = defs.at(i);
            plan.targets.push_back({i, i, def.type, def.type == FieldType::Text ? def.size : 0, def.name});
        }
        plan.slotCount = int(defs.size());
        if (!m_indexName.isEmpty()) {
            const auto it = packetIndex.constFind(m_indexes.value(m_indexName.toUpper()).toUpper());
            if (it != packetIndex.constEnd() && defs.at(*it).type == FieldType::Number) {
                plan.indexSlot = *it;
            }
        }
        return plan;
    }
    for (const TField *field : std::as_const(m_fields)) {
        if (field->Calculated()) {
            continue;
        }
        const auto it = packetIndex.constFind(field->FieldName().toUpper());
        if (it == packetIndex.constEnd()) {
            throw EDatabaseError(
                u"O campo %1 de %2 não está no pacote de dados."_s.arg(field->FieldName(), displayName()));
        }
        const FieldDef &def = defs.at(*it);
        if (def.type != field->DataType()) {
            throw EDatabaseError(u"O campo %1 de %2 é do tipo %3, mas no pacote de dados é do tipo %4."_s.arg(
                field->FieldName(), displayName(), typeName(field->DataType()), typeName(def.type)));
        }
        plan.targets.push_back({field->m_index, *it, field->DataType(), field->Size(), field->FieldName()});
    }
    plan.slotCount = int(m_fields.size());
    plan.indexSlot = m_indexField ? m_indexField->m_index : -1;
    return plan;
}

template <typename Packet>
void TClientDataSet::fillFromPacket(Packet &&packet)
{
    checkNotCalculating();
    // A packet handed over (not const) is one decoded here: its values were
    // checked against its own fields, and its rows are this record set's to take.
    constexpr bool decoded = !std::is_const_v<std::remove_reference_t<Packet>>;
    const QList<FieldDef> &defs = packet.fields;
    FillPlan plan = planFill(defs, packet.rows.size());
    // A decoded packet whose fields stand in this record set's first slots,
    // in order: each of its rows becomes a record's storage as it is (its
    // values are what the loop below would store), with the calculated
    // slots added at its end.
    bool inPlace = decoded && plan.targets.size() == size_t(defs.size()) && plan.slotCount >= defs.size();
    std::vector<const FillTarget *> narrower; // texts to count again
    for (const FillTarget &target : plan.targets) {
        inPlace = inPlace && target.slot == target.source;
        if (target.type == FieldType::Text && target.size < defs.at(target.source).size) {
            narrower.push_back(&target);
        }
    }
    fill(plan, inPlace, [&](qsizetype r, Row &values) {
        const Row &source = packet.rows.at(r);
        if (source.size() != defs.size()) {
            throw EDatabaseError(u"A linha %1 do pacote de dados tem %2 valores para %3 campos."_s.arg(r + 1)
                                     .arg(source.size())
                                     .arg(defs.size()));
        }
        if (inPlace) {
            for (const FillTarget *target : narrower) {
                const QVariant &value = source.at(target->source);
                if (!isNullValue(value)) {
                    FieldValue::checkText(value.toString(), target->name, target->size, r);
                }
            }
            if constexpr (decoded) {
                values = std::move(packet.rows[r]);
                values.resize(plan.slotCount);
            }
            return;
        }
        for (const FillTarget &target : plan.targets) {
            const QVariant &value = source.at(target.source);
            if (isNullValue(value)) {
                continue;
            }
            if (target.type == FieldType::Text) {
                if (value.typeId() != QMetaType::QString) {
                    throw EDatabaseError(
                        u"Valor que não é texto no campo %1, linha %2 do pacote de dados."_s.arg(target.name)
                            .arg(r + 1));
                }
                // A decoded text fits its packet field already; counted again
                // only when the field here is narrower.
                if (!decoded || target.size < defs.at(target.source).size) {
                    FieldValue::checkText(value.toString(), target.name, target.size, r);
                }
                values[target.slot] = value;
            } else {
                const double number = value.toDouble();
                if (!decoded) {
                    if (!FieldValue::isNumeric(value) || !std::isfinite(number)) {
                        throw EDatabaseError(
                            u"Valor inválido no campo %1, linha %2 do pacote de dados."_s.arg(target.name).arg(r + 1));
                    }
                    checkValue({target.name, target.type, 0}, value);
                }
                values[target.slot] = number;
            }
        }
    });
}

// Builds the rows, then replaces the content: nothing changes until every row
// has been read and checked.
template <typename ReadRow>
void TClientDataSet::fill(const FillPlan &plan, bool rowsGiven, ReadRow &&readRow)
{
    std::vector<int> numberSlots;
    for (const FillTarget &target : plan.targets) {
        if (target.type == FieldType::Number) {
            numberSlots.push_back(target.slot);
        }
    }
    std::vector<LocateIndex> lookups(static_cast<size_t>(plan.slotCount));
    for (const int slot : numberSlots) {
        lookups[size_t(slot)].reserve(size_t(plan.rowCount));
    }
    struct Arrival
    {
        quint64 key;
        qsizetype row;
    };
    std::vector<Arrival> order;
    // Rows are built in arrival order, which keeps memory access sequential;
    // an active index then orders the row pointers.
    std::vector<std::unique_ptr<Record>> rows;
    rows.reserve(size_t(plan.rowCount));
    for (qsizetype r = 0; r < plan.rowCount; ++r) {
        auto record = std::make_unique<Record>();
        if (!rowsGiven) {
            record->values = Row(plan.slotCount);
        }
        readRow(r, record->values);
        for (const int slot : numberSlots) {
            lookups[size_t(slot)].add(record->values.at(slot), record.get());
        }
        record->id = m_nextId++;
        record->seq = (r + 1) * seqGap;
        if (plan.indexSlot >= 0) {
            order.push_back({orderKey(record->values.at(plan.indexSlot)), r});
        }
        rows.push_back(std::move(record));
    }
    if (plan.indexSlot >= 0) {
        radixSort(order);
        std::vector<std::unique_ptr<Record>> sorted;
        sorted.reserve(rows.size());
        for (const Arrival &arrival : order) {
            sorted.push_back(std::move(rows[size_t(arrival.row)]));
        }
        rows.swap(sorted);
    }
    const qint64 seq = (plan.rowCount + 1) * seqGap;

    // Everything is checked: from here on the content is replaced.
    resetContent(std::move(rows), &lookups, [&] {
        m_maxSeq = seq;
        if (!plan.recreate) {
            return;
        }
        // Views were told of the reset, so the old fields may go now; late
        // readers of an old field get null instead of another field's value.
        const QList<TField *> old = m_fields;
        m_fields.clear();
        m_fieldsByName.clear();
        m_indexField = nullptr;
        for (TField *field : old) {
            field->m_index = -1;
            field->setObjectName(QString()); // no longer found by name
            field->deleteLater();
        }
        m_active = false; // fields are defined on a closed record set
        for (const FieldDef &def : plan.defs) {
            addField(def.name, def.type, def.type == FieldType::Text ? def.size : 0);
        }
        m_fieldsFromPacket = true;
        if (!m_indexName.isEmpty()) {
            TField *indexField = FindField(m_indexes.value(m_indexName.toUpper()));
            if (indexField && indexField->DataType() == FieldType::Number) {
                m_indexField = indexField;
            } else {
                m_indexName.clear();
            }
        }
    });
    runEvent(AfterOpen);
    if (m_active && !m_rows.empty()) {
        runEvent(AfterScroll);
    }
}

DataPacket TClientDataSet::data() const
{
    DataPacket packet;
    packet.fields = storedDefs();
    packet.rows.reserve(qsizetype(m_rows.size()));
    for (size_t i = 0; i < m_rows.size(); ++i) {
        if (m_state == TDataSetState::dsInsert && int(i) == m_current) {
            continue; // not posted yet
        }
        packet.rows.append(storedValues(m_rows[i]->values));
    }
    return packet;
}

QByteArray TClientDataSet::GetData() const
{
    return data().encode();
}

DeltaPacket TClientDataSet::delta() const
{
    DeltaPacket packet;
    packet.fields = storedDefs();
    std::vector<const Change *> changes;
    changes.reserve(m_changes.size());
    for (const auto &entry : m_changes) {
        changes.push_back(&entry.second);
    }
    std::sort(changes.begin(), changes.end(), [](const Change *a, const Change *b) { return a->order < b->order; });
    packet.entries.reserve(qsizetype(changes.size()));
    for (const Change *change : changes) {
        DeltaEntry entry;
        entry.kind = change->kind;
        if (change->kind != ChangeKind::Inserted) {
            entry.original = storedValues(change->original);
        }
        if (change->kind != ChangeKind::Deleted) {
            entry.current = storedValues(change->live->values);
        }
        packet.entries.append(std::move(entry));
    }
    return packet;
}

QByteArray TClientDataSet::GetDelta() const
{
    return delta().encode();
}

int TClientDataSet::ChangeCount() const
{
    return int(m_changes.size());
}

void TClientDataSet::MergeChangeLog()
{
    checkNotCalculating();
    m_changes.clear();
}

void TClientDataSet::CancelUpdates()
{
    checkActive();
    checkNotCalculating();
    const TDataSetState oldState = m_state;
    emit aboutToReset();
    if (m_state == TDataSetState::dsInsert) {
        m_rows.erase(m_rows.begin() + m_current);
        m_current = m_returnRow;
    }
    m_buffer.clear();
    m_touched = false;
    m_state = TDataSetState::dsBrowse;
    Record *current = m_current >= 0 && m_current < int(m_rows.size()) ? m_rows[size_t(m_current)].get() : nullptr;

    std::unordered_set<const Record *> inserted;
    std::vector<Record *> restored;
    for (auto &entry : m_changes) {
        Change &change = entry.second;
        switch (change.kind) {
        case ChangeKind::Inserted:
            inserted.insert(change.live);
            break;
        case ChangeKind::Modified:
            change.live->values = change.original;
            restored.push_back(change.live);
            break;
        case ChangeKind::Deleted:
            change.removed->values = change.original;
            restored.push_back(change.removed.get());
            m_rows.push_back(std::move(change.removed));
            break;
        }
    }
    if (!inserted.empty()) {
        if (inserted.count(current)) {
            current = nullptr;
        }
        std::erase_if(m_rows, [&](const std::unique_ptr<Record> &record) { return inserted.count(record.get()) > 0; });
    }
    m_changes.clear();
    ++m_generation; // before sorting: the collected values are stale now
    sortRows();
    m_current = m_rows.empty() ? -1 : 0;
    if (current) {
        for (size_t i = 0; i < m_rows.size(); ++i) {
            if (m_rows[i].get() == current) {
                m_current = int(i);
                break;
            }
        }
    }
    m_eof = m_rows.empty();
    m_bof = m_rows.empty();
    std::exception_ptr failure;
    try {
        for (Record *record : restored) {
            calculate(record, record->values);
        }
    } catch (...) {
        failure = std::current_exception();
    }
    emit contentReset();
    if (oldState != m_state) {
        emit stateChanged(m_state);
    }
    emit currentRowChanged(m_current);
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void TClientDataSet::EmptyDataSet()
{
    checkActive();
    checkNotCalculating();
    resetContent({}, nullptr);
}

// ---------------------------------------------------------------- row operations

TDataSetState TClientDataSet::State() const
{
    return m_calculating > 0 ? TDataSetState::dsCalcFields : m_state;
}

void TClientDataSet::Insert()
{
    insertRow(false);
}

void TClientDataSet::Append()
{
    insertRow(true);
}

void TClientDataSet::insertRow(bool append)
{
    checkActive();
    checkNotCalculating();
    checkBrowseMode();
    runEvent(BeforeInsert);
    checkActive();
    checkBrowseMode(); // in case the handler left a row in edit

    const int position = append || m_current < 0 ? int(m_rows.size()) : m_current;
    auto record = std::make_unique<Record>();
    record->values = Row(m_fields.size());
    record->id = m_nextId++;
    record->seq = append ? seqBefore(int(m_rows.size())) : seqBefore(position);
    Record *created = record.get();

    emit rowAboutToBeInserted(position);
    m_returnRow = append ? m_current : position;
    m_rows.insert(m_rows.begin() + position, std::move(record));
    m_buffer = Row(m_fields.size());
    m_current = position;
    m_eof = m_bof = false;
    m_state = TDataSetState::dsInsert;
    emit rowInserted(position);
    emit stateChanged(m_state);
    emit currentRowChanged(m_current);

    calculate(created, m_buffer);
    m_touched = false;
    {
        // What AfterInsert assigns are the row's defaults, not typing.
        const auto untouched = qScopeGuard([this] { m_touched = false; });
        runEvent(AfterInsert);
    }
    runEvent(AfterScroll);
}

void TClientDataSet::Edit()
{
    checkActive();
    checkNotCalculating();
    if (editing()) {
        return;
    }
    if (m_rows.empty()) {
        Insert();
        return;
    }
    runEvent(BeforeEdit);
    checkActive();
    if (editing() || m_current < 0) {
        return;
    }
    m_buffer = m_rows[size_t(m_current)]->values;
    m_touched = false;
    setState(TDataSetState::dsEdit);
    runEvent(AfterEdit);
}

void TClientDataSet::Post()
{
    checkNotCalculating();
    if (!m_active || !editing()) {
        return;
    }
    runEvent(BeforePost);
    if (!m_active || !editing()) {
        return;
    }
    const int from = m_current;
    Record *record = m_rows[size_t(from)].get();
    const bool inserting = m_state == TDataSetState::dsInsert;
    if (m_changes.find(record->id) == m_changes.end()) {
        Change change;
        change.kind = inserting ? ChangeKind::Inserted : ChangeKind::Modified;
        if (!inserting) {
            change.original = record->values;
        }
        change.order = m_changeOrder++;
        change.live = record;
        m_changes.emplace(record->id, std::move(change));
    }
    record->values = std::move(m_buffer);
    ++m_generation;
    m_buffer.clear();
    m_state = TDataSetState::dsBrowse;
    m_returnRow = -1;

    std::exception_ptr failure;
    try {
        calculate(record, record->values);
    } catch (...) {
        failure = std::current_exception();
    }
    if (m_indexField) {
        moveRowTo(from, sortedPosition(record, from));
    }
    emit rowChanged(m_current);
    emit stateChanged(m_state);
    if (m_current != from) {
        emit currentRowChanged(m_current);
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
    runEvent(AfterPost);
}

void TClientDataSet::discardEdit()
{
    if (m_state == TDataSetState::dsInsert) {
        const int position = m_current;
        emit rowAboutToBeRemoved(position);
        m_rows.erase(m_rows.begin() + position);
        m_buffer.clear();
        m_state = TDataSetState::dsBrowse;
        m_current = m_returnRow >= 0 && m_returnRow < int(m_rows.size()) ? m_returnRow : int(m_rows.size()) - 1;
        m_returnRow = -1;
        emit rowRemoved(position);
        emit stateChanged(m_state);
        emit currentRowChanged(m_current);
    } else if (m_state == TDataSetState::dsEdit) {
        m_buffer.clear();
        m_state = TDataSetState::dsBrowse;
        emit rowChanged(m_current);
        emit stateChanged(m_state);
    }
}

void TClientDataSet::Cancel()
{
    cancelRow(true);
}

void TClientDataSet::cancelRow(bool scroll)
{
    checkNotCalculating();
    if (!m_active || !editing()) {
        return;
    }
    runEvent(BeforeCancel);
    if (!m_active || !editing()) {
        return;
    }
    const bool droppedRow = m_state == TDataSetState::dsInsert;
    discardEdit();
    runEvent(AfterCancel);
    if (scroll && droppedRow && m_active) {
        runEvent(AfterScroll);
    }
}

void TClientDataSet::Delete()
{
    checkActive();
    checkNotCalculating();
    if (m_state == TDataSetState::dsInsert) {
        Cancel();
        return;
    }
    if (m_rows.empty()) {
        throw EDatabaseError(u"Não há registro para excluir em %1."_s.arg(displayName()));
    }
    runEvent(BeforeDelete);
    checkActive();
    if (m_state == TDataSetState::dsInsert) {
        Cancel();
        return;
    }
    if (m_rows.empty()) {
        return;
    }
    const TDataSetState oldState = m_state;
    const int position = m_current;
    emit rowAboutToBeRemoved(position);
    std::unique_ptr<Record> record = std::move(m_rows[size_t(position)]);
    m_rows.erase(m_rows.begin() + position);
    ++m_generation;
    m_buffer.clear(); // an edit in progress goes with its row
    m_state = TDataSetState::dsBrowse;
    const auto it = m_changes.find(record->id);
    if (it == m_changes.end()) {
        Change change;
        change.kind = ChangeKind::Deleted;
        change.original = record->values;
        change.order = m_changeOrder++;
        change.removed = std::move(record);
        m_changes.emplace(change.removed->id, std::move(change));
    } else if (it->second.kind == ChangeKind::Inserted) {
        m_changes.erase(it); // inserted, then deleted: no trace
    } else {
        it->second.kind = ChangeKind::Deleted;
        it->second.live = nullptr;
        it->second.removed = std::move(record);
    }
    m_current = position < int(m_rows.size()) ? position : int(m_rows.size()) - 1;
    m_eof = m_rows.empty();
    m_bof = m_rows.empty();
    emit rowRemoved(position);
    if (oldState != m_state) {
        emit stateChanged(m_state);
    }
    emit currentRowChanged(m_current);
    runEvent(AfterDelete);
    runEvent(AfterScroll);
}

// ---------------------------------------------------------------- navigation

void TClientDataSet::moveTo(int row, bool always)
{
    if (row == m_current && !always) {
        return;
    }
    runEvent(BeforeScroll);
    if (!m_active) {
        return;
    }
    row = std::min(row, int(m_rows.size()) - 1);
    const int old = m_current;
    m_current = row;
    if (m_current != old) {
        emit currentRowChanged(m_current);
    }
    runEvent(AfterScroll);
}

void TClientDataSet::First()
{
    checkActive();
    checkNotCalculating();
    checkBrowseMode();
    moveTo(m_rows.empty() ? -1 : 0, true);
    m_bof = true;
    m_eof = m_rows.empty();
}

void TClientDataSet::Last()
{
    checkActive();
    checkNotCalculating();
    checkBrowseMode();
    moveTo(int(m_rows.size()) - 1, true);
    m_eof = true;
    m_bof = m_rows.empty();
}

void TClientDataSet::Next()
{
    checkActive();
    checkNotCalculating();
    checkBrowseMode();
    if (m_current + 1 >= int(m_rows.size())) {
        m_eof = true;
        return;
    }
    moveTo(m_current + 1, false);
    m_bof = false;
    m_eof = false;
}

void TClientDataSet::Prior()
{
    checkActive();
    checkNotCalculating();
    checkBrowseMode();
    if (m_current <= 0) {
        m_bof = true;
        return;
    }
    moveTo(m_current - 1, false);
    m_bof = false;
    m_eof = false;
}

bool TClientDataSet::Eof() const
{
    return !m_active || m_rows.empty() || m_eof;
}

bool TClientDataSet::Bof() const
{
    return !m_active || m_rows.empty() || m_bof;
}

bool TClientDataSet::IsEmpty() const
{
    return !m_active || m_rows.empty();
}

int TClientDataSet::RecordCount() const
{
    if (!m_active) {
        return 0;
    }
    return int(m_rows.size()) - (m_state == TDataSetState::dsInsert ? 1 : 0);
}

int TClientDataSet::RecNo() const
{
    // A view reading another row's text sees that row as the current one, so
    // a get-text handler can tell which row it is asked about.
    if (m_active && m_viewRow >= 0) {
        return m_viewRow + 1;
    }
    return m_active ? m_current + 1 : 0;
}

void TClientDataSet::setRecNo(int recNo)
{
    checkActive();
    checkNotCalculating();
    checkBrowseMode();
    if (recNo < 1 || recNo > int(m_rows.size())) {
        throw EDatabaseError(
            u"Registro %1 fora do intervalo de %2 (1 a %3)."_s.arg(recNo).arg(displayName()).arg(m_rows.size()));
    }
    moveTo(recNo - 1, false);
    m_bof = m_eof = false;
}

bool TClientDataSet::matches(const TField *field, const QVariant &stored, const QVariant &wanted,
                             TLocateOptions options) const
{
    if (field->DataType() != FieldType::Text) {
        if (!wanted.isValid()) {
            return !stored.isValid();
        }
        return stored.isValid() && stored.toDouble() == wanted.toDouble();
    }
    if (!wanted.isValid()) {
        return !stored.isValid();
    }
    const QString text = stored.toString();
    const QString key = wanted.toString();
    const Qt::CaseSensitivity cs = options.testFlag(loCaseInsensitive) ? Qt::CaseInsensitive : Qt::CaseSensitive;
    if (options.testFlag(loPartialKey)) {
        return text.startsWith(key, cs);
    }
    return text.compare(key, cs) == 0;
}

bool TClientDataSet::Locate(const QString &fieldName, const QVariant &value, TLocateOptions options)
{
    TField *field = FieldByName(fieldName);
    checkActive();
    checkNotCalculating();
    checkBrowseMode();

    QVariant wanted;
    if (!isNullValue(value)) {
        // Compared in the form the field stores: a value it could not hold matches no row.
        try {
            wanted = FieldValue::toFieldForm(field->def(), value);
        } catch (const EDatabaseError &) {
            return false;
        }
    }
    const int slot = field->m_index;
    int found = -1;
    if (field->DataType() == FieldType::Number && !field->Calculated()) {
        // Several rows may hold the value: the first in row order wins.
        for (const LocateIndex::Entry &entry : lookup(slot).equalRange(orderKey(wanted))) {
            const int position = positionOf(entry.record);
            if (found < 0 || position < found) {
                found = position;
            }
        }
    } else {
        for (size_t i = 0; i < m_rows.size(); ++i) {
            if (matches(field, m_rows[i]->values.at(slot), wanted, options)) {
                found = int(i);
                break;
            }
        }
    }
    if (found < 0) {
        return false;
    }
    // The row's after-scroll runs even when it was current already: a reload
    // made without it relies on this locate.
    moveTo(found, true);
    m_bof = m_eof = false;
    return true;
}

LocateIndex &TClientDataSet::lookup(int slot)
{
    if (m_lookups.size() < size_t(m_fields.size())) {
        m_lookups.resize(size_t(m_fields.size()));
    }
    const Record *inserting = m_state == TDataSetState::dsInsert ? m_rows[size_t(m_current)].get() : nullptr;
    LocateIndex &index = m_lookups[size_t(slot)];
    index.refresh(m_rows, slot, inserting, m_generation, m_indexField == nullptr);
    return index;
}

// Rows always stand in index (or arrival) order outside an insert, so a
// posted row is found by binary search.
int TClientDataSet::positionOf(const Record *record) const
{
    const int position = sortedPosition(record, -1);
    if (position < int(m_rows.size()) && m_rows[size_t(position)].get() == record) {
        return position;
    }
    for (size_t i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].get() == record) {
            return int(i);
        }
    }
    return -1;
}

// ---------------------------------------------------------------- views

int TClientDataSet::currentRow() const
{
    return m_active ? m_current : -1;
}

int TClientDataSet::rowCount() const
{
    return m_active ? int(m_rows.size()) : 0;
}

QVariant TClientDataSet::valueAt(int row, int fieldIndex) const
{
    if (!m_active || row < 0 || row >= int(m_rows.size()) || fieldIndex < 0 || fieldIndex >= m_fields.size()) {
        return QVariant();
    }
    if (row == m_current && editing()) {
        return m_buffer.at(fieldIndex);
    }
    return m_rows[size_t(row)]->values.at(fieldIndex);
}

QString TClientDataSet::displayTextAt(int row, TField *field) const
{
    if (!m_active || !field || field->DataSet() != this || row < 0 || row >= int(m_rows.size())) {
        return QString();
    }
    auto *self = const_cast<TClientDataSet *>(this);
    Record *record = self->m_rows[size_t(row)].get();
    const ReadTarget saved = m_override;
    m_override = {record, row == m_current && editing() ? &self->m_buffer : &record->values};
    const int savedRow = std::exchange(m_viewRow, row);
    const auto restore = qScopeGuard([this, saved, savedRow] {
        m_override = saved;
        m_viewRow = savedRow;
    });
    return field->DisplayText();
}

QString TClientDataSet::textAt(int row, TField *field) const
{
    if (!m_active || !field || field->DataSet() != this || row < 0 || row >= int(m_rows.size())) {
        return QString();
    }
    auto *self = const_cast<TClientDataSet *>(this);
    Record *record = self->m_rows[size_t(row)].get();
    const ReadTarget saved = m_override;
    m_override = {record, row == m_current && editing() ? &self->m_buffer : &record->values};
    const int savedRow = std::exchange(m_viewRow, row);
    const auto restore = qScopeGuard([this, saved, savedRow] {
        m_override = saved;
        m_viewRow = savedRow;
    });
    return field->Text();
}

// ---------------------------------------------------------------- field access

QVariant TClientDataSet::fieldValue(const TField *field) const
{
    if (!field || field->DataSet() != this || field->m_index < 0) {
        return QVariant();
    }
    const ReadTarget target = readTarget();
    if (!target.values || field->m_index >= target.values->size()) {
        return QVariant();
    }
    return target.values->at(field->m_index);
}

void TClientDataSet::setFieldValue(TField *field, const QVariant &value)
{
    if (!field || field->DataSet() != this || field->m_index < 0) {
        throw EDatabaseError(u"O campo não pertence a %1."_s.arg(displayName()));
    }
    checkActive();
    const int slot = field->m_index;
    if (m_calculating > 0) {
        if (!field->Calculated()) {
            throw EDatabaseError(u"O campo %1 não pode receber valor durante o cálculo dos campos de %2."_s.arg(
                field->FieldName(), displayName()));
        }
        (*m_override.values)[slot] = field->convert(value);
        return;
    }
    if (field->Calculated()) {
        throw EDatabaseError(u"O campo calculado %1 só recebe valor no cálculo dos campos de %2."_s.arg(
            field->FieldName(), displayName()));
    }
    if (!editing()) {
        throw EDatabaseError(u"O conjunto de registros %1 não está em modo de edição (campo %2)."_s.arg(
            displayName(), field->FieldName()));
    }
    m_buffer[slot] = field->convert(value);
    m_touched = true;
    const int row = m_current;
    const auto notify = qScopeGuard([this, row] { emit rowChanged(row); });
    calculate(m_rows[size_t(m_current)].get(), m_buffer);
}

QVariant TClientDataSet::fieldOldValue(const TField *field) const
{
    if (!field || field->DataSet() != this || field->m_index < 0) {
        return QVariant();
    }
    const ReadTarget target = readTarget();
    if (!target.record) {
        return QVariant();
    }
    const int slot = field->m_index;
    if (field->Calculated()) {
        return target.values->at(slot);
    }
    if (m_state == TDataSetState::dsInsert && m_current >= 0 && m_rows[size_t(m_current)].get() == target.record) {
        return QVariant(); // a new row was never saved
    }
    const auto it = m_changes.find(target.record->id);
    if (it != m_changes.end()) {
        if (it->second.kind == ChangeKind::Inserted) {
            return QVariant();
        }
        return it->second.original.at(slot);
    }
    return target.record->values.at(slot);
}
