#include "outputpaths.h"

#include "centralsender.h"
#include "centraluri.h"
#include "database.h"
#include "filehelpers.h"
#include "globals.h"
#include "hostservices.h"
#include "outbox.h"

#include <QFile>

namespace quillet {

namespace {

enum class PathKind
{
    Log,
    Database
};

QString defaultBeside(const GlobalState &settings, const QString &fileName)
{
    const QString folder = GetParentFolderName(settings.SettingFile);
    return folder.isEmpty() ? fileName : folder + QLatin1Char('/') + fileName;
}

// The part both checks share: a path that ends in a separator or names a
// folder is a setting error; otherwise the folder is created when missing.
// Returns 1 for a usable path, 0 for a silent failure (`missing` names the
// folder that could not be made), -1 for a setting error (already shown, and
// the program ended when exitOnError).
int checkPath(const GlobalState &settings, PathKind kind, const QString &fullPath, bool exitOnError,
              QString &missing)
{
    const bool isLog = kind == PathKind::Log;
    QString reason;
    if (EndsWithSeparator(fullPath))
        reason = QStringLiteral("指定的路徑不存在!");
    else if (FolderExists(fullPath))
        reason = isLog ? QStringLiteral("請指定完整Log記錄檔檔名!")
                       : QStringLiteral("請指定完整 Access 記錄檔檔名!");
    if (!reason.isEmpty()) {
        const QString label =
            isLog ? QStringLiteral("LogFileFullPath=") : QStringLiteral("MDBFileFullPath=");
        MsgBox(QStringLiteral("設定錯誤!\r\n") + label + fullPath + QStringLiteral("\r\n") + reason,
               BoxButtons::Ok, BoxIcon::Critical, QStringLiteral("設定錯誤"));
        if (exitOnError)
            TerminateProgram();
        return -1;
    }
    QString folder = GetParentFolderName(fullPath);
    if (folder.isEmpty())
        folder = GetParentFolderName(settings.SettingFile);
    if (!folder.isEmpty() && !FolderExists(folder) && !CreateFolderPath(folder)) {
        missing = folder;
        return 0;
    }
    return 1;
}

} // namespace

QString LogPathSetting(const GlobalState &settings)
{
    return settings.LogFilePath.isEmpty() ? defaultBeside(settings, QStringLiteral("Quillet.log"))
                                          : settings.LogFilePath;
}

bool CheckLogFilePath(bool exitOnError)
{
    return CheckLogFilePath(exitOnError, G, nullptr);
}

bool CheckLogFilePath(bool exitOnError, GlobalState &settings, QString *folderProblem)
{
    settings.LogFileFullPath = LogPathSetting(settings);
    if (settings.LogFileFullPath == settings.LastLogFileFullPath &&
        !EndsWithSeparator(settings.LogFileFullPath) && !FolderExists(settings.LogFileFullPath))
        return true;
    QString missing;
    const int state =
        checkPath(settings, PathKind::Log, settings.LogFileFullPath, exitOnError, missing);
    if (state < 0) {
        if (!exitOnError)
            settings.LastLogFileFullPath = settings.LogFileFullPath;
        return false;
    }
    if (state == 0) {
        if (folderProblem)
            *folderProblem = QStringLiteral("cannot create the log folder ") + missing;
        return false;
    }
    if (!FileExists(settings.LogFileFullPath)) {
        QFile file(settings.LogFileFullPath);
        if (file.open(QIODevice::WriteOnly | QIODevice::Append))
            file.close();
    }
    settings.LastLogFileFullPath = settings.LogFileFullPath;
    return true;
}

bool CheckMDBFilePath(bool exitOnError)
{
    // A connection URI is no path: its rows go to the outbox beside the
    // settings, and on from there.
    if (IsCentralURI(G.MDBFilePath))
        return CheckCentralDatabase();
    G.MDBFileFullPath =
        G.MDBFilePath.isEmpty() ? defaultBeside(G, QStringLiteral("Quillet.mdb")) : G.MDBFilePath;
    // The shortcut needs an open connection to a file that is still there: a
    // database that could not be opened, or that went away, is tried again in
    // full (created anew from the template) with every record.
    if (G.MDBFileFullPath == G.LastMDBFileFullPath && !EndsWithSeparator(G.MDBFileFullPath) &&
        !FolderExists(G.MDBFileFullPath) && IsMDBConnectionOpen() && FileExists(G.MDBFileFullPath))
        return true;
    QString missing;
    const int state = checkPath(G, PathKind::Database, G.MDBFileFullPath, exitOnError, missing);
    if (state < 0) {
        if (!exitOnError)
            G.LastMDBFileFullPath = G.MDBFileFullPath;
        return false;
    }
    if (state == 0) {
        CloseMDBConnection();
        NoteMDBFailure(QStringLiteral("the folder of the file cannot be created"));
        return false;
    }
    if (!FileExists(G.MDBFileFullPath))
        CreateMDBFromTemplate(G.SystemFile, G.MDBFileFullPath);
    OpenMDBConnection();
    G.LastMDBFileFullPath = G.MDBFileFullPath;
    return true;
}

bool IsAlarmDatabaseReady()
{
    return IsCentralURI(G.MDBFilePath) ? IsOutboxOpen(OutboxGuiConnection())
                                       : IsMDBConnectionOpen();
}

} // namespace quillet
