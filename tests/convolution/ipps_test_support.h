#pragma once

// Shared by the vector-operation tests: random data and a fixture run once per code path.
#include "convolution/ipps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace corvella::test {

inline std::vector<float> random_floats(int count, unsigned seed)
{
    std::mt19937 engine(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> values(static_cast<std::size_t>(std::max(count, 0)));
    for (float& v : values)
        v = dist(engine);
    return values;
}

inline std::vector<IppsCodePath> available_code_paths()
{
    std::vector<IppsCodePath> paths;
    for (auto p : {IppsCodePath::portable, IppsCodePath::sse2, IppsCodePath::avx2_fma})
        if (static_cast<int>(p) <= static_cast<int>(ipps_best_code_path())) paths.push_back(p);
    return paths;
}

class CodePathTest : public testing::TestWithParam<IppsCodePath> {
protected:
    void SetUp() override { ASSERT_TRUE(ipps_set_code_path(GetParam())); }
    void TearDown() override { ipps_set_code_path(ipps_best_code_path()); }
};

inline std::string code_path_name(testing::TestParamInfo<IppsCodePath> const& info)
{
    return ipps_code_path_name(info.param);
}

} // namespace corvella::test

#define CORVELLA_FOR_EACH_CODE_PATH(suite)                                                                   \
    INSTANTIATE_TEST_SUITE_P(CodePaths, suite, testing::ValuesIn(corvella::test::available_code_paths()),    \
                             corvella::test::code_path_name)
