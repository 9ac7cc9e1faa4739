#include "dialogs/headquarters.h"

#include <dlfcn.h>

#include <array>
#include <cstdio>
#include <memory>

#include "dialogs/about_box.h"
#include "dialogs/console.h"
#include "dialogs/domain_filter.h"
#include "dialogs/web_sites.h"
#include "dialogs/work_hours.h"
#include "platform/locations.h"
#include "platform/process_state.h"
#include "platform/profile.h"
#include "policy/database_rebuild.h"
#include "policy/policy.h"
#include "resources/dialogs.h"
#include "resources/string_table.h"
#include "settings/file_catalogue.h"
#include "settings/settings_store.h"
#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/gdi.h"
#include "ui/help.h"
#include "ui/message_box.h"
#include "ui/window.h"
#include "update/list_update.h"

namespace dialogs {
namespace {

using namespace ui;

// Controls of "SURF".
enum : int {
    kWebFilteredButton = 530,
    kWebFullButton = 531,
    kWebNoneButton = 532,
    kUpdateListsButton = 1024,
    kSaveButton = 1201,
    kHelpButton = 1215,
    kProxyButton = 1216,
    kWebSitesButton = 1221,
    kDomainsButton = 1223,
    kStatusLine = 1231,
    kBitmapButton = 1237,
    kListDate = 1240,
    kWorkTimeButton = 1261,
    kLeisureTimeButton = 1262,
    kLastUpdatedLabel = 7007,
    kChangeHoursButton = 7055,
    kCategoryGroup = 7153,
    kListChoice = 7163,
    kWorkFrame = 7177,
    kLeisureFrame = 7178,
    kGroupsButton = 8000,
    kFirstCategoryBox = 10001,  // box of category bit i: kFirstCategoryBox + i
};
// Controls of "PROXY".
enum : int { kProxyAddressEdit = 1039, kProxyPortEdit = 1126, kProxyCancelButton = 1021 };

// Texts of the string table.
enum : int {
    kRestrictedLastUpdated = 1653,
    kApprovedLastUpdated = 1654,
    kRestrictedUpdateLists = 1655,
    kApprovedUpdateLists = 1656,
    kApprovedCategoryNames = 1657,    // 1657..1672, bit 0 first
    kRestrictedCategoryNames = 1699,  // 1699..1714
    kRestrictedListItem = 1693,
    kApprovedListItem = 1694,
    kRestrictedWorkTitle = 2333,
    kApprovedWorkTitle = 2334,
    kRestrictedLeisureTitle = 2336,
    kApprovedLeisureTitle = 2337,
    kStatusText = 3058,
    kAbandonQuestion = 3155,
    kAdditionalApprovalsItem = 3162,
    kAdditionalRestrictionsItem = 3163,
    kLibraryMissing = 8300,
    kEntryMissing = 8301,
};

constexpr UINT kHeadquartersHelpContext = 999;
constexpr UINT kProxyHelpContext = 135;
constexpr std::size_t kProxyFieldLength = 79;
constexpr std::size_t kShortDatePatternLength = 201;
constexpr int kCategoryCount = 16;

// What the Headquarters dialog keeps while it is open.
struct HeadquartersState {
    // The list selection of the viewed period when it was last taken (opening, period
    // switch, Save): what an abandoned edit puts back.
    int savedSelection = 0;
    bool changesPending = false;
};
HeadquartersState g_hq;
void ResetHeadquarters() {
    g_hq = HeadquartersState{};
}
const platform::StateReset kResetHeadquarters{platform::StateLayer::kDialogs, &ResetHeadquarters};

policy::FilterPolicy& Model() {
    return policy::Policy().policy;
}
Period ViewedPeriod() {
    return Model().leisureNow ? Period::kLeisure : Period::kWork;
}

// The stored list selection of a period (NormalVeldaYES / LeisureVeldaYES), as text.
std::string ListSelectionText(Period period) {
    return settings::ReadTableSetting(period == Period::kWork ? settings::kKeyNormalVeldaYes
                                                              : settings::kKeyLeisureVeldaYes);
}
int ListSelection(Period period) {
    return static_cast<int>(settings::DecimalValue(ListSelectionText(period)));
}
int ModelListSelection(Period period) {
    return static_cast<int>(period == Period::kWork ? Model().workList : Model().leisureList);
}

int ShownSelection(HWND dialog) {
    return static_cast<int>(SendDlgItemMessage(dialog, kListChoice, CB_GETCURSEL));
}

void Show(HWND owner, int textId, UINT icon) {
    MessageBox(owner, resources::LoadStr(textId),
               resources::LoadStr(resources::kMessageCaptionString), MB_OK | icon);
}

// The dialog's height so that the category group hides (additional-only) or shows again.
void FitCategoryGroup(HWND dialog, bool additionalOnly) {
    RECT d, g;
    GetWindowRect(dialog, d);
    GetWindowRect(GetDlgItem(dialog, kCategoryGroup), g);
    const int over = d.bottom - g.top - 5;
    int height = d.height();
    if (additionalOnly && over >= 0)
        height -= over;
    else if (!additionalOnly && over < 1)
        height += g.height() + 4;
    SetWindowPos(dialog, HWND_TOP, 0, 0, d.width(), height, SWP_NOMOVE | SWP_NOZORDER);
    ShowWindow(dialog, SW_SHOW);
}

void ViewPeriod(HWND dialog, Period period) {
    ShowListInfo(dialog, period);
    ShowPeriodSettings(dialog, period);
}

// Asked before every action that leaves the edit: true when the action may go on. An
// abandoned edit puts the saved list selection back in the settings and on the screen.
bool AbandonCheck(HWND dialog) {
    if (!g_hq.changesPending) return true;
    if (MessageBox(dialog, resources::LoadStr(kAbandonQuestion),
                   resources::LoadStr(resources::kMessageCaptionString),
                   MB_YESNO | MB_ICONQUESTION) != IDYES)
        return false;
    const bool listChanged = ShownSelection(dialog) != g_hq.savedSelection;
    if (listChanged) policy::SelectListForPeriod(dialog, g_hq.savedSelection);
    g_hq.changesPending = false;
    EnableWindow(GetDlgItem(dialog, kSaveButton), FALSE);
    if (listChanged) ShowListInfo(dialog, ViewedPeriod());
    ShowPeriodSettings(dialog, ViewedPeriod());
    return true;
}

void SwitchPeriod(HWND dialog, Period to) {
    const int previousButton = to == Period::kWork ? kLeisureTimeButton : kWorkTimeButton;
    if (!AbandonCheck(dialog)) {
        CheckRadioButton(dialog, kWorkTimeButton, kLeisureTimeButton, previousButton);
        return;
    }
    Model().leisureNow = to == Period::kLeisure ? 1 : 0;
    SetWaitCursor(true);
    ViewPeriod(dialog, to);
    g_hq.savedSelection = ModelListSelection(to);
    SetWaitCursor(false);
}

void Save(HWND dialog) {
    policy::PeriodChoices choices;
    choices.noneButton = IsDlgButtonChecked(dialog, kWebNoneButton) == BST_CHECKED;
    choices.fullButton = IsDlgButtonChecked(dialog, kWebFullButton) == BST_CHECKED;
    for (int i = 0; i < kCategoryCount; ++i)
        choices.categories[i] = IsDlgButtonChecked(dialog, kFirstCategoryBox + i) == BST_CHECKED;
    if (ViewedPeriod() == Period::kLeisure)
        policy::StoreLeisureChoices(choices);
    else
        policy::StoreWorkChoices(choices);
    EnableWindow(GetDlgItem(dialog, kSaveButton), FALSE);
    g_hq.savedSelection = ShownSelection(dialog);
    if (g_hq.changesPending) {
        if (!policy::PublishPolicy({.values = true})) {
            // Nothing reached the filter: the edit stays pending, Save stays offered.
            ReportSettingsNotSaved(dialog);
            EnableWindow(GetDlgItem(dialog, kSaveButton), TRUE);
            return;
        }
        g_hq.changesPending = false;
        CallPrivacyProfile(dialog, kPrivacyProfileMaskEntry);
    }
}

void ListChoiceChanged(HWND dialog) {
    const int s = ShownSelection(dialog);
    HWND save = GetDlgItem(dialog, kSaveButton);
    if (!IsWindowEnabled(save)) EnableWindow(save, s != g_hq.savedSelection);
    if (!g_hq.changesPending) g_hq.changesPending = s != g_hq.savedSelection;
    policy::SelectListForPeriod(dialog, s);
    ViewPeriod(dialog, ViewedPeriod());
}

int RebuildAfterUpdate(dbbuild::NoneDatabases none) {
    return policy::RebuildDatabases(none);
}

// The bitmap button: the bitmap copied onto a gray ground at the item's top-left corner.
void DrawBitmapButton(const DRAWITEMSTRUCT& item) {
    const HBITMAP bitmap = LoadBitmapResource("VELDABMP");
    FillRect(item.hdc, item.rcItem, GetStockObject(GRAY_BRUSH));
    if (bitmap) DrawBitmap(item.hdc, item.rcItem.left, item.rcItem.top, bitmap);
}

void InitHeadquarters(HWND dialog) {
    RestoreDialogPosition(dialog);
    ConsoleState& console = Console();
    console.timerBusy = true;
    console.headquartersWindow = dialog;
    g_hq = HeadquartersState{};

    const Period viewed = ViewedPeriod();
    CheckRadioButton(dialog, kWorkTimeButton, kLeisureTimeButton,
                     viewed == Period::kLeisure ? kLeisureTimeButton : kWorkTimeButton);
    ShowPeriodSettings(dialog, viewed);
    SetDlgItemText(dialog, kStatusLine, resources::LoadStr(kStatusText));

    HWND list = GetDlgItem(dialog, kListChoice);
    EnableWindow(list, TRUE);
    ShowWindow(list, SW_SHOW);
    SendMessage(list, CB_RESETCONTENT);
    for (int text : {kRestrictedListItem, kApprovedListItem, kAdditionalRestrictionsItem,
                     kAdditionalApprovalsItem})
        ComboAddString(list, resources::LoadStr(text));

    g_hq.savedSelection = ModelListSelection(viewed);
    ShowListInfo(dialog, viewed);
    EnableWindow(GetDlgItem(dialog, kSaveButton), FALSE);
    g_hq.changesPending = false;
    RefreshPeriod(dialog);
    console.timerBusy = false;
}

void HeadquartersCommand(HWND dialog, int id, int code) {
    const bool categoryBox = id >= kFirstCategoryBox && id < kFirstCategoryBox + kCategoryCount;
    if (id == kWebFilteredButton || id == kWebFullButton || id == kWebNoneButton || categoryBox) {
        if (code != BN_CLICKED) return;
        EnableWindow(GetDlgItem(dialog, kSaveButton), TRUE);
        g_hq.changesPending = true;
        return;
    }
    switch (id) {
        case kListChoice:
            if (code == CBN_SELCHANGE) ListChoiceChanged(dialog);
            return;
        case kSaveButton:
            Save(dialog);
            return;
        case kWorkTimeButton:
            if (ViewedPeriod() == Period::kLeisure &&
                IsDlgButtonChecked(dialog, kWorkTimeButton) == BST_CHECKED)
                SwitchPeriod(dialog, Period::kWork);
            return;
        case kLeisureTimeButton:
            if (ViewedPeriod() == Period::kWork &&
                IsDlgButtonChecked(dialog, kLeisureTimeButton) == BST_CHECKED)
                SwitchPeriod(dialog, Period::kLeisure);
            return;
        case kUpdateListsButton:
            if (!AbandonCheck(dialog)) return;
            update::UpdateAllLists(dialog, update::UpdateStart::kByAdministrator,
                                   RebuildAfterUpdate);
            ShowListInfo(dialog, ViewedPeriod());
            return;
        case kWebSitesButton:
        case kDomainsButton: {
            if (!AbandonCheck(dialog)) return;
            const INT_PTR done =
                id == kWebSitesButton ? RunWebSitesDialog(dialog) : RunDomainDialog(dialog);
            if (done != 0) {
                ViewPeriod(dialog, ViewedPeriod());
                CheckRadioButton(
                    dialog, kWorkTimeButton, kLeisureTimeButton,
                    ViewedPeriod() == Period::kLeisure ? kLeisureTimeButton : kWorkTimeButton);
            }
            return;
        }
        case kChangeHoursButton:
            if (!AbandonCheck(dialog)) return;
            if (RunWorkHoursDialog(dialog) != 0) {
                policy::PublishPolicy({.values = true});
                RefreshPeriod(dialog);
            }
            return;
        case kGroupsButton:
            if (AbandonCheck(dialog)) CallPrivacyProfile(dialog, kPrivacyProfileDialogEntry);
            return;
        case kProxyButton:
            RunProxyDialog(dialog);
            return;
        case kBitmapButton:
            RunAboutBox(Console().mainWindow);
            return;
        case kHelpButton:
            WinHelp(dialog, kHelpFile, kHeadquartersHelpContext);
            return;
        case IDCANCEL:
            if (!AbandonCheck(dialog)) return;
            EndDialog(dialog, 0);
            Console().headquartersWindow = 0;
            return;
        default:
            return;
    }
}

INT_PTR HeadquartersProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            InitHeadquarters(dialog);
            return TRUE;
        case WM_COMMAND:
            HeadquartersCommand(dialog, LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_CLOSE:
            // The close button stores the position; the dialog manager then sends Cancel,
            // which may still keep the dialog open.
            SaveDialogPosition(dialog);
            return FALSE;
        case WM_SYSCOLORCHANGE:
            InvalidateRect(dialog, nullptr, TRUE);
            return TRUE;
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (!item || item->ctlId != static_cast<UINT>(kBitmapButton)) return FALSE;
            DrawBitmapButton(*item);
            return TRUE;
        }
        default:
            return FALSE;
    }
}

INT_PTR ProxyProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: {
            RestoreDialogPosition(dialog);
            Console().timerBusy = true;
            for (auto [edit, key] : {std::pair{kProxyAddressEdit, settings::kKeyProxyServer},
                                     std::pair{kProxyPortEdit, settings::kKeyProxyPort}}) {
                SendDlgItemMessage(dialog, edit, EM_LIMITTEXT, kProxyFieldLength);
                SetDlgItemText(dialog, edit,
                               settings::ReadSetting(key, {}, "").substr(0, kProxyFieldLength));
            }
            Console().timerBusy = false;
            SetFocus(GetDlgItem(dialog, kProxyAddressEdit));
            return FALSE;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case kSaveButton: {
                    // No check of the address or the port: an empty field deletes its setting
                    // (a delete of a value that is not there fails, and that is no failure).
                    bool stored = true;
                    for (const auto& [key, edit] : {std::pair{settings::kKeyProxyServer, kProxyAddressEdit},
                                                   std::pair{settings::kKeyProxyPort, kProxyPortEdit}}) {
                        const std::string text =
                            GetDlgItemText(dialog, edit).substr(0, kProxyFieldLength);
                        if (!settings::WriteSetting(key, {}, text) && !text.empty()) stored = false;
                    }
                    if (!stored) {
                        ReportSettingsNotSaved(dialog);
                        return TRUE;
                    }
                    EndDialog(dialog, 1);
                    return TRUE;
                }
                case kProxyCancelButton:
                case IDCANCEL:
                    EndDialog(dialog, 0);
                    return TRUE;
                case kHelpButton:
                    WinHelp(dialog, kHelpFile, kProxyHelpContext);
                    return TRUE;
                default:
                    return FALSE;
            }
        default:
            return FALSE;
    }
}

// One run of pattern letters of FormatShortDate written out.
void WriteDateRun(std::string& out, char kind, int count, int day, int month, int year) {
    char text[16] = "";
    const int value = kind == 'd' ? day : month;
    if (kind == 'y') {
        if (count == 2)
            std::snprintf(text, sizeof text, "%02d", year % 100);
        else
            std::snprintf(text, sizeof text, "%04d", year);
    } else if (count == 1) {
        std::snprintf(text, sizeof text, "%d", value);
    } else if (count == 2) {
        std::snprintf(text, sizeof text, "%02d", value);
    }  // longer day and month runs (names) write nothing
    out += text;
}

// The run a pattern character belongs to: 'd', 'M' or 'y' (either case), 0 for the others.
char RunKind(char c) {
    switch (c) {
        case 'd':
        case 'D':
            return 'd';
        case 'm':
        case 'M':
            return 'm';
        case 'y':
        case 'Y':
            return 'y';
        default:
            return 0;
    }
}

struct LibraryCloser {
    void operator()(void* library) const { dlclose(library); }
};

}  // namespace

ui::INT_PTR RunHeadquartersDialog(ui::HWND owner) {
    const INT_PTR result = RunDialogResource("SURF", owner, HeadquartersProc);
    Console().headquartersWindow = 0;
    return result < 0 ? 0 : result;
}

void RefreshPeriod(ui::HWND headquarters) {
    if (!headquarters || !IsWindow(headquarters)) return;
    const Period now = policy::IsLeisureTimeNow() ? Period::kLeisure : Period::kWork;
    ShowWindow(GetDlgItem(headquarters, kLeisureFrame),
               now == Period::kLeisure ? SW_SHOW : SW_HIDE);
    ShowWindow(GetDlgItem(headquarters, kWorkFrame), now == Period::kWork ? SW_SHOW : SW_HIDE);
    // Unsaved edits belong to the viewed period: the switch waits for their Save or abandon.
    if (now == ViewedPeriod() || g_hq.changesPending) return;
    Model().leisureNow = now == Period::kLeisure ? 1 : 0;
    ViewPeriod(headquarters, now);
    // The new period's selection is what an abandoned edit of it puts back, and its button
    // shows which period the dialog now edits.
    g_hq.savedSelection = ModelListSelection(now);
    CheckRadioButton(headquarters, kWorkTimeButton, kLeisureTimeButton,
                     now == Period::kLeisure ? kLeisureTimeButton : kWorkTimeButton);
}

void ShowListInfo(ui::HWND dialog, Period period) {
    const int selection = ListSelection(period);
    const bool approved = selection == static_cast<int>(policy::kListApproved);
    SetDlgItemText(dialog, kLastUpdatedLabel,
                   resources::LoadStr(approved ? kApprovedLastUpdated : kRestrictedLastUpdated));
    SetDlgItemText(dialog, kUpdateListsButton,
                   resources::LoadStr(approved ? kApprovedUpdateLists : kRestrictedUpdateLists));
    const int date = settings::OpenCatalogueFile(
        approved ? settings::kFileVeldaYes : settings::kFileVeldaNot, settings::kModeDate);
    EnableWindow(GetDlgItem(dialog, kUpdateListsButton), TRUE);
    EnableWindow(GetDlgItem(dialog, kLastUpdatedLabel), TRUE);
    SendDlgItemMessage(dialog, kListChoice, CB_SETCURSEL, static_cast<WPARAM>(selection));
    SetDlgItemText(dialog, kListDate,
                   date > 0
                       ? FormatDosDate(static_cast<std::uint16_t>(date), DosDateStyle::kShortDate)
                       : std::string("Unknown"));
}

void ShowPeriodSettings(ui::HWND dialog, Period period) {
    const bool work = period == Period::kWork;
    const std::uint16_t web = work ? Model().workWeb : Model().leisureWeb;
    CheckRadioButton(dialog, kWebFilteredButton, kWebNoneButton,
                     web == policy::kWebNone   ? kWebNoneButton
                     : web == policy::kWebFull ? kWebFullButton
                                               : kWebFilteredButton);

    const std::string selection = ListSelectionText(period);
    const bool additionalOnly = settings::DecimalValue(selection) > 1;
    EnableWindow(GetDlgItem(dialog, kCategoryGroup), !additionalOnly);
    FitCategoryGroup(dialog, additionalOnly);

    const bool approved = !selection.empty() && (selection[0] == '1' || selection[0] == '3');
    const int title = approved ? (work ? kApprovedWorkTitle : kApprovedLeisureTitle)
                               : (work ? kRestrictedWorkTitle : kRestrictedLeisureTitle);
    SetDlgItemText(dialog, kCategoryGroup, resources::LoadStr(title));
    const std::uint16_t mask = work ? Model().workMask : Model().leisureMask;
    for (int i = 0; i < kCategoryCount; ++i) {
        const int box = kFirstCategoryBox + i;
        SetDlgItemText(
            dialog, box,
            resources::LoadStr((approved ? kApprovedCategoryNames : kRestrictedCategoryNames) + i));
        if (approved) {
            CheckDlgButton(dialog, box, BST_CHECKED);
            EnableWindow(GetDlgItem(dialog, box), FALSE);
            continue;
        }
        CheckDlgButton(dialog, box, (mask >> i) & 1u ? BST_CHECKED : BST_UNCHECKED);
        // Bits 13 and 14 are reserved on the restricted list.
        const bool reserved = i == 13 || i == 14;
        EnableWindow(GetDlgItem(dialog, box), !additionalOnly && !reserved);
    }
}

ui::INT_PTR RunProxyDialog(ui::HWND owner) {
    const INT_PTR result = RunDialogResource("PROXY", owner, ProxyProc);
    return result < 0 ? 0 : result;
}

std::string FormatShortDate(int day, int month, int year) {
    const std::string pattern =
        platform::GetProfileString("intl", "sShortDate", "").substr(0, kShortDatePatternLength - 1);
    char text[48];
    if (pattern.empty()) {
        std::snprintf(text, sizeof text, year < 10 ? "%d/%d/0%d" : "%d/%d/%d", month, day, year);
        return text;
    }
    if (year < 1900) year += 1900;
    // A run of one letter ends at the first character that is not that letter, so that
    // patterns without separators ("yyyyMMdd") come out whole and in their own order.
    std::string out;
    char run = 0;
    int count = 0;
    for (const char c : pattern) {
        const char kind = RunKind(c);
        if (kind != 0 && kind == run) {
            ++count;
            continue;
        }
        if (run != 0) WriteDateRun(out, run, count, day, month, year);
        run = kind;
        count = kind != 0 ? 1 : 0;
        if (kind == 0) out += c;
    }
    if (run != 0) WriteDateRun(out, run, count, day, month, year);
    return out;
}

std::string FormatDosDate(std::uint16_t value, DosDateStyle style) {
    const int high = value >> 9, middle = (value >> 5) & 0x0F, low = value & 0x1F;
    char text[32];
    switch (style) {
        case DosDateStyle::kShortDate:
            return FormatShortDate(low, middle, 1980 + high);
        case DosDateStyle::kDigits:
            std::snprintf(text, sizeof text, "%04d%02d%02d", 1980 + high, middle, low);
            return text;
        case DosDateStyle::kTimeDigits:
            std::snprintf(text, sizeof text, "%02d%02d%02d", value >> 11, (value >> 5) & 0x3F,
                          2 * low);
            return text;
    }
    return {};
}

void CallPrivacyProfile(ui::HWND owner, std::string_view entry) {
    const std::string path = platform::ProgramDirectory() + "/" + kPrivacyProfileLibrary;
    const std::unique_ptr<void, LibraryCloser> library(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!library) {
        Show(owner, kLibraryMissing, MB_ICONSTOP);
        return;
    }
    auto* call =
        reinterpret_cast<PrivacyProfileEntry*>(dlsym(library.get(), std::string(entry).c_str()));
    if (!call) {
        Show(owner, kEntryMissing, MB_ICONSTOP);
        return;
    }
    const policy::FilterPolicy& p = Model();
    auto word = [](std::uint32_t list, std::uint16_t web, std::uint16_t mask) {
        return (list * 256u + web) * 65536u + mask;
    };
    std::array<std::uint32_t, 2> words = {word(p.workList, p.workWeb, p.workMask),
                                          word(p.leisureList, p.leisureWeb, p.leisureMask)};
    call(owner, words.data());
}

}  // namespace dialogs
