#include "host/demogain_description.h"

#include "engine/vst_plugin.h"
#include "host/demogain_direct_data.h"
#include "host/demogain_parameters.h"
#include "platform/message_box.h"
#include "platform/settings_store.h"
#include "program/parameter_application.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

namespace host = corvella::host;

namespace corvella {

int described_latency()
{
    try {
        int const latency = extract_data_from_registry_latency();
        if (latency >= 0 && latency <= 8192) return latency;
    } catch (std::runtime_error const&) {
    }
    return -1;
}

} // namespace corvella

host::Result GetEffectDescriptions(host::Collection* collection)
{
    if (collection == nullptr) return host::error_null_argument;
    host::EffectDescriptor effect;
    effect.name = corvella::effect_name;
    effect.category = corvella::effect_category_reverb;

    using host::StemFormat;
    StemFormat const variants[3][2] = {
        {StemFormat::mono, StemFormat::mono},
        {StemFormat::mono, StemFormat::stereo},
        {StemFormat::stereo, StemFormat::stereo},
    };
    for (auto const& variant : variants) {
        host::ComponentDescriptor component;
        host::Result const result = DescribeAlgorithmComponent(&component, variant[0], variant[1]);
        if (result != host::success) return result;
        effect.components.push_back(std::move(component));
    }

    effect.create_parameters = [] {
        return std::unique_ptr<host::EffectParameters>(DemoGain_Parameters::Create());
    };
    effect.create_direct_data = [] { return std::unique_ptr<host::DataObject>(new DemoGain_DirectData()); };
    effect.meters.push_back({"Input", corvella::input_meter_id, host::MeterType::input});
    effect.meters.push_back({"Output", corvella::output_meter_id, host::MeterType::output});
    effect.texts.push_back("Corvella Transport");

    collection->effects.push_back(std::move(effect));
    collection->manufacturer_name = "Tarnwick";
    collection->package_name = "Corvella";
    collection->package_version = 1;
    return host::success;
}

host::Result DescribeAlgorithmComponent(host::ComponentDescriptor* component, host::StemFormat input_stem,
                                        host::StemFormat output_stem)
{
    if (component == nullptr) return host::error_null_argument;
    using host::StemFormat;
    component->input_stem = input_stem;
    component->output_stem = output_stem;
    component->manufacturer_id = corvella::manufacturer_id;
    component->product_id = corvella::product_id;

    int const mode = corvella::channel_mode_for(input_stem, output_stem);
    switch (mode) {
    case 0:
        component->native_id = host::four_char_code("Cv11");
        component->offline_id = host::four_char_code("CAS1");
        component->process = DemoGain_AlgorithmProcessFunction<0>;
        break;
    case 1:
        component->native_id = host::four_char_code("Cv1x");
        component->offline_id = host::four_char_code("CAS2");
        component->process = DemoGain_AlgorithmProcessFunction<1>;
        break;
    default:
        if (output_stem != StemFormat::stereo) return host::error_invalid_value; // no stereo -> mono
        component->native_id = host::four_char_code("Cv1m");
        component->offline_id = host::four_char_code("CAS3");
        component->process = DemoGain_AlgorithmProcessFunction<2>;
        break;
    }
    component->instance = DemoGain_AlgorithmInitFunction;
    component->latency = corvella::described_latency();
    component->handles_bypass = true;

    component->fields = {
        {host::context_field_bypass, 0},
        {host::context_field_inputs, 0},
        {host::context_field_outputs, 0},
        {host::context_field_frames, 0},
        {host::context_field_meters, 0},
        {host::context_field_private, 0},
        {corvella::host_tempo_field, sizeof(double)},
        {corvella::bank_snapshot_field, corvella::bank_size_bytes},
    };
    for (int request = 0; request < corvella::request_count; ++request)
        component->fields.push_back({corvella::request_field(static_cast<corvella::Request>(request)), 1});
    return host::success;
}

host::Result DemoGain_AlgorithmInitFunction(host::AlgorithmContext* context, host::InstanceAction action)
{
    if (context == nullptr || context->private_slot == nullptr) return host::error_null_argument;
    VST_Plugin*& slot = *context->private_slot;

    if (action == host::InstanceAction::remove) {
        VST_Plugin* engine = slot;
        slot = nullptr;
        try {
            delete engine;
        } catch (...) {
        }
        return host::success;
    }

    // An instance only starts when a generous amount of memory is still free.
    if (void* probe = std::aligned_alloc(32, corvella::engine_probe_bytes)) {
        std::free(probe);
    } else {
        MessageBoxA(nullptr, "Insufficient memory to load Corvella", corvella::caption::engine,
                    corvella::message_box_ok);
        slot = nullptr;
        return host::success;
    }

    VST_Plugin* engine = nullptr;
    try {
        engine = new VST_Plugin(static_cast<int>(context->sample_rate));
    } catch (std::exception const& error) {
        MessageBoxA(nullptr, (std::string(error.what()) + ": \nSeen during constructor").c_str(),
                    corvella::caption::engine, corvella::message_box_ok);
        engine = nullptr;
    } catch (...) {
        engine = nullptr;
    }
    slot = engine;
    return host::success;
}

namespace {

// Copies input to output as the variant's channels allow; in-place buffers are fine.
void pass_through(int mode, float const* const* in, float* const* out, int frames)
{
    auto const bytes = static_cast<std::size_t>(frames) * sizeof(float);
    if (in[0] != out[0]) std::memmove(out[0], in[0], bytes);
    if (mode == 1 && in[0] != out[1]) std::memmove(out[1], in[0], bytes);
    if (mode == 2 && in[1] != out[1]) std::memmove(out[1], in[1], bytes);
}

float peak(float const* samples, int frames, float start)
{
    float level = start;
    for (int i = 0; i < frames; ++i)
        level = std::max(level, std::fabs(samples[i]));
    return level;
}

} // namespace

template <int ChannelMode>
void DemoGain_AlgorithmProcessFunction(host::AlgorithmContext* const* instances_begin,
                                       host::AlgorithmContext* const* instances_end)
{
    static_assert(ChannelMode >= 0 && ChannelMode <= 2);
    for (auto it = instances_begin; it != instances_end; ++it) {
        host::AlgorithmContext* const context = *it;
        if (context == nullptr || context->inputs == nullptr || context->outputs == nullptr ||
            context->frames == nullptr)
            continue;
        int const frames = *context->frames;
        if (frames <= 0) continue;
        float const* const* in = context->inputs;
        float* const* out = context->outputs;

        VST_Plugin* const engine = context->private_slot != nullptr ? *context->private_slot : nullptr;
        bool const bypassed =
            context->bypass != nullptr && context->bypass->load(std::memory_order_relaxed) > 0;

        // The input peak is taken first: processing may run in place.
        float input_peak = 0.0f;
        if (context->meters != nullptr) input_peak = peak(in[0], frames, context->meters[0]);

        if (engine == nullptr || bypassed || !engine->processing_enabled.load(std::memory_order_relaxed)) {
            pass_through(ChannelMode, in, out, frames);
        } else {
            engine->channel_mode = ChannelMode;
            try {
                // The engine's interface takes non-const channel tables; it does not write the inputs.
                engine->processReplacing(const_cast<float**>(in), const_cast<float**>(out), frames);
            } catch (...) {
                return;
            }
        }

        if (context->meters != nullptr) {
            context->meters[0] = input_peak;
            context->meters[1] = peak(out[0], frames, context->meters[1]);
        }
    }
}

template void DemoGain_AlgorithmProcessFunction<0>(host::AlgorithmContext* const*,
                                                   host::AlgorithmContext* const*);
template void DemoGain_AlgorithmProcessFunction<1>(host::AlgorithmContext* const*,
                                                   host::AlgorithmContext* const*);
template void DemoGain_AlgorithmProcessFunction<2>(host::AlgorithmContext* const*,
                                                   host::AlgorithmContext* const*);
