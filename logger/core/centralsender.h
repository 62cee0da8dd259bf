#pragma once
// The sender: drains the outbox to the central PostgreSQL database on a
// worker thread with its own connections (the GUI thread never waits on the
// network), in order, in batches of one INSERT ... ON CONFLICT DO NOTHING
// each, removing rows only after the server committed them. While the server
// cannot be reached it retries with a growing wait (1 s, doubling up to
// 30 s), the outbox keeps every row, and the status bar says how many wait
// and why.

#include <QObject>
#include <QString>
#include <functional>

namespace quillet {

// CheckMDBFilePath for a URI: opens the outbox beside the settings and
// starts (or points anew) the sender. False when the outbox cannot be opened,
// the reason in MDBLastError; a malformed URI or a server that cannot be
// reached is the sender's to report, and rows are kept meanwhile.
bool CheckCentralDatabase();

// The commit path's step: the alarm's row for the central database, in the
// outbox opened by CheckMDBFilePath. Wakes the sender. False (the reason in
// the trace and MDBLastError) when no row was committed.
bool AppendAlarmToOutbox(const QString &date, const QString &callerID, const QString &message);
// The commit path added row `id` (0: an equal one was waiting): counted at
// once, and the sender woken.
void NoteOutboxRowAdded(qint64 id);

// For the status bar: "" while no central database is in use or nothing
// waits and nothing failed; else "12 waiting", and "12 waiting!" while the
// server cannot take them. The detail, for the tooltip, says why in full:
// "12 rows wait for the central database: login refused (the server's or
// the parser's whole message)".
QString CentralStatusText();
// Runs `changed` (in `receiver`'s context) whenever the text above may have.
QMetaObject::Connection OnCentralStatusChanged(QObject *receiver, std::function<void()> changed);
QString CentralStatusDetail();
// The same as figures, for the journal and the status file.
struct CentralState
{
    bool active = false; // a central database is in use
    qint64 waiting = 0;  // rows in the outbox
    QString reason;      // why the server cannot take them; empty while it can
    QString detail;
};
CentralState CentralStatus();

// Stops the sender at the end of the program: a batch in flight is finished,
// or cut when the network does not answer within graceMs (its rows stay in
// the outbox and are sent at the next start). False when the thread had to
// be left behind.
bool StopCentralSender(int graceMs = 2000);

// Connects to the URI's database, once, and tells what the server answered
// (its version, whether the table is there and rows may go in) or why it
// could not. Blocks: the settings dialog runs it on a thread of its own.
bool TestCentralConnection(const QString &uri, QString &answer);

// The table and unique key, as shipped for the administrator in
// data/tarrow-postgresql.sql.
QString CentralSchemaSql();

// Rows per INSERT.
constexpr int CentralBatchRows = 1000;

// The first wait after a failure (1 s; QUILLET_CENTRAL_RETRY_MS, 10 to 1000,
// shortens it for tests). The waits double up to 30 times this.
int CentralRetryMs();

} // namespace quillet
