#pragma once
// The GSM 7-bit alphabet as read from GSMCodeMap.cod, and the text encodings
// the modem uses: GSM byte strings (one byte per character, 0x1B escaping the
// extension table) and UCS2 hexadecimal notation. The two tables are shared
// by the whole process; loading again overwrites the entries a file names.

#include <QByteArray>
#include <QList>
#include <QString>

namespace quillet {

constexpr quint8 kGSMEscape = 0x1B;

// Reads the map file (from the current folder by default). True only when
// every basic entry 0..127 is filled afterwards and the file set at least one
// entry. A missing file shows the operator a box and gives false.
bool LoadGSMCodeMap(const QString &path = QStringLiteral("GSMCodeMap.cod"));

// Applies one line of the map file; true when the line set a table entry.
bool ApplyGSMCodeMapLine(const QString &line);

// Empties both tables, as at process start.
void ClearGSMCodeMap();

// Table entries: one character, or empty while no line has set it.
QString GSMBasicEntry(int code);
QString GSMExtensionEntry(int code);

// Text to GSM bytes. Characters without a code are left out and collected in
// `unmapped`; true when there were none.
bool TextToGSM(const QString &text, QByteArray &gsmBytes, QString &unmapped);

// GSM bytes to text. Bytes of 128 and above are left out and collected in
// `unmapped`; true when there were none.
bool GSMToText(const QByteArray &gsmBytes, QString &text, QByteArray &unmapped);

// Cuts a GSM byte string at a one-character delimiter given as text. Empty
// parts between delimiters are kept; a delimiter at the end adds no empty part.
void SplitGSMText(const QByteArray &gsmBytes, const QString &delimiter, QList<QByteArray> &parts,
                  int &count);

// "4F60" style hexadecimal, four digits per UTF-16 code unit, high byte first.
QString UCS2HexToText(const QString &hexText);
QString TextToUCS2Hex(const QString &text);

} // namespace quillet
