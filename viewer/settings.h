#pragma once
// The viewer's settings: recent files and column widths, per user.

#include <QSettings>

namespace orvane {

inline QSettings OpenSettings()
{
    return QSettings(QStringLiteral("Brantwick"), QStringLiteral("Orvane"));
}

} // namespace orvane
