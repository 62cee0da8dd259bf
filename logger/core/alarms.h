#pragma once
// What one received message becomes on its way to a record: the caller's
// site name, the text without its zone identifier, and the database row
// beside the log's record. The road itself (the order that commits a record,
// and what a crash may leave behind) is the pipeline's.

#include <QDateTime>
#include <QString>

namespace quillet {

struct GlobalState;

// An alarm as it was recorded: what the listeners of alarmRecorded get.
struct AlarmRecord
{
    QDateTime date;   // the message's time stamp
    QString phoneNo;  // the sender as received
    QString callerID; // the site name, or the sender
    QString text;     // the text as received
    QString message;  // the text as logged (without its zone identifier when so set)
    QString key;      // the message's name in the received store
};

enum class AlarmOutcome
{
    Recorded, // the record landed now (or was found in the log after a crash)
    Known,    // recorded before: nothing is done again
    Dropped,  // not recorded on purpose: unknown sender with give-up on
    Failed,   // the history log could not be written; the message must stay
};

// Site name of the first map entry whose number ends the sender's number
// (in the program's settings, or the record given).
bool FindSiteName(const QString &phoneNo, QString &siteName);
bool FindSiteName(const GlobalState &settings, const QString &phoneNo, QString &siteName);
// Removes a leading "A1".."A64" or "R1".."R64".
QString StripZoneIdentifier(const QString &sms);

// The database row of an alarm whose record is in the log; with mayExist
// (the log held the record already, a crash may have come after the row)
// only when it is not there yet. True when the row is there or none is
// wanted.
bool StoreAlarmRow(bool mayExist, qint64 rowsBefore, const QDateTime &smsDate,
                   const QString &callerID, const QString &message);

} // namespace quillet
