#pragma once

// The group of each record, in as few bytes as the file's callers need.

#include "bigbuffer.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace tamsin {

// Group ids, one per record, each in the fewest bytes the largest id so far
// needs: a file of a few dozen callers spends one byte per record on them,
// and the column widens once when the 256th (or 65,536th) name appears.
class GroupColumn
{
public:
    uint32_t Get(size_t i) const
    {
        const uint8_t *p = m_bytes.data() + i * m_width;
        if (m_width == 1)
            return *p;
        if (m_width == 2) {
            uint16_t v;
            std::memcpy(&v, p, 2);
            return v;
        }
        uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    // Get() for a column known to be W bytes wide: loops over every record
    // that pick the width once run several times faster.
    template <size_t W> uint32_t GetAs(size_t i) const
    {
        if constexpr (W == 1) {
            return m_bytes[i];
        } else {
            std::conditional_t<W == 2, uint16_t, uint32_t> v;
            std::memcpy(&v, m_bytes.data() + i * W, W);
            return v;
        }
    }
    void Push(uint32_t id)
    {
        if (m_width < 4 && id >> (8 * m_width) != 0)
            Widen(id);
        if (m_width == 1) {
            m_bytes.push_back(static_cast<uint8_t>(id));
            return;
        }
        uint8_t b[4];
        std::memcpy(b, &id, 4);
        m_bytes.insert(m_bytes.end(), b, b + m_width);
    }
    // Appends count ids, id(i) each, none with a bit that widest lacks: the
    // width is settled once for all of them.
    template <class Id> void Append(size_t count, uint32_t widest, Id &&id)
    {
        if (m_width < 4 && widest >> (8 * m_width) != 0)
            Widen(widest);
        const size_t at = m_bytes.size();
        m_bytes.resize(at + count * m_width);
        uint8_t *out = m_bytes.data() + at;
        if (m_width == 1) {
            for (size_t i = 0; i < count; ++i)
                out[i] = static_cast<uint8_t>(id(i));
        } else if (m_width == 2) {
            for (size_t i = 0; i < count; ++i) {
                const uint16_t v = static_cast<uint16_t>(id(i));
                std::memcpy(out + 2 * i, &v, 2);
            }
        } else {
            for (size_t i = 0; i < count; ++i) {
                const uint32_t v = id(i);
                std::memcpy(out + 4 * i, &v, 4);
            }
        }
    }
    size_t Size() const { return m_bytes.size() / m_width; }
    void Reserve(size_t n) { m_bytes.reserve(n * m_width); }
    void Resize(size_t n) { m_bytes.resize(n * m_width); }
    size_t Width() const { return m_width; }
    size_t CapacityBytes() const { return m_bytes.capacity(); }

private:
    void Widen(uint32_t id);

    std::vector<uint8_t, LargeAllocator<uint8_t>> m_bytes;
    size_t m_width = 1;
};

} // namespace tamsin
