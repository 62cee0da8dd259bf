#include "durablequeue.h"

#include "filehelpers.h"
#include "hostservices.h"

#include <QFile>

namespace quillet {

void DurableQueue::load(const QString &path)
{
    m_path = path;
    m_entries.clear();
    m_dirty = false;
    m_failed = false;
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.isEmpty())
            continue;
        QStringList fields;
        for (const QByteArray &field : line.split('\t'))
            fields << QString::fromUtf8(QByteArray::fromHex(field));
        m_entries << fields;
    }
}

bool DurableQueue::append(const QStringList &fields)
{
    const QString &name = fields.value(0);
    if (!name.isEmpty())
        for (const QStringList &entry : std::as_const(m_entries))
            if (entry.value(0) == name)
                return flush();
    m_entries << fields;
    m_dirty = true;
    return flush();
}

void DurableQueue::removeAt(qsizetype i)
{
    m_entries.removeAt(i);
    m_dirty = true;
    flush();
}

bool DurableQueue::flush()
{
    if (!m_dirty || m_path.isEmpty())
        return true;
    QByteArray bytes;
    for (const QStringList &entry : std::as_const(m_entries)) {
        QByteArrayList fields;
        for (const QString &field : entry)
            fields << field.toUtf8().toHex();
        bytes += fields.join('\t') + '\n';
    }
    const QString failure = ReplaceFileDurably(m_path, bytes);
    if (!failure.isEmpty()) {
        // Kept in memory and written again at the next change; said once.
        if (!m_failed)
            WriteDebugTrace(
                QStringLiteral("%1 not written (%2): kept in memory").arg(m_path, failure));
        m_failed = true;
        return false;
    }
    if (m_failed)
        WriteDebugTrace(m_path + QStringLiteral(" written again"));
    m_failed = false;
    m_dirty = false;
    return true;
}

} // namespace quillet
