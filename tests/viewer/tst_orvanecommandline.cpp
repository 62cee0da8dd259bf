// Command-line words as the logger, the shell and users pass them, and the
// program started as they start it.

#include "commandline.h"
#include "instancechannel.h"
#include "stringtable.h"

#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

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
    void infoWithoutDisplay_data();
    void infoWithoutDisplay();
    void instanceName_data();
    void instanceName();
    void handOverStaysOnItsDisplay();
};

namespace {

QProcessEnvironment Environment(const QStringList &settings)
{
    QProcessEnvironment environment;
    for (const QString &setting : settings)
        environment.insert(setting.section(u'=', 0, 0), setting.section(u'=', 1));
    return environment;
}

QString Orvane()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/orvane");
}

// The titles of the top-level windows of an X display.
QString WindowNames(const QString &display)
{
    QProcess tree;
    tree.start(QStringLiteral("xwininfo"), {"-display", display, "-root", "-tree"});
    tree.waitForFinished(10000);
    return QString::fromUtf8(tree.readAllStandardOutput());
}

// A process ended (killed if need be) when the test is done with it.
struct Running
{
    ~Running()
    {
        for (auto &process : processes) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
    QProcess *
    start(const QString &program, const QStringList &arguments,
          const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
    {
        processes.push_back(std::make_unique<QProcess>());
        processes.back()->setProcessEnvironment(environment);
        processes.back()->start(program, arguments);
        return processes.back().get();
    }
    std::vector<std::unique_ptr<QProcess>> processes;
};

} // namespace

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

void tst_OrvaneCommandLine::infoWithoutDisplay_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<QString>("printed");
    QTest::newRow("help") << "--help"
                          << "Usage: orvane";
    QTest::newRow("version") << "--version" << QStringLiteral("orvane " QUILLET_VERSION "\n");
}

void tst_OrvaneCommandLine::infoWithoutDisplay()
{
    QFETCH(QString, word);
    QFETCH(QString, printed);
    // A machine with no display at all, nor a platform chosen for Qt.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    QProcess orvane;
    orvane.setProcessEnvironment(environment);
    orvane.start(Orvane(), {word});
    QVERIFY(orvane.waitForFinished(30000));
    QCOMPARE(orvane.exitStatus(), QProcess::NormalExit);
    QCOMPARE(orvane.exitCode(), 0);
    QVERIFY(QString::fromUtf8(orvane.readAllStandardOutput()).startsWith(printed));
}

void tst_OrvaneCommandLine::instanceName_data()
{
    QTest::addColumn<QStringList>("first");
    QTest::addColumn<QStringList>("second");
    QTest::addColumn<bool>("same");
    const QStringList here{"XDG_SESSION_ID=3", "DISPLAY=:1"};
    QTest::newRow("another screen of the display")
        << here << QStringList{"XDG_SESSION_ID=3", "DISPLAY=:1.1"} << true;
    QTest::newRow("another display")
        << here << QStringList{"XDG_SESSION_ID=3", "DISPLAY=:2"} << false;
    QTest::newRow("another session")
        << here << QStringList{"XDG_SESSION_ID=4", "DISPLAY=:1"} << false;
    QTest::newRow("another Wayland display")
        << QStringList{"WAYLAND_DISPLAY=wayland-0", "DISPLAY=:1"}
        << QStringList{"WAYLAND_DISPLAY=wayland-1", "DISPLAY=:1"} << false;
}

void tst_OrvaneCommandLine::instanceName()
{
    QFETCH(QStringList, first);
    QFETCH(QStringList, second);
    QFETCH(bool, same);
    const QString a = orvane::CInstanceChannel::NameFor(Environment(first));
    const QString b = orvane::CInstanceChannel::NameFor(Environment(second));
    QCOMPARE(a == b, same);
    QVERIFY(!a.contains(u'/'));
}

void tst_OrvaneCommandLine::handOverStaysOnItsDisplay()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const char *name : {"a.log", "b.log", "c.log"}) {
        QFile log(dir.filePath(QString::fromLatin1(name)));
        QVERIFY(log.open(QIODevice::WriteOnly));
        log.write("03/07/2024 14:05:09 [North] Pump failure\r\n");
    }
    Running running;
    // Two X servers of one user in one session, each telling its number.
    QStringList displays;
    for (int i = 0; i < 2; ++i) {
        QProcess *server =
            running.start(QStringLiteral("Xvfb"),
                          {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1024x768x24"});
        QVERIFY2(server->waitForReadyRead(10000), "Xvfb did not start");
        displays.append(u':' + QString::fromLatin1(server->readLine().trimmed()));
    }
    QProcessEnvironment base = QProcessEnvironment::systemEnvironment();
    base.remove(QStringLiteral("WAYLAND_DISPLAY"));
    base.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    base.insert(QStringLiteral("XDG_SESSION_ID"), QStringLiteral("orvane-test"));
    base.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
    const auto on = [&](int display) {
        QProcessEnvironment environment = base;
        environment.insert(QStringLiteral("DISPLAY"), displays.at(display));
        return environment;
    };
    const auto listening = [&](int display) {
        QLocalSocket socket;
        socket.connectToServer(orvane::CInstanceChannel::NameFor(on(display)));
        return socket.waitForConnected(200);
    };

    QProcess *first = running.start(Orvane(), {dir.filePath("a.log"), "-na"}, on(0));
    QTRY_VERIFY_WITH_TIMEOUT(listening(0), 20000);
    // Started on the other display it is a viewer of its own, shown there;
    // the first one keeps its file.
    QProcess *second = running.start(Orvane(), {dir.filePath("b.log"), "-na"}, on(1));
    QTRY_VERIFY_WITH_TIMEOUT(listening(1), 20000);
    QCOMPARE(second->state(), QProcess::Running);
    QTRY_VERIFY_WITH_TIMEOUT(WindowNames(displays.at(1)).contains("Orvane - b.log"), 10000);
    QVERIFY(WindowNames(displays.at(0)).contains("Orvane - a.log"));
    // On the first display a start hands over and ends.
    QProcess *third = running.start(Orvane(), {dir.filePath("c.log"), "-na"}, on(0));
    QVERIFY(third->waitForFinished(20000));
    QCOMPARE(third->exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(WindowNames(displays.at(0)).contains("Orvane - c.log"), 10000);
    QVERIFY(WindowNames(displays.at(1)).contains("Orvane - b.log"));
    QCOMPARE(first->state(), QProcess::Running);
}

QTEST_GUILESS_MAIN(tst_OrvaneCommandLine)
#include "tst_orvanecommandline.moc"
