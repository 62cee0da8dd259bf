#pragma once
// The history log: one line per alarm, appended under the lock the viewer's
// library honours when it rewrites the file.

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace quillet {

// "MM/DD/YYYY hh:mm:ss [CallerID] message" + CR LF. Every line of the message
// after its first starts with one space, so no text can pass for a record.
QByteArray FormatAlarmRecord(const QDateTime &smsDate, const QString &callerID,
                             const QString &message);

// Appends the record to the history log and makes it durable, then inserts the
// database row when configured. True when the log line is on disk: only then
// may the message leave the SIM.
bool WriteAlarmRecord(const QDateTime &smsDate, const QString &callerID, const QString &message);

// Appends bytes to a log file as one record: exclusive flock, re-open when the
// path no longer names the locked file (the viewer replaced it), one write,
// fsync. The file must exist.
bool AppendLocked(const QString &path, const QByteArray &record);

} // namespace quillet
