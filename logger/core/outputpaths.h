#pragma once
// Checks of the configured output files (the history log and the database):
// the path is made absolute-ready, missing folders are created, a missing file
// is created, and a path that names a folder is refused with a box.

#include <QString>

namespace quillet {

struct GlobalState;

// The log's path as configured: LogFilePath, or Quillet.log beside the
// settings file.
QString LogPathSetting(const GlobalState &settings);
// Prepares the record's LogFileFullPath (the program's settings by default).
// With exitOnError a bad path ends the program (after its box) and the
// result is false. A folder that cannot be created is no setting error: the
// result is false and `folderProblem`, when given, says why ("cannot create
// the log folder ...").
bool CheckLogFilePath(bool exitOnError);
bool CheckLogFilePath(bool exitOnError, GlobalState &settings, QString *folderProblem);
// Prepares G.MDBFileFullPath; a missing database is created from the template
// G.SystemFile, then the connection is opened.
bool CheckMDBFilePath(bool exitOnError);
// True when an alarm row can be committed locally: the file database is open,
// or, for a central database, its outbox.
bool IsAlarmDatabaseReady();

} // namespace quillet
