#include <QCborMap>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTest>
#include <QtEndian>

#include <functional>
#include <thread>

#include "RawPeer.h"
#include "Refusal.h"
#include "RpcClient.h"
#include "RpcServer.h"
#include "TestHandler.h"

namespace {

QByteArray header(quint32 length)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(length, bytes.data());
    return bytes;
}

QCborMap call(const QCborValue &id, const QCborValue &method, const QCborValue &args)
{
    return QCborMap{{u"type"_s, u"call"_s}, {u"id"_s, id}, {u"method"_s, method}, {u"args"_s, args}};
}

// A stand-in server, in a thread of its own, that answers the client's first
// frames with whatever a test scripts: the client must survive any of it.
class FakeServer
{
public:
    using Script = std::function<void(QTcpSocket &socket, FrameDecoder &decoder)>;

    explicit FakeServer(Script script)
    {
        std::atomic<bool> ready = false;
        m_thread = std::thread([this, script, &ready] {
            QTcpServer server;
            server.listen(QHostAddress::LocalHost, 0);
            m_port = server.serverPort();
            ready = true;
            if (!server.waitForNewConnection(10000)) {
                return;
            }
            QTcpSocket *socket = server.nextPendingConnection();
            FrameDecoder decoder;
            script(*socket, decoder);
            if (socket->state() == QAbstractSocket::ConnectedState) {
                socket->waitForBytesWritten(2000);
            }
            // Hold the connection until the client is done with it.
            while (socket->state() == QAbstractSocket::ConnectedState && !m_done) {
                socket->waitForReadyRead(50);
                socket->readAll();
            }
        });
        while (!ready) {
            QThread::msleep(1);
        }
    }
    ~FakeServer()
    {
        m_done = true;
        m_thread.join();
    }
    quint16 port() const { return m_port; }

    // Reads the next frame the client sent.
    static RpcMessage next(QTcpSocket &socket, FrameDecoder &decoder)
    {
        QByteArray payload;
        while (decoder.next(&payload) != FrameDecoder::Status::Frame) {
            if (!socket.waitForReadyRead(5000)) {
                return {};
            }
            decoder.feed(socket.readAll());
        }
        return RpcWire::parse(payload);
    }
    // Answers the login, then hands the first call to the test.
    static quint64 loginThenCall(QTcpSocket &socket, FrameDecoder &decoder)
    {
        next(socket, decoder);
        socket.write(RpcWire::loginReplyFrame(u"U"_s, u"O"_s));
        return next(socket, decoder).id.value_or(0);
    }

private:
    std::thread m_thread;
    std::atomic<quint16> m_port = 0;
    std::atomic<bool> m_done = false;
};

} // namespace

// Bad input on the wire, from either side: the server answers it or closes
// that one connection and goes on serving the others; the client turns it
// into a clear failure.
class TestRpcMalformed : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void badFramesAreAnswered_data();
    void badFramesAreAnswered();
    void oversizeFrameClosesConnection_data();
    void oversizeFrameClosesConnection();
    void truncatedFrameTimesOut();
    void truncatedFrameThenDisconnect();
    void silentConnectionMustLogIn();
    void repeatedWrongPasswordsClose();
    void secondLoginRefused();
    void byteByByteAndPipelined();
    void sessionThatCannotStart();

    void clientSurvivesBadServers_data();
    void clientSurvivesBadServers();
    void loginWithoutAnswer();

private:
    void startServer(const RpcServer::Limits &limits = {});
    void bystanderStillServed();

    HandlerStats m_stats;
    std::unique_ptr<RpcServer> m_server;
    std::unique_ptr<RpcClient> m_bystander;
};

void TestRpcMalformed::startServer(const RpcServer::Limits &limits)
{
    m_bystander.reset();
    m_server = std::make_unique<RpcServer>(testFactory(&m_stats));
    m_server->setLimits(limits);
    QString error;
    QVERIFY2(m_server->listen(QHostAddress::LocalHost, 0, &error), qPrintable(error));
    m_bystander = std::make_unique<RpcClient>();
    QVERIFY2(m_bystander->open(u"127.0.0.1"_s, m_server->port(), testModule, u"op"_s, u"secret"_s, 5000, &error),
             qPrintable(error));
}

void TestRpcMalformed::init()
{
    m_stats.created = 0;
    m_stats.destroyed = 0;
    m_stats.wrongThread = 0;
    startServer();
}

void TestRpcMalformed::cleanup()
{
    m_bystander.reset();
    m_server.reset();
    QCOMPARE(m_stats.destroyed.load(), m_stats.created.load());
    QCOMPARE(m_stats.wrongThread.load(), 0);
}

void TestRpcMalformed::bystanderStillServed()
{
    const RpcReply reply = m_bystander->call(u"echo"_s, {u"ainda aqui"_s}, 5000);
    QVERIFY2(reply.ok, qPrintable(reply.error));
    QCOMPARE(reply.value.toString(), u"ainda aqui"_s);
}

void TestRpcMalformed::badFramesAreAnswered_data()
{
    QTest::addColumn<bool>("loggedIn");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("kind"); // of the answer
    QTest::addColumn<qint64>("id"); // of the answer, -1 for none
    QTest::addColumn<QString>("hint");

    const int error = int(RpcMessage::Kind::Error);
    const int reply = int(RpcMessage::Kind::CallReply);
    const int login = int(RpcMessage::Kind::LoginReply);
    QByteArray deep = QByteArray("\xa2\x64type\x64"
                                 "call\x61x");
    deep += QByteArray(200'000, '\x81');
    QCborArray tooMany;
    for (int i = 0; i < 100; ++i) {
        tooMany.append(i);
    }

    QTest::newRow("garbage") << true << Frame::wrap("\xff\x00\x13garbage") << error << qint64(-1) << u"CBOR"_s;
    QTest::newRow("empty frame") << true << header(0) << error << qint64(-1) << u"vazio"_s;
    QTest::newRow("not a map") << true << frameOf(QCborArray{1, 2, 3}) << error << qint64(-1) << u"mapa"_s;
    QTest::newRow("text") << true << frameOf(u"call"_s) << error << qint64(-1) << u"mapa"_s;
    QTest::newRow("no type") << true << frameOf(QCborMap{{u"id"_s, 1}}) << error << qint64(-1) << u"\"type\""_s;
    QTest::newRow("unknown type") << true << frameOf(QCborMap{{u"type"_s, u"shutdown"_s}}) << error << qint64(-1)
                                  << u"desconhecido"_s;
    QTest::newRow("server's type") << true << frameOf(QCborMap{{u"type"_s, u"error"_s}, {u"error"_s, u"x"_s}}) << error
                                   << qint64(-1) << u"servidor"_s;
    QTest::newRow("broken reply") << true << frameOf(QCborMap{{u"type"_s, u"reply"_s}, {u"id"_s, 5}, {u"ok"_s, true}})
                                  << error << qint64(-1) << u"\"value\""_s;
    QTest::newRow("a reply") << true
                             << frameOf(
                                    QCborMap{{u"type"_s, u"reply"_s}, {u"id"_s, 5}, {u"ok"_s, true}, {u"value"_s, 1}})
                             << error << qint64(-1) << u"servidor"_s;
    QTest::newRow("id as text") << true << frameOf(call(u"1"_s, u"echo"_s, QCborArray())) << error << qint64(-1)
                                << u"\"id\""_s;
    QTest::newRow("method as number") << true << frameOf(call(5, 7, QCborArray())) << reply << qint64(5)
                                      << u"\"method\""_s;
    QTest::newRow("args missing") << true
                                  << frameOf(QCborMap{{u"type"_s, u"call"_s}, {u"id"_s, 6}, {u"method"_s, u"echo"_s}})
                                  << reply << qint64(6) << u"\"args\""_s;
    QTest::newRow("map argument") << true << frameOf(call(7, u"echo"_s, QCborArray{QCborMap{}})) << reply << qint64(7)
                                  << u"argumento 1"_s;
    QTest::newRow("too many arguments") << true << frameOf(call(8, u"echo"_s, tooMany)) << reply << qint64(8)
                                        << u"mais de 64"_s;
    QTest::newRow("deep nesting") << true << Frame::wrap(deep) << error << qint64(-1) << u"CBOR"_s;
    QTest::newRow("trailing bytes") << true
                                    << Frame::wrap(QCborValue(call(9, u"echo"_s, QCborArray())).toCbor() + "junk")
                                    << reply << qint64(9) << u"depois"_s;
    QTest::newRow("unknown method") << true << frameOf(call(10, u"DropTables"_s, QCborArray())) << reply << qint64(10)
                                    << u"Método desconhecido: DropTables"_s;
    QTest::newRow("wrong argument type") << true << frameOf(call(11, u"sum"_s, QCborArray{u"um"_s})) << reply
                                         << qint64(11) << u"não numérico"_s;
    QTest::newRow("call before login") << false << frameOf(call(12, u"echo"_s, QCborArray{1})) << reply << qint64(12)
                                       << u"ainda não fez login"_s;
    QTest::newRow("login without password")
        << false << frameOf(QCborMap{{u"type"_s, u"login"_s}, {u"server"_s, testModule}, {u"operator"_s, u"op"_s}})
        << login << qint64(-1) << u"\"password\""_s;
    QTest::newRow("login, operator past its useful length")
        << false << RpcWire::loginFrame(testModule, u"o"_s.repeated(13), u"secret"_s) << login << qint64(-1)
        << u"\"operator\" passa de 12 caracteres"_s;
    // A login malformed so is answered as a login and is no refused login (the
    // connection stays open, with its three attempts).
    QTest::newRow("login with bytes after its map")
        << false << Frame::wrap(RpcWire::loginFrame(testModule, u"op"_s, u"secret"_s).mid(Frame::headerBytes) + "x")
        << login << qint64(-1) << u"depois do mapa"_s;
    QTest::newRow("login, password past its useful length")
        << false << RpcWire::loginFrame(testModule, u"op"_s, u"s"_s.repeated(257)) << login << qint64(-1)
        << u"\"password\" passa de 256 caracteres"_s;
}

void TestRpcMalformed::badFramesAreAnswered()
{
    QFETCH(bool, loggedIn);
    QFETCH(QByteArray, bytes);
    QFETCH(int, kind);
    QFETCH(qint64, id);
    QFETCH(QString, hint);

    RawPeer peer;
    QVERIFY(peer.connectTo(m_server->port()));
    if (loggedIn) {
        QVERIFY(peer.login());
    }
    peer.send(bytes);
    const auto answer = peer.read();
    QVERIFY(answer);
    QCOMPARE(int(answer->kind), kind);
    QCOMPARE(answer->ok, false);
    QVERIFY2(answer->error.contains(hint), qPrintable(answer->error));
    QCOMPARE(answer->id ? qint64(*answer->id) : qint64(-1), id);

    // The connection survives a bad message: its framing is intact.
    QVERIFY(peer.isConnected());
    peer.send(RpcWire::callFrame(99, u"echo"_s, {u"depois"_s}));
    const auto after = peer.read();
    QVERIFY(after);
    QCOMPARE(after->id, std::optional<quint64>(99));
    QCOMPARE(after->ok, loggedIn);
    bystanderStillServed();
}

void TestRpcMalformed::oversizeFrameClosesConnection_data()
{
    QTest::addColumn<bool>("loggedIn");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("budget"); // of memory in flight; 0 for the default
    QTest::addColumn<QString>("hint");
    const QString overLimit = u"acima do limite de 67108864 bytes"_s;
    QTest::newRow("largest length") << true << header(0xFFFFFFFFu) << qint64(0) << overLimit;
    QTest::newRow("one byte over") << true << header(Frame::maxPayloadBytes + 1) + QByteArray(1000, '\0') << qint64(0)
                                   << overLimit;
    QTest::newRow("before login, past 4 KiB")
        << false << header(4097) + QByteArray(1000, '\0') << qint64(0) << u"acima do limite de 4096 bytes"_s;
    QTest::newRow("past the memory budget") << true << header(1 << 20) + QByteArray(1000, '\0') << qint64(2 << 20)
                                            << u"sem memória livre para uma mensagem de 1048576 bytes"_s;
}

void TestRpcMalformed::oversizeFrameClosesConnection()
{
    QFETCH(bool, loggedIn);
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, budget);
    QFETCH(QString, hint);
    if (budget > 0) {
        RpcServer::Limits limits;
        limits.memoryBudgetBytes = budget;
        startServer(limits);
    }
    RawPeer peer;
    QVERIFY(peer.connectTo(m_server->port()));
    if (loggedIn) {
        QVERIFY(peer.login());
    }
    peer.send(bytes);
    const auto answer = peer.read();
    QVERIFY(answer);
    QCOMPARE(answer->kind, RpcMessage::Kind::Error);
    QVERIFY2(answer->error.contains(hint), qPrintable(answer->error));
    QVERIFY(peer.waitClosed());
    bystanderStillServed();
}

void TestRpcMalformed::truncatedFrameTimesOut()
{
    RpcServer::Limits limits;
    limits.incompleteFrameTimeoutMs = 300;
    startServer(limits);
    RawPeer peer;
    QVERIFY(peer.connectTo(m_server->port()));
    QVERIFY(peer.login());
    const QByteArray frame = RpcWire::callFrame(1, u"echo"_s, {u"nunca termina"_s});
    QElapsedTimer clock;
    clock.start();
    peer.send(frame.first(frame.size() - 3));
    bystanderStillServed(); // served while the other connection hangs halfway
    const auto answer = peer.read();
    QVERIFY(answer);
    QCOMPARE(answer->kind, RpcMessage::Kind::Error);
    QVERIFY2(answer->error.startsWith(u"Quadro incompleto"_s), qPrintable(answer->error));
    QVERIFY(peer.waitClosed());
    QVERIFY(clock.elapsed() >= 250);
    bystanderStillServed();
}

void TestRpcMalformed::truncatedFrameThenDisconnect()
{
    {
        RawPeer peer;
        QVERIFY(peer.connectTo(m_server->port()));
        QVERIFY(peer.login());
        peer.send(header(100) + "only a little");
        peer.disconnect();
    }
    // The session ends at once (its handler goes with it), not at a time limit.
    QTRY_COMPARE_WITH_TIMEOUT(m_stats.destroyed.load(), 1, 5000);
    bystanderStillServed();
}

void TestRpcMalformed::silentConnectionMustLogIn()
{
    RpcServer::Limits limits;
    limits.loginTimeoutMs = 300;
    startServer(limits);
    RawPeer peer;
    QVERIFY(peer.connectTo(m_server->port()));
    const auto answer = peer.read();
    QVERIFY(answer);
    QCOMPARE(answer->kind, RpcMessage::Kind::Error);
    QCOMPARE(answer->error, u"Nenhum login em 0,3 s; conexão encerrada pelo servidor de aplicação."_s);
    QVERIFY(peer.waitClosed());
    // A logged-in session that stays quiet is left alone.
    QThread::msleep(400);
    bystanderStillServed();
}

void TestRpcMalformed::repeatedWrongPasswordsClose()
{
    RawPeer peer;
    QVERIFY(peer.connectTo(m_server->port()));
    for (int attempt = 1; attempt <= 3; ++attempt) {
        peer.send(RpcWire::loginFrame(testModule, u"op"_s, u"guess%1"_s.arg(attempt)));
        const auto answer = peer.read();
        QVERIFY(answer);
        QCOMPARE(answer->kind, RpcMessage::Kind::LoginReply);
        QVERIFY(!answer->ok);
        if (attempt < 3) {
            QCOMPARE(answer->error, u"Operador ou senha inválidos."_s);
            QVERIFY(peer.isConnected());
        } else {
            QCOMPARE(answer->error, u"Operador ou senha inválidos. Conexão encerrada após 3 tentativas sem sucesso."_s);
        }
    }
    QVERIFY(peer.waitClosed());
    bystanderStillServed();
}

void TestRpcMalformed::secondLoginRefused()
{
    RawPeer peer;
    QVERIFY(peer.connectTo(m_server->port()));
    QVERIFY(peer.login());
    peer.send(RpcWire::loginFrame(testModule, u"op"_s, u"secret"_s));
    const auto answer = peer.read();
    QVERIFY(answer);
    QCOMPARE(answer->kind, RpcMessage::Kind::LoginReply);
    QVERIFY(!answer->ok);
    QCOMPARE(answer->error, u"Esta sessão já fez login."_s);
    QVERIFY(peer.isConnected());
}

void TestRpcMalformed::byteByByteAndPipelined()
{
    RawPeer peer;
    QVERIFY(peer.connectTo(m_server->port()));
    const QByteArray loginFrame = RpcWire::loginFrame(testModule, u"op"_s, u"secret"_s);
    for (char byte : loginFrame) {
        peer.send(QByteArray(1, byte));
    }
    const auto login = peer.read();
    QVERIFY(login && login->kind == RpcMessage::Kind::LoginReply && login->ok);
    // Three calls in one write: three answers, in order.
    peer.send(RpcWire::callFrame(1, u"echo"_s, {u"a"_s}) + RpcWire::callFrame(2, u"throwDatabase"_s, {})
              + RpcWire::callFrame(3, u"echo"_s, {u"c"_s}));
    for (quint64 id = 1; id <= 3; ++id) {
        const auto answer = peer.read();
        QVERIFY(answer);
        QCOMPARE(answer->id, std::optional<quint64>(id));
        QCOMPARE(answer->ok, id != 2);
    }
}

void TestRpcMalformed::sessionThatCannotStart()
{
    RpcServer broken([]() -> std::unique_ptr<SessionHandler> {
        throw EDatabaseError(u"Não foi possível abrir o banco de dados."_s);
    });
    QString error;
    QVERIFY(broken.listen(QHostAddress::LocalHost, 0, &error));
    QTest::ignoreMessage(QtWarningMsg, "session not created: \"Não foi possível abrir o banco de dados.\"");
    RpcClient client;
    QVERIFY(!client.open(u"127.0.0.1"_s, broken.port(), testModule, u"op"_s, u"secret"_s, 5000, &error));
    QCOMPARE(error, u"O servidor de aplicação não pôde abrir a sessão: Não foi possível abrir o banco de dados."_s);
}

void TestRpcMalformed::clientSurvivesBadServers_data()
{
    QTest::addColumn<int>("script");
    QTest::addColumn<QString>("message");
    QTest::newRow("answer to another call")
        << 0 << u"Resposta inválida do servidor de aplicação: esperada a resposta 1, chegou a 77."_s;
    QTest::newRow("garbage") << 1
                             << u"Resposta inválida do servidor de aplicação: Mensagem inválida: CBOR malformado"_s;
    QTest::newRow("oversize length")
        << 2
        << u"Resposta inválida do servidor de aplicação: O quadro declara 4294967295 bytes, acima do limite de 67108864 bytes."_s;
    QTest::newRow("closed halfway") << 3 << u"A conexão com o servidor de aplicação foi perdida."_s;
    QTest::newRow("never answers") << 4 << u"O servidor de aplicação não respondeu em 0,5 s."_s;
    QTest::newRow("answers a login") << 5 << u"Resposta inválida do servidor de aplicação à chamada echo."_s;
    QTest::newRow("failure without text")
        << 6 << u"O servidor de aplicação recusou a chamada echo sem dizer o motivo."_s;
}

void TestRpcMalformed::clientSurvivesBadServers()
{
    QFETCH(int, script);
    QFETCH(QString, message);
    FakeServer fake([script](QTcpSocket &socket, FrameDecoder &decoder) {
        const quint64 id = FakeServer::loginThenCall(socket, decoder);
        switch (script) {
        case 0:
            socket.write(RpcWire::replyFrame(77, 1.0));
            break;
        case 1:
            socket.write(Frame::wrap("\xff\xff\xff"));
            break;
        case 2:
            socket.write(header(0xFFFFFFFFu));
            break;
        case 3:
            socket.write(RpcWire::replyFrame(id, u"metade"_s).chopped(3));
            socket.waitForBytesWritten(2000);
            socket.close();
            break;
        case 4:
            break;
        case 5:
            socket.write(RpcWire::loginReplyFrame(u"U"_s, u"O"_s));
            break;
        case 6:
            socket.write(RpcWire::failureFrame(id, QString()));
            break;
        }
    });
    RpcClient client;
    QString error;
    QVERIFY2(client.open(u"127.0.0.1"_s, fake.port(), testModule, u"op"_s, u"x"_s, 5000, &error), qPrintable(error));
    QElapsedTimer clock;
    clock.start();
    const RpcReply reply = client.call(u"echo"_s, {1}, 500);
    QVERIFY(clock.elapsed() < 3000);
    QVERIFY2(refusalOf(reply).startsWith(message), qPrintable(refusalOf(reply)));
    // A failure that says nothing about the stream leaves the session open.
    QCOMPARE(client.isOpen(), script == 6);
}

void TestRpcMalformed::loginWithoutAnswer()
{
    FakeServer fake([](QTcpSocket &socket, FrameDecoder &decoder) { FakeServer::next(socket, decoder); });
    RpcClient client;
    QString error;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!client.open(u"127.0.0.1"_s, fake.port(), testModule, u"op"_s, u"x"_s, 500, &error));
    QVERIFY(clock.elapsed() < 3000);
    // The whole limit is named, not what was left of it after connecting.
    QCOMPARE(error, u"O servidor de aplicação não respondeu em 0,5 s."_s);
    QVERIFY(!client.isOpen());
}

QTEST_GUILESS_MAIN(TestRpcMalformed)
#include "tst_rpcmalformed.moc"
