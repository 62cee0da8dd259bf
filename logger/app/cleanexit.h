#pragma once
// Clean ends: SIGTERM, SIGINT and the desktop session's quit (logout,
// shutdown) end the logger through ExitSystem without the confirmation, so
// the tray icon goes, the database is released and the port is closed. A
// record is never cut: an end asked for during a poll stops that poll before
// its next message and runs once the poll is over (or after a few seconds,
// should the poll be stuck on a device that stopped answering). Further
// requests while the end is on its way change nothing.

#include <functional>

namespace quillet::app {

// Catches the two signals and the session's quit. Needs the application
// object. Idempotent.
void InstallCleanExit();

// Requests that arrive while start-up runs wait for it to finish.
void SetStartingUp(bool starting);
// To be called from the poll cycle's progress hook.
void CleanExitPollProgress();

// Asks for the end; `why` goes to standard error (the journal) once.
void RequestCleanExit(const char *why);
bool IsCleanExitRequested();

// How long a running poll may hold the end up (test seam; 4 s by default).
void SetCleanExitGraceMs(int ms);

// Forgets a request (tests only: their end hook returns instead of ending).
void ResetCleanExitForTest();

} // namespace quillet::app
