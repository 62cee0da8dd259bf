#include "statuspublisher.h"

#include "centralsender.h"
#include "hostservices.h"
#include "journal.h"
#include "pipeline.h"

#include <unistd.h>

namespace quillet::app {

StatusPublisher::StatusPublisher(QObject *parent) : QObject(parent) {}

void StatusPublisher::attach(AlarmPipeline &pipeline, Journal *journal)
{
    m_pipeline = &pipeline;
    m_journal = journal;
    const QDir folder = QDir::current();
    m_path = StatusFilePath(folder);
    m_status.folder = folder.canonicalPath();
    m_status.pid = ::getpid();
    m_status.started = QDateTime::currentDateTimeUtc();
    m_status.pollIntervalMs = pipeline.tmrAlarmLogger.interval();
    m_status.figures = pipeline.Supervision().figures;
    m_status.conditions = pipeline.Supervision().conditions;

    connect(&pipeline, &AlarmPipeline::stateChanged, this, [this](bool online) {
        m_status.online = online;
        publish();
    });
    connect(&pipeline, &AlarmPipeline::alarmRecorded, this, [this] { ++m_status.alarms; });
    connect(&pipeline, &AlarmPipeline::databaseStateChanged, this,
            [this](bool failing, const QString &why) {
                m_status.databaseProblem = failing ? why : QString();
            });
    connect(&pipeline, &AlarmPipeline::healthChanged, this,
            [this](const HealthFigures &figures) { m_status.figures = figures; });
    connect(&pipeline, &AlarmPipeline::conditionBegan, this,
            [this](const SupervisionCondition &condition) {
                m_status.conditions << condition;
                publish();
            });
    connect(&pipeline, &AlarmPipeline::conditionEnded, this,
            [this](const SupervisionCondition &condition) {
                m_status.conditions.removeIf([&](const SupervisionCondition &c) {
                    return c.kind == condition.kind && c.subject == condition.subject;
                });
                publish();
            });
    connect(&pipeline, &AlarmPipeline::pollFinished, this, [this] {
        m_status.lastPoll = QDateTime::currentDateTimeUtc();
        publish();
    });
    // A poll through a full SIM at a slow rate may outlast three intervals:
    // its progress keeps the file fresh.
    connect(&pipeline, &AlarmPipeline::pollProgressed, this, [this] {
        if (m_pipeline->IsPolling() && m_sinceWrite.isValid() &&
            m_sinceWrite.elapsed() >= m_status.pollIntervalMs) {
            m_status.lastPoll = QDateTime::currentDateTimeUtc();
            publish();
        }
    });
    connect(&pipeline, &AlarmPipeline::exiting, this, [this] { withdraw(); });
}

void StatusPublisher::publish()
{
    if (!m_pipeline)
        return;
    m_status.connectionProblem = m_pipeline->ConnectionProblem();
    m_status.logProblem = m_pipeline->Log().problem();
    m_status.storeWriteFailed = m_pipeline->Received().writeFailed();
    const CentralState central = CentralStatus();
    m_status.outboxWaiting = central.active ? std::optional<qint64>(central.waiting) : std::nullopt;
    m_status.centralProblem = central.reason;
    m_sinceWrite.start();

    QDir().mkpath(RuntimeFolder());
    write(QStringLiteral("status file"), m_path, StatusToJson(m_status), std::nullopt);
    const QString metrics = m_pipeline->settings().MetricsFile;
    // Read by the collector's own user.
    if (!metrics.isEmpty())
        write(QStringLiteral("MetricsFile"), metrics, MetricsText(m_status),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
}

void StatusPublisher::write(const QString &what, const QString &path, const QByteArray &bytes,
                            std::optional<QFile::Permissions> permissions)
{
    QString error;
    const bool ok = WriteFileAtomically(path, bytes, error, permissions);
    if (!ok)
        WriteDebugTrace(QStringLiteral("%1 %2: %3").arg(what, path, error));
    if (m_journal)
        m_journal->problem(what, ok ? QString() : path + QStringLiteral(": ") + error,
                           Journal::Warning, what, what + QStringLiteral(": written again"));
}

void StatusPublisher::withdraw()
{
    QFile::remove(m_path);
}

} // namespace quillet::app
