// The main window's system menu, its commands and its progress texts.
#include "shell/main_window.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "platform/registry.h"
#include "settings/settings_store.h"
#include "shell/startup.h"
#include "ui/dialog.h"
#include "ui/gdi.h"
#include "update/download_schedule.h"
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

// The whole console in this process, its display the scripted user: an uninstall from the
// system menu, confirmed or cancelled.
class ConsoleRunTest : public ::testing::Test {
  protected:
    testsupport::TempInstall install;
    ui::HeadlessDisplay display;
    const char* databases[4] = {"VeldaNOT.BIN", "VeldaYES.BIN", "NoneNOT.BIN", "NoneYES.BIN"};

    void SetUp() override {
        display.onStuck = [](const std::string& s) { FAIL() << "stuck\n" << s; };
        // Nothing due: the lists count as fetched today.
        const std::string today = std::to_string(update::DayNumber());
        settings::WriteSetting(settings::kKeyNotDownloadDay, {}, today);
        settings::WriteSetting(settings::kKeyYesDownloadDay, {}, today);
        // The web service's filter list, with ours among others.
        platform::RegKey key;
        ASSERT_EQ(platform::RegCreateKey(platform::HkeyLocalMachine(),
                                         settings::SettingKeyPath(settings::kKeyFilterDlls), key),
                  platform::kErrSuccess);
        ASSERT_EQ(settings::WriteSetting(settings::kKeyFilterDlls, {}, "a.dll,VD-PROXY.DLL,b.dll"), 1);
        // The uninstaller stands in as a script that records its arguments.
        const std::string uninstaller = install.windowsDir() + "/UNWISE.DLL";
        install.writeFile(uninstaller, "#!/bin/sh\necho \"$@\" > " + install.root() + "/args.new && mv " +
                                           install.root() + "/args.new " + install.root() + "/args\n");
        ::chmod(uninstaller.c_str(), 0755);
        for (const char* db : databases) install.writeFile(install.file(db), "old");
        install.writeFile(install.windowsDir() + "/IVD.INI", "[x]\n");
    }
    void TearDown() override { ui::ResetWindowLayer(); }

    // Runs the console, chooses Uninstall and answers the confirmation.
    void RunAndUninstall(int answer) {
        display.Then([] { ui::PostMessage(Shell().mainWindow, ui::WM_SYSCOMMAND, kCommandUninstall, 0); });
        display.AnswerMessageBox(answer);
        EXPECT_EQ(ProgramEntry(""), 1);
        ASSERT_EQ(display.MessageBoxes().size(), 1u);
        EXPECT_NE(display.MessageBoxes()[0].text.find("All Password Information will be lost"),
                  std::string::npos);
    }
    bool Exists(const std::string& path) {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0;
    }
};

TEST_F(ConsoleRunTest, UninstallConfirmedRemovesTheFilterTheSettingsAndTheDatabases) {
    RunAndUninstall(ui::IDOK);
    EXPECT_EQ(settings::ReadSetting(settings::kKeyFilterDlls), "a.dll,b.dll");
    platform::RegKey key;
    EXPECT_NE(platform::RegOpenKey(platform::HkeyLocalMachine(),
                                   "SYSTEM\\CurrentControlSet\\Services\\W3Velda", key),
              platform::kErrSuccess);
    for (const char* db : databases) EXPECT_FALSE(Exists(install.file(db))) << db;
    EXPECT_FALSE(Exists(install.windowsDir() + "/IVD.INI"));
    // The uninstaller is started, not waited for.
    for (int i = 0; i < 250 && !Exists(install.root() + "/args"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(install.readFile(install.root() + "/args"), install.windowsDir() + "/IVD.LOG\n");
}

// What a second start hands over: query open with wParam 1. It opens Headquarters, the main
// window staying minimized; while Headquarters is open another request does nothing.
TEST_F(ConsoleRunTest, AnOpenRequestOpensHeadquartersOnce) {
    const char* const kCaption = "Veldana - Proxy Headquarters";
    auto headquartersWindows = [&] {
        int n = 0;
        for (ui::HWND w : ui::AllWindows())
            n += ui::IsWindowVisible(w) && ui::GetWindowText(w) == kCaption;
        return n;
    };
    display.Then([] { ui::PostMessage(Shell().mainWindow, ui::WM_QUERYOPEN, 1, 0); });
    display.Then([&] {
        EXPECT_EQ(headquartersWindows(), 1);
        EXPECT_TRUE(ui::IsIconic(Shell().mainWindow));
        ui::PostMessage(Shell().mainWindow, ui::WM_QUERYOPEN, 1, 0);
    });
    display.Then([&] {
        EXPECT_EQ(headquartersWindows(), 1) << "not a second one";
        display.PressKey(display.FindTopLevel(kCaption), ui::VK_ESCAPE);
    });
    display.Then([&] {
        EXPECT_EQ(headquartersWindows(), 0);
        ui::PostMessage(Shell().mainWindow, WM_CLOSE_CONSOLE, 0, 0);
    });
    EXPECT_EQ(ProgramEntry(""), 1);
}

// The minimized window paints the current icon: the upgrade icon (a white arrow in its
// corner) when the UPDATE marker is there at the start, which also resets QTXPHWI.
TEST_F(ConsoleRunTest, TheUpgradeMarkerMakesTheUpgradeIconCurrent) {
    for (bool marker : {false, true}) {
        SCOPED_TRACE(marker);
        ResetShell();
        if (marker) install.writeFile(install.file("UPDATE"), std::string(128, '\0'));
        settings::WriteSetting(settings::kKeyUpgradeSeen, {}, "1");
        display.Then([&] {
            const ui::Surface* surface = ui::WindowSurface(Shell().mainWindow);
            ASSERT_NE(surface, nullptr);
            EXPECT_EQ(surface->Pixel(25, 27) == ui::RGB(255, 255, 255), marker) << "the arrow's shaft";
            EXPECT_EQ(settings::ReadSetting(settings::kKeyUpgradeSeen), marker ? "0" : "1");
            ui::PostMessage(Shell().mainWindow, WM_CLOSE_CONSOLE, 0, 0);
        });
        EXPECT_EQ(ProgramEntry(""), 1);
    }
}

TEST_F(ConsoleRunTest, UninstallCancelledRemovesNothingButTheConsoleEnds) {
    RunAndUninstall(ui::IDCANCEL);
    EXPECT_EQ(settings::ReadSetting(settings::kKeyFilterDlls), "a.dll,VD-PROXY.DLL,b.dll");
    EXPECT_EQ(settings::ReadSetting(settings::kKeyAmStart), "33");
    for (const char* db : databases) EXPECT_TRUE(Exists(install.file(db))) << db;
    EXPECT_FALSE(Exists(install.windowsDir() + "/IVD.INI")) << "every shutdown deletes it";
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(Exists(install.root() + "/args")) << "no uninstaller";
}

}  // namespace
