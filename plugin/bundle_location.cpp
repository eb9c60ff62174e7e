#include "plugin/bundle_location.h"

#include <dlfcn.h>

#include <string>
#include <system_error>

namespace corvella::plugin {

std::filesystem::path module_path()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void const*>(&module_path), &info) == 0 || info.dli_fname == nullptr)
        return {};
    std::error_code error;
    std::filesystem::path const path = std::filesystem::canonical(info.dli_fname, error);
    return error ? std::filesystem::path(info.dli_fname) : path;
}

std::filesystem::path bundle_resources_folder_for(std::filesystem::path const& module)
{
    std::filesystem::path const folder = module.parent_path();
    std::string const name = folder.filename().string();
    bool const architecture_folder = name.size() > 6 && name.ends_with("-linux");
    if (architecture_folder && folder.parent_path().filename() == "Contents")
        return folder.parent_path() / "Resources";
    return folder / "resources";
}

} // namespace corvella::plugin
