#pragma once

// A scrolling list of one-line text rows: click or Up/Down/Home/End/Page keys select a row,
// a double click or Enter activates it, the wheel and a draggable bar on the right scroll it.
// Rows may be dim (secondary entries) and indented, and may carry a dim detail text drawn at the
// right edge. set_rows()/select() are for changes from outside and call nothing back.

#include "editor/ui/widget.h"

#include <functional>
#include <string>
#include <vector>

namespace corvella::ui {

struct ListRow {
    std::string text;
    std::string detail; // right-aligned, dim; may be empty
    bool dim = false;
    int indent = 0; // levels of indentation
};

class CListView : public CWidget {
public:
    void set_rows(std::vector<ListRow> rows); // clears the selection and scrolls to the top
    // New texts for the same list (names edited elsewhere): selection and scrolling stay where
    // they are as far as the new rows allow.
    void replace_rows(std::vector<ListRow> rows);
    std::vector<ListRow> const& rows() const { return rows_; }
    int row_count() const { return static_cast<int>(rows_.size()); }
    // Shown in the middle of an empty list ("Folder is empty", say).
    void set_empty_text(std::string text);

    int selected() const { return selected_; }
    void select(int index); // -1 or out of range clears; scrolls the row into view
    void clear_selection() { select(-1); }

    // Scrolling, in logical units from the top of the first row.
    double scroll_offset() const { return offset_; }
    double max_scroll() const;
    void scroll_to(double offset); // clamped
    void ensure_visible(int index);

    Rect row_rect(int index) const;  // local; may lie outside the bounds
    int row_at(Point local) const;   // -1 when there is no row there (or over the bar)
    bool has_scroll_bar() const { return max_scroll() > 0; }
    Rect scroll_bar_rect() const;    // the trough
    Rect thumb_rect() const;

    std::function<void(CListView&, int index)> on_select;   // the user moved the selection
    std::function<void(CListView&, int index)> on_activate; // double click or Enter on a row
    // Seconds on a steady clock, to tell a double click; the system's by default.
    std::function<double()> clock;

    bool takes_mouse() const override { return true; }
    bool takes_focus() const override { return true; }
    bool on_mouse_down(MouseEvent const& e) override;
    void on_mouse_drag(MouseEvent const& e) override;
    void on_mouse_up(MouseEvent const& e) override;
    void on_capture_lost() override;
    bool on_scroll(ScrollEvent const& e) override;
    bool on_key(KeyEvent const& e) override;

    static constexpr double row_height = 18;
    static constexpr double bar_width = 8;
    static constexpr double double_click_seconds = 0.4;
    static constexpr double wheel_rows = 2; // rows per wheel notch

protected:
    void draw(cairo_t* cr, CTheme const& theme) override;
    void on_resized() override { scroll_to(offset_); }

private:
    void user_select(int index);
    double now() const;
    int visible_rows() const;

    std::vector<ListRow> rows_;
    std::string empty_text_;
    int selected_ = -1;
    double offset_ = 0;
    // Double click: the row and time of the last press.
    int last_press_row_ = -1;
    double last_press_time_ = -1e9;
    // Scroll-bar drag: the pointer's distance from the thumb's top when it was grabbed.
    bool dragging_bar_ = false;
    double grab_ = 0;
};

} // namespace corvella::ui
