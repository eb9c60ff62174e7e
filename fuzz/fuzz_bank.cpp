// Bank files (".fxb"): loading one into an instance (custom data 9; a bank file replaces the whole
// bank, so one instance serves every input), and exporting its raw programs as LV2 presets as the
// bank tool does.
//
// Input: a whole bank file (142,816 bytes; 142,818 when longer), or a shorter patch laid over a
// valid bank file (see corvella::fuzz::overlay).

#include "fuzz/fuzz_support.h"
#include "host/bank_files.h"
#include "host/lv2_preset_export.h"
#include "program/parameter_table.h"
#include "program/vst_plugin_program.h"

#include <cmath>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    corvella::fuzz::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    using namespace corvella;
    static std::string const valid_file = [] {
        std::vector<VST_Plugin_Program> bank(programs_per_bank);
        return bank_file_bytes(bank.data());
    }();
    std::string image = fuzz::overlay(valid_file, data, size);
    if (size > valid_file.size()) image.append(2, '\0'); // the two spare bytes some files carry
    std::string const path = fuzz::write_scratch_file("fuzz.fxb", image.data(), image.size()).string();

    static fuzz::Instance instance;
    instance.parameters.SetCustomData(custom_data::load_bank_file, static_cast<std::uint32_t>(path.size() + 1),
                                      path.c_str());
    for (ParameterRow const& row : parameter_table()) {
        double const value = instance.parameters.return_parameter_float_value(row.key);
        if (!std::isfinite(value) || value < 0.0 || value > 1.0) fuzz::fail("a loaded parameter is not a unity value");
    }

    // The export reads every parameter of a program: only the programs this input changed.
    std::vector<VST_Plugin_Program> raw(programs_per_bank);
    std::memcpy(static_cast<void*>(raw.data()), image.data() + bank_file_header_size, bank_size_bytes);
    char const* const base = valid_file.data() + bank_file_header_size;
    for (int slot = 0; slot < programs_per_bank; ++slot) {
        std::size_t const at = static_cast<std::size_t>(slot) * sizeof(VST_Plugin_Program);
        if (std::memcmp(base + at, reinterpret_cast<char const*>(raw.data()) + at, sizeof(VST_Plugin_Program)) == 0 &&
            slot != 0)
            continue;
        raw[static_cast<std::size_t>(slot)].check_and_upgrade_program(current_program_version); // as the tool does
        Lv2Preset const preset = lv2_preset_of_program(raw.data(), slot);
        for (auto const& [symbol, value] : preset.ports)
            if (!std::isfinite(value) || value < 0.0f || value > 1.0f) fuzz::fail("an exported port is not a unity value");
        (void)lv2_preset_turtle(preset, preset.file_name);
    }
    return 0;
}
