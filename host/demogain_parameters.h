#pragma once

// The parameters object: owns the bank of 48 programs, registers the host parameters, turns a
// changed value into a posted bank snapshot and recompute requests, and serves the state chunk,
// the custom-data blocks, bank files and the start-up bank. It never touches the engine: the
// bridge (DemoGain_DirectData) fetches the snapshot and the requests through custom data.
//
// Files: demogain_parameters.cpp (construction, registration, value changes, requests, timer),
// demogain_parameters_state.cpp (chunks, custom data, bank files, start-up bank, command menus).
//
// Bad input, and what happens:
// - A key the change path does not know stores nothing; with notify it raises only the
//   parameters-changed request. The host entry points refuse keys that are not host parameters.
// - Values are clamped to 0..1 before they are stored; NaN and infinity are refused by the host
//   entry points and by assign_parameter_float_value (nothing stored, nothing posted).
// - A chunk whose data is not exactly 142,656 bytes is refused (error_invalid_size) before anything
//   is read or changed; a chunk with an identifier other than "All " and "elck" changes no record
//   (only the two IR toggles are announced again, which leaves them as they were).
// - Applied banks (chunks, custom data 3, bank files) have every name and path terminated within
//   its field and an out-of-range current program set to 0, so no reader runs past a record.
// - A custom-data block of the wrong size transfers nothing (error_invalid_size); for ids 18 to 43
//   the request of the id is still raised. Non-finite floats, a non-positive or non-finite host
//   tempo and a program index outside 0..47 are refused the same way.
//
// Threading: every public call may come from any non-audio thread; each one holds the object's
// lock (recursive: a chunk's announcements re-enter the change path) for its whole run. The
// audio thread never calls this object.

#include "host/engine_status.h"
#include "host/host_controller.h"
#include "host/host_parameters.h"
#include "platform/lost_file_repair.h"
#include "program/parameter_application.h"
#include "program/program_scratch.h"
#include "program/vst_plugin_program.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace corvella {

// Custom-data ids of the parameters object.
namespace custom_data {
inline constexpr int engine_status = 0;
inline constexpr int current_program = 1;
inline constexpr int program_name = 2;
inline constexpr int bank = 3;
inline constexpr int initialise = 4;
inline constexpr int program_changed = 5;
inline constexpr int editor_block_6 = 6;
inline constexpr int sample_rate = 7;
inline constexpr int program_change_and_load_bank_file = 8;
inline constexpr int load_bank_file = 9;
inline constexpr int ir1_file_a = 14; // 15 ir1_file_b, 16 ir2_file_a, 17 ir2_file_b
inline constexpr int first_menu = 44; // 44 IR1, 45 IR2, 46 chorus, 47 delay, 48 post EQ, 49 mixer
inline constexpr int host_tempo = 50;
inline constexpr int lost_files_repaired = 51;
inline constexpr int pending_requests = 52;
inline constexpr int engine_status_and_recompute = 53;
inline constexpr int last_id = 53;
} // namespace custom_data

// Block sizes of a custom-data id: the exact size of a get (0 when the id has none) and of a set,
// with `set_up_to` for the text ids that accept any size up to it and `set_any` for ids whose set
// ignores the data.
struct CustomDataSizes {
    std::uint32_t get;
    std::uint32_t set;
    bool set_up_to;
    bool set_any;
};
CustomDataSizes custom_data_sizes(int id); // all zero for ids outside 0..53

inline constexpr std::uint32_t bank_chunk_size = 142656;
inline constexpr std::size_t bank_file_size = 142816;
inline constexpr std::size_t bank_file_size_alternative = 142818;
inline constexpr std::size_t bank_file_data_offset = 160;
inline constexpr std::size_t program_name_characters = 23;

inline constexpr host::TypeId chunk_id_all = host::four_char_code("All ");
inline constexpr host::TypeId chunk_id_elck = host::four_char_code("elck");

// Identifier under which the host lists the master bypass.
inline constexpr char master_bypass_identifier[] = "MasterBypass";

} // namespace corvella

class DemoGain_Parameters : public corvella::host::EffectParameters {
public:
    using Result = corvella::host::Result;

    static corvella::host::EffectParameters* Create();

    DemoGain_Parameters();
    ~DemoGain_Parameters() override;
    DemoGain_Parameters(DemoGain_Parameters const&) = delete;
    DemoGain_Parameters& operator=(DemoGain_Parameters const&) = delete;

    // ---- Host interface ----
    Result Initialize(corvella::host::Controller* controller) override; // keeps it, then EffectInit
    Result EffectInit();

    Result SetParameterNormalizedValue(char const* key, double value) override;
    Result UpdateParameterNormalizedValue(char const* key, double value, int source) override;
    Result GetParameterNormalizedValue(char const* key, double* value) const override;

    Result GetChunkSize(corvella::host::TypeId id, std::uint32_t* size) const override;
    Result GetChunk(corvella::host::TypeId id, corvella::host::Chunk* chunk) override;
    Result SetChunk(corvella::host::TypeId id, corvella::host::Chunk const* chunk) override;
    Result CompareActiveChunk(corvella::host::Chunk const* chunk, bool* equal) const override;

    Result GetCustomData(int id, std::uint32_t size, void* data, std::uint32_t* written) override;
    Result SetCustomData(int id, std::uint32_t size, void const* data) override;

    Result NotificationReceived(corvella::host::TypeId type, void const* data, std::uint32_t size) override;
    Result TimerWakeup() override;

    // ---- Registration ----
    void add_parameter_item(char const* key, std::string const& name, int field, float default_value,
                            int steps);
    void add_parameter_items();
    corvella::host::ParameterManager const& parameter_manager() const { return parameters_; }

    // ---- Value changes and requests ----
    // Returns false when nothing was stored (unknown key, non-finite value).
    bool assign_parameter_float_value(char const* key, float value, bool notify);
    double return_parameter_float_value(char const* key) const;
    void notify_plugin_of_changes(char const* key);
    void post_full_recompute();
    void post_to_plugin_snapshot();

    // ---- State ----
    // True when every compared slot is equal (names, paths, reserved and host slots, the locks and
    // the version stamp are not compared; a NaN slot makes the records unequal).
    static bool compare_VST_Plugin_Program_struct(VST_Plugin_Program const& a, VST_Plugin_Program const& b);
    // Loads a bank file (142,816 or 142,818 bytes, bank image at byte 160); false when the bank
    // image was not read. An empty path, a missing file or another size change nothing. Otherwise
    // the bank (the new one, or the old one after a short read) is upgraded, repaired, takes the
    // wet-lock setting and is posted as the snapshot, and the paths-changed flag is cleared; no
    // request is raised (the caller raises the program change and the recompute it wants).
    bool set_chunk_from_file_in_aax(char const* path);
    void initialise_presets();
    // Lost-file repair of one program's four paths.
    void check_and_repair_lost_files_in_program(int slot);

    // ---- Read access for the host, the editor and tests (copies, taken under the lock) ----
    std::vector<VST_Plugin_Program> bank_copy() const;
    std::vector<VST_Plugin_Program> snapshot_copy() const;
    corvella::PendingRequests pending_requests() const;
    bool paths_changed() const;
    bool program_changed() const;
    double host_tempo() const;
    std::vector<std::string> lost_locations() const;
    // Applies `change` to the live bank under the lock (tests and the editor's direct edits); the
    // caller raises whatever requests the change needs.
    void edit_bank(std::function<void(VST_Plugin_Program* bank)> const& change);

    // Clock of the 500 ms tempo check, in milliseconds; corvella::tick_count_ms by default.
    void set_clock(std::function<std::uint64_t()> clock);

private:
    VST_Plugin_Program& current_record();
    void post(int field, void const* data, std::size_t size);
    void post_request(corvella::Request request); // one-byte 1 to the field, and the pending byte
    void copy_bank_to_snapshot();
    void apply_wet_lock_setting();
    void sanitise_bank();
    void announce_toggle(char const* key);
    void set_file_path(int id, char const* data);
    void store_host_tempo(double bpm);
    void run_command_menu_item(int menu, int item);
    void select_program(int index);

    mutable std::recursive_mutex lock_;
    corvella::host::Controller* controller_ = nullptr;
    corvella::host::ParameterManager parameters_;

    std::unique_ptr<VST_Plugin_Program[]> bank_;
    std::unique_ptr<VST_Plugin_Program[]> snapshot_;
    corvella::PendingRequests pending_{};
    std::unique_ptr<corvella::EngineStatus> engine_status_;
    std::vector<std::uint8_t> last_applied_chunk_;
    std::array<std::uint64_t, 4> editor_block_6_{0, 0, 1, 0};
    double host_tempo_ = 120.0;
    bool paths_changed_ = false;
    bool lost_files_repaired_ = false;
    bool program_changed_ = false;
    std::vector<std::string> lost_locations_;
    // Whether files still missing are asked about (until the user answers "No") and whether the
    // user wants to point to a folder the next time an editor is visible.
    corvella::LostFilePrompt lost_file_prompt_;
    std::unique_ptr<VST_Plugin_Program_Chorus_Scratch> chorus_scratch_;
    std::unique_ptr<VST_Plugin_Program_Delay_Scratch> delay_scratch_;

    std::function<std::uint64_t()> clock_;
    bool tempo_checked_ = false;
    std::uint64_t last_tempo_check_ms_ = 0;
};
