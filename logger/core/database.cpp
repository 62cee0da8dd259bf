#include "database.h"

#include "globals.h"

#include <QSqlDatabase>
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

} // namespace quillet
