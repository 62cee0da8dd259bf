#include "commport.h"

#include "hostservices.h"
#include "uievents.h"

#include <chrono>

namespace quillet {

namespace {

// The longest a silent wait blocks before letting pending events run.
constexpr int kWaitSliceMs = 50;

bool &diagnosticsSwitch()
{
    static bool on = false;
    return on;
}

const QString &connectFailureText()
{
    static const QString text =
        QStringLiteral("Unable to connect to Device.\r\n"
                       "Please check cable connection and communicaiton parameter settings.");
    return text;
}

// The silence timeout counts second boundaries of a monotonic clock, so
// setting the system time cannot cut a read short or stretch it.
qint64 steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void showWriteFailure(CommPort &port)
{
    if (!CommDiagnostics())
        return;
    MsgBox(connectFailureText(), BoxButtons::Ok, BoxIcon::Critical,
           QStringLiteral("Communicaiton Error"));
    const QString text =
        QStringLiteral("RS-232 CommPort is failure.\r\nErrorObject:") +
        port.transport().errorSource() + QStringLiteral("\r\nErrorMessage:") +
        port.transport().errorString() + QStringLiteral("\r\nCommPort=") +
        (port.usesDevicePath() ? port.devicePath() : QString::number(port.portNumber())) +
        QStringLiteral("\r\nSettings=") + port.settings();
    MsgBox(text, BoxButtons::Ok, BoxIcon::Critical, QStringLiteral("CommUtil:OpenComm"));
}

} // namespace

CommPort::CommPort(std::unique_ptr<SerialTransport> transport)
    : m_transport(transport ? std::move(transport) : std::make_unique<QSerialPortTransport>()),
      m_clock(steadyMs)
{
}

void CommPort::setClock(Clock clock)
{
    m_clock = clock ? std::move(clock) : Clock(steadyMs);
}

CommPort::~CommPort()
{
    m_transport->close();
}

void CommPort::setPortNumber(int number)
{
    m_portNumber = number;
    m_devicePath.clear();
}

void CommPort::setPortName(const QString &name)
{
    if (name.startsWith(QLatin1Char('/'))) {
        m_devicePath = name;
        m_portNumber = 0;
    } else {
        setPortNumber(CommPortNumberFromName(name));
    }
}

QString CommPort::devicePath() const
{
    if (usesDevicePath())
        return m_devicePath;
    return QStringLiteral("/dev/ttyS") + QString::number(m_portNumber - 1);
}

QString CommPort::portName() const
{
    return usesDevicePath() ? m_devicePath : QStringLiteral("COM") + QString::number(m_portNumber);
}

int CommPortNumberFromName(const QString &name)
{
    const QStringView rest = QStringView(name).mid(qMin<qsizetype>(3, name.size()));
    qsizetype i = 0;
    while (i < rest.size() && rest.at(i) == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < rest.size() && (rest.at(i) == QLatin1Char('-') || rest.at(i) == QLatin1Char('+'))) {
        negative = rest.at(i) == QLatin1Char('-');
        ++i;
    }
    qint64 value = 0;
    for (; i < rest.size() && rest.at(i).isDigit() && rest.at(i).unicode() < 128; ++i) {
        value = value * 10 + (rest.at(i).unicode() - '0');
        if (value > 1000000)
            break; // far outside any port number; validation refuses it
    }
    return int(negative ? -value : value);
}

void SetCommDiagnostics(bool on)
{
    diagnosticsSwitch() = on;
}

bool CommDiagnostics()
{
    return diagnosticsSwitch();
}

bool OpenComm(CommPort &port)
{
    if (!port.usesDevicePath() && (port.portNumber() < 1 || port.portNumber() > 255)) {
        MsgBox(connectFailureText(), BoxButtons::Ok, BoxIcon::Critical,
               QStringLiteral("Communicaiton Error"));
        TerminateProgram();
        return false;
    }
    CloseComm(port);
    LineSettings settings;
    if (!ParseLineSettings(port.settings(), settings))
        return false;
    return port.transport().open(port.devicePath(), settings);
}

bool CloseComm(CommPort &port)
{
    if (!port.isOpen())
        return false;
    port.transport().close();
    return true;
}

bool EnsureCommOpen(CommPort &port)
{
    return port.isOpen() || OpenComm(port);
}

bool WriteComm(CommPort &port, const QByteArray &bytes, qsizetype count)
{
    SerialTransport &t = port.transport();
    const bool ok = count >= 0 && count <= bytes.size() && t.isOpen() && t.discardInput() &&
                    t.write(bytes.first(count));
    if (!ok)
        showWriteFailure(port);
    return ok;
}

int ReadComm(CommPort &port, QByteArray &buffer, int expected, int silentTimeout)
{
    buffer.clear();
    SerialTransport &t = port.transport();
    if (expected <= 0 || !t.isOpen())
        return 0;

    auto wholeSeconds = [&port] { return port.nowMs() / 1000; };
    qint64 lastActivity = wholeSeconds();
    while (buffer.size() < expected && t.isOpen()) {
        if (wholeSeconds() - lastActivity > silentTimeout)
            break;
        const qint64 waiting = t.bytesAvailable();
        if (waiting > 0) {
            buffer += t.read(qMin<qint64>(waiting, expected - buffer.size()));
            lastActivity = wholeSeconds();
        } else {
            t.waitForReadyRead(kWaitSliceMs);
        }
        ProcessPendingEvents();
    }

    const int count = int(buffer.size());
    if (count < expected && CommDiagnostics()) {
        MsgBox(QStringLiteral("Communication silent timeout error in receiving  data!\r\n"
                              "Expected data length=%1\r\nReceived data length=%2\r\n"
                              "Silent time out(sec)=%3")
                   .arg(expected)
                   .arg(count)
                   .arg(silentTimeout),
               BoxButtons::Ok, BoxIcon::Critical, QStringLiteral("Silent timeout error!"));
    }
    return count;
}

} // namespace quillet
