#include "polling.h"

#include "alarms.h"
#include "commsms.h"
#include "filehelpers.h"
#include "globals.h"
#include "hostservices.h"
#include "mainwindow.h"
#include "multipart.h"
#include "outputpaths.h"
#include "receivedstore.h"
#include "uievents.h"

#include <QTimer>
#include <memory>
#include <utility>
#include <vector>

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
// Opening the device (Initialize, the SIM's state, its capacity): ticks wait.
bool s_connecting = false;
// The logger is to be online but the device did not answer (at start-up,
// after File > Online, or after the port went away): every tick of
// tmrRetryOnline tries again, until it answers or File > Offline.
bool s_trying = false;
QString s_offlineReason;
// Counts File > Offline: a connect that sees it change has lost to it.
quint64 s_offlineEpoch = 0;
// While online: the device stopped answering the count.
QString s_pollProblem;
std::vector<std::function<void()>> s_afterPoll;

PollProgressHook s_progressHook;

void notePollProgress()
{
    if (s_progressHook)
        s_progressHook();
}

// The poll timer runs exactly while Online is shown; the retry timer while
// the logger is Offline and trying.
void setTimers(bool polling, bool retrying)
{
    if (!G.MainForm)
        return;
    if (polling)
        G.MainForm->tmrAlarmLogger->start();
    else
        G.MainForm->tmrAlarmLogger->stop();
    if (retrying)
        G.MainForm->tmrRetryOnline->start();
    else
        G.MainForm->tmrRetryOnline->stop();
}

void showState(bool online)
{
    G.TrayIconImage = online ? TrayImage::Online : TrayImage::Offline;
    if (G.MainForm) {
        G.MainForm->ApplyConnectionState(online);
        G.MainForm->LoadFormObj();
    }
}

void setPollProblem(const QString &problem)
{
    if (problem == s_pollProblem)
        return;
    s_pollProblem = problem;
    if (!problem.isEmpty())
        WriteDebugTrace(QStringLiteral("Poll: ") + problem);
    if (G.MainForm)
        G.MainForm->LoadFormObj();
}

void showCommunicationError()
{
    MsgBoxNonBlocking(QStringLiteral("Unable to connect to Device.\r\n"
                                     "Please check cable connection and communicaiton parameter "
                                     "settings."),
                      BoxIcon::Critical, QStringLiteral("Communicaiton Error"));
}

QString portName()
{
    return device()->port().devicePath();
}

// Opens the device, asks the SIM whether it is ready and learns the store's
// capacity; why not, when it fails. Events run meanwhile.
bool connectAndLearn(QString &why)
{
    s_connecting = true;
    bool ok = ConnectDevice();
    if (!ok) {
        if (!device()) {
            why = QStringLiteral("no driver");
        } else if (!device()->IsCommPortOpen()) {
            const QString error = device()->port().transport().errorString();
            why = QStringLiteral("cannot open ") + portName() +
                  (error.isEmpty() ? QString() : QStringLiteral(": ") + error);
        } else {
            why = QStringLiteral("no answer on ") + portName();
        }
    } else if (device()->Status() != 0) {
        ok = false;
        const QString state = device()->SIMState();
        why = QStringLiteral("SIM not ready") +
              (state.isEmpty() ? QString() : QStringLiteral(": ") + state);
    } else if (!device()->GetSMSMaxCountFromSIM(G.SMSMaxCount)) {
        ok = false;
        why = QStringLiteral("SIM store not readable");
    }
    s_connecting = false;
    return ok;
}

void enterOnline()
{
    s_trying = false;
    s_offlineReason.clear();
    s_pollProblem.clear();
    G.IsOffline = false;
    setTimers(true, false);
    showState(true);
}

// Offline, but not by the operator's choice: the next ticks try again.
void enterTrying(const QString &why)
{
    const bool changed = !s_trying || why != s_offlineReason;
    s_trying = true;
    s_offlineReason = why;
    s_pollProblem.clear();
    setTimers(false, true);
    showState(false);
    if (changed)
        WriteDebugTrace(QStringLiteral("Offline: %1; trying again at every tick").arg(why));
}

// A retry tick: Online as soon as the device answers, unless the operator
// chose Offline meanwhile.
void tryReconnect()
{
    const quint64 epoch = s_offlineEpoch;
    QString why;
    const bool ok = connectAndLearn(why);
    if (epoch != s_offlineEpoch || !s_trying)
        return;
    if (ok)
        enterOnline();
    else
        enterTrying(why);
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
    if (s_connecting)
        return false; // a connect is under way; it shows its own outcome
    const quint64 epoch = s_offlineEpoch;
    QString why;
    const bool ok = connectAndLearn(why);
    if (epoch != s_offlineEpoch)
        return false; // File > Offline came while the device was being opened: it wins
    if (ok) {
        enterOnline();
    } else {
        G.IsOffline = true;
        enterTrying(why);
    }
    return ok;
}

void OnlineCommand()
{
    if (s_polling) {
        // The driver is inside an exchange: re-initialise once the poll is over.
        s_onlineAfterPoll = true;
        return;
    }
    if (s_connecting)
        return;
    // Once per command; the ticks that try again after it show nothing.
    if (!GoOnline() && s_trying)
        showCommunicationError();
}

void GoOffline()
{
    ++s_offlineEpoch;
    s_trying = false;
    s_offlineReason.clear();
    s_pollProblem.clear();
    setTimers(false, false);
    showState(false);
    G.IsOffline = true;
}

bool IsTryingToConnect()
{
    return s_trying;
}

QString ConnectionProblem()
{
    if (s_trying)
        return s_offlineReason + QStringLiteral("; retrying");
    return s_pollProblem;
}

void CallAfterPoll(std::function<void()> call)
{
    if (s_polling)
        s_afterPoll.push_back(std::move(call));
    else
        call();
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
    if (s_polling || s_connecting || !device())
        return; // one poll at a time: a tick during a poll is skipped
    s_polling = true;
    struct Done
    {
        ~Done()
        {
            RecheckLogFolder();
            writeReceivedStore();
            s_polling = false;
            if (s_onlineAfterPoll) {
                s_onlineAfterPoll = false;
                QTimer::singleShot(0, [] { OnlineCommand(); });
            }
            for (auto &call : std::exchange(s_afterPoll, {}))
                call();
            notePollProgress();
        }
    } done;

    if (s_trying) {
        tryReconnect();
        return;
    }

    const bool counted = device()->GetSMSCountFromSIM(G.CurrentSMSCount);
    WriteDebugTrace(QStringLiteral("TotalSMSCount=%1").arg(G.CurrentSMSCount));
    if (!counted) {
        if (!G.IsOffline) {
            if (!device()->IsCommPortOpen())
                enterTrying(QStringLiteral("lost ") + portName());
            else
                setPollProblem(QStringLiteral("no answer from the device"));
        }
        return;
    }
    setPollProblem({});
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
