// State of the parameters object: the chunk, the custom-data blocks, bank files, the start-up bank
// and the command menus of the editor.

#include "host/demogain_parameters.h"

#include "platform/lost_file_repair.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "program/program_constants.h"
#include "program/program_sanitise.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <string_view>

using corvella::Request;
namespace host = corvella::host;
namespace custom_data = corvella::custom_data;

namespace {

constexpr std::uint8_t one = 1;
constexpr std::size_t status_size = corvella::engine_status_size;

bool accepted_chunk(host::TypeId id)
{
    return id == corvella::chunk_id_all || id == corvella::chunk_id_elck;
}

// The path slot of custom data 14..17.
char* path_slot(VST_Plugin_Program& program, int id)
{
    switch (id) {
    case 14:
        return program.ir1_file_a;
    case 15:
        return program.ir1_file_b;
    case 16:
        return program.ir2_file_a;
    default:
        return program.ir2_file_b;
    }
}

// The program slot of custom data 10..13 and 18..43, and the request its set raises.
struct SlotBlock {
    corvella::ProgramSlot slot;
    char const* request; // null for the host data words
    bool from_float;     // the block holds a float that is truncated into the integer slot
};

SlotBlock slot_block(int id)
{
    using P = VST_Plugin_Program;
    static char const* const full1 = "force_full_recompute_IR1";
    static char const* const full2 = "force_full_recompute_IR2";
    static char const* const delay_master = "force_master_delay_recompute";
    static char const* const delay1 = "force_ir1_delay_recompute";
    static char const* const delay2 = "force_ir2_delay_recompute";
    switch (id) {
    case 10:
        return {&P::host_data_1, nullptr, false};
    case 11:
        return {&P::host_data_3, nullptr, false};
    case 12:
        return {&P::host_data_2, nullptr, false};
    case 13:
        return {&P::host_data_4, nullptr, false};
    case 18:
        return {&P::ir1_source_type, full1, true};
    case 19:
        return {&P::ir1_tail_density, full1, false};
    case 20:
        return {&P::ir1_tail_character, full1, false};
    case 21:
        return {&P::ir1_er_type, full1, false};
    case 22:
        return {&P::ir2_source_type, full2, true};
    case 23:
        return {&P::ir2_tail_density, full2, false};
    case 24:
        return {&P::ir2_tail_character, full2, false};
    case 25:
        return {&P::ir2_er_type, full2, false};
    case 26:
        return {&P::master_delay_l_delay_numer, delay_master, false};
    case 27:
        return {&P::master_delay_l_delay_denom, delay_master, false};
    case 28:
        return {&P::master_delay_r_delay_numer, delay_master, false};
    case 29:
        return {&P::master_delay_r_delay_denom, delay_master, false};
    case 30:
        return {&P::ir1_delay_l_delay_numer, delay1, false};
    case 31:
        return {&P::ir1_delay_l_delay_denom, delay1, false};
    case 32:
        return {&P::ir1_delay_r_delay_numer, delay1, false};
    case 33:
        return {&P::ir1_delay_r_delay_denom, delay1, false};
    case 34:
        return {&P::ir2_delay_l_delay_numer, delay2, false};
    case 35:
        return {&P::ir2_delay_l_delay_denom, delay2, false};
    case 36:
        return {&P::ir2_delay_r_delay_numer, delay2, false};
    case 37:
        return {&P::ir2_delay_r_delay_denom, delay2, false};
    case 38:
        return {&P::master_delay_l_tempo, delay_master, false};
    case 39:
        return {&P::master_delay_r_tempo, delay_master, false};
    case 40:
        return {&P::ir1_delay_l_tempo, delay1, false};
    case 41:
        return {&P::ir1_delay_r_tempo, delay1, false};
    case 42:
        return {&P::ir2_delay_l_tempo, delay2, false};
    default:
        return {&P::ir2_delay_r_tempo, delay2, false};
    }
}

// Byte ranges of a record that the chunk comparison leaves out.
struct ByteRange {
    std::size_t begin, end;
};

#define CORVELLA_RANGE(member)                                                                               \
    ByteRange                                                                                                \
    {                                                                                                        \
        offsetof(VST_Plugin_Program, member),                                                                \
            offsetof(VST_Plugin_Program, member) + sizeof(VST_Plugin_Program::member)                        \
    }
ByteRange const uncompared[] = {
    CORVELLA_RANGE(name),
    CORVELLA_RANGE(ir1_file_a),
    CORVELLA_RANGE(ir1_file_b),
    CORVELLA_RANGE(ir2_file_a),
    CORVELLA_RANGE(ir2_file_b),
    CORVELLA_RANGE(reserved_1576),
    CORVELLA_RANGE(reserved_2740),
    {offsetof(VST_Plugin_Program, host_data_1), offsetof(VST_Plugin_Program, host_data_4) + 4},
    {offsetof(VST_Plugin_Program, master_mix_lock_status),
     offsetof(VST_Plugin_Program, master_gain_locked_value) + 4},
    CORVELLA_RANGE(version_stamp),
};

#undef CORVELLA_RANGE

bool is_uncompared(std::size_t offset)
{
    return std::any_of(std::begin(uncompared), std::end(uncompared), [offset](ByteRange const& range) {
        return offset >= range.begin && offset < range.end;
    });
}

bool names_existing_file(char const* path)
{
    std::error_code error;
    return path != nullptr && path[0] != '\0' && std::filesystem::is_regular_file(path, error);
}

// Copies a text into a fixed field, cut so that it and its terminator fit.
template <std::size_t N> void copy_text(char (&field)[N], std::string_view text)
{
    std::size_t const length = std::min(text.size(), N - 1);
    if (length > 0) std::memcpy(field, text.data(), length); // an empty text may come without data
    field[length] = '\0';
}

} // namespace

namespace corvella {

CustomDataSizes custom_data_sizes(int id)
{
    constexpr std::uint32_t text = 1000;
    constexpr std::uint32_t path = static_cast<std::uint32_t>(program_path_size);
    if (id < 0 || id > custom_data::last_id) return {0, 0, false, false};
    switch (id) {
    case 0:
        return {status_size, status_size, false, false};
    case 1:
        return {4, 4, false, false};
    case 2:
        return {0, text, true, false};
    case 3:
        return {bank_chunk_size, bank_chunk_size, false, false};
    case 4:
        return {0, 0, false, true};
    case 5:
        return {1, 1, false, false};
    case 6:
        return {32, 32, false, false};
    case 7:
        return {4, 0, false, false};
    case 8:
    case 9:
        return {0, text, true, false};
    case 14:
    case 15:
    case 16:
    case 17:
        return {path, path, false, false};
    case 50:
        return {8, 8, false, false};
    case 51:
        return {1, 1, false, false};
    case 52:
        return {32, 32, false, false};
    case 53:
        return {0, status_size, false, false};
    default:
        if (id >= custom_data::first_menu && id < custom_data::first_menu + 6) return {0, 4, false, true};
        return {4, 4, false, false}; // 10..13 and 18..43
    }
}

} // namespace corvella

// ---------------------------------------------------------------------------------------------
// Chunks

host::Result DemoGain_Parameters::GetChunkSize(host::TypeId id, std::uint32_t* size) const
{
    if (size == nullptr) return host::error_null_argument;
    if (!accepted_chunk(id)) return host::error_unknown_id;
    *size = corvella::bank_chunk_size;
    return host::success;
}

host::Result DemoGain_Parameters::GetChunk(host::TypeId id, host::Chunk* chunk)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (chunk == nullptr) return host::error_null_argument;
    if (!accepted_chunk(id)) return host::error_unknown_id;
    for (int slot = 0; slot < corvella::programs_per_bank; ++slot)
        bank_[static_cast<std::size_t>(slot)].version_stamp = corvella::current_program_version;

    static constexpr char chunk_name[] = "VST Plug-In";
    chunk->header.id = id;
    chunk->header.size = static_cast<std::int32_t>(corvella::bank_chunk_size);
    chunk->header.version = 1;
    std::memset(chunk->header.name, 0, sizeof chunk->header.name);
    chunk->header.name[0] = static_cast<unsigned char>(sizeof chunk_name - 1);
    std::memcpy(chunk->header.name + 1, chunk_name, sizeof chunk_name - 1);
    auto const* bytes = reinterpret_cast<std::uint8_t const*>(bank_.get());
    chunk->data.assign(bytes, bytes + corvella::bank_chunk_size);
    return host::success;
}

host::Result DemoGain_Parameters::SetChunk(host::TypeId id, host::Chunk const* chunk)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (chunk == nullptr) return host::error_null_argument;
    bool const accepted = accepted_chunk(id);
    if (accepted) {
        // Only a whole bank is taken; anything else leaves the bank untouched.
        if (chunk->data.size() != corvella::bank_chunk_size ||
            chunk->header.size != static_cast<std::int32_t>(corvella::bank_chunk_size))
            return host::error_invalid_size;

        // 1.
        paths_changed_ = false;
        last_applied_chunk_ = chunk->data;
        std::memcpy(static_cast<void*>(bank_.get()), chunk->data.data(), corvella::bank_size_bytes);
        sanitise_bank();
        // 2. and 3.
        for (int slot = 0; slot < corvella::programs_per_bank; ++slot)
            bank_[static_cast<std::size_t>(slot)].check_and_upgrade_program(
                corvella::current_program_version);
        sanitise_bank();
        for (int slot = 0; slot < corvella::programs_per_bank; ++slot)
            check_and_repair_lost_files_in_program(slot);
        // 4.
        apply_wet_lock_setting();
        // 5.
        copy_bank_to_snapshot();
        post(corvella::bank_snapshot_field, snapshot_.get(), corvella::bank_size_bytes);
        post_full_recompute();
        program_changed_ = true;
    }
    // 6. The host learns the toggles again whatever the chunk was.
    announce_toggle("ir1_toggle");
    announce_toggle("ir2_toggle");
    return accepted ? host::success : host::error_unknown_id;
}

void DemoGain_Parameters::announce_toggle(char const* key)
{
    double const value = return_parameter_float_value(key);
    UpdateParameterNormalizedValue(key, 1.0 - value, 0);
    UpdateParameterNormalizedValue(key, value, 0);
}

host::Result DemoGain_Parameters::CompareActiveChunk(host::Chunk const* chunk, bool* equal) const
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (chunk == nullptr || equal == nullptr) return host::error_null_argument;
    *equal = false;
    if (!accepted_chunk(chunk->header.id)) return host::error_unknown_id;
    if (chunk->data.size() != corvella::bank_chunk_size) return host::error_invalid_size;
    if (paths_changed_) return host::success;
    VST_Plugin_Program stored;
    for (int slot = 0; slot < corvella::programs_per_bank; ++slot) {
        std::memcpy(static_cast<void*>(&stored), chunk->data.data() + slot * sizeof(VST_Plugin_Program),
                    sizeof stored);
        if (!compare_VST_Plugin_Program_struct(stored, bank_[static_cast<std::size_t>(slot)]))
            return host::success;
    }
    *equal = true;
    return host::success;
}

bool DemoGain_Parameters::compare_VST_Plugin_Program_struct(VST_Plugin_Program const& a,
                                                            VST_Plugin_Program const& b)
{
    auto const* left = reinterpret_cast<unsigned char const*>(&a);
    auto const* right = reinterpret_cast<unsigned char const*>(&b);
    for (std::size_t offset = 0; offset < sizeof(VST_Plugin_Program); offset += 4) {
        if (is_uncompared(offset)) continue;
        if (corvella::is_integer_slot(offset)) {
            std::int32_t x, y;
            std::memcpy(&x, left + offset, 4);
            std::memcpy(&y, right + offset, 4);
            if (x != y) return false;
        } else {
            float x, y;
            std::memcpy(&x, left + offset, 4);
            std::memcpy(&y, right + offset, 4);
            if (std::isnan(x) || std::isnan(y) || x < y || x > y) return false;
        }
    }
    return true;
}

void DemoGain_Parameters::sanitise_bank()
{
    for (int slot = 0; slot < corvella::programs_per_bank; ++slot)
        corvella::sanitise_program_values(bank_[static_cast<std::size_t>(slot)]);
    bank_[0].current_program = corvella::current_program_index(bank_.get());
}

void DemoGain_Parameters::apply_wet_lock_setting()
{
    int mode = -1;
    try {
        mode = extract_data_from_registry_wet_lock();
    } catch (std::runtime_error const&) {
        return;
    }
    VST_Plugin_Program& lock_record = bank_[0];
    if (mode == 0) {
        lock_record.master_mix_locked_value = static_cast<float>(return_parameter_float_value("master_mix"));
        lock_record.master_mix_lock_status = 0.0f;
    } else if (mode == 1) {
        lock_record.master_mix_locked_value = 1.0f;
        lock_record.master_mix_lock_status = 1.0f;
    }
}

void DemoGain_Parameters::check_and_repair_lost_files_in_program(int slot)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (slot < 0 || slot >= corvella::programs_per_bank) return;
    // The parameters object cannot tell whether an editor is open: the question asks for a
    // location the next time a window is visible.
    if (corvella::check_and_repair_lost_files_in_program(bank_[static_cast<std::size_t>(slot)], lost_locations_,
                                                         lost_file_prompt_, false))
        lost_files_repaired_ = true;
}

// ---------------------------------------------------------------------------------------------
// Bank files and the start-up bank

bool DemoGain_Parameters::set_chunk_from_file_in_aax(char const* path)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (path == nullptr || path[0] == '\0') return false;
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return false;
    auto const size = std::filesystem::file_size(path, error);
    if (error || (size != corvella::bank_file_size && size != corvella::bank_file_size_alternative))
        return false;

    bool read = false;
    {
        std::vector<char> image(corvella::bank_size_bytes);
        std::ifstream file(path, std::ios::binary);
        if (file && file.seekg(static_cast<std::streamoff>(corvella::bank_file_data_offset)) &&
            file.read(image.data(), static_cast<std::streamsize>(image.size()))) {
            std::memcpy(static_cast<void*>(bank_.get()), image.data(), image.size());
            read = true;
        }
    }
    // A short read leaves the bank as it was, but it is still brought up to date.
    sanitise_bank();
    for (int slot = 0; slot < corvella::programs_per_bank; ++slot)
        bank_[static_cast<std::size_t>(slot)].check_and_upgrade_program(corvella::current_program_version);
    sanitise_bank();
    for (int slot = 0; slot < corvella::programs_per_bank; ++slot)
        check_and_repair_lost_files_in_program(slot);
    apply_wet_lock_setting();
    paths_changed_ = false;
    // The engine side sees the loaded bank with the next requests it is sent.
    copy_bank_to_snapshot();
    post(corvella::bank_snapshot_field, snapshot_.get(), corvella::bank_size_bytes);
    return read;
}

void DemoGain_Parameters::initialise_presets()
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    std::string const library = corvella::library_folder();
    std::string const factory = library + "Audio/Impulse Responses/Tarnwick/Corvella/";

    // 1. Where lost files are looked for first.
    lost_locations_.clear();
    try {
        std::string const install = extract_data_from_registry_install_dir();
        // Entries are file paths: a folder needs a name after it to count as the folder.
        if (!install.empty()) lost_locations_.push_back(install + (install.back() == '/' ? "" : "/") + "anyoldfile.wav");
    } catch (std::runtime_error const&) {
    }
    if (!library.empty()) {
        lost_locations_.push_back(factory + "Factory/anyoldfile.wav");
        lost_locations_.push_back(factory + "Factory 2/anyoldfile.wav");
        lost_locations_.push_back(factory + "OpenAirLib/anyoldfile.wav");
        lost_locations_.push_back(factory + "Factory-flac/anyoldfile.flac");
    }
    try {
        std::string const home = extract_data_from_registry_home_pref_dir();
        if (check_dir_path(home)) lost_locations_.push_back(home + "/anyoldfile.wav");
    } catch (std::runtime_error const&) {
    }
    for (int n = 0; n < 50; ++n) {
        try {
            std::string const folder = extract_data_from_registry_user_specified_lost_location(n);
            if (check_dir_path(folder)) lost_locations_.push_back(folder + "anyoldfile.wav");
        } catch (std::runtime_error const&) {
            break;
        }
    }

    // 2. First run.
    try {
        (void)extract_data_from_registry_hide_lower_pane();
    } catch (std::runtime_error const&) {
        try {
            set_initial_presets_in_registry("1");
        } catch (std::runtime_error const&) {
        }
    }

    // 3.
    for (int slot = 0; slot < corvella::programs_per_bank; ++slot)
        bank_[static_cast<std::size_t>(slot)].reset();

    // 4. The default impulse response of a new instance.
    std::string initial = library.empty() ? std::string() : factory + "Factory 2/LongPlate-01-44100Hz.wav";
    try {
        if (extract_data_from_registry_int("AAXEmptyInitialPreset") == 1) initial.clear();
    } catch (std::runtime_error const&) {
        try {
            set_data_in_registry_int("AAXEmptyInitialPreset", 0);
        } catch (std::runtime_error const&) {
        }
    }
    if (initial.size() < corvella::program_path_size) copy_text(bank_[0].ir1_file_a, initial);
}

// ---------------------------------------------------------------------------------------------
// Custom data

host::Result DemoGain_Parameters::GetCustomData(int id, std::uint32_t size, void* data,
                                                std::uint32_t* written)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (written != nullptr) *written = 0;
    corvella::CustomDataSizes const sizes = corvella::custom_data_sizes(id);
    if (id < 0 || id > custom_data::last_id) return host::error_unknown_id;
    if (sizes.get == 0) return host::error_unimplemented;
    if (data == nullptr) return host::error_null_argument;
    if (size != sizes.get) return host::error_invalid_size;

    std::uint32_t reported = sizes.get;
    VST_Plugin_Program& current = current_record();
    switch (id) {
    case custom_data::engine_status: {
        std::memcpy(data, engine_status_.get(), status_size);
        auto const* bytes = reinterpret_cast<unsigned char const*>(engine_status_.get());
        if (std::all_of(bytes, bytes + status_size, [](unsigned char b) { return b == 0; })) reported = 0;
        break;
    }
    case custom_data::current_program:
        std::memcpy(data, &bank_[0].current_program, 4);
        break;
    case custom_data::bank:
        std::memcpy(data, snapshot_.get(), corvella::bank_size_bytes);
        break;
    case custom_data::program_changed: {
        std::uint8_t const flag = program_changed_ ? 1 : 0;
        std::memcpy(data, &flag, 1);
        break;
    }
    case custom_data::editor_block_6:
        std::memcpy(data, editor_block_6_.data(), 32);
        break;
    case custom_data::sample_rate: {
        float rate = 0.0f;
        if (controller_ == nullptr || controller_->GetSampleRate(&rate) != host::success)
            return host::error_not_available;
        std::memcpy(data, &rate, 4);
        break;
    }
    case 14:
    case 15:
    case 16:
    case 17:
        std::memcpy(data, path_slot(current, id), corvella::program_path_size);
        break;
    case custom_data::host_tempo: {
        double tempo = 0.0;
        host::Transport const* transport = controller_ != nullptr ? controller_->GetTransport() : nullptr;
        if (transport == nullptr || transport->GetCurrentTempo(&tempo) != host::success) tempo = 0.0;
        std::memcpy(data, &tempo, 8);
        break;
    }
    case custom_data::lost_files_repaired: {
        std::uint8_t const flag = lost_files_repaired_ ? 1 : 0;
        std::memcpy(data, &flag, 1);
        break;
    }
    case custom_data::pending_requests:
        std::memcpy(data, &pending_, sizeof pending_);
        reported = 1;
        break;
    default: { // 10..13, 18..43
        SlotBlock const block = slot_block(id);
        if (block.slot.i != nullptr)
            std::memcpy(data, &(current.*(block.slot.i)), 4);
        else
            std::memcpy(data, &(current.*(block.slot.f)), 4);
        break;
    }
    }
    if (written != nullptr) *written = reported;
    return host::success;
}

host::Result DemoGain_Parameters::SetCustomData(int id, std::uint32_t size, void const* data)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (id < 0 || id > custom_data::last_id) return host::error_unknown_id;
    corvella::CustomDataSizes const sizes = corvella::custom_data_sizes(id);
    if (sizes.set == 0 && !sizes.set_any) return host::error_unimplemented;
    bool const size_ok = sizes.set_any || (sizes.set_up_to ? size <= sizes.set : size == sizes.set);
    bool const data_ok = size == 0 || data != nullptr;

    if (id >= 18 && id <= 43) {
        // The request is raised even when nothing was stored.
        SlotBlock const block = slot_block(id);
        host::Result result = size_ok && data_ok ? host::success : host::error_invalid_size;
        if (result == host::success) {
            VST_Plugin_Program& current = current_record();
            if (block.from_float) {
                float value;
                std::memcpy(&value, data, 4);
                if (std::isfinite(value) && std::fabs(value) < 2.0e9f)
                    current.*(block.slot.i) = static_cast<std::int32_t>(value);
                else
                    result = host::error_invalid_value;
            } else if (block.slot.i != nullptr) {
                std::memcpy(&(current.*(block.slot.i)), data, 4);
            } else {
                float value;
                std::memcpy(&value, data, 4);
                if (std::isfinite(value))
                    current.*(block.slot.f) = value;
                else
                    result = host::error_invalid_value;
            }
            corvella::sanitise_program_values(current); // a tempo out of 30..200, a room out of 0..9
        }
        notify_plugin_of_changes(block.request);
        return result;
    }
    if (!size_ok) return host::error_invalid_size;
    if (!data_ok) return host::error_null_argument;

    auto const* bytes = static_cast<unsigned char const*>(data);
    switch (id) {
    case custom_data::engine_status:
        std::memcpy(engine_status_.get(), data, status_size);
        return host::success;
    case custom_data::current_program: {
        std::int32_t index;
        std::memcpy(&index, data, 4);
        if (index < 0 || index >= corvella::programs_per_bank) return host::error_invalid_value;
        post_request(Request::program_change);
        bank_[0].current_program = index;
        post_full_recompute();
        post_to_plugin_snapshot();
        return host::success;
    }
    case custom_data::program_name: {
        auto const* text = static_cast<char const*>(data);
        std::size_t const length = size == 0 ? 0 : strnlen(text, size);
        copy_text(current_record().name,
                  std::string_view(text, std::min(length, corvella::program_name_characters)));
        post_to_plugin_snapshot();
        return host::success;
    }
    case custom_data::bank:
        post_request(Request::program_change);
        std::memcpy(static_cast<void*>(bank_.get()), data, corvella::bank_size_bytes);
        sanitise_bank();
        for (int slot = 0; slot < corvella::programs_per_bank; ++slot)
            check_and_repair_lost_files_in_program(slot);
        post_to_plugin_snapshot();
        post_full_recompute();
        return host::success;
    case custom_data::initialise:
        post_request(Request::initialise);
        return host::success;
    case custom_data::program_changed:
        program_changed_ = bytes[0] != 0;
        return host::success;
    case custom_data::editor_block_6:
        std::memcpy(editor_block_6_.data(), data, 32);
        return host::success;
    case custom_data::program_change_and_load_bank_file:
    case custom_data::load_bank_file: {
        if (id == custom_data::program_change_and_load_bank_file) post_request(Request::program_change);
        auto const* text = static_cast<char const*>(data);
        std::string const path(text, size == 0 ? 0 : strnlen(text, size));
        return set_chunk_from_file_in_aax(path.c_str()) ? host::success : host::error_invalid_value;
    }
    case 10:
    case 11:
    case 12:
    case 13:
        std::memcpy(&(current_record().*(slot_block(id).slot.i)), data, 4);
        return host::success;
    case 14:
    case 15:
    case 16:
    case 17:
        set_file_path(id, static_cast<char const*>(data));
        return host::success;
    case custom_data::host_tempo: {
        double tempo;
        std::memcpy(&tempo, data, 8);
        if (!std::isfinite(tempo) || tempo <= 0.0) return host::error_invalid_value;
        store_host_tempo(tempo);
        return host::success;
    }
    case custom_data::lost_files_repaired:
        lost_files_repaired_ = bytes[0] != 0;
        return host::success;
    case custom_data::pending_requests:
        std::memcpy(&pending_, data, sizeof pending_);
        return host::success;
    case custom_data::engine_status_and_recompute:
        post_to_plugin_snapshot();
        notify_plugin_of_changes("force_partial_recompute_IR1");
        notify_plugin_of_changes("force_partial_recompute_IR2");
        std::memcpy(engine_status_.get(), data, status_size);
        return host::success;
    default: { // 44..49
        std::int32_t item = 0;
        if (size == 4 && data != nullptr) std::memcpy(&item, data, 4);
        run_command_menu_item(id - custom_data::first_menu, item);
        program_changed_ = true;
        return host::success;
    }
    }
}

void DemoGain_Parameters::set_file_path(int id, char const* data)
{
    bool const ir1 = id < 16;
    paths_changed_ = true;
    char const* gain = ir1 ? "ir1_gain" : "ir2_gain";
    SetParameterNormalizedValue(gain, return_parameter_float_value(gain));
    char* slot = path_slot(current_record(), id);
    if (std::memchr(data, '\0', corvella::program_path_size) != nullptr) std::strcpy(slot, data);
    notify_plugin_of_changes(ir1 ? "force_full_recompute_IR1" : "force_full_recompute_IR2");
    if (names_existing_file(slot) && std::strlen(slot) <= corvella::program_path_size)
        lost_locations_.emplace_back(slot);
}

void DemoGain_Parameters::store_host_tempo(double bpm)
{
    host_tempo_ = bpm;
    post(corvella::host_tempo_field, &bpm, sizeof bpm);
    post(corvella::request_field(Request::tempo_changed), &one, 1);
    post(corvella::request_field(Request::parameters_changed), &one, 1);
    pending_.tempo = bpm;
    pending_.set(Request::tempo_changed);
    pending_.set(Request::parameters_changed);
}

// ---------------------------------------------------------------------------------------------
// Command menus: the program operation of each item; the editor raises the requests after it.

void DemoGain_Parameters::run_command_menu_item(int menu, int item)
{
    VST_Plugin_Program& p = current_record();
    bool const reset_program_item = (menu <= 3 && item == 12) || (menu >= 4 && item == 2);
    if (reset_program_item) {
        p.reset();
        return;
    }
    switch (menu) {
    case 0: // IR1
    case 1: // IR2 mirrors IR1
    {
        bool const one_to_two = menu == 0;
        switch (item) {
        case 0:
            one_to_two ? p.push_ir1_to_ir2() : p.push_ir2_to_ir1();
            break;
        case 1:
            one_to_two ? p.push_ir1_to_ir2_except_eq_and_chorus_and_delay_and_pitchmod()
                       : p.push_ir2_to_ir1_except_eq_and_chorus_and_delay_and_pitchmod();
            break;
        case 2:
            one_to_two ? p.push_ir1_to_ir2_except_mixer() : p.push_ir2_to_ir1_except_mixer();
            break;
        case 3:
            one_to_two ? p.push_ir1_to_ir2_except_eq_and_chorus_and_delay_and_pitchmod_and_mixer()
                       : p.push_ir2_to_ir1_except_eq_and_chorus_and_delay_and_pitchmod_and_mixer();
            break;
        case 5:
            one_to_two ? p.reset_ir1() : p.reset_ir2();
            break;
        case 6:
            one_to_two ? p.reset_ir1_except_eq_and_chorus_and_delay_and_pitchmod()
                       : p.reset_ir2_except_eq_and_chorus_and_delay_and_pitchmod();
            break;
        case 7:
            one_to_two ? p.reset_ir1_except_eq_and_chorus_and_delay_and_pitchmod_and_mixer()
                       : p.reset_ir2_except_eq_and_chorus_and_delay_and_pitchmod_and_mixer();
            break;
        case 8:
            one_to_two ? p.reset_ir1_eq() : p.reset_ir2_eq();
            break;
        case 10:
            p.swap_ir1_ir2_everything();
            break;
        default:
            break;
        }
        break;
    }
    case 2: // chorus
        switch (item) {
        case 0:
            chorus_scratch_->copy_from_post(p);
            break;
        case 1:
            chorus_scratch_->copy_from_ir1(p);
            break;
        case 2:
            chorus_scratch_->copy_from_ir2(p);
            break;
        case 3:
            chorus_scratch_->paste_to_post(p);
            break;
        case 4:
            chorus_scratch_->paste_to_ir1(p);
            break;
        case 5:
            chorus_scratch_->paste_to_ir2(p);
            break;
        case 7:
            p.reset_chorus_post();
            p.reset_chorus_ir1();
            p.reset_chorus_ir2();
            break;
        case 8:
            p.reset_chorus_post();
            break;
        case 9:
            p.reset_chorus_ir1();
            break;
        case 10:
            p.reset_chorus_ir2();
            break;
        default:
            break;
        }
        break;
    case 3: // delay
        switch (item) {
        case 0:
            delay_scratch_->copy_from_post(p);
            break;
        case 1:
            delay_scratch_->copy_from_ir1(p);
            break;
        case 2:
            delay_scratch_->copy_from_ir2(p);
            break;
        case 3:
            delay_scratch_->paste_to_post(p);
            break;
        case 4:
            delay_scratch_->paste_to_ir1(p);
            break;
        case 5:
            delay_scratch_->paste_to_ir2(p);
            break;
        case 7:
            p.reset_delay_master();
            p.reset_delay_ir1();
            p.reset_delay_ir2();
            break;
        case 8:
            p.reset_delay_master();
            break;
        case 9:
            p.reset_delay_ir1();
            break;
        case 10:
            p.reset_delay_ir2();
            break;
        default:
            break;
        }
        break;
    case 4: // post EQ
        if (item == 0) p.reset_post_eq();
        break;
    case 5: // mixer
        if (item == 0) p.reset_mixer();
        break;
    default:
        break;
    }
}
