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
    bool haveTime = false;
    for (const Word &w : words) {
        if (w.key == u"number") {
            sms.number = w.value;
            haveNumber = true;
        } else if (w.key == u"text") {
            sms.text = w.value;
            haveText = true;
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
    if (!haveNumber || sms.number.isEmpty() || !haveText) {
        error = QStringLiteral("a message needs number= and text=");
        return false;
    }
    // The header travels in GSM codes whatever the body's alphabet.
    if (!IsGsmWritable(sms.number) || !IsGsmWritable(sms.name)) {
        error = QStringLiteral("number and name must be written in the GSM alphabet");
        return false;
    }
    if (alphabet == u"auto")
        sms.alphabet = IsGsmWritable(sms.text) ? SmsAlphabet::Gsm : SmsAlphabet::Ucs2;
    else if (alphabet == u"gsm")
        sms.alphabet = SmsAlphabet::Gsm;
    else if (alphabet == u"ucs2")
        sms.alphabet = SmsAlphabet::Ucs2;
    else {
        error = QStringLiteral("alphabet must be gsm, ucs2 or auto, not %1").arg(alphabet);
        return false;
    }
    if (sms.alphabet == SmsAlphabet::Gsm && !IsGsmWritable(sms.text)) {
        error = QStringLiteral("text has characters outside the GSM alphabet; use alphabet=ucs2");
        return false;
    }
    // Only the shape is checked: a test may want an impossible date on purpose.
    static const QRegularExpression shape(
        QStringLiteral("^\\d\\d/\\d\\d/\\d\\d,\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d$"));
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
