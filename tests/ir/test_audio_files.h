#pragma once

// Small audio files for the loader tests: general formats through libsndfile, ".wir" images and
// sparse WAVE files written byte by byte.

#include "support/wav_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <vector>

namespace corvella::test {

using Bytes = std::vector<unsigned char>;
using SampleFunction = std::function<float(std::int64_t frame, int channel)>;

// Differs per frame and channel; a multiple of 1/32768 within +-0.31, so every integer format from
// 16 bits up stores it exactly.
inline float test_signal(std::int64_t frame, int channel)
{
    return static_cast<float>(static_cast<int>((frame * 7919 + channel * 104729 + 17) % 20001) - 10000) /
           32768.0f;
}

inline Bytes read_bytes(std::filesystem::path const& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_bytes(std::filesystem::path const& path, Bytes const& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<char const*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) ADD_FAILURE() << "cannot write " << path;
}

// A file in `format` (SF_FORMAT_* container and encoding); fails the test and returns false when
// libsndfile refuses.
inline bool write_audio_file(std::filesystem::path const& path, int format, int channels, int sample_rate,
                             std::int64_t frames, SampleFunction const& sample = test_signal)
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

// A canonical 44-byte WAVE header; the ".wir" form replaces "RIFF" and "WAVE" and sets the low
// byte of bits-per-sample (byte 34) to 0.
inline Bytes wave_header(int format_tag, int channels, int rate, int bits, std::uint32_t data_bytes, bool wir)
{
    Bytes h(44, 0);
    auto put = [&](std::size_t at, std::uint32_t value, int size) {
        for (int i = 0; i < size; ++i)
            h[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(value >> (8 * i));
    };
    auto const block_align = static_cast<std::uint32_t>(channels * bits / 8);
    std::memcpy(h.data(), wir ? "wvir" : "RIFF", 4);
    put(4, 36 + data_bytes, 4);
    std::memcpy(h.data() + 8, wir ? "ir01fmt " : "WAVEfmt ", 8);
    put(16, 16, 4);
    put(20, static_cast<std::uint32_t>(format_tag), 2);
    put(22, static_cast<std::uint32_t>(channels), 2);
    put(24, static_cast<std::uint32_t>(rate), 4);
    put(28, static_cast<std::uint32_t>(rate) * block_align, 4);
    put(32, block_align, 2);
    put(34, wir ? 0u : static_cast<std::uint32_t>(bits), 2);
    std::memcpy(h.data() + 36, "data", 4);
    put(40, data_bytes, 4);
    return h;
}

// A ".wir" file of float samples, cut after `keep_bytes` bytes when that is not negative.
inline void write_wir_file(std::filesystem::path const& path, int channels, int sample_rate,
                           std::int64_t frames, SampleFunction const& sample = test_signal,
                           std::int64_t keep_bytes = -1)
{
    Bytes bytes =
        wave_header(3, channels, sample_rate, 32, static_cast<std::uint32_t>(frames * channels * 4), true);
    for (std::int64_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            float const value = sample(i, c);
            bytes.resize(bytes.size() + 4);
            std::memcpy(bytes.data() + bytes.size() - 4, &value, 4); // little-endian machines only
        }
    if (keep_bytes >= 0 && static_cast<std::size_t>(keep_bytes) < bytes.size())
        bytes.resize(static_cast<std::size_t>(keep_bytes));
    write_bytes(path, bytes);
}

// A canonical WAVE file (or its ".wir" variant) of silent frames whose data is a hole: no disk.
inline void write_sparse_wave(std::filesystem::path const& path, int format_tag, int channels,
                              int sample_rate, int bits_per_sample, std::int64_t frames, bool wir = false)
{
    auto const data_bytes = static_cast<std::uint32_t>(frames * channels * bits_per_sample / 8);
    write_bytes(path, wave_header(format_tag, channels, sample_rate, bits_per_sample, data_bytes, wir));
    std::filesystem::resize_file(path, 44 + data_bytes);
}

// Makes `path` a file that exists, has a size and cannot be read: the file `write` makes with its
// permissions removed, or, for root, a link to a write-only kernel attribute. False when neither
// is possible.
inline bool make_unreadable_file(std::filesystem::path const& path, std::function<void()> const& write)
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

} // namespace corvella::test
