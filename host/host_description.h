#pragma once

// The effect description the host reads once per loaded bundle, and the algorithm context each
// instance's callbacks receive. Plain data: the effect fills it, the host reads it.
//
// Threading: the description is built and read on one thread at load time. The algorithm context
// of an instance belongs to the audio thread while the process callback runs; its private slot is
// written only by the instance callback, which the host never runs at the same time as a process
// call of that instance.

#include "host/host_controller.h"
#include "host/host_types.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class VST_Plugin;

namespace corvella::host {

enum class StemFormat { mono, stereo };

// What the process callback receives per instance. The numbers are the context fields.
struct AlgorithmContext {
    std::atomic<std::int32_t> const* bypass = nullptr; // 0: host bypass state, > 0 bypassed
    float const* const* inputs = nullptr;              // 1: input channel pointers
    float* const* outputs = nullptr;                   // 2: output channel pointers
    std::int32_t const* frames = nullptr;              // 3: frames in this call
    float* meters = nullptr;                           // 4: input peak, output peak
    VST_Plugin** private_slot = nullptr;               // 11: the engine of the instance
    float sample_rate = 0.0f;                          // the instance's rate, for the instance callback
};

inline constexpr int context_field_bypass = 0;
inline constexpr int context_field_inputs = 1;
inline constexpr int context_field_outputs = 2;
inline constexpr int context_field_frames = 3;
inline constexpr int context_field_meters = 4;
inline constexpr int context_field_private = 11;

enum class InstanceAction { add, remove };

using ProcessFunction = void (*)(AlgorithmContext* const* instances_begin,
                                 AlgorithmContext* const* instances_end);
using InstanceFunction = Result (*)(AlgorithmContext* context, InstanceAction action);

// A context field the effect declares: a packet field (posted by the parameters object) or one of
// the fields above.
struct FieldDeclaration {
    int field;
    std::size_t size; // bytes of a packet field; 0 for the fixed fields
};

enum class MeterType { input, output };

struct MeterDescription {
    std::string name;
    TypeId id;
    MeterType type;
};

// One processing variant.
struct ComponentDescriptor {
    StemFormat input_stem = StemFormat::stereo;
    StemFormat output_stem = StemFormat::stereo;
    TypeId manufacturer_id = 0;
    TypeId product_id = 0;
    TypeId native_id = 0;
    TypeId offline_id = 0;
    int latency = -1; // samples; -1 when not reported
    bool handles_bypass = false;
    std::vector<FieldDeclaration> fields;
    ProcessFunction process = nullptr;
    InstanceFunction instance = nullptr;
};

struct EffectDescriptor {
    std::string name;
    int category = 0;
    std::vector<ComponentDescriptor> components;
    std::vector<MeterDescription> meters;
    std::vector<std::string> texts; // further registered texts
    std::function<std::unique_ptr<EffectParameters>()> create_parameters;
    std::function<std::unique_ptr<DataObject>()> create_direct_data;
    // The editor registers its creator here once it exists; null until then.
    std::function<void*()> create_gui;
};

struct Collection {
    std::vector<EffectDescriptor> effects;
    std::string manufacturer_name;
    std::string package_name;
    int package_version = 0;
};

} // namespace corvella::host
