// Alarm processing: site lookup, zone identifiers, the record line and how
// the viewer's library reads it back, the append that must survive the viewer
// replacing the file or a failing disk, and the received store.

#include "alarms.h"
#include "boxrecorder.h"
#include "globals.h"
#include "logfile.h"
#include "pipeline.h"
#include "receivedstore.h"
#include "scratchmount.h"
#include "tamsin.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using quillet::test::ReadFileBytes;
using quillet::test::ScratchMount;
using namespace quillet;

namespace {

const QDateTime kStamp(QDate(2024, 3, 7), QTime(14, 5, 9));

} // namespace

class tst_Alarms : public QObject
{
    Q_OBJECT

private:
    quillet::test::TempWorkingFolder m_dir;
    std::unique_ptr<AlarmPipeline> m_pipeline; // what was recorded lives in memory only

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void init()
    {
        G = GlobalState{};
        QFile::remove(QStringLiteral("Quillet.log"));
        G.LogFilePath = QStringLiteral("Quillet.log");
        m_pipeline = std::make_unique<AlarmPipeline>();
    }

    void findSiteName_data()
    {
        QTest::addColumn<QString>("sender");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("site");
        QTest::newRow("last digits of international number") << "+886912345678" << true << "North";
        QTest::newRow("first match wins over a longer entry") << "0955551234" << true << "Short";
        QTest::newRow("entry longer than sender") << "78" << false << "";
        QTest::newRow("no match") << "0911000000" << false << "";
        QTest::newRow("case-sensitive") << "unit-ab" << false << "";
    }
    void findSiteName()
    {
        QFETCH(QString, sender);
        QFETCH(bool, found);
        QFETCH(QString, site);
        G.SitePhoneNumberCount = 4;
        G.SitePhoneNumberMap[0] = {QStringLiteral("5678"), QStringLiteral("North")};
        G.SitePhoneNumberMap[1] = {QStringLiteral("1234"), QStringLiteral("Short")};
        G.SitePhoneNumberMap[2] = {QStringLiteral("51234"), QStringLiteral("Hidden")};
        G.SitePhoneNumberMap[3] = {QStringLiteral("-AB"), QStringLiteral("Upper")};
        QString name = QStringLiteral("stale");
        QCOMPARE(FindSiteName(sender, name), found);
        QCOMPARE(name, site);
    }

    void stripZone_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("stripped");
        QTest::newRow("A3 and a space keeps the space") << "A3 Pump failure"
                                                        << " Pump failure";
        QTest::newRow("R64") << "R64Door"
                             << "Door";
        QTest::newRow("A65 is A6 then 5") << "A65 x"
                                          << "5 x";
        QTest::newRow("A12 before A1") << "A12 Tank"
                                       << " Tank";
        QTest::newRow("B1 unchanged") << "B1 x"
                                      << "B1 x";
        QTest::newRow("A0 unchanged") << "A0 x"
                                      << "A0 x";
        QTest::newRow("lower case unchanged") << "a3 x"
                                              << "a3 x";
        QTest::newRow("empty") << ""
                               << "";
    }
    void stripZone()
    {
        QFETCH(QString, text);
        QFETCH(QString, stripped);
        QCOMPARE(StripZoneIdentifier(text), stripped);
    }

    void recordLine_data()
    {
        QTest::addColumn<QString>("caller");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("plain")
            << "North Pump Station"
            << "A3 Pump failure"
            << QByteArray("03/07/2024 14:05:09 [North Pump Station] A3 Pump failure\r\n");
        QTest::newRow("Chinese, bracket in caller")
            << "東區]站"
            << "水位過高" << QByteArray("03/07/2024 14:05:09 [東區]站] 水位過高\r\n");
        // A text holding a line break and something that looks like a time
        // stamp must not read back as a record of its own.
        QTest::newRow("multi-line cannot forge a record")
            << "+3212"
            << "Pump\r\n01/01/2024 00:00:00 [Fake] x\nend"
            << QByteArray(
                   "03/07/2024 14:05:09 [+3212] Pump\r\n 01/01/2024 00:00:00 [Fake] x\n end\r\n");
        QTest::newRow("trailing break") << "x"
                                        << "a\r\n"
                                        << QByteArray("03/07/2024 14:05:09 [x] a\r\n\r\n");
        QTest::newRow("lone CR is text")
            << "x"
            << "a\rb" << QByteArray("03/07/2024 14:05:09 [x] a\rb\r\n");
        QTest::newRow("controls as symbols, TAB kept")
            << QString::fromUtf16(u"+32\n\0", 5) << QString::fromUtf16(u"a\0b\x07\tc\x1b\x1f", 8)
            << QByteArray("03/07/2024 14:05:09 [+32\xe2\x90\x8a\xe2\x90\x80] "
                          "a\xe2\x90\x80"
                          "b\xe2\x90\x87\tc\xe2\x90\x9b\xe2\x90\x9f\r\n");
    }
    void recordLine()
    {
        QFETCH(QString, caller);
        QFETCH(QString, message);
        QFETCH(QByteArray, line);
        QCOMPARE(FormatAlarmRecord(kStamp, caller, message), line);
    }

    // What the viewer shows is what the library reads back: each text must
    // come back exactly (controls as their symbols), and no text may make the
    // file unreadable or split its record.
    void textsReadBackThroughTheLibrary_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("readBack");
        QTest::newRow("lone CR") << "a\rb"
                                 << "a\rb";
        QTest::newRow("CR before a stamp-like text") << "a\r01/01/2024 00:00:00 [x] y"
                                                     << "a\r01/01/2024 00:00:00 [x] y";
        QTest::newRow("CR at the end") << "a\r"
                                       << "a\r";
        QTest::newRow("CR CR LF") << "a\r\r\nb"
                                  << "a\r\r\nb";
        QTest::newRow("CR LF lines") << "a\r\n b\r\nc"
                                     << "a\r\n b\r\nc";
        QTest::newRow("NUL and BEL")
            << QString::fromUtf16(u"a\0b\x07", 4) << QStringLiteral("a\u2400b\u2407");
    }
    void textsReadBackThroughTheLibrary()
    {
        QFETCH(QString, message);
        QFETCH(QString, readBack);
        QVERIFY(m_pipeline->Log().WriteAlarmRecord(kStamp, QStringLiteral("a"), message));
        QVERIFY(m_pipeline->Log().WriteAlarmRecord(kStamp.addSecs(1), QStringLiteral("b"),
                                                   QStringLiteral("next")));
        QCOMPARE(LogOpen("Quillet.log"), 2);
        QCOMPARE(LogSelect(nullptr, nullptr), 2);
        const char *text = nullptr;
        const char *group = nullptr;
        QCOMPARE(LogGetRecord(0, nullptr, &group, nullptr, &text, nullptr, nullptr), 1);
        QCOMPARE(QString::fromUtf8(text), readBack);
        QCOMPARE(LogGetRecord(1, nullptr, &group, nullptr, &text, nullptr, nullptr), 1);
        QCOMPARE(QByteArray(group), QByteArray("b"));
        QCOMPARE(QByteArray(text), QByteArray("next"));
        LogClose();
    }

    void processAlarm_data()
    {
        QTest::addColumn<bool>("mapOn");
        QTest::addColumn<bool>("giveUp");
        QTest::addColumn<bool>("stripZone");
        QTest::addColumn<QString>("sender");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QByteArray>("log");
        QTest::newRow("map on, known")
            << true << false << false << "+886900005678" << int(AlarmOutcome::Recorded)
            << QByteArray("03/07/2024 14:05:09 [North] A3 Pump\r\n");
        QTest::newRow("map on, unknown, give-up off")
            << true << false << false << "0911" << int(AlarmOutcome::Recorded)
            << QByteArray("03/07/2024 14:05:09 [0911] A3 Pump\r\n");
        QTest::newRow("map on, unknown, give-up on")
            << true << true << false << "0911" << int(AlarmOutcome::Dropped) << QByteArray();
        QTest::newRow("map off ignores entries")
            << false << true << false << "+886900005678" << int(AlarmOutcome::Recorded)
            << QByteArray("03/07/2024 14:05:09 [+886900005678] A3 Pump\r\n");
        QTest::newRow("zone stripped")
            << true << false << true << "5678" << int(AlarmOutcome::Recorded)
            << QByteArray("03/07/2024 14:05:09 [North]  Pump\r\n");
    }
    void processAlarm()
    {
        QFETCH(bool, mapOn);
        QFETCH(bool, giveUp);
        QFETCH(bool, stripZone);
        QFETCH(QString, sender);
        QFETCH(int, outcome);
        QFETCH(QByteArray, log);
        G.EnableSitePhoneNumberMap = mapOn;
        G.IsGiveUpUnknownSitePhoneNumberSMS = giveUp;
        G.IsIgnoreZoneIdentifier = stripZone;
        G.SitePhoneNumberCount = 1;
        G.SitePhoneNumberMap[0] = {QStringLiteral("5678"), QStringLiteral("North")};
        const QString text = QStringLiteral("A3 Pump");
        QCOMPARE(int(m_pipeline->ProcessAlarmSMS(ReceivedStore::Key(1, kStamp, sender, text),
                                                 kStamp, sender, text)),
                 outcome);
        QCOMPARE(ReadFileBytes(QStringLiteral("Quillet.log")), log);
    }

    // A record the logger makes of its own takes the alarm's road with the
    // caller it names: no site map lookup, so give-up cannot drop it.
    void ownRecordKeepsItsCaller()
    {
        G.EnableSitePhoneNumberMap = true;
        G.IsGiveUpUnknownSitePhoneNumberSMS = true;
        const QString text = QStringLiteral("NETWORK LOST");
        const QString key = ReceivedStore::Key(-1, kStamp, QStringLiteral("Quillet"), text);
        QCOMPARE(m_pipeline->RecordAlarm(key, kStamp, QStringLiteral("Quillet"), text,
                                         QStringLiteral("Quillet")),
                 AlarmOutcome::Recorded);
        QCOMPARE(m_pipeline->RecordAlarm(key, kStamp, QStringLiteral("Quillet"), text,
                                         QStringLiteral("Quillet")),
                 AlarmOutcome::Known);
        QCOMPARE(ReadFileBytes(QStringLiteral("Quillet.log")),
                 QByteArray("03/07/2024 14:05:09 [Quillet] NETWORK LOST\r\n"));
    }

    void unwritableLogFails()
    {
        // Root writes into any folder, but not into a read-only file system.
        ScratchMount readOnly;
        const QString folder = readOnly.readOnlyFolder(QStringLiteral("ro"));
        QVERIFY2(!folder.isEmpty(), qPrintable(readOnly.error()));
        G.LogFilePath = folder + QStringLiteral("/sub/q.log");
        quillet::test::BoxRecorder boxes;
        QSignalSpy shown(m_pipeline.get(), &AlarmPipeline::messageShown);
        // One message after the other in slot 1, each read at two polls and
        // then gone from the SIM: each is shown once, and what is remembered
        // of them goes with the slot instead of piling up.
        constexpr int injected = 50;
        int failed = 0;
        qsizetype mostAlerted = 0;
        for (int n = 0; n < injected; ++n) {
            const QString text = QStringLiteral("x%1").arg(n);
            const QString key = ReceivedStore::Key(1, kStamp, QStringLiteral("1"), text);
            for (int poll = 0; poll < 2; ++poll) {
                failed += m_pipeline->ProcessAlarmSMS(key, kStamp, QStringLiteral("1"), text) ==
                          AlarmOutcome::Failed;
                m_pipeline->Received().slotHolds(1, key);
                QVERIFY(!m_pipeline->Received().contains(key));
                mostAlerted = qMax(mostAlerted, m_pipeline->Received().alertedCount());
            }
        }
        m_pipeline->Received().slotHolds(1); // read empty at last
        QFile::setPermissions(QStringLiteral("ro"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qInfo("%d messages, %d records failed, %lld shown, at most %lld remembered as shown",
              injected, failed, qlonglong(shown.count()), qlonglong(mostAlerted));
        QCOMPARE(failed, 2 * injected);
        QCOMPARE(shown.count(), injected);
        QCOMPARE(mostAlerted, qsizetype(1));
        QCOMPARE(m_pipeline->Received().alertedCount(), qsizetype(0));
        QCOMPARE(boxes.count(), 0);
    }

    void vanishedLogIsRecreated()
    {
        QVERIFY(
            m_pipeline->Log().WriteAlarmRecord(kStamp, QStringLiteral("a"), QStringLiteral("1")));
        QVERIFY(QFile::remove(QStringLiteral("Quillet.log")));
        // The path did not change, so the check is skipped and the append
        // fails; the next record goes through the full check again.
        QVERIFY(
            !m_pipeline->Log().WriteAlarmRecord(kStamp, QStringLiteral("a"), QStringLiteral("2")));
        QVERIFY(
            m_pipeline->Log().WriteAlarmRecord(kStamp, QStringLiteral("a"), QStringLiteral("3")));
        QCOMPARE(ReadFileBytes(QStringLiteral("Quillet.log")),
                 QByteArray("03/07/2024 14:05:09 [a] 3\r\n"));
    }

    void appendFollowsAReplacedFile()
    {
        // A "viewer" holds the lock, renames a rewritten copy over the log,
        // and only then lets go: the record must land in the new file.
        const QString path = QStringLiteral("swap.log");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("old\r\n");
        }
        const int viewerFd = ::open(QFile::encodeName(path).constData(), O_RDWR);
        QVERIFY(viewerFd >= 0);
        QCOMPARE(::flock(viewerFd, LOCK_EX), 0);

        bool appended = false;
        std::thread logger([&] { appended = m_pipeline->Log().AppendLocked(path, "record\r\n"); });
        ::usleep(100 * 1000);
        {
            QFile f(QStringLiteral("swap.tmp"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("kept\r\n");
        }
        QCOMPARE(::rename("swap.tmp", "swap.log"), 0);
        ::flock(viewerFd, LOCK_UN);
        ::close(viewerFd);
        logger.join();
        QVERIFY(appended);
        QCOMPARE(ReadFileBytes(path), QByteArray("kept\r\nrecord\r\n"));
    }

    // The place an append notes for crash recovery, and what recovery makes
    // of it: the same file holds the record there or not at all; a file the
    // viewer rewrote is searched.
    void appendNotesItsPlace()
    {
        const QString path = QStringLiteral("place.log");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("written by something else"); // no line end
        }
        LogPlace place;
        QVERIFY(
            m_pipeline->Log().AppendLocked(path, "rec\r\n", [&](const LogPlace &p) { place = p; }));
        QCOMPARE(ReadFileBytes(path), QByteArray("written by something else\r\nrec\r\n"));
        QCOMPARE(place.offset, qint64(27));
        QVERIFY(LogHoldsRecord(path, place, "rec\r\n"));
        QVERIFY(!LogHoldsRecord(path, place, "other\r\n"));
        LogPlace later = place;
        later.offset += 5; // where the append after a cut-back record would have gone
        QVERIFY(!LogHoldsRecord(path, later, "rec\r\n"));

        QVERIFY(QFile::rename(path, QStringLiteral("old.log")));
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("a\r\nxrec\r\n");
        }
        QVERIFY(!LogHoldsRecord(path, place, "rec\r\n")); // only inside another line
        QVERIFY(m_pipeline->Log().AppendLocked(path, "rec\r\n"));
        QVERIFY(LogHoldsRecord(path, place, "rec\r\n"));
    }

    // A power cut in the middle of a record's write can leave part of it (or
    // blocks of zeros) at the end of the log. Its retry, which knows where the
    // record went, cuts exactly that away; bytes that are not the record's own
    // are never cut.
    void retryCutsItsTornRecord_data()
    {
        QTest::addColumn<QByteArray>("tail");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray old = "12/08/2026 10:00:00 [a] old\r\n";
        const QByteArray rec = "12/08/2026 10:00:05 [b] new\r\n";
        QTest::newRow("part of the record") << rec.left(14) << old + rec;
        QTest::newRow("zeros") << QByteArray(9, '\0') << old + rec;
        QTest::newRow("part, then zeros") << rec.left(5) + QByteArray(4, '\0') << old + rec;
        QTest::newRow("something else after it")
            << rec.left(5) + "x" << old + rec.left(5) + "x\r\n" + rec;
        QTest::newRow("nothing torn") << QByteArray() << old + rec;
    }

    void retryCutsItsTornRecord()
    {
        QFETCH(QByteArray, tail);
        const QByteArray old = "12/08/2026 10:00:00 [a] old\r\n";
        const QByteArray rec = "12/08/2026 10:00:05 [b] new\r\n";
        const QString path = QStringLiteral("torn.log");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(old + tail);
        }
        struct stat st
        {
        };
        QVERIFY(::stat(QFile::encodeName(path).constData(), &st) == 0);
        const LogPlace torn{quint64(st.st_dev), quint64(st.st_ino), qint64(old.size())};
        QVERIFY(!LogHoldsRecord(path, torn, rec));
        QVERIFY(m_pipeline->Log().AppendLocked(path, rec, {}, &torn));
        QTEST(ReadFileBytes(path), "expected");
    }

    void receivedStoreSurvivesRestart()
    {
        using State = ReceivedStore::State;
        const QString file = m_dir.filePath(QStringLiteral("Quillet.rcv"));
        auto key = [](qint16 slot, const QString &text) {
            return ReceivedStore::Key(slot, kStamp, QStringLiteral("+3212"), text);
        };
        const QString recorded = key(3, QStringLiteral("tab\there\nand \"quotes\""));
        const QString pending = key(4, QStringLiteral("y"));
        const QString logged = key(5, QStringLiteral("z"));
        const QString gone = key(5, QStringLiteral("older"));
        {
            // A file of the earlier layout: one key per line, each recorded.
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(recorded.toLatin1() + "\n" + gone.toLatin1() + "\n");
        }
        {
            ReceivedStore store;
            store.load(file);
            QCOMPARE(store.entry(recorded).state, State::Recorded);
            QVERIFY(store.beginRecord(pending, {7, 8, 1234}, 41));
            store.markLogged(logged, 40);
            store.slotHolds(5, logged);
            QVERIFY(store.flush());
        }
        ReceivedStore again;
        again.load(file);
        QCOMPARE(again.size(), 3);
        QCOMPARE(again.entry(recorded).state, State::Recorded);
        const ReceivedStore::Entry p = again.entry(pending);
        QCOMPARE(p.state, State::Pending);
        QCOMPARE(p.place.device, quint64(7));
        QCOMPARE(p.place.inode, quint64(8));
        QCOMPARE(p.place.offset, qint64(1234));
        QCOMPARE(p.rowsBefore, qint64(41));
        QCOMPARE(again.entry(logged).state, State::Logged);
        QCOMPARE(again.entry(logged).rowsBefore, qint64(40));
        QVERIFY(!again.contains(gone));

        // Slot 4 read empty, slot 3 read with another message in it.
        again.slotHolds(4);
        again.slotHolds(3, key(3, QStringLiteral("new")));
        QVERIFY(again.flush());
        ReceivedStore third;
        third.load(file);
        QCOMPARE(third.size(), 1);
        QVERIFY(third.contains(logged));
    }
};

QTEST_GUILESS_MAIN(tst_Alarms)
#include "tst_alarms.moc"
