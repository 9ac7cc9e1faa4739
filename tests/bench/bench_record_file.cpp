// Record file figures: creating a database with the build's parameters, inserting N
// addresses (every fourth with a two-item path block) and N names, building the indexes,
// and lookups in the finished indexes. An address table holds at most 98304 records and
// the name index at most 65535 names, so the large runs use those capacities.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dbbuild/record_file.h"
#include "dbbuild/record_reader.h"
#include "tests/support/temp_install.h"

namespace {

using namespace dbbuild;

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
