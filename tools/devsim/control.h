#pragma once
// Where control commands come from: a FIFO (`echo 'deliver ...' > fifo`), a
// unix socket (one answer line per command, for clients that want to know
// the outcome) and standard input. Every line is one command; the handler's
// answer goes back on the socket, and to standard output for the others.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>

class QLocalServer;
class QLocalSocket;
class QSocketNotifier;

namespace devsim {

class ControlChannel : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<QString(const QString &line)>;

    explicit ControlChannel(Handler handler, QObject *parent = nullptr);
    ~ControlChannel() override;

    // Creates the FIFO unless one is already there.
    bool openFifo(const QString &path, QString &error);
    bool openSocket(const QString &path, QString &error);
    void openStdin();

private:
    void readFd(int fd, QByteArray &buffer, QSocketNotifier *notifier);
    void readClient(QLocalSocket *client);
    // Runs every complete line in `buffer`; `answer` delivers each answer.
    void runLines(QByteArray &buffer, const std::function<void(const QString &)> &answer);

    Handler m_handler;
    int m_fifo = -1;
    QString m_fifoPath;
    bool m_fifoCreated = false;
    QByteArray m_fifoBuffer;
    QByteArray m_stdinBuffer;
    QLocalServer *m_server = nullptr;
};

// Prints one or more lines to standard output at once (tests read it live).
void PrintOut(const QString &text);

} // namespace devsim
