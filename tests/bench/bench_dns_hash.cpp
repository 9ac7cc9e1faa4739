// DNS resolving database figures: a whole build from a raw name list of N names (BuildDnsHash,
// with its raw name pass and its flush to disk), shown next to the time to write a file of
// DNSHASH.DAT's size sequentially, and lookups in the finished file
// the way the filter makes them, from the file and from memory, half of them for absent
// names.
#include <benchmark/benchmark.h>

#include "tests/bench/bench_support.h"
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "dbbuild/dns_hash.h"
#include "dbread/dns_hash_reader.h"
#include "resolve/resolvers.h"
#include "tests/support/temp_install.h"

namespace {

using namespace benchsupport;

using namespace dbbuild;
using namespace dbread;

std::string HostName(std::size_t i) {
    return "host" + std::to_string(i) + ".site" + std::to_string(i % 977) + ".example";
}

// DNSRAW.NOT holding N names.
void WriteRawList(const testsupport::TempInstall& install, std::size_t n) {
    std::string raw(4, '\0');
    for (std::size_t b = 0; b < 4; ++b) raw[b] = static_cast<char>(n >> (8 * b));
    for (std::size_t i = 0; i < n; ++i) {
        const std::string name = HostName(i);
        raw += static_cast<char>(name.size());
        raw += name;
        raw += std::string("\x0a\x00\x00\x01", 4);
    }
    install.writeFile(install.file("DNSRAW.NOT"), raw);
}

void BM_BuildFromRawList(benchmark::State& state) {
    testsupport::TempInstall install;
    const auto n = static_cast<std::size_t>(state.range(0));
    WriteRawList(install, n);
    const std::string path = install.file("DNSHASH.TMP");
    double wall = 0, cpu = 0;
    int runs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::remove(path.c_str());
        state.ResumeTiming();
        const double w = WallMs(), c = CpuMs();
        if (BuildDnsHash(path, resolve::LookupOrResolve) != 1) state.SkipWithError("build failed");
        wall += WallMs() - w;
        cpu += CpuMs() - c;
        ++runs;
    }
    state.counters["names/s"] =
        benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate);
    if (runs == 0) return;
    wall /= runs;
    cpu /= runs;
    struct stat st {};
    const std::uint64_t bytes = ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    const auto [seqWall, seqCpu] = SequentialWrite(install.file("SEQ.DAT"), bytes);
    state.counters["build_ms"] = wall;
    state.counters["build_cpu_ms"] = cpu;
    state.counters["seq_write_ms"] = seqWall;
    state.counters["ratio"] = seqWall > 0 ? wall / seqWall : 0;
    std::printf("DNSHASH.DAT from %zu raw names, %.1f MB: %.1f ms (cpu %.1f ms); sequential write "
                "of as many bytes %.1f ms (cpu %.1f ms); ratio %.2f (cpu %.2f)\n",
                n, static_cast<double>(bytes) / 1e6, wall, cpu, seqWall, seqCpu,
                seqWall > 0 ? wall / seqWall : 0, seqCpu > 0 ? cpu / seqCpu : 0);
}
BENCHMARK(BM_BuildFromRawList)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

class Lookups : public benchmark::Fixture {
  public:
    void SetUp(const benchmark::State& state) override {
        install_ = std::make_unique<testsupport::TempInstall>();
        n_ = static_cast<std::size_t>(state.range(0));
        WriteRawList(*install_, n_);
        const std::string path = install_->file("DNSHASH.DAT");
        std::string error;
        ready_ = BuildDnsHash(path, resolve::LookupOrResolve) == 1 && OpenDnsHashFile(path, file_, error);
        bytes_ = install_->readFile(path);
        ready_ = ready_ &&
                 OpenDnsHashBytes(
                     std::span(reinterpret_cast<const std::uint8_t*>(bytes_.data()), bytes_.size()),
                     memory_, error);
        names_.clear();
        for (std::size_t i = 0; i < 4096; ++i)
            names_.push_back(i % 2 ? HostName(i * 7919 % n_) : "absent" + HostName(i));
    }
    void TearDown(const benchmark::State&) override {
        file_ = DnsHashImage{};
        memory_ = DnsHashImage{};
        install_.reset();
    }

  protected:
    void Run(benchmark::State& state, const DnsHashImage& image) {
        if (!ready_) return state.SkipWithError("setup failed");
        DnsLookupResult result;
        std::string error;
        std::size_t i = 0, found = 0;
        for (auto _ : state) {
            LookupDnsName(image, names_[i++ % names_.size()], result, error);
            found += result.found;
        }
        benchmark::DoNotOptimize(found);
        state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    }

    std::unique_ptr<testsupport::TempInstall> install_;
    std::size_t n_ = 0;
    std::string bytes_;
    DnsHashImage file_, memory_;
    std::vector<std::string> names_;
    bool ready_ = false;
};

BENCHMARK_DEFINE_F(Lookups, FromFile)(benchmark::State& state) {
    Run(state, file_);
}
BENCHMARK_REGISTER_F(Lookups, FromFile)->Arg(100000);
BENCHMARK_DEFINE_F(Lookups, FromMemory)(benchmark::State& state) {
    Run(state, memory_);
}
BENCHMARK_REGISTER_F(Lookups, FromMemory)->Arg(100000);

}  // namespace
