#include "entry.h"

#include "cleanexit.h"
#include "debuglog.h"
#include "globals.h"
#include "headless.h"
#include "hostservices.h"
#include "journal.h"
#include "mainwindow.h"
#include "pipeline.h"
#include "service.h"
#include "startup.h"
#include "statuspublisher.h"

#include <QApplication>
#include <QLockFile>
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

    // The program's one pipeline, and those who listen to it. They live until
    // the end, which leaves through the terminate hook below and never
    // returns here.
    AlarmPipeline pipeline(G);
    ServiceReporter service;
    // The heartbeat first: a clean end the same progress lets through never
    // returns.
    QObject::connect(&pipeline, &AlarmPipeline::pollProgressed, &service,
                     [&service] { service.pollProgress(); });
    Journal journal;
    journal.attach(pipeline);
    StatusPublisher status;
    status.attach(pipeline, &journal);
    CleanExit cleanExit(pipeline);
    bool inStartUp = false;
    SetTerminateHandler([&] {
        pipeline.Shutdown();
        service.stopping();
        lock->unlock();
        // Start-up ends the program only when it cannot run (its files are
        // missing): a failure, which a service manager must neither take for
        // success nor restart in a loop.
        std::exit(inStartUp && !cleanExit.isRequested() ? StartUpFailedExitCode : 0);
    });
    cleanExit.install();

    auto *form = new frmMain;
    form->attach(pipeline);
    service.attach(*form);
    form->LoadFormObj();
    if (!headless)
        form->show();
    pipeline.CreateDevice();

    cleanExit.setStartingUp(true);
    inStartUp = true;
    const bool started = StartUp(pipeline);
    inStartUp = false;
    if (started)
        service.ready();
    cleanExit.setStartingUp(false); // an end asked for meanwhile runs now
    if (!started)
        return 0;
    return QApplication::exec();
}

} // namespace quillet::app
