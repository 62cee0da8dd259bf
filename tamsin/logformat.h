#pragma once

// The history file's line format and the record index built over a file's
// bytes. Pure functions over memory: no files, no locks, so the parser can be
// tested and fuzzed on its own.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tamsin {

// Seconds from 01/01/2000 00:00:00, the clock of the file (no time zone).
using Seconds = int64_t;

inline constexpr size_t kStampLength = 19; // "MM/DD/YYYY hh:mm:ss"

// Record times are kept in 32 bits; moments outside the int32 range of
// Seconds (before 1931 or after 01/19/2068 03:14:07) are clamped to its ends.
int32_t ClampSeconds(Seconds s);

// Seconds of a civil date and time; the fields must already be in range.
Seconds SecondsOf(int year, int month, int day, int hour, int minute, int second);

// Days in the month, leap years included.
int DaysInMonth(int year, int month);

// "MM/DD/YYYY hh:mm:ss" at p with at least kStampLength bytes: strict
// positions and a real calendar date.
bool ParseStamp(const char *p, Seconds *out);

// Date text "MM/DD/YYYY" or "MM/DD/YY" (month and day may have one digit)
// and time text "HH:MM:SS" (hour may have one digit).
bool ParseDateTime(std::string_view date, std::string_view time, Seconds *out);

// The first line of a record, without its line end.
struct RecordHead
{
    Seconds time = 0;
    bool hasCaller = false;
    size_t callerBegin = 0; // offsets into the line
    size_t callerEnd = 0;
    size_t messageBegin = 0;
};

// True when the line begins with a time stamp followed by the end of the
// line or a space; then fills head. A caller is the text between " [" and the
// first "] " (or a "]" closing the line); without one the message is the rest
// of the line after the stamp and its space.
bool ParseRecordHead(std::string_view line, RecordHead *head);

// The message of a record whose bytes are [record, record + size): the first
// line's text from messageBegin, then each further line joined by CR LF with
// one leading space removed. out is replaced.
void AssembleMessage(const char *record, size_t size, size_t messageBegin, std::string *out);

// Index of every record of a file's bytes: where each begins, its time and
// its group. About 12 bytes per record; the bytes themselves stay where they
// are (normally a read-only mapping of the file).
class LogIndex
{
public:
    enum class Status
    {
        Ok,
        NotALog,
        HasNul,
        TooManyRecords
    };

    // maxRecords exists so the limit can be tested without a huge file.
    Status Build(const char *data, size_t size, size_t maxRecords = 0x7fffffff);

    size_t Count() const { return m_low.size(); }
    uint64_t Begin(size_t i) const;
    uint64_t End(size_t i) const { return i + 1 < Count() ? Begin(i + 1) : m_size; }
    int32_t Time(size_t i) const { return m_times[i]; }
    // 0 = no caller; otherwise an index into GroupName().
    uint32_t Group(size_t i) const { return m_groups[i]; }

    size_t GroupCount() const { return m_names.size(); } // including the empty 0
    const std::string &GroupName(uint32_t id) const { return m_names[id]; }
    // Group ids of non-empty names, sorted by name bytes.
    const std::vector<uint32_t> &SortedGroups() const { return m_sorted; }
    // The id of a name, or -1 when no record carries it ("" gives 0).
    int64_t FindGroup(std::string_view name) const;

    uint64_t Size() const { return m_size; }
    size_t MemoryBytes() const;

private:
    uint64_t m_size = 0;
    // Record begin offsets, low 32 bits; m_highStarts[h] is the first record
    // whose offset is at least (h + 1) << 32, so files beyond 4 GiB cost only
    // a few entries more.
    std::vector<uint32_t> m_low;
    std::vector<uint32_t> m_highStarts;
    std::vector<int32_t> m_times;
    std::vector<uint32_t> m_groups;
    std::vector<std::string> m_names;
    std::vector<uint32_t> m_sorted;
};

} // namespace tamsin
