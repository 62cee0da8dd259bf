#pragma once
// Pure readers of the modem's text-mode replies: line counting, the final
// result line, the storage counts and the +CMGR message read. Nothing here
// touches a port; the driver feeds them what the device handed back.

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace quillet {

// Occurrences of `part` in `text`, overlapping ones included ("aaa" holds
// "aa" twice). 0 for an empty text or an empty part.
qint32 CountSubString(const QString &text, const QString &part);

// True when the last complete line of the reply is a final error result:
// "ERROR", "+CMS ERROR: n" or "+CME ERROR: n". The word inside a message text
// ("PUMP ERROR") does not make an error reply, and a line still without its
// CR LF is not complete.
bool IsErrorReply(const QString &reply);

// AT+CPMS? (Current SMS storage) response parser: the reply cut at every
// ",", which must give 6 pieces (two storages) or 9 (three). `used` and
// `total` are pieces 2 and 3. False when the piece count is wrong or either
// piece is not a number that fits 16 bits.
bool ParseCPMSQueryReply(const QString &reply, qint16 &used, qint16 &total);

// The GSM-coded byte forms the +CMGR parser looks for, made once from the
// code map when the driver is created.
struct CMGRTokens
{
    QByteArray crlf;
    QByteArray comma;
    QByteArray quote;
    QByteArray finalOK; // CR LF CR LF "OK" CR LF: the blank line and result behind a body

    // Empty tokens when the code map lacks one of the characters.
    static CMGRTokens fromCodeMap();
    bool isComplete() const
    {
        return !crlf.isEmpty() && !comma.isEmpty() && !quote.isEmpty() && !finalOK.isEmpty();
    }
};

// The date a stored outgoing message reports: 30 December 1899, midnight
// (Qt::UTC, like every stamp the driver hands out).
QDateTime ZeroDate();

// AT+CMGR (Read message) response parser, over the raw GSM bytes the device
// delivered: CR LF, the header line, CR LF, the body, CR LF, CR LF, "OK",
// CR LF. Status, number and time stamp come from the header's quoted fields;
// the body is GSM text (data coding scheme 0, its character count equal to
// the header's length field) or UCS2 hexadecimal (scheme 8). The time stamp
// is the wall clock as received, held as a Qt::UTC date and time so that no
// host zone applies to it. `smsStatus` is set as soon as the status is known,
// even when the parse fails later; `phoneNo` and `sms` are empty after a
// failure.
bool ParseCMGRReply(const QByteArray &raw, const CMGRTokens &tokens, QString &phoneNo,
                    QDateTime &smsDate, QString &sms, QString &smsStatus);

// Whether a growing +CMGR reply text is complete. With a "+CMGR:" header:
// only once the body has at least the characters its length field announces
// and the final "OK" line stands behind it, so that a message line reading
// "OK" or "ERROR" cannot end the wait with half a message. Without a header:
// a final "OK" or error line.
bool IsCMGRReplyComplete(const QString &reply);

// A read of a slot that holds nothing, answered without an error: the header
// "+CMGR: 0,,0" that some modems give, or a bare "OK".
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
