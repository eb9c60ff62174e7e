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

TEST(IppsMemory, BlocksStartOn64BytesAndHoldTheirCount)
{
    for (int count : {1, 2, 3, 17, 1000, 65537}) {
        SCOPED_TRACE(count);
        Ipp8u* bytes = ippsMalloc_8u(count);
        Ipp32f* floats = ippsMalloc_32f(count);
        Ipp64f* doubles = ippsMalloc_64f(count);
        ASSERT_NE(bytes, nullptr);
        ASSERT_NE(floats, nullptr);
        ASSERT_NE(doubles, nullptr);
        EXPECT_TRUE(aligned_64(bytes));
        EXPECT_TRUE(aligned_64(floats));
        EXPECT_TRUE(aligned_64(doubles));
        // Writing every element proves the size (the sanitizer build catches a short block).
        std::memset(bytes, 1, static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            floats[i] = static_cast<float>(i);
            doubles[i] = static_cast<double>(i);
        }
        EXPECT_EQ(bytes[count - 1], 1);
        EXPECT_EQ(floats[count - 1], static_cast<float>(count - 1));
        EXPECT_EQ(doubles[count - 1], static_cast<double>(count - 1));
        ippsFree(bytes);
        ippsFree(floats);
        ippsFree(doubles);
    }
}

TEST(IppsMemory, NonPositiveCountGivesNull)
{
    for (int count : {0, -1, INT_MIN}) {
        EXPECT_EQ(ippsMalloc_8u(count), nullptr) << count;
        EXPECT_EQ(ippsMalloc_32f(count), nullptr) << count;
        EXPECT_EQ(ippsMalloc_64f(count), nullptr) << count;
    }
}

TEST(IppsMemory, FreeingNullDoesNothing)
{
    ippsFree(nullptr);
    Ipp32f* block = ippsMalloc_32f(4);
    ASSERT_NE(block, nullptr);
    ippsFree(block);
}

} // namespace
