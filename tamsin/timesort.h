#pragma once

// Record numbers put in time order: a bucket sort over the stamps, each half
// of the records counted and dealt by its own thread.

#include "bigbuffer.h"
#include "logindex.h"

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace tamsin {

// Record numbers; a large selection gets huge pages like the index, because
// faulting in a thousand small ones costs as much as sorting into them.
using Selection = std::vector<uint32_t, LargeAllocator<uint32_t>>;

// Stable in effect: among equal stamps the lower record number comes first.
inline bool Earlier(const LogIndex &index, uint32_t a, uint32_t b)
{
    const int32_t ta = index.Time(a);
    const int32_t tb = index.Time(b);
    return ta < tb || (ta == tb && a < b);
}

// How records stamped from low to high are dealt into buckets of about
// sixteen by the high bits of their stamp. Where the low bits of the stamp
// fit beside the record number in 32 bits they travel together, so sorting
// a bucket touches nothing but the selection itself.
struct Buckets
{
    Buckets(size_t records, int32_t low, int32_t high);

    uint32_t Of(int32_t time) const { return static_cast<uint32_t>(time - low) >> shift; }
    // What the selection holds for record i while the buckets are sorted.
    uint32_t Row(int32_t time, size_t i) const
    {
        const uint32_t id = static_cast<uint32_t>(i);
        return packed ? ((static_cast<uint32_t>(time - low) & lowMask) << idBits) | id : id;
    }

    int32_t low;
    int shift = 0;
    size_t used = 1; // buckets from low to high
    int idBits = 1;
    bool packed = false;
    uint32_t idMask = 0;
    uint32_t lowMask = 0;
};

// Selections from this many records on are sorted by two threads.
inline constexpr size_t kTwoThreadsFrom = 256 * 1024;

// Runs first here and second on another thread, or both here in turn.
template <class A, class B> void InParallel(bool two, A &&first, B &&second)
{
    if (!two) {
        first();
        second();
        return;
    }
    bool failed = false;
    {
        Worker worker([&] {
            try {
                second();
            } catch (...) {
                failed = true;
            }
        });
        first();
        worker.Join();
    }
    if (failed)
        throw std::bad_alloc();
}

// Turns the counts of each half's records per bucket into where the first
// half's and the second half's records of each bucket go (in that order,
// so records keep file order within a bucket); returns the records counted.
size_t PlaceBuckets(std::vector<uint32_t> *first, std::vector<uint32_t> *second);

// Sorts each bucket of rows, which ends[b] ends, into time order; two
// threads share them when two is set.
void SortBuckets(const LogIndex &index, const Buckets &plan, const std::vector<uint32_t> &ends,
                 uint32_t *rows, bool two);

// The records i for which passes(i), stamped from low to high, in time
// order into *out. The selection takes 4 bytes per record, the bucket
// counts half a byte (a whole one at most) while they are needed.
template <class Passes>
void TimeSorted(const LogIndex &index, const Passes &passes, int32_t low, int32_t high,
                Selection *out)
{
    const size_t total = index.Count();
    const Buckets plan(total, low, high);
    const bool two = total >= kTwoThreadsFrom;
    const size_t half = two ? total / 2 : total;
    std::vector<uint32_t> first(plan.used, 0);
    std::vector<uint32_t> second(two ? plan.used : 0, 0);
    const auto count = [&](size_t from, size_t to, std::vector<uint32_t> &counts) {
        for (size_t i = from; i < to; ++i) {
            if (passes(i))
                ++counts[plan.Of(index.Time(i))];
        }
    };
    InParallel(
        two, [&] { count(0, half, first); }, [&] { count(half, total, second); });
    const size_t selected = PlaceBuckets(&first, two ? &second : nullptr);
    out->reserve(selected);
    out->resize(selected);
    uint32_t *rows = out->data();
    const auto deal = [&](size_t from, size_t to, std::vector<uint32_t> &places) {
        for (size_t i = from; i < to; ++i) {
            if (!passes(i))
                continue;
            const int32_t time = index.Time(i);
            rows[places[plan.Of(time)]++] = plan.Row(time, i);
        }
    };
    InParallel(
        two, [&] { deal(0, half, first); }, [&] { deal(half, total, second); });
    // The last half's places now end each bucket.
    if (two)
        std::vector<uint32_t>().swap(first);
    SortBuckets(index, plan, two ? second : first, rows, selected >= kTwoThreadsFrom);
}

} // namespace tamsin
