#include "receivedstore.h"

#include <QFile>
#include <QSaveFile>

namespace quillet {

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
    m_keys.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.count(QLatin1Char('\t')) == 3)
            m_keys.insert(line);
    }
}

bool ReceivedStore::add(const QString &key)
{
    if (m_keys.contains(key))
        return true;
    m_keys.insert(key);
    return save();
}

bool ReceivedStore::remove(const QString &key)
{
    if (!m_keys.remove(key))
        return true;
    return save();
}

bool ReceivedStore::retainOnly(const QSet<QString> &present)
{
    const qsizetype before = m_keys.size();
    m_keys.intersect(present);
    return m_keys.size() == before || save();
}

bool ReceivedStore::save() const
{
    if (m_path.isEmpty())
        return true;
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray bytes;
    for (const QString &key : m_keys)
        bytes += key.toLatin1() + '\n';
    file.write(bytes);
    return file.commit();
}

} // namespace quillet
