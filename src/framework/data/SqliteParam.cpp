#include "SqliteParam.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <sqlite3.h>

#include <cstring>

#include "Exceptions.h"

using namespace Qt::StringLiterals;

namespace {

// PARAM is an eponymous-only virtual table: PARAM(x) is read as
// "SELECT PARAM FROM PARAM WHERE V = x", one row holding x unchanged.
constexpr int columnParam = 0;
constexpr int columnValue = 1; // hidden: the argument

struct ParamCursor
{
    sqlite3_vtab_cursor base;
    sqlite3_value *value;
    bool eof;
};

int paramConnect(sqlite3 *db, void *, int, const char *const *, sqlite3_vtab **vtab, char **)
{
    const int rc = sqlite3_declare_vtab(db, "CREATE TABLE x(PARAM, V HIDDEN)");
    if (rc != SQLITE_OK) {
        return rc;
    }
    // Harmless whatever the schema: allowed in views and triggers too.
    sqlite3_vtab_config(db, SQLITE_VTAB_INNOCUOUS);
    auto *table = static_cast<sqlite3_vtab *>(sqlite3_malloc(sizeof(sqlite3_vtab)));
    if (!table) {
        return SQLITE_NOMEM;
    }
    std::memset(table, 0, sizeof(sqlite3_vtab));
    *vtab = table;
    return SQLITE_OK;
}

int paramDisconnect(sqlite3_vtab *vtab)
{
    sqlite3_free(vtab);
    return SQLITE_OK;
}

int paramBestIndex(sqlite3_vtab *, sqlite3_index_info *info)
{
    bool unusableArgument = false;
    for (int i = 0; i < info->nConstraint; ++i) {
        const auto &constraint = info->aConstraint[i];
        if (constraint.iColumn != columnValue || constraint.op != SQLITE_INDEX_CONSTRAINT_EQ) {
            continue;
        }
        if (!constraint.usable) {
            unusableArgument = true;
            continue;
        }
        info->aConstraintUsage[i].argvIndex = 1;
        info->aConstraintUsage[i].omit = 1;
        info->idxNum = 1;
        info->estimatedCost = 1.0;
        info->estimatedRows = 1;
        return SQLITE_OK;
    }
    // Without its argument the function has no rows to give: make the
    // planner choose an order in which the argument is known, or fail.
    return unusableArgument ? SQLITE_CONSTRAINT : SQLITE_ERROR;
}

int paramOpen(sqlite3_vtab *, sqlite3_vtab_cursor **cursor)
{
    auto *c = static_cast<ParamCursor *>(sqlite3_malloc(sizeof(ParamCursor)));
    if (!c) {
        return SQLITE_NOMEM;
    }
    std::memset(c, 0, sizeof(ParamCursor));
    c->eof = true;
    *cursor = &c->base;
    return SQLITE_OK;
}

int paramClose(sqlite3_vtab_cursor *cursor)
{
    auto *c = reinterpret_cast<ParamCursor *>(cursor);
    sqlite3_value_free(c->value);
    sqlite3_free(c);
    return SQLITE_OK;
}

int paramFilter(sqlite3_vtab_cursor *cursor, int idxNum, const char *, int argc, sqlite3_value **argv)
{
    auto *c = reinterpret_cast<ParamCursor *>(cursor);
    sqlite3_value_free(c->value);
    c->value = nullptr;
    c->eof = true;
    if (idxNum != 1 || argc != 1) {
        return SQLITE_ERROR;
    }
    c->value = sqlite3_value_dup(argv[0]);
    if (!c->value) {
        return SQLITE_NOMEM;
    }
    c->eof = false;
    return SQLITE_OK;
}

int paramNext(sqlite3_vtab_cursor *cursor)
{
    reinterpret_cast<ParamCursor *>(cursor)->eof = true;
    return SQLITE_OK;
}

int paramEof(sqlite3_vtab_cursor *cursor)
{
    return reinterpret_cast<ParamCursor *>(cursor)->eof ? 1 : 0;
}

int paramColumn(sqlite3_vtab_cursor *cursor, sqlite3_context *context, int column)
{
    auto *c = reinterpret_cast<ParamCursor *>(cursor);
    if ((column == columnParam || column == columnValue) && c->value) {
        sqlite3_result_value(context, c->value);
    } else {
        sqlite3_result_null(context);
    }
    return SQLITE_OK;
}

int paramRowid(sqlite3_vtab_cursor *, sqlite3_int64 *rowid)
{
    *rowid = 1;
    return SQLITE_OK;
}

sqlite3_module makeModule()
{
    sqlite3_module module;
    std::memset(&module, 0, sizeof(module));
    module.iVersion = 0;
    module.xCreate = nullptr; // eponymous-only: no CREATE VIRTUAL TABLE
    module.xConnect = paramConnect;
    module.xBestIndex = paramBestIndex;
    module.xDisconnect = paramDisconnect;
    module.xDestroy = paramDisconnect;
    module.xOpen = paramOpen;
    module.xClose = paramClose;
    module.xFilter = paramFilter;
    module.xNext = paramNext;
    module.xEof = paramEof;
    module.xColumn = paramColumn;
    module.xRowid = paramRowid;
    return module;
}

const sqlite3_module paramModule = makeModule();

} // namespace

namespace SqliteParam {

namespace {

sqlite3 *handleOf(const QSqlDatabase &database)
{
    if (!database.isOpen() || !database.driver()) {
        throw EDatabaseError(u"PARAM: a conexão SQLite não está aberta."_s);
    }
    const QVariant handle = database.driver()->handle();
    // Qt's driver hands out its sqlite3 pointer under this type name; it is
    // the same libsqlite3 we link (Debian's driver uses the system library).
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0) {
        throw EDatabaseError(u"PARAM: a conexão \"%1\" não é SQLite."_s.arg(database.connectionName()));
    }
    sqlite3 *db = *static_cast<sqlite3 *const *>(handle.constData());
    if (!db) {
        throw EDatabaseError(u"PARAM: a conexão SQLite não tem banco aberto."_s);
    }
    // A driver built with its own copy of SQLite would hand out a handle our
    // library must not touch; a differing version gives such a copy away.
    {
        QSqlQuery version(database);
        if (!version.exec(u"SELECT sqlite_version()"_s) || !version.next()
            || version.value(0).toString() != QString::fromLatin1(sqlite3_libversion())) {
            throw EDatabaseError(u"PARAM: o driver SQLite do Qt não usa a biblioteca SQLite do sistema (%1)."_s.arg(
                QString::fromLatin1(sqlite3_libversion())));
        }
    }
    return db;
}

// Lookups name only the lookup tables of the file they were given; a
// statement that would open another file (the server's credentials file
// beside it, for one) is refused.
int refuseAttach(void *, int action, const char *, const char *, const char *, const char *)
{
    return action == SQLITE_ATTACH ? SQLITE_DENY : SQLITE_OK;
}

} // namespace

void registerOn(const QSqlDatabase &database)
{
    sqlite3 *db = handleOf(database);
    sqlite3_set_authorizer(db, refuseAttach, nullptr);
    const int rc = sqlite3_create_module_v2(db, "PARAM", &paramModule, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        throw EDatabaseError(
            u"PARAM: falha ao registrar a função no SQLite: %1"_s.arg(QString::fromUtf8(sqlite3_errstr(rc))));
    }
    // And the connection sees it.
    QSqlQuery check(database);
    if (!check.exec(u"SELECT P.PARAM FROM PARAM('ok') P"_s) || !check.next() || check.value(0).toString() != u"ok"_s) {
        throw EDatabaseError(u"PARAM: a função não responde na conexão SQLite: %1"_s.arg(check.lastError().text()));
    }
}

} // namespace SqliteParam
