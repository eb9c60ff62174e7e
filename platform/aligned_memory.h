#pragma once

// Aligned blocks from the system allocator, released with std::free. Impulse-response channels
// come from here because the resampler replaces channels and frees the old ones with std::free.

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace corvella {

struct FreeDeleter {
    void operator()(void* block) const { std::free(block); }
};

template <typename T> using AlignedBlock = std::unique_ptr<T, FreeDeleter>;

// At least one element, aligned to `alignment` bytes, cleared to zero bytes when asked; null on
// exhaustion.
template <typename T> T* aligned_new(std::size_t count, bool cleared, std::size_t alignment = 32)
{
    std::size_t const bytes = std::max<std::size_t>(count, 1) * sizeof(T);
    void* block = nullptr;
    if (posix_memalign(&block, alignment, bytes) != 0) return nullptr;
    if (cleared) std::memset(block, 0, bytes);
    return static_cast<T*>(block);
}

} // namespace corvella
