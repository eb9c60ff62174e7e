#include "tools/corvella-factory-irs/factory_banks.h"

#include "host/bank_files.h"
#include "ir/reflection.h"
#include "ir/tail.h"
#include "program/program_constants.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>

namespace corvella::factory {

namespace {

using Edit = std::function<void(VST_Plugin_Program&)>;

struct Source {
    char const* name;
    char const* file_a; // below the root
    char const* file_b; // the right-input half of a true-stereo pair, or null
};

// The factory responses the file-based programs use.
Source const sources[] = {
    {"Long Plate", "Factory 2/LongPlate-01-44100Hz.wav", nullptr},
    {"Small Room", "Factory/SmallRoom-01-48000Hz.wav", nullptr},
    {"Concert Hall", "Factory/ConcertHall-01-48000Hz.wav", nullptr},
    {"Chamber TS", "Factory/Chamber-TS-01-48000Hz-L.wav", "Factory/Chamber-TS-01-48000Hz-R.wav"},
};

void set_text(char* field, std::size_t size, std::string const& text)
{
    std::memset(field, 0, size);
    std::strncpy(field, text.c_str(), size - 1);
}

void name(VST_Plugin_Program& p, std::string const& text)
{
    set_text(p.name, sizeof p.name, text);
}

// A fresh program: every default, mixed for an insert (35 % wet).
VST_Plugin_Program fresh()
{
    VST_Plugin_Program p;
    p.reset();
    p.master_mix = 0.35f;
    p.version_stamp = current_program_version;
    return p;
}

void use_source(VST_Plugin_Program& p, int slot, Source const& s, std::filesystem::path const& root)
{
    char* a = slot == 1 ? p.ir1_file_a : p.ir2_file_a;
    char* b = slot == 1 ? p.ir1_file_b : p.ir2_file_b;
    set_text(a, program_path_size, (root / s.file_a).string());
    set_text(b, program_path_size, s.file_b != nullptr ? (root / s.file_b).string() : std::string());
    (slot == 1 ? p.ir1_topology : p.ir2_topology) = s.file_b != nullptr ? 1.0f / 3.0f : 0.0f; // True Stereo
    (slot == 1 ? p.ir1_toggle : p.ir2_toggle) = 1.0f;
}

// Both sides of the master delay as echoes of n/16 of a bar at the host's tempo.
void echoes(VST_Plugin_Program& p, int left_sixteenths, int right_sixteenths, float feedback)
{
    p.master_delay_l_toggle = p.master_delay_r_toggle = 1.0f;
    p.master_delay_l_tempo_lock = p.master_delay_r_tempo_lock = 1.0f;
    p.master_delay_l_delay_numer = left_sixteenths;
    p.master_delay_r_delay_numer = right_sixteenths;
    p.master_delay_l_delay_denom = p.master_delay_r_delay_denom = 16;
    p.master_delay_l_feedback = p.master_delay_r_feedback = feedback;
    p.master_delay_l_feedback_opposite = p.master_delay_r_feedback_opposite = 0.0f;
    p.master_delay_l_delay_mod = p.master_delay_r_delay_mod = 0.0f;
}

void chorus_on(VST_Plugin_Program& p, float depth, float rate)
{
    p.chorus_master_toggle = 1.0f;
    p.chorus_master_delay_ms = 0.35f;
    p.chorus_master_delay_mod_ms = depth;
    p.chorus_master_delay_mod_rate_hz = rate;
    p.chorus_master_wet = 0.5f;
    p.chorus_master_dry = 1.0f;
    p.chorus_master_width = 0.75f;
}

// Set 1: each factory response in twelve treatments.
std::vector<VST_Plugin_Program> selection_set(std::filesystem::path const& root)
{
    struct Treatment {
        char const* suffix;
        Edit edit;
    };
    Treatment const treatments[] = {
        {"", [](VST_Plugin_Program&) {}},
        {" Send", [](VST_Plugin_Program& p) { p.master_mix = 1.0f; }},
        {" Pre 40ms", [](VST_Plugin_Program& p) { p.ir1_pre_delay = 0.08f; }},
        {" Pre 120ms", [](VST_Plugin_Program& p) { p.ir1_pre_delay = 0.24f; }},
        {" Wide", [](VST_Plugin_Program& p) { p.ir1_width = 0.9f; }},
        {" Narrow", [](VST_Plugin_Program& p) { p.ir1_width = 0.2f; }},
        // The crop controls act on squared values: 0.3 keeps the first tenth of the response.
        {" Short", [](VST_Plugin_Program& p) { p.ir1_crop_from_end = 0.3f; }},
        // Reversed, the response swells towards its onset; the crop brings the swell closer.
        {" Reverse", [](VST_Plugin_Program& p) { p.ir1_reverse = 1.0f, p.ir1_crop_from_start = 0.85f; }},
        {" Chorus", [](VST_Plugin_Program& p) { chorus_on(p, 0.3f, 0.35f); }},
        {" Echoes", [](VST_Plugin_Program& p) { echoes(p, 3, 4, 0.35f); }},
        {" Slap", [](VST_Plugin_Program& p) { echoes(p, 1, 1, 0.0f); }},
        {" Close", [](VST_Plugin_Program& p) { p.master_mix = 0.2f, p.ir1_width = 0.35f, p.ir1_pre_delay = 0.02f; }},
    };
    std::vector<VST_Plugin_Program> bank;
    for (Source const& s : sources)
        for (Treatment const& t : treatments) {
            VST_Plugin_Program p = fresh();
            use_source(p, 1, s, root);
            t.edit(p);
            name(p, std::string(s.name) + t.suffix);
            bank.push_back(p);
        }
    return bank;
}

// Set 2: the long plate against each other response, the mix between them moving; then the
// Fusion responses.
std::vector<VST_Plugin_Program> modulated_set(std::filesystem::path const& root)
{
    struct Motion {
        char const* suffix;
        float rate, depth; // lfo3_rate, mix modulation
        float balance;     // balance modulation of both IRs
        bool chorus, echo;
    };
    Motion const motions[] = {
        {" Drift", 0.2f, 0.3f, 0.0f, false, false},  {" Sway", 0.4f, 0.6f, 0.0f, false, false},
        {" Pulse", 0.7f, 0.8f, 0.0f, false, false},  {" Flutter", 0.9f, 0.4f, 0.0f, false, false},
        {" Orbit", 0.3f, 0.3f, 0.6f, false, false},  {" Spin", 0.6f, 0.2f, 0.9f, false, false},
        {" Shimmer", 0.35f, 0.5f, 0.0f, true, false}, {" Haze", 0.15f, 0.7f, 0.3f, true, false},
        {" Echo Drift", 0.2f, 0.4f, 0.0f, false, true}, {" Echo Swirl", 0.5f, 0.5f, 0.5f, true, true},
        {" Wobble", 0.8f, 1.0f, 0.0f, false, false}, {" Breath", 0.1f, 1.0f, 0.2f, false, false},
    };
    std::vector<VST_Plugin_Program> bank;
    for (int partner = 1; partner < 4; ++partner)
        for (std::size_t k = 0; k < std::size(motions); ++k) {
            Motion const& m = motions[k];
            VST_Plugin_Program p = fresh();
            use_source(p, 1, sources[0], root);
            use_source(p, 2, sources[partner], root);
            p.master_ir1_ir2_mix = 0.5f;
            p.master_ir1_ir2_mix_mod = m.depth;
            p.lfo3_rate = m.rate;
            p.ir1_balance_mod = p.ir2_balance_mod = m.balance;
            p.ir2_balance_mod_phase = 0.5f;
            // The partner enters a little later in each motion, so the two rooms stay apart, and the
            // plate's width suits each partner.
            p.ir2_pre_delay = 0.01f * static_cast<float>(k + 1);
            p.ir1_pre_delay = 0.005f * static_cast<float>(k);
            p.ir1_width = partner == 1 ? 0.5f : partner == 2 ? 0.7f : 0.3f;
            if (m.chorus) chorus_on(p, 0.5f, 0.3f);
            if (m.echo) echoes(p, 3, 6, 0.3f);
            name(p, std::string("Plate+") + (partner == 1 ? "Room" : partner == 2 ? "Hall" : "Chamber") + m.suffix);
            bank.push_back(p);
        }
    // Twelve more: the two Fusion responses, their tails wandering between eight versions.
    struct FusionMotion {
        char const* suffix;
        float rate;                     // ir1_stacked_rate: 0.25 = 0.5 Hz, 0.5 = 1 Hz, 0.75 = 3 Hz
        float head_tail_mix;            // 0 early only .. 1 late only
        float head_pitch, tail_pitch;   // section depth (0 = off)
        bool chorus;
    };
    FusionMotion const fusion_motions[] = {
        {" Still", 0.15f, 0.5f, 0.0f, 0.0f, false},  {" Drift", 0.5f, 0.5f, 0.0f, 0.25f, false},
        {" Lively", 0.75f, 0.5f, 0.0f, 0.45f, false}, {" Warble", 0.6f, 0.5f, 0.5f, 0.6f, false},
        {" Early", 0.4f, 0.15f, 0.3f, 0.0f, false},  {" Late Haze", 0.3f, 0.85f, 0.0f, 0.35f, true},
    };
    char const* const fusion_files[][2] = {{"Factory/FusionHall-01-48000Hz.fir", "Fusion Hall"},
                                           {"Factory/FusionPlate-01-48000Hz.fir", "Fusion Plate"}};
    for (auto const& [file, title] : fusion_files)
        for (FusionMotion const& m : fusion_motions) {
            VST_Plugin_Program p = fresh();
            set_text(p.ir1_file_a, program_path_size, (root / file).string());
            p.ir1_topology = 1.0f; // Fusion IR
            p.ir1_toggle = 1.0f;
            p.ir1_stacked_rate = m.rate;
            p.ir1_stacked_head_tail_mix = m.head_tail_mix;
            p.pitch_mod_ir1_section1_toggle = m.head_pitch > 0.0f ? 1.0f : 0.0f;
            p.pitch_mod_ir1_section1_mod_depth = m.head_pitch;
            p.pitch_mod_ir1_section1_mod_rate = 0.3f;
            p.pitch_mod_ir1_section2_toggle = m.tail_pitch > 0.0f ? 1.0f : 0.0f;
            p.pitch_mod_ir1_section2_mod_depth = m.tail_pitch;
            p.pitch_mod_ir1_section2_mod_rate = 0.4f;
            if (m.chorus) chorus_on(p, 0.4f, 0.25f);
            name(p, std::string(title) + m.suffix);
            bank.push_back(p);
        }
    return bank;
}

// A program of the early-reflection generator: `room` at `size`, named after the room.
VST_Plugin_Program reflections(int room, float size, std::string const& suffix)
{
    VST_Plugin_Program p = fresh();
    p.ir1_source_type = 1;
    p.ir1_toggle = 1.0f;
    p.ir1_er_type = room;
    p.ir1_er_size = size;
    name(p, std::string(reflection_room_designs[room].name) + suffix);
    return p;
}

// Set 3: early reflections of every room at three sizes, in front of a reverb, and far away.
std::vector<VST_Plugin_Program> reflections_set(std::filesystem::path const& root)
{
    std::vector<VST_Plugin_Program> bank;
    char const* const sizes[] = {" S", " M", " L"};
    for (int room = 0; room < reflection_room_count; ++room)
        for (int size = 0; size < 3; ++size)
            bank.push_back(reflections(room, 0.2f + 0.3f * static_cast<float>(size), sizes[size]));
    // Each room with a reverb behind it, 35 dB down (a dense tail carries far more energy than
    // sparse reflections of the same peak) and 50 ms later: a plate, a room, a hall or the chamber.
    char const* const behind[] = {"+Plate", "+Room", "+Hall", "+Chamber"};
    for (int room = 0; room < reflection_room_count; ++room) {
        VST_Plugin_Program p = reflections(room, 0.5f, behind[room % 4]);
        use_source(p, 2, sources[room % 4], root);
        p.master_ir1_ir2_mix = 0.5f;
        p.ir2_gain = 0.15f;
        p.ir2_pre_delay = 0.1f;
        bank.push_back(p);
    }
    for (int room = 0; room < 8; ++room) {
        VST_Plugin_Program p = reflections(room, 0.6f, " Far");
        p.ir1_er_distance = 0.9f;
        bank.push_back(p);
    }
    return bank;
}

// Set 4: the tail generator in every tint at three lengths, then densities.
std::vector<VST_Plugin_Program> tails_set()
{
    std::vector<VST_Plugin_Program> bank;
    char const* lengths[] = {"Short", "Mid", "Long"};
    for (int tint = 0; tint <= 12; ++tint)
        for (int length = 0; length < 3; ++length) {
            VST_Plugin_Program p = fresh();
            p.ir1_source_type = 2;
            p.ir1_toggle = 1.0f;
            p.ir1_tail_character = tint;
            p.ir1_tail_length = 0.25f + 0.2f * static_cast<float>(length);
            name(p, std::string(tail_tint_name(tint)) + " " + lengths[length]);
            bank.push_back(p);
        }
    for (int density = 0; density < 7; ++density)
        for (int variant = 0; variant < 2 && bank.size() < 48; ++variant) {
            VST_Plugin_Program p = fresh();
            p.ir1_source_type = 2;
            p.ir1_toggle = 1.0f;
            p.ir1_tail_density = density;
            p.ir1_tail_variant = variant == 0 ? 0.2f : 0.7f;
            p.ir1_tail_length = 0.4f;
            name(p, std::string(tail_density_name(density)) + (variant == 0 ? " A" : " B"));
            bank.push_back(p);
        }
    return bank;
}

} // namespace

std::vector<VST_Plugin_Program> factory_bank(int index, std::filesystem::path const& root)
{
    std::vector<VST_Plugin_Program> bank;
    switch (index) {
    case 0: bank = selection_set(root); break;
    case 1: bank = modulated_set(root); break;
    case 2: bank = reflections_set(root); break;
    case 3: bank = tails_set(); break;
    default: throw std::runtime_error("no factory bank " + std::to_string(index));
    }
    if (bank.size() != static_cast<std::size_t>(programs_per_bank))
        throw std::runtime_error("factory bank " + std::to_string(index) + " has " + std::to_string(bank.size()) +
                                 " programs");
    return bank;
}

std::vector<std::filesystem::path> write_factory_banks(std::filesystem::path const& root)
{
    std::vector<std::filesystem::path> written;
    for (int index = 0; index < static_cast<int>(factory_banks.size()); ++index) {
        std::vector<VST_Plugin_Program> bank = factory_bank(index, root);
        std::filesystem::path const path = root / "Banks" / factory_banks[static_cast<std::size_t>(index)].file_name;
        std::string error;
        if (!save_bank_file(path.string(), bank.data(), error)) throw std::runtime_error(path.string() + ": " + error);
        written.push_back(path);
    }
    return written;
}

} // namespace corvella::factory
