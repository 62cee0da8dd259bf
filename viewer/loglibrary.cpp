#include "loglibrary.h"

#include <QStringDecoder>
#include <cstring>

namespace orvane {

namespace {

// How the library hands out a run of NUL bytes (U+2400): UTF-8 whatever the
// file's own code page, so it is picked out before decoding.
constexpr QByteArrayView kNulSymbol("\xE2\x90\x80");

} // namespace

int32_t LogLibrary::Open(const char *path)
{
    const int32_t total = LogOpen(path);
    m_legacy = total >= 0 && LogIsUtf8() == 0;
    return total;
}

int32_t LogLibrary::Refresh(int32_t *selected, int32_t *firstChanged)
{
    const int32_t total = LogRefresh(selected, firstChanged);
    if (total >= 0)
        m_legacy = LogIsUtf8() == 0;
    return total;
}

bool LogLibrary::SetLegacyCodePage(const QByteArray &name)
{
    if (name.isEmpty() || !QStringDecoder(name.constData()).isValid())
        return false;
    m_codePage = name;
    return true;
}

QByteArray LogLibrary::CodePageFromEnvironment()
{
    const QByteArray name = qgetenv("ORVANE_LEGACY_CODEPAGE").trimmed();
    if (name.isEmpty() || !QStringDecoder(name.constData()).isValid())
        return {};
    return name;
}

QString LogLibrary::Legacy(QByteArrayView bytes) const
{
    QStringDecoder legacy(m_codePage.constData(), QStringConverter::Flag::Stateless);
    QString text = legacy.decode(bytes);
    if (!legacy.hasError())
        return text;
    // A history that went on in UTF-8 (the new logger appending to an old
    // file) mixes both: a text that is not the code page but is UTF-8 is
    // read as UTF-8.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    QString asUtf8 = utf8.decode(bytes);
    return utf8.hasError() ? text : asUtf8;
}

QString LogLibrary::Text(const char *bytes, qsizetype maxBytes) const
{
    if (!bytes)
        return {};
    qsizetype size = qsizetype(std::strlen(bytes));
    const bool cut = maxBytes >= 0 && size > maxBytes;
    if (cut) {
        size = maxBytes;
        // Not in the middle of a UTF-8 character.
        while (!m_legacy && size > 0 && (uchar(bytes[size]) & 0xC0) == 0x80)
            --size;
    }
    QString text;
    if (!m_legacy) {
        text = QString::fromUtf8(bytes, size);
    } else {
        QByteArrayView rest(bytes, size);
        for (;;) {
            const qsizetype nul = rest.indexOf(kNulSymbol);
            text += Legacy(nul < 0 ? rest : rest.first(nul));
            if (nul < 0)
                break;
            text += QChar(0x2400);
            rest = rest.sliced(nul + kNulSymbol.size());
        }
    }
    if (cut)
        text += QChar(0x2026);
    return text;
}

} // namespace orvane
