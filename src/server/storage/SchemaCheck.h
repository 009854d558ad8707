#pragma once

#include <QSqlDatabase>
#include <QStringList>

// The database against the levels' record-set definitions: every field a
// level sends is a column of its table (or of the table it is looked up in),
// a text column as wide as the field, a number or date-time column numeric.
// Migrations are history and keep their own texts; this is what holds them to
// the one description of each level.
namespace SchemaCheck {
// One line per difference; empty when the schema agrees.
QStringList differences(QSqlDatabase &db);
// Throws EServerFailure listing the differences, if any.
void require(QSqlDatabase &db);
} // namespace SchemaCheck
