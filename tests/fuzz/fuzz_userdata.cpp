// The user data readers fed arbitrary bytes: the coding scheme octet (the
// first byte), the user data header and septet unpacking (the rest, checked
// against the simulator's packer), and the +CMGR reader given those octets as
// the hexadecimal body of a message with a header. Each gives a value or a
// failure; what it gives holds together.
#include "atreply.h"
#include "gsmcodemapfile.h"
#include "gsmtext.h"
#include "hostservices.h"
#include "smsdata.h"

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
    if (size < 1)
        return 0;
    const quint8 dcs = data[0];
    const QByteArray ud(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    const CodingScheme scheme = DecodeCodingScheme(dcs);
    if (scheme.messageClass < -1 || scheme.messageClass > 3)
        std::abort();

    UserDataHeader header;
    if (ParseUserDataHeader(ud, header)) {
        const Concatenation &c = header.concatenation;
        if (header.length < 1 || header.length > ud.size())
            std::abort();
        if (c.isPart() &&
            (c.part < 1 || c.part > c.parts || (!c.wideReference && c.reference > 255)))
            std::abort();
    } else if (header.length != 0 || header.concatenation.isPart()) {
        std::abort();
    }

    // Unpacked, and packed again by the simulator's own packer, the septets
    // give back every bit they came from.
    const int most = int(ud.size() * 8 / 7);
    for (int count : {most, most - 1}) {
        QByteArray septets;
        if (!UnpackSeptets(ud, count, septets))
            continue;
        if (septets.size() != count)
            std::abort();
        const QByteArray again = devsim::PackSeptets(septets);
        if (again.size() != ud.size())
            std::abort();
        if (again.isEmpty())
            continue;
        // The last octet's spare high bits carry nothing.
        const int used = int(count * 7 - (ud.size() - 1) * 8);
        const int mask = (1 << used) - 1;
        if (again.chopped(1) != ud.chopped(1) || ((again.back() ^ ud.back()) & mask) != 0)
            std::abort();
    }

    // The same octets as the body of a message with a header.
    const QByteArray reply =
        "\r\n+CMGR: \"REC UNREAD\",\"+85291234567\",,\"24/01/02,10:20:30+32\",145,68,0," +
        QByteArray::number(dcs) + ",\"+85290000000\",145," + QByteArray::number(most) + "\r\n" +
        ud.toHex().toUpper() + "\r\n\r\nOK\r\n";
    SIMMessage m;
    const CMGRReply read = ReadCMGRTextReply(reply, tokens, m);
    if (read.kind == CMGRRead::Message) {
        if (m.status != u"UNREAD" || m.phoneNo != u"+85291234567" || !m.date.isValid())
            std::abort();
        if (scheme.alphabet == SMSAlphabet::EightBit && !m.text.startsWith(u"[8-bit] "))
            std::abort();
    } else if (read.kind != CMGRRead::Unreadable || !m.text.isEmpty()) {
        std::abort();
    }
    return 0;
}
