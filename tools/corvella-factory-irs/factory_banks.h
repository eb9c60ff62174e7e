#pragma once

// The four factory banks, made from the factory impulse responses and the generators: 48 named
// programs each, written as bank files into the Banks folder beside the responses. The programs
// point at the responses by absolute path below the folder they are written for; a bank moved
// elsewhere finds them again through lost-file repair.

#include "program/vst_plugin_program.h"

#include <filesystem>
#include <vector>

namespace corvella::factory {

// Bank `index` (0..3, in the order of the factory-bank menu) for responses below `root`.
std::vector<VST_Plugin_Program> factory_bank(int index, std::filesystem::path const& root);

// Writes the four banks into root / "Banks"; returns the files written. Throws std::runtime_error
// naming a file that could not be written.
std::vector<std::filesystem::path> write_factory_banks(std::filesystem::path const& root);

} // namespace corvella::factory
