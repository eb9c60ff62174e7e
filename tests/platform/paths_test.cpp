#include "platform/paths.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

namespace {

namespace fs = std::filesystem;
using corvella::test::TempDir;

// The data folder of the source tree, found from this file's own place in it.
fs::path const source_data_folder = fs::path(__FILE__).parent_path().parent_path().parent_path() / "data";

// Restores an environment variable when the test ends.
class SavedVariable {
public:
    explicit SavedVariable(char const* name) : name_(name)
    {
        if (char const* value = std::getenv(name)) value_ = value;
    }
    ~SavedVariable()
    {
        if (value_)
            setenv(name_, value_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    char const* name_;
    std::optional<std::string> value_;
};

class PreferencesFolder : public testing::Test {
protected:
    SavedVariable config_home_{"XDG_CONFIG_HOME"};
    SavedVariable home_{"HOME"};
};

TEST_F(PreferencesFolder, AbsoluteConfigHomeWins)
{
    setenv("XDG_CONFIG_HOME", "/srv/config", 1);
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(corvella::preferences_folder(), "/srv/config/");
}

TEST_F(PreferencesFolder, TrailingSeparatorsAreNotDoubled)
{
    setenv("XDG_CONFIG_HOME", "/srv/config//", 1);
    EXPECT_EQ(corvella::preferences_folder(), "/srv/config/");
    setenv("XDG_CONFIG_HOME", "/", 1);
    EXPECT_EQ(corvella::preferences_folder(), "/");
}

TEST_F(PreferencesFolder, RelativeOrEmptyConfigHomeFallsBackToHome)
{
    setenv("HOME", "/home/someone", 1);
    setenv("XDG_CONFIG_HOME", "relative/config", 1);
    EXPECT_EQ(corvella::preferences_folder(), "/home/someone/.config/");
    setenv("XDG_CONFIG_HOME", "", 1);
    EXPECT_EQ(corvella::preferences_folder(), "/home/someone/.config/");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(corvella::preferences_folder(), "/home/someone/.config/");
}

// The Library folder of the start-up bank (factory impulse responses) is the XDG data folder, by
// the same rules.
class LibraryFolder : public testing::Test {
protected:
    SavedVariable data_home_{"XDG_DATA_HOME"};
    SavedVariable home_{"HOME"};
};

TEST_F(LibraryFolder, DataHomeThenHomeLocalShare)
{
    setenv("HOME", "/home/someone", 1);
    setenv("XDG_DATA_HOME", "/srv/data//", 1);
    EXPECT_EQ(corvella::library_folder(), "/srv/data/");
    setenv("XDG_DATA_HOME", "relative/data", 1);
    EXPECT_EQ(corvella::library_folder(), "/home/someone/.local/share/");
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(corvella::library_folder(), "/home/someone/.local/share/");
}

TEST_F(PreferencesFolder, WithoutEitherVariableTheAccountHomeIsUsed)
{
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("HOME");
    passwd const* account = getpwuid(getuid());
    if (account == nullptr || account->pw_dir == nullptr || account->pw_dir[0] != '/')
        GTEST_SKIP() << "this account has no home folder";
    std::string home = account->pw_dir;
    if (home.back() != '/') home += '/';
    EXPECT_EQ(corvella::preferences_folder(), home + ".config/");
}

// Registers a bundle resources folder for one test.
class RegisteredBundle {
public:
    explicit RegisteredBundle(fs::path const& folder) { corvella::set_bundle_resources_folder(folder); }
    ~RegisteredBundle() { corvella::set_bundle_resources_folder({}); }
};

void write_file(fs::path const& path, std::string const& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

TEST(DataFiles, SearchOrder)
{
    fs::path const share = corvella::executable_folder() / ".." / "share" / "corvella";
    std::vector<fs::path> folders = corvella::data_search_folders();
    ASSERT_GE(folders.size(), 3u);
    EXPECT_EQ(folders.front(), share);
    EXPECT_EQ(fs::weakly_canonical(folders.back()), fs::weakly_canonical(source_data_folder));

    TempDir bundle;
    RegisteredBundle registered(bundle.path());
    folders = corvella::data_search_folders();
    ASSERT_GE(folders.size(), 4u);
    EXPECT_EQ(folders[0], bundle.path());
    EXPECT_EQ(folders[1], share);
}

TEST(DataFiles, TheShippedSettingsFileIsFoundWithoutABundle)
{
    fs::path const found = corvella::find_data_file("Corvella.xml");
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found.filename(), "Corvella.xml");
    EXPECT_TRUE(fs::is_regular_file(found));
}

TEST(DataFiles, TheBundleFolderComesFirst)
{
    TempDir bundle;
    write_file(bundle / "Corvella.xml", "bundle copy");
    RegisteredBundle registered(bundle.path());
    EXPECT_EQ(corvella::find_data_file("Corvella.xml"), bundle / "Corvella.xml");
    EXPECT_EQ(corvella::bundle_resources_folder(), bundle.path());
}

TEST(DataFiles, AFileBesideTheExecutableIsFound)
{
    fs::path const share = corvella::executable_folder() / ".." / "share" / "corvella";
    bool const created_share = !fs::exists(share);
    fs::create_directories(share);
    std::string const name = "paths-test-" + std::to_string(getpid()) + ".txt";
    write_file(share / name, "beside the executable");

    EXPECT_EQ(corvella::find_data_file(name), share / name);

    // Still after a registered bundle that holds the file.
    TempDir bundle;
    write_file(bundle / name, "bundle");
    {
        RegisteredBundle registered(bundle.path());
        EXPECT_EQ(corvella::find_data_file(name), bundle / name);
    }

    fs::remove(share / name);
    EXPECT_TRUE(corvella::find_data_file(name).empty());
    if (created_share) fs::remove_all(corvella::executable_folder() / ".." / "share");
}

TEST(DataFiles, MissingNamesGiveAnEmptyPath)
{
    EXPECT_TRUE(corvella::find_data_file("no-such-file-anywhere.xml").empty());
    EXPECT_TRUE(corvella::find_data_file("").empty());
    // A folder is not a file.
    TempDir bundle;
    fs::create_directory(bundle / "Corvella-folder");
    RegisteredBundle registered(bundle.path());
    EXPECT_TRUE(corvella::find_data_file("Corvella-folder").empty());
}

TEST(BundlePath, IsTheParentOfTheResourcesFolder)
{
    {
        RegisteredBundle registered("/opt/plugins/Corvella.bundle/Contents/Resources/");
        EXPECT_EQ(GetCurrentBundlePathName(), "/opt/plugins/Corvella.bundle/Contents/");
    }
    {
        RegisteredBundle registered("/opt/plugins/Corvella.bundle/Contents/Resources");
        EXPECT_EQ(GetCurrentBundlePathName(), "/opt/plugins/Corvella.bundle/Contents/");
    }
    EXPECT_EQ(GetCurrentBundlePathName(), corvella::executable_folder().string() + "/");
}

TEST(CheckDirPath, OnlyExistingFoldersPass)
{
    TempDir folder;
    write_file(folder / "file.txt", "x");
    EXPECT_TRUE(check_dir_path(folder.path().string()));
    EXPECT_TRUE(check_dir_path(folder.path().string() + "/"));
    EXPECT_FALSE(check_dir_path((folder / "file.txt").string()));
    EXPECT_FALSE(check_dir_path((folder / "missing").string()));
    EXPECT_FALSE(check_dir_path(""));
}

} // namespace
