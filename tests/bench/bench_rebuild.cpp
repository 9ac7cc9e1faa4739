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
#include "tests/support/temp_install.h"

namespace {

using namespace benchsupport;

using namespace dbbuild;
using namespace dbread;

constexpr std::size_t kListAddresses = 98304;
constexpr std::size_t kSites = 2048;  // 1024 entries in each of the two site lists
constexpr std::size_t kRawNames = 1000000;

std::uint64_t FileBytes(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

std::string Le32(std::uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
    return s;
}

// A level 3 list of kListAddresses addresses, every second one with a path item, and alias
// entries up to close to the largest list file; scrambled as it is stored.
std::string MakeList(bool approved, std::uint32_t seed) {
    ListContent list;
    list.level = 3;
    list.approved = approved;
    std::uint32_t x = seed;
    auto next = [&x] {
        x = x * 1664525u + 1013904223u;
        return x;
    };
    for (std::size_t i = 0; i < kListAddresses; ++i) {
        ListRecordData r;
        r.address = next() | 0x01000000u;
        if (i % 2 == 0) {
            r.items.push_back({static_cast<std::uint16_t>(1u << (i % 14)),
                               PathKeyForLevel(3, "page" + std::to_string(i % 4096) + ".html")});
        } else {
            r.categories = static_cast<std::uint16_t>(1u << (i % 14));
        }
        list.addresses.push_back(std::move(r));
    }
    std::vector<std::uint8_t> content;
    std::string why;
    // Alias entries of 8 aliases (37 bytes each) in the room the addresses leave.
    if (!EncodeListFile(list, content, why)) return {};
    for (std::size_t room = (kMaxListFileSize - 256 - content.size()) / 37, i = 0; i < room; ++i) {
        ListAliasData a;
        a.canonical = list.addresses[i * 7 % kListAddresses].address;
        for (int k = 0; k < 8; ++k) a.aliases.push_back(next() | 0x80000000u);
        list.aliases.push_back(std::move(a));
    }
    if (!EncodeListFile(list, content, why)) return {};
    sitelists::ScrambleSiteList(content);
    return std::string(content.begin(), content.end());
}

std::string SiteHost(std::size_t i) {
    return "site" + std::to_string(i) + ".example";
}

// The inputs of a rebuild in a fresh installation.
class RebuildInputs {
  public:
    explicit RebuildInputs(std::size_t sites)
        : install_(std::make_unique<testsupport::TempInstall>()) {
        const std::string yes = MakeList(true, 7), no = MakeList(false, 11);
        ok_ = !yes.empty() && !no.empty();
        listBytes_ = yes.size() + no.size();
        install_->writeFile(install_->file("VELDA.YES"), yes);
        install_->writeFile(install_->file("VELDA.NOT"), no);

        // The site entries, each host recorded in IPADDR.LST with one address.
        std::string cache;
        cache.reserve(kSites * resolve::kAddressRecordSize);
        for (std::size_t i = 0; i < sites; ++i) {
            const auto list =
                i < kSites / 2 ? sitelists::SiteList::kRestricted : sitelists::SiteList::kApproved;
            const int index = static_cast<int>(i % (kSites / 2));
            const std::uint32_t address = 0x0A000000u + static_cast<std::uint32_t>(i) + 1;
            ok_ = ok_ && sitelists::SetSiteName(list, index, SiteHost(i)) == 1;
            sitelists::SetSiteAddress(list, index, address);
            std::string record(resolve::kAddressRecordSize, '\0');
            record.replace(0, SiteHost(i).size(), SiteHost(i));
            record.replace(resolve::kRecordNameSize, 4, Le32(address));
            cache += record;
        }
        install_->writeFile(install_->file("IPADDR.LST"), cache);
        ok_ = ok_ && sitelists::SaveSiteList() == 1;

        // DNSRAW.NOT and DNSRAW.YES, half of the names each.
        for (int half = 0; half < 2; ++half) {
            std::string raw = Le32(kRawNames / 2);
            raw.reserve(kRawNames / 2 * 40);
            for (std::size_t i = 0; i < kRawNames / 2; ++i) {
                const std::size_t n = half * (kRawNames / 2) + i;
                const std::string name =
                    "host" + std::to_string(n) + ".domain" + std::to_string(n % 9973) + ".example";
                raw += static_cast<char>(name.size());
                raw += name;
                raw += Le32(0x0A000001u + static_cast<std::uint32_t>(n));
            }
            install_->writeFile(install_->file(half == 0 ? "DNSRAW.NOT" : "DNSRAW.YES"), raw);
        }
    }

    bool ok() const { return ok_; }
    std::size_t listBytes() const { return listBytes_; }
    const testsupport::TempInstall& install() const { return *install_; }

  private:
    std::unique_ptr<testsupport::TempInstall> install_;
    bool ok_ = false;
    std::size_t listBytes_ = 0;
};

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
