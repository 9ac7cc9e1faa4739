#include "dialogs/web_sites.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "dialogs/console.h"
#include "platform/files.h"
#include "platform/process_state.h"
#include "policy/database_rebuild.h"
#include "policy/policy.h"
#include "resolve/resolvers.h"
#include "resolve/socket_library.h"
#include "resources/dialogs.h"
#include "resources/string_table.h"
#include "settings/file_catalogue.h"
#include "settings/settings_store.h"
#include "sitelists/site_entries.h"
#include "sitelists/site_list.h"
#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/help.h"
#include "ui/message_box.h"

namespace dialogs {
namespace {

using sitelists::SiteList;

constexpr int kRestrictedListId = 1241;
constexpr int kApprovedListId = 1242;
constexpr int kLogSitesId = 1404;
constexpr int kResolveAllId = 1405;
constexpr int kRedirectId = 1039;
constexpr int kSaveId = 1023;
constexpr int kDeleteId = 1256;
constexpr int kCancelId = 1021;
constexpr int kHelpId = 1215;
constexpr int kAddId = 1255;  // the hidden default button: Enter in an entry field

constexpr int kHelpContext = 105;
constexpr int kMaxAdded = 512;             // entries the dialog lets a list grow to
constexpr std::size_t kMaxEntryText = 63;  // a name slot's text
constexpr std::size_t kMaxRedirectText = 63;
constexpr std::string_view kDefaultScheme = "http://";

constexpr int kHighlightFirstString = 3041;
constexpr int kCannotResolveString = 3044;
constexpr int kNoBlockPageString = 3159;
constexpr int kRebuildFailedString = 3161;

// One of the two lists: its control, its region of the store and its messages.
struct ListInfo {
    int controlId;
    SiteList store;
    int fullString;     // the maximum is reached
    int presentString;  // "This entry was already added to ..." this list
};
constexpr std::array<ListInfo, 2> kLists = {{
    {kRestrictedListId, SiteList::kRestricted, 3042, 3124},
    {kApprovedListId, SiteList::kApproved, 3043, 3123},
}};

enum class CurrentList { kNone, kRestricted, kApproved };

struct WebSitesState {
    ui::HWND dialog = 0;
    CurrentList current = CurrentList::kNone;
    std::array<int, 2> counts{};  // items of the restricted and the approved list
    bool saving = false;          // Save runs (it dispatches messages while it resolves)
};
WebSitesState g_state;

void ResetWebSitesDialog() {
    g_state = WebSitesState{};
}
const platform::StateReset kResetWebSites{platform::StateLayer::kDialogs, &ResetWebSitesDialog};

int IndexOf(CurrentList list) {
    return list == CurrentList::kRestricted ? 0 : 1;
}
ui::HWND ListControl(int index) {
    return ui::GetDlgItem(g_state.dialog, kLists[static_cast<std::size_t>(index)].controlId);
}

std::string LowerCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return text;
}

void Message(int text, ui::UINT icon = ui::MB_ICONEXCLAMATION) {
    ui::MessageBox(g_state.dialog, resources::LoadStr(text),
                   resources::LoadStr(resources::kMessageCaptionString), ui::MB_OK | icon);
}

bool ListHolds(int index, std::string_view text) {
    return ui::ComboFindStringExact(ListControl(index), text) >= 0;
}

// The full path of an existing file named by `text`, when it fits a name slot.
bool FileEntry(std::string& text) {
    std::string path = text;
    if (!settings::ResolveFilePath(path)) return false;
    if (path.size() <= kMaxEntryText) text = LowerCase(path);
    // A longer path cannot be stored: the name as given still finds the file.
    return true;
}

void AddItem(int index, std::string_view text, std::uint32_t address) {
    ui::HWND list = ListControl(index);
    int at = ui::ComboAddString(list, text);
    if (at >= 0) ui::SendMessage(list, ui::CB_SETITEMDATA, static_cast<ui::WPARAM>(at), address);
}

// Fills both lists from the store, each from block 1 and then block 2.
void FillLists() {
    platform::FileSearchSnapshot directories;
    for (int index = 0; index < 2; ++index) {
        const SiteList store = kLists[static_cast<std::size_t>(index)].store;
        int count = 0;
        for (int block = 0; block < 2; ++block) {
            for (int slot = 0; slot < sitelists::kSlotsPerBlock; ++slot) {
                const int entry = block * sitelists::kSlotsPerBlock + slot;
                std::string text = sitelists::SiteName(store, entry);
                if (text.empty()) break;
                if (FileEntry(text))
                    sitelists::SetSiteName(store, entry, text);
                else
                    sitelists::StripScheme(text);
                AddItem(index, text, sitelists::SiteAddress(store, entry));
                ++count;
            }
        }
        g_state.counts[static_cast<std::size_t>(index)] = count;
    }
}

void OnInitDialog(ui::HWND dialog) {
    g_state = WebSitesState{};
    g_state.dialog = dialog;
    Console().timerBusy = true;
    const policy::FilterPolicy& model = policy::Policy().policy;
    ui::CheckDlgButton(dialog, kLogSitesId, model.logSites ? ui::BST_CHECKED : ui::BST_UNCHECKED);
    ui::SendDlgItemMessage(dialog, kRedirectId, ui::EM_LIMITTEXT, kMaxRedirectText);
    ui::SetDlgItemText(dialog, kRedirectId, model.redirectPage);
    sitelists::LoadSiteList();
    FillLists();
    for (const ListInfo& list : kLists)
        ui::SendDlgItemMessage(dialog, list.controlId, ui::CB_LIMITTEXT, kMaxEntryText);
    Console().timerBusy = false;
}

enum class AddResult { kAdded, kNothing, kRefused };

// Adds the text of the current list's entry field to that list.
AddResult Add() {
    if (g_state.current == CurrentList::kNone) return AddResult::kNothing;
    const int self = IndexOf(g_state.current);
    const int other = 1 - self;
    const ListInfo& info = kLists[static_cast<std::size_t>(self)];
    std::string text = ui::GetDlgItemText(g_state.dialog, info.controlId).substr(0, 64);
    if (text.empty()) return AddResult::kNothing;
    if (g_state.counts[static_cast<std::size_t>(self)] + 1 > kMaxAdded) {
        Message(info.fullString);
        return AddResult::kRefused;
    }
    // Whether `candidate` is in a list already, with that list's message.
    auto present = [&](std::string_view candidate) {
        for (int index : {other, self}) {
            if (ListHolds(index, candidate)) {
                Message(kLists[static_cast<std::size_t>(index)].presentString);
                return true;
            }
        }
        return false;
    };
    if (present(text)) return AddResult::kRefused;

    std::uint32_t address = 0;
    if (!FileEntry(text)) {
        sitelists::StripScheme(text);
        text = LowerCase(text.substr(0, kMaxEntryText));
        // Another spelling of an entry that is there already.
        if (present(text)) return AddResult::kRefused;
        if (!resolve::ResolveEntry(text, address)) {
            Message(kCannotResolveString, 0);
            return AddResult::kRefused;
        }
    } else if (present(text)) {
        return AddResult::kRefused;
    }
    AddItem(self, text, address);
    ++g_state.counts[static_cast<std::size_t>(self)];
    ui::SetDlgItemText(g_state.dialog, info.controlId, "");
    g_state.current = CurrentList::kNone;
    return AddResult::kAdded;
}

void Delete() {
    if (g_state.current == CurrentList::kNone) {
        ui::MessageBeep(0);
        Message(kHighlightFirstString);
        return;
    }
    const int index = IndexOf(g_state.current);
    g_state.current = CurrentList::kNone;
    ui::HWND list = ListControl(index);
    const int selected = ui::ComboSelection(list);
    if (selected < 0) return;
    ui::SendMessage(list, ui::CB_DELETESTRING, static_cast<ui::WPARAM>(selected));
    --g_state.counts[static_cast<std::size_t>(index)];
    ui::SetWindowText(list, "");
}

// Writes a list into its four regions of the store, in the list's (sorted) order.
void StoreList(int index) {
    const SiteList store = kLists[static_cast<std::size_t>(index)].store;
    std::span<std::uint8_t> image = sitelists::SiteListImage();
    for (int block = 0; block < 2; ++block) {
        const int first = block * sitelists::kSlotsPerBlock;
        std::fill_n(
            image.begin() + static_cast<std::ptrdiff_t>(sitelists::SiteNameOffset(store, first)),
            sitelists::kSlotsPerBlock * sitelists::kSlotSize, 0);
        std::fill_n(
            image.begin() + static_cast<std::ptrdiff_t>(sitelists::SiteAddressOffset(store, first)),
            sitelists::kSlotsPerBlock * 4, 0);
    }
    ui::HWND list = ListControl(index);
    const int count = std::min({g_state.counts[static_cast<std::size_t>(index)],
                                ui::ComboCount(list), sitelists::kEntriesPerList});
    for (int i = 0; i < count; ++i) {
        std::string text = ui::ComboItemText(list, i);
        if (std::string path = text; !settings::ResolveFilePath(path)) sitelists::StripScheme(text);
        sitelists::SetSiteName(store, i, text);
        sitelists::SetSiteAddress(store, i,
                                  static_cast<std::uint32_t>(ui::SendMessage(
                                      list, ui::CB_GETITEMDATA, static_cast<ui::WPARAM>(i))));
    }
}

// The block page as typed, with "http://" in front when it names no scheme; empty when
// it is too short to be one or too long for the page.
std::string BlockPage() {
    std::string page = ui::GetDlgItemText(g_state.dialog, kRedirectId).substr(0, kMaxRedirectText);
    if (page.find("://") == std::string::npos) page = std::string(kDefaultScheme) + page;
    if (page.size() <= kDefaultScheme.size() || page.size() > kMaxRedirectText) return {};
    return page;
}

void Save() {
    // Text typed but not entered is added first; a refused entry keeps the dialog open.
    for (CurrentList list : {CurrentList::kRestricted, CurrentList::kApproved}) {
        g_state.current = list;
        if (Add() == AddResult::kRefused) {
            g_state.current = CurrentList::kNone;
            return;
        }
    }
    g_state.current = CurrentList::kNone;

    const std::string page = BlockPage();
    if (page.empty()) {
        Message(kNoBlockPageString, 0);
        return;
    }
    policy::FilterPolicy& model = policy::Policy().policy;
    model.redirectPage = page;
    settings::WriteSetting(settings::kKeyRedirectedSite, {}, page);

    const bool anySite = g_state.counts[0] > 0 || g_state.counts[1] > 0;
    const bool resolving =
        ui::IsDlgButtonChecked(g_state.dialog, kResolveAllId) == ui::BST_CHECKED ||
        (anySite &&
         settings::OpenCatalogueFile(settings::kFileIpAddrList, settings::kModeExists) <= 0);
    if (resolving && !resolve::SocketLibrary().SocketLibraryHandle &&
        !resolve::LoadSocketLibrary()) {
        ui::MessageBox(0, resources::LoadStr(resources::kNotRespondingString),
                       resources::LoadStr(resources::kWinsockErrorString), ui::MB_OK);
        return;
    }
    settings::WriteSetting(settings::kKeyWebSitesOption, {}, "0");

    {
        platform::FileSearchSnapshot directories;
        StoreList(0);
        StoreList(1);
    }
    if (resolving) resolve::ResolveAllSites();
    // USER.LST not written is a failed save: the databases are not rebuilt from it.
    if (!sitelists::SaveSiteList()) {
        Message(kRebuildFailedString);
        return;
    }
    const bool logSites = ui::IsDlgButtonChecked(g_state.dialog, kLogSitesId) == ui::BST_CHECKED;
    model.logSites = logSites ? 1 : 0;
    settings::WriteSetting(settings::kKeyLogSites, {}, logSites ? "1" : "0");

    if (!policy::RebuildDatabases(dbbuild::NoneDatabases::kBuilt)) {
        Message(kRebuildFailedString);
        return;
    }
    settings::WriteSetting(settings::kKeyApprovedEntries, {}, "0");
    settings::WriteSetting(settings::kKeyRestrictedEntries, {}, "0");
    resolve::UnloadSocketLibrary();
    ui::EndDialog(g_state.dialog, 1);
}

void Cancel() {
    if (resolve::SocketLibrary().SocketLibraryHandle) resolve::UnloadSocketLibrary();
    ui::EndDialog(g_state.dialog, 0);
}

void OnCommand(int id) {
    switch (id) {
        case kRestrictedListId:
            g_state.current = CurrentList::kRestricted;
            return;
        case kApprovedListId:
            g_state.current = CurrentList::kApproved;
            return;
    }
    // Save dispatches messages while it resolves and builds: nothing else runs meanwhile.
    if (g_state.saving) return;
    switch (id) {
        case kAddId:
            Add();
            g_state.current = CurrentList::kNone;
            return;
        case kDeleteId:
            Delete();
            return;
        case kHelpId:
            g_state.current = CurrentList::kNone;
            ui::WinHelp(g_state.dialog, kHelpFile, kHelpContext);
            return;
        case kSaveId:
            g_state.saving = true;
            Save();
            g_state.saving = false;
            return;
        case kCancelId:
        case ui::IDCANCEL:  // Escape and the close command
            Cancel();
            return;
    }
}

ui::INT_PTR WebSitesProc(ui::HWND dialog, ui::UINT message, ui::WPARAM wParam, ui::LPARAM) {
    switch (message) {
        case ui::WM_INITDIALOG:
            OnInitDialog(dialog);
            return 1;
        case ui::WM_COMMAND:
            OnCommand(ui::LOWORD(wParam));
            return 1;
        default:
            return 0;
    }
}

}  // namespace

ui::INT_PTR RunWebSitesDialog(ui::HWND owner) {
    const ui::INT_PTR result = RunDialogResource("WWW3", owner, WebSitesProc);
    Console().timerBusy = false;
    g_state = WebSitesState{};
    return result == 1 ? 1 : 0;
}

}  // namespace dialogs
