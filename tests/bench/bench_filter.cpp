// The filter's speed on full-capacity databases (98304 list addresses, half of them with
// path items, 2048 sites, 1,000,000 names in DNSHASH.DAT) that the console's rebuild made:
//  - BM_Decisions: whole decisions in process on one core (URL parsed, values found, the
//    administrator's entries and the list looked up) over a mix of list addresses with
//    their paths, names of the raw lists, their subdomains and unknown names;
//  - BM_NameLookups: the DNSHASH.DAT part alone, mapped against the same lookups made with
//    pread on the file;
//  - BM_HelperChannels: veldana-filter acl as Squid drives it, 16 channels kept busy over
//    its pipes.
// Targets: 500,000 decisions per second in process, 100,000 through the helper.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "dbread/text.h"
#include "filter/filter.h"
#include "platform/locations.h"
#include "policy/database_rebuild.h"
#include "policy/policy.h"
#include "tests/bench/bench_support.h"
#include "tests/bench/full_inputs.h"

namespace {

using namespace benchsupport;
using namespace fullinputs;

struct Installed {
    std::unique_ptr<RebuildInputs> inputs;
    std::vector<std::string> urls;     // the mix
    std::vector<std::string> known;    // the mix without unknown names (for the helper)
    bool ok = false;
};

Installed& Setup() {
    static Installed s = [] {
        Installed in;
        in.inputs = std::make_unique<RebuildInputs>(kSites);
        if (!in.inputs->ok() || policy::PublishValues() != 1 ||
            policy::RebuildDatabases(dbbuild::NoneDatabases::kBuilt) != 1)
            return in;
        // List addresses with the path of their item, read back from the database.
        std::vector<std::uint8_t> bytes;
        dbread::DatabaseImage image;
        std::string error;
        if (!dbread::LoadFile(in.inputs->install().file("VeldaNOT.BIN"), bytes, error) ||
            !dbread::OpenImage(bytes, image, error))
            return in;
        std::vector<std::string> listed;
        for (std::uint32_t e = 0; e < image.addressEntries && listed.size() < 50000; e += 2) {
            dbread::AddressEntry entry;
            if (!dbread::ReadAddressEntry(image, e, entry, error)) continue;
            listed.push_back("http://" + dbread::DottedAddress(entry.address) + "/page" +
                             std::to_string(e % 4096) + ".html");
        }
        std::uint32_t x = 12345;
        auto next = [&x] { return x = x * 1664525u + 1013904223u; };
        for (int i = 0; i < 200000; ++i) {
            const std::size_t n = next() % kRawNames;
            std::string url;
            switch (i % 5) {
                case 0:
                case 1: url = listed[next() % listed.size()]; break;
                case 2: url = "http://" + RawHost(n) + "/index.html"; break;
                case 3: url = "http://www.cdn" + std::to_string(i % 7) + "." + RawHost(n) + "/a/b.js"; break;
                default: url = "http://nohost" + std::to_string(n) + ".example.org/"; break;
            }
            if (i % 5 != 4) in.known.push_back(url);
            in.urls.push_back(std::move(url));
        }
        in.ok = true;
        return in;
    }();
    return s;
}

void BM_Decisions(benchmark::State& state) {
    Installed& in = Setup();
    if (!in.ok) return state.SkipWithError("the databases could not be built");
    filter::FilterOptions options;
    options.storePath = platform::RegistryStorePath();
    filter::Filter f(options);
    f.Refresh(true);
    if (!f.HasDatabases()) return state.SkipWithError(f.problem().c_str());
    std::tm at{};
    at.tm_wday = 1;
    at.tm_hour = 10;
    std::size_t i = 0, blocked = 0;
    const double cpu0 = ThreadCpuSeconds();
    for (auto _ : state) {
        filter::RequestTarget target;
        std::string error;
        filter::ParseRequestTarget(in.urls[i++ % in.urls.size()], target, error);
        const filter::Decision d = f.DecideAt(target, f.FindValues(target), at);
        blocked += d.verdict == filter::Verdict::kBlock;
    }
    const double cpu = ThreadCpuSeconds() - cpu0;
    const double rate = cpu > 0 ? static_cast<double>(state.iterations()) / cpu : 0;
    state.counters["decisions_per_cpu_s"] = rate;
    std::printf("decisions in process: %.0f per second of one core (%zu of %zu blocked); "
                "target 500000\n",
                rate, blocked, static_cast<std::size_t>(state.iterations()));
}
BENCHMARK(BM_Decisions)->Iterations(400000)->Unit(benchmark::kMicrosecond);

void BM_NameLookups(benchmark::State& state) {
    Installed& in = Setup();
    if (!in.ok) return state.SkipWithError("the databases could not be built");
    const bool mapped = state.range(0) == 1;
    filter::MappedFile file;
    dbread::DnsHashImage image;
    std::string error;
    const std::string path = in.inputs->install().file("DNSHASH.DAT");
    const bool opened = mapped ? file.Open(path, error) && dbread::OpenDnsHashBytes(file.bytes(), image, error)
                               : dbread::OpenDnsHashFile(path, image, error);
    if (!opened) return state.SkipWithError(error.c_str());
    filter::DatabaseSet set;
    set.dns = std::move(image);
    std::vector<filter::RequestTarget> targets;
    for (std::size_t i = 0; i < 100000; ++i) {
        filter::RequestTarget t;
        if (filter::ParseRequestTarget(in.urls[i], t, error) && !t.ipv4) targets.push_back(t);
    }
    std::size_t i = 0, found = 0;
    const double cpu0 = ThreadCpuSeconds(), wall0 = WallMs();
    for (auto _ : state) found += !filter::FindHostValues(set, targets[i++ % targets.size()]).values.empty();
    const double cpu = ThreadCpuSeconds() - cpu0, wall = (WallMs() - wall0) / 1e3;
    std::printf("DNSHASH.DAT lookups (host and parents), %s: %.0f per second (cpu %.0f), %zu of %zu found\n",
                mapped ? "mapped" : "pread ", static_cast<double>(state.iterations()) / wall,
                cpu > 0 ? static_cast<double>(state.iterations()) / cpu : 0, found,
                static_cast<std::size_t>(state.iterations()));
}
BENCHMARK(BM_NameLookups)->Arg(1)->Arg(0)->Iterations(300000)->Unit(benchmark::kMicrosecond);

void BM_HelperChannels(benchmark::State& state) {
    Installed& in = Setup();
    if (!in.ok) return state.SkipWithError("the databases could not be built");
    constexpr int kChannels = 16;
    for (auto _ : state) {
        int toChild[2], fromChild[2];
        if (pipe(toChild) != 0 || pipe(fromChild) != 0) return state.SkipWithError("pipe");
        const std::string program = testsupport::BuiltProgram("veldana-filter");
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(toChild[0], 0);
            dup2(fromChild[1], 1);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 2);
            close(toChild[1]);
            close(fromChild[0]);
            execl(program.c_str(), program.c_str(), "acl", "--at", "2026-12-07 10:00", nullptr);
            _exit(127);
        }
        close(toChild[0]);
        close(fromChild[1]);
        const std::size_t total = in.known.size();
        const double wall0 = WallMs();
        // Squid keeps each channel busy: a channel gets its next request when it has answered.
        std::size_t sent = 0, answered = 0;
        std::string pending;
        auto send = [&](int channel) {
            std::string line = std::to_string(channel) + " " + in.known[sent++] + " 10.0.0.9 GET -\n";
            if (write(toChild[1], line.data(), line.size()) != static_cast<ssize_t>(line.size())) sent = total;
        };
        for (int c = 0; c < kChannels && sent < total; ++c) send(c);
        char buffer[65536];
        while (answered < total) {
            const ssize_t n = read(fromChild[0], buffer, sizeof buffer);
            if (n <= 0) break;
            pending.append(buffer, static_cast<std::size_t>(n));
            std::size_t start = 0, nl;
            while ((nl = pending.find('\n', start)) != std::string::npos) {
                const int channel = std::atoi(pending.c_str() + start);
                ++answered;
                if (sent < total) send(channel);
                start = nl + 1;
            }
            pending.erase(0, start);
        }
        const double seconds = (WallMs() - wall0) / 1e3;
        close(toChild[1]);
        close(fromChild[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        const double rate = seconds > 0 ? static_cast<double>(answered) / seconds : 0;
        state.counters["answers_per_s"] = rate;
        std::printf("through the helper, %d channels: %zu answers in %.2f s, %.0f per second; "
                    "target 100000\n",
                    kChannels, answered, seconds, rate);
    }
}
BENCHMARK(BM_HelperChannels)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
