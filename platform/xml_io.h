#pragma once

// CXmlIO: one read or one write of the settings file. Each object loads the whole file when it is
// constructed; SetValue saves the whole file again.
//
// Layout: a declaration with version "1.0", one root element "Registry", and one child element
// per value, named by the key text + ":" + the value name with every "\" turned into ":"
// (HKEY_CURRENT_USER:SOFTWARE:Tarnwick:Corvella:Latency) and holding the value as its only text.
//
// A file that is not empty but cannot be parsed, or whose root is not "Registry", is corrupt:
// reads find nothing in it, and a write first keeps it beside itself as "Corvella.xml.corrupt"
// (telling the user) and then replaces it with a fresh document.
//
// Threading: the object holds the settings-file lock (lock_settings_file()) from construction to
// destruction, so a read-modify-write through one object is never interleaved with another thread
// of this process. Keep objects short-lived.

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

class TiXmlDocument;

class CXmlIO {
public:
    enum class State {
        missing,    // no file yet
        blank,      // an empty file, or blanks only
        valid,      // a "Registry" document
        corrupt,    // content that is not a settings document
        unreadable, // the file exists but cannot be read; it is never replaced
    };

    // Loads the settings file.
    CXmlIO();
    // Loads any file of the same layout.
    explicit CXmlIO(std::filesystem::path file);
    ~CXmlIO();
    CXmlIO(CXmlIO const&) = delete;
    CXmlIO& operator=(CXmlIO const&) = delete;

    // Finds key + ":" + name. If it is there, writes its text (empty when it has none) to `out` and
    // returns true; otherwise returns false and leaves `out` alone.
    bool GetValue(char const* key, char const* name, std::string& out);

    // Stores `text` under key + ":" + name, creating the declaration, the root and the element as
    // needed, and saves the file atomically. False when the names cannot form an element name
    // (letters, digits, "_", "-", "." only), when the file is unreadable or when saving fails.
    bool SetValue(char const* key, char const* name, char const* text);

    State state() const { return state_; }
    std::filesystem::path const& path() const { return path_; }
    // Why the last SetValue failed, for diagnostics.
    std::string const& last_error() const { return last_error_; }

private:
    void load();

    std::unique_lock<std::recursive_mutex> lock_;
    std::filesystem::path path_;
    std::string bytes_;
    std::unique_ptr<TiXmlDocument> document_;
    State state_ = State::missing;
    std::string last_error_;
};

namespace corvella {

// The element name of a value: key + ":" + name with every "\" replaced by ":"; empty when the
// result would not be a name the file can hold.
std::string value_element_name(char const* key, char const* name);

} // namespace corvella
