#include "editor/ir_browser.h"

#include "editor/ui/label.h"
#include "editor/ui/list_view.h"
#include "editor/ui/paint.h"
#include "editor/ui/text_field.h"
#include "host/demogain_parameters.h"
#include "ir/ir_file_pairing.h"
#include "platform/settings_store.h"
#include "program/program_constants.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <system_error>
#include <unordered_set>

#include <pwd.h>
#include <unistd.h>

namespace corvella::editor {

using namespace corvella::ui;
namespace fs = std::filesystem;

namespace {

constexpr double pad = 8;
constexpr double line_h = 22;
constexpr double button_gap = 4;

std::string with_slash(std::string folder)
{
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

std::string lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool is_folder(std::string const& path)
{
    std::error_code error;
    return !path.empty() && fs::is_directory(path, error);
}

std::string home_folder()
{
    char const* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return with_slash(home);
    if (passwd const* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] == '/')
        return with_slash(entry->pw_dir);
    return "/";
}

// A setting, or `fallback` when the settings cannot be read.
template <class Read> auto setting(Read read, decltype(read()) fallback)
{
    try {
        return read();
    } catch (std::exception const&) {
        return fallback;
    }
}

std::string user_default_folder()
{
    std::string const folder = setting([] { return extract_data_from_registry_home_pref_dir(); }, std::string());
    return is_folder(folder) ? with_slash(folder) : std::string();
}

// The left member of a side-tagged pair: its name before the extension ends in a left tag.
bool left_member(std::string const& name)
{
    std::string const stem = get_filename_from_path_no_ext("/" + name);
    for (char const* tag : {"L", "l", "Left", "left", "LEFT"})
        if (stem.ends_with(tag)) return true;
    return false;
}

// "Hall L.wav" + "Hall R.wav" -> "Hall L/R.wav": the common start, both differing middles, the
// common end.
std::string pair_display(std::string const& left, std::string const& right)
{
    std::size_t start = 0;
    while (start < left.size() && start < right.size() && left[start] == right[start]) ++start;
    std::size_t end = 0;
    while (end < left.size() - start && end < right.size() - start &&
           left[left.size() - 1 - end] == right[right.size() - 1 - end])
        ++end;
    return left.substr(0, left.size() - end) + "/" + right.substr(start, right.size() - start - end) +
           left.substr(left.size() - end);
}

// The tail of `text` that fits `width` at the small font, led by an ellipsis when cut.
std::string fit_tail(std::string const& text, double width)
{
    CTheme const& theme = themes()[0];
    if (measure_text(text, Font::small, theme).w <= width) return text;
    std::size_t from = 0;
    while (from < text.size()) {
        ++from;
        while (from < text.size() && (static_cast<unsigned char>(text[from]) & 0xC0u) == 0x80u) ++from;
        std::string const cut = "\xE2\x80\xA6" + text.substr(from);
        if (measure_text(cut, Font::small, theme).w <= width) return cut;
    }
    return {};
}

CClickLabel& add_button(CWidget& page, Rect const& frame, std::string text, std::function<void()> action)
{
    auto& b = page.add<CClickLabel>(frame, std::move(text));
    b.on_click = [action = std::move(action)](CClickable&) { action(); };
    return b;
}

} // namespace

bool is_ir_file_name(std::string const& name)
{
    static constexpr std::array<char const*, 5> four{".wav", ".aif", ".sd2", ".wir", ".fir"};
    static constexpr std::array<char const*, 3> five{".flac", ".aiff", ".sdir"};
    if (name.size() < 4) return false;
    std::string const last4 = lower(name.substr(name.size() - 4));
    if (std::find(four.begin(), four.end(), last4) != four.end()) return true;
    if (name.size() < 5) return false;
    std::string const last5 = lower(name.substr(name.size() - 5));
    return std::find(five.begin(), five.end(), last5) != five.end();
}

IrFolderListing list_ir_folder(std::string const& folder_in)
{
    IrFolderListing out;
    std::string const folder = with_slash(folder_in);
    std::vector<std::string> names;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    if (error) return out;
    out.readable = true;
    for (fs::directory_iterator end; !error && it != end; it.increment(error)) {
        std::string const name = it->path().filename().string();
        if (name.empty() || name[0] == '.') continue; // hidden entries
        std::error_code status_error;
        if (it->is_directory(status_error)) {
            out.folders.push_back(name);
        } else if (is_ir_file_name(name) && std::find(names.begin(), names.end(), name) == names.end()) {
            names.push_back(name);
        }
    }
    if (error) out.readable = false; // stopped part-way: say so rather than show half a folder
    std::sort(out.folders.begin(), out.folders.end(), stringCompare);
    std::sort(names.begin(), names.end(), stringCompare);

    // Fold each left file and its listed right partner into one entry.
    std::unordered_set<std::string> const listed(names.begin(), names.end());
    std::unordered_set<std::string> partners;
    std::vector<std::pair<std::string, std::string>> pairs;
    for (std::string const& name : names) {
        if (!left_member(name)) continue;
        std::string const partner = get_filename_from_path(check_for_file_pair_file(folder + name));
        if (!partner.empty() && partner != name && listed.count(partner)) {
            pairs.emplace_back(name, partner);
            partners.insert(partner);
        }
    }
    for (std::string const& name : names) {
        if (partners.count(name)) continue;
        auto const pair = std::find_if(pairs.begin(), pairs.end(), [&](auto const& p) { return p.first == name; });
        if (pair != pairs.end()) out.files.push_back({name, pair->second, pair_display(name, pair->second)});
        else out.files.push_back({name, {}, name});
    }
    return out;
}

CIrBrowser::CIrBrowser(CWidget& page, EditorHost& host, std::function<int()> open_slot,
                       std::function<bool(int, std::string const&)> load)
    : host_(host), open_slot_(std::move(open_slot)), load_(std::move(load))
{
    double const w = page.frame().w, h = page.frame().h;
    add_button(page, {pad, 6, 36, line_h}, "Up", [this] { up(); });
    add_button(page, {pad + 36 + button_gap, 6, 48, line_h}, "Home", [this] { home(); });
    path_ = &page.add<CLabel>({0, 6, 10, line_h}, "", Font::small);
    filter_ = &page.add<CTextField>({0, 6, 10, line_h}, "Filter, e.g. hall*96k");
    add_button(page, {w - pad - 2 * 28 - button_gap, 6, 28, line_h}, "\xE2\x97\x80", [this] { step(false); })
        .set_id("browser:previous");
    add_button(page, {w - pad - 28, 6, 28, line_h}, "\xE2\x96\xB6", [this] { step(true); }).set_id("browser:next");
    folders_ = &page.add<CListView>({0, 0, 10, 10});
    files_ = &page.add<CListView>({0, 0, 10, 10});
    layout(w, h);

    filter_->on_change = [this](CTextField& f) {
        filter_text_ = f.text();
        apply_filter();
    };
    folders_->on_activate = [this](CListView&, int row) { activate_folder(row); };
    files_->on_activate = [this](CListView&, int row) { load_entry(row); };
    folders_->set_empty_text("No folders");

    open_folder(start_folder(host_));
}

CIrBrowser::~CIrBrowser() = default;

void CIrBrowser::layout(double w, double h)
{
    double const arrows_x = w - pad - 2 * 28 - button_gap;
    double const filter_w = 200;
    double const filter_x = arrows_x - 8 - filter_w;
    double const path_x = pad + 36 + button_gap + 48 + 10;
    path_->set_frame({path_x, 6, std::max(40.0, filter_x - 10 - path_x), line_h});
    filter_->set_frame({filter_x, 6, filter_w, line_h});
    double const lists_y = 6 + line_h + 6;
    double const lists_h = std::max(CListView::row_height, h - lists_y - 6);
    double const folders_w = std::min(260.0, std::max(120.0, w * 0.26));
    folders_->set_frame({pad, lists_y, folders_w, lists_h});
    files_->set_frame({pad + folders_w + 8, lists_y, std::max(60.0, w - 2 * pad - folders_w - 8), lists_h});
}

std::string CIrBrowser::start_folder(EditorHost& host)
{
    int const mode = setting([] { return extract_data_from_registry_home_pref(); }, 1);
    if (mode == 2) {
        if (std::string const f = user_default_folder(); !f.empty()) return f;
    } else if (mode == 0) {
        std::string const recent = setting([] { return extract_data_from_registry_home_browser_dir(0); }, std::string());
        if (is_folder(recent)) return with_slash(recent);
    }
    std::vector<char> block(program_path_size + 1, '\0');
    host.get_custom_data(custom_data::ir1_file_a, block.data(), program_path_size);
    std::string const current = get_file_path_no_slash(std::string(block.data()));
    if (is_folder(current)) return with_slash(current);
    if (std::string const f = user_default_folder(); !f.empty()) return f;
    return home_folder();
}

void CIrBrowser::open_folder(std::string const& folder)
{
    folder_ = with_slash(folder.empty() ? std::string("/") : folder);
    listing_ = list_ir_folder(folder_);
    std::vector<ListRow> rows;
    if (folder_ != "/") rows.push_back({"..", "up", true, 0});
    for (std::string const& name : listing_.folders) rows.push_back({name, {}, false, 0});
    folders_->set_rows(std::move(rows));
    if (!listing_.readable) set_status(is_folder(folder_) ? "cannot be read" : "folder not found");
    else set_status({});
    apply_filter();
}

void CIrBrowser::refresh()
{
    std::string const keep = files_->selected() >= 0 ? shown_[static_cast<std::size_t>(files_->selected())].name : "";
    open_folder(folder_);
    for (std::size_t i = 0; i < shown_.size(); ++i)
        if (shown_[i].name == keep) files_->select(static_cast<int>(i));
}

void CIrBrowser::up()
{
    std::string const trimmed = folder_.size() > 1 ? folder_.substr(0, folder_.size() - 1) : folder_;
    open_folder(directory_above(trimmed));
}

void CIrBrowser::home()
{
    std::string const f = user_default_folder();
    open_folder(f.empty() ? home_folder() : f);
}

void CIrBrowser::activate_folder(int row)
{
    bool const has_up = folder_ != "/";
    if (has_up && row == 0) {
        up();
        return;
    }
    int const index = row - (has_up ? 1 : 0);
    if (index < 0 || index >= static_cast<int>(listing_.folders.size())) return;
    open_folder(folder_ + listing_.folders[static_cast<std::size_t>(index)] + "/");
}

void CIrBrowser::set_filter(std::string const& filter)
{
    filter_->set_text(filter);
    filter_text_ = filter;
    apply_filter();
}

void CIrBrowser::apply_filter()
{
    shown_.clear();
    for (IrFileEntry const& e : listing_.files)
        if (filter_text_.empty() || check_text_filter(e.name, filter_text_) ||
            (!e.partner.empty() && check_text_filter(e.partner, filter_text_)))
            shown_.push_back(e);
    std::vector<ListRow> rows;
    for (IrFileEntry const& e : shown_) {
        std::error_code error;
        auto const bytes = fs::file_size(folder_ + e.name, error);
        char size[32] = {};
        if (!error) {
            if (bytes < 1024 * 1024) std::snprintf(size, sizeof size, "%llu kB", static_cast<unsigned long long>((bytes + 1023) / 1024));
            else std::snprintf(size, sizeof size, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
        }
        rows.push_back({e.shown, e.partner.empty() ? std::string(size) : "L+R  " + std::string(size), false, 0});
    }
    files_->set_rows(std::move(rows));
    if (!listing_.readable) files_->set_empty_text(is_folder(folder_) ? "Nothing to show: this folder cannot be read"
                                                                     : "Nothing to show: this folder no longer exists");
    else if (listing_.files.empty()) files_->set_empty_text("No impulse-response files in this folder");
    else files_->set_empty_text("No file matches the filter");
}

void CIrBrowser::clear_selection()
{
    files_->clear_selection();
    folders_->clear_selection();
}

bool CIrBrowser::load_entry(int index)
{
    if (index < 0 || index >= static_cast<int>(shown_.size())) return false;
    IrFileEntry const& e = shown_[static_cast<std::size_t>(index)];
    files_->select(index);
    bool const ok = load_ && load_(open_slot_ ? open_slot_() : 1, folder_ + e.name);
    if (!ok) {
        set_status("could not load " + e.name);
        return false;
    }
    if (listing_.readable) set_status({});
    try {
        set_browser_dir_in_registry(0, folder_); // the "Most Recent" start folder
    } catch (std::exception const&) {
        // The browser works without it; the next editor simply starts elsewhere.
    }
    return true;
}

bool CIrBrowser::step(bool forward)
{
    int const count = static_cast<int>(shown_.size());
    if (count == 0) return false;
    int const at = files_->selected();
    int const next = at < 0 ? (forward ? 0 : count - 1) : at + (forward ? 1 : -1);
    if (next < 0 || next >= count) return false;
    return load_entry(next);
}

void CIrBrowser::set_status(std::string text)
{
    status_ = std::move(text);
    std::string const line = status_.empty() ? folder_ : folder_ + "  (" + status_ + ")";
    path_->set_text(fit_tail(line, path_->frame().w - 2));
    path_->set_warning(!status_.empty());
}

std::string CIrBrowser::path_line() const
{
    return status_.empty() ? folder_ : folder_ + "  (" + status_ + ")";
}

} // namespace corvella::editor
