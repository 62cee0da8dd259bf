#include "cleanexit.h"

#include "globals.h"
#include "polling.h"
#include "startup.h"

#include <QEvent>
#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace quillet::app {

namespace {

int s_pipe[2] = {-1, -1};
bool s_requested = false;
bool s_startingUp = false;
bool s_ending = false;
int s_graceMs = 4000;
QTimer *s_grace = nullptr;

// Only async-signal-safe calls here: the byte wakes the event loop, which
// does the rest.
void onSignal(int signo)
{
    const int saved = errno;
    const char byte = char(signo);
    [[maybe_unused]] const ssize_t n = ::write(s_pipe[1], &byte, 1);
    errno = saved;
}

void finish()
{
    if (s_ending)
        return;
    s_ending = true;
    if (s_grace)
        s_grace->stop();
    ExitSystem(false);
}

bool mayFinishNow()
{
    return !IsPolling() && !s_startingUp;
}

// The session manager's "die" reaches the application as a Quit event; the
// main window would refuse the close it implies (it hides to the tray).
class QuitFilter : public QObject
{
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit) {
            RequestCleanExit("end of the session");
            return true;
        }
        return false;
    }
};

} // namespace

void InstallCleanExit()
{
    auto *app = QCoreApplication::instance();
    if (s_pipe[0] >= 0 || !app)
        return;
    if (::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto *notifier = new QSocketNotifier(s_pipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [] {
        char bytes[16];
        ssize_t n;
        while ((n = ::read(s_pipe[0], bytes, sizeof bytes)) > 0) {
            for (ssize_t i = 0; i < n; ++i)
                RequestCleanExit(bytes[i] == SIGINT ? "SIGINT" : "SIGTERM");
        }
    });
    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted system calls go on, so a record's write is never cut short.
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);

    app->installEventFilter(new QuitFilter(app));
#ifndef QT_NO_SESSIONMANAGER
    // The logger never refuses the end of a session, and is not brought back
    // by the session manager (that would start it with "-session", which it
    // refuses): it starts at login from autostart, or runs as a service.
    if (auto *gui = qobject_cast<QGuiApplication *>(app)) {
        auto noRestart = [](QSessionManager &manager) {
            manager.setRestartHint(QSessionManager::RestartNever);
        };
        QObject::connect(gui, &QGuiApplication::commitDataRequest, gui, noRestart);
        QObject::connect(gui, &QGuiApplication::saveStateRequest, gui, noRestart);
    }
#endif
    QObject::connect(app, &QCoreApplication::aboutToQuit, app,
                     [] { RequestCleanExit("end of the event loop"); });

    s_grace = new QTimer(app);
    s_grace->setSingleShot(true);
    QObject::connect(s_grace, &QTimer::timeout, app, [] { finish(); });
}

void SetStartingUp(bool starting)
{
    s_startingUp = starting;
    if (!starting && s_requested && mayFinishNow())
        finish();
}

void CleanExitPollProgress()
{
    if (s_requested && mayFinishNow())
        finish();
}

void RequestCleanExit(const char *why)
{
    if (s_requested)
        return;
    s_requested = true;
    QTextStream(stderr) << "Quillet: " << why << ", ending" << Qt::endl;
    // A running poll stops before its next message.
    G.IsOffline = true;
    if (mayFinishNow()) {
        finish();
        return;
    }
    if (s_grace)
        s_grace->start(s_graceMs);
}

bool IsCleanExitRequested()
{
    return s_requested;
}

void SetCleanExitGraceMs(int ms)
{
    s_graceMs = ms;
}

void ResetCleanExitForTest()
{
    s_requested = false;
    s_ending = false;
    s_startingUp = false;
    if (s_grace)
        s_grace->stop();
}

} // namespace quillet::app
