// Settings file reader and writer: lookup rules, defaults, numbered entries,
// round trip, and files that are not what they should be.

#include "boxrecorder.h"
#include "centralsender.h"
#include "globals.h"
#include "settings.h"
#include "testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace quillet;

class tst_Settings : public QObject
{
    Q_OBJECT

private:
    quillet::test::TempWorkingFolder m_dir;

    void writeSettings(const QByteArray &bytes)
    {
        QFile f(G.SettingFile);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void init()
    {
        G = GlobalState{};
        QFile::remove(G.SettingFile);
    }

    void lookup_data()
    {
        QTest::addColumn<QString>("content");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");

        QTest::newRow("lower-case key and header, spaces round =")
            << "[basic]\r\nlogfilepath  =  D:/Logs/A.log \r\n"
            << "BASIC"
            << "LogFilePath"
            << "D:/Logs/A.log";
        QTest::newRow("header with blanks inside brackets") << "[ Comm ]\r\nCOMPORT=COM3\r\n"
                                                            << "COMM"
                                                            << "comport"
                                                            << "COM3";
        QTest::newRow("first match wins") << "[COMM]\r\nCOMPORT=COM2\r\nCOMPORT=COM5\r\n"
                                          << "COMM"
                                          << "COMPORT"
                                          << "COM2";
        QTest::newRow("line before first header never matches") << "COMPORT=COM7\r\n[COMM]\r\n"
                                                                << "COMM"
                                                                << "COMPORT"
                                                                << "<default>";
        QTest::newRow("key in another section") << "[BASIC]\r\nCOMPORT=COM7\r\n"
                                                << "COMM"
                                                << "COMPORT"
                                                << "<default>";
        QTest::newRow("present but empty value is empty, not default") << "[COMM]\r\nCOMPORT=\r\n"
                                                                       << "COMM"
                                                                       << "COMPORT"
                                                                       << "";
        QTest::newRow("one-character key is ignored") << "[X]\r\nA=1\r\n"
                                                      << "X"
                                                      << "A"
                                                      << "<default>";
        QTest::newRow("two-character key is read") << "[X]\r\nAB=1\r\n"
                                                   << "X"
                                                   << "AB"
                                                   << "1";
        QTest::newRow("bracketed value does not switch the section")
            << "[SitePhoneNumberMAP]\r\nSitePhoneNumberMAP1=5678,Pump [North]\r\n"
               "SitePhoneNumberMAP2=9,Dam\r\n"
            << "SitePhoneNumberMAP"
            << "SitePhoneNumberMap2"
            << "9,Dam";
        QTest::newRow("bracketed folder in a path value")
            << "[BASIC]\r\nLogFilePath=/srv/[site]/q.log\r\n"
            << "BASIC"
            << "LogFilePath"
            << "/srv/[site]/q.log";
        QTest::newRow("LF-only line ends") << "[BASIC]\nIsDeleteSMS=1\n[COMM]\nCOMPORT=COM4\n"
                                           << "COMM"
                                           << "COMPORT"
                                           << "COM4";
        QTest::newRow("CR-only line ends") << "[COMM]\rCOMPORT=COM6\r"
                                           << "COMM"
                                           << "COMPORT"
                                           << "COM6";
        QTest::newRow("value keeps inner = and case") << "[DDEMAP]\r\nTOPIC=a=B\r\n"
                                                      << "DDEMAP"
                                                      << "TOPIC"
                                                      << "a=B";
    }
    void lookup()
    {
        QFETCH(QString, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        QCOMPARE(GetIniValue(section, key, QStringLiteral("<default>"), content), expected);
    }

    void textToArrayCountsEmptyLines()
    {
        QStringList lines;
        QCOMPARE(TextToArray(QStringLiteral("a\r\n\r\n b \r\n\r\n"), lines), 3);
        QCOMPARE(lines.at(0), QStringLiteral("a"));
        QVERIFY(lines.at(1).isEmpty());
        QCOMPARE(lines.at(2), QStringLiteral("b"));
        QCOMPARE(TextToArray(QStringLiteral("   \r\n"), lines), 0);
    }

    void leadingNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << "1" << 1;
        QTest::newRow("digits then letters") << "1abc" << 1;
        QTest::newRow("no digits") << "yes" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("two") << "2" << 2;
        QTest::newRow("fraction rounds") << "0.7" << 1;
        QTest::newRow("huge clamps") << "999999" << 32767;
        QTest::newRow("negative") << "-1" << -1;
    }
    void leadingNumber()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(int(LeadingNumber(text)), value);
    }

    void defaultsForMissingAndEmpty()
    {
        writeSettings("[BASIC]\r\nLogFilePath=\r\nIsUseSoundAlert=0\r\nSoundFilePath=x.wav\r\n"
                      "[COMM]\r\nCOMPORT=\r\nBAUDRATE= \r\n[SUPERVISION]\r\n"
                      "HealthCheckSeconds=-1\r\nWeakSignalDbm=weak\r\nSiteSilent1=5678\r\n"
                      "SiteSilent2=1234,2\r\n");
        QVERIFY(LoadSettings());
        // Out of range or no number: the default; a site entry without its
        // hours is passed by, not the ones after it.
        QCOMPARE(G.HealthCheckSeconds, 60.0);
        QCOMPARE(G.WeakSignalDbm, -107);
        QCOMPARE(G.SiteSilent.size(), 1);
        QCOMPARE(G.SiteSilent[0].PhoneNo, QStringLiteral("1234"));
        QCOMPARE(G.LogFilePath, QStringLiteral("Quillet.log"));
        QCOMPARE(G.COMPORT, QStringLiteral("COM1"));
        QCOMPARE(G.BAUDRATE, QStringLiteral("9600"));
        QCOMPARE(G.DATABIT, QStringLiteral("8"));
        QCOMPARE(G.PARITYBIT, QStringLiteral("None"));
        QCOMPARE(G.STOPBIT, QStringLiteral("1"));
        QCOMPARE(G.SoundFilePath, QStringLiteral("Notify.wav")); // not read while off
        QVERIFY(G.APPLICATION.isEmpty());
        QVERIFY(!G.IsSaveAsMDB);
        QVERIFY(!G.EnableSitePhoneNumberMap);
        QVERIFY(QFile::exists(QStringLiteral("Quillet.log")));
    }

    void flagsOnlyWhereTheyApply()
    {
        // The map and DDE switches are on only for exactly 1; give-up only
        // counts while the map is on.
        writeSettings("[SitePhoneNumberMAP]\r\nEnableSitePhoneNumberMap=2\r\n"
                      "IsGiveUpUnknownSitePhoneNumberSMS=1\r\n[DDEMAP]\r\nIsUseDDE=2\r\n"
                      "[BASIC]\r\nIsDeleteSMS=2\r\n");
        QVERIFY(LoadSettings());
        QVERIFY(!G.EnableSitePhoneNumberMap);
        QVERIFY(!G.IsGiveUpUnknownSitePhoneNumberSMS);
        QVERIFY(!G.IsUseDDE);
        QVERIFY(G.IsDeleteSMS);
    }

    void numberedEntries()
    {
        writeSettings("[SitePhoneNumberMAP]\r\nEnableSitePhoneNumberMap=1\r\n"
                      "SitePhoneNumberMap1=5678,North Pump\r\n"
                      "SitePhoneNumberMap2=999\r\n"
                      "SitePhoneNumberMap3=,Everybody\r\n"
                      "SitePhoneNumberMap4=1234,Pump, West [B]\r\n"
                      "SitePhoneNumberMap6=4444,After the gap\r\n"
                      "[DDEMAP]\r\nIsUseDDE=1\r\nAPPLICATION=Display\r\nTOPIC=Alarms\r\n"
                      "DDEMap1=A1,Zone1,1\r\n"
                      "DDEMap2=A2,Zone2\r\n"
                      "DDEMap3=A3,Zone3,2.5\r\n"
                      "DDEMap4=A4,Zone4,lots\r\n"
                      "DDEMap5=A5,Zone5,-3\r\n");
        QVERIFY(LoadSettings());
        QCOMPARE(int(G.SitePhoneNumberCount), 3);
        QCOMPARE(G.SitePhoneNumberMap[0].PhoneNo, QStringLiteral("5678"));
        QCOMPARE(G.SitePhoneNumberMap[0].SiteName, QStringLiteral("North Pump"));
        QCOMPARE(G.SitePhoneNumberMap[1].PhoneNo, QStringLiteral("999"));
        QVERIFY(G.SitePhoneNumberMap[1].SiteName.isEmpty());
        QCOMPARE(G.SitePhoneNumberMap[2].PhoneNo, QStringLiteral("1234"));
        QCOMPARE(G.SitePhoneNumberMap[2].SiteName, QStringLiteral("Pump, West [B]"));

        QCOMPARE(int(G.DDEMapCount), 3);
        QCOMPARE(G.DDEMap[0].DDEItem, QStringLiteral("Zone1"));
        QCOMPARE(G.DDEMap[1].MessagePrefix, QStringLiteral("A3"));
        QCOMPARE(G.DDEMap[1].DDEValue, 2.5);
        QCOMPARE(G.DDEMap[2].DDEValue, -3.0);
        QCOMPARE(G.APPLICATION, QStringLiteral("Display"));
    }

    void roundTrip()
    {
        G.LogFilePath = QStringLiteral("Logs/[site]/alarm.log");
        G.IsSaveAsMDB = true;
        G.MDBFilePath = QStringLiteral("Logs/alarm.mdb");
        G.IsDeleteSMS = true;
        G.IsUseSoundAlert = true;
        G.SoundFilePath = QStringLiteral("sounds/my alert.wav");
        G.IsIgnoreZoneIdentifier = true;
        G.COMPORT = QStringLiteral("/dev/ttyUSB0");
        G.BAUDRATE = QStringLiteral("19200");
        G.EnableSitePhoneNumberMap = true;
        G.IsGiveUpUnknownSitePhoneNumberSMS = true;
        G.SitePhoneNumberCount = 2;
        G.SitePhoneNumberMap[0] = {QStringLiteral("5678"), QStringLiteral("北區抽水站, 2")};
        G.SitePhoneNumberMap[1] = {QStringLiteral("+3212"), QStringLiteral("Dam [B]")};
        G.IsUseDDE = true;
        G.APPLICATION = QStringLiteral("Display");
        G.TOPIC = QStringLiteral("Alarms");
        G.DDEMapCount = 1;
        G.DDEMap[0] = {QStringLiteral("A3"), QStringLiteral("Zone3"), 2.5};
        G.RunOnAlarm = QStringLiteral("mosquitto_pub -t 'quillet/a b'");
        G.RunOnAlarmTimeoutSeconds = 5;
        G.ForwardTo = {{QStringLiteral("+85291234567"), QString()},
                       {QStringLiteral("0912"), QStringLiteral("A1")}};
        const GlobalState saved = G;
        QVERIFY(Save2SettingFile());

        G = GlobalState{};
        QVERIFY(LoadSettings());
        QCOMPARE(G.LogFilePath, saved.LogFilePath);
        QCOMPARE(G.IsSaveAsMDB, true);
        QCOMPARE(G.MDBFilePath, saved.MDBFilePath);
        QCOMPARE(G.SoundFilePath, saved.SoundFilePath);
        QCOMPARE(G.IsIgnoreZoneIdentifier, true);
        QCOMPARE(G.COMPORT, saved.COMPORT);
        QCOMPARE(G.BAUDRATE, saved.BAUDRATE);
        QCOMPARE(G.IsGiveUpUnknownSitePhoneNumberSMS, true);
        QCOMPARE(int(G.SitePhoneNumberCount), 2);
        QCOMPARE(G.SitePhoneNumberMap[0].SiteName, saved.SitePhoneNumberMap[0].SiteName);
        QCOMPARE(G.SitePhoneNumberMap[1].PhoneNo, saved.SitePhoneNumberMap[1].PhoneNo);
        QCOMPARE(G.SitePhoneNumberMap[1].SiteName, saved.SitePhoneNumberMap[1].SiteName);
        QCOMPARE(int(G.DDEMapCount), 1);
        QCOMPARE(G.DDEMap[0].DDEValue, 2.5);
        QCOMPARE(G.RunOnAlarm, saved.RunOnAlarm);
        QCOMPARE(G.RunOnAlarmTimeoutSeconds, 5);
        QCOMPARE(G.ForwardTo.size(), 2);
        QCOMPARE(G.ForwardTo[1].PhoneNo, saved.ForwardTo[1].PhoneNo);
        QCOMPARE(G.ForwardTo[1].MessagePrefix, saved.ForwardTo[1].MessagePrefix);
    }

    void deviceKey_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("device");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("missing") << QByteArray() << "auto" << QByteArray();
        QTest::newRow("auto") << QByteArray("DEVICE=auto\r\n") << "auto" << QByteArray();
        QTest::newRow("device") << QByteArray("DEVICE=device\r\n") << "device"
                                << QByteArray("DEVICE=device\r\n");
        QTest::newRow("modem, any case, blanks")
            << QByteArray("DEVICE= Modem \r\n") << "modem" << QByteArray("DEVICE=modem\r\n");
        QTest::newRow("unknown word") << QByteArray("DEVICE=usb\r\n") << "auto" << QByteArray();
    }
    void deviceKey()
    {
        QFETCH(QByteArray, value);
        QFETCH(QByteArray, written);
        writeSettings("[BASIC]\r\nLogFilePath=Quillet.log\r\n[COMM]\r\nCOMPORT=COM2\r\n" + value);
        QVERIFY(LoadSettings());
        QTEST(G.DEVICE, "device");
        QVERIFY(Save2SettingFile());
        const QByteArray file = quillet::test::ReadFileBytes(G.SettingFile);
        QCOMPARE(file.contains("DEVICE="), !written.isEmpty());
        if (!written.isEmpty())
            QVERIFY(file.contains("STOPBIT=1\r\n" + written + "\r\n[SitePhoneNumberMAP]"));
    }

    // LoggerName is written only when set; a URI in MDBFilePath is no path
    // (one ending in "/" would otherwise stop the program with a path box).
    void centralKeys_data()
    {
        QTest::addColumn<QByteArray>("basic");
        QTest::addColumn<QString>("loggerName");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("no name") << QByteArray() << "" << QByteArray();
        QTest::newRow("a name") << QByteArray("LoggerName = North Works \r\n") << "North Works"
                                << QByteArray("IsDebugMode=0\r\nLoggerName=North Works\r\n");
        QTest::newRow("a metrics file")
            << QByteArray("MetricsFile=/var/lib/node/quillet.prom\r\nLoggerName=n\r\n") << "n"
            << QByteArray("LoggerName=n\r\nMetricsFile=/var/lib/node/quillet.prom\r\n");
        QTest::newRow("URI ending in a slash")
            << QByteArray("IsSaveAsMDB=1\r\nMDBFilePath=postgresql://q@/alarms?host=/run/x/\r\n")
            << "" << QByteArray("MDBFilePath=postgresql://q@/alarms?host=/run/x/\r\n");
    }
    void centralKeys()
    {
        QFETCH(QByteArray, basic);
        QFETCH(QByteArray, written);
        quillet::test::BoxRecorder boxes;
        writeSettings("[BASIC]\r\nLogFilePath=Quillet.log\r\n" + basic);
        QVERIFY(LoadSettings());
        QCOMPARE(boxes.count(), 0);
        QTEST(G.LoggerName, "loggerName");
        QVERIFY(Save2SettingFile());
        const QByteArray file = quillet::test::ReadFileBytes(G.SettingFile);
        QCOMPARE(file.contains("LoggerName="), written.contains("LoggerName="));
        QVERIFY2(file.contains(written), file.constData());
        StopCentralSender();
    }

    void writerSpellingsAndDisabledFeatures()
    {
        // Switching the map or DDE off keeps their entries in the file.
        G.LogFilePath = QStringLiteral("Quillet.log");
        G.COMPORT = QStringLiteral("COM1");
        G.BAUDRATE = QStringLiteral("9600");
        G.DATABIT = QStringLiteral("8");
        G.PARITYBIT = QStringLiteral("None");
        G.STOPBIT = QStringLiteral("1");
        G.SitePhoneNumberCount = 1;
        G.SitePhoneNumberMap[0] = {QStringLiteral("5678"), QStringLiteral("North")};
        G.APPLICATION = QStringLiteral("Display");
        G.TOPIC = QStringLiteral("Alarms");
        G.DDEMapCount = 1;
        G.DDEMap[0] = {QStringLiteral("A1"), QStringLiteral("Zone1"), 1};
        // Fractions survive the round: tests and commissioning work in seconds.
        G.NoNetworkMinutes = 0.05;
        G.SiteSilent = {{QStringLiteral("5678"), 26}, {QStringLiteral("1234"), 0.5}};
        QVERIFY(Save2SettingFile());
        QFile f(G.SettingFile);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray expected =
            "[BASIC]\r\nLogFilePath=Quillet.log\r\nIsSaveAsMDB=0\r\nIsDeleteSMS=0\r\n"
            "IsUseSoundAlert=0\r\nIsIgnoreZoneIdentifier=0\r\nIsDebugMode=0\r\n\r\n"
            "[COMM]\r\nCOMPORT=COM1\r\nBAUDRATE=9600\r\nDATABIT=8\r\nPARITYBIT=None\r\n"
            "STOPBIT=1\r\n\r\n[SitePhoneNumberMAP]\r\nEnableSitePhoneNumberMap=0\r\n"
            "IsGiveUpUnKnownSitePhoneNumberSMS=0\r\nSitePhoneNumberMAP1=5678,North\r\n\r\n"
            "[DDEMAP]\r\nIsUseDDE=0\r\nAPPLICATION=Display\r\nTOPIC=Alarms\r\n"
            "DDEMAP1=A1,Zone1,1\r\n\r\n"
            "[SUPERVISION]\r\nHealthCheckSeconds=60\r\nNoNetworkMinutes=0.05\r\n"
            "WeakSignalDbm=-107\r\nWeakSignalMinutes=10\r\nSimFullPercent=80\r\n"
            "SiteSilent1=5678,26\r\nSiteSilent2=1234,0.5\r\nLoopTestNumber=\r\n"
            "LoopTestHours=24\r\nLoopTestTimeoutMinutes=15\r\n";
        QCOMPARE(f.readAll(), expected);
        f.close();

        G = GlobalState{};
        QVERIFY(LoadSettings());
        QCOMPARE(int(G.SitePhoneNumberCount), 1);
        QCOMPARE(int(G.DDEMapCount), 1);
        QCOMPARE(G.NoNetworkMinutes, 0.05);
        QCOMPARE(G.SiteSilent.size(), 2);
        QCOMPARE(G.SiteSilent[1].Hours, 0.5);
    }

    void saveReplacesReadOnlyFile()
    {
        writeSettings("[BASIC]\r\nIsDeleteSMS=0\r\n");
        QFile::setPermissions(G.SettingFile, QFile::ReadOwner);
        G.IsDeleteSMS = true;
        QVERIFY(Save2SettingFile());
        G = GlobalState{};
        QVERIFY(LoadSettings());
        QVERIFY(G.IsDeleteSMS);
    }

    void hostileFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QByteArray binary;
        for (int i = 0; i < 200000; ++i)
            binary.append(char((i * 131 + 7) & 0xff));
        QTest::newRow("binary") << binary;
        QByteArray many;
        for (int i = 0; i < 100000; ++i)
            many += "NoSection" + QByteArray::number(i) + "=x\r\n";
        many += "[COMM]\r\nCOMPORT=COM9\r\n";
        QTest::newRow("100,000 lines") << many;
        QTest::newRow("1 MB line") << QByteArray("[COMM]\r\nCOMPORT=") + QByteArray(1 << 20, 'Z');
        QTest::newRow("invalid UTF-8") << QByteArray("[COMM]\r\nCOMPORT=\xff\xfe\xc3\r\n");
    }
    void hostileFiles()
    {
        QFETCH(QByteArray, bytes);
        writeSettings(bytes);
        QVERIFY(LoadSettings());
        // Lines past the 1000th are beyond the format: the COM9 at the end of
        // the long file is not seen.
        QVERIFY(G.COMPORT != QStringLiteral("COM9"));
        QCOMPARE(G.LogFilePath, QStringLiteral("Quillet.log"));
        QVERIFY(!G.COMPORT.isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_Settings)
#include "tst_settings.moc"
