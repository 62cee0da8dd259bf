// Alarms from the device simulator through every output at once: log line,
// database row, DDE pokes and the alert sound, with each row committed before
// its message is deleted from the SIM, and each output once while the log
// cannot be written.

#include "boxrecorder.h"
#include "devsimclient.h"
#include "globals.h"
#include "hostservices.h"
#include "mainwindow.h"
#include "outputrig.h"
#include "pipeline.h"
#include "sound.h"
#include "testfiles.h"

#include <QDBusConnection>
#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

using quillet::test::ReadFileBytes;
using namespace quillet;
using devsim::test::DevSimClient;
using quillet::test::BoxRecorder;
using quillet::test::PrivateSessionBus;
using quillet::test::ReceiverProcess;

namespace {

QList<QStringList> readRows(const QString &file)
{
    QList<QStringList> rows;
    if (!QFile::exists(file))
        return rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("r"));
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery q(QStringLiteral("SELECT [Date], AlarmCallerID, AlarmMessage FROM Tarrow "
                                       "ORDER BY ID"),
                        db);
            while (q.next())
                rows << QStringList{q.value(0).toString(), q.value(1).toString(),
                                    q.value(2).toString()};
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("r"));
    return rows;
}

class CountingPlayer : public SoundPlayer
{
public:
    explicit CountingPlayer(QStringList *calls) : m_calls(calls) {}
    void open(const QString &) override { *m_calls << QStringLiteral("open"); }
    void play() override { *m_calls << QStringLiteral("play"); }
    bool isStopped() const override { return false; }
    void rewind() override {}
    void close() override { *m_calls << QStringLiteral("close"); }

private:
    QStringList *m_calls;
};

// Log, database, sound and DDE (to the receiver's --application Display) on.
void useEveryOutput(const DevSimClient &sim)
{
    G = GlobalState{};
    G.LogFilePath = QStringLiteral("Quillet.log");
    G.IsSaveAsMDB = true;
    G.MDBFilePath = QStringLiteral("db/alarms.mdb");
    G.SystemFile = QStringLiteral(QUILLET_BIN_DIR "/Quillet.sys");
    G.COMPORT = sim.ptyPath();
    G.BAUDRATE = QStringLiteral("9600");
    G.DATABIT = QStringLiteral("8");
    G.PARITYBIT = QStringLiteral("None");
    G.STOPBIT = QStringLiteral("1");
    G.EnableSitePhoneNumberMap = true;
    G.SitePhoneNumberCount = 1;
    G.SitePhoneNumberMap[0] = {QStringLiteral("5678"), QStringLiteral("North")};
    G.IsDeleteSMS = true;
    G.IsUseSoundAlert = true;
    G.IsUseDDE = true;
    G.APPLICATION = QStringLiteral("Display");
    G.TOPIC = QStringLiteral("Alarms");
    G.DDEMapCount = 2;
    G.DDEMap[0] = {QStringLiteral("A3"), QStringLiteral("Zone3"), 2.5};
    G.DDEMap[1] = {QString(), QStringLiteral("Other"), 1};
    QLocale::setDefault(QLocale::c());
}

} // namespace

class tst_OutputsE2E : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_oldCwd;
    PrivateSessionBus m_bus;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(m_bus.start(), qPrintable(m_bus.error()));
        QVERIFY(QDBusConnection::sessionBus().isConnected());
        m_oldCwd = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
    }
    void cleanupTestCase() { QDir::setCurrent(m_oldCwd); }

    void alarmsReachEveryOutput()
    {
        QVERIFY(
            QFile::copy(QStringLiteral(QUILLET_GSMCODEMAP_FILE), QStringLiteral("GSMCodeMap.cod")));
        DevSimClient sim;
        QVERIFY2(sim.start({QStringLiteral("--type-rate"), QStringLiteral("100000")}),
                 qPrintable(sim.error()));
        const QStringList deliveries{
            "deliver slot=1 number=+886912345678 text=\"A3 Pump \\\"failed\\\"; it's -- down\" "
            "time=24/03/07,14:05:09+32",
            "deliver slot=2 number=0911222333 text=\"R12 Door open\" time=24/03/07,14:06:00+32",
            "deliver slot=4 number=+886900001234 alphabet=ucs2 text=\"水位過低\" "
            "time=24/03/07,14:07:00+32"};
        for (const QString &d : deliveries) {
            const QString answer = sim.control(d);
            QVERIFY2(answer.startsWith(QLatin1String("ok")), qPrintable(answer));
        }

        ReceiverProcess receiver({QStringLiteral("--application"), QStringLiteral("Display")});
        QVERIFY(receiver.waitUntilListening());

        useEveryOutput(sim);

        QStringList soundCalls;
        AlarmPipeline pipeline;
        frmMain form;
        form.attach(pipeline);
        form.sound().setPlayer(std::make_unique<CountingPlayer>(&soundCalls));
        BoxRecorder boxes;

        // Each deletion must find its row already committed, as another
        // program reading the file sees it.
        QList<int> rowsAtDeletion;
        const auto previous = SetTraceHandler([&](const QString &line) {
            if (line.startsWith(QLatin1String("DeleteSMS(")))
                rowsAtDeletion << int(readRows(QStringLiteral("db/alarms.mdb")).size());
        });
        pipeline.CreateDevice();
        pipeline.LoadReceivedStore();
        QVERIFY(pipeline.GoOnline());
        pipeline.PollSIM();
        pipeline.PollSIM();
        SetTraceHandler(previous);
        pipeline.TerminateDevice();

        QCOMPARE(boxes.count(), 0);
        QCOMPARE(rowsAtDeletion, (QList<int>{1, 2, 3}));
        QCOMPARE(ReadFileBytes(QStringLiteral("Quillet.log")),
                 QByteArray("03/07/2024 14:05:09 [North] A3 Pump \"failed\"; it's -- down\r\n"
                            "03/07/2024 14:06:00 [0911222333] R12 Door open\r\n"
                            "03/07/2024 14:07:00 [+886900001234] 水位過低\r\n"));
        QCOMPARE(readRows(QStringLiteral("db/alarms.mdb")),
                 (QList<QStringList>{
                     {"2024/03/07 02:05:09 PM", "North", "A3 Pump \"failed\"; it's -- down"},
                     {"2024/03/07 02:06:00 PM", "0911222333", "R12 Door open"},
                     {"2024/03/07 02:07:00 PM", "+886900001234", "水位過低"}}));
        QTRY_COMPARE_WITH_TIMEOUT(
            receiver.lines(),
            (QStringList{
                "Display|Alarms\tZone3\t2.5",
                "Display|Alarms\tZone3.Message\t7 Mar 2024 14:05:09 North A3 Pump \"failed\"; "
                "it's -- down",
                "Display|Alarms\tOther\t1",
                "Display|Alarms\tOther.Message\t7 Mar 2024 14:06:00 0911222333 R12 Door open",
                "Display|Alarms\tOther\t1",
                "Display|Alarms\tOther.Message\t7 Mar 2024 14:07:00 +886900001234 水位過低"}),
            10000);
        QCOMPARE(soundCalls, (QStringList{"open", "play"}));
        QVERIFY(form.sound().IsSoundPlaying);
    }

    // While the log cannot be written the message is shown and sounded once
    // and poked nowhere; once its record lands it is poked once, and the alert
    // the operator silenced meanwhile stays silent.
    void unrecordableMessageAlertsOnce()
    {
        QDir::setCurrent(m_dir.path());
        QVERIFY(QDir().mkpath(QStringLiteral("once")));
        QDir::setCurrent(m_dir.filePath(QStringLiteral("once")));
        QVERIFY(
            QFile::copy(QStringLiteral(QUILLET_GSMCODEMAP_FILE), QStringLiteral("GSMCodeMap.cod")));
        DevSimClient sim;
        QVERIFY2(sim.start({QStringLiteral("--type-rate"), QStringLiteral("100000")}),
                 qPrintable(sim.error()));
        QVERIFY(sim.control("deliver slot=3 number=+3212 text=\"A3 Tank high\" "
                            "time=24/03/07,14:05:09+32")
                    .startsWith(QLatin1String("ok")));
        ReceiverProcess receiver({QStringLiteral("--application"), QStringLiteral("Display")});
        QVERIFY(receiver.waitUntilListening());
        useEveryOutput(sim);
        QFile blocker(QStringLiteral("blocked"));
        QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where the log's folder must go
        blocker.close();
        G.LogFilePath = QStringLiteral("blocked/Quillet.log");
        QStringList soundCalls;
        AlarmPipeline pipeline;
        frmMain form;
        form.attach(pipeline);
        form.sound().setPlayer(std::make_unique<CountingPlayer>(&soundCalls));
        BoxRecorder boxes;
        pipeline.CreateDevice();
        pipeline.LoadReceivedStore();
        QVERIFY(pipeline.GoOnline());

        for (int i = 0; i < 3; ++i)
            pipeline.PollSIM();
        QCOMPARE(soundCalls, (QStringList{"open", "play"}));
        QCOMPARE(pipeline.LastSMSText, QStringLiteral("A3 Tank high"));
        form.sound().StopSoundAlert(); // the operator silences it
        pipeline.PollSIM();
        QTest::qWait(200);
        QCOMPARE(receiver.lines(), QStringList{});

        QVERIFY(QFile::remove(QStringLiteral("blocked")));
        pipeline.PollSIM();
        pipeline.PollSIM();
        pipeline.TerminateDevice();
        QCOMPARE(ReadFileBytes(QStringLiteral("blocked/Quillet.log")),
                 QByteArray("03/07/2024 14:05:09 [+3212] A3 Tank high\r\n"));
        QCOMPARE(readRows(QStringLiteral("db/alarms.mdb")).size(), 1);
        QCOMPARE(soundCalls, (QStringList{"open", "play", "close"}));
        QCOMPARE(int(pipeline.ReceivedSMSCount), 1);
        QTRY_COMPARE_WITH_TIMEOUT(
            receiver.lines(),
            (QStringList{"Display|Alarms\tZone3\t2.5",
                         "Display|Alarms\tZone3.Message\t7 Mar 2024 14:05:09 +3212 A3 Tank high"}),
            10000);
        QTest::qWait(200);
        QCOMPARE(receiver.lines().size(), 2);
    }
};

QTEST_MAIN(tst_OutputsE2E)
#include "tst_outputs_e2e.moc"
