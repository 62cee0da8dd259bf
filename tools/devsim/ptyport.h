#pragma once
// The simulator's end of a pseudo-terminal. The client (the logger, a test,
// a Modbus master) opens the slave side by its path; the simulator holds the
// slave open too, in raw mode, so the line keeps its settings between clients
// and reading never fails while no client is attached.

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;

namespace devsim {

class PtyPort : public QObject
{
    Q_OBJECT
public:
    explicit PtyPort(QObject *parent = nullptr);
    ~PtyPort() override;

    bool open(QString &error);
    QString slavePath() const { return m_slavePath; }

    // Bytes per second on the line are baud / 10 (start, 8 data, stop bit);
    // 0 writes at the speed of the pty.
    void setBaud(int baud) { m_baud = baud; }
    int baud() const { return m_baud; }

    void write(const QByteArray &bytes);

signals:
    void received(const QByteArray &bytes);

private:
    void readMaster();
    void flushOutput();

    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    int m_baud = 0;
    QByteArray m_out;
    QTimer m_pace;
    QElapsedTimer m_paceClock;
    qint64 m_pacedSent = 0;
};

} // namespace devsim
