#include "utf8check.h"

#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tamsin {

namespace {

#if defined(__x86_64__)
__attribute__((target("avx2"))) inline __m256i Load32(const unsigned char *p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

// Well-formed UTF-8 checked 32 bytes at a time with table lookups on the
// high and low nibbles of each byte and the one before it: every error is
// a pattern in the first two bytes of a sequence, or a continuation byte
// where none belongs (or the other way round).
class Utf8Blocks
{
public:
    __attribute__((target("avx2"))) Utf8Blocks()
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
        byte1High = _mm256_setr_epi8(
            kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong,
            kTwoConts, kTwoConts, kTwoConts, kTwoConts, kTooShort | kOverlong2, kTooShort,
            kTooShort | kOverlong3 | kSurrogate, kTooShort | kTooLarge | kTooLarge1000 | kOverlong4,
            kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong,
            kTwoConts, kTwoConts, kTwoConts, kTwoConts, kTooShort | kOverlong2, kTooShort,
            kTooShort | kOverlong3 | kSurrogate,
            kTooShort | kTooLarge | kTooLarge1000 | kOverlong4);
        constexpr char kLarge = kCarry | kTooLarge | kTooLarge1000;
        byte1Low = _mm256_setr_epi8(
            kCarry | kOverlong3 | kOverlong2 | kOverlong4, kCarry | kOverlong2, kCarry, kCarry,
            kCarry | kTooLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge,
            kLarge | kSurrogate, kLarge, kLarge, kCarry | kOverlong3 | kOverlong2 | kOverlong4,
            kCarry | kOverlong2, kCarry, kCarry, kCarry | kTooLarge, kLarge, kLarge, kLarge, kLarge,
            kLarge, kLarge, kLarge, kLarge, kLarge | kSurrogate, kLarge, kLarge);
        constexpr char kCont8 =
            kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 | kOverlong4;
        constexpr char kCont9 = kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge;
        constexpr char kContAB = kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge;
        byte2High = _mm256_setr_epi8(
            kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
            kCont8, kCont9, kContAB, kContAB, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
            kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kCont8,
            kCont9, kContAB, kContAB, kTooShort, kTooShort, kTooShort, kTooShort);
        // A byte of the last three that opens a character the block does not close.
        incompleteFrom = _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                          -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                          -1, char(0xF0 - 1), char(0xE0 - 1), char(0xC0 - 1));
        nibble = _mm256_set1_epi8(0x0F);
        error = previous = previousIncomplete = _mm256_setzero_si256();
    }

    __attribute__((target("avx2"))) void Check(__m256i input)
    {
        const __m256i carried = _mm256_permute2x128_si256(previous, input, 0x21);
        const __m256i prev1 = _mm256_alignr_epi8(input, carried, 15);
        const __m256i prev2 = _mm256_alignr_epi8(input, carried, 14);
        const __m256i prev3 = _mm256_alignr_epi8(input, carried, 13);
        const __m256i special = _mm256_and_si256(
            _mm256_and_si256(_mm256_shuffle_epi8(
                                 byte1High, _mm256_and_si256(_mm256_srli_epi16(prev1, 4), nibble)),
                             _mm256_shuffle_epi8(byte1Low, _mm256_and_si256(prev1, nibble))),
            _mm256_shuffle_epi8(byte2High, _mm256_and_si256(_mm256_srli_epi16(input, 4), nibble)));
        const __m256i third = _mm256_subs_epu8(prev2, _mm256_set1_epi8(char(0xE0 - 0x80)));
        const __m256i fourth = _mm256_subs_epu8(prev3, _mm256_set1_epi8(char(0xF0 - 0x80)));
        const __m256i must23 =
            _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(char(0x80)));
        error = _mm256_or_si256(error, _mm256_xor_si256(must23, special));
        previousIncomplete = _mm256_subs_epu8(input, incompleteFrom);
        previous = input;
    }

    // Blocks of plain ASCII, the last of them given.
    __attribute__((target("avx2"))) void Ascii(__m256i last)
    {
        error = _mm256_or_si256(error, previousIncomplete);
        previousIncomplete = _mm256_setzero_si256();
        previous = last;
    }

    // No error, and no character open at the end.
    __attribute__((target("avx2"))) bool Good() const
    {
        const __m256i all = _mm256_or_si256(error, previousIncomplete);
        return _mm256_testz_si256(all, all) != 0;
    }

private:
    __m256i byte1High, byte1Low, byte2High, incompleteFrom, nibble;
    __m256i error, previous, previousIncomplete;
};

// data must start at a character boundary; a character cut at its end
// counts as malformed.
__attribute__((target("avx2"))) bool WellFormedAvx2(const unsigned char *data, size_t size)
{
    Utf8Blocks blocks;
    // Plain ASCII skips the checks a window of eight blocks at a time; text
    // with other characters takes every check, as a test per block would go
    // either way at random and each wrong guess costs more than the check.
    size_t i = 0;
    for (; size - i >= 256; i += 256) {
        __m256i any = _mm256_setzero_si256();
        for (size_t k = 0; k < 256; k += 32)
            any = _mm256_or_si256(any, Load32(data + i + k));
        if (_mm256_movemask_epi8(any) == 0) {
            blocks.Ascii(Load32(data + i + 224));
            continue;
        }
        for (size_t k = 0; k < 256; k += 32)
            blocks.Check(Load32(data + i + k));
    }
    // The last bytes, made up to whole blocks with NULs (plain ASCII).
    alignas(32) unsigned char last[32];
    for (; i < size; i += 32) {
        const unsigned char *block = data + i;
        if (size - i < 32) {
            std::memset(last, 0, sizeof last);
            std::memcpy(last, data + i, size - i);
            block = last;
        }
        blocks.Check(Load32(block));
    }
    return blocks.Good();
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
} // namespace tamsin
