#include "ir/reflection.h"

#include "convolution/ipps.h"
#include "effects/biquad_filter.h"
#include "platform/aligned_memory.h"
#include "platform/threading.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace {

namespace text {
constexpr char too_many_channels[] = "Reflection too many channels requested";
constexpr char length_invalid[] = "Reflection memory allocation error (delay line length invalid)";
constexpr char already_allocated[] =
    "Reflection memory allocation error (delay line memory was already allocated)";
constexpr char channel_array[] = "Reflection memory allocation error";
constexpr char channel_block[] = "Reflection aligned memory allocation error";
constexpr char kernel_block[] = "Reflection filtered deltas aligned memory allocation error";
constexpr char free_holder[] = "Reflection tried to free unallocated delay line memory holder";
constexpr char free_channel[] = "Reflection tried to free unallocated delay line memory";
constexpr char free_kernels[] = "Reflection memory deallocation error";
} // namespace text

// Unity values from outside: clamped to 0..1, NaN as 0.
float unity(float u)
{
    return u >= 0.0f ? std::min(u, 1.0f) : 0.0f;
}

// Buffer length for a rate: trunc(rate x 5), 0 when that is not a usable length.
int buffer_length_for(double rate)
{
    double const length = std::trunc(rate * reflection::buffer_seconds);
    return length >= 1.0 && length <= 2147483647.0 ? static_cast<int>(length) : 0;
}

float scale_x_from(float size, float base)
{
    return std::clamp(std::max(0.05f, size) * (base - 1.0f), 1.0f, 10000.0f);
}

float scale_y_from(float size, float base)
{
    return std::clamp(std::max(0.05f, size) * (base + 1.0f) + 1.0f, 1.0f, 10000.0f);
}

void write_text(char* out, std::size_t size, char const* format, double value)
{
    if (!out || size == 0) return;
    std::snprintf(out, size, format, value);
}

void write_plain(char* out, std::size_t size, char const* words)
{
    if (!out || size == 0) return;
    std::snprintf(out, size, "%s", words);
}

void write_int(char* out, std::size_t size, char const* format, float value)
{
    if (!out || size == 0) return;
    // Clamped before truncation, so any float (NaN as 0) gives a defined integer.
    double const v = value == value ? std::clamp(static_cast<double>(value), -2.0e9, 2.0e9) : 0.0;
    std::snprintf(out, size, format, static_cast<int>(v));
}

} // namespace

reflection::reflection(int channels, int rate)
{
    if (channels > max_channels) throw std::runtime_error(text::too_many_channels);
    if (channels < 1) throw std::runtime_error(text::channel_array);
    InitializeCriticalSection(&lock);
    channel_count = channels;
    sample_rate = rate;
    buffer_length = buffer_length_for(static_cast<double>(rate));
    try {
        populate_room_designs();
        init_memory();
    } catch (...) {
        release_memory();
        DeleteCriticalSection(&lock);
        throw;
    }
}

reflection::~reflection()
{
    release_memory();
    DeleteCriticalSection(&lock);
}

void reflection::populate_room_designs()
{
    corvella::CriticalSectionLock guard(&lock);
    rooms.clear();
    for (reflection_room_design const& design : reflection_room_designs)
        rooms.push_back(
            {design, std::vector<point2d>(design.outline, design.outline + design.outline_points)});
}

void reflection::init_memory()
{
    corvella::CriticalSectionLock guard(&lock);
    if (buffer_length < 1) throw std::runtime_error(text::length_invalid);
    if (reflection_buffers) throw std::runtime_error(text::already_allocated);
    try {
        reflection_buffers =
            static_cast<float**>(std::calloc(static_cast<std::size_t>(channel_count), sizeof(float*)));
        if (!reflection_buffers) throw std::runtime_error(text::channel_array);
        for (int c = 0; c < channel_count; ++c) {
            reflection_buffers[c] =
                corvella::aligned_new<float>(static_cast<std::size_t>(buffer_length), true);
            if (!reflection_buffers[c]) throw std::runtime_error(text::channel_block);
        }
        for (float*& kernel : kernels) {
            kernel = corvella::aligned_new<float>(kernel_length, true);
            if (!kernel) throw std::runtime_error(text::kernel_block);
        }
        kernel_scratch = corvella::aligned_new<float>(kernel_length, true);
        kernel_window = corvella::aligned_new<float>(kernel_length, true);
        if (!kernel_scratch || !kernel_window) throw std::runtime_error(text::kernel_block);
    } catch (...) {
        release_memory();
        throw;
    }
}

void reflection::free_memory()
{
    corvella::CriticalSectionLock guard(&lock);
    char const* error = nullptr;
    if (!reflection_buffers) {
        error = text::free_holder;
    } else {
        for (int c = 0; c < channel_count && !error; ++c)
            if (!reflection_buffers[c]) error = text::free_channel;
    }
    if (!error) {
        for (float* kernel : kernels)
            if (!kernel) error = text::free_kernels;
        if (!kernel_scratch || !kernel_window) error = text::free_kernels;
    }
    release_memory();
    if (error) throw std::runtime_error(error);
}

void reflection::release_memory() noexcept
{
    if (reflection_buffers) {
        for (int c = 0; c < channel_count; ++c)
            std::free(reflection_buffers[c]);
        std::free(reflection_buffers);
        reflection_buffers = nullptr;
    }
    for (float*& kernel : kernels) {
        std::free(kernel);
        kernel = nullptr;
    }
    std::free(kernel_scratch);
    std::free(kernel_window);
    kernel_scratch = kernel_window = nullptr;
}

void reflection::set_sample_rate(float rate)
{
    corvella::CriticalSectionLock guard(&lock);
    try {
        bool const usable = rate >= 1.0f && rate <= 2147483647.0f;
        sample_rate = usable ? static_cast<int>(rate) : 0;
        // Only what exists is freed, so that one failed rate does not make every later one fail.
        if (reflection_buffers) free_memory();
        release_memory();
        buffer_length = usable ? buffer_length_for(static_cast<double>(rate)) : 0;
        init_memory();
        calculate_deltas();
    } catch (...) {
        buffer_length = 0;
    }
}

void reflection::update_scales()
{
    room const& r = rooms[static_cast<std::size_t>(room_number)];
    if (size_x_unity >= 0.0f) x_scale = scale_x_from(size_x_unity, r.design.size_x_base);
    if (size_y_unity >= 0.0f) y_scale = scale_y_from(size_y_unity, r.design.size_y_base);
}

void reflection::update_sources()
{
    reflection_room_design const& d = rooms[static_cast<std::size_t>(room_number)].design;
    float const y = d.listener_y + distance * d.distance_span;
    float const p = d.source_x_position_0 + (d.source_x_position_1 - d.source_x_position_0) * position;
    float const offset = 5.0f * separation / x_scale;
    left_source = {p - offset, y};
    right_source = {p + offset, y};
}

void reflection::update_receivers()
{
    reflection_room_design const& d = rooms[static_cast<std::size_t>(room_number)].design;
    float const offset = 5.0f * (separation + 1.0f) / x_scale;
    left_receiver = {d.listener_x - offset, d.listener_y};
    right_receiver = {d.listener_x + offset, d.listener_y};
}

void reflection::set_room_number(int number)
{
    corvella::CriticalSectionLock guard(&lock);
    if (number < 0 || number >= static_cast<int>(rooms.size())) return;
    room_number = number;
    room const& r = rooms[static_cast<std::size_t>(number)];
    working_outline = r.outline;
    // The pipeline sets the sizes before the room: take the new room's size bases.
    update_scales();
    set_distance_unity(distance);
    set_separation_unity(separation);
    set_position_unity(position);
    update_receivers();
    low_pass_f0 = r.design.low_pass_f0;
    low_pass_q = r.design.low_pass_q;
    low_pass_on = r.design.low_pass_on;
    reflection_coefficient = r.design.reflection_coefficient;
}

void reflection::set_distance_unity(float u)
{
    corvella::CriticalSectionLock guard(&lock);
    distance = std::max(0.01f, unity(u));
    update_sources();
    update_receivers();
}

void reflection::set_position_unity(float u)
{
    corvella::CriticalSectionLock guard(&lock);
    position = unity(u);
    update_sources();
}

void reflection::set_separation_unity(float u)
{
    corvella::CriticalSectionLock guard(&lock);
    separation = unity(u);
    update_sources();
}

void reflection::set_scale_x(float size_unity)
{
    corvella::CriticalSectionLock guard(&lock);
    size_x_unity = unity(size_unity);
    update_scales();
    update_receivers();
}

void reflection::set_scale_y(float size_unity)
{
    corvella::CriticalSectionLock guard(&lock);
    size_y_unity = unity(size_unity);
    update_scales();
    update_receivers();
}

void reflection::set_diffusion(float amount)
{
    corvella::CriticalSectionLock guard(&lock);
    diffusion = unity(amount);
}

void reflection::set_recusion_depth_unity(float u)
{
    corvella::CriticalSectionLock guard(&lock);
    float const levels =
        std::clamp(u == u ? u * 5.0f + 1.0f : 1.0f, 1.0f, static_cast<float>(max_depth_levels));
    maximum_depth = static_cast<int>(levels);
}

void reflection::set_low_pass_on(bool on)
{
    corvella::CriticalSectionLock guard(&lock);
    low_pass_on = on;
}

int reflection::get_room_number() const
{
    corvella::CriticalSectionLock guard(&lock);
    return room_number;
}

float reflection::get_diffusion() const
{
    corvella::CriticalSectionLock guard(&lock);
    return diffusion;
}

int reflection::get_recusion_depth() const
{
    corvella::CriticalSectionLock guard(&lock);
    return maximum_depth;
}

float reflection::get_scale_x() const
{
    corvella::CriticalSectionLock guard(&lock);
    return x_scale;
}

float reflection::get_scale_y() const
{
    corvella::CriticalSectionLock guard(&lock);
    return y_scale;
}

float reflection::get_distance_m() const
{
    corvella::CriticalSectionLock guard(&lock);
    return rooms[static_cast<std::size_t>(room_number)].design.distance_span * distance * y_scale;
}

float reflection::get_position_m() const
{
    corvella::CriticalSectionLock guard(&lock);
    reflection_room_design const& d = rooms[static_cast<std::size_t>(room_number)].design;
    return (d.source_x_position_1 - d.source_x_position_0) * (position - 0.5f) * x_scale;
}

float reflection::get_separation_m() const
{
    corvella::CriticalSectionLock guard(&lock);
    return separation * 5.0f;
}

int reflection::get_channel_count() const
{
    return channel_count;
}

int reflection::get_sample_rate() const
{
    corvella::CriticalSectionLock guard(&lock);
    return sample_rate;
}

int reflection::get_buffer_length() const
{
    corvella::CriticalSectionLock guard(&lock);
    return buffer_length;
}

int reflection::get_latest_reflection_index() const
{
    corvella::CriticalSectionLock guard(&lock);
    return latest_reflection_index;
}

int reflection::get_reflection_count(int channel, int depth) const
{
    corvella::CriticalSectionLock guard(&lock);
    if (channel < 0 || channel >= max_channels || depth < 0 || depth >= max_depth_levels) return 0;
    return counters[channel][depth];
}

float const* reflection::get_channel(int channel) const
{
    corvella::CriticalSectionLock guard(&lock);
    if (!reflection_buffers || channel < 0 || channel >= channel_count) return nullptr;
    return reflection_buffers[channel];
}

char const* reflection::get_room_name(int number) const
{
    if (number < 0 || number >= static_cast<int>(rooms.size())) return nullptr;
    return rooms[static_cast<std::size_t>(number)].design.name;
}

int reflection::get_room_count() const
{
    return static_cast<int>(rooms.size());
}

std::uint32_t reflection::next_random()
{
    random_state = random_state * 1103515245u + 12345u;
    return random_state;
}

double reflection::draw_unit()
{
    return static_cast<double>((next_random() & 0x7fffffffu) % 0x7fffffffu) * 0x1p-31;
}

double reflection::draw_signed()
{
    return static_cast<double>((next_random() & 0x7fffffffu) % 0x7fffffffu) * 0x1p-30 - 1.0;
}

void reflection::calculate_deltas()
{
    corvella::CriticalSectionLock guard(&lock);
    if (!kernel_window || !kernel_scratch) return;
    for (float* kernel : kernels)
        if (!kernel) return;
    for (int k = 0; k < kernel_length; ++k)
        kernel_window[k] = static_cast<float>(kernel_length - k) / static_cast<float>(kernel_length);
    for (float* kernel : kernels) {
        ippsSet_32f(0.0f, kernel, kernel_length);
        kernel[0] = 1.0f;
    }
    if (!low_pass_on) return;

    // One filter for all depths: each depth is the previous one filtered once more, the filter's
    // state running on, so deeper echoes are duller.
    biquad_filter filter;
    filter.set_toggle(1.0f);
    filter.set_freq_fs(static_cast<float>(sample_rate));
    filter.set_freq_max_f0(static_cast<float>(sample_rate / 2));
    filter.set_freq_f0(low_pass_f0);
    filter.set_q(low_pass_q);
    filter.set_mode(biquad_mode_high_cut);
    filter.compute_coeffs();
    filter.clear_history();
    filter.compute_filter_inplace(kernels[0], kernel_length);
    for (int depth = 1; depth < max_depth_levels; ++depth) {
        ippsCopy_32f(kernels[depth - 1], kernels[depth], kernel_length);
        filter.compute_filter_inplace(kernels[depth], kernel_length);
    }
    for (int depth = 1; depth < max_depth_levels; ++depth)
        ippsMul_32f_I(kernel_window, kernels[depth], kernel_length);
}

void reflection::insert_impulse(point2d image, point2d source, float* buffer, float gain, int depth)
{
    corvella::CriticalSectionLock guard(&lock);
    // Both draws are taken whether or not the echo is inserted, so later echoes keep their jitter.
    double const r1 = draw_signed();
    double const r2 = draw_signed();
    float const dx = (source.x - image.x + static_cast<float>(r1) * diffusion) * x_scale;
    float const dy = (source.y - image.y + static_cast<float>(r2) * diffusion) * y_scale;
    float const d = std::sqrt(dx * dx + dy * dy);
    if (!buffer || depth < 0 || depth >= max_depth_levels || !kernels[depth] || !kernel_scratch) return;
    if (!(d > 0.0f) || !std::isfinite(d)) return;
    double const samples = std::trunc(static_cast<double>(sample_rate) * d / speed_of_sound);
    if (!(samples + kernel_length < static_cast<double>(buffer_length))) return;
    int const delay = static_cast<int>(samples);
    float const scale = (0.37f / d) * gain;
    if (low_pass_on) {
        ippsMulC_32f(kernels[depth], scale, kernel_scratch, kernel_length);
        ippsAdd_32f_I(kernel_scratch, buffer + delay, kernel_length);
    } else {
        buffer[delay] += kernels[depth][0] * scale;
    }
    latest_reflection_index = std::max(latest_reflection_index, delay);
}

void reflection::compute_reflections_from_recursive_point(point2d image, point2d source, int previous_wall,
                                                          int depth, int channel)
{
    corvella::CriticalSectionLock guard(&lock);
    // Beyond the second bounce each echo's loss varies a little (the draw comes first, always).
    double const r = depth < 2 ? 1.0 : draw_unit();
    double const gain = std::pow(static_cast<double>(reflection_coefficient), depth + r);
    if (!(depth < maximum_depth) || walls.size() == 1) return;
    if (depth < 0 || channel < 0 || channel >= channel_count) return;
    int const cap = reflection_budget / maximum_depth;
    int const tried = static_cast<int>(walls.size()) - 1; // the closing wall is not tried
    float* const buffer = reflection_buffers ? reflection_buffers[channel] : nullptr;
    for (int w = 0; w < tried; ++w) {
        if (counters[channel][depth] >= cap) break;
        if (w == previous_wall) continue;
        line2d const& wall = walls[static_cast<std::size_t>(w)];
        // Mirror the image across the wall's line.
        float const t = wall.unit_x * (image.x - wall.start_x) + wall.unit_y * (image.y - wall.start_y);
        point2d const mirrored{2.0f * (wall.start_x + t * wall.unit_x) - image.x,
                               2.0f * (wall.start_y + t * wall.unit_y) - image.y};
        // The mirrored path is heard only if it meets the wall segment itself.
        float const den = (source.y - mirrored.y) * (wall.end_x - wall.start_x) -
                          (source.x - mirrored.x) * (wall.end_y - wall.start_y);
        if (std::fabs(den) < 0.00001f) continue;
        float const ua = ((source.x - mirrored.x) * (wall.start_y - mirrored.y) -
                          (source.y - mirrored.y) * (wall.start_x - mirrored.x)) /
                         den;
        float const ub = ((wall.start_y - mirrored.y) * (wall.end_x - wall.start_x) -
                          (wall.start_x - mirrored.x) * (wall.end_y - wall.start_y)) /
                         den;
        if (!(ua >= 0.0f && ua <= 1.0f && ub >= 0.0f && ub <= 1.0f)) continue;
        compute_reflections_from_recursive_point(mirrored, source, w, depth + 1, channel);
        counters[channel][depth] += 1;
        insert_impulse(image, source, buffer, static_cast<float>(gain), depth);
    }
}

void reflection::compute_reflections(bool four_channel)
{
    corvella::CriticalSectionLock guard(&lock);
    calculate_deltas();
    random_state = 1;
    latest_reflection_index = 0;
    for (auto& channel_counters : counters)
        std::fill(std::begin(channel_counters), std::end(channel_counters), 0);
    if (reflection_buffers)
        for (int c = 0; c < channel_count; ++c)
            if (reflection_buffers[c]) ippsSet_32f(0.0f, reflection_buffers[c], buffer_length);

    if (working_outline.size() > 3) {
        walls.clear();
        auto add_wall = [this](point2d a, point2d b) {
            line2d w;
            w.start_x = a.x;
            w.start_y = a.y;
            w.end_x = b.x;
            w.end_y = b.y;
            w.direction_x = b.x - a.x;
            w.direction_y = b.y - a.y;
            w.length = std::sqrt(w.direction_x * w.direction_x + w.direction_y * w.direction_y);
            if (w.length > 0.0f) {
                w.unit_x = w.direction_x / w.length;
                w.unit_y = w.direction_y / w.length;
            }
            walls.push_back(w);
        };
        for (std::size_t i = 0; i + 1 < working_outline.size(); ++i)
            add_wall(working_outline[i], working_outline[i + 1]);
        add_wall(working_outline.front(), working_outline.back());
    }

    auto buffer_of = [this](int c) { return reflection_buffers ? reflection_buffers[c] : nullptr; };
    auto recurse = [this](point2d from, point2d to, int depth, int c) {
        std::fill(std::begin(counters[c]), std::end(counters[c]), 0);
        compute_reflections_from_recursive_point(from, to, -1, depth, c);
    };
    if (!four_channel) {
        point2d const listener{(left_receiver.x + right_receiver.x) * 0.5f,
                               (left_receiver.y + right_receiver.y) * 0.5f};
        recurse(listener, left_source, 0, 0);
        if (channel_count > 1) recurse(listener, right_source, 0, 1);
    } else {
        point2d const receivers[4] = {left_receiver, left_receiver, right_receiver, right_receiver};
        point2d const sources[4] = {left_source, right_source, left_source, right_source};
        for (int c = 0; c < channel_count; ++c)
            insert_impulse(receivers[c], sources[c], buffer_of(c), 1.0f, 0);
        for (int c = 0; c < channel_count; ++c)
            recurse(receivers[c], sources[c], 1, c);
    }

    // Position balance; the last echo's kernel is scaled along with its start.
    if (reflection_buffers) {
        int const written = std::min(latest_reflection_index + kernel_length, buffer_length);
        for (int c = 0; c < channel_count; ++c) {
            float const balance = c % 2 == 0 ? 1.0f - 0.8f * position : 1.0f - 0.8f * (1.0f - position);
            if (reflection_buffers[c]) ippsMulC_32f_I(balance, reflection_buffers[c], written);
        }
    }
}

void reflection::overlay_computed_reflections(float** buffer, int length, int channels)
{
    corvella::CriticalSectionLock guard(&lock);
    if (!buffer || !reflection_buffers) return;
    int const n = std::min(length, buffer_length);
    int const ch = std::min(channels, channel_count);
    if (n <= 0) return;
    for (int c = 0; c < ch; ++c)
        if (buffer[c] && reflection_buffers[c]) ippsAdd_32f_I(reflection_buffers[c], buffer[c], n);
}

void reflection_square_dimensions(float value, char* out, std::size_t out_size)
{
    if (!out || out_size == 0) return;
    double const v = value == value ? std::clamp(static_cast<double>(value), -2.0e9, 2.0e9) : 0.0;
    int const packed = static_cast<int>(v);
    int const x = std::max(1, packed % 10000);
    int const y = std::max(1, static_cast<int>(v / 10000.0));
    std::snprintf(out, out_size, "%ix%im", x, y);
}

void reflection_diffusion(float value, char* out, std::size_t out_size)
{
    write_int(out, out_size, "%i%%", value * 100.0f);
}

void reflection_depth(float value, char* out, std::size_t out_size)
{
    write_int(out, out_size, "%i", value);
}

void reflection_distance(float value, char* out, std::size_t out_size)
{
    write_text(out, out_size, "%.1fm", static_cast<double>(value));
}

void reflection_separation(float value, char* out, std::size_t out_size)
{
    if (value == 0.0f)
        write_plain(out, out_size, "None");
    else
        write_text(out, out_size, "%.2fm", static_cast<double>(value));
}

void reflection_position(float value, char* out, std::size_t out_size)
{
    if (value == 0.0f)
        write_plain(out, out_size, "Centre");
    else if (value < 0.0f)
        write_text(out, out_size, "%.1fm L", -static_cast<double>(value));
    else
        write_text(out, out_size, "%.1fm R", static_cast<double>(value));
}
