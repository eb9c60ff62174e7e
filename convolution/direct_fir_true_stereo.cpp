#include "convolution/direct_fir_true_stereo.h"

#include "platform/floating_point_state.h"
#include "platform/threading.h"

#include <algorithm>
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <cstring>
#include <stdexcept>

namespace {

[[noreturn]] void fail(char const* message)
{
    throw std::runtime_error(message);
}

char const* const refused_load =
    "Incorrect number of sample frames attempted to be loaded by initial FIR block";

constexpr int max_fft_order = 24;
constexpr int min_block = 32;

// Below this many frames a chunk (other than a block size) is filtered directly. On an AVX2+FMA
// core at T = 256 the four direct paths cost about 40 ns per frame and a chunk through the
// 512-point transforms 1.6 to 2.3 us whatever its length, so they meet between 40 and 56 frames
// (bench/head.cpp, BM_HeadChunk).
constexpr int default_direct_below = 48;

// Arrays are carved from one allocation at multiples of 16 floats, so each starts 64-byte aligned.
int rounded(int floats)
{
    return (floats + 15) & ~15;
}

std::size_t bytes(int floats)
{
    return static_cast<std::size_t>(floats) * sizeof(float);
}

#if defined(__x86_64__)
__attribute__((target("avx2,fma"))) inline float horizontal_sum(__m256 v)
{
    __m128 s = _mm_add_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
    s = _mm_add_ps(s, _mm_movehl_ps(s, s));
    s = _mm_add_ss(s, _mm_movehdup_ps(s));
    return _mm_cvtss_f32(s);
}

// Q consecutive outputs of both output channels from frame i on. Each path is a dot product of its
// reversed taps with a contiguous stretch of its line, so the taps are loaded once for Q outputs
// and, when both sides' inputs agree (Shared), each input vector once for the two paths it feeds.
template <bool Shared, int Q>
__attribute__((target("avx2,fma"), always_inline)) inline void
direct_outputs_avx2(float const* const* reversed, int taps, float const* const* x, float* y0, float* y1,
                    int i)
{
    __m256 sum[Q][4];
    for (auto& row : sum)
        for (auto& v : row)
            v = _mm256_setzero_ps();
    for (int j = 0; j < taps; j += 8) {
        __m256 const r0 = _mm256_load_ps(reversed[0] + j);
        __m256 const r1 = _mm256_load_ps(reversed[1] + j);
        __m256 const r2 = _mm256_load_ps(reversed[2] + j);
        __m256 const r3 = _mm256_load_ps(reversed[3] + j);
        for (int q = 0; q < Q; ++q) {
            if constexpr (Shared) {
                __m256 const a = _mm256_loadu_ps(x[0] + i + q + j);
                __m256 const b = _mm256_loadu_ps(x[2] + i + q + j);
                sum[q][0] = _mm256_fmadd_ps(r0, a, sum[q][0]);
                sum[q][1] = _mm256_fmadd_ps(r1, a, sum[q][1]);
                sum[q][2] = _mm256_fmadd_ps(r2, b, sum[q][2]);
                sum[q][3] = _mm256_fmadd_ps(r3, b, sum[q][3]);
            } else {
                sum[q][0] = _mm256_fmadd_ps(r0, _mm256_loadu_ps(x[0] + i + q + j), sum[q][0]);
                sum[q][1] = _mm256_fmadd_ps(r1, _mm256_loadu_ps(x[1] + i + q + j), sum[q][1]);
                sum[q][2] = _mm256_fmadd_ps(r2, _mm256_loadu_ps(x[2] + i + q + j), sum[q][2]);
                sum[q][3] = _mm256_fmadd_ps(r3, _mm256_loadu_ps(x[3] + i + q + j), sum[q][3]);
            }
        }
    }
    for (int q = 0; q < Q; ++q) {
        y0[i + q] = horizontal_sum(_mm256_add_ps(sum[q][0], sum[q][2]));
        y1[i + q] = horizontal_sum(_mm256_add_ps(sum[q][1], sum[q][3]));
    }
}

// y0[i] = sum over j of reversed[0][j] x[0][i + j] + reversed[2][j] x[2][i + j], y1 likewise with
// paths 1 and 3; taps is a multiple of 8 and the reversed taps are 32-byte aligned.
template <bool Shared>
__attribute__((target("avx2,fma"))) void direct_paths_avx2(float const* const* reversed, int taps,
                                                           float const* const* x, float* y0, float* y1,
                                                           int frames)
{
    int i = 0;
    for (; i + 2 <= frames; i += 2)
        direct_outputs_avx2<Shared, 2>(reversed, taps, x, y0, y1, i);
    if (i < frames) direct_outputs_avx2<Shared, 1>(reversed, taps, x, y0, y1, i);
}
#endif

} // namespace

direct_fir_true_stereo::direct_fir_true_stereo(int taps)
{
    InitializeCriticalSection(&lock);
    num_taps = taps;
    try {
        initialise_fir_memory();
    } catch (...) {
        destroy_fir_memory();
        DeleteCriticalSection(&lock);
        throw;
    }
}

direct_fir_true_stereo::~direct_fir_true_stereo()
{
    destroy_fir_memory();
    EnterCriticalSection(&lock); // no other thread may still be inside
    LeaveCriticalSection(&lock);
    DeleteCriticalSection(&lock);
}

void direct_fir_true_stereo::initialise_fir_memory()
{
    corvella::CriticalSectionLock guard(&lock);
    if (num_taps <= 0 || num_taps > (1 << (max_fft_order - 1))) fail("FIR memory allocation error (taps)");
    padded_taps = (num_taps + 7) & ~7;
    int order = 1;
    while ((1 << order) < 2 * padded_taps)
        ++order;
    fft_size = 1 << order;
    max_chunk = fft_size - num_taps + 1;
    direct_below = std::clamp(default_direct_below, 1, fft_size - padded_taps + 1);
    spectrum_bins = fft_size / 2 + 1;
    // Block sizes M / 4, M / 8, M / 16 (128, 64, 32 at T = 256); shorter ones gain little.
    block_set_count = 0;
    for (int size = fft_size / 4; size >= min_block && block_set_count < max_block_sets; size /= 2) {
        BlockSet& set = block_sets[block_set_count++];
        set.size = size;
        set.parts = (num_taps + size - 1) / size;
        set.stride = rounded(2 * size + 4);
    }
    int ring = 0; // per channel, the largest set's input spectra
    int block_tap_floats = 0;
    for (int b = 0; b < block_set_count; ++b) {
        ring = std::max(ring, block_sets[b].parts * block_sets[b].stride);
        block_tap_floats += paths * block_sets[b].parts * block_sets[b].stride;
    }

    int const line = rounded(fft_size);
    int const spectrum = rounded(fft_size + 4);
    int const direct = rounded(max_chunk);
    int const reversed = rounded(padded_taps);
    int const total = paths * line + (2 * paths + outputs + 2) * spectrum + paths * ring + block_tap_floats +
                      2 * direct + paths * reversed;
    memory = ippsMalloc_32f(total);
    if (memory == nullptr) fail("FIR memory allocation error (taps)");
    ippsSet_32f(0.0f, memory, total);
    float* next = memory;
    auto take = [&next](int floats) {
        float* array = next;
        next += floats;
        return array;
    };
    for (auto& l : lines)
        l = take(line);
    for (auto& s : tap_spectra)
        s = take(spectrum);
    for (auto& s : input_spectra)
        s = take(spectrum);
    for (auto& s : output_spectra)
        s = take(spectrum);
    window = take(spectrum);
    time_result = take(spectrum);
    for (auto& d : direct_result)
        d = take(direct);
    for (auto& r : reversed_taps)
        r = take(reversed);
    for (auto& r : block_ring)
        r = take(ring);
    for (int b = 0; b < block_set_count; ++b)
        for (auto& t : block_sets[b].tap_spectra)
            t = take(block_sets[b].parts * block_sets[b].stride);

    // One work buffer serves every transform size: the largest any of them needs.
    int work_bytes = 0;
    auto make_spec = [&work_bytes](IppsFFTSpec_R_32f** spec, int spec_order) {
        int bytes = 0;
        if (ippsFFTInitAlloc_R_32f(spec, spec_order, IPP_FFT_DIV_INV_BY_N, ippAlgHintNone) != ippStsNoErr ||
            ippsFFTGetBufSize_R_32f(*spec, &bytes) != ippStsNoErr)
            fail("FIR memory allocation error (state initialisation error)");
        work_bytes = std::max(work_bytes, bytes);
    };
    make_spec(&fft_spec, order);
    for (int b = 0; b < block_set_count; ++b) {
        int order_b = 1;
        while ((1 << order_b) < 2 * block_sets[b].size)
            ++order_b;
        make_spec(&block_sets[b].spec, order_b);
    }
    fft_work = ippsMalloc_8u(work_bytes);
    load_work = ippsMalloc_8u(work_bytes);
    if (fft_work == nullptr || load_work == nullptr) fail("FIR memory allocation error (state initialisation error)");
    int const staged_total = 2 * paths * reversed + (paths + 1) * spectrum + block_tap_floats;
    staging = ippsMalloc_32f(staged_total);
    if (staging == nullptr) fail("FIR memory allocation error (taps)");
    ippsSet_32f(0.0f, staging, staged_total);
    next = staging;
    for (int c = 0; c < paths; ++c) {
        staged_taps[c] = take(reversed);
        staged_reversed[c] = take(reversed);
        staged_spectra[c] = take(spectrum);
    }
    staged_window = take(spectrum);
    for (int b = 0; b < block_set_count; ++b)
        for (auto& t : block_sets[b].staged_tap_spectra)
            t = take(block_sets[b].parts * block_sets[b].stride);
    for (auto& state : fir)
        if (ippsFIRInitAlloc_32f(&state, window, num_taps, nullptr) != ippStsNoErr || state == nullptr)
            fail("FIR memory allocation error (state initialisation error)");
    reset_history();
}

void direct_fir_true_stereo::destroy_fir_memory()
{
    corvella::CriticalSectionLock guard(&lock);
    for (auto& state : fir) {
        if (state != nullptr) ippsFIRFree_32f(state);
        state = nullptr;
    }
    if (fft_spec != nullptr) ippsFFTFree_R_32f(fft_spec);
    fft_spec = nullptr;
    for (auto& set : block_sets) {
        if (set.spec != nullptr) ippsFFTFree_R_32f(set.spec);
        set.spec = nullptr;
    }
    ippsFree(fft_work);
    fft_work = nullptr;
    ippsFree(load_work);
    load_work = nullptr;
    ippsFree(memory);
    memory = nullptr;
    ippsFree(staging);
    staging = nullptr;
}

void direct_fir_true_stereo::set_direct_threshold(int frames)
{
    corvella::CriticalSectionLock guard(&lock);
    direct_below = std::clamp(frames, 1, fft_size - padded_taps + 1);
}

void direct_fir_true_stereo::load_ir_data(float** ir, int count)
{
    std::lock_guard<std::mutex> loading(load_mutex);
    if (count > num_taps) fail(refused_load);
    if (memory == nullptr || staging == nullptr) fail("FIR memory allocation error (taps)");
    if (count > 0 && ir == nullptr) fail(refused_load);
    for (int channel = 0; channel < paths; ++channel)
        if (count > 0 && ir[channel] == nullptr) fail(refused_load);
    // The transforms outside the lock, so that processing never waits for them.
    for (int channel = 0; channel < paths; ++channel) {
        float* const taps = staged_taps[channel];
        ippsSet_32f(0.0f, taps, padded_taps);
        if (count > 0) ippsCopy_32f(ir[channel], taps, count);
        float* r = staged_reversed[channel]; // tap k at padded_taps - 1 - k, zeros in front
        for (int k = 0; k < padded_taps; ++k)
            r[padded_taps - 1 - k] = taps[k];
        // Per block size, the taps in parts of one block, each zero-padded to two (parts x size <= M).
        for (int b = 0; b < block_set_count; ++b) {
            BlockSet const& set = block_sets[b];
            for (int part = 0; part < set.parts; ++part) {
                float* spectrum = set.staged_tap_spectra[channel] + part * set.stride;
                ippsSet_32f(0.0f, spectrum, 2 * set.size);
                int const from = part * set.size;
                int const n = std::clamp(padded_taps - from, 0, set.size);
                if (n > 0) ippsCopy_32f(taps + from, spectrum, n);
                ippsFFTFwd_RToCCS_32f_I(spectrum, set.spec, load_work);
            }
        }
        ippsSet_32f(0.0f, staged_window, fft_size);
        ippsCopy_32f(taps, staged_window, padded_taps);
        ippsFFTFwd_RToCCS_32f(staged_window, staged_spectra[channel], fft_spec, load_work);
    }
    corvella::CriticalSectionLock guard(&lock);
    for (int channel = 0; channel < paths; ++channel) {
        ippsFIRSetTaps_32f(staged_taps[channel], fir[channel]);
        ippsCopy_32f(staged_reversed[channel], reversed_taps[channel], padded_taps);
        ippsCopy_32f(staged_spectra[channel], tap_spectra[channel], 2 * spectrum_bins);
        for (int b = 0; b < block_set_count; ++b)
            ippsCopy_32f(block_sets[b].staged_tap_spectra[channel], block_sets[b].tap_spectra[channel],
                         block_sets[b].parts * block_sets[b].stride);
    }
}

void direct_fir_true_stereo::clear_delay_line()
{
    clear_requested.store(true, std::memory_order_release);
}

void direct_fir_true_stereo::apply_pending_clear()
{
    if (!clear_requested.load(std::memory_order_acquire)) return;
    if (!clear_requested.exchange(false, std::memory_order_acq_rel)) return;
    reset_history();
}

void direct_fir_true_stereo::reset_history()
{
    for (auto* l : lines)
        ippsSet_32f(0.0f, l, fft_size);
    silent_tail = fft_size;
    identical_tail[0] = identical_tail[1] = fft_size;
    forget_block_spectra();
}

void direct_fir_true_stereo::forget_block_spectra()
{
    for (int& held : block_history_held)
        held = 0;
}

void direct_fir_true_stereo::process_not_replacing(float** in, float** out, int frames)
{
    if (in == nullptr || out == nullptr || frames <= 0) return;
    for (int channel = 0; channel < paths; ++channel)
        if (in[channel] == nullptr) return;
    if (out[0] == nullptr || out[1] == nullptr) return;
    corvella::ScopedFloatingPointState caller_mode;
    ippSetFlushToZero(1, nullptr);
    ippSetDenormAreZeros(1);
    corvella::CriticalSectionLock guard(&lock);
    if (memory == nullptr) return;
    apply_pending_clear();
    // The longest chunks: one chunk of M - T + 1 frames costs less than two blocks.
    for (int offset = 0; offset < frames;) {
        int const chunk = std::min(max_chunk, frames - offset);
        process_chunk(in, out, offset, chunk);
        offset += chunk;
    }
}

void direct_fir_true_stereo::process_chunk(float** in, float** out, int offset, int frames)
{
    int const M = fft_size;
    bool silent = true;
    for (int channel = 0; channel < paths && silent; ++channel)
        silent = corvella::ipps_is_silent_32f(in[channel] + offset, frames);
    for (int side = 0; side < 2; ++side) {
        float const* a = in[2 * side] + offset;
        float const* b = in[2 * side + 1] + offset;
        bool const same = silent || a == b || std::memcmp(a, b, bytes(frames)) == 0;
        identical_tail[side] = same ? std::min(M, identical_tail[side] + frames) : 0;
    }
    if (silent && silent_tail >= M) {
        // Every line is zeros and stays so: the outputs are silence.
        ippsSet_32f(0.0f, out[0] + offset, frames);
        ippsSet_32f(0.0f, out[1] + offset, frames);
        forget_block_spectra();
        return;
    }
    if (silent) {
        silent_tail = std::min(M, silent_tail + frames);
    } else {
        int trailing = frames; // zeros at the chunk's end on every input
        for (int channel = 0; channel < paths && trailing > 0; ++channel) {
            float const* x = in[channel] + offset;
            int zeros = 0;
            while (zeros < trailing && x[frames - 1 - zeros] == 0.0f)
                ++zeros;
            trailing = zeros;
        }
        silent_tail = trailing;
    }
    // The inputs are taken in before any output is written, so outputs may share the inputs' arrays.
    for (int channel = 0; channel < paths; ++channel) {
        float* l = lines[channel];
        std::memmove(l, l + frames, bytes(M - frames));
        std::memcpy(l + M - frames, in[channel] + offset, bytes(frames));
    }
    if (frames < direct_below && block_set_for(frames) == nullptr) {
        filter_directly(out, offset, frames);
        forget_block_spectra();
    } else if (BlockSet const* set = block_set_for(frames)) { // the engine's host blocks
        filter_block(*set, out, offset);
    } else {
        filter_by_transforms(out, offset, frames);
        forget_block_spectra();
    }
}

direct_fir_true_stereo::BlockSet const* direct_fir_true_stereo::block_set_for(int frames) const
{
    for (int b = 0; b < block_set_count; ++b)
        if (block_sets[b].size == frames) return &block_sets[b];
    return nullptr;
}

void direct_fir_true_stereo::filter_block(BlockSet const& set, float** out, int offset)
{
    // Uniformly partitioned overlap-save: the taps in K parts of one block B, transforms of 2B
    // points. Part j meets the spectrum of the 2B input samples that ended j blocks ago; as long as
    // blocks of this size follow each other, the K - 1 older spectra are the ones the blocks before
    // made, and only the newest is transformed.
    int const M = fft_size;
    int const B = set.size;
    int const K = set.parts;
    if (active_block_set != &set) {
        active_block_set = &set;
        forget_block_spectra();
        for (int channel = 0; channel < paths; ++channel)
            for (int part = 0; part < K; ++part)
                block_history[channel][part] = block_ring[channel] + part * set.stride;
    }
    auto transform = [&](float const* from, float* to) {
        ippsCopy_32f(from, to, 2 * B);
        ippsFFTFwd_RToCCS_32f_I(to, set.spec, fft_work);
    };
    bool shared[2];
    for (int side = 0; side < 2; ++side) {
        // All K windows must agree on the side's two inputs: the newest (K + 1) B samples.
        shared[side] = identical_tail[side] >= (K + 1) * B;
        for (int channel = 2 * side; channel < 2 * side + (shared[side] ? 1 : 2); ++channel) {
            float** history = block_history[channel];
            float* const oldest = history[K - 1]; // reused for the newest window
            for (int part = K - 1; part > 0; --part)
                history[part] = history[part - 1];
            history[0] = oldest;
            transform(lines[channel] + M - 2 * B, history[0]);
            for (int part = std::max(1, block_history_held[channel] + 1); part < K; ++part)
                transform(lines[channel] + M - 2 * B - part * B, history[part]);
        }
    }
    // Per output, both sides' parts one after the other.
    float const* inputs[outputs][2 * max_block_parts];
    float const* taps[outputs][2 * max_block_parts];
    for (int o = 0; o < outputs; ++o) {
        for (int side = 0; side < 2; ++side) {
            int const path = o + 2 * side;
            int const source = shared[side] ? 2 * side : path;
            for (int part = 0; part < K; ++part) {
                inputs[o][side * K + part] = block_history[source][part];
                taps[o][side * K + part] = set.tap_spectra[path] + part * set.stride;
            }
        }
    }
    int const bins = B + 1;
    if (shared[0] && shared[1]) {
        corvella::ipps_sum_of_products_pair_32fc(inputs[0], taps[0], taps[1], 2 * K, output_spectra[0],
                                                 output_spectra[1], bins);
    } else {
        for (int o = 0; o < outputs; ++o)
            corvella::ipps_sum_of_products_32fc(inputs[o], taps[o], 2 * K, output_spectra[o], bins);
    }
    for (int o = 0; o < outputs; ++o) {
        ippsFFTInv_CCSToR_32f(output_spectra[o], time_result, set.spec, fft_work);
        ippsCopy_32f(time_result + B, out[o] + offset, B);
    }
    // A shared side's second channel transformed nothing: its history is missing.
    for (int channel = 0; channel < paths; ++channel)
        block_history_held[channel] = !shared[channel / 2] || channel % 2 == 0 ? K - 1 : 0;
}

void direct_fir_true_stereo::filter_directly(float** out, int offset, int frames)
{
    // frames <= M - padded_taps here, so every path's line holds the history its outputs need.
    int const start = fft_size - frames;
#if defined(__x86_64__)
    if (corvella::ipps_code_path() == corvella::IppsCodePath::avx2_fma) {
        float const* x[paths];
        for (int path = 0; path < paths; ++path)
            x[path] = lines[path] + start - padded_taps + 1;
        int const needed = frames + padded_taps - 1; // newest samples the outputs read
        float const* const* r = reversed_taps;
        if (identical_tail[0] >= needed && identical_tail[1] >= needed)
            direct_paths_avx2<true>(r, padded_taps, x, out[0] + offset, out[1] + offset, frames);
        else
            direct_paths_avx2<false>(r, padded_taps, x, out[0] + offset, out[1] + offset, frames);
        return;
    }
#endif
    for (int o = 0; o < outputs; ++o) {
        for (int k = 0; k < 2; ++k) {
            int const path = o + 2 * k;
            ippsFIRSetDlyLine_32f(fir[path], lines[path] + start - num_taps);
            ippsFIR_32f(lines[path] + start, direct_result[k], frames, fir[path]);
        }
        ippsAdd_32f(direct_result[0], direct_result[1], out[o] + offset, frames);
    }
}

void direct_fir_true_stereo::filter_by_transforms(float** out, int offset, int frames)
{
    int const M = fft_size;
    auto transform = [&](int channel) {
        ippsCopy_32f(lines[channel], window, M);
        ippsFFTFwd_RToCCS_32f(window, input_spectra[channel], fft_spec, fft_work);
    };
    // A side whose two inputs agree over the whole window has one spectrum for both its paths.
    bool shared[2];
    float const* x[paths];
    for (int side = 0; side < 2; ++side) {
        shared[side] = identical_tail[side] >= M;
        transform(2 * side);
        if (!shared[side]) transform(2 * side + 1);
        x[2 * side] = input_spectra[2 * side];
        x[2 * side + 1] = input_spectra[shared[side] ? 2 * side : 2 * side + 1];
    }
    float const* left_inputs[2] = {x[0], x[2]};
    float const* left_taps[2] = {tap_spectra[0], tap_spectra[2]};
    float const* right_inputs[2] = {x[1], x[3]};
    float const* right_taps[2] = {tap_spectra[1], tap_spectra[3]};
    if (shared[0] && shared[1]) {
        corvella::ipps_sum_of_products_pair_32fc(left_inputs, left_taps, right_taps, 2, output_spectra[0],
                                                 output_spectra[1], spectrum_bins);
    } else {
        corvella::ipps_sum_of_products_32fc(left_inputs, left_taps, 2, output_spectra[0], spectrum_bins);
        corvella::ipps_sum_of_products_32fc(right_inputs, right_taps, 2, output_spectra[1], spectrum_bins);
    }
    // Overlap-save: the last `frames` samples of the circular convolution are free of wrap-around.
    for (int o = 0; o < outputs; ++o) {
        ippsFFTInv_CCSToR_32f(output_spectra[o], time_result, fft_spec, fft_work);
        ippsCopy_32f(time_result + M - frames, out[o] + offset, frames);
    }
}
