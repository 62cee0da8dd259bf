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
// the lower layers by InstallDebugTrace.
void AppendDebugTrace(const QString &text);
void InstallDebugTrace();

} // namespace quillet
