#pragma once

// The real application server inside the test process: a temporary SQLite
// database with the demonstration data, served on a free loopback port. Every
// call is recorded; a test may replace the answer of one method.

#include <QCborArray>
#include <QCborValue>
#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QMutex>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

#include "Admin.h"
#include "Database.h"
#include "FrameworkServices.h"
#include "Packet.h"
#include "RdmProcessoUnidade.h"
#include "KeptModules.h"
#include "RpcServer.h"

class ScreenTestServer
{
public:
    // Gives the answer of one method instead of the server (may throw to fail).
    using Override = std::function<QCborValue(const QCborArray &args, SessionHandler &server)>;

    struct Shared
    {
        QMutex mutex;
        QStringList calls;
        QHash<QString, Override> overrides;
    };

    ScreenTestServer()
    {
        // Building the demonstration data hashes every password slowly: it
        // is done once per test program and copied for each test.
        const QString file = m_dir.filePath(QStringLiteral("screen.sqlite"));
        // The credentials file beside it goes along, as a backup takes both.
        if (!QFile::copy(templateDatabase(), file)
            || !QFile::copy(Database::credentialsFile(templateDatabase()), Database::credentialsFile(file))) {
            qFatal("test server: cannot copy the template database");
        }
        m_config = DatabaseConfig::sqlite(file);
        start();
        login(QStringLiteral("SUPERVISOR"));
    }

    static QString templateDatabase()
    {
        static QTemporaryDir dir;
        static const QString file = [] {
            const QString path = dir.filePath(QStringLiteral("template.sqlite"));
            ScopedConnection connection(DatabaseConfig::sqlite(path), QStringLiteral("screen-test-setup"));
            Admin::createDatabase(connection.db());
            Admin::loadDemo(connection.db());
            // A unit without any process, for the empty-list cases.
            Admin::addUnit(connection.db(), QStringLiteral("0003"), QStringLiteral("Loja Nova"));
            Admin::addOperator(connection.db(), QStringLiteral("NOVATO"), QStringLiteral("Operador da Loja Nova"),
                               QStringLiteral("0003"), QStringLiteral("senha"));
            return path;
        }();
        return file;
    }

    ~ScreenTestServer() { stop(); }

    // Port 0 lets the system choose; a test that restarts the server gives
    // the port it had, as a restarted server keeps its configured port.
    void start(quint16 port = 0)
    {
        auto state = std::make_shared<ServerState>(m_config);
        SessionHandlerFactory inner = KeptModules::factory(state);
        std::shared_ptr<Shared> shared = m_shared;
        m_server = std::make_unique<RpcServer>([inner, shared]() -> std::unique_ptr<SessionHandler> {
            return std::make_unique<Recording>(inner(), shared);
        });
        QString error;
        if (!m_server->listen(QHostAddress::LocalHost, port, &error)) {
            qFatal("test server: %s", qPrintable(error));
        }
        m_port = m_server->port();
    }

    void stop()
    {
        if (m_server) {
            m_server->close();
            m_server.reset();
        }
    }

    // Tells the framework where the server is and who logs in.
    void login(const QString &operatorCode) const
    {
        SessionInfo session;
        session.operatorCode = operatorCode;
        session.password = QStringLiteral("senha");
        session.host = QStringLiteral("127.0.0.1");
        session.port = m_port;
        setSession(session);
    }

    QStringList calls() const
    {
        QMutexLocker lock(&m_shared->mutex);
        return m_shared->calls;
    }
    void clearCalls()
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->calls.clear();
    }
    int count(const QString &method) const { return int(calls().count(method)); }

    void setOverride(const QString &method, Override answer)
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->overrides.insert(method, std::move(answer));
    }
    void clearOverrides()
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->overrides.clear();
    }

    quint16 port() const { return m_port; }
    QString databaseFile() const { return m_config.sqliteFile; }
    const DatabaseConfig &config() const { return m_config; }

private:
    class Recording : public SessionHandler
    {
    public:
        Recording(std::unique_ptr<SessionHandler> inner, std::shared_ptr<Shared> shared)
            : m_inner(std::move(inner))
            , m_shared(std::move(shared))
        { }
        LoginResult login(const LoginRequest &request) override { return m_inner->login(request); }
        QCborValue call(const QString &method, const QCborArray &args) override
        {
            Override answer;
            {
                QMutexLocker lock(&m_shared->mutex);
                m_shared->calls << method;
                answer = m_shared->overrides.value(method);
            }
            return answer ? answer(args, *m_inner) : m_inner->call(method, args);
        }

    private:
        std::unique_ptr<SessionHandler> m_inner;
        std::shared_ptr<Shared> m_shared;
    };

    QTemporaryDir m_dir;
    DatabaseConfig m_config;
    std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
    std::unique_ptr<RpcServer> m_server;
    quint16 m_port = 0;
};

// The values of one field in the deltas the screen sends through a save
// method, as they leave the screen: the server fills or fixes some of them
// itself, which would hide a screen that stopped doing so.
inline std::shared_ptr<QStringList> watchSentField(ScreenTestServer &server, const QString &method,
                                                   const QString &field)
{
    auto seen = std::make_shared<QStringList>();
    server.setOverride(method, [method, field, seen](const QCborArray &args, SessionHandler &inner) {
        const DeltaPacket delta = DeltaPacket::decode(args.at(0).toByteArray());
        for (qsizetype i = 0; i < delta.fields.size(); ++i) {
            if (delta.fields.at(i).name == field) {
                for (const DeltaEntry &entry : delta.entries) {
                    *seen << entry.current.value(i).toString();
                }
            }
        }
        return inner.call(method, args);
    });
    return seen;
}
