#include "logfile.h"

#include "database.h"
#include "globals.h"
#include "outputpaths.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillet {

QByteArray FormatAlarmRecord(const QDateTime &smsDate, const QString &callerID,
                             const QString &message)
{
    QString body;
    body.reserve(message.size() + 8);
    for (qsizetype i = 0; i < message.size(); ++i) {
        const QChar c = message.at(i);
        body += c;
        const bool lineBreak =
            c == QLatin1Char('\n') ||
            (c == QLatin1Char('\r') &&
             !(i + 1 < message.size() && message.at(i + 1) == QLatin1Char('\n')));
        if (lineBreak && i + 1 < message.size())
            body += QLatin1Char(' ');
    }
    const QString line = smsDate.toString(QStringLiteral("MM/dd/yyyy HH:mm:ss")) +
                         QStringLiteral(" [") + callerID + QStringLiteral("] ") + body +
                         QStringLiteral("\r\n");
    return line.toUtf8();
}

namespace {

class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

} // namespace

bool AppendLocked(const QString &path, const QByteArray &record)
{
    const QByteArray native = QFile::encodeName(path);
    // The viewer's library may rename a rewritten file over this path while we
    // wait for the lock; then the locked descriptor names the old file, and
    // writing there would lose the record. Re-open until both agree.
    for (int attempt = 0; attempt < 50; ++attempt) {
        Fd fd(::open(native.constData(), O_WRONLY | O_APPEND | O_CLOEXEC));
        if (fd.get() < 0)
            return false;
        int rc;
        do {
            rc = ::flock(fd.get(), LOCK_EX);
        } while (rc < 0 && errno == EINTR);
        if (rc < 0)
            return false;
        struct stat locked
        {
        }, named{};
        if (::fstat(fd.get(), &locked) != 0)
            return false;
        if (::stat(native.constData(), &named) != 0 || named.st_ino != locked.st_ino ||
            named.st_dev != locked.st_dev)
            continue; // replaced under us: closing releases the lock
        const bool ok = writeAll(fd.get(), record) && ::fsync(fd.get()) == 0;
        ::flock(fd.get(), LOCK_UN);
        return ok;
    }
    return false;
}

bool WriteAlarmRecord(const QDateTime &smsDate, const QString &callerID, const QString &message)
{
    const QByteArray record = FormatAlarmRecord(smsDate, callerID, message);
    if (!CheckLogFilePath(true))
        return false;
    if (!AppendLocked(G.LogFileFullPath, record)) {
        // Make the next record run the full check again, which re-creates a
        // file that went away.
        G.LastLogFileFullPath.clear();
        return false;
    }
    if (G.IsSaveAsMDB && CheckMDBFilePath(true))
        InsertAlarmRow(smsDate, callerID, message);
    return true;
}

} // namespace quillet
