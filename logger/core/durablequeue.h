#pragma once
// A short queue of text entries kept in a file beside the settings, for work
// that must outlive a crash once it was accepted (a program to run for an
// alarm, a message to text on). The file is replaced whole and synced at
// every change, so an entry added is on disk when append returns; a handful
// of entries is all it is meant for. One line per entry, its fields
// hex-encoded and tab-separated, so no byte of an alarm can break the layout.

#include <QList>
#include <QString>
#include <QStringList>

namespace quillet {

class DurableQueue
{
public:
    // Reads the file (missing: empty queue; empty path: kept in memory only).
    void load(const QString &path);
    // Adds `fields` at the end, unless an entry with the same non-empty first
    // field waits already: that field names what the entry is for, so the
    // same alarm seen again after a crash is not queued twice. True when the
    // queue's file holds it (or there is no file).
    bool append(const QStringList &fields);
    void removeAt(qsizetype i);
    void removeFirst() { removeAt(0); }
    const QStringList &at(qsizetype i) const { return m_entries.at(i); }
    const QStringList &first() const { return m_entries.first(); }
    bool isEmpty() const { return m_entries.isEmpty(); }
    qsizetype size() const { return m_entries.size(); }
    const QString &path() const { return m_path; }

private:
    bool flush();

    QString m_path;
    QList<QStringList> m_entries;
    bool m_dirty = false;
    bool m_failed = false;
};

} // namespace quillet
