// DDE forwarding over a private session bus started by the test: the map
// lookup, the bus name, the two pokes and their texts as the receiver tool
// prints them, and the failures that must not cost the log line or the row.

#include "alarms.h"
#include "dde.h"
#include "globals.h"
#include "outputrig.h"
#include "pipeline.h"
#include "receivedstore.h"
#include "testfiles.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

using quillet::test::ReadFileBytes;
using namespace quillet;
using quillet::test::PrivateSessionBus;
using Receiver = quillet::test::ReceiverProcess;

namespace {

const QString kBin = QStringLiteral(QUILLET_BIN_DIR);
const QDateTime kStamp(QDate(2024, 3, 7), QTime(14, 5, 9));

int rowCount(const QString &file)
{
    int count = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("n"));
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery q(QStringLiteral("SELECT COUNT(*) FROM Tarrow"), db);
            if (q.next())
                count = q.value(0).toInt();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("n"));
    return count;
}

// Map rows written as "prefix=item".
void setMap(const QStringList &entries)
{
    G.DDEMapCount = 0;
    for (const QString &e : entries) {
        const qsizetype eq = e.indexOf(QLatin1Char('='));
        G.DDEMap[G.DDEMapCount++] = {e.left(eq), e.mid(eq + 1), 1.0};
    }
}

} // namespace

class tst_DDE : public QObject
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
    void init()
    {
        G = GlobalState{};
        G.LogFilePath = QStringLiteral("Quillet.log");
        G.SystemFile = kBin + QStringLiteral("/Quillet.sys");
        G.IsUseDDE = true;
        G.APPLICATION = QStringLiteral("Display");
        G.TOPIC = QStringLiteral("Alarms");
        QFile::remove(QStringLiteral("Quillet.log"));
    }
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void findEntry_data()
    {
        QTest::addColumn<QStringList>("map");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("item"); // empty: no entry
        QTest::newRow("A1 before A12 takes A12")
            << QStringList{"A1=Zone1", "A12=Zone12"} << "A12 Tank"
            << "Zone1";
        QTest::newRow("A12 before A1") << QStringList{"A12=Zone12", "A1=Zone1"} << "A12 Tank"
                                       << "Zone12";
        QTest::newRow("first of equal prefixes") << QStringList{"A3=First", "A3=Second"} << "A3 x"
                                                 << "First";
        QTest::newRow("case-sensitive") << QStringList{"A3=Zone3"} << "a3 x"
                                        << "";
        QTest::newRow("prefix longer than text") << QStringList{"A12=Zone12"} << "A1"
                                                 << "";
        QTest::newRow("empty prefix matches anything") << QStringList{"=All"} << "B7 door"
                                                       << "All";
        QTest::newRow("empty prefix matches empty text") << QStringList{"=All"} << ""
                                                         << "All";
        QTest::newRow("specific entry before the catch-all")
            << QStringList{"A3=Zone3", "=All"} << "A3 x"
            << "Zone3";
        QTest::newRow("catch-all after a miss") << QStringList{"A3=Zone3", "=All"} << "R3 x"
                                                << "All";
        QTest::newRow("no entries") << QStringList{} << "A3"
                                    << "";
    }
    void findEntry()
    {
        QFETCH(QStringList, map);
        QFETCH(QString, text);
        QFETCH(QString, item);
        setMap(map);
        DDEEntry entry{QStringLiteral("stale"), QStringLiteral("stale"), 9};
        QCOMPARE(FindDDEMap(text, entry), !item.isEmpty());
        if (!item.isEmpty())
            QCOMPARE(entry.DDEItem, item);
    }

    void busName_data()
    {
        QTest::addColumn<QString>("application");
        QTest::addColumn<QString>("busName");
        QTest::newRow("valid name used as it is") << "com.example.Display"
                                                  << "com.example.Display";
        QTest::newRow("hyphen is valid") << "com.example.my-display"
                                         << "com.example.my-display";
        QTest::newRow("single word") << "Display"
                                     << "org.quillet.DDE.Display";
        QTest::newRow("blanks and signs") << "My Display-1.0"
                                          << "org.quillet.DDE.My_Display_1_0";
        QTest::newRow("Chinese, one _ per character") << "顯示器"
                                                      << "org.quillet.DDE.___";
        QTest::newRow("empty element") << "a..b"
                                       << "org.quillet.DDE.a__b";
        QTest::newRow("element with leading digit") << "com.3d.view"
                                                    << "org.quillet.DDE.com_3d_view";
        QTest::newRow("leading digit gets a _") << "3D"
                                                << "org.quillet.DDE._3D";
        QTest::newRow("empty") << ""
                               << "org.quillet.DDE._";
        QTest::newRow("unique-name form") << ":1.42"
                                          << "org.quillet.DDE._1_42";
    }
    void busName()
    {
        QFETCH(QString, application);
        QFETCH(QString, busName);
        QCOMPARE(DDEBusName(application), busName);
        QVERIFY(IsValidDDEBusName(busName));
    }

    void dateTimeText_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("text");
        QTest::newRow("C") << QLocale::c() << "7 Mar 2024 14:05:09";
        QTest::newRow("en_US") << QLocale(QLocale::English, QLocale::UnitedStates)
                               << "3/7/24 2:05:09 PM";
        QTest::newRow("de_DE") << QLocale(QLocale::German, QLocale::Germany) << "07.03.24 14:05:09";
        QTest::newRow("zh_TW") << QLocale(QLocale::Chinese, QLocale::Taiwan)
                               << "2024/3/7 下午2:05:09";
    }
    void dateTimeText()
    {
        QFETCH(QLocale, locale);
        QFETCH(QString, text);
        QLocale::setDefault(locale);
        QCOMPARE(DDEDateTimeText(kStamp), text);
    }

    void bothPokesArriveInOrder()
    {
        Receiver receiver({QStringLiteral("--application"), G.APPLICATION});
        QVERIFY(receiver.waitUntilListening());
        // A comma locale must not change the value text.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        G.IsIgnoreZoneIdentifier = true;
        G.EnableSitePhoneNumberMap = true;
        G.SitePhoneNumberCount = 1;
        G.SitePhoneNumberMap[0] = {QStringLiteral("5678"), QStringLiteral("North")};
        G.DDEMapCount = 2;
        G.DDEMap[0] = {QStringLiteral("A1"), QStringLiteral("Zone1"), 1};
        G.DDEMap[1] = {QStringLiteral("A3"), QStringLiteral("Zone3"), 2.5};

        const QString text = QStringLiteral("A3 Pump\tfailure\r\nline 2");
        const QString sender = QStringLiteral("+886912345678");
        QCOMPARE(AlarmPipeline().ProcessAlarmSMS(ReceivedStore::Key(1, kStamp, sender, text),
                                                 kStamp, sender, text),
                 AlarmOutcome::Recorded);
        const QStringList expected{
            "Display|Alarms\tZone3\t2.5",
            "Display|Alarms\tZone3.Message\t07.03.24 14:05:09 North  Pump\\tfailure\\r\\nline 2"};
        QTRY_COMPARE_WITH_TIMEOUT(receiver.lines(), expected, 10000);
        QCOMPARE(ReadFileBytes(QStringLiteral("Quillet.log")),
                 QByteArray("03/07/2024 14:05:09 [North]  Pump\tfailure\r\n line 2\r\n"));
    }

    void pokeTargetsTheConfiguredBusNameAndTopic()
    {
        G.APPLICATION = QStringLiteral("com.example.Board");
        G.TOPIC = QStringLiteral("Hall 2|East");
        Receiver receiver({QStringLiteral("com.example.Board")});
        QVERIFY(receiver.waitUntilListening());
        QVERIFY(PokeDDE({QString(), QStringLiteral("Lamp"), 0}, QStringLiteral("t")));
        QTRY_COMPARE_WITH_TIMEOUT(receiver.lines(),
                                  (QStringList{"com.example.Board|Hall 2|East\tLamp\t0",
                                               "com.example.Board|Hall 2|East\tLamp.Message\tt"}),
                                  10000);
    }

    void receiverAbsentKeepsLogAndRow()
    {
        G.IsSaveAsMDB = true;
        G.MDBFilePath = QStringLiteral("absent.mdb");
        setMap({QStringLiteral("=All")});
        const QString text = QStringLiteral("A5 Door");
        QCOMPARE(AlarmPipeline().ProcessAlarmSMS(
                     ReceivedStore::Key(1, kStamp, QStringLiteral("0911"), text), kStamp,
                     QStringLiteral("0911"), text),
                 AlarmOutcome::Recorded);
        QVERIFY(!ForwardAlarmToDDE(QStringLiteral("A5 Door"), kStamp, QStringLiteral("0911"),
                                   QStringLiteral("A5 Door")));
        QCOMPARE(ReadFileBytes(QStringLiteral("Quillet.log")),
                 QByteArray("03/07/2024 14:05:09 [0911] A5 Door\r\n"));
        QCOMPARE(rowCount(QStringLiteral("absent.mdb")), 1);
    }

    void failedFirstPokeSkipsTheSecond_data()
    {
        QTest::addColumn<bool>("refuse"); // answers false, or does not answer at all
        QTest::newRow("receiver answers false") << true;
        QTest::newRow("receiver hangs") << false;
    }
    void failedFirstPokeSkipsTheSecond()
    {
        QFETCH(bool, refuse);
        QStringList args{QStringLiteral("--application"), G.APPLICATION};
        if (refuse)
            args << QStringLiteral("--answer-false");
        Receiver receiver(args);
        QVERIFY(receiver.waitUntilListening());
        if (!refuse)
            ::kill(pid_t(receiver.process().processId()), SIGSTOP);
        setMap({QStringLiteral("A=Zone")});
        QVERIFY(!ForwardAlarmToDDE(QStringLiteral("A1"), kStamp, QStringLiteral("c"),
                                   QStringLiteral("m")));
        if (!refuse)
            ::kill(pid_t(receiver.process().processId()), SIGCONT);

        // A marker poke sent after the failure: what the receiver printed
        // before it is everything the logger sent.
        QDBusMessage marker = QDBusMessage::createMethodCall(
            DDEBusName(G.APPLICATION), kDDEObjectPath, kDDEInterface, kDDEMethod);
        marker << QStringLiteral("marker") << QString() << QString();
        QDBusConnection::sessionBus().call(marker, QDBus::Block, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(receiver.lines().contains(QStringLiteral("marker\t\t")), 10000);
        QCOMPARE(receiver.lines(),
                 (QStringList{"Display|Alarms\tZone\t1", QStringLiteral("marker\t\t")}));
    }

    void receiverRefusesATakenName()
    {
        Receiver first({QStringLiteral("org.example.Taken")});
        QVERIFY(first.waitUntilListening());
        QProcess second;
        second.start(kBin + QStringLiteral("/quillet-ddereceiver"),
                     {QStringLiteral("org.example.Taken")});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 1);
        QVERIFY(second.readAllStandardError().contains("another owner"));
    }
};

QTEST_GUILESS_MAIN(tst_DDE)
#include "tst_dde.moc"
