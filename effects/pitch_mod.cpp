#include "effects/pitch_mod.h"

#include "convolution/ipps.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace {

// Every text the modulator shows or throws.
namespace text {
constexpr char const allocation[] = "Chorus memory allocation error";
constexpr char const aligned_allocation[] = "Chorus aligned memory allocation error";
constexpr char const already_allocated[] =
    "Chorus memory allocation error (delay line memory was already allocated)";
constexpr char const sample_rate[] = "Invalid pitch_mod sample rate";
constexpr char const delay[] = "Invalid pitch_mod delay";
constexpr char const delay_mod[] = "Invalid pitch_mod delay mod";
constexpr char const delay_mod_rate[] = "Invalid pitch_mod delay mod rate";
constexpr char const channel[] = "Invalid pitch_mod channel";
constexpr char const feedback[] = "Invalid feedback value";
constexpr char const feedback_opposite[] = "Invalid feedback opposite value";
constexpr char const width[] = "Invalid width value";
constexpr char const dry[] = "Invalid dry value";
constexpr char const wet[] = "Invalid wet value";
} // namespace text

constexpr float max_rate_hz = 20.0f;
constexpr float min_delay_ms = 0.01f;
constexpr float max_feedback = 0.99999994f; // the float below 1: the rings must decay
// The allpass reads this many samples younger than the swept delay, the feedback one sample
// younger than the base delay.
constexpr int read_lead = 2;
constexpr int feedback_lead = 1;

float load(std::atomic<float> const& field)
{
    return field.load(std::memory_order_relaxed);
}

} // namespace

pitch_mod::pitch_mod(int rate) : sample_rate(rate)
{
    int const length = corvella::line_length_for(rate, line_milliseconds);
    do_internal_checks(rate, length);
    init_memory(lines, length);
    line_length.store(length, std::memory_order_relaxed);
    init_lookup();
}

pitch_mod::~pitch_mod() = default;

bool pitch_mod::channel_valid(int c)
{
    if (c == 0 || c == 1) return true;
    corvella::report_refused_setting(text::channel);
    return false;
}

void pitch_mod::do_internal_checks(int rate, int length) const
{
    if (length < 1) throw std::runtime_error(text::allocation);
    if (rate < 10000 || rate > 192000) throw std::runtime_error(text::sample_rate);
    for (auto const& s : settings) {
        if (!(load(s.delay_ms) >= 0.0f && load(s.delay_ms) <= max_delay_ms))
            throw std::runtime_error(text::delay);
        if (!(load(s.delay_mod_ms) >= 0.0f && load(s.delay_mod_ms) <= max_delay_mod_ms))
            throw std::runtime_error(text::delay_mod);
        if (!(load(s.feedback) >= 0.0f && load(s.feedback) < 1.0f)) throw std::runtime_error(text::feedback);
        if (!(load(s.feedback_opposite) >= 0.0f && load(s.feedback_opposite) < 1.0f))
            throw std::runtime_error(text::feedback_opposite);
        if (!(load(s.dry) >= 0.0f && load(s.dry) <= 1.0f)) throw std::runtime_error(text::dry);
        if (!(load(s.wet) >= 0.0f && load(s.wet) <= 1.0f)) throw std::runtime_error(text::wet);
    }
}

void pitch_mod::init_memory(line_set& target, int length)
{
    for (auto const& line : target)
        if (line.allocated()) throw std::runtime_error(text::already_allocated);
    if (!corvella::allocate_lines(target, channels, length))
        throw std::runtime_error(text::aligned_allocation);
}

void pitch_mod::init_lookup()
{
    corvella::fill_partner_table(partner, channels);
}

void pitch_mod::set_sample_rate(int rate)
{
    int const length = corvella::line_length_for(rate, line_milliseconds);
    do_internal_checks(rate, length);
    line_set fresh;
    init_memory(fresh, length);
    {
        std::lock_guard<std::mutex> lock(memory_lock);
        for (int c = 0; c < channels; ++c) {
            lines[c].swap(fresh[c]);
            previous[c] = 0.0f;
            lfo_counter[c] = 0;
        }
        write_index = 0;
        sample_rate.store(rate, std::memory_order_relaxed);
        line_length.store(length, std::memory_order_relaxed);
    }
    // `fresh` now holds the old lines and frees them here, outside the lock.
}

void pitch_mod::clear_lines_locked()
{
    rest = {};
    for (int c = 0; c < channels; ++c) {
        lines[c].clear();
        previous[c] = 0.0f;
    }
}

void pitch_mod::silence_delay_lines()
{
    std::lock_guard<std::mutex> lock(memory_lock);
    clear_lines_locked();
}

// ---- Setters ----

void pitch_mod::set_delay_ms(float ms, int c)
{
    if (!channel_valid(c)) return;
    if (!std::isnan(ms)) ms = std::max(min_delay_ms, ms);
    corvella::store_checked(settings[c].delay_ms, ms, min_delay_ms, max_delay_ms, text::delay);
}

void pitch_mod::set_delay_mod_ms(float ms, int c)
{
    if (channel_valid(c))
        corvella::store_checked(settings[c].delay_mod_ms, ms, 0.0f, max_delay_mod_ms, text::delay_mod);
}

void pitch_mod::set_delay_mod_rate_hz(float hz, int c)
{
    if (channel_valid(c))
        corvella::store_checked(settings[c].delay_mod_rate_hz, hz, 0.0f, max_rate_hz, text::delay_mod_rate);
}

void pitch_mod::set_feedback(float value, int c)
{
    if (channel_valid(c))
        corvella::store_checked(settings[c].feedback, value, 0.0f, max_feedback, text::feedback);
}

void pitch_mod::set_feedback_opposite(float value, int c)
{
    if (channel_valid(c))
        corvella::store_checked(settings[c].feedback_opposite, value, 0.0f, max_feedback,
                                text::feedback_opposite);
}

void pitch_mod::set_width(float value, int c)
{
    if (channel_valid(c)) corvella::store_checked(settings[c].width, value, 0.0f, 1.0f, text::width);
}

void pitch_mod::set_wet(float value, int c)
{
    if (channel_valid(c)) corvella::store_checked(settings[c].wet, value, 0.0f, 1.0f, text::wet);
}

void pitch_mod::set_dry(float value, int c)
{
    if (channel_valid(c)) corvella::store_checked(settings[c].dry, value, 0.0f, 1.0f, text::dry);
}

void pitch_mod::set_delay_mod_ms_unity(float u, int c)
{
    if (channel_valid(c) && corvella::unity_in(u, text::delay_mod))
        settings[c].delay_mod_ms.store(u * max_delay_mod_ms, std::memory_order_relaxed);
}

void pitch_mod::set_delay_mod_rate_hz_unity(float u, int c)
{
    if (channel_valid(c) && corvella::unity_in(u, text::delay_mod_rate))
        settings[c].delay_mod_rate_hz.store(std::pow(1000.0f, u) / 50.0f, std::memory_order_relaxed);
}

void pitch_mod::set_toggle(bool on, int c)
{
    if (!channel_valid(c)) return;
    settings[c].toggle.store(on, std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(memory_lock);
    clear_lines_locked();
}

void pitch_mod::set_toggle_unity(float u, int c)
{
    set_toggle(u > 0.0f, c);
}

float pitch_mod::get_delay_ms(int c) const
{
    return load(settings[c].delay_ms);
}
float pitch_mod::get_delay_mod_ms(int c) const
{
    return load(settings[c].delay_mod_ms);
}
float pitch_mod::get_delay_mod_rate_hz(int c) const
{
    return load(settings[c].delay_mod_rate_hz);
}
float pitch_mod::get_feedback(int c) const
{
    return load(settings[c].feedback);
}
float pitch_mod::get_feedback_opposite(int c) const
{
    return load(settings[c].feedback_opposite);
}
float pitch_mod::get_width(int c) const
{
    return load(settings[c].width);
}
float pitch_mod::get_dry(int c) const
{
    return load(settings[c].dry);
}
float pitch_mod::get_wet(int c) const
{
    return load(settings[c].wet);
}
bool pitch_mod::get_toggle(int c) const
{
    return settings[c].toggle.load(std::memory_order_relaxed);
}

void pitch_mod::pitch_mod_delay_mod_ms_str(float u, char* text)
{
    if (text == nullptr) return;
    u = std::isnan(u) ? 0.0f : std::clamp(u, 0.0f, 1.0f);
    std::snprintf(text, delay_mod_ms_text_capacity, "%.3fms", static_cast<double>(u * max_delay_mod_ms));
}

// ---- Processing ----

void pitch_mod::process_replacing(float* const* buffers, int frames)
{
    if (buffers == nullptr || buffers[0] == nullptr || buffers[1] == nullptr || frames <= 0) return;
    bool const on[channels] = {get_toggle(0), get_toggle(1)};
    if (!on[0] && !on[1]) return;
    ippSetFlushToZero(1, nullptr);
    ippSetDenormAreZeros(1);

    corvella::swept_channel channel[channels];
    for (int c = 0; c < channels; ++c)
        channel[c] = {get_dry(c),          get_wet(c),      get_feedback(c),     get_feedback_opposite(c),
                      on[c] ? 1.0f : 0.0f, get_delay_ms(c), get_delay_mod_ms(c), get_delay_mod_rate_hz(c)};

    std::unique_lock<std::mutex> lock(memory_lock, std::try_to_lock);
    if (!lock.owns_lock()) {
        for (int c = 0; c < channels; ++c)
            for (int n = 0; n < frames; ++n)
                buffers[c][n] *= channel[c].dry;
        return;
    }
    corvella::run_swept_delay_pair_or_rest(rest, lines, previous, lfo_counter, write_index, partner, sine,
                                           channel, sample_rate.load(std::memory_order_relaxed), read_lead,
                                           feedback_lead, buffers, frames);
}
