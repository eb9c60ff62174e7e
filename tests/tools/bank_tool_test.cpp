// corvella-bank as a user runs it: listing marks missing files; repair finds a moved file under a
// search folder, writes the bank whole with only that path changed, and names what is still
// missing; export-lv2 writes preset bundles whole; bad commands and files are refused.

#include "host/bank_files.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace corvella::test {
namespace {

namespace fs = std::filesystem;

class BankToolTest : public ::testing::Test {
protected:
    int run(std::vector<std::string> const& arguments, std::string* output = nullptr,
            std::string const& environment = "") const
    {
        std::string command = environment + " XDG_CONFIG_HOME='" + (dir_.path() / "config").string() + "' XDG_DATA_HOME='" +
                              (dir_.path() / "data").string() + "' " + CORVELLA_BANK_PROGRAM;
        for (auto const& a : arguments)
            command += " '" + a + "'";
        command += " > '" + (dir_.path() / "out.txt").string() + "' 2>&1";
        int const status = std::system(command.c_str());
        if (output != nullptr) *output = slurp(dir_.path() / "out.txt");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    static std::string slurp(fs::path const& path)
    {
        std::ifstream stream(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(stream), {}};
    }
    static void set(char* field, std::string const& path)
    {
        std::memset(field, 0, program_path_size);
        std::strncpy(field, path.c_str(), program_path_size - 1);
    }
    TempDir dir_;
};

TEST_F(BankToolTest, ListMarksMissingFilesAndRepairFindsAMovedOne)
{
    fs::create_directories(dir_.path() / "moved/deep/Hall");
    std::ofstream(dir_.path() / "present.wav") << "x";
    std::ofstream(dir_.path() / "moved/deep/Hall/Hall-L.wav") << "x";
    std::vector<VST_Plugin_Program> bank(programs_per_bank);
    set(bank[0].ir1_file_a, (dir_.path() / "present.wav").string());
    set(bank[1].ir1_file_a, "/old/disk/Hall/Hall-L.wav");
    set(bank[2].ir2_file_b, "/old/disk/Nowhere.wav");
    std::strcpy(bank[1].name, "Moved Hall");
    std::string const path = (dir_.path() / "bank.fxb").string();
    std::string error;
    ASSERT_TRUE(save_bank_file(path, bank.data(), error)) << error;

    std::string listing;
    ASSERT_EQ(run({"list", path}, &listing), 0);
    EXPECT_NE(listing.find(" 1  Moved Hall\n      IR1-A  /old/disk/Hall/Hall-L.wav  (missing)"), std::string::npos)
        << listing;
    EXPECT_NE(listing.find("present.wav\n"), std::string::npos) << listing; // not marked

    std::string const repaired = (dir_.path() / "repaired.fxb").string();
    std::string report;
    ASSERT_EQ(run({"repair", path, "--search", (dir_.path() / "moved").string(), "--out", repaired}, &report), 0);
    EXPECT_NE(report.find("still missing: program 2 IR2-B /old/disk/Nowhere.wav"), std::string::npos) << report;
    EXPECT_EQ(report.find("Hall-L.wav\n"), std::string::npos) << report; // found, so not listed as missing
    std::string const before = slurp(path), after = slurp(repaired);
    ASSERT_EQ(after.size(), before.size());
    std::string const moved = (dir_.path() / "moved/deep/Hall/Hall-L.wav").string();
    std::size_t const field = bank_file_header_size + sizeof(VST_Plugin_Program) + offsetof(VST_Plugin_Program, ir1_file_a);
    EXPECT_EQ(after.substr(field, moved.size() + 1), moved + '\0');
    // Nothing else changed.
    std::string expected = before;
    expected.replace(field, program_path_size, after.substr(field, program_path_size));
    EXPECT_TRUE(after == expected);
    EXPECT_EQ(slurp(path), before); // the original stays as it was
}

TEST_F(BankToolTest, BadCommandsAndFilesAreRefused)
{
    std::ofstream(dir_.path() / "short.fxb") << "CcnK";
    struct Case {
        std::vector<std::string> arguments;
        int code;
        char const* message;
    };
    Case const cases[] = {
        {{"export", "x"}, 1, "unknown command 'export'"},
        {{"list"}, 1, "list needs a BANK"},
        {{"list", (dir_.path() / "none.fxb").string()}, 2, "cannot read"},
        {{"list", (dir_.path() / "short.fxb").string()}, 2, "is not a bank file (4 bytes"},
        {{"repair", (dir_.path() / "short.fxb").string(), "--search", "/no/such/folder"}, 1, "--search needs a folder"},
    };
    for (Case const& c : cases) {
        std::string output;
        EXPECT_EQ(run(c.arguments, &output), c.code) << c.message;
        EXPECT_NE(output.find(c.message), std::string::npos) << output;
    }
}

class BankToolExport : public BankToolTest {
protected:
    void SetUp() override
    {
        std::strcpy(bank_[7].name, "Hall \"B\" \\ 1");
        std::string error;
        ASSERT_TRUE(save_bank_file(bank_file_, bank_.data(), error)) << error;
    }
    std::vector<std::string> entries(fs::path const& folder) const
    {
        std::vector<std::string> names;
        for (auto const& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<VST_Plugin_Program> bank_ = std::vector<VST_Plugin_Program>(programs_per_bank);
    std::string const bank_file_ = (dir_.path() / "My Bank.fxb").string();
    fs::path const home_ = dir_.path() / "home";
    std::string const with_home_ = "HOME='" + home_.string() + "'";
};

TEST_F(BankToolExport, WritesTheBankOrOneProgramAsABundleReplacingAnOldOneWhole)
{
    fs::path const bundle = home_ / ".lv2/corvella-My_Bank.preset.lv2";
    fs::create_directories(bundle);
    std::ofstream(bundle / "stale.ttl") << "old";
    std::string output;
    ASSERT_EQ(run({"export-lv2", bank_file_}, &output, with_home_), 0) << output;
    std::vector<std::string> files = entries(bundle);
    ASSERT_EQ(files.size(), 49u);
    EXPECT_EQ(files[7], "07-Hall__B____1.ttl");
    EXPECT_EQ(files[48], "manifest.ttl"); // and no stale.ttl
    std::string const manifest = slurp(bundle / "manifest.ttl");
    EXPECT_NE(manifest.find("<07-Hall__B____1.ttl>\n    a pset:Preset ;\n    lv2:appliesTo <urn:tarnwick:corvella> ;\n"
                            "    rdfs:label \"Hall \\\"B\\\" \\\\ 1\" ;\n    rdfs:seeAlso <07-Hall__B____1.ttl> .\n"),
              std::string::npos)
        << manifest;

    ASSERT_EQ(run({"export-lv2", bank_file_, "7"}, &output, with_home_), 0) << output;
    EXPECT_EQ(entries(home_ / ".lv2"),
              (std::vector<std::string>{"corvella-My_Bank-07.preset.lv2", "corvella-My_Bank.preset.lv2"}));
    EXPECT_EQ(entries(home_ / ".lv2/corvella-My_Bank-07.preset.lv2"),
              (std::vector<std::string>{"07-Hall__B____1.ttl", "manifest.ttl"}));
}

TEST_F(BankToolExport, BadInputsAndUnwritableTargetsFailLeavingNothingBehind)
{
    fs::create_directories(home_ / ".lv2");
    std::ofstream(home_ / ".lv2/corvella-My_Bank.preset.lv2") << "a file in the way";
    fs::path const blocked_home = dir_.path() / "blocked";
    fs::create_directories(blocked_home);
    std::ofstream(blocked_home / ".lv2") << "not a folder";
    struct Case {
        std::vector<std::string> arguments;
        std::string environment;
        int code;
        char const* message;
    };
    Case const cases[] = {
        {{"export-lv2", (dir_.path() / "none.fxb").string()}, with_home_, 2, "cannot read"},
        {{"export-lv2", bank_file_, "48"}, with_home_, 1, "PROGRAM must be a number from 0 to 47, got '48'"},
        {{"export-lv2", bank_file_}, "env -u HOME", 3, "HOME is not set to a folder"},
        {{"export-lv2", bank_file_}, "HOME='" + blocked_home.string() + "'", 3, "cannot create"},
        {{"export-lv2", bank_file_}, with_home_, 3, "corvella-My_Bank.preset.lv2 exists and is not a folder"},
    };
    for (Case const& c : cases) {
        std::string output;
        EXPECT_EQ(run(c.arguments, &output, c.environment), c.code) << c.message;
        EXPECT_NE(output.find(c.message), std::string::npos) << output;
    }
    EXPECT_EQ(entries(home_ / ".lv2"), std::vector<std::string>{"corvella-My_Bank.preset.lv2"});
    EXPECT_EQ(slurp(home_ / ".lv2/corvella-My_Bank.preset.lv2"), "a file in the way");
    EXPECT_EQ(entries(blocked_home), std::vector<std::string>{".lv2"});
}

} // namespace
} // namespace corvella::test
