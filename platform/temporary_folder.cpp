#include "platform/temporary_folder.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace corvella {

TemporaryFolder::TemporaryFolder(std::string const& prefix)
{
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a temporary folder " + pattern);
    path_ = pattern;
}

TemporaryFolder::~TemporaryFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

} // namespace corvella
