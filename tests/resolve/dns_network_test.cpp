// The DNS client against real servers on loopback: Debian's nsd as a referral chain, and
// small scripted responders for the replies a real server would not send. Each test has its
// own block of addresses, so that tests run side by side.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "resolve/dns_client.h"
#include "resolve/socket_library.h"
#include "settings/settings_store.h"
#include "tests/resolve/dns_peers.h"
#include "tests/support/temp_install.h"
#include "ui/dialog.h"
#include "ui/headless.h"
#include "ui/messages.h"
#include "ui/window.h"
#include "progress/transfer_status.h"

#ifndef VELDANA_DNS_NET
#define VELDANA_DNS_NET "127.53."
#endif

namespace {

using namespace resolve;
using dnspeers::Address;
using dnspeers::Bytes;
using dnspeers::DnsMessage;
using dnspeers::NsdChain;
using dnspeers::UdpResponder;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;
using ::testing::UnorderedElementsAreArray;
using Clock = std::chrono::steady_clock;

// The address `host` in the test's own block.
std::string At(int block, int host) {
    return VELDANA_DNS_NET + std::to_string(block) + "." + std::to_string(host);
}
std::string Block(int block) {
    return VELDANA_DNS_NET + std::to_string(block) + ".";
}

#define START_PEER(peer)                                          \
    do {                                                          \
        if ((peer).unavailable()) GTEST_SKIP() << (peer).error(); \
        ASSERT_TRUE((peer).ok()) << (peer).error();               \
    } while (0)

int EnvInt(const char* name, int fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::atoi(v) : fallback;
}

double CpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// A reply to the query carrying A answers.
UdpResponder::Script Answers(std::vector<std::string> addresses) {
    return [addresses](const Bytes& q) {
        DnsMessage m = DnsMessage::ReplyTo(q);
        for (const auto& a : addresses) m.A(DnsMessage::kAnswer, "www.veldana.test", a);
        return std::vector<Bytes>{m.Build()};
    };
}

// A referral: NS records for `servers` (name, address or "" for none) with their glue.
UdpResponder::Script Refers(std::vector<std::pair<std::string, std::string>> servers) {
    return [servers](const Bytes& q) {
        DnsMessage m = DnsMessage::ReplyTo(q);
        for (const auto& s : servers) m.Ns(DnsMessage::kAuthority, "veldana.test", s.first);
        for (const auto& s : servers)
            if (!s.second.empty()) m.A(DnsMessage::kAdditional, s.first, s.second);
        return std::vector<Bytes>{m.Build()};
    };
}

std::vector<std::uint16_t> Ids(const UdpResponder& r) {
    std::vector<std::uint16_t> ids;
    for (const Bytes& q : r.Queries()) ids.push_back(dnspeers::MessageId(q));
    return ids;
}

class DnsNetwork : public ::testing::Test {
  protected:
    void SetUp() override {
        ui::ResetWindowLayer();
        progress::ResetTransferStatus();
        ResetDnsClient();
        ASSERT_EQ(LoadSocketLibrary(), 1) << "the socket library must load in the build tree";
        ws::WSADATA data{};
        ASSERT_EQ(Sockets().WSAStartup(0x0101, &data), 0);
        started_ = true;
    }
    void TearDown() override {
        if (started_) Sockets().WSACleanup();
        UnloadSocketLibrary();
        ResetDnsClient();
        progress::ResetTransferStatus();
        ui::ResetWindowLayer();
    }

    // Sets QTXDNS1.. to `servers` (the rest empty) and loads the table as the resolvers do.
    void UseServers(std::vector<std::string> servers) {
        for (int n = 1; n <= kDnsServers; ++n) {
            std::string name = "QTXDNS" + std::to_string(n);
            std::string text = n <= static_cast<int>(servers.size()) ? servers[n - 1] : "";
            if (text.empty() && settings::ReadSetting(settings::kKeyDnsServers, name).empty())
                continue;
            ASSERT_EQ(settings::WriteSetting(settings::kKeyDnsServers, name, text), 1);
        }
        DnsClient().DnsServerCount = ReloadDnsServers();
    }

    // Looks `name` up; the addresses found, dotted.
    std::vector<std::string> Resolve(std::string_view name) {
        list = {};
        found = ResolveHost(name, list);
        std::vector<std::string> dotted;
        for (int i = 0; i < found; ++i) {
            auto o = reinterpret_cast<const std::uint8_t*>(&list[i]);
            dotted.push_back(std::to_string(o[0]) + "." + std::to_string(o[1]) + "." +
                             std::to_string(o[2]) + "." + std::to_string(o[3]));
        }
        EXPECT_EQ(list[static_cast<std::size_t>(std::max(found, 0))], 0u) << "ended by a 0 word";
        return dotted;
    }

    testsupport::TempInstall install;
    AddressList list{};
    int found = 0;

  private:
    bool started_ = false;
};

// ---------------------------------------------------------------- one server

using DnsWire = DnsNetwork;

TEST_F(DnsWire, TheQueryOnTheWireHasTheExactBytes) {
    UdpResponder server(At(10, 1), Answers({"10.1.2.3"}));
    START_PEER(server);
    UseServers({server.address()});
    EXPECT_THAT(Resolve("www.Veldana.test"), ElementsAre("10.1.2.3"));
    const std::string expected(
        "\x00\x01\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00"
        "\x03www\x07Veldana\x04test\x00"
        "\x00\x01\x00\x01",
        34);
    ASSERT_EQ(server.Queries().size(), 1u);
    EXPECT_EQ(server.Queries()[0], Bytes(expected.begin(), expected.end()));
}

using DnsCache = DnsNetwork;

TEST_F(DnsCache, AskingAgainInAnyLetterCaseSendsNothing) {
    UdpResponder server(At(11, 1), [](const Bytes& q) {
        DnsMessage m = DnsMessage::ReplyTo(q);
        // Only www.veldana.test has addresses (the question starts at byte 12).
        if (q.size() > 13 && q[13] == 'w') {
            m.A(DnsMessage::kAnswer, "www.veldana.test", "10.1.2.3");
            m.A(DnsMessage::kAnswer, "www.veldana.test", "10.1.2.4");
        }
        return std::vector<Bytes>{m.Build()};
    });
    START_PEER(server);
    UseServers({server.address()});

    EXPECT_THAT(Resolve("www.veldana.test"), ElementsAre("10.1.2.3", "10.1.2.4"));
    const std::uint16_t id = DnsClient().QueryId;
    EXPECT_THAT(Resolve("WWW.Veldana.TEST"), ElementsAre("10.1.2.3", "10.1.2.4"));
    EXPECT_EQ(found, 2);
    EXPECT_EQ(server.Queries().size(), 1u) << "the second lookup sent nothing";
    EXPECT_EQ(DnsClient().QueryId, id);

    // A name that finds nothing is cached too.
    EXPECT_THAT(Resolve("nothing.veldana.test"), ElementsAre());
    const std::size_t asked = server.Queries().size();
    EXPECT_THAT(Resolve("NOTHING.veldana.test"), ElementsAre());
    EXPECT_EQ(found, 0);
    EXPECT_EQ(server.Queries().size(), asked);
    // Another name goes to the network again.
    EXPECT_THAT(Resolve("www.veldana.test"), ElementsAre("10.1.2.3", "10.1.2.4"));
    EXPECT_GT(server.Queries().size(), asked);
}

using DnsWave = DnsNetwork;

TEST_F(DnsWave, AReplyWithAWrongIdEndsWaveOneButAddsNothing) {
    UdpResponder next(At(12, 2), Answers({"10.9.9.9"}));
    START_PEER(next);
    UdpResponder server(At(12, 1), [&](const Bytes& q) {
        Bytes wrong = DnsMessage::ReplyTo(q)
                          .A(DnsMessage::kAnswer, "www.veldana.test", "10.1.2.3")
                          .Ns(DnsMessage::kAuthority, "veldana.test", "ns.veldana.test")
                          .A(DnsMessage::kAdditional, "ns.veldana.test", next.address())
                          .Build();
        wrong[1] ^= 0x01;
        return std::vector<Bytes>{wrong};
    });
    START_PEER(server);
    UseServers({server.address()});

    const auto start = Clock::now();
    EXPECT_THAT(Resolve("www.veldana.test"), ElementsAre());
    // The wave's own limit is 45 s: a wait that did not end would take that long.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20)) << "the reply ended the wait";
    EXPECT_EQ(DnsClient().referralCount, 0);
    EXPECT_EQ(server.Queries().size(), 1u);
    EXPECT_TRUE(next.Queries().empty());
}

TEST_F(DnsWave, DuplicateAddressesGiveOneEntry) {
    UdpResponder server(At(13, 1), Answers({"10.1.2.3", "10.1.2.4", "10.1.2.3", "10.1.2.4"}));
    START_PEER(server);
    UseServers({server.address()});
    EXPECT_THAT(Resolve("www.veldana.test"), ElementsAre("10.1.2.3", "10.1.2.4"));
    EXPECT_EQ(found, 2);
}

// ---------------------------------------------------------------- referrals

using DnsReferral = DnsNetwork;

TEST_F(DnsReferral, TheNextWaveAsksExactlyTheServersWhoseAddressCame) {
    UdpResponder a(At(14, 2), Answers({"10.0.0.1"}));
    UdpResponder b(At(14, 3), Answers({"10.0.0.2"}));
    UdpResponder root(
        At(14, 1),
        Refers({{"a.ns.test", a.address()}, {"b.ns.test", b.address()}, {"c.ns.test", ""}}));
    START_PEER(a);
    START_PEER(b);
    START_PEER(root);
    UseServers({root.address()});

    EXPECT_THAT(Resolve("www.veldana.test"), UnorderedElementsAre("10.0.0.1", "10.0.0.2"));
    ASSERT_EQ(Ids(root).size(), 1u);
    const std::uint16_t first = Ids(root)[0];
    // Wave 2 asks a and b; both answered usefully, so wave 3 asks them again; their replies
    // teach nothing then, which retires them, and wave 4 finds nobody to ask.
    EXPECT_THAT(Ids(a), ElementsAre(first + 1, first + 2));
    EXPECT_THAT(Ids(b), ElementsAre(first + 1, first + 2));
    const auto& t = DnsClient().ReferralTable;
    ASSERT_EQ(DnsClient().referralCount, 3);
    EXPECT_EQ(t[0].name, "a.ns.test");
    EXPECT_EQ(t[0].address, Address(a.address()));
    EXPECT_EQ(t[0].answered, 1u);
    EXPECT_EQ(t[0].tries, kRetiredTries);
    EXPECT_EQ(t[2].name, "c.ns.test");
    EXPECT_EQ(t[2].address, 0u);
    EXPECT_EQ(t[2].tries, 0u) << "a server without an address is never asked";
    EXPECT_EQ(DnsClient().QueryId, first + 3);
}

// The reply a referred server sends decides what it adds and whether it is asked again: a
// rejected reply keeps what came before the fault and retires the server after one query; an
// additional address of an unknown owner teaches something every time, so the server is
// asked in every wave until it has had 32 queries.
Bytes WithId(Bytes body, const Bytes& q) {
    if (body.size() >= 2) {
        body[0] = q[0];
        body[1] = q[1];
    }
    return body;
}

// The query's question and, behind it, `records` raw answer bytes announced as `answers`.
Bytes RawAnswers(const Bytes& q, std::uint16_t answers, const Bytes& records) {
    Bytes r = DnsMessage::ReplyTo(q).Count(1, answers).Build();
    r.insert(r.end(), records.begin(), records.end());
    return r;
}

// TYPE A, CLASS IN, TTL, RDLENGTH 4, 10.6.6.6: the part of an A record behind its owner.
const Bytes kAFixedPart = {0, 1, 0, 1, 0, 0, 0x0e, 0x10, 0, 4, 10, 6, 6, 6};

TEST_F(DnsReferral, WhatAReferredServerRepliesDecidesWhetherItIsAskedAgain) {
    struct Case {
        const char* what;
        std::function<Bytes(const Bytes& q)> reply;
        std::vector<std::string> addresses;  // of the whole lookup, in any order
        std::size_t oddQueries;              // queries the odd server saw
        std::uint32_t answered;
    };
    const std::string label64(64, 'a');
    const Case cases[] = {
        {"empty datagram", [](const Bytes&) { return Bytes{}; }, {"10.0.0.2"}, 1, 0},
        {"header only, cut",
         [](const Bytes& q) {
             return WithId({0, 0, 0x84, 0}, q);
         },
         {"10.0.0.2"},
         1,
         0},
        {"pointer loop in the question",
         [](const Bytes& q) {
             return WithId({0, 0, 0x84, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0xC0, 12, 0, 1, 0, 1}, q);
         },
         {"10.0.0.2"},
         1,
         0},
        {"two questions",
         [](const Bytes& q) {
             return WithId({0, 0, 0x84, 0, 0, 2, 0, 0, 0, 0, 0, 0}, q);
         },
         {"10.0.0.2"},
         1,
         0},
        {"two questions, then an answer",
         [](const Bytes& q) {
             return DnsMessage::ReplyTo(q)
                 .Question("other.veldana.test")
                 .A(DnsMessage::kAnswer, "www.veldana.test", "10.6.6.6")
                 .Build();
         },
         {"10.0.0.2"},
         1,
         0},
        {"wrong ID",
         [](const Bytes& q) {
             Bytes r = DnsMessage::ReplyTo(q)
                           .A(DnsMessage::kAnswer, "www.veldana.test", "10.6.6.6")
                           .Build();
             r[1] ^= 0x80;
             return r;
         },
         {"10.0.0.2"},
         1,
         0},
        // A length byte of 64 is no label: the owner is rejected, and its address with it.
        {"owner with a label of 64 bytes",
         [&](const Bytes& q) {
             return DnsMessage::ReplyTo(q)
                 .A(DnsMessage::kAnswer, label64 + ".veldana.test", "10.6.6.6")
                 .Build();
         },
         {"10.0.0.2"},
         1,
         0},
        {"owner is a pointer to itself",
         [](const Bytes& q) {
             const std::size_t at = DnsMessage::ReplyTo(q).Build().size();
             Bytes owner = {static_cast<std::uint8_t>(0xC0 | at >> 8),
                            static_cast<std::uint8_t>(at & 0xff)};
             owner.insert(owner.end(), kAFixedPart.begin(), kAFixedPart.end());
             return RawAnswers(q, 1, owner);
         },
         {"10.0.0.2"},
         1,
         0},
        // The first answer is complete and stays taken; the second owner runs past the end.
        {"owner running past the end",
         [](const Bytes& q) {
             Bytes records = {3, 'w', 'w', 'w', 0};
             records.insert(records.end(), kAFixedPart.begin(), kAFixedPart.end());
             records.insert(records.end(), {20, 'w', 'w', 'w'});
             return RawAnswers(q, 2, records);
         },
         {"10.6.6.6", "10.0.0.2"},
         1,
         0},
        {"additional address of an unknown owner",
         [](const Bytes& q) {
             return DnsMessage::ReplyTo(q)
                 .A(DnsMessage::kAdditional, "elsewhere.test", "10.6.6.6")
                 .Build();
         },
         {"10.6.6.6", "10.0.0.2"},
         kRetiredTries,
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ResetDnsClient();
        UdpResponder odd(At(15, 2),
                         [&c](const Bytes& q) { return std::vector<Bytes>{c.reply(q)}; });
        UdpResponder good(At(15, 3), Answers({"10.0.0.2"}));
        UdpResponder root(
            At(15, 1), Refers({{"odd.ns.test", odd.address()}, {"good.ns.test", good.address()}}));
        START_PEER(odd);
        START_PEER(good);
        START_PEER(root);
        UseServers({root.address()});

        EXPECT_THAT(Resolve("www.veldana.test"), UnorderedElementsAreArray(c.addresses));
        EXPECT_EQ(odd.Queries().size(), c.oddQueries);
        EXPECT_EQ(good.Queries().size(), 2u) << "useful once, then retired";
        EXPECT_EQ(DnsClient().ReferralTable[0].tries, kRetiredTries);
        EXPECT_EQ(DnsClient().ReferralTable[0].answered, c.answered);
    }
}

// ---------------------------------------------------------------- the nsd chain

class DnsChain : public DnsNetwork {
  protected:
    static std::vector<std::string> Www() { return NsdChain::WwwAddresses(); }
};

TEST_F(DnsChain, ResolvesThroughTheReferralChainFromTheRoot) {
    NsdChain chain(Block(20));
    START_PEER(chain);
    UseServers({chain.RootServer()});
    EXPECT_THAT(Resolve("www.veldana.test"), UnorderedElementsAre(Www()[0], Www()[1]));
    const auto& t = DnsClient().ReferralTable;
    ASSERT_EQ(DnsClient().referralCount, 2);
    EXPECT_EQ(t[0].name, "ns.nic.test");
    EXPECT_EQ(t[0].address, Address(chain.TldServer()));
    EXPECT_EQ(t[1].name, "ns.veldana.test");
    EXPECT_EQ(t[1].address, Address(chain.ZoneServer()));
    EXPECT_EQ(t[1].answered, 1u);

    // A name the zone does not hold ends with nothing.
    EXPECT_THAT(Resolve("none.veldana.test"), ElementsAre());
}

TEST_F(DnsChain, AskingAgainInOtherLetterCaseNeedsNoServer) {
    std::optional<NsdChain> chain(std::in_place, Block(25));
    START_PEER(*chain);
    UseServers({chain->RootServer()});
    EXPECT_THAT(Resolve("www.veldana.test"), UnorderedElementsAre(Www()[0], Www()[1]));
    const std::uint16_t id = DnsClient().QueryId;

    // With the servers stopped only the cache can answer.
    chain.reset();
    EXPECT_THAT(Resolve("WWW.Veldana.TEST"), UnorderedElementsAre(Www()[0], Www()[1]));
    EXPECT_EQ(DnsClient().QueryId, id) << "no wave started";
    // Another name goes out and finds nobody.
    EXPECT_THAT(Resolve("ns.veldana.test"), ElementsAre());
    EXPECT_GT(DnsClient().QueryId, id);
}

TEST_F(DnsChain, ADeadConfiguredServerDoesNotStopTheLookup) {
    NsdChain chain(Block(21));
    START_PEER(chain);
    // Nothing listens on .9; "nameserver" is not an address and is skipped.
    UseServers({At(21, 9), "nameserver", chain.RootServer()});
    const auto start = Clock::now();
    EXPECT_THAT(Resolve("www.veldana.test"), UnorderedElementsAre(Www()[0], Www()[1]));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));

    // With only the dead server the lookup ends empty, and not after a full wave: its
    // refused query leaves the wave.
    ResetDnsClient();
    UseServers({At(21, 9)});
    const auto alone = Clock::now();
    EXPECT_THAT(Resolve("www.veldana.test"), ElementsAre());
    EXPECT_LT(Clock::now() - alone, std::chrono::seconds(20));
}

// The name server that referred in wave 2 is asked again in wave 3 beside the zone's own
// server, and its useless reply often comes first. The answer racing it must still count.
TEST_F(DnsChain, TheSameNameResolvesEveryTime) {
    NsdChain chain(Block(23));
    START_PEER(chain);
    UseServers({chain.RootServer()});
    DnsClient().waveGraceMs =
        static_cast<std::uint32_t>(EnvInt("VELDANA_DNS_GRACE_MS", kWaveGraceMs));
    const int runs = EnvInt("VELDANA_DNS_RUNS", 40);
    int resolved = 0;
    for (int i = 0; i < runs; ++i) {
        DnsClient().LastLookup = LastLookupEntry{};
        std::vector<std::string> got = Resolve("www.veldana.test");
        if (got.size() == 2) ++resolved;
        EXPECT_THAT(got, UnorderedElementsAre(Www()[0], Www()[1])) << "run " << i;
    }
    std::printf("resolved %d of %d runs (grace %u ms)\n", resolved, runs, DnsClient().waveGraceMs);
    EXPECT_EQ(resolved, runs);
}

// Records every text the progress window's status line shows.
class StatusRecorder : public ui::HeadlessDisplay {
  public:
    void WindowChanged(ui::HWND h) override {
        ui::HWND window = progress::TransferStatus().window;
        if (!window || h != ui::GetDlgItem(window, progress::kStatusTextId)) return;
        std::string text = ui::GetWindowText(h);
        if (texts.empty() || texts.back() != text) texts.push_back(text);
    }
    std::vector<std::string> texts;
};

TEST_F(DnsChain, ProgressTextsAppearInTheOpenProgressWindow) {
    NsdChain chain(Block(24));
    START_PEER(chain);
    StatusRecorder display;
    display.onStuck = [](const std::string& s) { FAIL() << "stuck:\n" << s; };
    UseServers({"nameserver", chain.RootServer()});

    // No window open: none is made.
    EXPECT_EQ(Resolve("www.veldana.test").size(), 2u);
    EXPECT_EQ(progress::TransferStatus().window, 0u);
    EXPECT_TRUE(display.texts.empty());

    progress::ShowTransferStatus(std::nullopt, progress::StatusLevel::kNew, {.cancel = false, .bar = false}, progress::StatusPaint::kLater);
    ASSERT_NE(progress::TransferStatus().window, 0u);
    DnsClient().LastLookup = LastLookupEntry{};
    EXPECT_EQ(Resolve("www.veldana.test").size(), 2u);
    const std::string root = chain.RootServer(), tld = chain.TldServer(), zone = chain.ZoneServer();
    EXPECT_THAT(display.texts,
                ElementsAre("Please Wait: Connecting to DNS Server #2: " + root,
                            "Please Wait: Connecting to secondary DNS Server #1: " + tld,
                            "Please Wait: Connecting to secondary DNS Server #2: " + zone));
    progress::CloseTransferStatus(progress::StatusClose::kAll);
    display.RunUntilIdle();
}

// ---------------------------------------------------------------- the grace

// A fixture for the race, with a fixed order: the referring server answers at once, the
// server holding the answer 50 ms later.
TEST_F(DnsWave, AnAnswerRacingAUselessReplyIsKept) {
    struct Case {
        std::uint32_t graceMs;
        std::vector<std::string> expected;
    } cases[] = {
        {kWaveGraceMs, {"10.9.8.7"}},
        {0, {}},  // without the grace the fixture loses the answer: it shows the fault
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("grace " + std::to_string(c.graceMs));
        ResetDnsClient();
        UdpResponder zone(At(30, 3), Answers({"10.9.8.7"}), 50);
        UdpResponder tld(
            At(30, 2), Refers({{"ns1.veldana.test", At(30, 2)}, {"ns2.veldana.test", At(30, 3)}}));
        UdpResponder root(At(30, 1), Refers({{"ns1.veldana.test", At(30, 2)}}));
        START_PEER(zone);
        START_PEER(tld);
        START_PEER(root);
        UseServers({root.address()});
        DnsClient().waveGraceMs = c.graceMs;
        EXPECT_EQ(Resolve("www.veldana.test"), c.expected);
        EXPECT_EQ(tld.Queries().size(), 2u);
    }
}

// ---------------------------------------------------------------- waiting

using DnsWait = DnsNetwork;

int ticksWhileBusy = 0;
void CountTick(ui::HWND, ui::UINT, ui::UINT, std::uint32_t) {
    if (DnsClient().busy) ++ticksWhileBusy;
}

TEST_F(DnsWait, ASilentServerCostsNoCpuAndTheWindowStaysResponsive) {
    UdpResponder silent(At(40, 1), dnspeers::Silent);
    START_PEER(silent);
    UseServers({silent.address()});
    DnsClient().waveTimeoutMs = 1500;
    ticksWhileBusy = 0;
    ui::UINT timer = ui::SetTimer(0, 0, 100, CountTick);

    const double cpuBefore = CpuSeconds();
    const auto start = Clock::now();
    EXPECT_THAT(Resolve("www.veldana.test"), ElementsAre());
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = CpuSeconds() - cpuBefore;
    ui::KillTimer(0, timer);

    EXPECT_EQ(silent.Queries().size(), 1u);
    EXPECT_GE(wall, 1.0) << "the wave waited for its silent server";
    EXPECT_LT(cpu, 0.25 * wall) << "cpu " << cpu << " s in " << wall << " s";
    EXPECT_GE(ticksWhileBusy, 3) << "timers ran while the wave waited";
}

}  // namespace
