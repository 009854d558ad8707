#include "Saves.h"

#include <QSqlRecord>

#include <cmath>

#include "Activities.h"
#include "Catalogue.h"
#include "Database.h"
#include "Exceptions.h"
#include "Sql.h"

using namespace Qt::StringLiterals;

namespace {

QString storedText(const QVariant &v)
{
    return (!v.isValid() || v.isNull()) ? QString() : v.toString();
}

bool sameText(const QVariant &stored, const QVariant &original)
{
    // A blank code is stored as null; the screen may hold it as empty text.
    return storedText(stored) == storedText(original);
}

bool sameNumber(const QVariant &stored, const QVariant &original)
{
    const bool storedNull = !stored.isValid() || stored.isNull();
    const bool originalNull = !original.isValid() || original.isNull();
    if (storedNull || originalNull) {
        return storedNull == originalNull;
    }
    // Date-times travel as day counts; a few milliseconds cover rounding.
    return std::fabs(stored.toDouble() - original.toDouble()) <= 1e-6;
}

} // namespace

namespace Saves {

void refuse(const QString &catalogueKey)
{
    throw EDatabaseError(Catalogue::text(catalogueKey));
}

void refuseText(const QString &text)
{
    throw EDatabaseError(text);
}

Delta::Delta(const DeltaReader &packet, const RecordSetDefinitions::Definition &definition)
    : m_packet(packet)
    , m_definition(definition)
{
    for (qsizetype i = 0; i < packet.fields().size(); ++i) {
        m_index.insert(packet.fields().at(i).name.toCaseFolded(), int(i));
        m_exact.insert(packet.fields().at(i).name, int(i));
    }
    for (const RecordSetDefinitions::FieldDefinition &field : definition.fields) {
        if (!field.saved()) {
            continue;
        }
        const int i = m_index.value(field.name.toCaseFolded(), -1);
        if (i < 0) {
            if (field.required && !packet.isEmpty()) {
                refuseText(u"O pacote de alterações não traz o campo %1."_s.arg(field.name));
            }
            continue;
        }
        const FieldType got = packet.fields().at(i).type;
        const bool numeric = field.type != FieldType::Text;
        const bool gotNumeric = got != FieldType::Text;
        if (numeric != gotNumeric) {
            refuseText(u"O campo %1 chegou com um tipo inválido no pacote."_s.arg(field.name));
        }
    }
    for (const DeltaEntry &entry : packet) {
        if (entry.kind != ChangeKind::Deleted) {
            checkSizes(entry.current);
        }
    }
}

void Delta::checkSizes(const Row &row) const
{
    for (const RecordSetDefinitions::FieldDefinition &field : m_definition.fields) {
        if (!field.saved() || field.type != FieldType::Text) {
            continue;
        }
        if (textLength(text(row, field.name)) > field.size) {
            refuseText(u"O campo %1 aceita no máximo %2 caracteres."_s.arg(field.name).arg(field.size));
        }
    }
}

QVariant Delta::value(const Row &row, const QString &name) const
{
    int i = m_exact.value(name, -1);
    if (i < 0) {
        i = m_index.value(name.toCaseFolded(), -1);
    }
    if (i < 0 || i >= row.size()) {
        return {};
    }
    return row.at(i);
}

QString Delta::text(const Row &row, const QString &name) const
{
    const QVariant v = value(row, name);
    if (!v.isValid() || v.isNull()) {
        return {};
    }
    return v.toString();
}

std::optional<double> Delta::number(const Row &row, const QString &name) const
{
    const QVariant v = value(row, name);
    if (!v.isValid() || v.isNull()) {
        return std::nullopt;
    }
    bool ok = false;
    const double d = v.toDouble(&ok);
    if (!ok || !std::isfinite(d)) {
        refuseText(u"O campo %1 chegou com um valor inválido no pacote."_s.arg(name));
    }
    return d;
}

std::optional<qint64> Delta::whole(const Row &row, const QString &name) const
{
    const std::optional<double> d = number(row, name);
    if (!d) {
        return std::nullopt;
    }
    if (std::floor(*d) != *d || std::fabs(*d) > double(PacketLimits::maxWholeNumber)) {
        refuseText(u"O campo %1 deve ser um número inteiro."_s.arg(name));
    }
    return qint64(*d);
}

qint64 Delta::existingKey(const DeltaEntry &entry) const
{
    const QString &keyField = m_definition.key;
    const std::optional<qint64> key = whole(entry.original, keyField);
    if (!key) {
        refuseText(u"O pacote traz uma alteração sem o campo %1."_s.arg(keyField));
    }
    if (entry.kind == ChangeKind::Modified && has(keyField)) {
        const std::optional<qint64> current = whole(entry.current, keyField);
        if (current && *current != *key) {
            refuseText(u"O campo %1 não pode ser alterado."_s.arg(keyField));
        }
    }
    return *key;
}

void Delta::checkOriginal(const DeltaEntry &entry, const QSqlQuery &stored) const
{
    const QSqlRecord record = stored.record();
    for (const RecordSetDefinitions::FieldDefinition &field : m_definition.fields) {
        if (!field.saved() || field.name == m_definition.key || !has(field.name)) {
            continue;
        }
        const int column = record.indexOf(field.name);
        if (column < 0) {
            throw EServerFailure(u"A leitura de %1 não traz a coluna %2."_s.arg(m_definition.table, field.name));
        }
        const QVariant original = value(entry.original, field.name);
        const bool same = field.type == FieldType::Text ? sameText(stored.value(column), original)
                                                        : sameNumber(stored.value(column), original);
        if (!same) {
            refuseText(conflictChangedText());
        }
    }
}

QString forUpdate(QSqlDatabase &db)
{
    // SQLite writers are already serialised by BEGIN IMMEDIATE; PostgreSQL
    // needs the row lock so that two sessions cannot both pass the check of
    // original values and then both write.
    return Database::isSQLite(db) ? QString() : u" FOR UPDATE"_s;
}

QSqlQuery lockStoredRow(QSqlDatabase &db, const QString &select, qint64 key, const Session &session, const Delta &delta,
                        const DeltaEntry &entry)
{
    QSqlQuery stored = Sql::exec(db, select + forUpdate(db), {key});
    if (!stored.next()) {
        refuseText(conflictDeletedText());
    }
    if (stored.value(u"CDUNIDADE"_s).toString() != session.unit) {
        refuseText(otherUnitText());
    }
    delta.checkOriginal(entry, stored);
    return stored;
}

bool hasExecuted(QSqlDatabase &db, const QString &column, qint64 key)
{
    return Sql::scalar(db,
                       u"SELECT 1 FROM ATIVIDADEDIA WHERE %1 = ? AND NOT "_s.arg(column)
                           + Activities::notExecutedCondition(QString()),
                       {key})
        .isValid();
}

QString conflictChangedText()
{
    return u"O registro foi alterado por outro usuário depois que foi lido; nada foi gravado. Para ver o registro atual, "
           "clique em Cancelar e responda Sim (ou, sem alterações pendentes, em Verificar) e refaça a alteração."_s;
}

QString conflictDeletedText()
{
    return u"O registro foi excluído por outro usuário depois que foi lido; nada foi gravado. Para ver a tela atual, "
           "clique em Cancelar e responda Sim (ou, sem alterações pendentes, em Verificar)."_s;
}

QString otherUnitText()
{
    return u"O registro não pertence à unidade do operador conectado; nada foi gravado."_s;
}

} // namespace Saves
