// The judgement `quillet --status` passes on a logger's published state, made
// on the state as it comes back from the status file, and the metrics file's
// figures.

#include "status.h"

#include <QtTest>

using namespace quillet;
using namespace quillet::app;

namespace {

const QDateTime kNow = QDateTime(QDate(2026, 12, 8), QTime(10, 0, 0), Qt::UTC);

LoggerStatus polledJustNow()
{
    LoggerStatus s;
    s.folder = QStringLiteral("/var/lib/quillet");
    s.pid = 4242;
    s.started = kNow.addSecs(-3600);
    s.lastPoll = kNow.addSecs(-2);
    s.online = true;
    return s;
}

SupervisionCondition weakSignal()
{
    SupervisionCondition c;
    c.kind = ConditionKind::WeakSignal;
    c.keyword = BeginKeyword(c.kind);
    c.since = kNow.addSecs(-600);
    c.detail = QStringLiteral("-109 dBm since 12/08/2026 09:50:00");
    return c;
}

} // namespace

class tst_Status : public QObject
{
    Q_OBJECT

private slots:
    void exitCodes_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("online");
        QTest::addColumn<QString>("connectionProblem");
        QTest::addColumn<QString>("logProblem");
        QTest::addColumn<int>("pollAge"); // seconds; 5 s intervals
        QTest::addColumn<bool>("condition");
        QTest::addColumn<int>("waiting"); // -1: no central database
        QTest::addColumn<bool>("storeFailed");
        QTest::addColumn<int>("level");
        QTest::addColumn<QString>("firstReason");

        QTest::newRow("online, polled") << true << true << ""
                                        << "" << 2 << false << -1 << false << 0 << "";
        QTest::newRow("central database, nothing waits")
            << true << true << ""
            << "" << 2 << false << 0 << false << 0 << "";
        QTest::newRow("last poll within three intervals")
            << true << true << ""
            << "" << 14 << false << -1 << false << 0 << "";
        QTest::newRow("a supervision condition")
            << true << true << ""
            << "" << 2 << true << -1 << false << 1 << "SIGNAL WEAK -109 dBm since";
        QTest::newRow("rows wait for the central database")
            << true << true << ""
            << "" << 2 << false << 3 << false << 1 << "3 rows wait for the central database";
        QTest::newRow("Quillet.rcv unwritable")
            << true << true << ""
            << "" << 2 << false << -1 << true << 1 << "Quillet.rcv cannot be written";
        QTest::newRow("offline, trying")
            << true << false << "lost /dev/ttyUSB0; retrying"
            << "" << 2 << true << 3 << false << 2 << "Offline: lost /dev/ttyUSB0; retrying";
        QTest::newRow("offline by the operator")
            << true << false << ""
            << "" << 2 << false << -1 << false << 2 << "Offline (File > Offline)";
        QTest::newRow("device not answering")
            << true << true << "no answer from the device"
            << "" << 2 << false << -1 << false << 2 << "Online, but no answer from the device";
        QTest::newRow("log locked") << true << true << ""
                                    << "log locked by another program" << 2 << false << -1 << false
                                    << 2 << "history log: log locked by another program";
        QTest::newRow("no poll for three intervals")
            << true << true << ""
            << "" << 16 << false << -1 << false << 2 << "last poll 16 s ago";
        QTest::newRow("lock not held: crashed or ended")
            << false << true << ""
            << "" << 2 << false << -1 << false << 3 << "no logger runs in /var/lib/quillet";
    }
    void exitCodes()
    {
        QFETCH(bool, running);
        QFETCH(int, pollAge);
        QFETCH(int, waiting);
        LoggerStatus written = polledJustNow();
        QFETCH(bool, online);
        written.online = online;
        QFETCH(QString, connectionProblem);
        written.connectionProblem = connectionProblem;
        QFETCH(QString, logProblem);
        written.logProblem = logProblem;
        written.lastPoll = kNow.addSecs(-pollAge);
        QFETCH(bool, condition);
        if (condition)
            written.conditions << weakSignal();
        if (waiting >= 0)
            written.outboxWaiting = waiting;
        QFETCH(bool, storeFailed);
        written.storeWriteFailed = storeFailed;

        LoggerStatus read;
        QVERIFY(StatusFromJson(StatusToJson(written), read));
        QCOMPARE(read, written);
        const StatusVerdict verdict = EvaluateStatus(&read, running, kNow);
        QTEST(int(verdict.level), "level");
        QFETCH(QString, firstReason);
        if (firstReason.isEmpty())
            QCOMPARE(verdict.reasons, QStringList());
        else
            QVERIFY2(verdict.reasons.value(0).startsWith(firstReason),
                     qPrintable(verdict.reasons.join(QLatin1Char('|'))));
        // The first line a monitoring system shows says the level.
        QVERIFY(StatusReport(&read, verdict, kNow)
                    .startsWith(QStringLiteral("QUILLET ") + LevelName(verdict.level)));
    }

    void noStatusIsUnknown()
    {
        QCOMPARE(EvaluateStatus(nullptr, true, kNow).level, StatusLevel::Unknown);
        LoggerStatus read;
        QVERIFY(!StatusFromJson("{\"half\": ", read));
    }

    // Each figure a collector gets is one the logger knows: one not known is
    // left out, never sent as 0.
    void metricsLeaveOutWhatIsNotKnown_data()
    {
        QTest::addColumn<bool>("known");
        QTest::addColumn<QStringList>("samples");
        QTest::newRow("all known")
            << true
            << QStringList{"quillet_alarms_total{L} 17",
                           "quillet_online{L} 1",
                           "quillet_signal_dbm{L} -71",
                           "quillet_sim_used{L} 2",
                           "quillet_sim_total{L} 30",
                           "quillet_outbox_waiting{L} 0",
                           "quillet_last_poll_timestamp_seconds{L} 1796724000"};
        QTest::newRow("before the first poll and check")
            << false << QStringList{"quillet_alarms_total{L} 17", "quillet_online{L} 1"};
    }
    void metricsLeaveOutWhatIsNotKnown()
    {
        QFETCH(bool, known);
        QFETCH(QStringList, samples);
        LoggerStatus s = polledJustNow();
        s.folder = QStringLiteral("/srv/\"north\" pumps");
        s.alarms = 17;
        s.lastPoll = known ? kNow : QDateTime();
        if (known) {
            s.figures.signalDbm = -71;
            s.figures.simUsed = 2;
            s.figures.simTotal = 30;
            s.outboxWaiting = 0;
        }
        const QString text = QString::fromUtf8(MetricsText(s));
        QStringList values, types;
        for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            (line.startsWith(QLatin1String("# TYPE")) ? types : values) << line;
        values.removeIf([](const QString &line) { return line.startsWith(QLatin1Char('#')); });
        samples.replaceInStrings(QStringLiteral("{L}"),
                                 QStringLiteral("{folder=\"/srv/\\\"north\\\" pumps\"}"));
        QCOMPARE(values, samples);
        QCOMPARE(types.size(), samples.size());
    }
};

QTEST_GUILESS_MAIN(tst_Status)
#include "tst_status.moc"
