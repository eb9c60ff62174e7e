#include "plugin/corvella_plugin.h"

#include "host/in_process_host.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "plugin/bundle_location.h"
#include "plugin/plugin_state.h"
#include "program/vst_plugin_program.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

START_NAMESPACE_DISTRHO

namespace {

using corvella::plugin::bypass_parameter_index;
using corvella::plugin::first_ir_file_state;
using corvella::plugin::ir_file_states;
using corvella::plugin::parameter_count;
using corvella::plugin::row_of_parameter;

constexpr auto control_period = std::chrono::milliseconds(10);
constexpr auto engine_wait_limit = std::chrono::seconds(60);
constexpr uint32_t scratch_frames = 2048;
constexpr char selector_key[] = "automated_prog_num_sel";

std::uint32_t selector_parameter_index()
{
    static std::uint32_t const index =
        static_cast<std::uint32_t>(corvella::find_parameter(selector_key)->index) + 1;
    return index;
}

void report(std::string const& text)
{
    MessageBoxA(nullptr, text.c_str(), corvella::caption::ir_files, corvella::message_box_ok);
}

// Registers the bundle's resources folder so that the default settings file installed there is
// found; the standalone program finds it through its share folder instead.
void register_bundle_resources()
{
    std::filesystem::path const module = corvella::plugin::module_path();
    if (module.empty()) return;
    std::error_code error;
    std::filesystem::path const executable = std::filesystem::canonical("/proc/self/exe", error);
    if (!error && executable == module) return;
    std::filesystem::path const resources = corvella::plugin::bundle_resources_folder_for(module);
    if (std::filesystem::is_directory(resources, error)) corvella::set_bundle_resources_folder(resources);
}

} // namespace

CorvellaPlugin::CorvellaPlugin()
    : Plugin(parameter_count, corvella::programs_per_bank, corvella::plugin::state_count)
{
    if (isDummyInstance()) return;
    register_bundle_resources();
    scratch_.assign(2 * scratch_frames, 0.0f);
    create_host(getSampleRate());
    setLatency(static_cast<uint32_t>(latency_));
    start_control_thread();
}

CorvellaPlugin::~CorvellaPlugin()
{
    stop_control_thread();
    host_.reset();
}

char const* CorvellaPlugin::getDescription() const
{
    return "Convolution reverb with two impulse responses, IR shaping, choruses, delays and a modulated "
           "mixer.";
}

void CorvellaPlugin::create_host(double sample_rate)
{
    host_ = std::make_unique<corvella::host::InProcessHost>();
    // Without an engine the instance still exists and passes audio through (the reason went to the
    // message sink), so hosts keep a working insert.
    host_->create_instance(corvella::host::Variant::stereo_to_stereo, sample_rate);
    latency_ = std::max(0, host_->latency_samples());
    std::lock_guard lock(control_mutex_);
    refresh_parameters();
}

// ---- Description ----

void CorvellaPlugin::initAudioPort(bool input, uint32_t index, AudioPort& port)
{
    port.groupId = kPortGroupStereo;
    Plugin::initAudioPort(input, index, port);
}

void CorvellaPlugin::initParameter(uint32_t index, Parameter& parameter)
{
    if (index == bypass_parameter_index) {
        parameter.initDesignation(kParameterDesignationBypass);
        parameter.name = corvella::master_bypass_parameter.name;
        parameter.shortName = "Bypass";
        return;
    }
    corvella::ParameterRow const* row = row_of_parameter(index);
    if (row == nullptr) return;
    parameter.hints = kParameterIsAutomatable;
    if (row->kind == corvella::ParameterKind::on_off) parameter.hints |= kParameterIsBoolean;
    parameter.name = row->name;
    parameter.symbol = row->key;
    parameter.ranges.min = 0.0f;
    parameter.ranges.max = 1.0f;
    parameter.ranges.def = row->default_value;
}

void CorvellaPlugin::initState(uint32_t index, State& state)
{
    if (index == 0) {
        // The bank is ours alone: hosts store it but neither show nor edit it.
        state.hints = kStateIsOnlyForDSP | kStateIsBase64Blob;
        state.key = corvella::plugin::bank_state_key;
        state.label = "Bank";
        state.description = "All 48 programs, as the host chunk in base64";
        return;
    }
    // Read from presets only (sessions save them empty): see restore_program_record().
    if (index == 1 || index == 2) {
        state.hints = kStateIsOnlyForDSP;
        state.key = index == 1 ? corvella::plugin::program_state_key : corvella::plugin::program_record_state_key;
        state.label = index == 1 ? "Program" : "Program record";
        return;
    }
    if (index - first_ir_file_state < ir_file_states.size()) {
        auto const& file = ir_file_states[index - first_ir_file_state];
        state.hints = kStateIsFilenamePath | kStateIsOnlyForDSP;
        state.key = file.key;
        static char const* const labels[] = {"IR1 file (A)", "IR1 file (B)", "IR2 file (A)", "IR2 file (B)"};
        state.label = labels[index - first_ir_file_state];
    }
}

// Host presets and program lists.
//
// A saved session carries the whole bank, so a preset that carried the full state would repeat the
// bank 48 times over. Instead the host's list holds the 48 slots of the bank in use: choosing one
// selects that slot through the program selector, which is all the LV2 list (presets.ttl, written
// by corvella-lv2-program-list after the build) stores as well. The names are those of the bank the
// instance starts with, since formats take them once; information-only instances, which have no
// bank, name the slots as a reset record is named, which is what the start-up bank holds.
void CorvellaPlugin::initProgramName(uint32_t index, String& name)
{
    if (index >= static_cast<uint32_t>(corvella::programs_per_bank)) return;
    if (host_ == nullptr) {
        VST_Plugin_Program const fresh;
        name = std::string(fresh.name, strnlen(fresh.name, sizeof fresh.name)).c_str();
        return;
    }
    std::vector<std::uint8_t> const chunk = host_->get_chunk();
    auto const* bank = reinterpret_cast<VST_Plugin_Program const*>(chunk.data());
    VST_Plugin_Program const& program = bank[index];
    name = std::string(program.name, strnlen(program.name, sizeof program.name)).c_str();
}

void CorvellaPlugin::loadProgram(uint32_t index)
{
    if (host_ == nullptr || index >= static_cast<uint32_t>(corvella::programs_per_bank)) return;
    std::lock_guard lock(control_mutex_);
    select_program(static_cast<int>(index));
}

// As the selector does: changes the host made before belong to the program being left.
void CorvellaPlugin::select_program(int slot)
{
    apply_parameter_changes();
    float const value = corvella::selector_value_of_program(slot);
    host_->set_parameter(selector_key, value);
    mirror_.refresh(selector_parameter_index(), value);
    refresh_parameters();
}

// ---- Parameters ----

float CorvellaPlugin::getParameterValue(uint32_t index) const
{
    return mirror_.value(index);
}

void CorvellaPlugin::setParameterValue(uint32_t index, float value)
{
    mirror_.set_from_host(index, value);
}

void CorvellaPlugin::apply_parameter_changes()
{
    bool program_selected = false;
    mirror_.drain([&](uint32_t index, float value) {
        corvella::ParameterRow const* row = row_of_parameter(index);
        if (row == nullptr) return; // the bypass is applied by run()
        host_->set_parameter(row->key, value);
        program_selected = program_selected || std::strcmp(row->key, selector_key) == 0;
    });
    if (program_selected) refresh_parameters();
}

void CorvellaPlugin::refresh_parameters()
{
    if (host_ == nullptr) return;
    for (uint32_t index = 0; index < parameter_count; ++index) {
        corvella::ParameterRow const* row = row_of_parameter(index);
        // The selector reads back as 0 whatever it selected; keep what the host set.
        if (row != nullptr && std::strcmp(row->key, selector_key) != 0)
            mirror_.refresh(index, host_->get_parameter(row->key));
    }
}

// ---- Control thread ----

void CorvellaPlugin::start_control_thread()
{
    if (host_ == nullptr || control_thread_.joinable()) return;
    {
        std::lock_guard lock(control_mutex_);
        control_stop_ = false;
    }
    control_thread_ = std::thread([this] { control_loop(); });
}

void CorvellaPlugin::stop_control_thread()
{
    if (!control_thread_.joinable()) return;
    {
        std::lock_guard lock(control_mutex_);
        control_stop_ = true;
    }
    control_wake_.notify_all();
    control_thread_.join();
}

void CorvellaPlugin::control_loop()
{
    std::unique_lock lock(control_mutex_);
    while (!control_stop_) {
        apply_parameter_changes();
        host_->set_host_tempo(transport_tempo_.load(std::memory_order_relaxed));
        host_->wake_up();
        control_wake_.wait_for(lock, control_period, [this] { return control_stop_; });
    }
}

void CorvellaPlugin::wait_for_engine()
{
    apply_parameter_changes();
    if (!host_->wait_until_idle(engine_wait_limit))
        report("The impulse responses are still being computed after a minute; audio may start before "
               "they are ready.");
}

// ---- State ----

String CorvellaPlugin::getState(char const* key) const
{
    if (host_ == nullptr || key == nullptr) return String();
    if (std::strcmp(key, corvella::plugin::bank_state_key) == 0) {
        std::vector<std::uint8_t> const chunk = host_->get_chunk();
        return String(corvella::plugin::encode_base64(chunk.data(), chunk.size()).c_str());
    }
    for (auto const& file : ir_file_states) {
        if (std::strcmp(key, file.key) != 0) continue;
        char path[corvella::program_path_size + 1] = {};
        host_->get_custom_data(file.custom_data_id, path, corvella::program_path_size);
        return String(path);
    }
    return String(); // the preset keys save empty: a session has nothing to apply over its bank
}

void CorvellaPlugin::setState(char const* key, char const* value)
{
    if (host_ == nullptr || key == nullptr || value == nullptr) return;
    std::lock_guard lock(control_mutex_);
    if (std::strcmp(key, corvella::plugin::bank_state_key) == 0) {
        restore_bank(value);
        return;
    }
    if (std::strcmp(key, corvella::plugin::program_state_key) == 0) {
        if (value[0] == '\0') return;
        if (auto const slot = corvella::plugin::program_slot_of(value)) {
            select_program(*slot);
            wait_for_engine();
        } else {
            report(std::string("The preset names no program of the bank (\"") + value + "\"); nothing was changed.");
        }
        return;
    }
    if (std::strcmp(key, corvella::plugin::program_record_state_key) == 0) {
        restore_program_record(value);
        return;
    }
    for (std::size_t i = 0; i < ir_file_states.size(); ++i)
        if (std::strcmp(key, ir_file_states[i].key) == 0) restore_ir_file(static_cast<int>(i), value);
}

void CorvellaPlugin::restore_bank(char const* text)
{
    if (text[0] == '\0') return; // nothing saved (a state that predates the bank key): keep the start-up bank
    auto const chunk = corvella::plugin::decode_base64(text);
    if (!chunk) {
        report("The saved bank is damaged (not valid base64) and was not restored; the current programs are "
               "kept.");
        return;
    }
    if (!host_->set_chunk(chunk->data(), chunk->size())) {
        report("The saved bank has the wrong size (" + std::to_string(chunk->size()) +
               " bytes) and was not restored; the current programs are kept.");
        return;
    }
    // Changes queued before the restore belong to the state it replaces.
    mirror_.discard_pending();
    refresh_parameters();
    wait_for_engine();
}

// An exported preset: one record, applied over the current program as a bank with that program
// changed (upgraded and repaired like any bank the host restores).
void CorvellaPlugin::restore_program_record(char const* text)
{
    if (text[0] == '\0') return;
    apply_parameter_changes(); // so that the bank taken below holds them
    auto const record = corvella::plugin::decode_base64(text);
    std::vector<std::uint8_t> chunk = host_->get_chunk();
    if (!record || !corvella::plugin::apply_program_record(chunk, *record)) {
        report("The preset's program is damaged and was not loaded; the current program is kept.");
        return;
    }
    host_->set_chunk(chunk.data(), chunk.size());
    mirror_.discard_pending();
    refresh_parameters();
    wait_for_engine();
}

void CorvellaPlugin::restore_ir_file(int state_index, char const* path)
{
    auto const& file = ir_file_states[static_cast<std::size_t>(state_index)];
    char current[corvella::program_path_size + 1] = {};
    host_->get_custom_data(file.custom_data_id, current, corvella::program_path_size);
    // Hosts restore the paths after the bank that already holds them: no second rebuild.
    if (std::strcmp(current, path) == 0) return;
    if (std::strlen(path) >= corvella::program_path_size) {
        report(std::string("The IR file path is too long to be stored (at most ") +
               std::to_string(corvella::program_path_size - 1) + " bytes): " + path);
        return;
    }
    if (!host_->set_ir_file(file.slot, file.side, path)) return;
    wait_for_engine();
}

// ---- Processing ----

void CorvellaPlugin::activate()
{
    setLatency(static_cast<uint32_t>(latency_));
    if (host_ == nullptr) return;
    std::lock_guard lock(control_mutex_);
    wait_for_engine();
}

void CorvellaPlugin::sampleRateChanged(double new_sample_rate)
{
    if (host_ == nullptr || new_sample_rate == host_->sample_rate()) return;
    stop_control_thread();
    std::vector<std::uint8_t> const bank = host_->get_chunk();
    host_.reset();
    create_host(new_sample_rate);
    if (!host_->set_chunk(bank.data(), bank.size()))
        report("The programs could not be carried over to the new sample rate.");
    {
        std::lock_guard lock(control_mutex_);
        refresh_parameters();
    }
    start_control_thread();
}

void CorvellaPlugin::run(float const** inputs, float** outputs, uint32_t frames)
{
    // The tempo-locked delays follow the host's transport; a host without one gets 120 BPM. The
    // tempo counts even without bar and beat (many hosts send only the tempo); every format
    // fills in 120 when the host gives none.
    double const bpm = getTimePosition().bbt.beatsPerMinute;
    transport_tempo_.store(std::isfinite(bpm) && bpm > 0.0 ? bpm : 120.0, std::memory_order_relaxed);

    if (frames == 0) return;
    if (host_ == nullptr) {
        for (int c = 0; c < 2; ++c)
            if (outputs[c] != inputs[c]) std::memmove(outputs[c], inputs[c], frames * sizeof(float));
        return;
    }

    bool const bypass = mirror_.value(bypass_parameter_index) > 0.5f;
    if (bypass != bypassed_) {
        host_->set_bypass(bypass);
        bypassed_ = bypass;
    }

    bool const in_place = inputs[0] == outputs[0] || inputs[0] == outputs[1] || inputs[1] == outputs[0] ||
                          inputs[1] == outputs[1];
    if (!in_place) {
        host_->process(inputs, outputs, static_cast<int>(frames));
        return;
    }
    // The engine reads its input while writing its output: give it copies, a slice at a time.
    for (uint32_t done = 0; done < frames;) {
        uint32_t const n = std::min(frames - done, scratch_frames);
        float* const copies[2] = {scratch_.data(), scratch_.data() + scratch_frames};
        for (int c = 0; c < 2; ++c)
            std::memcpy(copies[c], inputs[c] + done, n * sizeof(float));
        float const* const in[2] = {copies[0], copies[1]};
        float* const out[2] = {outputs[0] + done, outputs[1] + done};
        host_->process(in, out, static_cast<int>(n));
        done += n;
    }
}

Plugin* createPlugin()
{
    return new CorvellaPlugin();
}

END_NAMESPACE_DISTRHO
