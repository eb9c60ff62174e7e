// The audio file loader: formats, channel layouts, lengths and limits, WIR files, pairs, and the
// default IR with its messages on every kind of failure.
#include "ir/audio_file_loader.h"

#include "ir/ir_shaping.h"
#include "ir/test_audio_files.h"
#include "support/message_recorder.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

namespace {

using corvella::AudioFileLoadReport;
using corvella::test::make_unreadable_file;
using corvella::test::MessageRecorder;
using corvella::test::RecordedMessage;
using corvella::test::TempDir;
using corvella::test::test_signal;
using corvella::test::write_audio_file;
using corvella::test::write_bytes;
using corvella::test::write_sparse_wave;
using corvella::test::write_wir_file;

constexpr char engine_caption[] = "Tarn Wick: Corvella";

// Texts as the user sees them.
constexpr char no_files_text[] = "File loading error, no files selected. Setting default IR.";
constexpr char rates_differ_text[] = "File loading error, IR files must be of the same sample rate for use "
                                     "as true stereo pairs. Setting default IR.";
constexpr char channels_a_text[] =
    "File loading error (file a). Only mono, stereo and quad files are supported.";
constexpr char channels_b_text[] =
    "File loading error (file b). Only mono, stereo and quad files are supported.";
constexpr char too_long_text[] =
    "File load error: impulse response too long. Processing will be disabled and plugin locked";
constexpr char bad_rate_text[] =
    "File loading error, unsupported or invalid sample rate reported. Setting default IR.";
constexpr char wir_unrecognised_a_text[] =
    "File loading error (IRx-A), WIR import found an unrecognised file. Setting default IR.";
constexpr char wir_unrecognised_b_text[] =
    "File loading error (IRx-B), WIR import found an unrecognised file. Setting default IR.";
constexpr char wir_cannot_open_a_text[] =
    "File loading error (IRx-A), WIR import could not open file. Setting default IR.";
constexpr char wir_short_read_b_text[] =
    "File loading error (IRx-B), WIR import failed to read entire file. Setting default IR.";
constexpr char unrecognised_a_text[] = "File loading error (IRx-A), unrecognised format. Setting default IR.";
constexpr char unrecognised_b_text[] = "File loading error (IRx-B), unrecognised format. Setting default IR.";
constexpr char system_error_a_text[] =
    "File loading error (IRx-A), file could not be found or a more general file "
    "system error occurred. Setting default IR.";

struct Options {
    bool simulate_true_stereo = false;
    float sts_seconds = 0.08f;
    float sts_level = 1.0f;
    bool add_noise = false;
    float noise_level = 0.0f;
    float noise_dry_gain = 1.0f;
    int noise_seed_offset = 0;
    float noise_release = 0.5f;
};

// One call's outcome; owns the buffer the loader allocated.
struct Load {
    float** buffer = nullptr;
    int allocated_length = -7;
    int ir_length = -7;
    int bit_depth = -7;
    int file_rate = -1;
    AudioFileLoadReport report;

    Load() = default;
    Load(Load&& other) noexcept
        : buffer(std::exchange(other.buffer, nullptr)), allocated_length(other.allocated_length),
          ir_length(other.ir_length), bit_depth(other.bit_depth), file_rate(other.file_rate),
          report(other.report)
    {
    }
    Load& operator=(Load&&) = delete;
    ~Load() { corvella::free_ir_load_buffer(buffer); }

    float at(int channel, int frame) const { return buffer[channel][frame]; }
};

Load load(std::filesystem::path const& a, std::filesystem::path const& b, int engine_rate,
          Options const& o = {})
{
    Load result;
    corvella::load_audio_files(a.string(), b.string(), result.buffer, engine_rate, result.allocated_length,
                               result.ir_length, result.bit_depth, result.file_rate, o.simulate_true_stereo,
                               o.sts_seconds, o.sts_level, o.add_noise, o.noise_level, o.noise_dry_gain,
                               o.noise_seed_offset, o.noise_release, &result.report);
    return result;
}

// Through the system's own entry, without a report.
Load load_plain(std::string const& a, std::string const& b, int engine_rate)
{
    Load result;
    load_libsndfile_into_unallocated_memory(a, b, result.buffer, engine_rate, result.allocated_length,
                                            result.ir_length, result.bit_depth, result.file_rate, nullptr,
                                            false, 0.08f, 1.0f, false, 0.0f, 1.0f, 0, 0.5f);
    return result;
}

// The first index where a channel differs from `expected` over [from, to), or -1.
template <typename F> int first_mismatch(float const* channel, int from, int to, F expected)
{
    for (int i = from; i < to; ++i)
        if (channel[i] != expected(i)) return i;
    return -1;
}

int first_non_zero(float const* channel, int from, int to)
{
    return first_mismatch(channel, from, to, [](int) { return 0.0f; });
}

void expect_default_ir(Load const& result, int engine_rate)
{
    ASSERT_NE(result.buffer, nullptr);
    EXPECT_EQ(result.allocated_length, 2 * engine_rate);
    EXPECT_EQ(result.ir_length, engine_rate);
    for (int c = 0; c < 4; ++c) {
        ASSERT_NE(result.buffer[c], nullptr) << "channel " << c;
        EXPECT_EQ(first_non_zero(result.buffer[c], 0, 2 * engine_rate), -1) << "channel " << c;
    }
}

class AudioFileLoader : public ::testing::Test {
protected:
    std::filesystem::path path(std::string const& name) const { return dir_ / name; }

    TempDir dir_;
    MessageRecorder messages_;
};

// ---------------------------------------------------------------------------------------------
// Helpers

TEST(CheckFilenameExtension, ComparesTheLastFourOrFiveCharactersIgnoringCase)
{
    EXPECT_TRUE(check_filename_extension("hall.wir", ".wir"));
    EXPECT_TRUE(check_filename_extension("HALL.WIR", ".wir"));
    EXPECT_TRUE(check_filename_extension("/irs/Hall.WiR", ".wir"));
    EXPECT_TRUE(check_filename_extension("hall.flac", ".flac"));
    EXPECT_TRUE(check_filename_extension("hall.FLAC", ".flac"));
    EXPECT_FALSE(check_filename_extension("hall.wav", ".wir"));
    EXPECT_FALSE(check_filename_extension("hall.wir.wav", ".wir"));
    EXPECT_FALSE(check_filename_extension("hall.wirx", ".wir"));
}

TEST(CheckFilenameExtension, ANameOfFourCharactersOrFewerNeverMatches)
{
    EXPECT_FALSE(check_filename_extension(".wir", ".wir"));
    EXPECT_FALSE(check_filename_extension(".WIR", ".wir"));
    EXPECT_FALSE(check_filename_extension("wir", ".wir"));
    EXPECT_FALSE(check_filename_extension("", ".wir"));
    EXPECT_TRUE(check_filename_extension("a.wir", ".wir"));
    EXPECT_FALSE(check_filename_extension(".flac", ".flac")) << "five characters are not longer than five";
    EXPECT_TRUE(check_filename_extension("a.flac", ".flac"));
}

TEST(GetFileSize, ReportsBytesOrMinusOne)
{
    TempDir dir;
    write_bytes(dir / "seven", {1, 2, 3, 4, 5, 6, 7});
    EXPECT_EQ(get_file_size((dir / "seven").string()), 7);
    write_bytes(dir / "empty", {});
    EXPECT_EQ(get_file_size((dir / "empty").string()), 0);
    EXPECT_EQ(get_file_size((dir / "missing").string()), -1);
}

TEST(GetFileSize, TruncatesTo32Bits)
{
    TempDir dir;
    auto const path = dir / "sparse";
    write_bytes(path, {});
    std::filesystem::resize_file(path, (std::uint64_t{1} << 32) + 5); // a hole: costs no disk
    EXPECT_EQ(get_file_size(path.string()), 5);
}

TEST(CreateSilenceIr, AllocatesFourZeroedChannelsOfTwiceTheLength)
{
    float** buffer = nullptr;
    int allocated = 0, length = 0, depth = 0, unused = 0;
    create_silence_ir(1234, buffer, 0, allocated, length, depth, unused);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(allocated, 2468);
    EXPECT_EQ(length, 1234);
    EXPECT_EQ(depth, 24);
    for (int c = 0; c < 4; ++c) {
        ASSERT_NE(buffer[c], nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer[c]) % 32, 0u);
        EXPECT_EQ(first_non_zero(buffer[c], 0, 2468), -1) << "channel " << c;
    }
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer) % 32, 0u);
    corvella::free_ir_load_buffer(buffer);
    EXPECT_EQ(buffer, nullptr);
}

TEST(CreateSilenceIr, AnExistingBufferIsKeptAndOnlyTheLengthsAreSet)
{
    float** buffer = nullptr;
    int allocated = 0, length = 0, depth = 0, unused = 0;
    create_silence_ir(100, buffer, 0, allocated, length, depth, unused);
    float** const kept = buffer;
    buffer[0][5] = 0.5f;
    create_silence_ir(50, buffer, 0, allocated, length, depth, unused);
    EXPECT_EQ(buffer, kept);
    EXPECT_EQ(buffer[0][5], 0.5f);
    EXPECT_EQ(allocated, 100);
    EXPECT_EQ(length, 50);
    corvella::free_ir_load_buffer(buffer);
}

TEST(CreateSilenceIr, RefusesLengthsItCannotRepresent)
{
    float** buffer = nullptr;
    int allocated = 0, length = 0, depth = 0, unused = 0;
    EXPECT_THROW(create_silence_ir(0, buffer, 0, allocated, length, depth, unused), std::invalid_argument);
    EXPECT_THROW(create_silence_ir(-5, buffer, 0, allocated, length, depth, unused), std::invalid_argument);
    EXPECT_THROW(create_silence_ir(1 << 30, buffer, 0, allocated, length, depth, unused),
                 std::invalid_argument);
    EXPECT_EQ(buffer, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Formats: every layout and encoding loads sample-exact at its own rate

struct FormatCase {
    char const* name;
    int format;
    int channels;
    int rate;
    int bit_depth;
    int allocated_length; // for 1000 frames at the file's own rate, worked out by hand
};

std::ostream& operator<<(std::ostream& out, FormatCase const& c)
{
    return out << c.name;
}

class LoaderFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(LoaderFormats, LoadsEveryFrameIntoTheRightChannels)
{
    FormatCase const& c = GetParam();
    TempDir dir;
    auto const file = dir / c.name;
    ASSERT_TRUE(write_audio_file(file, c.format, c.channels, c.rate, 1000));
    MessageRecorder messages;

    Load const result = load(file, "", c.rate);

    ASSERT_FALSE(result.report.failed) << result.report.text;
    EXPECT_EQ(messages.count(), 0u);
    EXPECT_EQ(result.ir_length, 1000);
    EXPECT_EQ(result.allocated_length, c.allocated_length);
    EXPECT_EQ(result.bit_depth, c.bit_depth);
    EXPECT_EQ(result.file_rate, c.rate);
    int const first = 0;
    int const second = c.channels == 1 ? 0 : 1;
    EXPECT_EQ(first_mismatch(result.buffer[0], 0, 1000, [&](int i) { return test_signal(i, first); }), -1);
    EXPECT_EQ(first_mismatch(result.buffer[1], 0, 1000, [&](int i) { return test_signal(i, second); }), -1);
    for (int ch = 0; ch < 2; ++ch)
        EXPECT_EQ(first_non_zero(result.buffer[ch], 1000, result.allocated_length), -1) << "channel " << ch;
    for (int ch = 2; ch < 4; ++ch)
        EXPECT_EQ(first_non_zero(result.buffer[ch], 0, result.allocated_length), -1) << "channel " << ch;
}

constexpr int wav = SF_FORMAT_WAV;
constexpr int aiff = SF_FORMAT_AIFF;
constexpr int flac = SF_FORMAT_FLAC;

// allocated length = L + L / 2 + 65,536 with L = 1000 + trunc(0.58 x rate):
// 44.1 kHz: 26,578 -> 105,403; 48 kHz: 28,840 -> 108,796; 96 kHz: 56,680 -> 150,556.
INSTANTIATE_TEST_SUITE_P(
    AudioFileLoader, LoaderFormats,
    ::testing::Values(FormatCase{"wav16_mono_44k.wav", wav | SF_FORMAT_PCM_16, 1, 44100, 16, 105403},
                      FormatCase{"wav24_stereo_48k.wav", wav | SF_FORMAT_PCM_24, 2, 48000, 24, 108796},
                      FormatCase{"wav32_quad_96k.wav", wav | SF_FORMAT_PCM_32, 4, 96000, 32, 150556},
                      FormatCase{"wavfloat_stereo_44k.wav", wav | SF_FORMAT_FLOAT, 2, 44100, 32, 105403},
                      FormatCase{"wav16_quad_48k.wav", wav | SF_FORMAT_PCM_16, 4, 48000, 16, 108796},
                      FormatCase{"aiff16_stereo_48k.aif", aiff | SF_FORMAT_PCM_16, 2, 48000, 16, 108796},
                      FormatCase{"aiff24_mono_96k.aiff", aiff | SF_FORMAT_PCM_24, 1, 96000, 24, 150556},
                      FormatCase{"flac16_stereo_44k.flac", flac | SF_FORMAT_PCM_16, 2, 44100, 16, 105403},
                      FormatCase{"flac24_quad_96k.flac", flac | SF_FORMAT_PCM_24, 4, 96000, 24, 150556}),
    [](::testing::TestParamInfo<FormatCase> const& case_info) {
        std::string name = case_info.param.name;
        for (char& ch : name)
            if (ch == '.') ch = '_';
        return name;
    });

TEST_F(AudioFileLoader, AnEightBitFileReportsTwentyFour)
{
    ASSERT_TRUE(write_audio_file(path("eight.wav"), wav | SF_FORMAT_PCM_U8, 1, 48000, 100));
    Load const result = load(path("eight.wav"), "", 48000);
    ASSERT_FALSE(result.report.failed) << result.report.text;
    EXPECT_EQ(result.bit_depth, 24);
}

TEST_F(AudioFileLoader, AQuadFileNamedAsBothSectionsLoadsAllFourChannels)
{
    ASSERT_TRUE(write_audio_file(path("ts.wav"), wav | SF_FORMAT_FLOAT, 4, 48000, 700));
    Load const result = load(path("ts.wav"), path("ts.wav"), 48000);
    ASSERT_FALSE(result.report.failed) << result.report.text;
    for (int ch = 0; ch < 4; ++ch)
        EXPECT_EQ(first_mismatch(result.buffer[ch], 0, 700, [&](int i) { return test_signal(i, ch); }), -1)
            << "channel " << ch;
}

TEST_F(AudioFileLoader, SectionBFillsChannelsTwoAndThree)
{
    auto shifted = [](std::int64_t frame, int channel) { return test_signal(frame + 333, channel + 5); };
    ASSERT_TRUE(write_audio_file(path("a.wav"), wav | SF_FORMAT_PCM_24, 2, 48000, 500));
    ASSERT_TRUE(write_audio_file(path("b.wav"), wav | SF_FORMAT_PCM_24, 1, 48000, 800, shifted));

    Load const result = load(path("a.wav"), path("b.wav"), 48000);

    ASSERT_FALSE(result.report.failed) << result.report.text;
    EXPECT_EQ(result.ir_length, 800) << "the longer file sets the length";
    EXPECT_EQ(result.allocated_length, 28840 - 1000 + 800 + (28840 - 1000 + 800) / 2 + 65536);
    EXPECT_EQ(first_mismatch(result.buffer[0], 0, 500, [](int i) { return test_signal(i, 0); }), -1);
    EXPECT_EQ(first_mismatch(result.buffer[1], 0, 500, [](int i) { return test_signal(i, 1); }), -1);
    EXPECT_EQ(first_non_zero(result.buffer[0], 500, result.allocated_length), -1);
    EXPECT_EQ(first_mismatch(result.buffer[2], 0, 800, [&](int i) { return shifted(i, 0); }), -1);
    EXPECT_EQ(first_mismatch(result.buffer[3], 0, 800, [&](int i) { return shifted(i, 0); }), -1);
}

TEST_F(AudioFileLoader, SectionBAloneLeavesSectionASilent)
{
    ASSERT_TRUE(write_audio_file(path("b.wav"), wav | SF_FORMAT_PCM_16, 2, 44100, 300));
    Load const result = load("", path("b.wav"), 44100);
    ASSERT_FALSE(result.report.failed) << result.report.text;
    EXPECT_EQ(result.file_rate, 44100);
    EXPECT_EQ(result.bit_depth, 16);
    EXPECT_EQ(first_non_zero(result.buffer[0], 0, result.allocated_length), -1);
    EXPECT_EQ(first_non_zero(result.buffer[1], 0, result.allocated_length), -1);
    EXPECT_EQ(first_mismatch(result.buffer[2], 0, 300, [](int i) { return test_signal(i, 0); }), -1);
    EXPECT_EQ(first_mismatch(result.buffer[3], 0, 300, [](int i) { return test_signal(i, 1); }), -1);
}

TEST_F(AudioFileLoader, ThePlainEntryLoadsLikeTheReportingOne)
{
    ASSERT_TRUE(write_audio_file(path("a.flac"), flac | SF_FORMAT_PCM_16, 1, 48000, 1500));
    Load const result = load_plain(path("a.flac").string(), "", 48000);
    EXPECT_EQ(result.ir_length, 1500);
    EXPECT_EQ(result.allocated_length, 109546);
    EXPECT_EQ(first_mismatch(result.buffer[1], 0, 1500, [](int i) { return test_signal(i, 0); }), -1);
}

// ---------------------------------------------------------------------------------------------
// Bit depth of a pair: the lower of the two, except that an unusual B encoding reports 24

struct DepthCase {
    int a_subtype;
    int b_subtype;
    int expected;
};

class LoaderPairDepth : public ::testing::TestWithParam<DepthCase> {};

TEST_P(LoaderPairDepth, ReportsThePairsDepth)
{
    DepthCase const& c = GetParam();
    TempDir dir;
    ASSERT_TRUE(write_audio_file(dir / "a.wav", wav | c.a_subtype, 1, 48000, 50));
    ASSERT_TRUE(write_audio_file(dir / "b.wav", wav | c.b_subtype, 1, 48000, 50));
    Load const result = load(dir / "a.wav", dir / "b.wav", 48000);
    ASSERT_FALSE(result.report.failed) << result.report.text;
    EXPECT_EQ(result.bit_depth, c.expected);
}

INSTANTIATE_TEST_SUITE_P(AudioFileLoader, LoaderPairDepth,
                         ::testing::Values(DepthCase{SF_FORMAT_PCM_24, SF_FORMAT_PCM_16, 16},
                                           DepthCase{SF_FORMAT_PCM_16, SF_FORMAT_PCM_24, 16},
                                           DepthCase{SF_FORMAT_PCM_32, SF_FORMAT_PCM_24, 24},
                                           DepthCase{SF_FORMAT_FLOAT, SF_FORMAT_PCM_32, 32},
                                           DepthCase{SF_FORMAT_PCM_16, SF_FORMAT_FLOAT, 16},
                                           DepthCase{SF_FORMAT_PCM_16, SF_FORMAT_PCM_U8, 24},
                                           DepthCase{SF_FORMAT_PCM_U8, SF_FORMAT_FLOAT, 24}));

// ---------------------------------------------------------------------------------------------
// Lengths and limits

TEST_F(AudioFileLoader, A96kFileAtAn48kEngineIsHalvedInLength)
{
    // A 1 kHz sine, so the resampled result can be checked against the same sine at 48 kHz.
    auto sine = [](std::int64_t frame, int) {
        return static_cast<float>(
            0.5 * std::sin(2.0 * std::numbers::pi * 1000.0 * static_cast<double>(frame) / 96000.0));
    };
    ASSERT_TRUE(write_audio_file(path("96k.wav"), wav | SF_FORMAT_FLOAT, 1, 96000, 96000, sine));

    Load const result = load(path("96k.wav"), "", 48000);

    ASSERT_FALSE(result.report.failed) << result.report.text;
    EXPECT_EQ(result.ir_length, 48000);
    EXPECT_EQ(result.allocated_length, 293056); // n = 96,000 + 55,680; 1.5 x 151,680 + 65,536
    EXPECT_EQ(result.file_rate, 96000);
    // Away from the edges the output is the sine at the new rate, at the resampler's gain of 0.98.
    double error = 0.0, energy = 0.0;
    for (int k = 1000; k < 47000; ++k) {
        double const expected = 0.98 * 0.5 * std::sin(2.0 * std::numbers::pi * 1000.0 * k / 48000.0);
        error += (result.at(0, k) - expected) * (result.at(0, k) - expected);
        energy += expected * expected;
    }
    EXPECT_LT(10.0 * std::log10(error / energy), -40.0);
    EXPECT_EQ(
        first_mismatch(result.buffer[1], 0, result.allocated_length, [&](int i) { return result.at(0, i); }),
        -1);
    EXPECT_EQ(first_non_zero(result.buffer[2], 0, result.allocated_length), -1) << "nothing to resample in B";
}

TEST_F(AudioFileLoader, ResamplingIsTheShapingResamplerOverEachOpenSection)
{
    ASSERT_TRUE(write_audio_file(path("a.wav"), wav | SF_FORMAT_FLOAT, 2, 96000, 5000));
    ASSERT_TRUE(write_audio_file(path("b.wav"), wav | SF_FORMAT_FLOAT, 2, 96000, 4000,
                                 [](std::int64_t f, int c) { return test_signal(f, c + 2); }));

    Load const resampled = load(path("a.wav"), path("b.wav"), 48000);
    Load reference = load(path("a.wav"), path("b.wav"), 96000);
    ASSERT_FALSE(resampled.report.failed) << resampled.report.text;
    ASSERT_EQ(reference.allocated_length, resampled.allocated_length) << "down-sampling needs no more room";
    for (int section = 0; section < 2; ++section) {
        int allocated = reference.allocated_length;
        int length = 5000;
        resample_audio_file_into_preallocated_memory(reference.buffer + 2 * section, 96000, 48000, allocated,
                                                     length, 2);
    }
    EXPECT_EQ(resampled.ir_length, 2500);
    for (int ch = 0; ch < 4; ++ch)
        EXPECT_EQ(first_mismatch(resampled.buffer[ch], 0, resampled.allocated_length,
                                 [&](int i) { return reference.at(ch, i); }),
                  -1)
            << "channel " << ch;
}

TEST_F(AudioFileLoader, UpSamplingMakesRoomForTheLongerIr)
{
    ASSERT_TRUE(write_audio_file(path("44k.wav"), wav | SF_FORMAT_PCM_16, 2, 44100, 4410));
    Load const result = load(path("44k.wav"), "", 48000);
    ASSERT_FALSE(result.report.failed) << result.report.text;
    EXPECT_EQ(result.ir_length, 4800);
    EXPECT_EQ(result.allocated_length, 114496); // n = 29,988, L = trunc(29,988 x 48,000 / 44,100) = 32,640
    EXPECT_EQ(result.file_rate, 44100);
}

TEST_F(AudioFileLoader, ALongestFileLoadsAndOneFrameMoreIsTooLong)
{
    // Silent 16-bit files whose data is a hole: written for this test only and removed at once.
    auto const limit = path("limit.wav");
    write_sparse_wave(limit, 1, 1, 44100, 16, corvella::max_file_frames);
    {
        Load const result = load(limit, "", 44100);
        ASSERT_FALSE(result.report.failed) << result.report.text;
        EXPECT_EQ(result.ir_length, 10583999);
        EXPECT_EQ(result.allocated_length, 15979901); // n = 10,583,999 + 25,578
    }
    std::filesystem::remove(limit);

    auto const over = path("over.wav");
    write_sparse_wave(over, 1, 1, 44100, 16, corvella::max_file_frames + 1);
    Load const refused = load(over, "", 44100);
    std::filesystem::remove(over);
    EXPECT_TRUE(refused.report.failed);
    EXPECT_EQ(refused.report.text, too_long_text);
    EXPECT_FALSE(refused.report.shown) << "a general-format file was opened";
    EXPECT_EQ(messages_.count(), 0u);
    expect_default_ir(refused, 44100);
}

TEST_F(AudioFileLoader, ATooLongWirFileIsShown)
{
    auto const over = path("over.wir");
    write_sparse_wave(over, 3, 1, 44100, 32, corvella::max_file_frames + 1, true);
    Load const refused = load(over, "", 48000);
    std::filesystem::remove(over);
    ASSERT_EQ(messages_.count(), 1u);
    EXPECT_EQ(messages_.last(), (RecordedMessage{engine_caption, too_long_text, 0}));
    expect_default_ir(refused, 48000);
}

TEST_F(AudioFileLoader, AGivenBufferOnlyGetsTheLengths)
{
    ASSERT_TRUE(write_audio_file(path("96k.wav"), wav | SF_FORMAT_PCM_24, 2, 96000, 96000));
    std::vector<float> storage(4 * 64, 0.25f);
    float* channels[4] = {&storage[0], &storage[64], &storage[128], &storage[192]};
    float** buffer = channels;
    int allocated = 0, length = 0, depth = 0, rate = -1;

    corvella::load_audio_files(path("96k.wav").string(), "", buffer, 48000, allocated, length, depth, rate,
                               true, 0.08f, 1.0f, true, 0.5f, 1.0f, 0, 0.5f, nullptr);

    EXPECT_EQ(buffer, channels);
    EXPECT_EQ(allocated, 293056);
    EXPECT_EQ(length, 48000);
    EXPECT_EQ(depth, 24);
    EXPECT_EQ(rate, 96000);
    for (std::size_t i = 0; i < storage.size(); ++i)
        ASSERT_EQ(storage[i], 0.25f) << "sample " << i << " was touched";
}

TEST_F(AudioFileLoader, AGivenBufferOnAFailureOnlyGetsTheDefaultLengths)
{
    write_sparse_wave(path("over.wav"), 1, 1, 44100, 16, corvella::max_file_frames + 1);
    std::vector<float> storage(4 * 16, 0.25f);
    float* channels[4] = {&storage[0], &storage[16], &storage[32], &storage[48]};
    float** buffer = channels;
    int allocated = 0, length = 0, depth = 11, rate = -1;
    AudioFileLoadReport report;

    corvella::load_audio_files(path("over.wav").string(), "", buffer, 48000, allocated, length, depth, rate,
                               false, 0.08f, 1.0f, false, 0.0f, 1.0f, 0, 0.5f, &report);

    EXPECT_EQ(report.text, too_long_text);
    EXPECT_EQ(buffer, channels);
    EXPECT_EQ(allocated, 96000);
    EXPECT_EQ(length, 48000);
    EXPECT_EQ(depth, 16) << "the file's depth, found before the failure, stays";
    for (float sample : storage)
        ASSERT_EQ(sample, 0.25f);
}

// ---------------------------------------------------------------------------------------------
// WIR files

TEST_F(AudioFileLoader, WirSamplesAreScaledDifferentlyInEachSection)
{
    auto other = [](std::int64_t f, int c) { return test_signal(f + 9, c + 1); };
    write_wir_file(path("a.wir"), 2, 48000, 600);
    write_wir_file(path("b.WIR"), 1, 48000, 600, other);

    Load const result = load(path("a.wir"), path("b.WIR"), 48000);

    ASSERT_FALSE(result.report.failed) << result.report.text;
    EXPECT_EQ(result.bit_depth, 32);
    EXPECT_EQ(result.ir_length, 600);
    EXPECT_EQ(first_mismatch(result.buffer[0], 0, 600, [](int i) { return test_signal(i, 0) * 0.01f; }), -1);
    EXPECT_EQ(first_mismatch(result.buffer[1], 0, 600, [](int i) { return test_signal(i, 1) * 0.01f; }), -1);
    EXPECT_EQ(first_mismatch(result.buffer[2], 0, 600, [&](int i) { return other(i, 0) * 0.00003125f; }), -1);
    EXPECT_EQ(first_mismatch(result.buffer[3], 0, 600, [&](int i) { return other(i, 0) * 0.00003125f; }), -1);
}

TEST_F(AudioFileLoader, AWirPairAndAGeneralFileMix)
{
    write_wir_file(path("a.wir"), 1, 44100, 200);
    ASSERT_TRUE(write_audio_file(path("b.wav"), wav | SF_FORMAT_PCM_16, 1, 44100, 300));
    Load const result = load(path("a.wir"), path("b.wav"), 44100);
    ASSERT_FALSE(result.report.failed) << result.report.text;
    EXPECT_EQ(result.bit_depth, 16);
    EXPECT_EQ(result.ir_length, 300);
    EXPECT_EQ(first_mismatch(result.buffer[0], 0, 200, [](int i) { return test_signal(i, 0) * 0.01f; }), -1);
    EXPECT_EQ(first_mismatch(result.buffer[2], 0, 300, [](int i) { return test_signal(i, 0); }), -1);
}

// ---------------------------------------------------------------------------------------------
// The simulated true-stereo half and shaped noise are the shaping operations, at the file rate

TEST_F(AudioFileLoader, TheSimulatedHalfIsMadeFromSectionA)
{
    ASSERT_TRUE(write_audio_file(path("a.wav"), wav | SF_FORMAT_FLOAT, 2, 44100, 20000));
    Options sts;
    sts.simulate_true_stereo = true;
    sts.sts_seconds = 0.05f;
    sts.sts_level = 0.7f;

    Load const result = load(path("a.wav"), "", 44100, sts);
    Load reference = load(path("a.wav"), "", 44100);
    ASSERT_FALSE(result.report.failed) << result.report.text;
    int length = reference.ir_length;
    convolve_ir_ch01_with_noise_to_ch23(reference.buffer, reference.allocated_length, length, 0.05f, 44100, 0,
                                        0.7f);

    EXPECT_EQ(result.ir_length, 20000) << "at the file rate the length is the file's";
    EXPECT_NE(first_non_zero(result.buffer[2], 0, 20000), -1);
    for (int ch = 0; ch < 4; ++ch)
        EXPECT_EQ(first_mismatch(result.buffer[ch], 0, result.allocated_length,
                                 [&](int i) { return reference.at(ch, i); }),
                  -1)
            << "channel " << ch;
}

TEST_F(AudioFileLoader, TheSimulatedHalfIsResampledWithSectionA)
{
    ASSERT_TRUE(write_audio_file(path("a.wav"), wav | SF_FORMAT_FLOAT, 2, 96000, 20000));
    Options sts;
    sts.simulate_true_stereo = true;

    Load const result = load(path("a.wav"), "", 48000, sts);
    Load reference = load(path("a.wav"), "", 96000, sts);
    ASSERT_FALSE(result.report.failed) << result.report.text;
    for (int section = 0; section < 2; ++section) {
        int allocated = reference.allocated_length;
        int length = 20000 + 7680; // the simulated half adds 80 ms
        resample_audio_file_into_preallocated_memory(reference.buffer + 2 * section, 96000, 48000, allocated,
                                                     length, 2);
    }
    EXPECT_EQ(result.ir_length, 10000);
    for (int ch = 0; ch < 4; ++ch)
        EXPECT_EQ(first_mismatch(result.buffer[ch], 0, result.allocated_length,
                                 [&](int i) { return reference.at(ch, i); }),
                  -1)
            << "channel " << ch;
}

TEST_F(AudioFileLoader, ShapedNoiseGetsTwiceTheLevelAndASeedFromTheLength)
{
    ASSERT_TRUE(write_audio_file(path("a.wav"), wav | SF_FORMAT_FLOAT, 2, 48000, 12345));
    Options noise;
    noise.add_noise = true;
    noise.noise_level = 0.3f;
    noise.noise_dry_gain = 0.8f;
    noise.noise_seed_offset = 7;
    noise.noise_release = 0.6f;

    Load const result = load(path("a.wav"), "", 48000, noise);
    Load reference = load(path("a.wav"), "", 48000);
    ASSERT_FALSE(result.report.failed) << result.report.text;
    add_shaped_noise(reference.buffer, 12345, 4, 0.6f, 0.8f, 345 + 7, 0.6f, 48000);

    for (int ch = 0; ch < 4; ++ch)
        EXPECT_EQ(first_mismatch(result.buffer[ch], 0, result.allocated_length,
                                 [&](int i) { return reference.at(ch, i); }),
                  -1)
            << "channel " << ch;
}

// ---------------------------------------------------------------------------------------------
// Refusals and the default IR

TEST_F(AudioFileLoader, NoFilesGivesTheDefaultIrWithoutAMessage)
{
    Load const result = load("", "", 48000);
    EXPECT_EQ(result.report.text, no_files_text);
    EXPECT_FALSE(result.report.shown);
    EXPECT_EQ(messages_.count(), 0u);
    EXPECT_EQ(result.file_rate, -1) << "no file set the rate";
    EXPECT_EQ(result.bit_depth, 24);
    expect_default_ir(result, 48000);
}

TEST_F(AudioFileLoader, MissingFilesFoldersAndPipesAreNamedButNotShown)
{
    std::filesystem::create_directory(path("folder.wav"));
    ASSERT_TRUE(write_audio_file(path("a.wav"), wav | SF_FORMAT_PCM_16, 1, 48000, 10));

    Load const missing = load(path("missing.wav"), "", 44100);
    EXPECT_EQ(missing.report.text, "File " + path("missing.wav").string() + " could not be loaded.");
    expect_default_ir(missing, 44100);

    Load const folder = load(path("a.wav"), path("folder.wav"), 44100);
    EXPECT_EQ(folder.report.text, "File " + path("folder.wav").string() + " could not be loaded.");
    EXPECT_EQ(folder.file_rate, -1) << "checked before anything is opened";
    expect_default_ir(folder, 44100);

    ASSERT_EQ(mkfifo(path("pipe.wav").c_str(), 0600), 0);
    Load const pipe = load(path("pipe.wav"), "", 44100);
    EXPECT_EQ(pipe.report.text, "File " + path("pipe.wav").string() + " could not be loaded.")
        << "a pipe would block the loader";
    expect_default_ir(pipe, 44100);

    Load const wir_folder = load(dir_.path(), "", 44100);
    EXPECT_EQ(wir_folder.report.text, "File " + dir_.path().string() + " could not be loaded.");

    EXPECT_EQ(messages_.count(), 0u);
}

TEST_F(AudioFileLoader, MixedRatePairsAreRefused)
{
    ASSERT_TRUE(write_audio_file(path("a.wav"), wav | SF_FORMAT_PCM_16, 2, 44100, 100));
    ASSERT_TRUE(write_audio_file(path("b.wav"), wav | SF_FORMAT_PCM_16, 2, 48000, 100));
    Load const general = load(path("a.wav"), path("b.wav"), 48000);
    EXPECT_EQ(general.report.text, rates_differ_text);
    EXPECT_FALSE(general.report.shown);
    EXPECT_EQ(general.file_rate, -1) << "the rate is taken only from a matching pair";
    expect_default_ir(general, 48000);
    EXPECT_EQ(messages_.count(), 0u);

    write_wir_file(path("a.wir"), 2, 44100, 100);
    write_wir_file(path("b.wir"), 2, 48000, 100);
    Load const wir = load(path("a.wir"), path("b.wir"), 48000);
    ASSERT_EQ(messages_.count(), 1u);
    EXPECT_EQ(messages_.last(), (RecordedMessage{engine_caption, rates_differ_text, 0}));
    expect_default_ir(wir, 48000);
}

TEST_F(AudioFileLoader, ThreeAndSixChannelFilesAreRefused)
{
    ASSERT_TRUE(write_audio_file(path("three.wav"), wav | SF_FORMAT_PCM_16, 3, 48000, 100));
    ASSERT_TRUE(write_audio_file(path("six.wav"), wav | SF_FORMAT_PCM_16, 6, 48000, 100));
    ASSERT_TRUE(write_audio_file(path("stereo.wav"), wav | SF_FORMAT_PCM_16, 2, 48000, 100));

    Load const three = load(path("three.wav"), "", 44100);
    EXPECT_EQ(three.report.text, channels_a_text);
    EXPECT_EQ(three.file_rate, 48000) << "the rate was read before the refusal";
    expect_default_ir(three, 44100);

    Load const six = load(path("stereo.wav"), path("six.wav"), 44100);
    EXPECT_EQ(six.report.text, channels_b_text);
    expect_default_ir(six, 44100);
    EXPECT_EQ(messages_.count(), 0u) << "general-format files were opened";

    write_wir_file(path("three.wir"), 3, 48000, 100);
    write_wir_file(path("six.wir"), 6, 48000, 100);
    write_wir_file(path("stereo.wir"), 2, 48000, 100);
    Load const wir_three = load(path("three.wir"), "", 48000);
    Load const wir_six = load(path("stereo.wir"), path("six.wir"), 48000);
    ASSERT_EQ(messages_.count(), 2u);
    EXPECT_EQ(messages_.messages()[0], (RecordedMessage{engine_caption, channels_a_text, 0}));
    EXPECT_EQ(messages_.messages()[1], (RecordedMessage{engine_caption, channels_b_text, 0}));
    expect_default_ir(wir_three, 48000);
    expect_default_ir(wir_six, 48000);
}

TEST_F(AudioFileLoader, RatesOutsideTheLimitsAreRefused)
{
    write_wir_file(path("slow.wir"), 1, 7999, 100);
    write_wir_file(path("fast.wir"), 1, 200001, 100);
    write_wir_file(path("lowest.wir"), 1, 8000, 100);
    write_wir_file(path("highest.wir"), 1, 200000, 100);

    Load const slow = load(path("slow.wir"), "", 48000);
    Load const fast = load(path("fast.wir"), "", 48000);
    ASSERT_EQ(messages_.count(), 2u);
    EXPECT_EQ(messages_.messages()[0].text, bad_rate_text);
    EXPECT_EQ(messages_.messages()[1].text, bad_rate_text);
    expect_default_ir(slow, 48000);
    expect_default_ir(fast, 48000);

    Load const lowest = load(path("lowest.wir"), "", 8000);
    Load const highest = load(path("highest.wir"), "", 200000);
    EXPECT_FALSE(lowest.report.failed) << lowest.report.text;
    EXPECT_FALSE(highest.report.failed) << highest.report.text;
    EXPECT_EQ(messages_.count(), 2u);
}

TEST_F(AudioFileLoader, AFailureAfterAGeneralFileWasOpenedIsSilent)
{
    ASSERT_TRUE(write_audio_file(path("a.wav"), wav | SF_FORMAT_PCM_16, 1, 48000, 100));
    write_bytes(path("b.wir"), {});
    Load const result = load(path("a.wav"), path("b.wir"), 48000);
    EXPECT_EQ(result.report.text, wir_unrecognised_b_text);
    EXPECT_FALSE(result.report.shown);
    EXPECT_EQ(messages_.count(), 0u);
    expect_default_ir(result, 48000);
}

TEST_F(AudioFileLoader, AFailureBeforeAGeneralFileWasOpenedIsShown)
{
    write_bytes(path("a.wir"), {});
    ASSERT_TRUE(write_audio_file(path("b.wav"), wav | SF_FORMAT_PCM_16, 1, 48000, 100));
    Load const result = load(path("a.wir"), path("b.wav"), 48000);
    EXPECT_TRUE(result.report.shown);
    ASSERT_EQ(messages_.count(), 1u);
    EXPECT_EQ(messages_.last(), (RecordedMessage{engine_caption, wir_unrecognised_a_text, 0}));
    expect_default_ir(result, 48000);
}

TEST_F(AudioFileLoader, AWirFileThatLibsndfileRefusesGivesTheDefaultIr)
{
    // Long enough to be patched, but no WAVE file behind the magic.
    std::vector<unsigned char> garbage(200);
    for (std::size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<unsigned char>((i * 37 + 11) % 251);
    write_bytes(path("noise.wir"), garbage);
    // Too short to be patched.
    write_bytes(path("short.wir"), std::vector<unsigned char>(34, 0x41));

    Load const noise = load(path("noise.wir"), "", 48000);
    Load const short_file = load(path("short.wir"), "", 48000);
    ASSERT_EQ(messages_.count(), 2u);
    EXPECT_EQ(messages_.messages()[0], (RecordedMessage{engine_caption, wir_unrecognised_a_text, 0}));
    EXPECT_EQ(messages_.messages()[1], (RecordedMessage{engine_caption, wir_unrecognised_a_text, 0}));
    expect_default_ir(noise, 48000);
    expect_default_ir(short_file, 48000);
}

TEST_F(AudioFileLoader, AnUnreadableWirFileIsShown)
{
    if (!make_unreadable_file(path("locked.wir"), [&] { write_wir_file(path("locked.wir"), 1, 48000, 100); }))
        GTEST_SKIP() << "no way to make an unreadable file here";

    Load const locked = load(path("locked.wir"), "", 48000);
    ASSERT_EQ(messages_.count(), 1u);
    EXPECT_EQ(messages_.last(), (RecordedMessage{engine_caption, wir_cannot_open_a_text, 0}));
    expect_default_ir(locked, 48000);
}

TEST_F(AudioFileLoader, AWirFileThatYieldsLessThanItsSizeIsShown)
{
    // Kernel attribute files report a page as their size but yield only their text.
    std::filesystem::path const attribute = "/sys/kernel/mm/transparent_hugepage/enabled";
    std::error_code error;
    auto const size = std::filesystem::file_size(attribute, error);
    if (error || size < 100) GTEST_SKIP() << "no attribute file whose size exceeds its content";
    write_wir_file(path("a.wir"), 1, 48000, 100);
    std::filesystem::create_symlink(attribute, path("b.wir"));

    Load const result = load(path("a.wir"), path("b.wir"), 48000);
    ASSERT_EQ(messages_.count(), 1u);
    EXPECT_EQ(messages_.last(), (RecordedMessage{engine_caption, wir_short_read_b_text, 0}));
    expect_default_ir(result, 48000);
}

TEST_F(AudioFileLoader, UnreadableAndUnrecognisedGeneralFilesAreSilent)
{
    write_bytes(path("empty.wav"), {});
    Load const empty = load(path("empty.wav"), "", 48000);
    EXPECT_TRUE(empty.report.failed);
    EXPECT_FALSE(empty.report.shown);
    expect_default_ir(empty, 48000);

    write_bytes(path("text.aif"), {'n', 'o', 't', ' ', 'a', 'u', 'd', 'i', 'o', '\n'});
    Load const text = load(path("text.aif"), "", 48000);
    EXPECT_EQ(text.report.text, unrecognised_a_text);
    expect_default_ir(text, 48000);

    ASSERT_TRUE(write_audio_file(path("a.wav"), wav | SF_FORMAT_PCM_16, 1, 48000, 100));
    Load const b_text = load(path("a.wav"), path("text.aif"), 48000);
    EXPECT_EQ(b_text.report.text, unrecognised_b_text);

    EXPECT_EQ(messages_.count(), 0u);
}

TEST_F(AudioFileLoader, AnUnreadableGeneralFileIsASilentSystemError)
{
    auto const locked_path = path("locked.wav");
    if (!make_unreadable_file(locked_path,
                              [&] { write_audio_file(locked_path, wav | SF_FORMAT_PCM_16, 1, 48000, 100); }))
        GTEST_SKIP() << "no way to make an unreadable file here";
    Load const locked = load(locked_path, "", 48000);
    EXPECT_EQ(locked.report.text, system_error_a_text);
    EXPECT_FALSE(locked.report.shown);
    EXPECT_EQ(messages_.count(), 0u);
    expect_default_ir(locked, 48000);
}

// A garbage file and a file cut inside its header, under every extension the file browser lists.
class LoaderDamagedFiles : public ::testing::TestWithParam<char const*> {};

TEST_P(LoaderDamagedFiles, EndInTheDefaultIr)
{
    std::string const extension = GetParam();
    TempDir dir;
    MessageRecorder messages;

    std::vector<unsigned char> garbage(4096);
    std::uint32_t state = 12345;
    for (auto& byte : garbage) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<unsigned char>(state >> 24);
    }
    write_bytes(dir / ("garbage" + extension), garbage);

    // A real file of the format the extension names (WAVE for the rest), cut after 30 bytes.
    auto const whole = dir / ("whole" + extension);
    int const format = extension == ".flac"                          ? flac | SF_FORMAT_PCM_16
                       : extension == ".aif" || extension == ".aiff" ? aiff | SF_FORMAT_PCM_16
                                                                     : wav | SF_FORMAT_PCM_16;
    if (extension == ".wir")
        write_wir_file(whole, 2, 48000, 1000);
    else
        ASSERT_TRUE(write_audio_file(whole, format, 2, 48000, 1000));
    auto bytes = corvella::test::read_bytes(whole);
    bytes.resize(30);
    write_bytes(dir / ("cut" + extension), bytes);

    for (char const* name : {"garbage", "cut"}) {
        Load const result = load(dir / (name + extension), "", 48000);
        EXPECT_TRUE(result.report.failed) << name << extension;
        EXPECT_EQ(result.report.shown, extension == ".wir") << name << extension;
        expect_default_ir(result, 48000);
        Load const as_b = load(whole, dir / (name + extension), 48000);
        EXPECT_TRUE(as_b.report.failed) << name << extension << " as B";
        expect_default_ir(as_b, 48000);
    }
}

INSTANTIATE_TEST_SUITE_P(AudioFileLoader, LoaderDamagedFiles,
                         ::testing::Values(".wav", ".aif", ".aiff", ".flac", ".wir", ".sd2", ".sdir"),
                         [](::testing::TestParamInfo<char const*> const& case_info) {
                             return std::string(case_info.param + 1);
                         });

TEST_F(AudioFileLoader, AFileCutInsideItsSamplesLoadsWhatIsThere)
{
    ASSERT_TRUE(write_audio_file(path("whole.wav"), wav | SF_FORMAT_PCM_16, 2, 48000, 1000));
    auto const bytes = corvella::test::read_bytes(path("whole.wav"));
    ASSERT_GT(bytes.size(), 2000u);
    // 500 frames short of what the header says.
    write_bytes(path("cut.wav"), std::vector<unsigned char>(bytes.begin(), bytes.end() - 2000));

    Load const result = load(path("cut.wav"), "", 48000);
    ASSERT_FALSE(result.report.failed) << result.report.text;
    ASSERT_GT(result.ir_length, 0);
    ASSERT_LE(result.ir_length, 1000);
    int const present = std::min(result.ir_length, 500);
    EXPECT_EQ(first_mismatch(result.buffer[0], 0, present, [](int i) { return test_signal(i, 0); }), -1);
    EXPECT_EQ(first_non_zero(result.buffer[0], 500, result.allocated_length), -1);
}

TEST_F(AudioFileLoader, AnEngineRateItCannotServeIsAnArgumentError)
{
    float** buffer = nullptr;
    int allocated = 0, length = 0, depth = 0, rate = -1;
    EXPECT_THROW(load_libsndfile_into_unallocated_memory("", "", buffer, 0, allocated, length, depth, rate,
                                                         nullptr, false, 0.08f, 1.0f, false, 0.0f, 1.0f, 0,
                                                         0.5f),
                 std::invalid_argument);
    EXPECT_EQ(buffer, nullptr);
}

} // namespace
