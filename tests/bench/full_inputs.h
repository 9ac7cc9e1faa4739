// The largest inputs the formats allow, in a fresh installation, for the benchmarks of the
// rebuild and of the filter: VELDA.NOT and VELDA.YES of close to 1 MB with 98304 addresses
// (every second one with a path item "pageN.html") and alias entries, up to 2048 site
// entries answered from IPADDR.LST, and raw name lists of 1,000,000 names in all
// (hostN.domainM.example, N standing for address 10.0.0.1 + N).
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dbread/list_file.h"
#include "resolve/resolvers.h"
#include "sitelists/site_list.h"
#include "tests/support/temp_install.h"

namespace fullinputs {

using namespace dbread;

constexpr std::size_t kListAddresses = 98304;
constexpr std::size_t kSites = 2048;  // 1024 entries in each of the two site lists
constexpr std::size_t kRawNames = 1000000;

inline std::uint64_t FileBytes(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

inline std::string Le32(std::uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
    return s;
}

// A level 3 list of kListAddresses addresses, every second one with a path item, and alias
// entries up to close to the largest list file; scrambled as it is stored.
inline std::string MakeList(bool approved, std::uint32_t seed) {
    ListContent list;
    list.level = 3;
    list.approved = approved;
    std::uint32_t x = seed;
    auto next = [&x] {
        x = x * 1664525u + 1013904223u;
        return x;
    };
    for (std::size_t i = 0; i < kListAddresses; ++i) {
        ListRecordData r;
        r.address = next() | 0x01000000u;
        if (i % 2 == 0) {
            r.items.push_back({static_cast<std::uint16_t>(1u << (i % 14)),
                               PathKeyForLevel(3, "page" + std::to_string(i % 4096) + ".html")});
        } else {
            r.categories = static_cast<std::uint16_t>(1u << (i % 14));
        }
        list.addresses.push_back(std::move(r));
    }
    std::vector<std::uint8_t> content;
    std::string why;
    // Alias entries of 8 aliases (37 bytes each) in the room the addresses leave.
    if (!EncodeListFile(list, content, why)) return {};
    for (std::size_t room = (kMaxListFileSize - 256 - content.size()) / 37, i = 0; i < room; ++i) {
        ListAliasData a;
        a.canonical = list.addresses[i * 7 % kListAddresses].address;
        for (int k = 0; k < 8; ++k) a.aliases.push_back(next() | 0x80000000u);
        list.aliases.push_back(std::move(a));
    }
    if (!EncodeListFile(list, content, why)) return {};
    sitelists::ScrambleSiteList(content);
    return std::string(content.begin(), content.end());
}

inline std::string SiteHost(std::size_t i) {
    return "site" + std::to_string(i) + ".example";
}

inline std::string RawHost(std::size_t n) {
    return "host" + std::to_string(n) + ".domain" + std::to_string(n % 9973) + ".example";
}

// The inputs of a rebuild in a fresh installation.
class RebuildInputs {
  public:
    explicit RebuildInputs(std::size_t sites)
        : install_(std::make_unique<testsupport::TempInstall>()) {
        const std::string yes = MakeList(true, 7), no = MakeList(false, 11);
        ok_ = !yes.empty() && !no.empty();
        listBytes_ = yes.size() + no.size();
        install_->writeFile(install_->file("VELDA.YES"), yes);
        install_->writeFile(install_->file("VELDA.NOT"), no);

        // The site entries, each host recorded in IPADDR.LST with one address.
        std::string cache;
        cache.reserve(kSites * resolve::kAddressRecordSize);
        for (std::size_t i = 0; i < sites; ++i) {
            const auto list =
                i < kSites / 2 ? sitelists::SiteList::kRestricted : sitelists::SiteList::kApproved;
            const int index = static_cast<int>(i % (kSites / 2));
            const std::uint32_t address = 0x0A000000u + static_cast<std::uint32_t>(i) + 1;
            ok_ = ok_ && sitelists::SetSiteName(list, index, SiteHost(i)) == 1;
            sitelists::SetSiteAddress(list, index, address);
            std::string record(resolve::kAddressRecordSize, '\0');
            record.replace(0, SiteHost(i).size(), SiteHost(i));
            record.replace(resolve::kRecordNameSize, 4, Le32(address));
            cache += record;
        }
        install_->writeFile(install_->file("IPADDR.LST"), cache);
        ok_ = ok_ && sitelists::SaveSiteList() == 1;

        // DNSRAW.NOT and DNSRAW.YES, half of the names each.
        for (int half = 0; half < 2; ++half) {
            std::string raw = Le32(kRawNames / 2);
            raw.reserve(kRawNames / 2 * 40);
            for (std::size_t i = 0; i < kRawNames / 2; ++i) {
                const std::size_t n = half * (kRawNames / 2) + i;
                const std::string name = RawHost(n);
                raw += static_cast<char>(name.size());
                raw += name;
                raw += Le32(0x0A000001u + static_cast<std::uint32_t>(n));
            }
            install_->writeFile(install_->file(half == 0 ? "DNSRAW.NOT" : "DNSRAW.YES"), raw);
        }
    }

    bool ok() const { return ok_; }
    std::size_t listBytes() const { return listBytes_; }
    const testsupport::TempInstall& install() const { return *install_; }

  private:
    std::unique_ptr<testsupport::TempInstall> install_;
    bool ok_ = false;
    std::size_t listBytes_ = 0;
};



}  // namespace fullinputs
