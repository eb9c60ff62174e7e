#include "ir/test_audio_files.h"

#include "support/wav_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace corvella::test {

namespace {

void put(std::vector<unsigned char>& bytes, std::size_t at, std::uint32_t value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>((value >> (8 * i)) & 0xFF);
}

std::vector<unsigned char> wave_header(int format_tag, int channels, int sample_rate, int bits_per_sample,
                                       std::uint32_t data_bytes, bool wir)
{
    std::vector<unsigned char> header(44, 0);
    auto const block_align = static_cast<std::uint32_t>(channels * bits_per_sample / 8);
    std::memcpy(header.data(), wir ? "wvir" : "RIFF", 4);
    put(header, 4, 36 + data_bytes, 4);
    std::memcpy(header.data() + 8, wir ? "ir01fmt " : "WAVEfmt ", 8);
    put(header, 16, 16, 4);
    put(header, 20, static_cast<std::uint32_t>(format_tag), 2);
    put(header, 22, static_cast<std::uint32_t>(channels), 2);
    put(header, 24, static_cast<std::uint32_t>(sample_rate), 4);
    put(header, 28, static_cast<std::uint32_t>(sample_rate) * block_align, 4);
    put(header, 32, block_align, 2);
    put(header, 34, wir ? 0u : static_cast<std::uint32_t>(bits_per_sample), 2);
    std::memcpy(header.data() + 36, "data", 4);
    put(header, 40, data_bytes, 4);
    return header;
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
    PlanarAudio audio(static_cast<std::size_t>(channels),
                      std::vector<float>(static_cast<std::size_t>(frames)));
    for (int c = 0; c < channels; ++c)
        for (std::int64_t i = 0; i < frames; ++i)
            audio[static_cast<std::size_t>(c)][static_cast<std::size_t>(i)] = sample(i, c);
    bool const written = write_planar_wav(path, audio, sample_rate, format);
    if (!written) ADD_FAILURE() << "libsndfile cannot write " << path;
    return written;
}

void write_wir_file(std::filesystem::path const& path, int channels, int sample_rate, std::int64_t frames,
                    SampleFunction const& sample, std::int64_t keep_bytes)
{
    auto const data_bytes = static_cast<std::uint32_t>(frames * channels * 4);
    std::vector<unsigned char> bytes = wave_header(3, channels, sample_rate, 32, data_bytes, true);
    for (std::int64_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            float const value = sample(i, c);
            std::uint32_t word = 0;
            std::memcpy(&word, &value, 4);
            bytes.resize(bytes.size() + 4);
            put(bytes, bytes.size() - 4, word, 4);
        }
    if (keep_bytes >= 0 && static_cast<std::size_t>(keep_bytes) < bytes.size())
        bytes.resize(static_cast<std::size_t>(keep_bytes));
    write_bytes(path, bytes);
}

void write_sparse_wave(std::filesystem::path const& path, int format_tag, int channels, int sample_rate,
                       int bits_per_sample, std::int64_t frames, bool wir)
{
    auto const data_bytes = static_cast<std::uint32_t>(frames * channels * bits_per_sample / 8);
    write_bytes(path, wave_header(format_tag, channels, sample_rate, bits_per_sample, data_bytes, wir));
    std::filesystem::resize_file(path, 44 + data_bytes);
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
