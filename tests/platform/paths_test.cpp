// The preferences and Library folders from the environment, and where data files are found.
#include "platform/paths.h"

#include "settings_fixture.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

namespace fs = std::filesystem;
using corvella::test::ScopedVariable;
using corvella::test::TempDir;
using corvella::test::write_bytes;

fs::path share_folder()
{
    return corvella::executable_folder() / ".." / "share" / "corvella";
}

class RegisteredBundle {
public:
    explicit RegisteredBundle(fs::path const& folder) { corvella::set_bundle_resources_folder(folder); }
    ~RegisteredBundle() { corvella::set_bundle_resources_folder({}); }
};

} // namespace

TEST(Environment, AbsoluteXdgFolderThenHomeThenTheAccount)
{
    ScopedVariable config{"XDG_CONFIG_HOME"}, data{"XDG_DATA_HOME"}, home{"HOME", "/home/someone"};
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
    unsetenv("HOME");
    passwd const* account = getpwuid(getuid());
    if (account == nullptr || account->pw_dir == nullptr || account->pw_dir[0] != '/')
        GTEST_SKIP() << "this account has no home folder";
    std::string const account_home = account->pw_dir;
    EXPECT_EQ(corvella::preferences_folder(),
              account_home + (account_home.ends_with('/') ? "" : "/") + ".config/");
}

TEST(DataFiles, SearchOrderIsBundleThenBesideTheExecutableThenTheSourceTree)
{
    std::vector<fs::path> folders = corvella::data_search_folders();
    ASSERT_GE(folders.size(), 3u);
    EXPECT_EQ(folders.front(), share_folder());
    EXPECT_EQ(fs::weakly_canonical(folders.back()),
              fs::weakly_canonical(corvella::test::source_default_settings).parent_path());
    EXPECT_TRUE(fs::is_regular_file(corvella::find_data_file("Corvella.xml")));

    bool const created_share = !fs::exists(share_folder());
    std::string const name = "paths-test-" + std::to_string(getpid()) + ".txt";
    write_bytes(share_folder() / name, "beside the executable");
    EXPECT_EQ(corvella::find_data_file(name), share_folder() / name);
    {
        TempDir bundle;
        write_bytes(bundle / name, "bundle");
        fs::create_directory(bundle / "a-folder");
        RegisteredBundle registered(bundle.path());
        folders = corvella::data_search_folders();
        ASSERT_GE(folders.size(), 4u);
        EXPECT_EQ(folders[0], bundle.path());
        EXPECT_EQ(folders[1], share_folder());
        EXPECT_EQ(corvella::find_data_file(name), bundle / name);
        EXPECT_TRUE(corvella::find_data_file("a-folder").empty());
    }
    fs::remove(share_folder() / name);
    if (created_share) fs::remove_all(corvella::executable_folder() / ".." / "share");
    EXPECT_TRUE(corvella::find_data_file(name).empty());
    EXPECT_TRUE(corvella::find_data_file("").empty());
}

TEST(BundlePath, IsTheParentOfTheResourcesFolder)
{
    for (char const* resources : {"/opt/plugins/Corvella.bundle/Contents/Resources/",
                                  "/opt/plugins/Corvella.bundle/Contents/Resources"}) {
        RegisteredBundle registered(resources);
        EXPECT_EQ(GetCurrentBundlePathName(), "/opt/plugins/Corvella.bundle/Contents/");
    }
    EXPECT_EQ(GetCurrentBundlePathName(), corvella::executable_folder().string() + "/");
    TempDir folder;
    write_bytes(folder / "file.txt", "x");
    EXPECT_TRUE(check_dir_path(folder.path().string() + "/"));
    EXPECT_FALSE(check_dir_path((folder / "file.txt").string()));
    EXPECT_FALSE(check_dir_path((folder / "missing").string()));
    EXPECT_FALSE(check_dir_path(""));
}
