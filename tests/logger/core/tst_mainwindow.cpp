// The main window: menus, the tray's File pop-up, state texts, the message
// display, the silence question and how the viewer is started.

#include "boxrecorder.h"
#include "globals.h"
#include "mainwindow.h"
#include "pipeline.h"
#include "sound.h"

#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QtTest>

using namespace quillet;
using quillet::test::BoxRecorder;

namespace {

class CountingPlayer : public SoundPlayer
{
public:
    int *closes;
    explicit CountingPlayer(int *c) : closes(c) {}
    void open(const QString &) override {}
    void play() override {}
    bool isStopped() const override { return false; }
    void rewind() override {}
    void close() override { ++*closes; }
};

} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init() { G = GlobalState{}; }

    void menusAsDesigned()
    {
        frmMain form;
        QCOMPARE(form.windowTitle(), QStringLiteral("Quillet "));
        const QList<QAction *> top = form.menuBar()->actions();
        QCOMPARE(top.size(), 4);
        QCOMPARE(top.at(0)->text(), QStringLiteral("File"));
        QCOMPARE(top.at(1)->text(), QStringLiteral("Tools"));
        QCOMPARE(top.at(2)->text(), QStringLiteral("Help"));
        QVERIFY(!top.at(3)->isVisible()); // the hidden small-window menu

        struct Item
        {
            QAction *action;
            const char *caption;
            bool visible;
        };
        const Item items[] = {
            {form.mnuFileOnLine, "Online", true},
            {form.mnuFileOffLine, "Offline", true},
            {form.mnuFileShowForm, "Open Quillet", false},
            {form.mnuFileSysExit, "Exit", true},
            {form.mnuToolsSettings, "Settings", true},
            {form.mnuToolsViewWarningMessage, "View Messages", true},
            {form.mnuHelpContents, "Content (&C) ...", false},
            {form.mnuHelpAbout, "About (&A) ...", true},
        };
        for (const Item &item : items) {
            QCOMPARE(item.action->text(), QString::fromUtf8(item.caption));
            QCOMPARE(item.action->isVisible(), item.visible);
        }
        QVERIFY(form.mnuFileOffLine->isChecked());
        QVERIFY(!form.mnuFileOnLine->isChecked());
        QCOMPARE(form.statusPanelText(QStringLiteral("Status")), QStringLiteral("Offline"));
        QCOMPARE(form.tmrMCI->interval(), 1000);
        AlarmPipeline pipeline;
        QCOMPARE(pipeline.tmrAlarmLogger.interval(), 5000);
        QVERIFY(!pipeline.tmrAlarmLogger.isActive());
    }

    void stateTextsAndChecks()
    {
        AlarmPipeline pipeline;
        frmMain form;
        form.attach(pipeline);
        form.ApplyConnectionState(true);
        QVERIFY(form.mnuFileOnLine->isChecked());
        QVERIFY(!form.mnuFileOffLine->isChecked());
        QCOMPARE(form.statusPanelText(QStringLiteral("Status")), QStringLiteral("Online"));
        QCOMPARE(form.TrayIconImage, TrayImage::Online);
        pipeline.tmrAlarmLogger.start();
        form.mnuFileOffLine->trigger();
        QVERIFY(!pipeline.tmrAlarmLogger.isActive());
        QVERIFY(form.mnuFileOffLine->isChecked());
        QCOMPARE(form.statusPanelText(QStringLiteral("Status")), QStringLiteral("Offline"));
        QCOMPARE(form.TrayIconImage, TrayImage::Offline);
        QVERIFY(pipeline.IsOffline);
        pipeline.ReceivedSMSCount = 12;
        form.LoadFormObj();
        QCOMPARE(form.statusPanelText(QStringLiteral("Action")), QStringLiteral("SMS count : 12"));
    }

    // The clock reads as the log does, not "2026/12/8 B18:09" as zh_TW's forms.
    void clockInTheLogsForm()
    {
        QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::Taiwan));
        frmMain form;
        QLocale::setDefault(QLocale::c());
        QStringList texts;
        for (const QLabel *panel : form.statusBar()->findChildren<QLabel *>())
            texts.append(panel->text());
        static const QRegularExpression clock("\\|\\d\\d/\\d\\d/\\d{4}\\|\\d\\d:\\d\\d:\\d\\d$");
        QVERIFY2(texts.join(u'|').contains(clock), qPrintable(texts.join(u'|')));
    }

    void trayPopupSwapsExitForOpen()
    {
        frmMain form;
        form.show();
        form.PopupTrayMenu(QPoint(10, 10));
        QVERIFY(form.mnuFileShowForm->isVisible());
        QVERIFY(!form.mnuFileSysExit->isVisible());
        QVERIFY(form.mnuFileOnLine->isVisible());
        QVERIFY(form.mnuFileOffLine->isVisible());
        form.mnuFile->hide();
        // The window's own File menu keeps "Open Quillet" until it is chosen.
        form.mnuFileShowForm->trigger();
        QVERIFY(!form.mnuFileShowForm->isVisible());
        QVERIFY(form.mnuFileSysExit->isVisible());
        QVERIFY(form.isVisible());
    }

    void closeKeepsTheLoggerReachable()
    {
        frmMain form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.close();
        if (QSystemTrayIcon::isSystemTrayAvailable()) {
            QVERIFY(form.IsInTray);
            QVERIFY(!form.isVisible());
        } else {
            // No tray here: the window is minimised, never hidden away.
            QVERIFY(!form.IsInTray);
            QTRY_VERIFY(form.isMinimized() || form.isVisible());
        }
    }

    void viewerGetsPathAsOneArgument()
    {
        QString program;
        QStringList args;
        frmMain form;
        form.setProcessStarter([&](const QString &p, const QStringList &a) {
            program = p;
            args = a;
            return true;
        });
        G.LogFileFullPath = QStringLiteral("/srv/alarm logs/a b.log");
        form.mnuToolsViewWarningMessage->trigger();
        QVERIFY(program.endsWith(QStringLiteral("orvane")));
        QCOMPARE(args,
                 (QStringList{QStringLiteral("/srv/alarm logs/a b.log"), QStringLiteral("-na")}));
    }

    void rightClickSilences_data()
    {
        QTest::addColumn<bool>("playing");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("boxes");
        QTest::addColumn<bool>("stillPlaying");
        QTest::newRow("silent: no question") << false << int(BoxAnswer::Ok) << 0 << false;
        QTest::newRow("OK silences") << true << int(BoxAnswer::Ok) << 1 << false;
        QTest::newRow("Cancel keeps it") << true << int(BoxAnswer::Cancel) << 1 << true;
    }
    void rightClickSilences()
    {
        QFETCH(bool, playing);
        QFETCH(int, answer);
        QFETCH(int, boxes);
        QFETCH(bool, stillPlaying);
        int closes = 0;
        frmMain form;
        form.sound().setPlayer(std::make_unique<CountingPlayer>(&closes));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.sound().IsSoundPlaying = playing;
        BoxRecorder recorder;
        recorder.script({BoxAnswer(answer)});
        QTest::mouseClick(form.centralWidget(), Qt::RightButton);
        QCOMPARE(recorder.count(), boxes);
        if (boxes) {
            QCOMPARE(recorder.last().title, QStringLiteral("Silence the alert sound"));
            QCOMPARE(recorder.last().text, QStringLiteral("Press OK to silence the alert sound!"));
            QCOMPARE(recorder.last().buttons, BoxButtons::OkCancel);
        }
        QCOMPARE(form.sound().IsSoundPlaying, stillPlaying);
        QCOMPARE(closes, playing && !stillPlaying ? 1 : 0);
    }
};

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
