#pragma once

// The display area above the editor's pages: the impulse responses of IR1 or IR2 as the engine
// drew them (one row per channel, engine/ir_display.h), the split point of their pitch-modulated
// sections, or the frequency response of the IR1, IR2 or post equaliser with a handle per band
// that the mouse drags. The open page chooses the view (CEditorView tells the panel).
//
// Drawing goes into an offscreen image at the window's scale, rebuilt only when the panel was
// marked dirty (set_oc_dirty) or the scale or colour scheme changed; every paint copies the image.
// refresh() is called from idle time with the engine status block and marks the panel dirty only
// when the rows, the engine's rate or lengths, or the parameters the view shows have changed.
//
// A failure while drawing leaves the last image in place; its text waits in take_draw_error()
// until the editor shows it (never from inside a paint).
//
// Threading: UI thread only.

#include "editor/editor_host.h"
#include "editor/ui/widget.h"
#include "host/engine_status.h"

#include <cairo.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class biquad_filter_upsampling;

namespace corvella::editor {

enum class VisView { ir1_display, ir2_display, ir1_eq, ir2_eq, post_eq, ir1_split_mod, ir2_split_mod };

// The "IRVisSelectionMode" preference: several channels shown at once, each label switching its
// channel on and off, or one channel at a time with the "All" label the only way to see several.
enum class VisSelectionMode { multiple = 0, all_only = 1 };

// True for a path an impulse-response slot takes when it is dropped on the panel: at least five
// characters ending in ".wir", ".fir", ".sd2", ".wav", ".aif", ".sdir", ".flac" or ".aiff",
// compared without regard to case.
bool is_ir_drop_path(std::string const& path);

class CVisPanel : public ui::CWidget {
public:
    static constexpr int band_count = 5;
    static constexpr int channel_count = EngineStatusDisplay::channels;

    CVisPanel(EditorHost& host, VisSelectionMode mode);
    ~CVisPanel() override;

    void set_view(VisView view);
    VisView view() const { return view_; }
    // The slot a dropped file goes to in this view: 1 or 2, 0 for the equaliser views.
    int drop_target() const;
    // The slot the view shows (1, 2), 0 for the post equaliser.
    int view_slot() const;

    // Idle time: takes the engine status block and re-reads the view's parameters; true (and the
    // panel marked dirty and invalidated) when anything it draws has changed.
    bool refresh(EngineStatus const& status);
    void set_oc_dirty();
    bool oc_dirty() const { return oc_dirty_; }
    // Offscreen rebuilds so far (each one follows a set_oc_dirty or a scale or scheme change).
    int rebuild_count() const { return rebuilds_; }
    // The text of the last drawing failure, once.
    std::optional<std::string> take_draw_error();

    // Channel selection of a slot: bit c shows channel c.
    unsigned selection(int slot) const { return selection_[slot == 2 ? 1 : 0]; }
    void set_selection_mode(VisSelectionMode mode)
    {
        if (mode_ != mode) set_oc_dirty();
        mode_ = mode;
    }
    // The labels of the IR views, index 0 the all-channels label, 1..4 the channels; their places.
    std::string selection_label(int index) const;
    ui::Rect selection_label_rect(int index) const;

    // Equaliser plot: bands move along x from 30 to eq_plot_width() and along y from 0 to
    // eq_plot_height(); a band's handle centre (local coordinates).
    double eq_plot_width() const { return bounds().w - 16; } // the last handle stays inside the frame
    double eq_plot_height() const { return bounds().h - 16; }
    ui::Point band_handle(int band) const; // band 0..4
    // The x of the split line of the split-modulation views for split point `s` (unity).
    double split_line_x(double s) const { return 35 + s * s * (bounds().w - 37); }

    bool takes_mouse() const override { return true; }
    bool on_mouse_down(ui::MouseEvent const& e) override;
    void on_mouse_drag(ui::MouseEvent const& e) override;
    void on_mouse_up(ui::MouseEvent const& e) override;
    void on_capture_lost() override;
    bool on_scroll(ui::ScrollEvent const& e) override;

protected:
    void draw(cairo_t* cr, ui::CTheme const& theme) override;
    void on_resized() override;

private:
    struct BandState {
        float toggle = 0, mode = 0, freq = 0, gain = 0.5f, q = 0.5f;
    };

    bool ir_view() const;
    bool eq_view() const;
    std::string key_prefix() const; // "ir1_flt", "ir2_flt" or "flt"
    std::string band_key(int band, char const* what) const;
    std::string master_key() const;
    void build_keys(); // the parameters the view draws
    void read_bands();
    void configure_filters();
    bool band_shapes_gain(int band) const; // "Peak", "L. Shelf" or "H. Shelf"
    double response_db(double hz) const;
    double ir_seconds(int slot) const; // time the whole row width stands for

    void rebuild(ui::CTheme const& theme, double scale);
    void draw_ir(cairo_t* cr, ui::CTheme const& theme, int slot);
    void draw_ir_selection_labels(cairo_t* cr, ui::CTheme const& theme, int slot);
    void draw_splitmod_line(cairo_t* cr, ui::CTheme const& theme, int slot);
    void draw_eq(cairo_t* cr, ui::CTheme const& theme);
    void draw_handles(cairo_t* cr, ui::CTheme const& theme);

    // Dragging a band.
    void drag_to(ui::Point effective);
    void change(std::string const& key, float value); // inside the drag's gesture
    void switch_on(std::string const& key);            // a gesture of its own
    void end_gestures();

    EditorHost& host_;
    VisSelectionMode mode_;
    VisView view_ = VisView::ir1_display;
    std::unique_ptr<EngineStatusDisplay> display_;
    std::int32_t sample_rate_ = 0;
    std::int32_t length_ms_[2] = {};
    bool have_status_ = false;
    std::vector<std::string> keys_;        // parameters the view draws
    std::vector<float> watched_;           // their values when last read
    std::array<BandState, band_count> bands_{};
    std::array<std::unique_ptr<biquad_filter_upsampling>, band_count> filters_;
    float master_on_ = 0;
    unsigned selection_[2] = {0xf, 0xf};

    cairo_surface_t* image_ = nullptr;
    double image_scale_ = 0;
    std::string image_theme_;
    bool oc_dirty_ = true;
    int rebuilds_ = 0;
    std::optional<std::string> draw_error_;

    int drag_band_ = -1;
    bool fine_ = false;
    ui::Point fine_pointer_;   // where Control was pressed
    ui::Point fine_effective_; // the effective position then
    ui::Point offset_;         // effective minus pointer outside fine mode
    std::vector<std::string> open_gestures_;
};

} // namespace corvella::editor
