// The ".wir" in-memory image: the virtual I/O callbacks, the import that patches the image back
// into a WAVE file, and the header-only probe.
#include "ir/wir_image.h"

#include "ir/test_audio_files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

namespace {

using namespace corvella::test;
using Bytes = std::vector<unsigned char>;

// Bytes 1, 2, 3, ... and an image over them (never released by the tests).
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

// ---------------------------------------------------------------------------------------------
// Virtual I/O callbacks

TEST(VirtualFileSeek, FollowsWhenceAndClampsToTheImageWithoutOverflowing)
{
    Image image(100);
    virtual_file* f = &image.file;
    EXPECT_EQ(virtual_file_seek(10, SEEK_SET, f), 10);
    EXPECT_EQ(virtual_file_seek(5, SEEK_CUR, f), 15);
    EXPECT_EQ(virtual_file_seek(-3, SEEK_CUR, f), 12);
    EXPECT_EQ(virtual_file_seek(-10, SEEK_END, f), 90);
    EXPECT_EQ(virtual_file_tell(f), 90);
    EXPECT_EQ(virtual_file_seek(7, 3, f), 90) << "an unknown whence leaves the position";
    EXPECT_EQ(virtual_file_seek(-5, SEEK_SET, f), 0);
    EXPECT_EQ(virtual_file_seek(-50, SEEK_CUR, f), 0);
    EXPECT_EQ(virtual_file_seek(101, SEEK_SET, f), 100);
    EXPECT_EQ(virtual_file_seek(1, SEEK_END, f), 100);
    EXPECT_EQ(virtual_file_tell(f), 100);

    constexpr sf_count_t huge = std::numeric_limits<sf_count_t>::max();
    constexpr sf_count_t tiny = std::numeric_limits<sf_count_t>::min();
    virtual_file_seek(50, SEEK_SET, f);
    EXPECT_EQ(virtual_file_seek(huge, SEEK_CUR, f), 100);
    EXPECT_EQ(virtual_file_seek(tiny, SEEK_CUR, f), 0);
    EXPECT_EQ(virtual_file_seek(huge, SEEK_END, f), 100);
    EXPECT_EQ(virtual_file_seek(tiny, SEEK_END, f), 0);
}

TEST(VirtualFileRead, CopiesFromThePositionNeverPastTheEndAndWritesNothing)
{
    Image image(100);
    virtual_file* f = &image.file;
    std::array<unsigned char, 16> out{};
    out.fill(0xEE);
    virtual_file_seek(20, SEEK_SET, f);
    ASSERT_EQ(virtual_file_read(out.data(), 8, f), 8);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 8), Bytes(image.bytes.begin() + 20, image.bytes.begin() + 28));
    EXPECT_EQ(virtual_file_tell(f), 28);
    EXPECT_EQ(virtual_file_get_length(f), 100);

    out.fill(0xEE);
    virtual_file_seek(95, SEEK_SET, f);
    EXPECT_EQ(virtual_file_read(out.data(), 10, f), 5);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 6), (Bytes{96, 97, 98, 99, 100, 0xEE}));
    EXPECT_EQ(virtual_file_tell(f), 100);
    EXPECT_EQ(virtual_file_read(out.data(), 4, f), 0) << "at the end nothing remains";

    virtual_file_seek(0, SEEK_SET, f);
    EXPECT_EQ(virtual_file_read(out.data(), 0, f), 0);
    EXPECT_EQ(virtual_file_read(out.data(), -4, f), 0);
    EXPECT_EQ(virtual_file_tell(f), 0);
    Image empty(0);
    EXPECT_EQ(virtual_file_read(out.data(), 4, &empty.file), 0);

    Bytes const before = image.bytes; // writing is refused
    EXPECT_EQ(virtual_file_write(out.data(), 4, f), 0);
    EXPECT_EQ(image.bytes, before);
    EXPECT_EQ(virtual_file_tell(f), 0);
}

TEST(VirtualFileRead, DeclaredBytesThatAreNotHeldReadAsZero)
{
    Image image(44, 1000); // the probe's 44-byte image of a longer file
    std::array<unsigned char, 12> out{};
    out.fill(0xEE);
    virtual_file_seek(40, SEEK_SET, &image.file);
    ASSERT_EQ(virtual_file_read(out.data(), 10, &image.file), 10);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 11), (Bytes{41, 42, 43, 44, 0, 0, 0, 0, 0, 0, 0xEE}));
    EXPECT_EQ(virtual_file_tell(&image.file), 50);
}

// ---------------------------------------------------------------------------------------------
// Import and probe

class WirImport : public ::testing::Test {
protected:
    ~WirImport() override
    {
        if (handle_) sf_close(handle_);
        corvella::release_virtual_file(image_);
    }
    int import(std::filesystem::path const& path)
    {
        return allocate_memory_load_wir_sndfile(path.c_str(), nullptr, &info_, &handle_, &image_);
    }
    int probe(std::filesystem::path const& path)
    {
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
    write_wir_file(path, 2, 48000, 300);
    Bytes expected = read_bytes(path);
    ASSERT_EQ(import(path), 0);
    ASSERT_NE(image_.data, nullptr);
    EXPECT_EQ(image_.held, image_.length);
    std::memcpy(expected.data(), "RIFF", 4);
    std::memcpy(expected.data() + 8, "WAVE", 4);
    expected[34] = 32;
    EXPECT_EQ(image(), expected);
}

TEST_F(WirImport, AFileOf34BytesOrFewerIsHandedOverUnpatchedAnd35IsPatched)
{
    auto const path = dir_ / "short.wir";
    write_wir_file(path, 1, 48000, 100, test_signal, 34);
    ASSERT_EQ(import(path), 0);
    EXPECT_EQ(image(), read_bytes(path));
    EXPECT_EQ(handle_, nullptr) << "libsndfile cannot read a header this short";
    corvella::release_virtual_file(image_);

    write_wir_file(path, 1, 48000, 100, test_signal, 35);
    ASSERT_EQ(import(path), 0);
    ASSERT_EQ(image_.length, 35);
    EXPECT_EQ(std::memcmp(image_.data, "RIFF", 4), 0);
    EXPECT_EQ(std::memcmp(image_.data + 8, "WAVE", 4), 0);
    EXPECT_EQ(image_.data[34], 32);
}

TEST_F(WirImport, RefusesEmptyMissingWronglyNamedAndNullArguments)
{
    write_bytes(dir_ / "empty.wir", {});
    write_wir_file(dir_ / "room.wav", 1, 48000, 100);
    write_wir_file(dir_ / "room.wir", 1, 48000, 10);
    for (char const* name : {"empty.wir", "missing.wir", "room.wav"}) {
        EXPECT_EQ(import(dir_ / name), -1) << name;
        EXPECT_EQ(probe(dir_ / name), -1) << name;
    }
    std::string const path = (dir_ / "room.wir").string();
    char const* room = path.c_str();
    EXPECT_EQ(allocate_memory_load_wir_sndfile(nullptr, nullptr, &info_, &handle_, &image_), -1);
    EXPECT_EQ(allocate_memory_load_wir_sndfile(room, nullptr, nullptr, &handle_, &image_), -1);
    EXPECT_EQ(allocate_memory_load_wir_sndfile(room, nullptr, &info_, nullptr, &image_), -1);
    EXPECT_EQ(allocate_memory_load_wir_sndfile(room, nullptr, &info_, &handle_, nullptr), -1);
    EXPECT_EQ(handle_, nullptr);
    EXPECT_EQ(image_.data, nullptr);
}

TEST_F(WirImport, AShortReadGivesMinus4AndAFileThatCannotBeOpenedMinus3)
{
    std::filesystem::create_directory(dir_ / "folder.wir"); // a folder has a size but yields no bytes
    EXPECT_EQ(import(dir_ / "folder.wir"), -4);
    EXPECT_EQ(image_.data, nullptr);

    auto const path = dir_ / "locked.wir";
    if (!make_unreadable_file(path, [&] { write_wir_file(path, 1, 48000, 100); }))
        GTEST_SKIP() << "no way to make an unreadable file here";
    EXPECT_EQ(import(path), -3);
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
    EXPECT_EQ(std::memcmp(image_.data, "RIFF", 4), 0);
    EXPECT_EQ(image_.data[34], 32);
    sf_close(handle_);
    handle_ = nullptr;
    corvella::release_virtual_file(image_);

    // A file shorter than a header: the image holds only the file.
    write_wir_file(dir_ / "tiny.wir", 1, 48000, 100, test_signal, 40);
    ASSERT_EQ(probe(dir_ / "tiny.wir"), 0);
    EXPECT_EQ(image_.held, 40);
    EXPECT_EQ(image_.length, 40);
}

} // namespace
