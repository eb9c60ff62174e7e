#include "effects/stereo_delay.h"

#include "convolution/ipps.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

// Every text the delay shows or throws.
namespace text {
constexpr char const allocation[] = "Chorus memory allocation error";
constexpr char const sample_rate[] = "Invalid stereo_delay sample rate";
constexpr char const delay[] = "Invalid stereo_delay delay";
constexpr char const delay_mod[] = "Invalid stereo_delay delay mod";
constexpr char const delay_mod_rate[] = "Invalid stereo_delay delay mod rate";
constexpr char const channel[] = "Invalid stereo_delay channel";
constexpr char const feedback[] = "Invalid feedback value";
constexpr char const feedback_opposite[] = "Invalid feedback opposite value";
constexpr char const width[] = "Invalid width value";
constexpr char const dry[] = "Invalid dry value";
constexpr char const wet[] = "Invalid wet value";
} // namespace text

constexpr float max_delay_mod_ms = 10.0f;
constexpr float max_rate_hz = 20.0f;
constexpr float min_delay_ms = 0.01f;
constexpr float max_feedback = 0.99999994f; // the float below 1: the rings must decay

float load(std::atomic<float> const& field)
{
    return field.load(std::memory_order_relaxed);
}

} // namespace

stereo_delay::stereo_delay(int rate) : sample_rate(rate)
{
    int const length = corvella::line_length_for(rate, line_milliseconds);
    do_internal_checks(rate, length);
    init_memory(lines, length);
    line_length.store(length, std::memory_order_relaxed);
    init_biquad_filters();
    init_lookup();
}

stereo_delay::~stereo_delay() = default;

bool stereo_delay::channel_valid(int c)
{
    if (c == 0 || c == 1) return true;
    corvella::report_refused_setting(text::channel);
    return false;
}

void stereo_delay::do_internal_checks(int rate, int length) const
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

void stereo_delay::init_memory(line_set& target, int length) const
{
    if (!corvella::allocate_lines(target, channels, length)) throw std::runtime_error(text::allocation);
}

void stereo_delay::init_biquad_filters()
{
    corvella::set_up_tone_filters(low_cut, shelf, channels, get_sample_rate());
}

void stereo_delay::retune_biquad_filters(int rate)
{
    corvella::retune_tone_filters(low_cut, shelf, channels, rate);
}

void stereo_delay::init_lookup()
{
    corvella::fill_partner_table(partner, channels);
}

void stereo_delay::set_sample_rate(int rate)
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
        retune_biquad_filters(rate);
    }
    // `fresh` now holds the old lines and frees them here, outside the lock.
}

void stereo_delay::clear_lines_locked()
{
    rest = {};
    for (int c = 0; c < channels; ++c) {
        lines[c].clear();
        previous[c] = 0.0f;
    }
}

void stereo_delay::silence_delay_lines()
{
    std::lock_guard<std::mutex> lock(memory_lock);
    clear_lines_locked();
}

// ---- Setters ----

void stereo_delay::set_feedback(float value, int c)
{
    if (channel_valid(c))
        corvella::store_checked(settings[c].feedback, value, 0.0f, max_feedback, text::feedback);
}

void stereo_delay::set_feedback_opposite(float value, int c)
{
    if (channel_valid(c))
        corvella::store_checked(settings[c].feedback_opposite, value, 0.0f, max_feedback,
                                text::feedback_opposite);
}

void stereo_delay::set_width(float value, int c)
{
    if (channel_valid(c)) corvella::store_checked(settings[c].width, value, 0.0f, 1.0f, text::width);
}

void stereo_delay::set_wet(float value, int c)
{
    if (channel_valid(c)) corvella::store_checked(settings[c].wet, value, 0.0f, 1.0f, text::wet);
}

void stereo_delay::set_dry(float value, int c)
{
    if (channel_valid(c)) corvella::store_checked(settings[c].dry, value, 0.0f, 1.0f, text::dry);
}

void stereo_delay::set_delay_mod_ms(float ms, int c)
{
    if (channel_valid(c))
        corvella::store_checked(settings[c].delay_mod_ms, ms, 0.0f, max_delay_mod_ms, text::delay_mod);
}

void stereo_delay::set_delay_mod_rate_hz(float hz, int c)
{
    if (channel_valid(c))
        corvella::store_checked(settings[c].delay_mod_rate_hz, hz, 0.0f, max_rate_hz, text::delay_mod_rate);
}

void stereo_delay::set_delay_ms(float ms, int c)
{
    if (!channel_valid(c)) return;
    if (!std::isnan(ms)) ms = std::max(min_delay_ms, ms);
    corvella::store_checked(settings[c].delay_ms, ms, min_delay_ms, max_delay_ms, text::delay);
}

void stereo_delay::set_feedback_unity(float u, int c)
{
    if (channel_valid(c) && corvella::unity_in(u, text::feedback))
        settings[c].feedback.store(std::min(u, max_feedback), std::memory_order_relaxed);
}

void stereo_delay::set_feedback_opposite_unity(float u, int c)
{
    if (channel_valid(c) && corvella::unity_in(u, text::feedback_opposite))
        settings[c].feedback_opposite.store(std::min(u, max_feedback), std::memory_order_relaxed);
}

void stereo_delay::set_dry_unity(float u, int c)
{
    if (channel_valid(c) && corvella::unity_in(u, text::dry))
        settings[c].dry.store(u, std::memory_order_relaxed);
}

void stereo_delay::set_wet_unity(float u, int c)
{
    if (channel_valid(c) && corvella::unity_in(u, text::wet))
        settings[c].wet.store(u, std::memory_order_relaxed);
}

void stereo_delay::set_delay_mod_ms_unity(float u, int c)
{
    if (channel_valid(c) && corvella::unity_in(u, text::delay_mod))
        settings[c].delay_mod_ms.store(u * max_delay_mod_ms, std::memory_order_relaxed);
}

void stereo_delay::set_delay_mod_rate_hz_unity(float u, int c)
{
    if (channel_valid(c) && corvella::unity_in(u, text::delay_mod_rate))
        settings[c].delay_mod_rate_hz.store(std::pow(1000.0f, u) / 50.0f, std::memory_order_relaxed);
}

void stereo_delay::set_toggle_unity(float u, int c)
{
    if (!channel_valid(c)) return;
    settings[c].toggle.store(u > 0.0f, std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(memory_lock);
    clear_lines_locked();
}

void stereo_delay::set_toggle(bool on, int c)
{
    if (channel_valid(c)) settings[c].toggle.store(on, std::memory_order_relaxed);
}

void stereo_delay::recompute_tempo_delay(int c)
{
    channel_settings& s = settings[c];
    float const beat_ms = 1.0f / (load(s.tempo) / 60.0f) * 1000.0f;
    float const note_ms =
        static_cast<float>(s.numerator.load(std::memory_order_relaxed)) *
        (beat_ms / (static_cast<float>(s.denominator.load(std::memory_order_relaxed)) * 0.25f));
    float const ms = std::trunc(note_ms);
    if (ms < min_tempo_delay_ms) return;
    s.delay_ms.store(std::max(min_delay_ms, std::min(ms, max_delay_ms)), std::memory_order_relaxed);
}

void stereo_delay::set_num_den(int numerator, int denominator, int c)
{
    if (!channel_valid(c)) return;
    std::lock_guard<std::mutex> lock(tempo_lock);
    channel_settings& s = settings[c];
    if (denominator >= 1 && denominator <= 64) s.denominator.store(denominator, std::memory_order_relaxed);
    if (numerator < 1 || numerator > 63) return;
    float const tempo = load(s.tempo);
    if (!(tempo >= 30.0f && tempo <= 200.0f)) return;
    s.numerator.store(numerator, std::memory_order_relaxed);
    recompute_tempo_delay(c);
}

void stereo_delay::set_tempo(float bpm, int c)
{
    if (!channel_valid(c)) return;
    std::lock_guard<std::mutex> lock(tempo_lock);
    if (!(bpm >= 30.0f && bpm <= 200.0f)) return;
    channel_settings& s = settings[c];
    s.tempo.store(bpm, std::memory_order_relaxed);
    int const n = s.numerator.load(std::memory_order_relaxed);
    int const d = s.denominator.load(std::memory_order_relaxed);
    if (n >= 1 && n <= 63 && d >= 1 && d <= 64) recompute_tempo_delay(c);
}

float stereo_delay::get_feedback(int c) const
{
    return load(settings[c].feedback);
}
float stereo_delay::get_feedback_opposite(int c) const
{
    return load(settings[c].feedback_opposite);
}
float stereo_delay::get_width(int c) const
{
    return load(settings[c].width);
}
float stereo_delay::get_dry(int c) const
{
    return load(settings[c].dry);
}
float stereo_delay::get_wet(int c) const
{
    return load(settings[c].wet);
}
float stereo_delay::get_delay_ms(int c) const
{
    return load(settings[c].delay_ms);
}
float stereo_delay::get_delay_mod_ms(int c) const
{
    return load(settings[c].delay_mod_ms);
}
float stereo_delay::get_delay_mod_rate_hz(int c) const
{
    return load(settings[c].delay_mod_rate_hz);
}
bool stereo_delay::get_toggle(int c) const
{
    return settings[c].toggle.load(std::memory_order_relaxed);
}
int stereo_delay::get_numerator(int c) const
{
    return settings[c].numerator.load(std::memory_order_relaxed);
}
int stereo_delay::get_denominator(int c) const
{
    return settings[c].denominator.load(std::memory_order_relaxed);
}
float stereo_delay::get_tempo(int c) const
{
    return load(settings[c].tempo);
}

// ---- Processing ----

void stereo_delay::process_replacing(float* const* buffers, int frames)
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
                                           channel, sample_rate.load(std::memory_order_relaxed), 0, 0,
                                           buffers, frames);
}
