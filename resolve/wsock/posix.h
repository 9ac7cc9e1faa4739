// The library's only way to the system: thin wrappers over the POSIX calls it needs, with
// names and types of their own. This is the one part of the library that includes the
// system's socket headers, and it never refers to a function by a name the library itself
// exports (socket, bind, connect, ...): those few are looked up in the C library directly,
// so that the library's own calls always reach the system, however it was loaded.
//
// Results: a count or descriptor (>= 0), or -errno. Addresses and ports travel in network
// order. Every descriptor made here is non-blocking and close-on-exec at the system level;
// the library waits for them itself.
#pragma once

#include <poll.h>

#include <cstddef>
#include <cstdint>

namespace wsock::sys {

struct Inet4 {
    std::uint32_t address = 0;  // network order
    std::uint16_t port = 0;     // network order
};

enum class Kind { kStream, kDatagram };

// Descriptor, never below 3 (0 to 2 are left to the standard streams).
int OpenSocket(Kind kind, int protocol);
int Close(int fd);
int Bind(int fd, const Inet4& address);
// 0 when connected, -EINPROGRESS while the connection is being made.
int Connect(int fd, const Inet4& address);
// The outcome of a connection attempt once the descriptor is writable: 0 or -errno.
int PendingError(int fd);
int Listen(int fd, int backlog);
int Accept(int fd, Inet4* peer);
int LocalAddress(int fd, Inet4* address);
int PeerAddress(int fd, Inet4* address);

struct Transfer {
    bool outOfBand = false;
    bool peek = false;
    bool dontRoute = false;
};
// One receive without waiting; *truncated tells that a datagram did not fit.
long Receive(int fd, void* buffer, std::size_t length, Transfer flags, Inet4* from,
             bool* truncated);
// One send without waiting (to: nullptr for a connected socket). Never raises SIGPIPE.
long Send(int fd, const void* bytes, std::size_t length, Transfer flags, const Inet4* to);

// Bytes waiting: on a datagram socket the size of the next datagram.
int BytesWaiting(int fd, std::uint32_t* count);

enum class Option {
    kDebug,
    kAcceptConnections,
    kReuseAddress,
    kKeepAlive,
    kDontRoute,
    kBroadcast,
    kOutOfBandInline,
    kSendBuffer,
    kReceiveBuffer,
    kError,  // pending error as -errno (read only)
    kType,   // 1 stream, 2 datagram (read only)
    kNoDelay,
};
int GetOption(int fd, Option option, int* value);
int SetOption(int fd, Option option, int value);
int GetLinger(int fd, bool* on, int* seconds);
int SetLinger(int fd, bool on, int seconds);

// poll(2), restarted after signals.
int Poll(pollfd* fds, std::size_t count, int timeoutMs);
// A monotonic clock in milliseconds.
std::int64_t NowMs();

// Name service. Failures: the WSA-style kinds below, as negative numbers.
enum LookupFailure { kHostNotFound = -1, kTryAgain = -2, kNoRecovery = -3, kNoData = -4 };
// IPv4 addresses of a name (a dotted name gives itself): the count stored, at most
// `capacity`; the canonical name into `canonical`.
int ResolveName(const char* name, std::uint32_t* addresses, int capacity, char* canonical,
                std::size_t canonicalSize);
// The name of an address (network order).
int ResolveAddress(std::uint32_t address, char* name, std::size_t nameSize);
int HostName(char* name, std::size_t size);

// A service or protocol entry, copied into caller storage: names end with a zero byte,
// aliases are stored one after the other, each with its zero byte, `aliasCount` of them.
struct NamedEntry {
    char name[64];
    char aliases[192];
    int aliasCount;
    int number;      // service: port in network order; protocol: its number
    char proto[16];  // service: its protocol
};
int ServiceByName(const char* name, const char* proto, NamedEntry* out);
int ServiceByPort(int portNetworkOrder, const char* proto, NamedEntry* out);
int ProtocolByName(const char* name, NamedEntry* out);
int ProtocolByNumber(int number, NamedEntry* out);

// False when the C library's socket calls could not be found (the library cannot work).
bool Available();

}  // namespace wsock::sys
