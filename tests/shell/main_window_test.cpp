// The main window's system menu, its commands and its progress texts.
#include "shell/main_window.h"

#include <gtest/gtest.h>

#include "settings/settings_store.h"
#include "tests/support/temp_install.h"
#include "ui/headless.h"
#include "ui/menu.h"
#include "ui/window.h"

namespace {

using namespace shell;

TEST(ProgressTextTest, SizesAreGroupedInThousands) {
    testsupport::TempInstall install;
    struct Case {
        int done;
        long size;
        const char* text;
    };
    const Case cases[] = {
        {60, 1234567, "\r\nDownloading VELDA.NOT file\r\n(60% of 1,234,567 bytes)"},
        {60, 999, "\r\nDownloading VELDA.NOT file\r\n(60% of 999 bytes)"},
        {5, 1000, "\r\nDownloading VELDA.NOT file\r\n( 5% of 1,000 bytes)"},
        {100, 1000000, "\r\nDownloading VELDA.NOT file\r\n(100% of 1,000,000 bytes)"},
    };
    for (const auto& c : cases) EXPECT_EQ(ProgressText("VELDA.NOT", c.done, c.size), c.text);
}

class MainWindowTest : public ::testing::Test {
protected:
    testsupport::TempInstall install;
    ui::HeadlessDisplay display;
    void SetUp() override {
        display.onStuck = [](const std::string& s) { FAIL() << "stuck\n" << s; };
        // The lists count as fetched today, so creation checks the databases only.
        ASSERT_TRUE(RegisterMainWindowClass());
    }
    void TearDown() override { ui::ResetWindowLayer(); }
};

TEST_F(MainWindowTest, TheSystemMenuIsTheCommandMenu) {
    ui::HWND main = CreateMainWindow();
    ASSERT_NE(main, 0u);
    EXPECT_TRUE(ui::IsIconic(main));
    EXPECT_EQ(ui::GetWindowText(main), "Veldana - Proxy");
    std::vector<std::string> texts;
    for (const auto& item : ui::MenuItems(ui::GetSystemMenu(main, ui::FALSE)))
        texts.push_back(item.flags & ui::MF_SEPARATOR ? "-" : item.text);
    std::vector<std::string> expected = {"Head&quarters", "&Move", "&Close\tAlt+F4", "-",
                                         "Automatic &Download", "Update &Lists", "-",
                                         "&Proxy Server Setup", "-", "&Uninstall Veldana - Proxy",
                                         "-", "&Help", "&About"};
    EXPECT_EQ(texts, expected);
    EXPECT_EQ(ui::GetMenuState(ui::GetSystemMenu(main, ui::FALSE), kCommandAutoDownload, 0) & ui::MF_CHECKED,
              static_cast<ui::UINT>(ui::MF_CHECKED)) << "AutoDownload absent: on";

    display.ChooseSystemMenuItem(main, kCommandAutoDownload);
    display.RunUntilIdle();
    EXPECT_EQ(settings::ReadSetting(settings::kKeyAutoDownload), "0");
    EXPECT_EQ(ui::GetMenuState(ui::GetSystemMenu(main, ui::FALSE), kCommandAutoDownload, 0) & ui::MF_CHECKED, 0u);
    display.ChooseSystemMenuItem(main, kCommandAutoDownload);
    display.RunUntilIdle();
    EXPECT_EQ(settings::ReadSetting(settings::kKeyAutoDownload), "1");

    // Closing the console deletes IVD.INI in the Windows directory.
    install.writeFile(install.windowsDir() + "/IVD.INI", "x");
    ui::PostMessage(main, WM_CLOSE_CONSOLE, 0, 0);
    display.RunUntilIdle();
    EXPECT_FALSE(ui::IsWindow(main));
    EXPECT_EQ(install.readFile(install.windowsDir() + "/IVD.INI"), "");
}

}  // namespace
