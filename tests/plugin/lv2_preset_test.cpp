// Host presets of the LV2 bundle, and banks exported as LV2 presets by corvella-bank, seen through
// lilv as a host sees them: the names listed, and the program a preset gives against the in-process
// host selecting that program with the program selector.

#include "lv2_host.h"
#include "plugin_test_support.h"

#include "host/bank_files.h"
#include "host/in_process_host.h"
#include "plugin/plugin_state.h"
#include "program/parameter_application.h"
#include "program/vst_plugin_program.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <lv2/atom/atom.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

namespace corvella::test {
namespace {

namespace fs = std::filesystem;

constexpr char uri[] = CORVELLA_LV2_URI;
constexpr int chosen = 5;

std::string name_of(VST_Plugin_Program const& p)
{
    return std::string(p.name, strnlen(p.name, sizeof p.name));
}

class Lv2Presets : public testing::Test {
protected:
    void SetUp() override
    {
        set_latency_setting(0);
        write_wav(ir_a_, make_impulse_response(9000, 11), plugin_test_rate);
        write_wav(ir_b_, make_impulse_response(7000, 12), plugin_test_rate);
        // Program 0 and the chosen program differ in file and settings; the name of the chosen one
        // needs escaping in Turtle.
        bank_[0].current_program = chosen;
        for (auto const& [key, value] : ParameterValues{{"master_mix", 0.6f}, {"ir1_gain", 0.5f}, {"ir1_width", 0.3f}})
            ASSERT_TRUE(store_parameter_value(bank_.get(), key.c_str(), value)) << key;
        bank_[0].current_program = 0;
        std::strcpy(bank_[chosen].name, "Hall \"B\" \\ #1");
        std::strcpy(bank_[chosen].ir1_file_a, ir_a_.c_str());
        std::strcpy(bank_[0].ir1_file_a, ir_b_.c_str());
    }

    std::vector<std::uint8_t> chunk() const
    {
        auto const* bytes = reinterpret_cast<std::uint8_t const*>(bank_.get());
        return {bytes, bytes + bank_size_bytes};
    }

    // The in-process host with the bank, the program chosen through the selector when `slot` >= 0.
    Stereo reference(Stereo const& input, int slot) const
    {
        return reference_render(input, [&](host::InProcessHost& host) {
            std::vector<std::uint8_t> const bank = chunk();
            EXPECT_TRUE(host.set_chunk(bank.data(), bank.size()));
            float const selector = (static_cast<float>(slot) + 0.5f) / 48.0f;
            EXPECT_TRUE(slot < 0 || host.set_parameter("automated_prog_num_sel", selector));
        });
    }

    TempDir folder_{"corvella-lv2-presets-"};
    std::string ir_a_ = (folder_ / "Hall #1 (test).wav").string();
    std::string ir_b_ = (folder_ / "room b.wav").string();
    std::unique_ptr<VST_Plugin_Program[]> bank_ = std::make_unique<VST_Plugin_Program[]>(programs_per_bank);
    Stereo const input_ = make_input(12000, 4);
};

TEST_F(Lv2Presets, ListsTheStartUpBankAndAPresetSelectsItsProgramOfTheBankInUse)
{
    std::vector<Lv2PresetEntry> const presets = lv2_presets(uri, CORVELLA_LV2_PATH);
    ASSERT_EQ(presets.size(), static_cast<std::size_t>(programs_per_bank));
    std::string const start_up_name = name_of(VST_Plugin_Program());
    for (int i = 0; i < programs_per_bank; ++i) {
        char number[8];
        std::snprintf(number, sizeof number, "%03d", i + 1);
        EXPECT_EQ(presets[static_cast<std::size_t>(i)].uri, std::string(uri) + "#preset" + number);
        EXPECT_EQ(presets[static_cast<std::size_t>(i)].label, start_up_name);
    }

    Stereo const expected = reference(input_, chosen);
    ASSERT_GT(max_difference(expected, reference(input_, -1)), 0.05f * peak(expected)) << "programs sound alike";
    auto plugin = lv2_instance();
    ASSERT_TRUE(plugin->loaded());
    std::vector<std::uint8_t> const bank = chunk();
    ASSERT_TRUE(plugin->restore_state_values(
        {{"urn:distrho:bank", {LV2_ATOM__String, plugin::encode_base64(bank.data(), bank.size())}}}));
    ASSERT_TRUE(plugin->load_preset(presets[chosen].uri, CORVELLA_LV2_PATH));
    EXPECT_LE(max_difference(lv2_render(*plugin, input_), expected), 1e-5f * peak(expected));
    // A session saved now holds the bank with the chosen program current, and nothing preset-only.
    Lv2StateValues saved = plugin->save_state_values();
    auto const saved_bank = plugin::decode_base64(saved["urn:distrho:bank"].value);
    ASSERT_TRUE(saved_bank.has_value());
    EXPECT_EQ(reinterpret_cast<VST_Plugin_Program const*>(saved_bank->data())->current_program, chosen);
    EXPECT_EQ(saved["urn:distrho:program"].value, "");
}

TEST_F(Lv2Presets, AnExportedBankIsListedByNameAndAPresetGivesItsProgram)
{
    fs::path const home = folder_ / "home";
    std::string const bank_file = (folder_ / "My Bank.fxb").string();
    std::string error;
    ASSERT_TRUE(save_bank_file(bank_file, bank_.get(), error)) << error;
    std::string const command = "HOME='" + home.string() + "' " + CORVELLA_BANK_PROGRAM + " export-lv2 '" +
                                bank_file + "' > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    std::string const lv2_path = std::string(CORVELLA_LV2_PATH) + ":" + (home / ".lv2").string();
    std::vector<Lv2PresetEntry> exported;
    for (Lv2PresetEntry const& entry : lv2_presets(uri, lv2_path))
        if (entry.uri.rfind("file://", 0) == 0) exported.push_back(entry);
    ASSERT_EQ(exported.size(), static_cast<std::size_t>(programs_per_bank));
    for (int i = 0; i < programs_per_bank; ++i)
        EXPECT_EQ(exported[static_cast<std::size_t>(i)].label, name_of(bank_[i])) << i;

    // Over a start-up bank, whose program 0 knows nothing of this one.
    Stereo const expected = reference(input_, chosen);
    auto plugin = lv2_instance();
    ASSERT_TRUE(plugin->loaded());
    ASSERT_TRUE(plugin->load_preset(exported[chosen].uri, lv2_path));
    EXPECT_EQ(plugin->control("master_mix"), 0.6f);
    EXPECT_LE(max_difference(lv2_render(*plugin, input_), expected), 1e-5f * peak(expected));
    EXPECT_EQ(plugin->save_state_values()[std::string(uri) + "#ir1_file_a"].value, ir_a_);
}

} // namespace
} // namespace corvella::test
