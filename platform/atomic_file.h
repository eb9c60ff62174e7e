#pragma once

// Files that are replaced whole or not at all. The bytes go to a temporary file beside the target
// (".<name>.tmp-XXXXXX", in the same folder so that the rename cannot cross file systems), which is
// flushed to the disk and then renamed over the target. Until the rename, and whenever a step
// fails, the target keeps its old content, and a failed or abandoned write leaves no temporary
// file behind.
//
// Threading: an AtomicFile belongs to one thread; the free functions keep no state but the test
// failure point below, which is process-wide and may be armed from any thread.

#include <cstddef>
#include <filesystem>
#include <string>

namespace corvella {

// The steps a write can fail at.
enum class AtomicStep {
    write,  // putting bytes into the temporary file
    flush,  // fsync of the temporary file
    rename, // putting it in place of the target
};

class AtomicFile {
public:
    // `mode`: permissions of the new file; -1 keeps those of the file it replaces (0644 when none).
    explicit AtomicFile(std::filesystem::path target, int mode = -1);
    ~AtomicFile(); // abandons a file that was not committed
    AtomicFile(AtomicFile const&) = delete;
    AtomicFile& operator=(AtomicFile const&) = delete;

    // Creates the temporary file; the target's folder must exist.
    bool open(std::string& error);
    // Writes at the descriptor's current position. After a failed write, commit() refuses.
    bool write(void const* data, std::size_t size, std::string& error);
    // The temporary file's descriptor (for seeking and reading back); -1 when not open.
    int descriptor() const { return descriptor_; }
    std::filesystem::path const& temporary() const { return temporary_; }

    // Flushes the temporary file to the disk, closes it, renames it over the target and makes the
    // rename durable. On failure the temporary file is removed.
    bool commit(std::string& error);
    // Removes the temporary file; the target stays as it was.
    void abandon();

private:
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    int mode_;
    int descriptor_ = -1;
    bool failed_ = false;
};

// The whole write in one call: creates the target's folder when it is missing, then open, write
// `bytes`, commit. False with `error` on any failure.
bool write_file_atomically(std::filesystem::path const& target, std::string const& bytes, std::string& error,
                           int mode = -1);

// For a writer that builds a whole folder in a temporary folder of its own: writes `file` and
// flushes it to the disk (the write and flush steps), without a rename.
bool write_file_durably(std::filesystem::path const& file, std::string const& bytes, std::string& error,
                        int mode = 0644);

// Puts the complete folder `temporary` in place of the folder `target` in one rename (the rename
// step): a plain rename when there is no target yet, else an exchange with the old folder, which is
// then removed. On failure `target` is as it was and `temporary` is removed.
bool replace_folder_atomically(std::filesystem::path const& temporary, std::filesystem::path const& target,
                               std::string& error);

namespace atomic_file_testing {

// Makes the next `step` of a write to a file inside `folder` (at any depth) fail as a full disk or
// a failing rename would (EIO); the point then disarms itself. For tests only.
void fail_step(AtomicStep step, std::filesystem::path const& folder);
// Disarms the failure point.
void clear();

} // namespace atomic_file_testing

} // namespace corvella
