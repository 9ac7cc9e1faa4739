// DNS client figures: how fast replies are taken apart, and what one lookup costs end to
// end through nsd serving a three-level referral chain on loopback (four waves: the root,
// the top-level server, both name servers of the zone, the zone's server once more).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "resolve/dns_client.h"
#include "resolve/socket_library.h"
#include "settings/settings_store.h"
#include "tests/resolve/dns_peers.h"
#include "tests/support/temp_install.h"

namespace {

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

}  // namespace
