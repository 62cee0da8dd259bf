// Command-line words as the logger, the shell and users pass them.

#include "commandline.h"
#include "instancechannel.h"
#include "stringtable.h"

#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using orvane::COrvaneCommandLineInfo;

class tst_OrvaneCommandLine : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void rootFileIsNotASwitch();
    void language_data();
    void language();
    void stringTableComplete();
    void infoWithoutDisplay();
    void handOverStaysOnItsDisplay();
};

static QString Orvane()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/orvane");
}

static QString Describe(const COrvaneCommandLineInfo &info)
{
    QStringList parts;
    for (auto it = info.switches.cbegin(); it != info.switches.cend(); ++it)
        parts.append(it.key() + u'=' + it.value());
    return parts.join(u';');
}

void tst_OrvaneCommandLine::parse_data()
{
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("switches");
    QTest::addColumn<int>("command");

    const int open = COrvaneCommandLineInfo::FileOpen;
    QTest::newRow("logger: path then -na")
        << QStringList{"/var/log/q/Quillet.log", "-na"} << "/var/log/q/Quillet.log"
        << "na=1" << open;
    QTest::newRow("path then -m2") << QStringList{"a.log", "-m2"} << "a.log"
                                   << "m2=1" << open;
    QTest::newRow("-c group then -f") << QStringList{"a.log", "-c", "North", "-f"} << "a.log"
                                      << "c=North;f=1" << open;
    QTest::newRow("title word is also the file")
        << QStringList{"-t", "Weekly", "/data/b.log"} << "Weekly"
        << "t=Weekly" << open;
    QTest::newRow("names are case-sensitive") << QStringList{"a.log", "-NA"} << "a.log"
                                              << "NA=1" << open;
    QTest::newRow("slash switch") << QStringList{"a.log", "/na"} << "a.log"
                                  << "na=1" << open;
    QTest::newRow("switch without value last") << QStringList{"a.log", "-c"} << "a.log"
                                               << "c=1" << open;
    QTest::newRow("switch followed by switch") << QStringList{"a.log", "-mt1", "-m2"} << "a.log"
                                               << "m2=1;mt1=1" << open;
    QTest::newRow("value taken once") << QStringList{"-c", "G", "x.log", "y.log"} << "G"
                                      << "c=G" << open;
    QTest::newRow("no words") << QStringList{} << ""
                              << "" << int(COrvaneCommandLineInfo::FileNew);
    QTest::newRow("only switches") << QStringList{"-na", "-m2"} << ""
                                   << "m2=1;na=1" << int(COrvaneCommandLineInfo::FileNew);
    QTest::newRow("framework print switch") << QStringList{"-p", "a.log"} << "a.log"
                                            << "p=a.log" << int(COrvaneCommandLineInfo::FilePrint);
    QTest::newRow("lone dash is a word") << QStringList{"-"} << "-"
                                         << "" << open;
}

void tst_OrvaneCommandLine::parse()
{
    QFETCH(QStringList, words);
    QFETCH(QString, file);
    QFETCH(QString, switches);
    QFETCH(int, command);
    const COrvaneCommandLineInfo info = COrvaneCommandLineInfo::Parse(words);
    QCOMPARE(info.fileName, file);
    QCOMPARE(Describe(info), switches);
    QCOMPARE(int(info.shellCommand), command);
}

void tst_OrvaneCommandLine::rootFileIsNotASwitch()
{
    // A file right under the root folder has no second "/": it is still a
    // file when it exists, and a switch when nothing of that name exists.
    const QString name = QStringLiteral("/orvane-no-such-file.log");
    QVERIFY(!QFileInfo::exists(name));
    QCOMPARE(COrvaneCommandLineInfo::Parse({name}).fileName, QString());
    QCOMPARE(COrvaneCommandLineInfo::Parse({name}).switches.value(name.mid(1)), QString("1"));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString nested = dir.filePath("a.log");
    QCOMPARE(COrvaneCommandLineInfo::Parse({nested, "-na"}).fileName, nested);
}

void tst_OrvaneCommandLine::language_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<bool>("chinese");
    QTest::newRow("Taiwan") << "zh_TW" << true;
    QTest::newRow("Taiwan with encoding") << "zh_TW.UTF-8" << true;
    QTest::newRow("Hong Kong") << "zh_HK" << true;
    QTest::newRow("Traditional script") << "zh_Hant" << true;
    QTest::newRow("Simplified China") << "zh_CN" << false;
    QTest::newRow("English") << "en_US" << false;
    QTest::newRow("German") << "de_DE" << false;
    QTest::newRow("C") << "C" << false;
    QTest::newRow("empty") << "" << false;
}

void tst_OrvaneCommandLine::language()
{
    QFETCH(QString, locale);
    QFETCH(bool, chinese);
    QCOMPARE(orvane::LanguageForLocale(locale) == orvane::Language::Chinese, chinese);
}

void tst_OrvaneCommandLine::stringTableComplete()
{
    QString missing;
    QVERIFY2(orvane::StringTableComplete(&missing), qPrintable(missing));
    orvane::SetLanguage(orvane::Language::Chinese);
    QCOMPARE(orvane::StrF(orvane::IDS_RECORD_COUNT, 3, 250), QString("總筆數: 3/250            "));
    QCOMPARE(orvane::StrF(orvane::IDS_READING, 49.6), QString("正在讀取 50%"));
    QCOMPARE(orvane::TooltipOf(orvane::ID_FILE_OPEN), QString("開啟舊檔"));
    orvane::SetLanguage(orvane::Language::English);
    QCOMPARE(orvane::StrF(orvane::IDS_READING, 2.0), QString("Reading  2%"));
    QCOMPARE(orvane::PromptOf(orvane::ID_EXPORT_DATA), QString("Move data before select time"));
    QCOMPARE(orvane::TooltipOf(orvane::ID_EXPORT_DATA), QString("Export"));
    QCOMPARE(orvane::DocStringField(3), QString("Orvane File (*.log)"));
}

void tst_OrvaneCommandLine::infoWithoutDisplay()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(name);
    for (const char *word : {"--help", "--version"}) {
        QProcess orvane;
        orvane.setProcessEnvironment(environment);
        orvane.start(Orvane(), {word});
        QVERIFY(orvane.waitForFinished(30000) && orvane.exitCode() == 0);
        QVERIFY(orvane.readAllStandardOutput().startsWith(
            word[2] == 'h' ? "Usage: orvane" : "orvane " QUILLET_VERSION "\n"));
    }
}

void tst_OrvaneCommandLine::handOverStaysOnItsDisplay()
{
    QTemporaryDir dir;
    QFile log(dir.filePath("a.log"));
    QVERIFY(log.open(QIODevice::WriteOnly) && log.write("03/07/2024 14:05:09 [N] x\r\n") > 0);
    log.close();
    // Two X servers of one user in one session.
    QProcess servers[2], viewers[3];
    QProcessEnvironment on[2];
    for (int i = 0; i < 2; ++i) {
        servers[i].start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp"});
        QVERIFY2(servers[i].waitForReadyRead(10000), "Xvfb did not start");
        on[i] = QProcessEnvironment::systemEnvironment();
        on[i].remove("WAYLAND_DISPLAY");
        on[i].insert("QT_QPA_PLATFORM", "xcb");
        on[i].insert("XDG_CONFIG_HOME", dir.path());
        on[i].insert("DISPLAY", ':' + QString::fromLatin1(servers[i].readLine().trimmed()));
    }
    const auto start = [&](int viewer, int display) {
        viewers[viewer].setProcessEnvironment(on[display]);
        viewers[viewer].start(Orvane(), {log.fileName(), "-na"});
    };
    const auto listening = [&](int display) {
        QLocalSocket socket;
        socket.connectToServer(orvane::CInstanceChannel::NameFor(on[display]));
        return socket.waitForConnected(200);
    };
    start(0, 0);
    QTRY_VERIFY_WITH_TIMEOUT(listening(0), 20000);
    // On the other display a start is a viewer of its own, not a hand-over.
    start(1, 1);
    QTRY_VERIFY_WITH_TIMEOUT(listening(1), 20000);
    QCOMPARE(viewers[1].state(), QProcess::Running);
    // On the first display it hands its file over and ends.
    start(2, 0);
    QVERIFY(viewers[2].waitForFinished(20000) && viewers[2].exitCode() == 0);
    QCOMPARE(viewers[0].state(), QProcess::Running);
    for (QProcess *process : {&viewers[0], &viewers[1], &servers[0], &servers[1]})
        process->kill(), process->waitForFinished();
}

QTEST_GUILESS_MAIN(tst_OrvaneCommandLine)
#include "tst_orvanecommandline.moc"
