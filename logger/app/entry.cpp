#include "entry.h"

#include "cleanexit.h"
#include "debuglog.h"
#include "globals.h"
#include "hostservices.h"
#include "mainwindow.h"
#include "polling.h"
#include "service.h"
#include "startup.h"

#include <QApplication>
#include <QTimer>
#include <cstdlib>

namespace quillet::app {

int RunLogger(bool headless)
{
    static std::unique_ptr<QLockFile> lock = TakeInstanceLock();
    if (!lock) {
        // Nothing else happens in a second copy: no window, no file touched.
        MsgBox(QStringLiteral("Quillet is running!"), BoxButtons::Ok, BoxIcon::Information,
               QStringLiteral("Quillet"));
        return 0;
    }
    G.SettingFile = QStringLiteral("Quillet.set");
    G.SystemFile = QStringLiteral("Quillet.sys");
    InstallDebugTrace();

    static ServiceReporter *service = new ServiceReporter(qApp);
    static bool inStartUp = false;
    SetTerminateHandler([] {
        service->stopping();
        lock->unlock();
        // Start-up ends the program only when it cannot run (its files are
        // missing): a failure, which a service manager must neither take for
        // success nor restart in a loop.
        std::exit(inStartUp && !IsCleanExitRequested() ? StartUpFailedExitCode : 0);
    });
    InstallCleanExit();
    SetPollProgressHook([] {
        service->pollProgress();
        CleanExitPollProgress();
    });

    auto *form = new frmMain;
    G.MainForm = form;
    service->attach(*form);
    form->LoadFormObj();
    if (!headless)
        form->show();
    CreateDevice();
    G.IsSoundPlaying = false;

    SetStartingUp(true);
    inStartUp = true;
    const bool started = StartUp();
    inStartUp = false;
    if (started)
        service->ready();
    SetStartingUp(false); // an end asked for meanwhile runs now
    if (!started)
        return 0;
    return QApplication::exec();
}

} // namespace quillet::app
