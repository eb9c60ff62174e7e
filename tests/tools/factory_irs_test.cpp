// The factory impulse responses and the demo signal: made by code, the same every time, and
// usable by the loader.

#include "host/bank_files.h"
#include "host/in_process_host.h"
#include "program/parameter_application.h"
#include "ir/fir_file.h"
#include "platform/settings_fixture.h"
#include "support/temp_dir.h"
#include "support/wav_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>
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

// The exit code of `program ARGUMENT` (of `program` alone, with `prefix`, when the argument is empty).
int run(std::string const& program, fs::path const& argument, std::string const& prefix = {})
{
    std::string const quoted = argument.empty() ? "" : " '" + argument.string() + "'";
    int const status = std::system((prefix + program + quoted + " > /dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Energy of every channel between two fractions of the length.
double energy(PlanarAudio const& audio, double from, double to)
{
    double sum = 0.0;
    for (auto const& channel : audio)
        for (auto i = static_cast<std::size_t>(from * channel.size());
             i < static_cast<std::size_t>(to * channel.size()); ++i)
            sum += static_cast<double>(channel[i]) * channel[i];
    return sum;
}

TEST(FactoryIrs, WrittenWhereTheStartUpBankLooksIdenticalEveryTimeAndExit3WhenUnwritable)
{
    TempDir dir;
    // Without an argument the folder follows XDG_DATA_HOME.
    ASSERT_EQ(run(CORVELLA_FACTORY_IRS_PROGRAM, {}, "XDG_DATA_HOME='" + (dir / "data").string() + "' "), 0);
    fs::path const root = dir / "data/Audio/Impulse Responses/Tarnwick/Corvella";
    fs::path const plate = root / "Factory 2/LongPlate-01-44100Hz.wav";
    std::vector<fs::path> const files = {
        plate, root / "Factory/SmallRoom-01-48000Hz.wav", root / "Factory/ConcertHall-01-48000Hz.wav",
        root / "Factory/Chamber-TS-01-48000Hz-L.wav", root / "Factory/Chamber-TS-01-48000Hz-R.wav"};
    std::vector<double> peaks;
    for (auto const& file : files) {
        SCOPED_TRACE(file.string());
        int rate = 0;
        PlanarAudio const audio = read_planar_audio(file, &rate);
        ASSERT_EQ(audio.size(), 2u);
        EXPECT_EQ(rate, file == plate ? 44100 : 48000);
        float peak = 0.0f;
        for (auto const& channel : audio)
            for (float v : channel)
                peak = std::max(peak, std::fabs(v));
        // -1 dBFS; a true-stereo pair is scaled as one, so its quieter half peaks lower.
        bool const pair_half = file == files[3] || file == files[4];
        peaks.push_back(20.0 * std::log10(peak));
        if (!pair_half) {
            EXPECT_NEAR(peaks.back(), -1.0, 0.01);
        }
        EXPECT_LT(peaks.back(), -0.99);
        // A reverb decays: the last fifth holds far less energy than the first.
        EXPECT_LT(energy(audio, 0.8, 1.0), 1e-3 * energy(audio, 0.0, 0.2));
    }
    EXPECT_NEAR(std::max(peaks[3], peaks[4]), -1.0, 0.01);
    // The two halves of the true-stereo pair differ (each is one input side's response).
    EXPECT_NE(read_planar_audio(files[3]), read_planar_audio(files[4]));

    // The Fusion responses: a true-stereo head and eight true-stereo tail sets that all differ.
    for (char const* name : {"FusionHall-01-48000Hz.fir", "FusionPlate-01-48000Hz.fir"}) {
        SCOPED_TRACE(name);
        std::string why;
        auto const fusion = read_fir_file(root / "Factory" / name, &why);
        ASSERT_TRUE(fusion.has_value()) << why;
        EXPECT_EQ(fusion->sample_rate, 48000);
        ASSERT_EQ(fusion->head.size(), 4u);
        ASSERT_EQ(fusion->tail.size(), 32u);
        float peak = 0.0f;
        for (auto const* part : {&fusion->head, &fusion->tail})
            for (auto const& channel : *part)
                for (float v : channel)
                    peak = std::max(peak, std::fabs(v));
        EXPECT_NEAR(20.0 * std::log10(peak), -1.0, 0.01);
        for (std::size_t set = 1; set < 8; ++set)
            EXPECT_NE(fusion->tail[4 * set], fusion->tail[0]) << "set " << set;
    }

    ASSERT_EQ(run(CORVELLA_FACTORY_IRS_PROGRAM, dir / "again"), 0);
    EXPECT_TRUE(slurp(plate) == slurp(dir / "again/Factory 2/LongPlate-01-44100Hz.wav"));

    std::ofstream(dir / "file") << "x"; // a file where a folder is needed
    EXPECT_EQ(run(CORVELLA_FACTORY_IRS_PROGRAM, dir / "file"), 3);
}

// The four factory banks: written beside the responses, 48 named programs each that all render
// (finite, not silent) and all sound different from each other. One host per bank, side by side:
// most of the time goes in waiting for each program's IR builds.
TEST(FactoryBanks, EveryProgramRendersAndSoundsDifferent)
{
    TempDir dir;
    ScopedVariable const data_home("XDG_DATA_HOME", (dir / "data").c_str());
    ScopedVariable const config_home("XDG_CONFIG_HOME", (dir / "config").c_str());
    ASSERT_EQ(run(CORVELLA_FACTORY_IRS_PROGRAM, {}), 0);
    struct Result {
        std::vector<std::string> names;
        std::vector<std::vector<float>> outputs; // the first second after the click, interleaved
        std::vector<std::string> failures;
    };
    std::vector<Result> results(4);
    auto render_bank = [&](int bank) {
        Result& r = results[static_cast<std::size_t>(bank)];
        std::string const path = factory_bank_path(bank);
        host::InProcessHost host;
        if (fs::file_size(path) != 142816u || !host.create_instance(host::Variant::stereo_to_stereo, 48000.0) ||
            !host.wait_until_idle() || !host.set_custom_data(9, path.c_str(), path.size() + 1)) {
            r.failures.push_back(path + " could not be loaded");
            return;
        }
        std::vector<VST_Plugin_Program> records(48);
        host.get_custom_data(3, records.data(), bank_size_bytes);
        int const frames = 48000;
        std::vector<float> in(frames, 0.0f), left(frames), right(frames);
        float const* ins[2] = {in.data(), in.data()};
        float* outs[2] = {left.data(), right.data()};
        for (std::int32_t program = 0; program < 48; ++program) {
            r.names.emplace_back(records[static_cast<std::size_t>(program)].name);
            if (!host.set_custom_data(1, &program, sizeof program) || !host.wait_until_idle()) {
                r.failures.push_back(r.names.back() + " was not built");
                continue;
            }
            for (int pass = 0; pass < 3; ++pass) { // two silent passes: the last program's echoes die away
                in[0] = pass == 2 ? 0.5f : 0.0f;
                host.process(ins, outs, frames);
            }
            std::vector<float> heard;
            double total = 0.0;
            for (int n = 1; n < frames; ++n) { // the dry click at 0 is the same in every program
                if (!std::isfinite(left[n]) || !std::isfinite(right[n])) {
                    r.failures.push_back(r.names.back() + " is not finite");
                    break;
                }
                heard.push_back(left[n]);
                heard.push_back(right[n]);
                total += double(left[n]) * left[n] + double(right[n]) * right[n];
            }
            if (!(total > 1e-6)) r.failures.push_back(r.names.back() + " has no reverb");
            r.outputs.push_back(std::move(heard));
        }
    };
    std::vector<std::thread> threads;
    for (int bank = 0; bank < 4; ++bank)
        threads.emplace_back(render_bank, bank);
    for (auto& thread : threads)
        thread.join();
    for (Result const& r : results) {
        for (std::string const& failure : r.failures)
            ADD_FAILURE() << failure;
        ASSERT_EQ(r.outputs.size(), 48u);
        // Different: the outputs differ by more than -20 dB of their energy.
        for (std::size_t a = 0; a < r.outputs.size(); ++a)
            for (std::size_t b = a + 1; b < r.outputs.size(); ++b) {
                double difference = 0.0, energy = 0.0;
                for (std::size_t k = 0; k < r.outputs[a].size(); ++k) {
                    double const x = r.outputs[a][k], y = r.outputs[b][k];
                    difference += (x - y) * (x - y);
                    energy += x * x + y * y;
                }
                EXPECT_GT(difference, 0.01 * energy) << r.names[a] << " sounds like " << r.names[b];
            }
        EXPECT_EQ(std::set<std::string>(r.names.begin(), r.names.end()).size(), 48u) << "names repeat";
    }
}

TEST(TestSignal, HitsThenAChordThatStops)
{
    TempDir dir;
    ASSERT_EQ(run(CORVELLA_TEST_SIGNAL_PROGRAM, dir / "dry.wav"), 0);
    int rate = 0;
    PlanarAudio const audio = read_planar_audio(dir / "dry.wav", &rate);
    ASSERT_EQ(audio.size(), 2u);
    ASSERT_EQ(rate, 48000);
    ASSERT_EQ(audio[0].size(), 8u * 48000u);
    // Sound in the drum part and in the chord, silence after the chord stops at 6.5 s.
    EXPECT_GT(energy(audio, 0.0, 0.5), 1.0);
    EXPECT_GT(energy(audio, 0.55, 0.8), 1.0);
    EXPECT_EQ(energy(audio, 6.6 / 8.0, 1.0), 0.0);
    ASSERT_EQ(run(CORVELLA_TEST_SIGNAL_PROGRAM, dir / "again.wav"), 0);
    EXPECT_TRUE(slurp(dir / "dry.wav") == slurp(dir / "again.wav"));
}

} // namespace
} // namespace corvella::test
