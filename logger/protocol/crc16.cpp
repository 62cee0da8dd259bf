#include "crc16.h"

#include <array>

namespace quillet {

namespace {

constexpr std::array<quint16, 256> makeTable()
{
    std::array<quint16, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1U) ? (crc >> 1) ^ 0xA001U : crc >> 1;
        table[i] = quint16(crc);
    }
    return table;
}

constexpr std::array<quint16, 256> kTable = makeTable();

} // namespace

quint16 CRC16(quint16 seed, const quint8 *data, qsizetype length)
{
    quint16 crc = seed;
    for (qsizetype i = 0; i < length; ++i)
        crc = quint16((crc >> 8) ^ kTable[(crc ^ data[i]) & 0xFFU]);
    return crc;
}

quint16 DeviceCRC(const QByteArray &bytes, qsizetype length)
{
    const qsizetype n = qBound(qsizetype(0), length, bytes.size());
    return CRC16(0xFFFF, reinterpret_cast<const quint8 *>(bytes.constData()), n);
}

} // namespace quillet
