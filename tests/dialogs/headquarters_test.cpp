// The Headquarters dialog driven by a scripted administrator: the period view and the timer,
// the list choice with its category boxes and the dialog's height, the abandon question,
// Save with its publication, the privacy-profile library, the list date and the date
// formats, the proxy server dialog, help, and the shared dialog position.
#include "dialogs/headquarters.h"

#include <gtest/gtest.h>
#include <utime.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "dialogs/console.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "policy/policy.h"
#include "settings/settings_store.h"
#include "tests/support/temp_install.h"
#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/gdi.h"
#include "ui/headless.h"
#include "ui/message_box.h"
#include "ui/window.h"

namespace {

using namespace ui;
using settings::ReadSetting;
using settings::WriteSetting;

constexpr const char* kCaption = "Veldana - Proxy Headquarters";
constexpr const char* kAbandon = "Do you wish to abandon these changes?";

// Controls of the dialog.
constexpr int kFiltered = 530, kFull = 531, kNone = 532;
constexpr int kSave = 1201, kHelp = 1215, kProxy = 1216, kBitmap = 1237;
constexpr int kStatus = 1231, kDate = 1240, kLastUpdated = 7007, kUpdateLists = 1024;
constexpr int kWorkTime = 1261, kLeisureTime = 1262;
constexpr int kGroup = 7153, kListChoice = 7163, kWorkFrame = 7177, kLeisureFrame = 7178;
constexpr int kGroups = 8000, kFirstBox = 10001;
// List choice items.
constexpr int kVeldaNot = 0, kVeldaYes = 1, kAddlRestrictions = 2, kAddlApprovals = 3;

std::tm At(int weekday, int hour) {
    std::tm t{};
    t.tm_year = 126;
    t.tm_mon = 6;
    t.tm_mday = 12 + weekday;  // July 2026: Sunday the 12th
    t.tm_wday = weekday;
    t.tm_hour = hour;
    return t;
}
const std::tm kMondayWork = At(1, 10);
const std::tm kSundayLeisure = At(0, 10);

class HeadquartersTest : public ::testing::Test {
  protected:
    testsupport::TempInstall install;
    HeadlessDisplay display;

    void SetUp() override {
        // A failing step leaves its dialogs open: end them all so that the test goes on.
        display.onStuck = [](const std::string& s) {
            ADD_FAILURE() << "stuck:\n" << s;
            for (HWND w : AllWindows())
                if (GetWindow(w) == w) EndDialog(w, -1);
        };
        SetClock(kMondayWork);
        MakeList("VELDA.NOT", "restricted");
        MakeList("VELDA.YES", "approved");
        // The leisure period differs from the work period's defaults.
        WriteSetting(settings::kKeyLeisureWeb, {}, "3");
        WriteSetting(settings::kKeyLeisureContent, {}, "255");
        Publish();
    }
    void TearDown() override {
        platform::SetLocalClock({});
        ResetWindowLayer();
    }

    static void SetClock(std::tm at) {
        platform::SetLocalClock([at] { return at; });
    }
    void MakeList(const std::string& name, const std::string& kind) {
        ASSERT_EQ(testsupport::MakeListFile("kind " + kind + "\naddress 192.0.2.1 0x0001\n",
                                            install.file(name)),
                  0);
    }
    // Fills the model from the settings, as the console's start-up publication does.
    static void Publish() { policy::PublishPolicy({.values = true}); }
    static void View(dialogs::Period period) {
        policy::Policy().policy.leisureNow = period == dialogs::Period::kLeisure ? 1 : 0;
    }

    // Runs the dialog; the steps run one after the other inside its modal loop.
    ui::INT_PTR Run(std::vector<std::function<void()>> steps) {
        for (auto& step : steps) display.Then(std::move(step));
        return dialogs::RunHeadquartersDialog(0);
    }
    static HWND Hq() { return dialogs::Console().headquartersWindow; }
    static HWND Item(int id) { return GetDlgItem(Hq(), id); }
    static bool Checked(int id) { return IsDlgButtonChecked(Hq(), id) == BST_CHECKED; }
    static bool Enabled(int id) { return IsWindowEnabled(Item(id)); }
    static std::string Text(int id) { return GetDlgItemText(Hq(), id); }
    static int Height() {
        RECT r;
        GetWindowRect(Hq(), r);
        return r.height();
    }
    static int GroupTop() {
        RECT r;
        GetWindowRect(Item(kGroup), r);
        return r.top;
    }
    static int Bottom() {
        RECT r;
        GetWindowRect(Hq(), r);
        return r.bottom;
    }
    void Escape() { display.PressKey(Hq(), VK_ESCAPE); }
    std::string PrivacyLog() const {
        const std::string path = install.file("privacy-profile.log");
        return std::filesystem::exists(path) ? install.readFile(path) : std::string();
    }
    std::string Line(const char* entry, std::uint32_t owner, std::uint32_t work,
                     std::uint32_t leisure) const {
        return std::string(entry) + " " + std::to_string(owner) + " " + std::to_string(work) + " " +
               std::to_string(leisure) + "\n";
    }
};

// The policy word the privacy-profile library receives.
constexpr std::uint32_t Word(std::uint32_t list, std::uint32_t web, std::uint32_t mask) {
    return (list * 256 + web) * 65536 + mask;
}

TEST_F(HeadquartersTest, OpensOnTheViewedPeriodAndEndsWithEscape) {
    HWND seen = 0;
    const auto result = Run({
        [&] {
            seen = Hq();
            EXPECT_EQ(display.FindTopLevel(kCaption), Hq());
            EXPECT_FALSE(dialogs::Console().timerBusy);
            EXPECT_TRUE(Checked(kWorkTime));
            EXPECT_FALSE(Checked(kLeisureTime));
            EXPECT_TRUE(IsWindowVisible(Item(kWorkFrame)));
            EXPECT_FALSE(IsWindowVisible(Item(kLeisureFrame)));
            EXPECT_EQ(Text(kStatus), "Internet is Enabled and Protected.");
            HWND list = Item(kListChoice);
            ASSERT_EQ(ComboCount(list), 4);
            EXPECT_EQ(ComboItemText(list, 0), "VeldaNOT List");
            EXPECT_EQ(ComboItemText(list, 1), "VeldaYES List");
            EXPECT_EQ(ComboItemText(list, 2), "Add'l Restrictions Only");
            EXPECT_EQ(ComboItemText(list, 3), "Add'l Approvals Only");
            EXPECT_EQ(ComboSelection(list), kVeldaNot);
            EXPECT_FALSE(Enabled(kSave));
            EXPECT_TRUE(Checked(kFiltered));
            EXPECT_EQ(Text(kGroup), " Restricted Categories per Work Time");
            EXPECT_EQ(Text(kFirstBox), "Violence / Profanity");
            EXPECT_EQ(Text(kFirstBox + 15), "Search Engines");
            EXPECT_EQ(Text(kLastUpdated), "Last Updated:");
            EXPECT_EQ(Text(kUpdateLists), "&Update Lists");
            for (int i = 0; i < 16; ++i) EXPECT_EQ(Checked(kFirstBox + i), i < 14) << i;
            // The administrator looks at leisure time: its choices, the frame stays on work.
            display.Click(Item(kLeisureTime));
        },
        [&] {
            EXPECT_EQ(Text(kGroup), " Restricted Categories per Leisure Time");
            EXPECT_TRUE(Checked(kNone));
            for (int i = 0; i < 16; ++i) EXPECT_EQ(Checked(kFirstBox + i), i < 8) << i;
            EXPECT_TRUE(IsWindowVisible(Item(kWorkFrame)));
            EXPECT_EQ(policy::Policy().policy.leisureNow, 1);
            EXPECT_FALSE(Enabled(kSave));
            Escape();
        },
    });
    EXPECT_EQ(result, 0);
    EXPECT_NE(seen, 0u);
    EXPECT_EQ(Hq(), 0u);
    EXPECT_FALSE(IsWindow(seen));
    EXPECT_TRUE(display.MessageBoxes().empty());
}

TEST_F(HeadquartersTest, TheListChoiceSetsTheBoxesAndTheHeight) {
    int fullHeight = 0;
    auto pick = [&](int item) { return [&, item] { display.PickItem(Item(kListChoice), item); }; };
    Run({
        [&] { fullHeight = Height(); },
        pick(kVeldaYes),
        [&] {
            EXPECT_EQ(ReadSetting(settings::kKeyNormalVeldaYes), "1");
            EXPECT_EQ(Text(kGroup), " Allowed Categories per Work Time");
            EXPECT_EQ(Text(kFirstBox), "Games && Toys");
            EXPECT_EQ(Text(kFirstBox + 15), "Parents && Teachers");
            for (int i = 0; i < 16; ++i) {
                EXPECT_TRUE(Checked(kFirstBox + i)) << i;
                EXPECT_FALSE(Enabled(kFirstBox + i)) << i;
            }
            EXPECT_TRUE(Enabled(kGroup));
            EXPECT_EQ(Height(), fullHeight);
            EXPECT_TRUE(Enabled(kSave));
        },
        pick(kAddlRestrictions),
        [&] {
            EXPECT_EQ(ReadSetting(settings::kKeyNormalVeldaYes), "2");
            EXPECT_EQ(Bottom(), GroupTop() + 5);  // the group is cut off
            EXPECT_LT(Height(), fullHeight);
            EXPECT_FALSE(Enabled(kGroup));
            EXPECT_EQ(Text(kGroup), " Restricted Categories per Work Time");
            for (int i = 0; i < 16; ++i) EXPECT_FALSE(Enabled(kFirstBox + i)) << i;
            // Everything but the group is still inside the dialog.
            for (int id : {kSave, kHelp, kGroups, kDate, kLeisureFrame}) {
                RECT r;
                GetWindowRect(Item(id), r);
                EXPECT_LE(r.bottom, Bottom()) << id;
            }
        },
        pick(kVeldaNot),
        [&] {
            EXPECT_EQ(Height(), fullHeight);
            EXPECT_TRUE(Enabled(kGroup));
            for (int i = 0; i < 16; ++i) {
                EXPECT_EQ(Enabled(kFirstBox + i), i != 13 && i != 14) << i;
                EXPECT_EQ(Checked(kFirstBox + i), i < 14) << i;
            }
        },
        pick(kAddlApprovals),
        [&] {
            EXPECT_EQ(Bottom(), GroupTop() + 5);
            EXPECT_EQ(Text(kGroup), " Allowed Categories per Work Time");
            for (int i = 0; i < 16; ++i) EXPECT_FALSE(Enabled(kFirstBox + i)) << i;
        },
        pick(kVeldaNot),
        [&] {
            display.AnswerMessageBox(IDYES);
            Escape();
        },
    });
    EXPECT_EQ(display.MessageBoxes().size(), 1u);  // abandon: the list changed
}

TEST_F(HeadquartersTest, TheRestrictedListNeverOffersTheReservedBoxes) {
    // Even with both reserved bits chosen, on either period, and after the other lists.
    WriteSetting(settings::kKeyLeisureContent, {}, "65535");
    Publish();
    View(dialogs::Period::kLeisure);
    SetClock(kSundayLeisure);
    Run({
        [&] {
            EXPECT_EQ(Text(kGroup), " Restricted Categories per Leisure Time");
            for (int i = 0; i < 16; ++i) {
                EXPECT_TRUE(Checked(kFirstBox + i)) << i;
                EXPECT_EQ(Enabled(kFirstBox + i), i != 13 && i != 14) << i;
            }
            display.PickItem(Item(kListChoice), kVeldaYes);
        },
        [&] { display.PickItem(Item(kListChoice), kVeldaNot); },
        [&] {
            EXPECT_FALSE(Enabled(kFirstBox + 13));
            EXPECT_FALSE(Enabled(kFirstBox + 14));
            EXPECT_TRUE(Enabled(kFirstBox + 12));
            display.AnswerMessageBox(IDYES);
            Escape();
        },
    });
}

TEST_F(HeadquartersTest, TheAbandonQuestionKeepsOrDropsTheEdit) {
    // No keeps the dialog and the edit; Yes ends it, and the list choice made meanwhile is
    // written back to what it was.
    Run({
        [&] { display.Click(Item(kFirstBox)); },
        [&] { display.PickItem(Item(kListChoice), kAddlRestrictions); },
        [&] {
            EXPECT_EQ(ReadSetting(settings::kKeyNormalVeldaYes), "2");
            display.AnswerMessageBox(IDNO);
            Escape();
        },
        [&] {
            ASSERT_NE(Hq(), 0u);
            EXPECT_FALSE(IsDialogEnded(Hq()));
            EXPECT_EQ(ReadSetting(settings::kKeyNormalVeldaYes), "2");
            EXPECT_TRUE(Enabled(kSave));
            // A period switch answered No stays on the work period.
            display.AnswerMessageBox(IDNO);
            display.Click(Item(kLeisureTime));
        },
        [&] {
            EXPECT_TRUE(Checked(kWorkTime));
            EXPECT_FALSE(Checked(kLeisureTime));
            EXPECT_EQ(Text(kGroup), " Restricted Categories per Work Time");
            display.AnswerMessageBox(IDYES);
            Escape();
        },
    });
    ASSERT_EQ(display.MessageBoxes().size(), 3u);
    for (const auto& box : display.MessageBoxes()) {
        EXPECT_EQ(box.text, kAbandon);
        EXPECT_EQ(box.caption, "Veldana Message");
        EXPECT_EQ(box.type, MB_YESNO | MB_ICONQUESTION);
    }
    EXPECT_EQ(Hq(), 0u);
    EXPECT_EQ(ReadSetting(settings::kKeyNormalVeldaYes), "0");
    EXPECT_EQ(ReadSetting(settings::kKeyNormalContent), "16383");
}

TEST_F(HeadquartersTest, AbandoningInsideTheDialogPutsTheSavedListBackOnScreen) {
    // Yes before Groups: the edit is dropped and the dialog shows the stored choices again.
    Run({
        [&] { display.PickItem(Item(kListChoice), kAddlApprovals); },
        [&] { display.Click(Item(kFull)); },
        [&] {
            display.AnswerMessageBox(IDYES);  // abandon
            display.AnswerMessageBox(IDOK);   // the library is missing
            display.Click(Item(kGroups));
        },
        [&] {
            EXPECT_EQ(ReadSetting(settings::kKeyNormalVeldaYes), "0");
            EXPECT_EQ(ComboSelection(Item(kListChoice)), kVeldaNot);
            EXPECT_TRUE(Enabled(kGroup));
            EXPECT_TRUE(Checked(kFiltered));
            EXPECT_FALSE(Enabled(kSave));
            Escape();  // nothing pending: no question
        },
    });
    EXPECT_EQ(display.MessageBoxes().size(), 2u);
}

TEST_F(HeadquartersTest, TheTimerSwitchesToThePeriodInForce) {
    SetClock(kSundayLeisure);
    View(dialogs::Period::kLeisure);
    Run({
        [&] {
            EXPECT_EQ(Text(kGroup), " Restricted Categories per Leisure Time");
            EXPECT_TRUE(Checked(kLeisureTime));
            EXPECT_TRUE(Checked(kNone));
            EXPECT_TRUE(IsWindowVisible(Item(kLeisureFrame)));
            EXPECT_FALSE(IsWindowVisible(Item(kWorkFrame)));
            for (int i = 0; i < 16; ++i) EXPECT_EQ(Checked(kFirstBox + i), i < 8) << i;
            // Monday morning: the main window's next tick.
            SetClock(kMondayWork);
            dialogs::RefreshPeriod(dialogs::Console().headquartersWindow);
            EXPECT_EQ(Text(kGroup), " Restricted Categories per Work Time");
            EXPECT_TRUE(Checked(kFiltered));
            EXPECT_TRUE(Checked(kWorkTime));
            EXPECT_TRUE(IsWindowVisible(Item(kWorkFrame)));
            EXPECT_FALSE(IsWindowVisible(Item(kLeisureFrame)));
            for (int i = 0; i < 16; ++i) EXPECT_EQ(Checked(kFirstBox + i), i < 14) << i;
            EXPECT_EQ(policy::Policy().policy.leisureNow, 0);
        },
        // With an edit pending the frames follow the clock, the view waits.
        [&] { display.Click(Item(kFull)); },
        [&] {
            SetClock(kSundayLeisure);
            dialogs::RefreshPeriod(Hq());
            EXPECT_TRUE(IsWindowVisible(Item(kLeisureFrame)));
            EXPECT_EQ(Text(kGroup), " Restricted Categories per Work Time");
            EXPECT_TRUE(Checked(kFull));
            display.AnswerMessageBox(IDYES);
            Escape();
        },
    });
}

TEST_F(HeadquartersTest, TheSwitchedPeriodsSelectionIsTheOneAnAbandonPutsBack) {
    // Leisure uses the approved list, work the restricted one; after the timer's switch an
    // abandoned list change of work time must restore the work selection, not leisure's.
    WriteSetting(settings::kKeyLeisureVeldaYes, {}, "1");
    Publish();
    SetClock(kSundayLeisure);
    View(dialogs::Period::kLeisure);
    Run({
        [&] {
            SetClock(kMondayWork);
            dialogs::RefreshPeriod(Hq());
            display.PickItem(Item(kListChoice), kAddlRestrictions);
        },
        [&] {
            display.AnswerMessageBox(IDYES);
            Escape();
        },
    });
    EXPECT_EQ(ReadSetting(settings::kKeyNormalVeldaYes), "0");
    EXPECT_EQ(ReadSetting(settings::kKeyLeisureVeldaYes), "1");
}

struct SaveCase {
    dialogs::Period period;
    int webKey, newsKey, contentKey;
    const char* mask;             // stored after Full and the first box cleared
    std::uint32_t work, leisure;  // the words UpdGrpMask receives
};

TEST_F(HeadquartersTest, SaveStoresTheViewedPeriodAndPublishes) {
    std::filesystem::copy_file(PRIVACY_STUB, install.file("VDpIpUI.dll"));
    const SaveCase cases[] = {
        {dialogs::Period::kWork, settings::kKeyNormalWeb, settings::kKeyNormalNews,
         settings::kKeyNormalContent, "16382", Word(0, 2, 16382), Word(0, 3, 255)},
        {dialogs::Period::kLeisure, settings::kKeyLeisureWeb, settings::kKeyLeisureNews,
         settings::kKeyLeisureContent, "254", Word(0, 2, 16382), Word(0, 2, 254)},
    };
    for (const auto& c : cases) {
        const bool leisure = c.period == dialogs::Period::kLeisure;
        SCOPED_TRACE(leisure ? "leisure" : "work");
        SetClock(leisure ? kSundayLeisure : kMondayWork);
        View(c.period);
        WriteSetting(settings::kKeyDataChanged, {}, "0");
        std::filesystem::remove(install.file("privacy-profile.log"));
        HWND hq = 0;
        Run({
            [&] {
                hq = Hq();
                display.Click(Item(kFull));
            },
            [&] { display.Click(Item(kFirstBox)); },  // chosen in both: now cleared
            [&] { display.Click(Item(kSave)); },
            [&] {
                EXPECT_FALSE(Enabled(kSave));
                Escape();  // saved: no question
            },
        });
        EXPECT_TRUE(display.MessageBoxes().empty());
        EXPECT_EQ(ReadSetting(c.webKey), "2");
        EXPECT_EQ(ReadSetting(c.newsKey), "2");
        EXPECT_EQ(ReadSetting(c.contentKey), c.mask);
        EXPECT_EQ(ReadSetting(settings::kKeyDataChanged), "1");
        EXPECT_EQ(PrivacyLog(), Line("UpdGrpMask", hq, c.work, c.leisure));
    }
}

TEST_F(HeadquartersTest, GroupsCallsThePrivacyProfileLibraryWhenThereIsOne) {
    WriteSetting(settings::kKeyNormalWeb, {}, "2");
    WriteSetting(settings::kKeyLeisureVeldaYes, {}, "3");
    Publish();
    auto groups = [&] {
        HWND hq = 0;
        Run({
            [&] {
                hq = Hq();
                display.Click(Item(kGroups));
            },
            [&] { Escape(); },
        });
        return hq;
    };
    // No library: said once, nothing else happens.
    display.AnswerMessageBox(IDOK);
    groups();
    ASSERT_EQ(display.MessageBoxes().size(), 1u);
    EXPECT_EQ(display.MessageBoxes()[0].text, "VDPIPUI.DLL Loading error\nFeature is disabled.");
    EXPECT_EQ(display.MessageBoxes()[0].caption, "Veldana Message");
    EXPECT_EQ(display.MessageBoxes()[0].type, MB_OK | MB_ICONSTOP);

    // The library: both policy words.
    std::filesystem::copy_file(PRIVACY_STUB, install.file("VDpIpUI.dll"));
    const HWND hq = groups();
    EXPECT_EQ(display.MessageBoxes().size(), 1u);
    EXPECT_EQ(PrivacyLog(), Line("IpUIDialog", hq, Word(0, 2, 16383), Word(3, 3, 255)));

    // A library without UpdGrpMask: a Save with changes says so; Groups still works.
    std::filesystem::remove(install.file("privacy-profile.log"));
    std::filesystem::copy_file(PRIVACY_STUB_NOMASK, install.file("VDpIpUI.dll"),
                               std::filesystem::copy_options::overwrite_existing);
    display.AnswerMessageBox(IDOK);
    HWND last = 0;
    Run({
        [&] {
            last = Hq();
            display.Click(Item(kFiltered));
        },
        [&] { display.Click(Item(kSave)); },
        [&] { display.Click(Item(kGroups)); },
        [&] { Escape(); },
    });
    ASSERT_EQ(display.MessageBoxes().size(), 2u);
    EXPECT_EQ(display.MessageBoxes()[1].text,
              "VDPIPUI.DLL GetProcedure error\nFeature is disabled.");
    EXPECT_EQ(display.MessageBoxes()[1].type, MB_OK | MB_ICONSTOP);
    EXPECT_EQ(PrivacyLog(), Line("IpUIDialog", last, Word(0, 1, 16383), Word(3, 3, 255)));
}

struct ShortDateCase {
    const char* pattern;  // null: no sShortDate
    int day, month, year;
    const char* expected;
};

TEST_F(HeadquartersTest, ShortDatesFollowTheSystemPattern) {
    const ShortDateCase cases[] = {
        {nullptr, 16, 7, 1995, "7/16/1995"},       {nullptr, 16, 7, 5, "7/16/05"},
        {"dd.MM.yyyy", 16, 7, 1995, "16.07.1995"}, {"M/d/yy", 16, 7, 1995, "7/16/95"},
        {"M/d/yy", 3, 2, 2005, "2/3/05"},          {"d/M/y", 3, 2, 2005, "3/2/2005"},
        {"DD-mm-YY", 3, 2, 2005, "03-02-05"},      {"yyyy-MM-dd", 16, 7, 1995, "1995-07-16"},
        {"yyyy-MM-dd", 16, 7, 95, "1995-07-16"},   // a year below 1900 is of the 1900s
        {"dd MMM yyyy", 16, 7, 1995, "16  1995"},  // month names are not written
        {"yyyyMMdd", 16, 7, 1995, "19950716"},     {"d", 16, 7, 1995, "16"},
    };
    for (const auto& c : cases) {
        install.writeFile(install.windowsDir() + "/WIN.INI",
                          c.pattern ? std::string("[intl]\nsShortDate=") + c.pattern + "\n"
                                    : std::string("[intl]\niDate=0\n"));
        EXPECT_EQ(dialogs::FormatShortDate(c.day, c.month, c.year), c.expected)
            << (c.pattern ? c.pattern : "(none)");
    }
    // The DOS date of 16 July 1995, 13:45:58 in its styles.
    install.writeFile(install.windowsDir() + "/WIN.INI", "[intl]\nsShortDate=dd.MM.yyyy\n");
    const std::uint16_t date = (15 << 9) | (7 << 5) | 16, time = (13 << 11) | (45 << 5) | 29;
    EXPECT_EQ(dialogs::FormatDosDate(date, dialogs::DosDateStyle::kShortDate), "16.07.1995");
    EXPECT_EQ(dialogs::FormatDosDate(date, dialogs::DosDateStyle::kDigits), "19950716");
    EXPECT_EQ(dialogs::FormatDosDate(time, dialogs::DosDateStyle::kTimeDigits), "134558");
}

TEST_F(HeadquartersTest, LastUpdatedShowsTheListDateOrUnknown) {
    install.writeFile(install.windowsDir() + "/WIN.INI", "[intl]\nsShortDate=dd.MM.yyyy\n");
    std::tm noon{};
    noon.tm_year = 95;
    noon.tm_mon = 6;
    noon.tm_mday = 16;
    noon.tm_hour = 12;
    const utimbuf times{timegm(&noon), timegm(&noon)};
    ASSERT_EQ(utime(install.file("VELDA.NOT").c_str(), &times), 0);
    std::filesystem::remove(install.file("VELDA.YES"));
    display.AnswerMessageBox(IDOK);  // the approved list is missing
    Run({
        [&] {
            EXPECT_EQ(Text(kDate), "16.07.1995");
            display.PickItem(Item(kListChoice), kVeldaYes);
        },
        [&] {
            EXPECT_EQ(Text(kDate), "Unknown");
            EXPECT_EQ(ReadSetting(settings::kKeyNormalVeldaYes), "1");  // stored anyway
            display.AnswerMessageBox(IDYES);
            Escape();
        },
    });
    ASSERT_EQ(display.MessageBoxes().size(), 2u);
    EXPECT_NE(display.MessageBoxes()[0].text.find("VELDA.YES"), std::string::npos);
    EXPECT_EQ(display.MessageBoxes()[1].text, kAbandon);
}

struct ProxyCase {
    const char* name;
    std::function<void(HeadlessDisplay&, HWND)> finish;
    ui::INT_PTR result;
    const char* server;
    const char* port;
};

TEST_F(HeadquartersTest, TheProxyDialogSavesOrLeavesTheSettings) {
    const std::string longAddress(100, 'p');
    const ProxyCase cases[] = {
        {"save", [](HeadlessDisplay& d, HWND w) { d.Click(w, kSave); }, 1,
         "ppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppp", ""},
        {"cancel button", [](HeadlessDisplay& d, HWND w) { d.Click(w, 1021); }, 0, "old.example",
         "3128"},
        {"escape", [](HeadlessDisplay& d, HWND w) { d.PressKey(w, VK_ESCAPE); }, 0, "old.example",
         "3128"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteSetting(settings::kKeyProxyServer, {}, "old.example");
        WriteSetting(settings::kKeyProxyPort, {}, "3128");
        HWND proxy = 0;
        display.Then([&] {
            proxy = display.FindTopLevel("Proxy Server Setup");
            ASSERT_NE(proxy, 0u);
            EXPECT_EQ(GetDlgItemText(proxy, 1039), "old.example");
            EXPECT_EQ(GetDlgItemText(proxy, 1126), "3128");
            EXPECT_EQ(GetFocus(), GetDlgItem(proxy, 1039));
            display.ReplaceText(GetDlgItem(proxy, 1039), longAddress);
            display.ReplaceText(GetDlgItem(proxy, 1126), "");
        });
        display.Then([&] { c.finish(display, proxy); });
        EXPECT_EQ(dialogs::RunProxyDialog(0), c.result);
        EXPECT_EQ(ReadSetting(settings::kKeyProxyServer), c.server);
        EXPECT_EQ(ReadSetting(settings::kKeyProxyPort), c.port);
    }
}

TEST_F(HeadquartersTest, HelpOpensAtEachDialogsContext) {
    Run({
        [&] { display.Click(Item(kHelp)); },
        [&] { display.Click(Item(kProxy)); },
        [&] {
            HWND proxy = display.FindTopLevel("Proxy Server Setup");
            ASSERT_NE(proxy, 0u);
            display.Click(proxy, kHelp);
            display.Click(proxy, 1021);
        },
        [&] { Escape(); },
    });
    ASSERT_EQ(display.HelpShown().size(), 2u);
    EXPECT_EQ(display.HelpShown()[0].file, "VDP.HLP");
    EXPECT_EQ(display.HelpShown()[0].context, 999u);
    EXPECT_EQ(display.HelpShown()[1].file, "VDP.HLP");
    EXPECT_EQ(display.HelpShown()[1].context, 135u);
}

TEST_F(HeadquartersTest, ThePositionIsRestoredAndStoredByTheCloseButtonOnly) {
    const SIZE screen = display.ScreenSize();
    struct Case {
        const char* stored;
        bool fromRight;  // expected at the bottom right corner, else at (0, 0)
    };
    for (const Case c : {Case{"5000, 5000", true}, Case{"", false}}) {
        SCOPED_TRACE(c.stored);
        WriteSetting(settings::kKeyWindowPosition, {}, c.stored);
        Run({[&] {
            RECT r;
            GetWindowRect(Hq(), r);
            if (c.fromRight) {
                EXPECT_EQ(r.right, screen.cx);
                EXPECT_EQ(r.bottom, screen.cy);
            } else {
                EXPECT_EQ(r.left, 0);
                EXPECT_EQ(r.top, 0);
            }
            Escape();  // Escape stores nothing
        }});
        EXPECT_EQ(ReadSetting(settings::kKeyWindowPosition), c.stored);
    }
    // The close button stores it even when the administrator then stays.
    WriteSetting(settings::kKeyWindowPosition, {}, "30, 40");
    Run({
        [&] { display.Click(Item(kFull)); },
        [&] {
            SetWindowPos(Hq(), HWND_TOP, 50, 60, 0, 0, SWP_NOSIZE);
            display.AnswerMessageBox(IDNO);
            display.ChooseSystemMenuItem(Hq(), SC_CLOSE);
        },
        [&] {
            EXPECT_EQ(ReadSetting(settings::kKeyWindowPosition), "50, 60");
            display.AnswerMessageBox(IDYES);
            Escape();
        },
    });
}

TEST_F(HeadquartersTest, TheBitmapButtonShowsTheBitmap) {
    Run({[&] {
        HWND button = Item(kBitmap);
        UpdateWindow(button);
        InvalidateRect(button, nullptr, TRUE);
        UpdateWindow(button);
        const Surface* shown = WindowSurface(button);
        const Surface* bitmap = ImagePixels(LoadBitmapResource("VELDABMP"));
        ASSERT_NE(shown, nullptr);
        ASSERT_NE(bitmap, nullptr);
        const int w = std::min(shown->width(), bitmap->width());
        const int h = std::min(shown->height(), bitmap->height());
        EXPECT_GT(w * h, 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(shown->Pixel(x, y), bitmap->Pixel(x, y)) << x << "," << y;
        // For a person to look at: VELDANA_SNAPSHOT_DIR=/tmp/shots
        if (const char* dir = std::getenv("VELDANA_SNAPSHOT_DIR"))
            HeadlessDisplay::WritePng(Hq(), std::string(dir) + "/surf.png");
        // Beyond the bitmap: the gray ground.
        for (int x = w; x < shown->width(); ++x)
            EXPECT_EQ(shown->Pixel(x, 0), RGB(128, 128, 128)) << x;
        Escape();
    }});
}

}  // namespace

namespace {

// A store that refuses writes: Save says so, and the edit stays pending with Save offered.
TEST_F(HeadquartersTest, SaveOnAStoreThatCannotBeWrittenKeepsTheEditPending) {
    Run({[&] { display.Click(Item(kFull)); },
         [&] {
             platform::RefuseRegistryWrites(true);
             display.AnswerMessageBox(IDOK);
             display.Click(Item(kSave));
         },
         [&] {
             platform::RefuseRegistryWrites(false);
             EXPECT_TRUE(Enabled(kSave));
             EXPECT_EQ(ReadSetting(settings::kKeyNormalWeb), "1") << "nothing stored";
             display.AnswerMessageBox(IDOK);  // no privacy-profile library here
             display.Click(Item(kSave));
         },
         [&] {
             EXPECT_EQ(ReadSetting(settings::kKeyNormalWeb), "2");
             Escape();
         }});
    ASSERT_EQ(display.MessageBoxes().size(), 2u);
    EXPECT_NE(display.MessageBoxes()[0].text.find("The settings could not be saved"),
              std::string::npos);
}

// Each button opens its dialog over Headquarters; Change Hours saved publishes the policy
// again (the work hours the filter reads).
TEST_F(HeadquartersTest, EachButtonOpensItsDialogAndSavedWorkHoursArePublished) {
    struct Case {
        int button;
        const char* caption;
    };
    const Case cases[] = {{1221, "Web Sites Control"},      {1223, "Domain Name Filter Setup"},
                          {7055, "Work / Leisure Time"},    {kProxy, "Proxy Server Setup"},
                          {kBitmap, "About Veldana"}};
    std::vector<std::function<void()>> steps;
    for (const Case& c : cases) {
        steps.push_back([&, c] { display.Click(Item(c.button)); });
        steps.push_back([&, c] {
            const HWND dialog = display.FindTopLevel(c.caption);
            EXPECT_NE(dialog, 0u) << c.caption;
            if (dialog) display.PressKey(dialog, VK_ESCAPE);
        });
    }
    steps.push_back([&] {
        WriteSetting(settings::kKeyDataChanged, {}, "0");
        display.Click(Item(7055));
    });
    steps.push_back([&] { display.Click(display.FindTopLevel("Work / Leisure Time"), 1201); });
    steps.push_back([&] {
        EXPECT_EQ(settings::ReadSetting(settings::kKeyDataChanged), "1") << "published again";
        Escape();
    });
    EXPECT_EQ(Run(std::move(steps)), 0);
    EXPECT_EQ(display.FindTopLevel("Veldana - Proxy Headquarters"), 0u);
}

}  // namespace
