#include "supervisor.h"

#include "alarms.h"
#include "commsms.h"
#include "globals.h"
#include "hostservices.h"
#include "networkreply.h"
#include "timetext.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSaveFile>
#include <algorithm>

namespace quillet {

namespace {

const QString kLoopPrefix = QStringLiteral("Quillet loop test ");
// Loop texts remembered, so that one coming back late is still known.
constexpr int kLoopsKept = 8;
// A modem is restarted at most this often.
constexpr qint64 kResetSpacingSecs = 3600;
// While loops fail, the next one goes after this (or LoopTestHours, if less).
constexpr qint64 kFailedLoopSpacingSecs = 3600;
// Refused deletes of one slot in this many polls in a row fill the SIM.
constexpr int kRefusedPolls = 3;

qint64 minutesMs(double minutes)
{
    return qint64(minutes * 60000.0);
}

QString moment(const QDateTime &t)
{
    return timetext::Format(t);
}

// "42 s", "16 min", "3 h 5 min".
QString duration(qint64 secs)
{
    if (secs < 120)
        return QStringLiteral("%1 s").arg(secs);
    const qint64 minutes = secs / 60;
    if (minutes < 120)
        return QStringLiteral("%1 min").arg(minutes);
    return QStringLiteral("%1 h %2 min").arg(minutes / 60).arg(minutes % 60);
}

QString minutesText(double minutes)
{
    return duration(qint64(minutes * 60));
}

// Moments are kept as seconds since the epoch: no zone reading them back.
QJsonValue epoch(const QDateTime &t)
{
    return t.isValid() ? QJsonValue(t.toSecsSinceEpoch()) : QJsonValue();
}

QDateTime fromEpoch(const QJsonValue &v)
{
    return v.isDouble() ? QDateTime::fromSecsSinceEpoch(qint64(v.toDouble())) : QDateTime();
}

// A record's date is the wall clock as it stands, as a SIM's stamps are.
QDateTime wallClock(const QDateTime &local)
{
    return QDateTime(local.date(), local.time(), Qt::UTC);
}

const QString kWallFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

bool kindOf(const QString &keyword, ConditionKind &kind)
{
    for (ConditionKind k :
         {ConditionKind::NoNetwork, ConditionKind::WeakSignal, ConditionKind::SimFull,
          ConditionKind::DeleteRefused, ConditionKind::SiteSilent, ConditionKind::LoopTestFailed}) {
        if (BeginKeyword(k) == keyword) {
            kind = k;
            return true;
        }
    }
    return false;
}

bool isHealthKind(ConditionKind kind)
{
    return kind == ConditionKind::NoNetwork || kind == ConditionKind::WeakSignal ||
           kind == ConditionKind::SimFull || kind == ConditionKind::DeleteRefused;
}

// The site map's rule: the sender's number ends with the entry's.
bool numberEndsWith(const QString &phoneNo, const QString &suffix)
{
    return !suffix.isEmpty() && phoneNo.right(suffix.size()) == suffix;
}

} // namespace

Supervisor::Supervisor(const GlobalState &settings, QObject *parent)
    : QObject(parent), m_settings(settings)
{
}

QString Supervisor::LoopText(const QString &token)
{
    return kLoopPrefix + token;
}

QDateTime Supervisor::now() const
{
    return m_clock ? m_clock() : QDateTime::currentDateTime();
}

bool Supervisor::healthChecksOn() const
{
    return m_settings.HealthCheckSeconds > 0;
}

const SupervisionCondition *Supervisor::active(ConditionKind kind, const QString &subject) const
{
    for (const SupervisionCondition &c : m_state.conditions)
        if (c.kind == kind && c.subject == subject)
            return &c;
    return nullptr;
}

void Supervisor::queueRecord(const QString &text)
{
    m_pending.append({wallClock(now()), text});
}

void Supervisor::begin(ConditionKind kind, const QString &subject, const QDateTime &since,
                       const QString &detail)
{
    const SupervisionCondition c{kind, BeginKeyword(kind), subject, since, detail};
    m_state.conditions.append(c);
    queueRecord(c.keyword + QLatin1Char(' ') + detail);
    WriteDebugTrace(QStringLiteral("Supervision: ") + c.keyword + QLatin1Char(' ') + detail);
    save();
    emit conditionBegan(c);
}

void Supervisor::end(ConditionKind kind, const QString &subject, const QString &detail)
{
    const auto it = std::find_if(
        m_state.conditions.begin(), m_state.conditions.end(),
        [&](const SupervisionCondition &c) { return c.kind == kind && c.subject == subject; });
    if (it == m_state.conditions.end())
        return;
    const SupervisionCondition c = *it;
    m_state.conditions.erase(it);
    queueRecord(EndKeyword(kind) + QLatin1Char(' ') + detail);
    WriteDebugTrace(QStringLiteral("Supervision: ") + EndKeyword(kind) + QLatin1Char(' ') + detail);
    save();
    emit conditionEnded(c, detail);
}

void Supervisor::setFigures(const HealthFigures &figures)
{
    if (figures == m_state.figures)
        return;
    m_state.figures = figures;
    emit healthChanged(figures);
}

bool Supervisor::recordPending()
{
    while (!m_pending.isEmpty()) {
        const PendingRecord r = m_pending.first();
        if (m_road && !m_road(r.date, r.text))
            return false;
        m_pending.removeFirst();
        save();
    }
    return true;
}

// ---- health checks -------------------------------------------------------

void Supervisor::deviceOpened()
{
    m_registrationRefused = false;
    m_signalRefused = false;
    m_check = Check::Idle;
    m_nextCheck = QDateTime();
}

void Supervisor::noteRefusal(int which, const QString &command)
{
    if (m_refusalTraced[which])
        return;
    m_refusalTraced[which] = true;
    WriteDebugTrace(
        QStringLiteral("Health check: the modem refuses %1; that check is skipped").arg(command));
}

void Supervisor::deviceStep(CommSMS &device)
{
    if (m_reinitDue) {
        reinitialize(device);
        return;
    }
    if (loopDue()) {
        sendLoop(device);
        return;
    }
    if (!healthChecksOn())
        return;
    const QDateTime t = now();
    if (m_check == Check::Idle) {
        if (m_nextCheck.isValid() && t < m_nextCheck)
            return;
        m_nextCheck = t.addMSecs(qint64(m_settings.HealthCheckSeconds * 1000));
        m_check = Check::Registration;
    }
    QElapsedTimer held;
    held.start();
    auto note = [&] { m_longestCheckMs = std::max(m_longestCheckMs, held.elapsed()); };
    if (m_check == Check::Registration) {
        m_check = Check::Signal;
        if (!m_registrationRefused) {
            int stat = 0;
            switch (device.QueryRegistration(stat)) {
            case QueryAnswer::Answered:
                registrationChecked(stat);
                break;
            case QueryAnswer::Refused:
                m_registrationRefused = true;
                noteRefusal(0, QStringLiteral("AT+CREG?"));
                break;
            case QueryAnswer::NoAnswer:
                break;
            }
            note();
            return; // one exchange between two polls
        }
    }
    m_check = Check::Idle;
    if (m_signalRefused)
        return;
    int rssi = 0;
    switch (device.QuerySignal(rssi)) {
    case QueryAnswer::Answered:
        signalChecked(SignalDbm(rssi));
        break;
    case QueryAnswer::Refused:
        m_signalRefused = true;
        noteRefusal(1, QStringLiteral("AT+CSQ"));
        break;
    case QueryAnswer::NoAnswer:
        break;
    }
    note();
}

void Supervisor::registrationChecked(int stat)
{
    const QDateTime t = now();
    HealthFigures f = m_state.figures;
    f.registration = stat;
    f.registrationName = RegistrationStateName(stat);
    f.registered = IsRegisteredState(stat);
    f.checkedAt = t;
    setFigures(f);
    if (f.registered) {
        const QDateTime since = m_notRegisteredSince;
        m_notRegisteredSince = QDateTime();
        if (const SupervisionCondition *c = active(ConditionKind::NoNetwork))
            end(ConditionKind::NoNetwork, {},
                f.registrationName + QStringLiteral("; lost since ") + moment(c->since));
        return;
    }
    if (!m_notRegisteredSince.isValid())
        m_notRegisteredSince = t;
    if (!active(ConditionKind::NoNetwork) &&
        m_notRegisteredSince.msecsTo(t) >= minutesMs(m_settings.NoNetworkMinutes))
        begin(ConditionKind::NoNetwork, {}, m_notRegisteredSince,
              f.registrationName + QStringLiteral(" since ") + moment(m_notRegisteredSince));
}

void Supervisor::signalChecked(std::optional<int> dbm)
{
    const QDateTime t = now();
    HealthFigures f = m_state.figures;
    f.signalDbm = dbm;
    f.checkedAt = t;
    setFigures(f);
    if (!dbm)
        return; // not known: neither weak nor good
    if (*dbm >= m_settings.WeakSignalDbm) {
        m_weakSince = QDateTime();
        if (const SupervisionCondition *c = active(ConditionKind::WeakSignal))
            end(ConditionKind::WeakSignal, {},
                QStringLiteral("%1 dBm; weak since %2").arg(*dbm).arg(moment(c->since)));
        return;
    }
    if (!m_weakSince.isValid())
        m_weakSince = t;
    if (!active(ConditionKind::WeakSignal) &&
        m_weakSince.msecsTo(t) >= minutesMs(m_settings.WeakSignalMinutes))
        begin(ConditionKind::WeakSignal, {}, m_weakSince,
              QStringLiteral("%1 dBm (below %2 dBm) since %3")
                  .arg(*dbm)
                  .arg(m_settings.WeakSignalDbm)
                  .arg(moment(m_weakSince)));
}

// ---- what the poll saw ---------------------------------------------------

void Supervisor::pollDone(int simUsed, int simTotal, bool sawWholeStore)
{
    const QDateTime t = now();
    m_state.healthChecks = healthChecksOn();
    if (healthChecksOn()) {
        HealthFigures f = m_state.figures;
        f.simUsed = std::max(0, simUsed);
        f.simTotal = simTotal;
        setFigures(f);
        const int percent = m_settings.SimFullPercent;
        const bool full = percent > 0 && f.simTotal > 0 &&
                          qint64(f.simUsed) * 100 >= qint64(percent) * f.simTotal;
        const QString fill = QStringLiteral("%1/%2 used").arg(f.simUsed).arg(f.simTotal);
        const SupervisionCondition *c = active(ConditionKind::SimFull);
        if (full && !c) {
            begin(
                ConditionKind::SimFull, {}, t,
                QStringLiteral("%1 (%2% or more) since %3").arg(fill).arg(percent).arg(moment(t)));
        } else if (!full && c) {
            end(ConditionKind::SimFull, {},
                fill + QStringLiteral("; full since ") + moment(c->since));
        }
    }
    for (SentLoop &loop : m_loops) {
        if (loop.open && loop.sent.msecsTo(t) >= minutesMs(m_settings.LoopTestTimeoutMinutes)) {
            loop.open = false;
            loopFailed(QStringLiteral("no text back from %1 within %2 (sent %3)")
                           .arg(m_settings.LoopTestNumber,
                                minutesText(m_settings.LoopTestTimeoutMinutes), moment(loop.sent)));
        }
    }
    if (sawWholeStore)
        judgeSites();
}

void Supervisor::deleteTried(qint16 slot, quint64 poll, bool refused, const QString &refusal)
{
    if (!healthChecksOn())
        return;
    if (!refused) {
        slotEmptied(slot);
        return;
    }
    Refusals &r = m_refusals[slot];
    if (r.polls == 0)
        r.since = now();
    if (r.lastPoll != poll) {
        r.lastPoll = poll;
        ++r.polls;
    }
    r.refusal = refusal;
    if (r.polls >= kRefusedPolls && !active(ConditionKind::DeleteRefused))
        begin(ConditionKind::DeleteRefused, {}, r.since,
              QStringLiteral("slot %1: %2, in %3 polls in a row since %4")
                  .arg(slot)
                  .arg(refusal.isEmpty() ? QStringLiteral("ERROR") : refusal)
                  .arg(r.polls)
                  .arg(moment(r.since)));
}

void Supervisor::slotEmptied(qint16 slot)
{
    if (!m_refusals.remove(slot))
        return;
    const SupervisionCondition *c = active(ConditionKind::DeleteRefused);
    if (!c)
        return;
    for (const Refusals &r : std::as_const(m_refusals))
        if (r.polls >= kRefusedPolls)
            return; // another slot still refuses
    end(ConditionKind::DeleteRefused, {},
        QStringLiteral("slot %1 deleted; refused since %2").arg(slot).arg(moment(c->since)));
}

// ---- silent sites --------------------------------------------------------

QString Supervisor::siteLabel(const QString &suffix) const
{
    QString name;
    if (FindSiteName(m_settings, suffix, name) && !name.isEmpty())
        return name;
    return suffix;
}

void Supervisor::heard(const QString &phoneNo)
{
    bool changed = false;
    for (const SilentSiteEntry &e : m_settings.SiteSilent) {
        if (!numberEndsWith(phoneNo, e.PhoneNo))
            continue;
        m_sites[e.PhoneNo].heard = now();
        changed = true;
        const QString label = siteLabel(e.PhoneNo);
        if (active(ConditionKind::SiteSilent, label))
            end(ConditionKind::SiteSilent, label, label);
    }
    // Kept at once: a restart must not take a site heard just now for silent.
    if (changed)
        save();
}

void Supervisor::judgeSites()
{
    const QDateTime t = now();
    bool started = false;
    for (const SilentSiteEntry &e : m_settings.SiteSilent) {
        Site &site = m_sites[e.PhoneNo];
        if (!site.heard.isValid()) {
            // A site new to the watch: its clock starts now.
            site.heard = t;
            started = true;
            continue;
        }
        const QString label = siteLabel(e.PhoneNo);
        if (!active(ConditionKind::SiteSilent, label) &&
            site.heard.msecsTo(t) >= qint64(e.Hours * 3600000.0))
            begin(ConditionKind::SiteSilent, label, site.heard,
                  label + QStringLiteral(" since ") + moment(site.heard));
    }
    if (started)
        save();
}

// ---- loop test -----------------------------------------------------------

bool Supervisor::loopDue() const
{
    if (m_settings.LoopTestNumber.trimmed().isEmpty())
        return false;
    for (const SentLoop &loop : m_loops)
        if (loop.open)
            return false;
    if (!m_lastLoop.isValid())
        return true;
    // In milliseconds: fractional hours must not round down to a loop a second.
    qint64 spacing = qint64(m_settings.LoopTestHours * 3600000.0);
    if (active(ConditionKind::LoopTestFailed))
        spacing = std::min(spacing, kFailedLoopSpacingSecs * 1000);
    return m_lastLoop.msecsTo(now()) >= spacing;
}

void Supervisor::sendLoop(CommSMS &device)
{
    const QString number = m_settings.LoopTestNumber.trimmed();
    const QString token =
        QString::number(QRandomGenerator::global()->generate(), 16).rightJustified(8, u'0');
    m_lastLoop = now();
    if (!device.SendSMS(number, LoopText(token))) {
        WriteDebugTrace(
            QStringLiteral("Loop test: cannot send to %1: %2").arg(number, device.ErrorMessage()));
        loopFailed(QStringLiteral("cannot send to %1: %2").arg(number, device.ErrorMessage()));
        save();
        return;
    }
    WriteDebugTrace(QStringLiteral("Loop test: %1 sent to %2").arg(LoopText(token), number));
    m_loops.append({token, m_lastLoop});
    while (m_loops.size() > kLoopsKept)
        m_loops.removeFirst();
    save();
}

void Supervisor::loopFailed(const QString &detail)
{
    m_reinitDue = true;
    if (!active(ConditionKind::LoopTestFailed))
        begin(ConditionKind::LoopTestFailed, {}, now(), detail);
    else
        WriteDebugTrace(QStringLiteral("Loop test failed again: ") + detail);
}

void Supervisor::reinitialize(CommSMS &device)
{
    m_reinitDue = false;
    const QDateTime t = now();
    if (!m_lastReset.isValid() || m_lastReset.secsTo(t) >= kResetSpacingSecs) {
        m_lastReset = t;
        save();
        WriteDebugTrace(QStringLiteral(
            "Loop test failed: re-initializing the modem with a full reset (AT+CFUN=1,1)"));
        const bool taken = device.ResetModem();
        if (onModemReset)
            onModemReset(taken ? QStringLiteral("the modem restarts after a failed loop test")
                               : QStringLiteral("the modem refused its restart after a failed "
                                                "loop test"));
        return;
    }
    WriteDebugTrace(QStringLiteral("Loop test failed: re-initializing the modem with its "
                                   "text-mode profile (last full reset %1)")
                        .arg(moment(m_lastReset)));
    device.RestoreProfile();
}

bool Supervisor::takeLoopText(const QString &phoneNo, const QString &text)
{
    if (!text.startsWith(kLoopPrefix))
        return false;
    const QString token = text.mid(kLoopPrefix.size()).trimmed();
    const auto it = std::find_if(m_loops.begin(), m_loops.end(),
                                 [&](const SentLoop &l) { return l.token == token; });
    if (it == m_loops.end())
        return false; // not one of ours: someone's message, recorded as any other
    if (it->back)
        return true; // seen before; its delete failed
    it->back = true;
    it->open = false;
    const QString after = duration(it->sent.secsTo(now()));
    WriteDebugTrace(QStringLiteral("Loop test: text back from %1 after %2").arg(phoneNo, after));
    if (active(ConditionKind::LoopTestFailed))
        end(ConditionKind::LoopTestFailed, {},
            QStringLiteral("text back from %1 after %2").arg(phoneNo, after));
    save();
    return true;
}

// ---- kept across restarts ------------------------------------------------

void Supervisor::forgetStale()
{
    QStringList labels;
    for (const SilentSiteEntry &e : m_settings.SiteSilent)
        labels << siteLabel(e.PhoneNo);
    const bool loopOn = !m_settings.LoopTestNumber.trimmed().isEmpty();
    m_state.conditions.removeIf([&](const SupervisionCondition &c) {
        const bool stale = (isHealthKind(c.kind) && !healthChecksOn()) ||
                           (c.kind == ConditionKind::SiteSilent && !labels.contains(c.subject)) ||
                           (c.kind == ConditionKind::LoopTestFailed && !loopOn);
        if (stale)
            WriteDebugTrace(QStringLiteral("Supervision: %1 %2 is no longer watched")
                                .arg(c.keyword, c.subject)
                                .trimmed());
        return stale;
    });
    for (auto it = m_sites.begin(); it != m_sites.end();) {
        const bool watched =
            std::any_of(m_settings.SiteSilent.begin(), m_settings.SiteSilent.end(),
                        [&](const SilentSiteEntry &e) { return e.PhoneNo == it.key(); });
        it = watched ? std::next(it) : m_sites.erase(it);
    }
}

void Supervisor::load(const QString &path)
{
    m_path = path;
    m_state.conditions.clear();
    m_state.healthChecks = healthChecksOn();
    m_pending.clear();
    m_sites.clear();
    m_loops.clear();
    m_lastLoop = m_lastReset = QDateTime();
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (file.exists())
            WriteDebugTrace(
                QStringLiteral("Supervision: cannot read %1: %2").arg(path, file.errorString()));
        return;
    }
    QJsonParseError error;
    const QJsonObject root = QJsonDocument::fromJson(file.readAll(), &error).object();
    if (error.error != QJsonParseError::NoError) {
        WriteDebugTrace(QStringLiteral("Supervision: %1 is damaged (%2); starting afresh")
                            .arg(path, error.errorString()));
        return;
    }
    for (const QJsonValue v : root.value(QLatin1String("conditions")).toArray()) {
        const QJsonObject o = v.toObject();
        SupervisionCondition c;
        if (!kindOf(o.value(QLatin1String("keyword")).toString(), c.kind))
            continue;
        c.keyword = BeginKeyword(c.kind);
        c.subject = o.value(QLatin1String("subject")).toString();
        c.since = fromEpoch(o.value(QLatin1String("since")));
        c.detail = o.value(QLatin1String("detail")).toString();
        m_state.conditions.append(c);
    }
    for (const QJsonValue v : root.value(QLatin1String("pending")).toArray()) {
        const QJsonObject o = v.toObject();
        QDateTime date =
            QDateTime::fromString(o.value(QLatin1String("date")).toString(), kWallFormat);
        date.setTimeSpec(Qt::UTC);
        const QString text = o.value(QLatin1String("text")).toString();
        if (date.isValid() && !text.isEmpty())
            m_pending.append({date, text});
    }
    const QJsonObject sites = root.value(QLatin1String("sites")).toObject();
    for (auto it = sites.begin(); it != sites.end(); ++it)
        m_sites[it.key()].heard = fromEpoch(it.value());
    const QJsonObject loop = root.value(QLatin1String("loop")).toObject();
    m_lastLoop = fromEpoch(loop.value(QLatin1String("last")));
    m_lastReset = fromEpoch(loop.value(QLatin1String("reset")));
    for (const QJsonValue v : loop.value(QLatin1String("texts")).toArray()) {
        const QJsonObject o = v.toObject();
        SentLoop l{o.value(QLatin1String("token")).toString(),
                   fromEpoch(o.value(QLatin1String("sent")))};
        l.open = o.value(QLatin1String("open")).toBool();
        l.back = o.value(QLatin1String("back")).toBool();
        if (!l.token.isEmpty() && l.sent.isValid())
            m_loops.append(l);
    }
    forgetStale();
}

void Supervisor::save()
{
    if (m_path.isEmpty())
        return;
    QJsonArray conditions;
    for (const SupervisionCondition &c : m_state.conditions)
        conditions.append(QJsonObject{{QStringLiteral("keyword"), c.keyword},
                                      {QStringLiteral("subject"), c.subject},
                                      {QStringLiteral("since"), epoch(c.since)},
                                      {QStringLiteral("detail"), c.detail}});
    QJsonArray pending;
    for (const PendingRecord &r : m_pending)
        pending.append(QJsonObject{{QStringLiteral("date"), r.date.toString(kWallFormat)},
                                   {QStringLiteral("text"), r.text}});
    QJsonObject sites;
    for (auto it = m_sites.cbegin(); it != m_sites.cend(); ++it)
        sites.insert(it.key(), epoch(it.value().heard));
    QJsonArray texts;
    for (const SentLoop &l : m_loops)
        texts.append(QJsonObject{{QStringLiteral("token"), l.token},
                                 {QStringLiteral("sent"), epoch(l.sent)},
                                 {QStringLiteral("open"), l.open},
                                 {QStringLiteral("back"), l.back}});
    const QJsonObject root{
        {QStringLiteral("conditions"), conditions},
        {QStringLiteral("pending"), pending},
        {QStringLiteral("sites"), sites},
        {QStringLiteral("loop"), QJsonObject{{QStringLiteral("last"), epoch(m_lastLoop)},
                                             {QStringLiteral("reset"), epoch(m_lastReset)},
                                             {QStringLiteral("texts"), texts}}}};
    // Written beside the old file and renamed over it only when complete.
    QSaveFile file(m_path);
    file.setDirectWriteFallback(false);
    const QByteArray bytes = QJsonDocument(root).toJson(QJsonDocument::Indented);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        WriteDebugTrace(
            QStringLiteral("Supervision: cannot write %1: %2").arg(m_path, file.errorString()));
}

} // namespace quillet
