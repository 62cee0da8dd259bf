#pragma once
// Forwarding alarms to another program (DDE map entries matched by message
// prefix).

#include <QDateTime>
#include <QString>

namespace quillet {

// Looks the received text up in the DDE map and, when an entry matches, pokes
// its value and the alarm text. False when nothing was forwarded.
bool ForwardAlarmToDDE(const QString &receivedText, const QDateTime &smsDate,
                       const QString &callerID, const QString &message);

} // namespace quillet
