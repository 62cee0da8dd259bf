// The history-file parser over arbitrary bytes: it must index or refuse
// without faults, every record it indexes must read back, and a time stamp it
// accepts must name the very moment its digits spell.

#include "logindex.h"
#include "messagebuilder.h"
#include "recordformat.h"
#include "utf8check.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// The stamp text of a moment, for checking the parser against its input.
std::string StampOf(tamsin::Seconds s)
{
    int64_t days = s / 86400;
    int64_t rest = s % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    int year = 2000;
    for (;;) {
        const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        const int length = leap ? 366 : 365;
        if (days < 0) {
            --year;
            const bool prevLeap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
            days += prevLeap ? 366 : 365;
        } else if (days >= length) {
            days -= length;
            ++year;
        } else {
            break;
        }
    }
    int month = 1;
    while (days >= tamsin::DaysInMonth(year, month))
        days -= tamsin::DaysInMonth(year, month++);
    char text[32];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d %02d:%02d:%02d", month, int(days) + 1, year,
                  int(rest / 3600), int(rest / 60 % 60), int(rest % 60));
    return text;
}

void Require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const char *data = reinterpret_cast<const char *>(bytes);

    tamsin::LogIndex index;
    const auto status = index.Build(data, size);
    if (status == tamsin::LogIndex::Status::Ok) {
        std::string message;
        for (size_t i = 0; i < index.Count(); ++i) {
            const uint64_t begin = index.Begin(i);
            const uint64_t end = index.End(i);
            Require(begin < end && end <= size, "record bounds");
            Require(i == 0 || index.Begin(i - 1) < begin, "file order");
            Require(index.Group(i) < index.GroupCount(), "group id");
            const char *record = data + begin;
            const void *nl = std::memchr(record, '\n', end - begin);
            std::string_view line(record,
                                  nl ? static_cast<const char *>(nl) - record : end - begin);
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            tamsin::RecordHead head;
            Require(tamsin::ParseRecordHead(line, &head), "indexed line is a record");
            Require(head.messageBegin <= line.size(), "message start");
            Require(tamsin::ClampSeconds(head.time) == index.Time(i), "record time");
            const std::string_view caller(line.data() + head.callerBegin,
                                          head.callerEnd - head.callerBegin);
            Require(index.GroupName(index.Group(i)) == caller, "group name");
            tamsin::AssembleMessage(record, end - begin, head.messageBegin, &message);
            // Joining adds at most CR per line and drops a space, never more.
            Require(message.size() <= 2 * (end - begin), "message length");
            // A record too long to hold is assembled piece by piece: alike.
            tamsin::ShowNuls(&message);
            std::string streamed;
            tamsin::MessageBuilder builder(&streamed);
            const size_t piece = 1 + (end - begin) % 7;
            for (size_t at = head.messageBegin; at < end - begin; at += piece)
                builder.Feed(record + at, std::min(piece, end - begin - at));
            builder.Finish();
            Require(streamed == message, "streamed message");
        }
        for (uint32_t id : index.SortedGroups())
            Require(index.FindGroup(index.GroupName(id)) == id, "group lookup");
        // No record missed: common lines are indexed by a one-pass scan of
        // their own, the rest by the parse above.
        size_t records = 0;
        for (size_t at = 0; at < size;) {
            const void *nl = std::memchr(data + at, '\n', size - at);
            const size_t end =
                nl ? static_cast<size_t>(static_cast<const char *>(nl) - data) : size;
            const bool mark = at == 0 && end >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0;
            std::string_view line(data + at + (mark ? 3 : 0), end - at - (mark ? 3 : 0));
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            tamsin::RecordHead head;
            records += tamsin::ParseRecordHead(line, &head) ? 1 : 0;
            at = nl ? end + 1 : size;
        }
        Require(records == index.Count(), "every record indexed");
    }

    // Well-formed or not, whatever the pieces the bytes come in.
    tamsin::Utf8Check whole;
    whole.Feed(data, size);
    tamsin::Utf8Check split;
    for (size_t at = 0; at < size; at += 3)
        split.Feed(data + at, std::min<size_t>(3, size - at));
    Require(whole.Good() == split.Good() && whole.Complete() == split.Complete(), "UTF-8 verdict");

    // The same bytes read from a file in small chunks that split lines
    // anywhere, by one thread or by two each taking half, must give the
    // same index.
    static const int fd = memfd_create("fuzz_tamsin_parse", MFD_CLOEXEC);
    if (fd >= 0 && ftruncate(fd, 0) == 0 && pwrite(fd, data, size, 0) == ssize_t(size)) {
        tamsin::LogIndex chunked;
        const size_t chunk = size > 0 ? 1 + bytes[0] % 64 : 1;
        const uint64_t parallelFrom =
            size > 1 && bytes[1] % 2 ? 1 : tamsin::LogIndex::kParallelFrom;
        // A short first stretch makes its thread take over from the other.
        const unsigned firstShare = size > 2 ? bytes[2] % 100 : 50;
        const auto chunkedStatus = chunked.Read(fd, size, chunk, tamsin::LogIndex::kMaxRecords,
                                                parallelFrom, firstShare);
        Require((chunkedStatus == tamsin::LogIndex::Status::Ok) ==
                    (status == tamsin::LogIndex::Status::Ok),
                "chunked verdict");
        if (status == tamsin::LogIndex::Status::Ok) {
            Require(chunked.Count() == index.Count(), "chunked count");
            for (size_t i = 0; i < index.Count(); ++i) {
                Require(chunked.Begin(i) == index.Begin(i), "chunked offsets");
                Require(chunked.Time(i) == index.Time(i), "chunked times");
                Require(chunked.GroupName(chunked.Group(i)) == index.GroupName(index.Group(i)),
                        "chunked groups");
            }
            Require(chunked.TimeOrdered() == index.TimeOrdered() &&
                        chunked.IsUtf8() == index.IsUtf8(),
                    "chunked order and encoding");
        }
    }

    if (size >= tamsin::kStampLength) {
        tamsin::Seconds s;
        if (tamsin::ParseStamp(data, &s))
            Require(StampOf(s) == std::string_view(data, tamsin::kStampLength), "stamp round trip");
    }

    // Date and time texts as a picker would hand them: split at the first NUL.
    const std::string_view all(data, size);
    const size_t cut = all.find('\0');
    if (cut != std::string_view::npos) {
        tamsin::Seconds s;
        if (tamsin::ParseDateTime(all.substr(0, cut), all.substr(cut + 1), &s)) {
            const std::string stamp = StampOf(s);
            Require(stamp.size() == tamsin::kStampLength, "date range");
        }
    }
    return 0;
}
