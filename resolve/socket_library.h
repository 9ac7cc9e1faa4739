// Binding to the Windows Sockets 1.1 library, loaded at run time by the name WSOCK32.DLL
// (the program directory first, then the Windows SYSTEM directory, then beside the
// executable) with all 45 entries bound by name. A missing library or entry is a failure
// that leaves nothing loaded. Every network call of the console goes through this table.
#pragma once

#include <string>
#include <vector>

#include "resolve/winsock.h"

namespace resolve {

struct SocketEntryTable {
    ws::accept_t accept = nullptr;
    ws::bind_t bind = nullptr;
    ws::closesocket_t closesocket = nullptr;
    ws::connect_t connect = nullptr;
    ws::ioctlsocket_t ioctlsocket = nullptr;
    ws::getpeername_t getpeername = nullptr;
    ws::getsockname_t getsockname = nullptr;
    ws::getsockopt_t getsockopt = nullptr;
    ws::htonl_t htonl = nullptr;
    ws::htons_t htons = nullptr;
    ws::inet_addr_t inet_addr = nullptr;
    ws::inet_ntoa_t inet_ntoa = nullptr;
    ws::listen_t listen = nullptr;
    ws::ntohl_t ntohl = nullptr;
    ws::ntohs_t ntohs = nullptr;
    ws::recv_t recv = nullptr;
    ws::recvfrom_t recvfrom = nullptr;
    ws::select_t select = nullptr;
    ws::send_t send = nullptr;
    ws::sendto_t sendto = nullptr;
    ws::setsockopt_t setsockopt = nullptr;
    ws::socket_t socket = nullptr;
    ws::gethostbyaddr_t gethostbyaddr = nullptr;
    ws::gethostbyname_t gethostbyname = nullptr;
    ws::gethostname_t gethostname = nullptr;
    ws::getservbyport_t getservbyport = nullptr;
    ws::getservbyname_t getservbyname = nullptr;
    ws::getprotobynumber_t getprotobynumber = nullptr;
    ws::getprotobyname_t getprotobyname = nullptr;
    ws::WSAStartup_t WSAStartup = nullptr;
    ws::WSACleanup_t WSACleanup = nullptr;
    ws::WSASetLastError_t WSASetLastError = nullptr;
    ws::WSAGetLastError_t WSAGetLastError = nullptr;
    ws::WSAIsBlocking_t WSAIsBlocking = nullptr;
    ws::WSAUnhookBlockingHook_t WSAUnhookBlockingHook = nullptr;
    ws::WSASetBlockingHook_t WSASetBlockingHook = nullptr;
    ws::WSACancelBlockingCall_t WSACancelBlockingCall = nullptr;
    ws::WSAAsyncGetServByName_t WSAAsyncGetServByName = nullptr;
    ws::WSAAsyncGetServByPort_t WSAAsyncGetServByPort = nullptr;
    ws::WSAAsyncGetProtoByName_t WSAAsyncGetProtoByName = nullptr;
    ws::WSAAsyncGetProtoByNumber_t WSAAsyncGetProtoByNumber = nullptr;
    ws::WSAAsyncGetHostByName_t WSAAsyncGetHostByName = nullptr;
    ws::WSAAsyncGetHostByAddr_t WSAAsyncGetHostByAddr = nullptr;
    ws::WSACancelAsyncRequest_t WSACancelAsyncRequest = nullptr;
    ws::WSAAsyncSelect_t WSAAsyncSelect = nullptr;
};

// The loaded module (0 when none) and the bound entries.
struct SocketLibraryState {
    void* SocketLibraryHandle = nullptr;
    SocketEntryTable entries;
};
SocketLibraryState& SocketLibrary();
// The bound entries; valid while SocketLibraryHandle is set.
const SocketEntryTable& Sockets();

int LoadSocketLibrary();
void UnloadSocketLibrary();
int BindSocketEntries(void* module);

// Where LoadSocketLibrary looks, in order (for tests and messages).
std::vector<std::string> SocketLibraryCandidates();

}  // namespace resolve
