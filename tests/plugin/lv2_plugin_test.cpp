// The LV2 bundle in the build tree, run offline by our lilv host: it must sound like the in-process
// host with the same settings, report the latency setting, and carry its whole state (bank and IR
// paths) into a new instance.

#include "lv2_host.h"
#include "plugin_test_support.h"

#include "plugin/plugin_state.h"
#include "program/parameter_table.h"
#include "program/vst_plugin_program.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <lv2/core/lv2.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace corvella::test {
namespace {

constexpr char uri[] = CORVELLA_LV2_URI;
constexpr char bank_key[] = "urn:distrho:bank";
std::string const ir1_file_a_uri = std::string(CORVELLA_LV2_URI) + "#ir1_file_a";

ParameterValues const test_parameters{
    {"master_mix", 0.7f}, {"ir1_gain", 0.55f}, {"master_gain", 0.45f}, {"ir1_width", 0.8f}};

// The plug-in side of reference_render(): the controls and the IR path go with the lead-in block.
Stereo render(Lv2Instance& plugin, Stereo const& input, std::string const& ir_file = "",
              ParameterValues const& parameters = {}, unsigned block = plugin_test_block)
{
    for (auto const& [key, value] : parameters)
        plugin.set_control(key, value);
    if (!ir_file.empty()) plugin.set_path(ir1_file_a_uri, ir_file);
    return lv2_render(plugin, input, block);
}

std::string read_file(std::filesystem::path const& file)
{
    std::stringstream text;
    text << std::ifstream(file, std::ios::binary).rdbuf();
    return text.str();
}

class Lv2Plugin : public testing::Test {
protected:
    void SetUp() override
    {
        set_latency_setting(0);
        write_wav(ir_file_, make_impulse_response(9000, 11), plugin_test_rate);
    }

    TempDir folder_{"corvella-lv2-"};
    std::string ir_file_ = (folder_ / "Hall #1 (test).wav").string();
};

TEST_F(Lv2Plugin, ListsEveryParameterWithItsKeyAndDefault)
{
    Lv2Instance plugin(uri, plugin_test_rate, plugin_test_block);
    ASSERT_TRUE(plugin.loaded());
    std::vector<std::string> const symbols = plugin.input_control_symbols();
    // The 366 keyed rows plus the master bypass (LV2's enabled port).
    ASSERT_EQ(symbols.size(), 367u);
    EXPECT_EQ(symbols[0], "lv2_enabled");
    EXPECT_EQ(plugin.control("lv2_enabled"), 1.0f);
    for (int i = 0; i < keyed_parameter_count; ++i) {
        ParameterRow const* row = parameter_at(i);
        EXPECT_EQ(symbols[static_cast<std::size_t>(i) + 1], row->key);
        EXPECT_EQ(plugin.control(row->key), row->default_value) << row->key;
    }
}

// At the test block size and at an odd one the output is the in-process host's for the same
// settings (which is also what corvella-render runs); with the bypass on it is the input itself.
TEST_F(Lv2Plugin, OutputEqualsTheInProcessHostForTheSameSettingsAndBypassPassesTheInput)
{
    for (unsigned block : {plugin_test_block, 97u}) {
        SCOPED_TRACE(block);
        Stereo const input = make_input(block == 97 ? 9000 : 24000, 5);
        Stereo const expected = reference_render(input, ir_file_, test_parameters, block);
        ASSERT_GT(peak(expected), 0.01f);
        auto plugin = lv2_instance(block);
        ASSERT_TRUE(plugin->loaded());
        EXPECT_LE(max_difference(render(*plugin, input, ir_file_, test_parameters, block), expected),
                  1e-5f * peak(expected));
    }
    Stereo const input = make_input(4000, 3);
    auto plugin = lv2_instance();
    ASSERT_TRUE(plugin->loaded());
    plugin->set_control("lv2_enabled", 0.0f);
    EXPECT_EQ(max_difference(render(*plugin, input, ir_file_, test_parameters), input), 0.0f);
}

TEST_F(Lv2Plugin, LatencyPortReportsTheLatencySetting)
{
    for (int latency : {0, 1024, 8192}) {
        set_latency_setting(latency);
        auto plugin = lv2_instance();
        ASSERT_TRUE(plugin->loaded());
        render(*plugin, make_input(512, 1));
        EXPECT_EQ(plugin->control("lv2_latency"), static_cast<float>(latency));
    }
}

TEST_F(Lv2Plugin, StateRoundTripGivesIdenticalStateAndAudio)
{
    TempDir states("corvella-lv2-state-");
    {
        auto first = lv2_instance();
        ASSERT_TRUE(first->loaded());
        render(*first, make_input(1000, 2), ir_file_, test_parameters);
        ASSERT_TRUE(first->save_state_file(states / "1"));
    }
    std::string const saved = read_file(states / "1" / "state.ttl");
    // The IR path is saved as a file reference; the empty ones are not saved at all.
    EXPECT_NE(saved.find("#ir1_file_a> <file://"), std::string::npos);
    for (char const* empty : {"#ir1_file_b>", "#ir2_file_a>", "#ir2_file_b>"})
        EXPECT_EQ(saved.find(empty), std::string::npos) << empty;

    auto second = lv2_instance(), third = lv2_instance();
    ASSERT_TRUE(second->loaded() && third->loaded());
    ASSERT_TRUE(second->restore_state_file(states / "1"));
    for (auto const& [key, value] : test_parameters)
        EXPECT_EQ(second->control(key), value) << key;
    ASSERT_TRUE(second->save_state_file(states / "2"));
    EXPECT_TRUE(read_file(states / "2" / "state.ttl") == saved) << "the two saved states differ";
    ASSERT_TRUE(third->restore_state_file(states / "2"));
    EXPECT_EQ(third->save_state_values()[ir1_file_a_uri].value, ir_file_);

    // Equal up to float rounding (each instance plans its own FFTs), and to the saved settings.
    Stereo const input = make_input(12000, 9);
    Stereo const from_second = render(*second, input),
                 expected = reference_render(input, ir_file_, test_parameters);
    EXPECT_GT(peak(from_second), 0.01f);
    EXPECT_LE(max_difference(from_second, render(*third, input)), 1e-5f * peak(from_second));
    EXPECT_LE(max_difference(from_second, expected), 1e-5f * peak(expected));
}

// State from a host that is damaged, from an older version, or names a file that is not there.
class Lv2BadState : public Lv2Plugin {
protected:
    void SetUp() override
    {
        Lv2Plugin::SetUp();
        plugin_ = lv2_instance();
        ASSERT_TRUE(plugin_->loaded());
        render(*plugin_, make_input(300, 4), ir_file_, test_parameters);
        good_ = plugin_->save_state_values();
        ASSERT_EQ(good_.count(bank_key), 1u);
    }

    Stereo restore_and_render(std::string const& key, std::string const& text)
    {
        Lv2StateValues values = good_;
        values[key].value = text;
        plugin_->restore_state_values(values);
        return render(*plugin_, make_input(4000, 6));
    }

    std::unique_ptr<Lv2Instance> plugin_;
    Lv2StateValues good_;
};

// Truncated, wrong-sized or garbage banks, and preset keys that name no program or carry a damaged
// one, change nothing: the state stays as it was and the reverb keeps sounding. A missing or
// overlong IR path leaves the instance working.
TEST_F(Lv2BadState, DamagedBanksAndProgramsChangeNothingAndBadPathsKeepTheInstanceWorking)
{
    auto base64 = [](std::vector<std::uint8_t> const& b) {
        return plugin::encode_base64(b.data(), b.size());
    };
    std::string const text = good_[bank_key].value;
    std::string stray = text;
    stray[100] = '*';
    std::string const program = "urn:distrho:program", record = "urn:distrho:program_record";
    std::pair<std::string, std::string> const cases[] = {
        {bank_key, text.substr(0, text.size() / 2 + 1)},
        {bank_key, base64(std::vector<std::uint8_t>(2972 * 3, 0x41))},
        {bank_key, stray},
        {bank_key, "\xff\xfe not a bank at all"},
        {program, "48"},
        {program, "-1"},
        {program, "5 "},
        {record, base64(std::vector<std::uint8_t>(sizeof(VST_Plugin_Program) / 2, 0x41))},
        {record, "not base64"}};
    for (auto const& [key, bad] : cases) {
        SCOPED_TRACE(key + " = " + bad.substr(0, 20));
        float const p = peak(restore_and_render(key, bad));
        EXPECT_EQ(plugin_->save_state_values(), good_);
        EXPECT_TRUE(std::isfinite(p));
        EXPECT_GT(p, 0.01f);
    }
    for (std::string const& path : {(folder_ / "no such file.wav").string(), std::string(5000, 'x')})
        EXPECT_TRUE(std::isfinite(peak(restore_and_render(ir1_file_a_uri, path))));
}

TEST_F(Lv2BadState, OlderProgramVersionIsUpgraded)
{
    auto stamp = [](std::vector<std::uint8_t>& bank, std::size_t record) {
        return reinterpret_cast<std::int32_t*>(bank.data() + record * sizeof(VST_Plugin_Program) +
                                               offsetof(VST_Plugin_Program, version_stamp));
    };
    auto bank = plugin::decode_base64(good_[bank_key].value);
    ASSERT_TRUE(bank.has_value());
    ASSERT_EQ(bank->size(), sizeof(VST_Plugin_Program) * programs_per_bank);
    ASSERT_EQ(*stamp(*bank, 0), current_program_version);
    for (std::size_t r = 0; r < programs_per_bank; ++r)
        *stamp(*bank, r) = 1500;
    Stereo const out = restore_and_render(bank_key, plugin::encode_base64(bank->data(), bank->size()));
    EXPECT_TRUE(std::isfinite(peak(out)));

    bank = plugin::decode_base64(plugin_->save_state_values()[bank_key].value);
    ASSERT_TRUE(bank.has_value());
    for (std::size_t r = 0; r < programs_per_bank; ++r)
        EXPECT_EQ(*stamp(*bank, r), current_program_version) << "record " << r;
}

// Hosts that break the rules: no feature list at all, an empty one, a feature without a URI (a
// command-line host crashed inside our instantiate this way), run before activate, with 0 frames
// or before the audio ports are connected. Each is refused with a message or coped with.
TEST(Lv2HostileHost, MissingFeaturesAreRefusedAndCarelessRunsAreSurvived)
{
    std::string const bundle = std::string(CORVELLA_LV2_PATH) + "/Corvella.lv2/";
    void* library = dlopen((bundle + "Corvella.so").c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    ASSERT_NE(library, nullptr) << dlerror();
    auto const entry = reinterpret_cast<LV2_Descriptor const* (*)(std::uint32_t)>(dlsym(library, "lv2_descriptor"));
    ASSERT_NE(entry, nullptr);
    LV2_Descriptor const* descriptor = entry(0);
    ASSERT_NE(descriptor, nullptr);

    TempDir folder{"corvella-lv2-hostile-"};
    std::string const log = (folder / "stderr.txt").string();
    int const saved_stderr = dup(2);
    FILE* captured = std::freopen(log.c_str(), "w", stderr);
    ASSERT_NE(captured, nullptr);
    LV2_Feature const nameless{nullptr, nullptr};
    LV2_Feature const* const empty[] = {nullptr};
    LV2_Feature const* const broken[] = {&nameless, nullptr};
    LV2_Handle const with_null = descriptor->instantiate(descriptor, 48000, bundle.c_str(), nullptr);
    LV2_Handle const with_empty = descriptor->instantiate(descriptor, 48000, bundle.c_str(), empty);
    LV2_Handle const with_nameless = descriptor->instantiate(descriptor, 48000, bundle.c_str(), broken);
    std::fflush(stderr);
    dup2(saved_stderr, 2);
    close(saved_stderr);
    EXPECT_EQ(with_null, nullptr);
    EXPECT_EQ(with_empty, nullptr);
    EXPECT_EQ(with_nameless, nullptr);
    std::ifstream in(log);
    std::string const messages((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(messages.find("Options feature missing, cannot continue!"), std::string::npos) << messages;

    Lv2Instance plugin(CORVELLA_LV2_URI, plugin_test_rate, plugin_test_block);
    ASSERT_TRUE(plugin.loaded());
    plugin.run_unconnected(plugin_test_block);
    Stereo const input = make_input(plugin_test_block, 4);
    Stereo out = silence(plugin_test_block);
    float const* in_ptr[2] = {input.left.data(), input.right.data()};
    float* out_ptr[2] = {out.left.data(), out.right.data()};
    plugin.run(in_ptr, out_ptr, 0);
    plugin.run(in_ptr, out_ptr, plugin_test_block); // not activated: the plug-in activates itself
    for (auto const* channel : {&out.left, &out.right})
        for (float v : *channel) EXPECT_TRUE(std::isfinite(v) && std::abs(v) < 16.0f);
}

} // namespace
} // namespace corvella::test
