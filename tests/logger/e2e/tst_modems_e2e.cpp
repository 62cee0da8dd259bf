// What real modems and senders write, against the simulator on both kinds of
// line: every message a modem can hold is logged once, with its exact text,
// and cleared from the SIM; a concatenated message becomes one record; an odd
// one is recorded as it came instead of staying on the SIM forever.

#include "commsms.h"
#include "devsimclient.h"
#include "globals.h"
#include "hostservices.h"
#include "loggerrig.h"
#include "multipart.h"
#include "pipeline.h"
#include "testfiles.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace quillet;
using devsim::test::DevSimClient;
using quillet::test::Delivery;
using quillet::test::Line;
using quillet::test::NewRowOnBothLines;
using quillet::test::ReadFileBytes;
using quillet::test::StoredSlots;

namespace {

QByteArray logFile()
{
    return ReadFileBytes(QStringLiteral("Quillet.log"));
}

int records(const QByteArray &log)
{
    int n = 0;
    for (const QByteArray &line : log.split('\n'))
        n += !line.isEmpty() && !line.startsWith(' ');
    return n;
}

} // namespace

class tst_ModemsE2E : public QObject, private quillet::test::RigMembers
{
    Q_OBJECT

private:
    QDateTime m_now;

    void prepare(const QList<Delivery> &deliveries, const QStringList &simArgs, Line line)
    {
        quillet::test::PrepareRun(m_root.filePath(QStringLiteral("run%1").arg(++m_run)), m_sim,
                                  m_pipeline, deliveries, simArgs, line);
        if (m_pipeline)
            m_pipeline->Parts().SetPartsClock([this] { return m_now; });
    }
    void restart() { quillet::test::Restart(*m_pipeline); }
    void control(const QString &line)
    {
        const QString answer = m_sim->control(line);
        QVERIFY2(answer.startsWith(QLatin1String("ok")), qPrintable(line + u' ' + answer));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        m_oldCwd = QDir::currentPath();
    }
    void init() { m_now = QDateTime(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC); }
    void cleanup() { endRow(); }

    void everyKindLoggedOnceAndCleared_data()
    {
        QTest::addColumn<int>("line");
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QStringList>("deliveries");
        QTest::addColumn<QStringList>("online"); // controls once the logger is online
        QTest::addColumn<QByteArray>("log");
        QTest::addColumn<int>("polls");

        const QString at = QStringLiteral("time=24/05/01,08:00:0%1+32 ");
        auto from = [&](int n) {
            return QStringLiteral("number=+8529111000%1 ").arg(n) + at.arg(n);
        };
        const QStringList schemes{
            from(1) + "dcs=0x10 text=\"Flash: tank 1 empty\"",
            from(2) + "dcs=0x11 text=\"Class 1, pump 2\"",
            from(3) + "dcs=0xF1 text=\"Data coding group, class 1\"",
            from(4) + "dcs=0x18 text=水位過低",
            from(5) + "data=0102525455",
            from(6) + "dcs=0xD8 text=\"Voice mail waiting\"",
            from(7) + "dcs=0xE0 text=語音信箱",
            from(8) + "dcs=0xF6 data=C0FFEE",
        };
        const QByteArray schemesLog =
            "05/01/2024 08:00:01 [+85291110001] Flash: tank 1 empty\r\n"
            "05/01/2024 08:00:02 [+85291110002] Class 1, pump 2\r\n"
            "05/01/2024 08:00:03 [+85291110003] Data coding group, class 1\r\n"
            "05/01/2024 08:00:04 [+85291110004] 水位過低\r\n"
            "05/01/2024 08:00:05 [+85291110005] [8-bit] 0102525455\r\n"
            "05/01/2024 08:00:06 [+85291110006] Voice mail waiting\r\n"
            "05/01/2024 08:00:07 [+85291110007] 語音信箱\r\n"
            "05/01/2024 08:00:08 [+85291110008] [8-bit] C0FFEE\r\n";
        NewRowOnBothLines("coding schemes and classes", [&](QTestData &row) {
            row << QStringList{} << schemes << QStringList{} << schemesLog << 1;
        });

        NewRowOnBothLines("lengths in septets", [&](QTestData &row) {
            row << QStringList{"--lengths", "septets"}
                << QStringList{from(1) + "text=\"€ { } [ ] ~ \\\\ | ^\"", from(2) + "text=plain"}
                << QStringList{}
                << QByteArray("05/01/2024 08:00:01 [+85291110001] € { } [ ] ~ \\ | ^\r\n"
                              "05/01/2024 08:00:02 [+85291110002] plain\r\n")
                << 1;
        });

        // Parts stored out of order and away from each other; a single
        // message between them is logged where it is read.
        const QString pump = "Pump station 3: pressure low on line A, flow high on line B, "
                             "check valve V7 soon.";
        NewRowOnBothLines("concatenated messages", [&](QTestData &row) {
            row << QStringList{}
                << QStringList{"number=+85291110010 time=24/05/01,09:00:00+32 text=\"" + pump +
                                   "\" parts=3 ref=200 slots=9,2,5",
                               "number=+85291110011 time=24/05/01,09:01:00+32 alphabet=ucs2 "
                               "text=東區配水池水位過低，請派員檢查。 parts=2 ref=4660 refbits=16 "
                               "slots=7,3",
                               "number=+85291110012 time=24/05/01,09:02:00+32 "
                               "data=00112233445566778899 parts=2 ref=7 slots=4,1",
                               "slot=6 number=+85291110013 time=24/05/01,09:03:00+32 text=single"}
                << QStringList{}
                << ("05/01/2024 09:03:00 [+85291110013] single\r\n"
                    "05/01/2024 09:02:00 [+85291110012] [8-bit] 00112233445566778899\r\n"
                    "05/01/2024 09:00:00 [+85291110010] " +
                    pump.toUtf8() +
                    "\r\n"
                    "05/01/2024 09:01:00 [+85291110011] 東區配水池水位過低，請派員檢查。\r\n")
                << 1;
        });

        NewRowOnBothLines("alphanumeric senders", [&](QTestData &row) {
            row << QStringList{}
                << QStringList{"number=TAIPOWER " + at.arg(1) + "text=\"Power back\"",
                               "number=WaterCo " + at.arg(2) + "text=\"Cut at 2\""}
                << QStringList{}
                << QByteArray("05/01/2024 08:00:01 [Power Company] Power back\r\n"
                              "05/01/2024 08:00:02 [WaterCo] Cut at 2\r\n")
                << 1;
        });

        // Four alarms, and volunteered lines behind every answer (and a
        // new-message indication for each): logged in one poll.
        const QStringList four{from(1) + "text=one", from(2) + "text=two", from(3) + "text=three",
                               from(4) + "text=four"};
        const QByteArray fourLog = "05/01/2024 08:00:01 [+85291110001] one\r\n"
                                   "05/01/2024 08:00:02 [+85291110002] two\r\n"
                                   "05/01/2024 08:00:03 [+85291110003] three\r\n"
                                   "05/01/2024 08:00:04 [+85291110004] four\r\n";
        NewRowOnBothLines("volunteered lines after every answer", [&](QTestData &row) {
            row << QStringList{"--urc-answers", "after", "--urc-delivery"} << four << QStringList{}
                << fourLog << 1;
        });
        NewRowOnBothLines("volunteered lines before every answer", [&](QTestData &row) {
            row << QStringList{"--urc-answers", "before"} << four << QStringList{} << fourLog << 1;
        });
        NewRowOnBothLines("volunteered line inside the count", [&](QTestData &row) {
            row << QStringList{"--urc-answers", "inside"} << four << QStringList{} << fourLog << 1;
        });

        // The modem restarts with its factory profile while the logger is
        // online: echo, PDU mode, short headers. Read within two polls.
        NewRowOnBothLines("factory profile after a restart", [&](QTestData &row) {
            row << QStringList{} << four.mid(0, 2) << QStringList{"reset"}
                << QByteArray("05/01/2024 08:00:01 [+85291110001] one\r\n"
                              "05/01/2024 08:00:02 [+85291110002] two\r\n")
                << 2;
        });
    }

    void everyKindLoggedOnceAndCleared()
    {
        QFETCH(int, line);
        QFETCH(QStringList, simArgs);
        QFETCH(QStringList, deliveries);
        QFETCH(QStringList, online);
        QFETCH(QByteArray, log);
        QFETCH(int, polls);

        QList<Delivery> store;
        for (const QString &d : deliveries)
            store.append({-1, d});
        prepare(store, simArgs, Line(line));
        QVERIFY(m_pipeline->GoOnline());
        QCOMPARE(m_pipeline->Device()->IsPlainModem(), Line(line) == Line::PlainModem);
        for (const QString &c : online)
            control(c);
        for (int i = 0; i < polls && !StoredSlots(*m_sim).isEmpty(); ++i)
            m_pipeline->PollSIM();

        // Logged, once, with its exact text; nothing lost or doubled; the
        // SIM cleared; and nothing more at later polls.
        QCOMPARE(logFile(), log);
        QCOMPARE(int(m_pipeline->ReceivedSMSCount), records(log));
        QCOMPARE(StoredSlots(*m_sim), QList<int>{});
        m_pipeline->PollSIM();
        QCOMPARE(logFile(), log);
    }

    // Replies as other modems and phones write them, each found with the
    // port set to find the line on its own: every alarm logged once with
    // its header's caller and stamp and its exact text; status reports
    // deleted at once and stored messages left, each traced once.
    void everyReplyShapeRead_data()
    {
        QTest::addColumn<int>("line");
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QStringList>("deliveries");
        QTest::addColumn<QByteArray>("log");
        QTest::addColumn<QList<int>>("left");    // slots still holding a message
        QTest::addColumn<QString>("tracedOnce"); // a trace fragment seen once over two polls

        const QStringList senders{
            "slot=1 number=0912345601 name=\"\" time=24/05/01,08:00:01+32 text=\"National, "
            "no name\"",
            "slot=2 number=+85291110002 time=24/05/01,08:00:02-16 text=International",
            "slot=3 number=WaterCo time=24/05/01,08:00:03+32 text=\"Cut at 2\"",
            "slot=4 number=+85291110004 time=24/05/01,08:00:04+32 text=00410042"};
        const QByteArray sendersLog = "05/01/2024 08:00:01 [0912345601] National, no name\r\n"
                                      "05/01/2024 08:00:02 [+85291110002] International\r\n"
                                      "05/01/2024 08:00:03 [WaterCo] Cut at 2\r\n"
                                      "05/01/2024 08:00:04 [+85291110004] 00410042\r\n";
        const QList<QPair<const char *, QStringList>> spellings{
            {"short headers, AT+CSDH=1 refused", {"--headers", "refused"}},
            {"short headers all the same", {"--headers", "short"}},
            {"blanks after the commas", {"--spacing", "wide"}},
            {"no blank after the colon", {"--spacing", "tight"}},
            {"four-digit year, no zone", {"--stamps", "four-digit-year"}},
            {"a blank for the comma", {"--stamps", "blank"}},
            {"storage query without OK", {"--cpms-ok", "off"}},
            {"storage selection of one memory", {"--memories", "1"}},
            {"a modem that does not look past the probe", {"--prefix", "strict"}},
        };
        for (const auto &[name, args] : spellings) {
            NewRowOnBothLines(name, [&](QTestData &row) {
                row << args << senders << sendersLog << QList<int>{} << QString();
            });
        }

        const QStringList two{senders.at(1), senders.at(3)};
        const QByteArray twoLog = "05/01/2024 08:00:02 [+85291110002] International\r\n"
                                  "05/01/2024 08:00:04 [+85291110004] 00410042\r\n";
        for (const char *length : {"longer", "shorter"}) {
            NewRowOnBothLines(QStringLiteral("length field %1 than the body").arg(length),
                              [&](QTestData &row) {
                                  row << QStringList{"--lengths", length} << two << twoLog
                                      << QList<int>{} << QString();
                              });
        }
        NewRowOnBothLines("status report", [&](QTestData &row) {
            row << QStringList{}
                << QStringList{senders.at(1),
                               "slot=3 number=+85291110005 kind=report mr=12 st=0 "
                               "time=24/05/01,08:00:05+32 discharge=24/05/01,08:00:09+32",
                               senders.at(3)}
                << twoLog << QList<int>{} << QStringLiteral("message 12 to +85291110005");
        });
        NewRowOnBothLines("stored, never received", [&](QTestData &row) {
            row << QStringList{}
                << QStringList{senders.at(1), "slot=3 status=unsent number=+85291110006 text=draft",
                               senders.at(3), "slot=5 status=sent number=+85291110007 text=sent"}
                << twoLog << QList<int>{3, 5} << QStringLiteral("STO UNSENT to +85291110006");
        });
    }

    void everyReplyShapeRead()
    {
        QFETCH(int, line);
        QFETCH(QStringList, simArgs);
        QFETCH(QStringList, deliveries);
        QFETCH(QByteArray, log);
        QFETCH(QList<int>, left);
        QFETCH(QString, tracedOnce);

        QList<Delivery> store;
        for (const QString &d : deliveries)
            store.append({-1, d});
        prepare(store, simArgs, Line(line));
        G.DEVICE = QStringLiteral("auto");
        int traced = 0;
        const auto previous = SetTraceHandler([&](const QString &trace) {
            traced += !tracedOnce.isEmpty() && trace.contains(tracedOnce);
        });
        QVERIFY(m_pipeline->GoOnline());
        QCOMPARE(m_pipeline->Device()->IsPlainModem(), Line(line) == Line::PlainModem);
        m_pipeline->PollSIM();
        m_pipeline->PollSIM();
        SetTraceHandler(previous);
        QCOMPARE(logFile(), log);
        QCOMPARE(int(m_pipeline->ReceivedSMSCount), records(log));
        QCOMPARE(StoredSlots(*m_sim), left);
        QCOMPARE(traced, tracedOnce.isEmpty() ? 0 : 1);
    }

    void unreadableRecordedAtTheThirdPoll_data()
    {
        QTest::addColumn<int>("line");
        NewRowOnBothLines("header running past the user data", [](QTestData &) {});
    }
    void unreadableRecordedAtTheThirdPoll()
    {
        QFETCH(int, line);
        // A header whose element runs past it: the reply is whole, its
        // message cannot be read. The good messages around it do not wait.
        prepare({{1, "number=+85291110001 time=24/05/01,08:00:01+32 text=before"},
                 {2, "number=+85291110002 time=24/05/01,10:00:00+32 udh=03000501 text=ALARM"},
                 {3, "number=+85291110003 time=24/05/01,08:00:03+32 text=after"}},
                {}, Line(line));
        QVERIFY(m_pipeline->GoOnline());
        int attempts = 0;
        const auto previous = SetTraceHandler([&](const QString &trace) {
            attempts += trace.startsWith(QLatin1String("Could not parse CMGR response"));
        });
        const QByteArray good = "05/01/2024 08:00:01 [+85291110001] before\r\n"
                                "05/01/2024 08:00:03 [+85291110003] after\r\n";
        for (int poll = 1; poll <= 2; ++poll) {
            m_pipeline->PollSIM();
            QCOMPARE(logFile(), good);
            QCOMPARE(StoredSlots(*m_sim), QList<int>{2});
            QCOMPARE(attempts, poll); // one attempt per poll
        }
        m_pipeline->PollSIM();
        SetTraceHandler(previous);
        QCOMPARE(logFile(), good + "05/01/2024 10:00:00 [+85291110002] [unreadable] +CMGR: "
                                   "\"REC READ\",\"+85291110002\",,\"24/05/01,10:00:00+32\",145,68,"
                                   "0,0,\"+85290000000\",145,10\r\n 03000501083283D226\r\n");
        QCOMPARE(StoredSlots(*m_sim), QList<int>{});
        m_pipeline->PollSIM();
        QCOMPARE(records(logFile()), 3);
    }

    void missingPartLoggedAfterTheLimit_data()
    {
        QTest::addColumn<int>("line");
        NewRowOnBothLines("restart while waiting", [](QTestData &) {});
    }
    void missingPartLoggedAfterTheLimit()
    {
        QFETCH(int, line);
        // Message A lost its second part for good; B's second part comes a
        // little later. Both wait, also across a restart of the logger.
        const QString a = "number=+85291110021 time=24/05/01,11:00:00+32 "
                          "text=\"one two three four five six\" parts=3 ref=21 ";
        const QString b = "number=+85291110022 time=24/05/01,11:05:00+32 text=\"first second\" "
                          "parts=2 ref=22 ";
        prepare({{-1, a + "slots=4,-,6"}, {-1, b + "slots=8,-"}}, {}, Line(line));
        QVERIFY(m_pipeline->GoOnline());
        m_pipeline->PollSIM();
        QCOMPARE(logFile(), QByteArray());
        QCOMPARE(StoredSlots(*m_sim), (QList<int>{4, 6, 8}));

        restart();
        QVERIFY(m_pipeline->GoOnline());
        m_now = m_now.addSecs(300);
        quillet::test::Deliver(*m_sim, {-1, b + "slots=-,2"});
        m_pipeline->PollSIM();
        const QByteArray whole = "05/01/2024 11:05:00 [+85291110022] first second\r\n";
        QCOMPARE(logFile(), whole);
        QCOMPARE(StoredSlots(*m_sim), (QList<int>{4, 6}));

        // Ten minutes after A's first part was seen (before the restart).
        m_now = m_now.addSecs(299);
        m_pipeline->PollSIM();
        QCOMPARE(logFile(), whole);
        m_now = m_now.addSecs(1);
        m_pipeline->PollSIM();
        QCOMPARE(logFile(),
                 whole + "05/01/2024 11:00:00 [+85291110021] one two t[...] five six\r\n");
        QCOMPARE(StoredSlots(*m_sim), QList<int>{});
        m_pipeline->PollSIM();
        QCOMPARE(records(logFile()), 2);
    }

    void concatenatedWithDeleteOffLoggedOnce_data()
    {
        QTest::addColumn<int>("line");
        NewRowOnBothLines("polls and a restart", [](QTestData &) {});
    }
    void concatenatedWithDeleteOffLoggedOnce()
    {
        QFETCH(int, line);
        prepare({{-1, "number=+85291110041 time=24/05/01,08:00:01+32 text=\"left on the SIM\" "
                      "parts=2 ref=41 slots=5,3"}},
                {}, Line(line));
        G.IsDeleteSMS = false;
        QVERIFY(m_pipeline->GoOnline());
        const QByteArray once = "05/01/2024 08:00:01 [+85291110041] left on the SIM\r\n";
        m_pipeline->PollSIM();
        m_pipeline->PollSIM();
        restart();
        G.IsDeleteSMS = false;
        QVERIFY(m_pipeline->GoOnline());
        m_pipeline->PollSIM();
        QCOMPARE(logFile(), once);
        QCOMPARE(StoredSlots(*m_sim), (QList<int>{3, 5}));
        QCOMPARE(int(m_pipeline->ReceivedSMSCount), 1);
    }

    // A hundred first parts whose second parts never come wait for ten
    // minutes (a hundred messages stored and never received wait for good);
    // a plain alarm stored among them is logged by the next poll, which
    // reads its slot and not theirs. Their slots are read again at most once
    // a minute, a few at each poll.
    void waitingMessagesHoldNoAlarmUp_data()
    {
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("waiting"); // %1 its number, %2 its slot
        NewRowOnBothLines("a hundred first parts", [](QTestData &row) {
            row << QStringLiteral("number=+852912%1 time=24/05/01,07:00:00+32 text=\"part one of "
                                  "two\" parts=2 ref=%2 slots=%2,-");
        });
        NewRowOnBothLines("a hundred stored, never received", [](QTestData &row) {
            row << QStringLiteral("slot=%2 status=unsent number=+852912%1 text=draft");
        });
    }
    void waitingMessagesHoldNoAlarmUp()
    {
        QFETCH(int, line);
        QFETCH(QString, waiting);
        QList<Delivery> stored;
        for (int i = 0; i < 100; ++i)
            stored.append(
                {-1, waiting.arg(i, 3, 10, QLatin1Char('0')).arg(i < 50 ? i + 1 : i + 2)});
        prepare(stored, {"--capacity", "120"}, Line(line));
        G.HealthCheckSeconds = 0; // the poll's reads alone are counted
        QVERIFY(m_pipeline->GoOnline());
        m_pipeline->PollSIM();
        QCOMPARE(StoredSlots(*m_sim).size(), 100);
        auto commands = [this] { return m_sim->control("counts").section(u'=', 1).toInt(); };

        quillet::test::Deliver(*m_sim, {51, "number=+85291110051 time=24/05/01,08:00:51+32 "
                                            "text=\"Plain alarm\""});
        int before = commands();
        m_pipeline->PollSIM();
        const int alarmPoll = commands() - before;
        QCOMPARE(logFile(), QByteArray("05/01/2024 08:00:51 [+85291110051] Plain alarm\r\n"));
        QCOMPARE(StoredSlots(*m_sim).size(), 100);
        // The count (two commands), slot 0 (where a store may start), the
        // alarm's read and its delete.
        qInfo("AT commands in the poll after the alarm came: %d", alarmPoll);
        QCOMPARE(alarmPoll, 5);

        m_now = m_now.addSecs(60);
        int reread = 0;
        for (int poll = 0; poll < 100 && reread < 100; ++poll) {
            before = commands();
            m_pipeline->PollSIM();
            const int reads = commands() - before - 2;
            QVERIFY2(reads >= 1 && reads <= 10, qPrintable(QString::number(reads)));
            reread += reads;
        }
        QCOMPARE(reread, 100);
        QCOMPARE(records(logFile()), 1);

        // Opened again: one of them gave way to an alarm while the device
        // was away, the count the same. The first poll reads every slot.
        control(QStringLiteral("delete 1"));
        quillet::test::Deliver(*m_sim, {1, "number=+85291110001 time=24/05/01,08:00:01+32 "
                                           "text=\"While away\""});
        QVERIFY(m_pipeline->GoOnline());
        m_pipeline->PollSIM();
        QCOMPARE(records(logFile()), 2);
        QCOMPARE(StoredSlots(*m_sim).size(), 99);
    }

    void plainModemFoundOnItsOwn()
    {
        prepare({{3, "number=+85291110031 time=24/05/01,08:00:01+32 text=found"}}, {},
                Line::PlainModem);
        G.DEVICE = QStringLiteral("auto");
        QVERIFY(m_pipeline->GoOnline());
        QVERIFY(m_pipeline->Device()->IsPlainModem());
        m_pipeline->PollSIM();
        QCOMPARE(logFile(), QByteArray("05/01/2024 08:00:01 [+85291110031] found\r\n"));
        QCOMPARE(StoredSlots(*m_sim), QList<int>{});
    }
};

QTEST_MAIN(tst_ModemsE2E)
#include "tst_modems_e2e.moc"
