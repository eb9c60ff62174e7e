// The ".wir" in-memory image: the virtual I/O callbacks, the import that patches the image back
// into a WAVE file, and the header-only probe.
#include "ir/wir_image.h"

#include "ir/test_audio_files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <numeric>
#include <string>
#include <utility>

namespace {

using namespace corvella::test;

// Bytes 1, 2, 3, ... and an image over them that declares `declared` bytes (never released).
struct Image {
    Bytes bytes;
    virtual_file file;
    explicit Image(std::size_t count, sf_count_t declared = -1) : bytes(count)
    {
        std::iota(bytes.begin(), bytes.end(), static_cast<unsigned char>(1));
        file.data = bytes.data();
        file.held = static_cast<sf_count_t>(count);
        file.length = declared < 0 ? file.held : declared;
    }
};

TEST(VirtualFile, SeekFollowsWhenceAndClampsToTheImageWithoutOverflowing)
{
    constexpr sf_count_t huge = std::numeric_limits<sf_count_t>::max();
    constexpr sf_count_t tiny = std::numeric_limits<sf_count_t>::min();
    struct Step {
        sf_count_t offset;
        int whence;
        sf_count_t expected;
    };
    // clang-format off
    Step const steps[] = {
        {10, SEEK_SET, 10}, {5, SEEK_CUR, 15}, {-3, SEEK_CUR, 12}, {-10, SEEK_END, 90}, {7, 3, 90}, // unknown whence
        {-5, SEEK_SET, 0},  {-50, SEEK_CUR, 0}, {101, SEEK_SET, 100}, {1, SEEK_END, 100},
        {50, SEEK_SET, 50}, {huge, SEEK_CUR, 100}, {tiny, SEEK_CUR, 0}, {huge, SEEK_END, 100}, {tiny, SEEK_END, 0},
    };
    // clang-format on
    Image image(100);
    for (Step const& s : steps) {
        EXPECT_EQ(virtual_file_seek(s.offset, s.whence, &image.file), s.expected)
            << s.offset << " " << s.whence;
        EXPECT_EQ(virtual_file_tell(&image.file), s.expected);
    }
    EXPECT_EQ(virtual_file_get_length(&image.file), 100);
}

// Seeks to `at` and reads `count` bytes into a buffer of 0xEE: the count delivered, then the
// buffer up to one byte past the delivered ones.
std::pair<sf_count_t, Bytes> read_at(virtual_file& f, sf_count_t at, sf_count_t count)
{
    Bytes out(16, 0xEE);
    virtual_file_seek(at, SEEK_SET, &f);
    sf_count_t const delivered = virtual_file_read(out.data(), count, &f);
    out.resize(static_cast<std::size_t>(std::max<sf_count_t>(delivered, 0) + 1));
    return {delivered, out};
}

// A read never copies past the declared length nor from beyond the held bytes (declared bytes
// that are not held, as in the probe's 44-byte image, read as zero); writing is refused.
TEST(VirtualFile, ReadCopiesFromThePositionNeverPastTheEnd)
{
    Image image(100), empty(0), probe(44, 1000);
    EXPECT_EQ(read_at(image.file, 20, 8),
              std::pair(sf_count_t{8}, Bytes{21, 22, 23, 24, 25, 26, 27, 28, 0xEE}));
    EXPECT_EQ(virtual_file_tell(&image.file), 28);
    EXPECT_EQ(read_at(image.file, 95, 10), std::pair(sf_count_t{5}, Bytes{96, 97, 98, 99, 100, 0xEE}));
    EXPECT_EQ(virtual_file_tell(&image.file), 100);
    EXPECT_EQ(read_at(image.file, 100, 4).first, 0);
    EXPECT_EQ(read_at(image.file, 0, 0).first, 0);
    EXPECT_EQ(read_at(image.file, 0, -4).first, 0);
    EXPECT_EQ(virtual_file_write(image.bytes.data() + 50, 4, &image.file), 0);
    EXPECT_EQ(virtual_file_tell(&image.file), 0);
    EXPECT_EQ(image.bytes[0], 1);
    EXPECT_EQ(read_at(empty.file, 0, 4).first, 0);
    EXPECT_EQ(read_at(probe.file, 40, 10),
              std::pair(sf_count_t{10}, Bytes{41, 42, 43, 44, 0, 0, 0, 0, 0, 0, 0xEE}));
}

class WirImport : public ::testing::Test {
protected:
    ~WirImport() override { close(); }
    void close()
    {
        if (handle_) sf_close(handle_);
        handle_ = nullptr;
        corvella::release_virtual_file(image_);
    }
    int import(std::filesystem::path const& path)
    {
        close();
        return allocate_memory_load_wir_sndfile(path.c_str(), nullptr, &info_, &handle_, &image_);
    }
    int probe(std::filesystem::path const& path)
    {
        close();
        return populate_wir_sndfile_stats(path.c_str(), &info_, &handle_, &image_);
    }
    Bytes image() const { return Bytes(image_.data, image_.data + image_.length); }

    TempDir dir_;
    SF_INFO info_{};
    SNDFILE* handle_ = nullptr;
    virtual_file image_{};
};

TEST_F(WirImport, PatchesOnlyTheMagicAndTheBitsPerSampleByte)
{
    auto const path = dir_ / "room.wir";
    auto patched = [&] {
        Bytes bytes = read_bytes(path);
        std::memcpy(bytes.data(), "RIFF", 4);
        std::memcpy(bytes.data() + 8, "WAVE", 4);
        bytes[34] = 32;
        return bytes;
    };
    for (int keep : {-1, 35}) {
        write_wir_file(path, 2, 48000, 300, test_signal, keep);
        ASSERT_EQ(import(path), 0);
        EXPECT_EQ(image_.held, image_.length);
        EXPECT_EQ(image(), patched()) << keep;
    }
    write_wir_file(path, 1, 48000, 100, test_signal, 34); // too short to patch
    ASSERT_EQ(import(path), 0);
    EXPECT_EQ(image(), read_bytes(path));
    EXPECT_EQ(handle_, nullptr) << "libsndfile cannot read a header this short";
}

TEST_F(WirImport, RefusesEmptyMissingWronglyNamedShortReadAndNullArguments)
{
    write_bytes(dir_ / "empty.wir", {});
    write_wir_file(dir_ / "room.wav", 1, 48000, 100);
    for (char const* name : {"empty.wir", "missing.wir", "room.wav"}) {
        EXPECT_EQ(import(dir_ / name), -1) << name;
        EXPECT_EQ(probe(dir_ / name), -1) << name;
    }
    std::filesystem::create_directory(dir_ / "folder.wir"); // a folder has a size but yields no bytes
    EXPECT_EQ(import(dir_ / "folder.wir"), -4);
    EXPECT_EQ(image_.data, nullptr);

    write_wir_file(dir_ / "room.wir", 1, 48000, 10);
    std::string const path = (dir_ / "room.wir").string();
    char const* room = path.c_str();
    EXPECT_EQ(allocate_memory_load_wir_sndfile(nullptr, nullptr, &info_, &handle_, &image_), -1);
    EXPECT_EQ(allocate_memory_load_wir_sndfile(room, nullptr, &info_, &handle_, nullptr), -1);
    EXPECT_EQ(handle_, nullptr);
    EXPECT_EQ(image_.data, nullptr);
}

TEST_F(WirImport, TheProbeReadsOnlyTheHeaderButReportsTheWholeFile)
{
    auto const path = dir_ / "hall.wir";
    write_wir_file(path, 4, 96000, 5000);
    ASSERT_EQ(probe(path), 0);
    EXPECT_EQ(image_.held, 44);
    EXPECT_EQ(image_.length, static_cast<sf_count_t>(std::filesystem::file_size(path)));
    ASSERT_NE(handle_, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info_.channels, 4);
    EXPECT_EQ(info_.samplerate, 96000);
    EXPECT_EQ(info_.frames, 5000);
}

} // namespace
