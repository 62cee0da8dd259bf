#pragma once
// File and folder helpers through which the logger touches the file system.
// Relative paths are taken against the process's current folder.

#include <QByteArray>
#include <QString>

namespace quillet {

bool FileExists(const QString &path);
bool FolderExists(const QString &path);
QString GetFullPath(const QString &path);
// Parent folder of a path as written ("" for a bare file name).
QString GetParentFolderName(const QString &path);
// The whole file as UTF-8 text (invalid bytes replaced); empty when missing.
QString ReadTextFile(const QString &path);
// Makes sure the folder exists, creating every missing level.
bool CreateFolderPath(const QString &path);
// Creates one folder whose parent exists.
bool CreateOneFolder(const QString &path);
// True when the path ends with a separator ("/" or "\").
bool EndsWithSeparator(const QString &path);
// Writes every byte to a file descriptor, across short writes and signals.
// False at the first error (errno tells which).
bool WriteFully(int fd, const QByteArray &bytes);
// Replaces the file with `bytes` so that a crash leaves either the old or
// the new content: written beside it, synced, renamed over it, and the
// rename synced too. Empty on success, else the reason.
QString ReplaceFileDurably(const QString &path, const QByteArray &bytes);

} // namespace quillet
