// The domain filter dialog driven by a scripted administrator: adding, refusing and
// deleting domain parts in the two lists that share the 1024 records, Save (USER.LST and
// the databases), Cancel, and a USER.LST that cannot be written.
#include "dialogs/domain_filter.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "dbread/list_file.h"
#include "dialogs/console.h"
#include "settings/settings_store.h"
#include "sitelists/site_list.h"
#include "tests/support/temp_install.h"
#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/headless.h"
#include "ui/message_box.h"
#include "ui/window.h"

namespace {

using namespace ui;

constexpr const char* kCaption = "Domain Name Filter Setup";
constexpr int kRestricted = 1241, kApproved = 1242;
constexpr int kSave = 1023, kDelete = 1256, kCancel = 1021, kHelp = 1215, kAdd = 1255;

const std::string kTableFull = "You have already reached the Maximum Number of Additional Domains.";
const std::string kInApproved = "This entry was already added to the \"Additional Approvals\" list";
const std::string kInRestricted =
    "This entry was already added to the \"Additional Restrictions\" list";
const std::string kHighlightFirst =
    "You must highlight an item in one of the lists before pressing the delete key.";
const std::string kRebuildFailed =
    "An error occurred generating the databases.  Please check the data and try again.";

using Record = std::pair<int, std::string>;  // kind, domain part

// Notes the timer-busy flag whenever the restricted list changes.
class RecordingDisplay : public HeadlessDisplay {
  public:
    void WindowChanged(HWND hwnd) override {
        if (GetDlgCtrlID(hwnd) != kRestricted || ComboCount(hwnd) <= items) return;
        items = ComboCount(hwnd);
        busyWhileFilled.push_back(dialogs::Console().timerBusy);
    }
    int items = 0;
    std::vector<bool> busyWhileFilled;
};

class DomainDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        display.onStuck = [](const std::string& s) { FAIL() << "stuck:\n" << s; };
    }
    void TearDown() override { ResetWindowLayer(); }

    // The category lists and raw name lists a rebuild needs.
    void InstallLists() {
        for (const auto& [name, approved] : {std::pair{"VELDA.NOT", false}, {"VELDA.YES", true}}) {
            dbread::ListContent list;
            list.approved = approved;
            list.addresses.push_back({.address = 0x0100000A, .categories = 1, .items = {}});
            std::vector<std::uint8_t> content;
            std::string why;
            ASSERT_TRUE(dbread::EncodeListFile(list, content, why)) << why;
            sitelists::ScrambleSiteList(content);
            install.writeFile(install.file(name), std::string(content.begin(), content.end()));
        }
        install.writeFile(install.file("DNSRAW.NOT"), testsupport::RawNameList("bad.example", 1));
        install.writeFile(install.file("DNSRAW.YES"), testsupport::RawNameList("good.example", 1));
    }
    // Writes USER.LST with these domain records and forgets the image.
    static void WriteUserList(const std::vector<Record>& records) {
        auto image = sitelists::SiteListImage();
        std::fill(image.begin(), image.end(), std::uint8_t{0});
        for (std::size_t i = 0; i < records.size(); ++i)
            ASSERT_EQ(sitelists::SetDomainRecord(static_cast<int>(i),
                                                 static_cast<std::uint8_t>(records[i].first),
                                                 records[i].second),
                      1);
        ASSERT_EQ(sitelists::SaveSiteList(), 1);
        sitelists::ResetSiteLists();
    }
    // The domain records of USER.LST as a fresh process reads them, up to the first empty.
    static std::vector<Record> ReadUserList() {
        sitelists::ResetSiteLists();
        sitelists::LoadSiteList();
        std::vector<Record> records;
        for (int i = 0; i < sitelists::kDomainRecords && !sitelists::DomainPart(i).empty(); ++i)
            records.emplace_back(sitelists::DomainKindAt(i), sitelists::DomainPart(i));
        return records;
    }
    static std::vector<std::string> Items(HWND dialog, int id) {
        std::vector<std::string> items;
        HWND combo = GetDlgItem(dialog, id);
        for (int i = 0; i < ComboCount(combo); ++i) items.push_back(ComboItemText(combo, i));
        return items;
    }
    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const auto& box : display.MessageBoxes()) texts.push_back(box.text);
        return texts;
    }

    // Runs the dialog; each step runs once the one before it, and all it caused, is done.
    INT_PTR Run(std::vector<std::function<void(HWND)>> steps) {
        for (auto& step : steps)
            display.Then([this, step] {
                HWND dialog = display.FindTopLevel(kCaption);
                ASSERT_NE(dialog, 0u) << "the dialog is open";
                step(dialog);
            });
        return dialogs::RunDomainDialog(0);
    }
    // Types a part into a list's entry field and presses Enter, as an administrator adds.
    void Enter(HWND dialog, int list, const std::string& text) {
        display.ReplaceText(GetDlgItem(dialog, list), text);
        display.PressKey(GetDlgItem(dialog, list), VK_RETURN);
    }

    testsupport::TempInstall install;
    RecordingDisplay display;
};

TEST_F(DomainDialogTest, TheDialogHasEveryControlAndShowsTheStoredParts) {
    WriteUserList({{0, "gov"}, {0, "casino.example"}, {1, "edu"}, {0, ""}, {1, "after.gap"}});
    const INT_PTR result = Run({
        [&](HWND dialog) {
            struct Item {
                int id;
                const char* text;
                ControlType type;
            };
            const Item items[] = {
                {kRestricted, "", ControlType::kComboSimple},
                {kApproved, "", ControlType::kComboSimple},
                {kSave, "&Save Changes", ControlType::kPushButton},
                {kDelete, "&Delete highlighted item", ControlType::kPushButton},
                {kCancel, "&Cancel", ControlType::kPushButton},
                {kHelp, "&Help", ControlType::kPushButton},
                {kAdd, "", ControlType::kDefaultButton},
            };
            for (const Item& item : items) {
                HWND control = GetDlgItem(dialog, item.id);
                ASSERT_NE(control, 0u) << item.id;
                EXPECT_EQ(GetWindowText(control), item.text) << item.id;
                EXPECT_EQ(GetControlType(control), item.type) << item.id;
                EXPECT_EQ(IsWindowVisible(control) != 0, item.id != kAdd) << item.id;
            }
            for (int id : {kRestricted, kApproved}) {
                const auto style =
                    static_cast<std::uint32_t>(GetWindowLongPtr(GetDlgItem(dialog, id), GWL_STYLE));
                EXPECT_TRUE((style & CBS_SORT) && (style & WS_VSCROLL)) << id;
            }
            std::vector<std::string> texts;
            bool icon = false;
            for (HWND child : ChildWindows(dialog)) {
                texts.push_back(GetWindowText(child));
                icon = icon || (GetControlType(child) == ControlType::kIcon &&
                                GetWindowText(child) == "SURFICON");
            }
            EXPECT_TRUE(icon);
            for (const char* label : {"Restricted Domains", "Approved Domains"})
                EXPECT_NE(std::find(texts.begin(), texts.end(), label), texts.end()) << label;
            const std::vector<HWND> children = ChildWindows(dialog);
            EXPECT_EQ(
                std::count_if(children.begin(), children.end(),
                              [](HWND h) { return GetControlType(h) == ControlType::kFrame; }),
                2);

            // Sorted, and read up to the first empty record.
            EXPECT_EQ(Items(dialog, kRestricted),
                      (std::vector<std::string>{"casino.example", "gov"}));
            EXPECT_EQ(Items(dialog, kApproved), std::vector<std::string>{"edu"});
            // For a person to look at: VELDANA_SNAPSHOT_DIR=/tmp/shots
            if (const char* dir = std::getenv("VELDANA_SNAPSHOT_DIR"))
                HeadlessDisplay::WritePng(dialog, std::string(dir) + "/domain.png");
            display.Click(dialog, kHelp);
        },
        [&](HWND dialog) { display.Click(dialog, kCancel); },
    });
    EXPECT_EQ(result, 1);
    ASSERT_EQ(display.HelpShown().size(), 1u);
    EXPECT_EQ(display.HelpShown()[0].file, "VDP.HLP");
    EXPECT_EQ(display.HelpShown()[0].context, 128u);
    ASSERT_FALSE(display.busyWhileFilled.empty());
    EXPECT_TRUE(std::all_of(display.busyWhileFilled.begin(), display.busyWhileFilled.end(),
                            [](bool b) { return b; }))
        << "busy while the lists are filled";
    EXPECT_FALSE(dialogs::Console().timerBusy);
}

TEST_F(DomainDialogTest, AddRefusesAPartOfTheOtherListAndIgnoresEmptyAndRepeatedOnes) {
    InstallLists();
    display.AnswerMessageBox(IDOK);
    display.AnswerMessageBox(IDOK);
    const INT_PTR result = Run({
        [&](HWND dialog) {
            Enter(dialog, kApproved,
                  "EDU");  // approved first: restricted parts are still saved first
            Enter(dialog, kRestricted, "Gov");
            Enter(dialog, kRestricted, "casino.example");
        },
        [&](HWND dialog) {
            EXPECT_EQ(Items(dialog, kRestricted),
                      (std::vector<std::string>{"casino.example", "gov"}));
            EXPECT_EQ(Items(dialog, kApproved), std::vector<std::string>{"edu"});
            EXPECT_EQ(GetDlgItemText(dialog, kRestricted), "casino.example") << "the text stays";
            Enter(dialog, kRestricted, "GOV");  // already there: nothing, no message
            Enter(dialog, kApproved, "gov");    // in the restricted list
        },
        // One refusal a step: a box answered later would be recorded first.
        [&](HWND dialog) { Enter(dialog, kRestricted, "Edu"); },  // in the approved list
        [&](HWND dialog) { Enter(dialog, kApproved, ""); },       // nothing
        [&](HWND dialog) {
            EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kInRestricted, kInApproved}));
            for (const auto& box : display.MessageBoxes()) {
                EXPECT_EQ(box.caption, "Veldana Message");
                EXPECT_EQ(box.type & MB_ICONMASK, MB_ICONEXCLAMATION);
            }
            EXPECT_EQ(Items(dialog, kRestricted),
                      (std::vector<std::string>{"casino.example", "gov"}));
            EXPECT_EQ(Items(dialog, kApproved), std::vector<std::string>{"edu"});
            display.ReplaceText(GetDlgItem(dialog, kRestricted), "");
            display.ReplaceText(GetDlgItem(dialog, kApproved), "");
        },
        [&](HWND dialog) { display.Click(dialog, kSave); },
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(display.MessageBoxes().size(), 2u) << "Save adds nothing and says nothing more";
    EXPECT_EQ(ReadUserList(), (std::vector<Record>{{0, "casino.example"}, {0, "gov"}, {1, "edu"}}));
    EXPECT_EQ(settings::ReadSetting(settings::kKeyBinChanged), "1") << "the databases were rebuilt";
}

TEST_F(DomainDialogTest, SaveAddsWhatIsTypedWithoutEnter) {
    InstallLists();
    WriteUserList({{1, "edu"}});
    const INT_PTR result = Run({[&](HWND dialog) {
        display.ReplaceText(GetDlgItem(dialog, kRestricted), "Casino.Example");
        display.ReplaceText(GetDlgItem(dialog, kApproved), "Museum.Example");
        display.Click(dialog, kSave);
    }});
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(display.MessageBoxes().empty());
    EXPECT_EQ(ReadUserList(),
              (std::vector<Record>{{0, "casino.example"}, {1, "edu"}, {1, "museum.example"}}));
}

TEST_F(DomainDialogTest, APartLongerThanARecordCannotBeAdded) {
    InstallLists();
    const std::string typed(70, 'a');
    const std::string fits(sitelists::kMaxDomainPart, 'a');
    const INT_PTR result = Run({
        [&](HWND dialog) { Enter(dialog, kRestricted, typed); },
        [&](HWND dialog) {
            EXPECT_EQ(GetDlgItemText(dialog, kRestricted), fits) << "typing stops at 62";
            EXPECT_EQ(Items(dialog, kRestricted), std::vector<std::string>{fits});
            // A text that got into the field some other way is refused, not cut.
            SetDlgItemText(dialog, kApproved, std::string(63, 'b'));
            display.PressKey(GetDlgItem(dialog, kApproved), VK_RETURN);
            display.Type(GetDlgItem(dialog, kApproved), "");
        },
        [&](HWND dialog) {
            SendMessage(dialog, WM_COMMAND, MAKEWPARAM(kApproved, CBN_EDITCHANGE), 0);
            SendMessage(dialog, WM_COMMAND, MAKEWPARAM(kAdd, BN_CLICKED), 0);
            EXPECT_TRUE(Items(dialog, kApproved).empty());
            EXPECT_GE(display.Beeps(), 1);
            SetDlgItemText(dialog, kApproved, "");
            display.Click(dialog, kSave);
        },
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(ReadUserList(), (std::vector<Record>{{0, fits}}));
}

TEST_F(DomainDialogTest, BothListsShareTheThousandAndTwentyFourRecords) {
    InstallLists();
    std::vector<Record> stored;
    for (int i = 0; i < 1000; ++i)
        stored.emplace_back(0, "r" + std::to_string(1000 + i) + ".example");
    WriteUserList(stored);
    display.AnswerMessageBox(IDOK);
    display.AnswerMessageBox(IDOK);
    const INT_PTR result = Run({
        [&](HWND dialog) {
            for (int i = 0; i < 25; ++i)
                Enter(dialog, kApproved, "a" + std::to_string(10 + i) + ".example");
        },
        [&](HWND dialog) {
            EXPECT_EQ(Items(dialog, kApproved).size(), 24u);
            EXPECT_EQ(BoxTexts(), std::vector<std::string>{kTableFull});
            Enter(dialog, kRestricted, "one.more");
        },
        [&](HWND dialog) {
            EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kTableFull, kTableFull}));
            EXPECT_EQ(Items(dialog, kRestricted).size(), 1000u);
            // Deleting a restricted part makes room for the approved one.
            display.PickItem(GetDlgItem(dialog, kRestricted), std::string("r1500.example"));
            display.Click(dialog, kDelete);
        },
        [&](HWND dialog) {
            EXPECT_EQ(Items(dialog, kRestricted).size(), 999u);
            EXPECT_EQ(GetDlgItemText(dialog, kRestricted), "") << "the entry field is cleared";
            Enter(dialog, kApproved, "a34.example");
        },
        [&](HWND dialog) {
            EXPECT_EQ(Items(dialog, kApproved).size(), 25u);
            EXPECT_EQ(display.MessageBoxes().size(), 2u);
            display.ReplaceText(GetDlgItem(dialog, kRestricted), "");
            display.Click(dialog, kSave);
        },
    });
    EXPECT_EQ(result, 1);
    const std::vector<Record> saved = ReadUserList();
    ASSERT_EQ(saved.size(), 1024u);
    EXPECT_TRUE(std::all_of(saved.begin(), saved.begin() + 999,
                            [](const Record& r) { return r.first == 0; }));
    EXPECT_TRUE(std::all_of(saved.begin() + 999, saved.end(),
                            [](const Record& r) { return r.first == 1; }));
    EXPECT_EQ(std::count(saved.begin(), saved.end(), Record{0, "r1500.example"}), 0);
    EXPECT_EQ(saved.back(), (Record{1, "a34.example"}));

    // Every opening counts anew: the table is full for both lists, the second time too.
    for (int opening = 0; opening < 2; ++opening) {
        SCOPED_TRACE(opening);
        const std::size_t before = display.MessageBoxes().size();
        display.AnswerMessageBox(IDOK);
        display.AnswerMessageBox(IDOK);
        Run({[&](HWND dialog) {
                 Enter(dialog, kRestricted, "x.example");
                 Enter(dialog, kApproved, "y.example");
             },
             [&](HWND dialog) {
                 EXPECT_EQ(display.MessageBoxes().size(), before + 2);
                 EXPECT_EQ(display.MessageBoxes().back().text, kTableFull);
                 display.Click(dialog, kCancel);
             }});
    }
}

TEST_F(DomainDialogTest, DeleteNeedsAHighlightedItem) {
    WriteUserList({{0, "gov"}, {0, "mil"}, {1, "edu"}});
    display.AnswerMessageBox(IDOK);
    const INT_PTR result = Run({
        [&](HWND dialog) { display.Click(dialog, kDelete); },
        [&](HWND dialog) {
            EXPECT_EQ(BoxTexts(), std::vector<std::string>{kHighlightFirst});
            EXPECT_EQ(display.MessageBoxes()[0].type & MB_ICONMASK, MB_ICONEXCLAMATION);
            EXPECT_EQ(display.Beeps(), 1);
            // A list spoke, but nothing in it is highlighted: nothing happens.
            display.Type(GetDlgItem(dialog, kApproved), "x");
            display.Click(dialog, kDelete);
        },
        [&](HWND dialog) {
            EXPECT_EQ(display.MessageBoxes().size(), 1u);
            EXPECT_EQ(Items(dialog, kApproved), std::vector<std::string>{"edu"});
            display.PickItem(GetDlgItem(dialog, kRestricted), std::string("mil"));
            display.Click(dialog, kDelete);
        },
        [&](HWND dialog) {
            EXPECT_EQ(Items(dialog, kRestricted), std::vector<std::string>{"gov"});
            display.Click(dialog, kCancel);
        },
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(ReadUserList(), (std::vector<Record>{{0, "gov"}, {0, "mil"}, {1, "edu"}}))
        << "Cancel discards the deletion";
}

TEST_F(DomainDialogTest, CancelDiscardsEveryChange) {
    struct Case {
        const char* how;
        std::function<void(HeadlessDisplay&, HWND)> cancel;
    };
    const Case cases[] = {
        {"Cancel button", [](HeadlessDisplay& d, HWND dialog) { d.Click(dialog, kCancel); }},
        {"close command",
         [](HeadlessDisplay& d, HWND dialog) { d.ChooseSystemMenuItem(dialog, SC_CLOSE); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        WriteUserList({{0, "gov"}});
        const std::string before = install.readFile(install.file("USER.LST"));
        const INT_PTR result = Run({[&](HWND dialog) {
                                        Enter(dialog, kRestricted, "casino.example");
                                        Enter(dialog, kApproved, "edu");
                                    },
                                    [&](HWND dialog) { c.cancel(display, dialog); }});
        EXPECT_EQ(result, 1);
        EXPECT_EQ(install.readFile(install.file("USER.LST")), before);
        EXPECT_EQ(ReadUserList(), (std::vector<Record>{{0, "gov"}}));
    }
    EXPECT_EQ(settings::ReadSetting(settings::kKeyBinChanged), "") << "nothing was rebuilt";
}

TEST_F(DomainDialogTest, AFailedRebuildKeepsTheSavedFileAndTheDialogOpen) {
    // No category lists: the databases cannot be built.
    display.AnswerMessageBox(IDOK);
    const INT_PTR result = Run({
        [&](HWND dialog) {
            Enter(dialog, kRestricted, "gov");
            display.Click(dialog, kSave);
        },
        [&](HWND dialog) {
            EXPECT_EQ(BoxTexts(), std::vector<std::string>{kRebuildFailed});
            EXPECT_FALSE(IsDialogEnded(dialog));
            EXPECT_EQ(ReadUserList(), (std::vector<Record>{{0, "gov"}})) << "USER.LST is written";
            display.Click(dialog, kCancel);
        },
    });
    EXPECT_EQ(result, 1);
}

TEST_F(DomainDialogTest, AUserListThatCannotBeWrittenIsSaidAndNothingIsRebuilt) {
    InstallLists();
    WriteUserList({{1, "edu"}});
    const std::string before = install.readFile(install.file("USER.LST"));
    ASSERT_EQ(settings::WriteSetting(settings::kKeyBinChanged, {}, "1"), 1);
    // A directory where the new file would be renamed to: the save fails.
    const std::string path = install.file("USER.LST");
    display.AnswerMessageBox(IDOK);
    const INT_PTR result = Run({
        [&](HWND dialog) {
            ASSERT_EQ(std::remove(path.c_str()), 0);
            ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
            Enter(dialog, kRestricted, "gov");
            display.Click(dialog, kSave);
        },
        [&](HWND dialog) {
            ASSERT_EQ(display.MessageBoxes().size(), 1u);
            EXPECT_EQ(display.MessageBoxes()[0].text,
                      "The file (" + path +
                          ") is read-only and cannot be updated.  Please set the attributes of "
                          "this file to allow updates.");
            EXPECT_FALSE(IsDialogEnded(dialog)) << "the dialog stays open";
            EXPECT_EQ(settings::ReadSetting(settings::kKeyBinChanged), "1") << "no rebuild began";
            EXPECT_EQ(sitelists::DomainPart(0), "edu") << "the image keeps what the file holds";
            EXPECT_EQ(sitelists::DomainPart(1), "");
            ASSERT_EQ(::rmdir(path.c_str()), 0);
            install.writeFile(path, before);
            display.Click(dialog, kSave);  // writable again
        },
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(ReadUserList(), (std::vector<Record>{{0, "gov"}, {1, "edu"}}));
}

}  // namespace
