#include "atreply.h"

#include "gsmcodemap.h"

#include <QList>

namespace quillet {

namespace {

const QString kCRLF = QStringLiteral("\r\n");
const QString kFinalOK = QStringLiteral("\r\n\r\nOK\r\n");

// The lines of a reply that already have their CR LF, blanks trimmed, empty
// ones left out.
QList<QStringView> completeLines(QStringView reply)
{
    QList<QStringView> lines;
    qsizetype start = 0;
    for (;;) {
        const qsizetype end = reply.indexOf(kCRLF, start);
        if (end < 0)
            break;
        const QStringView line = reply.mid(start, end - start).trimmed();
        if (!line.isEmpty())
            lines.append(line);
        start = end + 2;
    }
    return lines;
}

bool isErrorLine(QStringView line)
{
    return line == QLatin1String("ERROR") || line.startsWith(QLatin1String("+CMS ERROR:")) ||
           line.startsWith(QLatin1String("+CME ERROR:"));
}

bool isDecimal(QStringView text)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

// A plain decimal number of at most `maxValue`; false for anything else.
bool toBoundedInt(QStringView text, int maxValue, int &value)
{
    text = text.trimmed();
    if (!isDecimal(text) || text.size() > 9)
        return false;
    const int v = text.toInt();
    if (v > maxValue)
        return false;
    value = v;
    return true;
}

QString decode(const QByteArray &gsm)
{
    QString text;
    QByteArray unmapped;
    GSMToText(gsm, text, unmapped);
    return text;
}

// The header line's fields, cut at the commas that stand outside quotes.
QList<QByteArray> headerFields(const QByteArray &header, const CMGRTokens &tokens)
{
    QList<QByteArray> fields;
    QByteArray current;
    bool inQuote = false;
    qsizetype i = 0;
    while (i < header.size()) {
        const QByteArrayView rest = QByteArrayView(header).sliced(i);
        if (rest.startsWith(tokens.quote)) {
            inQuote = !inQuote;
            current += tokens.quote;
            i += tokens.quote.size();
        } else if (!inQuote && rest.startsWith(tokens.comma)) {
            fields.append(current);
            current.clear();
            i += tokens.comma.size();
        } else {
            current += header.at(i);
            ++i;
        }
    }
    fields.append(current);
    return fields;
}

// "yy/MM/dd,hh:mm:ss" with the zone (+32, -16, ...) already cut off. The
// year is 2000 + yy and the order is fixed, whatever the locale says.
bool parseTimeStamp(const QString &text, QDateTime &result)
{
    const QStringList halves = text.split(u',');
    if (halves.size() != 2)
        return false;
    const QStringList date = halves[0].split(u'/');
    const QStringList time = halves[1].split(u':');
    if (date.size() != 3 || time.size() != 3)
        return false;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!toBoundedInt(date[0], 9999, year) || !toBoundedInt(date[1], 99, month) ||
        !toBoundedInt(date[2], 99, day) || !toBoundedInt(time[0], 99, hour) ||
        !toBoundedInt(time[1], 99, minute) || !toBoundedInt(time[2], 99, second))
        return false;
    if (date[0].trimmed().size() <= 2)
        year += 2000;
    const QDate d(year, month, day);
    const QTime t(hour, minute, second);
    if (!d.isValid() || !t.isValid())
        return false;
    // The stamp is the service centre's wall clock, zone cut off: no host
    // zone may move it (a daylight-saving gap would make it invalid).
    result = QDateTime(d, t, Qt::UTC);
    return true;
}

// The modem writes the zone in quarter hours behind a sign; the stamp is
// kept as the service centre wrote it, without the zone.
QString withoutZone(const QString &stamp)
{
    const qsizetype comma = stamp.indexOf(u',');
    const qsizetype sign = qMax(stamp.lastIndexOf(u'+'), stamp.lastIndexOf(u'-'));
    if (comma < 0 || sign <= comma || !isDecimal(QStringView(stamp).sliced(sign + 1)))
        return stamp;
    return stamp.left(sign);
}

bool isUCS2Hex(const QString &text)
{
    if (text.size() % 4 != 0)
        return false;
    for (QChar c : text) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f')))
            return false;
    }
    return true;
}

} // namespace

qint32 CountSubString(const QString &text, const QString &part)
{
    if (text.isEmpty() || part.isEmpty())
        return 0;
    qint32 count = 0;
    qsizetype at = text.indexOf(part);
    while (at >= 0) {
        ++count;
        if (at + 1 >= text.size())
            break;
        at = text.indexOf(part, at + 1);
    }
    return count;
}

bool IsErrorReply(const QString &reply)
{
    const QList<QStringView> lines = completeLines(reply);
    return !lines.isEmpty() && isErrorLine(lines.last());
}

bool ParseCPMSQueryReply(const QString &reply, qint16 &used, qint16 &total)
{
    const QStringList pieces = reply.split(u',');
    if (pieces.size() != 6 && pieces.size() != 9)
        return false;
    int u = 0, t = 0;
    if (!toBoundedInt(pieces[1], 32767, u) || !toBoundedInt(pieces[2], 32767, t))
        return false;
    used = qint16(u);
    total = qint16(t);
    return true;
}

CMGRTokens CMGRTokens::fromCodeMap()
{
    CMGRTokens tokens;
    QString unmapped;
    bool ok = TextToGSM(kCRLF, tokens.crlf, unmapped);
    ok = TextToGSM(QStringLiteral(","), tokens.comma, unmapped) && ok;
    ok = TextToGSM(QStringLiteral("\""), tokens.quote, unmapped) && ok;
    ok = TextToGSM(kFinalOK, tokens.finalOK, unmapped) && ok;
    if (!ok)
        return {};
    return tokens;
}

QDateTime ZeroDate()
{
    return QDateTime(QDate(1899, 12, 30), QTime(0, 0, 0), Qt::UTC);
}

bool ParseCMGRReply(const QByteArray &raw, const CMGRTokens &tokens, QString &phoneNo,
                    QDateTime &smsDate, QString &sms, QString &smsStatus)
{
    phoneNo.clear();
    sms.clear();
    auto fail = [&] {
        phoneNo.clear();
        sms.clear();
        return false;
    };
    if (!tokens.isComplete())
        return fail();

    // The header ends at the first line end after the reply's leading CR LF.
    const qsizetype headerEnd = raw.indexOf(tokens.crlf, 2);
    if (headerEnd < 0)
        return fail();
    const QByteArray header = raw.left(headerEnd);

    // Quoted fields of the header only: quotes in the message text are text.
    QList<QByteArray> quoted;
    for (qsizetype pos = 0;;) {
        const qsizetype open = header.indexOf(tokens.quote, pos);
        if (open < 0)
            break;
        const qsizetype from = open + tokens.quote.size();
        const qsizetype close = header.indexOf(tokens.quote, from);
        if (close < 0)
            break;
        if (quoted.size() == 5)
            return fail();
        quoted.append(header.mid(from, close - from));
        pos = close + tokens.quote.size();
    }
    if (quoted.isEmpty())
        return fail();

    smsStatus = decode(quoted[0]).toUpper().mid(4);
    const bool stored = smsStatus == QLatin1String("UNSENT") || smsStatus == QLatin1String("SENT");
    const bool received =
        smsStatus == QLatin1String("UNREAD") || smsStatus == QLatin1String("READ");
    if (!stored && !received)
        return fail();
    if (quoted.size() < 2)
        return fail();
    const QString number = decode(quoted[1]);
    QDateTime date = ZeroDate();
    if (received) {
        const qsizetype stampField = quoted.size() == 4 ? 2 : 3;
        if (stampField >= quoted.size())
            return fail();
        if (!parseTimeStamp(withoutZone(decode(quoted[stampField])), date))
            return fail();
    }

    // Counted from the end, the fields sit where they do with or without a
    // name field: received ... DCS, centre, its type, length; stored
    // ... DCS, validity, centre, its type, length.
    const QList<QByteArray> fields = headerFields(header, tokens);
    const qsizetype dcsFromEnd = received ? 4 : 5;
    if (fields.size() < dcsFromEnd + 2)
        return fail();
    const QString scheme = decode(fields[fields.size() - dcsFromEnd]).trimmed();
    int length = 0;
    if (!toBoundedInt(decode(fields.last()), 99999, length))
        return fail();

    const qsizetype bodyStart = headerEnd + tokens.crlf.size();
    const qsizetype bodyEnd = raw.size() - tokens.finalOK.size();
    if (!raw.endsWith(tokens.finalOK) || bodyEnd < bodyStart)
        return fail();
    QString body;
    QByteArray unmapped;
    if (!GSMToText(raw.mid(bodyStart, bodyEnd - bodyStart), body, unmapped))
        return fail();

    if (scheme == QLatin1String("0")) {
        if (body.size() != length)
            return fail();
        sms = body;
    } else if (scheme == QLatin1String("8")) {
        // A cut or damaged hexadecimal body is a failed read to repeat, not a
        // message of stray characters.
        if (!isUCS2Hex(body))
            return fail();
        sms = UCS2HexToText(body);
    } else {
        return fail();
    }
    phoneNo = number;
    smsDate = date;
    return true;
}

bool IsCMGRReplyComplete(const QString &reply)
{
    const qsizetype header = reply.indexOf(QLatin1String("+CMGR:"));
    if (header < 0) {
        const QList<QStringView> lines = completeLines(reply);
        return !lines.isEmpty() &&
               (lines.last() == QLatin1String("OK") || isErrorLine(lines.last()));
    }
    const qsizetype headerEnd = reply.indexOf(kCRLF, header);
    if (headerEnd < 0 || !reply.endsWith(kFinalOK))
        return false;
    const QStringView headerLine = QStringView(reply).mid(header, headerEnd - header);
    int length = 0;
    if (!toBoundedInt(headerLine.mid(headerLine.lastIndexOf(u',') + 1), 99999, length))
        length = 0;
    const qsizetype bodyStart = headerEnd + 2;
    const qsizetype bodyEnd = reply.size() - kFinalOK.size();
    // GSM text counts one character per announced character; UCS2
    // hexadecimal has at least as many digits as the octets announced.
    return qMax<qsizetype>(0, bodyEnd - bodyStart) >= length;
}

bool IsEmptySlotReply(const QString &reply)
{
    const QList<QStringView> lines = completeLines(reply);
    if (lines.size() == 1)
        return lines.first() == QLatin1String("OK");
    return lines.size() == 2 && lines.first() == QLatin1String("+CMGR: 0,,0") &&
           lines.last() == QLatin1String("OK");
}

CMGRNoMessage ClassifyCMGRNoMessage(const QString &reply, bool modemGivesCodes)
{
    if (IsEmptySlotReply(reply))
        return CMGRNoMessage::Empty;
    if (!IsErrorReply(reply))
        return CMGRNoMessage::NotThat;
    const QStringView last = completeLines(reply).last();
    if (last == QLatin1String("ERROR"))
        return modemGivesCodes ? CMGRNoMessage::Transient : CMGRNoMessage::Empty;
    const bool cms = last.startsWith(QLatin1String("+CMS ERROR:"));
    const QStringView code = last.mid(qsizetype(sizeof "+CMS ERROR:") - 1).trimmed();
    // Verbose codes (AT+CMEE=2) name the same condition in words.
    const bool invalidIndex =
        cms ? (code == QLatin1String("321") ||
               code.compare(QLatin1String("invalid memory index"), Qt::CaseInsensitive) == 0)
            : (code == QLatin1String("21") ||
               code.compare(QLatin1String("invalid index"), Qt::CaseInsensitive) == 0);
    return invalidIndex ? CMGRNoMessage::Empty : CMGRNoMessage::Transient;
}

} // namespace quillet
