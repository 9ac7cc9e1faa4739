#include "sitelists/site_list.h"

#include <algorithm>
#include <cstring>

#include "platform/files.h"
#include "platform/process_state.h"
#include "settings/file_catalogue.h"

namespace sitelists {
namespace {

SiteListState g_sites;

// USER.LST files longer than this are not read at all (the image holds 204800 bytes;
// a longer file is unscrambled whole with its own length, which needs it in memory).
constexpr std::int64_t kMaxLoadedFile = 64 * 1024 * 1024;

std::uint8_t Ror(std::uint8_t x) { return static_cast<std::uint8_t>((x >> 1) | (x << 7)); }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// An index out of range is a caller's bug: it is clamped rather than let loose.
std::size_t Clamp(int index, int limit) {
    return static_cast<std::size_t>(std::clamp(index, 0, limit - 1));
}

std::string TextAt(std::size_t offset, std::size_t maxLength) {
    const char* p = reinterpret_cast<const char*>(g_sites.image.data() + offset);
    return std::string(p, strnlen(p, maxLength));
}

void StoreText(std::size_t offset, std::size_t room, std::string_view text) {
    char* p = reinterpret_cast<char*>(g_sites.image.data() + offset);
    std::memset(p, 0, room);
    for (std::size_t i = 0; i < text.size(); ++i) p[i] = Lower(text[i]);
}

}  // namespace

SiteListState& SiteLists() { return g_sites; }
void ResetSiteLists() { g_sites = SiteListState{}; }
namespace {
const platform::StateReset kResetSiteLists{platform::StateLayer::kSitelists, &ResetSiteLists};
}  // namespace
std::span<std::uint8_t> SiteListImage() { return g_sites.image; }

void ScrambleSiteList(std::span<std::uint8_t> b) {
    std::size_t n = b.size();
    if (n == 0) return;
    std::uint8_t s = static_cast<std::uint8_t>(n & 0xff);
    for (std::size_t i = n - 1; i >= 1; --i) b[i] ^= Ror(b[i - 1]);
    b[0] ^= Ror(b[n - 1]);
    for (std::size_t i = n - 1; i >= 1; --i) b[i] ^= Ror(b[i - 1]);
    b[0] ^= Ror(s);
}

void UnscrambleSiteList(std::span<std::uint8_t> b) {
    std::uint8_t p = static_cast<std::uint8_t>(b.size() & 0xff);
    for (int pass = 0; pass < 2; ++pass) {
        for (auto& byte : b) {
            byte ^= Ror(p);
            p = byte;
        }
    }
}

void LoadSiteList() {
    platform::FileHandle f(settings::OpenCatalogueFile(settings::kFileUserList,
                                                       settings::kModeReadWriteShared));
    if (!f.valid()) return;
    std::int64_t n = platform::FileSize(f.get());
    if (n < 0 || n > kMaxLoadedFile) return;

    auto& image = g_sites.image;
    if (n <= static_cast<std::int64_t>(kSiteListImageSize)) {
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(n));
        if (platform::ReadSome(f.get(), bytes) != n) return;
        std::copy(bytes.begin(), bytes.end(), image.begin());
        UnscrambleSiteList(std::span(image).first(bytes.size()));
    } else {
        // Longer than the image: unscramble it whole, keep what fits.
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(n));
        if (platform::ReadSome(f.get(), bytes) != n) return;
        UnscrambleSiteList(bytes);
        std::copy_n(bytes.begin(), kSiteListImageSize, image.begin());
    }
    if (n != static_cast<std::int64_t>(kSiteListImageSize))
        std::fill(image.begin() + kBlockOneEnd, image.end(), 0);
}

int SaveSiteList() {
    std::vector<std::uint8_t> scrambled = g_sites.image;
    ScrambleSiteList(scrambled);
    return platform::WriteFileAtomically(settings::CatalogueFilePath(settings::kFileUserList),
                                         scrambled)
               ? 1
               : 0;
}

std::size_t SiteNameOffset(SiteList list, int index) {
    std::size_t i = Clamp(index, kEntriesPerList);
    bool approved = list == SiteList::kApproved;
    std::size_t base = i < kSlotsPerBlock ? (approved ? kApprovedNames1 : kRestrictedNames1)
                                          : (approved ? kApprovedNames2 : kRestrictedNames2);
    return base + (i % kSlotsPerBlock) * kSlotSize;
}

std::size_t SiteAddressOffset(SiteList list, int index) {
    std::size_t i = Clamp(index, kEntriesPerList);
    bool approved = list == SiteList::kApproved;
    std::size_t base = i < kSlotsPerBlock
                           ? (approved ? kApprovedAddresses1 : kRestrictedAddresses1)
                           : (approved ? kApprovedAddresses2 : kRestrictedAddresses2);
    return base + (i % kSlotsPerBlock) * 4;
}

std::string SiteName(SiteList list, int index) {
    return TextAt(SiteNameOffset(list, index), kMaxSiteName);
}

int SetSiteName(SiteList list, int index, std::string_view text) {
    if (text.size() > kMaxSiteName) return 0;
    StoreText(SiteNameOffset(list, index), kSlotSize, text);
    return 1;
}

std::uint32_t SiteAddress(SiteList list, int index) {
    const std::uint8_t* p = g_sites.image.data() + SiteAddressOffset(list, index);
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void SetSiteAddress(SiteList list, int index, std::uint32_t address) {
    std::uint8_t* p = g_sites.image.data() + SiteAddressOffset(list, index);
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(address >> (8 * i));
}

int BlockEntryCount(SiteList list, int block) {
    int first = block == 0 ? 0 : kSlotsPerBlock;
    int count = 0;
    while (count < kSlotsPerBlock && g_sites.image[SiteNameOffset(list, first + count)] != 0)
        ++count;
    return count;
}

std::uint8_t DomainKindAt(int index) {
    return g_sites.image[kDomainTable + Clamp(index, kDomainRecords) * kSlotSize];
}

std::string DomainPart(int index) {
    return TextAt(kDomainTable + Clamp(index, kDomainRecords) * kSlotSize + 1, kMaxDomainPart);
}

int SetDomainRecord(int index, std::uint8_t kind, std::string_view text) {
    if (text.size() > kMaxDomainPart) return 0;
    std::size_t offset = kDomainTable + Clamp(index, kDomainRecords) * kSlotSize;
    g_sites.image[offset] = kind;
    StoreText(offset + 1, kSlotSize - 1, text);
    return 1;
}

}  // namespace sitelists
