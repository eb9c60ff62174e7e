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

TEST(ValueElementName, JoinsKeyAndNameAndReplacesBackslashes)
{
    EXPECT_EQ(corvella::value_element_name(user_key, "Latency"),
              "HKEY_CURRENT_USER:SOFTWARE:Tarnwick:Corvella:Latency");
    EXPECT_EQ(corvella::value_element_name("HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarnwick\\Corvella", "InstallDir"),
              "HKEY_LOCAL_MACHINE:SOFTWARE:Tarnwick:Corvella:InstallDir");
    EXPECT_EQ(corvella::value_element_name(user_key, "UserSpecifiedLostLocation49"),
              "HKEY_CURRENT_USER:SOFTWARE:Tarnwick:Corvella:UserSpecifiedLostLocation49");
}

TEST(ValueElementName, IsEmptyForNamesTheFileCannotHold)
{
    for (char const* name : {"", "Two Words", "a&b", "9Lives", "-dash", "Back\\", "Colon:", "\xC3\xA9"})
        EXPECT_EQ(corvella::value_element_name(user_key, name), "") << name;
    EXPECT_EQ(corvella::value_element_name(nullptr, "Latency"), "");
    EXPECT_EQ(corvella::value_element_name(user_key, nullptr), "");
    EXPECT_EQ(corvella::value_element_name("Key With Space", "Latency"), "");
}

class XmlIOTest : public testing::Test {
protected:
    TempDir folder_;
    fs::path const file_ = folder_ / "settings.xml";
    MessageRecorder messages_;
};

TEST_F(XmlIOTest, ClassifiesWhatItLoads)
{
    EXPECT_EQ(CXmlIO(file_).state(), CXmlIO::State::missing);
    write_bytes(file_, "");
    EXPECT_EQ(CXmlIO(file_).state(), CXmlIO::State::blank);
    write_bytes(file_, " \n\t ");
    EXPECT_EQ(CXmlIO(file_).state(), CXmlIO::State::blank);
    write_bytes(file_, "<Registry/>");
    EXPECT_EQ(CXmlIO(file_).state(), CXmlIO::State::valid);
    write_bytes(file_, "<Other/>");
    EXPECT_EQ(CXmlIO(file_).state(), CXmlIO::State::corrupt);
    write_bytes(file_, "<Registry><unclosed></Registry>");
    EXPECT_EQ(CXmlIO(file_).state(), CXmlIO::State::corrupt);
    fs::remove(file_);
    fs::create_directory(file_);
    EXPECT_EQ(CXmlIO(file_).state(), CXmlIO::State::unreadable);
    EXPECT_EQ(CXmlIO(fs::path()).state(), CXmlIO::State::unreadable);
}

TEST_F(XmlIOTest, GetValueFindsTheElementAndReportsAbsence)
{
    write_bytes(file_, settings_document({{user_value("Latency"), "512"}, {user_value("Empty"), ""}}));
    CXmlIO settings(file_);
    std::string out = "untouched";
    EXPECT_FALSE(settings.GetValue(user_key, "SRNorm", out));
    EXPECT_EQ(out, "untouched");
    EXPECT_TRUE(settings.GetValue(user_key, "Latency", out));
    EXPECT_EQ(out, "512");
    EXPECT_TRUE(settings.GetValue(user_key, "Empty", out));
    EXPECT_EQ(out, "");
    EXPECT_FALSE(settings.GetValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarnwick\\Corvella", "Latency", out));
}

TEST_F(XmlIOTest, AnElementHoldingSomethingOtherThanTextReadsAsEmpty)
{
    write_bytes(file_, "<Registry><" + user_value("Latency") + "><!-- note --></" + user_value("Latency") +
                           "></Registry>");
    std::string out = "untouched";
    EXPECT_TRUE(CXmlIO(file_).GetValue(user_key, "Latency", out));
    EXPECT_EQ(out, "");
}

TEST_F(XmlIOTest, SetValueSavesAtOnceAndEachObjectReloads)
{
    CXmlIO writer(file_);
    ASSERT_TRUE(writer.SetValue(user_key, "Latency", "128"));
    EXPECT_EQ(writer.state(), CXmlIO::State::valid);
    EXPECT_EQ(read_bytes(file_), settings_document({{user_value("Latency"), "128"}}));

    ASSERT_TRUE(CXmlIO(file_).SetValue(user_key, "SRNorm", "2"));
    std::string out;
    EXPECT_TRUE(CXmlIO(file_).GetValue(user_key, "SRNorm", out));
    EXPECT_EQ(out, "2");
    // An object loaded earlier does not see later changes by others.
    EXPECT_FALSE(writer.GetValue(user_key, "SRNorm", out));
}

TEST_F(XmlIOTest, SetValueReplacesAnyContentOfTheElement)
{
    write_bytes(file_, "<?xml version=\"1.0\" ?>\n<Registry>\n    <" + user_value("Latency") +
                           "><x>1</x>old</" + user_value("Latency") + ">\n</Registry>\n");
    ASSERT_TRUE(CXmlIO(file_).SetValue(user_key, "Latency", "new"));
    EXPECT_EQ(read_bytes(file_), settings_document({{user_value("Latency"), "new"}}));
}

TEST_F(XmlIOTest, SetValueIntoAnUnreadableFileFailsAndChangesNothing)
{
    fs::create_directory(file_);
    CXmlIO settings(file_);
    EXPECT_FALSE(settings.SetValue(user_key, "Latency", "1"));
    EXPECT_FALSE(settings.last_error().empty());
    EXPECT_TRUE(fs::is_directory(file_));
}

TEST(AtomicWrite, ReplacesTheFileAndKeepsItsPermissions)
{
    TempDir folder;
    fs::path const target = folder / "file.txt";
    write_bytes(target, "old");
    ::chmod(target.c_str(), 0640);
    std::string error;
    ASSERT_TRUE(corvella::write_file_atomically(target, "new contents", error)) << error;
    EXPECT_EQ(read_bytes(target), "new contents");
    struct stat status {};
    ASSERT_EQ(::stat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);
}

TEST(AtomicWrite, CreatesMissingFoldersAndUsesTheGivenMode)
{
    TempDir folder;
    fs::path const target = folder / "a" / "b" / "file.txt";
    std::string error;
    ASSERT_TRUE(corvella::write_file_atomically(target, "x", error, 0600)) << error;
    EXPECT_EQ(read_bytes(target), "x");
    struct stat status {};
    ASSERT_EQ(::stat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
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
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);

    EXPECT_FALSE(corvella::write_file_atomically(fs::path(), "x", error));
}

TEST(CorruptCopy, NeverOverwritesAnEarlierCopy)
{
    TempDir folder;
    fs::path const target = folder / "Corvella.xml";
    EXPECT_EQ(corvella::keep_corrupt_copy(target, "one"), folder / "Corvella.xml.corrupt");
    EXPECT_EQ(corvella::keep_corrupt_copy(target, "two"), folder / "Corvella.xml.corrupt.1");
    EXPECT_EQ(corvella::keep_corrupt_copy(target, "three"), folder / "Corvella.xml.corrupt.2");
    EXPECT_EQ(read_bytes(folder / "Corvella.xml.corrupt"), "one");
    EXPECT_EQ(read_bytes(folder / "Corvella.xml.corrupt.1"), "two");
    EXPECT_EQ(read_bytes(folder / "Corvella.xml.corrupt.2"), "three");
}

TEST(SettingsPaths, FollowThePreferencesFolder)
{
    std::string const preferences = corvella::preferences_folder();
    EXPECT_EQ(corvella::settings_folder(), preferences + "Tarnwick/Corvella/");
    EXPECT_EQ(corvella::settings_file_path(), fs::path(preferences + "Tarnwick/Corvella/Corvella.xml"));
}

} // namespace
