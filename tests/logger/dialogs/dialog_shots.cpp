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
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

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

// A dozen alarms, the older eight acknowledged; the newest text is long.
void feedAlarms(AlarmPipeline &pipeline, frmMain &form)
{
    const char *alarms[][3] = {
        {"North Pump Station", "0912345001", "A3 Pump failure"},
        {"南區水廠", "0912345002", "水位過高警報，請派員檢查"},
        {"West Reservoir", "0912345003", "Flow below set point on line 2"},
        {"0987654321", "0987654321", "Door opened"},
        {"東門加壓站", "0912345004", "電源異常 已切換備援電源"},
        {"North Pump Station", "0912345001", "A3 Pump running again"},
        {"中央監控室", "0912345005", "通訊中斷後恢復"},
        {"West Reservoir", "0912345003", "Chlorine level low"},
        {"新竹淨水場", "0912345006", "泵浦故障 馬達溫度過高 已自動停機 請儘速派員到場處理"},
        {"North Pump Station", "0912345001", "Intruder alarm gate 2"},
        {"南區水廠", "0912345002", "Tank 4 overflow"},
        {"East Booster", "0912345007",
         "HIGH LEVEL ALARM tank 3 at 97% - inlet valve V12 failed to close"},
    };
    QDateTime moment(QDate(2026, 12, 8), QTime(6, 12, 40));
    int n = 0;
    for (const auto &a : alarms) {
        moment = moment.addSecs(17 * 60 + n * 131);
        pipeline.LastSMSDate = timetext::Format(moment);
        pipeline.LastSMSCallerID = QString::fromUtf8(a[0]);
        pipeline.LastSMSPhoneNo = QString::fromUtf8(a[1]);
        pipeline.LastSMSText = QString::fromUtf8(a[2]);
        ++pipeline.ReceivedSMSCount;
        emit pipeline.messageShown();
        if (++n == 8)
            form.Acknowledge();
    }
}

// The tray as a desktop shows it in its alarm state: the icon on a panel, its
// tooltip, and the notification of the newest alarm. Drawn here because a
// virtual display has no tray host to show the real one.
void saveTray(frmMain &form, const QString &path)
{
    QWidget sheet;
    sheet.setAutoFillBackground(true);
    auto *layout = new QVBoxLayout(&sheet);
    auto *panel = new QWidget(&sheet);
    panel->setAutoFillBackground(true);
    QPalette dark = panel->palette();
    dark.setColor(QPalette::Window, QColor(0x30, 0x33, 0x38));
    panel->setPalette(dark);
    auto *panelLayout = new QHBoxLayout(panel);
    panelLayout->addStretch(1);
    for (int size : {22, 48}) {
        auto *icon = new QLabel(panel);
        icon->setPixmap(form.trayIcon()->icon().pixmap(size, size));
        panelLayout->addWidget(icon);
    }
    layout->addWidget(panel);
    auto *tip = new QLabel(form.trayToolTip(), &sheet);
    tip->setFrameStyle(QFrame::Box);
    tip->setMargin(6);
    tip->setForegroundRole(QPalette::ToolTipText);
    tip->setBackgroundRole(QPalette::ToolTipBase);
    tip->setAutoFillBackground(true);
    layout->addWidget(tip, 0, Qt::AlignRight);
    QString title;
    QString text;
    form.setNotifier([&](const QString &t, const QString &x) {
        title = t;
        text = x;
    });
    AlarmPipeline &pipeline = *form.pipeline();
    pipeline.LastSMSCallerID = QStringLiteral("East Booster");
    pipeline.LastSMSPhoneNo = QStringLiteral("0912345007");
    pipeline.LastSMSText = QStringLiteral("Pump P2 tripped on overcurrent");
    emit pipeline.messageShown();
    tip->setText(form.trayToolTip());
    auto *note = new QLabel(QStringLiteral("<b>%1</b><br>%2").arg(title.toHtmlEscaped(),
                                                                   text.toHtmlEscaped()),
                            &sheet);
    note->setFrameStyle(QFrame::Panel | QFrame::Raised);
    note->setMargin(10);
    note->setAutoFillBackground(true);
    note->setBackgroundRole(QPalette::Base);
    layout->addWidget(note, 0, Qt::AlignRight);
    sheet.resize(520, sheet.sizeHint().height());
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

    // The window as an operator sees it: a dozen alarms, four unacknowledged.
    G.IsUseSoundAlert = false;
    feedAlarms(pipeline, mainForm);
    emit pipeline.stateChanged(true, QString());
    mainForm.show();
    mainForm.resize(800, 600);
    save(&mainForm, folder + QStringLiteral("/main-800x600.png"));
    const SupervisionCondition conditions[] = {
        {ConditionKind::NoNetwork, BeginKeyword(ConditionKind::NoNetwork), QString(),
         QDateTime(), QStringLiteral("not registered (searching) since 12/08/2026 09:15:00")},
        {ConditionKind::SiteSilent, BeginKeyword(ConditionKind::SiteSilent),
         QStringLiteral("West Reservoir"), QDateTime(),
         QStringLiteral("nothing since 12/07/2026 08:02:11 (24 hours)")}};
    for (const SupervisionCondition &c : conditions)
        emit pipeline.conditionBegan(c);
    save(&mainForm, folder + QStringLiteral("/main-800x600-conditions.png"));
    for (const SupervisionCondition &c : conditions)
        emit pipeline.conditionEnded(c, QString());
    // Filling the screen (a virtual display has no window manager to maximise).
    mainForm.setGeometry(mainForm.screen()->availableGeometry());
    emit pipeline.stateChanged(false, QString());
    mainForm.setStatusPanelText(
        QStringLiteral("Note"),
        QStringLiteral("Device /dev/ttyUSB0 does not answer (unplugged?); retrying"));
    save(&mainForm, folder + QStringLiteral("/main-maximised.png"));
    saveTray(mainForm, folder + QStringLiteral("/tray.png"));
    mainForm.Acknowledge();
    mainForm.setStatusPanelText(QStringLiteral("Note"), QString());
    emit pipeline.stateChanged(true, QString());
    mainForm.hide();
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
