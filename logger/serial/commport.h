#pragma once
// The serial link to the SMS device: the port object a driver owns, and the
// operations on it (open, close, open-if-closed, write a block, read an
// expected count with a silence timeout). Everything here moves raw bytes;
// frames are deviceprotocol.h's business.

#include "serialtransport.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

namespace quillet {

// One driver's serial port: the port number or device path, the line
// settings text, and the transport that does the I/O.
class CommPort
{
public:
    // Without a transport the port uses a real QSerialPort.
    explicit CommPort(std::unique_ptr<SerialTransport> transport = {});
    ~CommPort();
    CommPort(const CommPort &) = delete;
    CommPort &operator=(const CommPort &) = delete;

    // Port n is the device /dev/ttyS(n-1).
    void setPortNumber(int number);
    // "COMn" selects port n; a name beginning with "/" is a device path used
    // as it is, with no port number.
    void setPortName(const QString &name);
    int portNumber() const { return m_portNumber; }
    bool usesDevicePath() const { return !m_devicePath.isEmpty(); }
    QString devicePath() const;
    // The port's display name for messages: "COMn" or the device path.
    QString portName() const;

    // "9600,N,8,1": baud rate, parity letter, data bits, stop bits.
    void setSettings(const QString &settings) { m_settings = settings; }
    QString settings() const { return m_settings; }

    bool isOpen() const { return m_transport->isOpen(); }
    SerialTransport &transport() { return *m_transport; }

    // The monotonic millisecond clock the silence timeout is measured on;
    // tests that script a transport give it their own clock.
    using Clock = std::function<qint64()>;
    void setClock(Clock clock);
    qint64 nowMs() const { return m_clock(); }

private:
    std::unique_ptr<SerialTransport> m_transport;
    Clock m_clock;
    int m_portNumber = 1;
    QString m_devicePath;
    QString m_settings = QStringLiteral("9600,N,8,1");
};

// The number in a "COMn" name: the numeric value from the fourth character
// on, read as far as it goes ("COM12" gives 12, "COMx" gives 0).
int CommPortNumberFromName(const QString &name);

// The driver-wide diagnostic switch: off at start and whenever a driver is
// created; while on, link and protocol failures show extra boxes.
void SetCommDiagnostics(bool on);
bool CommDiagnostics();

// Validates the port number (1..255, for the COMn form only), closes the port
// if open, then opens it. An invalid number shows the operator a box and ends
// the program; the caller must return after a false result.
bool OpenComm(CommPort &port);
// Closes an open port and returns true; false when it was not open.
bool CloseComm(CommPort &port);
// True at once when the port is open, otherwise OpenComm's result.
bool EnsureCommOpen(CommPort &port);
// Sends the first `count` bytes, after throwing away every byte that arrived
// before (a late answer must not be taken for the reply to this request).
bool WriteComm(CommPort &port, const QByteArray &bytes, qsizetype count);
// Reads up to `expected` bytes into `buffer` (replacing its content) and
// returns how many came. Gives up once the line has been silent past
// `silentTimeout` whole-second boundaries; every byte restarts that count.
int ReadComm(CommPort &port, QByteArray &buffer, int expected, int silentTimeout);

} // namespace quillet
