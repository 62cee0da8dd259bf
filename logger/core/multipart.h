#pragma once
// What the poll makes of a slot beyond reading it. The parts of a
// concatenated message wait on the SIM until the message is whole, or until
// its missing parts are overdue (10 minutes after its first part was seen);
// then the parts become one record, in part order, with the first part's
// time stamp and "[...]" for each gap, and are deleted together once that
// record is committed. A waiting part's slot (and that of a message stored
// there and never received) is not read at every poll: only when the store's
// count says something changed behind it, and otherwise at most once a
// minute, so that however much waits, a poll reads new slots first and is
// soon over. A message whose reply comes whole but cannot be read is
// recorded as it arrived ("[unreadable]", its header and body) at the third
// poll that finds it so. The waiting parts and the messages already recorded
// from parts are remembered in a small file beside the settings, so a
// restart neither restarts the clock nor records a message twice.

#include <QDateTime>
#include <QList>
#include <QString>
#include <functional>
#include <memory>

namespace quillet {

class CommSMS;
struct SIMMessage;

enum class SlotRead
{
    Empty,   // nothing to do: an empty slot, or one the SIM could not read just now
    Held,    // a message that stays: a waiting part, an odd reply before its third poll, a
             // message stored there and never received
    Message, // a message for the poll to record (and delete, as configured)
};

// One pipeline's joiner: the parts waiting for their message, the odd
// replies counted towards their record, and the file that keeps the first.
class PartJoiner
{
public:
    // What the joiner asks of its pipeline once a message is whole: record
    // it (true when its record is on disk), and take a slot off the SIM
    // (true when it went; empty when deletion is off).
    struct Road
    {
        std::function<bool(const QString &key, const QDateTime &smsDate, const QString &phoneNo,
                           const QString &sms)>
            record;
        std::function<bool(qint16 slot)> deleteSlot;
    };

    PartJoiner();
    ~PartJoiner();
    PartJoiner(const PartJoiner &) = delete;
    PartJoiner &operator=(const PartJoiner &) = delete;

    // A poll begins: no slot has failed to read in it yet.
    void BeginPoll();
    // The device was opened again: what its store held before proves
    // nothing, so the next poll reads every slot.
    void ForgetHeldSlots();
    // Slots known to hold a waiting part, a message recorded from parts and
    // not deleted, or one stored there and never received: a poll counts
    // them as there without reading them.
    QList<qint16> HeldSlots() const;
    // Those of them last read a minute ago or more, longest ago first, at
    // most `count`.
    QList<qint16> DueSlots(int count) const;
    // Whether every slot this poll read gave an answer (an empty slot is one).
    bool SawEverySlot() const;

    // Reads one slot through `device`. For a message: its date, sender,
    // text, status and the key the received store remembers it by.
    SlotRead ReadSlot(CommSMS &device, qint16 index, QDateTime &smsDate, QString &phoneNo,
                      QString &sms, QString &smsStatus, QString &key);

    // After a poll that saw the whole store: records every message whose
    // parts are all there or overdue, deletes the parts of recorded ones, and
    // forgets messages none of whose parts is on the SIM any more.
    void FinishParts(const Road &road);

    // The file that keeps the waiting parts (beside the settings file).
    void LoadWaitingParts(const QString &path);

    // For tests: the clock the 10 minutes are measured on (UTC), so a test
    // moves it instead of waiting.
    void SetPartsClock(std::function<QDateTime()> now);

private:
    struct State;
    void save();
    std::unique_ptr<State> m_state;
};

} // namespace quillet
