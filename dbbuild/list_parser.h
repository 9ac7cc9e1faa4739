// List parsing: turns a category list file (VELDA.NOT, VELDA.YES) and the administrator's
// site lists and domains (the SiteListImage) into inserts of the record file engine, for
// the database build. The list file format and its checks are in dbread/list_file.h.
//
// Contract:
//  - State is global, as the engine's is: the format level and the loaded list stay valid
//    until the next LoadCategoryList, ReleaseCategoryList or ResetListParser. The build
//    sets the level itself (SetListFormatLevel) for the databases without a list.
//  - LoadCategoryList refuses a list as a whole (result 0, no sections) when it is missing,
//    shorter than 8 bytes, longer than kMaxListFileSize, has an invalid header or a kind
//    other than the build's (kBuildListKinds), or is damaged: any directory entry, section,
//    record, path item or alias count that points outside the file or its section, or a
//    path item shorter than its 3-byte head. The build then fails cleanly and the Put*
//    operations below insert nothing from the list; nothing ever reads past the list.
//  - The Put* operations insert into the engine's open file; insert failures of the engine
//    are not reported (the count of PutListAddresses counts records read).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "dbread/list_file.h"
#include "sitelists/site_entries.h"

namespace dbbuild {

// Reads <program dir>/<name> through the file catalogue (others denied writing), unscrambles
// it, checks it with CheckListHeader and kBuildListKinds, and keeps its sections. 1 on
// success, 0 on any failure.
int LoadCategoryList(std::string_view name);

// The list test on unscrambled content (see ReadListLayout): 0 for an invalid or damaged
// list, else its report (1 restricted list, 2 approved list); a valid list sets the format
// level. Also used on downloaded lists.
int CheckListHeader(std::string_view fileName, std::span<const std::uint8_t> content,
                    unsigned acceptedSet);

// Inserts every record of the loaded list's address section ('I'), or in site-block mode of
// its site-block section ('L'), with `flags`: a record with path items gets a block of its
// items and the OR of their category bits; in site-block mode a record without items gets
// the item "!SLBLOCK!" with bits 0x1000, and 0x1000 in its own bits. Returns the number of
// records read.
int PutListAddresses(std::uint16_t flags, bool siteBlockMode);
// RdbAddAlias(canonical, alias) for every pair of the loaded list's alias section.
void PutListAliases();

// The administrator's restricted sites (blocks 1 and 2), then approved sites (blocks 1 and
// 2), all 512 slots each. An entry of the database's own sense gets categories 0xFFFF and
// flags 0, one of the opposite sense categories 0 and flags 0x0102; an entry with a path
// gets one path item (bits 0xFFFF for a restriction, 0 for an approval). Entries are
// resolved with `resolve`, whose first address replaces the entry's stored address; without
// an answer the stored address alone is used. An entry that names an existing file stands
// for its lines (sitelists/site_entries.h), and its slot takes the file's full path when that
// fits. An entry whose path key would be longer than a path item holds (252 bytes) is
// skipped, as neither a shorter key nor the whole site would say what the administrator
// wrote.
void PutSiteEntries(bool approving, const sitelists::SiteResolver& resolve);
// The 1024 domain records: approved names with categories 0xFEFE and flags 0x0080,
// restricted names with categories 0 and flags 0x0182, under their labels reversed
// (x.y.z as z.y.x, a leading or trailing '.' dropped) unless they are dotted numbers.
void PutDomains();
// The address 0xFFFFFFFF (categories 0xFFFF, flags 0, item "TEST" with bits 0) and the name
// "Z.Z.Z.Z.Z" (categories 0xFFFF, flags 0x0080).
void PutSentinels();

// The key of a URL path in the current format level's form (PathKeyForLevel); `out`
// receives it. Returns its length in bytes.
int MakePathKey(std::string_view text, std::vector<std::uint8_t>& out);
// The name key a domain record is stored under (rule of PutDomains).
std::string DomainKey(std::string_view name);

int ListFormatLevel();
void SetListFormatLevel(int level);
// The layout of the loaded list (empty when none is loaded).
const dbread::ListLayout& LoadedListLayout();
// Frees the loaded list; the format level stays.
void ReleaseCategoryList();
// Drops every state: no list, format level 1.
void ResetListParser();

}  // namespace dbbuild
