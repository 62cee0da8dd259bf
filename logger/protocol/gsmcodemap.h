#pragma once
// The GSM 7-bit alphabet as GSMCodeMap.cod lays it out, held as a value, and
// the text encodings the modem uses: GSM byte strings (one byte per
// character, 0x1B escaping the extension table) and UCS2 hexadecimal
// notation. Whoever converts is handed the map; there is no process-wide one.

#include <QByteArray>
#include <QList>
#include <QString>
#include <array>

namespace quillet {

constexpr quint8 kGSMEscape = 0x1B;

// Two tables of 128 characters: entry i of the basic table is the character
// of GSM code i, entry i of the extension table that of 0x1B followed by i.
// An entry is empty while no line has set it.
class GSMCodeMap
{
public:
    // Applies one line of the map file (GSM code and Unicode code in
    // hexadecimal, "#" comments, codes 0x1Bnn for the extension table); true
    // when the line set an entry. A later line for an entry replaces it.
    bool applyLine(const QString &line);
    // Every basic entry 0..127 is filled.
    bool isComplete() const;
    // Entry `code`, or an empty text outside 0..127.
    const QString &basic(int code) const;
    const QString &extension(int code) const;

private:
    std::array<QString, 128> m_basic;
    std::array<QString, 128> m_extension;
};

// Text to GSM bytes. Characters without a code are left out and collected in
// `unmapped`; true when there were none. A character in both tables takes its
// basic code.
bool TextToGSM(const GSMCodeMap &map, const QString &text, QByteArray &gsmBytes,
               QString &unmapped);

// GSM bytes to text. Bytes of 128 and above are left out and collected in
// `unmapped`; true when there were none.
bool GSMToText(const GSMCodeMap &map, const QByteArray &gsmBytes, QString &text,
               QByteArray &unmapped);

// Cuts a GSM byte string at a one-character delimiter given as text. Empty
// parts between delimiters are kept; a delimiter at the end adds no empty part.
void SplitGSMText(const GSMCodeMap &map, const QByteArray &gsmBytes, const QString &delimiter,
                  QList<QByteArray> &parts, int &count);

// "4F60" style hexadecimal, four digits per UTF-16 code unit, high byte first.
QString UCS2HexToText(const QString &hexText);
QString TextToUCS2Hex(const QString &text);

} // namespace quillet
