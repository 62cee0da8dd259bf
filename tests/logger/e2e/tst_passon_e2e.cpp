// The real logger passing its alarms on: to a private MQTT broker through a
// RunOnAlarm program, and by text to on-call numbers through the simulator's
// modem, whose first send fails. Each alarm must arrive once at the broker and
// once at each number whose prefix it matches, the failed text sent later.

#include "devsimclient.h"
#include "testfiles.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

using devsim::test::DevSimClient;
using quillet::test::ReadFileBytes;

namespace {

void startChild(QProcess &p, const QString &program, const QStringList &args)
{
    p.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    p.start(program, args);
    p.waitForStarted(5000);
}

// "number text" of every message the simulator's modem sent, in order.
QStringList sentTexts(const DevSimClient &sim)
{
    QStringList sent;
    for (const QString &line : QString::fromUtf8(ReadFileBytes(sim.stateFile())).split(u'\n'))
        if (line.startsWith(u"# sent "))
            sent << line.section(" number=", 1)
                        .replace(QRegularExpression(" alphabet=\\w+ text=\"?(.*?)\"?$"), " \\1");
    return sent;
}

} // namespace

class tst_PassOnE2E : public QObject
{
    Q_OBJECT

private slots:
    void alarmsReachBrokerAndOnCallNumbers()
    {
        QVERIFY2(QFile::exists("/usr/sbin/mosquitto"), "scripts/install-deps.sh installs it");
        QTemporaryDir dir, lockDir;
        QVERIFY(dir.isValid() && lockDir.isValid());
        const QString socket = dir.filePath(QStringLiteral("mqtt.sock"));
        QFile conf(dir.filePath(QStringLiteral("mosquitto.conf")));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        // CI runs as root, where the broker would switch to its own user.
        conf.write("listener 0 " + QFile::encodeName(socket) +
                   "\nallow_anonymous true\npersistence false\n" +
                   (::geteuid() == 0 ? "user root\n" : ""));
        conf.close();
        QProcess broker, subscriber, logger;
        startChild(broker, QStringLiteral("/usr/sbin/mosquitto"), {"-c", conf.fileName()});
        QTRY_VERIFY(QFile::exists(socket));
        // Line-buffered, so that its SUBACK is seen before the first alarm.
        startChild(
            subscriber, QStringLiteral("stdbuf"),
            {"-oL", "mosquitto_sub", "--unix", socket, "-q", "1", "-t", "quillet/#", "-v", "-d"});
        QByteArray published;
        QTRY_VERIFY((published += subscriber.readAllStandardOutput()).contains("SUBACK"));

        DevSimClient sim;
        QVERIFY2(sim.start({QStringLiteral("--type-rate"), QStringLiteral("100000")}),
                 qPrintable(sim.error()));
        QVERIFY(sim.control(QStringLiteral("sendfail 3")).startsWith(QLatin1String("ok")));
        // The third, in UCS2, is too long for one message once the site is added.
        const QString blackout = QString(32, u'停') + QString(33, u'電');
        const QStringList alarms{"Tank high", "FIRE zone 2", blackout};
        for (int n = 0; n < alarms.size(); ++n)
            QVERIFY(sim.control(QStringLiteral(
                                    "deliver number=+321%1 text=\"%2\" time=24/05/01,10:00:0%3+32")
                                    .arg(n < 2 ? "5678" : "1234", alarms[n])
                                    .arg(n))
                        .startsWith(QLatin1String("ok")));
        // The line the README shows, with the broker's socket for its host.
        const QByteArray hook = "sh -c 'exec mosquitto_pub --unix \"$0\" -q 1 -t "
                                "\"quillet/$QUILLET_LOGGER/alarm\" -m \"$QUILLET_CALLER: "
                                "$QUILLET_TEXT\"' " +
                                QFile::encodeName(socket);
        QVERIFY(quillet::test::WriteLoggerFolder(
            QDir(dir.path()),
            "[BASIC]\r\nLogFilePath=Quillet.log\r\nIsDeleteSMS=1\r\nLoggerName=north\r\n"
            "[COMM]\r\nCOMPORT=" +
                sim.ptyPath().toUtf8() +
                "\r\n[SitePhoneNumberMAP]\r\nEnableSitePhoneNumberMap=1\r\n"
                "SitePhoneNumberMap1=5678,North Pump\r\nSitePhoneNumberMap2=1234,東區配水池\r\n"
                "[HOOK]\r\nRunOnAlarm=" +
                hook +
                "\r\n[FORWARD]\r\nForwardTo1=+85290000001\r\nForwardTo2=+85290000002\r\n"
                "ForwardPrefix2=FIRE\r\n",
            QStringLiteral(QUILLET_BIN_DIR)));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QUILLET_POLL_INTERVAL_MS"), QStringLiteral("50"));
        env.insert(QStringLiteral("TMPDIR"), lockDir.path());
        logger.setProcessEnvironment(env);
        logger.setWorkingDirectory(dir.path());
        startChild(logger, QStringLiteral(QUILLET_BIN_DIR "/quillet"), {});

        QDeadlineTimer deadline(30000);
        while ((published.count("quillet/north/alarm") < 3 || sentTexts(sim).size() < 4) &&
               !deadline.hasExpired()) {
            QTest::qWait(50);
            published += subscriber.readAllStandardOutput();
        }
        QTest::qWait(300); // time for a duplicate to show
        published += subscriber.readAllStandardOutput();
        logger.terminate();
        QVERIFY(logger.waitForFinished(10000));

        QStringList messages;
        for (const QByteArray &line : published.split('\n'))
            if (line.startsWith("quillet/north/alarm "))
                messages << QString::fromUtf8(line.mid(20));
        const QStringList passed{"North Pump: Tank high", "North Pump: FIRE zone 2",
                                 "東區配水池: " + blackout};
        QCOMPARE(messages, passed);
        // The refused number's texts wait; the other number's do not.
        QCOMPARE(sentTexts(sim),
                 (QStringList{"+85290000002 " + passed[1], "+85290000001 " + passed[0],
                              "+85290000001 " + passed[1], "+85290000001 " + passed[2].left(70)}));
        const QString journal = QString::fromLocal8Bit(logger.readAllStandardError());
        QVERIFY2(journal.contains("<4>Quillet: Forwarding to +85290000001 failed (ErrorCode=-1); tried "
                                  "again in 5 s"),
                 qPrintable(journal));
        QVERIFY(journal.contains("<6>Quillet: Forwarded to +85290000002: North Pump: FIRE zone 2"));
    }
};

QTEST_GUILESS_MAIN(tst_PassOnE2E)
#include "tst_passon_e2e.moc"
