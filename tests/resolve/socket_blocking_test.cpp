// Blocking calls of WSOCK32.DLL inside the console's message-driven world: while a call
// waits, the default blocking hook dispatches window messages (timers, the scripted user),
// WSACancelBlockingCall from a dispatched timer ends the call with WSAEINTR, other socket
// calls made meanwhile are refused, and a quit request or a release of the library made
// during the call is handled after it.
//
// A peer thread stands for the remote end: it acts when the test releases it, or by itself
// after 10 seconds, so that a wait that never dispatches ends in a failed expectation
// rather than a hang.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "resolve/socket_library.h"
#include "tests/support/temp_install.h"
#include "ui/headless.h"
#include "ui/messages.h"
#include "ui/window.h"

namespace {

using resolve::Sockets;
using ws::SOCKET;
using ws::SOCKET_ERROR;

class Peer {
  public:
    explicit Peer(std::function<void()> act) : act_(std::move(act)), thread_([this] { Run(); }) {}
    ~Peer() {
        {
            std::lock_guard lock(mutex_);
            if (state_ == kWaiting) state_ = kStopped;
        }
        cv_.notify_all();
        thread_.join();
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    void Release() {
        {
            std::lock_guard lock(mutex_);
            if (state_ == kWaiting) state_ = kReleased;
        }
        cv_.notify_all();
    }
    // True when the peer had to act by itself: the release never came.
    bool TimedOut() const { return timedOut_; }

  private:
    enum State { kWaiting, kReleased, kStopped };
    void Run() {
        std::unique_lock lock(mutex_);
        if (!cv_.wait_for(lock, std::chrono::seconds(10), [&] { return state_ != kWaiting; }))
            timedOut_ = true;
        bool act = state_ != kStopped;
        lock.unlock();
        if (act) act_();
    }

    std::function<void()> act_;
    std::mutex mutex_;
    std::condition_variable cv_;
    State state_ = kWaiting;
    std::atomic<bool> timedOut_{false};
    std::thread thread_;
};

// What the timer callbacks saw (they are plain function pointers).
Peer* g_peer = nullptr;
int g_ticks = 0;
int g_blockingSeen = -1;
int g_cancelResult = 0;
int g_nestedError = 0;
int g_releaseTick = 2;

void ReleasingTick(ui::HWND, ui::UINT, ui::UINT, std::uint32_t) {
    ++g_ticks;
    g_blockingSeen = Sockets().WSAIsBlocking();
    if (g_ticks == g_releaseTick && g_peer) g_peer->Release();
}

void CancellingTick(ui::HWND, ui::UINT, ui::UINT, std::uint32_t) {
    if (++g_ticks > 1) return;
    g_blockingSeen = Sockets().WSAIsBlocking();
    ws::u_long n = 0;
    if (Sockets().ioctlsocket(3, ws::FIONREAD, &n) == SOCKET_ERROR)
        g_nestedError = Sockets().WSAGetLastError();
    g_cancelResult = Sockets().WSACancelBlockingCall();
}

class SocketBlockingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ui::ResetWindowLayer();
        resolve::ResetSocketLibrary();
        g_peer = nullptr;
        g_ticks = 0;
        g_blockingSeen = -1;
        g_cancelResult = -2;
        g_nestedError = 0;
        g_releaseTick = 2;
        ASSERT_EQ(resolve::LoadSocketLibrary(), 1);
        ws::WSADATA data{};
        ASSERT_EQ(Sockets().WSAStartup(0x0101, &data), 0);
    }
    void TearDown() override {
        if (Sockets().WSACleanup) Sockets().WSACleanup();
        resolve::ResetSocketLibrary();
        ui::ResetWindowLayer();
        g_peer = nullptr;
    }

    static ws::sockaddr_in Loopback() {
        ws::sockaddr_in a{};
        a.sin_family = ws::AF_INET;
        a.sin_addr.s_addr = Sockets().htonl(ws::INADDR_LOOPBACK);
        return a;
    }
    static const ws::sockaddr* Sa(const ws::sockaddr_in& a) {
        return reinterpret_cast<const ws::sockaddr*>(&a);
    }
    SOCKET Bound(int type, ws::sockaddr_in* where) {
        const auto& t = Sockets();
        SOCKET s = t.socket(ws::AF_INET, type, 0);
        ws::sockaddr_in a = Loopback();
        EXPECT_EQ(t.bind(s, Sa(a), sizeof a), 0);
        int len = sizeof a;
        EXPECT_EQ(t.getsockname(s, reinterpret_cast<ws::sockaddr*>(where), &len), 0);
        return s;
    }
    // A connected stream: client and server ends; `buffers` bytes of system buffer at each
    // end when given (0: the system's choice).
    void Connect(SOCKET& client, SOCKET& server, int buffers = 0) {
        const auto& t = Sockets();
        ws::sockaddr_in where;
        SOCKET listener = Bound(ws::SOCK_STREAM, &where);
        client = t.socket(ws::AF_INET, ws::SOCK_STREAM, 0);
        if (buffers > 0) {
            const char* size = reinterpret_cast<const char*>(&buffers);
            ASSERT_EQ(t.setsockopt(listener, ws::SOL_SOCKET, ws::SO_RCVBUF, size, sizeof buffers),
                      0);
            ASSERT_EQ(t.setsockopt(client, ws::SOL_SOCKET, ws::SO_SNDBUF, size, sizeof buffers), 0);
        }
        ASSERT_EQ(t.listen(listener, 5), 0);
        ASSERT_EQ(t.connect(client, Sa(where), sizeof where), 0);
        server = t.accept(listener, nullptr, nullptr);
        ASSERT_NE(server, ws::INVALID_SOCKET);
        t.closesocket(listener);
    }

    // A blocking call to make, and what the peer does to let it complete.
    struct Operation {
        std::function<bool()> call;  // true when it succeeded
        std::function<void()> peer;
    };
    enum Kind { kRecv, kRecvFrom, kAccept, kSelectNoLimit, kSelectLimit, kSendFull };
    static constexpr Kind kKinds[] = {kRecv,          kRecvFrom,    kAccept,
                                      kSelectNoLimit, kSelectLimit, kSendFull};
    static const char* Name(Kind k) {
        const char* names[] = {"recv",
                               "recvfrom",
                               "accept",
                               "select",
                               "select with a limit",
                               "send on a full connection"};
        return names[k];
    }

    Operation Prepare(Kind kind) {
        const auto& t = Sockets();
        Operation op;
        switch (kind) {
            case kRecv: {
                SOCKET client = 0, server = 0;
                Connect(client, server);
                op.call = [=] {
                    char buf[16];
                    return t.recv(server, buf, sizeof buf, 0) == 4;
                };
                op.peer = [=] { t.send(client, "data", 4, 0); };
                break;
            }
            case kRecvFrom:
            case kSelectNoLimit:
            case kSelectLimit: {
                ws::sockaddr_in at, bt;
                SOCKET a = Bound(ws::SOCK_DGRAM, &at);
                SOCKET b = Bound(ws::SOCK_DGRAM, &bt);
                op.peer = [=] { t.sendto(a, "data", 4, 0, Sa(bt), sizeof bt); };
                if (kind == kRecvFrom) {
                    op.call = [=] {
                        char buf[16];
                        ws::sockaddr_in from{};
                        int len = sizeof from;
                        return t.recvfrom(b, buf, sizeof buf, 0,
                                          reinterpret_cast<ws::sockaddr*>(&from), &len) == 4 &&
                               from.sin_port == at.sin_port;
                    };
                } else {
                    bool limited = kind == kSelectLimit;
                    op.call = [=] {
                        ws::fd_set read{};
                        ws::FdSet(b, read);
                        ws::timeval limit{60, 0};
                        return t.select(0, &read, nullptr, nullptr, limited ? &limit : nullptr) ==
                                   1 &&
                               ws::FdIsSet(b, read);
                    };
                }
                break;
            }
            case kAccept: {
                ws::sockaddr_in where;
                SOCKET listener = Bound(ws::SOCK_STREAM, &where);
                EXPECT_EQ(t.listen(listener, 5), 0);
                op.call = [=] {
                    ws::sockaddr_in from{};
                    int len = sizeof from;
                    return t.accept(listener, reinterpret_cast<ws::sockaddr*>(&from), &len) !=
                           ws::INVALID_SOCKET;
                };
                op.peer = [=] {
                    SOCKET s = t.socket(ws::AF_INET, ws::SOCK_STREAM, 0);
                    t.connect(s, Sa(where), sizeof where);
                };
                break;
            }
            case kSendFull: {
                SOCKET client = 0, server = 0;
                Connect(client, server, 4096);
                // Fill everything between the two ends without waiting; the next send
                // cannot complete before the peer reads.
                static char chunk[65536];
                ws::u_long on = 1, off = 0;
                EXPECT_EQ(t.ioctlsocket(client, ws::FIONBIO, &on), 0);
                long filled = 0;
                for (int n; (n = t.send(client, chunk, sizeof chunk, 0)) > 0;) filled += n;
                EXPECT_EQ(t.WSAGetLastError(), ws::WSAEWOULDBLOCK);
                EXPECT_EQ(t.ioctlsocket(client, ws::FIONBIO, &off), 0);
                op.call = [=] { return t.send(client, chunk, sizeof chunk, 0) == sizeof chunk; };
                op.peer = [=] {
                    static char sink[65536];
                    for (long left = filled + static_cast<long>(sizeof chunk); left > 0;) {
                        int n = t.recv(server, sink, sizeof sink, 0);
                        if (n <= 0) break;
                        left -= n;
                    }
                };
                break;
            }
        }
        return op;
    }
};

TEST_F(SocketBlockingTest, WindowTimersAreDispatchedWhileCallsWait) {
    for (Kind kind : kKinds) {
        SCOPED_TRACE(Name(kind));
        g_ticks = 0;
        g_blockingSeen = -1;
        Operation op = Prepare(kind);
        Peer peer(op.peer);
        g_peer = &peer;
        ui::UINT timer = ui::SetTimer(0, 0, 10, &ReleasingTick);

        EXPECT_TRUE(op.call());
        ui::KillTimer(0, timer);
        EXPECT_FALSE(peer.TimedOut()) << "the timer never ran during the call";
        EXPECT_GE(g_ticks, 2);
        EXPECT_EQ(g_blockingSeen, 1) << "WSAIsBlocking inside the dispatched timer";
        EXPECT_EQ(Sockets().WSAIsBlocking(), 0);
    }
}

TEST_F(SocketBlockingTest, CancelFromATimerEndsTheCallWithInterrupted) {
    const auto& t = Sockets();
    for (Kind kind : kKinds) {
        SCOPED_TRACE(Name(kind));
        g_ticks = 0;
        g_blockingSeen = -1;
        g_cancelResult = -2;
        g_nestedError = 0;
        Operation op = Prepare(kind);
        Peer peer(op.peer);  // acts only if the cancellation does not work
        ui::UINT timer = ui::SetTimer(0, 0, 10, &CancellingTick);

        t.WSASetLastError(0);
        EXPECT_FALSE(op.call());
        EXPECT_EQ(t.WSAGetLastError(), ws::WSAEINTR);
        ui::KillTimer(0, timer);
        EXPECT_FALSE(peer.TimedOut());
        EXPECT_EQ(g_blockingSeen, 1);
        EXPECT_EQ(g_cancelResult, 0);
        EXPECT_EQ(g_nestedError, ws::WSAEINPROGRESS) << "other calls wait for the blocking one";

        EXPECT_EQ(t.WSACancelBlockingCall(), SOCKET_ERROR) << "nothing left to cancel";
        EXPECT_EQ(t.WSAGetLastError(), ws::WSAEINVAL);
    }
}

TEST_F(SocketBlockingTest, ScriptedUserActsWhileRecvWaits) {
    ui::HeadlessDisplay display;
    Operation op = Prepare(kRecv);
    Peer peer(op.peer);
    display.Then([&] { peer.Release(); });

    EXPECT_TRUE(op.call());
    EXPECT_FALSE(peer.TimedOut());
    EXPECT_EQ(display.PendingSteps(), 0u);
}

int g_hookCalls = 0;
int CountingHook() {
    if (++g_hookCalls == 1 && g_peer) g_peer->Release();
    return 0;
}

TEST_F(SocketBlockingTest, InstalledHookReplacesTheDefaultUntilUnhooked) {
    const auto& t = Sockets();
    g_hookCalls = 0;
    ws::FARPROC standard = t.WSASetBlockingHook(&CountingHook);
    ASSERT_NE(standard, nullptr);
    {
        Operation op = Prepare(kRecv);
        Peer peer(op.peer);
        g_peer = &peer;
        ui::UINT timer = ui::SetTimer(0, 0, 1, &ReleasingTick);
        EXPECT_TRUE(op.call());
        ui::KillTimer(0, timer);
        EXPECT_FALSE(peer.TimedOut());
        EXPECT_GE(g_hookCalls, 1);
        EXPECT_EQ(g_ticks, 0) << "with its own hook, the program dispatches messages itself";
    }
    EXPECT_EQ(t.WSASetBlockingHook(standard), &CountingHook);
    {
        Operation op = Prepare(kRecv);
        Peer peer(op.peer);
        g_peer = &peer;
        ui::UINT timer = ui::SetTimer(0, 0, 10, &ReleasingTick);
        EXPECT_TRUE(op.call());
        ui::KillTimer(0, timer);
        EXPECT_FALSE(peer.TimedOut()) << "the standard hook dispatches again";
    }
    EXPECT_EQ(t.WSASetBlockingHook(&CountingHook), standard);
    EXPECT_EQ(t.WSAUnhookBlockingHook(), 0);
    EXPECT_EQ(t.WSASetBlockingHook(standard), standard) << "unhooking restores the default";
}

void QuittingTick(ui::HWND hwnd, ui::UINT message, ui::UINT id, std::uint32_t time) {
    if (g_ticks == 0) ui::PostQuitMessage(7);
    ReleasingTick(hwnd, message, id, time);
}

TEST_F(SocketBlockingTest, QuitRequestTakenDuringACallIsPostedAgainAfterIt) {
    g_releaseTick = 3;
    Operation op = Prepare(kRecv);
    Peer peer(op.peer);
    g_peer = &peer;
    ui::UINT timer = ui::SetTimer(0, 0, 10, &QuittingTick);

    EXPECT_TRUE(op.call());
    ui::KillTimer(0, timer);
    EXPECT_FALSE(peer.TimedOut()) << "timers must still run after the quit request";
    EXPECT_GE(g_ticks, 3);
    ui::MSG msg;
    ASSERT_TRUE(ui::PeekMessage(msg, 0, ui::PM_REMOVE));
    EXPECT_EQ(msg.message, ui::WM_QUIT);
    EXPECT_EQ(msg.wParam, 7u);
}

void UnloadingTick(ui::HWND, ui::UINT, ui::UINT, std::uint32_t) {
    if (++g_ticks > 1) return;
    resolve::UnloadSocketLibrary();
    if (g_peer) g_peer->Release();
}

TEST_F(SocketBlockingTest, ReleaseDuringACallWaitsForTheCallToEnd) {
    const std::string path = resolve::SocketLibrary().path;
    {
        Operation op = Prepare(kRecv);
        Peer peer(op.peer);  // gone (out of the library) before the release below
        g_peer = &peer;
        ui::UINT timer = ui::SetTimer(0, 0, 10, &UnloadingTick);
        EXPECT_TRUE(op.call());
        ui::KillTimer(0, timer);
        g_peer = nullptr;
    }
    EXPECT_EQ(resolve::SocketLibrary().SocketLibraryHandle, nullptr);
    EXPECT_NE(Sockets().closesocket, nullptr) << "the code the call returns to still needs it";
    EXPECT_EQ(resolve::SocketLibrary().pendingRelease.size(), 1u);

    resolve::UnloadSocketLibrary();
    EXPECT_TRUE(resolve::SocketLibrary().pendingRelease.empty());
    EXPECT_EQ(Sockets().closesocket, nullptr);
    void* still = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    EXPECT_EQ(still, nullptr);
    if (still) dlclose(still);
}

// Window messages belong to the GUI thread: a blocking call on another thread waits on its
// socket alone, and does not stop the GUI thread's own socket calls.
TEST_F(SocketBlockingTest, CallOnAnotherThreadLeavesTheMessageQueueAlone) {
    const auto& t = Sockets();
    ui::HeadlessDisplay display;
    bool stepRan = false;
    display.Then([&] { stepRan = true; });
    SOCKET client = 0, server = 0;
    Connect(client, server);

    std::atomic<int> received{0};
    std::thread worker([&] {
        char buf[16];
        received = t.recv(server, buf, sizeof buf, 0);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let it block first
    EXPECT_EQ(t.WSAIsBlocking(), 0);
    ws::u_long n = 1;
    EXPECT_EQ(t.ioctlsocket(server, ws::FIONREAD, &n), 0);
    EXPECT_EQ(t.send(client, "data", 4, 0), 4);
    worker.join();

    EXPECT_EQ(received, 4);
    EXPECT_FALSE(stepRan) << "the worker ran the GUI thread's display";
    display.RunUntilIdle();
    EXPECT_TRUE(stepRan);
}

}  // namespace
