// Custom-data writes on a new instance's parameters object, then every read.
//
// Input: the id (first byte, modulo 56 so that two unknown ids come up too), a byte of options
// (bit 0: fit the data to the size the table gives the id, padding with zeros), then the data.

#include "fuzz/fuzz_support.h"
#include "program/parameter_table.h"

#include <cmath>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    corvella::fuzz::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    using namespace corvella;
    if (size < 2) return 0;
    int const id = data[0] % 56;
    bool const fit = (data[1] & 1) != 0;
    std::vector<std::uint8_t> block(data + 2, data + size);
    if (fit) {
        CustomDataSizes const sizes = custom_data_sizes(id);
        if (sizes.set > 0 && !sizes.set_up_to) block.resize(sizes.set, 0);
    }

    fuzz::Instance instance;
    instance.parameters.SetCustomData(id, static_cast<std::uint32_t>(block.size()), block.empty() ? nullptr : block.data());

    for (int read = 0; read <= custom_data::last_id; ++read) {
        std::uint32_t const wanted = custom_data_sizes(read).get;
        if (wanted == 0) continue;
        std::vector<std::uint8_t> out(wanted);
        std::uint32_t written = 0;
        instance.parameters.GetCustomData(read, wanted, out.data(), &written);
        if (written > wanted) fuzz::fail("a read reports more than it was given room for");
    }
    for (ParameterRow const& row : parameter_table()) {
        double const value = instance.parameters.return_parameter_float_value(row.key);
        if (!std::isfinite(value) || value < 0.0 || value > 1.0) fuzz::fail("a parameter is not a unity value after a write");
    }
    return 0;
}
