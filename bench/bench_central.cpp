// The central database's sender against a private PostgreSQL server (fsync
// on, as a real one):
//  1. 10,000 rows waiting in the outbox drained to the server, against COPY
//     of the same rows from a file into an empty table of the same shape
//     (its unique key too) in the same server and run. Target: at most 5x.
//  2. The logger's poll cycle meanwhile (a real poll against the simulator,
//     recording alarms into the same outbox): how late each poll started
//     after it fell due, while draining and, for reference, while idle.
//     Target: no poll delayed by more than 100 ms.
// Usage: bench_central [ROWS] [ROUNDS]   (default 10000 3)

#include "centralsender.h"
#include "devsimclient.h"
#include "globals.h"
#include "outbox.h"
#include "outputpaths.h"
#include "pgserver.h"
#include "pipeline.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>

using namespace quillet;

namespace {

QString rowText(int n)
{
    return QStringLiteral("Alarm %1: pump %2 tripped, level high").arg(n).arg(n % 17);
}

OutboxRow rowOf(int n)
{
    const QDateTime at = QDateTime(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC).addSecs(n);
    return {0,
            QLocale::c().toString(at, QStringLiteral("yyyy/MM/dd hh:mm:ss AP")),
            QStringLiteral("Site %1").arg(n % 50),
            rowText(n),
            QStringLiteral("bench"),
            at.toString(Qt::ISODateWithMs)};
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The poll cycle on a timer: how late each poll starts after it fell due
// (the end of the poll before, or the tick, whichever is later). Before each
// poll one alarm arrives on the SIM, so every poll records one into the
// outbox the sender is draining.
class PollClock
{
public:
    PollClock(int intervalMs, devsim::test::DevSimClient &sim, AlarmPipeline &pipeline)
        : m_interval(intervalMs)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(intervalMs);
        QObject::connect(&m_timer, &QTimer::timeout, [this, &sim, &pipeline] {
            if (m_inside)
                return; // a tick during a poll is skipped, as the logger does
            m_inside = true;
            const qint64 now = m_clock.nsecsElapsed();
            if (m_due > 0)
                maxDelayMs = std::max(maxDelayMs, (now - m_due) / 1e6);
            sim.control(QString("deliver number=+886912345%1 text=\"Alarm %2 while draining\"")
                            .arg(m_alarms % 10)
                            .arg(m_alarms));
            ++m_alarms;
            pipeline.PollSIM();
            ++polls;
            m_due = std::max(now + m_interval * 1000000LL, m_clock.nsecsElapsed());
            m_inside = false;
        });
    }
    void start()
    {
        maxDelayMs = 0;
        polls = 0;
        m_due = 0;
        m_clock.start();
        m_timer.start();
    }
    void stop() { m_timer.stop(); }
    double maxDelayMs = 0;
    int polls = 0;

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_due = 0;
    int m_interval;
    int m_alarms = 0;
    bool m_inside = false;
};

void waitMs(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

// Rows waiting in a fresh outbox, written in one transaction (the logger
// writes them one by one as alarms come).
void fillOutbox(int rows)
{
    StopCentralSender();
    QFile::remove(OutboxPath());
    QString error;
    OpenOutbox("fill", OutboxPath(), error);
    {
        QSqlDatabase fill = QSqlDatabase::database("fill");
        fill.transaction();
        for (int n = 0; n < rows; ++n)
            AppendOutboxRow("fill", rowOf(n), error);
        fill.commit();
    }
    CloseOutbox("fill");
}

// Points the sender at `db` and returns once nothing waits.
double drainTo(test::PgServer &server, const QString &db)
{
    QElapsedTimer clock;
    clock.start();
    G.MDBFilePath = server.uri(db, "postgres");
    G.LastMDBFileFullPath.clear();
    CheckMDBFilePath(false);
    while ((!CentralStatusText().isEmpty() || clock.elapsed() < 20) && clock.elapsed() < 300000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return clock.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const QString bin = QCoreApplication::applicationDirPath();
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QFile::copy(bin + "/GSMCodeMap.cod", "GSMCodeMap.cod");

    test::PgServer server;
    if (test::PgServer::BinDir().isEmpty() || !server.start({})) {
        std::fprintf(stderr, "bench_central: no PostgreSQL server: %s\n",
                     qPrintable(server.error()));
        return 2;
    }

    devsim::test::DevSimClient sim;
    if (!sim.start({"--type-rate", "100000"})) {
        std::fprintf(stderr, "bench_central: %s\n", qPrintable(sim.error()));
        return 2;
    }
    G.SettingFile = dir.filePath("Quillet.set");
    G.LogFilePath = "Quillet.log";
    G.COMPORT = sim.ptyPath();
    G.BAUDRATE = "9600";
    G.DATABIT = "8";
    G.PARITYBIT = "None";
    G.STOPBIT = "1";
    G.IsDeleteSMS = true;
    G.IsSaveAsMDB = true;
    AlarmPipeline pipeline;
    pipeline.CreateDevice();
    pipeline.LoadReceivedStore();
    if (!pipeline.GoOnline()) {
        std::fprintf(stderr, "bench_central: cannot go online\n");
        return 2;
    }
    // The polls below come on the bench's own clock.
    pipeline.tmrAlarmLogger.stop();

    // The rows COPY reads, in its text format, where the server may read.
    const QString copyFile = server.socketDir() + "/rows.tsv";
    {
        QFile f(copyFile);
        f.open(QIODevice::WriteOnly);
        for (int n = 0; n < rows; ++n) {
            const OutboxRow r = rowOf(n);
            f.write(QStringList{r.date, r.callerID, r.message, r.logger, r.receivedAt}
                        .join('\t')
                        .toUtf8() +
                    '\n');
        }
        f.setPermissions(f.permissions() | QFile::ReadOther);
    }

    // 1. The drain against COPY.
    std::vector<double> drains, copies;
    for (int round = 0; round < rounds; ++round) {
        const QString db = QString("drain%1").arg(round);
        server.createDatabase(db, "postgres");
        fillOutbox(rows);
        drains.push_back(drainTo(server, db));
        server.exec("CREATE TABLE tarrow_copy (LIKE tarrow INCLUDING ALL)", db);
        QElapsedTimer copyClock;
        copyClock.start();
        server.exec(QString("COPY tarrow_copy (Date, AlarmCallerID, AlarmMessage, logger, "
                            "received_at) FROM '%1'")
                        .arg(copyFile),
                    db);
        copies.push_back(copyClock.nsecsElapsed() / 1e9);
        std::printf("round %d: drained %s rows in %.3f s, COPY %s rows in %.3f s\n", round + 1,
                    qPrintable(server.rows("SELECT count(*) FROM tarrow", db).value(0)),
                    drains.back(),
                    qPrintable(server.rows("SELECT count(*) FROM tarrow_copy", db).value(0)),
                    copies.back());
    }
    std::printf("central_drain_%d drain_s=%.3f copy_s=%.3f ratio=%.2f (target <= 5)\n", rows,
                median(drains), median(copies), median(drains) / median(copies));

    // 2. Polls every 20 ms while ten times the rows drain (a longer drain,
    // more polls to look at), and while nothing does.
    PollClock polls(20, sim, pipeline);
    double drainDelay = 0, idleDelay = 0;
    int drainPolls = 0, idlePolls = 0;
    for (int round = 0; round < rounds; ++round) {
        const QString db = QString("polls%1").arg(round);
        server.createDatabase(db, "postgres");
        fillOutbox(rows * 10);
        polls.start();
        const double took = drainTo(server, db);
        polls.stop();
        drainDelay = std::max(drainDelay, polls.maxDelayMs);
        drainPolls += polls.polls;
        polls.start();
        waitMs(int(took * 1000) + 200);
        polls.stop();
        idleDelay = std::max(idleDelay, polls.maxDelayMs);
        idlePolls += polls.polls;
    }
    std::printf("central_poll_delay polls=%d max_delay_ms=%.1f idle_polls=%d "
                "idle_max_delay_ms=%.1f (target <= 50)\n",
                drainPolls, drainDelay, idlePolls, idleDelay);
    StopCentralSender();
    pipeline.TerminateDevice();
    return 0;
}
