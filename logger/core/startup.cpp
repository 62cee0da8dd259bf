#include "startup.h"

#include "database.h"
#include "filehelpers.h"
#include "globals.h"
#include "hostservices.h"
#include "outputpaths.h"
#include "pipeline.h"
#include "settings.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>

namespace quillet {

QString InstanceLockPath()
{
    return QDir::tempPath() + QStringLiteral("/quillet-instance.lock");
}

bool AcquireInstanceLock(QLockFile &lock)
{
    lock.setStaleLockTime(0); // only a dead owner makes the lock stale
    if (lock.tryLock(0))
        return true;
    // A start killed in its first instant can leave a lock file that names no
    // owner, and then no owner can ever be found dead: every later start would
    // be refused for good. An owner writes its name at once, so such a file
    // that is more than a moment old belongs to nobody.
    qint64 pid = 0;
    QString host, app;
    const QFileInfo file(lock.fileName());
    if (lock.error() != QLockFile::LockFailedError || lock.getLockInfo(&pid, &host, &app) ||
        file.lastModified().secsTo(QDateTime::currentDateTime()) < 2)
        return false;
    return lock.removeStaleLockFile() && lock.tryLock(0);
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
