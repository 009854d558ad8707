#include "PacketSelect.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <atomic>
#include <charconv>

#include <libpq-fe.h>
#include <sqlite3.h>

#include "Database.h"
#include "Saves.h"
#include "Sql.h"

using namespace Qt::StringLiterals;

// One way of running the statement and reading its current row.
class PacketSelect::Cursor
{
public:
    virtual ~Cursor() = default;
    virtual void run(const QVariantList &values) = 0;
    virtual bool next() = 0;
    // The column of a name, or -1.
    virtual int column(const QString &name) = 0;
    virtual bool isNull(int column) = 0;
    virtual double number(int column) = 0;
    virtual QByteArrayView utf8(int column) = 0;
    // Lets go of the run's rows; called on every exit.
    virtual void finish() = 0;
};

namespace {

[[noreturn]] void fail(const QString &detail, const QString &text)
{
    throw EServerFailure(u"Erro no banco de dados: %1 [%2]"_s.arg(detail.trimmed(), text.simplified().left(120)));
}

// The driver's own connection, when it is of the type named (the name the
// driver's metatype gives: PGconn is struct pg_conn).
template <typename Handle>
Handle *handleOf(QSqlDatabase &db, std::initializer_list<const char *> typeNames)
{
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid()) {
        return nullptr;
    }
    for (const char *name : typeNames) {
        if (qstrcmp(handle.typeName(), name) == 0) {
            return *static_cast<Handle *const *>(handle.constData());
        }
    }
    return nullptr;
}

class SqliteCursor final : public PacketSelect::Cursor
{
public:
    SqliteCursor(sqlite3 *db, const QString &text)
        : m_db(db)
        , m_text(text)
    {
        const QByteArray utf8 = text.toUtf8();
        if (sqlite3_prepare_v3(db, utf8.constData(), int(utf8.size()), SQLITE_PREPARE_PERSISTENT, &m_stmt, nullptr)
            != SQLITE_OK) {
            fail(QString::fromUtf8(sqlite3_errmsg(db)), text);
        }
    }
    ~SqliteCursor() override { sqlite3_finalize(m_stmt); }

    void run(const QVariantList &values) override
    {
        for (qsizetype i = 0; i < values.size(); ++i) {
            const QVariant &v = values.at(i);
            int rc = SQLITE_OK;
            if (v.typeId() == QMetaType::QString) {
                const QByteArray utf8 = v.toString().toUtf8();
                rc = sqlite3_bind_text(m_stmt, int(i + 1), utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
            } else {
                rc = sqlite3_bind_int64(m_stmt, int(i + 1), v.toLongLong());
            }
            if (rc != SQLITE_OK) {
                fail(QString::fromUtf8(sqlite3_errmsg(m_db)), m_text);
            }
        }
    }
    bool next() override
    {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW) {
            return true;
        }
        if (rc != SQLITE_DONE) {
            fail(QString::fromUtf8(sqlite3_errmsg(m_db)), m_text);
        }
        return false;
    }
    int column(const QString &name) override
    {
        const QByteArray wanted = name.toUtf8();
        for (int c = 0; c < sqlite3_column_count(m_stmt); ++c) {
            if (qstricmp(sqlite3_column_name(m_stmt, c), wanted.constData()) == 0) {
                return c;
            }
        }
        return -1;
    }
    bool isNull(int column) override { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }
    // A text stored in a number's column reads as SQLite converts it.
    double number(int column) override { return sqlite3_column_double(m_stmt, column); }
    QByteArrayView utf8(int column) override
    {
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
        return {text, sqlite3_column_bytes(m_stmt, column)};
    }
    void finish() override
    {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }

private:
    sqlite3 *m_db;
    QString m_text;
    sqlite3_stmt *m_stmt = nullptr;
};

class PostgresCursor final : public PacketSelect::Cursor
{
public:
    PostgresCursor(PGconn *db, const QString &text)
        : m_db(db)
        , m_text(text)
    {
        static std::atomic<quint64> statements{0};
        m_name = "pru_packet_" + QByteArray::number(++statements);
        // Positional "?" become $1, $2, ...
        QByteArray sql;
        int parameter = 0;
        for (const char c : text.toUtf8()) {
            if (c == '?') {
                sql += '$' + QByteArray::number(++parameter);
            } else {
                sql += c;
            }
        }
        PGresult *result = PQprepare(db, m_name.constData(), sql.constData(), 0, nullptr);
        const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
        const QString error = QString::fromUtf8(PQresultErrorMessage(result));
        PQclear(result);
        if (!ok) {
            fail(error, text);
        }
    }
    ~PostgresCursor() override
    {
        finish();
        if (PQstatus(m_db) == CONNECTION_OK) {
            PQclear(PQexec(m_db, ("DEALLOCATE " + m_name).constData()));
        }
    }

    void run(const QVariantList &values) override
    {
        QList<QByteArray> texts;
        QList<const char *> pointers;
        for (const QVariant &v : values) {
            texts << (v.typeId() == QMetaType::QString ? v.toString().toUtf8() : QByteArray::number(v.toLongLong()));
        }
        for (const QByteArray &t : std::as_const(texts)) {
            pointers << t.constData();
        }
        finish();
        m_result =
            PQexecPrepared(m_db, m_name.constData(), int(pointers.size()), pointers.constData(), nullptr, nullptr, 0);
        if (PQresultStatus(m_result) != PGRES_TUPLES_OK) {
            const QString error = QString::fromUtf8(PQresultErrorMessage(m_result));
            finish();
            fail(error, m_text);
        }
        m_rows = PQntuples(m_result);
        m_row = -1;
    }
    bool next() override { return ++m_row < m_rows; }
    int column(const QString &name) override { return PQfnumber(m_result, name.toUtf8().constData()); }
    bool isNull(int column) override { return PQgetisnull(m_result, m_row, column); }
    double number(int column) override
    {
        const char *text = PQgetvalue(m_result, m_row, column);
        const char *end = text + PQgetlength(m_result, m_row, column);
        double value = 0;
        if (std::from_chars(text, end, value).ec != std::errc()) {
            fail(u"valor numérico ilegível: %1"_s.arg(QString::fromUtf8(text, end - text)), m_text);
        }
        return value;
    }
    QByteArrayView utf8(int column) override
    {
        return {PQgetvalue(m_result, m_row, column), PQgetlength(m_result, m_row, column)};
    }
    void finish() override
    {
        if (m_result) {
            PQclear(m_result);
            m_result = nullptr;
        }
    }

private:
    PGconn *m_db;
    QString m_text;
    QByteArray m_name;
    PGresult *m_result = nullptr;
    int m_rows = 0;
    int m_row = -1;
};

// Any other driver, through Qt's own reading.
class QueryCursor final : public PacketSelect::Cursor
{
public:
    QueryCursor(QSqlDatabase &db, const QString &text)
        : m_text(text)
        , m_query(db)
    {
        m_query.setForwardOnly(true);
        if (!m_query.prepare(text)) {
            fail(m_query.lastError().text(), text);
        }
    }
    void run(const QVariantList &values) override { Sql::rerun(m_query, m_text, values); }
    bool next() override { return m_query.next(); }
    int column(const QString &name) override { return m_query.record().indexOf(name); }
    bool isNull(int column) override { return m_query.isNull(column); }
    double number(int column) override { return m_query.value(column).toDouble(); }
    QByteArrayView utf8(int column) override
    {
        m_text8 = m_query.value(column).toString().toUtf8();
        return m_text8;
    }
    void finish() override { m_query.finish(); }

private:
    QString m_text;
    QSqlQuery m_query;
    QByteArray m_text8;
};

} // namespace

PacketSelect::PacketSelect(QSqlDatabase &db, const QString &text)
{
    if (auto *sqlite = handleOf<sqlite3>(db, {"sqlite3*"})) {
        m_cursor = std::make_unique<SqliteCursor>(sqlite, text);
    } else if (auto *postgres = handleOf<PGconn>(db, {"pg_conn*", "PGconn*"})) {
        m_cursor = std::make_unique<PostgresCursor>(postgres, text);
    } else {
        m_cursor = std::make_unique<QueryCursor>(db, text);
    }
}

PacketSelect::~PacketSelect() = default;

QByteArray PacketSelect::packet(const QVariantList &values, const QList<FieldDef> &fields)
{
    return read(values, fields, nullptr);
}

QByteArray PacketSelect::ownedPacket(const QVariantList &values, const QList<FieldDef> &fields, const QString &unit)
{
    return read(values, fields, &unit);
}

QByteArray PacketSelect::read(const QVariantList &values, const QList<FieldDef> &fields, const QString *unit)
{
    struct Finish
    {
        Cursor &cursor;
        ~Finish() { cursor.finish(); }
    } finish{*m_cursor};
    m_cursor->run(values);
    const auto columnOf = [this](const QString &name) {
        const int column = m_cursor->column(name);
        if (column < 0) {
            throw EServerFailure(u"A consulta não traz a coluna %1."_s.arg(name));
        }
        return column;
    };
    QList<int> columns;
    columns.reserve(fields.size());
    for (const FieldDef &field : fields) {
        columns.append(columnOf(field.name));
    }
    const QByteArray unitText = unit ? unit->toUtf8() : QByteArray();
    const int unitColumn = unit ? columnOf(u"CDUNIDADE"_s) : -1;
    if (!m_writer || m_writer->fields() != fields) {
        m_writer.emplace(fields);
    }
    DataPacketWriter &writer = *m_writer;
    writer.clear();
    while (m_cursor->next()) {
        if (unit) {
            if (m_cursor->isNull(unitColumn) || m_cursor->utf8(unitColumn) != QByteArrayView(unitText)) {
                throw EDatabaseError(Saves::otherUnitText());
            }
            if (m_cursor->isNull(columns.constFirst())) {
                continue;
            }
        }
        writer.beginRow();
        for (qsizetype i = 0; i < fields.size(); ++i) {
            const int column = columns.at(i);
            if (m_cursor->isNull(column)) {
                writer.appendNull();
            } else if (fields.at(i).type == FieldType::Text) {
                const QByteArrayView text = m_cursor->utf8(column);
                writer.appendUtf8(text.data(), text.size());
            } else {
                writer.appendNumber(m_cursor->number(column));
            }
        }
        writer.endRow();
    }
    return writer.finish();
}
