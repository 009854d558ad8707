#include <QElapsedTimer>
#include <QTcpServer>
#include <QTest>

#include <functional>
#include <thread>

#include "Exceptions.h"
#include "Packet.h"
#include "Refusal.h"
#include "RpcClient.h"
#include "RpcServer.h"
#include "TestHandler.h"

// A client and a real server on a loopback port: logins, values, failures,
// time limits, many clients at once, and a server that goes away.
class TestRpc : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void loginGivesSessionIdentity();
    void loginRefused_data();
    void loginRefused();
    void nothingListening();

    void valuesTravel_data();
    void valuesTravel();
    void argumentsArriveAsWireTypes();
    void failuresComeBackAsMessages_data();
    void failuresComeBackAsMessages();
    void callerMistakesKeepSessionOpen_data();
    void callerMistakesKeepSessionOpen();
    void callWithoutConnection();
    void outOfMemoryEndsItsConnectionOnly();

    void timeoutGivesClearFailure();
    void serverStoppedWhileIdle();
    void serverStoppedDuringCall();

    void manyClientsAtOnce();
    void sessionLimit();
    void listenErrors();

private:
    bool open(RpcClient *client, QString *error = nullptr, const QString &password = u"secret"_s);

    HandlerStats m_stats;
    std::unique_ptr<RpcServer> m_server;
};

void TestRpc::init()
{
    m_stats.created = 0;
    m_stats.destroyed = 0;
    m_stats.wrongThread = 0;
    m_server = std::make_unique<RpcServer>(testFactory(&m_stats));
    QString error;
    QVERIFY2(m_server->listen(QHostAddress::LocalHost, 0, &error), qPrintable(error));
    QVERIFY(m_server->port() != 0);
}

void TestRpc::cleanup()
{
    m_server.reset();
    // Every session ended with the server, each handler in its own thread.
    QCOMPARE(m_stats.destroyed.load(), m_stats.created.load());
    QCOMPARE(m_stats.wrongThread.load(), 0);
}

bool TestRpc::open(RpcClient *client, QString *error, const QString &password)
{
    QString why;
    const bool ok = client->open(u"127.0.0.1"_s, m_server->port(), testModule, u"op"_s, password, 5000, &why);
    if (error) {
        *error = why;
    }
    if (!ok && !error) {
        qWarning() << why;
    }
    return ok;
}

void TestRpc::loginGivesSessionIdentity()
{
    RpcClient client;
    QVERIFY(!client.isOpen());
    QVERIFY(open(&client));
    QVERIFY(client.isOpen());
    QCOMPARE(client.unitName(), u"Unidade Centro"_s);
    QCOMPARE(client.operatorName(), u"Operador de Teste"_s);
    client.close();
    QVERIFY(!client.isOpen());
    QVERIFY(client.unitName().isEmpty());
}

void TestRpc::loginRefused_data()
{
    QTest::addColumn<QString>("module");
    QTest::addColumn<QString>("operatorCode");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("message");
    QTest::newRow("wrong password") << testModule << u"op"_s << u"nope"_s << u"Operador ou senha inválidos."_s;
    QTest::newRow("unknown operator") << testModule << u"ghost"_s << u"secret"_s << u"Operador ou senha inválidos."_s;
    QTest::newRow("unknown module") << u"PRU99999.rdmOutro"_s << u"op"_s << u"secret"_s
                                    << u"Módulo remoto desconhecido: PRU99999.rdmOutro"_s;
    QTest::newRow("handler throws") << testModule << u"boom"_s << u"x"_s << u"Banco de dados fora do ar."_s;
}

void TestRpc::loginRefused()
{
    QFETCH(QString, module);
    QFETCH(QString, operatorCode);
    QFETCH(QString, password);
    QFETCH(QString, message);
    RpcClient client;
    QString error;
    QVERIFY(!client.open(u"127.0.0.1"_s, m_server->port(), module, operatorCode, password, 5000, &error));
    QCOMPARE(error, message);
    QVERIFY(!client.isOpen());
    // A refused client can log in again with the right password.
    QVERIFY(open(&client));
}

void TestRpc::nothingListening()
{
    QTcpServer placeholder; // a port that was free a moment ago
    QVERIFY(placeholder.listen(QHostAddress::LocalHost, 0));
    const quint16 port = placeholder.serverPort();
    placeholder.close();
    RpcClient client;
    QString error;
    QVERIFY(!client.open(u"127.0.0.1"_s, port, testModule, u"op"_s, u"secret"_s, 3000, &error));
    QVERIFY2(error.startsWith(u"Não foi possível conectar ao servidor de aplicação em 127.0.0.1:"_s),
             qPrintable(error));
}

void TestRpc::valuesTravel_data()
{
    QTest::addColumn<QCborValue>("value");
    QTest::addColumn<QString>("form"); // the one typed accessor that takes it
    DataPacket packet;
    packet.fields = {{u"NRPROCESSOFILIAL"_s, FieldType::Number, 0}, {u"NMPROCESSO"_s, FieldType::Text, 40}};
    packet.rows = {{1.0, u"Abertura do caixa"_s}, {2.0, QVariant()}};
    QTest::newRow("number") << QCborValue(45678.5) << u"number"_s;
    QTest::newRow("negative key") << QCborValue(-3.0) << u"number"_s;
    QTest::newRow("text") << QCborValue(u"Observação com acentos ção"_s) << u"text"_s;
    QTest::newRow("empty text") << QCborValue(u""_s) << u"text"_s;
    QTest::newRow("null") << QCborValue(nullptr) << u"null"_s;
    QTest::newRow("data packet") << QCborValue(packet.encode()) << u"packet"_s;
    QTest::newRow("large packet") << QCborValue(QByteArray(8 * 1024 * 1024, '\x5a')) << u"packet"_s;
}

void TestRpc::valuesTravel()
{
    QFETCH(QCborValue, value);
    RpcClient client;
    QVERIFY(open(&client));
    const RpcReply reply = client.call(u"echo"_s, {value}, 10000);
    QVERIFY2(reply.ok, qPrintable(reply.error));
    QVERIFY(reply.error.isEmpty());
    QCOMPARE(reply.value, value);

    // Each typed accessor gives its own form and refuses the others, naming the call.
    QFETCH(QString, form);
    QCOMPARE(reply.isNull(), form == u"null"_s);
    const QList<std::pair<QString, std::function<QCborValue()>>> accessors{
        {u"packet"_s, [&] { return QCborValue(reply.packet()); }},
        {u"number"_s, [&] { return QCborValue(reply.number()); }},
        {u"text"_s, [&] { return QCborValue(reply.text()); }},
    };
    for (const auto &[name, read] : accessors) {
        if (name == form) {
            QCOMPARE(read(), value);
            continue;
        }
        const QString said = refusalOf([&] { read(); });
        QVERIFY2(said.startsWith(u"Resposta inesperada do servidor para echo: "_s), qPrintable(said));
    }
}

void TestRpc::argumentsArriveAsWireTypes()
{
    RpcClient client;
    QVERIFY(open(&client));
    // Integers travel as numbers and arrive as doubles; undefined arrives as null.
    const RpcReply reply = client.call(u"types"_s, {1, 2.5, u"t"_s, QByteArray("p"), nullptr, QCborValue()}, 5000);
    QVERIFY2(reply.ok, qPrintable(reply.error));
    QCOMPARE(reply.value.toString(), u"Double,Double,String,ByteArray,Null,Null"_s);
    const RpcReply sum = client.call(u"sum"_s, {1, 2, 3.5}, 5000);
    QCOMPARE(sum.value.toDouble(), 6.5);
    const RpcReply nothing = client.call(u"nothing"_s, {}, 5000);
    QVERIFY(nothing.ok);
    QVERIFY(nothing.value.isNull());
}

void TestRpc::failuresComeBackAsMessages_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("logged"); // what the server writes to its log, if anything
    QTest::newRow("database error") << u"throwDatabase"_s << u"Registro alterado por outro usuário."_s << QString();
    QTest::newRow("standard exception") << u"throwStd"_s << u"falha padrão"_s << QString();
    QTest::newRow("silent stop") << u"abort"_s << u"A operação abort foi interrompida no servidor de aplicação."_s
                                 << QString();
    QTest::newRow("anything else") << u"throwInt"_s << u"Erro interno do servidor de aplicação no método throwInt."_s
                                   << u"method \"throwInt\" threw an unknown exception"_s;
    QTest::newRow("unknown method") << u"GetNada"_s << u"Método desconhecido: GetNada"_s << QString();
    QTest::newRow("wrong argument type") << u"sum"_s << u"sum: argumento não numérico."_s << QString();
    QTest::newRow("value that cannot travel")
        << u"badValue"_s << u"O método badValue devolveu um valor que não pode ser enviado."_s
        << u"method \"badValue\" returned a value of type QCborValue::Array"_s;
    QTest::newRow("reply over the limit")
        << u"huge"_s << u"A resposta do método huge excede o limite de 67108864 bytes por mensagem."_s << QString();
}

void TestRpc::failuresComeBackAsMessages()
{
    QFETCH(QString, method);
    QFETCH(QString, message);
    QFETCH(QString, logged);
    if (!logged.isEmpty()) {
        QTest::ignoreMessage(QtWarningMsg, qPrintable(logged));
    }
    RpcClient client;
    QVERIFY(open(&client));
    const RpcReply reply = client.call(method, {u"texto"_s}, 10000);
    QCOMPARE(refusalOf(reply), message);
    QVERIFY(reply.value.isUndefined());
    // The session goes on: a failure belongs to its call only.
    QVERIFY(client.isOpen());
    QCOMPARE(client.call(u"calls"_s, {}, 5000).value.toDouble(), 2.0);
}

// An allocation that fails while a call runs closes that connection; the
// server and its other sessions go on.
void TestRpc::outOfMemoryEndsItsConnectionOnly()
{
    QTest::ignoreMessage(QtWarningMsg, "memória esgotada numa mensagem de 127.0.0.1; conexão encerrada");
    RpcClient client;
    RpcClient other;
    QVERIFY(open(&client) && open(&other));
    const RpcReply reply = client.call(u"outOfMemory"_s, {}, 5000);
    QCOMPARE(reply.error, u"A conexão com o servidor de aplicação foi perdida."_s);
    QVERIFY(!client.isOpen());
    QVERIFY(other.call(u"echo"_s, {u"ainda"_s}, 5000).ok);
    QVERIFY(open(&client));
}

void TestRpc::callerMistakesKeepSessionOpen_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QCborArray>("args");
    QTest::addColumn<QString>("message");
    QCborArray tooMany;
    for (int i = 0; i < 65; ++i) {
        tooMany.append(i);
    }
    QTest::newRow("map argument")
        << u"echo"_s << QCborArray{1, QCborMap()}
        << u"O argumento 2 da chamada echo não pode ser enviado: só nulo, número finito, texto ou pacote."_s;
    QTest::newRow("NaN")
        << u"echo"_s << QCborArray{qQNaN()}
        << u"O argumento 1 da chamada echo não pode ser enviado: só nulo, número finito, texto ou pacote."_s;
    QTest::newRow("too many") << u"echo"_s << tooMany << u"A chamada echo tem mais de 64 argumentos."_s;
    QTest::newRow("no name") << QString() << QCborArray() << u"Nome de método inválido: \"\"."_s;
    QTest::newRow("too large") << u"echo"_s << QCborArray{QByteArray(Frame::maxPayloadBytes, 'x')}
                               << u"A chamada echo excede o limite de 67108864 bytes por mensagem."_s;
}

void TestRpc::callerMistakesKeepSessionOpen()
{
    QFETCH(QString, method);
    QFETCH(QCborArray, args);
    QFETCH(QString, message);
    RpcClient client;
    QVERIFY(open(&client));
    const RpcReply reply = client.call(method, args, 5000);
    QCOMPARE(refusalOf(reply), message);
    QVERIFY(client.isOpen());
    // Nothing was sent: the server saw no call.
    QCOMPARE(client.call(u"calls"_s, {}, 5000).value.toDouble(), 1.0);
}

void TestRpc::callWithoutConnection()
{
    RpcClient client;
    const RpcReply reply = client.call(u"echo"_s, {}, 1000);
    QCOMPARE(refusalOf(reply), u"Não há conexão com o servidor de aplicação."_s);
    // A failure read through an accessor is the failure itself.
    QVERIFY(!reply.isNull());
    QCOMPARE(refusalOf([&] { reply.packet(); }), reply.error);
}

void TestRpc::timeoutGivesClearFailure()
{
    RpcClient client;
    QVERIFY(open(&client));
    QElapsedTimer clock;
    clock.start();
    const RpcReply reply = client.call(u"slow"_s, {3000}, 300);
    QVERIFY(clock.elapsed() < 2500);
    QCOMPARE(refusalOf(reply), u"O servidor de aplicação não respondeu em 0,3 s."_s);
    // The late reply must never be taken for the answer of a later call.
    QVERIFY(!client.isOpen());
    QCOMPARE(refusalOf(client.call(u"echo"_s, {1}, 1000)), u"Não há conexão com o servidor de aplicação."_s);
    QVERIFY(open(&client));
    QCOMPARE(client.call(u"echo"_s, {1}, 5000).value.toDouble(), 1.0);
}

void TestRpc::serverStoppedWhileIdle()
{
    RpcClient client;
    QVERIFY(open(&client));
    QVERIFY(client.call(u"echo"_s, {1}, 5000).ok);
    m_server->close();
    QElapsedTimer clock;
    clock.start();
    const RpcReply reply = client.call(u"echo"_s, {2}, 20000);
    QVERIFY(clock.elapsed() < 5000);
    const QString said = refusalOf(reply);
    QVERIFY2(said == u"O servidor de aplicação foi encerrado."_s
                 || said == u"A conexão com o servidor de aplicação foi perdida."_s,
             qPrintable(said));
    QVERIFY(!client.isOpen());
    QString error;
    QVERIFY(!client.open(u"127.0.0.1"_s, m_server->port(), testModule, u"op"_s, u"secret"_s, 2000, &error));
}

void TestRpc::serverStoppedDuringCall()
{
    // The client lives in a thread of its own: a socket is used where it was made.
    std::atomic<bool> calling = false;
    RpcReply slow;
    RpcReply after;
    QString error;
    std::thread caller([&] {
        RpcClient client;
        if (!client.open(u"127.0.0.1"_s, m_server->port(), testModule, u"op"_s, u"secret"_s, 5000, &error)) {
            calling = true;
            return;
        }
        calling = true;
        slow = client.call(u"slow"_s, {800}, 20000);
        after = client.call(u"echo"_s, {1}, 5000);
    });
    QTRY_VERIFY(calling.load());
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QThread::msleep(200);
    QElapsedTimer clock;
    clock.start();
    m_server->close(); // waits for the call in progress
    QVERIFY(clock.elapsed() >= 300);
    caller.join();
    // The call either got its answer before the session ended, or a clear failure.
    QVERIFY2(slow.ok || !slow.error.isEmpty(), "neither a value nor a failure");
    if (slow.ok) {
        QCOMPARE(slow.value.toString(), u"done"_s);
    }
    QVERIFY(saysWhy(refusalOf(after)));
}

void TestRpc::manyClientsAtOnce()
{
    constexpr int clients = 16;
    constexpr int calls = 40;
    std::vector<std::thread> threads;
    std::atomic<int> good = 0;
    QList<QString> sessionThreads(clients);
    QList<QString> failures(clients);
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            RpcClient client;
            QString error;
            if (!client.open(u"127.0.0.1"_s, m_server->port(), testModule, u"op"_s, u"secret"_s, 10000, &error)) {
                failures[c] = error;
                return;
            }
            sessionThreads[c] = client.call(u"thread"_s, {}, 10000).value.toString();
            for (int i = 0; i < calls; ++i) {
                const QString text = u"cliente %1 chamada %2"_s.arg(c).arg(i);
                const RpcReply reply =
                    i % 5 == 0 ? client.call(u"slow"_s, {5}, 10000) : client.call(u"echo"_s, {text}, 10000);
                const bool right =
                    reply.ok && (i % 5 == 0 ? reply.value.toString() == u"done" : reply.value.toString() == text);
                if (!right) {
                    failures[c] = u"call %1: %2"_s.arg(i).arg(reply.error);
                    return;
                }
            }
            // Each connection has a handler of its own, which saw only its own calls.
            if (client.call(u"calls"_s, {}, 10000).value.toDouble() != calls + 2) {
                failures[c] = u"handler shared between sessions"_s;
                return;
            }
            ++good;
        });
    }
    for (std::thread &t : threads) {
        t.join();
    }
    for (const QString &failure : failures) {
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }
    QCOMPARE(good.load(), clients);
    // Each session ran in a thread of its own.
    QCOMPARE(QSet<QString>(sessionThreads.begin(), sessionThreads.end()).size(), clients);
    QCOMPARE(m_stats.created.load(), clients);
}

void TestRpc::sessionLimit()
{
    m_server.reset();
    m_server = std::make_unique<RpcServer>(testFactory(&m_stats));
    RpcServer::Limits limits;
    limits.maxSessions = 2;
    m_server->setLimits(limits);
    QString error;
    QVERIFY(m_server->listen(QHostAddress::LocalHost, 0, &error));
    RpcClient first;
    RpcClient second;
    RpcClient third;
    QVERIFY(open(&first));
    QVERIFY(open(&second));
    QVERIFY(!open(&third, &error));
    QCOMPARE(error, u"O servidor de aplicação atingiu o limite de 2 sessões simultâneas; tente mais tarde."_s);
    // A session that ends makes room again.
    first.close();
    QDeadlineTimer deadline(5000);
    bool opened = false;
    while (!opened && !deadline.hasExpired()) {
        opened = open(&third, &error);
        if (!opened) {
            QThread::msleep(20);
        }
    }
    QVERIFY2(opened, qPrintable(error));
    QVERIFY(second.call(u"echo"_s, {1}, 5000).ok);
    QVERIFY(third.call(u"echo"_s, {1}, 5000).ok);
}

void TestRpc::listenErrors()
{
    QString error;
    QVERIFY(!m_server->listen(QHostAddress::LocalHost, 0, &error));
    QVERIFY(error.contains(QString::number(m_server->port())));
    RpcServer other(testFactory(&m_stats));
    QVERIFY(!other.listen(QHostAddress::LocalHost, m_server->port(), &error));
    QVERIFY2(error.startsWith(u"Não foi possível escutar em 127.0.0.1:%1"_s.arg(m_server->port())), qPrintable(error));
    QVERIFY(!other.isListening());
    other.close(); // harmless when not listening
}

QTEST_GUILESS_MAIN(TestRpc)
#include "tst_rpc.moc"
