#include "Fields.h"

#include <QHash>

#include "Exceptions.h"

using namespace Qt::StringLiterals;

namespace Fields {

const RecordSetDefinitions::Definition &definition(const QString &recordSet)
{
    // Read once per process; every session shares them read-only.
    static const QHash<QString, RecordSetDefinitions::Definition> levels = [] {
        QHash<QString, RecordSetDefinitions::Definition> map;
        for (const QString &name : {u"cdsProcessos"_s, u"cdsTarefas"_s, u"cdsOperadores"_s, u"cdsAtividades"_s}) {
            map.insert(name, RecordSetDefinitions::load(name));
        }
        return map;
    }();
    const auto it = levels.constFind(recordSet);
    if (it == levels.constEnd()) {
        throw EDatabaseError(u"Nível desconhecido: %1"_s.arg(recordSet));
    }
    return *it;
}

QList<FieldDef> processos()
{
    return definition(u"cdsProcessos"_s).packetFields();
}

QList<FieldDef> tarefas()
{
    return definition(u"cdsTarefas"_s).packetFields();
}

QList<FieldDef> operadores()
{
    return definition(u"cdsOperadores"_s).packetFields();
}

QList<FieldDef> atividades()
{
    return definition(u"cdsAtividades"_s).packetFields();
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

const QString selectAtividadesTarefa = u"SELECT CDOPERCONCL, DTCONCLUSAO FROM ATIVIDADEDIA WHERE NRATIVIDADEFILIAL = ? "
                                       "ORDER BY DTATIVIDADE"_s;

} // namespace Fields
