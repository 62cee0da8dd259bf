#pragma once
// Small file helpers the logger tests share.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

namespace quillet::test {

// The whole file, or nothing when it cannot be read.
inline QByteArray ReadFileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The folder a quillet process of its own runs in: its settings, and the
// code map and database template the build puts beside the program in
// binDir. False when any of them cannot be written.
inline bool WriteLoggerFolder(const QDir &dir, const QByteArray &settings, const QString &binDir)
{
    QFile set(dir.filePath(QStringLiteral("Quillet.set")));
    return set.open(QIODevice::WriteOnly) && set.write(settings) == settings.size() &&
           QFile::copy(binDir + QStringLiteral("/Quillet.sys"),
                       dir.filePath(QStringLiteral("Quillet.sys"))) &&
           QFile::copy(binDir + QStringLiteral("/GSMCodeMap.cod"),
                       dir.filePath(QStringLiteral("GSMCodeMap.cod")));
}

// A fresh temporary folder made the current one for the holder's lifetime:
// the logger reads and writes relative to its current folder.
class TempWorkingFolder
{
public:
    TempWorkingFolder() : m_previous(QDir::currentPath())
    {
        if (m_dir.isValid())
            QDir::setCurrent(m_dir.path());
    }
    ~TempWorkingFolder() { QDir::setCurrent(m_previous); }
    TempWorkingFolder(const TempWorkingFolder &) = delete;
    TempWorkingFolder &operator=(const TempWorkingFolder &) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

} // namespace quillet::test
