// Binding to the Windows Sockets 1.1 library, loaded at run time by the name WSOCK32.DLL
// (the program directory first, then the Windows SYSTEM directory, then beside the
// executable) with all 45 entries bound by name. A missing library or entry is a failure
// that leaves nothing loaded. Every network call of the console goes through this table.
//
// The first of the three places that holds a file named WSOCK32.DLL is the one loaded: a
// file there that does not load, or lacks an entry, is a failure (the search does not go
// on). Once loaded, the library is handed the window layer as its host (VeldanaSocketHost,
// when it offers that entry): its blocking calls wait on their sockets and the GUI thread's
// message queue together, and its default blocking hook dispatches window messages. A quit
// request that the hook takes out of the queue is posted again when the blocking call
// returns, so that the program's message loop still sees it.
//
// GUI thread only.
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
    std::string path;  // the file loaded

    // A release asked for by a window procedure that a blocking call of the library
    // dispatched: the library is still running that call, so it stays mapped (and the
    // table stays usable by the code the call returns to) until the next load or unload
    // made outside a blocking call.
    struct PendingRelease {
        void* module;
        ws::WSAIsBlocking_t isBlocking;
    };
    std::vector<PendingRelease> pendingRelease;

    // A quit request taken by the blocking hook, posted again when the call returns.
    bool quitDeferred = false;
    int quitCode = 0;
};
SocketLibraryState& SocketLibrary();
// The bound entries; valid while SocketLibraryHandle is set.
const SocketEntryTable& Sockets();

// 1 with the library loaded and bound (at once when it already is), else 0.
int LoadSocketLibrary();
// Releases the library if one is loaded and sets SocketLibraryHandle to 0. Safe to call
// when nothing is loaded.
void UnloadSocketLibrary();
// Binds the 45 entries in table order, stopping at the first name the module lacks: 1 when
// all were found, else 0 with the table cleared.
int BindSocketEntries(void* module);

// Where LoadSocketLibrary looks, in order (for tests and messages).
std::vector<std::string> SocketLibraryCandidates();

// Releases everything and forgets all state, as a fresh process would have it (tests).
void ResetSocketLibrary();

}  // namespace resolve
