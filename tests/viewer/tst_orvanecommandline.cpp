// Command-line words as the logger, the shell and users pass them.

#include "commandline.h"
#include "stringtable.h"

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
};

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

QTEST_GUILESS_MAIN(tst_OrvaneCommandLine)
#include "tst_orvanecommandline.moc"
