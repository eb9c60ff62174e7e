#pragma once

// Exit codes and error lines shared by the command-line programs (corvella-render lists the same
// codes, with one of its own for the engine).

#include <cstdio>
#include <string>

namespace corvella::tools {

enum Exit : int { exit_ok = 0, exit_usage = 1, exit_input = 2, exit_output = 3 };

// "<program>: <message>" on stderr; gives back `code` for the caller to return.
inline int fail(char const* program, int code, std::string const& message)
{
    std::fprintf(stderr, "%s: %s\n", program, message.c_str());
    return code;
}

} // namespace corvella::tools
