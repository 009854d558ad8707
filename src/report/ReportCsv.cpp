#include "ReportCsv.h"

using namespace Qt::StringLiterals;
using namespace Report;

namespace ReportCsv {

namespace {

QString field(const QString &value)
{
    if (!value.contains(u';') && !value.contains(u'"') && !value.contains(u'\n') && !value.contains(u'\r')) {
        return value;
    }
    QString quoted = value;
    quoted.replace(u"\""_s, u"\"\""_s);
    return u'"' + quoted + u'"';
}

QString date(const std::optional<QDate> &day)
{
    return day ? day->toString(u"dd/MM/yyyy"_s) : QString();
}

QString yesNo(bool value)
{
    return value ? u"Sim"_s : u"Não"_s;
}

} // namespace

QByteArray write(const QList<Process> &processes, const QDate &today)
{
    QStringList records;
    records << QStringList{u"Nº do processo"_s,  u"Processo"_s,    u"Início da vigência"_s,
                           u"Fim da vigência"_s, u"Situação"_s,    u"Ordem"_s,
                           u"Tarefa"_s,          u"Tela"_s,        u"Módulo"_s,
                           u"Periodicidade"_s,   u"Observação"_s,  u"Tipo"_s,
                           u"Código"_s,          u"Responsável"_s, u"Executa"_s,
                           u"Valida"_s}
                   .join(u';');
    for (const Process &p : processes) {
        const QStringList process = {QString::number(p.number), field(p.name), date(p.start), date(p.end),
                                     field(p.situationText(today))};
        if (p.tasks.isEmpty()) {
            records << (process + QStringList(11, QString())).join(u';');
        }
        for (const Task &t : p.tasks) {
            const QStringList task = {QString::number(qint64(t.order)),
                                      field(t.description),
                                      field(t.screen),
                                      field(t.module),
                                      field(t.periodicity.isEmpty() ? t.periodicityCode : t.periodicity),
                                      field(t.observation)};
            if (t.responsibles.isEmpty()) {
                records << (process + task + QStringList(5, QString())).join(u';');
            }
            for (const Responsible &r : t.responsibles) {
                const QStringList who = {r.group ? u"Grupo"_s : u"Operador"_s, field(r.code), field(r.name),
                                         yesNo(r.executes), yesNo(r.validates)};
                records << (process + task + who).join(u';');
            }
        }
    }
    return "\xEF\xBB\xBF" + (records.join(u"\r\n"_s) + u"\r\n"_s).toUtf8();
}

} // namespace ReportCsv
