#include "editor/settings_page.h"

#include "editor/vis_panel.h"

#include "editor/editor_view.h"
#include "editor/ui/label.h"
#include "editor/ui/menu.h"
#include "platform/settings_store.h"

#include <cstdio>
#include <exception>

namespace corvella::editor {

using namespace corvella::ui;

namespace {

// Menu labels carry a run of blanks after the text, as the menus have always shown them.
std::vector<std::string> padded(std::vector<std::string> items)
{
    for (auto& item : items) item += "     ";
    return items;
}

enum Menu : std::size_t { presets, sr_norm, latency, auto_pair, home, dials, wet_lock, ir_vis, colour, changes };

} // namespace

std::vector<SettingsMenu> const& settings_menus()
{
    static std::vector<SettingsMenu> const menus{
        {"Presets tab", padded({"Show Menu", "Hide Menu"}), "HidePresets", {0, 1}, "initial preset loading switch"},
        {"Sample rate", padded({"Host Rate Independent", "Host Rate Dependent", "Downsample if >48kHz"}), "SRNorm",
         {0, 1, 2}, "default SR Normalisation switch"},
        {"Latency",
         padded({"Zero delay", "128 samples", "256 samples", "512 samples", "1024 samples", "2048 samples",
                 "4096 samples", "8192 samples"}),
         "Latency", {0, 128, 256, 512, 1024, 2048, 4096, 8192}, "latency switch"},
        {"True-stereo pairing", padded({"Off", "Attempt Pairing"}), "AutoPairTS", {0, 1}, "auto-pair switch"},
        {"IR browser home", padded({"Most Recent", "Current IR", "User Default", "Set Default"}), "HomePref",
         {0, 1, 2, 2}, "home-pref switch"},
        {"Dials", padded({"Circular", "Rel. Circular", "Slider"}), "DialsMode", {0, 1, 2}, "dials switch"},
        {"Default wet lock", padded({"Off (Insert)", "Wet (Send)", "Bank Default"}), "WetLock", {0, 1, 2},
         "wet lock switch"},
        {"IR display selection", padded({"Multiple", "IRx-All Only"}), "IRVisSelectionMode", {0, 1},
         "default auto true selection stereo switch"},
        {"Colour scheme",
         padded({"Deep Blue", "Neon Blue", "Elegant Green", "Classic Green", "Deep Purple", "Dark Orange",
                 "Light Orange", "Dark Red", "Light Red"}),
         "ColourScheme", {0, 1, 2, 3, 4, 5, 6, 7, 8}, "colour scheme switch"},
        {"Setting changes", padded({"Smooth", "Silence After Rebuild"}), "SmoothChanges", {1, 0},
         "smooth changes switch", extract_data_from_registry_smooth_changes},
    };
    return menus;
}

CSettingsPage::CSettingsPage(CEditorView& view, CWidget& page) : view_(view)
{
    auto const& rows = settings_menus();
    double const col_w = 240, row_h = 56;
    double const row_count = static_cast<double>((rows.size() + 2) / 3);
    auto& box = page.add<CGroupBox>({8, 20, 3 * col_w + 24, row_count * row_h + 36}, "Preferences");
    for (std::size_t i = 0; i < rows.size(); ++i) {
        double const x = 12 + static_cast<double>(i % 3) * col_w;
        double const y = 28 + static_cast<double>(i / 3) * row_h;
        auto& m = box.add<CChoiceMenu>({x, y, col_w - 24, 38});
        m.set_id("setting:" + rows[i].key);
        m.set_label(rows[i].title);
        m.set_entries(numbered_menu(rows[i].items));
        m.on_choose = [this, i](CChoiceMenu&, int tag) { choose(i, tag); };
        menus_.push_back(&m);
        load(i);
    }
}

void CSettingsPage::load(std::size_t index)
{
    SettingsMenu const& row = settings_menus()[index];
    CChoiceMenu& m = *menus_[index];
    int item = 0;
    try {
        int const stored = row.read != nullptr ? row.read() : extract_data_from_registry_int(row.key);
        for (std::size_t k = 0; k < row.stored.size(); ++k)
            if (row.stored[k] == stored) {
                item = static_cast<int>(k);
                break;
            }
    } catch (std::exception const& e) {
        item = 0;
        view_.show_message(std::string(e.what()) + ": Seen during " +
                           (index == sr_norm ? std::string("SR Normalisation loading switch") : row.action));
    }
    m.set_value(row.items.size() > 1 ? static_cast<double>(item) / static_cast<double>(row.items.size() - 1) : 0);
    // A stored latency the running instance does not use yet stays red until the effect is reloaded.
    if (index == latency) m.set_warning(row.stored[static_cast<std::size_t>(item)] != view_.host().running_latency());
}

std::string CSettingsPage::message_for(std::size_t menu, int item) const
{
    switch (menu) {
    case presets:
        return item == 1 ? "The next time the editor is opened the presets tab will be hidden."
                         : "The next time the editor is opened the presets tab will be visible.";
    case sr_norm:
        if (item == 0)
            return "The sample rate setting of the host will not affect the gain or filter behaviour of Corvella.";
        if (item == 1) return "The sample rate of the host can affect the gain and filter settings of Corvella.";
        return "Corvella will run at half the host sample rate when the host is running at sample rates greater "
               "than 48 kHz.";
    case latency: {
        int const n = settings_menus()[latency].stored[static_cast<std::size_t>(item)];
        if (n == 0)
            return "Zero latency mode will be set next time the plugin is loaded (please reload the project for "
                   "consistency as all instances use the same setting).";
        int const rate = static_cast<int>(view_.host().sample_rate());
        char text[400];
        std::snprintf(text, sizeof text,
                      "A latency of %i samples (%.2fms delay at the current samping rate of %iHz) will be used the "
                      "next time the plugin is started  (please reload the project for consistency as all "
                      "instances use the same setting).",
                      n, n * 1000.0 / (rate > 0 ? rate : 1), rate);
        return text;
    }
    case auto_pair:
        return "When in true stereo mode and auto pairing is selected,\n"
               "loading a true impulse response of the format\n"
               "<name>Left.<extension> or <name>L.<extension>\n"
               "will result in auto pairing seeking an appropriate file named\n"
               "<name>Right.<extension> or <name>R.<extension>\n"
               "for paired loading. This is only active when loading files into\n"
               "the IR1-A and IR2-A containers when using the eject\n"
               "or left/right spinner buttons.\n\n"
               "The IR1-B/IR2-B controls do not automatically pair files\n"
               "to enable rapid auditioning of alternative pairings for true stereo\n"
               "impulse responses.";
    case home:
        return item == 3 ? "The home IR directory is currently set to:\n" + extract_data_from_registry_home_pref_dir()
                         : std::string();
    case dials:
        if (item == 0) return "Circular dials mode selected. ";
        if (item == 1) return "Relative circular dials mode selected. ";
        return "Linear (slider) mode selected. Holding the Apple key while dragging in this mode allows for finer "
               "control. ";
    case wet_lock:
        return "New default wet-lock mode will be used the next time Corvella starts up";
    case colour:
        return "Close and re-open the GUI to view the new colour scheme";
    case changes:
        return item == 0 ? "Settings, impulse responses and programs will change without a click (the reverb of what "
                           "was played rings on) the next time Corvella starts."
                         : "The reverb will be silenced after each impulse response rebuild the next time Corvella "
                           "starts.";
    default:
        return {};
    }
}

void CSettingsPage::choose(std::size_t menu, int item)
{
    SettingsMenu const& row = settings_menus()[menu];
    if (item < 0 || static_cast<std::size_t>(item) >= row.items.size()) return;
    CChoiceMenu& m = *menus_[menu];
    m.set_value(row.items.size() > 1 ? static_cast<double>(item) / static_cast<double>(row.items.size() - 1) : 0);
    int const stored = row.stored[static_cast<std::size_t>(item)];
    try {
        if (menu == latency) {
            // Nothing changes while the choice is what the instance already runs with.
            bool const differs = stored != view_.host().running_latency();
            m.set_warning(differs);
            if (!differs) return;
        }
        set_data_in_registry_int(row.key, stored);
        if (menu == dials) view_.root().options().dial_mode = static_cast<DialMode>(item);
        if (menu == ir_vis) view_.vis_panel().set_selection_mode(static_cast<VisSelectionMode>(stored));
        if (menu == wet_lock) {
            // The mix is set again so that the lock blend follows the new mode at once.
            EditorHost& host = view_.host();
            float const mix = host.get_parameter("master_mix");
            host.begin_gesture("master_mix");
            host.set_parameter("master_mix", mix);
            host.end_gesture("master_mix");
        }
        std::string const text = message_for(menu, item);
        if (menu == auto_pair && item == 0) return;
        if (!text.empty()) view_.show_message(text);
    } catch (std::exception const& e) {
        m.set_value(0);
        view_.show_message(std::string(e.what()) + ": Seen during " +
                           (menu == home && item == 3 ? std::string("default directory switch") : row.action));
    }
}

} // namespace corvella::editor
