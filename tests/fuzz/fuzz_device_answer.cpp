// What the driver makes of a device answer, fed arbitrary bytes: the checks
// of a fixed-length answer, the announced data length, the modem text carried
// by a reply poll, and the readers that look at that text. Each answer gives
// a verdict; nothing reads outside the bytes it was given.
#include "atreply.h"
#include "crc16.h"
#include "deviceprotocol.h"
#include "gsmcodemapfile.h"
#include "hostservices.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace quillet;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const GSMCodeMap map = [] {
        SetMsgBoxHandler([](const BoxRequest &) { return BoxAnswer::Ok; });
        GSMCodeMap loaded;
        if (!LoadGSMCodeMap(loaded, QStringLiteral(QUILLET_GSMCODEMAP_SOURCE)))
            std::abort();
        return loaded;
    }();
    if (size < 1)
        return 0;
    // The first byte picks the length the caller expects; the rest is the answer.
    const int expected = data[0];
    const QByteArray answer(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    for (const QByteArray &request : {DeviceTypeRequest(), ProductSNRequest(), LinkQueryRequest(),
                                      ATPassthroughRequest("AT\r")}) {
        const ResponseCheck check = CheckFixedResponse(request, answer, expected);
        if (check == ResponseCheck::Ok && answer.size() < expected)
            std::abort();
        // The check as the answer arrives: whole only for what the complete
        // check passes, more only while bytes are missing, a refusal always
        // with a reason.
        const FrameCheck growing = CheckFixedAnswer(request, answer, expected);
        if (growing.isWhole() != (check == ResponseCheck::Ok && expected >= 4))
            std::abort();
        if (growing.verdict == FrameCheck::Verdict::More &&
            (growing.more <= 0 || answer.size() + growing.more > qMax(expected, 5)))
            std::abort();
        if (growing.isRefused() && growing.reason.isEmpty())
            std::abort();
    }
    const FrameCheck prefixed = CheckPrefixedAnswer(ReadATReplyRequest(), answer);
    if (prefixed.isWhole() &&
        (prefixed.length > answer.size() || prefixed.length > 5 + kMaxReplyData + 2 ||
         DeviceCRC(answer, prefixed.length - 2) != StoredCRC(answer, prefixed.length - 2)))
        std::abort();
    if (prefixed.verdict == FrameCheck::Verdict::More && prefixed.more <= 0)
        std::abort();
    DeviceTypeFromResponse(answer);
    ProductSNFromResponse(answer);

    const int announced = AnnouncedDataLength(answer);
    if (announced < 0 || announced > 0xFFFF)
        std::abort();
    const QByteArray modem = ATReplyData(answer, 5 + announced);
    if (!modem.isEmpty() && (modem.size() != announced || answer.size() < 5 + announced))
        std::abort();
    const QByteArray any = ATReplyData(answer, expected);
    if (any.size() > answer.size())
        std::abort();

    QString text;
    QByteArray unmapped;
    GSMToText(map, modem.isEmpty() ? answer : modem, text, unmapped);
    IsErrorReply(text);
    IsCMGRReplyComplete(text, map);
    IsEmptySlotReply(text);
    qint16 used = 0, total = 0;
    const bool counted = ParseCPMSQueryReply(text, used, total);
    if (counted && (used < 0 || total < 0))
        std::abort();
    // A line whole before its result is one the parser reads.
    if (HasWholeCPMSLine(text) && !counted)
        std::abort();
    CountSubString(text, QStringLiteral("\r\n"));
    return 0;
}
