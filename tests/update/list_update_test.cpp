// The list update in process: list identification, the list selection of the Headquarters
// dialog, an update that a replacement list stops before it starts, and interactive updates
// whose transfer a person cancels or the server abandons in the middle of the body, against
// a scripted responder on loopback.
#include "update/list_update.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "policy/policy.h"
#include "resolve/socket_library.h"
#include "resources/string_table.h"
#include "settings/settings_store.h"
#include "tests/support/temp_install.h"
#include "tests/update/scripted_responder.h"
#include "ui/dialog.h"
#include "ui/headless.h"
#include "ui/window.h"
#include "update/download_schedule.h"
#include "update/http_transfer.h"
#include "update/transfer_status.h"

namespace {

using namespace update;
using scripted::ScriptedResponder;
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
        ResetTransferStatus();
        display.onStuck = [](const std::string& s) { FAIL() << "stuck\n" << s; };
    }
    void TearDown() override {
        resolve::UnloadSocketLibrary();
        ResetHttpTransfer();
        ResetTransferStatus();
        ui::ResetWindowLayer();
    }

    // Makes the responder the only update server.
    void OnlyServer(const ScriptedResponder& responder) {
        install.writeFile(
            install.file("STRINGS.INI"),
            "[strings]\n13=127.0.0.1:" + std::to_string(responder.port()) + "\n18=\n19=\n");
        resources::ResetStringTable();
    }
    std::vector<std::string> MessageTexts() const {
        std::vector<std::string> texts;
        for (const auto& box : display.MessageBoxes()) texts.push_back(box.text);
        return texts;
    }
    // Files the console was receiving and did not keep.
    static bool Received(const std::string& name) {
        return name.size() > 4 && name.substr(name.size() - 4) == ".RCV";
    }
    std::vector<std::string> ReceivedFiles() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(install.programDir()))
            if (Received(e.path().filename().string()))
                names.push_back(e.path().filename().string());
        return names;
    }

    void MakeList(const std::string& name, const std::string& kind) {
        std::string src = install.root() + "/" + name + ".src";
        install.writeFile(src, "kind " + kind + "\naddress 192.0.2.1 0x0001\n");
        ASSERT_EQ(RunCommand(BuiltProgram("veldana-list") + " make '" + src + "' '" +
                             install.file(name) + "'"),
                  0);
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
    install.writeFile(install.file("HUGE.NOT"),
                      install.readFile(install.file("VELDA.NOT")) + std::string(1048576, '\0'));
    EXPECT_EQ(IdentifyListFile("HUGE.NOT"), 0) << "longer than 1,048,576 bytes";
}

TEST_F(ListUpdateUnitTest, AListSelectionIsStoredEvenWhenItsFileIsInvalid) {
    settings::WriteSetting(settings::kKeyNotListReplacement, {}, "OWN.NOT");
    display.AnswerMessageBox(ui::IDOK);
    SelectListForPeriod(0, 0);
    ASSERT_EQ(display.MessageBoxes().size(), 1u);
    EXPECT_NE(display.MessageBoxes()[0].text.find("The VELDA.NOT file is invalid."),
              std::string::npos);
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

// A person presses Cancel while the body of the first list comes in: that list's failure
// is reported, nothing else is fetched, the installed list and the databases stay as they
// were, and the partly received file is removed.
TEST_F(ListUpdateUnitTest, CancelDuringTheBodyEndsTheUpdateAndKeepsTheInstalledList) {
    MakeList("VELDA.NOT", "restricted");
    const std::string installed = install.readFile(install.file("VELDA.NOT"));
    settings::WriteSetting(settings::kKeyBinChanged, {}, "1");
    ScriptedResponder responder(
        {ScriptedResponder::Send(scripted::Head(10000000, "VELDANOT.RCV") + scripted::Body(100)),
         ScriptedResponder::WaitSignal(), ScriptedResponder::Drip()});
    OnlyServer(responder);
    // Waits for the body (its file is made when the head is complete), then clicks Cancel
    // in the progress window.
    std::function<void()> cancelInBody = [&] {
        if (!std::filesystem::exists(install.file("VELDANOT.RCV"))) {
            display.Then(cancelInBody);
            return;
        }
        ASSERT_NE(TransferStatus().window, 0u);
        display.Click(TransferStatus().window, kCancelButtonId);
        responder.Signal();
    };
    display.Then(cancelInBody);
    display.AnswerMessageBox(ui::IDOK);
    display.AnswerMessageBox(ui::IDOK);

    UpdateAllLists(0, 0);
    EXPECT_EQ(MessageTexts(),
              (std::vector<std::string>{resources::LoadStr(3009), resources::LoadStr(8303)}));
    EXPECT_NE(responder.Request().find("GET /filedown/43 "), std::string::npos);
    EXPECT_EQ(install.readFile(install.file("VELDA.NOT")), installed);
    EXPECT_TRUE(ReceivedFiles().empty());
    EXPECT_FALSE(std::filesystem::exists(install.file("VeldaNOT.BIN"))) << "nothing rebuilt";
    EXPECT_EQ(settings::ReadSetting(settings::kKeyBinChanged), "1");
    EXPECT_EQ(settings::ReadSetting(settings::kKeyNotDownloadDay), "") << "not fetched today";
    EXPECT_EQ(resolve::SocketLibrary().SocketLibraryHandle, nullptr);
    EXPECT_EQ(TransferStatus().window, 0u);
}

// The server goes silent in the middle of the body: the inactivity timer ends the transfer,
// which counts as a server that does not respond.
TEST_F(ListUpdateUnitTest, AServerSilentInTheBodyIsCutOffAndTheUpdateFails) {
    MakeList("VELDA.NOT", "restricted");
    const std::string installed = install.readFile(install.file("VELDA.NOT"));
    const std::string body = scripted::Body(5000);
    ScriptedResponder responder(
        {ScriptedResponder::Send(scripted::Head(body.size(), "VELDANOT.RCV") + body.substr(0, 700)),
         ScriptedResponder::Hold()});
    OnlyServer(responder);
    HttpTransfer().inactivityMs = 150;
    display.AnswerMessageBox(ui::IDOK);
    display.AnswerMessageBox(ui::IDOK);

    UpdateAllLists(0, 0);
    EXPECT_TRUE(responder.ClientHungUp());
    EXPECT_EQ(MessageTexts(),
              (std::vector<std::string>{resources::LoadStr(3015), resources::LoadStr(8303)}));
    EXPECT_EQ(install.readFile(install.file("VELDA.NOT")), installed);
    EXPECT_TRUE(ReceivedFiles().empty()) << "the partial body is removed";
    EXPECT_EQ(HttpTransfer().timerId, 0u);
    EXPECT_EQ(resolve::SocketLibrary().SocketLibraryHandle, nullptr);
}

}  // namespace
