// The logger's watch over its own alarm path against the simulator: each
// condition gives exactly one record when it begins and one when it ends,
// however many checks see it; a restart in the middle gives neither a
// second record nor a missed one; a failed loop test re-initializes the
// modem, and a loop text that comes back is deleted and never logged.
//
// A row is a script run on one line: "sim COMMAND" (a control command of the
// simulator), "poll SECONDS" (the pipeline's ticks for that long), "keep"
// (deletion off), "fill N" (N stored outgoing messages, which are no alarm
// but take room), "restart" (a new pipeline on the same folder). Its
// settings are the [SUPERVISION] section, read through the settings file.

#include "devsimclient.h"
#include "globals.h"
#include "hostservices.h"
#include "loggerrig.h"
#include "pipeline.h"
#include "settings.h"
#include "testfiles.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace quillet;
using devsim::test::DevSimClient;
using quillet::test::Line;
using quillet::test::LineName;
using quillet::test::ReadFileBytes;

namespace {

const QStringList kKeywords{"NETWORK LOST", "NETWORK BACK", "SIGNAL WEAK",        "SIGNAL OK",
                            "SIM FULL",     "SIM OK",       "SIM DELETE REFUSED", "SIM DELETE OK",
                            "SITE SILENT",  "SITE BACK",    "LOOP TEST FAILED",   "LOOP TEST OK"};

// The log's records: the logger's own by their keyword, the others whole.
QStringList records()
{
    QStringList out;
    for (const QString &line : QString::fromUtf8(ReadFileBytes(QStringLiteral("Quillet.log")))
                                   .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
        const QString record = line.mid(20); // behind "MM/DD/YYYY hh:mm:ss "
        QString keyword;
        for (const QString &k : kKeywords)
            if (record.startsWith(QStringLiteral("[Quillet] ") + k + u' '))
                keyword = k;
        out << (keyword.isEmpty() ? record : keyword);
    }
    return out;
}

// The keys of the settings rows, on top of the rig's defaults.
const QString kFast = QStringLiteral("HealthCheckSeconds=0.2\nNoNetworkMinutes=0.01\n"
                                     "WeakSignalMinutes=0.01\n");

} // namespace

class tst_SupervisionE2E : public QObject, private quillet::test::RigMembers
{
    Q_OBJECT

private:
    QStringList m_trace;

    // The settings file of the run, with the row's [SUPERVISION] section,
    // read back as the program reads it.
    void loadSettings(const QString &supervision)
    {
        QVERIFY(Save2SettingFile());
        QByteArray file = ReadFileBytes(G.SettingFile);
        file.truncate(file.indexOf("[SUPERVISION]"));
        file += "[SUPERVISION]\r\n" + supervision.toUtf8().replace("\n", "\r\n");
        QFile out(G.SettingFile);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(file) == file.size());
        out.close();
        QVERIFY(LoadSettings());
    }

    void restart()
    {
        m_pipeline->TerminateDevice();
        m_pipeline = std::make_unique<AlarmPipeline>(G);
        m_pipeline->CreateDevice();
        m_pipeline->LoadReceivedStore();
        QVERIFY(m_pipeline->GoOnline());
    }

    void poll(double seconds)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < seconds * 1000) {
            m_pipeline->PollSIM();
            QTest::qWait(40);
        }
    }

    void run(const QStringList &script)
    {
        for (const QString &step : script) {
            const QString word = step.section(u' ', 0, 0);
            const QString rest = step.section(u' ', 1);
            if (word == u"sim") {
                const QString answer = m_sim->control(rest);
                QVERIFY2(answer.startsWith(QLatin1String("ok")), qPrintable(step + ": " + answer));
            } else if (word == u"poll") {
                poll(rest.toDouble());
            } else if (word == u"keep") {
                G.IsDeleteSMS = false;
            } else if (word == u"fill") {
                for (int i = 0; i < rest.toInt(); ++i)
                    QVERIFY(m_sim->control(QStringLiteral("deliver number=+1 status=sent text=x"))
                                .startsWith(QLatin1String("ok")));
            } else if (word == u"restart") {
                restart();
            } else {
                QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
            }
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        m_oldCwd = QDir::currentPath();
        SetTraceHandler([this](const QString &line) { m_trace << line; });
    }
    void cleanup() { endRow(); }

    void conditions_data()
    {
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("supervision");
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<QStringList>("expected"); // the log's records, in order
        QTest::addColumn<QStringList>("traced");   // each begins exactly one trace line

        const QString loop = QStringLiteral("LoopTestNumber=+85291234567\nLoopTestHours=0.0005\n"
                                            "LoopTestTimeoutMinutes=0.02\n");
        // One loop in the row, with time for a restart: the next is an hour away.
        const QString oneLoop = QStringLiteral("LoopTestNumber=+85291234567\nLoopTestHours=1\n"
                                               "LoopTestTimeoutMinutes=0.1\n");
        auto both = [](const char *name, const QString &supervision, const QStringList &script,
                       const QStringList &expected, const QStringList &traced = {}) {
            for (Line line : {Line::Device, Line::PlainModem})
                QTest::newRow(qPrintable(LineName(line) + QStringLiteral(": ") + name))
                    << int(line) << supervision << script << expected << traced;
        };
        auto device = [](const char *name, const QString &supervision, const QStringList &script,
                         const QStringList &expected, const QStringList &traced = {}) {
            QTest::newRow(qPrintable(QStringLiteral("device: ") + name))
                << int(Line::Device) << supervision << script << expected << traced;
        };

        both("network lost and back", kFast,
             {"poll 0.5", "sim registration 2", "poll 1.5", "sim registration 1", "poll 0.8"},
             {"NETWORK LOST", "NETWORK BACK"});
        device("a short gap is no lost network", "NoNetworkMinutes=0.05\n" + kFast,
               {"poll 0.5", "sim registration 3", "poll 1", "sim registration 5", "poll 1"}, {});
        both("weak signal and back", kFast,
             {"sim signal 2", "poll 1.5", "sim signal 99", "poll 0.6", "sim signal 3", "poll 0.8"},
             {"SIGNAL WEAK", "SIGNAL OK"});
        both("a modem that refuses both questions", kFast,
             {"sim registration unsupported", "sim signal unsupported", "poll 1.5"}, {},
             {"Health check: the modem refuses AT+CREG?; that check is skipped",
              "Health check: the modem refuses AT+CSQ; that check is skipped"});
        device("SIM filled to the threshold, deletion off", kFast,
               {"keep", "fill 23", "poll 0.5", "fill 1", "poll 0.8", "sim delete all", "poll 0.5"},
               {"SIM FULL", "SIM OK"});
        device("a SIM that refuses deletions", kFast,
               {"sim deletes refuse", "sim deliver number=+3212 text=kept", "poll 1.5",
                "sim deletes accept", "poll 0.5"},
               {"[+3212] kept", "SIM DELETE REFUSED", "SIM DELETE OK"});
        device("a site silent past its hours, restarts before and after",
               QStringLiteral("HealthCheckSeconds=0\nSiteSilent1=5678,0.0006\n"),
               {"sim deliver number=+8869005678 text=hello", "poll 0.5", "restart", "poll 0.5",
                "restart", "poll 2.5", "restart", "poll 1",
                "sim deliver number=+8869005678 text=again", "poll 0.5"},
               {"[North Pump Station] hello", "SITE SILENT", "[North Pump Station] again",
                "SITE BACK"});
        both("a loop that never comes back", QStringLiteral("HealthCheckSeconds=0\n") + loop,
             {"sim loopback off", "poll 2.5"}, {"LOOP TEST FAILED"},
             {"Loop test failed: re-initializing the modem with a full reset (AT+CFUN=1,1)"});
        both("a loop that comes back", QStringLiteral("HealthCheckSeconds=0\n") + oneLoop,
             {"sim loopback 600", "poll 0.3", "keep", "restart", "poll 1.2"}, {},
             {"Loop test: text back from +85291234567"});
        device("a failed loop, then one that works",
               QStringLiteral("HealthCheckSeconds=0\n") + loop,
               {"sim loopback off", "poll 2", "sim loopback 100", "poll 3.5"},
               {"LOOP TEST FAILED", "LOOP TEST OK"});
        device("a sending error is a failed loop", kFast + loop, {"sim registration 0", "poll 1.5"},
               {"LOOP TEST FAILED", "NETWORK LOST"});
    }
    void conditions()
    {
        QFETCH(int, line);
        QFETCH(QString, supervision);
        QFETCH(QStringList, script);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, traced);
        quillet::test::PrepareRun(m_root.filePath(QStringLiteral("run%1").arg(++m_run)), m_sim,
                                  m_pipeline, {}, {}, Line(line));
        QVERIFY(m_sim);
        loadSettings(supervision);
        m_trace.clear();
        QVERIFY(m_pipeline->GoOnline());
        run(script);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(records(), expected);
        // A condition that began and did not end is on still.
        int on = 0;
        for (const QString &record : expected)
            if (kKeywords.contains(record))
                on += kKeywords.indexOf(record) % 2 == 0 ? 1 : -1;
        QCOMPARE(m_pipeline->Supervision().conditions.size(), on);
        for (const QString &start : traced) {
            const auto lines = std::count_if(m_trace.begin(), m_trace.end(),
                                             [&](const QString &l) { return l.startsWith(start); });
            QVERIFY2(lines == 1, qPrintable(start));
        }
        // Loop texts are ours: none is left on the SIM, none was logged.
        for (const QByteArray &stored : ReadFileBytes(m_sim->stateFile()).split('\n'))
            QVERIFY2(stored.startsWith('#') || !stored.contains("Quillet loop test"), stored);
    }
};

QTEST_MAIN(tst_SupervisionE2E)
#include "tst_supervision_e2e.moc"
