#include "status.h"

#include "startup.h"
#include "timetext.h"

#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <cstdio>
#include <unistd.h>

namespace quillet::app {

namespace {

QString isoUtc(const QDateTime &moment)
{
    return moment.isValid() ? moment.toUTC().toString(Qt::ISODateWithMs) : QString();
}

QDateTime fromIso(const QJsonValue &value)
{
    QDateTime moment = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    return moment.isValid() ? moment.toUTC() : QDateTime();
}

std::optional<ConditionKind> kindOf(const QString &keyword)
{
    for (ConditionKind kind :
         {ConditionKind::NoNetwork, ConditionKind::WeakSignal, ConditionKind::SimFull,
          ConditionKind::DeleteRefused, ConditionKind::SiteSilent, ConditionKind::LoopTestFailed})
        if (BeginKeyword(kind) == keyword)
            return kind;
    return std::nullopt;
}

QJsonObject toObject(const LoggerStatus &s)
{
    QJsonObject o{
        {QStringLiteral("folder"), s.folder},
        {QStringLiteral("pid"), s.pid},
        {QStringLiteral("started"), isoUtc(s.started)},
        {QStringLiteral("lastPoll"), isoUtc(s.lastPoll)},
        {QStringLiteral("pollIntervalMs"), s.pollIntervalMs},
        {QStringLiteral("online"), s.online},
        {QStringLiteral("connectionProblem"), s.connectionProblem},
        {QStringLiteral("logProblem"), s.logProblem},
        {QStringLiteral("storeWriteFailed"), s.storeWriteFailed},
        {QStringLiteral("databaseProblem"), s.databaseProblem},
        {QStringLiteral("alarms"), s.alarms},
        {QStringLiteral("centralProblem"), s.centralProblem},
        {QStringLiteral("registration"), s.figures.registration},
        {QStringLiteral("registrationName"), s.figures.registrationName},
        {QStringLiteral("registered"), s.figures.registered},
        {QStringLiteral("simUsed"), s.figures.simUsed},
        {QStringLiteral("simTotal"), s.figures.simTotal},
        {QStringLiteral("checkedAt"), isoUtc(s.figures.checkedAt)},
    };
    // A figure not known is left out, never written as a made-up value.
    if (s.outboxWaiting)
        o.insert(QStringLiteral("outboxWaiting"), *s.outboxWaiting);
    if (s.figures.signalDbm)
        o.insert(QStringLiteral("signalDbm"), *s.figures.signalDbm);
    QJsonArray conditions;
    for (const SupervisionCondition &c : s.conditions)
        conditions.append(QJsonObject{{QStringLiteral("keyword"), c.keyword},
                                      {QStringLiteral("subject"), c.subject},
                                      {QStringLiteral("since"), isoUtc(c.since)},
                                      {QStringLiteral("detail"), c.detail}});
    o.insert(QStringLiteral("conditions"), conditions);
    return o;
}

QString ago(const QDateTime &moment, const QDateTime &now)
{
    return QStringLiteral("%1 s ago").arg(qMax<qint64>(0, moment.secsTo(now)));
}

QString shown(const QDateTime &moment)
{
    return timetext::Format(moment.toLocalTime());
}

// Where a logger of `folder` may have written its status: this process's
// own runtime folder first, then those of the services and of the users,
// since whoever asks (root, a monitoring agent) seldom shares the logger's
// environment.
QStringList candidateFiles(const QDir &folder, QStringList &unreadable)
{
    const QString name = FolderFileName(folder, QStringLiteral(".status"));
    QStringList places{RuntimeFolder(), QStringLiteral("/run/quillet")};
    for (const QString &parent : {QStringLiteral("/run/quillet"), QStringLiteral("/run/user")}) {
        QDirIterator it(parent, QDir::Dirs | QDir::NoDotAndDotDot);
        while (it.hasNext()) {
            const QString sub = it.next();
            places << (parent.endsWith(QLatin1String("user")) ? sub + QStringLiteral("/quillet")
                                                              : sub);
        }
    }
    places.removeDuplicates();
    QStringList files;
    for (const QString &place : std::as_const(places)) {
        const QFileInfo dir(place);
        if (!dir.isDir())
            continue;
        if (!dir.isExecutable())
            unreadable << place;
        else if (QFileInfo::exists(place + QLatin1Char('/') + name))
            files << place + QLatin1Char('/') + name;
    }
    return files;
}

} // namespace

QByteArray StatusToJson(const LoggerStatus &status)
{
    return QJsonDocument(toObject(status)).toJson(QJsonDocument::Indented);
}

bool StatusFromJson(const QByteArray &json, LoggerStatus &status)
{
    const QJsonObject o = QJsonDocument::fromJson(json).object();
    if (!o.value(QStringLiteral("folder")).isString() || !o.value(QStringLiteral("pid")).isDouble())
        return false;
    LoggerStatus s;
    s.folder = o.value(QStringLiteral("folder")).toString();
    s.pid = o.value(QStringLiteral("pid")).toInteger();
    s.started = fromIso(o.value(QStringLiteral("started")));
    s.lastPoll = fromIso(o.value(QStringLiteral("lastPoll")));
    s.pollIntervalMs = o.value(QStringLiteral("pollIntervalMs")).toInt(5000);
    s.online = o.value(QStringLiteral("online")).toBool();
    s.connectionProblem = o.value(QStringLiteral("connectionProblem")).toString();
    s.logProblem = o.value(QStringLiteral("logProblem")).toString();
    s.storeWriteFailed = o.value(QStringLiteral("storeWriteFailed")).toBool();
    s.databaseProblem = o.value(QStringLiteral("databaseProblem")).toString();
    s.alarms = o.value(QStringLiteral("alarms")).toInteger();
    if (o.contains(QStringLiteral("outboxWaiting")))
        s.outboxWaiting = o.value(QStringLiteral("outboxWaiting")).toInteger();
    s.centralProblem = o.value(QStringLiteral("centralProblem")).toString();
    s.figures.registration = o.value(QStringLiteral("registration")).toInt(-1);
    s.figures.registrationName = o.value(QStringLiteral("registrationName")).toString();
    s.figures.registered = o.value(QStringLiteral("registered")).toBool();
    if (o.contains(QStringLiteral("signalDbm")))
        s.figures.signalDbm = o.value(QStringLiteral("signalDbm")).toInt();
    s.figures.simUsed = o.value(QStringLiteral("simUsed")).toInt(-1);
    s.figures.simTotal = o.value(QStringLiteral("simTotal")).toInt(-1);
    s.figures.checkedAt = fromIso(o.value(QStringLiteral("checkedAt")));
    for (const QJsonValue &v : o.value(QStringLiteral("conditions")).toArray()) {
        const QJsonObject c = v.toObject();
        SupervisionCondition condition;
        condition.keyword = c.value(QStringLiteral("keyword")).toString();
        condition.kind = kindOf(condition.keyword).value_or(ConditionKind::NoNetwork);
        condition.subject = c.value(QStringLiteral("subject")).toString();
        condition.since = fromIso(c.value(QStringLiteral("since")));
        condition.detail = c.value(QStringLiteral("detail")).toString();
        s.conditions << condition;
    }
    status = s;
    return true;
}

QString LevelName(StatusLevel level)
{
    switch (level) {
    case StatusLevel::Ok:
        return QStringLiteral("OK");
    case StatusLevel::Warning:
        return QStringLiteral("WARNING");
    case StatusLevel::Critical:
        return QStringLiteral("CRITICAL");
    case StatusLevel::Unknown:
        break;
    }
    return QStringLiteral("UNKNOWN");
}

StatusVerdict EvaluateStatus(const LoggerStatus *status, bool running, const QDateTime &now)
{
    if (!status)
        return {StatusLevel::Unknown, {QStringLiteral("no logger has published its status")}};
    const LoggerStatus &s = *status;
    if (!running) {
        const QDateTime last = s.lastPoll.isValid() ? s.lastPoll : s.started;
        return {StatusLevel::Unknown,
                {QStringLiteral("no logger runs in %1 (its last status is from %2)")
                     .arg(s.folder, shown(last))}};
    }
    QStringList critical;
    if (!s.online)
        critical << (s.connectionProblem.isEmpty()
                         ? QStringLiteral("Offline (File > Offline)")
                         : QStringLiteral("Offline: ") + s.connectionProblem);
    else if (!s.connectionProblem.isEmpty())
        critical << QStringLiteral("Online, but ") + s.connectionProblem;
    if (!s.logProblem.isEmpty())
        critical << QStringLiteral("history log: ") + s.logProblem;
    // A poll cycle that stopped says nothing itself: only its silence shows.
    const QDateTime last = s.lastPoll.isValid() ? s.lastPoll : s.started;
    if (!last.isValid() || last.msecsTo(now) > 3 * qint64(s.pollIntervalMs))
        critical << (s.lastPoll.isValid() ? QStringLiteral("last poll %1").arg(ago(s.lastPoll, now))
                                          : QStringLiteral("no poll since the start"));

    QStringList warning;
    for (const SupervisionCondition &c : s.conditions)
        warning << (c.keyword + QLatin1Char(' ') + c.detail).trimmed();
    if (s.outboxWaiting.value_or(0) > 0)
        warning << QStringLiteral("%1 rows wait for the central database").arg(*s.outboxWaiting) +
                       (s.centralProblem.isEmpty() ? QString()
                                                   : QStringLiteral(": ") + s.centralProblem);
    if (s.storeWriteFailed)
        warning << QStringLiteral("Quillet.rcv cannot be written");
    if (!s.databaseProblem.isEmpty())
        warning << QStringLiteral("database: ") + s.databaseProblem;

    const StatusLevel level = !critical.isEmpty()  ? StatusLevel::Critical
                              : !warning.isEmpty() ? StatusLevel::Warning
                                                   : StatusLevel::Ok;
    return {level, critical + warning};
}

QString StatusReport(const LoggerStatus *status, const StatusVerdict &verdict, const QDateTime &now)
{
    QString text = QStringLiteral("QUILLET %1 - ").arg(LevelName(verdict.level)) +
                   (verdict.reasons.isEmpty() ? QStringLiteral("Online")
                                              : verdict.reasons.join(QStringLiteral("; "))) +
                   QLatin1Char('\n');
    if (!status)
        return text;
    const LoggerStatus &s = *status;
    auto line = [&text](const char *label, const QString &value) {
        text += QStringLiteral("%1 %2\n").arg(QString::fromLatin1(label), -18).arg(value);
    };
    line("Folder:", s.folder);
    line("Logger:", QStringLiteral("process %1, since %2").arg(s.pid).arg(shown(s.started)));
    line("State:", s.online ? QStringLiteral("Online") : QStringLiteral("Offline"));
    if (s.lastPoll.isValid())
        line("Last poll:",
             shown(s.lastPoll) + QStringLiteral(" (") + ago(s.lastPoll, now) + QLatin1Char(')'));
    line("Alarms:", QStringLiteral("%1 since the start").arg(s.alarms));
    if (!s.figures.registrationName.isEmpty())
        line("Network:", s.figures.registrationName);
    if (s.figures.signalDbm)
        line("Signal:", QStringLiteral("%1 dBm").arg(*s.figures.signalDbm));
    if (s.figures.simUsed >= 0 && s.figures.simTotal > 0)
        line("SIM:",
             QStringLiteral("%1 of %2 messages").arg(s.figures.simUsed).arg(s.figures.simTotal));
    if (s.outboxWaiting)
        line("Central database:", QStringLiteral("%1 rows waiting").arg(*s.outboxWaiting));
    return text;
}

QByteArray StatusJsonReport(const LoggerStatus *status, const StatusVerdict &verdict)
{
    QJsonObject o = status ? toObject(*status) : QJsonObject();
    o.insert(QStringLiteral("level"), LevelName(verdict.level));
    o.insert(QStringLiteral("exitCode"), int(verdict.level));
    o.insert(QStringLiteral("reasons"), QJsonArray::fromStringList(verdict.reasons));
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

QByteArray MetricsText(const LoggerStatus &s)
{
    // Two loggers on one machine write two files into one collector: the
    // folder tells their series apart.
    QString folder = s.folder;
    folder.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    folder.replace(QLatin1Char('"'), QLatin1String("\\\""));
    folder.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    const QByteArray labels = "{folder=\"" + folder.toUtf8() + "\"}";
    QByteArray text;
    auto metric = [&](const char *name, const char *type, const char *help, qint64 value) {
        text += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n' +
                name + labels + ' ' + QByteArray::number(value) + '\n';
    };
    metric("quillet_alarms_total", "counter", "Alarms recorded since the logger started.",
           s.alarms);
    metric("quillet_online", "gauge", "1 while the logger is online and the device answers.",
           s.online && s.connectionProblem.isEmpty() ? 1 : 0);
    if (s.figures.signalDbm)
        metric("quillet_signal_dbm", "gauge", "The modem's signal strength in dBm.",
               *s.figures.signalDbm);
    if (s.figures.simUsed >= 0)
        metric("quillet_sim_used", "gauge", "Messages the last poll left on the SIM.",
               s.figures.simUsed);
    if (s.figures.simTotal > 0)
        metric("quillet_sim_total", "gauge", "Messages the SIM can hold.", s.figures.simTotal);
    if (s.outboxWaiting)
        metric("quillet_outbox_waiting", "gauge", "Rows waiting for the central database.",
               *s.outboxWaiting);
    if (s.lastPoll.isValid())
        metric("quillet_last_poll_timestamp_seconds", "gauge",
               "When the last poll ended, in seconds since the epoch.",
               s.lastPoll.toSecsSinceEpoch());
    return text;
}

QString RuntimeFolder()
{
    // systemd may list several folders; the unit names ours first.
    const QString service =
        qEnvironmentVariable("RUNTIME_DIRECTORY").section(QLatin1Char(':'), 0, 0);
    if (!service.isEmpty())
        return service;
    const QString user = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!user.isEmpty())
        return user + QStringLiteral("/quillet");
    return QDir::tempPath() + QStringLiteral("/quillet-runtime-%1").arg(::getuid());
}

QString StatusFilePath(const QDir &folder)
{
    return RuntimeFolder() + QLatin1Char('/') + FolderFileName(folder, QStringLiteral(".status"));
}

bool WriteFileAtomically(const QString &path, const QByteArray &bytes, QString &error,
                         std::optional<QFile::Permissions> permissions)
{
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() ||
        (permissions && !file.setPermissions(*permissions)) || !file.commit()) {
        error = file.errorString();
        file.cancelWriting();
        return false;
    }
    return true;
}

int RunStatusCommand(const QString &folderName, bool json)
{
    const QDir folder(folderName.isEmpty() ? QStringLiteral(".") : folderName);
    QStringList unreadable;
    std::optional<LoggerStatus> newest;
    if (folder.exists()) {
        for (const QString &path : candidateFiles(folder, unreadable)) {
            QFile file(path);
            LoggerStatus s;
            if (!file.open(QIODevice::ReadOnly)) {
                unreadable << path;
                continue;
            }
            // The name is a hash: the file must name the folder too.
            if (StatusFromJson(file.readAll(), s) && s.folder == folder.canonicalPath() &&
                (!newest || s.lastPoll > newest->lastPoll))
                newest = s;
        }
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    StatusVerdict verdict = EvaluateStatus(newest ? &*newest : nullptr,
                                           folder.exists() && InstanceLockHeld(folder), now);
    if (!folder.exists())
        verdict.reasons = QStringList{QStringLiteral("no folder %1").arg(folderName)};
    else if (!newest)
        for (const QString &place : std::as_const(unreadable))
            verdict.reasons << QStringLiteral("%1 cannot be read by this user").arg(place);
    const QByteArray out = json ? StatusJsonReport(newest ? &*newest : nullptr, verdict)
                                : StatusReport(newest ? &*newest : nullptr, verdict, now).toUtf8();
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    return int(verdict.level);
}

} // namespace quillet::app
