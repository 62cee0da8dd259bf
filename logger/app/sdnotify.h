#pragma once
// The service manager's notification protocol: one datagram per report, sent
// to the AF_UNIX socket named by NOTIFY_SOCKET (a name beginning with '@' is in
// the abstract namespace). Without NOTIFY_SOCKET every report is dropped.

#include <QByteArray>
#include <QString>

namespace quillet::app {

class SdNotify
{
public:
    // Takes NOTIFY_SOCKET and WATCHDOG_USEC (for this process only, when
    // WATCHDOG_PID names another) out of the environment, so that programs the
    // logger starts (the viewer) never report in its name.
    SdNotify();
    ~SdNotify();
    SdNotify(const SdNotify &) = delete;
    SdNotify &operator=(const SdNotify &) = delete;

    bool enabled() const { return m_fd >= 0; }
    // Sends "KEY=value" lines as one datagram. False when nothing was sent.
    bool send(const QByteArray &state) const;
    // The watchdog interval in microseconds; 0 without a watchdog.
    qint64 watchdogUsec() const { return m_watchdogUsec; }

    // A status text on one line (line breaks would start new keys).
    static QByteArray statusLine(const QString &text);

private:
    int m_fd = -1;
    QByteArray m_address; // sockaddr_un, with its length
    qint64 m_watchdogUsec = 0;
};

} // namespace quillet::app
