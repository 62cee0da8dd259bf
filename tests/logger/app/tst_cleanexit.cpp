// The clean ends in-process: the desktop session's quit, SIGTERM and SIGINT
// each run ExitSystem once, without the confirmation, and a second request
// changes nothing.

#include "boxrecorder.h"
#include "cleanexit.h"
#include "globals.h"
#include "mainwindow.h"

#include <QApplication>
#include <QTimer>
#include <QtTest>
#include <csignal>

using namespace quillet;
using quillet::test::BoxRecorder;
using quillet::test::TerminateRecorder;

class tst_CleanExit : public QObject
{
    Q_OBJECT

private slots:
    void init() { app::ResetCleanExitForTest(); }

    void endsThroughExitSystem_data()
    {
        QTest::addColumn<int>("signo"); // 0: the session's quit
        QTest::newRow("session quit") << 0;
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void endsThroughExitSystem()
    {
        QFETCH(int, signo);
        G = GlobalState{};
        frmMain form;
        form.show();
        G.MainForm = &form;
        app::InstallCleanExit();
        BoxRecorder boxes;
        TerminateRecorder ended;

        auto request = [signo] {
            if (signo)
                ::raise(signo);
            else
                QCoreApplication::quit();
        };
        // The session's quit only counts inside the event loop; the loop ends
        // once the end hook ran, or after a while when nothing ended it.
        QTimer watch;
        QElapsedTimer waited;
        waited.start();
        connect(&watch, &QTimer::timeout, [&] {
            if (ended.count() > 0 || waited.elapsed() > 3000)
                QCoreApplication::exit(0);
        });
        watch.start(20);
        QTimer::singleShot(0, request);
        QTimer::singleShot(50, request); // a second request while ending
        QApplication::exec();
        QTest::qWait(50);

        QCOMPARE(ended.count(), 1);
        QCOMPARE(boxes.count(), 0); // no "Are you sure to exit system?"
        QVERIFY(G.IsOffline);
        QVERIFY(!form.isVisible()); // unloaded
        QVERIFY(app::IsCleanExitRequested());
        G.MainForm = nullptr;
    }
};

QTEST_MAIN(tst_CleanExit)
#include "tst_cleanexit.moc"
