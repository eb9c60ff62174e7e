#pragma once

// A tab view: a bar of labels over a stack of pages, one page shown. Pages are plain widgets filled
// by the caller; a page may hold another tab view, and a path of labels ("IR1 EQ", "1-5") selects
// through the nesting. The bar can be hidden when something else (a menu) picks the page.

#include "editor/ui/widget.h"

#include <functional>
#include <span>
#include <string>
#include <vector>

namespace corvella::ui {

class CTabs : public CWidget {
public:
    CWidget& add_page(std::string label); // a page filling the content area
    int page_count() const { return static_cast<int>(labels_.size()); }
    std::string const& label(int index) const { return labels_[static_cast<std::size_t>(index)]; }
    CWidget& page(int index) const { return *pages_[static_cast<std::size_t>(index)]; }
    int index_of(std::string const& label) const; // -1 when no page has it

    int selected() const { return selected_; }
    void select(int index); // from outside: no on_select
    // Selects `path[0]` here, then path[1] in the first tab view on that page, and so on; false (and
    // nothing changed) when a label is missing.
    bool select_path(std::span<std::string const> path);
    bool select_path(std::initializer_list<std::string> path)
    {
        std::vector<std::string> const p(path);
        return select_path(std::span<std::string const>(p));
    }
    std::vector<std::string> path() const; // labels of the selected pages, outermost first

    void set_bar_visible(bool visible);
    bool bar_visible() const { return bar_visible_; }
    Rect tab_rect(int index) const; // local rectangle of a label in the bar
    Rect content() const;           // local rectangle of the pages

    std::function<void(CTabs&, int index)> on_select; // the user chose a page

    bool takes_mouse() const override { return true; }
    bool takes_focus() const override { return bar_visible_; }
    CWidget* hit_test(Point local) override;
    Rect focus_rect() const override { return selected_ >= 0 ? tab_rect(selected_) : bounds(); }
    bool on_mouse_down(MouseEvent const& e) override;
    bool on_key(KeyEvent const& e) override;

    static constexpr double bar_height = 24;

protected:
    void draw(cairo_t* cr, CTheme const& theme) override;
    void on_resized() override;

private:
    void user_select(int index);
    CTabs* nested() const; // the first tab view on the selected page

    std::vector<std::string> labels_;
    std::vector<CWidget*> pages_;
    int selected_ = -1;
    bool bar_visible_ = true;
};

} // namespace corvella::ui
