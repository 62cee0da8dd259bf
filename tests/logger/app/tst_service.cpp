// The built quillet as a service runs it: no display, no platform variable,
// the device simulator on a pty, the service manager's notification socket
// played by the test, and the end by a signal in the middle of a poll.

#include "devsimclient.h"
#include "testfiles.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>
#include <array>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using devsim::test::DevSimClient;
using quillet::test::ReadFileBytes;
using quillet::test::WriteLoggerFolder;

namespace {

const QString kBin = QStringLiteral(QUILLET_BIN_DIR);

// The service manager's end of the notification socket.
class NotifySocket
{
public:
    explicit NotifySocket(const QString &name) : m_name(name)
    {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const QByteArray path = name.toLocal8Bit();
        std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
        if (path.startsWith('@'))
            addr.sun_path[0] = '\0';
        const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(path.size()));
        m_bound = ::bind(m_fd, reinterpret_cast<sockaddr *>(&addr), length) == 0;
    }
    ~NotifySocket() { ::close(m_fd); }
    bool isBound() const { return m_bound; }
    QString name() const { return m_name; }

    // Every datagram received so far, in order.
    QList<QByteArray> drain()
    {
        char buf[4096];
        ssize_t n;
        while ((n = ::recv(m_fd, buf, sizeof buf, 0)) > 0)
            m_received << QByteArray(buf, int(n));
        return m_received;
    }
    // Whether any status line so far held `text`.
    bool sawStatus(const QByteArray &text)
    {
        for (const QByteArray &d : drain())
            for (const QByteArray &line : d.split('\n'))
                if (line.startsWith("STATUS=") && line.contains(text))
                    return true;
        return false;
    }
    int countOf(const QByteArray &line)
    {
        int n = 0;
        for (const QByteArray &d : drain())
            n += d.split('\n').count(line);
        return n;
    }
    QByteArray lastStatus()
    {
        QByteArray status;
        for (const QByteArray &d : drain())
            for (const QByteArray &line : d.split('\n'))
                if (line.startsWith("STATUS="))
                    status = line;
        return status;
    }

private:
    QString m_name;
    int m_fd = -1;
    bool m_bound = false;
    QList<QByteArray> m_received;
};

// One logger's folder with its settings, code map and database template, a
// simulator holding `count` alarms, and the logger started there without a
// display.
class LoggerRig
{
public:
    QTemporaryDir dir;
    QTemporaryDir lockDir; // TMPDIR, and the notification socket
    std::unique_ptr<DevSimClient> sim;
    QProcess logger;

    bool prepare(int count, const QStringList &simArgs, const QByteArray &extraBasic = {})
    {
        return startSim(count, simArgs) && prepareFiles(sim->ptyPath().toLocal8Bit(), extraBasic);
    }

    // A simulator holding alarms 1 to `count` (slot k holds alarm k).
    bool startSim(int count, const QStringList &simArgs)
    {
        sim = std::make_unique<DevSimClient>();
        if (!sim->start(QStringList{QStringLiteral("--type-rate"), QStringLiteral("100000")} +
                        simArgs))
            return false;
        for (int k = 1; k <= count; ++k)
            if (!deliver(k))
                return false;
        return true;
    }
    bool deliver(int k)
    {
        return sim
            ->control(QStringLiteral("deliver slot=%1 number=+4479%1 text=\"Alarm %1\"").arg(k))
            .startsWith(QLatin1String("ok"));
    }

    // The logger's folder: settings naming `comPort`, the code map and the
    // database template.
    bool prepareFiles(const QByteArray &comPort, const QByteArray &extraBasic,
                      const QByteArray &logPath = "Quillet.log")
    {
        const QByteArray settings =
            "[BASIC]\r\nLogFilePath=" + logPath +
            "\r\nIsSaveAsMDB=1\r\nMDBFilePath=Quillet.mdb\r\n"
            "IsDeleteSMS=1\r\nIsUseSoundAlert=0\r\n" +
            extraBasic + "[COMM]\r\nCOMPORT=" + comPort +
            "\r\nBAUDRATE=9600\r\nDATABIT=8\r\nPARITYBIT=None\r\nSTOPBIT=1\r\n";
        return WriteLoggerFolder(QDir(dir.path()), settings, kBin);
    }

    void start(const QStringList &env = {})
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const char *name :
             {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "NOTIFY_SOCKET", "WATCHDOG_USEC"})
            e.remove(QString::fromLatin1(name));
        e.insert(QStringLiteral("TMPDIR"), lockDir.path());
        e.insert(QStringLiteral("XDG_RUNTIME_DIR"), lockDir.path());
        e.insert(QStringLiteral("QUILLET_POLL_INTERVAL_MS"), QStringLiteral("100"));
        for (const QString &kv : env)
            e.insert(kv.section(QLatin1Char('='), 0, 0), kv.section(QLatin1Char('='), 1));
        logger.setProcessEnvironment(e);
        logger.setWorkingDirectory(dir.path());
        logger.start(kBin + QStringLiteral("/quillet"), {});
    }

    QString logPath = QStringLiteral("Quillet.log");
    QByteArray log() const { return ReadFileBytes(dir.filePath(logPath)); }
    // The alarm numbers in the log, in order.
    QList<int> logged() const
    {
        QList<int> numbers;
        static const QRegularExpression record(
            QStringLiteral("^\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d \\[\\+4479(\\d+)\\] "
                           "Alarm (\\d+)$"));
        const QString text = QString::fromUtf8(log());
        for (const QString &line : text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
            const auto m = record.match(line);
            numbers << (m.hasMatch() && m.captured(1) == m.captured(2) ? m.captured(1).toInt()
                                                                       : -1); // torn
        }
        return numbers;
    }
    // Slots still holding a message (slot k holds alarm k).
    QSet<int> onSim() const
    {
        QSet<int> used;
        if (!sim)
            return used;
        static const QRegularExpression slotRe(QStringLiteral("^slot=(\\d+) "),
                                               QRegularExpression::MultilineOption);
        auto it = slotRe.globalMatch(QString::fromUtf8(ReadFileBytes(sim->stateFile())));
        while (it.hasNext())
            used << it.next().captured(1).toInt();
        return used;
    }
    // AT commands the simulator has answered: it grows while the logger polls.
    int commands() const
    {
        const QString answer = sim->control(QStringLiteral("counts"));
        return answer.section(QStringLiteral("commands="), 1).toInt();
    }
    // quillet --status on the folder, as a monitoring agent asks it.
    int status()
    {
        QProcess p;
        p.setProcessEnvironment(logger.processEnvironment());
        p.start(kBin + QStringLiteral("/quillet"), {QStringLiteral("--status"), dir.path()});
        return p.waitForFinished(10000) ? p.exitCode() : -1;
    }
    bool instanceLockHeld() const
    {
        return QFile::exists(dir.filePath(QStringLiteral("Quillet.lock")));
    }
    void stop()
    {
        if (logger.state() != QProcess::NotRunning) {
            logger.kill();
            logger.waitForFinished(5000);
        }
    }
    ~LoggerRig() { stop(); }
};

} // namespace

class tst_Service : public QObject
{
    Q_OBJECT

private slots:
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::newRow("help") << QStringList{"--help"} << 0
                              << "Usage: quillet [--help | --version | --status"
                              << "";
        QTest::newRow("version") << QStringList{"--version"} << 0 << "quillet " QUILLET_VERSION "\n"
                                 << "";
        QTest::newRow("a Qt option") << QStringList{"-platform", "xcb"} << 2 << ""
                                     << "quillet: unexpected argument '-platform'";
        QTest::newRow("a file") << QStringList{"Quillet.set"} << 2 << ""
                                << "quillet: unexpected argument 'Quillet.set'";
        QTest::newRow("status, no logger")
            << QStringList{"--status"} << 3 << "QUILLET UNKNOWN - no logger has published"
            << "";
        QTest::newRow("status for programs")
            << QStringList{"--status", ".", "--json"} << 3 << "{\n    \"exitCode\": 3,"
            << "";
        QTest::newRow("status of two folders") << QStringList{"--status", "a", "b"} << 2 << ""
                                               << "quillet: unexpected argument 'b'";
        QTest::newRow("help and more") << QStringList{"--help", "x"} << 2 << ""
                                       << "quillet: unexpected argument 'x'";
        // No arguments: it runs, and without its files cannot start: a
        // failure, not success, for the service manager.
        QTest::newRow("no settings") << QStringList{} << 78 << ""
                                     << "找不到Quillet的設定檔: 找不到Quillet的設定檔:Quillet.set "
                                        "程式無法執行!";
    }
    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QTemporaryDir empty; // nothing to start up from
        QTemporaryDir lockDir;
        QProcess p;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.remove(QStringLiteral("DISPLAY"));
        e.remove(QStringLiteral("QT_QPA_PLATFORM"));
        e.insert(QStringLiteral("TMPDIR"), lockDir.path());
        p.setProcessEnvironment(e);
        p.setWorkingDirectory(empty.path());
        p.start(kBin + QStringLiteral("/quillet"), args);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), exitCode);
        const QString stdOut = QString::fromLocal8Bit(p.readAllStandardOutput());
        const QString stdErr = QString::fromLocal8Bit(p.readAllStandardError());
        QVERIFY2(out.isEmpty() ? stdOut.isEmpty() : stdOut.startsWith(out), qPrintable(stdOut));
        QVERIFY2(err.isEmpty() ? stdErr.isEmpty() : stdErr.contains(err), qPrintable(stdErr));
        QCOMPARE(QDir(empty.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList());
    }

    // No display and no platform variable: the logger still logs, and a box
    // it raises goes to standard error, once, as "title: text".
    void headlessLogsAndWritesBoxes()
    {
        LoggerRig rig;
        QVERIFY(rig.prepare(1, {}));
        QFile bad(rig.dir.filePath(QStringLiteral("Quillet.mdb")));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write(QByteArray(4096, 'x')); // not a database
        bad.close();
        rig.start();
        QVERIFY(rig.logger.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(rig.logged(), QList<int>{1}, 15000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.onSim(), QSet<int>{}, 5000);
        QCOMPARE(rig.logger.state(), QProcess::Running);
        rig.logger.terminate();
        QVERIFY(rig.logger.waitForFinished(5000));
        const QString err = QString::fromUtf8(rig.logger.readAllStandardError());
        static const QRegularExpression box(
            QStringLiteral("^資料庫錯誤: 無法開啟資料庫! MDBFileFullPath=.*Quillet\\.mdb .+$"),
            QRegularExpression::MultilineOption);
        QVERIFY2(box.match(err).hasMatch(), qPrintable(err));
        QCOMPARE(err.count(QStringLiteral("資料庫錯誤")), 1);
        QVERIFY2(err.count(QStringLiteral("<3>Quillet: Database: ")) == 1, qPrintable(err));
    }

    // The test plays the service manager.
    void notifiesTheServiceManager_data()
    {
        QTest::addColumn<bool>("abstract");
        QTest::newRow("socket path") << false;
        QTest::newRow("abstract socket") << true;
    }
    void notifiesTheServiceManager()
    {
        QFETCH(bool, abstract);
        LoggerRig rig;
        QVERIFY(rig.prepare(1, {}, "MetricsFile=quillet.prom\r\n"));
        const QString name = abstract ? QStringLiteral("@quillet-test-%1").arg(::getpid())
                                      : rig.lockDir.filePath(QStringLiteral("notify"));
        NotifySocket manager(name);
        QVERIFY(manager.isBound());
        rig.start(
            {QStringLiteral("NOTIFY_SOCKET=") + name, QStringLiteral("WATCHDOG_USEC=400000")});
        QVERIFY(rig.logger.waitForStarted());

        QTRY_VERIFY_WITH_TIMEOUT(manager.countOf("READY=1") == 1, 15000);
        QVERIFY(manager.drain().first().startsWith("READY=1\nSTATUS=Online, SMS count : 0"));
        QTRY_COMPARE_WITH_TIMEOUT(manager.lastStatus(), QByteArray("STATUS=Online, SMS count : 1"),
                                  10000);
        QTRY_VERIFY_WITH_TIMEOUT(manager.countOf("WATCHDOG=1") >= 3, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.status(), 0, 5000); // polls every 100 ms, even here
        const QByteArray label =
            "{folder=\"" + QFile::encodeName(QDir(rig.dir.path()).canonicalPath()) + "\"}";
        const QByteArray metrics = ReadFileBytes(rig.dir.filePath(QStringLiteral("quillet.prom")));
        QVERIFY2(metrics.contains("\nquillet_alarms_total" + label + " 1\n") &&
                     metrics.contains("\nquillet_online" + label + " 1\n"),
                 metrics.constData());
        const QString statusFile = QDir(rig.lockDir.filePath(QStringLiteral("quillet")))
                                       .entryInfoList(QDir::Files)
                                       .value(0)
                                       .filePath();
        const QByteArray lastWords = ReadFileBytes(statusFile);

        rig.sim.reset(); // the device goes away
        // Offline, why, and that it tries again.
        QTRY_VERIFY_WITH_TIMEOUT(manager.lastStatus().startsWith("STATUS=Offline (") &&
                                     manager.lastStatus().endsWith("; retrying), SMS count : 1"),
                                 10000);
        // Still ticking and trying to re-open the port: alive.
        const int beats = manager.countOf("WATCHDOG=1");
        QTRY_VERIFY_WITH_TIMEOUT(manager.countOf("WATCHDOG=1") >= beats + 2, 5000);
        QCOMPARE(rig.status(), 2);

        rig.logger.terminate();
        QVERIFY(rig.logger.waitForFinished(5000));
        QCOMPARE(manager.countOf("STOPPING=1"), 1);
        QCOMPARE(manager.countOf("READY=1"), 1);
        // The journal heard each change once, with its priority.
        const QByteArray err = rig.logger.readAllStandardError();
        QVERIFY2(err.count("<6>Quillet: Online\n") == 1 &&
                     err.contains("<3>Quillet: Offline: lost "),
                 err.constData());
        // Gone in order; and what a killed one leaves behind names no logger.
        QCOMPARE(rig.status(), 3);
        QVERIFY(!QFile::exists(statusFile));
        QFile stale(statusFile);
        QVERIFY(stale.open(QIODevice::WriteOnly) && stale.write(lastWords) == lastWords.size());
        stale.close();
        QCOMPARE(rig.status(), 3);
    }

    // Five loggers at once, each meeting what a control room meets, none
    // given a command: the log locked by another program for 20 s while an
    // alarm arrives, a SIM asking for its PIN for 15 s, a device that
    // appears only after the logger started, a file where the log folder
    // should be, and a noisy line that spoils answers. Every alarm is logged
    // once, none is lost, and no logger stops, freezes or floods the journal.
    void unattendedForYears()
    {
        enum
        {
            Locked,
            Pin,
            Late,
            Folder,
            Noisy,
            Runs
        };
        const char *names[Runs] = {"log locked 20 s", "SIM asks for its PIN 15 s",
                                   "device appears later", "file where the log folder goes",
                                   "noisy line"};
        const int injected[Runs] = {1, 1, 1, 1, 3};
        std::array<std::unique_ptr<LoggerRig>, Runs> rigs;
        std::array<std::unique_ptr<NotifySocket>, Runs> managers;
        for (int r = 0; r < Runs; ++r) {
            rigs[r] = std::make_unique<LoggerRig>();
            managers[r] =
                std::make_unique<NotifySocket>(rigs[r]->lockDir.filePath(QStringLiteral("notify")));
            QVERIFY(managers[r]->isBound());
        }
        const QString link = rigs[Late]->dir.filePath(QStringLiteral("device"));
        const QString blocker = rigs[Folder]->dir.filePath(QStringLiteral("logs"));
        QVERIFY(rigs[Locked]->prepare(0, {}));
        QVERIFY(rigs[Pin]->prepare(1, {QStringLiteral("--pin-wait")}));
        QVERIFY(rigs[Late]->prepareFiles(link.toLocal8Bit(), {}));
        QVERIFY(rigs[Folder]->startSim(1, {}));
        QVERIFY(rigs[Folder]->prepareFiles(rigs[Folder]->sim->ptyPath().toLocal8Bit(), {},
                                           "logs/Quillet.log"));
        rigs[Folder]->logPath = QStringLiteral("logs/Quillet.log");
        {
            QFile file(blocker);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QVERIFY(rigs[Noisy]->prepare(3, {QStringLiteral("--bad-crc"), QStringLiteral("30"),
                                         QStringLiteral("--seed"), QStringLiteral("5")}));
        QElapsedTimer clock;
        clock.start();
        for (int r = 0; r < Runs; ++r) {
            rigs[r]->start({QStringLiteral("NOTIFY_SOCKET=") + managers[r]->name(),
                            QStringLiteral("WATCHDOG_USEC=400000")});
            QVERIFY(rigs[r]->logger.waitForStarted());
        }
        auto runningAll = [&] {
            for (auto &rig : rigs)
                if (rig->logger.state() != QProcess::Running)
                    return false;
            return true;
        };

        // Another program takes the log's lock; then an alarm comes.
        QTRY_VERIFY_WITH_TIMEOUT(managers[Locked]->sawStatus("Online"), 15000);
        const QByteArray logFile = QFile::encodeName(rigs[Locked]->dir.filePath("Quillet.log"));
        const int holder = ::open(logFile.constData(), O_RDWR | O_CLOEXEC);
        QVERIFY(holder >= 0);
        QCOMPARE(::flock(holder, LOCK_EX), 0);
        QElapsedTimer held;
        held.start();
        const int commandsBefore = rigs[Locked]->commands();
        QVERIFY(rigs[Locked]->deliver(1));

        // Five seconds in: the device and the folder are still missing.
        QTest::qWait(int(qMax<qint64>(0, 5000 - clock.elapsed())));
        QVERIFY(runningAll());
        QVERIFY(managers[Late]->sawStatus("Offline (cannot open " + link.toLocal8Bit()));
        QVERIFY(managers[Folder]->sawStatus("(cannot create the log folder"));
        QCOMPARE(rigs[Folder]->onSim(), QSet<int>{1});
        QVERIFY(rigs[Folder]->log().isEmpty());
        QVERIFY(rigs[Late]->startSim(1, {QStringLiteral("--link"), link}));
        QVERIFY(QFile::remove(blocker));

        // Fifteen seconds in: the SIM gets its PIN.
        QTest::qWait(int(qMax<qint64>(0, 15000 - clock.elapsed())));
        QVERIFY(runningAll());
        QVERIFY(rigs[Pin]->log().isEmpty());
        QVERIFY(managers[Pin]->sawStatus("Offline (SIM not ready: SIM PIN; retrying)"));
        // Trying is alive: the service manager gets its heartbeats (one per
        // try, and a try waits out the SIM's silence about READY).
        QTRY_VERIFY_WITH_TIMEOUT(managers[Pin]->countOf("WATCHDOG=1") >= 1, 5000);
        QVERIFY(rigs[Pin]->log().isEmpty());
        QVERIFY(rigs[Pin]->sim->control(QStringLiteral("pin off")).startsWith("ok"));

        // The lock is let go after 20 s; the logger kept polling meanwhile.
        QTest::qWait(int(qMax<qint64>(0, 20000 - held.elapsed())));
        const int pollsDuringHold = rigs[Locked]->commands() - commandsBefore;
        QCOMPARE(rigs[Locked]->onSim(), QSet<int>{1});
        QVERIFY(rigs[Locked]->log().isEmpty());
        QVERIFY(managers[Locked]->sawStatus("(log locked by another program)"));
        QVERIFY(runningAll());
        ::close(holder);

        auto allLogged = [&] {
            for (int r = 0; r < Runs; ++r)
                if (rigs[r]->logged().size() < injected[r] || !rigs[r]->onSim().isEmpty())
                    return false;
            return true;
        };
        QTRY_VERIFY_WITH_TIMEOUT(allLogged(), 30000);
        QTest::qWait(1000); // further polls add nothing
        qInfo("the simulator answered %d commands during the 20 s lock", pollsDuringHold);
        QVERIFY(pollsDuringHold >= 20);

        for (int r = 0; r < Runs; ++r) {
            LoggerRig &rig = *rigs[r];
            QCOMPARE(rig.logger.state(), QProcess::Running);
            rig.logger.terminate();
            QVERIFY(rig.logger.waitForFinished(5000));
            const QList<int> logged = rig.logged();
            const QSet<int> once(logged.cbegin(), logged.cend());
            int lost = 0;
            for (int k = 1; k <= injected[r]; ++k)
                lost += !once.contains(k);
            qInfo("%s: injected %d, logged %d, lost %d, duplicated %d", names[r], injected[r],
                  int(once.size()), lost, int(logged.size() - once.size()));
            QCOMPARE(lost, 0);
            QCOMPARE(int(logged.size()), injected[r]);
            QVERIFY(!logged.contains(-1));
        }
        // The spoiled answers: the first one in the journal, then counted.
        const QString err = QString::fromUtf8(rigs[Noisy]->logger.readAllStandardError());
        const int lines = int(err.count(QStringLiteral("Receive Command Error: ")));
        qInfo("noisy line: %d journal lines for its spoiled answers", lines);
        QVERIFY2(lines >= 1 && lines <= 4, qPrintable(err));
    }

    // SIGTERM or SIGINT while a poll works through twenty messages: the
    // process ends within 5 s through ExitSystem (instance lock and database
    // released), no record is torn, no message leaves the SIM without its
    // record, and a restart logs the rest, each message once.
    void signalDuringAPoll_data()
    {
        QTest::addColumn<int>("signo");
        QTest::addColumn<bool>("twice");
        QTest::addColumn<bool>("silent");
        QTest::newRow("SIGTERM, then SIGTERM again") << int(SIGTERM) << true << false;
        QTest::newRow("SIGINT") << int(SIGINT) << false << false;
        QTest::newRow("SIGTERM while the device is silent") << int(SIGTERM) << false << true;
    }
    void signalDuringAPoll()
    {
        QFETCH(int, signo);
        QFETCH(bool, twice);
        QFETCH(bool, silent);
        constexpr int injected = 20;
        LoggerRig rig;
        QVERIFY(rig.prepare(injected, {QStringLiteral("--latency"), QStringLiteral("15")}));
        rig.start();
        QVERIFY(rig.logger.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!rig.logged().isEmpty(), 15000);
        if (silent)
            QVERIFY(rig.sim->control(QStringLiteral("silent on")).startsWith(QLatin1String("ok")));
        QVERIFY(rig.instanceLockHeld());
        const auto pid = pid_t(rig.logger.processId());
        QVERIFY(pid > 0);
        QElapsedTimer clock;
        clock.start();
        ::kill(pid, signo);
        if (twice) {
            QTest::qWait(30);
            if (rig.logger.state() == QProcess::Running)
                ::kill(pid, signo);
        }
        QVERIFY(rig.logger.state() == QProcess::NotRunning || rig.logger.waitForFinished(5000));
        QVERIFY2(clock.elapsed() < 5000, QByteArray::number(clock.elapsed()));
        QCOMPARE(rig.logger.exitStatus(), QProcess::NormalExit);
        QCOMPARE(rig.logger.exitCode(), 0);
        QVERIFY(!rig.instanceLockHeld());
        QVERIFY(!QFile::exists(rig.dir.filePath(QStringLiteral("Quillet.mdb-wal"))));

        const QList<int> logged = rig.logged();
        const QSet<int> loggedSet(logged.cbegin(), logged.cend());
        const QSet<int> left = rig.onSim();
        int lost = 0;
        for (int k = 1; k <= injected; ++k)
            lost += !loggedSet.contains(k) && !left.contains(k);
        QVERIFY2(!logged.contains(-1), rig.log().constData()); // a torn record
        QVERIFY(rig.log().endsWith("\r\n"));
        qInfo("injected %d, logged before the end %d, left on the SIM %d, lost %d, duplicated %d",
              injected, int(logged.size()), int(left.size()), lost,
              int(logged.size() - loggedSet.size()));
        QCOMPARE(lost, 0);
        QCOMPARE(int(loggedSet.size()), int(logged.size()));               // duplicated: 0
        QVERIFY2(logged.size() < injected, "the end came after the poll"); // it came during it

        if (silent)
            QVERIFY(rig.sim->control(QStringLiteral("silent off")).startsWith(QLatin1String("ok")));
        rig.start();
        QVERIFY(rig.logger.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(rig.onSim(), QSet<int>{}, 20000);
        QList<int> all = rig.logged();
        std::sort(all.begin(), all.end());
        QList<int> expected;
        for (int k = 1; k <= injected; ++k)
            expected << k;
        QCOMPARE(all, expected); // every message logged, none twice
    }
};

QTEST_GUILESS_MAIN(tst_Service)
#include "tst_service.moc"
