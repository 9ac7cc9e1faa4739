#include "shell/instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "ui/messages.h"

namespace shell {
namespace {

constexpr const char* kSocketName = "veldana.sock";
constexpr const char* kLockName = "veldana.instance";
constexpr std::size_t kMaxLine = 16;    // "close\n" and room to spare
constexpr std::size_t kMaxClients = 8;  // a client that never finishes its line is let go

// The socket's address through the directory's descriptor: short whatever the directory's
// path, which may be longer than a socket address holds.
sockaddr_un AddressIn(int directoryFd) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "/proc/self/fd/%d/%s", directoryFd,
                  kSocketName);
    return address;
}

platform::FileHandle OpenDirectory(const std::string& path) {
    return platform::FileHandle(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// True when someone holds the lock file: a console runs.
bool ConsoleHoldsLock(int directoryFd) {
    platform::FileHandle lock(::openat(directoryFd, kLockName, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!lock.valid()) return false;
    if (::flock(lock.get(), LOCK_SH | LOCK_NB) == 0) return false;
    return errno == EWOULDBLOCK;
}

// Waits for the descriptor to be ready for `events`, until `deadline`.
bool WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) return false;
        pollfd p{fd, events, 0};
        const int rc = ::poll(&p, 1, static_cast<int>(left));
        if (rc > 0) return true;
        if (rc < 0 && errno != EINTR) return false;
    }
}

}  // namespace

HandOver SendToRunningConsole(const std::string& programDir, InstanceRequest request,
                              int answerWaitMs) {
    platform::FileHandle directory = OpenDirectory(programDir);
    if (!directory.valid()) return HandOver::kNoConsole;
    platform::FileHandle socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.valid()) return HandOver::kFailed;
    const sockaddr_un address = AddressIn(directory.get());
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return ConsoleHoldsLock(directory.get()) ? HandOver::kFailed : HandOver::kNoConsole;

    const std::string line = request == InstanceRequest::kOpen ? "open\n" : "close\n";
    if (::send(socket.get(), line.data(), line.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(line.size()))
        return HandOver::kFailed;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(answerWaitMs);
    std::string answer;
    char buffer[8];
    while (answer.size() < 3 && WaitFor(socket.get(), POLLIN, deadline)) {
        const ssize_t n = ::recv(socket.get(), buffer, sizeof buffer, 0);
        if (n <= 0) break;
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    return answer == "ok\n" ? HandOver::kDone : HandOver::kFailed;
}

bool WaitForConsoleEnd(const std::string& programDir, int waitMs) {
    platform::FileHandle directory = OpenDirectory(programDir);
    if (!directory.valid()) return true;
    platform::FileHandle lock(
        ::openat(directory.get(), kLockName, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!lock.valid()) return true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (::flock(lock.get(), LOCK_SH | LOCK_NB) != 0) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

InstanceListener::~InstanceListener() { Close(); }

InstanceListener::Outcome InstanceListener::Listen(const std::string& programDir,
                                                   std::function<void(InstanceRequest)> onRequest,
                                                   std::string& error) {
    Close();
    directory_ = OpenDirectory(programDir);
    if (!directory_.valid()) {
        error = "cannot open " + programDir + ": " + std::strerror(errno);
        return Outcome::kFailed;
    }
    lock_.reset(::openat(directory_.get(), kLockName, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW,
                         0644));
    if (!lock_.valid()) {
        error = "cannot open the lock file " + programDir + "/" + kLockName + ": " +
                std::strerror(errno);
        return Outcome::kFailed;
    }
    if (::flock(lock_.get(), LOCK_EX | LOCK_NB) != 0) {
        lock_.reset();
        if (errno == EWOULDBLOCK) return Outcome::kAnotherRuns;
        error = std::string("cannot lock ") + kLockName + ": " + std::strerror(errno);
        return Outcome::kFailed;
    }
    // Who holds it, for an administrator who looks.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(lock_.get(), 0) == 0) {
        [[maybe_unused]] ssize_t n = ::pwrite(lock_.get(), pid.data(), pid.size(), 0);
    }

    // Holding the lock, any socket at the name is a dead console's: take the name over.
    ::unlinkat(directory_.get(), kSocketName, 0);
    socket_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const sockaddr_un address = AddressIn(directory_.get());
    if (!socket_.valid() ||
        ::bind(socket_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(socket_.get(), 16) != 0) {
        error = "cannot listen on " + programDir + "/" + kSocketName + ": " + std::strerror(errno);
        Close();
        return Outcome::kFailed;
    }
    // Any local process may ask the console to open or to close.
    ::fchmodat(directory_.get(), kSocketName, 0666, 0);
    onRequest_ = std::move(onRequest);
    ui::WatchDescriptor(socket_.get(), [this] { Accept(); });
    return Outcome::kListening;
}

void InstanceListener::Close() {
    for (auto& c : clients_) ui::UnwatchDescriptor(c.socket.get());
    clients_.clear();
    if (socket_.valid()) {
        ui::UnwatchDescriptor(socket_.get());
        socket_.reset();
        ::unlinkat(directory_.get(), kSocketName, 0);
    }
    lock_.reset();
    directory_.reset();
}

void InstanceListener::Accept() {
    while (true) {
        platform::FileHandle client(::accept4(socket_.get(), nullptr, nullptr,
                                              SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!client.valid()) return;
        // The oldest unfinished client makes room: nobody can keep the console's door shut.
        if (clients_.size() >= kMaxClients) Drop(clients_.front().socket.get());
        const int fd = client.get();
        clients_.push_back(Client{std::move(client), {}});
        ui::WatchDescriptor(fd, [this, fd] { Read(fd); });
    }
}

void InstanceListener::Read(int fd) {
    auto it = std::find_if(clients_.begin(), clients_.end(),
                           [fd](const Client& c) { return c.socket.get() == fd; });
    if (it == clients_.end()) return;
    char buffer[kMaxLine];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) return Drop(fd);
    it->received.append(buffer, static_cast<std::size_t>(n));
    const std::size_t end = it->received.find('\n');
    if (end == std::string::npos) {
        if (it->received.size() >= kMaxLine) Drop(fd);
        return;
    }
    const std::string line = it->received.substr(0, end);
    if (line != "open" && line != "close") return Drop(fd);
    const InstanceRequest request = line == "open" ? InstanceRequest::kOpen : InstanceRequest::kClose;
    ::send(fd, "ok\n", 3, MSG_NOSIGNAL | MSG_DONTWAIT);
    Drop(fd);
    if (onRequest_) onRequest_(request);
}

void InstanceListener::Drop(int fd) {
    ui::UnwatchDescriptor(fd);
    std::erase_if(clients_, [fd](const Client& c) { return c.socket.get() == fd; });
}

}  // namespace shell
