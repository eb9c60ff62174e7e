// corvella-render run as a user runs it: files in, files out, exit codes and messages.

#include "program/program_constants.h"
#include "program/vst_plugin_program.h"
#include "support/reference_convolution.h"
#include "support/temp_dir.h"
#include "support/wav_file.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace corvella::test {
namespace {

namespace fs = std::filesystem;
using Channels = PlanarAudio;

struct RunResult {
    int exit_code;
    std::string errors;
};

std::string quote(std::string const& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
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
        command += " > /dev/null 2> " + quote((dir_ / "stderr.txt").string());
        int const status = std::system(command.c_str());
        std::ifstream stream(dir_ / "stderr.txt");
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, {std::istreambuf_iterator<char>(stream), {}}};
    }
    std::string write_wav(std::string const& name, Channels const& channels, int rate,
                          int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT) const
    {
        EXPECT_TRUE(write_planar_wav(dir_ / name, channels, rate, format)) << name;
        return (dir_ / name).string();
    }
    static std::vector<float> decaying_noise(int length, unsigned seed)
    {
        std::mt19937 random(seed);
        std::normal_distribution<float> noise(0.0f, 0.2f);
        std::vector<float> ir(length);
        for (int i = 0; i < length; ++i)
            ir[i] = noise(random) * std::exp(-4.0f * i / length);
        return ir;
    }

    TempDir dir_;
};

// The documented gain chain of the default program with IR2 off, balance centred, IR1/IR2 mix at
// its centre with the default equal-sum law (cos^2(pi/4) = 0.5 for IR1):
// dry = min(1, 2 (1 - mix)) G x, wet = min(1, 2 mix) G 0.5 g_ir sr_gain (x * h / peak),
// with G and g_ir from the dual dB scaling (master -30..30 dB, IR -50..50 dB around 0.5) and
// sr_gain = 44100 / rate (the default "SRNorm" 0 normalises to 44.1 kHz).
struct Program {
    float master_mix = 0.75f;  // dry 0.5, wet 1
    float master_gain = 0.25f; // -15 dB
    float ir1_gain = 0.75f;    // +25 dB
    std::vector<std::string> arguments() const
    {
        return {"--set", "master_mix=" + std::to_string(master_mix),
                "--set", "master_gain=" + std::to_string(master_gain),
                "--set", "ir1_gain=" + std::to_string(ir1_gain)};
    }
    double dry() const { return std::min(1.0, 2.0 * (1.0 - master_mix)) * master(); }
    double wet(int rate) const
    {
        return std::min(1.0, 2.0 * master_mix) * master() * 0.5 * std::pow(10.0, 25.0 / 20.0) * 44100.0 /
               rate;
    }
    static double master() { return std::pow(10.0, -15.0 / 20.0); }
};

double peak_of(Channels const& channels)
{
    double peak = 0.0;
    for (auto const& channel : channels)
        for (float v : channel)
            peak = std::max(peak, static_cast<double>(std::fabs(v)));
    return peak;
}

// Sum of one input channel through one IR channel, scaled, added into `out`.
void add_convolved(std::vector<double>& out, std::vector<float> const& x, std::vector<float> const& h,
                   double gain)
{
    std::vector<double> const y = reference_convolve(x, h, out.size());
    for (std::size_t n = 0; n < out.size() && n < y.size(); ++n)
        out[n] += gain * y[n];
}

struct Layout {
    char const* name;
    int input_channels;
    bool stereo_out;
    bool true_stereo;
    int latency;
};

class RenderImpulseTest : public RenderTest, public ::testing::WithParamInterface<Layout> {};

TEST_P(RenderImpulseTest, ImpulseResponseThroughEveryGain)
{
    Layout const layout = GetParam();
    int const rate = 48000, frames = 6000, ir_length = 2500;

    // Input: two impulses of different heights (and, in stereo, different per side).
    Channels input(static_cast<std::size_t>(layout.input_channels), std::vector<float>(frames, 0.0f));
    input[0][100] = 1.0f;
    input[0][1700] = -0.5f;
    if (layout.input_channels == 2) {
        input[1][900] = 0.75f;
        input[1][1700] = 0.25f;
    }
    std::string const in_path = write_wav("in.wav", input, rate), out_path = (dir_ / "out.wav").string();

    // IR files: A (and B for true stereo), stereo, float at the render rate so that nothing is
    // resampled. Peak below 1 so that normalisation has work to do.
    Channels a = {decaying_noise(ir_length, 1), decaying_noise(ir_length, 2)};
    Channels b = {decaying_noise(ir_length, 3), decaying_noise(ir_length, 4)};
    double const peak = layout.true_stereo ? std::max(peak_of(a), peak_of(b)) : peak_of(a);

    Program const program;
    std::vector<std::string> arguments = {"--ir1-a", write_wav("room-L.wav", a, rate)};
    if (layout.true_stereo)
        arguments.insert(arguments.end(),
                         {"--ir1-b", write_wav("room-R.wav", b, rate), "--set", "ir1_topology=0.5"});
    for (auto const& argument : program.arguments())
        arguments.push_back(argument);
    arguments.insert(arguments.end(), {"--latency", std::to_string(layout.latency), "--block", "300"});
    if (layout.stereo_out) arguments.push_back("--stereo-out");
    arguments.insert(arguments.end(), {in_path, out_path});

    RunResult const run = render(arguments);
    ASSERT_EQ(run.exit_code, 0) << run.errors;
    int out_rate = 0;
    Channels const output = read_planar_audio(out_path, &out_rate);
    int const out_channels = layout.input_channels == 2 || layout.stereo_out ? 2 : 1;
    ASSERT_EQ(output.size(), static_cast<std::size_t>(out_channels));
    ASSERT_EQ(output[0].size(), static_cast<std::size_t>(frames));
    EXPECT_EQ(out_rate, rate);

    // Reference: the engine works in stereo; a mono input feeds both sides, a mono output is the
    // mean of the two sides.
    std::vector<float> const& in_left = input[0];
    std::vector<float> const& in_right = input[layout.input_channels == 2 ? 1 : 0];
    double const wet = program.wet(rate) / peak;
    std::vector<std::vector<double>> expected(2, std::vector<double>(frames, 0.0));
    for (int side = 0; side < 2; ++side) {
        std::vector<float> const& dry_in = side == 0 ? in_left : in_right;
        for (int n = 0; n < frames; ++n)
            expected[side][n] = program.dry() * dry_in[n];
        if (layout.true_stereo) {
            add_convolved(expected[side], in_left, a[side], wet);
            add_convolved(expected[side], in_right, b[side], wet);
        } else {
            add_convolved(expected[side], dry_in, a[side], wet);
        }
    }
    if (out_channels == 1) {
        for (int n = 0; n < frames; ++n)
            expected[0][n] = 0.5 * (expected[0][n] + expected[1][n]);
        expected.resize(1);
    }
    for (int c = 0; c < out_channels; ++c)
        EXPECT_LT(relative_error_db(output[c], expected[c]), -100.0) << "channel " << c;
}

INSTANTIATE_TEST_SUITE_P(Layouts, RenderImpulseTest,
                         ::testing::Values(Layout{"Stereo", 2, false, false, 0},
                                           Layout{"StereoLatency1024", 2, false, false, 1024},
                                           Layout{"MonoToMono", 1, false, false, 0},
                                           Layout{"MonoToMonoLatency1024", 1, false, false, 1024},
                                           Layout{"MonoToStereo", 1, true, false, 0},
                                           Layout{"TrueStereoPair", 2, false, true, 0},
                                           Layout{"TrueStereoPairLatency1024", 2, false, true, 1024}),
                         [](auto const& test_info) { return std::string(test_info.param.name); });

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
    std::ifstream one(dir_ / "one.wav", std::ios::binary), two(dir_ / "two.wav", std::ios::binary);
    std::string const first{std::istreambuf_iterator<char>(one), {}},
        second{std::istreambuf_iterator<char>(two), {}};
    EXPECT_EQ(first.size(), 44 + 3u * 2u * (20000u + 22050u)); // 24-bit stereo, input + 0.5 s tail
    EXPECT_TRUE(first == second);
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

    struct Case {
        std::vector<std::string> arguments;
        int exit_code;
        std::string message;
    };
    std::vector<Case> const cases = {
        {{"--ir1-a", ir, (dir_ / "missing.wav").string(), out}, 2, "cannot read input '"},
        {{"--ir1-a", ir, (dir_ / "garbage.wav").string(), out}, 2, "cannot read input '"},
        {{"--ir1-a", (dir_ / "nothing.wav").string(), in, out}, 2, "cannot read impulse response '"},
        {{"--ir1-a", (dir_ / "garbage.wav").string(), in, out}, 2, "cannot read impulse response '"},
        {{"--ir1-a", ir, "--set", "no_such_key=0.5", in, existing}, 1, "unknown parameter key 'no_such_key'"},
        {{"--ir1-a", ir, "--set", "master_gain=1.5", in, existing},
         1,
         "value out of range for 'master_gain': 1.5 (unity values are 0 to 1)"},
        {{"--ir1-a", ir, "--set", "master_gain=nan", in, existing},
         1,
         "value of 'master_gain' is not a number"},
        {{"--ir1-a", ir, "--latency", "1000", in, existing}, 1, "--latency must be 0 or a power of two"},
        {{"--ir1-a", ir, "--bogus", in, existing}, 1, "unknown option '--bogus'"},
        {{"--ir1-a", ir, in}, 1, "needs INPUT and OUTPUT"},
        {{"--ir1-a", ir, in, (dir_ / "no-folder" / "out.wav").string()}, 3, "cannot write output '"},
        {{in, out}, 2, "LongPlate-01-44100Hz.wav' is not installed: run corvella-factory-irs"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.message);
        RunResult const run = render(c.arguments);
        EXPECT_EQ(run.exit_code, c.exit_code);
        EXPECT_NE(run.errors.find("corvella-render: "), std::string::npos) << run.errors;
        EXPECT_NE(run.errors.find(c.message), std::string::npos) << run.errors;
        EXPECT_FALSE(fs::exists(out));
    }
    std::ifstream kept(existing);
    std::string text;
    std::getline(kept, text);
    EXPECT_EQ(text, "keep me");
    for (auto const& entry : fs::directory_iterator(dir_.path()))
        EXPECT_EQ(entry.path().filename().string().find(".partial"), std::string::npos) << entry.path();
}

// A bank file (a 160-byte header, then the 48 records) and one of its programs: program 5 is dry
// only, so the output is the input itself; the start-up program would have given reverb.
TEST_F(RenderTest, BankAndProgramSelectTheSettings)
{
    std::vector<VST_Plugin_Program> bank(programs_per_bank);
    for (auto& program : bank)
        program.reset();
    bank[5].master_mix = 0.0f;
    {
        std::ofstream file(dir_ / "bank.fxb", std::ios::binary);
        file << std::string(160, '\0');
        file.write(reinterpret_cast<char const*>(bank.data()),
                   static_cast<std::streamsize>(sizeof(VST_Plugin_Program) * bank.size()));
    }
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

TEST_F(RenderTest, HelpStatesTheExitCodesAndTheLatencyRule)
{
    std::string const command = std::string(CORVELLA_RENDER_PROGRAM) + " --help";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string text;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr)
        text += buffer;
    EXPECT_EQ(pclose(pipe), 0);
    for (char const* option :
         {"--ir1-a FILE", "--ir1-b FILE", "--ir2-a FILE", "--ir2-b FILE", "--set KEY=VALUE",
          "--bank FILE --program N", "--latency N", "--block N", "--tail SECONDS", "--stereo-out",
          "--list-params", "shifted back by the", "Exit status: 0"})
        EXPECT_NE(text.find(option), std::string::npos) << option;
}

} // namespace
} // namespace corvella::test
