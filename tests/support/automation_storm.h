#pragma once

// The automation storm: one instance processing blocks of 1 to 4096 frames at the pace of a
// 48 kHz audio device while other threads do at once what hosts and users do: automate every
// parameter (the program selector included), change programs, load and swap IR files (good,
// corrupt and missing), restore chunks (good, of the wrong size, random) and load banks (good and
// damaged), with the host's timer running; every few seconds the instance is replaced by one
// with the other latency setting. The audio thread watches its own output and counts what it
// should never do inside the audio callback.
//
// Used by the engine tests (a short run) and by bench/automation_storm (an hour).

#include <filesystem>
#include <string>
#include <vector>

namespace corvella::test {

struct StormOptions {
    double seconds = 60.0;
    double instance_seconds = 15.0; // how long an instance lives before the latency toggles
    unsigned seed = 1;
    std::filesystem::path folder; // scratch folder for IR and bank files (must exist)
};

struct StormReport {
    long blocks = 0;
    double audio_seconds = 0.0;
    long parameter_sets = 0, program_changes = 0, ir_loads = 0, chunk_restores = 0, bank_loads = 0;
    long instances = 0;
    long audio_allocations = 0;  // heap allocations inside the audio callback
    long audio_waits = -1;       // contended locks, condition waits and sleeps inside it (-1: not counted)
    long non_finite_samples = 0; // NaN or infinity in the output
    float peak = 0.0f;           // largest output magnitude seen
    // After the storm, the instance plays the last IR file it was given as a fresh instance with
    // the same bank and files does (largest difference relative to that render's peak).
    double final_difference = 1.0;
    bool still_processing = false;
    bool final_render_silent = false; // the storm's instance gave nothing where the fresh one rang
    // The different texts shown through the message sink during the storm (each once, their first
    // line, at most 24): what a failed final comparison is read against.
    std::vector<std::string> messages;
    std::string failure; // what went wrong in setting up, or ""
};

// Random settings may stack gains (IR +50 dB, master +30 dB, five EQ bands of +20 dB), so a loud
// output is no fault in itself; a runaway one is. Above this (+120 dB on a click of -6 dB) a
// feedback path or filter has come loose.
inline constexpr float storm_output_bound = 1.0e6f;

StormReport run_automation_storm(StormOptions const& options);

} // namespace corvella::test
