#include "polling.h"

#include "alarms.h"
#include "commsms.h"
#include "filehelpers.h"
#include "globals.h"
#include "hostservices.h"
#include "mainwindow.h"
#include "multipart.h"
#include "receivedstore.h"
#include "uievents.h"

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

// ReadSMSFromSIM's ErrorCode for a slot that was read and holds nothing. Any
// other failure (a bad frame, silence, a busy SIM) proves nothing about the
// slot.
constexpr qint16 kNoMessageInSlot = 3;

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

// What the poll changed in the received store; a store that could not be
// written is tried again at every poll and shown in the status bar meanwhile.
void writeReceivedStore()
{
    const bool failedBefore = Received().writeFailed();
    Received().flush();
    if (G.MainForm && (failedBefore || Received().writeFailed()))
        G.MainForm->LoadFormObj();
}

} // namespace

int PollIntervalMs()
{
    static const int ms = [] {
        bool ok = false;
        const int value = qEnvironmentVariableIntValue("QUILLET_POLL_INTERVAL_MS", &ok);
        return ok && value >= 10 && value <= 5000 ? value : 5000;
    }();
    return ms;
}

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
    LoadWaitingParts(folder + QStringLiteral("Quillet.prt"));
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
    device()->setLinkMode(G.DEVICE == QLatin1String("device")  ? LinkMode::Device
                          : G.DEVICE == QLatin1String("modem") ? LinkMode::Modem
                                                               : LinkMode::Auto);
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

bool RecordReceived(const QString &key, const QDateTime &smsDate, const QString &phoneNo,
                    const QString &sms)
{
    // A message whose record is not on disk stays on the SIM and is tried
    // again at the next poll.
    return ProcessAlarmSMS(key, smsDate, phoneNo, sms) != AlarmOutcome::Failed;
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
            writeReceivedStore();
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
    while (G.SMSMaxCount > 0 && index <= G.SMSMaxCount) {
        notePollProgress();
        ProcessPendingEvents();
        if (G.IsOffline || read >= G.CurrentSMSCount)
            break;
        QDateTime smsDate;
        QString phoneNo, sms, status, key;
        const SlotRead slot = ReadSlot(index, smsDate, phoneNo, sms, status, key);
        if (slot == SlotRead::Message) {
            bool mayDelete = true;
            if (status == QLatin1String("UNREAD") || status == QLatin1String("READ"))
                mayDelete = RecordReceived(key, smsDate, phoneNo, sms);
            else
                key.clear(); // a stored outgoing message is no alarm
            Received().slotHolds(index, key);
            if (G.IsDeleteSMS && mayDelete && DeleteSMS(index))
                Received().slotHolds(index);
        } else if (slot == SlotRead::Empty && device()->ErrorCode() == kNoMessageInSlot) {
            Received().slotHolds(index);
        }
        // A held slot (a waiting part, an odd reply before its third poll)
        // proves nothing about what the store noted for it: a joined
        // message's entry is kept under its first part's slot.
        if (slot != SlotRead::Empty) {
            ++read;
            WriteDebugTrace(QStringLiteral("TotalReadSMSCount=%1").arg(read));
        }
        ++index;
    }
    // Parts are joined only after a poll that saw the whole store.
    if (read >= G.CurrentSMSCount || (G.SMSMaxCount > 0 && index > G.SMSMaxCount))
        FinishParts();
}

} // namespace quillet
