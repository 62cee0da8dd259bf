#include "debuglog.h"

#include "filehelpers.h"
#include "globals.h"
#include "hostservices.h"

#include <QCoreApplication>
#include <QFile>

namespace quillet {

void CreateDebugLog()
{
    QString folder = GetParentFolderName(GetFullPath(G.SettingFile));
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    G.DebugLogFile = folder + QStringLiteral("dbg.log");
    if (!FileExists(G.DebugLogFile)) {
        QFile file(G.DebugLogFile);
        if (file.open(QIODevice::WriteOnly))
            file.close();
    }
}

QString FoldLineBreaks(const QString &text)
{
    QString folded = text;
    folded.replace(QLatin1Char('\r'), QStringLiteral("<CR>"));
    folded.replace(QLatin1Char('\n'), QStringLiteral("<LF>"));
    return folded;
}

void AppendDebugTrace(const QString &text)
{
    if (!G.IsDebugMode)
        return;
    CreateDebugLog();
    QCoreApplication::processEvents();
    QFile file(G.DebugLogFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly))
        return;
    file.write(FoldLineBreaks(text).toUtf8() + "\r\n");
    file.close();
}

void InstallDebugTrace()
{
    SetTraceHandler(AppendDebugTrace);
}

} // namespace quillet
