#include "frames.h"

namespace devsim {

namespace {
// Longest frame tried when the function does not tell the length.
constexpr qsizetype kLongestUnknownFrame = 256;

// CRC-16 of the Modbus serial line, bit by bit: seed 0xFFFF, each byte
// folded in from its lowest bit, the reflected polynomial 0xA001.
quint16 FrameCRC(const QByteArray &bytes, qsizetype count)
{
    quint16 crc = 0xFFFF;
    for (qsizetype i = 0; i < count; ++i) {
        crc ^= quint8(bytes.at(i));
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}
} // namespace

QByteArray Bytes(std::initializer_list<int> values)
{
    QByteArray bytes;
    for (int v : values)
        bytes.append(char(quint8(v)));
    return bytes;
}

QByteArray WithCRC(QByteArray frame)
{
    const quint16 crc = FrameCRC(frame, frame.size());
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

bool HasGoodCRC(const QByteArray &frame)
{
    if (frame.size() < 3)
        return false;
    const qsizetype n = frame.size() - 2;
    const quint16 crc = FrameCRC(frame, n);
    return quint8(frame[n]) == (crc & 0xFF) && quint8(frame[n + 1]) == (crc >> 8);
}

QList<QByteArray> FrameAssembler::feed(const QByteArray &bytes)
{
    m_buffer += bytes;
    return extract(false);
}

QList<QByteArray> FrameAssembler::gap()
{
    return extract(true);
}

qsizetype FrameAssembler::announcedLength() const
{
    if (m_buffer.size() < 2)
        return -1;
    const quint8 function = quint8(m_buffer[1]);
    if (function == kReadInputRegisters)
        return 8;
    if (function != kPassthrough)
        return 0;
    if (m_buffer.size() < 3)
        return -1;
    const quint8 sub = quint8(m_buffer[2]);
    if (sub == kSubReadReply)
        return 5;
    if (sub != kSubSendAT)
        return 0;
    if (m_buffer.size() < 5)
        return -1;
    return (qsizetype(quint8(m_buffer[3])) << 8 | quint8(m_buffer[4])) + 7;
}

QList<QByteArray> FrameAssembler::extract(bool atGap)
{
    QList<QByteArray> frames;
    auto skipOne = [this] {
        m_buffer.remove(0, 1);
        ++m_skipped;
    };
    while (!m_buffer.isEmpty()) {
        if (quint8(m_buffer[0]) != m_station) {
            skipOne();
            continue;
        }
        const qsizetype length = announcedLength();
        if (length > 0 && m_buffer.size() >= length) {
            const QByteArray frame = m_buffer.left(length);
            if (HasGoodCRC(frame)) {
                frames << frame;
                m_buffer.remove(0, length);
            } else {
                // A request with a bad CRC is ignored; look for a frame behind its first byte.
                skipOne();
            }
            continue;
        }
        if (length == 0) {
            const qsizetype limit = qMin(m_buffer.size(), kLongestUnknownFrame);
            qsizetype found = 0;
            for (qsizetype n = 4; n <= limit && !found; ++n) {
                if (HasGoodCRC(m_buffer.left(n)))
                    found = n;
            }
            if (found) {
                frames << m_buffer.left(found);
                m_buffer.remove(0, found);
                continue;
            }
            if (m_buffer.size() >= kLongestUnknownFrame) {
                skipOne();
                continue;
            }
        }
        // Incomplete: wait for more bytes, unless the line has gone quiet.
        if (!atGap)
            break;
        skipOne();
    }
    return frames;
}

} // namespace devsim
