#pragma once

// A host that runs one effect instance inside this process: it loads the effect description,
// creates the three host-facing objects (parameters, algorithm with its engine, bridge), calls the
// audio callback with blocks and the parameters object's and bridge's wake-ups on a timer thread.
// The command-line tools, the plug-in formats and the tests run the system through it.
//
// Offline use: leave the timer stopped and call wait_until_idle() after every change; it drives
// the wake-ups on the caller's thread until every posted request has been served and the IR
// computation thread is idle, so that a render is deterministic.
//
// Threading: process(), set_bypass() and the meter reads run on one audio thread. Everything else
// runs on non-audio threads; calls that change state are serialised by an internal lock, so a
// plug-in format may call them from its UI, state and timer threads.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class VST_Plugin;
class DemoGain_Parameters;

namespace corvella::host {

enum class Variant { mono_to_mono, mono_to_stereo, stereo_to_stereo };

class InProcessHost {
public:
    InProcessHost();
    ~InProcessHost(); // stops the timer and removes the instance
    InProcessHost(InProcessHost const&) = delete;
    InProcessHost& operator=(InProcessHost const&) = delete;

    // Creates the instance (parameters object, then the algorithm's instance callback, which
    // constructs the engine for `sample_rate`). Returns false when the engine slot stays empty
    // (the reason is in the message sink); the instance then passes audio through.
    bool create_instance(Variant variant, double sample_rate);
    void destroy_instance();
    bool has_engine() const;
    Variant variant() const;
    double sample_rate() const;

    // Latency the description reports: the "Latency" setting when it reads 0..8192, else -1.
    int latency_samples() const;

    // ---- Audio thread ----
    // One call of the variant's audio callback: 1 or 2 input channels, 1 or 2 output channels as
    // the variant has them; any frame count > 0.
    void process(float const* const* inputs, float* const* outputs, int frames);
    void set_bypass(bool bypassed);
    // Peak meters of the first channel since the last read; reading resets them.
    float take_input_meter();
    float take_output_meter();

    // ---- Non-audio threads ----
    DemoGain_Parameters& parameters();
    VST_Plugin* engine(); // null when there is no engine

    // Host automation of one parameter by key (unity value), through the host's set-parameter
    // path. Returns false for an unknown key or a value that is not finite (nothing changes).
    // Values outside 0..1 are clamped. The change path's own keys that are no host parameters
    // ("ir1_tail_variant", "ir2_tail_variant" and the "force_..." request keys) are taken too, and
    // corvella::master_bypass_identifier sets the host bypass.
    bool set_parameter(std::string const& key, float unity_value);
    float get_parameter(std::string const& key);

    // Custom data by id (the parameters object's table). set returns false when nothing was taken.
    bool set_custom_data(int id, void const* data, std::size_t size);
    // Copies at most `capacity` bytes; returns the size the object reported (0 for none).
    std::size_t get_custom_data(int id, void* data, std::size_t capacity);

    // Sets an IR file of a section: slot 1 or 2, side 0 (A) or 1 (B); custom data 14..17.
    bool set_ir_file(int slot, int side, std::string const& path);

    // The whole bank as a chunk ("All " identifier), and applying one. A chunk of the wrong size
    // is refused (false) and changes nothing.
    std::vector<std::uint8_t> get_chunk();
    bool set_chunk(void const* data, std::size_t size);

    // One timer tick: the parameters object's TimerWakeup and the bridge's wake-up.
    void wake_up();
    void start_timer(std::chrono::milliseconds period = std::chrono::milliseconds(20));
    void stop_timer();

    // Offline mode: returns when no request is pending in the parameters object, the bridge has
    // handed everything to the engine and the engine reports no IR work pending. Drives wake_up()
    // itself every 2 ms while the timer is stopped, and hands pending requests to the engine at
    // once rather than at the bridge's 100 ms rhythm (the caller is waiting for them). Returns
    // false after `timeout` (a wedged worker) so a caller can report it instead of hanging.
    bool wait_until_idle(std::chrono::milliseconds timeout = std::chrono::seconds(120));

    // The tempo the host's transport reports (120 BPM at start); the parameters object picks a
    // change up within 500 ms of wake-ups. Values that are not finite and positive are ignored.
    void set_host_tempo(double bpm);

    // Clock in milliseconds of the bridge's 100 ms rhythm and the 500 ms tempo check of the
    // current instance (set it after create_instance); the monotonic system clock by default.
    // Tests step it by hand; an empty function restores the system clock.
    void set_clock(std::function<std::uint64_t()> clock);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace corvella::host
