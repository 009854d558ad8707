#include <QCborArray>
#include <QCborMap>
#include <QCborStreamWriter>
#include <QCborValue>
#include <QDir>
#include <QFile>
#include <QTest>

#include <cmath>
#include <limits>

#include "Exceptions.h"
#include "Packet.h"
#include "Refusal.h"

using namespace Qt::StringLiterals;

// Packets are the only form in which rows travel between screen and server:
// whatever a record set holds must come back identical, and whatever bytes
// arrive must either decode to valid rows or be refused with a clear error.
class TstPacket : public QObject
{
    Q_OBJECT

private slots:
    void dataRoundTrip_data();
    void dataRoundTrip();
    void deltaRoundTrip_data();
    void deltaRoundTrip();
    void layoutIsTheDocumentedOne();
    void handWrittenPacketsAreAccepted_data();
    void handWrittenPacketsAreAccepted();

    void badDataPacketIsRefused_data();
    void badDataPacketIsRefused();
    void badDeltaPacketIsRefused_data();
    void badDeltaPacketIsRefused();
    void everyTruncationIsRefused();
    void oversizedInputIsRefused();
    void deepNestingIsRefused();

    void encodeRefusesWhatCannotTravel_data();
    void encodeRefusesWhatCannotTravel();
    void checkValue_data();
    void checkValue();
    void writerGivesWhatEncodeGives_data();
    void writerGivesWhatEncodeGives();
    void writerRefusesWhatCannotTravel_data();
    void writerRefusesWhatCannotTravel();

    void fuzzCorpusAndRegressions();
};

namespace {

const QList<FieldDef> processFields = {
    {u"NRPROCESSOFILIAL"_s, FieldType::Number, 0}, {u"NMPROCESSOFILIAL"_s, FieldType::Text, 100},
    {u"DTINIVIGENCIA"_s, FieldType::DateTime, 0},  {u"DSATIVIDADEFILIAL"_s, FieldType::Text, 4000},
    {u"IDSITUACAO"_s, FieldType::Text, 1},
};

Row row(double key, const QVariant &name, const QVariant &date, const QVariant &obs, const QVariant &flag)
{
    return {key, name, date, obs, flag};
}

// 14/03/2024 15:45:30 as a day count.
constexpr double someDateTime = 45365.0 + (15 * 3600 + 45 * 60 + 30) / 86400.0;

QByteArray cbor(const QCborValue &v)
{
    return v.toCbor();
}

QCborMap field(const QString &name, const QString &type, qint64 size = -1)
{
    QCborMap m{{u"name"_s, name}, {u"type"_s, type}};
    if (size >= 0) {
        m.insert(u"size"_s, size);
    }
    return m;
}

QCborArray smallFields()
{
    return {field(u"NR"_s, u"number"_s), field(u"NM"_s, u"text"_s, 5), field(u"DT"_s, u"datetime"_s)};
}

// Lists of items are taken as initializer lists: {QCborArray{...}} would
// otherwise copy the one row instead of wrapping it.
QCborArray list(std::initializer_list<QCborValue> items)
{
    QCborArray a;
    for (const QCborValue &v : items) {
        a.append(v);
    }
    return a;
}

QCborMap dataMap(const QCborArray &fields, std::initializer_list<QCborValue> rows)
{
    return {{u"format"_s, u"pru.data"_s}, {u"version"_s, 1}, {u"fields"_s, fields}, {u"rows"_s, list(rows)}};
}

QCborMap deltaMap(const QCborArray &fields, std::initializer_list<QCborValue> entries)
{
    return {{u"format"_s, u"pru.delta"_s}, {u"version"_s, 1}, {u"fields"_s, fields}, {u"entries"_s, list(entries)}};
}

QByteArray dataWith(std::initializer_list<QCborValue> rows)
{
    return cbor(dataMap(smallFields(), rows));
}

QByteArray without(QCborMap m, const QString &key)
{
    m.remove(key);
    return cbor(m);
}

QByteArray with(QCborMap m, const QString &key, const QCborValue &value)
{
    m.insert(key, value);
    return cbor(m);
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// A refusal where none is expected fails the test with its message.
template <typename Packet>
bool decodes(const QByteArray &bytes, Packet *out)
{
    try {
        *out = Packet::decode(bytes);
        return true;
    } catch (const EPacketError &e) {
        qWarning("%s", qPrintable(e.message()));
        return false;
    }
}

// A data packet whose only row holds one raw CBOR value for field NR.
QByteArray dataWithRawValue(const QByteArray &rawValue)
{
    QByteArray bytes = dataWith({QCborArray{0, u"x"_s, QCborValue(nullptr)}});
    // The row is the last item: 0x83 0x00 0x61 'x' 0xf6. Replace its first value.
    const QByteArray tail = hex("83006178f6");
    Q_ASSERT(bytes.endsWith(tail));
    bytes.chop(tail.size());
    return bytes + hex("83") + rawValue + hex("6178f6");
}

QList<Row> manyRows(int count)
{
    QList<Row> rows;
    for (int i = 0; i < count; ++i) {
        rows.append(
            row(i + 1, u"Processo %1"_s.arg(i), 40000.0 + i / 7.0, i % 3 ? QVariant() : QVariant(u""_s), u"S"_s));
    }
    return rows;
}

} // namespace

void TstPacket::dataRoundTrip_data()
{
    QTest::addColumn<QList<FieldDef>>("fields");
    QTest::addColumn<QList<Row>>("rows");

    QTest::newRow("no rows") << processFields << QList<Row>{};
    QTest::newRow("no fields, no rows") << QList<FieldDef>{} << QList<Row>{};
    QTest::newRow("null differs from empty text")
        << processFields
        << QList<Row>{row(1, QVariant(), QVariant(), u""_s, QVariant()), row(2, u""_s, QVariant(), QVariant(), u""_s)};
    QTest::newRow("date-time with time of day")
        << processFields << QList<Row>{row(1, u"a"_s, someDateTime, QVariant(), u"S"_s)};
    QTest::newRow("date-time before 1899 and at the ends of the range")
        << processFields
        << QList<Row>{row(1, QVariant(), -1.25, QVariant(), QVariant()),
                      row(2, QVariant(), -693593.0, QVariant(), QVariant()),
                      row(3, QVariant(), 2958465.999988426, QVariant(), QVariant())};
    QTest::newRow("negative temporary keys")
        << processFields
        << QList<Row>{row(-1, u"novo"_s, QVariant(), QVariant(), QVariant()),
                      row(-2147483649.0, u"x"_s, QVariant(), QVariant(), QVariant())};
    QTest::newRow("numbers that are not whole, tiny, huge, -0")
        << processFields
        << QList<Row>{row(0.1, QVariant(), QVariant(), QVariant(), QVariant()),
                      row(-2.5e-300, QVariant(), QVariant(), QVariant(), QVariant()),
                      row(1.7e308, QVariant(), QVariant(), QVariant(), QVariant()),
                      row(-0.0, QVariant(), QVariant(), QVariant(), QVariant()),
                      row(9007199254740992.0, QVariant(), QVariant(), QVariant(), QVariant()),
                      row(9007199254740994.0, QVariant(), QVariant(), QVariant(), QVariant())};
    QTest::newRow("4000-character observation")
        << processFields << QList<Row>{row(7, u"obs"_s, QVariant(), QString(4000, u'ç'), QVariant())};
    QTest::newRow("accented Portuguese") << processFields
                                         << QList<Row>{
                                                row(3, u"Conferência de caixa — manhã"_s, QVariant(),
                                                    u"Atenção: revisão às 9h; órgão, pão, coração.\nSegunda linha"_s,
                                                    u"N"_s)};
    QTest::newRow("characters beyond the basic plane count as one")
        << QList<FieldDef>{{u"T"_s, FieldType::Text, 3}} << QList<Row>{{u"😀é😀"_s}};
    QTest::newRow("leading U+FEFF and NUL are kept")
        << QList<FieldDef>{{u"T"_s, FieldType::Text, 5}}
        << QList<Row>{{QString(u"\uFEFFa"_s)}, {QString(QChar(0)) + u"b"_s}};
    QTest::newRow("largest text field full") << QList<FieldDef>{{u"T"_s, FieldType::Text, PacketLimits::maxTextSize}}
                                             << QList<Row>{{QString(PacketLimits::maxTextSize, u'x')}};
    QTest::newRow("many rows") << processFields << manyRows(20000);
}

void TstPacket::dataRoundTrip()
{
    QFETCH(QList<FieldDef>, fields);
    QFETCH(QList<Row>, rows);
    const DataPacket packet{fields, rows};
    DataPacket back;
    QVERIFY(decodes(packet.encode(), &back));
    QCOMPARE(back, packet);
    // Equality of QVariant is lenient between types: the kinds must match too.
    for (qsizetype r = 0; r < rows.size(); ++r) {
        for (qsizetype c = 0; c < rows[r].size(); ++c) {
            QCOMPARE(back.rows[r][c].isValid(), rows[r][c].isValid());
            if (rows[r][c].isValid()) {
                QCOMPARE(back.rows[r][c].typeId(), rows[r][c].typeId());
            }
            if (rows[r][c].typeId() == QMetaType::Double) {
                QCOMPARE(std::signbit(back.rows[r][c].toDouble()), std::signbit(rows[r][c].toDouble()));
            }
        }
    }
}

void TstPacket::deltaRoundTrip_data()
{
    QTest::addColumn<QList<FieldDef>>("fields");
    QTest::addColumn<QList<DeltaEntry>>("entries");

    const Row a = row(-1, u"Inclusão"_s, someDateTime, QString(4000, u'ã'), u"S"_s);
    const Row b = row(10, u"Antes"_s, 45000.0, QVariant(), u"N"_s);
    const Row c = row(10, u"Depois"_s, 45000.5, u""_s, QVariant());

    QTest::newRow("empty log") << processFields << QList<DeltaEntry>{};
    QTest::newRow("one of each kind") << processFields
                                      << QList<DeltaEntry>{{ChangeKind::Inserted, {}, a},
                                                           {ChangeKind::Modified, b, c},
                                                           {ChangeKind::Deleted, c, {}}};
    QTest::newRow("modification that changes nothing")
        << processFields << QList<DeltaEntry>{{ChangeKind::Modified, b, b}};
    QTest::newRow("all nulls") << processFields
                               << QList<DeltaEntry>{{ChangeKind::Modified,
                                                     row(1, QVariant(), QVariant(), QVariant(), QVariant()),
                                                     row(1, QVariant(), QVariant(), QVariant(), QVariant())}};
    QTest::newRow("no fields") << QList<FieldDef>{}
                               << QList<DeltaEntry>{{ChangeKind::Inserted, {}, {}}, {ChangeKind::Deleted, {}, {}}};
    QList<DeltaEntry> many;
    for (int i = 0; i < 3000; ++i) {
        many.append({ChangeKind(i % 3), i % 3 ? b : Row(), i % 3 == 2 ? Row() : a});
    }
    QTest::newRow("many entries") << processFields << many;
}

void TstPacket::deltaRoundTrip()
{
    QFETCH(QList<FieldDef>, fields);
    QFETCH(QList<DeltaEntry>, entries);
    const DeltaPacket packet{fields, entries};
    DeltaPacket back;
    QVERIFY(decodes(packet.encode(), &back));
    QCOMPARE(back, packet);
    // Read an entry at a time, the same entries.
    const DeltaReader reader(packet.encode());
    QCOMPARE(reader.fields(), fields);
    QList<DeltaEntry> read;
    for (const DeltaEntry &entry : reader) {
        read.append(entry);
    }
    QCOMPARE(read, entries);
}

// docs/packets.md describes these bytes; a client in another language is
// written from it, so the layout itself is part of the contract.
void TstPacket::layoutIsTheDocumentedOne()
{
    const DataPacket data{
        {{u"NR"_s, FieldType::Number, 0}, {u"NM"_s, FieldType::Text, 5}, {u"DT"_s, FieldType::DateTime, 0}},
        {{15.0, u"ação"_s, 45365.5}, {-3.0, QVariant(), QVariant()}}};
    const QByteArray bytes = data.encode();
    // Map keys in this order, whole numbers as CBOR integers, other numbers as float64.
    const QByteArray expected = hex("a4"
                                    "66666f726d6174"
                                    "68"
                                    "7072752e64617461" // "format": "pru.data"
                                    "6776657273696f6e"
                                    "01" // "version": 1
                                    "666669656c6473"
                                    "83" // "fields": [
                                    "a2"
                                    "646e616d65"
                                    "624e52"
                                    "6474797065"
                                    "666e756d626572"
                                    "a3"
                                    "646e616d65"
                                    "624e4d"
                                    "6474797065"
                                    "6474657874"
                                    "6473697a65"
                                    "05"
                                    "a2"
                                    "646e616d65"
                                    "624454"
                                    "6474797065"
                                    "686461746574696d65"
                                    "64726f7773"
                                    "82" // "rows": [
                                    "83"
                                    "0f"
                                    "66"
                                    "61c3a7c3a36f"
                                    "fb40e626b000000000"
                                    "83"
                                    "22"
                                    "f6"
                                    "f6");
    QCOMPARE(bytes.toHex(), expected.toHex());

    const DeltaPacket delta{{{u"NR"_s, FieldType::Number, 0}},
                            {{ChangeKind::Inserted, {}, {-1.0}},
                             {ChangeKind::Modified, {2.0}, {QVariant()}},
                             {ChangeKind::Deleted, {3.0}, {}}}};
    const QCborValue value = QCborValue::fromCbor(delta.encode());
    const QCborMap expectedDelta =
        deltaMap({field(u"NR"_s, u"number"_s)}, {QCborMap{{u"kind"_s, u"inserted"_s}, {u"current"_s, QCborArray{-1}}},
                                                 QCborMap{{u"kind"_s, u"modified"_s},
                                                          {u"original"_s, QCborArray{2}},
                                                          {u"current"_s, QCborArray{QCborValue(nullptr)}}},
                                                 QCborMap{{u"kind"_s, u"deleted"_s}, {u"original"_s, QCborArray{3}}}});
    QCOMPARE(value, QCborValue(expectedDelta));
}

void TstPacket::handWrittenPacketsAreAccepted_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<Row>>("rows");

    QTest::newRow("integers and floats of every width")
        << dataWith({QCborArray{15, u"a"_s, 45000}, QCborArray{1.5, QCborValue(nullptr), -2}})
        << QList<Row>{{15.0, u"a"_s, 45000.0}, {1.5, QVariant(), -2.0}};
    QTest::newRow("float16 and float32") << dataWithRawValue(hex("f93e00")) << QList<Row>{{1.5, u"x"_s, QVariant()}};
    QTest::newRow("float32") << dataWithRawValue(hex("fa3fc00000")) << QList<Row>{{1.5, u"x"_s, QVariant()}};
    QTest::newRow("largest exact integer")
        << dataWithRawValue(hex("1b0020000000000000")) << QList<Row>{{9007199254740992.0, u"x"_s, QVariant()}};
    QTest::newRow("smallest exact integer")
        << dataWithRawValue(hex("3b001fffffffffffff")) << QList<Row>{{-9007199254740992.0, u"x"_s, QVariant()}};
    QTest::newRow("size 0 on a number field")
        << cbor(dataMap({field(u"NR"_s, u"number"_s, 0)}, {QCborArray{1}})) << QList<Row>{{1.0}};

    // Keys in another order: rows before fields, version last.
    QByteArray reordered;
    {
        QCborStreamWriter w(&reordered);
        w.startMap(4);
        w.append("rows"_L1);
        w.startArray(1);
        w.startArray(3);
        w.append(1);
        w.append("abc"_L1);
        w.appendNull();
        w.endArray();
        w.endArray();
        w.append("format"_L1);
        w.append("pru.data"_L1);
        w.append("fields"_L1);
        QCborValue(smallFields()).toCbor(w);
        w.append("version"_L1);
        w.append(1);
        w.endMap();
    }
    QTest::newRow("keys in any order") << reordered << QList<Row>{{1.0, u"abc"_s, QVariant()}};

    // Streamed: indefinite-length containers and a text in two chunks that split "ç".
    QByteArray streamed = hex("bf 66666f726d6174 687072752e64617461 6776657273696f6e01 666669656c6473");
    streamed += cbor(smallFields());
    streamed += hex("64726f7773 9f 9f 02 7f 6261c3 62a761 ff f6 ff ff ff");
    QTest::newRow("indefinite lengths, chunked text") << streamed << QList<Row>{{2.0, u"aça"_s, QVariant()}};
}

void TstPacket::handWrittenPacketsAreAccepted()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<Row>, rows);
    DataPacket packet;
    QVERIFY(decodes(bytes, &packet));
    QCOMPARE(packet.rows, rows);
    for (const Row &r : packet.rows) {
        for (const QVariant &v : r) {
            QVERIFY(!v.isValid() || v.typeId() == QMetaType::Double || v.typeId() == QMetaType::QString);
        }
    }
}

void TstPacket::badDataPacketIsRefused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");

    const QCborMap good = dataMap(smallFields(), {QCborArray{1, u"abc"_s, 45000.25}});
    QVERIFY(DataPacket::decode(cbor(good)).rows.size() == 1);

    // Framing and top level.
    QTest::newRow("empty") << QByteArray() << u"pacote vazio"_s;
    QTest::newRow("not a map") << cbor(QCborArray{1, 2}) << u"esperado um mapa"_s;
    QTest::newRow("text at top") << cbor(QCborValue(u"pru.data"_s)) << u"esperado um mapa"_s;
    QTest::newRow("trailing garbage") << cbor(good) + hex("00") << u"1 bytes a mais"_s;
    QTest::newRow("two packets") << cbor(good) + cbor(good) << u"bytes a mais"_s;
    QTest::newRow("tagged top") << hex("d9d9f7") + cbor(good) << u"etiqueta"_s;
    QTest::newRow("delta given as data") << cbor(deltaMap(smallFields(), {})) << u"formato \"pru.delta\""_s;
    QTest::newRow("unknown format") << with(good, u"format"_s, u"csv"_s) << u"formato \"csv\" desconhecido"_s;
    QTest::newRow("format not text") << with(good, u"format"_s, 1) << u"format: esperado um texto"_s;
    QTest::newRow("version 2") << with(good, u"version"_s, 2) << u"versão 2 não suportada"_s;
    QTest::newRow("version negative") << with(good, u"version"_s, -1) << u"version: esperado um número inteiro"_s;
    QTest::newRow("version as text") << with(good, u"version"_s, u"1"_s) << u"version: esperado um número inteiro"_s;
    QTest::newRow("no format") << without(good, u"format"_s) << u"falta o formato"_s;
    QTest::newRow("no version") << without(good, u"version"_s) << u"falta a versão"_s;
    QTest::newRow("no fields") << without(good, u"fields"_s) << u"faltam os campos"_s;
    QTest::newRow("no rows") << without(good, u"rows"_s) << u"falta \"rows\""_s;
    QTest::newRow("unknown key") << with(good, u"extra"_s, 1) << u"chave desconhecida \"extra\""_s;
    QTest::newRow("entries in a data packet")
        << with(good, u"entries"_s, QCborArray{}) << u"chave desconhecida \"entries\""_s;
    QTest::newRow("key not text") << cbor(QCborMap{{1, 2}}) << u"chave: esperado um texto"_s;
    QTest::newRow("duplicate key") << hex("a2 6776657273696f6e01 6776657273696f6e01")
                                   << u"chave \"version\" repetida"_s;
    QTest::newRow("map with too many keys") << hex("b90100") << u"chaves demais"_s;
    QTest::newRow("indefinite map without value") << hex("bf 6776657273696f6e ff") << u"malformado"_s;

    // Field definitions.
    QTest::newRow("fields not a list") << with(good, u"fields"_s, QCborMap()) << u"fields: esperada uma lista"_s;
    QTest::newRow("field not a map") << with(good, u"fields"_s, QCborArray{u"NR"_s}) << u"campo 1: esperado um mapa"_s;
    QTest::newRow("unknown field type") << with(good, u"fields"_s, QCborArray{field(u"NR"_s, u"integer"_s)})
                                        << u"tipo \"integer\" desconhecido"_s;
    QTest::newRow("field type not text") << with(good, u"fields"_s,
                                                 QCborArray{QCborMap{{u"name"_s, u"A"_s}, {u"type"_s, 1}}})
                                         << u"type: esperado um texto"_s;
    QTest::newRow("field without name") << with(good, u"fields"_s, QCborArray{QCborMap{{u"type"_s, u"number"_s}}})
                                        << u"falta o nome"_s;
    QTest::newRow("field without type") << with(good, u"fields"_s, QCborArray{QCborMap{{u"name"_s, u"A"_s}}})
                                        << u"falta o tipo"_s;
    QTest::newRow("field with unknown key") << with(
        good, u"fields"_s, QCborArray{QCborMap{{u"name"_s, u"A"_s}, {u"type"_s, u"number"_s}, {u"label"_s, u"x"_s}}})
                                            << u"chave desconhecida \"label\""_s;
    QTest::newRow("empty field name") << with(good, u"fields"_s, QCborArray{field(u""_s, u"number"_s)})
                                      << u"nome vazio"_s;
    QTest::newRow("blank field name") << with(good, u"fields"_s, QCborArray{field(u"  "_s, u"number"_s)})
                                      << u"nome vazio"_s;
    QTest::newRow("field name too long") << with(good, u"fields"_s, QCborArray{field(QString(129, u'A'), u"number"_s)})
                                         << u"nome com mais de 128"_s;
    QTest::newRow("duplicate field name")
        << with(good, u"fields"_s, QCborArray{field(u"NR"_s, u"number"_s), field(u"nr"_s, u"number"_s)})
        << u"nome \"nr\" repetido"_s;
    QTest::newRow("text without size") << with(good, u"fields"_s, QCborArray{field(u"NM"_s, u"text"_s)})
                                       << u"sem tamanho"_s;
    QTest::newRow("text size 0") << with(good, u"fields"_s, QCborArray{field(u"NM"_s, u"text"_s, 0)})
                                 << u"tamanho 0 fora do intervalo"_s;
    QTest::newRow("text size too big") << with(good, u"fields"_s, QCborArray{field(u"NM"_s, u"text"_s, 65536)})
                                       << u"tamanho 65536 fora do intervalo"_s;
    QTest::newRow("text size negative") << with(
        good, u"fields"_s, QCborArray{QCborMap{{u"name"_s, u"A"_s}, {u"type"_s, u"text"_s}, {u"size"_s, -5}}})
                                        << u"size: esperado um número inteiro não negativo"_s;
    QTest::newRow("text size as double") << with(
        good, u"fields"_s, QCborArray{QCborMap{{u"name"_s, u"A"_s}, {u"type"_s, u"text"_s}, {u"size"_s, 5.0}}})
                                         << u"size: esperado um número inteiro"_s;
    QTest::newRow("text size huge") << with(good, u"fields"_s,
                                            QCborArray{field(u"NM"_s, u"text"_s, std::numeric_limits<qint64>::max())})
                                    << u"fora do intervalo"_s;
    QTest::newRow("size on a number field")
        << with(good, u"fields"_s, QCborArray{field(u"NR"_s, u"number"_s, 8)}) << u"tamanho 8 não se aplica"_s;
    QCborArray tooMany;
    for (int i = 0; i <= PacketLimits::maxFields; ++i) {
        tooMany.append(field(u"F%1"_s.arg(i), u"number"_s));
    }
    QTest::newRow("too many fields") << with(good, u"fields"_s, tooMany) << u"excede o limite de 256"_s;

    // Rows.
    QTest::newRow("rows not a list") << dataWith({}).replace(hex("64726f777380"), hex("64726f7773a0"))
                                     << u"rows: esperada uma lista"_s;
    QTest::newRow("row not a list") << dataWith({QCborMap()}) << u"linha 1: esperada uma lista"_s;
    QTest::newRow("row too short") << dataWith({QCborArray{1, u"a"_s, 45000}, QCborArray{1, u"a"_s}})
                                   << u"linha 2 tem 2 valores, mas o pacote tem 3 campos"_s;
    QTest::newRow("row too long") << dataWith({QCborArray{1, u"a"_s, 45000, 4}}) << u"linha 1 tem 4 valores"_s;
    QTest::newRow("empty row") << dataWith({QCborArray{}}) << u"linha 1 tem 0 valores"_s;
    QTest::newRow("text too long") << dataWith({QCborArray{1, u"abcdef"_s, 45000}})
                                   << u"campo \"NM\": texto com 6 caracteres excede o tamanho 5"_s;
    QTest::newRow("accented text too long")
        << dataWith({QCborArray{1, u"çãéíõú"_s, 45000}}) << u"texto com 6 caracteres"_s;
    QTest::newRow("text in a number field")
        << dataWith({QCborArray{u"1"_s, u"a"_s, 45000}}) << u"campo \"NR\": esperado um número, recebido um texto"_s;
    QTest::newRow("text in a date-time field")
        << dataWith({QCborArray{1, u"a"_s, u"2024-01-01"_s}}) << u"campo \"DT\": esperada uma data-hora"_s;
    QTest::newRow("number in a text field")
        << dataWith({QCborArray{1, 12, 45000}}) << u"campo \"NM\": esperado um texto, recebido um número"_s;
    QTest::newRow("boolean value") << dataWithRawValue(hex("f5"))
                                   << u"valor 1: esperado null, número ou texto, recebido um valor lógico"_s;
    QTest::newRow("undefined value") << dataWithRawValue(hex("f7")) << u"recebido um valor simples"_s;
    QTest::newRow("byte string value") << dataWithRawValue(hex("4131")) << u"recebido uma sequência de bytes"_s;
    QTest::newRow("list value") << dataWithRawValue(hex("8101")) << u"recebido uma lista"_s;
    QTest::newRow("map value") << dataWithRawValue(hex("a0")) << u"recebido um mapa"_s;
    QTest::newRow("tagged value") << dataWithRawValue(hex("c11a514b67b0")) << u"recebido uma etiqueta"_s;
    QTest::newRow("NaN") << dataWithRawValue(hex("fb7ff8000000000000")) << u"não finito"_s;
    QTest::newRow("infinity") << dataWithRawValue(hex("fb7ff0000000000000")) << u"não finito"_s;
    QTest::newRow("negative infinity as float16") << dataWithRawValue(hex("f9fc00")) << u"não finito"_s;
    QTest::newRow("NaN as float32") << dataWithRawValue(hex("fa7fc00000")) << u"não finito"_s;
    QTest::newRow("integer beyond 2^53") << dataWithRawValue(hex("1b0020000000000001")) << u"sem representação exata"_s;
    QTest::newRow("largest unsigned integer")
        << dataWithRawValue(hex("1bffffffffffffffff")) << u"sem representação exata"_s;
    QTest::newRow("smallest negative integer")
        << dataWithRawValue(hex("3bffffffffffffffff")) << u"sem representação exata"_s;
    QTest::newRow("date-time beyond 9999")
        << dataWith({QCborArray{1, u"a"_s, 2958466}}) << u"fora do intervalo de 01/01/0001 a 31/12/9999"_s;
    QTest::newRow("date-time before year 1") << dataWith({QCborArray{1, u"a"_s, -693594}}) << u"fora do intervalo"_s;
    QTest::newRow("date-time huge") << dataWith({QCborArray{1, u"a"_s, 1e300}}) << u"fora do intervalo"_s;

    // Declared lengths and malformed bytes.
    const QByteArray head = hex("a4 66666f726d6174 687072752e64617461 6776657273696f6e01 666669656c6473")
                            + cbor(smallFields()) + hex("64726f7773");
    QTest::newRow("huge row count") << head + hex("9bffffffffffffffff") << u"mais do que cabe no pacote"_s;
    QTest::newRow("row count beyond the bytes")
        << head + hex("9a00100000 8301617800") << u"mais do que cabe no pacote"_s;
    QTest::newRow("huge value count") << head + hex("81 9b7fffffffffffffff") << u"mais do que cabe no pacote"_s;
    QTest::newRow("huge text length") << head + hex("81 83 01 7bffffffffffffffff 00") << u"comprimento declarado"_s;
    QTest::newRow("text length beyond the bytes")
        << head + hex("81 83 01 7a00010000 616263") << u"comprimento declarado"_s;
    QTest::newRow("huge key length") << hex("a1 7b7fffffffffffffff") << u"comprimento declarado"_s;
    QTest::newRow("huge map") << hex("bb7fffffffffffffff") << u"chaves demais"_s;
    QTest::newRow("fewer rows than declared") << head + hex("83 830161780f") << u"truncados"_s;
    QTest::newRow("invalid UTF-8") << head + hex("81 83 01 62c328 f6") << u"UTF-8 inválido"_s;
    QTest::newRow("UTF-8 surrogate") << head + hex("81 83 01 63eda080 f6") << u"UTF-8 inválido"_s;
    QTest::newRow("overlong UTF-8") << head + hex("81 83 01 62c0af f6") << u"UTF-8 inválido"_s;
    QTest::newRow("unexpected break") << head + hex("81 ff") << u"CBOR malformado"_s;
    QTest::newRow("reserved additional info") << head + hex("81 1c") << u"CBOR malformado"_s;
    QTest::newRow("chunk of another type") << head + hex("81 83 01 7f 4161 ff f6") << u"malformado"_s;
}

void TstPacket::badDataPacketIsRefused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    const QString said = refusalOf<EPacketError>([&] { DataPacket::decode(bytes); });
    QVERIFY2(said.startsWith(u"Pacote de dados inválido: "_s), qPrintable(said));
    QVERIFY2(said.contains(reason), qPrintable(said));
}

void TstPacket::badDeltaPacketIsRefused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");

    const QCborArray full{1, u"abc"_s, 45000};
    const auto entry = [](const QString &kind, const QCborValue &original, const QCborValue &current) {
        QCborMap m{{u"kind"_s, kind}};
        if (!original.isUndefined()) {
            m.insert(u"original"_s, original);
        }
        if (!current.isUndefined()) {
            m.insert(u"current"_s, current);
        }
        return m;
    };
    const QCborValue none(QCborSimpleType::Undefined); // key left out
    const auto delta = [](const QCborMap &e) { return cbor(deltaMap(smallFields(), {e})); };

    // Accepted forms first, so that the refusals below are for the stated reason.
    QVERIFY(DeltaPacket::decode(delta(entry(u"inserted"_s, none, full))).entries.size() == 1);
    QVERIFY(DeltaPacket::decode(delta(entry(u"inserted"_s, QCborValue(nullptr), full))).entries.size() == 1);
    QVERIFY(DeltaPacket::decode(delta(entry(u"deleted"_s, full, QCborValue(nullptr)))).entries.size() == 1);

    QTest::newRow("data given as delta") << cbor(dataMap(smallFields(), {})) << u"formato \"pru.data\""_s;
    QTest::newRow("rows in a delta") << with(deltaMap(smallFields(), {}), u"rows"_s, QCborArray{})
                                     << u"chave desconhecida \"rows\""_s;
    QTest::newRow("no entries") << without(deltaMap(smallFields(), {}), u"entries"_s) << u"falta \"entries\""_s;
    QTest::newRow("entry not a map") << cbor(deltaMap(smallFields(), {full})) << u"entrada 1: esperado um mapa"_s;
    QTest::newRow("no kind") << delta(QCborMap{{u"current"_s, full}}) << u"falta o tipo de alteração"_s;
    QTest::newRow("unknown kind") << delta(entry(u"updated"_s, full, full))
                                  << u"tipo de alteração \"updated\" desconhecido"_s;
    QTest::newRow("kind not text") << delta(QCborMap{{u"kind"_s, 1}, {u"current"_s, full}})
                                   << u"kind: esperado um texto"_s;
    QTest::newRow("unknown entry key") << delta(
        QCborMap{{u"kind"_s, u"inserted"_s}, {u"current"_s, full}, {u"key"_s, 1}})
                                       << u"chave desconhecida \"key\""_s;
    QTest::newRow("insertion with original")
        << delta(entry(u"inserted"_s, full, full)) << u"(inclusão) não pode ter valores originais"_s;
    QTest::newRow("insertion without values")
        << delta(entry(u"inserted"_s, none, none)) << u"(inclusão) sem valores novos"_s;
    QTest::newRow("insertion with null values")
        << delta(entry(u"inserted"_s, none, QCborValue(nullptr))) << u"(inclusão) sem valores novos"_s;
    QTest::newRow("modification without original")
        << delta(entry(u"modified"_s, none, full)) << u"(alteração) sem valores originais"_s;
    QTest::newRow("modification without current")
        << delta(entry(u"modified"_s, full, QCborValue(nullptr))) << u"(alteração) sem valores novos"_s;
    QTest::newRow("deletion with current")
        << delta(entry(u"deleted"_s, full, full)) << u"(exclusão) não pode ter valores novos"_s;
    QTest::newRow("deletion without original")
        << delta(entry(u"deleted"_s, none, none)) << u"(exclusão) sem valores originais"_s;
    QTest::newRow("original too short") << delta(entry(u"modified"_s, QCborArray{1, u"a"_s}, full))
                                        << u"entrada 1 (alteração), valores originais tem 2 valores"_s;
    QTest::newRow("current text too long") << delta(entry(u"modified"_s, full, QCborArray{1, u"abcdef"_s, 45000}))
                                           << u"valores novos, campo \"NM\": texto com 6 caracteres"_s;
    QTest::newRow("values not a list") << delta(entry(u"inserted"_s, none, QCborMap()))
                                       << u"valores novos: esperada uma lista"_s;
    QTest::newRow("values a text") << delta(entry(u"inserted"_s, none, u"1"_s)) << u"esperada uma lista"_s;
    QTest::newRow("second entry bad") << cbor(
        deltaMap(smallFields(), {entry(u"inserted"_s, none, full),
                                 entry(u"deleted"_s, QCborArray{u"x"_s, u""_s, QCborValue(nullptr)}, none)}))
                                      << u"entrada 2 (exclusão), valores originais, campo \"NR\": esperado um número"_s;
    QTest::newRow("truncated") << delta(entry(u"inserted"_s, none, full)).chopped(1) << u"truncados"_s;
    // The fields after the entries: each entry is checked once they are known.
    QTest::newRow("bad entry before the fields")
        << cbor(QCborMap{{u"format"_s, u"pru.delta"_s},
                         {u"version"_s, 1},
                         {u"entries"_s, list({entry(u"inserted"_s, none, QCborArray{1, u"abcdef"_s, 45000})})},
                         {u"fields"_s, smallFields()}})
        << u"valores novos, campo \"NM\": texto com 6 caracteres"_s;
}

void TstPacket::badDeltaPacketIsRefused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    // Whole, and an entry at a time: the same refusal.
    for (const bool whole : {true, false}) {
        const QString said =
            refusalOf<EPacketError>([&] { whole ? void(DeltaPacket::decode(bytes)) : void(DeltaReader(bytes)); });
        QVERIFY2(said.startsWith(u"Pacote de alterações inválido: "_s), qPrintable(said));
        QVERIFY2(said.contains(reason), qPrintable(said));
    }
}

// A connection that drops mid-packet must never yield a shorter, valid-looking packet.
void TstPacket::everyTruncationIsRefused()
{
    const QByteArray data = DataPacket{processFields, manyRows(3)}.encode();
    for (qsizetype n = 0; n < data.size(); ++n) {
        QVERIFY_THROWS_EXCEPTION(EPacketError, DataPacket::decode(data.left(n)));
    }
    const Row a = row(-1, u"ação"_s, someDateTime, u""_s, QVariant());
    const QByteArray delta =
        DeltaPacket{processFields,
                    {{ChangeKind::Inserted, {}, a}, {ChangeKind::Modified, a, a}, {ChangeKind::Deleted, a, {}}}}
            .encode();
    for (qsizetype n = 0; n < delta.size(); ++n) {
        QVERIFY_THROWS_EXCEPTION(EPacketError, DeltaPacket::decode(delta.left(n)));
    }
}

void TstPacket::oversizedInputIsRefused()
{
    QByteArray huge(PacketLimits::maxPacketBytes + 1, '\0');
    const QString said = refusalOf<EPacketError>([&] { DataPacket::decode(huge); });
    QVERIFY2(said.contains(u"excedem o limite"_s), qPrintable(said));
    QVERIFY_THROWS_EXCEPTION(EPacketError, DeltaPacket::decode(huge));
    // A delta over its reader's limit of entries says so, not that it is malformed.
    const QByteArray two = DeltaPacket{processFields,
                                       {{ChangeKind::Deleted, row(1, {}, {}, {}, {}), {}},
                                        {ChangeKind::Deleted, row(2, {}, {}, {}, {}), {}}}}
                               .encode();
    QCOMPARE(DeltaReader(two, 2).size(), 2);
    try {
        DeltaReader(two, 1);
        QFAIL("read a delta over its limit");
    } catch (const EPacketError &e) {
        QCOMPARE(e.message(),
                 u"o pacote de alterações traz mais de 1 linhas, o limite de uma gravação neste servidor"_s);
    }
}

void TstPacket::deepNestingIsRefused()
{
    // 100,000 nested lists where a row value belongs: refused at the first
    // level, never walked recursively.
    const QByteArray head = hex("a4 66666f726d6174 687072752e64617461 6776657273696f6e01 666669656c6473")
                            + cbor(smallFields()) + hex("64726f7773 81 83");
    QByteArray deep = head + QByteArray(100000, '\x81') + hex("00");
    QVERIFY_THROWS_EXCEPTION(EPacketError, DataPacket::decode(deep));
    QByteArray deepIndefinite = head + QByteArray(100000, '\x9f');
    QVERIFY_THROWS_EXCEPTION(EPacketError, DataPacket::decode(deepIndefinite));
    QVERIFY_THROWS_EXCEPTION(EPacketError, DeltaPacket::decode(QByteArray(100000, '\xa1')));
}

void TstPacket::encodeRefusesWhatCannotTravel_data()
{
    QTest::addColumn<QList<FieldDef>>("fields");
    QTest::addColumn<QList<Row>>("rows");
    QTest::addColumn<QString>("reason");

    const QList<FieldDef> f{{u"NR"_s, FieldType::Number, 0}, {u"NM"_s, FieldType::Text, 3}};
    QTest::newRow("text too long") << f << QList<Row>{{1.0, u"abcd"_s}}
                                   << u"linha 1, campo \"NM\": texto com 4 caracteres excede o tamanho 3"_s;
    QTest::newRow("row too short") << f << QList<Row>{{1.0}} << u"linha 1 tem 1 valores"_s;
    QTest::newRow("NaN") << f << QList<Row>{{std::nan(""), u""_s}} << u"não finito"_s;
    QTest::newRow("infinity") << f << QList<Row>{{std::numeric_limits<double>::infinity(), u""_s}} << u"não finito"_s;
    QTest::newRow("text in number") << f << QList<Row>{{u"1"_s, u""_s}} << u"esperado um número"_s;
    QTest::newRow("lone surrogate") << f << QList<Row>{{1.0, QString(QChar(0xD800))}} << u"surrogate"_s;
    QTest::newRow("duplicate field") << QList<FieldDef>{{u"A"_s, FieldType::Number, 0}, {u"a"_s, FieldType::Number, 0}}
                                     << QList<Row>{} << u"repetido"_s;
    QTest::newRow("text size 0") << QList<FieldDef>{{u"A"_s, FieldType::Text, 0}} << QList<Row>{}
                                 << u"tamanho 0 fora do intervalo"_s;
    QTest::newRow("size on number") << QList<FieldDef>{{u"A"_s, FieldType::Number, 4}} << QList<Row>{}
                                    << u"não se aplica"_s;
    QTest::newRow("empty name") << QList<FieldDef>{{u""_s, FieldType::Number, 0}} << QList<Row>{} << u"nome vazio"_s;
}

void TstPacket::encodeRefusesWhatCannotTravel()
{
    QFETCH(QList<FieldDef>, fields);
    QFETCH(QList<Row>, rows);
    QFETCH(QString, reason);
    const QString said = refusalOf<EPacketError>([&] { DataPacket{fields, rows}.encode(); });
    QVERIFY2(said.startsWith(u"Não foi possível gerar o pacote de dados: "_s), qPrintable(said));
    QVERIFY2(said.contains(reason), qPrintable(said));
    // The same rows inside a change log.
    QList<DeltaEntry> entries;
    for (const Row &r : rows) {
        entries.append({ChangeKind::Inserted, {}, r});
    }
    QVERIFY_THROWS_EXCEPTION(EPacketError, (DeltaPacket{fields, entries}.encode()));
    // An entry whose kind has no original cannot carry one, or it would be lost on the way.
    const DeltaPacket inconsistent{{{u"NR"_s, FieldType::Number, 0}}, {{ChangeKind::Inserted, {1.0}, {2.0}}}};
    QVERIFY_THROWS_EXCEPTION(EPacketError, inconsistent.encode());
    const DeltaPacket noCurrent{{{u"NR"_s, FieldType::Number, 0}}, {{ChangeKind::Modified, {1.0}, {}}}};
    QVERIFY_THROWS_EXCEPTION(EPacketError, noCurrent.encode());
}

void TstPacket::checkValue_data()
{
    QTest::addColumn<FieldDef>("field");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("fits");

    const FieldDef number{u"NR"_s, FieldType::Number, 0};
    const FieldDef date{u"DT"_s, FieldType::DateTime, 0};
    const FieldDef flag{u"ID"_s, FieldType::Text, 1};

    QTest::newRow("null number") << number << QVariant() << true;
    QTest::newRow("double") << number << QVariant(-12.5) << true;
    QTest::newRow("int") << number << QVariant(15) << true;
    QTest::newRow("qlonglong 2^53") << number << QVariant(qlonglong(1) << 53) << true;
    QTest::newRow("qlonglong beyond 2^53") << number << QVariant((qlonglong(1) << 53) + 1) << false;
    QTest::newRow("qulonglong beyond 2^53") << number << QVariant((qulonglong(1) << 63)) << false;
    QTest::newRow("NaN") << number << QVariant(std::nan("")) << false;
    QTest::newRow("text in number") << number << QVariant(u"1"_s) << false;
    QTest::newRow("bool in number") << number << QVariant(true) << false;
    QTest::newRow("date now") << date << QVariant(someDateTime) << true;
    QTest::newRow("date 9999") << date << QVariant(2958466.0) << false;
    QTest::newRow("null flag") << flag << QVariant() << true;
    QTest::newRow("flag S") << flag << QVariant(u"S"_s) << true;
    QTest::newRow("flag accented") << flag << QVariant(u"É"_s) << true;
    QTest::newRow("flag emoji") << flag << QVariant(u"😀"_s) << true;
    QTest::newRow("flag empty") << flag << QVariant(u""_s) << true;
    QTest::newRow("flag two") << flag << QVariant(u"SN"_s) << false;
    QTest::newRow("flag as number") << flag << QVariant(1.0) << false;
    QTest::newRow("flag as bytes") << flag << QVariant(QByteArray("S")) << false;
}

void TstPacket::checkValue()
{
    QFETCH(FieldDef, field);
    QFETCH(QVariant, value);
    QFETCH(bool, fits);
    if (fits) {
        ::checkValue(field, value);
    } else {
        const QString said = refusalOf<EPacketError>([&] { ::checkValue(field, value); });
        QVERIFY2(said.startsWith(u"Valor inválido para o campo \"%1\": "_s.arg(field.name)), qPrintable(said));
    }
}

// The seeds of the fuzzers are valid packets; inputs that once broke a
// decoder stay here as regressions and must be refused or decoded cleanly.
// With PRU_WRITE_FUZZ_SEEDS set, the seeds are (re)written first.
namespace {

// One row through the writer as a query hands it over: a QByteArray is UTF-8
// text as the database keeps it, a double a number, an invalid QVariant null.
QByteArray written(const QList<FieldDef> &fields, const QList<QVariantList> &rows)
{
    DataPacketWriter writer(fields);
    for (const QVariantList &values : rows) {
        writer.beginRow();
        for (const QVariant &v : values) {
            if (!v.isValid()) {
                writer.appendNull();
            } else if (v.typeId() == QMetaType::QByteArray) {
                const QByteArray text = v.toByteArray();
                writer.appendUtf8(text.constData(), text.size());
            } else if (v.typeId() == QMetaType::QString) {
                writer.appendText(v.toString());
            } else {
                writer.appendNumber(v.toDouble());
            }
        }
        writer.endRow();
    }
    return writer.finish();
}

} // namespace

void TstPacket::writerGivesWhatEncodeGives_data()
{
    QTest::addColumn<QVariantList>("values");
    QTest::addColumn<Row>("expected");
    const QVariant null;
    QTest::newRow("plain row") << QVariantList{7.0, QByteArray("Abertura"), someDateTime, QByteArray("Obs"),
                                               QByteArray("S")}
                               << row(7, u"Abertura"_s, someDateTime, u"Obs"_s, u"S"_s);
    QTest::newRow("nulls") << QVariantList{1.0, null, null, null, null} << row(1, null, null, null, null);
    QTest::newRow("numbers") << QVariantList{-42.0, QByteArray(""), -0.0, QByteArray("x"), QByteArray("N")}
                             << row(-42, u""_s, -0.0, u"x"_s, u"N"_s);
    QTest::newRow("largest whole number")
        << QVariantList{9007199254740992.0, null, 0.5, null, null} << row(9007199254740992.0, null, 0.5, null, null);
    QTest::newRow("accents and emoji") << QVariantList{2.0, QByteArray("Conferência 🧾"), null, null,
                                                       QByteArray("é")}
                                       << row(2, u"Conferência 🧾"_s, null, null, u"é"_s);
    QTest::newRow("text over its size is cut by characters")
        << QVariantList{3.0, QByteArray(101, 'a'), null, null, QByteArray("ção")}
        << row(3, QString(100, u'a'), null, null, u"ç"_s);
    QTest::newRow("malformed UTF-8 replaced")
        << QVariantList{4.0,
                        QByteArray("a\xff\xfe"
                                   "b"),
                        null, QByteArray("\xed\xa0\x80"), null}
        << row(4, u"a\uFFFD\uFFFDb"_s, null, QString::fromUtf8("\xed\xa0\x80"), null);
    QTest::newRow("text as QString") << QVariantList{5.0, u"Fechamento"_s, null, null, u"SN"_s}
                                     << row(5, u"Fechamento"_s, null, null, u"S"_s);
}

void TstPacket::writerGivesWhatEncodeGives()
{
    QFETCH(QVariantList, values);
    QFETCH(Row, expected);
    const QByteArray bytes = written(processFields, {values, values});
    QCOMPARE(bytes, (DataPacket{processFields, {expected, expected}}.encode()));
    QCOMPARE(DataPacket::decode(bytes).rows, (QList<Row>{expected, expected}));
    QCOMPARE(written(processFields, {}), (DataPacket{processFields, {}}.encode()));
}

void TstPacket::writerRefusesWhatCannotTravel_data()
{
    QTest::addColumn<QVariantList>("values");
    QTest::addColumn<QString>("reason");
    const QVariant null;
    QTest::newRow("not a finite number") << QVariantList{qQNaN(), null, null, null, null} << u"não finito"_s;
    QTest::newRow("date past 9999") << QVariantList{1.0, null, 3e6, null, null} << u"fora do intervalo"_s;
    QTest::newRow("text for a number") << QVariantList{QByteArray("1"), null, null, null, null}
                                       << u"esperado um número"_s;
    QTest::newRow("number for a text") << QVariantList{1.0, 2.0, null, null, null} << u"esperado um texto"_s;
    QTest::newRow("value missing") << QVariantList{1.0, null, null, null} << u"tem 4 valores"_s;
    QTest::newRow("value too many") << QVariantList{1.0, null, null, null, null, null} << u"mais valores"_s;
}

void TstPacket::writerRefusesWhatCannotTravel()
{
    QFETCH(QVariantList, values);
    QFETCH(QString, reason);
    const QString said = refusalOf<EPacketError>([&] { written(processFields, {values}); });
    QVERIFY2(said.contains(reason), qPrintable(said));
}

void TstPacket::fuzzCorpusAndRegressions()
{
    const QString fuzzDir = QFINDTESTDATA("../../fuzz/corpus");
    if (fuzzDir.isEmpty()) {
        QSKIP("fuzz/corpus not found beside the sources");
    }
    QDir root(fuzzDir);
    root.cdUp();

    if (qEnvironmentVariableIsSet("PRU_WRITE_FUZZ_SEEDS")) {
        const auto write = [&](const QString &target, const QString &name, const QByteArray &bytes) {
            QVERIFY(root.mkpath(u"corpus/"_s + target));
            QFile file(root.filePath(u"corpus/%1/%2"_s.arg(target, name)));
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(bytes);
        };
        const QList<FieldDef> small{
            {u"NR"_s, FieldType::Number, 0}, {u"NM"_s, FieldType::Text, 10}, {u"DT"_s, FieldType::DateTime, 0}};
        write(u"fuzz_datapacket"_s, u"empty"_s, DataPacket{}.encode());
        write(u"fuzz_datapacket"_s, u"no-rows"_s, DataPacket{small, {}}.encode());
        write(u"fuzz_datapacket"_s, u"rows"_s,
              DataPacket{small,
                         {{-1.0, u"ação"_s, someDateTime}, {2.5, u""_s, QVariant()}, {QVariant(), QVariant(), -1.25}}}
                  .encode());
        write(u"fuzz_datapacket"_s, u"process"_s, DataPacket{processFields, manyRows(2)}.encode());
        write(u"fuzz_deltapacket"_s, u"empty"_s, DeltaPacket{small, {}}.encode());
        write(u"fuzz_deltapacket"_s, u"each-kind"_s,
              DeltaPacket{small,
                          {{ChangeKind::Inserted, {}, {-1.0, u"novo"_s, someDateTime}},
                           {ChangeKind::Modified, {5.0, u"antes"_s, QVariant()}, {5.0, u"depois"_s, 45000.5}},
                           {ChangeKind::Deleted, {6.0, u""_s, 1.0}, {}}}}
                  .encode());
    }

    int seeds = 0;
    for (const QString &target : {u"fuzz_datapacket"_s, u"fuzz_deltapacket"_s}) {
        const bool isData = target == u"fuzz_datapacket"_s;
        QDir corpus(root.filePath(u"corpus/"_s + target));
        for (const QFileInfo &info : corpus.entryInfoList(QDir::Files)) {
            QFile file(info.filePath());
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray bytes = file.readAll();
            if (isData) {
                QCOMPARE(DataPacket::decode(bytes).encode(), bytes);
            } else {
                QCOMPARE(DeltaPacket::decode(bytes).encode(), bytes);
            }
            ++seeds;
        }
        QDir regressions(root.filePath(u"regressions/"_s + target));
        for (const QFileInfo &info : regressions.entryInfoList(QDir::Files)) {
            QFile file(info.filePath());
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray bytes = file.readAll();
            try {
                if (isData) {
                    const DataPacket p = DataPacket::decode(bytes);
                    QCOMPARE(DataPacket::decode(p.encode()), p);
                } else {
                    const DeltaPacket p = DeltaPacket::decode(bytes);
                    QCOMPARE(DeltaPacket::decode(p.encode()), p);
                }
            } catch (const EPacketError &) {
                // Refused with a message: what a bad packet must get.
            }
        }
    }
    QVERIFY2(seeds >= 4, "the fuzz seeds are missing");
}

QTEST_GUILESS_MAIN(TstPacket)
#include "tst_packet.moc"
