// Site resolution front ends: site texts as the administrator writes them (host names with
// optional scheme, port and path, dotted addresses, names of local files listing sites)
// turned into IPv4 address words, and the cache file IPADDR.LST of the results.
//
// IPADDR.LST is a sequence of 592-byte records appended in resolution order: an 80-byte
// zero-terminated host name, then 128 address words (the addresses found first, the rest 0).
// The first record of a host wins on lookup. A record whose name has no terminator, or a
// file that ends inside a record, never makes a reader run past it. A host longer than 79
// characters is resolved but not recorded (a cut name could match another host).
// A dotted address is its own answer everywhere here: it is never sent to DNS.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "sitelists/site_entries.h"

namespace resolve {

constexpr std::size_t kAddressRecordSize = 592;
constexpr std::size_t kRecordNameSize = 80;
constexpr int kAddressWords = sitelists::kAddressWords;
using sitelists::AddressList;


// A dotted host, or the system resolver's first address (0 when it gives none): 1; 0 when
// the resolver fails. Needs the socket library loaded and started.
int SystemResolve(std::string_view host, std::uint32_t& address);
// Resolves a site being added, with its own progress window. Loads the socket library
// when needed (it stays loaded). 1 with the address stored, else 0.
int ResolveEntry(std::string_view siteText, std::uint32_t& address);
// Resolves every site entry of the site list store anew (approved sites first, each block
// up to its first empty slot; a slot that names a file takes its full path and address 0)
// and rebuilds IPADDR.LST.
void ResolveAllSites();
// Resolves through the DNS client and records what it found; stores the first address in
// *address when given (0 when nothing was found).
void ResolveAndRecord(std::string_view siteText, std::uint32_t* address);
// Answers from IPADDR.LST, else through the DNS client (recording the result). 1 when
// `list` (cleared by the caller) was filled, else 0. The builders' SiteResolver.
int LookupOrResolve(std::string_view siteText, AddressList& list);

}  // namespace resolve
