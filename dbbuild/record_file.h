// Record file engine: the operations that build a filter database (VeldaNOT.BIN,
// VeldaYES.BIN, NoneNOT.BIN, NoneYES.BIN). The file format itself, and the checks a file must
// pass, are in dbread/record_format.h; RdbBuildIndexes appends the two indexes behind the
// table area.
//
// Contract:
//  - One file is open at a time and the engine's state is global; ResetRecordFile() drops
//    it (closing the descriptor without writing), as a fresh process would have it.
//  - Operations return 1 on success and 0 on failure; RdbPutName returns 2 when an
//    identical record already exists. A failed low-level call leaves its cause in
//    RdbLastError(): an errno value, or 1 for a failed or short read or write.
//  - Every insert writes the records it touches and the table descriptor at once, through a
//    shared mapping of the table area (so another reader of the file sees it at once); the
//    alias pairs and the header reach the file at RdbClose (the header also at the end of
//    an index build), and the indexes at RdbBuildIndexes, through the file layer. A file
//    whose table area cannot be mapped is not opened. In a file that RdbCreate made, the
//    record and path areas are written with zeros just ahead of the inserts that reach
//    them, so that the mapping never touches a hole.
//  - The index build's buffers (a few megabytes at full capacity) and the alias maps are
//    kept from one file to the next, for the four builds of a rebuild; ResetRecordFile()
//    frees them.
//  - RdbOpen refuses a file whose header or table descriptors do not describe this format,
//    or whose offsets, counts and sizes do not fit inside the file's real size.
//  - Limits, each failing the operation that reaches it (result 0) without changing the
//    file: RdbCreate takes at most 98304 address records (the address index holds 98304
//    entries) and 65535 name records (the name index counts in 16 bits). RdbAddAlias
//    refuses a pair beyond min(65535, address capacity): the header counts pairs in 16 bits
//    and the file's alias area holds one pair per address record. RdbBuildIndexes fails
//    when the address index's path section (its 256 reserved bytes, the entries' path data
//    and the 2 closing bytes) would exceed its 3 MB buffer; truncating path data instead
//    would silently widen an entry to its whole site. A failed build leaves the header's
//    "built" marks at 0 for what was not written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dbread/record_format.h"

namespace dbbuild {

// The record flags of the format, which the builders give their inserts.
using dbread::kFlagAdminOpposite;
using dbread::kFlagApprovedDomain;
using dbread::kFlagHidden;
using dbread::kFlagOpposite;
using dbread::kFlagRemoved;
using dbread::kFlagWholeSite;

// The parameters every database build passes to RdbCreate.
constexpr std::uint32_t kBuildPathDataSize = 0x400000;
constexpr std::uint32_t kBuildAddressCapacity = 0x18000;
constexpr std::uint32_t kBuildNameCapacity = 1000;

constexpr std::size_t kPathBlockHeadSize = 16;                   // a path block's head
constexpr std::uint32_t kIndexPathBufferSize = 3 * 1024 * 1024;  // the index build's buffer

// ---- Engine ----

int RdbCreate(const std::string& path, std::uint32_t pathDataSize, std::uint32_t addressCapacity,
              std::uint32_t nameCapacity);
int RdbOpen(const std::string& path);
// Writes the alias pairs and the header, flushes the file to disk and closes it (closed in
// every case): 1, or 0 when a write or the flush failed.
int RdbClose();
// `block` is a path block (16-byte head and items; see AddPathItem) or empty for none. The
// engine fills in the block's owner and chain fields in its own copy.
int RdbPutAddress(std::uint32_t address, std::uint16_t categories, std::uint16_t flags,
                  std::span<const std::uint8_t> block = {});
int RdbPutName(std::string_view name, std::uint16_t categories, std::uint16_t flags);
int RdbAddAlias(std::uint32_t canonical, std::uint32_t alias);
// Only index number 0 exists.
int RdbBuildIndexes(int indexNumber, std::uint16_t mask);

int RdbLastError();
bool RdbIsOpen();
void ResetRecordFile();
// Replaces the clock (seconds since 1970) the engine takes its time stamps from; nullptr
// restores the system clock. For tests that compare whole files.
void SetRecordFileClock(std::uint32_t (*clock)());

// ---- Path blocks ----

// Appends one item (categories, key of at most 252 bytes) to a path block, starting the
// block's head when `block` is empty; false (block unchanged) when the item does not fit.
bool AddPathItem(std::vector<std::uint8_t>& block, std::uint16_t categories,
                 std::span<const std::uint8_t> key);

}  // namespace dbbuild
