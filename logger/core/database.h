#pragma once
// The alarm database (SQLite through Qt Sql), created from the empty template
// Quillet.sys.

#include <QString>

namespace quillet {

// Replaces G.MDBConnection with a new, open connection to G.MDBFileFullPath.
bool OpenMDBConnection();
// Releases the connection.
void CloseMDBConnection();

} // namespace quillet
