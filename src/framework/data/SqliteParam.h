#pragma once

#include <QSqlDatabase>

#include "framework_export.h"

// The lookup texts take their parameters through PARAM(value), a one-row
// table whose column PARAM holds the value. Firebird has it as a selectable
// procedure and PostgreSQL as a set-returning function; on SQLite it is a
// table-valued function that has to be registered on every connection.
namespace SqliteParam {

// Registers PARAM on an open QSQLITE connection, and refuses ATTACH there
// from then on: a lookup connection reads its one file. Throws EDatabaseError when
// the connection is not an open SQLite one or the registration fails.
FRAMEWORK_EXPORT void registerOn(const QSqlDatabase &database);

} // namespace SqliteParam
