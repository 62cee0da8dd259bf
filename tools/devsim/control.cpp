#include "control.h"

#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace devsim {

void PrintOut(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    if (!text.endsWith(u'\n'))
        std::fputc('\n', stdout);
    std::fflush(stdout);
}

ControlChannel::ControlChannel(Handler handler, QObject *parent)
    : QObject(parent), m_handler(std::move(handler))
{
}

ControlChannel::~ControlChannel()
{
    if (m_fifo >= 0)
        ::close(m_fifo);
    if (m_fifoCreated)
        QFile::remove(m_fifoPath);
    if (m_server)
        m_server->close(); // removes the socket file
}

bool ControlChannel::openFifo(const QString &path, QString &error)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st
    {
    };
    if (::stat(native.constData(), &st) == 0) {
        if (!S_ISFIFO(st.st_mode)) {
            error = QStringLiteral("%1 exists and is not a FIFO").arg(path);
            return false;
        }
    } else if (::mkfifo(native.constData(), 0600) != 0) {
        error = QStringLiteral("cannot create FIFO %1: %2").arg(path, strerror(errno));
        return false;
    } else {
        m_fifoCreated = true;
    }
    m_fifoPath = path;
    // Opened for writing too, so the FIFO never reports end of file when a
    // writer such as `echo` closes it.
    m_fifo = ::open(native.constData(), O_RDWR | O_NONBLOCK);
    if (m_fifo < 0) {
        error = QStringLiteral("cannot open FIFO %1: %2").arg(path, strerror(errno));
        return false;
    }
    auto *notifier = new QSocketNotifier(m_fifo, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this,
            [this, notifier] { readFd(m_fifo, m_fifoBuffer, notifier); });
    return true;
}

bool ControlChannel::openSocket(const QString &path, QString &error)
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (QFileInfo(path).exists() && !QFileInfo(path).isFile())
        QLocalServer::removeServer(path); // a socket left by an earlier run
    if (!m_server->listen(path)) {
        error = QStringLiteral("cannot listen on %1: %2").arg(path, m_server->errorString());
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *client = m_server->nextPendingConnection()) {
            connect(client, &QLocalSocket::readyRead, this, [this, client] { readClient(client); });
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        }
    });
    return true;
}

void ControlChannel::openStdin()
{
    auto *notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this,
            [this, notifier] { readFd(STDIN_FILENO, m_stdinBuffer, notifier); });
}

void ControlChannel::readFd(int fd, QByteArray &buffer, QSocketNotifier *notifier)
{
    char chunk[4096];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n == 0) {
        notifier->setEnabled(false); // standard input closed: commands end, the device runs on
        buffer += '\n';
    } else if (n > 0) {
        buffer.append(chunk, n);
    }
    runLines(buffer, [](const QString &answer) { PrintOut(answer); });
}

void ControlChannel::readClient(QLocalSocket *client)
{
    while (client->canReadLine()) {
        QByteArray line = client->readLine();
        runLines(line, [client](const QString &answer) {
            client->write(answer.toUtf8());
            if (!answer.endsWith(u'\n'))
                client->write("\n");
            client->flush();
        });
    }
}

void ControlChannel::runLines(QByteArray &buffer,
                              const std::function<void(const QString &)> &answer)
{
    qsizetype end;
    while ((end = buffer.indexOf('\n')) >= 0) {
        QString line = QString::fromUtf8(buffer.left(end)).trimmed();
        buffer.remove(0, end + 1);
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        answer(m_handler(line));
    }
    // A writer that never ends its line must not eat the memory.
    constexpr qsizetype kLongestLine = 1 << 20;
    if (buffer.size() > kLongestLine) {
        buffer.clear();
        answer(
            QStringLiteral("error: command line longer than %1 bytes dropped").arg(kLongestLine));
    }
}

} // namespace devsim
