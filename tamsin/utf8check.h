#pragma once

// Whether a file's bytes are UTF-8 (the logger's files) or a legacy code
// page (histories written on Windows).

#include <cstddef>
#include <cstdint>

namespace tamsin {

// Whether bytes are well-formed UTF-8, fed in pieces that may split a
// character anywhere.
class Utf8Check
{
public:
    void Feed(const char *data, size_t size);
    // No malformed sequence so far (a character may still be open).
    bool Good() const { return !m_bad; }
    // Well-formed to the end, no character left open.
    bool Complete() const { return !m_bad && m_need == 0; }
    // The check of the bytes that follow those checked here, made apart.
    void Then(const Utf8Check &next);

private:
    bool m_bad = false;
    uint8_t m_need = 0;   // continuation bytes still due
    uint8_t m_low = 0x80; // the range of the next one
    uint8_t m_high = 0xBF;
};

} // namespace tamsin
