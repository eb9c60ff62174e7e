// corvella-lv2-program-list FILE: writes the LV2 bundle's presets.ttl, the host's list of the 48
// program slots (see CorvellaPlugin::initProgramName). Run after the bundle's own description is
// generated, whose presets would otherwise carry the whole state each.

#include "host/lv2_preset_export.h"
#include "platform/settings_file.h"
#include "program/program_constants.h"
#include "program/vst_plugin_program.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("Usage: corvella-lv2-program-list FILE\n", stderr);
        return 1;
    }
    // The start-up bank holds reset records; an instance names its slots from its own bank.
    VST_Plugin_Program const fresh;
    std::vector<std::string> const names(corvella::programs_per_bank,
                                         std::string(fresh.name, strnlen(fresh.name, sizeof fresh.name)));
    std::string error;
    if (!corvella::write_file_atomically(argv[1], corvella::lv2_program_list_turtle(names), error)) {
        std::fprintf(stderr, "corvella-lv2-program-list: %s: %s\n", argv[1], error.c_str());
        return 3;
    }
    return 0;
}
