// Every test process gets a private preferences folder, so that no test reads or writes the
// settings of the user who runs the suite, and tests never see each other's settings.
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    corvella::test::TempDir config_home("corvella-xdg-");
    setenv("XDG_CONFIG_HOME", config_home.path().c_str(), 1);
    return RUN_ALL_TESTS();
}
