#pragma once

// The DPF plug-in: one stereo → stereo instance of the system, run through the in-process host.
// DPF plays the host's part: run() is the audio callback, and a control thread of our own plays
// the host's non-audio wake-ups.
//
// Threading:
// - run(), getParameterValue() and setParameterValue() may come on the audio thread. They touch
//   only the parameter mirror (atomics) and InProcessHost's audio-thread calls (process,
//   set_bypass): no allocation, no lock, no call into the parameters object. run() also notes
//   the host's transport tempo in an atomic (120 BPM when the host gives none).
// - The control thread applies the host's parameter changes to the parameters object (through
//   InProcessHost::set_parameter), hands the tempo run() noted to InProcessHost::set_host_tempo
//   and then runs one wake-up (parameters object and bridge), every 10 ms.
// - State calls (getState, setState), activate() and sampleRateChanged() come on the host's
//   non-audio threads; they hold control_mutex_ against the control thread. setState() and
//   activate() return only when the engine has caught up with every change (or after a minute),
//   so that a restored project renders the same from its first sample.
// - loadProgram() (the host's preset or program list) comes on a non-audio thread as well and holds
//   control_mutex_; it does not wait for the engine, as the program selector does not.

#include "DistrhoPlugin.hpp"

#include "plugin/parameter_mirror.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace corvella::host {
class InProcessHost;
}

START_NAMESPACE_DISTRHO

class CorvellaPlugin : public Plugin {
public:
    CorvellaPlugin();
    ~CorvellaPlugin() override;

    // The instance for the editor (DPF direct access); null in information-only instances.
    corvella::host::InProcessHost* in_process_host() { return host_.get(); }

protected:
    char const* getLabel() const override { return "Corvella"; }
    char const* getDescription() const override;
    char const* getMaker() const override { return "Tarnwick"; }
    char const* getHomePage() const override { return ""; }
    char const* getLicense() const override { return "GPL-3.0-or-later"; }
    uint32_t getVersion() const override { return d_version(0, 1, 0); }
    int64_t getUniqueId() const override { return d_cconst('C', 'v', '1', 'm'); }

    void initAudioPort(bool input, uint32_t index, AudioPort& port) override;
    void initParameter(uint32_t index, Parameter& parameter) override;
    void initState(uint32_t index, State& state) override;
    void initProgramName(uint32_t index, String& name) override;

    float getParameterValue(uint32_t index) const override;
    void setParameterValue(uint32_t index, float value) override;
    String getState(char const* key) const override;
    void setState(char const* key, char const* value) override;
    void loadProgram(uint32_t index) override;

    void activate() override;
    void run(float const** inputs, float** outputs, uint32_t frames) override;
    void sampleRateChanged(double new_sample_rate) override;

private:
    void create_host(double sample_rate);
    void start_control_thread();
    void stop_control_thread();
    void control_loop();
    // Both below need control_mutex_ held.
    void apply_parameter_changes();
    void refresh_parameters();
    void wait_for_engine();
    void restore_bank(char const* text);
    void select_program(int slot);
    void restore_program_record(char const* text);
    void restore_ir_file(int state_index, char const* path);

    corvella::plugin::ParameterMirror mirror_;
    std::unique_ptr<corvella::host::InProcessHost> host_; // null in DPF's information-only instances
    int latency_ = 0;

    std::mutex control_mutex_;
    std::condition_variable control_wake_;
    bool control_stop_ = false;
    std::thread control_thread_;

    // Written by run(), read by the control thread: beats per minute.
    std::atomic<double> transport_tempo_{120.0};

    // Audio thread only.
    bool bypassed_ = false;
    std::vector<float> scratch_; // input copies for hosts that process in place

    DISTRHO_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(CorvellaPlugin)
};

END_NAMESPACE_DISTRHO
