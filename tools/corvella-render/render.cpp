#include "tools/corvella-render/render.h"

#include "engine/vst_plugin.h"
#include "host/demogain_parameters.h"
#include "host/in_process_host.h"
#include "ir/fir_file.h"
#include "platform/atomic_file.h"
#include "platform/message_box.h"
#include "platform/reproducibility.h"
#include "platform/settings_store.h"
#include "platform/temporary_folder.h"
#include "program/parameter_application.h"
#include "program/parameter_table.h"
#include "program/program_slot_table.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvella::render {

namespace fs = std::filesystem;

namespace {

void fail(std::string const& message)
{
    std::fprintf(stderr, "corvella-render: %s\n", message.c_str());
}

// A settings folder that belongs to this run only, removed at the end.
class PrivateSettings {
public:
    PrivateSettings() : folder_("corvella-render-") { setenv("XDG_CONFIG_HOME", folder_.path().c_str(), 1); }

private:
    TemporaryFolder folder_;
};

// libsndfile's virtual I/O over the temporary file of an AtomicFile: writes go through the
// AtomicFile, seeks and reads straight to its descriptor.
AtomicFile& atomic_of(void* user_data)
{
    return *static_cast<AtomicFile*>(user_data);
}

SF_VIRTUAL_IO* atomic_file_io()
{
    static SF_VIRTUAL_IO io{
        [](void* file) -> sf_count_t {
            struct stat status {};
            return ::fstat(atomic_of(file).descriptor(), &status) == 0 ? static_cast<sf_count_t>(status.st_size) : -1;
        },
        [](sf_count_t offset, int whence, void* file) -> sf_count_t {
            return static_cast<sf_count_t>(::lseek(atomic_of(file).descriptor(), static_cast<off_t>(offset), whence));
        },
        [](void* destination, sf_count_t count, void* file) -> sf_count_t {
            ssize_t const got = ::read(atomic_of(file).descriptor(), destination, static_cast<std::size_t>(count));
            return got < 0 ? 0 : static_cast<sf_count_t>(got);
        },
        [](void const* source, sf_count_t count, void* file) -> sf_count_t {
            std::string ignored;
            return atomic_of(file).write(source, static_cast<std::size_t>(count), ignored) ? count : 0;
        },
        [](void* file) -> sf_count_t {
            return static_cast<sf_count_t>(::lseek(atomic_of(file).descriptor(), 0, SEEK_CUR));
        },
    };
    return &io;
}

class SoundFile {
public:
    SoundFile() = default;
    ~SoundFile() { close(); }
    SoundFile(SoundFile const&) = delete;
    SoundFile& operator=(SoundFile const&) = delete;
    bool open(std::string const& path, int mode, SF_INFO& info)
    {
        file_ = sf_open(path.c_str(), mode, &info);
        return file_ != nullptr;
    }
    // Writes through `target`, so that every byte goes through its write step.
    bool open(AtomicFile& target, SF_INFO& info)
    {
        file_ = sf_open_virtual(atomic_file_io(), SFM_WRITE, &info, &target);
        return file_ != nullptr;
    }
    int close()
    {
        int const result = file_ != nullptr ? sf_close(file_) : 0;
        file_ = nullptr;
        return result;
    }
    SNDFILE* get() const { return file_; }

private:
    SNDFILE* file_ = nullptr;
};

bool is_readable_file(std::string const& path)
{
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return false;
    std::ifstream stream(path, std::ios::binary);
    return stream.good();
}

// Why an impulse-response file cannot be used, or "" when it can. The container format of
// ".wir" files is read by the engine's own loader, everything else by libsndfile.
std::string impulse_response_problem(std::string const& path)
{
    if (!is_readable_file(path)) return "no such file or not readable";
    std::string extension = fs::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".wir") return {};
    if (extension == ".fir") {
        std::string why;
        return corvella::read_fir_file(path, &why) ? std::string() : why;
    }
    SF_INFO info{};
    SoundFile file;
    if (!file.open(path, SFM_READ, info)) return sf_strerror(nullptr);
    if (info.frames < 1) return "it holds no audio";
    return {};
}

// Progress on stderr when it is a terminal: percentage, elapsed time, real-time factor.
class Progress {
public:
    Progress(bool enabled, long long total_frames, int sample_rate)
        : enabled_(enabled && isatty(STDERR_FILENO) != 0), total_(total_frames), rate_(sample_rate),
          start_(std::chrono::steady_clock::now())
    {
    }
    void update(long long done, bool final = false)
    {
        if (!enabled_) return;
        auto const now = std::chrono::steady_clock::now();
        if (!final && now - last_ < std::chrono::milliseconds(100)) return;
        last_ = now;
        double const elapsed = std::chrono::duration<double>(now - start_).count();
        double const fraction = total_ > 0 ? static_cast<double>(done) / static_cast<double>(total_) : 1.0;
        int const filled = static_cast<int>(fraction * 30.0);
        double const audio_seconds = static_cast<double>(done) / rate_;
        std::fprintf(stderr, "\r[%.*s%.*s] %3d%%  %.1f s  %.1fx real time ", filled,
                     "##############################", 30 - filled, "..............................",
                     static_cast<int>(fraction * 100.0), elapsed,
                     elapsed > 0.0 ? audio_seconds / elapsed : 0.0);
        if (final) std::fputc('\n', stderr);
    }

private:
    bool enabled_;
    long long total_;
    int rate_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_{};
};

// The engine's messages go to stderr, marked as ours; a message that locks the engine fails the
// render afterwards (the engine reports the lock through processing_enabled).
class MessageSink {
public:
    MessageSink()
    {
        previous_ = set_message_handler([this](std::string const& caption, std::string const& text, int) {
            // Priorities matter to a host's real-time threads, not to an offline render.
            if (text.find("does not permit raising the priority") != std::string::npos) return 0;
            std::lock_guard<std::mutex> lock(mutex_);
            std::string line = text;
            std::replace(line.begin(), line.end(), '\n', ' ');
            std::fprintf(stderr, "corvella-render: %s: %s\n", caption.c_str(), line.c_str());
            return 0;
        });
    }
    ~MessageSink() { set_message_handler(previous_); }
    MessageSink(MessageSink const&) = delete;
    MessageSink& operator=(MessageSink const&) = delete;

private:
    std::mutex mutex_;
    MessageHandler previous_;
};

// Waits until the engine has taken every change and built every impulse response it asked for.
// The render waits so before its first block and after the changes of each --at time, so that every
// render goes through the same sequence of builds (the partition phases of the convolvers depend on
// it) and a change reaches the engine before the sample it is given with.
bool wait_for_builds(host::InProcessHost& host)
{
    if (host.wait_until_idle()) return true;
    fail("the impulse responses were not built in time");
    return false;
}

// Slots without a host parameter are written into the current program of the bank, which goes
// back whole (the engine then recomputes everything once).
void store_program_slots(host::InProcessHost& host, std::vector<std::pair<std::string, double>> const& slots)
{
    if (slots.empty()) return;
    std::vector<VST_Plugin_Program> bank(programs_per_bank);
    host.get_custom_data(custom_data::bank, bank.data(), bank_size_bytes);
    VST_Plugin_Program& current = bank[static_cast<std::size_t>(current_program_index(bank.data()))];
    for (auto const& [key, value] : slots)
        store_program_slot(current, *find_program_slot(key), value);
    host.set_custom_data(custom_data::bank, bank.data(), bank_size_bytes);
}

// The changes of one --at time in their command-line order; slots that follow one another go back
// in one bank.
void apply_timed_settings(host::InProcessHost& host, std::vector<TimedSetting const*> const& changes)
{
    std::vector<std::pair<std::string, double>> slots;
    for (TimedSetting const* change : changes) {
        if (change->slot) {
            slots.emplace_back(change->key, change->value);
            continue;
        }
        store_program_slots(host, slots);
        slots.clear();
        host.set_parameter(change->key, static_cast<float>(change->value));
    }
    store_program_slots(host, slots);
}

// An --at change and the input sample it lands on.
struct ScheduledSetting {
    long long sample;
    TimedSetting const* setting;
};

std::string program_file(host::InProcessHost& host, int id)
{
    char path[301] = {};
    host.get_custom_data(id, path, 300);
    return path;
}

} // namespace

void list_parameters()
{
    std::printf("index\tkey\tname\tdefault\n");
    for (ParameterRow const& row : parameter_table())
        std::printf("%d\t%s\t%s\t%g\n", row.index, row.key, row.name, static_cast<double>(row.default_value));
    // The program slots that no host parameter reaches, in their stored units.
    VST_Plugin_Program const fresh;
    for (ProgramSlotRow const& row : program_slot_table())
        std::printf("slot\t%s\t%s %g to %g\t%g\n", row.key, std::string(slot_kind_name(row.kind)).c_str(),
                    static_cast<double>(row.minimum), static_cast<double>(row.maximum),
                    read_program_slot(fresh, row));
}

int render(Options const& options)
{
    // Everything the user named must be readable before anything starts.
    SF_INFO in_info{};
    SoundFile input;
    if (!input.open(options.input, SFM_READ, in_info)) {
        fail("cannot read input '" + options.input + "': " + sf_strerror(nullptr));
        return exit_input;
    }
    if (in_info.channels < 1 || in_info.channels > 2) {
        fail("input '" + options.input + "' has " + std::to_string(in_info.channels) +
             " channels; only mono and stereo are supported");
        return exit_input;
    }
    // The --at changes in time order (a stable sort keeps the command-line order at one time).
    std::vector<ScheduledSetting> schedule;
    double const input_seconds = static_cast<double>(in_info.frames) / in_info.samplerate;
    for (TimedSetting const& change : options.timed_settings) {
        if (change.seconds > input_seconds) {
            char length[32];
            std::snprintf(length, sizeof length, "%g", input_seconds);
            fail(std::string(at_time_rule) + " (" + length + " s), got '" + change.seconds_text + "'");
            return exit_usage;
        }
        schedule.push_back({std::llround(change.seconds * in_info.samplerate), &change});
    }
    std::stable_sort(
        schedule.begin(), schedule.end(),
        [](ScheduledSetting const& a, ScheduledSetting const& b) { return a.sample < b.sample; });

    for (auto const& slot : options.ir_files)
        for (auto const& file : slot)
            if (!file.empty()) {
                if (std::string const problem = impulse_response_problem(file); !problem.empty()) {
                    fail("cannot read impulse response '" + file + "': " + problem);
                    return exit_input;
                }
            }
    if (!options.bank.empty()) {
        std::error_code error;
        auto const size = fs::file_size(options.bank, error);
        if (error || !is_readable_file(options.bank)) {
            fail("cannot read bank '" + options.bank + "'");
            return exit_input;
        }
        if (size != 142816 && size != 142818) {
            fail("'" + options.bank + "' is not a bank file (" + std::to_string(size) +
                 " bytes; a bank file has 142816)");
            return exit_input;
        }
    }

    int const in_channels = in_info.channels;
    int const out_channels = in_channels == 2 || options.stereo_out ? 2 : 1;
    SF_INFO out_info{};
    out_info.samplerate = in_info.samplerate;
    out_info.channels = out_channels;
    out_info.format = in_info.format;
    if (sf_format_check(&out_info) == 0) {
        fail("cannot write output '" + options.output + "': its format does not take " +
             std::to_string(out_channels) + " channels");
        return exit_output;
    }

    try {
        PrivateSettings settings;
        corvella::use_reproducible_processing(true); // the same command, the same bits
        MessageSink messages;
        CheckPrefs();
        if (options.latency) set_latency_in_registry(*options.latency);

        host::InProcessHost host;
        host.set_host_tempo(options.tempo); // picked up by the first wake-up
        auto const variant = in_channels == 2    ? host::Variant::stereo_to_stereo
                             : out_channels == 2 ? host::Variant::mono_to_stereo
                                                 : host::Variant::mono_to_mono;
        if (!host.create_instance(variant, in_info.samplerate) || !host.has_engine()) {
            fail("the engine could not start at " + std::to_string(in_info.samplerate) + " Hz");
            return exit_engine;
        }
        // The start-up build runs to its end before anything changes.
        if (!wait_for_builds(host)) return exit_engine;

        if (!options.bank.empty()) {
            std::string path = options.bank;
            host.set_custom_data(8, path.c_str(), path.size() + 1);
            // Selecting a program (the bank's own current one when none is named) hands the new
            // bank to the engine with a full rebuild.
            std::int32_t number = 0;
            if (options.program)
                number = *options.program;
            else
                host.get_custom_data(1, &number, sizeof number);
            host.set_custom_data(1, &number, sizeof number);
        }
        for (int slot = 0; slot < 2; ++slot)
            for (int side = 0; side < 2; ++side)
                if (!options.ir_files[slot][side].empty()) {
                    std::string const& file = options.ir_files[slot][side];
                    host.set_ir_file(slot + 1, side, fs::absolute(file).string());
                    // A Fusion response plays in the Fusion topology; --set may still change it.
                    if (side == 0 && fs::path(file).extension() == ".fir")
                        host.set_parameter(slot == 0 ? "ir1_topology" : "ir2_topology", 1.0f);
                }
        store_program_slots(host, options.slot_settings);
        for (auto const& [key, value] : options.settings)
            host.set_parameter(key, value);

        // The start-up bank names the default impulse response; say how to get it when it is missing
        // (a slot whose source is a generator needs no file).
        std::vector<VST_Plugin_Program> bank(programs_per_bank);
        host.get_custom_data(custom_data::bank, bank.data(), bank_size_bytes);
        bool const ir1_from_file =
            bank[static_cast<std::size_t>(current_program_index(bank.data()))].ir1_source_type == 0;
        if (std::string const ir1 = program_file(host, 14);
            ir1_from_file && !ir1.empty() && !is_readable_file(ir1)) {
            fail("the impulse response '" + ir1 +
                 "' is not installed: run corvella-factory-irs, or give --ir1-a FILE");
            return exit_input;
        }

        if (!wait_for_builds(host)) return exit_engine;
        VST_Plugin* engine = host.engine();
        if (engine == nullptr || !engine->processing_enabled) {
            fail("the engine stopped (see the message above)");
            return exit_engine;
        }

        // The output goes to a temporary file beside OUTPUT and replaces it only when complete.
        AtomicFile partial(fs::absolute(options.output));
        std::string write_error;
        if (!partial.open(write_error)) {
            fail("cannot write output '" + options.output + "': " + write_error);
            return exit_output;
        }
        SoundFile out;
        if (!out.open(partial, out_info)) {
            fail("cannot write output '" + options.output + "': " + sf_strerror(nullptr));
            return exit_output;
        }
        sf_command(out.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);
        auto remove_partial = [&] {
            out.close();
            partial.abandon();
        };

        int const latency = std::max(0, host.latency_samples());
        long long const tail_frames = std::llround(options.tail_seconds * in_info.samplerate);
        long long const out_frames = static_cast<long long>(in_info.frames) + tail_frames;
        long long const total = out_frames + latency; // fed to the instance
        int const block = options.block;

        std::vector<float> interleaved_in(static_cast<std::size_t>(block) * in_channels);
        std::vector<float> interleaved_out(static_cast<std::size_t>(block) * out_channels);
        std::vector<float> planar_in(static_cast<std::size_t>(block) * 2, 0.0f);
        std::vector<float> planar_out(static_cast<std::size_t>(block) * 2, 0.0f);
        float const* ins[2] = {planar_in.data(), planar_in.data() + block};
        float* outs[2] = {planar_out.data(), planar_out.data() + block};

        Progress progress(!options.quiet, total, in_info.samplerate);
        long long fed = 0, written = 0;
        bool input_done = false;
        std::size_t next_change = 0;
        std::vector<TimedSetting const*> due;
        while (fed < total) {
            if (next_change < schedule.size() && schedule[next_change].sample == fed) {
                due.clear();
                for (; next_change < schedule.size() && schedule[next_change].sample == fed; ++next_change)
                    due.push_back(schedule[next_change].setting);
                apply_timed_settings(host, due);
                if (!wait_for_builds(host)) {
                    remove_partial();
                    return exit_engine;
                }
            }
            // Blocks keep the host's grid of `block` frames; a change splits the block it falls in.
            long long end = std::min(total, (fed / block + 1) * block);
            if (next_change < schedule.size()) end = std::min(end, schedule[next_change].sample);
            int const frames = static_cast<int>(end - fed);
            sf_count_t got = 0;
            if (!input_done) {
                got = sf_readf_float(input.get(), interleaved_in.data(), frames);
                if (got < frames) input_done = true;
            }
            for (int n = 0; n < frames; ++n)
                for (int c = 0; c < in_channels; ++c)
                    planar_in[static_cast<std::size_t>(c) * block + n] =
                        n < got ? interleaved_in[static_cast<std::size_t>(n) * in_channels + c] : 0.0f;
            host.process(ins, outs, frames);
            fed += frames;

            // Drop the first `latency` frames so that the output lines up with the input.
            int const skip = static_cast<int>(std::clamp<long long>(latency - (fed - frames), 0, frames));
            int const keep = static_cast<int>(std::min<long long>(frames - skip, out_frames - written));
            for (int n = 0; n < keep; ++n)
                for (int c = 0; c < out_channels; ++c)
                    interleaved_out[static_cast<std::size_t>(n) * out_channels + c] =
                        planar_out[static_cast<std::size_t>(c) * block + skip + n];
            if (keep > 0 && sf_writef_float(out.get(), interleaved_out.data(), keep) != keep) {
                fail("cannot write output '" + options.output + "': " + sf_strerror(out.get()));
                remove_partial();
                return exit_output;
            }
            written += std::max(keep, 0);
            progress.update(fed);
        }
        progress.update(fed, true);

        if (!engine->processing_enabled) {
            fail("the engine stopped during the render (see the message above)");
            remove_partial();
            return exit_engine;
        }
        if (out.close() != 0) {
            fail("cannot write output '" + options.output + "': " + sf_strerror(nullptr));
            remove_partial();
            return exit_output;
        }
        if (!partial.commit(write_error)) {
            fail("cannot write output '" + options.output + "': " + write_error);
            return exit_output;
        }
    } catch (std::exception const& error) {
        fail(error.what());
        return exit_engine;
    }
    return exit_ok;
}

} // namespace corvella::render
