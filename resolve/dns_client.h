// The console's own DNS client: A-record lookups over UDP port 53 through the socket
// library's entry table, following name-server referrals wave by wave from the servers
// configured in the settings (QTXDNS1..QTXDNS4 of key 5138).
//
// A lookup sends its queries of one wave to several servers at once and collects every
// address it learns into the caller's address list (128 words, at most 127 filled, then a
// 0 word; an address word holds the first octet in its lowest-addressed byte). Wave 1 asks
// the configured servers; each later wave asks the name servers of the referral table that
// are untried, or that answered usefully before and have had fewer than 32 queries. A
// server whose reply teaches nothing is retired (tries = 32). The lookup ends when a wave
// finds nobody to ask. The last lookup's name and result are cached (one entry, compared
// without regard to letter case). The socket library must be loaded and started by the
// caller. GUI thread only; one lookup at a time (a lookup started from a message dispatched
// during another returns 0 at once).
//
// Waiting: a wave waits for one reply when it sent one query, for k - 1 replies when it sent
// k > 1, and at most 45 seconds. It blocks in the socket library's select on the open query
// sockets (the library dispatches window messages while select blocks), then reads every
// socket whose FIONREAD count is not 0, then pumps messages: silent servers cost no CPU.
// (Only when more than 64 queries are open, or select fails, does it also wake every 20 or
// 50 ms.) A socket that select reports readable with nothing waiting holds an error (the
// server's port refused) or an empty datagram: one read tells which, and an error leaves
// that query out of the wave. Once the awaited replies are in while queries of the wave are
// still open, the wave keeps collecting for a grace of 200 ms (or until every open query
// has replied): a referring server asked again beside the server holding the answer must
// not end the wave before that answer arrives. A wave also ends as soon as none of its
// queries is still open (all answered, or their sockets failed).
//
// Guards against hostile or broken replies (every read is checked against the number of
// bytes actually received, never against the receive buffer):
//   - a name follows at most 16 compression pointers and decodes to at most 255
//     characters (pointers included), or it is rejected, as is a name running outside the
//     datagram; a length byte with either of its top two bits set begins a pointer, so no
//     label of 64 bytes or more is ever taken;
//   - a record whose fixed part or data runs past the datagram rejects the reply;
//   - the referral table holds at most 128 records and the address list at most 127
//     addresses: further names and addresses are dropped (and teach nothing);
//   - a name-server name longer than 127 characters is not recorded (a cut name could
//     match another server).
// An additional-section address whose owner is no known name server goes to the list and
// counts as teaching something, even when the list already holds it.
// Names given to ResolveHost: a name longer than 127 characters, or one whose query would
// carry a label longer than 63 characters, is refused before any query is built: the
// result is 0, nothing is sent and the cache is left as it was. (Within 127 characters the
// query name stays below its limit of 255 bytes. Labels stop at the first empty one, so
// "a..b" asks for "a", and a trailing dot changes nothing.)
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "resolve/winsock.h"
#include "sitelists/site_entries.h"

namespace resolve {

constexpr int kDnsServers = 4;
constexpr std::size_t kDnsServerChars = 64;
constexpr int kReferralRecords = 128;
constexpr int kMaxAddresses = 127;          // address words filled; one more 0 word ends them
constexpr std::size_t kMaxHostChars = 127;  // names given to ResolveHost, cached names, NS names
constexpr std::size_t kMaxLabelChars = 63;
constexpr std::size_t kMaxNameChars = 255;  // a decoded name
constexpr int kMaxNamePointers = 16;        // compression pointers followed in one name
constexpr std::size_t kQueryBufferSize = 512;
constexpr std::size_t kReplyBufferSize = 16384;
constexpr std::uint32_t kWaveTimeoutMs = 45000;
constexpr std::uint32_t kWaveGraceMs = 200;
constexpr std::uint32_t kRetiredTries = 32;
constexpr std::uint16_t kDnsPort = 53;

// The caller's address list.
using sitelists::AddressList;

struct ReferralRecord {
    std::string name;            // the name server's host name, at most 127 characters
    std::uint32_t address = 0;   // address word; 0 = no address yet
    std::uint32_t answered = 0;  // 1 once it gave a useful reply
    std::uint32_t tries = 0;     // queries sent to it; 32 retires it
};

struct LastLookupEntry {
    std::string name;  // empty at program start
    AddressList addresses{};
    int count = 0;
};

struct DnsClientState {
    std::array<std::string, kDnsServers> DnsServerTable;
    int DnsServerCount = 0;  // 0: not loaded yet (the resolvers reload then)
    std::uint16_t QueryId = 0;
    std::array<ReferralRecord, kReferralRecords> ReferralTable;
    int referralCount = 0;
    LastLookupEntry LastLookup;
    bool busy = false;  // a lookup is running

    // Wave timing; tests shorten the wave or turn the grace off (0) to see its effect.
    std::uint32_t waveTimeoutMs = kWaveTimeoutMs;
    std::uint32_t waveGraceMs = kWaveGraceMs;
};
DnsClientState& DnsClient();
// Back to the state of program start (tests).
void ResetDnsClient();

// Reads the four server settings into DnsServerTable (at most 64 characters each) and, if
// none is set, writes the four default root servers to the settings (the table stays empty
// until the next ReloadDnsServers).
void LoadDnsServers();
// Reads the four server settings into DnsServerTable again; the number of non-empty ones.
int ReloadDnsServers();

// 1 if the text starts with a dotted IPv4 address (blanks before each number allowed,
// numbers 0..255 of at least one digit, anything after the fourth number ignored), with its
// octets in `octets`; else 0.
int ParseDottedQuad(std::string_view text, std::array<std::uint8_t, 4>& octets);

// The query for an A record of `name` with ID `id`, as sent (12 + L + 4 bytes); empty when
// the name is refused (see above).
std::string BuildDnsQuery(std::string_view name, std::uint16_t id);

// Looks up the A records of `name` into `list` (cleared by the caller). The number of
// addresses found, 0 when none.
int ResolveHost(std::string_view name, AddressList& list);

// A datagram socket connected to `address` (an address word), port 53, that has sent
// `message` once; INVALID_SOCKET when creating, connecting or sending failed.
ws::SOCKET SendDnsQuery(std::uint32_t address, std::span<const std::uint8_t> message);

// Takes what a reply teaches: its A answers into `list`/`count`, its NS names into the
// referral table, its additional A records into the referral table (owner is a known name
// server) or into the list (otherwise). 1 if it taught anything, 0 if not or if it was
// rejected (wrong ID, more than one question, a bad name, a record past its end); what was
// taken before a rejection stays taken.
int ParseDnsReply(std::span<const std::uint8_t> reply, std::uint16_t expectedId, AddressList& list,
                  int& count);

// Decodes the name at `position` of `reply` into `out` (labels joined by '.', no final
// dot). The position behind the name (behind its first compression pointer, if it has one),
// or -1 when the name is rejected.
int DecodeDnsName(std::span<const std::uint8_t> reply, std::size_t position, std::string& out);

}  // namespace resolve
