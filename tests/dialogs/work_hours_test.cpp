// The work-hours dialog driven by a scripted administrator: the arrows and their chains,
// the repair of stored values, Save with its check, Cancel, and the time formats.
#include "dialogs/work_hours.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "dialogs/console.h"
#include "platform/registry.h"
#include "policy/policy.h"
#include "settings/settings_store.h"
#include "tests/support/temp_install.h"
#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/headless.h"
#include "ui/message_box.h"
#include "ui/window.h"

namespace {

using namespace ui;

constexpr const char* kCaption = "Work / Leisure Time";
constexpr const char* kUsIntl = "[intl]\nsTime=:\ns1159=AM\ns2359=PM\niTLZero=0\niTime=0\n";

// Morning start, morning end, afternoon start, afternoon end.
using Periods = std::array<int, 4>;
constexpr std::array<int, 4> kTimeStatics{410, 411, 403, 405};
constexpr std::array<int, 4> kSettingKeys{settings::kKeyAmStart, settings::kKeyAmEnd,
                                          settings::kKeyPmStart, settings::kKeyPmEnd};

// Notes the timer-busy flag whenever a time is shown, which happens while the dialog
// initialises.
class RecordingDisplay : public HeadlessDisplay {
  public:
    void WindowChanged(HWND hwnd) override {
        const int id = GetDlgCtrlID(hwnd);
        if (id == 410 && !GetWindowText(hwnd).empty())
            busyWhenShown.push_back(dialogs::Console().timerBusy);
    }
    std::vector<bool> busyWhenShown;
};

class WorkHoursTest : public ::testing::Test {
  protected:
    void SetUp() override {
        display.onStuck = [](const std::string& s) { FAIL() << "stuck:\n" << s; };
        install.writeFile(install.windowsDir() + "/WIN.INI", kUsIntl);
    }
    void TearDown() override { ResetWindowLayer(); }

    // Stores the periods and the days in the settings and loads them into the model, as
    // the console's start-up publication does.
    void Store(const Periods& p, const std::string& days = "0111110") {
        for (int i = 0; i < 4; ++i)
            ASSERT_EQ(settings::WriteSetting(kSettingKeys[i], {}, std::to_string(p[i])), 1);
        ASSERT_EQ(settings::WriteSetting(settings::kKeyDaysOfOperation, {}, days), 1);
        ASSERT_EQ(policy::PublishValues(), 1);
    }
    static Periods Model() {
        const auto& p = policy::Policy().policy;
        return {p.amStart, p.amEnd, p.pmStart, p.pmEnd};
    }
    static Periods Stored() {
        Periods p{};
        for (int i = 0; i < 4; ++i)
            p[i] = static_cast<int>(settings::DecimalValue(settings::ReadSetting(kSettingKeys[i])));
        return p;
    }
    static std::array<std::string, 4> Shown(HWND dialog) {
        std::array<std::string, 4> texts;
        for (int i = 0; i < 4; ++i) texts[i] = GetDlgItemText(dialog, kTimeStatics[i]);
        return texts;
    }

    // Runs the dialog; each step gets the dialog and runs once the one before it, and
    // every command it caused, is done. The last step must end the dialog.
    INT_PTR Run(std::vector<std::function<void(HWND)>> steps) {
        for (auto& step : steps)
            display.Then([this, step] {
                HWND dialog = display.FindTopLevel(kCaption);
                ASSERT_NE(dialog, 0u) << "the dialog is open";
                step(dialog);
            });
        return dialogs::RunWorkHoursDialog(0);
    }
    std::function<void(HWND)> Press(int id) {
        return [this, id](HWND dialog) { display.Click(dialog, id); };
    }
    std::function<void(HWND)> Look(std::function<void(HWND)> check) { return check; }

    testsupport::TempInstall install;
    RecordingDisplay display;
};

TEST_F(WorkHoursTest, TheDialogHasEveryControlOfItsTemplate) {
    struct Item {
        int id;
        const char* text;
        ControlType type;
    };
    const Item items[] = {
        {7166, "«", ControlType::kPushButton},
        {7165, "»", ControlType::kPushButton},
        {7167, "«", ControlType::kPushButton},
        {7168, "»", ControlType::kPushButton},
        {7170, "«", ControlType::kPushButton},
        {7169, "»", ControlType::kPushButton},
        {7171, "«", ControlType::kPushButton},
        {7172, "»", ControlType::kPushButton},
        {410, "8:15AM", ControlType::kStaticText},
        {411, "12:00PM", ControlType::kStaticText},
        {403, "1:00PM", ControlType::kStaticText},
        {405, "5:15PM", ControlType::kStaticText},
        {467, "Sun.", ControlType::kCheckBox},
        {468, "Mon.", ControlType::kCheckBox},
        {469, "Tue.", ControlType::kCheckBox},
        {470, "Wed.", ControlType::kCheckBox},
        {471, "Thu.", ControlType::kCheckBox},
        {472, "Fri.", ControlType::kCheckBox},
        {466, "Sat.", ControlType::kCheckBox},
        {1201, "&Save Changes", ControlType::kDefaultButton},
        {1021, "&Cancel", ControlType::kPushButton},
        {1215, "&Help", ControlType::kPushButton},
    };
    Store({33, 48, 52, 69});
    const INT_PTR result = Run({
        [&](HWND dialog) {
            for (const Item& item : items) {
                HWND control = GetDlgItem(dialog, item.id);
                ASSERT_NE(control, 0u) << item.id;
                EXPECT_EQ(GetWindowText(control), item.text) << item.id;
                EXPECT_EQ(GetControlType(control), item.type) << item.id;
                EXPECT_TRUE(IsWindowVisible(control)) << item.id;
            }
            std::vector<std::string> texts;
            RECT client;
            GetClientRect(dialog, client);
            for (HWND child : ChildWindows(dialog)) {
                texts.push_back(GetWindowText(child));
                RECT r;
                GetWindowRect(child, r);
                POINT p{r.left, r.top};
                ScreenToClient(dialog, p);
                EXPECT_TRUE(p.x >= 0 && p.y >= 0 && p.x + r.width() <= client.right &&
                            p.y + r.height() <= client.bottom)
                    << "inside the dialog: " << GetWindowText(child);
            }
            for (const char* caption : {"Morning Work Period (in 15 min. increments)",
                                        "Afternoon Work Period (in 15 min. increments)",
                                        "&From:", "&To:", "Work Periods EXCLUDED on:"})
                EXPECT_NE(std::find(texts.begin(), texts.end(), caption), texts.end()) << caption;
            EXPECT_EQ(IsDlgButtonChecked(dialog, 467), BST_CHECKED);
            EXPECT_EQ(IsDlgButtonChecked(dialog, 466), BST_CHECKED);
            EXPECT_EQ(IsDlgButtonChecked(dialog, 468), BST_UNCHECKED);
        },
        [&](HWND dialog) {
            // For a person to look at: VELDANA_SNAPSHOT_DIR=/tmp/shots
            if (const char* dir = std::getenv("VELDANA_SNAPSHOT_DIR"))
                HeadlessDisplay::WritePng(dialog, std::string(dir) + "/workhour.png");
        },
        Press(1215),
        Press(1021),
    });
    EXPECT_EQ(result, 0);
    ASSERT_EQ(display.HelpShown().size(), 1u);
    EXPECT_EQ(display.HelpShown()[0].file, "VDP.HLP");
    EXPECT_EQ(display.HelpShown()[0].context, 134u);
    EXPECT_EQ(display.busyWhenShown, std::vector<bool>{true}) << "busy while it initialises";
    EXPECT_FALSE(dialogs::Console().timerBusy);
}

TEST_F(WorkHoursTest, ArrowsMoveTheValuesAndPushTheNeighboursAlong) {
    struct Case {
        const char* what;
        Periods before;
        int button;
        Periods after;
    };
    const Case cases[] = {
        {"morning start later", {33, 48, 52, 69}, 7165, {34, 48, 52, 69}},
        {"morning start earlier", {33, 48, 52, 69}, 7166, {32, 48, 52, 69}},
        {"afternoon end later", {33, 48, 52, 69}, 7172, {33, 48, 52, 70}},
        {"morning start pushes the morning end", {47, 48, 52, 69}, 7165, {48, 49, 52, 69}},
        {"which may then equal the afternoon start", {47, 48, 49, 69}, 7165, {48, 49, 49, 69}},
        {"and pushes it once past it", {47, 48, 48, 69}, 7165, {48, 49, 49, 69}},
        {"all the way to the afternoon end", {47, 48, 48, 49}, 7165, {48, 49, 49, 50}},
        {"afternoon start down to the morning end pulls it back",
         {33, 48, 49, 69},
         7170,
         {33, 47, 48, 69}},
        {"afternoon end pulls every value back", {45, 46, 47, 48}, 7171, {44, 45, 46, 47}},
        {"morning end earlier pulls the morning start", {33, 34, 52, 69}, 7167, {32, 33, 52, 69}},
        {"a value at its limit does not move", {0, 1, 2, 3}, 7171, {0, 1, 2, 3}},
        {"nor at the upper limit", {93, 94, 94, 95}, 7165, {93, 94, 94, 95}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Store(c.before);
        const Periods stored = Stored();
        Run({Press(c.button), [&](HWND dialog) {
                 EXPECT_EQ(Model(), c.after);
                 EXPECT_EQ(Stored(), stored) << "nothing is stored before Save";
                 auto shown = Shown(dialog);
                 for (int i = 0; i < 4; ++i)
                     EXPECT_EQ(shown[i], dialogs::FormatTime(c.after[i] / 4, c.after[i] % 4 * 15));
                 display.Click(dialog, 1021);
             }});
        EXPECT_EQ(Model(), c.before) << "Cancel takes the values back";
    }
}

TEST_F(WorkHoursTest, ArrowsAreDisabledAtTheirLimitsAndComeBackWhenTheValueLeavesThem) {
    auto enabled = [](HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != 0; };
    Store({0, 1, 2, 3});
    Run({[&](HWND dialog) {
             for (int id : {7166, 7167, 7170, 7171}) EXPECT_FALSE(enabled(dialog, id)) << id;
             for (int id : {7165, 7168, 7169, 7172}) EXPECT_TRUE(enabled(dialog, id)) << id;
             display.Click(dialog, 7172);
         },
         [&](HWND dialog) {
             EXPECT_TRUE(enabled(dialog, 7171)) << "afternoon end left its lowest value";
             display.Click(dialog, 1021);
         }});

    // One press runs the chain up to every upper limit.
    Store({92, 93, 93, 94});
    Run({[&](HWND dialog) {
             for (int id : {7165, 7168, 7169, 7172}) EXPECT_TRUE(enabled(dialog, id)) << id;
             display.Click(dialog, 7165);
         },
         [&](HWND dialog) {
             EXPECT_EQ(Model(), (Periods{93, 94, 94, 95}));
             for (int id : {7165, 7168, 7169, 7172}) EXPECT_FALSE(enabled(dialog, id)) << id;
             for (int id : {7166, 7167, 7170, 7171}) EXPECT_TRUE(enabled(dialog, id)) << id;
             display.Click(dialog, 1021);
         }});
}

TEST_F(WorkHoursTest, StoredValuesOutOfRangeAreReplacedByTheLastAcceptedOnes) {
    struct Case {
        const char* what;
        Periods stored;
        Periods shown;
    };
    // In this order: each opening remembers what it accepted for the next.
    const Case cases[] = {
        {"an afternoon end past the day, at first start", {33, 48, 52, 120}, {33, 48, 52, 69}},
        {"a morning end before the start", {33, 20, 52, 69}, {33, 48, 52, 69}},
        {"valid values are accepted", {40, 50, 60, 70}, {40, 50, 60, 70}},
        {"and are the ones used next", {33, 48, 52, 97}, {33, 48, 52, 70}},
        {"an afternoon start before the morning end", {40, 50, 45, 70}, {40, 50, 52, 70}},
        {"the end of the day is in range", {0, 96, 96, 80}, {0, 96, 96, 70}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Store(c.stored);
        Run({[&](HWND dialog) {
            EXPECT_EQ(Model(), c.shown);
            EXPECT_EQ(GetDlgItemText(dialog, 405),
                      dialogs::FormatTime(c.shown[3] / 4, c.shown[3] % 4 * 15));
            display.Click(dialog, 1021);
        }});
        EXPECT_EQ(Stored(), c.stored) << "the repair stores nothing";
    }
}

TEST_F(WorkHoursTest, AValueRepairedPastItsArrowLimitCannotBePushedFurther) {
    Store({95, 96, 96, 120});  // the afternoon end becomes 69: out of order, refused by Save
    Run({[&](HWND dialog) {
             EXPECT_EQ(Model(), (Periods{95, 96, 96, 69}));
             EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, 7165)));
             // The command itself, as a chain would send it, leaves the value alone too.
             SendMessage(dialog, WM_COMMAND, MAKEWPARAM(7165, BN_CLICKED), 0);
             SendMessage(dialog, WM_COMMAND, MAKEWPARAM(7168, BN_CLICKED), 0);
             EXPECT_EQ(Model(), (Periods{95, 96, 96, 69}));
             display.Click(dialog, 7166);
         },
         [&](HWND dialog) {
             EXPECT_EQ(Model()[0], 94);
             display.Click(dialog, 1021);
         }});
}

TEST_F(WorkHoursTest, SaveRefusesTimesOutOfOrderAndStoresNothingUntilTheyAreRight) {
    display.AnswerMessageBox(IDOK);
    Store({50, 30, 52, 69}, "1011111");  // the morning end is repaired to 48: before the start
    const INT_PTR result = Run({
        [&](HWND dialog) {
            EXPECT_EQ(Model(), (Periods{50, 48, 52, 69}));
            display.Click(dialog, 467);
            display.Click(dialog, 1201);
        },
        [&](HWND dialog) {
            ASSERT_EQ(display.MessageBoxes().size(), 1u);
            const auto& box = display.MessageBoxes()[0];
            EXPECT_EQ(box.text,
                      "The times entered are invalid. Please make sure that the end times come "
                      "after the start times.");
            EXPECT_EQ(box.caption, "Veldana Message");
            EXPECT_EQ(box.type & MB_TYPEMASK, MB_OK);
            EXPECT_FALSE(IsDialogEnded(dialog)) << "the dialog stays open";
            EXPECT_EQ(Stored(), (Periods{50, 30, 52, 69}));
            EXPECT_EQ(settings::ReadSetting(settings::kKeyDaysOfOperation), "1011111");
            EXPECT_EQ(policy::Policy().policy.days, "1011111");
            for (int i = 0; i < 3; ++i) display.Click(dialog, 7168);
        },
        [&](HWND dialog) {
            EXPECT_EQ(Model(), (Periods{50, 51, 52, 69}));
            display.Click(dialog, 1201);
        },
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(Stored(), (Periods{50, 51, 52, 69}));
    EXPECT_EQ(settings::ReadSetting(settings::kKeyDaysOfOperation), "0011111");
    EXPECT_EQ(policy::Policy().policy.days, "0011111");
}

TEST_F(WorkHoursTest, SaveStoresThePeriodsAndTheExcludedDays) {
    struct Case {
        const char* what;
        Periods periods;
        std::string daysBefore;
        std::vector<int> clicks;  // day boxes toggled
        std::string daysAfter;
    };
    const Case cases[] = {
        {"Sunday and Saturday excluded", {33, 48, 52, 69}, "1111111", {467, 466}, "0111110"},
        {"no day excluded", {33, 48, 52, 69}, "0111110", {467, 466}, "1111111"},
        {"no lunch break", {33, 48, 48, 69}, "0111110", {}, "0111110"},
        {"a short days string counts as work days", {0, 1, 95, 96}, "01", {472}, "0111101"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Store(c.periods, c.daysBefore);
        const INT_PTR result = Run({[&](HWND dialog) {
            for (int box : c.clicks) display.Click(dialog, box);
            display.Click(dialog, 1201);
        }});
        EXPECT_EQ(result, 1);
        EXPECT_EQ(Stored(), c.periods);
        EXPECT_EQ(settings::ReadSetting(settings::kKeyDaysOfOperation), c.daysAfter);
        EXPECT_EQ(policy::Policy().policy.days, c.daysAfter);
    }
    EXPECT_TRUE(display.MessageBoxes().empty());
}

// A store that refuses the writes: Save says so and the dialog stays open with what was
// entered; once the store takes writes again, Save stores it.
TEST_F(WorkHoursTest, SaveOnAStoreThatCannotBeWrittenSaysSoAndKeepsTheDialog) {
    Store({33, 48, 52, 69});
    const INT_PTR result = Run({Press(7172),
                                [&](HWND dialog) {
                                    platform::RefuseRegistryWrites(true);
                                    display.AnswerMessageBox(IDOK);
                                    display.Click(dialog, 1201);
                                },
                                [&](HWND dialog) {
                                    platform::RefuseRegistryWrites(false);
                                    EXPECT_EQ(Stored(), (Periods{33, 48, 52, 69}));
                                    display.Click(dialog, 1201);
                                }});
    EXPECT_EQ(result, 1);
    ASSERT_EQ(display.MessageBoxes().size(), 1u);
    EXPECT_NE(display.MessageBoxes()[0].text.find("The settings could not be saved"),
              std::string::npos);
    EXPECT_NE(display.MessageBoxes()[0].text.find("read-only"), std::string::npos);
    EXPECT_EQ(Stored(), (Periods{33, 48, 52, 70}));
}

TEST_F(WorkHoursTest, EnterSavesAndArrowsMovedBeforeAreStored) {
    Store({33, 48, 52, 69});
    const INT_PTR result = Run({Press(7172), [&](HWND dialog) {
                                    SetFocus(GetDlgItem(dialog, 467));
                                    display.PressKey(VK_RETURN);
                                }});
    EXPECT_EQ(result, 1);
    EXPECT_EQ(Stored(), (Periods{33, 48, 52, 70}));
}

TEST_F(WorkHoursTest, CancelStoresNothingAndTakesTheArrowsBack) {
    struct Case {
        const char* how;
        std::function<void(HeadlessDisplay&, HWND)> cancel;
    };
    const Case cases[] = {
        {"Cancel button", [](HeadlessDisplay& d, HWND dialog) { d.Click(dialog, 1021); }},
        {"Escape", [](HeadlessDisplay& d, HWND dialog) { d.PressKey(dialog, VK_ESCAPE); }},
        {"close command",
         [](HeadlessDisplay& d, HWND dialog) { d.ChooseSystemMenuItem(dialog, SC_CLOSE); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        Store({33, 48, 52, 69}, "0111110");
        const INT_PTR result = Run({Press(7165),
                                    [&](HWND dialog) {
                                        display.Click(dialog, 7172);
                                        display.Click(dialog, 468);
                                    },
                                    [&](HWND dialog) {
                                        EXPECT_EQ(Model(), (Periods{34, 48, 52, 70}));
                                        c.cancel(display, dialog);
                                    }});
        EXPECT_EQ(result, 0);
        EXPECT_EQ(Stored(), (Periods{33, 48, 52, 69}));
        EXPECT_EQ(Model(), (Periods{33, 48, 52, 69}));
        EXPECT_EQ(settings::ReadSetting(settings::kKeyDaysOfOperation), "0111110");
        EXPECT_EQ(policy::Policy().policy.days, "0111110");
    }
}

TEST(FormatTimeTest, FollowsTheTimeFormatOfWinIni) {
    struct Case {
        const char* what;
        const char* winIni;                // null: no WIN.INI
        std::array<const char*, 6> texts;  // 8:15, 12:00, 13:00, 17:15, 0:00, 24:00
    };
    const Case cases[] = {
        {"12-hour clock", kUsIntl, {"8:15AM", "12:00PM", "1:00PM", "5:15PM", "12:00AM", "12:00PM"}},
        {"12-hour clock with leading zero",
         "[intl]\nsTime=:\ns1159=AM\ns2359=PM\niTLZero=1\niTime=0\n",
         {"08:15AM", "12:00PM", "01:00PM", "05:15PM", "12:00AM", "12:00PM"}},
        {"24-hour clock",
         "[Intl]\nsTime=.\niTLZero=1\niTime=1\n",
         {"08.15", "12.00", "13.00", "17.15", "00.00", "24.00"}},
        {"the first character of the separator, suffixes cut to 9",
         "[intl]\nsTime=h:\ns1159= ante meridiem\ns2359=\"p.m.\"\niTime=0\n",
         {"8h15ante meri", "12h00p.m.", "1h00p.m.", "5h15p.m.", "12h00ante meri", "12h00p.m."}},
        {"no time format: a colon",
         "[windows]\nload=\n",
         {"8:15", "12:00", "1:00", "5:15", "12:00", "12:00"}},
        {"no WIN.INI", nullptr, {"8:15", "12:00", "1:00", "5:15", "12:00", "12:00"}},
    };
    const std::array<std::array<int, 2>, 6> times{
        {{8, 15}, {12, 0}, {13, 0}, {17, 15}, {0, 0}, {24, 0}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::TempInstall install;
        if (c.winIni) install.writeFile(install.windowsDir() + "/WIN.INI", c.winIni);
        for (std::size_t i = 0; i < times.size(); ++i)
            EXPECT_EQ(dialogs::FormatTime(times[i][0], times[i][1]), c.texts[i]) << i;
    }
}

}  // namespace
