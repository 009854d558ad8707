#include "Frame.h"

#include "Secret.h"

#include <QtEndian>

using namespace Qt::StringLiterals;

// ---------------------------------------------------------------- frames

QByteArray Frame::wrap(QByteArrayView payload)
{
    if (payload.size() > qsizetype(maxPayloadBytes)) {
        return {};
    }
    QByteArray frame(headerBytes + payload.size(), Qt::Uninitialized);
    qToBigEndian(quint32(payload.size()), frame.data());
    std::copy(payload.begin(), payload.end(), frame.begin() + headerBytes);
    return frame;
}

FrameDecoder::FrameDecoder(quint32 maxPayloadBytes)
    : m_maxPayload(maxPayloadBytes)
{ }

void FrameDecoder::feed(QByteArrayView bytes)
{
    if (hasError() || bytes.isEmpty()) {
        return;
    }
    // Drop what was already handed out before the buffer grows again.
    if (m_offset > 0 && m_offset >= m_buffer.size() / 2) {
        m_buffer.remove(0, m_offset);
        m_offset = 0;
    }
    m_buffer.append(bytes.data(), bytes.size());
}

void FrameDecoder::feed(QByteArray &&bytes)
{
    if (!hasError() && m_offset == 0 && m_buffer.isEmpty()) {
        m_buffer = std::move(bytes);
        return;
    }
    feed(QByteArrayView(bytes));
}

FrameDecoder::Status FrameDecoder::next(QByteArray *payload)
{
    if (hasError()) {
        return Status::Error;
    }
    const qsizetype available = m_buffer.size() - m_offset;
    if (available < Frame::headerBytes) {
        return Status::NeedMore;
    }
    const quint32 length = qFromBigEndian<quint32>(m_buffer.constData() + m_offset);
    if (length > m_maxPayload) {
        m_error = u"O quadro declara %1 bytes, acima do limite de %2 bytes."_s.arg(length).arg(m_maxPayload);
        m_buffer.clear();
        m_offset = 0;
        return Status::Error;
    }
    if (m_admit && !m_pendingAdmitted) {
        QString why;
        if (!m_admit(length, &why)) {
            m_error = why;
            m_buffer.clear();
            m_offset = 0;
            return Status::Error;
        }
        m_pendingAdmitted = true;
        if (available - Frame::headerBytes < qsizetype(length)) {
            // Its bytes are counted already: room for all of them now, so that
            // the buffer is not copied over each time it would grow.
            m_buffer.remove(0, m_offset);
            m_offset = 0;
            m_buffer.reserve(Frame::headerBytes + qsizetype(length));
        }
    }
    if (available - Frame::headerBytes < qsizetype(length)) {
        return Status::NeedMore;
    }
    const qsizetype end = m_offset + Frame::headerBytes + qsizetype(length);
    m_pendingAdmitted = false;
    if (m_offset == 0 && end == m_buffer.size()) {
        // The buffer is exactly this frame: hand it over instead of copying it.
        *payload = std::move(m_buffer);
        payload->remove(0, Frame::headerBytes);
        m_buffer = QByteArray();
        return Status::Frame;
    }
    *payload = m_buffer.mid(m_offset + Frame::headerBytes, length);
    if (m_wipes) {
        explicit_bzero(m_buffer.data() + m_offset, size_t(end - m_offset));
    }
    m_offset = end;
    if (m_offset == m_buffer.size()) {
        m_buffer.clear();
        m_offset = 0;
    }
    return Status::Frame;
}

void FrameDecoder::clear()
{
    m_pendingAdmitted = false;
    if (m_wipes) {
        Secret::wipe(m_buffer);
    }
    m_buffer.clear();
    m_offset = 0;
    m_error.clear();
}
