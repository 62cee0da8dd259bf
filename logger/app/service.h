#pragma once
// What the logger tells the service manager: READY=1 once start-up is done
// (online, or offline and trying), a STATUS= line whenever the status bar
// changes, WATCHDOG=1 only from the poll cycle's progress, and STOPPING=1 on
// the way out. A logger whose poll cycle stops (a frozen loop, a poll stuck
// for good) stops the heartbeat, and the service manager restarts it.

#include "sdnotify.h"

#include <QElapsedTimer>
#include <QObject>

namespace quillet {
class frmMain;
}

namespace quillet::app {

class ServiceReporter : public QObject
{
public:
    explicit ServiceReporter(QObject *parent = nullptr);

    // Follows the main window's Status and Action panels.
    void attach(frmMain &form);
    void ready();
    // From the poll cycle: a heartbeat at most every half watchdog interval.
    void pollProgress();
    void stopping();

    bool enabled() const { return m_notify.enabled(); }

private:
    QByteArray statusLine() const;
    void sendStatus();

    SdNotify m_notify;
    frmMain *m_form = nullptr;
    QByteArray m_lastStatus;
    QElapsedTimer m_sinceHeartbeat;
    bool m_ready = false;
};

} // namespace quillet::app
