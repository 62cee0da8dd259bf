#include "ptyport.h"

#include <QSocketNotifier>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace devsim {

namespace {
// Answers nobody reads are dropped rather than piled up for the next client.
constexpr qsizetype kMaxQueued = 64 * 1024;
} // namespace

PtyPort::PtyPort(QObject *parent) : QObject(parent)
{
    m_pace.setInterval(2);
    connect(&m_pace, &QTimer::timeout, this, &PtyPort::flushOutput);
}

PtyPort::~PtyPort()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

bool PtyPort::open(QString &error)
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        error = QStringLiteral("cannot open a pseudo-terminal: %1").arg(strerror(errno));
        return false;
    }
    const char *name = ::ptsname(m_master);
    if (!name) {
        error = QStringLiteral("cannot name the pseudo-terminal: %1").arg(strerror(errno));
        return false;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    m_slave = ::open(name, O_RDWR | O_NOCTTY);
    if (m_slave < 0) {
        error = QStringLiteral("cannot open %1: %2").arg(m_slavePath, strerror(errno));
        return false;
    }
    // Raw: no echo, no line editing, no CR/LF translation; frames are binary.
    termios tio{};
    ::tcgetattr(m_slave, &tio);
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    ::tcsetattr(m_slave, TCSANOW, &tio);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);

    m_readNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &PtyPort::readMaster);
    m_writeNotifier = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &PtyPort::flushOutput);
    return true;
}

void PtyPort::readMaster()
{
    char chunk[4096];
    QByteArray bytes;
    while (true) {
        const ssize_t n = ::read(m_master, chunk, sizeof chunk);
        if (n > 0) {
            bytes.append(chunk, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            // Cannot happen while we hold the slave open; never spin on it.
            m_readNotifier->setEnabled(false);
            QTimer::singleShot(100, this, [this] { m_readNotifier->setEnabled(true); });
        }
        break;
    }
    if (!bytes.isEmpty())
        emit received(bytes);
}

void PtyPort::write(const QByteArray &bytes)
{
    if (m_master < 0 || bytes.isEmpty())
        return;
    if (m_out.size() + bytes.size() > kMaxQueued)
        m_out.clear();
    if (m_out.isEmpty()) {
        m_paceClock.start();
        m_pacedSent = 0;
    }
    m_out += bytes;
    flushOutput();
}

void PtyPort::flushOutput()
{
    qsizetype allowed = m_out.size();
    if (m_baud > 0) {
        const qint64 due = m_paceClock.elapsed() * m_baud / 10 / 1000 + 1 - m_pacedSent;
        allowed = qsizetype(qBound<qint64>(0, due, m_out.size()));
    }
    while (allowed > 0) {
        const ssize_t n = ::write(m_master, m_out.constData(), size_t(allowed));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // full: the write notifier tells when the client has read
        m_out.remove(0, n);
        m_pacedSent += n;
        allowed -= n;
    }
    const bool waiting = !m_out.isEmpty();
    if (m_baud > 0) {
        m_writeNotifier->setEnabled(false);
        if (waiting && !m_pace.isActive())
            m_pace.start();
        if (!waiting)
            m_pace.stop();
    } else {
        m_writeNotifier->setEnabled(waiting);
    }
}

} // namespace devsim
