// The automation storm for an hour (or SECONDS): one instance processing random blocks at a 48 kHz
// device's pace while other threads automate every parameter, change programs, swap IR files, load
// chunks and banks, and the instance is replaced with the other latency setting every 5 minutes.
//
//   automation_storm [SECONDS]
//
// Prints what was done and what the audio thread did that it must not (allocations, waits:
// both must be 0), the output's peak, and whether the instance still plays as a fresh one.

#include "support/automation_storm.h"
#include "support/temp_dir.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    using namespace corvella::test;
    TempDir folder{"corvella-storm-bench-"};
    StormOptions options;
    options.seconds = argc > 1 ? std::atof(argv[1]) : 3600.0;
    options.instance_seconds = options.seconds >= 600 ? 300.0 : options.seconds / 4;
    options.folder = folder.path();
    StormReport const r = run_automation_storm(options);
    std::printf("audio: %.0f s in %ld blocks, %ld instances\n", r.audio_seconds, r.blocks, r.instances);
    std::printf("operations: %ld parameter sets, %ld program changes, %ld IR loads, %ld chunk restores, %ld bank "
                "loads\n",
                r.parameter_sets, r.program_changes, r.ir_loads, r.chunk_restores, r.bank_loads);
    std::printf("audio thread: %ld allocations, %ld waits (-1: not counted)\n", r.audio_allocations, r.audio_waits);
    std::printf("output: %ld non-finite samples, peak %.3f; afterwards %s, difference to a fresh instance %.2e\n",
                r.non_finite_samples, static_cast<double>(r.peak), r.still_processing ? "playing" : "NOT PLAYING",
                r.final_difference);
    bool const ok = r.failure.empty() && r.peak <= storm_output_bound && r.audio_allocations == 0 &&
                    r.audio_waits <= 0 && r.non_finite_samples == 0 && r.still_processing && r.final_difference < 1e-4;
    if (!r.failure.empty()) std::printf("failure: %s\n", r.failure.c_str());
    return ok ? 0 : 1;
}
