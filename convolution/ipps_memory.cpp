// Aligned allocation for sample arrays.
#include "convolution/ipps.h"

#include <cstddef>
#include <cstdlib>

namespace corvella {
namespace {

// A cache line, which also covers every vector width the code paths use.
constexpr std::size_t ipps_alignment = 64;

void* aligned_block(int count, std::size_t element_size)
{
    if (count <= 0) return nullptr;
    void* block = nullptr;
    if (posix_memalign(&block, ipps_alignment, static_cast<std::size_t>(count) * element_size) != 0)
        return nullptr;
    return block;
}

} // namespace
} // namespace corvella

Ipp8u* ippsMalloc_8u(int len)
{
    return static_cast<Ipp8u*>(corvella::aligned_block(len, sizeof(Ipp8u)));
}

Ipp32f* ippsMalloc_32f(int len)
{
    return static_cast<Ipp32f*>(corvella::aligned_block(len, sizeof(Ipp32f)));
}

Ipp64f* ippsMalloc_64f(int len)
{
    return static_cast<Ipp64f*>(corvella::aligned_block(len, sizeof(Ipp64f)));
}

void ippsFree(void* ptr)
{
    std::free(ptr);
}
