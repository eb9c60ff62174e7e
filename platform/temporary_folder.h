#pragma once

// A fresh folder under the system's temporary folder, removed with everything in it when the
// object goes out of scope. Offline tools and benchmarks keep their private settings and data in
// one; tests keep their files in one.
//
// Threading: an object belongs to the thread that made it.

#include <filesystem>
#include <string>

namespace corvella {

class TemporaryFolder {
public:
    // Throws std::runtime_error when the folder cannot be made.
    explicit TemporaryFolder(std::string const& prefix = "corvella-");
    ~TemporaryFolder();
    TemporaryFolder(TemporaryFolder const&) = delete;
    TemporaryFolder& operator=(TemporaryFolder const&) = delete;

    std::filesystem::path const& path() const { return path_; }
    std::filesystem::path operator/(std::string const& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

} // namespace corvella
