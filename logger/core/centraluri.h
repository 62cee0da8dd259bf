#pragma once
// Where the central alarm database is: a libpq connection URI in MDBFilePath
// ("postgresql://quillet@db.example/alarms?sslmode=require", or
// "?host=/run/postgresql" for a socket). Qt's PostgreSQL driver takes no URI,
// so it is taken apart here into libpq's own keywords, each value quoted for
// a connection string. A password is refused: it would be written into
// Quillet.set; libpq reads it from ~/.pgpass or the file PGPASSFILE names.

#include <QList>
#include <QPair>
#include <QString>

namespace quillet {

// True for a value that names a central database rather than a file.
bool IsCentralURI(const QString &value);

struct CentralTarget
{
    // libpq keywords and values in the order they came (host, port, dbname,
    // user, then the query's options), plus the time-outs the logger sets
    // where the URI sets none.
    QList<QPair<QString, QString>> options;

    QString value(const QString &keyword) const;
    // "keyword='value' ..." for QSqlDatabase::setConnectOptions.
    QString connectOptions() const;
    // user@host:port/dbname, for messages (never a secret in it).
    QString describe() const;
};

// Takes the URI apart. False with a message fit for the operator ("the port
// \"54x\" is not a number") when it is malformed or holds a password.
bool ParseCentralURI(const QString &uri, CentralTarget &target, QString &error);

} // namespace quillet
