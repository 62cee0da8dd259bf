// The alarm database: creation from the template, the row texts, values that
// must never change the statement, failures that must not cost the log line,
// the start-up report of a database that cannot be opened, and a row that
// survives the process being killed right after it was written.

#include "boxrecorder.h"
#include "database.h"
#include "globals.h"
#include "logfile.h"
#include "mainwindow.h"
#include "outputpaths.h"
#include "pipeline.h"
#include "startup.h"
#include "testfiles.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <unistd.h>

using quillet::test::ReadFileBytes;
using namespace quillet;
using quillet::test::BoxRecorder;
using quillet::test::TerminateRecorder;

namespace {

const QString kTemplate = QStringLiteral(QUILLET_BIN_DIR "/Quillet.sys");
const QDateTime kStamp(QDate(2024, 3, 7), QTime(14, 5, 9));

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// Every row of Tarrow through a connection of its own, as another program
// would read the file. Empty when the file or the table is missing.
QList<QStringList> readRows(const QString &file)
{
    QList<QStringList> rows;
    if (!QFile::exists(file))
        return rows;
    const QString name = QStringLiteral("reader");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery q(db);
            q.exec(QStringLiteral("SELECT [Date], AlarmCallerID, AlarmMessage FROM Tarrow "
                                  "ORDER BY ID"));
            while (q.next())
                rows << QStringList{q.value(0).toString(), q.value(1).toString(),
                                    q.value(2).toString()};
        }
    }
    QSqlDatabase::removeDatabase(name);
    return rows;
}

void runSql(const QString &file, const QString &sql)
{
    const QString name = QStringLiteral("writer");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY2(q.exec(sql), qPrintable(q.lastError().text()));
    }
    QSqlDatabase::removeDatabase(name);
}

void setUpOutputs(const QString &mdbPath)
{
    G = GlobalState{};
    G.SystemFile = kTemplate;
    G.LogFilePath = QStringLiteral("Quillet.log");
    G.IsSaveAsMDB = true;
    G.MDBFilePath = mdbPath;
}

// Child side of the crash case: one record, then the process dies at once,
// with no chance to close the connection or flush anything.
int recordAndDie(int argc, char **argv)
{
    QCoreApplication app(argc, argv); // the SQL driver is a plugin
    QDir::setCurrent(QString::fromLocal8Bit(argv[2]));
    setUpOutputs(QStringLiteral("crash.mdb"));
    HistoryLog log;
    if (!log.WriteAlarmRecord(kStamp, QStringLiteral("Crash"), QStringLiteral("before the kill")))
        return 3;
    ::kill(::getpid(), SIGKILL);
    return 4;
}

} // namespace

class tst_Database : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_oldCwd;
    HistoryLog m_log;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(QFile::exists(kTemplate), "the build makes the template Quillet.sys");
        m_oldCwd = QDir::currentPath();
    }
    void cleanupTestCase()
    {
        CloseMDBConnection();
        QDir::setCurrent(m_oldCwd);
    }
    void init()
    {
        CloseMDBConnection();
        const QString sub =
            m_dir.path() + QLatin1Char('/') + QTest::currentTestFunction() + QLatin1Char('_') +
            QString::fromUtf8(QTest::currentDataTag() ? QTest::currentDataTag() : "");
        QDir().mkpath(sub);
        QDir::setCurrent(sub);
        setUpOutputs(QStringLiteral("Quillet.mdb"));
    }

    void createdFromTemplateSeveralLevelsDown()
    {
        G.MDBFilePath = QStringLiteral("new folder/with #hash?/and 100%/警報/alarms.mdb");
        QVERIFY(m_log.WriteAlarmRecord(kStamp, QStringLiteral("North"), QStringLiteral("A3 Pump")));
        QVERIFY(m_log.WriteAlarmRecord(kStamp.addSecs(1), QStringLiteral("South"),
                                       QStringLiteral("B")));
        QCOMPARE(readRows(G.MDBFilePath),
                 (QList<QStringList>{{"2024/03/07 02:05:09 PM", "North", "A3 Pump"},
                                     {"2024/03/07 02:05:10 PM", "South", "B"}}));
        QCOMPARE(ReadFileBytes(QStringLiteral("Quillet.log")),
                 QByteArray("03/07/2024 14:05:09 [North] A3 Pump\r\n"
                            "03/07/2024 14:05:10 [South] B\r\n"));
        // Each row is committed in a transaction of its own.
        const QStringList properties =
            DriverProperties(QSqlDatabase::database(G.MDBConnection, false));
        QVERIFY(HasProperty(QStringLiteral("TRANSACTIONS"), properties, true));
        QVERIFY(!HasProperty(QStringLiteral("TRANSACTIONS"), properties, false));
    }

    void dateText_data()
    {
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QString>("text");
        QTest::newRow("afternoon") << QTime(14, 5, 9) << "2024/03/07 02:05:09 PM";
        QTest::newRow("midnight is 12 AM") << QTime(0, 0, 0) << "2024/03/07 12:00:00 AM";
        QTest::newRow("noon is 12 PM") << QTime(12, 30, 1) << "2024/03/07 12:30:01 PM";
        QTest::newRow("morning") << QTime(9, 1, 2) << "2024/03/07 09:01:02 AM";
        QTest::newRow("last second") << QTime(23, 59, 59) << "2024/03/07 11:59:59 PM";
    }
    void dateText()
    {
        QFETCH(QTime, time);
        QFETCH(QString, text);
        // The operator's locale must not leak into the column.
        QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::Taiwan));
        const QString got = MDBDateText(QDateTime(QDate(2024, 3, 7), time));
        QLocale::setDefault(QLocale::c());
        QCOMPARE(got, text);
    }

    void textStoredIntact_data()
    {
        QTest::addColumn<QString>("caller");
        QTest::addColumn<QString>("message");
        QTest::newRow("both kinds of quotes") << "Site \"A\""
                                              << "He said \"stop\", it's 'on'";
        QTest::newRow("statement end and comment") << "x');--"
                                                   << "a\"); DELETE FROM Tarrow; -- b";
        QTest::newRow("semicolons and dashes") << "North"
                                               << ";;-- --;";
        QTest::newRow("Chinese and line breaks") << "東區泵站"
                                                 << "水位過高\r\n第二行";
        QTest::newRow("placeholder-like") << "?"
                                          << ":name ? %1 [Date]";
        QTest::newRow("empty message") << "+886912345678"
                                       << "";
    }
    void textStoredIntact()
    {
        QFETCH(QString, caller);
        QFETCH(QString, message);
        // A row already there shows that no text can reach the statement.
        QVERIFY(m_log.WriteAlarmRecord(kStamp, QStringLiteral("first"), QStringLiteral("kept")));
        QVERIFY(m_log.WriteAlarmRecord(kStamp, caller, message));
        QCOMPARE(readRows(QStringLiteral("Quillet.mdb")),
                 (QList<QStringList>{{"2024/03/07 02:05:09 PM", "first", "kept"},
                                     {"2024/03/07 02:05:09 PM", caller, message}}));
    }

    void missingTableFailsButLogLineStays()
    {
        runSql(QStringLiteral("Quillet.mdb"), QStringLiteral("CREATE TABLE Other (x TEXT)"));
        QVERIFY(
            m_log.WriteAlarmRecord(kStamp, QStringLiteral("North"), QStringLiteral("lost row")));
        QCOMPARE(ReadFileBytes(QStringLiteral("Quillet.log")),
                 QByteArray("03/07/2024 14:05:09 [North] lost row\r\n"));
        QVERIFY(!InsertAlarmRow(kStamp, QStringLiteral("North"), QStringLiteral("again")));
        QVERIFY2(MDBLastError().contains(QStringLiteral("no such table")),
                 qPrintable(MDBLastError()));

        // The failed statement was rolled back: the same connection takes the
        // next row once the table is there.
        runSql(QStringLiteral("Quillet.mdb"), QString::fromUtf8(ReadFileBytes(QStringLiteral(
                                                  QUILLET_SOURCE_DIR "/data/Tarrow.sql"))));
        QVERIFY(InsertAlarmRow(kStamp, QStringLiteral("North"), QStringLiteral("stored")));
        QCOMPARE(readRows(QStringLiteral("Quillet.mdb")),
                 (QList<QStringList>{{"2024/03/07 02:05:09 PM", "North", "stored"}}));
    }

    void reopenedWhenThePathChanges()
    {
        G.MDBFilePath = QStringLiteral("one.mdb");
        QVERIFY(m_log.WriteAlarmRecord(kStamp, QStringLiteral("a"), QStringLiteral("1")));
        G.MDBFilePath = QStringLiteral("two/two.mdb");
        QVERIFY(m_log.WriteAlarmRecord(kStamp, QStringLiteral("b"), QStringLiteral("2")));
        G.MDBFilePath = QStringLiteral("one.mdb");
        QVERIFY(m_log.WriteAlarmRecord(kStamp, QStringLiteral("c"), QStringLiteral("3")));
        QCOMPARE(readRows(QStringLiteral("one.mdb")),
                 (QList<QStringList>{{"2024/03/07 02:05:09 PM", "a", "1"},
                                     {"2024/03/07 02:05:09 PM", "c", "3"}}));
        QCOMPARE(readRows(QStringLiteral("two/two.mdb")),
                 (QList<QStringList>{{"2024/03/07 02:05:09 PM", "b", "2"}}));
    }

    void vanishedDatabaseIsCreatedAgain()
    {
        QVERIFY(m_log.WriteAlarmRecord(kStamp, QStringLiteral("a"), QStringLiteral("1")));
        QVERIFY(QFile::remove(QStringLiteral("Quillet.mdb")));
        QVERIFY(m_log.WriteAlarmRecord(kStamp, QStringLiteral("b"), QStringLiteral("2")));
        // Without the re-check the row would go into the deleted file.
        QCOMPARE(readRows(QStringLiteral("Quillet.mdb")),
                 (QList<QStringList>{{"2024/03/07 02:05:09 PM", "b", "2"}}));
    }

    void unopenedAtStartUpIsReportedAndRetried_data()
    {
        QTest::addColumn<QString>("mdbPath");
        QTest::addColumn<QString>("reason");
        QTest::newRow("not a database") << "bad.mdb"
                                        << "file is not a database";
        QTest::newRow("folder blocked by a file") << "blocker/alarms.mdb"
                                                  << "folder of the file cannot be created";
    }
    void unopenedAtStartUpIsReportedAndRetried()
    {
        QFETCH(QString, mdbPath);
        QFETCH(QString, reason);
        writeFile(QStringLiteral("Quillet.set"),
                  "[BASIC]\r\nLogFilePath=Quillet.log\r\nIsSaveAsMDB=1\r\nMDBFilePath=" +
                      mdbPath.toUtf8() + "\r\n");
        QVERIFY(QFile::copy(kTemplate, QStringLiteral("Quillet.sys")));
        writeFile(QStringLiteral("bad.mdb"), QByteArray(4096, 'x'));
        writeFile(QStringLiteral("blocker"), "a file where a folder should be");
        G = GlobalState{};

        AlarmPipeline pipeline;
        frmMain form;
        form.attach(pipeline);
        BoxRecorder boxes;
        TerminateRecorder ended;
        QVERIFY(StartUp(pipeline));
        QCOMPARE(ended.count(), 0);
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().title, QStringLiteral("資料庫錯誤"));
        QCOMPARE(boxes.last().icon, BoxIcon::Critical);
        QCOMPARE(boxes.last().buttons, BoxButtons::Ok);
        QVERIFY(boxes.last().text.startsWith(QStringLiteral("無法開啟資料庫!\r\nMDBFileFullPath=") +
                                             mdbPath + QStringLiteral("\r\n")));
        QVERIFY2(boxes.last().text.contains(reason), qPrintable(boxes.last().text));

        // The logger runs on with its log file; each record tries again.
        QVERIFY(m_log.WriteAlarmRecord(kStamp, QStringLiteral("a"), QStringLiteral("log only")));
        QVERIFY(
            m_log.WriteAlarmRecord(kStamp, QStringLiteral("b"), QStringLiteral("log only too")));
        QCOMPARE(ReadFileBytes(QStringLiteral("Quillet.log")),
                 QByteArray("03/07/2024 14:05:09 [a] log only\r\n"
                            "03/07/2024 14:05:09 [b] log only too\r\n"));
        QVERIFY(QFile::remove(QStringLiteral("bad.mdb")));
        QVERIFY(QFile::remove(QStringLiteral("blocker")));
        QVERIFY(m_log.WriteAlarmRecord(kStamp, QStringLiteral("c"), QStringLiteral("row again")));
        QCOMPARE(readRows(mdbPath),
                 (QList<QStringList>{{"2024/03/07 02:05:09 PM", "c", "row again"}}));
        QCOMPARE(boxes.count(), 1); // reported once, at start-up only
    }

    void readOnlyTemplateGivesWritableDatabase()
    {
        QVERIFY(QFile::copy(kTemplate, QStringLiteral("ro.sys")));
        QVERIFY(
            QFile::setPermissions(QStringLiteral("ro.sys"), QFile::ReadOwner | QFile::ReadGroup));
        G.SystemFile = QStringLiteral("ro.sys");
        QVERIFY(m_log.WriteAlarmRecord(kStamp, QStringLiteral("a"), QStringLiteral("1")));
        QVERIFY(QFile::permissions(QStringLiteral("Quillet.mdb")) & QFile::WriteOwner);
        QCOMPARE(readRows(QStringLiteral("Quillet.mdb")).size(), 1);
    }

    void rowSurvivesAKillRightAfterTheRecord()
    {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--record-and-die"), QDir::currentPath()});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        QVERIFY2(QFile::exists(QStringLiteral("crash.mdb")), child.readAllStandardError());
        QCOMPARE(readRows(QStringLiteral("crash.mdb")),
                 (QList<QStringList>{{"2024/03/07 02:05:09 PM", "Crash", "before the kill"}}));

        // The restarted logger finds the row and adds the next one after it.
        setUpOutputs(QStringLiteral("crash.mdb"));
        QVERIFY(m_log.WriteAlarmRecord(kStamp.addSecs(60), QStringLiteral("Restart"),
                                       QStringLiteral("after the kill")));
        QCOMPARE(readRows(QStringLiteral("crash.mdb")),
                 (QList<QStringList>{{"2024/03/07 02:05:09 PM", "Crash", "before the kill"},
                                     {"2024/03/07 02:06:09 PM", "Restart", "after the kill"}}));
        QCOMPARE(ReadFileBytes(QStringLiteral("Quillet.log")),
                 QByteArray("03/07/2024 14:05:09 [Crash] before the kill\r\n"
                            "03/07/2024 14:06:09 [Restart] after the kill\r\n"));
    }
};

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--record-and-die") == 0)
        return recordAndDie(argc, argv);
    QApplication app(argc, argv);
    tst_Database test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_database.moc"
