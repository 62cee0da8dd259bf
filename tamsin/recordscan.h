#pragma once

// The common record line read in one pass: its stamp, caller and line end
// found together with 32-byte compares, the stamp's date matched against
// the dates already read instead of being parsed again, and the caller's
// name matched as a whole against the names just seen. Lines of any other
// shape are left to the record format's own parse.

#include "callertable.h"

#include <cstddef>
#include <cstdint>

namespace tamsin {

class RecordScan
{
public:
    // A record the scan read.
    struct Head
    {
        size_t begin; // where its line begins in the bytes scanned
        int32_t time; // clamped like every record time
        uint32_t group;
    };
    static constexpr size_t kBatch = 256;

    // New names go into callers; nothing is read without the processor's
    // AVX2, and every line is left to the format's parse then.
    explicit RecordScan(CallerTable *callers);

    // Reads the lines from pos on into heads, at most kBatch, while each
    // is a record of the common shape
    //
    //     MM/DD/YYYY hh:mm:ss [Caller] message   (or without " [Caller]")
    //
    // whose line end lies within [data, data + n) and not too close to n.
    // Returns where it stopped: the start of a line to parse the general
    // way, or of the next line after a full batch; *count tells how many
    // heads it filled.
    size_t Run(const char *data, size_t n, size_t pos, Head *heads, size_t *count);

private:
    // A date read before: "MM/DD/YY" and "YY", and its day.
    struct Day
    {
        uint64_t head = ~uint64_t(0);
        int32_t days = 0; // from 01/01/2000
        uint16_t tail = 0;
    };
    // A caller's name just seen, padded with NULs.
    struct alignas(64) Recent
    {
        unsigned char bytes[32] = {};
        uint32_t length = UINT32_MAX; // never a name's
        uint32_t id = 0;
    };
    static constexpr size_t kDays = 4096; // ten years before two dates share one
    static constexpr size_t kRecent = 1024;

    size_t RunAvx2(const char *data, size_t n, size_t pos, Head *heads, size_t *count);
    bool LearnDay(const char *stamp, Day *day);

    CallerTable *m_callers;
    bool m_avx2;
    Day m_days[kDays];
    Recent m_recent[kRecent];
};

} // namespace tamsin
