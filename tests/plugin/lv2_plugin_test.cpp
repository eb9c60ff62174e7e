// The LV2 bundle in the build tree, run offline by our lilv host: it must sound exactly like the
// in-process host with the same settings, report the latency setting, and carry its whole state
// (bank and IR paths) into a new instance.

#include "lv2_host.h"
#include "plugin_test_support.h"

#include "host/in_process_host.h"
#include "plugin/plugin_state.h"
#include "program/parameter_table.h"
#include "program/vst_plugin_program.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <sstream>

namespace corvella::test {
namespace {

constexpr char uri[] = CORVELLA_LV2_URI;
constexpr char bank_key[] = "urn:distrho:bank";
std::string const ir1_file_a_uri = std::string(CORVELLA_LV2_URI) + "#ir1_file_a";

ParameterValues const test_parameters{
    {"master_mix", 0.7f}, {"ir1_gain", 0.55f}, {"master_gain", 0.45f}, {"ir1_width", 0.8f}};

// The plug-in side of the sequence reference_render() runs: activate, one block of silence that
// carries the controls and the IR path, then the input.
Stereo render(Lv2Instance& plugin, Stereo const& input, std::string const& ir_file,
              ParameterValues const& parameters, unsigned block = plugin_test_block)
{
    for (auto const& [key, value] : parameters)
        plugin.set_control(key, value);
    if (!ir_file.empty()) plugin.set_path(ir1_file_a_uri, ir_file);
    std::vector<float> silence(block, 0.0f), scratch_l(block), scratch_r(block);
    float const* silent_in[2] = {silence.data(), silence.data()};
    float* scratch_out[2] = {scratch_l.data(), scratch_r.data()};
    plugin.run(silent_in, scratch_out, block);

    Stereo out{std::vector<float>(input.frames()), std::vector<float>(input.frames())};
    for (std::size_t done = 0; done < input.frames(); done += block) {
        auto const n = static_cast<std::uint32_t>(std::min<std::size_t>(block, input.frames() - done));
        float const* in[2] = {input.left.data() + done, input.right.data() + done};
        float* o[2] = {out.left.data() + done, out.right.data() + done};
        plugin.run(in, o, n);
    }
    return out;
}

std::string read_file(std::filesystem::path const& file)
{
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class Lv2Plugin : public testing::Test {
protected:
    void SetUp() override
    {
        set_latency_setting(0);
        write_wav(ir_file_, make_impulse_response(9000, 11), plugin_test_rate);
        write_wav(input_file_, make_input(24000, 5), plugin_test_rate);
    }

    TempDir folder_{"corvella-lv2-"};
    std::filesystem::path ir_file_ = folder_ / "Hall #1 (test).wav";
    std::filesystem::path input_file_ = folder_ / "in.wav";
};

TEST_F(Lv2Plugin, ListsEveryParameterWithItsKeyAndDefault)
{
    Lv2Instance plugin(uri, plugin_test_rate, plugin_test_block);
    ASSERT_TRUE(plugin.loaded());
    std::vector<std::string> const symbols = plugin.input_control_symbols();
    // The 366 keyed rows plus the master bypass (LV2's enabled port).
    ASSERT_EQ(symbols.size(), 367u);
    EXPECT_EQ(symbols[0], "lv2_enabled");
    for (int i = 0; i < keyed_parameter_count; ++i) {
        ParameterRow const* row = parameter_at(i);
        EXPECT_EQ(symbols[static_cast<std::size_t>(i) + 1], row->key);
        EXPECT_EQ(plugin.control(row->key), row->default_value) << row->key;
    }
    EXPECT_EQ(plugin.control("lv2_enabled"), 1.0f);
}

TEST_F(Lv2Plugin, OutputEqualsTheInProcessHostForTheSameSettings)
{
    Stereo const input = read_wav(input_file_);
    Stereo const expected = reference_render(input, ir_file_.string(), test_parameters);
    ASSERT_GT(peak(expected), 0.01f);

    Lv2Instance plugin(uri, plugin_test_rate, plugin_test_block);
    ASSERT_TRUE(plugin.loaded());
    plugin.activate();
    Stereo const got = render(plugin, input, ir_file_.string(), test_parameters);
    write_wav(folder_ / "out.wav", got, plugin_test_rate);
    plugin.deactivate();

    Stereo const written = read_wav(folder_ / "out.wav");
    EXPECT_LE(max_difference(written, expected), 1e-5f * peak(expected));
}

TEST_F(Lv2Plugin, OutputEqualsTheInProcessHostWithOddBlockSizes)
{
    Stereo const input = make_input(9000, 8);
    Stereo const expected = reference_render(input, ir_file_.string(), test_parameters, 97);
    Lv2Instance plugin(uri, plugin_test_rate, 97);
    ASSERT_TRUE(plugin.loaded());
    plugin.activate();
    Stereo const got = render(plugin, input, ir_file_.string(), test_parameters, 97);
    EXPECT_LE(max_difference(got, expected), 1e-5f * peak(expected));
}

TEST_F(Lv2Plugin, BypassPassesTheInputThrough)
{
    Stereo const input = make_input(4000, 3);
    Lv2Instance plugin(uri, plugin_test_rate, plugin_test_block);
    ASSERT_TRUE(plugin.loaded());
    plugin.activate();
    plugin.set_control("lv2_enabled", 0.0f);
    Stereo const got = render(plugin, input, ir_file_.string(), test_parameters);
    EXPECT_EQ(max_difference(got, input), 0.0f);
}

TEST_F(Lv2Plugin, LatencyPortReportsTheLatencySetting)
{
    for (int latency : {0, 1024, 8192}) {
        set_latency_setting(latency);
        host::InProcessHost reference;
        reference.create_instance(host::Variant::stereo_to_stereo, plugin_test_rate);
        ASSERT_EQ(reference.latency_samples(), latency);

        Lv2Instance plugin(uri, plugin_test_rate, plugin_test_block);
        ASSERT_TRUE(plugin.loaded());
        plugin.activate();
        render(plugin, make_input(512, 1), "", {});
        EXPECT_EQ(plugin.control("lv2_latency"), static_cast<float>(latency));
    }
}

TEST_F(Lv2Plugin, StateRoundTripGivesIdenticalStateAndAudio)
{
    Stereo const input = make_input(12000, 9);
    TempDir states("corvella-lv2-state-");
    {
        Lv2Instance first(uri, plugin_test_rate, plugin_test_block);
        ASSERT_TRUE(first.loaded());
        first.activate();
        render(first, make_input(1000, 2), ir_file_.string(), test_parameters);
        ASSERT_TRUE(first.save_state_file(states / "1"));
    }
    std::string const saved = read_file(states / "1" / "state.ttl");
    // The IR path is saved as a file reference; the empty ones are not saved at all.
    EXPECT_NE(saved.find("#ir1_file_a> <file://"), std::string::npos);
    EXPECT_EQ(saved.find("#ir1_file_b>"), std::string::npos);

    Lv2Instance second(uri, plugin_test_rate, plugin_test_block);
    ASSERT_TRUE(second.loaded());
    second.activate();
    ASSERT_TRUE(second.restore_state_file(states / "1"));
    for (auto const& [key, value] : test_parameters)
        EXPECT_EQ(second.control(key), value) << key;
    ASSERT_TRUE(second.save_state_file(states / "2"));
    EXPECT_TRUE(read_file(states / "2" / "state.ttl") == saved) << "the two saved states differ";

    Lv2Instance third(uri, plugin_test_rate, plugin_test_block);
    ASSERT_TRUE(third.loaded());
    third.activate();
    ASSERT_TRUE(third.restore_state_file(states / "2"));

    EXPECT_EQ(third.save_state_values()[ir1_file_a_uri].value, ir_file_.string());

    // Equal up to float rounding: each instance plans its own FFTs.
    Stereo const from_second = render(second, input, "", {});
    Stereo const from_third = render(third, input, "", {});
    EXPECT_GT(peak(from_second), 0.01f);
    EXPECT_LE(max_difference(from_second, from_third), 1e-5f * peak(from_second));

    // And it sounds like the settings it was saved with.
    Stereo const expected = reference_render(input, ir_file_.string(), test_parameters);
    EXPECT_LE(max_difference(from_second, expected), 1e-5f * peak(expected));
}

// ---- Bad state from a host ----

class Lv2BadState : public Lv2Plugin {
protected:
    void SetUp() override
    {
        Lv2Plugin::SetUp();
        plugin_ = std::make_unique<Lv2Instance>(uri, plugin_test_rate, plugin_test_block);
        ASSERT_TRUE(plugin_->loaded());
        plugin_->activate();
        render(*plugin_, make_input(300, 4), ir_file_.string(), test_parameters);
        good_ = plugin_->save_state_values();
        ASSERT_EQ(good_.count(bank_key), 1u);
    }

    // After a refused state: the bank is unchanged and audio still comes out of the reverb.
    void expect_unchanged_and_working()
    {
        EXPECT_EQ(plugin_->save_state_values(), good_);
        Stereo const out = render(*plugin_, make_input(4000, 6), "", {});
        float const p = peak(out);
        EXPECT_TRUE(std::isfinite(p));
        EXPECT_GT(p, 0.01f);
    }

    Lv2StateValues with_bank(std::string const& text) const
    {
        Lv2StateValues values = good_;
        values[bank_key].value = text;
        return values;
    }

    std::unique_ptr<Lv2Instance> plugin_;
    Lv2StateValues good_;
};

TEST_F(Lv2BadState, TruncatedBankIsRefused)
{
    std::string const text = good_[bank_key].value;
    plugin_->restore_state_values(with_bank(text.substr(0, text.size() / 2 + 1)));
    expect_unchanged_and_working();
}

TEST_F(Lv2BadState, BankOfTheWrongSizeIsRefused)
{
    std::vector<std::uint8_t> const short_bank(2972 * 3, 0x41);
    plugin_->restore_state_values(with_bank(plugin::encode_base64(short_bank.data(), short_bank.size())));
    expect_unchanged_and_working();
}

TEST_F(Lv2BadState, GarbageBase64IsRefused)
{
    std::string text = good_[bank_key].value;
    text[100] = '*';
    plugin_->restore_state_values(with_bank(text));
    expect_unchanged_and_working();
    plugin_->restore_state_values(with_bank("\xff\xfe not a bank at all"));
    expect_unchanged_and_working();
}

TEST_F(Lv2BadState, OlderProgramVersionIsUpgraded)
{
    auto bank = plugin::decode_base64(good_[bank_key].value);
    ASSERT_TRUE(bank.has_value());
    ASSERT_EQ(bank->size(), sizeof(VST_Plugin_Program) * programs_per_bank);
    auto stamp_of = [&](std::size_t record) {
        std::int32_t stamp;
        std::memcpy(&stamp,
                    bank->data() + record * sizeof(VST_Plugin_Program) +
                        offsetof(VST_Plugin_Program, version_stamp),
                    sizeof stamp);
        return stamp;
    };
    ASSERT_EQ(stamp_of(0), current_program_version);
    for (std::size_t r = 0; r < programs_per_bank; ++r) {
        std::int32_t const old = 1500;
        std::memcpy(bank->data() + r * sizeof(VST_Plugin_Program) +
                        offsetof(VST_Plugin_Program, version_stamp),
                    &old, sizeof old);
    }
    plugin_->restore_state_values(with_bank(plugin::encode_base64(bank->data(), bank->size())));

    auto const restored = plugin::decode_base64(plugin_->save_state_values()[bank_key].value);
    ASSERT_TRUE(restored.has_value());
    bank = restored;
    for (std::size_t r = 0; r < programs_per_bank; ++r)
        EXPECT_EQ(stamp_of(r), current_program_version) << "record " << r;
    Stereo const out = render(*plugin_, make_input(4000, 6), "", {});
    EXPECT_TRUE(std::isfinite(peak(out)));
}

TEST_F(Lv2BadState, MissingOrOverlongIrPathKeepsTheInstanceWorking)
{
    Lv2StateValues values = good_;
    values[ir1_file_a_uri].value = (folder_ / "no such file.wav").string();
    plugin_->restore_state_values(values);
    Stereo out = render(*plugin_, make_input(2000, 6), "", {});
    EXPECT_TRUE(std::isfinite(peak(out)));

    values[ir1_file_a_uri].value = std::string(5000, 'x');
    plugin_->restore_state_values(values);
    out = render(*plugin_, make_input(2000, 6), "", {});
    EXPECT_TRUE(std::isfinite(peak(out)));
}

} // namespace
} // namespace corvella::test
