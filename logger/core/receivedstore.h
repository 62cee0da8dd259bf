#pragma once
// What was already recorded. A message that stays on the SIM (deletion off, or
// a deletion that failed) is read again at every poll; it must not become a
// second record, neither at the next poll nor after a restart. The set is kept
// in a small file beside the settings file.

#include <QDateTime>
#include <QSet>
#include <QString>

namespace quillet {

class ReceivedStore
{
public:
    static QString Key(qint16 slot, const QDateTime &date, const QString &phoneNo,
                       const QString &text);

    // Loads the set kept in the file (missing file: empty set).
    void load(const QString &path);
    bool contains(const QString &key) const { return m_keys.contains(key); }
    // Each change is written through at once (atomic replace).
    bool add(const QString &key);
    bool remove(const QString &key);
    // Forgets every key not in `present` (messages no longer on the SIM).
    bool retainOnly(const QSet<QString> &present);
    qsizetype size() const { return m_keys.size(); }
    const QString &path() const { return m_path; }

private:
    bool save() const;

    QString m_path;
    QSet<QString> m_keys;
};

} // namespace quillet
