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
#include <csignal>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using devsim::test::DevSimClient;
using quillet::test::ReadFileBytes;

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
    QTemporaryDir lockDir; // the instance lock lives in TMPDIR
    std::unique_ptr<DevSimClient> sim;
    QProcess logger;

    bool prepare(int count, const QStringList &simArgs, const QByteArray &extraBasic = {})
    {
        sim = std::make_unique<DevSimClient>();
        if (!sim->start(QStringList{QStringLiteral("--type-rate"), QStringLiteral("100000")} +
                        simArgs))
            return false;
        for (int k = 1; k <= count; ++k)
            if (!sim->control(
                        QStringLiteral("deliver slot=%1 number=+4479%1 text=\"Alarm %1\"").arg(k))
                     .startsWith(QLatin1String("ok")))
                return false;
        const QByteArray settings =
            "[BASIC]\r\nLogFilePath=Quillet.log\r\nIsSaveAsMDB=1\r\nMDBFilePath=Quillet.mdb\r\n"
            "IsDeleteSMS=1\r\nIsUseSoundAlert=0\r\n" +
            extraBasic + "[COMM]\r\nCOMPORT=" + sim->ptyPath().toLocal8Bit() +
            "\r\nBAUDRATE=9600\r\nDATABIT=8\r\nPARITYBIT=None\r\nSTOPBIT=1\r\n";
        QFile set(dir.filePath(QStringLiteral("Quillet.set")));
        return set.open(QIODevice::WriteOnly) && set.write(settings) == settings.size() &&
               QFile::copy(kBin + QStringLiteral("/Quillet.sys"),
                           dir.filePath(QStringLiteral("Quillet.sys"))) &&
               QFile::copy(kBin + QStringLiteral("/GSMCodeMap.cod"),
                           dir.filePath(QStringLiteral("GSMCodeMap.cod")));
    }

    void start(const QStringList &env = {})
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const char *name :
             {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "NOTIFY_SOCKET", "WATCHDOG_USEC"})
            e.remove(QString::fromLatin1(name));
        e.insert(QStringLiteral("TMPDIR"), lockDir.path());
        e.insert(QStringLiteral("QUILLET_POLL_INTERVAL_MS"), QStringLiteral("100"));
        for (const QString &kv : env)
            e.insert(kv.section(QLatin1Char('='), 0, 0), kv.section(QLatin1Char('='), 1));
        logger.setProcessEnvironment(e);
        logger.setWorkingDirectory(dir.path());
        logger.start(kBin + QStringLiteral("/quillet"), {});
    }

    QByteArray log() const { return ReadFileBytes(dir.filePath(QStringLiteral("Quillet.log"))); }
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
        static const QRegularExpression slotRe(QStringLiteral("^slot=(\\d+) "),
                                               QRegularExpression::MultilineOption);
        auto it = slotRe.globalMatch(QString::fromUtf8(ReadFileBytes(sim->stateFile())));
        while (it.hasNext())
            used << it.next().captured(1).toInt();
        return used;
    }
    bool instanceLockHeld() const
    {
        return QFile::exists(lockDir.filePath(QStringLiteral("quillet-instance.lock")));
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
        QTest::newRow("help") << QStringList{"--help"} << 0 << "Usage: quillet [--help | --version]"
                              << "";
        QTest::newRow("version") << QStringList{"--version"} << 0 << "quillet " QUILLET_VERSION "\n"
                                 << "";
        QTest::newRow("a Qt option") << QStringList{"-platform", "xcb"} << 2 << ""
                                     << "quillet: unexpected argument '-platform'";
        QTest::newRow("a file") << QStringList{"Quillet.set"} << 2 << ""
                                << "quillet: unexpected argument 'Quillet.set'";
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
        QVERIFY(rig.prepare(1, {}));
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

        rig.sim.reset(); // the device goes away
        QTRY_COMPARE_WITH_TIMEOUT(manager.lastStatus(), QByteArray("STATUS=Offline, SMS count : 1"),
                                  10000);
        // Still ticking and trying to re-open the port: alive.
        const int beats = manager.countOf("WATCHDOG=1");
        QTRY_VERIFY_WITH_TIMEOUT(manager.countOf("WATCHDOG=1") >= beats + 2, 5000);

        rig.logger.terminate();
        QVERIFY(rig.logger.waitForFinished(5000));
        QCOMPARE(manager.countOf("STOPPING=1"), 1);
        QCOMPARE(manager.countOf("READY=1"), 1);
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
