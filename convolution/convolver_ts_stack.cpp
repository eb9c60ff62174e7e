#include "convolution/convolver_ts_stack.h"

#include "convolution/ipps.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace {

constexpr int true_stereo_outputs = 4;
constexpr int stack_phase_offset = 16352;

[[noreturn]] void fail(char const* message)
{
    throw std::runtime_error(message);
}

float** allocate_table(int channels)
{
    auto** table = reinterpret_cast<float**>(ippsMalloc_8u(static_cast<int>(sizeof(float*)) * std::max(channels, 1)));
    if (table != nullptr) std::memset(table, 0, sizeof(float*) * static_cast<size_t>(std::max(channels, 1)));
    return table;
}

void free_buffers(float**& table, int channels, bool owns_entries)
{
    if (table == nullptr) return;
    if (owns_entries)
        for (int channel = 0; channel < channels; ++channel)
            ippsFree(table[channel]);
    ippsFree(table);
    table = nullptr;
}

} // namespace

convolver_ts_stack::convolver_ts_stack(int channels, int length)
    : num_channels(std::max(channels, 0)),
      buffer_length(length),
      fir_bypass(static_cast<size_t>(num_channels), false),
      conv_bypass(static_cast<size_t>(num_channels), false),
      input_hints(static_cast<size_t>(num_channels), false)
{
    if (length < 0 || (length != 0 && (length & (length - 1)) != 0))
        fail("Convolver must be initialised with a buffer length as a power of two or zero");
    try {
        if (length == 0) {
            zero_latency = true;
            buffer_length = head_taps;
            head_fir = new direct_fir_bypassable(num_channels, head_taps);
        }
        if (!fft_conv_worker_thread_ts_stack::fft_conv_worker_thread_initialise_ts_stack(
                &conv, &conv_thread_handle, &conv_thread_id, num_channels, buffer_length / 2)) {
            delete conv; // its worker never started
            conv = nullptr;
            conv_thread_handle = nullptr;
            conv_thread_id = 0;
            fail("FFT convolution thread worker creation error");
        }
        for (float*** table : {&head_output, &conv_output, &head_input, &conv_input}) {
            *table = allocate_table(num_channels);
            if (*table == nullptr) fail("FFT convolution thread worker memory allocation error");
        }
        for (float** table : {head_output, conv_output}) {
            for (int channel = 0; channel < num_channels; ++channel) {
                table[channel] = ippsMalloc_32f(max_frames);
                if (table[channel] == nullptr) fail("FFT convolution thread worker memory allocation error");
                ippsSet_32f(0.0f, table[channel], max_frames);
            }
        }
        conv->phase_offset = stack_phase_offset;
    } catch (...) {
        release();
        throw;
    }
}

convolver_ts_stack::~convolver_ts_stack()
{
    release();
}

void convolver_ts_stack::release()
{
    delete head_fir;
    head_fir = nullptr;
    if (conv != nullptr) {
        conv->trigger_kill();
        while (!conv->has_thread_finished())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        delete conv;
        conv = nullptr;
    }
    free_buffers(head_output, num_channels, true);
    free_buffers(conv_output, num_channels, true);
    for (float*** table : {&head_input, &conv_input})
        free_buffers(*table, num_channels, false);
}

void convolver_ts_stack::set_bypasses(bool fir_bypassed, bool conv_bypassed, int channel)
{
    if (channel < 0 || channel >= num_channels) return;
    fir_bypass[static_cast<size_t>(channel)] = fir_bypassed;
    conv_bypass[static_cast<size_t>(channel)] = conv_bypassed;
}

void convolver_ts_stack::set_input_hints(bool input_present, int channel)
{
    if (channel < 0 || channel >= num_channels) return;
    input_hints[static_cast<size_t>(channel)] = input_present;
}

void convolver_ts_stack::set_sample_frames(float** ir, int length)
{
    if (ir == nullptr || length <= 0) return;
    int const h = head_fir != nullptr ? std::min(head_fir->get_length(), length) : 0;
    if (head_fir != nullptr) head_fir->load_ir_data(ir, h);
    std::vector<float*> rest(static_cast<size_t>(num_channels));
    for (int channel = 0; channel < num_channels; ++channel)
        rest[static_cast<size_t>(channel)] = ir[channel] + h;
    if (length > h) {
        conv->load_ir_data(rest.data(), length - h);
        return;
    }
    // All of it fits the head: the convolver must drop its old tail rather than keep it.
    std::vector<std::vector<float>> silence(static_cast<size_t>(num_channels), std::vector<float>(1, 0.0f));
    for (int channel = 0; channel < num_channels; ++channel)
        rest[static_cast<size_t>(channel)] = silence[static_cast<size_t>(channel)].data();
    conv->load_ir_data(rest.data(), 1);
}

void convolver_ts_stack::process_frames(float** in, float** out, int frames)
{
    if (in == nullptr || out == nullptr || frames <= 0) return;
    for (int channel = 0; channel < num_channels; ++channel) {
        auto const c = static_cast<size_t>(channel);
        if (head_fir != nullptr) head_fir->set_bypass(channel, fir_bypass[c]);
        conv->set_channel_bypass(channel, conv_bypass[c]);
        conv->set_input_present(channel, input_hints[c]);
    }
    for (int done = 0; done < frames;) {
        int const n = std::min(frames - done, max_frames);
        process_piece(in, out, done, n);
        done += n;
    }
}

void convolver_ts_stack::process_piece(float** in, float** out, int offset, int frames)
{
    for (int channel = 0; channel < num_channels; ++channel) {
        head_input[channel] = in[channel & ~1] + offset;
        conv_input[channel] = in[channel] + offset;
        ippsSet_32f(0.0f, out[channel] + offset, frames);
    }
    int const outputs = std::min(num_channels, true_stereo_outputs);
    if (head_fir != nullptr) {
        head_fir->process_not_replacing(head_input, head_output, frames);
        for (int channel = 0; channel < num_channels; ++channel)
            if (!fir_bypass[static_cast<size_t>(channel)])
                ippsAdd_32f_I(head_output[channel], out[channel % true_stereo_outputs] + offset, frames);
    }
    conv->process_not_replacing(conv_input, conv_output, frames);
    for (int channel = 0; channel < outputs; ++channel)
        ippsAdd_32f_I(conv_output[channel], out[channel] + offset, frames);
}

void convolver_ts_stack::clear_buffers()
{
    if (head_fir != nullptr) head_fir->clear_delay_line();
    conv->silence_x_y_buffers();
}

void convolver_ts_stack::minimise_ir_data_memory()
{
    conv->minimise_ir_data_memory();
}
