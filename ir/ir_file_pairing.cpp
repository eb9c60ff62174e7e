#include "ir/ir_file_pairing.h"

#include "ir/audio_file_loader.h" // check_filename_extension

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace {

// A path cut for the side-tag tests: everything up to the last separator, the name up to and
// including its last "." (the stem) and the extension after it. A path without a separator
// keeps its first character as the folder part and a name without a "." its first character as
// the stem, so that folder + stem + extension always gives the path back.
struct TaggedName {
    std::string folder;
    std::string stem;
    std::string extension;
};

TaggedName split_tagged(std::string const& path)
{
    TaggedName parts;
    std::size_t const separator = path.find_last_of("/\\");
    std::size_t const name_start = separator == std::string::npos ? std::min<std::size_t>(1, path.size())
                                                                  : separator + 1;
    parts.folder = path.substr(0, name_start);
    std::string const name = path.substr(name_start);
    std::size_t const dot = name.rfind('.');
    std::size_t const stem_end = dot == std::string::npos ? std::min<std::size_t>(1, name.size()) : dot + 1;
    parts.stem = name.substr(0, stem_end);
    parts.extension = name.substr(stem_end);
    return parts;
}

struct Tag {
    std::string_view tag;
    std::string_view partner; // empty for the one-sided tests
    std::size_t min_stem;
};

// In the order they are tried: short tags, then the five-character words, then the six.
constexpr std::array pair_tags{
    Tag{"L.", "R.", 3},         Tag{"R.", "L.", 3},         Tag{"l.", "r.", 3},         Tag{"r.", "l.", 3},
    Tag{"Left.", "Right.", 6},  Tag{"left.", "right.", 6},  Tag{"LEFT.", "RIGHT.", 6},  Tag{"Right.", "Left.", 7},
    Tag{"right.", "left.", 7},  Tag{"RIGHT.", "LEFT.", 7},
};
constexpr std::array left_tags{Tag{"l.", "", 4}, Tag{"L.", "", 4}, Tag{"left.", "", 6}, Tag{"Left.", "", 6},
                               Tag{"LEFT.", "", 6}};
constexpr std::array right_tags{Tag{"r.", "", 4}, Tag{"R.", "", 4}, Tag{"right.", "", 7}, Tag{"Right.", "", 7},
                                Tag{"RIGHT.", "", 7}};
constexpr std::array centre_tags{Tag{"c.", "", 4},       Tag{"C.", "", 4},       Tag{"centre.", "", 8},
                                 Tag{"Centre.", "", 8},  Tag{"center.", "", 8},  Tag{"Center.", "", 8},
                                 Tag{"CENTRE.", "", 8},  Tag{"CENTER.", "", 8}};

template <std::size_t N> Tag const* matching_tag(std::array<Tag, N> const& tags, std::string const& stem)
{
    for (Tag const& tag : tags)
        if (stem.size() >= tag.min_stem && stem.ends_with(tag.tag)) return &tag;
    return nullptr;
}

template <std::size_t N> bool has_tag(std::array<Tag, N> const& tags, std::string const& path)
{
    return matching_tag(tags, split_tagged(path).stem) != nullptr;
}

std::string lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool is_ir_file_name(std::string const& name)
{
    static constexpr std::array<char const*, 8> extensions{".wav", ".aif", ".sd2", ".wir",
                                                           ".fir", ".flac", ".aiff", ".sdir"};
    return std::any_of(extensions.begin(), extensions.end(),
                       [&](char const* extension) { return check_filename_extension(name, extension); });
}

std::string join(std::string const& folder, std::string const& name)
{
    return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

// Folders a tree search does not enter: hidden ones, the recycle bins and volume records of
// disks formatted elsewhere.
bool skipped_folder(std::string const& name)
{
    return name.starts_with('.') || name.starts_with('$') || name.starts_with("RECYCLER") ||
           name.starts_with("System Volume Information");
}

void add_unique(std::vector<std::string>& names, std::string const& name)
{
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
}

} // namespace

std::string check_for_file_pair_file(std::string const& path)
{
    if (path.empty()) return {};
    TaggedName const parts = split_tagged(path);
    Tag const* tag = matching_tag(pair_tags, parts.stem);
    if (tag == nullptr) return {};
    std::string partner = parts.folder + parts.stem.substr(0, parts.stem.size() - tag->tag.size()) +
                          std::string(tag->partner) + parts.extension;
    return check_file_path(partner) ? partner : std::string();
}

bool check_for_file_this_is_left_file(std::string const& path)
{
    return has_tag(left_tags, path);
}

bool check_for_file_this_is_right_file(std::string const& path)
{
    return has_tag(right_tags, path);
}

bool check_for_file_this_is_centre_file(std::string const& path)
{
    return has_tag(centre_tags, path);
}

std::string get_next_prev_file(std::string const& path, bool forward)
{
    std::size_t const separator = path.rfind('/');
    std::string const folder = separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
    std::string const current = path.substr(folder.size());
    if (folder.empty()) return {};

    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        if (is_ir_file_name(name)) add_unique(names, name);
    }
    std::sort(names.begin(), names.end(), stringCompare);

    auto const found = std::find(names.rbegin(), names.rend(), current);
    if (found == names.rend()) return {};
    auto const index = static_cast<std::ptrdiff_t>(names.size()) - 1 - (found - names.rbegin());
    std::ptrdiff_t const next = index + (forward ? 1 : -1);
    if (next < 0 || next >= static_cast<std::ptrdiff_t>(names.size())) return {};
    return folder + names[static_cast<std::size_t>(next)];
}

std::string recursive_file_search(std::string const& lost_path, std::string const& folder, int depth,
                                  bool match_parent)
{
    std::string const lost = swap_backslash_for_forwardslash(lost_path);
    if (folder.size() <= 1) return {};
    std::string const lost_name = get_filename_from_path(lost);
    std::string const lost_parent = get_filename_from_path(get_file_path_no_slash(lost));

    std::vector<std::string> folders;
    std::vector<std::string> files;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::string const name = it->path().filename().string();
        std::error_code status_error;
        if (it->is_directory(status_error)) {
            // A link to a folder could lead back up the tree.
            if (!it->is_symlink(status_error) && !skipped_folder(name)) add_unique(folders, name);
        } else {
            add_unique(files, name);
        }
    }
    std::sort(folders.begin(), folders.end(), stringCompare_for_recursive);
    std::sort(files.begin(), files.end(), stringCompare_for_recursive);

    for (std::string const& name : files) {
        if (name != lost_name) continue;
        std::string const candidate = join(folder, name);
        if (!check_file_path(candidate)) continue;
        if (!match_parent || get_filename_from_path(get_file_path_no_slash(candidate)) == lost_parent)
            return candidate;
    }
    if (depth >= 1) {
        for (std::string const& name : folders) {
            std::string found = recursive_file_search(lost, join(folder, name), depth - 1, match_parent);
            if (check_file_path(found)) return found;
        }
    }
    return {};
}

bool stringCompare(std::string const& a, std::string const& b)
{
    std::size_t const common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        int const x = std::tolower(static_cast<unsigned char>(a[i]));
        int const y = std::tolower(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

bool stringCompare_for_recursive(std::string const& a, std::string const& b)
{
    return stringCompare(a, b);
}

bool check_text_filter(std::string const& text, std::string const& filter)
{
    std::string const haystack = lower(text);
    for (std::string const& token : Tokenize(lower(filter), "*"))
        if (haystack.find(token) == std::string::npos) return false;
    return true;
}

std::vector<std::string> Tokenize(std::string const& text, std::string const& delimiters)
{
    std::vector<std::string> tokens;
    std::size_t start = 0;
    for (;;) {
        std::size_t const stop = text.find_first_of(delimiters, start);
        tokens.push_back(text.substr(start, stop == std::string::npos ? std::string::npos : stop - start));
        if (stop == std::string::npos) return tokens;
        start = stop + 1;
    }
}

std::string crop_file_name(std::string const& name, int width)
{
    if (name.size() < 6) return {};
    std::size_t const limit = static_cast<std::size_t>(std::max(width, 0));
    if (name.size() <= limit) return name;
    std::size_t const tail = static_cast<std::size_t>(std::max(width - 3, 0));
    return name.substr(0, 3) + "..." + name.substr(name.size() - tail);
}

std::string swap_backslash_for_forwardslash(std::string const& path)
{
    std::string result = path;
    std::replace(result.begin(), result.end(), '\\', '/');
    return result;
}

std::string directory_above(std::string const& folder)
{
    std::size_t const separator = folder.rfind('/');
    if (separator == std::string::npos || separator == 0) return "/";
    return folder.substr(0, separator);
}

std::string get_file_path(std::string const& path)
{
    std::size_t separator = path.rfind('/');
    if (separator == std::string::npos) separator = path.rfind('\\');
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

std::string get_file_path_no_slash(std::string const& path)
{
    std::size_t const separator = path.rfind('/');
    return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

std::string get_filename_from_path_mac(std::string const& path)
{
    std::size_t const separator = path.rfind('/');
    return separator == std::string::npos ? std::string() : path.substr(separator + 1);
}

std::string get_filename_from_path(std::string const& path)
{
    std::string name = get_filename_from_path_mac(path);
    if (!name.empty()) return name;
    std::size_t const separator = path.rfind('\\');
    return separator == std::string::npos ? std::string() : path.substr(separator + 1);
}

std::string get_filename_from_path_no_ext(std::string const& path)
{
    std::string const name = get_filename_from_path(path);
    std::size_t const dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? std::string() : name.substr(0, dot);
}

std::string get_filename_from_path_no_ext_lr_tidy(std::string const& path)
{
    std::string name = get_filename_from_path_no_ext(path);
    if (name.size() >= 4 && (name.back() == 'L' || name.back() == 'R')) name.pop_back();
    return name;
}

std::string get_filename_extension(std::string const& path)
{
    std::size_t const dot = path.rfind('.');
    return dot == std::string::npos ? std::string() : path.substr(dot + 1);
}

bool check_file_path(std::string const& path)
{
    if (path.empty()) return false;
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}
