// The Windows Sockets 1.1 interface as the console binds it: the types, constants and
// entry signatures shared by the socket library (resolve/wsock/, built as WSOCK32.DLL)
// and by the code that loads it. Nothing here depends on the system's socket headers.
//
// Several names below are also macros of the system headers (AF_INET, INADDR_ANY,
// FIONREAD, SOL_SOCKET, SO_*, MSG_*, ...). The header compiles after those headers (it
// steps around their macros), but a file that writes ws::AF_INET must not include the
// system's socket headers, or the macro replaces the name. FD_SETSIZE is the exception:
// the system's FD_SETSIZE comes with almost every standard header, so this header takes it
// back for good (code of this project waits with poll, never with the system's select).
#pragma once

#include <cstdint>

#ifndef VELDANA_WINSOCK_EXPORTS
// Brings the system's FD_SETSIZE in now, so that it is withdrawn below and no later
// standard header defines it again. (The library's export file cannot see sys/select.h:
// it defines a select of its own.)
#include <sys/select.h>
#endif
#undef FD_SETSIZE

#pragma push_macro("AF_INET")
#pragma push_macro("INADDR_ANY")
#pragma push_macro("INADDR_NONE")
#pragma push_macro("INADDR_LOOPBACK")
#pragma push_macro("FIONREAD")
#pragma push_macro("FIONBIO")
#pragma push_macro("SIOCATMARK")
#pragma push_macro("SOL_SOCKET")
#pragma push_macro("SO_DEBUG")
#pragma push_macro("SO_ACCEPTCONN")
#pragma push_macro("SO_REUSEADDR")
#pragma push_macro("SO_KEEPALIVE")
#pragma push_macro("SO_DONTROUTE")
#pragma push_macro("SO_BROADCAST")
#pragma push_macro("SO_LINGER")
#pragma push_macro("SO_OOBINLINE")
#pragma push_macro("SO_SNDBUF")
#pragma push_macro("SO_RCVBUF")
#pragma push_macro("SO_ERROR")
#pragma push_macro("SO_TYPE")
#pragma push_macro("TCP_NODELAY")
#pragma push_macro("MSG_OOB")
#pragma push_macro("MSG_PEEK")
#pragma push_macro("MSG_DONTROUTE")
#pragma push_macro("SOMAXCONN")
#undef AF_INET
#undef INADDR_ANY
#undef INADDR_NONE
#undef INADDR_LOOPBACK
#undef FIONREAD
#undef FIONBIO
#undef SIOCATMARK
#undef SOL_SOCKET
#undef SO_DEBUG
#undef SO_ACCEPTCONN
#undef SO_REUSEADDR
#undef SO_KEEPALIVE
#undef SO_DONTROUTE
#undef SO_BROADCAST
#undef SO_LINGER
#undef SO_OOBINLINE
#undef SO_SNDBUF
#undef SO_RCVBUF
#undef SO_ERROR
#undef SO_TYPE
#undef TCP_NODELAY
#undef MSG_OOB
#undef MSG_PEEK
#undef MSG_DONTROUTE
#undef SOMAXCONN

namespace ws {

using SOCKET = std::uintptr_t;
constexpr SOCKET INVALID_SOCKET = ~static_cast<SOCKET>(0);
constexpr int SOCKET_ERROR = -1;

using u_char = unsigned char;
using u_short = unsigned short;
using u_long = std::uint32_t;  // 32 bits, as on Windows

constexpr int AF_INET = 2;
constexpr int SOCK_STREAM = 1;
constexpr int SOCK_DGRAM = 2;
constexpr int IPPROTO_TCP = 6;
constexpr int IPPROTO_UDP = 17;
constexpr u_long INADDR_ANY = 0;
constexpr u_long INADDR_NONE = 0xffffffff;
constexpr u_long INADDR_LOOPBACK = 0x7f000001;  // host order, as on Windows
constexpr int SOMAXCONN = 5;

// ioctlsocket requests.
constexpr long FIONREAD = 0x4004667F;
constexpr long FIONBIO = static_cast<long>(0x8004667EU);
constexpr long SIOCATMARK = 0x40047307;

// recv/send flags.
constexpr int MSG_OOB = 0x1;
constexpr int MSG_PEEK = 0x2;
constexpr int MSG_DONTROUTE = 0x4;

// Socket options (getsockopt/setsockopt).
constexpr int SOL_SOCKET = 0xffff;
constexpr int SO_DEBUG = 0x0001;
constexpr int SO_ACCEPTCONN = 0x0002;
constexpr int SO_REUSEADDR = 0x0004;
constexpr int SO_KEEPALIVE = 0x0008;
constexpr int SO_DONTROUTE = 0x0010;
constexpr int SO_BROADCAST = 0x0020;
constexpr int SO_LINGER = 0x0080;
constexpr int SO_OOBINLINE = 0x0100;
constexpr int SO_DONTLINGER = ~SO_LINGER;
constexpr int SO_SNDBUF = 0x1001;
constexpr int SO_RCVBUF = 0x1002;
constexpr int SO_ERROR = 0x1007;
constexpr int SO_TYPE = 0x1008;
constexpr int TCP_NODELAY = 0x0001;  // level IPPROTO_TCP

struct linger {
    u_short l_onoff;
    u_short l_linger;  // seconds
};

// Error codes (WSAGetLastError).
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEDESTADDRREQ = 10039;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEPROTOTYPE = 10041;
constexpr int WSAENOPROTOOPT = 10042;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEOPNOTSUPP = 10045;
constexpr int WSAEPFNOSUPPORT = 10046;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENETRESET = 10052;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAELOOP = 10062;
constexpr int WSAENAMETOOLONG = 10063;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

struct in_addr {
    u_long s_addr;  // network order: the first octet in the lowest-addressed byte
};

struct sockaddr {
    u_short sa_family;
    char sa_data[14];
};

struct sockaddr_in {
    short sin_family;
    u_short sin_port;  // network order
    in_addr sin_addr;
    char sin_zero[8];
};

constexpr int FD_SETSIZE = 64;
struct fd_set {
    u_long fd_count;
    SOCKET fd_array[FD_SETSIZE];
};
// The Windows FD_ZERO, FD_SET, FD_CLR and FD_ISSET, under names no system macro takes.
inline void FdZero(fd_set& set) {
    set.fd_count = 0;
}
inline bool FdIsSet(SOCKET s, const fd_set& set) {
    for (u_long i = 0; i < set.fd_count && i < static_cast<u_long>(FD_SETSIZE); ++i)
        if (set.fd_array[i] == s) return true;
    return false;
}
inline void FdSet(SOCKET s, fd_set& set) {  // ignored when present or full
    if (!FdIsSet(s, set) && set.fd_count < static_cast<u_long>(FD_SETSIZE))
        set.fd_array[set.fd_count++] = s;
}
inline void FdClr(SOCKET s, fd_set& set) {
    for (u_long i = 0; i < set.fd_count && i < static_cast<u_long>(FD_SETSIZE); ++i) {
        if (set.fd_array[i] != s) continue;
        for (u_long j = i + 1; j < set.fd_count; ++j) set.fd_array[j - 1] = set.fd_array[j];
        --set.fd_count;
        return;
    }
}

struct timeval {
    long tv_sec;
    long tv_usec;
};

struct hostent {
    char* h_name;
    char** h_aliases;
    short h_addrtype;
    short h_length;
    char** h_addr_list;
};

struct servent {
    char* s_name;
    char** s_aliases;
    short s_port;
    char* s_proto;
};

struct protoent {
    char* p_name;
    char** p_aliases;
    short p_proto;
};

constexpr int WSADESCRIPTION_LEN = 256;
constexpr int WSASYS_STATUS_LEN = 128;
struct WSADATA {
    std::uint16_t wVersion;
    std::uint16_t wHighVersion;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
};

// A blocking hook: called while a blocking call waits; returns nonzero when it did work.
using FARPROC = int (*)();
using HANDLE = std::uintptr_t;
using HWND = std::uint32_t;  // the window layer's handles

// Entry signatures, in the order the console binds them.
using accept_t = SOCKET (*)(SOCKET, sockaddr*, int*);
using bind_t = int (*)(SOCKET, const sockaddr*, int);
using closesocket_t = int (*)(SOCKET);
using connect_t = int (*)(SOCKET, const sockaddr*, int);
using ioctlsocket_t = int (*)(SOCKET, long, u_long*);
using getpeername_t = int (*)(SOCKET, sockaddr*, int*);
using getsockname_t = int (*)(SOCKET, sockaddr*, int*);
using getsockopt_t = int (*)(SOCKET, int, int, char*, int*);
using htonl_t = u_long (*)(u_long);
using htons_t = u_short (*)(u_short);
using inet_addr_t = u_long (*)(const char*);
using inet_ntoa_t = char* (*)(in_addr);
using listen_t = int (*)(SOCKET, int);
using ntohl_t = u_long (*)(u_long);
using ntohs_t = u_short (*)(u_short);
using recv_t = int (*)(SOCKET, char*, int, int);
using recvfrom_t = int (*)(SOCKET, char*, int, int, sockaddr*, int*);
using select_t = int (*)(int, fd_set*, fd_set*, fd_set*, const timeval*);
using send_t = int (*)(SOCKET, const char*, int, int);
using sendto_t = int (*)(SOCKET, const char*, int, int, const sockaddr*, int);
using setsockopt_t = int (*)(SOCKET, int, int, const char*, int);
using socket_t = SOCKET (*)(int, int, int);
using gethostbyaddr_t = hostent* (*)(const char*, int, int);
using gethostbyname_t = hostent* (*)(const char*);
using gethostname_t = int (*)(char*, int);
using getservbyport_t = servent* (*)(int, const char*);
using getservbyname_t = servent* (*)(const char*, const char*);
using getprotobynumber_t = protoent* (*)(int);
using getprotobyname_t = protoent* (*)(const char*);
using WSAStartup_t = int (*)(std::uint16_t, WSADATA*);
using WSACleanup_t = int (*)();
using WSASetLastError_t = void (*)(int);
using WSAGetLastError_t = int (*)();
using WSAIsBlocking_t = int (*)();
using WSAUnhookBlockingHook_t = int (*)();
using WSASetBlockingHook_t = FARPROC (*)(FARPROC);
using WSACancelBlockingCall_t = int (*)();
using WSAAsyncGetServByName_t = HANDLE (*)(HWND, unsigned, const char*, const char*, char*, int);
using WSAAsyncGetServByPort_t = HANDLE (*)(HWND, unsigned, int, const char*, char*, int);
using WSAAsyncGetProtoByName_t = HANDLE (*)(HWND, unsigned, const char*, char*, int);
using WSAAsyncGetProtoByNumber_t = HANDLE (*)(HWND, unsigned, int, char*, int);
using WSAAsyncGetHostByName_t = HANDLE (*)(HWND, unsigned, const char*, char*, int);
using WSAAsyncGetHostByAddr_t = HANDLE (*)(HWND, unsigned, const char*, int, int, char*, int);
using WSACancelAsyncRequest_t = int (*)(HANDLE);
using WSAAsyncSelect_t = int (*)(SOCKET, HWND, unsigned, long);

// How the library reaches the program that loaded it (an extra, optional entry
// "VeldanaSocketHost", called once after loading; nullptr withdraws the host). Window
// messages belong to the thread that registered the host: a blocking call made on that
// thread waits through `wait` (the program's message wait, given the socket descriptors
// to watch, poll events), and the default blocking hook dispatches one window message at a
// time through `pumpOne`. `blockingEnded` (may be null) runs when such a blocking call
// returns. A blocking call on any other thread, or with no host at all, waits on its
// sockets alone and its default hook dispatches nothing.
struct pollfd_like {
    int fd;
    short events;
    short revents;
};
struct SocketHost {
    int (*wait)(pollfd_like* fds, int count, int timeoutMs);  // ready count, 0 on timeout/wake
    int (*pumpOne)();                                         // 1 if a message was dispatched
    void (*blockingEnded)() = nullptr;
};
using VeldanaSocketHost_t = void (*)(const SocketHost*);

}  // namespace ws

#pragma pop_macro("AF_INET")
#pragma pop_macro("INADDR_ANY")
#pragma pop_macro("INADDR_NONE")
#pragma pop_macro("INADDR_LOOPBACK")
#pragma pop_macro("FIONREAD")
#pragma pop_macro("FIONBIO")
#pragma pop_macro("SIOCATMARK")
#pragma pop_macro("SOL_SOCKET")
#pragma pop_macro("SO_DEBUG")
#pragma pop_macro("SO_ACCEPTCONN")
#pragma pop_macro("SO_REUSEADDR")
#pragma pop_macro("SO_KEEPALIVE")
#pragma pop_macro("SO_DONTROUTE")
#pragma pop_macro("SO_BROADCAST")
#pragma pop_macro("SO_LINGER")
#pragma pop_macro("SO_OOBINLINE")
#pragma pop_macro("SO_SNDBUF")
#pragma pop_macro("SO_RCVBUF")
#pragma pop_macro("SO_ERROR")
#pragma pop_macro("SO_TYPE")
#pragma pop_macro("TCP_NODELAY")
#pragma pop_macro("MSG_OOB")
#pragma pop_macro("MSG_PEEK")
#pragma pop_macro("MSG_DONTROUTE")
#pragma pop_macro("SOMAXCONN")
