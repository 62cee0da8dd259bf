#include "gsmtext.h"

#include "gsmcodemap.h"

#include <QFileInfo>

namespace devsim {

bool LoadCodeMap(const QString &path, QString &error)
{
    if (!QFileInfo(path).isFile()) {
        error = QStringLiteral("GSM code map %1 not found").arg(path);
        return false;
    }
    if (!quillet::LoadGSMCodeMap(path)) {
        error = QStringLiteral("GSM code map %1 does not fill all 128 basic codes").arg(path);
        return false;
    }
    return true;
}

bool IsGsmWritable(const QString &text)
{
    QByteArray bytes;
    QString unmapped;
    return quillet::TextToGSM(text, bytes, unmapped);
}

QByteArray ToGsm(const QString &text)
{
    QByteArray bytes;
    QString unmapped;
    quillet::TextToGSM(text, bytes, unmapped);
    return bytes;
}

} // namespace devsim
