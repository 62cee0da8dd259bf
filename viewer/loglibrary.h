#pragma once
// The viewer's only road to a log file: the operations of libtamsin, behind an
// interface so the document, view and selection bar can be tested against a
// double that offers what real logger files never have (subgroups, message
// columns). Texts are UTF-8; an out text belongs to the library and stays
// valid until the next call.

#include <QByteArray>
#include <cstdint>
#include <memory>

namespace orvane {

class LogLibrary
{
public:
    virtual ~LogLibrary() = default;

    virtual int32_t LogOpen(const char *path) = 0;
    virtual int32_t LogGetGroup(int32_t cursor, const char **group) = 0;
    virtual int32_t LogGetSubgroup(const char *group, int32_t cursor, const char **subgroup) = 0;
    virtual int32_t LogSetTimeRange(const char *fromDate, const char *fromTime, const char *toDate,
                                    const char *toTime) = 0;
    virtual int32_t LogSelect(const char *group, const char *subgroup) = 0;
    virtual int32_t LogGetRecord(int32_t index, const char **time, const char **group,
                                 const char **subgroup, const char **message,
                                 const char **ackMessage, const char **appendMessage) = 0;
    virtual int32_t LogTimeKey(const char *date, const char *time) = 0;
    virtual int32_t LogExportBefore(int32_t timeKey, const char *destinationPath) = 0;
    virtual int32_t LogDeleteBefore(int32_t timeKey, const char *sourcePath) = 0;
    virtual int32_t LogClose() = 0;
    virtual int32_t LogHasGroup() = 0;
    virtual int32_t LogHasSubgroup() = 0;
};

// The real library (libtamsin).
std::unique_ptr<LogLibrary> MakeTamsinLibrary();

} // namespace orvane
