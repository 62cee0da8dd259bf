#include "journal.h"

#include "centralsender.h"
#include "hostservices.h"
#include "pipeline.h"

#include <cstdio>

namespace quillet::app {

Journal::Journal(QObject *parent) : QObject(parent)
{
    m_sink = [](const QByteArray &line) {
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        std::fflush(stderr);
    };
}

void Journal::write(Priority priority, const QString &text)
{
    m_sink(JournalLine(int(priority), text));
}

void Journal::change(const QString &topic, const QString &key, Priority priority,
                     const QString &text)
{
    const auto last = m_last.constFind(topic);
    const bool unchanged = last == m_last.constEnd() ? key.isEmpty() : *last == key;
    m_last.insert(topic, key);
    if (!unchanged)
        write(priority, text);
}

void Journal::problem(const QString &topic, const QString &why, Priority priority,
                      const QString &what, const QString &cleared)
{
    if (why.isEmpty())
        change(topic, why, Info, cleared);
    else
        change(topic, why, priority, what + QStringLiteral(": ") + why);
}

void Journal::connectionChanged()
{
    if (!m_stateKnown)
        return; // start-up has not decided yet
    const QString problem = m_pipeline->ConnectionProblem();
    if (m_online && problem.isEmpty())
        change(QStringLiteral("connection"), QStringLiteral("Online"), Info,
               QStringLiteral("Online"));
    else if (m_online)
        change(QStringLiteral("connection"), QStringLiteral("Online, but ") + problem, Error,
               QStringLiteral("Online, but ") + problem);
    else if (!problem.isEmpty())
        change(QStringLiteral("connection"), QStringLiteral("Offline: ") + problem, Error,
               QStringLiteral("Offline: ") + problem);
    else
        change(QStringLiteral("connection"), QStringLiteral("Offline"), Warning,
               QStringLiteral("Offline (File > Offline)"));
}

void Journal::attach(AlarmPipeline &pipeline)
{
    m_pipeline = &pipeline;
    connect(&pipeline, &AlarmPipeline::stateChanged, this, [this](bool online) {
        m_online = online;
        m_stateKnown = true;
        connectionChanged();
    });
    connect(&pipeline, &AlarmPipeline::problemNoted, this, [this] {
        connectionChanged();
        problem(QStringLiteral("log"), m_pipeline->Log().problem(), Error,
                QStringLiteral("History log"), QStringLiteral("History log: written again"));
    });
    connect(&pipeline, &AlarmPipeline::storeStateChanged, this, [this](bool failed) {
        problem(QStringLiteral("store"),
                failed ? QStringLiteral("cannot be written, what was recorded is kept in memory")
                       : QString(),
                Error, QStringLiteral("Quillet.rcv"), QStringLiteral("Quillet.rcv: written again"));
    });
    connect(&pipeline, &AlarmPipeline::databaseStateChanged, this,
            [this](bool failing, const QString &why) {
                problem(QStringLiteral("database"),
                        failing ? (why.isEmpty() ? QStringLiteral("row not stored") : why)
                                : QString(),
                        Error, QStringLiteral("Database"),
                        QStringLiteral("Database: rows stored again"));
            });
    OnCentralStatusChanged(this, [this] {
        const CentralState central = CentralStatus();
        // Once per reason: the count of waiting rows changes with every alarm.
        change(QStringLiteral("central"), central.reason, central.reason.isEmpty() ? Info : Warning,
               central.reason.isEmpty()
                   ? QStringLiteral("Central database: sending again")
                   : QStringLiteral("Central database: %1 (%2); %3 rows waiting")
                         .arg(central.reason, central.detail)
                         .arg(central.waiting));
    });
    connect(&pipeline, &AlarmPipeline::conditionBegan, this,
            [this](const SupervisionCondition &condition) {
                write(Warning, (condition.keyword + QLatin1Char(' ') + condition.detail).trimmed());
            });
    connect(&pipeline, &AlarmPipeline::conditionEnded, this,
            [this](const SupervisionCondition &condition, const QString &detail) {
                write(Info, (EndKeyword(condition.kind) + QLatin1Char(' ') + detail).trimmed());
            });
}

} // namespace quillet::app
