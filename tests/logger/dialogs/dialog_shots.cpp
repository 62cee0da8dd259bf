// Saves each settings tab, the About box, the text-input dialog and the main
// window with a dozen alarms (at 800x600 and filling the screen, calm and
// alarming) as PNG files, with the tray's alarm state drawn as a desktop
// shows it, for looking at them as a user would:
//   dialog_shots [folder]      (default /tmp/shots; needs a display)
// The window's texts follow QUILLET_LANG or the desktop's language.

#include "centralsender.h"
#include "frmabout.h"
#include "frmsettings.h"
#include "frmstring.h"
#include "globals.h"
#include "hostservices.h"
#include "logfile.h"
#include "mainwindow.h"
#include "outbox.h"
#include "outputpaths.h"
#include "qtboxes.h"
#include "supervision.h"
#include "timetext.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QVBoxLayout>

using namespace quillet;

namespace {

void save(QWidget *w, const QString &path)
{
    // Twice: a layout redone for new fonts asks for one more pass.
    QApplication::processEvents();
    QApplication::processEvents();
    w->grab().save(path);
    QTextStream(stdout) << path << " " << w->width() << "x" << w->height() << Qt::endl;
}

// One alarm as the pipeline shows it.
void showAlarm(AlarmPipeline &pipeline, const QDateTime &moment, const QString &site,
               const QString &number, const QString &text)
{
    pipeline.LastSMSDate = timetext::Format(moment);
    pipeline.LastSMSCallerID = site;
    pipeline.LastSMSPhoneNo = number;
    pipeline.LastSMSText = text;
    ++pipeline.ReceivedSMSCount;
    emit pipeline.messageShown();
}

// A dozen alarms, the older eight acknowledged; the newest text is long.
void feedAlarms(AlarmPipeline &pipeline, frmMain &form)
{
    const QStringList sites = QString::fromUtf8("North Pump Station,南區水廠,West Reservoir,"
                                                "0987654321,東門加壓站,中央監控室")
                                  .split(u',');
    const QStringList texts =
        QString::fromUtf8("A3 Pump failure,水位過高警報，請派員檢查,Flow below set point on line "
                          "2,Door opened,泵浦故障 馬達溫度過高 已自動停機 請儘速派員到場處理,"
                          "Tank 4 overflow,通訊中斷後恢復")
            .split(u',');
    QDateTime moment(QDate(2026, 12, 8), QTime(6, 12, 40));
    for (int n = 0; n < 11; ++n) {
        moment = moment.addSecs(17 * 60 + n * 131);
        const QString &site = sites[n % sites.size()];
        const QString number =
            site.startsWith(u'0') ? site : QStringLiteral("091234500%1").arg(n % 6);
        showAlarm(pipeline, moment, site, number, texts[n % texts.size()]);
        if (n == 7)
            form.Acknowledge();
    }
    showAlarm(pipeline, moment.addSecs(300), QStringLiteral("East Booster"),
              QStringLiteral("0912345007"),
              QStringLiteral("HIGH LEVEL ALARM tank 3 at 97% - inlet valve V12 failed to close"));
}

// The tray as a desktop shows it in its alarm state: the icon on a dark panel,
// its tooltip, and the notification of one more alarm. Drawn here because a
// virtual display has no tray host to show the real one.
void saveTray(frmMain &form, const QString &path)
{
    QString notification;
    form.setNotifier([&](const QString &title, const QString &text) {
        notification =
            QStringLiteral("<b>%1</b><br>%2").arg(title.toHtmlEscaped(), text.toHtmlEscaped());
    });
    showAlarm(*form.pipeline(), QDateTime::currentDateTime(), QStringLiteral("East Booster"),
              QStringLiteral("0912345007"), QStringLiteral("Pump P2 tripped on overcurrent"));
    QWidget sheet;
    auto *layout = new QVBoxLayout(&sheet);
    auto *panel = new QLabel(&sheet);
    panel->setPixmap(form.trayIcon()->icon().pixmap(32, 32));
    panel->setAlignment(Qt::AlignRight);
    panel->setMargin(6);
    panel->setStyleSheet(QStringLiteral("background: #303338;"));
    auto *tip = new QLabel(form.trayToolTip(), &sheet);
    tip->setStyleSheet(QStringLiteral("QLabel { border: 1px solid gray; padding: 6px; }"));
    tip->setAutoFillBackground(true);
    tip->setBackgroundRole(QPalette::ToolTipBase);
    tip->setForegroundRole(QPalette::ToolTipText);
    auto *note = new QLabel(notification, &sheet);
    note->setStyleSheet(QStringLiteral("QLabel { border: 1px solid gray; padding: 10px; }"));
    layout->addWidget(panel);
    layout->addWidget(tip, 0, Qt::AlignRight);
    layout->addWidget(note, 0, Qt::AlignRight);
    sheet.show();
    save(&sheet, path);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillet"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLET_VERSION));
    InstallTranslations();
    const QString folder =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/shots");
    QDir().mkpath(folder);

    G.LogFilePath = QStringLiteral("Logs/Quillet.log");
    G.IsSaveAsMDB = true;
    G.MDBFilePath = QStringLiteral("Logs/Quillet.mdb");
    G.IsUseSoundAlert = true;
    G.SoundFilePath = QStringLiteral("Notify.wav");
    G.COMPORT = QStringLiteral("COM1");
    G.BAUDRATE = QStringLiteral("9600");
    G.DATABIT = QStringLiteral("8");
    G.PARITYBIT = QStringLiteral("None");
    G.STOPBIT = QStringLiteral("1");
    G.EnableSitePhoneNumberMap = true;
    const SiteEntry sites[] = {{QStringLiteral("5678"), QStringLiteral("North Pump Station")},
                               {QStringLiteral("1234"), QStringLiteral("South Reservoir")},
                               {QStringLiteral("0912345001"), QStringLiteral("東區配水池")}};
    for (const SiteEntry &e : sites)
        G.SitePhoneNumberMap[G.SitePhoneNumberCount++] = e;

    // The About box takes its picture from the main window.
    AlarmPipeline pipeline;
    frmMain mainForm;
    mainForm.attach(pipeline);

    frmSettings settings;
    settings.LoadFormObj();
    settings.show();
    for (int i = 0; i < settings.SSTab1->count(); ++i) {
        settings.SSTab1->setCurrentIndex(i);
        save(&settings, folder + QStringLiteral("/settings-%1.png").arg(i + 1));
    }
    // A central database in the database box: its Test button is live.
    settings.SSTab1->setCurrentIndex(0);
    settings.txtMDBFilePath->setText(
        QStringLiteral("postgresql://quillet@db.example/alarms?sslmode=require"));
    save(&settings, folder + QStringLiteral("/settings-1-central.png"));
    settings.chkIsUseTelListMap->setChecked(false);
    save(&settings, folder + QStringLiteral("/settings-3-map-off.png"));
    settings.hide();

    auto *about = new frmAbout(&mainForm);
    about->show();
    save(about, folder + QStringLiteral("/about.png"));
    about->close();

    // The window as an operator sees it: a dozen alarms, four unacknowledged;
    // calm, with two conditions on, then offline filling the screen (a virtual
    // display has no window manager to maximise it).
    G.IsUseSoundAlert = false;
    feedAlarms(pipeline, mainForm);
    emit pipeline.stateChanged(true, QString());
    mainForm.show();
    mainForm.resize(800, 600);
    save(&mainForm, folder + QStringLiteral("/main-800x600.png"));
    const SupervisionCondition conditions[] = {{ConditionKind::NoNetwork,
                                                "NETWORK LOST",
                                                {},
                                                {},
                                                "not registered (searching) since "
                                                "12/08/2026 09:15:00"},
                                               {ConditionKind::SiteSilent,
                                                "SITE SILENT",
                                                "West Reservoir",
                                                {},
                                                "nothing since 12/07/2026 08:02:11 (24 hours)"}};
    for (const SupervisionCondition &c : conditions)
        emit pipeline.conditionBegan(c);
    save(&mainForm, folder + QStringLiteral("/main-800x600-conditions.png"));
    mainForm.setGeometry(mainForm.screen()->availableGeometry());
    emit pipeline.stateChanged(false, QString());
    mainForm.setStatusPanelText("Note", "Device /dev/ttyUSB0 does not answer; retrying");
    save(&mainForm, folder + QStringLiteral("/main-maximised.png"));
    saveTray(mainForm, folder + QStringLiteral("/tray.png"));
    mainForm.Acknowledge();
    for (const SupervisionCondition &c : conditions)
        emit pipeline.conditionEnded(c, QString());
    emit pipeline.stateChanged(true, QString());
    mainForm.resize(720, 540);

    // The main window while rows wait for a central database that is down.
    QTemporaryDir central;
    G.SettingFile = central.filePath(QStringLiteral("Quillet.set"));
    G.MDBFilePath = QStringLiteral("postgresql://quillet@/alarms?host=") + central.path();
    pipeline.ReceivedSMSCount = 3;
    CheckMDBFilePath(false);
    for (int n = 1; n <= 3; ++n)
        AppendAlarmToOutbox(QStringLiteral("2024/03/07 02:05:0%1 PM").arg(n),
                            QStringLiteral("North Pump Station"), QStringLiteral("Level high"));
    mainForm.show();
    QElapsedTimer wait;
    wait.start();
    while (wait.elapsed() < 500)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    save(&mainForm, folder + QStringLiteral("/main-rows-waiting.png"));
    mainForm.hide();
    StopCentralSender();
    // The main window with what keeps it from its work, and a box that
    // counts its repeats instead of stacking them.
    pipeline.Log().setProblem(QStringLiteral("cannot create the log folder /srv/alarms"));
    mainForm.show();
    save(&mainForm, folder + QStringLiteral("/main-note.png"));
    // The health panel before the first health check has asked the modem
    // anything: the SIM's fill, then a SIM left 24 of 30 full, in red.
    pipeline.Log().setProblem(QString());
    pipeline.supervisor().pollDone(3, 30, true);
    save(&mainForm, folder + QStringLiteral("/main-health.png"));
    pipeline.supervisor().pollDone(24, 30, true);
    save(&mainForm, folder + QStringLiteral("/main-health-on.png"));
    // The panel as wide as it gets on a 30-message SIM.
    mainForm.setStatusPanelText(QStringLiteral("Health"), QStringLiteral("-107 dBm 29/30"));
    save(&mainForm, folder + QStringLiteral("/main-health-wide.png"));
    InstallQtMessageBoxes(true);
    for (int i = 0; i < 50; ++i)
        MsgBoxNonBlocking(QStringLiteral("CRC is Error.CRC1=4660,CRC2=22136str=,F7,50,0,0,2"),
                          BoxIcon::Critical, QStringLiteral("Receive Command Error"));
    for (QWidget *w : QApplication::topLevelWidgets())
        if (qobject_cast<QMessageBox *>(w) && w->isVisible())
            save(w, folder + QStringLiteral("/box-counted.png"));

    frmString &input = frmString::Instance();
    QTimer::singleShot(0, [&] {
        save(&input, folder + QStringLiteral("/string.png"));
        input.reject();
    });
    input.KeyInString(QStringLiteral("New site phone number"), QStringLiteral("Phone numer :"),
                      QString(), QStringLiteral("Description :"), QString());
    return 0;
}
