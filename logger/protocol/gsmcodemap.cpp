#include "gsmcodemap.h"

#include <utility>

namespace quillet {

namespace {

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// A two-character group read as hexadecimal up to its first non-hex
// character; an empty group is 0.
int hexPair(QStringView pair)
{
    int value = 0;
    for (QChar c : pair) {
        const int d = hexDigit(c);
        if (d < 0)
            break;
        value = value * 16 + d;
    }
    return value;
}

// A code field as (high byte, low byte): an optional 0x prefix, right-aligned
// in four positions with leading zeros, characters after the fourth ignored.
std::pair<int, int> codeField(QString field)
{
    if (field.size() > 2 && field.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        field.remove(0, 2);
    if (field.size() < 4)
        field = QString(4 - field.size(), QLatin1Char('0')) + field;
    return {hexPair(QStringView(field).mid(0, 2)), hexPair(QStringView(field).mid(2, 2))};
}

QString normaliseLine(QString line)
{
    line.replace(QLatin1Char('\t'), QLatin1Char(' '));
    qsizetype begin = 0;
    qsizetype end = line.size();
    while (begin < end && line.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && line.at(end - 1) == QLatin1Char(' '))
        --end;
    QString out;
    out.reserve(end - begin);
    for (qsizetype i = begin; i < end; ++i) {
        if (line.at(i) == QLatin1Char(' ') && out.endsWith(QLatin1Char(' ')))
            continue;
        out.append(line.at(i));
    }
    return out;
}

} // namespace

bool GSMCodeMap::applyLine(const QString &rawLine)
{
    const QString line = normaliseLine(rawLine);
    if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
        return false;
    const QStringList fields = line.split(QLatin1Char(' '));
    if (fields.size() < 2)
        return false;
    const auto [codeHigh, codeLow] = codeField(fields.at(0));
    const auto [charHigh, charLow] = codeField(fields.at(1));
    // The tables hold 7-bit codes only; anything above would index past them.
    if (codeLow >= 128)
        return false;
    const QString character(QChar(char16_t(charHigh * 256 + charLow)));
    if (codeHigh == kGSMEscape)
        m_extension[codeLow] = character;
    else
        m_basic[codeLow] = character;
    return true;
}

bool GSMCodeMap::isComplete() const
{
    for (const QString &entry : m_basic) {
        if (entry.isEmpty())
            return false;
    }
    return true;
}

namespace {

const QString &noEntry()
{
    static const QString empty;
    return empty;
}

} // namespace

const QString &GSMCodeMap::basic(int code) const
{
    return code >= 0 && code < 128 ? m_basic[code] : noEntry();
}

const QString &GSMCodeMap::extension(int code) const
{
    return code >= 0 && code < 128 ? m_extension[code] : noEntry();
}

bool TextToGSM(const GSMCodeMap &map, const QString &text, QByteArray &gsmBytes,
               QString &unmapped)
{
    gsmBytes.clear();
    unmapped.clear();
    for (QChar c : text) {
        const QString ch(c);
        bool found = false;
        for (int i = 0; i < 128 && !found; ++i) {
            if (map.basic(i) == ch) {
                gsmBytes.append(char(i));
                found = true;
            }
        }
        for (int i = 0; i < 128 && !found; ++i) {
            if (map.extension(i) == ch) {
                gsmBytes.append(char(kGSMEscape));
                gsmBytes.append(char(i));
                found = true;
            }
        }
        if (!found)
            unmapped.append(c);
    }
    return unmapped.isEmpty();
}

bool GSMToText(const GSMCodeMap &map, const QByteArray &gsmBytes, QString &text,
               QByteArray &unmapped)
{
    text.clear();
    unmapped.clear();
    bool escaped = false;
    for (char raw : gsmBytes) {
        const quint8 b = quint8(raw);
        if (b >= 128) {
            unmapped.append(raw);
        } else if (escaped) {
            const QString &extended = map.extension(b);
            text += extended.isEmpty() ? map.basic(kGSMEscape) + map.basic(b) : extended;
            escaped = false;
        } else if (b == kGSMEscape) {
            escaped = true;
        } else {
            text += map.basic(b);
        }
    }
    if (escaped)
        text += map.basic(kGSMEscape);
    return unmapped.isEmpty();
}

void SplitGSMText(const GSMCodeMap &map, const QByteArray &gsmBytes, const QString &delimiter,
                  QList<QByteArray> &parts, int &count)
{
    QByteArray delim;
    QString unmappedDelimiter;
    TextToGSM(map, delimiter, delim, unmappedDelimiter);
    parts.clear();
    count = 0;
    QByteArrayView rest(gsmBytes);
    while (!rest.isEmpty()) {
        const qsizetype at = delim.isEmpty() ? -1 : rest.indexOf(delim);
        ++count;
        if (at < 0) {
            parts.append(rest.toByteArray());
            break;
        }
        parts.append(rest.first(at).toByteArray());
        // Skip the whole delimiter: an escaped delimiter is two bytes, and
        // leaving its second byte would start the next part with a stray code.
        rest = rest.sliced(at + delim.size());
    }
}

QString UCS2HexToText(const QString &hexText)
{
    QString text;
    for (qsizetype i = 0; i < hexText.size(); i += 4) {
        const QStringView group = QStringView(hexText).mid(i, 4);
        const int high = hexPair(group.mid(0, 2));
        const int low = group.size() > 2 ? hexPair(group.mid(2, 2)) : 0;
        text.append(QChar(char16_t(high * 256 + low)));
    }
    return text;
}

QString TextToUCS2Hex(const QString &text)
{
    QString hex;
    hex.reserve(text.size() * 4);
    for (QChar c : text)
        hex += QStringLiteral("%1").arg(c.unicode(), 4, 16, QLatin1Char('0')).toUpper();
    return hex;
}

} // namespace quillet
