#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QCborStreamReader>
#include <QString>

#include "dataset_export.h"

// Reads CBOR that came from outside (packets, frames of the wire). Every
// declared length is checked against the bytes that remain before anything
// is reserved, and every fault throws EPacketError saying what is wrong; the
// caller adds where it was and what it was reading.
class DATASET_EXPORT CborReader
{
public:
    // bytes must outlive the reader: nothing is copied.
    explicit CborReader(QByteArrayView bytes);

    QCborStreamReader &stream() { return m_reader; }
    const QCborStreamReader &stream() const { return m_reader; }

    [[noreturn]] static void fail(const QString &problem);

    // Bytes from the current item to the end; every element of a container
    // or of a string takes at least one of them.
    qint64 remaining() const { return m_size - m_reader.currentOffset(); }
    // Past the last byte, outside every container.
    bool atTopEnd() const { return m_reader.containerDepth() == 0 && m_reader.currentOffset() >= m_size; }
    bool atEnd() const { return m_reader.currentOffset() == m_size; }

    // A malformed item turns the reader invalid; says why.
    void check();
    // After an item is consumed the reader stands on the next one, or at the
    // end of its container, or, at the top, past the last byte.
    void checkAfterItem();
    void next(); // skips the current item
    void enter(); // into the array or map the reader stands on
    void leave(); // out of it, once every element is read

    // The text or byte string the reader stands on, of at most maxBytes.
    QString readText(qsizetype maxBytes);
    QByteArray readBytes(qsizetype maxBytes);
    // The same, without a copy when the string has one definite length: a
    // view of the bytes being read (valid while they are).
    QByteArrayView viewBytes(qsizetype maxBytes, QByteArray *copy);

private:
    void readChunks(qsizetype maxBytes, QByteArray *out);

    const char *m_data;
    QCborStreamReader m_reader;
    qint64 m_size;
    QByteArray m_text; // reused: most texts are short
};
