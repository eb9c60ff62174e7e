// The parts of the plug-in that need no host: the parameter hand-over from the audio thread, the
// base64 text the bank travels in, and where a module finds its bundle's resources.

#include "plugin/bundle_location.h"
#include "plugin/parameter_mirror.h"
#include "plugin/plugin_state.h"

#include "program/parameter_table.h"
#include "support/allocation_counter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
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

TEST(ParameterMirror, StartsAtTheTableDefaults)
{
    ParameterMirror mirror;
    EXPECT_EQ(mirror.value(bypass_parameter_index), 0.0f);
    EXPECT_EQ(parameter_count, 367u);
    for (std::uint32_t i = 1; i < parameter_count; ++i)
        EXPECT_EQ(mirror.value(i), parameter_at(static_cast<int>(i) - 1)->default_value) << i;
    EXPECT_FALSE(mirror.has_pending());
    EXPECT_TRUE(drain_all(mirror).empty());
    EXPECT_EQ(row_of_parameter(0), nullptr);
    EXPECT_STREQ(row_of_parameter(1)->key, "master_gain");
    EXPECT_STREQ(row_of_parameter(366)->key, "ir2_stacked_head_permit_mod");
    EXPECT_EQ(row_of_parameter(367), nullptr);
}

TEST(ParameterMirror, HandsOverChangedValuesOnceInIndexOrder)
{
    ParameterMirror mirror;
    mirror.set_from_host(300, 0.25f);
    mirror.set_from_host(2, 0.5f);
    mirror.set_from_host(64, 0.75f);
    mirror.set_from_host(2, 0.125f); // the latest value wins
    EXPECT_TRUE(mirror.has_pending());
    EXPECT_EQ(drain_all(mirror), (Changes{{2, 0.125f}, {64, 0.75f}, {300, 0.25f}}));
    EXPECT_FALSE(mirror.has_pending());
    EXPECT_TRUE(drain_all(mirror).empty());
    EXPECT_EQ(mirror.value(64), 0.75f);
}

TEST(ParameterMirror, IgnoresUnchangedNonFiniteAndOutOfRangeValues)
{
    ParameterMirror mirror;
    mirror.set_from_host(1, mirror.value(1));
    mirror.set_from_host(5, NAN);
    mirror.set_from_host(6, INFINITY);
    mirror.set_from_host(parameter_count, 0.5f);
    EXPECT_FALSE(mirror.has_pending());
    EXPECT_EQ(mirror.value(parameter_count), 0.0f);
}

TEST(ParameterMirror, RefreshDoesNotOverwriteAWaitingHostValue)
{
    ParameterMirror mirror;
    mirror.set_from_host(10, 0.9f);
    mirror.refresh(10, 0.1f);
    mirror.refresh(11, 0.2f);
    EXPECT_EQ(mirror.value(10), 0.9f);
    EXPECT_EQ(mirror.value(11), 0.2f);
    EXPECT_EQ(drain_all(mirror), (Changes{{10, 0.9f}}));
    mirror.set_from_host(12, 0.3f);
    mirror.discard_pending();
    EXPECT_TRUE(drain_all(mirror).empty());
}

TEST(ParameterMirror, AudioThreadSideNeverAllocates)
{
    ParameterMirror mirror;
    test::AllocationCounter counter;
    for (std::uint32_t i = 0; i < parameter_count; ++i)
        mirror.set_from_host(i, 0.5f);
    float sum = 0.0f;
    for (std::uint32_t i = 0; i < parameter_count; ++i)
        sum += mirror.value(i);
    EXPECT_EQ(counter.count(), 0);
    EXPECT_EQ(sum, 0.5f * parameter_count);
}

TEST(ParameterMirror, NoValueIsLostWhileTheControlThreadDrains)
{
    ParameterMirror mirror;
    constexpr int rounds = 20000;
    std::vector<float> last(parameter_count, -1.0f);
    std::atomic<bool> finished{false};
    std::thread audio([&] {
        for (int r = 1; r <= rounds; ++r)
            mirror.set_from_host(static_cast<std::uint32_t>(r % 7 + 1), static_cast<float>(r) / rounds);
        finished = true;
    });
    auto take = [&](std::uint32_t index, float value) { last[index] = value; };
    while (!finished)
        mirror.drain(take);
    audio.join();
    mirror.drain(take);
    // The final value of every index the audio thread wrote reached the control side.
    for (int r = rounds - 6; r <= rounds; ++r)
        EXPECT_EQ(last[static_cast<std::size_t>(r % 7 + 1)], static_cast<float>(r) / rounds);
}

// ---- base64 ----

std::string encode(std::string const& text)
{
    return encode_base64(reinterpret_cast<std::uint8_t const*>(text.data()), text.size());
}

std::string decode(std::string const& text)
{
    auto bytes = decode_base64(text);
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<refused>");
}

TEST(StateBase64, MatchesTheStandardVectors)
{
    // RFC 4648, section 10.
    EXPECT_EQ(encode(""), "");
    EXPECT_EQ(encode("f"), "Zg==");
    EXPECT_EQ(encode("fo"), "Zm8=");
    EXPECT_EQ(encode("foo"), "Zm9v");
    EXPECT_EQ(encode("foob"), "Zm9vYg==");
    EXPECT_EQ(encode("fooba"), "Zm9vYmE=");
    EXPECT_EQ(encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(decode("Zm9vYmFy"), "foobar");
    EXPECT_EQ(decode("Zm9vYg=="), "foob");
    EXPECT_EQ(decode("Zm9vYmE="), "fooba");
    EXPECT_EQ(encode("\xff\xfe\x00\x80"s), "//4AgA==");
}

TEST(StateBase64, RoundTripsEveryByteValue)
{
    std::vector<std::uint8_t> bytes(1000);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 37 + i / 256);
    for (std::size_t size : {0u, 1u, 2u, 3u, 999u, 1000u}) {
        auto const back = decode_base64(encode_base64(bytes.data(), size));
        ASSERT_TRUE(back.has_value());
        EXPECT_TRUE(std::equal(back->begin(), back->end(), bytes.begin(), bytes.begin() + size) &&
                    back->size() == size);
    }
}

TEST(StateBase64, RefusesDamagedText)
{
    EXPECT_EQ(decode("Zm9vYmF"), "<refused>");    // truncated
    EXPECT_EQ(decode("Zm9v*mFy"), "<refused>");   // stray character
    EXPECT_EQ(decode("Zm9v YmF"), "<refused>");   // space
    EXPECT_EQ(decode("Zg==Zm8="), "<refused>");   // padding in the middle
    EXPECT_EQ(decode("Z==="), "<refused>");       // three padding characters
    EXPECT_EQ(decode("Zh=="), "<refused>");       // bits set below the last byte
    EXPECT_EQ(decode("Zm9vYmFy\n"), "<refused>"); // trailing line break
}

TEST(StateKeys, BankFirstThenTheFourIrFiles)
{
    EXPECT_STREQ(bank_state_key, "bank");
    ASSERT_EQ(state_count, 5u);
    EXPECT_STREQ(ir_file_states[0].key, "ir1_file_a");
    EXPECT_STREQ(ir_file_states[3].key, "ir2_file_b");
    for (std::size_t i = 0; i < ir_file_states.size(); ++i) {
        EXPECT_EQ(ir_file_states[i].custom_data_id, 14 + static_cast<int>(i));
        EXPECT_EQ(ir_file_states[i].slot, 1 + static_cast<int>(i) / 2);
        EXPECT_EQ(ir_file_states[i].side, static_cast<int>(i) % 2);
    }
}

// ---- Bundle resources ----

TEST(BundleLocation, ResourcesFolderOfEachFormat)
{
    EXPECT_EQ(bundle_resources_folder_for("/home/u/.lv2/Corvella.lv2/Corvella_dsp.so"),
              "/home/u/.lv2/Corvella.lv2/resources");
    EXPECT_EQ(bundle_resources_folder_for("/home/u/.vst3/Corvella.vst3/Contents/x86_64-linux/Corvella.so"),
              "/home/u/.vst3/Corvella.vst3/Contents/Resources");
    EXPECT_EQ(bundle_resources_folder_for("/home/u/.vst3/Corvella.vst3/Contents/aarch64-linux/Corvella.so"),
              "/home/u/.vst3/Corvella.vst3/Contents/Resources");
    EXPECT_EQ(bundle_resources_folder_for("/home/u/.clap/Corvella/Corvella.clap"),
              "/home/u/.clap/Corvella/resources");
    // An architecture-like folder outside a Contents folder is no VST3 bundle.
    EXPECT_EQ(bundle_resources_folder_for("/opt/x86_64-linux/Corvella.so"), "/opt/x86_64-linux/resources");
}

TEST(BundleLocation, FindsTheModuleThisCodeIsIn)
{
    // Linked into the test program, the module is the test program itself.
    std::filesystem::path const module = module_path();
    ASSERT_FALSE(module.empty());
    EXPECT_EQ(module, std::filesystem::canonical("/proc/self/exe"));
}

} // namespace
} // namespace corvella::plugin
