#pragma once
// What the logger watches of its own alarm path, as the pipeline exposes it:
// the modem's health figures (network registration, signal, SIM fill) and
// the conditions that keep alarms from arriving or that an operator must
// know of (no network, weak signal, a full SIM, deletions refused, a site
// gone silent, a loop test that failed). A condition begins once and ends
// once; each change is one record on the alarm road (caller "Quillet") and
// one signal of the pipeline, never one per check.

#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QString>
#include <optional>

namespace quillet {

// The modem's figures as the last checks saw them.
struct HealthFigures
{
    // <stat> of AT+CREG? (0 not registered, 1 home, 2 searching, 3 denied,
    // 4 unknown, 5 roaming, ...); -1 while not known: not asked yet, or the
    // modem refuses the question.
    int registration = -1;
    // The state's name ("registered, home network", "searching", ...); empty
    // while not known.
    QString registrationName;
    // Whether the modem can receive messages in that state.
    bool registered = false;
    // From AT+CSQ; empty while not known (rssi 99, not asked, refused).
    std::optional<int> signalDbm;
    // Messages the last poll left on the SIM, and the SIM's capacity; -1
    // before the first poll.
    int simUsed = -1;
    int simTotal = -1;
    // The last check that asked the modem; invalid before the first.
    QDateTime checkedAt;

    bool operator==(const HealthFigures &) const = default;
};

enum class ConditionKind
{
    NoNetwork,      // not registered for NoNetworkMinutes
    WeakSignal,     // below WeakSignalDbm for WeakSignalMinutes
    SimFull,        // SIM fill at or above SimFullPercent
    DeleteRefused,  // AT+CMGD refused for the same slot in three polls in a row
    SiteSilent,     // a site sent nothing for its hours (one condition per site)
    LoopTestFailed, // a loop test text did not come back, or could not be sent
};

// The fixed English keywords that begin the records, so that operators, DDE
// map prefixes and database queries can match them.
QString BeginKeyword(ConditionKind kind); // "NETWORK LOST", "SIGNAL WEAK", ...
QString EndKeyword(ConditionKind kind);   // "NETWORK BACK", "SIGNAL OK", ...

// One condition that is on.
struct SupervisionCondition
{
    ConditionKind kind = ConditionKind::NoNetwork;
    // BeginKeyword(kind).
    QString keyword;
    // What it is about where there can be several: the site (its name, or
    // its number) of SITE SILENT; empty otherwise.
    QString subject;
    // When the state began: the first check that saw it, the last message
    // of a silent site; not the moment the condition was declared.
    QDateTime since;
    // The begin record's text after its keyword ("not registered (searching)
    // since 12/08/2026 09:15:00").
    QString detail;

    bool operator==(const SupervisionCondition &) const = default;
};

// Everything a listener may show: the figures and the conditions on, in the
// order they began.
struct SupervisionState
{
    HealthFigures figures;
    QList<SupervisionCondition> conditions;
    // HealthCheckSeconds is not 0.
    bool healthChecks = false;
};

} // namespace quillet

Q_DECLARE_METATYPE(quillet::HealthFigures)
Q_DECLARE_METATYPE(quillet::SupervisionCondition)
