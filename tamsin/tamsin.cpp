#include "tamsin.h"

#include "logfile.h"
#include "logformat.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using tamsin::LogIndex;
using tamsin::Seconds;

// What the last LogSelect() asked for, so records that arrive later can be
// judged the same way.
struct Criteria
{
    bool anyGroup = true;
    uint32_t group = 0; // when !anyGroup and the name exists
    bool groupKnown = true;
    std::string groupName; // as asked for, for a name that comes later
    bool nothing = false;  // a named subgroup: the logger's files have none
    bool timeFilter = false;
    int32_t from = 0;
    int32_t to = 0;

    bool operator==(const Criteria &) const = default;
};

// Record numbers; a large selection gets huge pages like the index, because
// faulting in a thousand small ones costs as much as sorting into them.
using Selection = std::vector<uint32_t, tamsin::LargeAllocator<uint32_t>>;

struct CurrentFile
{
    std::string resolvedPath;
    tamsin::LogFile file;
    LogIndex index;
    tamsin::WindowReader reader;
    // Selected record numbers in time order (file order among equal
    // stamps). When selectAll is set the selection is every record, which
    // are then in time order already, and the vector stays empty: the
    // common case costs nothing.
    bool selectAll = true;
    Selection selection;
    // Opened out of time order: every record is selected, put in time order
    // when first asked for (a LogSelect() that follows at once makes its own).
    bool sortPending = false;
    Criteria criteria;
    // The selection is what criteria picks: a LogSelect() asking the same
    // again keeps it instead of making it anew (the viewer's start selects
    // every record once more after the open has put them in order). False
    // while the order is pending or after a selection failed half-way.
    bool selectionCurrent = false;
    // Names holding NUL bytes, as handed out (the others go out as they are).
    std::vector<std::pair<uint32_t, std::string>> shownNames;

    size_t SelectedCount() const { return selectAll ? index.Count() : selection.size(); }
    size_t Record(size_t i) const { return selectAll ? i : selection[i]; }
};

// What the last export wrote, so the delete that completes a move removes
// exactly those records and nothing that arrived in between.
struct ExportMark
{
    bool valid = false;
    int32_t key = -1;
    dev_t device = 0;
    ino_t inode = 0;
    uint64_t size = 0;
};

struct Library
{
    std::unique_ptr<CurrentFile> current;
    bool timeFilter = false;
    int32_t from = 0;
    int32_t to = 0;
    ExportMark lastExport;
    // Texts handed out: valid until the next call.
    char time[tamsin::kStampLength + 1] = {};
    std::string message;
};

Library &Lib()
{
    static Library library;
    return library;
}

constexpr const char *kEmpty = "";
// A follow-up read waits this long at most for a writer to finish.
constexpr auto kRefreshPatience = std::chrono::milliseconds(2000);

void SetOut(const char **out, const char *value)
{
    if (out)
        *out = value;
}

void SetOut(int32_t *out, int32_t value)
{
    if (out)
        *out = value;
}

void FindShownNames(CurrentFile &current)
{
    current.shownNames.clear();
    const LogIndex &index = current.index;
    for (uint32_t id = 1; id < index.GroupCount(); ++id) {
        const std::string &name = index.GroupName(id);
        if (name.find('\0') != std::string::npos) {
            std::string shown = name;
            tamsin::ShowNuls(&shown);
            current.shownNames.emplace_back(id, std::move(shown));
        }
    }
}

const char *ShownName(const CurrentFile &current, uint32_t id)
{
    for (const auto &[shownId, shown] : current.shownNames) {
        if (shownId == id)
            return shown.c_str();
    }
    return current.index.GroupName(id).c_str();
}

// The group id of a name as handed out, or -1.
int64_t FindGroup(const CurrentFile &current, const std::string &name)
{
    const int64_t id = current.index.FindGroup(name);
    if (id >= 0)
        return id;
    for (const auto &[shownId, shown] : current.shownNames) {
        if (shown == name)
            return shownId;
    }
    return -1;
}

// Record i's group, the column's width chosen once for a whole loop.
template <size_t W> struct GroupsOf
{
    const tamsin::GroupColumn &column;
    uint32_t operator()(size_t i) const { return column.GetAs<W>(i); }
};

struct AnyWidth
{
    const tamsin::GroupColumn &column;
    uint32_t operator()(size_t i) const { return column.Get(i); }
};

// Calls work(groups) with the getter of the index's group width.
template <class F> void WithGroups(const LogIndex &index, F &&work)
{
    const tamsin::GroupColumn &column = index.Groups();
    if (column.Width() == 1)
        work(GroupsOf<1>{column});
    else if (column.Width() == 2)
        work(GroupsOf<2>{column});
    else
        work(GroupsOf<4>{column});
}

template <class G>
bool Passes(const Criteria &c, const LogIndex &index, const G &groups, size_t i)
{
    if (c.nothing || !c.groupKnown)
        return false;
    if (!c.anyGroup && groups(i) != c.group)
        return false;
    const int32_t t = index.Time(i);
    return !c.timeFilter || (t >= c.from && t <= c.to);
}

// Stable in effect: among equal stamps the lower record number comes first.
bool Earlier(const LogIndex &index, uint32_t a, uint32_t b)
{
    const int32_t ta = index.Time(a);
    const int32_t tb = index.Time(b);
    return ta < tb || (ta == tb && a < b);
}

// Buckets hold about sixteen records; a bucket of up to this many is sorted
// by ranks.
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

// The records that pass, stamped from low to high, in time order into
// *out: a bucket sort over the stamps. The records are dealt into buckets
// of about sixteen by the high bits of their stamp, in file order, and each
// bucket is sorted on its own. Where the low bits of the stamp fit beside
// the record number in 32 bits they travel together, so sorting touches
// nothing but the selection itself. The selection takes 4 bytes per
// record, the bucket counts a quarter of a byte while they are needed.
template <bool kAll, class G>
void TimeSorted(const LogIndex &index, const G &groups, const Criteria &c, int32_t low,
                int32_t high, Selection *out)
{
    const size_t total = index.Count();
    const auto passes = [&](size_t i) { return kAll || Passes(c, index, groups, i); };
    const uint64_t range = static_cast<uint64_t>(int64_t(high) - low);
    size_t buckets = 1;
    while (buckets * 16 < total)
        buckets <<= 1;
    int shift = 0;
    while ((range >> shift) >= buckets)
        ++shift;
    const size_t used = static_cast<size_t>(range >> shift) + 1;
    int idBits = 1;
    while (idBits < 32 && (uint64_t(1) << idBits) < total)
        ++idBits;
    const bool packed = shift > 0 && shift + idBits <= 32;
    const uint32_t idMask = idBits >= 32 ? UINT32_MAX : (uint32_t(1) << idBits) - 1;
    const uint32_t lowMask = (uint32_t(1) << std::min(shift, 31)) - 1;

    std::vector<uint32_t> ends(used, 0);
    for (size_t i = 0; i < total; ++i) {
        if (passes(i))
            ++ends[static_cast<uint32_t>(index.Time(i) - low) >> shift];
    }
    size_t count = 0;
    for (size_t b = 0; b < used; ++b) {
        const uint32_t n = ends[b];
        ends[b] = static_cast<uint32_t>(count);
        count += n;
    }
    out->reserve(count);
    out->resize(count);
    uint32_t *rows = out->data();
    for (size_t i = 0; i < total; ++i) {
        if (!passes(i))
            continue;
        const uint32_t offset = static_cast<uint32_t>(index.Time(i) - low);
        const uint32_t id = static_cast<uint32_t>(i);
        rows[ends[offset >> shift]++] = packed ? ((offset & lowMask) << idBits) | id : id;
    }
    // ends[b] is now where bucket b ends. With shift 0 a bucket is one
    // second, already in file order.
    const auto sortBuckets = [&](size_t fromBucket, size_t toBucket) {
        std::vector<uint64_t> keys;
        size_t begin = fromBucket > 0 ? ends[fromBucket - 1] : 0;
        for (size_t b = fromBucket; b < toBucket; ++b) {
            const size_t end = ends[b];
            const size_t n = end - begin;
            if (packed) {
                if (n <= kRankSortMax) {
                    RankSort(rows + begin, n, idMask);
                } else {
                    std::sort(rows + begin, rows + end);
                    for (size_t k = begin; k < end; ++k)
                        rows[k] &= idMask;
                }
            } else if (n > 1 && shift > 0) {
                if (n <= 4096) {
                    keys.resize(n);
                    for (size_t k = 0; k < n; ++k) {
                        const uint32_t id = rows[begin + k];
                        keys[k] = uint64_t(static_cast<uint32_t>(index.Time(id) - low)) << 32 | id;
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
    };
    // The buckets are independent: a second thread takes the later half.
    constexpr size_t kTwoThreadsFrom = 256 * 1024;
    if (count >= kTwoThreadsFrom) {
        const size_t middle = static_cast<size_t>(
            std::lower_bound(ends.begin(), ends.begin() + used, count / 2) - ends.begin());
        bool failed = false;
        {
            tamsin::Worker worker([&] {
                try {
                    sortBuckets(middle, used);
                } catch (...) {
                    failed = true;
                }
            });
            sortBuckets(0, middle);
            worker.Join();
        }
        if (failed)
            throw std::bad_alloc();
    } else {
        sortBuckets(0, used);
    }
}

// Makes the selection what the criteria pick, counting first so the
// selection takes exactly its size.
void MakeSelection(CurrentFile &current)
{
    const LogIndex &index = current.index;
    const Criteria &c = current.criteria;
    Selection().swap(current.selection);
    current.selectAll = false;
    const size_t count = index.Count();
    const bool all = c.anyGroup && !c.timeFilter && !c.nothing;
    if (!index.TimeOrdered()) {
        int32_t low = index.Earliest();
        int32_t high = index.Latest();
        if (c.timeFilter) {
            low = std::max(low, c.from);
            high = std::min(high, c.to);
        }
        if (count == 0 || low > high || c.nothing || !c.groupKnown)
            return;
        WithGroups(index, [&](const auto &groups) {
            if (all)
                TimeSorted<true>(index, groups, c, low, high, &current.selection);
            else
                TimeSorted<false>(index, groups, c, low, high, &current.selection);
        });
        return;
    }
    WithGroups(index, [&](const auto &groups) {
        size_t selected = 0;
        for (size_t i = 0; i < count; ++i)
            selected += all || Passes(c, index, groups, i);
        if (selected == count) {
            current.selectAll = true;
            return;
        }
        current.selection.reserve(selected);
        for (size_t i = 0; i < count; ++i) {
            if (Passes(c, index, groups, i))
                current.selection.push_back(static_cast<uint32_t>(i));
        }
    });
}

void SelectBy(CurrentFile &current)
{
    current.selectionCurrent = false;
    current.sortPending = false;
    MakeSelection(current);
    current.selectionCurrent = true;
}

// Records from `first` on that pass join the selection at their place in
// time order; returns the first selection index that changed.
size_t SelectNew(CurrentFile &current, size_t first, size_t oldCount)
{
    const LogIndex &index = current.index;
    const Criteria &c = current.criteria;
    std::vector<uint32_t> added;
    for (size_t i = first; i < index.Count(); ++i) {
        if (Passes(c, index, AnyWidth{index.Groups()}, i))
            added.push_back(static_cast<uint32_t>(i));
    }
    if (added.empty())
        return oldCount;
    if (current.selectAll && added.size() == index.Count() - first && index.TimeOrdered())
        return oldCount;
    std::sort(added.begin(), added.end(),
              [&index](uint32_t a, uint32_t b) { return Earlier(index, a, b); });
    Selection &rows = current.selection;
    if (current.selectAll) {
        rows.resize(oldCount);
        for (size_t i = 0; i < oldCount; ++i)
            rows[i] = static_cast<uint32_t>(i);
        current.selectAll = false;
    }
    // Merged from the back: every new record number is above the old ones,
    // so among equal stamps the old records stay first.
    rows.resize(oldCount + added.size());
    ptrdiff_t i = static_cast<ptrdiff_t>(oldCount) - 1;
    ptrdiff_t j = static_cast<ptrdiff_t>(added.size()) - 1;
    ptrdiff_t w = static_cast<ptrdiff_t>(rows.size()) - 1;
    while (j >= 0) {
        if (i >= 0 && Earlier(index, added[j], rows[i]))
            rows[w--] = rows[i--];
        else
            rows[w--] = added[j--];
    }
    return static_cast<size_t>(i + 1);
}

// Byte ranges of the records of index that take selects, adjacent ones
// merged, optionally led by what precedes the first record.
std::vector<tamsin::Range> RecordRanges(const LogIndex &index, const std::vector<bool> &take,
                                        bool withPreamble)
{
    std::vector<tamsin::Range> ranges;
    if (withPreamble && index.Count() > 0 && index.Begin(0) > 0)
        ranges.push_back({0, index.Begin(0)});
    for (size_t i = 0; i < index.Count(); ++i) {
        if (!take[i])
            continue;
        const uint64_t begin = index.Begin(i);
        const uint64_t size = index.End(i) - begin;
        if (!ranges.empty() && ranges.back().offset + ranges.back().size == begin)
            ranges.back().size += size;
        else
            ranges.push_back({begin, size});
    }
    return ranges;
}

bool EndsWithLineEnd(int fd, const std::vector<tamsin::Range> &ranges)
{
    if (ranges.empty())
        return true;
    char last = 0;
    const tamsin::Range &r = ranges.back();
    return ::pread(fd, &last, 1, static_cast<off_t>(r.offset + r.size - 1)) == 1 && last == '\n';
}

// Nothing may unwind out of a C function; an allocation failure inside one
// becomes its error result.
template <class F> int32_t Guarded(int32_t onError, F &&body)
{
    try {
        return body();
    } catch (...) {
        return onError;
    }
}

int32_t Open(const char *path)
{
    Library &lib = Lib();
    if (!path || !*path)
        return -1;
    auto current = std::make_unique<CurrentFile>();
    current->resolvedPath = tamsin::ResolvePath(path);
    if (current->resolvedPath.empty() || !current->file.Open(current->resolvedPath, true))
        return -1;
    if (current->index.Read(current->file.Descriptor(), current->file.Size()) !=
        LogIndex::Status::Ok)
        return -1;
    FindShownNames(*current);
    // Every record, earliest first, until the first LogSelect().
    current->sortPending = !current->index.TimeOrdered();
    current->selectionCurrent = !current->sortPending;
    lib.current = std::move(current);
    return static_cast<int32_t>(lib.current->index.Count());
}

int32_t Select(const char *group, const char *subgroup)
{
    Library &lib = Lib();
    if (!lib.current)
        return -1;
    CurrentFile &current = *lib.current;
    Criteria c;
    c.nothing = subgroup && *subgroup;
    if (group) {
        c.anyGroup = false;
        c.groupName = group;
        const int64_t id = FindGroup(current, c.groupName);
        c.groupKnown = id >= 0;
        c.group = id >= 0 ? static_cast<uint32_t>(id) : 0;
    }
    c.timeFilter = lib.timeFilter;
    c.from = lib.from;
    c.to = lib.to;
    if (current.selectionCurrent && !current.sortPending && c == current.criteria)
        return static_cast<int32_t>(current.SelectedCount());
    current.criteria = c;
    SelectBy(current);
    return static_cast<int32_t>(current.SelectedCount());
}

int32_t Refresh(int32_t *selected, int32_t *firstChanged)
{
    Library &lib = Lib();
    if (!lib.current)
        return -1;
    CurrentFile &current = *lib.current;
    if (current.sortPending)
        SelectBy(current);
    const size_t count = current.SelectedCount();
    const auto unchanged = [&] {
        SetOut(selected, static_cast<int32_t>(count));
        SetOut(firstChanged, static_cast<int32_t>(count));
        return static_cast<int32_t>(current.index.Count());
    };
    struct stat named;
    if (::stat(current.resolvedPath.c_str(), &named) != 0)
        return unchanged(); // gone for now; keep what was read
    if (named.st_dev != current.file.Device() || named.st_ino != current.file.Inode())
        return -1;
    if (!current.file.Remeasure(kRefreshPatience))
        return unchanged(); // a writer is busy; try again later
    if (current.file.Size() < current.index.Size())
        return -1;
    if (current.file.Size() == current.index.Size())
        return unchanged();

    const size_t before = current.index.Count();
    const size_t names = current.index.GroupCount();
    const uint64_t oldEnd = current.index.Size();
    if (current.index.Extend(current.file.Descriptor(), current.file.Size()) !=
        LogIndex::Status::Ok)
        return -1;
    if (current.index.GroupCount() != names) {
        FindShownNames(current);
        Criteria &c = current.criteria;
        if (!c.anyGroup && !c.groupKnown) {
            // The name asked for may have arrived with the new records.
            const int64_t id = FindGroup(current, c.groupName);
            c.groupKnown = id >= 0;
            c.group = id >= 0 ? static_cast<uint32_t>(id) : 0;
        }
    }
    current.selectionCurrent = false;
    size_t changed = SelectNew(current, before, count);
    current.selectionCurrent = true;
    // Further lines of the last record that was there change that record.
    if (before > 0 && current.index.End(before - 1) > oldEnd) {
        const uint32_t last = static_cast<uint32_t>(before - 1);
        if (current.selectAll) {
            changed = std::min<size_t>(changed, last);
        } else {
            for (size_t i = 0; i < current.selection.size(); ++i) {
                if (current.selection[i] == last) {
                    changed = std::min(changed, i);
                    break;
                }
            }
        }
    }
    SetOut(selected, static_cast<int32_t>(current.SelectedCount()));
    SetOut(firstChanged, static_cast<int32_t>(changed));
    return static_cast<int32_t>(current.index.Count());
}

int32_t GetRecord(int32_t index, const char **time, const char **group, const char **message)
{
    Library &lib = Lib();
    if (!lib.current || index < 0 || static_cast<size_t>(index) >= lib.current->SelectedCount())
        return -1;
    CurrentFile &current = *lib.current;
    if (current.sortPending)
        SelectBy(current);
    const size_t record = current.Record(static_cast<size_t>(index));
    const uint64_t offset = current.index.Begin(record);
    const uint64_t size = current.index.End(record) - offset;
    const int fd = current.file.Descriptor();
    if (size <= tamsin::WindowReader::kWindow) {
        const char *bytes = current.reader.Get(fd, offset, static_cast<size_t>(size));
        if (!bytes)
            return -1; // someone cut the file short behind our back
        const void *nl = std::memchr(bytes, '\n', static_cast<size_t>(size));
        std::string_view line(bytes, nl ? static_cast<const char *>(nl) - bytes : size);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        tamsin::RecordHead head;
        if (!tamsin::ParseRecordHead(line, &head))
            return -1; // the bytes changed since they were indexed
        if (time) {
            std::copy(bytes, bytes + tamsin::kStampLength, lib.time);
            lib.time[tamsin::kStampLength] = '\0';
            *time = lib.time;
        }
        if (message) {
            tamsin::AssembleMessage(bytes, static_cast<size_t>(size), head.messageBegin,
                                    &lib.message);
            tamsin::ShowNuls(&lib.message);
            *message = lib.message.c_str();
        }
    } else {
        // A record too long for the window is assembled straight from the
        // file into the message, so it costs its own size and no more.
        char head[tamsin::kCallerBegin + 2] = {};
        const size_t want = static_cast<size_t>(std::min<uint64_t>(size, sizeof head));
        if (::pread(fd, head, want, static_cast<off_t>(offset)) != static_cast<ssize_t>(want))
            return -1;
        tamsin::Seconds stamp;
        if (!tamsin::ParseStamp(head, &stamp))
            return -1;
        if (time) {
            std::copy(head, head + tamsin::kStampLength, lib.time);
            lib.time[tamsin::kStampLength] = '\0';
            *time = lib.time;
        }
        if (message) {
            // Where the message begins follows from the caller the index
            // found: its name's length, or no name.
            const uint32_t id = current.index.Group(record);
            uint64_t begin = 0;
            const auto at = [&](size_t i) { return i < want ? head[i] : '\n'; };
            if (id != 0) {
                const uint64_t close = tamsin::kCallerBegin + current.index.GroupName(id).size();
                char after[2] = {};
                if (::pread(fd, after, 2, static_cast<off_t>(offset + close)) != 2)
                    return -1;
                begin = after[0] == ']' && after[1] == ' ' ? close + 2 : close + 1;
            } else if (at(tamsin::kStampLength) != ' ') {
                begin = tamsin::kStampLength;
            } else if (at(20) == '[' && at(21) == ']') {
                begin = at(22) == ' ' ? 23 : 22;
            } else {
                begin = tamsin::kStampLength + 1;
            }
            std::string().swap(lib.message);
            lib.message.reserve(static_cast<size_t>(size - std::min(size, begin)));
            tamsin::MessageBuilder builder(&lib.message);
            const bool whole = current.reader.Stream(fd, offset + std::min(size, begin),
                                                     offset + size, [&](const char *p, size_t n) {
                                                         if (p)
                                                             builder.Feed(p, n);
                                                         else
                                                             builder.FeedNuls(n);
                                                     });
            if (!whole)
                return -1;
            builder.Finish();
            *message = lib.message.c_str();
        }
    }
    SetOut(group, ShownName(current, current.index.Group(record)));
    return 1;
}

int32_t ExportBefore(int32_t timeKey, const char *destinationPath)
{
    Library &lib = Lib();
    if (!lib.current || timeKey < 0 || !destinationPath || !*destinationPath)
        return 0;
    const CurrentFile &current = *lib.current;
    const std::string target = tamsin::ResolvePath(destinationPath);
    if (target.empty() || target == current.resolvedPath)
        return 0;
    mode_t mode = tamsin::NewFileMode();
    struct stat existing;
    if (::stat(target.c_str(), &existing) == 0) {
        // The open file, or whatever now lives at its path, must survive.
        if (!S_ISREG(existing.st_mode) ||
            (existing.st_dev == current.file.Device() && existing.st_ino == current.file.Inode()))
            return 0;
        mode = existing.st_mode & 07777;
    }

    const LogIndex &index = current.index;
    std::vector<bool> take(index.Count());
    for (size_t i = 0; i < index.Count(); ++i)
        take[i] = index.Time(i) < timeKey;
    const std::vector<tamsin::Range> ranges = RecordRanges(index, take, false);
    const int fd = current.file.Descriptor();
    // A last line the file never terminated still ends as a line here, so
    // whatever is appended to the export later starts a line of its own.
    const std::string tail = EndsWithLineEnd(fd, ranges) ? "" : "\r\n";
    // Unless the copy is surely on disk, the records must stay in the source.
    if (tamsin::ReplaceFile(target, fd, ranges, tail, mode, false, 0, 0) != tamsin::Replaced::Yes)
        return 0;
    lib.lastExport = {true, timeKey, current.file.Device(), current.file.Inode(), index.Size()};
    return 1;
}

int32_t DeleteBefore(int32_t timeKey, const char *sourcePath, const ExportMark &mark)
{
    Library &lib = Lib();
    if (timeKey < 0 || !sourcePath || !*sourcePath)
        return 0;
    const std::string path = tamsin::ResolvePath(sourcePath);
    if (path.empty())
        return 0;
    const bool completesMove =
        mark.valid && mark.key == timeKey && lib.current && path == lib.current->resolvedPath &&
        mark.device == lib.current->file.Device() && mark.inode == lib.current->file.Inode();

    tamsin::ExclusiveLock lock;
    if (!lock.Acquire(path))
        return 0;
    // Under the lock nobody appends, so what is read now is the whole file.
    tamsin::LogFile fresh;
    if (!fresh.Attach(lock.Descriptor()))
        return 0;
    uint64_t limit = fresh.Size();
    if (completesMove) {
        // The export wrote records from the file as it was opened; if the
        // file was replaced since, those records cannot be told apart.
        if (fresh.Device() != mark.device || fresh.Inode() != mark.inode)
            return 0;
        limit = mark.size;
    }
    LogIndex index;
    if (index.Read(fresh.Descriptor(), fresh.Size()) != LogIndex::Status::Ok)
        return 0;

    std::vector<bool> keep(index.Count());
    bool removesAny = false;
    for (size_t i = 0; i < index.Count(); ++i) {
        keep[i] = !(index.Time(i) < timeKey && index.Begin(i) < limit);
        removesAny = removesAny || !keep[i];
    }
    if (!removesAny)
        return 1;
    const std::vector<tamsin::Range> ranges = RecordRanges(index, keep, true);
    // Once renamed the records are gone, even if the folder's sync failed:
    // reporting that as a failure would say the file is as it was.
    return tamsin::ReplaceFile(path, fresh.Descriptor(), ranges, "", fresh.Mode(), true,
                               fresh.Owner(), fresh.OwnerGroup()) == tamsin::Replaced::No
               ? 0
               : 1;
}

} // namespace

extern "C" {

int32_t LogOpen(const char *path)
{
    LogClose();
    return Guarded(-1, [&] { return Open(path); });
}

int32_t LogGetGroup(int32_t cursor, const char **group)
{
    const Library &lib = Lib();
    if (!group || !lib.current)
        return -1;
    *group = nullptr;
    const auto &sorted = lib.current->index.SortedGroups();
    if (cursor < 0 || static_cast<size_t>(cursor) >= sorted.size())
        return 0;
    *group = ShownName(*lib.current, sorted[static_cast<size_t>(cursor)]);
    return cursor + 1;
}

int32_t LogGetSubgroup(const char *group, int32_t cursor, const char **subgroup)
{
    (void)cursor;
    if (!group || !subgroup || !Lib().current)
        return -1;
    *subgroup = nullptr;
    return 0;
}

int32_t LogSetTimeRange(const char *fromDate, const char *fromTime, const char *toDate,
                        const char *toTime)
{
    Library &lib = Lib();
    if (!fromDate && !fromTime && !toDate && !toTime) {
        lib.timeFilter = false;
        return 1;
    }
    if (!fromDate || !fromTime || !toDate || !toTime)
        return 0;
    Seconds from = 0;
    Seconds to = 0;
    if (!tamsin::ParseDateTime(fromDate, fromTime, &from) ||
        !tamsin::ParseDateTime(toDate, toTime, &to))
        return 0;
    // Records keep clamped 32-bit times; clamp the ends the same way so a
    // range reaching past the clamp still catches them.
    lib.from = tamsin::ClampSeconds(from);
    lib.to = tamsin::ClampSeconds(to);
    lib.timeFilter = true;
    return 1;
}

int32_t LogSelect(const char *group, const char *subgroup)
{
    return Guarded(-1, [&] { return Select(group, subgroup); });
}

int32_t LogGetRecord(int32_t index, const char **time, const char **group, const char **subgroup,
                     const char **message, const char **ackMessage, const char **appendMessage)
{
    const char **outs[] = {time, group, subgroup, message, ackMessage, appendMessage};
    for (const char **out : outs)
        SetOut(out, nullptr);
    const int32_t result = Guarded(-1, [&] { return GetRecord(index, time, group, message); });
    if (result != 1) {
        for (const char **out : outs)
            SetOut(out, nullptr);
        return result;
    }
    SetOut(subgroup, kEmpty);
    SetOut(ackMessage, kEmpty);
    SetOut(appendMessage, kEmpty);
    return 1;
}

int32_t LogTimeKey(const char *date, const char *time)
{
    Seconds s = 0;
    if (!date || !time || !tamsin::ParseDateTime(date, time, &s))
        return -1;
    if (s < 0 || s > INT32_MAX)
        return -1;
    return static_cast<int32_t>(s);
}

int32_t LogExportBefore(int32_t timeKey, const char *destinationPath)
{
    Lib().lastExport = ExportMark();
    return Guarded(0, [&] { return ExportBefore(timeKey, destinationPath); });
}

int32_t LogDeleteBefore(int32_t timeKey, const char *sourcePath)
{
    const ExportMark mark = Lib().lastExport;
    Lib().lastExport = ExportMark();
    return Guarded(0, [&] { return DeleteBefore(timeKey, sourcePath, mark); });
}

int32_t LogClose(void)
{
    Library &lib = Lib();
    lib.lastExport = ExportMark();
    if (!lib.current)
        return 0;
    lib.current.reset();
    std::string().swap(lib.message);
    return 1;
}

int32_t LogHasGroup(void)
{
    const Library &lib = Lib();
    return lib.current && !lib.current->index.SortedGroups().empty() ? 1 : 0;
}

int32_t LogHasSubgroup(void)
{
    return 0;
}

int32_t LogRefresh(int32_t *selected, int32_t *firstChanged)
{
    SetOut(selected, 0);
    SetOut(firstChanged, 0);
    return Guarded(-1, [&] { return Refresh(selected, firstChanged); });
}

int32_t LogCountBefore(int32_t timeKey)
{
    const Library &lib = Lib();
    if (!lib.current || timeKey < 0)
        return -1;
    const LogIndex &index = lib.current->index;
    size_t count = 0;
    for (size_t i = 0; i < index.Count(); ++i)
        count += index.Time(i) < timeKey ? 1 : 0;
    return static_cast<int32_t>(std::min<size_t>(count, INT32_MAX));
}

int32_t LogIsUtf8(void)
{
    const Library &lib = Lib();
    if (!lib.current)
        return -1;
    return lib.current->index.IsUtf8() ? 1 : 0;
}

} // extern "C"
