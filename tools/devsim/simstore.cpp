#include "simstore.h"

#include "gsmtext.h"

#include <QDateTime>
#include <QRegularExpression>

namespace devsim {

QString StatusWord(SmsStatus status)
{
    switch (status) {
    case SmsStatus::RecUnread:
        return QStringLiteral("REC UNREAD");
    case SmsStatus::RecRead:
        return QStringLiteral("REC READ");
    case SmsStatus::StoUnsent:
        return QStringLiteral("STO UNSENT");
    case SmsStatus::StoSent:
        return QStringLiteral("STO SENT");
    }
    return {};
}

bool AlphabetOfScheme(int dcs, SmsAlphabet &alphabet)
{
    if (dcs < 0 || dcs > 255)
        return false;
    const int group = dcs >> 4;
    auto byBits = [&] {
        const int bits = (dcs >> 2) & 3;
        alphabet = bits == 1 ? SmsAlphabet::Data : bits == 2 ? SmsAlphabet::Ucs2 : SmsAlphabet::Gsm;
    };
    if (group <= 7) {
        if (dcs & 0x20)
            return false; // compressed
        byBits();
    } else if (group == 9) {
        byBits();
    } else if (group == 0xE) {
        alphabet = SmsAlphabet::Ucs2;
    } else if (group == 0xF) {
        alphabet = (dcs & 0x04) ? SmsAlphabet::Data : SmsAlphabet::Gsm;
    } else {
        alphabet = SmsAlphabet::Gsm; // message waiting and reserved groups
    }
    return true;
}

int SchemeOf(const StoredSms &sms)
{
    if (sms.dcs >= 0)
        return sms.dcs;
    switch (sms.alphabet) {
    case SmsAlphabet::Ucs2:
        return 8;
    case SmsAlphabet::Data:
        return 4;
    case SmsAlphabet::Gsm:
        break;
    }
    return 0;
}

QString StatusKeyword(SmsStatus status)
{
    return StatusWord(status).mid(4).toLower();
}

QString CurrentTimeStamp()
{
    const QDateTime now = QDateTime::currentDateTime();
    // The zone counts quarter hours east of UTC, as the network sends it.
    const int quarters = now.offsetFromUtc() / 900;
    return now.toString(QStringLiteral("yy/MM/dd,HH:mm:ss")) + (quarters < 0 ? u'-' : u'+') +
           QStringLiteral("%1").arg(qAbs(quarters), 2, 10, QLatin1Char('0'));
}

bool MessageFromWords(const QList<Word> &words, StoredSms &sms, int &slot, QString &error)
{
    sms = StoredSms();
    slot = -1;
    QString alphabet = QStringLiteral("auto");
    bool haveNumber = false;
    bool haveText = false;
    bool haveData = false;
    bool haveTime = false;
    bool haveDischarge = false;
    auto hexValue = [&](const Word &w, QByteArray &out) {
        static const QRegularExpression hex(QStringLiteral("^([0-9A-Fa-f]{2})*$"));
        if (!hex.match(w.value).hasMatch()) {
            error = QStringLiteral("%1 must be hexadecimal octets, not %2").arg(w.key, w.value);
            return false;
        }
        out = QByteArray::fromHex(w.value.toLatin1());
        return true;
    };
    for (const Word &w : words) {
        if (w.key == u"number") {
            sms.number = w.value;
            haveNumber = true;
        } else if (w.key == u"text") {
            sms.text = w.value;
            haveText = true;
        } else if (w.key == u"data") {
            if (!hexValue(w, sms.data))
                return false;
            haveData = true;
        } else if (w.key == u"udh") {
            if (!hexValue(w, sms.udh))
                return false;
            if (sms.udh.isEmpty() || quint8(sms.udh.at(0)) + 1 != sms.udh.size()) {
                error = QStringLiteral("udh must start with its own length octet");
                return false;
            }
        } else if (w.key == u"dcs") {
            bool ok = false;
            sms.dcs = w.value.toInt(&ok, 0);
            if (!ok || sms.dcs < 0 || sms.dcs > 255) {
                error = QStringLiteral("dcs must be a number from 0 to 255, not %1").arg(w.value);
                return false;
            }
        } else if (w.key == u"name") {
            sms.name = w.value;
            sms.hasName = true;
        } else if (w.key == u"alphabet") {
            alphabet = w.value.toLower();
        } else if (w.key == u"time") {
            sms.timeStamp = w.value;
            haveTime = true;
        } else if (w.key == u"status") {
            const QString s = w.value.toLower();
            if (s == u"unread")
                sms.status = SmsStatus::RecUnread;
            else if (s == u"read")
                sms.status = SmsStatus::RecRead;
            else if (s == u"unsent")
                sms.status = SmsStatus::StoUnsent;
            else if (s == u"sent")
                sms.status = SmsStatus::StoSent;
            else {
                error = QStringLiteral("status must be unread, read, unsent or sent, not %1")
                            .arg(w.value);
                return false;
            }
        } else if (w.key == u"kind") {
            if (w.value != u"report" && w.value != u"message") {
                error = QStringLiteral("kind must be message or report, not %1").arg(w.value);
                return false;
            }
            sms.report = w.value == u"report";
        } else if (w.key == u"mr" || w.key == u"st") {
            bool ok = false;
            const int value = w.value.toInt(&ok, 0);
            if (!ok || value < 0 || value > 255) {
                error =
                    QStringLiteral("%1 must be a number from 0 to 255, not %2").arg(w.key, w.value);
                return false;
            }
            (w.key == u"mr" ? sms.reference : sms.reportStatus) = value;
        } else if (w.key == u"discharge") {
            sms.discharge = w.value;
            haveDischarge = true;
        } else if (w.key == u"slot") {
            bool ok = false;
            slot = w.value.toInt(&ok);
            if (!ok || slot < 0) {
                error = QStringLiteral("slot must be a number, not %1").arg(w.value);
                return false;
            }
        } else {
            error = QStringLiteral("unknown field %1")
                        .arg(w.key.isEmpty() ? w.value : w.key + QLatin1Char('='));
            return false;
        }
    }
    static const QRegularExpression shape(
        QStringLiteral("^\\d\\d/\\d\\d/\\d\\d,\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d$"));
    if (sms.report) {
        // Only the shape is checked: a test may want an impossible date on purpose.
        if (!haveNumber || sms.number.isEmpty() || haveText || haveData ||
            sms.status == SmsStatus::StoUnsent || sms.status == SmsStatus::StoSent) {
            error = QStringLiteral("a received report needs number= and no text");
            return false;
        }
        for (const QString *stamp : {&sms.timeStamp, &sms.discharge}) {
            if (!stamp->isEmpty() && !shape.match(*stamp).hasMatch()) {
                error = QStringLiteral("times look like yy/MM/dd,hh:mm:ss+zz, not %1").arg(*stamp);
                return false;
            }
        }
        if (!haveTime)
            sms.timeStamp = CurrentTimeStamp();
        if (!haveDischarge)
            sms.discharge = sms.timeStamp;
        if (!IsGsmWritable(sms.number)) {
            error = QStringLiteral("number must be written in the GSM alphabet");
            return false;
        }
        return true;
    }
    if (!haveNumber || sms.number.isEmpty() || haveText == haveData) {
        error = QStringLiteral("a message needs number= and either text= or data=");
        return false;
    }
    // The header travels in GSM codes whatever the body's alphabet.
    if (!IsGsmWritable(sms.number) || !IsGsmWritable(sms.name)) {
        error = QStringLiteral("number and name must be written in the GSM alphabet");
        return false;
    }
    SmsAlphabet byScheme = SmsAlphabet::Gsm;
    if (sms.dcs >= 0 && !AlphabetOfScheme(sms.dcs, byScheme)) {
        error =
            QStringLiteral("dcs %1 is compressed text, which the modem cannot show").arg(sms.dcs);
        return false;
    }
    if (haveData)
        sms.alphabet = SmsAlphabet::Data;
    else if (alphabet == u"auto" && sms.dcs >= 0)
        sms.alphabet = byScheme;
    else if (alphabet == u"auto")
        sms.alphabet = IsGsmWritable(sms.text) ? SmsAlphabet::Gsm : SmsAlphabet::Ucs2;
    else if (alphabet == u"gsm")
        sms.alphabet = SmsAlphabet::Gsm;
    else if (alphabet == u"ucs2")
        sms.alphabet = SmsAlphabet::Ucs2;
    else if (alphabet == u"8bit")
        sms.alphabet = SmsAlphabet::Data;
    else {
        error = QStringLiteral("alphabet must be gsm, ucs2, 8bit or auto, not %1").arg(alphabet);
        return false;
    }
    if ((sms.alphabet == SmsAlphabet::Data) != haveData) {
        error = QStringLiteral("8-bit data comes as data=, text as text=");
        return false;
    }
    if (sms.dcs >= 0 && byScheme != sms.alphabet) {
        error = QStringLiteral("dcs %1 names another alphabet").arg(sms.dcs);
        return false;
    }
    if (sms.alphabet == SmsAlphabet::Gsm && !IsGsmWritable(sms.text)) {
        error = QStringLiteral("text has characters outside the GSM alphabet; use alphabet=ucs2");
        return false;
    }
    if (haveTime && !shape.match(sms.timeStamp).hasMatch()) {
        error =
            QStringLiteral("time must look like yy/MM/dd,hh:mm:ss+zz, not %1").arg(sms.timeStamp);
        return false;
    }
    if (!haveTime)
        sms.timeStamp = CurrentTimeStamp();
    return true;
}

QString MessageToLine(int slot, const StoredSms &sms)
{
    QString line = QStringLiteral("slot=%1 status=%2 number=%3")
                       .arg(slot)
                       .arg(StatusKeyword(sms.status), QuoteValue(sms.number));
    if (sms.hasName)
        line += QStringLiteral(" name=") + QuoteValue(sms.name);
    if (sms.status == SmsStatus::RecUnread || sms.status == SmsStatus::RecRead)
        line += QStringLiteral(" time=") + QuoteValue(sms.timeStamp);
    if (sms.report)
        return line + QStringLiteral(" kind=report mr=%1 st=%2 discharge=%3")
                          .arg(sms.reference)
                          .arg(sms.reportStatus)
                          .arg(QuoteValue(sms.discharge));
    if (sms.dcs >= 0)
        line += QStringLiteral(" dcs=0x") + Hex(QByteArray(1, char(sms.dcs)));
    if (!sms.udh.isEmpty())
        line += QStringLiteral(" udh=") + Hex(sms.udh);
    if (sms.alphabet == SmsAlphabet::Data)
        return line + QStringLiteral(" data=") + Hex(sms.data);
    line += QStringLiteral(" alphabet=") +
            (sms.alphabet == SmsAlphabet::Gsm ? QStringLiteral("gsm") : QStringLiteral("ucs2"));
    line += QStringLiteral(" text=") + QuoteValue(sms.text);
    return line;
}

SimStore::SimStore(int capacity, int firstSlot) : m_capacity(capacity), m_first(firstSlot) {}

const StoredSms *SimStore::at(int slot) const
{
    const auto it = m_slots.find(slot);
    return it == m_slots.end() ? nullptr : &it->second;
}

StoredSms *SimStore::at(int slot)
{
    const auto it = m_slots.find(slot);
    return it == m_slots.end() ? nullptr : &it->second;
}

int SimStore::firstFree() const
{
    for (int slot = m_first; slot <= lastSlot(); ++slot) {
        if (!m_slots.count(slot))
            return slot;
    }
    return -1;
}

bool SimStore::put(int slot, const StoredSms &sms)
{
    if (!inRange(slot))
        return false;
    m_slots[slot] = sms;
    return true;
}

bool SimStore::remove(int slot)
{
    return m_slots.erase(slot) > 0;
}

} // namespace devsim
