// Record file figures: creating a database with the build's parameters, inserting N
// addresses (every fourth with a two-item path block) and N names, building the indexes,
// and lookups in the finished indexes. An address table holds at most 98304 records and
// the name index at most 65535 names, so the large runs use those capacities.
// BM_FullCapacityBuild is a whole database build at the build's largest size, shown next
// to the time this machine takes to write a file of the same size sequentially.
#include <benchmark/benchmark.h>

#include "tests/bench/bench_support.h"
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dbbuild/record_file.h"
#include "dbread/record_reader.h"
#include "tests/support/temp_install.h"

namespace {

using namespace benchsupport;

using namespace dbbuild;
using namespace dbread;

std::vector<std::uint32_t> Addresses(std::size_t n) {
    std::mt19937 random(1);
    std::vector<std::uint32_t> out(n);
    for (auto& a : out) a = random();
    return out;
}

// Domain keys are stored with their labels reversed, so they end in the varying label.
std::string SiteName(std::size_t i) {
    return "com.site" + std::to_string(i);
}

std::vector<std::uint8_t> PathBlock() {
    std::vector<std::uint8_t> block;
    const std::uint8_t a[] = {'a', 'd', 's'}, b[] = {'i', 'm', 'g', '/', 'x'};
    AddPathItem(block, 0x0004, a);
    AddPathItem(block, 0x0008, b);
    return block;
}

std::uint32_t NameCapacity(std::size_t n) {
    return static_cast<std::uint32_t>(std::min<std::size_t>(n, kMaxNameCapacity));
}

// Fills an open file; false when an insert fails.
bool Fill(const std::vector<std::uint32_t>& addresses, std::size_t names) {
    const std::vector<std::uint8_t> block = PathBlock();
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        const std::span<const std::uint8_t> withBlock =
            i % 4 == 0 ? std::span<const std::uint8_t>(block) : std::span<const std::uint8_t>();
        if (RdbPutAddress(addresses[i], static_cast<std::uint16_t>(1u << (i % 14)), 0, withBlock) ==
            0)
            return false;
    }
    for (std::size_t i = 0; i < names; ++i)
        if (RdbPutName(SiteName(i), 0xFEFE, kFlagApprovedDomain) != 1) return false;
    return true;
}

void BM_Create(benchmark::State& state) {
    testsupport::TempInstall install;
    ResetRecordFile();
    for (auto _ : state) {
        if (RdbCreate(install.file("BENCH.BIN"), kBuildPathDataSize, kBuildAddressCapacity,
                      kBuildNameCapacity) != 1 ||
            RdbClose() != 1)
            state.SkipWithError("create failed");
    }
}
BENCHMARK(BM_Create)->Unit(benchmark::kMillisecond);

// Create, N address inserts, N name inserts, index build and close: one database build.
void BM_InsertAndBuild(benchmark::State& state) {
    testsupport::TempInstall install;
    ResetRecordFile();
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    const std::vector<std::uint32_t> addresses = Addresses(n);
    const std::size_t names = NameCapacity(n);
    for (auto _ : state) {
        const bool ok = RdbCreate(install.file("BENCH.BIN"), kBuildPathDataSize,
                                  kBuildAddressCapacity, NameCapacity(n)) == 1 &&
                        Fill(addresses, names) && RdbBuildIndexes(0, 0xFFFF) == 1;
        if (RdbClose() != 1 || !ok) state.SkipWithError("build failed");
    }
    state.counters["inserts/s"] = benchmark::Counter(static_cast<double>(n + names),
                                                     benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_InsertAndBuild)->Arg(10000)->Arg(98304)->Unit(benchmark::kMillisecond)->UseRealTime();

// The index build alone, over N addresses and N names already in the file.
void BM_BuildIndexes(benchmark::State& state) {
    testsupport::TempInstall install;
    ResetRecordFile();
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    if (RdbCreate(install.file("BENCH.BIN"), kBuildPathDataSize, kBuildAddressCapacity,
                  NameCapacity(n)) != 1 ||
        !Fill(Addresses(n), NameCapacity(n))) {
        state.SkipWithError("fill failed");
        return;
    }
    for (auto _ : state)
        if (RdbBuildIndexes(0, 0xFFFF) != 1) state.SkipWithError("build failed");
    RdbClose();
}
BENCHMARK(BM_BuildIndexes)->Arg(10000)->Arg(98304)->Unit(benchmark::kMillisecond)->UseRealTime();

// Adds the wall and CPU time since the last lap to the given sums.
struct Stopwatch {
    double wall = WallMs(), cpu = CpuMs();
    void Lap(double& wallSum, double& cpuSum) {
        const double w = WallMs(), c = CpuMs();
        wallSum += w - wall;
        cpuSum += c - cpu;
        wall = w;
        cpu = c;
    }
};

std::uint64_t FileBytes(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

// A database at full capacity, built with the build's parameters: 98304 addresses, every
// second one with a path block of four items, 10000 alias pairs of present addresses and
// 1000 names, then the indexes.
void BM_FullCapacityBuild(benchmark::State& state) {
    testsupport::TempInstall install;
    ResetRecordFile();
    const std::vector<std::uint32_t> addresses = Addresses(kMaxAddressCapacity);
    std::vector<std::vector<std::uint8_t>> blocks(16);
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        for (int item = 0; item < 4; ++item) {
            const std::string key = "dir" + std::to_string(b) + "/p" + std::to_string(item);
            AddPathItem(blocks[b], static_cast<std::uint16_t>(1u << item),
                        std::span(reinterpret_cast<const std::uint8_t*>(key.data()), key.size()));
        }
    }
    const std::string path = install.file("FULL.BIN");
    // Wall and process CPU milliseconds: create, address inserts, aliases and names, index
    // build, close; the machine may be shared, so CPU time is shown too.
    constexpr int kPhases = 5;
    double wall[kPhases] = {}, cpu[kPhases] = {};
    int runs = 0;
    for (auto _ : state) {
        // A build starts without a file of its temporary name (the last one was renamed).
        state.PauseTiming();
        std::remove(path.c_str());
        state.ResumeTiming();
        std::mt19937 random(2);
        Stopwatch watch;
        bool ok = RdbCreate(path, kBuildPathDataSize, kBuildAddressCapacity, kBuildNameCapacity) == 1;
        watch.Lap(wall[0], cpu[0]);
        for (std::size_t i = 0; ok && i < addresses.size(); ++i) {
            const std::span<const std::uint8_t> block =
                i % 2 == 0 ? std::span<const std::uint8_t>(blocks[i / 2 % blocks.size()])
                           : std::span<const std::uint8_t>();
            ok = RdbPutAddress(addresses[i], static_cast<std::uint16_t>(1u << (i % 14)), 0,
                               block) == 1;
        }
        watch.Lap(wall[1], cpu[1]);
        for (std::size_t i = 0; ok && i < 10000; ++i)
            ok = RdbAddAlias(addresses[i * 9], random() | 0x80000000u) == 1;
        for (std::size_t i = 0; ok && i < kBuildNameCapacity; ++i)
            ok = RdbPutName(SiteName(i), 0xFEFE, kFlagApprovedDomain) == 1;
        watch.Lap(wall[2], cpu[2]);
        ok = ok && RdbBuildIndexes(0, 0xFFFF) == 1;
        watch.Lap(wall[3], cpu[3]);
        ok = RdbClose() == 1 && ok;
        watch.Lap(wall[4], cpu[4]);
        ++runs;
        if (!ok) state.SkipWithError("build failed");
    }
    if (runs == 0) return;
    double buildWall = 0, buildCpu = 0;
    for (int p = 0; p < kPhases; ++p) {
        wall[p] /= runs;
        cpu[p] /= runs;
        buildWall += wall[p];
        buildCpu += cpu[p];
    }
    const std::uint64_t bytes = FileBytes(path);
    const Times seq = SequentialWrite(install.file("SEQ.BIN"), bytes);
    state.counters["file_MB"] = static_cast<double>(bytes) / 1e6;
    state.counters["build_ms"] = buildWall;
    state.counters["build_cpu_ms"] = buildCpu;
    state.counters["seq_write_ms"] = seq.wall;
    state.counters["ratio"] = seq.wall > 0 ? buildWall / seq.wall : 0;
    std::printf("full-capacity build of %.2f MB: %.1f ms (cpu %.1f ms) = create %.1f + addresses "
                "%.1f + aliases and names %.1f + indexes %.1f + close %.1f\n"
                "  sequential write of as many bytes: %.1f ms (cpu %.1f ms); ratio %.2f "
                "(cpu %.2f), target within 5\n",
                static_cast<double>(bytes) / 1e6, buildWall, buildCpu, wall[0], wall[1], wall[2],
                wall[3], wall[4], seq.wall, seq.cpu, seq.wall > 0 ? buildWall / seq.wall : 0,
                seq.cpu > 0 ? buildCpu / seq.cpu : 0);
}
BENCHMARK(BM_FullCapacityBuild)->Unit(benchmark::kMillisecond)->UseRealTime();

// Lookups in the built indexes of an N-address, N-name database, the way the filter makes
// them: addresses by bucket, names by binary search.
class Lookups : public benchmark::Fixture {
  public:
    void SetUp(const benchmark::State& state) override {
        install_ = std::make_unique<testsupport::TempInstall>();
        ResetRecordFile();
        const std::size_t n = static_cast<std::size_t>(state.range(0));
        addresses_ = Addresses(n);
        names_ = NameCapacity(n);
        const std::string path = install_->file("BENCH.BIN");
        std::string error;
        ready_ = RdbCreate(path, kBuildPathDataSize, kBuildAddressCapacity, names_) == 1 &&
                 Fill(addresses_, names_) && RdbBuildIndexes(0, 0xFFFF) == 1;
        ready_ = RdbClose() == 1 && ready_ && LoadFile(path, bytes_, error) &&
                 OpenImage(bytes_, image_, error);
    }
    void TearDown(const benchmark::State&) override {
        bytes_.clear();
        install_.reset();
    }

  protected:
    std::unique_ptr<testsupport::TempInstall> install_;
    std::vector<std::uint32_t> addresses_;
    std::size_t names_ = 0;
    std::vector<std::uint8_t> bytes_;
    DatabaseImage image_;
    bool ready_ = false;
};

BENCHMARK_DEFINE_F(Lookups, Address)(benchmark::State& state) {
    if (!ready_) return state.SkipWithError("setup failed");
    AddressEntry entry;
    std::string error;
    std::size_t i = 0, found = 0;
    for (auto _ : state) {
        // Every other lookup misses.
        const std::uint32_t a = addresses_[i % addresses_.size()] ^ (i & 1 ? 0x5A5A5A5Au : 0);
        found += FindAddress(image_, a, entry, error) == Lookup::kFound;
        ++i;
    }
    benchmark::DoNotOptimize(found);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK_REGISTER_F(Lookups, Address)->Arg(10000)->Arg(98304);

BENCHMARK_DEFINE_F(Lookups, Name)(benchmark::State& state) {
    if (!ready_) return state.SkipWithError("setup failed");
    std::vector<NameKey> keys;
    for (std::size_t i = 0; i < names_; ++i) keys.push_back(MakeNameKey(SiteName(i), 0));
    NameEntry entry;
    std::string error;
    std::size_t i = 0, found = 0;
    for (auto _ : state) {
        found += FindName(image_, keys[i % keys.size()].bytes, entry, error) == Lookup::kFound;
        ++i;
    }
    benchmark::DoNotOptimize(found);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK_REGISTER_F(Lookups, Name)->Arg(10000)->Arg(98304);

}  // namespace
