#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

#include <optional>

#include "EnumNames.h"
#include "Exceptions.h"
#include "dataset_export.h"

// Field types of our record sets. Flags are Text of size 1.
enum class FieldType { Number, Text, DateTime };
// Each type's name in packets and definitions, and in messages.
inline constexpr EnumName<FieldType> fieldTypeNames[] = {
    {FieldType::Number, u"number", u"número"},
    {FieldType::Text, u"text", u"texto"},
    {FieldType::DateTime, u"datetime", u"data e hora"},
};
static_assert(enumTableComplete(fieldTypeNames, FieldType::DateTime));

// Definition of one stored field as it travels in packets.
// Calculated fields never travel.
struct DATASET_EXPORT FieldDef
{
    QString name;
    FieldType type = FieldType::Number;
    int size = 0; // Text only: capacity in characters (1..PacketLimits::maxTextSize); 0 for the others

    bool operator==(const FieldDef &) const = default;
};

// One row: one value per field, in field order.
//   null          -> QVariant() (invalid)
//   Number        -> double
//   DateTime      -> double, days since 30/12/1899 with the time as fraction
//   Text          -> QString, at most the field's size
using Row = QList<QVariant>;

namespace PacketLimits {
inline constexpr int maxFields = 256;
inline constexpr int maxTextSize = 65535;
inline constexpr qsizetype maxRows = 10'000'000;
inline constexpr qsizetype maxPacketBytes = 64 * 1024 * 1024;
inline constexpr int maxFieldNameLength = 128; // characters
// Whole numbers (keys, orders) lie within ±2^53, where every one has an exact double.
inline constexpr qint64 maxWholeNumber = 9'007'199'254'740'992;
} // namespace PacketLimits

// The whole content of a record set: field definitions and rows.
struct DATASET_EXPORT DataPacket
{
    QList<FieldDef> fields;
    QList<Row> rows;

    QByteArray encode() const;
    // Refuses anything malformed with EPacketError; never crashes on any input.
    static DataPacket decode(const QByteArray &bytes);

    bool operator==(const DataPacket &) const = default;
};

// Writes a data packet a row at a time, straight from the values a query
// reads, into the bytes DataPacket{fields, rows}.encode() gives; the same
// values are refused with the same EPacketError. Texts that do not fit their
// field are cut to its size, as a stored text always fits.
class DATASET_EXPORT DataPacketWriter
{
public:
    explicit DataPacketWriter(const QList<FieldDef> &fields);

    // Each row takes exactly one value per field, in field order.
    void beginRow();
    void appendNull();
    void appendNumber(double value);
    // Text as UTF-8 bytes (SQLite and PostgreSQL keep it so); a malformed
    // sequence goes through QString, which replaces it with U+FFFD.
    void appendUtf8(const char *data, qsizetype bytes);
    void appendText(QStringView text);
    void endRow();

    qsizetype rowCount() const { return m_rows; }
    const QList<FieldDef> &fields() const { return m_fields; }
    QByteArray finish() const;
    // Starts another packet of the same fields, keeping the memory.
    void clear();

private:
    const FieldDef &nextField();
    void writeText(const FieldDef &field, QStringView text);
    [[noreturn]] void refuse(const QString &problem) const;

    QList<FieldDef> m_fields;
    QByteArray m_head; // the packet of no rows, less its empty row list
    QByteArray m_body;
    qsizetype m_rows = 0;
    qsizetype m_column = -1; // the field last written in the row
};

enum class ChangeKind { Inserted, Modified, Deleted };
// Each kind's name in delta packets, and in messages.
inline constexpr EnumName<ChangeKind> changeKindNames[] = {
    {ChangeKind::Inserted, u"inserted", u"inclusão"},
    {ChangeKind::Modified, u"modified", u"alteração"},
    {ChangeKind::Deleted, u"deleted", u"exclusão"},
};
static_assert(enumTableComplete(changeKindNames, ChangeKind::Deleted));

// One change-log entry.
//   Inserted: original empty, current = new values
//   Modified: original = values of the last merge, current = new values
//   Deleted:  original = values of the last merge, current empty
struct DATASET_EXPORT DeltaEntry
{
    ChangeKind kind = ChangeKind::Inserted;
    Row original;
    Row current;

    bool operator==(const DeltaEntry &) const = default;
};

// A record set's change log, in the order the changes were first made.
struct DATASET_EXPORT DeltaPacket
{
    QList<FieldDef> fields;
    QList<DeltaEntry> entries;

    QByteArray encode() const;
    static DeltaPacket decode(const QByteArray &bytes);

    bool operator==(const DeltaPacket &) const = default;
};

// A delta refused for its size, not its form (DeltaReader's limit of entries).
class DATASET_EXPORT EDeltaTooLarge : public EPacketError
{
public:
    using EPacketError::EPacketError;
};

// A delta packet read an entry at a time. The bytes are checked whole when it
// is made, with the refusals of DeltaPacket::decode, but only where each
// entry starts is kept; an entry is decoded again when it is reached, so a
// save holds the packet's bytes and the entry at hand instead of every row
// decoded at once (a row of QVariants takes several times its bytes). More
// than maxEntries entries are refused with EDeltaTooLarge.
class DATASET_EXPORT DeltaReader
{
public:
    explicit DeltaReader(QByteArray bytes, qsizetype maxEntries = PacketLimits::maxRows);

    const QList<FieldDef> &fields() const { return m_fields; }
    qsizetype size() const { return m_offsets.size(); }
    bool isEmpty() const { return m_offsets.isEmpty(); }
    qsizetype byteSize() const { return m_bytes.size(); }
    DeltaEntry at(qsizetype index) const; // decoded now

    // Range-for: each step decodes its entry, held until the next step.
    class const_iterator
    {
    public:
        const_iterator(const DeltaReader *reader, qsizetype index)
            : m_reader(reader)
            , m_index(index)
        { }
        const DeltaEntry &operator*() const
        {
            if (!m_loaded) {
                m_entry = m_reader->at(m_index);
                m_loaded = true;
            }
            return m_entry;
        }
        const_iterator &operator++()
        {
            ++m_index;
            m_loaded = false;
            return *this;
        }
        bool operator!=(const const_iterator &other) const { return m_index != other.m_index; }

    private:
        const DeltaReader *m_reader;
        qsizetype m_index;
        mutable DeltaEntry m_entry;
        mutable bool m_loaded = false;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size()}; }

private:
    QByteArray m_bytes;
    QList<FieldDef> m_fields;
    QList<qint64> m_offsets;
};

// Checks that a value fits a field (type, text size); throws EPacketError otherwise.
// Number and DateTime take any finite numeric QVariant (whole numbers up to 2^53
// in magnitude); a DateTime lies between 01/01/0001 and 31/12/9999. Text takes
// a QString of at most the field's size in characters (textLength) and without
// lone surrogates. Null (QVariant()) fits every field.
DATASET_EXPORT void checkValue(const FieldDef &field, const QVariant &value);

// Length as textLength counts it, or -1 when the text holds a lone
// surrogate, which has no UTF-8 form and could not travel in a packet.
DATASET_EXPORT qsizetype wellFormedTextLength(QStringView text);

// Refuses, as DataPacket::encode would, field definitions that cannot travel
// in a packet (EPacketError).
DATASET_EXPORT void checkFields(const QList<FieldDef> &fields);

// Length of a text as a Text field counts it: Unicode characters (code
// points), so an accented letter or an emoji counts as one.
DATASET_EXPORT qsizetype textLength(QStringView text);

// The first maxCharacters characters of a text, counted as textLength counts
// them: a cut never splits a character in two.
DATASET_EXPORT QString leftCharacters(QStringView text, qsizetype maxCharacters);
// A text echoed back in a message: cut at maxCharacters characters, with "…"
// marking the cut so the reader knows there was more.
DATASET_EXPORT QString elidedText(QStringView text, qsizetype maxCharacters);
