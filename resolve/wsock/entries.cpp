// The exported entries of WSOCK32.DLL: the 45 Windows Sockets 1.1 names the console binds,
// plus VeldanaSocketHost. Each hands over to the implementation in namespace wsock.
//
// This file sees no system header: several of these names are also C library functions
// (socket, connect, select, htons, ...) with other signatures. The library is loaded with
// RTLD_LOCAL, so its definitions stay out of the program's global scope, and its own calls
// to the system go through posix.cpp, which never names them.
#define VELDANA_WINSOCK_EXPORTS
#include "resolve/winsock.h"
#include "resolve/wsock/api.h"

#define WSOCK_EXPORT extern "C" __attribute__((visibility("default")))

using namespace ws;

WSOCK_EXPORT SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen) {
    return wsock::Accept(s, addr, addrlen);
}
WSOCK_EXPORT int bind(SOCKET s, const sockaddr* name, int namelen) {
    return wsock::Bind(s, name, namelen);
}
WSOCK_EXPORT int closesocket(SOCKET s) {
    return wsock::CloseSocket(s);
}
WSOCK_EXPORT int connect(SOCKET s, const sockaddr* name, int namelen) {
    return wsock::Connect(s, name, namelen);
}
WSOCK_EXPORT int ioctlsocket(SOCKET s, long cmd, u_long* argp) {
    return wsock::IoctlSocket(s, cmd, argp);
}
WSOCK_EXPORT int getpeername(SOCKET s, sockaddr* name, int* namelen) {
    return wsock::GetPeerName(s, name, namelen);
}
WSOCK_EXPORT int getsockname(SOCKET s, sockaddr* name, int* namelen) {
    return wsock::GetSockName(s, name, namelen);
}
WSOCK_EXPORT int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen) {
    return wsock::GetSockOpt(s, level, optname, optval, optlen);
}
WSOCK_EXPORT u_long htonl(u_long v) {
    return wsock::HostToNetLong(v);
}
WSOCK_EXPORT u_short htons(u_short v) {
    return wsock::HostToNetShort(v);
}
WSOCK_EXPORT u_long inet_addr(const char* cp) {
    return wsock::InetAddr(cp);
}
WSOCK_EXPORT char* inet_ntoa(in_addr in) {
    return wsock::InetNtoa(in);
}
WSOCK_EXPORT int listen(SOCKET s, int backlog) {
    return wsock::Listen(s, backlog);
}
WSOCK_EXPORT u_long ntohl(u_long v) {
    return wsock::HostToNetLong(v);
}
WSOCK_EXPORT u_short ntohs(u_short v) {
    return wsock::HostToNetShort(v);
}
WSOCK_EXPORT int recv(SOCKET s, char* buf, int len, int flags) {
    return wsock::Recv(s, buf, len, flags);
}
WSOCK_EXPORT int recvfrom(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromlen) {
    return wsock::RecvFrom(s, buf, len, flags, from, fromlen);
}
WSOCK_EXPORT int select(int nfds, fd_set* readfds, fd_set* writefds, fd_set* exceptfds,
                        const timeval* timeout) {
    return wsock::Select(nfds, readfds, writefds, exceptfds, timeout);
}
WSOCK_EXPORT int send(SOCKET s, const char* buf, int len, int flags) {
    return wsock::Send(s, buf, len, flags);
}
WSOCK_EXPORT int sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr* to,
                        int tolen) {
    return wsock::SendTo(s, buf, len, flags, to, tolen);
}
WSOCK_EXPORT int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
    return wsock::SetSockOpt(s, level, optname, optval, optlen);
}
WSOCK_EXPORT SOCKET socket(int af, int type, int protocol) {
    return wsock::Socket(af, type, protocol);
}
WSOCK_EXPORT hostent* gethostbyaddr(const char* addr, int len, int type) {
    return wsock::GetHostByAddr(addr, len, type);
}
WSOCK_EXPORT hostent* gethostbyname(const char* name) {
    return wsock::GetHostByName(name);
}
WSOCK_EXPORT int gethostname(char* name, int namelen) {
    return wsock::GetHostName(name, namelen);
}
WSOCK_EXPORT servent* getservbyport(int port, const char* proto) {
    return wsock::GetServByPort(port, proto);
}
WSOCK_EXPORT servent* getservbyname(const char* name, const char* proto) {
    return wsock::GetServByName(name, proto);
}
WSOCK_EXPORT protoent* getprotobynumber(int number) {
    return wsock::GetProtoByNumber(number);
}
WSOCK_EXPORT protoent* getprotobyname(const char* name) {
    return wsock::GetProtoByName(name);
}
WSOCK_EXPORT int WSAStartup(std::uint16_t version, WSADATA* data) {
    return wsock::Startup(version, data);
}
WSOCK_EXPORT int WSACleanup() {
    return wsock::Cleanup();
}
WSOCK_EXPORT void WSASetLastError(int error) {
    wsock::SetLastError(error);
}
WSOCK_EXPORT int WSAGetLastError() {
    return wsock::GetLastError();
}
WSOCK_EXPORT int WSAIsBlocking() {
    return wsock::IsBlocking();
}
WSOCK_EXPORT int WSAUnhookBlockingHook() {
    return wsock::UnhookBlockingHook();
}
WSOCK_EXPORT FARPROC WSASetBlockingHook(FARPROC hook) {
    return wsock::SetBlockingHook(hook);
}
WSOCK_EXPORT int WSACancelBlockingCall() {
    return wsock::CancelBlockingCall();
}
WSOCK_EXPORT HANDLE WSAAsyncGetServByName(HWND hwnd, unsigned msg, const char* name,
                                          const char* proto, char* buf, int buflen) {
    return wsock::AsyncGetServByName(hwnd, msg, name, proto, buf, buflen);
}
WSOCK_EXPORT HANDLE WSAAsyncGetServByPort(HWND hwnd, unsigned msg, int port, const char* proto,
                                          char* buf, int buflen) {
    return wsock::AsyncGetServByPort(hwnd, msg, port, proto, buf, buflen);
}
WSOCK_EXPORT HANDLE WSAAsyncGetProtoByName(HWND hwnd, unsigned msg, const char* name, char* buf,
                                           int buflen) {
    return wsock::AsyncGetProtoByName(hwnd, msg, name, buf, buflen);
}
WSOCK_EXPORT HANDLE WSAAsyncGetProtoByNumber(HWND hwnd, unsigned msg, int number, char* buf,
                                             int buflen) {
    return wsock::AsyncGetProtoByNumber(hwnd, msg, number, buf, buflen);
}
WSOCK_EXPORT HANDLE WSAAsyncGetHostByName(HWND hwnd, unsigned msg, const char* name, char* buf,
                                          int buflen) {
    return wsock::AsyncGetHostByName(hwnd, msg, name, buf, buflen);
}
WSOCK_EXPORT HANDLE WSAAsyncGetHostByAddr(HWND hwnd, unsigned msg, const char* addr, int len,
                                          int type, char* buf, int buflen) {
    return wsock::AsyncGetHostByAddr(hwnd, msg, addr, len, type, buf, buflen);
}
WSOCK_EXPORT int WSACancelAsyncRequest(HANDLE request) {
    return wsock::CancelAsyncRequest(request);
}
#ifndef VELDANA_OMIT_WSAASYNCSELECT  // a variant without it, for the binding's tests
WSOCK_EXPORT int WSAAsyncSelect(SOCKET s, HWND hwnd, unsigned msg, long events) {
    return wsock::AsyncSelect(s, hwnd, msg, events);
}
#endif

WSOCK_EXPORT void VeldanaSocketHost(const SocketHost* host) {
    wsock::RegisterHost(host);
}
