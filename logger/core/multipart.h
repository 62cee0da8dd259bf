#pragma once
// What the poll makes of a slot beyond reading it. The parts of a
// concatenated message wait on the SIM until the message is whole, or until
// its missing parts are overdue (10 minutes after its first part was seen);
// then the parts become one record, in part order, with the first part's
// time stamp and "[...]" for each gap, and are deleted together once that
// record is committed. A message whose reply comes whole but cannot be read
// is recorded as it arrived ("[unreadable]", its header and body) at the
// third poll that finds it so. The waiting parts and the messages already
// recorded from parts are remembered in a small file beside the settings, so
// a restart neither restarts the clock nor records a message twice.

#include <QDateTime>
#include <QSet>
#include <QString>
#include <functional>

namespace quillet {

enum class SlotRead
{
    Empty,   // nothing to do: an empty slot, or one the SIM could not read just now
    Held,    // a message that stays for now: a waiting part, an odd reply before its third poll
    Message, // a message for the poll to record (and delete, as configured)
};

// Reads one slot. For a message: its date, sender, text, status and the key
// the received store remembers it by.
SlotRead ReadSlot(qint16 index, QDateTime &smsDate, QString &phoneNo, QString &sms,
                  QString &smsStatus, QString &key);

// After a poll that saw the whole store: records every message whose parts
// are all there or overdue (through RecordReceived), deletes the parts of
// recorded ones as configured, and forgets messages none of whose parts is on
// the SIM any more.
void FinishParts();

// The file that keeps the waiting parts (beside the settings file).
void LoadWaitingParts(const QString &path);

// For tests: the clock the 10 minutes are measured on (UTC), so a test
// moves it instead of waiting.
void SetPartsClock(std::function<QDateTime()> now);

} // namespace quillet
