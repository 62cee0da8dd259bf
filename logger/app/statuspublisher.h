#pragma once
// Keeps the status file (and the metrics file, when MetricsFile is set) of a
// running logger up to date: rewritten after every poll, during a long poll
// at least once an interval, and at once when the state changes; removed at
// the end, so a logger that stopped in order is not taken for a stuck one.

#include "status.h"

#include <QElapsedTimer>
#include <QObject>

namespace quillet {
class AlarmPipeline;
}

namespace quillet::app {

class Journal;

class StatusPublisher : public QObject
{
public:
    explicit StatusPublisher(QObject *parent = nullptr);
    // `journal`, when given, hears once when a file cannot be written, and
    // once when it can again.
    void attach(AlarmPipeline &pipeline, Journal *journal = nullptr);

    const LoggerStatus &status() const { return m_status; }
    QString statusPath() const { return m_path; }
    void publish();

private:
    void withdraw();
    void write(const QString &what, const QString &path, const QByteArray &bytes,
               std::optional<QFile::Permissions> permissions);

    AlarmPipeline *m_pipeline = nullptr;
    Journal *m_journal = nullptr;
    LoggerStatus m_status;
    QString m_path;
    QElapsedTimer m_sinceWrite;
};

} // namespace quillet::app
