#pragma once
// A log library double: files are registered in memory by path, with every
// field the real logger files never fill (subgroups, acknowledge and append
// messages). It logs the calls that matter for ordering, and counts record
// fetches so a test can tell rows are asked for only when shown.

#include "loglibrary.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QStringList>
#include <optional>

namespace orvane::test {

struct FakeRecord
{
    QByteArray time; // "MM/DD/YYYY hh:mm:ss"
    QByteArray group;
    QByteArray subgroup;
    QByteArray message;
    QByteArray ack;
    QByteArray append;
};

class FakeLogLibrary final : public LogLibrary
{
public:
    void addFile(const QString &path, QList<FakeRecord> records);
    // Records a logger appended to a file (LogRefresh finds them).
    void appendRecords(const QString &path, const QList<FakeRecord> &records);
    // Records r0..r(n-1) one minute apart from 01/02/2024 00:00:00, group
    // "G<r mod groups>" (none when groups is 0).
    static QList<FakeRecord> makeRecords(int n, int groups = 0);

    int32_t LogOpen(const char *path) override;
    int32_t LogGetGroup(int32_t cursor, const char **group) override;
    int32_t LogGetSubgroup(const char *group, int32_t cursor, const char **subgroup) override;
    int32_t LogSetTimeRange(const char *fromDate, const char *fromTime, const char *toDate,
                            const char *toTime) override;
    int32_t LogSelect(const char *group, const char *subgroup) override;
    int32_t LogGetRecord(int32_t index, const char **time, const char **group,
                         const char **subgroup, const char **message, const char **ackMessage,
                         const char **appendMessage) override;
    int32_t LogTimeKey(const char *date, const char *time) override;
    int32_t LogExportBefore(int32_t timeKey, const char *destinationPath) override;
    int32_t LogDeleteBefore(int32_t timeKey, const char *sourcePath) override;
    int32_t LogClose() override;
    int32_t LogHasGroup() override;
    int32_t LogHasSubgroup() override;
    int32_t LogRefresh(int32_t *selected, int32_t *firstChanged) override;
    int32_t LogIsUtf8() override { return current() ? isUtf8 : -1; }
    // Not counted: the double's tests answer the question without reading it.
    int32_t LogCountBefore(int32_t) override { return -1; }

    QStringList calls; // "LogOpen <path>", "LogClose", "LogSelect <g>|<s>", "LogSetTimeRange ..."
    int recordFetches = 0;
    bool refuseTimeRange = false;
    // What the moving calls answer; they change no file.
    int32_t timeKeyResult = -1;
    int32_t exportResult = 0;
    int32_t deleteResult = 0;
    int32_t isUtf8 = 1;

private:
    const QList<FakeRecord> *current() const;
    QStringList names(const QByteArray FakeRecord::*field, const QByteArray *group) const;

    QHash<QString, QList<FakeRecord>> m_files;
    QString m_current;
    bool m_open = false;
    void Reselect();
    QList<int> m_selection;
    std::optional<QByteArray> m_group;
    std::optional<QByteArray> m_subgroup;
    std::optional<std::pair<QDateTime, QDateTime>> m_range;
    QByteArray m_text;
};

} // namespace orvane::test
