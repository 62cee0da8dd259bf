#include "timesort.h"

#include <algorithm>
#include <array>
#include <utility>
#include <climits>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tamsin {

namespace {

// A bucket of up to this many is sorted by ranks.
constexpr size_t kRankSortMax = 40;

// Sorts n distinct values and keeps the bits of mask: each value's place is
// the count of values below it. Quadratic, but without a branch to
// mispredict, and the counting runs in vector lanes: for a handful of values
// several times faster than an insertion sort, whose every step is a coin
// toss on shuffled input.
void RankSort(uint32_t *values, size_t n, uint32_t mask)
{
    uint32_t sorted[kRankSortMax];
    for (size_t i = 0; i < n; ++i) {
        const uint32_t v = values[i];
        uint32_t rank = 0;
        for (size_t j = 0; j < n; ++j)
            rank += values[j] < v;
        sorted[rank] = v & mask;
    }
    std::memcpy(values, sorted, n * sizeof(uint32_t));
}

#if defined(__x86_64__)
// The ranks of C blocks of eight keys, each key against all n at once.
template <size_t C>
__attribute__((target("avx2"))) void Ranks(const int32_t *keys, size_t n, uint32_t *ranks)
{
    __m256i block[C];
    __m256i rank[C];
    for (size_t c = 0; c < C; ++c) {
        block[c] = _mm256_load_si256(reinterpret_cast<const __m256i *>(keys + 8 * c));
        rank[c] = _mm256_setzero_si256();
    }
    for (size_t j = 0; j < n; ++j) {
        const __m256i key = _mm256_set1_epi32(keys[j]);
        for (size_t c = 0; c < C; ++c)
            rank[c] = _mm256_sub_epi32(rank[c], _mm256_cmpgt_epi32(block[c], key));
    }
    for (size_t c = 0; c < C; ++c)
        _mm256_store_si256(reinterpret_cast<__m256i *>(ranks + 8 * c), rank[c]);
}

// The same with the ranks of eight values counted at once.
__attribute__((target("avx2"))) void RankSortAvx2(uint32_t *values, size_t n, uint32_t mask)
{
    static_assert(kRankSortMax % 8 == 0);
    // Signed compares: the top bit flipped keeps the order. Lanes past n
    // get ranks nobody reads.
    alignas(32) int32_t keys[kRankSortMax];
    alignas(32) uint32_t ranks[kRankSortMax];
    const __m256i none = _mm256_set1_epi32(INT32_MAX);
    for (size_t c = 0; c < kRankSortMax; c += 8)
        _mm256_store_si256(reinterpret_cast<__m256i *>(keys + c), none);
    for (size_t i = 0; i < n; ++i)
        keys[i] = static_cast<int32_t>(values[i] ^ 0x80000000u);
    using RanksOf = void (*)(const int32_t *, size_t, uint32_t *);
    static constexpr auto kRanks = []<size_t... C>(std::index_sequence<C...>) {
        return std::array<RanksOf, sizeof...(C)>{Ranks<C + 1>...};
    }(std::make_index_sequence<kRankSortMax / 8>());
    if (n == 0)
        return;
    kRanks[(n - 1) / 8](keys, n, ranks);
    uint32_t sorted[kRankSortMax];
    for (size_t i = 0; i < n; ++i)
        sorted[ranks[i]] = values[i] & mask;
    std::memcpy(values, sorted, n * sizeof(uint32_t));
}
#endif

using RankSorter = void (*)(uint32_t *, size_t, uint32_t);

RankSorter BestRankSort()
{
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx2"))
        return RankSortAvx2;
#endif
    return RankSort;
}

// Sorts the buckets [fromBucket, toBucket).
void SortRange(const LogIndex &index, const Buckets &plan, const std::vector<uint32_t> &ends,
               uint32_t *rows, size_t fromBucket, size_t toBucket)
{
    static const RankSorter rankSort = BestRankSort();
    std::vector<uint64_t> keys;
    size_t begin = fromBucket > 0 ? ends[fromBucket - 1] : 0;
    for (size_t b = fromBucket; b < toBucket; ++b) {
        const size_t end = ends[b];
        const size_t n = end - begin;
        if (plan.packed) {
            if (n <= kRankSortMax) {
                rankSort(rows + begin, n, plan.idMask);
            } else {
                std::sort(rows + begin, rows + end);
                for (size_t k = begin; k < end; ++k)
                    rows[k] &= plan.idMask;
            }
        } else if (n > 1 && plan.shift > 0) {
            // With shift 0 a bucket is one second, already in file order.
            if (n <= 4096) {
                keys.resize(n);
                for (size_t k = 0; k < n; ++k) {
                    const uint32_t id = rows[begin + k];
                    keys[k] = uint64_t(static_cast<uint32_t>(index.Time(id) - plan.low)) << 32 | id;
                }
                std::sort(keys.begin(), keys.end());
                for (size_t k = 0; k < n; ++k)
                    rows[begin + k] = static_cast<uint32_t>(keys[k]);
            } else {
                std::sort(rows + begin, rows + end,
                          [&index](uint32_t a, uint32_t b) { return Earlier(index, a, b); });
            }
        }
        begin = end;
    }
}

} // namespace

Buckets::Buckets(size_t records, int32_t low, int32_t high) : low(low)
{
    const uint64_t range = static_cast<uint64_t>(int64_t(high) - low);
    size_t buckets = 1;
    while (buckets * 16 < records)
        buckets <<= 1;
    while ((range >> shift) >= buckets)
        ++shift;
    while (idBits < 32 && (uint64_t(1) << idBits) < records)
        ++idBits;
    // Up to twice the buckets, if that lets the stamp's low bits travel
    // with the record number: a bucket sorted apart from them looks up
    // every stamp at random in the index. Millions of records over ten
    // years need it.
    while (shift > 1 && shift + idBits > 32 && (range >> (shift - 1)) < 2 * buckets)
        --shift;
    used = static_cast<size_t>(range >> shift) + 1;
    packed = shift > 0 && shift + idBits <= 32;
    idMask = idBits >= 32 ? UINT32_MAX : (uint32_t(1) << idBits) - 1;
    lowMask = (uint32_t(1) << std::min(shift, 31)) - 1;
}

size_t PlaceBuckets(std::vector<uint32_t> *first, std::vector<uint32_t> *second)
{
    size_t placed = 0;
    for (size_t b = 0; b < first->size(); ++b) {
        const uint32_t n = (*first)[b];
        (*first)[b] = static_cast<uint32_t>(placed);
        placed += n;
        if (second) {
            const uint32_t m = (*second)[b];
            (*second)[b] = static_cast<uint32_t>(placed);
            placed += m;
        }
    }
    return placed;
}

void SortBuckets(const LogIndex &index, const Buckets &plan, const std::vector<uint32_t> &ends,
                 uint32_t *rows, bool two)
{
    // The buckets are independent: a second thread takes the later half.
    const size_t count = ends.empty() ? 0 : ends.back();
    const size_t middle =
        two ? static_cast<size_t>(std::lower_bound(ends.begin(), ends.end(), count / 2) -
                                  ends.begin())
            : ends.size();
    InParallel(
        two, [&] { SortRange(index, plan, ends, rows, 0, middle); },
        [&] { SortRange(index, plan, ends, rows, middle, ends.size()); });
}

} // namespace tamsin
