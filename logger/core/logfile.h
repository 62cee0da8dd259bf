#pragma once
// The history log: one line per alarm, appended under the lock the viewer's
// library honours when it rewrites the file.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <functional>

namespace quillet {

// "MM/DD/YYYY hh:mm:ss [CallerID] message" + CR LF. The library splits
// records at LF only, so every line of the message after an LF starts with
// one space (no text can pass for a record) and a lone CR stays as it is. C0
// controls other than TAB, CR and LF (a NUL would make the whole file
// unreadable) are written as their visible symbols U+2400..U+241F; in the
// caller, which is one line, CR and LF are too. Empty for an invalid date: a
// record never goes out without its time stamp.
QByteArray FormatAlarmRecord(const QDateTime &smsDate, const QString &callerID,
                             const QString &message);

// Where an append puts its record: the file (device and inode) and the offset
// of the record's first byte.
struct LogPlace
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 offset = -1;
};
// Runs under the lock, just before the write: the last moment to note where
// the record goes.
using BeforeAppend = std::function<void(const LogPlace &)>;

// Appends bytes to a log file as one record: exclusive flock, re-open when the
// path no longer names the locked file (the viewer replaced it), one write,
// fsync. A file that does not end in a line end gets CR LF first. When the
// write or the fsync fails the file is cut back to its size before the write
// while the lock is held, so it only ever holds whole records. The file must
// exist. The lock is waited for in short tries with events run between them,
// at most LogLockWaitMs(); a lock that held out that long is not waited for
// again until as long has passed (the rest of that poll's records try once).
// The wait ends early when File > Offline or the end comes meanwhile
// (G.IsOffline turns true). `torn`, when given, is where an earlier append of
// the same record was going when the program died: if the file still ends in
// what a power cut left of it there (its first bytes, or zeros), that is cut
// away first, so the retry does not glue the record to its own fragment.
bool AppendLocked(const QString &path, const QByteArray &record, const BeforeAppend &before = {},
                  const LogPlace *torn = nullptr);

// How long an append waits for the lock another program holds: 5 s (tests
// shorten it).
int LogLockWaitMs();
void SetLogLockWaitMs(int ms);

// Why the last record could not be written to the history log ("log locked
// by another program", "cannot create the log folder ..."); empty once a
// record landed. Shown in the status bar; changes go to the debug trace.
QString LogFileProblem();
void SetLogFileProblem(const QString &problem);

// Appends the alarm's record to the history log (after the path check) and
// makes it durable. True when the line is on disk: only then may the message
// leave the SIM.
bool AppendAlarmRecord(const QDateTime &smsDate, const QString &callerID, const QString &message,
                       const BeforeAppend &before = {}, const LogPlace *torn = nullptr);

// The record appended, then the database row inserted when configured.
bool WriteAlarmRecord(const QDateTime &smsDate, const QString &callerID, const QString &message);

// Whether an append that may have been cut short by a crash left its record
// in the log: the bytes at the noted place, or, when the file was replaced in
// the meantime (the viewer rewrote it), the record as a whole line in its last
// megabytes.
bool LogHoldsRecord(const QString &path, const LogPlace &place, const QByteArray &record);

} // namespace quillet
