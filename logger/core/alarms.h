#pragma once
// Turning one received message into one alarm record: the caller's site name,
// the zone identifier, the history log and database, and the DDE hand-off.

#include <QDateTime>
#include <QString>

namespace quillet {

enum class AlarmOutcome
{
    Recorded, // the record is in the history log (and on disk)
    Dropped,  // not recorded on purpose: unknown sender with give-up on
    Failed,   // the history log could not be written; the message must stay
};

AlarmOutcome ProcessAlarmSMS(const QDateTime &smsDate, const QString &phoneNo, const QString &sms);
// Site name of the first map entry whose number ends the sender's number.
bool FindSiteName(const QString &phoneNo, QString &siteName);
// Removes a leading "A1".."A64" or "R1".."R64".
QString StripZoneIdentifier(const QString &sms);

} // namespace quillet
