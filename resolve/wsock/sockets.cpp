// The socket entries: creation, addresses, connections, transfers, select and ioctlsocket,
// options. Windows Sockets 1.1 semantics over the descriptors of posix.cpp.
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "resolve/winsock.h"
#include "resolve/wsock/api.h"
#include "resolve/wsock/posix.h"
#include "resolve/wsock/runtime.h"

namespace wsock {
namespace {

constexpr int kAddressLength = static_cast<int>(sizeof(ws::sockaddr_in));

// The address of a caller's sockaddr: 0, or the error to report.
int ToInet4(const ws::sockaddr* name, int namelen, sys::Inet4* out) {
    if (name == nullptr || namelen < kAddressLength) return ws::WSAEFAULT;
    ws::sockaddr_in sin;
    std::memcpy(&sin, name, sizeof sin);
    if (sin.sin_family != ws::AF_INET) return ws::WSAEAFNOSUPPORT;
    out->address = sin.sin_addr.s_addr;
    out->port = sin.sin_port;
    return 0;
}

// A remote address must name a host and a port (Windows refuses INADDR_ANY and port 0).
int ToRemote(const ws::sockaddr* name, int namelen, sys::Inet4* out) {
    if (int e = ToInet4(name, namelen, out)) return e;
    if (out->address == 0 || out->port == 0) return ws::WSAEADDRNOTAVAIL;
    return 0;
}

// Writes an address to a caller's sockaddr: 0, or WSAEFAULT when it does not fit.
int FromInet4(const sys::Inet4& a, ws::sockaddr* name, int* namelen) {
    if (name == nullptr || namelen == nullptr || *namelen < kAddressLength) return ws::WSAEFAULT;
    ws::sockaddr_in sin{};
    sin.sin_family = ws::AF_INET;
    sin.sin_port = a.port;
    sin.sin_addr.s_addr = a.address;
    std::memcpy(name, &sin, sizeof sin);
    *namelen = kAddressLength;
    return 0;
}

bool ToTransfer(int flags, sys::Transfer* out) {
    if (flags & ~(ws::MSG_OOB | ws::MSG_PEEK | ws::MSG_DONTROUTE)) return false;
    out->outOfBand = (flags & ws::MSG_OOB) != 0;
    out->peek = (flags & ws::MSG_PEEK) != 0;
    out->dontRoute = (flags & ws::MSG_DONTROUTE) != 0;
    return true;
}

ws::SOCKET FailSocket(int wsaError) {
    Fail(wsaError);
    return ws::INVALID_SOCKET;
}

// Waits for one socket unless it is non-blocking (then -EAGAIN stands).
long WaitFor(const SocketRef& sock, short events, const std::function<long()>& attempt) {
    if (sock.nonBlocking) return attempt();
    pollfd p{sock.fd, events, 0};
    return Block(std::span<pollfd>(&p, 1), -1, attempt);
}

// The common start of a socket entry: 0 with *sock set, or the error to report.
int Enter(ws::SOCKET s, SocketRef* sock) {
    if (int e = CallAllowed()) return e;
    if (!FindSocket(s, sock)) return ws::WSAENOTSOCK;
    return 0;
}

int Receive(ws::SOCKET s, char* buf, int len, int flags, ws::sockaddr* from, int* fromlen) {
    SocketRef sock;
    if (int e = Enter(s, &sock)) return Fail(e);
    if (len < 0 || (buf == nullptr && len > 0)) return Fail(ws::WSAEFAULT);
    if (from != nullptr && (fromlen == nullptr || *fromlen < kAddressLength))
        return Fail(ws::WSAEFAULT);
    sys::Transfer transfer;
    if (!ToTransfer(flags, &transfer)) return Fail(ws::WSAEOPNOTSUPP);
    bool truncated = false;
    sys::Inet4 source;
    long n = WaitFor(sock, transfer.outOfBand ? POLLPRI : POLLIN, [&]() -> long {
        return sys::Receive(sock.fd, buf, static_cast<std::size_t>(len), transfer, &source,
                            &truncated);
    });
    if (n < 0) return FailErrno(n);
    // A connected stream names no source; `from` is then left as it was.
    if (from != nullptr && (source.address != 0 || source.port != 0))
        FromInet4(source, from, fromlen);
    // As on Windows: a datagram larger than the buffer fills it, the rest is lost, and the
    // call reports the loss.
    if (truncated) return Fail(ws::WSAEMSGSIZE);
    return static_cast<int>(n);
}

int Transmit(ws::SOCKET s, const char* buf, int len, int flags, const sys::Inet4* to) {
    SocketRef sock;
    if (int e = Enter(s, &sock)) return Fail(e);
    if (len < 0 || (buf == nullptr && len > 0)) return Fail(ws::WSAEFAULT);
    sys::Transfer transfer;
    if ((flags & ws::MSG_PEEK) != 0 || !ToTransfer(flags, &transfer))
        return Fail(ws::WSAEOPNOTSUPP);
    // A blocking send returns when every byte is handed to the system (a datagram goes
    // whole or not at all). When the system fails part way, what went is reported as sent
    // (the next call reports the failure); a cancelled call fails with WSAEINTR however
    // much went, as on Windows, where only closesocket is then of use.
    std::size_t sent = 0;
    long r = WaitFor(sock, POLLOUT, [&]() -> long {
        do {
            long n =
                sys::Send(sock.fd, buf + sent, static_cast<std::size_t>(len) - sent, transfer, to);
            if (n < 0) return n;
            sent += static_cast<std::size_t>(n);
        } while (sent < static_cast<std::size_t>(len));
        return static_cast<long>(sent);
    });
    if (r == -EPIPE && !sock.connected) return Fail(ws::WSAENOTCONN);
    if (r < 0 && (sent == 0 || r == -EINTR)) return FailErrno(r);
    return static_cast<int>(r < 0 ? static_cast<long>(sent) : r);
}

}  // namespace

ws::SOCKET Socket(int af, int type, int protocol) {
    if (int e = CallAllowed()) return FailSocket(e);
    if (af != ws::AF_INET) return FailSocket(ws::WSAEAFNOSUPPORT);
    sys::Kind kind;
    int expected;
    if (type == ws::SOCK_STREAM) {
        kind = sys::Kind::kStream;
        expected = ws::IPPROTO_TCP;
    } else if (type == ws::SOCK_DGRAM) {
        kind = sys::Kind::kDatagram;
        expected = ws::IPPROTO_UDP;
    } else {
        return FailSocket(ws::WSAESOCKTNOSUPPORT);
    }
    if (protocol != 0 && protocol != expected) return FailSocket(ws::WSAEPROTONOSUPPORT);
    int fd = sys::OpenSocket(kind, protocol);
    if (fd < 0) return FailSocket(ErrorOf(static_cast<int>(-fd)));
    AddSocket(fd, false, false);
    return static_cast<ws::SOCKET>(fd);
}

int CloseSocket(ws::SOCKET s) {
    if (int e = CallAllowed()) return Fail(e);
    int fd = -1;
    if (!RemoveSocket(s, &fd)) return Fail(ws::WSAENOTSOCK);
    int rc = sys::Close(fd);
    // The descriptor is released even when close reports an error.
    return rc < 0 && rc != -EINTR ? FailErrno(rc) : 0;
}

int Bind(ws::SOCKET s, const ws::sockaddr* name, int namelen) {
    SocketRef sock;
    if (int e = Enter(s, &sock)) return Fail(e);
    sys::Inet4 a;
    if (int e = ToInet4(name, namelen, &a)) return Fail(e);
    int rc = sys::Bind(sock.fd, a);
    return rc < 0 ? FailErrno(rc) : 0;
}

int Connect(ws::SOCKET s, const ws::sockaddr* name, int namelen) {
    SocketRef sock;
    if (int e = Enter(s, &sock)) return Fail(e);
    sys::Inet4 a;
    if (int e = ToRemote(name, namelen, &a)) return Fail(e);
    int rc = sys::Connect(sock.fd, a);
    if (rc == 0) {
        SetConnected(sock.fd);
        return 0;
    }
    if (rc != -EINPROGRESS) return FailErrno(rc);
    // A non-blocking attempt goes on without us; once under way it counts as connected
    // for the meaning of a later EPIPE.
    SetConnected(sock.fd);
    if (sock.nonBlocking) return Fail(ws::WSAEWOULDBLOCK);
    pollfd p{sock.fd, POLLOUT, 0};
    long r = Block(std::span<pollfd>(&p, 1), -1, [&]() -> long {
        pollfd probe{sock.fd, POLLOUT, 0};
        int ready = sys::Poll(&probe, 1, 0);
        if (ready < 0) return ready;
        if (ready == 0) return -EAGAIN;
        return sys::PendingError(sock.fd);
    });
    return r < 0 ? FailErrno(r) : 0;
}

int Listen(ws::SOCKET s, int backlog) {
    SocketRef sock;
    if (int e = Enter(s, &sock)) return Fail(e);
    int rc = sys::Listen(sock.fd, backlog < 1 ? 1 : backlog);
    return rc < 0 ? FailErrno(rc) : 0;
}

ws::SOCKET Accept(ws::SOCKET s, ws::sockaddr* addr, int* addrlen) {
    SocketRef sock;
    if (int e = Enter(s, &sock)) return FailSocket(e);
    if (addr != nullptr && (addrlen == nullptr || *addrlen < kAddressLength))
        return FailSocket(ws::WSAEFAULT);
    sys::Inet4 peer;
    long fd = WaitFor(sock, POLLIN, [&]() -> long { return sys::Accept(sock.fd, &peer); });
    if (fd < 0) return FailSocket(ErrorOf(static_cast<int>(-fd)));
    // The new socket takes the listening socket's blocking mode, as on Windows.
    AddSocket(static_cast<int>(fd), sock.nonBlocking, true);
    if (addr != nullptr) FromInet4(peer, addr, addrlen);
    return static_cast<ws::SOCKET>(fd);
}

int GetSockName(ws::SOCKET s, ws::sockaddr* name, int* namelen) {
    SocketRef sock;
    if (int e = Enter(s, &sock)) return Fail(e);
    sys::Inet4 a;
    if (int rc = sys::LocalAddress(sock.fd, &a); rc < 0) return FailErrno(rc);
    if (int e = FromInet4(a, name, namelen)) return Fail(e);
    return 0;
}

int GetPeerName(ws::SOCKET s, ws::sockaddr* name, int* namelen) {
    SocketRef sock;
    if (int e = Enter(s, &sock)) return Fail(e);
    sys::Inet4 a;
    if (int rc = sys::PeerAddress(sock.fd, &a); rc < 0) return FailErrno(rc);
    if (int e = FromInet4(a, name, namelen)) return Fail(e);
    return 0;
}

int Recv(ws::SOCKET s, char* buf, int len, int flags) {
    return Receive(s, buf, len, flags, nullptr, nullptr);
}

int RecvFrom(ws::SOCKET s, char* buf, int len, int flags, ws::sockaddr* from, int* fromlen) {
    return Receive(s, buf, len, flags, from, fromlen);
}

int Send(ws::SOCKET s, const char* buf, int len, int flags) {
    return Transmit(s, buf, len, flags, nullptr);
}

int SendTo(ws::SOCKET s, const char* buf, int len, int flags, const ws::sockaddr* to, int tolen) {
    if (to == nullptr) return Send(s, buf, len, flags);
    sys::Inet4 a;
    if (int e = CallAllowed()) return Fail(e);
    if (int e = ToRemote(to, tolen, &a)) return Fail(e);
    return Transmit(s, buf, len, flags, &a);
}

int IoctlSocket(ws::SOCKET s, long cmd, ws::u_long* argp) {
    SocketRef sock;
    if (int e = Enter(s, &sock)) return Fail(e);
    if (argp == nullptr) return Fail(ws::WSAEFAULT);
    if (cmd == ws::FIONREAD) {
        // Stream: every byte waiting. Datagram: the size of the next datagram (what one
        // recv can take), as Windows Sockets 1.1 defines it.
        std::uint32_t count = 0;
        if (int rc = sys::BytesWaiting(sock.fd, &count); rc < 0) return FailErrno(rc);
        *argp = count;
        return 0;
    }
    if (cmd == ws::FIONBIO) {
        SetNonBlocking(sock.fd, *argp != 0);
        return 0;
    }
    return Fail(ws::WSAEINVAL);  // SIOCATMARK among them: out-of-band data is not tracked
}

int Select(int, ws::fd_set* readfds, ws::fd_set* writefds, ws::fd_set* exceptfds,
           const ws::timeval* timeout) {
    if (int e = CallAllowed()) return Fail(e);
    ws::fd_set* sets[3] = {readfds, writefds, exceptfds};
    constexpr short kEvents[3] = {POLLIN, POLLOUT, POLLPRI};
    constexpr ws::u_long kCapacity = sizeof(ws::fd_set::fd_array) / sizeof(ws::SOCKET);

    std::vector<pollfd> fds;
    bool any = false;
    for (int k = 0; k < 3; ++k) {
        if (sets[k] == nullptr) continue;
        if (sets[k]->fd_count > kCapacity) return Fail(ws::WSAEINVAL);
        for (ws::u_long i = 0; i < sets[k]->fd_count; ++i) {
            SocketRef sock;
            if (!FindSocket(sets[k]->fd_array[i], &sock)) return Fail(ws::WSAENOTSOCK);
            any = true;
            auto it = fds.begin();
            while (it != fds.end() && it->fd != sock.fd) ++it;
            if (it == fds.end()) it = fds.insert(fds.end(), pollfd{sock.fd, 0, 0});
            it->events = static_cast<short>(it->events | kEvents[k]);
        }
    }
    if (!any) return Fail(ws::WSAEINVAL);

    int timeoutMs = -1;
    if (timeout != nullptr) {
        if (timeout->tv_sec < 0 || timeout->tv_usec < 0) return Fail(ws::WSAEINVAL);
        long long ms = static_cast<long long>(timeout->tv_sec) * 1000 +
                       (static_cast<long long>(timeout->tv_usec) + 999) / 1000;
        timeoutMs = ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
    }

    // Whether socket `s` counts as ready in set k, by the poll results.
    auto readyIn = [&](int k, ws::SOCKET s, const std::vector<pollfd>& results) {
        for (const pollfd& p : results) {
            if (static_cast<ws::SOCKET>(p.fd) != s) continue;
            short r = p.revents;
            if (k == 0) return (r & (POLLIN | POLLHUP | POLLERR)) != 0;
            if (k == 1) return (r & POLLOUT) != 0 && (r & POLLERR) == 0;
            // A failed connection attempt shows here, as on Windows.
            return (r & POLLPRI) != 0 || ((r & POLLERR) != 0 && (p.events & POLLOUT) != 0);
        }
        return false;
    };
    auto countReady = [&](const std::vector<pollfd>& results) {
        int total = 0;
        for (int k = 0; k < 3; ++k) {
            if (sets[k] == nullptr) continue;
            for (ws::u_long i = 0; i < sets[k]->fd_count; ++i)
                if (readyIn(k, sets[k]->fd_array[i], results)) ++total;
        }
        return total;
    };

    std::vector<pollfd> results;
    long r = Block(fds, timeoutMs, [&]() -> long {
        results = fds;
        for (pollfd& p : results) p.revents = 0;
        int rc = sys::Poll(results.data(), results.size(), 0);
        if (rc < 0) return rc;
        for (const pollfd& p : results)
            if (p.revents & POLLNVAL) return -EBADF;
        int ready = countReady(results);
        return ready > 0 ? ready : -EAGAIN;
    });
    if (r < 0 && r != -EAGAIN) return FailErrno(r);

    // Keep in each set only what is ready (nothing after a time-out).
    int total = 0;
    for (int k = 0; k < 3; ++k) {
        if (sets[k] == nullptr) continue;
        ws::u_long kept = 0;
        for (ws::u_long i = 0; i < sets[k]->fd_count; ++i)
            if (r > 0 && readyIn(k, sets[k]->fd_array[i], results))
                sets[k]->fd_array[kept++] = sets[k]->fd_array[i];
        sets[k]->fd_count = kept;
        total += static_cast<int>(kept);
    }
    return total;
}

// --- options

namespace {

bool SocketOption(int level, int optname, sys::Option* out) {
    if (level == ws::IPPROTO_TCP) {
        if (optname != ws::TCP_NODELAY) return false;
        *out = sys::Option::kNoDelay;
        return true;
    }
    switch (optname) {
        case ws::SO_DEBUG:
            *out = sys::Option::kDebug;
            return true;
        case ws::SO_ACCEPTCONN:
            *out = sys::Option::kAcceptConnections;
            return true;
        case ws::SO_REUSEADDR:
            *out = sys::Option::kReuseAddress;
            return true;
        case ws::SO_KEEPALIVE:
            *out = sys::Option::kKeepAlive;
            return true;
        case ws::SO_DONTROUTE:
            *out = sys::Option::kDontRoute;
            return true;
        case ws::SO_BROADCAST:
            *out = sys::Option::kBroadcast;
            return true;
        case ws::SO_OOBINLINE:
            *out = sys::Option::kOutOfBandInline;
            return true;
        case ws::SO_SNDBUF:
            *out = sys::Option::kSendBuffer;
            return true;
        case ws::SO_RCVBUF:
            *out = sys::Option::kReceiveBuffer;
            return true;
        case ws::SO_ERROR:
            *out = sys::Option::kError;
            return true;
        case ws::SO_TYPE:
            *out = sys::Option::kType;
            return true;
        default:
            return false;
    }
}

}  // namespace

int GetSockOpt(ws::SOCKET s, int level, int optname, char* optval, int* optlen) {
    SocketRef sock;
    if (int e = Enter(s, &sock)) return Fail(e);
    if (level != ws::SOL_SOCKET && level != ws::IPPROTO_TCP) return Fail(ws::WSAEINVAL);
    if (optval == nullptr || optlen == nullptr) return Fail(ws::WSAEFAULT);
    if (level == ws::SOL_SOCKET && (optname == ws::SO_LINGER || optname == ws::SO_DONTLINGER)) {
        bool on = false;
        int seconds = 0;
        if (int rc = sys::GetLinger(sock.fd, &on, &seconds); rc < 0) return FailErrno(rc);
        if (optname == ws::SO_DONTLINGER) {
            if (*optlen < static_cast<int>(sizeof(int))) return Fail(ws::WSAEFAULT);
            int value = on ? 0 : 1;
            std::memcpy(optval, &value, sizeof value);
            *optlen = sizeof value;
            return 0;
        }
        if (*optlen < static_cast<int>(sizeof(ws::linger))) return Fail(ws::WSAEFAULT);
        ws::linger l{static_cast<ws::u_short>(on ? 1 : 0), static_cast<ws::u_short>(seconds)};
        std::memcpy(optval, &l, sizeof l);
        *optlen = sizeof l;
        return 0;
    }
    sys::Option option;
    if (!SocketOption(level, optname, &option)) return Fail(ws::WSAENOPROTOOPT);
    if (*optlen < static_cast<int>(sizeof(int))) return Fail(ws::WSAEFAULT);
    int value = 0;
    if (int rc = sys::GetOption(sock.fd, option, &value); rc < 0) return FailErrno(rc);
    if (option == sys::Option::kError) value = ErrorOf(-value);
    std::memcpy(optval, &value, sizeof value);
    *optlen = sizeof value;
    return 0;
}

int SetSockOpt(ws::SOCKET s, int level, int optname, const char* optval, int optlen) {
    SocketRef sock;
    if (int e = Enter(s, &sock)) return Fail(e);
    if (level != ws::SOL_SOCKET && level != ws::IPPROTO_TCP) return Fail(ws::WSAEINVAL);
    if (optval == nullptr) return Fail(ws::WSAEFAULT);
    if (level == ws::SOL_SOCKET && optname == ws::SO_LINGER) {
        if (optlen < static_cast<int>(sizeof(ws::linger))) return Fail(ws::WSAEFAULT);
        ws::linger l;
        std::memcpy(&l, optval, sizeof l);
        int rc = sys::SetLinger(sock.fd, l.l_onoff != 0, l.l_linger);
        return rc < 0 ? FailErrno(rc) : 0;
    }
    if (optlen < static_cast<int>(sizeof(int))) return Fail(ws::WSAEFAULT);
    int value;
    std::memcpy(&value, optval, sizeof value);
    if (level == ws::SOL_SOCKET && optname == ws::SO_DONTLINGER) {
        // Lingering goes off, or back on with the time-out it had.
        bool on = false;
        int seconds = 0;
        int rc = sys::GetLinger(sock.fd, &on, &seconds);
        if (rc == 0) rc = sys::SetLinger(sock.fd, value == 0, seconds);
        return rc < 0 ? FailErrno(rc) : 0;
    }
    sys::Option option;
    if (!SocketOption(level, optname, &option)) return Fail(ws::WSAENOPROTOOPT);
    int rc = sys::SetOption(sock.fd, option, value);
    return rc < 0 ? FailErrno(rc) : 0;
}

int AsyncSelect(ws::SOCKET s, ws::HWND, unsigned, long) {
    SocketRef sock;
    if (int e = Enter(s, &sock)) return Fail(e);
    // Message-driven notification is not offered; the console polls and blocks instead.
    return Fail(ws::WSAEOPNOTSUPP);
}

}  // namespace wsock
