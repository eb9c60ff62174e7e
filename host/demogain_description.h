#pragma once

// The effect description given to the host when the bundle loads, and the algorithm's callbacks:
// the instance callback that creates and removes the engine, and the audio callback of each of
// the three processing variants.
//
// Threading: GetEffectDescriptions and DescribeAlgorithmComponent run once, on the loading thread.
// DemoGain_AlgorithmInitFunction runs on a non-audio thread while no process call of the instance
// runs. DemoGain_AlgorithmProcessFunction runs on the audio thread: it allocates nothing, takes no
// lock of its own (the engine holds its processing lock for each block) and never waits.

#include "host/host_description.h"

namespace corvella {

inline constexpr char effect_name[] = "Corvella";
inline constexpr int effect_category_reverb = 8;
inline constexpr host::TypeId manufacturer_id = host::four_char_code("Tqwk");
inline constexpr host::TypeId product_id = host::four_char_code("Cv1m");
inline constexpr host::TypeId input_meter_id = host::four_char_code("Irtm");
inline constexpr host::TypeId output_meter_id = host::four_char_code("Ortm");
inline constexpr std::size_t engine_probe_bytes = 209715200;

// Channel mode of the engine for a variant: 0 mono->mono, 1 mono->stereo, 2 stereo->stereo.
constexpr int channel_mode_for(host::StemFormat input, host::StemFormat output)
{
    if (input == host::StemFormat::stereo) return 2;
    return output == host::StemFormat::stereo ? 1 : 0;
}

// The latency the description reports: the "Latency" setting when it reads 0..8192, else -1.
int described_latency();

} // namespace corvella

corvella::host::Result GetEffectDescriptions(corvella::host::Collection* collection);
corvella::host::Result DescribeAlgorithmComponent(corvella::host::ComponentDescriptor* component,
                                                  corvella::host::StemFormat input_stem,
                                                  corvella::host::StemFormat output_stem);

// add: probes for memory, then creates the engine for the context's sample rate in the private
// slot (left empty, with "Insufficient memory to load Corvella" shown, when the probe fails).
// remove: destroys the engine and clears the slot.
corvella::host::Result DemoGain_AlgorithmInitFunction(corvella::host::AlgorithmContext* context,
                                                      corvella::host::InstanceAction action);

// The audio callback of one variant (ChannelMode as channel_mode_for). Passes the input through
// when there is no engine, the host bypass is set or the engine is in the plug-in lock; updates
// the two peak meters of the first channel.
template <int ChannelMode>
void DemoGain_AlgorithmProcessFunction(corvella::host::AlgorithmContext* const* instances_begin,
                                       corvella::host::AlgorithmContext* const* instances_end);
