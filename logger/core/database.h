#pragma once
// The alarm database (SQLite through Qt Sql), created from the empty template
// Quillet.sys.

#include <QDateTime>
#include <QString>

namespace quillet {

// Replaces G.MDBConnection with a new, open connection to G.MDBFileFullPath.
bool OpenMDBConnection();
// Releases the connection.
void CloseMDBConnection();

// "YYYY/MM/DD hh:mm:ss AM" (12-hour clock).
QString MDBDateText(const QDateTime &smsDate);
// Inserts one alarm row into G.MDBTableName. Values are bound, never spliced
// into the statement, so any text is stored as it is.
bool InsertAlarmRow(const QDateTime &smsDate, const QString &callerID, const QString &message);

} // namespace quillet
