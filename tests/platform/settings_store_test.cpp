// The settings store: CheckPrefs and the shipped default, reading with the root fallback and the
// integer range, writing the exact layout, every message text, and corrupt or unwritable files.
#include "platform/settings_store.h"

#include "settings_fixture.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace corvella::test;
using Entries = std::vector<std::string>;
using Messages = std::vector<RecordedMessage>;

#define ERROR_OF(call) error_of([] { call; })

class StoreTest : public SettingsTest {
protected:
    std::string corrupt_copy(char const* suffix = "") const
    {
        return read_bytes(file().string() + ".corrupt" + suffix);
    }
    RecordedMessage replaced(char const* suffix = "") const
    {
        return {"Tarnwick: Corvella",
                "The settings file " + file().string() +
                    " could not be read and has been replaced; the old file is kept as " + file().string() +
                    ".corrupt" + suffix,
                0};
    }
};

std::string no_value(std::string const& what)
{
    return settings_error("Could not query key for size (" + what + ").\n");
}

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

struct AsText {
    std::string operator()(int value) const { return std::to_string(value); }
    std::string operator()(std::string text) const { return text; }
};

#define READ(name, ...) [] { return AsText{}(extract_data_from_registry_##name(__VA_ARGS__)); }
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
    {"SearchDir1", READ(search_dir, 1), "#48: search dir", WRITE(search_dir, 1, "/srv/search/"), "/srv/search/", nullptr},
    {"InitialPresets", READ(initial_presets), "#54: initial presets", WRITE(initial_presets, "1"), "1", ""},
    {"BrowserDir3", READ(home_browser_dir, 3), "#60: home browser dir", WRITE(browser_dir, 3, "/srv/browse/"),
     "/srv/browse/", nullptr},
    {"PresetRecent9", READ(preset_recent_file, 9), "#63: Preset recent",
     WRITE(browser_preset_recent, 9, "/srv/recent.fxb"), "/srv/recent.fxb", nullptr},
    {"HomePrefDir", READ(home_pref_dir), "#87: home pref dir", WRITE(home_pref_dir, "/srv/ir/"), "/srv/ir/", ""},
    {"ProgramChangeBlocksAudio", READ(program_change_blocks_audio), "#101: program change blocks audio",
     WRITE(program_change_blocks_audio, 1), "1", "0"},
    {"IRGainMin", READ(ir_gain_min), "#107: ir gain min", WRITE(ir_gain_min, -60), "-60", "-50"},
    {"IRGainMax", READ(ir_gain_max), "#113: ir gain max", WRITE(ir_gain_max, 20), "20", "50"},
    {"MasterGainMin", READ(master_gain_min), "#119: master gain min", WRITE(master_gain_min, -40), "-40", "-30"},
    {"MasterGainMax", READ(master_gain_max), "#125: master gain max", WRITE(master_gain_max, 10), "10", "30"},
    {"ColourScheme", READ(colour_scheme), "#131: colour scheme", WRITE(colour_scheme, 8), "8", "0"},
    {"IRVisSelectionMode", READ(ir_vis_selection_mode), "#137: ir vis selection mode",
     WRITE(ir_vis_selection_mode, 1), "1", "0"},
    {"HidePresets", READ(hide_presets), "#143: hide presets", WRITE(hide_presets, 1), "1", "0"},
    {"HideLowerPane", READ(hide_lower_pane), "#149: hide lower pane", WRITE(hide_lower_pane, 1), "1", "0"},
    {"UserFXB4", READ(user_fxb, 4), "#155: user fxb", WRITE(user_fxb, 4, "/srv/user.fxb"), "/srv/user.fxb", nullptr},
    {"UserSpecifiedLostLocation49", READ(user_specified_lost_location, 49), "#161: user lost location",
     WRITE(user_specified_lost_location, 49, "/srv/lost/"), "/srv/lost/", nullptr}};
// clang-format on
#undef READ
#undef WRITE

} // namespace

TEST_F(StoreTest, CheckPrefsCopiesTheDefaultOverAMissingOrBlankFileOnly)
{
    EXPECT_EQ(GetPreferencePathRaw(), config_.path().string() + "/");
    // A read-only default (as installed) gives a copy its owner can write.
    TempDir defaults;
    write_bytes(defaults / "Corvella.xml", read_bytes(source_default_settings));
    fs::permissions(defaults / "Corvella.xml",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    corvella::set_default_settings_file(defaults / "Corvella.xml");
    std::string const shipped = read_bytes(source_default_settings);
    for (std::string const blank : {"<missing>", "", "   \n\t\r\n  "}) {
        if (blank != "<missing>") write_settings(blank);
        CheckPrefs();
        EXPECT_EQ(read_settings(), shipped) << '"' << blank << '"';
    }
    struct stat status {};
    ASSERT_EQ(::stat(file().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644u);
    std::string const own = settings_document({{user_value("Latency"), "512"}});
    write_settings(own);
    CheckPrefs();
    EXPECT_EQ(read_settings(), own);
    EXPECT_EQ(messages_.count(), 0u);
}

TEST_F(StoreTest, WithoutADefaultCheckPrefsLeavesAnEmptyFileAndSaysSo)
{
    corvella::set_default_settings_file(config_ / "no-default-here.xml");
    write_settings("\x01\x02 not xml");
    CheckPrefs();
    EXPECT_EQ(corrupt_copy(), "\x01\x02 not xml");
    EXPECT_EQ(read_settings(), "");
    EXPECT_EQ(messages_.messages(), (Messages{replaced(),
                                              {"Tarnwick: Corvella",
                                               "The default settings file Corvella.xml could not be "
                                               "found; the settings in " +
                                                   file().string() + " start empty.",
                                               0}}));
    EXPECT_EQ(ERROR_OF(extract_data_from_registry_latency()), no_value("Code #2: latency"));
    set_latency_in_registry(256); // writing still works, and a later CheckPrefs keeps it
    corvella::set_default_settings_file(source_default_settings);
    CheckPrefs();
    EXPECT_EQ(extract_data_from_registry_latency(), 256);
}

TEST_F(StoreTest, NamedAccessorsReadTheShippedDefaultTheirKeyOrRaiseTheirNumberedMessage)
{
    EXPECT_EQ(ERROR_OF(extract_data_from_registry_latency()), no_value("Code #2: latency"));
    EXPECT_FALSE(fs::exists(file())) << "reading never creates the file";
    CheckPrefs();
    for (Named const& key : kNamed)
        EXPECT_EQ(key.shipped ? key.read() : "", key.shipped ? key.shipped : "") << key.name;
    write_settings(settings_document({}));
    for (Named const& key : kNamed)
        EXPECT_EQ(error_of(key.read), no_value(std::string("Code ") + key.read_code));
    // A setting added after settings files were first written has a default of its own there.
    EXPECT_EQ(extract_data_from_registry_smooth_changes(), 1);
    EXPECT_EQ(ERROR_OF(extract_data_from_registry_int("Latency")), no_value("Latency"));
    EXPECT_EQ(ERROR_OF(extract_data_from_registry_string("BrowserDir3")), no_value("BrowserDir3"));
    std::vector<std::pair<std::string, std::string>> written;
    for (Named const& key : kNamed)
        if (key.write) {
            key.write();
            written.emplace_back(user_value(key.name), key.written);
        }
    EXPECT_EQ(read_settings(), settings_document(written));
    set_smooth_changes_in_registry(0);
    EXPECT_EQ(extract_data_from_registry_smooth_changes(), 0);
    for (Named const& key : kNamed)
        EXPECT_EQ(key.write ? key.read() : "", key.write ? key.written : "") << key.name;
    EXPECT_EQ(messages_.count(), 0u);
}

TEST_F(StoreTest, IntegersOutsideTheRangeReadAsMinusOne)
{
    // clang-format off
    for (auto [text, expected] : {std::pair{"20000", -1}, {"-15999", -15999}, {"15999", 15999}, {"16000", -1},
                                  {"-16000", -1}, {"99999999999999999999999", -1}, {"0", 0}, {"-1", -1},
                                  {"  42", 42}, {"+7", 7}, {"12abc", 12}, {"abc", 0}, {"", 0}}) {
        // clang-format on
        write_settings(settings_document({{user_value("Latency"), text}}));
        EXPECT_EQ(extract_data_from_registry_int("Latency"), expected) << '"' << text << '"';
        EXPECT_EQ(extract_data_from_registry_latency(), expected) << '"' << text << '"';
    }
}

TEST_F(StoreTest, ReadsFallBackToTheMachineRootWritesGoToTheUserRoot)
{
    write_settings(
        settings_document({{machine_value("Latency"), "1024"}, {user_value("InstallDir"), "/home/me"}}));
    EXPECT_EQ(extract_data_from_registry_latency(), 1024);
    EXPECT_EQ(ERROR_OF(extract_data_from_registry_install_dir()), no_value("Code #31: install directory"));
    set_latency_in_registry(2048);
    EXPECT_EQ(read_settings(), settings_document({{machine_value("Latency"), "1024"},
                                                  {user_value("InstallDir"), "/home/me"},
                                                  {user_value("Latency"), "2048"}}));
    EXPECT_EQ(extract_data_from_registry_latency(), 2048);
    // An element without text reads as empty.
    write_settings("<Registry><" + user_value("HomePrefDir") + " /><" + machine_value("InstallDir") + "></" +
                   machine_value("InstallDir") + "></Registry>");
    EXPECT_EQ(extract_data_from_registry_home_pref_dir(), "");
    EXPECT_EQ(extract_data_from_registry_install_dir(), "");
}

TEST_F(StoreTest, WritingCreatesTheWholeDocumentAndReplacesOnlyItsValue)
{
    set_data_in_registry_int("Latency", 256);
    EXPECT_EQ(read_settings(), "<?xml version=\"1.0\" ?>\n"
                               "<Registry>\n"
                               "    <HKEY_CURRENT_USER:SOFTWARE:Tarnwick:Corvella:Latency>256"
                               "</HKEY_CURRENT_USER:SOFTWARE:Tarnwick:Corvella:Latency>\n"
                               "</Registry>\n");
    write_settings("");
    fs::permissions(file(), fs::perms::owner_read | fs::perms::owner_write); // a replacement keeps the mode
    set_wet_lock_in_registry(1);
    set_latency_in_registry(4096);
    set_latency_in_registry(1024);
    EXPECT_EQ(fs::status(file()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(read_settings(),
              settings_document({{user_value("WetLock"), "1"}, {user_value("Latency"), "1024"}}));
    for (std::string const text : {"/Volumes/Audio Disk/IRs  (old)/Hall.wav", "  leading and trailing  ",
                                   "R&D <tests> \"quoted\" 'single'",
                                   "/home/m\xC3\xBCller/\xC3\xA9t\xC3\xA9.wav", "tab\there", "line\nbreak"}) {
        set_home_pref_dir_in_registry(text);
        EXPECT_EQ(extract_data_from_registry_home_pref_dir(), text);
    }
}

TEST_F(StoreTest, BadNamesAndAFileThatCannotBeReplacedRaiseTheSetErrors)
{
    CheckPrefs();
    std::string const before = read_settings();
    EXPECT_EQ(ERROR_OF(set_data_in_registry_string("Bad Name", "x")),
              settings_error("Could not set key value (Bad Name).\n"));
    EXPECT_EQ(ERROR_OF(set_data_in_registry_int("", 1)), settings_error("Could not set key value ().\n"));
    EXPECT_EQ(ERROR_OF(extract_data_from_registry_string("Bad Name")), no_value("Bad Name"));
    EXPECT_EQ(read_settings(), before);
    // A folder where the settings file should be: it can be neither read nor replaced.
    fs::remove(file());
    fs::create_directories(file() / "in-the-way");
    EXPECT_EQ(ERROR_OF(set_data_in_registry_int("Latency", 0)),
              settings_error("Could not set key value (Latency).\n"));
    EXPECT_EQ(ERROR_OF(set_home_pref_in_registry(1)),
              settings_error("Could not set key (Code #25: home preferences).\n"));
    EXPECT_EQ(ERROR_OF(set_browser_dir_in_registry(0, "/srv")),
              settings_error("Could not open/create key (Code #38b: browser dir).\n"));
    EXPECT_EQ(ERROR_OF(set_latency_in_registry(0)),
              settings_error("Could not set key (Code #5: latency).\n"));
    EXPECT_EQ(ERROR_OF(extract_data_from_registry_latency()), no_value("Code #2: latency"));
    EXPECT_TRUE(fs::is_directory(file() / "in-the-way"));
}

TEST_F(StoreTest, CorruptFilesRaiseReadErrorsAndAreKeptOnWriteOrCheckPrefs)
{
    std::string deeply_nested;
    for (int i = 0; i < 200000; ++i)
        deeply_nested += "<a>";
    for (std::string const& corrupt :
         {std::string("garbage that is not xml"),
          std::string("<?xml version=\"1.0\" ?>\n<Registry>\n    <HKEY_"),
          std::string("<Registry><a>1</b></Registry>"), std::string("<Settings><x>1</x></Settings>"),
          std::string("<?xml version=\"1.0\" ?>\n"), std::string("\x00\xff\xfe\x01 binary", 11),
          deeply_nested}) {
        SCOPED_TRACE(corrupt.substr(0, 40));
        fs::remove_all(folder());
        messages_.clear();
        write_settings(corrupt);
        EXPECT_EQ(ERROR_OF(extract_data_from_registry_latency()), no_value("Code #2: latency"));
        EXPECT_EQ(ERROR_OF(extract_data_from_registry_string("HomePrefDir")), no_value("HomePrefDir"));
        EXPECT_EQ(read_settings(), corrupt);
        set_latency_in_registry(128);
        EXPECT_EQ(corrupt_copy(), corrupt);
        EXPECT_EQ(read_settings(), settings_document({{user_value("Latency"), "128"}}));
        EXPECT_EQ(messages_.messages(), Messages{replaced()});
        write_settings(corrupt);
        CheckPrefs();
        CheckPrefs(); // once repaired, nothing more is said
        EXPECT_EQ(corrupt_copy(".1"), corrupt);
        EXPECT_EQ(messages_.messages(), (Messages{replaced(), replaced(".1")}));
        EXPECT_EQ(folder_entries(),
                  (Entries{"Corvella.xml", "Corvella.xml.corrupt", "Corvella.xml.corrupt.1"}));
        EXPECT_EQ(extract_data_from_registry_ir_gain_max(), 50);
    }
}

TEST_F(StoreTest, ThreadsWritingAtOnceLoseNothingAndLeaveNoTemporaryFiles)
{
    CheckPrefs();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int k = t * 15; k < t * 15 + 15; ++k) {
                set_data_in_registry_int("SearchDir" + std::to_string(k), k);
                extract_data_from_registry_latency();
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    for (int k = 0; k < 60; ++k)
        EXPECT_EQ(extract_data_from_registry_int("SearchDir" + std::to_string(k)), k);
    EXPECT_EQ(folder_entries(), Entries{"Corvella.xml"});
}
