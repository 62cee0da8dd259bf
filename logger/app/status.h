#pragma once
// What a running logger publishes about itself for monitoring: a small status
// file in its runtime folder, rewritten after every poll, that `quillet
// --status` reads and judges the way monitoring plugins do; and, when
// MetricsFile is set, the same figures for a metrics collector.

#include "supervision.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace quillet::app {

// One logger's state as the status file holds it.
struct LoggerStatus
{
    QString folder; // the configuration folder, canonical
    qint64 pid = 0;
    QDateTime started;  // UTC
    QDateTime lastPoll; // the end of the last tick's work; invalid before the first
    int pollIntervalMs = 5000;
    bool online = false;
    QString connectionProblem; // why offline, or why the device does not answer
    QString logProblem;        // why the last record could not be written
    bool storeWriteFailed = false;
    QString databaseProblem;             // why the last row could not be stored
    qint64 alarms = 0;                   // recorded since the start
    std::optional<qint64> outboxWaiting; // only with a central database
    QString centralProblem;              // why the server takes none
    HealthFigures figures;
    QList<SupervisionCondition> conditions;

    bool operator==(const LoggerStatus &) const = default;
};

QByteArray StatusToJson(const LoggerStatus &status);
// False (and `status` untouched) when `json` is no status.
bool StatusFromJson(const QByteArray &json, LoggerStatus &status);

// The monitoring plugins' exit codes.
enum class StatusLevel
{
    Ok = 0,
    Warning = 1,
    Critical = 2,
    Unknown = 3,
};
QString LevelName(StatusLevel level); // "OK", "WARNING", ...

struct StatusVerdict
{
    StatusLevel level = StatusLevel::Unknown;
    QStringList reasons; // the worst first
};

// Critical: offline, the device not answering, the log unwritable, no poll
// for three intervals. Warning: a supervision condition, rows waiting for the
// central database, the received store or the database failing. Unknown: no
// status (`status` null), or no logger holds the folder's lock (`running`).
StatusVerdict EvaluateStatus(const LoggerStatus *status, bool running, const QDateTime &now);

// For people: a monitoring plugin's first line, then the figures.
QString StatusReport(const LoggerStatus *status, const StatusVerdict &verdict,
                     const QDateTime &now);
// For programs: the status with the verdict ("level", "exitCode", "reasons").
QByteArray StatusJsonReport(const LoggerStatus *status, const StatusVerdict &verdict);
// The Prometheus text format; a figure not known is left out.
QByteArray MetricsText(const LoggerStatus &status);

// The logger's runtime folder: the service's (RUNTIME_DIRECTORY), else
// $XDG_RUNTIME_DIR/quillet, else one in the temp folder.
QString RuntimeFolder();
// The status file of the logger of `folder` in RuntimeFolder().
QString StatusFilePath(const QDir &folder);
// Replaces `path` with `bytes` in one rename, so a reader never sees half a
// file. `permissions`, when given, are the new file's.
bool WriteFileAtomically(const QString &path, const QByteArray &bytes, QString &error,
                         std::optional<QFile::Permissions> permissions = {});

// quillet --status [FOLDER] [--json]: prints and returns the exit code.
int RunStatusCommand(const QString &folder, bool json);

} // namespace quillet::app
