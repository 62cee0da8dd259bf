#include "outputpaths.h"

#include "centralsender.h"
#include "centraluri.h"
#include "database.h"
#include "filehelpers.h"
#include "globals.h"
#include "hostservices.h"
#include "logfile.h"
#include "startup.h"

#include <QFile>

namespace quillet {

namespace {

enum class PathKind
{
    Log,
    Database
};

// What CheckLogFilePath noted when the log's folder could not be made.
QString s_folderProblem;

QString defaultBeside(const QString &fileName)
{
    const QString folder = GetParentFolderName(G.SettingFile);
    return folder.isEmpty() ? fileName : folder + QLatin1Char('/') + fileName;
}

// The part both checks share: a path that ends in a separator or names a
// folder is a setting error; otherwise the folder is created when missing.
// Returns 1 for a usable path, 0 for a silent failure (`missing` names the
// folder that could not be made), -1 for a setting error (already shown, and
// the program ended when exitOnError).
int checkPath(PathKind kind, const QString &fullPath, bool exitOnError, QString &missing)
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
            ExitSystem(false);
        return -1;
    }
    QString folder = GetParentFolderName(fullPath);
    if (folder.isEmpty())
        folder = GetParentFolderName(G.SettingFile);
    if (!folder.isEmpty() && !FolderExists(folder) && !CreateFolderPath(folder)) {
        missing = folder;
        return 0;
    }
    return 1;
}

QString logPathSetting()
{
    return G.LogFilePath.isEmpty() ? defaultBeside(QStringLiteral("Quillet.log")) : G.LogFilePath;
}

} // namespace

bool CheckLogFilePath(bool exitOnError)
{
    G.LogFileFullPath = logPathSetting();
    if (G.LogFileFullPath == G.LastLogFileFullPath && !EndsWithSeparator(G.LogFileFullPath) &&
        !FolderExists(G.LogFileFullPath))
        return true;
    QString missing;
    const int state = checkPath(PathKind::Log, G.LogFileFullPath, exitOnError, missing);
    if (state < 0) {
        if (!exitOnError)
            G.LastLogFileFullPath = G.LogFileFullPath;
        return false;
    }
    if (state == 0) {
        // A share not mounted yet, a file where the folder goes: the
        // messages wait on the SIM, and every record tries again.
        s_folderProblem = QStringLiteral("cannot create the log folder ") + missing;
        SetLogFileProblem(s_folderProblem);
        return false;
    }
    if (!FileExists(G.LogFileFullPath)) {
        QFile file(G.LogFileFullPath);
        if (file.open(QIODevice::WriteOnly | QIODevice::Append))
            file.close();
    }
    if (!s_folderProblem.isEmpty() && LogFileProblem() == s_folderProblem)
        SetLogFileProblem({});
    s_folderProblem.clear();
    G.LastLogFileFullPath = G.LogFileFullPath;
    return true;
}

void RecheckLogFolder()
{
    if (s_folderProblem.isEmpty() || LogFileProblem() != s_folderProblem)
        return;
    const QString path = logPathSetting();
    // A path that became a setting error is left to the next record's check.
    if (!EndsWithSeparator(path) && !FolderExists(path))
        CheckLogFilePath(true);
}

bool CheckMDBFilePath(bool exitOnError)
{
    // A connection URI is no path: its rows go to the outbox beside the
    // settings, and on from there.
    if (IsCentralURI(G.MDBFilePath))
        return CheckCentralDatabase();
    G.MDBFileFullPath =
        G.MDBFilePath.isEmpty() ? defaultBeside(QStringLiteral("Quillet.mdb")) : G.MDBFilePath;
    // The shortcut needs an open connection to a file that is still there: a
    // database that could not be opened, or that went away, is tried again in
    // full (created anew from the template) with every record.
    if (G.MDBFileFullPath == G.LastMDBFileFullPath && !EndsWithSeparator(G.MDBFileFullPath) &&
        !FolderExists(G.MDBFileFullPath) && IsMDBConnectionOpen() && FileExists(G.MDBFileFullPath))
        return true;
    QString missing;
    const int state = checkPath(PathKind::Database, G.MDBFileFullPath, exitOnError, missing);
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

} // namespace quillet
