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
// Connects and switches to Online or Offline according to the outcome.
bool GoOnline();
// File > Online: GoOnline, with the "Communicaiton Error" box on failure.
void OnlineCommand();
// File > Offline.
void GoOffline();
// One tick: count, read every stored message, record, delete when configured.
void PollSIM();
bool IsPolling();

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
