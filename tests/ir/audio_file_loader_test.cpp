// The audio file loader: formats, layouts, lengths and limits, WIR files, pairs, the steps after
// reading, and the default IR with its messages on every kind of failure.
#include "ir/audio_file_loader.h"

#include "ir/ir_shaping.h"
#include "ir/test_audio_files.h"
#include "support/message_recorder.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace corvella::test;
using corvella::AudioFileLoadReport;
namespace fs = std::filesystem;

constexpr char too_long_text[] =
    "File load error: impulse response too long. Processing will be disabled and plugin locked";
constexpr int wav = SF_FORMAT_WAV, aiff = SF_FORMAT_AIFF, flac = SF_FORMAT_FLAC;
constexpr int wav16 = wav | SF_FORMAT_PCM_16;

struct Options {
    bool simulate_true_stereo = false;
    float sts_seconds = 0.08f, sts_level = 1.0f;
    bool add_noise = false;
    float noise_level = 0.0f, noise_dry_gain = 1.0f;
    int noise_seed_offset = 0;
    float noise_release = 0.5f;
};

// One call's outcome; owns the buffer the loader allocated.
struct Load {
    float** buffer = nullptr;
    int allocated_length = -7, ir_length = -7, bit_depth = -7, file_rate = -1;
    AudioFileLoadReport report;

    Load(fs::path const& a, fs::path const& b, int engine_rate, Options const& o = {})
    {
        corvella::load_audio_files(a.string(), b.string(), buffer, engine_rate, allocated_length, ir_length,
                                   bit_depth, file_rate, o.simulate_true_stereo, o.sts_seconds, o.sts_level,
                                   o.add_noise, o.noise_level, o.noise_dry_gain, o.noise_seed_offset,
                                   o.noise_release, &report);
    }
    Load(Load const&) = delete;
    ~Load() { corvella::free_ir_load_buffer(buffer); }
    std::array<int, 4> outcome() const { return {ir_length, allocated_length, bit_depth, file_rate}; }
};

// Channel `c` holds expected(i) over its first `n` frames and silence after, up to the allocation.
template <typename F> void expect_channel(Load const& r, int c, int n, F expected)
{
    for (int i = 0; i < r.allocated_length; ++i)
        if (r.buffer[c][i] != (i < n ? expected(i) : 0.0f)) {
            ADD_FAILURE() << "channel " << c << " first differs at " << i << ": " << r.buffer[c][i];
            return;
        }
}

void expect_silent(Load const& r, int c)
{
    expect_channel(r, c, 0, [](int) { return 0.0f; });
}

auto file_channel(int channel, float gain = 1.0f)
{
    return [=](int i) { return test_signal(i, channel) * gain; };
}

void expect_same_buffers(Load const& actual, Load const& expected)
{
    ASSERT_EQ(actual.allocated_length, expected.allocated_length);
    for (int c = 0; c < 4; ++c)
        expect_channel(actual, c, actual.allocated_length, [&](int i) { return expected.buffer[c][i]; });
}

// One second of silence at the engine rate in a freshly allocated buffer.
void expect_default_ir(Load const& r, int engine_rate)
{
    ASSERT_NE(r.buffer, nullptr);
    EXPECT_EQ(r.allocated_length, 2 * engine_rate);
    EXPECT_EQ(r.ir_length, engine_rate);
    for (int c = 0; c < 4; ++c)
        expect_silent(r, c);
}

class AudioFileLoader : public ::testing::Test {
protected:
    fs::path path(std::string const& name) const { return dir_ / name; }
    fs::path wav16_file(std::string const& name, int channels, int rate, int frames)
    {
        EXPECT_TRUE(write_audio_file(path(name), wav16, channels, rate, frames));
        return path(name);
    }
    static RecordedMessage shown(std::string const& text) { return {"Tarn Wick: Corvella", text, 0}; }

    TempDir dir_;
    MessageRecorder messages_;
};

// The last 4, then 5, characters, ignoring case: four characters or fewer never match.
TEST(LoaderHelpers, ExtensionTestSilenceIrAndArgumentErrors)
{
    for (char const* name : {"hall.wir", "/irs/Hall.WiR", "a.wir"})
        EXPECT_TRUE(check_filename_extension(name, ".wir")) << name;
    for (char const* name : {"hall.wav", "hall.wir.wav", "hall.wirx", ".wir", ".WIR", "wir", ""})
        EXPECT_FALSE(check_filename_extension(name, ".wir")) << name;
    EXPECT_TRUE(check_filename_extension("a.FLAC", ".flac"));
    EXPECT_FALSE(check_filename_extension(".flac", ".flac"));

    // Sizes past 4 GiB stay whole (a sparse file takes no disk space).
    TempDir big;
    auto const huge = big.path() / "huge.wir";
    std::ofstream(huge).put('x');
    std::filesystem::resize_file(huge, (std::uintmax_t{1} << 32) + 3);
    EXPECT_EQ(get_file_size(huge.string()), (std::int64_t{1} << 32) + 3);
    EXPECT_EQ(get_file_size((big.path() / "missing").string()), -1);

    float** buffer = nullptr;
    int allocated = 0, length = 0, depth = 0, unused = 0;
    create_silence_ir(1234, buffer, 0, allocated, length, depth, unused);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ((std::array{allocated, length, depth}), (std::array{2468, 1234, 24}));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer) % 32, 0u);
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer[c]) % 32, 0u);
        EXPECT_EQ(std::count(buffer[c], buffer[c] + 2468, 0.0f), 2468) << "channel " << c;
    }
    corvella::free_ir_load_buffer(buffer);
    EXPECT_EQ(buffer, nullptr);

    for (int bad : {0, -5, 1 << 30})
        EXPECT_THROW(create_silence_ir(bad, buffer, 0, allocated, length, depth, unused),
                     std::invalid_argument);
    EXPECT_THROW(load_libsndfile_into_unallocated_memory("", "", buffer, 0, allocated, length, depth, unused,
                                                         nullptr, false, 0.08f, 1.0f, false, 0.0f, 1.0f, 0,
                                                         0.5f),
                 std::invalid_argument);
    EXPECT_EQ(buffer, nullptr);
}

TEST_F(AudioFileLoader, EveryFormatAndLayoutLoadsSampleExactAtItsOwnRate)
{
    // Allocated = L + L / 2 + 65,536 with L = frames + trunc(0.58 x rate).
    struct Case {
        char const* name;
        int format, channels, rate, bit_depth, allocated;
    };
    // clang-format off
    Case const cases[] = {
        {"w16_mono_44k.wav", wav | SF_FORMAT_PCM_16, 1, 44100, 16, 105403},
        {"w24_stereo_48k.wav", wav | SF_FORMAT_PCM_24, 2, 48000, 24, 108796},
        {"w32_quad_96k.wav", wav | SF_FORMAT_PCM_32, 4, 96000, 32, 150556},
        {"wfloat_stereo_44k.wav", wav | SF_FORMAT_FLOAT, 2, 44100, 32, 105403},
        {"a16_stereo_48k.aif", aiff | SF_FORMAT_PCM_16, 2, 48000, 16, 108796},
        {"a24_mono_96k.aiff", aiff | SF_FORMAT_PCM_24, 1, 96000, 24, 150556},
        {"f16_stereo_44k.flac", flac | SF_FORMAT_PCM_16, 2, 44100, 16, 105403},
        {"f24_quad_96k.flac", flac | SF_FORMAT_PCM_24, 4, 96000, 24, 150556},
    };
    // clang-format on
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(write_audio_file(path(c.name), c.format, c.channels, c.rate, 1000));
        Load const r(path(c.name), "", c.rate);
        ASSERT_FALSE(r.report.failed) << r.report.text;
        EXPECT_EQ(r.outcome(), (std::array{1000, c.allocated, c.bit_depth, c.rate}));
        expect_channel(r, 0, 1000, file_channel(0));
        expect_channel(r, 1, 1000, file_channel(c.channels == 1 ? 0 : 1));
        expect_silent(r, 2);
        expect_silent(r, 3);
        if (c.channels == 4) { // named as both sections: all four channels
            Load const both(path(c.name), path(c.name), c.rate);
            for (int ch = 0; ch < 4; ++ch)
                expect_channel(both, ch, 1000, file_channel(ch));
        }
    }
    EXPECT_EQ(messages_.count(), 0u);
}

// WIR samples are scaled by 0.01 in section A but 1/32,000 in section B; the longer file sets the
// length; section B alone leaves A silent and gives the rate and depth.
TEST_F(AudioFileLoader, SectionsWirScalingAndMixedPairs)
{
    auto other = [](std::int64_t f, int c) { return test_signal(f + 9, c + 1); };
    write_wir_file(path("a.wir"), 2, 48000, 500);
    write_wir_file(path("b.WIR"), 1, 48000, 800, other);
    Load const r(path("a.wir"), path("b.WIR"), 48000);
    ASSERT_FALSE(r.report.failed) << r.report.text;
    EXPECT_EQ(r.outcome(), (std::array{800, 108496, 32, 48000}));
    expect_channel(r, 0, 500, file_channel(0, 0.01f));
    expect_channel(r, 1, 500, file_channel(1, 0.01f));
    expect_channel(r, 2, 800, [&](int i) { return other(i, 0) * 0.00003125f; });
    expect_channel(r, 3, 800, [&](int i) { return other(i, 0) * 0.00003125f; });

    Load const mixed(path("a.wir"), wav16_file("b.wav", 1, 48000, 300), 48000);
    ASSERT_FALSE(mixed.report.failed) << mixed.report.text;
    EXPECT_EQ(mixed.outcome(), (std::array{500, 108046, 16, 48000}));
    expect_channel(mixed, 0, 500, file_channel(0, 0.01f));
    expect_channel(mixed, 2, 300, file_channel(0));

    Load const b_only("", wav16_file("b16.wav", 2, 44100, 300), 44100);
    ASSERT_FALSE(b_only.report.failed) << b_only.report.text;
    EXPECT_EQ(b_only.outcome(), (std::array{300, 104353, 16, 44100}));
    expect_silent(b_only, 0);
    expect_silent(b_only, 1);
    expect_channel(b_only, 2, 300, file_channel(0));
    expect_channel(b_only, 3, 300, file_channel(1));
}

// Each open section goes through the shaping resampler; the lengths allow for up-sampling.
TEST_F(AudioFileLoader, OtherRatesAreResampledSectionBySection)
{
    ASSERT_TRUE(write_audio_file(path("a.wav"), wav | SF_FORMAT_FLOAT, 2, 96000, 96000));
    ASSERT_TRUE(write_audio_file(path("b.wav"), wav | SF_FORMAT_FLOAT, 2, 96000, 4000,
                                 [](std::int64_t f, int c) { return test_signal(f, c + 2); }));
    Load const resampled(path("a.wav"), path("b.wav"), 48000);
    Load reference(path("a.wav"), path("b.wav"), 96000);
    // n = 96,000 + 55,680; 1.5 x 151,680 + 65,536.
    EXPECT_EQ(resampled.outcome(), (std::array{48000, 293056, 32, 96000}));
    for (int section = 0; section < 2; ++section) {
        int allocated = reference.allocated_length, length = 96000;
        resample_audio_file_into_preallocated_memory(reference.buffer + 2 * section, 96000, 48000, allocated,
                                                     length, 2);
    }
    expect_same_buffers(resampled, reference);

    // n = 29,988, L = trunc(29,988 x 48,000 / 44,100) = 32,640.
    Load const up(wav16_file("44k.wav", 2, 44100, 4410), "", 48000);
    EXPECT_EQ(up.outcome(), (std::array{4800, 114496, 16, 44100}));
}

TEST_F(AudioFileLoader, ALongestFileLoadsAndOneFrameMoreIsTooLong)
{
    // Silent files whose data is a hole, removed as soon as they are loaded.
    write_sparse_wave(path("limit.wav"), 1, 1, 44100, 16, corvella::max_file_frames);
    {
        Load const r(path("limit.wav"), "", 44100);
        ASSERT_FALSE(r.report.failed) << r.report.text;
        EXPECT_EQ(r.outcome(), (std::array{10583999, 15979901, 16, 44100})); // n = 10,583,999 + 25,578
    }
    fs::remove(path("limit.wav"));

    write_sparse_wave(path("over.wav"), 1, 1, 44100, 16, corvella::max_file_frames + 1);
    Load const refused(path("over.wav"), "", 44100);
    fs::remove(path("over.wav"));
    EXPECT_EQ(refused.report.text, too_long_text);
    EXPECT_FALSE(refused.report.shown) << "a general-format file was opened";
    expect_default_ir(refused, 44100);
    EXPECT_EQ(messages_.count(), 0u);

    write_sparse_wave(path("over.wir"), 3, 1, 44100, 32, corvella::max_file_frames + 1, true);
    Load const wir(path("over.wir"), "", 48000);
    fs::remove(path("over.wir"));
    EXPECT_EQ(messages_.messages(), std::vector{shown(too_long_text)});
    expect_default_ir(wir, 48000);
}

// Nothing is read and nothing runs: not even the simulated half or the noise.
TEST_F(AudioFileLoader, AGivenBufferIsNeverTouchedAndOnlyGetsTheLengths)
{
    ASSERT_TRUE(write_audio_file(path("96k.wav"), wav | SF_FORMAT_PCM_24, 2, 96000, 96000));
    std::vector<float> storage(4 * 64, 0.25f);
    float* channels[4] = {&storage[0], &storage[64], &storage[128], &storage[192]};
    float** buffer = channels;
    int allocated = 0, length = 0, depth = 0, rate = -1;
    corvella::load_audio_files(path("96k.wav").string(), "", buffer, 48000, allocated, length, depth, rate,
                               true, 0.08f, 1.0f, true, 0.5f, 1.0f, 0, 0.5f, nullptr);
    EXPECT_EQ(buffer, channels);
    EXPECT_EQ((std::array{length, allocated, depth, rate}), (std::array{48000, 293056, 24, 96000}));
    EXPECT_EQ(std::count(storage.begin(), storage.end(), 0.25f), 256);
}

// The simulated half is made from section A at the file rate, then shaped noise is added with
// twice the level and a seed from the grown length, and only then is everything resampled.
TEST_F(AudioFileLoader, SimulatedHalfAndNoiseRunAtTheFileRateBeforeResampling)
{
    Options const both{.simulate_true_stereo = true,
                       .sts_seconds = 0.05f,
                       .sts_level = 0.7f,
                       .add_noise = true,
                       .noise_level = 0.3f,
                       .noise_dry_gain = 0.8f,
                       .noise_seed_offset = 7,
                       .noise_release = 0.6f};
    ASSERT_TRUE(write_audio_file(path("a44.wav"), wav | SF_FORMAT_FLOAT, 2, 44100, 20000));
    Load const r(path("a44.wav"), "", 44100, both);
    Load reference(path("a44.wav"), "", 44100);
    ASSERT_FALSE(r.report.failed) << r.report.text;
    EXPECT_EQ(r.ir_length, 20000) << "at the file rate the length is the file's";
    int length = reference.ir_length;
    convolve_ir_ch01_with_noise_to_ch23(reference.buffer, reference.allocated_length, length, 0.05f, 44100, 0,
                                        0.7f);
    ASSERT_EQ(length, 20000 + 3528); // 80 ms more
    add_shaped_noise(reference.buffer, length, 4, 0.6f, 0.8f, 528 + 7, 0.6f, 44100);
    expect_same_buffers(r, reference);

    // Channels 2-3 are resampled for the simulated half even without section B.
    ASSERT_TRUE(write_audio_file(path("a96.wav"), wav | SF_FORMAT_FLOAT, 2, 96000, 20000));
    Load const resampled(path("a96.wav"), "", 48000, Options{.simulate_true_stereo = true});
    Load at_file_rate(path("a96.wav"), "", 96000, Options{.simulate_true_stereo = true});
    EXPECT_EQ(resampled.ir_length, 10000);
    for (int section = 0; section < 2; ++section) {
        int allocated = at_file_rate.allocated_length, grown = 20000 + 7680;
        resample_audio_file_into_preallocated_memory(at_file_rate.buffer + 2 * section, 96000, 48000,
                                                     allocated, grown, 2);
    }
    expect_same_buffers(resampled, at_file_rate);
}

// Each refusal with its text; shown only for a ".wir" file read before any general-format file.
TEST_F(AudioFileLoader, RefusalsGiveTheDefaultIrWithTheirTexts)
{
    fs::create_directory(path("folder.wav"));
    ASSERT_EQ(mkfifo(path("pipe.wav").c_str(), 0600), 0); // a pipe would block the loader
    wav16_file("a.wav", 1, 48000, 100);
    wav16_file("a44.wav", 2, 44100, 100);
    wav16_file("three.wav", 3, 48000, 100);
    wav16_file("six.wav", 6, 48000, 100);
    for (int rate : {7999, 8000, 200000, 200001})
        write_wir_file(path(std::to_string(rate) + ".wir"), 1, rate, 100);
    write_bytes(path("empty.wir"), {});
    write_bytes(path("empty.wav"), {});
    write_bytes(path("text.aif"), {'n', 'o', 't', ' ', 'a', 'u', 'd', 'i', 'o', '\n'});

    std::string const rates = "File loading error, IR files must be of the same sample rate for use as true "
                              "stereo pairs. Setting default IR.";
    std::string const channels = "). Only mono, stereo and quad files are supported.";
    std::string const bad_rate =
        "File loading error, unsupported or invalid sample rate reported. Setting default IR.";
    std::string const wir_unrecognised = "), WIR import found an unrecognised file. Setting default IR.";
    std::string const unrecognised = "), unrecognised format. Setting default IR.";
    auto not_loaded = [&](char const* name) {
        return "File " + path(name).string() + " could not be loaded.";
    };
    struct Case {
        char const *a, *b;
        std::string text; // empty: any
        bool shown;
        int file_rate; // -1: refused before a rate was read
    };
    // clang-format off
    Case const cases[] = {
        {"", "", "File loading error, no files selected. Setting default IR.", false, -1},
        {"missing.wav", "", not_loaded("missing.wav"), false, -1},  {"a.wav", "folder.wav", not_loaded("folder.wav"), false, -1},
        {"pipe.wav", "", not_loaded("pipe.wav"), false, -1},        {"a44.wav", "a.wav", rates, false, -1},
        {"three.wav", "", "File loading error (file a" + channels, false, 48000},
        {"a.wav", "six.wav", "File loading error (file b" + channels, false, 48000},
        {"7999.wir", "", bad_rate, true, 7999},                     {"200001.wir", "", bad_rate, true, 200001},
        {"a.wav", "empty.wir", "File loading error (IRx-B" + wir_unrecognised, false, -1},
        {"empty.wir", "a.wav", "File loading error (IRx-A" + wir_unrecognised, true, -1},
        {"empty.wav", "", "", false, -1},
        {"text.aif", "", "File loading error (IRx-A" + unrecognised, false, -1},
        {"a.wav", "text.aif", "File loading error (IRx-B" + unrecognised, false, -1},
    };
    // clang-format on
    for (Case const& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " + " + c.b);
        messages_.clear();
        Load const r(*c.a ? path(c.a) : fs::path(), *c.b ? path(c.b) : fs::path(), 44100);
        EXPECT_TRUE(r.report.failed);
        EXPECT_TRUE(c.text.empty() || r.report.text == c.text) << r.report.text;
        EXPECT_EQ(r.report.shown, c.shown);
        EXPECT_EQ(messages_.messages(),
                  c.shown ? std::vector{shown(r.report.text)} : std::vector<RecordedMessage>{});
        EXPECT_EQ(r.outcome(), (std::array{44100, 88200, 24, c.file_rate}));
        expect_default_ir(r, 44100);
    }
    // The limits themselves load.
    EXPECT_FALSE(Load(path("8000.wir"), {}, 8000).report.failed);
    EXPECT_FALSE(Load(path("200000.wir"), {}, 200000).report.failed);
}

// -3 and -4 of the WIR import: an unreadable file, and a kernel attribute file that reports a page
// as its size but yields only its text. A general file that cannot be read is not shown.
TEST_F(AudioFileLoader, UnreadableOrShortWirFilesAreShownAndGeneralOnesAreSilent)
{
    fs::path const attribute = "/sys/kernel/mm/transparent_hugepage/enabled";
    std::error_code error;
    if (fs::file_size(attribute, error) >= 100 && !error) {
        write_wir_file(path("a.wir"), 1, 48000, 100);
        fs::create_symlink(attribute, path("short.wir"));
        expect_default_ir(Load(path("a.wir"), path("short.wir"), 48000), 48000);
        EXPECT_EQ(messages_.messages(),
                  std::vector{shown("File loading error (IRx-B), WIR import failed to read "
                                    "entire file. Setting default IR.")});
        messages_.clear();
    }
    auto const wir = path("locked.wir"), general = path("locked.wav");
    if (!make_unreadable_file(wir, [&] { write_wir_file(wir, 1, 48000, 100); }) ||
        !make_unreadable_file(general, [&] { write_audio_file(general, wav16, 1, 48000, 100); }))
        GTEST_SKIP() << "no way to make an unreadable file here";
    expect_default_ir(Load(wir, "", 48000), 48000);
    EXPECT_EQ(messages_.messages(),
              std::vector{
                  shown("File loading error (IRx-A), WIR import could not open file. Setting default IR.")});
    Load const locked(general, "", 48000);
    EXPECT_EQ(locked.report.text,
              "File loading error (IRx-A), file could not be found or a more general file "
              "system error occurred. Setting default IR.");
    EXPECT_FALSE(locked.report.shown);
    EXPECT_EQ(messages_.count(), 1u);
    expect_default_ir(locked, 48000);
}

// A garbage file and a file cut inside its header, under every extension the file browser lists,
// as section A and as section B; a file cut inside its samples loads what is there.
TEST_F(AudioFileLoader, DamagedFilesOfEveryExtensionEndInTheDefaultIr)
{
    Bytes garbage(4096);
    std::uint32_t state = 12345;
    for (auto& byte : garbage)
        byte = static_cast<unsigned char>((state = state * 1664525u + 1013904223u) >> 24);
    // A real file of the format the extension names (WAVE for the rest; 0: ".wir"), cut after 30 bytes.
    std::pair<std::string, int> const kinds[] = {{".wav", wav16},
                                                 {".aif", aiff | SF_FORMAT_PCM_16},
                                                 {".aiff", aiff | SF_FORMAT_PCM_16},
                                                 {".flac", flac | SF_FORMAT_PCM_16},
                                                 {".wir", 0},
                                                 {".sd2", wav16},
                                                 {".sdir", wav16}};
    for (auto const& [extension, format] : kinds) {
        write_bytes(path("garbage" + extension), garbage);
        auto const whole = path("whole" + extension);
        if (format == 0)
            write_wir_file(whole, 2, 48000, 1000);
        else
            ASSERT_TRUE(write_audio_file(whole, format, 2, 48000, 1000));
        auto bytes = read_bytes(whole);
        bytes.resize(30);
        write_bytes(path("cut" + extension), bytes);

        for (std::string const name : {"garbage", "cut"}) {
            SCOPED_TRACE(name + extension);
            Load const as_a(path(name + extension), "", 48000);
            EXPECT_TRUE(as_a.report.failed);
            EXPECT_EQ(as_a.report.shown, extension == ".wir");
            if (extension == ".wir") {
                EXPECT_EQ(
                    as_a.report.text,
                    "File loading error (IRx-A), WIR import found an unrecognised file. Setting default IR.");
            }
            expect_default_ir(as_a, 48000);
            Load const as_b(whole, path(name + extension), 48000);
            EXPECT_TRUE(as_b.report.failed);
            expect_default_ir(as_b, 48000);
        }
    }
    auto const bytes = read_bytes(path("whole.wav"));
    write_bytes(path("cut.wav"), Bytes(bytes.begin(), bytes.end() - 2000)); // 500 of 1000 frames
    Load const r(path("cut.wav"), "", 48000);
    ASSERT_FALSE(r.report.failed) << r.report.text;
    ASSERT_GT(r.ir_length, 0);
    ASSERT_LE(r.ir_length, 1000);
    expect_channel(r, 0, 500, file_channel(0));
}

} // namespace
