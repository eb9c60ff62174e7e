// A bank applied by the host has its moved files found before they are loaded.
#include "host/host_fixture.h"

#include "platform/settings_store.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using namespace corvella::test;
namespace custom_data = corvella::custom_data;
namespace host = corvella::host;
using corvella::bank_chunk_size;

class DemoGainLostFilesTest : public ParametersTest {};

TEST_F(DemoGainLostFilesTest, AReplacedBankPointsAtTheMovedFiles)
{
    TempDir disk{"corvella-disk-"};
    std::filesystem::create_directories(disk / "Halls");
    std::ofstream(disk / "Halls" / "Big L.wav") << "x";
    std::ofstream(disk / "Halls" / "Big R.wav") << "x";
    set_search_dir_in_registry(0, disk.path().string());

    auto bank = parameters.bank_copy();
    std::strcpy(bank[3].ir1_file_a, "/old disk/Halls/Big L.wav");
    std::strcpy(bank[3].ir2_file_b, "/old disk/Halls/Big R.wav");
    std::strcpy(bank[5].ir1_file_b, "/old disk/Gone.wav");
    messages_.answer_no();
    ASSERT_EQ(set(custom_data::bank, bank_chunk_size, bank.data()), host::success);

    std::string const folder = disk.path().string() + "/Halls/";
    auto const repaired = parameters.bank_copy();
    EXPECT_EQ(std::string(repaired[3].ir1_file_a), folder + "Big L.wav");
    EXPECT_EQ(std::string(repaired[3].ir2_file_b), folder + "Big R.wav");
    EXPECT_EQ(std::string(repaired[5].ir1_file_b), "/old disk/Gone.wav");
    EXPECT_EQ(parameters.lost_locations().back(), folder + "Big L.wav");

    std::uint8_t flag = 0;
    std::uint32_t written = 0;
    EXPECT_EQ(parameters.GetCustomData(custom_data::lost_files_repaired, 1, &flag, &written), host::success);
    EXPECT_EQ(flag, 1);
    ASSERT_EQ(messages_.count(), 1u);
    EXPECT_NE(messages_.last().text.find("\n\nFile IR1b: /old disk/Gone.wav\n\n"), std::string::npos);
}

} // namespace
