#include "resolve/socket_library.h"

#include <dlfcn.h>
#include <poll.h>

#include <filesystem>
#include <iterator>
#include <type_traits>

#include "platform/locations.h"
#include "platform/process_state.h"
#include "ui/messages.h"

namespace resolve {
namespace {

constexpr const char* kLibraryName = "WSOCK32.DLL";

// One row per entry, in binding order: its name and where its pointer goes.
struct Entry {
    const char* name;
    void (*store)(SocketEntryTable& table, void* address);
};

template <auto Member>
void Store(SocketEntryTable& table, void* address) {
    using Pointer = std::remove_reference_t<decltype(table.*Member)>;
    table.*Member = reinterpret_cast<Pointer>(address);
}

#define VELDANA_ENTRY(name)                      \
    Entry {                                      \
#name, &Store < &SocketEntryTable::name> \
    }
constexpr Entry kEntries[] = {
    VELDANA_ENTRY(accept),
    VELDANA_ENTRY(bind),
    VELDANA_ENTRY(closesocket),
    VELDANA_ENTRY(connect),
    VELDANA_ENTRY(ioctlsocket),
    VELDANA_ENTRY(getpeername),
    VELDANA_ENTRY(getsockname),
    VELDANA_ENTRY(getsockopt),
    VELDANA_ENTRY(htonl),
    VELDANA_ENTRY(htons),
    VELDANA_ENTRY(inet_addr),
    VELDANA_ENTRY(inet_ntoa),
    VELDANA_ENTRY(listen),
    VELDANA_ENTRY(ntohl),
    VELDANA_ENTRY(ntohs),
    VELDANA_ENTRY(recv),
    VELDANA_ENTRY(recvfrom),
    VELDANA_ENTRY(select),
    VELDANA_ENTRY(send),
    VELDANA_ENTRY(sendto),
    VELDANA_ENTRY(setsockopt),
    VELDANA_ENTRY(socket),
    VELDANA_ENTRY(gethostbyaddr),
    VELDANA_ENTRY(gethostbyname),
    VELDANA_ENTRY(gethostname),
    VELDANA_ENTRY(getservbyport),
    VELDANA_ENTRY(getservbyname),
    VELDANA_ENTRY(getprotobynumber),
    VELDANA_ENTRY(getprotobyname),
    VELDANA_ENTRY(WSAStartup),
    VELDANA_ENTRY(WSACleanup),
    VELDANA_ENTRY(WSASetLastError),
    VELDANA_ENTRY(WSAGetLastError),
    VELDANA_ENTRY(WSAIsBlocking),
    VELDANA_ENTRY(WSAUnhookBlockingHook),
    VELDANA_ENTRY(WSASetBlockingHook),
    VELDANA_ENTRY(WSACancelBlockingCall),
    VELDANA_ENTRY(WSAAsyncGetServByName),
    VELDANA_ENTRY(WSAAsyncGetServByPort),
    VELDANA_ENTRY(WSAAsyncGetProtoByName),
    VELDANA_ENTRY(WSAAsyncGetProtoByNumber),
    VELDANA_ENTRY(WSAAsyncGetHostByName),
    VELDANA_ENTRY(WSAAsyncGetHostByAddr),
    VELDANA_ENTRY(WSACancelAsyncRequest),
    VELDANA_ENTRY(WSAAsyncSelect),
};
#undef VELDANA_ENTRY
static_assert(std::size(kEntries) == 45);
static_assert(sizeof(SocketEntryTable) == 45 * sizeof(void*), "one table slot per entry");

SocketLibraryState& State() {
    static SocketLibraryState state;
    return state;
}

// --- the host: the window layer as the library's blocking calls see it

int HostWait(ws::pollfd_like* fds, int count, int timeoutMs) {
    std::vector<pollfd> extra(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) extra[i] = pollfd{fds[i].fd, fds[i].events, 0};
    int ready = ui::WaitForInput(extra, timeoutMs);
    for (int i = 0; i < count; ++i) fds[i].revents = extra[i].revents;
    return ready;
}

int HostPumpOne() {
    ui::MSG msg;
    if (!ui::PeekMessage(msg, 0, ui::PM_REMOVE)) return 0;
    if (msg.message == ui::WM_QUIT) {
        // Kept aside: left in the queue it would end every wait at once.
        SocketLibraryState& st = State();
        st.quitDeferred = true;
        st.quitCode = static_cast<int>(msg.wParam);
        return 1;
    }
    ui::TranslateMessage(msg);
    ui::DispatchMessage(msg);
    return 1;
}

void HostBlockingEnded() {
    SocketLibraryState& st = State();
    if (!st.quitDeferred) return;
    st.quitDeferred = false;
    ui::PostQuitMessage(st.quitCode);
}

const ws::SocketHost kHost{&HostWait, &HostPumpOne, &HostBlockingEnded};

// Releases the libraries whose release had to wait for their blocking call to end.
void ReleasePending(SocketLibraryState& st) {
    auto& pending = st.pendingRelease;
    for (auto it = pending.begin(); it != pending.end();) {
        if (it->isBlocking()) {
            ++it;
            continue;
        }
        dlclose(it->module);
        it = pending.erase(it);
    }
    if (pending.empty() && st.SocketLibraryHandle == nullptr) st.entries = SocketEntryTable{};
}

}  // namespace

SocketLibraryState& SocketLibrary() {
    return State();
}

const SocketEntryTable& Sockets() {
    return State().entries;
}

std::vector<std::string> SocketLibraryCandidates() {
    std::vector<std::string> dirs = {platform::ProgramDirectory(),
                                     platform::WindowsDirectory() + "/SYSTEM",
                                     platform::ExecutableDirectory()};
    std::vector<std::string> paths;
    for (const std::string& dir : dirs) {
        std::string path = dir + "/" + kLibraryName;
        bool seen = false;
        for (const std::string& p : paths) seen = seen || p == path;
        if (!seen) paths.push_back(path);
    }
    return paths;
}

int BindSocketEntries(void* module) {
    SocketEntryTable& table = State().entries;
    table = SocketEntryTable{};
    if (module == nullptr) return 0;
    for (const Entry& e : kEntries) {
        void* address = dlsym(module, e.name);
        if (address == nullptr) {
            table = SocketEntryTable{};
            return 0;
        }
        e.store(table, address);
    }
    return 1;
}

int LoadSocketLibrary() {
    SocketLibraryState& st = State();
    ReleasePending(st);
    if (st.SocketLibraryHandle != nullptr) return 1;

    std::string path;
    for (const std::string& candidate : SocketLibraryCandidates()) {
        std::error_code ec;
        if (std::filesystem::exists(candidate, ec)) {
            path = candidate;
            break;
        }
    }
    if (path.empty()) return 0;
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) return 0;
    st.SocketLibraryHandle = module;
    if (!BindSocketEntries(module)) {
        dlclose(module);
        st.SocketLibraryHandle = nullptr;
        return 0;
    }
    st.path = path;
    if (auto host = reinterpret_cast<ws::VeldanaSocketHost_t>(dlsym(module, "VeldanaSocketHost")))
        host(&kHost);
    return 1;
}

void UnloadSocketLibrary() {
    SocketLibraryState& st = State();
    if (st.SocketLibraryHandle == nullptr) {
        ReleasePending(st);
        return;
    }
    if (st.entries.WSAIsBlocking && st.entries.WSAIsBlocking()) {
        // Called from a window procedure that the library's blocking hook dispatched.
        st.pendingRelease.push_back({st.SocketLibraryHandle, st.entries.WSAIsBlocking});
        st.SocketLibraryHandle = nullptr;
        st.path.clear();
        return;
    }
    dlclose(st.SocketLibraryHandle);
    st.SocketLibraryHandle = nullptr;
    st.entries = SocketEntryTable{};
    st.path.clear();
    ReleasePending(st);
}

void ResetSocketLibrary() {
    SocketLibraryState& st = State();
    if (st.SocketLibraryHandle != nullptr) dlclose(st.SocketLibraryHandle);
    for (const auto& p : st.pendingRelease) dlclose(p.module);
    st = SocketLibraryState{};
}
namespace {
const platform::StateReset kResetSocketLibrary{platform::StateLayer::kResolve, &ResetSocketLibrary};
}  // namespace

}  // namespace resolve
