#include "effects/chorus.h"

#include "convolution/ipps.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <utility>

namespace {

// Every text the chorus shows or throws.
namespace text {
constexpr char const allocation[] = "Chorus memory allocation error";
constexpr char const aligned_allocation[] = "Chorus aligned memory allocation error";
constexpr char const length_invalid[] = "Chorus memory allocation error (delay line length invalid)";
constexpr char const already_allocated[] =
    "Chorus memory allocation error (delay line memory was already allocated)";
constexpr char const channels[] = "Invalid number of chorus channels";
constexpr char const sample_rate[] = "Invalid chorus sample rate";
constexpr char const delay[] = "Invalid chorus delay";
constexpr char const delay_mod[] = "Invalid chorus delay mod";
constexpr char const delay_mod_rate[] = "Invalid chorus delay mod rate";
constexpr char const mode[] = "Invalid chorus mode";
constexpr char const feedback[] = "Invalid feedback value";
constexpr char const width[] = "Invalid width value";
constexpr char const dry[] = "Invalid dry value";
constexpr char const wet[] = "Invalid wet value";
constexpr char const too_few_channels[] = "Chorus error, too few channels defined";
constexpr char const free_unallocated[] = "Chorus tried to free unallocated delay line memory holder";
} // namespace text

constexpr float two_pi = 6.2831855f;
constexpr float pi = 3.14159265f;
constexpr float max_delay_ms = 20.0f;
constexpr float max_delay_mod_ms = 10.0f;
constexpr float max_rate_hz = 20.0f;
constexpr float min_delay_ms = 0.01f;
// Feedback must stay below 1 for the ring to decay; a unity value of 1 gets the float below.
constexpr float max_feedback = 0.99999994f;

bool rate_valid(int rate)
{
    return rate >= 10000 && rate <= 192000;
}

std::string formatted(char const* format, double value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

} // namespace

chorus::chorus(int channel_count, int rate) : channels(channel_count), sample_rate(rate)
{
    int const length = corvella::line_length_for(rate, line_milliseconds);
    do_internal_checks(rate, length);
    init_memory(lines, length);
    memory_allocated = true;
    line_length.store(length, std::memory_order_relaxed);
    init_biquad_filters();
    init_lookup();
}

chorus::~chorus() = default;

void chorus::do_internal_checks(int rate, int length) const
{
    if (length < 1) throw std::runtime_error(text::allocation);
    if (channels < 0 || channels > max_channels) throw std::runtime_error(text::channels);
    if (!rate_valid(rate)) throw std::runtime_error(text::sample_rate);
    float const d = get_delay_ms();
    if (!(d >= 0.0f && d <= max_delay_ms)) throw std::runtime_error(text::delay);
    float const m = get_delay_mod_ms();
    if (!(m >= 0.0f && m <= max_delay_mod_ms)) throw std::runtime_error(text::delay_mod);
    float const f = get_feedback();
    if (!(f >= 0.0f && f < 1.0f)) throw std::runtime_error(text::feedback);
    if (!(get_dry() >= 0.0f && get_dry() <= 1.0f)) throw std::runtime_error(text::dry);
    if (!(get_wet() >= 0.0f && get_wet() <= 1.0f)) throw std::runtime_error(text::wet);
}

void chorus::init_memory(line_set& target, int length) const
{
    if (length < 1) throw std::runtime_error(text::length_invalid);
    for (int c = 0; c < channels; ++c)
        if (target[c].allocated()) throw std::runtime_error(text::already_allocated);
    if (!corvella::allocate_lines(target, channels, length)) throw std::runtime_error(text::aligned_allocation);
}

void chorus::init_biquad_filters()
{
    corvella::set_up_tone_filters(low_cut, shelf, max_channels, get_sample_rate());
}

void chorus::retune_biquad_filters(int rate)
{
    corvella::retune_tone_filters(low_cut, shelf, max_channels, rate);
}

void chorus::init_lookup()
{
    if (channels < 1) throw std::runtime_error(text::too_few_channels);
    corvella::fill_partner_table(partner, channels);
}

void chorus::set_sample_rate(int rate)
{
    int const length = corvella::line_length_for(rate, line_milliseconds);
    do_internal_checks(rate, length);
    line_set fresh;
    init_memory(fresh, length);
    {
        std::lock_guard<std::mutex> lock(memory_lock);
        for (int c = 0; c < channels; ++c)
            lines[c].swap(fresh[c]);
        memory_allocated = true;
        sample_rate.store(rate, std::memory_order_relaxed);
        line_length.store(length, std::memory_order_relaxed);
        std::fill(std::begin(previous), std::end(previous), 0.0f);
        write_index = 0;
        lfo_counter = 0;
        retune_biquad_filters(rate);
    }
    // `fresh` now holds the old lines and frees them here, outside the lock.
}

void chorus::silence_delay_lines()
{
    std::lock_guard<std::mutex> lock(memory_lock);
    for (int c = 0; c < channels; ++c)
        lines[c].clear();
    std::fill(std::begin(previous), std::end(previous), 0.0f);
    for (auto& band : low_cut)
        band.clear_history();
}

void chorus::chorus_destroy()
{
    line_set old;
    {
        std::lock_guard<std::mutex> lock(memory_lock);
        if (!memory_allocated) throw std::runtime_error(text::free_unallocated);
        for (int c = 0; c < channels; ++c)
            lines[c].swap(old[c]);
        memory_allocated = false;
    }
}

// ---- Setters ----

void chorus::set_feedback_unity(float u)
{
    if (corvella::unity_in(u, text::feedback)) feedback.store(std::min(u, max_feedback), std::memory_order_relaxed);
}

void chorus::set_width_unity(float u)
{
    if (corvella::unity_in(u, text::width)) width.store(u, std::memory_order_relaxed);
}

void chorus::set_dry_unity(float u)
{
    if (corvella::unity_in(u, text::dry)) dry.store(u, std::memory_order_relaxed);
}

void chorus::set_wet_unity(float u)
{
    if (corvella::unity_in(u, text::wet)) wet.store(u, std::memory_order_relaxed);
}

void chorus::set_delay_ms_unity(float u)
{
    if (corvella::unity_in(u, text::delay))
        delay_ms.store(std::max(min_delay_ms, u * max_delay_ms), std::memory_order_relaxed);
}

void chorus::set_delay_mod_ms_unity(float u)
{
    if (corvella::unity_in(u, text::delay_mod)) delay_mod_ms.store(u * max_delay_mod_ms, std::memory_order_relaxed);
}

void chorus::set_delay_mod_rate_hz_unity(float u)
{
    if (corvella::unity_in(u, text::delay_mod_rate))
        delay_mod_rate_hz.store(std::pow(1000.0f, u) / 50.0f, std::memory_order_relaxed);
}

void chorus::set_toggle_unity(float u)
{
    toggle.store(u > 0.0f, std::memory_order_relaxed);
}

void chorus::set_feedback(float value)
{
    corvella::store_checked(feedback, value, 0.0f, max_feedback, text::feedback);
}

void chorus::set_width(float value)
{
    corvella::store_checked(width, value, 0.0f, 1.0f, text::width);
}

void chorus::set_dry(float value)
{
    corvella::store_checked(dry, value, 0.0f, 1.0f, text::dry);
}

void chorus::set_wet(float value)
{
    corvella::store_checked(wet, value, 0.0f, 1.0f, text::wet);
}

void chorus::set_delay_ms(float ms)
{
    if (!std::isnan(ms)) ms = std::max(min_delay_ms, ms);
    corvella::store_checked(delay_ms, ms, min_delay_ms, max_delay_ms, text::delay);
}

void chorus::set_delay_mod_ms(float ms)
{
    corvella::store_checked(delay_mod_ms, ms, 0.0f, max_delay_mod_ms, text::delay_mod);
}

void chorus::set_delay_mod_rate_hz(float hz)
{
    corvella::store_checked(delay_mod_rate_hz, hz, 0.0f, max_rate_hz, text::delay_mod_rate);
}

void chorus::set_mode(int value)
{
    if (value != 0 && value != 1) {
        corvella::report_refused_setting(text::mode);
        return;
    }
    mode.store(value, std::memory_order_relaxed);
}

std::string chorus::delay_ms_text(float u)
{
    return formatted("%.1fms", u * max_delay_ms);
}

std::string chorus::delay_mod_ms_text(float u)
{
    return formatted("%.1fms", u * max_delay_mod_ms);
}

std::string chorus::delay_mod_rate_hz_text(float u)
{
    return formatted("%.2fHz", std::pow(1000.0f, u) / 50.0f);
}

std::string chorus::width_text(float u)
{
    int const percent = static_cast<int>(u * 100.0f);
    if (percent < 1) return "Original";
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%i", percent);
    return buffer;
}

// ---- Processing ----

void chorus::run_channel(int c, float* buffer, int count, int write, int const* whole, float const* coefficient,
                         int fb_age, float fb_gain, float dry_gain, float wet_gain, float* negated_wet)
{
    corvella::modulated_delay_line& line = lines[c];
    float prev = previous[c];
    for (int n = 0; n < count; ++n) {
        float const x = buffer[n];
        float const fb = line.tap(write, fb_age) * fb_gain;
        float const y = corvella::allpass_read(line, write, whole[n], coefficient[n], prev);
        // Adding and removing 1e-18 rounds values far below the signal to exact zero.
        line.at(write) = (x - fb + 1e-18f) - 1e-18f;
        if (negated_wet != nullptr) negated_wet[n] = -y;
        buffer[n] = dry_gain * x + wet_gain * y;
        write = line.next(write);
    }
    previous[c] = prev;
}

void chorus::pass_dry(float* const* buffers, int frames, float dry_gain) const
{
    for (int c = 0; c < channels; ++c)
        for (int n = 0; n < frames; ++n)
            buffers[c][n] *= dry_gain;
}

void chorus::process_replacing(float* const* buffers, int frames)
{
    if (!toggle.load(std::memory_order_relaxed) || buffers == nullptr || frames <= 0) return;
    for (int c = 0; c < channels; ++c)
        if (buffers[c] == nullptr) return;
    ippSetFlushToZero(1, nullptr);
    ippSetDenormAreZeros(1);

    int const loop_mode = get_mode();
    if (loop_mode == 1 && channels != 2) {
        for (int c = 0; c < channels; ++c)
            std::fill(buffers[c], buffers[c] + frames, 0.0f);
        return;
    }

    float const fb_gain = get_feedback();
    float const spread = get_width();
    float const dry_gain = get_dry();
    float const wet_gain = get_wet();
    float const delay = get_delay_ms();
    float const depth_ms = get_delay_mod_ms();
    float const mod_rate = get_delay_mod_rate_hz();

    std::unique_lock<std::mutex> lock(memory_lock, std::try_to_lock);
    if (!lock.owns_lock() || !memory_allocated) {
        pass_dry(buffers, frames, dry_gain);
        return;
    }

    corvella::add_denormal_bias(buffers, channels);
    float const rate = static_cast<float>(sample_rate.load(std::memory_order_relaxed));
    int const length = lines[0].size();
    float const period = rate / mod_rate;
    int const whole_period = corvella::whole_lfo_period(period);
    float const phase_step = whole_period > 0 ? two_pi / period : 0.0f;
    float const depth = static_cast<float>(static_cast<double>(depth_ms) * rate / 1000.0);
    float const base = static_cast<float>(static_cast<double>(delay) * rate / 1000.0);
    int const fb_age = corvella::feedback_age(base, length);
    int write = write_index;
    int counter = corvella::lfo_counter_in_period(lfo_counter, whole_period);

    // Channel by channel through runs of frames: each channel's ring, allpass and filter state are
    // its own, and the LFO depends only on the frame, so the order gives the same samples as frame
    // by frame while each loop keeps its state in registers.
    constexpr int run = corvella::sweep_run;
    int whole[run];
    float fraction[run];
    float coefficient[run];
    if (loop_mode == 0) {
        corvella::lfo_sweep const sweep{whole_period, phase_step, 0.0f, depth, base};
        for (int first = 0; first < frames; first += run) {
            int const count = std::min(run, frames - first);
            counter = corvella::sweep_read_delays(sine, sweep, counter, length, count, whole, fraction);
            // The fraction's allpass coefficient as a ratio of small-angle sines, ≈ (1 - d) / (1 + d).
            for (int n = 0; n < count; ++n)
                coefficient[n] = (sine.lookup_in_table((1.0f - fraction[n]) * pi / rate) + 1e-9f) /
                                 (sine.lookup_in_table((1.0f + fraction[n]) * pi / rate) + 1e-9f);
            for (int c = 0; c < channels; ++c)
                run_channel(c, buffers[c] + first, count, write, whole, coefficient, fb_age, fb_gain, dry_gain,
                            wet_gain, nullptr);
            write = lines[0].advance(write, count);
        }
    } else {
        float cross[max_channels][run];
        float const cross_gain = wet_gain * spread;
        for (int first = 0; first < frames; first += run) {
            int const count = std::min(run, frames - first);
            int next_counter = counter;
            for (int c = 0; c < max_channels; ++c) {
                corvella::lfo_sweep const sweep{whole_period, phase_step, static_cast<float>(c) * pi * spread, depth,
                                                base};
                next_counter = corvella::sweep_read_delays(sine, sweep, counter, length, count, whole, fraction);
                corvella::allpass_coefficients(fraction, count, coefficient);
                run_channel(c, buffers[c] + first, count, write, whole, coefficient, fb_age, fb_gain, dry_gain,
                            wet_gain, cross[c]);
                low_cut[c].compute_filter_inplace(cross[c], count);
            }
            for (int c = 0; c < max_channels; ++c) {
                float* const buffer = buffers[c] + first;
                float const* const other = cross[partner[c]];
                for (int n = 0; n < count; ++n)
                    buffer[n] += other[n] * cross_gain;
            }
            counter = next_counter;
            write = lines[0].advance(write, count);
        }
    }
    write_index = write;
    lfo_counter = counter;
}
