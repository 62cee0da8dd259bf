// The logger's main job against the device simulator over a real pty: every
// message on the SIM becomes exactly one line in the history log, whatever the
// line does (bad frames, a silent device, a busy SIM, a log folder that cannot
// be written, a full disk, a received store that cannot be written).

#include "boxrecorder.h"
#include "commsms.h"
#include "devsimclient.h"
#include "globals.h"
#include "hostservices.h"
#include "journal.h"
#include "logfile.h"
#include "loggerrig.h"
#include "mainwindow.h"
#include "pipeline.h"
#include "qtboxes.h"
#include "receivedstore.h"
#include "scratchmount.h"
#include "sound.h"
#include "startup.h"
#include "tamsin.h"
#include "testfiles.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using quillet::test::ReadFileBytes;
using quillet::test::ScratchMount;
using namespace quillet;
using devsim::test::DevSimClient;
using quillet::test::BoxRecorder;
using quillet::test::Delivery;
using quillet::test::Line;
using quillet::test::NewRowOnBothLines;
using quillet::test::TerminateRecorder;

namespace {

QList<int> storedSlots(const DevSimClient &sim)
{
    return quillet::test::StoredSlots(sim);
}

// Twenty messages with gaps between their slots, of every awkward kind.
QList<Delivery> awkwardStore()
{
    QList<Delivery> d{
        {1, R"(number=+886912345678 text="A3 Pump failure" time=24/03/07,14:05:09+32)"},
        {2, R"(number=0911222333 text="Level \"low\", tank 2" time=24/03/07,14:06:00-16)"},
        {4, R"(number=+886900001234 alphabet=ucs2 text="水位過低" time=24/03/07,14:07:00+32)"},
        {5, R"(number=0900000000 status=sent text="outgoing, not an alarm")"},
        {7, R"(number=+3212345 text="PUMP ERROR\r\nOK\r\nERROR" time=24/03/07,14:08:00+04)"},
        {9, R"(number=+8869005678 name="Site 7" text="R12 Door open" time=24/03/07,14:09:00+32)"},
    };
    int slot = 10;
    for (int k = 1; d.size() < 20; ++k, slot += (k % 3 == 0 ? 2 : 1))
        d.append({slot, QStringLiteral("number=+4479%1 text=\"Alarm %1, \\\"q\\\"\" "
                                       "time=24/03/08,10:%2:00+00")
                            .arg(k)
                            .arg(k, 2, 10, QLatin1Char('0'))});
    return d;
}

// The stored outgoing message stays on the SIM: no alarm, and not the
// logger's to delete.
const QList<int> kStoredOutgoing{5};

QByteArray expectedAwkwardLog()
{
    QByteArray log = "03/07/2024 14:05:09 [North Pump Station]  Pump failure\r\n"
                     "03/07/2024 14:06:00 [0911222333] Level \"low\", tank 2\r\n"
                     "03/07/2024 14:07:00 [東區配水池] 水位過低\r\n"
                     "03/07/2024 14:08:00 [+3212345] PUMP ERROR\r\n OK\r\n ERROR\r\n"
                     "03/07/2024 14:09:00 [North Pump Station]  Door open\r\n";
    for (int k = 1; k <= 14; ++k)
        log += QStringLiteral("03/08/2024 10:%1:00 [+4479%2] Alarm %2, \"q\"\r\n")
                   .arg(k, 2, 10, QLatin1Char('0'))
                   .arg(k)
                   .toUtf8();
    return log;
}

// The records of a log, a further line (one that starts with a space) kept
// with the record before it.
QList<QByteArray> records(const QByteArray &log)
{
    QList<QByteArray> out;
    for (const QByteArray &line : log.split('\n')) {
        if (line.isEmpty())
            continue;
        if (line.startsWith(' ') && !out.isEmpty())
            out.last() += '\n' + line;
        else
            out << line;
    }
    return out;
}

// A fault test's figures: how many of the expected records the log holds
// not at all, and how many times over.
struct Tally
{
    int expected = 0;
    int logged = 0;
    int lost = 0;
    int duplicated = 0;
    int unexpected = 0;
};
Tally tally(const QByteArray &expectedLog, const QByteArray &log)
{
    Tally t;
    const QList<QByteArray> want = records(expectedLog);
    const QList<QByteArray> got = records(log);
    t.expected = int(want.size());
    t.logged = int(got.size());
    for (const QByteArray &r : want) {
        const qsizetype n = got.count(r);
        t.lost += n == 0;
        t.duplicated += int(qMax<qsizetype>(0, n - 1));
    }
    for (const QByteArray &r : got)
        t.unexpected += !want.contains(r);
    return t;
}

// The message boxes open on the screen, by title.
QList<QMessageBox *> openBoxes(const QString &title = {})
{
    QList<QMessageBox *> boxes;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(w))
            if (box->isVisible() && (title.isEmpty() || box->windowTitle() == title))
                boxes << box;
    return boxes;
}

// Real message boxes on the offscreen platform, for as long as it lives;
// every box still open at its end is closed.
struct ScreenBoxes
{
    BoxHandler previous = SetMsgBoxHandler({});
    ScreenBoxes() { InstallQtMessageBoxes(true); }
    ~ScreenBoxes()
    {
        for (QMessageBox *box : openBoxes())
            box->close();
        QTest::qWait(0);
        SetMsgBoxHandler(previous);
    }
};

class SilentPlayer : public SoundPlayer
{
public:
    void open(const QString &) override {}
    void play() override {}
    bool isStopped() const override { return false; }
    void rewind() override {}
    void close() override {}
};

// Holds the lock another program would hold on a file.
struct HeldLock
{
    int fd = -1;
    explicit HeldLock(const QString &path)
        : fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644))
    {
        if (fd >= 0 && ::flock(fd, LOCK_EX) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~HeldLock() { release(); }
    void release()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
};

// The journal's lines, as the pipeline's changes write them.
struct JournalLines
{
    quillet::app::Journal journal;
    QList<QByteArray> lines;
    explicit JournalLines(AlarmPipeline &pipeline)
    {
        journal.setSink([this](const QByteArray &line) { lines << line; });
        journal.attach(pipeline);
    }
    QList<QByteArray> about(const QByteArray &topic) const
    {
        QList<QByteArray> found;
        for (const QByteArray &line : lines)
            if (line.contains("Quillet: " + topic))
                found << line;
        return found;
    }
};

} // namespace

class tst_LoggerE2E : public QObject, private quillet::test::RigMembers
{
    Q_OBJECT

private:

    void prepare(const QList<Delivery> &deliveries, const QStringList &simArgs = {},
                 Line line = Line::Device)
    {
        quillet::test::PrepareRun(m_root.filePath(QStringLiteral("run%1").arg(++m_run)), m_sim,
                                  m_pipeline, deliveries, simArgs, line);
    }

    void pollUntil(const std::function<bool()> &done, int maxPolls)
    {
        for (int i = 0; i < maxPolls && !done(); ++i)
            m_pipeline->PollSIM();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        m_oldCwd = QDir::currentPath();
    }
    void cleanup() { endRow(); }

    void everyMessageOnceWithDeleteOn_data()
    {
        QTest::addColumn<int>("line");
        NewRowOnBothLines(QStringLiteral("twenty awkward messages"), [](QTestData &) {});
    }
    void everyMessageOnceWithDeleteOn()
    {
        QFETCH(int, line);
        BoxRecorder boxes;
        prepare(awkwardStore(), {}, Line(line));
        frmMain form;
        form.attach(*m_pipeline);
        QVERIFY(m_pipeline->GoOnline());
        QCOMPARE(form.statusPanelText(QStringLiteral("Status")), QStringLiteral("Online"));
        QVERIFY(m_pipeline->tmrAlarmLogger.isActive());
        QCOMPARE(int(m_pipeline->SMSMaxCount), 30);

        m_pipeline->PollSIM();
        QCOMPARE(ReadFileBytes(QStringLiteral("Quillet.log")), expectedAwkwardLog());
        QCOMPARE(storedSlots(*m_sim), kStoredOutgoing);
        QCOMPARE(int(m_pipeline->ReceivedSMSCount), 19); // the stored outgoing one is no alarm
        QCOMPARE(form.statusPanelText(QStringLiteral("Action")), QStringLiteral("SMS count : 19"));
        QCOMPARE(m_pipeline->LastSMSPhoneNo, QStringLiteral("+447914"));

        m_pipeline->PollSIM();
        m_pipeline->PollSIM();
        QCOMPARE(ReadFileBytes(QStringLiteral("Quillet.log")), expectedAwkwardLog());
        QCOMPARE(boxes.count(), 0);
    }

    void deleteOffLeavesTheSimAndLogsOnce()
    {
        prepare(awkwardStore());
        G.IsDeleteSMS = false;
        QVERIFY(m_pipeline->GoOnline());
        const QList<int> before = storedSlots(*m_sim);
        QCOMPARE(before.size(), 20);
        for (int i = 0; i < 3; ++i)
            m_pipeline->PollSIM();
        QCOMPARE(ReadFileBytes(QStringLiteral("Quillet.log")), expectedAwkwardLog());
        QCOMPARE(storedSlots(*m_sim), before);
        QCOMPARE(int(m_pipeline->ReceivedSMSCount), 19);

        // A restart remembers what was recorded.
        quillet::test::Restart(*m_pipeline);
        QVERIFY(m_pipeline->GoOnline());
        m_pipeline->PollSIM();
        QCOMPARE(ReadFileBytes(QStringLiteral("Quillet.log")), expectedAwkwardLog());
    }

    void unknownSender_data()
    {
        QTest::addColumn<bool>("giveUp");
        QTest::addColumn<QByteArray>("log");
        QTest::newRow("give-up off") << false << QByteArray("12/08/2026 09:15:00 [0987] who?\r\n");
        QTest::newRow("give-up on") << true << QByteArray();
    }
    void unknownSender()
    {
        QFETCH(bool, giveUp);
        QFETCH(QByteArray, log);
        prepare({{3, QStringLiteral("number=0987 text=\"who?\" time=26/12/08,09:15:00+32")}});
        G.IsGiveUpUnknownSitePhoneNumberSMS = giveUp;
        QVERIFY(m_pipeline->GoOnline());
        m_pipeline->PollSIM();
        m_pipeline->PollSIM();
        QCOMPARE(ReadFileBytes(QStringLiteral("Quillet.log")), log);
        // Shown and counted either way, deleted as configured, and only once.
        QCOMPARE(int(m_pipeline->ReceivedSMSCount), 1);
        QCOMPARE(m_pipeline->LastSMSText, QStringLiteral("who?"));
        QCOMPARE(storedSlots(*m_sim), QList<int>{});
    }

    void badFramesLoseNothing()
    {
        BoxRecorder boxes; // CRC boxes do not hold the exchange up
        prepare(awkwardStore(), {QStringLiteral("--bad-crc"), QStringLiteral("5"),
                                 QStringLiteral("--seed"), QStringLiteral("7")});
        QVERIFY(m_pipeline->GoOnline() || m_pipeline->GoOnline());
        pollUntil([&] { return storedSlots(*m_sim) == kStoredOutgoing; }, 30);
        QCOMPARE(storedSlots(*m_sim), kStoredOutgoing);
        QCOMPARE(ReadFileBytes(QStringLiteral("Quillet.log")), expectedAwkwardLog());
    }

    // Deletion off: a kept message is read again at every poll. A read that
    // fails (spoiled frames, a SIM too busy to read the slot) says nothing
    // about the slot, so it must not make the message new again.
    void keptMessagesSurviveFailedReads_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QStringList>("faults"); // control commands before each later poll
        QTest::addColumn<int>("commRetry");
        QTest::addColumn<int>("polls");
        // One attempt per exchange, so that a spoiled frame fails its read
        // instead of being asked again.
        QTest::newRow("25% bad frames")
            << QStringList{"--bad-crc", "25", "--seed", "11"} << QStringList{} << 1 << 12;
        QTest::newRow("SIM busy on kept slots")
            << QStringList{} << QStringList{"busy 9 1", "busy 1 1 515", "busy 13 1"} << 3 << 6;
    }
    void keptMessagesSurviveFailedReads()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(QStringList, faults);
        QFETCH(int, commRetry);
        QFETCH(int, polls);
        BoxRecorder boxes;
        prepare(awkwardStore(), simArgs);
        G.IsDeleteSMS = false;
        QVERIFY(m_pipeline->GoOnline() || m_pipeline->GoOnline() || m_pipeline->GoOnline());
        m_pipeline->Device()->setCommRetry(qint16(commRetry));
        // Messages counted on the SIM against messages read: the reads that failed.
        int failedReads = 0;
        const auto previous = SetTraceHandler([&](const QString &line) {
            if (line.startsWith(QLatin1String("TotalSMSCount=")))
                failedReads += line.mid(14).toInt();
            else if (line.startsWith(QLatin1String("TotalReadSMSCount=")))
                --failedReads;
        });
        m_pipeline->PollSIM();
        for (int i = 1; i < polls; ++i) {
            for (const QString &fault : faults)
                QVERIFY(m_sim->control(fault).startsWith(QLatin1String("ok")));
            m_pipeline->PollSIM();
        }
        // A clean line at the end, so that every alarm has had its chance.
        m_sim->control(QStringLiteral("badcrc 0"));
        m_pipeline->Device()->setCommRetry(3);
        m_pipeline->PollSIM();
        SetTraceHandler(previous);
        const Tally t = tally(expectedAwkwardLog(), ReadFileBytes(QStringLiteral("Quillet.log")));
        qInfo("%d polls, %d reads failed: %d alarms injected, %d records logged, %d lost, "
              "%d duplicated",
              polls + 1, failedReads, t.expected, t.logged, t.lost, t.duplicated);
        QCOMPARE(t.lost, 0);
        QCOMPARE(t.duplicated, 0);
        QCOMPARE(t.unexpected, 0);
        QCOMPARE(t.logged, t.expected);
        QCOMPARE(storedSlots(*m_sim).size(), 20);
    }

    // A disk that fills in the middle of a record: the part written is cut
    // away, the message stays on the SIM, and once there is room again the
    // log is the old records and the new one, byte for byte.
    void fullDiskLeavesWholeRecords()
    {
        ScratchMount disk;
        if (!disk.mount(64 * 1024) && disk.refused())
            QSKIP("mounting the small file system this needs was refused");
        QVERIFY2(disk.error().isEmpty(), qPrintable(disk.error()));
        QByteArray old;
        for (int i = 0; old.size() < 4000; ++i)
            old += QStringLiteral("01/02/2024 03:04:%1 [old] record %1\r\n")
                       .arg(i % 60, 2, 10, QLatin1Char('0'))
                       .toUtf8();
        {
            QFile log(disk.filePath(QStringLiteral("Quillet.log")));
            QVERIFY(log.open(QIODevice::WriteOnly));
            QCOMPARE(log.write(old), old.size());
        }
        // Every page but the log's last one taken.
        {
            QFile filler(disk.filePath(QStringLiteral("filler")));
            QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            const QByteArray page(4096, 'f');
            while (filler.write(page) == page.size()) {
            }
        }
        const QString text =
            QStringLiteral("Tank 4 level high, pump 2 tripped, standby pump started, "
                           "operator please check valve 7");
        prepare(
            {{2, QStringLiteral("number=+3212 text=\"%1\" time=24/05/06,07:08:09+32").arg(text)}});
        G.LogFilePath = disk.filePath(QStringLiteral("Quillet.log"));
        QVERIFY(m_pipeline->GoOnline());
        const QByteArray record = "05/06/2024 07:08:09 [+3212] " + text.toUtf8() + "\r\n";
        QVERIFY(4096 - old.size() < record.size()); // the record fits only in part

        m_pipeline->PollSIM();
        m_pipeline->PollSIM();
        QCOMPARE(ReadFileBytes(G.LogFilePath), old);
        QCOMPARE(storedSlots(*m_sim), QList<int>{2});

        QVERIFY(QFile::remove(disk.filePath(QStringLiteral("filler"))));
        m_pipeline->PollSIM();
        QCOMPARE(ReadFileBytes(G.LogFilePath), old + record);
        QCOMPARE(storedSlots(*m_sim), QList<int>{});
    }

    // Texts and time stamps are logged as received: no control character
    // raw (a NUL would make the viewer refuse the whole file), no host time
    // zone (02:30 falls into Berlin's spring gap, which once gave a record
    // without its stamp), and the library reads every record back.
    void textsAndStampsAsReceived()
    {
        const QByteArray oldTz = qgetenv("TZ");
        qputenv("TZ", "Europe/Berlin");
        ::tzset();
        prepare(
            {{1, R"(number=+3212 alphabet=ucs2 text="a\u0000b\u0007c" time=24/03/07,14:05:09+32)"},
             {2, R"(number=+3213 text="Gap" time=24/03/31,02:30:00+08)"},
             {3, R"(number=+3214 text="Repeat" time=24/10/27,02:30:00+08)"}});
        QVERIFY(m_pipeline->GoOnline());
        m_pipeline->PollSIM();
        qputenv("TZ", oldTz);
        if (oldTz.isEmpty())
            qunsetenv("TZ");
        ::tzset();

        const QByteArray log = ReadFileBytes(QStringLiteral("Quillet.log"));
        QCOMPARE(log, QByteArray("03/07/2024 14:05:09 [+3212] a\xe2\x90\x80"
                                 "b\xe2\x90\x87"
                                 "c\r\n"
                                 "03/31/2024 02:30:00 [+3213] Gap\r\n"
                                 "10/27/2024 02:30:00 [+3214] Repeat\r\n"));
        QVERIFY(!log.contains('\0'));
        QCOMPARE(LogOpen("Quillet.log"), 3);
        QCOMPARE(LogSelect(nullptr, nullptr), 3);
        const char *time = nullptr;
        QCOMPARE(LogGetRecord(1, &time, nullptr, nullptr, nullptr, nullptr, nullptr), 1);
        QCOMPARE(QByteArray(time), QByteArray("03/31/2024 02:30:00"));
        LogClose();
    }

    // Quillet.rcv that cannot be written (a folder in its place stops root
    // too): the trace and the status bar say so, the set in memory still
    // keeps the kept message from a second record, and the next poll writes
    // the file.
    void unwritableStoreIsReportedAndWrittenLater()
    {
        prepare({{4, QStringLiteral("number=+3212 text=kept time=24/05/06,07:08:09+32")}});
        G.IsDeleteSMS = false;
        QVERIFY(QDir().mkpath(QStringLiteral("Quillet.rcv")));
        frmMain form;
        form.attach(*m_pipeline);
        QStringList trace;
        const auto previous = SetTraceHandler([&](const QString &line) { trace << line; });
        QVERIFY(m_pipeline->GoOnline());
        m_pipeline->PollSIM();
        m_pipeline->PollSIM();
        SetTraceHandler(previous);
        const QByteArray record("05/06/2024 07:08:09 [+3212] kept\r\n");
        QCOMPARE(ReadFileBytes(QStringLiteral("Quillet.log")), record);
        QVERIFY(
            form.statusPanelText(QStringLiteral("Action")).contains(QLatin1String("Quillet.rcv")));
        QVERIFY(!trace.filter(QStringLiteral("Quillet.rcv not written")).isEmpty());

        QVERIFY(QDir().rmdir(QStringLiteral("Quillet.rcv")));
        m_pipeline->PollSIM();
        QCOMPARE(form.statusPanelText(QStringLiteral("Action")), QStringLiteral("SMS count : 1"));
        // What the file now holds keeps a restarted logger from a second record.
        quillet::test::Restart(*m_pipeline);
        QCOMPARE(m_pipeline->Received().size(), 1);
        QVERIFY(m_pipeline->GoOnline());
        m_pipeline->PollSIM();
        QCOMPARE(ReadFileBytes(QStringLiteral("Quillet.log")), record);
    }

    void silentDeviceComesBack()
    {
        prepare(awkwardStore());
        QVERIFY(m_pipeline->GoOnline());
        // The device falls silent in the middle of the first poll.
        int reads = 0;
        const auto previous = SetTraceHandler([&](const QString &line) {
            if (line.startsWith(QLatin1String("TotalReadSMSCount=")) && ++reads == 5)
                m_sim->control(QStringLiteral("silent 4"));
        });
        pollUntil([&] { return storedSlots(*m_sim) == kStoredOutgoing; }, 20);
        SetTraceHandler(previous);
        QCOMPARE(storedSlots(*m_sim), kStoredOutgoing);
        QCOMPARE(ReadFileBytes(QStringLiteral("Quillet.log")), expectedAwkwardLog());
    }

    // A record that cannot be written (its folder cannot be made, another
    // program holds the log's lock) leaves every message on the SIM; the
    // status bar says why, and once the way is free each is logged once.
    void unwritableLogKeepsMessages_data()
    {
        QTest::addColumn<bool>("locked");
        QTest::addColumn<QString>("note");
        QTest::newRow("a file where the log folder goes")
            << false << "cannot create the log folder blocked";
        QTest::newRow("log locked by another program") << true << "log locked by another program";
    }
    void unwritableLogKeepsMessages()
    {
        QFETCH(bool, locked);
        QFETCH(QString, note);
        prepare(awkwardStore());
        frmMain form;
        form.attach(*m_pipeline);
        JournalLines journal(*m_pipeline);
        std::unique_ptr<HeldLock> lock;
        const int wait = m_pipeline->Log().lockWaitMs();
        if (locked) {
            m_pipeline->Log().setLockWaitMs(200);
            lock = std::make_unique<HeldLock>(QStringLiteral("Quillet.log"));
            QVERIFY(lock->fd >= 0);
        } else {
            QFile blocker(QStringLiteral("blocked"));
            QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where the folder must go
            blocker.close();
            G.LogFilePath = QStringLiteral("blocked/Quillet.log");
        }
        QVERIFY(m_pipeline->GoOnline());
        m_pipeline->PollSIM();
        // Every message stays, the stored outgoing one as always.
        QCOMPARE(storedSlots(*m_sim).size(), 20);
        QVERIFY(ReadFileBytes(locked ? QStringLiteral("Quillet.log")
                                     : QStringLiteral("blocked/Quillet.log"))
                    .isEmpty());
        QVERIFY2(form.statusPanelText(QStringLiteral("Note")).contains(note),
                 qPrintable(form.statusPanelText(QStringLiteral("Note"))));

        if (locked)
            lock->release();
        else
            QVERIFY(QFile::remove(QStringLiteral("blocked")));
        m_pipeline->PollSIM();
        m_pipeline->PollSIM();
        QCOMPARE(storedSlots(*m_sim), kStoredOutgoing);
        QCOMPARE(ReadFileBytes(G.LogFilePath), expectedAwkwardLog());
        QCOMPARE(form.statusPanelText(QStringLiteral("Note")), QString());
        m_pipeline->Log().setLockWaitMs(wait);
        const QList<QByteArray> logLines = journal.about("History log");
        QCOMPARE(logLines.size(), 2);
        QVERIFY2(logLines.at(0).startsWith("<3>Quillet: History log: " + note.toUtf8()),
                 logLines.at(0).constData());
        QCOMPARE(logLines.at(1), QByteArray("<6>Quillet: History log: written again\n"));
    }

    // Offline or Exit chosen while a record waits for the log's lock ends
    // the wait: the poll stops before its next message, nothing is written
    // and every message stays on the SIM. (The wait is a minute here; a wait
    // that ran its course would take the test past its bound.)
    void offlineOrExitEndTheLockWait_data()
    {
        QTest::addColumn<bool>("exit");
        QTest::newRow("Offline") << false;
        QTest::newRow("Exit, answered Yes") << true;
    }
    void offlineOrExitEndTheLockWait()
    {
        QFETCH(bool, exit);
        prepare(awkwardStore());
        frmMain form;
        form.attach(*m_pipeline);
        BoxRecorder boxes;
        TerminateRecorder ended;
        const int wait = m_pipeline->Log().lockWaitMs();
        m_pipeline->Log().setLockWaitMs(60000);
        HeldLock lock(QStringLiteral("Quillet.log"));
        QVERIFY(m_pipeline->GoOnline());
        QTimer::singleShot(200, &form, [&] {
            if (exit)
                form.mnuFileSysExit->trigger();
            else
                form.mnuFileOffLine->trigger();
        });
        QElapsedTimer clock;
        clock.start();
        m_pipeline->PollSIM();
        QVERIFY2(clock.elapsed() < 30000, "the lock wait ran its course");
        QVERIFY(m_pipeline->IsOffline);
        QCOMPARE(ended.count(), exit ? 1 : 0);
        QCOMPARE(storedSlots(*m_sim).size(), 20);
        QVERIFY(ReadFileBytes(QStringLiteral("Quillet.log")).isEmpty());
        if (!exit)
            QVERIFY(!m_pipeline->tmrAlarmLogger.isActive() &&
                    !m_pipeline->tmrRetryOnline.isActive());
        m_pipeline->Log().setLockWaitMs(wait);
    }

    void offlineDuringAPollStopsBeforeTheNextSlot()
    {
        prepare(awkwardStore());
        QVERIFY(m_pipeline->GoOnline());
        const auto previous = SetTraceHandler([this](const QString &line) {
            if (line == QLatin1String("TotalReadSMSCount=3"))
                m_pipeline->GoOffline();
        });
        m_pipeline->PollSIM();
        SetTraceHandler(previous);
        QVERIFY(m_pipeline->IsOffline);
        // Three messages read; the third is finished (recorded and deleted).
        const QByteArray log = ReadFileBytes(QStringLiteral("Quillet.log"));
        QCOMPARE(log.count("\r\n0"), 2);
        QCOMPARE(storedSlots(*m_sim).size(), 17);
    }

    void exitDuringAPoll()
    {
        prepare(awkwardStore());
        QVERIFY(m_pipeline->GoOnline());
        BoxRecorder boxes;
        boxes.script({BoxAnswer::Yes});
        TerminateRecorder ended;
        const auto previous = SetTraceHandler([this](const QString &line) {
            if (line == QLatin1String("TotalReadSMSCount=2"))
                m_pipeline->ExitSystem(true);
        });
        m_pipeline->PollSIM();
        SetTraceHandler(previous);
        QCOMPARE(ended.count(), 1);
        QCOMPARE(boxes.last().text, QStringLiteral("Are you sure to exit system?"));
        QVERIFY(m_pipeline->IsOffline);
        QVERIFY(!m_pipeline->IsPolling());
        // The poll stopped before the next slot.
        QCOMPARE(ReadFileBytes(QStringLiteral("Quillet.log")).count("\r\n0"), 1);
    }

    void recoversWhenTheDeviceComesBack()
    {
        const QString link = m_root.filePath(QStringLiteral("device-link"));
        prepare({}, {QStringLiteral("--link"), link});
        G.COMPORT = link;
        frmMain form;
        form.attach(*m_pipeline);
        JournalLines journal(*m_pipeline);
        QVERIFY(m_pipeline->GoOnline());

        m_sim.reset(); // the device goes away
        pollUntil(
            [&] {
                return form.statusPanelText(QStringLiteral("Status")) == QLatin1String("Offline");
            },
            5);
        QCOMPARE(form.statusPanelText(QStringLiteral("Status")), QStringLiteral("Offline"));
        QVERIFY(!m_pipeline->IsOffline);    // not the operator's Offline: the ticks go on
        pollUntil([] { return false; }, 3); // the ticks that try again tell nothing new
        SupervisionCondition lost;
        lost.keyword = BeginKeyword(lost.kind);
        lost.detail = QStringLiteral("not registered (searching) since 12/08/2026 09:15:00");
        emit m_pipeline->conditionBegan(lost);

        m_sim = std::make_unique<DevSimClient>();
        QVERIFY(m_sim->start({QStringLiteral("--link"), link}));
        QVERIFY(m_sim
                    ->control(QStringLiteral("deliver slot=2 number=+3212 text=back "
                                             "time=26/12/08,10:00:00+00"))
                    .startsWith(QLatin1String("ok")));
        pollUntil([&] { return QFile(QStringLiteral("Quillet.log")).size() > 0; }, 5);
        QCOMPARE(form.statusPanelText(QStringLiteral("Status")), QStringLiteral("Online"));
        QCOMPARE(ReadFileBytes(QStringLiteral("Quillet.log")),
                 QByteArray("12/08/2026 10:00:00 [+3212] back\r\n"));
        emit m_pipeline->conditionEnded(lost, QStringLiteral("after 45 minutes"));

        // Each change once, at its priority.
        const QList<QByteArray> &lines = journal.lines;
        const QByteArray online = "<6>Quillet: Online\n";
        QVERIFY2(lines.size() >= 5 && lines.first() == online &&
                     lines.last() == "<6>Quillet: NETWORK BACK after 45 minutes\n" &&
                     lines.at(lines.size() - 2) == online,
                 lines.join().constData());
        QVERIFY(lines.at(1).startsWith("<3>Quillet: Offline: lost " + link.toUtf8()));
        QVERIFY(lines.contains("<4>Quillet: NETWORK LOST " + lost.detail.toUtf8() + '\n'));
        for (int i = 1; i < lines.size(); ++i)
            QVERIFY2(lines.at(i) != lines.at(i - 1), lines.at(i).constData());
    }

    // The silence question and the exit confirmation, raised in the middle
    // of a poll, stay open while the polls go on and alarms are logged; a
    // second File > Exit only brings the open question forward; each answer
    // is handled when it is given.
    void questionsLeaveThePollsGoing()
    {
        prepare({{1, QStringLiteral("number=+3212 text=first time=26/12/08,10:00:00+00")}});
        ScreenBoxes screen;
        TerminateRecorder ended;
        frmMain form;
        form.attach(*m_pipeline);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        m_pipeline->tmrAlarmLogger.setInterval(50);
        QVERIFY(m_pipeline->GoOnline());
        form.sound().setPlayer(std::make_unique<SilentPlayer>());
        form.sound().IsSoundPlaying = true;
        // A box that waits inside the poll is closed after a while, so that
        // the test fails rather than hangs.
        QTimer unstick;
        connect(&unstick, &QTimer::timeout, [] {
            for (QMessageBox *box : openBoxes())
                box->reject();
        });
        bool asked = false;
        const auto previous = SetTraceHandler([&](const QString &line) {
            if (asked || line != QLatin1String("TotalReadSMSCount=1"))
                return;
            asked = true;
            unstick.start(3000);
            QTest::mouseClick(form.centralWidget(), Qt::RightButton);
            form.mnuFileSysExit->trigger();
        });
        m_pipeline->PollSIM();
        unstick.stop();
        SetTraceHandler(previous);
        QVERIFY(asked);
        QCOMPARE(openBoxes(QStringLiteral("Silence the alert sound")).size(), 1);
        QCOMPARE(openBoxes(QStringLiteral("System Exit")).size(), 1);

        quillet::test::Deliver(
            *m_sim, {2, QStringLiteral("number=+3213 text=second time=26/12/08,10:01:00+00")});
        QTRY_COMPARE_WITH_TIMEOUT(storedSlots(*m_sim), QList<int>{}, 4000);
        QCOMPARE(ReadFileBytes(QStringLiteral("Quillet.log")),
                 QByteArray("12/08/2026 10:00:00 [+3212] first\r\n"
                            "12/08/2026 10:01:00 [+3213] second\r\n"));
        form.mnuFileSysExit->trigger();
        QCOMPARE(openBoxes().size(), 2); // still open, not stacked

        auto answer = [](const char *title, QMessageBox::StandardButton button) {
            const QList<QMessageBox *> open = openBoxes(QString::fromUtf8(title));
            if (open.size() == 1)
                open.first()->button(button)->click();
            return open.size() == 1;
        };
        QVERIFY(answer("Silence the alert sound", QMessageBox::Ok));
        QVERIFY(!form.sound().IsSoundPlaying);
        QVERIFY(answer("System Exit", QMessageBox::No));
        QCOMPARE(ended.count(), 0);
        QVERIFY(m_pipeline->tmrAlarmLogger.isActive());
        QVERIFY(!m_pipeline->IsOffline);
        form.mnuFileSysExit->trigger();
        QVERIFY(answer("System Exit", QMessageBox::Yes));
        QCOMPARE(ended.count(), 1);
    }

    // A noisy line: fifty spoiled answers, one "Receive Command Error" box
    // that counts them, and no alarm lost meanwhile.
    void spoiledAnswersLeaveOneBox()
    {
        prepare(awkwardStore());
        ScreenBoxes screen;
        int spoiled = 0;
        const BoxHandler shown = SetMsgBoxHandler({});
        SetMsgBoxHandler([&](const BoxRequest &req) {
            spoiled += req.title == QLatin1String("Receive Command Error");
            return shown(req);
        });
        QVERIFY(m_pipeline->GoOnline());
        QVERIFY(m_sim->control(QStringLiteral("badcrc 50")).startsWith(QLatin1String("ok")));
        pollUntil([&] { return spoiled >= 50; }, 200);
        QVERIFY(spoiled >= 50);
        const QList<QMessageBox *> boxes = openBoxes(QStringLiteral("Receive Command Error"));
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes.first()->text().contains(QStringLiteral("%1 times since ").arg(spoiled)),
                 qPrintable(boxes.first()->text()));
        QVERIFY(m_sim->control(QStringLiteral("badcrc 0")).startsWith(QLatin1String("ok")));
        pollUntil([&] { return storedSlots(*m_sim).isEmpty(); }, 10);
        QCOMPARE(ReadFileBytes(QStringLiteral("Quillet.log")), expectedAwkwardLog());
        SetMsgBoxHandler(shown);
    }

    // File > Offline chosen while the device is being opened (a retry
    // tick after it went away, or File > Online) wins: Offline, no timer
    // running, and no tick brings it back until File > Online.
    void offlineDuringAReopenWins_data()
    {
        QTest::addColumn<bool>("retryTick");
        QTest::newRow("during a retry tick") << true;
        QTest::newRow("during File > Online") << false;
    }
    void offlineDuringAReopenWins()
    {
        QFETCH(bool, retryTick);
        const QString link = m_root.filePath(QStringLiteral("reopen-link"));
        prepare({}, {QStringLiteral("--link"), link});
        G.COMPORT = link;
        frmMain form;
        form.attach(*m_pipeline);
        BoxRecorder boxes;
        QVERIFY(m_pipeline->GoOnline());
        if (retryTick) {
            m_sim.reset(); // the device goes away
            m_pipeline->PollSIM();
            QVERIFY(m_pipeline->IsTryingToConnect());
            QVERIFY(m_pipeline->tmrRetryOnline.isActive() &&
                    !m_pipeline->tmrAlarmLogger.isActive());
            m_sim = std::make_unique<DevSimClient>();
            QVERIFY(m_sim->start({QStringLiteral("--link"), link}));
        }
        bool chosen = false;
        const auto previous = SetTraceHandler([&](const QString &line) {
            if (!chosen && line.startsWith(QLatin1String("ATCommand=AT+CMEE=1"))) {
                chosen = true;
                form.mnuFileOffLine->trigger();
            }
        });
        if (retryTick)
            m_pipeline->PollSIM();
        else
            form.mnuFileOnLine->trigger();
        SetTraceHandler(previous);
        QVERIFY(chosen);
        QCOMPARE(form.statusPanelText(QStringLiteral("Status")), QStringLiteral("Offline"));
        QVERIFY(form.mnuFileOffLine->isChecked() && !form.mnuFileOnLine->isChecked());
        QVERIFY(!m_pipeline->tmrAlarmLogger.isActive());
        QVERIFY(!m_pipeline->tmrRetryOnline.isActive());
        QVERIFY(m_pipeline->IsOffline);
        QCOMPARE(boxes.count(), 0);
        m_pipeline->PollSIM(); // a stray tick changes nothing
        QCOMPARE(form.statusPanelText(QStringLiteral("Status")), QStringLiteral("Offline"));
        form.mnuFileOnLine->trigger();
        QCOMPARE(form.statusPanelText(QStringLiteral("Status")), QStringLiteral("Online"));
        QVERIFY(m_pipeline->tmrAlarmLogger.isActive());
    }

    // Two pipelines in one process, each on a device of its own (the framed
    // device, and a plain modem) with settings of its own, their polls run by
    // their own timers and often one inside the other's waits: each logs its
    // own alarms, once, into its own log.
    void twoPipelinesLogTheirOwn()
    {
        auto alarm = [](int slot, const char *number, const char *text) {
            return Delivery{slot, QStringLiteral("number=%1 text=\"%2\" time=24/05/06,07:08:%3+32")
                                      .arg(QLatin1String(number), QLatin1String(text))
                                      .arg(slot, 2, 10, QLatin1Char('0'))};
        };
        prepare({alarm(1, "+3211", "North tank"), alarm(4, "+3214", "North pump"),
                 alarm(9, "+3219", "North door")});
        std::unique_ptr<DevSimClient> southSim;
        quillet::test::StartSimulator(
            southSim, {alarm(2, "+3222", "South tank"), alarm(5, "+3225", "South gate")}, {},
            Line::PlainModem);
        QVERIFY(southSim && QDir().mkpath(QStringLiteral("south")));
        GlobalState southSettings;
        quillet::test::RunSettings(southSettings, southSim->ptyPath(), Line::PlainModem);
        southSettings.SettingFile = QDir::current().filePath(QStringLiteral("south/Quillet.set"));
        southSettings.LogFilePath = QDir::current().filePath(QStringLiteral("south/Quillet.log"));
        AlarmPipeline south(southSettings);
        south.CreateDevice();
        south.LoadReceivedStore();
        AlarmPipeline &north = *m_pipeline;
        QSignalSpy northRecorded(&north, &AlarmPipeline::alarmRecorded);
        QSignalSpy southRecorded(&south, &AlarmPipeline::alarmRecorded);

        int nested = 0; // slots one pipeline read while the other's poll waited
        connect(&north, &AlarmPipeline::pollProgressed, [&] { nested += south.IsPolling(); });
        connect(&south, &AlarmPipeline::pollProgressed, [&] { nested += north.IsPolling(); });
        QVERIFY(north.GoOnline());
        QVERIFY(south.GoOnline());
        QVERIFY(!north.Device()->IsPlainModem() && south.Device()->IsPlainModem());
        north.tmrAlarmLogger.setInterval(20);
        south.tmrAlarmLogger.setInterval(20);
        QTRY_VERIFY_WITH_TIMEOUT(storedSlots(*m_sim).isEmpty() && storedSlots(*southSim).isEmpty(),
                                 30000);
        QTest::qWait(300); // more ticks, on SIMs that are empty now
        qInfo("%d slots read inside the other pipeline's poll", nested);

        QCOMPARE(ReadFileBytes(QStringLiteral("Quillet.log")),
                 QByteArray("05/06/2024 07:08:01 [+3211] North tank\r\n"
                            "05/06/2024 07:08:04 [+3214] North pump\r\n"
                            "05/06/2024 07:08:09 [+3219] North door\r\n"));
        QCOMPARE(ReadFileBytes(southSettings.LogFilePath),
                 QByteArray("05/06/2024 07:08:02 [+3222] South tank\r\n"
                            "05/06/2024 07:08:05 [+3225] South gate\r\n"));
        QCOMPARE(int(north.ReceivedSMSCount), 3);
        QCOMPARE(int(south.ReceivedSMSCount), 2);
        QCOMPARE(northRecorded.count(), 3);
        QCOMPARE(southRecorded.count(), 2);
        QCOMPARE(southRecorded.first().first().value<AlarmRecord>().callerID,
                 QStringLiteral("+3222"));
        QVERIFY(QFile::exists(QStringLiteral("south/Quillet.rcv")));
        south.TerminateDevice();
    }

    // File > Online on a port that is not there: the box once, then the
    // ticks try again without it until File > Offline.
    void onlineRefusedOnAMissingPort()
    {
        prepare({});
        frmMain form;
        form.attach(*m_pipeline);
        BoxRecorder boxes;
        G.COMPORT = QStringLiteral("/dev/quillet-no-such-port");
        m_pipeline->OnlineCommand();
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().title, QStringLiteral("Communicaiton Error"));
        QCOMPARE(boxes.last().text,
                 QStringLiteral("Unable to connect to Device.\r\nPlease check cable connection "
                                "and communicaiton parameter settings."));
        QVERIFY(m_pipeline->IsOffline);
        QVERIFY(m_pipeline->tmrRetryOnline.isActive());
        QVERIFY(form.statusPanelText(QStringLiteral("Note"))
                    .startsWith(QLatin1String("cannot open /dev/quillet-no-such-port")));
        for (int tick = 0; tick < 3; ++tick)
            m_pipeline->PollSIM();
        QCOMPARE(boxes.count(), 1);
        QVERIFY(m_pipeline->IsTryingToConnect());
        m_pipeline->GoOffline();
        QVERIFY(!m_pipeline->tmrRetryOnline.isActive());
        QVERIFY(!m_pipeline->IsTryingToConnect());
        QCOMPARE(form.statusPanelText(QStringLiteral("Note")), QString());
    }
};

QTEST_MAIN(tst_LoggerE2E)
#include "tst_logger_e2e.moc"
