// The list update in process: list identification, the list selection of the Headquarters
// dialog, an update that a replacement list stops before it starts, and interactive updates
// whose transfer a person cancels or the server abandons in the middle of the body, against
// a scripted responder on loopback.
#include "update/list_update.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "policy/database_rebuild.h"
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
#include "progress/transfer_status.h"

namespace {

using namespace update;
using namespace progress;
using scripted::ScriptedResponder;
using testsupport::BuiltProgram;
using testsupport::RunCommand;

// The rebuild the console passes to its updates.
int Rebuild(dbbuild::NoneDatabases none) { return policy::RebuildDatabases(none); }

class ListUpdateUnitTest : public ::testing::Test {
  protected:
    testsupport::TempInstall install;
    ui::HeadlessDisplay display;
    void SetUp() override {
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
        ASSERT_EQ(testsupport::MakeListFile("kind " + kind + "\naddress 192.0.2.1 0x0001\n",
                                            install.file(name)),
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
    policy::SelectListForPeriod(0, 0);
    ASSERT_EQ(display.MessageBoxes().size(), 1u);
    EXPECT_NE(display.MessageBoxes()[0].text.find("The VELDA.NOT file is invalid."),
              std::string::npos);
    EXPECT_EQ(settings::ReadSetting(settings::kKeyNormalVeldaYes), "0");
    EXPECT_EQ(settings::ReadSetting(settings::kKeyNotListReplacement), "") << "cleared";

    policy::Policy().policy.leisureNow = 1;
    policy::SelectListForPeriod(0, 3);  // additional approvals only: no list to check
    EXPECT_EQ(settings::ReadSetting(settings::kKeyLeisureVeldaYes), "3");
    EXPECT_EQ(policy::Policy().policy.leisureList, 3u);
    EXPECT_EQ(display.MessageBoxes().size(), 1u);
}

TEST_F(ListUpdateUnitTest, AReplacementListStopsTheUpdateSilently) {
    settings::WriteSetting(settings::kKeyNotListReplacement, {}, "OWN.NOT");
    Schedule().DownloadDue = 1;
    UpdateAllLists(0, UpdateStart::kByAdministrator, Rebuild);
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

    UpdateAllLists(0, UpdateStart::kByAdministrator, Rebuild);
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

    UpdateAllLists(0, UpdateStart::kByAdministrator, Rebuild);
    EXPECT_TRUE(responder.ClientHungUp());
    EXPECT_EQ(MessageTexts(),
              (std::vector<std::string>{resources::LoadStr(3015), resources::LoadStr(8303)}));
    EXPECT_EQ(install.readFile(install.file("VELDA.NOT")), installed);
    EXPECT_TRUE(ReceivedFiles().empty()) << "the partial body is removed";
    EXPECT_EQ(HttpTransfer().timerId, 0u);
    EXPECT_EQ(resolve::SocketLibrary().SocketLibraryHandle, nullptr);
}

// The whole update, interactive, with the first list's response in one of the forms the
// transfer engine takes or refuses: what it takes is installed and compiled, what it
// refuses fails the update.
TEST_F(ListUpdateUnitTest, UnusualResponsesThroughAWholeUpdate) {
    auto served = [&](const std::string& name, const std::string& kind) {
        MakeList(name, kind);
        std::string bytes = install.readFile(install.file(name));
        std::filesystem::remove(install.file(name));
        return bytes;
    };
    auto raw = [](const std::string& host) {
        std::string out("\x01\0\0\0", 4);
        out += static_cast<char>(host.size());
        out += host + std::string("\x0a\0\0\x01", 4);
        return out;
    };
    const std::string notList = served("SERVED.NOT", "restricted");
    const std::string yesList = served("SERVED.YES", "approved");
    const std::string rawYes = raw("good.example"), rawNot = raw("bad.example");
    auto response = [](const std::string& body, const std::string& name) {
        return scripted::Head(body.size(), name) + body;
    };
    std::string lfHead = scripted::Head(notList.size(), "VELDANOT.RCV");
    for (std::size_t at; (at = lfHead.find("\r\n")) != std::string::npos;) lfHead.erase(at, 1);
    std::string noFileDate = response(notList, "VELDANOT.RCV");
    noFileDate.erase(noFileDate.find("vd-filedate"),
                     std::string("vd-filedate: 19941106\r\n").size());

    const struct {
        const char* what;
        std::string firstResponse;  // VELDA.NOT's
        bool installed;
    } cases[] = {
        {"head ended by LF LF", lfHead + notList, true},
        {"404 status with all six headers",
         scripted::Head(notList.size(), "VELDANOT.RCV", scripted::kServerDate, "N",
                        "HTTP/1.0 404 Not Found") +
             notList,
         true},
        {"more body than Content-Length", response(notList, "VELDANOT.RCV") + "trailing bytes",
         true},
        {"no vd-filedate", noFileDate, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* name :
             {"VELDA.NOT", "VELDA.YES", "DNSRAW.YES", "DNSRAW.NOT", "VeldaNOT.BIN", "VeldaYES.BIN",
              "NoneNOT.BIN", "NoneYES.BIN", "DNSHASH.DAT"})
            std::filesystem::remove(install.file(name));
        ResetListUpdate();
        ResetHttpTransfer();
        using Script = std::vector<ScriptedResponder::Step>;
        ScriptedResponder responder(
            std::vector<Script>{Script{ScriptedResponder::Send(c.firstResponse)},
                                Script{ScriptedResponder::Send(response(yesList, "VELDAYES.RCV"))},
                                Script{ScriptedResponder::Send(response(rawYes, "RAWYES.RCV"))},
                                Script{ScriptedResponder::Send(response(rawNot, "RAWNOT.RCV"))}});
        OnlyServer(responder);
        const std::size_t before = display.MessageBoxes().size();
        display.AnswerMessageBox(ui::IDOK);
        display.AnswerMessageBox(ui::IDOK);

        UpdateAllLists(0, UpdateStart::kByAdministrator, Rebuild);
        std::vector<std::string> texts;
        for (std::size_t i = before; i < display.MessageBoxes().size(); ++i)
            texts.push_back(display.MessageBoxes()[i].text);
        if (c.installed) {
            EXPECT_EQ(texts, std::vector<std::string>{resources::LoadStr(8302)});
            EXPECT_EQ(install.readFile(install.file("VELDA.NOT")), notList);
            EXPECT_EQ(install.readFile(install.file("DNSRAW.NOT")), rawNot);
            EXPECT_TRUE(std::filesystem::exists(install.file("VeldaNOT.BIN")));
            EXPECT_TRUE(std::filesystem::exists(install.file("DNSHASH.DAT")));
            EXPECT_EQ(responder.Requests().size(), 4u);
        } else {
            // Nothing is there to name the failing list by, so only the update's end speaks.
            EXPECT_EQ(texts, std::vector<std::string>{resources::LoadStr(8303)});
            EXPECT_FALSE(std::filesystem::exists(install.file("VELDA.NOT")));
            EXPECT_EQ(responder.Requests().size(), 1u) << "the update stops at the first list";
        }
        EXPECT_TRUE(ReceivedFiles().empty());
    }
}

}  // namespace
