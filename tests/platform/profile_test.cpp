#include "platform/profile.h"

#include <gtest/gtest.h>

#include "tests/support/temp_install.h"

namespace {

using namespace platform;

TEST(ProfileTest, ReadsWithTheWindowsRules) {
    testsupport::TempInstall install;
    std::string path = install.file("TEST.INI");
    install.writeFile(path,
                      "; comment\r\n"
                      "[other]\n"
                      "sShortDate=wrong\n"
                      "[ Intl ]\r\n"
                      "  sShortDate = dd.MM.yyyy  \r\n"
                      "s1159=\"AM \"\n"
                      ";iTime=1\n"
                      "iTime=0\n"
                      "iTime=1\n"
                      "noequals\n"
                      "empty=\n"
                      "[next]\n"
                      "sTime=:\n");
    struct Case {
        const char* key;
        const char* expected;
    };
    const Case cases[] = {
        {"sshortdate", "dd.MM.yyyy"},  // trimmed, key case ignored
        {"s1159", "AM "},              // quotes removed, inner blank kept
        {"iTime", "0"},                // first occurrence, comments skipped
        {"empty", ""},
        {"sTime", "default"},          // belongs to the next section
        {"noequals", "default"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetPrivateProfileString("INTL", c.key, "default", path), c.expected) << c.key;
}

TEST(ProfileTest, WinIniComesFromTheWindowsDirectoryAndMissingReadsAsDefault) {
    testsupport::TempInstall install;
    EXPECT_EQ(GetProfileString("intl", "sShortDate", "M/d/yy"), "M/d/yy");
    install.writeFile(install.windowsDir() + "/WIN.INI", "[intl]\nsShortDate=yyyy-MM-dd\n");
    EXPECT_EQ(GetProfileString("intl", "sShortDate", "M/d/yy"), "yyyy-MM-dd");
    EXPECT_EQ(GetProfileString("intl", "sLongDate", "x"), "x");
    EXPECT_EQ(GetProfileString("missing", "sShortDate", ""), "");
}

}  // namespace
