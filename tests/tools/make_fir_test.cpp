// corvella-make-fir as a user runs it: a file made from audio files reads back with the engine's
// reader, channels in order; bad options and unfit inputs are refused, leaving no output.

#include "ir/fir_file.h"

#include "support/temp_dir.h"
#include "support/wav_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace corvella::test {
namespace {

namespace fs = std::filesystem;

class MakeFirTest : public ::testing::Test {
protected:
    int run(std::vector<std::string> const& arguments, std::string* errors = nullptr) const
    {
        std::string command = CORVELLA_MAKE_FIR_PROGRAM;
        for (auto const& a : arguments)
            command += " '" + a + "'";
        command += " > /dev/null 2> '" + (dir_.path() / "stderr.txt").string() + "'";
        int const status = std::system(command.c_str());
        if (errors != nullptr) {
            std::ifstream stream(dir_.path() / "stderr.txt");
            *errors = {std::istreambuf_iterator<char>(stream), {}};
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string wav(std::string const& name, PlanarAudio const& channels, int rate = 48000) const
    {
        EXPECT_TRUE(write_planar_wav(dir_.path() / name, channels, rate));
        return (dir_.path() / name).string();
    }
    TempDir dir_;
};

TEST_F(MakeFirTest, HeadAndTailsReadBackInOrderWithTheirGains)
{
    std::string const head = wav("head.wav", {{0.5f, 0.25f}, {-0.5f, -0.25f}});
    std::string const tail1 = wav("t1.wav", {{0.1f, 0.2f, 0.3f, 0.4f}, {0.5f, 0.6f, 0.7f, 0.8f}});
    std::string const tail2 = wav("t2.wav", {{0.9f, 1.0f}}); // shorter: padded with silence
    std::string const out = (dir_.path() / "fusion.fir").string();
    ASSERT_EQ(run({"--head", head, "--tail", tail1, "--tail", tail2, "--tail-gain", "-6", "--gain", "2", out}), 0);
    auto const read = read_fir_file(out);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->sample_rate, 48000);
    EXPECT_EQ(read->head, (std::vector<std::vector<float>>{{0.5f, 0.25f}, {-0.5f, -0.25f}}));
    EXPECT_EQ(read->tail, (std::vector<std::vector<float>>{
                              {0.1f, 0.2f, 0.3f, 0.4f}, {0.5f, 0.6f, 0.7f, 0.8f}, {0.9f, 1.0f, 0.0f, 0.0f}}));
    EXPECT_EQ(read->head_gain_db, 0.0f);
    EXPECT_EQ(read->tail_gain_db, -6.0f);
    EXPECT_EQ(read->gain_db, 2.0f);
}

TEST_F(MakeFirTest, BadOptionsAndUnfitInputsAreRefusedWithoutOutput)
{
    std::string const head = wav("head.wav", {{0.5f}});
    std::string const tail = wav("tail.wav", {{0.1f, 0.2f}});
    std::string const other_rate = wav("other.wav", {{0.1f, 0.2f}}, 44100);
    std::string const five = wav("five.wav", {{0.1f}, {0.1f}, {0.1f}, {0.1f}, {0.1f}});
    std::string const out = (dir_.path() / "out.fir").string();
    struct Case {
        std::vector<std::string> arguments;
        int code;
        std::string message;
    };
    Case const cases[] = {
        {{"--head", head, out}, 1, "--head, at least one --tail and OUTPUT.fir are needed"},
        {{"--head", head, "--tail", tail, (dir_.path() / "out.wav").string()}, 1, "OUTPUT must end in .fir"},
        {{"--head", head, "--tail", tail, "--gain", "loud", out}, 1, "--gain must be decibels from -96 to 24"},
        {{"--head", head, "--tail", tail, "--head-gain", "30", out}, 1, "--head-gain must be decibels"},
        {{"--head", head, "--tail", tail, "--wet", out}, 1, "unknown option --wet"},
        {{"--head", (dir_.path() / "none.wav").string(), "--tail", tail, out}, 2, "none.wav"},
        {{"--head", head, "--tail", other_rate, out}, 2, "is not the head's 48000 Hz"},
        {{"--head", five, "--tail", tail, out}, 2, "at most 4 fit"},
    };
    for (Case const& c : cases) {
        std::string errors;
        EXPECT_EQ(run(c.arguments, &errors), c.code) << c.message;
        EXPECT_NE(errors.find(c.message), std::string::npos) << errors;
        EXPECT_FALSE(fs::exists(out)) << c.message;
    }
}

} // namespace
} // namespace corvella::test
