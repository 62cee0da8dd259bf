#include "alarms.h"

#include "centraluri.h"
#include "database.h"
#include "dde.h"
#include "globals.h"
#include "logfile.h"
#include "mainwindow.h"
#include "outbox.h"
#include "outputpaths.h"
#include "polling.h"
#include "receivedstore.h"
#include "sound.h"
#include "timetext.h"

#include <QSet>

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

namespace {

using State = ReceivedStore::State;

// Messages shown and sounded while their record could not be written.
QSet<QString> &alerted()
{
    static QSet<QString> keys;
    return keys;
}

void showAndSound(const QDateTime &smsDate, const QString &phoneNo, const QString &sms)
{
    G.LastSMSDate = timetext::Format(smsDate);
    G.LastSMSPhoneNo = phoneNo;
    G.LastSMSText = sms;
    if (G.MainForm) {
        G.MainForm->ShowSMSInForm();
        G.MainForm->LoadFormObj();
    }
    PlaySoundAlert();
}

// The database row; with mayExist (the log held the record already) only
// when it is not there yet. True when the row is there or none is wanted.
bool storeRow(bool mayExist, qint64 rowsBefore, const QDateTime &smsDate, const QString &callerID,
              const QString &message)
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

} // namespace

AlarmOutcome ProcessAlarmSMS(const QString &key, const QDateTime &smsDate, const QString &phoneNo,
                             const QString &sms)
{
    ReceivedStore &store = Received();
    const ReceivedStore::Entry entry = store.entry(key);
    if (entry.state == State::Recorded)
        return AlarmOutcome::Known;

    const QString message = G.IsIgnoreZoneIdentifier ? StripZoneIdentifier(sms) : sms;
    QString callerID = phoneNo;
    if (G.EnableSitePhoneNumberMap) {
        QString siteName;
        if (FindSiteName(phoneNo, siteName)) {
            callerID = siteName;
        } else if (G.IsGiveUpUnknownSitePhoneNumberSMS) {
            store.markRecorded(key);
            ++G.ReceivedSMSCount;
            showAndSound(smsDate, phoneNo, sms);
            return AlarmOutcome::Dropped;
        }
    }

    if (entry.state == State::Logged) {
        // Recorded, and shown, in an earlier poll; only its row failed.
        if (storeRow(true, entry.rowsBefore, smsDate, callerID, message))
            store.markRecorded(key);
        return AlarmOutcome::Known;
    }

    // A crash in the middle of the append may have left the record in the log.
    qint64 rowsBefore = entry.rowsBefore;
    const bool inLog = entry.state == State::Pending && CheckLogFilePath(true) &&
                       LogHoldsRecord(G.LogFileFullPath, entry.place,
                                      FormatAlarmRecord(smsDate, callerID, message));
    if (!inLog) {
        if (G.IsSaveAsMDB && CheckMDBFilePath(true))
            rowsBefore = LastAlarmRowId();
        // A power cut may have left the start of it there instead.
        const LogPlace *torn = entry.state == State::Pending ? &entry.place : nullptr;
        const bool appended = AppendAlarmRecord(
            smsDate, callerID, message,
            [&](const LogPlace &place) { store.beginRecord(key, place, rowsBefore); }, torn);
        if (!appended) {
            store.abandon(key);
            if (!alerted().contains(key)) {
                alerted().insert(key);
                showAndSound(smsDate, phoneNo, sms);
            }
            return AlarmOutcome::Failed;
        }
    }

    // Committed. Every step from here is one a crash may cut short.
    store.markLogged(key, rowsBefore);
    if (storeRow(inLog, rowsBefore, smsDate, callerID, message))
        store.markRecorded(key);
    // The DDE lookup sees the text as received, zone identifier included.
    if (G.IsUseDDE)
        ForwardAlarmToDDE(sms, smsDate, callerID, message);
    ++G.ReceivedSMSCount;
    if (alerted().remove(key)) {
        // Shown and sounded while it failed; a silenced alert stays silent.
        if (G.MainForm)
            G.MainForm->LoadFormObj();
    } else {
        showAndSound(smsDate, phoneNo, sms);
    }
    return AlarmOutcome::Recorded;
}

} // namespace quillet
