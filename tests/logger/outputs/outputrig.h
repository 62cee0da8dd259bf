#pragma once
// A private D-Bus session bus for one test process, and the DDE receiver tool
// running on it with its printed lines collected. Every wait is bounded.

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <csignal>

namespace quillet::test {

class PrivateSessionBus
{
public:
    ~PrivateSessionBus()
    {
        m_daemon.kill();
        m_daemon.waitForFinished(10000);
    }
    // Starts dbus-daemon on a socket in a temporary folder and points this
    // process (and its children) at it. Call before the first use of the
    // session bus. False with the reason in error().
    bool start()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty() || !m_dir.isValid()) {
            m_error =
                QStringLiteral("dbus-daemon is missing (scripts/install-deps.sh installs it)");
            return false;
        }
        const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
        QFile f(config);
        if (!f.open(QIODevice::WriteOnly))
            return false;
        f.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\""
                " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                "<busconfig><type>session</type><listen>unix:dir=" +
                QFile::encodeName(m_dir.path()) +
                "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                "<allow own=\"*\"/></policy></busconfig>\n");
        f.close();
        m_daemon.start(daemon, {QStringLiteral("--config-file=") + config,
                                QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        if (!m_daemon.waitForStarted(10000)) {
            m_error = m_daemon.errorString();
            return false;
        }
        QByteArray address;
        for (int i = 0; i < 100 && !address.contains('\n'); ++i) {
            m_daemon.waitForReadyRead(100);
            address += m_daemon.readAllStandardOutput();
        }
        address = address.trimmed();
        if (address.isEmpty()) {
            m_error = QString::fromLocal8Bit(m_daemon.readAllStandardError());
            return false;
        }
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        return true;
    }
    QString error() const { return m_error; }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_error;
};

// quillet-ddereceiver started with the given arguments.
class ReceiverProcess
{
public:
    explicit ReceiverProcess(const QStringList &args)
    {
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput,
                         [this] { m_out += m_process.readAllStandardOutput(); });
        m_process.start(QStringLiteral(QUILLET_BIN_DIR "/quillet-ddereceiver"), args);
    }
    ~ReceiverProcess()
    {
        if (m_process.processId() > 0)
            ::kill(pid_t(m_process.processId()), SIGCONT);
        m_process.kill();
        m_process.waitForFinished(10000);
    }
    ReceiverProcess(const ReceiverProcess &) = delete;
    ReceiverProcess &operator=(const ReceiverProcess &) = delete;

    // True once the tool said it owns its bus name.
    bool waitUntilListening()
    {
        QByteArray err;
        for (int i = 0; i < 100 && !err.contains("listening as"); ++i) {
            if (!m_process.waitForReadyRead(100) && m_process.state() != QProcess::Running)
                break;
            err += m_process.readAllStandardError();
        }
        return err.contains("listening as");
    }
    // The complete lines printed so far.
    QStringList lines() const
    {
        QStringList out = QString::fromUtf8(m_out).split(QLatin1Char('\n'));
        out.removeLast();
        return out;
    }
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
    QByteArray m_out;
};

} // namespace quillet::test
