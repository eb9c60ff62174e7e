#pragma once

// The audio file loader: turns an IR slot's file selection (a section A file and an optional
// section B file) into a four-channel planar float buffer at the engine's sample rate, plus the
// small helpers the rest of the system shares with it.
//
// IR load buffer: a table of four channel pointers; the table and every channel come from
// posix_memalign (32-byte aligned) and are released with std::free. Channels 0-1 hold section A
// (a mono file twice), channels 2-3 section B or the simulated true-stereo half.
//
// Threading: runs on the IR computation thread; touches only its arguments and the files. Failure
// messages go to the message sink from that thread.

#include <cstddef>
#include <cstdint>
#include <string>

// Loads the files into a newly allocated buffer (`buffer` null on entry) or, when `buffer` is not
// null, only reports the lengths a load would give, reading nothing. Every failure ends in one
// second of silence at `sample_rate` (allocated length 2 x sample_rate); some failures are also
// shown through MessageBoxA. Only the default IR's own allocation failures, and errors that are
// not std::runtime_error, leave the function. `sample_rate` must be 1 ... 1,000,000
// (std::invalid_argument otherwise, with nothing allocated).
void load_libsndfile_into_unallocated_memory(std::string const& path_a, std::string const& path_b,
                                             float**& buffer, int sample_rate, int& allocated_length,
                                             int& ir_length, int& bit_depth, int& file_sample_rate,
                                             void* unused, bool simulate_true_stereo, float sts_noise_seconds,
                                             float sts_level, bool add_noise, float noise_level,
                                             float noise_dry_gain, int noise_seed_offset,
                                             float noise_release);

// True when `name` ends in `extension` (given lower case with its dot, e.g. ".wir"), ignoring the
// case of the name. Only the last 4, then the last 5, characters are compared, so a name of 4
// characters or fewer never matches.
bool check_filename_extension(std::string const& name, std::string const& extension);

// The file's size in bytes, or -1 when the path cannot be examined.
std::int64_t get_file_size(std::string const& path);

// A silent IR of `frames` frames: when `buffer` is null, allocates the table and four zeroed
// channels of 2 x frames floats; then reports allocated length 2 x frames, IR length `frames` and
// bit depth 24. Allocation failures throw std::runtime_error; `frames` outside
// 1 ... 1,073,741,823 throws std::invalid_argument.
void create_silence_ir(int frames, float**& buffer, int unused, int& allocated_length, int& ir_length,
                       int& bit_depth, int& unused_out);

namespace corvella {

inline constexpr int ir_load_channels = 4;
inline constexpr int min_file_sample_rate = 8000;
inline constexpr int max_file_sample_rate = 200000;
inline constexpr long long max_file_frames = 10583999; // one frame short of 240 s at 44.1 kHz

// Why the last load fell back to the default IR, for callers and tests that need more than the
// message sink shows (most failures after a general-format file was opened are silent).
struct AudioFileLoadReport {
    bool failed = false; // the default IR was set
    bool shown = false;  // the text went to the message sink
    std::string text;    // the failure text, empty when the load succeeded
};

// load_libsndfile_into_unallocated_memory with a report; `report` may be null.
void load_audio_files(std::string const& path_a, std::string const& path_b, float**& buffer, int sample_rate,
                      int& allocated_length, int& ir_length, int& bit_depth, int& file_sample_rate,
                      bool simulate_true_stereo, float sts_noise_seconds, float sts_level, bool add_noise,
                      float noise_level, float noise_dry_gain, int noise_seed_offset, float noise_release,
                      AudioFileLoadReport* report);

// One section's file already in memory. Its name decides how it is read, as a path's would: a
// ".wir" name goes through the WIR patching, anything else straight to libsndfile.
struct AudioFileBytes {
    std::string name;
    void const* data = nullptr;
    std::size_t size = 0;
};

// load_audio_files for files in memory (through libsndfile's virtual I/O); a null section is no
// file. The same steps and failure handling as for paths, after the path checks.
void load_audio_file_bytes(AudioFileBytes const* file_a, AudioFileBytes const* file_b, float**& buffer,
                           int sample_rate, int& allocated_length, int& ir_length, int& bit_depth,
                           int& file_sample_rate, bool simulate_true_stereo, float sts_noise_seconds,
                           float sts_level, bool add_noise, float noise_level, float noise_dry_gain,
                           int noise_seed_offset, float noise_release, AudioFileLoadReport* report);

// Releases an IR load buffer of `channels` channels (null entries allowed) and sets it to null.
void free_ir_load_buffer(float**& buffer, int channels = ir_load_channels);

} // namespace corvella
