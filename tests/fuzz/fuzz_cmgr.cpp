// The +CMGR reply parser and its completeness test fed arbitrary bytes: each
// input gives a message or a failure, and a failure leaves no half-filled
// number or text behind.
#include "atreply.h"
#include "gsmcodemap.h"
#include "hostservices.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace quillet;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const CMGRTokens tokens = [] {
        SetMsgBoxHandler([](const BoxRequest &) { return BoxAnswer::Ok; });
        if (!LoadGSMCodeMap(QStringLiteral(QUILLET_GSMCODEMAP_SOURCE)))
            std::abort();
        return CMGRTokens::fromCodeMap();
    }();
    const QByteArray raw(reinterpret_cast<const char *>(data), qsizetype(size));

    QString phone, sms, status;
    QDateTime date;
    if (ParseCMGRReply(raw, tokens, phone, date, sms, status)) {
        if (status != u"UNREAD" && status != u"READ" && status != u"UNSENT" && status != u"SENT")
            std::abort();
        if (!date.isValid())
            std::abort();
    } else if (!phone.isEmpty() || !sms.isEmpty()) {
        std::abort();
    }

    QString text;
    QByteArray unmapped;
    GSMToText(raw, text, unmapped);
    IsCMGRReplyComplete(text);
    IsEmptySlotReply(text);
    IsErrorReply(text);
    return 0;
}
