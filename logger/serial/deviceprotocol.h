#pragma once
// The SMS device's framed command protocol (Modbus RTU style, station 247):
// the request frames of its five commands, what their answers mean, and the
// two exchanges that send a request and check the answer, with retries.
// Frame building and checking are pure functions over byte buffers.

#include "commport.h"

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

// Verdict on a fixed-length answer, the checks taken in this order.
enum class ResponseCheck
{
    Ok,
    Exception,
    Incomplete,
    WrongStation,
    WrongFunction,
    BadCRC
};
ResponseCheck CheckFixedResponse(const QByteArray &request, const QByteArray &response,
                                 int responseLength);

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

// Sends a request of `requestLength` bytes (its CRC is stored behind them in
// `request`) and expects a fixed-length answer of `responseLength` bytes in
// `response`. At most retries + 1 attempts; false when all fail.
bool SendDeviceCommand(CommPort &port, QByteArray &request, int requestLength, QByteArray &response,
                       int responseLength, int silentTimeout, int retries);

// As SendDeviceCommand for a length-prefixed answer. On success
// `responseCount` is 5 + M and `response` holds header, data and the two CRC
// bytes behind them.
bool SendDeviceQuery(CommPort &port, QByteArray &request, int requestLength, QByteArray &response,
                     int &responseCount, int silentTimeout, int retries);

// Refuses empty (or all-blank) commands and the two that would upset the
// device's modem handling: ATZ and ATE1 (any case, nothing around them).
bool IsATCommandPassable(const QString &text);

} // namespace quillet
