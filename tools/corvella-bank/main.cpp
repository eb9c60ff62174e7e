// corvella-bank: looks into bank files, repairs their impulse-response paths and exports their
// programs as LV2 presets.
//   corvella-bank list BANK
//   corvella-bank repair BANK [--search DIR]... [--out FILE]
//   corvella-bank export-lv2 BANK [PROGRAM]

#include "host/bank_files.h"
#include "host/lv2_preset_export.h"
#include "ir/ir_file_pairing.h"
#include "platform/lost_file_repair.h"
#include "platform/paths.h"
#include "platform/settings_file.h"
#include "program/parameter_application.h"
#include "tools/tool_exit.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace corvella::tools; // exit codes

char const usage[] =
    "Usage: corvella-bank list BANK\n"
    "       corvella-bank repair BANK [--search DIR]... [--out FILE]\n"
    "       corvella-bank export-lv2 BANK [PROGRAM]\n"
    "\n"
    "list    every program of the bank file: its number, name and impulse-response files, each\n"
    "        marked \"(missing)\" when it names no file.\n"
    "repair  looks for every missing file by name: in the --search folders and their sub-folders\n"
    "        (in the order given), then where Corvella itself looks (the factory folders, the\n"
    "        lost-file locations and search folders of the settings, the same path on other mounted\n"
    "        volumes). Writes the repaired bank to FILE (default: over BANK), whole or not at all,\n"
    "        and lists the files still missing.\n"
    "export-lv2  writes program PROGRAM (0 to 47, as list numbers them) or every program of the\n"
    "        bank as LV2 presets of Corvella, in the bundle $HOME/.lv2/corvella-<bank>.preset.lv2\n"
    "        (corvella-<bank>-<PROGRAM>.preset.lv2 for one program), replacing it whole.\n"
    "\n"
    "Exit status: 0 done; 1 bad command or option; 2 BANK missing or not a bank file; 3 the\n"
    "output cannot be written.\n";

int fail(int code, std::string const& message)
{
    return corvella::tools::fail("corvella-bank", code, message);
}

struct Bank {
    std::string bytes; // the whole file: header, image, and the two spare bytes of some files
    VST_Plugin_Program* records() { return reinterpret_cast<VST_Plugin_Program*>(bytes.data() + corvella::bank_file_header_size); }
};

bool read_bank(std::string const& path, Bank& bank, std::string& error)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot read '" + path + "'";
        return false;
    }
    bank.bytes.assign(std::istreambuf_iterator<char>(file), {});
    std::size_t const size = bank.bytes.size();
    if ((size != 142816 && size != 142818) || bank.bytes.compare(0, 4, "CcnK") != 0 ||
        bank.bytes.compare(8, 4, "FBCh") != 0) {
        error = "'" + path + "' is not a bank file (" + std::to_string(size) + " bytes; a bank file has 142816 and starts with \"CcnK\")";
        return false;
    }
    return true;
}

// A program's path fields with their labels.
struct PathField {
    char const* label;
    char* text;
};
std::vector<PathField> path_fields(VST_Plugin_Program& p)
{
    return {{"IR1-A", p.ir1_file_a}, {"IR1-B", p.ir1_file_b}, {"IR2-A", p.ir2_file_a}, {"IR2-B", p.ir2_file_b}};
}

std::string text_of(char const* field)
{
    return std::string(field, strnlen(field, corvella::program_path_size));
}

bool missing(std::string const& path)
{
    std::error_code error;
    return !path.empty() && !std::filesystem::is_regular_file(path, error);
}

int list(Bank& bank)
{
    for (int slot = 0; slot < corvella::programs_per_bank; ++slot) {
        VST_Plugin_Program& p = bank.records()[slot];
        std::printf("%2d  %s\n", slot, std::string(p.name, strnlen(p.name, sizeof p.name)).c_str());
        for (PathField const& f : path_fields(p)) {
            std::string const path = text_of(f.text);
            if (!path.empty()) std::printf("      %s  %s%s\n", f.label, path.c_str(), missing(path) ? "  (missing)" : "");
        }
    }
    return exit_ok;
}

int repair(Bank& bank, std::vector<std::string> const& search, std::string const& out)
{
    std::vector<std::string> lost_locations;
    std::string const factory = corvella::library_folder() + "Audio/Impulse Responses/Tarnwick/Corvella/";
    for (char const* folder : {"Factory/", "Factory 2/"})
        lost_locations.push_back(factory + folder + "anyoldfile.wav");
    corvella::LostFilePrompt prompt;
    prompt.ask = false; // a command line lists what is still missing instead of asking
    for (int slot = 0; slot < corvella::programs_per_bank; ++slot) {
        VST_Plugin_Program& p = bank.records()[slot];
        for (PathField const& f : path_fields(p)) {
            std::string const path = text_of(f.text);
            if (!missing(path)) continue;
            for (std::string const& folder : search) {
                std::string const found = recursive_file_search(path, folder, 99, false);
                if (found.empty() || found.size() >= corvella::program_path_size) continue;
                std::memset(f.text, 0, corvella::program_path_size);
                std::memcpy(f.text, found.data(), found.size());
                break;
            }
        }
        corvella::check_and_repair_lost_files_in_program(p, lost_locations, prompt, false);
        for (PathField const& f : path_fields(p))
            if (missing(text_of(f.text)))
                std::printf("still missing: program %d %s %s\n", slot, f.label, text_of(f.text).c_str());
    }
    std::string error;
    if (!corvella::write_file_atomically(out, bank.bytes, error)) return fail(exit_output, out + ": " + error);
    std::printf("%s written\n", out.c_str());
    return exit_ok;
}

int export_lv2(Bank& bank, std::string const& bank_path, std::optional<int> slot)
{
    char const* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') return fail(exit_output, "HOME is not set to a folder, so there is no ~/.lv2");
    // As the plug-in brings them up to date when it takes the record, so that the ports agree.
    for (int s = 0; s < corvella::programs_per_bank; ++s)
        bank.records()[s].check_and_upgrade_program(corvella::current_program_version);
    std::vector<corvella::Lv2Preset> presets;
    for (int s = 0; s < corvella::programs_per_bank; ++s)
        if (!slot || *slot == s) presets.push_back(corvella::lv2_preset_of_program(bank.records(), s));
    std::filesystem::path const bundle =
        std::filesystem::path(home) / ".lv2" / corvella::lv2_preset_bundle_name(bank_path, slot);
    std::string error;
    if (!corvella::write_lv2_preset_bundle(bundle, presets, error)) return fail(exit_output, error);
    std::printf("%s written (%zu preset%s)\n", bundle.c_str(), presets.size(), presets.size() == 1 ? "" : "s");
    return exit_ok;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> const arguments(argv + 1, argv + argc);
    if (arguments.empty() || arguments[0] == "--help") {
        std::fputs(usage, arguments.empty() ? stderr : stdout);
        return arguments.empty() ? exit_usage : exit_ok;
    }
    std::string const& command = arguments[0];
    if (command != "list" && command != "repair" && command != "export-lv2") return fail(exit_usage, "unknown command '" + command + "' (see --help)");
    if (arguments.size() < 2) return fail(exit_usage, command + " needs a BANK");
    std::string const path = arguments[1];
    std::vector<std::string> search;
    std::string out = path;
    std::optional<int> slot;
    std::size_t first_option = 2;
    if (command == "export-lv2" && arguments.size() > 2) {
        std::string const& text = arguments[2];
        bool const digits = !text.empty() && text.size() <= 2 &&
                            text.find_first_not_of("0123456789") == std::string::npos;
        if (!digits || std::stoi(text) >= corvella::programs_per_bank)
            return fail(exit_usage, "PROGRAM must be a number from 0 to 47, got '" + text + "'");
        slot = std::stoi(text);
        first_option = 3;
    }
    for (std::size_t i = first_option; i < arguments.size(); ++i) {
        bool const has_value = i + 1 < arguments.size();
        if (command == "repair" && arguments[i] == "--search" && has_value) {
            std::error_code error;
            if (!std::filesystem::is_directory(arguments[i + 1], error))
                return fail(exit_usage, "--search needs a folder, got '" + arguments[i + 1] + "'");
            search.push_back(arguments[++i]);
        } else if (command == "repair" && arguments[i] == "--out" && has_value) {
            out = arguments[++i];
        } else {
            return fail(exit_usage, "unexpected '" + arguments[i] + "' (see --help)");
        }
    }
    Bank bank;
    std::string error;
    if (!read_bank(path, bank, error)) return fail(exit_input, error);
    if (command == "export-lv2") return export_lv2(bank, path, slot);
    return command == "list" ? list(bank) : repair(bank, search, out);
}
