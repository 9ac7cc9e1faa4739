// The administrator's own sites and domain parts: the SiteListImage, a fixed 204800-byte
// image of USER.LST that every other module addresses by region offsets.
//
// Regions (little-endian):
//   0x00000  approved sites, block 1: 512 name slots of 64 bytes
//   0x08000  approved sites, block 1: 512 address words
//   0x08800  restricted sites, block 1: names      0x10800  its address words
//   0x11000  approved sites, block 2: names        0x19000  its address words
//   0x19800  restricted sites, block 2: names      0x21800  its address words
//   0x22000  domain table: 1024 records of 64 bytes (kind byte, then the text)
// Entry i of a site list is slot i of block 1 (i < 512) or slot i - 512 of block 2.
// Names are zero-terminated, lower case, at most 63 characters; domain parts at most 62.
// Address words hold an IPv4 address with its first octet in the lowest byte; 0 = none.
//
// On disk the image is scrambled by a keyless byte-chaining transform seeded by the
// length. A file of any other length than 204800 keeps only block 1 of both lists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sitelists {

constexpr std::size_t kSiteListImageSize = 204800;
constexpr std::size_t kBlockOneEnd = 69632;  // block 1 of both lists
constexpr std::size_t kSlotSize = 64;
constexpr int kSlotsPerBlock = 512;
constexpr int kEntriesPerList = 1024;
constexpr int kDomainRecords = 1024;
constexpr std::size_t kMaxSiteName = 63;
constexpr std::size_t kMaxDomainPart = 62;

constexpr std::size_t kApprovedNames1 = 0x00000, kApprovedAddresses1 = 0x08000;
constexpr std::size_t kRestrictedNames1 = 0x08800, kRestrictedAddresses1 = 0x10800;
constexpr std::size_t kApprovedNames2 = 0x11000, kApprovedAddresses2 = 0x19000;
constexpr std::size_t kRestrictedNames2 = 0x19800, kRestrictedAddresses2 = 0x21800;
constexpr std::size_t kDomainTable = 0x22000;

enum class SiteList { kApproved, kRestricted };
enum DomainKind : std::uint8_t { kDomainRestricted = 0, kDomainApproved = 1 };

// The one image of the process, zero-filled until the first load.
struct SiteListState {
    std::vector<std::uint8_t> image = std::vector<std::uint8_t>(kSiteListImageSize, 0);
};
SiteListState& SiteLists();
void ResetSiteLists();
std::span<std::uint8_t> SiteListImage();

// In-place transforms of a range of at least 2 bytes; each undoes the other for the
// same length.
void ScrambleSiteList(std::span<std::uint8_t> bytes);
void UnscrambleSiteList(std::span<std::uint8_t> bytes);

// Reads USER.LST into the image; a file that cannot be opened leaves the image as it is.
void LoadSiteList();
// Writes the image to USER.LST through a flushed temporary file renamed into place, so
// that the old or the new file survives any failure. 1 on success, 0 on failure.
int SaveSiteList();

// Offsets of entry `index` (0..1023) of a list.
std::size_t SiteNameOffset(SiteList list, int index);
std::size_t SiteAddressOffset(SiteList list, int index);

// Entry text up to its terminator (never more than 63 characters).
std::string SiteName(SiteList list, int index);
// Stores a text in lower case; 0 (and nothing changed) for a text over 63 characters.
int SetSiteName(SiteList list, int index, std::string_view text);
std::uint32_t SiteAddress(SiteList list, int index);
void SetSiteAddress(SiteList list, int index, std::uint32_t address);
// Entries of a block (0 or 1) up to its first empty name, as the dialogs count them.
int BlockEntryCount(SiteList list, int block);

// Domain table record `index` (0..1023).
std::uint8_t DomainKindAt(int index);
std::string DomainPart(int index);
// Stores a domain part in lower case; 0 (and nothing changed) for a text over 62 characters.
int SetDomainRecord(int index, std::uint8_t kind, std::string_view text);

}  // namespace sitelists
