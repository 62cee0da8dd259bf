#include "gsmcodemapfile.h"

#include "hostservices.h"
#include "uievents.h"

#include <QFile>

namespace quillet {

bool LoadGSMCodeMap(GSMCodeMap &map, const QString &path)
{
    QFile file(path);
    if (!file.exists()) {
        MsgBox(QStringLiteral("GSMCodeMap system initialize failed!\r\n"
                              "File [GSMCodeMap.cod]  not found."),
               BoxButtons::Ok, BoxIcon::Critical,
               QStringLiteral("GSMCodeMap system initialize failed"));
        return false;
    }
    if (!file.open(QIODevice::ReadOnly))
        return false;

    int applied = 0;
    while (!file.atEnd()) {
        ProcessPendingEvents();
        QByteArray raw = file.readLine();
        while (raw.endsWith('\n') || raw.endsWith('\r'))
            raw.chop(1);
        if (map.applyLine(QString::fromUtf8(raw)))
            ++applied;
    }
    return applied > 0 && map.isComplete();
}

} // namespace quillet
