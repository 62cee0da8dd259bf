// What the driver makes of a device answer, fed arbitrary bytes: the checks
// of a fixed-length answer, the announced data length, the modem text carried
// by a reply poll, and the readers that look at that text. Each answer gives
// a verdict; nothing reads outside the bytes it was given.
#include "atreply.h"
#include "deviceprotocol.h"
#include "gsmcodemap.h"
#include "hostservices.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace quillet;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool loaded = [] {
        SetMsgBoxHandler([](const BoxRequest &) { return BoxAnswer::Ok; });
        return LoadGSMCodeMap(QStringLiteral(QUILLET_GSMCODEMAP_SOURCE));
    }();
    if (!loaded)
        std::abort();
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
    }
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
    GSMToText(modem.isEmpty() ? answer : modem, text, unmapped);
    IsErrorReply(text);
    IsCMGRReplyComplete(text);
    IsEmptySlotReply(text);
    qint16 used = 0, total = 0;
    if (ParseCPMSQueryReply(text, used, total) && (used < 0 || total < 0))
        std::abort();
    CountSubString(text, QStringLiteral("\r\n"));
    return 0;
}
