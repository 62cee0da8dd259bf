#pragma once

// The record index built over a file's bytes: where each record begins, its
// time and its group. It reads a file with pread() and no locks.

#include "bigbuffer.h"
#include "groupcolumn.h"
#include "utf8check.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tamsin {

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
    // Files from this size on are indexed by two threads, each beginning
    // with half.
    static constexpr uint64_t kParallelFrom = uint64_t(8) << 20;

    // Indexes bytes in memory. maxRecords exists so the limit can be tested
    // without a huge file.
    Status Build(const char *data, size_t size, size_t maxRecords = kMaxRecords);
    // Indexes the first size bytes of a file with pread() in chunks of
    // chunkSize; the bytes pass through a buffer small enough to stay in
    // cache, instead of through a mapping whose page walks cost more than
    // the parsing. A line longer than the buffer is followed to its end
    // without being held, holes of a sparse file are skipped unread, and a
    // file that turns out shorter is indexed as far as it goes. A thread
    // that has done its half takes the later half of what the other has
    // left (when that is at least four chunks), so that a thread slowed by
    // other work on its core holds the read up by little more than a chunk.
    // firstShare moves where the first thread's stretch ends (percent of
    // the file), so that tests can make one thread take over from the other.
    Status Read(int fd, uint64_t size, size_t chunkSize = 1 << 18, size_t maxRecords = kMaxRecords,
                uint64_t parallelFrom = kParallelFrom, unsigned firstShare = 50);
    // How many stretches the last Read indexed on their own (1 for one
    // thread, 2 for two halves, more where a thread took over some of the
    // other's).
    size_t Stretches() const { return m_stretches; }
    // Indexes what was appended after the bytes indexed so far, up to size.
    // On failure the index is left as it was.
    Status Extend(int fd, uint64_t size, size_t chunkSize = 1 << 18,
                  size_t maxRecords = kMaxRecords);

    size_t Count() const { return m_part.records.size() + m_rest.size(); }
    uint64_t Begin(size_t i) const;
    uint64_t End(size_t i) const { return i + 1 < Count() ? Begin(i + 1) : m_size; }
    int32_t Time(size_t i) const { return At(i).time; }
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
        bool beginsFile = false; // where only empty lines may stand before a record
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
    class Shares;

    static Status ReadPart(int fd, uint64_t from, uint64_t to, size_t chunkSize, size_t maxRecords,
                           Part *part, uint64_t reserveFor, Shares *shares = nullptr,
                           int thread = 0);
    // Puts the part read from `from` on after first. With rest given its
    // records stay in their own array, handed over to *rest; otherwise they
    // are copied after first's. A file that shrank under first drops it.
    static Status Join(Part &first, Part &second, uint64_t from, size_t maxRecords,
                       Records *rest = nullptr);
    Status Merge(Part &second, uint64_t split, size_t maxRecords);
    void Finish();
    // Moves the records of m_rest to the end of m_part's.
    void JoinRest();

    const Entry &At(size_t i) const
    {
        return i < m_restFrom ? m_part.records[i] : m_rest[i - m_restFrom];
    }

    uint64_t m_size = 0;
    Part m_part;
    // The records a second thread read stay in the array it filled, as the
    // records from m_restFrom on: copied after the first half's, they
    // would cost as many fresh pages again, and the copy would keep both
    // cores waiting.
    Records m_rest;
    size_t m_restFrom = SIZE_MAX;
    std::vector<uint32_t> m_sorted;
    size_t m_stretches = 0;
};

} // namespace tamsin
