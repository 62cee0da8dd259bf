#pragma once
// The SMS device's frames (Modbus RTU style, station 247): the requests of
// its five commands, what their answers mean, and the check of an answer as
// it arrives. Bytes in, a verdict out; reading and retrying are the serial
// link's business.

#include <QByteArray>
#include <QString>

namespace quillet {

constexpr quint8 kDeviceStation = 247;
constexpr quint8 kFunctionReadInput = 0x04;
constexpr quint8 kFunctionPassthrough = 0x50;
constexpr quint8 kSubATCommand = 0x65;
constexpr quint8 kSubReadATReply = 0x66;
// The driver's reply buffer holds 1000 bytes: header 5, data, CRC 2.
constexpr int kMaxReplyData = 993;
// The passthrough's length field plus its 5 other bytes fit a signed 16-bit count.
constexpr int kMaxATCommandBytes = 32762;
// Station, function, a byte not examined and the data length M (big-endian):
// the head of a length-prefixed answer, and the whole of an exception.
constexpr int kPrefixedHeaderLength = 5;

// Requests without their CRC (the exchanges append it).
QByteArray DeviceTypeRequest(quint8 station = kDeviceStation); // input register 0
QByteArray LinkQueryRequest(quint8 station = kDeviceStation);  // input register 6
QByteArray ProductSNRequest(quint8 station = kDeviceStation);  // input registers 2 to 5
QByteArray ReadATReplyRequest(quint8 station = kDeviceStation);
// Empty when the text is longer than kMaxATCommandBytes.
QByteArray ATPassthroughRequest(const QByteArray &atText, quint8 station = kDeviceStation);

// Answer lengths of the fixed-length commands, CRC included.
constexpr int kDeviceTypeResponseLength = 7;
constexpr int kLinkQueryResponseLength = 7;
constexpr int kProductSNResponseLength = 13;
constexpr int kATPassthroughResponseLength = 5;

// Writes the CRC of the first `length` bytes behind them, low byte first,
// growing the frame to length + 2 bytes.
void AppendDeviceCRC(QByteArray &frame, qsizetype length);
// The CRC stored at `length` and `length` + 1, low byte first.
quint16 StoredCRC(const QByteArray &frame, qsizetype length);

// What is wrong with an answer, the checks taken in this order.
enum class ResponseCheck
{
    Ok,
    Exception,     // function code + 128: the device refused the request
    Incomplete,    // fewer bytes than the frame needs
    WrongStation,  // another station answered
    WrongFunction, // the answer is to another request
    BadCRC,
    TooLong, // a length-prefixed answer announces more than the reply buffer takes
};
// The verdict on a complete fixed-length answer of `responseLength` bytes.
ResponseCheck CheckFixedResponse(const QByteArray &request, const QByteArray &response,
                                 int responseLength);

// The verdict on an answer as far as it came: more bytes to wait for, a
// whole frame, or a refusal whose reason names the bytes (in hexadecimal) so
// that the trace shows what the line carried.
struct FrameCheck
{
    enum class Verdict
    {
        More,
        Whole,
        Refused,
    };
    Verdict verdict = Verdict::More;
    int more = 0;  // More: bytes the frame still lacks (at least)
    int length = 0; // Whole: the frame's length, CRC included
    ResponseCheck problem = ResponseCheck::Ok; // Refused: which check failed
    QString reason;                             // Refused: why, with the bytes

    bool isWhole() const { return verdict == Verdict::Whole; }
    bool isRefused() const { return verdict == Verdict::Refused; }
};
// A fixed-length answer of `responseLength` bytes to `request` (station and
// function first). A 5-byte exception is refused as soon as it is there.
FrameCheck CheckFixedAnswer(const QByteArray &request, const QByteArray &received,
                            int responseLength);
// A length-prefixed answer to `request`: a 5-byte header announcing M data
// bytes, the data, the CRC over both. The function code is not examined, as
// the device's own exchange never did.
FrameCheck CheckPrefixedAnswer(const QByteArray &request, const QByteArray &received);

// Bytes as the trace shows them: "F7 50 66 00 02".
QString FrameHex(const QByteArray &bytes);

// The data length M announced by a length-prefixed answer's 5-byte header.
int AnnouncedDataLength(const QByteArray &header);

// "40", "41" or "UNKNOWN" from a device type answer.
QString DeviceTypeFromResponse(const QByteArray &response);
// "07-08-0506-030401-02" style text from a product serial number answer.
QString ProductSNFromResponse(const QByteArray &response);
// The modem output carried by a read-AT-reply answer of `responseCount`
// bytes; empty when fewer than 2 data bytes came.
QByteArray ATReplyData(const QByteArray &response, int responseCount);

// The text of an exception code, or empty for codes without one.
QString DeviceExceptionText(int code);

// Refuses empty (or all-blank) commands and the two that would upset the
// device's modem handling: ATZ and ATE1 (any case, nothing around them).
bool IsATCommandPassable(const QString &text);

} // namespace quillet
