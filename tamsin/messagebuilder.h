#pragma once

// A record's message as handed out: its lines joined, and NUL bytes (which
// would end a C text) shown as a visible symbol.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tamsin {

// What a NUL byte is handed out as: a text handed out ends at its first NUL,
// so a run of them shows as this one visible symbol (U+2400) instead.
inline constexpr std::string_view kNulSymbol = "\xE2\x90\x80";

// Replaces every run of NUL bytes in text with kNulSymbol.
void ShowNuls(std::string *text);

// AssembleMessage followed by ShowNuls, fed the record's bytes from
// messageBegin on in pieces of any size, so a record of any length is
// assembled in its own size without being held twice.
class MessageBuilder
{
public:
    explicit MessageBuilder(std::string *out);
    void Feed(const char *data, size_t size);
    // A hole of the file: size NUL bytes that are never read.
    void FeedNuls(uint64_t size);
    void Finish();

private:
    std::string *m_out;
    bool m_pendingCr = false;
    bool m_lineEnded = false;
    bool m_lineStart = false;
    bool m_inNuls = false;
};

} // namespace tamsin
