#pragma once

// File access for the library: read-only mappings, the exclusive lock shared
// with the logger, and replacing a file through a temporary one.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tamsin {

// A regular file opened for reading only, shared with every other reader
// and with the logger. The descriptor keeps the inode alive even after a
// rewrite renames another file over the path, so what was indexed stays
// readable.
class LogFile
{
public:
    LogFile() = default;
    LogFile(const LogFile &) = delete;
    LogFile &operator=(const LogFile &) = delete;
    ~LogFile();

    // Opens path. With sharedLock the size is taken under flock(LOCK_SH),
    // so a record being appended is either whole or not yet there.
    bool Open(const std::string &path, bool sharedLock);
    // Takes the size again, the same way, waiting at most patience for the
    // lock; false when the lock stayed taken or the file cannot be read.
    bool Remeasure(std::chrono::milliseconds patience);
    // Takes over an opened (and locked) descriptor; it stays owned by the caller.
    bool Attach(int fd);

    int Descriptor() const { return m_fd; }
    uint64_t Size() const { return m_size; }
    dev_t Device() const { return m_dev; }
    ino_t Inode() const { return m_ino; }
    mode_t Mode() const { return m_mode; }
    uid_t Owner() const { return m_uid; }
    gid_t OwnerGroup() const { return m_gid; }

private:
    bool Stat();

    int m_fd = -1;
    bool m_owned = false;
    uint64_t m_size = 0;
    dev_t m_dev = 0;
    ino_t m_ino = 0;
    mode_t m_mode = 0;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
};

// Bytes of a file through a window read with pread(): a viewer asks for
// neighbouring records, so one read serves many of them.
class WindowReader
{
public:
    // The bytes [offset, offset + size) of fd, valid until the next call,
    // or nullptr when the file no longer holds them.
    const char *Get(int fd, uint64_t offset, size_t size);
    // Hands the bytes [from, to) of fd to take piece by piece through the
    // window's buffer; holes of a sparse file come as take(nullptr, n).
    // False when the file no longer holds them all.
    bool Stream(int fd, uint64_t from, uint64_t to,
                const std::function<void(const char *, size_t)> &take);

    // Records up to this size are read whole; longer ones are streamed.
    static constexpr size_t kWindow = 256 * 1024;
    // What a read away from the window takes.
    static constexpr size_t kJump = 4096;

private:
    std::vector<char> m_buffer;
    int m_fd = -1;
    uint64_t m_from = 0;
    size_t m_held = 0;
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

// Bytes [offset, offset + size) of a source file.
struct Range
{
    uint64_t offset;
    uint64_t size;
};

// The absolute path with symbolic links resolved, so a rename replaces the
// file and not a link to it. A path that does not exist yet keeps its last
// component. Empty when the folder does not exist.
std::string ResolvePath(const std::string &path);

enum class Replaced
{
    No,       // path is untouched and the temporary file removed
    Yes,      // path holds the new content, and the folder entry is on disk
    Unsynced, // path holds the new content, but the folder could not be synced
};

// Replaces path with the ranges of sourceFd written in order, then tail: a
// temporary file in the same folder, fsync, rename over path, fsync of the
// folder.
Replaced ReplaceFile(const std::string &path, int sourceFd, const std::vector<Range> &ranges,
                     const std::string &tail, mode_t mode, bool keepOwner, uid_t uid, gid_t gid);

// Mode for a new file: rw for all, less the process umask.
mode_t NewFileMode();

} // namespace tamsin
