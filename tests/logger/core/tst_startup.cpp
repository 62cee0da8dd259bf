// Start-up checks, the exit confirmation, and the refusal of a second copy.

#include "boxrecorder.h"
#include "globals.h"
#include "mainwindow.h"
#include "pipeline.h"
#include "scratchmount.h"
#include "startup.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace quillet;
using quillet::test::BoxRecorder;
using quillet::test::ScratchMount;
using quillet::test::TerminateRecorder;

namespace {

QStringList listFiles(const QString &dir)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

void touch(const QString &path, const QByteArray &bytes = QByteArray())
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace

class tst_StartUp : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_oldCwd;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_oldCwd = QDir::currentPath();
    }
    void cleanupTestCase() { QDir::setCurrent(m_oldCwd); }
    void init()
    {
        G = GlobalState{};
        const QString sub = m_dir.path() + QLatin1Char('/') + QTest::currentTestFunction() +
                            QLatin1Char('_') +
                            (QTest::currentDataTag() ? QTest::currentDataTag() : "");
        QDir().mkpath(sub);
        QDir::setCurrent(sub);
    }

    void missingFiles_data()
    {
        QTest::addColumn<bool>("haveSettings");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::newRow("no settings") << false << "找不到Quillet的設定檔"
                                     << "找不到Quillet的設定檔:Quillet.set\r\n程式無法執行!";
        QTest::newRow("settings but no system file")
            << true << "找不到Quillet的系統檔案"
            << "找不到Quillet的系統檔:Quillet.sys\r\n程式無法執行!";
    }
    void missingFiles()
    {
        QFETCH(bool, haveSettings);
        QFETCH(QString, title);
        QFETCH(QString, text);
        if (haveSettings)
            touch(QStringLiteral("Quillet.set"), "[BASIC]\r\nIsSaveAsMDB=0\r\n");
        BoxRecorder boxes;
        TerminateRecorder ended;
        AlarmPipeline pipeline;
        QVERIFY(!StartUp(pipeline));
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().title, title);
        QCOMPARE(boxes.last().text, text);
        QCOMPARE(boxes.last().icon, BoxIcon::Critical);
        QCOMPARE(boxes.last().buttons, BoxButtons::Ok);
        QCOMPARE(ended.count(), 1);
        QVERIFY(!QFile::exists(QStringLiteral("Quillet.log"))); // settings never loaded
    }

    // Start-up never ends by itself for want of the device or of the log's
    // folder: it runs Offline and tries again at every tick, with the reason
    // in the status bar, and no box.
    void startUpLoadsAndStaysOffline_data()
    {
        QTest::addColumn<bool>("folderBlocked");
        QTest::addColumn<QString>("note");
        QTest::newRow("log folder made") << false << "";
        QTest::newRow("a file where the log folder goes")
            << true << "cannot create the log folder Logs";
    }
    void startUpLoadsAndStaysOffline()
    {
        QFETCH(bool, folderBlocked);
        QFETCH(QString, note);
        touch(QStringLiteral("Quillet.set"), "[BASIC]\r\nLogFilePath=Logs/q.log\r\n[COMM]\r\n"
                                             "COMPORT=/dev/quillet-no-such-port\r\n");
        touch(QStringLiteral("Quillet.sys"));
        if (folderBlocked)
            touch(QStringLiteral("Logs"));
        QVERIFY(QFile::copy(QStringLiteral(QUILLET_BIN_DIR "/GSMCodeMap.cod"),
                            QStringLiteral("GSMCodeMap.cod")));
        AlarmPipeline pipeline;
        frmMain form;
        form.attach(pipeline);
        BoxRecorder boxes;
        TerminateRecorder ended;
        pipeline.CreateDevice();
        QVERIFY(StartUp(pipeline));
        QCOMPARE(ended.count(), 0);
        QCOMPARE(boxes.count(), 0);
        QCOMPARE(QFile::exists(QStringLiteral("Logs/q.log")), !folderBlocked);
        QVERIFY(G.LastLogFileFullPath.isEmpty()); // the first record re-checks
        QCOMPARE(form.statusPanelText(QStringLiteral("Status")), QStringLiteral("Offline"));
        QVERIFY(form.mnuFileOffLine->isChecked());
        QVERIFY(!form.mnuFileOnLine->isChecked());
        QVERIFY(pipeline.tmrRetryOnline.isActive());
        QVERIFY(!pipeline.tmrAlarmLogger.isActive());
        const QString shown = form.statusPanelText(QStringLiteral("Note"));
        QVERIFY2(shown.startsWith(QLatin1String("cannot open /dev/quillet-no-such-port")),
                 qPrintable(shown));
        QVERIFY2(shown.contains(note), qPrintable(shown));
        pipeline.GoOffline();
        pipeline.TerminateDevice();
    }

    void exitConfirmation_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("ends");
        QTest::newRow("No keeps running") << int(BoxAnswer::No) << false;
        QTest::newRow("Yes ends") << int(BoxAnswer::Yes) << true;
    }
    void exitConfirmation()
    {
        QFETCH(int, answer);
        QFETCH(bool, ends);
        AlarmPipeline pipeline;
        frmMain form;
        form.attach(pipeline);
        form.show();
        pipeline.IsOffline = false;
        BoxRecorder boxes;
        boxes.script({BoxAnswer(answer)});
        TerminateRecorder ended;
        QCOMPARE(pipeline.ExitSystem(true), ends);
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().text, QStringLiteral("Are you sure to exit system?"));
        QCOMPARE(boxes.last().title, QStringLiteral("System Exit"));
        QCOMPARE(boxes.last().buttons, BoxButtons::YesNo);
        QCOMPARE(boxes.last().icon, BoxIcon::Question);
        QCOMPARE(ended.count(), ends ? 1 : 0);
        QCOMPARE(pipeline.IsOffline, ends);
        QCOMPARE(form.isVisible(), !ends);
    }

    // A lock whose owner is gone is taken over, whatever its file says: a
    // start killed in its first instant leaves one that names no owner, and
    // after a crash or a power cut the id it names may be another live
    // logger's (the next folder's, started at the same boot). One an owner is
    // still writing (just made) stays.
    void staleLockIsTakenOver_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("ageSeconds");
        QTest::addColumn<bool>("taken");
        const QByteArray live =
            QByteArray::number(QCoreApplication::applicationPid()) + '\n' +
            QFileInfo(QCoreApplication::applicationFilePath()).fileName().toUtf8() + "\n\n";
        QTest::newRow("empty, old") << QByteArray() << 60 << true;
        QTest::newRow("garbage, old") << QByteArray("\x01\x02not a pid") << 60 << true;
        QTest::newRow("empty, just made") << QByteArray() << 0 << false;
        QTest::newRow("names a live logger that does not hold it") << live << 0 << true;
    }

    void staleLockIsTakenOver()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, ageSeconds);
        const QString path = QDir::currentPath() + QStringLiteral("/instance.lock");
        touch(path, content);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds),
                                 QFileDevice::FileModificationTime));
        file.close();
        QLockFile lock(path);
        QTEST(AcquireInstanceLock(lock), "taken");
    }

    // One lock per folder: a second folder has its own, the first stays held.
    // A folder the logger may not write in still has one, in the temp folder
    // under the folder's name.
    void instanceLockPerFolder_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("two folders") << false;
        QTest::newRow("a read-only folder and another") << true;
    }
    void instanceLockPerFolder()
    {
        QFETCH(bool, readOnly);
        ScratchMount mount;
        const QString first =
            readOnly ? mount.readOnlyFolder(QDir::currentPath() + QStringLiteral("/ro"))
                     : QDir::currentPath();
        QVERIFY2(!first.isEmpty(), qPrintable(mount.error()));
        QTemporaryDir second, temp;
        const QByteArray oldTemp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(temp.path()));
        std::unique_ptr<QLockFile> locks[3];
        const QString folders[3] = {first, second.path(), first};
        for (int i = 0; i < 3; ++i) {
            QDir::setCurrent(folders[i]);
            locks[i] = TakeInstanceLock();
        }
        qputenv("TMPDIR", oldTemp);
        QVERIFY(locks[0] && locks[1]);
        QVERIFY(!locks[2]);
        QCOMPARE(locks[0]->fileName().startsWith(temp.path() + QLatin1Char('/')), readOnly);
    }

    void secondCopyIsRefusedAndTouchesNothing()
    {
        const QString exe = QStringLiteral(QUILLET_BIN_DIR "/quillet");
        QVERIFY(QFile::exists(exe));
        QTemporaryDir lockDir;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMPDIR"), lockDir.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

        const QString firstDir = QDir::currentPath() + QStringLiteral("/first");
        const QString secondDir = firstDir; // one logger per folder
        QDir().mkpath(firstDir);
        QDir().mkpath(secondDir);
        touch(firstDir + QStringLiteral("/Quillet.set"), "[BASIC]\r\nIsDebugMode=1\r\n");
        touch(firstDir + QStringLiteral("/Quillet.sys"));
        touch(secondDir + QStringLiteral("/Quillet.set"), "[BASIC]\r\nIsDebugMode=1\r\n");
        touch(secondDir + QStringLiteral("/Quillet.sys"));

        QProcess first;
        first.setProcessEnvironment(env);
        first.setWorkingDirectory(firstDir);
        first.start(exe, {});
        QVERIFY(first.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(firstDir + QStringLiteral("/Quillet.log")), 20000);

        const QStringList before = listFiles(secondDir);
        QProcess second;
        second.setProcessEnvironment(env);
        second.setWorkingDirectory(secondDir);
        second.start(exe, {});
        QVERIFY(second.waitForFinished(20000));
        QVERIFY(second.readAllStandardError().contains("Quillet is running!"));
        QCOMPARE(listFiles(secondDir), before);

        first.kill();
        first.waitForFinished();
    }
};

QTEST_MAIN(tst_StartUp)
#include "tst_startup.moc"
