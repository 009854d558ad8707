#pragma once

#include <QCborArray>
#include <QCborValue>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <atomic>
#include <memory>
#include <unordered_map>

#include "Database.h"
#include "LoginGate.h"
#include "PacketSelect.h"
#include "PasswordHash.h"
#include "RpcServer.h"
#include "Saves.h"

// What the sessions of one running server share.
struct ServerState
{
    explicit ServerState(DatabaseConfig databaseConfig, LoginGate::Settings loginSettings = {})
        : config(std::move(databaseConfig))
        , loginGate(std::make_unique<LoginGate>(config, loginSettings))
    { }
    const DatabaseConfig config;
    // Every password is checked here, never on a session's own connection.
    const std::unique_ptr<LoginGate> loginGate;
    // What one save may bring; set before the first session starts.
    Saves::Limits saveLimits;
    // Day count of the last day this server generated; -1 before the first.
    std::atomic<qint64> lastGeneratedDay{-1};
    // Database connections the sessions opened since start (kept ones are reused).
    std::atomic<int> sessionConnectionsOpened{0};
    // Modules kept for the next sessions now (KeptModules).
    std::atomic<int> keptModules{0};
};

// The remote data module "PRU87000.rdmProcessoUnidade": one instance serves
// one session at a time, in that session's thread, with its own database
// connection (kept for a next session by KeptModules, whose handler logs the
// operator in). The business unit is always the logged-in operator's. It
// dispatches each call by name to its handler; the handlers live with their
// level (ProcessosHandler, TarefasHandler, OperadoresHandler,
// AtividadesHandler).
class RdmProcessoUnidade
{
public:
    using LoginRequest = SessionHandler::LoginRequest;
    using LoginResult = SessionHandler::LoginResult;
    static const QString serverName;

    explicit RdmProcessoUnidade(std::shared_ptr<ServerState> state);
    ~RdmProcessoUnidade();
    RdmProcessoUnidade(const RdmProcessoUnidade &) = delete;
    RdmProcessoUnidade &operator=(const RdmProcessoUnidade &) = delete;

    // Runs one method for the session begun. Throws EDatabaseError (or any
    // std::exception) for a failure reply with its message.
    QCborValue call(const QString &method, const QCborArray &args);

    // Who a login let in.
    struct Identity
    {
        QString operatorCode;
        QString unit;
    };
    // The login's checks, with no database connection of the session's:
    // the module asked for and the password (through the login gate).
    static LoginResult checkLogin(ServerState &state, const LoginRequest &request, Identity *who);
    // A session starts on this module (which may keep the database
    // connection and statements of an earlier one) and ends on it.
    void begin(const Identity &who);
    void end();
    // Between sessions the module belongs to no thread: the one that used it
    // lets go (leaveThread), the one that takes it on calls enterThread
    // before anything else. Only the database driver has a thread of its
    // own (a QObject's); moving it is what QSqlDatabase::moveToThread does
    // in later Qt versions, and no statement is open between calls.
    void leaveThread();
    void enterThread();
    static QString notLoggedInText(const QString &method);

    static QStringList methodNames();

    const QString &unit() const { return m_unit; }
    const QString &operatorCode() const { return m_operator; }
    Saves::Session session() const { return {m_unit, m_operator}; }
    // The one argument of a save: its delta packet, within this server's
    // limits of bytes and rows.
    DeltaReader saveArgument(const QString &method, const QCborArray &args) const;

    // For the level handlers, in this session's thread.
    QSqlDatabase &db();
    // Runs one of the hot SELECTs through a statement prepared once per
    // session (a PostgreSQL round trip each time instead of three). The
    // caller reads it and finishes it.
    QSqlQuery &statement(const QString &text, const QVariantList &values);
    // The rows of one of the hot SELECTs as the bytes of a data packet, read
    // straight from the database (PacketSelect), prepared once per session.
    // values: whole numbers (qint64) or texts. With owned, rows are headed by
    // their owner's unit, checked against the session's (see PacketSelect).
    QByteArray packet(const QString &text, const QVariantList &values, const QList<FieldDef> &fields,
                      bool owned = false);
    // The unit of a process; throws when it is another unit's. Empty when the
    // process does not exist.
    QString checkProcessUnit(qint64 process);

private:
    void closeConnection();

    std::shared_ptr<ServerState> m_state;
    QString m_connectionName;
    QSqlDatabase m_db;
    QHash<QString, QSqlQuery> m_statements;
    std::unordered_map<QString, std::unique_ptr<PacketSelect>> m_packets;
    bool m_loggedIn = false;
    QString m_operator;
    QString m_unit;
};
