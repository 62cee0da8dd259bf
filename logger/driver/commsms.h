#pragma once
// CommSMS, the modem driver: AT commands to the GSM modem inside the SMS
// device (carried in the device's pass-through frames), or to a plain GSM
// modem on the port (written straight to it; also the way when the code map
// could not be loaded), the SIM's message store, and sending a message. One
// object per serial port; not re-entrant: while an exchange waits, events
// run, and any call that would start a second exchange fails at once with
// ErrorCode 1.

#include "atreply.h"
#include "commport.h"
#include "deviceprotocol.h"
#include "gsmcodemap.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <functional>
#include <memory>

namespace quillet {

// What sits on the port.
enum class LinkMode
{
    Auto,   // station 247 first; a plain modem when it stays silent but "AT" gets "OK"
    Device, // the framed SMS device
    Modem,  // a plain GSM modem: AT text straight to the port
};

// What a question that not every modem knows got.
enum class QueryAnswer
{
    Answered,
    Refused,  // an error, or no line to read: the modem does not know it
    NoAnswer, // nothing complete came back
};

class CommSMS
{
public:
    // Loads the code map from `codeMapPath` (the current folder's file by
    // default). When that fails the operator is told and the driver talks
    // to the port directly, without the device's frames.
    explicit CommSMS(std::unique_ptr<SerialTransport> transport = {},
                     const QString &codeMapPath = QStringLiteral("GSMCodeMap.cod"));
    ~CommSMS();
    CommSMS(const CommSMS &) = delete;
    CommSMS &operator=(const CommSMS &) = delete;

    qint16 CommTimeout() const { return m_commTimeout; }
    void setCommTimeout(qint16 seconds) { m_commTimeout = seconds; }
    qint16 CommRetry() const { return m_commRetry; }
    void setCommRetry(qint16 attempts) { m_commRetry = attempts; }

    bool IsCommPortOpen() const { return m_port->isOpen(); }
    // Asks the device for its link register; only the answer's arrival counts.
    bool IsConnected();
    // 0 when the SIM answers AT+CPIN? with READY, else -1. Asks every time.
    qint16 Status();
    // What the last Status() heard the SIM wait for ("SIM PIN", ...); empty
    // when no "+CPIN:" answer came.
    QString SIMState() const { return m_simState; }
    qint16 ErrorCode() const { return m_errorCode; }
    QString ErrorMessage() const;
    static QString GetErrorText(qint16 code);

    // Read by the next Initialize.
    void setLinkMode(LinkMode mode) { m_linkMode = mode; }
    LinkMode linkMode() const { return m_linkMode; }
    // AT text goes straight to the port: a plain modem (or no code map).
    bool IsPlainModem() const;

    // Opens the port, finds the device or a plain modem (as the link mode
    // says) and puts the modem into the modes the readers rely on: numeric
    // errors, echo off, text mode, detailed headers, the GSM character set.
    // The result is whether the modem answered AT+CMEE=1.
    bool Initialize(qint16 commPort, const QString &commSetting);
    bool Initialize(const QString &portName, const QString &commSetting);
    // Closes the port. Called while an exchange waits (the operator leaving
    // in the middle of a poll), it also ends that exchange, which then fails
    // instead of opening the port again.
    void Terminate();

    // Only the framed device has a serial number: false at once, with
    // nothing sent, for a plain modem.
    bool ReadProductSNFromDevice(QString &productSN);
    bool GetSMSCountFromSIM(qint16 &currentSMSCount);
    bool GetSMSMaxCountFromSIM(qint16 &smsMaxCount);
    // The text of the message in a slot (of one part, for a part of a longer
    // message; for a status report, what it says, with the status "REPORT").
    // ReadSIMMessage tells the rest.
    bool ReadSMSFromSIM(qint16 index, QDateTime &smsDate, QString &sms, QString &phoneNo,
                        QString &smsStatus);
    // Everything a slot's read shows. ErrorCode: 0 read; 3 empty slot; 10
    // the SIM could not read it just now; 11 the reply came whole but its
    // message cannot be read (`rawHeader` and `rawBody` hold what came),
    // after one exchange, so that an odd message costs one attempt per poll;
    // 1 no reply. A modem that answers with its factory profile (echo, PDU
    // mode, short headers: it restarted) is set up again and the slot read
    // once more; one that writes short headers all the same (or refused
    // AT+CSDH=1) is read from them. A status report or a message stored
    // there and never received is traced once while it stays in its slot.
    bool ReadSIMMessage(qint16 index, SIMMessage &message);
    bool DeleteSMSOnSIM(qint16 index);
    // Whether the last DeleteSMSOnSIM was answered with an error: the modem
    // heard it and said no (silence is no refusal); the error it gave.
    bool DeleteRefused() const { return !m_deleteRefusal.isEmpty(); }
    QString DeleteRefusal() const { return m_deleteRefusal; }
    // AT+CREG? (network registration): <stat>, one exchange.
    QueryAnswer QueryRegistration(int &stat);
    // AT+CSQ (signal quality): <rssi>, one exchange.
    QueryAnswer QuerySignal(int &rssi);
    // The modes the readers rely on set again (echo off, numeric errors,
    // text mode, detailed headers, the GSM character set); true when the
    // modem took every one.
    bool RestoreProfile();
    // AT+CFUN=1,1: the modem restarts with full functionality. It answers
    // before it restarts (a USB modem leaves the bus meanwhile) and must be
    // initialised again afterwards.
    bool ResetModem();
    bool SendSMS(const QString &phoneNo, const QString &message, bool isUnicode = false);
    // The longest start of `text` that SendSMS takes as one message: in the
    // GSM alphabet when the code map writes every character of it (160
    // bytes, two for an escaped character), else in UCS2 (70 characters),
    // which `isUnicode` tells.
    QString OneMessage(const QString &text, bool &isUnicode) const;

    // Hands an already terminated AT text to the device; true when the
    // device acknowledged the frame.
    bool ATCommandPassthrough(const QString &atCommand);
    // Sends ESC to abandon a half-entered message; waits for no reply.
    bool BreakATCommand();
    bool SendATCommand(const QString &tmpATCommand, QString &tmpATCommandResult,
                       qint16 &tmpATCommandRetryCnt, qint16 tmpATCommandRetryMax,
                       QByteArray &tmpATCommandSourceResult, qint32 tmpATCommandTimeOut,
                       const QString &tmpATCommandEOL, bool tmpIsATCommandNeedReply,
                       const QString &tmpATCommandReplyEnddingString1,
                       const QString &tmpATCommandReplyEnddingString2,
                       qint16 tmpATCommandReplyNumCRLF, bool tmpATCommandReplyEnddingByError,
                       const QString &tmpModemType);

    bool IsBusy() const { return m_busy; }
    CommPort &port() { return *m_port; }

    // "ModBus" through the device, empty when writing to the port directly.
    QString ModemType() const;
    // What the last device type query answered: "40", "41", "UNKNOWN", or
    // empty when it got no answer.
    QString DeviceType() const { return m_deviceType; }

private:
    class ExchangeGuard;

    // How AT text reaches the modem and its reply comes back: through the
    // device's frames, or straight over the port. Chosen once at Initialize
    // (and at creation, by whether the code map loaded); the exchange loop
    // never asks which one it has.
    class Link
    {
    public:
        virtual ~Link() = default;
        // Hands the command and its terminator over; false when it was not.
        virtual bool send(const QString &command, const QString &eol) = 0;
        // The reply so far, text and raw bytes; waits a short slice when
        // nothing new came.
        virtual void collect(QString &reply, QByteArray &source) = 0;
        // The pause between two looks at the reply.
        virtual void breathe() {}
        // Whether anyone answers on the line.
        virtual bool isConnected() = 0;
        virtual bool readProductSN(QString &productSN) = 0;
        // The device type register, where there is one.
        virtual void learnDeviceType(QString &deviceType) = 0;
    };
    class DeviceLink;
    class ModemLink;
    using CompletionTest = std::function<bool(const QString &)>;

    struct Exchange
    {
        QString command;
        QString eol = QStringLiteral("\r");
        qint16 retryMax = 1;
        qint32 timeout = 1;
        bool needReply = true;
        QString ending1;
        QString ending2;
        qint16 numCRLF = 0;
        bool endingByError = true;
        // Replaces the ending tests when set.
        CompletionTest complete;
        // When set, a reply that satisfies it when the time is up counts as
        // complete (it has stopped growing).
        CompletionTest settled;
    };
    struct ExchangeResult
    {
        bool completed = false;
        QString reply;
        QByteArray source;
        qint16 retryCount = 0;
    };

    ExchangeResult exchangeAT(const Exchange &exchange);
    ExchangeResult exchangeAT(const Exchange &exchange, Link &link);
    // The driver's own exchanges: the driver's timeout and attempts, "\r".
    ExchangeResult simpleAT(const QString &command, const QString &ending1,
                            CompletionTest complete = {});
    // False once the exchange in progress was abandoned: the device
    // routines would open a closed port again.
    bool mayUseDevice();
    bool passthrough(const QString &atCommand);
    bool readATCommandReply(QString &reply, QByteArray &source);
    bool breakAT();
    bool readDeviceType(QString &deviceType);
    bool setErrorReportMode();
    qint16 querySIMReady();
    bool queryDeviceLink();
    bool selectStorage();
    bool storageCount(bool wantTotal, qint16 &value);
    bool openAndInitialize(const QString &commSetting);
    bool probeLink();
    bool setProfile(bool withErrorMode);
    QueryAnswer query(const QString &command, const std::function<bool(const QString &)> &parse);
    void noteEcho(const ExchangeResult &r);
    void restoreProfileIfLost();
    bool readSlot(qint16 index, SIMMessage &message, bool mayRestore);
    void noteOnce(qint16 index, const SIMMessage &message);
    QString decodeReply(const QByteArray &bytes) const;

    std::unique_ptr<CommPort> m_port;
    qint16 m_status = 0;
    QString m_simState;
    quint8 m_stationID = kDeviceStation;
    GSMCodeMap m_codeMap;
    qint16 m_commTimeout = 1;
    qint16 m_commRetry = 3;
    CMGRTokens m_tokens;
    qint16 m_errorCode = 0;
    std::unique_ptr<Link> m_deviceLink;
    std::unique_ptr<Link> m_modemLink;
    Link *m_link; // one of the two
    QString m_modelName = QStringLiteral("SIEMENS");
    QString m_deviceType;
    bool m_busy = false;
    bool m_modemGivesCodes = true; // AT+CMEE=1 was accepted
    LinkMode m_linkMode = LinkMode::Auto;
    bool m_profileLost = false;  // a reply showed the modem's factory profile
    bool m_shortHeaders = false; // AT+CSDH=1 refused, or short headers all the same
    QString m_storage = QStringLiteral("MT");
    int m_storageMemories = 0;      // how many AT+CPMS= takes; 0 until one worked
    bool m_cpmsWithoutOK = false;   // AT+CPMS? ends with its line, no OK
    QHash<qint16, QString> m_noted; // per slot: what was traced about a message that is no alarm
    bool m_abandoned = false;       // Terminate ran inside the exchange in progress
    QString m_deleteRefusal;        // the error the last delete got
};

} // namespace quillet
