#include "RdmProcessoUnidade.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QThread>
#include <QSqlQuery>

#include "Activities.h"
#include "Exceptions.h"
#include "AtividadesHandler.h"
#include "OperadoresHandler.h"
#include "ProcessosHandler.h"
#include "RelatorioHandler.h"
#include "RemoteCalls.h"
#include "TarefasHandler.h"
#include "PasswordHash.h"
#include "ServerClock.h"
#include "ServerLog.h"
#include "Sql.h"

using namespace Qt::StringLiterals;

const QString RdmProcessoUnidade::serverName = u"PRU87000.rdmProcessoUnidade"_s;

namespace {

using Handler = QCborValue (*)(RdmProcessoUnidade &, const QCborArray &);

const QHash<QString, Handler> &handlers()
{
    static const QHash<QString, Handler> table = {
        {u"GetProcessos"_s, &ProcessosHandler::GetProcessos},
        {u"GetTarefas"_s, &TarefasHandler::GetTarefas},
        {u"GetOperadores"_s, &OperadoresHandler::GetOperadores},
        {u"SetProcessos"_s, &ProcessosHandler::SetProcessos},
        {u"SetTarefas"_s, &TarefasHandler::SetTarefas},
        {u"SetOperadores"_s, &OperadoresHandler::SetOperadores},
        {u"GetAtividades"_s, &AtividadesHandler::GetAtividades},
        {u"SetAtividades"_s, &AtividadesHandler::SetAtividades},
        {u"GetVerifTarefas"_s, &AtividadesHandler::GetVerifTarefas},
        {u"RedefinirAtividadesDia"_s, &AtividadesHandler::RedefinirAtividadesDia},
        {u"GetDataServidor"_s, &AtividadesHandler::GetDataServidor},
        {u"GetRelatorioProcessos"_s, &RelatorioHandler::GetRelatorioProcessos},
    };
    return table;
}

} // namespace

RdmProcessoUnidade::RdmProcessoUnidade(std::shared_ptr<ServerState> state)
    : m_state(std::move(state))
{ }

RdmProcessoUnidade::~RdmProcessoUnidade()
{
    closeConnection();
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
        ++m_state->sessionConnectionsOpened;
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

QByteArray RdmProcessoUnidade::packet(const QString &text, const QVariantList &values, const QList<FieldDef> &fields,
                                      bool owned)
{
    auto it = m_packets.find(text);
    if (it == m_packets.end()) {
        it = m_packets.emplace(text, std::make_unique<PacketSelect>(db(), text)).first;
    }
    return owned ? it->second->ownedPacket(values, fields, m_unit) : it->second->packet(values, fields);
}

// The session's own database connection opens at its first call, after the
// login: the password is checked on the shared connections of the login gate.
SessionHandler::LoginResult RdmProcessoUnidade::checkLogin(ServerState &state, const LoginRequest &request,
                                                           Identity *who)
{
    LoginResult result;
    if (request.server != serverName) {
        result.error = u"Módulo remoto desconhecido: \"%1\". Este servidor atende %2."_s.arg(
            elidedText(request.server, 80), serverName);
        return result;
    }
    const LoginGate::Verdict verdict = state.loginGate->check(request.operatorCode, request.password, request.trusted);
    switch (verdict.kind) {
    case LoginGate::Verdict::Busy:
        result.counts = false;
        result.error = u"O servidor de aplicação está ocupado com outros logins; tente de novo em alguns segundos."_s;
        return result;
    case LoginGate::Verdict::Fault:
        result.counts = false;
        result.error = u"O servidor de aplicação não conseguiu verificar o login agora; tente de novo em instantes."_s;
        return result;
    case LoginGate::Verdict::Refused:
        result.error = verdict.error.isEmpty() ? u"Operador ou senha inválidos."_s : verdict.error;
        return result;
    case LoginGate::Verdict::Ok:
        break;
    }
    *who = {request.operatorCode, verdict.unit};
    result.ok = true;
    result.unitName = verdict.unitName;
    result.operatorName = verdict.operatorName;
    return result;
}

void RdmProcessoUnidade::begin(const Identity &who)
{
    m_operator = who.operatorCode;
    m_unit = who.unit;
    m_loggedIn = true;
    // A connection kept from an earlier session may have died meanwhile (the
    // database restarted, an idle limit): this session opens a new one.
    if (!m_connectionName.isEmpty() && m_state->config.engine != DatabaseConfig::Engine::SQLite) {
        QSqlQuery probe(m_db);
        if (!probe.exec(u"SELECT 1"_s)) {
            closeConnection();
        }
    }
}

void RdmProcessoUnidade::end()
{
    m_loggedIn = false;
    m_operator.clear();
    m_unit.clear();
}

void RdmProcessoUnidade::closeConnection()
{
    m_statements.clear();
    m_packets.clear();
    if (!m_connectionName.isEmpty()) {
        m_db = QSqlDatabase();
        Database::remove(std::exchange(m_connectionName, {}));
    }
}

void RdmProcessoUnidade::leaveThread()
{
    if (!m_connectionName.isEmpty()) {
        Sql::forgetConnection(m_connectionName); // what this thread kept of it
        m_db.driver()->moveToThread(nullptr);
    }
}

void RdmProcessoUnidade::enterThread()
{
    if (!m_connectionName.isEmpty()) {
        m_db.driver()->moveToThread(QThread::currentThread());
    }
}

QString RdmProcessoUnidade::notLoggedInText(const QString &method)
{
    return u"Nenhum operador conectado: faça o login antes de chamar %1."_s.arg(elidedText(method, 80));
}

QCborValue RdmProcessoUnidade::call(const QString &method, const QCborArray &args)
{
    if (!m_loggedIn) {
        throw EDatabaseError(notLoggedInText(method));
    }
    const Handler handler = handlers().value(method, nullptr);
    if (!handler) {
        throw EDatabaseError(u"Método desconhecido: \"%1\"."_s.arg(elidedText(method, 80)));
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
        return handler(*this, args);
    } catch (const EServerFailure &e) {
        qCWarning(lcServer).noquote() << u"falha em %1 (operador %2): %3"_s.arg(method, m_operator, e.message());
        throw;
    } catch (const EDatabaseError &) {
        // A refused rule is an answer, not a failure of the server.
        throw;
    } catch (...) {
        // Anything else is a fault of ours: logged once here, and the client
        // gets its text as a failure reply.
        const QString message = currentExceptionMessage();
        qCWarning(lcServer).noquote() << u"falha em %1 (operador %2): %3"_s.arg(method, m_operator, message);
        throw EServerFailure(message);
    }
}

DeltaReader RdmProcessoUnidade::saveArgument(const QString &method, const QCborArray &args) const
{
    RemoteCalls::expectCount(method, args, 1);
    const Saves::Limits &limits = m_state->saveLimits;
    return RemoteCalls::deltaArg(method, args, 0, limits.maxDeltaBytes, limits.maxDeltaRows);
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
