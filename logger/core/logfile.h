#pragma once
// The history log: one line per alarm, appended under the lock the viewer's
// library honours when it rewrites the file.

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
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

struct GlobalState;

// One pipeline's history log: the appends with their lock, and what it
// remembers between them (a lock that held out, why the last record could not
// be written, a log folder that could not be made).
class HistoryLog
{
public:
    // Reads the log's path from `settings` (the program's, by default).
    explicit HistoryLog(GlobalState *settings = nullptr);

    // Appends bytes to a log file as one record: exclusive flock, re-open
    // when the path no longer names the locked file (the viewer replaced it),
    // one write, fsync. A file that does not end in a line end gets CR LF
    // first. When the write or the fsync fails the file is cut back to its
    // size before the write while the lock is held, so it only ever holds
    // whole records. The file must exist. The lock is waited for in short
    // tries with events run between them, at most lockWaitMs(); a lock that
    // held out that long is not waited for again until as long has passed
    // (the rest of that poll's records try once). The wait ends early when
    // the stop test turns true meanwhile (File > Offline, the end). `torn`,
    // when given, is where an earlier append of the same record was going
    // when the program died: if the file still ends in what a power cut left
    // of it there (its first bytes, or zeros), that is cut away first, so the
    // retry does not glue the record to its own fragment.
    bool AppendLocked(const QString &path, const QByteArray &record,
                      const BeforeAppend &before = {}, const LogPlace *torn = nullptr);

    // Appends the alarm's record to the history log (after the path check)
    // and makes it durable. True when the line is on disk: only then may the
    // message leave the SIM.
    bool AppendAlarmRecord(const QDateTime &smsDate, const QString &callerID,
                           const QString &message, const BeforeAppend &before = {},
                           const LogPlace *torn = nullptr);
    // The record appended, then the database row inserted when configured.
    bool WriteAlarmRecord(const QDateTime &smsDate, const QString &callerID,
                          const QString &message);

    // The path check, noting a log folder that cannot be made as the problem.
    bool CheckPath(bool exitOnError);
    // While the log's folder could not be made: tries again (the end of every
    // poll does, so the note clears once the share is back).
    void RecheckFolder();

    // Why the last record could not be written ("log locked by another
    // program", "cannot create the log folder ..."); empty once a record
    // landed. Changes go to the debug trace and to the change hook.
    QString problem() const { return m_problem; }
    void setProblem(const QString &problem);

    // How long an append waits for the lock another program holds: 5 s
    // (tests shorten it).
    int lockWaitMs() const { return m_lockWaitMs; }
    void setLockWaitMs(int ms);

    // What the owner hears and says: a change of the problem, and whether a
    // lock wait is to end early.
    std::function<void(const QString &)> problemChanged;
    std::function<bool()> stopWaiting;

private:
    GlobalState &m_settings;
    int m_lockWaitMs = 5000;
    // After a lock held out for the whole wait: until then, tries are single.
    QElapsedTimer m_lockTimedOut;
    QString m_problem;
    QString m_lastFailure;   // why the last AppendLocked failed
    QString m_folderProblem; // what the path check noted, while it lasts
};

// Whether an append that may have been cut short by a crash left its record
// in the log: the bytes at the noted place, or, when the file was replaced in
// the meantime (the viewer rewrote it), the record as a whole line in its last
// megabytes.
bool LogHoldsRecord(const QString &path, const LogPlace &place, const QByteArray &record);

} // namespace quillet
