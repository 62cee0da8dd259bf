// The +CMGR reply readers and their completeness tests fed arbitrary bytes:
// each input gives a message or a failure, and a failure leaves no
// half-filled number or text behind.
#include "atreply.h"
#include "gsmcodemapfile.h"
#include "hostservices.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace quillet;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const CMGRTokens tokens = [] {
        SetMsgBoxHandler([](const BoxRequest &) { return BoxAnswer::Ok; });
        GSMCodeMap map;
        if (!LoadGSMCodeMap(map, QStringLiteral(QUILLET_GSMCODEMAP_SOURCE)))
            std::abort();
        return CMGRTokens::fromCodeMap(map);
    }();
    const QByteArray raw(reinterpret_cast<const char *>(data), qsizetype(size));

    QString phone, sms, status;
    QDateTime date;
    if (ParseCMGRReply(raw, tokens, phone, date, sms, status)) {
        if (status != u"UNREAD" && status != u"READ" && status != u"UNSENT" && status != u"SENT" &&
            status != u"REPORT")
            std::abort();
        if (!date.isValid())
            std::abort();
    } else if (!phone.isEmpty() || !sms.isEmpty()) {
        std::abort();
    }

    // The reader behind it: a message that holds together, or a failure
    // that leaves no text; a part names a part within its count.
    SIMMessage m;
    const CMGRReply read = ReadCMGRTextReply(raw, tokens, m);
    if ((read.kind == CMGRRead::Message) != (ParseCMGRReply(raw, tokens, phone, date, sms, status)))
        std::abort();
    if (read.kind != CMGRRead::Message && !m.text.isEmpty())
        std::abort();
    const Concatenation &c = m.concatenation;
    if (c.isPart() && (c.part < 1 || c.part > c.parts))
        std::abort();

    QString text;
    QByteArray unmapped;
    GSMToText(tokens.codeMap, raw, text, unmapped);
    // A reply complete by its length has its final result.
    if (IsCMGRReplyComplete(text, tokens.codeMap) && !IsCMGRReplyFinished(text))
        std::abort();
    ReplyCarriesEcho(text);
    IsEmptySlotReply(text);
    IsErrorReply(text);
    return 0;
}
