#include <QElapsedTimer>
#include <QMainWindow>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>

#include <atomic>

#include "Exceptions.h"
#include "FrameworkServices.h"
#include "FrameworkTestData.h"
#include "Refusal.h"
#include "RpcServer.h"
#include "RpcWire.h"
#include "TNetConnection.h"

namespace {
const QString remoteModule = u"PRU87000.rdmProcessoUnidade"_s;
std::atomic<int> g_busySeenByServer{-1};
// What reached the server: logins tried, "types" calls answered.
std::atomic<int> g_logins{0};
std::atomic<int> g_typesCalls{0};

// A remote module with a few methods; logs in "op" with "secret".
class Handler : public SessionHandler
{
public:
    LoginResult login(const LoginRequest &request) override
    {
        const QString &serverName = request.server;
        const QString &operatorCode = request.operatorCode;
        const QString &password = request.password;
        ++g_logins;
        if (serverName != remoteModule) {
            return {false, u"Módulo remoto desconhecido: %1"_s.arg(serverName), {}, {}};
        }
        if (operatorCode == u"op" && password == u"secret") {
            return {true, {}, u"Unidade Centro"_s, u"Operador de Teste"_s};
        }
        return {false, u"Operador ou senha inválidos."_s, {}, {}};
    }
    QCborValue call(const QString &method, const QCborArray &args) override
    {
        if (method == u"types") {
            ++g_typesCalls;
            QStringList names;
            for (const QCborValue &a : args) {
                names << (a.isDouble() || a.isInteger() ? u"number"_s
                          : a.isString()                ? u"text:"_s + a.toString()
                          : a.isByteArray()             ? u"bytes:%1"_s.arg(a.toByteArray().size())
                          : a.isNull()                  ? u"null"_s
                                                        : u"other"_s);
            }
            return names.join(u',');
        }
        if (method == u"slow") {
            QThread::msleep(static_cast<unsigned long>(args.at(0).toDouble()));
            return u"done"_s;
        }
        if (method == u"busy") {
            // The user-interface thread is blocked in the call: reading is safe.
            g_busySeenByServer = busyIndicatorVisible() ? 1 : 0;
            return 1.0;
        }
        throw EDatabaseError(u"Método desconhecido: %1"_s.arg(method));
    }
};
} // namespace

// The connection screens use: before-connect, login with the session, calls by
// name, failures as replies or as errors, a time limit that ends a dead call.
class TestNetConnection : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        resetDialogs();
        m_server = std::make_unique<RpcServer>([] { return std::make_unique<Handler>(); });
        QString error;
        QVERIFY2(m_server->listen(QHostAddress::LocalHost, 0, &error), qPrintable(error));
        setSession({u"op"_s, u"secret"_s, u"127.0.0.1"_s, m_server->port(), {}, {}});
        m_net = std::make_unique<TNetConnection>();
        m_net->setObjectName(u"netProcessoUnidade"_s);
        m_net->setServerName(remoteModule);
        m_net->BeforeConnect = [](QObject *sender) {
            auto *net = static_cast<TNetConnection *>(sender);
            net->setHost(WebURL());
            net->setPort(WebPort());
        };
    }
    void cleanup()
    {
        m_net.reset();
        m_server.reset();
    }

    void beforeConnectGivesTheAddress()
    {
        QVERIFY(!m_net->Connected());
        m_net->setConnected(true);
        QVERIFY(m_net->Connected());
        QCOMPARE(m_net->Host(), u"127.0.0.1"_s);
        QCOMPARE(m_net->Port(), int(m_server->port()));
        QCOMPARE(m_net->unitName(), u"Unidade Centro"_s);
        m_net->setConnected(false);
        QVERIFY(!m_net->Connected());
        m_net->setConnected(false); // closing twice is harmless
    }

    // Connecting ahead (the login sent, its answer read later) fails as
    // connecting at once does, and tries the password once.
    void refusedLoginIsAClearError_data()
    {
        QTest::addColumn<bool>("ahead");
        QTest::newRow("at once") << false;
        QTest::newRow("ahead") << true;
    }
    void refusedLoginIsAClearError()
    {
        QFETCH(bool, ahead);
        setSession({u"op"_s, u"errada"_s, u"127.0.0.1"_s, m_server->port(), {}, {}});
        g_logins = 0;
        if (ahead) {
            m_net->connectAhead();
            QVERIFY(!m_net->Connected());
        }
        const QString said = refusalOf([&] { m_net->setConnected(true); });
        QVERIFY2(said.contains(u"Operador ou senha inválidos."_s), qPrintable(said));
        QVERIFY(!m_net->Connected());
        QCOMPARE(g_logins.load(), 1);
    }

    // A posted call's answer goes to the next call of the same method and
    // arguments, which the server then answers once; any other call drops it
    // and gets its own answer. Posting works while the login is on its way.
    void postedCallIsAnsweredOnce_data()
    {
        QTest::addColumn<bool>("ahead");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<int>("serverCalls");
        QTest::newRow("same call") << false << u"a"_s << 1;
        QTest::newRow("same call, posted during the login") << true << u"a"_s << 1;
        QTest::newRow("another call") << false << u"b"_s << 2;
        QTest::newRow("another call, posted during the login") << true << u"b"_s << 2;
    }
    void postedCallIsAnsweredOnce()
    {
        QFETCH(bool, ahead);
        QFETCH(QString, asked);
        QFETCH(int, serverCalls);
        m_net->setThrowException(false);
        if (ahead) {
            m_net->connectAhead();
        } else {
            m_net->Open();
        }
        g_typesCalls = 0;
        m_net->AppServer()->post(u"types"_s, {u"a"_s});
        m_net->Open();
        const RpcReply reply = m_net->AppServer()->call(u"types"_s, QVariantList{asked});
        QVERIFY2(reply.ok, qPrintable(reply.error));
        QCOMPARE(reply.text(), u"text:"_s + asked);
        QCOMPARE(g_typesCalls.load(), serverCalls);
        // Nothing is left behind: the next call gets its own answer.
        QCOMPARE(m_net->AppServer()->call(u"types"_s, QVariantList{u"c"_s}).text(), u"text:c"_s);
    }

    void missingAddressIsAClearError()
    {
        m_net->BeforeConnect = nullptr;
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, m_net->setConnected(true));
    }

    void argumentsTravelByKind()
    {
        m_net->Open();
        m_net->setThrowException(false);
        const RpcReply reply =
            m_net->AppServer()->call(u"types"_s, QVariantList{3, 2.5, u"abc"_s, QByteArray("xyz"), QVariant()});
        QVERIFY2(reply.ok, qPrintable(reply.error));
        QCOMPARE(CheckResultServ(reply, true, 0).toString(), u"number,number,text:abc,bytes:3,null"_s);
    }

    void failuresComeBackAsRepliesWhenNotThrowing()
    {
        m_net->Open();
        m_net->setThrowException(false);
        const RpcReply reply = m_net->AppServer()->call(u"naoExiste"_s);
        QVERIFY(!reply.ok);
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, CheckResultServ(reply, true, 0));
        QVERIFY(m_net->Connected()); // a refused call does not end the session

        m_net->setThrowException(true);
        QCOMPARE(refusalOf([&] { m_net->AppServer()->call(u"naoExiste"_s); }), u"Método desconhecido: naoExiste"_s);
    }

    void timeLimitEndsADeadCall()
    {
        m_net->Open();
        m_net->setThrowException(false);
        m_net->setTimeout(300);
        QElapsedTimer clock;
        clock.start();
        const RpcReply reply = m_net->AppServer()->call(u"slow"_s, QVariantList{3000});
        QVERIFY(saysWhy(refusalOf(reply)));
        QVERIFY2(clock.elapsed() < 2500, "the call waited past its time limit");
        QVERIFY(!m_net->Connected());
        m_net->setConnected(false); // nothing to disconnect: no error
    }

    void stoppedServerGivesAClearError()
    {
        m_net->Open();
        m_net->setThrowException(false);
        m_server->close();
        const RpcReply reply = m_net->AppServer()->call(u"types"_s);
        QVERIFY(saysWhy(refusalOf(reply)));
        QVERIFY(!m_net->Connected());
        // The next call tries to connect again and says why it could not.
        const RpcReply again = m_net->AppServer()->call(u"types"_s);
        QVERIFY2(refusalOf(again).contains(u"Não foi possível conectar"_s), qPrintable(refusalOf(again)));
        QVERIFY(!m_net->Connected());
        // Back on its port, the server answers the next call on a new connection.
        const quint16 port = session().port;
        m_server = std::make_unique<RpcServer>([] { return std::make_unique<Handler>(); });
        QString error;
        QVERIFY2(m_server->listen(QHostAddress::LocalHost, port, &error), qPrintable(error));
        const RpcReply back = m_net->AppServer()->call(u"types"_s);
        QVERIFY2(back.ok, qPrintable(back.error));
        QVERIFY(m_net->Connected());
    }

    void closedByTheCallerStaysClosed()
    {
        m_net->Open();
        m_net->setThrowException(false);
        m_net->Close();
        const RpcReply reply = m_net->AppServer()->call(u"types"_s);
        QVERIFY2(refusalOf(reply).contains(u"Sem conexão"_s), qPrintable(refusalOf(reply)));
        QVERIFY(!m_net->Connected());
    }

    void busyIndicatorShowsOnlyForASlowCall_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QCborArray>("args");
        QTest::addColumn<bool>("painted");
        QTest::addColumn<bool>("stalled"); // a server that stops reading after the login
        QTest::newRow("quick: nothing flashes") << u"busy"_s << QCborArray{} << false << false;
        QTest::newRow("slow: painted while waiting") << u"slow"_s << QCborArray{600} << true << false;
        QTest::newRow("slow to send: painted while writing")
            << u"types"_s << QCborArray{QByteArray(24 * 1024 * 1024, 'x')} << true << true;
    }

    void busyIndicatorShowsOnlyForASlowCall()
    {
        QFETCH(QString, method);
        QFETCH(QCborArray, args);
        QFETCH(bool, painted);
        QFETCH(bool, stalled);
        QMainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // A peer that answers the login and then reads nothing: the writing waits on it.
        QTcpServer stalledPeer;
        if (stalled) {
            QVERIFY(stalledPeer.listen(QHostAddress::LocalHost));
            setSession({u"op"_s, u"secret"_s, u"127.0.0.1"_s, stalledPeer.serverPort(), {}, {}});
            m_net->setThrowException(false);
            m_net->setTimeout(1'000);
            m_net->connectAhead();
            QVERIFY(stalledPeer.waitForNewConnection(5'000));
            QTcpSocket *peer = stalledPeer.nextPendingConnection();
            QVERIFY(peer->waitForReadyRead(5'000));
            peer->setReadBufferSize(1);
            peer->write(RpcWire::loginReplyFrame(u"Unidade Centro"_s, u"Operador de Teste"_s));
            QVERIFY(peer->waitForBytesWritten(5'000));
        }
        m_net->Open();
        g_busySeenByServer = -1;
        const int paintsBefore = busyIndicatorPaintCount();
        {
            BusyIndicatorScope busy(&window);
            const RpcReply reply = m_net->AppServer()->call(method, args);
            if (!stalled) {
                CheckResultServ(reply, true, 0);
            }
        }
        QCOMPARE(busyIndicatorPaintCount() > paintsBefore, painted);
        if (method == u"busy"_s) {
            QCOMPARE(g_busySeenByServer.load(), 0);
        }
        QVERIFY(!busyIndicatorVisible());
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    }

private:
    std::unique_ptr<RpcServer> m_server;
    std::unique_ptr<TNetConnection> m_net;
};

QTEST_MAIN(TestNetConnection)
#include "tst_netconnection.moc"
