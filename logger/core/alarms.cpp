#include "alarms.h"

#include "centralsender.h"
#include "centraluri.h"
#include "database.h"
#include "globals.h"
#include "outputpaths.h"

namespace quillet {

bool FindSiteName(const QString &phoneNo, QString &siteName)
{
    return FindSiteName(G, phoneNo, siteName);
}

bool FindSiteName(const GlobalState &settings, const QString &phoneNo, QString &siteName)
{
    siteName.clear();
    for (int i = 0; i < settings.SitePhoneNumberCount; ++i) {
        const SiteEntry &entry = settings.SitePhoneNumberMap[i];
        if (phoneNo.right(entry.PhoneNo.size()) == entry.PhoneNo) {
            siteName = entry.SiteName;
            return true;
        }
    }
    return false;
}

QString StripZoneIdentifier(const QString &sms)
{
    // Two-digit zones first, so "A12" is not read as zone 1 followed by "2".
    for (int n = 64; n >= 1; --n) {
        const QString number = QString::number(n);
        if (sms.startsWith(QLatin1Char('A') + number) || sms.startsWith(QLatin1Char('R') + number))
            return sms.mid(number.size() + 1);
    }
    return sms;
}

bool StoreAlarmRow(bool mayExist, qint64 rowsBefore, const QDateTime &smsDate,
                   const QString &callerID, const QString &message)
{
    if (!G.IsSaveAsMDB)
        return true;
    if (!CheckMDBFilePath(true))
        return false;
    // The outbox keeps one row per alarm, so a message seen again finds its
    // row waiting; one sent already goes once more and the server drops it.
    if (IsCentralURI(G.MDBFilePath))
        return AppendAlarmToOutbox(MDBDateText(smsDate), callerID, message);
    return mayExist ? EnsureAlarmRow(rowsBefore, smsDate, callerID, message)
                    : InsertAlarmRow(smsDate, callerID, message);
}

} // namespace quillet
