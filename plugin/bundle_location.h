#pragma once

// Where the loaded plug-in module sits, and the resources folder of its bundle, where the default
// settings file is installed:
//   LV2   <name>.lv2/<name>_dsp.so                 -> <name>.lv2/resources/
//   VST3  <name>.vst3/Contents/<arch>-linux/x.so   -> <name>.vst3/Contents/Resources/
//   CLAP  <folder>/<name>.clap                     -> <folder>/resources/
// The JACK standalone is no bundle: it finds its files through the executable's share folder.
//
// Threading: any thread.

#include <filesystem>

namespace corvella::plugin {

// The file of the module (shared object or executable) that contains this code; empty when the
// loader cannot tell.
std::filesystem::path module_path();

// The resources folder for a module file laid out as above.
std::filesystem::path bundle_resources_folder_for(std::filesystem::path const& module);

} // namespace corvella::plugin
