// The clean ends in-process: the desktop session's quit, SIGTERM and SIGINT
// each run the pipeline's ExitSystem once, without the confirmation, and a
// second request changes nothing.

#include "boxrecorder.h"
#include "cleanexit.h"
#include "globals.h"
#include "mainwindow.h"
#include "pipeline.h"
#include "qtboxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
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
    void endsThroughExitSystem_data()
    {
        QTest::addColumn<int>("signo"); // 0: the session's quit
        QTest::addColumn<bool>("confirmationOpen");
        QTest::newRow("session quit") << 0 << false;
        QTest::newRow("SIGTERM") << int(SIGTERM) << false;
        QTest::newRow("SIGINT") << int(SIGINT) << false;
        // File > Exit asked and not answered yet: the question holds nothing up.
        QTest::newRow("SIGTERM, the exit question open") << int(SIGTERM) << true;
    }
    void endsThroughExitSystem()
    {
        QFETCH(int, signo);
        QFETCH(bool, confirmationOpen);
        G = GlobalState{};
        AlarmPipeline pipeline;
        frmMain form;
        form.attach(pipeline);
        form.show();
        app::CleanExit cleanExit(pipeline);
        cleanExit.install();
        BoxRecorder boxes;
        TerminateRecorder ended;
        if (confirmationOpen) {
            InstallQtMessageBoxes(true); // a real window, left open
            form.mnuFileSysExit->trigger();
        }

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
        if (confirmationOpen) {
            QMessageBox *question = nullptr;
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
                    question = box;
            QVERIFY(question);
            QCOMPARE(question->windowTitle(), QStringLiteral("System Exit"));
            question->button(QMessageBox::No)->click();
            QCOMPARE(ended.count(), 1);
        } else {
            QCOMPARE(boxes.count(), 0); // no "Are you sure to exit system?"
        }
        QVERIFY(pipeline.IsOffline);
        QVERIFY(!form.isVisible()); // unloaded
        QVERIFY(cleanExit.isRequested());
    }
};

QTEST_MAIN(tst_CleanExit)
#include "tst_cleanexit.moc"
