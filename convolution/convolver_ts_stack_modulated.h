#pragma once

// A stacked impulse response that moves: section 0 (channels 0..3) is the head and is fed all the
// time; sections 1 and up are alternative versions of the rest of the response, and the input is
// moved between them by random equal-sum crossfades. Convolution is linear, so moving the input is
// the same as moving the response between its versions: the tail changes without any response
// being recomputed. Pitch-modulated copies of the input feed the head (one pair of modulators) and
// the tail (another pair).
//
// Only the head, the section fading out and the section fading in receive input. Every channel
// counts the frames since it last did; once a section's last input has passed through the whole
// response it is bypassed and costs nothing, and its 128-tap head stops after 128 frames. A channel
// whose response is all zeros (a file without a head, a tail set switched off) is bypassed always.
//
// All rates (crossfade period, modulators) are computed for 44100 Hz whatever the engine runs at.
// The section draws use a generator of this instance, seeded the same way every time, so a render
// is repeatable.
//
// Threading: process_frames, the modulation setters and clear_buffers belong to the audio thread;
// set_sample_frames and minimise_ir_data_memory run on the IR worker, serialised by this class's
// lock, and the stacked convolver's own locks make the exchange safe against processing.

#include "convolution/convolver_ts_stack.h"
#include "effects/pitch_mod.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class convolver_ts_stack_modulated {
public:
    static constexpr int sampling_rate = 44100;
    static constexpr int max_frames = convolver_ts_stack::max_frames; // per call; longer calls run in pieces
    static constexpr int max_sections = 17;
    static constexpr int channels_per_section = 4;

    // Channel count (a multiple of 4, at least 8, at most 68), buffer length (0 or a power of
    // two). Throws std::runtime_error with the stacked convolver's messages, or an allocation message.
    convolver_ts_stack_modulated(int channels, int buffer_length);
    ~convolver_ts_stack_modulated();
    convolver_ts_stack_modulated(convolver_ts_stack_modulated const&) = delete;
    convolver_ts_stack_modulated& operator=(convolver_ts_stack_modulated const&) = delete;

    // One pointer per channel, head section first; no effect for length 0 or less.
    void set_sample_frames(float** ir, int length);
    void minimise_ir_data_memory();

    // 0/1 head pair rate/depth, 2/3 tail pair rate/depth, 4/5 head/tail pair on (unity values);
    // the second modulator of a pair gets 0.95 of the value. Other indices are ignored.
    void set_pitch_modulation_parameter(int index, float unity);
    // Crossfade rate in Hz; the crossfade keeps its phase across a change. 0 or less holds the
    // crossfade where it is.
    void set_mod_rate(float hz);
    // Whether the head section receives input (the engine clears it for a response without a head).
    void set_head_enabled(bool enabled) { head_enabled.store(enabled, std::memory_order_relaxed); }

    // Stereo in, stereo out (may be the same buffers).
    void process_frames(float** in, float** out, int frames);
    // Forgets the convolution histories (audio thread: it only raises flags and clears).
    void clear_buffers();
    // Clears the modulators' lines; any thread but the audio thread (it holds their locks).
    void silence_modulators();
    // The length last loaded, in frames.
    int ir_frames() const { return static_cast<int>(ir_length.load(std::memory_order_relaxed)); }
    // Whether an impulse response is loaded and not released since.
    bool is_loaded() const { return ir_loaded.load(std::memory_order_acquire); }

    // For tests and benchmarks.
    int sections() const { return section_count; }
    int current_section() const { return current; }
    int previous_section() const { return previous; }
    std::int64_t crossfade_period() const { return period; }
    std::int64_t crossfade_position() const { return position; }
    convolver_ts_stack& stack() { return *conv; }
    pitch_mod* modulator(int index) const { return mods[index].get(); }
    // Sections that the last block convolved (not bypassed in the FFT part).
    int live_sections() const { return live_section_count; }

private:
    void process_piece(float** in, float** out, int offset, int frames);
    void start_crossfade(int frame); // at `frame` of the block

    int channel_count;
    int section_count;
    std::mutex lock;
    std::unique_ptr<convolver_ts_stack> conv;
    std::unique_ptr<pitch_mod> mods[4]; // head pair 0, 1; tail pair 2, 3
    std::vector<float*> scratch;        // head (L, L, R, R), then tail (L, L, R, R)
    std::vector<float*> section_in, section_out;
    std::vector<std::int64_t> silence; // per channel: frames since it last received input
    std::vector<bool> receiving;       // per section, this block
    std::vector<int> written_frames;   // per section: how many input frames may hold something
    std::unique_ptr<std::atomic<bool>[]> empty; // per channel: the loaded response is all zeros
    std::atomic<std::int64_t> ir_length{0};
    std::atomic<bool> ir_loaded{false};
    std::atomic<bool> head_enabled{false};

    float rate_hz = 1.0f;
    std::int64_t period = sampling_rate;
    std::int64_t position = 0;
    int current = 2, previous = 1;
    unsigned int draw_seed = 1;
    int live_section_count = 0;
};
