#include "platform/settings_store.h"

#include "platform/registry.h"
#include "platform/xml_io.h"
#include "settings_fixture.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace corvella::test;

using StoreTest = SettingsTest;

// ---- CheckPrefs -------------------------------------------------------------------------------

TEST_F(StoreTest, CheckPrefsCreatesTheFolderAndCopiesTheDefault)
{
    ASSERT_FALSE(fs::exists(folder()));
    CheckPrefs();
    EXPECT_TRUE(fs::is_directory(folder()));
    EXPECT_EQ(read_settings(), read_bytes(source_default_settings));
    EXPECT_EQ(folder_entries(), std::vector<std::string>{"Corvella.xml"});
    EXPECT_EQ(messages_.count(), 0u);
}

TEST_F(StoreTest, CheckPrefsKeepsTheDefaultsPermissionsButStaysWritable)
{
    TempDir defaults;
    fs::path const read_only_default = defaults / "Corvella.xml";
    write_bytes(read_only_default, read_bytes(source_default_settings));
    fs::permissions(read_only_default,
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    corvella::set_default_settings_file(read_only_default);

    CheckPrefs();
    struct stat status {};
    ASSERT_EQ(::stat(file().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644u);
}

TEST_F(StoreTest, CheckPrefsReplacesAnEmptyOrBlankFile)
{
    for (std::string const blank : {"", "   \n\t\r\n  "}) {
        write_settings(blank);
        CheckPrefs();
        EXPECT_EQ(read_settings(), read_bytes(source_default_settings));
    }
    EXPECT_EQ(folder_entries(), std::vector<std::string>{"Corvella.xml"});
    EXPECT_EQ(messages_.count(), 0u);
}

TEST_F(StoreTest, CheckPrefsKeepsAnExistingSettingsFile)
{
    std::string const own = settings_document({{user_value("Latency"), "512"}});
    write_settings(own);
    CheckPrefs();
    EXPECT_EQ(read_settings(), own);
    EXPECT_EQ(extract_data_from_registry_latency(), 512);
    EXPECT_EQ(messages_.count(), 0u);
}

TEST_F(StoreTest, CheckPrefsKeepsACorruptFileAsACopyAndRestoresTheDefault)
{
    std::string const corrupt = "<?xml version=\"1.0\" ?>\n<Registry>\n    <HKEY_CURRENT_USER:SOFTWARE:Tar";
    write_settings(corrupt);
    CheckPrefs();

    EXPECT_EQ(read_settings(), read_bytes(source_default_settings));
    EXPECT_EQ(read_bytes(folder() / "Corvella.xml.corrupt"), corrupt);
    EXPECT_EQ(folder_entries(), (std::vector<std::string>{"Corvella.xml", "Corvella.xml.corrupt"}));

    ASSERT_EQ(messages_.count(), 1u);
    RecordedMessage const message = messages_.last();
    EXPECT_EQ(message.caption, "Tarnwick: Corvella");
    EXPECT_EQ(message.type, 0);
    EXPECT_NE(message.text.find(file().string()), std::string::npos) << message.text;
    EXPECT_NE(message.text.find((folder() / "Corvella.xml.corrupt").string()), std::string::npos)
        << message.text;
    EXPECT_EQ(message.text.find('\n'), std::string::npos) << message.text;

    // Once repaired, nothing more is said.
    CheckPrefs();
    EXPECT_EQ(messages_.count(), 1u);
}

TEST_F(StoreTest, ALaterCorruptionDoesNotOverwriteAnEarlierCopy)
{
    write_settings("first broken file");
    CheckPrefs();
    write_settings("<Registry><second");
    CheckPrefs();
    EXPECT_EQ(read_bytes(folder() / "Corvella.xml.corrupt"), "first broken file");
    EXPECT_EQ(read_bytes(folder() / "Corvella.xml.corrupt.1"), "<Registry><second");
    EXPECT_EQ(messages_.count(), 2u);
}

TEST_F(StoreTest, WithoutADefaultCheckPrefsLeavesAnEmptyFileAndSaysSo)
{
    corvella::set_default_settings_file(config_ / "no-default-here.xml");
    CheckPrefs();
    EXPECT_TRUE(fs::is_directory(folder()));
    ASSERT_TRUE(fs::exists(file()));
    EXPECT_EQ(read_settings(), "");
    ASSERT_EQ(messages_.count(), 1u);
    EXPECT_EQ(messages_.last().caption, "Tarnwick: Corvella");
    EXPECT_NE(messages_.last().text.find("Corvella.xml"), std::string::npos);

    EXPECT_EQ(error_of([] { extract_data_from_registry_latency(); }),
              settings_error("Could not query key for size (Code #2: latency).\n"));

    // Writing still works, and the document it creates is kept by a later CheckPrefs.
    set_latency_in_registry(256);
    EXPECT_EQ(extract_data_from_registry_latency(), 256);
    corvella::set_default_settings_file(source_default_settings);
    CheckPrefs();
    EXPECT_EQ(extract_data_from_registry_latency(), 256);
}

TEST_F(StoreTest, WithoutADefaultACorruptFileIsStillKept)
{
    corvella::set_default_settings_file(config_ / "no-default-here.xml");
    write_settings("\x01\x02 not xml");
    CheckPrefs();
    EXPECT_EQ(read_bytes(folder() / "Corvella.xml.corrupt"), "\x01\x02 not xml");
    EXPECT_EQ(read_settings(), "");
    EXPECT_EQ(messages_.count(), 2u);

    corvella::set_default_settings_file(source_default_settings);
    CheckPrefs();
    EXPECT_EQ(read_settings(), read_bytes(source_default_settings));
}

TEST_F(StoreTest, PreferencePathIsThePrivateConfigFolder)
{
    EXPECT_EQ(GetPreferencePathRaw(), config_.path().string() + "/");
}

// ---- The shipped default ------------------------------------------------------------------------

TEST_F(StoreTest, ShippedDefaultDefinesEveryIntegerTheEngineReadsAtStart)
{
    CheckPrefs();
    EXPECT_EQ(extract_data_from_registry_latency(), 0);
    EXPECT_EQ(extract_data_from_registry_sr_gain(), 0);
    EXPECT_EQ(extract_data_from_registry_program_change_blocks_audio(), 0);
    EXPECT_EQ(extract_data_from_registry_ir_gain_min(), -50);
    EXPECT_EQ(extract_data_from_registry_ir_gain_max(), 50);
    EXPECT_EQ(extract_data_from_registry_master_gain_min(), -30);
    EXPECT_EQ(extract_data_from_registry_master_gain_max(), 30);
    EXPECT_EQ(extract_data_from_registry_wet_lock(), 0);
    // The same through the typed accessor and the names the engine uses.
    struct Expected {
        char const* name;
        int value;
    };
    for (Expected const& key :
         {Expected{"Latency", 0}, Expected{"SRNorm", 0}, Expected{"ProgramChangeBlocksAudio", 0},
          Expected{"IRGainMin", -50}, Expected{"IRGainMax", 50}, Expected{"MasterGainMin", -30},
          Expected{"MasterGainMax", 30}, Expected{"WetLock", 0}})
        EXPECT_EQ(extract_data_from_registry_int(key.name), key.value) << key.name;
}

TEST_F(StoreTest, ShippedDefaultDefinesEveryOtherKeyOfTheStore)
{
    CheckPrefs();
    EXPECT_EQ(extract_data_from_registry_auto_pair_ts(), 1);
    EXPECT_EQ(extract_data_from_registry_home_pref(), 0);
    EXPECT_EQ(extract_data_from_registry_dials_mode(), 0);
    EXPECT_EQ(extract_data_from_registry_colour_scheme(), 0);
    EXPECT_EQ(extract_data_from_registry_ir_vis_selection_mode(), 0);
    EXPECT_EQ(extract_data_from_registry_hide_presets(), 0);
    EXPECT_EQ(extract_data_from_registry_hide_lower_pane(), 0);
    EXPECT_EQ(extract_data_from_registry_home_pref_dir(), "");
    EXPECT_EQ(extract_data_from_registry_initial_presets(), "");
    EXPECT_EQ(extract_data_from_registry_install_dir(), "");
    EXPECT_EQ(messages_.count(), 0u);
}

TEST_F(StoreTest, ShippedDefaultHasTheSettingsLayout)
{
    std::string const text = read_bytes(source_default_settings);
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" ?>\n<Registry>\n", 0), 0u);
    EXPECT_NE(text.find("<HKEY_CURRENT_USER:SOFTWARE:Tarnwick:Corvella:Latency>0</"
                        "HKEY_CURRENT_USER:SOFTWARE:Tarnwick:Corvella:Latency>"),
              std::string::npos);
    CXmlIO document(source_default_settings);
    EXPECT_EQ(document.state(), CXmlIO::State::valid);
}

// ---- Reading ------------------------------------------------------------------------------------

TEST_F(StoreTest, IntegersOutsideTheRangeReadAsMinusOne)
{
    struct Case {
        char const* text;
        int expected;
    };
    for (Case const& c :
         {Case{"20000", -1}, Case{"-15999", -15999}, Case{"15999", 15999}, Case{"16000", -1},
          Case{"-16000", -1}, Case{"99999999999999999999999", -1}, Case{"0", 0}, Case{"-1", -1},
          Case{"  42", 42}, Case{"+7", 7}, Case{"12abc", 12}, Case{"abc", 0}, Case{"", 0}}) {
        write_settings(settings_document({{user_value("Latency"), c.text}}));
        EXPECT_EQ(extract_data_from_registry_int("Latency"), c.expected) << '"' << c.text << '"';
        EXPECT_EQ(extract_data_from_registry_latency(), c.expected) << '"' << c.text << '"';
    }
}

TEST_F(StoreTest, AValueOnlyUnderTheMachineRootIsReadFromThere)
{
    write_settings(
        settings_document({{machine_value("Latency"), "1024"}, {machine_value("HomePrefDir"), "/srv/ir"}}));
    EXPECT_EQ(extract_data_from_registry_latency(), 1024);
    EXPECT_EQ(extract_data_from_registry_home_pref_dir(), "/srv/ir");
}

TEST_F(StoreTest, TheUserRootWinsOverTheMachineRoot)
{
    write_settings(settings_document({{machine_value("Latency"), "1024"}, {user_value("Latency"), "128"}}));
    EXPECT_EQ(extract_data_from_registry_latency(), 128);
}

TEST_F(StoreTest, WritesAlwaysGoToTheUserRoot)
{
    write_settings(settings_document({{machine_value("Latency"), "1024"}}));
    set_latency_in_registry(2048);
    EXPECT_EQ(read_settings(),
              settings_document({{machine_value("Latency"), "1024"}, {user_value("Latency"), "2048"}}));
    EXPECT_EQ(extract_data_from_registry_latency(), 2048);
}

TEST_F(StoreTest, InstallDirIsReadUnderTheMachineRootOnly)
{
    write_settings(settings_document({{user_value("InstallDir"), "/home/me/wrong"}}));
    EXPECT_EQ(error_of([] { extract_data_from_registry_install_dir(); }),
              settings_error("Could not query key for size (Code #31: install directory).\n"));

    write_settings(settings_document(
        {{user_value("InstallDir"), "/home/me/wrong"}, {machine_value("InstallDir"), "/opt/corvella/"}}));
    EXPECT_EQ(extract_data_from_registry_install_dir(), "/opt/corvella/");
}

TEST_F(StoreTest, AnElementWithoutTextReadsAsEmpty)
{
    write_bytes(file(), "<?xml version=\"1.0\" ?>\n<Registry>\n    <" + user_value("HomePrefDir") +
                            " />\n    <" + user_value("InitialPresets") + "></" +
                            user_value("InitialPresets") + ">\n</Registry>\n");
    EXPECT_EQ(extract_data_from_registry_home_pref_dir(), "");
    EXPECT_EQ(extract_data_from_registry_initial_presets(), "");
    EXPECT_EQ(extract_data_from_registry_string("HomePrefDir"), "");
}

TEST_F(StoreTest, AMissingValueRaisesTheSizeQueryError)
{
    write_settings(settings_document({}));
    EXPECT_EQ(error_of([] { extract_data_from_registry_int("Latency"); }),
              settings_error("Could not query key for size (Latency).\n"));
    EXPECT_EQ(error_of([] { extract_data_from_registry_string("BrowserDir3"); }),
              settings_error("Could not query key for size (BrowserDir3).\n"));
}

TEST_F(StoreTest, ANamedReadOfAMissingValueRaisesItsNumberedMessage)
{
    write_settings(settings_document({}));
    struct Case {
        std::function<void()> read;
        char const* message;
    };
    Case const cases[] = {
        {[] { extract_data_from_registry_latency(); }, "Could not query key for size (Code #2: latency).\n"},
        {[] { extract_data_from_registry_auto_pair_ts(); },
         "Could not query key for size (Code #8: auto pair ts).\n"},
        {[] { extract_data_from_registry_sr_gain(); }, "Could not query key for size (Code #14: sr gain).\n"},
        {[] { extract_data_from_registry_home_pref(); },
         "Could not query key for size (Code #22: home preferences).\n"},
        {[] { extract_data_from_registry_wet_lock(); },
         "Could not query key for size (Code #28: wet lock).\n"},
        {[] { extract_data_from_registry_install_dir(); },
         "Could not query key for size (Code #31: install directory).\n"},
        {[] { extract_data_from_registry_dials_mode(); },
         "Could not query key for size (Code #42: dials mode).\n"},
        {[] { extract_data_from_registry_search_dir(0); },
         "Could not query key for size (Code #48: search dir).\n"},
        {[] { extract_data_from_registry_initial_presets(); },
         "Could not query key for size (Code #54: initial presets).\n"},
        {[] { extract_data_from_registry_home_browser_dir(2); },
         "Could not query key for size (Code #60: home browser dir).\n"},
        {[] { extract_data_from_registry_preset_recent_file(9); },
         "Could not query key for size (Code #63: Preset recent).\n"},
        {[] { extract_data_from_registry_home_pref_dir(); },
         "Could not query key for size (Code #87: home pref dir).\n"},
        {[] { extract_data_from_registry_program_change_blocks_audio(); },
         "Could not query key for size (Code #101: program change blocks audio).\n"},
        {[] { extract_data_from_registry_ir_gain_min(); },
         "Could not query key for size (Code #107: ir gain min).\n"},
        {[] { extract_data_from_registry_ir_gain_max(); },
         "Could not query key for size (Code #113: ir gain max).\n"},
        {[] { extract_data_from_registry_master_gain_min(); },
         "Could not query key for size (Code #119: master gain min).\n"},
        {[] { extract_data_from_registry_master_gain_max(); },
         "Could not query key for size (Code #125: master gain max).\n"},
        {[] { extract_data_from_registry_colour_scheme(); },
         "Could not query key for size (Code #131: colour scheme).\n"},
        {[] { extract_data_from_registry_ir_vis_selection_mode(); },
         "Could not query key for size (Code #137: ir vis selection mode).\n"},
        {[] { extract_data_from_registry_hide_presets(); },
         "Could not query key for size (Code #143: hide presets).\n"},
        {[] { extract_data_from_registry_hide_lower_pane(); },
         "Could not query key for size (Code #149: hide lower pane).\n"},
        {[] { extract_data_from_registry_user_fxb(4); },
         "Could not query key for size (Code #155: user fxb).\n"},
        {[] { extract_data_from_registry_user_specified_lost_location(49); },
         "Could not query key for size (Code #161: user lost location).\n"},
    };
    for (Case const& c : cases)
        EXPECT_EQ(error_of(c.read), settings_error(c.message));
}

TEST_F(StoreTest, AMissingFileRaisesTheErrorsWithoutCreatingIt)
{
    EXPECT_EQ(error_of([] { extract_data_from_registry_latency(); }),
              settings_error("Could not query key for size (Code #2: latency).\n"));
    EXPECT_FALSE(fs::exists(file()));
}

// ---- Writing ------------------------------------------------------------------------------------

TEST_F(StoreTest, WritingIntoAnEmptyFileCreatesTheWholeDocument)
{
    write_settings("");
    set_data_in_registry_int("Latency", 256);
    EXPECT_EQ(read_settings(), "<?xml version=\"1.0\" ?>\n"
                               "<Registry>\n"
                               "    <HKEY_CURRENT_USER:SOFTWARE:Tarnwick:Corvella:Latency>256"
                               "</HKEY_CURRENT_USER:SOFTWARE:Tarnwick:Corvella:Latency>\n"
                               "</Registry>\n");
}

TEST_F(StoreTest, WritingWithoutAFileOrFolderCreatesBoth)
{
    ASSERT_FALSE(fs::exists(folder()));
    set_wet_lock_in_registry(1);
    EXPECT_EQ(read_settings(), settings_document({{user_value("WetLock"), "1"}}));
    EXPECT_EQ(extract_data_from_registry_wet_lock(), 1);
}

TEST_F(StoreTest, WritingReplacesTheValueAndKeepsTheOthers)
{
    CheckPrefs();
    set_latency_in_registry(4096);
    set_latency_in_registry(1024);
    EXPECT_EQ(extract_data_from_registry_latency(), 1024);
    EXPECT_EQ(extract_data_from_registry_ir_gain_min(), -50);
    std::string const text = read_settings();
    std::string const element = "<" + user_value("Latency") + ">";
    EXPECT_EQ(text.find(element), text.rfind(element)) << "the value is stored once";
}

TEST_F(StoreTest, EveryNamedWriterStoresUnderItsKey)
{
    write_settings("");
    set_latency_in_registry(512);
    set_auto_pair_ts_in_registry(0);
    set_home_pref_in_registry(2);
    set_wet_lock_in_registry(2);
    set_dials_mode_in_registry(1);
    set_sr_gain_in_registry(2);
    set_program_change_blocks_audio_in_registry(1);
    set_ir_gain_min_in_registry(-60);
    set_ir_gain_max_in_registry(20);
    set_master_gain_min_in_registry(-40);
    set_master_gain_max_in_registry(10);
    set_colour_scheme_in_registry(8);
    set_ir_vis_selection_mode_in_registry(1);
    set_hide_presets_in_registry(1);
    set_hide_lower_pane_in_registry(1);
    set_home_pref_dir_in_registry("/srv/ir/");
    set_initial_presets_in_registry("1");
    set_browser_dir_in_registry(3, "/srv/browse/");
    set_search_dir_in_registry(1, "/srv/search/");
    set_browser_preset_recent_in_registry(9, "/srv/banks/recent.fxb");
    set_user_fxb_in_registry(0, "/srv/banks/user.fxb");
    set_user_specified_lost_location_in_registry(49, "/srv/lost/");

    EXPECT_EQ(read_settings(), settings_document({
                                   {user_value("Latency"), "512"},
                                   {user_value("AutoPairTS"), "0"},
                                   {user_value("HomePref"), "2"},
                                   {user_value("WetLock"), "2"},
                                   {user_value("DialsMode"), "1"},
                                   {user_value("SRNorm"), "2"},
                                   {user_value("ProgramChangeBlocksAudio"), "1"},
                                   {user_value("IRGainMin"), "-60"},
                                   {user_value("IRGainMax"), "20"},
                                   {user_value("MasterGainMin"), "-40"},
                                   {user_value("MasterGainMax"), "10"},
                                   {user_value("ColourScheme"), "8"},
                                   {user_value("IRVisSelectionMode"), "1"},
                                   {user_value("HidePresets"), "1"},
                                   {user_value("HideLowerPane"), "1"},
                                   {user_value("HomePrefDir"), "/srv/ir/"},
                                   {user_value("InitialPresets"), "1"},
                                   {user_value("BrowserDir3"), "/srv/browse/"},
                                   {user_value("SearchDir1"), "/srv/search/"},
                                   {user_value("PresetRecent9"), "/srv/banks/recent.fxb"},
                                   {user_value("UserFXB0"), "/srv/banks/user.fxb"},
                                   {user_value("UserSpecifiedLostLocation49"), "/srv/lost/"},
                               }));

    EXPECT_EQ(extract_data_from_registry_home_browser_dir(3), "/srv/browse/");
    EXPECT_EQ(extract_data_from_registry_search_dir(1), "/srv/search/");
    EXPECT_EQ(extract_data_from_registry_preset_recent_file(9), "/srv/banks/recent.fxb");
    EXPECT_EQ(extract_data_from_registry_user_fxb(0), "/srv/banks/user.fxb");
    EXPECT_EQ(extract_data_from_registry_user_specified_lost_location(49), "/srv/lost/");
    EXPECT_EQ(extract_data_from_registry_ir_gain_min(), -60);
    EXPECT_EQ(extract_data_from_registry_colour_scheme(), 8);
}

TEST_F(StoreTest, TextsComeBackExactlyAsWritten)
{
    CheckPrefs();
    for (std::string const text : {"/Volumes/Audio Disk/IRs  (old)/Hall.wav", "  leading and trailing  ",
                                   "R&D <tests> \"quoted\" 'single'",
                                   "/home/m\xC3\xBCller/\xC3\xA9t\xC3\xA9.wav", "tab\there", "line\nbreak"}) {
        set_home_pref_dir_in_registry(text);
        EXPECT_EQ(extract_data_from_registry_home_pref_dir(), text);
        set_data_in_registry_string("PresetRecent0", text);
        EXPECT_EQ(extract_data_from_registry_string("PresetRecent0"), text);
    }
}

TEST_F(StoreTest, ANameTheFileCannotHoldIsRefusedAndTheFileStaysReadable)
{
    CheckPrefs();
    std::string const before = read_settings();
    EXPECT_EQ(error_of([] { set_data_in_registry_string("Bad Name", "x"); }),
              settings_error("Could not set key value (Bad Name).\n"));
    EXPECT_EQ(error_of([] { set_data_in_registry_int("", 1); }),
              settings_error("Could not set key value ().\n"));
    EXPECT_EQ(read_settings(), before);
    EXPECT_EQ(error_of([] { extract_data_from_registry_string("Bad Name"); }),
              settings_error("Could not query key for size (Bad Name).\n"));
}

TEST_F(StoreTest, AFileThatCannotBeReplacedRaisesTheSetErrors)
{
    // A folder where the settings file should be: it can be neither read nor replaced.
    fs::create_directories(file() / "in-the-way");
    EXPECT_EQ(error_of([] { set_data_in_registry_int("Latency", 0); }),
              settings_error("Could not set key value (Latency).\n"));
    EXPECT_EQ(error_of([] { set_home_pref_in_registry(1); }),
              settings_error("Could not set key (Code #25: home preferences).\n"));
    EXPECT_EQ(error_of([] { set_browser_dir_in_registry(0, "/srv"); }),
              settings_error("Could not open/create key (Code #38b: browser dir).\n"));
    EXPECT_EQ(error_of([] { set_latency_in_registry(0); }),
              settings_error("Could not set key (Code #5: latency).\n"));
    EXPECT_EQ(error_of([] { extract_data_from_registry_latency(); }),
              settings_error("Could not query key for size (Code #2: latency).\n"));
    EXPECT_TRUE(fs::is_directory(file() / "in-the-way"));
}

TEST_F(StoreTest, ErrorsAreRuntimeErrors)
{
    write_settings(settings_document({}));
    EXPECT_THROW(extract_data_from_registry_latency(), std::runtime_error);
    EXPECT_THROW(extract_data_from_registry_home_pref_dir(), std::runtime_error);
}

// ---- Corrupt files ------------------------------------------------------------------------------

class CorruptFile : public SettingsTest, public testing::WithParamInterface<std::string> {};

TEST_P(CorruptFile, ReadsRaiseTheErrorsAndLeaveTheFileAlone)
{
    write_settings(GetParam());
    EXPECT_EQ(error_of([] { extract_data_from_registry_latency(); }),
              settings_error("Could not query key for size (Code #2: latency).\n"));
    EXPECT_EQ(error_of([] { extract_data_from_registry_string("HomePrefDir"); }),
              settings_error("Could not query key for size (HomePrefDir).\n"));
    EXPECT_EQ(read_settings(), GetParam());
    EXPECT_EQ(folder_entries(), std::vector<std::string>{"Corvella.xml"});
    EXPECT_EQ(messages_.count(), 0u);
}

TEST_P(CorruptFile, AWriteKeepsTheOldBytesBesideTheNewFile)
{
    write_settings(GetParam());
    set_latency_in_registry(128);

    EXPECT_EQ(read_bytes(folder() / "Corvella.xml.corrupt"), GetParam());
    EXPECT_EQ(read_settings(), settings_document({{user_value("Latency"), "128"}}));
    EXPECT_EQ(extract_data_from_registry_latency(), 128);
    EXPECT_EQ(folder_entries(), (std::vector<std::string>{"Corvella.xml", "Corvella.xml.corrupt"}));
    ASSERT_EQ(messages_.count(), 1u);
    EXPECT_EQ(messages_.last().caption, "Tarnwick: Corvella");
    EXPECT_NE(messages_.last().text.find((folder() / "Corvella.xml.corrupt").string()), std::string::npos);
}

TEST_P(CorruptFile, CheckPrefsRestoresTheDefault)
{
    write_settings(GetParam());
    CheckPrefs();
    EXPECT_EQ(read_bytes(folder() / "Corvella.xml.corrupt"), GetParam());
    EXPECT_EQ(extract_data_from_registry_ir_gain_max(), 50);
}

std::string deeply_nested(int levels)
{
    std::string text;
    for (int i = 0; i < levels; ++i)
        text += "<a>";
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Contents, CorruptFile,
    testing::Values(std::string("garbage that is not xml"),
                    std::string("<?xml version=\"1.0\" ?>\n<Registry>\n    <HKEY_CURRENT_"),
                    std::string("<Registry><a>1</b></Registry>"),
                    std::string("<Settings><x>1</x></Settings>"), std::string("<?xml version=\"1.0\" ?>\n"),
                    std::string("\x00\xff\xfe\x01 binary", 11), deeply_nested(200000)));

// ---- Files on disk ------------------------------------------------------------------------------

TEST_F(StoreTest, WritesLeaveNoTemporaryFilesBehind)
{
    CheckPrefs();
    for (int i = 0; i < 20; ++i)
        set_data_in_registry_int("BrowserDir" + std::to_string(i % 5), i);
    EXPECT_EQ(folder_entries(), std::vector<std::string>{"Corvella.xml"});
}

TEST_F(StoreTest, ThreadsWritingAtOnceLoseNothing)
{
    CheckPrefs();
    constexpr int writers = 4;
    constexpr int writes = 15;
    std::vector<std::thread> threads;
    for (int t = 0; t < writers; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < writes; ++i) {
                set_data_in_registry_int("SearchDir" + std::to_string(t * writes + i), t * 100 + i);
                extract_data_from_registry_latency();
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    for (int t = 0; t < writers; ++t)
        for (int i = 0; i < writes; ++i)
            EXPECT_EQ(extract_data_from_registry_int("SearchDir" + std::to_string(t * writes + i)),
                      t * 100 + i);
    EXPECT_EQ(folder_entries(), std::vector<std::string>{"Corvella.xml"});
}

} // namespace
