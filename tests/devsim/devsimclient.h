#pragma once
// Runs quillet-devsim as a child process and talks to it the way the logger
// does: raw frames over its pty, control commands over its unix socket.
// Every wait is bounded.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace devsim::test {

class DevSimClient
{
public:
    DevSimClient();
    ~DevSimClient();
    DevSimClient(const DevSimClient &) = delete;
    DevSimClient &operator=(const DevSimClient &) = delete;

    // Starts the simulator with `args` plus its control socket and state file
    // in a temporary folder, and opens the pty. False with error() otherwise.
    bool start(const QStringList &args = {});
    void stop();
    QString error() const { return m_error; }

    QString ptyPath() const { return m_ptyPath; }
    QString stateFile() const { return m_dir.filePath(QStringLiteral("state.txt")); }
    QString folder() const { return m_dir.path(); }
    // Everything the simulator printed on standard output so far.
    QString output();
    // Waits until the standard output holds `text`.
    bool waitForOutput(const QString &text, int timeoutMs = 3000);

    // One control command over the socket; its answer line (empty on timeout).
    QString control(const QString &line, int timeoutMs = 3000);

    // Appends the CRC, throws away stale input, writes the frame.
    void send(const QByteArray &frameWithoutCRC);
    void sendRaw(const QByteArray &bytes);
    // Reads until `count` bytes came or the line was silent for `silenceMs`.
    QByteArray read(int count, int silenceMs = 1000);
    // A request with a fixed-length answer (an exception answer is 5 bytes).
    QByteArray exchange(const QByteArray &frameWithoutCRC, int answerLength, int silenceMs = 1000);
    // Polls 0x50 0x66 once; the whole length-prefixed answer with its CRC.
    QByteArray pollReply();
    // Sends AT text (with its terminator) in a 0x65 frame; true when acknowledged.
    bool sendAT(const QByteArray &text);
    // Sends AT text and polls the answer until it holds `ending` (or an error
    // line) or `timeoutMs` passes; returns the answer's data bytes.
    QByteArray command(const QByteArray &text, const QByteArray &ending = "OK\r\n",
                       int timeoutMs = 3000);

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QByteArray m_stdout;
    QString m_ptyPath;
    QString m_error;
    int m_fd = -1;
};

// The answer's data bytes of a whole length-prefixed 0x66 answer; empty
// when it is not one.
QByteArray ReplyData(const QByteArray &answer);

} // namespace devsim::test
