#include "effects/eq_cascade.h"

#include "convolution/ipps.h"
#include "program/vst_plugin_program.h"

#include <algorithm>
#include <climits>
#include <cmath>

void compute_5x_cascade(float* buffer, int frames, int /*channel*/, float* /*tables*/,
                        IIRState_32f* /*state*/, biquad_filter_upsampling* band1,
                        biquad_filter_upsampling* band2, biquad_filter_upsampling* band3,
                        biquad_filter_upsampling* band4, biquad_filter_upsampling* band5, int rate)
{
    biquad_filter_upsampling* const bands[5] = {band1, band2, band3, band4, band5};
    if (!buffer || frames <= 0 || std::find(bands, bands + 5, nullptr) != bands + 5) return;

    bool const modulated = std::any_of(bands, bands + 5, [](biquad_filter_upsampling const* b) {
        return b->get_freq_mod() != 0.0f || b->get_gain_db_mod() != 0.0f;
    });
    if (modulated) {
        // One coefficient update per call; the LFOs move on by the block's length at the doubled rate.
        int const doubled = frames > INT_MAX / 2 ? INT_MAX : 2 * frames;
        for (biquad_filter_upsampling* b : bands)
            b->advance_lfos_and_modulate(doubled, rate, band1->lookup());
    }
    biquad_filter_upsampling::process_2x(buffer, frames, bands, 5);
}

void compute_coeffs_with_lfo_mod(biquad_filter_upsampling* band1, biquad_filter_upsampling* band2,
                                 biquad_filter_upsampling* band3, biquad_filter_upsampling* band4,
                                 biquad_filter_upsampling* band5, int rate)
{
    biquad_filter_upsampling* const bands[5] = {band1, band2, band3, band4, band5};
    if (std::find(bands, bands + 5, nullptr) != bands + 5) return;
    for (biquad_filter_upsampling* b : bands)
        b->advance_lfos_and_modulate(2, rate, band1->lookup());
}

namespace corvella {

void init_cascade_state(IIRState_32f& state)
{
    constexpr int n = biquad_filter_upsampling::anti_image_order + 1;
    std::copy(biquad_filter_upsampling::anti_image_b, biquad_filter_upsampling::anti_image_b + n, state.taps);
    std::copy(biquad_filter_upsampling::anti_image_a, biquad_filter_upsampling::anti_image_a + n,
              state.taps + n);
    std::fill(std::begin(state.delay_line), std::end(state.delay_line), 0.0f);
}

int ir_eq_sweep_position(float u, double scale)
{
    double const p = static_cast<double>(u) * u * scale;
    if (!(p >= 0.0)) return 0;
    return p < 2147483647.0 ? static_cast<int>(p) : 2147483647;
}

float ir_eq_sweep_frequency(float start, float end, float t, float shape)
{
    if (!(shape > 0.1f)) return start + t * (end - start);
    if (start > end) {
        // Falling: fast at first, slow at the end.
        float const e = 1.0f - (std::pow(0.1f, 2.0f * t) - 0.01f) / 0.99f;
        return start + (end - start) * e;
    }
    // Rising: slow at first, fast at the end.
    float const e = 1.0f - (std::pow(0.1f, 2.0f * (1.0f - t)) - 0.01f) / 0.99f;
    return end - (end - start) * e;
}

float ir_eq_sweep_gain(float start, float end, float t, float shape)
{
    if (!(shape > 0.1f)) return start + t * (end - start);
    float const pi = 3.14159265f;
    return start + (end - start) * (std::sin(pi * t - pi / 2.0f) * 0.5f + 0.5f);
}

namespace {

// Gives the other channels' bands the coefficients (and settings) of channel 0's band.
void spread_band(biquad_filter_upsampling* const (*bands)[5], int channels, int b)
{
    for (int c = 1; c < channels; ++c)
        bands[c][b]->copy_settings(bands[0][b]);
}

bool in_window(int p, int start, int end)
{
    return p >= start && p <= end;
}

float fraction(int p, int start, int end)
{
    return static_cast<float>(p - start) / static_cast<float>(end - start);
}

} // namespace

void process_ir_eq_sweeps(float* const* ir, int frames, int channels,
                          biquad_filter_upsampling* const (*bands)[5], ir_eq_band_sweep const (&sweeps)[5],
                          bool sweeps_on, int rate)
{
    if (!ir || !bands || frames <= 0 || channels <= 0) return;
    for (int c = 0; c < channels; ++c) {
        if (!ir[c]) return;
        for (int b = 0; b < 5; ++b)
            if (!bands[c][b]) return;
    }
    ippSetFlushToZero(1, nullptr);
    ippSetDenormAreZeros(1);

    float freq_start[5], freq_end[5], gain_start[5], gain_end[5], freq_now[5], gain_now[5];
    bool freq_moves[5], gain_moves[5];
    for (int b = 0; b < 5; ++b) {
        biquad_filter_upsampling const& band = *bands[0][b];
        freq_start[b] = freq_now[b] = band.get_freq_f0();
        freq_end[b] = band.get_freq_f0_end();
        gain_start[b] = gain_now[b] = band.get_gain_db();
        gain_end[b] = band.get_gain_db_end();
        ir_eq_band_sweep const& s = sweeps[b];
        freq_moves[b] = sweeps_on && freq_end[b] > 20.0f && s.freq_start < s.freq_end;
        gain_moves[b] = sweeps_on && gain_end[b] > -20.0f && s.gain_start < s.gain_end;
    }

    for (int c = 0; c < channels; ++c)
        for (int b = 0; b < 5; ++b)
            bands[c][b]->clear_filter_buffers();
    for (int b = 0; b < 5; ++b) {
        bands[0][b]->compute_coeffs_specific(gain_start[b], freq_start[b]);
        spread_band(bands, channels, b);
    }

    int const chunk = std::max(1, std::min(frames / 32, 128));
    for (int p = 0; p < frames; p += chunk) {
        for (int b = 0; b < 5; ++b) {
            ir_eq_band_sweep const& s = sweeps[b];
            float f = freq_now[b];
            float g = gain_now[b];
            if (freq_moves[b] && in_window(p, s.freq_start, s.freq_end))
                f = ir_eq_sweep_frequency(freq_start[b], freq_end[b], fraction(p, s.freq_start, s.freq_end),
                                          s.freq_shape);
            if (gain_moves[b] && in_window(p, s.gain_start, s.gain_end))
                g = ir_eq_sweep_gain(gain_start[b], gain_end[b], fraction(p, s.gain_start, s.gain_end),
                                     s.gain_shape);
            if (f != freq_now[b] || g != gain_now[b]) {
                freq_now[b] = f;
                gain_now[b] = g;
                bands[0][b]->compute_coeffs_specific(g, f);
                spread_band(bands, channels, b);
            }
        }
        int const n = std::min(chunk, frames - p);
        for (int c = 0; c < channels; ++c)
            compute_5x_cascade(ir[c] + p, n, c, nullptr, nullptr, bands[c][0], bands[c][1], bands[c][2],
                               bands[c][3], bands[c][4], rate);
    }
}

namespace {

// The nine settings of one post-equaliser band in the program record.
struct post_band_fields {
    float VST_Plugin_Program::*toggle;
    float VST_Plugin_Program::*mode;
    float VST_Plugin_Program::*freq;
    float VST_Plugin_Program::*freq_mod;
    float VST_Plugin_Program::*freq_mod_phase;
    float VST_Plugin_Program::*gain;
    float VST_Plugin_Program::*gain_mod;
    float VST_Plugin_Program::*gain_mod_phase;
    float VST_Plugin_Program::*q;
};

#define CORVELLA_POST_BAND(n)                                                                                \
    post_band_fields                                                                                         \
    {                                                                                                        \
        &VST_Plugin_Program::flt##n##_toggle, &VST_Plugin_Program::flt##n##_mode,                            \
            &VST_Plugin_Program::flt##n##_freq, &VST_Plugin_Program::flt##n##_freq_mod,                      \
            &VST_Plugin_Program::flt##n##_freq_mod_phase, &VST_Plugin_Program::flt##n##_gain,                \
            &VST_Plugin_Program::flt##n##_gain_mod, &VST_Plugin_Program::flt##n##_gain_mod_phase,            \
            &VST_Plugin_Program::flt##n##_q                                                                  \
    }

post_band_fields const post_bands[5] = {CORVELLA_POST_BAND(1), CORVELLA_POST_BAND(2), CORVELLA_POST_BAND(3),
                                        CORVELLA_POST_BAND(4), CORVELLA_POST_BAND(5)};

#undef CORVELLA_POST_BAND

} // namespace

void update_master_filter_coeffs(VST_Plugin_Program const& program, int band, biquad_filter_upsampling* left,
                                 biquad_filter_upsampling* right, float sample_rate, float max_f0,
                                 float lfo1_rate_hz, float lfo2_rate_hz)
{
    if (band < 0 || band > 4 || !left || !right) return;
    post_band_fields const& f = post_bands[band];
    for (biquad_filter_upsampling* b : {left, right}) {
        b->set_freq_fs(sample_rate);
        b->set_freq_max_f0(max_f0);
        b->set_unity_range_toggle(program.*f.toggle);
        b->set_unity_range_mode(program.*f.mode);
        b->set_unity_range_freq_f0(program.*f.freq);
        b->set_unity_range_freq_mod(program.*f.freq_mod);
        b->set_unity_range_freq_mod_phase(program.*f.freq_mod_phase);
        b->set_unity_range_gain_db(program.*f.gain);
        b->set_unity_range_gain_db_mod(program.*f.gain_mod);
        b->set_unity_range_gain_db_mod_phase(program.*f.gain_mod_phase);
        b->set_unity_range_q(program.*f.q);
        b->set_lfo1_rate_hz(lfo1_rate_hz);
        b->set_lfo2_rate_hz(lfo2_rate_hz);
        b->compute_coeffs();
    }
}

void update_master_filter_coeffs_all(VST_Plugin_Program const& program,
                                     biquad_filter_upsampling* const (*bands)[5], float sample_rate,
                                     float max_f0, float lfo1_rate_hz, float lfo2_rate_hz)
{
    if (!bands) return;
    for (int b = 0; b < 5; ++b)
        update_master_filter_coeffs(program, b, bands[0][b], bands[1][b], sample_rate, max_f0, lfo1_rate_hz,
                                    lfo2_rate_hz);
}

} // namespace corvella
