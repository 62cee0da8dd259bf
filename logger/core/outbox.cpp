#include "outbox.h"

#include "database.h"
#include "filehelpers.h"
#include "globals.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QVariant>

namespace quillet {

namespace {

const QString kGuiConnection = QStringLiteral("QuilletOutbox");

const char *const kSchema = "CREATE TABLE IF NOT EXISTS outbox ("
                            " id INTEGER PRIMARY KEY AUTOINCREMENT,"
                            " Date TEXT NOT NULL,"
                            " AlarmCallerID TEXT NOT NULL,"
                            " AlarmMessage TEXT NOT NULL,"
                            " logger TEXT NOT NULL,"
                            " received_at TEXT NOT NULL,"
                            " UNIQUE (Date, AlarmCallerID, AlarmMessage))";

QSqlDatabase connectionNamed(const QString &name)
{
    return QSqlDatabase::database(name, false);
}

} // namespace

QString OutboxPath()
{
    QString folder = GetParentFolderName(GetFullPath(G.SettingFile));
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder + QStringLiteral("Quillet.outbox");
}

bool OpenOutbox(const QString &connection, const QString &path, QString &error)
{
    CloseOutbox(connection);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
    if (!db.isValid()) {
        error = QStringLiteral("the SQLite driver of Qt Sql is not installed");
        return false;
    }
    db.setDatabaseName(path);
    // The sender's short transactions are waited for, never failed on.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open()) {
        error = db.lastError().text();
        return false;
    }
    QSqlQuery q(db);
    // A row must survive a crash right after its commit, like the alarm row.
    if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) ||
        !q.exec(QStringLiteral("PRAGMA synchronous=FULL")) ||
        !q.exec(QString::fromLatin1(kSchema))) {
        error = QStringLiteral("%1: %2").arg(path, q.lastError().text());
        q = QSqlQuery();
        db.close();
        return false;
    }
    return true;
}

void CloseOutbox(const QString &connection)
{
    ReleaseConnection(connection);
}

bool IsOutboxOpen(const QString &connection)
{
    return QSqlDatabase::contains(connection) && connectionNamed(connection).isOpen();
}

bool AppendOutboxRow(const QString &connection, const OutboxRow &row, QString &error, qint64 *id)
{
    QSqlDatabase db = connectionNamed(connection);
    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT OR IGNORE INTO outbox (Date, AlarmCallerID, AlarmMessage, "
                             "logger, received_at) VALUES (?, ?, ?, ?, ?)"));
    for (const QString *value :
         {&row.date, &row.callerID, &row.message, &row.logger, &row.receivedAt})
        q.addBindValue(*value);
    // One statement outside a transaction is its own transaction, committed
    // and synced before exec returns.
    if (!q.exec()) {
        error = q.lastError().text();
        return false;
    }
    if (id)
        *id = q.numRowsAffected() > 0 ? q.lastInsertId().toLongLong() : 0;
    return true;
}

bool ReadOutboxRows(const QString &connection, int limit, QList<OutboxRow> &rows, QString &error)
{
    rows.clear();
    QSqlDatabase db = connectionNamed(connection);
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT id, Date, AlarmCallerID, AlarmMessage, logger, received_at "
                             "FROM outbox ORDER BY id LIMIT ?"));
    q.addBindValue(limit);
    if (!q.exec()) {
        error = q.lastError().text();
        return false;
    }
    while (q.next())
        rows.append({q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(),
                     q.value(3).toString(), q.value(4).toString(), q.value(5).toString()});
    return true;
}

bool RemoveOutboxRows(const QString &connection, qint64 lastId, QString &error)
{
    QSqlDatabase db = connectionNamed(connection);
    QSqlQuery q(db);
    q.prepare(QStringLiteral("DELETE FROM outbox WHERE id <= ?"));
    q.addBindValue(lastId);
    if (!q.exec()) {
        error = q.lastError().text();
        return false;
    }
    return true;
}

qint64 CountOutboxRows(const QString &connection, qint64 *lastId)
{
    QSqlQuery q(connectionNamed(connection));
    if (!q.exec(QStringLiteral("SELECT count(*), coalesce(max(id), 0) FROM outbox")) || !q.next())
        return -1;
    if (lastId)
        *lastId = q.value(1).toLongLong();
    return q.value(0).toLongLong();
}

QString LoggerNameInUse()
{
    return G.LoggerName.isEmpty() ? QSysInfo::machineHostName() : G.LoggerName;
}

QString OutboxGuiConnection()
{
    return kGuiConnection;
}

} // namespace quillet
