#pragma once

// Small audio files for the loader tests: general formats through libsndfile, ".wir" images and
// sparse WAVE files written byte by byte.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

namespace corvella::test {

using SampleFunction = std::function<float(std::int64_t frame, int channel)>;

// Differs per frame and channel; a multiple of 1/32768 within +-0.31, so every integer format from
// 16 bits up stores it exactly.
float test_signal(std::int64_t frame, int channel);

// A file in `format` (SF_FORMAT_* container and encoding); fails the test and returns false when
// libsndfile refuses.
bool write_audio_file(std::filesystem::path const& path, int format, int channels, int sample_rate,
                      std::int64_t frames, SampleFunction const& sample = test_signal);

// A ".wir" file: a canonical 44-byte WAVE header of float samples whose "RIFF" and "WAVE" magic are
// replaced and whose bits-per-sample low byte (byte 34) is 0, then the samples; cut after
// `keep_bytes` bytes when that is not negative.
void write_wir_file(std::filesystem::path const& path, int channels, int sample_rate, std::int64_t frames,
                    SampleFunction const& sample = test_signal, std::int64_t keep_bytes = -1);

// A canonical WAVE file (or its ".wir" variant) of silent frames whose data is a hole: no disk.
void write_sparse_wave(std::filesystem::path const& path, int format_tag, int channels, int sample_rate,
                       int bits_per_sample, std::int64_t frames, bool wir = false);

// Makes `path` a file that exists, has a size and cannot be read: the file `write` makes with its
// permissions removed, or, for root, a link to a write-only kernel attribute. False when neither
// is possible.
bool make_unreadable_file(std::filesystem::path const& path, std::function<void()> const& write);

std::vector<unsigned char> read_bytes(std::filesystem::path const& path);
void write_bytes(std::filesystem::path const& path, std::vector<unsigned char> const& bytes);

} // namespace corvella::test
