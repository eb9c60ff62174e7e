// A bank whose impulse-response folder has moved sounds as it did before the move once its files
// are found under a search folder.

#include "host/bank_files.h"
#include "host/host_fixture.h"
#include "host/in_process_host.h"

#include "platform/settings_store.h"
#include "support/wav_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace corvella::test {
namespace {

namespace fs = std::filesystem;

class LostFileRenderTest : public HostTest {
protected:
    // Loads `bank` through custom data 9, selects program 0 and renders a click for half a second.
    std::vector<float> render(std::string const& bank)
    {
        host::InProcessHost host;
        EXPECT_TRUE(host.create_instance(host::Variant::stereo_to_stereo, 48000.0));
        EXPECT_TRUE(host.set_custom_data(9, bank.c_str(), bank.size() + 1));
        std::int32_t program = 0;
        EXPECT_TRUE(host.set_custom_data(1, &program, sizeof program));
        EXPECT_TRUE(host.wait_until_idle());
        std::vector<float> in(24000, 0.0f), left(24000), right(24000);
        in[0] = 0.5f;
        float const* ins[2] = {in.data(), in.data()};
        float* outs[2] = {left.data(), right.data()};
        host.process(ins, outs, 24000);
        return left;
    }
};

TEST_F(LostFileRenderTest, AMovedFolderFoundUnderASearchFolderSoundsAsBefore)
{
    TempDir disk{"corvella-disk-"};
    fs::create_directories(disk / "old/Halls");
    std::mt19937 random(3);
    std::normal_distribution<float> noise(0.0f, 0.3f);
    std::vector<float> ir(6000);
    for (std::size_t n = 0; n < ir.size(); ++n)
        ir[n] = noise(random) * std::exp(-4.0f * static_cast<float>(n) / 6000.0f);
    ASSERT_TRUE(write_planar_wav(disk / "old/Halls/Hall.wav", {ir, ir}, 48000));

    std::vector<VST_Plugin_Program> bank(programs_per_bank);
    std::strcpy(bank[0].ir1_file_a, (disk / "old/Halls/Hall.wav").c_str());
    bank[0].master_mix = 1.0f;
    std::string const file = (disk / "bank.fxb").string();
    std::string error;
    ASSERT_TRUE(save_bank_file(file, bank.data(), error)) << error;
    std::vector<float> const before = render(file);

    fs::create_directories(disk / "new/library");
    fs::rename(disk / "old/Halls", disk / "new/library/Halls");
    set_search_dir_in_registry(0, (disk / "new").string());
    std::vector<float> const after = render(file);

    double energy = 0.0, difference = 0.0;
    for (std::size_t n = 0; n < before.size(); ++n) {
        energy += double(before[n]) * before[n];
        difference += double(after[n] - before[n]) * (after[n] - before[n]);
    }
    EXPECT_GT(energy, 1e-3); // the IR was heard before the move
    EXPECT_LT(difference, 1e-10 * energy);
}

} // namespace
} // namespace corvella::test
