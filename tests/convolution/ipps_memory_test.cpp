// Aligned allocation of sample arrays.
#include "convolution/ipps.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>

namespace {

bool aligned_64(const void* p)
{
    return reinterpret_cast<std::uintptr_t>(p) % 64 == 0;
}

TEST(IppsMemory, BlocksStartOn64BytesHoldTheirCountAndNonPositiveCountsGiveNull)
{
    for (int count : {1, 3, 17, 65537}) {
        SCOPED_TRACE(count);
        Ipp8u* bytes = ippsMalloc_8u(count);
        Ipp32f* floats = ippsMalloc_32f(count);
        Ipp64f* doubles = ippsMalloc_64f(count);
        ASSERT_TRUE(bytes && floats && doubles);
        EXPECT_TRUE(aligned_64(bytes) && aligned_64(floats) && aligned_64(doubles));
        // Writing the last element proves the size (the sanitizer build catches a short block).
        std::memset(bytes, 1, static_cast<std::size_t>(count));
        floats[count - 1] = 1.0f;
        doubles[count - 1] = 1.0;
        ippsFree(bytes);
        ippsFree(floats);
        ippsFree(doubles);
    }
    for (int count : {0, -1, INT_MIN}) {
        EXPECT_EQ(ippsMalloc_8u(count), nullptr) << count;
        EXPECT_EQ(ippsMalloc_32f(count), nullptr) << count;
        EXPECT_EQ(ippsMalloc_64f(count), nullptr) << count;
    }
    ippsFree(nullptr);
}

} // namespace
