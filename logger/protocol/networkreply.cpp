#include "networkreply.h"

#include <QStringList>

namespace quillet {

namespace {

// The complete lines of a reply up to its first final result, blanks
// trimmed: what stands behind it was volunteered.
QStringList linesBeforeResult(const QString &reply)
{
    QStringList lines;
    for (const QString &raw : reply.split(QStringLiteral("\r\n"))) {
        const QString line = raw.trimmed();
        if (line == QLatin1String("OK") || line == QLatin1String("ERROR") ||
            line.startsWith(QLatin1String("+CME ERROR")) ||
            line.startsWith(QLatin1String("+CMS ERROR")))
            break;
        if (!line.isEmpty())
            lines << line;
    }
    return lines;
}

// The comma-separated fields behind `prefix`, blanks trimmed.
QStringList fieldsOf(const QString &line, QLatin1String prefix)
{
    QStringList fields = line.mid(prefix.size()).split(u',');
    for (QString &f : fields)
        f = f.trimmed();
    return fields;
}

bool toNumber(const QString &field, int &value)
{
    if (field.isEmpty() || field.size() > 3)
        return false;
    for (QChar c : field) {
        if (c < u'0' || c > u'9')
            return false;
    }
    value = field.toInt();
    return true;
}

} // namespace

bool ParseCREGQueryReply(const QString &reply, int &stat)
{
    const QLatin1String prefix("+CREG:");
    bool found = false;
    for (const QString &line : linesBeforeResult(reply)) {
        if (!line.startsWith(prefix))
            continue;
        const QStringList f = fieldsOf(line, prefix);
        int n = 0, s = 0;
        if (f.size() >= 2 && toNumber(f[0], n) && toNumber(f[1], s)) {
            stat = s;
            found = true;
        }
    }
    return found;
}

bool ParseCSQReply(const QString &reply, int &rssi, int &ber)
{
    const QLatin1String prefix("+CSQ:");
    bool found = false;
    for (const QString &line : linesBeforeResult(reply)) {
        if (!line.startsWith(prefix))
            continue;
        const QStringList f = fieldsOf(line, prefix);
        int r = 0, b = 0;
        if (f.size() == 2 && toNumber(f[0], r) && toNumber(f[1], b)) {
            rssi = r;
            ber = b;
            found = true;
        }
    }
    return found;
}

std::optional<int> SignalDbm(int rssi)
{
    if (rssi >= 0 && rssi <= 31)
        return -113 + 2 * rssi;
    if (rssi >= 100 && rssi <= 191)
        return rssi - 216;
    return std::nullopt;
}

QString RegistrationStateName(int stat)
{
    switch (stat) {
    case 0:
        return QStringLiteral("not registered, not searching");
    case 1:
        return QStringLiteral("registered, home network");
    case 2:
        return QStringLiteral("not registered, searching");
    case 3:
        return QStringLiteral("registration denied");
    case 4:
        return QStringLiteral("unknown");
    case 5:
        return QStringLiteral("registered, roaming");
    case 6:
        return QStringLiteral("registered for SMS only, home network");
    case 7:
        return QStringLiteral("registered for SMS only, roaming");
    case 8:
        return QStringLiteral("emergency services only");
    case 9:
        return QStringLiteral("registered, CSFB not preferred, home network");
    case 10:
        return QStringLiteral("registered, CSFB not preferred, roaming");
    default:
        return QStringLiteral("state %1").arg(stat);
    }
}

bool IsRegisteredState(int stat)
{
    return stat == 1 || stat == 5 || stat == 6 || stat == 7 || stat == 9 || stat == 10;
}

} // namespace quillet
