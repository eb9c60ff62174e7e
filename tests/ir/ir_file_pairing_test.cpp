// IR file names: side tags and partners, next and previous file of a folder, the tree search for a
// moved file, and the path and name helpers.
#include "ir/ir_file_pairing.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using corvella::test::TempDir;
namespace fs = std::filesystem;

void touch(fs::path const& path)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
}

TEST(IrFilePairing, SideTags)
{
    struct Case {
        char const* path;
        bool left, right, centre;
    };
    // clang-format off
    Case const cases[] = {
        {"/irs/Hall L.wav", true, false, false},     {"/irs/Hall R.wav", false, true, false},
        {"/irs/hall l.WAV", true, false, false},     {"/irs/hall r.aif", false, true, false},
        {"/irs/HallLeft.wav", true, false, false},   {"/irs/Hallleft.wav", true, false, false},
        {"/irs/HALLLEFT.wav", true, false, false},   {"/irs/xRight.wav", false, true, false},
        {"/irs/xRIGHT.wav", false, true, false},
        {"/irs/Right.wav", false, false, false},     // a right word needs a stem of 7
        {"/irs/Left.wav", false, false, false},      // a left word needs a stem of 6
        {"/irs/aL.wav", false, false, false},        // a short left tag needs a stem of 4
        {"/irs/abL.wav", true, false, false},        {"/irs/Hall c.wav", false, false, true},
        {"/irs/Hall C.flac", false, false, true},    {"/irs/Hall Centre.wav", false, false, true},
        {"/irs/Hall center.wav", false, true, true}, // "r." is also the short right tag
        {"/irs/HALL CENTER.wav", false, true, true}, {"/irs/Centre.wav", false, false, false},
        {"/irs/Room.wav", false, false, false},
        {"/irs/Hall.wav", true, false, false},       // any stem ending in "l." carries the short tag
        {"/irs/Chamber.wav", false, true, false},    {"/irs/Hall LR.wav", false, true, false},
        {"/irs/L.x/Room.wav", false, false, false},  // a tag in the folder name is no tag
        {"C:\\IRs\\Hall L.wav", true, false, false}, {"C:\\IRs\\Hall Right.wav", false, true, false},
        {"C:\\IRs\\Centre.wav", false, false, false}, {"", false, false, false},
    };
    // clang-format on
    for (Case const& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(check_for_file_this_is_left_file(c.path), c.left);
        EXPECT_EQ(check_for_file_this_is_right_file(c.path), c.right);
        EXPECT_EQ(check_for_file_this_is_centre_file(c.path), c.centre);
    }
}

TEST(IrFilePairing, PartnersExistOrGiveNothing)
{
    TempDir dir;
    std::string const folder = dir.path().string() + "/";
    for (char const* name : {"Hall L.wav", "Hall R.wav", "HallLeft.wav", "HallRight.wav", "Roomleft.aif",
                             "Roomright.aif", "HALLLEFT.wav", "HALLRIGHT.wav", "xL.wav", "xR.wav", "Room l.flac",
                             "Room r.flac", "L.wav", "R.wav", "Left.wav", "Right.wav", "Solo L.wav"})
        touch(dir / name);
    fs::create_directory(dir / "Dir R.wav"); // a folder is no partner

    std::pair<char const*, char const*> const cases[] = {
        {"Hall L.wav", "Hall R.wav"},   {"Hall R.wav", "Hall L.wav"},       {"HallLeft.wav", "HallRight.wav"},
        {"HallRight.wav", "HallLeft.wav"}, {"Roomleft.aif", "Roomright.aif"}, {"HALLLEFT.wav", "HALLRIGHT.wav"},
        {"HALLRIGHT.wav", "HALLLEFT.wav"}, {"xL.wav", "xR.wav"},             {"Room l.flac", "Room r.flac"},
        {"L.wav", ""},                  {"Left.wav", ""},                   {"Right.wav", ""},
        {"Solo L.wav", ""},             {"Dir L.wav", ""},
    };
    for (auto const& [name, partner] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(check_for_file_pair_file(folder + name), *partner ? folder + partner : std::string());
    }
    EXPECT_EQ(check_for_file_pair_file(""), "");
}

TEST(IrFilePairing, NextAndPreviousStopAtTheEndsAndSkipOtherFiles)
{
    TempDir dir;
    for (char const* name : {"b.WAV", "A.wav", "c.txt", "d.flac", "E.aiff", "zz.mp3", "wav", "f.SDIR"})
        touch(dir / name);
    fs::create_directories(dir / "sub");
    touch(dir / "sub" / "aa.wav"); // not listed: no descent
    std::string const folder = dir.path().string() + "/";

    struct Case {
        char const* from;
        bool forward;
        char const* to;
    };
    Case const cases[] = {
        {"A.wav", true, "b.WAV"},   {"b.WAV", false, "A.wav"}, {"b.WAV", true, "d.flac"},
        {"d.flac", true, "E.aiff"}, {"E.aiff", true, "f.SDIR"}, {"f.SDIR", true, ""}, // no wrap-around
        {"A.wav", false, ""},       {"c.txt", true, ""},       {"gone.wav", true, ""},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.from);
        EXPECT_EQ(get_next_prev_file(folder + c.from, c.forward), *c.to ? folder + c.to : std::string());
    }
    EXPECT_EQ(get_next_prev_file(folder + "missing/A.wav", true), "");
    EXPECT_EQ(get_next_prev_file("A.wav", true), "");
}

TEST(IrFilePairing, TreeSearchOrderDepthAndParent)
{
    TempDir dir;
    std::string const root = dir.path().string();
    touch(dir / "b" / "Hall" / "x.wav");
    touch(dir / "A" / "deep" / "x.wav");
    touch(dir / ".hidden" / "y.wav");
    touch(dir / "$RECYCLE" / "y.wav");
    touch(dir / "top.wav");

    EXPECT_EQ(recursive_file_search("/old/top.wav", root, 0, false), root + "/top.wav");
    EXPECT_EQ(recursive_file_search("C:\\old\\top.wav", root, 0, false), root + "/top.wav");
    EXPECT_EQ(recursive_file_search("/old/x.wav", root, 1, false), "");        // too deep
    EXPECT_EQ(recursive_file_search("/old/x.wav", root, 2, false), root + "/A/deep/x.wav"); // "A" < "b"
    EXPECT_EQ(recursive_file_search("/old/Hall/x.wav", root, 99, true), root + "/b/Hall/x.wav");
    EXPECT_EQ(recursive_file_search("/old/Other/x.wav", root, 99, true), "");
    EXPECT_EQ(recursive_file_search("/old/y.wav", root, 99, false), "");       // hidden and "$" folders
    EXPECT_EQ(recursive_file_search("/old/X.WAV", root, 99, false), "");       // names match exactly
    EXPECT_EQ(recursive_file_search("/old/top.wav", "/", 99, false), "");      // a one-character folder
    EXPECT_EQ(recursive_file_search("/old/top.wav", root + "/none", 99, false), "");
}

TEST(IrFilePairing, CaseInsensitiveOrderFilterAndTokens)
{
    std::vector<std::string> sorted{"b.WAV", "B", "a.wav", "A.wav", "Ab", "_x", "10.wav"};
    std::stable_sort(sorted.begin(), sorted.end(), stringCompare);
    EXPECT_EQ(sorted, (std::vector<std::string>{"10.wav", "_x", "a.wav", "A.wav", "Ab", "B", "b.WAV"}));
    EXPECT_FALSE(stringCompare("abc", "ABC") || stringCompare("ABC", "abc"));
    EXPECT_TRUE(stringCompare_for_recursive("ab", "ABC"));

    EXPECT_TRUE(check_text_filter("Big Hall L.wav", "hall*big"));
    EXPECT_FALSE(check_text_filter("Big Hall L.wav", "hall*small"));
    EXPECT_TRUE(check_text_filter("Big Hall L.wav", ""));
    EXPECT_TRUE(check_text_filter("Big Hall L.wav", "**L.W"));
    using Tokens = std::vector<std::string>;
    EXPECT_EQ(Tokenize("a**b", "*"), (Tokens{"a", "", "b"}));
    EXPECT_EQ(Tokenize("*a", "*"), (Tokens{"", "a"}));
    EXPECT_EQ(Tokenize("a*", "*"), (Tokens{"a", ""}));
    EXPECT_EQ(Tokenize("a,b;c", ",;"), (Tokens{"a", "b", "c"}));
    EXPECT_EQ(Tokenize("abc", "*"), (Tokens{"abc"}));
}

TEST(IrFilePairing, CroppedDisplayNames)
{
    struct Case {
        char const* name;
        int width;
        char const* shown;
    };
    Case const cases[] = {{"abcdefghij.wav", 10, "abc...hij.wav"}, {"abcdefghij.wav", 14, "abcdefghij.wav"},
                          {"abcdefghij.wav", 13, "abc...efghij.wav"}, {"a.wav", 10, ""}, {"ab.wav", 3, "ab...."}};
    for (Case const& c : cases)
        EXPECT_EQ(crop_file_name(c.name, c.width), c.shown) << c.name << " " << c.width;
}

TEST(IrFilePairing, PathAndNameHelpers)
{
    using Helper = std::function<std::string(std::string const&)>;
    struct Case {
        char const* helper_name;
        Helper helper;
        char const* path;
        char const* expected;
    };
    Case const cases[] = {
        {"swap", swap_backslash_for_forwardslash, "C:\\IRs\\a.wav", "C:/IRs/a.wav"},
        {"above", directory_above, "/a/b/c", "/a/b"},
        {"above", directory_above, "/a", "/"},
        {"above", directory_above, "a", "/"},
        {"above", directory_above, "/a/b/", "/a/b"},
        {"path", get_file_path, "/a/b/c.wav", "/a/b/"},
        {"path", get_file_path, "C:\\IRs\\c.wav", "C:\\IRs\\"},
        {"path", get_file_path, "c.wav", ""},
        {"path_no_slash", get_file_path_no_slash, "/a/b/c.wav", "/a/b"},
        {"path_no_slash", get_file_path_no_slash, "C:\\IRs\\c.wav", ""},
        {"name", get_filename_from_path, "/a/b/c.wav", "c.wav"},
        {"name", get_filename_from_path, "C:\\IRs\\c.wav", "c.wav"},
        {"name", get_filename_from_path, "c.wav", ""},
        {"name_mac", get_filename_from_path_mac, "C:\\IRs\\c.wav", ""},
        {"name_mac", get_filename_from_path_mac, "/a/c.wav", "c.wav"},
        {"no_ext", get_filename_from_path_no_ext, "/a/Hall.L.wav", "Hall.L"},
        {"no_ext", get_filename_from_path_no_ext, "/a/.wav", ""},
        {"no_ext", get_filename_from_path_no_ext, "/a/Hall", ""},
        {"lr_tidy", get_filename_from_path_no_ext_lr_tidy, "/a/HallL.wav", "Hall"},
        {"lr_tidy", get_filename_from_path_no_ext_lr_tidy, "/a/HalR.wav", "Hal"},
        {"lr_tidy", get_filename_from_path_no_ext_lr_tidy, "/a/HaR.wav", "HaR"},
        {"lr_tidy", get_filename_from_path_no_ext_lr_tidy, "/a/Hall l.wav", "Hall l"},
        {"extension", get_filename_extension, "/a/b.c/d.flac", "flac"},
        {"extension", get_filename_extension, "/a/bc/d", ""},
    };
    for (Case const& c : cases)
        EXPECT_EQ(c.helper(c.path), c.expected) << c.helper_name << "(" << c.path << ")";
}

TEST(IrFilePairing, FileChecks)
{
    TempDir dir;
    touch(dir / "a.wav");
    EXPECT_TRUE(check_file_path((dir / "a.wav").string()));
    EXPECT_FALSE(check_file_path(dir.path().string()));
    EXPECT_FALSE(check_file_path((dir / "b.wav").string()));
    EXPECT_FALSE(check_file_path(""));
}

} // namespace
