#include "tamsin.h"

#include "logfile.h"
#include "logformat.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using tamsin::LogIndex;
using tamsin::Seconds;

struct CurrentFile
{
    std::string resolvedPath;
    tamsin::FileView view;
    LogIndex index;
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
    std::unique_ptr<CurrentFile> file;
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

// Spans of the records of index (over data) that are kept or removed.
std::vector<tamsin::Span> RecordSpans(const char *data, const LogIndex &index,
                                      const std::vector<bool> &take, bool withPreamble)
{
    std::vector<tamsin::Span> spans;
    if (withPreamble && index.Count() > 0 && index.Begin(0) > 0)
        spans.push_back({data, static_cast<size_t>(index.Begin(0))});
    for (size_t i = 0; i < index.Count(); ++i) {
        if (!take[i])
            continue;
        const char *begin = data + index.Begin(i);
        const size_t size = static_cast<size_t>(index.End(i) - index.Begin(i));
        if (!spans.empty() && spans.back().data + spans.back().size == begin)
            spans.back().size += size;
        else
            spans.push_back({begin, size});
    }
    return spans;
}

bool EndsWithLineEnd(const std::vector<tamsin::Span> &spans)
{
    return spans.empty() || spans.back().data[spans.back().size - 1] == '\n';
}

} // namespace

extern "C" {

int32_t LogOpen(const char *path)
{
    Library &lib = Lib();
    LogClose();
    if (!path || !*path)
        return -1;
    auto file = std::make_unique<CurrentFile>();
    file->resolvedPath = tamsin::ResolvePath(path);
    if (file->resolvedPath.empty() || !file->view.Open(file->resolvedPath, true))
        return -1;
    if (file->index.Build(file->view.Data(), file->view.Size()) != LogIndex::Status::Ok)
        return -1;
    lib.file = std::move(file);
    return static_cast<int32_t>(lib.file->index.Count());
}

int32_t LogGetGroup(int32_t cursor, const char **group)
{
    const Library &lib = Lib();
    if (!group || !lib.file)
        return -1;
    *group = nullptr;
    const auto &sorted = lib.file->index.SortedGroups();
    if (cursor < 0 || static_cast<size_t>(cursor) >= sorted.size())
        return 0;
    *group = lib.file->index.GroupName(sorted[static_cast<size_t>(cursor)]).c_str();
    return cursor + 1;
}

int32_t LogGetSubgroup(const char *group, int32_t cursor, const char **subgroup)
{
    (void)cursor;
    if (!group || !subgroup || !Lib().file)
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
    Library &lib = Lib();
    if (!lib.file)
        return -1;
    CurrentFile &file = *lib.file;
    const LogIndex &index = file.index;
    file.selection.clear();
    file.selection.shrink_to_fit();
    file.selectAll = false;

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
        file.selectAll = true;
        return static_cast<int32_t>(index.Count());
    }
    const size_t count = index.Count();
    for (size_t i = 0; i < count; ++i) {
        if ((wanted < 0 || index.Group(i) == wanted) && InFilter(lib, index.Time(i)))
            file.selection.push_back(static_cast<uint32_t>(i));
    }
    return static_cast<int32_t>(file.selection.size());
}

int32_t LogGetRecord(int32_t index, const char **time, const char **group, const char **subgroup,
                     const char **message, const char **ackMessage, const char **appendMessage)
{
    Library &lib = Lib();
    const char **outs[] = {time, group, subgroup, message, ackMessage, appendMessage};
    for (const char **out : outs)
        SetOut(out, nullptr);
    if (!lib.file || index < 0 || static_cast<size_t>(index) >= lib.file->SelectedCount())
        return -1;
    const CurrentFile &file = *lib.file;
    const size_t record =
        file.selectAll ? static_cast<size_t>(index) : file.selection[static_cast<size_t>(index)];
    const char *begin = file.view.Data() + file.index.Begin(record);
    const size_t size = static_cast<size_t>(file.index.End(record) - file.index.Begin(record));

    if (time) {
        std::copy(begin, begin + tamsin::kStampLength, lib.time);
        lib.time[tamsin::kStampLength] = '\0';
        *time = lib.time;
    }
    SetOut(group, file.index.GroupName(file.index.Group(record)).c_str());
    SetOut(subgroup, kEmpty);
    if (message) {
        const void *nl = std::memchr(begin, '\n', size);
        const size_t firstLine = nl ? static_cast<const char *>(nl) - begin : size;
        tamsin::RecordHead head;
        std::string_view line(begin, firstLine);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        tamsin::ParseRecordHead(line, &head);
        tamsin::AssembleMessage(begin, size, head.messageBegin, &lib.message);
        *message = lib.message.c_str();
    }
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
    Library &lib = Lib();
    lib.lastExport = ExportMark();
    if (!lib.file || timeKey < 0 || !destinationPath || !*destinationPath)
        return 0;
    const CurrentFile &file = *lib.file;
    const std::string target = tamsin::ResolvePath(destinationPath);
    if (target.empty() || target == file.resolvedPath)
        return 0;
    mode_t mode = tamsin::NewFileMode();
    struct stat existing;
    if (::stat(target.c_str(), &existing) == 0) {
        // The open file, or whatever now lives at its path, must survive.
        if (!S_ISREG(existing.st_mode) ||
            (existing.st_dev == file.view.Device() && existing.st_ino == file.view.Inode()))
            return 0;
        mode = existing.st_mode & 07777;
    }

    const LogIndex &index = file.index;
    std::vector<bool> take(index.Count());
    for (size_t i = 0; i < index.Count(); ++i)
        take[i] = index.Time(i) < timeKey;
    std::vector<tamsin::Span> spans = RecordSpans(file.view.Data(), index, take, false);
    // A last line the file never terminated still ends as a line here, so
    // whatever is appended to the export later starts a line of its own.
    if (!EndsWithLineEnd(spans))
        spans.push_back({"\r\n", 2});
    if (!tamsin::ReplaceFile(target, spans, mode, false, 0, 0))
        return 0;
    lib.lastExport = {true, timeKey, file.view.Device(), file.view.Inode(), file.view.Size()};
    return 1;
}

int32_t LogDeleteBefore(int32_t timeKey, const char *sourcePath)
{
    Library &lib = Lib();
    const ExportMark mark = lib.lastExport;
    lib.lastExport = ExportMark();
    if (timeKey < 0 || !sourcePath || !*sourcePath)
        return 0;
    const std::string path = tamsin::ResolvePath(sourcePath);
    if (path.empty())
        return 0;
    const bool completesMove =
        mark.valid && mark.key == timeKey && lib.file && path == lib.file->resolvedPath &&
        mark.device == lib.file->view.Device() && mark.inode == lib.file->view.Inode();

    tamsin::ExclusiveLock lock;
    if (!lock.Acquire(path))
        return 0;
    // Under the lock nobody appends, so what is read now is the whole file.
    tamsin::FileView fresh;
    if (!fresh.Map(lock.Descriptor()))
        return 0;
    uint64_t limit = fresh.Size();
    if (completesMove) {
        // The export wrote records from the bytes mapped at open; if the
        // file was replaced since, those records cannot be told apart.
        if (fresh.Device() != mark.device || fresh.Inode() != mark.inode)
            return 0;
        limit = mark.size;
    }
    LogIndex index;
    if (index.Build(fresh.Data(), fresh.Size()) != LogIndex::Status::Ok)
        return 0;

    std::vector<bool> keep(index.Count());
    bool removesAny = false;
    for (size_t i = 0; i < index.Count(); ++i) {
        keep[i] = !(index.Time(i) < timeKey && index.Begin(i) < limit);
        removesAny = removesAny || !keep[i];
    }
    if (!removesAny)
        return 1;
    const std::vector<tamsin::Span> spans = RecordSpans(fresh.Data(), index, keep, true);
    if (!tamsin::ReplaceFile(path, spans, fresh.Mode(), true, fresh.Owner(), fresh.OwnerGroup()))
        return 0;
    return 1;
}

int32_t LogClose(void)
{
    Library &lib = Lib();
    lib.lastExport = ExportMark();
    if (!lib.file)
        return 0;
    lib.file.reset();
    lib.message.clear();
    lib.message.shrink_to_fit();
    return 1;
}

int32_t LogHasGroup(void)
{
    const Library &lib = Lib();
    return lib.file && !lib.file->index.SortedGroups().empty() ? 1 : 0;
}

int32_t LogHasSubgroup(void)
{
    return 0;
}

} // extern "C"
