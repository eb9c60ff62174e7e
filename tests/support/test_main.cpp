// Every test process gets a private preferences folder, so that no test reads or writes the
// settings of the user who runs the suite, and tests never see each other's settings. The cache
// folder (measured FFT plans) is shared by the test processes of this user instead, so that the
// suite measures each transform size once rather than once per process; plans change no result.
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    corvella::test::TempDir config_home("corvella-xdg-");
    setenv("XDG_CONFIG_HOME", config_home.path().c_str(), 1);
    auto const cache_home = std::filesystem::temp_directory_path() / ("corvella-test-cache-" + std::to_string(getuid()));
    setenv("XDG_CACHE_HOME", cache_home.c_str(), 1);
    return RUN_ALL_TESTS();
}
