#include "headless.h"

#include <QGuiApplication>
#include <QLoggingCategory>

namespace quillet::app {

bool ChooseHeadlessPlatform()
{
    if (!qEnvironmentVariableIsEmpty("DISPLAY") ||
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
        !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return false;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The offscreen platform's remarks about window hints are noise in a
    // service's journal; QT_LOGGING_RULES still overrides this.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.qpa.*=false"));
    return true;
}

bool IsHeadless()
{
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

} // namespace quillet::app
