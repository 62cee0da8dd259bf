#include "supervision.h"

namespace quillet {

QString BeginKeyword(ConditionKind kind)
{
    switch (kind) {
    case ConditionKind::NoNetwork:
        return QStringLiteral("NETWORK LOST");
    case ConditionKind::WeakSignal:
        return QStringLiteral("SIGNAL WEAK");
    case ConditionKind::SimFull:
        return QStringLiteral("SIM FULL");
    case ConditionKind::DeleteRefused:
        return QStringLiteral("SIM DELETE REFUSED");
    case ConditionKind::SiteSilent:
        return QStringLiteral("SITE SILENT");
    case ConditionKind::LoopTestFailed:
        return QStringLiteral("LOOP TEST FAILED");
    }
    return QString();
}

QString EndKeyword(ConditionKind kind)
{
    switch (kind) {
    case ConditionKind::NoNetwork:
        return QStringLiteral("NETWORK BACK");
    case ConditionKind::WeakSignal:
        return QStringLiteral("SIGNAL OK");
    case ConditionKind::SimFull:
        return QStringLiteral("SIM OK");
    case ConditionKind::DeleteRefused:
        return QStringLiteral("SIM DELETE OK");
    case ConditionKind::SiteSilent:
        return QStringLiteral("SITE BACK");
    case ConditionKind::LoopTestFailed:
        return QStringLiteral("LOOP TEST OK");
    }
    return QString();
}

} // namespace quillet
