#pragma once
// The alarm database (SQLite through Qt Sql), created from the empty template
// Quillet.sys.

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariantList>

namespace quillet {

// Replaces G.MDBConnection with a new connection to G.MDBFileFullPath and opens
// it. The file must exist (a missing database is created from the template by
// CheckMDBFilePath, never as an empty file here). False when it could not be
// opened; MDBLastError() then says why.
bool OpenMDBConnection();
// Releases the connection.
void CloseMDBConnection();
// Closes and removes a Qt Sql connection by name (on the thread that made it).
void ReleaseConnection(const QString &name);
// True when G.MDBConnection names a connection that is open.
bool IsMDBConnectionOpen();
// The driver's text for the last failure of an open or a statement.
QString MDBLastError();
// Records why the database could not be prepared (for the start-up box and the
// debug log).
void NoteMDBFailure(const QString &why);

// Copies the template over a missing database file; the copy is made writable
// for its owner even when the template is installed read-only.
bool CreateMDBFromTemplate(const QString &templateFile, const QString &databaseFile);

// "YYYY/MM/DD hh:mm:ss AM" (12-hour clock, English designator).
QString MDBDateText(const QDateTime &smsDate);

// Inserts one alarm row into G.MDBTableName. Values are bound, never spliced
// into the statement, so any text is stored as it is. False when no row was
// committed.
bool InsertAlarmRow(const QDateTime &smsDate, const QString &callerID, const QString &message);

// The highest row id of G.MDBTableName (0 for an empty table); -1 when it
// cannot be told.
qint64 LastAlarmRowId();
// For a message the log already holds: inserts its row unless a row with the
// same three values and an id above rowsBefore is there (a crash came between
// the row's commit and the note of it). True when the row is there.
bool EnsureAlarmRow(qint64 rowsBefore, const QDateTime &smsDate, const QString &callerID,
                    const QString &message);

// Runs one statement with its values bound in order (positional "?"), inside a
// transaction when the driver supports transactions. On failure the
// transaction is rolled back and the result is false.
bool ExecuteSQL(QSqlDatabase &connection, const QString &sql, const QVariantList &values = {});

// True when Name occurs in Collection (compared upper-cased when IgnoreCase).
bool HasProperty(const QString &name, const QStringList &collection, bool ignoreCase);

// The names of the features the connection's driver supports ("Transactions",
// "PreparedQueries", ...): the collection HasProperty looks through.
QStringList DriverProperties(const QSqlDatabase &connection);

} // namespace quillet
