// The plug-in parts that need no host: the parameter hand-over from the audio thread, the base64
// text the bank travels in, and where a module finds its bundle's resources.

#include "plugin/bundle_location.h"
#include "plugin/parameter_mirror.h"
#include "plugin/plugin_state.h"

#include "program/parameter_table.h"
#include "support/allocation_counter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <utility>
#include <vector>

namespace corvella::plugin {
namespace {

using namespace std::string_literals;
using Changes = std::vector<std::pair<std::uint32_t, float>>;

Changes drain_all(ParameterMirror& mirror)
{
    Changes changes;
    mirror.drain([&](std::uint32_t index, float value) { changes.emplace_back(index, value); });
    return changes;
}

// The audio thread sets values on seven indices while the control thread refreshes each with the
// stale value it read before and drains: the stale value is never applied and no index loses its
// last host value.
TEST(ParameterMirror, NoHostValueIsLostOrReplacedByARefreshWhileTheControlThreadDrains)
{
    ParameterMirror mirror;
    constexpr int rounds = 200000;
    std::vector<float> last(parameter_count, -1.0f);
    std::atomic<bool> finished{false}, stale_applied{false};
    std::thread audio([&] {
        for (int r = 1; r <= rounds; ++r)
            mirror.set_from_host(static_cast<std::uint32_t>(r % 7 + 1), static_cast<float>(r) / rounds);
        finished = true;
    });
    auto take = [&](std::uint32_t index, float value) {
        if (value == -1.0f) stale_applied = true;
        last[index] = value;
    };
    for (std::uint32_t index = 1; !finished; index = index % 7 + 1) {
        mirror.refresh(index, -1.0f);
        mirror.drain(take);
    }
    audio.join();
    mirror.drain(take);
    EXPECT_FALSE(stale_applied.load());
    for (int r = rounds - 6; r <= rounds; ++r)
        EXPECT_EQ(last[static_cast<std::size_t>(r % 7 + 1)], static_cast<float>(r) / rounds);
}

// Index 0 is the bypass; 1..366 are the table's rows in order.
TEST(ParameterMirror, StartsAtTheTableDefaultsAndIgnoresInvalidValues)
{
    ParameterMirror mirror;
    ASSERT_EQ(parameter_count, 367u);
    EXPECT_EQ(mirror.value(bypass_parameter_index), 0.0f);
    for (std::uint32_t i = 1; i < parameter_count; ++i)
        EXPECT_EQ(mirror.value(i), parameter_at(static_cast<int>(i) - 1)->default_value) << i;
    EXPECT_EQ(row_of_parameter(0), nullptr);
    EXPECT_STREQ(row_of_parameter(1)->key, "master_gain");
    EXPECT_STREQ(row_of_parameter(366)->key, "ir2_stacked_head_permit_mod");
    EXPECT_EQ(row_of_parameter(367), nullptr);

    // Unchanged, non-finite and out-of-range values are no changes.
    mirror.set_from_host(1, mirror.value(1));
    mirror.set_from_host(5, NAN);
    mirror.set_from_host(6, INFINITY);
    mirror.set_from_host(parameter_count, 0.5f);
    EXPECT_FALSE(mirror.has_pending());
    EXPECT_TRUE(drain_all(mirror).empty());
    EXPECT_EQ(mirror.value(parameter_count), 0.0f);
}

// The audio thread's side (set_from_host, value, has_pending) never allocates.
TEST(ParameterMirror, HandsOverChangedValuesOnceInIndexOrderAndRefreshKeepsWaitingOnes)
{
    ParameterMirror mirror;
    {
        test::AllocationCounter counter;
        mirror.set_from_host(300, 0.25f);
        mirror.set_from_host(2, 0.5f);
        mirror.set_from_host(64, 0.75f);
        mirror.set_from_host(2, 0.125f); // the latest value wins
        EXPECT_EQ(mirror.value(300), 0.25f);
        EXPECT_TRUE(mirror.has_pending());
        EXPECT_EQ(counter.count(), 0);
    }
    EXPECT_EQ(drain_all(mirror), (Changes{{2, 0.125f}, {64, 0.75f}, {300, 0.25f}}));
    EXPECT_FALSE(mirror.has_pending());
    EXPECT_TRUE(drain_all(mirror).empty());

    mirror.set_from_host(10, 0.9f);
    mirror.refresh(10, 0.1f); // a waiting host value is not overwritten
    mirror.refresh(11, 0.2f);
    EXPECT_EQ(mirror.value(10), 0.9f);
    EXPECT_EQ(mirror.value(11), 0.2f);
    EXPECT_EQ(drain_all(mirror), (Changes{{10, 0.9f}}));
    mirror.set_from_host(12, 0.3f);
    mirror.discard_pending();
    EXPECT_TRUE(drain_all(mirror).empty());
}

TEST(StateBase64, MatchesTheStandardVectorsRoundTripsEveryByteAndRefusesDamagedText)
{
    // RFC 4648, section 10, and bytes with the high bit set.
    std::pair<std::string, std::string> const vectors[] = {{"", ""},
                                                           {"f", "Zg=="},
                                                           {"fo", "Zm8="},
                                                           {"foo", "Zm9v"},
                                                           {"foob", "Zm9vYg=="},
                                                           {"fooba", "Zm9vYmE="},
                                                           {"foobar", "Zm9vYmFy"},
                                                           {"\xff\xfe\x00\x80"s, "//4AgA=="}};
    for (auto const& [bytes, text] : vectors) {
        EXPECT_EQ(encode_base64(reinterpret_cast<std::uint8_t const*>(bytes.data()), bytes.size()), text);
        auto const decoded = decode_base64(text);
        ASSERT_TRUE(decoded.has_value()) << text;
        EXPECT_EQ(std::string(decoded->begin(), decoded->end()), bytes);
    }
    std::vector<std::uint8_t> bytes(1000);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 37 + i / 256);
    EXPECT_EQ(decode_base64(encode_base64(bytes.data(), bytes.size())), bytes);
    // Truncated, a stray character, a space, padding in the middle, three padding characters, bits
    // set below the last byte, a trailing line break.
    for (char const* bad : {"Zm9vYmF", "Zm9v*mFy", "Zm9v YmF", "Zg==Zm8=", "Z===", "Zh==", "Zm9vYmFy\n"})
        EXPECT_FALSE(decode_base64(bad).has_value()) << bad;
}

TEST(BundleLocation, ResourcesFolderOfEachFormatAndTheModuleThisCodeIsIn)
{
    std::pair<char const*, char const*> const cases[] = {
        {"/home/u/.lv2/Corvella.lv2/Corvella_dsp.so", "/home/u/.lv2/Corvella.lv2/resources"},
        {"/home/u/.vst3/Corvella.vst3/Contents/x86_64-linux/Corvella.so",
         "/home/u/.vst3/Corvella.vst3/Contents/Resources"},
        {"/home/u/.vst3/Corvella.vst3/Contents/aarch64-linux/Corvella.so",
         "/home/u/.vst3/Corvella.vst3/Contents/Resources"},
        {"/home/u/.clap/Corvella/Corvella.clap", "/home/u/.clap/Corvella/resources"},
        // An architecture-like folder outside a Contents folder is no VST3 bundle.
        {"/opt/x86_64-linux/Corvella.so", "/opt/x86_64-linux/resources"}};
    for (auto const& [module, resources] : cases)
        EXPECT_EQ(bundle_resources_folder_for(module), resources);
    // Linked into the test program, the module is the test program itself.
    EXPECT_EQ(module_path(), std::filesystem::canonical("/proc/self/exe"));
}

} // namespace
} // namespace corvella::plugin
