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

// The last date a parse read: consecutive records nearly always share it,
// and the calendar arithmetic is the costly part of a stamp.
struct StampCache
{
    char date[10] = {};
    Seconds day = 0;
    bool valid = false;
};

// "MM/DD/YYYY hh:mm:ss" at p with at least kStampLength bytes: strict
// positions and a real calendar date.
bool ParseStamp(const char *p, Seconds *out, StampCache *cache = nullptr);

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
bool ParseRecordHead(std::string_view line, RecordHead *head, StampCache *cache = nullptr);

// The message of a record whose bytes are [record, record + size): the first
// line's text from messageBegin, then each further line joined by CR LF with
// one leading space removed. out is replaced.
void AssembleMessage(const char *record, size_t size, size_t messageBegin, std::string *out);

// Storage for the index's large arrays: above 2 MiB it asks for huge pages,
// because faulting in millions of small pages costs more than indexing.
void *AllocateLarge(size_t bytes);
void FreeLarge(void *p, size_t bytes);

template <class T> struct LargeAllocator
{
    using value_type = T;
    LargeAllocator() = default;
    template <class U> LargeAllocator(const LargeAllocator<U> &) {}
    T *allocate(size_t n) { return static_cast<T *>(AllocateLarge(n * sizeof(T))); }
    void deallocate(T *p, size_t n) { FreeLarge(p, n * sizeof(T)); }
    friend bool operator==(const LargeAllocator &, const LargeAllocator &) { return true; }
};

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
        TooManyRecords,
        ReadError
    };

    static constexpr size_t kMaxRecords = 0x7fffffff;

    // Indexes bytes in memory. maxRecords exists so the limit can be tested
    // without a huge file.
    Status Build(const char *data, size_t size, size_t maxRecords = kMaxRecords);
    // Indexes the first size bytes of a file with pread() in chunks of
    // chunkSize (grown to hold a longer line); the bytes pass through a
    // buffer small enough to stay in cache, instead of through a mapping
    // whose page walks cost more than the parsing. A file that turns out
    // shorter is indexed as far as it goes.
    Status Read(int fd, uint64_t size, size_t chunkSize = 1 << 20, size_t maxRecords = kMaxRecords);

    size_t Count() const { return m_records.size(); }
    uint64_t Begin(size_t i) const;
    uint64_t End(size_t i) const { return i + 1 < Count() ? Begin(i + 1) : m_size; }
    int32_t Time(size_t i) const { return m_records[i].time; }
    // 0 = no caller; otherwise an index into GroupName().
    uint32_t Group(size_t i) const { return m_records[i].group; }

    size_t GroupCount() const { return m_names.size(); } // including the empty 0
    const std::string &GroupName(uint32_t id) const { return m_names[id]; }
    // Group ids of non-empty names, sorted by name bytes.
    const std::vector<uint32_t> &SortedGroups() const { return m_sorted; }
    // The id of a name, or -1 when no record carries it ("" gives 0).
    int64_t FindGroup(std::string_view name) const;

    uint64_t Size() const { return m_size; }
    size_t MemoryBytes() const;

private:
    class Scanner;
    void Finish();

    uint64_t m_size = 0;
    struct Entry
    {
        uint32_t low; // begin offset, low 32 bits
        int32_t time;
        uint32_t group;
    };
    std::vector<Entry, LargeAllocator<Entry>> m_records;
    // m_highStarts[h] is the first record whose offset is at least
    // (h + 1) << 32, so files beyond 4 GiB cost only a few entries more.
    std::vector<uint32_t> m_highStarts;
    std::vector<std::string> m_names;
    std::vector<uint32_t> m_sorted;
};

} // namespace tamsin
