#pragma once

#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <optional>

#include "Packet.h"
#include "RecordSetDefinitions.h"

// What every level's save shares. Each level's save runs one transaction: the
// whole delta is written or none of it. Every row rule the screen checks is
// checked again (a refusal carries the screen's catalogue text); a modified
// or deleted row whose original values no longer match the stored row is a
// conflict; a row of another unit is refused. Failures throw EDatabaseError.
// The level's fields, their types and sizes come from its record-set
// definition, the same one the screen reads.
namespace Saves {

struct Session
{
    QString unit;
    QString operatorCode;
};

// What one save may bring (docs/protocol.md, "Limits"): a bound on its
// memory, and on the time it holds SQLite's write lock.
struct Limits
{
    qsizetype maxDeltaBytes = 16 * 1024 * 1024;
    qsizetype maxDeltaRows = 10'000;
};

[[noreturn]] void refuse(const QString &catalogueKey);
[[noreturn]] void refuseText(const QString &text);

// Field access by name over a delta whose field list comes from the client.
// The level's saved fields must have the expected kind of type, the required
// ones must be in any delta with entries (so that a missing field never reads
// as a value to be cleared), and no text may exceed its size in the
// definition; fields the save does not know (looked-up names, calculated
// ones) are ignored.
class Delta
{
public:
    Delta(const DeltaReader &packet, const RecordSetDefinitions::Definition &definition);

    // Each entry decoded as it is reached.
    const DeltaReader &entries() const { return m_packet; }
    const RecordSetDefinitions::Definition &definition() const { return m_definition; }
    bool has(const QString &name) const { return m_index.contains(name.toCaseFolded()); }

    QVariant value(const Row &row, const QString &name) const;
    QString text(const Row &row, const QString &name) const;
    std::optional<double> number(const Row &row, const QString &name) const;
    // A key or an order: a whole number.
    std::optional<qint64> whole(const Row &row, const QString &name) const;

    // The key of a modified or deleted row, from its original values; a key
    // that changes is refused.
    qint64 existingKey(const DeltaEntry &entry) const;
    // The original values of a modified or deleted row against the stored
    // row, read by column name: every saved field the delta carries, the key
    // aside. A difference is a conflict.
    void checkOriginal(const DeltaEntry &entry, const QSqlQuery &stored) const;

private:
    void checkSizes(const Row &row) const;

    const DeltaReader &m_packet;
    const RecordSetDefinitions::Definition &m_definition;
    // Keyed by the case-folded name: packets name fields without regard to case.
    QHash<QString, int> m_index;
    // The same, by the names as the packet spells them: most lookups find
    // the name as written, without case-folding it first.
    QHash<QString, int> m_exact;
};

// " FOR UPDATE" where the engine needs a row lock for the check of original
// values; nothing on SQLite.
QString forUpdate(QSqlDatabase &db);
// The stored row a modification or deletion starts from, locked for the
// transaction. The SELECT reads CDUNIDADE and ends in "= ?" for the key. A row
// that is gone, another unit's, or changed since the client read it is refused.
QSqlQuery lockStoredRow(QSqlDatabase &db, const QString &select, qint64 key, const Session &session, const Delta &delta,
                        const DeltaEntry &entry);
// Whether an executed occurrence exists for the key in column of ATIVIDADEDIA.
bool hasExecuted(QSqlDatabase &db, const QString &column, qint64 key);

// Texts of the refusals that the screen's catalogue does not have.
QString conflictChangedText();
QString conflictDeletedText();
QString otherUnitText();
} // namespace Saves
