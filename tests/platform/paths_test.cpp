// The preferences and Library folders from the environment, and where data files are found.
#include "platform/paths.h"

#include "settings_fixture.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

namespace {

namespace fs = std::filesystem;
using corvella::test::ScopedVariable;
using corvella::test::TempDir;

fs::path const source_data_folder = fs::path(__FILE__).parent_path().parent_path().parent_path() / "data";
fs::path share_folder()
{
    return corvella::executable_folder() / ".." / "share" / "corvella";
}

class Environment : public testing::Test {
protected:
    ScopedVariable config_home_{"XDG_CONFIG_HOME"};
    ScopedVariable data_home_{"XDG_DATA_HOME"};
    ScopedVariable home_{"HOME"};
};

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

} // namespace

TEST_F(Environment, AbsoluteXdgFolderThenHome)
{
    setenv("HOME", "/home/someone", 1);
    struct Case {
        char const* value; // null: unset
        char const* preferences;
        char const* library;
    };
    for (Case c :
         {Case{"/srv/x", "/srv/x/", "/srv/x/"}, Case{"/srv/x//", "/srv/x/", "/srv/x/"}, Case{"/", "/", "/"},
          Case{"relative/x", "/home/someone/.config/", "/home/someone/.local/share/"},
          Case{"", "/home/someone/.config/", "/home/someone/.local/share/"},
          Case{nullptr, "/home/someone/.config/", "/home/someone/.local/share/"}}) {
        SCOPED_TRACE(c.value == nullptr ? "unset" : c.value);
        for (char const* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME"})
            c.value == nullptr ? unsetenv(name) : setenv(name, c.value, 1);
        EXPECT_EQ(corvella::preferences_folder(), c.preferences);
        EXPECT_EQ(corvella::library_folder(), c.library);
    }
}

TEST_F(Environment, WithoutEitherVariableTheAccountHomeIsUsed)
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

TEST(DataFiles, SearchOrderIsBundleThenBesideTheExecutableThenTheSourceTree)
{
    std::vector<fs::path> folders = corvella::data_search_folders();
    ASSERT_GE(folders.size(), 3u);
    EXPECT_EQ(folders.front(), share_folder());
    EXPECT_EQ(fs::weakly_canonical(folders.back()), fs::weakly_canonical(source_data_folder));
    fs::path const found = corvella::find_data_file("Corvella.xml");
    EXPECT_EQ(found.filename(), "Corvella.xml");
    EXPECT_TRUE(fs::is_regular_file(found));

    TempDir bundle;
    write_file(bundle / "Corvella.xml", "bundle copy");
    RegisteredBundle registered(bundle.path());
    folders = corvella::data_search_folders();
    ASSERT_GE(folders.size(), 4u);
    EXPECT_EQ(folders[0], bundle.path());
    EXPECT_EQ(folders[1], share_folder());
    EXPECT_EQ(corvella::find_data_file("Corvella.xml"), bundle / "Corvella.xml");
    EXPECT_EQ(corvella::bundle_resources_folder(), bundle.path());
}

TEST(DataFiles, AFileBesideTheExecutableIsFoundAfterTheBundle)
{
    bool const created_share = !fs::exists(share_folder());
    fs::create_directories(share_folder());
    std::string const name = "paths-test-" + std::to_string(getpid()) + ".txt";
    write_file(share_folder() / name, "beside the executable");
    EXPECT_EQ(corvella::find_data_file(name), share_folder() / name);
    TempDir bundle;
    write_file(bundle / name, "bundle");
    {
        RegisteredBundle registered(bundle.path());
        EXPECT_EQ(corvella::find_data_file(name), bundle / name);
    }
    fs::remove(share_folder() / name);
    EXPECT_TRUE(corvella::find_data_file(name).empty());
    if (created_share) fs::remove_all(corvella::executable_folder() / ".." / "share");
}

TEST(DataFiles, MissingNamesAndFoldersGiveAnEmptyPath)
{
    EXPECT_TRUE(corvella::find_data_file("no-such-file-anywhere.xml").empty());
    EXPECT_TRUE(corvella::find_data_file("").empty());
    TempDir bundle;
    fs::create_directory(bundle / "Corvella-folder");
    RegisteredBundle registered(bundle.path());
    EXPECT_TRUE(corvella::find_data_file("Corvella-folder").empty());
}

TEST(BundlePath, IsTheParentOfTheResourcesFolder)
{
    for (char const* resources : {"/opt/plugins/Corvella.bundle/Contents/Resources/",
                                  "/opt/plugins/Corvella.bundle/Contents/Resources"}) {
        RegisteredBundle registered(resources);
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
