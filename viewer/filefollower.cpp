#include "filefollower.h"

#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>
#include <sys/stat.h>

namespace orvane {

CFileFollower::CFileFollower(QObject *parent)
    : QObject(parent), m_watcher(new QFileSystemWatcher(this)), m_gather(new QTimer(this))
{
    m_gather->setSingleShot(true);
    m_gather->setInterval(kGatherMs);
    connect(m_gather, &QTimer::timeout, this, [this] {
        Rewatch();
        if (m_enabled && !m_path.isEmpty())
            emit changed();
    });
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, &CFileFollower::OnEvent);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &CFileFollower::OnEvent);
}

void CFileFollower::Follow(const QString &path)
{
    const QStringList watched = m_watcher->files() + m_watcher->directories();
    if (!watched.isEmpty())
        m_watcher->removePaths(watched);
    m_gather->stop();
    m_path = path;
    m_device = 0;
    m_inode = 0;
    if (m_path.isEmpty())
        return;
    // The folder too: a rename over the path, or the file coming back, is
    // an event of the folder, not of the file last watched.
    m_folder = QFileInfo(m_path).absolutePath();
    m_watcher->addPath(m_folder);
    Rewatch();
}

void CFileFollower::SetEnabled(bool on)
{
    if (on == m_enabled)
        return;
    m_enabled = on;
    if (on && !m_path.isEmpty())
        m_gather->start();
}

void CFileFollower::OnEvent()
{
    if (!m_gather->isActive())
        m_gather->start();
}

void CFileFollower::Rewatch()
{
    if (m_path.isEmpty())
        return;
    struct stat st;
    const bool exists = ::stat(QFile::encodeName(m_path).constData(), &st) == 0;
    const bool watched = m_watcher->files().contains(m_path);
    if (exists && watched && st.st_dev == m_device && st.st_ino == m_inode)
        return;
    if (watched)
        m_watcher->removePath(m_path);
    m_device = exists ? st.st_dev : 0;
    m_inode = exists ? st.st_ino : 0;
    if (exists)
        m_watcher->addPath(m_path);
    if (!m_watcher->directories().contains(m_folder))
        m_watcher->addPath(m_folder);
}

} // namespace orvane
