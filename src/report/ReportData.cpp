#include "ReportData.h"

#include <QHash>

#include "DateTime.h"
#include "Exceptions.h"

using namespace Qt::StringLiterals;

namespace Report {

namespace {

QString dateText(const QDate &day)
{
    return day.toString(u"dd/MM/yyyy"_s);
}

// Reads a row's values by field name.
class Reader
{
public:
    explicit Reader(const QList<FieldDef> &fields)
    {
        for (qsizetype i = 0; i < fields.size(); ++i) {
            m_index.insert(fields.at(i).name.toUpper(), i);
        }
        for (const char *name : {"TPLINHA", "NRPROCESSOFILIAL"}) {
            if (!m_index.contains(QString::fromLatin1(name))) {
                throw EDatabaseError(u"A resposta do relatório não tem o campo %1."_s.arg(QString::fromLatin1(name)));
            }
        }
    }
    void setRow(const Row &row) { m_row = &row; }
    QString text(const QString &name) const { return value(name).toString(); }
    double number(const QString &name) const { return value(name).toDouble(); }
    bool flag(const QString &name) const { return text(name) == u"S"_s; }
    std::optional<QDate> date(const QString &name) const
    {
        const QVariant v = value(name);
        if (v.isNull()) {
            return std::nullopt;
        }
        return DateTime::toQDateTime(v.toDouble()).date();
    }

private:
    QVariant value(const QString &name) const
    {
        const qsizetype i = m_index.value(name, -1);
        return i < 0 || i >= m_row->size() ? QVariant() : m_row->at(i);
    }
    QHash<QString, qsizetype> m_index;
    const Row *m_row = nullptr;
};

[[noreturn]] void outOfOrder(qsizetype row)
{
    throw EDatabaseError(u"A resposta do relatório está fora de ordem (linha %1); tente de novo."_s.arg(row + 1));
}

} // namespace

QString Responsible::label() const
{
    const QString shown = name.isEmpty() ? code : u"%1 (%2)"_s.arg(name, code);
    return group ? u"Grupo %1"_s.arg(shown) : shown;
}

bool Process::inForceOn(const QDate &day) const
{
    return start && *start <= day && (!end || day <= *end);
}

QString Process::validityText() const
{
    if (!start) {
        return u"sem início de vigência"_s;
    }
    return end ? u"de %1 a %2"_s.arg(dateText(*start), dateText(*end)) : u"desde %1"_s.arg(dateText(*start));
}

QString Process::situationText(const QDate &today) const
{
    QString validity;
    if (endedBy(today)) {
        validity = u"Encerrado"_s;
    } else if (start && *start > today) {
        validity = u"Vigência ainda não iniciada"_s;
    } else {
        validity = u"Em vigor"_s;
    }
    const QString activities = situation == u"S"_s ? u"atividades do dia em dia"_s : u"atividades do dia a redefinir"_s;
    return u"%1; %2"_s.arg(validity, activities);
}

QString Options::describe() const
{
    QString text = process != 0 ? u"Um processo"_s
                   : inForceOn  ? u"Processos em vigor em %1"_s.arg(dateText(*inForceOn))
                                : u"Todos os processos"_s;
    if (process == 0) {
        text += includeEnded ? u", encerrados inclusive"_s : u", sem os encerrados"_s;
    }
    return text;
}

Contents fromPacket(const DataPacket &packet)
{
    Contents contents;
    Reader r(packet.fields);
    for (qsizetype i = 0; i < packet.rows.size(); ++i) {
        r.setRow(packet.rows.at(i));
        const QString kind = r.text(u"TPLINHA"_s);
        const qint64 number = qint64(r.number(u"NRPROCESSOFILIAL"_s));
        if (kind == u"U"_s) {
            contents.unitCode = r.text(u"CDUNIDADE"_s);
            contents.unitName = r.text(u"NMUNIDADE"_s);
        } else if (kind == u"P"_s) {
            Process p;
            p.number = number;
            p.name = r.text(u"NMPROCESSOFILIAL"_s);
            p.start = r.date(u"DTINIVIGENCIA"_s);
            p.end = r.date(u"DTFINVIGENCIA"_s);
            p.situation = r.text(u"IDSITUACAO"_s);
            contents.processes << p;
        } else if (kind == u"T"_s) {
            if (contents.processes.isEmpty() || contents.processes.last().number != number) {
                outOfOrder(i);
            }
            Task t;
            t.order = r.number(u"NRORDENAATIVIDADE"_s);
            t.description = r.text(u"NMATIVIDADEFILIAL"_s);
            t.screen = r.text(u"CDTELAATIVIDADE"_s);
            t.module = r.text(u"CDMODULOATIVIDADE"_s);
            t.periodicityCode = r.text(u"CDPERIENTR"_s);
            t.periodicity = r.text(u"NMPERIENTR"_s);
            t.observation = r.text(u"DSATIVIDADEFILIAL"_s);
            contents.processes.last().tasks << t;
        } else if (kind == u"R"_s) {
            if (contents.processes.isEmpty() || contents.processes.last().number != number
                || contents.processes.last().tasks.isEmpty()) {
                outOfOrder(i);
            }
            Responsible resp;
            resp.group = r.text(u"CDOPERADOR"_s).isEmpty();
            resp.code = resp.group ? r.text(u"CDGRUPOPER"_s) : r.text(u"CDOPERADOR"_s);
            resp.name = resp.group ? r.text(u"DSGRUPOPER"_s) : r.text(u"NMOPERADOR"_s);
            resp.executes = r.flag(u"IDEXECUTA"_s);
            resp.validates = r.flag(u"IDVALIDA"_s);
            contents.processes.last().tasks.last().responsibles << resp;
        } else {
            throw EDatabaseError(
                u"A resposta do relatório tem uma linha de tipo desconhecido (linha %1)."_s.arg(i + 1));
        }
    }
    return contents;
}

QList<Process> chosen(const QList<Process> &all, const Options &options, const QDate &today)
{
    QList<Process> kept;
    for (const Process &p : all) {
        if (options.process != 0) {
            if (p.number == options.process) {
                kept << p;
            }
            continue;
        }
        if (options.inForceOn && !p.inForceOn(*options.inForceOn)) {
            continue;
        }
        if (!options.includeEnded && p.endedBy(today)) {
            continue;
        }
        kept << p;
    }
    return kept;
}

} // namespace Report
