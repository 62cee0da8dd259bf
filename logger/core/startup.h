#pragma once
// Start-up checks (the entry itself is logger/app; the one orderly way out
// is the pipeline's ExitSystem).

#include <QString>

class QLockFile;

namespace quillet {

class AlarmPipeline;

// Takes the program-wide instance lock (by program, not by user). False when
// another copy holds it.
bool AcquireInstanceLock(QLockFile &lock);
QString InstanceLockPath();

// Continuation of the entry once the window exists: the missing-file checks,
// the settings, what was recorded, then `pipeline` goes online. False when
// start-up ended the program.
bool StartUp(AlarmPipeline &pipeline);

} // namespace quillet
