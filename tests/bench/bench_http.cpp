// Throughput of a list transfer on loopback.
//
// BM_EngineVsCurl fetches a 1 MB and a 100 MB body from veldana-update-server through
// RunTransfer as the list update does it: the progress window is open, and an owner window
// handles every WM_TRANSFER_PROGRESS as the main window does (formats the progress text and
// calls ShowTransferStatus, which sets the text, draws the bar and repaints the window).
// Each iteration also fetches the same file from the same server with Debian's curl
// (`curl -s -o FILE http://127.0.0.1:PORT/filedown/N`, with -w to learn its time_total); the
// two run alternately so that both see the same machine. Printed are the medians of the wall
// times and their ratio (engine / curl, the target being 1.10), the ratio against curl's own
// time_total (which leaves out curl's start-up), and the CPU time each side used.
//
// BM_EngineTransfer and BM_PlainPosixClient compare the bare engine (an owner window that
// ignores the progress messages) with a plain POSIX client on a 20 MB body.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "resolve/socket_library.h"
#include "shell/main_window.h"
#include "tests/support/http_peers.h"
#include "tests/support/temp_install.h"
#include "ui/headless.h"
#include "ui/window.h"
#include "update/http_transfer.h"
#include "progress/transfer_status.h"

namespace {

constexpr std::size_t kFileSize = 20 * 1024 * 1024;

std::string Content(std::size_t size) {
    std::string content(size, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>((i * 2654435761u) >> 24);
    return content;
}

struct Served {
    testsupport::PeerDir dir;
    std::string path;
    testsupport::UpdateServerPeer server;
    bool ok = false;
    explicit Served(std::size_t size = kFileSize) {
        path = dir.WriteFile("big.bin", Content(size));
        ok = server.Start({{"43", path, "BIG.NOT"}});
    }
};

void BM_EngineTransfer(benchmark::State& state) {
    Served served;
    testsupport::TempInstall install;
    ui::ResetWindowLayer();
    ui::HeadlessDisplay display;
    if (!served.ok || !resolve::LoadSocketLibrary()) {
        state.SkipWithError("no update server or socket library");
        return;
    }
    ws::WSADATA data{};
    resolve::Sockets().WSAStartup(0x0101, &data);
    ui::RegisterClass(ui::WNDCLASS{"BenchOwner", ui::DefWindowProc});
    update::TransferRequest request;
    request.owner =
        ui::CreateWindowEx(0, "BenchOwner", "owner", ui::WS_OVERLAPPED, 0, 0, 10, 10, 0);
    request.serverHost = "127.0.0.1";
    request.downloadNumber = "43";
    request.version = "4.50.005";
    update::HttpTransfer().downloadFileName = "NONE.NOT";  // nothing installed: always received
    for (auto _ : state) {
        std::filesystem::remove(install.file("BIG.NOT"));
        request.localPath = install.programDir() + "/";
        if (update::RunTransfer(request, served.server.port()) != update::kTransferReceived) {
            state.SkipWithError("transfer failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileSize));
    resolve::Sockets().WSACleanup();
    resolve::UnloadSocketLibrary();
    update::ResetHttpTransfer();
    progress::ResetTransferStatus();
    ui::ResetWindowLayer();
}
BENCHMARK(BM_EngineTransfer)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_PlainPosixClient(benchmark::State& state) {
    Served served;
    if (!served.ok) {
        state.SkipWithError("no update server");
        return;
    }
    std::string request = "GET /filedown/43 HTTP/1.0\r\n\r\n";
    std::string buffer(65536, '\0');
    for (auto _ : state) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(served.server.port()));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::send(fd, request.data(), request.size(), 0);
        std::size_t total = 0;
        ssize_t n;
        while ((n = ::recv(fd, buffer.data(), buffer.size(), 0)) > 0)
            total += static_cast<std::size_t>(n);
        ::close(fd);
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileSize));
}
BENCHMARK(BM_PlainPosixClient)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// --- the engine as the list update runs it, next to curl

long g_progressMessages = 0;

// What the main window does with WM_TRANSFER_PROGRESS.
ui::LRESULT ProgressOwnerProc(ui::HWND hwnd, ui::UINT message, ui::WPARAM wParam,
                              ui::LPARAM lParam) {
    if (message != update::WM_TRANSFER_PROGRESS)
        return ui::DefWindowProc(hwnd, message, wParam, lParam);
    ++g_progressMessages;
    const std::string& name = update::HttpTransfer().downloadFileName;
    if (name.empty()) return 0;
    int done = 100 - static_cast<int>(wParam);
    auto& status = progress::TransferStatus();
    status.percentage = done;
    progress::ShowTransferStatus(shell::ProgressText(name, done, static_cast<long>(lParam)),
                                 status.window == 0 ? progress::StatusLevel::kNew
                                                    : progress::StatusLevel::kSame);
    return 0;
}

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// CPU time (user + system) of this process, or of its waited-for children.
double CpuSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void BM_EngineVsCurl(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    Served served(size);
    testsupport::TempInstall install;
    ui::ResetWindowLayer();
    ui::HeadlessDisplay display;
    if (!served.ok || !resolve::LoadSocketLibrary()) {
        state.SkipWithError("no update server or socket library");
        return;
    }
    if (testsupport::RunCommand("command -v curl >/dev/null") != 0) {
        state.SkipWithError("curl is not installed (scripts/setup installs it)");
        return;
    }
    ws::WSADATA data{};
    resolve::Sockets().WSAStartup(0x0101, &data);
    ui::RegisterClass(ui::WNDCLASS{"BenchProgressOwner", ProgressOwnerProc});
    update::TransferRequest request;
    request.owner =
        ui::CreateWindowEx(0, "BenchProgressOwner", "owner", ui::WS_OVERLAPPED, 0, 0, 10, 10, 0);
    request.serverHost = "127.0.0.1";
    request.downloadNumber = "43";
    request.version = "4.50.005";
    update::HttpTransfer().downloadFileName = "NONE.NOT";  // nothing installed: always received

    // The progress window as FetchListFile opens it.
    auto& status = progress::TransferStatus();
    status.TransferCancelRequested = false;
    status.percentage = 0;
    progress::ShowTransferStatus(std::nullopt, progress::StatusLevel::kNew);
    progress::ShowTransferStatus("\r\nDownloading file from Velda Central\r\n(127.0.0.1)", progress::StatusLevel::kSame);

    const std::string curlFile = install.root() + "/curl.out";
    // curl's own figure (time_total: connect to last byte, without its start-up) is printed
    // too; the ratio is taken against the whole curl run, as a person would time it.
    const std::string curl = "exec curl -s -w '%{time_total}' -o '" + curlFile +
                             "' http://127.0.0.1:" + std::to_string(served.server.port()) +
                             "/filedown/43";
    std::vector<double> engineTimes, curlTimes, curlTotals, engineCpu, curlCpu;
    long messages = 0;
    for (auto _ : state) {
        std::filesystem::remove(install.file("BIG.NOT"));
        std::filesystem::remove(curlFile);
        request.localPath = install.programDir() + "/";
        g_progressMessages = 0;
        double cpu = CpuSeconds(RUSAGE_SELF);
        auto start = std::chrono::steady_clock::now();
        update::TransferOutcome outcome = update::RunTransfer(request, served.server.port());
        double engine = Seconds(std::chrono::steady_clock::now() - start);
        engineCpu.push_back(CpuSeconds(RUSAGE_SELF) - cpu);
        messages = g_progressMessages;
        if (outcome != update::kTransferReceived ||
            std::filesystem::file_size(install.file("BIG.NOT")) != size) {
            state.SkipWithError("transfer failed");
            break;
        }
        start = std::chrono::steady_clock::now();
        std::string reported;
        cpu = CpuSeconds(RUSAGE_CHILDREN);
        int rc = testsupport::RunCommand(curl, &reported);
        double theirs = Seconds(std::chrono::steady_clock::now() - start);
        curlCpu.push_back(CpuSeconds(RUSAGE_CHILDREN) - cpu);
        if (rc != 0 || std::filesystem::file_size(curlFile) != size) {
            state.SkipWithError("curl failed");
            break;
        }
        state.SetIterationTime(engine);
        engineTimes.push_back(engine);
        curlTimes.push_back(theirs);
        curlTotals.push_back(std::strtod(reported.c_str(), nullptr));
    }
    progress::CloseTransferStatus(progress::StatusClose::kAll);

    double engine = Median(engineTimes), theirs = Median(curlTimes), total = Median(curlTotals);
    if (!engineTimes.empty()) {
        state.counters["engine_ms"] = engine * 1000;
        state.counters["curl_ms"] = theirs * 1000;
        state.counters["ratio"] = theirs > 0 ? engine / theirs : 0;
        state.counters["curl_total_ms"] = total * 1000;
        state.counters["engine_cpu_ms"] = Median(engineCpu) * 1000;
        state.counters["curl_cpu_ms"] = Median(curlCpu) * 1000;
        state.counters["progress_msgs"] = static_cast<double>(messages);
        std::fprintf(stderr,
                     "engine vs curl, %zu bytes, %zu runs: engine %.2f ms, curl %.2f ms "
                     "(its time_total %.2f ms), ratio %.2fx (target 1.10x; %.2fx against "
                     "time_total); CPU: engine %.2f ms, curl %.2f ms\n",
                     size, engineTimes.size(), engine * 1000, theirs * 1000, total * 1000,
                     theirs > 0 ? engine / theirs : 0.0, total > 0 ? engine / total : 0.0,
                     Median(engineCpu) * 1000, Median(curlCpu) * 1000);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
    resolve::Sockets().WSACleanup();
    resolve::UnloadSocketLibrary();
    update::ResetHttpTransfer();
    progress::ResetTransferStatus();
    ui::ResetWindowLayer();
}
BENCHMARK(BM_EngineVsCurl)
    ->Arg(1000 * 1000)
    ->Arg(100 * 1000 * 1000)
    ->ArgName("bytes")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->UseManualTime();

}  // namespace
