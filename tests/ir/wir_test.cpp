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
#include <vector>

namespace {

using corvella::test::make_unreadable_file;
using corvella::test::read_bytes;
using corvella::test::TempDir;
using corvella::test::test_signal;
using corvella::test::write_bytes;
using corvella::test::write_wir_file;

// An image over a caller-owned byte array (never released by the tests that use it).
virtual_file image_over(std::vector<unsigned char>& bytes, sf_count_t declared = -1)
{
    virtual_file image;
    image.data = bytes.data();
    image.held = static_cast<sf_count_t>(bytes.size());
    image.length = declared < 0 ? image.held : declared;
    return image;
}

std::vector<unsigned char> counting_bytes(std::size_t count)
{
    std::vector<unsigned char> bytes(count);
    std::iota(bytes.begin(), bytes.end(), static_cast<unsigned char>(1));
    return bytes;
}

// ---------------------------------------------------------------------------------------------
// Virtual I/O callbacks

TEST(VirtualFileSeek, FollowsWhenceAndClampsToTheImage)
{
    auto bytes = counting_bytes(100);
    virtual_file image = image_over(bytes);

    EXPECT_EQ(virtual_file_seek(10, SEEK_SET, &image), 10);
    EXPECT_EQ(virtual_file_seek(5, SEEK_CUR, &image), 15);
    EXPECT_EQ(virtual_file_seek(-3, SEEK_CUR, &image), 12);
    EXPECT_EQ(virtual_file_seek(-10, SEEK_END, &image), 90);
    EXPECT_EQ(virtual_file_tell(&image), 90);

    EXPECT_EQ(virtual_file_seek(7, 3, &image), 90) << "an unknown whence leaves the position";
    EXPECT_EQ(virtual_file_seek(-5, SEEK_SET, &image), 0) << "before the start";
    EXPECT_EQ(virtual_file_seek(-50, SEEK_CUR, &image), 0);
    EXPECT_EQ(virtual_file_seek(101, SEEK_SET, &image), 100) << "beyond the end";
    EXPECT_EQ(virtual_file_seek(1, SEEK_END, &image), 100);
    EXPECT_EQ(virtual_file_tell(&image), 100);
}

TEST(VirtualFileSeek, ExtremeOffsetsSaturateInsteadOfOverflowing)
{
    auto bytes = counting_bytes(100);
    virtual_file image = image_over(bytes);
    constexpr sf_count_t huge = std::numeric_limits<sf_count_t>::max();
    constexpr sf_count_t tiny = std::numeric_limits<sf_count_t>::min();

    virtual_file_seek(50, SEEK_SET, &image);
    EXPECT_EQ(virtual_file_seek(huge, SEEK_CUR, &image), 100);
    EXPECT_EQ(virtual_file_seek(tiny, SEEK_CUR, &image), 0);
    EXPECT_EQ(virtual_file_seek(huge, SEEK_END, &image), 100);
    EXPECT_EQ(virtual_file_seek(tiny, SEEK_END, &image), 0);
}

TEST(VirtualFileRead, CopiesFromThePositionAndAdvances)
{
    auto bytes = counting_bytes(100);
    virtual_file image = image_over(bytes);
    std::array<unsigned char, 8> out{};

    virtual_file_seek(20, SEEK_SET, &image);
    ASSERT_EQ(virtual_file_read(out.data(), 8, &image), 8);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(out[static_cast<std::size_t>(i)], 21 + i) << "byte " << i;
    EXPECT_EQ(virtual_file_tell(&image), 28);
    EXPECT_EQ(virtual_file_get_length(&image), 100);
}

TEST(VirtualFileRead, NeverCopiesPastTheEndOfTheImage)
{
    auto bytes = counting_bytes(100);
    virtual_file image = image_over(bytes);
    std::array<unsigned char, 16> out{};
    out.fill(0xEE);

    virtual_file_seek(95, SEEK_SET, &image);
    EXPECT_EQ(virtual_file_read(out.data(), 10, &image), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(out[static_cast<std::size_t>(i)], 96 + i);
    for (std::size_t i = 5; i < out.size(); ++i)
        EXPECT_EQ(out[i], 0xEE) << "byte " << i << " was written past the cut";
    EXPECT_EQ(virtual_file_tell(&image), 100);
    EXPECT_EQ(virtual_file_read(out.data(), 4, &image), 0) << "at the end nothing remains";
}

TEST(VirtualFileRead, DeclaredBytesThatAreNotHeldReadAsZero)
{
    auto bytes = counting_bytes(44);
    virtual_file image = image_over(bytes, 1000); // the probe's 44-byte image of a longer file
    std::array<unsigned char, 12> out{};
    out.fill(0xEE);

    virtual_file_seek(40, SEEK_SET, &image);
    ASSERT_EQ(virtual_file_read(out.data(), 10, &image), 10);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(out[static_cast<std::size_t>(i)], 41 + i);
    for (std::size_t i = 4; i < 10; ++i)
        EXPECT_EQ(out[i], 0) << "byte " << i;
    EXPECT_EQ(out[10], 0xEE);
    EXPECT_EQ(virtual_file_tell(&image), 50);
}

TEST(VirtualFileRead, AnEmptyImageOrANonPositiveCountReadsNothing)
{
    std::vector<unsigned char> none;
    virtual_file empty = image_over(none);
    std::array<unsigned char, 4> out{};
    EXPECT_EQ(virtual_file_read(out.data(), 4, &empty), 0);

    auto bytes = counting_bytes(10);
    virtual_file image = image_over(bytes);
    EXPECT_EQ(virtual_file_read(out.data(), 0, &image), 0);
    EXPECT_EQ(virtual_file_read(out.data(), -4, &image), 0);
    EXPECT_EQ(virtual_file_tell(&image), 0);
}

TEST(VirtualFileWrite, WritesNothing)
{
    auto bytes = counting_bytes(10);
    auto const before = bytes;
    virtual_file image = image_over(bytes);
    std::array<unsigned char, 4> source{9, 9, 9, 9};
    EXPECT_EQ(virtual_file_write(source.data(), 4, &image), 0);
    EXPECT_EQ(bytes, before);
    EXPECT_EQ(virtual_file_tell(&image), 0);
}

// ---------------------------------------------------------------------------------------------
// Import

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

    TempDir dir_;
    SF_INFO info_{};
    SNDFILE* handle_ = nullptr;
    virtual_file image_{};
};

TEST_F(WirImport, PatchesOnlyTheMagicAndTheBitsPerSampleByte)
{
    auto const path = dir_ / "room.wir";
    write_wir_file(path, 2, 48000, 300);
    auto const file = read_bytes(path);

    ASSERT_EQ(import(path), 0);
    ASSERT_NE(image_.data, nullptr);
    ASSERT_EQ(image_.length, static_cast<sf_count_t>(file.size()));
    EXPECT_EQ(image_.held, image_.length);

    std::vector<unsigned char> expected = file;
    std::memcpy(expected.data(), "RIFF", 4);
    std::memcpy(expected.data() + 8, "WAVE", 4);
    expected[34] = 32;
    std::vector<unsigned char> const image(image_.data, image_.data + image_.length);
    EXPECT_EQ(image, expected);
}

TEST_F(WirImport, OpensThePatchedImageWithLibsndfile)
{
    auto const path = dir_ / "room.wir";
    write_wir_file(path, 2, 44100, 300);

    ASSERT_EQ(import(path), 0);
    ASSERT_NE(handle_, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info_.channels, 2);
    EXPECT_EQ(info_.samplerate, 44100);
    EXPECT_EQ(info_.frames, 300);
    EXPECT_EQ(info_.format & SF_FORMAT_TYPEMASK, SF_FORMAT_WAV);
    EXPECT_EQ(info_.format & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT);

    std::vector<float> samples(600);
    ASSERT_EQ(sf_readf_float(handle_, samples.data(), 300), 300);
    for (int i = 0; i < 300; ++i)
        for (int c = 0; c < 2; ++c)
            ASSERT_EQ(samples[static_cast<std::size_t>(i * 2 + c)], test_signal(i, c)) << i << "," << c;
}

TEST_F(WirImport, AcceptsACapitalExtension)
{
    auto const path = dir_ / "ROOM.WIR";
    write_wir_file(path, 1, 48000, 100);
    ASSERT_EQ(import(path), 0);
    EXPECT_NE(handle_, nullptr);
    EXPECT_EQ(info_.frames, 100);
}

TEST_F(WirImport, AFileOf34BytesOrFewerIsHandedOverUnpatched)
{
    auto const path = dir_ / "short.wir";
    write_wir_file(path, 1, 48000, 100, test_signal, 34);
    auto const file = read_bytes(path);
    ASSERT_EQ(file.size(), 34u);

    ASSERT_EQ(import(path), 0);
    std::vector<unsigned char> const image(image_.data, image_.data + image_.length);
    EXPECT_EQ(image, file);
    EXPECT_EQ(handle_, nullptr) << "libsndfile cannot read a header this short";
}

TEST_F(WirImport, AFileOf35BytesIsPatched)
{
    auto const path = dir_ / "short.wir";
    write_wir_file(path, 1, 48000, 100, test_signal, 35);
    ASSERT_EQ(import(path), 0);
    ASSERT_EQ(image_.length, 35);
    EXPECT_EQ(std::memcmp(image_.data, "RIFF", 4), 0);
    EXPECT_EQ(std::memcmp(image_.data + 8, "WAVE", 4), 0);
    EXPECT_EQ(image_.data[34], 32);
}

TEST_F(WirImport, RefusesEmptyMissingAndWronglyNamedFiles)
{
    write_bytes(dir_ / "empty.wir", {});
    EXPECT_EQ(import(dir_ / "empty.wir"), -1);
    EXPECT_EQ(import(dir_ / "missing.wir"), -1);

    write_wir_file(dir_ / "room.wav", 1, 48000, 100);
    EXPECT_EQ(import(dir_ / "room.wav"), -1);

    EXPECT_EQ(handle_, nullptr);
    EXPECT_EQ(image_.data, nullptr);
}

TEST_F(WirImport, AFileThatCannotBeOpenedGivesMinus3)
{
    auto const path = dir_ / "locked.wir";
    if (!make_unreadable_file(path, [&] { write_wir_file(path, 1, 48000, 100); }))
        GTEST_SKIP() << "no way to make an unreadable file here";
    EXPECT_EQ(import(path), -3);
    EXPECT_EQ(image_.data, nullptr);
}

TEST_F(WirImport, AShortReadGivesMinus4)
{
    // A folder has a size but yields no bytes.
    auto const path = dir_ / "folder.wir";
    std::filesystem::create_directory(path);
    EXPECT_EQ(import(path), -4);
    EXPECT_EQ(image_.data, nullptr);
}

TEST_F(WirImport, NullArgumentsAreRefused)
{
    EXPECT_EQ(allocate_memory_load_wir_sndfile(nullptr, nullptr, &info_, &handle_, &image_), -1);
    auto const path = dir_ / "room.wir";
    write_wir_file(path, 1, 48000, 10);
    EXPECT_EQ(allocate_memory_load_wir_sndfile(path.c_str(), nullptr, nullptr, &handle_, &image_), -1);
    EXPECT_EQ(allocate_memory_load_wir_sndfile(path.c_str(), nullptr, &info_, nullptr, &image_), -1);
    EXPECT_EQ(allocate_memory_load_wir_sndfile(path.c_str(), nullptr, &info_, &handle_, nullptr), -1);
}

// ---------------------------------------------------------------------------------------------
// Header-only probe

TEST_F(WirImport, TheProbeReadsOnlyTheHeaderButReportsTheWholeFile)
{
    auto const path = dir_ / "hall.wir";
    write_wir_file(path, 4, 96000, 5000);
    auto const size = static_cast<sf_count_t>(std::filesystem::file_size(path));

    ASSERT_EQ(populate_wir_sndfile_stats(path.c_str(), &info_, &handle_, &image_), 0);
    EXPECT_EQ(image_.held, 44);
    EXPECT_EQ(image_.length, size);
    ASSERT_NE(handle_, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info_.channels, 4);
    EXPECT_EQ(info_.samplerate, 96000);
    EXPECT_EQ(info_.frames, 5000);
    EXPECT_EQ(std::memcmp(image_.data, "RIFF", 4), 0);
    EXPECT_EQ(image_.data[34], 32);
}

TEST_F(WirImport, TheProbeRefusesWhatTheImportRefuses)
{
    write_bytes(dir_ / "empty.wir", {});
    EXPECT_EQ(populate_wir_sndfile_stats((dir_ / "empty.wir").c_str(), &info_, &handle_, &image_), -1);
    write_wir_file(dir_ / "room.aif", 1, 48000, 100);
    EXPECT_EQ(populate_wir_sndfile_stats((dir_ / "room.aif").c_str(), &info_, &handle_, &image_), -1);
    EXPECT_EQ(image_.data, nullptr);
}

TEST_F(WirImport, TheProbeOfAFileShorterThanAHeaderHoldsOnlyTheFile)
{
    auto const path = dir_ / "tiny.wir";
    write_wir_file(path, 1, 48000, 100, test_signal, 40);
    ASSERT_EQ(populate_wir_sndfile_stats(path.c_str(), &info_, &handle_, &image_), 0);
    EXPECT_EQ(image_.held, 40);
    EXPECT_EQ(image_.length, 40);
}

} // namespace
