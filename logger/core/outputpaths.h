#pragma once
// Checks of the configured output files (the history log and the database):
// the path is made absolute-ready, missing folders are created, a missing file
// is created, and a path that names a folder is refused with a box.

#include <QString>

namespace quillet {

// Prepares G.LogFileFullPath. With exitOnError a bad path ends the program
// (after its box) and the result is false.
// A folder that cannot be created is no setting error: the result is false
// and LogFileProblem() says why.
bool CheckLogFilePath(bool exitOnError);
// While the log's folder could not be made: tries again (the end of every
// poll does, so the status clears once the share is back).
void RecheckLogFolder();
// Prepares G.MDBFileFullPath; a missing database is created from the template
// G.SystemFile, then the connection is opened.
bool CheckMDBFilePath(bool exitOnError);

} // namespace quillet
