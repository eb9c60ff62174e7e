#pragma once

// The editor's host binding over an InProcessHost: parameter edits go through the host's
// set-parameter path, custom data and requests straight to the parameters object. Gestures are
// counted so that tests can check that every edit was bracketed.
//
// Threading: UI thread only (the in-process host serialises its own calls).

#include "editor/editor_host.h"

#include <functional>

namespace corvella::host {
class InProcessHost;
}

namespace corvella::editor {

class InProcessEditorHost final : public EditorHost {
public:
    explicit InProcessEditorHost(host::InProcessHost& host) : host_(host) {}

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

    // Dialogs are held until a test (or tool) answers them: answer_file_dialog runs the pending
    // callback with `path`; cancel_file_dialog drops it.
    bool choose_file(FileDialog const& dialog, std::function<void(std::string const& path)> chosen) override;
    FileDialog const* pending_file_dialog() const { return chosen_ ? &dialog_ : nullptr; }
    bool answer_file_dialog(std::string const& path);
    void cancel_file_dialog() { chosen_ = nullptr; }

    int open_gestures() const { return open_; }      // begun and not yet ended
    int finished_gestures() const { return ended_; } // begin/end pairs completed
    int value_sets() const { return sets_; }

private:
    host::InProcessHost& host_;
    FileDialog dialog_;
    std::function<void(std::string const&)> chosen_;
    int open_ = 0;
    int ended_ = 0;
    int sets_ = 0;
};

} // namespace corvella::editor
