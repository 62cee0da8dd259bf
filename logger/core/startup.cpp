#include "startup.h"

#include "database.h"
#include "filehelpers.h"
#include "globals.h"
#include "hostservices.h"
#include "outputpaths.h"
#include "pipeline.h"
#include "settings.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace quillet {

namespace {

// One logger per configuration folder, so that a machine with two modems runs
// two loggers, each in a folder of its own. The lock lives in the folder
// itself: every copy that uses the folder sees it, whatever private /tmp a
// service manager gives each one.
QString FolderLockPath(const QDir &folder)
{
    return folder.absoluteFilePath(QStringLiteral("Quillet.lock"));
}

// Where a folder the logger may not write in (its settings kept read-only)
// has its lock instead: in the temp folder, under the folder's own name.
QString TempLockPath(const QDir &folder)
{
    return QDir::tempPath() + QLatin1Char('/') + FolderFileName(folder, QStringLiteral(".lock"));
}

} // namespace

QString FolderFileName(const QDir &folder, const QString &suffix)
{
    const QByteArray path = QFile::encodeName(folder.canonicalPath());
    return QStringLiteral("quillet-") +
           QString::fromLatin1(
               QCryptographicHash::hash(path, QCryptographicHash::Sha1).toHex().left(16)) +
           suffix;
}

bool InstanceLockHeld(const QDir &folder)
{
    // A running owner keeps its lock file flock'ed; asking for a shared lock
    // without waiting tells whether it does, and changes nothing.
    for (const QString &path : {FolderLockPath(folder), TempLockPath(folder)}) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        ::close(fd);
        if (held)
            return true;
    }
    return false;
}

bool AcquireInstanceLock(QLockFile &lock)
{
    lock.setStaleLockTime(0); // only an owner that is gone makes the lock stale
    if (lock.tryLock(0))
        return true;
    if (lock.error() != QLockFile::LockFailedError)
        return false;
    // Qt judges an owner by the process id in the file, which after a crash
    // or a power cut may belong to another live process: to the logger of the
    // next folder, started at the same boot, too. A live owner keeps the file
    // locked (flock) for as long as it runs, and a stale lock is removed only
    // when nobody holds that, so asking for the removal is the test.
    // One exception: an owner writes its name just after making the file, so
    // a file without a name that is only a moment old may be an owner that is
    // just starting; an older one is left from a start killed at once.
    qint64 pid = 0;
    QString host, app;
    const QFileInfo file(lock.fileName());
    if (!lock.getLockInfo(&pid, &host, &app) &&
        file.lastModified().secsTo(QDateTime::currentDateTime()) < 2)
        return false;
    return lock.removeStaleLockFile() && lock.tryLock(0);
}

std::unique_ptr<QLockFile> TakeInstanceLock()
{
    const QDir here = QDir::current();
    auto lock = std::make_unique<QLockFile>(FolderLockPath(here));
    if (AcquireInstanceLock(*lock))
        return lock;
    if (lock->error() == QLockFile::LockFailedError)
        return nullptr;
    lock = std::make_unique<QLockFile>(TempLockPath(here));
    return AcquireInstanceLock(*lock) ? std::move(lock) : nullptr;
}

bool StartUp(AlarmPipeline &pipeline)
{
    pipeline.ReceivedSMSCount = 0;

    if (!FileExists(G.SettingFile)) {
        MsgBox(QStringLiteral("找不到Quillet的設定檔:") + G.SettingFile +
                   QStringLiteral("\r\n程式無法執行!"),
               BoxButtons::Ok, BoxIcon::Critical, QStringLiteral("找不到Quillet的設定檔"));
        pipeline.ExitSystem(false);
        return false;
    }
    if (!FileExists(G.SystemFile)) {
        MsgBox(QStringLiteral("找不到Quillet的系統檔:") + G.SystemFile +
                   QStringLiteral("\r\n程式無法執行!"),
               BoxButtons::Ok, BoxIcon::Critical, QStringLiteral("找不到Quillet的系統檔案"));
        pipeline.ExitSystem(false);
        return false;
    }
    if (!LoadSettings())
        return false;
    // A log folder that cannot be made does not end the program: it runs, and
    // says why.
    pipeline.Log().CheckPath(true);
    // The log file is the primary record: a database that cannot be opened is
    // shown once, and every later record tries it again.
    if (G.IsSaveAsMDB && !IsAlarmDatabaseReady())
        // Shown without waiting: the first poll does not wait for a click.
        MsgBoxNonBlocking(
            QStringLiteral("無法開啟資料庫!\r\nMDBFileFullPath=") + G.MDBFileFullPath +
                QStringLiteral("\r\n") + MDBLastError() +
                QStringLiteral("\r\n警報仍記錄在Log記錄檔, 每筆警報都會再試開資料庫."),
            BoxIcon::Critical, QStringLiteral("資料庫錯誤"));

    // The first record re-checks both paths.
    G.LastLogFileFullPath.clear();
    G.LastMDBFileFullPath.clear();

    pipeline.LoadReceivedStore();
    pipeline.GoOnline();
    return true;
}

} // namespace quillet
