// DNS client figures: how fast replies are taken apart, what one lookup costs end to end
// through nsd serving a three-level referral chain on loopback (four waves: the root, the
// top-level server, both name servers of the zone, the zone's server once more), the time
// per name when many different names are resolved, and the CPU time a wave waiting on a
// silent server burns.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "resolve/dns_client.h"
#include "resolve/socket_library.h"
#include "settings/settings_store.h"
#include "tests/resolve/dns_peers.h"
#include "tests/support/temp_install.h"

namespace {

using Clock = std::chrono::steady_clock;
using dnspeers::Bytes;
using dnspeers::DnsMessage;

// The zone server's answer as nsd sends it: two A answers, the NS record, its glue, names
// compressed.
Bytes AnswerReply() {
    const char hex[] =
        "100285000001000200010001037777770776656c64616e6104746573740000010001c00c000100010000"
        "0e1000040a010203c00c0001000100000e1000040a010204c0100002000100000e100005026e73c010c0"
        "4e0001000100000e1000047f350003";
    Bytes b;
    for (std::size_t i = 0; hex[i] && hex[i + 1]; i += 2)
        b.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex + i, 2), nullptr, 16)));
    return b;
}

// A referral to 13 servers with their glue, uncompressed (the larger kind of reply).
Bytes WideReferral() {
    DnsMessage m(0x1002);
    m.Question("www.veldana.test");
    for (char c = 'a'; c < 'a' + 13; ++c)
        m.Ns(DnsMessage::kAuthority, "test", std::string(1, c) + ".nic.test");
    for (char c = 'a'; c < 'a' + 13; ++c)
        m.A(DnsMessage::kAdditional, std::string(1, c) + ".nic.test",
            "127.53.0." + std::to_string(c - 'a' + 1));
    return m.Build();
}

void ParseOne(benchmark::State& state, const Bytes& reply) {
    resolve::ResetDnsClient();
    resolve::AddressList list{};
    for (auto _ : state) {
        list = {};
        int count = 0;
        resolve::DnsClient().referralCount = 0;
        benchmark::DoNotOptimize(resolve::ParseDnsReply(reply, 0x1002, list, count));
        benchmark::DoNotOptimize(count);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * reply.size()));
    state.SetItemsProcessed(state.iterations());
    resolve::ResetDnsClient();
}

void BM_ParseDnsReply_Answer(benchmark::State& state) {
    ParseOne(state, AnswerReply());
}
BENCHMARK(BM_ParseDnsReply_Answer);

void BM_ParseDnsReply_WideReferral(benchmark::State& state) {
    ParseOne(state, WideReferral());
}
BENCHMARK(BM_ParseDnsReply_WideReferral);

void BM_LookupThroughNsdChain(benchmark::State& state) {
    testsupport::TempInstall install;
    dnspeers::NsdChain chain("127.53.250.");
    if (!chain.ok()) {
        state.SkipWithError(chain.error().c_str());
        return;
    }
    if (!resolve::LoadSocketLibrary()) {
        state.SkipWithError("the socket library did not load");
        return;
    }
    ws::WSADATA data{};
    resolve::Sockets().WSAStartup(0x0101, &data);
    settings::WriteSetting(settings::kKeyDnsServers, "QTXDNS1", chain.RootServer());
    resolve::ResetDnsClient();
    resolve::DnsClient().DnsServerCount = resolve::ReloadDnsServers();
    int failures = 0;
    for (auto _ : state) {
        resolve::DnsClient().LastLookup = resolve::LastLookupEntry{};
        resolve::AddressList list{};
        if (resolve::ResolveHost("www.veldana.test", list) != 2) ++failures;
    }
    state.counters["failed_lookups"] = failures;
    resolve::Sockets().WSACleanup();
    resolve::UnloadSocketLibrary();
    resolve::ResetDnsClient();
}
BENCHMARK(BM_LookupThroughNsdChain)->Unit(benchmark::kMillisecond);

// Loads and starts the socket library and makes `server` the only configured DNS server;
// false (with the benchmark skipped) when that fails.
bool StartClient(benchmark::State& state, const std::string& server) {
    if (!resolve::LoadSocketLibrary()) {
        state.SkipWithError("the socket library did not load");
        return false;
    }
    ws::WSADATA data{};
    resolve::Sockets().WSAStartup(0x0101, &data);
    settings::WriteSetting(settings::kKeyDnsServers, "QTXDNS1", server);
    resolve::ResetDnsClient();
    resolve::DnsClient().DnsServerCount = resolve::ReloadDnsServers();
    return true;
}

void StopClient() {
    resolve::Sockets().WSACleanup();
    resolve::UnloadSocketLibrary();
    resolve::ResetDnsClient();
}

double CpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

constexpr int kManyNames = 2048;

std::string ManyName(int i) {
    return "host" + std::to_string(i) + ".veldana.test";
}
std::string ManyAddress(int i) {
    return "10.20." + std::to_string(i >> 8) + "." + std::to_string(i & 0xff);
}

// 2,048 different names, each resolved once from the root: every lookup misses the cache
// and walks the whole chain.
void BM_ManyNamesThroughNsdChain(benchmark::State& state) {
    testsupport::TempInstall install;
    std::string zone;
    for (int i = 0; i < kManyNames; ++i)
        zone += "host" + std::to_string(i) + " IN A " + ManyAddress(i) + "\n";
    dnspeers::NsdChain chain("127.53.252.", zone);
    if (!chain.ok()) {
        state.SkipWithError(chain.error().c_str());
        return;
    }
    if (!StartClient(state, chain.RootServer())) return;
    std::vector<std::string> names;
    std::vector<std::uint32_t> expected;
    for (int i = 0; i < kManyNames; ++i) {
        names.push_back(ManyName(i));
        expected.push_back(dnspeers::Address(ManyAddress(i)));
    }
    int failures = 0;
    double seconds = 0;
    for (auto _ : state) {
        resolve::DnsClient().LastLookup = resolve::LastLookupEntry{};
        const auto start = Clock::now();
        for (int i = 0; i < kManyNames; ++i) {
            resolve::AddressList list{};
            if (resolve::ResolveHost(names[i], list) != 1 || list[0] != expected[i]) ++failures;
        }
        seconds += std::chrono::duration<double>(Clock::now() - start).count();
    }
    const double perName = seconds / (static_cast<double>(state.iterations()) * kManyNames);
    state.SetItemsProcessed(state.iterations() * kManyNames);
    state.counters["ms_per_name"] = perName * 1e3;
    state.counters["failed_lookups"] = failures;
    std::printf("%d names through the nsd chain: %.3f ms per name, %d failed\n", kManyNames,
                perName * 1e3, failures);
    StopClient();
}
BENCHMARK(BM_ManyNamesThroughNsdChain)->Iterations(1)->Unit(benchmark::kMillisecond);

// One wave waiting on the only configured server, which never answers: the wave lasts its
// full time, and the process's CPU time over it shows whether the wait spins.
void BM_SilentServerWave(benchmark::State& state) {
    testsupport::TempInstall install;
    dnspeers::UdpResponder silent("127.53.253.1", dnspeers::Silent);
    if (!silent.ok()) {
        state.SkipWithError(silent.error().c_str());
        return;
    }
    if (!StartClient(state, silent.address())) return;
    resolve::DnsClient().waveTimeoutMs = 2000;
    double cpu = 0, wall = 0;
    int found = 0;
    for (auto _ : state) {
        resolve::DnsClient().LastLookup = resolve::LastLookupEntry{};
        resolve::AddressList list{};
        const double cpuBefore = CpuSeconds();
        const auto start = Clock::now();
        found += resolve::ResolveHost("www.veldana.test", list);
        wall += std::chrono::duration<double>(Clock::now() - start).count();
        cpu += CpuSeconds() - cpuBefore;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["wave_cpu_ms"] = cpu / n * 1e3;
    state.counters["wave_wall_ms"] = wall / n * 1e3;
    state.counters["addresses"] = found;
    std::printf("silent server, %u ms wave: %.1f ms CPU in %.1f ms wall, %zu queries seen\n",
                resolve::DnsClient().waveTimeoutMs, cpu / n * 1e3, wall / n * 1e3,
                silent.Queries().size());
    StopClient();
}
BENCHMARK(BM_SilentServerWave)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
