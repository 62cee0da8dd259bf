#include "recordscan.h"

#include "recordformat.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string_view>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tamsin {

namespace {

// How far past a line's start the scan reads at once: the caller's first
// byte, then four blocks of 32 bytes. Lines that end later are followed
// block by block.
constexpr size_t kReach = kCallerBegin + 4 * 32;

template <class T> T Load(const char *p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// "hh:mm:ss" as eight bytes: each digit 0 to 9 and each colon 0 once this
// pattern is taken away.
constexpr uint64_t kClockPattern = 0x30303A30303A3030ull;
constexpr uint64_t kClockLimits = 0x0909000909000909ull;
constexpr uint64_t kHighBits = 0x8080808080808080ull;

// Seconds into the day of "hh:mm:ss" at p, or -1.
int64_t ClockOf(const char *p)
{
    const uint64_t x = Load<uint64_t>(p) ^ kClockPattern;
    // Every byte below 0x80, and none above its limit: then no borrow
    // crosses a byte, and the high bit of limit + 0x80 - byte is set in
    // each (what a byte from 0x80 up does to its neighbours is moot).
    const bool shape = ((x & kHighBits) | (~((kClockLimits | kHighBits) - x) & kHighBits)) == 0;
    // Each pair of digits d1 d2 becomes 10 d1 + d2 in the byte of d1.
    const uint64_t pairs = x * 10 + (x >> 8);
    const int64_t hour = int64_t(pairs & 0xFF);
    const int64_t minute = int64_t((pairs >> 24) & 0xFF);
    const int64_t second = int64_t((pairs >> 48) & 0xFF);
    const bool range = (hour <= 23) & (minute <= 59) & (second <= 59);
    return shape && range ? hour * 3600 + minute * 60 + second : -1;
}

// Where the date "MM/DD/YYYY" at p is kept: its digits, unchecked, only
// pick the place, so that the dates of a year lie side by side and a file
// written out of order over years hits a few kilobytes.
size_t DayPlace(const char *p, size_t places)
{
    const uint64_t d = Load<uint64_t>(p) - 0x3030303030303030ull;
    const uint64_t pairs = d * 10 + (d >> 8); // month in byte 0, day in byte 3
    const uint64_t year = uint64_t(static_cast<unsigned char>(p[9]) - '0') & 0xF;
    return static_cast<size_t>(year * 384 + (pairs & 0xFF) * 32 + ((pairs >> 24) & 0xFF)) % places;
}

} // namespace

RecordScan::RecordScan(CallerTable *callers) : m_callers(callers), m_avx2(false)
{
#if defined(__x86_64__)
    m_avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
             __builtin_cpu_supports("bmi2");
#endif
}

size_t RecordScan::Run(const char *data, size_t n, size_t pos, Head *heads, size_t *count)
{
    *count = 0;
#if defined(__x86_64__)
    if (m_avx2)
        return RunAvx2(data, n, pos, heads, count);
#else
    (void)data;
    (void)n;
    (void)heads;
#endif
    return pos;
}

bool RecordScan::LearnDay(const char *stamp, Day *day)
{
    Seconds t = 0;
    if (!ParseStamp(stamp, &t))
        return false;
    const Seconds clock = (t % 86400 + 86400) % 86400;
    day->head = Load<uint64_t>(stamp);
    day->tail = Load<uint16_t>(stamp + 8);
    day->days = static_cast<int32_t>((t - clock) / 86400);
    return true;
}

#if defined(__x86_64__)
namespace {

__attribute__((target("avx2"))) inline __m256i Block(const char *p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

// Which bytes of a are those of b, one bit each.
__attribute__((target("avx2"))) inline uint32_t Bits(__m256i a, __m256i b)
{
    return static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, b)));
}

} // namespace

__attribute__((target("avx2,bmi,bmi2"))) size_t
RecordScan::RunAvx2(const char *data, size_t n, size_t pos, Head *heads, size_t *count)
{
    const __m256i lf = _mm256_set1_epi8('\n');
    const __m256i close = _mm256_set1_epi8(']');
    const __m256i space = _mm256_set1_epi8(' ');
    // 32 bytes of 0xFF, then 32 of 0: from 32 - n on, the mask of n bytes.
    alignas(32) static constexpr unsigned char kKeep[64] = {
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

    size_t k = 0;
    while (k < kBatch && n - pos >= kReach) {
        const char *s = data + pos;

        // The stamp: a date read before, then the clock.
        Day &day = m_days[DayPlace(s, kDays)];
        if (day.head != Load<uint64_t>(s) || day.tail != Load<uint16_t>(s + 8)) {
            if (!LearnDay(s, &day))
                break;
        }
        const int64_t clock = ClockOf(s + 11);
        // The line end is looked for from the caller's first byte on: a
        // stamp and a space alone on a line are left to the format's parse.
        if ((clock < 0) | (s[10] != ' ') | (s[kStampLength] != ' ') | (s[kCallerBegin - 1] == '\n'))
            break;
        const int64_t seconds = int64_t(day.days) * 86400 + clock;
        const int32_t time =
            static_cast<int32_t>(std::clamp<int64_t>(seconds, INT32_MIN, INT32_MAX));

        // From the caller's first byte on: its closing "] " and the line end.
        const char *from = s + kCallerBegin;
        const __m256i b0 = Block(from);
        const __m256i b1 = Block(from + 32);
        const uint64_t near = Bits(b0, lf) | uint64_t(Bits(b1, lf)) << 32;
        const uint64_t far = Bits(Block(from + 64), lf) | uint64_t(Bits(Block(from + 96), lf))
                                                              << 32;
        uint32_t group = 0;
        if (s[kCallerBegin - 1] == '[') {
            uint64_t closes = (Bits(b0, close) & Bits(Block(from + 1), space)) |
                              uint64_t(Bits(b1, close) & Bits(Block(from + 33), space)) << 32;
            closes &= _blsmsk_u64(near); // before the line end (all bits when none is near)
            const size_t length = _tzcnt_u64(closes);
            if (length == 0 || length == 64)
                break; // "[]", or a caller this scan cannot see whole
            if (length < 32) {
                // Padded with NULs and folded to a place; the length tells
                // a name from the same name with NULs after it.
                const __m256i key = _mm256_and_si256(
                    b0, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(kKeep + 32 - length)));
                // The name's last eight bytes (a number often ends it), those
                // before a shorter name's start shifted out.
                const uint64_t tail =
                    Load<uint64_t>(from + length - 8) >> (length >= 8 ? 0 : 8 * (8 - length));
                const uint64_t h = (tail ^ length) * 0x9E3779B97F4A7C15ull;
                static_assert(kRecent == 1024);
                Recent &recent = m_recent[h >> 54];
                const __m256i seen =
                    _mm256_load_si256(reinterpret_cast<const __m256i *>(recent.bytes));
                if (recent.length != length || Bits(key, seen) != UINT32_MAX) {
                    recent.id = m_callers->Id(std::string_view(from, length));
                    recent.length = static_cast<uint32_t>(length);
                    _mm256_store_si256(reinterpret_cast<__m256i *>(recent.bytes), key);
                }
                group = recent.id;
            } else {
                group = m_callers->Id(std::string_view(from, length));
            }
        }

        // The line end: in the blocks read, or further on.
        size_t end = near ? _tzcnt_u64(near) : 64 + _tzcnt_u64(far);
        if (end == 128) {
            for (;;) {
                if (n - pos < kCallerBegin + end + 32) {
                    *count = k;
                    return pos; // the end of this line is for the next read
                }
                const uint32_t m = Bits(Block(from + end), lf);
                if (m) {
                    end += _tzcnt_u32(m);
                    break;
                }
                end += 32;
            }
        }
        heads[k++] = {pos, time, group};
        pos += kCallerBegin + end + 1;
    }
    *count = k;
    return pos;
}
#endif

} // namespace tamsin
