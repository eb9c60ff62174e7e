#include "editor/vis_panel.h"

#include "editor/ui/paint.h"
#include "editor/ui/root.h"
#include "editor/value_text.h"
#include "effects/biquad_filter.h"
#include "effects/biquad_filter_upsampling.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace corvella::editor {

using namespace corvella::ui;

namespace {

// IR plot: columns from x = 35 to the panel's width - 2 (where the split line runs), time labels
// in the strip below.
constexpr double ir_left = 35;
constexpr double ir_top = 6;
constexpr double time_strip = 18;
// Equaliser plot: x from 30 to the plot width, y from 0 to the height - 16, labels below.
constexpr double eq_left = 30;
constexpr double eq_label_strip = 16;
constexpr double handle_radius = 7;
constexpr double pick_radius = 14;
constexpr double fine_divisor = 8;
// Selection labels, a column at the top right of the IR plot.
constexpr double label_w = 92;
constexpr double label_h = 18;
constexpr double label_gap = 3;

constexpr float eq_top_hz = 22050.0f;

// The outer bands offer shelves and cuts, the inner three only peaks (as the engine's bands).
constexpr int band_restriction[CVisPanel::band_count] = {biquad_restrict_lowest, biquad_restrict_middle,
                                                         biquad_restrict_middle, biquad_restrict_middle,
                                                         biquad_restrict_highest};

Colour mix(Colour const& a, Colour const& b, double t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, a.a + (b.a - a.a) * t};
}

Colour with_alpha(Colour c, double a)
{
    c.a = a;
    return c;
}

std::string format(char const* pattern, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

std::string format_int(char const* pattern, int value)
{
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

// Colours of a slot's four channels: the slot's accent for A left, paler for A right, the other
// accent for B left and paler for B right.
Colour channel_colour(CTheme const& t, int slot, int channel)
{
    Colour const own = slot == 2 ? t.accent_alt : t.accent;
    Colour const other = slot == 2 ? t.accent : t.accent_alt;
    Colour const base = channel < 2 ? own : other;
    return channel % 2 == 0 ? base : mix(base, t.text, 0.45);
}

// Frequency of a unity value on the equalisers' taper, and back.
double taper_hz(double u, double top)
{
    double const r = (std::pow(10.0, (std::pow(10.0, u) - 1.0) / 9.0) - 1.0) / 9.0;
    return std::max(20.0, r * top);
}

double taper_unity(double hz, double top)
{
    return std::log10(9.0 * std::log10(9.0 * hz / top + 1.0) + 1.0);
}

struct CairoContext {
    cairo_t* cr;
    explicit CairoContext(cairo_surface_t* s) : cr(cairo_create(s)) {}
    ~CairoContext() { cairo_destroy(cr); }
    CairoContext(CairoContext const&) = delete;
    CairoContext& operator=(CairoContext const&) = delete;
};

} // namespace

bool is_ir_drop_path(std::string const& path)
{
    if (path.size() < 5) return false;
    std::string lower = path;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    for (char const* ext : {".wir", ".fir", ".sd2", ".wav", ".aif", ".sdir", ".flac", ".aiff"}) {
        std::size_t const n = std::strlen(ext);
        if (lower.size() >= n && lower.compare(lower.size() - n, n, ext) == 0) return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// State

CVisPanel::CVisPanel(EditorHost& host, VisSelectionMode mode)
    : host_(host), mode_(mode), display_(std::make_unique<EngineStatusDisplay>())
{
    std::memset(display_.get(), 0, sizeof *display_);
    for (int b = 0; b < band_count; ++b) {
        filters_[static_cast<std::size_t>(b)] = std::make_unique<biquad_filter_upsampling>();
        filters_[static_cast<std::size_t>(b)]->set_mode_restrict(band_restriction[b]);
    }
    build_keys();
}

CVisPanel::~CVisPanel()
{
    end_gestures();
    if (image_) cairo_surface_destroy(image_);
}

void CVisPanel::set_view(VisView view)
{
    if (view == view_) return;
    end_gestures();
    drag_band_ = -1;
    view_ = view;
    build_keys();
    watched_.clear();
    for (auto const& key : keys_) watched_.push_back(host_.get_parameter(key));
    if (eq_view()) read_bands();
    set_oc_dirty();
}

int CVisPanel::view_slot() const
{
    switch (view_) {
    case VisView::ir1_display:
    case VisView::ir1_eq:
    case VisView::ir1_split_mod:
        return 1;
    case VisView::ir2_display:
    case VisView::ir2_eq:
    case VisView::ir2_split_mod:
        return 2;
    case VisView::post_eq:
        return 0;
    }
    return 0;
}

int CVisPanel::drop_target() const
{
    return ir_view() ? view_slot() : 0;
}

bool CVisPanel::ir_view() const
{
    return view_ == VisView::ir1_display || view_ == VisView::ir2_display || view_ == VisView::ir1_split_mod ||
           view_ == VisView::ir2_split_mod;
}

bool CVisPanel::eq_view() const
{
    return view_ == VisView::ir1_eq || view_ == VisView::ir2_eq || view_ == VisView::post_eq;
}

std::string CVisPanel::key_prefix() const
{
    int const slot = view_slot();
    return slot == 0 ? "flt" : slot == 1 ? "ir1_flt" : "ir2_flt";
}

std::string CVisPanel::band_key(int band, char const* what) const
{
    return key_prefix() + std::to_string(band + 1) + "_" + what;
}

std::string CVisPanel::master_key() const
{
    return key_prefix() + "_master_toggle";
}

void CVisPanel::build_keys()
{
    keys_.clear();
    int const slot = view_slot();
    std::string const ir = "ir" + std::to_string(slot);
    if (ir_view()) {
        keys_ = {ir + "_toggle", ir + "_topology", ir + "_pre_delay"};
        if (view_ == VisView::ir1_split_mod || view_ == VisView::ir2_split_mod)
            for (char const* k : {"_split_point", "_section1_toggle", "_section2_toggle"})
                keys_.push_back("pitch_mod_" + ir + k);
        return;
    }
    keys_.push_back(master_key());
    for (int b = 0; b < band_count; ++b)
        for (char const* what : {"toggle", "mode", "freq", "gain", "q"}) keys_.push_back(band_key(b, what));
}

bool CVisPanel::refresh(EngineStatus const& status)
{
    bool changed = false;
    EngineStatusDisplay const& d = status.display;
    if (!have_status_ || d.generation != display_->generation ||
        std::memcmp(d.channel_count, display_->channel_count, sizeof d.channel_count) != 0) {
        std::memcpy(display_.get(), &d, sizeof d);
        changed = true;
    }
    if (!have_status_ || status.values.sample_rate != sample_rate_ || status.values.ir1_length_ms != length_ms_[0] ||
        status.values.ir2_length_ms != length_ms_[1]) {
        sample_rate_ = status.values.sample_rate;
        length_ms_[0] = status.values.ir1_length_ms;
        length_ms_[1] = status.values.ir2_length_ms;
        changed = true;
    }
    have_status_ = true;

    if (watched_.size() != keys_.size()) {
        watched_.assign(keys_.size(), std::nanf(""));
        changed = true;
    }
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        float const v = host_.get_parameter(keys_[i]);
        if (!(v == watched_[i])) {
            watched_[i] = v;
            changed = true;
        }
    }
    if (changed) {
        if (eq_view()) read_bands();
        set_oc_dirty();
    }
    return changed;
}

void CVisPanel::set_oc_dirty()
{
    oc_dirty_ = true;
    invalidate();
}

std::optional<std::string> CVisPanel::take_draw_error()
{
    std::optional<std::string> out = std::move(draw_error_);
    draw_error_.reset();
    return out;
}

void CVisPanel::on_resized()
{
    oc_dirty_ = true;
}

// ---------------------------------------------------------------------------------------------
// Equaliser model

void CVisPanel::read_bands()
{
    master_on_ = host_.get_parameter(master_key());
    for (int b = 0; b < band_count; ++b) {
        BandState& s = bands_[static_cast<std::size_t>(b)];
        s.toggle = host_.get_parameter(band_key(b, "toggle"));
        s.mode = host_.get_parameter(band_key(b, "mode"));
        s.freq = host_.get_parameter(band_key(b, "freq"));
        s.gain = host_.get_parameter(band_key(b, "gain"));
        s.q = host_.get_parameter(band_key(b, "q"));
    }
    configure_filters();
}

void CVisPanel::configure_filters()
{
    float const rate = sample_rate_ > 0 ? static_cast<float>(sample_rate_) : static_cast<float>(host_.sample_rate());
    for (int b = 0; b < band_count; ++b) {
        BandState const& s = bands_[static_cast<std::size_t>(b)];
        biquad_filter_upsampling& f = *filters_[static_cast<std::size_t>(b)];
        f.set_freq_fs(rate);
        f.set_freq_max_f0(std::min(eq_top_hz, rate * 0.5f));
        f.set_unity_range_toggle(s.toggle);
        f.set_unity_range_mode(s.mode);
        f.set_unity_range_freq_f0(s.freq);
        f.set_unity_range_gain_db(s.gain);
        f.set_unity_range_q(s.q);
        f.compute_coeffs();
    }
}

bool CVisPanel::band_shapes_gain(int band) const
{
    int const mode = filters_[static_cast<std::size_t>(band)]->get_mode();
    return mode == biquad_mode_peak || mode == biquad_mode_low_shelf || mode == biquad_mode_high_shelf;
}

double CVisPanel::response_db(double hz) const
{
    double db = 0;
    for (auto const& f : filters_) {
        if (!(f->get_toggle() >= 0.5f)) continue;
        biquad_coefficients const c = f->normalised_coefficients();
        double const w = 2.0 * M_PI * hz / f->get_freq_fs();
        std::complex<double> const z1 = std::polar(1.0, -w), z2 = std::polar(1.0, -2.0 * w);
        std::complex<double> const num = double(c.b0) + double(c.b1) * z1 + double(c.b2) * z2;
        std::complex<double> const den = 1.0 + double(c.a1) * z1 + double(c.a2) * z2;
        double const mag = std::abs(num) / std::max(std::abs(den), 1e-12);
        db += 20.0 * std::log10(std::max(mag, 1e-9));
    }
    return db;
}

Point CVisPanel::band_handle(int band) const
{
    BandState const& s = bands_[static_cast<std::size_t>(std::clamp(band, 0, band_count - 1))];
    double const w = eq_plot_width(), h = eq_plot_height();
    double const x = eq_left + std::clamp(static_cast<double>(s.freq), 0.0, 1.0) * (w - eq_left);
    double y = h / 2; // cuts have no gain: their handles sit on the 0 dB line
    if (band_shapes_gain(band)) y = h * (1.0 - log_extend_low_unity_range_mid_pointed(std::clamp(s.gain, 0.0f, 1.0f)));
    return {x, y};
}

// ---------------------------------------------------------------------------------------------
// Drawing

void CVisPanel::draw(cairo_t* cr, CTheme const& theme)
{
    double const scale = root() ? root()->scale() : 1.0;
    if (oc_dirty_ || image_ == nullptr || scale != image_scale_ || theme.name != image_theme_) rebuild(theme, scale);
    if (image_ == nullptr) return;
    cairo_save(cr);
    cairo_rectangle(cr, 0, 0, bounds().w, bounds().h);
    cairo_clip(cr);
    cairo_set_source_surface(cr, image_, 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
}

void CVisPanel::rebuild(CTheme const& theme, double scale)
{
    oc_dirty_ = false; // a failure is reported once, not at every paint
    ++rebuilds_;
    try {
        int const pw = static_cast<int>(std::ceil(bounds().w * scale));
        int const ph = static_cast<int>(std::ceil(bounds().h * scale));
        if (pw <= 0 || ph <= 0) return;
        if (image_ == nullptr || cairo_image_surface_get_width(image_) != pw ||
            cairo_image_surface_get_height(image_) != ph || scale != image_scale_) {
            cairo_surface_t* fresh = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pw, ph);
            if (cairo_surface_status(fresh) != CAIRO_STATUS_SUCCESS) {
                cairo_surface_destroy(fresh);
                throw std::runtime_error("Offscreen image allocation error #1");
            }
            cairo_surface_set_device_scale(fresh, scale, scale);
            if (image_) cairo_surface_destroy(image_);
            image_ = fresh;
        }
        image_scale_ = scale;
        image_theme_ = theme.name;

        CairoContext context(image_);
        cairo_t* cr = context.cr;
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        set_colour(cr, theme.panel);
        cairo_paint(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
        rounded_rect(cr, bounds().inset(0.5), 4);
        set_colour(cr, theme.frame);
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);

        if (eq_view()) {
            draw_eq(cr, theme);
            draw_handles(cr, theme);
        } else {
            int const slot = view_slot();
            draw_ir(cr, theme, slot);
            if (view_ == VisView::ir1_split_mod || view_ == VisView::ir2_split_mod) draw_splitmod_line(cr, theme, slot);
            draw_ir_selection_labels(cr, theme, slot);
        }
        if (cairo_status(cr) != CAIRO_STATUS_SUCCESS)
            throw std::runtime_error(std::string("Drawing error #2: ") + cairo_status_to_string(cairo_status(cr)));
        cairo_surface_flush(image_);
    } catch (std::exception const& e) {
        draw_error_ = e.what();
    }
}

double CVisPanel::ir_seconds(int slot) const
{
    int const s = slot - 1;
    double const rate = sample_rate_ > 0 ? sample_rate_ : std::max(host_.sample_rate(), 1.0);
    double frames = display_->frames[s];
    if (frames <= 0) {
        // Not told how long the drawn response was: the loaded length less its pre-delay.
        double const pre_delay_ms = host_.get_parameter("ir" + std::to_string(slot) + "_pre_delay") * 500.0;
        frames = std::max(0.0, (length_ms_[s] - pre_delay_ms) * rate / 1000.0);
    }
    int const per_column = std::max(static_cast<int>(frames) / EngineStatusDisplay::width, 1);
    return static_cast<double>(EngineStatusDisplay::width) * per_column / rate;
}

void CVisPanel::draw_ir(cairo_t* cr, CTheme const& theme, int slot)
{
    int const s = slot - 1;
    double const w = bounds().w, h = bounds().h;
    double const right = w - 2, bottom = h - time_strip;
    double const plot_w = right - ir_left, plot_h = bottom - ir_top;
    int const floor_db = display_->floor_db[s] < 0 ? display_->floor_db[s] : -80;
    bool const on = host_.get_parameter("ir" + std::to_string(slot) + "_toggle") >= 0.5f;
    int const channels = std::clamp(static_cast<int>(display_->channel_count[s]), 0, channel_count);

    // Level grid every 20 dB from 0 dB down to the floor (labels go on top of the rows, below).
    cairo_set_line_width(cr, 1);
    for (int db = 0; db >= floor_db; db -= 20) {
        double const y = std::round(ir_top + plot_h * (static_cast<double>(db) / floor_db)) + 0.5;
        set_colour(cr, with_alpha(theme.frame, db == 0 || db == floor_db ? 1.0 : 0.6));
        cairo_move_to(cr, ir_left, y);
        cairo_line_to(cr, right, y);
        cairo_stroke(cr);
    }
    auto level_labels = [&] {
        for (int db = 0; db > floor_db; db -= 20) { // the floor line is the time axis
            double const y = std::round(ir_top + plot_h * (static_cast<double>(db) / floor_db)) + 0.5;
            std::string const text = db == 0 ? "0 dB" : format_int("%i dB", db);
            Size const size = measure_text(text, Font::value, theme);
            Rect const r{ir_left + 3, y + 1, size.w + 4, 13};
            set_colour(cr, with_alpha(theme.panel, 0.75));
            cairo_rectangle(cr, r.x, r.y, r.w, r.h);
            cairo_fill(cr);
            draw_text(cr, text, r.inset(2, 0), Font::value, Align::left, theme.text_dim, theme);
        }
    };

    // Time axis: ticks at a round step, at least ~90 units apart.
    double const seconds = ir_seconds(slot);
    if (seconds > 0) {
        static double const steps[] = {0.0005, 0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.25, 0.5, 1, 2, 5, 10, 20};
        double step = steps[std::size(steps) - 1];
        for (double candidate : steps)
            if (candidate / seconds * plot_w >= 90) {
                step = candidate;
                break;
            }
        for (int i = 0;; ++i) {
            double const t = i * step;
            double const x = ir_left + t / seconds * plot_w;
            if (x > right + 0.5) break;
            double const px = std::round(x) + 0.5;
            set_colour(cr, with_alpha(theme.frame, 0.6));
            cairo_move_to(cr, px, ir_top);
            cairo_line_to(cr, px, bottom + 3);
            cairo_stroke(cr);
            std::string const text = format("%.3f sec", t);
            Size const size = measure_text(text, Font::value, theme);
            double lx = i == 0 ? x : x - size.w / 2;
            if (lx + size.w > right) continue; // a label that would run off the panel
            draw_text(cr, text, {lx, bottom + 3, size.w + 2, time_strip - 4}, Font::value, Align::left,
                      theme.text_dim, theme);
        }
    }

    if (channels == 0) {
        level_labels();
        draw_text(cr, "Drop an impulse response file here", {ir_left, ir_top, plot_w, plot_h}, Font::body,
                  Align::centre, theme.text_dim, theme);
        return;
    }

    // The rows, channel 0 on top.
    cairo_save(cr);
    cairo_rectangle(cr, ir_left, ir_top, plot_w, plot_h);
    cairo_clip(cr);
    double const dx = plot_w / EngineStatusDisplay::width;
    unsigned const shown = selection_[s];
    int shown_count = 0;
    for (int c = 0; c < channels; ++c) shown_count += (shown >> c) & 1u;
    double const fill_alpha = (on ? 0.28 : 0.10) / std::max(shown_count, 1);
    for (int c = channels - 1; c >= 0; --c) {
        if (!(shown & (1u << c))) continue;
        float const* row = display_->rows[s][c];
        auto y_of = [&](float v) {
            double const level = std::clamp(static_cast<double>(v), 0.0, double(EngineStatusDisplay::height));
            return bottom - level / EngineStatusDisplay::height * plot_h;
        };
        // Through the column centres; the area under the line filled faintly.
        cairo_move_to(cr, ir_left, y_of(row[0]));
        for (int i = 0; i < EngineStatusDisplay::width; ++i) cairo_line_to(cr, ir_left + (i + 0.5) * dx, y_of(row[i]));
        cairo_line_to(cr, right, y_of(row[EngineStatusDisplay::width - 1]));
        Colour const colour = channel_colour(theme, slot, c);
        set_colour(cr, with_alpha(colour, on ? 0.95 : 0.35));
        cairo_set_line_width(cr, 1);
        cairo_stroke_preserve(cr);
        cairo_line_to(cr, right, bottom);
        cairo_line_to(cr, ir_left, bottom);
        cairo_close_path(cr);
        set_colour(cr, with_alpha(colour, fill_alpha));
        cairo_fill(cr);
    }
    cairo_restore(cr);
    level_labels();
    // A response that is all silence is usually a file that could not be read (the slot then plays
    // a second of silence while its header still names the file).
    bool silent = true;
    for (int c = 0; c < channels && silent; ++c)
        silent = std::all_of(display_->rows[s][c], display_->rows[s][c] + EngineStatusDisplay::width,
                             [](float v) { return v <= 0.0f; });
    if (silent && on)
        draw_text(cr, "Silent response: is the file missing or unreadable?", {ir_left, ir_top, plot_w, plot_h},
                  Font::body, Align::centre, theme.text_dim, theme);
    if (!on)
        draw_text(cr, "IR" + std::to_string(slot) + " Off", {ir_left, ir_top, plot_w, plot_h}, Font::title,
                  Align::centre, theme.text_dim, theme);
}

std::string CVisPanel::selection_label(int index) const
{
    int const slot = std::max(view_slot(), 1);
    bool const fusion = topology_of(host_.get_parameter("ir" + std::to_string(slot) + "_topology")) == 3;
    std::string const n = std::to_string(slot);
    static char const* const sides[4] = {"-A: L", "-A: R", "-B: L", "-B: R"};
    static char const* const fusion_sides[4] = {": LL", ": LR", ": RL", ": RR"};
    if (index <= 0) return (fusion ? "FIR" : "IR") + n + ": All";
    index = std::min(index, 4) - 1;
    return fusion ? "FIR" + n + fusion_sides[index] : "IR" + n + sides[index];
}

Rect CVisPanel::selection_label_rect(int index) const
{
    double const x = bounds().w - 2 - label_w - 6;
    return {x, ir_top + 4 + index * (label_h + label_gap), label_w, label_h};
}

void CVisPanel::draw_ir_selection_labels(cairo_t* cr, CTheme const& theme, int slot)
{
    int const s = slot - 1;
    int const channels = std::clamp(static_cast<int>(display_->channel_count[s]), 0, channel_count);
    unsigned const all = (1u << channels) - 1;
    for (int i = 0; i <= channel_count; ++i) {
        Rect const r = selection_label_rect(i);
        bool const present = i == 0 ? channels > 0 : i <= channels;
        bool const selected = present && (i == 0 ? (selection_[s] & all) == all : (selection_[s] & (1u << (i - 1))) != 0);
        Colour const colour = i == 0 ? (slot == 2 ? theme.accent_alt : theme.accent) : channel_colour(theme, slot, i - 1);
        rounded_rect(cr, r, r.h / 2);
        set_colour(cr, with_alpha(theme.face, 0.92));
        cairo_fill_preserve(cr);
        set_colour(cr, selected ? colour : theme.frame);
        cairo_set_line_width(cr, selected ? 1.5 : 1);
        cairo_stroke(cr);
        // A dot in the channel's colour, filled while the channel is shown.
        cairo_arc(cr, r.x + r.h / 2 + 1, r.y + r.h / 2, 4, 0, 2 * M_PI);
        if (selected) {
            set_colour(cr, colour);
            cairo_fill(cr);
        } else {
            set_colour(cr, present ? theme.text_dim : theme.frame);
            cairo_set_line_width(cr, 1);
            cairo_stroke(cr);
        }
        draw_text(cr, selection_label(i), {r.x + r.h + 2, r.y, r.w - r.h - 4, r.h}, Font::value, Align::left,
                  present ? (selected ? theme.text : theme.text_dim) : with_alpha(theme.text_dim, 0.5), theme);
    }
}

void CVisPanel::draw_splitmod_line(cairo_t* cr, CTheme const& theme, int slot)
{
    std::string const ir = "ir" + std::to_string(slot);
    if (topology_of(host_.get_parameter(ir + "_topology")) == 3) return; // Fusion IRs have no split
    float const s = std::clamp(host_.get_parameter("pitch_mod_" + ir + "_split_point"), 0.0f, 1.0f);
    bool const on = host_.get_parameter(ir + "_toggle") >= 0.5f;
    bool const modulated = host_.get_parameter("pitch_mod_" + ir + "_section1_toggle") > 0.0f ||
                           host_.get_parameter("pitch_mod_" + ir + "_section2_toggle") > 0.0f;
    double const x = split_line_x(s);
    set_colour(cr, on && modulated ? theme.highlight : theme.text_dim);
    cairo_rectangle(cr, x - 1, ir_top, 2, bounds().h - time_strip - ir_top);
    cairo_fill(cr);
    // Section names along the bottom of the plot, below the level labels, where they fit.
    double const y = bounds().h - time_strip - 18;
    if (x + 6 + 80 < bounds().w - 4)
        draw_text(cr, "Section 2", {x + 6, y, 80, 16}, Font::small, Align::left, theme.text_dim, theme);
    if (x - 6 - 80 > ir_left)
        draw_text(cr, "Section 1", {x - 86, y, 80, 16}, Font::small, Align::right, theme.text_dim, theme);
}

void CVisPanel::draw_eq(cairo_t* cr, CTheme const& theme)
{
    double const w = eq_plot_width(), h = eq_plot_height();
    double const top_hz = static_cast<double>(filters_[0]->get_freq_max_f0());
    auto y_of_db = [&](double db) { return h * (0.5 - db / 40.0); };
    auto x_of_hz = [&](double hz) { return eq_left + taper_unity(hz, top_hz) * (w - eq_left); };

    cairo_set_line_width(cr, 1);
    for (int db = 20; db >= -20; db -= 10) {
        double const y = std::round(y_of_db(db)) + 0.5;
        set_colour(cr, with_alpha(theme.frame, db == 0 ? 1.0 : 0.6));
        cairo_move_to(cr, eq_left, y);
        cairo_line_to(cr, w, y);
        cairo_stroke(cr);
        std::string const text = db == 0 ? "0 dB" : format_int("%+i dB", db);
        double const ty = db == -20 ? y - 14 : y + 1;
        draw_text(cr, text, {eq_left + 4, ty, 50, 13}, Font::value, Align::left, theme.text_dim, theme);
    }
    double last_right = -1e9;
    for (double hz : {20.0, 50.0, 100.0, 200.0, 500.0, 1000.0, 2000.0, 5000.0, 10000.0, 20000.0}) {
        if (hz > top_hz) break;
        double const x = std::round(x_of_hz(hz)) + 0.5;
        set_colour(cr, with_alpha(theme.frame, 0.6));
        cairo_move_to(cr, x, 0);
        cairo_line_to(cr, x, h + 3);
        cairo_stroke(cr);
        std::string const text = hz < 1000 ? format_int("%i Hz", static_cast<int>(hz))
                                           : format_int("%i kHz", static_cast<int>(hz / 1000));
        Size const size = measure_text(text, Font::value, theme);
        double const lx = std::clamp(x - size.w / 2, eq_left, bounds().w - size.w - 2);
        if (lx < last_right + 8) continue; // crowded at the low end of the taper
        draw_text(cr, text, {lx, h + 2, size.w + 2, eq_label_strip - 3}, Font::value, Align::left, theme.text_dim,
                  theme);
        last_right = lx + size.w;
    }

    // The response of the five bands together.
    bool const on = master_on_ > 0.0f;
    Colour const accent = view_slot() == 2 ? theme.accent_alt : theme.accent;
    cairo_save(cr);
    cairo_rectangle(cr, eq_left, 0, w - eq_left, h);
    cairo_clip(cr);
    double const zero = y_of_db(0);
    cairo_move_to(cr, eq_left, zero);
    for (double x = eq_left; x <= w; x += 0.5) {
        double const hz = taper_hz((x - eq_left) / (w - eq_left), top_hz);
        cairo_line_to(cr, x, y_of_db(std::clamp(response_db(hz), -40.0, 40.0)));
    }
    cairo_line_to(cr, w, zero);
    cairo_close_path(cr);
    set_colour(cr, with_alpha(accent, on ? 0.18 : 0.06));
    cairo_fill(cr);
    bool first = true;
    for (double x = eq_left; x <= w; x += 0.5) {
        double const hz = taper_hz((x - eq_left) / (w - eq_left), top_hz);
        double const y = y_of_db(std::clamp(response_db(hz), -40.0, 40.0));
        if (first) cairo_move_to(cr, x, y);
        else cairo_line_to(cr, x, y);
        first = false;
    }
    set_colour(cr, on ? accent : with_alpha(theme.text_dim, 0.6));
    cairo_set_line_width(cr, 2);
    cairo_stroke(cr);
    cairo_restore(cr);

    std::string const name = view_ == VisView::post_eq ? "Post EQ" : view_ == VisView::ir1_eq ? "IR1 EQ" : "IR2 EQ";
    draw_text(cr, name + (on ? " On" : " Off"), {w - 160, 4, 150, 16}, Font::small, Align::right,
              on ? theme.text : theme.text_dim, theme);
}

void CVisPanel::draw_handles(cairo_t* cr, CTheme const& theme)
{
    Colour const accent = view_slot() == 2 ? theme.accent_alt : theme.accent;
    bool const master = master_on_ > 0.0f;
    for (int b = 0; b < band_count; ++b) {
        Point const p = band_handle(b);
        bool const on = bands_[static_cast<std::size_t>(b)].toggle >= 0.5f;
        cairo_arc(cr, p.x, p.y, handle_radius + (b == drag_band_ ? 1.5 : 0), 0, 2 * M_PI);
        set_colour(cr, on ? (master ? accent : mix(accent, theme.face, 0.5)) : theme.face);
        cairo_fill_preserve(cr);
        set_colour(cr, on ? theme.text : theme.text_dim);
        cairo_set_line_width(cr, b == drag_band_ ? 2 : 1);
        cairo_stroke(cr);
        draw_text(cr, std::to_string(b + 1), {p.x - handle_radius, p.y - handle_radius, 2 * handle_radius, 2 * handle_radius},
                  Font::value, Align::centre, on ? theme.on_accent : theme.text_dim, theme);
    }
}

// ---------------------------------------------------------------------------------------------
// Input

bool CVisPanel::on_mouse_down(MouseEvent const& e)
{
    if (ir_view()) {
        if (e.button != Button::left) return false;
        int const s = view_slot() - 1;
        int const channels = std::clamp(static_cast<int>(display_->channel_count[s]), 0, channel_count);
        for (int i = 0; i <= channel_count; ++i) {
            if (!selection_label_rect(i).contains(e.pos)) continue;
            if (i > channels || channels == 0) return true; // a channel this IR does not have
            unsigned const all = (1u << channels) - 1;
            unsigned const bit = i == 0 ? all : 1u << (i - 1);
            unsigned& sel = selection_[s];
            if (i == 0) sel = all;
            else if (mode_ == VisSelectionMode::all_only) sel = bit;
            else sel = (sel & all) ^ bit;
            if ((sel & all) == 0) sel = all; // showing nothing helps no one
            set_oc_dirty();
            return true;
        }
        return false;
    }
    // Equaliser views: the nearest handle within reach, left button only.
    if (e.button != Button::left || (e.mods & (mod::alt | mod::shift)) != 0) return false;
    int best = -1;
    double best_d = pick_radius;
    for (int b = 0; b < band_count; ++b) {
        Point const p = band_handle(b);
        double const d = std::hypot(p.x - e.pos.x, p.y - e.pos.y);
        if (d <= best_d) best = b, best_d = d;
    }
    if (best < 0) return false;
    drag_band_ = best;
    fine_ = (e.mods & mod::control) != 0;
    fine_pointer_ = fine_effective_ = e.pos;
    offset_ = {};
    set_oc_dirty();
    return true;
}

void CVisPanel::on_mouse_drag(MouseEvent const& e)
{
    if (drag_band_ < 0) return;
    if ((e.mods & (mod::alt | mod::shift)) != 0) return;
    bool const control = (e.mods & mod::control) != 0;
    Point effective{e.pos.x + offset_.x, e.pos.y + offset_.y};
    if (control && !fine_) {
        fine_ = true;
        fine_pointer_ = e.pos;
        fine_effective_ = effective;
    } else if (!control && fine_) {
        // Back to full speed from where the fine movement left the band.
        fine_ = false;
        effective = {fine_effective_.x + (e.pos.x - fine_pointer_.x) / fine_divisor,
                     fine_effective_.y + (e.pos.y - fine_pointer_.y) / fine_divisor};
        offset_ = {effective.x - e.pos.x, effective.y - e.pos.y};
    }
    if (fine_)
        effective = {fine_effective_.x + (e.pos.x - fine_pointer_.x) / fine_divisor,
                     fine_effective_.y + (e.pos.y - fine_pointer_.y) / fine_divisor};
    drag_to(effective);
}

void CVisPanel::drag_to(Point p)
{
    int const b = drag_band_;
    double const w = eq_plot_width(), h = eq_plot_height();
    bool changed = false;
    if (p.x >= eq_left && p.x <= w) {
        change(band_key(b, "freq"), static_cast<float>((p.x - eq_left) / (w - eq_left)));
        changed = true;
    }
    if (band_shapes_gain(b) && p.y >= 0 && p.y <= h) {
        float const g = log_unextend_low_unity_range_mid_pointed(static_cast<float>(1.0 - p.y / h));
        if (g >= 0.0f && g <= 1.0f) {
            change(band_key(b, "gain"), g);
            changed = true;
        }
    }
    if (!changed) return;
    if (!(host_.get_parameter(band_key(b, "toggle")) > 0.0f)) switch_on(band_key(b, "toggle"));
    if (!(host_.get_parameter(master_key()) > 0.0f)) switch_on(master_key());
    read_bands();
    watched_.clear(); // re-read at the next idle without a second redraw of the same values
    for (auto const& key : keys_) watched_.push_back(host_.get_parameter(key));
    set_oc_dirty();
}

void CVisPanel::change(std::string const& key, float value)
{
    if (std::find(open_gestures_.begin(), open_gestures_.end(), key) == open_gestures_.end()) {
        host_.begin_gesture(key);
        open_gestures_.push_back(key);
    }
    host_.set_parameter(key, value);
}

void CVisPanel::switch_on(std::string const& key)
{
    host_.begin_gesture(key);
    host_.set_parameter(key, 1.0f);
    host_.end_gesture(key);
}

void CVisPanel::end_gestures()
{
    for (auto const& key : open_gestures_) host_.end_gesture(key);
    open_gestures_.clear();
}

void CVisPanel::on_mouse_up(MouseEvent const&)
{
    end_gestures();
    if (drag_band_ >= 0) set_oc_dirty();
    drag_band_ = -1;
    fine_ = false;
}

void CVisPanel::on_capture_lost()
{
    on_mouse_up({});
}

bool CVisPanel::on_scroll(ScrollEvent const& e)
{
    // The wheel over a handle sets the band's Q (finer with Control).
    if (!eq_view() || drag_band_ >= 0) return false;
    for (int b = 0; b < band_count; ++b) {
        Point const p = band_handle(b);
        if (std::hypot(p.x - e.pos.x, p.y - e.pos.y) > pick_radius) continue;
        std::string const key = band_key(b, "q");
        float const step = (e.mods & mod::control) != 0 ? 0.005f : 0.02f;
        float const q = std::clamp(host_.get_parameter(key) + static_cast<float>(e.dy) * step, 0.0f, 1.0f);
        host_.begin_gesture(key);
        host_.set_parameter(key, q);
        host_.end_gesture(key);
        read_bands();
        set_oc_dirty();
        return true;
    }
    return false;
}

} // namespace corvella::editor
