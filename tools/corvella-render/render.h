#pragma once

#include "tools/corvella-render/options.h"

namespace corvella::render {

// Renders options.input into options.output through an in-process instance. Prints one-line
// errors on stderr and returns an ExitCode.
int render(Options const& options);

// Prints the parameter list (index, key, name, default), then the program slots ("slot", key,
// kind and range, default), tab-separated.
void list_parameters();

} // namespace corvella::render
