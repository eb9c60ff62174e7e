// Bank files and host preset files: header bytes at their offsets, save -> load -> save identical,
// the save-path and recent-list rules, clearing, and the ".tfx" layouts.

#include "host/bank_files.h"

#include "host_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace corvella::test {
namespace {

using BankFilesTest = ParametersTest;

std::uint32_t be32(std::string const& b, std::size_t at)
{
    std::uint32_t v = 0;
    for (int k = 0; k < 4; ++k)
        v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<std::size_t>(k)]);
    return v;
}

std::vector<VST_Plugin_Program> sample_bank()
{
    std::vector<VST_Plugin_Program> bank(programs_per_bank);
    for (int i = 0; i < programs_per_bank; ++i) {
        std::snprintf(bank[static_cast<std::size_t>(i)].name, sizeof bank[0].name, "Hall %d   ", i);
        bank[static_cast<std::size_t>(i)].ir1_pre_delay = 0.01f * static_cast<float>(i);
        bank[static_cast<std::size_t>(i)].master_mix = 0.25f;
    }
    bank[0].current_program = 7;
    return bank;
}

TEST_F(BankFilesTest, TheHeaderSitsAtItsOffsetsAndASavedBankLoadsAndSavesIdentically)
{
    static_assert(offsetof(VST_Plugin_Program, master_mix) == 28);
    static_assert(offsetof(VST_Plugin_Program, version_stamp) == 2964);
    static_assert(offsetof(VST_Plugin_Program, current_program) == 2968);
    auto bank = sample_bank();
    std::string const bytes = bank_file_bytes(bank.data());
    ASSERT_EQ(bytes.size(), 142816u);
    EXPECT_EQ(bytes.substr(0, 4), "CcnK");
    EXPECT_EQ(be32(bytes, 4), 142808u);
    EXPECT_EQ(bytes.substr(8, 4), "FBCh");
    EXPECT_EQ(be32(bytes, 12), 1u);
    EXPECT_EQ(bytes.substr(16, 4), "p438");
    EXPECT_EQ(be32(bytes, 20), 0u);
    EXPECT_EQ(be32(bytes, 24), 48u);
    EXPECT_EQ(be32(bytes, 28), 0u); // program 0 made current
    EXPECT_EQ(bytes.substr(32, 124), std::string(124, '\0'));
    EXPECT_EQ(be32(bytes, 156), 142656u);
    for (int slot : {0, 47}) { // every record stamped 2101, its current-program word 0
        std::size_t const record = 160 + 2972u * static_cast<std::size_t>(slot);
        std::int32_t stamp = 0, current = -1;
        std::memcpy(&stamp, bytes.data() + record + 2964, 4);
        std::memcpy(&current, bytes.data() + record + 2968, 4);
        EXPECT_EQ(stamp, 2101);
        EXPECT_EQ(current, 0);
    }

    // A bank the instance saved loads and saves again byte for byte (loading applies the wet-lock
    // preference to record 0, so the round trip starts from a loaded bank).
    std::string error;
    std::string const path = bank_file_save_path((data_.path() / "mine").string());
    ASSERT_EQ(path, (data_.path() / "mine.fxb").string());
    ASSERT_TRUE(save_bank_file(path, bank.data(), error)) << error;
    ASSERT_TRUE(parameters.set_chunk_from_file_in_aax(path.c_str()));
    auto loaded = parameters.bank_copy();
    EXPECT_STREQ(loaded[5].name, "Hall 5   ");
    ASSERT_TRUE(save_bank_file(path, loaded.data(), error)) << error;
    std::string const saved = read_bytes(path);
    ASSERT_TRUE(parameters.set_chunk_from_file_in_aax(path.c_str()));
    auto again = parameters.bank_copy();
    std::string const resaved = bank_file_bytes(again.data());
    auto const first_difference = std::mismatch(resaved.begin(), resaved.end(), saved.begin()).first - resaved.begin();
    EXPECT_EQ(first_difference, static_cast<long>(saved.size())) << "saving again differs first at byte " << first_difference;
}

TEST(BankFileRules, SavePathsRecentListClearingAndPresetFiles)
{
    struct {
        char const* chosen;
        char const* saved;
    } const paths[] = {{"/a/b.FXB", "/a/b.FXB"}, {"/a/bank", "/a/bank.fxb"}, {"/a/b.fxb", "/a/b.fxb"}, {"b.x", ""}};
    for (auto const& p : paths)
        EXPECT_EQ(bank_file_save_path(p.chosen), p.saved) << p.chosen;

    std::vector<VST_Plugin_Program> bank = sample_bank();
    clear_bank(bank.data());
    VST_Plugin_Program const fresh;
    for (auto const& record : bank)
        EXPECT_EQ(std::memcmp(&record, &fresh, sizeof fresh), 0);
    EXPECT_EQ(bank[0].current_program, 0);

    bank = sample_bank();
    std::string const all = tfx_bytes(bank.data(), true);
    ASSERT_EQ(all.size(), 142714u);
    EXPECT_EQ(all.substr(0, 8), std::string("\x00\x02\x2D\x7A\x00\x00\x00\x01", 8));
    EXPECT_EQ(all.substr(8, 16), "TqwkCv1mCv1mAll ");
    EXPECT_EQ(all[24], 11);
    EXPECT_EQ(all.substr(25, 11), "VST Plug-In");
    EXPECT_EQ(all.substr(36, 20), std::string(20, '\0'));
    EXPECT_EQ(all.substr(142712), std::string(2, '\0'));
    VST_Plugin_Program in_file;
    std::memcpy(static_cast<void*>(&in_file), all.data() + 56 + 2972 * 3, sizeof in_file);
    EXPECT_EQ(in_file.master_mix, 1.0f); // wet in the file only
    EXPECT_EQ(bank[3].master_mix, 0.25f);
    EXPECT_EQ(in_file.ir1_pre_delay, bank[3].ir1_pre_delay);

    std::string const one = program_tfx_bytes(bank[9], false);
    std::memcpy(static_cast<void*>(&in_file), one.data() + 56, sizeof in_file);
    EXPECT_EQ(std::memcmp(&in_file, &bank[9], 2968), 0);
    std::memcpy(static_cast<void*>(&in_file), one.data() + 56 + 2972, sizeof in_file);
    EXPECT_EQ(in_file.version_stamp, 2101);
    EXPECT_STREQ(in_file.name, fresh.name);
    EXPECT_EQ(tfx_file_name(bank[9]), "Hall 9.tfx"); // trailing blanks dropped
}

TEST_F(BankFilesTest, ARecentBankMovesToTheTopAndTheOthersMoveDown)
{
    for (int k = 0; k < 10; ++k)
        set_browser_preset_recent_in_registry(k, "/banks/" + std::to_string(k) + ".fxb");
    add_recent_bank_file("/banks/3.fxb"); // entry 3 to the top; 0..2 to 1..3; 4..9 stay
    std::vector<std::string> expected{"3", "0", "1", "2", "4", "5", "6", "7", "8", "9"};
    for (int k = 0; k < 10; ++k)
        EXPECT_EQ(extract_data_from_registry_preset_recent_file(k), "/banks/" + expected[static_cast<std::size_t>(k)] + ".fxb") << k;
    add_recent_bank_file("/banks/new.fxb"); // not listed: everything moves down, the last drops
    EXPECT_EQ(extract_data_from_registry_preset_recent_file(0), "/banks/new.fxb");
    EXPECT_EQ(extract_data_from_registry_preset_recent_file(1), "/banks/3.fxb");
    EXPECT_EQ(extract_data_from_registry_preset_recent_file(9), "/banks/8.fxb");
}

TEST_F(BankFilesTest, TheRecentListFillsFromAFreshSettingsFile)
{
    add_recent_bank_file("/banks/a.fxb");
    add_recent_bank_file("/banks/b.fxb");
    EXPECT_EQ(extract_data_from_registry_preset_recent_file(0), "/banks/b.fxb");
    EXPECT_EQ(extract_data_from_registry_preset_recent_file(1), "/banks/a.fxb");
}

TEST_F(BankFilesTest, AUserSlotShowsItsFileOnlyWhileItIsAnExistingBankFile)
{
    TempDir dir{"corvella-banks-"};
    std::string const bank = (dir / "Rooms.fxb").string(), other = (dir / "Rooms.txt").string();
    std::ofstream(bank) << "x";
    std::ofstream(other) << "x";
    set_user_bank_slot(1, bank);
    set_user_bank_slot(10, other);
    set_user_bank_slot(11, bank); // no such slot
    EXPECT_EQ(extract_data_from_registry_user_fxb(0), bank);
    EXPECT_EQ(user_bank_slot_label(1), "1: Rooms.fxb");
    EXPECT_EQ(user_bank_slot_path(1), bank);
    EXPECT_EQ(user_bank_slot_label(10), "10: Empty"); // not a bank file
    EXPECT_EQ(user_bank_slot_label(2), "2: Empty");
    std::filesystem::remove(bank);
    EXPECT_EQ(user_bank_slot_label(1), "1: Empty"); // the file went away
    clear_user_bank_slot(1);
    EXPECT_EQ(extract_data_from_registry_user_fxb(0), "");
}

} // namespace
} // namespace corvella::test
