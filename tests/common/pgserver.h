#pragma once
// A private PostgreSQL server for one test binary: initdb into a temporary
// folder, the server on a Unix socket in that folder only (no TCP), run as
// the `postgres` system user (or `nobody`) when the test runs as root, since
// the server refuses root. It is the test's child and gets SIGINT should the
// test die, so no exit path leaves it running.
//
// Roles: the superuser `postgres`; `pwuser`, whose login needs the password
// "pw-secret" (scram-sha-256); every other role logs in without one.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantList>
#include <functional>

namespace quillet::test {

class PgServer
{
public:
    PgServer();
    ~PgServer();
    PgServer(const PgServer &) = delete;
    PgServer &operator=(const PgServer &) = delete;

    // Where initdb, pg_ctl and postgres are; empty when not installed.
    static QString BinDir();

    // initdb and the first start; `settings` are extra "-c" settings
    // ("fsync=off" is the default for tests). False with error().
    bool start(const QStringList &settings = {QStringLiteral("fsync=off")});
    // Fast shutdown (SIGINT, as pg_ctl stop -m fast); the data stays.
    void stop();
    // Starts the stopped server on the same data again.
    bool restart();
    bool isRunning() const { return m_server.state() == QProcess::Running; }
    // The server and its backends stop (SIGSTOP) or go on (SIGCONT): a
    // server that no longer answers.
    void pause(bool paused);

    QString error() const { return m_error; }
    QString socketDir() const { return m_dir.path(); }
    // "postgresql://USER@/DB?host=SOCKETDIR"
    QString uri(const QString &db, const QString &user = QStringLiteral("quillet")) const;

    // Runs statements as the superuser in `db`; false with error().
    bool exec(const QString &sql, const QString &db = QStringLiteral("postgres"));
    // Each row's columns joined by '|'.
    QStringList rows(const QString &sql, const QString &db = QStringLiteral("postgres"));
    // A database of its own for a test, owned by `owner` (created first).
    bool createDatabase(const QString &db, const QString &owner = QStringLiteral("quillet"));

private:
    bool launch();
    // Makes a child the server's user (and, when asked, end with the test).
    std::function<void()> asServerUser(bool dieWithTest) const;
    bool waitReady(int timeoutMs);

    QTemporaryDir m_dir;
    QProcess m_server;
    QStringList m_settings;
    QString m_error;
    uint m_uid = 0, m_gid = 0;
    bool m_switchUser = false;
};

} // namespace quillet::test
