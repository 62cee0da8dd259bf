#include "commsms.h"

#include "gsmcodemapfile.h"
#include "hostservices.h"
#include "networkreply.h"
#include "uievents.h"

namespace quillet {

namespace {

// What SendATCommand's caller names the device's pass-through.
const QString kModBus = QStringLiteral("ModBus");
const QString kCR = QStringLiteral("\r");
const QString kCRLF = QStringLiteral("\r\n");
const QString kLineOK = QStringLiteral("\r\nOK\r\n");
const QString kOK = QStringLiteral("OK");
// Ends the text of an outgoing message.
const QChar kCtrlZ(26);
const QChar kEscape(27);
// A direct-mode wait blocks at most this long before letting events run.
constexpr int kDirectWaitSliceMs = 50;
constexpr int kDevicePollPauseMs = 10;
constexpr int kMaxGSMBytes = 160;
constexpr int kMaxUCS2Characters = 70;

} // namespace

// Holds the busy flag for one public call that talks to the device. A call
// made while another one waits (from a timer tick or a menu command run by
// the wait's event processing) is refused before it sends anything.
class CommSMS::ExchangeGuard
{
public:
    explicit ExchangeGuard(CommSMS &driver) : m_driver(driver), m_acquired(!driver.m_busy)
    {
        if (m_acquired) {
            driver.m_busy = true;
        } else {
            driver.m_errorCode = 1;
            WriteDebugTrace(QStringLiteral("Refused: a device exchange is in progress"));
        }
    }
    ~ExchangeGuard()
    {
        if (m_acquired) {
            m_driver.m_busy = false;
            m_driver.m_abandoned = false;
        }
    }
    ExchangeGuard(const ExchangeGuard &) = delete;
    ExchangeGuard &operator=(const ExchangeGuard &) = delete;
    explicit operator bool() const { return m_acquired; }

private:
    CommSMS &m_driver;
    bool m_acquired;
};

// AT text in the device's pass-through frames; the reply fetched with
// read-reply polls, each of which hands back the modem's whole output so far.
class CommSMS::DeviceLink final : public CommSMS::Link
{
public:
    explicit DeviceLink(CommSMS &driver) : m_driver(driver) {}

    bool send(const QString &command, const QString &eol) override
    {
        const bool sent = m_driver.passthrough(command + eol);
        WriteDebugTrace(QStringLiteral("ATCommand=") + command);
        return sent;
    }
    void collect(QString &reply, QByteArray &source) override
    {
        m_driver.readATCommandReply(reply, source);
    }
    // A breath between polls: about as often as a 9600 baud line allows
    // anyway, without running the CPU and the device hot when the line is fast.
    void breathe() override { m_driver.m_port->transport().waitForReadyRead(kDevicePollPauseMs); }
    bool isConnected() override { return m_driver.queryDeviceLink(); }
    bool readProductSN(QString &productSN) override
    {
        QByteArray request = ProductSNRequest(m_driver.m_stationID);
        QByteArray response;
        const bool ok = SendDeviceCommand(*m_driver.m_port, request, int(request.size()), response,
                                          kProductSNResponseLength, m_driver.m_commTimeout,
                                          m_driver.m_commRetry);
        if (ok)
            productSN = ProductSNFromResponse(response);
        return ok;
    }
    void learnDeviceType(QString &deviceType) override { m_driver.readDeviceType(deviceType); }

private:
    CommSMS &m_driver;
};

// A plain GSM modem: AT text written straight to the port, the reply read
// from it as it arrives. It writes the same GSM bytes the device passes on,
// so the readers see the same reply.
class CommSMS::ModemLink final : public CommSMS::Link
{
public:
    explicit ModemLink(CommSMS &driver) : m_driver(driver) {}

    bool send(const QString &command, const QString &eol) override
    {
        if (!m_driver.mayUseDevice())
            return false;
        const QByteArray bytes = (command + eol).toUtf8();
        m_reply.clear();
        return WriteComm(*m_driver.m_port, bytes, bytes.size());
    }
    void collect(QString &reply, QByteArray &source) override
    {
        SerialTransport &port = m_driver.m_port->transport();
        if (port.bytesAvailable() <= 0) {
            port.waitForReadyRead(kDirectWaitSliceMs);
            return;
        }
        m_reply += port.read(port.bytesAvailable());
        source = m_reply;
        reply = m_driver.decodeReply(m_reply);
    }
    bool isConnected() override
    {
        const ExchangeResult r = m_driver.simpleAT(QStringLiteral("AT"), kLineOK);
        m_driver.m_errorCode = r.completed ? 0 : 1;
        return r.completed && !IsErrorReply(r.reply);
    }
    // Only the framed device has a serial number.
    bool readProductSN(QString &) override { return false; }
    void learnDeviceType(QString &) override {}

private:
    CommSMS &m_driver;
    QByteArray m_reply; // what came since the command was written
};

CommSMS::CommSMS(std::unique_ptr<SerialTransport> transport, const QString &codeMapPath)
    : m_port(std::make_unique<CommPort>(std::move(transport))),
      m_deviceLink(std::make_unique<DeviceLink>(*this)),
      m_modemLink(std::make_unique<ModemLink>(*this)), m_link(m_modemLink.get())
{
    SetCommDiagnostics(false);
    if (LoadGSMCodeMap(m_codeMap, codeMapPath)) {
        m_link = m_deviceLink.get();
        m_tokens = CMGRTokens::fromCodeMap(m_codeMap);
    } else {
        MsgBox(QStringLiteral("ActiveX 引用失敗, 請檢查 [GSMCodeMap.cod] 檔案是否存在!"),
               BoxButtons::Ok, BoxIcon::Critical, QStringLiteral("引用失敗"));
        Terminate();
    }
}

QString CommSMS::ModemType() const
{
    return IsPlainModem() ? QString() : kModBus;
}

bool CommSMS::IsPlainModem() const
{
    return m_link != m_deviceLink.get();
}

CommSMS::~CommSMS()
{
    Terminate();
}

QString CommSMS::GetErrorText(qint16 code)
{
    switch (code) {
    case 0:
        return QStringLiteral("Success.");
    case 1:
        return QStringLiteral("Fail! Communication error.");
    case 2:
        return QStringLiteral("Fail! Queue is full.");
    case 3:
        return QStringLiteral("Fail! No short message.");
    case 4:
        return QStringLiteral("Fail! No Telephone number.");
    case 5:
        return QStringLiteral("Fail! Memory is full.");
    case 6:
        return QStringLiteral("Fail! The short message is blank.");
    case 7:
        return QStringLiteral("Fail! The telephone number is blank.");
    case 8:
        return QStringLiteral("Fail! The shot message is too long.");
    case 9:
        return QStringLiteral("Fail! The modem model name is unknown.");
    case 10:
        return QStringLiteral("Fail! The SIM is busy, try again later.");
    case 11:
        return QStringLiteral("Fail! The short message cannot be read.");
    default:
        return QStringLiteral("Fail! Unknown error.");
    }
}

QString CommSMS::ErrorMessage() const
{
    return GetErrorText(m_errorCode);
}

// ---- AT exchange ---------------------------------------------------------

CommSMS::ExchangeResult CommSMS::exchangeAT(const Exchange &x)
{
    return exchangeAT(x, *m_link);
}

CommSMS::ExchangeResult CommSMS::exchangeAT(const Exchange &x, Link &link)
{
    ExchangeResult r;
    auto seconds = [this] { return m_port->nowMs() / 1000; };
    auto isComplete = [&x](const QString &reply) {
        if (x.complete)
            return x.complete(reply);
        if (!x.ending1.isEmpty() && reply.contains(x.ending1))
            return true;
        if (!x.ending2.isEmpty() && reply.contains(x.ending2))
            return true;
        if (x.numCRLF > 0 && CountSubString(reply, kCRLF) >= x.numCRLF)
            return true;
        return x.endingByError && IsErrorReply(reply);
    };

    qint16 attempt = 1;
    qint64 elapsed = 0;
    while (!r.completed && attempt <= x.retryMax && !m_abandoned) {
        if (link.send(x.command, x.eol)) {
            r.reply.clear();
            if (!x.needReply) {
                r.completed = true;
                break;
            }
            const qint64 start = seconds();
            for (;;) {
                elapsed = seconds() - start;
                if (elapsed > x.timeout || m_abandoned)
                    break;
                link.collect(r.reply, r.source);
                if (!r.reply.isEmpty() && isComplete(r.reply)) {
                    r.completed = true;
                    break;
                }
                ProcessPendingEvents();
                link.breathe();
            }
            if (!r.completed && !m_abandoned && x.settled && !r.reply.isEmpty() &&
                x.settled(r.reply)) {
                WriteDebugTrace(QStringLiteral("Reply taken as it stands: '%1'").arg(r.reply));
                r.completed = true;
            }
        }
        WriteDebugTrace(QStringLiteral("ATCommandResult=") + r.reply +
                        QStringLiteral(", ElapseTime =") + QString::number(elapsed));
        ProcessPendingEvents();
        WriteDebugTrace(QStringLiteral("Retry Count=") + QString::number(attempt));
        ++attempt;
    }
    r.retryCount = qint16(attempt - 1);
    return r;
}

CommSMS::ExchangeResult CommSMS::simpleAT(const QString &command, const QString &ending1,
                                          CompletionTest complete)
{
    Exchange x;
    x.command = command;
    x.retryMax = m_commRetry;
    x.timeout = m_commTimeout;
    x.ending1 = ending1;
    x.complete = std::move(complete);
    return exchangeAT(x);
}

bool CommSMS::SendATCommand(const QString &tmpATCommand, QString &tmpATCommandResult,
                            qint16 &tmpATCommandRetryCnt, qint16 tmpATCommandRetryMax,
                            QByteArray &tmpATCommandSourceResult, qint32 tmpATCommandTimeOut,
                            const QString &tmpATCommandEOL, bool tmpIsATCommandNeedReply,
                            const QString &tmpATCommandReplyEnddingString1,
                            const QString &tmpATCommandReplyEnddingString2,
                            qint16 tmpATCommandReplyNumCRLF, bool tmpATCommandReplyEnddingByError,
                            const QString &tmpModemType)
{
    tmpATCommandSourceResult.clear();
    tmpATCommandRetryCnt = 0;
    ExchangeGuard guard(*this);
    if (!guard)
        return false;
    Exchange x;
    x.command = tmpATCommand;
    x.eol = tmpATCommandEOL;
    x.retryMax = tmpATCommandRetryMax;
    x.timeout = tmpATCommandTimeOut;
    x.needReply = tmpIsATCommandNeedReply;
    x.ending1 = tmpATCommandReplyEnddingString1;
    x.ending2 = tmpATCommandReplyEnddingString2;
    x.numCRLF = tmpATCommandReplyNumCRLF;
    x.endingByError = tmpATCommandReplyEnddingByError;
    // The exchange follows the caller's transport choice for this one call.
    const ExchangeResult r = exchangeAT(x, tmpModemType == kModBus ? *m_deviceLink : *m_modemLink);
    tmpATCommandResult = r.reply;
    tmpATCommandRetryCnt = r.retryCount;
    tmpATCommandSourceResult = r.source;
    return r.completed;
}

QString CommSMS::decodeReply(const QByteArray &bytes) const
{
    if (!m_tokens.isComplete())
        return QString::fromUtf8(bytes);
    QString text;
    QByteArray unmapped;
    GSMToText(m_codeMap, bytes, text, unmapped);
    return text;
}

bool CommSMS::passthrough(const QString &atCommand)
{
    if (!IsATCommandPassable(atCommand) || !mayUseDevice())
        return false;
    QByteArray request = ATPassthroughRequest(atCommand.toUtf8(), m_stationID);
    if (request.isEmpty()) {
        WriteDebugTrace(QStringLiteral("AT text too long for one frame: %1 bytes")
                            .arg(atCommand.toUtf8().size()));
        m_errorCode = 1;
        return false;
    }
    QByteArray response;
    const bool ok = SendDeviceCommand(*m_port, request, int(request.size()), response,
                                      kATPassthroughResponseLength, m_commTimeout, m_commRetry);
    m_errorCode = ok ? 0 : 1;
    return ok;
}

bool CommSMS::ATCommandPassthrough(const QString &atCommand)
{
    ExchangeGuard guard(*this);
    return guard && passthrough(atCommand);
}

bool CommSMS::readATCommandReply(QString &reply, QByteArray &source)
{
    reply.clear();
    source.clear();
    if (!mayUseDevice())
        return false;
    QByteArray request = ReadATReplyRequest(m_stationID);
    QByteArray response;
    int count = 0;
    const bool ok = SendDeviceQuery(*m_port, request, int(request.size()), response, count,
                                    m_commTimeout, m_commRetry);
    if (ok && count >= 7) {
        source = ATReplyData(response, count);
        QByteArray unmapped;
        GSMToText(m_codeMap, source, reply, unmapped);
    }
    m_errorCode = ok ? 0 : 1;
    return ok;
}

bool CommSMS::breakAT()
{
    Exchange x;
    x.command = QString(kEscape);
    x.eol = kCR;
    x.retryMax = m_commRetry;
    x.timeout = m_commTimeout;
    x.needReply = false;
    return exchangeAT(x).completed;
}

bool CommSMS::BreakATCommand()
{
    ExchangeGuard guard(*this);
    return guard && breakAT();
}

// ---- Driver object and status -------------------------------------------

bool CommSMS::Initialize(qint16 commPort, const QString &commSetting)
{
    ExchangeGuard guard(*this);
    if (!guard)
        return false;
    if (m_port->isOpen())
        CloseComm(*m_port);
    m_port->setPortNumber(commPort);
    return openAndInitialize(commSetting);
}

bool CommSMS::Initialize(const QString &portName, const QString &commSetting)
{
    ExchangeGuard guard(*this);
    if (!guard)
        return false;
    if (m_port->isOpen())
        CloseComm(*m_port);
    m_port->setPortName(portName);
    return openAndInitialize(commSetting);
}

bool CommSMS::openAndInitialize(const QString &commSetting)
{
    m_port->setSettings(commSetting);
    const bool opened = EnsureCommOpen(*m_port);
    m_stationID = kDeviceStation;
    if (!opened) {
        m_commRetry = 3;
        m_commTimeout = 1;
        m_errorCode = 1;
        return false;
    }
    m_errorCode = 0;
    m_profileLost = false;
    m_shortHeaders = false;
    m_storage = QStringLiteral("MT");
    m_storageMemories = 0;
    m_cpmsWithoutOK = false;
    m_deviceType.clear();
    bool typeRead = false;
    if (!m_tokens.isComplete() || m_linkMode == LinkMode::Modem)
        m_link = m_modemLink.get();
    else if (m_linkMode == LinkMode::Device)
        m_link = m_deviceLink.get();
    else
        typeRead = probeLink();
    const bool ok = setErrorReportMode();
    if (ok) {
        setProfile(false);
        if (!typeRead)
            m_link->learnDeviceType(m_deviceType);
    } else if (m_errorCode == 0) {
        m_errorCode = 1; // the device answered its polls, the modem never did
    }
    m_modelName = QStringLiteral("SIEMENS");
    return ok;
}

// Station 247 gets one chance to answer its device type; when it stays
// silent and the port answers "AT" with "OK", a plain modem is there. When
// neither answers, the device it is (it may have missed that one frame).
// True when the device type was read.
bool CommSMS::probeLink()
{
    m_link = m_deviceLink.get();
    QByteArray request = DeviceTypeRequest(m_stationID);
    QByteArray response;
    if (SendDeviceCommand(*m_port, request, int(request.size()), response,
                          kDeviceTypeResponseLength, m_commTimeout, 0)) {
        m_deviceType = DeviceTypeFromResponse(response);
        return true;
    }
    // A plain modem holds the probe's bytes in its command line, and one that
    // does not look past them for "AT" would answer "AT" behind them with
    // ERROR. A CR ends that line first and its answer is let pass; "AT" is
    // asked twice, in case that answer comes late and reads as the first.
    Exchange endLine;
    endLine.eol = kCR;
    endLine.timeout = 0;
    endLine.complete = [](const QString &reply) {
        return IsErrorReply(reply) || reply.contains(QLatin1String("OK\r\n"));
    };
    exchangeAT(endLine, *m_modemLink);
    Exchange x;
    x.command = QStringLiteral("AT");
    x.ending1 = kLineOK;
    x.timeout = m_commTimeout;
    for (int ask = 0; ask < 2; ++ask) {
        const ExchangeResult r = exchangeAT(x, *m_modemLink);
        if (r.completed && !IsErrorReply(r.reply)) {
            m_link = m_modemLink.get();
            WriteDebugTrace(
                QStringLiteral("No device at station 247; a plain modem answers on the port"));
            break;
        }
    }
    return false;
}

// The modes the readers rely on; a mode the modem refuses costs only its
// own exchange. Without detailed headers messages are read from the short
// ones, their texts as they stand. True when every one was taken.
bool CommSMS::setProfile(bool withErrorMode)
{
    bool all = true;
    auto set = [this, &all](const QString &command) {
        Exchange x;
        x.command = command;
        x.ending1 = kLineOK;
        x.timeout = m_commTimeout;
        const ExchangeResult r = exchangeAT(x);
        const bool refused = r.completed && IsErrorReply(r.reply);
        if (!r.completed || refused) {
            WriteDebugTrace(QStringLiteral("%1 not taken: '%2'").arg(command, r.reply));
            all = false;
        }
        return !refused;
    };
    set(QStringLiteral("ATE0"));
    if (withErrorMode)
        all = setErrorReportMode() && m_modemGivesCodes && all;
    set(QStringLiteral("AT+CMGF=1"));
    if (!set(QStringLiteral("AT+CSDH=1")))
        m_shortHeaders = true;
    set(QStringLiteral("AT+CSCS=\"GSM\""));
    return all;
}

void CommSMS::noteEcho(const ExchangeResult &r)
{
    if (r.completed && ReplyCarriesEcho(r.reply))
        m_profileLost = true;
}

// A modem that restarted while the logger was online answers with its
// factory profile (echo on, PDU mode, short headers); the readers need
// theirs back.
void CommSMS::restoreProfileIfLost()
{
    if (!m_profileLost)
        return;
    m_profileLost = false;
    WriteDebugTrace(
        QStringLiteral("The modem answers with its factory profile: setting it up again"));
    setProfile(true);
}

// AT+CMEE=1: errors reported with their numbers.
bool CommSMS::setErrorReportMode()
{
    Exchange x;
    x.command = QStringLiteral("AT+CMEE=1");
    x.ending1 = kLineOK;
    const ExchangeResult r = exchangeAT(x);
    // A modem that refused the mode reports every failure as a plain ERROR.
    m_modemGivesCodes = r.completed && !IsErrorReply(r.reply);
    return r.completed;
}

bool CommSMS::readDeviceType(QString &deviceType)
{
    QByteArray request = DeviceTypeRequest(m_stationID);
    QByteArray response;
    const bool ok = SendDeviceCommand(*m_port, request, int(request.size()), response,
                                      kDeviceTypeResponseLength, m_commTimeout, m_commRetry);
    deviceType = ok ? DeviceTypeFromResponse(response) : QString();
    return ok;
}

bool CommSMS::mayUseDevice()
{
    if (!m_abandoned)
        return true;
    m_errorCode = 1;
    return false;
}

void CommSMS::Terminate()
{
    if (m_busy)
        m_abandoned = true;
    if (m_port->isOpen())
        CloseComm(*m_port);
}

bool CommSMS::IsConnected()
{
    ExchangeGuard guard(*this);
    return guard && m_link->isConnected();
}

bool CommSMS::queryDeviceLink()
{
    m_errorCode = 0;
    QByteArray request = LinkQueryRequest(m_stationID);
    QByteArray response;
    const bool ok = SendDeviceCommand(*m_port, request, int(request.size()), response,
                                      kLinkQueryResponseLength, m_commTimeout, m_commRetry);
    if (!ok)
        m_errorCode = 1;
    return ok;
}

qint16 CommSMS::Status()
{
    ExchangeGuard guard(*this);
    if (!guard)
        return -1;
    return querySIMReady();
}

// AT+CPIN? (SIM ready): a SIM waiting for its PIN never says READY, so that
// exchange runs into its timeout; what it waits for is in the reply all the
// same.
qint16 CommSMS::querySIMReady()
{
    qint16 status = -1;
    const ExchangeResult r = simpleAT(QStringLiteral("AT+CPIN?"), QStringLiteral("READY\r\n"));
    m_simState = ParseCPINReply(r.reply);
    if (r.completed && !IsErrorReply(r.reply) && r.reply.contains(QLatin1String("+CPIN:")) &&
        r.reply.contains(QLatin1String("READY")))
        status = 0;
    m_status = status;
    return m_status;
}

bool CommSMS::ReadProductSNFromDevice(QString &productSN)
{
    productSN.clear();
    ExchangeGuard guard(*this);
    return guard && m_link->readProductSN(productSN);
}

// ---- SIM message store ---------------------------------------------------

bool CommSMS::GetSMSCountFromSIM(qint16 &currentSMSCount)
{
    currentSMSCount = 0;
    ExchangeGuard guard(*this);
    return guard && storageCount(false, currentSMSCount);
}

bool CommSMS::GetSMSMaxCountFromSIM(qint16 &smsMaxCount)
{
    smsMaxCount = 0;
    ExchangeGuard guard(*this);
    return guard && storageCount(true, smsMaxCount);
}

// AT+CPMS= with the memories this modem takes: "MT" (SIM and phone memory
// as one) three times, then two, then one, then the same with "SM", the SIM
// alone: many plain modems know no "MT", some take fewer memories. What
// worked is kept until the next Initialize; a refusal of it is tried from
// the start at the next count.
bool CommSMS::selectStorage()
{
    auto select = [this](const QString &memory, int count) {
        const QStringList memories(count, u'"' + memory + u'"');
        ExchangeResult r = simpleAT(QStringLiteral("AT+CPMS=") + memories.join(u','), kOK);
        noteEcho(r);
        return r;
    };
    if (m_storageMemories > 0) {
        const ExchangeResult r = select(m_storage, m_storageMemories);
        if (r.completed && IsErrorReply(r.reply))
            m_storageMemories = 0;
        return r.completed && r.reply.contains(kOK) && !IsErrorReply(r.reply);
    }
    for (const QString &memory : {QStringLiteral("MT"), QStringLiteral("SM")}) {
        for (int count = 3; count >= 1; --count) {
            const ExchangeResult r = select(memory, count);
            if (!r.completed)
                return false;
            if (r.reply.contains(kOK) && !IsErrorReply(r.reply)) {
                m_storage = memory;
                m_storageMemories = count;
                if (memory != QLatin1String("MT") || count != 3)
                    WriteDebugTrace(
                        QStringLiteral("Storage %1 taken with %2 memories").arg(memory).arg(count));
                return true;
            }
            WriteDebugTrace(QStringLiteral("Storage %1 with %2 memories refused: '%3'")
                                .arg(memory)
                                .arg(count)
                                .arg(r.reply));
        }
    }
    return false;
}

bool CommSMS::storageCount(bool wantTotal, qint16 &value)
{
    if (m_modelName == QLatin1String("SIEMENS") && !selectStorage()) {
        m_errorCode = 1;
        restoreProfileIfLost();
        return false;
    }
    // Some modems end the answer with its "+CPMS:" line and no "OK": the
    // line is read when the time is up, and from then on as soon as it is whole.
    Exchange x;
    x.command = QStringLiteral("AT+CPMS?");
    x.retryMax = m_commRetry;
    x.timeout = m_commTimeout;
    if (m_cpmsWithoutOK)
        x.complete = [](const QString &reply) {
            return HasWholeCPMSLine(reply) || IsErrorReply(reply);
        };
    else
        x.ending1 = kOK;
    x.settled = HasWholeCPMSLine;
    const ExchangeResult query = exchangeAT(x);
    noteEcho(query);
    restoreProfileIfLost();
    if (!query.completed) {
        m_errorCode = 1;
        return false;
    }
    qint16 used = 0;
    qint16 total = 0;
    if (IsErrorReply(query.reply) || !ParseCPMSQueryReply(query.reply, used, total)) {
        WriteDebugTrace(QStringLiteral("Could not parse CPMS query response '%1', bytes %2")
                            .arg(query.reply, FrameHex(query.source)));
        m_errorCode = -1;
        return false;
    }
    if (!m_cpmsWithoutOK && !query.reply.contains(kOK)) {
        m_cpmsWithoutOK = true;
        WriteDebugTrace(QStringLiteral("AT+CPMS? answered without OK: its line is enough"));
    }
    value = wantTotal ? total : used;
    m_errorCode = 0;
    return true;
}

bool CommSMS::ReadSMSFromSIM(qint16 index, QDateTime &smsDate, QString &sms, QString &phoneNo,
                             QString &smsStatus)
{
    sms.clear();
    phoneNo.clear();
    SIMMessage message;
    const bool read = ReadSIMMessage(index, message);
    if (!message.status.isEmpty())
        smsStatus = SlotStatus(message);
    if (!read)
        return false;
    smsDate = message.date;
    sms = message.isStatusReport ? DescribeStatusReport(message.report) : message.text;
    phoneNo = message.phoneNo;
    return true;
}

bool CommSMS::ReadSIMMessage(qint16 index, SIMMessage &message)
{
    message = SIMMessage{};
    ExchangeGuard guard(*this);
    if (!guard)
        return false;
    restoreProfileIfLost();
    return readSlot(index, message, true);
}

bool CommSMS::readSlot(qint16 index, SIMMessage &message, bool mayRestore)
{
    const QString command = QStringLiteral("AT+CMGR=") + QString::number(index);
    for (int pass = 0; pass < m_commRetry; ++pass) {
        ProcessPendingEvents();
        Exchange x;
        x.command = command;
        x.retryMax = m_commRetry;
        x.timeout = m_commTimeout;
        x.complete = [this](const QString &reply) { return IsCMGRReplyComplete(reply, m_codeMap); };
        x.settled = IsCMGRReplyFinished;
        const ExchangeResult r = exchangeAT(x);
        if (!r.completed)
            continue;
        noteEcho(r);
        switch (ClassifyCMGRNoMessage(r.reply, m_modemGivesCodes)) {
        case CMGRNoMessage::Empty:
            m_noted.remove(index);
            m_errorCode = 3;
            restoreProfileIfLost();
            return false;
        case CMGRNoMessage::Transient:
            // Not proof that the slot is empty: the caller tries again later.
            m_errorCode = 10;
            WriteDebugTrace(QStringLiteral("CMGR=%1 not read now: '%2'").arg(index).arg(r.reply));
            restoreProfileIfLost();
            return false;
        case CMGRNoMessage::NotThat:
            break;
        }
        const CMGRReply read = ReadCMGRTextReply(r.source, m_tokens, message);
        if (read.kind == CMGRRead::Message && read.shortHeader && !m_shortHeaders) {
            // Detailed headers were taken: a short one says the modem
            // restarted with its factory profile, or writes no others.
            if (mayRestore) {
                m_profileLost = true;
                restoreProfileIfLost();
                return readSlot(index, message, false);
            }
            m_shortHeaders = true;
            WriteDebugTrace(QStringLiteral("Short headers whatever the modem is told: texts "
                                           "are read as they stand"));
        }
        if (read.kind == CMGRRead::Message) {
            if (!read.why.isEmpty())
                WriteDebugTrace(QStringLiteral("CMGR=%1 %2").arg(index).arg(read.why));
            noteOnce(index, message);
            m_errorCode = 0;
            restoreProfileIfLost();
            return true;
        }
        WriteDebugTrace(QStringLiteral("Could not parse CMGR response '%1': %2, bytes %3")
                            .arg(r.reply, read.why, FrameHex(r.source)));
        if (read.kind == CMGRRead::ProfileLost && mayRestore) {
            m_profileLost = true;
            restoreProfileIfLost();
            return readSlot(index, message, false);
        }
        restoreProfileIfLost();
        m_errorCode = read.kind == CMGRRead::NoMessage ? -1 : 11;
        return false;
    }
    m_errorCode = 1;
    return false;
}

// What is in a slot but no alarm is traced once, not at every poll.
void CommSMS::noteOnce(qint16 index, const SIMMessage &m)
{
    QString note;
    if (m.isStatusReport)
        note = QStringLiteral("Slot %1 holds a status report: %2")
                   .arg(index)
                   .arg(DescribeStatusReport(m.report));
    else if (m.status == QLatin1String("UNSENT") || m.status == QLatin1String("SENT"))
        note = QStringLiteral("Slot %1 holds a message stored there, never received (STO %2 to "
                              "%3): no alarm")
                   .arg(index)
                   .arg(m.status, m.phoneNo);
    if (note.isEmpty()) {
        m_noted.remove(index);
    } else if (m_noted.value(index) != note) {
        m_noted.insert(index, note);
        WriteDebugTrace(note);
    }
}

bool CommSMS::DeleteSMSOnSIM(qint16 index)
{
    m_deleteRefusal.clear();
    ExchangeGuard guard(*this);
    if (!guard)
        return false;
    const QString command = QStringLiteral("AT+CMGD=") + QString::number(index);
    for (int pass = 0; pass < m_commRetry; ++pass) {
        ProcessPendingEvents();
        const ExchangeResult r = simpleAT(command, kOK);
        if (!r.completed)
            continue;
        if (r.reply.contains(kOK)) {
            m_noted.remove(index);
            m_errorCode = 0;
            m_deleteRefusal.clear();
            return true;
        }
        m_errorCode = 1;
        if (IsErrorReply(r.reply))
            m_deleteRefusal = r.reply.simplified();
    }
    // Polls the device answered leave code 0 behind; a failed delete must
    // not read as "Success.".
    if (m_errorCode == 0)
        m_errorCode = 1;
    return false;
}

// ---- The modem's own state ----------------------------------------------

QueryAnswer CommSMS::query(const QString &command,
                           const std::function<bool(const QString &)> &parse)
{
    ExchangeGuard guard(*this);
    if (!guard)
        return QueryAnswer::NoAnswer;
    restoreProfileIfLost();
    Exchange x;
    x.command = command;
    x.timeout = m_commTimeout;
    x.ending1 = kLineOK;
    const ExchangeResult r = exchangeAT(x);
    noteEcho(r);
    if (!r.completed) {
        m_errorCode = 1;
        return QueryAnswer::NoAnswer;
    }
    if (!IsErrorReply(r.reply) && parse(r.reply)) {
        m_errorCode = 0;
        return QueryAnswer::Answered;
    }
    WriteDebugTrace(QStringLiteral("%1 refused: '%2'").arg(command, r.reply));
    m_errorCode = -1;
    return QueryAnswer::Refused;
}

QueryAnswer CommSMS::QueryRegistration(int &stat)
{
    return query(QStringLiteral("AT+CREG?"),
                 [&stat](const QString &reply) { return ParseCREGQueryReply(reply, stat); });
}

QueryAnswer CommSMS::QuerySignal(int &rssi)
{
    return query(QStringLiteral("AT+CSQ"), [&rssi](const QString &reply) {
        int ber = 0;
        return ParseCSQReply(reply, rssi, ber);
    });
}

bool CommSMS::RestoreProfile()
{
    ExchangeGuard guard(*this);
    if (!guard)
        return false;
    m_profileLost = false;
    return setProfile(true);
}

bool CommSMS::ResetModem()
{
    ExchangeGuard guard(*this);
    if (!guard)
        return false;
    // Once: a second one would restart the modem again.
    Exchange x;
    x.command = QStringLiteral("AT+CFUN=1,1");
    x.timeout = m_commTimeout;
    x.ending1 = kLineOK;
    const ExchangeResult r = exchangeAT(x);
    const bool taken = r.completed && !IsErrorReply(r.reply);
    m_errorCode = taken ? 0 : 1;
    return taken;
}

// ---- Sending -------------------------------------------------------------

QString CommSMS::OneMessage(const QString &text, bool &isUnicode) const
{
    QByteArray gsm;
    QString unmapped;
    isUnicode = !TextToGSM(m_codeMap, text, gsm, unmapped);
    if (isUnicode) {
        QString cut = text.left(kMaxUCS2Characters);
        if (!cut.isEmpty() && cut.back().isHighSurrogate())
            cut.chop(1);
        return cut;
    }
    if (gsm.size() <= kMaxGSMBytes)
        return text;
    qsizetype bytes = 0;
    qsizetype fits = 0;
    for (; fits < text.size(); ++fits) {
        TextToGSM(m_codeMap, text.mid(fits, 1), gsm, unmapped);
        if (bytes + gsm.size() > kMaxGSMBytes)
            break;
        bytes += gsm.size();
    }
    return text.left(fits);
}

bool CommSMS::SendSMS(const QString &phoneNo, const QString &message, bool isUnicode)
{
    ExchangeGuard guard(*this);
    if (!guard)
        return false;
    if (!m_port->isOpen()) {
        m_errorCode = 1;
        return false;
    }
    if (phoneNo.trimmed().isEmpty()) {
        m_errorCode = 7;
        return false;
    }
    qsizetype size = 0;
    if (isUnicode) {
        size = message.size();
    } else {
        // Characters of the extension table take two bytes; characters the
        // code map cannot write take none.
        QByteArray gsm;
        QString unmapped;
        TextToGSM(m_codeMap, message, gsm, unmapped);
        size = gsm.size();
    }
    if (size == 0) {
        m_errorCode = 6;
        return false;
    }
    if (size > (isUnicode ? kMaxUCS2Characters : kMaxGSMBytes)) {
        m_errorCode = 8;
        return false;
    }

    const QString setup[] = {QStringLiteral("AT+CMGF=1"),
                             isUnicode ? QStringLiteral("AT+CSMP=1,167,0,8")
                                       : QStringLiteral("AT+CSMP=1,167,0,0")};
    for (const QString &command : setup) {
        const ExchangeResult r = simpleAT(command, kLineOK);
        if (!r.completed) {
            m_errorCode = 1;
            return false;
        }
        if (!r.reply.contains(kOK)) {
            m_errorCode = -1;
            return false;
        }
    }

    Exchange text;
    text.command = (isUnicode ? TextToUCS2Hex(message) : message) + kCtrlZ;
    text.eol = QString(kCtrlZ);
    text.retryMax = 1;
    text.timeout = 3 * qint32(m_commTimeout);
    text.ending1 = kOK;

    const QString destination = QStringLiteral("AT+CMGS=\"") + phoneNo + QLatin1Char('"');
    for (qint16 attempt = 1; attempt <= m_commRetry; ++attempt) {
        const ExchangeResult prompt = simpleAT(destination, QStringLiteral(">"));
        if (!prompt.completed) {
            m_errorCode = -1;
            return false;
        }
        if (!prompt.reply.contains(u'>')) {
            breakAT();
            m_errorCode = -1;
            return false;
        }
        const ExchangeResult ack = exchangeAT(text);
        if (ack.completed && ack.reply.contains(kOK)) {
            WriteDebugTrace(QStringLiteral("SendSMS=True, RetryTime=") + QString::number(attempt));
            m_errorCode = 0;
            return true;
        }
        // The break's own hand-over would read as success; the message failed.
        breakAT();
        m_errorCode = -1;
    }
    WriteDebugTrace(QStringLiteral("SendSMS=False, RetryTime=") + QString::number(m_commRetry + 1));
    return false;
}

} // namespace quillet
