// Throughput of a list transfer on loopback: a 20 MB file from veldana-update-server, fetched
// by the transfer engine (socket library, window message pumping, progress messages, file
// writes and the stamp), next to a plain POSIX client fetching the same bytes.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "resolve/socket_library.h"
#include "tests/support/http_peers.h"
#include "tests/support/temp_install.h"
#include "ui/headless.h"
#include "ui/window.h"
#include "update/http_transfer.h"
#include "update/transfer_status.h"

namespace {

constexpr std::size_t kFileSize = 20 * 1024 * 1024;

struct Served {
    testsupport::PeerDir dir;
    std::string path;
    testsupport::UpdateServerPeer server;
    bool ok = false;
    Served() {
        std::string content(kFileSize, '\0');
        for (std::size_t i = 0; i < content.size(); ++i)
            content[i] = static_cast<char>((i * 2654435761u) >> 24);
        path = dir.WriteFile("big.bin", content);
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
    update::ResetTransferStatus();
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

}  // namespace
