#pragma once
// Tells when the open log file changes: the logger appends to it, another
// viewer's delete renames a new file over it, or it comes back after it was
// gone. Through inotify (QFileSystemWatcher on the file and its folder), so
// nothing runs while the file is quiet.

#include <QObject>
#include <QString>
#include <sys/types.h>

class QFileSystemWatcher;
class QTimer;

namespace orvane {

class CFileFollower : public QObject
{
    Q_OBJECT
public:
    explicit CFileFollower(QObject *parent = nullptr);

    // Starts watching path; an empty path stops.
    void Follow(const QString &path);
    QString path() const { return m_path; }
    // Off, changes are not reported; on again, changed() follows at once so
    // what happened meanwhile is caught up.
    void SetEnabled(bool on);
    bool enabled() const { return m_enabled; }

    // A burst of appends is reported once, this many milliseconds after it
    // began.
    static constexpr int kGatherMs = 100;

signals:
    void changed();

private:
    void OnEvent();
    // Watches the file at the path again when it is another file now.
    void Rewatch();

    QFileSystemWatcher *m_watcher;
    QTimer *m_gather;
    QString m_path;
    QString m_folder;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    bool m_enabled = true;
};

} // namespace orvane
