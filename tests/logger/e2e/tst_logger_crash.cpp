// The real logger as a child process, killed with SIGKILL over and over while
// it records a burst of alarms from the simulator with the database on: right
// after a record reaches the log (the moment the file grows), and at random
// moments. Restarted after each kill, it must end with every alarm exactly
// once in the log and once in the database, and its RunOnAlarm program run
// at least once per alarm and at most once more per kill.
//
// QUILLET_CRASH_MESSAGES (default 32) and QUILLET_CRASH_SEED change the run;
// scripts/crash-run.sh runs it with 1,000 messages.

#include "devsimclient.h"
#include "testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

using devsim::test::DevSimClient;
using quillet::test::ReadFileBytes;
using quillet::test::WriteLoggerFolder;

namespace {

const QString kBin = QStringLiteral(QUILLET_BIN_DIR);

int envInt(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

// Alarm n: a text and a stamp of its own.
QString alarmText(int n)
{
    return QStringLiteral("Alarm %1 tank level").arg(n);
}
QString alarmStamp(int n)
{
    return QStringLiteral("24/01/%1,%2:%3:%4")
        .arg(1 + n / 86400, 2, 10, QLatin1Char('0'))
        .arg(n / 3600 % 24, 2, 10, QLatin1Char('0'))
        .arg(n / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(n % 60, 2, 10, QLatin1Char('0'));
}

int storedCount(const DevSimClient &sim)
{
    static const QRegularExpression slotRe(QStringLiteral("^slot=\\d+ "),
                                           QRegularExpression::MultilineOption);
    return int(QString::fromUtf8(ReadFileBytes(sim.stateFile())).count(slotRe));
}

// How often each alarm's text occurs among the log's records and the rows.
QMap<QString, int> logCounts(const QString &path)
{
    QMap<QString, int> counts;
    // A log record, or a line of the program run per alarm.
    static const QRegularExpression textRe(
        QStringLiteral("(?:\\] |^)(Alarm \\d+ tank level)\\r?$"));
    for (const QByteArray &line : ReadFileBytes(path).split('\n')) {
        const QRegularExpressionMatch m = textRe.match(QString::fromUtf8(line));
        if (m.hasMatch())
            ++counts[m.captured(1)];
    }
    return counts;
}

QMap<QString, int> rowCounts(const QString &path)
{
    QMap<QString, int> counts;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("c"));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(QStringLiteral("SELECT AlarmMessage FROM Tarrow"), db);
            while (q.next())
                ++counts[q.value(0).toString()];
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("c"));
    return counts;
}

struct Figures
{
    int lost = 0;
    int duplicated = 0;
};
Figures figuresOf(const QMap<QString, int> &counts, int injected)
{
    Figures f;
    for (int n = 0; n < injected; ++n) {
        const int c = counts.value(alarmText(n));
        f.lost += c == 0;
        f.duplicated += qMax(0, c - 1);
    }
    return f;
}

// Blocks until the file grows beyond `size` (true), or until there is
// nothing left to wait for, or 10 s have passed.
bool waitForGrowth(const QString &path, qint64 size, const std::function<bool()> &nothingLeft)
{
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0)
        return false;
    ::inotify_add_watch(fd, QFile::encodeName(path).constData(), IN_MODIFY);
    QElapsedTimer clock;
    clock.start();
    bool grew = false;
    while (!(grew = QFileInfo(path).size() > size) && clock.elapsed() < 10000) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) == 0 && nothingLeft())
            break;
        char events[4096];
        while (::read(fd, events, sizeof events) > 0) {
        }
    }
    ::close(fd);
    return grew;
}

} // namespace

class tst_LoggerCrash : public QObject
{
    Q_OBJECT

private slots:
    // The second row kills every start at the end of its first poll that
    // recorded (the record, the received store and the SIM delete done, the
    // program for the alarm not run yet), with one alarm on the SIM at a time.
    void everyAlarmOnceAcrossKills_data()
    {
        QTest::addColumn<bool>("afterPoll");
        QTest::newRow("at the record and at random") << false;
        QTest::newRow("at the end of a recording poll") << true;
    }
    void everyAlarmOnceAcrossKills()
    {
        QFETCH(bool, afterPoll);
        const int injectedTotal = envInt("QUILLET_CRASH_MESSAGES", 32);
        QRandomGenerator dice(quint32(envInt("QUILLET_CRASH_SEED", 13)));
        QTemporaryDir dir;
        QTemporaryDir lockDir; // the child's instance lock, away from other loggers
        QVERIFY(dir.isValid() && lockDir.isValid());
        DevSimClient sim;
        QVERIFY2(sim.start({QStringLiteral("--type-rate"), QStringLiteral("100000"),
                            QStringLiteral("--capacity"), QStringLiteral("40")}),
                 qPrintable(sim.error()));
        QVERIFY(WriteLoggerFolder(
            QDir(dir.path()),
            "[BASIC]\r\nLogFilePath=Quillet.log\r\nIsSaveAsMDB=1\r\n"
            "MDBFilePath=Quillet.mdb\r\nIsDeleteSMS=1\r\nIsUseSoundAlert=0\r\n"
            "[COMM]\r\nCOMPORT=" +
                sim.ptyPath().toUtf8() +
                "\r\n[DDEMAP]\r\nIsUseDDE=0\r\n"
                "[HOOK]\r\nRunOnAlarm=sh -c '[ ! -e slow ] || sleep 1; echo \"$QUILLET_TEXT\" "
                ">>hook.out'\r\n",
            kBin));
        // Slow programs are still running at the kills: only the queue brings
        // their alarms back.
        if (afterPoll)
            QFile(dir.filePath(QStringLiteral("slow"))).open(QIODevice::WriteOnly);
        const QString logPath = dir.filePath(QStringLiteral("Quillet.log"));
        QFile(logPath).open(QIODevice::WriteOnly); // watched from the first start

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("qt.qpa.*=false"));
        env.insert(QStringLiteral("QUILLET_POLL_INTERVAL_MS"), QStringLiteral("20"));
        env.insert(QStringLiteral("TMPDIR"), lockDir.path());

        int injected = 0, starts = 0, killsAfterRecord = 0, killsAtRandom = 0, rowBehind = 0,
            killsAfterPoll = 0;
        QElapsedTimer clock;
        clock.start();
        for (bool done = false; !done; ++starts) {
            // Keep the SIM topped up until every alarm of the run is on it.
            const int topUp = afterPoll ? 1 : 30;
            for (int onSim = storedCount(sim); injected < injectedTotal && onSim < topUp; ++onSim) {
                const QString answer =
                    sim.control(QStringLiteral("deliver number=+3210%1 text=\"%2\" time=%3+32")
                                    .arg(injected % 7)
                                    .arg(alarmText(injected), alarmStamp(injected)));
                QVERIFY2(answer.startsWith(QLatin1String("ok")), qPrintable(answer));
                ++injected;
            }
            QVERIFY2(starts < 40 + 4 * injectedTotal, "the logger makes no progress");
            const qint64 sizeAtStart = QFileInfo(logPath).size();
            QProcess logger;
            logger.setWorkingDirectory(dir.path());
            QProcessEnvironment startEnv = env;
            if (afterPoll)
                startEnv.insert(QStringLiteral("QUILLET_KILL_AFTER_RECORDING_POLL"), "1");
            logger.setProcessEnvironment(startEnv);
            logger.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            logger.start(kBin + QStringLiteral("/quillet"), {});
            QVERIFY2(logger.waitForStarted(5000), qPrintable(logger.errorString()));

            const auto allGone = [&] {
                return injected == injectedTotal && storedCount(sim) == 0;
            };
            if (afterPoll) {
                killsAfterPoll += logger.waitForFinished(10000);
                done = allGone();
            } else if (starts % 4 != 3) {
                // The instant the record is in the file: before the received
                // store notes it, before its row, before the SIM delete.
                if (waitForGrowth(logPath, sizeAtStart, allGone)) {
                    ::kill(pid_t(logger.processId()), SIGKILL);
                    ++killsAfterRecord;
                    const int records = int(ReadFileBytes(logPath).count('\n'));
                    int rows = 0;
                    for (int c : rowCounts(dir.filePath(QStringLiteral("Quillet.mdb"))))
                        rows += c;
                    rowBehind += rows < records;
                } else {
                    done = allGone();
                    QVERIFY2(done, "the logger recorded nothing for 10 s");
                    ::kill(pid_t(logger.processId()), SIGKILL);
                }
            } else {
                QThread::msleep(dice.bounded(0, 250));
                ::kill(pid_t(logger.processId()), SIGKILL);
                ++killsAtRandom;
            }
            QVERIFY(logger.state() == QProcess::NotRunning || logger.waitForFinished(5000));
        }

        // One clean run more for the programs still queued at the last kill.
        QFile::remove(dir.filePath(QStringLiteral("slow")));
        {
            QProcess logger;
            logger.setWorkingDirectory(dir.path());
            logger.setProcessEnvironment(env);
            logger.start(kBin + QStringLiteral("/quillet"), {});
            QTRY_VERIFY_WITH_TIMEOUT(
                QFileInfo(dir.filePath(QStringLiteral("Quillet.hook"))).size() == 0, 30000);
            logger.terminate();
            QVERIFY(logger.waitForFinished(10000));
        }
        const Figures hook =
            figuresOf(logCounts(dir.filePath(QStringLiteral("hook.out"))), injected);
        const int kills = killsAfterRecord + killsAtRandom + killsAfterPoll;
        qInfo("program per alarm: %d lost, %d extra runs after %d kills (%d at the end of a "
              "recording poll)",
              hook.lost, hook.duplicated, kills, killsAfterPoll);
        QCOMPARE(hook.lost, 0);
        QVERIFY(hook.duplicated <= kills);
        QVERIFY(killsAfterPoll >= (afterPoll ? injectedTotal / 2 : 0));

        const QMap<QString, int> inLog = logCounts(logPath);
        const QMap<QString, int> inDatabase =
            rowCounts(dir.filePath(QStringLiteral("Quillet.mdb")));
        const Figures log = figuresOf(inLog, injected);
        const Figures db = figuresOf(inDatabase, injected);
        qInfo("%d alarms injected; %d starts, %d kills right after a record (%d with its row "
              "not yet written), %d at random moments, %.1f s",
              injected, starts, killsAfterRecord, rowBehind, killsAtRandom,
              double(clock.elapsed()) / 1000);
        qInfo("log: %d logged, %d lost, %d duplicated; database: %d rows, %d lost, %d duplicated",
              int(inLog.size()), log.lost, log.duplicated, int(inDatabase.size()), db.lost,
              db.duplicated);
        QCOMPARE(injected, injectedTotal);
        QCOMPARE(storedCount(sim), 0);
        QCOMPARE(log.lost, 0);
        QCOMPARE(log.duplicated, 0);
        QCOMPARE(db.lost, 0);
        QCOMPARE(db.duplicated, 0);
        QVERIFY(killsAfterRecord >= (afterPoll ? 0 : injectedTotal / 2));
    }
};

QTEST_GUILESS_MAIN(tst_LoggerCrash)
#include "tst_logger_crash.moc"
