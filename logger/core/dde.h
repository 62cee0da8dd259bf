#pragma once
// Forwarding alarms to another program. Each poke is a D-Bus call on the
// session bus:
//   bus name   APPLICATION, or org.quillet.DDE.<APPLICATION made safe>
//   object     /
//   interface  org.quillet.DDE
//   method     Poke(s topic, s item, s value) -> b
// The topic is "APPLICATION|TOPIC"; an alarm pokes its DDE value into the
// entry's item, then the alarm text into the item + ".Message".

#include "globals.h"

#include <QDateTime>
#include <QString>

namespace quillet {

inline const QString kDDEInterface = QStringLiteral("org.quillet.DDE");
inline const QString kDDEObjectPath = QStringLiteral("/");
inline const QString kDDEMethod = QStringLiteral("Poke");
// How long one poke may wait for its answer: a receiver that hangs must not
// hold up the poll.
constexpr int DDECallTimeoutMs = 1000;

// True for a well-known D-Bus bus name: two or more dot-separated elements of
// [A-Za-z0-9_-], none empty or starting with a digit, at most 255 characters.
bool IsValidDDEBusName(const QString &name);
// The bus name the pokes for an application go to: the name itself when it is
// a valid bus name, otherwise "org.quillet.DDE." + the name with every
// character outside [A-Za-z0-9_] replaced by "_" (and "_" in front of a name
// that would start with a digit or be empty, which no bus name may).
QString DDEBusName(const QString &application);
// "APPLICATION|TOPIC" from the global settings.
QString DDETopic();

// The first DDE map entry whose prefix begins the text (exact, case-sensitive;
// an empty prefix matches everything). False when none does.
bool FindDDEMap(const QString &sms, DDEEntry &entry);

// Pokes the entry's value into its item, then the text into the item +
// ".Message". True when both receivers answered true; a failed first poke
// ends it without the second.
bool PokeDDE(const DDEEntry &entry, const QString &text);

// The date and time as the system shows them by default: its short date and
// its time with seconds (without a time zone).
QString DDEDateTimeText(const QDateTime &smsDate);

// Looks the received text up in the DDE map and, when an entry matches, pokes
// its value and the alarm text (date and time, caller, message). False when
// nothing was forwarded.
bool ForwardAlarmToDDE(const QString &receivedText, const QDateTime &smsDate,
                       const QString &callerID, const QString &message);

} // namespace quillet
