#include "headless.h"

#include "pipeline.h"

#include <QGuiApplication>
#include <QLoggingCategory>
#include <QTextStream>

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

void JournalSupervision(AlarmPipeline &pipeline)
{
    QObject::connect(&pipeline, &AlarmPipeline::conditionBegan, [](const SupervisionCondition &c) {
        QTextStream(stderr) << "Quillet: " << c.keyword << ' ' << c.detail << Qt::endl;
    });
    QObject::connect(&pipeline, &AlarmPipeline::conditionEnded,
                     [](const SupervisionCondition &c, const QString &detail) {
                         QTextStream(stderr)
                             << "Quillet: " << EndKeyword(c.kind) << ' ' << detail << Qt::endl;
                     });
}

} // namespace quillet::app
