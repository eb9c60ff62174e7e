// corvella-render run as a user runs it: files in, files out, exit codes and messages.

#include "ir/fir_file.h"
#include "program/program_constants.h"
#include "program/vst_plugin_program.h"
#include "support/reference_convolution.h"
#include "support/temp_dir.h"
#include "support/wav_file.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace corvella::test {
namespace {

namespace fs = std::filesystem;
using Channels = PlanarAudio;

struct RunResult {
    int exit_code;
    std::string errors, output;
};

std::string quote(std::string const& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string slurp(fs::path const& file)
{
    std::ifstream stream(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), {}};
}

std::vector<float> decaying_noise(int length, unsigned seed)
{
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0.0f, 0.2f);
    std::vector<float> ir(static_cast<std::size_t>(length));
    for (int i = 0; i < length; ++i)
        ir[static_cast<std::size_t>(i)] = noise(random) * std::exp(-4.0f * static_cast<float>(i) / length);
    return ir;
}

class RenderTest : public ::testing::Test {
protected:
    // The factory responses are looked for in a data folder of the test's own.
    RenderTest() { fs::create_directories(dir_ / "data"); }

    RunResult render(std::vector<std::string> const& arguments) const
    {
        std::string command =
            "XDG_DATA_HOME=" + quote((dir_ / "data").string()) + " " + CORVELLA_RENDER_PROGRAM;
        for (auto const& argument : arguments)
            command += ' ' + quote(argument);
        command +=
            " > " + quote((dir_ / "stdout.txt").string()) + " 2> " + quote((dir_ / "stderr.txt").string());
        int const status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir_ / "stderr.txt"),
                slurp(dir_ / "stdout.txt")};
    }
    std::string write_wav(std::string const& name, Channels const& channels, int rate,
                          int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT) const
    {
        EXPECT_TRUE(write_planar_wav(dir_ / name, channels, rate, format)) << name;
        return (dir_ / name).string();
    }

    TempDir dir_;
};

// The documented gain chain of the default program with IR2 off, balance centred, IR1/IR2 mix at
// its centre with the default equal-sum law (cos^2(pi/4) = 0.5 for IR1):
// dry = min(1, 2 (1 - mix)) G x, wet = min(1, 2 mix) G 0.5 g_ir sr_gain (x * h / peak),
// with G and g_ir from the dual dB scaling (master -30..30 dB, IR -50..50 dB around 0.5) and
// sr_gain = 44100 / rate (the default "SRNorm" 0 normalises to 44.1 kHz).
constexpr int rate = 48000;
constexpr double master_mix = 0.75;                 // dry 0.5, wet 1
double const master = std::pow(10.0, -15.0 / 20.0); // master_gain 0.25
double const ir_gain = std::pow(10.0, 25.0 / 20.0); // ir1_gain 0.75
double const dry_gain = std::min(1.0, 2.0 * (1.0 - master_mix)) * master;
double const wet_gain = std::min(1.0, 2.0 * master_mix) * master * 0.5 * ir_gain * 44100.0 / rate;

double peak_of(Channels const& channels)
{
    double peak = 0.0;
    for (auto const& channel : channels)
        for (float v : channel)
            peak = std::max(peak, static_cast<double>(std::fabs(v)));
    return peak;
}

// At zero latency and at 1024 (the output is shifted back so that it lines up with the input).
TEST_F(RenderTest, ImpulseResponseThroughEveryGainForEachLayout)
{
    struct Layout {
        char const* name;
        int input_channels;
        bool stereo_out, true_stereo;
        int latency;
    };
    // clang-format off
    Layout const layouts[] = {
        {"stereo", 2, false, false, 0}, {"stereo, latency 1024", 2, false, false, 1024},
        {"mono", 1, false, false, 0}, {"mono, latency 1024", 1, false, false, 1024},
        {"mono to stereo", 1, true, false, 0},
        {"true-stereo pair", 2, false, true, 0}, {"true-stereo pair, latency 1024", 2, false, true, 1024}};
    // clang-format on
    int const frames = 6000, ir_length = 2500;
    // IR files A and B, stereo, float at the render rate so that nothing is resampled, peaks below 1
    // so that normalisation has work to do.
    Channels const a = {decaying_noise(ir_length, 1), decaying_noise(ir_length, 2)};
    Channels const b = {decaying_noise(ir_length, 3), decaying_noise(ir_length, 4)};
    std::string const a_file = write_wav("room-L.wav", a, rate), b_file = write_wav("room-R.wav", b, rate);
    std::string const out_file = (dir_ / "out.wav").string();

    for (Layout const& layout : layouts) {
        SCOPED_TRACE(layout.name);
        // Two impulses of different heights (and, in stereo, different per side).
        Channels input(static_cast<std::size_t>(layout.input_channels), std::vector<float>(frames, 0.0f));
        input[0][100] = 1.0f;
        input[0][1700] = -0.5f;
        if (layout.input_channels == 2) {
            input[1][900] = 0.75f;
            input[1][1700] = 0.25f;
        }
        std::vector<std::string> arguments = {"--ir1-a", a_file};
        if (layout.true_stereo)
            arguments.insert(arguments.end(), {"--ir1-b", b_file, "--set", "ir1_topology=0.5"});
        arguments.insert(arguments.end(),
                         {"--set", "master_mix=0.75", "--set", "master_gain=0.25", "--set", "ir1_gain=0.75",
                          "--latency", std::to_string(layout.latency), "--block", "300"});
        if (layout.stereo_out) arguments.push_back("--stereo-out");
        arguments.insert(arguments.end(), {write_wav("in.wav", input, rate), out_file});
        RunResult const run = render(arguments);
        ASSERT_EQ(run.exit_code, 0) << run.errors;
        int out_rate = 0;
        Channels const output = read_planar_audio(out_file, &out_rate);
        std::size_t const out_channels = layout.input_channels == 2 || layout.stereo_out ? 2 : 1;
        ASSERT_EQ(output.size(), out_channels);
        ASSERT_EQ(output[0].size(), static_cast<std::size_t>(frames));
        EXPECT_EQ(out_rate, rate);

        // The engine works in stereo: a mono input feeds both sides, a mono output is their mean.
        std::vector<float> const& left = input[0];
        std::vector<float> const& right = input[static_cast<std::size_t>(layout.input_channels - 1)];
        double const wet = wet_gain / (layout.true_stereo ? std::max(peak_of(a), peak_of(b)) : peak_of(a));
        std::vector<std::vector<double>> expected(2, std::vector<double>(frames, 0.0));
        for (std::size_t side = 0; side < 2; ++side) {
            std::vector<float> const& dry_in = side == 0 ? left : right;
            auto add = [&](std::vector<float> const& x, std::vector<float> const& h) {
                std::vector<double> const y = reference_convolve(x, h, frames);
                for (int n = 0; n < frames; ++n)
                    expected[side][n] += wet * y[n];
            };
            for (int n = 0; n < frames; ++n)
                expected[side][n] = dry_gain * dry_in[n];
            if (layout.true_stereo) {
                add(left, a[side]);
                add(right, b[side]);
            } else {
                add(dry_in, a[side]);
            }
        }
        if (out_channels == 1) {
            for (int n = 0; n < frames; ++n)
                expected[0][n] = 0.5 * (expected[0][n] + expected[1][n]);
            expected.resize(1);
        }
        for (std::size_t c = 0; c < out_channels; ++c)
            EXPECT_LT(relative_error_db(output[c], expected[c]), -100.0) << "channel " << c;
    }
}

// Deterministic, in the input's format (24-bit here), with the tail added.
TEST_F(RenderTest, SameCommandGivesTheSameFile)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    Channels input(2, std::vector<float>(20000));
    for (auto& channel : input)
        for (float& v : channel)
            v = noise(random);
    std::string const in = write_wav("in.wav", input, 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    std::string const ir = write_wav("ir.wav", {decaying_noise(30000, 5), decaying_noise(30000, 6)}, 44100);
    for (char const* name : {"one.wav", "two.wav"})
        ASSERT_EQ(render({"--ir1-a", ir, "--tail", "0.5", in, (dir_ / name).string()}).exit_code, 0);
    std::string const first = slurp(dir_ / "one.wav");
    EXPECT_EQ(first.size(), 44 + 3u * 2u * (20000u + 22050u)); // 24-bit stereo, input + 0.5 s tail
    EXPECT_TRUE(first == slurp(dir_ / "two.wav"));
}

// Every failure: its message, its exit code, no output file and no partial file left behind, and
// an existing output untouched.
TEST_F(RenderTest, ErrorsExplainThemselvesAndLeaveNoFile)
{
    std::string const in = write_wav("in.wav", {std::vector<float>(1000, 0.1f)}, 48000);
    std::string const ir = write_wav("ir.wav", {decaying_noise(500, 1), decaying_noise(500, 2)}, 48000);
    std::ofstream(dir_ / "garbage.wav") << "not audio at all";
    std::ofstream(dir_ / "existing.wav") << "keep me";
    std::string const out = (dir_ / "out.wav").string(), existing = (dir_ / "existing.wav").string();
    std::string const missing = (dir_ / "missing.wav").string(), garbage = (dir_ / "garbage.wav").string();
    std::string const garbage_fir = (dir_ / "garbage.fir").string();
    std::ofstream(garbage_fir) << "xRIF but not much more";

    struct Case {
        std::vector<std::string> arguments;
        int exit_code;
        std::string message;
    };
    // clang-format off
    Case const cases[] = {
        {{"--ir1-a", ir, missing, out}, 2, "cannot read input '"},
        {{"--ir1-a", ir, garbage, out}, 2, "cannot read input '"},
        {{"--ir1-a", missing, in, out}, 2, "cannot read impulse response '"},
        {{"--ir1-a", garbage, in, out}, 2, "cannot read impulse response '"},
        {{"--ir1-a", ir, "--set", "no_such_key=0.5", in, existing}, 1, "unknown parameter key 'no_such_key'"},
        {{"--ir1-a", ir, "--set", "master_gain=1.5", in, existing}, 1,
         "value out of range for 'master_gain': 1.5 (unity values are 0 to 1)"},
        {{"--ir1-a", ir, "--set", "master_gain=nan", in, existing}, 1,
         "value of 'master_gain' is not a number"},
        {{"--ir1-a", ir, "--latency", "1000", in, existing}, 1, "--latency must be 0 or a power of two"},
        {{"--ir1-a", ir, "--tempo", "20", in, existing}, 1, "--tempo must be beats per minute from 30 to 200"},
        {{"--ir1-a", ir, "--set", "master_delay_l_delay_numer=99", in, existing}, 1,
         "value out of range for 'master_delay_l_delay_numer': 99 (whole numbers 1 to 63)"},
        {{"--ir1-a", ir, "--at", "soon", "master_mix=0", in, existing}, 1,
         "--at must be a number of seconds from 0 to the input's length, got 'soon'"},
        {{"--ir1-a", ir, "--at", "-0.01", "master_mix=0", in, existing}, 1,
         "--at must be a number of seconds from 0 to the input's length, got '-0.01'"},
        {{"--ir1-a", ir, "--at", "inf", "master_mix=0", in, existing}, 1,
         "--at must be a number of seconds from 0 to the input's length, got 'inf'"},
        {{"--ir1-a", ir, "--at", "0.021", "master_mix=0", in, existing}, 1, // the input lasts 1000/48000 s
         "--at must be a number of seconds from 0 to the input's length (0.0208333 s), got '0.021'"},
        {{"--ir1-a", ir, "--at", "0.01", "no_such_key=0.5", in, existing}, 1, "unknown parameter key 'no_such_key'"},
        {{"--ir1-a", ir, "--at", "0.01", "master_gain=1.5", in, existing}, 1,
         "value out of range for 'master_gain': 1.5 (unity values are 0 to 1)"},
        {{"--ir1-a", ir, "--at", "0.01", "master_delay_l_delay_numer=0", in, existing}, 1,
         "value out of range for 'master_delay_l_delay_numer': 0 (whole numbers 1 to 63)"},
        {{"--ir1-a", ir, "--at", "0.01", "master_mix", in, existing}, 1, "--at needs KEY=VALUE, got 'master_mix'"},
        {{"--ir1-a", ir, "--bogus", in, existing}, 1, "unknown option '--bogus'"},
        {{"--ir1-a", ir, in}, 1, "needs INPUT and OUTPUT"},
        {{"--ir1-a", ir, in, (dir_ / "no-folder" / "out.wav").string()}, 3, "cannot write output '"},
        {{in, out}, 2, "LongPlate-01-44100Hz.wav' is not installed: run corvella-factory-irs"},
        {{"--ir1-a", garbage_fir, in, out}, 2, "cannot read impulse response '" + garbage_fir + "': "},
    };
    // clang-format on
    for (Case const& c : cases) {
        SCOPED_TRACE(c.message);
        RunResult const run = render(c.arguments);
        EXPECT_EQ(run.exit_code, c.exit_code);
        EXPECT_NE(run.errors.find("corvella-render: "), std::string::npos) << run.errors;
        EXPECT_NE(run.errors.find(c.message), std::string::npos) << run.errors;
        EXPECT_FALSE(fs::exists(out));
    }
    EXPECT_EQ(slurp(existing), "keep me");
    for (auto const& entry : fs::directory_iterator(dir_.path()))
        EXPECT_EQ(entry.path().filename().string().find(".partial"), std::string::npos) << entry.path();
}

// A Fusion response: its head and its tail sets are heard, in the Fusion topology the file selects.
TEST_F(RenderTest, AFusionResponseIsHeardThroughTheStackedConvolver)
{
    fir_contents f;
    f.sample_rate = rate;
    for (int c = 0; c < 4; ++c) {
        f.head.emplace_back(3000, 0.0f);
        f.head.back()[10] = c == 0 || c == 3 ? 0.5f : 0.0f;
    }
    for (int c = 0; c < 32; ++c) {
        f.tail.emplace_back(3000, 0.0f);
        f.tail.back()[2000] = c % 4 == 0 || c % 4 == 3 ? 0.25f : 0.0f;
    }
    std::string error;
    std::string const bytes = fir_file_bytes(f, error);
    ASSERT_TRUE(error.empty()) << error;
    std::ofstream(dir_ / "room.fir", std::ios::binary) << bytes;
    std::vector<float> click(4000, 0.0f);
    click[0] = 1.0f;
    std::string const in = write_wav("click.wav", {click, std::vector<float>(4000, 0.0f)}, rate);
    std::string const out = (dir_ / "out.wav").string();
    RunResult const run = render({"--ir1-a", (dir_ / "room.fir").string(), "--set", "master_mix=1",
                                  "--set", "ir1_normalise=0", in, out});
    ASSERT_EQ(run.exit_code, 0) << run.errors;
    Channels const result = read_planar_audio(out);
    ASSERT_EQ(result.size(), 2u);
    std::vector<float> const& left = result[0];
    ASSERT_GT(std::fabs(left[10]), 1e-3f);
    EXPECT_NEAR(left[2000] / left[10], 0.5f, 1e-3f); // tail against head, as the file has them
    for (std::size_t i = 0; i < left.size(); ++i)
        if (i != 10 && i != 2000) {
            EXPECT_LT(std::fabs(left[i]), 1e-5f * std::fabs(left[10])) << i;
        }
    EXPECT_LT(peak_of({result[1]}), 1e-5f * std::fabs(left[10])); // nothing crosses to the right
}

// A bank file (a 160-byte header, then the 48 records) and one of its programs: program 5 is dry
// only, so the output is the input itself; the start-up program would have given reverb.
TEST_F(RenderTest, BankAndProgramSelectTheSettings)
{
    std::vector<VST_Plugin_Program> bank(programs_per_bank);
    for (auto& program : bank)
        program.reset();
    bank[5].master_mix = 0.0f;
    std::ofstream(dir_ / "bank.fxb", std::ios::binary)
        << std::string(160, '\0')
        << std::string(reinterpret_cast<char const*>(bank.data()), sizeof(VST_Plugin_Program) * bank.size());
    std::ofstream(dir_ / "short.fxb") << std::string(142714, '\0'); // the size of a preset file
    std::vector<float> signal(3000);
    for (std::size_t n = 0; n < signal.size(); ++n)
        signal[n] = 0.5f * std::sin(0.01f * static_cast<float>(n));
    std::string const in = write_wav("in.wav", {signal, signal}, 48000);
    RunResult const run = render({"--ir1-a", in, "--bank", (dir_ / "bank.fxb").string(), "--program", "5", in,
                                  (dir_ / "out.wav").string()});
    ASSERT_EQ(run.exit_code, 0) << run.errors;
    EXPECT_EQ(read_planar_audio(dir_ / "out.wav"), (Channels{signal, signal}));

    RunResult const refused = render(
        {"--bank", (dir_ / "short.fxb").string(), "--program", "1", in, (dir_ / "refused.wav").string()});
    EXPECT_EQ(refused.exit_code, 2);
    EXPECT_NE(refused.errors.find("is not a bank file (142714 bytes; a bank file has 142816)"),
              std::string::npos)
        << refused.errors;
    EXPECT_FALSE(fs::exists(dir_ / "refused.wav"));
}

// The master delay locked to the host tempo given by --tempo: an impulse through an impulse
// response of one sample comes out, wet only, once per side at n/16 of a bar at 100 BPM (a beat is
// 600 ms): 4/16 on the left (600 ms), 3/16 on the right (450 ms), the numerators set as slots.
TEST_F(RenderTest, MasterDelayEchoesAtTheTempoGiven)
{
    int const frames = 32000;
    std::vector<float> impulse(frames, 0.0f), ir(100, 0.0f);
    impulse[0] = ir[0] = 1.0f;
    std::string const in = write_wav("in.wav", {impulse, impulse}, rate);
    std::string const ir_file = write_wav("ir.wav", {ir, ir}, rate);
    std::vector<std::string> arguments{"--ir1-a", ir_file,
                                       "--tempo", "100",
                                       "--set",   "master_mix=1",
                                       "--set",   "master_delay_dry=0",
                                       "--set",   "master_delay_l_delay_numer=4",
                                       "--set",   "master_delay_r_delay_numer=3"};
    for (char const* side : {"l", "r"})
        for (std::string const setting : {"toggle=1", "delay_mod=0", "feedback=0", "feedback_opposite=0"})
            arguments.insert(arguments.end(), {"--set", std::string("master_delay_") + side + "_" + setting});
    arguments.insert(arguments.end(), {in, (dir_ / "out.wav").string()});
    RunResult const run = render(arguments);
    ASSERT_EQ(run.exit_code, 0) << run.errors;

    Channels const out = read_planar_audio(dir_ / "out.wav");
    ASSERT_EQ(out.size(), 2u);
    int const expected[2] = {rate * 600 / 1000, rate * 450 / 1000};
    for (int c = 0; c < 2; ++c) {
        auto const& channel = out[static_cast<std::size_t>(c)];
        auto const peak = std::max_element(channel.begin(), channel.end(),
                                           [](float a, float b) { return std::fabs(a) < std::fabs(b); });
        EXPECT_EQ(peak - channel.begin(), expected[c]) << "channel " << c;
        EXPECT_GT(std::fabs(*peak), 0.01f);
        // Nothing else: no dry signal, no echo at 120 BPM's 500 ms or 375 ms.
        double elsewhere = 0.0;
        for (int n = 0; n < frames; ++n)
            if (std::abs(n - expected[c]) > 2) elsewhere = std::max(elsewhere, double(std::fabs(channel[n])));
        EXPECT_LT(elsewhere, 1e-3 * std::fabs(*peak)) << "channel " << c;
    }
}

// --at changes land at their input samples, in time order whatever their order on the command line,
// those of one time in command-line order: fully dry from T1 (master_mix 0.75, then 0), 30 dB down
// from T2 (master_gain 0). Before T1 the output has the same bits as the render without changes.
// The 20 ms after a change are not judged: gains may glide there. Blocks of 8192 frames: a change
// held back to, or brought forward to, a block boundary misses its span.
TEST_F(RenderTest, AtChangesLandAtTheirSamplesInTimeOrder)
{
    int const frames = rate / 2;
    int const t1 = 4801, t2 = 14400; // 0.100015 s rounds up to 4801, 0.3 s
    int const settle = rate / 50;    // 20 ms
    double const minus_30_db = std::pow(10.0, -30.0 / 20.0);
    std::mt19937 random(11);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    Channels input(2, std::vector<float>(frames));
    for (auto& channel : input)
        for (float& v : channel)
            v = noise(random);
    std::string const in = write_wav("in.wav", input, rate);
    std::string const ir = write_wav("ir.wav", {decaying_noise(3000, 8), decaying_noise(3000, 9)}, rate);
    // Wet only at 0 dB at first, so that the dry signal after T1 is a change. Blocks of 512: a gain
    // glides over the block it changes in, so 20 ms after a change it has arrived.
    std::vector<std::string> const start = {"--ir1-a",         ir,      "--block",     "512",  "--set",
                                            "master_gain=0.5", "--set", "master_mix=1"};
    auto run = [&](std::vector<std::string> changes, std::string const& name) {
        changes.insert(changes.begin(), start.begin(), start.end());
        changes.insert(changes.end(), {in, (dir_ / name).string()});
        RunResult const result = render(changes);
        EXPECT_EQ(result.exit_code, 0) << result.errors;
        return read_planar_audio(dir_ / name);
    };
    Channels const unchanged = run({}, "unchanged.wav");
    Channels const changed = run({"--at", "0.3", "master_gain=0", "--at", "0.100015", "master_mix=0.75",
                                  "--at", "0.100015", "master_mix=0"},
                                 "changed.wav");
    ASSERT_EQ(unchanged.size(), 2u);
    ASSERT_EQ(changed.size(), 2u);
    for (std::size_t c = 0; c < 2; ++c) {
        SCOPED_TRACE("channel " + std::to_string(c));
        ASSERT_EQ(changed[c].size(), static_cast<std::size_t>(frames));
        auto const first_difference =
            std::mismatch(changed[c].begin(), changed[c].end(), unchanged[c].begin()).first -
            changed[c].begin();
        EXPECT_GE(first_difference, t1);
        double dry_error = 0.0, quiet_error = 0.0, unchanged_from_dry = 0.0;
        for (int n = t1 + settle; n < t2; ++n) {
            dry_error = std::max(dry_error, std::fabs(double(changed[c][n]) - input[c][n]));
            unchanged_from_dry =
                std::max(unchanged_from_dry, std::fabs(double(unchanged[c][n]) - input[c][n]));
        }
        for (int n = t2 + settle; n < frames; ++n)
            quiet_error = std::max(quiet_error, std::fabs(double(changed[c][n]) - minus_30_db * input[c][n]));
        EXPECT_LT(dry_error, 1e-6);
        EXPECT_LT(quiet_error, 1e-6);
        EXPECT_GT(unchanged_from_dry, 0.05); // the change made a difference
    }
}

// Click-free changes as a host's automation makes them: a pre-delay change at T sounds like the old
// setting on the input before T added to the new setting on the input from T (the old reverb rings
// out, nothing is cut or silenced), and a master gain step glides instead of clicking.
TEST_F(RenderTest, AtChangesRingOutAndGlide)
{
    int const frames = rate, t = rate / 3;
    std::mt19937 random(12);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    Channels input(2, std::vector<float>(frames)), before(2, std::vector<float>(frames, 0.0f)), after = before;
    for (std::size_t c = 0; c < 2; ++c)
        for (int n = 0; n < frames; ++n) {
            input[c][n] = noise(random);
            (n < t ? before : after)[c][n] = input[c][n];
        }
    std::string const ir = write_wav("ir.wav", {decaying_noise(12000, 8), decaying_noise(12000, 9)}, rate);
    auto run = [&](Channels const& audio, std::vector<std::string> settings, std::string const& name) {
        std::vector<std::string> arguments{"--ir1-a", ir, "--set", "master_gain=0.5", "--set", "master_mix=1"};
        arguments.insert(arguments.end(), settings.begin(), settings.end());
        arguments.insert(arguments.end(), {write_wav(name + "-in.wav", audio, rate), (dir_ / name).string()});
        RunResult const result = render(arguments);
        EXPECT_EQ(result.exit_code, 0) << result.errors;
        return read_planar_audio(dir_ / name);
    };
    Channels const old_part = run(before, {}, "old.wav");
    Channels const new_part = run(after, {"--set", "ir1_pre_delay=0.1"}, "new.wav");
    Channels const changed = run(input, {"--at", std::to_string(double(t) / rate), "ir1_pre_delay=0.1"}, "changed.wav");
    ASSERT_EQ(changed.size(), 2u);
    double peak = 0.0, error = 0.0;
    for (std::size_t c = 0; c < 2; ++c)
        for (int n = 0; n < frames; ++n) {
            double const expected = double(old_part[c][n]) + new_part[c][n];
            peak = std::max(peak, std::fabs(expected));
            error = std::max(error, std::fabs(changed[c][n] - expected));
        }
    EXPECT_LT(20.0 * std::log10(error / peak), -60.0);

    // Master gain down at T on a sine, whose reverb moves smoothly: the largest step within 50 ms
    // of T is at most twice the largest of the unchanged render there.
    Channels sine(2, std::vector<float>(frames));
    for (std::size_t c = 0; c < 2; ++c)
        for (int n = 0; n < frames; ++n)
            sine[c][n] = static_cast<float>(0.5 * std::sin(2.0 * 3.141592653589793 * 440.0 * n / rate));
    Channels const steady = run(sine, {}, "steady.wav");
    Channels const stepped = run(sine, {"--at", std::to_string(double(t) / rate), "master_gain=0.3"}, "stepped.wav");
    auto largest_step = [&](Channels const& audio) {
        double step = 0.0;
        for (std::size_t c = 0; c < 2; ++c)
            for (int n = t - rate / 20; n < t + rate / 20; ++n)
                step = std::max(step, std::fabs(double(audio[c][n + 1]) - audio[c][n]));
        return step;
    };
    EXPECT_LE(largest_step(stepped), 2.0 * largest_step(steady));
}

// A factory bank named by its menu entry is the bank file in the factory Banks folder.
TEST_F(RenderTest, AFactoryBankCanBeNamedByItsMenuEntry)
{
    std::string const make = "XDG_DATA_HOME=" + quote((dir_ / "data").string()) + " " +
                             CORVELLA_FACTORY_IRS_PROGRAM + " > /dev/null 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0);
    std::vector<float> click(9600, 0.0f);
    click[0] = 0.5f;
    std::string const in = write_wav("click.wav", {click, click}, rate);
    std::string const file =
        (dir_ / "data/Audio/Impulse Responses/Tarnwick/Corvella/Banks/Corvella Presets Tails Enhanced.fxb").string();
    RunResult const by_name = render({"--bank", "Customisable Synthetic Tails Set", "--program", "7", in,
                                      (dir_ / "by-name.wav").string()});
    RunResult const by_path = render({"--bank", file, "--program", "7", in, (dir_ / "by-path.wav").string()});
    ASSERT_EQ(by_name.exit_code, 0) << by_name.errors;
    ASSERT_EQ(by_path.exit_code, 0) << by_path.errors;
    Channels const a = read_planar_audio(dir_ / "by-name.wav"), b = read_planar_audio(dir_ / "by-path.wav");
    EXPECT_EQ(a, b);
    double energy = 0.0;
    for (std::size_t n = 1; n < a[0].size(); ++n)
        energy += double(a[0][n]) * a[0][n];
    EXPECT_GT(energy, 1e-6); // the program's tail, not just the dry click
}

TEST_F(RenderTest, HelpStatesTheOptionsTheExitCodesAndTheLatencyRule)
{
    RunResult const help = render({"--help"});
    EXPECT_EQ(help.exit_code, 0);
    for (char const* text :
         {"--ir1-a FILE", "--ir1-b FILE", "--ir2-a FILE", "--ir2-b FILE", "--set KEY=VALUE",
          "--bank FILE --program N", "--latency N", "--block N", "--tail SECONDS", "--tempo BPM",
          "--at SECONDS KEY=VALUE", "--stereo-out", "--list-params", "shifted back by the", "Exit status: 0"})
        EXPECT_NE(help.output.find(text), std::string::npos) << text;
}

} // namespace
} // namespace corvella::test
