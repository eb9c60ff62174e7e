#pragma once

// A small offline LV2 host on lilv for the plug-in tests: loads a plug-in by URI from LV2_PATH,
// offers the features DPF plug-ins require (URID map, options, worker, bounded block length),
// connects every control port, sends file paths as patch:Set messages, and saves and restores
// state through lilv state files or through the plug-in's state interface directly. Scheduled
// work runs right after the run() that scheduled it, as in a host's offline render.

#include "plugin_test_support.h"

#include <lilv/lilv.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace corvella::test {

// One value of the plug-in's own state (key URI → value and its atom type URI).
struct Lv2StateValue {
    std::string type;
    std::string value;
    bool operator==(Lv2StateValue const&) const = default;
};
using Lv2StateValues = std::map<std::string, Lv2StateValue>;

struct Lv2PresetEntry {
    std::string uri;
    std::string label;
};

// The presets of plug-in `uri` that lilv finds on `lv2_path` (a world of its own, so that bundles
// written during the test are seen), ordered by URI.
std::vector<Lv2PresetEntry> lv2_presets(std::string const& uri, std::string const& lv2_path);

class Lv2Instance {
public:
    Lv2Instance(std::string const& uri, double sample_rate, std::uint32_t max_block);
    ~Lv2Instance();
    Lv2Instance(Lv2Instance const&) = delete;
    Lv2Instance& operator=(Lv2Instance const&) = delete;

    bool loaded() const { return instance_ != nullptr; }

    void set_control(std::string const& symbol, float value);
    float control(std::string const& symbol) const; // inputs and outputs
    std::vector<std::string> input_control_symbols() const;

    // patch:Set of a path property, delivered with the next run().
    void set_path(std::string const& property_uri, std::string const& path);

    void activate();
    // Two channels; `out` may not alias `in`. frames <= max_block.
    void run(float const* const in[2], float* const out[2], std::uint32_t frames);
    // A careless host's run: every audio port disconnected first.
    void run_unconnected(std::uint32_t frames);

    // lilv state files (manifest.ttl + state.ttl in `folder`).
    bool save_state_file(std::filesystem::path const& folder);
    bool restore_state_file(std::filesystem::path const& folder);

    // A preset found on `lv2_path` as lv2_presets() finds it, restored as a host loads it: the
    // plug-in's state, then the control ports it names.
    bool load_preset(std::string const& preset_uri, std::string const& lv2_path);

    // The plug-in's state interface, without lilv's files in between.
    Lv2StateValues save_state_values();
    bool restore_state_values(Lv2StateValues const& values);

private:
    struct Host;
    float& control_slot(std::string const& symbol) const;

    LilvPlugin const* plugin_ = nullptr;
    LilvInstance* instance_ = nullptr;
    std::uint32_t max_block_;
    mutable std::vector<float> controls_;
    std::vector<std::uint32_t> audio_in_, audio_out_;
    std::vector<std::pair<std::string, std::string>> pending_paths_;
    std::unique_ptr<Host> host_;
};

// A new instance of the build tree's bundle, activated when it loads.
inline std::unique_ptr<Lv2Instance> lv2_instance(unsigned max_block = plugin_test_block)
{
    auto plugin = std::make_unique<Lv2Instance>(CORVELLA_LV2_URI, plugin_test_rate, max_block);
    EXPECT_TRUE(plugin->loaded());
    if (plugin->loaded()) plugin->activate();
    return plugin;
}

// One block of silence (it carries the controls and paths set before), then `input`, in blocks of
// `block`.
inline Stereo lv2_render(Lv2Instance& plugin, Stereo const& input, unsigned block = plugin_test_block)
{
    auto run = [&](float const* const* in, float* const* out, std::uint32_t n) { plugin.run(in, out, n); };
    process_in_blocks(silence(block), block, run);
    return process_in_blocks(input, block, run);
}

} // namespace corvella::test
