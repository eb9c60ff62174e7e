#include "host/bank_files.h"

#include "program/parameter_application.h"
#include "program/program_constants.h"
#include "platform/atomic_file.h"
#include "platform/paths.h"
#include "platform/settings_file.h"
#include "platform/settings_store.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <exception>
#include <filesystem>
#include <vector>

namespace corvella {

namespace {

constexpr int recent_entries = 10;
constexpr std::size_t exported_program_bytes = 2968; // the record without its current-program word

void put_be32(std::string& bytes, std::size_t at, std::uint32_t value)
{
    for (int k = 0; k < 4; ++k)
        bytes[at + static_cast<std::size_t>(k)] = static_cast<char>((value >> (24 - 8 * k)) & 0xffu);
}

void put_text(std::string& bytes, std::size_t at, char const* text)
{
    std::memcpy(bytes.data() + at, text, std::strlen(text));
}

// The tfx wrapper around a bank image.
std::string tfx_wrapped(VST_Plugin_Program const* bank)
{
    static unsigned char const lead[8] = {0x00, 0x02, 0x2D, 0x7A, 0x00, 0x00, 0x00, 0x01};
    std::string bytes(tfx_file_size, '\0');
    std::memcpy(bytes.data(), lead, sizeof lead);
    put_text(bytes, 8, "TqwkCv1mCv1mAll ");
    bytes[24] = 11;
    put_text(bytes, 25, "VST Plug-In");
    std::memcpy(bytes.data() + 56, static_cast<void const*>(bank), bank_size_bytes);
    return bytes;
}

} // namespace

std::array<FactoryBank, 4> const factory_banks{{
    {"Static and Modulated Selection Set 1", "Corvella_Initial_presets.fxb"},
    {"Static and Modulated Selection Set 2", "Corvella Presets Modulated using Factory 2 44k.fxb"},
    {"Customisable Early Reflections Set", "Corvella Presets ER Enhanced using Factory 2 44k.fxb"},
    {"Customisable Synthetic Tails Set", "Corvella Presets Tails Enhanced.fxb"},
}};

std::string bank_file_save_path(std::string const& chosen)
{
    if (chosen.size() < 4) return {};
    std::string ending = chosen.substr(chosen.size() - 4);
    std::transform(ending.begin(), ending.end(), ending.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ending == ".fxb" ? chosen : chosen + ".fxb";
}

std::string bank_file_bytes(VST_Plugin_Program* bank)
{
    for (int slot = 0; slot < programs_per_bank; ++slot) {
        bank[slot].version_stamp = exported_format_stamp;
        bank[slot].current_program = 0;
    }
    std::string bytes(bank_file_header_size + bank_size_bytes, '\0');
    put_text(bytes, 0, "CcnK");
    put_be32(bytes, 4, static_cast<std::uint32_t>(bytes.size() - 8));
    put_text(bytes, 8, "FBCh");
    put_be32(bytes, 12, 1);
    put_text(bytes, 16, "p438");
    put_be32(bytes, 20, 0);
    put_be32(bytes, 24, static_cast<std::uint32_t>(programs_per_bank));
    put_be32(bytes, 28, static_cast<std::uint32_t>(bank[0].current_program));
    put_be32(bytes, 156, static_cast<std::uint32_t>(bank_size_bytes));
    std::memcpy(bytes.data() + bank_file_header_size, static_cast<void const*>(bank), bank_size_bytes);
    return bytes;
}

bool save_bank_file(std::string const& path, VST_Plugin_Program* bank, std::string& error)
{
    if (path.empty()) {
        error = "no file name";
        return false;
    }
    return write_file_atomically(path, bank_file_bytes(bank), error);
}

void add_recent_bank_file(std::string const& path)
{
    // An entry a fresh settings file has never held reads as empty, not as the end of the list.
    auto entry = [](int k) {
        try {
            return extract_data_from_registry_preset_recent_file(k);
        } catch (std::exception const&) {
            return std::string();
        }
    };
    try {
        int place = recent_entries - 1;
        for (int k = 0; k < recent_entries; ++k)
            if (entry(k) == path) place = k;
        for (int k = place; k >= 1; --k) {
            std::string const above = entry(k - 1);
            if (!above.empty()) set_browser_preset_recent_in_registry(k, above);
        }
        set_browser_preset_recent_in_registry(0, path);
    } catch (std::exception const&) {
        // The list stays as far as it got; the bank itself is loaded either way.
    }
}

std::string user_bank_slot_path(int n)
{
    if (n < 1 || n > user_bank_slots) return {};
    std::string path;
    try {
        path = extract_data_from_registry_user_fxb(n - 1);
    } catch (std::exception const&) {
        return {};
    }
    std::error_code error;
    std::filesystem::path const file(path);
    if (path.empty() || !std::filesystem::is_regular_file(file, error) || file.extension() != ".fxb") return {};
    return path;
}

std::string user_bank_slot_label(int n)
{
    std::string const path = user_bank_slot_path(n);
    return std::to_string(n) + ": " + (path.empty() ? std::string("Empty") : std::filesystem::path(path).filename().string());
}

void set_user_bank_slot(int n, std::string const& path)
{
    if (n >= 1 && n <= user_bank_slots) set_user_fxb_in_registry(n - 1, path);
}

void clear_user_bank_slot(int n)
{
    set_user_bank_slot(n, "");
}

void clear_bank(VST_Plugin_Program* bank)
{
    VST_Plugin_Program const fresh;
    for (int slot = 0; slot < programs_per_bank; ++slot)
        std::memcpy(static_cast<void*>(&bank[slot]), &fresh, sizeof fresh);
    bank[0].current_program = 0;
}

std::string factory_banks_folder()
{
    std::string const library = library_folder();
    return library.empty() ? std::string() : library + "Audio/Impulse Responses/Tarnwick/Corvella/Banks/";
}

std::string factory_bank_path(int index)
{
    if (index < 0 || index >= static_cast<int>(factory_banks.size())) return {};
    std::string const folder = factory_banks_folder();
    return folder.empty() ? std::string() : folder + factory_banks[static_cast<std::size_t>(index)].file_name;
}

std::string tfx_bytes(VST_Plugin_Program const* bank, bool wet)
{
    std::vector<VST_Plugin_Program> copy(bank, bank + programs_per_bank);
    if (wet)
        for (auto& program : copy)
            program.master_mix = 1.0f;
    return tfx_wrapped(copy.data());
}

std::string program_tfx_bytes(VST_Plugin_Program const& program, bool wet)
{
    std::vector<VST_Plugin_Program> bank(programs_per_bank);
    for (auto& record : bank)
        record.version_stamp = exported_format_stamp;
    std::memcpy(static_cast<void*>(&bank[0]), &program, exported_program_bytes);
    if (wet) bank[0].master_mix = 1.0f;
    return tfx_wrapped(bank.data());
}

std::string tfx_file_name(VST_Plugin_Program const& program)
{
    std::string name(program.name, strnlen(program.name, sizeof program.name));
    while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back())))
        name.pop_back();
    return name + ".tfx";
}

} // namespace corvella
