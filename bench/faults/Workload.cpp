#include "ProcStatus.h"
#include "Workload.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QSqlQuery>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>

#include <sys/types.h>
#include <signal.h>

#include "Activities.h"
#include "Admin.h"
#include "DateTime.h"
#include "Fields.h"
#include "RdmProcessoUnidade.h"
#include "ServerClock.h"
#include "Sql.h"

using namespace Qt::StringLiterals;

namespace Workload {

namespace {

int column(const QList<FieldDef> &fields, const QString &name)
{
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (fields.at(i).name == name) {
            return int(i);
        }
    }
    qFatal("workload: field %s missing", qPrintable(name));
}

Row makeRow(const QList<FieldDef> &fields, const QHash<QString, QVariant> &values)
{
    Row row(fields.size());
    for (auto it = values.begin(); it != values.end(); ++it) {
        row[column(fields, it.key())] = it.value();
    }
    return row;
}

QVariant at(const QList<FieldDef> &fields, const Row &row, const QString &name)
{
    return row.value(column(fields, name));
}

DeltaEntry inserted(Row current)
{
    return {ChangeKind::Inserted, {}, std::move(current)};
}

DeltaEntry modified(Row original, Row current)
{
    return {ChangeKind::Modified, std::move(original), std::move(current)};
}

DeltaEntry deleted(Row original)
{
    return {ChangeKind::Deleted, std::move(original), {}};
}

QString responsibleText(const QString &code, const QString &executes, const QString &validates)
{
    return u"%1/%2/%3"_s.arg(code, executes, validates);
}

} // namespace

QString operatorCode(int client)
{
    return u"OP%1"_s.arg(client % operatorCount);
}

QStringList engines(const QString &option)
{
    QStringList list;
    const bool pg = !qEnvironmentVariableIsEmpty("PRU_TEST_PG");
    if (option == u"sqlite"_s || option == u"all"_s) {
        list << u"sqlite"_s;
    }
    if (option == u"pg"_s || (option == u"all"_s && pg)) {
        list << u"pg"_s;
    }
    if (option == u"all"_s && !pg) {
        print(u"(PostgreSQL: defina PRU_TEST_PG para usá-lo também)"_s);
    }
    return list;
}

QString serverProgram(const QString &option)
{
    return !option.isEmpty() ? option : QDir(QCoreApplication::applicationDirPath()).filePath(u"pru_server"_s);
}

void print(const QString &text)
{
    std::fputs(qPrintable(text + u'\n'), stdout);
    std::fflush(stdout);
}

// ---------------------------------------------------------------------------

Scratch::Scratch(const QString &engine, const QString &folder)
{
    if (engine == u"sqlite"_s) {
        m_config = DatabaseConfig::sqlite(QDir(folder).filePath(u"faults.sqlite"_s));
        return;
    }
    m_pgAdmin = qEnvironmentVariable("PRU_TEST_PG");
    if (m_pgAdmin.isEmpty()) {
        throw EDatabaseError(u"defina PRU_TEST_PG para usar o PostgreSQL"_s);
    }
    m_pgName = u"pru_faults_%1"_s.arg(QCoreApplication::applicationPid());
    {
        ScopedConnection admin(DatabaseConfig::postgres(m_pgAdmin), u"faults-admin"_s);
        Sql::exec(admin.db(), u"DROP DATABASE IF EXISTS %1 WITH (FORCE)"_s.arg(m_pgName));
        Sql::exec(admin.db(), u"CREATE DATABASE "_s + m_pgName);
    }
    QString options = m_pgAdmin;
    static const QRegularExpression dbname(u"dbname=\\S+"_s);
    options = options.contains(dbname) ? options.replace(dbname, u"dbname="_s + m_pgName)
                                       : options + u" dbname="_s + m_pgName;
    m_config = DatabaseConfig::postgres(options);
}

Scratch::~Scratch()
{
    if (m_pgName.isEmpty()) {
        return;
    }
    try {
        ScopedConnection admin(DatabaseConfig::postgres(m_pgAdmin), u"faults-admin"_s);
        Sql::exec(admin.db(), u"DROP DATABASE IF EXISTS %1 WITH (FORCE)"_s.arg(m_pgName));
    } catch (const EDatabaseError &e) {
        print(u"  (não foi possível apagar %1: %2)"_s.arg(m_pgName, e.message()));
    }
}

QStringList Scratch::serverArguments() const
{
    if (m_config.engine == DatabaseConfig::Engine::SQLite) {
        return {u"--sqlite"_s, m_config.sqliteFile};
    }
    return {u"--pg"_s, m_config.pgOptions};
}

void Scratch::seed()
{
    ScopedConnection connection(m_config, u"faults-seed"_s);
    QSqlDatabase &db = connection.db();
    Admin::createDatabase(db);
    Admin::addUnit(db, u"0001"_s, u"Loja"_s);
    QStringList members;
    for (int i = 0; i < operatorCount; ++i) {
        Admin::addOperator(db, operatorCode(i), u"Operador %1"_s.arg(i), u"0001"_s, u"senha"_s,
                           PasswordHash::Cost::minimal());
        members << operatorCode(i);
    }
    Admin::addGroup(db, u"CX"_s, u"Caixa"_s, members);
    TransactionGuard guard(db);
    Sql::exec(db, u"INSERT INTO PERIENTR (CDPERIENTR, NMPERIENTR, IDTIPODIA) VALUES ('DI', 'Diária', 'D')"_s);
    Sql::exec(
        db,
        u"INSERT INTO PERIENTR (CDPERIENTR, NMPERIENTR, IDTIPODIA, IDDIASSEMANA) VALUES ('SG', 'Segundas', 'S', 'NSNNNNN')"_s);
    guard.commit();
}

// ---------------------------------------------------------------------------

ServerProcess::ServerProcess(QString program, QStringList databaseArguments, QString portFile)
    : m_program(std::move(program))
    , m_arguments(std::move(databaseArguments))
    , m_portFile(std::move(portFile))
{ }

ServerProcess::~ServerProcess()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        kill();
    }
}

void ServerProcess::startOnly()
{
    // A port file left by a killed server would send us to a closed port.
    QFile::remove(m_portFile);
    m_port = 0;
    m_process = std::make_unique<QProcess>();
    // To a file, not a pipe: a pipe nobody drains while the clients block in
    // their calls fills up, and the server then stalls on its own log lines.
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(logFile(), QIODevice::Append);
    m_process->start(m_program, m_arguments + QStringList{u"--port"_s, u"0"_s, u"--port-file"_s, m_portFile});
    m_process->waitForStarted(10'000);
}

bool ServerProcess::start(QString *error)
{
    startOnly();
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 30'000) {
        QFile file(m_portFile);
        if (file.open(QIODevice::ReadOnly)) {
            const QStringList parts = QString::fromUtf8(file.readAll()).split(u' ', Qt::SkipEmptyParts);
            m_port = quint16(parts.value(1).trimmed().toUInt());
            if (m_port != 0) {
                return true;
            }
        }
        if (m_process->state() == QProcess::NotRunning) {
            break;
        }
        m_process->waitForFinished(20);
    }
    *error = u"o servidor não anunciou a porta: "_s + output();
    kill();
    return false;
}

qint64 ServerProcess::pid() const
{
    return m_process ? m_process->processId() : 0;
}

void ServerProcess::kill()
{
    if (!m_process) {
        return;
    }
    if (m_process->state() != QProcess::NotRunning && pid() > 0) {
        ::kill(pid_t(pid()), SIGKILL);
    }
    m_process->waitForFinished(10'000);
}

void ServerProcess::stop()
{
    if (!m_process) {
        return;
    }
    m_process->terminate();
    if (!m_process->waitForFinished(30'000)) {
        kill();
    }
}

qint64 ServerProcess::residentKiB() const
{
    return procStatusKiB(QString::number(pid()), "VmRSS");
}

QString ServerProcess::output() const
{
    QFile log(logFile());
    if (!log.open(QIODevice::ReadOnly) || !log.seek(m_outputRead)) {
        return {};
    }
    const QByteArray bytes = log.readAll();
    m_outputRead += bytes.size();
    return QString::fromUtf8(bytes).trimmed();
}

// ---------------------------------------------------------------------------

QString TreeModel::canonical() const
{
    if (process.isEmpty()) {
        return tasks.isEmpty() ? u"(nada)"_s : u"(tarefas sem processo)"_s;
    }
    QStringList parts{process};
    for (auto it = tasks.begin(); it != tasks.end(); ++it) {
        QStringList responsibles = it->responsibles;
        responsibles.sort();
        parts << u"%1[%2|%3|%4]"_s.arg(it.key(), it->note, it->periodicity, responsibles.join(u','));
    }
    return parts.join(u"; "_s);
}

TreeModel readTree(QSqlDatabase &db, const QString &prefix, int *duplicates)
{
    TreeModel tree;
    QSqlQuery processes = Sql::exec(
        db, u"SELECT NRPROCESSOFILIAL, NMPROCESSOFILIAL FROM PROCESSOFILIAL WHERE NMPROCESSOFILIAL LIKE ? ORDER BY 1"_s,
        {prefix + u'%'});
    qint64 process = 0;
    int found = 0;
    while (processes.next()) {
        if (++found == 1) {
            process = processes.value(0).toLongLong();
            tree.process = processes.value(1).toString();
        }
    }
    *duplicates += qMax(0, found - 1);
    // Tasks are found by their names' prefix, so a task left without its
    // process would show too.
    QSqlQuery tasks =
        Sql::exec(db,
                  u"SELECT NRATIVIDADEFILIAL, NMATIVIDADEFILIAL, DSATIVIDADEFILIAL, CDPERIENTR, NRPROCESSOFILIAL "
                  "FROM ATIVIDADEFILIAL WHERE NMATIVIDADEFILIAL LIKE ?"_s,
                  {prefix + u'%'});
    QHash<qint64, QString> names;
    while (tasks.next()) {
        QString name = tasks.value(1).toString();
        if (tasks.value(4).toLongLong() != process) {
            name = u"(alheia) "_s + name;
        }
        if (tree.tasks.contains(name)) {
            ++*duplicates;
        }
        tree.tasks[name] = {tasks.value(2).toString(), tasks.value(3).toString(), {}};
        names.insert(tasks.value(0).toLongLong(), name);
    }
    for (auto it = names.begin(); it != names.end(); ++it) {
        QSqlQuery rows = Sql::exec(
            db, u"SELECT CDOPERADOR, CDGRUPOPER, IDEXECUTA, IDVALIDA FROM RESPATIVFILIAL WHERE NRATIVIDADEFILIAL = ?"_s,
            {it.key()});
        while (rows.next()) {
            const QString code = rows.value(0).isNull() ? rows.value(1).toString() : rows.value(0).toString();
            tree.tasks[it.value()].responsibles
                << responsibleText(code, rows.value(2).toString(), rows.value(3).toString());
        }
    }
    return tree;
}

// ---------------------------------------------------------------------------

void merge(Stats &into, const Stats &from)
{
    for (auto it = from.begin(); it != from.end(); ++it) {
        MethodStats &target = into[it.key()];
        target.calls += it->calls;
        target.errors += it->errors;
        target.micros += it->micros;
    }
}

qint32 percentile(QList<qint32> values, double p)
{
    if (values.isEmpty()) {
        return 0;
    }
    const qsizetype index = qMin(values.size() - 1, qsizetype(p * double(values.size())));
    std::nth_element(values.begin(), values.begin() + index, values.end());
    return values.at(index);
}

bool Client::open(quint16 port, const QString &code, int timeoutMs, QString *error)
{
    m_operator = code;
    m_timeoutMs = timeoutMs;
    return m_rpc.open(u"127.0.0.1"_s, port, RdmProcessoUnidade::serverName, code, u"senha"_s, timeoutMs, error);
}

RpcReply Client::call(const QString &method, const QCborArray &args)
{
    QElapsedTimer timer;
    timer.start();
    RpcReply reply = m_rpc.call(method, args, m_timeoutMs);
    m_sink->add(method, reply.ok, qint32(qMin<qint64>(timer.nsecsElapsed() / 1000, INT32_MAX)));
    return reply;
}

void StatsSink::add(const QString &method, bool ok, qint32 micros)
{
    QMutexLocker lock(&m_mutex);
    MethodStats &stats = m_stats[method];
    ++stats.calls;
    if (!ok) {
        ++stats.errors;
    }
    stats.micros << micros;
}

Client::Outcome Client::outcome(const RpcReply &reply) const
{
    if (reply.ok) {
        return Outcome::Ok;
    }
    return isOpen() ? Outcome::Refused : Outcome::Lost;
}

Stats StatsSink::take()
{
    QMutexLocker lock(&m_mutex);
    return std::exchange(m_stats, {});
}

// ---------------------------------------------------------------------------

Scenario::Scenario(QString prefix, bool deleteAtEnd)
    : m_prefix(std::move(prefix))
    , m_deleteAtEnd(deleteAtEnd)
{ }

Client::Outcome Scenario::fail(Client::Outcome outcome)
{
    m_finished = true;
    return outcome;
}

Client::Outcome Scenario::save(Client &client, const QString &method, const DeltaPacket &delta, const TreeModel &after,
                               double *key)
{
    ++m_deltas;
    const RpcReply reply = client.call(method, {QCborValue(delta.encode())});
    const Client::Outcome outcome = client.outcome(reply);
    if (outcome == Client::Outcome::Ok) {
        m_model = after;
        if (key) {
            *key = reply.value.toDouble();
        }
        return outcome;
    }
    if (outcome == Client::Outcome::Lost) {
        // Cut with the server: stored whole or not at all, nobody knows which.
        m_uncertain = true;
        m_pending = after;
    } else {
        m_refusal = u"%1: %2"_s.arg(method, reply.error);
    }
    return fail(outcome);
}

Client::Outcome Scenario::readFailed(Client &client)
{
    // A read cut after an acknowledged save: the model is known, the
    // scenario just cannot go on.
    return fail(client.isOpen() ? Client::Outcome::Refused : Client::Outcome::Lost);
}

Client::Outcome Scenario::saveTasks(Client &client, const DeltaPacket &delta, const TreeModel &after)
{
    const Client::Outcome outcome = save(client, u"SetTarefas"_s, delta, after);
    if (outcome == Client::Outcome::Ok && !reloadTasks(client)) {
        return readFailed(client);
    }
    return outcome;
}

bool Scenario::readProcess(Client &client, Row *row) const
{
    const RpcReply reply = client.call(u"GetProcessos"_s, {});
    if (!reply.ok) {
        return false;
    }
    for (const Row &each : DataPacket::decode(reply.value.toByteArray()).rows) {
        if (at(Fields::processos(), each, u"NRPROCESSOFILIAL"_s).toLongLong() == m_process) {
            *row = each;
        }
    }
    return true;
}

bool Scenario::reloadTasks(Client &client)
{
    const RpcReply reply = client.call(u"GetTarefas"_s, {double(m_process)});
    if (!reply.ok) {
        return false;
    }
    const DataPacket packet = DataPacket::decode(reply.value.toByteArray());
    m_tasks = packet.rows;
    m_taskKeys.clear();
    for (const Row &row : std::as_const(m_tasks)) {
        m_taskKeys.insert(at(Fields::tarefas(), row, u"NMATIVIDADEFILIAL"_s).toString(),
                          at(Fields::tarefas(), row, u"NRATIVIDADEFILIAL"_s).toLongLong());
    }
    return true;
}

bool Scenario::reloadResponsibles(Client &client, qint64 task, QList<Row> *rows)
{
    const RpcReply reply = client.call(u"GetOperadores"_s, {double(task)});
    if (!reply.ok) {
        return false;
    }
    *rows = DataPacket::decode(reply.value.toByteArray()).rows;
    return true;
}

Client::Outcome Scenario::step(Client &client)
{
    const QList<FieldDef> processFields = Fields::processos();
    const QList<FieldDef> taskFields = Fields::tarefas();
    const QList<FieldDef> responsibleFields = Fields::operadores();
    const QString t1 = m_prefix + u"T1"_s, t2 = m_prefix + u"T2"_s, t3 = m_prefix + u"T3"_s, t4 = m_prefix + u"T4"_s;
    const QString t1Edited = t1 + u" editada"_s;
    const int current = m_step++;
    switch (current) {
    case 0: { // a new process
        TreeModel after = m_model;
        after.process = m_prefix + u"Processo"_s;
        DeltaPacket delta{processFields,
                          {inserted(makeRow(processFields, {{u"NRPROCESSOFILIAL"_s, -1.0},
                                                            {u"NMPROCESSOFILIAL"_s, after.process},
                                                            {u"DTINIVIGENCIA"_s, ServerClock::todayDays()},
                                                            {u"IDSITUACAO"_s, u"S"_s}}))}};
        double key = 0;
        const Client::Outcome outcome = save(client, u"SetProcessos"_s, delta, after, &key);
        m_process = qint64(key);
        return outcome;
    }
    case 1: { // three tasks in one delta
        TreeModel after = m_model;
        DeltaPacket delta{taskFields, {}};
        const QList<std::pair<QString, QString>> tasks{{t1, u"DI"_s}, {t2, u"SG"_s}, {t3, QString()}};
        int temporary = -1;
        for (const auto &[name, periodicity] : tasks) {
            delta.entries << inserted(
                makeRow(taskFields, {{u"NRATIVIDADEFILIAL"_s, double(temporary--)},
                                     {u"NRPROCESSOFILIAL"_s, double(m_process)},
                                     {u"NMATIVIDADEFILIAL"_s, name},
                                     {u"CDPERIENTR"_s, periodicity.isEmpty() ? QVariant() : periodicity},
                                     {u"DSATIVIDADEFILIAL"_s, m_prefix}}));
            after.tasks[name] = {m_prefix, periodicity, {}};
        }
        return saveTasks(client, delta, after);
    }
    case 2: { // responsibles of two tasks in one delta
        TreeModel after = m_model;
        DeltaPacket delta{responsibleFields, {}};
        const struct
        {
            QString task;
            QString op;
            QString group;
            QString exec;
            QString valid;
        } rows[] = {
            {t1, client.operatorCode(), {}, u"S"_s, u"N"_s},
            {t1, {}, u"CX"_s, u"N"_s, u"S"_s},
            {t2, client.operatorCode(), {}, u"S"_s, u"S"_s},
        };
        int temporary = -1;
        for (const auto &r : rows) {
            delta.entries << inserted(
                makeRow(responsibleFields, {{u"NRRESPATIVFILIAL"_s, double(temporary--)},
                                            {u"NRATIVIDADEFILIAL"_s, double(m_taskKeys.value(r.task))},
                                            {u"CDOPERADOR"_s, r.op.isEmpty() ? QVariant() : r.op},
                                            {u"CDGRUPOPER"_s, r.group.isEmpty() ? QVariant() : r.group},
                                            {u"IDEXECUTA"_s, r.exec},
                                            {u"IDVALIDA"_s, r.valid},
                                            {u"NRPROCESSOFILIAL"_s, double(m_process)}}));
            after.tasks[r.task].responsibles << responsibleText(r.op.isEmpty() ? r.group : r.op, r.exec, r.valid);
        }
        const Client::Outcome outcome = save(client, u"SetOperadores"_s, delta, after);
        if (outcome == Client::Outcome::Ok && !reloadResponsibles(client, m_taskKeys.value(t1), &m_firstResponsibles)) {
            return readFailed(client);
        }
        return outcome;
    }
    case 3: { // an edit, a delete and an insert of tasks in one delta
        TreeModel after = m_model;
        DeltaPacket delta{taskFields, {}};
        for (const Row &row : std::as_const(m_tasks)) {
            const QString name = at(taskFields, row, u"NMATIVIDADEFILIAL"_s).toString();
            if (name == t1) {
                Row changed = row;
                changed[column(taskFields, u"NMATIVIDADEFILIAL"_s)] = t1Edited;
                changed[column(taskFields, u"DSATIVIDADEFILIAL"_s)] = m_prefix + u"editada"_s;
                delta.entries << modified(row, changed);
                after.tasks[t1Edited] = after.tasks.take(t1);
                after.tasks[t1Edited].note = m_prefix + u"editada"_s;
            } else if (name == t3) {
                delta.entries << deleted(row);
                after.tasks.remove(t3);
            }
        }
        delta.entries << inserted(makeRow(taskFields, {{u"NRATIVIDADEFILIAL"_s, -1.0},
                                                       {u"NRPROCESSOFILIAL"_s, double(m_process)},
                                                       {u"NMATIVIDADEFILIAL"_s, t4},
                                                       {u"CDPERIENTR"_s, u"DI"_s},
                                                       {u"DSATIVIDADEFILIAL"_s, m_prefix}}));
        after.tasks[t4] = {m_prefix, u"DI"_s, {}};
        return saveTasks(client, delta, after);
    }
    case 4: { // an edit and a delete of responsibles
        TreeModel after = m_model;
        DeltaPacket delta{responsibleFields, {}};
        QStringList &list = after.tasks[t1Edited].responsibles;
        for (const Row &row : std::as_const(m_firstResponsibles)) {
            const QString op = at(responsibleFields, row, u"CDOPERADOR"_s).toString();
            if (!op.isEmpty()) {
                Row changed = row;
                changed[column(responsibleFields, u"IDEXECUTA"_s)] = u"N"_s;
                delta.entries << modified(row, changed);
                list.removeAll(responsibleText(op, u"S"_s, u"N"_s));
                list << responsibleText(op, u"N"_s, u"N"_s);
            } else {
                delta.entries << deleted(row);
                list.removeAll(responsibleText(u"CX"_s, u"N"_s, u"S"_s));
            }
        }
        return save(client, u"SetOperadores"_s, delta, after);
    }
    case 5: { // today's occurrences made to agree with the tasks again
        const RpcReply reply =
            client.call(u"RedefinirAtividadesDia"_s, {QString::number(m_process), client.operatorCode()});
        const Client::Outcome outcome = client.outcome(reply);
        if (outcome != Client::Outcome::Ok) {
            m_refusal = outcome == Client::Outcome::Refused ? u"RedefinirAtividadesDia: "_s + reply.error : QString();
            return fail(outcome);
        }
        return outcome;
    }
    case 6: { // the process renamed, against the row as the server gave it
        Row original;
        if (!readProcess(client, &original)) {
            return readFailed(client);
        }
        if (original.isEmpty()) {
            m_refusal = u"GetProcessos: o processo %1 sumiu"_s.arg(m_process);
            return fail(Client::Outcome::Refused);
        }
        TreeModel after = m_model;
        after.process = m_prefix + u"Processo editado"_s;
        Row changed = original;
        changed[column(processFields, u"NMPROCESSOFILIAL"_s)] = after.process;
        return save(client, u"SetProcessos"_s, {processFields, {modified(original, changed)}}, after);
    }
    case 7: { // the whole tree deleted with its process
        if (!m_deleteAtEnd) {
            m_finished = true;
            return Client::Outcome::Ok;
        }
        Row original;
        if (!readProcess(client, &original)) {
            return readFailed(client);
        }
        const Client::Outcome outcome =
            save(client, u"SetProcessos"_s, {processFields, {deleted(original)}}, TreeModel{});
        m_finished = true;
        return outcome;
    }
    default:
        m_finished = true;
        return Client::Outcome::Ok;
    }
}

Client::Outcome randomRead(Client &client, std::mt19937 &random, qint64 process, qint64 task)
{
    static const QStringList methods{u"GetProcessos"_s,  u"GetTarefas"_s,      u"GetOperadores"_s,
                                     u"GetAtividades"_s, u"GetVerifTarefas"_s, u"GetDataServidor"_s};
    const QString method = methods.at(int(random() % methods.size()));
    if (process == 0) {
        process = qint64(1 + random() % 50);
    }
    QCborArray args;
    if (method == u"GetTarefas"_s) {
        args << double(process);
    } else if (method == u"GetOperadores"_s) {
        args << double(task != 0 ? task : qint64(1 + random() % 50));
    } else if (method == u"GetAtividades"_s) {
        args << QString::number(process);
    } else if (method == u"GetVerifTarefas"_s) {
        // A task of another process is refused; one that does not exist reads as none.
        args << QString::number(process) << QString::number(task != 0 ? task : -1);
    }
    return client.outcome(client.call(method, args));
}

// ---------------------------------------------------------------------------

ActivityCheck checkActivities(QSqlDatabase &db)
{
    ActivityCheck check;
    const QDate today = ServerClock::today();
    const double day = double(DateTime::dayNumber(today));
    check.strayOccurrences =
        Sql::scalar(
            db,
            u"SELECT COUNT(*) FROM ATIVIDADEDIA a LEFT JOIN ATIVIDADEFILIAL t ON t.NRATIVIDADEFILIAL = a.NRATIVIDADEFILIAL "
            "WHERE t.NRATIVIDADEFILIAL IS NULL OR t.NRPROCESSOFILIAL <> a.NRPROCESSOFILIAL"_s)
            .toInt();
    // Every process's situation against its tasks due today and today's
    // pending occurrences, computed here on its own.
    QHash<qint64, QString> situation;
    QSqlQuery processes = Sql::exec(db, u"SELECT NRPROCESSOFILIAL, IDSITUACAO FROM PROCESSOFILIAL"_s);
    while (processes.next()) {
        situation.insert(processes.value(0).toLongLong(), processes.value(1).toString());
    }
    QHash<qint64, QSet<qint64>> due;
    QSqlQuery tasks = Sql::exec(
        db,
        u"SELECT t.NRPROCESSOFILIAL, t.NRATIVIDADEFILIAL, pe.IDTIPODIA, pe.IDDIASSEMANA, pe.NRDIAMES FROM ATIVIDADEFILIAL t "
        "JOIN PROCESSOFILIAL p ON p.NRPROCESSOFILIAL = t.NRPROCESSOFILIAL JOIN PERIENTR pe ON pe.CDPERIENTR = t.CDPERIENTR "
        "WHERE p.DTINIVIGENCIA < ? AND (p.DTFINVIGENCIA IS NULL OR p.DTFINVIGENCIA >= ?)"_s,
        {day + 1, day});
    while (tasks.next()) {
        if (Activities::fallsOn(tasks.value(2).toString(), tasks.value(3).toString(), tasks.value(4).toInt(), today)) {
            due[tasks.value(0).toLongLong()].insert(tasks.value(1).toLongLong());
        }
    }
    QHash<qint64, QSet<qint64>> present;
    QSet<qint64> stray;
    QSqlQuery occurrences = Sql::exec(db,
                                      u"SELECT NRPROCESSOFILIAL, NRATIVIDADEFILIAL, CASE WHEN "_s
                                          + Activities::notExecutedCondition(QString())
                                          + u" THEN 0 ELSE 1 END FROM ATIVIDADEDIA WHERE DTATIVIDADE = ?"_s,
                                      {DateTime::dayNumber(today)});
    while (occurrences.next()) {
        const qint64 process = occurrences.value(0).toLongLong();
        const qint64 task = occurrences.value(1).toLongLong();
        present[process].insert(task);
        if (occurrences.value(2).toInt() == 0 && !due.value(process).contains(task)) {
            stray.insert(process);
        }
    }
    for (auto it = situation.begin(); it != situation.end(); ++it) {
        ++check.processes;
        bool agree = !stray.contains(it.key());
        for (qint64 task : due.value(it.key())) {
            agree = agree && present.value(it.key()).contains(task);
        }
        if ((agree ? u"S"_s : u"N"_s) != it.value()) {
            ++check.disagreeing;
        }
    }
    return check;
}

int duplicatedKeys(QSqlDatabase &db)
{
    int duplicated = 0;
    const QList<std::pair<QString, QString>> keys{{u"PROCESSOFILIAL"_s, u"NRPROCESSOFILIAL"_s},
                                                  {u"ATIVIDADEFILIAL"_s, u"NRATIVIDADEFILIAL"_s},
                                                  {u"RESPATIVFILIAL"_s, u"NRRESPATIVFILIAL"_s},
                                                  {u"ATIVIDADEDIA"_s, u"NRATIVIDADEDIA"_s}};
    for (const auto &[table, key] : keys) {
        duplicated +=
            Sql::scalar(db,
                        u"SELECT COUNT(*) FROM (SELECT %2 FROM %1 GROUP BY %2 HAVING COUNT(*) > 1) d"_s.arg(table, key))
                .toInt();
    }
    // One responsibility per task and operator or group, one occurrence per task and day.
    duplicated += Sql::scalar(db, u"SELECT COUNT(*) FROM (SELECT 1 FROM RESPATIVFILIAL WHERE CDOPERADOR IS NOT NULL "
                                  "GROUP BY NRATIVIDADEFILIAL, CDOPERADOR HAVING COUNT(*) > 1) d"_s)
                      .toInt();
    duplicated += Sql::scalar(db, u"SELECT COUNT(*) FROM (SELECT 1 FROM ATIVIDADEDIA "
                                  "GROUP BY NRATIVIDADEFILIAL, DTATIVIDADE HAVING COUNT(*) > 1) d"_s)
                      .toInt();
    return duplicated;
}

} // namespace Workload
