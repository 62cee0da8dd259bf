#include "receivedstore.h"

#include "filehelpers.h"
#include "hostservices.h"

#include <QFile>

namespace quillet {

namespace {

constexpr int kKeyFields = 4;

qint16 slotOf(const QString &key)
{
    return qint16(QStringView(key).left(key.indexOf(QLatin1Char('\t'))).toInt());
}

QByteArray lineOf(const QString &key, const ReceivedStore::Entry &e)
{
    QByteArray line = key.toLatin1();
    switch (e.state) {
    case ReceivedStore::State::Pending:
        line += "\tP\t" + QByteArray::number(e.place.device) + ':' +
                QByteArray::number(e.place.inode) + '\t' + QByteArray::number(e.place.offset) +
                '\t' + QByteArray::number(e.rowsBefore);
        break;
    case ReceivedStore::State::Logged:
        line += "\tL\t" + QByteArray::number(e.rowsBefore);
        break;
    case ReceivedStore::State::Recorded:
    case ReceivedStore::State::Absent:
        break;
    }
    return line + '\n';
}

// One line back into its key and entry; false for a line that is none.
bool parseLine(const QString &line, QString &key, ReceivedStore::Entry &e)
{
    const QStringList f = line.split(QLatin1Char('\t'));
    if (f.size() < kKeyFields)
        return false;
    key = f.mid(0, kKeyFields).join(QLatin1Char('\t'));
    bool ok = true;
    if (f.size() == kKeyFields) {
        e.state = ReceivedStore::State::Recorded;
    } else if (f.size() == kKeyFields + 2 && f[4] == QLatin1String("L")) {
        e.state = ReceivedStore::State::Logged;
        e.rowsBefore = f[5].toLongLong(&ok);
    } else if (f.size() == kKeyFields + 4 && f[4] == QLatin1String("P")) {
        e.state = ReceivedStore::State::Pending;
        const QStringList file = f[5].split(QLatin1Char(':'));
        bool devOk = false, inoOk = false, offOk = false;
        if (file.size() == 2) {
            e.place.device = file[0].toULongLong(&devOk);
            e.place.inode = file[1].toULongLong(&inoOk);
        }
        e.place.offset = f[6].toLongLong(&offOk);
        e.rowsBefore = f[7].toLongLong(&ok);
        ok = ok && devOk && inoOk && offOk;
    } else {
        return false;
    }
    return ok;
}

} // namespace

QString ReceivedStore::Key(qint16 slot, const QDateTime &date, const QString &phoneNo,
                           const QString &text)
{
    // One line per key: the free texts are hex-encoded so no byte of a message
    // can break the file's layout.
    return QStringLiteral("%1\t%2\t%3\t%4")
        .arg(slot)
        .arg(date.toString(QStringLiteral("yyyyMMddHHmmss")),
             QString::fromLatin1(phoneNo.toUtf8().toHex()),
             QString::fromLatin1(text.toUtf8().toHex()));
}

void ReceivedStore::load(const QString &path)
{
    m_path = path;
    m_entries.clear();
    m_alerted.clear();
    m_dirty = false;
    m_failed = false;
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return;
    while (!file.atEnd()) {
        QString key;
        Entry e;
        if (parseLine(QString::fromLatin1(file.readLine()).trimmed(), key, e))
            m_entries.insert(key, e);
    }
}

void ReceivedStore::set(const QString &key, const Entry &entry)
{
    if (entry.state == State::Absent) {
        m_dirty = m_entries.remove(key) || m_dirty;
        return;
    }
    m_entries.insert(key, entry);
    m_dirty = true;
}

bool ReceivedStore::beginRecord(const QString &key, const LogPlace &place, qint64 rowsBefore)
{
    set(key, {State::Pending, place, rowsBefore});
    return flush();
}

void ReceivedStore::abandon(const QString &key)
{
    set(key, {});
}

void ReceivedStore::markLogged(const QString &key, qint64 rowsBefore)
{
    set(key, {State::Logged, {}, rowsBefore});
}

void ReceivedStore::markRecorded(const QString &key)
{
    set(key, {State::Recorded, {}, -1});
}

bool ReceivedStore::noteAlerted(const QString &key)
{
    if (m_alerted.contains(key))
        return false;
    m_alerted.insert(key);
    return true;
}

void ReceivedStore::slotHolds(qint16 slot, const QString &key)
{
    m_alerted.removeIf(
        [&](const QString &alerted) { return alerted != key && slotOf(alerted) == slot; });
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (it.key() != key && slotOf(it.key()) == slot) {
            it = m_entries.erase(it);
            m_dirty = true;
        } else {
            ++it;
        }
    }
}

bool ReceivedStore::flush()
{
    if (!m_dirty)
        return true;
    if (m_path.isEmpty()) {
        m_dirty = false;
        return true;
    }
    return save();
}

bool ReceivedStore::save()
{
    QByteArray bytes;
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it)
        bytes += lineOf(it.key(), it.value());
    const QString failure = ReplaceFileDurably(m_path, bytes);
    m_failed = !failure.isEmpty();
    if (m_failed) {
        WriteDebugTrace(QStringLiteral("%1 not written (%2): kept in memory, written again at the "
                                       "next poll")
                            .arg(m_path, failure));
        return false;
    }
    m_dirty = false;
    return true;
}

} // namespace quillet
