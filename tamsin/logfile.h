#pragma once

// File access for the library: read-only mappings, the exclusive lock shared
// with the logger, and replacing a file through a temporary one.

#include <cstddef>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tamsin {

// The bytes of a regular file, mapped read-only and shared with every other
// reader. The mapping keeps the inode alive even after the path is replaced.
class FileView
{
public:
    FileView() = default;
    FileView(const FileView &) = delete;
    FileView &operator=(const FileView &) = delete;
    ~FileView();

    // Opens path for reading. With sharedLock the size is taken under
    // flock(LOCK_SH), so a record being appended is either whole or absent.
    bool Open(const std::string &path, bool sharedLock);
    // Maps the current size of an already opened (and locked) descriptor.
    bool Map(int fd);

    const char *Data() const { return m_data; }
    size_t Size() const { return m_size; }
    dev_t Device() const { return m_dev; }
    ino_t Inode() const { return m_ino; }
    mode_t Mode() const { return m_mode; }
    uid_t Owner() const { return m_uid; }
    gid_t OwnerGroup() const { return m_gid; }

private:
    void Release();

    void *m_map = nullptr;
    const char *m_data = "";
    size_t m_size = 0;
    dev_t m_dev = 0;
    ino_t m_ino = 0;
    mode_t m_mode = 0;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
};

// flock(LOCK_EX) on the file at a path. After the lock is granted the
// descriptor must still name the path's inode: someone may have renamed a
// new file over it while we waited, and a lock on the old inode protects
// nothing. Released when destroyed.
class ExclusiveLock
{
public:
    ExclusiveLock() = default;
    ExclusiveLock(const ExclusiveLock &) = delete;
    ExclusiveLock &operator=(const ExclusiveLock &) = delete;
    ~ExclusiveLock();

    bool Acquire(const std::string &path);
    int Descriptor() const { return m_fd; }

private:
    int m_fd = -1;
};

struct Span
{
    const char *data;
    size_t size;
};

// The absolute path with symbolic links resolved, so a rename replaces the
// file and not a link to it. A path that does not exist yet keeps its last
// component. Empty when the folder does not exist.
std::string ResolvePath(const std::string &path);

// Replaces path with the spans written in order: a temporary file in the
// same folder, fsync, rename over path, fsync of the folder. On failure path
// is untouched and the temporary file removed.
bool ReplaceFile(const std::string &path, const std::vector<Span> &spans, mode_t mode,
                 bool keepOwner, uid_t uid, gid_t gid);

// Mode for a new file: rw for all, less the process umask.
mode_t NewFileMode();

} // namespace tamsin
