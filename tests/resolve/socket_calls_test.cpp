// The entries of WSOCK32.DLL with Windows Sockets 1.1 semantics, called through the
// binding's table as the console calls them: start-up, datagram and stream exchanges on
// loopback, FIONREAD and FIONBIO, select, error codes, names and addresses.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "resolve/socket_library.h"
#include "tests/support/temp_install.h"
#include "ui/window.h"

namespace {

using resolve::Sockets;
using ws::SOCKET;
using ws::SOCKET_ERROR;

ws::sockaddr_in Loopback(ws::u_short portNetworkOrder) {
    ws::sockaddr_in a{};
    a.sin_family = ws::AF_INET;
    a.sin_port = portNetworkOrder;
    a.sin_addr.s_addr = Sockets().htonl(ws::INADDR_LOOPBACK);
    return a;
}

const ws::sockaddr* Sa(const ws::sockaddr_in& a) {
    return reinterpret_cast<const ws::sockaddr*>(&a);
}

std::string Octets(ws::u_long networkOrder) {
    unsigned char b[4];
    std::memcpy(b, &networkOrder, 4);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
           std::to_string(b[3]);
}

// The library loaded from beside the test program, not started.
class SocketStartupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ui::ResetWindowLayer();
        resolve::ResetSocketLibrary();
        ASSERT_EQ(resolve::LoadSocketLibrary(), 1);
    }
    void TearDown() override { resolve::ResetSocketLibrary(); }

    int LastError() const { return Sockets().WSAGetLastError(); }

    testsupport::TempInstall install;
};

// Loaded and started with version 1.1, as the console does before network work.
class SocketCallsTest : public SocketStartupTest {
  protected:
    void SetUp() override {
        SocketStartupTest::SetUp();
        ws::WSADATA data{};
        ASSERT_EQ(Sockets().WSAStartup(0x0101, &data), 0);
    }
    void TearDown() override {
        Sockets().WSACleanup();
        SocketStartupTest::TearDown();
    }

    // A socket bound to 127.0.0.1 on a free port; *address receives where it is.
    SOCKET Bound(int type, ws::sockaddr_in* address = nullptr) {
        const auto& t = Sockets();
        SOCKET s = t.socket(ws::AF_INET, type, 0);
        EXPECT_NE(s, ws::INVALID_SOCKET);
        ws::sockaddr_in a = Loopback(0);
        EXPECT_EQ(t.bind(s, Sa(a), sizeof a), 0);
        int len = sizeof a;
        EXPECT_EQ(t.getsockname(s, reinterpret_cast<ws::sockaddr*>(&a), &len), 0);
        if (address) *address = a;
        return s;
    }

    // A listening socket, and a connected client and server end.
    struct StreamPair {
        SOCKET listener, client, server;
    };
    StreamPair Connected() {
        const auto& t = Sockets();
        ws::sockaddr_in where;
        StreamPair p{};
        p.listener = Bound(ws::SOCK_STREAM, &where);
        EXPECT_EQ(t.listen(p.listener, 5), 0);
        p.client = t.socket(ws::AF_INET, ws::SOCK_STREAM, ws::IPPROTO_TCP);
        EXPECT_EQ(t.connect(p.client, Sa(where), sizeof where), 0);
        p.server = t.accept(p.listener, nullptr, nullptr);
        EXPECT_NE(p.server, ws::INVALID_SOCKET);
        return p;
    }

    // Waits (up to 10 s) until `s` is readable: 1 when it is.
    int WaitReadable(SOCKET s) {
        ws::fd_set read{};
        ws::FdSet(s, read);
        ws::timeval limit{10, 0};
        return Sockets().select(0, &read, nullptr, nullptr, &limit);
    }

    ws::u_long Waiting(SOCKET s) {
        ws::u_long n = 12345;
        EXPECT_EQ(Sockets().ioctlsocket(s, ws::FIONREAD, &n), 0);
        return n;
    }
};

// --- start-up

TEST_F(SocketStartupTest, VersionsBelowOneOneAreRefused) {
    struct Case {
        std::uint16_t requested;
        int result;
    };
    const Case cases[] = {{0x0101, 0},
                          {0x0201, 0},
                          {0x0202, 0},
                          {0x0001, ws::WSAVERNOTSUPPORTED},
                          {0x0100, ws::WSAVERNOTSUPPORTED}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.requested);
        ws::WSADATA data{};
        EXPECT_EQ(Sockets().WSAStartup(c.requested, &data), c.result);
        EXPECT_EQ(data.wVersion, 0x0101);
        EXPECT_EQ(data.wHighVersion, 0x0101);
        if (c.result == 0) {
            EXPECT_EQ(Sockets().WSACleanup(), 0);
        }
    }
    EXPECT_EQ(Sockets().WSACleanup(), SOCKET_ERROR) << "every start-up was matched";
    EXPECT_EQ(LastError(), ws::WSANOTINITIALISED);
}

TEST_F(SocketStartupTest, CallsBeforeStartupFailWithNotInitialised) {
    const auto& t = Sockets();
    ws::fd_set set{};
    ws::timeval zero{0, 0};
    ws::u_long n = 0;
    char name[64];
    struct Case {
        const char* name;
        std::function<bool()> failed;  // the call, true when it reported a failure
    };
    const Case cases[] = {
        {"socket", [&] { return t.socket(ws::AF_INET, ws::SOCK_DGRAM, 0) == ws::INVALID_SOCKET; }},
        {"closesocket", [&] { return t.closesocket(3) == SOCKET_ERROR; }},
        {"ioctlsocket", [&] { return t.ioctlsocket(3, ws::FIONREAD, &n) == SOCKET_ERROR; }},
        {"recv", [&] { return t.recv(3, name, 1, 0) == SOCKET_ERROR; }},
        {"select", [&] { return t.select(0, &set, nullptr, nullptr, &zero) == SOCKET_ERROR; }},
        {"gethostbyname", [&] { return t.gethostbyname("localhost") == nullptr; }},
        {"gethostname", [&] { return t.gethostname(name, sizeof name) == SOCKET_ERROR; }},
        {"WSACleanup", [&] { return t.WSACleanup() == SOCKET_ERROR; }},
        {"WSACancelBlockingCall", [&] { return t.WSACancelBlockingCall() == SOCKET_ERROR; }},
        {"WSAUnhookBlockingHook", [&] { return t.WSAUnhookBlockingHook() == SOCKET_ERROR; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        t.WSASetLastError(0);
        EXPECT_TRUE(c.failed());
        EXPECT_EQ(LastError(), ws::WSANOTINITIALISED);
    }
}

TEST_F(SocketStartupTest, StartupsAreCountedAndTheLastCleanupClosesSockets) {
    const auto& t = Sockets();
    ws::WSADATA data{};
    ASSERT_EQ(t.WSAStartup(0x0101, &data), 0);
    ASSERT_EQ(t.WSAStartup(0x0101, &data), 0);
    SOCKET s = t.socket(ws::AF_INET, ws::SOCK_DGRAM, 0);
    ASSERT_NE(s, ws::INVALID_SOCKET);

    EXPECT_EQ(t.WSACleanup(), 0);
    ws::u_long n = 0;
    EXPECT_EQ(t.ioctlsocket(s, ws::FIONREAD, &n), 0) << "one start-up is still in force";

    EXPECT_EQ(t.WSACleanup(), 0);
    EXPECT_EQ(t.ioctlsocket(s, ws::FIONREAD, &n), SOCKET_ERROR);
    EXPECT_EQ(LastError(), ws::WSANOTINITIALISED);

    ASSERT_EQ(t.WSAStartup(0x0101, &data), 0);
    EXPECT_EQ(t.closesocket(s), SOCKET_ERROR) << "closed by the last cleanup";
    EXPECT_EQ(LastError(), ws::WSAENOTSOCK);
    EXPECT_EQ(t.WSACleanup(), 0);
}

// --- datagrams

TEST_F(SocketCallsTest, FionreadGivesTheSizeOfTheNextDatagram) {
    const auto& t = Sockets();
    ws::sockaddr_in at, bt;
    SOCKET a = Bound(ws::SOCK_DGRAM, &at);
    SOCKET b = Bound(ws::SOCK_DGRAM, &bt);
    EXPECT_EQ(Waiting(b), 0u);

    const std::string big(300, 'x');
    ASSERT_EQ(t.sendto(a, "hello", 5, 0, Sa(bt), sizeof bt), 5);
    ASSERT_EQ(t.sendto(a, big.data(), 300, 0, Sa(bt), sizeof bt), 300);

    ASSERT_EQ(WaitReadable(b), 1);
    EXPECT_EQ(Waiting(b), 5u);
    char buf[512] = {};
    ws::sockaddr_in from{};
    int fromLen = sizeof from;
    ASSERT_EQ(t.recvfrom(b, buf, sizeof buf, 0, reinterpret_cast<ws::sockaddr*>(&from), &fromLen),
              5);
    EXPECT_EQ(std::string(buf, 5), "hello");
    EXPECT_EQ(fromLen, static_cast<int>(sizeof from));
    EXPECT_EQ(from.sin_port, at.sin_port);
    EXPECT_EQ(Octets(from.sin_addr.s_addr), "127.0.0.1");

    ASSERT_EQ(WaitReadable(b), 1);
    EXPECT_EQ(Waiting(b), 300u);
    EXPECT_EQ(t.recv(b, buf, sizeof buf, 0), 300);
    EXPECT_EQ(Waiting(b), 0u);
}

// The DNS client's way: a connected datagram socket sends a query and polls for the reply.
TEST_F(SocketCallsTest, ConnectedDatagramSocketSendsAndReceives) {
    const auto& t = Sockets();
    ws::sockaddr_in serverAt;
    SOCKET server = Bound(ws::SOCK_DGRAM, &serverAt);
    SOCKET query = t.socket(ws::AF_INET, ws::SOCK_DGRAM, ws::IPPROTO_UDP);
    ASSERT_NE(query, ws::INVALID_SOCKET);
    ASSERT_EQ(t.connect(query, Sa(serverAt), sizeof serverAt), 0);
    ASSERT_EQ(t.send(query, "question", 8, 0), 8);

    ASSERT_EQ(WaitReadable(server), 1);
    char buf[64] = {};
    ws::sockaddr_in from{};
    int fromLen = sizeof from;
    ASSERT_EQ(
        t.recvfrom(server, buf, sizeof buf, 0, reinterpret_cast<ws::sockaddr*>(&from), &fromLen),
        8);
    ASSERT_EQ(t.sendto(server, "answer!", 7, 0, Sa(from), fromLen), 7);

    ASSERT_EQ(WaitReadable(query), 1);
    EXPECT_EQ(Waiting(query), 7u);
    EXPECT_EQ(t.recv(query, buf, sizeof buf, 0), 7);
    EXPECT_EQ(std::string(buf, 7), "answer!");
    EXPECT_EQ(t.closesocket(query), 0);
}

TEST_F(SocketCallsTest, DatagramLargerThanTheBufferIsCutAndReported) {
    const auto& t = Sockets();
    ws::sockaddr_in bt;
    SOCKET a = Bound(ws::SOCK_DGRAM);
    SOCKET b = Bound(ws::SOCK_DGRAM, &bt);
    const std::string text = "0123456789abcdefghij";
    ASSERT_EQ(t.sendto(a, text.data(), 20, 0, Sa(bt), sizeof bt), 20);
    ASSERT_EQ(WaitReadable(b), 1);
    char buf[10] = {};
    EXPECT_EQ(t.recv(b, buf, sizeof buf, 0), SOCKET_ERROR);
    EXPECT_EQ(LastError(), ws::WSAEMSGSIZE);
    EXPECT_EQ(std::string(buf, 10), "0123456789");
    EXPECT_EQ(Waiting(b), 0u) << "the rest of the datagram is gone";
}

// --- streams

TEST_F(SocketCallsTest, StreamExchangeAndOrderlyClose) {
    const auto& t = Sockets();
    StreamPair p = Connected();
    ws::sockaddr_in peer{}, local{};
    int len = sizeof peer;
    ASSERT_EQ(t.getpeername(p.client, reinterpret_cast<ws::sockaddr*>(&peer), &len), 0);
    len = sizeof local;
    ASSERT_EQ(t.getsockname(p.server, reinterpret_cast<ws::sockaddr*>(&local), &len), 0);
    EXPECT_EQ(peer.sin_port, local.sin_port);

    const std::string request = "GET /filedown/43 HTTP/1.0\r\n\r\n";
    ASSERT_EQ(t.send(p.client, request.data(), static_cast<int>(request.size()), 0),
              static_cast<int>(request.size()));
    ASSERT_EQ(WaitReadable(p.server), 1);
    EXPECT_EQ(Waiting(p.server), request.size());
    char buf[100] = {};
    ASSERT_EQ(t.recv(p.server, buf, sizeof buf, 0), static_cast<int>(request.size()));
    EXPECT_EQ(std::string(buf, request.size()), request);

    ASSERT_EQ(t.closesocket(p.client), 0);
    EXPECT_EQ(t.recv(p.server, buf, sizeof buf, 0), 0) << "the peer closed";
}

TEST_F(SocketCallsTest, NonBlockingSocketsReportWouldBlock) {
    const auto& t = Sockets();
    ws::sockaddr_in where;
    SOCKET udp = Bound(ws::SOCK_DGRAM);
    SOCKET listener = Bound(ws::SOCK_STREAM, &where);
    ASSERT_EQ(t.listen(listener, 5), 0);
    ws::u_long on = 1;
    ASSERT_EQ(t.ioctlsocket(udp, ws::FIONBIO, &on), 0);
    ASSERT_EQ(t.ioctlsocket(listener, ws::FIONBIO, &on), 0);

    char c;
    EXPECT_EQ(t.recv(udp, &c, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(LastError(), ws::WSAEWOULDBLOCK);
    EXPECT_EQ(t.accept(listener, nullptr, nullptr), ws::INVALID_SOCKET);
    EXPECT_EQ(LastError(), ws::WSAEWOULDBLOCK);

    // A connection accepted from a non-blocking listener is non-blocking too.
    SOCKET client = t.socket(ws::AF_INET, ws::SOCK_STREAM, 0);
    ASSERT_EQ(t.connect(client, Sa(where), sizeof where), 0);
    ASSERT_EQ(WaitReadable(listener), 1);
    SOCKET server = t.accept(listener, nullptr, nullptr);
    ASSERT_NE(server, ws::INVALID_SOCKET);
    EXPECT_EQ(t.recv(server, &c, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(LastError(), ws::WSAEWOULDBLOCK);
}

TEST_F(SocketCallsTest, FailuresCarryWindowsCodes) {
    const auto& t = Sockets();
    // A port nobody listens on.
    ws::sockaddr_in closed;
    SOCKET probe = Bound(ws::SOCK_STREAM, &closed);
    t.closesocket(probe);
    ws::sockaddr_in taken;
    SOCKET holder = Bound(ws::SOCK_DGRAM, &taken);
    (void)holder;

    struct Case {
        const char* name;
        std::function<bool()> failed;
        int error;
    };
    const Case cases[] = {
        {"connect to a closed port",
         [&] {
             SOCKET s = t.socket(ws::AF_INET, ws::SOCK_STREAM, 0);
             return t.connect(s, Sa(closed), sizeof closed) == SOCKET_ERROR;
         },
         ws::WSAECONNREFUSED},
        {"bind to an address in use",
         [&] {
             SOCKET s = t.socket(ws::AF_INET, ws::SOCK_DGRAM, 0);
             return t.bind(s, Sa(taken), sizeof taken) == SOCKET_ERROR;
         },
         ws::WSAEADDRINUSE},
        {"send on an unconnected stream",
         [&] {
             SOCKET s = t.socket(ws::AF_INET, ws::SOCK_STREAM, 0);
             return t.send(s, "x", 1, 0) == SOCKET_ERROR;
         },
         ws::WSAENOTCONN},
        {"connect to INADDR_ANY",
         [&] {
             SOCKET s = t.socket(ws::AF_INET, ws::SOCK_STREAM, 0);
             ws::sockaddr_in any = closed;
             any.sin_addr.s_addr = ws::INADDR_ANY;
             return t.connect(s, Sa(any), sizeof any) == SOCKET_ERROR;
         },
         ws::WSAEADDRNOTAVAIL},
        {"address too short",
         [&] {
             SOCKET s = t.socket(ws::AF_INET, ws::SOCK_STREAM, 0);
             return t.connect(s, Sa(closed), 4) == SOCKET_ERROR;
         },
         ws::WSAEFAULT},
        {"family other than AF_INET",
         [&] { return t.socket(23, ws::SOCK_STREAM, 0) == ws::INVALID_SOCKET; },
         ws::WSAEAFNOSUPPORT},
        {"socket type", [&] { return t.socket(ws::AF_INET, 5, 0) == ws::INVALID_SOCKET; },
         ws::WSAESOCKTNOSUPPORT},
        {"protocol of another type",
         [&] {
             return t.socket(ws::AF_INET, ws::SOCK_DGRAM, ws::IPPROTO_TCP) == ws::INVALID_SOCKET;
         },
         ws::WSAEPROTONOSUPPORT},
        {"closed socket",
         [&] {
             SOCKET s = t.socket(ws::AF_INET, ws::SOCK_DGRAM, 0);
             t.closesocket(s);
             char c;
             return t.recv(s, &c, 1, 0) == SOCKET_ERROR;
         },
         ws::WSAENOTSOCK},
        {"ioctlsocket request",
         [&] {
             ws::u_long v = 0;
             return t.ioctlsocket(holder, 0x12345678, &v) == SOCKET_ERROR;
         },
         ws::WSAEINVAL},
        {"socket option",
         [&] {
             int v = 0, len = sizeof v;
             return t.getsockopt(holder, ws::SOL_SOCKET, 0x7777, reinterpret_cast<char*>(&v),
                                 &len) == SOCKET_ERROR;
         },
         ws::WSAENOPROTOOPT},
        {"select with no socket",
         [&] {
             ws::fd_set empty{};
             ws::timeval zero{0, 0};
             return t.select(0, &empty, nullptr, nullptr, &zero) == SOCKET_ERROR;
         },
         ws::WSAEINVAL},
        {"asynchronous lookup",
         [&] {
             char buf[1024];
             return t.WSAAsyncGetHostByName(1, 1024, "localhost", buf, sizeof buf) == 0;
         },
         ws::WSAEOPNOTSUPP},
        {"asynchronous select",
         [&] { return t.WSAAsyncSelect(holder, 1, 1024, 1) == SOCKET_ERROR; }, ws::WSAEOPNOTSUPP},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        t.WSASetLastError(0);
        EXPECT_TRUE(c.failed());
        EXPECT_EQ(LastError(), c.error);
    }
}

TEST_F(SocketCallsTest, DescriptorsTheLibraryDidNotMakeAreNotItsSockets) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    EXPECT_EQ(Sockets().closesocket(static_cast<SOCKET>(fds[1])), SOCKET_ERROR);
    EXPECT_EQ(LastError(), ws::WSAENOTSOCK);
    EXPECT_EQ(write(fds[1], "x", 1), 1) << "the descriptor must still be open";
    close(fds[0]);
    close(fds[1]);
}

// --- select

TEST_F(SocketCallsTest, SelectTimesOutWithZeroAndEmptiedSets) {
    const auto& t = Sockets();
    SOCKET silent = Bound(ws::SOCK_DGRAM);
    for (long usec : {0L, 50000L}) {
        SCOPED_TRACE(usec);
        ws::fd_set read{};
        ws::FdSet(silent, read);
        ws::timeval limit{0, usec};
        EXPECT_EQ(t.select(0, &read, nullptr, nullptr, &limit), 0);
        EXPECT_EQ(read.fd_count, 0u);
    }
}

TEST_F(SocketCallsTest, SelectKeepsWhatIsReadyInEachSet) {
    const auto& t = Sockets();
    ws::sockaddr_in bt;
    SOCKET a = Bound(ws::SOCK_DGRAM);
    SOCKET b = Bound(ws::SOCK_DGRAM, &bt);
    ASSERT_EQ(t.sendto(a, "ping", 4, 0, Sa(bt), sizeof bt), 4);
    ASSERT_EQ(WaitReadable(b), 1);

    ws::fd_set read{}, write{};
    ws::FdSet(a, read);
    ws::FdSet(b, read);
    ws::FdSet(a, write);
    ws::timeval limit{5, 0};
    EXPECT_EQ(t.select(0, &read, &write, nullptr, &limit), 2);
    EXPECT_EQ(read.fd_count, 1u);
    EXPECT_TRUE(ws::FdIsSet(b, read));
    EXPECT_TRUE(ws::FdIsSet(a, write));
}

// A connection attempt that fails shows in the exception set, with its code in SO_ERROR.
TEST_F(SocketCallsTest, FailedNonBlockingConnectShowsAsException) {
    const auto& t = Sockets();
    ws::sockaddr_in closed;
    t.closesocket(Bound(ws::SOCK_STREAM, &closed));
    SOCKET s = t.socket(ws::AF_INET, ws::SOCK_STREAM, 0);
    ws::u_long on = 1;
    ASSERT_EQ(t.ioctlsocket(s, ws::FIONBIO, &on), 0);
    if (t.connect(s, Sa(closed), sizeof closed) == SOCKET_ERROR &&
        LastError() == ws::WSAEWOULDBLOCK) {
        ws::fd_set write{}, except{};
        ws::FdSet(s, write);
        ws::FdSet(s, except);
        ws::timeval limit{10, 0};
        ASSERT_EQ(t.select(0, nullptr, &write, &except, &limit), 1);
        EXPECT_TRUE(ws::FdIsSet(s, except));
        int error = 0, len = sizeof error;
        ASSERT_EQ(
            t.getsockopt(s, ws::SOL_SOCKET, ws::SO_ERROR, reinterpret_cast<char*>(&error), &len),
            0);
        EXPECT_EQ(error, ws::WSAECONNREFUSED);
    } else {
        EXPECT_EQ(LastError(), ws::WSAECONNREFUSED);  // refused at once
    }
}

// --- options

TEST_F(SocketCallsTest, OptionsUseTheWindowsNumbers) {
    const auto& t = Sockets();
    SOCKET udp = Bound(ws::SOCK_DGRAM);
    SOCKET tcp = t.socket(ws::AF_INET, ws::SOCK_STREAM, 0);
    auto get = [&](SOCKET s, int level, int name) {
        int v = -1, len = sizeof v;
        EXPECT_EQ(t.getsockopt(s, level, name, reinterpret_cast<char*>(&v), &len), 0);
        return v;
    };
    auto set = [&](SOCKET s, int level, int name, int v) {
        return t.setsockopt(s, level, name, reinterpret_cast<const char*>(&v), sizeof v);
    };
    EXPECT_EQ(get(udp, ws::SOL_SOCKET, ws::SO_TYPE), ws::SOCK_DGRAM);
    EXPECT_EQ(get(tcp, ws::SOL_SOCKET, ws::SO_TYPE), ws::SOCK_STREAM);
    EXPECT_EQ(set(udp, ws::SOL_SOCKET, ws::SO_BROADCAST, 1), 0);
    EXPECT_NE(get(udp, ws::SOL_SOCKET, ws::SO_BROADCAST), 0);
    EXPECT_EQ(set(tcp, ws::IPPROTO_TCP, ws::TCP_NODELAY, 1), 0);
    EXPECT_NE(get(tcp, ws::IPPROTO_TCP, ws::TCP_NODELAY), 0);

    ws::linger l{1, 7};
    ASSERT_EQ(t.setsockopt(tcp, ws::SOL_SOCKET, ws::SO_LINGER, reinterpret_cast<const char*>(&l),
                           sizeof l),
              0);
    EXPECT_EQ(get(tcp, ws::SOL_SOCKET, ws::SO_DONTLINGER), 0);
    ASSERT_EQ(set(tcp, ws::SOL_SOCKET, ws::SO_DONTLINGER, 1), 0);
    ws::linger back{9, 9};
    int len = sizeof back;
    ASSERT_EQ(
        t.getsockopt(tcp, ws::SOL_SOCKET, ws::SO_LINGER, reinterpret_cast<char*>(&back), &len), 0);
    EXPECT_EQ(back.l_onoff, 0);
    EXPECT_EQ(back.l_linger, 7) << "switching lingering off keeps its time-out";
}

// --- names and addresses

TEST_F(SocketCallsTest, GetHostByNameUsesTheSystemResolver) {
    const auto& t = Sockets();
    struct Case {
        const char* name;
        const char* address;   // expected among the addresses
        const char* official;  // expected h_name, or nullptr
    };
    const Case cases[] = {
        {"localhost", "127.0.0.1", nullptr},
        {"10.1.2.3", "10.1.2.3", "10.1.2.3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ws::hostent* h = t.gethostbyname(c.name);
        ASSERT_NE(h, nullptr) << LastError();
        EXPECT_EQ(h->h_addrtype, ws::AF_INET);
        EXPECT_EQ(h->h_length, 4);
        ASSERT_NE(h->h_addr_list[0], nullptr);
        bool found = false;
        for (char** a = h->h_addr_list; *a; ++a) {
            ws::u_long word;
            std::memcpy(&word, *a, 4);
            found = found || Octets(word) == c.address;
        }
        EXPECT_TRUE(found);
        if (c.official) {
            EXPECT_STREQ(h->h_name, c.official);
        }
        ASSERT_NE(h->h_aliases, nullptr);
    }
    t.WSASetLastError(0);
    EXPECT_EQ(t.gethostbyname("no-such-host.invalid"), nullptr);
    int e = LastError();
    EXPECT_TRUE(e == ws::WSAHOST_NOT_FOUND || e == ws::WSATRY_AGAIN || e == ws::WSANO_DATA) << e;
}

// The result lives in storage of the calling thread until that thread's next lookup.
TEST_F(SocketCallsTest, HostEntryBelongsToTheCallingThread) {
    const auto& t = Sockets();
    ws::hostent* mine = t.gethostbyname("10.1.2.3");
    ASSERT_NE(mine, nullptr);
    std::thread other([&] { EXPECT_NE(t.gethostbyname("10.9.9.9"), nullptr); });
    other.join();
    EXPECT_STREQ(mine->h_name, "10.1.2.3");
    ws::hostent* next = t.gethostbyname("10.4.5.6");
    EXPECT_EQ(next, mine) << "the same storage is used again";
    EXPECT_STREQ(mine->h_name, "10.4.5.6");
}

TEST_F(SocketCallsTest, AddressTextsAndByteOrder) {
    const auto& t = Sockets();
    struct Case {
        const char* text;
        const char* octets;  // nullptr: INADDR_NONE
    };
    const Case cases[] = {
        {"127.0.0.1", "127.0.0.1"}, {"192.168.1.200 ", "192.168.1.200"},
        {"10.0.258", "10.0.1.2"},   {"10.65537", "10.1.0.1"},
        {"0x7f.1", "127.0.0.1"},    {"010.0.0.1", "8.0.0.1"},
        {"256.1.1.1", nullptr},     {"1.2.3.4.5", nullptr},
        {"1..2.3", nullptr},        {"1.2.3.", nullptr},
        {"09.1.1.1", nullptr},      {"www.example.com", nullptr},
        {"1.2.3.4x", nullptr},      {"", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ws::u_long a = t.inet_addr(c.text);
        if (c.octets) {
            EXPECT_EQ(Octets(a), c.octets);
            ws::in_addr in{a};
            EXPECT_STREQ(t.inet_ntoa(in), c.octets);
        } else {
            EXPECT_EQ(a, ws::INADDR_NONE);
        }
    }
    ws::u_short port = t.htons(0x1234);
    unsigned char bytes[2];
    std::memcpy(bytes, &port, 2);
    EXPECT_EQ(bytes[0], 0x12);
    EXPECT_EQ(bytes[1], 0x34);
    EXPECT_EQ(t.ntohs(port), 0x1234);
    EXPECT_EQ(Octets(t.htonl(0x0a000102)), "10.0.1.2");
    EXPECT_EQ(t.ntohl(t.htonl(0xdeadbeef)), 0xdeadbeefu);
}

TEST_F(SocketCallsTest, HostNameServicesAndProtocols) {
    const auto& t = Sockets();
    char name[256];
    ASSERT_EQ(t.gethostname(name, sizeof name), 0);
    char tiny[1];
    EXPECT_EQ(t.gethostname(tiny, sizeof tiny), SOCKET_ERROR);
    EXPECT_EQ(LastError(), ws::WSAEFAULT);

    ws::protoent* udp = t.getprotobyname("udp");
    ASSERT_NE(udp, nullptr);
    EXPECT_EQ(udp->p_proto, ws::IPPROTO_UDP);
    ws::protoent* tcp = t.getprotobynumber(ws::IPPROTO_TCP);
    ASSERT_NE(tcp, nullptr);
    EXPECT_STREQ(tcp->p_name, "tcp");

    ws::servent* http = t.getservbyname("http", "tcp");
    if (http == nullptr) GTEST_SKIP() << "no services table on this system";
    EXPECT_EQ(static_cast<ws::u_short>(http->s_port), t.htons(80));
    EXPECT_STREQ(http->s_proto, "tcp");
    ws::servent* byPort = t.getservbyport(t.htons(80), "tcp");
    ASSERT_NE(byPort, nullptr);
    EXPECT_STREQ(byPort->s_name, "http");
}

}  // namespace
