#include "settings/file_catalogue.h"

#include "platform/files.h"
#include "platform/locations.h"
#include "platform/process_state.h"

namespace settings {
namespace {

struct FileCatalogueState {
    std::string listName;
};
FileCatalogueState g_catalogue;

struct CatalogueEntry {
    int id;
    const char* name;
    bool windowsDir;
};
constexpr CatalogueEntry kFiles[] = {
    {kFileIvdIni, "IVD.INI", true},
    {kFileSocketLibrary, "SYSTEM/WSOCK32.DLL", true},
    {kFileUserList, "USER.LST", false},
    {kFileVeldaYes, "VELDA.YES", false},
    {kFileVeldaNot, "VELDA.NOT", false},
    {kFileUpdateMarker, "UPDATE", false},
    {kFileVeldaNotBin, "VeldaNOT.BIN", false},
    {kFileVeldaYesBin, "VeldaYES.BIN", false},
    {kFileDnsRawYes, "DNSRAW.YES", false},
    {kFileDnsRawNot, "DNSRAW.NOT", false},
    {kFileIpDnsRawNot, "IPDNSRAW.NOT", false},
    {kFileIpDnsRawYes, "IPDNSRAW.YES", false},
    {kFileIpAddrList, "IPADDR.LST", false},
    {kFileNoneNotBin, "NoneNOT.BIN", false},
    {kFileNoneYesBin, "NoneYES.BIN", false},
};

std::string InProgramDirectory(std::string_view name) {
    return platform::ProgramDirectory() + "/" + std::string(name);
}

}  // namespace

std::string CatalogueFilePath(int fileId) {
    for (const auto& f : kFiles) {
        if (f.id != fileId) continue;
        return f.windowsDir ? platform::WindowsDirectory() + "/" + f.name : InProgramDirectory(f.name);
    }
    if (g_catalogue.listName.empty()) return {};
    return InProgramDirectory(g_catalogue.listName);
}

int OpenCatalogueFile(int fileId, int mode) {
    std::string path = CatalogueFilePath(fileId);
    if (path.empty()) return 0;
    int result = platform::OpenFileMode(path, mode);
    switch (mode) {
        case kModeDate: {
            if (result < 0) return -1;
            int date = platform::FileDosDate(result);
            platform::CloseFile(result);
            return date;
        }
        case kModeDelete:
            if (result > 0) return result;
            return platform::FileExists(path) ? 0 : 1;
        case kModeExists:
            return result > 0 ? result : 0;
        default:
            return result;
    }
}

void SetListName(std::string_view name) { g_catalogue.listName = std::string(name); }
std::string ListName() { return g_catalogue.listName; }

int GetProgramDirectory(std::string& out) {
    out = platform::ProgramDirectory() + "/";
    return 1;
}

int GetDatabasePath(std::string& out, int which) {
    static constexpr int kDatabases[] = {kFileVeldaNotBin, kFileVeldaYesBin, kFileNoneNotBin,
                                         kFileNoneYesBin};
    if (which < 0 || which > 3) return 0;
    out = CatalogueFilePath(kDatabases[which]);
    return 1;
}

int GetDnsHashPath(std::string& out) {
    out = InProgramDirectory("DNSHASH.DAT");
    return 1;
}

int ResolveFilePath(std::string& buffer) {
    std::string found = platform::SearchFile(buffer);
    if (found.empty()) return 0;
    buffer = found;
    return 1;
}

void ResetFileCatalogue() { g_catalogue = FileCatalogueState{}; }
namespace {
const platform::StateReset kResetFileCatalogue{platform::StateLayer::kSettings, &ResetFileCatalogue};
}  // namespace

}  // namespace settings
