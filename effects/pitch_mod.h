#pragma once

// Pitch modulation of a stereo signal: each channel runs through a 23 ms ring whose read position a
// sine LFO sweeps between base and base + depth, which bends the pitch slightly up and down; an
// allpass reads between ring samples for the fraction. The output follows the input by the swept
// delay less 2 samples, never less than 3. Each ring also takes feedback from its own ring and,
// scaled by the other channel's `feedback_opposite`, from the other ring, both one sample younger
// than the base delay. A channel that is off writes no input into its ring but still outputs dry ×
// input plus what its ring holds.
//
// Settings are per channel (0 left, 1 right, last argument), as unity values (the *_unity setters)
// or in natural units. A value outside a setting's range is refused with a message through the
// message sink and the previous value stays; unity values are clamped to 0..1 first.
//
// Threading: process_replacing runs on the audio thread; everything else on other threads.
// Setters store single atomic values and never block process; a new value is heard from the next
// block. The delay memory is guarded by the modulator's lock: set_sample_rate allocates and frees
// outside it and holds it only to exchange the lines; set_toggle, set_toggle_unity and
// silence_delay_lines hold it while clearing the lines. process_replacing only tries the lock:
// when it is taken, that block passes dry × input. process_replacing allocates nothing.

#include "effects/modulated_delay_line.h"

#include <atomic>
#include <mutex>

class pitch_mod {
public:
    static constexpr int channels = 2;
    static constexpr int line_milliseconds = 23; // ring length: the longest delay plus the deepest sweep
    static constexpr float max_delay_ms = 20.0f;
    static constexpr float max_delay_mod_ms = 3.0f;
    static constexpr int delay_mod_ms_text_capacity = 16; // chars pitch_mod_delay_mod_ms_str may write

    // Defaults per channel: delay 0 ms, depth 0 ms, rate 0 Hz (LFO still), feedback 0, opposite
    // 0, width 0.75, dry 1, wet 1, on. `sample_rate` 10000 to 192000 Hz. Throws
    // std::runtime_error: "Invalid pitch_mod sample rate" or an allocation message.
    explicit pitch_mod(int sample_rate);
    ~pitch_mod();
    pitch_mod(pitch_mod const&) = delete;
    pitch_mod& operator=(pitch_mod const&) = delete;

    // Reallocates both lines (cleared) for `rate`. Throws std::runtime_error ("Invalid pitch_mod
    // sample rate", allocation messages) and then leaves the modulator as it was.
    void set_sample_rate(int rate);

    // In place on two planar channels of `frames` samples. Both toggles off: untouched. Never
    // allocates; sets flush-to-zero and denormals-are-zero on the calling thread.
    void process_replacing(float* const* buffers, int frames);

    // Clears both lines and the allpass states.
    void silence_delay_lines();

    // Natural units, per channel; refused values in brackets. 0 Hz holds the LFO still.
    void set_delay_ms(float ms, int c);             // max(0.01, ms), at most 20 ("Invalid pitch_mod delay")
    void set_delay_mod_ms(float ms, int c);         // 0..3 ("Invalid pitch_mod delay mod")
    void set_delay_mod_rate_hz(float hz, int c);    // 0..20 ("Invalid pitch_mod delay mod rate")
    void set_feedback(float value, int c);          // 0 ≤ value < 1 ("Invalid feedback value")
    void set_feedback_opposite(float value, int c); // 0 ≤ value < 1 ("Invalid feedback opposite value")
    void set_width(float value, int c);             // 0..1, stored only ("Invalid width value")
    void set_wet(float value, int c);               // 0..1 ("Invalid wet value")
    void set_dry(float value, int c);               // 0..1 ("Invalid dry value")

    void set_delay_mod_ms_unity(float u, int c);      // 3u ms
    void set_delay_mod_rate_hz_unity(float u, int c); // 1000^u / 50 Hz: 0.02 .. 20
    // The channel's input on or off; then both lines are cleared (every call, changed or not), so
    // switching on never plays stale audio.
    void set_toggle(bool on, int c);
    void set_toggle_unity(float u, int c); // on when u > 0

    float get_delay_ms(int c) const;
    float get_delay_mod_ms(int c) const;
    float get_delay_mod_rate_hz(int c) const;
    float get_feedback(int c) const;
    float get_feedback_opposite(int c) const;
    float get_width(int c) const;
    float get_dry(int c) const;
    float get_wet(int c) const;
    bool get_toggle(int c) const;
    int get_sample_rate() const { return sample_rate.load(std::memory_order_relaxed); }
    int get_line_length() const { return line_length.load(std::memory_order_relaxed); }

    // The editor text of a depth unity value: "%.3fms" of 3u (u clamped to 0..1). `text` holds at
    // least delay_mod_ms_text_capacity chars.
    static void pitch_mod_delay_mod_ms_str(float u, char* text);

private:
    struct channel_settings {
        std::atomic<float> delay_ms{0.0f};          // base delay, 0.01..20 once set
        std::atomic<float> delay_mod_ms{0.0f};      // sweep depth, 0..3
        std::atomic<float> delay_mod_rate_hz{0.0f}; // LFO rate, 0..20
        std::atomic<float> feedback{0.0f};          // from the channel's own ring, 0 ≤ value < 1
        std::atomic<float> feedback_opposite{0.0f}; // sent into the other channel's ring, 0 ≤ value < 1
        std::atomic<float> width{0.75f};            // stored, not used in processing
        std::atomic<float> dry{1.0f};               // 0..1
        std::atomic<float> wet{1.0f};               // 0..1
        std::atomic<bool> toggle{true};             // channel input on
    };
    using line_set = corvella::modulated_delay_line[channels];

    static bool channel_valid(int c);
    void do_internal_checks(int rate, int length) const;
    // Allocates cleared lines of `length` samples into `target` (empty).
    static void init_memory(line_set& target, int length);
    void init_lookup();
    void clear_lines_locked();

    channel_settings settings[channels];

    std::atomic<int> sample_rate;    // Hz
    std::atomic<int> line_length{0}; // ceil(rate × 23 / 1000)

    // Guarded by memory_lock.
    std::mutex memory_lock;
    line_set lines;                  // one ring per channel
    float previous[channels] = {};   // allpass state
    int lfo_counter[channels] = {};  // samples into each LFO period
    int write_index = 0;             // ring position written this frame (both lines)
    corvella::swept_pair_rest rest;  // passed by while silence goes through silent lines
    int partner[channels] = {};      // the other channel
    corvella::delay_sine_table sine; // LFO sine
};
