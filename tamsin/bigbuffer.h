#pragma once

// Reading a file's bytes, and the memory the index's large arrays live in.

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

namespace tamsin {

// Arrays from this size on are mapped on their own, on huge pages.
inline constexpr size_t kHugePage = size_t(1) << 21;

// Reads exactly size bytes of fd at offset; false on an error or a file too
// short.
bool ReadExactly(int fd, char *data, size_t size, uint64_t offset);

// Storage for the index's large arrays: above 2 MiB it asks for huge pages,
// because faulting in millions of small pages costs more than indexing.
void *AllocateLarge(size_t bytes);
void FreeLarge(void *p, size_t bytes);

template <class T> struct LargeAllocator
{
    using value_type = T;
    LargeAllocator() = default;
    template <class U> LargeAllocator(const LargeAllocator<U> &) {}
    T *allocate(size_t n) { return static_cast<T *>(AllocateLarge(n * sizeof(T))); }
    void deallocate(T *p, size_t n) { FreeLarge(p, n * sizeof(T)); }
    // A resize leaves new elements uninitialised: every caller writes them
    // before reading, and zeroing millions of them first costs a pass.
    template <class U> void construct(U *p) noexcept { ::new (static_cast<void *>(p)) U; }
    template <class U, class... A> void construct(U *p, A &&...args)
    {
        ::new (static_cast<void *>(p)) U(std::forward<A>(args)...);
    }
    friend bool operator==(const LargeAllocator &, const LargeAllocator &) { return true; }
};

} // namespace tamsin
