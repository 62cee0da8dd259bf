// The RunOnAlarm program: how its setting is split, what one run gets, and
// what happens to a run that fails or hangs. (What survives a crash is the
// crash test's.)

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
        QTest::newRow("single quotes keep all")
            << "a 'b \"c\" \\d' e" << QStringList{"a", "b \"c\" \\d", "e"};
        QTest::newRow("double quotes, escapes")
            << "\"a \\\"b\\\" \\\\ \\n\"x" << QStringList{"a \"b\" \\ \\nx"};
        QTest::newRow("empty quoted word") << "a '' b" << QStringList{"a", "", "b"};
        QTest::newRow("backslash blank") << "a\\ b" << QStringList{"a b"};
        QTest::newRow("unclosed quote") << "a 'b" << QStringList{};
    }
    void splitCommandLine()
    {
        QFETCH(QString, line);
        QTEST(SplitCommandLine(line), "words");
    }

    // Each row queues two alarms (the first twice, as after a crash);
    // `script`, run by sh with the fixed argument "fixed", appends to "out"
    // when a run succeeds. A script that fails or hangs at first must still
    // end with each alarm run once, in order, and say why in the trace.
    void runs_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("traced");
        const QString record =
            "printf '%s|' \"$0\" \"$@\" \"$QUILLET_DATE\" \"$QUILLET_CALLER\" "
            "\"$QUILLET_NUMBER\" \"$QUILLET_TEXT\" \"$QUILLET_LOGGER\" >>out; echo >>out";
        QTest::newRow("once each") << record << "RunOnAlarm: sh exit code 0";
        QTest::newRow("failure retried, its stderr traced")
            << "[ -e failed ] || { touch failed; echo boom >&2; exit 3; }; " + record
            << "RunOnAlarm: sh exit code 3; stderr: boom; tried again in 0.2 s";
        QTest::newRow("hung run ended after its timeout")
            << "[ -e hung ] || { touch hung; sleep 60; }; " + record
            << "RunOnAlarm: still running after 1 s, ended";
    }
    void runs()
    {
        QFETCH(QString, script);
        QFETCH(QString, traced);
        quillet::test::TempWorkingFolder folder;
        QStringList trace;
        const TraceHandler previous = SetTraceHandler([&](const QString &l) { trace << l; });
        QElapsedTimer clock;
        clock.start();
        AlarmHook hook;
        hook.configure("sh -c '" + script.replace("'", "'\\''") + "' fixed", 1);
        hook.setRetryDelays(200, 400);
        hook.load(QStringLiteral("Quillet.hook"));
        const QDateTime date(QDate(2026, 12, 8), QTime(9, 15, 2));
        hook.enqueue({date, "+85291234567", "North Pump", "A1 Tank high", "Tank high", "k1"});
        hook.enqueue({date, "+85291234567", "North Pump", "A1 Tank high", "Tank high", "k1"});
        hook.enqueue({date.addSecs(1), "0912", "東區配水池", "停電", "停電", "k2"});
        QTRY_COMPARE_WITH_TIMEOUT(hook.waiting(), 0, 10000);
        SetTraceHandler(previous);
        const QString logger = QSysInfo::machineHostName();
        const QString first = "12/08/2026 09:15:02|North Pump|+85291234567|Tank high|" + logger;
        const QString second = "12/08/2026 09:15:03|東區配水池|0912|停電|" + logger;
        QCOMPARE(QString::fromUtf8(ReadFileBytes("out")),
                 "fixed|" + first + "|" + first + "|\n" + "fixed|" + second + "|" + second + "|\n");
        QVERIFY2(trace.contains(traced), qPrintable(trace.join('\n')));
        QVERIFY(clock.elapsed() < 8000); // the hung run did not wait for its end
    }

    // The README's gateway spool line, as printed there, into a folder here.
    void readmeSpoolLine()
    {
        quillet::test::TempWorkingFolder folder;
        const QString readme = QString::fromUtf8(ReadFileBytes(QUILLET_SOURCE_DIR "/README.md"));
        const QString line = readme.section("    RunOnAlarm=sh -c 'f=/var/spool/sms/outgoing", 1, 1)
                                 .section('\n', 0, 0);
        QVERIFY(!line.isEmpty());
        AlarmHook hook;
        hook.configure("sh -c 'f=" + folder.path() + line, 5);
        hook.load({});
        hook.enqueue({QDateTime::currentDateTime(), "+3215678", "North Pump", "Tank high",
                      "Tank high", "k"});
        QTRY_COMPARE(hook.waiting(), 0);
        const QStringList files = QDir().entryList({"quillet-*"});
        QCOMPARE(files.size(), 1);
        QCOMPARE(ReadFileBytes(files.first()), "To: +85291234567\n\nNorth Pump: Tank high\n");
    }
};

QTEST_GUILESS_MAIN(tst_Hook)
#include "tst_hook.moc"
