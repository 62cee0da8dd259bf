#pragma once
// The logger's entry once the application object exists: refuses a second
// instance, creates the main window (shown only with a display), the driver,
// runs start-up and the event loop, and wires the service reports and the
// clean ends into them.

namespace quillet::app {

// Returns the exit code of the event loop (0 when a second copy was refused).
int RunLogger(bool headless);

// The exit code when start-up ends the program because it cannot run
// (EX_CONFIG); the unit does not restart the logger for it.
constexpr int StartUpFailedExitCode = 78;

} // namespace quillet::app
