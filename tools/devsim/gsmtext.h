#pragma once
// The simulator's own encoders, written from the standard's tables and never
// through the logger's code map, so that each side checks the other: the
// GSM 03.38 default alphabet and its extension table, septets packed into
// octets, UCS2 and hexadecimal notation.

#include <QByteArray>
#include <QString>

namespace devsim {

// True when every character of `text` is in the default alphabet or its
// extension table.
bool IsGsmWritable(const QString &text);

// Text to septet values, one byte each; an extension character is the escape
// 0x1B followed by its code. Characters outside both tables are left out.
QByteArray ToGsm(const QString &text);

// Septet values back to text; an escape without an extension character
// behind it reads as a blank, as the standard asks of a receiver.
QString FromGsm(const QByteArray &septets);

// Septet values packed into octets from the lowest bit on, after `fillBits`
// zero bits (the fill behind a user data header).
QByteArray PackSeptets(const QByteArray &septets, int fillBits = 0);

// UTF-16 code units, high octet first.
QByteArray Ucs2Octets(const QString &text);
// Octets in upper-case hexadecimal, two digits each.
QString Hex(const QByteArray &octets);
// "004100420043" to text; false when the digits are not whole groups of four.
bool FromUcs2Hex(const QString &hex, QString &text);

} // namespace devsim
