// The plug-in window: the editor's widget tree in DPF's Cairo UI. Parameter edits go through the
// format's parameter path (editParameter begin/end and setParameterValue, so hosts record
// automation); custom data, commands and the keys without a host parameter reach the instance's
// parameters object directly (DPF direct access). The editor polls the parameters object from
// idle time, so automation, program changes and state restores show at once.

#include "DistrhoPluginUtils.hpp"
#include "DistrhoUI.hpp"

#include "editor/direct_editor_host.h"
#include "editor/editor_view.h"
#include "host/demogain_parameters.h"
#include "host/in_process_host.h"
#include "plugin/corvella_plugin.h"
#include "plugin/parameter_mirror.h"
#include "program/parameter_table.h"

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

START_NAMESPACE_DISTRHO

namespace {

namespace ui = corvella::ui;

unsigned modifiers(uint mod)
{
    unsigned out = 0;
    if (mod & kModifierShift) out |= ui::mod::shift;
    if (mod & kModifierControl) out |= ui::mod::control;
    if (mod & kModifierAlt) out |= ui::mod::alt;
    if (mod & kModifierSuper) out |= ui::mod::super;
    return out;
}

ui::Button button(uint b)
{
    return b == kMouseButtonLeft ? ui::Button::left : b == kMouseButtonMiddle ? ui::Button::middle : ui::Button::right;
}

// DPF's parameter index of a key: the bypass is index 0, keyed row i is index i + 1.
int index_of(std::string const& key)
{
    corvella::ParameterRow const* row = corvella::find_parameter(key);
    return row ? row->index + 1 : -1;
}

} // namespace

class CorvellaUI : public UI {
public:
    CorvellaUI()
        : UI(static_cast<uint>(corvella::editor::CEditorView::width),
             static_cast<uint>(corvella::editor::CEditorView::height))
    {
        auto* plugin = static_cast<CorvellaPlugin*>(getPluginInstancePointer());
        host_ = plugin ? plugin->in_process_host() : nullptr;
        if (host_ == nullptr) return;
        corvella::editor::ParameterPath path;
        path.begin = [this](std::string const& key) {
            if (int const i = index_of(key); i >= 0) editParameter(static_cast<uint32_t>(i), true);
        };
        path.set = [this](std::string const& key, float value) {
            if (int const i = index_of(key); i >= 0) setParameterValue(static_cast<uint32_t>(i), value);
            host_->set_parameter(key, value); // the editor reads it back before the host's echo arrives
        };
        path.end = [this](std::string const& key) {
            if (int const i = index_of(key); i >= 0) editParameter(static_cast<uint32_t>(i), false);
        };
        path.sample_rate = [this] { return getSampleRate(); };
        path.latency = [this] { return std::max(0, host_->latency_samples()); };
        path.choose_file = [this](corvella::editor::FileDialog const& dialog, Chosen chosen) {
            return open_file_dialog(dialog, std::move(chosen));
        };
        binding_ = std::make_unique<corvella::editor::DirectEditorHost>(host_->parameters(), path);
        view_ = std::make_unique<corvella::editor::CEditorView>(*binding_);
        ui::CRoot& root = view_->root();
        double const scale = getScaleFactor();
        root.set_scale(scale);
        root.set_repaint_request([this](ui::PixelRect) { repaint(); });
        uint const w = static_cast<uint>(std::lround(corvella::editor::CEditorView::width * scale));
        uint const h = static_cast<uint>(std::lround(corvella::editor::CEditorView::height * scale));
        setGeometryConstraints(w, h, true, false);
        if (scale != 1.0) setSize(w, h);
    }

protected:
    void parameterChanged(uint32_t index, float) override
    {
        if (!view_ || index == corvella::plugin::bypass_parameter_index) return;
        if (corvella::ParameterRow const* row = corvella::parameter_at(static_cast<int>(index) - 1))
            view_->redraw_parameter(row->key);
    }

    // The bank, the IR paths and the current program change through the instance itself; idle
    // polling shows them. A path the host's own dialog chose arrives here as well.
    void stateChanged(char const* key, char const* value) override
    {
        if (dialog_state_key_.empty() || key == nullptr || dialog_state_key_ != key) return;
        dialog_state_key_.clear();
        deliver_file(value);
    }

    // Files dragged from a file manager (the standalone's window; hosts keep drops on their own).
    void uiFileDrop(char const* paths) override
    {
        if (!view_ || paths == nullptr) return;
        std::vector<std::string> files;
        std::string line;
        for (char const* p = paths;; ++p) {
            if (*p == '\n' || *p == '\0') {
                if (!line.empty()) files.push_back(line);
                line.clear();
                if (*p == '\0') break;
            } else {
                line += *p;
            }
        }
        view_->guarded("file drop", [&] { view_->drop_files(files); });
    }

    void uiFileBrowserSelected(char const* filename) override
    {
        if (dialog_state_key_.empty()) deliver_file(filename);
    }
    void programLoaded(uint32_t) override {}

    void uiIdle() override
    {
        if (view_) view_->idle();
    }

    void onCairoDisplay(CairoGraphicsContext const& context) override
    {
        cairo_t* cr = context.handle;
        if (!view_) {
            cairo_set_source_rgb(cr, 0.1, 0.1, 0.12);
            cairo_paint(cr);
            return;
        }
        view_->root().draw(cr);
    }

    bool onMouse(MouseEvent const& ev) override
    {
        if (!view_) return false;
        ui::CRoot& root = view_->root();
        return ev.press ? root.mouse_down(ev.pos.getX(), ev.pos.getY(), button(ev.button), modifiers(ev.mod))
                        : root.mouse_up(ev.pos.getX(), ev.pos.getY(), button(ev.button), modifiers(ev.mod));
    }

    bool onMotion(MotionEvent const& ev) override
    {
        return view_ && view_->root().mouse_move(ev.pos.getX(), ev.pos.getY(), modifiers(ev.mod));
    }

    bool onScroll(ScrollEvent const& ev) override
    {
        return view_ && view_->root().scroll(ev.pos.getX(), ev.pos.getY(), ev.delta.getX(), ev.delta.getY(),
                                             modifiers(ev.mod));
    }

    bool onKeyboard(KeyboardEvent const& ev) override
    {
        if (!view_ || !ev.press) return false;
        ui::KeyEvent key;
        key.mods = modifiers(ev.mod);
        switch (ev.key) {
        case '\t': key.key = ui::Key::tab; break;
        case '\r': case '\n': key.key = ui::Key::enter; break;
        case ' ': key.key = ui::Key::space; break;
        case kKeyEscape: key.key = ui::Key::escape; break;
        case kKeyBackspace: key.key = ui::Key::backspace; break;
        case kKeyDelete: key.key = ui::Key::del; break;
        case kKeyLeft: key.key = ui::Key::left; break;
        case kKeyRight: key.key = ui::Key::right; break;
        case kKeyUp: key.key = ui::Key::up; break;
        case kKeyDown: key.key = ui::Key::down; break;
        case kKeyHome: key.key = ui::Key::home; break;
        case kKeyEnd: key.key = ui::Key::end; break;
        case kKeyPageUp: key.key = ui::Key::page_up; break;
        case kKeyPageDown: key.key = ui::Key::page_down; break;
        default: key.character = ev.key; break;
        }
        return view_->root().key_down(key);
    }

    void onResize(ResizeEvent const& ev) override
    {
        UI::onResize(ev);
        if (!view_) return;
        double const scale = view_->root().scale();
        view_->root().set_size({ev.size.getWidth() / scale, ev.size.getHeight() / scale});
    }

private:
    using Chosen = std::function<void(std::string const&)>;

    // A file the instance keeps in its state goes through the host's dialog where the format has
    // one (LV2 hosts that can request values); everything else through DPF's own browser.
    bool open_file_dialog(corvella::editor::FileDialog const& dialog, Chosen chosen)
    {
        if (!dialog.state_key.empty() && std::strcmp(getPluginFormatName(), "LV2") == 0 &&
            requestStateFile(dialog.state_key.c_str())) {
            dialog_state_key_ = dialog.state_key;
            chosen_ = std::move(chosen);
            return true;
        }
        FileBrowserOptions options;
        options.saving = dialog.save;
        options.title = dialog.title.c_str();
        options.startDir = dialog.start_folder.empty() ? nullptr : dialog.start_folder.c_str();
        options.defaultName = dialog.default_name.empty() ? nullptr : dialog.default_name.c_str();
        if (!openFileBrowser(options)) return false;
        dialog_state_key_.clear();
        chosen_ = std::move(chosen);
        return true;
    }

    void deliver_file(char const* path)
    {
        Chosen chosen = std::move(chosen_);
        chosen_ = nullptr;
        if (!view_ || !chosen || path == nullptr || *path == '\0') return; // cancelled
        std::string const file(path);
        view_->guarded("file dialog", [&] { chosen(file); });
    }

    corvella::host::InProcessHost* host_ = nullptr;
    Chosen chosen_;
    std::string dialog_state_key_;
    std::unique_ptr<corvella::editor::DirectEditorHost> binding_;
    std::unique_ptr<corvella::editor::CEditorView> view_;

    DISTRHO_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(CorvellaUI)
};

UI* createUI()
{
    return new CorvellaUI();
}

END_NAMESPACE_DISTRHO
