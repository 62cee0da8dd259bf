#include "dde.h"

namespace quillet {

bool ForwardAlarmToDDE(const QString &, const QDateTime &, const QString &, const QString &)
{
    // The transport to the receiving program is not wired yet: nothing is
    // forwarded, and the caller's log and database records do not depend on it.
    return false;
}

} // namespace quillet
