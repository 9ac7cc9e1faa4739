// A whole database rebuild at the largest inputs the formats allow: VELDA.NOT and VELDA.YES
// of close to 1 MB with 98304 addresses (every second one with a path item) and alias
// entries, 2048 site entries answered from IPADDR.LST, and raw name lists of 1,000,000 names
// in all (also without the site entries). BM_Rebuild times policy::RebuildDatabases(dbbuild::NoneDatabases::kBuilt) as a
// whole, seven times, and shows the median; BM_RebuildSteps takes the
// same steps one by one (the four databases, then DNSHASH.DAT) and shows each next to the
// time this machine takes to write the bytes that step leaves on disk sequentially.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dbbuild/database_build.h"
#include "dbbuild/dns_hash.h"
#include "dbread/list_file.h"
#include "policy/database_rebuild.h"
#include "resolve/resolvers.h"
#include "settings/file_catalogue.h"
#include "sitelists/site_list.h"
#include "tests/bench/bench_support.h"
#include "tests/bench/full_inputs.h"
#include "tests/support/temp_install.h"

namespace {

using namespace benchsupport;
using namespace fullinputs;

using namespace dbbuild;
using namespace dbread;

const char* const kOutputs[] = {"NoneNOT.BIN", "NoneYES.BIN", "VeldaNOT.BIN", "VeldaYES.BIN",
                                "DNSHASH.DAT"};

void BM_Rebuild(benchmark::State& state) {
    RebuildInputs inputs(static_cast<std::size_t>(state.range(0)));
    if (!inputs.ok()) return state.SkipWithError("inputs could not be made");
    std::vector<double> wall, cpu;
    for (auto _ : state) {
        const double w = WallMs(), c = CpuMs();
        if (policy::RebuildDatabases(dbbuild::NoneDatabases::kBuilt) != 1) state.SkipWithError("rebuild failed");
        wall.push_back(WallMs() - w);
        cpu.push_back(CpuMs() - c);
    }
    if (wall.empty()) return;
    const double first = wall.front();
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const Times total{median(wall), median(cpu)};
    std::uint64_t bytes = 0;
    for (const char* name : kOutputs) bytes += FileBytes(inputs.install().file(name));
    const std::string seqPath = inputs.install().file("SEQ.BIN");
    const Times seq = SequentialWrite(seqPath, bytes);
    // Every database and DNSHASH.DAT is flushed to disk before it is renamed into place: the
    // floor is each file's bytes written and flushed on their own.
    double seqFlushed = 0;
    for (const char* name : kOutputs)
        seqFlushed += SequentialWrite(seqPath, FileBytes(inputs.install().file(name)), true).wall;
    state.counters["MB_written"] = static_cast<double>(bytes) / 1e6;
    state.counters["rebuild_ms"] = total.wall;
    state.counters["rebuild_cpu_ms"] = total.cpu;
    state.counters["seq_write_ms"] = seq.wall;
    state.counters["ratio"] = seq.wall > 0 ? total.wall / seq.wall : 0;
    state.counters["flushed_floor_ms"] = seqFlushed;
    state.counters["ratio_flushed"] = seqFlushed > 0 ? total.wall / seqFlushed : 0;
    std::printf(
        "whole rebuild (lists %.2f MB, %zu sites): median of %zu runs %.1f ms (min %.1f, "
        "max %.1f, first %.1f; cpu %.1f ms), %.1f MB written; sequential write of as many "
        "bytes %.1f ms (cpu %.1f ms); ratio %.2f (cpu %.2f); targets: under 1000 ms, "
        "within 5\n",
        static_cast<double>(inputs.listBytes()) / 1e6, static_cast<std::size_t>(state.range(0)),
        wall.size(), total.wall, *std::min_element(wall.begin(), wall.end()),
        *std::max_element(wall.begin(), wall.end()), first, total.cpu,
        static_cast<double>(bytes) / 1e6, seq.wall, seq.cpu,
        seq.wall > 0 ? total.wall / seq.wall : 0, seq.cpu > 0 ? total.cpu / seq.cpu : 0);
    std::printf(
        "  the same files written and each flushed to disk, as the rebuild flushes them: "
        "%.1f ms; ratio %.2f (target: within 2)\n",
        seqFlushed, seqFlushed > 0 ? total.wall / seqFlushed : 0);
}
// With the 2048 site entries, and without them to show the rest of the rebuild on its own.
BENCHMARK(BM_Rebuild)
    ->Arg(kSites)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(7);

// The rebuild's steps one by one, as RebuildDatabases(dbbuild::NoneDatabases::kBuilt) and its publishing take them.
void BM_RebuildSteps(benchmark::State& state) {
    RebuildInputs inputs(static_cast<std::size_t>(state.range(0)));
    if (!inputs.ok()) return state.SkipWithError("inputs could not be made");
    constexpr int kSteps = 5;
    Times step[kSteps];
    int runs = 0;
    const std::string dnsTemp = inputs.install().file("DNSHASH.TMP");
    std::printf("rebuild steps, %zu sites:\n", static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        const int ids[] = {settings::kFileNoneNotBin, settings::kFileNoneYesBin,
                           settings::kFileVeldaNotBin, settings::kFileVeldaYesBin};
        for (int s = 0; s < kSteps; ++s) {
            const double w = WallMs(), c = CpuMs();
            if (s == 4) std::remove(dnsTemp.c_str());  // the rebuild starts without one
            const int ok = s < 4 ? BuildDatabase(ids[s], 65535, resolve::LookupOrResolve)
                               : BuildDnsHash(dnsTemp, resolve::LookupOrResolve);
            step[s].wall += WallMs() - w;
            step[s].cpu += CpuMs() - c;
            if (ok != 1) state.SkipWithError("a step failed");
        }
        ++runs;
    }
    if (runs == 0) return;
    Times total, totalSeq;
    std::uint64_t totalBytes = 0;
    for (int s = 0; s < kSteps; ++s) {
        step[s].wall /= runs;
        step[s].cpu /= runs;
        const std::string out =
            inputs.install().file(s < 4 ? std::string(kOutputs[s]) : std::string("DNSHASH.TMP"));
        const std::uint64_t bytes = FileBytes(out);
        const Times seq = SequentialWrite(inputs.install().file("SEQ.BIN"), bytes);
        std::printf(
            "  %-12s %6.1f ms (cpu %6.1f ms) for %6.2f MB; sequential write %5.1f ms "
            "(cpu %5.1f ms); ratio %5.2f (cpu %5.2f)\n",
            kOutputs[s], step[s].wall, step[s].cpu, static_cast<double>(bytes) / 1e6, seq.wall,
            seq.cpu, seq.wall > 0 ? step[s].wall / seq.wall : 0,
            seq.cpu > 0 ? step[s].cpu / seq.cpu : 0);
        total.wall += step[s].wall;
        total.cpu += step[s].cpu;
        totalSeq.wall += seq.wall;
        totalSeq.cpu += seq.cpu;
        totalBytes += bytes;
        state.counters[std::string(kOutputs[s]) + "_ms"] = step[s].wall;
    }
    std::printf(
        "  %-12s %6.1f ms (cpu %6.1f ms) for %6.2f MB; sequential write %5.1f ms "
        "(cpu %5.1f ms); ratio %5.2f (cpu %5.2f)\n",
        "all steps", total.wall, total.cpu, static_cast<double>(totalBytes) / 1e6, totalSeq.wall,
        totalSeq.cpu, totalSeq.wall > 0 ? total.wall / totalSeq.wall : 0,
        totalSeq.cpu > 0 ? total.cpu / totalSeq.cpu : 0);
    state.counters["total_ms"] = total.wall;
    state.counters["seq_write_ms"] = totalSeq.wall;
}
BENCHMARK(BM_RebuildSteps)
    ->Arg(kSites)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace
