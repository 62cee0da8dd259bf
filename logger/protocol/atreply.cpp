#include "atreply.h"

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

bool isFinalLine(QStringView line)
{
    return line == QLatin1String("OK") || isErrorLine(line);
}

// The last final result line among the complete lines, -1 when none came:
// whatever stands behind it was volunteered by the modem.
qsizetype lastFinalLine(const QList<QStringView> &lines)
{
    for (qsizetype i = lines.size() - 1; i >= 0; --i) {
        if (isFinalLine(lines.at(i)))
            return i;
    }
    return -1;
}

// Where the "+CMGR:" header starts: at the start of the reply or of a line,
// so that an echo ("AT+CMGR=1") or a volunteered line before it is passed by.
qsizetype headerStart(QStringView reply)
{
    for (qsizetype at = reply.indexOf(QLatin1String("+CMGR:")); at >= 0;
         at = reply.indexOf(QLatin1String("+CMGR:"), at + 1)) {
        if (at == 0 || reply.at(at - 1) == u'\n' || reply.at(at - 1) == u'\r')
            return at;
    }
    return -1;
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

QString decode(const GSMCodeMap &map, const QByteArray &gsm)
{
    QString text;
    QByteArray unmapped;
    GSMToText(map, gsm, text, unmapped);
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

// A number of one or two digits, or of exactly `wide` digits where that is
// allowed (a four-digit year).
bool stampNumber(QStringView text, int maxValue, int &value, int wide = 0)
{
    text = text.trimmed();
    if (text.size() > 2 && text.size() != wide)
        return false;
    return toBoundedInt(text, maxValue, value);
}

// A time stamp as modems write it: "yy/MM/dd,hh:mm:ss" and the zone in
// quarter hours behind a sign ("+32", "-16"); also with a four-digit year,
// months and days without leading zeros, a blank for the comma, no zone.
// The zone is cut off: the stamp is kept as the service centre wrote it.
// A two-digit year is 2000 + yy and the order is fixed, whatever the
// locale says.
bool parseTimeStamp(const QString &stamp, QDateTime &result)
{
    const QString text = stamp.trimmed();
    qsizetype cut = text.indexOf(u',');
    if (cut < 0)
        cut = text.indexOf(u' ');
    if (cut < 0)
        return false;
    QStringView time = QStringView(text).sliced(cut + 1).trimmed();
    const qsizetype sign = qMax(time.lastIndexOf(u'+'), time.lastIndexOf(u'-'));
    if (sign >= 0) {
        if (!isDecimal(time.sliced(sign + 1)))
            return false;
        time = time.first(sign);
    }
    const QList<QStringView> date = QStringView(text).first(cut).split(u'/');
    const QList<QStringView> clock = time.split(u':');
    if (date.size() != 3 || clock.size() != 3)
        return false;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!stampNumber(date[0], 9999, year, 4) || !stampNumber(date[1], 99, month) ||
        !stampNumber(date[2], 99, day) || !stampNumber(clock[0], 99, hour) ||
        !stampNumber(clock[1], 99, minute) || !stampNumber(clock[2], 99, second))
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

// Hexadecimal digits in a whole number of groups of `group` digits.
bool isHex(QStringView text, int group)
{
    if (text.size() % group != 0)
        return false;
    for (QChar c : text) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f')))
            return false;
    }
    return true;
}

// Bytes as the operator should see them in a record of an unreadable reply:
// GSM text, with every byte the alphabet lacks written as \xHH.
QString asReceived(const GSMCodeMap &map, const QByteArray &gsm)
{
    QString text;
    QByteArray run;
    auto flush = [&] {
        QString part;
        QByteArray unmapped;
        GSMToText(map, run, part, unmapped);
        text += part;
        run.clear();
    };
    for (char b : gsm) {
        if (quint8(b) < 0x80) {
            run += b;
            continue;
        }
        flush();
        text += QStringLiteral("\\x%1").arg(quint8(b), 2, 16, QLatin1Char('0')).toUpper();
    }
    flush();
    return text;
}

QString unquote(const QByteArray &field, const CMGRTokens &tokens)
{
    QByteArray f = field.trimmed();
    if (f.startsWith(tokens.quote) && f.endsWith(tokens.quote) &&
        f.size() >= 2 * tokens.quote.size())
        f = f.mid(tokens.quote.size(), f.size() - 2 * tokens.quote.size());
    return decode(tokens.codeMap, f);
}

bool toField(const CMGRTokens &tokens, const QByteArray &field, int maxValue, int &value)
{
    return toBoundedInt(decode(tokens.codeMap, field), maxValue, value);
}

// The body between the header's line end and the final "OK" line: as the
// standard lays it out (its own CR LF, then the result's), and, for modems
// that leave the blank line out, with that CR LF taken as text.
QList<QByteArray> bodyCandidates(const QByteArray &region, const QByteArray &crlf)
{
    if (!region.endsWith(crlf))
        return {region};
    return {region.chopped(crlf.size()), region};
}

QString textFromUTF16(const QByteArray &octets)
{
    QString text;
    text.reserve(octets.size() / 2);
    for (qsizetype i = 0; i + 1 < octets.size(); i += 2)
        text.append(QChar(char16_t(quint8(octets.at(i)) << 8 | quint8(octets.at(i + 1)))));
    return text;
}

QString dataText(const QByteArray &octets)
{
    return QStringLiteral("[8-bit] ") + QString::fromLatin1(octets.toHex().toUpper());
}

// The body of one candidate, read as the scheme, the header indicator and
// the length field say; unless `exact`, a length that fits no reading of the
// body does not refuse it (packed septets aside, which cannot be read
// without it). False with the reason when it cannot be.
bool readBody(const GSMCodeMap &map, const QByteArray &body, int length, bool hasHeader, bool exact,
              SIMMessage &m, QString &why)
{
    QString text;
    QByteArray unmapped;
    if (!GSMToText(map, body, text, unmapped)) {
        why = QStringLiteral("bytes outside the GSM alphabet in the body");
        return false;
    }
    const SMSAlphabet alphabet = m.scheme.alphabet;
    if (!hasHeader && alphabet == SMSAlphabet::GSM7) {
        // Characters (TS 27.005) or septets (TP-UDL, escapes counted twice).
        if (exact && text.size() != length && body.size() != length) {
            why = QStringLiteral("length %1 is neither the %2 characters nor the %3 septets")
                      .arg(length)
                      .arg(text.size())
                      .arg(body.size());
            return false;
        }
        m.text = text;
        return true;
    }
    if (!isHex(text, 2)) {
        why = QStringLiteral("the body is not hexadecimal");
        return false;
    }
    const QByteArray octets = QByteArray::fromHex(text.toLatin1());
    int headerLength = 0;
    if (hasHeader) {
        UserDataHeader header;
        if (!ParseUserDataHeader(octets, header)) {
            why = QStringLiteral("the user data header runs past the user data");
            return false;
        }
        headerLength = header.length;
        m.concatenation = header.concatenation;
    }
    if (alphabet == SMSAlphabet::GSM7) {
        // The length counts septets, the header's and its fill bits included.
        QByteArray septets;
        const int skip = HeaderSeptets(headerLength);
        if (length < skip || !UnpackSeptets(octets, length, septets)) {
            why = QStringLiteral("%1 octets do not hold the %2 septets announced")
                      .arg(octets.size())
                      .arg(length);
            return false;
        }
        if (!GSMToText(map, septets.mid(skip), m.text, unmapped))
            return false; // septets are below 0x80: not reached
        return true;
    }
    const QByteArray payload = octets.mid(headerLength);
    const bool octetsMatch = octets.size() == length;
    if (alphabet == SMSAlphabet::UCS2) {
        // Octets as the standard counts them; some modems count characters.
        if (payload.size() % 2 != 0 ||
            (exact && !octetsMatch && (hasHeader || payload.size() / 2 != length))) {
            why = QStringLiteral("length %1 does not fit %2 octets of UCS2")
                      .arg(length)
                      .arg(octets.size());
            return false;
        }
        m.text = textFromUTF16(payload);
        return true;
    }
    if (exact && !octetsMatch) {
        why = QStringLiteral("length %1 does not fit %2 octets of data")
                  .arg(length)
                  .arg(octets.size());
        return false;
    }
    m.data = payload;
    m.text = dataText(payload);
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
    const qsizetype final = lastFinalLine(lines);
    return final >= 0 && isErrorLine(lines.at(final));
}

bool ReplyCarriesEcho(const QString &reply)
{
    QStringView rest = QStringView(reply);
    while (!rest.isEmpty() && (rest.front() == u'\r' || rest.front() == u'\n'))
        rest = rest.sliced(1);
    return rest.startsWith(QLatin1String("AT"), Qt::CaseInsensitive);
}

namespace {

bool cpmsFromLines(const QList<QStringView> &lines, qint16 &used, qint16 &total)
{
    QStringView line;
    for (QStringView l : lines) {
        if (l.startsWith(QLatin1String("+CPMS:"))) {
            line = l;
            break;
        }
    }
    if (line.isEmpty())
        return false;
    const QList<QStringView> pieces = line.split(u',');
    if (pieces.size() != 6 && pieces.size() != 9)
        return false;
    int u = 0, t = 0;
    if (!toBoundedInt(pieces[1], 32767, u) || !toBoundedInt(pieces[2], 32767, t))
        return false;
    used = qint16(u);
    total = qint16(t);
    return true;
}

} // namespace

bool ParseCPMSQueryReply(const QString &reply, qint16 &used, qint16 &total)
{
    const QString whole = reply + kCRLF; // the lines below view into it
    return cpmsFromLines(completeLines(whole), used, total);
}

bool HasWholeCPMSLine(const QString &reply)
{
    qint16 used = 0, total = 0;
    return cpmsFromLines(completeLines(reply), used, total);
}

QString ParseCPINReply(const QString &reply)
{
    const QString whole = reply + kCRLF; // the lines below view into it
    for (QStringView l : completeLines(whole)) {
        if (l.startsWith(QLatin1String("+CPIN:")))
            return l.mid(6).trimmed().toString();
    }
    return QString();
}

CMGRTokens CMGRTokens::fromCodeMap(const GSMCodeMap &map)
{
    CMGRTokens tokens;
    tokens.codeMap = map;
    QString unmapped;
    bool ok = TextToGSM(map, kCRLF, tokens.crlf, unmapped);
    ok = TextToGSM(map, QStringLiteral(","), tokens.comma, unmapped) && ok;
    ok = TextToGSM(map, QStringLiteral("\""), tokens.quote, unmapped) && ok;
    ok = TextToGSM(map, kFinalOK, tokens.finalOK, unmapped) && ok;
    ok = TextToGSM(map, QStringLiteral("\r\nOK\r\n"), tokens.lineOK, unmapped) && ok;
    ok = TextToGSM(map, QStringLiteral("+CMGR:"), tokens.header, unmapped) && ok;
    if (!ok)
        return {};
    return tokens;
}

QDateTime ZeroDate()
{
    return QDateTime(QDate(1899, 12, 30), QTime(0, 0, 0), Qt::UTC);
}

namespace {

bool isStoredStatus(const QString &status)
{
    return status == QLatin1String("UNSENT") || status == QLatin1String("SENT");
}

// "+CMGR: <stat>,<fo>,<mr>,[<ra>],[<tora>],<scts>,<dt>,<st>": a first octet
// whose TP-MTI says status report where a message has its number. Fields
// that do not read leave their part of the report unknown; it stays a report.
bool readStatusReport(const QList<QByteArray> &fields, const CMGRTokens &tokens, SIMMessage &m)
{
    int firstOctet = 0;
    if (isStoredStatus(m.status) || fields.size() != 8 ||
        !toField(tokens, fields.at(1), 255, firstOctet) || (firstOctet & 0x03) != 0x02)
        return false;
    StatusReport &r = m.report;
    if (!toField(tokens, fields.at(2), 255, r.reference))
        r.reference = -1;
    r.recipient = unquote(fields.at(3), tokens);
    if (!parseTimeStamp(unquote(fields.at(5), tokens), r.sent))
        r.sent = QDateTime();
    if (!parseTimeStamp(unquote(fields.at(6), tokens), r.done))
        r.done = QDateTime();
    if (!toField(tokens, fields.at(7), 255, r.status))
        r.status = -1;
    m.isStatusReport = true;
    m.phoneNo = r.recipient;
    m.date = r.done.isValid() ? r.done : r.sent.isValid() ? r.sent : ZeroDate();
    return true;
}

} // namespace

QString DescribeStatusReport(const StatusReport &r)
{
    auto when = [](const QDateTime &t) {
        return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                           : QStringLiteral("an unreadable time");
    };
    QString about = r.reference >= 0 ? QStringLiteral("message %1").arg(r.reference)
                                     : QStringLiteral("a message");
    if (!r.recipient.isEmpty())
        about += QStringLiteral(" to ") + r.recipient;
    about += QStringLiteral(", sent ") + when(r.sent) + QStringLiteral(": ");
    // TP-ST by its ranges: transaction completed, temporary error with the
    // centre still trying, permanent error, temporary error it gave up on.
    const int st = r.status;
    if (st == 0)
        return about + QStringLiteral("received by the recipient at ") + when(r.done);
    if (st == 1)
        return about + QStringLiteral("forwarded at %1, delivery not confirmed").arg(when(r.done));
    if (st >= 0 && st < 0x20)
        return about + QStringLiteral("completed at %1 (status %2)").arg(when(r.done)).arg(st);
    if (st >= 0x20 && st < 0x40)
        return about +
               QStringLiteral("not delivered yet, the centre still trying (status %1)").arg(st);
    if (st >= 0x40 && st < 0x60)
        return about + QStringLiteral("not delivered, failed for good at %1 (status %2)")
                           .arg(when(r.done))
                           .arg(st);
    if (st >= 0x60 && st < 0x80)
        return about + QStringLiteral("not delivered, the centre gave up at %1 (status %2)")
                           .arg(when(r.done))
                           .arg(st);
    return about + QStringLiteral("status %1")
                       .arg(st < 0 ? QStringLiteral("unreadable") : QString::number(st));
}

QString SlotStatus(const SIMMessage &message)
{
    return message.isStatusReport ? QStringLiteral("REPORT") : message.status;
}

CMGRReply ReadCMGRTextReply(const QByteArray &raw, const CMGRTokens &tokens, SIMMessage &m)
{
    m = SIMMessage{};
    CMGRReply result;
    auto fail = [&](CMGRRead kind, const QString &why) {
        result.kind = kind;
        result.why = why;
        m.text.clear();
        m.data.clear();
        return result;
    };
    if (!tokens.isComplete())
        return fail(CMGRRead::Unreadable, QStringLiteral("no code map"));

    qsizetype at = -1;
    for (qsizetype from = 0; (from = raw.indexOf(tokens.header, from)) >= 0; ++from) {
        if (from == 0 || raw.at(from - 1) == tokens.crlf.back() ||
            raw.at(from - 1) == tokens.crlf.front()) {
            at = from;
            break;
        }
    }
    if (at < 0)
        return fail(CMGRRead::NoMessage, QStringLiteral("no +CMGR header"));
    result.echoed = ReplyCarriesEcho(decode(tokens.codeMap, raw.left(at)));

    const qsizetype headerEnd = raw.indexOf(tokens.crlf, at);
    if (headerEnd < 0)
        return fail(CMGRRead::Unreadable, QStringLiteral("the header has no line end"));
    const QByteArray header =
        raw.mid(at + tokens.header.size(), headerEnd - at - tokens.header.size());
    m.rawHeader = asReceived(tokens.codeMap, raw.mid(at, headerEnd - at));
    // The final result is the last "OK" line; anything behind it was volunteered.
    const qsizetype final = raw.lastIndexOf(tokens.lineOK);
    const qsizetype bodyStart = qMin(headerEnd + tokens.crlf.size(), qMax(final, headerEnd));
    const qsizetype bodyEnd = final < headerEnd ? raw.size() : final;
    const QList<QByteArray> bodies =
        bodyCandidates(raw.mid(bodyStart, bodyEnd - bodyStart), tokens.crlf);
    m.rawBody = asReceived(tokens.codeMap, bodies.first());

    const QList<QByteArray> fields = headerFields(header, tokens);
    if (!fields.first().trimmed().startsWith(tokens.quote)) {
        int stat = 0;
        if (toField(tokens, fields.first(), 9, stat))
            return fail(CMGRRead::ProfileLost, QStringLiteral("a PDU mode header"));
        return fail(CMGRRead::Unreadable, QStringLiteral("the status is not quoted"));
    }
    m.status = unquote(fields.first(), tokens).toUpper().mid(4);
    const bool stored = isStoredStatus(m.status);
    const bool received = m.status == QLatin1String("UNREAD") || m.status == QLatin1String("READ");
    if (!stored && !received)
        return fail(CMGRRead::Unreadable, QStringLiteral("unknown status"));
    if (final < headerEnd)
        return fail(CMGRRead::Unreadable, QStringLiteral("no final OK behind the header"));

    const qsizetype n = fields.size();
    int number = 0;
    if (n > 1 && toField(tokens, fields.at(1), 255, number)) {
        if (readStatusReport(fields, tokens, m)) {
            result.kind = CMGRRead::Message;
            return result;
        }
        return fail(CMGRRead::Unreadable, QStringLiteral("a first octet but no status report"));
    }
    if (n <= 4) {
        // Short: status, number, optional name, and the time stamp of a
        // received message; no coding scheme, so the text is what came.
        result.shortHeader = true;
        if (n < (received ? 3 : 2))
            return fail(CMGRRead::Unreadable, QStringLiteral("a short header missing fields"));
        m.phoneNo = unquote(fields.at(1), tokens);
        m.date = ZeroDate();
        if (received && !parseTimeStamp(unquote(fields.last(), tokens), m.date))
            return fail(CMGRRead::Unreadable, QStringLiteral("the time stamp is no date"));
        m.scheme = DecodeCodingScheme(0);
        QByteArray unmapped;
        if (!GSMToText(tokens.codeMap, bodies.first(), m.text, unmapped))
            return fail(CMGRRead::Unreadable,
                        QStringLiteral("bytes outside the GSM alphabet in the body"));
        result.kind = CMGRRead::Message;
        return result;
    }

    // Counted from the end, the fields sit where they do with or without a
    // name field: received ... time stamp, type of address, first octet,
    // PID, DCS, centre, its type, length; stored ... type of address, first
    // octet, PID, DCS, validity, centre, its type, length.
    if (n < 8)
        return fail(CMGRRead::Unreadable, QStringLiteral("a header of %1 fields").arg(n));
    if (n > 11)
        return fail(CMGRRead::Unreadable, QStringLiteral("more header fields than a message has"));
    const qsizetype typeField = received ? n - 7 : n - 8;
    const qsizetype firstOctetField = typeField + 1;
    const qsizetype dcsField = received ? n - 4 : n - 5;
    m.phoneNo = unquote(fields.at(1), tokens);
    if (!toField(tokens, fields.at(typeField), 255, m.addressType))
        m.addressType = 0;
    int firstOctet = 0;
    if (!toField(tokens, fields.at(firstOctetField), 255, firstOctet))
        firstOctet = 0;
    int length = 0;
    if (!toField(tokens, fields.at(dcsField), 255, m.dcs) ||
        !toField(tokens, fields.last(), 99999, length))
        return fail(CMGRRead::Unreadable, QStringLiteral("no coding scheme or length"));
    m.scheme = DecodeCodingScheme(quint8(m.dcs));
    m.date = ZeroDate();
    if (received && !parseTimeStamp(unquote(fields.at(n - 8), tokens), m.date))
        return fail(CMGRRead::Unreadable, QStringLiteral("the time stamp is no date"));
    if (m.scheme.compressed)
        return fail(CMGRRead::Unreadable, QStringLiteral("compressed text"));

    // The body whose length fits the field, in the standard's layout first;
    // where none fits, the body as it stands.
    const bool hasHeader = (firstOctet & 0x40) != 0;
    QString why;
    for (const bool exact : {true, false}) {
        for (const QByteArray &body : bodies) {
            SIMMessage read = m;
            QString reason;
            if (readBody(tokens.codeMap, body, length, hasHeader, exact, read, reason)) {
                m = read;
                result.kind = CMGRRead::Message;
                if (!exact)
                    result.why = QStringLiteral("taken as it stands: ") + why;
                return result;
            }
            if (why.isEmpty())
                why = reason;
        }
    }
    return fail(CMGRRead::Unreadable, why);
}

bool ParseCMGRReply(const QByteArray &raw, const CMGRTokens &tokens, QString &phoneNo,
                    QDateTime &smsDate, QString &sms, QString &smsStatus)
{
    SIMMessage m;
    const CMGRReply r = ReadCMGRTextReply(raw, tokens, m);
    if (!m.status.isEmpty())
        smsStatus = SlotStatus(m);
    if (r.kind != CMGRRead::Message) {
        phoneNo.clear();
        sms.clear();
        return false;
    }
    phoneNo = m.phoneNo;
    smsDate = m.date;
    sms = m.isStatusReport ? DescribeStatusReport(m.report) : m.text;
    return true;
}

namespace {

// The final "OK" behind the header of a +CMGR reply text and the body before
// it; false when no such line came yet.
bool cmgrBody(QStringView reply, qsizetype &headerEnd, QStringView &body)
{
    const qsizetype header = headerStart(reply);
    if (header < 0)
        return false;
    headerEnd = reply.indexOf(kCRLF, header);
    if (headerEnd < 0)
        return false;
    const qsizetype final = reply.lastIndexOf(QLatin1String("\r\nOK\r\n"));
    if (final < headerEnd)
        return false;
    const qsizetype bodyStart = qMin(headerEnd + 2, final);
    body = reply.mid(bodyStart, final - bodyStart);
    if (body.endsWith(kCRLF))
        body.chop(2);
    return true;
}

bool noHeaderFinished(const QString &reply)
{
    return lastFinalLine(completeLines(reply)) >= 0;
}

// The length field of a detailed header; 0 for a header that has none (a
// short header, a status report) or when the field is no number.
int detailedLength(QStringView header)
{
    QList<QStringView> fields;
    bool inQuote = false;
    qsizetype start = 0;
    for (qsizetype i = 0; i < header.size(); ++i) {
        if (header.at(i) == u'"') {
            inQuote = !inQuote;
        } else if (header.at(i) == u',' && !inQuote) {
            fields.append(header.sliced(start, i - start));
            start = i + 1;
        }
    }
    fields.append(header.sliced(start));
    int length = 0;
    if (fields.size() < 8 || isDecimal(fields.at(1).trimmed()) ||
        !toBoundedInt(fields.last(), 99999, length))
        return 0;
    return length;
}

} // namespace

bool IsCMGRReplyComplete(const QString &reply, const GSMCodeMap &map)
{
    if (headerStart(reply) < 0)
        return noHeaderFinished(reply);
    qsizetype headerEnd = 0;
    QStringView body;
    if (!cmgrBody(reply, headerEnd, body))
        return false;
    const qsizetype header = headerStart(reply);
    const int length = detailedLength(QStringView(reply).sliced(header, headerEnd - header));
    // Septets are the longest reading of a GSM text (an escaped character
    // takes two); hexadecimal bodies have at least as many digits as any
    // length that counts their octets or septets.
    QByteArray gsm;
    QString unmapped;
    TextToGSM(map, body.toString(), gsm, unmapped);
    return qMax<qsizetype>(body.size(), gsm.size()) >= length;
}

bool IsCMGRReplyFinished(const QString &reply)
{
    if (headerStart(reply) < 0)
        return noHeaderFinished(reply);
    qsizetype headerEnd = 0;
    QStringView body;
    return cmgrBody(reply, headerEnd, body);
}

bool IsEmptySlotReply(const QString &reply)
{
    const QList<QStringView> lines = completeLines(reply);
    const qsizetype final = lastFinalLine(lines);
    if (final < 0 || lines.at(final) != QLatin1String("OK"))
        return false;
    // Only an echo or volunteered lines may stand before the result, or the
    // header of an empty slot.
    for (qsizetype i = 0; i < final; ++i) {
        if (lines.at(i).startsWith(QLatin1String("+CMGR:")) &&
            lines.at(i) != QLatin1String("+CMGR: 0,,0"))
            return false;
    }
    return true;
}

CMGRNoMessage ClassifyCMGRNoMessage(const QString &reply, bool modemGivesCodes)
{
    if (IsEmptySlotReply(reply))
        return CMGRNoMessage::Empty;
    if (!IsErrorReply(reply))
        return CMGRNoMessage::NotThat;
    const QList<QStringView> lines = completeLines(reply);
    const QStringView last = lines.at(lastFinalLine(lines));
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
