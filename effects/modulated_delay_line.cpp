#include "effects/modulated_delay_line.h"

#include "effects/biquad_filter.h"

#include "platform/aligned_memory.h"
#include "platform/message_box.h"
#include <algorithm>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace corvella {

void add_denormal_bias(float* const* buffers, int channels)
{
    for (int c = 0; c < channels; ++c)
        if (buffers[c] != nullptr) buffers[c][0] += denormal_bias;
}

delay_sine_table::delay_sine_table()
{
    for (int k = 0; k < length; ++k)
        table[k] = static_cast<float>(std::sin(k * (1.0 / entries_per_cycle) * 2.0 * 3.14159265358979323846));
}

float delay_sine_table::outside_table(float x)
{
    return std::sin(x);
}

bool modulated_delay_line::allocate(int line_length)
{
    release();
    samples = aligned_new<float>(static_cast<std::size_t>(line_length), true);
    if (samples == nullptr) return false;
    length = line_length;
    return true;
}

void modulated_delay_line::release()
{
    std::free(samples);
    samples = nullptr;
    length = 0;
}

void modulated_delay_line::clear()
{
    if (samples != nullptr) std::memset(samples, 0, static_cast<std::size_t>(length) * sizeof(float));
}

void modulated_delay_line::swap(modulated_delay_line& other)
{
    std::swap(samples, other.samples);
    std::swap(length, other.length);
}

int sweep_read_delays(delay_sine_table const& sine, lfo_sweep const& sweep, int counter, int line_length,
                      int count, int* whole, float* fraction)
{
    float phase[sweep_run];
    for (int n = 0; n < count; ++n) {
        counter = advance_lfo(counter, sweep.whole_period);
        phase[n] = static_cast<float>(counter) * sweep.phase_step + sweep.offset;
    }
    float s[sweep_run];
    for (int n = 0; n < count; ++n)
        s[n] = sine.lookup_in_table(phase[n]);
    int const last_whole = line_length - 2;
    for (int n = 0; n < count; ++n) {
        float const delay = std::max((s[n] * 0.5f + 0.5f) * sweep.depth + sweep.base, minimum_read_delay);
        int const w = static_cast<int>(delay);
        float const f = delay - static_cast<float>(w);
        whole[n] = std::min(w, last_whole);
        fraction[n] = w > last_whole ? 0.0f : f;
    }
    return counter;
}

int sweep_read_ages(delay_sine_table const& sine, lfo_sweep const& sweep, int counter, int line_length,
                    int lead, int count, int* age, float* fraction)
{
    // Capping the whole delay at (line_length + lead) - 2 caps the ages at line_length - 2.
    counter = sweep_read_delays(sine, sweep, counter, line_length + lead, count, age, fraction);
    for (int n = 0; n < count; ++n)
        age[n] -= lead;
    return counter;
}

void allpass_coefficients(float const* fraction, int count, float* a)
{
    for (int n = 0; n < count; ++n)
        a[n] = (1.0f - fraction[n]) / (1.0f + fraction[n]);
}

namespace {

// A channel's LFO period in samples, as processing and a resting pair's skip both count it.
float lfo_period(swept_channel const& channel, double rate)
{
    return static_cast<float>(rate) / channel.rate_hz;
}

} // namespace

void run_swept_delay_pair(modulated_delay_line* lines, float* previous, int* lfo_counter, int& write_index,
                          int const* partner, delay_sine_table const& sine, swept_channel const* channel,
                          double rate, int read_lead, int feedback_lead, float* const* buffers, int frames,
                          float* written_peak)
{
    constexpr int channels = 2;
    constexpr float two_pi = 6.2831855f;
    int const length = lines[0].size();
    int whole_period[channels], fb_age[channels];
    float base[channels], depth[channels], phase_step[channels];
    for (int c = 0; c < channels; ++c) {
        // ms × rate / 1000 in double keeps whole-millisecond delays whole samples.
        base[c] = static_cast<float>(channel[c].delay_ms * rate / 1000.0);
        depth[c] = static_cast<float>(channel[c].depth_ms * rate / 1000.0);
        float const period = lfo_period(channel[c], rate);
        whole_period[c] = whole_lfo_period(period);
        phase_step[c] = whole_period[c] > 0 ? two_pi / period : 0.0f;
        fb_age[c] = feedback_age(base[c] - static_cast<float>(feedback_lead), length);
    }
    add_denormal_bias(buffers, channels);

    int whole[channels][sweep_run];
    float fraction[sweep_run];
    float coefficient[channels][sweep_run];
    float prev[channels] = {previous[0], previous[1]};
    float peak = 0.0f;
    int write = write_index;
    for (int first = 0; first < frames; first += sweep_run) {
        int const count = std::min(sweep_run, frames - first);
        // The read positions depend only on each channel's LFO: worked out for the run first.
        for (int c = 0; c < channels; ++c) {
            lfo_sweep const sweep{whole_period[c], phase_step[c], 0.0f, depth[c], base[c]};
            int const counter = lfo_counter_in_period(lfo_counter[c], whole_period[c]);
            lfo_counter[c] =
                sweep_read_ages(sine, sweep, counter, length, read_lead, count, whole[c], fraction);
            allpass_coefficients(fraction, count, coefficient[c]);
        }
        // Frame by frame: each channel's write takes its partner's feedback tap of the same frame.
        for (int n = first; n < first + count; ++n) {
            int const k = n - first;
            float tap[channels];
            float x[channels];
            for (int c = 0; c < channels; ++c) {
                tap[c] = lines[c].tap(write, fb_age[c]);
                x[c] = buffers[c][n];
            }
            for (int c = 0; c < channels; ++c) {
                int const o = partner[c];
                float const v = tap[o] * channel[o].feedback_opposite + tap[c] * channel[c].feedback +
                                x[c] * channel[c].gate;
                lines[c].at(write) = v;
                peak = std::max(peak, std::fabs(v));
            }
            for (int c = 0; c < channels; ++c) {
                float const y = allpass_read(lines[c], write, whole[c][k], coefficient[c][k], prev[c]);
                buffers[c][n] = channel[c].dry * x[c] + channel[c].wet * y;
            }
            write = lines[0].next(write);
        }
    }
    previous[0] = prev[0];
    previous[1] = prev[1];
    write_index = write;
    if (written_peak != nullptr) *written_peak = peak;
}

void run_swept_delay_pair_or_rest(swept_pair_rest& rest, modulated_delay_line* lines, float* previous,
                                  int* lfo_counter, int& write_index, int const* partner,
                                  delay_sine_table const& sine, swept_channel const* channel, double rate,
                                  int read_lead, int feedback_lead, float* const* buffers, int frames)
{
    constexpr int channels = 2;
    // Looked at only while resting, and only until the first louder sample.
    auto quiet_input = [&] {
        for (int c = 0; c < channels; ++c)
            for (int n = 0; n < frames; ++n)
                if (!(std::fabs(buffers[c][n]) < swept_pair_rest::quiet_level)) return false;
        return true;
    };
    if (rest.resting && quiet_input()) {
        int const length = lines[0].size();
        for (int c = 0; c < channels; ++c) {
            for (int n = 0; n < frames; ++n)
                buffers[c][n] *= channel[c].dry;
            // The counter run_swept_delay_pair would reach, one advance_lfo per frame.
            int const period = whole_lfo_period(lfo_period(channel[c], rate));
            lfo_counter[c] =
                period > 0 ? (lfo_counter_in_period(lfo_counter[c], period) + frames % period) % period : 0;
        }
        write_index = static_cast<int>((static_cast<long long>(write_index) + frames) % length);
        return;
    }
    rest.resting = false;
    float written = 0.0f;
    run_swept_delay_pair(lines, previous, lfo_counter, write_index, partner, sine, channel, rate, read_lead,
                         feedback_lead, buffers, frames, &written);
    rest.quiet_frames = written < swept_pair_rest::quiet_level ? rest.quiet_frames + frames : 0;
    if (rest.quiet_frames >= lines[0].size()) {
        // Nothing the lines hold is above quiet_level: they are left as they are (clearing them
        // here would cost the audio thread megabytes of writes), and the allpasses start afresh.
        previous[0] = previous[1] = 0.0f;
        rest.resting = true;
        rest.quiet_frames = 0;
    }
}

int line_length_for(int sample_rate, int milliseconds)
{
    return static_cast<int>(std::ceil(static_cast<double>(sample_rate) * milliseconds / 1000.0));
}

void fill_partner_table(int* partner, int channels)
{
    for (int c = 0; c < channels; ++c)
        partner[c] = (c + 1) % channels;
}

void report_refused_setting(char const* text)
{
    MessageBoxA(nullptr, text, caption::engine, message_box_ok);
}

bool allocate_lines(modulated_delay_line* lines, int count, int length)
{
    for (int c = 0; c < count; ++c) {
        if (lines[c].allocate(length)) continue;
        for (int k = 0; k < c; ++k)
            lines[k].release();
        return false;
    }
    return true;
}

namespace {
constexpr float tone_filter_hz = 100.0f;
constexpr float tone_shelf_gain_db = 0.5f;
} // namespace

void set_up_tone_filters(biquad_filter* low_cut, biquad_filter* shelf, int count, int rate)
{
    for (int c = 0; c < count; ++c) {
        low_cut[c].set_mode(biquad_mode_low_cut);
        low_cut[c].set_toggle(1.0f);
        shelf[c].set_mode(biquad_mode_low_shelf);
        shelf[c].set_gain_db(tone_shelf_gain_db);
        shelf[c].set_toggle(1.0f);
    }
    retune_tone_filters(low_cut, shelf, count, rate);
}

void retune_tone_filters(biquad_filter* low_cut, biquad_filter* shelf, int count, int rate)
{
    for (int c = 0; c < count; ++c) {
        for (biquad_filter* band : {&low_cut[c], &shelf[c]}) {
            band->set_freq_fs(static_cast<float>(rate));
            band->set_freq_max_f0(static_cast<float>(rate) * 0.5f);
            band->set_freq_f0(tone_filter_hz);
            band->compute_coeffs();
            band->clear_history();
        }
    }
}

bool unity_in(float& u, char const* refusal)
{
    if (std::isnan(u)) {
        report_refused_setting(refusal);
        return false;
    }
    u = std::clamp(u, 0.0f, 1.0f);
    return true;
}

void store_checked(std::atomic<float>& field, float value, float lo, float hi, char const* refusal)
{
    if (!(value >= lo && value <= hi)) {
        report_refused_setting(refusal);
        return;
    }
    field.store(value, std::memory_order_relaxed);
}

} // namespace corvella
