#pragma once

// Writes small audio files for the loader tests and the loading benchmark: general formats through
// libsndfile, ".wir" images and sparse WAVE files byte by byte.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

namespace corvella::test {

// The sample of a channel at a frame.
using SampleFunction = std::function<float(std::int64_t frame, int channel)>;

// A deterministic signal that differs per frame and channel and is a multiple of 1/32768 within
// +-0.31, so that every integer format from 16 bits up stores it exactly.
float test_signal(std::int64_t frame, int channel);

// Writes a file of `frames` frames with libsndfile; `format` is a SF_FORMAT_* container and
// encoding. Fails the current test (and returns false) when libsndfile refuses.
bool write_audio_file(std::filesystem::path const& path, int format, int channels, int sample_rate,
                      std::int64_t frames, SampleFunction const& sample = test_signal);

// A canonical 44-byte WAVE header ("RIFF", "fmt " of 16 bytes, "data").
std::vector<unsigned char> wave_header(int format_tag, int channels, int sample_rate, int bits_per_sample,
                                       std::uint32_t data_bytes);

// A ".wir" file: a canonical WAVE header of 32-bit float samples (format tag 3) whose "RIFF" and
// "WAVE" magic are replaced by other text and whose bits-per-sample low byte (byte 34) is 0,
// followed by the little-endian samples. `keep_bytes` (when not negative) cuts the file after that
// many bytes.
void write_wir_file(std::filesystem::path const& path, int channels, int sample_rate, std::int64_t frames,
                    SampleFunction const& sample = test_signal, std::int64_t keep_bytes = -1);

// A WAVE file of `frames` silent frames whose data is a hole (a sparse file): costs no disk.
// `wir` writes the ".wir" variant (float samples, magic replaced).
void write_sparse_wave(std::filesystem::path const& path, int format_tag, int channels, int sample_rate,
                       int bits_per_sample, std::int64_t frames, bool wir = false);

// Makes `path` a file that exists, has a size, and cannot be opened for reading: the file written
// by `write` with its permissions removed, or, for root (who reads everything), a link to a
// write-only kernel attribute. False when neither is possible.
bool make_unreadable_file(std::filesystem::path const& path, std::function<void()> const& write);

std::vector<unsigned char> read_bytes(std::filesystem::path const& path);
void write_bytes(std::filesystem::path const& path, std::vector<unsigned char> const& bytes);

} // namespace corvella::test
