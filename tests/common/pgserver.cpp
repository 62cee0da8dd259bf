#include "pgserver.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>
#include <csignal>
#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace quillet::test {

namespace {

int s_connections = 0;

// Runs `sql` on a connection opened for it, as the superuser.
template <typename Body>
bool withAdmin(const QString &socketDir, const QString &db, QString &error, Body body)
{
    const QString name = QStringLiteral("pgserver-admin-%1").arg(++s_connections);
    bool ok = false;
    {
        QSqlDatabase c = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        c.setConnectOptions(
            QStringLiteral("host=%1 dbname=%2 user=postgres connect_timeout=5").arg(socketDir, db));
        if (!c.open())
            error = c.lastError().text();
        else
            ok = body(c, error);
        c.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

} // namespace

PgServer::PgServer()
{
    if (::geteuid() == 0) {
        // The server will not run as root.
        const passwd *pw = ::getpwnam("postgres");
        if (!pw)
            pw = ::getpwnam("nobody");
        if (pw) {
            m_uid = pw->pw_uid;
            m_gid = pw->pw_gid;
            m_switchUser = true;
        }
    }
}

PgServer::~PgServer()
{
    pause(false);
    stop();
}

QString PgServer::BinDir()
{
    for (const char *dir : {"/usr/lib/postgresql/15/bin", "/usr/lib/postgresql/16/bin"}) {
        const QString d = QString::fromLatin1(dir);
        if (QFileInfo(d + QStringLiteral("/initdb")).isExecutable() &&
            QFileInfo(d + QStringLiteral("/postgres")).isExecutable())
            return d;
    }
    return QString();
}

std::function<void()> PgServer::asServerUser(bool dieWithTest) const
{
    const uid_t uid = m_uid;
    const gid_t gid = m_gid;
    const bool switchUser = m_switchUser;
    // Runs in the child between fork and exec: system calls only.
    return [=] {
        if (switchUser &&
            (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
            ::_exit(126);
        // After the change of user, which would clear it.
        if (dieWithTest)
            ::prctl(PR_SET_PDEATHSIG, SIGINT);
    };
}

bool PgServer::start(const QStringList &settings)
{
    m_settings = settings;
    const QString bin = BinDir();
    if (bin.isEmpty()) {
        m_error = QStringLiteral("the PostgreSQL server binaries (Debian package postgresql-15) "
                                 "are not installed");
        return false;
    }
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    if (m_switchUser && ::chown(QFile::encodeName(m_dir.path()).constData(), m_uid, m_gid) != 0) {
        m_error = QStringLiteral("cannot hand %1 to the server's user").arg(m_dir.path());
        return false;
    }
    QProcess initdb;
    initdb.setChildProcessModifier(asServerUser(false));
    initdb.setWorkingDirectory(m_dir.path());
    initdb.setProcessChannelMode(QProcess::MergedChannels);
    initdb.start(bin + QStringLiteral("/initdb"),
                 {QStringLiteral("--no-sync"), QStringLiteral("-A"), QStringLiteral("trust"),
                  QStringLiteral("-U"), QStringLiteral("postgres"), QStringLiteral("-E"),
                  QStringLiteral("UTF8"), QStringLiteral("--locale=C"), QStringLiteral("-D"),
                  m_dir.filePath(QStringLiteral("data"))});
    if (!initdb.waitForFinished(60000) || initdb.exitStatus() != QProcess::NormalExit ||
        initdb.exitCode() != 0) {
        m_error = QStringLiteral("initdb failed: ") + QString::fromLocal8Bit(initdb.readAll());
        return false;
    }
    // Logins over the socket without a password, but pwuser's.
    QFile hba(m_dir.filePath(QStringLiteral("data/pg_hba.conf")));
    if (!hba.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        hba.write("local all pwuser scram-sha-256\nlocal all all trust\n") < 0) {
        m_error = QStringLiteral("cannot write pg_hba.conf");
        return false;
    }
    hba.close();
    if (!launch())
        return false;
    return exec(QStringLiteral("CREATE ROLE quillet LOGIN; "
                               "CREATE ROLE pwuser LOGIN PASSWORD 'pw-secret'"));
}

bool PgServer::launch()
{
    // A fast shutdown when the test dies.
    m_server.setChildProcessModifier(asServerUser(true));
    QStringList args{QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")),
                     QStringLiteral("-k"), m_dir.path(),
                     QStringLiteral("-c"), QStringLiteral("listen_addresses=")};
    for (const QString &setting : std::as_const(m_settings))
        args << QStringLiteral("-c") << setting;
    m_server.setWorkingDirectory(m_dir.path());
    m_server.setProcessChannelMode(QProcess::MergedChannels);
    m_server.setStandardOutputFile(m_dir.filePath(QStringLiteral("server.log")), QIODevice::Append);
    m_server.start(BinDir() + QStringLiteral("/postgres"), args);
    if (!m_server.waitForStarted(10000)) {
        m_error = QStringLiteral("the server did not start: ") + m_server.errorString();
        return false;
    }
    return waitReady(30000);
}

bool PgServer::waitReady(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (m_server.state() != QProcess::Running) {
            QFile log(m_dir.filePath(QStringLiteral("server.log")));
            log.open(QIODevice::ReadOnly);
            m_error = QStringLiteral("the server ended: ") + QString::fromLocal8Bit(log.readAll());
            return false;
        }
        QString error;
        if (QFile::exists(m_dir.filePath(QStringLiteral(".s.PGSQL.5432"))) &&
            withAdmin(m_dir.path(), QStringLiteral("postgres"), error,
                      [](QSqlDatabase &, QString &) { return true; }))
            return true;
        QThread::msleep(20);
    }
    m_error = QStringLiteral("the server did not answer within %1 ms").arg(timeoutMs);
    return false;
}

void PgServer::stop()
{
    if (m_server.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(m_server.processId()), SIGINT);
    if (!m_server.waitForFinished(15000)) {
        m_server.kill();
        m_server.waitForFinished(5000);
    }
}

bool PgServer::restart()
{
    stop();
    return launch();
}

void PgServer::pause(bool paused)
{
    if (m_server.state() != QProcess::Running)
        return;
    const qint64 postmaster = m_server.processId();
    const int signo = paused ? SIGSTOP : SIGCONT;
    // The backends are the postmaster's children.
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields.at(1).toLongLong() == postmaster)
            ::kill(pid_t(pid), signo);
    }
    ::kill(pid_t(postmaster), signo);
}

QString PgServer::uri(const QString &db, const QString &user) const
{
    return QStringLiteral("postgresql://%1@/%2?host=%3").arg(user, db, m_dir.path());
}

bool PgServer::exec(const QString &sql, const QString &db)
{
    return withAdmin(m_dir.path(), db, m_error, [&](QSqlDatabase &c, QString &error) {
        QSqlQuery q(c);
        static const QRegularExpression comment(QStringLiteral("--[^\n]*"));
        const QString plain = QString(sql).remove(comment);
        for (const QString &statement : plain.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            if (statement.trimmed().isEmpty())
                continue;
            if (!q.exec(statement)) {
                error = statement.trimmed() + QStringLiteral(": ") + q.lastError().text();
                return false;
            }
        }
        return true;
    });
}

QStringList PgServer::rows(const QString &sql, const QString &db)
{
    QStringList out;
    withAdmin(m_dir.path(), db, m_error, [&](QSqlDatabase &c, QString &error) {
        QSqlQuery q(c);
        if (!q.exec(sql)) {
            error = q.lastError().text();
            out << QStringLiteral("error: ") + error;
            return false;
        }
        while (q.next()) {
            QStringList columns;
            for (int i = 0; i < q.record().count(); ++i)
                columns << q.value(i).toString();
            out << columns.join(QLatin1Char('|'));
        }
        return true;
    });
    return out;
}

bool PgServer::createDatabase(const QString &db, const QString &owner)
{
    return exec(QStringLiteral("CREATE DATABASE %1 OWNER %2").arg(db, owner));
}

} // namespace quillet::test
