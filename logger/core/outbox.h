#pragma once
// The outbox: the alarms on their way to the central database, an SQLite file
// beside the settings (Quillet.outbox, WAL, synchronous=FULL). The commit path
// writes a row on the GUI thread before the message may leave the SIM; the
// sender reads and removes rows on its own thread through a connection of its
// own. A row leaves the outbox only after the server committed it.
//
// One row per (Date, AlarmCallerID, AlarmMessage), the server's own unique
// key: a message seen again after a crash finds its row still waiting, and
// one already sent is taken once more and dropped by the server.

#include <QList>
#include <QString>

namespace quillet {

struct OutboxRow
{
    qint64 id = 0;
    QString date; // the Date text of the alarm table
    QString callerID;
    QString message;
    QString logger;
    QString receivedAt; // ISO 8601, UTC
};

// Quillet.outbox in the folder of the settings file.
QString OutboxPath();

// Opens (and creates, when missing) the outbox file under its own connection
// name; each thread uses only the connections it opened.
bool OpenOutbox(const QString &connection, const QString &path, QString &error);
void CloseOutbox(const QString &connection);
bool IsOutboxOpen(const QString &connection);

// Adds the row, committed and synced, unless an equal one is waiting; `id`
// is the new row's (0 when an equal one was there).
bool AppendOutboxRow(const QString &connection, const OutboxRow &row, QString &error,
                     qint64 *id = nullptr);
// The oldest rows, at most `limit`, in the order they were written.
bool ReadOutboxRows(const QString &connection, int limit, QList<OutboxRow> &rows, QString &error);
// Removes the rows up to and including `lastId` (ids only grow).
bool RemoveOutboxRows(const QString &connection, qint64 lastId, QString &error);
// -1 when it cannot be told; `lastId` the highest id among them, in the same
// read.
qint64 CountOutboxRows(const QString &connection, qint64 *lastId = nullptr);

// The GUI thread's connection to the outbox (the sender has its own).
QString OutboxGuiConnection();

// The name this logger gives its rows: LoggerName, or the host name.
QString LoggerNameInUse();

} // namespace quillet
