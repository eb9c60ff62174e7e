// Inputs the fuzz targets found faults with (fuzz/), kept so that the faults stay fixed.

#include "host/host_fixture.h"
#include "host/lv2_preset_export.h"
#include "program/program_constants.h"
#include "program/vst_plugin_program.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace corvella;

// A bank file is read raw by the bank tool: a NaN or an out-of-range slot must not reach an
// exported preset's ports (the plug-in brings such values into range when it takes the record).
TEST(FuzzRegression, ExportedPortsOfADamagedProgramAreUnityValues)
{
    std::vector<VST_Plugin_Program> bank(programs_per_bank);
    bank[2].master_mix = std::numeric_limits<float>::quiet_NaN();
    bank[2].ir1_gain = 7.0f;
    bank[2].ir2_gain = -3.0f;
    Lv2Preset const preset = lv2_preset_of_program(bank.data(), 2);

    VST_Plugin_Program const fresh;
    auto port = [&](std::string const& symbol) {
        for (auto const& [name, value] : preset.ports)
            if (name == symbol) return value;
        ADD_FAILURE() << "no port " << symbol;
        return -1.0f;
    };
    EXPECT_EQ(port("master_mix"), fresh.master_mix); // a NaN slot takes its default
    EXPECT_EQ(port("ir1_gain"), 1.0f);
    EXPECT_EQ(port("ir2_gain"), 0.0f);
    for (auto const& [name, value] : preset.ports)
        EXPECT_TRUE(std::isfinite(value) && value >= 0.0f && value <= 1.0f) << name << " = " << value;
}

// Custom data 2 (rename the current program) with no data at all: an empty name, and no copy
// from a null pointer.
using FuzzRegressionParameters = corvella::test::ParametersTest;
TEST_F(FuzzRegressionParameters, RenamingWithNoDataEmptiesTheName)
{
    char const name[] = "Hall";
    ASSERT_EQ(parameters.SetCustomData(2, sizeof name, name), host::success);
    ASSERT_STREQ(parameters.bank_copy()[0].name, "Hall");
    EXPECT_EQ(parameters.SetCustomData(2, 0, nullptr), host::success);
    EXPECT_STREQ(parameters.bank_copy()[0].name, "");
}

} // namespace
