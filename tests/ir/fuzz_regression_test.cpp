// Inputs the fuzz targets found faults with (fuzz/), kept so that the faults stay fixed.

#include "ir/audio_file_loader.h"

#include "support/temp_dir.h"
#include "support/wav_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace corvella::test;

// A float file may hold NaN and infinities; they reach the engine as silence, in a file read from
// memory as from disk.
TEST(FuzzRegression, NonFiniteSamplesOfAFloatFileLoadAsSilence)
{
    float const nan = std::numeric_limits<float>::quiet_NaN();
    float const inf = std::numeric_limits<float>::infinity();
    TempDir dir;
    ASSERT_TRUE(write_planar_wav(dir / "nan.wav", {{0.5f, nan, inf, -inf, -0.25f}}, 48000));
    std::ifstream stream(dir / "nan.wav", std::ios::binary);
    std::string const bytes{std::istreambuf_iterator<char>(stream), {}};

    std::vector<float> const expected{0.5f, 0.0f, 0.0f, 0.0f, -0.25f};
    for (bool from_memory : {false, true}) {
        SCOPED_TRACE(from_memory ? "memory" : "disk");
        float** buffer = nullptr;
        int allocated = 0, length = 0, depth = 0, rate = -1;
        corvella::AudioFileLoadReport report;
        corvella::AudioFileBytes const file{"nan.wav", bytes.data(), bytes.size()};
        if (from_memory)
            corvella::load_audio_file_bytes(&file, nullptr, buffer, 48000, allocated, length, depth, rate, false, 0.0f,
                                            0.0f, false, 0.0f, 1.0f, 0, 0.5f, &report);
        else
            corvella::load_audio_files((dir / "nan.wav").string(), "", buffer, 48000, allocated, length, depth, rate,
                                       false, 0.0f, 0.0f, false, 0.0f, 1.0f, 0, 0.5f, &report);
        ASSERT_FALSE(report.failed) << report.text;
        ASSERT_EQ(length, 5);
        for (int channel = 0; channel < 2; ++channel)
            EXPECT_EQ(std::vector<float>(buffer[channel], buffer[channel] + 5), expected) << "channel " << channel;
        corvella::free_ir_load_buffer(buffer);
    }
}

// One frame at 192 kHz is less than a frame at 8 kHz; the IR still has one.
TEST(FuzzRegression, AFileShorterThanOneFrameAtTheEngineRateGivesAOneFrameIr)
{
    TempDir dir;
    ASSERT_TRUE(write_planar_wav(dir / "one.wav", {{0.5f}}, 192000));
    float** buffer = nullptr;
    int allocated = 0, length = 0, depth = 0, rate = -1;
    corvella::AudioFileLoadReport report;
    corvella::load_audio_files((dir / "one.wav").string(), "", buffer, 8000, allocated, length, depth, rate, false,
                               0.0f, 0.0f, false, 0.0f, 1.0f, 0, 0.5f, &report);
    ASSERT_FALSE(report.failed) << report.text;
    EXPECT_EQ(rate, 192000);
    EXPECT_EQ(length, 1);
    EXPECT_LE(length, allocated);
    corvella::free_ir_load_buffer(buffer);
}

} // namespace
