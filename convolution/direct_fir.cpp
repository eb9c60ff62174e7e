#include "convolution/direct_fir.h"

#include "platform/threading.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace {

[[noreturn]] void fail(char const* message)
{
    throw std::runtime_error(message);
}

} // namespace

direct_fir::direct_fir(int channels, int tap_count)
{
    InitializeCriticalSection(&lock);
    num_channels = channels;
    num_taps = tap_count;
    try {
        initialise_fir_memory();
    } catch (...) {
        try {
            destroy_fir_memory();
        } catch (...) {
            // Partly built: whatever exists has been released.
        }
        DeleteCriticalSection(&lock);
        throw;
    }
}

direct_fir::~direct_fir()
{
    try {
        destroy_fir_memory();
    } catch (...) {
        // Nothing left to release and no caller to tell.
    }
    EnterCriticalSection(&lock); // no other thread may still be inside
    LeaveCriticalSection(&lock);
    DeleteCriticalSection(&lock);
}

void direct_fir::initialise_fir_memory()
{
    corvella::CriticalSectionLock guard(&lock);
    if (num_channels <= 0 || num_taps <= 0) fail("FIR memory allocation error (taps)");
    states = static_cast<IppsFIRState_32f**>(std::calloc(static_cast<size_t>(num_channels), sizeof(void*)));
    if (states == nullptr) fail("FIR memory allocation error (state container initialisation error)");
    taps = static_cast<float**>(std::calloc(static_cast<size_t>(num_channels), sizeof(float*)));
    if (taps == nullptr) fail("FIR memory allocation error (taps container initialisation error)");
    for (int channel = 0; channel < num_channels; ++channel) {
        taps[channel] = ippsMalloc_32f(num_taps);
        if (taps[channel] == nullptr) fail("FIR memory allocation error (taps)");
        ippsSet_32f(0.0f, taps[channel], num_taps);
        if (ippsFIRInitAlloc_32f(&states[channel], taps[channel], num_taps, nullptr) != ippStsNoErr ||
            states[channel] == nullptr)
            fail("FIR memory allocation error (state initialisation error)");
    }
    silent_history = num_taps; // a new state's history is zeros
}

void direct_fir::destroy_fir_memory()
{
    corvella::CriticalSectionLock guard(&lock);
    char const* error = nullptr;
    if (states == nullptr) error = "FIR memory deallocation error (state container destruction error)";
    if (taps == nullptr && error == nullptr)
        error = "FIR memory deallocation error (taps container destruction error)";
    for (int channel = 0; channel < num_channels; ++channel) {
        if (taps != nullptr) {
            if (taps[channel] == nullptr && error == nullptr) error = "FIR memory deallocation error (taps)";
            ippsFree(taps[channel]);
        }
        if (states != nullptr) {
            if (states[channel] == nullptr && error == nullptr)
                error = "FIR memory deallocation error (state)";
            if (states[channel] != nullptr) ippsFIRFree_32f(states[channel]);
        }
    }
    std::free(taps);
    std::free(states);
    taps = nullptr;
    states = nullptr;
    if (error != nullptr) fail(error);
}

void direct_fir::load_ir_data(float** ir, int count)
{
    corvella::CriticalSectionLock guard(&lock);
    if (count > num_taps)
        fail("Incorrect number of sample frames attempted to be loaded by initial FIR block");
    if (taps == nullptr || states == nullptr) fail("FIR memory allocation error (taps)");
    if (count > 0 && ir == nullptr)
        fail("Incorrect number of sample frames attempted to be loaded by initial FIR block");
    for (int channel = 0; channel < num_channels; ++channel)
        if (count > 0 && ir[channel] == nullptr)
            fail("Incorrect number of sample frames attempted to be loaded by initial FIR block");
    for (int channel = 0; channel < num_channels; ++channel) {
        ippsSet_32f(0.0f, taps[channel], num_taps);
        if (count > 0) ippsCopy_32f(ir[channel], taps[channel], count);
        ippsFIRSetTaps_32f(taps[channel], states[channel]);
    }
}

void direct_fir::process_not_replacing(float** in, float** out, int frames)
{
    if (in == nullptr || out == nullptr || frames <= 0) return;
    corvella::CriticalSectionLock guard(&lock);
    if (states == nullptr) return;
    apply_pending_clear();
    if (skip_silent_chunk(in, frames)) {
        for (int channel = 0; channel < num_channels; ++channel)
            ippsSet_32f(0.0f, out[channel], frames);
        return;
    }
    note_history(in, frames); // before filtering: in and out may be the caller's same arrays
    for (int channel = 0; channel < num_channels; ++channel)
        ippsFIR_32f(in[channel], out[channel], frames, states[channel]);
}

void direct_fir::process_replacing(float** buffer, int frames)
{
    if (buffer == nullptr || frames <= 0) return;
    corvella::CriticalSectionLock guard(&lock);
    if (states == nullptr) return;
    apply_pending_clear();
    if (skip_silent_chunk(buffer, frames)) return; // zeros filter to zeros in place
    note_history(buffer, frames);
    for (int channel = 0; channel < num_channels; ++channel)
        ippsFIR_32f_I(buffer[channel], frames, states[channel]);
}

bool direct_fir::skip_silent_chunk(float* const* in, int frames) const
{
    if (silent_history < num_taps) return false;
    for (int channel = 0; channel < num_channels; ++channel)
        if (!corvella::ipps_is_silent_32f(in[channel], frames)) return false;
    return true;
}

void direct_fir::note_history(float* const* in, int frames)
{
    int trailing = frames; // zeros at the chunk's end on every channel
    for (int channel = 0; channel < num_channels && trailing > 0; ++channel) {
        float const* x = in[channel];
        int zeros = 0;
        while (zeros < trailing && x[frames - 1 - zeros] == 0.0f)
            ++zeros;
        trailing = zeros;
    }
    silent_history = trailing == frames ? std::min(num_taps, silent_history + frames) : std::min(num_taps, trailing);
}

void direct_fir::clear_delay_line()
{
    clear_requested.store(true, std::memory_order_release);
}

void direct_fir::apply_pending_clear()
{
    if (!clear_requested.load(std::memory_order_acquire) || states == nullptr) return;
    if (!clear_requested.exchange(false, std::memory_order_acq_rel)) return;
    for (int channel = 0; channel < num_channels; ++channel)
        ippsFIRSetDlyLine_32f(states[channel], nullptr); // null: a silent history
    silent_history = num_taps;
}
