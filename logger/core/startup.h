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

// Ends the program. With askConfirm the operator is asked first, without
// waiting: the result is false while the question is open or was declined
// (nothing changes), and a Yes ends the program when it is given (after the
// running poll). True when the program was ended (only a test's terminate
// hook ever returns here).
bool ExitSystem(bool askConfirm);

} // namespace quillet
