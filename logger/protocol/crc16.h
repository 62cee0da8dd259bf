#pragma once
// The CRC that guards every device frame: CRC-16/MODBUS (reflected polynomial
// 0xA001, seed 0xFFFF, no final xor). On the wire the low byte of the CRC
// comes first.

#include <QByteArray>
#include <QtGlobal>

namespace quillet {

// CRC of `length` bytes at `data`, continuing from `seed` (0xFFFF starts a frame).
quint16 CRC16(quint16 seed, const quint8 *data, qsizetype length);

// CRC of the first `length` bytes of a frame buffer, seeded with 0xFFFF.
// A length beyond the buffer is cut to the buffer.
quint16 DeviceCRC(const QByteArray &bytes, qsizetype length);

} // namespace quillet
