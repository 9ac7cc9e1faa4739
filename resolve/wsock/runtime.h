// The library's state and the machinery every entry shares: start-up counting, the last
// error of each thread, the table of the library's sockets, and the blocking call.
//
// A blocking call (connect, accept, send, recv, recvfrom, select with a time limit) first
// tries its operation without waiting. When it would block it becomes the thread's blocking
// call: it runs the blocking hook until the hook reports nothing done, tries again, and then
// waits, without spinning, until one of its sockets is ready, a window message may be
// waiting or its time runs out; and so on until it completes. While it runs, WSAIsBlocking
// is true and any other socket call on the thread fails with WSAEINPROGRESS, except
// WSACancelBlockingCall, which makes it return SOCKET_ERROR with WSAEINTR at its next
// turn.
//
// The default hook dispatches window messages through the host (ws::SocketHost) on the
// thread that registered it, one per call, and there the wait includes the program's
// message queue. A hook installed with WSASetBlockingHook is called in the same way, but
// the wait between its calls then watches the sockets alone, at most 50 ms at a time, as
// the library cannot tell whether that hook empties the queue.
#pragma once

#include <poll.h>

#include <cstdint>
#include <functional>
#include <span>

#include "resolve/winsock.h"

namespace wsock {

// 0 when socket calls may proceed on this thread, else the error to report
// (WSANOTINITIALISED, WSAEINPROGRESS).
int CallAllowed();
bool Started();

// Sets the thread's last error; SOCKET_ERROR.
int Fail(int wsaError);
// The Windows Sockets code of an errno value.
int ErrorOf(int errnoValue);
// Fail(ErrorOf(-negativeErrno)).
int FailErrno(long negativeErrno);

// The library's own sockets: SOCKET values are their descriptors.
struct SocketRef {
    int fd = -1;
    bool nonBlocking = false;  // FIONBIO: calls fail with WSAEWOULDBLOCK instead of waiting
    bool connected = false;    // a stream that was connected once (tells EPIPE's meaning)
};
bool FindSocket(ws::SOCKET s, SocketRef* out);
void AddSocket(int fd, bool nonBlocking, bool connected);
void SetConnected(int fd);
// False when `s` is not one of the library's sockets.
bool RemoveSocket(ws::SOCKET s, int* fd);
void SetNonBlocking(int fd, bool nonBlocking);

// Runs `attempt` (a result >= 0, or -errno; -EAGAIN: not yet) as a blocking call waiting
// on `fds`, at most timeoutMs (-1: no limit, 0: one attempt). -EAGAIN when time ran out,
// -EINTR when the call was cancelled.
long Block(std::span<pollfd> fds, int timeoutMs, const std::function<long()>& attempt);

}  // namespace wsock
