#pragma once
// The GSM modem inside the simulated device (or alone on the line, as a
// plain modem): text mode (AT+CMGF=1) with the detailed header parameters
// shown (AT+CSDH=1), no echo, replies laid out as CR LF <lines> CR LF, then
// CR LF "OK" CR LF. PDU mode, short headers and echo are there for a modem
// that restarted with its factory profile, and it volunteers unsolicited
// result codes when asked to.
//
// The device hands it the AT text of each pass-through frame; the device's
// reply frames show what the modem has "typed" so far for the current command.
// The answer starts after a latency and grows at a fixed character rate, so a
// client polling quickly sees it grow.

#include "simstore.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <functional>

namespace devsim {

// What a modem does with AT+CSDH=1 (detailed header parameters).
enum class Headers
{
    Detailed, // takes it and shows them
    Short,    // takes it, and writes short headers all the same
    Refused,  // answers ERROR; short headers
};

// How the modem spells a time stamp kept as "yy/MM/dd,hh:mm:ss+zz".
enum class Stamps
{
    Standard,      // as kept
    FourDigitYear, // "yyyy/M/d,hh:mm:ss": no leading zeros, no zone
    Blank,         // "yyyy/MM/dd hh:mm:ss+zz": a blank for the comma
};

// Blanks in a +CMGR header.
enum class Spacing
{
    Standard, // "+CMGR: a,b,c"
    Wide,     // "+CMGR: a, b, c"
    Tight,    // "+CMGR:a,b,c"
};

struct ModemSettings
{
    int latencyMs = 0;      // silence before the first character of an answer
    int charsPerSecond = 0; // typing rate of the answer; 0 shows it at once
    int storages = 3;       // storages listed by AT+CPMS? (2 or 3)
    bool pinWait = false;   // the SIM waits for its PIN: AT+CPIN? gives "SIM PIN"
    QString pin = QStringLiteral("0000");
    int cmee = 0; // error report mode as set by AT+CMEE
    QString serviceCentre = QStringLiteral("+85290000000");
    bool septetLengths = false; // GSM texts' length fields count septets (TP-UDL)
    int lengthSkew = 0;         // added to each length field: a modem that miscounts
    Headers headers = Headers::Detailed;
    Stamps stamps = Stamps::Standard;
    Spacing spacing = Spacing::Standard;
    bool storageQueryOK = true; // AT+CPMS? ends with OK (some end with their line)
    int memories = 3;           // memories AT+CPMS= takes; more get ERROR
    bool strictPrefix = false;  // a command line must begin with AT: nothing is skipped
    // The network as AT+CREG? and AT+CSQ report it (TS 27.007): <stat> (1
    // registered at home) and <rssi> (20 is -73 dBm); a modem that does not
    // know the question answers ERROR.
    int registration = 1;
    int rssi = 20;
    bool knowsRegistration = true;
    bool knowsSignal = true;
    // AT+CMGD answers "+CMS ERROR: <deleteRefusal>" (320: memory failure)
    // instead of deleting; 0 deletes.
    int deleteRefusal = 0;
};

// Where the modem volunteers lines around its answers.
enum class Volunteering
{
    Off,
    Before, // before each answer
    After,  // behind each final result
    Around, // both
    Inside, // inside AT+CPMS? answers, between the information and the result
};

// A message the modem sent with AT+CMGS.
struct SentSms
{
    int reference = 0;
    QString number;
    SmsAlphabet alphabet = SmsAlphabet::Gsm;
    QString text; // decoded: UCS2 hex digits are turned back into text
};

class Modem
{
public:
    // The shapes of an extended command: +X, +X?, +X=?, +X=args, or none of them.
    enum class Form
    {
        Run,
        Query,
        Test,
        Set,
        Malformed
    };

    // Milliseconds on a monotonic clock; tests pass their own.
    using Clock = std::function<qint64()>;

    Modem(SimStore &store, Clock clock);

    ModemSettings &settings() { return m_settings; }
    const ModemSettings &settings() const { return m_settings; }

    // Bytes of AT text as the device received them (UTF-8). Every command line
    // ends with CR; while a message text is being entered, Ctrl-Z sends it and
    // ESC abandons it. The first command completed by a call starts a new answer.
    void input(const QByteArray &bytes);

    // The answer to the current command as typed so far, in GSM codes.
    QByteArray typedOutput() const;
    // The whole answer to the current command, as text.
    const QString &answer() const { return m_answer; }
    qsizetype answerBytes() const { return m_answerGsm.size(); }

    const QList<SentSms> &sent() const { return m_sent; }

    // The next `reads` reads of `slot` answer "+CMS ERROR: code" (314: SIM
    // busy, 515: please wait) whatever the slot holds, as a real modem does
    // while its SIM is busy; 0 reads clears it.
    void setBusy(int slot, int reads, int code = 314);
    // The next `texts` messages typed after AT+CMGS are refused with
    // "+CMS ERROR: 500" instead of being sent, as when the network is down.
    void setSendFailures(int texts) { m_sendFailures = texts; }

    // A restart with the factory profile: echo on, PDU mode, short headers,
    // error codes off.
    void factoryReset();
    // A line the modem volunteers now (an unsolicited result code); it
    // follows whatever the current answer holds.
    void volunteer(const QString &line);
    void setVolunteering(Volunteering where) { m_volunteering = where; }
    Volunteering volunteering() const { return m_volunteering; }
    // "+CMTI" for every message delivered.
    void setIndicateDeliveries(bool on) { m_indicateDeliveries = on; }
    bool indicatesDeliveries() const { return m_indicateDeliveries; }
    void delivered(int slot);
    // Counts answers started, so a line that carries them knows a new one began.
    quint64 answerNumber() const { return m_answerNumber; }

    // Called whenever the store changed (a read marked a message, a delete).
    std::function<void()> onStoreChanged;
    // Called for every message sent with AT+CMGS.
    std::function<void(const SentSms &)> onSent;
    // Whether messages move in the state AT+CREG? reports.
    bool registered() const;
    // Restarts asked for with AT+CFUN=<fun>,1.
    int restarts() const { return m_restarts; }

private:
    void execute(const QString &line);
    void executeExtended(const QString &name, Form form, const QStringList &args);
    void finishMessage(bool send);
    void startAnswer();
    void reply(const QString &text) { m_answer += text; }
    void ok() { reply(QStringLiteral("\r\nOK\r\n")); }
    void info(const QString &line)
    {
        reply(QStringLiteral("\r\n") + line + QStringLiteral("\r\n"));
    }
    void error() { reply(QStringLiteral("\r\nERROR\r\n")); }
    void cmsError(int code);
    void cmeError(int code);
    void storeChanged();

    QString cmgrReply(const StoredSms &sms) const;
    QString nextVolunteered();
    void volunteerAround(qsizetype answerStart, bool storageQuery);
    void readMessage(const QStringList &args);
    void deleteMessages(const QStringList &args);
    void selectStorage(Form form, const QStringList &args);
    // AT+CREG, AT+CSQ and AT+CFUN; false for any other command.
    bool executeNetwork(const QString &name, Form form, const QStringList &args);

    SimStore &m_store;
    Clock m_clock;
    ModemSettings m_settings;

    QByteArray m_line;           // command line being received
    bool m_enteringText = false; // after the "> " prompt of AT+CMGS
    QByteArray m_messageBytes;
    QString m_destination;
    bool m_answerStarted = false; // a command already completed in this input call

    QString m_answer;
    QByteArray m_answerGsm;
    qint64 m_answerStart = 0;

    bool m_echo = false;
    int m_csdh = 1;
    int m_cmgf = 1;
    Volunteering m_volunteering = Volunteering::Off;
    bool m_indicateDeliveries = false;
    int m_volunteered = 0;
    quint64 m_answerNumber = 0;
    int m_csmp[4] = {17, 167, 0, 0};
    int m_cregMode = 0;            // <n> of AT+CREG=<n>
    bool m_restartPending = false; // AT+CFUN=1,1 answered: the next command meets a fresh modem
    int m_restarts = 0;
    QStringList m_memories{QStringLiteral("MT"), QStringLiteral("MT"), QStringLiteral("MT")};
    int m_nextReference = 1;
    QList<SentSms> m_sent;
    int m_sendFailures = 0;
    struct Busy
    {
        int reads = 0;
        int code = 314;
    };
    QHash<int, Busy> m_busy;
};

// Splits AT arguments at commas outside double quotes and removes the quotes.
QStringList SplitArguments(const QString &text);

} // namespace devsim
