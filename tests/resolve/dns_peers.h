// Real DNS peers on loopback for tests of name resolution.
//
// NsdChain starts Debian's nsd as a three-level referral chain: a root zone on base.1
// delegating "test." to ns.nic.test on base.2, which delegates "veldana.test." to
// ns.veldana.test on base.3, which holds the A records (www.veldana.test has two). Every
// instance has its own configuration, zone files, pidfile and logs in a temporary directory,
// response rate limiting off; the destructor stops each one by its pid.
//
// UdpResponder binds one 127.x address on port 53 and answers each datagram it receives
// with what its script returns (any bytes: malformed replies too, several replies, or none);
// it records every query. DnsMessage builds the datagrams.
//
// Both tell when the machine cannot host them (nsd missing, port 53 not bindable), so that
// a test can skip with the reason instead of failing.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace dnspeers {

using Bytes = std::vector<std::uint8_t>;

// The address word (first octet in the lowest-addressed byte) of a dotted address.
std::uint32_t Address(std::string_view dotted);
// A name in the uncompressed wire form: length-prefixed labels and a 0 byte.
Bytes EncodeName(std::string_view name);
std::uint16_t MessageId(const Bytes& message);  // 0 when shorter than 2 bytes

// A DNS message: header, at most one question, records in three sections. Counts follow
// what was added unless overridden. Names are written uncompressed.
class DnsMessage {
  public:
    enum Section { kAnswer = 0, kAuthority = 1, kAdditional = 2 };

    explicit DnsMessage(std::uint16_t id, std::uint16_t flags = 0x8400);
    // The reply to `query`: its ID and its question copied.
    static DnsMessage ReplyTo(const Bytes& query);

    DnsMessage& Question(std::string_view name, std::uint16_t type = 1);
    DnsMessage& Record(Section section, std::string_view owner, std::uint16_t type, Bytes data);
    DnsMessage& A(Section section, std::string_view owner, std::string_view dotted);
    DnsMessage& Ns(Section section, std::string_view owner, std::string_view server);
    DnsMessage& Count(int field, std::uint16_t value);  // field 0..3: QD, AN, NS, AR

    Bytes Build() const;

  private:
    std::uint16_t id_;
    std::uint16_t flags_;
    Bytes question_;
    int questions_ = 0;
    Bytes sections_[3];
    int counts_[3] = {0, 0, 0};
    int overrides_[4] = {-1, -1, -1, -1};
};

class UdpResponder {
  public:
    // What to send back for one query: any number of datagrams.
    using Script = std::function<std::vector<Bytes>(const Bytes& query)>;

    UdpResponder(std::string address, Script script, int replyDelayMs = 0);
    ~UdpResponder();
    UdpResponder(const UdpResponder&) = delete;
    UdpResponder& operator=(const UdpResponder&) = delete;

    bool ok() const { return fd_ >= 0; }
    // The machine cannot host it (port 53 not bindable): a reason to skip, not a fault.
    bool unavailable() const { return unavailable_; }
    const std::string& error() const { return error_; }
    const std::string& address() const { return address_; }
    std::vector<Bytes> Queries() const;

  private:
    void Run();

    std::string address_;
    Script script_;
    int replyDelayMs_;
    int fd_ = -1;
    int stopFd_ = -1;
    std::string error_;
    bool unavailable_ = false;
    mutable std::mutex mutex_;
    std::vector<Bytes> queries_;
    std::thread thread_;
};

// A script that never answers.
std::vector<Bytes> Silent(const Bytes&);

class NsdChain {
  public:
    // base: the first three octets with their dot, e.g. "127.53.1."; `zoneLines` are added
    // to the veldana.test zone (relative names allowed).
    explicit NsdChain(std::string base, std::string zoneLines = {});
    ~NsdChain();
    NsdChain(const NsdChain&) = delete;
    NsdChain& operator=(const NsdChain&) = delete;

    bool ok() const { return error_.empty(); }
    // nsd is missing or cannot bind port 53: a reason to skip, not a fault.
    bool unavailable() const { return unavailable_; }
    const std::string& error() const { return error_; }
    std::string RootServer() const { return base_ + "1"; }
    std::string TldServer() const { return base_ + "2"; }
    std::string ZoneServer() const { return base_ + "3"; }
    // The addresses of www.veldana.test.
    static std::vector<std::string> WwwAddresses() { return {"10.1.2.3", "10.1.2.4"}; }

  private:
    void Start(const std::string& zoneLines);
    void Stop();

    std::string base_;
    std::string dir_;
    std::vector<pid_t> pids_;
    std::string error_;
    bool unavailable_ = false;
};

// Why nsd cannot run here, or empty when it can (found on PATH or in /usr/sbin).
std::string NsdUnavailable();

}  // namespace dnspeers
