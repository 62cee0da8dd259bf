#pragma once
// Checks of the configured output files (the history log and the database):
// the path is made absolute-ready, missing folders are created, a missing file
// is created, and a path that names a folder is refused with a box.

#include <QString>

namespace quillet {

// Prepares G.LogFileFullPath. With exitOnError a bad path ends the program
// (after its box) and the result is false.
bool CheckLogFilePath(bool exitOnError);
// Prepares G.MDBFileFullPath; a missing database is created from the template
// G.SystemFile, then the connection is opened.
bool CheckMDBFilePath(bool exitOnError);

} // namespace quillet
