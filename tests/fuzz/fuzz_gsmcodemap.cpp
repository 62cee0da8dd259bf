// Code-map lines and GSM/UCS2 conversions on arbitrary input: a result,
// never a crash. UCS2 hex must give back the text it was made from.
#include "gsmcodemap.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace quillet;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = QString::fromUtf8(bytes);

    GSMCodeMap map;
    for (const QString &line : text.split(QLatin1Char('\n')))
        map.applyLine(line);

    QString decoded;
    QByteArray badBytes;
    GSMToText(map, bytes, decoded, badBytes);
    QByteArray encoded;
    QString missing;
    TextToGSM(map, text, encoded, missing);
    if (missing.size() > text.size())
        std::abort();
    QList<QByteArray> parts;
    int count = 0;
    SplitGSMText(map, bytes, text.left(1), parts, count);
    if (count != parts.size())
        std::abort();

    if (UCS2HexToText(TextToUCS2Hex(text)) != text)
        std::abort();
    UCS2HexToText(text);
    return 0;
}
