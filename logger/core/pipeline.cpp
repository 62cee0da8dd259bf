#include "pipeline.h"

#include "centralsender.h"
#include "commsms.h"
#include "database.h"
#include "dde.h"
#include "filehelpers.h"
#include "hostservices.h"
#include "outputpaths.h"
#include "timetext.h"
#include "uievents.h"

#include <csignal>
#include <utility>

namespace quillet {

namespace {

// ReadSMSFromSIM's ErrorCode for a slot that was read and holds nothing. Any
// other failure (a bad frame, silence, a busy SIM) proves nothing about the
// slot.
constexpr qint16 kNoMessageInSlot = 3;

using State = ReceivedStore::State;

void showCommunicationError()
{
    MsgBoxNonBlocking(QStringLiteral("Unable to connect to Device.\r\n"
                                     "Please check cable connection and communicaiton parameter "
                                     "settings."),
                      BoxIcon::Critical, QStringLiteral("Communicaiton Error"));
}

// Crash tests set QUILLET_KILL_AFTER_RECORDING_POLL: a poll that recorded an
// alarm ends the process with SIGKILL once the poll's own writes are on disk
// (the received store, the SIM delete), the latest moment a crash can cut
// the steps that follow a record.
bool killAfterRecordingPoll()
{
    static const bool kill = !qEnvironmentVariableIsEmpty("QUILLET_KILL_AFTER_RECORDING_POLL");
    return kill;
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

AlarmPipeline::AlarmPipeline(GlobalState &settings, QObject *parent)
    : QObject(parent), m_settings(settings), m_log(&settings), m_supervisor(settings)
{
    tmrAlarmLogger.setInterval(PollIntervalMs());
    tmrRetryOnline.setInterval(PollIntervalMs());
    connect(&tmrAlarmLogger, &QTimer::timeout, this, &AlarmPipeline::PollSIM);
    connect(&tmrRetryOnline, &QTimer::timeout, this, &AlarmPipeline::PollSIM);
    m_log.problemChanged = [this](const QString &) {
        const QString problems = Problems();
        if (problems != m_problems) {
            m_problems = problems;
            emit problemNoted(problems);
        }
    };
    // Offline or the end, chosen while a record waits for the log's lock,
    // ends the wait.
    m_log.stopWaiting = [this] { return IsOffline; };
    connect(&m_supervisor, &Supervisor::healthChanged, this, &AlarmPipeline::healthChanged);
    connect(&m_supervisor, &Supervisor::conditionBegan, this, &AlarmPipeline::conditionBegan);
    connect(&m_supervisor, &Supervisor::conditionEnded, this, &AlarmPipeline::conditionEnded);
    m_supervisor.setRecordRoad(
        [this](const QDateTime &date, const QString &text) { return recordOwn(date, text); });
    // A modem restarted after a failed loop test is opened anew, as one that
    // went away.
    m_supervisor.onModemReset = [this](const QString &why) { enterTrying(why); };
}

AlarmPipeline::~AlarmPipeline() = default;

void AlarmPipeline::CreateDevice(std::unique_ptr<SerialTransport> transport)
{
    m_device = std::make_unique<CommSMS>(std::move(transport));
}

void AlarmPipeline::TerminateDevice()
{
    if (m_device)
        m_device->Terminate();
}

void AlarmPipeline::LoadReceivedStore()
{
    QString folder = GetParentFolderName(GetFullPath(m_settings.SettingFile));
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    m_received.load(folder + QStringLiteral("Quillet.rcv"));
    m_parts.LoadWaitingParts(folder + QStringLiteral("Quillet.prt"));
    m_supervisor.load(folder + QStringLiteral("Quillet.sup"));
    m_hook.configure(m_settings.RunOnAlarm, m_settings.RunOnAlarmTimeoutSeconds);
    m_hook.load(folder + QStringLiteral("Quillet.hook"));
    m_forwarder.configure(m_settings.ForwardTo);
    m_forwarder.load(folder + QStringLiteral("Quillet.fwd"));
}

QString AlarmPipeline::portName() const
{
    return m_device->port().devicePath();
}

// The poll timer runs exactly while Online is shown; the retry timer while
// the logger is Offline and trying.
void AlarmPipeline::setTimers(bool polling, bool retrying)
{
    if (polling)
        tmrAlarmLogger.start();
    else
        tmrAlarmLogger.stop();
    if (retrying)
        tmrRetryOnline.start();
    else
        tmrRetryOnline.stop();
}

void AlarmPipeline::showState(bool online)
{
    const QString problems = Problems();
    m_problems = problems;
    emit stateChanged(online, ConnectionProblem());
    emit problemNoted(problems);
}

void AlarmPipeline::setPollProblem(const QString &problem)
{
    if (problem == m_pollProblem)
        return;
    m_pollProblem = problem;
    if (!problem.isEmpty())
        WriteDebugTrace(QStringLiteral("Poll: ") + problem);
    m_problems = Problems();
    emit problemNoted(m_problems);
}

// Opens the device, asks the SIM whether it is ready and learns the store's
// capacity; why not, when it fails. Events run meanwhile.
bool AlarmPipeline::connectAndLearn(QString &why)
{
    m_connecting = true;
    // The SIM may have been changed or emptied while the device was away.
    m_parts.ForgetHeldSlots();
    bool ok = ConnectDevice();
    if (!ok) {
        if (!m_device) {
            why = QStringLiteral("no driver");
        } else if (!m_device->IsCommPortOpen()) {
            const QString error = m_device->port().transport().errorString();
            why = QStringLiteral("cannot open ") + portName() +
                  (error.isEmpty() ? QString() : QStringLiteral(": ") + error);
        } else {
            why = QStringLiteral("no answer on ") + portName();
        }
    } else if (m_device->Status() != 0) {
        ok = false;
        const QString state = m_device->SIMState();
        why = QStringLiteral("SIM not ready") +
              (state.isEmpty() ? QString() : QStringLiteral(": ") + state);
    } else if (!m_device->GetSMSMaxCountFromSIM(SMSMaxCount)) {
        ok = false;
        why = QStringLiteral("SIM store not readable");
    }
    m_connecting = false;
    return ok;
}

void AlarmPipeline::enterOnline()
{
    m_supervisor.deviceOpened();
    m_trying = false;
    m_offlineReason.clear();
    m_pollProblem.clear();
    IsOffline = false;
    setTimers(true, false);
    showState(true);
}

// Offline, but not by the operator's choice: the next ticks try again.
void AlarmPipeline::enterTrying(const QString &why)
{
    const bool changed = !m_trying || why != m_offlineReason;
    m_trying = true;
    m_offlineReason = why;
    m_pollProblem.clear();
    setTimers(false, true);
    showState(false);
    if (changed)
        WriteDebugTrace(QStringLiteral("Offline: %1; trying again at every tick").arg(why));
}

// A retry tick: Online as soon as the device answers, unless the operator
// chose Offline meanwhile.
void AlarmPipeline::tryReconnect()
{
    const quint64 epoch = m_offlineEpoch;
    QString why;
    const bool ok = connectAndLearn(why);
    if (epoch != m_offlineEpoch || !m_trying)
        return;
    if (ok)
        enterOnline();
    else
        enterTrying(why);
}

// What the poll changed in the received store; a store that could not be
// written is tried again at every poll and shown meanwhile.
void AlarmPipeline::writeReceivedStore()
{
    const bool failedBefore = m_received.writeFailed();
    m_received.flush();
    if (failedBefore || m_received.writeFailed())
        emit storeStateChanged(m_received.writeFailed());
}

bool AlarmPipeline::noteRowStored(bool stored)
{
    if (stored == m_rowsFailing) {
        m_rowsFailing = !stored;
        emit databaseStateChanged(m_rowsFailing, stored ? QString() : MDBLastError());
    }
    return stored;
}

bool AlarmPipeline::ConnectDevice()
{
    if (!m_device)
        return false;
    const GlobalState &s = m_settings;
    const QString setting = s.BAUDRATE + QLatin1Char(',') + s.PARITYBIT.left(1) + QLatin1Char(',') +
                            s.DATABIT + QLatin1Char(',') + s.STOPBIT;
    m_device->setLinkMode(s.DEVICE == QLatin1String("device")  ? LinkMode::Device
                          : s.DEVICE == QLatin1String("modem") ? LinkMode::Modem
                                                               : LinkMode::Auto);
    // "COMn" (the number from its fourth character on) or a device path.
    return m_device->Initialize(s.COMPORT, setting);
}

bool AlarmPipeline::GoOnline()
{
    if (m_connecting)
        return false; // a connect is under way; it shows its own outcome
    const quint64 epoch = m_offlineEpoch;
    QString why;
    const bool ok = connectAndLearn(why);
    if (epoch != m_offlineEpoch)
        return false; // File > Offline came while the device was being opened: it wins
    if (ok) {
        enterOnline();
    } else {
        IsOffline = true;
        enterTrying(why);
    }
    return ok;
}

void AlarmPipeline::OnlineCommand()
{
    if (m_polling) {
        // The driver is inside an exchange: re-initialise once the poll is over.
        m_onlineAfterPoll = true;
        return;
    }
    if (m_connecting)
        return;
    // Once per command; the ticks that try again after it show nothing.
    if (!GoOnline() && m_trying)
        showCommunicationError();
}

void AlarmPipeline::GoOffline()
{
    ++m_offlineEpoch;
    m_trying = false;
    m_offlineReason.clear();
    m_pollProblem.clear();
    setTimers(false, false);
    showState(false);
    IsOffline = true;
}

QString AlarmPipeline::ConnectionProblem() const
{
    if (m_trying)
        return m_offlineReason + QStringLiteral("; retrying");
    return m_pollProblem;
}

QString AlarmPipeline::Problems() const
{
    QStringList notes;
    for (const QString &note : {ConnectionProblem(), m_log.problem()})
        if (!note.isEmpty())
            notes << note;
    return notes.join(QStringLiteral("; "));
}

const SupervisionState &AlarmPipeline::Supervision() const
{
    return m_supervisor.state();
}

void AlarmPipeline::CallAfterPoll(std::function<void()> call)
{
    if (m_polling)
        m_afterPoll.push_back(std::move(call));
    else
        call();
}

bool AlarmPipeline::ReadSMS(qint16 index, QDateTime &smsDate, QString &phoneNo, QString &sms,
                            QString &smsStatus)
{
    return m_device && m_device->ReadSMSFromSIM(index, smsDate, sms, phoneNo, smsStatus);
}

bool AlarmPipeline::DeleteSMS(qint16 index)
{
    const bool ok = m_device && m_device->DeleteSMSOnSIM(index);
    WriteDebugTrace(QStringLiteral("DeleteSMS(%1)=%2").arg(index).arg(ok ? "True" : "False"));
    if (ok)
        ++m_deletedInPoll;
    // A delete that got no answer tells nothing; one the modem refused does.
    if (ok || (m_device && m_device->DeleteRefused()))
        m_supervisor.deleteTried(index, m_pollNumber, !ok,
                                 ok ? QString() : m_device->DeleteRefusal());
    return ok;
}

void AlarmPipeline::showAndSound(const QDateTime &smsDate, const QString &phoneNo,
                                 const QString &callerID, const QString &sms)
{
    LastSMSDate = timetext::Format(smsDate);
    LastSMSPhoneNo = phoneNo;
    LastSMSCallerID = callerID;
    LastSMSText = sms;
    emit messageShown();
    emit countChanged(ReceivedSMSCount);
}

AlarmOutcome AlarmPipeline::ProcessAlarmSMS(const QString &key, const QDateTime &smsDate,
                                            const QString &phoneNo, const QString &sms)
{
    const AlarmOutcome outcome = RecordAlarm(key, smsDate, phoneNo, sms);
    // A message kept on the SIM and read again is not the site heard again.
    if (outcome == AlarmOutcome::Recorded || outcome == AlarmOutcome::Dropped)
        m_supervisor.heard(phoneNo);
    return outcome;
}

// A record of the logger's own (a condition that began or ended): the whole
// road of an alarm, caller "Quillet". Only the newest of them is remembered
// in the received store: the supervision file notes which are still to go.
bool AlarmPipeline::recordOwn(const QDateTime &date, const QString &text)
{
    const QString own = QStringLiteral("Quillet");
    const QString key = ReceivedStore::Key(-1, date, own, text);
    if (RecordAlarm(key, date, own, text, own) == AlarmOutcome::Failed)
        return false;
    m_received.slotHolds(-1, key);
    return true;
}

// Between this poll and the next: what the poll saw, then one action on the
// device, and the records these make.
void AlarmPipeline::supervise(bool sawWholeStore)
{
    m_supervisor.pollDone(CurrentSMSCount - m_deletedInPoll, SMSMaxCount, sawWholeStore);
    m_supervisor.recordPending();
    if (IsOffline || m_trying)
        return;
    m_supervisor.deviceStep(*m_device);
    m_supervisor.recordPending();
}

AlarmOutcome AlarmPipeline::RecordAlarm(const QString &key, const QDateTime &smsDate,
                                        const QString &phoneNo, const QString &text,
                                        const QString &ownCallerID)
{
    const ReceivedStore::Entry entry = m_received.entry(key);
    if (entry.state == State::Recorded)
        return AlarmOutcome::Known;

    const bool own = !ownCallerID.isEmpty();
    const QString message = m_settings.IsIgnoreZoneIdentifier ? StripZoneIdentifier(text) : text;
    QString callerID = own ? ownCallerID : phoneNo;
    if (!own && m_settings.EnableSitePhoneNumberMap) {
        QString siteName;
        if (FindSiteName(m_settings, phoneNo, siteName)) {
            callerID = siteName;
        } else if (m_settings.IsGiveUpUnknownSitePhoneNumberSMS) {
            m_received.markRecorded(key);
            ++ReceivedSMSCount;
            showAndSound(smsDate, phoneNo, callerID, text);
            return AlarmOutcome::Dropped;
        }
    }

    if (entry.state == State::Logged) {
        // Recorded, and shown, in an earlier poll; only its row failed.
        if (noteRowStored(StoreAlarmRow(true, entry.rowsBefore, smsDate, callerID, message)))
            m_received.markRecorded(key);
        return AlarmOutcome::Known;
    }

    // A crash in the middle of the append may have left the record in the log.
    qint64 rowsBefore = entry.rowsBefore;
    const bool inLog = entry.state == State::Pending && m_log.CheckPath(true) &&
                       LogHoldsRecord(m_settings.LogFileFullPath, entry.place,
                                      FormatAlarmRecord(smsDate, callerID, message));
    if (!inLog) {
        if (G.IsSaveAsMDB && CheckMDBFilePath(true))
            rowsBefore = LastAlarmRowId();
        // A power cut may have left the start of it there instead.
        const LogPlace *torn = entry.state == State::Pending ? &entry.place : nullptr;
        const bool appended = m_log.AppendAlarmRecord(
            smsDate, callerID, message,
            [&](const LogPlace &place) { m_received.beginRecord(key, place, rowsBefore); }, torn);
        if (!appended) {
            m_received.abandon(key);
            if (m_received.noteAlerted(key))
                showAndSound(smsDate, phoneNo, callerID, text);
            return AlarmOutcome::Failed;
        }
    }

    // Committed. Every step from here is one a crash may cut short. The
    // received store reaches the disk only after the poll, so a crash before
    // the queues hold the alarm finds it in the log and queues it then.
    m_received.markLogged(key, rowsBefore);
    if (noteRowStored(StoreAlarmRow(inLog, rowsBefore, smsDate, callerID, message)))
        m_received.markRecorded(key);
    m_recordedInPoll = true;
    const AlarmRecord record{smsDate, phoneNo, callerID, text, message, key};
    m_hook.enqueue(record);
    m_forwarder.enqueue(record);
    // The DDE lookup sees the text as received, zone identifier included.
    if (G.IsUseDDE)
        ForwardAlarmToDDE(text, smsDate, callerID, message);
    ++ReceivedSMSCount;
    emit alarmRecorded(record);
    if (m_received.takeAlerted(key)) {
        // Shown and sounded while it failed; a silenced alert stays silent.
        emit countChanged(ReceivedSMSCount);
    } else {
        showAndSound(smsDate, phoneNo, callerID, text);
    }
    return AlarmOutcome::Recorded;
}

bool AlarmPipeline::RecordReceived(const QString &key, const QDateTime &smsDate,
                                   const QString &phoneNo, const QString &sms)
{
    // A message whose record is not on disk stays on the SIM and is tried
    // again at the next poll.
    return ProcessAlarmSMS(key, smsDate, phoneNo, sms) != AlarmOutcome::Failed;
}

void AlarmPipeline::finishPoll()
{
    m_log.RecheckFolder();
    writeReceivedStore();
    if (std::exchange(m_recordedInPoll, false) && killAfterRecordingPoll())
        ::raise(SIGKILL);
    m_polling = false;
    if (m_onlineAfterPoll) {
        m_onlineAfterPoll = false;
        QTimer::singleShot(0, this, [this] { OnlineCommand(); });
    }
    for (auto &call : std::exchange(m_afterPoll, {}))
        call();
    emit pollFinished();
    emit pollProgressed();
}

void AlarmPipeline::PollSIM()
{
    if (m_polling || m_connecting || !m_device)
        return; // one poll at a time: a tick during a poll is skipped
    m_polling = true;
    struct Done
    {
        AlarmPipeline &pipeline;
        ~Done() { pipeline.finishPoll(); }
    } done{*this};

    if (m_trying) {
        tryReconnect();
        return;
    }

    const bool counted = m_device->GetSMSCountFromSIM(CurrentSMSCount);
    WriteDebugTrace(QStringLiteral("TotalSMSCount=%1").arg(CurrentSMSCount));
    if (!counted) {
        if (!IsOffline) {
            if (!m_device->IsCommPortOpen())
                enterTrying(QStringLiteral("lost ") + portName());
            else
                setPollProblem(QStringLiteral("no answer from the device"));
        }
        return;
    }
    setPollProblem({});
    ++m_pollNumber;
    m_deletedInPoll = 0;
    ProcessPendingEvents();

    // New slots first: the slots of waiting parts count as there unread, so
    // however many wait, an alarm among them is read at once. Their slots are
    // read after, all of them when the count does not come out (the store
    // changed behind them), else those not read for a minute, a few a poll.
    m_parts.BeginPoll();
    const QList<qint16> held = m_parts.HeldSlots();
    qint16 read = qint16(held.size());
    qint16 index = 0;
    auto scan = [&] {
        for (; SMSMaxCount > 0 && index <= SMSMaxCount; ++index) {
            emit pollProgressed();
            ProcessPendingEvents();
            if (IsOffline || read >= CurrentSMSCount)
                break;
            if (held.contains(index))
                continue;
            if (readSlotAt(index) != SlotRead::Empty) {
                ++read;
                WriteDebugTrace(QStringLiteral("TotalReadSMSCount=%1").arg(read));
            }
        }
    };
    scan();
    const bool changedBehind =
        read > CurrentSMSCount || (read < CurrentSMSCount && m_parts.SawEverySlot());
    const int perPoll = int((held.size() * qint64(PollIntervalMs()) + 59999) / 60000);
    for (qint16 slot : changedBehind ? held : m_parts.DueSlots(perPoll)) {
        emit pollProgressed();
        ProcessPendingEvents();
        if (IsOffline)
            break;
        if (readSlotAt(slot) == SlotRead::Empty && m_device->ErrorCode() == kNoMessageInSlot)
            --read; // its part is gone
    }
    if (changedBehind)
        scan();
    // Parts are joined only after a poll that saw the whole store.
    const bool sawWholeStore = read >= CurrentSMSCount || (SMSMaxCount > 0 && index > SMSMaxCount);
    if (sawWholeStore) {
        PartJoiner::Road road;
        road.record = [this](const QString &key, const QDateTime &date, const QString &phoneNo,
                             const QString &sms) {
            return RecordReceived(key, date, phoneNo, sms);
        };
        if (m_settings.IsDeleteSMS)
            road.deleteSlot = [this](qint16 slot) { return DeleteSMS(slot); };
        m_parts.FinishParts(road);
    }
    if (!IsOffline)
        supervise(sawWholeStore);
    // After the reads, so that texting on never delays an alarm's record.
    if (!IsOffline)
        m_forwarder.sendOne(*m_device);
}

// One slot: read, recorded and deleted as configured, what the received
// store remembers of it kept up to date.
SlotRead AlarmPipeline::readSlotAt(qint16 index)
{
    QDateTime smsDate;
    QString phoneNo, sms, status, key;
    const SlotRead slot = m_parts.ReadSlot(*m_device, index, smsDate, phoneNo, sms, status, key);
    if (slot == SlotRead::Message) {
        bool mayDelete = true;
        const bool received =
            status == QLatin1String("UNREAD") || status == QLatin1String("READ");
        // A loop test text back from the network is no alarm, and ours to
        // delete whatever the settings say.
        const bool loopText = received && m_supervisor.takeLoopText(phoneNo, sms);
        if (received && !loopText)
            mayDelete = RecordReceived(key, smsDate, phoneNo, sms);
        else
            key.clear(); // a status report or a loop text is no alarm
        m_received.slotHolds(index, key);
        if ((m_settings.IsDeleteSMS || loopText) && mayDelete && DeleteSMS(index))
            m_received.slotHolds(index);
    } else if (slot == SlotRead::Empty && m_device->ErrorCode() == kNoMessageInSlot) {
        m_received.slotHolds(index);
        m_supervisor.slotEmptied(index);
    }
    // A held slot (a waiting part, an odd reply before its third poll)
    // proves nothing about what the store noted for it: a joined message's
    // entry is kept under its first part's slot.
    return slot;
}

bool AlarmPipeline::ExitSystem(bool askConfirm)
{
    if (askConfirm) {
        emit exitAsked();
        const int exitsBefore = m_exits;
        // Asked without waiting: this may run in the middle of a poll, which
        // goes on while the question is open. A Yes given during a poll stops
        // it before its next message and ends the program once it is over.
        MsgBoxAsync(QStringLiteral("Are you sure to exit system?"), BoxButtons::YesNo,
                    BoxIcon::Question, QStringLiteral("System Exit"), [this](BoxAnswer answer) {
                        if (answer != BoxAnswer::Yes)
                            return;
                        IsOffline = true;
                        CallAfterPoll([this] { ExitSystem(false); });
                    });
        return m_exits != exitsBefore;
    }
    ++m_exits;
    m_shutDown = false; // an end asked for again runs its steps again
    Shutdown();
    TerminateProgram();
    return true;
}

void AlarmPipeline::Shutdown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    emit exiting();
    m_received.flush();
    CloseMDBConnection();
    StopCentralSender();
    TerminateDevice();
    IsOffline = true;
    setTimers(false, false);
}

} // namespace quillet
