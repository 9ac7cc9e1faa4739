// What an idle console costs: the GUI thread waits in GetMessage for 10 seconds with the
// main window's one-minute timer pending, as the console does between ticks. Prints the
// share of one core used while waiting.

#include <benchmark/benchmark.h>

#include <thread>

#include "tests/bench/bench_support.h"
#include "ui/window.h"

namespace {

void BM_IdleMessageLoop(benchmark::State& state) {
    using namespace ui;
    ResetWindowLayer();
    WNDCLASS wc;
    wc.className = "IdleBench";
    wc.proc = DefWindowProc;
    RegisterClass(wc);
    HWND main = CreateWindowEx(0, "IdleBench", "idle", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, 0);
    SetTimer(main, 1, 60000);
    for (auto _ : state) {
        std::thread stopper([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(10000));
            PostQuitMessage(0);
        });
        double cpuBefore = benchsupport::ThreadCpuSeconds();
        auto wallBefore = std::chrono::steady_clock::now();
        MSG msg;
        while (GetMessage(msg)) DispatchMessage(msg);
        double cpu = benchsupport::ThreadCpuSeconds() - cpuBefore;
        double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        stopper.join();
        state.SetIterationTime(wall);
        state.counters["cpu_percent_of_a_core"] = 100.0 * cpu / wall;
        state.counters["wall_seconds"] = wall;
    }
    ResetWindowLayer();
}
BENCHMARK(BM_IdleMessageLoop)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
