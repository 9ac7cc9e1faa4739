#include "resolve/dns_client.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/process_state.h"
#include "resolve/socket_library.h"
#include "settings/settings_store.h"
#include "ui/dialog.h"
#include "ui/messages.h"
#include "ui/progress.h"

namespace resolve {
namespace {

constexpr std::uint16_t kTypeA = 1;
constexpr std::uint16_t kTypeNs = 2;
constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kRecordFixedSize = 10;  // TYPE, CLASS, TTL, RDLENGTH
constexpr int kSlots = kReferralRecords;
// With more open queries than one select can watch, the ones left out are swept at least
// this often.
constexpr std::uint32_t kUnwatchedSweepMs = 20;
// When select itself fails, the wait falls back to the message queue alone for this long.
constexpr std::uint32_t kSelectFailedWaitMs = 50;

constexpr std::array<const char*, kDnsServers> kDefaultServers = {"198.41.0.4", "128.9.0.107",
                                                                  "192.33.4.12", "128.8.10.90"};

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

std::uint16_t Get16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

// The four bytes as an address word: the first in the lowest-addressed byte.
std::uint32_t AddressWord(const std::uint8_t* octets) {
    std::uint32_t word;
    std::memcpy(&word, octets, sizeof word);
    return word;
}

std::array<std::uint8_t, 4> OctetsOf(std::uint32_t word) {
    std::array<std::uint8_t, 4> octets;
    std::memcpy(octets.data(), &word, sizeof word);
    return octets;
}

// Appends a non-zero address that is not in the list yet, while there is room. 1 if added.
int AddAddress(AddressList& list, int& count, std::uint32_t address) {
    if (address == 0) return 0;
    int filled = std::clamp(count, 0, kMaxAddresses);
    if (std::find(list.begin(), list.begin() + filled, address) != list.begin() + filled) return 0;
    if (filled >= kMaxAddresses) return 0;
    list[filled] = address;
    list[filled + 1] = 0;
    count = filled + 1;
    return 1;
}

int FindReferral(const DnsClientState& st, std::string_view name) {
    for (int i = 0; i < st.referralCount; ++i)
        if (EqualsNoCase(st.ReferralTable[i].name, name)) return i;
    return -1;
}

bool SocketsUsable() {
    const SocketEntryTable& t = Sockets();
    return SocketLibrary().SocketLibraryHandle && t.socket && t.connect && t.send && t.recv &&
           t.ioctlsocket && t.closesocket && t.htons && t.select;
}

// The query sockets of one wave, by slot (configured entry or referral record index).
// Whatever is still open when the wave ends is closed.
class QuerySlots {
  public:
    QuerySlots() { sockets_.fill(ws::INVALID_SOCKET); }
    ~QuerySlots() {
        for (int i = 0; i < kSlots; ++i) Close(i);
    }
    QuerySlots(const QuerySlots&) = delete;
    QuerySlots& operator=(const QuerySlots&) = delete;

    ws::SOCKET operator[](int i) const { return sockets_[i]; }
    void Put(int i, ws::SOCKET s) {
        Close(i);
        sockets_[i] = s;
        ++open_;
    }
    void Close(int i) {
        if (sockets_[i] == ws::INVALID_SOCKET) return;
        // The library may have been released by a message handler during the wait; its
        // sockets went with it.
        if (SocketLibrary().SocketLibraryHandle && Sockets().closesocket)
            Sockets().closesocket(sockets_[i]);
        sockets_[i] = ws::INVALID_SOCKET;
        --open_;
    }
    int open() const { return open_; }

  private:
    std::array<ws::SOCKET, kSlots> sockets_;
    int open_ = 0;
};

// Blocks until one of the open sockets has something to read or `limitMs` passes; the
// socket library dispatches window messages meanwhile. `readable` gets the sockets select
// reported.
void WaitForReadable(const QuerySlots& slots, std::uint32_t limitMs, ws::fd_set& readable) {
    ws::FdZero(readable);
    for (int i = 0; i < kSlots; ++i)
        if (slots[i] != ws::INVALID_SOCKET) ws::FdSet(slots[i], readable);
    if (static_cast<int>(readable.fd_count) < slots.open())
        limitMs = std::min(limitMs, kUnwatchedSweepMs);
    ws::timeval timeout{static_cast<long>(limitMs / 1000),
                        static_cast<long>(limitMs % 1000) * 1000};
    int ready = Sockets().select(0, &readable, nullptr, nullptr, &timeout);
    if (ready == ws::SOCKET_ERROR) {
        // Cancelled or refused (another blocking call runs): wait on the window queue for a
        // short while instead, and sweep all the same.
        ws::FdZero(readable);
        ui::WaitForInput({}, static_cast<int>(std::min(limitMs, kSelectFailedWaitMs)));
    } else if (ready == 0) {
        ws::FdZero(readable);
    }
}

struct Wave {
    int number = 1;
    int awaited = 0;
    int replies = 0;
};

// Reads every socket with a datagram waiting and takes what it teaches. A socket that
// fails (FIONREAD, or a read) is left out of the wave.
void Sweep(DnsClientState& st, QuerySlots& slots, const ws::fd_set& readable, Wave& wave,
           std::vector<std::uint8_t>& buffer, AddressList& list, int& count) {
    const SocketEntryTable& t = Sockets();
    for (int i = 0; i < kSlots; ++i) {
        ws::SOCKET s = slots[i];
        if (s == ws::INVALID_SOCKET) continue;
        ws::u_long waiting = 0;
        if (t.ioctlsocket(s, ws::FIONREAD, &waiting) != 0) {
            slots.Close(i);
            continue;
        }
        // Readable with nothing waiting: an error is pending (the server's port refused
        // the query) or an empty datagram came. The read tells which.
        if (waiting == 0 && !ws::FdIsSet(s, readable)) continue;
        int got =
            t.recv(s, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0);
        if (got < 0) {
            // Nothing there after all (the socket does not block): keep waiting on it.
            if (t.WSAGetLastError && t.WSAGetLastError() == ws::WSAEWOULDBLOCK) continue;
            slots.Close(i);
            continue;
        }
        std::span<const std::uint8_t> reply(buffer.data(), static_cast<std::size_t>(got));
        int learned = ParseDnsReply(reply, st.QueryId, list, count);
        if (wave.number > 1) {
            ReferralRecord& r = st.ReferralTable[i];
            if (learned)
                r.answered = 1;
            else
                r.tries = kRetiredTries;
        }
        slots.Close(i);
        ++wave.replies;
    }
}

// Collects replies until the wave has what it waits for (plus the grace while queries are
// still open), nothing is open any more, or the wave's time is up.
void WaitForWave(DnsClientState& st, QuerySlots& slots, Wave& wave, AddressList& list, int& count) {
    ui::PumpMessages();
    ui::PumpMessages();
    std::vector<std::uint8_t> buffer(kReplyBufferSize);
    const std::uint32_t start = ui::GetTickCount();
    bool inGrace = false;
    std::uint32_t graceStart = 0;
    ws::fd_set readable{};
    for (;;) {
        if (slots.open() == 0 || !SocketsUsable()) return;
        const std::uint32_t now = ui::GetTickCount();
        const std::uint32_t elapsed = now - start;
        if (elapsed >= st.waveTimeoutMs) return;
        std::uint32_t limit = st.waveTimeoutMs - elapsed;
        if (wave.replies >= wave.awaited) {
            if (st.waveGraceMs == 0) return;
            if (!inGrace) {
                inGrace = true;
                graceStart = now;
            }
            const std::uint32_t inGraceMs = now - graceStart;
            if (inGraceMs >= st.waveGraceMs) return;
            limit = std::min(limit, st.waveGraceMs - inGraceMs);
        }
        WaitForReadable(slots, limit, readable);
        if (!SocketsUsable()) return;
        Sweep(st, slots, readable, wave, buffer, list, count);
        ui::PumpMessages();
    }
}

// Sends this wave's queries; the number sent.
int SendWave(DnsClientState& st, QuerySlots& slots, int number, const std::string& query) {
    std::span<const std::uint8_t> message(reinterpret_cast<const std::uint8_t*>(query.data()),
                                          query.size());
    char text[160];
    int sent = 0;
    if (number == 1) {
        for (int i = 0; i < kDnsServers; ++i) {
            std::array<std::uint8_t, 4> octets{};
            const std::string& entry = st.DnsServerTable[i];
            if (!ParseDottedQuad(entry, octets)) continue;
            std::snprintf(text, sizeof text, "Please Wait: Connecting to DNS Server #%d: %s", i + 1,
                          entry.c_str());
            ui::SetProgressText(text);
            ws::SOCKET s = SendDnsQuery(AddressWord(octets.data()), message);
            if (s == ws::INVALID_SOCKET) continue;
            slots.Put(i, s);
            ++sent;
        }
        return sent;
    }
    for (int i = 0; i < st.referralCount; ++i) {
        ReferralRecord& r = st.ReferralTable[i];
        if (r.address == 0) continue;
        const bool untried = r.answered == 0 && r.tries == 0;
        const bool askAgain = r.answered == 1 && r.tries < kRetiredTries;
        if (!untried && !askAgain) continue;
        std::array<std::uint8_t, 4> o = OctetsOf(r.address);
        std::snprintf(text, sizeof text,
                      "Please Wait: Connecting to secondary DNS Server #%d: %d.%d.%d.%d", i + 1,
                      o[0], o[1], o[2], o[3]);
        ui::SetProgressText(text);
        ++r.tries;
        ws::SOCKET s = SendDnsQuery(r.address, message);
        if (s == ws::INVALID_SOCKET) continue;
        slots.Put(i, s);
        ++sent;
    }
    return sent;
}

class BusyMark {
  public:
    explicit BusyMark(bool& flag) : flag_(flag) { flag_ = true; }
    ~BusyMark() { flag_ = false; }
    BusyMark(const BusyMark&) = delete;
    BusyMark& operator=(const BusyMark&) = delete;

  private:
    bool& flag_;
};

std::string ServerValueName(int n) {
    return "QTXDNS" + std::to_string(n);
}

std::string ReadServerSetting(int n) {
    std::string text = settings::ReadSetting(settings::kKeyDnsServers, ServerValueName(n), "");
    if (text.size() > kDnsServerChars) text.resize(kDnsServerChars);
    return text;
}

}  // namespace

DnsClientState& DnsClient() {
    static DnsClientState state;
    return state;
}

void ResetDnsClient() {
    DnsClient() = DnsClientState{};
}
namespace {
const platform::StateReset kResetDnsClient{platform::StateLayer::kResolve, &ResetDnsClient};
}  // namespace

int ReloadDnsServers() {
    auto& st = DnsClient();
    int count = 0;
    for (int n = 1; n <= kDnsServers; ++n) {
        st.DnsServerTable[n - 1] = ReadServerSetting(n);
        if (!st.DnsServerTable[n - 1].empty()) ++count;
    }
    return count;
}

void LoadDnsServers() {
    if (ReloadDnsServers() != 0) return;
    for (int n = 1; n <= kDnsServers; ++n)
        settings::WriteSetting(settings::kKeyDnsServers, ServerValueName(n),
                               kDefaultServers[n - 1]);
}

int ParseDottedQuad(std::string_view text, std::array<std::uint8_t, 4>& octets) {
    std::size_t at = 0;
    std::array<std::uint8_t, 4> parsed{};
    for (int part = 0; part < 4; ++part) {
        while (at < text.size() && text[at] == ' ') ++at;
        int value = 0, digits = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            value = value * 10 + (text[at] - '0');
            if (value > 255) return 0;
            ++digits;
            ++at;
        }
        if (digits == 0) return 0;
        parsed[part] = static_cast<std::uint8_t>(value);
        if (part == 3) break;
        if (at >= text.size() || text[at] != '.') return 0;
        ++at;
    }
    octets = parsed;
    return 1;
}

std::string BuildDnsQuery(std::string_view name, std::uint16_t id) {
    if (name.size() > kMaxHostChars) return {};
    std::string query(kHeaderSize, '\0');
    query[0] = static_cast<char>(id >> 8);
    query[1] = static_cast<char>(id & 0xff);
    query[2] = 0x01;  // standard query, recursion desired
    query[5] = 0x01;  // one question
    std::size_t start = 0;
    while (start < name.size()) {
        std::size_t dot = name.find('.', start);
        std::size_t end = dot == std::string_view::npos ? name.size() : dot;
        if (end == start) break;  // an empty label ends the name
        if (end - start > kMaxLabelChars) return {};
        query += static_cast<char>(end - start);
        query.append(name.substr(start, end - start));
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    query += '\0';
    query.append("\0\x01\0\x01", 4);  // QTYPE A, QCLASS IN
    return query;
}

ws::SOCKET SendDnsQuery(std::uint32_t address, std::span<const std::uint8_t> message) {
    if (!SocketsUsable()) return ws::INVALID_SOCKET;
    const SocketEntryTable& t = Sockets();
    ws::SOCKET s = t.socket(ws::AF_INET, ws::SOCK_DGRAM, 0);
    if (s == ws::INVALID_SOCKET) return ws::INVALID_SOCKET;
    ws::sockaddr_in to{};
    to.sin_family = ws::AF_INET;
    to.sin_port = t.htons(kDnsPort);
    to.sin_addr.s_addr = address;
    if (t.connect(s, reinterpret_cast<const ws::sockaddr*>(&to), sizeof to) == ws::SOCKET_ERROR ||
        t.send(s, reinterpret_cast<const char*>(message.data()), static_cast<int>(message.size()),
               0) == ws::SOCKET_ERROR) {
        t.closesocket(s);
        return ws::INVALID_SOCKET;
    }
    // Replies are read only when some are waiting; should a readiness report prove false,
    // the read must not block the wave.
    ws::u_long nonBlocking = 1;
    t.ioctlsocket(s, ws::FIONBIO, &nonBlocking);
    return s;
}

int DecodeDnsName(std::span<const std::uint8_t> reply, std::size_t position, std::string& out) {
    out.clear();
    std::size_t at = position;
    std::size_t end = 0;  // behind the first pointer; 0 while none was met
    int pointers = 0;
    for (;;) {
        if (at >= reply.size()) return -1;
        const std::uint8_t length = reply[at];
        if ((length & 0xC0) != 0) {
            if (at + 1 >= reply.size() || ++pointers > kMaxNamePointers) return -1;
            if (end == 0) end = at + 2;
            at = Get16(reply, at) & 0x3FFF;
            continue;
        }
        if (length == 0) {
            ++at;
            break;
        }
        if (length >= 64) return -1;
        if (at + 1 + length > reply.size()) return -1;
        // `out` holds every label with its dot; the name is that less the final dot.
        if (out.size() + length > kMaxNameChars) return -1;
        out.append(reinterpret_cast<const char*>(reply.data() + at + 1), length);
        out += '.';
        at += 1 + length;
    }
    if (!out.empty()) out.pop_back();
    return static_cast<int>(end != 0 ? end : at);
}

int ParseDnsReply(std::span<const std::uint8_t> reply, std::uint16_t expectedId, AddressList& list,
                  int& count) {
    auto& st = DnsClient();
    if (reply.size() < kHeaderSize || Get16(reply, 0) != expectedId) return 0;
    const int questions = Get16(reply, 4);
    const int answers = Get16(reply, 6);
    const int authorities = Get16(reply, 8);
    const int additionals = Get16(reply, 10);
    if (questions > 1) return 0;

    std::size_t at = kHeaderSize;
    std::string name;
    if (questions == 1) {
        int next = DecodeDnsName(reply, at, name);
        if (next < 0 || static_cast<std::size_t>(next) + 4 > reply.size()) return 0;
        at = static_cast<std::size_t>(next) + 4;
    }

    // Reads one record's owner and fixed part; false when it runs past the datagram.
    std::uint16_t type = 0;
    std::size_t dataAt = 0, dataLength = 0;
    auto nextRecord = [&]() {
        int next = DecodeDnsName(reply, at, name);
        if (next < 0) return false;
        std::size_t fixed = static_cast<std::size_t>(next);
        if (fixed + kRecordFixedSize > reply.size()) return false;
        type = Get16(reply, fixed);
        dataLength = Get16(reply, fixed + 8);
        dataAt = fixed + kRecordFixedSize;
        if (dataAt + dataLength > reply.size()) return false;
        at = dataAt + dataLength;
        return true;
    };

    int learned = 0;
    for (int i = 0; i < answers; ++i) {
        if (!nextRecord()) return 0;
        if (type == kTypeA && dataLength == 4 &&
            AddAddress(list, count, AddressWord(reply.data() + dataAt)))
            learned = 1;
    }
    std::string server;
    for (int i = 0; i < authorities; ++i) {
        if (!nextRecord()) return 0;
        if (type != kTypeNs) continue;
        if (DecodeDnsName(reply, dataAt, server) < 0) return 0;
        if (FindReferral(st, server) >= 0) continue;
        if (server.size() > kMaxHostChars || st.referralCount >= kReferralRecords) continue;
        ReferralRecord& r = st.ReferralTable[st.referralCount++];
        r = ReferralRecord{};
        r.name = server;
        learned = 1;
    }
    for (int i = 0; i < additionals; ++i) {
        if (!nextRecord()) return 0;
        if (type != kTypeA || dataLength != 4) continue;
        const std::uint32_t address = AddressWord(reply.data() + dataAt);
        if (address == 0) continue;
        bool matched = false;
        for (int r = 0; r < st.referralCount; ++r) {
            if (!EqualsNoCase(st.ReferralTable[r].name, name)) continue;
            st.ReferralTable[r].address = address;
            matched = true;
        }
        if (!matched) {
            learned = 1;
            AddAddress(list, count, address);
        }
    }
    return learned;
}

int ResolveHost(std::string_view name, AddressList& list) {
    auto& st = DnsClient();
    if (st.busy) return 0;
    if (EqualsNoCase(name, st.LastLookup.name)) {
        list = st.LastLookup.addresses;
        return st.LastLookup.count;
    }
    std::string query = BuildDnsQuery(name, st.QueryId);
    if (query.empty()) return 0;
    BusyMark busy(st.busy);

    for (auto& r : st.ReferralTable) r = ReferralRecord{};
    st.referralCount = 0;
    int count = 0;
    for (int number = 1;; ++number) {
        ++st.QueryId;
        query[0] = static_cast<char>(st.QueryId >> 8);
        query[1] = static_cast<char>(st.QueryId & 0xff);
        QuerySlots slots;
        Wave wave;
        wave.number = number;
        const int sent = SendWave(st, slots, number, query);
        if (number > 1 && sent == 0) break;
        wave.awaited = sent <= 1 ? sent : sent - 1;
        WaitForWave(st, slots, wave, list, count);
    }

    st.LastLookup.addresses = list;
    st.LastLookup.count = count;
    st.LastLookup.name = std::string(name);
    return count;
}

}  // namespace resolve
