#pragma once
// The narrow view of a serial port that the link works through: open with
// line settings, close, count waiting bytes, read, write, and wait a short
// slice for input. QSerialPortTransport is the real one; tests script a fake.

#include <QByteArray>
#include <QSerialPort>
#include <QString>

namespace quillet {

// Line settings as the link's settings text gives them: "9600,N,8,1".
struct LineSettings
{
    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// Baud rate, parity letter (N, E, O, M, S), data bits (5 to 8) and stop bits
// (1, 1.5, 2) separated by commas, blanks allowed around each. False on
// anything else, leaving `settings` untouched.
bool ParseLineSettings(const QString &text, LineSettings &settings);

class SerialTransport
{
public:
    virtual ~SerialTransport() = default;

    virtual bool open(const QString &devicePath, const LineSettings &settings) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Bytes received and ready to read without waiting.
    virtual qint64 bytesAvailable() = 0;
    // Takes up to maxCount waiting bytes; the rest stay for the next read.
    virtual QByteArray read(qint64 maxCount) = 0;
    // Throws away every byte received so far, including any still held below us.
    virtual bool discardInput() = 0;
    // Queues the bytes for sending; false when the port refuses them.
    virtual bool write(const QByteArray &data) = 0;
    // Blocks up to msecs for more input; returns early only when bytes
    // arrive, so a caller looping on it never spins.
    virtual void waitForReadyRead(int msecs) = 0;
    // What failed last, for the diagnostic box.
    virtual QString errorSource() const = 0;
    virtual QString errorString() const = 0;
};

class QSerialPortTransport final : public SerialTransport
{
public:
    QSerialPortTransport();
    ~QSerialPortTransport() override;

    bool open(const QString &devicePath, const LineSettings &settings) override;
    void close() override;
    bool isOpen() const override;
    qint64 bytesAvailable() override;
    QByteArray read(qint64 maxCount) override;
    bool discardInput() override;
    bool write(const QByteArray &data) override;
    void waitForReadyRead(int msecs) override;
    QString errorSource() const override;
    QString errorString() const override;

private:
    QSerialPort m_port;
};

} // namespace quillet
