// Restoring a state chunk on an instance's parameters object. Whatever the host hands over, the
// instance ends with parameters that are numbers in 0..1, and its own chunk compares equal to
// itself. A chunk replaces the whole bank, so one instance serves every input (a new one per input
// costs more than the restore).
//
// Input: a whole bank image (142,656 bytes), or a shorter patch laid over the default bank (see
// corvella::fuzz::overlay).

#include "fuzz/fuzz_support.h"
#include "program/parameter_table.h"
#include "program/vst_plugin_program.h"

#include <cmath>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    corvella::fuzz::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    using namespace corvella;
    static std::string const default_bank = [] {
        std::vector<VST_Plugin_Program> bank(programs_per_bank);
        return std::string(reinterpret_cast<char const*>(bank.data()), bank_chunk_size);
    }();
    std::string const image = fuzz::overlay(default_bank, data, size);

    static fuzz::Instance instance;
    host::Chunk chunk;
    chunk.header.id = chunk_id_all;
    chunk.header.size = static_cast<std::int32_t>(bank_chunk_size);
    chunk.data.assign(image.begin(), image.end());
    if (instance.parameters.SetChunk(chunk_id_all, &chunk) != host::success) fuzz::fail("a whole bank was refused");

    for (ParameterRow const& row : parameter_table()) {
        double const value = instance.parameters.return_parameter_float_value(row.key);
        if (!std::isfinite(value) || value < 0.0 || value > 1.0) fuzz::fail("a restored parameter is not a unity value");
    }
    host::Chunk own;
    bool equal = false;
    if (instance.parameters.GetChunk(chunk_id_all, &own) != host::success ||
        instance.parameters.CompareActiveChunk(&own, &equal) != host::success || !equal)
        fuzz::fail("the instance's own chunk does not compare equal to it");
    return 0;
}
