#include "effects/biquad_filter_upsampling.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// Keeps the recursions away from denormal numbers.
constexpr float anti_denormal = 1.2128485e-10f;
constexpr float two_pi = 6.2831855f;

// Spends most of the 0..1 travel on low frequencies: 0 at u = 0, 1 at u = 1.
float frequency_taper(float u)
{
    return (std::pow(10.0f, (std::pow(10.0f, u) - 1.0f) / 9.0f) - 1.0f) / 9.0f;
}

bool in_unit_range(float u)
{
    return u >= 0.0f && u <= 1.0f;
}

// An LFO period in doubled-rate samples; a rate that gives no whole sample counts as one sample
// so that the counter stays valid.
int lfo_period(int rate, float lfo_hz)
{
    if (!(lfo_hz > 0.0f) || rate <= 0) return 1;
    double const p = std::floor(2.0 * rate / static_cast<double>(lfo_hz));
    if (!(p >= 1.0)) return 1;
    return p < static_cast<double>(INT_MAX) ? static_cast<int>(p) : INT_MAX;
}

int advance_counter(int counter, int steps, int period)
{
    long long const next = (static_cast<long long>(counter) + steps) % period;
    return static_cast<int>(next < 0 ? next + period : next);
}

} // namespace

biquad_filter_upsampling::biquad_filter_upsampling() = default;

biquad_filter_upsampling::~biquad_filter_upsampling() = default;

void biquad_filter_upsampling::set_freq_fs(float rate)
{
    base_rate = rate > 0.0f ? rate : 500.0f;
    fs = 2.0f * base_rate;
}

void biquad_filter_upsampling::set_freq_max_f0(float hz)
{
    max_f0 = std::min(hz, fs * 0.5f);
}

void biquad_filter_upsampling::set_unity_range_freq_f0(float u)
{
    float const hz = in_unit_range(u) ? frequency_taper(u) * max_f0 : 0.5f * max_f0;
    f0 = std::max(20.0f, std::min(hz, base_rate * 0.5f));
}

void biquad_filter_upsampling::set_unity_range_freq_f0_end(float u)
{
    float const hz = in_unit_range(u) ? frequency_taper(u) * max_f0 : max_f0;
    f0_end = hz < max_f0 ? hz : max_f0 * 0.5f;
}

void biquad_filter_upsampling::set_unity_range_freq_mod(float u)
{
    set_freq_mod(in_unit_range(u) ? frequency_taper(u) * max_f0 : 0.5f * max_f0);
}

float biquad_filter_upsampling::passive_convert_unity_range_freq_f0(float u) const
{
    return (in_unit_range(u) ? frequency_taper(u) : 0.5f) * max_f0;
}

float biquad_filter_upsampling::query_unity_range_freq_f0(float hz) const
{
    return std::log10(9.0f * std::log10(9.0f * hz / max_f0 + 1.0f) + 1.0f);
}

void biquad_filter_upsampling::compute_coeffs()
{
    biquad_filter::compute_coeffs();
    // Until the LFOs first move the band, it stands where its settings put it.
    modulated_f0 = f0;
    modulated_gain_db = gain_db;
}

void biquad_filter_upsampling::copy_settings(biquad_filter* other)
{
    biquad_filter::copy_settings(other);
    if (auto const* up = dynamic_cast<biquad_filter_upsampling const*>(other); up && up != this)
        base_rate = up->base_rate;
}

void biquad_filter_upsampling::compute_filter_inplace(float* buffer, int count, int /*unused*/)
{
    biquad_filter_upsampling* const self[1] = {this};
    process_2x(buffer, count, self, 1);
}

void biquad_filter_upsampling::clear_filter_buffers()
{
    clear_history();
    std::fill(std::begin(lp_x), std::end(lp_x), 0.0f);
    std::fill(std::begin(lp_y), std::end(lp_y), 0.0f);
    lp_index = 0;
}

void biquad_filter_upsampling::advance_lfos_and_modulate(int doubled_steps, int rate, math_lookup const& sine)
{
    int const p1 = lfo_period(rate, lfo1_rate_hz);
    int const p2 = lfo_period(rate, lfo2_rate_hz);
    lfo1_counter = advance_counter(lfo1_counter, doubled_steps, p1);
    lfo2_counter = advance_counter(lfo2_counter, doubled_steps, p2);
    if (freq_mod == 0.0f && gain_db_mod == 0.0f) {
        modulated_f0 = f0;
        modulated_gain_db = gain_db;
        return;
    }

    float const half_rate = static_cast<float>(rate) * 0.5f;
    float f =
        f0 + freq_mod * sine.sin_lookup_interp(two_pi * (freq_mod_phase + static_cast<float>(lfo2_counter) /
                                                                              static_cast<float>(p2)));
    f = std::min(f, fs * 0.5f);
    f = std::max(f, 0.0f);
    f = std::min(f, half_rate);
    f = std::max(f, 20.0f);

    float g = gain_db + gain_db_mod * sine.sin_lookup_interp(
                                          two_pi * (gain_db_mod_phase + static_cast<float>(lfo1_counter) /
                                                                            static_cast<float>(p1)));
    g = std::clamp(g, -20.0f, 20.0f);

    compute_coeffs_specific(g, f);
    modulated_f0 = f;
    modulated_gain_db = g;
    f0 = std::max(20.0f, std::min(f0, half_rate));
    gain_db = std::clamp(gain_db, -20.0f, 20.0f);
}

void biquad_filter_upsampling::process_2x(float* buffer, int count, biquad_filter_upsampling* const* bands,
                                          int band_count)
{
    if (!buffer || count <= 0 || !bands || band_count <= 0 || !bands[0]) return;

    // Working copies, so that the loop runs on locals rather than through the band objects.
    struct stage {
        biquad_filter_upsampling* band;
        float b0, b1, b2, a1, a2, x1, x2, y1, y2;
    };
    constexpr int max_stages = 8;
    stage stages[max_stages];
    int used = 0;
    for (int i = 0; i < band_count && used < max_stages; ++i) {
        biquad_filter_upsampling* const b = bands[i];
        if (!b || !(b->toggle > 0.0f)) continue;
        stages[used++] = {b,          b->norm.b0, b->norm.b1, b->norm.b2, b->norm.a1,
                          b->norm.a2, b->x1,      b->x2,      b->y1,      b->y2};
    }

    biquad_filter_upsampling& lp = *bands[0];
    float hx[anti_image_order];
    float hy[anti_image_order];
    std::copy(std::begin(lp.lp_x), std::end(lp.lp_x), hx);
    std::copy(std::begin(lp.lp_y), std::end(lp.lp_y), hy);
    int newest = lp.lp_index;

    buffer[0] += anti_denormal;
    for (int i = 0; i < count; ++i) {
        // The input sample, then the inserted zero; only the first step's output is kept.
        for (int step = 0; step < 2; ++step) {
            float v = step == 0 ? buffer[i] : 0.0f;
            for (int s = 0; s < used; ++s) {
                stage& st = stages[s];
                float const y = st.b0 * v + st.b1 * st.x1 + st.b2 * st.x2 - st.a1 * st.y1 - st.a2 * st.y2;
                st.x2 = st.x1;
                st.x1 = v;
                st.y2 = st.y1;
                st.y1 = y;
                v = y;
            }
            float y = anti_image_b[0] * v;
            int j = newest;
            for (int k = 1; k <= anti_image_order; ++k) {
                y += anti_image_b[k] * hx[j] - anti_image_a[k] * hy[j];
                j = j == 0 ? anti_image_order - 1 : j - 1;
            }
            newest = newest == anti_image_order - 1 ? 0 : newest + 1;
            hx[newest] = v;
            hy[newest] = y;
            if (step == 0) buffer[i] = 2.0f * y; // x2 restores the level that the zeros took away
        }
    }

    for (int s = 0; s < used; ++s) {
        stage const& st = stages[s];
        st.band->x1 = st.x1;
        st.band->x2 = st.x2;
        st.band->y1 = st.y1;
        st.band->y2 = st.y2;
    }
    std::copy(hx, hx + anti_image_order, lp.lp_x);
    std::copy(hy, hy + anti_image_order, lp.lp_y);
    lp.lp_index = newest;
}
