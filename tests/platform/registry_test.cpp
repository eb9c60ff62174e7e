// The registry-style calls over the settings file: key handles, queries and writes.
#include "platform/registry.h"

#include "settings_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using namespace corvella::test;
using RegistryTest = SettingsTest;

constexpr char key_path[] = "SOFTWARE\\Tarnwick\\Corvella";

class OpenKey {
public:
    explicit OpenKey(HKEY root) { EXPECT_EQ(RegOpenKeyEx(root, key_path, 0, 0, &key_), 0); }
    ~OpenKey() { RegCloseKey(key_); }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

} // namespace

TEST(RegistryKeys, LongKeyPathsAndNullArgumentsAreRefused)
{
    std::string const fits(1023 - std::strlen("HKEY_CURRENT_USER\\"), 'k');
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, fits.c_str(), 0, 0, &key), 0);
    EXPECT_EQ(std::strlen(key), 1023u);
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, (fits + "k").c_str(), 0, 0, &key), 1);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegOpenKeyEx(nullptr, key_path, 0, 0, &key), 1);
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, nullptr, 0, 0, &key), 1);
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, key_path, 0, 0, nullptr), 1);
    EXPECT_EQ(RegCloseKey(nullptr), 1);
    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), 0); // closing a root leaves it usable
    EXPECT_STREQ(HKEY_CURRENT_USER, "HKEY_CURRENT_USER");
    unsigned size = 0;
    EXPECT_EQ(RegQueryValueEx(nullptr, "Latency", nullptr, nullptr, nullptr, &size), 1);
    EXPECT_EQ(RegSetValueEx(nullptr, "Latency", 0, REG_SZ, reinterpret_cast<unsigned char const*>("1"), 2),
              1);
}

TEST_F(RegistryTest, QueryReportsSizeTypeAndDataAndNeverWritesPastTheBuffer)
{
    write_settings(settings_document({{user_value("HomePrefDir"), "/srv/ir"}}));
    OpenKey key(HKEY_CURRENT_USER);
    unsigned type = 0, size = 99;
    EXPECT_EQ(RegQueryValueEx(key.get(), "SRNorm", nullptr, nullptr, nullptr, &size), 1);
    EXPECT_EQ(size, 99u);
    ASSERT_EQ(RegQueryValueEx(key.get(), "HomePrefDir", nullptr, &type, nullptr, &size), 0);
    EXPECT_EQ(size, 8u); // "/srv/ir" and its terminating zero
    EXPECT_EQ(type, REG_SZ);

    unsigned char buffer[16];
    std::memset(buffer, 0x55, sizeof buffer);
    size = 7;
    EXPECT_EQ(RegQueryValueEx(key.get(), "HomePrefDir", nullptr, nullptr, buffer, &size), 2);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(buffer[0], 0x55) << "a buffer that is too small gets nothing";
    EXPECT_EQ(RegQueryValueEx(key.get(), "HomePrefDir", nullptr, nullptr, buffer, nullptr), 1);
    ASSERT_EQ(RegQueryValueEx(key.get(), "HomePrefDir", nullptr, nullptr, buffer, &size), 0);
    EXPECT_STREQ(reinterpret_cast<char const*>(buffer), "/srv/ir");
    EXPECT_EQ(buffer[8], 0x55) << "nothing is written past the value";

    OpenKey machine(HKEY_LOCAL_MACHINE); // no fallback at this level
    EXPECT_EQ(RegQueryValueEx(machine.get(), "HomePrefDir", nullptr, nullptr, nullptr, &size), 1);
}

TEST_F(RegistryTest, SetStoresTextUpToSizeOrTheFirstZeroUnderItsRoot)
{
    OpenKey key(HKEY_CURRENT_USER), machine(HKEY_LOCAL_MACHINE);
    unsigned char const text[] = "12345", folder[] = "/opt/corvella/";
    EXPECT_EQ(RegSetValueEx(key.get(), "Latency", 0, REG_SZ, text, 3), 0);
    EXPECT_EQ(read_settings(), settings_document({{user_value("Latency"), "123"}}));
    EXPECT_EQ(RegSetValueEx(key.get(), "Latency", 0, REG_DWORD, text, sizeof text), 0);
    EXPECT_EQ(RegSetValueEx(machine.get(), "InstallDir", 0, REG_SZ, folder, sizeof folder), 0);
    EXPECT_EQ(read_settings(), settings_document({{user_value("Latency"), "12345"},
                                                  {machine_value("InstallDir"), "/opt/corvella/"}}));
}
