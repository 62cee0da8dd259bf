#include "logindex.h"

#include "callertable.h"
#include "recordformat.h"
#include "recordscan.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace tamsin {

namespace {

// Room for lines of 48 bytes on average: a longer line leaves the rest
// untouched, and untouched pages of a large array never become resident;
// shorter lines grow the array as usual. Capped so that a huge file does not
// fail on address space it may never need.
size_t ReserveFor(uint64_t size, size_t maxRecords)
{
    constexpr uint64_t kCap = uint64_t(1) << 24;
    return static_cast<size_t>(std::min<uint64_t>({size / 48 + 16, maxRecords, kCap}));
}

} // namespace

uint64_t LogIndex::Begin(size_t i) const
{
    uint64_t high = 0;
    const auto &highStarts = m_part.highStarts;
    if (!highStarts.empty()) {
        high = std::upper_bound(highStarts.begin(), highStarts.end(), static_cast<uint32_t>(i)) -
               highStarts.begin();
    }
    return (high << 32) | At(i).low;
}

int64_t LogIndex::FindGroup(std::string_view name) const
{
    if (name.empty())
        return 0;
    const auto &names = m_part.names;
    const auto it = std::lower_bound(
        m_sorted.begin(), m_sorted.end(), name,
        [&names](uint32_t id, std::string_view n) { return std::string_view(names[id]) < n; });
    if (it == m_sorted.end() || names[*it] != name)
        return -1;
    return *it;
}

size_t LogIndex::MemoryBytes() const
{
    size_t bytes = (m_part.records.capacity() + m_rest.capacity()) * sizeof(Entry) +
                   m_part.groups.CapacityBytes() +
                   m_part.highStarts.capacity() * sizeof(uint32_t) +
                   m_sorted.capacity() * sizeof(uint32_t) +
                   m_part.names.capacity() * sizeof(std::string);
    for (const std::string &name : m_part.names)
        bytes += name.capacity() > 15 ? name.capacity() + 1 : 0;
    return bytes;
}

// Indexes lines into a part; its arrays fill as it goes. Shared by the
// in-memory and the file builds, so both read alike.
class LogIndex::Scanner
{
public:
    // refuseLeadingText: the part begins the file, where only empty lines
    // may stand before the first record.
    Scanner(Part *part, size_t maxRecords, bool refuseLeadingText)
        : m_part(part), m_callers(&part->names), m_maxRecords(maxRecords),
          m_refuseLeadingText(refuseLeadingText)
    {
    }

    // Scans the lines of [data, data + n), which begins at file offset
    // base. Without final a last line lacking its LF is left for the next
    // chunk; *consumed tells how far the scan got.
    Status Scan(const char *data, size_t n, uint64_t base, bool final, size_t *consumed)
    {
        size_t pos = 0;
        while (pos < n) {
            // The common lines in one pass, the rest (and the file's first
            // line, which may begin with a byte order mark) one at a time.
            if (base + pos != 0) {
                size_t count = 0;
                pos = m_fast.Run(data, n, pos, m_heads, &count);
                const Status status = AddHeads(count, base);
                if (status != Status::Ok)
                    return status;
                if (count == RecordScan::kBatch || pos >= n)
                    continue;
            }
            const void *nl = std::memchr(data + pos, '\n', n - pos);
            if (!nl && !final)
                break;
            const size_t lineEnd = nl ? static_cast<const char *>(nl) - data : n;
            size_t from = pos;
            if (base + pos == 0 && lineEnd >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0)
                from = 3; // a byte order mark is not part of the first line
            size_t contentEnd = lineEnd;
            if (contentEnd > from && data[contentEnd - 1] == '\r')
                --contentEnd;
            const Status status =
                Line(std::string_view(data + from, contentEnd - from), base + from);
            if (status != Status::Ok)
                return status;
            pos = nl ? lineEnd + 1 : n;
        }
        *consumed = pos;
        return Status::Ok;
    }

    Status Line(std::string_view line, uint64_t offset)
    {
        RecordHead head;
        if (!ParseRecordHead(line, &head))
            return Other(!line.empty());
        return Add(head, line.substr(head.callerBegin, head.callerEnd - head.callerBegin), offset);
    }

    // A line known by its parts (see ParseRecordHead); caller(begin, end)
    // gives the bytes of its caller when it has one.
    template <class Caller>
    Status LongLine(std::string_view prefix, size_t length, size_t close, char last,
                    uint64_t offset, Caller &&caller)
    {
        RecordHead head;
        if (!ParseRecordHead(prefix, length, close, last, &head))
            return Other(length > 0);
        if (head.callerEnd <= head.callerBegin)
            return Add(head, {}, offset);
        if (head.callerEnd <= prefix.size())
            return Add(head, prefix.substr(head.callerBegin, head.callerEnd - head.callerBegin),
                       offset);
        std::string name;
        if (!caller(head.callerBegin, head.callerEnd, &name))
            return Status::ReadError;
        return Add(head, name, offset);
    }

private:
    // A line that is not a record continues the record before it.
    Status Other(bool hasText)
    {
        if (!hasText || !m_part->records.empty())
            return Status::Ok;
        if (m_refuseLeadingText)
            return Status::NotALog;
        m_part->textBeforeFirstRecord = true;
        return Status::Ok;
    }

    Status Add(const RecordHead &head, std::string_view caller, uint64_t offset)
    {
        return Add(ClampSeconds(head.time), caller.empty() ? 0 : m_callers.Id(caller), offset);
    }

    // The heads the fast scan read, of lines in bytes from file offset base.
    Status AddHeads(size_t count, uint64_t base)
    {
        if (count == 0)
            return Status::Ok;
        Records &records = m_part->records;
        const uint64_t last = base + m_heads[count - 1].begin;
        if (records.size() + count > m_maxRecords ||
            last >= (static_cast<uint64_t>(m_part->highStarts.size()) + 1) << 32) {
            for (size_t i = 0; i < count; ++i) {
                const Status status = Add(m_heads[i].time, m_heads[i].group, base + m_heads[i].begin);
                if (status != Status::Ok)
                    return status;
            }
            return Status::Ok;
        }
        const size_t at = records.size();
        records.resize(at + count);
        Entry *out = records.data() + at;
        int32_t previous = at > 0 ? out[-1].time : INT32_MIN;
        bool ordered = m_part->ordered;
        int32_t earliest = m_part->earliest;
        int32_t latest = m_part->latest;
        uint32_t widest = 0;
        for (size_t i = 0; i < count; ++i) {
            const RecordScan::Head &head = m_heads[i];
            ordered &= head.time >= previous;
            previous = head.time;
            earliest = std::min(earliest, head.time);
            latest = std::max(latest, head.time);
            widest |= head.group;
            out[i] = {static_cast<uint32_t>(base + head.begin), head.time};
        }
        m_part->ordered = ordered;
        m_part->earliest = earliest;
        m_part->latest = latest;
        m_part->groups.Append(count, widest, [this](size_t i) { return m_heads[i].group; });
        return Status::Ok;
    }

    Status Add(int32_t time, uint32_t group, uint64_t offset)
    {
        Records &records = m_part->records;
        if (records.size() >= m_maxRecords)
            return Status::TooManyRecords;
        auto &highStarts = m_part->highStarts;
        while (offset >= (static_cast<uint64_t>(highStarts.size()) + 1) << 32)
            highStarts.push_back(static_cast<uint32_t>(records.size()));
        // Without a branch: on a shuffled file it would go either way at
        // random.
        m_part->ordered &= records.empty() || time >= records.back().time;
        m_part->earliest = std::min(m_part->earliest, time);
        m_part->latest = std::max(m_part->latest, time);
        records.push_back({static_cast<uint32_t>(offset), time});
        m_part->groups.Push(group);
        return Status::Ok;
    }

    Part *m_part;
    CallerTable m_callers;
    RecordScan m_fast{&m_callers};
    RecordScan::Head m_heads[RecordScan::kBatch];
    size_t m_maxRecords;
    bool m_refuseLeadingText;
};

// Lines of a file read with pread() through one buffer. A line that does
// not fit (or holds a hole of a sparse file) is followed to its end without
// being held: only its first bytes and its caller are read again.
class LogIndex::FileScan
{
public:
    // With shares the stretch may be cut short by the other thread: the
    // bytes are claimed before they are read, and to is only the most the
    // stretch can be.
    FileScan(int fd, uint64_t to, size_t chunkSize, Scanner *scanner, Part *part,
             Shares *shares = nullptr, int thread = 0)
        : m_fd(fd), m_to(to), m_buffer(std::max<size_t>(chunkSize, 1)), m_scanner(scanner),
          m_part(part), m_shares(shares), m_thread(thread)
    {
    }

    // Indexes the lines of [from, to); from is where a line starts.
    Status Run(uint64_t from)
    {
        size_t held = 0; // bytes in the buffer not yet scanned
        uint64_t heldFrom = from;
        uint64_t readTo = from; // file offset read so far
        for (;;) {
            if (readTo >= To()) {
                size_t consumed = 0;
                const Status status =
                    m_scanner->Scan(m_buffer.data(), held, heldFrom, true, &consumed);
                if (status != Status::Ok)
                    return status;
                break;
            }
            if (held == m_buffer.size() || DataFrom(readTo) > readTo) {
                uint64_t next = 0;
                const Status status = LongLine(heldFrom, held, readTo, &next);
                if (status != Status::Ok)
                    return status;
                held = 0;
                heldFrom = readTo = next;
                continue;
            }
            const size_t want = Claim(readTo, m_buffer.size() - held);
            if (want == 0)
                continue; // the rest of the stretch went to the other thread
            const ssize_t got = ReadAt(m_buffer.data() + held, want, readTo);
            if (got < 0)
                return Status::ReadError;
            if (got == 0) {
                m_to = readTo; // the file is shorter than it was
                continue;
            }
            const size_t n = static_cast<size_t>(got);
            m_part->utf8.Feed(m_buffer.data() + held, n);
            m_part->endsWithLineEnd = m_buffer[held + n - 1] == '\n';
            readTo += n;
            size_t consumed = 0;
            const Status status =
                m_scanner->Scan(m_buffer.data(), held + n, heldFrom, readTo >= m_to, &consumed);
            if (status != Status::Ok)
                return status;
            held = held + n - consumed;
            std::memmove(m_buffer.data(), m_buffer.data() + consumed, held);
            heldFrom += consumed;
        }
        m_part->end = readTo;
        return Status::Ok;
    }

    // Follows the line through `from` to its end: *next is the offset after
    // its LF, or the end of the file.
    Status SkipLine(uint64_t from, uint64_t *next)
    {
        Follow follow;
        follow.pos = from;
        follow.searchFrom = UINT64_MAX;
        const Status status = Walk(&follow);
        *next = follow.newline ? follow.pos + 1 : follow.pos;
        return status;
    }

private:
    // Where the stretch ends as far as is known now.
    uint64_t To();
    // How many bytes from `from` may be read, at most want.
    size_t Claim(uint64_t from, size_t want);

    // How far a line has been followed.
    struct Follow
    {
        uint64_t pos = 0;        // the next byte to look at
        uint64_t searchFrom = 0; // where a caller's "] " may begin
        uint64_t close = UINT64_MAX;
        bool afterBracket = false;
        char last = 0;
        char beforeLast = 0;
        bool newline = false; // stopped at an LF (at pos)
    };

    ssize_t ReadAt(char *data, size_t n, uint64_t offset)
    {
        for (;;) {
            const ssize_t got = ::pread(m_fd, data, n, static_cast<off_t>(offset));
            if (got >= 0 || errno != EINTR)
                return got;
        }
    }

    bool ReadExactly(char *data, size_t n, uint64_t offset)
    {
        return tamsin::ReadExactly(m_fd, data, n, offset);
    }

    // Where data starts at or after offset: a hole (never written) reads
    // as NUL bytes, so a sparse file's holes need not be read at all.
    uint64_t DataFrom(uint64_t offset)
    {
        if (!m_holes)
            return offset;
        const off_t data = ::lseek(m_fd, static_cast<off_t>(offset), SEEK_DATA);
        if (data >= 0)
            return std::min<uint64_t>(static_cast<uint64_t>(data), m_to);
        if (errno == ENXIO)
            return m_to; // a hole up to the end
        m_holes = false; // the file system cannot tell
        return offset;
    }

    void Look(Follow *f, const char *p, size_t n, uint64_t base)
    {
        if (n == 0)
            return;
        if (f->close == UINT64_MAX && base + n > f->searchFrom) {
            size_t i = base >= f->searchFrom ? 0 : static_cast<size_t>(f->searchFrom - base);
            if (f->afterBracket && i == 0 && p[0] == ' ') {
                f->close = base - 1;
            } else {
                for (; i + 1 < n; ++i) {
                    const void *hit = std::memchr(p + i, ']', n - i - 1);
                    if (!hit)
                        break;
                    i = static_cast<size_t>(static_cast<const char *>(hit) - p);
                    if (p[i + 1] == ' ') {
                        f->close = base + i;
                        break;
                    }
                }
            }
            f->afterBracket = p[n - 1] == ']' && base + n - 1 >= f->searchFrom;
        }
        f->beforeLast = n >= 2 ? p[n - 2] : f->last;
        f->last = p[n - 1];
    }

    // Reads on from f->pos to the next LF or the end of the file, keeping
    // track of what the line's head needs.
    Status Walk(Follow *f)
    {
        while (f->pos < m_to) {
            const uint64_t data = DataFrom(f->pos);
            if (data > f->pos) {
                // A hole is NUL bytes: no line end, no "] " in it.
                m_part->utf8.Feed("", 1);
                m_part->endsWithLineEnd = false;
                f->afterBracket = false;
                f->beforeLast = data - f->pos >= 2 ? '\0' : f->last;
                f->last = '\0';
                f->pos = data;
                continue;
            }
            const size_t want =
                static_cast<size_t>(std::min<uint64_t>(m_buffer.size(), m_to - f->pos));
            const ssize_t got = ReadAt(m_buffer.data(), want, f->pos);
            if (got < 0)
                return Status::ReadError;
            if (got == 0) {
                m_to = f->pos;
                break;
            }
            const char *p = m_buffer.data();
            const void *nl = std::memchr(p, '\n', static_cast<size_t>(got));
            const size_t k = nl ? static_cast<size_t>(static_cast<const char *>(nl) - p)
                                : static_cast<size_t>(got);
            Look(f, p, k, f->pos);
            m_part->utf8.Feed(p, nl ? k + 1 : k);
            m_part->endsWithLineEnd = nl != nullptr;
            f->pos += k;
            if (nl) {
                f->newline = true;
                return Status::Ok;
            }
        }
        return Status::Ok;
    }

    // The line that starts at lineStart; its first held bytes, up to
    // readFrom, are at the start of the buffer.
    Status LongLine(uint64_t lineStart, size_t held, uint64_t readFrom, uint64_t *next)
    {
        uint64_t contentStart = lineStart;
        if (lineStart == 0 && m_to >= 3) {
            char mark[3];
            if (held >= 3)
                std::memcpy(mark, m_buffer.data(), 3);
            else if (!ReadExactly(mark, 3, 0))
                return Status::ReadError;
            if (std::memcmp(mark, "\xEF\xBB\xBF", 3) == 0)
                contentStart = 3; // a byte order mark is not part of the first line
        }
        Follow f;
        f.searchFrom = contentStart + kCallerBegin;
        if (held > contentStart - lineStart)
            Look(&f, m_buffer.data() + (contentStart - lineStart),
                 held - static_cast<size_t>(contentStart - lineStart), contentStart);
        f.pos = readFrom;
        const Status status = Walk(&f);
        if (status != Status::Ok)
            return status;
        *next = f.newline ? f.pos + 1 : f.pos;

        size_t length = static_cast<size_t>(f.pos - contentStart);
        char last = f.last;
        if (length > 0 && last == '\r') {
            --length;
            last = f.beforeLast;
        }
        // The stamp and what follows it, read again (a hole reads as NULs).
        constexpr size_t kPrefix = 64;
        std::string prefix(std::min(length, kPrefix), '\0');
        if (!ReadExactly(prefix.data(), prefix.size(), contentStart))
            return Status::ReadError;
        const size_t close = f.close == UINT64_MAX || f.close >= contentStart + length
                                 ? std::string_view::npos
                                 : static_cast<size_t>(f.close - contentStart);
        return m_scanner->LongLine(prefix, length, close, last, contentStart,
                                   [&](size_t begin, size_t end, std::string *name) {
                                       name->assign(end - begin, '\0');
                                       return ReadExactly(name->data(), name->size(),
                                                          contentStart + begin);
                                   });
    }

    int m_fd;
    uint64_t m_to;
    std::vector<char> m_buffer;
    Scanner *m_scanner;
    Part *m_part;
    Shares *m_shares;
    int m_thread;
    bool m_holes = true;
};

// What the two threads of a read have still to claim of their stretches.
// Each claims its bytes a chunk at a time before reading them; a thread done
// with its own takes the later half of what the other has not claimed,
// beginning at a line start. A line the other is following past its claim
// (a long one, or one through a hole) ends at or before that start, as the
// start is after the first LF from a point beyond the claim.
class LogIndex::Shares
{
public:
    Shares(uint64_t split, uint64_t size) : m_open{{0, split}, {split, size}} {}

    uint64_t Limit(int thread)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_open[thread].limit;
    }

    size_t Claim(int thread, uint64_t from, size_t want)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Open &open = m_open[thread];
        const uint64_t end = std::min<uint64_t>(from + want, open.limit);
        open.claimed = std::max(open.claimed, end);
        return end > from ? static_cast<size_t>(end - from) : 0;
    }

    // A new stretch [*from, *to) for thread, taken from the other's, when
    // at least minimum bytes of that are unclaimed.
    bool Take(int thread, int fd, uint64_t minimum, uint64_t *from, uint64_t *to)
    {
        Open &other = m_open[1 - thread];
        for (;;) {
            uint64_t claimed = 0, limit = 0;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                claimed = other.claimed;
                limit = other.limit;
            }
            if (claimed >= limit || limit - claimed < std::max<uint64_t>(minimum, 2))
                return false;
            const uint64_t split = SplitPoint(fd, claimed + (limit - claimed) / 2, limit);
            if (split >= limit)
                return false;
            std::lock_guard<std::mutex> lock(m_mutex);
            if (other.claimed > split)
                continue; // the other thread got there first: look again
            other.limit = split;
            m_open[thread] = {split, limit};
            *from = split;
            *to = limit;
            return true;
        }
    }

    // The offset after the first LF at or after middle, or limit when there
    // is none near.
    static uint64_t SplitPoint(int fd, uint64_t middle, uint64_t limit)
    {
        char window[64 * 1024];
        const size_t want = static_cast<size_t>(std::min<uint64_t>(sizeof window, limit - middle));
        const ssize_t got = ::pread(fd, window, want, static_cast<off_t>(middle));
        if (got <= 0)
            return limit;
        const void *nl = std::memchr(window, '\n', static_cast<size_t>(got));
        if (!nl)
            return limit;
        const uint64_t split =
            middle + static_cast<uint64_t>(static_cast<const char *>(nl) - window) + 1;
        return std::min(split, limit);
    }

private:
    struct Open
    {
        uint64_t claimed; // read or being read up to here
        uint64_t limit;   // the stretch ends here
    };
    std::mutex m_mutex;
    Open m_open[2];
};

uint64_t LogIndex::FileScan::To()
{
    return m_shares ? std::min(m_to, m_shares->Limit(m_thread)) : m_to;
}

size_t LogIndex::FileScan::Claim(uint64_t from, size_t want)
{
    want = static_cast<size_t>(std::min<uint64_t>(want, m_to - std::min(m_to, from)));
    return m_shares ? m_shares->Claim(m_thread, from, want) : want;
}

LogIndex::Status LogIndex::Build(const char *data, size_t size, size_t maxRecords)
{
    *this = LogIndex();
    m_part.records.reserve(ReserveFor(size, maxRecords));
    m_part.groups.Reserve(ReserveFor(size, maxRecords));
    m_part.utf8.Feed(data, size);
    m_part.endsWithLineEnd = size == 0 || data[size - 1] == '\n';
    m_part.beginsFile = true;
    Scanner scanner(&m_part, maxRecords, true);
    size_t consumed = 0;
    const Status status = scanner.Scan(data, size, 0, true, &consumed);
    if (status != Status::Ok) {
        *this = LogIndex();
        return status;
    }
    m_size = size;
    Finish();
    return Status::Ok;
}

LogIndex::Status LogIndex::ReadPart(int fd, uint64_t from, uint64_t to, size_t chunkSize,
                                    size_t maxRecords, Part *part, uint64_t reserveFor,
                                    Shares *shares, int thread)
{
    part->records.reserve(ReserveFor(reserveFor, maxRecords));
    part->groups.Reserve(ReserveFor(reserveFor, maxRecords));
    part->beginsFile = from == 0;
    Scanner scanner(part, maxRecords, from == 0);
    FileScan scan(fd, to, chunkSize, &scanner, part, shares, thread);
    return scan.Run(from);
}

LogIndex::Status LogIndex::Read(int fd, uint64_t size, size_t chunkSize, size_t maxRecords,
                                uint64_t parallelFrom, unsigned firstShare)
{
    *this = LogIndex();
    Status status = Status::Ok;
    const uint64_t split = size >= parallelFrom && size >= 2
                               ? Shares::SplitPoint(fd, size / 100 * std::min(firstShare, 99u) +
                                                        size % 100 * std::min(firstShare, 99u) / 100,
                                                    size)
                               : size;
    size_t stretches = 1;
    if (split < size) {
        // Two halves at once: indexing is bound by the processor, not the
        // disk, and a second core halves the wait. What a thread takes over
        // from the other is read into parts of its own, put back in file
        // order after the other's stretch.
        struct Taken
        {
            uint64_t from;
            std::unique_ptr<Part> part;
        };
        Shares shares(split, size);
        const uint64_t minimum = uint64_t(4) * std::max<size_t>(chunkSize, 1);
        const auto run = [&](int thread, Part *own, uint64_t from, uint64_t to,
                             uint64_t reserveFor, std::vector<Taken> *taken) {
            Status result =
                ReadPart(fd, from, to, chunkSize, maxRecords, own, reserveFor, &shares, thread);
            uint64_t begin = 0, end = 0;
            while (result == Status::Ok && shares.Take(thread, fd, minimum, &begin, &end)) {
                taken->push_back({begin, std::make_unique<Part>()});
                result = ReadPart(fd, begin, end, chunkSize, maxRecords, taken->back().part.get(),
                                  end - begin, &shares, thread);
            }
            return result;
        };
        Part second;
        std::vector<Taken> taken[2];
        Status secondStatus = Status::Ok;
        bool secondFailed = false;
        {
            Worker worker([&] {
                try {
                    secondStatus = run(1, &second, split, size, size - split, &taken[1]);
                } catch (...) {
                    secondFailed = true;
                }
            });
            // Room for the whole file: the second half joins it without a
            // copy of the first (untouched room is never resident).
            status = run(0, &m_part, 0, split, size, &taken[0]);
            worker.Join();
        }
        if (secondFailed)
            throw std::bad_alloc();
        if (status == Status::Ok && secondStatus != Status::Ok)
            status = secondStatus;
        // Each taken part came from one half's stretch, after what that
        // half's thread read itself: the half's own array has room for it.
        std::vector<Taken> all;
        for (auto &list : taken)
            for (Taken &t : list)
                all.push_back(std::move(t));
        std::sort(all.begin(), all.end(),
                  [](const Taken &a, const Taken &b) { return a.from < b.from; });
        stretches = 2 + all.size();
        for (Taken &t : all) {
            if (status == Status::Ok)
                status = Join(t.from < split ? m_part : second, *t.part, t.from, maxRecords);
            t.part.reset();
        }
        if (status == Status::Ok)
            status = Merge(second, split, maxRecords);
    } else {
        status = ReadPart(fd, 0, size, chunkSize, maxRecords, &m_part, size);
    }
    if (status != Status::Ok) {
        *this = LogIndex();
        return status;
    }
    m_size = m_part.end;
    m_stretches = stretches;
    Finish();
    return Status::Ok;
}

LogIndex::Status LogIndex::Merge(Part &second, uint64_t split, size_t maxRecords)
{
    const size_t before = m_part.records.size();
    Records rest;
    const Status status = Join(m_part, second, split, maxRecords, &rest);
    if (status == Status::Ok && !rest.empty()) {
        m_rest.swap(rest);
        m_restFrom = before;
    }
    return status;
}

LogIndex::Status LogIndex::Join(Part &first, Part &second, uint64_t from, size_t maxRecords,
                                Records *rest)
{
    // The file shrank under the first: what the second read (if anything)
    // no longer follows it.
    if (first.end < from)
        return Status::Ok;
    if (first.records.empty() && second.textBeforeFirstRecord) {
        if (first.beginsFile)
            return Status::NotALog;
        first.textBeforeFirstRecord = true;
    }
    if (first.records.size() + second.records.size() > maxRecords)
        return Status::TooManyRecords;

    const size_t before = first.records.size();
    if (!first.records.empty() && !second.records.empty() &&
        second.records.front().time < first.records.back().time)
        first.ordered = false;
    first.ordered = first.ordered && second.ordered;
    first.earliest = std::min(first.earliest, second.earliest);
    first.latest = std::max(first.latest, second.latest);

    std::vector<uint32_t> ids(second.names.size());
    CallerTable callers(&first.names);
    for (size_t id = 1; id < second.names.size(); ++id)
        ids[id] = callers.Id(second.names[id]);

    std::vector<uint32_t> highStarts;
    const size_t highs = std::max(first.highStarts.size(), second.highStarts.size());
    for (size_t h = 0; h < highs; ++h) {
        if (h < first.highStarts.size())
            highStarts.push_back(first.highStarts[h]);
        else
            highStarts.push_back(static_cast<uint32_t>(before + second.highStarts[h]));
    }
    first.highStarts.swap(highStarts);

    const size_t count = second.records.size();
    first.groups.Reserve(before + count);
    if (rest) {
        rest->swap(second.records);
    } else {
        first.records.insert(first.records.end(), second.records.begin(), second.records.end());
        Records().swap(second.records);
    }
    uint32_t widest = 0;
    for (uint32_t id : ids)
        widest |= id;
    if (second.groups.Width() == 1 && ids.size() <= 256) {
        // A few hundred callers at most: the width is known and the new ids
        // fit a table the loop keeps in cache.
        uint32_t table[256] = {};
        std::copy(ids.begin(), ids.end(), table);
        first.groups.Append(count, widest,
                            [&](size_t i) { return table[second.groups.GetAs<1>(i)]; });
    } else {
        first.groups.Append(count, widest, [&](size_t i) { return ids[second.groups.Get(i)]; });
    }
    second.groups = GroupColumn();

    first.utf8.Then(second.utf8);
    first.endsWithLineEnd = second.endsWithLineEnd;
    first.end = std::max(first.end, second.end);
    return Status::Ok;
}

void LogIndex::JoinRest()
{
    if (m_rest.empty())
        return;
    Records &records = m_part.records;
    const size_t before = records.size();
    records.reserve(before + m_rest.size());
    records.resize(before + m_rest.size());
    std::memcpy(records.data() + before, m_rest.data(), m_rest.size() * sizeof(Entry));
    Records().swap(m_rest);
    m_restFrom = SIZE_MAX;
}

LogIndex::Status LogIndex::Extend(int fd, uint64_t size, size_t chunkSize, size_t maxRecords)
{
    if (size <= m_size)
        return Status::Ok;
    // Appended records follow all the others in one array.
    JoinRest();
    Part &part = m_part;
    const size_t records = part.records.size();
    const size_t names = part.names.size();
    const size_t highs = part.highStarts.size();
    const bool textBeforeFirstRecord = part.textBeforeFirstRecord;
    const bool ordered = part.ordered;
    const bool endsWithLineEnd = part.endsWithLineEnd;
    const Utf8Check utf8 = part.utf8;
    const uint64_t end = part.end;
    const int32_t earliest = part.earliest;
    const int32_t latest = part.latest;
    const auto restore = [&] {
        part.records.resize(records);
        part.groups.Resize(records);
        part.names.resize(names);
        part.highStarts.resize(highs);
        part.textBeforeFirstRecord = textBeforeFirstRecord;
        part.ordered = ordered;
        part.endsWithLineEnd = endsWithLineEnd;
        part.utf8 = utf8;
        part.end = end;
        part.earliest = earliest;
        part.latest = latest;
    };
    try {
        Scanner scanner(&part, maxRecords, part.records.empty());
        FileScan scan(fd, size, chunkSize, &scanner, &part);
        uint64_t from = m_size;
        // What follows a last line that had no LF yet still belongs to it.
        Status status = Status::Ok;
        if (!part.endsWithLineEnd)
            status = scan.SkipLine(from, &from);
        part.end = from;
        if (status == Status::Ok && from < size)
            status = scan.Run(from);
        if (status != Status::Ok) {
            restore();
            return status;
        }
    } catch (...) {
        restore();
        throw;
    }
    m_size = part.end;
    Finish();
    return Status::Ok;
}

void LogIndex::Finish()
{
    const auto &names = m_part.names;
    m_sorted.clear();
    m_sorted.reserve(names.size() - 1);
    for (uint32_t id = 1; id < names.size(); ++id)
        m_sorted.push_back(id);
    std::sort(m_sorted.begin(), m_sorted.end(),
              [&names](uint32_t a, uint32_t b) { return names[a] < names[b]; });
}

} // namespace tamsin
