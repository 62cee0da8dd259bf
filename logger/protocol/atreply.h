#pragma once
// Pure readers of the modem's text-mode replies: line counting, the final
// result line, the storage counts and the +CMGR message read. Nothing here
// touches a port; the driver feeds them what the device handed back.

#include "gsmcodemap.h"
#include "smsdata.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace quillet {

// Occurrences of `part` in `text`, overlapping ones included ("aaa" holds
// "aa" twice). 0 for an empty text or an empty part.
qint32 CountSubString(const QString &text, const QString &part);

// True when the last final result line of the reply is an error: "ERROR",
// "+CMS ERROR: n" or "+CME ERROR: n". Lines behind the final result are
// codes the modem volunteered (+CMTI, RING, ^RSSI, ...) and change nothing.
// The word inside a message text ("PUMP ERROR") does not make an error
// reply, and a line still without its CR LF is not complete.
bool IsErrorReply(const QString &reply);

// Whether the reply begins with the echo of an AT command (the modem's echo
// is on): "AT..." before the first line end.
bool ReplyCarriesEcho(const QString &reply);

// AT+CPMS? (Current SMS storage) response parser: the "+CPMS:" line cut at
// every ",", which must give 6 pieces (two storages) or 9 (three). `used`
// and `total` are pieces 2 and 3. Other lines (an echo, codes the modem
// volunteered before or after) are not read. False when there is no such
// line, the piece count is wrong or either piece is not a number that fits
// 16 bits.
bool ParseCPMSQueryReply(const QString &reply, qint16 &used, qint16 &total);

// Whether an AT+CPMS? reply that has not ended yet already holds its
// "+CPMS:" line whole (its CR LF came) in a form ParseCPMSQueryReply reads:
// for a modem that writes no final result behind it.
bool HasWholeCPMSLine(const QString &reply);

// AT+CPIN? (Enter PIN) response parser: what the "+CPIN:" line says the SIM
// waits for ("READY", "SIM PIN", "SIM PUK" ...), trimmed; empty when the
// reply holds no such line.
QString ParseCPINReply(const QString &reply);

// The GSM-coded byte forms the +CMGR parser looks for, made once from the
// code map when the driver is created, and the map the parser decodes with.
struct CMGRTokens
{
    GSMCodeMap codeMap;
    QByteArray crlf;
    QByteArray comma;
    QByteArray quote;
    QByteArray finalOK; // CR LF CR LF "OK" CR LF: the blank line and result behind a body
    QByteArray lineOK;  // CR LF "OK" CR LF
    QByteArray header;  // "+CMGR:"

    // Empty tokens when the code map lacks one of the characters.
    static CMGRTokens fromCodeMap(const GSMCodeMap &map);
    bool isComplete() const
    {
        return !crlf.isEmpty() && !comma.isEmpty() && !quote.isEmpty() && !finalOK.isEmpty() &&
               !lineOK.isEmpty() && !header.isEmpty();
    }
};

// The date a stored outgoing message reports: 30 December 1899, midnight
// (Qt::UTC, like every stamp the driver hands out).
QDateTime ZeroDate();

// What a status report in the store says about a message this modem sent:
// an SMS-STATUS-REPORT, shown in text mode as "+CMGR: <stat>,<fo>,<mr>,
// [<ra>],[<tora>],<scts>,<dt>,<st>" with no body.
struct StatusReport
{
    int reference = 0; // TP-MR: the reference the message got when it was sent
    QString recipient; // TP-RA
    QDateTime sent;    // TP-SCTS: when the service centre took it; invalid when unreadable
    QDateTime done;    // TP-DT: when it was delivered, or the centre gave up
    int status = 0;    // TP-ST
};

// The report in a few words for the debug trace: the message it is about and
// what became of it ("message 12 to +85291234567, sent 2024-01-02 10:20:30:
// received by the recipient at 2024-01-02 10:20:35").
QString DescribeStatusReport(const StatusReport &report);

// One message as a +CMGR read shows it.
struct SIMMessage
{
    QString status;      // "UNREAD", "READ", "UNSENT" or "SENT"
    QString phoneNo;     // sender or recipient; a name for an alphanumeric sender
    int addressType = 0; // 145 international, 129 national, 208 alphanumeric, ...
    QDateTime date;      // the service centre's time stamp; the zero date when stored
    int dcs = 0;
    CodingScheme scheme;
    // The text; for 8-bit data "[8-bit] " and the octets in hexadecimal.
    QString text;
    QByteArray data; // 8-bit data: the octets after any header
    Concatenation concatenation;
    // As received, for a record of a reply that cannot be read.
    QString rawHeader;
    QString rawBody;
    // A status report about a message sent from this SIM: no alarm, whatever
    // its status word says. `phoneNo` is then its recipient and `date` the
    // time it names as done.
    bool isStatusReport = false;
    StatusReport report;
};

// The status a poll goes by: the status word as above, or "REPORT" for a
// status report.
QString SlotStatus(const SIMMessage &message);

enum class CMGRRead
{
    Message,     // read: `message` holds it
    Unreadable,  // the reply is whole but its message cannot be read
    ProfileLost, // PDU mode: the modem lost its text-mode profile
    NoMessage,   // no +CMGR header at all (an error, an empty slot)
};

struct CMGRReply
{
    CMGRRead kind = CMGRRead::NoMessage;
    bool echoed = false; // the command's echo came first: the modem's echo is on
    // The header lacked the detailed parameters (AT+CSDH=0, or a modem that
    // writes no others): the text was taken as it stands, with no coding
    // scheme to read it by.
    bool shortHeader = false;
    QString why; // what could not be read, for the debug trace
};

// AT+CMGR=<index> (Read message) response parser, text mode, over the raw
// GSM bytes the modem delivered: the header line "+CMGR:" (a blank after the
// colon or not, blanks after the commas or not), the body, the final "OK"
// (with or without the blank line before it). An echo or volunteered lines
// before the header and lines behind the final result are skipped.
// - Detailed header (AT+CSDH=1): status, number, optional name, time stamp,
//   type of address, first octet, protocol identifier, data coding scheme,
//   service centre, its type and the length (a stored message: validity
//   instead of the time stamp). The body is text in the GSM alphabet when the
//   scheme says 7-bit and no user data header is present, and hexadecimal
//   otherwise: UCS2, 8-bit data, or the whole user data with its header
//   (7-bit packed behind the header and its fill bits) when the first octet's
//   TP-UDHI bit is set. Where the length field fits no reading of the body
//   (characters or septets, octets or characters of UCS2), the body as it
//   stands is the text; only packed septets need it to be right.
// - Short header: status, number, optional name and, for a received message,
//   the time stamp. With no coding scheme the body is taken as it stands, in
//   the character set the driver chose (hexadecimal digits prove nothing).
// - Status report: status, first octet, message reference, recipient, its
//   type, the centre's time stamp, the discharge time and the status.
// Time stamps are read as "yy/MM/dd,hh:mm:ss" and a zone of quarter hours,
// as modems write them: a four-digit year, months and days without leading
// zeros, a blank for the comma, no zone. `rawHeader` and `rawBody` are filled
// whenever a header was found; `status` and `phoneNo` as soon as they are
// known, also when the message cannot be read. The time stamp is the wall
// clock as received, held as a Qt::UTC date and time so that no host zone
// applies to it.
CMGRReply ReadCMGRTextReply(const QByteArray &raw, const CMGRTokens &tokens, SIMMessage &message);

// ReadCMGRTextReply for callers that want the text alone: true for a message
// read, with the text of a part when it is one part of a longer message (a
// status report: "REPORT", its recipient and what it says). `smsStatus` is
// set as soon as the status is known, even when the parse fails later;
// `phoneNo` and `sms` are empty after a failure.
bool ParseCMGRReply(const QByteArray &raw, const CMGRTokens &tokens, QString &phoneNo,
                    QDateTime &smsDate, QString &sms, QString &smsStatus);

// Whether a growing +CMGR reply text is complete. With a "+CMGR:" header:
// once a final "OK" line follows a body at least as long as the header's
// length field (a detailed header's; other headers have none) in its most
// lenient reading (a septet for every character of
// the GSM alphabet, escapes included), so that a message line reading "OK"
// or "ERROR" cannot end the wait with half a message, and a length that
// counts septets never waits for characters that will not come. Without a
// header: a final "OK" or error line. Volunteered lines after the final
// result do not hold the reply up. The map gives the septets of the body.
bool IsCMGRReplyComplete(const QString &reply, const GSMCodeMap &map);

// Whether a +CMGR reply that has stopped growing has its final result: a
// final "OK" line behind the header, whatever the length field says. A reply
// that ends so is read as it is instead of being waited for.
bool IsCMGRReplyFinished(const QString &reply);

// A read of a slot that holds nothing, answered without an error: the header
// "+CMGR: 0,,0" that some modems give, or a bare "OK" (an echo and
// volunteered lines aside).
bool IsEmptySlotReply(const QString &reply);

// What an AT+CMGR=<index> reply that carries no message says about the slot.
enum class CMGRNoMessage
{
    NotThat,   // the reply is neither an empty slot nor an error
    Empty,     // the slot holds nothing
    Transient, // the modem could not read it just now; the slot may hold a message
};
// Empty: "+CMS ERROR: 321" (invalid memory index; "+CME ERROR: 21" in the
// equipment table), the answers of IsEmptySlotReply, or a plain "ERROR" from
// a modem that gives no error codes. Every other error line is transient
// ("+CMS ERROR: 314" SIM busy, "515" please wait, a plain "ERROR" from a
// modem that was set to give codes, ...).
CMGRNoMessage ClassifyCMGRNoMessage(const QString &reply, bool modemGivesCodes);

} // namespace quillet
