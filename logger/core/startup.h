#pragma once
// Start-up checks (the entry itself is logger/app; the one orderly way out
// is the pipeline's ExitSystem).

#include <QDir>
#include <QLockFile>
#include <memory>

namespace quillet {

class AlarmPipeline;

// The instance lock of the configuration folder (the current folder), by
// program, not by user: null when another copy runs there.
std::unique_ptr<QLockFile> TakeInstanceLock();
// Takes `lock`, and takes over one that its owner left behind. False when a
// live copy holds it or the file cannot be made (error() tells which).
bool AcquireInstanceLock(QLockFile &lock);
// Whether a running logger holds the instance lock of `folder` (in the folder,
// or in the temp folder for a read-only one).
bool InstanceLockHeld(const QDir &folder);
// "quillet-" + a short hash of the folder's canonical path + `suffix`: the
// name of what belongs to one configuration folder in a place that several
// share (the temp folder, the user's runtime folder).
QString FolderFileName(const QDir &folder, const QString &suffix);

// Continuation of the entry once the window exists: the missing-file checks,
// the settings, what was recorded, then `pipeline` goes online. False when
// start-up ended the program.
bool StartUp(AlarmPipeline &pipeline);

} // namespace quillet
