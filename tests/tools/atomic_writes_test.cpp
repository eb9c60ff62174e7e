// The four writers of whole files (settings, bank files, exported LV2 presets, rendered audio):
// when the write, the flush or the rename fails, the old file stays byte for byte and no temporary
// file is left beside it.

#include "host/bank_files.h"
#include "host/lv2_preset_export.h"
#include "platform/atomic_file.h"
#include "platform/settings_fixture.h"
#include "platform/settings_store.h"
#include "program/program_constants.h"
#include "support/temp_dir.h"
#include "support/wav_file.h"

// The renderer is a program of its own; its sources are compiled in here so that its write can be
// failed in this process.
#include "tools/corvella-render/render.cpp"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace corvella::test {
namespace {

namespace fs = std::filesystem;

// Every file below `folder` (hidden ones included) with its bytes.
std::map<std::string, std::string> tree(fs::path const& folder)
{
    std::map<std::string, std::string> files;
    for (auto const& entry : fs::recursive_directory_iterator(folder)) {
        std::ifstream stream(entry.path(), std::ios::binary);
        files[fs::relative(entry.path(), folder).string()] =
            entry.is_regular_file() ? std::string(std::istreambuf_iterator<char>(stream), {}) : std::string("<folder>");
    }
    return files;
}

std::vector<Lv2Preset> presets_named(std::string const& label)
{
    std::vector<VST_Plugin_Program> bank(programs_per_bank);
    std::snprintf(bank[0].name, sizeof bank[0].name, "%s", label.c_str());
    std::vector<Lv2Preset> presets{lv2_preset_of_program(bank.data(), 0)};
    presets[0].file_name = "00.ttl";
    return presets;
}

class AtomicWrites : public SettingsTest {
protected:
    ~AtomicWrites() override { atomic_file_testing::clear(); }

    // A writer: the folder it writes in, and one write of the given generation (true when it
    // reports success).
    struct Writer {
        char const* name;
        fs::path folder;
        std::function<bool(int generation)> write;
    };

    std::vector<Writer> writers()
    {
        fs::create_directories(dir_.path() / "bank");
        fs::create_directories(dir_.path() / "lv2");
        fs::create_directories(dir_.path() / "render");
        write_planar_wav(dir_ / "in.wav", {std::vector<float>(600, 0.25f)}, 48000);
        // Channels that do not cancel in the mono render, so that each generation's gain is heard
        // (the file's header alone may not differ: its PEAK chunk's time has a resolution of 1 s).
        write_planar_wav(dir_ / "ir.wav", {std::vector<float>(64, 0.5f), std::vector<float>(64, 0.25f)}, 48000);
        CheckPrefs();
        return {
            {"settings", folder(),
             [](int generation) {
                 try {
                     set_latency_in_registry(128 * generation);
                     return true;
                 } catch (std::runtime_error const&) {
                     return false;
                 }
             }},
            {"bank file", dir_.path() / "bank",
             [this](int generation) {
                 std::vector<VST_Plugin_Program> bank(programs_per_bank);
                 bank[5].master_mix = 0.1f * static_cast<float>(generation);
                 std::string error;
                 return save_bank_file((dir_.path() / "bank" / "my.fxb").string(), bank.data(), error);
             }},
            {"LV2 preset", dir_.path() / "lv2",
             [this](int generation) {
                 std::string error;
                 return write_lv2_preset_bundle(dir_.path() / "lv2" / "corvella-my.preset.lv2",
                                                presets_named("Generation " + std::to_string(generation)), error);
             }},
            {"rendered file", dir_.path() / "render",
             [this](int generation) {
                 ScopedVariable const config("XDG_CONFIG_HOME"); // the renderer points it at a folder of its own
                 render::Options options;
                 options.input = (dir_ / "in.wav").string();
                 options.output = (dir_.path() / "render" / "out.wav").string();
                 options.ir_files[0][0] = (dir_ / "ir.wav").string();
                 options.settings.emplace_back("master_gain", 0.5f + 0.1f * static_cast<float>(generation));
                 options.quiet = true;
                 return render::render(options) == render::exit_ok;
             }},
        };
    }

    TempDir dir_{"corvella-atomic-"};
};

TEST_F(AtomicWrites, AFailedStepLeavesTheOldFileAndNoTemporary)
{
    struct Step {
        char const* name;
        AtomicStep step;
    };
    Step const steps[] = {{"write", AtomicStep::write}, {"flush", AtomicStep::flush}, {"rename", AtomicStep::rename}};
    for (Writer const& writer : writers()) {
        SCOPED_TRACE(writer.name);
        ASSERT_TRUE(writer.write(1));
        auto const old = tree(writer.folder);
        ASSERT_FALSE(old.empty());
        for (Step const& step : steps) {
            SCOPED_TRACE(step.name);
            atomic_file_testing::fail_step(step.step, writer.folder);
            EXPECT_FALSE(writer.write(2));
            atomic_file_testing::clear();
            EXPECT_EQ(tree(writer.folder), old);
        }
        // Without a failure the same write replaces the file, so the cases above did write.
        ASSERT_TRUE(writer.write(3));
        auto const now = tree(writer.folder);
        EXPECT_NE(now, old);
        EXPECT_EQ(now.size(), old.size()); // and leaves nothing else behind
    }
}

} // namespace
} // namespace corvella::test
