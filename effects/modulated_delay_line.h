#pragma once

// The machinery the delay-based effects (chorus, stereo_delay, pitch_mod) share: a ring buffer
// whose positions wrap by comparison instead of a modulo, a two-cycle sine table for the
// read-position LFO, the first-order allpass that reads between two ring samples, and the denormal
// bias.
//
// Reading convention (one for every user of this file): nominal. A tap of age t returns the sample
// written t frames before the current write position, so a read delay of D + d samples
// (0 ≤ d < 1) reads ages D and D + 1 through the allpass, and a feedback tap of T samples
// recirculates after exactly T frames: a chorus with no delay and no depth reads exactly 5 samples
// back, and an echo lands exactly at its tempo-derived time. (Wrapping write - D + length
// the way next() does would read one sample younger than age D; back() corrects for that.) Ages run
// from 1 to length - 1, so a tap never lands on the slot being written and the read order within
// a frame does not matter. pitch_mod keeps the convention but asks for younger taps on purpose: its
// allpass reads two samples younger than its swept delay (sweep_read_ages) and its feedback one
// sample younger than its base delay, so its output follows the input by the delay less 2.
//
// Threading: none of these objects locks; the owning effect serialises all access to a line.

#include <atomic>
#include <cstddef>

class biquad_filter;

namespace corvella {

// Added to the first sample of each channel of every block, so that a silent input does not let
// the recursions decay into subnormal numbers.
inline constexpr float denormal_bias = 1.2128485e-10f;

// Adds denormal_bias to the first sample of each of `channels` channels (null channels skipped).
void add_denormal_bias(float* const* buffers, int channels);

// The effects' LFO sine: 4096 entries covering two cycles, table[k] = sin(k / 2048 × 2π).
class delay_sine_table {
public:
    static constexpr int length = 4096;
    static constexpr int entries_per_cycle = 2048;

    delay_sine_table();

    // sin(x) for x in radians: linear interpolation in the table while the position x × 2048 / 2π
    // is within 0 .. 4095, the library sine otherwise. Inline: every effect calls it per sample.
    float lookup(float x) const
    {
        float const index = x * static_cast<float>(entries_per_cycle) * 0.159154943f;
        if (!(index >= 0.0f && index < static_cast<float>(length - 1))) return outside_table(x);
        int const k = static_cast<int>(index);
        float const t = index - static_cast<float>(k);
        return table[k] + t * (table[k + 1] - table[k]);
    }

    // lookup() for 0 ≤ x < 4π, the range of every LFO phase: the same interpolation with no
    // library call on the way, so a per-sample loop keeps its values in registers.
    float lookup_in_table(float x) const
    {
        float index = x * static_cast<float>(entries_per_cycle) * 0.159154943f;
        index = index > 0.0f ? index : 0.0f;
        int k = static_cast<int>(index);
        k = k < length - 2 ? k : length - 2;
        float const t = index - static_cast<float>(k);
        return table[k] + t * (table[k + 1] - table[k]);
    }

    float operator[](int k) const { return table[k]; }

private:
    static float outside_table(float x);

    float table[length]; // two cycles
};

// One ring buffer of `length` floats, 32-byte aligned and cleared when allocated. Positions wrap
// through successor(k) = (k + 1) mod length for 0 <= k < 2 x length, two compares and no division;
// it replaces a table of those values, which tripled the memory of every line (megabytes an
// instance, cleared at start-up) and cost a cache line per read.
class modulated_delay_line {
public:
    modulated_delay_line() = default;
    ~modulated_delay_line() { release(); }
    modulated_delay_line(modulated_delay_line const&) = delete;
    modulated_delay_line& operator=(modulated_delay_line const&) = delete;

    // Allocates a line of `line_length` (≥ 1) samples; false (nothing allocated) when it cannot.
    bool allocate(int line_length);
    void release();
    // Zeros every sample.
    void clear();
    // Exchanges the memory of two lines (the short step of a reallocation).
    void swap(modulated_delay_line& other);

    bool allocated() const { return samples != nullptr; }
    int size() const { return length; }

    // The position after `position`.
    int next(int position) const { return successor(position); }
    // The position `frames` (0 ≤ frames ≤ length) after `position`.
    int advance(int position, int frames) const
    {
        return frames == 0 ? position : successor(position + frames - 1);
    }
    // The position of the sample written `age` frames before `write`; 1 ≤ age ≤ length - 1.
    int back(int write, int age) const { return successor(write - age + length - 1); }
    float tap(int write, int age) const { return samples[back(write, age)]; }
    float& at(int position) { return samples[position]; }
    float const* data() const { return samples; }

private:
    int successor(int k) const
    {
        int next = k + 1;
        if (next >= length) next -= length;
        if (next >= length) next -= length;
        return next;
    }

    float* samples = nullptr; // length samples
    int length = 0;
};

// A read delay split for the allpass: `whole` frames plus a fraction reached through the allpass
// coefficient.
struct fractional_delay {
    int whole = 0;
    float fraction = 0.0f;
};

// The delay-based effects never read closer than this many samples.
inline constexpr float minimum_read_delay = 5.0f;

// max(5, delay) split into whole and fraction; the whole part is capped so that ages whole and
// whole + 1 stay inside a line of `line_length` samples.
inline fractional_delay split_read_delay(float delay, int line_length)
{
    float const floored = delay > minimum_read_delay ? delay : minimum_read_delay;
    fractional_delay result;
    result.whole = static_cast<int>(floored);
    result.fraction = floored - static_cast<float>(result.whole);
    if (result.whole > line_length - 2) {
        result.whole = line_length - 2;
        result.fraction = 0.0f;
    }
    return result;
}

// The allpass coefficient (1 - d) / (1 + d) whose phase delay at low frequencies is d samples.
inline float allpass_coefficient(float fraction)
{
    return (1.0f - fraction) / (1.0f + fraction);
}

// y = a × s[age D] + s[age D + 1] - a × y_prev: the ring read D + d samples back; `previous`
// holds y_prev and receives y.
inline float allpass_read(modulated_delay_line const& line, int write, int whole, float a, float& previous)
{
    float const y = line.tap(write, whole) * a + line.tap(write, whole + 1) - previous * a;
    previous = y;
    return y;
}

// One channel's LFO-swept read: delay = max(5, depth × (S(phase) × 0.5 + 0.5) + base) samples with
// phase = counter × phase_step + offset, the counter stepping through whole_period.
struct lfo_sweep {
    int whole_period = 0;
    float phase_step = 0.0f;
    float offset = 0.0f; // 0 ≤ offset ≤ 2π
    float depth = 0.0f;
    float base = 0.0f;
};

// Frames per call of sweep_read_delays: effects process their blocks in runs of this many.
inline constexpr int sweep_run = 128;

// The read delays of `count` (≤ sweep_run) consecutive frames, split as split_read_delay does,
// starting from the frame after `counter`; returns the counter of the last frame. The LFO depends
// only on the frame, so working it out for a whole run in separate loops lets them vectorise and
// leaves the per-sample recursions short.
int sweep_read_delays(delay_sine_table const& sine, lfo_sweep const& sweep, int counter, int line_length,
                      int count, int* whole, float* fraction);

// sweep_read_delays for an allpass read `lead` samples younger than the swept delay
// (0 ≤ lead < minimum_read_delay): age[n] = whole - lead, so the allpass reads ages age[n] and
// age[n] + 1, both at least 5 - lead and capped to stay inside a line of `line_length` samples.
int sweep_read_ages(delay_sine_table const& sine, lfo_sweep const& sweep, int counter, int line_length,
                    int lead, int count, int* age, float* fraction);

// a[n] = allpass_coefficient(fraction[n]) for `count` frames.
void allpass_coefficients(float const* fraction, int count, float* a);

// One block of a two-channel swept delay whose channels feed back into themselves and into their
// partner (the stereo delay and the pitch modulator). The caller holds the effect's lock and hands
// over its state: the two lines, the allpass states, the LFO counters, the write position and the
// partner table. The allpass reads `read_lead` samples younger than the swept delay and the
// feedback tap `feedback_lead` samples younger than the base delay.
struct swept_channel {
    float dry, wet, feedback, feedback_opposite;
    float gate; // 1 while the channel takes input, else 0
    float delay_ms, depth_ms, rate_hz;
};
void run_swept_delay_pair(modulated_delay_line* lines, float* previous, int* lfo_counter, int& write_index,
                          int const* partner, delay_sine_table const& sine, swept_channel const* channel,
                          double rate, int read_lead, int feedback_lead, float* const* buffers, int frames,
                          float* written_peak = nullptr);

// A swept pair at rest. Once a whole line's length of writes has stayed below quiet_level (-140 dB;
// the denormal bias and its feedback stay well below it), nothing in the lines is louder than that,
// and while the input stays below quiet_level blocks pass the pair by: dry x input out, the LFOs
// and the write position advanced exactly as processing would. The first louder block processes
// again; what the lines hold then differs from what processing would have left by less than
// quiet_level.
struct swept_pair_rest {
    static constexpr float quiet_level = 1.0e-7f;
    int quiet_frames = 0;
    bool resting = false;
};

// run_swept_delay_pair, passed by while the pair rests (see swept_pair_rest).
void run_swept_delay_pair_or_rest(swept_pair_rest& rest, modulated_delay_line* lines, float* previous,
                                  int* lfo_counter, int& write_index, int const* partner,
                                  delay_sine_table const& sine, swept_channel const* channel, double rate,
                                  int read_lead, int feedback_lead, float* const* buffers, int frames);

// A feedback tap of trunc(base) samples, at least 1 (a tap of age 0 would be the sample being
// written) and at most length - 1.
inline int feedback_age(float base_samples, int line_length)
{
    int age = static_cast<int>(base_samples);
    if (age < 1) age = 1;
    if (age > line_length - 1) age = line_length - 1;
    return age;
}

// The LFO's period in whole samples for `period` = rate / Hz; 0 (the LFO stands still at phase
// 0) when the modulation rate is not positive or the period does not fit.
inline int whole_lfo_period(float period)
{
    return period >= 1.0f && period < 2.0e9f ? static_cast<int>(period) : 0;
}

// The counter at the start of a block: (counter + 1) mod period stepping needs counter < period,
// which a rate raised since the last block may have broken.
inline int lfo_counter_in_period(int counter, int whole_period)
{
    return whole_period > 0 ? counter % whole_period : 0;
}

// (counter + 1) mod whole_period for a counter already inside the period, without a division.
inline int advance_lfo(int counter, int whole_period)
{
    int const next = counter + 1;
    return next < whole_period ? next : 0;
}

// Ring length in samples for `milliseconds` of audio at `sample_rate`: ceil(rate × ms / 1000).
int line_length_for(int sample_rate, int milliseconds);

// partner[c] = (c + 1) mod channels, for cross feedback.
void fill_partner_table(int* partner, int channels);

// Shows `text` through the message sink as an engine message: a setter refused a value and kept
// the previous one. For setter paths only, never for process.
void report_refused_setting(char const* text);

// A unity value clamped to 0..1; false (and the refusal reported) for NaN.
bool unity_in(float& u, char const* refusal);
// Stores `value` when lo <= value <= hi, otherwise reports `refusal` and keeps the old value.
void store_checked(std::atomic<float>& field, float value, float lo, float hi, char const* refusal);

// Allocates `count` lines of `length` samples; on a failure the lines made so far are released and
// the failing result is returned.
bool allocate_lines(modulated_delay_line* lines, int count, int length);

// The low-cut and low-shelf pair (100 Hz, shelf +0.5 dB) each effect keeps per channel. They are
// tuned with the rate, as the effects' settings expect, but not used in processing.
void set_up_tone_filters(biquad_filter* low_cut, biquad_filter* shelf, int count, int rate);
void retune_tone_filters(biquad_filter* low_cut, biquad_filter* shelf, int count, int rate);

} // namespace corvella
