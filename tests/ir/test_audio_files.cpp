#include "ir/test_audio_files.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace corvella::test {

namespace {

void put_u16(std::vector<unsigned char>& bytes, std::size_t at, unsigned value)
{
    bytes[at] = static_cast<unsigned char>(value & 0xFF);
    bytes[at + 1] = static_cast<unsigned char>((value >> 8) & 0xFF);
}

void put_u32(std::vector<unsigned char>& bytes, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>((value >> (8 * i)) & 0xFF);
}

// What distinguishes a ".wir" file from the WAVE file it patches back into.
void disguise_as_wir(std::vector<unsigned char>& header)
{
    std::memcpy(header.data(), "wvir", 4);
    std::memcpy(header.data() + 8, "ir01", 4);
    header[34] = 0;
}

} // namespace

float test_signal(std::int64_t frame, int channel)
{
    auto const k = static_cast<int>((frame * 7919 + channel * 104729 + 17) % 20001) - 10000;
    return static_cast<float>(k) / 32768.0f;
}

bool write_audio_file(std::filesystem::path const& path, int format, int channels, int sample_rate,
                      std::int64_t frames, SampleFunction const& sample)
{
    SF_INFO info{};
    info.samplerate = sample_rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        ADD_FAILURE() << "libsndfile cannot write " << path << ": " << sf_strerror(nullptr);
        return false;
    }
    constexpr std::int64_t block = 4096;
    std::vector<float> interleaved(static_cast<std::size_t>(block * channels));
    for (std::int64_t start = 0; start < frames; start += block) {
        std::int64_t const count = std::min(block, frames - start);
        for (std::int64_t i = 0; i < count; ++i)
            for (int c = 0; c < channels; ++c)
                interleaved[static_cast<std::size_t>(i * channels + c)] = sample(start + i, c);
        if (sf_writef_float(file, interleaved.data(), count) != count) {
            ADD_FAILURE() << "short write to " << path << ": " << sf_strerror(file);
            sf_close(file);
            return false;
        }
    }
    sf_close(file);
    return true;
}

std::vector<unsigned char> wave_header(int format_tag, int channels, int sample_rate, int bits_per_sample,
                                       std::uint32_t data_bytes)
{
    std::vector<unsigned char> header(44, 0);
    int const block_align = channels * bits_per_sample / 8;
    std::memcpy(header.data(), "RIFF", 4);
    put_u32(header, 4, 36 + data_bytes);
    std::memcpy(header.data() + 8, "WAVE", 4);
    std::memcpy(header.data() + 12, "fmt ", 4);
    put_u32(header, 16, 16);
    put_u16(header, 20, static_cast<unsigned>(format_tag));
    put_u16(header, 22, static_cast<unsigned>(channels));
    put_u32(header, 24, static_cast<std::uint32_t>(sample_rate));
    put_u32(header, 28, static_cast<std::uint32_t>(sample_rate * block_align));
    put_u16(header, 32, static_cast<unsigned>(block_align));
    put_u16(header, 34, static_cast<unsigned>(bits_per_sample));
    std::memcpy(header.data() + 36, "data", 4);
    put_u32(header, 40, data_bytes);
    return header;
}

void write_wir_file(std::filesystem::path const& path, int channels, int sample_rate, std::int64_t frames,
                    SampleFunction const& sample, std::int64_t keep_bytes)
{
    auto const data_bytes = static_cast<std::uint32_t>(frames * channels * 4);
    std::vector<unsigned char> bytes = wave_header(3, channels, sample_rate, 32, data_bytes);
    disguise_as_wir(bytes);
    bytes.reserve(bytes.size() + data_bytes);
    for (std::int64_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            float const value = sample(i, c);
            std::uint32_t word = 0;
            std::memcpy(&word, &value, 4);
            for (int b = 0; b < 4; ++b)
                bytes.push_back(static_cast<unsigned char>((word >> (8 * b)) & 0xFF));
        }
    if (keep_bytes >= 0 && static_cast<std::size_t>(keep_bytes) < bytes.size())
        bytes.resize(static_cast<std::size_t>(keep_bytes));
    write_bytes(path, bytes);
}

void write_sparse_wave(std::filesystem::path const& path, int format_tag, int channels, int sample_rate,
                       int bits_per_sample, std::int64_t frames, bool wir)
{
    auto const data_bytes = static_cast<std::uint32_t>(frames * channels * bits_per_sample / 8);
    std::vector<unsigned char> header =
        wave_header(format_tag, channels, sample_rate, bits_per_sample, data_bytes);
    if (wir) disguise_as_wir(header);
    write_bytes(path, header);
    std::filesystem::resize_file(path, header.size() + data_bytes);
}

bool make_unreadable_file(std::filesystem::path const& path, std::function<void()> const& write)
{
    if (geteuid() != 0) {
        write();
        std::filesystem::permissions(path, std::filesystem::perms::none);
        return true;
    }
    std::filesystem::path const write_only = "/sys/bus/platform/drivers_probe";
    std::error_code error;
    if (std::filesystem::file_size(write_only, error) == 0 || error) return false;
    std::filesystem::create_symlink(write_only, path, error);
    return !error;
}

std::vector<unsigned char> read_bytes(std::filesystem::path const& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_bytes(std::filesystem::path const& path, std::vector<unsigned char> const& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<char const*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) ADD_FAILURE() << "cannot write " << path;
}

} // namespace corvella::test
