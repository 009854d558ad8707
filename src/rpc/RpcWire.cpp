#include "RpcWire.h"

#include "CborReader.h"
#include "Exceptions.h"
#include "Packet.h"
#include "Secret.h"

#include <QBuffer>
#include <QCborStreamReader>
#include <QCborStreamWriter>
#include <QtEndian>

#include <cmath>

using namespace Qt::StringLiterals;

// ---------------------------------------------------------------- values

bool RpcWire::isWireValue(const QCborValue &value)
{
    switch (value.type()) {
    case QCborValue::Null:
    case QCborValue::Undefined: // sent as null
    case QCborValue::Integer:
    case QCborValue::String:
    case QCborValue::ByteArray:
        return true;
    case QCborValue::Double:
        return std::isfinite(value.toDouble());
    default:
        return false;
    }
}

QCborValue RpcWire::normalized(const QCborValue &value)
{
    if (value.isInteger()) {
        return QCborValue(double(value.toInteger()));
    }
    if (value.isUndefined()) {
        return QCborValue(nullptr);
    }
    return value;
}

// ---------------------------------------------------------------- decoding

namespace {

const auto kType = u"type"_s;
const auto kId = u"id"_s;
const auto kMethod = u"method"_s;
const auto kArgs = u"args"_s;
const auto kServer = u"server"_s;
const auto kOperator = u"operator"_s;
const auto kPassword = u"password"_s;
const auto kProtocol = u"protocol"_s;
const auto kOk = u"ok"_s;
const auto kValue = u"value"_s;
const auto kError = u"error"_s;
const auto kUnit = u"unit"_s;
const auto kOperatorName = u"operatorName"_s;
const auto kToken = u"token"_s;

QString invalid(const QString &why)
{
    return u"Mensagem inválida: %1"_s.arg(why);
}

// What a message map held, before its type decides what it means.
struct Fields
{
    std::optional<QString> type;
    std::optional<quint64> id;
    std::optional<QString> method;
    std::optional<QCborArray> args;
    std::optional<QString> server;
    std::optional<QString> operatorCode;
    std::optional<QString> password;
    std::optional<quint64> protocol;
    std::optional<bool> ok;
    std::optional<QCborValue> value;
    std::optional<QString> error;
    std::optional<QString> unitName;
    std::optional<QString> operatorName;
    std::optional<QString> token;
};

// Reads the message straight from the stream, checking each key's type as it
// goes, so that no structure is built that the protocol has no use for.
class Parser
{
public:
    explicit Parser(QByteArrayView payload)
        : m_payload(payload)
        , m_size(payload.size())
        , m_cbor(payload)
        , m_reader(m_cbor.stream())
    { }

    bool readMessage(Fields *fields);
    QString error() const { return m_error; }

private:
    bool fail(const QString &why)
    {
        if (m_error.isEmpty()) {
            m_error = invalid(why);
        }
        return false;
    }
    bool cborFailed() { return fail(u"CBOR malformado (%1)."_s.arg(m_reader.lastError().toString())); }
    template <typename T>
    bool readString(T *out, T (CborReader::*read)(qsizetype));
    bool readText(QString *text);
    // A byte string: a view of the payload, or of *chunks when it came in pieces.
    bool viewBytes(QByteArrayView *bytes, QByteArray *chunks);
    bool readUnsigned(std::optional<quint64> *slot, const QString &key);
    bool readValue(QCborValue *value, const QString &what);
    bool readArgs(QCborArray *args);
    template <typename T>
    bool readTextField(std::optional<T> *slot, const QString &key, int maxChars = 0);
    bool readField(const QString &key, Fields *fields);

    QByteArrayView m_payload;
    qsizetype m_size;
    CborReader m_cbor;
    QCborStreamReader &m_reader;
    QString m_error;
};

// Strings are read by the reader the packets use; its faults fail the message.
template <typename T>
bool Parser::readString(T *out, T (CborReader::*read)(qsizetype))
{
    try {
        *out = (m_cbor.*read)(m_size);
        return true;
    } catch (const EPacketError &e) {
        return fail(u"CBOR malformado (%1)."_s.arg(e.message()));
    }
}

bool Parser::readText(QString *text)
{
    return readString(text, &CborReader::readText);
}

bool Parser::viewBytes(QByteArrayView *bytes, QByteArray *chunks)
{
    try {
        *bytes = m_cbor.viewBytes(m_size, chunks);
        return true;
    } catch (const EPacketError &e) {
        return fail(u"CBOR malformado (%1)."_s.arg(e.message()));
    }
}

bool Parser::readUnsigned(std::optional<quint64> *slot, const QString &key)
{
    if (!m_reader.isUnsignedInteger()) {
        return fail(u"o campo \"%1\" deve ser um inteiro sem sinal."_s.arg(key));
    }
    const quint64 number = m_reader.toUnsignedInteger();
    if (!m_reader.next()) {
        return cborFailed();
    }
    // Set only once read whole: a failed call's id must not be taken from half a message.
    *slot = number;
    return true;
}

// One argument or result: null, a finite number, a text or a byte string.
bool Parser::readValue(QCborValue *value, const QString &what)
{
    double number = 0;
    switch (m_reader.type()) {
    case QCborStreamReader::UnsignedInteger:
        number = double(m_reader.toUnsignedInteger());
        break;
    case QCborStreamReader::NegativeInteger: {
        // CBOR holds -1 - n; Qt hands out n + 1, where 0 stands for 2^64.
        const auto magnitude = quint64(m_reader.toNegativeInteger());
        number = magnitude == 0 ? -18446744073709551616.0 : -double(magnitude);
        break;
    }
    case QCborStreamReader::Float16:
        number = double(float(m_reader.toFloat16()));
        break;
    case QCborStreamReader::Float:
        number = double(m_reader.toFloat());
        break;
    case QCborStreamReader::Double:
        number = m_reader.toDouble();
        break;
    case QCborStreamReader::String: {
        QString text;
        if (!readText(&text)) {
            return false;
        }
        *value = QCborValue(text);
        return true;
    }
    case QCborStreamReader::ByteArray: {
        // A packet is copied once, into the message, not into a buffer of its own first.
        QByteArray chunks;
        QByteArrayView bytes;
        if (!viewBytes(&bytes, &chunks)) {
            return false;
        }
        *value = QCborValue(QByteArray::fromRawData(bytes.data(), bytes.size()));
        return true;
    }
    case QCborStreamReader::SimpleType:
        if (m_reader.toSimpleType() == QCborSimpleType::Null) {
            *value = QCborValue(nullptr);
            return m_reader.next() || cborFailed();
        }
        return fail(u"%1 só pode ser nulo, número, texto ou pacote."_s.arg(what));
    case QCborStreamReader::Invalid:
        return cborFailed();
    default:
        return fail(u"%1 só pode ser nulo, número, texto ou pacote."_s.arg(what));
    }
    if (!std::isfinite(number)) {
        return fail(u"%1 é um número não finito."_s.arg(what));
    }
    *value = QCborValue(number);
    return m_reader.next() || cborFailed();
}

bool Parser::readArgs(QCborArray *args)
{
    if (!m_reader.isArray()) {
        return fail(u"o campo \"args\" deve ser uma lista."_s);
    }
    if (m_reader.isLengthKnown() && m_reader.length() > quint64(Frame::maxArguments)) {
        return fail(u"mais de %1 argumentos."_s.arg(Frame::maxArguments));
    }
    const qint64 start = m_reader.currentOffset();
    if (!m_reader.enterContainer()) {
        return cborFailed();
    }
    QList<qsizetype> packets; // the arguments that are byte strings
    while (m_reader.hasNext()) {
        if (args->size() == Frame::maxArguments) {
            return fail(u"mais de %1 argumentos."_s.arg(Frame::maxArguments));
        }
        QCborValue value;
        if (m_reader.isByteArray()) {
            // Only checked here: its bytes are taken below.
            QByteArray chunks;
            QByteArrayView bytes;
            if (!viewBytes(&bytes, &chunks)) {
                return false;
            }
            packets.append(args->size());
        } else if (!readValue(&value, u"o argumento %1"_s.arg(args->size() + 1))) {
            return false;
        }
        args->append(value);
    }
    if (m_reader.lastError() != QCborError::NoError) {
        return cborFailed();
    }
    if (!m_reader.leaveContainer()) {
        return cborFailed();
    }
    if (packets.isEmpty()) {
        return true;
    }
    // A value built from a byte string and then appended to an array is
    // copied twice, once into each; Qt's own decoding of the array copies a
    // packet once, straight into it, so that a large one is held about twice
    // (the frame, the array) while the call is read, not three times. Its
    // numbers and nulls take the form read above; texts and byte strings
    // were checked above and are the same in both.
    QCborArray decoded =
        QCborValue::fromCbor(QByteArray::fromRawData(m_payload.data() + start, m_reader.currentOffset() - start))
            .toArray();
    if (decoded.size() != args->size()) {
        return fail(u"a lista \"args\" não pôde ser lida."_s);
    }
    for (qsizetype i = 0; i < args->size(); ++i) {
        const QCborValue &read = args->at(i);
        if (read.isDouble() || read.isNull()) {
            decoded[i] = read;
        } else if (decoded.at(i).type() != (packets.contains(i) ? QCborValue::ByteArray : QCborValue::String)) {
            return fail(u"a lista \"args\" não pôde ser lida."_s);
        }
    }
    *args = std::move(decoded);
    return true;
}

// maxChars bounds a text by its useful length while it is read: at most four
// UTF-8 bytes a character are taken from the stream, then the characters counted.
template <typename T>
bool Parser::readTextField(std::optional<T> *slot, const QString &key, int maxChars)
{
    if (!m_reader.isString()) {
        return fail(u"o campo \"%1\" deve ser um texto."_s.arg(key));
    }
    QString text;
    if (maxChars > 0) {
        const qsizetype maxBytes = qsizetype(maxChars) * 4;
        const auto tooLong = [&] { return fail(u"o campo \"%1\" passa de %2 caracteres."_s.arg(key).arg(maxChars)); };
        if (m_reader.isLengthKnown() && m_reader.length() > quint64(maxBytes)) {
            return tooLong();
        }
        try {
            text = m_cbor.readText(maxBytes);
        } catch (const EPacketError &) {
            return tooLong();
        }
        if (textLength(text) > maxChars) {
            return tooLong();
        }
    } else if (!readText(&text)) {
        return false;
    }
    *slot = text;
    return true;
}

bool Parser::readField(const QString &key, Fields *fields)
{
    if (m_reader.lastError() != QCborError::NoError || m_reader.type() == QCborStreamReader::Invalid) {
        return cborFailed();
    }
    if (key == kType) {
        return readTextField(&fields->type, key);
    }
    if (key == kId) {
        return readUnsigned(&fields->id, key);
    }
    if (key == kMethod) {
        return readTextField(&fields->method, key);
    }
    if (key == kArgs) {
        QCborArray args;
        if (!readArgs(&args)) {
            return false;
        }
        fields->args = args;
        return true;
    }
    if (key == kServer) {
        return readTextField(&fields->server, key, Frame::maxServerNameLength);
    }
    if (key == kOperator) {
        return readTextField(&fields->operatorCode, key, Frame::maxOperatorLength);
    }
    if (key == kPassword) {
        return readTextField(&fields->password, key, Frame::maxPasswordLength);
    }
    if (key == kToken) {
        return readTextField(&fields->token, key, Frame::maxTokenLength);
    }
    if (key == kProtocol) {
        return readUnsigned(&fields->protocol, key);
    }
    if (key == kOk) {
        if (!m_reader.isBool()) {
            return fail(u"o campo \"ok\" deve ser verdadeiro ou falso."_s);
        }
        fields->ok = m_reader.toBool();
        return m_reader.next() || cborFailed();
    }
    if (key == kValue) {
        QCborValue value;
        if (!readValue(&value, u"o valor da resposta"_s)) {
            return false;
        }
        fields->value = value;
        return true;
    }
    if (key == kError) {
        return readTextField(&fields->error, key);
    }
    if (key == kUnit) {
        return readTextField(&fields->unitName, key);
    }
    if (key == kOperatorName) {
        return readTextField(&fields->operatorName, key);
    }
    // Keys of later versions are skipped; next() bounds the nesting it follows.
    return m_reader.next() || cborFailed();
}

bool Parser::readMessage(Fields *fields)
{
    if (m_size == 0) {
        return fail(u"quadro vazio."_s);
    }
    if (m_reader.lastError() != QCborError::NoError) {
        return cborFailed();
    }
    if (!m_reader.isMap()) {
        return fail(u"a mensagem deve ser um mapa CBOR."_s);
    }
    if (!m_reader.enterContainer()) {
        return cborFailed();
    }
    QList<QString> seen;
    while (m_reader.hasNext()) {
        if (!m_reader.isString()) {
            if (m_reader.lastError() != QCborError::NoError) {
                return cborFailed();
            }
            return fail(u"as chaves do mapa devem ser textos."_s);
        }
        QString key;
        if (!readText(&key)) {
            return false;
        }
        if (seen.contains(key)) {
            return fail(u"a chave \"%1\" aparece duas vezes."_s.arg(elidedText(key, 64)));
        }
        // Only the known keys are remembered: the others cannot repeat harmfully.
        const bool known = key == kType || key == kId || key == kMethod || key == kArgs || key == kServer
                           || key == kOperator || key == kPassword || key == kProtocol || key == kOk || key == kValue
                           || key == kError || key == kUnit || key == kOperatorName || key == kToken;
        if (known) {
            seen.append(key);
        }
        if (!m_reader.hasNext() && m_reader.lastError() == QCborError::NoError) {
            return fail(u"a chave \"%1\" não tem valor."_s.arg(elidedText(key, 64)));
        }
        if (!readField(key, fields)) {
            return false;
        }
    }
    if (m_reader.lastError() != QCborError::NoError) {
        return cborFailed();
    }
    if (!m_reader.leaveContainer()) {
        return cborFailed();
    }
    if (m_reader.currentOffset() != m_size) {
        return fail(u"há bytes depois do mapa da mensagem."_s);
    }
    return true;
}

RpcMessage interpret(const Fields &f)
{
    RpcMessage m;
    auto missing = [&m](const QString &key) {
        m.kind = RpcMessage::Kind::Invalid;
        m.error = invalid(u"falta o campo \"%1\"."_s.arg(key));
        return m;
    };
    if (!f.type) {
        return missing(kType);
    }
    const QString &type = *f.type;
    m.type = type;
    if (type == u"login") {
        if (f.ok) {
            // A server's answer to a login.
            m.kind = RpcMessage::Kind::LoginReply;
            m.ok = *f.ok;
            if (m.ok) {
                m.unitName = f.unitName.value_or(QString());
                m.operatorName = f.operatorName.value_or(QString());
                m.token = f.token.value_or(QString());
            } else if (!f.error) {
                return missing(kError);
            } else {
                m.error = *f.error;
            }
            return m;
        }
        if (!f.server) {
            return missing(kServer);
        }
        if (!f.operatorCode) {
            return missing(kOperator);
        }
        if (!f.password) {
            return missing(kPassword);
        }
        if (f.protocol && *f.protocol != quint64(Frame::protocolVersion)) {
            m.error = u"Versão de protocolo %1 não suportada; este servidor fala a versão %2."_s.arg(*f.protocol)
                          .arg(Frame::protocolVersion);
            return m;
        }
        m.kind = RpcMessage::Kind::Login;
        m.server = *f.server;
        m.operatorCode = *f.operatorCode;
        m.password = *f.password;
        m.token = f.token.value_or(QString());
        return m;
    }
    if (type == u"call") {
        m.id = f.id; // kept even when the rest is wrong, so the failure can name the call
        if (!f.id) {
            return missing(kId);
        }
        if (!f.method) {
            return missing(kMethod);
        }
        if (f.method->isEmpty() || textLength(*f.method) > Frame::maxMethodNameLength) {
            m.error = invalid(u"o nome do método deve ter de 1 a %1 caracteres."_s.arg(Frame::maxMethodNameLength));
            return m;
        }
        if (!f.args) {
            return missing(kArgs);
        }
        m.kind = RpcMessage::Kind::Call;
        m.method = *f.method;
        m.args = *f.args;
        return m;
    }
    if (type == u"reply") {
        m.id = f.id;
        if (!f.id) {
            return missing(kId);
        }
        if (!f.ok) {
            return missing(kOk);
        }
        m.ok = *f.ok;
        if (m.ok) {
            if (!f.value) {
                return missing(kValue);
            }
            m.value = *f.value;
        } else {
            if (!f.error) {
                return missing(kError);
            }
            m.error = *f.error;
        }
        m.kind = RpcMessage::Kind::CallReply;
        return m;
    }
    if (type == u"error") {
        if (!f.error) {
            return missing(kError);
        }
        m.kind = RpcMessage::Kind::Error;
        m.error = *f.error;
        return m;
    }
    m.error = invalid(u"tipo de mensagem desconhecido \"%1\"."_s.arg(elidedText(type, 64)));
    return m;
}

} // namespace

RpcMessage RpcWire::parse(QByteArrayView payload)
{
    Fields fields;
    Parser parser(payload);
    if (!parser.readMessage(&fields)) {
        RpcMessage m;
        m.type = fields.type.value_or(QString());
        m.error = parser.error();
        // A well-formed call with a readable id still gets an answer under that id.
        if (fields.type && *fields.type == u"call") {
            m.id = fields.id;
        }
        return m;
    }
    return interpret(fields);
}

// ---------------------------------------------------------------- encoding

namespace {

// Writes one message straight behind a 4-byte header that is filled in at
// the end, so that a large packet is copied once, into the frame itself.
class FrameWriter
{
public:
    FrameWriter()
        : m_frame(Frame::headerBytes, '\0')
        , m_buffer(&m_frame)
        , m_writer(&m_buffer)
    {
        // Append: a write-only buffer would otherwise start the array afresh.
        m_buffer.open(QIODevice::WriteOnly | QIODevice::Append);
    }

    QCborStreamWriter &cbor() { return m_writer; }

    void key(const QString &k) { m_writer.append(QStringView(k)); }

    void text(const QString &k, const QString &v)
    {
        key(k);
        m_writer.append(QStringView(v));
    }

    void number(const QString &k, quint64 v)
    {
        key(k);
        m_writer.append(v);
    }

    void flag(const QString &k, bool v)
    {
        key(k);
        m_writer.append(v);
    }

    // Assumes isWireValue(value).
    void value(const QCborValue &v)
    {
        switch (v.type()) {
        case QCborValue::Integer:
            m_writer.append(double(v.toInteger()));
            break;
        case QCborValue::Double:
            m_writer.append(v.toDouble());
            break;
        case QCborValue::String:
        case QCborValue::ByteArray:
            v.toCbor(m_writer); // straight from the value's storage, no copy in between
            break;
        default:
            m_writer.appendNull();
            break;
        }
    }

    QByteArray finish()
    {
        m_buffer.close();
        const qsizetype payload = m_frame.size() - Frame::headerBytes;
        if (payload > qsizetype(Frame::maxPayloadBytes)) {
            return {};
        }
        qToBigEndian(quint32(payload), m_frame.data());
        return std::move(m_frame);
    }

private:
    QByteArray m_frame;
    QBuffer m_buffer;
    QCborStreamWriter m_writer;
};

} // namespace

QByteArray RpcWire::loginFrame(const QString &server, const QString &operatorCode, const QString &password,
                               const QString &token)
{
    FrameWriter w;
    w.cbor().startMap(token.isEmpty() ? 5 : 6);
    w.text(kType, u"login"_s);
    w.number(kProtocol, quint64(Frame::protocolVersion));
    w.text(kServer, server);
    w.text(kOperator, operatorCode);
    w.text(kPassword, password);
    if (!token.isEmpty()) {
        w.text(kToken, token);
    }
    w.cbor().endMap();
    return w.finish();
}

QByteArray RpcWire::callFrame(quint64 id, const QString &method, const QCborArray &args)
{
    if (args.size() > Frame::maxArguments) {
        return {};
    }
    for (const QCborValue &arg : args) {
        if (!isWireValue(arg)) {
            return {};
        }
    }
    FrameWriter w;
    w.cbor().startMap(4);
    w.text(kType, u"call"_s);
    w.number(kId, id);
    w.text(kMethod, method);
    w.key(kArgs);
    w.cbor().startArray(quint64(args.size()));
    for (const QCborValue &arg : args) {
        w.value(arg);
    }
    w.cbor().endArray();
    w.cbor().endMap();
    return w.finish();
}

QByteArray RpcWire::loginReplyFrame(const QString &unitName, const QString &operatorName, const QString &token)
{
    FrameWriter w;
    w.cbor().startMap(token.isEmpty() ? 4 : 5);
    w.text(kType, u"login"_s);
    w.flag(kOk, true);
    w.text(kUnit, unitName);
    w.text(kOperatorName, operatorName);
    if (!token.isEmpty()) {
        w.text(kToken, token);
    }
    w.cbor().endMap();
    return w.finish();
}

QByteArray RpcWire::loginFailureFrame(const QString &error)
{
    FrameWriter w;
    w.cbor().startMap(3);
    w.text(kType, u"login"_s);
    w.flag(kOk, false);
    w.text(kError, error);
    w.cbor().endMap();
    return w.finish();
}

QByteArray RpcWire::replyFrame(quint64 id, const QCborValue &value)
{
    if (!isWireValue(value)) {
        return {};
    }
    FrameWriter w;
    w.cbor().startMap(4);
    w.text(kType, u"reply"_s);
    w.number(kId, id);
    w.flag(kOk, true);
    w.key(kValue);
    w.value(value);
    w.cbor().endMap();
    return w.finish();
}

QByteArray RpcWire::failureFrame(quint64 id, const QString &error)
{
    FrameWriter w;
    w.cbor().startMap(4);
    w.text(kType, u"reply"_s);
    w.number(kId, id);
    w.flag(kOk, false);
    w.text(kError, error);
    w.cbor().endMap();
    return w.finish();
}

QByteArray RpcWire::errorFrame(const QString &error)
{
    FrameWriter w;
    w.cbor().startMap(3);
    w.text(kType, u"error"_s);
    w.flag(kOk, false);
    w.text(kError, error);
    w.cbor().endMap();
    return w.finish();
}
