#include "platform/atomic_file.h"

#include <fcntl.h>
#include <stdio.h> // renameat2
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>
#include <vector>

namespace corvella {

namespace {

// The test failure point: which step fails, for writes inside which folder.
struct FailurePoint {
    std::mutex mutex;
    bool armed = false;
    AtomicStep step = AtomicStep::write;
    std::string folder; // ends in "/"
};

FailurePoint& failure_point()
{
    static auto* point = new FailurePoint; // never destroyed: writes may run during exit
    return *point;
}

// True (with errno set) when the test failure point makes this step of a write to `file` fail.
bool injected_failure(AtomicStep step, std::filesystem::path const& file)
{
    FailurePoint& point = failure_point();
    std::lock_guard<std::mutex> lock(point.mutex);
    if (!point.armed || point.step != step) return false;
    std::error_code ignored;
    std::string const path = std::filesystem::absolute(file, ignored).lexically_normal().string();
    if (path.compare(0, point.folder.size(), point.folder) != 0) return false;
    point.armed = false;
    errno = EIO;
    return true;
}

std::string error_text(int error_number)
{
    return std::strerror(error_number);
}

bool write_all(int descriptor, void const* data, std::size_t size, std::filesystem::path const& file)
{
    if (injected_failure(AtomicStep::write, file)) return false;
    auto const* next = static_cast<char const*>(data);
    while (size > 0) {
        ssize_t const written = ::write(descriptor, next, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        next += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool flush(int descriptor, std::filesystem::path const& file)
{
    return !injected_failure(AtomicStep::flush, file) && ::fsync(descriptor) == 0;
}

// Makes a rename in `folder` durable.
void sync_folder(std::filesystem::path const& folder)
{
    int const descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return;
    ::fsync(descriptor);
    ::close(descriptor);
}

std::filesystem::path folder_of(std::filesystem::path const& target)
{
    return target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
}

} // namespace

AtomicFile::AtomicFile(std::filesystem::path target, int mode) : target_(std::move(target)), mode_(mode) {}

AtomicFile::~AtomicFile()
{
    abandon();
}

bool AtomicFile::open(std::string& error)
{
    error.clear();
    abandon();
    if (target_.empty() || !target_.has_filename()) {
        error = "no file name";
        return false;
    }
    std::filesystem::path const folder = folder_of(target_);
    if (mode_ < 0) {
        struct stat existing {};
        mode_ = ::stat(target_.c_str(), &existing) == 0 ? static_cast<int>(existing.st_mode & 07777) : 0644;
    }
    // Hidden, beside the target. (Appended piecewise: gcc 12 misreads "." + string as overlapping.)
    std::string hidden(1, '.');
    hidden += target_.filename().string();
    hidden += ".tmp-XXXXXX";
    std::string const pattern = (folder / hidden).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    descriptor_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (descriptor_ < 0) {
        error = "cannot create a temporary file in " + folder.string() + ": " + error_text(errno);
        return false;
    }
    temporary_ = name.data();
    failed_ = false;
    if (::fchmod(descriptor_, static_cast<mode_t>(mode_)) != 0) {
        error = "cannot set the permissions of " + temporary_.string() + ": " + error_text(errno);
        abandon();
        return false;
    }
    return true;
}

bool AtomicFile::write(void const* data, std::size_t size, std::string& error)
{
    if (descriptor_ < 0) {
        error = "the file is not open";
        return false;
    }
    if (!write_all(descriptor_, data, size, target_)) {
        error = "cannot write " + temporary_.string() + ": " + error_text(errno);
        failed_ = true;
        return false;
    }
    return true;
}

bool AtomicFile::commit(std::string& error)
{
    if (descriptor_ < 0) {
        error = "the file is not open";
        return false;
    }
    bool ok = !failed_;
    if (!ok) error = "an earlier write to " + temporary_.string() + " failed";
    if (ok && !flush(descriptor_, target_)) {
        ok = false;
        error = "cannot flush " + temporary_.string() + ": " + error_text(errno);
    }
    if (::close(descriptor_) != 0 && ok) {
        ok = false;
        error = "cannot close " + temporary_.string() + ": " + error_text(errno);
    }
    descriptor_ = -1;
    if (ok && (injected_failure(AtomicStep::rename, target_) || ::rename(temporary_.c_str(), target_.c_str()) != 0)) {
        ok = false;
        error = "cannot replace " + target_.string() + ": " + error_text(errno);
    }
    if (!ok) {
        abandon();
        return false;
    }
    temporary_.clear();
    sync_folder(folder_of(target_));
    return true;
}

void AtomicFile::abandon()
{
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = -1;
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
}

bool write_file_atomically(std::filesystem::path const& target, std::string const& bytes, std::string& error,
                           int mode)
{
    std::filesystem::path const folder = folder_of(target);
    std::error_code folder_error;
    if (target.has_filename()) std::filesystem::create_directories(folder, folder_error);
    if (folder_error) {
        error = "cannot create " + folder.string() + ": " + folder_error.message();
        return false;
    }
    AtomicFile file(target, mode);
    return file.open(error) && file.write(bytes.data(), bytes.size(), error) && file.commit(error);
}

bool write_file_durably(std::filesystem::path const& file, std::string const& bytes, std::string& error, int mode)
{
    int const descriptor = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, static_cast<mode_t>(mode));
    if (descriptor < 0) {
        error = "cannot write " + file.string() + ": " + error_text(errno);
        return false;
    }
    bool ok = write_all(descriptor, bytes.data(), bytes.size(), file);
    if (!ok) error = "cannot write " + file.string() + ": " + error_text(errno);
    if (ok && !flush(descriptor, file)) {
        ok = false;
        error = "cannot flush " + file.string() + ": " + error_text(errno);
    }
    if (::close(descriptor) != 0 && ok) {
        ok = false;
        error = "cannot close " + file.string() + ": " + error_text(errno);
    }
    return ok;
}

bool replace_folder_atomically(std::filesystem::path const& temporary, std::filesystem::path const& target,
                               std::string& error)
{
    std::error_code ignored;
    auto give_up = [&](std::string const& why) {
        error = why;
        std::filesystem::remove_all(temporary, ignored);
        return false;
    };
    sync_folder(temporary);
    if (injected_failure(AtomicStep::rename, target))
        return give_up("cannot move " + temporary.string() + " into " + target.string() + ": " + error_text(errno));
    // A plain rename when there is no folder yet, else an exchange with the old one.
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
        int const first = errno;
        if (first != EEXIST || ::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) != 0)
            return give_up("cannot move " + temporary.string() + " into " + target.string() + ": " +
                           error_text(first == EEXIST ? errno : first));
        if (!std::filesystem::is_directory(temporary, ignored)) { // a file stood there; put it back
            ::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE);
            return give_up(target.string() + " exists and is not a folder");
        }
        std::filesystem::remove_all(temporary, ignored); // the old folder, now at the temporary name
    }
    sync_folder(folder_of(target));
    return true;
}

namespace atomic_file_testing {

void fail_step(AtomicStep step, std::filesystem::path const& folder)
{
    FailurePoint& point = failure_point();
    std::lock_guard<std::mutex> lock(point.mutex);
    point.step = step;
    point.folder = (std::filesystem::absolute(folder).lexically_normal() / "").string();
    point.armed = true;
}

void clear()
{
    FailurePoint& point = failure_point();
    std::lock_guard<std::mutex> lock(point.mutex);
    point.armed = false;
}

} // namespace atomic_file_testing

} // namespace corvella
