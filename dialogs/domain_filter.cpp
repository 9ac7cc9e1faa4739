#include "dialogs/domain_filter.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "dbbuild/database_build.h"
#include "dialogs/console.h"
#include "policy/database_rebuild.h"
#include "resources/dialogs.h"
#include "resources/string_table.h"
#include "settings/file_catalogue.h"
#include "sitelists/site_list.h"
#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/help.h"
#include "ui/message_box.h"

namespace dialogs {
namespace {

constexpr int kRestrictedCombo = 1241;
constexpr int kApprovedCombo = 1242;
constexpr int kSaveButton = 1023;
constexpr int kDeleteButton = 1256;
constexpr int kCancelButton = 1021;
constexpr int kHelpButton = 1215;
constexpr int kAddButton = 1255;
constexpr ui::UINT kHelpContext = 128;

constexpr int kAlreadyApprovedString = 3123;
constexpr int kAlreadyRestrictedString = 3124;
constexpr int kTableFullString = 3151;
constexpr int kHighlightFirstString = 3041;
constexpr int kRebuildFailedString = 3161;
constexpr int kFileReadOnlyString = 5619;

// The longest text taken from an entry field.
constexpr std::size_t kMaxEntryText = 64;
constexpr std::size_t kDomainTableSize = sitelists::kDomainRecords * sitelists::kSlotSize;

enum class DomainList { kNone, kRestricted, kApproved };

struct DomainDialogState {
    DomainList current = DomainList::kNone;  // the list whose control spoke last
    int restrictedCount = 0;
    int approvedCount = 0;
};
DomainDialogState g_dialog;

int ComboId(DomainList list) {
    return list == DomainList::kRestricted ? kRestrictedCombo : kApprovedCombo;
}
DomainList Other(DomainList list) {
    return list == DomainList::kRestricted ? DomainList::kApproved : DomainList::kRestricted;
}
int& Count(DomainList list) {
    return list == DomainList::kRestricted ? g_dialog.restrictedCount : g_dialog.approvedCount;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

void Message(ui::HWND dialog, int stringId) {
    ui::MessageBox(dialog, resources::LoadStr(stringId),
                   resources::LoadStr(resources::kMessageCaptionString),
                   ui::MB_OK | ui::MB_ICONEXCLAMATION);
}

void Initialise(ui::HWND dialog) {
    Console().timerBusy = true;
    sitelists::LoadSiteList();
    g_dialog = DomainDialogState{};
    for (int id : {kRestrictedCombo, kApprovedCombo})
        ui::SendDlgItemMessage(dialog, id, ui::CB_LIMITTEXT, sitelists::kMaxDomainPart);
    for (int i = 0; i < sitelists::kDomainRecords; ++i) {
        const std::string part = sitelists::DomainPart(i);
        if (part.empty()) break;
        const DomainList list = sitelists::DomainKindAt(i) == sitelists::kDomainRestricted
                                    ? DomainList::kRestricted
                                    : DomainList::kApproved;
        ui::ComboAddString(ui::GetDlgItem(dialog, ComboId(list)), part);
        ++Count(list);
    }
    Console().timerBusy = false;
}

// Adds the text of the current list's entry field to that list. An empty text, or one the
// list already holds, changes nothing and says nothing (Save runs this for both lists).
void AddDomainPart(ui::HWND dialog) {
    const DomainList list = g_dialog.current;
    g_dialog.current = DomainList::kNone;
    if (list == DomainList::kNone) return;
    const ui::HWND combo = ui::GetDlgItem(dialog, ComboId(list));
    const ui::HWND other = ui::GetDlgItem(dialog, ComboId(Other(list)));
    const std::string text = Lower(ui::GetWindowText(combo).substr(0, kMaxEntryText));
    if (text.empty() || ui::ComboFindStringExact(combo, text) >= 0) return;

    if (Count(list) + 1 > sitelists::kDomainRecords - Count(Other(list))) {
        Message(dialog, kTableFullString);
        return;
    }
    if (ui::ComboFindStringExact(other, text) >= 0) {
        Message(dialog, list == DomainList::kRestricted ? kAlreadyApprovedString
                                                        : kAlreadyRestrictedString);
        return;
    }
    // The entry field holds no more than a record does; a longer text (put there other
    // than by typing) would not fit the record and is refused.
    if (text.size() > sitelists::kMaxDomainPart) {
        ui::MessageBeep(ui::MB_ICONEXCLAMATION);
        return;
    }
    ui::ComboAddString(combo, text);
    ++Count(list);
}

void DeleteDomainPart(ui::HWND dialog) {
    const DomainList list = g_dialog.current;
    g_dialog.current = DomainList::kNone;
    if (list == DomainList::kNone) {
        ui::MessageBeep(ui::MB_OK);
        Message(dialog, kHighlightFirstString);
        return;
    }
    const ui::HWND combo = ui::GetDlgItem(dialog, ComboId(list));
    const int selected = static_cast<int>(ui::SendMessage(combo, ui::CB_GETCURSEL));
    if (selected < 0) return;
    ui::SendMessage(combo, ui::CB_DELETESTRING, static_cast<ui::WPARAM>(selected));
    --Count(list);
    ui::SetWindowText(combo, "");
}

// Writes the parts of a list into the domain table from record `next` on, at most `room`.
void WriteParts(ui::HWND combo, std::uint8_t kind, int room, int& next) {
    const int items = std::min(ui::ComboCount(combo), room);
    for (int i = 0; i < items; ++i) {
        const std::string part = ui::ComboItemText(combo, i);
        if (!part.empty() && sitelists::SetDomainRecord(next, kind, part)) ++next;
    }
}

void Save(ui::HWND dialog) {
    g_dialog.current = DomainList::kRestricted;
    AddDomainPart(dialog);
    g_dialog.current = DomainList::kApproved;
    AddDomainPart(dialog);

    const std::span<std::uint8_t> table =
        sitelists::SiteListImage().subspan(sitelists::kDomainTable, kDomainTableSize);
    const std::vector<std::uint8_t> before(table.begin(), table.end());
    std::fill(table.begin(), table.end(), std::uint8_t{0});
    const ui::HWND restricted = ui::GetDlgItem(dialog, kRestrictedCombo);
    const ui::HWND approved = ui::GetDlgItem(dialog, kApprovedCombo);
    int next = 0;
    WriteParts(restricted, sitelists::kDomainRestricted, sitelists::kDomainRecords, next);
    WriteParts(approved, sitelists::kDomainApproved,
               sitelists::kDomainRecords - ui::ComboCount(restricted), next);

    // A file that cannot be written is said so; the image keeps what USER.LST holds, so
    // that no rebuild uses parts that were never saved.
    if (!sitelists::SaveSiteList()) {
        std::copy(before.begin(), before.end(), table.begin());
        const std::string text = resources::FormatText(
            resources::LoadStr(kFileReadOnlyString),
            settings::CatalogueFilePath(settings::kFileUserList));
        ui::MessageBox(dialog, text, resources::LoadStr(resources::kMessageCaptionString),
                       ui::MB_OK | ui::MB_ICONEXCLAMATION);
        return;
    }
    if (!policy::RebuildDatabases(dbbuild::NoneDatabases::kBuilt)) {
        Message(dialog, kRebuildFailedString);
        return;
    }
    ui::EndDialog(dialog, 1);
}

ui::INT_PTR DomainProc(ui::HWND dialog, ui::UINT message, ui::WPARAM wParam, ui::LPARAM) {
    switch (message) {
        case ui::WM_INITDIALOG:
            Initialise(dialog);
            return 1;
        case ui::WM_COMMAND:
            switch (ui::LOWORD(wParam)) {
                case kRestrictedCombo:
                    g_dialog.current = DomainList::kRestricted;
                    return 1;
                case kApprovedCombo:
                    g_dialog.current = DomainList::kApproved;
                    return 1;
                case kAddButton:
                    AddDomainPart(dialog);
                    return 1;
                case kDeleteButton:
                    DeleteDomainPart(dialog);
                    return 1;
                case kHelpButton:
                    g_dialog.current = DomainList::kNone;
                    ui::WinHelp(dialog, kHelpFile, kHelpContext);
                    return 1;
                case kSaveButton:
                    Save(dialog);
                    return 1;
                case kCancelButton:
                case ui::IDCANCEL:
                    ui::EndDialog(dialog, 1);
                    return 1;
                default:
                    return 0;
            }
        default:
            return 0;
    }
}

}  // namespace

ui::INT_PTR RunDomainDialog(ui::HWND owner) {
    return RunDialogResource("DOMAIN", owner, DomainProc) == 1 ? 1 : 0;
}

}  // namespace dialogs
