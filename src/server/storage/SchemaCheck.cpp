#include "SchemaCheck.h"

#include <QHash>
#include <QRegularExpression>
#include <QSqlQuery>

#include "Database.h"
#include "Fields.h"
#include "Sql.h"

using namespace Qt::StringLiterals;

namespace {

struct Column
{
    bool text = false;
    int size = 0; // text only; 0 when unbounded
};

// Columns of a table by upper-case name, as the engine declares them.
QHash<QString, Column> columnsOf(QSqlDatabase &db, const QString &table)
{
    QHash<QString, Column> columns;
    if (Database::isSQLite(db)) {
        static const QRegularExpression sized(u"^\\s*(?:VARCHAR|CHAR|TEXT)\\s*(?:\\((\\d+)\\))?"_s,
                                              QRegularExpression::CaseInsensitiveOption);
        QSqlQuery query = Sql::exec(db, u"PRAGMA table_info(%1)"_s.arg(table));
        while (query.next()) {
            const QRegularExpressionMatch match = sized.match(query.value(u"type"_s).toString());
            Column column;
            column.text = match.hasMatch();
            column.size = match.captured(1).toInt();
            columns.insert(query.value(u"name"_s).toString().toUpper(), column);
        }
        return columns;
    }
    QSqlQuery query =
        Sql::exec(db,
                  u"SELECT column_name, data_type, character_maximum_length FROM information_schema.columns "
                  "WHERE table_schema = current_schema() AND table_name = ?"_s,
                  {table.toLower()});
    while (query.next()) {
        const QString type = query.value(1).toString();
        Column column;
        column.text = type.contains(u"char"_s) || type == u"text"_s;
        column.size = query.value(2).toInt();
        columns.insert(query.value(0).toString().toUpper(), column);
    }
    return columns;
}

} // namespace

namespace SchemaCheck {

QStringList differences(QSqlDatabase &db)
{
    QStringList out;
    QHash<QString, QHash<QString, Column>> tables;
    for (const QString &name : RecordSetDefinitions::names()) {
        const RecordSetDefinitions::Definition definition = RecordSetDefinitions::load(name);
        for (const RecordSetDefinitions::FieldDefinition &field : definition.fields) {
            if (field.calculated || field.table.isEmpty()) {
                continue;
            }
            if (!tables.contains(field.table)) {
                tables.insert(field.table, columnsOf(db, field.table));
            }
            const QHash<QString, Column> &columns = tables[field.table];
            const auto it = columns.constFind(field.name);
            const QString where = u"%1.%2 (%3.%2)"_s.arg(name, field.name, field.table);
            if (it == columns.constEnd()) {
                out << u"%1: coluna ausente"_s.arg(where);
            } else if ((field.type == FieldType::Text) != it->text) {
                out << u"%1: tipo diferente"_s.arg(where);
            } else if (field.type == FieldType::Text && it->size != field.size) {
                out << u"%1: tamanho %2 no banco, %3 na definição"_s.arg(where).arg(it->size).arg(field.size);
            }
        }
    }
    return out;
}

void require(QSqlDatabase &db)
{
    const QStringList found = differences(db);
    if (!found.isEmpty()) {
        throw EServerFailure(
            u"O banco de dados não confere com as definições dos níveis: %1"_s.arg(found.join(u"; "_s)));
    }
}

} // namespace SchemaCheck
