// Topology conversions and the Fusion display helpers of the program record.
#include "program/vst_plugin_program.h"

#include <cmath>
#include <cstdio>
#include <iterator>
#include <string>

namespace {

std::string gain_text(float gain, bool long_form, char const* off_text)
{
    // The gains are power gains, so a decibel is 10 log10.
    double const db = 10.0 * std::log10(static_cast<double>(gain));
    if (db > -90.0) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", db);
        return text;
    }
    return long_form ? "-oo" : off_text;
}

void write_text(char* out, std::size_t out_size, char const* text)
{
    if (out == nullptr || out_size == 0) return;
    std::snprintf(out, out_size, "%s", text);
}

} // namespace

int VST_Plugin_Program::get_topology_from_unity(float u, bool two_way, bool fusion_allowed)
{
    if (two_way) {
        if (u == 0.0f) return 0;
        if (u == 1.0f) return 2;
        return 1;
    }
    if (u == 0.0f) return 0;
    if (u > 0.3f && u < 0.6f) return 1;
    if (u > 0.6f && u < 1.0f) return 2;
    return fusion_allowed ? 4 : 3;
}

float VST_Plugin_Program::get_topology_as_unity(int topology, bool table)
{
    if (!table) return static_cast<float>(topology / 3.0);
    static constexpr float kTable[] = {0.0f, 1.0f / 3.0f, 2.0f / 3.0f, 0.0f, 1.0f};
    if (topology < 0 || topology >= static_cast<int>(std::size(kTable))) return 0.0f;
    return kTable[topology];
}

float VST_Plugin_Program::get_rate_hz(float u)
{
    if (u <= 0.5f) return 2.0f * u;
    return 2.0f * (u - 0.5f) * 4.0f + 1.0f;
}

void VST_Plugin_Program::get_rate_hz_char(float u, char* out, std::size_t out_size)
{
    if (out == nullptr || out_size == 0) return;
    float const rate = get_rate_hz(u);
    if (rate == 0.0f)
        std::snprintf(out, out_size, "Suspended");
    else
        std::snprintf(out, out_size, "Fusion: %.2f Hz", static_cast<double>(rate));
}

void VST_Plugin_Program::get_head_permit_char(float u, char* out, std::size_t out_size)
{
    write_text(out, out_size, u == 1.0f ? "Early Fusion On" : "Early Fusion Off");
}

std::pair<float, float> VST_Plugin_Program::get_head_tail_mix_tuple_power(float u)
{
    if (!(u >= 0.0f && u <= 1.0f)) return {0.0f, 0.0f};
    float early = u > 0.5f ? 1.0f - 2.0f * (u - 0.5f) : 1.0f;
    float late = u < 0.5f ? 2.0f * u : 1.0f;
    if (early < 1.0f) early *= early;
    if (late < 1.0f) late *= late;
    return {early, late};
}

std::string VST_Plugin_Program::get_head_tail_mix(float u, bool long_form)
{
    if (!(u >= 0.0f && u <= 1.0f)) return "err";
    auto const [early, late] = get_head_tail_mix_tuple_power(u);
    std::string const early_text = gain_text(early, long_form, "Early Off");
    std::string const late_text = gain_text(late, long_form, "Late Off");
    if (long_form) return "Early: " + early_text + " dB / Late: " + late_text + " dB";
    return early_text + " / " + late_text;
}

void VST_Plugin_Program::get_head_tail_mix_char(float u, char* out, std::size_t out_size)
{
    write_text(out, out_size, get_head_tail_mix(u, true).c_str());
}
