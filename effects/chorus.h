#pragma once

// A chorus: each channel runs through a short ring buffer (30 ms) read at a delay that a sine LFO
// sweeps between base and base + depth, with an allpass between ring samples for the fraction
// and negative feedback from a fixed tap at the base delay. Mode 1 (the default, two channels)
// offsets the right channel's LFO phase by π × width and cross-feeds each channel's wet signal,
// low-cut at 100 Hz, into the other; mode 0 runs every channel on one LFO without cross-feed.
//
// Settings come as unity values (the *_unity setters, which the engine feeds from the program) or
// in natural units. A value outside a setting's range is refused with a message through the
// message sink and the previous value stays; unity values are clamped to 0..1 first.
//
// Threading: process_replacing runs on the audio thread; the setters, set_sample_rate,
// silence_delay_lines and chorus_destroy on any other thread. Setters store single atomic values
// and never block process. The delay memory is guarded by the chorus's lock: set_sample_rate and
// chorus_destroy allocate and free outside it and hold it only to exchange the lines;
// silence_delay_lines holds it while clearing the lines. process_replacing only tries the lock:
// when it is taken, that block passes dry × input. process_replacing allocates nothing.

#include "effects/biquad_filter.h"
#include "effects/modulated_delay_line.h"

#include <atomic>
#include <mutex>
#include <string>

class chorus {
public:
    static constexpr int max_channels = 2;
    static constexpr int line_milliseconds = 30; // ring length

    // Defaults: feedback 0, width 0.75, dry 1, wet 1, delay 0 ms, depth 0 ms, rate 0 Hz, mode 1,
    // on. `channels` 1 or 2; `sample_rate` 10000 to 192000 Hz. Throws std::runtime_error:
    // "Invalid number of chorus channels", "Invalid chorus sample rate", "Chorus error, too few
    // channels defined" (0 channels) or an allocation message.
    chorus(int channels, int sample_rate);
    ~chorus();
    chorus(chorus const&) = delete;
    chorus& operator=(chorus const&) = delete;

    // Reallocates the lines (cleared) for `rate` and retunes the filters. Throws
    // std::runtime_error ("Invalid chorus sample rate", allocation messages) and then leaves the
    // chorus as it was.
    void set_sample_rate(int rate);

    // In place on `channels` planar channels of `frames` samples. Toggle off: untouched. Mode 1
    // with other than 2 channels: zeros. Never allocates; sets flush-to-zero and
    // denormals-are-zero on the calling thread.
    void process_replacing(float* const* buffers, int frames);

    // Clears the lines and the allpass state.
    void silence_delay_lines();
    // Frees the lines; processing then passes dry × input until set_sample_rate. Throws
    // "Chorus tried to free unallocated delay line memory holder" when nothing is allocated.
    void chorus_destroy();

    // Unity setters.
    void set_feedback_unity(float u);          // u, kept below 1
    void set_width_unity(float u);             // u
    void set_dry_unity(float u);               // u
    void set_wet_unity(float u);               // u
    void set_delay_ms_unity(float u);          // max(0.01, 20u) ms
    void set_delay_mod_ms_unity(float u);      // 10u ms
    void set_delay_mod_rate_hz_unity(float u); // 1000^u / 50 Hz: 0.02 .. 20
    void set_toggle_unity(float u);            // on when u > 0

    // Natural units; out-of-range values are refused with the message in brackets.
    void set_feedback(float value);       // 0 ≤ value < 1 ("Invalid feedback value")
    void set_width(float value);          // 0..1 ("Invalid width value")
    void set_dry(float value);            // 0..1 ("Invalid dry value")
    void set_wet(float value);            // 0..1 ("Invalid wet value")
    void set_delay_ms(float ms);          // stores max(0.01, ms); at most 20 ("Invalid chorus delay")
    void set_delay_mod_ms(float ms);      // 0..10 ("Invalid chorus delay mod")
    void set_delay_mod_rate_hz(float hz); // 0..20; 0 holds the LFO still ("Invalid chorus delay mod rate")
    void set_mode(int value);             // 0 or 1 ("Invalid chorus mode")
    void set_toggle(bool on) { toggle.store(on, std::memory_order_relaxed); }

    float get_feedback() const { return feedback.load(std::memory_order_relaxed); }
    float get_width() const { return width.load(std::memory_order_relaxed); }
    float get_dry() const { return dry.load(std::memory_order_relaxed); }
    float get_wet() const { return wet.load(std::memory_order_relaxed); }
    float get_delay_ms() const { return delay_ms.load(std::memory_order_relaxed); }
    float get_delay_mod_ms() const { return delay_mod_ms.load(std::memory_order_relaxed); }
    float get_delay_mod_rate_hz() const { return delay_mod_rate_hz.load(std::memory_order_relaxed); }
    int get_mode() const { return mode.load(std::memory_order_relaxed); }
    bool get_toggle() const { return toggle.load(std::memory_order_relaxed); }
    int get_channels() const { return channels; }
    int get_sample_rate() const { return sample_rate.load(std::memory_order_relaxed); }
    int get_line_length() const { return line_length.load(std::memory_order_relaxed); }

    // Editor texts of the unity values: "%.1fms" of 20u, "%.1fms" of 10u, "%.2fHz" of the rate,
    // "%i" of the integer part of 100u or "Original" below 1.
    static std::string delay_ms_text(float u);
    static std::string delay_mod_ms_text(float u);
    static std::string delay_mod_rate_hz_text(float u);
    static std::string width_text(float u);

private:
    using line_set = corvella::modulated_delay_line[max_channels];

    void do_internal_checks(int rate, int length) const;
    // Allocates cleared lines of `length` samples for every channel into `target` (empty).
    void init_memory(line_set& target, int length) const;
    void init_biquad_filters();
    void retune_biquad_filters(int rate);
    void init_lookup();
    void pass_dry(float* const* buffers, int frames, float dry_gain) const;
    // One channel through `count` frames from ring position `write`, reading whole[n] samples back
    // through the allpass coefficient[n]; -wet goes to negated_wet when given (the cross-feed).
    void run_channel(int c, float* buffer, int count, int write, int const* whole, float const* coefficient,
                     int fb_age, float fb_gain, float dry_gain, float wet_gain, float* negated_wet);

    // Settings, written by the setters, read once per block.
    std::atomic<float> feedback{0.0f};          // 0 ≤ feedback < 1
    std::atomic<float> width{0.75f};            // stereo spread and cross-feed amount
    std::atomic<float> dry{1.0f};               // 0..1
    std::atomic<float> wet{1.0f};               // 0..1
    std::atomic<float> delay_ms{0.0f};          // 0.01..20 once set
    std::atomic<float> delay_mod_ms{0.0f};      // depth, 0..10
    std::atomic<float> delay_mod_rate_hz{0.0f}; // LFO rate
    std::atomic<int> mode{1};                   // 0 or 1
    std::atomic<bool> toggle{true};             // effect on

    int const channels;              // 0..2
    std::atomic<int> sample_rate;    // Hz
    std::atomic<int> line_length{0}; // ceil(rate × 30 / 1000)

    // Guarded by memory_lock.
    std::mutex memory_lock;
    line_set lines;                      // one ring per channel
    bool memory_allocated = false;       // lines hold memory
    float previous[max_channels] = {};   // allpass state
    int write_index = 0;                 // ring position written this frame
    int lfo_counter = 0;                 // samples into the LFO period
    biquad_filter low_cut[max_channels]; // cross-feed tone, "L. Cut" 100 Hz
    biquad_filter shelf[max_channels];   // "L. Shelf" 100 Hz +0.5 dB, kept tuned, unused
    int partner[max_channels] = {};      // cross-feed source channel
    corvella::delay_sine_table sine;     // LFO sine
};
