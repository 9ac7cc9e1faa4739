#include "resources/string_table.h"

#include <gtest/gtest.h>

#include "settings/settings_store.h"
#include "tests/support/temp_install.h"

namespace {

using namespace resources;

TEST(StringTableTest, BuiltInTextsAreExact) {
    testsupport::TempInstall install;
    struct Case {
        int id;
        const char* text;
    };
    const Case cases[] = {
        {3000, "Veldana Message"},
        {2004, "WINSOCK Error"},
        {5131, "NormalContent"},
        {5137, "Filter DLLs"},
        {2333, " Restricted Categories per Work Time"},  // leading blank kept
        {1709, "Questionable / Illegal && Gambling"},
        {5616, "\r\nDownloading %s file\r\n(%2d%% of %d bytes)"},
        {3009, "VeldaNOT download aborted or failed.  Please try again later."},
    };
    for (const auto& c : cases) EXPECT_EQ(LoadStr(c.id), c.text) << c.id;
    EXPECT_EQ(LoadStr(1), "");
    EXPECT_EQ(LoadStr(-5), "");
}

TEST(StringTableTest, EveryTableKeyHasItsValueName) {
    testsupport::TempInstall install;
    for (int id : {5002, 5003, 5004, 5018, 5023, 5032, 5083, 5094, 5095, 5115, 5116, 5117, 5118,
                   5119, 5120, 5121, 5122, 5125, 5126, 5127, 5128, 5129, 5130, 5131, 5132, 5133,
                   5134, 5135, 5136, 5137, 5139, 5140, 5141, 5142, 5143, 5144, 5145}) {
        EXPECT_NE(settings::SettingKey(id).location, settings::SettingKeyInfo::kCallerNamed) << id;
        EXPECT_FALSE(LoadStr(id).empty()) << id;
    }
}

TEST(StringTableTest, StringsIniOverridesWithEscapesAndTextsAreCut) {
    testsupport::TempInstall install;
    install.writeFile(install.file("STRINGS.INI"),
                      "[strings]\n"
                      "13=lists.example.org\n"
                      "3000=Line one\\r\\nC:\\PROXY\\\\x\n"
                      "777=" + std::string(300, 'z') + "\n"
                      "notanumber=ignored\n");
    EXPECT_EQ(LoadStr(13), "lists.example.org");
    EXPECT_EQ(LoadStr(3000), "Line one\r\nC:\\PROXY\\x");
    EXPECT_EQ(LoadStr(777), std::string(kMaxStringLength, 'z'));
    EXPECT_EQ(LoadStr(2004), "WINSOCK Error");
}

TEST(StringTableTest, ParserReportsTheBadLine) {
    struct Case {
        const char* text;
        bool ok;
        const char* error;
    };
    const Case cases[] = {
        {"# c\n\n1\tone\n2\ttwo\\tx\n", true, ""},
        {"1\tone\nbad line\n", false, "line 2: expected NUMBER<TAB>TEXT"},
        {"1\tone\n1\tagain\n", false, "line 2: string 1 appears twice"},
        {"x1\tone\n", false, "line 1: expected NUMBER<TAB>TEXT"},
    };
    for (const auto& c : cases) {
        std::map<int, std::string> table;
        std::string error;
        EXPECT_EQ(ParseStringTable(c.text, table, error), c.ok) << c.text;
        EXPECT_EQ(error, c.error);
    }
    std::map<int, std::string> table;
    std::string error;
    ASSERT_TRUE(ParseStringTable("2\ttwo\\tx\\q\n", table, error));
    EXPECT_EQ(table[2], "two\tx\\q");
}

}  // namespace
