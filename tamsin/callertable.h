#pragma once

// Caller names to group ids while indexing.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace tamsin {

namespace callerbytes {

inline uint64_t Load8(const char *p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

inline uint64_t Mix(uint64_t h)
{
    h ^= h >> 32;
    h *= 0xD6E8FEB86659FD93ull;
    return h ^ (h >> 32);
}

inline uint64_t Rotate(uint64_t v, int by)
{
    return (v << by) | (v >> (64 - by));
}

// Every byte counts, a name's ends read as overlapping words, and the
// multiplies independent of each other: a caller is hashed once per line.
inline uint64_t HashBytes(const char *p, size_t n)
{
    constexpr uint64_t k1 = 0x9E3779B97F4A7C15ull;
    constexpr uint64_t k2 = 0xC2B2AE3D27D4EB4Full;
    uint64_t a = 0;
    uint64_t b = 0;
    if (n > 16) {
        a = n * k1;
        const char *end = p + n - 16;
        for (; p < end; p += 16) {
            a = Rotate((a ^ Load8(p)) * k1, 31);
            b = Rotate((b ^ Load8(p + 8)) * k2, 27);
        }
        a ^= Load8(end) * k2;
        b ^= Load8(end + 8) * k1;
    } else if (n >= 8) {
        a = Load8(p) * k1;
        b = (Load8(p + n - 8) ^ n) * k2;
    } else if (n >= 4) {
        uint32_t first, second;
        std::memcpy(&first, p, 4);
        std::memcpy(&second, p + n - 4, 4);
        a = (uint64_t(first) << 32 | second) * k1;
        b = n * k2;
    } else if (n > 0) {
        const auto byte = [p](size_t i) {
            return static_cast<uint64_t>(static_cast<uint8_t>(p[i]));
        };
        a = (byte(0) | byte(n / 2) << 8 | byte(n - 1) << 16) * k1;
        b = n * k2;
    }
    return Mix(a ^ Rotate(b, 29));
}

inline bool SameBytes(const char *a, const char *b, size_t n)
{
    if (n >= 8 && n <= 16)
        return Load8(a) == Load8(b) && Load8(a + n - 8) == Load8(b + n - 8);
    return std::memcmp(a, b, n) == 0;
}

// Caller name to group id while indexing: open addressing over the ids, the
// names themselves kept once in the index's name table. A general-purpose

} // namespace callerbytes

class CallerTable
{
public:
    // Takes over the names already there (ids from 1 on).
    explicit CallerTable(std::vector<std::string> *names) : m_names(names), m_slots(64)
    {
        for (uint32_t id = 1; id < names->size(); ++id) {
            m_slots[Free((*names)[id])] = {id, Tag((*names)[id])};
            if (++m_used * 2 > m_slots.size())
                Grow();
        }
    }

    uint32_t Id(std::string_view caller)
    {
        const uint64_t h = callerbytes::HashBytes(caller.data(), caller.size());
        const uint32_t tag = static_cast<uint32_t>(h >> 32);
        for (size_t i = h & (m_slots.size() - 1);; i = (i + 1) & (m_slots.size() - 1)) {
            const Slot slot = m_slots[i];
            if (slot.id == 0)
                return Add(caller, h, i);
            if (slot.tag == tag) {
                const std::string &name = (*m_names)[slot.id];
                if (name.size() == caller.size() &&
                    callerbytes::SameBytes(name.data(), caller.data(), caller.size()))
                    return slot.id;
            }
        }
    }

private:
    struct Slot
    {
        uint32_t id = 0; // 0 = free; names[0] is the empty group
        uint32_t tag = 0;
    };

    uint32_t Add(std::string_view caller, uint64_t h, size_t at)
    {
        const uint32_t id = static_cast<uint32_t>(m_names->size());
        m_names->emplace_back(caller);
        m_slots[at] = {id, static_cast<uint32_t>(h >> 32)};
        if (++m_used * 2 > m_slots.size())
            Grow();
        return id;
    }

    static uint32_t Tag(const std::string &name)
    {
        return static_cast<uint32_t>(callerbytes::HashBytes(name.data(), name.size()) >> 32);
    }

    // The free slot a name of an id not yet placed goes to.
    size_t Free(const std::string &name) const
    {
        size_t i = callerbytes::HashBytes(name.data(), name.size()) & (m_slots.size() - 1);
        while (m_slots[i].id != 0)
            i = (i + 1) & (m_slots.size() - 1);
        return i;
    }

    void Grow()
    {
        std::vector<Slot> old(m_slots.size() * 2);
        old.swap(m_slots);
        for (const Slot &slot : old) {
            if (slot.id != 0)
                m_slots[Free((*m_names)[slot.id])] = slot;
        }
    }

    std::vector<std::string> *m_names;
    std::vector<Slot> m_slots;
    size_t m_used = 0;
};

} // namespace tamsin
