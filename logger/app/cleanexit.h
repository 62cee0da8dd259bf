#pragma once
// Clean ends: SIGTERM, SIGINT and the desktop session's quit (logout,
// shutdown) end the logger through the pipeline's ExitSystem without the
// confirmation, so the tray icon goes, the database is released and the port
// is closed. A record is never cut: an end asked for during a poll stops that
// poll before its next message and runs once the poll is over (or after a few
// seconds, should the poll be stuck on a device that stopped answering).
// Further requests while the end is on its way change nothing.

#include <QObject>
#include <QTimer>

namespace quillet {
class AlarmPipeline;
}

namespace quillet::app {

class CleanExit : public QObject
{
public:
    explicit CleanExit(AlarmPipeline &pipeline, QObject *parent = nullptr);
    ~CleanExit() override;

    // Catches the two signals and the session's quit. Needs the application
    // object.
    void install();

    // Requests that arrive while start-up runs wait for it to finish.
    void setStartingUp(bool starting);

    // Asks for the end; `why` goes to standard error (the journal) once.
    void request(const char *why);
    bool isRequested() const { return m_requested; }

    // How long a running poll may hold the end up (4 s by default).
    void setGraceMs(int ms) { m_graceMs = ms; }

private:
    void finish();
    bool mayFinishNow() const;
    void pollProgress();

    AlarmPipeline &m_pipeline;
    QTimer m_grace;
    QObject *m_quitFilter = nullptr;
    bool m_installed = false;
    bool m_requested = false;
    bool m_startingUp = false;
    bool m_ending = false;
    int m_graceMs = 4000;
};

} // namespace quillet::app
