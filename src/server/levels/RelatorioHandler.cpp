#include "RelatorioHandler.h"

#include "Exceptions.h"
#include "Fields.h"
#include "RdmProcessoUnidade.h"
#include "RemoteCalls.h"

using namespace Qt::StringLiterals;

namespace RelatorioHandler {

QList<FieldDef> fields()
{
    // Built once: each field as its level's record set types it, so sizes never disagree.
    static const QList<FieldDef> layout = [] {
        QList<FieldDef> all{{u"TPLINHA"_s, FieldType::Text, 1}};
        const auto take = [&all](const QString &recordSet, const QStringList &names) {
            const QList<FieldDef> level = Fields::definition(recordSet).packetFields();
            for (const QString &name : names) {
                const auto it =
                    std::find_if(level.cbegin(), level.cend(), [&name](const FieldDef &f) { return f.name == name; });
                Q_ASSERT(it != level.cend());
                all << *it;
            }
        };
        take(u"cdsProcessos"_s,
             {u"NRPROCESSOFILIAL"_s, u"NMPROCESSOFILIAL"_s, u"DTINIVIGENCIA"_s, u"DTFINVIGENCIA"_s, u"IDSITUACAO"_s});
        take(u"cdsTarefas"_s,
             {u"NRATIVIDADEFILIAL"_s, u"NRORDENAATIVIDADE"_s, u"NMATIVIDADEFILIAL"_s, u"CDTELAATIVIDADE"_s,
              u"CDMODULOATIVIDADE"_s, u"CDPERIENTR"_s, u"NMPERIENTR"_s, u"DSATIVIDADEFILIAL"_s});
        take(u"cdsOperadores"_s, {u"NRRESPATIVFILIAL"_s, u"CDOPERADOR"_s, u"NMOPERADOR"_s, u"CDGRUPOPER"_s,
                                  u"DSGRUPOPER"_s, u"IDEXECUTA"_s, u"IDVALIDA"_s});
        all << FieldDef{u"CDUNIDADE"_s, FieldType::Text, 4} << FieldDef{u"NMUNIDADE"_s, FieldType::Text, 60};
        return all;
    }();
    return layout;
}

namespace {

// The packet's columns after TPLINHA, and whether each is a number.
const QList<QPair<QString, bool>> columns = {
    {u"NRPROCESSOFILIAL"_s, true},   {u"NMPROCESSOFILIAL"_s, false},  {u"DTINIVIGENCIA"_s, true},
    {u"DTFINVIGENCIA"_s, true},      {u"IDSITUACAO"_s, false},        {u"NRATIVIDADEFILIAL"_s, true},
    {u"NRORDENAATIVIDADE"_s, true},  {u"NMATIVIDADEFILIAL"_s, false}, {u"CDTELAATIVIDADE"_s, false},
    {u"CDMODULOATIVIDADE"_s, false}, {u"CDPERIENTR"_s, false},        {u"NMPERIENTR"_s, false},
    {u"DSATIVIDADEFILIAL"_s, false}, {u"NRRESPATIVFILIAL"_s, true},   {u"CDOPERADOR"_s, false},
    {u"NMOPERADOR"_s, false},        {u"CDGRUPOPER"_s, false},        {u"DSGRUPOPER"_s, false},
    {u"IDEXECUTA"_s, false},         {u"IDVALIDA"_s, false},          {u"CDUNIDADE"_s, false},
    {u"NMUNIDADE"_s, false}};

// One SELECT of the union: the columns it has, each written "alias.NAME"
// or "expression NAME", a null for the others, then the six sort keys. The
// first one names the columns and types its nulls, so that every engine
// agrees on the columns' types.
QString branch(QChar kind, const QStringList &values, const QStringList &keys, const QString &from, bool first)
{
    QHash<QString, QString> given;
    for (const QString &value : values) {
        const qsizetype space = value.indexOf(u' ');
        given.insert(space > 0 ? value.mid(space + 1) : value.mid(value.indexOf(u'.') + 1),
                     space > 0 ? value.left(space) : value);
    }
    QStringList out{u"'%1'"_s.arg(kind) + (first ? u" AS TPLINHA"_s : QString())};
    for (const auto &[name, number] : columns) {
        const QString null =
            first ? (number ? u"CAST(NULL AS NUMERIC)"_s : u"CAST(NULL AS VARCHAR(4000))"_s) : u"NULL"_s;
        out << given.value(name, null) + (first ? u" AS "_s + name : QString());
    }
    for (qsizetype k = 0; k < keys.size(); ++k) {
        out << keys[k] + (first ? u" AS K%1"_s.arg(k) : QString());
    }
    return u"SELECT "_s + out.join(u", "_s) + u" "_s + from;
}

// The unit's three "?": the unit, then the process twice (0 for every one).
const QString ofUnit = u" WHERE p.CDUNIDADE = ? AND (CAST(? AS BIGINT) = 0 OR p.NRPROCESSOFILIAL = ?)"_s;

} // namespace

// The unit's own row first (one "?"), then each level. The keys order the
// rows: a process, then its tasks by order and number, each followed by its
// responsibles; explicit keys, as the engines disagree on where nulls sort.
const QString select =
    QStringList{
        branch(u'U', {u"0 NRPROCESSOFILIAL"_s, u"u.CDUNIDADE"_s, u"u.NMUNIDADE"_s}, QStringList(6, u"0"_s),
               u"FROM UNIDADE u WHERE u.CDUNIDADE = ?"_s, true),
        branch(u'P',
               {u"p.NRPROCESSOFILIAL"_s, u"p.NMPROCESSOFILIAL"_s, u"p.DTINIVIGENCIA"_s, u"p.DTFINVIGENCIA"_s,
                u"p.IDSITUACAO"_s},
               {u"1"_s, u"0"_s, u"0"_s, u"0"_s, u"0"_s, u"0"_s}, u"FROM PROCESSOFILIAL p"_s + ofUnit, false),
        branch(u'T',
               {u"p.NRPROCESSOFILIAL"_s, u"t.NRATIVIDADEFILIAL"_s, u"t.NRORDENAATIVIDADE"_s, u"t.NMATIVIDADEFILIAL"_s,
                u"t.CDTELAATIVIDADE"_s, u"t.CDMODULOATIVIDADE"_s, u"t.CDPERIENTR"_s, u"pe.NMPERIENTR"_s,
                u"t.DSATIVIDADEFILIAL"_s},
               {u"1"_s, u"1"_s, u"t.NRORDENAATIVIDADE"_s, u"t.NRATIVIDADEFILIAL"_s, u"0"_s, u"0"_s},
               u"FROM ATIVIDADEFILIAL t JOIN PROCESSOFILIAL p ON p.NRPROCESSOFILIAL = t.NRPROCESSOFILIAL "
               "LEFT JOIN PERIENTR pe ON pe.CDPERIENTR = t.CDPERIENTR"_s
                   + ofUnit,
               false),
        branch(
            u'R',
            {u"p.NRPROCESSOFILIAL"_s, u"t.NRATIVIDADEFILIAL"_s, u"r.NRRESPATIVFILIAL"_s, u"r.CDOPERADOR"_s,
             u"o.NMOPERADOR"_s, u"r.CDGRUPOPER"_s, u"g.DSGRUPOPER"_s, u"r.IDEXECUTA"_s, u"r.IDVALIDA"_s},
            {u"1"_s, u"1"_s, u"t.NRORDENAATIVIDADE"_s, u"t.NRATIVIDADEFILIAL"_s, u"1"_s, u"r.NRRESPATIVFILIAL"_s},
            u"FROM RESPATIVFILIAL r JOIN ATIVIDADEFILIAL t ON t.NRATIVIDADEFILIAL = r.NRATIVIDADEFILIAL "
            "JOIN PROCESSOFILIAL p ON p.NRPROCESSOFILIAL = t.NRPROCESSOFILIAL "
            "LEFT JOIN OPERADOR o ON o.CDOPERADOR = r.CDOPERADOR LEFT JOIN GRUPOPER g ON g.CDGRUPOPER = r.CDGRUPOPER"_s
                + ofUnit,
            false)}
        .join(u" UNION ALL "_s)
    + u" ORDER BY K0, NRPROCESSOFILIAL, K1, K2, K3, K4, K5"_s;

QCborValue GetRelatorioProcessos(RdmProcessoUnidade &session, const QCborArray &args)
{
    const QString method = u"GetRelatorioProcessos"_s;
    RemoteCalls::expectCount(method, args, 1);
    const qint64 process = RemoteCalls::numberArg(method, args, 0, u"número do processo"_s);
    if (process != 0 && session.checkProcessUnit(process).isEmpty()) {
        throw EDatabaseError(u"O processo %1 não existe; atualize a lista de processos."_s.arg(process));
    }
    const QString &unit = session.unit();
    try {
        return QCborValue(session.packet(
            select, {unit, unit, process, process, unit, process, process, unit, process, process}, fields()));
    } catch (const EPacketError &) {
        // Only the size can fail here: every stored value fits its field.
        throw EDatabaseError(u"O relatório de todos os processos passa do limite de uma resposta do servidor (%1 MiB); "
                             "escolha um processo."_s.arg(PacketLimits::maxPacketBytes / (1024 * 1024)));
    }
}

} // namespace RelatorioHandler
