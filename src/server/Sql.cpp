#include "Sql.h"

#include <QSqlError>

#include "Database.h"

using namespace Qt::StringLiterals;

namespace {
[[noreturn]] void fail(const QSqlError &error, const QString &text)
{
    QString detail = error.text().trimmed();
    if (detail.isEmpty()) {
        detail = u"erro desconhecido"_s;
    }
    // The statement tells an administrator where it failed; no values travel.
    throw EServerFailure(u"Erro no banco de dados: %1 [%2]"_s.arg(detail, text.simplified().left(120)));
}
}

namespace Sql {

QSqlQuery exec(QSqlDatabase &db, const QString &text, const QVariantList &values)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (values.isEmpty()) {
        // Run as it is: PostgreSQL cannot prepare DDL statements.
        if (!query.exec(text)) {
            fail(query.lastError(), text);
        }
        return query;
    }
    if (!query.prepare(text)) {
        fail(query.lastError(), text);
    }
    for (qsizetype i = 0; i < values.size(); ++i) {
        query.bindValue(int(i), values.at(i));
    }
    if (!query.exec()) {
        fail(query.lastError(), text);
    }
    return query;
}

void rerun(QSqlQuery &query, const QString &text, const QVariantList &values)
{
    for (qsizetype i = 0; i < values.size(); ++i) {
        query.bindValue(int(i), values.at(i));
    }
    if (!query.exec()) {
        fail(query.lastError(), text);
    }
}

QVariant scalar(QSqlDatabase &db, const QString &text, const QVariantList &values)
{
    QSqlQuery query = exec(db, text, values);
    if (!query.next()) {
        return {};
    }
    return query.value(0);
}

qint64 insertReturningKey(QSqlDatabase &db, const QString &text, const QVariantList &values)
{
    QSqlQuery query = exec(db, text, values);
    if (!query.next()) {
        throw EServerFailure(u"Erro no banco de dados: a inclusão não devolveu a chave [%1]"_s.arg(text.simplified().left(120)));
    }
    const qint64 key = query.value(0).toLongLong();
    query.finish();
    return key;
}

QVariant nullText()
{
    return QVariant(QMetaType::fromType<QString>());
}

QVariant nullNumber()
{
    return QVariant(QMetaType::fromType<double>());
}

QVariant textOrNull(const QString &text)
{
    if (text.trimmed().isEmpty()) {
        return nullText();
    }
    return text;
}

double toDouble(const QVariant &value)
{
    return value.toDouble();
}

} // namespace Sql

TransactionGuard::TransactionGuard(QSqlDatabase &db)
    : m_db(db), m_sqlite(Database::isSQLite(db))
{
    if (m_sqlite) {
        Sql::exec(m_db, u"BEGIN IMMEDIATE"_s);
    } else if (!m_db.transaction()) {
        fail(m_db.lastError(), u"BEGIN"_s);
    }
    m_open = true;
}

TransactionGuard::~TransactionGuard()
{
    if (!m_open) {
        return;
    }
    if (m_sqlite) {
        QSqlQuery query(m_db);
        query.exec(u"ROLLBACK"_s);
    } else {
        m_db.rollback();
    }
}

void TransactionGuard::commit()
{
    if (!m_open) {
        return;
    }
    if (m_sqlite) {
        Sql::exec(m_db, u"COMMIT"_s);
    } else if (!m_db.commit()) {
        const QSqlError error = m_db.lastError();
        m_db.rollback();
        m_open = false;
        fail(error, u"COMMIT"_s);
    }
    m_open = false;
}
