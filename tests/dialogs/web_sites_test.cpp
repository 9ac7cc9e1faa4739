// The web sites dialog driven by a scripted administrator: the lists as USER.LST holds
// them, adding, refusing and deleting sites up to 512 a list, the block page and the log
// flag, Save with the databases rebuilt (against name servers on loopback when asked to
// resolve), and Cancel that keeps everything as it was.
#include "dialogs/web_sites.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "dialogs/console.h"
#include "platform/files.h"
#include "policy/policy.h"
#include "progress/transfer_status.h"
#include "resolve/resolvers.h"
#include "resolve/socket_library.h"
#include "settings/settings_store.h"
#include "sitelists/site_list.h"
#include "tests/resolve/dns_peers.h"
#include "tests/support/temp_install.h"
#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/headless.h"
#include "ui/message_box.h"
#include "ui/window.h"

// Name servers of this test get their own block; sanitized trees use another network.
#if defined(__SANITIZE_ADDRESS__)
#define WEB_SITES_DNS_NET "127.54.160."
#else
#define WEB_SITES_DNS_NET "127.53.160."
#endif

namespace {

using namespace ui;
using sitelists::SiteList;
using testsupport::BuiltProgram;
using testsupport::RunCommand;

constexpr const char* kCaption = "Web Sites Control";
constexpr const char* kRestrictedPresent =
    "This entry was already added to the \"Additional Restrictions\" list";
constexpr const char* kApprovedPresent =
    "This entry was already added to the \"Additional Approvals\" list";
constexpr const char* kRestrictedFull =
    "You have already reached the Maximum Number of Restricted IP Addresses.";
constexpr const char* kApprovedFull =
    "You have already reached the Maximum Number of Allowable IP Addresses.";
constexpr const char* kNoBlockPage =
    "A Redirected WEB site MUST be defined for a WEB browser to display.";
constexpr const char* kRebuildFailed =
    "An error occurred generating the databases.  Please check the data and try again.";

std::string Q(const std::string& s) {
    return "'" + s + "'";
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

// The n-th of a run of distinct dotted addresses.
std::string Dotted(int n) {
    return "10." + std::to_string(n / 250) + "." + std::to_string(n % 250) + ".1";
}

class WebSitesDialogTest : public ::testing::Test {
  protected:
    testsupport::TempInstall install;
    HeadlessDisplay display;

    void SetUp() override {
        display.onStuck = [](const std::string& s) { FAIL() << "stuck:\n" << s; };
    }
    void TearDown() override {
        resolve::UnloadSocketLibrary();
        ResetWindowLayer();
    }

    // Both category lists, so that the databases build.
    void MakeCategoryLists() {
        for (const char* list : {"VELDA.NOT", "VELDA.YES"}) {
            ASSERT_EQ(testsupport::MakeListFile(std::string("kind ") +
                                                    (list[6] == 'N' ? "restricted" : "approved") +
                                                    "\naddress 192.0.2.1 0x0001\n",
                                                install.file(list)),
                      0);
        }
    }
    // The socket library where the console finds it: the Windows SYSTEM directory.
    void InstallSocketLibrary() {
        std::filesystem::create_directories(install.windowsDir() + "/SYSTEM");
        std::filesystem::copy_file(std::string(VELDANA_BUILD_DIR) + "/resolve/WSOCK32.DLL",
                                   install.windowsDir() + "/SYSTEM/WSOCK32.DLL");
    }
    // USER.LST holding these entries (and nothing else).
    void StoreSites(const std::vector<std::string>& restricted,
                    const std::vector<std::string>& approved) {
        for (int i = 0; i < static_cast<int>(restricted.size()); ++i)
            ASSERT_EQ(sitelists::SetSiteName(SiteList::kRestricted, i, restricted[i]), 1);
        for (int i = 0; i < static_cast<int>(approved.size()); ++i)
            ASSERT_EQ(sitelists::SetSiteName(SiteList::kApproved, i, approved[i]), 1);
        ASSERT_EQ(sitelists::SaveSiteList(), 1);
        sitelists::ResetSiteLists();
    }
    // USER.LST as the next start would read it.
    void ReloadStore() {
        sitelists::ResetSiteLists();
        sitelists::LoadSiteList();
    }
    std::vector<std::string> Stored(SiteList list) {
        std::vector<std::string> names;
        for (int i = 0; i < sitelists::kEntriesPerList; ++i)
            if (std::string n = sitelists::SiteName(list, i); !n.empty()) names.push_back(n);
        return names;
    }

    // A step of the administrator, run on the open dialog.
    void Then(std::function<void(HWND)> step) {
        display.Then([this, step] {
            HWND dialog = display.FindTopLevel(kCaption);
            ASSERT_NE(dialog, 0u) << "the dialog is not open";
            step(dialog);
        });
    }
    void Enter(int list, const std::string& text) {
        Then([this, list, text](HWND d) {
            display.Type(GetDlgItem(d, list), text);
            display.PressKey(GetDlgItem(d, list), VK_RETURN);
        });
    }
    void Click(int id) {
        Then([this, id](HWND d) { display.Click(d, id); });
    }
    // The next message box gets OK.
    void Expect(int id) {
        Then([this, id](HWND d) {
            display.AnswerMessageBox(IDOK);
            display.Click(d, id);
        });
    }
    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const auto& b : display.MessageBoxes()) texts.push_back(b.text);
        return texts;
    }
    // What a list shows, with each item's address word.
    struct Item {
        std::string text;
        std::uint32_t address;
        bool operator==(const Item&) const = default;
        friend void PrintTo(const Item& item, std::ostream* os) {
            *os << "{\"" << item.text << "\", " << std::hex << item.address << std::dec << "}";
        }
    };
    static std::vector<Item> Items(HWND dialog, int list) {
        HWND combo = GetDlgItem(dialog, list);
        std::vector<Item> items;
        for (int i = 0; i < ComboCount(combo); ++i)
            items.push_back(
                {ComboItemText(combo, i), static_cast<std::uint32_t>(SendMessage(
                                              combo, CB_GETITEMDATA, static_cast<WPARAM>(i)))});
        return items;
    }
};

TEST_F(WebSitesDialogTest, TheTemplateHoldsEveryControlAndNothingOverlaps) {
    struct Expected {
        int id;
        ControlType type;
        const char* text;
        bool visible;
    };
    const Expected controls[] = {
        {1241, ControlType::kComboSimple, "", true},
        {1242, ControlType::kComboSimple, "", true},
        {1404, ControlType::kCheckBox, "Store &Blocked Sites to Logfile", true},
        {1405, ControlType::kCheckBox, "Resol&ve All Additional Sites", true},
        {1039, ControlType::kEdit, "", true},
        {1023, ControlType::kPushButton, "&Save Changes", true},
        {1256, ControlType::kPushButton, "&Delete highlighted item", true},
        {1021, ControlType::kPushButton, "&Cancel", true},
        {1215, ControlType::kPushButton, "&Help", true},
        {1255, ControlType::kDefaultButton, "", false},
    };
    Then([&](HWND d) {
        EXPECT_EQ(GetWindowText(d), kCaption);
        for (const auto& c : controls) {
            SCOPED_TRACE(c.id);
            HWND item = GetDlgItem(d, c.id);
            ASSERT_NE(item, 0u);
            EXPECT_EQ(GetControlType(item), c.type);
            EXPECT_EQ(GetWindowText(item), c.text);
            EXPECT_EQ(IsWindowVisible(item) != 0, c.visible);
        }
        for (int list : {1241, 1242}) {
            auto style =
                static_cast<std::uint32_t>(GetWindowLongPtr(GetDlgItem(d, list), GWL_STYLE));
            EXPECT_TRUE(style & CBS_SORT);
            EXPECT_TRUE(style & WS_VSCROLL);
        }
        // The statics: explanation, labels, icon.
        std::vector<std::string> statics;
        bool icon = false;
        std::vector<RECT> shown;
        for (HWND child : ChildWindows(d)) {
            if (!IsWindowVisible(child)) continue;
            if (GetControlType(child) == ControlType::kStaticText)
                statics.push_back(GetWindowText(child));
            if (GetControlType(child) == ControlType::kIcon)
                icon = GetWindowText(child) == "SURFICON";
            RECT r;
            GetWindowRect(child, r);
            shown.push_back(r);
        }
        EXPECT_TRUE(icon);
        for (const char* label : {"Additional &Restrictions", "Additional &Approvals",
                                  "Redirected WEB site (if blocked):"})
            EXPECT_NE(std::find(statics.begin(), statics.end(), label), statics.end()) << label;
        EXPECT_NE(std::find(statics.begin(), statics.end(),
                            "Veldana restricts access to certain material on the Internet based "
                            "on these parameters: time of day, the VeldaLISTs,  Category "
                            "Restrictions,  and these 2 lists.  These lists will take precedence "
                            "over the VeldaNOT restrictions."),
                  statics.end());
        RECT client;
        GetWindowRect(d, client);
        for (std::size_t i = 0; i < shown.size(); ++i) {
            EXPECT_GE(shown[i].left, client.left);
            EXPECT_LE(shown[i].right, client.right);
            EXPECT_LE(shown[i].bottom, client.bottom);
            for (std::size_t j = i + 1; j < shown.size(); ++j) {
                const RECT& a = shown[i];
                const RECT& b = shown[j];
                EXPECT_FALSE(a.left < b.right && b.left < a.right && a.top < b.bottom &&
                             b.top < a.bottom)
                    << "controls " << i << " and " << j << " overlap";
            }
        }
        display.Click(d, 1215);
    });
    Click(1021);
    EXPECT_EQ(dialogs::RunWebSitesDialog(0), 0);
    ASSERT_EQ(display.HelpShown().size(), 1u);
    EXPECT_EQ(display.HelpShown()[0].file, "VDP.HLP");
    EXPECT_EQ(display.HelpShown()[0].context, 105u);
}

// Opening shows USER.LST and the policy model; Cancel (button, Escape or the close command)
// writes nothing, not even the full path a file entry was given on the way in.
TEST_F(WebSitesDialogTest, OpeningShowsTheStoreAndCancelKeepsEverything) {
    install.writeFile(install.file("Sites.TXT"), "10.7.7.7\n");
    StoreSites({"zeta.example", "http://alpha.example/x", "10.0.0.9"}, {"sites.txt"});
    sitelists::LoadSiteList();
    sitelists::SetSiteAddress(SiteList::kRestricted, 2, dnspeers::Address("10.0.0.9"));
    // An entry in block 2 is shown too.
    ASSERT_EQ(sitelists::SetSiteName(SiteList::kRestricted, 512, "beta.example"), 1);
    ASSERT_EQ(sitelists::SaveSiteList(), 1);
    const std::string before = install.readFile(install.file("USER.LST"));
    policy::Policy().policy.logSites = 1;
    policy::Policy().policy.redirectPage = "http://block.example/page";

    for (auto leave :
         {std::function<void(HWND)>([this](HWND d) { display.Click(d, 1021); }),
          std::function<void(HWND)>([this](HWND d) { display.PressKey(d, VK_ESCAPE); }),
          std::function<void(HWND)>(
              [this](HWND d) { display.ChooseSystemMenuItem(d, SC_CLOSE); })}) {
        Then([&](HWND d) {
            EXPECT_FALSE(dialogs::Console().timerBusy);
            EXPECT_EQ(Items(d, 1241),
                      (std::vector<Item>{{"10.0.0.9", dnspeers::Address("10.0.0.9")},
                                         {"alpha.example/x", 0},
                                         {"beta.example", 0},
                                         {"zeta.example", 0}}));
            EXPECT_EQ(Items(d, 1242), (std::vector<Item>{{Lower(install.file("sites.txt")), 0}}));
            EXPECT_EQ(IsDlgButtonChecked(d, 1404), BST_CHECKED);
            EXPECT_EQ(IsDlgButtonChecked(d, 1405), BST_UNCHECKED);
            EXPECT_EQ(GetDlgItemText(d, 1039), "http://block.example/page");
            display.Type(GetDlgItem(d, 1241), "10.9.9.9");
            display.Click(d, 1404);
            display.ReplaceText(GetDlgItem(d, 1039), "other.example");
        });
        Then(leave);
        EXPECT_EQ(dialogs::RunWebSitesDialog(0), 0);
        EXPECT_EQ(install.readFile(install.file("USER.LST")), before);
        EXPECT_EQ(settings::ReadSetting(settings::kKeyRedirectedSite), "");
        EXPECT_EQ(settings::ReadSetting(settings::kKeyLogSites), "");
        EXPECT_EQ(policy::Policy().policy.logSites, 1u);
        EXPECT_EQ(policy::Policy().policy.redirectPage, "http://block.example/page");
    }
    EXPECT_TRUE(display.MessageBoxes().empty());
}

// Adding: Enter in an entry field adds to that list; the same entry in either list is
// refused with that list's message; a file becomes its full path with address 0. Delete
// takes the highlighted item, and asks for one when no list was touched.
TEST_F(WebSitesDialogTest, AddRefuseAndDeleteThenSave) {
    MakeCategoryLists();
    install.writeFile(install.file("Bad.TXT"), "10.6.6.6\n");
    install.writeFile(install.file("IPADDR.LST"), "");  // no resolving on Save
    policy::Policy().policy.redirectPage = "http://block.example/";
    struct Case {
        int list;
        const char* typed;
        const char* refusal;  // null: added
    };
    const Case cases[] = {
        {1241, "10.1.1.1", nullptr},
        {1241, "10.1.1.1", kRestrictedPresent},
        {1242, "10.1.1.1", kRestrictedPresent},
        {1241, "http://10.1.1.1", kRestrictedPresent},  // the same once its scheme is removed
        {1242, "HTTP://10.2.2.2/Kids", nullptr},
        {1241, "10.2.2.2/kids", kApprovedPresent},
        {1241, "bad.txt", nullptr},
        {1242, "BAD.TXT", kRestrictedPresent},
        {1241, "10.3.3.3", nullptr},
    };
    std::vector<std::string> expectedBoxes;
    for (const auto& c : cases) {
        if (c.refusal) {
            expectedBoxes.push_back(c.refusal);
            Then([this](HWND) { display.AnswerMessageBox(IDOK); });
        }
        Enter(c.list, c.typed);
        Then([this, c](HWND d) {
            // A refused text stays in its field; an added one is cleared.
            EXPECT_EQ(GetDlgItemText(d, c.list), c.refusal ? c.typed : "") << c.typed;
            SetDlgItemText(d, c.list, "");
        });
    }
    Then([&](HWND d) {
        EXPECT_EQ(Items(d, 1241), (std::vector<Item>{{Lower(install.file("bad.txt")), 0},
                                                     {"10.1.1.1", dnspeers::Address("10.1.1.1")},
                                                     {"10.3.3.3", dnspeers::Address("10.3.3.3")}}));
        EXPECT_EQ(Items(d, 1242),
                  (std::vector<Item>{{"10.2.2.2/kids", dnspeers::Address("10.2.2.2")}}));
        // No list touched since the last Add: Delete asks for a highlighted item.
        display.AnswerMessageBox(IDOK);
        display.Click(d, 1256);
    });
    Then([this](HWND d) {
        EXPECT_EQ(display.Beeps(), 1);
        display.PickItem(GetDlgItem(d, 1241), "10.1.1.1");
        display.Click(d, 1256);
    });
    Then([this](HWND d) {
        EXPECT_EQ(ComboCount(GetDlgItem(d, 1241)), 2);
        // A list touched without a highlighted item: nothing is deleted, nothing said.
        display.Type(GetDlgItem(d, 1242), "x");
        display.Click(d, 1256);
    });
    Then([this](HWND d) {
        EXPECT_EQ(ComboCount(GetDlgItem(d, 1242)), 1);
        SetDlgItemText(d, 1242, "");
        display.Click(d, 1023);
    });
    expectedBoxes.push_back(
        "You must highlight an item in one of the lists before pressing the delete key.");
    EXPECT_EQ(dialogs::RunWebSitesDialog(0), 1);
    EXPECT_EQ(BoxTexts(), expectedBoxes);
    for (const auto& box : display.MessageBoxes()) {
        EXPECT_EQ(box.caption, "Veldana Message");
        EXPECT_EQ(box.type & MB_ICONMASK, MB_ICONEXCLAMATION);
    }

    ReloadStore();
    EXPECT_EQ(Stored(SiteList::kRestricted),
              (std::vector<std::string>{Lower(install.file("bad.txt")), "10.3.3.3"}));
    EXPECT_EQ(sitelists::SiteAddress(SiteList::kRestricted, 0), 0u);
    EXPECT_EQ(sitelists::SiteAddress(SiteList::kRestricted, 1), dnspeers::Address("10.3.3.3"));
    EXPECT_EQ(Stored(SiteList::kApproved), (std::vector<std::string>{"10.2.2.2/kids"}));
    EXPECT_EQ(settings::ReadSetting(settings::kKeyBinChanged), "1");
}

// 512 a list: the 513th is refused with the list's own message, until one is deleted. A
// store that holds more (entries in block 2) shows all of them and keeps them on Save, in
// sorted order, entry 512 onward in block 2.
TEST_F(WebSitesDialogTest, FullListsRefuseMoreAndBlockTwoIsKept) {
    MakeCategoryLists();
    std::vector<std::string> restricted, approved;
    for (int i = 0; i < 600; ++i) restricted.push_back(Dotted(i));
    for (int i = 0; i < 512; ++i) approved.push_back(Dotted(1000 + i));
    {
        for (int i = 0; i < 512; ++i) {
            ASSERT_EQ(sitelists::SetSiteName(SiteList::kRestricted, i,
                                             restricted[static_cast<std::size_t>(i)]),
                      1);
            ASSERT_EQ(sitelists::SetSiteName(SiteList::kApproved, i,
                                             approved[static_cast<std::size_t>(i)]),
                      1);
        }
        for (int i = 512; i < 600; ++i)
            ASSERT_EQ(sitelists::SetSiteName(SiteList::kRestricted, i,
                                             restricted[static_cast<std::size_t>(i)]),
                      1);
        ASSERT_EQ(sitelists::SaveSiteList(), 1);
        sitelists::ResetSiteLists();
    }
    install.writeFile(install.file("IPADDR.LST"), "");  // no resolving on Save
    policy::Policy().policy.redirectPage = "http://block.example/";

    Then([this](HWND) { display.AnswerMessageBox(IDOK); });
    Enter(1241, "10.200.0.1");
    Then([this](HWND) { display.AnswerMessageBox(IDOK); });
    Enter(1242, "10.200.0.2");
    Then([this](HWND d) {
        EXPECT_EQ(ComboCount(GetDlgItem(d, 1241)), 600);
        EXPECT_EQ(ComboCount(GetDlgItem(d, 1242)), 512);
        EXPECT_EQ(GetDlgItemText(d, 1241), "10.200.0.1");
        EXPECT_EQ(GetDlgItemText(d, 1242), "10.200.0.2");
        SetDlgItemText(d, 1241, "");
        SetDlgItemText(d, 1242, "");
        display.PickItem(GetDlgItem(d, 1242), Dotted(1000));
        display.Click(d, 1256);
    });
    Enter(1242, "10.200.0.2");
    Click(1023);
    EXPECT_EQ(dialogs::RunWebSitesDialog(0), 1);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kRestrictedFull, kApprovedFull}));

    ReloadStore();
    std::sort(restricted.begin(), restricted.end());
    EXPECT_EQ(Stored(SiteList::kRestricted), restricted);
    EXPECT_EQ(sitelists::SiteName(SiteList::kRestricted, 512), restricted[512]);
    EXPECT_EQ(sitelists::BlockEntryCount(SiteList::kRestricted, 0), 512);
    EXPECT_EQ(sitelists::BlockEntryCount(SiteList::kRestricted, 1), 88);
    approved.erase(approved.begin());
    approved.push_back("10.200.0.2");
    std::sort(approved.begin(), approved.end());
    EXPECT_EQ(Stored(SiteList::kApproved), approved);
    EXPECT_EQ(sitelists::BlockEntryCount(SiteList::kApproved, 1), 0);
}

// Save adds what was typed without Enter, stores the block page (with "http://" when it
// names no scheme), LogSites and the dialog's own settings, and rebuilds the databases.
// A block page that is missing or does not fit refuses Save with nothing written.
TEST_F(WebSitesDialogTest, SaveStoresTypedSitesBlockPageAndLogFlag) {
    MakeCategoryLists();
    // What is typed, and what is stored (empty: Save is refused).
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"block.example/page", "http://block.example/page"},
        {"https://block.example/", "https://block.example/"},
        {"ftp://xy", "ftp://xy"},
        {"x", "http://x"},
        {std::string(56, 'b'), "http://" + std::string(56, 'b')},  // 63 characters
        {std::string(57, 'c'), ""},  // "http://" in front would not fit the page
        {"", ""},
        {"http://", ""},
    };
    for (const auto& c : cases) {
        const std::string& typed = c.first;
        const std::string& stored = c.second;
        SCOPED_TRACE(typed);
        sitelists::ResetSiteLists();
        policy::Policy().policy = {};
        std::filesystem::remove(install.file("USER.LST"));
        install.writeFile(install.file("IPADDR.LST"), "");
        std::filesystem::remove(install.file("VeldaNOT.BIN"));
        settings::WriteSetting(settings::kKeyRedirectedSite, {}, "");
        settings::WriteSetting(settings::kKeyBinChanged, {}, "");
        settings::WriteSetting(settings::kKeyLogSites, {}, "");
        const std::size_t boxes = display.MessageBoxes().size();

        Then([&](HWND d) {
            display.Type(GetDlgItem(d, 1241), "10.4.4.4");  // no Enter
            display.Type(GetDlgItem(d, 1242), "10.5.5.5");
            display.Click(d, 1404);
            display.ReplaceText(GetDlgItem(d, 1039), typed);
            if (stored.empty()) display.AnswerMessageBox(IDOK);
            display.Click(d, 1023);
        });
        if (stored.empty()) {
            Then([&](HWND d) {
                EXPECT_EQ(display.MessageBoxes().size(), boxes + 1);
                EXPECT_EQ(display.MessageBoxes().back().text, kNoBlockPage);
                EXPECT_EQ(display.MessageBoxes().back().type, MB_OK) << "a plain box";
                // What Save added stays in the lists of the open dialog.
                EXPECT_EQ(ComboCount(GetDlgItem(d, 1241)), 1);
                display.Click(d, 1021);
            });
            EXPECT_EQ(dialogs::RunWebSitesDialog(0), 0);
            EXPECT_FALSE(std::filesystem::exists(install.file("USER.LST")));
            EXPECT_EQ(settings::ReadSetting(settings::kKeyRedirectedSite), "");
            EXPECT_EQ(settings::ReadSetting(settings::kKeyLogSites), "");
            EXPECT_EQ(policy::Policy().policy.redirectPage, "") << "the model is not touched";
            continue;
        }
        EXPECT_EQ(dialogs::RunWebSitesDialog(0), 1);
        EXPECT_EQ(display.MessageBoxes().size(), boxes);
        EXPECT_EQ(settings::ReadSetting(settings::kKeyRedirectedSite), stored);
        EXPECT_EQ(policy::Policy().policy.redirectPage, stored);
        EXPECT_EQ(settings::ReadSetting(settings::kKeyLogSites), "1");
        EXPECT_EQ(policy::Policy().policy.logSites, 1u);
        EXPECT_EQ(settings::ReadSetting(settings::kKeyWebSitesOption), "0");
        EXPECT_EQ(settings::ReadSetting(settings::kKeyApprovedEntries), "0");
        EXPECT_EQ(settings::ReadSetting(settings::kKeyRestrictedEntries), "0");
        EXPECT_EQ(settings::ReadSetting(settings::kKeyBinChanged), "1");
        for (const char* db : {"NoneNOT.BIN", "NoneYES.BIN", "VeldaNOT.BIN", "VeldaYES.BIN"})
            EXPECT_TRUE(std::filesystem::exists(install.file(db))) << db;
        ReloadStore();
        EXPECT_EQ(Stored(SiteList::kRestricted), std::vector<std::string>{"10.4.4.4"});
        EXPECT_EQ(Stored(SiteList::kApproved), std::vector<std::string>{"10.5.5.5"});
        EXPECT_EQ(sitelists::SiteAddress(SiteList::kApproved, 0), dnspeers::Address("10.5.5.5"));
    }
}

// A failed rebuild (no category lists) says so and keeps the dialog open, with the lists
// and the settings written; a USER.LST that cannot be written stops Save before the rebuild.
TEST_F(WebSitesDialogTest, FailedWritesAndRebuildsKeepTheDialogOpen) {
    policy::Policy().policy.redirectPage = "http://block.example/";
    install.writeFile(install.file("IPADDR.LST"), "");
    Then([this](HWND d) {
        display.Type(GetDlgItem(d, 1241), "10.4.4.4");
        display.AnswerMessageBox(IDOK);
        display.Click(d, 1023);
    });
    Then([this](HWND d) {
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{kRebuildFailed});
        EXPECT_TRUE(std::filesystem::exists(install.file("USER.LST")));
        EXPECT_EQ(settings::ReadSetting(settings::kKeyRedirectedSite), "http://block.example/");
        EXPECT_EQ(settings::ReadSetting(settings::kKeyLogSites), "0");
        EXPECT_EQ(settings::ReadSetting(settings::kKeyApprovedEntries), "");
        EXPECT_EQ(settings::ReadSetting(settings::kKeyBinChanged), "0");
        // Saving again once USER.LST cannot be written: no rebuild from what is not stored.
        display.Type(GetDlgItem(d, 1242), "10.5.5.5");
        display.AnswerMessageBox(IDOK);
        settings::WriteSetting(settings::kKeyBinChanged, {}, "unchanged");
        platform::InjectFileFault(1);
        display.Click(d, 1023);
    });
    Then([this](HWND d) {
        platform::ClearFileFaults();
        EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kRebuildFailed, kRebuildFailed}));
        EXPECT_EQ(settings::ReadSetting(settings::kKeyBinChanged), "unchanged");
        display.Click(d, 1021);
    });
    EXPECT_EQ(dialogs::RunWebSitesDialog(0), 0);
    ReloadStore();
    EXPECT_EQ(Stored(SiteList::kRestricted), std::vector<std::string>{"10.4.4.4"});
    EXPECT_TRUE(Stored(SiteList::kApproved).empty());
}

// The socket library: a host name added is resolved through it (and it stays loaded until
// the dialog ends); a Save that must resolve without one says the network is not there.
TEST_F(WebSitesDialogTest, SocketLibraryIsLoadedWhenNeededAndAlwaysReleased) {
    policy::Policy().policy.redirectPage = "http://block.example/";
    // No socket library installed: Save must resolve (no IPADDR.LST) and cannot.
    Then([this](HWND d) {
        display.Type(GetDlgItem(d, 1241), "10.4.4.4");
        display.AnswerMessageBox(IDOK);
        display.Click(d, 1023);
    });
    Then([this](HWND d) {
        ASSERT_EQ(display.MessageBoxes().size(), 1u);
        EXPECT_EQ(display.MessageBoxes()[0].caption, "WINSOCK Error");
        EXPECT_EQ(display.MessageBoxes()[0].text,
                  "Velda Central is not responding.  Please try later or ensure that you are "
                  "connected and on-line to your Internet provider.");
        EXPECT_FALSE(std::filesystem::exists(install.file("USER.LST")));
        EXPECT_EQ(settings::ReadSetting(settings::kKeyWebSitesOption), "");
        display.Click(d, 1021);
    });
    EXPECT_EQ(dialogs::RunWebSitesDialog(0), 0);

    InstallSocketLibrary();
    Enter(1241, "localhost");
    Then([this](HWND d) {
        EXPECT_NE(resolve::SocketLibrary().SocketLibraryHandle, nullptr);
        EXPECT_EQ(Items(d, 1241),
                  (std::vector<Item>{{"localhost", dnspeers::Address("127.0.0.1")}}));
        display.Click(d, 1021);
    });
    EXPECT_EQ(dialogs::RunWebSitesDialog(0), 0);
    EXPECT_EQ(resolve::SocketLibrary().SocketLibraryHandle, nullptr);
}

// Save with "Resolve All" against name servers on loopback: every site resolved anew into
// IPADDR.LST and the store, the databases rebuilt from them and published.
TEST_F(WebSitesDialogTest, SaveResolvesEverySiteThroughTheNameServers) {
    dnspeers::NsdChain chain(WEB_SITES_DNS_NET);
    if (chain.unavailable()) GTEST_SKIP() << chain.error();
    ASSERT_TRUE(chain.ok()) << chain.error();
    display.onStuck = nullptr;  // waits on sockets are expected
    MakeCategoryLists();
    InstallSocketLibrary();
    progress::InstallProgressWindow();
    settings::WriteSetting(settings::kKeyDnsServers, "QTXDNS1", chain.RootServer());
    StoreSites({"www.veldana.test"}, {});
    // An address word from an older resolution, replaced by the fresh one.
    install.writeFile(install.file("IPADDR.LST"), std::string(resolve::kAddressRecordSize, 'x'));
    policy::Policy().policy.redirectPage = "http://block.example/";

    Then([this](HWND d) {
        display.Type(GetDlgItem(d, 1242), "10.8.8.8");
        display.Click(d, 1405);
        display.Click(d, 1023);
    });
    EXPECT_EQ(dialogs::RunWebSitesDialog(0), 1);
    EXPECT_TRUE(display.MessageBoxes().empty()) << BoxTexts()[0];
    EXPECT_EQ(resolve::SocketLibrary().SocketLibraryHandle, nullptr);

    ReloadStore();
    EXPECT_EQ(sitelists::SiteAddress(SiteList::kRestricted, 0), dnspeers::Address("10.1.2.3"));
    EXPECT_EQ(sitelists::SiteAddress(SiteList::kApproved, 0), dnspeers::Address("10.8.8.8"));
    // Approved sites first, then the restricted ones; the old records are gone.
    const std::string cache = install.readFile(install.file("IPADDR.LST"));
    ASSERT_EQ(cache.size(), 2 * resolve::kAddressRecordSize);
    EXPECT_EQ(std::string(cache.c_str()), "10.8.8.8");
    EXPECT_EQ(std::string(cache.c_str() + resolve::kAddressRecordSize), "www.veldana.test");
    EXPECT_EQ(settings::ReadSetting(settings::kKeyBinChanged), "1");
    EXPECT_EQ(settings::ReadSetting(settings::kKeyDnsDataFile), install.file("DNSHASH.DAT"));
    for (const char* address : {"10.1.2.3", "10.1.2.4"}) {
        std::string out;
        EXPECT_EQ(RunCommand(BuiltProgram("veldana-db") + " lookup " +
                                 Q(install.file("VeldaNOT.BIN")) + " " + address,
                             &out),
                  0);
        EXPECT_NE(out.find("categories 0xffff"), std::string::npos) << address << ": " << out;
    }
}

}  // namespace
