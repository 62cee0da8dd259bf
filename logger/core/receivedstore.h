#pragma once
// What was already recorded. A message that stays on the SIM (deletion off, or
// a deletion that failed) is read again at every poll; it must not become a
// second record, neither at the next poll nor after a restart, not even after
// a crash in the middle of recording it. The set is kept in a small file
// beside the settings file, one line per message:
//   key                                  recorded
//   key  "L"  rowsBefore                 record in the log, database row not
//                                        confirmed yet
//   key  "P"  dev:ino  offset  rowsBefore  a record was being appended there
// (tab-separated). rowsBefore is the highest database row id before the
// message's row, so that a row added before a crash is found again and a
// second message with the same texts still gets its own.

#include "logfile.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>

namespace quillet {

class ReceivedStore
{
public:
    enum class State
    {
        Absent,
        Pending,  // an append was under way (only after a crash in the middle)
        Logged,   // the record is in the log; the row may still be missing
        Recorded, // every output that keeps a copy has it
    };
    struct Entry
    {
        State state = State::Absent;
        LogPlace place;         // Pending: where the record was going
        qint64 rowsBefore = -1; // -1: unknown, look through every row
    };

    static QString Key(qint16 slot, const QDateTime &date, const QString &phoneNo,
                       const QString &text);

    // Loads the set kept in the file (missing file: empty set; empty path: a
    // set that lives in memory only).
    void load(const QString &path);
    Entry entry(const QString &key) const { return m_entries.value(key); }
    bool contains(const QString &key) const { return m_entries.contains(key); }

    // Notes where the record is about to go and writes the file at once, so
    // that a crash before the next step leaves the place to look at.
    bool beginRecord(const QString &key, const LogPlace &place, qint64 rowsBefore);
    // The append failed (and was cut back): nothing of the message is kept.
    void abandon(const QString &key);
    void markLogged(const QString &key, qint64 rowsBefore);
    void markRecorded(const QString &key);

    // The slot was read and holds the message with `key` (or, with an empty
    // key, nothing or a message that is no alarm): every other entry of that
    // slot is forgotten, the alerted ones too. Only a read proves that a
    // message has gone; a read that failed proves nothing.
    void slotHolds(qint16 slot, const QString &key = {});

    // Messages shown and sounded while their record could not be written:
    // kept in memory only, so that the retry at every poll neither shows
    // nor sounds them again. Forgotten with the slot, like the entries.
    // noteAlerted is true when the message was not alerted yet.
    bool noteAlerted(const QString &key);
    bool takeAlerted(const QString &key) { return m_alerted.remove(key); }
    qsizetype alertedCount() const { return m_alerted.size(); }

    // Writes pending changes to the file; true when nothing is left unwritten.
    // A failed write keeps every change in memory and says why in the trace.
    bool flush();
    // The last write of the file failed (and no later one succeeded).
    bool writeFailed() const { return m_failed; }
    qsizetype size() const { return m_entries.size(); }
    const QString &path() const { return m_path; }

private:
    void set(const QString &key, const Entry &entry);
    bool save();

    QString m_path;
    QHash<QString, Entry> m_entries;
    QSet<QString> m_alerted;
    bool m_dirty = false;
    bool m_failed = false;
};

} // namespace quillet
