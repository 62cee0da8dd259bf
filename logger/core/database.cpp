#include "database.h"

#include "centraluri.h"
#include "globals.h"
#include "hostservices.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

namespace quillet {

namespace {

const QString kConnectionName = QStringLiteral("QuilletAlarms");

QString &lastError()
{
    static QString text;
    return text;
}

void fail(const QString &what)
{
    NoteMDBFailure(what);
}

// The file as an SQLite URI opened with mode=rw: a missing file is an error
// instead of a new, empty database that has no alarm table and would keep the
// template from ever being copied there.
QString readWriteUri(const QString &path)
{
    const QByteArray absolute = QFileInfo(path).absoluteFilePath().toUtf8();
    return QStringLiteral("file:") + QString::fromLatin1(QUrl::toPercentEncoding(absolute, "/")) +
           QStringLiteral("?mode=rw");
}

QString tableName(const QSqlDatabase &db)
{
    return db.driver()->escapeIdentifier(G.MDBTableName, QSqlDriver::TableName);
}

} // namespace

QString MDBLastError()
{
    return lastError();
}

void NoteMDBFailure(const QString &why)
{
    lastError() = why;
    WriteDebugTrace(QStringLiteral("Database: ") + why);
}

void ReleaseConnection(const QString &name)
{
    if (!QSqlDatabase::contains(name))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

void CloseMDBConnection()
{
    const QString name = G.MDBConnection.isEmpty() ? kConnectionName : G.MDBConnection;
    G.MDBConnection.clear();
    ReleaseConnection(name);
}

bool IsMDBConnectionOpen()
{
    return !G.MDBConnection.isEmpty() && QSqlDatabase::contains(G.MDBConnection) &&
           QSqlDatabase::database(G.MDBConnection, false).isOpen();
}

bool CreateMDBFromTemplate(const QString &templateFile, const QString &databaseFile)
{
    // A connection still open on a deleted file would checkpoint into the
    // name, and journals left beside a vanished file would be replayed into
    // the fresh copy: both would bring back rows of the old file, or corrupt it.
    CloseMDBConnection();
    for (const char *suffix : {"-wal", "-shm", "-journal"})
        QFile::remove(databaseFile + QLatin1String(suffix));
    if (!QFile::copy(templateFile, databaseFile)) {
        fail(QStringLiteral("cannot copy the template %1 to %2").arg(templateFile, databaseFile));
        return false;
    }
    QFile::setPermissions(databaseFile,
                          QFile::permissions(databaseFile) | QFile::ReadOwner | QFile::WriteOwner);
    return true;
}

bool OpenMDBConnection()
{
    CloseMDBConnection();
    lastError().clear();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnectionName);
    G.MDBConnection = kConnectionName;
    if (!db.isValid()) {
        fail(QStringLiteral("the SQLite driver of Qt Sql is not installed"));
        return false;
    }
    if (!QFileInfo::exists(G.MDBFileFullPath)) {
        fail(QStringLiteral("the file does not exist and could not be created from %1")
                 .arg(G.SystemFile));
        return false;
    }
    if (!QFileInfo(G.MDBFileFullPath).isWritable()) {
        // SQLite would open it read-only and refuse only the first row.
        fail(QStringLiteral("the file is read-only"));
        return false;
    }
    db.setDatabaseName(readWriteUri(G.MDBFileFullPath));
    // A wait instead of a failure while another program holds the file.
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open()) {
        fail(db.lastError().text());
        return false;
    }
    // A row must survive a crash right after it was written: WAL with full
    // syncs. SQLite reads the file only at the first statement, so this is also
    // where a file that is no database shows. A folder that cannot hold the WAL
    // files keeps the rollback journal, which full syncs make as durable.
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) ||
        !q.exec(QStringLiteral("PRAGMA synchronous=FULL"))) {
        fail(q.lastError().text());
        q = QSqlQuery();
        db.close();
        return false;
    }
    return true;
}

QString MDBDateText(const QDateTime &smsDate)
{
    // The designator is fixed English text: the column is read by programs,
    // not by the operator's locale.
    return QLocale::c().toString(smsDate, QStringLiteral("yyyy/MM/dd hh:mm:ss AP"));
}

bool HasProperty(const QString &name, const QStringList &collection, bool ignoreCase)
{
    const QString wanted = ignoreCase ? name.toUpper() : name;
    for (const QString &item : collection) {
        if ((ignoreCase ? item.toUpper() : item) == wanted)
            return true;
    }
    return false;
}

QStringList DriverProperties(const QSqlDatabase &connection)
{
    static const std::pair<QSqlDriver::DriverFeature, const char *> features[] = {
        {QSqlDriver::Transactions, "Transactions"},
        {QSqlDriver::QuerySize, "QuerySize"},
        {QSqlDriver::BLOB, "BLOB"},
        {QSqlDriver::Unicode, "Unicode"},
        {QSqlDriver::PreparedQueries, "PreparedQueries"},
        {QSqlDriver::NamedPlaceholders, "NamedPlaceholders"},
        {QSqlDriver::PositionalPlaceholders, "PositionalPlaceholders"},
        {QSqlDriver::LastInsertId, "LastInsertId"},
        {QSqlDriver::BatchOperations, "BatchOperations"},
        {QSqlDriver::SimpleLocking, "SimpleLocking"},
        {QSqlDriver::LowPrecisionNumbers, "LowPrecisionNumbers"},
        {QSqlDriver::EventNotifications, "EventNotifications"},
        {QSqlDriver::FinishQuery, "FinishQuery"},
        {QSqlDriver::MultipleResultSets, "MultipleResultSets"},
        {QSqlDriver::CancelQuery, "CancelQuery"},
    };
    QStringList names;
    const QSqlDriver *driver = connection.driver();
    if (!driver)
        return names;
    for (const auto &[feature, name] : features) {
        if (driver->hasFeature(feature))
            names << QString::fromLatin1(name);
    }
    return names;
}

bool ExecuteSQL(QSqlDatabase &connection, const QString &sql, const QVariantList &values)
{
    if (!connection.isOpen()) {
        fail(QStringLiteral("the database is not open"));
        return false;
    }
    const bool transaction =
        HasProperty(QStringLiteral("Transactions"), DriverProperties(connection), true);
    if (transaction && !connection.transaction()) {
        fail(connection.lastError().text());
        return false;
    }
    bool ok;
    {
        QSqlQuery q(connection);
        ok = q.prepare(sql);
        if (ok) {
            for (const QVariant &value : values)
                q.addBindValue(value);
            ok = q.exec();
        }
        if (!ok)
            fail(q.lastError().text());
    } // the statement is released before the commit
    if (!transaction)
        return ok;
    if (ok && connection.commit())
        return true;
    if (ok)
        fail(connection.lastError().text());
    connection.rollback();
    return false;
}

bool InsertAlarmRow(const QDateTime &smsDate, const QString &callerID, const QString &message)
{
    if (!IsMDBConnectionOpen()) {
        fail(QStringLiteral("the database %1 is not open").arg(G.MDBFileFullPath));
        return false;
    }
    QSqlDatabase db = QSqlDatabase::database(G.MDBConnection, false);
    const QString sql = QStringLiteral("Insert Into %1 ([Date], AlarmCallerID, AlarmMessage) "
                                       "Values(?, ?, ?)")
                            .arg(tableName(db));
    return ExecuteSQL(db, sql, {MDBDateText(smsDate), callerID, message});
}

qint64 LastAlarmRowId()
{
    if (!IsMDBConnectionOpen())
        return -1;
    QSqlDatabase db = QSqlDatabase::database(G.MDBConnection, false);
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("Select Max(ID) From %1").arg(tableName(db))) || !q.next())
        return -1;
    return q.value(0).isNull() ? 0 : q.value(0).toLongLong();
}

bool EnsureAlarmRow(qint64 rowsBefore, const QDateTime &smsDate, const QString &callerID,
                    const QString &message)
{
    if (!IsMDBConnectionOpen())
        return false;
    {
        QSqlDatabase db = QSqlDatabase::database(G.MDBConnection, false);
        QSqlQuery q(db);
        q.prepare(QStringLiteral("Select 1 From %1 Where ID > ? And [Date] = ? And "
                                 "AlarmCallerID = ? And AlarmMessage = ? Limit 1")
                      .arg(tableName(db)));
        q.addBindValue(rowsBefore);
        q.addBindValue(MDBDateText(smsDate));
        q.addBindValue(callerID);
        q.addBindValue(message);
        // A table without ids cannot tell: then the row is inserted.
        if (q.exec() && q.next())
            return true;
    }
    return InsertAlarmRow(smsDate, callerID, message);
}

} // namespace quillet
