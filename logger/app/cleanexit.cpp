#include "cleanexit.h"

#include "pipeline.h"

#include <QEvent>
#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTextStream>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace quillet::app {

namespace {

// What a signal handler may touch: the pipe whose byte wakes the event loop.
int s_pipe[2] = {-1, -1};

// Only async-signal-safe calls here: the byte wakes the event loop, which
// does the rest.
void onSignal(int signo)
{
    const int saved = errno;
    const char byte = char(signo);
    [[maybe_unused]] const ssize_t n = ::write(s_pipe[1], &byte, 1);
    errno = saved;
}

// The session manager's "die" reaches the application as a Quit event; the
// main window would refuse the close it implies (it hides to the tray).
class QuitFilter : public QObject
{
public:
    QuitFilter(CleanExit &exit, QObject *parent) : QObject(parent), m_exit(exit) {}
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit) {
            m_exit.request("end of the session");
            return true;
        }
        return false;
    }

private:
    CleanExit &m_exit;
};

} // namespace

CleanExit::CleanExit(AlarmPipeline &pipeline, QObject *parent)
    : QObject(parent), m_pipeline(pipeline)
{
    m_grace.setSingleShot(true);
    connect(&m_grace, &QTimer::timeout, this, [this] { finish(); });
    connect(&pipeline, &AlarmPipeline::pollProgressed, this, [this] { pollProgress(); });
}

CleanExit::~CleanExit()
{
    if (m_quitFilter && QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(m_quitFilter);
}

void CleanExit::install()
{
    auto *app = QCoreApplication::instance();
    if (m_installed || !app)
        return;
    if (s_pipe[0] < 0) {
        if (::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        struct sigaction action
        {
        };
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        // Interrupted system calls go on, so a record's write is never cut short.
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &action, nullptr);
        ::sigaction(SIGINT, &action, nullptr);
    }
    m_installed = true;
    auto *notifier = new QSocketNotifier(s_pipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        ssize_t n;
        while ((n = ::read(s_pipe[0], bytes, sizeof bytes)) > 0) {
            for (ssize_t i = 0; i < n; ++i)
                request(bytes[i] == SIGINT ? "SIGINT" : "SIGTERM");
        }
    });

    m_quitFilter = new QuitFilter(*this, this);
    app->installEventFilter(m_quitFilter);
#ifndef QT_NO_SESSIONMANAGER
    // The logger never refuses the end of a session, and is not brought back
    // by the session manager (that would start it with "-session", which it
    // refuses): it starts at login from autostart, or runs as a service.
    if (auto *gui = qobject_cast<QGuiApplication *>(app)) {
        auto noRestart = [](QSessionManager &manager) {
            manager.setRestartHint(QSessionManager::RestartNever);
        };
        connect(gui, &QGuiApplication::commitDataRequest, this, noRestart);
        connect(gui, &QGuiApplication::saveStateRequest, this, noRestart);
    }
#endif
    connect(app, &QCoreApplication::aboutToQuit, this,
            [this] { request("end of the event loop"); });
}

void CleanExit::finish()
{
    if (m_ending)
        return;
    m_ending = true;
    m_grace.stop();
    m_pipeline.ExitSystem(false);
}

bool CleanExit::mayFinishNow() const
{
    return !m_pipeline.IsPolling() && !m_startingUp;
}

void CleanExit::setStartingUp(bool starting)
{
    m_startingUp = starting;
    if (!starting && m_requested && mayFinishNow())
        finish();
}

void CleanExit::pollProgress()
{
    if (m_requested && mayFinishNow())
        finish();
}

void CleanExit::request(const char *why)
{
    if (m_requested)
        return;
    m_requested = true;
    QTextStream(stderr) << "<6>Quillet: " << why << ", ending" << Qt::endl;
    // A running poll stops before its next message.
    m_pipeline.IsOffline = true;
    if (mayFinishNow()) {
        finish();
        return;
    }
    m_grace.start(m_graceMs);
}

} // namespace quillet::app
