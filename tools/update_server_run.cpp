// The serving side of veldana-update-server: the listening socket, the event-loop workers
// with their limits against slow and greedy clients, the privilege drop and the reload on
// SIGHUP (see update_server.h).
//
// Each worker owns an epoll set and the connections it accepted from the shared, non-blocking
// listening socket (EPOLLEXCLUSIVE wakes one worker per new connection). A connection goes
// through three phases: its request head is read until complete (or its deadline passes),
// the answer is sent (head, then the body from the file opened for it, with sendfile), and the
// connection lingers briefly after a half-close so that the client reads everything before it
// goes. A sweep every tenth of a second enforces the deadlines and paces rate-limited bodies.
#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "tools/update_server.h"

namespace updateserver {
namespace {

using Clock = std::chrono::steady_clock;

// How long a finished connection waits for the client to close its side.
constexpr auto kLinger = std::chrono::seconds(2);
// Refused connections (each told 503) that one worker lets linger at once; past that a
// refused connection is closed straight after its answer.
constexpr int kMaxRefusedLingering = 256;
constexpr auto kSweepInterval = std::chrono::milliseconds(100);

std::atomic<int> g_signalPipe{-1};

void OnSignal(int signal) {
    int fd = g_signalPipe.load();
    if (fd >= 0) {
        char which = static_cast<char>(signal);
        [[maybe_unused]] ssize_t n = ::write(fd, &which, 1);
    }
}

// The request log. A line that cannot be written (a full disk) is said on standard error,
// once until writing works again; serving goes on.
class Log {
  public:
    bool Open(const std::string& path) {
        path_ = path;
        if (path.empty()) return true;
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        return fd_ >= 0;
    }
    ~Log() {
        if (fd_ >= 0) ::close(fd_);
    }
    void Write(const std::string& line) {
        std::string text = line + "\n";
        std::lock_guard lock(mutex_);
        int fd = fd_ >= 0 ? fd_ : STDERR_FILENO;
        std::size_t done = 0;
        while (done < text.size()) {
            ssize_t n = ::write(fd, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                if (!failing_ && fd != STDERR_FILENO)
                    std::fprintf(stderr, "veldana-update-server: cannot write the log %s: %s\n",
                                 path_.c_str(), n < 0 ? std::strerror(errno) : "nothing written");
                failing_ = true;
                return;
            }
            done += static_cast<std::size_t>(n);
        }
        if (failing_ && fd != STDERR_FILENO)
            std::fprintf(stderr, "veldana-update-server: the log %s is written again\n", path_.c_str());
        failing_ = false;
    }

  private:
    std::string path_;
    int fd_ = -1;
    bool failing_ = false;
    std::mutex mutex_;
};

std::string LogTimeNow() { return FormatLogTime(std::time(nullptr)); }

std::string PeerName(const sockaddr_storage& peer) {
    char host[INET6_ADDRSTRLEN] = "?";
    int port = 0;
    if (peer.ss_family == AF_INET) {
        const auto* a = reinterpret_cast<const sockaddr_in*>(&peer);
        inet_ntop(AF_INET, &a->sin_addr, host, sizeof host);
        port = ntohs(a->sin_port);
    } else if (peer.ss_family == AF_INET6) {
        const auto* a = reinterpret_cast<const sockaddr_in6*>(&peer);
        inet_ntop(AF_INET6, &a->sin6_addr, host, sizeof host);
        port = ntohs(a->sin6_port);
    }
    return std::string(host) + ":" + std::to_string(port);
}

// The client's address alone (an IPv4 address mapped into IPv6 as the IPv4 one): the key of
// its connection count.
std::string AddressKey(const sockaddr_storage& peer) {
    if (peer.ss_family == AF_INET) {
        const auto* a = reinterpret_cast<const sockaddr_in*>(&peer);
        return std::string(reinterpret_cast<const char*>(&a->sin_addr), 4);
    }
    if (peer.ss_family == AF_INET6) {
        const auto* a = reinterpret_cast<const sockaddr_in6*>(&peer);
        const char* bytes = reinterpret_cast<const char*>(&a->sin6_addr);
        if (IN6_IS_ADDR_V4MAPPED(&a->sin6_addr)) return std::string(bytes + 12, 4);
        return std::string(bytes, 16);
    }
    return {};
}

int Listen(const ServerConfig& config, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    std::string port = std::to_string(config.listenPort);
    int rc = getaddrinfo(config.listenHost.c_str(), port.c_str(), &hints, &found);
    if (rc != 0) {
        error = "cannot resolve " + config.listenHost + ": " + gai_strerror(rc);
        return -1;
    }
    int fd = -1;
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) continue;
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 4096) != 0) {
            error = std::string("cannot listen: ") + std::strerror(errno);
            ::close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    return fd;
}

int BoundPort(int fd) {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
    if (addr.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
    return ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
}

bool WritePortFile(const std::string& path, int port) {
    std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        out << port << "\n";
        if (!out.flush()) return false;
    }
    return std::rename(temp.c_str(), path.c_str()) == 0;
}

struct Account {
    std::string name;
    uid_t uid = 0;
    gid_t gid = 0;
};

// The account to serve as, looked up before anything is bound so that a wrong name fails at
// once. Without root, only the user we already are is accepted.
bool LookUpAccount(const std::string& user, Account& account, std::string& error) {
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
        error = "no user " + user;
        return false;
    }
    if (::geteuid() != 0 && found->pw_uid != ::geteuid()) {
        error = "only root can switch to user " + user;
        return false;
    }
    account = Account{found->pw_name, found->pw_uid, found->pw_gid};
    return true;
}

// Switches to the account (its uid, gid and groups) for good.
bool SwitchTo(const Account& account, std::string& error) {
    if (::geteuid() != 0) return true;  // already that user
    if (::initgroups(account.name.c_str(), account.gid) != 0 ||
        ::setresgid(account.gid, account.gid, account.gid) != 0 ||
        ::setresuid(account.uid, account.uid, account.uid) != 0) {
        error = "cannot switch to user " + account.name + ": " + std::strerror(errno);
        return false;
    }
    if (account.uid != 0 && ::setresuid(0, 0, 0) == 0) {
        error = "root could be regained after switching to " + account.name;
        return false;
    }
    return true;
}

// Gives up every capability (a service started unprivileged with CAP_NET_BIND_SERVICE needs
// it only to bind). Root keeps its own: it is told to use --user instead.
bool DropCapabilities(std::string& error) {
    if (::geteuid() == 0) return true;
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capset, &header, none) != 0) {
        error = std::string("cannot give up capabilities: ") + std::strerror(errno);
        return false;
    }
    return true;
}

// Raises the descriptor limit to what the connection caps need, as far as the hard limit
// allows; the connections the limit leaves room for.
int FitDescriptorLimit(int wanted, int workers, std::string& warning) {
    const rlim_t spare = static_cast<rlim_t>(workers) * (kMaxRefusedLingering + 8) + 64;
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return wanted;
    rlim_t need = static_cast<rlim_t>(wanted) + spare;
    if (limit.rlim_cur < need) {
        limit.rlim_cur = std::min(need, limit.rlim_max);
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur >= need) return wanted;
    int room = limit.rlim_cur > spare + 16 ? static_cast<int>(limit.rlim_cur - spare) : 16;
    warning = "the descriptor limit (" + std::to_string(limit.rlim_cur) + ") leaves room for " +
              std::to_string(room) + " connections, not " + std::to_string(wanted) +
              "; raise it (ulimit -n, LimitNOFILE=) to serve more";
    return room;
}

// What the workers share.
struct Shared {
    Log log;
    int listener = -1;
    int maxConnections = 0;  // the configured cap, fitted to the descriptor limit

    std::shared_ptr<const ServerConfig> Config() {
        std::lock_guard lock(configMutex);
        return config;
    }
    void SetConfig(std::shared_ptr<const ServerConfig> next) {
        std::lock_guard lock(configMutex);
        config = std::move(next);
    }

    // Counts the connection in, or says which cap it is over.
    enum class Admit { kYes, kOverTotal, kOverAddress };
    Admit Count(const std::string& address, const ServerConfig& config) {
        if (total.fetch_add(1) >= std::min(config.maxConnections, maxConnections)) {
            total.fetch_sub(1);
            return Admit::kOverTotal;
        }
        std::lock_guard lock(addressMutex);
        int& count = perAddress[address];
        if (count >= config.maxPerAddress) {
            if (count == 0) perAddress.erase(address);
            total.fetch_sub(1);
            return Admit::kOverAddress;
        }
        ++count;
        return Admit::kYes;
    }
    void Uncount(const std::string& address) {
        total.fetch_sub(1);
        std::lock_guard lock(addressMutex);
        auto it = perAddress.find(address);
        if (it != perAddress.end() && --it->second <= 0) perAddress.erase(it);
    }

  private:
    std::mutex configMutex;
    std::shared_ptr<const ServerConfig> config;
    std::mutex addressMutex;
    std::unordered_map<std::string, int> perAddress;
    std::atomic<int> total{0};
};

enum class Phase { kHead, kSend, kLinger };

struct Connection {
    int fd = -1;
    std::list<Connection>::iterator self;
    std::shared_ptr<const ServerConfig> config;  // as it was when the client came
    std::string peer;
    std::string address;
    bool counted = false;  // in the connection caps (a refused one is not)
    bool refusedLingering = false;  // a refused one, in the worker's count of those
    Phase phase = Phase::kHead;
    bool writable = true;  // edge-triggered: true until a send would block
    bool peerClosed = false;

    std::string in;  // the request head as received so far
    HttpRequest request;
    std::time_t requestTime = 0;
    int status = 0;
    std::string note;  // added to the log line

    std::string out;  // the answer's head (or whole error answer)
    std::size_t outDone = 0;
    platform::Descriptor body;
    std::uint64_t bodyLength = 0;
    std::uint64_t bodySent = 0;

    Clock::time_point deadline;  // of the head, or of the linger
    Clock::time_point sendStart;
    Clock::time_point windowStart;
    std::uint64_t windowBytes = 0;
    Clock::time_point pacedUntil;  // a rate-limited body waits until then
};

class Worker {
  public:
    explicit Worker(Shared& shared) : shared_(shared) {}
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    bool Init(std::string& error) {
        epoll_ = platform::Descriptor(epoll_create1(EPOLL_CLOEXEC));
        wake_ = platform::Descriptor(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
        reserve_ = platform::Descriptor(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        if (!epoll_.valid() || !wake_.valid()) {
            error = std::string("cannot start a worker: ") + std::strerror(errno);
            return false;
        }
        epoll_event listen{};
        listen.events = EPOLLIN | EPOLLEXCLUSIVE;
        listen.data.ptr = &listenerTag_;
        epoll_event wake{};
        wake.events = EPOLLIN;
        wake.data.ptr = &wakeTag_;
        if (epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, shared_.listener, &listen) != 0 ||
            epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, wake_.get(), &wake) != 0) {
            error = std::string("cannot start a worker: ") + std::strerror(errno);
            return false;
        }
        return true;
    }

    void Stop() {
        stopping_ = true;
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wake_.get(), &one, sizeof one);
    }

    void Run() {
        epoll_event events[256];
        Clock::time_point lastSweep = Clock::now();
        while (!stopping_) {
            int n = epoll_wait(epoll_.get(), events, 256, 100);
            if (n < 0 && errno != EINTR) break;
            Clock::time_point now = Clock::now();
            for (int i = 0; i < n; ++i) {
                void* tag = events[i].data.ptr;
                if (tag == &listenerTag_) {
                    Accept(now);
                } else if (tag != &wakeTag_) {
                    OnEvent(*static_cast<Connection*>(tag), events[i].events, now);
                }
            }
            if (now - lastSweep >= kSweepInterval) {
                Sweep(now);
                lastSweep = now;
            }
            Bury();
        }
        for (Connection& c : connections_) Close(c);
        Bury();
        ReportRefusals(true);
    }

  private:
    void Accept(Clock::time_point now) {
        auto config = shared_.Config();
        for (int i = 0; i < 64; ++i) {
            sockaddr_storage peer{};
            socklen_t length = sizeof peer;
            int fd = ::accept4(shared_.listener, reinterpret_cast<sockaddr*>(&peer), &length,
                               SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED) continue;
                if (errno == EMFILE || errno == ENFILE) ShedOne();
                return;  // EAGAIN: none left (or another worker took it)
            }
            connections_.emplace_back();
            Connection& c = connections_.back();
            c.self = std::prev(connections_.end());
            c.fd = fd;
            c.config = config;
            c.peer = PeerName(peer);
            c.address = AddressKey(peer);
            c.deadline = now + std::chrono::seconds(config->headSeconds);
            epoll_event event{};
            event.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
            event.data.ptr = &c;
            if (epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &event) != 0) {
                Close(c);
                continue;
            }
            switch (shared_.Count(c.address, *config)) {
                case Shared::Admit::kYes:
                    c.counted = true;
                    break;
                case Shared::Admit::kOverTotal:
                    ++refusedTotal_;
                    Refuse(c, now);
                    break;
                case Shared::Admit::kOverAddress:
                    ++refusedAddress_;
                    Refuse(c, now);
                    break;
            }
        }
    }

    // Out of descriptors: takes the waiting connection with the one kept in reserve and
    // closes it at once, so that the listening socket does not wake every worker forever.
    void ShedOne() {
        if (!reserve_.valid()) return;
        reserve_ = platform::Descriptor();
        int fd = ::accept4(shared_.listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
            ++refusedDescriptors_;
        }
        reserve_ = platform::Descriptor(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    }

    // Answers 503 with Retry-After straight away, then lets the client read it.
    void Refuse(Connection& c, Clock::time_point now) {
        c.status = 503;
        c.out = ErrorResponse(503, std::time(nullptr), c.config->retryAfterSeconds);
        c.phase = Phase::kSend;
        c.sendStart = c.windowStart = now;
        Send(c, now);
        if (c.fd < 0) return;
        if (refusedLingering_ >= kMaxRefusedLingering) {
            Close(c);
            return;
        }
        c.refusedLingering = true;
        ++refusedLingering_;
    }

    void OnEvent(Connection& c, std::uint32_t events, Clock::time_point now) {
        if (c.fd < 0) return;
        if (events & EPOLLOUT) c.writable = true;
        if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
            if (c.phase == Phase::kHead)
                ReadHead(c, now);
            else
                Discard(c);
        }
        if (c.fd >= 0 && c.phase == Phase::kSend) Send(c, now);
    }

    void ReadHead(Connection& c, Clock::time_point now) {
        char buffer[16384];
        while (c.in.size() <= kMaxHeadSize) {
            ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                c.in.append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0) {
                c.peerClosed = true;
                break;
            } else if (errno == EINTR) {
                continue;
            } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
                break;
            } else {
                Close(c);
                return;
            }
        }
        std::size_t headLength = 0;
        ParseResult result = ParseRequestHead(c.in, c.request, headLength);
        if (result == ParseResult::kIncomplete) {
            if (c.peerClosed) {
                if (!c.in.empty())
                    shared_.log.Write(LogLine(std::time(nullptr), c.peer,
                                              HttpRequest{"-", c.in.substr(0, 80), "-", {}}, 0, 0) +
                                      " (incomplete request)");
                Close(c);
            }
            return;
        }
        c.requestTime = std::time(nullptr);
        if (result == ParseResult::kComplete) {
            Response response = BuildResponse(*c.config, c.request, c.requestTime);
            c.status = response.status;
            c.out = std::move(response.head);
            c.body = std::move(response.body);
            c.bodyLength = response.bodyLength;
            c.note = std::move(response.note);
        } else {
            c.status = result == ParseResult::kTooLarge ? 431 : 400;
            c.out = ErrorResponse(c.status, c.requestTime);
            std::size_t line = c.in.find('\n');
            c.request = HttpRequest{"-", c.in.substr(0, std::min<std::size_t>(line, 200)), "-", {}};
        }
        std::string().swap(c.in);
        c.phase = Phase::kSend;
        c.sendStart = c.windowStart = now;
        c.windowBytes = 0;
    }

    void Send(Connection& c, Clock::time_point now) {
        const std::uint64_t rate = c.config->rateBytesPerSecond;
        while (c.writable) {
            ssize_t n;
            if (c.outDone < c.out.size()) {
                n = ::send(c.fd, c.out.data() + c.outDone, c.out.size() - c.outDone, MSG_NOSIGNAL);
                if (n > 0) c.outDone += static_cast<std::size_t>(n);
            } else if (c.bodySent < c.bodyLength) {
                std::uint64_t want = c.bodyLength - c.bodySent;
                if (rate != 0) {
                    // Pieces of a tenth of a second's worth, each when the bytes before it
                    // have had their time.
                    auto due = c.sendStart + std::chrono::microseconds(c.bodySent * 1'000'000 / rate);
                    if (due > now) {
                        c.pacedUntil = due;
                        return;
                    }
                    want = std::min(want, std::clamp<std::uint64_t>(rate / 10, 1, 1 << 20));
                }
                off_t offset = static_cast<off_t>(c.bodySent);
                n = ::sendfile(c.fd, c.body.get(), &offset,
                               static_cast<std::size_t>(std::min<std::uint64_t>(want, 1 << 30)));
                if (n > 0) c.bodySent += static_cast<std::uint64_t>(n);
                if (n == 0) {
                    Finish(c, "the file shrank during the transfer");
                    return;
                }
            } else {
                Finish(c, "");
                return;
            }
            if (n > 0) {
                c.windowBytes += static_cast<std::uint64_t>(n);
            } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
                c.writable = false;
            } else if (errno != EINTR) {
                Finish(c, std::string("ended early: ") + std::strerror(errno));
                return;
            }
        }
    }

    // Logs the request and, when the whole answer went, lets the connection linger.
    void Finish(Connection& c, const std::string& problem) {
        if (c.status != 503) {
            std::string line = LogLine(c.requestTime, c.peer, c.request, c.status, c.bodySent);
            std::string note = c.note;
            if (!problem.empty()) note += (note.empty() ? "" : "; ") + problem;
            if (!note.empty()) line += " (" + note + ")";
            shared_.log.Write(line);
        }
        c.body = platform::Descriptor();
        if (!problem.empty()) {
            Close(c);
            return;
        }
        ::shutdown(c.fd, SHUT_WR);
        c.phase = Phase::kLinger;
        c.deadline = Clock::now() + kLinger;
        if (c.peerClosed)
            Close(c);
        else
            Discard(c);
    }

    // Reads and drops what the client still sends after its request head.
    void Discard(Connection& c) {
        char buffer[16384];
        for (;;) {
            ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
            if (n > 0) continue;
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
            c.peerClosed = true;
            if (c.phase == Phase::kLinger || n < 0) Close(c);
            return;
        }
    }

    void Sweep(Clock::time_point now) {
        for (Connection& c : connections_) {
            if (c.fd < 0) continue;
            if (c.phase == Phase::kHead && now >= c.deadline) {
                shared_.log.Write(LogTimeNow() + " " + c.peer + " dropped: no whole request head in " +
                                  std::to_string(c.config->headSeconds) + " s (" +
                                  std::to_string(c.in.size()) + " bytes)");
                Close(c);
            } else if (c.phase == Phase::kSend) {
                if (c.pacedUntil != Clock::time_point() && c.pacedUntil <= now) {
                    c.pacedUntil = Clock::time_point();
                    Send(c, now);
                    if (c.fd < 0 || c.phase != Phase::kSend) continue;
                }
                CheckRate(c, now);
            } else if (c.phase == Phase::kLinger && now >= c.deadline) {
                Close(c);
            }
        }
        ReportRefusals(false);
    }

    // A body must move at the minimum rate, on average over each window of --idle seconds
    // (at half the configured send rate when that is lower); one that moves nothing at all
    // in a window is dropped even with no minimum set.
    void CheckRate(Connection& c, Clock::time_point now) {
        const ServerConfig& config = *c.config;
        auto window = std::chrono::seconds(config.idleSeconds);
        if (now - c.windowStart < window) return;
        std::uint64_t floor = config.minRateBytesPerSecond;
        if (config.rateBytesPerSecond != 0) floor = std::min(floor, config.rateBytesPerSecond / 2);
        std::uint64_t need = std::max<std::uint64_t>(floor * config.idleSeconds, 1);
        if (c.windowBytes < need) {
            std::string line = LogLine(c.requestTime, c.peer, c.request, c.status, c.bodySent);
            line += " (dropped: " + std::to_string(c.windowBytes / config.idleSeconds) +
                    " bytes/s over " + std::to_string(config.idleSeconds) + " s, under the minimum of " +
                    std::to_string(floor) + ")";
            shared_.log.Write(line);
            Close(c);
            return;
        }
        c.windowStart = now;
        c.windowBytes = 0;
    }

    // One line a second at most for the clients refused, however many there are.
    void ReportRefusals(bool now) {
        auto t = Clock::now();
        if (!now && t - lastReport_ < std::chrono::seconds(1)) return;
        lastReport_ = t;
        if (refusedTotal_ + refusedAddress_ + refusedDescriptors_ == 0) return;
        std::string line = LogTimeNow() + " refused with 503:";
        if (refusedAddress_) line += " " + std::to_string(refusedAddress_) + " over the per-address cap";
        if (refusedTotal_) line += " " + std::to_string(refusedTotal_) + " over the total cap";
        if (refusedDescriptors_)
            line += " " + std::to_string(refusedDescriptors_) + " closed for want of descriptors";
        shared_.log.Write(line);
        refusedTotal_ = refusedAddress_ = refusedDescriptors_ = 0;
    }

    void Close(Connection& c) {
        if (c.fd < 0) return;
        ::close(c.fd);  // also leaves the epoll set
        c.fd = -1;
        if (c.counted) shared_.Uncount(c.address);
        if (c.refusedLingering) --refusedLingering_;
        dead_.push_back(c.self);
    }

    // Frees the connections closed in this round, after its events are handled.
    void Bury() {
        for (auto it : dead_) connections_.erase(it);
        dead_.clear();
    }

    Shared& shared_;
    platform::Descriptor epoll_;
    platform::Descriptor wake_;
    platform::Descriptor reserve_;  // given up to accept one connection when out of descriptors
    std::atomic<bool> stopping_{false};
    char listenerTag_ = 0;
    char wakeTag_ = 0;
    std::list<Connection> connections_;
    std::vector<std::list<Connection>::iterator> dead_;
    int refusedLingering_ = 0;
    int refusedTotal_ = 0;
    int refusedAddress_ = 0;
    int refusedDescriptors_ = 0;
    Clock::time_point lastReport_;
};

// What a reload cannot change without a restart, named for the log.
std::string RestartOnly(const ServerConfig& a, const ServerConfig& b) {
    std::string what;
    auto add = [&](bool differs, const char* name) {
        if (differs) what += std::string(what.empty() ? "" : ", ") + name;
    };
    add(a.listenHost != b.listenHost || a.listenPort != b.listenPort, "listen");
    add(a.user != b.user, "user");
    add(a.logPath != b.logPath, "log");
    add(a.portFile != b.portFile, "port-file");
    add(a.workers != b.workers, "workers");
    return what;
}

}  // namespace

int RunServer(const ServerConfig& startConfig, volatile std::sig_atomic_t* stop,
              const ReloadConfig& reload) {
    Shared shared;
    if (!shared.log.Open(startConfig.logPath)) {
        std::fprintf(stderr, "veldana-update-server: cannot open log %s: %s\n",
                     startConfig.logPath.c_str(), std::strerror(errno));
        return 1;
    }
    int workerCount = startConfig.workers > 0
                          ? startConfig.workers
                          : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    std::string warning;
    shared.maxConnections = FitDescriptorLimit(startConfig.maxConnections, workerCount, warning);
    if (!warning.empty()) std::fprintf(stderr, "veldana-update-server: warning: %s\n", warning.c_str());

    std::string error;
    Account account;
    if (!startConfig.user.empty() && !LookUpAccount(startConfig.user, account, error)) {
        std::fprintf(stderr, "veldana-update-server: %s\n", error.c_str());
        return 1;
    }
    shared.listener = Listen(startConfig, error);
    if (shared.listener < 0) {
        std::fprintf(stderr, "veldana-update-server: %s\n", error.c_str());
        return 1;
    }
    platform::Descriptor listenerHandle(shared.listener);
    int port = BoundPort(shared.listener);
    if (!startConfig.portFile.empty() && !WritePortFile(startConfig.portFile, port))
        std::fprintf(stderr, "veldana-update-server: cannot write %s\n", startConfig.portFile.c_str());
    if ((!startConfig.user.empty() && !SwitchTo(account, error)) || !DropCapabilities(error)) {
        std::fprintf(stderr, "veldana-update-server: %s\n", error.c_str());
        return 1;
    }
    if (::geteuid() == 0)
        std::fprintf(stderr,
                     "veldana-update-server: warning: serving as root; give --user NAME to drop "
                     "root after binding\n");
    shared.SetConfig(std::make_shared<const ServerConfig>(startConfig));

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
    platform::Descriptor pipeRead(pipeFds[0]), pipeWrite(pipeFds[1]);
    g_signalPipe = pipeFds[1];
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    struct sigaction oldTerm {
    }, oldInt{}, oldHup{};
    sigaction(SIGTERM, &action, &oldTerm);
    sigaction(SIGINT, &action, &oldInt);
    sigaction(SIGHUP, &action, &oldHup);
    std::signal(SIGPIPE, SIG_IGN);

    std::vector<std::unique_ptr<Worker>> workers;
    for (int i = 0; i < workerCount; ++i) {
        workers.push_back(std::make_unique<Worker>(shared));
        if (!workers.back()->Init(error)) {
            std::fprintf(stderr, "veldana-update-server: %s\n", error.c_str());
            workers.pop_back();
            break;
        }
    }
    std::vector<std::thread> threads;
    for (auto& w : workers) threads.emplace_back([&w] { w->Run(); });
    std::fprintf(stderr,
                 "veldana-update-server: listening on %s port %d, %zu file(s), %zu worker(s), "
                 "up to %d connections (%d per address)\n",
                 startConfig.listenHost.c_str(), port, startConfig.files.size(), workers.size(),
                 std::min(startConfig.maxConnections, shared.maxConnections),
                 startConfig.maxPerAddress);

    bool running = !workers.empty();
    int status = running ? 0 : 1;
    while (running && !(stop && *stop)) {
        pollfd fd{pipeFds[0], POLLIN, 0};
        int rc = ::poll(&fd, 1, 250);
        if (rc < 0 && errno != EINTR) break;
        char signals[16];
        ssize_t n = rc > 0 ? ::read(pipeFds[0], signals, sizeof signals) : 0;
        for (ssize_t i = 0; i < n; ++i) {
            if (signals[i] != SIGHUP) {
                running = false;
                continue;
            }
            ServerConfig next;
            std::string why;
            if (!reload) {
                shared.log.Write(LogTimeNow() + " reload: nothing to read again");
            } else if (!reload(next, why)) {
                shared.log.Write(LogTimeNow() + " reload failed, the old configuration stays: " + why);
            } else {
                std::string fixed = RestartOnly(startConfig, next);
                shared.log.Write(LogTimeNow() + " reloaded: " + std::to_string(next.files.size()) +
                                 " file(s)" + (fixed.empty() ? "" : "; a restart applies " + fixed));
                shared.SetConfig(std::make_shared<const ServerConfig>(std::move(next)));
            }
        }
    }

    for (auto& w : workers) w->Stop();
    for (auto& t : threads) t.join();
    workers.clear();
    sigaction(SIGTERM, &oldTerm, nullptr);
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGHUP, &oldHup, nullptr);
    g_signalPipe = -1;
    std::fprintf(stderr, "veldana-update-server: stopped\n");
    return status;
}

}  // namespace updateserver
