#include "filehelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace quillet {

bool FileExists(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

bool FolderExists(const QString &path)
{
    if (path.isEmpty())
        return false;
    return QFileInfo(path).isDir();
}

QString GetFullPath(const QString &path)
{
    if (path.isEmpty())
        return QDir::currentPath();
    QString full = QDir::cleanPath(QDir::current().absoluteFilePath(path));
    // Keep a trailing separator: callers test it to tell a folder from a file.
    if (EndsWithSeparator(path) && !full.endsWith(QLatin1Char('/')))
        full += QLatin1Char('/');
    return full;
}

QString GetParentFolderName(const QString &path)
{
    const qsizetype cut = path.lastIndexOf(QLatin1Char('/'));
    if (cut < 0)
        return QString();
    if (cut == 0)
        return QStringLiteral("/");
    return path.left(cut);
}

QString ReadTextFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray bytes = file.readAll();
    auto decode = QStringDecoder(QStringDecoder::Utf8);
    return decode(bytes);
}

bool CreateOneFolder(const QString &path)
{
    return QDir().mkdir(path);
}

bool CreateFolderPath(const QString &path)
{
    const QString full = GetFullPath(path);
    if (FolderExists(full))
        return true;

    // Walk up to the longest prefix that exists, then create the levels below
    // it in order of increasing length.
    QStringList missing;
    QString prefix = QDir::cleanPath(full);
    while (!prefix.isEmpty() && prefix != QLatin1String("/") && !FolderExists(prefix)) {
        if (QFileInfo(prefix).exists())
            return false; // a file stands where a folder is needed
        missing.prepend(prefix);
        prefix = GetParentFolderName(prefix);
    }
    for (const QString &level : std::as_const(missing)) {
        if (!CreateOneFolder(level))
            return false;
    }
    return true;
}

bool EndsWithSeparator(const QString &path)
{
    return path.endsWith(QLatin1Char('/')) || path.endsWith(QLatin1Char('\\'));
}

bool WriteFully(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

QString ReplaceFileDurably(const QString &path, const QByteArray &bytes)
{
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temp = target + ".new";
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    const bool written = WriteFully(fd, bytes) && ::fsync(fd) == 0;
    const int writeErrno = errno;
    ::close(fd);
    if (!written) {
        ::unlink(temp.constData());
        return QString::fromLocal8Bit(std::strerror(writeErrno));
    }
    if (::rename(temp.constData(), target.constData()) != 0) {
        const int renameErrno = errno;
        ::unlink(temp.constData());
        return QString::fromLocal8Bit(std::strerror(renameErrno));
    }
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}

} // namespace quillet
