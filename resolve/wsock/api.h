// The Windows Sockets 1.1 entries as the library implements them, under names of their
// own. entries.cpp exports each under its Windows name; nothing else here is exported.
// Only the Windows-side types are used, so that the export file needs no system header.
#pragma once

#include "resolve/winsock.h"

namespace wsock {

ws::SOCKET Accept(ws::SOCKET s, ws::sockaddr* addr, int* addrlen);
int Bind(ws::SOCKET s, const ws::sockaddr* name, int namelen);
int CloseSocket(ws::SOCKET s);
int Connect(ws::SOCKET s, const ws::sockaddr* name, int namelen);
int IoctlSocket(ws::SOCKET s, long cmd, ws::u_long* argp);
int GetPeerName(ws::SOCKET s, ws::sockaddr* name, int* namelen);
int GetSockName(ws::SOCKET s, ws::sockaddr* name, int* namelen);
int GetSockOpt(ws::SOCKET s, int level, int optname, char* optval, int* optlen);
ws::u_long HostToNetLong(ws::u_long v);
ws::u_short HostToNetShort(ws::u_short v);
ws::u_long InetAddr(const char* cp);
char* InetNtoa(ws::in_addr in);
int Listen(ws::SOCKET s, int backlog);
int Recv(ws::SOCKET s, char* buf, int len, int flags);
int RecvFrom(ws::SOCKET s, char* buf, int len, int flags, ws::sockaddr* from, int* fromlen);
int Select(int nfds, ws::fd_set* readfds, ws::fd_set* writefds, ws::fd_set* exceptfds,
           const ws::timeval* timeout);
int Send(ws::SOCKET s, const char* buf, int len, int flags);
int SendTo(ws::SOCKET s, const char* buf, int len, int flags, const ws::sockaddr* to, int tolen);
int SetSockOpt(ws::SOCKET s, int level, int optname, const char* optval, int optlen);
ws::SOCKET Socket(int af, int type, int protocol);
ws::hostent* GetHostByAddr(const char* addr, int len, int type);
ws::hostent* GetHostByName(const char* name);
int GetHostName(char* name, int namelen);
ws::servent* GetServByPort(int port, const char* proto);
ws::servent* GetServByName(const char* name, const char* proto);
ws::protoent* GetProtoByNumber(int number);
ws::protoent* GetProtoByName(const char* name);
int Startup(std::uint16_t version, ws::WSADATA* data);
int Cleanup();
void SetLastError(int error);
int GetLastError();
int IsBlocking();
int UnhookBlockingHook();
ws::FARPROC SetBlockingHook(ws::FARPROC hook);
int CancelBlockingCall();
ws::HANDLE AsyncGetServByName(ws::HWND, unsigned, const char*, const char*, char*, int);
ws::HANDLE AsyncGetServByPort(ws::HWND, unsigned, int, const char*, char*, int);
ws::HANDLE AsyncGetProtoByName(ws::HWND, unsigned, const char*, char*, int);
ws::HANDLE AsyncGetProtoByNumber(ws::HWND, unsigned, int, char*, int);
ws::HANDLE AsyncGetHostByName(ws::HWND, unsigned, const char*, char*, int);
ws::HANDLE AsyncGetHostByAddr(ws::HWND, unsigned, const char*, int, int, char*, int);
int CancelAsyncRequest(ws::HANDLE request);
int AsyncSelect(ws::SOCKET s, ws::HWND window, unsigned message, long events);

void RegisterHost(const ws::SocketHost* host);

}  // namespace wsock
