#include "convolution/direct_fir_bypassable.h"

#include "platform/threading.h"

direct_fir_bypassable::direct_fir_bypassable(int channels, int tap_count)
    : direct_fir(channels, tap_count), bypass(new std::atomic<bool>[static_cast<size_t>(channels)])
{
    for (int channel = 0; channel < channels; ++channel)
        bypass[channel].store(false, std::memory_order_relaxed);
}

void direct_fir_bypassable::set_bypass(int channel, bool bypassed)
{
    if (channel >= 0 && channel < num_channels) bypass[channel].store(bypassed, std::memory_order_release);
}

bool direct_fir_bypassable::is_bypassed(int channel) const
{
    return channel >= 0 && channel < num_channels && bypass[channel].load(std::memory_order_acquire);
}

void direct_fir_bypassable::process_not_replacing(float** in, float** out, int frames)
{
    if (in == nullptr || out == nullptr || frames <= 0) return;
    corvella::CriticalSectionLock guard(&lock);
    if (states == nullptr) return;
    apply_pending_clear();
    for (int channel = 0; channel < num_channels; ++channel) {
        if (bypass[channel].load(std::memory_order_acquire))
            ippsSet_32f(0.0f, out[channel], frames); // history stands still while bypassed
        else
            ippsFIR_32f(in[channel], out[channel], frames, states[channel]);
    }
}
