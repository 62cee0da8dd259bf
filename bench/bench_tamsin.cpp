// libtamsin on large generated history files, one of short lines (55 bytes
// on average) and one of a logger's usual lines (80 to 120 bytes). Every time
// is printed as a ratio to `wc -l` on the same file in the same run, so the
// figures compare across machines; the index's memory is read from the
// process's anonymous resident pages (the file's own pages are not counted).
//
//     bench_tamsin [RECORDS]     (default 1000000)

#include "tamsin.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <malloc.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(const std::function<void()> &work, int repeats)
{
    double best = 1e30;
    for (int i = 0; i < repeats; ++i) {
        const auto start = Clock::now();
        work();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

// A field of /proc/self/status in KiB ("RssAnon:", "VmHWM:", ...), or -1.
long StatusKiB(const char *field)
{
    FILE *f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long kib = -1;
    const size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, field, length) == 0) {
            kib = std::strtol(line + length, nullptr, 10);
            break;
        }
    }
    std::fclose(f);
    return kib;
}

long AnonymousKiB()
{
    return StatusKiB("RssAnon:");
}

uint64_t g_state = 0x9E3779B97F4A7C15ull;
uint32_t Random(uint32_t below)
{
    g_state ^= g_state << 13;
    g_state ^= g_state >> 7;
    g_state ^= g_state << 17;
    return static_cast<uint32_t>(g_state % below);
}

// 50 callers, a third of them Chinese.
std::vector<std::string> Callers()
{
    static const char *kChinese[] = {"北區泵站",   "南區水廠",   "東門加壓站", "西郊污水廠",
                                     "中央監控室", "河濱抽水站", "山頂配水池"};
    static const char *kLatin[] = {"North Pump Station", "Reservoir", "Tank Farm",
                                   "Lift Station",       "Booster",   "Well Field",
                                   "Treatment Plant"};
    std::vector<std::string> out;
    for (int i = 0; i < 50; ++i) {
        char name[64];
        if (i % 3 == 0)
            std::snprintf(name, sizeof name, "%s%02d", kChinese[i % 7], i);
        else
            std::snprintf(name, sizeof name, "%s %02d", kLatin[i % 7], i);
        out.push_back(name);
    }
    return out;
}

std::string Message(bool chinese)
{
    static const char *kChinese[] = {"水位過高警報", "泵浦故障 請派員檢查", "電源異常 已切換備援",
                                     "流量低於設定值", "通訊中斷後恢復"};
    static const char *kLatin[] = {"A3 Pump failure", "High level alarm in wet well",
                                   "Power fail, running on battery backup",
                                   "Flow below setpoint for 15 minutes", "Door open intrusion"};
    char text[160];
    if (chinese)
        std::snprintf(text, sizeof text, "%s 代碼%u", kChinese[Random(5)], Random(1000));
    else
        std::snprintf(text, sizeof text, "%s, code %u", kLatin[Random(5)], Random(100000));
    return text;
}

// A file's lines: their lengths spread evenly from shortest to longest.
struct Lines
{
    const char *what;
    int shortest;
    int longest;
};

constexpr Lines kShort{"55-byte lines", 50, 60};
constexpr Lines kUsual{"80-120-byte lines", 80, 120};

// A record of about `length` bytes: a message of mixed script where it fits,
// made up to the length with a note.
std::string Record(const std::string &stamp, const std::string &caller, bool chinese, int length)
{
    const std::string head = stamp + " [" + caller + "] ";
    const int room = std::max(1, length - int(head.size()) - 2);
    std::string message = Message(chinese);
    if (int(message.size()) > room)
        message = "Alarm " + std::to_string(Random(100000));
    static const std::string kNote = " - operator paged, see the station log for the details";
    message.resize(size_t(room), ' ');
    for (size_t i = message.find_last_not_of(' ') + 1, k = 0; i < message.size(); ++i, ++k)
        message[i] = kNote[k % kNote.size()];
    return head + message + "\r\n";
}

// With shuffled the same kind of lines come in random order, as if every
// burst had been read from the SIM out of time order.
void Generate(const std::string &path, long records, const Lines &lines,
              std::vector<std::string> *stamps, std::string *middle, bool shuffled = false)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::vector<std::string> held;
    const std::vector<std::string> callers = Callers();
    // Civil time walked forward by 1..157 s per record from 01/01/2020: a
    // busy site's pace, 4,000,000 records in ten years.
    int year = 2020, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (long i = 0; i < records; ++i) {
        second += 1 + static_cast<int>(Random(157));
        minute += second / 60;
        second %= 60;
        hour += minute / 60;
        minute %= 60;
        day += hour / 24;
        hour %= 24;
        const bool leap = year % 4 == 0;
        const int inMonth = month == 2 && leap ? 29 : kDays[month - 1];
        if (day > inMonth) {
            day -= inMonth;
            if (++month > 12) {
                month = 1;
                ++year;
            }
        }
        const uint32_t c = Random(50);
        char stamp[64];
        std::snprintf(stamp, sizeof stamp, "%02d/%02d/%04d %02d:%02d:%02d", month, day, year, hour,
                      minute, second);
        const int length =
            lines.shortest + int(Random(uint32_t(lines.longest - lines.shortest + 1)));
        std::string line = Record(stamp, callers[c], c % 3 == 0, length);
        if (shuffled)
            held.push_back(std::move(line));
        else
            std::fputs(line.c_str(), f);
        if (i % (records / 8 + 1) == 0)
            stamps->push_back(stamp);
        if (i == records / 2)
            *middle = stamp;
    }
    for (size_t i = held.size(); i > 1; --i)
        std::swap(held[i - 1], held[Random(static_cast<uint32_t>(i))]);
    for (const std::string &line : held)
        std::fputs(line.c_str(), f);
    std::fclose(f);
}

long PeakKiB()
{
    return StatusKiB("VmHWM:");
}

// Starts a new peak of resident memory (Linux 4.0 and later).
bool ResetPeak()
{
    FILE *f = std::fopen("/proc/self/clear_refs", "w");
    if (!f)
        return false;
    const bool ok = std::fputs("5", f) >= 0;
    return std::fclose(f) == 0 && ok;
}

long ResidentKiB()
{
    return StatusKiB("VmRSS:");
}

// A file of one record whose line is `bytes` long, then a short one: how
// much memory opening it and reading that record take, as a share of the
// line's size.
void LongLine(const std::string &dir, long bytes)
{
    const std::string path = dir + "/long.log";
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return;
    std::fputs("03/01/2024 08:00:00 [Long] ", f);
    const std::string block(1 << 20, 'x');
    for (long done = 0; done < bytes; done += long(block.size()))
        std::fwrite(block.data(), 1, block.size(), f);
    std::fputs("\r\n03/01/2024 08:00:01 [B] short\r\n", f);
    std::fclose(f);
    malloc_trim(0);
    const bool measured = ResetPeak();
    long base = ResidentKiB();
    LogOpen(path.c_str());
    const long open = PeakKiB() - base;
    malloc_trim(0);
    ResetPeak();
    base = ResidentKiB();
    const char *message = nullptr;
    LogGetRecord(0, nullptr, nullptr, nullptr, &message, nullptr, nullptr);
    const long read = PeakKiB() - base;
    const size_t length = message ? std::strlen(message) : 0;
    LogClose();
    std::remove(path.c_str());
    const double kib = double(bytes) / 1024.0;
    if (!measured) {
        std::printf("  %-34s (this kernel cannot reset the memory peak)\n", "one long line");
        return;
    }
    std::printf(
        "  one %ld MB line: LogOpen peak %8.2fx its size, reading it %.2fx (target <= 1x)%s\n",
        bytes / 1000000, open / kib, read / kib, length >= size_t(bytes) ? "" : " FAILED");
}

void Line(const char *what, double seconds, double reference, const char *target)
{
    std::printf("  %-34s %8.3f s  %6.2fx wc -l  %s\n", what, seconds, seconds / reference, target);
}

// The best of several runs of work and of `wc -l` on the file, taken in
// turn so that both see the machine in the same moods.
struct Timed
{
    double seconds = 1e30;
    double wc = 1e30;
};

Timed AgainstWc(const std::string &path, const std::function<void()> &work)
{
    const std::string wc = "wc -l < '" + path + "' > /dev/null";
    Timed best;
    for (int run = 0; run < 7; ++run) {
        LogClose(); // not timed: the work leaves the file open
        best.wc = std::min(best.wc, Seconds([&] { (void)!std::system(wc.c_str()); }, 1));
        best.seconds = std::min(best.seconds, Seconds(work, 1));
    }
    return best;
}

// Every figure for one kind of file; false when something failed.
bool Run(const std::string &dir, long records, const Lines &lines)
{
    const std::string path = dir + "/Quillet.log";
    std::vector<std::string> stamps;
    std::string middle;
    Generate(path, records, lines, &stamps, &middle);
    struct stat st;
    stat(path.c_str(), &st);

    // Memory first, before other work leaves freed heap behind.
    const long before = AnonymousKiB();
    int32_t total = LogOpen(path.c_str());
    const long afterOpen = AnonymousKiB();
    const int32_t all = LogSelect(nullptr, nullptr);
    const long afterOpenSelect = AnonymousKiB();
    LogSetTimeRange("01/01/2000", "00:00:00", middle.substr(0, 10).c_str(),
                    middle.substr(11).c_str());
    const int32_t half = LogSelect(nullptr, nullptr);
    const long afterSelect = AnonymousKiB();
    LogSetTimeRange(nullptr, nullptr, nullptr, nullptr);
    LogClose();
    if (total != records || all != records || half != records / 2 + 1) {
        std::fprintf(stderr, "unexpected counts: %d %d %d\n", total, all, half);
        return false;
    }

    const Timed open = AgainstWc(path, [&] { total = LogOpen(path.c_str()); });
    const double reference = open.wc;

    // A quarter of the file's time span, and one caller of fifty.
    const std::string &from = stamps[2];
    const std::string &to = stamps[4];
    LogSetTimeRange(from.substr(0, 10).c_str(), from.substr(11).c_str(), to.substr(0, 10).c_str(),
                    to.substr(11).c_str());
    const std::string group = Callers()[7];
    int32_t selected = 0;
    // Each time after another selection: the same one asked for again is
    // kept, not made anew.
    double select = 1e30;
    for (int run = 0; run < 3; ++run) {
        LogSelect(nullptr, nullptr);
        select =
            std::min(select, Seconds([&] { selected = LogSelect(group.c_str(), nullptr); }, 1));
    }

    LogSetTimeRange(nullptr, nullptr, nullptr, nullptr);
    LogSelect(nullptr, nullptr);
    size_t bytes = 0;
    const double read = Seconds(
        [&] {
            for (int32_t i = 0; i < total; ++i) {
                const char *t[6];
                LogGetRecord(i, &t[0], &t[1], &t[2], &t[3], &t[4], &t[5]);
                bytes += std::strlen(t[3]);
            }
        },
        1);

    const int32_t key = LogTimeKey(middle.substr(0, 10).c_str(), middle.substr(11).c_str());
    int32_t deleted = 0;
    const double trim = Seconds([&] { deleted = LogDeleteBefore(key, path.c_str()); }, 1);
    LogClose();
    const int32_t remaining = LogOpen(path.c_str());
    LogClose();

    std::printf("libtamsin: %ld records of %s, %.1f MB, 50 callers (a third Chinese)\n", records,
                lines.what, st.st_size / 1e6);
    std::printf("  %-34s %8.3f s  (reference)\n", "wc -l", reference);
    Line("LogOpen", open.seconds, reference, "(target <= 1.2x)");
    char what[64];
    std::snprintf(what, sizeof what, "LogSelect time+group (%d)", selected);
    Line(what, select, reference, "(target <= 1x)");
    Line("LogGetRecord, every row", read, reference, "");
    std::snprintf(what, sizeof what, "LogDeleteBefore half (%d left)", remaining);
    Line(what, trim, reference, deleted ? "" : "FAILED");
    std::printf("  %-34s %8.1f bytes/record (target <= 16)\n", "index after LogOpen",
                (afterOpen - before) * 1024.0 / records);
    std::printf("  %-34s %8.1f bytes/record\n", "after selecting every record",
                (afterOpenSelect - before) * 1024.0 / records);
    std::printf("  %-34s %8.1f bytes/record\n", "after selecting half by time",
                (afterSelect - before) * 1024.0 / records);

    std::remove(path.c_str());

    // The same kind of file with its records in random order: opening it
    // includes putting them in time order (the first LogSelect).
    const std::string shuffledPath = dir + "/Shuffled.log";
    std::vector<std::string> unused;
    std::string unusedMiddle;
    Generate(shuffledPath, records, lines, &unused, &unusedMiddle, true);
    // The peak while opening and sorting, freed heap given back first so
    // that reused pages do not hide what the open takes.
    malloc_trim(0);
    const bool peakKnown = ResetPeak();
    const long beforeSorted = ResidentKiB();
    LogOpen(shuffledPath.c_str());
    const int32_t sortedAll = LogSelect(nullptr, nullptr);
    const long afterSorted = peakKnown ? PeakKiB() : ResidentKiB();
    LogClose();
    int32_t sorted = 0;
    const Timed openSorted = AgainstWc(shuffledPath, [&] {
        LogOpen(shuffledPath.c_str());
        sorted = LogSelect(nullptr, nullptr);
    });
    const char *firstTime = nullptr;
    const char *lastTime = nullptr;
    LogGetRecord(0, &firstTime, nullptr, nullptr, nullptr, nullptr, nullptr);
    const std::string first = firstTime ? firstTime : "";
    LogGetRecord(sorted - 1, &lastTime, nullptr, nullptr, nullptr, nullptr, nullptr);
    std::printf("  %-34s %8.3f s  (reference, shuffled file)\n", "wc -l", openSorted.wc);
    Line("LogOpen + LogSelect, shuffled", openSorted.seconds, openSorted.wc,
         sorted == records && sortedAll == records ? "(target <= 1.5x)" : "FAILED");
    std::printf("  %-34s %8.1f bytes/record (target <= 16)\n", "peak, opening and sorting",
                (afterSorted - beforeSorted) * 1024.0 / records);
    std::printf("  %-34s %s .. %s\n", "earliest .. latest", first.c_str(),
                lastTime ? lastTime : "");
    LogClose();
    std::remove(shuffledPath.c_str());
    return deleted && bytes > 0 && sorted == records && sortedAll == records;
}

} // namespace

int main(int argc, char **argv)
{
    const long records = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1000000;
    const char *tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/bench-tamsin-XXXXXX";
    if (!mkdtemp(dir.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    bool ok = Run(dir, records, kShort);
    ok = Run(dir, records, kUsual) && ok;
    LongLine(dir, std::strtol(std::getenv("TAMSIN_LONG_LINE") ? std::getenv("TAMSIN_LONG_LINE")
                                                              : "300000000",
                              nullptr, 10));
    rmdir(dir.c_str());
    return ok ? 0 : 1;
}
