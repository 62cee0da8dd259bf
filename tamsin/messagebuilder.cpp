#include "messagebuilder.h"

#include <cstring>

namespace tamsin {

void ShowNuls(std::string *text)
{
    if (!std::memchr(text->data(), 0, text->size()))
        return;
    std::string shown;
    shown.reserve(text->size() + 2);
    bool inNuls = false;
    for (char c : *text) {
        if (c != '\0') {
            shown.push_back(c);
            inNuls = false;
        } else if (!inNuls) {
            shown.append(kNulSymbol);
            inNuls = true;
        }
    }
    text->swap(shown);
}

MessageBuilder::MessageBuilder(std::string *out) : m_out(out)
{
    m_out->clear();
}

void MessageBuilder::Feed(const char *data, size_t size)
{
    const char *p = data;
    const char *end = data + size;
    while (p < end) {
        // Plain text in the middle of a line goes over as it is.
        if (!m_pendingCr && !m_lineEnded && !m_lineStart) {
            const char *q = p;
            while (q < end && *q != '\r' && *q != '\n' && *q != '\0')
                ++q;
            if (q > p) {
                m_out->append(p, static_cast<size_t>(q - p));
                m_inNuls = false;
                p = q;
                continue;
            }
        }
        const char c = *p++;
        if (m_pendingCr) {
            // A CR ends a line only before its LF; alone it is text.
            m_pendingCr = false;
            if (c != '\n') {
                m_out->push_back('\r');
                m_inNuls = false;
            }
        }
        if (m_lineEnded) {
            m_out->append("\r\n", 2);
            m_lineEnded = false;
            m_lineStart = true;
            m_inNuls = false;
        }
        if (c == '\n') {
            m_lineEnded = true;
            m_lineStart = false;
            continue;
        }
        if (m_lineStart) {
            m_lineStart = false;
            if (c == ' ')
                continue; // the space the logger puts before a further line
        }
        if (c == '\r') {
            m_pendingCr = true;
        } else if (c == '\0') {
            if (!m_inNuls)
                m_out->append(kNulSymbol);
            m_inNuls = true;
        } else {
            m_out->push_back(c);
            m_inNuls = false;
        }
    }
}

void MessageBuilder::FeedNuls(uint64_t size)
{
    if (size > 0)
        Feed("", 1);
}

void MessageBuilder::Finish()
{
    m_pendingCr = false;
    m_lineEnded = false;
}
} // namespace tamsin
