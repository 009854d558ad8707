#include "Sql.h"

#include <QHash>
#include <QSqlError>

#include "Database.h"

using namespace Qt::StringLiterals;

namespace {
// SQLite's SQLITE_BUSY or SQLITE_LOCKED (extended codes keep them in the low byte).
bool busy(const QSqlError &error)
{
    bool number = false;
    const int code = error.nativeErrorCode().toInt(&number);
    return number && ((code & 0xff) == 5 || (code & 0xff) == 6)
           && error.databaseText().contains(u"locked"_s, Qt::CaseInsensitive);
}

[[noreturn]] void fail(const QSqlError &error, const QString &text)
{
    if (busy(error)) {
        // Another session's save held the write lock past the busy timeout.
        throw EServerFailure(u"O banco de dados está ocupado com a gravação de outra sessão e não ficou livre a "
                             "tempo; nada foi gravado. Tente de novo em instantes."_s);
    }
    QString detail = error.text().trimmed();
    if (detail.isEmpty()) {
        detail = u"erro desconhecido"_s;
    }
    // The statement tells an administrator where it failed; no values travel.
    throw EServerFailure(u"Erro no banco de dados: %1 [%2]"_s.arg(detail, text.simplified().left(120)));
}

// Statements kept per connection of this thread (a connection lives in one
// thread), used only while a transaction of theirs is open.
struct Prepared
{
    int openTransactions = 0;
    QHash<QString, QSqlQuery> statements;
};
// A bound on the statements one connection keeps; texts past it run unkept.
constexpr qsizetype maxKeptStatements = 64;
thread_local QHash<QString, Prepared> t_prepared;

QSqlQuery prepared(QSqlDatabase &db, const QString &text)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(text)) {
        fail(query.lastError(), text);
    }
    return query;
}

// The kept statement for text, or nullptr when none may be used: outside a
// transaction, or while the kept one still has rows being read.
QSqlQuery *kept(QSqlDatabase &db, const QString &text)
{
    const auto connection = t_prepared.find(db.connectionName());
    if (connection == t_prepared.end() || connection->openTransactions == 0) {
        return nullptr;
    }
    auto it = connection->statements.find(text);
    if (it == connection->statements.end()) {
        if (connection->statements.size() >= maxKeptStatements) {
            return nullptr;
        }
        it = connection->statements.insert(text, prepared(db, text));
    }
    if (it->isActive() && it->isSelect()) {
        return nullptr;
    }
    return &*it;
}
} // namespace

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
    if (QSqlQuery *reused = kept(db, text)) {
        rerun(*reused, text, values);
        // The copy shares the kept statement's result: reading it reads the
        // rows just run, and the transaction's end finishes both.
        QT_WARNING_PUSH
        QT_WARNING_DISABLE_DEPRECATED
        return *reused;
        QT_WARNING_POP
    }
    query = prepared(db, text);
    rerun(query, text, values);
    return query;
}

void forgetConnection(const QString &connectionName)
{
    t_prepared.remove(connectionName);
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
    const QVariant value = query.next() ? query.value(0) : QVariant();
    query.finish();
    return value;
}

namespace {
qint64 returnedKey(QSqlQuery &query, const QString &text)
{
    if (!query.next()) {
        throw EServerFailure(
            u"Erro no banco de dados: a inclusão não devolveu a chave [%1]"_s.arg(text.simplified().left(120)));
    }
    const qint64 key = query.value(0).toLongLong();
    query.finish();
    return key;
}
} // namespace

qint64 insertReturningKey(QSqlDatabase &db, const QString &text, const QVariantList &values)
{
    QSqlQuery query = exec(db, text, values);
    return returnedKey(query, text);
}

qint64 rerunReturningKey(QSqlQuery &query, const QString &text, const QVariantList &values)
{
    rerun(query, text, values);
    return returnedKey(query, text);
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
    : m_db(db)
    , m_sqlite(Database::isSQLite(db))
{
    if (m_sqlite) {
        Sql::exec(m_db, u"BEGIN IMMEDIATE"_s);
    } else if (!m_db.transaction()) {
        fail(m_db.lastError(), u"BEGIN"_s);
    }
    m_open = true;
    ++t_prepared[m_db.connectionName()].openTransactions;
}

// Whatever a kept statement still holds is let go with the transaction.
void TransactionGuard::end()
{
    m_open = false;
    const auto connection = t_prepared.find(m_db.connectionName());
    if (connection == t_prepared.end()) {
        return;
    }
    for (QSqlQuery &query : connection->statements) {
        query.finish();
    }
    --connection->openTransactions;
}

TransactionGuard::~TransactionGuard()
{
    if (!m_open) {
        return;
    }
    end();
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
    end();
    if (m_sqlite) {
        try {
            Sql::exec(m_db, u"COMMIT"_s);
        } catch (...) {
            QSqlQuery rollback(m_db);
            rollback.exec(u"ROLLBACK"_s);
            throw;
        }
    } else if (!m_db.commit()) {
        const QSqlError error = m_db.lastError();
        m_db.rollback();
        fail(error, u"COMMIT"_s);
    }
}
