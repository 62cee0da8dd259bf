#pragma once
// The SIM message store of the simulated modem: numbered slots, each empty or
// holding one short message, received ("REC UNREAD", "REC READ") or stored
// outgoing ("STO UNSENT", "STO SENT").

#include "messageline.h"

#include <QList>
#include <QString>
#include <map>

namespace devsim {

enum class SmsStatus
{
    RecUnread,
    RecRead,
    StoUnsent,
    StoSent
};
enum class SmsAlphabet
{
    Gsm,
    Ucs2,
    Data, // 8-bit data
};

struct StoredSms
{
    SmsStatus status = SmsStatus::RecUnread;
    QString number;
    QString name;         // shown in the header only when hasName is set
    bool hasName = false; // a name field in quotes; otherwise the field is left empty
    QString timeStamp;    // "yy/MM/dd,hh:mm:ss+zz", received messages only
    SmsAlphabet alphabet = SmsAlphabet::Gsm;
    QString text;      // GSM and UCS2 messages
    int dcs = -1;      // the coding scheme shown; -1: the plain one of the alphabet (0, 8, 4)
    QByteArray data{}; // 8-bit data
    QByteArray udh{};  // a user data header, its length octet included; empty: none
    // A status report about a message this SIM sent (SMS-STATUS-REPORT):
    // `number` is its recipient, `timeStamp` when the centre took the
    // message; no text.
    bool report = false;
    int reference = 0;    // TP-MR of the message reported on
    int reportStatus = 0; // TP-ST: 0 received, 0x20.. still trying, 0x40.. failed
    QString discharge{};  // TP-DT, "yy/MM/dd,hh:mm:ss+zz"
};

// The alphabet a coding scheme names (TS 23.038 coding groups); false for a
// compressed or otherwise unusable scheme.
bool AlphabetOfScheme(int dcs, SmsAlphabet &alphabet);
// The scheme a message is shown with.
int SchemeOf(const StoredSms &sms);

// The status word as the modem writes it ("REC UNREAD") and as lines name it ("unread").
QString StatusWord(SmsStatus status);
QString StatusKeyword(SmsStatus status);

// A time stamp for "now" in the modem's form, with the zone in quarter hours.
QString CurrentTimeStamp();

// Builds a message from the words of a message line:
//   number=TEXT text=TEXT|data=HEX [name=TEXT] [alphabet=gsm|ucs2|8bit|auto]
//   [dcs=N] [udh=HEX] [time=yy/MM/dd,hh:mm:ss+zz] [status=unread|read|unsent|sent] [slot=N]
// or a status report about a message sent to `number`:
//   number=TEXT kind=report [mr=N] [st=N] [time=...] [discharge=...] [status=...] [slot=N]
// `slot` is -1 when the line names none. The alphabet "auto" (the default)
// picks gsm when the default alphabet can write the text, else ucs2; data=
// makes 8-bit data. dcs= shows another coding scheme (a flash message 0x10,
// classes 0x11, 0xF1, UCS2 of class 0 0x18, ...) whose alphabet must be the
// message's. A number that is no telephone number is an alphanumeric sender.
bool MessageFromWords(const QList<Word> &words, StoredSms &sms, int &slot, QString &error);

// One message line that MessageFromWords reads back into the same message and slot.
QString MessageToLine(int slot, const StoredSms &sms);

class SimStore
{
public:
    SimStore(int capacity = 30, int firstSlot = 1);

    int capacity() const { return m_capacity; }
    int firstSlot() const { return m_first; }
    int lastSlot() const { return m_first + m_capacity - 1; }
    int used() const { return int(m_slots.size()); }
    bool inRange(int slot) const { return slot >= m_first && slot <= lastSlot(); }

    const StoredSms *at(int slot) const;
    StoredSms *at(int slot);
    // The lowest empty slot, or -1 when the store is full.
    int firstFree() const;
    // Puts a message into a slot in range, replacing what was there.
    bool put(int slot, const StoredSms &sms);
    bool remove(int slot);
    void clear() { m_slots.clear(); }
    const std::map<int, StoredSms> &messages() const { return m_slots; }

private:
    int m_capacity;
    int m_first;
    std::map<int, StoredSms> m_slots;
};

} // namespace devsim
