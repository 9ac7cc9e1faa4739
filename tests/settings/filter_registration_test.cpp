#include "settings/filter_registration.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "settings/settings_store.h"
#include "tests/support/temp_install.h"
#include "ui/dialog.h"
#include "ui/headless.h"
#include "ui/window.h"

namespace {

using namespace settings;

class RegistrationTest : public ::testing::Test {
protected:
    testsupport::TempInstall install;
    ui::HeadlessDisplay display;
    std::string page;  // the policy's block page, as start-up passes it
    void SetUp() override {
        platform::RegKey web;
        ASSERT_EQ(platform::RegCreateKey(platform::HkeyLocalMachine(),
                                         "SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Parameters", web),
                  platform::kErrSuccess);
        display.onStuck = [](const std::string& s) { FAIL() << "stuck\n" << s; };
    }
    void TearDown() override { ui::ResetWindowLayer(); }
    std::string Library() const { return install.programDir() + "/VD-PROXY.DLL"; }
};

TEST(FindTextNoCaseTest, IgnoresBits0x20And0x80) {
    EXPECT_EQ(FindTextNoCase("a.dll,c:\\p\\vd-proxy.dll", "VD-PROXY.DLL"), 11u);
    EXPECT_EQ(FindTextNoCase("x@y", "`"), 1u) << "0x40 and 0x60 pair up";
    EXPECT_EQ(FindTextNoCase("abc", ""), 0u);
    EXPECT_FALSE(FindTextNoCase("", "").has_value());
    EXPECT_FALSE(FindTextNoCase("ab", "abc").has_value());
}

TEST_F(RegistrationTest, StartUpPutsTheLibraryOnTheList) {
    struct Case {
        const char* before;  // null: no value
        std::string after;
    };
    const Case cases[] = {
        {nullptr, "," + Library()},
        {"A.DLL,,", "A.DLL," + Library()},
        {"c:\\other\\vd-proxy.dll", "c:\\other\\vd-proxy.dll"},  // already there, any case
    };
    for (const auto& c : cases) {
        WriteSetting(kKeyFilterDlls, {}, c.before ? c.before : "");
        EXPECT_EQ(RegisterFilterAtStartup("", page), 1);
        EXPECT_EQ(ReadSetting(kKeyFilterDlls), c.after) << (c.before ? c.before : "(none)");
    }
}

TEST_F(RegistrationTest, RemovalTakesTheEntryOffAndDeletesEverySetting) {
    struct Case {
        const char* before;
        const char* after;  // "" = the value is deleted
    };
    const Case cases[] = {
        {"A.DLL,C:\\P\\VD-PROXY.DLL,B.DLL", "A.DLL,B.DLL"},
        {"C:\\P\\VD-PROXY.DLL,B.DLL", ",B.DLL"},
        {"A.DLL,C:\\P\\VD-PROXY.DLL", "A.DLL"},
        {"C:\\P\\VD-PROXY.DLL", ""},
    };
    for (const auto& c : cases) {
        WriteSetting(kKeyFilterDlls, {}, c.before);
        WriteSetting(kKeyNormalContent, {}, "5");
        EXPECT_EQ(RemoveFilterAndSettings(), 1);
        EXPECT_EQ(ReadSetting(kKeyFilterDlls, {}, ""), c.after) << c.before;
        platform::RegKey k;
        EXPECT_EQ(platform::RegOpenKey(platform::HkeyLocalMachine(),
                                       "SYSTEM\\CurrentControlSet\\Services\\W3Velda", k),
                  platform::kErrFileNotFound);
    }
}

TEST_F(RegistrationTest, CommandLineSourceAndRemovalRequest) {
    EXPECT_EQ(RegisterFilterAtStartup("  -x /Sabc  /r", page), 1);
    EXPECT_EQ(ReadSetting(kKeySource), "abc");
    EXPECT_EQ(RegisterFilterAtStartup("/Sxyz", page), 1);
    EXPECT_EQ(ReadSetting(kKeySource), "abc") << "a source code is never replaced";
    EXPECT_TRUE(display.MessageBoxes().empty()) << "/r does not ask";

    display.AnswerMessageBox(ui::IDCANCEL);
    EXPECT_EQ(RegisterFilterAtStartup("/R", page), 1);
    display.AnswerMessageBox(ui::IDOK);
    EXPECT_EQ(RegisterFilterAtStartup("/R", page), 0);
    ASSERT_EQ(display.MessageBoxes().size(), 2u);
    EXPECT_EQ(display.MessageBoxes()[0].text, "Are you sure that you want to remove all traces of Veldana?");
    EXPECT_EQ(ReadSetting(kKeySource), "") << "everything was removed";
}

TEST_F(RegistrationTest, ARedirectPageMustBeAnHttpUrl) {
    WriteSetting(kKeyRedirectedSite, {}, "ftp://blocked.example/");
    page = "old";
    RegisterFilterAtStartup("", page);
    EXPECT_EQ(ReadSetting(kKeyRedirectedSite, {}, "gone"), "gone");
    EXPECT_EQ(page, "");
    WriteSetting(kKeyRedirectedSite, {}, "HTTP://BLOCKED.EXAMPLE/");
    RegisterFilterAtStartup("", page);
    EXPECT_EQ(ReadSetting(kKeyRedirectedSite), "HTTP://BLOCKED.EXAMPLE/");
    EXPECT_EQ(page, "HTTP://BLOCKED.EXAMPLE/");
}

TEST_F(RegistrationTest, TheUninstallerIsStartedWithItsLog) {
    std::string marker = install.root() + "/started";
    install.writeFile(install.windowsDir() + "/UNWISE.DLL",
                      "#!/bin/sh\necho \"$1\" > " + marker + "\n");
    ::chmod((install.windowsDir() + "/UNWISE.DLL").c_str(), 0755);
    StartUninstaller();
    for (int i = 0; i < 200 && install.readFile(marker).empty(); ++i) usleep(10000);
    EXPECT_EQ(install.readFile(marker), install.windowsDir() + "/IVD.LOG\n");
}

}  // namespace
