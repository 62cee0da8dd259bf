#include "deviceprotocol.h"

#include "crc16.h"
#include "hostservices.h"
#include "uievents.h"

namespace quillet {

namespace {

const QString kSendTitle = QStringLiteral("Send Command Error");
const QString kReceiveTitle = QStringLiteral("Receive Command Error");

void diagnostic(const QString &title, const QString &text)
{
    if (CommDiagnostics())
        MsgBox(text, BoxButtons::Ok, BoxIcon::Critical, title);
}

int byteAt(const QByteArray &bytes, qsizetype index)
{
    return index < bytes.size() ? quint8(bytes.at(index)) : -1;
}

QByteArray readRegisters(quint8 station, quint8 start, quint8 count)
{
    QByteArray frame;
    frame.append(char(station));
    frame.append(char(kFunctionReadInput));
    frame.append('\0');
    frame.append(char(start));
    frame.append('\0');
    frame.append(char(count));
    return frame;
}

QString hex2(int value)
{
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

// Stores the CRC behind the request, after checking that the request can
// hold the bytes the checks look at.
bool prepareRequest(QByteArray &request, int requestLength)
{
    if (requestLength < 2 || requestLength > request.size())
        return false;
    AppendDeviceCRC(request, requestLength);
    return true;
}

void exceptionBoxes(const QByteArray &response, bool withCodeText)
{
    diagnostic(kSendTitle, QStringLiteral("Send command response error.\r\nCommand function no=") +
                               QString::number(byteAt(response, 1)));
    if (!withCodeText)
        return;
    const QString text = DeviceExceptionText(byteAt(response, 2));
    if (!text.isEmpty())
        diagnostic(kSendTitle, text);
}

void incompleteBox(int received, int requested)
{
    diagnostic(kSendTitle, QStringLiteral("Send command timeOut!! Incomplete response data. "
                                          "nWord = %1\r\nRequest response data. nRspData= %2")
                               .arg(received)
                               .arg(requested));
}

} // namespace

QByteArray DeviceTypeRequest(quint8 station)
{
    return readRegisters(station, 0, 1);
}

QByteArray LinkQueryRequest(quint8 station)
{
    return readRegisters(station, 6, 1);
}

QByteArray ProductSNRequest(quint8 station)
{
    return readRegisters(station, 2, 4);
}

QByteArray ReadATReplyRequest(quint8 station)
{
    QByteArray frame;
    frame.append(char(station));
    frame.append(char(kFunctionPassthrough));
    frame.append(char(kSubReadATReply));
    return frame;
}

QByteArray ATPassthroughRequest(const QByteArray &atText, quint8 station)
{
    if (atText.size() > kMaxATCommandBytes)
        return {};
    QByteArray frame;
    frame.reserve(atText.size() + 7);
    frame.append(char(station));
    frame.append(char(kFunctionPassthrough));
    frame.append(char(kSubATCommand));
    frame.append(char(atText.size() >> 8));
    frame.append(char(atText.size() & 0xFF));
    frame.append(atText);
    return frame;
}

void AppendDeviceCRC(QByteArray &frame, qsizetype length)
{
    const quint16 crc = DeviceCRC(frame, length);
    frame.resize(length + 2);
    frame[length] = char(crc & 0xFF);
    frame[length + 1] = char(crc >> 8);
}

quint16 StoredCRC(const QByteArray &frame, qsizetype length)
{
    if (length < 0 || length + 2 > frame.size())
        return 0;
    return quint16(quint8(frame.at(length)) | (quint8(frame.at(length + 1)) << 8));
}

ResponseCheck CheckFixedResponse(const QByteArray &request, const QByteArray &response,
                                 int responseLength)
{
    const int received = int(response.size());
    if (received == 5 && byteAt(response, 1) == byteAt(request, 1) + 128)
        return ResponseCheck::Exception;
    if (received < responseLength || responseLength < 4)
        return ResponseCheck::Incomplete;
    if (byteAt(response, 0) != byteAt(request, 0))
        return ResponseCheck::WrongStation;
    if (byteAt(response, 1) != byteAt(request, 1))
        return ResponseCheck::WrongFunction;
    if (DeviceCRC(response, responseLength - 2) != StoredCRC(response, responseLength - 2))
        return ResponseCheck::BadCRC;
    return ResponseCheck::Ok;
}

int AnnouncedDataLength(const QByteArray &header)
{
    if (header.size() < 5)
        return 0;
    return byteAt(header, 3) * 256 + byteAt(header, 4);
}

QString DeviceTypeFromResponse(const QByteArray &response)
{
    switch (byteAt(response, 3)) {
    case 0x40:
        return QStringLiteral("40");
    case 0x41:
        return QStringLiteral("41");
    default:
        return QStringLiteral("UNKNOWN");
    }
}

QString ProductSNFromResponse(const QByteArray &response)
{
    if (response.size() < 11)
        return {};
    // Response bytes counted from 1, as the device's documentation numbers them.
    auto b = [&](int n) { return hex2(byteAt(response, n - 1)); };
    return b(10) + '-' + b(11) + '-' + b(8) + b(9) + '-' + b(6) + b(7) + b(4) + '-' + b(5);
}

QByteArray ATReplyData(const QByteArray &response, int responseCount)
{
    const int dataLength = responseCount - 5;
    if (dataLength < 2 || response.size() < responseCount)
        return {};
    return response.mid(5, dataLength);
}

QString DeviceExceptionText(int code)
{
    switch (code) {
    case 1:
    case 4:
        return QStringLiteral("這是一個不合法的命令.");
    case 0xA0:
        return QStringLiteral("簡訊傳送等待區已滿.");
    case 0xA1:
        return QStringLiteral("裝置記憶空間不足.");
    default:
        return {};
    }
}

bool SendDeviceCommand(CommPort &port, QByteArray &request, int requestLength, QByteArray &response,
                       int responseLength, int silentTimeout, int retries)
{
    if (!EnsureCommOpen(port))
        return false;
    if (!prepareRequest(request, requestLength))
        return false;

    for (int attempt = 0;; ++attempt) {
        if (attempt > 0 && attempt > retries)
            return false;
        ProcessPendingEvents();
        if (!WriteComm(port, request, requestLength + 2))
            return false;
        const int received = ReadComm(port, response, responseLength, silentTimeout);

        switch (CheckFixedResponse(request, response, responseLength)) {
        case ResponseCheck::Ok:
            return true;
        case ResponseCheck::Exception:
            exceptionBoxes(response, true);
            break;
        case ResponseCheck::Incomplete:
            incompleteBox(received, responseLength);
            break;
        case ResponseCheck::WrongStation:
            diagnostic(kSendTitle, QStringLiteral("Station ID is Error."));
            break;
        case ResponseCheck::WrongFunction:
            diagnostic(kSendTitle, QStringLiteral("Response data with wrong function code.\r\n"
                                                  "Send command function code=%1\r\n"
                                                  "Response data function code=%2")
                                       .arg(byteAt(request, 1))
                                       .arg(byteAt(response, 1)));
            break;
        case ResponseCheck::BadCRC:
            diagnostic(kSendTitle, QStringLiteral("CRC Error."));
            break;
        }
    }
}

bool SendDeviceQuery(CommPort &port, QByteArray &request, int requestLength, QByteArray &response,
                     int &responseCount, int silentTimeout, int retries)
{
    if (!EnsureCommOpen(port))
        return false;
    if (!prepareRequest(request, requestLength))
        return false;
    ProcessPendingEvents();

    for (int attempt = 0;; ++attempt) {
        if (attempt > 0 && attempt > retries)
            return false;
        bool headerGood = false;
        response.clear();
        responseCount = 0;

        // A failed write shows up as silence below.
        WriteComm(port, request, requestLength + 2);
        QByteArray header;
        const int headerCount = ReadComm(port, header, 5, silentTimeout);

        if (headerCount == 5 && byteAt(header, 1) == byteAt(request, 1) + 128) {
            exceptionBoxes(header, false);
        } else if (headerCount < 5) {
            incompleteBox(headerCount, 5);
        } else if (byteAt(header, 0) != byteAt(request, 0)) {
            diagnostic(kSendTitle, QStringLiteral("Station ID is Error."));
        } else {
            response = header;
            responseCount = 5;
            headerGood = true;
            const int dataLength = AnnouncedDataLength(header);
            if (dataLength > kMaxReplyData) {
                // More than the reply buffer holds: the frame is not to be
                // trusted, and reading on would only take in its junk.
                WriteDebugTrace(QStringLiteral("Reply data length %1 above %2, header %3")
                                    .arg(dataLength)
                                    .arg(kMaxReplyData)
                                    .arg(QString::fromLatin1(header.toHex(' ').toUpper())));
                continue;
            }
            if (dataLength > 0) {
                QByteArray data;
                const int dataCount = ReadComm(port, data, dataLength, silentTimeout);
                if (dataCount == dataLength) {
                    response += data;
                    responseCount += dataLength;
                } else {
                    headerGood = false;
                    diagnostic(
                        kReceiveTitle,
                        QStringLiteral("TimeOut!! No Response Data. nWord = %1").arg(dataCount));
                }
            }
        }

        QByteArray crcBytes;
        const int crcCount = ReadComm(port, crcBytes, 2, silentTimeout);
        if (crcCount < 2) {
            diagnostic(kReceiveTitle,
                       QStringLiteral("TimeOut!! No Response Data. nWord = %1").arg(crcCount));
            continue;
        }
        response += crcBytes;
        const quint16 computed = DeviceCRC(response, responseCount);
        const quint16 stored = StoredCRC(response, responseCount);
        if (computed != stored) {
            QString text =
                QStringLiteral("CRC is Error.CRC1=%1,CRC2=%2str=").arg(computed).arg(stored);
            for (int i = 0; i < responseCount; ++i)
                text += QLatin1Char(',') + QString::number(byteAt(response, i), 16).toUpper();
            // Not waited for: an unattended logger must keep logging alarms
            // while nobody is there to close the box.
            MsgBoxNonBlocking(text, BoxIcon::Critical, kReceiveTitle);
            continue;
        }
        if (headerGood)
            return true;
    }
}

bool IsATCommandPassable(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' '))
        --end;
    if (begin == end)
        return false;
    const QString upper = text.toUpper();
    return upper != QLatin1String("ATZ") && upper != QLatin1String("ATE1");
}

} // namespace quillet
