#include "effects/biquad_filter.h"

#include <algorithm>
#include <cmath>

namespace {

// Keeps the recursion away from denormal numbers.
constexpr float anti_denormal = 1.2128485e-10f;

// Gain taper: x in -1..1 to s in -1..1, logarithmic on both sides of the middle.
float taper_extend(float x)
{
    return x > 0.0f ? (std::pow(10.0f, x) - 1.0f) / 9.0f : -(std::pow(10.0f, -x) - 1.0f) / 9.0f;
}

float taper_unextend(float x)
{
    return x > 0.0f ? std::log10(9.0f * x + 1.0f) : -std::log10(1.0f - 9.0f * x);
}

float gain_from_unity(float u)
{
    return std::clamp(20.0f * taper_extend(2.0f * u - 1.0f), -20.0f, 20.0f);
}

float unity_from_frequency(float hz, float max_hz)
{
    return std::log10(9.0f * std::log10(9.0f * hz / max_hz + 1.0f) + 1.0f);
}

} // namespace

biquad_filter::biquad_filter() : lookup_tables(std::make_unique<math_lookup>())
{
    compute_coeffs_specific(0.0f, 250.0f);
    view_raw = raw;
    view_norm = norm;
}

biquad_filter::~biquad_filter() = default;

void biquad_filter::set_q(float q_value)
{
    q = q_value >= 0.0f && q_value <= 10.0f ? q_value : 1.0f;
}

void biquad_filter::set_mode(int mode_value)
{
    mode = mode_value >= 0 && mode_value <= 4 ? mode_value : 0;
}

void biquad_filter::set_mode_restrict(int restriction)
{
    mode_restrict = restriction;
}

void biquad_filter::set_freq_fs(float rate)
{
    fs = rate > 0.0f ? rate : 1000.0f;
}

void biquad_filter::set_freq_max_f0(float hz)
{
    max_f0 = std::min(hz, fs * 0.5f);
}

void biquad_filter::set_freq_f0(float hz)
{
    f0 = std::max(20.0f, std::min(hz, max_f0));
}

void biquad_filter::set_freq_mod(float hz)
{
    float const depth = std::min(hz, max_f0) * 0.5f;
    freq_mod = depth > 20.0f ? depth : 0.0f;
}

void biquad_filter::set_gain_db(float db)
{
    gain_db = std::clamp(db, -20.0f, 20.0f);
}

void biquad_filter::set_gain_db_mod(float db)
{
    gain_db_mod = std::fabs(db) <= 20.0f ? db : 0.0f;
}

char const* biquad_filter::get_mode_text_ret() const
{
    static char const* const texts[] = {"H. Cut", "L. Cut", "L. Shelf", "H. Shelf", "Peak"};
    return mode >= 0 && mode <= 4 ? texts[mode] : "Error";
}

void biquad_filter::set_unity_range_gain_db(float u)
{
    gain_db = gain_from_unity(u);
}

void biquad_filter::set_unity_range_gain_db_end(float u)
{
    gain_db_end = gain_from_unity(u);
}

float biquad_filter::get_unity_range_gain_db() const
{
    return (taper_unextend(gain_db / 20.0f) + 1.0f) * 0.5f;
}

void biquad_filter::set_unity_range_gain_db_mod(float u)
{
    set_gain_db_mod(20.0f * u);
}

float biquad_filter::get_unity_range_gain_db_mod() const
{
    return gain_db_mod / 20.0f;
}

void biquad_filter::set_unity_range_gain_db_mod_phase(float u)
{
    gain_db_mod_phase = std::clamp(u, 0.0f, 1.0f);
}

void biquad_filter::set_unity_range_freq_mod_phase(float u)
{
    freq_mod_phase = std::clamp(u, 0.0f, 1.0f);
}

void biquad_filter::set_unity_range_q(float u)
{
    set_q(std::pow(10.0f, 2.0f * u) / 10.0f);
}

float biquad_filter::get_unity_range_q() const
{
    return std::log(10.0f * q) / (2.0f * std::log(10.0f));
}

void biquad_filter::set_unity_range_mode(float u)
{
    unity_mode = u;
    int const k = static_cast<int>(std::floor(2.0f * u));
    switch (mode_restrict) {
    case biquad_restrict_full: {
        int const m = static_cast<int>(std::floor(4.0f * u));
        // A negative unity value is out of range as much as one above 1.
        mode = m >= 0 && m < 5 ? m : biquad_mode_high_cut;
        break;
    }
    case biquad_restrict_lowest:
        if (k == 0)
            mode = biquad_mode_peak;
        else if (k == 1)
            mode = biquad_mode_low_cut;
        else if (k == 2)
            mode = biquad_mode_low_shelf;
        break;
    case biquad_restrict_middle:
        mode = biquad_mode_peak;
        break;
    case biquad_restrict_highest:
        if (k == 0)
            mode = biquad_mode_peak;
        else if (k == 1)
            mode = biquad_mode_high_cut;
        else if (k == 2)
            mode = biquad_mode_high_shelf;
        break;
    default:
        break;
    }
}

float biquad_filter::get_unity_range_freq_f0() const
{
    return unity_from_frequency(f0, max_f0);
}

float biquad_filter::get_unity_range_freq_mod() const
{
    return unity_from_frequency(freq_mod, max_f0);
}

void biquad_filter::compute_coeffs()
{
    compute_coeffs_specific(gain_db, f0);
}

void biquad_filter::compute_coeffs_specific(float gain, float f0_hz)
{
    cookbook(gain, f0_hz, raw, norm, true);
}

void biquad_filter::compute_coeffs_view(float gain, float f0_hz)
{
    cookbook(gain, f0_hz, view_raw, view_norm, false);
}

void biquad_filter::cookbook(float gain, float f0_hz, biquad_coefficients& out_raw,
                             biquad_coefficients& out_norm, bool keep_derived)
{
    float const a = std::pow(10.0f, gain / 40.0f);
    float const w = f0_hz * 6.2831855f / fs;
    float const c = std::cos(w);
    float const s = std::sin(w);
    float const al = s / (2.0f * q);
    if (keep_derived) {
        big_a = a;
        w0 = w;
        sin_w0 = s;
        cos_w0 = c;
        alpha = al;
    }

    biquad_coefficients const pass_through{};
    if (toggle < 0.5f) {
        out_raw = pass_through;
        out_norm = pass_through;
        return;
    }

    biquad_coefficients r = out_raw;
    float const two_sqrt_a_alpha = 2.0f * std::sqrt(a) * al;
    switch (mode) {
    case biquad_mode_high_cut:
        r.b0 = r.b2 = (1.0f - c) / 2.0f;
        r.b1 = 1.0f - c;
        r.a0 = 1.0f + al;
        r.a1 = -2.0f * c;
        r.a2 = 1.0f - al;
        break;
    case biquad_mode_low_cut:
        r.b0 = r.b2 = (1.0f + c) / 2.0f;
        r.b1 = -(1.0f + c);
        r.a0 = 1.0f + al;
        r.a1 = -2.0f * c;
        r.a2 = 1.0f - al;
        break;
    case biquad_mode_low_shelf:
        r.b0 = a * ((a + 1.0f) - (a - 1.0f) * c + two_sqrt_a_alpha);
        r.b1 = 2.0f * a * ((a - 1.0f) - (a + 1.0f) * c);
        r.b2 = a * ((a + 1.0f) - (a - 1.0f) * c - two_sqrt_a_alpha);
        r.a0 = (a + 1.0f) + (a - 1.0f) * c + two_sqrt_a_alpha;
        r.a1 = -2.0f * ((a - 1.0f) + (a + 1.0f) * c);
        r.a2 = (a + 1.0f) + (a - 1.0f) * c - two_sqrt_a_alpha;
        break;
    case biquad_mode_high_shelf:
        r.b0 = a * ((a + 1.0f) + (a - 1.0f) * c + two_sqrt_a_alpha);
        r.b1 = -2.0f * a * ((a - 1.0f) + (a + 1.0f) * c);
        r.b2 = a * ((a + 1.0f) + (a - 1.0f) * c - two_sqrt_a_alpha);
        r.a0 = (a + 1.0f) - (a - 1.0f) * c + two_sqrt_a_alpha;
        r.a1 = 2.0f * ((a - 1.0f) - (a + 1.0f) * c);
        r.a2 = (a + 1.0f) - (a - 1.0f) * c - two_sqrt_a_alpha;
        break;
    case biquad_mode_peak:
        r.b0 = 1.0f + al * a;
        r.b1 = -2.0f * c;
        r.b2 = 1.0f - al * a;
        r.a0 = 1.0f + al / a;
        r.a1 = -2.0f * c;
        r.a2 = 1.0f - al / a;
        break;
    default:
        break; // an unknown mode keeps the previous raw coefficients
    }

    biquad_coefficients n;
    n.b0 = r.b0 / r.a0;
    n.b1 = r.b1 / r.a0;
    n.b2 = r.b2 / r.a0;
    n.a0 = 1.0f;
    n.a1 = r.a1 / r.a0;
    n.a2 = r.a2 / r.a0;
    // A Q of 0 (or another degenerate setting) gives no usable filter: pass the signal instead
    // of letting infinities into the recursion.
    if (!(std::isfinite(n.b0) && std::isfinite(n.b1) && std::isfinite(n.b2) && std::isfinite(n.a1) &&
          std::isfinite(n.a2))) {
        out_raw = pass_through;
        out_norm = pass_through;
        return;
    }
    out_raw = r;
    out_norm = n;
}

void biquad_filter::compute_filter_inplace(float* buffer, int count)
{
    if (toggle == 0.0f || !buffer || count <= 0) return;
    buffer[0] += anti_denormal;
    for (int i = 0; i < count; i += 256)
        buffer[i] += anti_denormal;

    float const b0 = norm.b0, b1 = norm.b1, b2 = norm.b2, a1 = norm.a1, a2 = norm.a2;
    float hx1 = x1, hx2 = x2, hy1 = y1, hy2 = y2;
    for (int i = 0; i < count; ++i) {
        float const x = buffer[i];
        // The last output enters last: its multiply and one subtraction are all that one sample
        // waits for from the one before.
        float const y = (b0 * x + b1 * hx1 + b2 * hx2 - a2 * hy2) - a1 * hy1;
        hx2 = hx1;
        hx1 = x;
        hy2 = hy1;
        hy1 = y;
        buffer[i] = y;
    }
    x1 = hx1;
    x2 = hx2;
    y1 = hy1;
    y2 = hy2;
}

void biquad_filter::copy_settings(biquad_filter* other)
{
    if (!other || other == this) return;
    q = other->q;
    mode = other->mode;
    lfo1_rate_hz = other->lfo1_rate_hz;
    lfo2_rate_hz = other->lfo2_rate_hz;
    f0 = other->f0;
    f0_end = other->f0_end;
    freq_mod = other->freq_mod;
    freq_mod_phase = other->freq_mod_phase;
    fs = other->fs;
    max_f0 = other->max_f0;
    gain_db = other->gain_db;
    gain_db_end = other->gain_db_end;
    gain_db_mod = other->gain_db_mod;
    gain_db_mod_phase = other->gain_db_mod_phase;
    toggle = other->toggle;
    big_a = other->big_a;
    w0 = other->w0;
    sin_w0 = other->sin_w0;
    cos_w0 = other->cos_w0;
    alpha = other->alpha;
    raw = other->raw;
    norm = other->norm;
    view_raw = other->view_raw;
    view_norm = other->view_norm;
}

float log_extend_low_unity_range_mid_pointed(float u)
{
    return (taper_extend(2.0f * u - 1.0f) + 1.0f) * 0.5f;
}

float log_unextend_low_unity_range_mid_pointed(float v)
{
    return (taper_unextend(2.0f * v - 1.0f) + 1.0f) * 0.5f;
}
