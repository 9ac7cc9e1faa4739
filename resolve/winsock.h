// The Windows Sockets 1.1 interface as the console binds it: the types, constants and
// entry signatures shared by the socket library (resolve/wsock/, built as WSOCK32.DLL)
// and by the code that loads it. Nothing here depends on the system's socket headers.
#pragma once

#include <cstdint>

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

// ioctlsocket requests.
constexpr long FIONREAD = 0x4004667F;
constexpr long FIONBIO = static_cast<long>(0x8004667EU);

// Error codes (WSAGetLastError).
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
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
// "VeldanaSocketHost"): a blocking call waits through `wait` (the program's message
// wait, given the socket descriptors to watch) and the default blocking hook dispatches
// window messages through `pumpOne`. Without it the library waits on its sockets alone.
struct pollfd_like {
    int fd;
    short events;
    short revents;
};
struct SocketHost {
    int (*wait)(pollfd_like* fds, int count, int timeoutMs);  // ready count, 0 on timeout/wake
    int (*pumpOne)();                                         // 1 if a message was dispatched
};
using VeldanaSocketHost_t = void (*)(const SocketHost*);

}  // namespace ws
