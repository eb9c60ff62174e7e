// The settings store: CheckPrefs and the shipped default, reading with the root fallback and the
// integer range, writing the exact layout, every message text, and corrupt or unwritable files.
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
using Entries = std::vector<std::string>;

class StoreTest : public SettingsTest {
protected:
    std::string corrupt_copy(char const* suffix = "") const
    {
        return read_bytes(folder() / (std::string("Corvella.xml.corrupt") + suffix));
    }
};

// Each named accessor pair: its value name, its reader and the code of the reader's message, the
// writer with the text it stores, and the value of the shipped default (null: not in it).
struct Named {
    char const* name;
    std::function<std::string()> read;
    char const* read_code;
    std::function<void()> write; // null: no writer
    char const* written;
    char const* shipped;
};

std::string as_text(int value)
{
    return std::to_string(value);
}
std::string as_text(std::string text)
{
    return text;
}

#define READ(name, ...) [] { return as_text(extract_data_from_registry_##name(__VA_ARGS__)); }
#define WRITE(name, ...) [] { set_##name##_in_registry(__VA_ARGS__); }
// clang-format off
std::vector<Named> const kNamed = {
    {"Latency", READ(latency), "#2: latency", WRITE(latency, 512), "512", "0"},
    {"AutoPairTS", READ(auto_pair_ts), "#8: auto pair ts", WRITE(auto_pair_ts, 0), "0", "1"},
    {"SRNorm", READ(sr_gain), "#14: sr gain", WRITE(sr_gain, 2), "2", "0"},
    {"HomePref", READ(home_pref), "#22: home preferences", WRITE(home_pref, 2), "2", "0"},
    {"WetLock", READ(wet_lock), "#28: wet lock", WRITE(wet_lock, 2), "2", "0"},
    {"InstallDir", READ(install_dir), "#31: install directory", nullptr, nullptr, ""},
    {"DialsMode", READ(dials_mode), "#42: dials mode", WRITE(dials_mode, 1), "1", "0"},
    {"SearchDir1", READ(search_dir, 1), "#48: search dir",
     WRITE(search_dir, 1, "/srv/search/"), "/srv/search/", nullptr},
    {"InitialPresets", READ(initial_presets), "#54: initial presets", WRITE(initial_presets, "1"), "1", ""},
    {"BrowserDir3", READ(home_browser_dir, 3), "#60: home browser dir",
     WRITE(browser_dir, 3, "/srv/browse/"), "/srv/browse/", nullptr},
    {"PresetRecent9", READ(preset_recent_file, 9), "#63: Preset recent",
     WRITE(browser_preset_recent, 9, "/srv/recent.fxb"), "/srv/recent.fxb", nullptr},
    {"HomePrefDir", READ(home_pref_dir), "#87: home pref dir",
     WRITE(home_pref_dir, "/srv/ir/"), "/srv/ir/", ""},
    {"ProgramChangeBlocksAudio", READ(program_change_blocks_audio), "#101: program change blocks audio",
     WRITE(program_change_blocks_audio, 1), "1", "0"},
    {"IRGainMin", READ(ir_gain_min), "#107: ir gain min", WRITE(ir_gain_min, -60), "-60", "-50"},
    {"IRGainMax", READ(ir_gain_max), "#113: ir gain max", WRITE(ir_gain_max, 20), "20", "50"},
    {"MasterGainMin", READ(master_gain_min), "#119: master gain min",
     WRITE(master_gain_min, -40), "-40", "-30"},
    {"MasterGainMax", READ(master_gain_max), "#125: master gain max", WRITE(master_gain_max, 10), "10", "30"},
    {"ColourScheme", READ(colour_scheme), "#131: colour scheme", WRITE(colour_scheme, 8), "8", "0"},
    {"IRVisSelectionMode", READ(ir_vis_selection_mode), "#137: ir vis selection mode",
     WRITE(ir_vis_selection_mode, 1), "1", "0"},
    {"HidePresets", READ(hide_presets), "#143: hide presets", WRITE(hide_presets, 1), "1", "0"},
    {"HideLowerPane", READ(hide_lower_pane), "#149: hide lower pane", WRITE(hide_lower_pane, 1), "1", "0"},
    {"UserFXB4", READ(user_fxb, 4), "#155: user fxb",
     WRITE(user_fxb, 4, "/srv/user.fxb"), "/srv/user.fxb", nullptr},
    {"UserSpecifiedLostLocation49", READ(user_specified_lost_location, 49), "#161: user lost location",
     WRITE(user_specified_lost_location, 49, "/srv/lost/"), "/srv/lost/", nullptr}};
// clang-format on
#undef READ
#undef WRITE

std::string const kNoLatency = settings_error("Could not query key for size (Code #2: latency).\n");

} // namespace

TEST_F(StoreTest, CheckPrefsCopiesTheDefaultOverAMissingOrBlankFileOnly)
{
    EXPECT_EQ(GetPreferencePathRaw(), config_.path().string() + "/");
    ASSERT_FALSE(fs::exists(folder()));
    CheckPrefs();
    EXPECT_EQ(read_settings(), read_bytes(source_default_settings));
    for (std::string const blank : {"", "   \n\t\r\n  "}) {
        write_settings(blank);
        CheckPrefs();
        EXPECT_EQ(read_settings(), read_bytes(source_default_settings)) << '"' << blank << '"';
    }
    std::string const own = settings_document({{user_value("Latency"), "512"}});
    write_settings(own);
    CheckPrefs();
    EXPECT_EQ(read_settings(), own);
    EXPECT_EQ(extract_data_from_registry_latency(), 512);
    EXPECT_EQ(folder_entries(), Entries{"Corvella.xml"});
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

TEST_F(StoreTest, CheckPrefsKeepsEachCorruptFileAsACopyAndRestoresTheDefault)
{
    std::string const corrupt = "<?xml version=\"1.0\" ?>\n<Registry>\n    <HKEY_CURRENT_USER:SOFTWARE:Tar";
    write_settings(corrupt);
    CheckPrefs();
    EXPECT_EQ(read_settings(), read_bytes(source_default_settings));
    EXPECT_EQ(corrupt_copy(), corrupt);
    ASSERT_EQ(messages_.count(), 1u);
    RecordedMessage const message = messages_.last();
    EXPECT_EQ(message.caption, "Tarnwick: Corvella");
    EXPECT_EQ(message.type, 0);
    EXPECT_NE(message.text.find(file().string()), std::string::npos) << message.text;
    EXPECT_NE(message.text.find((folder() / "Corvella.xml.corrupt").string()), std::string::npos)
        << message.text;
    EXPECT_EQ(message.text.find('\n'), std::string::npos) << message.text;
    CheckPrefs(); // once repaired, nothing more is said
    EXPECT_EQ(messages_.count(), 1u);

    // A later corruption does not overwrite the earlier copy.
    write_settings("<Registry><second");
    CheckPrefs();
    EXPECT_EQ(corrupt_copy(), corrupt);
    EXPECT_EQ(corrupt_copy(".1"), "<Registry><second");
    EXPECT_EQ(folder_entries(), (Entries{"Corvella.xml", "Corvella.xml.corrupt", "Corvella.xml.corrupt.1"}));
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
    EXPECT_EQ(error_of([] { extract_data_from_registry_latency(); }), kNoLatency);

    // A corrupt file is still kept.
    write_settings("\x01\x02 not xml");
    CheckPrefs();
    EXPECT_EQ(corrupt_copy(), "\x01\x02 not xml");
    EXPECT_EQ(read_settings(), "");
    EXPECT_EQ(messages_.count(), 3u);

    // Writing still works, and the document it creates is kept by a later CheckPrefs.
    set_latency_in_registry(256);
    corvella::set_default_settings_file(source_default_settings);
    CheckPrefs();
    EXPECT_EQ(extract_data_from_registry_latency(), 256);
}

TEST_F(StoreTest, ShippedDefaultDefinesEveryIntegerTheEngineReadsAndTheOtherKeys)
{
    std::string const text = read_bytes(source_default_settings);
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" ?>\n<Registry>\n", 0), 0u);
    EXPECT_NE(text.find("<" + user_value("Latency") + ">0</" + user_value("Latency") + ">"),
              std::string::npos);
    EXPECT_EQ(CXmlIO(source_default_settings).state(), CXmlIO::State::valid);
    CheckPrefs();
    for (Named const& key : kNamed) {
        if (key.shipped == nullptr) continue;
        EXPECT_EQ(key.read(), key.shipped) << key.name;
        EXPECT_EQ(extract_data_from_registry_string(key.name), key.shipped) << key.name;
    }
    EXPECT_EQ(messages_.count(), 0u);
}

TEST_F(StoreTest, NamedAccessorsReadTheirKeyOrRaiseTheirNumberedMessage)
{
    write_settings(settings_document({}));
    for (Named const& key : kNamed)
        EXPECT_EQ(error_of(key.read), settings_error(std::string("Could not query key for size (Code ") +
                                                     key.read_code + ").\n"));
    std::vector<std::pair<std::string, std::string>> written;
    for (Named const& key : kNamed) {
        if (!key.write) continue;
        key.write();
        written.emplace_back(user_value(key.name), key.written);
    }
    EXPECT_EQ(read_settings(), settings_document(written));
    for (Named const& key : kNamed) {
        if (!key.write) continue;
        EXPECT_EQ(key.read(), key.written) << key.name;
    }
}

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

TEST_F(StoreTest, ReadsFallBackToTheMachineRootAndWritesGoToTheUserRoot)
{
    write_settings(
        settings_document({{machine_value("Latency"), "1024"}, {machine_value("HomePrefDir"), "/srv/ir"}}));
    EXPECT_EQ(extract_data_from_registry_latency(), 1024);
    EXPECT_EQ(extract_data_from_registry_home_pref_dir(), "/srv/ir");
    set_latency_in_registry(2048);
    EXPECT_EQ(read_settings(), settings_document({{machine_value("Latency"), "1024"},
                                                  {machine_value("HomePrefDir"), "/srv/ir"},
                                                  {user_value("Latency"), "2048"}}));
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
    write_settings("<?xml version=\"1.0\" ?>\n<Registry>\n    <" + user_value("HomePrefDir") + " />\n    <" +
                   user_value("InitialPresets") + "></" + user_value("InitialPresets") + ">\n</Registry>\n");
    EXPECT_EQ(extract_data_from_registry_home_pref_dir(), "");
    EXPECT_EQ(extract_data_from_registry_initial_presets(), "");
    EXPECT_EQ(extract_data_from_registry_string("HomePrefDir"), "");
}

TEST_F(StoreTest, AMissingValueOrFileRaisesTheSizeQueryErrors)
{
    EXPECT_EQ(error_of([] { extract_data_from_registry_latency(); }), kNoLatency);
    EXPECT_FALSE(fs::exists(file())); // reading never creates the file
    write_settings(settings_document({}));
    EXPECT_EQ(error_of([] { extract_data_from_registry_int("Latency"); }),
              settings_error("Could not query key for size (Latency).\n"));
    EXPECT_EQ(error_of([] { extract_data_from_registry_string("BrowserDir3"); }),
              settings_error("Could not query key for size (BrowserDir3).\n"));
}

TEST_F(StoreTest, WritingIntoAnEmptyOrMissingFileCreatesTheWholeDocument)
{
    ASSERT_FALSE(fs::exists(folder()));
    set_data_in_registry_int("Latency", 256);
    EXPECT_EQ(read_settings(), "<?xml version=\"1.0\" ?>\n"
                               "<Registry>\n"
                               "    <HKEY_CURRENT_USER:SOFTWARE:Tarnwick:Corvella:Latency>256"
                               "</HKEY_CURRENT_USER:SOFTWARE:Tarnwick:Corvella:Latency>\n"
                               "</Registry>\n");
    write_settings("");
    set_wet_lock_in_registry(1);
    EXPECT_EQ(read_settings(), settings_document({{user_value("WetLock"), "1"}}));
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

TEST_F(StoreTest, TextsComeBackExactlyAsWritten)
{
    CheckPrefs();
    for (std::string const text : {"/Volumes/Audio Disk/IRs  (old)/Hall.wav", "  leading and trailing  ",
                                   "R&D <tests> \"quoted\" 'single'",
                                   "/home/m\xC3\xBCller/\xC3\xA9t\xC3\xA9.wav", "tab\there", "line\nbreak"}) {
        set_home_pref_dir_in_registry(text);
        EXPECT_EQ(extract_data_from_registry_home_pref_dir(), text);
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
    EXPECT_EQ(error_of([] { extract_data_from_registry_latency(); }), kNoLatency);
    EXPECT_TRUE(fs::is_directory(file() / "in-the-way"));
}

TEST_F(StoreTest, CorruptFilesRaiseReadErrorsAndAreKeptOnWriteOrCheckPrefs)
{
    std::string const deeply_nested = [] {
        std::string text;
        for (int i = 0; i < 200000; ++i)
            text += "<a>";
        return text;
    }();
    for (std::string const& corrupt :
         {std::string("garbage that is not xml"),
          std::string("<?xml version=\"1.0\" ?>\n<Registry>\n    <HKEY_CURRENT_"),
          std::string("<Registry><a>1</b></Registry>"), std::string("<Settings><x>1</x></Settings>"),
          std::string("<?xml version=\"1.0\" ?>\n"), std::string("\x00\xff\xfe\x01 binary", 11),
          deeply_nested}) {
        SCOPED_TRACE(corrupt.substr(0, 40));
        fs::remove_all(folder());
        messages_.clear();
        write_settings(corrupt);
        EXPECT_EQ(error_of([] { extract_data_from_registry_latency(); }), kNoLatency);
        EXPECT_EQ(error_of([] { extract_data_from_registry_string("HomePrefDir"); }),
                  settings_error("Could not query key for size (HomePrefDir).\n"));
        EXPECT_EQ(read_settings(), corrupt);
        EXPECT_EQ(folder_entries(), Entries{"Corvella.xml"});
        EXPECT_EQ(messages_.count(), 0u);

        set_latency_in_registry(128);
        EXPECT_EQ(corrupt_copy(), corrupt);
        EXPECT_EQ(read_settings(), settings_document({{user_value("Latency"), "128"}}));
        EXPECT_EQ(folder_entries(), (Entries{"Corvella.xml", "Corvella.xml.corrupt"}));
        ASSERT_EQ(messages_.count(), 1u);
        EXPECT_EQ(messages_.last().caption, "Tarnwick: Corvella");
        EXPECT_NE(messages_.last().text.find((folder() / "Corvella.xml.corrupt").string()),
                  std::string::npos);

        write_settings(corrupt);
        CheckPrefs();
        EXPECT_EQ(corrupt_copy(".1"), corrupt);
        EXPECT_EQ(extract_data_from_registry_ir_gain_max(), 50);
    }
}

TEST_F(StoreTest, ThreadsWritingAtOnceLoseNothingAndLeaveNoTemporaryFiles)
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
    EXPECT_EQ(folder_entries(), Entries{"Corvella.xml"});
}
