// The factory impulse responses and the demo signal: made by code, the same every time, and
// usable by the loader.

#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace corvella::test {
namespace {

namespace fs = std::filesystem;

std::string slurp(fs::path const& path)
{
    std::ifstream stream(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), {}};
}

struct Audio {
    int rate = 0, channels = 0;
    std::vector<float> samples; // interleaved
};

Audio read(fs::path const& path)
{
    Audio audio;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return audio;
    audio.rate = info.samplerate;
    audio.channels = info.channels;
    audio.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_float(file, audio.samples.data(), info.frames);
    sf_close(file);
    return audio;
}

double energy(Audio const& audio, double from_fraction, double to_fraction)
{
    auto const n = audio.samples.size();
    double sum = 0.0;
    for (auto i = static_cast<std::size_t>(from_fraction * n); i < static_cast<std::size_t>(to_fraction * n);
         ++i)
        sum += static_cast<double>(audio.samples[i]) * audio.samples[i];
    return sum;
}

TEST(FactoryIrs, WrittenWhereTheStartUpBankLooksAndIdenticalEveryTime)
{
    TempDir dir;
    std::string const data = (dir / "data").string();
    std::string const command =
        "XDG_DATA_HOME='" + data + "' " + CORVELLA_FACTORY_IRS_PROGRAM + " > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    fs::path const root = dir / "data/Audio/Impulse Responses/Tarnwick/Corvella";
    fs::path const plate = root / "Factory 2/LongPlate-01-44100Hz.wav";
    ASSERT_TRUE(fs::is_regular_file(plate));

    std::vector<fs::path> const files = {
        plate, root / "Factory/SmallRoom-01-48000Hz.wav", root / "Factory/ConcertHall-01-48000Hz.wav",
        root / "Factory/Chamber-TS-01-48000Hz-L.wav", root / "Factory/Chamber-TS-01-48000Hz-R.wav"};
    for (auto const& file : files) {
        SCOPED_TRACE(file.string());
        Audio const audio = read(file);
        ASSERT_EQ(audio.channels, 2);
        EXPECT_EQ(audio.rate, file == plate ? 44100 : 48000);
        float peak = 0.0f;
        for (float v : audio.samples)
            peak = std::max(peak, std::fabs(v));
        EXPECT_NEAR(20.0 * std::log10(peak), -1.0, 0.01);
        // A reverb decays: the last fifth holds far less energy than the first.
        EXPECT_LT(energy(audio, 0.8, 1.0), 1e-3 * energy(audio, 0.0, 0.2));
    }
    // The two halves of the true-stereo pair differ (each is one input side's response).
    EXPECT_NE(read(files[3]).samples, read(files[4]).samples);

    std::string const first = slurp(plate);
    std::string const into = (dir / "again").string();
    ASSERT_EQ(
        std::system((std::string(CORVELLA_FACTORY_IRS_PROGRAM) + " '" + into + "' > /dev/null").c_str()), 0);
    EXPECT_TRUE(first == slurp(dir / "again/Factory 2/LongPlate-01-44100Hz.wav"));
}

TEST(FactoryIrs, UnwritableFolderIsAnErrorWithExitCode3)
{
    TempDir dir;
    std::ofstream(dir / "file") << "x"; // a file where a folder is needed
    std::string const command =
        std::string(CORVELLA_FACTORY_IRS_PROGRAM) + " '" + (dir / "file").string() + "' > /dev/null 2>&1";
    int const status = std::system(command.c_str());
    EXPECT_EQ(WEXITSTATUS(status), 3);
}

TEST(TestSignal, HitsThenAChordThatStops)
{
    TempDir dir;
    fs::path const path = dir / "dry.wav";
    ASSERT_EQ(std::system((std::string(CORVELLA_TEST_SIGNAL_PROGRAM) + " '" + path.string() + "'").c_str()),
              0);
    Audio const audio = read(path);
    ASSERT_EQ(audio.channels, 2);
    ASSERT_EQ(audio.rate, 48000);
    ASSERT_EQ(audio.samples.size(), 2u * 8u * 48000u);
    // Sound in the drum part and in the chord, silence after the chord stops at 6.5 s.
    EXPECT_GT(energy(audio, 0.0, 0.5), 1.0);
    EXPECT_GT(energy(audio, 0.55, 0.8), 1.0);
    EXPECT_EQ(energy(audio, 6.6 / 8.0, 1.0), 0.0);
    EXPECT_TRUE(slurp(path) == [&] {
        fs::path const again = dir / "again.wav";
        std::system((std::string(CORVELLA_TEST_SIGNAL_PROGRAM) + " '" + again.string() + "'").c_str());
        return slurp(again);
    }());
}

} // namespace
} // namespace corvella::test
