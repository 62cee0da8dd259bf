// Real loggers (the built quillet, each a child in a folder of its own with
// its own simulator) writing to one private PostgreSQL server: three loggers
// at once, the server stopped in the middle of a burst, two loggers that
// receive the same alarms, and a logger killed with SIGKILL while rows wait
// in its outbox. Each states its figures: injected, logged, lost, duplicated.
//
// QUILLET_OUTAGE_MS (default 3000) is how long the server stays down in the
// middle of the burst; the sender's first retry wait is 20 ms here, so even
// the short outage runs through the whole climb of its back-off.

#include "devsimclient.h"
#include "pgserver.h"
#include "testfiles.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <memory>
#include <sys/prctl.h>

using devsim::test::DevSimClient;
using quillet::test::PgServer;
using quillet::test::ReadFileBytes;
using quillet::test::WriteLoggerFolder;

namespace {

const QString kBin = QStringLiteral(QUILLET_BIN_DIR);
constexpr int kFirstRetryMs = 20;

QString stampOf(int n)
{
    return QStringLiteral("24/05/01,10:%1:%2+32")
        .arg(n / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(n % 60, 2, 10, QLatin1Char('0'));
}

// One logger: its folder, its simulator, the process.
class Logger
{
public:
    QTemporaryDir dir;
    QTemporaryDir lockDir; // its own TMPDIR, so its instance lock is its own
    DevSimClient sim;
    QProcess process;

    bool prepare(const QString &name, const QString &uri)
    {
        if (!sim.start({QStringLiteral("--type-rate"), QStringLiteral("100000"),
                        QStringLiteral("--capacity"), QStringLiteral("60")}))
            return false;
        const QByteArray settings = "[BASIC]\r\nLogFilePath=Quillet.log\r\nIsSaveAsMDB=1\r\n"
                                    "MDBFilePath=" +
                                    uri.toUtf8() +
                                    "\r\nIsDeleteSMS=1\r\nIsUseSoundAlert=0\r\nIsDebugMode=1\r\n"
                                    "LoggerName=" +
                                    name.toUtf8() +
                                    "\r\n[COMM]\r\nCOMPORT=" + sim.ptyPath().toUtf8() + "\r\n";
        return WriteLoggerFolder(QDir(dir.path()), settings, kBin);
    }
    bool deliver(const QString &number, const QString &text, int n)
    {
        return sim
            .control(QStringLiteral("deliver number=%1 text=\"%2\" time=%3")
                         .arg(number, text, stampOf(n)))
            .startsWith(QLatin1String("ok"));
    }
    void start()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("qt.qpa.*=false"));
        env.insert(QStringLiteral("QUILLET_POLL_INTERVAL_MS"), QStringLiteral("30"));
        env.insert(QStringLiteral("QUILLET_CENTRAL_RETRY_MS"), QString::number(kFirstRetryMs));
        env.insert(QStringLiteral("TMPDIR"), lockDir.path());
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir.path());
        m_traceAtStart = trace().size();
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // A test that dies takes its loggers along.
        process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        process.start(kBin + QStringLiteral("/quillet"), {});
        process.waitForStarted(5000);
    }
    bool end()
    {
        // A SIGTERM before the logger is up would find no handler: wait for
        // its first poll of this start.
        QDeadlineTimer up(10000);
        while (!trace().mid(m_traceAtStart).contains(QLatin1String("TotalSMSCount=")) &&
               !up.hasExpired())
            QTest::qWait(20);
        process.terminate();
        const bool ok = process.waitForFinished(10000) &&
                        process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        if (!ok)
            qWarning("the logger's end: state %d, status %d, code %d", int(process.state()),
                     int(process.exitStatus()), process.exitCode());
        return ok;
    }
    // True once the process is gone (a SIGKILL waits for an fsync under way).
    bool kill()
    {
        ::kill(pid_t(process.processId()), SIGKILL);
        return process.waitForFinished(30000) || process.state() == QProcess::NotRunning;
    }
    ~Logger()
    {
        if (process.state() != QProcess::NotRunning)
            kill();
    }

    // The texts of the log's records, in the order they were written.
    QStringList logged() const
    {
        QStringList texts;
        static const QRegularExpression record(QStringLiteral("^\\d\\d/\\d\\d/\\d{4} "
                                                              "\\d\\d:\\d\\d:\\d\\d \\[[^]]*\\] "
                                                              "(.*)\\r$"));
        for (const QByteArray &line :
             ReadFileBytes(dir.filePath(QStringLiteral("Quillet.log"))).split('\n')) {
            const auto m = record.match(QString::fromUtf8(line));
            if (m.hasMatch())
                texts << m.captured(1);
        }
        return texts;
    }
    int onSim() const
    {
        static const QRegularExpression slotRe(QStringLiteral("^slot=\\d+ "),
                                               QRegularExpression::MultilineOption);
        return int(QString::fromUtf8(ReadFileBytes(sim.stateFile())).count(slotRe));
    }
    int waitingInOutbox() const
    {
        static int n = 0;
        const QString name = QStringLiteral("outbox-check-%1").arg(++n);
        int count = -1;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(dir.filePath(QStringLiteral("Quillet.outbox")));
            QSqlQuery q(db);
            if (db.open() && q.exec(QStringLiteral("SELECT count(*) FROM outbox")) && q.next())
                count = q.value(0).toInt();
        }
        QSqlDatabase::removeDatabase(name);
        return count;
    }
    QString trace() const
    {
        return QString::fromUtf8(ReadFileBytes(dir.filePath(QStringLiteral("dbg.log"))));
    }

private:
    qsizetype m_traceAtStart = 0;
};

struct Figures
{
    int logged = 0, lost = 0, duplicated = 0;
};

// How the expected texts came out in `rows`.
Figures figuresOf(const QStringList &expected, const QStringList &rows)
{
    Figures f;
    f.logged = int(rows.size());
    for (const QString &text : expected) {
        const int c = int(rows.count(text));
        f.lost += c == 0;
        f.duplicated += qMax(0, c - 1);
    }
    return f;
}

} // namespace

class tst_CentralE2E : public QObject
{
    Q_OBJECT

    PgServer m_server;

    QStringList texts(const QString &db, const QString &where = QString())
    {
        return m_server.rows(
            QStringLiteral("SELECT AlarmMessage FROM tarrow %1 ORDER BY id").arg(where), db);
    }
    // -1 before the table is there.
    int count(const QString &db)
    {
        const QStringList r = m_server.rows(QStringLiteral("SELECT count(*) FROM tarrow"), db);
        bool ok = false;
        const int n = r.value(0).toInt(&ok);
        return r.size() == 1 && ok ? n : -1;
    }

private slots:
    void initTestCase()
    {
        if (PgServer::BinDir().isEmpty())
            QSKIP("the PostgreSQL server binaries (postgresql-15) are not installed");
        QVERIFY2(m_server.start(), qPrintable(m_server.error()));
    }

    // Three loggers, three simulators, 50 alarms each, one server: 150
    // rows, each once, each logger's in the order its log holds them.
    void threeLoggersOneServer()
    {
        QVERIFY(m_server.createDatabase(QStringLiteral("three")));
        const QStringList names{QStringLiteral("north"), QStringLiteral("south"),
                                QStringLiteral("east")};
        std::vector<std::unique_ptr<Logger>> loggers;
        QStringList expected;
        for (int i = 0; i < 3; ++i) {
            auto logger = std::make_unique<Logger>();
            QVERIFY(logger->prepare(names.at(i), m_server.uri(QStringLiteral("three"))));
            for (int k = 0; k < 50; ++k) {
                const QString text = QStringLiteral("%1 alarm %2").arg(names.at(i)).arg(k);
                QVERIFY(logger->deliver(QStringLiteral("+3390%1").arg(i), text, k));
                expected << text;
            }
            loggers.push_back(std::move(logger));
        }
        for (auto &logger : loggers)
            logger->start();
        QTRY_VERIFY_WITH_TIMEOUT(count(QStringLiteral("three")) >= 150, 60000);
        for (auto &logger : loggers)
            QTRY_COMPARE_WITH_TIMEOUT(logger->waitingInOutbox(), 0, 10000);
        const QStringList rows = texts(QStringLiteral("three"));
        const Figures f = figuresOf(expected, rows);
        qInfo("3 loggers: 150 injected, %d rows, %d lost, %d duplicated", f.logged, f.lost,
              f.duplicated);
        QCOMPARE(f.lost, 0);
        QCOMPARE(f.duplicated, 0);
        QCOMPARE(f.logged, 150);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(loggers[i]->onSim(), 0);
            QCOMPARE(texts(QStringLiteral("three"),
                           QStringLiteral("WHERE logger = '%1'").arg(names.at(i))),
                     loggers[i]->logged());
            QVERIFY(loggers[i]->end());
        }
    }

    // The server stops in the middle of a burst: the logger goes on logging
    // and empties the SIM while it is down, waits longer and longer between
    // tries, and once the server is back every row arrives once.
    void serverStoppedDuringABurst()
    {
        const QString db = QStringLiteral("outage");
        QVERIFY(m_server.createDatabase(db));
        bool ok = false;
        int outageMs = qEnvironmentVariableIntValue("QUILLET_OUTAGE_MS", &ok);
        if (!ok)
            outageMs = 3000;
        Logger logger;
        QVERIFY(logger.prepare(QStringLiteral("burst"), m_server.uri(db)));
        QStringList expected;
        auto deliver = [&](int from, int to) {
            for (int k = from; k < to; ++k) {
                expected << QStringLiteral("Burst alarm %1").arg(k);
                QVERIFY(logger.deliver(QStringLiteral("+44%1").arg(k % 3), expected.last(), k));
            }
        };
        deliver(0, 10);
        logger.start();
        QTRY_COMPARE_WITH_TIMEOUT(count(db), 10, 20000);

        m_server.stop();
        QElapsedTimer down;
        down.start();
        deliver(10, 40);
        QTRY_COMPARE_WITH_TIMEOUT(logger.onSim(), 0, 20000);
        QStringList logged = logger.logged(), sorted = expected;
        logged.sort();
        sorted.sort();
        QCOMPARE(logged, sorted); // a freed slot takes a later alarm: the log's order is its own
        QVERIFY2(!m_server.isRunning(), "the SIM was emptied while the server was down");
        QTest::qWait(int(qMax<qint64>(0, outageMs - down.elapsed())));
        QTRY_COMPARE_WITH_TIMEOUT(logger.waitingInOutbox(), 30, 5000);
        const qint64 outage = down.elapsed();
        QVERIFY2(m_server.restart(), qPrintable(m_server.error()));

        QTRY_COMPARE_WITH_TIMEOUT(logger.waitingInOutbox(), 0, 20000);
        const Figures f = figuresOf(expected, texts(db));
        qInfo("outage of %lld ms: 40 injected, %d logged, %d rows, %d lost, %d duplicated", outage,
              int(logger.logged().size()), f.logged, f.lost, f.duplicated);
        QCOMPARE(f.lost, 0);
        QCOMPARE(f.duplicated, 0);
        QCOMPARE(texts(db), logger.logged());

        // The waits while it was down: doubling up to 30 times the first,
        // and so only a handful of tries, never a busy loop.
        static const QRegularExpression retry(QStringLiteral("rows wait, retry in (\\d+) ms"));
        QList<int> waits;
        auto it = retry.globalMatch(logger.trace());
        while (it.hasNext())
            waits << it.next().captured(1).toInt();
        QVERIFY2(waits.size() >= 4, qPrintable(logger.trace().right(2000)));
        QCOMPARE(waits.first(), kFirstRetryMs);
        for (qsizetype i = 1; i < waits.size(); ++i)
            QCOMPARE(waits.at(i), qMin(2 * waits.at(i - 1), 30 * kFirstRetryMs));
        const int bound = int(outage / (30 * kFirstRetryMs)) + 8;
        QVERIFY2(waits.size() <= bound,
                 qPrintable(QStringLiteral("%1 tries in %2 ms").arg(waits.size()).arg(outage)));
        QVERIFY(logger.end());
    }

    // A site that texts two numbers: two loggers receive the same 20
    // alarms, the server stores 20 rows.
    void twoLoggersSameAlarms()
    {
        const QString db = QStringLiteral("twin");
        QVERIFY(m_server.createDatabase(db));
        Logger a, b;
        QVERIFY(a.prepare(QStringLiteral("a"), m_server.uri(db)));
        QVERIFY(b.prepare(QStringLiteral("b"), m_server.uri(db)));
        QStringList expected;
        for (int k = 0; k < 20; ++k) {
            expected << QStringLiteral("Pump %1 tripped").arg(k);
            QVERIFY(a.deliver(QStringLiteral("+8869000"), expected.last(), k));
            QVERIFY(b.deliver(QStringLiteral("+8869000"), expected.last(), k));
        }
        a.start();
        b.start();
        QTRY_COMPARE_WITH_TIMEOUT(a.logged().size(), 20, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(b.logged().size(), 20, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(a.waitingInOutbox(), 0, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(b.waitingInOutbox(), 0, 10000);
        const Figures f = figuresOf(expected, texts(db));
        qInfo("2 loggers, the same 20 alarms: 40 received, %d rows, %d lost, %d duplicated",
              f.logged, f.lost, f.duplicated);
        QCOMPARE(f.lost, 0);
        QCOMPARE(f.duplicated, 0);
        QCOMPARE(f.logged, 20);
        QVERIFY(a.end());
        QVERIFY(b.end());
    }

    // SIGKILL while the outbox holds rows (the server was down), and again
    // right as the first of them reach the server: after the restarts they
    // are all there, once.
    void killedWithRowsWaiting()
    {
        const QString db = QStringLiteral("killed");
        QVERIFY(m_server.createDatabase(db));
        Logger logger;
        QVERIFY(logger.prepare(QStringLiteral("killed"), m_server.uri(db)));
        QStringList expected;
        for (int k = 0; k < 25; ++k) {
            expected << QStringLiteral("Valve %1 open").arg(k);
            QVERIFY(logger.deliver(QStringLiteral("+31%1").arg(k % 4), expected.last(), k));
        }
        m_server.stop();
        logger.start();
        QTRY_COMPARE_WITH_TIMEOUT(logger.onSim(), 0, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(logger.waitingInOutbox(), 25, 5000);
        QVERIFY(logger.kill());

        QVERIFY2(m_server.restart(), qPrintable(m_server.error()));
        logger.start();
        QTRY_VERIFY_WITH_TIMEOUT(count(db) > 0, 20000);
        QVERIFY(logger.kill()); // the batch committed, perhaps not yet taken out of the outbox
        const int waitingAfterKill = logger.waitingInOutbox();
        logger.start();
        QTRY_COMPARE_WITH_TIMEOUT(logger.waitingInOutbox(), 0, 20000);
        const Figures f = figuresOf(expected, texts(db));
        qInfo("SIGKILL with 25 rows waiting, again with %d: %d logged, %d rows, %d lost, "
              "%d duplicated",
              waitingAfterKill, int(logger.logged().size()), f.logged, f.lost, f.duplicated);
        QCOMPARE(logger.logged(), expected);
        QCOMPARE(f.lost, 0);
        QCOMPARE(f.duplicated, 0);
        QVERIFY(logger.end());
    }
};

QTEST_GUILESS_MAIN(tst_CentralE2E)
#include "tst_central_e2e.moc"
