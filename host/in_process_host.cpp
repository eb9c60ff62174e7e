#include "host/in_process_host.h"

#include "engine/vst_plugin.h"
#include "host/demogain_description.h"
#include "host/demogain_direct_data.h"
#include "host/demogain_parameters.h"
#include "host/host_description.h"
#include "platform/message_box.h"
#include "program/parameter_application.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace corvella::host {

namespace {

StemFormat input_stem(Variant variant)
{
    return variant == Variant::stereo_to_stereo ? StemFormat::stereo : StemFormat::mono;
}

StemFormat output_stem(Variant variant)
{
    return variant == Variant::mono_to_mono ? StemFormat::mono : StemFormat::stereo;
}

// Keys the change path takes that are not host parameters: the two tail variants and the
// request keys.
bool change_path_only_key(std::string const& key)
{
    if (key == "ir1_tail_variant" || key == "ir2_tail_variant") return true;
    return std::any_of(request_classifiers.begin(), request_classifiers.end(),
                       [&key](ClassifiedRequest const& c) { return c.accepts(key.c_str()); });
}

} // namespace

struct InProcessHost::Impl final : Controller, Transport, PrivateDataAccess {
    // ---- Controller ----
    Result PostPacket(int field, void const* data, std::size_t size) override
    {
        if (field < 0) return error_unknown_id;
        if (field == context_field_bypass) {
            std::int32_t state = 0;
            if (data == nullptr || size < sizeof state) return error_invalid_size;
            std::memcpy(&state, data, sizeof state);
            bypass.store(state);
        }
        return success;
    }
    Result GetSampleRate(float* rate) const override
    {
        if (rate == nullptr) return error_null_argument;
        *rate = static_cast<float>(rate_);
        return success;
    }
    Transport const* GetTransport() const override { return this; }
    EffectParameters* GetEffectParameters() override { return parameters.get(); }

    // ---- Transport ----
    Result GetCurrentTempo(double* bpm) const override
    {
        if (bpm == nullptr) return error_null_argument;
        *bpm = tempo.load();
        return success;
    }

    // ---- Private data of the instance, for the bridge ----
    Result ReadPortDirect(int field, void* out, std::size_t size) override
    {
        if (out == nullptr) return error_null_argument;
        if (field != context_field_private || size != sizeof(VST_Plugin*)) return error_unknown_id;
        std::memcpy(out, &engine_slot, sizeof engine_slot);
        return success;
    }

    // Non-audio state; every change holds `state`.
    std::recursive_mutex state;
    Collection collection;
    ComponentDescriptor const* component = nullptr;
    std::unique_ptr<EffectParameters> parameters;
    DemoGain_Parameters* demogain = nullptr;
    std::unique_ptr<DataObject> direct_data;
    Variant variant_ = Variant::stereo_to_stereo;
    double rate_ = 0.0;
    std::atomic<double> tempo{120.0};

    // The algorithm context of the instance and what its fields point at.
    AlgorithmContext context;
    AlgorithmContext* context_list[1] = {&context};
    VST_Plugin* engine_slot = nullptr;
    std::atomic<std::int32_t> bypass{0};
    std::int32_t frames = 0;
    float meters[2] = {0.0f, 0.0f};

    // Timer.
    std::mutex timer_mutex;
    std::condition_variable timer_signal;
    std::thread timer;
    bool timer_stop = false;

    void wake_up_locked()
    {
        if (parameters) parameters->TimerWakeup();
        if (direct_data) direct_data->TimerWakeup_PrivateDataAccess(this);
    }

    // True when the bridge holds requests the engine has not been handed.
    bool requests_pending()
    {
        if (demogain == nullptr) return false;
        PendingRequests const pending = demogain->pending_requests();
        // Byte 0 (initialise) is a handshake the bridge clears only once the engine reports an
        // applied update; it asks the engine for no work.
        for (int byte = 1; byte < request_count; ++byte)
            if (pending.bytes[byte] != 0) return true;
        return false;
    }

    // A wake-up for a caller that waits on the instance: pending requests are handed over now.
    void wake_up_for_waiter()
    {
        std::lock_guard<std::recursive_mutex> guard(state);
        if (requests_pending())
            if (auto* bridge = dynamic_cast<DemoGain_DirectData*>(direct_data.get()))
                bridge->pass_at_next_wake_up();
        wake_up_locked();
    }

    // True when nothing the instance has been asked for is still outstanding.
    bool idle()
    {
        std::lock_guard<std::recursive_mutex> guard(state);
        if (demogain == nullptr || engine_slot == nullptr) return true;
        // An engine in the plug-in lock serves nothing and passes audio through.
        if (!engine_slot->processing_enabled.load()) return true;
        return !requests_pending() && !engine_slot->is_ir_work_pending();
    }
};

InProcessHost::InProcessHost() : impl_(std::make_unique<Impl>())
{
    GetEffectDescriptions(&impl_->collection);
}

InProcessHost::~InProcessHost()
{
    stop_timer();
    destroy_instance();
}

bool InProcessHost::create_instance(Variant variant, double sample_rate)
{
    std::lock_guard<std::recursive_mutex> guard(impl_->state);
    destroy_instance();
    if (!std::isfinite(sample_rate) || sample_rate < 1.0 || sample_rate > 1.0e7) {
        MessageBoxA(nullptr, "Invalid host sample rate", caption::engine, message_box_ok);
        return false;
    }
    if (impl_->collection.effects.empty()) return false;
    EffectDescriptor const& effect = impl_->collection.effects.front();
    auto const found = std::find_if(
        effect.components.begin(), effect.components.end(), [variant](ComponentDescriptor const& c) {
            return c.input_stem == input_stem(variant) && c.output_stem == output_stem(variant);
        });
    if (found == effect.components.end()) return false;

    impl_->variant_ = variant;
    impl_->rate_ = sample_rate;
    impl_->bypass.store(0);
    impl_->meters[0] = impl_->meters[1] = 0.0f;

    // The parameters object first: it registers the parameters and fills the bank.
    impl_->parameters = effect.create_parameters();
    impl_->demogain = dynamic_cast<DemoGain_Parameters*>(impl_->parameters.get());
    impl_->parameters->Initialize(impl_.get());
    impl_->direct_data = effect.create_direct_data();
    impl_->direct_data->Initialize(impl_.get());

    AlgorithmContext& context = impl_->context;
    context = AlgorithmContext{};
    context.bypass = &impl_->bypass;
    context.frames = &impl_->frames;
    context.meters = impl_->meters;
    context.private_slot = &impl_->engine_slot;
    context.sample_rate = static_cast<float>(sample_rate);
    impl_->component = &*found;
    found->instance(&context, InstanceAction::add);
    return impl_->engine_slot != nullptr;
}

void InProcessHost::destroy_instance()
{
    std::lock_guard<std::recursive_mutex> guard(impl_->state);
    if (impl_->component != nullptr) impl_->component->instance(&impl_->context, InstanceAction::remove);
    impl_->component = nullptr;
    impl_->engine_slot = nullptr;
    impl_->direct_data.reset();
    impl_->demogain = nullptr;
    impl_->parameters.reset();
}

bool InProcessHost::has_engine() const
{
    return impl_->engine_slot != nullptr;
}

Variant InProcessHost::variant() const
{
    return impl_->variant_;
}

double InProcessHost::sample_rate() const
{
    return impl_->rate_;
}

int InProcessHost::latency_samples() const
{
    std::lock_guard<std::recursive_mutex> guard(impl_->state);
    return impl_->component != nullptr ? impl_->component->latency : described_latency();
}

// ---- Audio thread ----

void InProcessHost::process(float const* const* inputs, float* const* outputs, int frames)
{
    if (inputs == nullptr || outputs == nullptr || frames <= 0) return;
    Impl& impl = *impl_;
    if (impl.component == nullptr) {
        // No instance: the input as it is, to as many outputs as the variant has.
        int const mode = channel_mode_for(input_stem(impl.variant_), output_stem(impl.variant_));
        auto const bytes = static_cast<std::size_t>(frames) * sizeof(float);
        if (inputs[0] != outputs[0]) std::memmove(outputs[0], inputs[0], bytes);
        if (mode >= 1 && outputs[1] != inputs[mode == 2 ? 1 : 0])
            std::memmove(outputs[1], inputs[mode == 2 ? 1 : 0], bytes);
        return;
    }
    impl.frames = frames;
    impl.context.inputs = inputs;
    impl.context.outputs = outputs;
    impl.component->process(impl.context_list, impl.context_list + 1);
}

void InProcessHost::set_bypass(bool bypassed)
{
    impl_->bypass.store(bypassed ? 1 : 0);
}

float InProcessHost::take_input_meter()
{
    float const level = impl_->meters[0];
    impl_->meters[0] = 0.0f;
    return level;
}

float InProcessHost::take_output_meter()
{
    float const level = impl_->meters[1];
    impl_->meters[1] = 0.0f;
    return level;
}

// ---- Non-audio threads ----

DemoGain_Parameters& InProcessHost::parameters()
{
    if (impl_->demogain == nullptr) throw std::logic_error("InProcessHost::parameters: no instance");
    return *impl_->demogain;
}

VST_Plugin* InProcessHost::engine()
{
    return impl_->engine_slot;
}

bool InProcessHost::set_parameter(std::string const& key, float unity_value)
{
    std::lock_guard<std::recursive_mutex> guard(impl_->state);
    DemoGain_Parameters* parameters = impl_->demogain;
    if (parameters == nullptr || !std::isfinite(unity_value)) return false;
    float const value = std::clamp(unity_value, 0.0f, 1.0f);
    if (parameters->parameter_manager().find(key) != nullptr)
        return parameters->SetParameterNormalizedValue(key.c_str(), value) == success;
    if (change_path_only_key(key)) {
        // Request keys store nothing; the change path raises their requests all the same.
        parameters->assign_parameter_float_value(key.c_str(), value, true);
        return true;
    }
    return false;
}

float InProcessHost::get_parameter(std::string const& key)
{
    std::lock_guard<std::recursive_mutex> guard(impl_->state);
    if (impl_->demogain == nullptr) return 0.0f;
    if (key == master_bypass_identifier) return impl_->bypass.load() > 0 ? 1.0f : 0.0f;
    return static_cast<float>(impl_->demogain->return_parameter_float_value(key.c_str()));
}

bool InProcessHost::set_custom_data(int id, void const* data, std::size_t size)
{
    std::lock_guard<std::recursive_mutex> guard(impl_->state);
    if (impl_->parameters == nullptr || size > std::numeric_limits<std::uint32_t>::max()) return false;
    return impl_->parameters->SetCustomData(id, static_cast<std::uint32_t>(size), data) == success;
}

std::size_t InProcessHost::get_custom_data(int id, void* data, std::size_t capacity)
{
    std::lock_guard<std::recursive_mutex> guard(impl_->state);
    if (impl_->parameters == nullptr) return 0;
    std::uint32_t const block = custom_data_sizes(id).get;
    if (block == 0) return 0;
    std::uint32_t written = 0;
    // The editor reads the 37 KB status block many times a second: straight into its buffer.
    if (data != nullptr && capacity >= block)
        return impl_->parameters->GetCustomData(id, block, data, &written) == success ? written : 0;
    std::vector<std::uint8_t> buffer(block);
    if (impl_->parameters->GetCustomData(id, block, buffer.data(), &written) != success) return 0;
    if (data != nullptr) std::memcpy(data, buffer.data(), std::min<std::size_t>(capacity, block));
    return written;
}

bool InProcessHost::set_ir_file(int slot, int side, std::string const& path)
{
    if (slot < 1 || slot > 2 || side < 0 || side > 1) return false;
    if (path.size() >= program_path_size) return false;
    char block[program_path_size] = {};
    std::memcpy(block, path.data(), path.size());
    return set_custom_data(custom_data::ir1_file_a + 2 * (slot - 1) + side, block, sizeof block);
}

std::vector<std::uint8_t> InProcessHost::get_chunk()
{
    std::lock_guard<std::recursive_mutex> guard(impl_->state);
    if (impl_->parameters == nullptr) return {};
    Chunk chunk;
    if (impl_->parameters->GetChunk(chunk_id_all, &chunk) != success) return {};
    return std::move(chunk.data);
}

bool InProcessHost::set_chunk(void const* data, std::size_t size)
{
    std::lock_guard<std::recursive_mutex> guard(impl_->state);
    if (impl_->parameters == nullptr || data == nullptr || size != bank_chunk_size) return false;
    Chunk chunk;
    chunk.header.id = chunk_id_all;
    chunk.header.size = static_cast<std::int32_t>(size);
    chunk.header.version = 1;
    auto const* bytes = static_cast<std::uint8_t const*>(data);
    chunk.data.assign(bytes, bytes + size);
    return impl_->parameters->SetChunk(chunk_id_all, &chunk) == success;
}

void InProcessHost::wake_up()
{
    std::lock_guard<std::recursive_mutex> guard(impl_->state);
    impl_->wake_up_locked();
}

void InProcessHost::start_timer(std::chrono::milliseconds period)
{
    stop_timer();
    if (period <= std::chrono::milliseconds(0)) period = std::chrono::milliseconds(20);
    {
        std::lock_guard<std::mutex> guard(impl_->timer_mutex);
        impl_->timer_stop = false;
    }
    impl_->timer = std::thread([this, period] {
        std::unique_lock<std::mutex> lock(impl_->timer_mutex);
        while (!impl_->timer_signal.wait_for(lock, period, [this] { return impl_->timer_stop; })) {
            lock.unlock();
            wake_up();
            lock.lock();
        }
    });
}

void InProcessHost::stop_timer()
{
    {
        std::lock_guard<std::mutex> guard(impl_->timer_mutex);
        impl_->timer_stop = true;
    }
    impl_->timer_signal.notify_all();
    if (impl_->timer.joinable()) impl_->timer.join();
}

bool InProcessHost::wait_until_idle(std::chrono::milliseconds timeout)
{
    auto const deadline = std::chrono::steady_clock::now() + timeout;
    bool const driving = !impl_->timer.joinable();
    for (;;) {
        if (driving) impl_->wake_up_for_waiter();
        if (impl_->idle()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void InProcessHost::set_host_tempo(double bpm)
{
    if (std::isfinite(bpm) && bpm > 0.0) impl_->tempo.store(bpm);
}

void InProcessHost::set_clock(std::function<std::uint64_t()> clock)
{
    std::lock_guard<std::recursive_mutex> guard(impl_->state);
    if (impl_->demogain != nullptr) impl_->demogain->set_clock(clock);
    if (auto* bridge = dynamic_cast<DemoGain_DirectData*>(impl_->direct_data.get())) bridge->set_clock(clock);
}

} // namespace corvella::host
