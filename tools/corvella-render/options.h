#pragma once

// Command line of corvella-render.

#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace corvella::render {

// Exit codes, also listed by --help.
enum ExitCode : int {
    exit_ok = 0,
    exit_usage = 1,  // bad option, unknown parameter key, value out of range
    exit_input = 2,  // input, impulse-response or bank file missing or unreadable
    exit_output = 3, // output cannot be written
    exit_engine = 4, // the engine could not start, or stopped during the render
};

// One --at: KEY changes to VALUE at input sample round(seconds x input rate).
struct TimedSetting {
    double seconds = 0.0;
    std::string seconds_text; // as given, for the message when it lies past the input's end
    std::string key;
    double value = 0.0; // a parameter's unity value, or a program slot's stored value
    bool slot = false;  // a program slot that is no host parameter
};

struct Options {
    std::string input, output;
    std::string ir_files[2][2];                          // [slot][side]: --ir1-a, --ir1-b, --ir2-a, --ir2-b
    std::vector<std::pair<std::string, float>> settings; // --set of host parameters, in order
    // --set of program slots that are no host parameters (program/program_slot_table.h), in order,
    // each in its stored unit: a whole number, BPM or a unity value.
    std::vector<std::pair<std::string, double>> slot_settings;
    std::vector<TimedSetting> timed_settings; // --at, in command-line order
    double tempo = 120.0;                     // the host's transport tempo, BPM
    std::string bank;
    std::optional<int> program;
    std::optional<int> latency;
    int block = 512;
    double tail_seconds = 0.0;
    bool stereo_out = false;
    bool list_params = false;
    bool help = false;
    bool quiet = false;
};

// A failure to parse: the one-line message and the exit code.
struct UsageError {
    std::string message;
    int code;
};

// Parses argv (without the program name). Checks every --set and --at key against the parameter
// table (its value against 0..1) and then the program slot table (its value against the slot's
// range); checks --latency, --block, --tail, --tempo, --program and the --at times (finite, not
// negative; render() checks them against the input's length) against their ranges.
// Returns the error instead of the options when something is wrong.
std::variant<Options, UsageError> parse_options(std::vector<std::string> const& arguments);

char const* usage_text();

// The rule an --at time breaks, the start of its message.
inline constexpr char const* at_time_rule = "--at must be a number of seconds from 0 to the input's length";

} // namespace corvella::render
