// Shaped noise and the simulated true-stereo half.
#include "ir/ir_shaping.h"
#include "platform/aligned_memory.h"

#include "convolution/ipps.h"
#include "effects/biquad_filter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

using free_deleter = corvella::FreeDeleter;

template <typename T> using aligned_block = std::unique_ptr<T, free_deleter>;

// Cleared scratch from the aligned allocator, or null.
template <typename T> aligned_block<T> cleared_block(std::int64_t count, std::size_t alignment = 32)
{
    if (count <= 0) return nullptr;
    return aligned_block<T>(corvella::aligned_new<T>(static_cast<std::size_t>(count), true, alignment));
}

[[noreturn]] void low_memory(char const* what)
{
    throw std::runtime_error(std::string("Low system memory: \n") + what);
}

void set_up_band(biquad_filter& band, int sample_rate, int mode, float f0)
{
    band.set_freq_fs(static_cast<float>(sample_rate));
    band.set_freq_max_f0(static_cast<float>(sample_rate / 2));
    band.set_freq_f0(f0);
    band.set_q(0.5f);
    band.set_mode(mode);
    band.set_toggle(1.0f);
    band.compute_coeffs();
}

// The noise bursts of the simulated half: 16,384 floats each, enough for 80 ms up to 200 kHz.
constexpr int burst_capacity = 16384;
constexpr int fft_order = 15;
constexpr int fft_points = 1 << fft_order;      // 32,768
constexpr int spectrum_floats = fft_points + 4; // 32,772: the packed spectrum and spare
constexpr int spectrum_complex = spectrum_floats / 2;

struct fft_spec_holder {
    IppsFFTSpec_R_32f* spec = nullptr;
    ~fft_spec_holder()
    {
        if (spec) ippsFFTFree_R_32f(spec);
    }
};

} // namespace

void add_shaped_noise(float** buffer, int length, int channels, float level, float dry_gain, int seed,
                      float envelope_release, int sample_rate)
{
    if (!buffer || length <= 0 || channels <= 0) return;
    aligned_block<float> noise = cleared_block<float>(length);
    if (!noise) low_memory("malloc error on noise_data_src in add_shaped_noise");
    aligned_block<float> accumulator = cleared_block<float>(length);
    if (!accumulator) low_memory("malloc error on noise_data_dst in add_shaped_noise");

    // One pair of filters serves every channel in turn; their state runs on between channels.
    biquad_filter low_cut;
    biquad_filter high_cut;
    set_up_band(low_cut, sample_rate, biquad_mode_low_cut, 200.0f);
    set_up_band(high_cut, sample_rate, biquad_mode_high_cut, 18000.0f);

    float const decay = envelope_release > 0.0f ? std::min(std::pow(envelope_release, 0.1f), 0.999f) : 0.0f;
    float* n = noise.get();
    float* acc = accumulator.get();
    for (int c = 0; c < channels; ++c) {
        float* x = buffer[c];
        if (!x) continue;
        std::fill_n(n, length, 0.0f);
        std::fill_n(acc, length, 0.0f);
        unsigned int state = static_cast<unsigned int>(c) + static_cast<unsigned int>(seed);
        ippsRandGauss_Direct_32f(n, length, 0.0f, 0.1f, &state);
        float lowest = 0.0f, highest = 0.0f;
        ippsMinMax_32f(n, length, &lowest, &highest);
        float const peak = std::max(highest, -lowest);
        if (peak > 0.0f) ippsMulC_32f_I(1.0f / peak, n, length);

        // A peak follower run backwards and then forwards, so the noise swells with the IR
        // rather than only decaying after each peak.
        float e = 0.0f;
        for (int t = length - 1; t >= 0; --t) {
            e = std::max(std::fabs(x[t]), e * decay);
            acc[t] += n[t] * e * level;
        }
        for (int t = 0; t < length; ++t) {
            e = std::max(std::fabs(x[t]), e * decay);
            acc[t] += n[t] * e * level;
        }
        ippsMulC_32f_I(dry_gain, x, length);
        low_cut.compute_filter_inplace(acc, length);
        high_cut.compute_filter_inplace(acc, length);
        ippsAdd_32f_I(acc, x, length);
    }
}

void convolve_ir_ch01_with_noise_to_ch23(float** buffer, int allocated_length, int& length,
                                         float noise_seconds, int sample_rate, int seed, float level)
{
    if (!buffer || allocated_length <= 0 || length <= 0) return;
    for (int c = 0; c < 4; ++c)
        if (!buffer[c]) return;
    int const ir_length = std::min(length, allocated_length);

    aligned_block<float*> bursts = cleared_block<float*>(2);
    if (!bursts) low_memory("malloc error on noise_data in convolve_ir_ch34_with_noise");
    aligned_block<float> burst0 = cleared_block<float>(burst_capacity);
    if (!burst0) low_memory("malloc error on noise_data[0] in convolve_ir_ch34_with_noise");
    aligned_block<float> burst1 = cleared_block<float>(burst_capacity);
    if (!burst1) low_memory("malloc error on noise_data[1] in convolve_ir_ch34_with_noise");
    bursts.get()[0] = burst0.get();
    bursts.get()[1] = burst1.get();
    std::fill_n(buffer[2], allocated_length, 0.0f);
    std::fill_n(buffer[3], allocated_length, 0.0f);
    std::fill(buffer[0] + ir_length, buffer[0] + allocated_length, 0.0f);
    std::fill(buffer[1] + ir_length, buffer[1] + allocated_length, 0.0f);

    // Two decaying noise bursts, silent for their first quarter.
    float const n = static_cast<float>(sample_rate) * noise_seconds;
    int const burst_length = n > 0.0f ? static_cast<int>(std::min(n, static_cast<float>(burst_capacity))) : 0;
    unsigned int state = static_cast<unsigned int>(seed);
    for (int b = 0; b < 2; ++b)
        ippsRandGauss_Direct_32f(bursts.get()[b], burst_length, 0.0f, 0.1f, &state);
    float peak = 0.0f;
    for (int b = 0; b < 2; ++b)
        for (int i = 0; i < burst_length; ++i)
            peak = std::max(peak, std::fabs(bursts.get()[b][i]));
    float const scale = std::fabs(peak) > 0.001f ? 1.0f / peak : 1000.0f;
    int const quarter = std::min(static_cast<int>(0.25f * n > 0.0f ? 0.25f * n : 0.0f), burst_length);
    for (int b = 0; b < 2; ++b) {
        float* burst = bursts.get()[b];
        ippsMulC_32f_I(scale, burst, burst_length);
        std::fill_n(burst, quarter, 0.0f);
        for (int i = quarter; i < burst_length; ++i)
            burst[i] *= 1.0f - static_cast<float>(i - quarter) / static_cast<float>(burst_length - quarter);
    }

    // Overlap-add: 16,384-sample blocks of the IR against the burst in 32,768-point transforms.
    fft_spec_holder fft;
    if (ippsFFTInitAlloc_R_32f(&fft.spec, fft_order, IPP_FFT_DIV_INV_BY_N, ippAlgHintNone) != ippStsNoErr)
        throw std::runtime_error(
            "Block allocation FFT error in ippsFFTInitAlloc_R_32f convolve_ir_ch34_with_noise");
    int work_bytes = 0;
    if (ippsFFTGetBufSize_R_32f(fft.spec, &work_bytes) != ippStsNoErr)
        throw std::runtime_error(
            "Block allocation FFT error in ippsFFTGetBufSize_R_32f convolve_ir_ch34_with_noise");
    aligned_block<Ipp8u> work = cleared_block<Ipp8u>(std::max(work_bytes, 1), 128);
    aligned_block<float> burst_spectrum = cleared_block<float>(spectrum_floats);
    aligned_block<float> block_spectrum = cleared_block<float>(spectrum_floats);
    aligned_block<float> product = cleared_block<float>(spectrum_floats);
    if (!work || !burst_spectrum || !block_spectrum || !product)
        low_memory("malloc error on FFT buffers in convolve_ir_ch34_with_noise");

    int block_count = ir_length / burst_capacity + 1;
    if (static_cast<std::int64_t>(block_count) * burst_capacity >= allocated_length) --block_count;
    for (int pair = 0; pair < 2; ++pair) {
        float const* source = buffer[pair];
        float* target = buffer[pair + 2];
        std::fill_n(burst_spectrum.get(), spectrum_floats, 0.0f);
        std::copy_n(bursts.get()[pair], burst_capacity, burst_spectrum.get());
        ippsFFTFwd_RToCCS_32f_I(burst_spectrum.get(), fft.spec, work.get());
        for (int b = 0; b < block_count; ++b) {
            int const offset = b * burst_capacity;
            int const taken = std::min(burst_capacity, allocated_length - offset);
            std::fill_n(block_spectrum.get(), spectrum_floats, 0.0f);
            std::copy_n(source + offset, taken, block_spectrum.get());
            ippsFFTFwd_RToCCS_32f_I(block_spectrum.get(), fft.spec, work.get());
            std::fill_n(product.get(), spectrum_floats, 0.0f);
            ippsAddProduct_32fc(reinterpret_cast<Ipp32fc const*>(block_spectrum.get()),
                                reinterpret_cast<Ipp32fc const*>(burst_spectrum.get()),
                                reinterpret_cast<Ipp32fc*>(product.get()), spectrum_complex);
            ippsFFTInv_CCSToR_32f_I(product.get(), fft.spec, work.get());
            // The allocation normally reaches a whole transform past the last block; a shorter
            // one loses the tail instead of being overrun.
            ippsAdd_32f_I(product.get(), target + offset, std::min(fft_points, allocated_length - offset));
        }
    }
    IppsFFTSpec_R_32f* spec = fft.spec;
    fft.spec = nullptr;
    if (ippsFFTFree_R_32f(spec) != ippStsNoErr)
        throw std::runtime_error("Block free FFT error in convolve_ir_ch34_with_noise");

    // The longest burst extends the IR by 80 ms.
    double const grown = ir_length + static_cast<double>(sample_rate) * 80.0 / 1000.0;
    if (grown < allocated_length) length = static_cast<int>(grown);

    // Level match against the direct channels; the factor is applied twice on purpose, so the
    // simulated half follows the level control with k squared.
    int const matched = std::min(length, allocated_length);
    for (int pair = 0; pair < 2; ++pair) {
        float const* direct = buffer[pair];
        float* simulated = buffer[pair + 2];
        double direct_sum = 0.0, simulated_sum = 0.0;
        for (int t = 0; t < matched; ++t) {
            direct_sum += std::fabs(direct[t]);
            simulated_sum += std::fabs(simulated[t]);
        }
        float const g =
            direct_sum > 0.0 && simulated_sum > 0.0 ? static_cast<float>(direct_sum / simulated_sum) : 1.0f;
        float const k = g * level * 3.0f;
        ippsMulC_32f_I(k, simulated, matched);
        ippsMulC_32f_I(k, simulated, matched);
    }
}
