#pragma once
// RunOnAlarm: a program of the operator's run once for every recorded alarm,
// to pass it on (a message broker, a pager gateway, a ticket system). The
// alarm reaches the program in its environment (QUILLET_DATE, QUILLET_CALLER,
// QUILLET_NUMBER, QUILLET_TEXT, QUILLET_LOGGER) and as five arguments after
// the fixed ones of the setting; no shell ever sees the alarm's text.
//
// The alarms wait in a queue beside the settings, added to it in the step
// that commits their record, so a crash costs at most one run more, never a
// run. They run in order, one at a time, without ever holding up a poll; a
// run that fails (an exit code other than 0, a crash, a program that cannot
// start, one that outlives its time and is ended) is tried again after a
// pause that doubles up to five minutes, and nothing behind it overtakes it.

#include "alarms.h"
#include "durablequeue.h"

#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QTimer>

namespace quillet {

// A setting's program line into its words: blanks separate them, '...'
// keeps everything as it is, "..." keeps all but \" and \\, and a backslash
// outside quotes takes the next character as it is. Empty for a line with
// an unclosed quote (`error` says so).
QStringList SplitCommandLine(const QString &line, QString *error = nullptr);

class AlarmHook : public QObject
{
    Q_OBJECT
public:
    explicit AlarmHook(QObject *parent = nullptr);
    ~AlarmHook() override;

    // The program line (empty: no program, nothing is queued) and the
    // longest run, in seconds.
    void configure(const QString &commandLine, int timeoutSeconds);
    // The queue's file; what it holds runs as soon as a program is set.
    void load(const QString &queuePath);
    // Queued (on disk when this returns) and run in its turn.
    void enqueue(const AlarmRecord &record);
    qsizetype waiting() const { return m_queue.size(); }
    // The first pause after a failed run and the longest.
    void setRetryDelays(int firstMs, int longestMs);

private:
    void runNext();
    void finishRun(QProcess *process, bool ok, const QString &how);

    QStringList m_command;
    int m_timeoutMs = 30000;
    DurableQueue m_queue;
    QPointer<QProcess> m_process;
    QByteArray m_stderr;
    QTimer m_deadline; // the run's time is up: asked to end
    QTimer m_kill;     // asked and still running: killed
    QTimer m_retry;
    int m_firstDelayMs = 5000;
    int m_longestDelayMs = 300000;
    int m_delayMs = 5000;
};

} // namespace quillet
