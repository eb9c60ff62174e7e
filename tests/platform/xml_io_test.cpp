// The settings document: element names, loading and classifying, GetValue and SetValue, the atomic
// write and the corrupt-file copies.
#include "platform/xml_io.h"

#include "platform/paths.h"
#include "platform/settings_file.h"
#include "settings_fixture.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

namespace {

namespace fs = std::filesystem;
using namespace corvella::test;

constexpr char user_key[] = "HKEY_CURRENT_USER\\SOFTWARE\\Tarnwick\\Corvella";

unsigned mode_of(fs::path const& path)
{
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0);
    return status.st_mode & 07777;
}

long entries_in(fs::path const& folder)
{
    return std::distance(fs::directory_iterator(folder), fs::directory_iterator());
}

class XmlIOTest : public testing::Test {
protected:
    TempDir folder_;
    fs::path const file_ = folder_ / "settings.xml";
    MessageRecorder messages_;
};

} // namespace

TEST(ValueElementName, JoinsKeyAndNameAndRefusesNamesTheFileCannotHold)
{
    EXPECT_EQ(corvella::value_element_name(user_key, "Latency"), user_value("Latency"));
    EXPECT_EQ(corvella::value_element_name("HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarnwick\\Corvella", "InstallDir"),
              "HKEY_LOCAL_MACHINE:SOFTWARE:Tarnwick:Corvella:InstallDir");
    EXPECT_EQ(corvella::value_element_name(user_key, "UserSpecifiedLostLocation49"),
              "HKEY_CURRENT_USER:SOFTWARE:Tarnwick:Corvella:UserSpecifiedLostLocation49");
    for (char const* name : {"", "Two Words", "a&b", "9Lives", "-dash", "Back\\", "Colon:", "\xC3\xA9"})
        EXPECT_EQ(corvella::value_element_name(user_key, name), "") << name;
    EXPECT_EQ(corvella::value_element_name(nullptr, "Latency"), "");
    EXPECT_EQ(corvella::value_element_name(user_key, nullptr), "");
    EXPECT_EQ(corvella::value_element_name("Key With Space", "Latency"), "");
}

TEST_F(XmlIOTest, ClassifiesWhatItLoads)
{
    EXPECT_EQ(CXmlIO(file_).state(), CXmlIO::State::missing);
    struct Case {
        char const* text;
        CXmlIO::State state;
    };
    for (Case c : {Case{"", CXmlIO::State::blank}, Case{" \n\t ", CXmlIO::State::blank},
                   Case{"<Registry/>", CXmlIO::State::valid}, Case{"<Other/>", CXmlIO::State::corrupt},
                   Case{"<Registry><unclosed></Registry>", CXmlIO::State::corrupt}}) {
        write_bytes(file_, c.text);
        EXPECT_EQ(CXmlIO(file_).state(), c.state) << '"' << c.text << '"';
    }
    fs::remove(file_);
    fs::create_directory(file_);
    EXPECT_EQ(CXmlIO(file_).state(), CXmlIO::State::unreadable);
    EXPECT_EQ(CXmlIO(fs::path()).state(), CXmlIO::State::unreadable);
}

TEST_F(XmlIOTest, GetValueFindsTheElementAndReadsAnythingButTextAsEmpty)
{
    write_bytes(file_, "<Registry><" + user_value("Latency") + ">512</" + user_value("Latency") + "><" +
                           user_value("Empty") + "/><" + user_value("Note") + "><!-- note --></" +
                           user_value("Note") + "></Registry>");
    CXmlIO settings(file_);
    std::string out = "untouched";
    EXPECT_FALSE(settings.GetValue(user_key, "SRNorm", out));
    EXPECT_EQ(out, "untouched");
    EXPECT_FALSE(settings.GetValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarnwick\\Corvella", "Latency", out));
    EXPECT_TRUE(settings.GetValue(user_key, "Latency", out));
    EXPECT_EQ(out, "512");
    for (char const* name : {"Empty", "Note"}) {
        out = "untouched";
        EXPECT_TRUE(settings.GetValue(user_key, name, out));
        EXPECT_EQ(out, "") << name;
    }
}

TEST_F(XmlIOTest, SetValueSavesAtOnceReplacesAnyContentAndEachObjectReloads)
{
    CXmlIO writer(file_);
    ASSERT_TRUE(writer.SetValue(user_key, "Latency", "128"));
    EXPECT_EQ(writer.state(), CXmlIO::State::valid);
    EXPECT_EQ(read_bytes(file_), settings_document({{user_value("Latency"), "128"}}));
    ASSERT_TRUE(CXmlIO(file_).SetValue(user_key, "SRNorm", "2"));
    std::string out;
    EXPECT_TRUE(CXmlIO(file_).GetValue(user_key, "SRNorm", out));
    EXPECT_EQ(out, "2");
    EXPECT_FALSE(writer.GetValue(user_key, "SRNorm", out)) << "an object loaded earlier sees no later change";

    write_bytes(file_, "<?xml version=\"1.0\" ?>\n<Registry>\n    <" + user_value("Latency") +
                           "><x>1</x>old</" + user_value("Latency") + ">\n</Registry>\n");
    ASSERT_TRUE(CXmlIO(file_).SetValue(user_key, "Latency", "new"));
    EXPECT_EQ(read_bytes(file_), settings_document({{user_value("Latency"), "new"}}));

    fs::remove(file_);
    fs::create_directory(file_);
    CXmlIO unreadable(file_);
    EXPECT_FALSE(unreadable.SetValue(user_key, "Latency", "1"));
    EXPECT_FALSE(unreadable.last_error().empty());
    EXPECT_TRUE(fs::is_directory(file_));
}

TEST(AtomicWrite, ReplacesTheFileKeepingItsModeOrCreatesItWithTheGivenOne)
{
    TempDir folder;
    fs::path const target = folder / "file.txt";
    write_bytes(target, "old");
    ::chmod(target.c_str(), 0640);
    std::string error;
    ASSERT_TRUE(corvella::write_file_atomically(target, "new contents", error)) << error;
    EXPECT_EQ(read_bytes(target), "new contents");
    EXPECT_EQ(mode_of(target), 0640u);
    EXPECT_EQ(entries_in(folder.path()), 1);

    fs::path const nested = folder / "a" / "b" / "file.txt";
    ASSERT_TRUE(corvella::write_file_atomically(nested, "x", error, 0600)) << error;
    EXPECT_EQ(read_bytes(nested), "x");
    EXPECT_EQ(mode_of(nested), 0600u);
}

TEST(AtomicWrite, AFailedReplacementLeavesTheTargetAndNoTemporaryFile)
{
    TempDir folder;
    fs::path const target = folder / "in-the-way";
    fs::create_directories(target / "child");
    std::string error;
    EXPECT_FALSE(corvella::write_file_atomically(target, "x", error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(fs::is_directory(target / "child"));
    EXPECT_EQ(entries_in(folder.path()), 1);
    EXPECT_FALSE(corvella::write_file_atomically(fs::path(), "x", error));
}

TEST(CorruptCopy, NeverOverwritesAnEarlierCopy)
{
    TempDir folder;
    fs::path const target = folder / "Corvella.xml";
    char const* const contents[] = {"one", "two", "three"};
    char const* const names[] = {"Corvella.xml.corrupt", "Corvella.xml.corrupt.1", "Corvella.xml.corrupt.2"};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(corvella::keep_corrupt_copy(target, contents[i]), folder / names[i]);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(read_bytes(folder / names[i]), contents[i]);
}

TEST(SettingsPaths, FollowThePreferencesFolder)
{
    std::string const preferences = corvella::preferences_folder();
    EXPECT_EQ(corvella::settings_folder(), preferences + "Tarnwick/Corvella/");
    EXPECT_EQ(corvella::settings_file_path(), fs::path(preferences + "Tarnwick/Corvella/Corvella.xml"));
}
