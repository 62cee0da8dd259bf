#include "messageline.h"

namespace devsim {

namespace {

int HexDigit(QChar c)
{
    if (c >= u'0' && c <= u'9')
        return c.unicode() - u'0';
    if (c >= u'a' && c <= u'f')
        return c.unicode() - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c.unicode() - u'A' + 10;
    return -1;
}

// Reads the escape that starts after the backslash at line[i]; advances i past it.
bool ReadEscape(const QString &line, qsizetype &i, QString &out, QString &error)
{
    if (i >= line.size()) {
        error = QStringLiteral("line ends with a lone backslash");
        return false;
    }
    const QChar c = line.at(i++);
    int digits = 0;
    switch (c.unicode()) {
    case u'n':
        out += u'\n';
        return true;
    case u'r':
        out += u'\r';
        return true;
    case u't':
        out += u'\t';
        return true;
    case u'x':
        digits = 2;
        break;
    case u'u':
        digits = 4;
        break;
    default:
        out += c; // \\ \" \' and any other character stand for themselves
        return true;
    }
    int code = 0;
    for (int k = 0; k < digits; ++k, ++i) {
        const int d = i < line.size() ? HexDigit(line.at(i)) : -1;
        if (d < 0) {
            error = QStringLiteral("\\%1 needs %2 hexadecimal digits").arg(c).arg(digits);
            return false;
        }
        code = code * 16 + d;
    }
    out += QChar(char16_t(code));
    return true;
}

} // namespace

bool ParseWords(const QString &line, QList<Word> &words, QString &error)
{
    words.clear();
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (true) {
        while (i < n && line.at(i).isSpace())
            ++i;
        if (i >= n)
            return true;
        Word word;
        QString text;
        bool quoted = false;
        bool keySeen = false;
        while (i < n && (quoted || !line.at(i).isSpace())) {
            const QChar c = line.at(i++);
            if (c == u'"') {
                quoted = !quoted;
            } else if (c == u'\\') {
                if (!ReadEscape(line, i, text, error))
                    return false;
            } else if (c == u'=' && !quoted && !keySeen) {
                // Only an unquoted '=' before any value splits key from value.
                keySeen = true;
                word.key = text;
                text.clear();
            } else {
                text += c;
            }
        }
        if (quoted) {
            error = QStringLiteral("unterminated double quote");
            return false;
        }
        word.value = text;
        words.append(word);
    }
}

QString QuoteValue(const QString &value)
{
    bool plain = !value.isEmpty();
    for (QChar c : value) {
        if (c.isSpace() || c == u'"' || c == u'\\' || c == u'=' || c.unicode() < 0x20)
            plain = false;
    }
    if (plain)
        return value;
    QString out = QStringLiteral("\"");
    for (QChar c : value) {
        switch (c.unicode()) {
        case u'"':
            out += QStringLiteral("\\\"");
            break;
        case u'\\':
            out += QStringLiteral("\\\\");
            break;
        case u'\n':
            out += QStringLiteral("\\n");
            break;
        case u'\r':
            out += QStringLiteral("\\r");
            break;
        case u'\t':
            out += QStringLiteral("\\t");
            break;
        default:
            if (c.unicode() < 0x20)
                out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += u'"';
    return out;
}

} // namespace devsim
