// Construction, parameter registration, value changes and the requests they raise, and the idle
// timer of the parameters object.

#include "host/demogain_parameters.h"

#include "platform/settings_store.h"
#include "platform/threading.h"
#include "program/parameter_table.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using corvella::Request;
namespace host = corvella::host;

namespace {

constexpr std::uint8_t one = 1;

// The idle timer counts in ticks of 1/60 s, as the host's system tick does.
std::uint64_t tick_milliseconds(std::uint64_t milliseconds)
{
    return milliseconds * 60 / 1000 * 1000 / 60;
}

constexpr std::uint64_t tempo_check_interval_ms = 500;

} // namespace

host::EffectParameters* DemoGain_Parameters::Create()
{
    return new DemoGain_Parameters();
}

DemoGain_Parameters::DemoGain_Parameters()
    : bank_(new VST_Plugin_Program[corvella::programs_per_bank]),
      snapshot_(new VST_Plugin_Program[corvella::programs_per_bank]),
      engine_status_(std::make_unique<corvella::EngineStatus>()),
      chorus_scratch_(std::make_unique<VST_Plugin_Program_Chorus_Scratch>()),
      delay_scratch_(std::make_unique<VST_Plugin_Program_Delay_Scratch>()), clock_(corvella::tick_count_ms)
{
    CheckPrefs();
    std::memset(engine_status_.get(), 0, sizeof(corvella::EngineStatus));
    std::memset(&pending_, 0, sizeof pending_);
    // The engine is never handed a tempo of 0, even before the host has reported one.
    pending_.tempo = 120.0;
    host_tempo_ = 120.0;
    copy_bank_to_snapshot();
}

DemoGain_Parameters::~DemoGain_Parameters() = default;

host::Result DemoGain_Parameters::Initialize(host::Controller* controller)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    controller_ = controller;
    return EffectInit();
}

host::Result DemoGain_Parameters::EffectInit()
{
    std::lock_guard<std::recursive_mutex> guard(lock_);

    // 1. The master bypass, bound to field 0.
    {
        auto const& style = corvella::master_bypass_style;
        auto bypass = std::make_unique<host::Parameter>(
            corvella::master_bypass_identifier, corvella::master_bypass_parameter.name,
            corvella::master_bypass_parameter.default_value, host::binary_taper(),
            host::binary_display(style.off_text, style.on_text), style.automatable);
        bypass->set_steps(corvella::master_bypass_parameter.steps);
        bypass->set_type(host::ParameterType::discrete);
        parameters_.add(std::move(bypass));
        parameters_.register_packet(corvella::master_bypass_identifier, corvella::master_bypass_field);
    }

    // 2. The host's tempo; without one the stored 120 BPM stays.
    {
        double const previous = host_tempo_;
        host_tempo_ = 0.0;
        double tempo = 0.0;
        std::uint32_t written = 0;
        if (GetCustomData(corvella::custom_data::host_tempo, sizeof tempo, &tempo, &written) ==
                host::success &&
            std::isfinite(tempo) && tempo > 0.0)
            SetCustomData(corvella::custom_data::host_tempo, sizeof tempo, &tempo);
        else
            host_tempo_ = previous;
    }

    // 3. and 4. Everything is rebuilt from the start-up bank.
    post_request(Request::program_change);
    post_full_recompute();
    post_request(Request::initialise);

    // 5. and 6.
    initialise_presets();
    add_parameter_items();

    // The requests above went out before the start-up bank existed; hand it over now so that the
    // first build loads the default impulse response.
    post_to_plugin_snapshot();
    return host::success;
}

// ---------------------------------------------------------------------------------------------
// Registration

void DemoGain_Parameters::add_parameter_item(char const* key, std::string const& name, int field,
                                             float default_value, int steps)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    std::unique_ptr<host::Parameter> parameter;
    if (steps == corvella::on_off_steps) {
        auto const& style = corvella::on_off_style;
        parameter = std::make_unique<host::Parameter>(
            key, name, default_value != 0.0f ? 1.0 : 0.0, host::binary_taper(),
            host::binary_display(style.off_text, style.on_text), style.automatable);
    } else {
        auto const& style = corvella::continuous_style;
        parameter = std::make_unique<host::Parameter>(
            key, name, default_value, host::linear_taper(style.minimum, style.maximum),
            host::number_display(style.precision, style.trailing_space), style.automatable);
    }
    parameter->set_steps(steps);
    if (parameters_.add(std::move(parameter))) parameters_.register_packet(key, field);
}

void DemoGain_Parameters::add_parameter_items()
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    for (corvella::ParameterRow const& row : corvella::parameter_table())
        add_parameter_item(row.key, row.name, row.field,
                           static_cast<float>(return_parameter_float_value(row.key)), row.steps);
}

// ---------------------------------------------------------------------------------------------
// Value changes

VST_Plugin_Program& DemoGain_Parameters::current_record()
{
    return bank_[static_cast<std::size_t>(corvella::current_program_index(bank_.get()))];
}

void DemoGain_Parameters::select_program(int index)
{
    bank_[0].current_program = index;
    copy_bank_to_snapshot();
    post(corvella::bank_snapshot_field, snapshot_.get(), corvella::bank_size_bytes);
    post_full_recompute();
    program_changed_ = true;
}

bool DemoGain_Parameters::assign_parameter_float_value(char const* key, float value, bool notify)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (key == nullptr || !std::isfinite(value)) return false;
    value = std::clamp(value, 0.0f, 1.0f);

    bool const selector = std::strcmp(key, "automated_prog_num_sel") == 0;
    if (selector) {
        int const wanted = corvella::program_from_selector_value(value);
        if (wanted >= 0 && wanted != bank_[0].current_program) select_program(wanted);
    }

    bool const stored = corvella::store_parameter_value(bank_.get(), key, value);
    if (notify) notify_plugin_of_changes(key);
    return stored || selector;
}

double DemoGain_Parameters::return_parameter_float_value(char const* key) const
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return corvella::read_parameter_value(bank_.get(), key);
}

void DemoGain_Parameters::post(int field, void const* data, std::size_t size)
{
    if (controller_ != nullptr) controller_->PostPacket(field, data, size);
}

void DemoGain_Parameters::post_request(Request request)
{
    post(corvella::request_field(request), &one, 1);
    pending_.set(request);
}

void DemoGain_Parameters::copy_bank_to_snapshot()
{
    std::memcpy(static_cast<void*>(snapshot_.get()), bank_.get(), corvella::bank_size_bytes);
}

void DemoGain_Parameters::post_to_plugin_snapshot()
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    copy_bank_to_snapshot();
    post(corvella::bank_snapshot_field, snapshot_.get(), corvella::bank_size_bytes);
}

void DemoGain_Parameters::notify_plugin_of_changes(char const* key)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    post_to_plugin_snapshot();
    std::array<bool, corvella::request_classifiers.size()> raised{};
    for (std::size_t i = 0; i < corvella::request_classifiers.size(); ++i) {
        auto const& classifier = corvella::request_classifiers[i];
        raised[i] = classifier.accepts(key);
        if (raised[i]) post(corvella::request_field(classifier.request), &one, 1);
    }
    post(corvella::request_field(Request::parameters_changed), &one, 1);
    for (std::size_t i = 0; i < raised.size(); ++i)
        if (raised[i]) pending_.set(corvella::request_classifiers[i].request);
    pending_.set(Request::parameters_changed);
}

void DemoGain_Parameters::post_full_recompute()
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    for (int field : corvella::full_recompute_fields)
        post(field, &one, 1);
    for (int byte = 0; byte < corvella::request_count; ++byte)
        if (byte != static_cast<int>(Request::tempo_changed)) pending_.bytes[byte] = 1;
}

// ---------------------------------------------------------------------------------------------
// Host entry points

host::Result DemoGain_Parameters::SetParameterNormalizedValue(char const* key, double value)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (key == nullptr) return host::error_null_argument;
    host::Parameter* parameter = parameters_.find(key);
    if (parameter == nullptr) return host::error_unknown_id;
    if (!std::isfinite(value)) return host::error_invalid_value;
    double const held = parameter->taper().constrain(value);
    if (std::strcmp(key, corvella::master_bypass_identifier) == 0) {
        // The bypass reaches the algorithm as the host's single-value packet of field 0.
        std::int32_t const state = held > 0.5 ? 1 : 0;
        post(corvella::master_bypass_field, &state, sizeof state);
    } else {
        assign_parameter_float_value(key, static_cast<float>(held), true);
    }
    parameter->set_normalized_value(held);
    return host::success;
}

host::Result DemoGain_Parameters::UpdateParameterNormalizedValue(char const* key, double value, int source)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (key == nullptr) return host::error_null_argument;
    host::Parameter* parameter = parameters_.find(key);
    if (parameter == nullptr) return host::error_unknown_id;
    if (!std::isfinite(value)) return host::error_invalid_value;
    double const held = parameter->taper().constrain(value);
    parameter->set_normalized_value(held);
    if (std::strcmp(key, corvella::master_bypass_identifier) == 0) {
        std::int32_t const state = held > 0.5 ? 1 : 0;
        post(corvella::master_bypass_field, &state, sizeof state);
    } else {
        assign_parameter_float_value(key, static_cast<float>(held), true);
    }
    return host::success;
}

host::Result DemoGain_Parameters::GetParameterNormalizedValue(char const* key, double* value) const
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (key == nullptr || value == nullptr) return host::error_null_argument;
    host::Parameter const* parameter = parameters_.find(key);
    if (parameter == nullptr) return host::error_unknown_id;
    *value = parameter->normalized_value();
    return host::success;
}

host::Result DemoGain_Parameters::NotificationReceived(host::TypeId type, void const*, std::uint32_t)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (type == host::notification_axof || type == host::notification_axox)
        post_request(Request::buffer_silence);
    return host::success;
}

host::Result DemoGain_Parameters::TimerWakeup()
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    std::uint64_t const now = tick_milliseconds(clock_());
    if (tempo_checked_ && now - last_tempo_check_ms_ < tempo_check_interval_ms) return host::success;
    tempo_checked_ = true;
    last_tempo_check_ms_ = now;

    host::Transport const* transport = controller_ != nullptr ? controller_->GetTransport() : nullptr;
    if (transport == nullptr) return host::success;
    double tempo = 0.0;
    if (transport->GetCurrentTempo(&tempo) != host::success) return host::success;
    if (tempo != host_tempo_) SetCustomData(corvella::custom_data::host_tempo, sizeof tempo, &tempo);
    return host::success;
}

void DemoGain_Parameters::set_clock(std::function<std::uint64_t()> clock)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    clock_ = clock ? std::move(clock) : std::function<std::uint64_t()>(corvella::tick_count_ms);
}

// ---------------------------------------------------------------------------------------------
// Read access

std::vector<VST_Plugin_Program> DemoGain_Parameters::bank_copy() const
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return {bank_.get(), bank_.get() + corvella::programs_per_bank};
}

std::vector<VST_Plugin_Program> DemoGain_Parameters::snapshot_copy() const
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return {snapshot_.get(), snapshot_.get() + corvella::programs_per_bank};
}

corvella::PendingRequests DemoGain_Parameters::pending_requests() const
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return pending_;
}

bool DemoGain_Parameters::paths_changed() const
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return paths_changed_;
}

bool DemoGain_Parameters::program_changed() const
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return program_changed_;
}

double DemoGain_Parameters::host_tempo() const
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return host_tempo_;
}

std::vector<std::string> DemoGain_Parameters::lost_locations() const
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return lost_locations_;
}

void DemoGain_Parameters::edit_bank(std::function<void(VST_Plugin_Program*)> const& change)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (change) change(bank_.get());
}
