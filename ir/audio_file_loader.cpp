#include "ir/audio_file_loader.h"
#include "platform/aligned_memory.h"

#include "convolution/ipps.h"
#include "ir/ir_shaping.h"
#include "ir/wir_image.h"
#include "platform/message_box.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>

namespace {

// ---------------------------------------------------------------------------------------------
// Message texts, in the order of the load sequence.

namespace text {
constexpr char no_files[] = "File loading error, no files selected. Setting default IR.";
constexpr char file_prefix[] = "File ";
constexpr char file_suffix[] = " could not be loaded.";

struct SectionTexts {
    char const* wir_short_read;
    char const* wir_cannot_open;
    char const* wir_no_memory;
    char const* wir_unrecognised;
    char const* unrecognised_format;
    char const* system_error;
    char const* malformed;
    char const* unsupported_encoding;
};

constexpr SectionTexts section_a{
    "File loading error (IRx-A), WIR import failed to read entire file. Setting default IR.",
    "File loading error (IRx-A), WIR import could not open file. Setting default IR.",
    "File loading error (IRx-A), WIR import failed to allocate enough memory. Setting default IR.",
    "File loading error (IRx-A), WIR import found an unrecognised file. Setting default IR.",
    "File loading error (IRx-A), unrecognised format. Setting default IR.",
    "File loading error (IRx-A), file could not be found or a more general file system error occurred. "
    "Setting "
    "default IR.",
    "File loading error (IRx-A), malformed or corrupt file. Setting default IR.",
    "File loading error (IRx-A), unsupported encoding. Setting default IR.",
};

constexpr SectionTexts section_b{
    "File loading error (IRx-B), WIR import failed to read entire file. Setting default IR.",
    "File loading error (IRx-B), WIR import could not open file. Setting default IR.",
    "File loading error (IRx-B), WIR import failed to allocate enough memory. Setting default IR.",
    "File loading error (IRx-B), WIR import found an unrecognised file. Setting default IR.",
    "File loading error (IRx-B), unrecognised format. Setting default IR.",
    "File loading error (IRx-B), file could not be found or a more general file system error occurred. "
    "Setting "
    "default IR.",
    "File loading error (IRx-B), malformed or corrupt file. Setting default IR.",
    "File loading error (IRx-B), unsupported encoding. Setting default IR.",
};

constexpr char rates_differ[] =
    "File loading error, IR files must be of the same sample rate for use as true stereo "
    "pairs. Setting default IR.";
constexpr char unknown_format_a[] =
    "File loading error (file a). Audio file could not be read (unknown format).";
constexpr char unknown_format_b[] =
    "File loading error (file b). Audio file could not be read (unknown format).";
constexpr char channels_a[] = "File loading error (file a). Only mono, stereo and quad files are supported.";
constexpr char channels_b[] = "File loading error (file b). Only mono, stereo and quad files are supported.";
constexpr char no_rate[] = "File loading error. Setting default IR.";
constexpr char bad_rate[] =
    "File loading error, unsupported or invalid sample rate reported. Setting default IR.";
constexpr char bad_depth[] =
    "File loading error, unsupported or invalid bit depth reported. Setting default IR.";
constexpr char too_long[] =
    "File load error: impulse response too long. Processing will be disabled and plugin "
    "locked";
constexpr char bad_length[] = "File load error: invalid length reported. Setting default IR.";
constexpr char table_malloc[] = "malloc error on ir1_multichannel_load_ir_buffer in audio file loader";
constexpr char channel_malloc[] = "malloc error on ir1_multichannel_load_ir_buffer[channel_count]";
constexpr char read_buffer_malloc[] = "malloc error on extracted_multichannel_samples in audio file loader";
constexpr char seek_failed[] =
    "Audio file processing error, internal seek failed. Processing will be disabled "
    "and plugin locked";
constexpr char silence_table_malloc[] =
    "malloc error on ir1_multichannel_load_ir_buffer (default IR initialisation "
    "in audio file loader)";
constexpr char silence_channel_malloc[] =
    "malloc error on ir1_multichannel_load_ir_buffer[channel_count] (default IR "
    "initialisation in audio file loader)";
} // namespace text

// libsndfile encoding subtypes the bit depth is derived from.
constexpr int subtype_none = 0;
constexpr int subtype_pcm_16 = 2;
constexpr int subtype_pcm_24 = 3;
constexpr int subtype_pcm_32 = 4;
constexpr int subtype_float = 6;

// WIR sample scaling: section B's factor is not section A's.
constexpr float wir_gain_a = 0.01f;
constexpr float wir_gain_b = 0.00003125f;

constexpr int max_engine_rate = 1000000;
constexpr int max_silence_frames = 1073741823; // 2 x frames must fit an int

// Failures of the path checks (no files, missing file, folder) are never shown.
class PathError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using corvella::FreeDeleter;

template <typename T> T* aligned_uninitialised(std::size_t count)
{
    return corvella::aligned_new<T>(count, false);
}

template <typename T> T* aligned_zeroed(std::size_t count)
{
    return corvella::aligned_new<T>(count, true);
}

// One opened file: its handle, its header record and, for a WIR file, the image the handle
// reads from (released only after the handle is closed).
struct Section {
    SF_INFO info{};
    SNDFILE* handle = nullptr;
    virtual_file image{};
    bool wir = false;

    Section() = default;
    Section(Section const&) = delete;
    Section& operator=(Section const&) = delete;
    ~Section() { close(); }

    bool open() const { return handle != nullptr; }
    int channels() const { return info.channels; }
    int subtype() const { return info.format & 0xFFFF; }

    void close()
    {
        if (handle) sf_close(handle);
        handle = nullptr;
        corvella::release_virtual_file(image);
    }
};

// Turns a WIR import status into the section's failure.
void check_wir_status(int status, text::SectionTexts const& texts, Section const& section)
{
    switch (status) {
    case 0:
        break;
    case -4:
        throw std::runtime_error(texts.wir_short_read);
    case -3:
        throw std::runtime_error(texts.wir_cannot_open);
    case -2:
        throw std::runtime_error(texts.wir_no_memory);
    default:
        throw std::runtime_error(texts.wir_unrecognised);
    }
    // libsndfile refused the patched image: its header record is not filled.
    if (!section.handle) throw std::runtime_error(texts.wir_unrecognised);
}

// Turns libsndfile's verdict on a general-format open into the section's failure.
void check_general_open(int error, text::SectionTexts const& texts, Section const& section)
{
    switch (error) {
    case SF_ERR_NO_ERROR:
        break;
    case SF_ERR_UNRECOGNISED_FORMAT:
        throw std::runtime_error(texts.unrecognised_format);
    case SF_ERR_SYSTEM:
        throw std::runtime_error(texts.system_error);
    case SF_ERR_MALFORMED_FILE:
        throw std::runtime_error(texts.malformed);
    case SF_ERR_UNSUPPORTED_ENCODING:
        throw std::runtime_error(texts.unsupported_encoding);
    default:
        throw std::runtime_error(texts.malformed); // an internal code: the header is not to be trusted
    }
    if (!section.handle) throw std::runtime_error(texts.malformed);
}

void open_section(std::string const& path, text::SectionTexts const& texts, Section& section,
                  bool& general_opened)
{
    if (check_filename_extension(path, ".wir")) {
        section.wir = true;
        check_wir_status(allocate_memory_load_wir_sndfile(path.c_str(), nullptr, &section.info, &section.handle,
                                                          &section.image),
                         texts, section);
        return;
    }
    general_opened = true;
    section.handle = sf_open(path.c_str(), SFM_READ, &section.info);
    check_general_open(sf_error(section.handle), texts, section);
}

// The same for a file already in memory; its name decides the route as a path's would.
void open_section(corvella::AudioFileBytes const& file, text::SectionTexts const& texts, Section& section,
                  bool& general_opened)
{
    if (check_filename_extension(file.name, ".wir")) {
        section.wir = true;
        check_wir_status(corvella::open_wir_bytes(file.data, file.size, &section.info, &section.handle,
                                                  &section.image),
                         texts, section);
        return;
    }
    general_opened = true;
    int const status =
        corvella::open_sound_bytes(file.data, file.size, &section.info, &section.handle, &section.image);
    if (status != 0) throw std::runtime_error(texts.system_error);
    check_general_open(sf_error(section.handle), texts, section);
}

// Opens the sections of one load (steps 1-4), throwing its failures.
using SectionOpener = std::function<void(Section& a, Section& b, bool& general_opened)>;

bool usable_channel_count(int channels)
{
    return channels == 1 || channels == 2 || channels == 4;
}

// Splits `frames` interleaved frames of `channels` channels into two planar channels: a mono file
// goes to both, a stereo file's channels 1-2 to first and second, a quad file's channels
// quad_first and quad_first + 1.
void distribute(float const* interleaved, int channels, int frames, float* first, float* second,
                int quad_first)
{
    if (channels == 1) {
        ippsCopy_32f(interleaved, first, frames);
        ippsCopy_32f(interleaved, second, frames);
        return;
    }
    int const values = frames * channels;
    int const offset = channels == 4 ? quad_first : 0;
    int written = 0;
    int phase = offset;
    ippsSampleDown_32f(interleaved, values, first, &written, channels, &phase);
    phase = offset + 1;
    ippsSampleDown_32f(interleaved, values, second, &written, channels, &phase);
}

// Reads the whole file into the interleaved buffer and splits it into two channels of the IR.
void read_section(Section& section, float* interleaved, float gain_if_wir, float* first, float* second,
                  int quad_first)
{
    if (sf_seek(section.handle, 0, SEEK_SET) == -1) throw std::runtime_error(text::seek_failed);
    // At most the longer file's length, which has passed the limits.
    int const frames = static_cast<int>(std::max<sf_count_t>(section.info.frames, 0));
    int const channels = section.channels();
    if (frames == 0) return;
    sf_count_t const got = std::max<sf_count_t>(sf_readf_float(section.handle, interleaved, frames), 0);
    // A short read (a truncated file) leaves silence, not the previous section's samples.
    if (got < frames)
        std::memset(interleaved + got * channels, 0,
                    static_cast<std::size_t>(frames - got) * channels * sizeof(float));
    if (section.wir) ippsMulC_32f_I(gain_if_wir, interleaved, frames * channels);
    // Float files can hold NaN and infinities; one such sample would poison every block the
    // convolver computes with it, so it is read as silence.
    std::replace_if(
        interleaved, interleaved + static_cast<std::size_t>(frames) * channels,
        [](float sample) { return !std::isfinite(sample); }, 0.0f);
    distribute(interleaved, channels, frames, first, second, quad_first);
}

int bit_depth_of(Section const& a, Section const& b)
{
    int depth = 32;
    if (a.open()) {
        switch (a.subtype()) {
        case subtype_none:
            throw std::runtime_error(text::unknown_format_a);
        case subtype_pcm_16:
            depth = 16;
            break;
        case subtype_pcm_32:
        case subtype_float:
            depth = 32;
            break;
        default:
            depth = 24;
            break;
        }
    }
    if (b.open()) {
        switch (b.subtype()) {
        case subtype_none:
            throw std::runtime_error(text::unknown_format_b);
        case subtype_pcm_16:
            depth = 16;
            break;
        case subtype_pcm_24:
            depth = std::min(depth, 24);
            break;
        case subtype_pcm_32:
        case subtype_float:
            depth = std::min(depth, 32);
            break;
        default:
            depth = 24;
            break; // an unusual B encoding reports 24 whatever A was
        }
    }
    return depth;
}

// Steps 1-18 of a load; every failure is thrown and handled by the caller.
void load_or_throw(SectionOpener const& open_sections, float**& buffer, bool buffer_given, int sample_rate,
                   int& allocated_length, int& ir_length, int& bit_depth, int& file_sample_rate,
                   bool simulate_true_stereo, float sts_noise_seconds, float sts_level, bool add_noise,
                   float noise_level, float noise_dry_gain, int noise_seed_offset, float noise_release, Section& a,
                   Section& b, bool& general_opened)
{
    open_sections(a, b, general_opened);

    if (a.open() && b.open() && a.info.samplerate != b.info.samplerate)
        throw std::runtime_error(text::rates_differ);
    if (a.open()) file_sample_rate = a.info.samplerate;
    if (b.open()) file_sample_rate = b.info.samplerate;

    bit_depth = bit_depth_of(a, b);

    if (a.open() && !usable_channel_count(a.channels())) throw std::runtime_error(text::channels_a);
    if (b.open() && !usable_channel_count(b.channels())) throw std::runtime_error(text::channels_b);

    if (file_sample_rate == -1) throw std::runtime_error(text::no_rate);
    if (file_sample_rate < corvella::min_file_sample_rate ||
        file_sample_rate > corvella::max_file_sample_rate)
        throw std::runtime_error(text::bad_rate);
    if (bit_depth < 16 || bit_depth > 32) throw std::runtime_error(text::bad_depth);

    sf_count_t longest = 0;
    if (a.open() && b.open())
        longest = std::max(a.info.frames, b.info.frames);
    else
        longest = a.open() ? a.info.frames : b.info.frames;
    if (longest > corvella::max_file_frames) throw std::runtime_error(text::too_long);
    if (longest < 1) throw std::runtime_error(text::bad_length);
    int const frames = static_cast<int>(longest);

    // Room for 0.58 s more, for up-sampling, 50 % headroom and 65,536 spare frames, so that the
    // later shaping steps work in place.
    int const padded = frames + static_cast<int>(0.58f * static_cast<float>(file_sample_rate));
    float const ratio = static_cast<float>(sample_rate) / static_cast<float>(file_sample_rate);
    int const longest_padded =
        static_cast<int>(std::max(static_cast<float>(padded), static_cast<float>(padded) * ratio));
    allocated_length = longest_padded + longest_padded / 2 + 65536;

    if (!buffer_given) {
        buffer = aligned_zeroed<float*>(corvella::ir_load_channels);
        if (!buffer) throw std::runtime_error(text::table_malloc);
        for (int channel = 0; channel < corvella::ir_load_channels; ++channel) {
            buffer[channel] = aligned_zeroed<float>(static_cast<std::size_t>(allocated_length));
            if (!buffer[channel]) throw std::runtime_error(text::channel_malloc);
        }
        // Not cleared: each read fills what it splits (a short read clears its own remainder), and
        // clearing the whole four-channel buffer would cost more than the read of a stereo file.
        std::unique_ptr<float, FreeDeleter> interleaved(
            aligned_uninitialised<float>(static_cast<std::size_t>(frames) * corvella::ir_load_channels));
        if (!interleaved) throw std::runtime_error(text::read_buffer_malloc);

        if (a.open()) read_section(a, interleaved.get(), wir_gain_a, buffer[0], buffer[1], 0);
        if (b.open()) read_section(b, interleaved.get(), wir_gain_b, buffer[2], buffer[3], 2);
        interleaved.reset();

        ir_length = frames;
        if (simulate_true_stereo)
            convolve_ir_ch01_with_noise_to_ch23(buffer, allocated_length, ir_length, sts_noise_seconds,
                                                file_sample_rate, 0, sts_level);
        if (add_noise)
            add_shaped_noise(buffer, ir_length, corvella::ir_load_channels, 2.0f * noise_level,
                             noise_dry_gain, ir_length % 1000 + noise_seed_offset, noise_release,
                             file_sample_rate);

        if (file_sample_rate != sample_rate) {
            if (a.open()) {
                int allocated = allocated_length;
                int length = ir_length;
                resample_audio_file_into_preallocated_memory(buffer, file_sample_rate, sample_rate, allocated,
                                                             length, 2);
            }
            if (b.open() || simulate_true_stereo) {
                int allocated = allocated_length;
                int length = ir_length;
                resample_audio_file_into_preallocated_memory(buffer + 2, file_sample_rate, sample_rate,
                                                             allocated, length, 2);
            }
        }
    }

    // A file shorter than one frame at the engine rate (one frame at 200 kHz read at 8 kHz) still
    // gives a one-frame IR: the shaping steps and the convolvers need a sample to work on.
    ir_length = std::max(1, static_cast<int>(ratio * static_cast<float>(frames)));
}

// A whole load with its failure handling, whatever the sections are read from.
void run_load(SectionOpener const& open_sections, float**& buffer, int sample_rate, int& allocated_length,
              int& ir_length, int& bit_depth, int& file_sample_rate, bool simulate_true_stereo,
              float sts_noise_seconds, float sts_level, bool add_noise, float noise_level, float noise_dry_gain,
              int noise_seed_offset, float noise_release, corvella::AudioFileLoadReport* report)
{
    if (sample_rate < 1 || sample_rate > max_engine_rate)
        throw std::invalid_argument(
            "load_libsndfile_into_unallocated_memory: engine sample rate out of range");
    if (report) *report = corvella::AudioFileLoadReport{};

    bool const buffer_given = buffer != nullptr;
    bool general_opened = false; // set once sf_open has been called, before its error is examined
    bool path_failure = false;
    std::string failure;
    {
        Section a;
        Section b;
        try {
            load_or_throw(open_sections, buffer, buffer_given, sample_rate, allocated_length, ir_length,
                          bit_depth, file_sample_rate, simulate_true_stereo, sts_noise_seconds, sts_level,
                          add_noise, noise_level, noise_dry_gain, noise_seed_offset, noise_release, a, b,
                          general_opened);
            return;
        } catch (PathError const& error) {
            path_failure = true;
            failure = error.what();
        } catch (std::runtime_error const& error) {
            failure = error.what();
        }
    } // handles closed and images released before the message is shown

    bool const shown = !path_failure && !general_opened;
    if (report) *report = corvella::AudioFileLoadReport{true, shown, failure};
    if (shown) MessageBoxA(nullptr, failure.c_str(), corvella::caption::engine, corvella::message_box_ok);

    // The default IR: whatever this call allocated may hold part of a file, so it is replaced by
    // fresh silence; a buffer the caller passed in is left as it is.
    if (!buffer_given) {
        corvella::free_ir_load_buffer(buffer);
        int unused = 0;
        create_silence_ir(sample_rate, buffer, 0, allocated_length, ir_length, bit_depth, unused);
    } else {
        allocated_length = 2 * sample_rate;
        ir_length = sample_rate;
    }
}

} // namespace

bool check_filename_extension(std::string const& name, std::string const& extension)
{
    auto tail_matches = [&](std::size_t count) {
        std::string tail = name.substr(name.size() - count);
        for (char& c : tail)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return tail == extension;
    };
    if (name.size() > 4 && tail_matches(4)) return true;
    if (name.size() > 5 && tail_matches(5)) return true;
    return false;
}

std::int64_t get_file_size(std::string const& path)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return -1;
    return static_cast<std::int64_t>(status.st_size);
}

void create_silence_ir(int frames, float**& buffer, int, int& allocated_length, int& ir_length,
                       int& bit_depth, int&)
{
    if (frames < 1 || frames > max_silence_frames)
        throw std::invalid_argument("create_silence_ir: frame count out of range");
    if (!buffer) {
        float** table = aligned_zeroed<float*>(corvella::ir_load_channels);
        if (!table) throw std::runtime_error(text::silence_table_malloc);
        for (int channel = 0; channel < corvella::ir_load_channels; ++channel) {
            table[channel] = aligned_zeroed<float>(2 * static_cast<std::size_t>(frames));
            if (!table[channel]) {
                corvella::free_ir_load_buffer(table);
                throw std::runtime_error(text::silence_channel_malloc);
            }
        }
        buffer = table;
    }
    allocated_length = 2 * frames;
    ir_length = frames;
    bit_depth = 24;
}

void load_libsndfile_into_unallocated_memory(std::string const& path_a, std::string const& path_b,
                                             float**& buffer, int sample_rate, int& allocated_length,
                                             int& ir_length, int& bit_depth, int& file_sample_rate, void*,
                                             bool simulate_true_stereo, float sts_noise_seconds,
                                             float sts_level, bool add_noise, float noise_level,
                                             float noise_dry_gain, int noise_seed_offset, float noise_release)
{
    corvella::load_audio_files(path_a, path_b, buffer, sample_rate, allocated_length, ir_length, bit_depth,
                               file_sample_rate, simulate_true_stereo, sts_noise_seconds, sts_level,
                               add_noise, noise_level, noise_dry_gain, noise_seed_offset, noise_release,
                               nullptr);
}

namespace corvella {

void load_audio_files(std::string const& path_a, std::string const& path_b, float**& buffer, int sample_rate,
                      int& allocated_length, int& ir_length, int& bit_depth, int& file_sample_rate,
                      bool simulate_true_stereo, float sts_noise_seconds, float sts_level, bool add_noise,
                      float noise_level, float noise_dry_gain, int noise_seed_offset, float noise_release,
                      AudioFileLoadReport* report)
{
    auto open_paths = [&](Section& a, Section& b, bool& general_opened) {
        if (path_a.empty() && path_b.empty()) throw PathError(text::no_files);
        for (std::string const* path : {&path_a, &path_b}) {
            if (path->empty()) continue;
            std::error_code error;
            auto const status = std::filesystem::status(*path, error);
            // A pipe would block the worker in sf_open until someone writes to it.
            if (error || !std::filesystem::exists(status) || std::filesystem::is_directory(status) ||
                std::filesystem::is_fifo(status))
                throw PathError(text::file_prefix + *path + text::file_suffix);
        }
        if (!path_a.empty()) open_section(path_a, text::section_a, a, general_opened);
        if (!path_b.empty()) open_section(path_b, text::section_b, b, general_opened);
    };
    run_load(open_paths, buffer, sample_rate, allocated_length, ir_length, bit_depth, file_sample_rate,
             simulate_true_stereo, sts_noise_seconds, sts_level, add_noise, noise_level, noise_dry_gain,
             noise_seed_offset, noise_release, report);
}

void load_audio_file_bytes(AudioFileBytes const* file_a, AudioFileBytes const* file_b, float**& buffer,
                           int sample_rate, int& allocated_length, int& ir_length, int& bit_depth,
                           int& file_sample_rate, bool simulate_true_stereo, float sts_noise_seconds,
                           float sts_level, bool add_noise, float noise_level, float noise_dry_gain,
                           int noise_seed_offset, float noise_release, AudioFileLoadReport* report)
{
    auto open_images = [&](Section& a, Section& b, bool& general_opened) {
        if (!file_a && !file_b) throw PathError(text::no_files);
        if (file_a) open_section(*file_a, text::section_a, a, general_opened);
        if (file_b) open_section(*file_b, text::section_b, b, general_opened);
    };
    run_load(open_images, buffer, sample_rate, allocated_length, ir_length, bit_depth, file_sample_rate,
             simulate_true_stereo, sts_noise_seconds, sts_level, add_noise, noise_level, noise_dry_gain,
             noise_seed_offset, noise_release, report);
}

void free_ir_load_buffer(float**& buffer, int channels)
{
    if (!buffer) return;
    for (int channel = 0; channel < channels; ++channel)
        std::free(buffer[channel]);
    std::free(buffer);
    buffer = nullptr;
}

} // namespace corvella
