#include <QFile>
#include <QMutex>
#include <QSemaphore>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTest>

#include <atomic>

#include "RawPeer.h"
#include "RpcClient.h"
#include "RpcServer.h"
#include "TestHandler.h"

// Encrypted sessions and fair admission, on a real server on loopback: TLS
// with a pinned or a CA-trusted certificate, the refusals a user meets when
// the two ends disagree, the password never in clear on the wire, idle
// connections that cannot lock operators out, and refused logins that slow down.

namespace {

const QString dataDir = QStringLiteral(PRU_TEST_DATA_DIR);
const QString secret = u"senha-que-nao-pode-vazar"_s;

QSslConfiguration serverTls()
{
    QFile keyFile(dataDir + u"/pru-server.key"_s);
    keyFile.open(QIODevice::ReadOnly);
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(QSslCertificate::fromPath(dataDir + u"/pru-server.crt"_s));
    configuration.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Ec));
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    return configuration;
}

QByteArray fingerprintOf(const QString &file)
{
    return QSslCertificate::fromPath(file).constFirst().digest(QCryptographicHash::Sha256);
}

// Sits between a client and the server on loopback, passing bytes both ways
// and keeping a copy of everything that crossed.
class Relay : public QThread
{
public:
    explicit Relay(quint16 target)
        : m_target(target)
    { }
    quint16 listen()
    {
        start();
        m_ready.acquire();
        return m_port;
    }
    QByteArray seen()
    {
        const QMutexLocker lock(&m_mutex);
        return m_seen;
    }
    void stop()
    {
        m_stop = true;
        wait();
    }

protected:
    void run() override
    {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, 0);
        m_port = server.serverPort();
        m_ready.release();
        if (!server.waitForNewConnection(10'000)) {
            return;
        }
        QTcpSocket *client = server.nextPendingConnection();
        QTcpSocket upstream;
        upstream.connectToHost(QHostAddress::LocalHost, m_target);
        if (!upstream.waitForConnected(5000)) {
            return;
        }
        QDeadlineTimer deadline(20'000);
        while (!m_stop && !deadline.hasExpired() && client->state() == QAbstractSocket::ConnectedState
               && upstream.state() == QAbstractSocket::ConnectedState) {
            client->waitForReadyRead(5);
            pass(client, &upstream);
            upstream.waitForReadyRead(5);
            pass(&upstream, client);
        }
    }

private:
    void pass(QTcpSocket *from, QTcpSocket *to)
    {
        const QByteArray bytes = from->readAll();
        if (bytes.isEmpty()) {
            return;
        }
        {
            const QMutexLocker lock(&m_mutex);
            m_seen += bytes;
        }
        to->write(bytes);
        to->waitForBytesWritten(1000);
    }

    quint16 m_target;
    quint16 m_port = 0;
    QSemaphore m_ready;
    QMutex m_mutex;
    QByteArray m_seen;
    std::atomic<bool> m_stop = false;
};

} // namespace

class TestRpcSecurity : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void trustedServer_data();
    void trustedServer();
    void untrustedServer_data();
    void untrustedServer();
    void plainClientToTlsServer();
    void tlsClientToPlainServer();
    void passwordNeverInClear_data();
    void passwordNeverInClear();

    void idleConnectionsDoNotLockOperatorsOut();
    void failedLoginsSlowDown_data();
    void failedLoginsSlowDown();

private:
    void startServer(bool tls, const RpcServer::Limits &limits = {});
    bool open(RpcClient *client, const RpcSecurity &security, QString *error, quint16 port = 0,
              const QString &password = u"secret"_s);

    HandlerStats m_stats;
    std::unique_ptr<RpcServer> m_server;
};

void TestRpcSecurity::initTestCase()
{
    QVERIFY2(QSslSocket::supportsSsl(), "Qt's TLS backend over OpenSSL is missing");
}

void TestRpcSecurity::cleanup()
{
    m_server.reset();
}

void TestRpcSecurity::startServer(bool tls, const RpcServer::Limits &limits)
{
    m_server = std::make_unique<RpcServer>(testFactory(&m_stats));
    m_server->setLimits(limits);
    if (tls) {
        m_server->setTls(serverTls());
    }
    QString error;
    QVERIFY2(m_server->listen(QHostAddress::LocalHost, 0, &error), qPrintable(error));
}

bool TestRpcSecurity::open(RpcClient *client, const RpcSecurity &security, QString *error, quint16 port,
                           const QString &password)
{
    client->setSecurity(security);
    return client->open(u"127.0.0.1"_s, port ? port : m_server->port(), testModule, u"op"_s, password, 10'000, error);
}

void TestRpcSecurity::trustedServer_data()
{
    QTest::addColumn<QString>("caFile");
    QTest::addColumn<bool>("pinned");
    QTest::newRow("pinned fingerprint") << QString() << true;
    QTest::newRow("CA file") << dataDir + u"/pru-server.crt"_s << false;
}

void TestRpcSecurity::trustedServer()
{
    QFETCH(QString, caFile);
    QFETCH(bool, pinned);
    startServer(true);
    RpcSecurity security;
    security.caFile = caFile;
    if (pinned) {
        security.fingerprint = fingerprintOf(dataDir + u"/pru-server.crt"_s);
    }
    RpcClient client;
    QString error;
    QVERIFY2(open(&client, security, &error), qPrintable(error));
    const RpcReply reply = client.call(u"echo"_s, {u"ação ✓"_s}, 5000);
    QVERIFY2(reply.ok, qPrintable(reply.error));
    QCOMPARE(reply.value.toString(), u"ação ✓"_s);
}

void TestRpcSecurity::untrustedServer_data()
{
    QTest::addColumn<QString>("caFile");
    QTest::addColumn<bool>("pinOther");
    QTest::addColumn<QString>("expected");
    QTest::newRow("other fingerprint") << QString() << true << u"não confere com a impressão digital configurada"_s;
    QTest::newRow("other CA") << dataDir + u"/other-server.crt"_s << false << u"não é confiável"_s;
    QTest::newRow("system CAs only") << QString() << false << u"não é confiável"_s;
}

void TestRpcSecurity::untrustedServer()
{
    QFETCH(QString, caFile);
    QFETCH(bool, pinOther);
    QFETCH(QString, expected);
    startServer(true);
    RpcSecurity security;
    security.tls = true;
    security.caFile = caFile;
    if (pinOther) {
        security.fingerprint = fingerprintOf(dataDir + u"/other-server.crt"_s);
    }
    RpcClient client;
    QString error;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!open(&client, security, &error));
    QVERIFY2(error.contains(expected), qPrintable(error));
    QVERIFY2(error.contains(u"a senha não foi enviada"_s), qPrintable(error));
    QVERIFY2(clock.elapsed() < 5000, "a refused certificate must not wait for the time limit");
    QVERIFY(!client.isOpen());
    // What a person compares before pinning it: the certificate the server showed.
    QCOMPARE(client.refusedFingerprint(), fingerprintOf(dataDir + u"/pru-server.crt"_s));
}

void TestRpcSecurity::plainClientToTlsServer()
{
    startServer(true);
    RpcClient client;
    QString error;
    QVERIFY(!open(&client, {}, &error));
    QVERIFY2(error.contains(u"só aceita conexões criptografadas (TLS)"_s), qPrintable(error));

    // Beyond this machine plain TCP is refused before any connection, unless
    // the network is said to be trusted.
    RpcClient far;
    QVERIFY(!far.open(u"192.0.2.1"_s, 8787, testModule, u"op"_s, u"secret"_s, 300, &error));
    QVERIFY2(error.contains(u"não foi enviada"_s) && error.contains(u"--allow-plain"_s), qPrintable(error));
    RpcSecurity trusted;
    trusted.allowPlain = true;
    far.setSecurity(trusted);
    QVERIFY(!far.open(u"192.0.2.1"_s, 8787, testModule, u"op"_s, u"secret"_s, 300, &error));
    QVERIFY2(!error.contains(u"--allow-plain"_s), qPrintable(error));
}

void TestRpcSecurity::tlsClientToPlainServer()
{
    startServer(false);
    RpcSecurity security;
    security.fingerprint = fingerprintOf(dataDir + u"/pru-server.crt"_s);
    RpcClient client;
    QString error;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!open(&client, security, &error));
    QVERIFY2(error.contains(u"conexão criptografada (TLS)"_s), qPrintable(error));
    QVERIFY(clock.elapsed() < 5000);
    // A name reaches a plain server when it led to a loopback address.
    RpcClient named;
    QVERIFY2(named.open(u"localhost"_s, m_server->port(), testModule, u"op"_s, u"secret"_s, 5000, &error),
             qPrintable(error));
}

void TestRpcSecurity::passwordNeverInClear_data()
{
    QTest::addColumn<bool>("tls");
    // The plain row shows that the relay does see a password sent in clear.
    QTest::newRow("plain TCP") << false;
    QTest::newRow("TLS") << true;
}

void TestRpcSecurity::passwordNeverInClear()
{
    QFETCH(bool, tls);
    startServer(tls);
    Relay relay(m_server->port());
    const quint16 port = relay.listen();
    RpcSecurity security;
    if (tls) {
        security.fingerprint = fingerprintOf(dataDir + u"/pru-server.crt"_s);
    }
    RpcClient client;
    QString error;
    QVERIFY(!open(&client, security, &error, port, secret)); // refused: the wrong password still travelled
    QVERIFY2(error.contains(u"Operador ou senha inválidos."_s), qPrintable(error));
    relay.stop();
    const QByteArray seen = relay.seen();
    QVERIFY(seen.size() > 100);
    QCOMPARE(seen.contains(secret.toUtf8()), !tls);
    QCOMPARE(seen.contains("PRU87000.rdmProcessoUnidade"), !tls);
}

void TestRpcSecurity::idleConnectionsDoNotLockOperatorsOut()
{
    startServer(false);
    RpcClient before;
    QString error;
    QVERIFY2(open(&before, {}, &error), qPrintable(error));

    const RpcServer::Limits limits;
    // Hosts behind one address that connect together all get in, though each
    // is silent until it sends its login.
    std::vector<std::unique_ptr<RawPeer>> together(limits.maxPendingPerAddress + 4);
    for (auto &peer : together) {
        peer = std::make_unique<RawPeer>();
        QVERIFY(peer->connectTo(m_server->port()));
    }
    for (auto &peer : together) {
        QVERIFY2(peer->login(u"op"_s, u"secret"_s, {}, &error), qPrintable(error));
    }
    together.clear();
    // One whose login came in pieces is not taken for idle, however long the
    // server takes to read the rest, while idle ones from its address arrive.
    RawPeer slow;
    QVERIFY(slow.connectTo(m_server->port()));
    const QByteArray login = RpcWire::loginFrame(testModule, u"op"_s, u"secret"_s);
    slow.send(login.left(2));
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i <= limits.maxPendingPerAddress; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, m_server->port());
        QVERIFY(socket->waitForConnected(5000));
        idle.push_back(std::move(socket));
    }
    QThread::msleep(limits.silentAfterMs * 2 + 200);
    slow.send(login.mid(2));
    const auto answer = slow.read();
    QVERIFY2(answer && answer->kind == RpcMessage::Kind::LoginReply && answer->ok,
             answer ? qPrintable(answer->error) : "no answer");

    // 300 connections that never log in.
    for (int i = 0; i < 300; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, m_server->port());
        QVERIFY(socket->waitForConnected(5000));
        idle.push_back(std::move(socket));
    }
    // Once they are plainly idle, an operator logs in and works at once; the
    // one logged in before goes on.
    QThread::msleep(limits.silentAfterMs + 100);
    QElapsedTimer clock;
    clock.start();
    RpcClient operatorClient;
    QVERIFY2(open(&operatorClient, {}, &error), qPrintable(error));
    const RpcReply reply = operatorClient.call(u"echo"_s, {7}, 5000);
    QVERIFY2(reply.ok, qPrintable(reply.error));
    QVERIFY2(clock.elapsed() < 3000, qPrintable(u"login and call took %1 ms"_s.arg(clock.elapsed())));
    QVERIFY(before.call(u"echo"_s, {8}, 5000).ok);

    // The idle ones were closed to make room: at most the pending seats stay.
    int open = 0;
    QDeadlineTimer settle(5000);
    do {
        open = 0;
        for (auto &socket : idle) {
            socket->waitForReadyRead(0);
            socket->readAll();
            open += socket->state() == QAbstractSocket::ConnectedState ? 1 : 0;
        }
    } while (open > limits.maxPendingPerAddress && !settle.hasExpired() && (QThread::msleep(50), true));
    QVERIFY2(open <= limits.maxPendingPerAddress, qPrintable(u"%1 idle connections still open"_s.arg(open)));
}

void TestRpcSecurity::failedLoginsSlowDown_data()
{
    // failures: "address operator" refused logins made first (all at once
    // when concurrent; "address operator token" gives the device token);
    // then one login of "op" with the right password. logged: a line the
    // log must hold.
    QTest::addColumn<QStringList>("failures");
    QTest::addColumn<bool>("concurrent");
    QTest::addColumn<QString>("from");
    QTest::addColumn<bool>("withToken");
    QTest::addColumn<bool>("waits");
    QTest::addColumn<QString>("logged");
    const QStringList threeOfOp = {u"127.0.0.2 op"_s, u"127.0.0.2 op"_s, u"127.0.0.2 op"_s};
    QStringList sprayOfPrefix;
    for (int i = 0; i < 12; ++i) {
        sprayOfPrefix << u"127.0.0.%1 x%1"_s.arg(i + 2);
    }
    QTest::newRow("the operator, from another address")
        << threeOfOp << false << u"127.0.0.3"_s << false << true
        << u"login recusado: operador \"op\" de 127.0.0.2 (3ª falha seguida deste endereço)"_s;
    QTest::newRow("the address, for another operator")
        << QStringList{u"127.0.0.2 a"_s, u"127.0.0.2 b"_s, u"127.0.0.2 c"_s} << false << u"127.0.0.2"_s << false << true
        << QString();
    QTest::newRow("the /24, rotating address and operator")
        << sprayOfPrefix << false << u"127.0.0.99"_s << false << true << QString();
    QTest::newRow("another /24 is not slowed")
        << sprayOfPrefix << false << u"127.0.1.2"_s << false << false << QString();
    QTest::newRow("a device token is not slowed by others")
        << threeOfOp << false << u"127.0.0.3"_s << true << false << QString();
    QTest::newRow("a token is not slowed by its own address's spray")
        << sprayOfPrefix << false << u"127.0.0.2"_s << true << false << QString();
    QTest::newRow("a wrong password with a token counts for the device")
        << QStringList{u"127.0.0.2 op token"_s, u"127.0.0.2 op token"_s} << false << u"127.0.0.2"_s << true << false
        << u"login recusado: operador \"op\" de 127.0.0.2 (2ª falha seguida com o token deste dispositivo)"_s;
    QStringList eightAtOnce;
    for (int i = 0; i < 8; ++i) {
        eightAtOnce << u"127.0.0.%1 op"_s.arg(i + 2);
    }
    QTest::newRow("concurrent guesses reserve the delay")
        << eightAtOnce << true << u"127.0.0.50"_s << false << true << QString();
}

void TestRpcSecurity::failedLoginsSlowDown()
{
    QFETCH(QStringList, failures);
    QFETCH(bool, concurrent);
    QFETCH(QString, from);
    QFETCH(bool, withToken);
    QFETCH(bool, waits);
    QFETCH(QString, logged);
    RpcServer::Limits limits;
    limits.failedLoginDelayMs = 20'000; // far longer than the test
    startServer(false, limits);
    QTest::failOnWarning(QRegularExpression(u"^(?!login recusado)"_s));
    if (!logged.isEmpty()) {
        QTest::ignoreMessage(QtWarningMsg, qPrintable(logged));
    }
    // A host that logged in before holds a token.
    RpcClient earlier;
    QString error;
    QVERIFY2(open(&earlier, {}, &error), qPrintable(error));
    const QString token = earlier.deviceToken();
    QVERIFY(!token.isEmpty());
    earlier.close();

    m_stats.passwordChecks = 0;
    std::vector<std::unique_ptr<RawPeer>> peers;
    for (const QString &failure : failures) {
        const QStringList parts = failure.split(u' ');
        auto peer = std::make_unique<RawPeer>();
        QVERIFY(peer->connectTo(m_server->port(), parts.at(0)));
        const QByteArray frame = RpcWire::loginFrame(testModule, parts.at(1), concurrent ? u"lenta"_s : u"errada"_s);
        if (concurrent) {
            peer->send(frame);
            peers.push_back(std::move(peer));
        } else {
            QVERIFY(!peer->login(parts.at(1), u"errada"_s, parts.size() > 2 ? token : QString()));
        }
    }
    for (auto &peer : peers) {
        QVERIFY(peer->read(10'000));
    }
    if (concurrent) {
        // Counted before they were checked: only the first three passed.
        QCOMPARE(m_stats.passwordChecks.load(), limits.failedLoginsBeforeDelay);
    }
    RawPeer probe;
    QVERIFY(probe.connectTo(m_server->port(), from));
    const bool in = probe.login(u"op"_s, u"secret"_s, withToken ? token : QString(), &error);
    QCOMPARE(in, !waits);
    if (waits) {
        QVERIFY2(error.contains(u"aguarde"_s), qPrintable(error));
    }
}

QTEST_GUILESS_MAIN(TestRpcSecurity)
#include "tst_rpcsecurity.moc"
