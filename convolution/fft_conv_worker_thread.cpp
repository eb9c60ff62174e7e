#include "convolution/fft_conv_worker_thread.h"

#include "platform/message_box.h"
#include "platform/threading.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

namespace {

constexpr int constructor_ir_length = 8192;
constexpr int minimised_ir_length = 65536;

[[noreturn]] void fail(char const* message)
{
    throw std::runtime_error(message);
}

// Offsets spread the large transforms of different convolvers over time; they only need to
// differ, so one generator for the process, guarded because convolvers are built on any thread.
int draw_phase_offset()
{
    static std::mutex mutex;
    static std::minstd_rand generator{std::random_device{}()};
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<int>(generator() % fft_conv_worker_thread::max_phase_offset) + 1;
}

unsigned next_event_serial()
{
    static std::atomic<unsigned> serial{0};
    return serial.fetch_add(1, std::memory_order_relaxed) + 1;
}

void show(std::string const& text, char const* caption)
{
    MessageBoxA(nullptr, text.c_str(), caption, 0);
}

int fft_order(int fft_size)
{
    return static_cast<int>(std::lround(std::log2(static_cast<double>(fft_size))));
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Layout

int fft_conv_worker_thread::next_block_size(LayoutRule const& rule, int size)
{
    return rule.growth_factor * size <= rule.growth_limit ? rule.growth_factor * size : size;
}

fft_conv_worker_thread::Layout fft_conv_worker_thread::compute_layout(int length, int N)
{
    return compute_layout(layout_rule, length, N);
}

fft_conv_worker_thread::Layout fft_conv_worker_thread::compute_layout(LayoutRule const& rule, int length, int N)
{
    int const sub_blocks_per_level = rule.sub_blocks_per_level;
    auto const grow = [&rule](int size) { return next_block_size(rule, size); };
    Layout layout;
    if (length <= 0 || N <= 0) return layout;

    int size = N;
    long long covered = static_cast<long long>(sub_blocks_per_level) * N;
    long long earlier_sizes = 0; // sum of the sizes of all levels before the last
    layout.block_size[0] = N;
    layout.num_levels = 1;
    if (covered < length && grow(N) != N) {
        for (;;) {
            earlier_sizes += size;
            size = grow(size);
            layout.block_size[layout.num_levels++] = size;
            covered += static_cast<long long>(sub_blocks_per_level) * size;
            if (covered >= length || grow(size) == size || layout.num_levels == max_levels) break;
        }
    }

    long long padded = 0;
    for (int level = 0; level + 1 < layout.num_levels; ++level) {
        layout.num_sub_blocks[level] = sub_blocks_per_level;
        padded += static_cast<long long>(sub_blocks_per_level) * layout.block_size[level];
    }
    // Single precision on purpose: the layout must agree with what the IR build pipeline pads to.
    float const remaining = static_cast<float>(length - sub_blocks_per_level * earlier_sizes);
    float const last_count = std::ceil(remaining / static_cast<float>(size));
    if (!(last_count < static_cast<float>(INT_MAX / 2)))
        return Layout{}; // longer than any layout can hold in memory
    int const last = std::max(2, static_cast<int>(last_count));
    layout.num_sub_blocks[layout.num_levels - 1] = last;
    padded += static_cast<long long>(last) * size;
    if (padded > INT_MAX / 2) return Layout{};
    layout.padded_length = static_cast<int>(padded);
    return layout;
}

int fft_conv_worker_thread::calc_num_samples_for_buffered_load(int length, int N)
{
    return compute_layout(length, N).padded_length;
}

// ---------------------------------------------------------------------------------------------
// Memory

namespace {

// Releases whatever part of a table exists. With `strict`, a missing piece of a complete table is
// reported with the messages callers expect; without it (rolling back a failed allocation) missing
// pieces are simply skipped.
void release_table(fft_conv_worker_thread::IR_PARTITION_BLOCK**& table, int& levels, int channels,
                   bool strict)
{
    if (table == nullptr) {
        if (strict) fail("Block free error in free_convolution_memory #");
        levels = 0;
        return;
    }
    char const* error = nullptr;
    auto missing = [&](char const* message) {
        if (strict && error == nullptr) error = message;
    };
    for (int channel = 0; channel < channels; ++channel) {
        fft_conv_worker_thread::IR_PARTITION_BLOCK* records = table[channel];
        if (records == nullptr) continue;
        for (int level = 0; level < levels; ++level) {
            auto& r = records[level];
            if (r.input_buffer == nullptr && r.block_size == 0)
                continue; // never reached by a failed allocation
            r.input_buffer ? ippsFree(r.input_buffer)
                           : missing("Block free error in free_convolution_memory #1");
            r.accumulator ? ippsFree(r.accumulator)
                          : missing("Block free error in free_convolution_memory #2");
            r.output_recent ? ippsFree(r.output_recent)
                            : missing("Block free error in free_convolution_memory #3");
            r.output_older ? ippsFree(r.output_older)
                           : missing("Block free error in free_convolution_memory #4");
            r.transform_scratch ? ippsFree(r.transform_scratch)
                                : missing("Block free error in free_convolution_memory #4");
            for (float** list : {r.input_spectra, r.ir_spectra, r.staged_ir_spectra}) {
                if (list == nullptr) {
                    missing("Block free error in free_convolution_memory #6");
                    continue;
                }
                for (int j = 0; j < r.num_sub_blocks; ++j)
                    list[j] ? ippsFree(list[j]) : missing("Block free error in free_convolution_memory #5");
                std::free(list);
            }
            std::free(r.history_live);
            std::free(r.live_inputs);
            std::free(r.live_responses);
            if (channel == 0) {
                for (IppsFFTSpec_R_32f* spec : {r.fft_spec, r.load_fft_spec})
                    if (spec != nullptr && ippsFFTFree_R_32f(spec) != ippStsNoErr)
                        missing("Block free FFT error in free_convolution_memory #1");
                ippsFree(r.fft_work);
                ippsFree(r.load_fft_work);
            }
        }
        std::free(records);
    }
    std::free(table);
    table = nullptr;
    levels = 0;
    if (error != nullptr) fail(error);
}

float* allocate_cleared(int count, char const* message)
{
    float* buffer = ippsMalloc_32f(count);
    if (buffer == nullptr) fail(message);
    ippsSet_32f(0.0f, buffer, count);
    return buffer;
}

float** allocate_spectra_list(int count, char const* list_message, char const* entry_message, int length,
                              bool clear = true)
{
    auto** list = static_cast<float**>(std::calloc(static_cast<size_t>(count), sizeof(float*)));
    if (list == nullptr) fail(list_message);
    for (int j = 0; j < count; ++j) {
        list[j] = ippsMalloc_32f(length);
        if (list[j] == nullptr) {
            for (int k = 0; k < j; ++k)
                ippsFree(list[k]);
            std::free(list);
            fail(entry_message);
        }
        if (clear) ippsSet_32f(0.0f, list[j], length);
    }
    return list;
}

} // namespace

void fft_conv_worker_thread::allocate_convolution_memory(IR_PARTITION_BLOCK**& table, int& levels,
                                                         int ir_length)
{
    Layout const layout = compute_layout(partition_rule, ir_length, host_block_length);

    auto** fresh =
        static_cast<IR_PARTITION_BLOCK**>(std::calloc(static_cast<size_t>(num_channels), sizeof(void*)));
    if (fresh == nullptr) fail("Block allocation error in allocate_convolution_memory #1");
    int fresh_levels = layout.num_levels;

    try {
        for (int channel = 0; channel < num_channels; ++channel) {
            if (layout.num_levels <= 0)
                fail("Block allocation error (no blocks found) in allocate_convolution_memory #2");
            fresh[channel] = static_cast<IR_PARTITION_BLOCK*>(
                std::calloc(static_cast<size_t>(layout.num_levels), sizeof(IR_PARTITION_BLOCK)));
            if (fresh[channel] == nullptr) fail("Block allocation error in allocate_convolution_memory #3");

            for (int level = 0; level < layout.num_levels; ++level) {
                IR_PARTITION_BLOCK& r = fresh[channel][level];
                int const B = layout.block_size[level];
                r.block_size = B;
                r.fft_size = 2 * B;
                r.buffer_length = 2 * B + 4;
                r.fill_position = 0;
                r.threaded = B > partition_rule.threaded_threshold;
                r.pending = 0;
                r.inputs_identical = 1;
                r.share_spectrum = 0;
                r.valid_history = layout.num_sub_blocks[level];
                r.blocks_since_forget = 3;
                r.forget_pending = 0;
                r.input_buffer = allocate_cleared(r.buffer_length,
                                                  "Block allocation error in allocate_convolution_memory #4");
                r.accumulator = allocate_cleared(r.buffer_length,
                                                 "Block allocation error in allocate_convolution_memory #5");
                r.output_recent = allocate_cleared(
                    r.buffer_length, "Block allocation error in allocate_convolution_memory #6");
                r.output_older = allocate_cleared(r.buffer_length,
                                                  "Block allocation error in allocate_convolution_memory #7");
                r.transform_scratch = allocate_cleared(
                    r.buffer_length, "Block allocation error in allocate_convolution_memory #7");

                r.num_sub_blocks = layout.num_sub_blocks[level];
                r.input_spectra = allocate_spectra_list(
                    r.num_sub_blocks, "Block allocation error in allocate_convolution_memory #8",
                    "Block allocation error in allocate_convolution_memory #10", r.buffer_length);
                r.ir_spectra = allocate_spectra_list(
                    r.num_sub_blocks, "Block allocation error in allocate_convolution_memory #9",
                    "Block allocation error in allocate_convolution_memory #11", r.buffer_length);
                // Staged spectra are written whole (block, zero padding, transform in place) before
                // they are swapped in: clearing them would only add to every load.
                r.staged_ir_spectra = allocate_spectra_list(
                    r.num_sub_blocks, "Block allocation error in allocate_convolution_memory #9",
                    "Block allocation error in allocate_convolution_memory #11", r.buffer_length, false);
                // Everything else starts as silence: cleared spectra and results.
                auto const K = static_cast<size_t>(r.num_sub_blocks);
                r.history_live = static_cast<std::uint8_t*>(std::calloc(K, 1));
                r.live_inputs = static_cast<float const**>(std::calloc(2 * K, sizeof(float*)));
                r.live_responses = static_cast<float const**>(std::calloc(2 * K, sizeof(float*)));
                if (r.history_live == nullptr || r.live_inputs == nullptr || r.live_responses == nullptr)
                    fail("Block allocation error in allocate_convolution_memory #8");
                r.accumulator_silent = r.recent_silent = r.older_silent = 1;

                if (channel == 0) {
                    int const order = fft_order(r.fft_size);
                    // The 1/n of the inverse is folded into the IR spectra when they are loaded, so
                    // the audio path never spends a pass on scaling.
                    if (ippsFFTInitAlloc_R_32f(&r.fft_spec, order, IPP_FFT_NODIV_BY_ANY, ippAlgHintNone) !=
                        ippStsNoErr)
                        fail("Block allocation FFT error in allocate_convolution_memory #1a");
                    if (ippsFFTInitAlloc_R_32f(&r.load_fft_spec, order, IPP_FFT_DIV_FWD_BY_N,
                                               ippAlgHintNone) != ippStsNoErr)
                        fail("Block allocation FFT error in allocate_convolution_memory #1b");
                    int work_size = 0;
                    if (ippsFFTGetBufSize_R_32f(r.fft_spec, &work_size) != ippStsNoErr)
                        fail("Block allocation FFT error in allocate_convolution_memory #2");
                    r.fft_work = ippsMalloc_8u(std::max(work_size, 1));
                    r.load_fft_work = ippsMalloc_8u(std::max(work_size, 1));
                    if (r.fft_work == nullptr || r.load_fft_work == nullptr)
                        fail("Block allocation FFT error in allocate_convolution_memory #2");
                    if (partition_rule.clear_fft_work) {
                        std::memset(r.fft_work, 0, static_cast<size_t>(std::max(work_size, 1)));
                        std::memset(r.load_fft_work, 0, static_cast<size_t>(std::max(work_size, 1)));
                    }
                } else {
                    IR_PARTITION_BLOCK const& first = fresh[0][level];
                    r.fft_spec = first.fft_spec;
                    r.fft_work = first.fft_work;
                    r.load_fft_spec = first.load_fft_spec;
                    r.load_fft_work = first.load_fft_work;
                }
            }
        }
    } catch (...) {
        // Roll back so a failed load leaks nothing; the caller's table is untouched.
        release_table(fresh, fresh_levels, num_channels, false);
        throw;
    }

    if (running.load(std::memory_order_acquire) && phase_offset > 0)
        for (int channel = 0; channel < num_channels; ++channel)
            for (int level = 0; level < layout.num_levels; ++level)
                fresh[channel][level].fill_position = phase_offset % fresh[channel][level].block_size;

    table = fresh;
    levels = layout.num_levels;
}

void fft_conv_worker_thread::free_convolution_memory(IR_PARTITION_BLOCK**& table, int& levels)
{
    release_table(table, levels, num_channels, true);
}

// ---------------------------------------------------------------------------------------------
// Construction and the worker

fft_conv_worker_thread::fft_conv_worker_thread(int channels, int N) : fft_conv_worker_thread(channels, N, layout_rule)
{
}

fft_conv_worker_thread::fft_conv_worker_thread(int channels, int N, LayoutRule const& layout) : partition_rule(layout)
{
    InitializeCriticalSection(&process_lock);
    InitializeCriticalSection(&worker_lock);
    InitializeCriticalSection(&load_lock);
    num_levels = 4;
    num_channels = channels;
    host_block_length = N;
    phase_offset = draw_phase_offset();

    unsigned const serial = next_event_serial();
    char name[64];
    std::snprintf(name, sizeof name, "Local\\Event%10u+%10u", serial, static_cast<unsigned>(N));
    trigger_event_handle = CreateEvent(nullptr, 0, 0, name);
    std::snprintf(name, sizeof name, "Local\\Event%10u-%10u", serial, static_cast<unsigned>(N));
    done_event_handle = trigger_event_handle != nullptr ? CreateEvent(nullptr, 0, 1, name) : nullptr;
    if (trigger_event_handle == nullptr || done_event_handle == nullptr) {
        CloseHandle(trigger_event_handle);
        DeleteCriticalSection(&process_lock);
        DeleteCriticalSection(&worker_lock);
        DeleteCriticalSection(&load_lock);
        fail(trigger_event_handle == nullptr ? "Thread creation error #2 (CreateEvent)."
                                             : "Thread creation error #3 (CreateEvent2).");
    }

    corvella::CriticalSectionLock load(&load_lock);
    corvella::CriticalSectionLock process(&process_lock);
    corvella::CriticalSectionLock worker(&worker_lock);
    try {
        if (channels <= 0 || N <= 0)
            fail("Block allocation error (no blocks found) in allocate_convolution_memory #2");
        allocate_convolution_memory(partitions, num_levels, constructor_ir_length);
        running.store(true, std::memory_order_release);
    } catch (std::exception const& e) {
        show(std::string(e.what()) + " (thread entry point allocate)", corvella::caption::convolver_thread);
    }
}

fft_conv_worker_thread::~fft_conv_worker_thread()
{
    {
        corvella::CriticalSectionLock load(&load_lock);
        corvella::CriticalSectionLock process(&process_lock);
        corvella::CriticalSectionLock worker(&worker_lock);
        if (partitions != nullptr) {
            try {
                free_convolution_memory(partitions, num_levels);
            } catch (std::exception const& e) {
                show(std::string(e.what()) + " (thread entry point deallocate)",
                     corvella::caption::convolver_thread);
            }
        }
    }
    CloseHandle(trigger_event_handle);
    CloseHandle(done_event_handle);
    DeleteCriticalSection(&process_lock);
    DeleteCriticalSection(&worker_lock);
    DeleteCriticalSection(&load_lock);
}

bool fft_conv_worker_thread::fft_conv_worker_thread_initialise(fft_conv_worker_thread** out,
                                                               void** thread_handle, unsigned int*,
                                                               int channels, int N)
{
    fft_conv_worker_thread* convolver = nullptr;
    try {
        convolver = new fft_conv_worker_thread(channels, N);
    } catch (...) {
        return false;
    }
    *out = convolver;
    return start_worker(convolver, thread_handle);
}

bool fft_conv_worker_thread::start_worker(fft_conv_worker_thread* convolver, void** thread_handle)
{
    try {
        std::uintptr_t const handle =
            _beginthreadex(nullptr, 0, &ThreadStaticEntryPoint, convolver, 0, nullptr);
        if (handle == 0) {
            // No worker will ever pass or finish: process by passing through, and let the owner's
            // wait for the end of the thread return at once.
            convolver->running.store(false, std::memory_order_release);
            convolver->thread_finished.store(true, std::memory_order_release);
            fail("Thread creation error #1 (Instantiation). Processing will be disabled and plugin locked.");
        }
        if (thread_handle != nullptr) *thread_handle = reinterpret_cast<void*>(handle);
        std::snprintf(convolver->thread_name, sizeof convolver->thread_name, "%s", "FFT Thread 1");
        ResumeThread(handle);
        return true;
    } catch (std::runtime_error const&) {
        return false;
    }
}

unsigned fft_conv_worker_thread::ThreadStaticEntryPoint(void* self)
{
    auto* convolver = static_cast<fft_conv_worker_thread*>(self);
    convolver->thread_finished.store(false, std::memory_order_release);
    convolver->ThreadEntryPoint();
    convolver->thread_finished.store(true, std::memory_order_release);
    return 0;
}

void fft_conv_worker_thread::ThreadEntryPoint()
{
    ippSetFlushToZero(1, nullptr);
    ippSetDenormAreZeros(1);
    try {
        while (running.load(std::memory_order_acquire)) {
            WaitForSingleObject(trigger_event_handle, -1);
            if (!running.load(std::memory_order_acquire)) break;
            process_check_and_run_triggered_threaded_block_convolutions();
        }
    } catch (std::exception const& e) {
        show(std::string(e.what()) + " (thread entry point, main while loop)",
             corvella::caption::convolver_thread);
        running.store(false, std::memory_order_release);
        SetEvent(done_event_handle);
    }
    running.store(false, std::memory_order_release);
}

void fft_conv_worker_thread::trigger_event()
{
    if (SetEvent(trigger_event_handle) != 1) fail("Thread error (SetEvent) on trigger_event.");
}

void fft_conv_worker_thread::trigger_kill()
{
    running.store(false, std::memory_order_release);
    bool const woke = SetEvent(trigger_event_handle) == 1;
    SetEvent(done_event_handle); // release an audio thread waiting for a pass that will not come
    if (!woke) fail("Thread error (SetEvent) on trigger_kill.");
}

void fft_conv_worker_thread::process_check_and_run_triggered_threaded_block_convolutions()
{
    {
        corvella::CriticalSectionLock worker(&worker_lock);
        for (int level = 0; level < num_levels; ++level) {
            bool ready = true;
            for (int channel = 0; channel < num_channels; ++channel) {
                IR_PARTITION_BLOCK const& r = partitions[channel][level];
                ready = ready && r.threaded && r.pending;
            }
            if (!ready) continue;
            for (int channel = 0; channel < num_channels; ++channel)
                partitions[channel][level].pending = 0;
            process_convolution_block(level);
        }
    }
    SetEvent(done_event_handle);
}

// ---------------------------------------------------------------------------------------------
// Processing

bool fft_conv_worker_thread::has_input(float* const* in, int channels, int offset, int frames)
{
    for (int channel = 0; channel < channels; ++channel)
        if (!corvella::ipps_is_silent_32f(in[channel] + offset, frames)) return true;
    return false;
}

bool fft_conv_worker_thread::inputs_identical(float** in, int offset, int frames) const
{
    for (int channel = 1; channel < num_channels; ++channel)
        if (in[channel] != in[0] && std::memcmp(in[channel] + offset, in[0] + offset,
                                                sizeof(float) * static_cast<size_t>(frames)) != 0)
            return false;
    return true;
}

void fft_conv_worker_thread::hand_over_block(IR_PARTITION_BLOCK& r)
{
    r.share_spectrum = r.inputs_identical;
    r.inputs_identical = 1;
    rotate_input_history(r);
    rotate_results(r);
}

void fft_conv_worker_thread::rotate_input_history(IR_PARTITION_BLOCK& r)
{
    int const K = r.num_sub_blocks;
    float* const oldest = r.input_spectra[K - 1];
    for (int j = K - 1; j > 0; --j)
        r.input_spectra[j] = r.input_spectra[j - 1];
    r.input_spectra[0] = oldest;
    std::swap(r.input_buffer, r.input_spectra[0]);
}

void fft_conv_worker_thread::rotate_results(IR_PARTITION_BLOCK& r)
{
    float* const finished = r.accumulator;
    r.accumulator = r.output_older;
    r.output_older = r.output_recent;
    r.output_recent = finished;
    std::uint8_t const finished_silent = r.accumulator_silent;
    r.accumulator_silent = r.older_silent;
    r.older_silent = r.recent_silent;
    r.recent_silent = finished_silent;
}

void fft_conv_worker_thread::process_convolution_block(int level)
{
    IR_PARTITION_BLOCK& first = partitions[0][level];
    bool const share = first.share_spectrum != 0;
    int const K = first.num_sub_blocks;
    int const valid = std::clamp(first.valid_history, 1, K);
    first.shared_run = share ? std::min(first.shared_run + 1, K) : 0;
    bool const borrow = share && first.shared_run >= K;
    int const complex_count = first.buffer_length / 2;
    bool const fresh_input = first.history_live[0] != 0;
    int live = 0; // input spectra in use that hold input
    for (int j = 0; j < valid; ++j)
        live += first.history_live[j];

    for (int channel = 1; channel < num_channels; ++channel) {
        IR_PARTITION_BLOCK& r = partitions[channel][level];
        if (!borrow && r.history_borrowed) {
            // The inputs part: the earlier blocks were common, so channel 0 holds their spectra.
            for (int j = 1; j < K; ++j)
                ippsCopy_32f(first.input_spectra[j], r.input_spectra[j], r.buffer_length);
        }
        r.history_borrowed = borrow;
    }
    for (int channel = 0; channel < num_channels; ++channel) {
        IR_PARTITION_BLOCK& r = partitions[channel][level];
        r.pending = 0;
        // A silent block stands for zeros: it is not transformed, and no product reads it.
        if (!fresh_input) continue;
        if (channel == 0 || !share) {
            ippsSet_32f(0.0f, r.input_spectra[0] + r.block_size, r.buffer_length - r.block_size);
            ippsFFTFwd_RToCCS_32f(r.input_spectra[0], r.transform_scratch, r.fft_spec, r.fft_work);
            std::swap(r.input_spectra[0], r.transform_scratch);
        } else if (!borrow) {
            ippsCopy_32f(first.input_spectra[0], r.input_spectra[0], r.buffer_length);
        }
    }

    if (live == 0) {
        // Nothing but silence in the history: the result is silence, and is neither computed nor heard.
        for (int channel = 0; channel < num_channels; ++channel)
            partitions[channel][level].accumulator_silent = 1;
        skipped_blocks.fetch_add(1, std::memory_order_relaxed);
        return;
    }

    // The products in ascending order over the entries that hold input. A left-out entry's product
    // is an exact zero, so the sums are those of the full history bit for bit.
    auto gather = [&](IR_PARTITION_BLOCK& r, float** history, bool inputs) {
        if (live == valid) return;
        int n = 0;
        for (int j = 0; j < valid; ++j) {
            if (!first.history_live[j]) continue;
            if (inputs) r.live_inputs[n] = history[j];
            r.live_responses[n++] = r.ir_spectra[j];
        }
    };
    auto inputs_of = [&](IR_PARTITION_BLOCK& r, float** history) -> float const* const* {
        if (live == valid) return history;
        return r.live_inputs;
    };
    auto responses_of = [&](IR_PARTITION_BLOCK& r) -> float const* const* {
        if (live == valid) return r.ir_spectra;
        return r.live_responses;
    };

    int channel = 0;
    if (borrow) {
        // Channel 0 with each further channel in turn, over channel 0's history.
        gather(first, first.input_spectra, true);
        for (; channel + 1 < num_channels; channel += 2) {
            IR_PARTITION_BLOCK& r0 = partitions[channel][level];
            IR_PARTITION_BLOCK& r1 = partitions[channel + 1][level];
            if (channel != 0) gather(r0, nullptr, false);
            gather(r1, nullptr, false);
            corvella::ipps_sum_of_products_pair_32fc(inputs_of(first, first.input_spectra), responses_of(r0),
                                                     responses_of(r1), live, r0.accumulator, r1.accumulator,
                                                     complex_count);
        }
    }
    for (; channel < num_channels; ++channel) {
        IR_PARTITION_BLOCK& r = partitions[channel][level];
        IR_PARTITION_BLOCK& source = borrow ? first : r;
        if (!borrow || channel != 0) gather(r, source.input_spectra, !borrow);
        if (borrow) {
            corvella::ipps_sum_of_products_32fc(inputs_of(first, first.input_spectra), responses_of(r), live,
                                                r.accumulator, complex_count);
        } else {
            corvella::ipps_sum_of_products_32fc(inputs_of(r, r.input_spectra), responses_of(r), live,
                                                r.accumulator, complex_count);
        }
    }
    for (channel = 0; channel < num_channels; ++channel) {
        IR_PARTITION_BLOCK& r = partitions[channel][level];
        ippsFFTInv_CCSToR_32f(r.accumulator, r.transform_scratch, r.fft_spec, r.fft_work);
        std::swap(r.accumulator, r.transform_scratch);
        r.accumulator_silent = 0;
    }
}

void fft_conv_worker_thread::process_not_replacing(float** in, float** out, int frames)
{
    if (in == nullptr || out == nullptr || frames <= 0) return;
    corvella::CriticalSectionLock process(&process_lock);

    if (!running.load(std::memory_order_acquire) || partitions == nullptr) {
        for (int channel = 0; channel < io_channels(); ++channel)
            ippsCopy_32f(in[channel], out[channel], frames);
        return;
    }

    for (int channel = 0; channel < result_channels(); ++channel)
        ippsSet_32f(0.0f, out[channel], frames);
    // A plain load first: the read-modify-write is paid only when a silence was asked for.
    if (silence_requested.load(std::memory_order_acquire) && silence_requested.exchange(false, std::memory_order_acq_rel))
        forget_history();

    int done = 0;
    while (done < frames) {
        // A chunk never crosses a level-0 block boundary, so every larger boundary falls between chunks.
        int const n = std::min(frames - done, host_block_length - partitions[0][0].fill_position);
        add_chunk_outputs(out, done, n);
        bool waited = false;
        for (int level = 0; level < num_levels; ++level) {
            fill_level(level, in, done, n);
            if (partitions[0][level].fill_position != 0) continue;
            if (partitions[0][level].threaded) {
                if (!waited) {
                    // A look first, so that a wait that blocks can be counted; taking the signal
                    // costs the usual one lock when the worker is done.
                    if (!corvella::take_pending_signal(done_event_handle)) {
                        blocked_waits.fetch_add(1, std::memory_order_relaxed);
                        WaitForSingleObject(done_event_handle, -1);
                    }
                    waited = true;
                }
                corvella::CriticalSectionLock worker(&worker_lock);
                hand_over_level(level);
                for (int channel = 0; channel < num_channels; ++channel)
                    partitions[channel][level].pending = 1;
            } else {
                hand_over_level(level);
                process_convolution_block(level);
            }
        }
        if (waited) trigger_event();
        done += n;
    }
}

// Every level's two overlapping results in one pass over the output, in level order.
void fft_conv_worker_thread::add_chunk_outputs(float** out, int offset, int frames)
{
    int const channels = result_channels();
    for (int channel = 0; channel < channels; ++channel) {
        // Results that are silence, or stale after forgetting, are left out.
        float const* results[2 * max_levels];
        int count = 0;
        for (int level = 0; level < num_levels; ++level) {
            IR_PARTITION_BLOCK const& r = partitions[channel][level];
            int const fresh = partitions[0][level].blocks_since_forget;
            if (fresh >= 2 && !r.recent_silent) results[count++] = r.output_recent + r.fill_position;
            if (fresh >= 3 && !r.older_silent) results[count++] = r.output_older + r.block_size + r.fill_position;
        }
        if (count > 0) corvella::ipps_add_many_32f_I(results, count, out[channel] + offset, frames);
    }
}

void fft_conv_worker_thread::fill_level(int level, float** in, int offset, int frames)
{
    if (level == 0) { // levels run in order
        // Zeros on every channel are the same input on every channel.
        chunk_has_input = !idle_skipping.load(std::memory_order_relaxed) || has_input(in, num_channels, offset, frames);
        chunk_identical = !chunk_has_input || inputs_identical(in, offset, frames);
    }
    IR_PARTITION_BLOCK& first = partitions[0][level];
    if (!chunk_identical) first.inputs_identical = 0;
    // A block that has seen nothing but zeros is never transformed, so its buffers are not written
    // until input comes; then what went before becomes zeros.
    bool const write = chunk_has_input || first.filling_live;
    bool const clear_before = chunk_has_input && !first.filling_live;
    if (chunk_has_input) first.filling_live = 1;
    for (int channel = 0; channel < num_channels; ++channel) {
        IR_PARTITION_BLOCK& r = partitions[channel][level];
        int const p = r.fill_position;
        if (clear_before) ippsSet_32f(0.0f, r.input_buffer, p);
        if (write) ippsCopy_32f(in[channel] + offset, r.input_buffer + p, frames);
        r.fill_position = (p + frames) % r.block_size;
    }
}

void fft_conv_worker_thread::hand_over_level(int level)
{
    start_hand_over(level);
    rotate_history_live(partitions[0][level]);
    for (int channel = 0; channel < num_channels; ++channel)
        hand_over_block(partitions[channel][level]);
}

// The flags move with the input spectra: the completed block becomes entry 0.
void fft_conv_worker_thread::rotate_history_live(IR_PARTITION_BLOCK& first)
{
    int const K = first.num_sub_blocks;
    for (int j = K - 1; j > 0; --j)
        first.history_live[j] = first.history_live[j - 1];
    first.history_live[0] = first.filling_live;
    first.filling_live = 0;
}

void fft_conv_worker_thread::enter_exchange_locks()
{
    for (;;) {
        EnterCriticalSection(&process_lock);
        if (corvella::try_enter_critical_section(&worker_lock)) return;
        // The worker is in a pass: holding process_lock while waiting for it would stall the audio thread.
        LeaveCriticalSection(&process_lock);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

void fft_conv_worker_thread::leave_exchange_locks()
{
    LeaveCriticalSection(&worker_lock);
    LeaveCriticalSection(&process_lock);
}

void fft_conv_worker_thread::silence_x_y_buffers()
{
    silence_requested.store(true, std::memory_order_release);
}

// Everything heard before this call is forgotten. Clearing the histories of a long response
// would cost the audio thread milliseconds, so only the part of the block being filled is cleared
// (at most one block per level); the spectra and outputs computed before are masked instead.
void fft_conv_worker_thread::forget_history()
{
    for (int level = 0; level < num_levels; ++level) {
        for (int channel = 0; channel < num_channels; ++channel) {
            IR_PARTITION_BLOCK& r = partitions[channel][level];
            ippsSet_32f(0.0f, r.input_buffer, r.fill_position);
        }
        partitions[0][level].forget_pending = 1;
        partitions[0][level].blocks_since_forget = 0;
        partitions[0][level].filling_live = 0; // what it had seen is cleared
    }
}

// Bookkeeping of a level's hand-over; for a threaded level the caller holds worker_lock, since
// the worker reads valid_history.
void fft_conv_worker_thread::start_hand_over(int level)
{
    IR_PARTITION_BLOCK& first = partitions[0][level];
    if (first.forget_pending) {
        first.forget_pending = 0;
        first.valid_history = 0;
        first.shared_run = 0;
    }
    first.valid_history = std::min(first.valid_history + 1, first.num_sub_blocks);
    first.blocks_since_forget = std::min(first.blocks_since_forget + 1, 3);
}

// ---------------------------------------------------------------------------------------------
// Loading

void fft_conv_worker_thread::load_ir_data(float** ir, int length)
{
    EnterCriticalSection(&load_lock);
    float** padded = nullptr;
    auto release_padded = [&]() {
        if (padded == nullptr) return;
        for (int channel = 0; channel < num_channels; ++channel)
            ippsFree(padded[channel]);
        ippsFree(padded);
        padded = nullptr;
    };

    try {
        int const padded_length = compute_layout(partition_rule, length, host_block_length).padded_length;
        padded = reinterpret_cast<float**>(
            ippsMalloc_8u(static_cast<int>(sizeof(float*)) * std::max(num_channels, 1)));
        if (padded == nullptr) fail("Aligned malloc allocation error in load_ir_data #1");
        std::memset(padded, 0, sizeof(float*) * static_cast<size_t>(std::max(num_channels, 1)));
        if (padded_length < 1) {
            if (length > 0) fail("Malloc allocation error in load_ir_data #2"); // too long for any layout
            release_padded();
            LeaveCriticalSection(&load_lock);
            ir_loaded.store(true, std::memory_order_release);
            return;
        }
        if (ir == nullptr) fail("Null impulse response in load_ir_data #0");

        for (int channel = 0; channel < num_channels; ++channel) {
            if (ir[channel] == nullptr) fail("Null impulse response in load_ir_data #0");
            padded[channel] = ippsMalloc_32f(padded_length);
            if (padded[channel] == nullptr) fail("Malloc allocation error in load_ir_data #2");
            ippsSet_32f(0.0f, padded[channel], padded_length);
            ippsCopy_32f(ir[channel], padded[channel], length);
        }

        Layout const layout = compute_layout(partition_rule, padded_length, host_block_length);
        bool const same_layout =
            partitions != nullptr && layout.num_levels == num_levels &&
            layout.num_sub_blocks[layout.num_levels - 1] == partitions[0][num_levels - 1].num_sub_blocks;
        if (!same_layout) {
            IR_PARTITION_BLOCK** fresh = nullptr;
            int fresh_levels = 0;
            allocate_convolution_memory(fresh, fresh_levels, padded_length);
            enter_exchange_locks();
            std::swap(partitions, fresh);
            std::swap(num_levels, fresh_levels);
            leave_exchange_locks();
            if (fresh != nullptr) free_convolution_memory(fresh, fresh_levels);
        }

        for (int channel = 0; channel < num_channels; ++channel) {
            int offset = 0;
            for (int level = 0; level < num_levels; ++level) {
                IR_PARTITION_BLOCK& r = partitions[channel][level];
                for (int j = 0; j < r.num_sub_blocks; ++j) {
                    if (offset + r.block_size > padded_length)
                        fail("Tried to copy too many samples in load_ir_data #1");
                    float* spectrum = r.staged_ir_spectra[j];
                    ippsCopy_32f(padded[channel] + offset, spectrum, r.block_size);
                    ippsSet_32f(0.0f, spectrum + r.block_size, r.buffer_length - r.block_size);
                    if (ippsFFTFwd_RToCCS_32f_I(spectrum, r.load_fft_spec, r.load_fft_work) != ippStsNoErr)
                        fail("Execution of FFT error in load_ir_data #1");
                    offset += r.block_size;
                }
            }
        }
        release_padded();

        enter_exchange_locks();
        for (int channel = 0; channel < num_channels; ++channel)
            for (int level = 0; level < num_levels; ++level)
                std::swap(partitions[channel][level].ir_spectra,
                          partitions[channel][level].staged_ir_spectra);
        leave_exchange_locks();
    } catch (std::exception const& e) {
        release_padded();
        show(std::string(e.what()) + ": Seen during ir file change", corvella::caption::ir_files);
    }
    LeaveCriticalSection(&load_lock);
    ir_loaded.store(true, std::memory_order_release);
}

void fft_conv_worker_thread::minimise_ir_data_memory()
{
    if (!ir_loaded.load(std::memory_order_acquire)) {
        ir_loaded.store(false, std::memory_order_release);
        return;
    }
    auto** silence = reinterpret_cast<float**>(
        ippsMalloc_8u(static_cast<int>(sizeof(float*)) * std::max(num_channels, 1)));
    if (silence == nullptr) fail("Aligned malloc allocation error in minimise_ir_data_memory #1");
    std::memset(silence, 0, sizeof(float*) * static_cast<size_t>(std::max(num_channels, 1)));
    auto release = [&]() {
        for (int channel = 0; channel < num_channels; ++channel)
            ippsFree(silence[channel]);
        ippsFree(silence);
    };
    for (int channel = 0; channel < num_channels; ++channel) {
        silence[channel] = ippsMalloc_32f(minimised_ir_length);
        if (silence[channel] == nullptr) {
            release();
            fail("Malloc allocation error in minimise_ir_data_memory #2");
        }
        ippsSet_32f(0.0f, silence[channel], minimised_ir_length);
    }
    load_ir_data(silence, minimised_ir_length);
    release();
    ir_loaded.store(false, std::memory_order_release);
}
