#include "groupcolumn.h"

namespace tamsin {

void GroupColumn::Widen(uint32_t id)
{
    size_t width = m_width;
    while (width < 4 && id >> (8 * width) != 0)
        width *= 2;
    const size_t count = Size();
    std::vector<uint8_t, LargeAllocator<uint8_t>> wider;
    wider.reserve(m_bytes.capacity() / m_width * width);
    wider.resize(count * width);
    for (size_t i = 0; i < count; ++i) {
        const uint32_t v = Get(i);
        std::memcpy(wider.data() + i * width, &v, width); // little-endian: the low bytes
    }
    m_bytes.swap(wider);
    m_width = width;
}

} // namespace tamsin
