#include "bigbuffer.h"

#include <cerrno>
#include <new>
#include <sys/mman.h>
#include <unistd.h>

namespace tamsin {

bool ReadExactly(int fd, char *data, size_t size, uint64_t offset)
{
    while (size > 0) {
        const ssize_t n = ::pread(fd, data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

// Large arrays are mapped on their own, so freeing one gives its memory back
// at once: from the heap (and a second thread's arena above all) it would
// stay resident.
void *AllocateLarge(size_t bytes)
{
    if (bytes < kHugePage)
        return ::operator new(bytes);
    const size_t rounded = (bytes + kHugePage - 1) & ~(kHugePage - 1);
    const size_t mapped = rounded + kHugePage;
    void *map = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED)
        throw std::bad_alloc();
    // Aligned to a huge page, the rest of the mapping let go.
    const uintptr_t start = reinterpret_cast<uintptr_t>(map);
    const uintptr_t aligned = (start + kHugePage - 1) & ~uintptr_t(kHugePage - 1);
    if (aligned > start)
        munmap(map, aligned - start);
    const size_t tail = mapped - (aligned - start) - rounded;
    if (tail > 0)
        munmap(reinterpret_cast<void *>(aligned + rounded), tail);
    void *p = reinterpret_cast<void *>(aligned);
    madvise(p, rounded, MADV_HUGEPAGE);
    return p;
}

void FreeLarge(void *p, size_t bytes)
{
    if (bytes < kHugePage)
        ::operator delete(p);
    else
        munmap(p, (bytes + kHugePage - 1) & ~(kHugePage - 1));
}
} // namespace tamsin
