#pragma once

#include "platform/temporary_folder.h"

#include <string>

namespace corvella::test {

// A test's own temporary folder, removed when the test ends.
class TempDir : public TemporaryFolder {
public:
    explicit TempDir(std::string const& prefix = "corvella-test-") : TemporaryFolder(prefix) {}
};

} // namespace corvella::test
