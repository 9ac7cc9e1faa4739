// What a running console costs while it waits: the veldana program, started on a throw-away
// installation with nothing due, measured from /proc over a minute (VELDANA_IDLE_SECONDS
// changes that). Prints the share of one core its whole process used. Target: under 0.1 %.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "settings/settings_store.h"
#include "tests/support/temp_install.h"
#include "update/download_schedule.h"

namespace {

// User and system CPU seconds of a process so far.
double ProcessCpuSeconds(const std::string& pid) {
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream rest(text.substr(text.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stol(field);
        if (i == 15) stime = std::stol(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

void BM_RunningConsoleIdle(benchmark::State& state) {
    testsupport::TempInstall install;
    const std::string today = std::to_string(update::DayNumber());
    settings::WriteSetting(settings::kKeyNotDownloadDay, {}, today);
    settings::WriteSetting(settings::kKeyYesDownloadDay, {}, today);
    const char* env = std::getenv("VELDANA_IDLE_SECONDS");
    const int seconds = env ? std::atoi(env) : 60;
    const std::string veldana = testsupport::BuiltProgram("veldana");
    for (auto _ : state) {
        std::string pid;
        testsupport::RunCommand(veldana + " >/dev/null 2>&1 </dev/null & echo $!", &pid);
        pid.erase(pid.find_last_not_of('\n') + 1);
        // Past its start-up work: it listens.
        for (int i = 0; i < 500 && access(install.file("veldana.sock").c_str(), F_OK) != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const double cpuBefore = ProcessCpuSeconds(pid);
        const auto wallBefore = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const double cpu = ProcessCpuSeconds(pid) - cpuBefore;
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        testsupport::RunCommand(veldana + " /close");
        state.SetIterationTime(wall);
        state.counters["cpu_percent_of_a_core"] = 100.0 * cpu / wall;
        state.counters["wall_seconds"] = wall;
    }
}
BENCHMARK(BM_RunningConsoleIdle)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
