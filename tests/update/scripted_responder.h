// A scripted HTTP responder for transfer tests: a one-connection server on loopback that
// sends exactly the bytes each case needs, and the response heads of the update contract.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace scripted {

using namespace std::chrono_literals;

// A server on 127.0.0.1 that takes one connection per script, in order: it reads each
// request head and then plays that connection's script.
class ScriptedResponder {
  public:
    struct Step {
        enum Kind { kSend, kWaitSignal, kDrip, kHold } kind;
        std::string bytes;
    };
    static Step Send(std::string bytes) { return {Step::kSend, std::move(bytes)}; }
    static Step WaitSignal() { return {Step::kWaitSignal, {}}; }
    // Sends small chunks until the client goes.
    static Step Drip() { return {Step::kDrip, {}}; }
    // Sends nothing more and keeps the connection open until the client closes it.
    static Step Hold() { return {Step::kHold, {}}; }

    explicit ScriptedResponder(std::vector<Step> script)
        : ScriptedResponder(std::vector<std::vector<Step>>{std::move(script)}) {}
    explicit ScriptedResponder(std::vector<std::vector<Step>> scripts)
        : scripts_(std::move(scripts)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener_, 4);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~ScriptedResponder() {
        stopping_ = true;
        Signal();
        if (thread_.joinable()) thread_.join();
        ::close(listener_);
    }
    int port() const { return port_; }
    void Signal() {
        std::lock_guard lock(mutex_);
        ++signals_;
        cv_.notify_all();
    }
    // The last request head received.
    std::string Request() {
        std::lock_guard lock(mutex_);
        return requests_.empty() ? std::string() : requests_.back();
    }
    std::vector<std::string> Requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    // Waits for the script to end; then whether the client closed the connection during a
    // Hold step.
    bool ClientHungUp() {
        if (thread_.joinable()) thread_.join();
        return hungUp_;
    }

  private:
    bool WaitReadable(int fd) {
        while (!stopping_) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) return true;
        }
        return false;
    }
    void Run() {
        int waited = 0;
        for (const auto& script : scripts_)
            if (!Serve(script, waited)) return;
    }
    // One connection; false when none came.
    bool Serve(const std::vector<Step>& script, int& waited) {
        if (!WaitReadable(listener_)) return false;
        int fd = ::accept(listener_, nullptr, nullptr);
        if (fd < 0) return false;
        std::string got;
        char buf[4096];
        while (got.find("\r\n\r\n") == std::string::npos && WaitReadable(fd)) {
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            got.append(buf, static_cast<std::size_t>(n));
        }
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(got);
        }
        for (const Step& step : script) {
            if (stopping_) break;
            switch (step.kind) {
                case Step::kSend:
                    ::send(fd, step.bytes.data(), step.bytes.size(), MSG_NOSIGNAL);
                    break;
                case Step::kWaitSignal: {
                    std::unique_lock lock(mutex_);
                    ++waited;
                    cv_.wait(lock, [&] { return signals_ >= waited || stopping_; });
                    break;
                }
                case Step::kDrip: {
                    std::string chunk(512, 'd');
                    for (int i = 0; i < 2000 && !stopping_; ++i) {
                        if (::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL) <= 0) break;
                        std::this_thread::sleep_for(5ms);
                    }
                    break;
                }
                case Step::kHold: {
                    // Gives up after 10 s, so that a client that never hangs up cannot hang
                    // the test; ClientHungUp() tells the two apart.
                    auto until = std::chrono::steady_clock::now() + 10s;
                    while (!stopping_ && std::chrono::steady_clock::now() < until) {
                        pollfd p{fd, POLLIN, 0};
                        if (::poll(&p, 1, 50) <= 0) continue;
                        if (::recv(fd, buf, sizeof buf, 0) <= 0) {
                            hungUp_ = true;
                            break;
                        }
                    }
                    break;
                }
            }
        }
        ::close(fd);
        return true;
    }

    std::vector<std::vector<Step>> scripts_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable cv_;
    int signals_ = 0;
    std::vector<std::string> requests_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> hungUp_{false};
};

using S = ScriptedResponder;

inline constexpr const char* kServerDate = "Sun, 06 Nov 1994 08:49:37 GMT";

// A response head with the six required headers (each can be replaced or left out).
inline std::string Head(std::uint64_t length, const std::string& name = "VELDA.NOT",
                        const std::string& lastModified = kServerDate,
                        const std::string& upgrade = "N",
                        const std::string& status = "HTTP/1.0 200 OK") {
    return status + "\r\nvd-message: OK\r\nContent-Length: " + std::to_string(length) +
           "\r\nvd-upgrade: " + upgrade + "\r\nvd-filename: " + name +
           "\r\nLast-Modified: " + lastModified + "\r\nvd-filedate: 19941106\r\n\r\n";
}

inline std::string Body(std::size_t n) {
    std::string b(n, '\0');
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<char>('A' + i % 23);
    return b;
}

}  // namespace scripted
