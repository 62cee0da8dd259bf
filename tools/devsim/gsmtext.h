#pragma once
// The simulator's view of the shared GSM code map: it loads the same
// GSMCodeMap.cod as the logger and converts with the logger's own functions.

#include <QByteArray>
#include <QString>

namespace devsim {

// Loads the code map from `path`; false with a message when it is missing or incomplete.
bool LoadCodeMap(const QString &path, QString &error);

// True when every character of `text` has a GSM code.
bool IsGsmWritable(const QString &text);

// Text to GSM bytes; characters without a code are left out.
QByteArray ToGsm(const QString &text);

} // namespace devsim
