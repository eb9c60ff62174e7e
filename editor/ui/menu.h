#pragma once

// Option menus. A CChoiceMenu is the control on the page: a face showing the chosen item (or a
// fixed title, for command menus) that opens a CPopupMenu overlay. Entries may be separators or
// open sub-menus. Leaf items are numbered depth-first from 0, separators and sub-menu headers not
// counted; a leaf reports its own tag when it has one, else that number.

#include "editor/ui/value_control.h"

#include <functional>
#include <vector>

namespace corvella::ui {

class CRoot;

struct MenuEntry {
    std::string text;
    int tag = -1; // reported when chosen; -1: the leaf's depth-first number
    bool separator = false;
    bool enabled = true;
    std::vector<MenuEntry> submenu; // not empty: this entry opens a sub-menu

    static MenuEntry item(std::string text, int tag = -1) { return {std::move(text), tag, false, true, {}}; }
    static MenuEntry line() { return {{}, -1, true, true, {}}; }
    static MenuEntry sub(std::string text, std::vector<MenuEntry> entries)
    {
        return {std::move(text), -1, false, true, std::move(entries)};
    }
};

// Menu items numbered by position: item i of `texts` gets tag i, and an empty text is a
// separator that still uses up its number (as numbered command lists count them).
std::vector<MenuEntry> numbered_menu(std::vector<std::string> const& texts);

int leaf_count(std::vector<MenuEntry> const& entries);
// The leaf with depth-first number `index`, or null.
MenuEntry const* leaf_at(std::vector<MenuEntry> const& entries, int index);

// One open level of a menu. Opened through CRoot::open_menu; sub-menus open beside their entry when
// the pointer rests on it or it is clicked. A click on a leaf closes every level and reports it.
class CPopupMenu : public CWidget {
public:
    using Choose = std::function<void(int tag)>;

    static CPopupMenu& open(CRoot& root, std::vector<MenuEntry> const& entries, Rect const& anchor, int current,
                            Choose choose);

    CPopupMenu(std::vector<MenuEntry> entries, int first_leaf, int current, std::shared_ptr<Choose> choose,
               CPopupMenu* parent_menu);

    Rect entry_rect(int index) const; // local
    Size preferred_size(CTheme const& theme) const;
    int hovered() const { return hovered_; }
    CPopupMenu* child() const { return child_; }

    bool takes_mouse() const override { return true; }
    bool transient() const override { return true; }
    bool on_mouse_down(MouseEvent const& e) override;
    void on_mouse_move(MouseEvent const& e) override;
    bool on_key(KeyEvent const& e) override;

    static constexpr double item_height = 22;
    static constexpr double separator_height = 9;
    static constexpr double padding = 4;

protected:
    void draw(cairo_t* cr, CTheme const& theme) override;

private:
    int entry_at(double y) const;
    int leaf_number(int index) const; // depth-first number of entry `index`, or -1
    bool hover_current();             // false when the current leaf is not on this level
    void activate(int index, bool from_keyboard);
    void open_child(int index, bool from_keyboard);
    void close_child();
    void move_hover(int direction);

    std::vector<MenuEntry> entries_;
    int first_leaf_;  // depth-first number of this level's first leaf
    int current_;     // leaf number shown with a tick
    std::shared_ptr<Choose> choose_;
    CPopupMenu* parent_menu_;
    CPopupMenu* child_ = nullptr;
    int hovered_ = -1;
    int child_of_ = -1; // entry whose sub-menu is open
};

class CChoiceMenu : public CValueControl {
public:
    ~CChoiceMenu() override; // closes an open pop-up, whose choice would come back here
    void set_entries(std::vector<MenuEntry> entries); // sets the steps to the number of leaves
    std::vector<MenuEntry> const& entries() const { return entries_; }
    // A fixed face text (a command menu): choosing reports the tag and leaves the value alone.
    void set_title(std::string title);
    int chosen() const { return position(); } // the leaf the value selects

    // Runs after a leaf was chosen (and, for a value menu, after the value's gesture).
    std::function<void(CChoiceMenu&, int tag)> on_choose;

    void open(); // the pop-up, as a click does
    bool on_mouse_down(MouseEvent const& e) override;
    bool on_key(KeyEvent const& e) override;

    static constexpr double label_height = 14; // above the face when a label is set

protected:
    void draw(cairo_t* cr, CTheme const& theme) override;

private:
    Rect face() const;
    std::vector<MenuEntry> entries_;
    std::string title_;
};

} // namespace corvella::ui
