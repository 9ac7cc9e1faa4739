#include "tests/resolve/dns_peers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace dnspeers {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

void Put16(Bytes& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v & 0xff));
}

bool ToSockaddr(const std::string& dotted, sockaddr_in& sa) {
    sa = sockaddr_in{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(53);
    return inet_pton(AF_INET, dotted.c_str(), &sa.sin_addr) == 1;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string NsdPath() {
    std::vector<std::string> dirs;
    if (const char* path = std::getenv("PATH")) {
        std::stringstream ss(path);
        for (std::string d; std::getline(ss, d, ':');)
            if (!d.empty()) dirs.push_back(d);
    }
    dirs.insert(dirs.end(), {"/usr/sbin", "/sbin"});
    for (const auto& d : dirs) {
        std::string candidate = d + "/nsd";
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

// True when `pid` is a running nsd (a leftover of a test process that died).
bool IsNsd(pid_t pid) {
    std::string cmdline = Slurp("/proc/" + std::to_string(pid) + "/cmdline");
    return cmdline.find("nsd") != std::string::npos;
}

// Sends one SOA query for `zone` to `server` and waits up to `waitMs` for any reply.
bool Answers(const std::string& server, const std::string& zone, int waitMs) {
    sockaddr_in sa;
    if (!ToSockaddr(server, sa)) return false;
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    Bytes query = DnsMessage(0x5151, 0x0000).Question(zone, 6).Build();
    bool answered = false;
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
        send(fd, query.data(), query.size(), 0) == static_cast<ssize_t>(query.size())) {
        pollfd p{fd, POLLIN, 0};
        std::uint8_t buffer[512];
        answered = poll(&p, 1, waitMs) == 1 && recv(fd, buffer, sizeof buffer, 0) >= 12;
    }
    close(fd);
    return answered;
}

std::string ServerConfig(const std::string& dir, const std::string& address,
                         const std::string& zone, const std::string& zoneFile) {
    std::ostringstream c;
    c << "server:\n"
      << "  ip-address: " << address << "\n"
      << "  port: 53\n"
      << "  do-ip6: no\n"
      << "  username: \"\"\n"
      << "  chroot: \"\"\n"
      << "  database: \"\"\n"
      << "  server-count: 1\n"
      << "  verbosity: 1\n"
      << "  zonesdir: \"" << dir << "\"\n"
      << "  pidfile: \"" << dir << "/nsd.pid\"\n"
      << "  xfrdfile: \"" << dir << "/xfrd.state\"\n"
      << "  zonelistfile: \"" << dir << "/zone.list\"\n"
      << "  logfile: \"" << dir << "/nsd.log\"\n"
      << "  rrl-ratelimit: 0\n"
      << "  rrl-whitelist-ratelimit: 0\n"
      << "remote-control:\n"
      << "  control-enable: no\n"
      << "zone:\n"
      << "  name: \"" << zone << "\"\n"
      << "  zonefile: \"" << zoneFile << "\"\n";
    return c.str();
}

}  // namespace

std::uint32_t Address(std::string_view dotted) {
    in_addr a{};
    if (inet_pton(AF_INET, std::string(dotted).c_str(), &a) != 1) return 0;
    return a.s_addr;
}

Bytes EncodeName(std::string_view name) {
    Bytes out;
    std::size_t start = 0;
    while (start < name.size()) {
        std::size_t dot = name.find('.', start);
        std::size_t end = dot == std::string_view::npos ? name.size() : dot;
        if (end > start) {
            out.push_back(static_cast<std::uint8_t>(end - start));
            out.insert(out.end(), name.begin() + start, name.begin() + end);
        }
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    out.push_back(0);
    return out;
}

std::uint16_t MessageId(const Bytes& message) {
    return message.size() < 2 ? 0 : static_cast<std::uint16_t>(message[0] << 8 | message[1]);
}

DnsMessage::DnsMessage(std::uint16_t id, std::uint16_t flags) : id_(id), flags_(flags) {}

DnsMessage DnsMessage::ReplyTo(const Bytes& query) {
    DnsMessage m(MessageId(query));
    // The question: the query's bytes behind its header.
    if (query.size() > 12) {
        m.question_.assign(query.begin() + 12, query.end());
        m.questions_ = 1;
    }
    return m;
}

DnsMessage& DnsMessage::Question(std::string_view name, std::uint16_t type) {
    Bytes n = EncodeName(name);
    question_.insert(question_.end(), n.begin(), n.end());
    Put16(question_, type);
    Put16(question_, 1);
    ++questions_;
    return *this;
}

DnsMessage& DnsMessage::Record(Section section, std::string_view owner, std::uint16_t type,
                               Bytes data) {
    Bytes& out = sections_[section];
    Bytes n = EncodeName(owner);
    out.insert(out.end(), n.begin(), n.end());
    Put16(out, type);
    Put16(out, 1);  // IN
    Put16(out, 0);  // TTL
    Put16(out, 3600);
    Put16(out, static_cast<std::uint16_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    ++counts_[section];
    return *this;
}

DnsMessage& DnsMessage::A(Section section, std::string_view owner, std::string_view dotted) {
    std::uint32_t word = Address(dotted);
    Bytes data(4);
    std::memcpy(data.data(), &word, 4);
    return Record(section, owner, 1, data);
}

DnsMessage& DnsMessage::Ns(Section section, std::string_view owner, std::string_view server) {
    return Record(section, owner, 2, EncodeName(server));
}

DnsMessage& DnsMessage::Count(int field, std::uint16_t value) {
    overrides_[field] = value;
    return *this;
}

Bytes DnsMessage::Build() const {
    Bytes out;
    Put16(out, id_);
    Put16(out, flags_);
    const int counts[4] = {questions_, counts_[0], counts_[1], counts_[2]};
    for (int i = 0; i < 4; ++i)
        Put16(out, static_cast<std::uint16_t>(overrides_[i] >= 0 ? overrides_[i] : counts[i]));
    out.insert(out.end(), question_.begin(), question_.end());
    for (const Bytes& s : sections_) out.insert(out.end(), s.begin(), s.end());
    return out;
}

std::vector<Bytes> Silent(const Bytes&) {
    return {};
}

UdpResponder::UdpResponder(std::string address, Script script, int replyDelayMs)
    : address_(std::move(address)), script_(std::move(script)), replyDelayMs_(replyDelayMs) {
    sockaddr_in sa;
    if (!ToSockaddr(address_, sa)) {
        error_ = "not an address: " + address_;
        return;
    }
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error_ = std::string("socket: ") + std::strerror(errno);
        return;
    }
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        unavailable_ = errno == EADDRINUSE || errno == EACCES || errno == EADDRNOTAVAIL;
        error_ = "cannot bind " + address_ + ":53: " + std::strerror(errno);
        close(fd);
        return;
    }
    stopFd_ = eventfd(0, EFD_CLOEXEC);
    fd_ = fd;
    thread_ = std::thread([this] { Run(); });
}

UdpResponder::~UdpResponder() {
    if (thread_.joinable()) {
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(stopFd_, &one, sizeof one);
        thread_.join();
    }
    if (fd_ >= 0) close(fd_);
    if (stopFd_ >= 0) close(stopFd_);
}

std::vector<Bytes> UdpResponder::Queries() const {
    std::lock_guard lock(mutex_);
    return queries_;
}

void UdpResponder::Run() {
    std::uint8_t buffer[65536];
    for (;;) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if (fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        ssize_t got = recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from),
                               &fromLength);
        if (got < 0) continue;
        Bytes query(buffer, buffer + got);
        {
            std::lock_guard lock(mutex_);
            queries_.push_back(query);
        }
        std::vector<Bytes> replies = script_(query);
        if (replyDelayMs_ > 0 && !replies.empty()) {
            pollfd stop{stopFd_, POLLIN, 0};
            if (poll(&stop, 1, replyDelayMs_) > 0) return;
        }
        for (const Bytes& r : replies)
            sendto(fd_, r.data(), r.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLength);
    }
}

std::string NsdUnavailable() {
    return NsdPath().empty() ? "nsd is not installed (scripts/setup installs it)" : "";
}

NsdChain::NsdChain(std::string base, std::string zoneLines) : base_(std::move(base)) {
    error_ = NsdUnavailable();
    unavailable_ = !error_.empty();
    if (error_.empty()) Start(zoneLines);
    if (!error_.empty()) Stop();
}

NsdChain::~NsdChain() {
    Stop();
}

void NsdChain::Start(const std::string& zoneLines) {
    // One directory per chain address, so that the servers a crashed test left behind are
    // found and stopped before their addresses are needed again.
    dir_ = (fs::temp_directory_path() / ("veldana-nsd-" + base_ + "d")).string();
    for (int i = 1; i <= 3; ++i) {
        std::string pidText = Slurp(dir_ + "/" + std::to_string(i) + "/nsd.pid");
        pid_t old = static_cast<pid_t>(std::atoi(pidText.c_str()));
        if (old > 1 && IsNsd(old)) {
            kill(old, SIGTERM);
            for (int wait = 0; wait < 250 && kill(old, 0) == 0; ++wait) usleep(20000);
        }
    }
    std::error_code ec;
    fs::remove_all(dir_, ec);

    const std::string a1 = base_ + "1", a2 = base_ + "2", a3 = base_ + "3";
    const std::string soa = " IN SOA ns.invalid. hostmaster.invalid. 1 3600 900 604800 300\n";
    struct Level {
        std::string zone, address, text;
    };
    std::vector<Level> levels = {
        {".", a1,
         "$ORIGIN .\n$TTL 3600\n." + soa + ". IN NS a.root.\na.root. IN A " + a1 +
             "\ntest. IN NS ns.nic.test.\nns.nic.test. IN A " + a2 + "\n"},
        {"test", a2,
         "$ORIGIN test.\n$TTL 3600\n@" + soa + "@ IN NS ns.nic.test.\nns.nic IN A " + a2 +
             "\nveldana IN NS ns.veldana.test.\nns.veldana IN A " + a3 + "\n"},
        {"veldana.test", a3,
         "$ORIGIN veldana.test.\n$TTL 3600\n@" + soa + "@ IN NS ns\nns IN A " + a3 +
             "\nwww IN A 10.1.2.3\nwww IN A 10.1.2.4\n" + zoneLines + "\n"},
    };

    const std::string nsd = NsdPath();
    for (std::size_t i = 0; i < levels.size(); ++i) {
        const std::string d = dir_ + "/" + std::to_string(i + 1);
        fs::create_directories(d, ec);
        if (ec) {
            error_ = "cannot create " + d + ": " + ec.message();
            return;
        }
        WriteText(d + "/zone", levels[i].text);
        const std::string conf = d + "/nsd.conf";
        WriteText(conf, ServerConfig(d, levels[i].address, levels[i].zone, d + "/zone"));
        const std::string out = d + "/stderr";
        pid_t pid = fork();
        if (pid < 0) {
            error_ = std::string("fork: ") + std::strerror(errno);
            return;
        }
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            int log = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (log >= 0) {
                dup2(log, 1);
                dup2(log, 2);
            }
            close_range(3, ~0U, 0);
            execl(nsd.c_str(), "nsd", "-d", "-c", conf.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        pids_.push_back(pid);
    }

    // Ready when each level answers a query for its zone.
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    for (std::size_t i = 0; i < levels.size(); ++i) {
        while (!Answers(levels[i].address, levels[i].zone, 100)) {
            int status;
            if (waitpid(pids_[i], &status, WNOHANG) == pids_[i]) {
                pids_[i] = 0;
                const std::string d = dir_ + "/" + std::to_string(i + 1);
                const std::string log = Slurp(d + "/stderr") + Slurp(d + "/nsd.log");
                unavailable_ = log.find("bind") != std::string::npos;
                error_ = "nsd for " + levels[i].zone + " on " + levels[i].address +
                         ":53 ended at start: " + log;
                return;
            }
            if (Clock::now() > deadline) {
                error_ = "nsd for " + levels[i].zone + " on " + levels[i].address +
                         " did not answer within 20 s";
                return;
            }
        }
    }
}

void NsdChain::Stop() {
    for (pid_t pid : pids_)
        if (pid > 0) kill(pid, SIGTERM);
    for (pid_t& pid : pids_) {
        if (pid <= 0) continue;
        int status;
        bool gone = false;
        for (int wait = 0; wait < 500 && !gone; ++wait) {
            gone = waitpid(pid, &status, WNOHANG) == pid;
            if (!gone) usleep(10000);
        }
        if (!gone) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        pid = 0;
    }
    pids_.clear();
    if (!dir_.empty()) {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
}

}  // namespace dnspeers
