// The RunOnAlarm program: how its setting is split, what one run gets, and
// what happens to a run that fails, hangs or is cut short by a restart.

#include "alarmhook.h"
#include "hostservices.h"
#include "testfiles.h"

#include <QElapsedTimer>
#include <QtTest>

using namespace quillet;
using quillet::test::ReadFileBytes;

class tst_Hook : public QObject
{
    Q_OBJECT

private slots:
    void splitCommandLine_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("words");
        QTest::newRow("blanks") << " a  b\tc " << QStringList{"a", "b", "c"};
        QTest::newRow("single quotes keep all") << "a 'b \"c\" \\d' e"
                                                << QStringList{"a", "b \"c\" \\d", "e"};
        QTest::newRow("double quotes, escapes") << "\"a \\\"b\\\" \\\\ \\n\"x"
                                                << QStringList{"a \"b\" \\ \\nx"};
        QTest::newRow("empty quoted word") << "a '' b" << QStringList{"a", "", "b"};
        QTest::newRow("backslash blank") << "a\\ b" << QStringList{"a b"};
        QTest::newRow("unclosed quote") << "a 'b" << QStringList{};
    }
    void splitCommandLine()
    {
        QFETCH(QString, line);
        QTEST(SplitCommandLine(line), "words");
    }

    // Each row queues two alarms; `script` (run by sh with the fixed
    // argument "fixed") appends to "out" when a run succeeds. A row whose
    // script fails or hangs at first must still end with each alarm run
    // once, in order, and say why in the trace.
    void runs_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<bool>("restart");
        QTest::addColumn<QString>("traced");
        const QString record = "printf '%s|' \"$0\" \"$@\" \"$QUILLET_DATE\" \"$QUILLET_CALLER\" "
                               "\"$QUILLET_NUMBER\" \"$QUILLET_TEXT\" \"$QUILLET_LOGGER\" >>out; echo >>out";
        QTest::newRow("once each, alarm in arguments and environment")
            << record << false << "RunOnAlarm: sh exit code 0";
        QTest::newRow("failure retried, its stderr traced")
            << "[ -e failed ] || { touch failed; echo boom >&2; exit 3; }; " + record << false
            << "RunOnAlarm: sh exit code 3; stderr: boom; tried again in 0.2 s";
        QTest::newRow("hung run ended after its timeout")
            << "[ -e hung ] || { touch hung; sleep 60; }; " + record << false
            << "RunOnAlarm: still running after 1 s, ended";
        QTest::newRow("queue kept across a restart") << record << true << "";
    }
    void runs()
    {
        QFETCH(QString, script);
        QFETCH(bool, restart);
        QFETCH(QString, traced);
        quillet::test::TempWorkingFolder folder;
        QStringList trace;
        const TraceHandler previous = SetTraceHandler([&](const QString &l) { trace << l; });
        const QString command = "sh -c '" + script.replace("'", "'\\''") + "' fixed";
        const QDateTime date(QDate(2026, 12, 8), QTime(9, 15, 2));
        QElapsedTimer clock;
        clock.start();
        {
            AlarmHook hook;
            hook.configure(restart ? QStringLiteral("/nonexistent/hook") : command, 1);
            hook.setRetryDelays(200, 400);
            hook.load(QStringLiteral("Quillet.hook"));
            hook.enqueue({date, "+85291234567", "North Pump", "A1 Tank high", "Tank high", "k1"});
            hook.enqueue({date, "+85291234567", "North Pump", "A1 Tank high", "Tank high", "k1"});
            hook.enqueue({date.addSecs(1), "0912", "東區配水池", "停電", "停電", "k2"});
            if (restart)
                QTRY_VERIFY(trace.join('\n').contains("not started"));
            else
                QTRY_COMPARE_WITH_TIMEOUT(hook.waiting(), 0, 10000);
        }
        if (restart) {
            AlarmHook hook;
            hook.configure(command, 1);
            hook.load(QStringLiteral("Quillet.hook"));
            QTRY_COMPARE_WITH_TIMEOUT(hook.waiting(), 0, 10000);
        }
        SetTraceHandler(previous);
        const QString logger = QSysInfo::machineHostName();
        QCOMPARE(QString::fromUtf8(ReadFileBytes("out")),
                 "fixed|12/08/2026 09:15:02|North Pump|+85291234567|Tank high|" + logger + "|" +
                     "12/08/2026 09:15:02|North Pump|+85291234567|Tank high|" + logger + "|\n" +
                     "fixed|12/08/2026 09:15:03|東區配水池|0912|停電|" + logger + "|" +
                     "12/08/2026 09:15:03|東區配水池|0912|停電|" + logger + "|\n");
        QVERIFY2(traced.isEmpty() || trace.contains(traced), qPrintable(trace.join('\n')));
        QVERIFY(clock.elapsed() < 8000); // the hung run did not wait for its end
    }
};

QTEST_GUILESS_MAIN(tst_Hook)
#include "tst_hook.moc"
