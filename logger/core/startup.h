#pragma once
// Start-up checks and the one orderly way out (the entry itself is logger/app).

#include <QLockFile>
#include <memory>

namespace quillet {

// The instance lock of the configuration folder (the current folder), by
// program, not by user: null when another copy runs there.
std::unique_ptr<QLockFile> TakeInstanceLock();
// Takes `lock`, and takes over one that its owner left behind. False when a
// live copy holds it or the file cannot be made (error() tells which).
bool AcquireInstanceLock(QLockFile &lock);

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
