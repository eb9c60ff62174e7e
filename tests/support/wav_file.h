#pragma once

// Audio files for tests, as planar channels.

#include <sndfile.h>

#include <filesystem>
#include <vector>

namespace corvella::test {

using PlanarAudio = std::vector<std::vector<float>>;

// Writes the channels (all of one length) as a WAVE file, 32-bit float unless `format` says
// otherwise. False when the file cannot be written in full.
bool write_planar_wav(std::filesystem::path const& path, PlanarAudio const& channels, int rate,
                      int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT);

// The channels of an audio file; empty when it cannot be read. `rate`, when given, receives the
// file's sample rate.
PlanarAudio read_planar_audio(std::filesystem::path const& path, int* rate = nullptr);

} // namespace corvella::test
