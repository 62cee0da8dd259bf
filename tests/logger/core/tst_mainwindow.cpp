// The main window: menus, the tray's File pop-up, state texts and the band,
// the message display and the recent alarms, acknowledging, the tray's alarm
// state, the silence question and how the viewer is started.

#include "boxrecorder.h"
#include "globals.h"
#include "mainwindow.h"
#include "pipeline.h"
#include "sound.h"

#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTreeWidget>
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
            {form.mnuFileAcknowledge, "Acknowledge", true},
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

    void bandFollowsState_data()
    {
        QTest::addColumn<bool>("online");
        QTest::addColumn<QString>("logProblem");
        QTest::addColumn<int>("conditions"); // begun; a negative count: begun, then ended
        QTest::addColumn<bool>("calm");
        QTest::addColumn<QString>("text");
        QTest::newRow("online") << true << QString() << 0 << true << "Online";
        QTest::newRow("offline by choice")
            << false << QString() << 0 << false
            << "Offline\nAlarms are not being read. File > Online reads them again.";
        QTest::newRow("online, log refused")
            << true << "the log is locked" << 0 << false << "Online\nthe log is locked";
        QTest::newRow("two conditions") << true << QString() << 2 << false
                                        << "Online\nNETWORK LOST: not registered (searching)\n"
                                           "SITE SILENT North Pump: nothing for 24 hours";
        QTest::newRow("conditions ended") << true << QString() << -2 << true << "Online";
    }
    void bandFollowsState()
    {
        QFETCH(bool, online);
        QFETCH(QString, logProblem);
        QFETCH(int, conditions);
        QFETCH(bool, calm);
        QFETCH(QString, text);
        AlarmPipeline pipeline;
        frmMain form;
        form.attach(pipeline);
        form.ApplyConnectionState(online);
        pipeline.Log().setProblem(logProblem);
        emit pipeline.problemNoted(pipeline.Problems());
        const SupervisionCondition began[] = {
            {ConditionKind::NoNetwork, "NETWORK LOST", {}, {}, "not registered (searching)"},
            {ConditionKind::SiteSilent, "SITE SILENT", "North Pump", {}, "nothing for 24 hours"}};
        for (int i = 0; i < qAbs(conditions); ++i)
            emit pipeline.conditionBegan(began[i]);
        for (int i = 0; i < -conditions; ++i)
            emit pipeline.conditionEnded(began[i], QStringLiteral("back"));
        QCOMPARE(form.bandText(), text);
        QCOMPARE(form.bandState() == BandState::Calm, calm);
        const QColor colour =
            form.findChild<QFrame *>("stateBand")->palette().color(QPalette::Window);
        QCOMPARE(colour.green() > colour.red(), calm);
        QVERIFY(form.trayToolTip().endsWith(text.section(u'\n', 0, 1).replace(u'\n', ": ")));
    }

    void acknowledgeClearsAlerts_data()
    {
        QTest::addColumn<bool>("byMenu");
        QTest::newRow("button") << false;
        QTest::newRow("menu") << true;
    }
    void acknowledgeClearsAlerts()
    {
        QFETCH(bool, byMenu);
        G.IsUseSoundAlert = true;
        int closes = 0;
        QStringList notes;
        AlarmPipeline pipeline;
        frmMain form;
        form.sound().setPlayer(std::make_unique<CountingPlayer>(&closes));
        form.setNotifier(
            [&](const QString &title, const QString &text) { notes << title + u'|' + text; });
        form.attach(pipeline);
        form.ApplyConnectionState(true);
        auto alarm = [&](const char *site, const char *number, const char *text) {
            pipeline.LastSMSDate = QStringLiteral("12/08/2026 09:15:00");
            pipeline.LastSMSCallerID = QString::fromUtf8(site);
            pipeline.LastSMSPhoneNo = QString::fromUtf8(number);
            pipeline.LastSMSText = QString::fromUtf8(text);
            emit pipeline.messageShown();
        };
        alarm("North Pump", "0912345678", "Level high");
        const auto shows = [&](const QString &text) {
            const QList<QLabel *> labels = form.findChildren<QLabel *>();
            return std::any_of(labels.begin(), labels.end(),
                               [&](const QLabel *l) { return l->text() == text; });
        };
        QVERIFY(shows("North Pump (0912345678)")); // the site as logged, the number beside
        alarm("0987654321", "0987654321", "泵浦故障");
        QCOMPARE(form.unacknowledgedCount(), 2);
        QCOMPARE(notes,
                 (QStringList{"Alarm: North Pump|Level high", "Alarm: 0987654321|泵浦故障"}));
        const QTreeWidget &list = *form.alarmList();
        QCOMPARE(list.topLevelItem(0)->text(2), QStringLiteral("泵浦故障")); // newest first
        QVERIFY(frmMain::IsUnacknowledged(0, list) && frmMain::IsUnacknowledged(1, list));
        QVERIFY(list.topLevelItem(1)->font(1).bold());
        QCOMPARE(form.trayImageShown(), TrayImage::Alarm);
        QCOMPARE(
            form.trayToolTip(),
            QStringLiteral("Quillet\nNot acknowledged: 2\nNewest: 0987654321: 泵浦故障\nOnline"));
        QVERIFY(form.sound().IsSoundPlaying);

        if (byMenu)
            form.mnuFileAcknowledge->trigger();
        else
            QTest::mouseClick(form.findChild<QPushButton *>(), Qt::LeftButton);
        QCOMPARE(form.unacknowledgedCount(), 0);
        QVERIFY(!frmMain::IsUnacknowledged(0, list) && !frmMain::IsUnacknowledged(1, list));
        QVERIFY(!list.topLevelItem(1)->font(1).bold());
        QCOMPARE(form.trayImageShown(), TrayImage::Online);
        QCOMPARE(form.trayToolTip(), QStringLiteral("Quillet\nOnline"));
        QCOMPARE(closes, 1); // silenced
        QVERIFY(!form.mnuFileAcknowledge->isEnabled());

        // Only what arrives after the acknowledgement stands out.
        alarm("North Pump", "0912345678", "Level high again");
        QVERIFY(frmMain::IsUnacknowledged(0, list) && !frmMain::IsUnacknowledged(1, list));
        QCOMPARE(form.unacknowledgedCount(), 1);
        QCOMPARE(notes.size(), 3);
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

    // Last: the translation stays installed for the rest of the run.
    void chineseWhereTheDesktopIs()
    {
        qputenv("QUILLET_LANG", "en_US");
        QVERIFY(!InstallTranslations());
        qputenv("QUILLET_LANG", "zh-Hant-TW");
        QVERIFY(InstallTranslations());
        frmMain form;
        QCOMPARE(form.mnuFileAcknowledge->text(), QStringLiteral("確認"));
        QCOMPARE(form.bandText().section(u'\n', 0, 0), QStringLiteral("離線"));
        QCOMPARE(form.mnuFileOffLine->text(), QStringLiteral("Offline")); // the menus stay
    }
};

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
