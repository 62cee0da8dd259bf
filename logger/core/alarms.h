#pragma once
// The road of one received message, in the order that commits it: the
// caller's site name and the zone identifier, then the record appended to the
// history log and fsync'd (the commit: from here on the message is never
// recorded twice), the received store, the database row, the DDE hand-off,
// and last the window, the count and the alert sound. A crash at any step
// loses nothing and doubles nothing: the received store notes where the
// record goes before it is written, and each later step looks for what a
// crash may have left behind.

#include <QDateTime>
#include <QString>

namespace quillet {

enum class AlarmOutcome
{
    Recorded, // the record landed now (or was found in the log after a crash)
    Known,    // recorded before: nothing is done again
    Dropped,  // not recorded on purpose: unknown sender with give-up on
    Failed,   // the history log could not be written; the message must stay
};

// `key` names the message in the received store (ReceivedStore::Key). Only a
// Failed message must stay on the SIM. While it fails it is shown and sounded
// once, and the retry of the same message does not restart a silenced alert.
AlarmOutcome ProcessAlarmSMS(const QString &key, const QDateTime &smsDate, const QString &phoneNo,
                             const QString &sms);
// Site name of the first map entry whose number ends the sender's number.
bool FindSiteName(const QString &phoneNo, QString &siteName);
// Removes a leading "A1".."A64" or "R1".."R64".
QString StripZoneIdentifier(const QString &sms);

} // namespace quillet
