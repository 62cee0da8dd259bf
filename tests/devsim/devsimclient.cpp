#include "devsimclient.h"

#include "crc16.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QThread>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace devsim::test {

DevSimClient::DevSimClient() = default;

DevSimClient::~DevSimClient()
{
    stop();
}

bool DevSimClient::start(const QStringList &args)
{
    const QString program = QCoreApplication::applicationDirPath() + "/quillet-devsim";
    m_process.setProgram(program);
    m_process.setArguments(args + QStringList{"--control-socket", m_dir.filePath("control.sock"),
                                              "--state-file", stateFile(), "--exit-with-parent"});
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.setReadChannel(QProcess::StandardOutput);
    m_process.start();
    if (!m_process.waitForStarted(5000)) {
        m_error = "cannot start " + program + ": " + m_process.errorString();
        return false;
    }
    QDeadlineTimer deadline(10000);
    while (!m_stdout.contains('\n') && !deadline.hasExpired()) {
        if (m_process.state() != QProcess::Running)
            break;
        m_process.waitForReadyRead(100);
        m_stdout += m_process.readAllStandardOutput();
    }
    if (!m_stdout.contains('\n')) {
        m_error = "no pty path from the simulator: " +
                  QString::fromUtf8(m_process.readAllStandardError());
        return false;
    }
    m_ptyPath = QString::fromUtf8(m_stdout.left(m_stdout.indexOf('\n')));
    m_fd = ::open(m_ptyPath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_fd < 0) {
        m_error = "cannot open " + m_ptyPath;
        return false;
    }
    termios tio{};
    ::tcgetattr(m_fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(m_fd, TCSANOW, &tio);
    return true;
}

void DevSimClient::stop()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
}

QString DevSimClient::output()
{
    m_stdout += m_process.readAllStandardOutput();
    return QString::fromUtf8(m_stdout);
}

bool DevSimClient::waitForOutput(const QString &text, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!output().contains(text)) {
        if (deadline.hasExpired() || m_process.state() != QProcess::Running)
            return false;
        m_process.waitForReadyRead(50);
    }
    return true;
}

QString DevSimClient::control(const QString &line, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(m_dir.filePath("control.sock"));
    if (!socket.waitForConnected(timeoutMs))
        return {};
    socket.write(line.toUtf8() + '\n');
    socket.flush();
    QByteArray answer;
    QDeadlineTimer deadline(timeoutMs);
    // A dump answers several lines ending with "# end"; everything else one line.
    const bool dump = line.trimmed() == QLatin1String("dump");
    while (!deadline.hasExpired()) {
        socket.waitForReadyRead(50);
        answer += socket.readAll();
        if (dump ? answer.endsWith("# end\n") : answer.endsWith('\n'))
            break;
    }
    return QString::fromUtf8(answer).chopped(answer.endsWith('\n') ? 1 : 0);
}

void DevSimClient::sendRaw(const QByteArray &bytes)
{
    ::tcflush(m_fd, TCIFLUSH);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else
            QThread::msleep(1);
    }
}

void DevSimClient::send(const QByteArray &frameWithoutCRC)
{
    const quint16 crc =
        quillet::CRC16(0xFFFF, reinterpret_cast<const quint8 *>(frameWithoutCRC.constData()),
                       frameWithoutCRC.size());
    sendRaw(frameWithoutCRC + char(crc & 0xFF) + char(crc >> 8));
}

QByteArray DevSimClient::read(int count, int silenceMs)
{
    QByteArray bytes;
    while (bytes.size() < count) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, silenceMs) <= 0)
            break;
        char chunk[512];
        const ssize_t n = ::read(m_fd, chunk, size_t(qMin<qsizetype>(count - bytes.size(), 512)));
        if (n > 0)
            bytes.append(chunk, n);
    }
    return bytes;
}

QByteArray DevSimClient::exchange(const QByteArray &frameWithoutCRC, int answerLength,
                                  int silenceMs)
{
    send(frameWithoutCRC);
    QByteArray answer = read(5, silenceMs);
    // An exception answer is complete at 5 bytes.
    if (answer.size() == 5 && (quint8(answer[1]) & 0x80))
        return answer;
    return answer + read(answerLength - int(answer.size()), silenceMs);
}

QByteArray DevSimClient::pollReply()
{
    send(QByteArray::fromHex("f75066"));
    QByteArray answer = read(5);
    if (answer.size() < 5 || (quint8(answer[1]) & 0x80))
        return answer;
    const int m = quint8(answer[3]) << 8 | quint8(answer[4]);
    return answer + read(m + 2);
}

bool DevSimClient::sendAT(const QByteArray &text)
{
    QByteArray frame = QByteArray::fromHex("f75065");
    frame += char(text.size() >> 8);
    frame += char(text.size() & 0xFF);
    frame += text;
    const QByteArray ack = exchange(frame, 5);
    return ack.size() == 5 && ack.startsWith(QByteArray::fromHex("f75065"));
}

QByteArray DevSimClient::command(const QByteArray &text, const QByteArray &ending, int timeoutMs)
{
    if (!sendAT(text))
        return {};
    QDeadlineTimer deadline(timeoutMs);
    QByteArray data;
    while (!deadline.hasExpired()) {
        data = ReplyData(pollReply());
        const qsizetype error = data.indexOf("ERROR");
        if (data.contains(ending) || (error >= 0 && data.indexOf("\r\n", error) > 0))
            break;
        QThread::msleep(5);
    }
    return data;
}

QByteArray ReplyData(const QByteArray &answer)
{
    if (answer.size() < 7 || quint8(answer[1]) != 0x50)
        return {};
    const int m = quint8(answer[3]) << 8 | quint8(answer[4]);
    if (answer.size() != m + 7)
        return {};
    return answer.mid(5, m);
}

} // namespace devsim::test
