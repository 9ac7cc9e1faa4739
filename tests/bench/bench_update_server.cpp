// veldana-update-server under load, beside nginx serving the same 1 MB list from the same
// machine: wrk at 50, 500 and 2,000 connections, one request per connection as consoles make
// them, then the same while 500 clients trickle request heads that never end.
// Printed side by side: requests per second and the 99th percentile latency.
// Target: within 1.5 times nginx at every level, and the slow clients changing nothing.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/support/http_peers.h"
#include "tests/support/temp_install.h"

namespace {

using namespace testsupport;

struct Load {
    double requestsPerSecond = 0;
    double p99Ms = 0;
    std::string errors;  // wrk's socket error and non-2xx lines, when it printed any
};

double Milliseconds(const std::string& text) {
    double value = std::atof(text.c_str());
    if (text.find("us") != std::string::npos) return value / 1000;
    if (text.find("ms") != std::string::npos) return value;
    if (text.find('s') != std::string::npos) return value * 1000;
    return value;
}

Load RunWrk(int port, int connections, int seconds) {
    std::string out, err;
    RunCommand("wrk -t2 -c" + std::to_string(connections) + " -d" + std::to_string(seconds) +
                   "s --latency -H 'Connection: close' http://127.0.0.1:" + std::to_string(port) +
                   "/filedown/43",
               &out, &err);
    Load load;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string first, second;
        words >> first >> second;
        if (first == "Requests/sec:") load.requestsPerSecond = std::atof(second.c_str());
        if (first == "99%") load.p99Ms = Milliseconds(second);
        if (first == "Socket" || first == "Non-2xx") load.errors += " [" + line.substr(line.find_first_not_of(' ')) + "]";
    }
    if (load.requestsPerSecond == 0) load.errors += " [wrk: " + err + "]";
    return load;
}

// Keeps `count` connections open that send "GET /filedown/43 HTTP/1.0\r\nX-Slow: " and then a
// byte a second, opening a new one whenever the server drops one.
class SlowHeads {
  public:
    SlowHeads(int port, int count) : port_(port), fds_(static_cast<std::size_t>(count), -1) {
        thread_ = std::thread([this] {
            while (!stop_) {
                for (int& fd : fds_) {
                    if (fd >= 0 && ::send(fd, "a", 1, MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
                        errno != EAGAIN) {
                        ::close(fd);
                        fd = -1;
                    }
                    if (fd < 0) fd = Open();
                }
                for (int i = 0; i < 10 && !stop_; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
    }
    ~SlowHeads() {
        stop_ = true;
        thread_.join();
        for (int fd : fds_)
            if (fd >= 0) ::close(fd);
    }

  private:
    int Open() {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port_));
        a.sin_addr.s_addr = htonl(0x7F000002);  // 127.0.0.2: another address than wrk's
        sockaddr_in source = a;
        source.sin_port = 0;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) {
            ::close(fd);
            return -1;
        }
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(fd);
            return -1;
        }
        ::send(fd, "GET /filedown/43 HTTP/1.0\r\nX-Slow: ", 35, MSG_NOSIGNAL);
        return fd;
    }

    int port_;
    std::vector<int> fds_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void Print(const char* what, const Load& ours, const Load& nginx) {
    double ratio = ours.requestsPerSecond > 0 ? nginx.requestsPerSecond / ours.requestsPerSecond : 0;
    std::printf("%-34s %9.0f req/s  p99 %8.1f ms   | nginx %9.0f req/s  p99 %8.1f ms   | "
                "nginx/ours %.2f%s%s\n",
                what, ours.requestsPerSecond, ours.p99Ms, nginx.requestsPerSecond, nginx.p99Ms, ratio,
                ours.errors.empty() ? "" : ("  ours:" + ours.errors).c_str(),
                nginx.errors.empty() ? "" : ("  nginx:" + nginx.errors).c_str());
    std::fflush(stdout);
}

void BM_UpdateServerAgainstNginx(benchmark::State& state) {
    if (std::system("command -v wrk >/dev/null") != 0) return state.SkipWithError("wrk is not installed");
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 65536);
    setrlimit(RLIMIT_NOFILE, &limit);

    PeerDir dir;
    std::string list;
    for (int i = 0; list.size() < (1 << 20); ++i) list += "entry " + std::to_string(i) + "\n";
    list.resize(1 << 20);
    std::string path = dir.WriteFile("VELDA.NOT", list);
    const std::vector<ContractFile> files = {{"43", path, "VELDA.NOT"}};

    UpdateServerPeer ours;
    if (!ours.Start(files, {"--max-connections", "10000", "--max-per-address", "10000"}))
        return state.SkipWithError("veldana-update-server did not start");
    NginxPeer nginx;
    if (!nginx.Start(files, NginxTuning{2, 10000, 10}))
        return state.SkipWithError("nginx did not start");
    const int seconds = 5;
    for (auto _ : state) {
        std::printf("1 MB list, one request per connection, wrk -t2 for %d s per figure\n", seconds);
        for (int connections : {50, 500, 2000}) {
            Load a = RunWrk(ours.port(), connections, seconds);
            Load b = RunWrk(nginx.port(), connections, seconds);
            Print((std::to_string(connections) + " connections").c_str(), a, b);
            state.counters["rps_" + std::to_string(connections)] = a.requestsPerSecond;
        }
        // The same while 500 clients from another address hold heads open, a byte a second.
        auto underSlowHeads = [&](int port, int connections) {
            SlowHeads slow(port, 500);
            std::this_thread::sleep_for(std::chrono::seconds(1));
            return RunWrk(port, connections, seconds);
        };
        for (int connections : {50, 500, 2000}) {
            Load a = underSlowHeads(ours.port(), connections);
            Load b = underSlowHeads(nginx.port(), connections);
            Print((std::to_string(connections) + " + 500 slow heads").c_str(), a, b);
            state.counters["rps_slow_" + std::to_string(connections)] = a.requestsPerSecond;
        }
    }
}
BENCHMARK(BM_UpdateServerAgainstNginx)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
