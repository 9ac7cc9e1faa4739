// The administrator's site entries as the resolvers and the database builders walk them.
// A slot's text is an entry, unless it names an existing local file (looked for as the
// file search looks, settings::ResolveFilePath): then every line of that file, up to the
// first empty one and 127 characters each, is an entry, and the slot itself is not.
// An unreadable file stands for no entries.
//
// The builders do not resolve names themselves: their caller passes a SiteResolver.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "sitelists/site_list.h"

namespace sitelists {

// The addresses of one site, first octet in the lowest byte, ended by the first 0.
constexpr int kAddressWords = 128;
using AddressList = std::array<std::uint32_t, kAddressWords>;
// Fills `list` (cleared by the caller) with the addresses of a site text: 1 when it did,
// else 0.
using SiteResolver = std::function<int(std::string_view siteText, AddressList& list)>;

enum class EntryKind {
    kSite,      // a slot's own text
    kFileSlot,  // a slot that names a readable file; its lines follow as kFileLine
    kFileLine,  // a line of that file
};
struct SiteEntry {
    SiteList list;
    int index = 0;  // the slot, 0..1023 (block 2 from 512)
    EntryKind kind = EntryKind::kSite;
    std::string_view text;  // for kFileSlot the slot's text as it was before the walk
};

// Host: behind the first "://" (or from the start) up to the first '/' or ':'. Path:
// everything behind the first '/' after the host (a port is skipped). Always 1.
int SplitUrl(std::string_view text, std::string& host, std::string& path);
// Replaces a text of 3 or more characters that holds "://" by what follows it.
void StripScheme(std::string& text);

// How a walk goes through the store.
enum class EmptySlot {
    kEndsBlock,  // the first empty slot ends its block of 512
    kSkipped,    // every slot of the list is looked at
};
enum class FilePaths {
    kKept,      // slots stay as they are
    kRecorded,  // a slot that names a file takes the file's full path, when it fits
};
struct SiteWalk {
    std::array<SiteList, 2> lists;  // in this order, each block 1 then block 2
    EmptySlot emptySlot = EmptySlot::kEndsBlock;
    FilePaths filePaths = FilePaths::kKept;
};

// Calls `visit` for every entry of the walk, in order. The directories of the file search
// are listed once for the whole walk (platform::FileSearchSnapshot).
void ForEachSiteEntry(const SiteWalk& walk, const std::function<void(const SiteEntry&)>& visit);

}  // namespace sitelists
