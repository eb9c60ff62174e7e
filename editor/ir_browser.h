#pragma once

// The "Browser" page of the editor's lower pane: impulse-response files of one folder.
//
// The top line holds "Up" and "Home", the folder's path (or why it shows nothing), a text filter
// and the previous/next arrows. Below, the sub-folders on the left (".." first, hidden folders
// left out) and the IR files on the right, in the folder order of the file-pairing rules
// (case-insensitive, recognised extensions only). A true-stereo pair ("Hall L.wav" and
// "Hall R.wav") shows as one entry, "Hall L/R.wav", which stands for its left file: loading it
// lets the editor's load path bring in the partner. A double click or Enter on a file, or an
// arrow, loads it into the IR of the page that is open; on a folder, opens it.
//
// An unreadable or vanished folder lists nothing and says so on the path line; "Up", "Home" and
// ".." still lead out of it.
//
// Threading: UI thread only. The object must live as long as the widgets it put on the page
// (their callbacks point back to it).

#include "editor/editor_host.h"

#include <functional>
#include <string>
#include <vector>

namespace corvella::ui {
class CWidget;
class CLabel;
class CListView;
class CTextField;
class CClickLabel;
} // namespace corvella::ui

namespace corvella::editor {

// One file entry: a single file, or the left file of a pair with its right partner.
struct IrFileEntry {
    std::string name;    // file name (the left file of a pair)
    std::string partner; // the right file's name for a pair, else ""
    std::string shown;   // what the list shows ("Hall L/R.wav" for a pair)
};

struct IrFolderListing {
    bool readable = false;            // false: missing, not a folder, or cannot be listed
    std::vector<std::string> folders; // sub-folder names, hidden ones left out, sorted
    std::vector<IrFileEntry> files;   // IR files, pairs folded into one entry, sorted
};

// The listing of `folder` (with or without a trailing "/").
IrFolderListing list_ir_folder(std::string const& folder);

// True when `name` has one of the recognised IR file extensions (any case).
bool is_ir_file_name(std::string const& name);

class CIrBrowser {
public:
    // `open_slot` says which IR (1 or 2) the open page edits; `load(slot, path)` loads a file into
    // it and returns false when it could not.
    CIrBrowser(ui::CWidget& page, EditorHost& host, std::function<int()> open_slot,
               std::function<bool(int slot, std::string const& path)> load);
    ~CIrBrowser();
    CIrBrowser(CIrBrowser const&) = delete;
    CIrBrowser& operator=(CIrBrowser const&) = delete;

    // Navigation. Folders are kept with a trailing "/".
    void open_folder(std::string const& folder);
    void up();
    void home();
    void refresh(); // lists the current folder again
    std::string const& folder() const { return folder_; }

    void set_filter(std::string const& filter); // as if typed into the filter field
    void clear_selection();

    // Loads file entry `index` of the shown (filtered) list; false when there is none or the
    // load failed.
    bool load_entry(int index);
    // The arrows: selects and loads the next or previous shown file (the first or last when none is
    // selected); false at either end.
    bool step(bool forward);

    // The folder the browser opens in: the settings' choice ("HomePref": the most recent folder,
    // the current IR's folder or the user default), else the folder of the current IR1-A file,
    // else the user default folder, else the home folder.
    static std::string start_folder(EditorHost& host);

    // ---- Inspection (tests and tools) ----
    IrFolderListing const& listing() const { return listing_; }
    std::vector<IrFileEntry> const& shown_files() const { return shown_; }
    std::string path_line() const;
    ui::CListView& file_list() { return *files_; }
    ui::CListView& folder_list() { return *folders_; }
    ui::CTextField& filter_field() { return *filter_; }

private:
    void layout(double w, double h);
    void apply_filter();
    void activate_folder(int row);
    void set_status(std::string text);

    EditorHost& host_;
    std::function<int()> open_slot_;
    std::function<bool(int, std::string const&)> load_;
    std::string folder_;
    std::string filter_text_;
    std::string status_; // after the path: why the list is empty, or a failed load
    IrFolderListing listing_;
    std::vector<IrFileEntry> shown_;

    ui::CLabel* path_ = nullptr;
    ui::CListView* folders_ = nullptr;
    ui::CListView* files_ = nullptr;
    ui::CTextField* filter_ = nullptr;
};

} // namespace corvella::editor
