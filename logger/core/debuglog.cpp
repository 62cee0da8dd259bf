#include "debuglog.h"

#include "filehelpers.h"
#include "globals.h"
#include "hostservices.h"

#include <QCoreApplication>
#include <QFile>
#include <cstdio>

namespace quillet {

namespace {

qint64 s_limit = 10 * 1024 * 1024;

} // namespace

qint64 DebugLogLimit()
{
    return s_limit;
}

void SetDebugLogLimit(qint64 bytes)
{
    s_limit = qMax<qint64>(1, bytes);
}

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

namespace {

void appendEntry(const QString &text)
{
    const QByteArray entry = FoldLineBreaks(text).toUtf8() + "\r\n";
    QFile file(G.DebugLogFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly))
        return;
    if (file.size() > 0 && file.size() + entry.size() > s_limit) {
        file.close();
        // rename() replaces the older copy in one step.
        if (::rename(QFile::encodeName(G.DebugLogFile).constData(),
                     QFile::encodeName(G.DebugLogFile + QStringLiteral(".1")).constData()) != 0)
            return;
        file.setFileName(G.DebugLogFile);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
            return;
    }
    file.write(entry);
    file.close();
}

} // namespace

void AppendDebugTrace(const QString &text)
{
    if (!G.IsDebugMode)
        return;
    CreateDebugLog();
    appendEntry(text);
    // Events are let through after the line is written, not before: what
    // they run may trace too (a report queued from another thread), and its
    // line must come after this one.
    QCoreApplication::processEvents();
}

void InstallDebugTrace()
{
    SetTraceHandler(AppendDebugTrace);
}

} // namespace quillet
