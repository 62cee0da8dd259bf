#include "serialtransport.h"

#include <QElapsedTimer>
#include <QThread>

namespace quillet {

bool ParseLineSettings(const QString &text, LineSettings &settings)
{
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 4)
        return false;
    LineSettings parsed;

    bool ok = false;
    parsed.baudRate = fields.at(0).trimmed().toInt(&ok);
    if (!ok || parsed.baudRate <= 0)
        return false;

    const QString parity = fields.at(1).trimmed().toUpper();
    if (parity == QLatin1String("N"))
        parsed.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("E"))
        parsed.parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("O"))
        parsed.parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("M"))
        parsed.parity = QSerialPort::MarkParity;
    else if (parity == QLatin1String("S"))
        parsed.parity = QSerialPort::SpaceParity;
    else
        return false;

    const int dataBits = fields.at(2).trimmed().toInt(&ok);
    if (!ok || dataBits < 5 || dataBits > 8)
        return false;
    parsed.dataBits = QSerialPort::DataBits(dataBits);

    const QString stop = fields.at(3).trimmed();
    if (stop == QLatin1String("1"))
        parsed.stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5"))
        parsed.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        parsed.stopBits = QSerialPort::TwoStop;
    else
        return false;

    settings = parsed;
    return true;
}

QSerialPortTransport::QSerialPortTransport()
{
    // A device that went away (a USB adapter pulled out, a simulator ended)
    // leaves a port that can never work again: close it, so the owner sees
    // the port closed and can open it anew once the device is back.
    QObject::connect(&m_port, &QSerialPort::errorOccurred, &m_port,
                     [this](QSerialPort::SerialPortError error) {
                         if (error == QSerialPort::ResourceError && m_port.isOpen())
                             m_port.close();
                     });
}
QSerialPortTransport::~QSerialPortTransport() = default;

bool QSerialPortTransport::open(const QString &devicePath, const LineSettings &settings)
{
    m_port.setPortName(devicePath);
    m_port.clearError();
    if (!m_port.open(QIODevice::ReadWrite))
        return false;
    // The device needs no handshake lines; a port that cannot set them (a
    // pseudo-terminal) is still usable, so only the framing settings count.
    if (!m_port.setBaudRate(settings.baudRate) || !m_port.setParity(settings.parity) ||
        !m_port.setDataBits(settings.dataBits) || !m_port.setStopBits(settings.stopBits) ||
        !m_port.setFlowControl(QSerialPort::NoFlowControl)) {
        m_port.close();
        return false;
    }
    m_port.setDataTerminalReady(true);
    m_port.setRequestToSend(true);
    m_port.clearError();
    return true;
}

void QSerialPortTransport::close()
{
    if (m_port.isOpen())
        m_port.close();
}

bool QSerialPortTransport::isOpen() const
{
    return m_port.isOpen();
}

qint64 QSerialPortTransport::bytesAvailable()
{
    return m_port.isOpen() ? m_port.bytesAvailable() : 0;
}

QByteArray QSerialPortTransport::read(qint64 maxCount)
{
    return m_port.isOpen() && maxCount > 0 ? m_port.read(maxCount) : QByteArray();
}

bool QSerialPortTransport::discardInput()
{
    if (!m_port.isOpen())
        return false;
    // Pull in what the system already holds, then drop it all. Bounded, so a
    // device that never stops talking cannot keep us here.
    for (int i = 0; i < 64 && m_port.waitForReadyRead(0); ++i)
        m_port.readAll();
    m_port.readAll();
    m_port.clear(QSerialPort::Input);
    m_port.clearError();
    return true;
}

bool QSerialPortTransport::write(const QByteArray &data)
{
    if (!m_port.isOpen())
        return false;
    m_port.clearError();
    if (m_port.write(data) != data.size())
        return false;
    // Hand over what the system takes now; the rest goes out while we wait
    // for the answer.
    m_port.flush();
    const QSerialPort::SerialPortError error = m_port.error();
    return error == QSerialPort::NoError || error == QSerialPort::TimeoutError;
}

void QSerialPortTransport::waitForReadyRead(int msecs)
{
    QElapsedTimer timer;
    timer.start();
    if (m_port.isOpen() && m_port.waitForReadyRead(msecs))
        return;
    // A closed or failed port returns at once; sleep out the slice so the
    // caller's loop does not spin.
    const qint64 left = msecs - timer.elapsed();
    if (left > 0)
        QThread::msleep(quint64(left));
}

QString QSerialPortTransport::errorSource() const
{
    return QStringLiteral("QSerialPort");
}

QString QSerialPortTransport::errorString() const
{
    return m_port.errorString();
}

} // namespace quillet
