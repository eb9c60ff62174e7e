#include "program/parameter_application.h"

#include "program/parameter_table.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

namespace corvella {
namespace {

using KeyList = std::string_view const[];

// clang-format off
// The lists of one IR are written once with the IR's number spliced in, so that IR1's and IR2's
// lists cannot drift apart.
#define CORVELLA_BAND_KEYS(n, b)                                                                  \
    "ir" n "_flt" b "_toggle", "ir" n "_flt" b "_mode", "ir" n "_flt" b "_freq",                 \
    "ir" n "_flt" b "_gain", "ir" n "_flt" b "_q"
#define CORVELLA_SWEEP_KEYS(n, b)                                                                 \
    "ir" n "_flt" b "_freq_to", "ir" n "_flt" b "_freq_to_start", "ir" n "_flt" b "_freq_to_end", \
    "ir" n "_flt" b "_gain_to", "ir" n "_flt" b "_gain_to_start", "ir" n "_flt" b "_gain_to_end"

#define CORVELLA_PARTIAL_KEYS(n)                                                                  \
    "ir" n "_user_resample_factor", "ir" n "_crop_from_start", "ir" n "_crop_from_end",          \
    "ir" n "_reverse",                                                                           \
    "ir" n "_adshr_a", "ir" n "_adshr_d", "ir" n "_adshr_s", "ir" n "_adshr_h", "ir" n "_adshr_r", \
    "ir" n "_pre_delay",                                                                         \
    "ir" n "_adshr_a_alpha", "ir" n "_adshr_d_alpha", "ir" n "_adshr_r_alpha",                   \
    "ir" n "_adshr_a_alpha_inv", "ir" n "_adshr_d_alpha_inv", "ir" n "_adshr_r_alpha_inv",       \
    "ir" n "_width",                                                                             \
    "ir" n "_er_size", "ir" n "_er_diffusion", "ir" n "_er_distance", "ir" n "_er_position",     \
    "ir" n "_er_separation", "ir" n "_er_type", "ir" n "_er_depth",                              \
    "ir" n "_tail_length", "ir" n "_tail_diffusion", "ir" n "_tail_variant",                     \
    "ir" n "_tail_diffuse_length",                                                               \
    "ir" n "_flt_master_toggle",                                                                 \
    CORVELLA_BAND_KEYS(n, "1"), CORVELLA_BAND_KEYS(n, "2"), CORVELLA_BAND_KEYS(n, "3"),          \
    CORVELLA_BAND_KEYS(n, "4"), CORVELLA_BAND_KEYS(n, "5"),                                      \
    CORVELLA_SWEEP_KEYS(n, "1"), CORVELLA_SWEEP_KEYS(n, "2"), CORVELLA_SWEEP_KEYS(n, "3"),       \
    CORVELLA_SWEEP_KEYS(n, "4"), CORVELLA_SWEEP_KEYS(n, "5"),                                    \
    "ir" n "_flt1_freq_mod_shape", "ir" n "_flt2_freq_mod_shape", "ir" n "_flt3_freq_mod_shape", \
    "ir" n "_flt4_freq_mod_shape", "ir" n "_flt5_freq_mod_shape",                                \
    "ir" n "_flt1_gain_mod_shape", "ir" n "_flt2_gain_mod_shape", "ir" n "_flt3_gain_mod_shape", \
    "ir" n "_flt4_gain_mod_shape", "ir" n "_flt5_gain_mod_shape",                                \
    "ir" n "_additive_noise_wet",                                                                \
    "pitch_mod_ir" n "_split_point", "pitch_mod_ir" n "_section1_toggle",                        \
    "pitch_mod_ir" n "_section2_toggle",                                                         \
    "ir" n "_normalise",                                                                         \
    "ir" n "_stacked_head_tail_mix", "ir" n "_stacked_depth", "ir" n "_stacked_head_permit_mod", \
    "force_partial_recompute_IR" n

#define CORVELLA_FULL_KEYS(n)                                                                     \
    "ir" n "_sts_toggle", "ir" n "_sts_relative_gain", "ir" n "_sts_high_pass_freq",             \
    "ir" n "_sts_high_pass_toggle", "ir" n "_sts_pre_delay",                                     \
    "ir" n "_er_size", "ir" n "_er_diffusion", "ir" n "_er_distance", "ir" n "_er_position",     \
    "ir" n "_er_separation", "ir" n "_er_depth",                                                 \
    "ir" n "_tail_length", "ir" n "_tail_diffusion", "ir" n "_tail_variant",                     \
    "ir" n "_tail_diffuse_length",                                                               \
    "ir" n "_flt_master_toggle", "ir" n "_additive_noise_wet",                                   \
    "ir" n "_stacked_head_tail_mix", "ir" n "_stacked_depth", "ir" n "_stacked_head_permit_mod", \
    "force_full_recompute_IR" n

#define CORVELLA_CHORUS_KEYS(block)                                                               \
    "chorus_" block "_feedback", "chorus_" block "_width", "chorus_" block "_dry",               \
    "chorus_" block "_wet", "chorus_" block "_delay_ms", "chorus_" block "_delay_mod_ms",         \
    "chorus_" block "_delay_mod_rate_hz", "chorus_" block "_toggle"

#define CORVELLA_PITCH_KEYS(n)                                                                    \
    "pitch_mod_ir" n "_split_point", "pitch_mod_ir" n "_section1_toggle",                        \
    "pitch_mod_ir" n "_section1_mod_rate", "pitch_mod_ir" n "_section1_mod_depth",               \
    "pitch_mod_ir" n "_section2_toggle", "pitch_mod_ir" n "_section2_mod_rate",                  \
    "pitch_mod_ir" n "_section2_mod_depth", "force_recompute_pitch_delay_ir" n

// The host-visible delay keys, then the tempo and note-length slots set through custom data.
#define CORVELLA_DELAY_KEYS(block)                                                                \
    block "_delay_dry",                                                                          \
    block "_delay_l_toggle", block "_delay_l_delay_mod", block "_delay_l_delay_mod_rate",        \
    block "_delay_l_feedback", block "_delay_l_feedback_opposite", block "_delay_l_wet",         \
    block "_delay_r_toggle", block "_delay_r_delay_mod", block "_delay_r_delay_mod_rate",        \
    block "_delay_r_feedback", block "_delay_r_feedback_opposite", block "_delay_r_wet",         \
    block "_delay_l_tempo_lock", block "_delay_r_tempo_lock",                                    \
    block "_delay_l_delay_numer", block "_delay_r_delay_numer",                                  \
    block "_delay_l_delay_denom", block "_delay_r_delay_denom",                                  \
    block "_delay_l_tempo", block "_delay_r_tempo"

#define CORVELLA_POST_BAND_KEYS(b)                                                                \
    "flt" b "_toggle", "flt" b "_mode", "flt" b "_freq", "flt" b "_freq_mod",                    \
    "flt" b "_freq_mod_phase", "flt" b "_gain", "flt" b "_gain_mod", "flt" b "_gain_mod_phase",  \
    "flt" b "_q"

constexpr KeyList partial_ir1{CORVELLA_PARTIAL_KEYS("1")};
constexpr KeyList partial_ir2{CORVELLA_PARTIAL_KEYS("2")};
constexpr KeyList full_ir1{CORVELLA_FULL_KEYS("1")};
constexpr KeyList full_ir2{CORVELLA_FULL_KEYS("2")};
constexpr KeyList buffer_silence{
    "ir1_toggle", "ir2_toggle",
    "pitch_mod_ir1_split_point", "pitch_mod_ir1_section1_toggle", "pitch_mod_ir1_section2_toggle",
    "pitch_mod_ir2_split_point", "pitch_mod_ir2_section1_toggle", "pitch_mod_ir2_section2_toggle"};
constexpr KeyList chorus_master{CORVELLA_CHORUS_KEYS("master"), "force_recompute_chorus_master"};
constexpr KeyList chorus_ir1{CORVELLA_CHORUS_KEYS("ir1"), "force_recompute_chorus_ir1"};
constexpr KeyList chorus_ir2{CORVELLA_CHORUS_KEYS("ir2"), "force_recompute_chorus_ir2"};
constexpr KeyList pitch_ir1{CORVELLA_PITCH_KEYS("1")};
constexpr KeyList pitch_ir2{CORVELLA_PITCH_KEYS("2")};
constexpr KeyList delay_master{CORVELLA_DELAY_KEYS("master"), "force_recompute_master_delay",
                               "force_master_delay_recompute"};
constexpr KeyList delay_ir1{CORVELLA_DELAY_KEYS("ir1"), "force_recompute_ir1_delay",
                            "force_ir1_delay_recompute"};
constexpr KeyList delay_ir2{CORVELLA_DELAY_KEYS("ir2"), "force_recompute_ir2_delay",
                            "force_ir2_delay_recompute"};
constexpr KeyList master_filter{
    "lfo1_rate", "lfo2_rate", "lfo3_rate", "flt_master_toggle",
    CORVELLA_POST_BAND_KEYS("1"), CORVELLA_POST_BAND_KEYS("2"), CORVELLA_POST_BAND_KEYS("3"),
    CORVELLA_POST_BAND_KEYS("4"), CORVELLA_POST_BAND_KEYS("5"),
    "force_master_filter_recompute", "force_master_filter_coeffs"};
// clang-format on

#undef CORVELLA_BAND_KEYS
#undef CORVELLA_SWEEP_KEYS
#undef CORVELLA_PARTIAL_KEYS
#undef CORVELLA_FULL_KEYS
#undef CORVELLA_CHORUS_KEYS
#undef CORVELLA_PITCH_KEYS
#undef CORVELLA_DELAY_KEYS
#undef CORVELLA_POST_BAND_KEYS

static_assert(std::size(partial_ir1) == 103 && std::size(partial_ir2) == 103);
static_assert(std::size(full_ir1) == 21 && std::size(full_ir2) == 21);
static_assert(std::size(chorus_master) == 9 && std::size(pitch_ir1) == 8);
static_assert(std::size(delay_master) == 23 && std::size(delay_ir2) == 23);
static_assert(std::size(master_filter) == 51);

template <std::size_t N> bool contains(std::string_view const (&list)[N], char const* key)
{
    if (key == nullptr) return false;
    std::string_view const wanted(key);
    return std::find(std::begin(list), std::end(list), wanted) != std::end(list);
}

} // namespace

std::array<ClassifiedRequest, 14> const request_classifiers{{
    {test_require_buffer_silence, Request::buffer_silence},
    {test_require_partial_recompute_IR1, Request::partial_recompute_ir1},
    {test_require_partial_recompute_IR2, Request::partial_recompute_ir2},
    {test_require_full_recompute_IR1, Request::full_recompute_ir1},
    {test_require_full_recompute_IR2, Request::full_recompute_ir2},
    {test_require_chorus_master, Request::chorus_master},
    {test_require_chorus_IR1, Request::chorus_ir1},
    {test_require_chorus_IR2, Request::chorus_ir2},
    {test_require_pitch_delay_IR1, Request::pitch_delay_ir1},
    {test_require_pitch_delay_IR2, Request::pitch_delay_ir2},
    {test_require_delay_master, Request::delay_master},
    {test_require_delay_IR1, Request::delay_ir1},
    {test_require_delay_IR2, Request::delay_ir2},
    {test_require_master_filter_coeffs, Request::master_filter_coeffs},
}};

int program_from_selector_value(float value)
{
    if (!std::isfinite(value) || !(value > 0.001f)) return -1;
    auto const n = static_cast<int>(value * static_cast<float>(programs_per_bank));
    return n <= programs_per_bank - 1 ? n : -1;
}

int current_program_index(VST_Plugin_Program const* bank)
{
    int const index = bank[0].current_program;
    return index >= 0 && index < programs_per_bank ? index : 0;
}

bool store_parameter_value(VST_Plugin_Program* bank, char const* key, float value)
{
    if (bank == nullptr || key == nullptr) return false;
    VST_Plugin_Program& lock_record = bank[0];
    VST_Plugin_Program& current = bank[current_program_index(bank)];
    std::string_view const wanted(key);

    // The tail variants are edited in the editor only and have no host parameter.
    if (wanted == "ir1_tail_variant") {
        current.ir1_tail_variant = value;
        return true;
    }
    if (wanted == "ir2_tail_variant") {
        current.ir2_tail_variant = value;
        return true;
    }

    ParameterRow const* row = find_parameter(wanted);
    if (row == nullptr || row->slot == nullptr) return false;
    switch (row->store) {
    case ParameterStore::program:
        current.*(row->slot) = value;
        break;
    case ParameterStore::lock_record:
        lock_record.*(row->slot) = value;
        break;
    case ParameterStore::none:
        return false;
    }
    // The locked values follow the knobs, so that switching a lock on keeps what is heard.
    if (wanted == "master_gain") lock_record.master_gain_locked_value = value;
    if (wanted == "master_mix") lock_record.master_mix_locked_value = value;
    return true;
}

double read_parameter_value(VST_Plugin_Program const* bank, char const* key)
{
    if (bank == nullptr || key == nullptr) return 0.0;
    VST_Plugin_Program const& lock_record = bank[0];
    VST_Plugin_Program const& current = bank[current_program_index(bank)];
    std::string_view const wanted(key);

    auto blend = [](double lock, double locked, double own) { return lock * locked + (1.0 - lock) * own; };
    if (wanted == "master_gain")
        return blend(lock_record.master_gain_lock_status, lock_record.master_gain_locked_value,
                     current.master_gain);
    if (wanted == "master_mix")
        return blend(lock_record.master_mix_lock_status, lock_record.master_mix_locked_value,
                     current.master_mix);
    if (wanted == "ir1_tail_variant") return current.ir1_tail_variant;
    if (wanted == "ir2_tail_variant") return current.ir2_tail_variant;

    ParameterRow const* row = find_parameter(wanted);
    if (row == nullptr || row->slot == nullptr) return 0.0;
    switch (row->store) {
    case ParameterStore::program:
        return current.*(row->slot);
    case ParameterStore::lock_record:
        return lock_record.*(row->slot);
    case ParameterStore::none:
        break;
    }
    return 0.0;
}

} // namespace corvella

bool test_require_partial_recompute_IR1(char const* key)
{
    return corvella::contains(corvella::partial_ir1, key);
}
bool test_require_partial_recompute_IR2(char const* key)
{
    return corvella::contains(corvella::partial_ir2, key);
}
bool test_require_full_recompute_IR1(char const* key)
{
    return corvella::contains(corvella::full_ir1, key);
}
bool test_require_full_recompute_IR2(char const* key)
{
    return corvella::contains(corvella::full_ir2, key);
}
bool test_require_buffer_silence(char const* key)
{
    return corvella::contains(corvella::buffer_silence, key);
}
bool test_require_chorus_master(char const* key)
{
    return corvella::contains(corvella::chorus_master, key);
}
bool test_require_chorus_IR1(char const* key)
{
    return corvella::contains(corvella::chorus_ir1, key);
}
bool test_require_chorus_IR2(char const* key)
{
    return corvella::contains(corvella::chorus_ir2, key);
}
bool test_require_pitch_delay_IR1(char const* key)
{
    return corvella::contains(corvella::pitch_ir1, key);
}
bool test_require_pitch_delay_IR2(char const* key)
{
    return corvella::contains(corvella::pitch_ir2, key);
}
bool test_require_delay_master(char const* key)
{
    return corvella::contains(corvella::delay_master, key);
}
bool test_require_delay_IR1(char const* key)
{
    return corvella::contains(corvella::delay_ir1, key);
}
bool test_require_delay_IR2(char const* key)
{
    return corvella::contains(corvella::delay_ir2, key);
}
bool test_require_master_filter_coeffs(char const* key)
{
    return corvella::contains(corvella::master_filter, key);
}
