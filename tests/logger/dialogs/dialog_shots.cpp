// Saves each settings tab, the About box and the text-input dialog as PNG
// files at their default sizes, for looking at them as a user would:
//   dialog_shots [folder]      (default /tmp/shots; needs a display)

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

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

using namespace quillet;

namespace {

void save(QWidget *w, const QString &path)
{
    QApplication::processEvents();
    w->grab().save(path);
    QTextStream(stdout) << path << " " << w->width() << "x" << w->height() << Qt::endl;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillet"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLET_VERSION));
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
