#include "alarms.h"

#include "dde.h"
#include "globals.h"
#include "logfile.h"

namespace quillet {

bool FindSiteName(const QString &phoneNo, QString &siteName)
{
    siteName.clear();
    for (int i = 0; i < G.SitePhoneNumberCount; ++i) {
        const SiteEntry &entry = G.SitePhoneNumberMap[i];
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

AlarmOutcome ProcessAlarmSMS(const QDateTime &smsDate, const QString &phoneNo, const QString &sms)
{
    const QString message = G.IsIgnoreZoneIdentifier ? StripZoneIdentifier(sms) : sms;

    QString callerID = phoneNo;
    if (G.EnableSitePhoneNumberMap) {
        QString siteName;
        if (FindSiteName(phoneNo, siteName))
            callerID = siteName;
        else if (G.IsGiveUpUnknownSitePhoneNumberSMS)
            return AlarmOutcome::Dropped;
    }

    const bool logged = WriteAlarmRecord(smsDate, callerID, message);

    // The DDE lookup sees the text as received, zone identifier included.
    if (G.IsUseDDE)
        ForwardAlarmToDDE(sms, smsDate, callerID, message);

    return logged ? AlarmOutcome::Recorded : AlarmOutcome::Failed;
}

} // namespace quillet
