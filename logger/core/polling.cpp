#include "polling.h"

#include "alarms.h"
#include "commsms.h"
#include "filehelpers.h"
#include "globals.h"
#include "hostservices.h"
#include "mainwindow.h"
#include "receivedstore.h"
#include "sound.h"
#include "uievents.h"

#include <QLocale>
#include <QSet>
#include <QTimer>
#include <memory>
#include <utility>

namespace quillet {

namespace {

std::unique_ptr<CommSMS> &device()
{
    static std::unique_ptr<CommSMS> sms;
    return sms;
}

bool s_polling = false;
bool s_onlineAfterPoll = false;
// The port went away under a running logger (a pulled USB adapter): the
// following ticks try to bring it back instead of polling.
bool s_reconnecting = false;

PollProgressHook s_progressHook;

void notePollProgress()
{
    if (s_progressHook)
        s_progressHook();
}

void setTimer(bool running)
{
    if (!G.MainForm)
        return;
    if (running)
        G.MainForm->tmrAlarmLogger->start();
    else
        G.MainForm->tmrAlarmLogger->stop();
}

void showState(bool online)
{
    G.TrayIconImage = online ? TrayImage::Online : TrayImage::Offline;
    if (G.MainForm)
        G.MainForm->ApplyConnectionState(online);
}

void showCommunicationError()
{
    MsgBox(QStringLiteral("Unable to connect to Device.\r\n"
                          "Please check cable connection and communicaiton parameter settings."),
           BoxButtons::Ok, BoxIcon::Critical, QStringLiteral("Communicaiton Error"));
}

// Online again after the device came back, without touching the operator's
// choice of Offline.
void tryReconnect()
{
    bool ok = ConnectDevice();
    if (ok)
        ok = device()->Status() == 0 && device()->GetSMSMaxCountFromSIM(G.SMSMaxCount);
    if (ok) {
        s_reconnecting = false;
        showState(true);
    }
}

} // namespace

void CreateDevice(std::unique_ptr<SerialTransport> transport)
{
    device() = std::make_unique<CommSMS>(std::move(transport));
}

void TerminateDevice()
{
    if (device())
        device()->Terminate();
}

CommSMS *Device()
{
    return device().get();
}

ReceivedStore &Received()
{
    static ReceivedStore store;
    return store;
}

void LoadReceivedStore()
{
    QString folder = GetParentFolderName(GetFullPath(G.SettingFile));
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    Received().load(folder + QStringLiteral("Quillet.rcv"));
}

bool IsPolling()
{
    return s_polling;
}

PollProgressHook SetPollProgressHook(PollProgressHook hook)
{
    return std::exchange(s_progressHook, std::move(hook));
}

bool ConnectDevice()
{
    if (!device())
        return false;
    const QString setting = G.BAUDRATE + QLatin1Char(',') + G.PARITYBIT.left(1) + QLatin1Char(',') +
                            G.DATABIT + QLatin1Char(',') + G.STOPBIT;
    // "COMn" (the number from its fourth character on) or a device path.
    return device()->Initialize(G.COMPORT, setting);
}

bool GoOnline()
{
    bool ok = ConnectDevice();
    if (ok)
        ok = device()->Status() == 0 && device()->GetSMSMaxCountFromSIM(G.SMSMaxCount);
    s_reconnecting = false;
    if (ok) {
        G.IsOffline = false;
        setTimer(true);
    } else {
        G.IsOffline = true;
        setTimer(false);
    }
    showState(ok);
    return ok;
}

void OnlineCommand()
{
    if (s_polling) {
        // The driver is inside an exchange: re-initialise once the poll is over.
        s_onlineAfterPoll = true;
        return;
    }
    if (!GoOnline())
        showCommunicationError();
}

void GoOffline()
{
    setTimer(false);
    s_reconnecting = false;
    showState(false);
    G.IsOffline = true;
}

bool ReadSMS(qint16 index, QDateTime &smsDate, QString &phoneNo, QString &sms, QString &smsStatus)
{
    return device() && device()->ReadSMSFromSIM(index, smsDate, sms, phoneNo, smsStatus);
}

bool DeleteSMS(qint16 index)
{
    const bool ok = device() && device()->DeleteSMSOnSIM(index);
    WriteDebugTrace(QStringLiteral("DeleteSMS(%1)=%2").arg(index).arg(ok ? "True" : "False"));
    return ok;
}

void PollSIM()
{
    if (s_polling || !device())
        return; // one poll at a time: a tick during a poll is skipped
    s_polling = true;
    struct Done
    {
        ~Done()
        {
            s_polling = false;
            if (s_onlineAfterPoll) {
                s_onlineAfterPoll = false;
                QTimer::singleShot(0, [] { OnlineCommand(); });
            }
            notePollProgress();
        }
    } done;

    if (s_reconnecting) {
        tryReconnect();
        return;
    }

    const bool counted = device()->GetSMSCountFromSIM(G.CurrentSMSCount);
    WriteDebugTrace(QStringLiteral("TotalSMSCount=%1").arg(G.CurrentSMSCount));
    if (!counted) {
        if (!device()->IsCommPortOpen() && !G.IsOffline) {
            s_reconnecting = true;
            showState(false);
        }
        return;
    }
    ProcessPendingEvents();

    qint16 read = 0;
    qint16 index = 0;
    bool sawAll = false;
    QSet<QString> present;
    while (G.SMSMaxCount > 0 && index <= G.SMSMaxCount) {
        notePollProgress();
        ProcessPendingEvents();
        if (G.IsOffline)
            break;
        if (read >= G.CurrentSMSCount) {
            sawAll = true;
            break;
        }
        QDateTime smsDate;
        QString phoneNo, sms, status;
        if (ReadSMS(index, smsDate, phoneNo, sms, status)) {
            bool mayDelete = true;
            QString key;
            if (status == QLatin1String("UNREAD") || status == QLatin1String("READ")) {
                key = ReceivedStore::Key(index, smsDate, phoneNo, sms);
                present.insert(key);
                if (!Received().contains(key)) {
                    const AlarmOutcome outcome = ProcessAlarmSMS(smsDate, phoneNo, sms);
                    // A message whose record is not on disk stays on the SIM
                    // and is tried again at the next poll; it is still shown.
                    mayDelete = outcome != AlarmOutcome::Failed;
                    if (mayDelete) {
                        Received().add(key);
                        ++G.ReceivedSMSCount;
                    }
                    G.LastSMSDate = QLocale().toString(smsDate, QLocale::ShortFormat);
                    G.LastSMSPhoneNo = phoneNo;
                    G.LastSMSText = sms;
                    if (G.MainForm) {
                        G.MainForm->ShowSMSInForm();
                        G.MainForm->LoadFormObj();
                    }
                    PlaySoundAlert();
                }
            }
            ++read;
            WriteDebugTrace(QStringLiteral("TotalReadSMSCount=%1").arg(read));
            if (G.IsDeleteSMS && mayDelete && DeleteSMS(index) && !key.isEmpty())
                Received().remove(key);
        }
        ++index;
    }
    if (sawAll || (G.SMSMaxCount > 0 && index > G.SMSMaxCount))
        Received().retainOnly(present);
}

} // namespace quillet
