#include "loglibrary.h"

#include <tamsin.h>

namespace orvane {

namespace {

// Forwards one to one; the C library keeps its own single current file.
class TamsinLibrary final : public LogLibrary
{
public:
    int32_t LogOpen(const char *path) override { return ::LogOpen(path); }
    int32_t LogGetGroup(int32_t cursor, const char **group) override
    {
        return ::LogGetGroup(cursor, group);
    }
    int32_t LogGetSubgroup(const char *group, int32_t cursor, const char **subgroup) override
    {
        return ::LogGetSubgroup(group, cursor, subgroup);
    }
    int32_t LogSetTimeRange(const char *fromDate, const char *fromTime, const char *toDate,
                            const char *toTime) override
    {
        return ::LogSetTimeRange(fromDate, fromTime, toDate, toTime);
    }
    int32_t LogSelect(const char *group, const char *subgroup) override
    {
        return ::LogSelect(group, subgroup);
    }
    int32_t LogGetRecord(int32_t index, const char **time, const char **group,
                         const char **subgroup, const char **message, const char **ackMessage,
                         const char **appendMessage) override
    {
        return ::LogGetRecord(index, time, group, subgroup, message, ackMessage, appendMessage);
    }
    int32_t LogTimeKey(const char *date, const char *time) override
    {
        return ::LogTimeKey(date, time);
    }
    int32_t LogExportBefore(int32_t timeKey, const char *destinationPath) override
    {
        return ::LogExportBefore(timeKey, destinationPath);
    }
    int32_t LogDeleteBefore(int32_t timeKey, const char *sourcePath) override
    {
        return ::LogDeleteBefore(timeKey, sourcePath);
    }
    int32_t LogClose() override { return ::LogClose(); }
    int32_t LogHasGroup() override { return ::LogHasGroup(); }
    int32_t LogHasSubgroup() override { return ::LogHasSubgroup(); }
    int32_t LogRefresh(int32_t *selected, int32_t *firstChanged) override
    {
        return ::LogRefresh(selected, firstChanged);
    }
    int32_t LogIsUtf8() override { return ::LogIsUtf8(); }
    int32_t LogCountBefore(int32_t timeKey) override { return ::LogCountBefore(timeKey); }
};

} // namespace

std::unique_ptr<LogLibrary> MakeTamsinLibrary()
{
    return std::make_unique<TamsinLibrary>();
}

} // namespace orvane
