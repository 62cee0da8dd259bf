#pragma once
// Pure readers of the modem's answers about its network: registration and
// signal quality, and the tables of TS 27.007 that turn their numbers into
// what an operator reads. Nothing here touches a port.

#include <QString>
#include <optional>

namespace quillet {

// AT+CREG? (Network registration) response parser: <stat> of the
// "+CREG: <n>,<stat>[,<lac>,<ci>[,<AcT>]]" line. A volunteered "+CREG: <stat>"
// (one field, or a quoted area code second) is not the answer; lines behind
// the final result are not read. False when no such line came before it or
// <stat> is not a number.
bool ParseCREGQueryReply(const QString &reply, int &stat);

// AT+CSQ (Signal quality) response parser: <rssi> and <ber> of the
// "+CSQ: <rssi>,<ber>" line; the last one before the final result, so that
// a volunteered line in front of the answer is passed by.
bool ParseCSQReply(const QString &reply, int &rssi, int &ber);

// <rssi> as dBm: 0 is -113 or less, 1 is -111, 2 to 30 are -109 to -53 in
// steps of 2, 31 is -51 or more; 100 to 191 (TD-SCDMA) are -116 to -25.
// Empty for 99, 199 (not known or not detectable) and anything else.
std::optional<int> SignalDbm(int rssi);

// The name of a registration <stat> ("registered, home network",
// "not registered, searching", ...), "state N" for one the table lacks.
QString RegistrationStateName(int stat);

// Whether messages reach the modem in that state: registered at home or
// roaming, also for "SMS only" and with "CSFB not preferred".
bool IsRegisteredState(int stat);

} // namespace quillet
