// Aligned allocation of sample arrays.
#include "convolution/ipps.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>

namespace {

TEST(IppsMemory, BlocksStartOn64BytesHoldTheirCountAndNonPositiveCountsGiveNull)
{
    for (int count : {1, 3, 17, 65537}) {
        Ipp8u* bytes = ippsMalloc_8u(count);
        Ipp32f* floats = ippsMalloc_32f(count);
        Ipp64f* doubles = ippsMalloc_64f(count);
        ASSERT_TRUE(bytes && floats && doubles);
        for (void* p : {static_cast<void*>(bytes), static_cast<void*>(floats), static_cast<void*>(doubles)})
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 64, 0u) << count;
        // Writing the last element proves the size (the sanitizer build catches a short block).
        std::memset(bytes, 1, static_cast<std::size_t>(count));
        floats[count - 1] = 1.0f;
        doubles[count - 1] = 1.0;
        ippsFree(bytes);
        ippsFree(floats);
        ippsFree(doubles);
    }
    for (int count : {0, -1, INT_MIN})
        EXPECT_TRUE(!ippsMalloc_8u(count) && !ippsMalloc_32f(count) && !ippsMalloc_64f(count)) << count;
    ippsFree(nullptr);
}

} // namespace
