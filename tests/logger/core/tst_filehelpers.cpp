// File helpers, the debug log, and the check of the history log's path.

#include "boxrecorder.h"
#include "debuglog.h"
#include "filehelpers.h"
#include "globals.h"
#include "outputpaths.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace quillet;
using quillet::test::BoxRecorder;
using quillet::test::ReadFileBytes;
using quillet::test::TerminateRecorder;

class tst_FileHelpers : public QObject
{
    Q_OBJECT

private:
    quillet::test::TempWorkingFolder m_dir;

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void init() { G = GlobalState{}; }

    void createFolderPathMakesEveryLevel()
    {
        QVERIFY(QDir().mkdir(QStringLiteral("a")));
        QVERIFY(CreateFolderPath(QStringLiteral("a/b/c")));
        QVERIFY(FolderExists(QStringLiteral("a/b")));
        QVERIFY(FolderExists(QStringLiteral("a/b/c")));
        // Existing folder: true, untouched.
        QFile marker(QStringLiteral("a/b/c/keep"));
        QVERIFY(marker.open(QIODevice::WriteOnly));
        marker.close();
        QVERIFY(CreateFolderPath(m_dir.path() + QStringLiteral("/a/b/c")));
        QVERIFY(QFile::exists(QStringLiteral("a/b/c/keep")));
        // A file standing where a folder is needed.
        QVERIFY(!CreateFolderPath(QStringLiteral("a/b/c/keep/d")));
    }

    void readTextFile()
    {
        QCOMPARE(ReadTextFile(QStringLiteral("missing.txt")), QString());
        QFile f(QStringLiteral("utf8.txt"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("北區\r\n");
        f.close();
        QCOMPARE(ReadTextFile(QStringLiteral("utf8.txt")), QStringLiteral("北區\r\n"));
        QVERIFY(!FileExists(QStringLiteral("a")));
        QVERIFY(FileExists(QStringLiteral("utf8.txt")));
        QVERIFY(!FolderExists(QStringLiteral("utf8.txt")));
    }

    void debugLogBesideSettingsAndFolded()
    {
        QVERIFY(QDir().mkpath(QStringLiteral("conf")));
        G.SettingFile = QStringLiteral("conf/Quillet.set");
        G.IsDebugMode = false;
        AppendDebugTrace(QStringLiteral("nothing while off"));
        QVERIFY(!QFile::exists(QStringLiteral("conf/dbg.log")));

        G.IsDebugMode = true;
        AppendDebugTrace(QStringLiteral("OK\r\nERROR"));
        AppendDebugTrace(QStringLiteral("TotalSMSCount=3"));
        QCOMPARE(G.DebugLogFile, m_dir.path() + QStringLiteral("/conf/dbg.log"));
        QFile f(G.DebugLogFile);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("OK<CR><LF>ERROR\r\nTotalSMSCount=3\r\n"));
    }

    // Years in debug mode: at the limit dbg.log becomes dbg.log.1 (the
    // older copy replaced) and a new one starts, so the trace stays within
    // twice the limit and keeps its newest entries in order.
    void debugLogRotates()
    {
        QVERIFY(QDir().mkpath(QStringLiteral("rot")));
        G.SettingFile = QStringLiteral("rot/Quillet.set");
        G.IsDebugMode = true;
        const qint64 limit = DebugLogLimit();
        SetDebugLogLimit(100);
        for (int i = 0; i < 40; ++i)
            AppendDebugTrace(QStringLiteral("entry %1").arg(i, 2, 10, QLatin1Char('0')));
        SetDebugLogLimit(limit);
        const QByteArray current = ReadFileBytes(QStringLiteral("rot/dbg.log"));
        const QByteArray older = ReadFileBytes(QStringLiteral("rot/dbg.log.1"));
        // Entry lines are 10 bytes, so ten fill a file.
        auto entries = [](int from, int to) {
            QByteArray bytes;
            for (int i = from; i <= to; ++i)
                bytes += QStringLiteral("entry %1\r\n").arg(i, 2, 10, QLatin1Char('0')).toUtf8();
            return bytes;
        };
        QCOMPARE(older, entries(20, 29));
        QCOMPARE(current, entries(30, 39));
        QCOMPARE(QDir(QStringLiteral("rot")).entryList(QDir::Files),
                 (QStringList{QStringLiteral("dbg.log"), QStringLiteral("dbg.log.1")}));
    }

    void logPathErrors_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        QTest::newRow("ends with /") << "Logs/"
                                     << "指定的路徑不存在!";
        QTest::newRow("ends with backslash") << "Logs\\"
                                             << "指定的路徑不存在!";
        QTest::newRow("names a folder") << "existing"
                                        << "請指定完整Log記錄檔檔名!";
    }
    void logPathErrors()
    {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        QDir().mkpath(QStringLiteral("existing"));
        BoxRecorder boxes;
        TerminateRecorder ended;
        G.LogFilePath = path;
        QVERIFY(!CheckLogFilePath(true));
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().title, QStringLiteral("設定錯誤"));
        QCOMPARE(boxes.last().icon, BoxIcon::Critical);
        QCOMPARE(boxes.last().text, QStringLiteral("設定錯誤!\r\nLogFileFullPath=") + path +
                                        QStringLiteral("\r\n") + reason);
        QCOMPARE(ended.count(), 1);

        // Without the exit option the program goes on.
        QVERIFY(!CheckLogFilePath(false));
        QCOMPARE(ended.count(), 1);
    }

    void logPathCreatesFoldersAndFile()
    {
        BoxRecorder boxes;
        G.LogFilePath = QStringLiteral("Logs/Site/alarm.log");
        QVERIFY(CheckLogFilePath(true));
        QVERIFY(QFile::exists(QStringLiteral("Logs/Site/alarm.log")));
        QCOMPARE(G.LastLogFileFullPath, G.LogFilePath);
        QCOMPARE(boxes.count(), 0);

        // Unchanged path: the check is skipped even if the file went away;
        // a changed path is checked (and created) again.
        QFile::remove(QStringLiteral("Logs/Site/alarm.log"));
        QVERIFY(CheckLogFilePath(true));
        QVERIFY(!QFile::exists(QStringLiteral("Logs/Site/alarm.log")));
        G.LogFilePath = QStringLiteral("Logs/Other/alarm.log");
        QVERIFY(CheckLogFilePath(true));
        QVERIFY(QFile::exists(QStringLiteral("Logs/Other/alarm.log")));
    }

    void emptyLogPathGoesBesideSettings()
    {
        QDir().mkpath(QStringLiteral("cfg"));
        G.SettingFile = QStringLiteral("cfg/Quillet.set");
        G.LogFilePath.clear();
        QVERIFY(CheckLogFilePath(false));
        QCOMPARE(G.LogFileFullPath, QStringLiteral("cfg/Quillet.log"));
        QVERIFY(QFile::exists(QStringLiteral("cfg/Quillet.log")));
    }
};

QTEST_GUILESS_MAIN(tst_FileHelpers)
#include "tst_filehelpers.moc"
