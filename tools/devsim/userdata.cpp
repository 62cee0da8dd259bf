#include "userdata.h"

#include "gsmtext.h"

namespace devsim {

namespace {

constexpr int kMaxUserDataOctets = 140;

bool IsReceived(const StoredSms &sms)
{
    return sms.status == SmsStatus::RecUnread || sms.status == SmsStatus::RecRead;
}

// Two decimal digits as one octet, the units in the high half.
char SwappedBcd(int value)
{
    return char((value % 10) << 4 | (value / 10) % 10);
}

QByteArray SemiOctets(const QString &digits)
{
    QByteArray octets;
    for (qsizetype i = 0; i < digits.size(); i += 2) {
        const int low = digits.at(i).digitValue();
        const int high = i + 1 < digits.size() ? digits.at(i + 1).digitValue() : 0xF;
        octets += char(high << 4 | low);
    }
    return octets;
}

bool IsTelephoneNumber(const QString &number)
{
    const QString digits = number.startsWith(u'+') ? number.mid(1) : number;
    if (digits.isEmpty())
        return false;
    for (QChar c : digits) {
        if (!c.isDigit() || c.unicode() > 127)
            return false;
    }
    return true;
}

// TP-OA or TP-DA: the length in semi-octets, the type, the address.
QByteArray Address(const QString &number)
{
    if (!IsTelephoneNumber(number)) {
        const QByteArray septets = ToGsm(number);
        const QByteArray packed = PackSeptets(septets);
        return QByteArray(1, char((septets.size() * 7 + 3) / 4)) + char(0xD0) + packed;
    }
    const QString digits = number.startsWith(u'+') ? number.mid(1) : number;
    return QByteArray(1, char(digits.size())) + char(number.startsWith(u'+') ? 0x91 : 0x81) +
           SemiOctets(digits);
}

// The service centre address: its length in octets, the type, the digits.
QByteArray CentreAddress(const QString &number)
{
    if (!IsTelephoneNumber(number))
        return QByteArray(1, '\0');
    const QString digits = number.startsWith(u'+') ? number.mid(1) : number;
    const QByteArray value = SemiOctets(digits);
    return QByteArray(1, char(value.size() + 1)) + char(number.startsWith(u'+') ? 0x91 : 0x81) +
           value;
}

// "yy/MM/dd,hh:mm:ss+zz": six swapped pairs and the zone in quarter hours,
// its sign in bit 3.
QByteArray TimeStamp(const QString &stamp)
{
    QByteArray octets;
    for (int at : {0, 3, 6, 9, 12, 15})
        octets += SwappedBcd(stamp.mid(at, 2).toInt());
    char zone = SwappedBcd(stamp.mid(18, 2).toInt());
    if (stamp.mid(17, 1) == u"-")
        zone = char(zone | 0x08);
    return octets + zone;
}

QByteArray PartHeader(int reference, bool wide, int parts, int part)
{
    if (wide)
        return QByteArray::fromRawData("\x06\x08\x04", 3) + char(reference >> 8) +
               char(reference & 0xFF) + char(parts) + char(part);
    return QByteArray::fromRawData("\x05\x00\x03", 3) + char(reference & 0xFF) + char(parts) +
           char(part);
}

// Cuts [0, size) into `parts` runs of about equal length; `joined(b)` says
// the units before and at b must stay together.
QList<qsizetype> Cuts(qsizetype size, int parts, const std::function<bool(qsizetype)> &joined)
{
    QList<qsizetype> cuts{0};
    for (int i = 1; i < parts; ++i) {
        qsizetype b = qMax(cuts.last() + 1, size * i / parts);
        if (b < size && joined(b))
            ++b;
        cuts << qMin(b, size);
    }
    cuts << size;
    return cuts;
}

} // namespace

int AddressType(const QString &number)
{
    if (!IsTelephoneNumber(number))
        return 208;
    return number.startsWith(u'+') ? 145 : 129;
}

int FirstOctet(const StoredSms &sms)
{
    if (sms.report)
        return 0x06; // SMS-STATUS-REPORT (TP-MTI 10), no more messages waiting
    const int header = sms.udh.isEmpty() ? 0 : 0x40;
    return (IsReceived(sms) ? 0x04 : 0x11) | header;
}

UserData EncodeUserData(const StoredSms &sms)
{
    UserData ud;
    const QByteArray &header = sms.udh;
    switch (sms.alphabet) {
    case SmsAlphabet::Gsm: {
        const QByteArray septets = ToGsm(sms.text);
        const int headerBits = int(header.size()) * 8;
        const int fill = (7 - headerBits % 7) % 7;
        ud.octets = header + PackSeptets(septets, header.isEmpty() ? 0 : fill);
        ud.length = (header.isEmpty() ? 0 : (headerBits + fill) / 7) + int(septets.size());
        break;
    }
    case SmsAlphabet::Ucs2:
        ud.octets = header + Ucs2Octets(sms.text);
        ud.length = int(ud.octets.size());
        break;
    case SmsAlphabet::Data:
        ud.octets = header + sms.data;
        ud.length = int(ud.octets.size());
        break;
    }
    return ud;
}

QString TextModeBody(const StoredSms &sms, bool septetLengths, int &length)
{
    if (!sms.udh.isEmpty()) {
        const UserData ud = EncodeUserData(sms);
        length = ud.length;
        return Hex(ud.octets);
    }
    switch (sms.alphabet) {
    case SmsAlphabet::Gsm:
        length = int(septetLengths ? ToGsm(sms.text).size() : sms.text.size());
        return sms.text;
    case SmsAlphabet::Ucs2:
        length = int(sms.text.size() * 2);
        return Hex(Ucs2Octets(sms.text));
    case SmsAlphabet::Data:
        length = int(sms.data.size());
        return Hex(sms.data);
    }
    return {};
}

QString Pdu(const StoredSms &sms, const QString &serviceCentre, int &tpduLength)
{
    QByteArray tpdu(1, char(FirstOctet(sms)));
    if (sms.report) {
        // TP-MR, TP-RA, TP-SCTS, TP-DT, TP-ST.
        tpdu += char(sms.reference) + Address(sms.number) + TimeStamp(sms.timeStamp) +
                TimeStamp(sms.discharge) + char(sms.reportStatus);
        tpduLength = int(tpdu.size());
        return Hex(CentreAddress(serviceCentre) + tpdu);
    }
    const UserData ud = EncodeUserData(sms);
    if (IsReceived(sms)) {
        tpdu += Address(sms.number) + '\0' + char(SchemeOf(sms)) + TimeStamp(sms.timeStamp);
    } else {
        // Message reference 0, then the destination; validity one day.
        tpdu += '\0' + Address(sms.number) + '\0' + char(SchemeOf(sms)) + char(0xA7);
    }
    tpdu += char(ud.length) + ud.octets;
    tpduLength = int(tpdu.size());
    return Hex(CentreAddress(serviceCentre) + tpdu);
}

bool SplitIntoParts(const StoredSms &whole, int parts, int reference, bool wideReference,
                    QList<StoredSms> &result, QString &error)
{
    result.clear();
    if (parts < 2 || parts > 255) {
        error = QStringLiteral("parts must be 2 to 255");
        return false;
    }
    if (reference < 0 || reference > (wideReference ? 0xFFFF : 0xFF)) {
        error = QStringLiteral("the reference does not fit %1 bits").arg(wideReference ? 16 : 8);
        return false;
    }
    const int headerOctets = wideReference ? 7 : 6;
    const int room = kMaxUserDataOctets - headerOctets;
    QList<StoredSms> pieces;
    if (whole.alphabet == SmsAlphabet::Gsm) {
        const QByteArray septets = ToGsm(whole.text);
        const QList<qsizetype> cuts = Cuts(
            septets.size(), parts, [&](qsizetype b) { return quint8(septets.at(b - 1)) == 0x1B; });
        const int maxSeptets = (kMaxUserDataOctets * 8 - (headerOctets * 8 + 6) / 7 * 7) / 7;
        for (int i = 0; i < parts; ++i) {
            const QByteArray run = septets.mid(cuts[i], cuts[i + 1] - cuts[i]);
            if (run.isEmpty() || run.size() > maxSeptets) {
                error = QStringLiteral("the text does not fit %1 parts").arg(parts);
                return false;
            }
            StoredSms part = whole;
            part.text = FromGsm(run);
            pieces << part;
        }
    } else if (whole.alphabet == SmsAlphabet::Ucs2) {
        const QString &text = whole.text;
        const QList<qsizetype> cuts =
            Cuts(text.size(), parts, [&](qsizetype b) { return text.at(b - 1).isHighSurrogate(); });
        for (int i = 0; i < parts; ++i) {
            StoredSms part = whole;
            part.text = text.mid(cuts[i], cuts[i + 1] - cuts[i]);
            if (part.text.isEmpty() || part.text.size() * 2 > room) {
                error = QStringLiteral("the text does not fit %1 parts").arg(parts);
                return false;
            }
            pieces << part;
        }
    } else {
        const QList<qsizetype> cuts =
            Cuts(whole.data.size(), parts, [](qsizetype) { return false; });
        for (int i = 0; i < parts; ++i) {
            StoredSms part = whole;
            part.data = whole.data.mid(cuts[i], cuts[i + 1] - cuts[i]);
            if (part.data.isEmpty() || part.data.size() > room) {
                error = QStringLiteral("the data does not fit %1 parts").arg(parts);
                return false;
            }
            pieces << part;
        }
    }
    for (int i = 0; i < parts; ++i) {
        pieces[i].udh = PartHeader(reference, wideReference, parts, i + 1);
        result << pieces[i];
    }
    return true;
}

} // namespace devsim
