#include "logformat.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

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

uint64_t Load8(const char *p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

uint64_t Mix(uint64_t h)
{
    h ^= h >> 32;
    h *= 0xD6E8FEB86659FD93ull;
    return h ^ (h >> 32);
}

uint64_t Rotate(uint64_t v, int by)
{
    return (v << by) | (v >> (64 - by));
}

// Every byte counts, a name's ends read as overlapping words, and the
// multiplies independent of each other: a caller is hashed once per line.
uint64_t HashBytes(const char *p, size_t n)
{
    constexpr uint64_t k1 = 0x9E3779B97F4A7C15ull;
    constexpr uint64_t k2 = 0xC2B2AE3D27D4EB4Full;
    uint64_t a = 0;
    uint64_t b = 0;
    if (n > 16) {
        a = n * k1;
        const char *end = p + n - 16;
        for (; p < end; p += 16) {
            a = Rotate((a ^ Load8(p)) * k1, 31);
            b = Rotate((b ^ Load8(p + 8)) * k2, 27);
        }
        a ^= Load8(end) * k2;
        b ^= Load8(end + 8) * k1;
    } else if (n >= 8) {
        a = Load8(p) * k1;
        b = (Load8(p + n - 8) ^ n) * k2;
    } else if (n >= 4) {
        uint32_t first, second;
        std::memcpy(&first, p, 4);
        std::memcpy(&second, p + n - 4, 4);
        a = (uint64_t(first) << 32 | second) * k1;
        b = n * k2;
    } else if (n > 0) {
        const auto byte = [p](size_t i) {
            return static_cast<uint64_t>(static_cast<uint8_t>(p[i]));
        };
        a = (byte(0) | byte(n / 2) << 8 | byte(n - 1) << 16) * k1;
        b = n * k2;
    }
    return Mix(a ^ Rotate(b, 29));
}

bool SameBytes(const char *a, const char *b, size_t n)
{
    if (n >= 8 && n <= 16)
        return Load8(a) == Load8(b) && Load8(a + n - 8) == Load8(b + n - 8);
    return std::memcmp(a, b, n) == 0;
}

// Caller name to group id while indexing: open addressing over the ids, the
// names themselves kept once in the index's name table. A general-purpose
// map cost a third of the whole indexing time here.
class CallerTable
{
public:
    // Takes over the names already there (ids from 1 on).
    explicit CallerTable(std::vector<std::string> *names) : m_names(names), m_slots(64)
    {
        for (uint32_t id = 1; id < names->size(); ++id) {
            m_slots[Free((*names)[id])] = {id, Tag((*names)[id])};
            if (++m_used * 2 > m_slots.size())
                Grow();
        }
    }

    uint32_t Id(std::string_view caller)
    {
        const uint64_t h = HashBytes(caller.data(), caller.size());
        const uint32_t tag = static_cast<uint32_t>(h >> 32);
        for (size_t i = h & (m_slots.size() - 1);; i = (i + 1) & (m_slots.size() - 1)) {
            const Slot slot = m_slots[i];
            if (slot.id == 0)
                return Add(caller, h, i);
            if (slot.tag == tag) {
                const std::string &name = (*m_names)[slot.id];
                if (name.size() == caller.size() &&
                    SameBytes(name.data(), caller.data(), caller.size()))
                    return slot.id;
            }
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

    static uint32_t Tag(const std::string &name)
    {
        return static_cast<uint32_t>(HashBytes(name.data(), name.size()) >> 32);
    }

    // The free slot a name of an id not yet placed goes to.
    size_t Free(const std::string &name) const
    {
        size_t i = HashBytes(name.data(), name.size()) & (m_slots.size() - 1);
        while (m_slots[i].id != 0)
            i = (i + 1) & (m_slots.size() - 1);
        return i;
    }

    void Grow()
    {
        std::vector<Slot> old(m_slots.size() * 2);
        old.swap(m_slots);
        for (const Slot &slot : old) {
            if (slot.id != 0)
                m_slots[Free((*m_names)[slot.id])] = slot;
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

bool ReadExactly(int fd, char *data, size_t size, uint64_t offset)
{
    while (size > 0) {
        const ssize_t n = ::pread(fd, data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

// Large arrays are mapped on their own, so freeing one gives its memory back
// at once: from the heap (and a second thread's arena above all) it would
// stay resident.
void *AllocateLarge(size_t bytes)
{
    if (bytes < kHugePage)
        return ::operator new(bytes);
    const size_t rounded = (bytes + kHugePage - 1) & ~(kHugePage - 1);
    const size_t mapped = rounded + kHugePage;
    void *map = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED)
        throw std::bad_alloc();
    // Aligned to a huge page, the rest of the mapping let go.
    const uintptr_t start = reinterpret_cast<uintptr_t>(map);
    const uintptr_t aligned = (start + kHugePage - 1) & ~uintptr_t(kHugePage - 1);
    if (aligned > start)
        munmap(map, aligned - start);
    const size_t tail = mapped - (aligned - start) - rounded;
    if (tail > 0)
        munmap(reinterpret_cast<void *>(aligned + rounded), tail);
    void *p = reinterpret_cast<void *>(aligned);
    madvise(p, rounded, MADV_HUGEPAGE);
    return p;
}

void FreeLarge(void *p, size_t bytes)
{
    if (bytes < kHugePage)
        ::operator delete(p);
    else
        munmap(p, (bytes + kHugePage - 1) & ~(kHugePage - 1));
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
    StampCache::Entry *entry = nullptr;
    uint64_t head = 0;
    uint16_t tail = 0;
    const Seconds clock = hour * 3600 + minute * 60 + second;
    if (cache) {
        head = Load8(p);
        std::memcpy(&tail, p + 8, 2);
        // Not checked yet: unchecked digits only pick a place, and only an
        // entry of the very same bytes counts.
        const unsigned place = unsigned(Two(p + 8)) * 384 + unsigned(Two(p)) * 32 + unsigned(Two(p + 3));
        entry = &cache->entries[place % StampCache::kEntries];
        if (entry->head == head && entry->tail == tail) {
            *out = Seconds(entry->days) * 86400 + clock;
            return true;
        }
    }
    if (!(Digit(p[0]) & Digit(p[1]) & Digit(p[3]) & Digit(p[4]) & Digit(p[6]) & Digit(p[7]) &
          Digit(p[8]) & Digit(p[9])))
        return false;
    const int month = Two(p);
    const int dayOfMonth = Two(p + 3);
    const int year = Two(p + 6) * 100 + Two(p + 8);
    if (!ValidFields(year, month, dayOfMonth, 0, 0, 0))
        return false;
    const Seconds day = SecondsOf(year, month, dayOfMonth, 0, 0, 0);
    if (entry)
        *entry = {head, static_cast<int32_t>(day / 86400), tail};
    *out = day + clock;
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

namespace {

// The part both forms share: the stamp and what follows it. True when the
// line is a record; *bracket tells that a caller's "[" follows.
bool StampedLine(std::string_view prefix, size_t length, RecordHead *head, StampCache *cache,
                 bool *bracket)
{
    *bracket = false;
    if (length < kStampLength || prefix.size() < kStampLength ||
        !ParseStamp(prefix.data(), &head->time, cache))
        return false;
    head->hasCaller = false;
    head->callerBegin = head->callerEnd = kStampLength;
    if (length == kStampLength) {
        head->messageBegin = kStampLength;
        return true;
    }
    if (prefix.size() <= kStampLength || prefix[kStampLength] != ' ')
        return false;
    head->messageBegin = kStampLength + 1;
    *bracket = length > kCallerBegin - 1 && prefix.size() > kCallerBegin - 1 &&
               prefix[kCallerBegin - 1] == '[';
    return true;
}

void CallerUpTo(size_t close, size_t length, char last, RecordHead *head)
{
    if (close != std::string_view::npos) {
        head->hasCaller = true;
        head->callerBegin = kCallerBegin;
        head->callerEnd = close;
        head->messageBegin = close + 2;
    } else if (last == ']') {
        head->hasCaller = true;
        head->callerBegin = kCallerBegin;
        head->callerEnd = length - 1;
        head->messageBegin = length;
    }
}

} // namespace

bool ParseRecordHead(std::string_view line, RecordHead *head, StampCache *cache)
{
    bool bracket = false;
    if (!StampedLine(line, line.size(), head, cache, &bracket))
        return false;
    if (bracket)
        CallerUpTo(line.find("] ", kCallerBegin), line.size(), line.back(), head);
    return true;
}

bool ParseRecordHead(std::string_view prefix, size_t length, size_t close, char last,
                     RecordHead *head, StampCache *cache)
{
    bool bracket = false;
    if (!StampedLine(prefix, length, head, cache, &bracket))
        return false;
    if (bracket)
        CallerUpTo(close, length, last, head);
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

void ShowNuls(std::string *text)
{
    if (!std::memchr(text->data(), 0, text->size()))
        return;
    std::string shown;
    shown.reserve(text->size() + 2);
    bool inNuls = false;
    for (char c : *text) {
        if (c != '\0') {
            shown.push_back(c);
            inNuls = false;
        } else if (!inNuls) {
            shown.append(kNulSymbol);
            inNuls = true;
        }
    }
    text->swap(shown);
}

MessageBuilder::MessageBuilder(std::string *out) : m_out(out)
{
    m_out->clear();
}

void MessageBuilder::Feed(const char *data, size_t size)
{
    const char *p = data;
    const char *end = data + size;
    while (p < end) {
        // Plain text in the middle of a line goes over as it is.
        if (!m_pendingCr && !m_lineEnded && !m_lineStart) {
            const char *q = p;
            while (q < end && *q != '\r' && *q != '\n' && *q != '\0')
                ++q;
            if (q > p) {
                m_out->append(p, static_cast<size_t>(q - p));
                m_inNuls = false;
                p = q;
                continue;
            }
        }
        const char c = *p++;
        if (m_pendingCr) {
            // A CR ends a line only before its LF; alone it is text.
            m_pendingCr = false;
            if (c != '\n') {
                m_out->push_back('\r');
                m_inNuls = false;
            }
        }
        if (m_lineEnded) {
            m_out->append("\r\n", 2);
            m_lineEnded = false;
            m_lineStart = true;
            m_inNuls = false;
        }
        if (c == '\n') {
            m_lineEnded = true;
            m_lineStart = false;
            continue;
        }
        if (m_lineStart) {
            m_lineStart = false;
            if (c == ' ')
                continue; // the space the logger puts before a further line
        }
        if (c == '\r') {
            m_pendingCr = true;
        } else if (c == '\0') {
            if (!m_inNuls)
                m_out->append(kNulSymbol);
            m_inNuls = true;
        } else {
            m_out->push_back(c);
            m_inNuls = false;
        }
    }
}

void MessageBuilder::FeedNuls(uint64_t size)
{
    if (size > 0)
        Feed("", 1);
}

void MessageBuilder::Finish()
{
    m_pendingCr = false;
    m_lineEnded = false;
}

namespace {

#if defined(__x86_64__)
// Well-formed UTF-8 checked 32 bytes at a time with table lookups on the
// high and low nibbles of each byte and the one before it: every error is
// a pattern in the first two bytes of a sequence, or a continuation byte
// where none belongs (or the other way round). data must start at a
// character boundary; a character cut at its end counts as malformed.
__attribute__((target("avx2"))) bool WellFormedAvx2(const unsigned char *data, size_t size)
{
    constexpr char kTooShort = 1 << 0;
    constexpr char kTooLong = 1 << 1;
    constexpr char kOverlong3 = 1 << 2;
    constexpr char kTooLarge = 1 << 3;
    constexpr char kSurrogate = 1 << 4;
    constexpr char kOverlong2 = 1 << 5;
    constexpr char kTooLarge1000 = 1 << 6;
    constexpr char kOverlong4 = 1 << 6;
    constexpr char kTwoConts = char(1 << 7);
    constexpr char kCarry = kTooShort | kTooLong | kTwoConts;
    const __m256i byte1High = _mm256_setr_epi8(
        kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTwoConts,
        kTwoConts, kTwoConts, kTwoConts, kTooShort | kOverlong2, kTooShort,
        kTooShort | kOverlong3 | kSurrogate, kTooShort | kTooLarge | kTooLarge1000 | kOverlong4,
        kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTwoConts,
        kTwoConts, kTwoConts, kTwoConts, kTooShort | kOverlong2, kTooShort,
        kTooShort | kOverlong3 | kSurrogate, kTooShort | kTooLarge | kTooLarge1000 | kOverlong4);
    constexpr char kLarge = kCarry | kTooLarge | kTooLarge1000;
    const __m256i byte1Low = _mm256_setr_epi8(
        kCarry | kOverlong3 | kOverlong2 | kOverlong4, kCarry | kOverlong2, kCarry, kCarry,
        kCarry | kTooLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge,
        kLarge | kSurrogate, kLarge, kLarge, kCarry | kOverlong3 | kOverlong2 | kOverlong4,
        kCarry | kOverlong2, kCarry, kCarry, kCarry | kTooLarge, kLarge, kLarge, kLarge, kLarge,
        kLarge, kLarge, kLarge, kLarge, kLarge | kSurrogate, kLarge, kLarge);
    constexpr char kCont8 =
        kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 | kOverlong4;
    constexpr char kCont9 = kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge;
    constexpr char kContAB = kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge;
    const __m256i byte2High = _mm256_setr_epi8(
        kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
        kCont8, kCont9, kContAB, kContAB, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
        kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kCont8, kCont9,
        kContAB, kContAB, kTooShort, kTooShort, kTooShort, kTooShort);
    // A byte of the last three that opens a character the block does not close.
    const __m256i incompleteFrom = _mm256_setr_epi8(
        -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
        -1, -1, -1, -1, -1, -1, char(0xF0 - 1), char(0xE0 - 1), char(0xC0 - 1));
    const __m256i nibble = _mm256_set1_epi8(0x0F);

    __m256i error = _mm256_setzero_si256();
    __m256i previous = _mm256_setzero_si256();
    __m256i previousIncomplete = _mm256_setzero_si256();
    alignas(32) unsigned char last[32];
    for (size_t i = 0; i < size; i += 32) {
        const unsigned char *block = data + i;
        if (size - i < 32) {
            // The last bytes, made up to a block with NULs (plain ASCII).
            std::memset(last, 0, sizeof last);
            std::memcpy(last, data + i, size - i);
            block = last;
        }
        const __m256i input = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(block));
        if (_mm256_movemask_epi8(input) == 0) {
            error = _mm256_or_si256(error, previousIncomplete);
            previousIncomplete = _mm256_setzero_si256();
        } else {
            const __m256i carried = _mm256_permute2x128_si256(previous, input, 0x21);
            const __m256i prev1 = _mm256_alignr_epi8(input, carried, 15);
            const __m256i prev2 = _mm256_alignr_epi8(input, carried, 14);
            const __m256i prev3 = _mm256_alignr_epi8(input, carried, 13);
            const __m256i special = _mm256_and_si256(
                _mm256_and_si256(
                    _mm256_shuffle_epi8(byte1High,
                                        _mm256_and_si256(_mm256_srli_epi16(prev1, 4), nibble)),
                    _mm256_shuffle_epi8(byte1Low, _mm256_and_si256(prev1, nibble))),
                _mm256_shuffle_epi8(byte2High,
                                    _mm256_and_si256(_mm256_srli_epi16(input, 4), nibble)));
            const __m256i third = _mm256_subs_epu8(prev2, _mm256_set1_epi8(char(0xE0 - 0x80)));
            const __m256i fourth = _mm256_subs_epu8(prev3, _mm256_set1_epi8(char(0xF0 - 0x80)));
            const __m256i must23 =
                _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(char(0x80)));
            error = _mm256_or_si256(error, _mm256_xor_si256(must23, special));
            previousIncomplete = _mm256_subs_epu8(input, incompleteFrom);
        }
        previous = input;
    }
    error = _mm256_or_si256(error, previousIncomplete);
    return _mm256_testz_si256(error, error) != 0;
}

bool HaveAvx2()
{
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}
#endif

} // namespace

void Utf8Check::Feed(const char *data, size_t size)
{
    const auto *p = reinterpret_cast<const unsigned char *>(data);
    const auto *end = p + size;
    constexpr uint64_t kHigh = 0x8080808080808080ull;
    bool bulkDone = false;
    while (p < end && !m_bad) {
        if (m_need > 0) {
            const unsigned c = *p++;
            if (c < m_low || c > m_high) {
                m_bad = true;
                return;
            }
            m_low = 0x80;
            m_high = 0xBF;
            --m_need;
            continue;
        }
#if defined(__x86_64__)
        if (!bulkDone && end - p >= 64 && HaveAvx2()) {
            // The bulk up to a character boundary before the last bytes,
            // the rest byte by byte: a character the piece leaves open is
            // not malformed yet.
            size_t bulk = (static_cast<size_t>(end - p) - 4) & ~size_t(31);
            for (int back = 0; back < 3 && bulk < size_t(end - p) && (p[bulk] & 0xC0) == 0x80;
                 ++back)
                --bulk;
            if (!WellFormedAvx2(p, bulk)) {
                m_bad = true;
                return;
            }
            p += bulk;
            bulkDone = true;
            continue;
        }
#endif
        while (end - p >= 16) {
            uint64_t a, b;
            std::memcpy(&a, p, 8);
            std::memcpy(&b, p + 8, 8);
            if ((a | b) & kHigh)
                break;
            p += 16;
        }
        if (p == end)
            break;
        const unsigned c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        // The three-byte characters without special ranges (all of CJK),
        // whole in this piece.
        if (c >= 0xE1 && c <= 0xEF && c != 0xED && end - p >= 3) {
            if ((p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80) {
                m_bad = true;
                return;
            }
            p += 3;
            continue;
        }
        ++p;
        if (c >= 0xC2 && c <= 0xDF) {
            m_need = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            m_need = 2;
            if (c == 0xE0)
                m_low = 0xA0; // no overlong forms
            else if (c == 0xED)
                m_high = 0x9F; // no surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            m_need = 3;
            if (c == 0xF0)
                m_low = 0x90;
            else if (c == 0xF4)
                m_high = 0x8F; // nothing above U+10FFFF
        } else {
            m_bad = true;
        }
    }
}

void Utf8Check::Then(const Utf8Check &next)
{
    if (m_need > 0)
        m_bad = true;
    if (!m_bad)
        *this = next;
}

void GroupColumn::Widen(uint32_t id)
{
    size_t width = m_width;
    while (width < 4 && id >> (8 * width) != 0)
        width *= 2;
    const size_t count = Size();
    std::vector<uint8_t, LargeAllocator<uint8_t>> wider;
    wider.reserve(m_bytes.capacity() / m_width * width);
    wider.resize(count * width);
    for (size_t i = 0; i < count; ++i) {
        const uint32_t v = Get(i);
        std::memcpy(wider.data() + i * width, &v, width); // little-endian: the low bytes
    }
    m_bytes.swap(wider);
    m_width = width;
}

uint64_t LogIndex::Begin(size_t i) const
{
    uint64_t high = 0;
    const auto &highStarts = m_part.highStarts;
    if (!highStarts.empty()) {
        high = std::upper_bound(highStarts.begin(), highStarts.end(), static_cast<uint32_t>(i)) -
               highStarts.begin();
    }
    return (high << 32) | m_part.records[i].low;
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
    size_t bytes = m_part.records.capacity() * sizeof(Entry) + m_part.groups.CapacityBytes() +
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
        if (!ParseRecordHead(line, &head, &m_stamps))
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
        if (!ParseRecordHead(prefix, length, close, last, &head, &m_stamps))
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
        Records &records = m_part->records;
        if (records.size() >= m_maxRecords)
            return Status::TooManyRecords;
        auto &highStarts = m_part->highStarts;
        while (offset >= (static_cast<uint64_t>(highStarts.size()) + 1) << 32)
            highStarts.push_back(static_cast<uint32_t>(records.size()));
        const uint32_t id = caller.empty() ? 0 : m_callers.Id(caller);
        const int32_t time = ClampSeconds(head.time);
        // Without a branch: on a shuffled file it would go either way at
        // random.
        m_part->ordered &= records.empty() || time >= records.back().time;
        m_part->earliest = std::min(m_part->earliest, time);
        m_part->latest = std::max(m_part->latest, time);
        records.push_back({static_cast<uint32_t>(offset), time});
        m_part->groups.Push(id);
        return Status::Ok;
    }

    Part *m_part;
    CallerTable m_callers;
    StampCache m_stamps;
    size_t m_maxRecords;
    bool m_refuseLeadingText;
};

// Lines of a file read with pread() through one buffer. A line that does
// not fit (or holds a hole of a sparse file) is followed to its end without
// being held: only its first bytes and its caller are read again.
class LogIndex::FileScan
{
public:
    FileScan(int fd, uint64_t to, size_t chunkSize, Scanner *scanner, Part *part)
        : m_fd(fd), m_to(to), m_buffer(std::max<size_t>(chunkSize, 1)), m_scanner(scanner),
          m_part(part)
    {
    }

    // Indexes the lines of [from, to); from is where a line starts.
    Status Run(uint64_t from)
    {
        size_t held = 0; // bytes in the buffer not yet scanned
        uint64_t heldFrom = from;
        uint64_t readTo = from; // file offset read so far
        for (;;) {
            if (readTo >= m_to) {
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
            const size_t want =
                static_cast<size_t>(std::min<uint64_t>(m_buffer.size() - held, m_to - readTo));
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
    bool m_holes = true;
};

namespace {

// The offset after the first LF at or after middle, or size when there is
// none near: where the second thread begins.
uint64_t SplitPoint(int fd, uint64_t middle, uint64_t size)
{
    char window[64 * 1024];
    const ssize_t got = ::pread(fd, window, sizeof window, static_cast<off_t>(middle));
    if (got <= 0)
        return size;
    const void *nl = std::memchr(window, '\n', static_cast<size_t>(got));
    if (!nl)
        return size;
    const uint64_t split =
        middle + static_cast<uint64_t>(static_cast<const char *>(nl) - window) + 1;
    return std::min(split, size);
}

} // namespace

LogIndex::Status LogIndex::Build(const char *data, size_t size, size_t maxRecords)
{
    *this = LogIndex();
    m_part.records.reserve(ReserveFor(size, maxRecords));
    m_part.groups.Reserve(ReserveFor(size, maxRecords));
    m_part.utf8.Feed(data, size);
    m_part.endsWithLineEnd = size == 0 || data[size - 1] == '\n';
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
                                    size_t maxRecords, Part *part, uint64_t reserveFor)
{
    part->records.reserve(ReserveFor(reserveFor, maxRecords));
    part->groups.Reserve(ReserveFor(reserveFor, maxRecords));
    Scanner scanner(part, maxRecords, from == 0);
    FileScan scan(fd, to, chunkSize, &scanner, part);
    return scan.Run(from);
}

LogIndex::Status LogIndex::Read(int fd, uint64_t size, size_t chunkSize, size_t maxRecords,
                                uint64_t parallelFrom)
{
    *this = LogIndex();
    Status status = Status::Ok;
    const uint64_t split =
        size >= parallelFrom && size >= 2 ? SplitPoint(fd, size / 2, size) : size;
    if (split < size) {
        // Two halves at once: indexing is bound by the processor, not the
        // disk, and a second core halves the wait.
        Part second;
        Status secondStatus = Status::Ok;
        bool secondFailed = false;
        {
            Worker worker([&] {
                try {
                    secondStatus =
                        ReadPart(fd, split, size, chunkSize, maxRecords, &second, size - split);
                } catch (...) {
                    secondFailed = true;
                }
            });
            // Room for the whole file: the second half joins it without a
            // copy of the first (untouched room is never resident).
            status = ReadPart(fd, 0, split, chunkSize, maxRecords, &m_part, size);
            worker.Join();
        }
        if (secondFailed)
            throw std::bad_alloc();
        if (status == Status::Ok && secondStatus != Status::Ok)
            status = secondStatus;
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
    Finish();
    return Status::Ok;
}

LogIndex::Status LogIndex::Merge(Part &second, uint64_t split, size_t maxRecords)
{
    Part &first = m_part;
    // The file shrank under the first half: what the second read (if
    // anything) no longer follows it.
    if (first.end < split)
        return Status::Ok;
    if (first.records.empty() && second.textBeforeFirstRecord)
        return Status::NotALog;
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

    // Copied a slice at a time, each slice's pages given back once copied,
    // so the two halves are never held twice.
    first.records.reserve(before + second.records.size());
    first.groups.Reserve(before + second.records.size());
    Entry *from = second.records.data();
    const size_t count = second.records.size();
    const bool mapped = second.records.capacity() * sizeof(Entry) >= kHugePage;
    constexpr size_t kSlice = kHugePage / sizeof(Entry);
    for (size_t done = 0; done < count;) {
        const size_t end = std::min(count, done + kSlice);
        for (size_t i = done; i < end; ++i)
            first.records.push_back(from[i]);
        done = end;
        const size_t release = done * sizeof(Entry) & ~(size_t(4096) - 1);
        if (mapped && release > 0)
            madvise(from, release, MADV_DONTNEED);
    }
    Records().swap(second.records);
    for (size_t i = 0; i < count; ++i)
        first.groups.Push(ids[second.groups.Get(i)]);
    second.groups = GroupColumn();

    first.utf8.Then(second.utf8);
    first.endsWithLineEnd = second.endsWithLineEnd;
    first.end = std::max(first.end, second.end);
    return Status::Ok;
}

LogIndex::Status LogIndex::Extend(int fd, uint64_t size, size_t chunkSize, size_t maxRecords)
{
    if (size <= m_size)
        return Status::Ok;
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
