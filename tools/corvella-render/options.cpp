#include "tools/corvella-render/options.h"

#include "host/bank_files.h"

#include "program/parameter_table.h"
#include "program/program_sanitise.h"
#include "program/program_slot_table.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace corvella::render {

namespace {

bool parse_int(std::string const& text, int& value)
{
    auto const* end = text.data() + text.size();
    auto const result = std::from_chars(text.data(), end, value);
    return result.ec == std::errc() && result.ptr == end;
}

bool parse_double(std::string const& text, double& value)
{
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(value);
}

bool is_valid_latency(int latency)
{
    if (latency == 0) return true;
    return latency >= 128 && latency <= 8192 && (latency & (latency - 1)) == 0;
}

UsageError usage(std::string message)
{
    return {"corvella-render: " + std::move(message), exit_usage};
}

std::string number_text(double value)
{
    std::ostringstream text;
    text << value;
    return text.str();
}

// "whole numbers 1 to 63", "beats per minute 30 to 200", "unity values 0 to 1".
std::string slot_range_text(ProgramSlotRow const& row)
{
    std::string const kind = row.kind == SlotKind::integer ? "whole numbers"
                             : row.kind == SlotKind::tempo ? "beats per minute"
                                                           : "unity values";
    return kind + " " + number_text(row.minimum) + " to " + number_text(row.maximum);
}

struct Setting {
    std::string key;
    double value; // unity value of a parameter, stored value of a slot
    bool slot;    // a program slot that is no host parameter
};

// KEY=VALUE of --set and --at: a parameter key with a unity value, or a program slot key with a
// value in the slot's range.
std::variant<Setting, UsageError> parse_setting(std::string const& option, std::string const& text)
{
    auto const equals = text.find('=');
    if (equals == std::string::npos || equals == 0)
        return usage(option + " needs KEY=VALUE, got '" + text + "'");
    std::string key = text.substr(0, equals);
    std::string const value_text = text.substr(equals + 1);
    ProgramSlotRow const* slot = find_parameter(key) == nullptr ? find_program_slot(key) : nullptr;
    if (find_parameter(key) == nullptr && slot == nullptr)
        return usage("unknown parameter key '" + key + "' (see --list-params)");
    double number = 0.0;
    if (!parse_double(value_text, number))
        return usage("value of '" + key + "' is not a number: '" + value_text + "'");
    if (slot != nullptr) {
        if (!program_slot_accepts(*slot, number))
            return usage("value out of range for '" + key + "': " + value_text + " (" +
                         slot_range_text(*slot) + ")");
        return Setting{std::move(key), number, true};
    }
    if (number < 0.0 || number > 1.0)
        return usage("value out of range for '" + key + "': " + value_text + " (unity values are 0 to 1)");
    return Setting{std::move(key), number, false};
}

} // namespace

char const* usage_text()
{
    return "Usage: corvella-render [OPTIONS] INPUT OUTPUT\n"
           "\n"
           "Renders INPUT (any audio file libsndfile reads, mono or stereo) through Corvella and writes\n"
           "OUTPUT in the input's format, sample rate and channel layout. The instance starts with the\n"
           "start-up bank's default program; options change it in this order: bank and program, impulse\n"
           "responses, the program slots given with --set, then the parameters given with --set in their\n"
           "order. The render waits until every impulse response is built, before the first sample and\n"
           "after the changes of each --at time, so the same command always gives the same output.\n"
           "\n"
           "Options:\n"
           "  --ir1-a FILE, --ir1-b FILE   impulse responses of IR1 (sections A and B)\n"
           "  --ir2-a FILE, --ir2-b FILE   impulse responses of IR2. A Fusion response (.fir) as an A file\n"
           "                               also sets its IR to the Fusion IR topology\n"
           "  --set KEY=VALUE              set a parameter by key to a unity value (0 to 1); repeatable.\n"
           "                               Program slots that are no host parameters take their stored\n"
           "                               value: the delays' tempi in BPM (master_delay_l_tempo ...), note\n"
           "                               numerators 1 to 63 and denominators 1 to 64\n"
           "                               (master_delay_l_delay_numer, ..._delay_denom), the IR source "
           "type,\n"
           "                               room, tail character and density as whole numbers and the tail\n"
           "                               variant as a unity value; --list-params lists them all (their\n"
           "                               table is data in program/program_slot_table.cpp)\n"
           "  --at SECONDS KEY=VALUE       change a parameter or program slot, taken as by --set, at input\n"
           "                               sample round(SECONDS x rate), splitting the host block there as\n"
           "                               a host's automation does; SECONDS from 0 to the input's length.\n"
           "                               Repeatable: applied in time order, changes at the same time in\n"
           "                               their order on the command line\n"
           "  --tempo BPM                  the host's tempo, 30 to 200 (default 120), for the delays locked\n"
           "                               to it\n"
           "  --bank FILE --program N      load a bank file (.fxb) and select its program N (0 to 47);\n"
           "                               FILE may also name a factory bank by its menu entry, e.g.\n"
           "                               \"Customisable Synthetic Tails Set\"\n"
           "  --latency N                  the \"Latency\" setting for this run: 0 (zero latency, default)\n"
           "                               or 128, 256, ... 8192 samples. The output is shifted back by the\n"
           "                               latency, so it always lines up with the input.\n"
           "  --block N                    host block size in frames, 1 to 16384 (default 512)\n"
           "  --tail SECONDS               extra output after the input ends, for the reverb to ring out\n"
           "                               (default 0)\n"
           "  --stereo-out                 stereo output from a mono input\n"
           "  --list-params                list the parameters (index, key, name, default), then the\n"
           "                               program slots (\"slot\", key, range, default)\n"
           "  --quiet                      no progress bar\n"
           "  --help                       this text\n"
           "\n"
           "Settings are read from a private settings folder made for the run; the user's own settings are\n"
           "never read or changed.\n"
           "\n"
           "Exit status: 0 rendered; 1 bad option, unknown parameter key or value out of range; 2 input,\n"
           "impulse-response or bank file missing or unreadable; 3 output cannot be written; 4 the engine\n"
           "could not start or stopped. A failed render leaves no output file behind and never replaces an\n"
           "existing one.\n";
}

std::variant<Options, UsageError> parse_options(std::vector<std::string> const& arguments)
{
    Options options;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string const& argument = arguments[i];
        auto value = [&](std::string& out) -> bool {
            if (i + 1 >= arguments.size()) return false;
            out = arguments[++i];
            return true;
        };
        std::string text;
        if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--list-params") {
            options.list_params = true;
        } else if (argument == "--stereo-out") {
            options.stereo_out = true;
        } else if (argument == "--quiet") {
            options.quiet = true;
        } else if (argument == "--ir1-a" || argument == "--ir1-b" || argument == "--ir2-a" ||
                   argument == "--ir2-b") {
            int const slot = argument[4] - '1';
            int const side = argument[6] == 'a' ? 0 : 1;
            if (!value(options.ir_files[slot][side]) || options.ir_files[slot][side].empty())
                return usage(argument + " needs a file");
        } else if (argument == "--set") {
            if (!value(text)) return usage("--set needs KEY=VALUE");
            auto setting = parse_setting(argument, text);
            if (auto* error = std::get_if<UsageError>(&setting)) return *error;
            auto& [key, number, slot] = std::get<Setting>(setting);
            if (slot)
                options.slot_settings.emplace_back(std::move(key), number);
            else
                options.settings.emplace_back(std::move(key), static_cast<float>(number));
        } else if (argument == "--at") {
            std::string seconds_text;
            if (!value(seconds_text) || !value(text)) return usage("--at needs SECONDS KEY=VALUE");
            double seconds = 0.0;
            if (!parse_double(seconds_text, seconds) || seconds < 0.0)
                return usage(std::string(at_time_rule) + ", got '" + seconds_text + "'");
            auto setting = parse_setting(argument, text);
            if (auto* error = std::get_if<UsageError>(&setting)) return *error;
            auto& [key, number, slot] = std::get<Setting>(setting);
            options.timed_settings.push_back({seconds, seconds_text, std::move(key), number, slot});
        } else if (argument == "--bank") {
            if (!value(options.bank) || options.bank.empty()) return usage("--bank needs a file");
            // A factory bank may be named by its menu entry.
            for (std::size_t k = 0; k < factory_banks.size(); ++k)
                if (options.bank == factory_banks[k].menu_entry) options.bank = factory_bank_path(static_cast<int>(k));
        } else if (argument == "--program") {
            int number = 0;
            if (!value(text) || !parse_int(text, number) || number < 0 || number > 47)
                return usage("--program needs a program number from 0 to 47");
            options.program = number;
        } else if (argument == "--latency") {
            int number = 0;
            if (!value(text) || !parse_int(text, number) || !is_valid_latency(number))
                return usage("--latency must be 0 or a power of two from 128 to 8192");
            options.latency = number;
        } else if (argument == "--block") {
            int number = 0;
            if (!value(text) || !parse_int(text, number) || number < 1 || number > 16384)
                return usage("--block must be a frame count from 1 to 16384");
            options.block = number;
        } else if (argument == "--tempo") {
            double bpm = 0.0;
            if (!value(text) || !parse_double(text, bpm) || bpm < tempo_min_bpm || bpm > tempo_max_bpm)
                return usage("--tempo must be beats per minute from 30 to 200");
            options.tempo = bpm;
        } else if (argument == "--tail") {
            double seconds = 0.0;
            if (!value(text) || !parse_double(text, seconds) || seconds < 0.0 || seconds > 3600.0)
                return usage("--tail must be a number of seconds from 0 to 3600");
            options.tail_seconds = seconds;
        } else if (argument.size() > 1 && argument[0] == '-') {
            return usage("unknown option '" + argument + "' (see --help)");
        } else {
            positional.push_back(argument);
        }
    }
    if (options.help || options.list_params) return options;
    if (options.program && options.bank.empty()) return usage("--program needs --bank");
    if (positional.size() != 2) return usage("needs INPUT and OUTPUT (see --help)");
    options.input = positional[0];
    options.output = positional[1];
    return options;
}

} // namespace corvella::render
