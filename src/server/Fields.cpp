#include "Fields.h"

using namespace Qt::StringLiterals;

namespace {
FieldDef number(const QString &name)
{
    return {name, FieldType::Number, 0};
}
FieldDef text(const QString &name, int size)
{
    return {name, FieldType::Text, size};
}
FieldDef dateTime(const QString &name)
{
    return {name, FieldType::DateTime, 0};
}
}

namespace Fields {

QList<FieldDef> processos()
{
    return {number(u"NRPROCESSOFILIAL"_s), text(u"NMPROCESSOFILIAL"_s, 100), dateTime(u"DTINIVIGENCIA"_s),
            dateTime(u"DTFINVIGENCIA"_s), text(u"CDOPERATU"_s, 12), text(u"NMOPERADOR"_s, 40),
            dateTime(u"DTATUALIZACAO"_s), text(u"IDSITUACAO"_s, 1)};
}

QList<FieldDef> tarefas()
{
    return {number(u"NRATIVIDADEFILIAL"_s), number(u"NRPROCESSOFILIAL"_s), text(u"NMATIVIDADEFILIAL"_s, 100),
            text(u"CDTELAATIVIDADE"_s, 30), text(u"CDMODULOATIVIDADE"_s, 3), text(u"CDPERIENTR"_s, 2),
            text(u"NMPERIENTR"_s, 20), text(u"DSATIVIDADEFILIAL"_s, 4000), number(u"NRORDENAATIVIDADE"_s),
            text(u"CDOPERATU"_s, 12)};
}

QList<FieldDef> operadores()
{
    return {number(u"NRRESPATIVFILIAL"_s), number(u"NRATIVIDADEFILIAL"_s), text(u"CDOPERADOR"_s, 12),
            text(u"NMOPERADOR"_s, 40), text(u"CDGRUPOPER"_s, 2), text(u"DSGRUPOPER"_s, 30),
            text(u"IDEXECUTA"_s, 1), text(u"IDVALIDA"_s, 1), text(u"CDOPERATU"_s, 12),
            number(u"NRPROCESSOFILIAL"_s)};
}

QList<FieldDef> atividades()
{
    return {text(u"CDOPERCONCL"_s, 12), dateTime(u"DTCONCLUSAO"_s)};
}

const QString selectProcessos =
    u"SELECT p.NRPROCESSOFILIAL, p.NMPROCESSOFILIAL, p.DTINIVIGENCIA, p.DTFINVIGENCIA, p.CDOPERATU, "
    "o.NMOPERADOR, p.DTATUALIZACAO, p.IDSITUACAO "
    "FROM PROCESSOFILIAL p LEFT JOIN OPERADOR o ON o.CDOPERADOR = p.CDOPERATU "
    "WHERE p.CDUNIDADE = ? ORDER BY p.NRPROCESSOFILIAL"_s;

// Starts from the process so that one round trip answers both "whose is it"
// (the first column) and "which tasks": no row when the process does not
// exist, one row of nulls when it has no task.
const QString selectTarefas =
    u"SELECT p.CDUNIDADE, t.NRATIVIDADEFILIAL, t.NRPROCESSOFILIAL, t.NMATIVIDADEFILIAL, t.CDTELAATIVIDADE, "
    "t.CDMODULOATIVIDADE, t.CDPERIENTR, pe.NMPERIENTR, t.DSATIVIDADEFILIAL, t.NRORDENAATIVIDADE, t.CDOPERATU "
    "FROM PROCESSOFILIAL p LEFT JOIN ATIVIDADEFILIAL t ON t.NRPROCESSOFILIAL = p.NRPROCESSOFILIAL "
    "LEFT JOIN PERIENTR pe ON pe.CDPERIENTR = t.CDPERIENTR "
    "WHERE p.NRPROCESSOFILIAL = ? ORDER BY t.NRORDENAATIVIDADE, t.NRATIVIDADEFILIAL"_s;

// The same shape: the unit of the task's process first.
const QString selectOperadores =
    u"SELECT p.CDUNIDADE, r.NRRESPATIVFILIAL, r.NRATIVIDADEFILIAL, r.CDOPERADOR, o.NMOPERADOR, r.CDGRUPOPER, "
    "g.DSGRUPOPER, r.IDEXECUTA, r.IDVALIDA, r.CDOPERATU, r.NRPROCESSOFILIAL "
    "FROM ATIVIDADEFILIAL t JOIN PROCESSOFILIAL p ON p.NRPROCESSOFILIAL = t.NRPROCESSOFILIAL "
    "LEFT JOIN RESPATIVFILIAL r ON r.NRATIVIDADEFILIAL = t.NRATIVIDADEFILIAL "
    "LEFT JOIN OPERADOR o ON o.CDOPERADOR = r.CDOPERADOR "
    "LEFT JOIN GRUPOPER g ON g.CDGRUPOPER = r.CDGRUPOPER "
    "WHERE t.NRATIVIDADEFILIAL = ? ORDER BY r.NRRESPATIVFILIAL"_s;

const QString selectAtividadesProcesso =
    u"SELECT CDOPERCONCL, DTCONCLUSAO FROM ATIVIDADEDIA WHERE NRPROCESSOFILIAL = ? "
    "ORDER BY DTATIVIDADE, NRATIVIDADEFILIAL"_s;

const QString selectAtividadesTarefa =
    u"SELECT CDOPERCONCL, DTCONCLUSAO FROM ATIVIDADEDIA WHERE NRATIVIDADEFILIAL = ? "
    "ORDER BY DTATIVIDADE"_s;

}
