#include "Packet.h"

#include "CborReader.h"
#include "Exceptions.h"
#include "FieldValue.h"
#include "NullValue.h"

#include <QCborStreamReader>
#include <QCborStreamWriter>

#include <cstring>
#include <QMetaType>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>

using namespace Qt::StringLiterals;

// Layout of both packets: docs/packets.md. Decoding walks the bytes with a
// stream reader and never descends into anything the layout does not allow,
// so nesting depth is bounded by construction; every declared length is
// checked against the bytes that remain before anything is read or reserved.

namespace {

constexpr auto dataFormat = "pru.data"_L1;
constexpr auto deltaFormat = "pru.delta"_L1;
constexpr int packetVersion = 1;

// Day counts of 01/01/0001 00:00 and of the end of 31/12/9999: date-times
// outside this range cannot be shown or stored, and converting them to a
// QDateTime would overflow.
constexpr double minDateTime = -693593.0;
constexpr double endDateTime = 2958466.0;

// Whole numbers beyond 2^53 have no exact double; accepting them would
// silently change the value.
constexpr double maxExactInteger = double(PacketLimits::maxWholeNumber);
constexpr quint64 maxExactIntegerU = quint64(PacketLimits::maxWholeNumber);

// Longest key or enumerated text of the layout ("datetime", "inserted"...), in bytes.
constexpr qsizetype maxKeyBytes = 32;

// Views into the enum tables: a packet written or checked makes no text of them.
QStringView typeText(FieldType type)
{
    return enumName(fieldTypeNames, type).wire;
}

QStringView kindText(ChangeKind kind)
{
    return enumName(changeKindNames, kind).wire;
}

QStringView kindLabel(ChangeKind kind)
{
    return enumName(changeKindNames, kind).label;
}

bool hasOriginal(ChangeKind kind)
{
    return kind != ChangeKind::Inserted;
}
bool hasCurrent(ChangeKind kind)
{
    return kind != ChangeKind::Deleted;
}

QString quoted(const QString &text)
{
    return u"\""_s + text + u"\""_s;
}

// Counts code points (a lone surrogate counts as one); false when the text
// holds a lone surrogate, which has no UTF-8 form and would come back changed.
bool countCharacters(QStringView text, qsizetype *count)
{
    qsizetype n = 0;
    bool wellFormed = true;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;
        } else if (c.isSurrogate()) {
            wellFormed = false;
        }
        ++n;
    }
    *count = n;
    return wellFormed;
}

QString describeValue(const QVariant &value)
{
    if (value.typeId() == QMetaType::QString) {
        return u"um texto"_s;
    }
    if (FieldValue::isNumeric(value)) {
        return u"um número"_s;
    }
    if (value.typeId() == QMetaType::Bool) {
        return u"um valor lógico"_s;
    }
    return u"um valor do tipo "_s + QString::fromLatin1(value.typeName());
}

// Reads a numeric QVariant as the double a packet carries.
// Returns an empty text when it fits, or what is wrong with it.
QString numberOf(const QVariant &value, double *out)
{
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
        *out = value.toDouble();
        if (!std::isfinite(*out)) {
            return u"número não finito (NaN ou infinito)"_s;
        }
        return {};
    case QMetaType::Int:
    case QMetaType::LongLong: {
        const qlonglong v = value.toLongLong();
        if (v > qlonglong(maxExactIntegerU) || v < -qlonglong(maxExactIntegerU)) {
            return u"número inteiro %1 sem representação exata"_s.arg(v);
        }
        *out = double(v);
        return {};
    }
    case QMetaType::UInt:
    case QMetaType::ULongLong: {
        const qulonglong v = value.toULongLong();
        if (v > maxExactIntegerU) {
            return u"número inteiro %1 sem representação exata"_s.arg(v);
        }
        *out = double(v);
        return {};
    }
    default:
        return u"esperado um número, recebido "_s + describeValue(value);
    }
}

// Empty when the value fits the field, otherwise what is wrong with it.
QString valueProblem(const FieldDef &field, const QVariant &value)
{
    if (isNullValue(value)) {
        return {};
    }
    switch (field.type) {
    case FieldType::Number: {
        double d = 0;
        return numberOf(value, &d);
    }
    case FieldType::DateTime: {
        double d = 0;
        if (value.typeId() == QMetaType::QString) {
            return u"esperada uma data-hora (número de dias), recebido um texto"_s;
        }
        QString problem = numberOf(value, &d);
        if (!problem.isEmpty()) {
            return problem;
        }
        if (d < minDateTime || d >= endDateTime) {
            return u"data-hora %1 fora do intervalo de 01/01/0001 a 31/12/9999"_s.arg(d, 0, 'g', 17);
        }
        return {};
    }
    case FieldType::Text: {
        if (value.typeId() != QMetaType::QString) {
            return u"esperado um texto, recebido "_s + describeValue(value);
        }
        qsizetype count = 0;
        if (!countCharacters(value.toString(), &count)) {
            return u"texto com caractere inválido (surrogate UTF-16 isolado)"_s;
        }
        if (count > field.size) {
            return u"texto com %1 caracteres excede o tamanho %2 do campo"_s.arg(count).arg(field.size);
        }
        return {};
    }
    }
    return u"tipo de campo desconhecido"_s;
}

// Empty when the definitions can travel, otherwise what is wrong with them.
QString fieldsProblem(const QList<FieldDef> &fields)
{
    if (fields.size() > PacketLimits::maxFields) {
        return u"%1 campos excedem o limite de %2"_s.arg(fields.size()).arg(PacketLimits::maxFields);
    }
    QSet<QString> seen;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        const FieldDef &f = fields[i];
        // Built only for a refusal: this runs for every packet written and read.
        const auto where = [i] { return u"campo %1"_s.arg(i + 1); };
        if (QStringView(f.name).trimmed().isEmpty()) {
            return where() + u": nome vazio"_s;
        }
        qsizetype length = 0;
        if (!countCharacters(f.name, &length)) {
            return where() + u": nome com caractere inválido"_s;
        }
        if (length > PacketLimits::maxFieldNameLength) {
            return where() + u": nome com mais de %1 caracteres"_s.arg(PacketLimits::maxFieldNameLength);
        }
        // Fields are looked up by name without regard to case.
        const QString key = f.name.toCaseFolded();
        if (seen.contains(key)) {
            return where() + u": nome "_s + quoted(f.name) + u" repetido"_s;
        }
        seen.insert(key);
        switch (f.type) {
        case FieldType::Text:
            if (f.size < 1 || f.size > PacketLimits::maxTextSize) {
                return where() + u" "_s + quoted(f.name)
                       + u": tamanho %1 fora do intervalo de 1 a %2"_s.arg(f.size).arg(PacketLimits::maxTextSize);
            }
            break;
        case FieldType::Number:
        case FieldType::DateTime:
            if (f.size != 0) {
                return where() + u" "_s + quoted(f.name)
                       + u": tamanho %1 não se aplica ao tipo %2"_s.arg(f.size).arg(typeText(f.type));
            }
            break;
        default:
            return where() + u" "_s + quoted(f.name) + u": tipo desconhecido"_s;
        }
    }
    return {};
}

// Empty when the row fits the fields, otherwise the fault, worded to follow
// the row's name (" tem 2 valores..." or ", campo ...: ..."); the name is only
// put together by the caller when there is a fault.
QString rowProblem(const QList<FieldDef> &fields, const Row &row)
{
    if (row.size() != fields.size()) {
        return u" tem %1 valores, mas o pacote tem %2 campos"_s.arg(row.size()).arg(fields.size());
    }
    for (qsizetype i = 0; i < row.size(); ++i) {
        const QString problem = valueProblem(fields[i], row[i]);
        if (!problem.isEmpty()) {
            return u", campo "_s + quoted(fields[i].name) + u": "_s + problem;
        }
    }
    return {};
}

QString rowLabel(qsizetype index)
{
    return u"linha %1"_s.arg(index + 1);
}

QString entryLabel(const DeltaEntry &entry, qsizetype index)
{
    return u"entrada %1 (%2)"_s.arg(index + 1).arg(kindLabel(entry.kind));
}

QString entryProblem(const QList<FieldDef> &fields, const DeltaEntry &entry, qsizetype index)
{
    if (entry.kind != ChangeKind::Inserted && entry.kind != ChangeKind::Modified && entry.kind != ChangeKind::Deleted) {
        return u"entrada %1: tipo de alteração desconhecido"_s.arg(index + 1);
    }
    if (hasOriginal(entry.kind)) {
        const QString problem = rowProblem(fields, entry.original);
        if (!problem.isEmpty()) {
            return entryLabel(entry, index) + u", valores originais"_s + problem;
        }
    } else if (!entry.original.isEmpty()) {
        return entryLabel(entry, index) + u" não pode ter valores originais"_s;
    }
    if (hasCurrent(entry.kind)) {
        const QString problem = rowProblem(fields, entry.current);
        if (!problem.isEmpty()) {
            return entryLabel(entry, index) + u", valores novos"_s + problem;
        }
    } else if (!entry.current.isEmpty()) {
        return entryLabel(entry, index) + u" não pode ter valores novos"_s;
    }
    return {};
}

// ---------------------------------------------------------------- writing

void writeValue(QCborStreamWriter &w, const QVariant &value)
{
    if (isNullValue(value)) {
        w.appendNull();
        return;
    }
    if (value.typeId() == QMetaType::QString) {
        w.append(value.toString());
        return;
    }
    double d = 0;
    numberOf(value, &d); // already checked
    // Whole numbers (keys, orders) go as integers: 1 to 9 bytes instead of 9.
    // -0.0 stays a double so that its sign survives.
    if (d == std::trunc(d) && std::fabs(d) <= maxExactInteger && !(d == 0 && std::signbit(d))) {
        w.append(qint64(d));
    } else {
        w.append(d);
    }
}

void writeRow(QCborStreamWriter &w, const Row &row)
{
    w.startArray(quint64(row.size()));
    for (const QVariant &v : row) {
        writeValue(w, v);
    }
    w.endArray();
}

void writeHeader(QCborStreamWriter &w, QLatin1StringView format, const QList<FieldDef> &fields)
{
    w.startMap(4);
    w.append("format"_L1);
    w.append(format);
    w.append("version"_L1);
    w.append(packetVersion);
    w.append("fields"_L1);
    w.startArray(quint64(fields.size()));
    for (const FieldDef &f : fields) {
        const bool text = f.type == FieldType::Text;
        w.startMap(text ? 3 : 2);
        w.append("name"_L1);
        w.append(f.name);
        w.append("type"_L1);
        w.append(typeText(f.type));
        if (text) {
            w.append("size"_L1);
            w.append(qint64(f.size));
        }
        w.endMap();
    }
    w.endArray();
}

void checkEncodedSize(const QByteArray &bytes, const QString &prefix)
{
    if (bytes.size() > PacketLimits::maxPacketBytes) {
        throw EPacketError(
            prefix
            + u"o pacote teria %1 bytes, acima do limite de %2"_s.arg(bytes.size()).arg(PacketLimits::maxPacketBytes));
    }
}

// ---------------------------------------------------------------- reading

QString cborTypeName(const QCborStreamReader &r)
{
    switch (r.type()) {
    case QCborStreamReader::UnsignedInteger:
    case QCborStreamReader::NegativeInteger:
        return u"um número inteiro"_s;
    case QCborStreamReader::ByteArray:
        return u"uma sequência de bytes"_s;
    case QCborStreamReader::String:
        return u"um texto"_s;
    case QCborStreamReader::Array:
        return u"uma lista"_s;
    case QCborStreamReader::Map:
        return u"um mapa"_s;
    case QCborStreamReader::Tag:
        return u"uma etiqueta CBOR"_s;
    case QCborStreamReader::SimpleType:
        if (r.isNull()) {
            return u"null"_s;
        }
        if (r.isBool()) {
            return u"um valor lógico"_s;
        }
        return u"um valor simples CBOR"_s;
    case QCborStreamReader::Float16:
    case QCborStreamReader::Float:
    case QCborStreamReader::Double:
        return u"um número"_s;
    case QCborStreamReader::Invalid:
        break;
    }
    return u"um item inválido"_s;
}

// Names the place of a fault for its message ("linha 3, valor 2"). Put into
// words only when there is a fault, so that a valid packet formats no text.
class Where
{
public:
    Where() = default;
    Where(const char16_t *label)
        : m_label(label)
    { }
    Where(const Where *parent, const char16_t *label, qsizetype index = -1)
        : m_parent(parent)
        , m_label(label)
        , m_index(index)
    { }

    QString text() const
    {
        QString own = m_label ? QString::fromUtf16(m_label) : QString();
        if (m_index >= 0) {
            own += u' ' + QString::number(m_index + 1);
        }
        const QString before = m_parent ? m_parent->text() : QString();
        if (before.isEmpty()) {
            return own;
        }
        return own.isEmpty() ? before : before + u", "_s + own;
    }

private:
    const Where *m_parent = nullptr;
    const char16_t *m_label = nullptr;
    qsizetype m_index = -1;
};

class Decoder
{
public:
    explicit Decoder(const QByteArray &bytes)
        : m_cbor(bytes)
        , m_reader(m_cbor.stream())
    {
        if (bytes.isEmpty()) {
            fail(u"pacote vazio"_s);
        }
        if (bytes.size() > PacketLimits::maxPacketBytes) {
            fail(u"%1 bytes excedem o limite de %2"_s.arg(bytes.size()).arg(PacketLimits::maxPacketBytes));
        }
        m_cbor.check();
    }

    // Every fault is the reader's one kind; decode() puts the packet's name in front.
    [[noreturn]] void fail(const QString &problem) const { CborReader::fail(problem); }
    [[noreturn]] void fail(const Where &where, const QString &problem) const
    {
        const QString place = where.text();
        fail(place.isEmpty() ? problem : place + u": "_s + problem);
    }

    qint64 remaining() const { return m_cbor.remaining(); }
    qint64 offset() const { return m_reader.currentOffset(); }

    bool atNull() const { return m_reader.isNull(); }

    void skipNull() { m_cbor.next(); }

    void checkAfterItem() { m_cbor.checkAfterItem(); }

    QString readText(qsizetype maxBytes, const Where &where)
    {
        if (!m_reader.isString()) {
            fail(where, u"esperado um texto, recebido "_s + cborTypeName(m_reader));
        }
        try {
            return m_cbor.readText(maxBytes);
        } catch (const EPacketError &e) {
            fail(where, e.message());
        }
    }

    qint64 readInteger(const Where &where)
    {
        if (!m_reader.isUnsignedInteger()
            || m_reader.toUnsignedInteger() > quint64(std::numeric_limits<qint64>::max())) {
            fail(where, u"esperado um número inteiro não negativo, recebido "_s + cborTypeName(m_reader));
        }
        const qint64 v = qint64(m_reader.toUnsignedInteger());
        m_reader.next();
        checkAfterItem();
        return v;
    }

    // null, a number (integer or floating point) or a text; anything else is refused.
    QVariant readValue(const Where &where)
    {
        switch (m_reader.type()) {
        case QCborStreamReader::SimpleType:
            if (!m_reader.isNull()) {
                break;
            }
            skipNull();
            return QVariant();
        case QCborStreamReader::UnsignedInteger: {
            const quint64 v = m_reader.toUnsignedInteger();
            if (v > maxExactIntegerU) {
                fail(where, u"número inteiro %1 sem representação exata"_s.arg(v));
            }
            m_reader.next();
            checkAfterItem();
            return QVariant(double(v));
        }
        case QCborStreamReader::NegativeInteger: {
            // The value is -1 - n; Qt hands over n + 1, which wraps to 0 for the largest n.
            const quint64 magnitude = quint64(m_reader.toNegativeInteger());
            if (magnitude == 0 || magnitude > maxExactIntegerU) {
                fail(where, u"número inteiro negativo sem representação exata"_s);
            }
            m_reader.next();
            checkAfterItem();
            return QVariant(-double(magnitude));
        }
        case QCborStreamReader::Float16:
        case QCborStreamReader::Float:
        case QCborStreamReader::Double: {
            const double d = m_reader.isDouble()  ? m_reader.toDouble()
                             : m_reader.isFloat() ? double(m_reader.toFloat())
                                                  : double(m_reader.toFloat16());
            if (!std::isfinite(d)) {
                fail(where, u"número não finito (NaN ou infinito)"_s);
            }
            m_reader.next();
            checkAfterItem();
            return QVariant(d);
        }
        case QCborStreamReader::String:
            return QVariant(readText(4 * qsizetype(PacketLimits::maxTextSize), where));
        default:
            break;
        }
        fail(where, u"esperado null, número ou texto, recebido "_s + cborTypeName(m_reader));
    }

    // Calls onElement once per element; onElement consumes exactly one item.
    template <typename OnElement>
    void readArray(const Where &where, qsizetype maxCount, OnElement &&onElement)
    {
        if (!m_reader.isArray()) {
            fail(where, u"esperada uma lista, recebido "_s + cborTypeName(m_reader));
        }
        if (m_reader.isLengthKnown()) {
            const quint64 declared = m_reader.length();
            if (declared > quint64(remaining())) {
                fail(where, u"lista declara %1 elementos, mais do que cabe no pacote"_s.arg(declared));
            }
            if (declared > quint64(maxCount)) {
                fail(where, u"lista com %1 elementos excede o limite de %2"_s.arg(declared).arg(maxCount));
            }
        }
        enter();
        qsizetype count = 0;
        while (m_reader.hasNext()) {
            if (count >= maxCount) {
                fail(where, u"lista com mais de %1 elementos"_s.arg(maxCount));
            }
            onElement(count);
            ++count;
        }
        leave();
    }

    // Calls onKey for each key, standing on its value; onKey consumes the value.
    // Keys are texts, each at most once.
    void readMap(const Where &where, const std::function<void(const QString &)> &onKey)
    {
        if (!m_reader.isMap()) {
            fail(where, u"esperado um mapa, recebido "_s + cborTypeName(m_reader));
        }
        constexpr qsizetype maxKeys = 8; // more than any map of the layout has
        if (m_reader.isLengthKnown() && m_reader.length() > quint64(maxKeys)) {
            fail(where, u"mapa com chaves demais"_s);
        }
        enter();
        QStringList seen;
        while (m_reader.hasNext()) {
            if (seen.size() >= maxKeys) {
                fail(where, u"mapa com chaves demais"_s);
            }
            const QString key = readText(maxKeyBytes, Where(&where, u"chave"));
            if (seen.contains(key)) {
                fail(where, u"chave "_s + quoted(key) + u" repetida"_s);
            }
            seen.append(key);
            if (!m_reader.hasNext()) {
                fail(where, u"chave "_s + quoted(key) + u" sem valor"_s);
            }
            onKey(key);
        }
        leave();
    }

    void finish()
    {
        if (!m_cbor.atEnd()) {
            fail(u"%1 bytes a mais depois do fim do pacote"_s.arg(m_cbor.remaining()));
        }
    }

private:
    void enter() { m_cbor.enter(); }
    void leave() { m_cbor.leave(); }

    CborReader m_cbor;
    QCborStreamReader &m_reader;
};

// Decodes with prefix in front of any fault, so that every message names the packet.
template <typename Read>
auto decodeNamed(const QString &prefix, Read &&read)
{
    try {
        return read();
    } catch (const EPacketError &e) {
        throw EPacketError(prefix + e.message());
    }
}

FieldType parseType(Decoder &d, const QString &text, const Where &where)
{
    if (const std::optional<FieldType> type = enumFromWire(fieldTypeNames, text)) {
        return *type;
    }
    d.fail(where, u"tipo "_s + quoted(text) + u" desconhecido (esperado number, text ou datetime)"_s);
}

QList<FieldDef> readFields(Decoder &d)
{
    QList<FieldDef> fields;
    d.readArray(Where(u"fields"), PacketLimits::maxFields, [&](qsizetype index) {
        const Where where(nullptr, u"campo", index);
        FieldDef f;
        bool haveName = false;
        bool haveType = false;
        std::optional<qint64> size;
        d.readMap(where, [&](const QString &key) {
            if (key == "name"_L1) {
                f.name = d.readText(4 * qsizetype(PacketLimits::maxFieldNameLength), Where(&where, u"name"));
                haveName = true;
            } else if (key == "type"_L1) {
                f.type = parseType(d, d.readText(maxKeyBytes, Where(&where, u"type")), where);
                haveType = true;
            } else if (key == "size"_L1) {
                size = d.readInteger(Where(&where, u"size"));
            } else {
                d.fail(where, u"chave desconhecida "_s + quoted(key));
            }
        });
        if (!haveName) {
            d.fail(where, u"falta o nome (name)"_s);
        }
        const auto named = [&] { return where.text() + u" "_s + quoted(f.name) + u": "_s; };
        if (!haveType) {
            d.fail(named() + u"falta o tipo (type)"_s);
        }
        if (f.type == FieldType::Text) {
            if (!size) {
                d.fail(named() + u"campo de texto sem tamanho (size)"_s);
            }
            if (*size < 1 || *size > PacketLimits::maxTextSize) {
                d.fail(named() + u"tamanho %1 fora do intervalo de 1 a %2"_s.arg(*size).arg(PacketLimits::maxTextSize));
            }
            f.size = int(*size);
        } else if (size && *size != 0) {
            d.fail(named() + u"tamanho %1 não se aplica ao tipo %2"_s.arg(*size).arg(typeText(f.type)));
        }
        fields.append(f);
    });
    const QString problem = fieldsProblem(fields);
    if (!problem.isEmpty()) {
        d.fail(problem);
    }
    return fields;
}

Row readRow(Decoder &d, const Where &where, qsizetype expectedSize)
{
    Row row;
    // Reserve for the usual case only; a longer row is refused later anyway.
    row.reserve(expectedSize);
    d.readArray(where, PacketLimits::maxFields,
                [&](qsizetype index) { row.append(d.readValue(Where(&where, u"valor", index))); });
    return row;
}

// Reads the top map; onContent reads the value of contentKey ("rows" or
// "entries"), given the fields when they came before it (nullptr otherwise).
QList<FieldDef> readPacket(Decoder &d, QLatin1StringView expectedFormat, QLatin1StringView contentKey,
                           const std::function<void(const QList<FieldDef> *)> &onContent)
{
    std::optional<QList<FieldDef>> fields;
    bool haveFormat = false;
    bool haveVersion = false;
    bool haveContent = false;
    d.readMap(Where(), [&](const QString &key) {
        if (key == "format"_L1) {
            const QString format = d.readText(maxKeyBytes, Where(u"format"));
            if (format != expectedFormat) {
                if (format == dataFormat || format == deltaFormat) {
                    d.fail(u"formato "_s + quoted(format) + u" recebido onde se esperava "_s + quoted(expectedFormat));
                }
                d.fail(u"formato "_s + quoted(format) + u" desconhecido"_s);
            }
            haveFormat = true;
        } else if (key == "version"_L1) {
            const qint64 version = d.readInteger(Where(u"version"));
            if (version != packetVersion) {
                d.fail(u"versão %1 não suportada (esperada %2)"_s.arg(version).arg(packetVersion));
            }
            haveVersion = true;
        } else if (key == "fields"_L1) {
            fields = readFields(d);
        } else if (key == contentKey) {
            onContent(fields ? &*fields : nullptr);
            haveContent = true;
        } else {
            d.fail(u"chave desconhecida "_s + quoted(key));
        }
    });
    d.finish();
    if (!haveFormat) {
        d.fail(u"falta o formato (format)"_s);
    }
    if (!haveVersion) {
        d.fail(u"falta a versão (version)"_s);
    }
    if (!fields) {
        d.fail(u"faltam os campos (fields)"_s);
    }
    if (!haveContent) {
        d.fail(u"falta "_s + quoted(QString(contentKey)));
    }
    return *fields;
}

const QString dataErrorPrefix = u"Pacote de dados inválido: "_s;
const QString deltaErrorPrefix = u"Pacote de alterações inválido: "_s;

} // namespace

const QString dataEncodePrefix = u"Não foi possível gerar o pacote de dados: "_s;

QByteArray DataPacket::encode() const
{
    const QString &prefix = dataEncodePrefix;
    checkFields(fields);
    QString problem;
    if (rows.size() > PacketLimits::maxRows) {
        throw EPacketError(prefix + u"%1 linhas excedem o limite de %2"_s.arg(rows.size()).arg(PacketLimits::maxRows));
    }
    for (qsizetype i = 0; i < rows.size(); ++i) {
        problem = rowProblem(fields, rows[i]);
        if (!problem.isEmpty()) {
            throw EPacketError(prefix + rowLabel(i) + problem);
        }
    }

    QByteArray bytes;
    {
        QCborStreamWriter w(&bytes);
        writeHeader(w, dataFormat, fields);
        w.append("rows"_L1);
        w.startArray(quint64(rows.size()));
        for (const Row &row : rows) {
            writeRow(w, row);
        }
        w.endArray();
        w.endMap();
    }
    checkEncodedSize(bytes, prefix);
    return bytes;
}

DataPacket DataPacket::decode(const QByteArray &bytes)
{
    return decodeNamed(dataErrorPrefix, [&] {
        Decoder d(bytes);
        DataPacket packet;
        packet.fields = readPacket(d, dataFormat, "rows"_L1, [&](const QList<FieldDef> *) {
            d.readArray(Where(u"rows"), PacketLimits::maxRows, [&](qsizetype index) {
                const qsizetype sizeHint = packet.rows.isEmpty() ? 0 : packet.rows.constLast().size();
                packet.rows.append(readRow(d, Where(nullptr, u"linha", index), sizeHint));
            });
        });
        // Keys may come in any order, so rows are checked once the fields are known.
        for (qsizetype i = 0; i < packet.rows.size(); ++i) {
            const QString problem = rowProblem(packet.fields, packet.rows[i]);
            if (!problem.isEmpty()) {
                d.fail(rowLabel(i) + problem);
            }
        }
        return packet;
    });
}

// ---------------------------------------------------------------- writing rows

namespace {

void cborHead(QByteArray &out, quint8 major, quint64 value)
{
    const char type = char(major << 5);
    if (value < 24) {
        out.append(char(type | char(value)));
        return;
    }
    int bytes = 8;
    char size = 27;
    if (value <= 0xff) {
        bytes = 1;
        size = 24;
    } else if (value <= 0xffff) {
        bytes = 2;
        size = 25;
    } else if (value <= 0xffffffffU) {
        bytes = 4;
        size = 26;
    }
    out.append(char(type | size));
    for (int i = bytes - 1; i >= 0; --i) {
        out.append(char((value >> (8 * i)) & 0xff));
    }
}

// Bytes of the first maxCharacters characters of UTF-8 text (a character is
// a code point); nullopt for a malformed sequence (overlong forms,
// surrogates and values past U+10FFFF included).
std::optional<qsizetype> utf8Prefix(const unsigned char *p, qsizetype bytes, qsizetype maxCharacters)
{
    qsizetype i = 0;
    qsizetype n = 0;
    while (i < bytes && n < maxCharacters) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            ++n;
            continue;
        }
        int length = 0;
        char32_t code = 0;
        char32_t least = 0;
        if ((c & 0xe0) == 0xc0) {
            length = 2;
            code = c & 0x1f;
            least = 0x80;
        } else if ((c & 0xf0) == 0xe0) {
            length = 3;
            code = c & 0x0f;
            least = 0x800;
        } else if ((c & 0xf8) == 0xf0) {
            length = 4;
            code = c & 0x07;
            least = 0x10000;
        } else {
            return std::nullopt;
        }
        if (i + length > bytes) {
            return std::nullopt;
        }
        for (int k = 1; k < length; ++k) {
            if ((p[i + k] & 0xc0) != 0x80) {
                return std::nullopt;
            }
            code = (code << 6) | (p[i + k] & 0x3f);
        }
        if (code < least || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) {
            return std::nullopt;
        }
        i += length;
        ++n;
    }
    return i;
}

} // namespace

DataPacketWriter::DataPacketWriter(const QList<FieldDef> &fields)
    : m_fields(fields)
{
    DataPacket none;
    none.fields = fields;
    m_head = none.encode(); // checks the fields
    m_head.chop(1); // the empty row list (0x80) goes last
}

// m_column is the field whose value is being written.
void DataPacketWriter::refuse(const QString &problem) const
{
    throw EPacketError(dataEncodePrefix + rowLabel(m_rows) + u", campo "_s + quoted(m_fields[m_column].name) + u": "_s
                       + problem);
}

const FieldDef &DataPacketWriter::nextField()
{
    if (m_column + 1 >= m_fields.size()) {
        throw EPacketError(dataEncodePrefix + rowLabel(m_rows)
                           + u" tem mais valores que os %1 campos do pacote"_s.arg(m_fields.size()));
    }
    return m_fields[++m_column];
}

void DataPacketWriter::beginRow()
{
    if (m_rows >= PacketLimits::maxRows) {
        throw EPacketError(dataEncodePrefix
                           + u"%1 linhas excedem o limite de %2"_s.arg(m_rows + 1).arg(PacketLimits::maxRows));
    }
    cborHead(m_body, 4, quint64(m_fields.size()));
    m_column = -1;
}

void DataPacketWriter::appendNull()
{
    nextField();
    m_body.append(char(0xf6));
}

void DataPacketWriter::appendNumber(double value)
{
    const FieldDef &field = nextField();
    if (field.type == FieldType::Text) {
        refuse(u"esperado um texto, recebido um número"_s);
    }
    const QString problem = valueProblem(field, QVariant(value));
    if (!problem.isEmpty()) {
        refuse(problem);
    }
    // As writeValue: whole numbers as integers, -0.0 as a double.
    if (value == std::trunc(value) && std::fabs(value) <= maxExactInteger && !(value == 0 && std::signbit(value))) {
        if (value >= 0) {
            cborHead(m_body, 0, quint64(value));
        } else {
            cborHead(m_body, 1, quint64(-1 - qint64(value)));
        }
        return;
    }
    quint64 bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    m_body.append(char(0xfb));
    for (int i = 7; i >= 0; --i) {
        m_body.append(char((bits >> (8 * i)) & 0xff));
    }
}

void DataPacketWriter::appendUtf8(const char *data, qsizetype bytes)
{
    const FieldDef &field = nextField();
    if (field.type != FieldType::Text) {
        refuse(u"esperado um número, recebido um texto"_s);
    }
    const std::optional<qsizetype> fit = utf8Prefix(reinterpret_cast<const unsigned char *>(data), bytes, field.size);
    if (!fit) {
        writeText(field, QString::fromUtf8(data, bytes));
        return;
    }
    cborHead(m_body, 3, quint64(*fit));
    m_body.append(data, *fit);
}

void DataPacketWriter::appendText(QStringView text)
{
    const FieldDef &field = nextField();
    if (field.type != FieldType::Text) {
        refuse(u"esperado um número, recebido um texto"_s);
    }
    writeText(field, text);
}

void DataPacketWriter::writeText(const FieldDef &field, QStringView text)
{
    const QString cut = leftCharacters(text, field.size);
    if (wellFormedTextLength(cut) < 0) {
        refuse(u"texto com caractere inválido (surrogate UTF-16 isolado)"_s);
    }
    const QByteArray utf8 = cut.toUtf8();
    cborHead(m_body, 3, quint64(utf8.size()));
    m_body.append(utf8);
}

void DataPacketWriter::endRow()
{
    if (m_column + 1 != m_fields.size()) {
        throw EPacketError(dataEncodePrefix + rowLabel(m_rows)
                           + u" tem %1 valores, mas o pacote tem %2 campos"_s.arg(m_column + 1).arg(m_fields.size()));
    }
    ++m_rows;
}

void DataPacketWriter::clear()
{
    m_body.resize(0);
    m_rows = 0;
    m_column = -1;
}

QByteArray DataPacketWriter::finish() const
{
    QByteArray bytes;
    bytes.reserve(m_head.size() + 9 + m_body.size());
    bytes.append(m_head);
    cborHead(bytes, 4, quint64(m_rows));
    bytes.append(m_body);
    checkEncodedSize(bytes, dataEncodePrefix);
    return bytes;
}

QByteArray DeltaPacket::encode() const
{
    const QString prefix = u"Não foi possível gerar o pacote de alterações: "_s;
    QString problem = fieldsProblem(fields);
    if (!problem.isEmpty()) {
        throw EPacketError(prefix + problem);
    }
    if (entries.size() > PacketLimits::maxRows) {
        throw EPacketError(prefix
                           + u"%1 entradas excedem o limite de %2"_s.arg(entries.size()).arg(PacketLimits::maxRows));
    }
    for (qsizetype i = 0; i < entries.size(); ++i) {
        problem = entryProblem(fields, entries[i], i);
        if (!problem.isEmpty()) {
            throw EPacketError(prefix + problem);
        }
    }

    QByteArray bytes;
    {
        QCborStreamWriter w(&bytes);
        writeHeader(w, deltaFormat, fields);
        w.append("entries"_L1);
        w.startArray(quint64(entries.size()));
        for (const DeltaEntry &e : entries) {
            w.startMap(e.kind == ChangeKind::Modified ? 3 : 2);
            w.append("kind"_L1);
            w.append(kindText(e.kind));
            if (hasOriginal(e.kind)) {
                w.append("original"_L1);
                writeRow(w, e.original);
            }
            if (hasCurrent(e.kind)) {
                w.append("current"_L1);
                writeRow(w, e.current);
            }
            w.endMap();
        }
        w.endArray();
        w.endMap();
    }
    checkEncodedSize(bytes, prefix);
    return bytes;
}

namespace {

// One entry of a delta, where the decoder stands; rowSize is the last row's
// size, to reserve for the next.
DeltaEntry readEntry(Decoder &d, qsizetype index, qsizetype &rowSize)
{
    const Where where(nullptr, u"entrada", index);
    std::optional<ChangeKind> kind;
    // Absent and null both mean "none"; only a list counts as values.
    std::optional<Row> original;
    std::optional<Row> current;
    const auto readValues = [&](std::optional<Row> &values, const char16_t *what) {
        if (d.atNull()) {
            d.skipNull();
        } else {
            values = readRow(d, Where(&where, what), rowSize);
            rowSize = values->size();
        }
    };
    d.readMap(where, [&](const QString &key) {
        if (key == "kind"_L1) {
            const QString text = d.readText(maxKeyBytes, Where(&where, u"kind"));
            kind = enumFromWire(changeKindNames, text);
            if (!kind) {
                d.fail(where, u"tipo de alteração "_s + quoted(text)
                                  + u" desconhecido (esperado inserted, modified ou deleted)"_s);
            }
        } else if (key == "original"_L1) {
            readValues(original, u"valores originais");
        } else if (key == "current"_L1) {
            readValues(current, u"valores novos");
        } else {
            d.fail(where, u"chave desconhecida "_s + quoted(key));
        }
    });
    if (!kind) {
        d.fail(where, u"falta o tipo de alteração (kind)"_s);
    }
    const auto label = [&] { return u"%1 (%2)"_s.arg(where.text(), kindLabel(*kind)); };
    if (hasOriginal(*kind) && !original) {
        d.fail(label() + u" sem valores originais"_s);
    }
    if (!hasOriginal(*kind) && original) {
        d.fail(label() + u" não pode ter valores originais"_s);
    }
    if (hasCurrent(*kind) && !current) {
        d.fail(label() + u" sem valores novos"_s);
    }
    if (!hasCurrent(*kind) && current) {
        d.fail(label() + u" não pode ter valores novos"_s);
    }
    return {*kind, original.value_or(Row()), current.value_or(Row())};
}

// Thrown past decodeNamed: a delta over the caller's limit is not malformed.
struct TooManyEntries
{ };

} // namespace

DeltaPacket DeltaPacket::decode(const QByteArray &bytes)
{
    return decodeNamed(deltaErrorPrefix, [&] {
        Decoder d(bytes);
        DeltaPacket packet;
        packet.fields = readPacket(d, deltaFormat, "entries"_L1, [&](const QList<FieldDef> *) {
            qsizetype rowSize = 0;
            d.readArray(Where(u"entries"), PacketLimits::maxRows,
                        [&](qsizetype index) { packet.entries.append(readEntry(d, index, rowSize)); });
        });
        for (qsizetype i = 0; i < packet.entries.size(); ++i) {
            const QString problem = entryProblem(packet.fields, packet.entries[i], i);
            if (!problem.isEmpty()) {
                d.fail(problem);
            }
        }
        return packet;
    });
}

DeltaReader::DeltaReader(QByteArray bytes, qsizetype maxEntries)
    : m_bytes(std::move(bytes))
{
    try {
        decodeNamed(deltaErrorPrefix, [&] {
            Decoder d(m_bytes);
            bool checked = false; // each entry against the fields, as it was read
            m_fields = readPacket(d, deltaFormat, "entries"_L1, [&](const QList<FieldDef> *fields) {
                checked = fields != nullptr;
                qsizetype rowSize = 0;
                d.readArray(Where(u"entries"), PacketLimits::maxRows, [&](qsizetype index) {
                    if (index >= maxEntries) {
                        throw TooManyEntries();
                    }
                    m_offsets.append(d.offset());
                    const DeltaEntry entry = readEntry(d, index, rowSize);
                    if (fields) {
                        if (const QString problem = entryProblem(*fields, entry, index); !problem.isEmpty()) {
                            d.fail(problem);
                        }
                    }
                });
            });
            if (!checked) {
                // The fields came after the entries: each entry is read again against them.
                for (qsizetype i = 0; i < m_offsets.size(); ++i) {
                    if (const QString problem = entryProblem(m_fields, at(i), i); !problem.isEmpty()) {
                        d.fail(problem);
                    }
                }
            }
            return 0;
        });
    } catch (const TooManyEntries &) {
        throw EDeltaTooLarge(
            u"o pacote de alterações traz mais de %1 linhas, o limite de uma gravação neste servidor"_s.arg(
                maxEntries));
    }
    m_offsets.squeeze();
}

DeltaEntry DeltaReader::at(qsizetype index) const
{
    const qsizetype from = m_offsets.at(index);
    return decodeNamed(deltaErrorPrefix, [&] {
        Decoder d(QByteArray::fromRawData(m_bytes.constData() + from, m_bytes.size() - from));
        qsizetype rowSize = m_fields.size();
        return readEntry(d, index, rowSize);
    });
}

qsizetype wellFormedTextLength(QStringView text)
{
    qsizetype count = 0;
    return countCharacters(text, &count) ? count : -1;
}

void checkFields(const QList<FieldDef> &fields)
{
    const QString problem = fieldsProblem(fields);
    if (!problem.isEmpty()) {
        throw EPacketError(dataEncodePrefix + problem);
    }
}

qsizetype textLength(QStringView text)
{
    qsizetype count = 0;
    countCharacters(text, &count);
    return count;
}

QString leftCharacters(QStringView text, qsizetype maxCharacters)
{
    qsizetype units = 0;
    for (qsizetype n = 0; n < maxCharacters && units < text.size(); ++n) {
        const bool pair = text[units].isHighSurrogate() && units + 1 < text.size() && text[units + 1].isLowSurrogate();
        units += pair ? 2 : 1;
    }
    return text.first(units).toString();
}

QString elidedText(QStringView text, qsizetype maxCharacters)
{
    QString cut = leftCharacters(text, maxCharacters);
    if (cut.size() < text.size()) {
        cut += u'…';
    }
    return cut;
}

void checkValue(const FieldDef &field, const QVariant &value)
{
    const QString problem = valueProblem(field, value);
    if (!problem.isEmpty()) {
        throw EPacketError(u"Valor inválido para o campo "_s + quoted(field.name) + u": "_s + problem);
    }
}
