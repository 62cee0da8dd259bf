#pragma once
// dbg.log beside the settings file: one entry per line, line breaks inside an
// entry written as "<CR>" and "<LF>".

#include <QString>

namespace quillet {

// Sets G.DebugLogFile and creates the file empty when it does not exist.
void CreateDebugLog();
// "<CR>"/"<LF>" folding, so a raw modem exchange stays on one line.
QString FoldLineBreaks(const QString &text);
// Appends one entry when debug mode is on. Installed as the trace handler of
// the lower layers by InstallDebugTrace. An entry that would take dbg.log
// past DebugLogLimit() first moves it to dbg.log.1 (replacing the older
// copy), so the trace of a logger in debug mode for years stays within twice
// the limit.
void AppendDebugTrace(const QString &text);
// 10 MB; tests make it small.
qint64 DebugLogLimit();
void SetDebugLogLimit(qint64 bytes);
void InstallDebugTrace();

} // namespace quillet
