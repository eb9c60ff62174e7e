#include "convolution/convolver_ts_stack_modulated.h"

#include "convolution/ipps.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>

namespace {

constexpr char const allocation_message[] =
    "Memory allocation failed in convolver_ts_stack_modulated::initialise_input_output_buffers. "
    "Processing will be disabled and plugin locked.";
constexpr float second_of_pair = 0.95f;
constexpr double half_pi = 1.5707963267948966;

void free_all(std::vector<float*>& buffers)
{
    for (float* buffer : buffers)
        ippsFree(buffer);
    buffers.clear();
}

void allocate_cleared(std::vector<float*>& buffers, int count)
{
    for (int i = 0; i < count; ++i) {
        float* buffer = ippsMalloc_32f(convolver_ts_stack_modulated::max_frames);
        if (buffer == nullptr) throw std::runtime_error(allocation_message);
        ippsSet_32f(0.0f, buffer, convolver_ts_stack_modulated::max_frames);
        buffers.push_back(buffer);
    }
}

} // namespace

convolver_ts_stack_modulated::convolver_ts_stack_modulated(int channels, int buffer_length)
    : channel_count(channels), section_count(channels / channels_per_section)
{
    if (channels % channels_per_section != 0 || section_count < 2 || section_count > max_sections)
        throw std::runtime_error("Invalid channel count for convolver_ts_stack_modulated");
    try {
        allocate_cleared(scratch, 2 * channels_per_section);
        allocate_cleared(section_in, channel_count);
        allocate_cleared(section_out, channel_count);
        conv = std::make_unique<convolver_ts_stack>(channel_count, buffer_length);
        for (auto& mod : mods) {
            mod = std::make_unique<pitch_mod>(sampling_rate);
            for (int c = 0; c < pitch_mod::channels; ++c) {
                mod->set_width(0.0f, c);
                mod->set_feedback(0.0f, c);
                mod->set_feedback_opposite(0.0f, c);
                mod->set_wet(1.0f, c);
                mod->set_dry(0.0f, c);
                mod->set_toggle(true, c);
                mod->set_delay_ms(1.0f, c);
                mod->set_delay_mod_ms(1.0f, c);
                mod->set_delay_mod_rate_hz(0.7f, c);
            }
            mod->silence_delay_lines();
        }
    } catch (...) {
        free_all(scratch);
        free_all(section_in);
        free_all(section_out);
        throw;
    }
    // With two sections every draw is section 1, and there is no section 2 to start with.
    current = std::min(2, section_count - 1);
    previous = 1;
    silence.assign(static_cast<size_t>(channel_count), 0);
    empty = std::make_unique<std::atomic<bool>[]>(static_cast<size_t>(channel_count));
    receiving.assign(static_cast<size_t>(section_count), false);
    written_frames.assign(static_cast<size_t>(section_count), 0);
    std::lock_guard<std::mutex> guard(lock);
    conv->clear_buffers();
}

convolver_ts_stack_modulated::~convolver_ts_stack_modulated()
{
    for (auto& mod : mods)
        mod.reset();
    conv.reset(); // stops the worker before the buffers it may still read go
    free_all(scratch);
    free_all(section_in);
    free_all(section_out);
}

void convolver_ts_stack_modulated::set_sample_frames(float** ir, int length)
{
    if (ir == nullptr || length <= 0) return;
    std::lock_guard<std::mutex> guard(lock);
    ir_length.store(length, std::memory_order_relaxed);
    conv->set_sample_frames(ir, length);
    for (int k = 0; k < channel_count; ++k)
        empty[k].store(std::all_of(ir[k], ir[k] + length, [](float x) { return x == 0.0f; }), std::memory_order_relaxed);
    ir_loaded.store(true, std::memory_order_release);
}

void convolver_ts_stack_modulated::minimise_ir_data_memory()
{
    std::lock_guard<std::mutex> guard(lock);
    if (ir_loaded.exchange(false)) conv->minimise_ir_data_memory();
}

void convolver_ts_stack_modulated::set_pitch_modulation_parameter(int index, float unity)
{
    if (index < 0 || index > 5) return;
    int const first = (index == 0 || index == 1 || index == 4) ? 0 : 2;
    pitch_mod* pair[2] = {mods[first].get(), mods[first + 1].get()};
    if (pair[0] == nullptr || pair[1] == nullptr) return;
    for (int m = 0; m < 2; ++m) {
        float const u = m == 0 ? unity : second_of_pair * unity;
        for (int c = 0; c < pitch_mod::channels; ++c) {
            switch (index) {
            case 0:
            case 2: pair[m]->set_delay_mod_rate_hz_unity(u, c); break;
            case 1:
            case 3: pair[m]->set_delay_mod_ms_unity(u, c); break;
            default: pair[m]->set_toggle_unity(unity, c); break;
            }
        }
    }
}

void convolver_ts_stack_modulated::set_mod_rate(float hz)
{
    if (!(hz == hz) || hz == rate_hz) return;
    rate_hz = hz;
    // A rate of 0 (or less) stops the crossfade: a period no block will reach.
    std::int64_t const new_period =
        hz > 0.0f ? std::max<std::int64_t>(1, static_cast<std::int64_t>(std::floor(sampling_rate / static_cast<double>(hz))))
                  : std::numeric_limits<std::int32_t>::max();
    if (new_period == period) return;
    position = std::min(new_period, static_cast<std::int64_t>(static_cast<double>(new_period) *
                                                              static_cast<double>(position) / static_cast<double>(period)));
    period = new_period;
}

void convolver_ts_stack_modulated::clear_buffers()
{
    conv->clear_buffers();
}

void convolver_ts_stack_modulated::silence_modulators()
{
    for (auto& mod : mods)
        mod->silence_delay_lines();
}

void convolver_ts_stack_modulated::process_frames(float** in, float** out, int frames)
{
    if (in == nullptr || out == nullptr || frames <= 0) return;
    for (int done = 0; done < frames;) {
        int const n = std::min(frames - done, max_frames);
        process_piece(in, out, done, n);
        done += n;
    }
}

void convolver_ts_stack_modulated::start_crossfade(int frame)
{
    int const drawn = static_cast<int>(static_cast<unsigned>(rand_r(&draw_seed)) % static_cast<unsigned>(section_count - 1)) + 1;
    int const stopped = previous;
    previous = current;
    current = drawn;
    // The section that stops receiving input rings out from this frame on: the block's count,
    // added at its end, then gives the frames since. The one fading in must not be bypassed for the
    // block it starts in.
    for (int k = 0; k < channels_per_section; ++k) {
        silence[static_cast<size_t>(stopped * channels_per_section + k)] = -frame;
        silence[static_cast<size_t>(current * channels_per_section + k)] = 0;
    }
}

void convolver_ts_stack_modulated::process_piece(float** in, float** out, int offset, int n)
{
    float* const in_l = in[0] + offset;
    float* const in_r = in[1] + offset;

    // 1. Nothing reaches a section unless written below. Only the sections written in the last
    //    block hold anything, and the stacked convolver overwrites every output.
    bool cleared[max_sections] = {};
    auto clear_section = [&](int section) {
        int& dirty = written_frames[static_cast<size_t>(section)];
        for (int k = 0; k < channels_per_section; ++k)
            ippsSet_32f(0.0f, section_in[static_cast<size_t>(section * channels_per_section + k)], std::max(n, dirty));
        dirty = 0;
        cleared[section] = true;
    };
    for (int section = 0; section < section_count; ++section)
        if (written_frames[static_cast<size_t>(section)] > 0 || section == 0 || section == current || section == previous)
            clear_section(section);
    std::fill(receiving.begin(), receiving.end(), false);
    receiving[0] = receiving[static_cast<size_t>(current)] = receiving[static_cast<size_t>(previous)] = true;

    // 2.-3. Modulated copies: each pair gives a left and a right signal, the right one at 0.95 of
    // the left one's settings.
    float** const head = scratch.data();
    float** const tail = scratch.data() + channels_per_section;
    for (float** part : {head, tail}) {
        ippsCopy_32f(in_l, part[0], n);
        ippsCopy_32f(in_l, part[1], n);
        ippsCopy_32f(in_r, part[2], n);
        ippsCopy_32f(in_r, part[3], n);
    }
    for (int pair = 0; pair < 2; ++pair) {
        pitch_mod* const left = mods[2 * pair].get();
        pitch_mod* const right = mods[2 * pair + 1].get();
        if (left == nullptr || right == nullptr) continue;
        float** const part = pair == 0 ? head : tail;
        left->process_replacing(part, n);
        right->process_replacing(part + 2, n);
    }

    // 4. The tail moves between sections: equal-sum crossfade from the previous to the current one.
    float* prev_in[channels_per_section];
    float* cur_in[channels_per_section];
    auto point_at_sections = [&] {
        for (int k = 0; k < channels_per_section; ++k) {
            prev_in[k] = section_in[static_cast<size_t>(previous * channels_per_section + k)];
            cur_in[k] = section_in[static_cast<size_t>(current * channels_per_section + k)];
        }
    };
    point_at_sections();
    // cos(pi/2 x position / period), stepped by a rotation: exact at each wrap, and drifting by
    // far less than a float's precision over one call.
    double const phase_scale = half_pi / static_cast<double>(period);
    double const step_cos = std::cos(phase_scale), step_sin = std::sin(phase_scale);
    double c = std::cos(phase_scale * static_cast<double>(position));
    double sn = std::sin(phase_scale * static_cast<double>(position));
    for (int i = 0; i < n; ++i) {
        position = (position + 1) % period;
        if (position == 0) {
            start_crossfade(i);
            if (!cleared[current]) clear_section(current);
            receiving[static_cast<size_t>(current)] = true;
            point_at_sections();
            c = 1.0;
            sn = 0.0;
        } else {
            double const next_c = c * step_cos - sn * step_sin;
            sn = sn * step_cos + c * step_sin;
            c = next_c;
        }
        auto const a = static_cast<float>(c * c);
        float const b = 1.0f - a;
        for (int k = 0; k < channels_per_section; ++k) {
            prev_in[k][i] += a * tail[k][i];
            cur_in[k][i] += b * tail[k][i];
        }
    }

    for (int section = 0; section < section_count; ++section)
        if (receiving[static_cast<size_t>(section)]) written_frames[static_cast<size_t>(section)] = n;

    // 5. The head section is fed all the time.
    for (int k = 0; k < channels_per_section; ++k)
        ippsCopy_32f(head[k], section_in[static_cast<size_t>(k)], n);

    // 6. Switches from the silence counters and this block's inputs.
    std::int64_t const conv_limit = ir_length.load(std::memory_order_relaxed) + n;
    bool const head_on = head_enabled.load(std::memory_order_relaxed);
    bool live[max_sections] = {};
    for (int k = 0; k < channel_count; ++k) {
        std::int64_t const quiet = silence[static_cast<size_t>(k)];
        bool fir_bypass = quiet > convolver_ts_stack::head_taps;
        bool conv_bypass = quiet > conv_limit;
        bool present = receiving[static_cast<size_t>(k / channels_per_section)];
        if (!head_on && k < channels_per_section) {
            fir_bypass = true;
            present = false;
        }
        if (empty[k].load(std::memory_order_relaxed)) fir_bypass = conv_bypass = true;
        conv->set_bypasses(fir_bypass, conv_bypass, k);
        conv->set_input_hints(present, k);
        live[k / channels_per_section] = live[k / channels_per_section] || !conv_bypass;
    }
    live_section_count = static_cast<int>(std::count(live, live + section_count, true));

    // 7. All sections at once.
    conv->process_frames(section_in.data(), section_out.data(), n);

    // 8. The counters move on, except for the sections that took input.
    for (auto& quiet : silence)
        quiet += n;
    for (int s : {0, previous, current})
        for (int k = 0; k < channels_per_section; ++k)
            silence[static_cast<size_t>(s * channels_per_section + k)] = 0;

    // 9. The four sums as true stereo: left input through 0 and 1, right input through 2 and 3.
    ippsAdd_32f(section_out[0], section_out[2], out[0] + offset, n);
    ippsAdd_32f(section_out[1], section_out[3], out[1] + offset, n);
}
