// The four-path FFT convolvers of true-stereo slots: which kind of convolver a slot generation
// holds, how the IR worker changes it, how a section is loaded into them and how the audio thread
// runs them with the per-side zero-latency heads.

#include "engine/vst_plugin.h"

#include "convolution/direct_fir.h"
#include "convolution/direct_fir_true_stereo.h"
#include "convolution/fft_conv_worker_thread.h"
#include "convolution/fft_conv_worker_thread_true_stereo.h"
#include "engine/engine_helpers.h"
#include "platform/threading.h"

#include <algorithm>
#include <exception>
#include <string>

namespace {

constexpr int topology_parallel_stereo = 0;
constexpr int topology_true_stereo = 1;

} // namespace

bool VST_Plugin::routing_four_path(int topology, bool sts)
{
    return topology == topology_true_stereo || (topology == topology_parallel_stereo && sts);
}

bool VST_Plugin::generation_four_path(int ir, int g) const
{
    return four_path_kind[ir - 1][g].load(std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------------------------
// IR worker

void VST_Plugin::set_generation_kind(int slot, int g, bool four_path)
{
    if (generation_four_path(slot, g) == four_path) return;
    if (g >= generations_made) return;
    fft_conv_worker_thread** plain = g == 0 ? fft_convolvers : spare_fft_convolvers;
    void** plain_handles = g == 0 ? fft_thread_handles : spare_fft_thread_handles;
    fft_conv_worker_thread_true_stereo** paths = g == 0 ? four_path_convolvers : spare_four_path_convolvers;
    void** path_handles = g == 0 ? four_path_thread_handles : spare_four_path_thread_handles;

    // The new convolvers first, so that a failure leaves the generation whole.
    fft_conv_worker_thread* made_plain[2][2] = {};  // [section - 1][side]
    void* made_plain_handles[2][2] = {};
    fft_conv_worker_thread_true_stereo* made_paths[2] = {}; // [section - 1]
    void* made_path_handles[2] = {};
    try {
        for (int section = 1; section <= 2; ++section) {
            if (four_path) {
                made_paths[section - 1] = static_cast<fft_conv_worker_thread_true_stereo*>(
                    create_fft_convolver(slot, 0, g, true, &made_path_handles[section - 1]));
            } else {
                for (int side = 0; side < 2; ++side)
                    made_plain[section - 1][side] =
                        create_fft_convolver(slot, side, g, false, &made_plain_handles[section - 1][side]);
            }
        }
    } catch (...) {
        for (int section = 0; section < 2; ++section) {
            destroy_fft_convolver(made_paths[section]);
            for (fft_conv_worker_thread* convolver : made_plain[section])
                destroy_fft_convolver(convolver);
        }
        throw;
    }

    // The exchange: the audio thread reads these slots only inside its chunk.
    fft_conv_worker_thread* old[6] = {};
    int count = 0;
    {
        corvella::CriticalSectionLock lock(&process_lock);
        for (int section = 1; section <= 2; ++section) {
            int const p = four_path_index(slot, section);
            old[count++] = paths[p];
            paths[p] = made_paths[section - 1];
            path_handles[p] = made_path_handles[section - 1];
            for (int side = 0; side < 2; ++side) {
                int const index = convolver_index(slot, side, section);
                old[count++] = plain[index];
                plain[index] = made_plain[section - 1][side];
                plain_handles[index] = made_plain_handles[section - 1][side];
            }
        }
        four_path_kind[slot - 1][g].store(four_path, std::memory_order_relaxed);
    }
    for (fft_conv_worker_thread* convolver : old)
        destroy_fft_convolver(convolver);
}

void VST_Plugin::match_idle_generation_kinds()
{
    // Only an economy: after a failure to make convolvers (reported once) the kinds stay mixed.
    if (generations_made < 2 || reshaping_failed) return;
    for (int slot = 1; slot <= 2; ++slot) {
        slot_generations& s = generations[slot - 1];
        // Held as reshaping, so that neither a build nor the audio thread takes it meanwhile; while
        // the spare is not ready, the live generation stays the live one.
        int state = spare_idle;
        if (s.spare.load(std::memory_order_relaxed) != spare_idle ||
            !s.spare.compare_exchange_strong(state, spare_reshaping, std::memory_order_acq_rel))
            continue;
        int const live = s.live.load(std::memory_order_acquire);
        bool const wanted = generation_four_path(slot, live);
        if (generation_four_path(slot, 1 - live) != wanted) {
            try {
                set_generation_kind(slot, 1 - live, wanted);
            } catch (std::exception const& error) {
                reshaping_failed = true;
                report((std::string(error.what()) + ": \nSeen during ThreadEntryPoint (main thread loop)").c_str());
            }
        }
        s.spare.store(spare_idle, std::memory_order_release);
    }
}

// The channels come in path order: A left, A right, then B as the routing needs it. Crossed (the
// STS side), each B response goes to the output opposite its input, which a four-path convolver
// does by taking the B channels swapped and the inputs (L, R, R, L); the heads are loaded alike.
void VST_Plugin::load_four_path_section(int slot, int section, int g, float* const* ir, int frames, bool crossed)
{
    float* paths[4] = {ir[0], ir[1], crossed ? ir[3] : ir[2], crossed ? ir[2] : ir[3]};
    int const head_length = zero_latency ? load_true_stereo_head(slot, section, g, paths, frames) : 0;
    fft_conv_worker_thread_true_stereo* const convolver = four_path_generation(g)[four_path_index(slot, section)];
    if (convolver == nullptr) return;
    if (frames - head_length > 0) {
        float* tail[4];
        for (int c = 0; c < 4; ++c)
            tail[c] = paths[c] + head_length;
        convolver->load_ir_data(tail, frames - head_length);
    } else {
        convolver->minimise_ir_data_memory(); // a silent response
    }
}

int VST_Plugin::load_true_stereo_head(int slot, int section, int g, float* const* paths, int frames)
{
    if (direct_fir_true_stereo* const head = four_path_head_generation(g)[four_path_index(slot, section)]) {
        int const head_length = std::min(frames, head->get_length());
        float* taps[4] = {paths[0], paths[1], paths[2], paths[3]};
        head->load_ir_data(taps, head_length);
        return head_length;
    }
    // Without a four-path head, one per side: side A takes paths 0 and 1, side B paths 2 and 3.
    int head_length = 0;
    for (int side = 0; side < 2; ++side) {
        direct_fir* const head = head_generation(g)[convolver_index(slot, side, section)];
        if (head == nullptr) continue;
        head_length = std::min(frames, head->get_length());
        float* pair[channel_count] = {paths[2 * side], paths[2 * side + 1]};
        head->load_ir_data(pair, head_length);
    }
    return head_length;
}

// ---------------------------------------------------------------------------------------------
// Audio thread

void VST_Plugin::run_true_stereo_head(int ir, int section, int g, float* const* paths, float** output, int frames,
                                      convolver_run const& run)
{
    if (direct_fir_true_stereo* const head = four_path_head_generation(g)[four_path_index(ir, section)]) {
        float* inputs[4] = {paths[0], paths[1], paths[2], paths[3]};
        head->process_not_replacing(inputs, convolver_scratch, frames);
        add_run_output(convolver_scratch, output, frames, run.fade_from, run.fade_to, false);
        return;
    }
    // Without a four-path head, one per side: side A on paths 0 and 1, side B on paths 2 and 3.
    for (int side = 0; side < 2; ++side) {
        direct_fir* const head = head_generation(g)[convolver_index(ir, side, section)];
        if (head == nullptr) continue;
        float* pair[channel_count] = {paths[2 * side], paths[2 * side + 1]};
        head->process_not_replacing(pair, convolver_scratch, frames);
        add_run_output(convolver_scratch, output, frames, run.fade_from, run.fade_to, false);
    }
}

void VST_Plugin::run_four_paths(int ir, int g, int frames, bool split, convolver_run const& run, bool heads)
{
    float** const a = run.input_a;
    float** const b = run.input_b;
    float* paths[4] = {a[0], a[1], silent_input[0], silent_input[1]};
    if (run.topology == topology_true_stereo) {
        paths[2] = b[0];
        paths[3] = b[1];
    } else if (run.topology == topology_parallel_stereo && run.sts) {
        paths[2] = b[1];
        paths[3] = b[0];
    }
    // Any other routing (the program's topology changed and the rebuild for it has not taken over
    // yet) plays side A alone, as the plain convolvers would.

    float** const section_out[2] = {ir == 1 ? ir1_section1_out : ir2_section1_out,
                                    ir == 1 ? ir1_section2_out : ir2_section2_out};
    for (int section = 1; section <= (split ? 2 : 1); ++section) {
        float** const output = section_out[section - 1];
        if (heads) {
            run_true_stereo_head(ir, section, g, paths, output, frames, run);
            continue;
        }
        fft_conv_worker_thread_true_stereo* const convolver = four_path_generation(g)[four_path_index(ir, section)];
        if (convolver == nullptr) continue;
        convolver->process_not_replacing(paths, convolver_scratch, frames);
        add_run_output(convolver_scratch, output, frames, run.fade_from, run.fade_to, false);
    }
}
