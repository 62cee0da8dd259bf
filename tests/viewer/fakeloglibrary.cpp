#include "fakeloglibrary.h"

#include <algorithm>

namespace orvane::test {

namespace {

QString Show(const char *text)
{
    return text ? QString::fromUtf8(text) : QStringLiteral("null");
}

QDateTime ParseTime(const QByteArray &text)
{
    return QDateTime::fromString(QString::fromLatin1(text), QStringLiteral("MM/dd/yyyy HH:mm:ss"));
}

} // namespace

void FakeLogLibrary::addFile(const QString &path, QList<FakeRecord> records)
{
    m_files.insert(path, std::move(records));
}

void FakeLogLibrary::appendRecords(const QString &path, const QList<FakeRecord> &records)
{
    m_files[path].append(records);
}

QList<FakeRecord> FakeLogLibrary::makeRecords(int n, int groups)
{
    QList<FakeRecord> records;
    records.reserve(n);
    const QDateTime start(QDate(2024, 1, 2), QTime(0, 0, 0));
    for (int r = 0; r < n; ++r) {
        FakeRecord record;
        record.time =
            start.addSecs(60LL * r).toString(QStringLiteral("MM/dd/yyyy HH:mm:ss")).toLatin1();
        if (groups > 0)
            record.group = "G" + QByteArray::number(r % groups);
        record.message = "message " + QByteArray::number(r);
        records.append(record);
    }
    return records;
}

const QList<FakeRecord> *FakeLogLibrary::current() const
{
    if (!m_open)
        return nullptr;
    const auto it = m_files.constFind(m_current);
    return it == m_files.cend() ? nullptr : &*it;
}

int32_t FakeLogLibrary::LogOpen(const char *path)
{
    calls.append(QStringLiteral("LogOpen ") + Show(path));
    m_open = false;
    m_selection.clear();
    if (!path || !m_files.contains(QString::fromUtf8(path)))
        return -1;
    m_current = QString::fromUtf8(path);
    m_open = true;
    m_group.reset();
    m_subgroup.reset();
    const int n = int(current()->size());
    for (int i = 0; i < n; ++i)
        m_selection.append(i);
    return n;
}

QStringList FakeLogLibrary::names(const QByteArray FakeRecord::*field,
                                  const QByteArray *group) const
{
    QStringList result;
    for (const FakeRecord &r : *current()) {
        if (group && r.group != *group)
            continue;
        const QString name = QString::fromUtf8(r.*field);
        if (!name.isEmpty() && !result.contains(name))
            result.append(name);
    }
    // Handed out in file order on purpose: the viewer sorts.
    return result;
}

int32_t FakeLogLibrary::LogGetGroup(int32_t cursor, const char **group)
{
    *group = nullptr;
    if (!current())
        return -1;
    const QStringList all = names(&FakeRecord::group, nullptr);
    if (cursor < 0 || cursor >= all.size())
        return 0;
    m_text = all.at(cursor).toUtf8();
    *group = m_text.constData();
    return cursor + 1;
}

int32_t FakeLogLibrary::LogGetSubgroup(const char *group, int32_t cursor, const char **subgroup)
{
    *subgroup = nullptr;
    if (!current() || !group)
        return -1;
    const QByteArray g(group);
    const QStringList all = names(&FakeRecord::subgroup, &g);
    if (cursor < 0 || cursor >= all.size())
        return 0;
    m_text = all.at(cursor).toUtf8();
    *subgroup = m_text.constData();
    return cursor + 1;
}

int32_t FakeLogLibrary::LogSetTimeRange(const char *fromDate, const char *fromTime,
                                        const char *toDate, const char *toTime)
{
    calls.append(QStringLiteral("LogSetTimeRange %1 %2 %3 %4")
                     .arg(Show(fromDate), Show(fromTime), Show(toDate), Show(toTime)));
    if (!fromDate && !fromTime && !toDate && !toTime) {
        m_range.reset();
        return 1;
    }
    if (refuseTimeRange || !fromDate || !fromTime || !toDate || !toTime)
        return 0;
    const QDateTime from = ParseTime(QByteArray(fromDate) + ' ' + fromTime);
    const QDateTime to = ParseTime(QByteArray(toDate) + ' ' + toTime);
    if (!from.isValid() || !to.isValid())
        return 0;
    m_range = std::make_pair(from, to);
    return 1;
}

int32_t FakeLogLibrary::LogSelect(const char *group, const char *subgroup)
{
    calls.append(QStringLiteral("LogSelect %1|%2").arg(Show(group), Show(subgroup)));
    m_group = group ? std::optional<QByteArray>(group) : std::nullopt;
    m_subgroup = subgroup ? std::optional<QByteArray>(subgroup) : std::nullopt;
    Reselect();
    return current() ? int32_t(m_selection.size()) : -1;
}

// In file order: the double's files are written in time order.
void FakeLogLibrary::Reselect()
{
    m_selection.clear();
    const QList<FakeRecord> *records = current();
    if (!records)
        return;
    for (int i = 0; i < records->size(); ++i) {
        const FakeRecord &r = records->at(i);
        if (m_group && r.group != *m_group)
            continue;
        if (m_subgroup && r.subgroup != *m_subgroup)
            continue;
        if (m_range) {
            const QDateTime t = ParseTime(r.time);
            if (t < m_range->first || t > m_range->second)
                continue;
        }
        m_selection.append(i);
    }
}

int32_t FakeLogLibrary::LogRefresh(int32_t *selected, int32_t *firstChanged)
{
    calls.append(QStringLiteral("LogRefresh"));
    if (!current())
        return -1;
    const QList<int> before = m_selection;
    Reselect();
    int first = 0;
    while (first < before.size() && first < m_selection.size() &&
           before[first] == m_selection[first])
        ++first;
    if (selected)
        *selected = int32_t(m_selection.size());
    if (firstChanged)
        *firstChanged = first;
    return int32_t(current()->size());
}

int32_t FakeLogLibrary::LogGetRecord(int32_t index, const char **time, const char **group,
                                     const char **subgroup, const char **message,
                                     const char **ackMessage, const char **appendMessage)
{
    ++recordFetches;
    const QList<FakeRecord> *records = current();
    if (!records || index < 0 || index >= m_selection.size())
        return -1;
    const FakeRecord &r = records->at(m_selection.at(index));
    *time = r.time.constData();
    *group = r.group.constData();
    *subgroup = r.subgroup.constData();
    *message = r.message.constData();
    *ackMessage = r.ack.constData();
    *appendMessage = r.append.constData();
    return 1;
}

int32_t FakeLogLibrary::LogTimeKey(const char *date, const char *time)
{
    calls.append(QStringLiteral("LogTimeKey %1 %2").arg(Show(date), Show(time)));
    return timeKeyResult;
}

int32_t FakeLogLibrary::LogExportBefore(int32_t timeKey, const char *destinationPath)
{
    calls.append(QStringLiteral("LogExportBefore %1 %2").arg(timeKey).arg(Show(destinationPath)));
    return exportResult;
}

int32_t FakeLogLibrary::LogDeleteBefore(int32_t timeKey, const char *sourcePath)
{
    calls.append(QStringLiteral("LogDeleteBefore %1 %2").arg(timeKey).arg(Show(sourcePath)));
    return deleteResult;
}

int32_t FakeLogLibrary::LogClose()
{
    calls.append(QStringLiteral("LogClose"));
    m_open = false;
    m_selection.clear();
    return 1;
}

int32_t FakeLogLibrary::LogHasGroup()
{
    const QList<FakeRecord> *records = current();
    return records && std::any_of(records->cbegin(), records->cend(),
                                  [](const FakeRecord &r) { return !r.group.isEmpty(); });
}

int32_t FakeLogLibrary::LogHasSubgroup()
{
    const QList<FakeRecord> *records = current();
    return records && std::any_of(records->cbegin(), records->cend(),
                                  [](const FakeRecord &r) { return !r.subgroup.isEmpty(); });
}

} // namespace orvane::test
