#include "logformat.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <sys/mman.h>
#include <unistd.h>

namespace tamsin {

namespace {

constexpr int64_t kDaysFrom1970To2000 = 10957;

// Days since 01/01/1970 of a proleptic Gregorian date (H. Hinnant's method).
int64_t DaysFromCivil(int64_t y, int m, int d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Branch-free form for the hot path: only '0'..'9' land on 0..9.
unsigned Digit(char c)
{
    return static_cast<unsigned char>(c - '0') <= 9 ? 1u : 0u;
}

int Two(const char *p)
{
    return (p[0] - '0') * 10 + (p[1] - '0');
}

// A run of 1..maxDigits digits as the whole of text.
bool Number(std::string_view text, size_t minDigits, size_t maxDigits, int *out)
{
    if (text.size() < minDigits || text.size() > maxDigits)
        return false;
    int value = 0;
    for (char c : text) {
        if (!IsDigit(c))
            return false;
        value = value * 10 + (c - '0');
    }
    *out = value;
    return true;
}

bool Split3(std::string_view text, char sep, std::string_view parts[3])
{
    const size_t a = text.find(sep);
    if (a == std::string_view::npos)
        return false;
    const size_t b = text.find(sep, a + 1);
    if (b == std::string_view::npos || text.find(sep, b + 1) != std::string_view::npos)
        return false;
    parts[0] = text.substr(0, a);
    parts[1] = text.substr(a + 1, b - a - 1);
    parts[2] = text.substr(b + 1);
    return true;
}

bool ValidFields(int year, int month, int day, int hour, int minute, int second)
{
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
           day <= DaysInMonth(year, month) && hour <= 23 && minute <= 59 && second <= 59;
}

uint64_t HashBytes(const char *p, size_t n)
{
    uint64_t h = 0x9E3779B97F4A7C15ull ^ n;
    while (n >= 8) {
        uint64_t k;
        std::memcpy(&k, p, 8);
        h = (h ^ k) * 0xFF51AFD7ED558CCDull;
        h ^= h >> 32;
        p += 8;
        n -= 8;
    }
    if (n > 0) {
        uint64_t k = 0;
        std::memcpy(&k, p, n);
        h = (h ^ k) * 0xC4CEB9FE1A85EC53ull;
        h ^= h >> 29;
    }
    return h;
}

// Caller name to group id while indexing: open addressing over the ids, the
// names themselves kept once in the index's name table. A general-purpose
// map cost a third of the whole indexing time here.
class CallerTable
{
public:
    explicit CallerTable(std::vector<std::string> *names) : m_names(names), m_slots(64) {}

    uint32_t Id(std::string_view caller)
    {
        const uint64_t h = HashBytes(caller.data(), caller.size());
        const uint32_t tag = static_cast<uint32_t>(h >> 32);
        for (size_t i = h & (m_slots.size() - 1);; i = (i + 1) & (m_slots.size() - 1)) {
            const Slot slot = m_slots[i];
            if (slot.id == 0)
                return Add(caller, h, i);
            if (slot.tag == tag && (*m_names)[slot.id] == caller)
                return slot.id;
        }
    }

private:
    struct Slot
    {
        uint32_t id = 0; // 0 = free; names[0] is the empty group
        uint32_t tag = 0;
    };

    uint32_t Add(std::string_view caller, uint64_t h, size_t at)
    {
        const uint32_t id = static_cast<uint32_t>(m_names->size());
        m_names->emplace_back(caller);
        m_slots[at] = {id, static_cast<uint32_t>(h >> 32)};
        if (++m_used * 2 > m_slots.size())
            Grow();
        return id;
    }

    void Grow()
    {
        std::vector<Slot> old(m_slots.size() * 2);
        old.swap(m_slots);
        for (const Slot &slot : old) {
            if (slot.id == 0)
                continue;
            const std::string &name = (*m_names)[slot.id];
            const uint64_t h = HashBytes(name.data(), name.size());
            size_t i = h & (m_slots.size() - 1);
            while (m_slots[i].id != 0)
                i = (i + 1) & (m_slots.size() - 1);
            m_slots[i] = slot;
        }
    }

    std::vector<std::string> *m_names;
    std::vector<Slot> m_slots;
    size_t m_used = 0;
};

constexpr size_t kHugePage = size_t(1) << 21;

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

void *AllocateLarge(size_t bytes)
{
    if (bytes < kHugePage)
        return ::operator new(bytes);
    const size_t rounded = (bytes + kHugePage - 1) & ~(kHugePage - 1);
    void *p = std::aligned_alloc(kHugePage, rounded);
    if (!p)
        throw std::bad_alloc();
    madvise(p, rounded, MADV_HUGEPAGE);
    return p;
}

void FreeLarge(void *p, size_t bytes)
{
    if (bytes < kHugePage)
        ::operator delete(p);
    else
        std::free(p);
}

int DaysInMonth(int year, int month)
{
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2) {
        const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        return leap ? 29 : 28;
    }
    return kDays[month - 1];
}

Seconds SecondsOf(int year, int month, int day, int hour, int minute, int second)
{
    const int64_t days = DaysFromCivil(year, month, day) - kDaysFrom1970To2000;
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

int32_t ClampSeconds(Seconds s)
{
    if (s < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    if (s > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(s);
}

bool ParseStamp(const char *p, Seconds *out, StampCache *cache)
{
    if (p[2] != '/' || p[5] != '/' || p[10] != ' ' || p[13] != ':' || p[16] != ':')
        return false;
    if (!(Digit(p[11]) & Digit(p[12]) & Digit(p[14]) & Digit(p[15]) & Digit(p[17]) & Digit(p[18])))
        return false;
    const int hour = Two(p + 11);
    const int minute = Two(p + 14);
    const int second = Two(p + 17);
    if (hour > 23 || minute > 59 || second > 59)
        return false;
    Seconds day;
    if (cache && cache->valid && std::memcmp(cache->date, p, 10) == 0) {
        day = cache->day;
    } else {
        if (!(Digit(p[0]) & Digit(p[1]) & Digit(p[3]) & Digit(p[4]) & Digit(p[6]) & Digit(p[7]) &
              Digit(p[8]) & Digit(p[9])))
            return false;
        const int month = Two(p);
        const int dayOfMonth = Two(p + 3);
        const int year = Two(p + 6) * 100 + Two(p + 8);
        if (!ValidFields(year, month, dayOfMonth, 0, 0, 0))
            return false;
        day = SecondsOf(year, month, dayOfMonth, 0, 0, 0);
        if (cache) {
            std::memcpy(cache->date, p, 10);
            cache->day = day;
            cache->valid = true;
        }
    }
    *out = day + hour * 3600 + minute * 60 + second;
    return true;
}

bool ParseDateTime(std::string_view date, std::string_view time, Seconds *out)
{
    std::string_view d[3];
    std::string_view t[3];
    if (!Split3(date, '/', d) || !Split3(time, ':', t))
        return false;
    int month, day, year, hour, minute, second;
    if (!Number(d[0], 1, 2, &month) || !Number(d[1], 1, 2, &day) || !Number(t[0], 1, 2, &hour) ||
        !Number(t[1], 2, 2, &minute) || !Number(t[2], 2, 2, &second))
        return false;
    if (d[2].size() == 2) {
        if (!Number(d[2], 2, 2, &year))
            return false;
        year += year < 69 ? 2000 : 1900; // the C library's %y pivot
    } else if (!Number(d[2], 4, 4, &year)) {
        return false;
    }
    if (!ValidFields(year, month, day, hour, minute, second))
        return false;
    *out = SecondsOf(year, month, day, hour, minute, second);
    return true;
}

bool ParseRecordHead(std::string_view line, RecordHead *head, StampCache *cache)
{
    if (line.size() < kStampLength || !ParseStamp(line.data(), &head->time, cache))
        return false;
    head->hasCaller = false;
    head->callerBegin = head->callerEnd = kStampLength;
    if (line.size() == kStampLength) {
        head->messageBegin = kStampLength;
        return true;
    }
    if (line[kStampLength] != ' ')
        return false;
    head->messageBegin = kStampLength + 1;
    if (line.size() > kStampLength + 1 && line[kStampLength + 1] == '[') {
        const size_t begin = kStampLength + 2;
        const size_t close = line.find("] ", begin);
        if (close != std::string_view::npos) {
            head->hasCaller = true;
            head->callerBegin = begin;
            head->callerEnd = close;
            head->messageBegin = close + 2;
        } else if (line.back() == ']') {
            head->hasCaller = true;
            head->callerBegin = begin;
            head->callerEnd = line.size() - 1;
            head->messageBegin = line.size();
        }
    }
    return true;
}

void AssembleMessage(const char *record, size_t size, size_t messageBegin, std::string *out)
{
    out->clear();
    size_t pos = 0;
    bool first = true;
    while (pos < size) {
        const void *nl = std::memchr(record + pos, '\n', size - pos);
        const size_t lineEnd = nl ? static_cast<const char *>(nl) - record : size;
        size_t contentEnd = lineEnd;
        if (contentEnd > pos && record[contentEnd - 1] == '\r')
            --contentEnd;
        size_t from = pos;
        if (first) {
            from = std::min(pos + messageBegin, contentEnd);
        } else {
            out->append("\r\n", 2);
            if (from < contentEnd && record[from] == ' ')
                ++from;
        }
        out->append(record + from, contentEnd - from);
        first = false;
        pos = nl ? lineEnd + 1 : size;
    }
}

uint64_t LogIndex::Begin(size_t i) const
{
    uint64_t high = 0;
    if (!m_highStarts.empty()) {
        high =
            std::upper_bound(m_highStarts.begin(), m_highStarts.end(), static_cast<uint32_t>(i)) -
            m_highStarts.begin();
    }
    return (high << 32) | m_records[i].low;
}

int64_t LogIndex::FindGroup(std::string_view name) const
{
    if (name.empty())
        return 0;
    const auto it = std::lower_bound(
        m_sorted.begin(), m_sorted.end(), name,
        [this](uint32_t id, std::string_view n) { return std::string_view(m_names[id]) < n; });
    if (it == m_sorted.end() || m_names[*it] != name)
        return -1;
    return *it;
}

size_t LogIndex::MemoryBytes() const
{
    size_t bytes =
        m_records.capacity() * sizeof(Entry) + m_highStarts.capacity() * sizeof(uint32_t) +
        m_sorted.capacity() * sizeof(uint32_t) + m_names.capacity() * sizeof(std::string);
    for (const std::string &name : m_names)
        bytes += name.capacity() > 15 ? name.capacity() + 1 : 0;
    return bytes;
}

// Indexes whole lines of a stream of chunks; the index's arrays fill as it
// goes. Shared by the in-memory and the file build, so both read alike.
class LogIndex::Scanner
{
public:
    Scanner(LogIndex *index, size_t maxRecords)
        : m_index(index), m_callers(&index->m_names), m_maxRecords(maxRecords)
    {
    }

    // Scans the lines of [data, data + n), which begins at file offset
    // base. Without final a last line lacking its LF is left for the next
    // chunk; *consumed tells how far the scan got.
    Status Scan(const char *data, size_t n, uint64_t base, bool final, size_t *consumed)
    {
        size_t pos = 0;
        while (pos < n) {
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

private:
    Status Line(std::string_view line, uint64_t offset)
    {
        auto &records = m_index->m_records;
        RecordHead head;
        if (!ParseRecordHead(line, &head, &m_stamps)) {
            // Before the first record only empty lines may stand.
            return records.empty() && !line.empty() ? Status::NotALog : Status::Ok;
        }
        if (records.size() >= m_maxRecords)
            return Status::TooManyRecords;
        auto &highStarts = m_index->m_highStarts;
        while (offset >= (static_cast<uint64_t>(highStarts.size()) + 1) << 32)
            highStarts.push_back(static_cast<uint32_t>(records.size()));
        uint32_t id = 0;
        if (head.callerEnd > head.callerBegin)
            id = m_callers.Id(line.substr(head.callerBegin, head.callerEnd - head.callerBegin));
        records.push_back({static_cast<uint32_t>(offset), ClampSeconds(head.time), id});
        return Status::Ok;
    }

    LogIndex *m_index;
    CallerTable m_callers;
    StampCache m_stamps;
    size_t m_maxRecords;
};

LogIndex::Status LogIndex::Build(const char *data, size_t size, size_t maxRecords)
{
    *this = LogIndex();
    m_names.emplace_back();
    if (size > 0 && std::memchr(data, 0, size)) {
        *this = LogIndex();
        return Status::HasNul;
    }
    m_records.reserve(ReserveFor(size, maxRecords));
    Scanner scanner(this, maxRecords);
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

LogIndex::Status LogIndex::Read(int fd, uint64_t size, size_t chunkSize, size_t maxRecords)
{
    *this = LogIndex();
    m_names.emplace_back();
    m_records.reserve(ReserveFor(size, maxRecords));
    Scanner scanner(this, maxRecords);

    std::vector<char> buffer(std::max<size_t>(chunkSize, 1));
    size_t held = 0;       // bytes in buffer not yet scanned
    uint64_t heldFrom = 0; // their file offset
    uint64_t readTo = 0;   // file offset read so far
    Status status = Status::Ok;
    bool end = false;
    while (!end) {
        if (held == buffer.size())
            buffer.resize(buffer.size() * 2); // one line longer than the buffer
        const size_t want =
            static_cast<size_t>(std::min<uint64_t>(buffer.size() - held, size - readTo));
        ssize_t got = 0;
        if (want > 0) {
            got = ::pread(fd, buffer.data() + held, want, static_cast<off_t>(readTo));
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                status = Status::ReadError;
                break;
            }
        }
        if (got > 0 && std::memchr(buffer.data() + held, 0, static_cast<size_t>(got))) {
            status = Status::HasNul;
            break;
        }
        readTo += static_cast<uint64_t>(got);
        end = got == 0 || readTo == size;
        size_t consumed = 0;
        status =
            scanner.Scan(buffer.data(), held + static_cast<size_t>(got), heldFrom, end, &consumed);
        if (status != Status::Ok)
            break;
        held = held + static_cast<size_t>(got) - consumed;
        std::memmove(buffer.data(), buffer.data() + consumed, held);
        heldFrom += consumed;
    }
    if (status != Status::Ok) {
        *this = LogIndex();
        return status;
    }
    m_size = readTo;
    Finish();
    return Status::Ok;
}

void LogIndex::Finish()
{
    m_sorted.reserve(m_names.size() - 1);
    for (uint32_t id = 1; id < m_names.size(); ++id)
        m_sorted.push_back(id);
    std::sort(m_sorted.begin(), m_sorted.end(),
              [this](uint32_t a, uint32_t b) { return m_names[a] < m_names[b]; });
}

} // namespace tamsin
