// Element names of the settings document; loading, reading and writing it are tested through the store.
#include "platform/xml_io.h"

#include <gtest/gtest.h>

#include <string>

TEST(ValueElementName, JoinsKeyAndNameAndRefusesNamesTheFileCannotHold)
{
    char const user_key[] = "HKEY_CURRENT_USER\\SOFTWARE\\Tarnwick\\Corvella";
    EXPECT_EQ(corvella::value_element_name(user_key, "UserSpecifiedLostLocation49"),
              "HKEY_CURRENT_USER:SOFTWARE:Tarnwick:Corvella:UserSpecifiedLostLocation49");
    for (char const* name : {"", "Two Words", "a&b", "9Lives", "-dash", "Back\\", "Colon:", "\xC3\xA9"})
        EXPECT_EQ(corvella::value_element_name(user_key, name), "") << name;
    EXPECT_EQ(corvella::value_element_name(nullptr, "Latency"), "");
    EXPECT_EQ(corvella::value_element_name(user_key, nullptr), "");
    EXPECT_EQ(corvella::value_element_name("Key With Space", "Latency"), "");
}
