#pragma once
// A small tmpfs of the test's own, so that faults a root process never meets
// on an ordinary folder (a full disk, a read-only file system) happen as root
// too, which is how the tests run. Where mount() is refused (a developer's
// own account) refused() says so, and the test makes the fault another way
// or skips. Unmounted when the holder goes, whatever way the test leaves.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <sys/mount.h>

namespace quillet::test {

class ScratchMount
{
public:
    ScratchMount() = default;
    ~ScratchMount() { unmount(); }
    ScratchMount(const ScratchMount &) = delete;
    ScratchMount &operator=(const ScratchMount &) = delete;

    // A tmpfs of `bytes` (whole pages) on a new folder, read-only when asked.
    bool mount(qint64 bytes, bool readOnly = false)
    {
        if (!m_dir.isValid()) {
            m_error = QStringLiteral("no temporary folder");
            return false;
        }
        const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0755";
        const unsigned long flags = MS_NOSUID | MS_NODEV | (readOnly ? MS_RDONLY : 0);
        if (::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", flags,
                    options.constData()) != 0) {
            m_refused = errno == EPERM;
            m_error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        m_mounted = true;
        return true;
    }
    // A folder the test may not write in: this mount, read-only, or where
    // mounting is refused, `fallback` made read-only by its mode (which
    // stops any account but root). Empty when the mount failed otherwise.
    QString readOnlyFolder(const QString &fallback)
    {
        if (mount(64 * 1024, true))
            return path();
        if (!m_refused)
            return QString();
        QDir().mkpath(fallback);
        QFile::setPermissions(fallback, QFile::ReadOwner | QFile::ExeOwner);
        return fallback;
    }
    void unmount()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
        m_mounted = false;
    }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }
    QString error() const { return m_error; }
    // The mount failed for want of the right to mount, not for a fault.
    bool refused() const { return m_refused; }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
    bool m_refused = false;
    QString m_error;
};

} // namespace quillet::test
