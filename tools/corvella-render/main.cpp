// corvella-render: renders an audio file through Corvella from the command line.

#include "tools/corvella-render/options.h"
#include "tools/corvella-render/render.h"

#include <cstdio>
#include <string>
#include <variant>
#include <vector>

int main(int argc, char** argv)
{
    using namespace corvella::render;
    std::vector<std::string> const arguments(argv + 1, argv + argc);
    auto parsed = parse_options(arguments);
    if (auto const* error = std::get_if<UsageError>(&parsed)) {
        std::fprintf(stderr, "%s\n", error->message.c_str());
        return error->code;
    }
    Options const& options = std::get<Options>(parsed);
    if (options.help) {
        std::fputs(usage_text(), stdout);
        return exit_ok;
    }
    if (options.list_params) {
        list_parameters();
        return exit_ok;
    }
    return render(options);
}
