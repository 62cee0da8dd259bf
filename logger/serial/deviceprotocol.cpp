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

// Every answer the exchanges turn away is traced with what the line carried.
void traceRefusal(const QString &reason)
{
    WriteDebugTrace(QStringLiteral("Device answer refused: ") + reason);
}

void traceShort(const QByteArray &bytes, int wanted)
{
    traceRefusal(QStringLiteral("%1 of %2 bytes before the line fell silent: %3")
                     .arg(bytes.size())
                     .arg(wanted)
                     .arg(FrameHex(bytes)));
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

void stationBox()
{
    diagnostic(kSendTitle, QStringLiteral("Station ID is Error."));
}

// Reads as the check asks, until the answer is whole, refused, or the line
// falls silent; returns the last verdict.
FrameCheck readFixedAnswer(CommPort &port, const QByteArray &request, QByteArray &response,
                           int responseLength, int silentTimeout)
{
    response.clear();
    for (;;) {
        const FrameCheck check = CheckFixedAnswer(request, response, responseLength);
        if (check.verdict != FrameCheck::Verdict::More)
            return check;
        QByteArray piece;
        const int got = ReadComm(port, piece, check.more, silentTimeout);
        response += piece;
        if (got < check.more)
            return CheckFixedAnswer(request, response, responseLength);
    }
}

} // namespace

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
        const FrameCheck check =
            readFixedAnswer(port, request, response, responseLength, silentTimeout);
        if (check.isWhole())
            return true;
        if (!check.isRefused()) {
            traceShort(response, responseLength);
            incompleteBox(int(response.size()), responseLength);
            continue;
        }
        traceRefusal(check.reason);
        switch (check.problem) {
        case ResponseCheck::Exception:
            exceptionBoxes(response, true);
            break;
        case ResponseCheck::WrongStation:
            stationBox();
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
        default:
            incompleteBox(int(response.size()), responseLength);
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
        ReadComm(port, header, kPrefixedHeaderLength, silentTimeout);
        const FrameCheck head = CheckPrefixedAnswer(request, header);

        if (head.isRefused() && head.problem == ResponseCheck::Exception) {
            traceRefusal(head.reason);
            exceptionBoxes(header, false);
        } else if (header.size() < kPrefixedHeaderLength) {
            traceShort(header, kPrefixedHeaderLength);
            incompleteBox(int(header.size()), kPrefixedHeaderLength);
        } else if (head.isRefused() && head.problem == ResponseCheck::WrongStation) {
            traceRefusal(head.reason);
            stationBox();
        } else if (head.isRefused()) {
            // More than the reply buffer holds: the frame is not to be
            // trusted, and reading on would only take in its junk.
            traceRefusal(head.reason);
            continue;
        } else {
            response = header;
            responseCount = kPrefixedHeaderLength;
            headerGood = true;
            const int dataLength = head.more - 2;
            if (dataLength > 0) {
                QByteArray data;
                const int dataCount = ReadComm(port, data, dataLength, silentTimeout);
                if (dataCount == dataLength) {
                    response += data;
                    responseCount += dataLength;
                } else {
                    headerGood = false;
                    traceShort(header + data, kPrefixedHeaderLength + dataLength + 2);
                    diagnostic(
                        kReceiveTitle,
                        QStringLiteral("TimeOut!! No Response Data. nWord = %1").arg(dataCount));
                }
            }
        }

        // Two more bytes, the CRC, on every path: after a refused head the
        // device's answer is read out all the same.
        QByteArray crcBytes;
        const int crcCount = ReadComm(port, crcBytes, 2, silentTimeout);
        if (crcCount < 2) {
            if (headerGood)
                traceShort(response + crcBytes, responseCount + 2);
            diagnostic(kReceiveTitle,
                       QStringLiteral("TimeOut!! No Response Data. nWord = %1").arg(crcCount));
            continue;
        }
        response += crcBytes;
        const quint16 computed = DeviceCRC(response, responseCount);
        const quint16 stored = StoredCRC(response, responseCount);
        if (computed != stored) {
            if (headerGood)
                traceRefusal(CheckPrefixedAnswer(request, response).reason);
            QString text =
                QStringLiteral("CRC is Error.CRC1=%1,CRC2=%2str=").arg(computed).arg(stored);
            for (int i = 0; i < responseCount; ++i)
                text += QLatin1Char(',') + QString::number(byteAt(response, i), 16).toUpper();
            // Not waited for: an unattended logger must keep logging alarms
            // while nobody is there to close the box.
            MsgBoxNonBlocking(text, BoxIcon::Critical, kReceiveTitle);
            continue;
        }
        if (headerGood && CheckPrefixedAnswer(request, response).isWhole())
            return true;
    }
}

} // namespace quillet
