#pragma once

// ".fir" files: a Fusion impulse response, stored as head channels and tail channels of 32-bit
// float samples at one sample rate. Layout (little-endian, the rest of the header is zero):
//   0     int32   magic 0x46495278 (the bytes "xRIF")
//   4     int32   format version, 2
//   8     int32   sample rate of the data
//   16    int32   head channels        20  int32  tail channels
//   24    int32   head length          28  int32  tail length (samples per channel)
//   1024  float32 head gain in dB      1028 float32 tail gain in dB (-20 means off)
//   1032  float32 overall gain in dB
//   2048  float32 data: the head channels one after another, then the tail channels
//
// The reader is the one the engine loads with: a file that fails any check gives nothing.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace corvella {

inline constexpr std::int32_t fir_magic = 0x46495278;
inline constexpr std::int32_t fir_version = 2;
inline constexpr std::size_t fir_header_size = 2048;
// The modulated convolver holds nine true-stereo sets: a head set and eight tail sets.
inline constexpr int fir_max_head_channels = 4;
inline constexpr int fir_max_tail_channels = 32;

struct fir_contents {
    int sample_rate = 0;
    float head_gain_db = 0.0f;
    float tail_gain_db = 0.0f;
    float gain_db = 0.0f;
    std::vector<std::vector<float>> head; // head channels, all of one length
    std::vector<std::vector<float>> tail; // tail channels, all of one length, at least the head's
};

// The file's contents, or nothing when it is shorter than its header, has another magic or
// version, a size other than its header gives, a tail shorter than its head, channel counts
// outside 0..4 (head) and 1..32 (tail), a rate that is not positive, or samples that are not
// finite. `why` (when given) then says which check failed.
std::optional<fir_contents> read_fir_file(std::filesystem::path const& path, std::string* why = nullptr);

// The file's bytes for `contents`; empty (and `error` set) when the contents break a rule above.
std::string fir_file_bytes(fir_contents const& contents, std::string& error);

} // namespace corvella
