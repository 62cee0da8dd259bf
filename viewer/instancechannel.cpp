#include "instancechannel.h"

#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <unistd.h>

namespace orvane {

namespace {

// A request is one line: the UTF-8 path, possibly empty.
constexpr qint64 kMaxRequest = 64 * 1024;

} // namespace

CInstanceChannel::CInstanceChannel(QString name, QObject *parent)
    : QObject(parent), m_name(std::move(name))
{
}

CInstanceChannel::~CInstanceChannel() = default;

QString CInstanceChannel::DefaultName()
{
    return NameFor(QProcessEnvironment::systemEnvironment());
}

QString CInstanceChannel::NameFor(const QProcessEnvironment &environment)
{
    QString display = environment.value(QStringLiteral("WAYLAND_DISPLAY"));
    if (display.isEmpty()) {
        // ":0" and ":0.0" are one X server: its screens share the desktop.
        display = environment.value(QStringLiteral("DISPLAY"));
        static const QRegularExpression screen(QStringLiteral("\\.\\d+$"));
        display.remove(screen);
    }
    QString name = QStringLiteral("Orvane-%1-%2-%3")
                       .arg(::getuid())
                       .arg(environment.value(QStringLiteral("XDG_SESSION_ID")), display);
    // The name becomes a file name: no separators, nothing the shell reads.
    static const QRegularExpression odd(QStringLiteral("[^A-Za-z0-9._-]"));
    return name.replace(odd, QStringLiteral("_"));
}

bool CInstanceChannel::HandOver(const QString &filePath, int timeoutMs) const
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    // The running viewer has a working folder of its own: a relative path
    // is resolved here, where it was typed (or passed by the logger).
    const QString path = filePath.isEmpty() ? filePath : QFileInfo(filePath).absoluteFilePath();
    socket.write(path.toUtf8() + '\n');
    socket.waitForBytesWritten(timeoutMs);
    // The running viewer answers once it has read the request, so this one
    // does not end before the path has arrived.
    socket.waitForReadyRead(timeoutMs);
    socket.disconnectFromServer();
    return true;
}

bool CInstanceChannel::Listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket left by a viewer that crashed answers no one; take its place.
    QLocalServer::removeServer(m_name);
    if (!m_server->listen(m_name))
        return false;
    connect(m_server, &QLocalServer::newConnection, this, &CInstanceChannel::OnNewConnection);
    return true;
}

void CInstanceChannel::OnNewConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto handle = [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > kMaxRequest)
                    socket->abort();
                return;
            }
            const QString path = QString::fromUtf8(socket->readLine(kMaxRequest)).chopped(1);
            socket->write("OK\n");
            socket->flush();
            emit requested(path);
        };
        connect(socket, &QLocalSocket::readyRead, this, handle);
        if (socket->bytesAvailable() > 0)
            handle();
    }
}

} // namespace orvane
