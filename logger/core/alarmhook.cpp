#include "alarmhook.h"

#include "hostservices.h"
#include "outbox.h"
#include "timetext.h"

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace quillet {

namespace {

// What a run's standard error may put into the trace: its end, which says
// why it failed.
constexpr qsizetype kStderrKept = 2000;
constexpr int kKillAfterMs = 5000;

// The queue's fields after the alarm's key, in the order of the arguments.
const char *const kVariables[] = {"QUILLET_DATE", "QUILLET_CALLER", "QUILLET_NUMBER",
                                  "QUILLET_TEXT", "QUILLET_LOGGER"};

// The run and whatever it started: it leads a session of its own.
void signalRun(const QProcess *process, int signal)
{
    const qint64 pid = process ? process->processId() : 0;
    if (pid > 0)
        ::kill(-pid_t(pid), signal);
}

} // namespace

QStringList SplitCommandLine(const QString &line, QString *error)
{
    QStringList words;
    QString word;
    bool inWord = false;
    QChar quote;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (quote == u'\'') {
            if (c == u'\'')
                quote = QChar();
            else
                word += c;
        } else if (quote == u'"') {
            if (c == u'"')
                quote = QChar();
            else if (c == u'\\' && i + 1 < line.size() &&
                     (line.at(i + 1) == u'"' || line.at(i + 1) == u'\\'))
                word += line.at(++i);
            else
                word += c;
        } else if (c.isSpace()) {
            if (inWord)
                words << std::exchange(word, {});
            inWord = false;
        } else {
            inWord = true;
            if (c == u'\'' || c == u'"')
                quote = c;
            else if (c == u'\\' && i + 1 < line.size())
                word += line.at(++i);
            else
                word += c;
        }
    }
    if (!quote.isNull()) {
        if (error)
            *error = QStringLiteral("unclosed %1").arg(quote);
        return {};
    }
    if (inWord)
        words << word;
    return words;
}

AlarmHook::AlarmHook(QObject *parent) : QObject(parent)
{
    for (QTimer *timer : {&m_deadline, &m_kill, &m_retry})
        timer->setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &AlarmHook::runNext);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        if (!m_process)
            return;
        WriteDebugTrace(
            QStringLiteral("RunOnAlarm: still running after %1 s, ended").arg(m_timeoutMs / 1000));
        // The whole group: a script's own children must not outlive it.
        signalRun(m_process, SIGTERM);
        m_kill.start(kKillAfterMs);
    });
    connect(&m_kill, &QTimer::timeout, this, [this] { signalRun(m_process, SIGKILL); });
}

AlarmHook::~AlarmHook()
{
    // A run cut short stays queued and runs again at the next start.
    if (m_process) {
        m_process->disconnect(this);
        signalRun(m_process, SIGKILL);
        m_process->waitForFinished(1000);
    }
}

void AlarmHook::configure(const QString &commandLine, int timeoutSeconds)
{
    QString error;
    m_command = SplitCommandLine(commandLine, &error);
    if (!error.isEmpty())
        WriteDebugTrace(QStringLiteral("RunOnAlarm=%1 not used: %2").arg(commandLine, error));
    m_timeoutMs = (timeoutSeconds > 0 ? timeoutSeconds : 30) * 1000;
    QTimer::singleShot(0, this, &AlarmHook::runNext);
}

void AlarmHook::load(const QString &queuePath)
{
    m_queue.load(queuePath);
    if (!m_queue.isEmpty())
        WriteDebugTrace(QStringLiteral("RunOnAlarm: %1 alarms waiting").arg(m_queue.size()));
    QTimer::singleShot(0, this, &AlarmHook::runNext);
}

void AlarmHook::setRetryDelays(int firstMs, int longestMs)
{
    m_firstDelayMs = m_delayMs = firstMs;
    m_longestDelayMs = longestMs;
}

void AlarmHook::enqueue(const AlarmRecord &r)
{
    if (m_command.isEmpty())
        return;
    m_queue.append(
        {r.key, timetext::Format(r.date), r.callerID, r.phoneNo, r.message, LoggerNameInUse()});
    // Started from the event loop: the poll that recorded it goes on at once.
    QTimer::singleShot(0, this, &AlarmHook::runNext);
}

void AlarmHook::runNext()
{
    if (m_command.isEmpty() || m_process || m_retry.isActive() || m_queue.isEmpty())
        return;
    const QStringList alarm = m_queue.first().mid(1);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (int i = 0; i < int(std::size(kVariables)); ++i)
        env.insert(QString::fromLatin1(kVariables[i]), alarm.value(i));

    auto *process = new QProcess(this);
    m_process = process;
    m_stderr.clear();
    process->setProcessEnvironment(env);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    // A session of its own, so that its end can reach what it started; and
    // ended with the logger, whose restart runs it again from the queue.
    process->setChildProcessModifier([] {
        ::setsid();
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    });
    connect(process, &QProcess::readyReadStandardError, this, [this, process] {
        m_stderr += process->readAllStandardError();
        if (m_stderr.size() > kStderrKept)
            m_stderr = m_stderr.right(kStderrKept);
    });
    connect(process, &QProcess::finished, this,
            [this, process](int code, QProcess::ExitStatus status) {
                finishRun(process, status == QProcess::NormalExit && code == 0,
                          status == QProcess::NormalExit ? QStringLiteral("exit code %1").arg(code)
                                                         : QStringLiteral("ended by a signal"));
            });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            finishRun(process, false, QStringLiteral("not started: ") + process->errorString());
    });
    m_deadline.start(m_timeoutMs);
    process->start(m_command.first(), m_command.mid(1) + alarm);
}

void AlarmHook::finishRun(QProcess *process, bool ok, const QString &how)
{
    if (process != m_process)
        return;
    m_deadline.stop();
    m_kill.stop();
    m_stderr += process->readAllStandardError();
    const QString err = QString::fromLocal8Bit(m_stderr.right(kStderrKept)).trimmed();
    QString line = QStringLiteral("RunOnAlarm: ") + m_command.first() + u' ' + how;
    if (!err.isEmpty())
        line += QStringLiteral("; stderr: ") + QString(err).replace(u'\n', QStringLiteral(" | "));
    process->deleteLater();
    m_process = nullptr;
    if (ok) {
        WriteDebugTrace(line);
        m_queue.removeFirst();
        m_delayMs = m_firstDelayMs;
        QTimer::singleShot(0, this, &AlarmHook::runNext);
        return;
    }
    WriteDebugTrace(line + QStringLiteral("; tried again in %1 s").arg(m_delayMs / 1000.0));
    m_retry.start(m_delayMs);
    m_delayMs = qMin(m_delayMs * 2, m_longestDelayMs);
}

} // namespace quillet
