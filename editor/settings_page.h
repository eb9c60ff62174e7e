#pragma once

// The "Settings" page: machine-wide preferences, one menu each. A choice stores an integer in the
// settings store under the menu's key and, for most menus, explains in a message when it takes
// effect. A store failure is shown with the menu's action name and the menu falls back to its
// first item.
//
// Threading: UI thread only (the store takes its own file lock).

#include "editor/ui/widget.h"

#include <string>
#include <vector>

namespace corvella::ui {
class CChoiceMenu;
}

namespace corvella::editor {

class CEditorView;

// One preference menu: its title, item texts, settings key and stored values per item.
struct SettingsMenu {
    std::string title;
    std::vector<std::string> items; // menu labels, ending in runs of blanks as the menus show them
    std::string key;
    std::vector<int> stored; // value stored per item
    std::string action;      // name in ": Seen during ..." messages
    int (*read)() = nullptr; // the setting's own reader, where it has a default of its own
};

std::vector<SettingsMenu> const& settings_menus();

class CSettingsPage {
public:
    CSettingsPage(CEditorView& view, ui::CWidget& page);

    // What choosing item `item` of menu `menu` (index into settings_menus()) does.
    void choose(std::size_t menu, int item);
    ui::CChoiceMenu* menu(std::size_t index) const { return menus_[index]; }

private:
    void load(std::size_t index);
    std::string message_for(std::size_t menu, int item) const;

    CEditorView& view_;
    std::vector<ui::CChoiceMenu*> menus_;
};

} // namespace corvella::editor
