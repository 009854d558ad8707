#include <QCborMap>
#include <QtEndian>
#include <QTest>

#include "RpcWire.h"
#include "Secret.h"

using namespace Qt::StringLiterals;

namespace {

QByteArray header(quint32 length)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(length, bytes.data());
    return bytes;
}

QByteArray payloadOf(const QByteArray &frame)
{
    return frame.mid(Frame::headerBytes);
}

QCborMap callMap(const QCborArray &args)
{
    return QCborMap{{u"type"_s, u"call"_s}, {u"id"_s, 3}, {u"method"_s, u"m"_s}, {u"args"_s, args}};
}

} // namespace

class TestFrame : public QObject
{
    Q_OBJECT

private slots:
    // Cutting a stream into frames.
    void decoderAnySplit();
    void decoderLimit_data();
    void decoderLimit();
    void decoderOversizeNeedsOnlyTheHeader();
    void decoderEmptyPayload();

    // Messages built here come back the same through the parser.
    void roundTrip_data();
    void roundTrip();
    void numbersBecomeDoubles_data();
    void numbersBecomeDoubles();
    void chunkedStringsAndUnknownKeys();

    // What the parser refuses, and what it still tells about the refused message.
    void invalidMessages_data();
    void invalidMessages();

    // What the builders refuse to send.
    void buildersRefuse();

    // Passwords are zeroed where this copy alone holds them.
    void secretsAreZeroed();
};

void TestFrame::decoderAnySplit()
{
    const QList<QByteArray> frames{RpcWire::loginFrame(u"S"_s, u"op"_s, u"pw"_s),
                                   RpcWire::callFrame(1, u"echo"_s, {1.5, u"texto"_s}), Frame::wrap(QByteArray()),
                                   RpcWire::replyFrame(2, QByteArray(300, '\x01'))};
    const QByteArray stream = frames.join();
    // Every way of cutting the stream in two, and byte by byte, gives the same frames.
    for (qsizetype cut = 0; cut <= stream.size(); ++cut) {
        FrameDecoder decoder;
        QList<QByteArray> got;
        QByteArray payload;
        decoder.feed(QByteArrayView(stream).first(cut));
        while (decoder.next(&payload) == FrameDecoder::Status::Frame) {
            got << payload;
        }
        decoder.feed(QByteArrayView(stream).sliced(cut));
        while (decoder.next(&payload) == FrameDecoder::Status::Frame) {
            got << payload;
        }
        QCOMPARE(got.size(), frames.size());
        for (qsizetype i = 0; i < frames.size(); ++i) {
            QCOMPARE(got.at(i), payloadOf(frames.at(i)));
        }
        QVERIFY(!decoder.hasPartialFrame());
    }
    FrameDecoder decoder;
    QList<QByteArray> got;
    QByteArray payload;
    for (char byte : stream) {
        decoder.feed(QByteArrayView(&byte, 1));
        while (decoder.next(&payload) == FrameDecoder::Status::Frame) {
            got << payload;
        }
    }
    QCOMPARE(got.size(), frames.size());
}

void TestFrame::decoderLimit_data()
{
    QTest::addColumn<quint32>("length");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("below") << quint32(15) << true;
    QTest::newRow("at the limit") << quint32(16) << true;
    QTest::newRow("one over") << quint32(17) << false;
    QTest::newRow("largest length") << quint32(0xFFFFFFFFu) << false;
}

void TestFrame::decoderLimit()
{
    QFETCH(quint32, length);
    QFETCH(bool, accepted);
    FrameDecoder decoder(16);
    decoder.feed(header(length));
    if (accepted) {
        decoder.feed(QByteArray(int(length), 'a'));
    }
    QByteArray payload;
    const FrameDecoder::Status status = decoder.next(&payload);
    QCOMPARE(status, accepted ? FrameDecoder::Status::Frame : FrameDecoder::Status::Error);
    if (!accepted) {
        QVERIFY(decoder.errorString().contains(QString::number(length)));
        // The stream cannot be trusted any more: the error stays.
        decoder.feed(header(1) + "x");
        QCOMPARE(decoder.next(&payload), FrameDecoder::Status::Error);
    }
}

void TestFrame::decoderOversizeNeedsOnlyTheHeader()
{
    FrameDecoder decoder;
    QByteArray payload;
    decoder.feed(header(Frame::maxPayloadBytes + 1).first(3));
    QCOMPARE(decoder.next(&payload), FrameDecoder::Status::NeedMore);
    decoder.feed(header(Frame::maxPayloadBytes + 1).sliced(3));
    QCOMPARE(decoder.next(&payload), FrameDecoder::Status::Error);
    QCOMPARE(decoder.bufferedBytes(), 0);

    // At the limit the decoder waits for the bytes, holding only those that came.
    FrameDecoder waiting;
    waiting.feed(header(Frame::maxPayloadBytes) + QByteArray(10, 'a'));
    QCOMPARE(waiting.next(&payload), FrameDecoder::Status::NeedMore);
    QCOMPARE(waiting.bufferedBytes(), 14);
    QVERIFY(waiting.hasPartialFrame());
}

void TestFrame::decoderEmptyPayload()
{
    FrameDecoder decoder;
    decoder.feed(header(0));
    QByteArray payload = "stale";
    QCOMPARE(decoder.next(&payload), FrameDecoder::Status::Frame);
    QVERIFY(payload.isEmpty());
    const RpcMessage message = RpcWire::parse(payload);
    QCOMPARE(message.kind, RpcMessage::Kind::Invalid);
}

void TestFrame::roundTrip_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("expect"); // the fields that matter, in a line

    const QByteArray packet("\xa1\x61\x66\x80", 4); // any bytes travel as they are
    QTest::newRow("login") << RpcWire::loginFrame(u"PRU87000.rdmProcessoUnidade"_s, u"JOÃO"_s, u"s€nha"_s)
                           << int(RpcMessage::Kind::Login) << u"PRU87000.rdmProcessoUnidade|JOÃO|s€nha"_s;
    QTest::newRow("call") << RpcWire::callFrame(42, u"GetTarefas"_s, {12.0, u"-3"_s, packet, QCborValue(nullptr)})
                          << int(RpcMessage::Kind::Call) << u"42|GetTarefas|12|-3|oWFmgA==|null"_s;
    QTest::newRow("call without args") << RpcWire::callFrame(0, u"GetProcessos"_s, {}) << int(RpcMessage::Kind::Call)
                                       << u"0|GetProcessos"_s;
    QTest::newRow("call with largest id") << RpcWire::callFrame(std::numeric_limits<quint64>::max(), u"x"_s, {})
                                          << int(RpcMessage::Kind::Call) << u"18446744073709551615|x"_s;
    QTest::newRow("login reply") << RpcWire::loginReplyFrame(u"Unidade"_s, u"Fulano"_s)
                                 << int(RpcMessage::Kind::LoginReply) << u"true|Unidade|Fulano"_s;
    QTest::newRow("login failure") << RpcWire::loginFailureFrame(u"Senha errada."_s)
                                   << int(RpcMessage::Kind::LoginReply) << u"false|Senha errada."_s;
    QTest::newRow("reply number") << RpcWire::replyFrame(7, 45678.25) << int(RpcMessage::Kind::CallReply)
                                  << u"7|true|45678.25"_s;
    QTest::newRow("reply null") << RpcWire::replyFrame(7, QCborValue()) << int(RpcMessage::Kind::CallReply)
                                << u"7|true|null"_s;
    QTest::newRow("reply packet") << RpcWire::replyFrame(8, packet) << int(RpcMessage::Kind::CallReply)
                                  << u"8|true|oWFmgA=="_s;
    QTest::newRow("failure") << RpcWire::failureFrame(9, u"Conflito."_s) << int(RpcMessage::Kind::CallReply)
                             << u"9|false|Conflito."_s;
    QTest::newRow("error") << RpcWire::errorFrame(u"Encerrado."_s) << int(RpcMessage::Kind::Error) << u"Encerrado."_s;
}

static QString show(const QCborValue &value)
{
    if (value.isByteArray()) {
        return QString::fromLatin1(value.toByteArray().toBase64());
    }
    if (value.isNull()) {
        return u"null"_s;
    }
    if (value.isDouble()) {
        return QString::number(value.toDouble(), 'g', 17);
    }
    return value.toString();
}

void TestFrame::roundTrip()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, kind);
    QFETCH(QString, expect);

    QVERIFY(!frame.isEmpty());
    QCOMPARE(qFromBigEndian<quint32>(frame.constData()), quint32(frame.size() - 4));
    const RpcMessage m = RpcWire::parse(payloadOf(frame));
    QCOMPARE(int(m.kind), kind);
    QStringList got;
    switch (m.kind) {
    case RpcMessage::Kind::Login:
        got << m.server << m.operatorCode << m.password;
        break;
    case RpcMessage::Kind::Call:
        got << QString::number(*m.id) << m.method;
        for (const QCborValue &arg : m.args) {
            got << show(arg);
        }
        break;
    case RpcMessage::Kind::LoginReply:
        got << (m.ok ? u"true"_s : u"false"_s);
        got << (m.ok ? QStringList{m.unitName, m.operatorName} : QStringList{m.error});
        break;
    case RpcMessage::Kind::CallReply:
        got << QString::number(*m.id) << (m.ok ? u"true"_s : u"false"_s) << (m.ok ? show(m.value) : m.error);
        break;
    case RpcMessage::Kind::Error:
        got << m.error;
        break;
    case RpcMessage::Kind::Invalid:
        QFAIL(qPrintable(m.error));
    }
    QCOMPARE(got.join(u'|'), expect);
}

void TestFrame::numbersBecomeDoubles_data()
{
    QTest::addColumn<QByteArray>("cbor"); // one CBOR number
    QTest::addColumn<double>("expected");
    QTest::newRow("small unsigned") << QByteArray("\x05", 1) << 5.0;
    QTest::newRow("uint64") << QByteArray("\x1b\x00\x00\x00\x01\x00\x00\x00\x00", 9) << 4294967296.0;
    QTest::newRow("negative") << QByteArray("\x38\x63", 2) << -100.0;
    QTest::newRow("most negative") << QByteArray("\x3b\xff\xff\xff\xff\xff\xff\xff\xff", 9) << -18446744073709551616.0;
    QTest::newRow("half") << QByteArray("\xf9\x3e\x00", 3) << 1.5;
    QTest::newRow("single") << QByteArray("\xfa\x47\xc3\x50\x00", 5) << 100000.0;
    QTest::newRow("double") << QByteArray("\xfb\x40\xe6\x4d\x48\x00\x00\x00\x00", 9) << 45674.25;
}

void TestFrame::numbersBecomeDoubles()
{
    QFETCH(QByteArray, cbor);
    QFETCH(double, expected);
    // {"type":"call","id":1,"method":"m","args":[<number>]}
    const QByteArray payload = QByteArray("\xa4\x64type\x64"
                                          "call\x62id\x01\x66method\x61m\x64"
                                          "args\x81")
                               + cbor;
    const RpcMessage m = RpcWire::parse(payload);
    QCOMPARE(m.kind, RpcMessage::Kind::Call);
    QCOMPARE(m.args.size(), 1);
    QVERIFY(m.args.at(0).isDouble());
    QCOMPARE(m.args.at(0).toDouble(), expected);
}

void TestFrame::chunkedStringsAndUnknownKeys()
{
    // Indefinite-length map, a text in chunks, a byte string in chunks, and a
    // key of a later version holding a nested structure.
    const QByteArray payload = QByteArray("\xbf"
                                          "\x64type\x64"
                                          "call"
                                          "\x66"
                                          "future\x9f\xa1\x01\xf5\xff"
                                          "\x62id\x05"
                                          "\x66method\x7f\x63"
                                          "Get\x68Tarefas!\xff"
                                          "\x64"
                                          "args\x81\x5f\x42\x01\x02\x41\x03\xff"
                                          "\xff");
    const RpcMessage m = RpcWire::parse(payload);
    QCOMPARE(m.kind, RpcMessage::Kind::Call);
    QCOMPARE(m.method, u"GetTarefas!"_s);
    QCOMPARE(m.args.size(), 1);
    QCOMPARE(m.args.at(0).toByteArray(), QByteArray("\x01\x02\x03"));
}

void TestFrame::invalidMessages_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("hint"); // part of the error text
    QTest::addColumn<qint64>("id"); // -1: the refusal cannot name a call

    auto cbor = [](const QCborValue &v) { return v.toCbor(); };
    QCborArray tooMany;
    for (int i = 0; i <= Frame::maxArguments; ++i) {
        tooMany.append(i);
    }
    QByteArray deep;
    for (int i = 0; i < 100'000; ++i) {
        deep += '\x81';
    }
    deep += '\x00';

    QTest::newRow("empty") << QByteArray() << u"vazio"_s << qint64(-1);
    QTest::newRow("garbage") << QByteArray("\xff\xfe\xfd") << u"CBOR malformado"_s << qint64(-1);
    QTest::newRow("array") << cbor(QCborArray{1, 2}) << u"mapa"_s << qint64(-1);
    QTest::newRow("integer") << cbor(7) << u"mapa"_s << qint64(-1);
    QTest::newRow("no type") << cbor(QCborMap{{u"id"_s, 1}}) << u"\"type\""_s << qint64(-1);
    QTest::newRow("type not text") << cbor(QCborMap{{u"type"_s, 1}}) << u"\"type\""_s << qint64(-1);
    QTest::newRow("unknown type") << cbor(QCborMap{{u"type"_s, u"hello"_s}}) << u"desconhecido"_s << qint64(-1);
    QTest::newRow("key not text") << cbor(QCborMap{{1, u"call"_s}}) << u"chaves"_s << qint64(-1);
    QTest::newRow("trailing bytes") << cbor(QCborMap{{u"type"_s, u"error"_s}, {u"error"_s, u"x"_s}})
                                           + QByteArray(1, '\0')
                                    << u"depois"_s << qint64(-1);
    QTest::newRow("truncated map") << cbor(callMap({})).chopped(1) << u"CBOR malformado"_s << qint64(3);
    QTest::newRow("duplicate key") << QByteArray("\xa2\x64type\x64"
                                                 "call\x64type\x64"
                                                 "call")
                                   << u"duas vezes"_s << qint64(-1);
    QTest::newRow("call without id") << cbor(
        QCborMap{{u"type"_s, u"call"_s}, {u"method"_s, u"m"_s}, {u"args"_s, QCborArray()}})
                                     << u"\"id\""_s << qint64(-1);
    QTest::newRow("negative id") << cbor(
        QCborMap{{u"type"_s, u"call"_s}, {u"id"_s, -1}, {u"method"_s, u"m"_s}, {u"args"_s, QCborArray()}})
                                 << u"inteiro sem sinal"_s << qint64(-1);
    QTest::newRow("call without method") << cbor(
        QCborMap{{u"type"_s, u"call"_s}, {u"id"_s, 4}, {u"args"_s, QCborArray()}})
                                         << u"\"method\""_s << qint64(4);
    QTest::newRow("empty method") << cbor(
        QCborMap{{u"type"_s, u"call"_s}, {u"id"_s, 4}, {u"method"_s, u""_s}, {u"args"_s, QCborArray()}})
                                  << u"nome do método"_s << qint64(4);
    QTest::newRow("args not a list") << cbor(
        QCborMap{{u"type"_s, u"call"_s}, {u"id"_s, 4}, {u"method"_s, u"m"_s}, {u"args"_s, 1}})
                                     << u"lista"_s << qint64(4);
    QTest::newRow("map argument") << cbor(callMap({QCborMap()})) << u"argumento 1"_s << qint64(3);
    QTest::newRow("boolean argument") << cbor(callMap({1, true})) << u"argumento 2"_s << qint64(3);
    QTest::newRow("tagged argument") << cbor(callMap({QCborValue(QDateTime::currentDateTimeUtc())})) << u"argumento 1"_s
                                     << qint64(3);
    QTest::newRow("undefined argument") << cbor(callMap({QCborValue()})) << u"argumento 1"_s << qint64(3);
    QTest::newRow("NaN argument") << cbor(callMap({qQNaN()})) << u"não finito"_s << qint64(3);
    QTest::newRow("infinite argument") << cbor(callMap({qInf()})) << u"não finito"_s << qint64(3);
    QTest::newRow("too many arguments") << cbor(callMap(tooMany)) << u"mais de 64"_s << qint64(3);
    QTest::newRow("deep nesting") << QByteArray("\xa2\x64type\x64"
                                                "call\x61x")
                                         + deep
                                  << u"CBOR"_s << qint64(-1);
    QTest::newRow("login without password")
        << cbor(QCborMap{{u"type"_s, u"login"_s}, {u"server"_s, u"s"_s}, {u"operator"_s, u"o"_s}}) << u"\"password\""_s
        << qint64(-1);
    QTest::newRow("login of a later protocol") << cbor(QCborMap{{u"type"_s, u"login"_s},
                                                                {u"protocol"_s, 2},
                                                                {u"server"_s, u"s"_s},
                                                                {u"operator"_s, u"o"_s},
                                                                {u"password"_s, u"p"_s}})
                                               << u"Versão de protocolo 2"_s << qint64(-1);
    QTest::newRow("reply without value") << cbor(QCborMap{{u"type"_s, u"reply"_s}, {u"id"_s, 1}, {u"ok"_s, true}})
                                         << u"\"value\""_s << qint64(1);
    QTest::newRow("ok not boolean") << cbor(QCborMap{{u"type"_s, u"reply"_s}, {u"id"_s, 1}, {u"ok"_s, 1}})
                                    << u"\"ok\""_s << qint64(-1);
    QTest::newRow("invalid UTF-8") << QByteArray("\xa1\x64type\x62\xc3\x28") << u"CBOR malformado"_s << qint64(-1);
}

void TestFrame::invalidMessages()
{
    QFETCH(QByteArray, payload);
    QFETCH(QString, hint);
    QFETCH(qint64, id);
    const RpcMessage m = RpcWire::parse(payload);
    QCOMPARE(m.kind, RpcMessage::Kind::Invalid);
    QVERIFY2(m.error.contains(hint), qPrintable(m.error));
    if (m.kind == RpcMessage::Kind::Invalid && m.type == u"reply") {
        return; // a server's message sent by a client: its id is of no use
    }
    QCOMPARE(m.id.has_value() ? qint64(*m.id) : qint64(-1), id);
}

void TestFrame::buildersRefuse()
{
    QVERIFY(RpcWire::callFrame(1, u"m"_s, {QCborMap()}).isEmpty());
    QVERIFY(RpcWire::callFrame(1, u"m"_s, {qInf()}).isEmpty());
    QVERIFY(RpcWire::replyFrame(1, QCborArray()).isEmpty());
    QVERIFY(RpcWire::replyFrame(1, true).isEmpty());
    const QByteArray tooBig(Frame::maxPayloadBytes, 'x');
    QVERIFY(RpcWire::replyFrame(1, tooBig).isEmpty());
    QVERIFY(Frame::wrap(QByteArray(Frame::maxPayloadBytes + 1, 'x')).isEmpty());
    // Integers and undefined are accepted and sent as a double and as null.
    const RpcMessage m = RpcWire::parse(payloadOf(RpcWire::callFrame(1, u"m"_s, {qint64(7), QCborValue()})));
    QCOMPARE(m.kind, RpcMessage::Kind::Call);
    QVERIFY(m.args.at(0).isDouble());
    QVERIFY(m.args.at(1).isNull());
}

void TestFrame::secretsAreZeroed()
{
    // A login frame with a byte removed at the front and two chopped: the
    // whole allocation is zeroed, what lies around the text included.
    QByteArray frame = RpcWire::loginFrame(u"PRU87000.rdmProcessoUnidade"_s, u"op"_s, u"s3nha"_s, {});
    frame.remove(0, 1);
    frame.chop(2);
    QVERIFY(Secret::zero(frame));
    const auto &d = frame.data_ptr();
    const QByteArrayView whole(frame.constData() - d.freeSpaceAtBegin(), d.constAllocatedCapacity());
    QCOMPARE(whole.count('\0'), whole.size());
    QString alone = u"s3"_s + u"nha"_s;
    QVERIFY(Secret::zero(alone));
    QCOMPARE(alone, QString(5, QChar(0)));
    // A copy shared with another holder is left to it; the last one zeroes it.
    QString one = u"se"_s + u"nha"_s;
    QString two = one;
    QVERIFY(!Secret::zero(one));
    Secret::wipe(one);
    QVERIFY(one.isNull());
    QCOMPARE(two, u"senha"_s);
    QVERIFY(Secret::zero(two));
    // Static text is not ours to write.
    QString literal = u"senha"_s;
    QVERIFY(!Secret::zero(literal));
}

QTEST_GUILESS_MAIN(TestFrame)
#include "tst_frame.moc"
