#pragma once
// Start-up checks and the one orderly way out (the entry itself is logger/app).

#include <QString>

class QLockFile;

namespace quillet {

// Takes the program-wide instance lock (by program, not by user). False when
// another copy holds it.
bool AcquireInstanceLock(QLockFile &lock);
QString InstanceLockPath();

// Continuation of the entry once the window exists: the missing-file checks,
// the settings, then going online. False when start-up ended the program.
bool StartUp();

// Ends the program. With askConfirm the operator may decline: then nothing
// changes and the result is false. True when the program was ended (only a
// test's terminate hook ever returns here).
bool ExitSystem(bool askConfirm);

} // namespace quillet
