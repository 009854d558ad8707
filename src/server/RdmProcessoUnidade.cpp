#include "RdmProcessoUnidade.h"

#include <QSqlError>
#include <QSqlQuery>

#include <cmath>
#include <cstdio>

#include "Activities.h"
#include "Exceptions.h"
#include "Fields.h"
#include "Packet.h"
#include "PasswordHash.h"
#include "Saves.h"
#include "ServerClock.h"
#include "Sql.h"

using namespace Qt::StringLiterals;

const QString RdmProcessoUnidade::serverName = u"PRU87000.rdmProcessoUnidade"_s;

namespace {

using Handler = QCborValue (RdmProcessoUnidade::*)(const QCborArray &);

const QHash<QString, Handler> &handlers()
{
    static const QHash<QString, Handler> table = {
        {u"GetProcessos"_s, &RdmProcessoUnidade::GetProcessos},
        {u"GetTarefas"_s, &RdmProcessoUnidade::GetTarefas},
        {u"GetOperadores"_s, &RdmProcessoUnidade::GetOperadores},
        {u"SetProcessos"_s, &RdmProcessoUnidade::SetProcessos},
        {u"SetTarefas"_s, &RdmProcessoUnidade::SetTarefas},
        {u"SetOperadores"_s, &RdmProcessoUnidade::SetOperadores},
        {u"GetAtividades"_s, &RdmProcessoUnidade::GetAtividades},
        {u"SetAtividades"_s, &RdmProcessoUnidade::SetAtividades},
        {u"GetVerifTarefas"_s, &RdmProcessoUnidade::GetVerifTarefas},
        {u"RedefinirAtividadesDia"_s, &RdmProcessoUnidade::RedefinirAtividadesDia},
        {u"GetDataServidor"_s, &RdmProcessoUnidade::GetDataServidor},
    };
    return table;
}

void logLine(const QString &text)
{
    const QString line = u"pru_server: %1\n"_s.arg(text);
    std::fputs(line.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

// ----- arguments, as they travel --------------------------------------------

void expectCount(const QString &method, const QCborArray &args, int count)
{
    if (args.size() != count) {
        throw EDatabaseError(u"%1 espera %2 argumento(s) e recebeu %3."_s.arg(method).arg(count).arg(args.size()));
    }
}

// A key passed as a number (a double; an integer is taken as well).
qint64 numberArg(const QString &method, const QCborArray &args, int index, const QString &what)
{
    const QCborValue value = args.at(index);
    double d = 0;
    if (value.isDouble()) {
        d = value.toDouble();
    } else if (value.isInteger()) {
        d = double(value.toInteger());
    } else {
        throw EDatabaseError(u"%1: o argumento %2 (%3) deve ser um número."_s.arg(method).arg(index + 1).arg(what));
    }
    if (!std::isfinite(d) || std::floor(d) != d || std::fabs(d) > 9.0e15) {
        throw EDatabaseError(u"%1: o argumento %2 (%3) deve ser um número inteiro."_s.arg(method).arg(index + 1).arg(what));
    }
    return qint64(d);
}

QString textArg(const QString &method, const QCborArray &args, int index, const QString &what)
{
    const QCborValue value = args.at(index);
    if (!value.isString()) {
        throw EDatabaseError(u"%1: o argumento %2 (%3) deve ser um texto."_s.arg(method).arg(index + 1).arg(what));
    }
    return value.toString();
}

// A key written as text: plain decimal digits, a minus sign in front of a
// negative one.
qint64 keyTextArg(const QString &method, const QCborArray &args, int index, const QString &what)
{
    const QString text = textArg(method, args, index, what).trimmed();
    const qsizetype digitsFrom = text.startsWith(u'-') ? 1 : 0;
    bool digits = text.size() > digitsFrom && text.size() <= 16 + digitsFrom;
    for (qsizetype i = digitsFrom; digits && i < text.size(); ++i) {
        digits = text.at(i) >= u'0' && text.at(i) <= u'9';
    }
    if (!digits) {
        throw EDatabaseError(u"%1: o argumento %2 (%3) deve ser um número inteiro escrito em texto; recebido \"%4\"."_s
                                 .arg(method).arg(index + 1).arg(what, text.left(40)));
    }
    return text.toLongLong();
}

DeltaPacket deltaArg(const QString &method, const QCborArray &args, int index)
{
    const QCborValue value = args.at(index);
    if (!value.isByteArray()) {
        throw EDatabaseError(u"%1: o argumento %2 deve ser um pacote de alterações."_s.arg(method).arg(index + 1));
    }
    try {
        return DeltaPacket::decode(value.toByteArray());
    } catch (const EDatabaseError &e) {
        throw EDatabaseError(u"%1: pacote de alterações inválido: %2"_s.arg(method, e.message()));
    }
}

// ----- replies ---------------------------------------------------------------

Row rowAt(const QSqlQuery &query, const QList<FieldDef> &fields, int firstColumn)
{
    Row row;
    row.reserve(fields.size());
    for (qsizetype i = 0; i < fields.size(); ++i) {
        const QVariant v = query.value(int(i) + firstColumn);
        if (v.isNull()) {
            row.append(QVariant());
        } else if (fields.at(i).type == FieldType::Text) {
            // Stored texts always fit; a longer one (SQLite does not
            // enforce sizes) must not break the whole reply.
            row.append(v.toString().left(fields.at(i).size));
        } else {
            row.append(v.toDouble());
        }
    }
    return row;
}

DataPacket packetFrom(QSqlQuery &query, const QList<FieldDef> &fields)
{
    DataPacket packet;
    packet.fields = fields;
    while (query.next()) {
        packet.rows.append(rowAt(query, fields, 0));
    }
    query.finish();
    return packet;
}

// Rows headed by the unit of their owner (see Fields): another unit's owner
// is refused, the row of nulls of an owner without children is skipped.
DataPacket ownedPacket(QSqlQuery &query, const QList<FieldDef> &fields, const QString &unit)
{
    DataPacket packet;
    packet.fields = fields;
    while (query.next()) {
        if (query.value(0).toString() != unit) {
            query.finish();
            throw EDatabaseError(Saves::otherUnitText());
        }
        if (query.value(1).isNull()) {
            continue;
        }
        packet.rows.append(rowAt(query, fields, 1));
    }
    query.finish();
    return packet;
}

QCborValue reply(const DataPacket &packet)
{
    return QCborValue(packet.encode());
}

} // namespace

RdmProcessoUnidade::RdmProcessoUnidade(std::shared_ptr<ServerState> state)
    : m_state(std::move(state))
{
}

RdmProcessoUnidade::~RdmProcessoUnidade()
{
    m_statements.clear();
    if (!m_connectionName.isEmpty()) {
        m_db = QSqlDatabase();
        Database::remove(m_connectionName);
    }
}

SessionHandlerFactory RdmProcessoUnidade::factory(std::shared_ptr<ServerState> state)
{
    return [state]() -> std::unique_ptr<SessionHandler> { return std::make_unique<RdmProcessoUnidade>(state); };
}

QStringList RdmProcessoUnidade::methodNames()
{
    QStringList names = handlers().keys();
    names.sort();
    return names;
}

QSqlDatabase &RdmProcessoUnidade::db()
{
    // Opened in the connection's own thread, on first use.
    if (m_connectionName.isEmpty()) {
        const QString name = Database::uniqueConnectionName(u"session"_s);
        m_db = Database::open(m_state->config, name);
        m_connectionName = name;
    }
    return m_db;
}

QSqlQuery &RdmProcessoUnidade::statement(const QString &text, const QVariantList &values)
{
    auto it = m_statements.find(text);
    if (it == m_statements.end()) {
        QSqlQuery query(db());
        query.setForwardOnly(true);
        if (!query.prepare(text)) {
            throw EServerFailure(u"Erro no banco de dados: %1"_s.arg(query.lastError().text()));
        }
        it = m_statements.insert(text, query);
    }
    Sql::rerun(*it, text, values);
    return *it;
}

SessionHandler::LoginResult RdmProcessoUnidade::login(const QString &requestedServer, const QString &operatorCode,
                                                      const QString &password)
{
    m_loggedIn = false;
    LoginResult result;
    if (requestedServer != serverName) {
        result.error = u"Módulo remoto desconhecido: \"%1\". Este servidor atende %2."_s.arg(requestedServer.left(80), serverName);
        return result;
    }
    const QString refused = u"Operador ou senha inválidos."_s;
    try {
        QSqlQuery query = Sql::exec(db(),
            u"SELECT o.NMOPERADOR, o.CDUNIDADE, u.NMUNIDADE, s.DSSALT, s.DSHASH, s.NRITERACOES FROM OPERADOR o "
            "LEFT JOIN UNIDADE u ON u.CDUNIDADE = o.CDUNIDADE "
            "LEFT JOIN OPERADORSENHA s ON s.CDOPERADOR = o.CDOPERADOR WHERE o.CDOPERADOR = ?"_s,
            {operatorCode});
        PasswordHash::Stored stored;
        QString name;
        QString unit;
        QString unitName;
        const bool found = query.next() && !query.value(4).isNull();
        if (found) {
            name = query.value(0).toString();
            unit = query.value(1).toString();
            unitName = query.value(2).toString();
            stored.salt = QByteArray::fromBase64(query.value(3).toString().toLatin1());
            stored.hash = QByteArray::fromBase64(query.value(4).toString().toLatin1());
            stored.iterations = query.value(5).toInt();
        }
        query.finish();
        if (!found) {
            // Same work as a real check, so the answer's delay does not tell
            // which operator codes exist.
            stored.salt = QByteArray(PasswordHash::saltBytes, '\0');
            stored.hash = QByteArray(PasswordHash::hashBytes, '\0');
            PasswordHash::verify(password, stored);
            result.error = refused;
            return result;
        }
        if (!PasswordHash::verify(password, stored)) {
            result.error = refused;
            return result;
        }
        if (unit.isEmpty()) {
            result.error = u"O operador %1 não está ligado a nenhuma unidade."_s.arg(operatorCode);
            return result;
        }
        m_operator = operatorCode;
        m_unit = unit;
        m_loggedIn = true;
        result.ok = true;
        result.unitName = unitName;
        result.operatorName = name;
        return result;
    } catch (const EDatabaseError &e) {
        logLine(u"falha no login de %1: %2"_s.arg(operatorCode.left(12), e.message()));
        result.error = u"O servidor não conseguiu acessar o banco de dados: %1"_s.arg(e.message());
        return result;
    }
}

QCborValue RdmProcessoUnidade::call(const QString &method, const QCborArray &args)
{
    if (!m_loggedIn) {
        throw EDatabaseError(u"Nenhum operador conectado: faça o login antes de chamar %1."_s.arg(method.left(80)));
    }
    const Handler handler = handlers().value(method, nullptr);
    if (!handler) {
        throw EDatabaseError(u"Método desconhecido: \"%1\"."_s.arg(method.left(80)));
    }
    // No statement may stay open between calls: on SQLite an open one would
    // pin this connection to an old snapshot of the database.
    struct FinishStatements
    {
        QHash<QString, QSqlQuery> &statements;
        ~FinishStatements()
        {
            for (QSqlQuery &query : statements) {
                query.finish();
            }
        }
    } finishStatements{m_statements};
    try {
        // The first call of a day generates that day's occurrences.
        Activities::ensureToday(db(), m_state->lastGeneratedDay);
        return (this->*handler)(args);
    } catch (const EServerFailure &e) {
        logLine(u"falha em %1 (operador %2): %3"_s.arg(method, m_operator, e.message()));
        throw;
    }
}

QString RdmProcessoUnidade::checkProcessUnit(qint64 process)
{
    QSqlQuery &query = statement(u"SELECT CDUNIDADE FROM PROCESSOFILIAL WHERE NRPROCESSOFILIAL = ?"_s, {process});
    const QVariant unit = query.next() ? query.value(0) : QVariant();
    query.finish();
    if (!unit.isValid()) {
        return {};
    }
    if (unit.toString() != m_unit) {
        throw EDatabaseError(Saves::otherUnitText());
    }
    return unit.toString();
}

QCborValue RdmProcessoUnidade::GetProcessos(const QCborArray &args)
{
    expectCount(u"GetProcessos"_s, args, 0);
    return reply(packetFrom(statement(Fields::selectProcessos, {m_unit}), Fields::processos()));
}

QCborValue RdmProcessoUnidade::GetTarefas(const QCborArray &args)
{
    expectCount(u"GetTarefas"_s, args, 1);
    const qint64 process = numberArg(u"GetTarefas"_s, args, 0, u"número do processo"_s);
    // An unknown process number gives an empty list, like a process without tasks.
    return reply(ownedPacket(statement(Fields::selectTarefas, {process}), Fields::tarefas(), m_unit));
}

QCborValue RdmProcessoUnidade::GetOperadores(const QCborArray &args)
{
    expectCount(u"GetOperadores"_s, args, 1);
    const qint64 task = numberArg(u"GetOperadores"_s, args, 0, u"número da tarefa"_s);
    return reply(ownedPacket(statement(Fields::selectOperadores, {task}), Fields::operadores(), m_unit));
}

QCborValue RdmProcessoUnidade::SetProcessos(const QCborArray &args)
{
    expectCount(u"SetProcessos"_s, args, 1);
    const DeltaPacket delta = deltaArg(u"SetProcessos"_s, args, 0);
    return QCborValue(double(Saves::setProcessos(db(), {m_unit, m_operator}, delta)));
}

QCborValue RdmProcessoUnidade::SetTarefas(const QCborArray &args)
{
    expectCount(u"SetTarefas"_s, args, 1);
    const DeltaPacket delta = deltaArg(u"SetTarefas"_s, args, 0);
    Saves::setTarefas(db(), {m_unit, m_operator}, delta);
    return QCborValue(0.0);
}

QCborValue RdmProcessoUnidade::SetOperadores(const QCborArray &args)
{
    expectCount(u"SetOperadores"_s, args, 1);
    const DeltaPacket delta = deltaArg(u"SetOperadores"_s, args, 0);
    Saves::setOperadores(db(), {m_unit, m_operator}, delta);
    return QCborValue(0.0);
}

QCborValue RdmProcessoUnidade::GetAtividades(const QCborArray &args)
{
    expectCount(u"GetAtividades"_s, args, 1);
    const qint64 process = keyTextArg(u"GetAtividades"_s, args, 0, u"número do processo"_s);
    DataPacket packet;
    packet.fields = Fields::atividades();
    if (checkProcessUnit(process).isEmpty()) {
        return reply(packet);
    }
    return reply(packetFrom(statement(Fields::selectAtividadesProcesso, {process}), packet.fields));
}

QCborValue RdmProcessoUnidade::SetAtividades(const QCborArray &args)
{
    expectCount(u"SetAtividades"_s, args, 1);
    const qint64 process = keyTextArg(u"SetAtividades"_s, args, 0, u"número do processo"_s);
    TransactionGuard guard(db());
    if (checkProcessUnit(process).isEmpty()) {
        return QCborValue(0.0);
    }
    // Executed occurrences are history: they are never deleted.
    QSqlQuery query = Sql::exec(db(), u"DELETE FROM ATIVIDADEDIA WHERE NRPROCESSOFILIAL = ? AND "_s
                                          + Activities::notExecutedCondition(QString()),
                                {process});
    const int deleted = qMax(0, query.numRowsAffected());
    query.finish();
    Activities::refreshSituation(db(), process, ServerClock::today());
    guard.commit();
    return QCborValue(double(deleted));
}

QCborValue RdmProcessoUnidade::GetVerifTarefas(const QCborArray &args)
{
    expectCount(u"GetVerifTarefas"_s, args, 2);
    const qint64 process = keyTextArg(u"GetVerifTarefas"_s, args, 0, u"número do processo"_s);
    const qint64 task = keyTextArg(u"GetVerifTarefas"_s, args, 1, u"número da tarefa"_s);
    DataPacket packet;
    packet.fields = Fields::atividades();
    if (checkProcessUnit(process).isEmpty()) {
        return reply(packet);
    }
    const QVariant owner = Sql::scalar(db(), u"SELECT NRPROCESSOFILIAL FROM ATIVIDADEFILIAL WHERE NRATIVIDADEFILIAL = ?"_s, {task});
    if (!owner.isValid()) {
        return reply(packet);
    }
    if (owner.toLongLong() != process) {
        throw EDatabaseError(u"A tarefa %1 não pertence ao processo %2."_s.arg(task).arg(process));
    }
    return reply(packetFrom(statement(Fields::selectAtividadesTarefa, {task}), packet.fields));
}

QCborValue RdmProcessoUnidade::RedefinirAtividadesDia(const QCborArray &args)
{
    expectCount(u"RedefinirAtividadesDia"_s, args, 2);
    const qint64 process = keyTextArg(u"RedefinirAtividadesDia"_s, args, 0, u"número do processo"_s);
    const QString operatorCode = textArg(u"RedefinirAtividadesDia"_s, args, 1, u"código do operador"_s);
    if (operatorCode != m_operator) {
        throw EDatabaseError(u"O operador informado (%1) não é o operador conectado (%2)."_s.arg(operatorCode.left(12), m_operator));
    }
    const QDate today = ServerClock::today();
    TransactionGuard guard(db());
    if (checkProcessUnit(process).isEmpty()) {
        throw EDatabaseError(u"O processo %1 não existe; atualize a tela."_s.arg(process));
    }
    const int created = Activities::regenerateProcessDay(db(), process, today);
    Sql::exec(db(), u"INSERT INTO REDEFATIVIDADE (NRPROCESSOFILIAL, DTATIVIDADE, CDOPERADOR, DTREDEFINICAO) VALUES (?, ?, ?, ?)"_s,
              {process, ServerClock::dayNumber(today), m_operator, ServerClock::nowDays()});
    Activities::refreshSituation(db(), process, today);
    guard.commit();
    return QCborValue(double(created));
}

QCborValue RdmProcessoUnidade::GetDataServidor(const QCborArray &args)
{
    expectCount(u"GetDataServidor"_s, args, 0);
    return QCborValue(ServerClock::nowDays());
}
