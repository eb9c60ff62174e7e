#include "tools/corvella-factory-irs/factory_irs.h"

#include "ir/audio_file_loader.h"
#include "ir/reflection.h"
#include "ir/tail.h"
#include "platform/settings_file.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <stdexcept>

namespace corvella::factory {

namespace {

constexpr float peak_level = 0.8912509381337456f; // -1 dBFS

// The file of one pair of channels: a true-stereo pair's right-input half swaps "-L" for "-R".
std::string file_name_of(IrDesign const& design, int pair)
{
    std::string name = design.file_name;
    if (pair == 1) name.replace(name.rfind("-L"), 2, "-R");
    return name;
}

void write_wav(std::filesystem::path const& path, std::vector<float> const& left, std::vector<float> const& right,
               int rate)
{
    std::filesystem::path const partial = path.string() + ".partial";
    std::vector<float> interleaved(2 * left.size());
    for (std::size_t n = 0; n < left.size(); ++n) {
        interleaved[2 * n] = left[n];
        interleaved[2 * n + 1] = right[n];
    }
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    SNDFILE* file = sf_open(partial.c_str(), SFM_WRITE, &info);
    if (file == nullptr) throw std::runtime_error("cannot write " + path.string() + ": " + sf_strerror(nullptr));
    auto const frames = static_cast<sf_count_t>(left.size());
    bool const ok = sf_writef_float(file, interleaved.data(), frames) == frames;
    sf_close(file);
    std::error_code error;
    if (!ok) {
        std::filesystem::remove(partial, error);
        throw std::runtime_error("cannot write " + path.string() + ": short write");
    }
    std::filesystem::rename(partial, path, error);
    if (error) throw std::runtime_error("cannot write " + path.string() + ": " + error.message());
}

// The tail generator's channels for one set of its settings (tint and density as indices).
std::vector<std::vector<float>> tail_channels(int rate, int channels, float length, float diffusion, int density,
                                              int tint, float variant, float diffuse_length, char const* name)
{
    tail generator(4, rate);
    generator.set_length_unity(length);
    generator.set_diffusion_unity(diffusion);
    generator.set_density_type(density);
    generator.set_tint(tint);
    generator.set_variant_unity(variant);
    generator.set_diffuse_length_unity(diffuse_length);
    float** buffer = nullptr;
    int allocated = 0, frames = 0, bits = 0, rate_out = 0;
    generator.create_multichannel_tails(buffer, rate, allocated, frames, bits, rate_out, channels, false, 0.0f, 1.0f,
                                        0, 0.5f);
    if (buffer == nullptr || frames < 1) throw std::runtime_error(std::string("no tail for ") + name);
    std::vector<std::vector<float>> out;
    for (int c = 0; c < channels; ++c)
        out.emplace_back(buffer[c], buffer[c] + frames);
    corvella::free_ir_load_buffer(buffer);
    return out;
}

// Every sample of `parts` scaled together to a peak of -1 dBFS.
void scale_to_peak(std::initializer_list<std::vector<std::vector<float>>*> parts)
{
    float peak = 0.0f;
    for (auto const* part : parts)
        for (auto const& channel : *part)
            for (float v : channel)
                peak = std::max(peak, std::fabs(v));
    float const scale = peak > 0.0f ? peak_level / peak : 0.0f;
    for (auto* part : parts)
        for (auto& channel : *part)
            for (float& v : channel)
                v *= scale;
}

} // namespace

std::vector<IrDesign> const& designs()
{
    // folder, file, rate; tail length, diffusion, variant, diffuse length, tint, density; room, size,
    // diffusion, distance, position, separation, depth; ER level, direct level; true stereo
    static std::vector<IrDesign> const all{
        {"Factory 2", "LongPlate-01-44100Hz.wav", 44100, 0.53f, 0.9f, 0.2f, 1.0f, 9, 0, -1, 0, 0, 0, 0, 0, 0,
         0.0f, 0.6f, false},
        {"Factory", "SmallRoom-01-48000Hz.wav", 48000, 0.30f, 0.6f, 0.4f, 0.6f, 2, 2, 4, 0.25f, 0.5f, 0.3f, 0.5f,
         0.4f, 0.6f, 0.8f, 1.0f, false},
        {"Factory", "ConcertHall-01-48000Hz.wav", 48000, 0.48f, 0.7f, 0.6f, 0.8f, 1, 0, 0, 0.7f, 0.4f, 0.6f,
         0.5f, 0.5f, 0.8f, 0.6f, 1.0f, false},
        {"Factory", "Chamber-TS-01-48000Hz-L.wav", 48000, 0.41f, 0.65f, 0.8f, 0.7f, 3, 1, 2, 0.5f, 0.5f, 0.5f,
         0.5f, 0.6f, 0.6f, 0.7f, 1.0f, true},
    };
    return all;
}

std::vector<std::vector<float>> synthesise(IrDesign const& design)
{
    int const channels = design.true_stereo ? 4 : 2;
    int const rate = design.sample_rate;

    std::vector<std::vector<float>> out =
        tail_channels(rate, channels, design.tail_length, design.tail_diffusion, design.tail_density, design.tail_tint,
                      design.tail_variant, design.tail_diffuse_length, design.file_name);
    int const frames = static_cast<int>(out.front().size());
    float tail_peak = 0.0f;
    for (auto const& channel : out)
        for (float v : channel)
            tail_peak = std::max(tail_peak, std::fabs(v));

    if (design.room >= 0) {
        reflection room(4, rate);
        room.set_room_number(design.room); // the room first: its size bases scale the size
        room.set_scale_x(design.er_size);
        room.set_scale_y(design.er_size);
        room.set_diffusion(design.er_diffusion);
        room.set_distance_unity(design.er_distance);
        room.set_position_unity(design.er_position);
        room.set_separation_unity(design.er_separation);
        room.set_recusion_depth_unity(design.er_depth);
        room.compute_reflections(channels == 4);
        float er_peak = 0.0f;
        for (int c = 0; c < channels; ++c)
            for (int n = 0; n < std::min(frames, room.get_buffer_length()); ++n)
                er_peak = std::max(er_peak, std::fabs(room.get_channel(c)[n]));
        float const gain = er_peak > 0.0f ? design.er_level * tail_peak / er_peak : 0.0f;
        for (int c = 0; c < channels; ++c)
            for (int n = 0; n < std::min(frames, room.get_buffer_length()); ++n)
                out[static_cast<std::size_t>(c)][static_cast<std::size_t>(n)] += gain * room.get_channel(c)[n];
    } else if (design.direct_level > 0.0f) {
        // A plate has no room: its drive transient is the first arrival.
        for (auto& channel : out)
            channel[0] += design.direct_level * tail_peak;
    }

    scale_to_peak({&out});
    return out;
}

std::vector<FusionDesign> const& fusion_designs()
{
    // folder, file, rate; tail length, diffusion, diffuse length, tint, density; room, ER size
    static std::vector<FusionDesign> const all{
        {"Factory", "FusionHall-01-48000Hz.fir", 48000, 0.40f, 0.7f, 0.8f, 1, 0, 0, 0.7f},
        {"Factory", "FusionPlate-01-48000Hz.fir", 48000, 0.36f, 0.9f, 1.0f, 9, 0, 4, 0.3f},
    };
    return all;
}

fir_contents synthesise(FusionDesign const& design)
{
    int const rate = design.sample_rate;
    fir_contents out;
    out.sample_rate = rate;
    // Eight variants of one tail: the sets differ in detail, not in character.
    for (int set = 0; set < 8; ++set)
        for (auto& channel : tail_channels(rate, 4, design.tail_length, design.tail_diffusion, design.tail_density,
                                           design.tail_tint, static_cast<float>(set) / 8.0f,
                                           design.tail_diffuse_length, design.file_name))
            out.tail.push_back(std::move(channel));
    std::size_t length = 0;
    for (auto const& channel : out.tail)
        length = std::max(length, channel.size());
    for (auto& channel : out.tail)
        channel.resize(length, 0.0f);

    reflection room(4, rate);
    room.set_room_number(design.room);
    room.set_scale_x(design.er_size);
    room.set_scale_y(design.er_size);
    room.set_diffusion(0.5f);
    room.set_distance_unity(0.5f);
    room.set_position_unity(0.5f);
    room.set_separation_unity(0.5f);
    room.set_recusion_depth_unity(0.3f);
    room.compute_reflections(true);
    std::size_t const head_length = std::min<std::size_t>(length, static_cast<std::size_t>(room.get_buffer_length()));
    for (int c = 0; c < 4; ++c)
        out.head.emplace_back(room.get_channel(c), room.get_channel(c) + head_length);

    scale_to_peak({&out.head, &out.tail});
    return out;
}

std::vector<std::filesystem::path> write_all(std::filesystem::path const& root)
{
    std::vector<std::filesystem::path> written;
    for (IrDesign const& design : designs()) {
        std::filesystem::path const folder = root / design.folder;
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        std::vector<std::vector<float>> const channels = synthesise(design);
        for (std::size_t pair = 0; 2 * pair < channels.size(); ++pair) {
            std::filesystem::path const path = folder / file_name_of(design, static_cast<int>(pair));
            write_wav(path, channels[2 * pair], channels[2 * pair + 1], design.sample_rate);
            written.push_back(path);
        }
    }
    for (FusionDesign const& design : fusion_designs()) {
        std::filesystem::path const folder = root / design.folder;
        std::filesystem::path const path = folder / design.file_name;
        std::string error;
        std::string const bytes = fir_file_bytes(synthesise(design), error);
        if (bytes.empty() || !write_file_atomically(path, bytes, error))
            throw std::runtime_error(path.string() + ": " + error);
        written.push_back(path);
    }
    return written;
}

} // namespace corvella::factory
