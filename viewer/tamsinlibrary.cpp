#include "loglibrary.h"

#include <string>
#include <system_error>
#include <tamsin.h>
#include <thread>

namespace orvane {

namespace {

// Forwards one to one; the C library keeps its own single current file. A
// file opened ahead is read on another thread while the window is built;
// every call waits for that read first.
class TamsinLibrary final : public LogLibrary
{
public:
    ~TamsinLibrary() override { Settle(); }

    void OpenAhead(const char *path) override
    {
        Take();
        m_aheadPath = path;
        try {
            m_ahead = std::thread([this] {
                m_aheadTotal = ::LogOpen(m_aheadPath.c_str());
                // The list of every record, earliest first, as the window's
                // first LogSelect asks for it: a file out of time order is
                // sorted meanwhile too.
                if (m_aheadTotal >= 0 && !m_timeRange)
                    ::LogSelect(nullptr, nullptr);
            });
            m_pending = true;
        } catch (const std::system_error &) {
            // Read when asked, as without the hint.
        }
    }
    int32_t LogOpen(const char *path) override
    {
        Settle();
        if (m_pending && m_aheadPath == path) {
            m_pending = false;
            return m_aheadTotal;
        }
        Take();
        return ::LogOpen(path);
    }
    int32_t LogClose() override
    {
        Settle();
        // What the file read ahead replaces: the LogOpen that follows takes
        // it, any other call closes it first.
        if (m_pending)
            return m_aheadTotal >= 0 ? 1 : 0;
        return ::LogClose();
    }
    int32_t LogGetGroup(int32_t cursor, const char **group) override
    {
        Take();
        return ::LogGetGroup(cursor, group);
    }
    int32_t LogGetSubgroup(const char *group, int32_t cursor, const char **subgroup) override
    {
        Take();
        return ::LogGetSubgroup(group, cursor, subgroup);
    }
    int32_t LogSetTimeRange(const char *fromDate, const char *fromTime, const char *toDate,
                            const char *toTime) override
    {
        Take();
        m_timeRange = fromDate || fromTime || toDate || toTime;
        return ::LogSetTimeRange(fromDate, fromTime, toDate, toTime);
    }
    int32_t LogSelect(const char *group, const char *subgroup) override
    {
        Take();
        return ::LogSelect(group, subgroup);
    }
    int32_t LogGetRecord(int32_t index, const char **time, const char **group,
                         const char **subgroup, const char **message, const char **ackMessage,
                         const char **appendMessage) override
    {
        Take();
        return ::LogGetRecord(index, time, group, subgroup, message, ackMessage, appendMessage);
    }
    int32_t LogTimeKey(const char *date, const char *time) override
    {
        Take();
        return ::LogTimeKey(date, time);
    }
    int32_t LogExportBefore(int32_t timeKey, const char *destinationPath) override
    {
        Take();
        return ::LogExportBefore(timeKey, destinationPath);
    }
    int32_t LogDeleteBefore(int32_t timeKey, const char *sourcePath) override
    {
        Take();
        return ::LogDeleteBefore(timeKey, sourcePath);
    }
    int32_t LogHasGroup() override
    {
        Take();
        return ::LogHasGroup();
    }
    int32_t LogHasSubgroup() override
    {
        Take();
        return ::LogHasSubgroup();
    }
    int32_t LogRefresh(int32_t *selected, int32_t *firstChanged) override
    {
        Take();
        return ::LogRefresh(selected, firstChanged);
    }
    int32_t LogIsUtf8() override
    {
        Take();
        return ::LogIsUtf8();
    }
    int32_t LogCountBefore(int32_t timeKey) override
    {
        Take();
        return ::LogCountBefore(timeKey);
    }

private:
    void Settle()
    {
        if (m_ahead.joinable())
            m_ahead.join();
    }
    // Any call but the LogOpen the hint announced finds the library as if
    // the file had not been read ahead.
    void Take()
    {
        Settle();
        if (m_pending) {
            m_pending = false;
            ::LogClose();
        }
    }

    std::thread m_ahead;
    std::string m_aheadPath;
    int32_t m_aheadTotal = -1;
    bool m_pending = false;   // read ahead, not yet taken by LogOpen
    bool m_timeRange = false; // a time filter may be set
};

} // namespace

std::unique_ptr<LogLibrary> MakeTamsinLibrary()
{
    return std::make_unique<TamsinLibrary>();
}

} // namespace orvane
