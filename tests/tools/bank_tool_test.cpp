// corvella-bank as a user runs it: listing marks missing files; repair finds a moved file under a
// search folder, writes the bank whole with only that path changed, and names what is still
// missing; bad commands and files are refused.

#include "host/bank_files.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

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
    int run(std::vector<std::string> const& arguments, std::string* output = nullptr) const
    {
        std::string command = "XDG_CONFIG_HOME='" + (dir_.path() / "config").string() + "' XDG_DATA_HOME='" +
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

} // namespace
} // namespace corvella::test
