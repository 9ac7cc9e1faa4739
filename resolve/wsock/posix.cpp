#include "resolve/wsock/posix.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <gnu/lib-names.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace wsock::sys {
namespace {

static_assert(sizeof(pollfd) == 8 && offsetof(pollfd, events) == 4 &&
              offsetof(pollfd, revents) == 6);

// The C library's entries whose names the library exports itself. Looked up in the C
// library's own handle, so that no reference by these names leaves this object.
struct Libc {
    int (*socket)(int, int, int) = nullptr;
    int (*bind)(int, const sockaddr*, socklen_t) = nullptr;
    int (*connect)(int, const sockaddr*, socklen_t) = nullptr;
    int (*listen)(int, int) = nullptr;
    int (*getsockopt)(int, int, int, void*, socklen_t*) = nullptr;
    int (*setsockopt)(int, int, int, const void*, socklen_t) = nullptr;
    int (*getsockname)(int, sockaddr*, socklen_t*) = nullptr;
    int (*getpeername)(int, sockaddr*, socklen_t*) = nullptr;
    bool complete = false;
};

template <typename F>
void Find(void* handle, const char* name, F& out) {
    out = reinterpret_cast<F>(dlsym(handle, name));
}

const Libc& C() {
    static const Libc libc = [] {
        Libc l;
        void* handle = dlopen(LIBC_SO, RTLD_LAZY | RTLD_NOLOAD);
        if (handle == nullptr) return l;
        Find(handle, "socket", l.socket);
        Find(handle, "bind", l.bind);
        Find(handle, "connect", l.connect);
        Find(handle, "listen", l.listen);
        Find(handle, "getsockopt", l.getsockopt);
        Find(handle, "setsockopt", l.setsockopt);
        Find(handle, "getsockname", l.getsockname);
        Find(handle, "getpeername", l.getpeername);
        l.complete = l.socket && l.bind && l.connect && l.listen && l.getsockopt && l.setsockopt &&
                     l.getsockname && l.getpeername;
        // The C library stays loaded for the life of the process; the extra reference
        // taken by dlopen is dropped again.
        dlclose(handle);
        return l;
    }();
    return libc;
}

int Result(int rc) {
    return rc < 0 ? -errno : rc;
}
long Result(long rc) {
    return rc < 0 ? -errno : rc;
}

sockaddr_in ToSockaddr(const Inet4& a) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = a.port;
    sa.sin_addr.s_addr = a.address;
    return sa;
}

void FromSockaddr(const sockaddr_storage& ss, Inet4* out) {
    if (out == nullptr) return;
    *out = Inet4{};
    if (ss.ss_family != AF_INET) return;
    const auto& sa = reinterpret_cast<const sockaddr_in&>(ss);
    out->address = sa.sin_addr.s_addr;
    out->port = sa.sin_port;
}

int MessageFlags(Transfer f) {
    return (f.outOfBand ? MSG_OOB : 0) | (f.peek ? MSG_PEEK : 0) |
           (f.dontRoute ? MSG_DONTROUTE : 0);
}

// Moves a descriptor off 0..2 so that a socket never shares a number with a standard
// stream (and the SOCKET value 0, which callers take for "none", never occurs).
int AboveStandardStreams(int fd) {
    if (fd < 0 || fd > 2) return fd;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    int err = errno;
    ::close(fd);
    return moved < 0 ? -err : moved;
}

bool LevelAndName(Option option, int* level, int* name) {
    *level = SOL_SOCKET;
    switch (option) {
        case Option::kDebug:
            *name = SO_DEBUG;
            return true;
        case Option::kAcceptConnections:
            *name = SO_ACCEPTCONN;
            return true;
        case Option::kReuseAddress:
            *name = SO_REUSEADDR;
            return true;
        case Option::kKeepAlive:
            *name = SO_KEEPALIVE;
            return true;
        case Option::kDontRoute:
            *name = SO_DONTROUTE;
            return true;
        case Option::kBroadcast:
            *name = SO_BROADCAST;
            return true;
        case Option::kOutOfBandInline:
            *name = SO_OOBINLINE;
            return true;
        case Option::kSendBuffer:
            *name = SO_SNDBUF;
            return true;
        case Option::kReceiveBuffer:
            *name = SO_RCVBUF;
            return true;
        case Option::kError:
            *name = SO_ERROR;
            return true;
        case Option::kType:
            *name = SO_TYPE;
            return true;
        case Option::kNoDelay:
            *level = IPPROTO_TCP;
            *name = TCP_NODELAY;
            return true;
    }
    return false;
}

void CopyText(char* out, std::size_t size, const char* text) {
    if (size == 0) return;
    std::size_t n = text ? strnlen(text, size - 1) : 0;
    if (n) std::memcpy(out, text, n);
    out[n] = '\0';
}

void FillEntry(NamedEntry* out, const char* name, char** aliases, int number, const char* proto) {
    *out = NamedEntry{};
    CopyText(out->name, sizeof out->name, name);
    std::size_t used = 0;
    for (char** a = aliases; a && *a; ++a) {
        std::size_t n = std::strlen(*a) + 1;
        if (used + n > sizeof out->aliases) break;
        std::memcpy(out->aliases + used, *a, n);
        used += n;
        ++out->aliasCount;
    }
    out->number = number;
    CopyText(out->proto, sizeof out->proto, proto);
}

int LookupFailureOf(int gaiError) {
    switch (gaiError) {
        case EAI_NONAME:
            return kHostNotFound;
        case EAI_AGAIN:
            return kTryAgain;
        case EAI_NODATA:
        case EAI_ADDRFAMILY:
            return kNoData;
        default:
            return kNoRecovery;
    }
}

}  // namespace

bool Available() {
    return C().complete;
}

int OpenSocket(Kind kind, int protocol) {
    if (!Available()) return -ENOSYS;
    int type = (kind == Kind::kStream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_NONBLOCK | SOCK_CLOEXEC;
    int fd = C().socket(AF_INET, type, protocol);
    if (fd < 0) return -errno;
    return AboveStandardStreams(fd);
}

int Close(int fd) {
    return Result(::close(fd));
}

int Bind(int fd, const Inet4& address) {
    sockaddr_in sa = ToSockaddr(address);
    return Result(C().bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa));
}

int Connect(int fd, const Inet4& address) {
    sockaddr_in sa = ToSockaddr(address);
    int rc;
    do {
        rc = C().connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    } while (rc < 0 && errno == EINTR);
    return Result(rc);
}

int PendingError(int fd) {
    int err = 0;
    socklen_t len = sizeof err;
    if (C().getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0) return -errno;
    return -err;
}

int Listen(int fd, int backlog) {
    return Result(C().listen(fd, backlog));
}

int Accept(int fd, Inet4* peer) {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    int rc;
    do {
        rc = ::accept4(fd, reinterpret_cast<sockaddr*>(&ss), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) return -errno;
    FromSockaddr(ss, peer);
    return AboveStandardStreams(rc);
}

int LocalAddress(int fd, Inet4* address) {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (C().getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len) < 0) return -errno;
    FromSockaddr(ss, address);
    return 0;
}

int PeerAddress(int fd, Inet4* address) {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (C().getpeername(fd, reinterpret_cast<sockaddr*>(&ss), &len) < 0) return -errno;
    FromSockaddr(ss, address);
    return 0;
}

long Receive(int fd, void* buffer, std::size_t length, Transfer flags, Inet4* from,
             bool* truncated) {
    sockaddr_storage ss{};
    iovec iov{buffer, length};
    msghdr msg{};
    msg.msg_name = &ss;
    msg.msg_namelen = sizeof ss;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    long rc;
    do {
        rc = ::recvmsg(fd, &msg, MessageFlags(flags) | MSG_DONTWAIT);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) return -errno;
    if (truncated) *truncated = (msg.msg_flags & MSG_TRUNC) != 0;
    if (from) FromSockaddr(ss, from);
    return rc;
}

long Send(int fd, const void* bytes, std::size_t length, Transfer flags, const Inet4* to) {
    sockaddr_in sa{};
    iovec iov{const_cast<void*>(bytes), length};
    msghdr msg{};
    if (to) {
        sa = ToSockaddr(*to);
        msg.msg_name = &sa;
        msg.msg_namelen = sizeof sa;
    }
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    long rc;
    do {
        rc = ::sendmsg(fd, &msg, MessageFlags(flags) | MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (rc < 0 && errno == EINTR);
    return Result(rc);
}

int BytesWaiting(int fd, std::uint32_t* count) {
    int n = 0;
    if (::ioctl(fd, FIONREAD, &n) < 0) return -errno;
    *count = n < 0 ? 0 : static_cast<std::uint32_t>(n);
    return 0;
}

int GetOption(int fd, Option option, int* value) {
    int level = 0, name = 0;
    if (!LevelAndName(option, &level, &name)) return -ENOPROTOOPT;
    int v = 0;
    socklen_t len = sizeof v;
    if (C().getsockopt(fd, level, name, &v, &len) < 0) return -errno;
    if (option == Option::kError) v = -v;
    if (option == Option::kType) v = v == SOCK_STREAM ? 1 : v == SOCK_DGRAM ? 2 : v;
    *value = v;
    return 0;
}

int SetOption(int fd, Option option, int value) {
    int level = 0, name = 0;
    if (!LevelAndName(option, &level, &name)) return -ENOPROTOOPT;
    if (option == Option::kError || option == Option::kType || option == Option::kAcceptConnections)
        return -ENOPROTOOPT;
    return Result(C().setsockopt(fd, level, name, &value, sizeof value));
}

int GetLinger(int fd, bool* on, int* seconds) {
    ::linger l{};
    socklen_t len = sizeof l;
    if (C().getsockopt(fd, SOL_SOCKET, SO_LINGER, &l, &len) < 0) return -errno;
    *on = l.l_onoff != 0;
    *seconds = l.l_linger;
    return 0;
}

int SetLinger(int fd, bool on, int seconds) {
    ::linger l{on ? 1 : 0, seconds};
    return Result(C().setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l));
}

int Poll(pollfd* fds, std::size_t count, int timeoutMs) {
    std::int64_t deadline = timeoutMs < 0 ? -1 : NowMs() + timeoutMs;
    for (;;) {
        int rc = ::poll(fds, count, timeoutMs);
        if (rc >= 0 || errno != EINTR) return Result(rc);
        if (deadline >= 0) {
            std::int64_t left = deadline - NowMs();
            timeoutMs = left > 0 ? static_cast<int>(left) : 0;
        }
    }
}

std::int64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int ResolveName(const char* name, std::uint32_t* addresses, int capacity, char* canonical,
                std::size_t canonicalSize) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* list = nullptr;
    int rc = ::getaddrinfo(name, nullptr, &hints, &list);
    if (rc != 0) return LookupFailureOf(rc);
    CopyText(canonical, canonicalSize, list->ai_canonname ? list->ai_canonname : name);
    int count = 0;
    for (addrinfo* ai = list; ai && count < capacity; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET) continue;
        std::uint32_t a = reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
        bool seen = false;
        for (int i = 0; i < count && !seen; ++i) seen = addresses[i] == a;
        if (!seen) addresses[count++] = a;
    }
    ::freeaddrinfo(list);
    return count > 0 ? count : kNoData;
}

int ResolveAddress(std::uint32_t address, char* name, std::size_t nameSize) {
    sockaddr_in sa = ToSockaddr(Inet4{address, 0});
    int rc = ::getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, name,
                           static_cast<socklen_t>(nameSize), nullptr, 0, NI_NAMEREQD);
    return rc == 0 ? 0 : LookupFailureOf(rc);
}

int HostName(char* name, std::size_t size) {
    utsname u{};
    if (::uname(&u) < 0) return -errno;
    std::size_t n = std::strlen(u.nodename);
    if (n + 1 > size) return -ENAMETOOLONG;
    std::memcpy(name, u.nodename, n + 1);
    return 0;
}

int ServiceByName(const char* name, const char* proto, NamedEntry* out) {
    servent se{}, *found = nullptr;
    char buf[2048];
    if (::getservbyname_r(name, proto, &se, buf, sizeof buf, &found) != 0 || !found) return kNoData;
    FillEntry(out, se.s_name, se.s_aliases, se.s_port, se.s_proto);
    return 0;
}

int ServiceByPort(int portNetworkOrder, const char* proto, NamedEntry* out) {
    servent se{}, *found = nullptr;
    char buf[2048];
    if (::getservbyport_r(portNetworkOrder, proto, &se, buf, sizeof buf, &found) != 0 || !found)
        return kNoData;
    FillEntry(out, se.s_name, se.s_aliases, se.s_port, se.s_proto);
    return 0;
}

int ProtocolByName(const char* name, NamedEntry* out) {
    protoent pe{}, *found = nullptr;
    char buf[1024];
    if (::getprotobyname_r(name, &pe, buf, sizeof buf, &found) != 0 || !found) return kNoData;
    FillEntry(out, pe.p_name, pe.p_aliases, pe.p_proto, nullptr);
    return 0;
}

int ProtocolByNumber(int number, NamedEntry* out) {
    protoent pe{}, *found = nullptr;
    char buf[1024];
    if (::getprotobynumber_r(number, &pe, buf, sizeof buf, &found) != 0 || !found) return kNoData;
    FillEntry(out, pe.p_name, pe.p_aliases, pe.p_proto, nullptr);
    return 0;
}

}  // namespace wsock::sys
