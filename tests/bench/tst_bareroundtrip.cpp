// The bare round trip the benchmarks set calls against: a loopback echo that
// reads exactly the request and answers exactly the reply size asked for.

#include <QTcpSocket>
#include <QTest>
#include <QtEndian>

#include <memory>

#include "BareRoundTrip.h"
#include "RpcWire.h"

using namespace Qt::StringLiterals;

class TestBareRoundTrip : public QObject
{
    Q_OBJECT

private slots:
    void roundTripsOfTheSizesAsked()
    {
        BareEchoServer server;
        QVERIFY(server.isListening());
        QVERIFY(server.port() != 0);
        BareRoundTrip trip(server.port());
        QVERIFY(trip.isOpen());
        QVERIFY(trip.run(52, 2023));
        QVERIFY(trip.run(45, 88275));
        QVERIFY(trip.run(1, 1)); // at least the eight bytes that say the sizes
        QVERIFY(trip.meanMicros(55, 686, 20) > 0);
    }

    // A raw peer sees the reply's exact size, and requests sent together are
    // answered one after the other, each cut where its own size says.
    void exactBytesEachWay()
    {
        BareEchoServer server;
        QTcpSocket peer;
        peer.connectToHost(u"127.0.0.1"_s, server.port());
        QVERIFY(peer.waitForConnected(10'000));
        const auto request = [](quint32 requestBytes, quint32 replyBytes) {
            QByteArray bytes(int(requestBytes), 'x');
            qToBigEndian(requestBytes, bytes.data());
            qToBigEndian(replyBytes, bytes.data() + 4);
            return bytes;
        };
        peer.write(request(100, 3000) + request(9, 17));
        QByteArray got;
        while (got.size() < 3017 && peer.waitForReadyRead(10'000)) {
            got += peer.readAll();
        }
        QCOMPARE(got.size(), 3017);
        QVERIFY(!peer.waitForReadyRead(200)); // nothing more than was asked
    }

    // A length no frame could have ends that connection only.
    void oversizedRequestDropsTheConnection()
    {
        BareEchoServer server;
        QTcpSocket peer;
        peer.connectToHost(u"127.0.0.1"_s, server.port());
        QVERIFY(peer.waitForConnected(10'000));
        QByteArray bytes(8, '\0');
        qToBigEndian(quint32(Frame::maxPayloadBytes) + 1, bytes.data());
        qToBigEndian(quint32(8), bytes.data() + 4);
        peer.write(bytes);
        QVERIFY(peer.waitForDisconnected(10'000));
        BareRoundTrip other(server.port());
        QVERIFY(other.run(20, 20));
    }

    void severalConnectionsAtOnce()
    {
        BareEchoServer server;
        BareRoundTrip first(server.port());
        BareRoundTrip second(server.port());
        for (int i = 0; i < 10; ++i) {
            QVERIFY(first.run(30 + i, 500 + i));
            QVERIFY(second.run(40 + i, 700 + i));
        }
    }

    // The server stops with a client still connected, and the client then
    // says it failed instead of waiting.
    void stoppingWithAClientConnected()
    {
        auto server = std::make_unique<BareEchoServer>();
        BareRoundTrip trip(server->port());
        QVERIFY(trip.run(10, 10));
        server.reset();
        QVERIFY(!trip.run(10, 10));
        QVERIFY(!trip.isOpen());
        QCOMPARE(trip.meanMicros(10, 10, 3), -1.0);
    }

    // The sizes a benchmark takes for a call are the wire's own frames.
    void callAndReplySizesAreTheFrames()
    {
        const QCborArray args{QCborValue(12.0)};
        QCOMPARE(BareRoundTrip::callBytes(u"GetTarefas"_s, args), RpcWire::callFrame(1, u"GetTarefas"_s, args).size());
        const QCborValue value(QByteArray(1000, 'p'));
        QCOMPARE(BareRoundTrip::replyBytes(value), RpcWire::replyFrame(1, value).size());
        QVERIFY(BareRoundTrip::replyBytes(value) > 1000);
    }
};

QTEST_GUILESS_MAIN(TestBareRoundTrip)
#include "tst_bareroundtrip.moc"
