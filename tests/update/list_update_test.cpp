// The list update's pieces that need no server: list identification, the list selection of
// the Headquarters dialog, and an update that a replacement list stops before it starts.
#include "update/list_update.h"

#include <gtest/gtest.h>

#include "policy/policy.h"
#include "settings/settings_store.h"
#include "tests/support/temp_install.h"
#include "ui/dialog.h"
#include "ui/headless.h"
#include "ui/window.h"
#include "update/download_schedule.h"
#include "update/http_transfer.h"

namespace {

using namespace update;
using testsupport::BuiltProgram;
using testsupport::RunCommand;

class ListUpdateUnitTest : public ::testing::Test {
protected:
    testsupport::TempInstall install;
    ui::HeadlessDisplay display;
    void SetUp() override {
        ui::ResetWindowLayer();
        ResetListUpdate();
        ResetSchedule();
        ResetHttpTransfer();
        display.onStuck = [](const std::string& s) { FAIL() << "stuck\n" << s; };
    }
    void TearDown() override { ui::ResetWindowLayer(); }

    void MakeList(const std::string& name, const std::string& kind) {
        std::string src = install.root() + "/" + name + ".src";
        install.writeFile(src, "kind " + kind + "\naddress 192.0.2.1 0x0001\n");
        ASSERT_EQ(RunCommand(BuiltProgram("veldana-list") + " make '" + src + "' '" + install.file(name) + "'"), 0);
    }
};

TEST_F(ListUpdateUnitTest, ListFilesAreIdentifiedByTheirHeader) {
    EXPECT_EQ(IdentifyListFile("VELDA.NOT"), 0) << "missing";
    MakeList("VELDA.NOT", "restricted");
    MakeList("VELDA.YES", "approved");
    EXPECT_EQ(IdentifyListFile("VELDA.NOT"), 1);
    EXPECT_EQ(IdentifyListFile("VELDA.YES"), 2);
    install.writeFile(install.file("SHORT.NOT"), std::string(7, 'x'));
    EXPECT_EQ(IdentifyListFile("SHORT.NOT"), 0) << "7 bytes";
    install.writeFile(install.file("HUGE.NOT"), install.readFile(install.file("VELDA.NOT")) +
                                                    std::string(1048576, '\0'));
    EXPECT_EQ(IdentifyListFile("HUGE.NOT"), 0) << "longer than 1,048,576 bytes";
}

TEST_F(ListUpdateUnitTest, AListSelectionIsStoredEvenWhenItsFileIsInvalid) {
    settings::WriteSetting(settings::kKeyNotListReplacement, {}, "OWN.NOT");
    display.AnswerMessageBox(ui::IDOK);
    SelectListForPeriod(0, 0);
    ASSERT_EQ(display.MessageBoxes().size(), 1u);
    EXPECT_NE(display.MessageBoxes()[0].text.find("The VELDA.NOT file is invalid."), std::string::npos);
    EXPECT_EQ(settings::ReadSetting(settings::kKeyNormalVeldaYes), "0");
    EXPECT_EQ(settings::ReadSetting(settings::kKeyNotListReplacement), "") << "cleared";

    policy::Policy().policy.leisureNow = 1;
    SelectListForPeriod(0, 3);  // additional approvals only: no list to check
    EXPECT_EQ(settings::ReadSetting(settings::kKeyLeisureVeldaYes), "3");
    EXPECT_EQ(policy::Policy().policy.leisureList, 3u);
    EXPECT_EQ(display.MessageBoxes().size(), 1u);
}

TEST_F(ListUpdateUnitTest, AReplacementListStopsTheUpdateSilently) {
    settings::WriteSetting(settings::kKeyNotListReplacement, {}, "OWN.NOT");
    Schedule().DownloadDue = 1;
    UpdateAllLists(0, 0);
    EXPECT_EQ(Schedule().DownloadDue, 0);
    EXPECT_TRUE(display.MessageBoxes().empty());
    EXPECT_EQ(HttpTransfer().downloadFileName, "") << "nothing was fetched";
}

}  // namespace
