#include "logfile.h"

#include "bigbuffer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tamsin {

namespace {

// The logger holds the lock only for one write, so a lock that stays taken
// for long belongs to something stuck; the viewer must not hang on it for
// ever. Polling (rather than a blocking flock) keeps the wait bounded.
constexpr auto kLockPatience = std::chrono::seconds(20);

bool LockBounded(int fd, int operation,
                 std::chrono::steady_clock::duration patience = kLockPatience)
{
    const auto deadline = std::chrono::steady_clock::now() + patience;
    auto pause = std::chrono::microseconds(50);
    for (;;) {
        if (flock(fd, operation | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(pause);
        pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(5));
    }
}

void CloseQuietly(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

std::string FolderOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Copies ranges through one buffer: scattered records become large writes.
bool CopyRanges(int from, const std::vector<Range> &ranges, int to)
{
    constexpr size_t kBuffer = 1 << 20;
    std::vector<char> buffer(kBuffer);
    size_t used = 0;
    for (const Range &range : ranges) {
        uint64_t offset = range.offset;
        uint64_t left = range.size;
        while (left > 0) {
            if (used == kBuffer) {
                if (!WriteAll(to, buffer.data(), used))
                    return false;
                used = 0;
            }
            const size_t n = static_cast<size_t>(std::min<uint64_t>(left, kBuffer - used));
            if (!ReadExactly(from, buffer.data() + used, n, offset))
                return false;
            used += n;
            offset += n;
            left -= n;
        }
    }
    return WriteAll(to, buffer.data(), used);
}

} // namespace

LogFile::~LogFile()
{
    if (m_owned)
        CloseQuietly(m_fd);
}

bool LogFile::Stat()
{
    struct stat st;
    if (fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    m_size = static_cast<uint64_t>(st.st_size);
    m_dev = st.st_dev;
    m_ino = st.st_ino;
    m_mode = st.st_mode & 07777;
    m_uid = st.st_uid;
    m_gid = st.st_gid;
    return true;
}

bool LogFile::Open(const std::string &path, bool sharedLock)
{
    // O_NONBLOCK: a FIFO given as a log must not hang the caller.
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (m_fd < 0)
        return false;
    m_owned = true;
    struct stat st;
    if (fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    // A file system without flock is still read; the lock only keeps a
    // half-appended record out of view.
    const bool locked = sharedLock && LockBounded(m_fd, LOCK_SH);
    const bool ok = Stat();
    if (locked)
        flock(m_fd, LOCK_UN);
    return ok;
}

bool LogFile::Remeasure(std::chrono::milliseconds patience)
{
    if (m_fd < 0 || !LockBounded(m_fd, LOCK_SH, patience))
        return false;
    const bool ok = Stat();
    flock(m_fd, LOCK_UN);
    return ok;
}

bool LogFile::Attach(int fd)
{
    m_fd = fd;
    m_owned = false;
    return Stat();
}

const char *WindowReader::Get(int fd, uint64_t offset, size_t size)
{
    if (fd == m_fd && offset >= m_from && offset + size <= m_from + m_held)
        return m_buffer.data() + (offset - m_from);
    // Reading on from the window (rows in file order) takes a whole window;
    // a jump elsewhere (rows in time order of a file written out of order)
    // takes a page, or one read per row would copy a window each.
    const bool onward = fd == m_fd && offset >= m_from && offset < m_from + m_held + kWindow;
    m_fd = -1;
    m_held = 0;
    const size_t want = std::max(size, onward ? kWindow : kJump);
    if (m_buffer.size() < want)
        m_buffer.resize(want);
    // Read as much of the window as the file has, but at least the record.
    size_t held = 0;
    while (held < want) {
        const ssize_t n =
            ::pread(fd, m_buffer.data() + held, want - held, static_cast<off_t>(offset + held));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        held += static_cast<size_t>(n);
    }
    if (held < size)
        return nullptr;
    m_fd = fd;
    m_from = offset;
    m_held = held;
    return m_buffer.data();
}

bool WindowReader::Stream(int fd, uint64_t from, uint64_t to,
                          const std::function<void(const char *, size_t)> &take)
{
    m_fd = -1; // the buffer is the stream's now
    m_held = 0;
    if (m_buffer.size() < kWindow)
        m_buffer.resize(kWindow);
    bool holes = true;
    while (from < to) {
        if (holes) {
            // A hole reads as NUL bytes; a sparse file's need not be read.
            const off_t data = ::lseek(fd, static_cast<off_t>(from), SEEK_DATA);
            const uint64_t next = data >= 0 ? std::min<uint64_t>(static_cast<uint64_t>(data), to)
                                  : errno == ENXIO ? to
                                                   : from;
            holes = data >= 0 || errno == ENXIO;
            if (next > from) {
                take(nullptr, static_cast<size_t>(std::min<uint64_t>(next - from, SIZE_MAX)));
                from = next;
                continue;
            }
        }
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kWindow, to - from));
        const ssize_t n = ::pread(fd, m_buffer.data(), want, static_cast<off_t>(from));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        take(m_buffer.data(), static_cast<size_t>(n));
        from += static_cast<uint64_t>(n);
    }
    return true;
}

ExclusiveLock::~ExclusiveLock()
{
    CloseQuietly(m_fd);
}

bool ExclusiveLock::Acquire(const std::string &path)
{
    // Each retry means another writer replaced the file while we waited;
    // a bound keeps a pathological rename storm from spinning for ever.
    for (int attempt = 0; attempt < 100; ++attempt) {
        CloseQuietly(m_fd);
        m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (m_fd < 0)
            return false;
        if (!LockBounded(m_fd, LOCK_EX))
            break;
        struct stat held;
        struct stat named;
        if (fstat(m_fd, &held) != 0 || !S_ISREG(held.st_mode))
            break;
        if (::stat(path.c_str(), &named) != 0)
            break;
        if (held.st_dev == named.st_dev && held.st_ino == named.st_ino)
            return true;
    }
    CloseQuietly(m_fd);
    m_fd = -1;
    return false;
}

std::string ResolvePath(const std::string &path)
{
    if (path.empty())
        return {};
    if (char *real = realpath(path.c_str(), nullptr)) {
        std::string resolved(real);
        std::free(real);
        return resolved;
    }
    if (errno != ENOENT)
        return {};
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..")
        return {};
    char *folder = realpath(FolderOf(path).c_str(), nullptr);
    if (!folder)
        return {};
    std::string resolved(folder);
    std::free(folder);
    if (resolved != "/")
        resolved += '/';
    return resolved + name;
}

mode_t NewFileMode()
{
    const mode_t mask = umask(022);
    umask(mask);
    return 0666 & ~mask;
}

Replaced ReplaceFile(const std::string &path, int sourceFd, const std::vector<Range> &ranges,
                     const std::string &tail, mode_t mode, bool keepOwner, uid_t uid, gid_t gid)
{
    const std::string folder = FolderOf(path);
    std::string temp = folder + "/.tamsin-XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return Replaced::No;
    bool ok = fchmod(fd, mode) == 0;
    if (ok && keepOwner && fchown(fd, uid, gid) != 0) {
        // Only root may give a file away; a user rewriting a file they may
        // write keeps the folder's defaults for the owner, as an editor would.
    }
    ok = ok && CopyRanges(sourceFd, ranges, fd) && WriteAll(fd, tail.data(), tail.size());
    ok = ok && fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return Replaced::No;
    }
    // From the rename on the path holds the new content, whatever the
    // folder's sync says: the caller must not report the file unchanged.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return Replaced::Unsynced;
    ok = fsync(dir) == 0;
    CloseQuietly(dir);
    return ok ? Replaced::Yes : Replaced::Unsynced;
}

} // namespace tamsin
