#pragma once

// The editor's host binding inside a plug-in window: parameter edits go through the format's
// parameter path (callbacks the window supplies: begin/set/end of an automation gesture), while
// custom data, requests and the keys that are no host parameters reach the parameters object
// directly.
//
// Threading: UI thread; the parameters object takes its own lock.

#include "editor/editor_host.h"

#include <functional>

class DemoGain_Parameters;

namespace corvella::editor {

struct ParameterPath {
    std::function<void(std::string const& key)> begin;
    std::function<void(std::string const& key, float unity)> set;
    std::function<void(std::string const& key)> end;
    std::function<double()> sample_rate;
    std::function<int()> latency;
    // Optional: shows a file dialog (see EditorHost::choose_file).
    std::function<bool(FileDialog const&, std::function<void(std::string const&)>)> choose_file;
};

class DirectEditorHost final : public EditorHost {
public:
    DirectEditorHost(DemoGain_Parameters& parameters, ParameterPath path);

    float get_parameter(std::string const& key) override;
    void begin_gesture(std::string const& key) override;
    void set_parameter(std::string const& key, float unity) override;
    void end_gesture(std::string const& key) override;
    bool set_custom_data(int id, void const* data, std::size_t size) override;
    std::size_t get_custom_data(int id, void* data, std::size_t capacity) override;
    void request(std::string const& force_key) override;
    void request_full_recompute() override;
    void hand_over_program() override;
    double sample_rate() override;
    int running_latency() override;
    bool choose_file(FileDialog const& dialog, std::function<void(std::string const& path)> chosen) override;

private:
    bool host_parameter(std::string const& key) const;

    DemoGain_Parameters& parameters_;
    ParameterPath path_;
};

} // namespace corvella::editor
