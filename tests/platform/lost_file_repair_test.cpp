// Lost-file repair: the search order, the list of places that grows with each find, the question
// naming what stays missing, other volumes, and the persistent list of lost locations.
#include "platform/lost_file_repair.h"

#include "platform/settings_fixture.h"
#include "platform/settings_store.h"
#include "program/vst_plugin_program.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace corvella::test;
namespace fs = std::filesystem;

void touch(fs::path const& path)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
}

template <std::size_t N> void put(char (&field)[N], std::string const& text)
{
    ASSERT_LT(text.size(), N);
    std::strcpy(field, text.c_str());
}

class LostFileRepairTest : public SettingsTest {
protected:
    LostFileRepairTest() { CheckPrefs(); }

    bool repair(VST_Plugin_Program& program) { return repair(program, prompt); }
    bool repair(VST_Plugin_Program& program, corvella::LostFilePrompt& state)
    {
        return corvella::check_and_repair_lost_files_in_program(program, locations, state, false);
    }

    TempDir data_{"corvella-data-"};
    ScopedVariable data_home_{"XDG_DATA_HOME", data_.path().c_str()};
    TempDir disk_{"corvella-disk-"};
    std::string disk = disk_.path().string();
    std::vector<std::string> locations;
    corvella::LostFilePrompt prompt;
};

TEST_F(LostFileRepairTest, AMovedFolderUnderASearchLocationIsFoundAndJoinsTheList)
{
    touch(disk_ / "Library" / "Halls" / "Big L.wav");
    touch(disk_ / "Library" / "Halls" / "Big R.wav");
    set_search_dir_in_registry(0, disk + "/Nothing here");
    set_search_dir_in_registry(1, disk + "/Library");
    locations = {"/gone/Factory/anyoldfile.wav"};

    VST_Plugin_Program program;
    put(program.ir1_file_a, "/old machine/IRs/Halls/Big L.wav");
    put(program.ir1_file_b, "/old machine/IRs/Halls/Big R.wav");
    EXPECT_TRUE(repair(program));

    std::string const folder = disk + "/Library/Halls/";
    EXPECT_EQ(std::string(program.ir1_file_a), folder + "Big L.wav");
    EXPECT_EQ(std::string(program.ir1_file_b), folder + "Big R.wav");
    // The second file came from the first one's folder, which the list holds once.
    EXPECT_EQ(locations, (std::vector<std::string>{"/gone/Factory/anyoldfile.wav", folder + "Big L.wav"}));
    EXPECT_EQ(messages_.count(), 0u);
}

TEST_F(LostFileRepairTest, TheSearchOrderStopsAtTheFirstFind)
{
    // A lost location's folder, then its parent + the lost file's own folder name.
    touch(disk_ / "Sets" / "Strings" / "a.wav");
    touch(disk_ / "Sets" / "Factory" / "b.wav");
    touch(disk_ / "Search" / "b.wav");
    set_search_dir_in_registry(0, disk + "/Search");
    locations = {disk + "/Sets/Factory/anyoldfile.wav"};

    VST_Plugin_Program program;
    put(program.ir1_file_a, "C:\\Old\\Strings\\a.wav");
    put(program.ir2_file_b, "/old/Strings/b.wav");
    EXPECT_TRUE(repair(program));
    EXPECT_EQ(std::string(program.ir1_file_a), disk + "/Sets/Strings/a.wav");
    EXPECT_EQ(std::string(program.ir2_file_b), disk + "/Sets/Factory/b.wav");

    // A file that exists stays, though the factory presets folder holds one of its name.
    touch(folder() / "Presets" / "Factory" / "b.wav");
    put(program.ir2_file_b, disk + "/Search/b.wav");
    EXPECT_FALSE(repair(program));
    EXPECT_EQ(std::string(program.ir2_file_b), disk + "/Search/b.wav");
    // The factory presets folder comes before the lost locations.
    put(program.ir2_file_a, "/old/Strings/b.wav");
    EXPECT_TRUE(repair(program));
    EXPECT_EQ(fs::path(program.ir2_file_a), folder() / "Presets" / "Factory" / "b.wav");
}

TEST_F(LostFileRepairTest, AFileStillMissingIsNamedOnceAndANoEndsTheQuestions)
{
    VST_Plugin_Program program;
    put(program.name, "Cathedral");
    put(program.ir1_file_a, "/nowhere/Cathedral L.wav");
    put(program.ir2_file_a, "/nowhere/Plate.wav");
    messages_.answer_no();
    EXPECT_FALSE(repair(program));

    EXPECT_EQ(std::string(program.ir1_file_a), "/nowhere/Cathedral L.wav");
    EXPECT_EQ(std::string(program.ir2_file_a), "/nowhere/Plate.wav");
    ASSERT_EQ(messages_.count(), 1u);
    std::string const expected =
        "Lost files encountered in Corvella preset as follows.\n\nPreset name: Cathedral"
        "\n\nFile IR1a: /nowhere/Cathedral L.wav\n\nFile IR2a: /nowhere/Plate.wav"
        "\n\nDo you wish to specify a location for this file(s) and any subsequently missing file(s) the next "
        "time the relevant Corvella window is visible?\n\nTo satisfy the lost files you will likely need to "
        "open any Corvella instance's editors to check for missing files.";
    EXPECT_EQ(messages_.last(), (RecordedMessage{"Tarnwick: Corvella", expected, 1}));
    EXPECT_FALSE(prompt.ask);
    EXPECT_FALSE(prompt.location_wanted);

    repair(program);
    EXPECT_EQ(messages_.count(), 1u);
}

TEST_F(LostFileRepairTest, AYesWantsALocationAndKeepsAsking)
{
    VST_Plugin_Program program;
    put(program.ir1_file_b, "/nowhere/x.wav");
    messages_.answer_yes();
    repair(program);
    EXPECT_TRUE(prompt.ask);
    EXPECT_TRUE(prompt.location_wanted);

    corvella::LostFilePrompt open_editor;
    corvella::check_and_repair_lost_files_in_program(program, locations, open_editor, true);
    ASSERT_EQ(messages_.count(), 2u);
    EXPECT_EQ(messages_.last().text,
              "Lost files encountered in Corvella preset as follows.\n\nPreset name: Default"
              "\n\nFile IR1b: /nowhere/x.wav\n\nDo you wish to specify a location for this file(s) and any "
              "subsequently missing file(s)?");
}

TEST_F(LostFileRepairTest, CurrentProgramOf49OrMoreBecomesZero)
{
    for (auto [stored, kept] : {std::pair{48, 48}, {49, 0}, {1000, 0}, {0, 0}}) {
        VST_Plugin_Program program;
        program.current_program = stored;
        repair(program);
        EXPECT_EQ(program.current_program, kept) << stored;
    }
}

TEST_F(LostFileRepairTest, AFileMovedToAnotherVolumeKeepsItsFolders)
{
    std::vector<std::string> const volumes{disk + "/volA/", disk + "/volB/"};
    touch(disk_ / "volB" / "IRs" / "Hall" / "x.wav");
    std::string const moved = disk + "/volB/IRs/Hall/x.wav";

    struct Case {
        std::string path;
        std::string found;
    };
    Case const cases[] = {
        {disk + "/volA/IRs/Hall/x.wav", moved},
        {"/Volumes/Old Disk/IRs/Hall/x.wav", moved},
        {"/media/someone/USB/IRs/Hall/x.wav", moved},
        {"/home/someone/IRs/Hall/x.wav", moved},
        {"/IRs/Hall/x.wav", moved},
        {"/Volumes/Old Disk/IRs/Other/x.wav", "/Volumes/Old Disk/IRs/Other/x.wav"},
    };
    for (Case const& c : cases)
        EXPECT_EQ(corvella::check_other_mac_volumes(c.path, volumes), c.found) << c.path;
}

TEST_F(LostFileRepairTest, ThePersistentListPutsTheNewestFirstOnce)
{
    corvella::add_user_specified_lost_locations("/a/");
    corvella::add_user_specified_lost_locations("/b/");
    corvella::add_user_specified_lost_locations("/c/");
    corvella::add_user_specified_lost_locations("/b/");
    EXPECT_EQ(corvella::extract_all_user_specified_lost_locations(),
              (std::vector<std::string>{"/c/", "/b/", "/a/"}));
}

TEST_F(LostFileRepairTest, ThePersistentListHoldsFifty)
{
    std::vector<std::pair<std::string, std::string>> values;
    for (int n = 0; n < 50; ++n)
        values.emplace_back(user_value("UserSpecifiedLostLocation" + std::to_string(n)), "/f" + std::to_string(n) + "/");
    write_settings(settings_document(values));

    corvella::add_user_specified_lost_locations("/new/");
    std::vector<std::string> expected{"/new/"};
    for (int n = 0; n < 49; ++n)
        expected.push_back("/f" + std::to_string(n) + "/");
    EXPECT_EQ(corvella::extract_all_user_specified_lost_locations(), expected);
}

} // namespace
