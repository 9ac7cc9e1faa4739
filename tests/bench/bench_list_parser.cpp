// Category list figures for a large list (N address records, every eighth with two path
// items, as a level 3 list): the check alone, LoadCategoryList (read, unscramble, check), and
// PutListAddresses into a database created with the build's parameters. An address table
// holds at most 98304 records, so the insert run uses 90000.
#include <benchmark/benchmark.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "dbbuild/list_parser.h"
#include "dbbuild/record_file.h"
#include "dbread/list_file.h"
#include "sitelists/site_list.h"
#include "tests/support/temp_install.h"

namespace {

using namespace dbbuild;
using namespace dbread;

std::vector<std::uint8_t> LargeList(std::size_t n) {
    std::mt19937 random(1);
    ListContent list;
    list.level = 3;
    for (std::size_t i = 0; i < n; ++i) {
        ListRecordData r{static_cast<std::uint32_t>(random()), 0, {}};
        if (i % 8 == 0) {
            r.items.push_back({0x0004, PathKeyForLevel(3, "ads")});
            r.items.push_back({0x0008, PathKeyForLevel(3, "img/banner")});
        } else {
            r.categories = static_cast<std::uint16_t>(1u << (i % 14));
        }
        list.addresses.push_back(std::move(r));
    }
    std::vector<std::uint8_t> content;
    std::string why;
    if (!EncodeListFile(list, content, why)) return {};
    return content;
}

void WriteScrambled(const std::string& path, std::vector<std::uint8_t> content) {
    sitelists::ScrambleSiteList(content);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()),
               static_cast<std::streamsize>(content.size()));
}

void Rates(benchmark::State& state, std::size_t records, std::size_t bytes) {
    state.counters["records/s"] = benchmark::Counter(static_cast<double>(records),
                                                     benchmark::Counter::kIsIterationInvariantRate);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void BM_CheckList(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    const auto content = LargeList(n);
    if (content.empty()) return state.SkipWithError("list too large");
    ListLayout layout;
    std::string why;
    for (auto _ : state)
        if (!ReadListLayout("VELDA.NOT", content, kBuildListKinds, layout, why))
            state.SkipWithError(why.c_str());
    Rates(state, n, content.size());
}
BENCHMARK(BM_CheckList)->Arg(100000)->Unit(benchmark::kMicrosecond);

void BM_LoadCategoryList(benchmark::State& state) {
    testsupport::TempInstall install;
    ResetListParser();
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    const auto content = LargeList(n);
    if (content.empty()) return state.SkipWithError("list too large");
    WriteScrambled(install.file("VELDA.NOT"), content);
    for (auto _ : state)
        if (LoadCategoryList("VELDA.NOT") != 1) state.SkipWithError("load failed");
    Rates(state, n, content.size());
    ResetListParser();
}
BENCHMARK(BM_LoadCategoryList)->Arg(100000)->Unit(benchmark::kMicrosecond);

// Load and insert every record into a fresh database (its creation is not timed).
void BM_PutListAddresses(benchmark::State& state) {
    testsupport::TempInstall install;
    ResetListParser();
    ResetRecordFile();
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    const auto content = LargeList(n);
    if (content.empty()) return state.SkipWithError("list too large");
    WriteScrambled(install.file("VELDA.NOT"), content);
    for (auto _ : state) {
        state.PauseTiming();
        const bool created = RdbCreate(install.file("BENCH.BIN"), kBuildPathDataSize,
                                       kBuildAddressCapacity, kBuildNameCapacity) == 1;
        state.ResumeTiming();
        if (!created || LoadCategoryList("VELDA.NOT") != 1 ||
            PutListAddresses(0, false) != static_cast<int>(n))
            state.SkipWithError("parse failed");
        state.PauseTiming();
        RdbClose();
        state.ResumeTiming();
    }
    Rates(state, n, content.size());
    ResetListParser();
}
BENCHMARK(BM_PutListAddresses)->Arg(90000)->Unit(benchmark::kMillisecond);

}  // namespace
