#pragma once

// The history file's line format and the record index built over a file's
// bytes. The parsing is pure functions over memory, so it can be tested and
// fuzzed on its own; the index reads a file with pread() and no locks.

#include <climits>
#include <cstring>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>
#include <vector>

namespace tamsin {

// Seconds from 01/01/2000 00:00:00, the clock of the file (no time zone).
using Seconds = int64_t;

inline constexpr size_t kStampLength = 19; // "MM/DD/YYYY hh:mm:ss"
// Where a caller's name begins: after the stamp and " [".
inline constexpr size_t kCallerBegin = kStampLength + 2;

// Record times are kept in 32 bits; moments outside the int32 range of
// Seconds (before 1931 or after 01/19/2068 03:14:07) are clamped to its ends.
int32_t ClampSeconds(Seconds s);

// Seconds of a civil date and time; the fields must already be in range.
Seconds SecondsOf(int year, int month, int day, int hour, int minute, int second);

// Days in the month, leap years included.
int DaysInMonth(int year, int month);

// Dates a parse has read. Records of one file share few dates, and the
// calendar arithmetic is the costly part of a stamp. An entry's place
// follows the date itself, so the dates of a year lie side by side: a file
// written out of time order over years hits a few kilobytes of cache
// instead of a line per date scattered over all of it.
struct StampCache
{
    struct Entry
    {
        uint64_t head = ~uint64_t(0); // "MM/DD/YY"
        int32_t days = 0;             // from 01/01/2000
        uint16_t tail = 0;            // "YY"
    };
    static constexpr size_t kEntries = 4096; // ten years before two dates share one
    Entry entries[kEntries];
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

// The same for a line known only by its first bytes (at least
// min(length, kCallerBegin) of them), its length, the offset of its first
// "] " at or after kCallerBegin (npos when there is none) and its last byte:
// a line too long to hold in memory is read this way.
bool ParseRecordHead(std::string_view prefix, size_t length, size_t close, char last,
                     RecordHead *head, StampCache *cache = nullptr);

// The message of a record whose bytes are [record, record + size): the first
// line's text from messageBegin, then each further line joined by CR LF with
// one leading space removed. out is replaced.
void AssembleMessage(const char *record, size_t size, size_t messageBegin, std::string *out);

// What a NUL byte is handed out as: a text handed out ends at its first NUL,
// so a run of them shows as this one visible symbol (U+2400) instead.
inline constexpr std::string_view kNulSymbol = "\xE2\x90\x80";

// Replaces every run of NUL bytes in text with kNulSymbol.
void ShowNuls(std::string *text);

// AssembleMessage followed by ShowNuls, fed the record's bytes from
// messageBegin on in pieces of any size, so a record of any length is
// assembled in its own size without being held twice.
class MessageBuilder
{
public:
    explicit MessageBuilder(std::string *out);
    void Feed(const char *data, size_t size);
    // A hole of the file: size NUL bytes that are never read.
    void FeedNuls(uint64_t size);
    void Finish();

private:
    std::string *m_out;
    bool m_pendingCr = false;
    bool m_lineEnded = false;
    bool m_lineStart = false;
    bool m_inNuls = false;
};

// Whether bytes are well-formed UTF-8, fed in pieces that may split a
// character anywhere.
class Utf8Check
{
public:
    void Feed(const char *data, size_t size);
    // No malformed sequence so far (a character may still be open).
    bool Good() const { return !m_bad; }
    // Well-formed to the end, no character left open.
    bool Complete() const { return !m_bad && m_need == 0; }
    // The check of the bytes that follow those checked here, made apart.
    void Then(const Utf8Check &next);

private:
    bool m_bad = false;
    uint8_t m_need = 0;   // continuation bytes still due
    uint8_t m_low = 0x80; // the range of the next one
    uint8_t m_high = 0xBF;
};

// Reads exactly size bytes of fd at offset; false on an error or a file too
// short.
bool ReadExactly(int fd, char *data, size_t size, uint64_t offset);

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
    // A resize leaves new elements uninitialised: every caller writes them
    // before reading, and zeroing millions of them first costs a pass.
    template <class U> void construct(U *p) noexcept { ::new (static_cast<void *>(p)) U; }
    template <class U, class... A> void construct(U *p, A &&...args)
    {
        ::new (static_cast<void *>(p)) U(std::forward<A>(args)...);
    }
    friend bool operator==(const LargeAllocator &, const LargeAllocator &) { return true; }
};

// Group ids, one per record, each in the fewest bytes the largest id so far
// needs: a file of a few dozen callers spends one byte per record on them,
// and the column widens once when the 256th (or 65,536th) name appears.
class GroupColumn
{
public:
    uint32_t Get(size_t i) const
    {
        const uint8_t *p = m_bytes.data() + i * m_width;
        if (m_width == 1)
            return *p;
        if (m_width == 2) {
            uint16_t v;
            std::memcpy(&v, p, 2);
            return v;
        }
        uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    // Get() for a column known to be W bytes wide: loops over every record
    // that pick the width once run several times faster.
    template <size_t W> uint32_t GetAs(size_t i) const
    {
        if constexpr (W == 1) {
            return m_bytes[i];
        } else {
            std::conditional_t<W == 2, uint16_t, uint32_t> v;
            std::memcpy(&v, m_bytes.data() + i * W, W);
            return v;
        }
    }
    void Push(uint32_t id)
    {
        if (m_width < 4 && id >> (8 * m_width) != 0)
            Widen(id);
        if (m_width == 1) {
            m_bytes.push_back(static_cast<uint8_t>(id));
            return;
        }
        uint8_t b[4];
        std::memcpy(b, &id, 4);
        m_bytes.insert(m_bytes.end(), b, b + m_width);
    }
    size_t Size() const { return m_bytes.size() / m_width; }
    void Reserve(size_t n) { m_bytes.reserve(n * m_width); }
    void Resize(size_t n) { m_bytes.resize(n * m_width); }
    size_t Width() const { return m_width; }
    size_t CapacityBytes() const { return m_bytes.capacity(); }

private:
    void Widen(uint32_t id);

    std::vector<uint8_t, LargeAllocator<uint8_t>> m_bytes;
    size_t m_width = 1;
};

// Runs a function on another thread, and waits for it when it goes.
class Worker
{
public:
    template <class F> explicit Worker(F &&work) : m_thread(std::forward<F>(work)) {}
    ~Worker()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    Worker(const Worker &) = delete;
    Worker &operator=(const Worker &) = delete;
    void Join() { m_thread.join(); }

private:
    std::thread m_thread;
};

// Index of every record of a file's bytes: where each begins, its time and
// its group. 8 bytes per record and the group's one (two or four beyond 255
// or 65,535 callers); the bytes themselves stay in the file.
class LogIndex
{
public:
    enum class Status
    {
        Ok,
        NotALog,
        TooManyRecords,
        ReadError
    };

    static constexpr size_t kMaxRecords = 0x7fffffff;
    // Files from this size on are indexed by two threads, each taking half.
    static constexpr uint64_t kParallelFrom = uint64_t(8) << 20;

    // Indexes bytes in memory. maxRecords exists so the limit can be tested
    // without a huge file.
    Status Build(const char *data, size_t size, size_t maxRecords = kMaxRecords);
    // Indexes the first size bytes of a file with pread() in chunks of
    // chunkSize; the bytes pass through a buffer small enough to stay in
    // cache, instead of through a mapping whose page walks cost more than
    // the parsing. A line longer than the buffer is followed to its end
    // without being held, holes of a sparse file are skipped unread, and a
    // file that turns out shorter is indexed as far as it goes.
    Status Read(int fd, uint64_t size, size_t chunkSize = 1 << 18, size_t maxRecords = kMaxRecords,
                uint64_t parallelFrom = kParallelFrom);
    // Indexes what was appended after the bytes indexed so far, up to size.
    // On failure the index is left as it was.
    Status Extend(int fd, uint64_t size, size_t chunkSize = 1 << 18,
                  size_t maxRecords = kMaxRecords);

    size_t Count() const { return m_part.records.size(); }
    uint64_t Begin(size_t i) const;
    uint64_t End(size_t i) const { return i + 1 < Count() ? Begin(i + 1) : m_size; }
    int32_t Time(size_t i) const { return m_part.records[i].time; }
    // 0 = no caller; otherwise an index into GroupName().
    uint32_t Group(size_t i) const { return m_part.groups.Get(i); }
    const GroupColumn &Groups() const { return m_part.groups; }

    size_t GroupCount() const { return m_part.names.size(); } // including the empty 0
    const std::string &GroupName(uint32_t id) const { return m_part.names[id]; }
    // Group ids of non-empty names, sorted by name bytes.
    const std::vector<uint32_t> &SortedGroups() const { return m_sorted; }
    // The id of a name, or -1 when no record carries it ("" gives 0).
    int64_t FindGroup(std::string_view name) const;

    uint64_t Size() const { return m_size; }
    // Every record stamped no earlier than the one before it.
    bool TimeOrdered() const { return m_part.ordered; }
    // The earliest and the latest stamp (INT32_MAX and INT32_MIN without
    // records).
    int32_t Earliest() const { return m_part.earliest; }
    int32_t Latest() const { return m_part.latest; }
    // Every byte is well-formed UTF-8 (as far as indexed).
    bool IsUtf8() const { return m_part.utf8.Good(); }
    size_t MemoryBytes() const;

    struct Entry
    {
        uint32_t low; // begin offset, low 32 bits
        int32_t time;
    };
    using Records = std::vector<Entry, LargeAllocator<Entry>>;

    // What indexing a stretch of a file gives.
    struct Part
    {
        Records records;
        GroupColumn groups; // records[i]'s group is groups.Get(i)
        // highStarts[h] is the first record whose offset is at least
        // (h + 1) << 32, so files beyond 4 GiB cost only a few entries more.
        std::vector<uint32_t> highStarts;
        std::vector<std::string> names{std::string()}; // [0] is "no caller"
        bool textBeforeFirstRecord = false;
        bool ordered = true;
        bool endsWithLineEnd = true;
        Utf8Check utf8;
        uint64_t end = 0; // how far the bytes went
        int32_t earliest = INT32_MAX;
        int32_t latest = INT32_MIN;
    };

private:
    class Scanner;
    class FileScan;

    static Status ReadPart(int fd, uint64_t from, uint64_t to, size_t chunkSize, size_t maxRecords,
                           Part *part, uint64_t reserveFor);
    Status Merge(Part &second, uint64_t split, size_t maxRecords);
    void Finish();

    uint64_t m_size = 0;
    Part m_part;
    std::vector<uint32_t> m_sorted;
};

} // namespace tamsin
