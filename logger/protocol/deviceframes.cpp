#include "deviceframes.h"

#include "crc16.h"

namespace quillet {

namespace {

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

FrameCheck more(int count)
{
    FrameCheck c;
    c.more = count;
    return c;
}

FrameCheck whole(int length)
{
    FrameCheck c;
    c.verdict = FrameCheck::Verdict::Whole;
    c.length = length;
    return c;
}

FrameCheck refused(ResponseCheck problem, const QString &why, const QByteArray &bytes)
{
    FrameCheck c;
    c.verdict = FrameCheck::Verdict::Refused;
    c.problem = problem;
    c.reason = why + QStringLiteral(": ") + FrameHex(bytes);
    return c;
}

// The refusal of an answer whose head is wrong, in the words the trace uses.
FrameCheck refusal(ResponseCheck problem, const QByteArray &request, const QByteArray &received)
{
    QString why;
    switch (problem) {
    case ResponseCheck::Exception:
        why = QStringLiteral("exception %1 to function %2")
                  .arg(byteAt(received, 2))
                  .arg(byteAt(request, 1));
        break;
    case ResponseCheck::WrongStation:
        why = QStringLiteral("station %1 answered, not %2")
                  .arg(byteAt(received, 0))
                  .arg(byteAt(request, 0));
        break;
    case ResponseCheck::WrongFunction:
        why = QStringLiteral("function %1 in the answer to function %2")
                  .arg(byteAt(received, 1))
                  .arg(byteAt(request, 1));
        break;
    default:
        why = QStringLiteral("not a frame");
        break;
    }
    return refused(problem, why, received);
}

// What can be told before the frame is whole: an exception (once its five
// bytes are there), another station, another function.
bool refusedEarly(const QByteArray &request, const QByteArray &received, bool checkFunction,
                  FrameCheck &check)
{
    const int n = int(received.size());
    if (n >= 2 && byteAt(received, 1) == byteAt(request, 1) + 128) {
        check = n < kPrefixedHeaderLength ? more(kPrefixedHeaderLength - n)
                                          : refusal(ResponseCheck::Exception, request, received);
        return true;
    }
    if (n >= 1 && byteAt(received, 0) != byteAt(request, 0)) {
        check = refusal(ResponseCheck::WrongStation, request, received);
        return true;
    }
    if (checkFunction && n >= 2 && byteAt(received, 1) != byteAt(request, 1)) {
        check = refusal(ResponseCheck::WrongFunction, request, received);
        return true;
    }
    return false;
}

FrameCheck crcChecked(const QByteArray &frame, int length)
{
    const quint16 computed = DeviceCRC(frame, length - 2);
    const quint16 stored = StoredCRC(frame, length - 2);
    if (computed != stored)
        return refused(ResponseCheck::BadCRC,
                       QStringLiteral("CRC %1 computed, %2 received").arg(computed).arg(stored),
                       frame.left(length));
    return whole(length);
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

QString FrameHex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
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

FrameCheck CheckFixedAnswer(const QByteArray &request, const QByteArray &received,
                            int responseLength)
{
    const int n = int(received.size());
    if (n >= responseLength || (n == kPrefixedHeaderLength &&
                                byteAt(received, 1) == byteAt(request, 1) + 128)) {
        const ResponseCheck problem = CheckFixedResponse(request, received, responseLength);
        switch (problem) {
        case ResponseCheck::Ok:
            return whole(responseLength);
        case ResponseCheck::BadCRC:
            return crcChecked(received, responseLength);
        case ResponseCheck::Incomplete:
            return refused(problem, QStringLiteral("an answer of %1 bytes cannot hold a frame")
                                        .arg(responseLength),
                           received);
        default:
            return refusal(problem, request, received);
        }
    }
    FrameCheck check;
    if (refusedEarly(request, received, true, check))
        return check;
    return more(responseLength - n);
}

FrameCheck CheckPrefixedAnswer(const QByteArray &request, const QByteArray &received)
{
    FrameCheck check;
    if (refusedEarly(request, received, false, check))
        return check;
    const int n = int(received.size());
    if (n < kPrefixedHeaderLength)
        return more(kPrefixedHeaderLength - n);
    const int dataLength = AnnouncedDataLength(received);
    if (dataLength > kMaxReplyData)
        return refused(ResponseCheck::TooLong,
                       QStringLiteral("%1 data bytes announced, more than %2")
                           .arg(dataLength)
                           .arg(kMaxReplyData),
                       received.left(kPrefixedHeaderLength));
    const int length = kPrefixedHeaderLength + dataLength + 2;
    if (n < length)
        return more(length - n);
    return crcChecked(received, length);
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
