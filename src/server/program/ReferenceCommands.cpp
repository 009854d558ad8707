#include "ReferenceCommands.h"

#include <QCommandLineParser>
#include <QFile>
#include <QSaveFile>
#include <QTextStream>

#include "Exceptions.h"
#include "ReferenceData.h"

using namespace Qt::StringLiterals;
using ReferenceData::Kind;

namespace {

const QStringList removeOptions = {u"remove-unit"_s, u"remove-operator"_s, u"remove-group"_s, u"remove-periodicity"_s};
const QList<Kind> removeKinds = {Kind::Units, Kind::Operators, Kind::Groups, Kind::Periodicities};
const QStringList removedTexts = {u"Unidade %1 removida."_s, u"Operador %1 removido."_s, u"Grupo %1 removido."_s,
                                  u"Periodicidade %1 removida."_s};

QString required(const QCommandLineParser &parser, const QString &name, const QString &forOption)
{
    if (!parser.isSet(name)) {
        throw EDatabaseError(u"--%1 pede --%2."_s.arg(forOption, name));
    }
    return parser.value(name);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw EDatabaseError(u"Não foi possível ler %1: %2"_s.arg(path, file.errorString()));
    }
    return file.readAll();
}

} // namespace

namespace ReferenceCommands {

QList<QCommandLineOption> options()
{
    return {
        {u"add-periodicity"_s,
         u"Inclui ou altera uma periodicidade (com --name, --day-kind e, "
         u"conforme o tipo, --weekdays ou "
         "--month-day) e termina."_s,
         u"código"_s},
        {u"day-kind"_s,
         u"Tipo de dia da periodicidade: D todo dia, U dias úteis, S dias da semana, M dia do mês, R sob solicitação."_s,
         u"tipo"_s},
        {u"weekdays"_s,
         u"Dias da semana da periodicidade de tipo S: sete letras S ou N, domingo primeiro (NSNNNNN = segundas)."_s,
         u"dias"_s},
        {u"month-day"_s, u"Dia do mês da periodicidade de tipo M (1 a 31; o último dia num mês mais curto)."_s,
         u"dia"_s},
        {u"add-group"_s, u"Inclui ou renomeia um grupo de operadores (com --name) e termina."_s, u"código"_s},
        {u"add-member"_s, u"Inclui o operador de --operator no grupo e termina."_s, u"grupo"_s},
        {u"remove-member"_s, u"Tira o operador de --operator do grupo e termina."_s, u"grupo"_s},
        {u"remove-unit"_s, u"Remove uma unidade sem operadores nem processos e termina."_s, u"código"_s},
        {u"remove-operator"_s,
         u"Remove um operador que não é responsável por tarefas (com sua senha e seus grupos) e termina."_s,
         u"código"_s},
        {u"remove-group"_s, u"Remove um grupo que não é responsável por tarefas e termina."_s, u"código"_s},
        {u"remove-periodicity"_s, u"Remove uma periodicidade que nenhuma tarefa usa e termina."_s, u"código"_s},
        {u"list"_s, u"Lista um cadastro (units, operators, groups, members, periodicities) e termina."_s,
         u"cadastro"_s},
        {u"import"_s, u"Importa um cadastro do arquivo CSV de --file (tudo ou nada) e termina."_s, u"cadastro"_s},
        {u"export"_s, u"Exporta um cadastro em CSV para --file (ou a saída padrão) e termina."_s, u"cadastro"_s},
        {u"file"_s, u"Arquivo CSV de --import e --export."_s, u"arquivo"_s},
    };
}

bool requested(const QCommandLineParser &parser)
{
    for (const QString &name : {u"add-periodicity"_s, u"add-group"_s, u"add-member"_s, u"remove-member"_s, u"list"_s,
                                u"import"_s, u"export"_s}) {
        if (parser.isSet(name)) {
            return true;
        }
    }
    for (const QString &name : removeOptions) {
        if (parser.isSet(name)) {
            return true;
        }
    }
    return false;
}

void run(const QCommandLineParser &parser, QSqlDatabase &db, QTextStream &out)
{
    if (parser.isSet(u"import"_s)) {
        const Kind kind = ReferenceData::kindNamed(parser.value(u"import"_s));
        const QString path = required(parser, u"file"_s, u"import"_s);
        const int count = ReferenceData::importCsv(db, kind, readFile(path), path);
        out << u"%1: %2 linha(s) de %3 gravada(s).\n"_s.arg(ReferenceData::nameOf(kind)).arg(count).arg(path);
    }
    if (parser.isSet(u"add-periodicity"_s)) {
        const QString code = parser.value(u"add-periodicity"_s);
        ReferenceData::put(db, Kind::Periodicities,
                           {code, required(parser, u"name"_s, u"add-periodicity"_s),
                            required(parser, u"day-kind"_s, u"add-periodicity"_s), parser.value(u"weekdays"_s),
                            parser.value(u"month-day"_s)});
        out << u"Periodicidade %1 gravada.\n"_s.arg(code);
    }
    if (parser.isSet(u"add-group"_s)) {
        const QString code = parser.value(u"add-group"_s);
        ReferenceData::put(db, Kind::Groups, {code, required(parser, u"name"_s, u"add-group"_s)});
        out << u"Grupo %1 gravado.\n"_s.arg(code);
    }
    if (parser.isSet(u"add-member"_s)) {
        const QString op = required(parser, u"operator"_s, u"add-member"_s);
        ReferenceData::put(db, Kind::Members, {parser.value(u"add-member"_s), op});
        out << u"Operador %1 incluído no grupo %2.\n"_s.arg(op, parser.value(u"add-member"_s));
    }
    if (parser.isSet(u"remove-member"_s)) {
        const QString op = required(parser, u"operator"_s, u"remove-member"_s);
        ReferenceData::remove(db, Kind::Members, {parser.value(u"remove-member"_s), op});
        out << u"Operador %1 tirado do grupo %2.\n"_s.arg(op, parser.value(u"remove-member"_s));
    }
    for (qsizetype i = 0; i < removeOptions.size(); ++i) {
        if (parser.isSet(removeOptions.at(i))) {
            const QString code = parser.value(removeOptions.at(i));
            ReferenceData::remove(db, removeKinds.at(i), {code});
            out << removedTexts.at(i).arg(code) << u'\n';
        }
    }
    if (parser.isSet(u"list"_s)) {
        const Kind kind = ReferenceData::kindNamed(parser.value(u"list"_s));
        out << ReferenceData::columns(kind).join(u'\t') << u'\n';
        for (const QStringList &row : ReferenceData::rows(db, kind)) {
            out << row.join(u'\t') << u'\n';
        }
    }
    if (parser.isSet(u"export"_s)) {
        const Kind kind = ReferenceData::kindNamed(parser.value(u"export"_s));
        const QByteArray csv = ReferenceData::exportCsv(db, kind);
        const QString path = parser.value(u"file"_s);
        if (path.isEmpty() || path == u"-"_s) {
            out.flush();
            QFile stdoutFile;
            if (!stdoutFile.open(stdout, QIODevice::WriteOnly) || stdoutFile.write(csv) != csv.size()) {
                throw EDatabaseError(u"Não foi possível escrever na saída padrão."_s);
            }
        } else {
            QSaveFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(csv) != csv.size() || !file.commit()) {
                throw EDatabaseError(u"Não foi possível gravar %1: %2"_s.arg(path, file.errorString()));
            }
            out << u"%1 exportado(s) para %2.\n"_s.arg(ReferenceData::nameOf(kind), path);
        }
    }
}

} // namespace ReferenceCommands
