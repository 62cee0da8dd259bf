#include "logfile.h"

#include "database.h"
#include "filehelpers.h"
#include "globals.h"
#include "hostservices.h"
#include "outputpaths.h"
#include "timetext.h"
#include "uievents.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillet {

namespace {

bool isVisibleSymbolCandidate(QChar c, bool oneLine)
{
    const char16_t u = c.unicode();
    if (u >= 0x20)
        return false;
    if (u == u'\t')
        return false;
    return oneLine || (u != u'\r' && u != u'\n');
}

// U+2400 ("␀") onwards are the visible symbols of the C0 controls.
QString withVisibleControls(const QString &text, bool oneLine)
{
    QString out = text;
    for (QChar &c : out) {
        if (isVisibleSymbolCandidate(c, oneLine))
            c = QChar(char16_t(0x2400 + c.unicode()));
    }
    return out;
}

} // namespace

QByteArray FormatAlarmRecord(const QDateTime &smsDate, const QString &callerID,
                             const QString &message)
{
    if (!smsDate.isValid())
        return {};
    const QString text = withVisibleControls(message, false);
    QString body;
    body.reserve(text.size() + 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        body += text.at(i);
        if (text.at(i) == QLatin1Char('\n') && i + 1 < text.size())
            body += QLatin1Char(' ');
    }
    const QString line = timetext::Format(smsDate) + QStringLiteral(" [") +
                         withVisibleControls(callerID, true) + QStringLiteral("] ") + body +
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

bool readAt(int fd, qint64 offset, qint64 count, QByteArray &out)
{
    out.resize(count);
    qint64 done = 0;
    while (done < count) {
        const ssize_t n =
            ::pread(fd, out.data() + done, size_t(count - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// The end of the file holds what a power cut left of this very record at
// `torn` (its first bytes, or blocks the file system never filled: zeros),
// and nothing else.
bool endsInTornRecord(int fd, const struct stat &locked, const QByteArray &record,
                      const LogPlace &torn)
{
    if (quint64(locked.st_dev) != torn.device || quint64(locked.st_ino) != torn.inode ||
        torn.offset < 0 || locked.st_size <= torn.offset ||
        locked.st_size >= torn.offset + record.size())
        return false;
    QByteArray tail;
    if (!readAt(fd, torn.offset, qint64(locked.st_size) - torn.offset, tail))
        return false;
    for (qsizetype i = 0; i < tail.size(); ++i) {
        if (tail.at(i) != record.at(i) && tail.at(i) != '\0')
            return false;
    }
    return true;
}

// Under the lock: the record, with a line end in front when the file's last
// byte is not one (a line written by something else must not swallow it).
bool appendUnderLock(int fd, struct stat locked, const QByteArray &record,
                     const BeforeAppend &before, const LogPlace *torn)
{
    if (torn && endsInTornRecord(fd, locked, record, *torn) &&
        ::ftruncate(fd, off_t(torn->offset)) == 0) {
        WriteDebugTrace(QStringLiteral("Log: %1 bytes of a record cut short by a crash removed")
                            .arg(qint64(locked.st_size) - torn->offset));
        locked.st_size = off_t(torn->offset);
    }
    const off_t size = locked.st_size;
    QByteArray bytes = record;
    QByteArray last;
    if (size > 0 && readAt(fd, size - 1, 1, last) && last != "\n")
        bytes.prepend("\r\n");
    if (before)
        before({quint64(locked.st_dev), quint64(locked.st_ino),
                qint64(size) + bytes.size() - record.size()});
    if (WriteFully(fd, bytes) && ::fsync(fd) == 0)
        return true;
    const int error = errno;
    // A full disk took part of the record, or its blocks could not be made
    // durable: cut it away, so that the retry appends to whole records.
    if (::ftruncate(fd, size) == 0)
        ::fsync(fd);
    errno = error;
    return false;
}

} // namespace

namespace {

// A blocked wait never sleeps longer than this before events run again.
constexpr int kLockSliceMs = 20;

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

enum class LockResult
{
    Taken,
    Locked,
    Failed,
};

// flock(LOCK_EX) without blocking the only thread: short tries until the
// deadline, with events run between them.
LockResult takeLock(int fd, const QDeadlineTimer &deadline, const std::function<bool()> &stop)
{
    const bool stoppedBefore = stop && stop();
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return LockResult::Taken;
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK)
            return LockResult::Failed;
        if (deadline.hasExpired() || (!stoppedBefore && stop && stop()))
            return LockResult::Locked;
        ProcessPendingEvents();
        QThread::msleep(ulong(qBound(qint64(1), deadline.remainingTime(), qint64(kLockSliceMs))));
    }
}

} // namespace

HistoryLog::HistoryLog(GlobalState *settings) : m_settings(settings ? *settings : G) {}

void HistoryLog::setLockWaitMs(int ms)
{
    m_lockWaitMs = qMax(0, ms);
    m_lockTimedOut.invalidate();
}

void HistoryLog::setProblem(const QString &problem)
{
    if (problem == m_problem)
        return;
    m_problem = problem;
    WriteDebugTrace(problem.isEmpty() ? QStringLiteral("Log: records land again")
                                      : QStringLiteral("Log: ") + problem +
                                            QStringLiteral("; the message stays on the SIM"));
    if (problemChanged)
        problemChanged(problem);
}

bool HistoryLog::AppendLocked(const QString &path, const QByteArray &record,
                              const BeforeAppend &before, const LogPlace *torn)
{
    const QByteArray native = QFile::encodeName(path);
    const bool stillStuck = m_lockTimedOut.isValid() && !m_lockTimedOut.hasExpired(m_lockWaitMs);
    const QDeadlineTimer deadline(stillStuck ? 0 : m_lockWaitMs);
    // The viewer's library may rename a rewritten file over this path while we
    // wait for the lock; then the locked descriptor names the old file, and
    // writing there would lose the record. Re-open until both agree.
    for (int attempt = 0; attempt < 50; ++attempt) {
        // Read access tells whether the file ends in a line end; a file we
        // may only write to is appended to as it is.
        Fd fd(::open(native.constData(), O_RDWR | O_APPEND | O_CLOEXEC));
        if (fd.get() < 0 && errno == EACCES)
            fd.reset(::open(native.constData(), O_WRONLY | O_APPEND | O_CLOEXEC));
        if (fd.get() < 0) {
            m_lastFailure = QStringLiteral("cannot open the log: ") + errnoText(errno);
            return false;
        }
        const LockResult lock = takeLock(fd.get(), deadline, stopWaiting);
        if (lock == LockResult::Locked) {
            if (deadline.hasExpired())
                m_lockTimedOut.start();
            m_lastFailure = QStringLiteral("log locked by another program");
            return false;
        }
        if (lock == LockResult::Failed) {
            m_lastFailure = QStringLiteral("cannot lock the log: ") + errnoText(errno);
            return false;
        }
        m_lockTimedOut.invalidate();
        struct stat locked
        {
        }, named{};
        if (::fstat(fd.get(), &locked) != 0) {
            m_lastFailure = QStringLiteral("cannot read the log: ") + errnoText(errno);
            return false;
        }
        if (::stat(native.constData(), &named) != 0 || named.st_ino != locked.st_ino ||
            named.st_dev != locked.st_dev)
            continue; // replaced under us: closing releases the lock
        const bool ok = appendUnderLock(fd.get(), locked, record, before, torn);
        if (!ok)
            m_lastFailure = QStringLiteral("cannot write the log: ") + errnoText(errno);
        ::flock(fd.get(), LOCK_UN);
        return ok;
    }
    m_lastFailure = QStringLiteral("the log is replaced again and again");
    return false;
}

bool HistoryLog::CheckPath(bool exitOnError)
{
    QString folderProblem;
    if (!CheckLogFilePath(exitOnError, m_settings, &folderProblem)) {
        // A share not mounted yet, a file where the folder goes: the messages
        // wait on the SIM, and every record tries again.
        if (!folderProblem.isEmpty()) {
            m_folderProblem = folderProblem;
            setProblem(folderProblem);
        }
        return false;
    }
    if (!m_folderProblem.isEmpty() && m_problem == m_folderProblem)
        setProblem({});
    m_folderProblem.clear();
    return true;
}

void HistoryLog::RecheckFolder()
{
    if (m_folderProblem.isEmpty() || m_problem != m_folderProblem)
        return;
    const QString path = LogPathSetting(m_settings);
    // A path that became a setting error is left to the next record's check.
    if (!EndsWithSeparator(path) && !FolderExists(path))
        CheckPath(true);
}

bool HistoryLog::AppendAlarmRecord(const QDateTime &smsDate, const QString &callerID,
                                   const QString &message, const BeforeAppend &before,
                                   const LogPlace *torn)
{
    const QByteArray record = FormatAlarmRecord(smsDate, callerID, message);
    if (record.isEmpty() || !CheckPath(true))
        return false;
    if (!AppendLocked(m_settings.LogFileFullPath, record, before, torn)) {
        setProblem(m_lastFailure);
        // Make the next record run the full check again, which re-creates a
        // file that went away.
        m_settings.LastLogFileFullPath.clear();
        return false;
    }
    setProblem({});
    return true;
}

bool HistoryLog::WriteAlarmRecord(const QDateTime &smsDate, const QString &callerID,
                                  const QString &message)
{
    if (!AppendAlarmRecord(smsDate, callerID, message))
        return false;
    if (G.IsSaveAsMDB && CheckMDBFilePath(true))
        InsertAlarmRow(smsDate, callerID, message);
    return true;
}

bool LogHoldsRecord(const QString &path, const LogPlace &place, const QByteArray &record)
{
    Fd fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
    struct stat st
    {
    };
    if (record.isEmpty() || fd.get() < 0 || ::fstat(fd.get(), &st) != 0)
        return false;
    QByteArray bytes;
    if (quint64(st.st_dev) == place.device && quint64(st.st_ino) == place.inode) {
        // The same file only ever grew, or was cut back to whole records.
        return place.offset >= 0 && place.offset + record.size() <= st.st_size &&
               readAt(fd.get(), place.offset, record.size(), bytes) && bytes == record;
    }
    constexpr qint64 kTail = 4 << 20;
    const qint64 from = qMax<qint64>(0, qint64(st.st_size) - kTail - record.size());
    if (!readAt(fd.get(), from, qint64(st.st_size) - from, bytes))
        return false;
    if (from == 0 && bytes.startsWith(record))
        return true;
    return bytes.contains("\n" + record);
}

} // namespace quillet
