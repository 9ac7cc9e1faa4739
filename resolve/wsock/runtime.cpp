#include "resolve/wsock/runtime.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "resolve/wsock/api.h"
#include "resolve/wsock/posix.h"

namespace wsock {
namespace {

// Trivially destructible on purpose: a thread_local with a destructor would pin the
// library in memory until the thread ends, and it is meant to unload with dlclose.
struct ThreadState {
    int lastError;
    ws::FARPROC hook;  // nullptr: the default hook
    bool blocking;
    bool cancelled;
};
thread_local ThreadState tls;

struct Host {
    ws::SocketHost calls{};
    bool present = false;
    std::thread::id thread;
};

struct Process {
    std::mutex mutex;
    std::atomic<int> startups{0};
    std::unordered_map<int, SocketRef> sockets;
    Host host;
};

Process& P() {
    static Process process;
    return process;
}

// The host as seen from the calling thread: usable only on the thread that registered it.
ws::SocketHost HostForThisThread() {
    Process& p = P();
    std::lock_guard lock(p.mutex);
    if (!p.host.present || p.host.thread != std::this_thread::get_id()) return {};
    return p.host.calls;
}

int DefaultBlockingHook() {
    ws::SocketHost host = HostForThisThread();
    return host.pumpOne ? host.pumpOne() : 0;
}

constexpr int kCustomHookSliceMs = 50;

int Remaining(std::int64_t deadline) {
    if (deadline < 0) return -1;
    std::int64_t left = deadline - sys::NowMs();
    return left <= 0 ? 0 : static_cast<int>(std::min<std::int64_t>(left, INT_MAX));
}

void RunHook(const ws::SocketHost& host) {
    if (tls.hook != nullptr) {
        while (!tls.cancelled && tls.hook()) {
        }
    } else if (host.pumpOne != nullptr) {
        while (!tls.cancelled && host.pumpOne()) {
        }
    }
}

void WaitOnce(std::span<pollfd> fds, int timeoutMs, const ws::SocketHost& host) {
    for (pollfd& p : fds) p.revents = 0;
    if (tls.hook == nullptr && host.wait != nullptr) {
        std::vector<ws::pollfd_like> like(fds.size());
        for (std::size_t i = 0; i < fds.size(); ++i) like[i] = {fds[i].fd, fds[i].events, 0};
        host.wait(like.data(), static_cast<int>(like.size()), timeoutMs);
        for (std::size_t i = 0; i < fds.size(); ++i) fds[i].revents = like[i].revents;
        return;
    }
    if (tls.hook != nullptr && (timeoutMs < 0 || timeoutMs > kCustomHookSliceMs))
        timeoutMs = kCustomHookSliceMs;
    sys::Poll(fds.data(), fds.size(), timeoutMs);
}

void CloseAllSockets() {
    Process& p = P();
    std::vector<int> fds;
    {
        std::lock_guard lock(p.mutex);
        for (const auto& [fd, ref] : p.sockets) fds.push_back(fd);
        p.sockets.clear();
    }
    for (int fd : fds) sys::Close(fd);
}

}  // namespace

bool Started() {
    return P().startups.load() > 0;
}

int CallAllowed() {
    if (!Started()) return ws::WSANOTINITIALISED;
    if (tls.blocking) return ws::WSAEINPROGRESS;
    return 0;
}

int Fail(int wsaError) {
    tls.lastError = wsaError;
    return ws::SOCKET_ERROR;
}

int ErrorOf(int e) {
    switch (e) {
        case 0:
            return 0;
        case EINTR:
            return ws::WSAEINTR;
        case EBADF:
            return ws::WSAENOTSOCK;
        case EACCES:
        case EPERM:
            return ws::WSAEACCES;
        case EFAULT:
            return ws::WSAEFAULT;
        case EINVAL:
            return ws::WSAEINVAL;
        case EMFILE:
        case ENFILE:
            return ws::WSAEMFILE;
        case EAGAIN:
            return ws::WSAEWOULDBLOCK;
        case EINPROGRESS:
            return ws::WSAEWOULDBLOCK;  // a connection under way
        case EALREADY:
            return ws::WSAEALREADY;
        case ENOTSOCK:
            return ws::WSAENOTSOCK;
        case EDESTADDRREQ:
            return ws::WSAEDESTADDRREQ;
        case EMSGSIZE:
            return ws::WSAEMSGSIZE;
        case EPROTOTYPE:
            return ws::WSAEPROTOTYPE;
        case ENOPROTOOPT:
            return ws::WSAENOPROTOOPT;
        case EPROTONOSUPPORT:
            return ws::WSAEPROTONOSUPPORT;
        case ESOCKTNOSUPPORT:
            return ws::WSAESOCKTNOSUPPORT;
        case EOPNOTSUPP:
            return ws::WSAEOPNOTSUPP;
        case EPFNOSUPPORT:
            return ws::WSAEPFNOSUPPORT;
        case EAFNOSUPPORT:
            return ws::WSAEAFNOSUPPORT;
        case EADDRINUSE:
            return ws::WSAEADDRINUSE;
        case EADDRNOTAVAIL:
            return ws::WSAEADDRNOTAVAIL;
        case ENETDOWN:
            return ws::WSAENETDOWN;
        case ENETUNREACH:
            return ws::WSAENETUNREACH;
        case ENETRESET:
            return ws::WSAENETRESET;
        case ECONNABORTED:
            return ws::WSAECONNABORTED;
        case ECONNRESET:
        case EPIPE:
            return ws::WSAECONNRESET;  // see Transmit for a stream never connected
        case ENOBUFS:
        case ENOMEM:
            return ws::WSAENOBUFS;
        case EISCONN:
            return ws::WSAEISCONN;
        case ENOTCONN:
            return ws::WSAENOTCONN;
        case ESHUTDOWN:
            return ws::WSAESHUTDOWN;
        case ETIMEDOUT:
            return ws::WSAETIMEDOUT;
        case ECONNREFUSED:
            return ws::WSAECONNREFUSED;
        case ELOOP:
            return ws::WSAELOOP;
        case ENAMETOOLONG:
            return ws::WSAENAMETOOLONG;
        case EHOSTDOWN:
            return ws::WSAEHOSTDOWN;
        case EHOSTUNREACH:
            return ws::WSAEHOSTUNREACH;
        case ENOSYS:
            return ws::WSASYSNOTREADY;
        default:
            return ws::WSAENETDOWN;  // the system failed in a way sockets do not name
    }
}

int FailErrno(long negativeErrno) {
    return Fail(ErrorOf(static_cast<int>(-negativeErrno)));
}

bool FindSocket(ws::SOCKET s, SocketRef* out) {
    if (s > static_cast<ws::SOCKET>(INT_MAX)) return false;
    Process& p = P();
    std::lock_guard lock(p.mutex);
    auto it = p.sockets.find(static_cast<int>(s));
    if (it == p.sockets.end()) return false;
    *out = it->second;
    return true;
}

void AddSocket(int fd, bool nonBlocking, bool connected) {
    Process& p = P();
    std::lock_guard lock(p.mutex);
    p.sockets[fd] = SocketRef{fd, nonBlocking, connected};
}

void SetConnected(int fd) {
    Process& p = P();
    std::lock_guard lock(p.mutex);
    auto it = p.sockets.find(fd);
    if (it != p.sockets.end()) it->second.connected = true;
}

bool RemoveSocket(ws::SOCKET s, int* fd) {
    if (s > static_cast<ws::SOCKET>(INT_MAX)) return false;
    Process& p = P();
    std::lock_guard lock(p.mutex);
    auto it = p.sockets.find(static_cast<int>(s));
    if (it == p.sockets.end()) return false;
    *fd = it->first;
    p.sockets.erase(it);
    return true;
}

void SetNonBlocking(int fd, bool nonBlocking) {
    Process& p = P();
    std::lock_guard lock(p.mutex);
    auto it = p.sockets.find(fd);
    if (it != p.sockets.end()) it->second.nonBlocking = nonBlocking;
}

long Block(std::span<pollfd> fds, int timeoutMs, const std::function<long()>& attempt) {
    long result = attempt();
    if (result != -EAGAIN || timeoutMs == 0) return result;

    const ws::SocketHost host = HostForThisThread();
    tls.blocking = true;
    tls.cancelled = false;
    struct EndOfCall {
        const ws::SocketHost& host;
        ~EndOfCall() {
            tls.blocking = false;
            tls.cancelled = false;
            if (host.blockingEnded) host.blockingEnded();
        }
    } end{host};

    std::int64_t deadline = timeoutMs < 0 ? -1 : sys::NowMs() + timeoutMs;
    for (;;) {
        RunHook(host);
        if (tls.cancelled) return -EINTR;
        result = attempt();
        if (result != -EAGAIN) return result;
        int wait = Remaining(deadline);
        if (wait == 0) return -EAGAIN;
        WaitOnce(fds, wait, host);
    }
}

// --- entries about the library itself

int Startup(std::uint16_t version, ws::WSADATA* data) {
    int major = version & 0xff, minor = (version >> 8) & 0xff;
    if (data != nullptr) {
        *data = ws::WSADATA{};
        data->wVersion = 0x0101;
        data->wHighVersion = 0x0101;
        std::strcpy(data->szDescription, "Veldana Windows Sockets 1.1 over POSIX sockets");
        std::strcpy(data->szSystemStatus, sys::Available() ? "Running" : "Not ready");
        data->iMaxSockets = 1024;
        data->iMaxUdpDg = 65467;
        data->lpVendorInfo = nullptr;
    }
    if (major < 1 || (major == 1 && minor < 1)) return ws::WSAVERNOTSUPPORTED;
    if (data == nullptr) return ws::WSAEFAULT;
    if (tls.blocking) return ws::WSAEINPROGRESS;
    if (!sys::Available()) return ws::WSASYSNOTREADY;
    P().startups.fetch_add(1);
    return 0;
}

int Cleanup() {
    if (int e = CallAllowed()) return Fail(e);
    Process& p = P();
    int left = p.startups.fetch_sub(1) - 1;
    if (left < 0) {
        p.startups.fetch_add(1);
        return Fail(ws::WSANOTINITIALISED);
    }
    if (left == 0) {
        // As on Windows: the last cleanup closes what the program left open.
        CloseAllSockets();
        tls.hook = nullptr;
    }
    return 0;
}

void SetLastError(int error) {
    tls.lastError = error;
}
int GetLastError() {
    return tls.lastError;
}

int IsBlocking() {
    return tls.blocking ? 1 : 0;
}

int CancelBlockingCall() {
    if (!Started()) return Fail(ws::WSANOTINITIALISED);
    if (!tls.blocking) return Fail(ws::WSAEINVAL);
    tls.cancelled = true;
    return 0;
}

ws::FARPROC SetBlockingHook(ws::FARPROC hook) {
    if (int e = CallAllowed()) {
        Fail(e);
        return nullptr;
    }
    if (hook == nullptr) {
        Fail(ws::WSAEFAULT);
        return nullptr;
    }
    ws::FARPROC previous = tls.hook ? tls.hook : &DefaultBlockingHook;
    tls.hook = hook == &DefaultBlockingHook ? nullptr : hook;
    return previous;
}

int UnhookBlockingHook() {
    if (int e = CallAllowed()) return Fail(e);
    tls.hook = nullptr;
    return 0;
}

void RegisterHost(const ws::SocketHost* host) {
    Process& p = P();
    std::lock_guard lock(p.mutex);
    p.host = Host{};
    if (host == nullptr || host->wait == nullptr || host->pumpOne == nullptr) return;
    p.host.calls = *host;
    p.host.present = true;
    p.host.thread = std::this_thread::get_id();
}

}  // namespace wsock
