// The device exchanges fed arbitrary answers through a scripted transport:
// they must end with a result, keep their counts inside the buffers, and
// never accept an answer whose CRC does not match.
#include "crc16.h"
#include "deviceprotocol.h"
#include "faketransport.h"
#include "hostservices.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace quillet;
using quillet::test::FakeTransport;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool quiet = [] {
        SetMsgBoxHandler([](const BoxRequest &) { return BoxAnswer::Ok; });
        return true;
    }();
    (void)quiet;
    if (size < 1)
        return 0;
    const QByteArray answer(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    FakeTransport *fake = nullptr;
    auto port = FakeTransport::makePort(&fake);
    // The first byte splits the answer into two pieces with a pause between.
    const qsizetype cut = qMin<qsizetype>(data[0] & 0x3F, answer.size());
    const qint64 pause = (data[0] & 0x40) ? 1500 : 100;
    fake->addReply({{0, answer.left(cut)}, {pause, answer.mid(cut)}});
    fake->addReply(answer);

    QByteArray request = ReadATReplyRequest();
    QByteArray response;
    int count = -1;
    if (SendDeviceQuery(*port, request, 3, response, count, 1, 1)) {
        if (count < 5 || count > 5 + kMaxReplyData || response.size() != count + 2 ||
            DeviceCRC(response, count) != StoredCRC(response, count) ||
            AnnouncedDataLength(response) != count - 5)
            std::abort();
        ATReplyData(response, count);
    }

    fake->addReply(answer);
    QByteArray fixedRequest = ProductSNRequest();
    if (SendDeviceCommand(*port, fixedRequest, 6, response, 13, 1, 0)) {
        if (response.size() < 13 || DeviceCRC(response, 11) != StoredCRC(response, 11))
            std::abort();
        ProductSNFromResponse(response);
        DeviceTypeFromResponse(response);
    }
    return 0;
}
