#include "CborReader.h"

#include "Exceptions.h"

#include <QStringDecoder>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

QString problemOf(const QCborError &error)
{
    switch (error.c) {
    case QCborError::EndOfFile:
        return u"bytes truncados: o pacote termina antes do fim"_s;
    case QCborError::InvalidUtf8String:
        return u"texto com UTF-8 inválido"_s;
    case QCborError::NestingTooDeep:
        return u"aninhamento profundo demais"_s;
    case QCborError::DataTooLarge:
        return u"comprimento declarado grande demais"_s;
    case QCborError::UnexpectedBreak:
        return u"CBOR malformado: marcador de fim inesperado"_s;
    default:
        return u"CBOR malformado (código %1)"_s.arg(int(error.c));
    }
}

} // namespace

CborReader::CborReader(QByteArrayView bytes)
    : m_data(bytes.data())
    , m_reader(bytes.data(), bytes.size())
    , m_size(bytes.size())
{ }

void CborReader::fail(const QString &problem)
{
    throw EPacketError(problem);
}

void CborReader::check()
{
    const QCborError error = m_reader.lastError();
    if (error.c != QCborError::NoError) {
        fail(problemOf(error));
    }
}

void CborReader::checkAfterItem()
{
    const QCborError error = m_reader.lastError();
    if (error.c != QCborError::NoError && !(error.c == QCborError::EndOfFile && atTopEnd())) {
        fail(problemOf(error));
    }
}

void CborReader::next()
{
    m_reader.next();
    checkAfterItem();
}

void CborReader::enter()
{
    if (!m_reader.enterContainer()) {
        check();
        fail(u"CBOR malformado"_s);
    }
    check();
}

void CborReader::leave()
{
    check();
    if (!m_reader.leaveContainer()) {
        checkAfterItem();
        if (!atTopEnd()) {
            fail(u"CBOR malformado"_s);
        }
    }
    checkAfterItem();
}

// Read as bytes, whatever the chunks: a chunk boundary may split a character.
void CborReader::readChunks(qsizetype maxBytes, QByteArray *out)
{
    out->resize(0);
    for (;;) {
        const qsizetype chunk = m_reader.currentStringChunkSize();
        if (chunk < 0) {
            check();
            fail(u"texto malformado ou com comprimento declarado inválido"_s);
        }
        if (chunk > remaining()) {
            fail(u"comprimento declarado maior que o pacote"_s);
        }
        if (out->size() + chunk > maxBytes) {
            fail(u"texto longo demais"_s);
        }
        const qsizetype at = out->size();
        out->resize(at + chunk);
        const auto result = m_reader.readStringChunk(out->data() + at, chunk);
        if (result.status == QCborStreamReader::Error) {
            check();
            fail(u"texto malformado"_s);
        }
        if (result.status == QCborStreamReader::EndOfString) {
            out->resize(at);
            break;
        }
        out->resize(at + result.data);
    }
    checkAfterItem();
}

QString CborReader::readText(qsizetype maxBytes)
{
    if (!m_reader.isString()) {
        fail(u"esperado um texto"_s);
    }
    readChunks(maxBytes, &m_text);
    const bool ascii = std::all_of(m_text.cbegin(), m_text.cend(), [](char c) { return uchar(c) < 0x80; });
    if (ascii) {
        return QString::fromLatin1(m_text);
    }
    // A leading U+FEFF is part of the text, not a byte-order mark.
    QStringDecoder decode(QStringDecoder::Utf8,
                          QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decode(m_text);
    if (decode.hasError()) {
        fail(u"texto com UTF-8 inválido"_s);
    }
    return text;
}

QByteArrayView CborReader::viewBytes(qsizetype maxBytes, QByteArray *copy)
{
    if (!m_reader.isByteArray()) {
        fail(u"esperada uma sequência de bytes"_s);
    }
    if (!m_reader.isLengthKnown()) {
        *copy = readBytes(maxBytes); // in chunks: joined
        return *copy;
    }
    const quint64 length = m_reader.length();
    // The head: one byte, then 0, 1, 2, 4 or 8 bytes of length (RFC 8949, 3.1).
    const qint64 at = m_reader.currentOffset();
    const int extra = (uchar(m_data[at]) & 0x1f) < 24 ? 0 : 1 << ((uchar(m_data[at]) & 0x1f) - 24);
    if (length > quint64(maxBytes)) {
        fail(u"texto longo demais"_s);
    }
    if (qint64(length) > m_size - at - 1 - extra) {
        fail(u"comprimento declarado maior que o pacote"_s);
    }
    next();
    return QByteArrayView(m_data + at + 1 + extra, qsizetype(length));
}

QByteArray CborReader::readBytes(qsizetype maxBytes)
{
    if (!m_reader.isByteArray()) {
        fail(u"esperada uma sequência de bytes"_s);
    }
    QByteArray bytes;
    readChunks(maxBytes, &bytes);
    return bytes;
}
