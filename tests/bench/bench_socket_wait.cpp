// What a blocked socket call costs: recv waits 5 seconds on a silent loopback connection,
// inside the socket library's blocking loop (its sockets and the window layer's queue in
// one wait), until a window timer cancels it, as the transfer's inactivity timer does.
// Prints the share of one core used while waiting.
#include <benchmark/benchmark.h>

#include <chrono>

#include "resolve/socket_library.h"
#include "tests/bench/bench_support.h"
#include "tests/support/temp_install.h"
#include "ui/messages.h"
#include "ui/window.h"

namespace {

void Cancel(ui::HWND, ui::UINT, ui::UINT, std::uint32_t) {
    resolve::Sockets().WSACancelBlockingCall();
}

void BM_BlockedRecv(benchmark::State& state) {
    testsupport::TempInstall install;
    ui::ResetWindowLayer();
    if (!resolve::LoadSocketLibrary()) {
        state.SkipWithError("WSOCK32.DLL not found");
        return;
    }
    const auto& t = resolve::Sockets();
    ws::WSADATA data{};
    t.WSAStartup(0x0101, &data);

    ws::sockaddr_in where{};
    where.sin_family = ws::AF_INET;
    where.sin_addr.s_addr = t.htonl(ws::INADDR_LOOPBACK);
    ws::SOCKET listener = t.socket(ws::AF_INET, ws::SOCK_STREAM, 0);
    int len = sizeof where;
    t.bind(listener, reinterpret_cast<const ws::sockaddr*>(&where), sizeof where);
    t.getsockname(listener, reinterpret_cast<ws::sockaddr*>(&where), &len);
    t.listen(listener, 1);
    ws::SOCKET client = t.socket(ws::AF_INET, ws::SOCK_STREAM, 0);
    t.connect(client, reinterpret_cast<const ws::sockaddr*>(&where), sizeof where);
    ws::SOCKET server = t.accept(listener, nullptr, nullptr);

    for (auto _ : state) {
        ui::UINT timer = ui::SetTimer(0, 0, 5000, &Cancel);
        double cpuBefore = benchsupport::ThreadCpuSeconds();
        auto wallBefore = std::chrono::steady_clock::now();
        char buf[16];
        int n = t.recv(server, buf, sizeof buf, 0);
        double cpu = benchsupport::ThreadCpuSeconds() - cpuBefore;
        double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        ui::KillTimer(0, timer);
        if (n != ws::SOCKET_ERROR || t.WSAGetLastError() != ws::WSAEINTR)
            state.SkipWithError("recv was not cancelled");
        state.SetIterationTime(wall);
        state.counters["cpu_percent_of_a_core"] = 100.0 * cpu / wall;
        state.counters["wall_seconds"] = wall;
    }
    t.WSACleanup();
    resolve::ResetSocketLibrary();
    ui::ResetWindowLayer();
}
BENCHMARK(BM_BlockedRecv)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
