#include "update/list_update.h"

#include <sys/utsname.h>

#include <cstdio>
#include <vector>

#include "dbbuild/list_parser.h"
#include "platform/files.h"
#include "platform/process_state.h"
#include "resolve/socket_library.h"
#include "resources/string_table.h"
#include "settings/file_catalogue.h"
#include "settings/filter_registration.h"
#include "settings/settings_store.h"
#include "sitelists/site_list.h"
#include "ui/dialog.h"
#include "ui/message_box.h"
#include "ui/window.h"
#include "update/download_schedule.h"
#include "update/http_transfer.h"
#include "progress/transfer_status.h"

namespace update {

using namespace progress;

namespace {

ListUpdateState g_update;

constexpr int kServerStrings[] = {13, 18, 19};  // primary, secondary, mirror
constexpr int kVersionString = 3;
constexpr int kDefaultSourceString = 24;
using resources::kMessageCaptionString;
using resources::kNotRespondingString;
using resources::kWinsockErrorString;
constexpr std::uint16_t kWinsockVersion = 0x0101;
constexpr std::size_t kMaxListBytes = 1048576;

void Show(ui::HWND owner, int textId, int captionId = kMessageCaptionString) {
    ui::MessageBox(owner, resources::LoadStr(textId), resources::LoadStr(captionId), ui::MB_OK);
}

std::string OsVersion() {
    utsname u{};
    int major = 0, minor = 0;
    if (uname(&u) == 0) std::sscanf(u.release, "%d.%d", &major, &minor);
    char text[32];
    std::snprintf(text, sizeof text, "%d.%d", major & 0xff, minor & 0xff);
    return text;
}

std::string SourceValue() {
    auto& source = settings::Registration().source;
    // Quick run does not pass through the registration: take the setting then.
    if (source.empty()) source = settings::ReadTableSetting(settings::kKeySource);
    if (source.empty()) source = resources::LoadStr(kDefaultSourceString).substr(0, 24);
    return source.substr(0, 31);
}

bool SameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
    return true;
}

// Removes what a transfer that did not succeed left at `path` (the file it was receiving;
// the directory itself when it never got that far).
void RemovePartialFile(const std::string& path, const std::string& directory) {
    if (!path.empty() && path != directory && platform::FileExists(path)) std::remove(path.c_str());
}

}  // namespace

ListUpdateState& ListUpdate() {
    return g_update;
}
void ResetListUpdate() {
    g_update = ListUpdateState{};
}
namespace {
const platform::StateReset kResetListUpdate{platform::StateLayer::kUpdate, &ResetListUpdate};
}  // namespace

int IdentifyListFile(std::string_view fileName) {
    settings::SetListName(fileName);
    platform::FileHandle f(
        settings::OpenCatalogueFile(settings::kFileNamedList, settings::kModeReadDenyWrite));
    if (!f.valid()) return 0;
    std::int64_t size = platform::FileSize(f.get());
    if (size < 8 || size > static_cast<std::int64_t>(kMaxListBytes)) return 0;
    std::vector<std::uint8_t> content(static_cast<std::size_t>(size));
    if (platform::ReadSome(f.get(), content) != size) return 0;
    f.reset();
    sitelists::UnscrambleSiteList(content);
    return dbbuild::CheckListHeader(fileName, content, dbread::kBuildListKinds);
}

void ReportListFailure(ui::HWND owner, std::string_view fileName, int restrictedTextId,
                       int approvedTextId) {
    if (fileName == "DNSRAW.NOT" || fileName == "DNSRAW.YES") return;
    int kind = IdentifyListFile(fileName);
    if (kind == 1) Show(owner, restrictedTextId, kWinsockErrorString);
    if (kind == 2) Show(owner, approvedTextId, kWinsockErrorString);
}

void AnnounceNewerProgram() {
    platform::FileHandle marker(
        settings::OpenCatalogueFile(settings::kFileUpdateMarker, settings::kModeCreate));
    if (marker.valid()) {
        std::vector<std::uint8_t> record(128, 0);
        std::string text = resources::LoadStr(3118).substr(0, 127);
        std::copy(text.begin(), text.end(), record.begin());
        platform::WriteAll(marker.get(), record);
    }
    Show(0, 3011);
    if (g_update.mainWindow) ui::SendMessage(g_update.mainWindow, WM_SHOW_UPGRADE_ICON);
}

int FetchListFile(ui::HWND, int number, std::string& receivedPath, std::string_view fileName) {
    if (g_update.fetchInProgress) return kFetchFailed;
    g_update.fetchInProgress = true;
    auto& http = HttpTransfer();
    auto& status = TransferStatus();

    TransferRequest request;
    request.owner = g_update.mainWindow;
    request.downloadNumber = std::to_string(number);
    request.proxyHost = settings::ReadTableSetting(settings::kKeyProxyServer).substr(0, 127);
    request.proxyPort =
        static_cast<int>(settings::DecimalValue(settings::ReadTableSetting(settings::kKeyProxyPort)));
    request.version = resources::LoadStr(kVersionString);
    request.source = SourceValue();
    request.osVersion = OsVersion();
    http.downloadFileName = std::string(fileName);

    std::string directory;
    settings::GetProgramDirectory(directory);
    std::string installedDate, installedTime;
    GetLocalFileStamp(directory, fileName, installedDate, installedTime);

    int outcome = kTransferFailed;
    if (resolve::LoadSocketLibrary()) {
        ws::WSADATA data{};
        if (!resolve::Sockets().WSAStartup ||
            resolve::Sockets().WSAStartup(kWinsockVersion, &data) != 0) {
            g_update.fetchInProgress = false;
            resolve::UnloadSocketLibrary();
            return kFetchFailed;
        }
        status.TransferCancelRequested = false;
        status.percentage = 0;
        bool wasOpen = status.window != 0;
        if (!http.QuietUpdate)
            ShowTransferStatus(std::nullopt, wasOpen ? StatusLevel::kSame : StatusLevel::kNew);
        for (int server : kServerStrings) {
            request.localPath = directory;
            request.serverHost = resources::LoadStr(server);
            if (!http.QuietUpdate) {
                ShowTransferStatus(
                    "\r\nDownloading file from Velda Central\r\n(" + request.serverHost + ")",
                    StatusLevel::kSame);
            }
            outcome = request.serverHost.empty() ? kTransferFailed : RunTransfer(request, 0);
            if (outcome != kTransferFailed) break;
            RemovePartialFile(request.localPath, directory);  // before the next server
        }
        CloseTransferStatus(wasOpen ? StatusClose::kOneLevel : StatusClose::kAll);
        if (resolve::Sockets().WSACleanup) resolve::Sockets().WSACleanup();
        resolve::UnloadSocketLibrary();
    }

    int result = kFetchFailed;
    switch (outcome) {
        case kTransferFailed:
            if (!http.QuietUpdate)
                ReportListFailure(request.owner, fileName, kNotRespondingString,
                                  kNotRespondingString);
            break;
        case kTransferReceived:
            result = kFetchReceived;
            break;
        case kTransferUpgrade:
            // The server reports a newer program. When the file itself was current (its
            // date did not change) nothing was received: count it as current, so that
            // the installation does not look for a file that never came.
            result = SameNoCase(request.localDate, installedDate) ? kFetchCurrent : kFetchReceived;
            AnnounceNewerProgram();
            break;
        case kTransferCurrent:
            result = kFetchCurrent;
            if (!http.QuietUpdate && (fileName == "VELDA.NOT" || fileName == "VELDA.YES")) {
                int kind = IdentifyListFile(fileName);
                if (kind == 1) Show(request.owner, 3006);
                if (kind == 2) Show(request.owner, 1644);
            }
            break;
        case kTransferCancelled:
            if (!http.QuietUpdate) ReportListFailure(request.owner, fileName, 3009, 1646);
            break;
        default:
            break;
    }
    if (result == kFetchReceived || result == kFetchCurrent) {
        receivedPath = request.localPath;
    } else {
        RemovePartialFile(request.localPath, directory);
    }
    g_update.fetchInProgress = false;
    return result;
}

int UpdateOneList(ui::HWND owner, int stringId, std::string& receivedPath,
                  std::string_view fileName) {
    int skipKey = stringId == 28   ? settings::kKeyNotListReplacement
                  : stringId == 29 ? settings::kKeyYesListReplacement
                                   : 0;
    int dayKey = stringId == 28   ? settings::kKeyNotDownloadDay
                 : stringId == 29 ? settings::kKeyYesDownloadDay
                                  : 0;
    if (skipKey && !settings::ReadSetting(skipKey).substr(0, 30).empty()) return kFetchSkipped;
    int number = static_cast<int>(settings::DecimalValue(resources::LoadStr(stringId)));
    int r = FetchListFile(owner, number, receivedPath, fileName);
    if (dayKey && (r == kFetchReceived || r == kFetchCurrent)) {
        char day[24];
        std::snprintf(day, sizeof day, "%u", static_cast<unsigned>(DayNumber()));
        settings::WriteSetting(dayKey, {}, day);
    }
    return r;
}

UpdateOutcome UpdateAllLists(ui::HWND owner, UpdateStart start, const DatabaseRebuild& rebuild) {
    if (resolve::SocketLibrary().SocketLibraryHandle)
        return UpdateOutcome::kBusy;  // another network job runs
    ui::HWND active = ui::GetActiveWindow();
    auto& http = HttpTransfer();
    http.QuietUpdate =
        start == UpdateStart::kByAdministrator ? 0 : (owner == 0 ? 1 : (owner != active ? 1 : 0));
    std::string directory;
    settings::GetProgramDirectory(directory);
    Schedule().DownloadDue = 0;

    struct Step {
        int stringId;
        const char* file;
        int result = kFetchFailed;
        std::string received;
    };
    Step steps[] = {{28, "VELDA.NOT", kFetchFailed, {}},
                    {29, "VELDA.YES", kFetchFailed, {}},
                    {31, "DNSRAW.YES", kFetchFailed, {}},
                    {30, "DNSRAW.NOT", kFetchFailed, {}}};
    UpdateOutcome outcome = UpdateOutcome::kNotFetched;
    bool fetched = true;
    for (int i = 0; i < 4 && fetched; ++i) {
        Step& s = steps[i];
        s.result = UpdateOneList(owner, s.stringId, s.received, s.file);
        // A replacement list is set: nothing to do.
        if (s.result == kFetchSkipped && i < 2) return UpdateOutcome::kSkipped;
        fetched = s.result == kFetchReceived || s.result == kFetchCurrent;
        if (fetched && i == 2 && s.result == kFetchReceived) {
            // Parked until the end, so that the next fetch cannot overwrite it. A current
            // file is the installed one and stays where it is.
            std::string parked = directory + "DNSRAW.TMP";
            std::remove(parked.c_str());
            if (platform::ReplaceFile(s.received, parked)) s.received = parked;
        }
    }
    if (fetched) {
        outcome = UpdateOutcome::kInstalled;
        int current = 0;
        for (Step& s : steps) {
            if (s.result == kFetchCurrent) {
                ++current;
                continue;
            }
            if (!platform::ReplaceFile(s.received, directory + s.file)) {
                outcome = UpdateOutcome::kInstallFailed;
                break;
            }
        }
        if (outcome != UpdateOutcome::kInstallFailed) {
            if (current == 4) outcome = UpdateOutcome::kAllCurrent;
            using namespace settings;
            bool all = OpenCatalogueFile(kFileNoneNotBin, kModeExists) > 0 &&
                       OpenCatalogueFile(kFileNoneYesBin, kModeExists) > 0 &&
                       OpenCatalogueFile(kFileVeldaNotBin, kModeExists) > 0 &&
                       OpenCatalogueFile(kFileVeldaYesBin, kModeExists) > 0;
            int rebuilt = 1;
            if (!all)
                rebuilt = rebuild ? rebuild(dbbuild::NoneDatabases::kBuilt) : 0;
            else if (outcome != UpdateOutcome::kAllCurrent)
                rebuilt = rebuild ? rebuild(dbbuild::NoneDatabases::kKept) : 0;
            if (!rebuilt) outcome = UpdateOutcome::kRebuildFailed;
        }
    }
    Schedule().DownloadDue = 0;
    resolve::UnloadSocketLibrary();
    if (http.QuietUpdate) return outcome;
    int text = 8302;  // "updated"
    switch (outcome) {
        case UpdateOutcome::kAllCurrent: text = 8306; break;
        case UpdateOutcome::kInstallFailed: text = 8304; break;
        case UpdateOutcome::kRebuildFailed: text = 8305; break;
        case UpdateOutcome::kNotFetched: text = 8303; break;
        case UpdateOutcome::kInstalled:
        case UpdateOutcome::kBusy:
        case UpdateOutcome::kSkipped:
            break;
    }
    ui::MessageBox(active, resources::LoadStr(text), resources::LoadStr(kMessageCaptionString), ui::MB_OK);
    return outcome;
}

}  // namespace update
