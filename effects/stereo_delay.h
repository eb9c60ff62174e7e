#pragma once

// A two-channel echo with separate left and right settings. Each channel writes input plus
// feedback from its own ring (`feedback`) and from the other channel's ring (the other channel's
// `feedback_opposite`) into a 5.01 s ring, and reads it back at the delay time through an allpass,
// the read position swept gently by a sine LFO (depth and rate per channel). Delay times follow
// the tempo: a note length numerator / denominator at a tempo in BPM (set_num_den, set_tempo),
// never shorter than 11 ms (shorter results keep the previous time) nor longer than 5000 ms.
//
// Settings come as unity values (the *_unity setters) or in natural units, with the channel
// (0 left, 1 right) as the last argument. A value outside a setting's range is refused with a
// message through the message sink and the previous value stays; unity values are clamped to
// 0..1 first. set_num_den and set_tempo ignore out-of-range note values and tempi silently: the
// host tempo may be anything.
//
// Threading: process_replacing runs on the audio thread; everything else on other threads.
// Setters store single atomic values and never block process; set_num_den and set_tempo
// serialise among themselves on a lock that process never takes. The delay memory is guarded by
// the delay's lock: set_sample_rate allocates and frees outside it and holds it only to exchange
// the lines; silence_delay_lines and set_toggle_unity hold it while clearing the lines.
// process_replacing only tries the lock: when it is taken, that block passes dry × input.
// process_replacing allocates nothing.

#include "effects/biquad_filter.h"
#include "effects/modulated_delay_line.h"

#include <atomic>
#include <mutex>

class stereo_delay {
public:
    static constexpr int channels = 2;
    static constexpr int line_milliseconds = 5010; // ring length
    static constexpr float max_delay_ms = 5000.0f;
    static constexpr float min_tempo_delay_ms = 11.0f; // shorter tempo-derived times are ignored

    // Defaults per channel: feedback 0, opposite 0, width 0.75, dry 1, wet 1, delay 0 ms, depth
    // 0 ms, rate 0 Hz, on, note 4/16, tempo 120. `sample_rate` 10000 to 192000 Hz. Throws
    // std::runtime_error: "Invalid stereo_delay sample rate" or an allocation message.
    explicit stereo_delay(int sample_rate);
    ~stereo_delay();
    stereo_delay(stereo_delay const&) = delete;
    stereo_delay& operator=(stereo_delay const&) = delete;

    // Reallocates both lines (cleared) for `rate` and retunes the filters. Throws
    // std::runtime_error ("Invalid stereo_delay sample rate", allocation messages) and then
    // leaves the delay as it was.
    void set_sample_rate(int rate);

    // In place on two planar channels of `frames` samples. Both toggles off: untouched. Never
    // allocates; sets flush-to-zero and denormals-are-zero on the calling thread.
    void process_replacing(float* const* buffers, int frames);

    // Clears both lines and the allpass states.
    void silence_delay_lines();

    // Natural units, per channel; refused values in brackets.
    void set_feedback(float value, int c);          // 0 ≤ value < 1 ("Invalid feedback value")
    void set_feedback_opposite(float value, int c); // 0 ≤ value < 1 ("Invalid feedback opposite value")
    void set_width(float value, int c);             // 0..1, stored only ("Invalid width value")
    void set_wet(float value, int c);               // 0..1 ("Invalid wet value")
    void set_dry(float value, int c);               // 0..1 ("Invalid dry value")
    void set_delay_mod_ms(float ms, int c);         // 0..10 ("Invalid stereo_delay delay mod")
    // 0..20 Hz; 0 holds the LFO still ("Invalid stereo_delay delay mod rate")
    void set_delay_mod_rate_hz(float hz, int c);
    void set_delay_ms(float ms, int c); // stores max(0.01, ms); at most 5000 ("Invalid stereo_delay delay")

    // Unity setters, per channel.
    void set_feedback_unity(float u, int c);          // u, kept below 1
    void set_feedback_opposite_unity(float u, int c); // u, kept below 1
    void set_dry_unity(float u, int c);               // u
    void set_wet_unity(float u, int c);               // u
    void set_delay_mod_ms_unity(float u, int c);      // 10u ms
    void set_delay_mod_rate_hz_unity(float u, int c); // 1000^u / 50 Hz: 0.02 .. 20
    // On when u > 0; then clears both lines (every call, changed or not).
    void set_toggle_unity(float u, int c);
    // The side on or off without clearing the lines: echoes in flight keep sounding.
    void set_toggle(bool on, int c);

    // Tempo lock. set_num_den: a denominator in 1..64 is stored; then, when the numerator is in
    // 1..63 and the channel's tempo in 30..200, the numerator is stored and the delay becomes
    // trunc(n × beat / (denominator / 4)) ms, kept when below 11 ms, at most 5000 ms. set_tempo:
    // a tempo in 30..200 BPM is stored and the delay recomputed from the stored note.
    void set_num_den(int numerator, int denominator, int c);
    void set_tempo(float bpm, int c);

    float get_feedback(int c) const;
    float get_feedback_opposite(int c) const;
    float get_width(int c) const;
    float get_dry(int c) const;
    float get_wet(int c) const;
    float get_delay_ms(int c) const;
    float get_delay_mod_ms(int c) const;
    float get_delay_mod_rate_hz(int c) const;
    bool get_toggle(int c) const;
    int get_numerator(int c) const;
    int get_denominator(int c) const;
    float get_tempo(int c) const;
    int get_sample_rate() const { return sample_rate.load(std::memory_order_relaxed); }
    int get_line_length() const { return line_length.load(std::memory_order_relaxed); }

private:
    struct channel_settings {
        std::atomic<float> feedback{0.0f};          // 0 ≤ value < 1
        std::atomic<float> feedback_opposite{0.0f}; // sent to the other channel, 0 ≤ value < 1
        std::atomic<float> width{0.75f};            // stored, not used in processing
        std::atomic<float> dry{1.0f};               // 0..1
        std::atomic<float> wet{1.0f};               // 0..1
        std::atomic<float> delay_ms{0.0f};          // 0.01..5000 once set
        std::atomic<float> delay_mod_ms{0.0f};      // 0..10
        std::atomic<float> delay_mod_rate_hz{0.0f}; // LFO rate
        std::atomic<bool> toggle{true};             // channel on
        std::atomic<int> numerator{4};              // note length numerator, 1..63
        std::atomic<int> denominator{16};           // note length denominator, 1..64
        std::atomic<float> tempo{120.0f};           // BPM, 30..200
    };
    using line_set = corvella::modulated_delay_line[channels];

    static bool channel_valid(int c);
    void do_internal_checks(int rate, int length) const;
    void init_memory(line_set& target, int length) const;
    void init_biquad_filters();
    void retune_biquad_filters(int rate);
    void init_lookup();
    // The delay time from the stored note and tempo (caller holds tempo_lock).
    void recompute_tempo_delay(int c);
    void clear_lines_locked();

    channel_settings settings[channels];
    std::mutex tempo_lock; // serialises the note and tempo setters

    std::atomic<int> sample_rate;    // Hz
    std::atomic<int> line_length{0}; // ceil(rate × 5010 / 1000)

    // Guarded by memory_lock.
    std::mutex memory_lock;
    line_set lines;                  // one ring per channel
    float previous[channels] = {};   // allpass state
    int lfo_counter[channels] = {};  // samples into each LFO period
    int write_index = 0;             // ring position written this frame (both lines)
    corvella::swept_pair_rest rest;  // passed by while silence goes through silent lines
    biquad_filter low_cut[channels]; // retuned with the rate, not used in processing
    biquad_filter shelf[channels];   // retuned with the rate, not used in processing
    int partner[channels] = {};      // the other channel
    corvella::delay_sine_table sine; // LFO sine
};
