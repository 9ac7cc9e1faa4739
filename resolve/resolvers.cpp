#include "resolve/resolvers.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "platform/files.h"
#include "resolve/dns_client.h"
#include "resolve/socket_library.h"
#include "resources/string_table.h"
#include "settings/file_catalogue.h"
#include "sitelists/site_entries.h"
#include "ui/dialog.h"
#include "ui/message_box.h"
#include "ui/progress.h"

namespace resolve {

using sitelists::SplitUrl;

namespace {

constexpr int kResolvingString = 3109;      // "Please Wait: Resolving %s"
constexpr std::uint16_t kWinsockVersion = 0x0101;

void ShowNotResponding() {
    ui::MessageBox(0, resources::LoadStr(resources::kNotRespondingString),
                   resources::LoadStr(resources::kWinsockErrorString), ui::MB_OK);
}

bool StartSockets() {
    ws::WSADATA data{};
    return Sockets().WSAStartup && Sockets().WSAStartup(kWinsockVersion, &data) == 0;
}

void StopSockets() {
    if (Sockets().WSACleanup) Sockets().WSACleanup();
}

std::string ResolvingText(std::string_view site) {
    return resources::FormatText(resources::LoadStr(kResolvingString), site);
}

bool EnsureDnsServers() {
    auto& dns = DnsClient();
    if (dns.DnsServerCount == 0) dns.DnsServerCount = ReloadDnsServers();
    return dns.DnsServerCount != 0;
}

void ForgetRecorded();

// Appends one record for `host` to IPADDR.LST (created when missing).
void AppendRecord(std::string_view host, const AddressList& list) {
    if (host.size() >= kRecordNameSize) return;
    int mode = settings::OpenCatalogueFile(settings::kFileIpAddrList, settings::kModeExists) > 0
                   ? settings::kModeReadWriteShared
                   : settings::kModeCreate;
    platform::FileHandle f(settings::OpenCatalogueFile(settings::kFileIpAddrList, mode));
    if (!f.valid()) return;
    std::array<std::uint8_t, kAddressRecordSize> record{};
    std::copy(host.begin(), host.end(), record.begin());
    for (int i = 0; i < kAddressWords; ++i)
        for (int b = 0; b < 4; ++b)
            record[kRecordNameSize + static_cast<std::size_t>(i) * 4 +
                   static_cast<std::size_t>(b)] =
                static_cast<std::uint8_t>(list[static_cast<std::size_t>(i)] >> (8 * b));
    std::int64_t end = platform::FileSize(f.get());
    if (end < 0 || !platform::SeekTo(f.get(), end)) return;
    platform::WriteAll(f.get(), record);
    ForgetRecorded();
}

std::string LowerCase(std::string_view text) {
    std::string out(text);
    for (auto& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

// IPADDR.LST as read last: the first record of every host, by lower-case name. A database
// rebuild asks for every site five times over; the file is read again only when it changed.
struct RecordedAddresses {
    bool loaded = false;
    std::uint64_t checkedInSnapshot = 0;  // the file search snapshot it was last checked in
    struct stat identity {};
    std::unordered_map<std::string, AddressList> hosts;
};
RecordedAddresses g_recorded;

// After the console's own change to IPADDR.LST the next lookup reads it again.
void ForgetRecorded() {
    g_recorded.loaded = false;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// Reads every whole record; a file that ends inside a record ends the reading there.
void LoadRecorded(int fd, const struct stat& identity) {
    g_recorded = RecordedAddresses{};
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::max<off_t>(identity.st_size, 0)));
    long got = platform::ReadSome(fd, bytes);
    if (got < 0) return;
    std::size_t whole = static_cast<std::size_t>(got) / kAddressRecordSize;
    for (std::size_t r = 0; r < whole; ++r) {
        const std::uint8_t* record = bytes.data() + r * kAddressRecordSize;
        const char* name = reinterpret_cast<const char*>(record);
        std::string host = LowerCase(std::string_view(name, strnlen(name, kRecordNameSize)));
        if (g_recorded.hosts.count(host)) continue;  // the first record of a host wins
        AddressList list{};
        for (int i = 0; i < kAddressWords; ++i) {
            const std::uint8_t* p = record + kRecordNameSize + static_cast<std::size_t>(i) * 4;
            list[static_cast<std::size_t>(i)] =
                static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
        }
        g_recorded.hosts.emplace(std::move(host), list);
    }
    g_recorded.identity = identity;
    g_recorded.loaded = true;
}

// Looks the host up in IPADDR.LST; true with `list` filled at the first match. The file
// is opened and read again only when it is not the one read last.
bool FindRecorded(std::string_view host, AddressList& list) {
    // Within a file search snapshot the file is checked once, as other files are.
    const std::uint64_t snapshot = platform::FileSearchSnapshotId();
    if (!g_recorded.loaded || snapshot == 0 || g_recorded.checkedInSnapshot != snapshot) {
        struct stat identity {};
        const std::string path = settings::CatalogueFilePath(settings::kFileIpAddrList);
        if (::stat(path.c_str(), &identity) != 0) return false;
        if (!g_recorded.loaded || !SameFile(g_recorded.identity, identity)) {
            platform::FileHandle f(settings::OpenCatalogueFile(settings::kFileIpAddrList,
                                                               settings::kModeReadDenyWrite));
            if (!f.valid() || fstat(f.get(), &identity) != 0) return false;
            LoadRecorded(f.get(), identity);
        }
        g_recorded.checkedInSnapshot = snapshot;
    }
    auto it = g_recorded.hosts.find(LowerCase(host));
    if (it == g_recorded.hosts.end()) return false;
    list = it->second;
    return true;
}

std::uint32_t Octets(const std::array<std::uint8_t, 4>& o) {
    return static_cast<std::uint32_t>(o[0]) | static_cast<std::uint32_t>(o[1]) << 8 |
           static_cast<std::uint32_t>(o[2]) << 16 | static_cast<std::uint32_t>(o[3]) << 24;
}

}  // namespace

int SystemResolve(std::string_view host, std::uint32_t& address) {
    std::array<std::uint8_t, 4> octets{};
    std::string h(host);
    if (ParseDottedQuad(h, octets)) {
        address = Octets(octets);
        return 1;
    }
    if (!Sockets().gethostbyname) return 0;
    ws::hostent* he = Sockets().gethostbyname(h.c_str());
    if (!he) return 0;
    address = 0;
    if (he->h_addr_list && he->h_addr_list[0] && he->h_length == 4) {
        std::array<std::uint8_t, 4> a{};
        std::memcpy(a.data(), he->h_addr_list[0], 4);
        address = Octets(a);
    }
    return 1;
}

int ResolveEntry(std::string_view siteText, std::uint32_t& address) {
    if (siteText.empty()) return 0;
    std::string host, path;
    SplitUrl(siteText, host, path);
    std::array<std::uint8_t, 4> octets{};
    if (ParseDottedQuad(host, octets)) {
        address = Octets(octets);
        return 1;
    }
    if (!SocketLibrary().SocketLibraryHandle && !LoadSocketLibrary()) {
        ShowNotResponding();
        return 0;
    }
    if (!StartSockets()) {
        ShowNotResponding();
        return 0;
    }
    ui::HWND window = ui::OpenOwnProgress(ResolvingText(siteText));
    int result = SystemResolve(host, address);
    if (!result) address = 0;
    if (window) ui::DestroyWindow(window);
    StopSockets();
    return result;
}

void ResolveAndRecord(std::string_view siteText, std::uint32_t* address) {
    std::string host, path;
    SplitUrl(siteText, host, path);
    // A dotted address is its own answer: asking DNS for it would find nothing and wipe
    // the address the entry was given when it was added.
    std::array<std::uint8_t, 4> octets{};
    if (ParseDottedQuad(host, octets)) {
        AddressList list{};
        list[0] = Octets(octets);
        AppendRecord(host, list);
        if (address) *address = list[0];
        return;
    }
    if (!EnsureDnsServers()) {
        if (address) *address = 0;
        return;
    }
    AddressList list{};
    int found = ResolveHost(host, list);
    if (found > 0) {
        AppendRecord(host, list);
        if (address) *address = list[0];
    } else if (address) {
        *address = 0;
    }
}

void ResolveAllSites() {
    if (!StartSockets()) {
        ShowNotResponding();
        return;
    }
    bool openedHere = ui::OpenProgress("");
    settings::OpenCatalogueFile(settings::kFileIpAddrList, settings::kModeDelete);
    ForgetRecorded();
    using sitelists::EntryKind;
    const sitelists::SiteWalk walk{
        .lists = {sitelists::SiteList::kApproved, sitelists::SiteList::kRestricted},
        .emptySlot = sitelists::EmptySlot::kEndsBlock,
        .filePaths = sitelists::FilePaths::kRecorded,
    };
    sitelists::ForEachSiteEntry(walk, [](const sitelists::SiteEntry& entry) {
        switch (entry.kind) {
            case EntryKind::kSite: {
                ui::SetProgressText(ResolvingText(entry.text));
                std::uint32_t address = 0;
                ResolveAndRecord(entry.text, &address);
                sitelists::SetSiteAddress(entry.list, entry.index, address);
                break;
            }
            case EntryKind::kFileSlot:
                // The file's lines stand for the slot, which keeps no address of its own.
                ui::SetProgressText(ResolvingText(entry.text));
                sitelists::SetSiteAddress(entry.list, entry.index, 0);
                break;
            case EntryKind::kFileLine:
                ResolveAndRecord(entry.text, nullptr);
                break;
        }
    });
    if (openedHere) ui::CloseProgress();
    StopSockets();
}

int LookupOrResolve(std::string_view siteText, AddressList& list) {
    std::string host, path;
    SplitUrl(siteText, host, path);
    std::array<std::uint8_t, 4> octets{};
    if (ParseDottedQuad(host, octets)) {
        list[0] = Octets(octets);
        return 1;
    }
    if (FindRecorded(host, list)) return 1;

    bool loadedHere = false;
    if (!SocketLibrary().SocketLibraryHandle) {
        if (!LoadSocketLibrary()) {
            ShowNotResponding();
            return 0;
        }
        loadedHere = true;
    }
    if (!StartSockets()) {
        ShowNotResponding();
        if (loadedHere) UnloadSocketLibrary();
        return 0;
    }
    int result = 0;
    if (!siteText.empty()) {
        ui::SetProgressText(ResolvingText(siteText));
        SplitUrl(siteText, host, path);
        if (EnsureDnsServers() && ResolveHost(host, list) > 0) {
            AppendRecord(host, list);
            result = 1;
        }
    }
    StopSockets();
    if (loadedHere) UnloadSocketLibrary();
    return result;
}

}  // namespace resolve
