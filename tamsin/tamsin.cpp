#include "tamsin.h"

#include "logfile.h"
#include "logformat.h"

#include <algorithm>
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

struct CurrentFile
{
    std::string resolvedPath;
    tamsin::LogFile file;
    LogIndex index;
    tamsin::WindowReader reader;
    // Selected record numbers; when selectAll is set the selection is every
    // record and the vector stays empty, which is the common case.
    bool selectAll = true;
    std::vector<uint32_t> selection;

    size_t SelectedCount() const { return selectAll ? index.Count() : selection.size(); }
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
    Seconds from = 0;
    Seconds to = 0;
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

void SetOut(const char **out, const char *value)
{
    if (out)
        *out = value;
}

bool InFilter(const Library &lib, int32_t time)
{
    return !lib.timeFilter || (time >= lib.from && time <= lib.to);
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
    lib.current = std::move(current);
    return static_cast<int32_t>(lib.current->index.Count());
}

int32_t Select(const char *group, const char *subgroup)
{
    Library &lib = Lib();
    if (!lib.current)
        return -1;
    CurrentFile &current = *lib.current;
    const LogIndex &index = current.index;
    std::vector<uint32_t>().swap(current.selection);
    current.selectAll = false;

    // No record carries a subgroup, so only "any" or "none" can match.
    if (subgroup && *subgroup)
        return 0;
    int64_t wanted = -1;
    if (group) {
        wanted = index.FindGroup(group);
        if (wanted < 0)
            return 0;
    }
    if (!lib.timeFilter && wanted < 0) {
        current.selectAll = true;
        return static_cast<int32_t>(index.Count());
    }
    // Two passes: counting first lets the selection take exactly its size,
    // where growing it would leave up to half of it unused.
    const size_t count = index.Count();
    const auto matches = [&](size_t i) {
        return (wanted < 0 || index.Group(i) == wanted) && InFilter(lib, index.Time(i));
    };
    size_t selected = 0;
    for (size_t i = 0; i < count; ++i)
        selected += matches(i);
    if (selected == count) {
        current.selectAll = true;
        return static_cast<int32_t>(count);
    }
    current.selection.reserve(selected);
    for (size_t i = 0; i < count; ++i) {
        if (matches(i))
            current.selection.push_back(static_cast<uint32_t>(i));
    }
    return static_cast<int32_t>(selected);
}

int32_t GetRecord(int32_t index, const char **time, const char **group, const char **message)
{
    Library &lib = Lib();
    if (!lib.current || index < 0 || static_cast<size_t>(index) >= lib.current->SelectedCount())
        return -1;
    CurrentFile &current = *lib.current;
    const size_t record = current.selectAll ? static_cast<size_t>(index)
                                            : current.selection[static_cast<size_t>(index)];
    const uint64_t offset = current.index.Begin(record);
    const size_t size = static_cast<size_t>(current.index.End(record) - offset);
    const char *bytes = current.reader.Get(current.file.Descriptor(), offset, size);
    if (!bytes)
        return -1; // someone cut the file short behind our back

    if (time) {
        std::copy(bytes, bytes + tamsin::kStampLength, lib.time);
        lib.time[tamsin::kStampLength] = '\0';
        *time = lib.time;
    }
    SetOut(group, current.index.GroupName(current.index.Group(record)).c_str());
    if (message) {
        const void *nl = std::memchr(bytes, '\n', size);
        std::string_view line(bytes, nl ? static_cast<const char *>(nl) - bytes : size);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        tamsin::RecordHead head;
        if (!tamsin::ParseRecordHead(line, &head))
            return -1; // the bytes changed since they were indexed
        tamsin::AssembleMessage(bytes, size, head.messageBegin, &lib.message);
        *message = lib.message.c_str();
    }
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
    if (!tamsin::ReplaceFile(target, fd, ranges, tail, mode, false, 0, 0))
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
    if (!tamsin::ReplaceFile(path, fresh.Descriptor(), ranges, "", fresh.Mode(), true,
                             fresh.Owner(), fresh.OwnerGroup()))
        return 0;
    return 1;
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
    *group = lib.current->index.GroupName(sorted[static_cast<size_t>(cursor)]).c_str();
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

} // extern "C"
