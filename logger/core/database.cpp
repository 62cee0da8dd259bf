#include "database.h"

#include "globals.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlQuery>

namespace quillet {

namespace {
const QString kConnectionName = QStringLiteral("QuilletAlarms");
}

void CloseMDBConnection()
{
    if (G.MDBConnection.isEmpty())
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(G.MDBConnection, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(G.MDBConnection);
    G.MDBConnection.clear();
}

bool OpenMDBConnection()
{
    CloseMDBConnection();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnectionName);
    db.setDatabaseName(G.MDBFileFullPath);
    G.MDBConnection = kConnectionName;
    if (!db.open())
        return false;
    // A row must survive a crash right after it was written: WAL with full
    // syncs, and a wait instead of a failure when another reader holds it.
    QSqlQuery q(db);
    q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    q.exec(QStringLiteral("PRAGMA synchronous=FULL"));
    q.exec(QStringLiteral("PRAGMA busy_timeout=5000"));
    return true;
}

QString MDBDateText(const QDateTime &smsDate)
{
    // The designator is fixed English text: the column is read by programs,
    // not by the operator's locale.
    return smsDate.toString(QStringLiteral("yyyy/MM/dd hh:mm:ss AP"));
}

bool InsertAlarmRow(const QDateTime &smsDate, const QString &callerID, const QString &message)
{
    if (G.MDBConnection.isEmpty())
        return false;
    QSqlDatabase db = QSqlDatabase::database(G.MDBConnection, false);
    if (!db.isOpen() && !db.open())
        return false;
    const bool transaction = db.driver()->hasFeature(QSqlDriver::Transactions);
    if (transaction && !db.transaction())
        return false;
    QSqlQuery q(db);
    const bool ok =
        q.prepare(QStringLiteral("INSERT INTO [%1] ([Date], AlarmCallerID, AlarmMessage) "
                                 "VALUES (?, ?, ?)")
                      .arg(G.MDBTableName)) &&
        (q.addBindValue(MDBDateText(smsDate)), q.addBindValue(callerID),
         q.addBindValue(message), q.exec());
    if (transaction) {
        if (ok && db.commit())
            return true;
        db.rollback();
        return false;
    }
    return ok;
}

} // namespace quillet
