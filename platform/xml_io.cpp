#include "platform/xml_io.h"

#include "platform/settings_file.h"

#include <tinyxml.h>

#include <cstring>
#include <utility>

namespace {

constexpr char root_name[] = "Registry";

// Corrupt files can nest elements arbitrarily deep, and the parser recurses once per level; a
// settings document is two levels deep, so anything much deeper is refused unparsed.
constexpr int deepest_nesting = 32;

bool nests_too_deep(std::string const& bytes)
{
    int depth = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
        char const c = bytes[i];
        char const next = bytes[i + 1];
        if ((c == '<' && next == '/') || (c == '/' && next == '>')) {
            if (depth > 0) --depth;
        } else if (c == '<' && next != '?' && next != '!') {
            if (++depth > deepest_nesting) return true;
        }
    }
    return false;
}

bool is_name_character(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.';
}

} // namespace

namespace corvella {

std::string value_element_name(char const* key, char const* name)
{
    if (key == nullptr || name == nullptr || key[0] == '\0' || name[0] == '\0') return {};
    std::string element = std::string(key) + ":" + name;
    for (char& c : element)
        if (c == '\\') c = ':';
    // Each ":"-separated part must be a plain name, so that the element reads back as written.
    bool part_start = true;
    for (char const c : element) {
        if (c == ':') {
            if (part_start) return {};
            part_start = true;
            continue;
        }
        if (!is_name_character(c)) return {};
        if (part_start && !((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_')) return {};
        part_start = false;
    }
    return part_start ? std::string() : element;
}

} // namespace corvella

CXmlIO::CXmlIO() : CXmlIO(corvella::settings_file_path()) {}

CXmlIO::CXmlIO(std::filesystem::path file)
    : lock_(corvella::lock_settings_file()), path_(std::move(file)),
      document_(std::make_unique<TiXmlDocument>())
{
    load();
}

CXmlIO::~CXmlIO() = default;

void CXmlIO::load()
{
    if (path_.empty()) {
        state_ = State::unreadable;
        return;
    }
    switch (corvella::read_whole_file(path_, bytes_)) {
    case corvella::FileRead::missing:
        state_ = State::missing;
        return;
    case corvella::FileRead::failed:
        state_ = State::unreadable;
        return;
    case corvella::FileRead::too_large:
        state_ = State::corrupt;
        return;
    case corvella::FileRead::ok:
        break;
    }
    if (corvella::is_blank(bytes_)) {
        state_ = State::blank;
        return;
    }
    if (nests_too_deep(bytes_)) {
        state_ = State::corrupt;
        return;
    }
    // Values are folder and file names: keep their blanks exactly as written.
    TiXmlBase::SetCondenseWhiteSpace(false);
    document_->Parse(bytes_.c_str(), nullptr, TIXML_ENCODING_UTF8);
    TiXmlElement const* root = document_->RootElement();
    if (document_->Error() || root == nullptr || std::strcmp(root->Value(), root_name) != 0) {
        document_->Clear();
        state_ = State::corrupt;
        return;
    }
    state_ = State::valid;
}

bool CXmlIO::GetValue(char const* key, char const* name, std::string& out)
{
    if (state_ != State::valid) return false;
    std::string const element_name = corvella::value_element_name(key, name);
    if (element_name.empty()) return false;
    TiXmlElement const* element = document_->RootElement()->FirstChildElement(element_name.c_str());
    if (element == nullptr) return false;
    char const* text = element->GetText();
    out = text != nullptr ? text : "";
    return true;
}

bool CXmlIO::SetValue(char const* key, char const* name, char const* text)
{
    last_error_.clear();
    std::string const element_name = corvella::value_element_name(key, name);
    if (element_name.empty()) {
        last_error_ = "not a value name the settings file can hold";
        return false;
    }
    if (state_ == State::unreadable) {
        last_error_ = "cannot read " + path_.string();
        return false;
    }

    std::filesystem::path kept_copy;
    if (state_ == State::corrupt) {
        kept_copy = corvella::keep_corrupt_copy(path_, bytes_);
        if (kept_copy.empty()) {
            last_error_ = "cannot keep a copy of the unreadable " + path_.string();
            return false;
        }
        document_->Clear();
    }

    TiXmlElement* root = document_->RootElement();
    if (root == nullptr) {
        document_->Clear();
        document_->LinkEndChild(new TiXmlDeclaration("1.0", "", ""));
        root = static_cast<TiXmlElement*>(document_->LinkEndChild(new TiXmlElement(root_name)));
    }
    TiXmlElement* element = root->FirstChildElement(element_name.c_str());
    if (element == nullptr)
        element = static_cast<TiXmlElement*>(root->LinkEndChild(new TiXmlElement(element_name.c_str())));
    element->Clear();
    element->LinkEndChild(new TiXmlText(text != nullptr ? text : ""));

    TiXmlPrinter printer;
    document_->Accept(&printer);
    std::string const bytes(printer.CStr(), printer.Size());
    if (!corvella::write_file_atomically(path_, bytes, last_error_)) {
        // The document in memory no longer matches the file; reload so later calls see the disk.
        document_->Clear();
        load();
        return false;
    }
    bytes_ = bytes;
    state_ = State::valid;
    if (!kept_copy.empty()) corvella::report_corrupt_file_replaced(path_, kept_copy);
    return true;
}
