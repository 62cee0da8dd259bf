#pragma once
// One logger's pipeline: the driver, what was recorded, the parts waiting
// for their message, the history log, the poll and retry timers and the
// counters, and the road every alarm takes through them. The program's entry
// builds one and hands it to the window, the service reports and the clean
// ends, which listen to its signals; nothing here knows a window.
//
// The road of one alarm starts at PollSIM (a message in a SIM slot) or at
// RecordAlarm (any other source, the logger's own records among them): the
// record appended to the history log and fsync'd (the commit: from here on it
// is never recorded twice), the received store, the database row, the
// program and the texts queued to pass it on, the DDE pokes, then
// alarmRecorded and messageShown (window, tray, sound), and last the SIM
// delete. A crash at any step loses nothing and doubles nothing: the
// received store notes where the record goes before it is written, and each
// later step looks for what a crash may have left behind.

#include "alarmhook.h"
#include "alarms.h"
#include "forwarder.h"
#include "globals.h"
#include "logfile.h"
#include "multipart.h"
#include "receivedstore.h"
#include "serialtransport.h"
#include "supervisor.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

namespace quillet {

class CommSMS;

// 5000 ms; QUILLET_POLL_INTERVAL_MS (10 to 5000) in the environment at
// start-up shortens it, for tests and commissioning.
int PollIntervalMs();

class AlarmPipeline : public QObject
{
    Q_OBJECT
public:
    // Reads its settings from `settings` (the program's by default), which
    // must outlive it. Without a driver until CreateDevice.
    explicit AlarmPipeline(GlobalState &settings = G, QObject *parent = nullptr);
    ~AlarmPipeline() override;
    AlarmPipeline(const AlarmPipeline &) = delete;
    AlarmPipeline &operator=(const AlarmPipeline &) = delete;

    GlobalState &settings() const { return m_settings; }

    // The one driver object of this pipeline. Without a transport it talks
    // through a real serial port.
    void CreateDevice(std::unique_ptr<SerialTransport> transport = {});
    void TerminateDevice();
    CommSMS *Device() const { return m_device.get(); }

    // What was already recorded, the parts waiting for their message, and
    // the alarms waiting for the RunOnAlarm program and to be texted on
    // (kept beside the settings file once loaded, the latter two set up from
    // the settings).
    ReceivedStore &Received() { return m_received; }
    const ReceivedStore &Received() const { return m_received; }
    void LoadReceivedStore();
    PartJoiner &Parts() { return m_parts; }
    AlarmHook &Hook() { return m_hook; }
    AlarmForwarder &Forwarder() { return m_forwarder; }
    HistoryLog &Log() { return m_log; }
    const HistoryLog &Log() const { return m_log; }

    bool ConnectDevice();
    // Connects and switches to Online, or to Offline and trying again at
    // every tick of tmrRetryOnline until the device answers. File > Offline
    // chosen while the device is being opened wins.
    bool GoOnline();
    // File > Online: GoOnline, with the "Communicaiton Error" box on failure
    // (once per command, not for the ticks that try again after it).
    void OnlineCommand();
    // File > Offline: polls and tries stop until File > Online.
    void GoOffline();
    // One tick: count, read every stored message, record, delete when
    // configured; while Offline and trying, one more try to go online.
    void PollSIM();
    bool IsPolling() const { return m_polling; }
    bool IsTryingToConnect() const { return m_trying; }
    // Why the logger is Offline and trying, or why the device is not
    // answering while online; empty when all is well.
    QString ConnectionProblem() const;
    // What keeps the logger from its work: the connection's problem and the
    // log's, joined; empty when nothing does.
    QString Problems() const;
    // What the logger watches of its own alarm path: the modem's health
    // figures and the conditions on (healthChanged, conditionBegan and
    // conditionEnded tell each change).
    const SupervisionState &Supervision() const;
    Supervisor &supervisor() { return m_supervisor; }
    // Runs `call` now, or once the running poll is over (an answer given in
    // the middle of a poll that must not cut it short).
    void CallAfterPoll(std::function<void()> call);

    bool ReadSMS(qint16 index, QDateTime &smsDate, QString &phoneNo, QString &sms,
                 QString &smsStatus);
    bool DeleteSMS(qint16 index);

    // The entry of every alarm's road. `key` names the message in the
    // received store (ReceivedStore::Key). A record the logger makes of its
    // own gives its `callerID`, which is taken as it is (no site map, never
    // given up). Only a Failed message must stay on the SIM; while it fails
    // it is shown and sounded once, and the retry of the same message does
    // not restart a silenced alert.
    AlarmOutcome RecordAlarm(const QString &key, const QDateTime &smsDate, const QString &phoneNo,
                             const QString &text, const QString &callerID = {});
    // A received message: its site name and zone identifier as configured.
    AlarmOutcome ProcessAlarmSMS(const QString &key, const QDateTime &smsDate,
                                 const QString &phoneNo, const QString &sms);
    // One received message, or one joined from its parts, under `key`. False
    // when its record is not on disk: it must stay on the SIM.
    bool RecordReceived(const QString &key, const QDateTime &smsDate, const QString &phoneNo,
                        const QString &sms);

    // Ends the program. With askConfirm the operator is asked first, without
    // waiting: the result is false while the question is open or was
    // declined (nothing changes), and a Yes ends the program when it is given
    // (after the running poll). True when the program was ended (only a
    // test's terminate hook ever returns here).
    bool ExitSystem(bool askConfirm);
    // The orderly part of the end, once: the window told, what was recorded
    // written, the database released, the sender stopped, the port closed,
    // a running poll stopped.
    void Shutdown();

    // The logger's state under the names it has always had.
    qint16 SMSMaxCount = 0;     // the SIM store's capacity
    qint16 CurrentSMSCount = 0; // messages in the store at the last count
    bool IsOffline = false;     // a running poll stops at its next message
    qint16 ReceivedSMSCount = 0;
    QString LastSMSDate;
    QString LastSMSPhoneNo;
    // The site name it was logged under (the sender where no site is known).
    QString LastSMSCallerID;
    QString LastSMSText;
    // The poll, running exactly while Online; and while the device is to be
    // online but does not answer, the tries to go online again.
    QTimer tmrAlarmLogger;
    QTimer tmrRetryOnline;

signals:
    // A record committed to the history log, once per alarm.
    void alarmRecorded(const quillet::AlarmRecord &record);
    // The newest message (LastSMS*) changed: drawn, counted and sounded. Also
    // for a message not recorded on purpose, and once for one whose record
    // could not be written.
    void messageShown();
    void countChanged(qint16 receivedSMSCount);
    // Online or Offline as shown, with what keeps the logger offline or
    // unanswered (empty when nothing does).
    void stateChanged(bool online, const QString &reason);
    // Problems() changed.
    void problemNoted(const QString &problems);
    // The received store could not be written, or can be again.
    void storeStateChanged(bool writeFailed);
    // An alarm's database row (or its row in the central outbox) could not
    // be stored, with why; or one could again.
    void databaseStateChanged(bool failing, const QString &why);
    // The poll cycle is alive: after every slot it reads and at the end of
    // every tick's work (a tick that only tries to re-open a lost device
    // counts). A tick skipped because a poll runs does not say so.
    void pollProgressed();
    // A tick's work is over.
    void pollFinished();
    // The health figures changed: a check's answer, or the SIM fill a poll
    // left behind.
    void healthChanged(const quillet::HealthFigures &figures);
    // A condition began, or ended; its record is on its way down the alarm's
    // road. `detail` is the end record's text after its keyword.
    void conditionBegan(const quillet::SupervisionCondition &condition);
    void conditionEnded(const quillet::SupervisionCondition &condition, const QString &detail);
    // The exit question is about to be put; the end is on its way.
    void exitAsked();
    void exiting();

private:
    bool connectAndLearn(QString &why);
    void setTimers(bool polling, bool retrying);
    void showState(bool online);
    void setPollProblem(const QString &problem);
    void enterOnline();
    void enterTrying(const QString &why);
    void tryReconnect();
    void writeReceivedStore();
    bool noteRowStored(bool stored);
    void finishPoll();
    SlotRead readSlotAt(qint16 index);
    void showAndSound(const QDateTime &smsDate, const QString &phoneNo, const QString &callerID,
                      const QString &sms);
    bool recordOwn(const QDateTime &date, const QString &text);
    void supervise(bool sawWholeStore);
    QString portName() const;

    GlobalState &m_settings;
    std::unique_ptr<CommSMS> m_device;
    ReceivedStore m_received;
    PartJoiner m_parts;
    HistoryLog m_log;
    AlarmHook m_hook;
    AlarmForwarder m_forwarder;

    bool m_polling = false;
    bool m_recordedInPoll = false;
    bool m_onlineAfterPoll = false;
    // Opening the device (Initialize, the SIM's state, its capacity): ticks wait.
    bool m_connecting = false;
    // The logger is to be online but the device did not answer (at start-up,
    // after File > Online, or after the port went away): every tick of
    // tmrRetryOnline tries again, until it answers or File > Offline.
    bool m_trying = false;
    QString m_offlineReason;
    // Counts File > Offline: a connect that sees it change has lost to it.
    quint64 m_offlineEpoch = 0;
    // While online: the device stopped answering the count.
    QString m_pollProblem;
    QString m_problems; // as last told
    Supervisor m_supervisor;
    quint64 m_pollNumber = 0;
    int m_deletedInPoll = 0;
    bool m_rowsFailing = false;
    std::vector<std::function<void()>> m_afterPoll;
    int m_exits = 0;
    bool m_shutDown = false;
};

} // namespace quillet

Q_DECLARE_METATYPE(quillet::AlarmRecord)
