// Click-free IR changes: two generations of convolvers per IR slot. A build loads the spare
// generation while the live one plays on; the audio thread switches at the start of a chunk, and
// the old generation rings out what it was given on silent input, so input before the switch
// decays through the old IR and input after it goes through the new one.
//
// The spare's state is the only thing both threads write, always by compare-and-exchange:
//   IR worker:    idle|ready -> loading -> ready;  ringing -> fading;  stalled ringing|fading -> loading;
//                 idle -> reshaping -> idle (match_idle_generation_kinds)
//   audio thread: ready -> switching -> ringing|idle;  ringing|fading -> idle when silent
// The audio thread alone changes which generation is live, inside `switching`, and the worker
// reads it only once it holds the spare (loading), so they never disagree about which is which.

#include "engine/vst_plugin.h"

#include "convolution/direct_fir.h"
#include "convolution/direct_fir_true_stereo.h"
#include "convolution/fft_conv_worker_thread.h"
#include "convolution/fft_conv_worker_thread_true_stereo.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

constexpr auto poll_interval = std::chrono::milliseconds(2);
// The audio thread is taken to have stopped when it has not begun a chunk for this long: longer
// than any host block, so a ringing generation is only cut short when nobody is listening.
constexpr auto audio_stall = std::chrono::milliseconds(250);
constexpr int topology_parallel_stereo = 0;

} // namespace

void VST_Plugin::live_routing(int ir, int& topology, bool& sts) const
{
    // The live generation follows the program at once (a topology change rebuilds it soon after);
    // a ringing one keeps the routing its IR was built for.
    VST_Plugin_Program const& p = *program;
    topology = VST_Plugin_Program::get_topology_from_unity(ir == 1 ? p.ir1_topology : p.ir2_topology, false, false);
    sts = topology == topology_parallel_stereo && (ir == 1 ? p.ir1_sts_toggle : p.ir2_sts_toggle) * 2.0f >= 1.0f;
}

// ---------------------------------------------------------------------------------------------
// IR worker

void VST_Plugin::request_whole_irs_switched_on()
{
    VST_Plugin_Program const p = current_program_copy();
    if (p.ir1_toggle > 0.0f && loaded_switched_off[0].exchange(false)) signal_recompute_ir1_full();
    if (p.ir2_toggle > 0.0f && loaded_switched_off[1].exchange(false)) signal_recompute_ir2_full();
}

void VST_Plugin::acquire_spare(int slot)
{
    slot_generations& s = generations[slot - 1];
    if (!smooth_changes) {
        build_generation[slot - 1] = 0;
        return;
    }
    auto last_chunks = audio_chunks.load(std::memory_order_relaxed);
    auto last_progress = std::chrono::steady_clock::now();
    for (;;) {
        int state = s.spare.load(std::memory_order_acquire);
        if (state == spare_loading) break; // already ours (a build that loads twice)
        if ((state == spare_idle || state == spare_ready) &&
            s.spare.compare_exchange_strong(state, spare_loading, std::memory_order_acq_rel))
            break;
        if (state == spare_ringing) s.spare.compare_exchange_strong(state, spare_fading, std::memory_order_acq_rel);

        auto const chunks = audio_chunks.load(std::memory_order_relaxed);
        auto const now = std::chrono::steady_clock::now();
        if (chunks != last_chunks) {
            last_chunks = chunks;
            last_progress = now;
        } else if (now - last_progress > audio_stall || build_cancelled()) {
            // Nobody is listening to the tail: take the generation as it is.
            state = s.spare.load(std::memory_order_acquire);
            if ((state == spare_ringing || state == spare_fading) &&
                s.spare.compare_exchange_strong(state, spare_loading, std::memory_order_acq_rel))
                break;
        }
        std::this_thread::sleep_for(poll_interval);
    }
    int const g = 1 - s.live.load(std::memory_order_acquire);
    build_generation[slot - 1] = g;
    // The new IR starts from silence, whatever this generation heard before.
    forget_generation_histories(g);
}

void VST_Plugin::forget_generation_histories(int g)
{
    for (int index = 0; index < convolver_count; ++index) {
        if (fft_conv_worker_thread* convolver = fft_generation(g)[index]) convolver->silence_x_y_buffers();
        if (direct_fir* head = head_generation(g)[index]) head->clear_delay_line();
    }
    for (int index = 0; index < four_path_count; ++index) {
        if (fft_conv_worker_thread_true_stereo* convolver = four_path_generation(g)[index])
            convolver->silence_x_y_buffers();
        if (direct_fir_true_stereo* head = four_path_head_generation(g)[index]) head->clear_delay_line();
    }
}

void VST_Plugin::publish_spare(int slot, generation_routing const& routing)
{
    slot_generations& s = generations[slot - 1];
    int const g = build_generation[slot - 1];
    s.routing[g] = routing;
    if (smooth_changes) s.spare.store(spare_ready, std::memory_order_release);
}

void VST_Plugin::abandon_spare(int slot)
{
    if (!smooth_changes) return;
    int expected = spare_loading;
    generations[slot - 1].spare.compare_exchange_strong(expected, spare_idle, std::memory_order_acq_rel);
}

// ---------------------------------------------------------------------------------------------
// Audio thread

void VST_Plugin::switch_generations()
{
    for (slot_generations& s : generations) {
        // A plain read first: nearly every chunk finds nothing to switch.
        int state = s.spare.load(std::memory_order_relaxed);
        if (state != spare_ready ||
            !s.spare.compare_exchange_strong(state, spare_switching, std::memory_order_acq_rel))
            continue;
        int const old = s.live.load(std::memory_order_relaxed);
        // The old generation rings for as long as what it was last given needs.
        int const ring = s.fed_last_step ? s.routing[old].tail_frames : std::max(s.live_ring_frames_left, 0);
        s.live.store(1 - old, std::memory_order_release);
        s.live_ring_frames_left = 0;
        s.ring_frames_left = ring;
        s.fade_frames_left = -1;
        s.spare.store(ring > 0 ? spare_ringing : spare_idle, std::memory_order_release);
    }
}

void VST_Plugin::run_ringing_generation(int ir, int frames, bool split)
{
    slot_generations& s = generations[ir - 1];
    int state = s.spare.load(std::memory_order_acquire);
    if (state != spare_ringing && state != spare_fading) return;
    int const g = 1 - s.live.load(std::memory_order_relaxed);
    generation_routing const& r = s.routing[g];
    convolver_run run{r.topology, r.sts, silent_input, silent_input};
    bool done = false;
    if (state == spare_fading) {
        int const fade_length = std::max(1, sample_rate * fade_milliseconds / 1000);
        if (s.fade_frames_left < 0) s.fade_frames_left = fade_length;
        int const n = std::min(frames, s.fade_frames_left);
        run.fade_from = static_cast<float>(s.fade_frames_left) / static_cast<float>(fade_length);
        run.fade_to = static_cast<float>(s.fade_frames_left - frames) / static_cast<float>(fade_length);
        // The ramp ends at 0 within the step: what is left of it runs silent and is dropped.
        if (run.fade_to < 0.0f) run.fade_to = 0.0f;
        s.fade_frames_left -= n;
        done = s.fade_frames_left <= 0;
    }
    run_generation(ir, g, frames, split, run);
    s.ring_frames_left -= frames;
    if (s.ring_frames_left <= 0) done = true;
    if (done) s.spare.compare_exchange_strong(state, spare_idle, std::memory_order_acq_rel);
}

bool VST_Plugin::generations_ringing() const
{
    if (!smooth_changes) return false;
    for (slot_generations const& s : generations) {
        int const state = s.spare.load(std::memory_order_relaxed);
        if (state == spare_ringing || state == spare_fading || s.live_ring_frames_left > 0) return true;
    }
    return false;
}
