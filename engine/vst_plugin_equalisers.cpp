// The equaliser bands of the engine: the post equaliser of the processing frame (five bands per
// channel with their LFO modulation), the five-band equaliser of each IR that is swept along the
// impulse response while it is built, and each IR's STS high-pass filter.

#include "engine/ir_slot_settings.h"
#include "engine/vst_plugin.h"

#include "convolution/ipps.h"
#include "effects/biquad_filter_upsampling.h"
#include "effects/eq_cascade.h"
#include "platform/threading.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int band_count = 5;
constexpr int post_eq_chunk = 32;
constexpr int sts_chunk = 32;
constexpr float sts_high_pass_q = 0.8f;

// The outer bands of an equaliser offer shelves and cuts, the inner three only peaks.
constexpr int band_restriction[band_count] = {biquad_restrict_lowest, biquad_restrict_middle,
                                              biquad_restrict_middle, biquad_restrict_middle,
                                              biquad_restrict_highest};

// The post equaliser's LFOs run from 0.1 Hz to 10 Hz, on the same taper as the mixer's LFO.
float lfo_rate_hz(float unity)
{
    return std::pow(100.0f, unity) / 10.0f;
}

biquad_filter_upsampling* new_band(int band)
{
    auto* filter = new biquad_filter_upsampling();
    filter->set_mode_restrict(band_restriction[band]);
    return filter;
}

} // namespace

void VST_Plugin::init_biquads()
{
    for (int channel = 0; channel < channel_count; ++channel)
        for (int band = 0; band < band_count; ++band)
            post_eq_bands[channel][band] = new_band(band);
    for (int channel = 0; channel < 4; ++channel)
        for (int band = 0; band < band_count; ++band) {
            ir1_eq_bands[channel][band] = new_band(band);
            ir2_eq_bands[channel][band] = new_band(band);
        }
    ir1_sts_filter = new biquad_filter_upsampling();
    ir2_sts_filter = new biquad_filter_upsampling();
}

void VST_Plugin::delete_biquads()
{
    for (auto& channel : post_eq_bands)
        for (biquad_filter_upsampling*& band : channel) {
            delete band;
            band = nullptr;
        }
    for (auto* bands : {&ir1_eq_bands, &ir2_eq_bands})
        for (auto& channel : *bands)
            for (biquad_filter_upsampling*& band : channel) {
                delete band;
                band = nullptr;
            }
    delete ir1_sts_filter;
    ir1_sts_filter = nullptr;
    delete ir2_sts_filter;
    ir2_sts_filter = nullptr;
}

float VST_Plugin::equaliser_max_f0() const
{
    return sr_gain_normalise && !half_rate_allowed ? 22050.0f : static_cast<float>(sample_rate) / 2.0f;
}

// ---------------------------------------------------------------------------------------------
// Post equaliser

void VST_Plugin::update_master_filter_coeffs(int band)
{
    if (band < 0 || band >= band_count) return;
    if (program == nullptr) return;
    VST_Plugin_Program const& p = *program;
    corvella::update_master_filter_coeffs(p, band, post_eq_bands[0][band], post_eq_bands[1][band],
                                          static_cast<float>(sample_rate), equaliser_max_f0(),
                                          lfo_rate_hz(p.lfo1_rate), lfo_rate_hz(p.lfo2_rate));
}

// The bands belong to the audio thread: it recomputes them from its own programs at the start of
// its next chunk, so no other thread ever writes a filter while it runs.
void VST_Plugin::update_master_filter_coeffs_all()
{
    post_eq_update_pending.store(true, std::memory_order_release);
    editor_refresh_pending = true;
}

void VST_Plugin::apply_master_filter_coeffs()
{
    for (int band = 0; band < band_count; ++band)
        update_master_filter_coeffs(band);
}

void VST_Plugin::process_biquad_filters_inplace(float** buffer, int frames)
{
    ippSetFlushToZero(1, nullptr);
    ippSetDenormAreZeros(1);
    if (buffer == nullptr || post_eq_bands[0][0] == nullptr || post_eq_bands[1][0] == nullptr) return;
    // In short chunks so that the LFO modulation of the bands follows the signal closely.
    for (int done = 0; done < frames && program->flt_master_toggle > 0.0f; done += post_eq_chunk) {
        int const n = std::min(post_eq_chunk, frames - done);
        for (int channel = 0; channel < channel_count; ++channel) {
            biquad_filter_upsampling* const* bands = post_eq_bands[channel];
            float* samples = buffer[channel] + done;
            compute_5x_cascade(samples, n, channel, nullptr, nullptr, bands[0], bands[1], bands[2], bands[3],
                               bands[4], sample_rate);
            // A filter whose state is no longer finite would stay so for good: start it again.
            if (!std::isfinite(samples[n - 1])) {
                for (int band = 0; band < band_count; ++band)
                    if (bands[band] != nullptr) bands[band]->clear_filter_buffers();
                ippsSet_32f(0.0f, samples, n);
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// IR equalisers (IR computation thread)

void VST_Plugin::update_ir_filter_coeffs(int slot, int band)
{
    if (band < 0 || band >= band_count) return;
    biquad_filter_upsampling* filter = (slot == 1 ? ir1_eq_bands : ir2_eq_bands)[0][band];
    if (filter == nullptr) return;
    corvella::ir_eq_band_settings const s = corvella::ir_slot_settings_of(build_program, slot).bands[band];
    filter->set_freq_fs(static_cast<float>(sample_rate));
    filter->set_freq_max_f0(equaliser_max_f0());
    filter->set_unity_range_toggle(s.toggle);
    filter->set_unity_range_mode(s.mode);
    filter->set_unity_range_freq_f0(s.freq);
    filter->set_unity_range_gain_db(s.gain);
    filter->set_unity_range_q(s.q);
    filter->set_unity_range_freq_f0_end(s.freq_to);
    filter->set_unity_range_gain_db_end(s.gain_to);
    filter->compute_coeffs();
}

void VST_Plugin::update_ir1_filter_coeffs(int band)
{
    update_ir_filter_coeffs(1, band);
}

void VST_Plugin::update_ir2_filter_coeffs(int band)
{
    update_ir_filter_coeffs(2, band);
}

void VST_Plugin::process_ir_biquad_filters_inplace(int slot, float** ir, int frames, int channels)
{
    biquad_filter_upsampling*(*bands)[band_count] = slot == 1 ? ir1_eq_bands : ir2_eq_bands;
    corvella::ir_slot_settings const settings = corvella::ir_slot_settings_of(build_program, slot);
    // Sweep positions scale with the IR's own length (u^2 x frames), so a sweep set to run from
    // start to end covers the whole response whatever its duration, instead of stopping after one
    // second of a long tail as (int)(u^2 x sample_rate) would.
    corvella::ir_eq_band_sweep sweeps[band_count];
    for (int band = 0; band < band_count; ++band) {
        corvella::ir_eq_band_settings const& s = settings.bands[band];
        sweeps[band].freq_start = corvella::ir_eq_sweep_position(s.freq_to_start, frames);
        sweeps[band].freq_end = corvella::ir_eq_sweep_position(s.freq_to_end, frames);
        sweeps[band].gain_start = corvella::ir_eq_sweep_position(s.gain_to_start, frames);
        sweeps[band].gain_end = corvella::ir_eq_sweep_position(s.gain_to_end, frames);
        sweeps[band].freq_shape = s.freq_mod_shape;
        sweeps[band].gain_shape = s.gain_mod_shape;
    }
    // Each band's sweep is on when it has an end value and a window; the equaliser's own switch
    // decides whether this runs at all.
    corvella::process_ir_eq_sweeps(ir, frames, std::min(channels, 4), bands, sweeps, true, sample_rate);
}

void VST_Plugin::process_ir1_biquad_filters_inplace(float** ir, int frames, int channels)
{
    process_ir_biquad_filters_inplace(1, ir, frames, channels);
}

void VST_Plugin::process_ir2_biquad_filters_inplace(float** ir, int frames, int channels)
{
    process_ir_biquad_filters_inplace(2, ir, frames, channels);
}

void VST_Plugin::process_sts_filters_inplace(int slot, float** ir, int frames)
{
    ippSetFlushToZero(1, nullptr);
    biquad_filter_upsampling* filter = slot == 1 ? ir1_sts_filter : ir2_sts_filter;
    if (filter == nullptr || ir == nullptr || frames <= 0) return;
    corvella::ir_slot_settings const s = corvella::ir_slot_settings_of(build_program, slot);
    filter->set_freq_fs(static_cast<float>(sample_rate));
    filter->set_freq_max_f0(equaliser_max_f0());
    if (s.sts_toggle * 2.0f >= 1.0f) filter->set_toggle(1.0f);
    filter->set_unity_range_freq_f0(s.sts_high_pass_freq);
    filter->set_gain_db(0.0f);
    filter->set_q(sts_high_pass_q);
    filter->set_mode(biquad_mode_low_cut);
    filter->compute_coeffs();
    for (int channel = 2; channel < 4; ++channel) {
        filter->clear_filter_buffers();
        if (ir[channel] == nullptr) continue;
        for (int done = 0; done < frames && s.sts_high_pass_toggle > 0.0f; done += sts_chunk)
            filter->compute_filter_inplace(ir[channel] + done, std::min(sts_chunk, frames - done), 0);
    }
    filter->clear_filter_buffers();
}

void VST_Plugin::process_sts_ir1_filters_inplace(float** ir, int frames)
{
    process_sts_filters_inplace(1, ir, frames);
}

void VST_Plugin::process_sts_ir2_filters_inplace(float** ir, int frames)
{
    process_sts_filters_inplace(2, ir, frames);
}
