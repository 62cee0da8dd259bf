#include "logfile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tamsin {

namespace {

bool LockRetrying(int fd, int operation)
{
    while (flock(fd, operation) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
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

// Collects spans into large writes: an export of scattered records would
// otherwise cost one system call per record.
class Writer
{
public:
    explicit Writer(int fd) : m_fd(fd) { m_buffer.reserve(kBuffer); }

    bool Add(const char *data, size_t size)
    {
        if (m_buffer.size() + size > kBuffer && !Flush())
            return false;
        if (size >= kBuffer)
            return WriteAll(data, size);
        m_buffer.append(data, size);
        return true;
    }

    bool Flush()
    {
        const bool ok = WriteAll(m_buffer.data(), m_buffer.size());
        m_buffer.clear();
        return ok;
    }

private:
    static constexpr size_t kBuffer = 1 << 20;

    bool WriteAll(const char *data, size_t size)
    {
        while (size > 0) {
            const ssize_t n = ::write(m_fd, data, size);
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

    int m_fd;
    std::string m_buffer;
};

} // namespace

FileView::~FileView()
{
    Release();
}

void FileView::Release()
{
    if (m_map)
        munmap(m_map, m_size);
    m_map = nullptr;
    m_data = "";
    m_size = 0;
}

bool FileView::Open(const std::string &path, bool sharedLock)
{
    Release();
    // O_NONBLOCK: a FIFO given as a log must not hang the caller.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        CloseQuietly(fd);
        return false;
    }
    // A file system without flock still gets read; the lock only keeps a
    // half-appended record out of view.
    const bool locked = sharedLock && LockRetrying(fd, LOCK_SH);
    const bool ok = Map(fd);
    if (locked)
        flock(fd, LOCK_UN);
    CloseQuietly(fd);
    return ok;
}

bool FileView::Map(int fd)
{
    Release();
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    m_dev = st.st_dev;
    m_ino = st.st_ino;
    m_mode = st.st_mode & 07777;
    m_uid = st.st_uid;
    m_gid = st.st_gid;
    if (st.st_size == 0)
        return true;
    if (static_cast<unsigned long long>(st.st_size) > SIZE_MAX)
        return false;
    const size_t size = static_cast<size_t>(st.st_size);
    void *map = mmap(nullptr, size, PROT_READ, MAP_SHARED | MAP_POPULATE, fd, 0);
    if (map == MAP_FAILED)
        return false;
    madvise(map, size, MADV_SEQUENTIAL);
    m_map = map;
    m_data = static_cast<const char *>(map);
    m_size = size;
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
        if (!LockRetrying(m_fd, LOCK_EX))
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

bool ReplaceFile(const std::string &path, const std::vector<Span> &spans, mode_t mode,
                 bool keepOwner, uid_t uid, gid_t gid)
{
    const std::string folder = FolderOf(path);
    std::string temp = folder + "/.tamsin-XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = fchmod(fd, mode) == 0;
    if (ok && keepOwner && fchown(fd, uid, gid) != 0) {
        // Only root may give a file away; a user rewriting a file they may
        // write keeps the folder's defaults for the owner, as an editor would.
    }
    if (ok) {
        Writer writer(fd);
        for (const Span &span : spans) {
            if (!(ok = writer.Add(span.data, span.size)))
                break;
        }
        ok = ok && writer.Flush();
    }
    ok = ok && fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return false;
    ok = fsync(dir) == 0;
    CloseQuietly(dir);
    return ok;
}

} // namespace tamsin
