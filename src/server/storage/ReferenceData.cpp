#include "ReferenceData.h"

#include <QHash>
#include <QRegularExpression>
#include <QSqlQuery>

#include "CsvFile.h"
#include "Database.h"
#include "Packet.h"
#include "Sql.h"

using namespace Qt::StringLiterals;

namespace {

using ReferenceData::Kind;

struct Column
{
    QString name;
    QString label; // in the administrator's words
    int size = 0; // characters; 0 for a whole number
    bool required = true;
};

struct Table
{
    Kind kind;
    QString option; // as the command line names the kind
    QString table;
    int keyColumns = 1;
    QList<Column> columns;
};

const QList<Table> &tables()
{
    static const QList<Table> list = {
        {Kind::Units,
         u"units"_s,
         u"UNIDADE"_s,
         1,
         {{u"CDUNIDADE"_s, u"O código da unidade"_s, 4}, {u"NMUNIDADE"_s, u"O nome da unidade"_s, 60}}},
        {Kind::Operators,
         u"operators"_s,
         u"OPERADOR"_s,
         1,
         {{u"CDOPERADOR"_s, u"O código do operador"_s, 12},
          {u"NMOPERADOR"_s, u"O nome do operador"_s, 40},
          {u"CDUNIDADE"_s, u"A unidade do operador"_s, 4}}},
        {Kind::Groups,
         u"groups"_s,
         u"GRUPOPER"_s,
         1,
         {{u"CDGRUPOPER"_s, u"O código do grupo"_s, 2}, {u"DSGRUPOPER"_s, u"O nome do grupo"_s, 30}}},
        {Kind::Members,
         u"members"_s,
         u"GRUPOPEROPER"_s,
         2,
         {{u"CDGRUPOPER"_s, u"O grupo"_s, 2}, {u"CDOPERADOR"_s, u"O operador"_s, 12}}},
        {Kind::Periodicities,
         u"periodicities"_s,
         u"PERIENTR"_s,
         1,
         {{u"CDPERIENTR"_s, u"O código da periodicidade"_s, 2},
          {u"NMPERIENTR"_s, u"O nome da periodicidade"_s, 20},
          {u"IDTIPODIA"_s, u"O tipo de dia"_s, 1},
          {u"IDDIASSEMANA"_s, u"Os dias da semana"_s, 7, false},
          {u"NRDIAMES"_s, u"O dia do mês"_s, 0, false}}},
    };
    return list;
}

const Table &tableOf(Kind kind)
{
    for (const Table &table : tables()) {
        if (table.kind == kind) {
            return table;
        }
    }
    Q_UNREACHABLE();
}

// A refused value, with the column it was found in.
class RowError : public EDatabaseError
{
public:
    RowError(QString name, const QString &message)
        : EDatabaseError(message)
        , column(std::move(name))
    { }
    QString column;
};

bool exists(QSqlDatabase &db, const QString &text, const QVariantList &values)
{
    return Sql::scalar(db, text, values).isValid();
}

int count(QSqlDatabase &db, const QString &text, const QString &code)
{
    return Sql::scalar(db, text, {code}).toInt();
}

// Each value checked against its column, then the recurrence as a whole.
void check(const Table &table, const QStringList &values)
{
    for (qsizetype i = 0; i < table.columns.size(); ++i) {
        const Column &column = table.columns.at(i);
        const QString &value = values.at(i);
        if (value.trimmed().isEmpty()) {
            if (column.required) {
                throw RowError(column.name, u"%1 (%2) deve ser informado."_s.arg(column.label, column.name));
            }
            continue;
        }
        if (column.size > 0 && textLength(value) > column.size) {
            throw RowError(column.name, u"%1 (%2) aceita no máximo %3 caracteres (informado: \"%4\")."_s
                                            .arg(column.label, column.name)
                                            .arg(column.size)
                                            .arg(value));
        }
    }
    if (table.kind != Kind::Periodicities) {
        return;
    }
    const QString kind = values.at(2);
    const QString weekdays = values.at(3);
    const QString monthDay = values.at(4).trimmed();
    if (!QStringList{u"D"_s, u"U"_s, u"S"_s, u"M"_s, u"R"_s}.contains(kind)) {
        throw RowError(u"IDTIPODIA"_s,
                       u"O tipo de dia (IDTIPODIA) deve ser D (todo dia), U (dias úteis), S "
                       u"(dias da "
                       "semana), M (dia do mês) ou R (sob solicitação) (informado: \"%1\")."_s.arg(kind));
    }
    static const QRegularExpression week(u"^[SN]{7}$"_s);
    if (kind == u"S"_s && (!week.match(weekdays).hasMatch() || !weekdays.contains(u'S'))) {
        throw RowError(u"IDDIASSEMANA"_s, u"Os dias da semana (IDDIASSEMANA) devem ser sete letras S ou N, "
                                          u"domingo "
                                          "primeiro, com ao menos um S (informado: \"%1\")."_s.arg(weekdays));
    }
    if (kind != u"S"_s && !weekdays.isEmpty()) {
        throw RowError(
            u"IDDIASSEMANA"_s,
            u"Os dias da semana (IDDIASSEMANA) só valem para o tipo de dia S (informado: \"%1\")."_s.arg(weekdays));
    }
    if (kind == u"M"_s) {
        bool ok = false;
        const int day = monthDay.toInt(&ok);
        if (!ok || day < 1 || day > 31) {
            throw RowError(
                u"NRDIAMES"_s,
                u"O dia do mês (NRDIAMES) deve ser um número de 1 a 31 (informado: \"%1\")."_s.arg(monthDay));
        }
    } else if (!monthDay.isEmpty()) {
        throw RowError(u"NRDIAMES"_s,
                       u"O dia do mês (NRDIAMES) só vale para o tipo de dia M (informado: \"%1\")."_s.arg(monthDay));
    }
}

void putChecked(QSqlDatabase &db, const Table &table, const QStringList &values)
{
    check(table, values);
    const QString &code = values.at(0);
    switch (table.kind) {
    case Kind::Units:
        if (exists(db, u"SELECT 1 FROM UNIDADE WHERE CDUNIDADE = ?"_s, {code})) {
            Sql::exec(db, u"UPDATE UNIDADE SET NMUNIDADE = ? WHERE CDUNIDADE = ?"_s, {values.at(1), code});
        } else {
            Sql::exec(db, u"INSERT INTO UNIDADE (CDUNIDADE, NMUNIDADE) VALUES (?, ?)"_s, {code, values.at(1)});
        }
        break;
    case Kind::Operators:
        if (!exists(db, u"SELECT 1 FROM UNIDADE WHERE CDUNIDADE = ?"_s, {values.at(2)})) {
            throw RowError(u"CDUNIDADE"_s, u"A unidade %1 não existe."_s.arg(values.at(2)));
        }
        // The password is set with --add-operator: a file never carries one.
        if (exists(db, u"SELECT 1 FROM OPERADOR WHERE CDOPERADOR = ?"_s, {code})) {
            Sql::exec(db, u"UPDATE OPERADOR SET NMOPERADOR = ?, CDUNIDADE = ? WHERE CDOPERADOR = ?"_s,
                      {values.at(1), values.at(2), code});
        } else {
            Sql::exec(db, u"INSERT INTO OPERADOR (CDOPERADOR, NMOPERADOR, CDUNIDADE) VALUES (?, ?, ?)"_s,
                      {code, values.at(1), values.at(2)});
        }
        break;
    case Kind::Groups:
        if (exists(db, u"SELECT 1 FROM GRUPOPER WHERE CDGRUPOPER = ?"_s, {code})) {
            Sql::exec(db, u"UPDATE GRUPOPER SET DSGRUPOPER = ? WHERE CDGRUPOPER = ?"_s, {values.at(1), code});
        } else {
            Sql::exec(db, u"INSERT INTO GRUPOPER (CDGRUPOPER, DSGRUPOPER) VALUES (?, ?)"_s, {code, values.at(1)});
        }
        break;
    case Kind::Members:
        if (!exists(db, u"SELECT 1 FROM GRUPOPER WHERE CDGRUPOPER = ?"_s, {code})) {
            throw RowError(u"CDGRUPOPER"_s, u"O grupo %1 não existe."_s.arg(code));
        }
        if (!exists(db, u"SELECT 1 FROM OPERADOR WHERE CDOPERADOR = ?"_s, {values.at(1)})) {
            throw RowError(u"CDOPERADOR"_s, u"O operador %1 não existe."_s.arg(values.at(1)));
        }
        if (!exists(db, u"SELECT 1 FROM GRUPOPEROPER WHERE CDGRUPOPER = ? AND CDOPERADOR = ?"_s,
                    {code, values.at(1)})) {
            Sql::exec(db, u"INSERT INTO GRUPOPEROPER (CDGRUPOPER, CDOPERADOR) VALUES (?, ?)"_s, {code, values.at(1)});
        }
        break;
    case Kind::Periodicities: {
        // Tasks may not be on request (the screen and the save refuse it), so
        // a periodicity that tasks use does not become one.
        const int tasks = count(db, u"SELECT COUNT(*) FROM ATIVIDADEFILIAL WHERE CDPERIENTR = ?"_s, code);
        if (values.at(2) == u"R"_s && tasks > 0) {
            throw RowError(u"IDTIPODIA"_s, u"A periodicidade %1 é usada por %2 "
                                           u"tarefa(s) e não pode passar a ser sob "
                                           "solicitação (R)."_s.arg(code)
                                               .arg(tasks));
        }
        const QVariant weekdays = values.at(3).isEmpty() ? Sql::nullText() : QVariant(values.at(3));
        const QVariant monthDay =
            values.at(4).trimmed().isEmpty() ? Sql::nullNumber() : QVariant(values.at(4).trimmed().toInt());
        if (exists(db, u"SELECT 1 FROM PERIENTR WHERE CDPERIENTR = ?"_s, {code})) {
            Sql::exec(
                db,
                u"UPDATE PERIENTR SET NMPERIENTR = ?, IDTIPODIA = ?, IDDIASSEMANA = ?, NRDIAMES = ? WHERE CDPERIENTR = ?"_s,
                {values.at(1), values.at(2), weekdays, monthDay, code});
        } else {
            Sql::exec(
                db,
                u"INSERT INTO PERIENTR (CDPERIENTR, NMPERIENTR, IDTIPODIA, IDDIASSEMANA, NRDIAMES) VALUES (?, ?, ?, ?, ?)"_s,
                {code, values.at(1), values.at(2), weekdays, monthDay});
        }
        break;
    }
    }
}

QStringList padded(const Table &table, QStringList values)
{
    while (values.size() < table.columns.size()) {
        values << QString();
    }
    return values;
}

} // namespace

namespace ReferenceData {

Kind kindNamed(const QString &name)
{
    QStringList known;
    for (const Table &table : tables()) {
        if (table.option == name) {
            return table.kind;
        }
        known << table.option;
    }
    throw EDatabaseError(u"Tipo de cadastro desconhecido: \"%1\" (use %2)."_s.arg(name, known.join(u", "_s)));
}

QString nameOf(Kind kind)
{
    return tableOf(kind).option;
}

QStringList columns(Kind kind)
{
    QStringList names;
    for (const Column &column : tableOf(kind).columns) {
        names << column.name;
    }
    return names;
}

void put(QSqlDatabase &db, Kind kind, const QStringList &values)
{
    const Table &table = tableOf(kind);
    if (values.size() > table.columns.size()) {
        throw EDatabaseError(u"Valores demais para %1."_s.arg(table.table));
    }
    TransactionGuard guard(db);
    putChecked(db, table, padded(table, values));
    guard.commit();
}

void remove(QSqlDatabase &db, Kind kind, const QStringList &key)
{
    const Table &table = tableOf(kind);
    if (key.size() != table.keyColumns || key.first().isEmpty() || key.last().isEmpty()) {
        throw EDatabaseError(
            u"Informe a chave de %1 (%2)."_s.arg(table.table, columns(kind).mid(0, table.keyColumns).join(u", "_s)));
    }
    const QString &code = key.first();
    TransactionGuard guard(db);
    QString missing;
    QString inUse;
    switch (kind) {
    case Kind::Units: {
        if (!exists(db, u"SELECT 1 FROM UNIDADE WHERE CDUNIDADE = ?"_s, {code})) {
            missing = u"A unidade %1 não existe."_s.arg(code);
            break;
        }
        const int operators = count(db, u"SELECT COUNT(*) FROM OPERADOR WHERE CDUNIDADE = ?"_s, code);
        const int processes = count(db, u"SELECT COUNT(*) FROM PROCESSOFILIAL WHERE CDUNIDADE = ?"_s, code);
        if (operators + processes > 0) {
            inUse = u"A unidade %1 tem %2 operador(es) e %3 processo(s); remova-os "
                    u"ou mude-os de unidade antes de "
                    "removê-la."_s.arg(code)
                        .arg(operators)
                        .arg(processes);
        }
        break;
    }
    case Kind::Operators: {
        if (!exists(db, u"SELECT 1 FROM OPERADOR WHERE CDOPERADOR = ?"_s, {code})) {
            missing = u"O operador %1 não existe."_s.arg(code);
            break;
        }
        const int tasks = count(db, u"SELECT COUNT(*) FROM RESPATIVFILIAL WHERE CDOPERADOR = ?"_s, code);
        if (tasks > 0) {
            inUse =
                u"O operador %1 é responsável por %2 tarefa(s); tire-o delas na tela antes de removê-lo."_s.arg(code)
                    .arg(tasks);
            break;
        }
        // Group memberships go with the operator; executed activities keep
        // the code as history. The credentials are in their own file on SQLite.
        Sql::exec(db, u"DELETE FROM GRUPOPEROPER WHERE CDOPERADOR = ?"_s, {code});
        Sql::exec(db, u"DELETE FROM OPERADORSENHA WHERE CDOPERADOR = ?"_s, {code});
        break;
    }
    case Kind::Groups: {
        if (!exists(db, u"SELECT 1 FROM GRUPOPER WHERE CDGRUPOPER = ?"_s, {code})) {
            missing = u"O grupo %1 não existe."_s.arg(code);
            break;
        }
        const int tasks = count(db, u"SELECT COUNT(*) FROM RESPATIVFILIAL WHERE CDGRUPOPER = ?"_s, code);
        if (tasks > 0) {
            inUse =
                u"O grupo %1 é responsável por %2 tarefa(s); tire-o delas na tela antes de removê-lo."_s.arg(code).arg(
                    tasks);
            break;
        }
        Sql::exec(db, u"DELETE FROM GRUPOPEROPER WHERE CDGRUPOPER = ?"_s, {code});
        break;
    }
    case Kind::Members:
        if (!exists(db, u"SELECT 1 FROM GRUPOPEROPER WHERE CDGRUPOPER = ? AND CDOPERADOR = ?"_s, {code, key.last()})) {
            missing = u"O operador %1 não é membro do grupo %2."_s.arg(key.last(), code);
        }
        break;
    case Kind::Periodicities: {
        if (!exists(db, u"SELECT 1 FROM PERIENTR WHERE CDPERIENTR = ?"_s, {code})) {
            missing = u"A periodicidade %1 não existe."_s.arg(code);
            break;
        }
        const int tasks = count(db, u"SELECT COUNT(*) FROM ATIVIDADEFILIAL WHERE CDPERIENTR = ?"_s, code);
        if (tasks > 0) {
            inUse = u"A periodicidade %1 é usada por %2 tarefa(s); troque a "
                    u"periodicidade delas na tela antes de "
                    "removê-la."_s.arg(code)
                        .arg(tasks);
        }
        break;
    }
    }
    if (!missing.isEmpty()) {
        throw EDatabaseError(missing);
    }
    if (!inUse.isEmpty()) {
        throw EDatabaseError(inUse + u" Nada foi removido."_s);
    }
    QStringList where;
    for (int i = 0; i < table.keyColumns; ++i) {
        where << table.columns.at(i).name + u" = ?"_s;
    }
    QVariantList values;
    for (const QString &value : key) {
        values << value;
    }
    Sql::exec(db, u"DELETE FROM %1 WHERE %2"_s.arg(table.table, where.join(u" AND "_s)), values);
    guard.commit();
}

QList<QStringList> rows(QSqlDatabase &db, Kind kind)
{
    const Table &table = tableOf(kind);
    const QStringList names = columns(kind);
    QList<QStringList> list;
    QSqlQuery query =
        Sql::exec(db, u"SELECT %1 FROM %2 ORDER BY %3"_s.arg(names.join(u", "_s), table.table,
                                                             names.mid(0, table.keyColumns).join(u", "_s)));
    while (query.next()) {
        QStringList row;
        for (int i = 0; i < names.size(); ++i) {
            const QVariant value = query.value(i);
            row << (value.isNull()                  ? QString()
                    : table.columns.at(i).size == 0 ? QString::number(value.toLongLong())
                                                    : value.toString());
        }
        list << row;
    }
    return list;
}

int importCsv(QSqlDatabase &db, Kind kind, const QByteArray &bytes, const QString &fileName)
{
    const Table &table = tableOf(kind);
    const QList<CsvFile::Record> records = CsvFile::parse(bytes, fileName);
    auto refuse = [&fileName](int line, const QString &column, const QString &why) {
        const QString where = column.isEmpty() ? u"%1, linha %2"_s.arg(fileName).arg(line)
                                               : u"%1, linha %2, coluna %3"_s.arg(fileName).arg(line).arg(column);
        return EDatabaseError(u"%1: %2 Nada do arquivo foi gravado."_s.arg(where, why));
    };
    if (records.isEmpty()) {
        throw refuse(
            1, {},
            u"o arquivo está vazio; a primeira linha deve nomear as colunas (%1)."_s.arg(columns(kind).join(u","_s)));
    }
    // The header names the columns, in any order; optional ones may be left out.
    const CsvFile::Record &header = records.first();
    QList<int> at(table.columns.size(), -1);
    for (qsizetype i = 0; i < header.fields.size(); ++i) {
        const QString name = header.fields.at(i).trimmed().toUpper();
        const qsizetype index = columns(kind).indexOf(name);
        if (index < 0) {
            throw refuse(
                1, name,
                u"coluna desconhecida; as colunas de %1 são %2."_s.arg(table.table, columns(kind).join(u", "_s)));
        }
        if (at[index] >= 0) {
            throw refuse(1, name, u"coluna repetida."_s);
        }
        at[index] = int(i);
    }
    for (qsizetype i = 0; i < table.columns.size(); ++i) {
        if (at[i] < 0 && table.columns.at(i).required) {
            throw refuse(1, table.columns.at(i).name, u"falta esta coluna no cabeçalho."_s);
        }
    }

    TransactionGuard guard(db);
    QHash<QString, int> seen; // key -> line, so a key twice in one file is caught
    for (qsizetype r = 1; r < records.size(); ++r) {
        const CsvFile::Record &record = records.at(r);
        if (record.fields.size() != header.fields.size()) {
            throw refuse(
                record.line, {},
                u"a linha tem %1 campo(s) e o cabeçalho %2."_s.arg(record.fields.size()).arg(header.fields.size()));
        }
        QStringList values;
        for (qsizetype i = 0; i < table.columns.size(); ++i) {
            values << (at[i] >= 0 ? record.fields.at(at[i]).trimmed() : QString());
        }
        const QString key = values.mid(0, table.keyColumns).join(u'\x1f');
        if (seen.contains(key)) {
            throw refuse(record.line, table.columns.first().name,
                         u"a chave %1 já veio na linha %2."_s.arg(values.mid(0, table.keyColumns).join(u'/'),
                                                                  QString::number(seen.value(key))));
        }
        seen.insert(key, record.line);
        try {
            putChecked(db, table, values);
        } catch (const RowError &e) {
            throw refuse(record.line, e.column, e.message());
        } catch (const EServerFailure &e) {
            throw refuse(record.line, {}, e.message());
        }
    }
    guard.commit();
    return int(records.size() - 1);
}

QByteArray exportCsv(QSqlDatabase &db, Kind kind)
{
    QByteArray out = CsvFile::line(columns(kind));
    for (const QStringList &row : rows(db, kind)) {
        out += CsvFile::line(row);
    }
    return out;
}

} // namespace ReferenceData
