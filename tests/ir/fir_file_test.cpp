// ".fir" files: the bytes at their offsets, a round trip, and every malformed file refused.

#include "ir/fir_file.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <string>

namespace corvella::test {
namespace {

fir_contents example()
{
    fir_contents c;
    c.sample_rate = 44100;
    c.head_gain_db = -3.0f;
    c.tail_gain_db = -20.0f;
    c.gain_db = 1.5f;
    c.head = {{0.5f, -0.25f}, {0.125f, 1.0f}};
    c.tail = {{1.0f, 2.0f, 3.0f}, {4.0f, 5.0f, 6.0f}, {7.0f, 8.0f, 9.0f}, {-1.0f, -2.0f, -3.0f}};
    return c;
}

std::uint32_t u32_at(std::string const& bytes, std::size_t at)
{
    std::uint32_t v = 0;
    for (int k = 3; k >= 0; --k)
        v = (v << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(k)]);
    return v;
}

float f32_at(std::string const& bytes, std::size_t at)
{
    std::uint32_t const bits = u32_at(bytes, at);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

void write(std::filesystem::path const& path, std::string const& bytes)
{
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST(FirFile, BytesSitAtTheirOffsetsAndReadBackAsWritten)
{
    std::string error;
    std::string const bytes = fir_file_bytes(example(), error);
    ASSERT_TRUE(error.empty()) << error;
    ASSERT_EQ(bytes.size(), 2048u + 4u * (2 * 2 + 4 * 3));
    EXPECT_EQ(bytes.substr(0, 4), "xRIF");
    EXPECT_EQ(u32_at(bytes, 4), 2u);
    EXPECT_EQ(u32_at(bytes, 8), 44100u);
    EXPECT_EQ(u32_at(bytes, 12), 0u);
    EXPECT_EQ(u32_at(bytes, 16), 2u); // head channels
    EXPECT_EQ(u32_at(bytes, 20), 4u); // tail channels
    EXPECT_EQ(u32_at(bytes, 24), 2u); // head length
    EXPECT_EQ(u32_at(bytes, 28), 3u); // tail length
    EXPECT_EQ(f32_at(bytes, 1024), -3.0f);
    EXPECT_EQ(f32_at(bytes, 1028), -20.0f);
    EXPECT_EQ(f32_at(bytes, 1032), 1.5f);
    EXPECT_EQ(f32_at(bytes, 2048), 0.5f);           // head channel 0
    EXPECT_EQ(f32_at(bytes, 2048 + 8), 0.125f);     // head channel 1
    EXPECT_EQ(f32_at(bytes, 2048 + 16), 1.0f);      // tail channel 0
    EXPECT_EQ(f32_at(bytes, 2048 + 16 + 36), -1.0f); // tail channel 3

    TempDir dir;
    write(dir.path() / "a.fir", bytes);
    auto const read = read_fir_file(dir.path() / "a.fir");
    ASSERT_TRUE(read.has_value());
    fir_contents const expected = example();
    EXPECT_EQ(read->sample_rate, expected.sample_rate);
    EXPECT_EQ(read->head, expected.head);
    EXPECT_EQ(read->tail, expected.tail);
    EXPECT_EQ(read->gain_db, expected.gain_db);
}

TEST(FirFile, EveryMalformedFileLoadsNothing)
{
    std::string error;
    std::string const good = fir_file_bytes(example(), error);
    auto with_u32 = [&](std::size_t at, std::uint32_t value) {
        std::string b = good;
        for (int k = 0; k < 4; ++k)
            b[at + static_cast<std::size_t>(k)] = static_cast<char>((value >> (8 * k)) & 0xffu);
        return b;
    };
    struct Case {
        char const* name;
        std::string bytes;
        char const* why;
    };
    Case const cases[] = {
        {"short", good.substr(0, 2000), "the file is shorter than its 2048-byte header"},
        {"wrong magic", with_u32(0, 0x46495279), "the file does not start with \"xRIF\""},
        {"wrong version", with_u32(4, 1), "the format version is not 2"},
        {"one sample missing", good.substr(0, good.size() - 4), "the file size does not match its header"},
        {"one sample over", good + std::string(4, '\0'), "the file size does not match its header"},
        {"tail shorter than head", with_u32(24, 5), "the tail is shorter than the head"},
        {"five head channels", with_u32(16, 5), "the head has 0 to 4 channels"},
        {"no tail", with_u32(20, 0), "the tail has 1 to 32 channels"},
        {"rate 0", with_u32(8, 0), "the sample rate is not positive"},
        {"a NaN sample", with_u32(2048, 0x7fc00000), "a sample is not a number"},
    };
    TempDir dir;
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        write(dir.path() / "bad.fir", c.bytes);
        std::string why;
        EXPECT_FALSE(read_fir_file(dir.path() / "bad.fir", &why).has_value());
        EXPECT_EQ(why, c.why);
    }
    std::string why;
    EXPECT_FALSE(read_fir_file(dir.path() / "missing.fir", &why).has_value());
    EXPECT_EQ(why, "the file cannot be read");
}

} // namespace
} // namespace corvella::test
