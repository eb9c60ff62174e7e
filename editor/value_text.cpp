#include "editor/value_text.h"

#include "effects/biquad_filter.h"
#include "effects/chorus.h"
#include "engine/engine_helpers.h"
#include "program/vst_plugin_program.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace corvella::editor {

namespace {

std::string format(char const* pattern, ...)
{
    char buffer[96];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(buffer, sizeof buffer, pattern, args);
    va_end(args);
    return buffer;
}

std::string decibels(float db)
{
    if (std::fabs(db) < 0.05f) db = 0.0f; // no "-0.0 dB"
    return format("%+.1f dB", static_cast<double>(db));
}

// The envelope's percentages: tenths where they matter, whole percent from 10 % up, so that the
// stage times and the sustain level read alike.
std::string envelope_percent(double percent)
{
    return percent < 9.95 ? format("%.1f %%", percent) : format("%.0f %%", percent);
}

constexpr float eq_top_hz = 22050.0f;

// Mode numbers of the menu positions (the filter's own numbering: 0 high cut, 1 low cut,
// 2 low shelf, 3 high shelf, 4 peak).
constexpr std::array<int, 5> mode_of_position{4, 1, 2, 0, 3};

} // namespace

float eq_frequency_hz(float u)
{
    u = std::clamp(u, 0.0f, 1.0f);
    float const taper = (std::pow(10.0f, (std::pow(10.0f, u) - 1.0f) / 9.0f) - 1.0f) / 9.0f;
    return std::max(20.0f, taper * eq_top_hz);
}

std::string note_text(float hz)
{
    static char const* const names[12] = {"A", "A#", "B", "C", "C#", "D", "D#", "E", "F", "F#", "G", "G#"};
    if (!(hz > 0.0f)) return "-";
    int const semis = static_cast<int>(std::lround(12.0 * std::log2(static_cast<double>(hz) / 440.0)));
    int const index = ((semis % 12) + 12) % 12;
    int const octave = 4 + static_cast<int>(std::floor((semis + 9) / 12.0)); // octaves start at C
    char pattern[32];
    std::snprintf(pattern, sizeof pattern, "%s%%d (%%.1fHz)", names[index]);
    return format(pattern, octave, static_cast<double>(hz));
}

std::string note_range_text(float from_hz, float to_hz)
{
    return note_text(from_hz) + " to " + note_text(to_hz);
}

int eq_band_mode_menu_position(float u)
{
    return std::clamp(static_cast<int>(std::floor(2.0f * u)), 0, 2);
}

float eq_band_mode_unity(int position)
{
    return 0.5f * static_cast<float>(std::clamp(position, 0, 2));
}

int eq_mode_menu_position(float u)
{
    int const mode = std::clamp(static_cast<int>(std::floor(4.0f * u)), 0, 4);
    for (int p = 0; p < 5; ++p)
        if (mode_of_position[static_cast<std::size_t>(p)] == mode) return p;
    return 0;
}

float eq_mode_unity(int position)
{
    return static_cast<float>(mode_of_position[static_cast<std::size_t>(std::clamp(position, 0, 4))]) / 4.0f;
}

int topology_of(float u)
{
    return VST_Plugin_Program::get_topology_from_unity(u, false, false);
}

float topology_unity(int topology)
{
    return VST_Plugin_Program::get_topology_as_unity(std::clamp(topology, 0, 3), false);
}

std::string value_text(Unit unit, float u)
{
    if (!std::isfinite(u)) return "-";
    double const d = u;
    char buffer[96];
    switch (unit) {
    case Unit::percent:
        return format("%.0f %%", d * 100.0);
    case Unit::on_off:
        return u >= 0.5f ? "On" : "Off";
    case Unit::ir_gain_db:
        return decibels(get_db_gain_from_dual_scaling(u, -50.0f, 50.0f));
    case Unit::master_db:
        return decibels(get_db_gain_from_dual_scaling(u, -30.0f, 30.0f));
    case Unit::eq_gain_db: // the bands' own taper: fine near 0 dB, coarse towards +-20
        return decibels(20.0f * (2.0f * log_extend_low_unity_range_mid_pointed(u) - 1.0f));
    case Unit::eq_q:
        return format("%.2f", 0.1 * std::pow(100.0, d)); // the dial's label says "Q"
    case Unit::eq_freq: {
        float const hz = eq_frequency_hz(u);
        return hz >= 1000.0f ? format("%.2f kHz", hz / 1000.0) : format("%.0f Hz", static_cast<double>(hz));
    }
    case Unit::eq_mode:
        return eq_mode_names[eq_mode_menu_position(u)];
    case Unit::pan: {
        int const side = static_cast<int>(std::lround((d - 0.5) * 200.0));
        if (side == 0) return "C";
        return format("%s %d", side < 0 ? "L" : "R", std::abs(side));
    }
    case Unit::width:
        return format("%.0f %%", d * 200.0);
    case Unit::pre_delay_ms:
        return format("%.1f ms", d * 500.0);
    case Unit::sts_delay_ms:
        return format("%.1f ms", d * 80.0);
    case Unit::sts_gain_db:
        return format("%.1f dB", (1.0 - d) * -12.0);
    case Unit::sweep_ms:
        return format("%.0f ms", d * d * 1000.0);
    case Unit::envelope:
        return envelope_percent(d * d * 100.0);
    case Unit::level:
        return envelope_percent(d * 100.0);
    case Unit::length_factor:
        return format("%.2fx", d + 0.5);
    case Unit::tail_seconds: {
        double const s = d * d * d * 29.95 + 0.05;
        return s < 1.0 ? format("%.0f ms", s * 1000.0) : format("%.2f s", s);
    }
    case Unit::chorus_delay_ms:
        return chorus::delay_ms_text(u);
    case Unit::chorus_mod_ms:
        return chorus::delay_mod_ms_text(u);
    case Unit::chorus_rate_hz:
        return chorus::delay_mod_rate_hz_text(u);
    case Unit::delay_mod_ms:
        return format("%.2f ms", d * 10.0);
    case Unit::delay_rate_hz:
        return format("%.2f Hz", std::pow(1000.0, d) / 50.0);
    case Unit::lfo_rate_hz:
        return format("%.2f Hz", std::pow(100.0, d) / 10.0);
    case Unit::stacked_rate:
        VST_Plugin_Program::get_rate_hz_char(u, buffer, sizeof buffer);
        return buffer;
    case Unit::stacked_mix:
        return VST_Plugin_Program::get_head_tail_mix(u, false);
    case Unit::stacked_permit:
        VST_Plugin_Program::get_head_permit_char(u, buffer, sizeof buffer);
        return buffer;
    case Unit::topology:
        return topology_names[topology_of(u)];
    case Unit::mix_law:
        return u > 0.0f ? "Flat Balance" : "Raised Centre"; // above 0: equal-sum law
    case Unit::mod_order:
        return u > 0.0f ? "Mod Pre-IR" : "Mod Post-IR"; // above 0 the mixer runs before the convolvers
    case Unit::chain:
        return u > 0.0f ? "Chain IR1/IR2" : "Chain inactive";
    case Unit::phase_deg:
        return format("%.0f deg", d * 360.0);
    case Unit::hpf: {
        float const hz = eq_frequency_hz(u);
        return hz >= 1000.0f ? format("HPF: %.1f kHz", hz / 1000.0) : format("HPF: %d Hz", static_cast<int>(hz));
    }
    }
    return "-";
}

} // namespace corvella::editor
