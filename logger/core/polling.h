#pragma once
// Going online and offline, and the poll of the SIM's message store that runs
// at every tick of tmrAlarmLogger while online.

#include "serialtransport.h"

#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>

namespace quillet {

class CommSMS;
class ReceivedStore;

// The one driver object, created at start-up and released by ExitSystem.
// Without a transport it talks through a real serial port.
void CreateDevice(std::unique_ptr<SerialTransport> transport = {});
void TerminateDevice();
CommSMS *Device();

// What was already recorded (kept beside the settings file).
ReceivedStore &Received();
void LoadReceivedStore();

// 5000 ms; QUILLET_POLL_INTERVAL_MS (10 to 5000) in the environment at
// start-up shortens it, for tests and commissioning.
int PollIntervalMs();

bool ConnectDevice();
// Connects and switches to Online, or to Offline and trying again at every
// tick of tmrRetryOnline until the device answers. File > Offline chosen
// while the device is being opened wins.
bool GoOnline();
// File > Online: GoOnline, with the "Communicaiton Error" box on failure
// (once per command, not for the ticks that try again after it).
void OnlineCommand();
// File > Offline: polls and tries stop until File > Online.
void GoOffline();
// One tick: count, read every stored message, record, delete when
// configured; while Offline and trying, one more try to go online.
void PollSIM();
bool IsPolling();
bool IsTryingToConnect();
// Why the logger is Offline and trying, or why the device is not answering
// while online; empty when all is well. Shown in the status bar.
QString ConnectionProblem();
// Runs `call` now, or once the running poll is over (an answer given in
// the middle of a poll that must not cut it short).
void CallAfterPoll(std::function<void()> call);

// Called whenever the poll cycle shows it is alive: after every slot it reads
// and at the end of every tick's work (a tick that only tries to re-open a lost
// device counts too). A tick skipped because a poll is running does not call
// it, nor does a logger whose polling stopped. Returns the previous hook.
using PollProgressHook = std::function<void()>;
PollProgressHook SetPollProgressHook(PollProgressHook hook);

bool ReadSMS(qint16 index, QDateTime &smsDate, QString &phoneNo, QString &sms, QString &smsStatus);
// One received message, or one joined from its parts, under `key`: recorded
// once, shown, counted and sounded. False when its record is not on disk:
// it must stay on the SIM.
bool RecordReceived(const QString &key, const QDateTime &smsDate, const QString &phoneNo,
                    const QString &sms);
bool DeleteSMS(qint16 index);

} // namespace quillet
