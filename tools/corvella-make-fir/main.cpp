// corvella-make-fir: builds a Fusion impulse response (".fir") from audio files: the head file's
// channels, then every tail file's channels in order, at the rate they share.

#include "ir/fir_file.h"
#include "platform/settings_file.h"
#include "tools/tool_exit.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace corvella::tools; // exit codes

char const usage[] =
    "Usage: corvella-make-fir --head FILE --tail FILE [--tail FILE]... [--head-gain DB] [--tail-gain DB]\n"
    "                         [--gain DB] OUTPUT.fir\n"
    "\n"
    "Builds a Fusion impulse response for the \"Fusion IR\" topology from audio files of any format\n"
    "libsndfile reads. The head file gives the head channels (1 to 4); the tail files give the tail\n"
    "channels, appended in order (1 to 32 in all), padded with silence to the longest tail and to at\n"
    "least the head's length. All files must have one sample rate, which the output keeps.\n"
    "\n"
    "  --head FILE       the head: the start of the response, heard unmodulated\n"
    "  --tail FILE       a tail part (repeatable): the sets the modulation moves between\n"
    "  --head-gain DB    gain of the head, -96 to 24 dB (default 0; -20 switches the head off)\n"
    "  --tail-gain DB    gain of the tail, -96 to 24 dB (default 0; -20 switches the tail off)\n"
    "  --gain DB         overall gain, -96 to 24 dB (default 0)\n"
    "  --help            this text\n"
    "\n"
    "The output is written whole or not at all, then read back and checked.\n"
    "Exit status: 0 done; 1 bad option or value; 2 an input file missing, unreadable or unfit;\n"
    "3 the output cannot be written.\n";

struct Audio {
    int rate = 0;
    std::vector<std::vector<float>> channels;
};

bool read_audio(std::string const& path, Audio& audio, std::string& error)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        error = path + ": " + sf_strerror(nullptr);
        return false;
    }
    std::vector<float> interleaved(static_cast<std::size_t>(info.frames) * static_cast<std::size_t>(info.channels));
    sf_count_t const frames = sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    if (frames != info.frames || info.frames < 1) {
        error = path + ": the audio could not be read whole";
        return false;
    }
    audio.rate = info.samplerate;
    audio.channels.assign(static_cast<std::size_t>(info.channels), std::vector<float>(static_cast<std::size_t>(frames)));
    for (sf_count_t n = 0; n < frames; ++n)
        for (int c = 0; c < info.channels; ++c)
            audio.channels[static_cast<std::size_t>(c)][static_cast<std::size_t>(n)] =
                interleaved[static_cast<std::size_t>(n) * static_cast<std::size_t>(info.channels) + static_cast<std::size_t>(c)];
    return true;
}

bool parse_db(std::string const& text, float& value)
{
    char* end = nullptr;
    errno = 0;
    double const parsed = std::strtod(text.c_str(), &end);
    if (text.empty() || end == nullptr || *end != '\0' || errno != 0 || !std::isfinite(parsed) || parsed < -96.0 ||
        parsed > 24.0)
        return false;
    value = static_cast<float>(parsed);
    return true;
}

int fail(int code, std::string const& message)
{
    return corvella::tools::fail("corvella-make-fir", code, message);
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> const arguments(argv + 1, argv + argc);
    std::string head_file, output;
    std::vector<std::string> tail_files;
    corvella::fir_contents contents;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string const& argument = arguments[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= arguments.size()) return false;
            into = arguments[++i];
            return true;
        };
        std::string text;
        if (argument == "--help") {
            std::fputs(usage, stdout);
            return exit_ok;
        } else if (argument == "--head") {
            if (!value(head_file)) return fail(exit_usage, "--head needs a FILE");
        } else if (argument == "--tail") {
            if (!value(text)) return fail(exit_usage, "--tail needs a FILE");
            tail_files.push_back(text);
        } else if (argument == "--head-gain" || argument == "--tail-gain" || argument == "--gain") {
            float& gain = argument == "--head-gain"   ? contents.head_gain_db
                          : argument == "--tail-gain" ? contents.tail_gain_db
                                                      : contents.gain_db;
            if (!value(text) || !parse_db(text, gain))
                return fail(exit_usage, argument + " must be decibels from -96 to 24, got '" + text + "'");
        } else if (!argument.empty() && argument[0] == '-') {
            return fail(exit_usage, "unknown option " + argument + " (see --help)");
        } else if (output.empty()) {
            output = argument;
        } else {
            return fail(exit_usage, "more than one OUTPUT given: " + argument);
        }
    }
    if (head_file.empty() || tail_files.empty() || output.empty())
        return fail(exit_usage, "--head, at least one --tail and OUTPUT.fir are needed (see --help)");
    if (std::filesystem::path(output).extension() != ".fir") return fail(exit_usage, "OUTPUT must end in .fir: " + output);

    std::string error;
    Audio head;
    if (!read_audio(head_file, head, error)) return fail(exit_input, error);
    if (head.channels.size() > static_cast<std::size_t>(corvella::fir_max_head_channels))
        return fail(exit_input, head_file + ": the head has " + std::to_string(head.channels.size()) +
                                    " channels, at most 4 fit");
    contents.sample_rate = head.rate;
    contents.head = std::move(head.channels);
    std::size_t tail_length = contents.head.front().size();
    for (std::string const& file : tail_files) {
        Audio tail;
        if (!read_audio(file, tail, error)) return fail(exit_input, error);
        if (tail.rate != contents.sample_rate)
            return fail(exit_input, file + ": its rate " + std::to_string(tail.rate) + " Hz is not the head's " +
                                        std::to_string(contents.sample_rate) + " Hz");
        for (auto& channel : tail.channels) {
            tail_length = std::max(tail_length, channel.size());
            contents.tail.push_back(std::move(channel));
        }
    }
    if (contents.tail.size() > static_cast<std::size_t>(corvella::fir_max_tail_channels))
        return fail(exit_input, "the tail files have " + std::to_string(contents.tail.size()) +
                                    " channels in all, at most 32 fit");
    for (auto& channel : contents.tail)
        channel.resize(tail_length, 0.0f);

    std::string const bytes = corvella::fir_file_bytes(contents, error);
    if (bytes.empty()) return fail(exit_input, "the files do not make a Fusion impulse response: " + error);
    if (!corvella::write_file_atomically(output, bytes, error)) return fail(exit_output, output + ": " + error);
    std::string why;
    if (!corvella::read_fir_file(output, &why)) {
        std::filesystem::remove(output);
        return fail(exit_output, output + " did not read back: " + why);
    }
    std::printf("%s: head %zu x %zu, tail %zu x %zu samples at %d Hz\n", output.c_str(), contents.head.size(),
                contents.head.front().size(), contents.tail.size(), tail_length, contents.sample_rate);
    return exit_ok;
}
