// The DNS client's message handling without the network: addresses, the query, names,
// replies, and the server settings.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "resolve/dns_client.h"
#include "settings/settings_store.h"
#include "tests/resolve/dns_peers.h"
#include "tests/support/temp_install.h"

namespace {

using namespace resolve;
using dnspeers::Address;
using dnspeers::Bytes;
using dnspeers::DnsMessage;

Bytes FromString(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// ---------------------------------------------------------------- dotted addresses

struct QuadCase {
    const char* text;
    int result;
    std::array<std::uint8_t, 4> octets;
};

TEST(DnsDottedQuad, ParsesTheLeadingAddressOnly) {
    const QuadCase cases[] = {
        {"10.0.0.1", 1, {10, 0, 0, 1}},
        {"198.41.0.4", 1, {198, 41, 0, 4}},
        {" 1. 2.  3.   4", 1, {1, 2, 3, 4}},  // blanks before each number
        {"255.255.255.255", 1, {255, 255, 255, 255}},
        {"010.001.0.00", 1, {10, 1, 0, 0}},
        {"10.0.0.1.", 1, {10, 0, 0, 1}},  // text behind the fourth number is ignored
        {"10.0.0.1x", 1, {10, 0, 0, 1}},
        {"10.0.0.1 and more", 1, {10, 0, 0, 1}},
        {"10.0.0.1234", 0, {}},  // 1234 > 255
        {"256.1.1.1", 0, {}},
        {"1.2.3.99999999999", 0, {}},  // no overflow into a small number
        {"1..2.3", 0, {}},             // empty number
        {".1.2.3", 0, {}},
        {"1.2.3.", 0, {}},
        {"1.2.3", 0, {}},
        {"1.2.3 .4", 0, {}},   // blanks only before numbers
        {"\t1.2.3.4", 0, {}},  // spaces only
        {"", 0, {}},
        {"www.veldana.test", 0, {}},
        {"-1.2.3.4", 0, {}},
    };
    for (const auto& c : cases) {
        std::array<std::uint8_t, 4> octets{9, 9, 9, 9};
        EXPECT_EQ(ParseDottedQuad(c.text, octets), c.result) << '"' << c.text << '"';
        if (c.result) {
            EXPECT_EQ(octets, c.octets) << c.text;
        } else {
            EXPECT_EQ(octets, (std::array<std::uint8_t, 4>{9, 9, 9, 9})) << "untouched: " << c.text;
        }
    }
}

// ---------------------------------------------------------------- the query

TEST(DnsQuery, HasTheExactBytesOfAnAQuestionWithRecursionDesired) {
    const std::string expected(
        "\x12\x34\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00"
        "\x03www\x07veldana\x04test\x00"
        "\x00\x01\x00\x01",
        12 + 18 + 4);
    EXPECT_EQ(BuildDnsQuery("www.veldana.test", 0x1234), expected);
}

TEST(DnsQuery, LabelsStopAtTheFirstEmptyOneAndLongNamesAreRefused) {
    const std::string l63(63, 'a'), l64(64, 'b');
    const std::string n127 = std::string(63, 'x') + "." + std::string(63, 'y');  // 127
    struct Case {
        std::string name;
        std::string qname;  // empty: refused
    } cases[] = {
        {"a..b", std::string("\x01"
                             "a\x00",
                             3)},
        {".a", std::string("\x00", 1)},
        {"a.", std::string("\x01"
                           "a\x00",
                           3)},
        {"A.b.", std::string("\x01"
                             "A\x01"
                             "b\x00",
                             5)},  // letter case kept
        {"", std::string("\x00", 1)},
        {l63 + ".c", "\x3f" + l63 +
                         std::string("\x01"
                                     "c\x00",
                                     3)},
        {l64 + ".c", ""},
        {"c." + l64, ""},
        {"c.." + l64, std::string("\x01"
                                  "c\x00",
                                  3)},  // the long label is never reached
        {n127, "\x3f" + std::string(63, 'x') + "\x3f" + std::string(63, 'y') + '\0'},
        {n127 + "z", ""},  // 128 characters
    };
    for (const auto& c : cases) {
        std::string q = BuildDnsQuery(c.name, 7);
        if (c.qname.empty()) {
            EXPECT_TRUE(q.empty()) << c.name;
            continue;
        }
        ASSERT_EQ(q.size(), 12 + c.qname.size() + 4) << c.name;
        EXPECT_EQ(q.substr(12, c.qname.size()), c.qname) << c.name;
        EXPECT_EQ(q.substr(12 + c.qname.size()), std::string("\x00\x01\x00\x01", 4)) << c.name;
    }
}

TEST(DnsQuery, ARefusedNameSendsNothingAndLeavesTheCache) {
    ResetDnsClient();
    auto& st = DnsClient();
    st.LastLookup.name = "cached.example";
    st.LastLookup.count = 1;
    st.LastLookup.addresses[0] = Address("10.0.0.9");
    AddressList list{};
    EXPECT_EQ(ResolveHost(std::string(64, 'q') + ".example", list), 0);
    EXPECT_EQ(ResolveHost(std::string(128, 'q'), list), 0);
    EXPECT_EQ(st.QueryId, 0) << "no wave started";
    EXPECT_EQ(list, AddressList{});
    EXPECT_EQ(st.LastLookup.name, "cached.example");

    // The cache answers whatever the letter case, without a wave.
    EXPECT_EQ(ResolveHost("CACHED.Example", list), 1);
    EXPECT_EQ(list[0], Address("10.0.0.9"));
    EXPECT_EQ(st.QueryId, 0);
    ResetDnsClient();
}

// ---------------------------------------------------------------- names

struct NameCase {
    const char* what;
    Bytes reply;
    std::size_t position;
    int end;  // -1: rejected
    std::string name;
};

// A chain of `pointers` pointers, each to the next, ending in the name "a".
Bytes PointerChain(int pointers) {
    Bytes b;
    for (int i = 0; i < pointers; ++i) {
        const int next = 2 * (i + 1);
        b.push_back(static_cast<std::uint8_t>(0xC0 | next >> 8));
        b.push_back(static_cast<std::uint8_t>(next & 0xff));
    }
    b.insert(b.end(), {1, 'a', 0});
    return b;
}

Bytes Labels(std::initializer_list<int> lengths) {
    Bytes b;
    for (int n : lengths) {
        b.push_back(static_cast<std::uint8_t>(n));
        b.insert(b.end(), static_cast<std::size_t>(n), 'n');
    }
    b.push_back(0);
    return b;
}

std::string Dotted(std::initializer_list<int> lengths) {
    std::string s;
    for (int n : lengths)
        s += (s.empty() ? "" : ".") + std::string(static_cast<std::size_t>(n), 'n');
    return s;
}

TEST(DnsName, DecodesWithinTheDatagramAndRejectsWhatWouldRunAway) {
    // "foo" at 0, "www" + pointer to it at 5.
    const Bytes compressed = {3, 'f', 'o', 'o', 0, 3, 'w', 'w', 'w', 0xC0, 0x00};
    Bytes label64 = {64};
    label64.insert(label64.end(), 64, 'a');
    label64.push_back(0);
    Bytes label63 = {63};
    label63.insert(label63.end(), 63, 'a');
    label63.push_back(0);
    // 255 characters through a pointer: 63 + 63 + 63 + 63 + three dots.
    Bytes viaPointer = Labels({63, 63});
    const std::size_t tail = viaPointer.size();
    viaPointer.insert(viaPointer.end(), {63});
    viaPointer.insert(viaPointer.end(), 63, 'm');
    viaPointer.insert(viaPointer.end(), {63});
    viaPointer.insert(viaPointer.end(), 63, 'm');
    viaPointer.insert(viaPointer.end(), {1, 'z', 0xC0, 0x00});  // +2 characters: 257

    const NameCase cases[] = {
        {"plain",
         {3, 'w', 'w', 'w', 7, 'v', 'e', 'l', 'd', 'a', 'n', 'a', 0},
         0,
         13,
         "www.veldana"},
        {"root", {0}, 0, 1, ""},
        {"from a position", {9, 9, 1, 'x', 0}, 2, 5, "x"},
        {"pointer: ends behind it", compressed, 5, 11, "www.foo"},
        {"only a pointer", compressed, 9, 11, "foo"},
        {"pointer to itself", {0xC0, 0x00}, 0, -1, ""},
        {"two pointers in a ring", {0xC0, 0x02, 0xC0, 0x00}, 0, -1, ""},
        {"16 pointers are followed", PointerChain(16), 0, 2, "a"},
        {"17 pointers are not", PointerChain(17), 0, -1, ""},
        {"pointer outside the datagram", {1, 'a', 0xC0, 0x40}, 0, -1, ""},
        {"pointer to the very end", {1, 'a', 0xC0, 0x04}, 0, -1, ""},
        {"pointer cut in half", {1, 'a', 0xC0}, 0, -1, ""},
        {"label past the end", {5, 'a', 'b'}, 0, -1, ""},
        {"no terminating byte", {1, 'a'}, 0, -1, ""},
        {"position outside", {0}, 1, -1, ""},
        {"label of 63", label63, 0, 65, std::string(63, 'a')},
        // 0x40 is no label length: it is taken as a pointer (to 0x61 here, outside).
        {"label of 64", label64, 0, -1, ""},
        {"255 characters", Labels({63, 63, 63, 63}), 0, 257, Dotted({63, 63, 63, 63})},
        {"257 characters", Labels({63, 63, 63, 63, 1}), 0, -1, ""},
        {"over 255 through a pointer", viaPointer, tail, -1, ""},
        {"ten short labels", Labels({1, 1, 1, 1, 1, 1, 1, 1, 1, 1}), 0, 21,
         Dotted({1, 1, 1, 1, 1, 1, 1, 1, 1, 1})},
    };
    for (const auto& c : cases) {
        // An exact-size copy: a read past the datagram shows under the sanitizers.
        Bytes exact = c.reply;
        std::string out = "stale";
        EXPECT_EQ(DecodeDnsName(exact, c.position, out), c.end) << c.what;
        if (c.end >= 0) {
            EXPECT_EQ(out, c.name) << c.what;
        }
    }
}

// ---------------------------------------------------------------- replies

class DnsReply : public ::testing::Test {
  protected:
    void SetUp() override { ResetDnsClient(); }
    void TearDown() override { ResetDnsClient(); }

    int Parse(const Bytes& reply, std::uint16_t id = 0x4242) {
        return ParseDnsReply(reply, id, list, count);
    }
    static DnsMessage Reply() {
        DnsMessage m(0x4242);
        m.Question("www.veldana.test");
        return m;
    }
    std::vector<std::string> ReferralNames() const {
        std::vector<std::string> names;
        for (int i = 0; i < DnsClient().referralCount; ++i)
            names.push_back(DnsClient().ReferralTable[i].name);
        return names;
    }

    AddressList list{};
    int count = 0;
};

TEST_F(DnsReply, AnswersAddEachAddressOnce) {
    Bytes reply = Reply()
                      .A(DnsMessage::kAnswer, "www.veldana.test", "10.1.2.3")
                      .A(DnsMessage::kAnswer, "www.veldana.test", "10.1.2.3")
                      .A(DnsMessage::kAnswer, "other.owner", "10.1.2.4")  // owner not compared
                      .A(DnsMessage::kAnswer, "www.veldana.test", "0.0.0.0")
                      .Record(DnsMessage::kAnswer, "www.veldana.test", 5,
                              dnspeers::EncodeName("alias.example"))  // CNAME: not followed
                      .Record(DnsMessage::kAnswer, "www.veldana.test", 28, Bytes(16, 1))
                      .Record(DnsMessage::kAnswer, "www.veldana.test", 1, Bytes{1, 2, 3, 4, 5})
                      .Build();
    EXPECT_EQ(Parse(reply), 1);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(list[0], Address("10.1.2.3"));
    EXPECT_EQ(list[1], Address("10.1.2.4"));
    EXPECT_EQ(list[2], 0u);
    // The same reply again teaches nothing.
    EXPECT_EQ(Parse(reply), 0);
    EXPECT_EQ(count, 2);
}

TEST_F(DnsReply, AReferralFillsTheReferralTable) {
    Bytes reply = Reply()
                      .Ns(DnsMessage::kAuthority, "veldana.test", "a.ns.example")
                      .Ns(DnsMessage::kAuthority, "veldana.test", "B.ns.example")
                      .Ns(DnsMessage::kAuthority, "veldana.test", "A.NS.example")  // known
                      .Ns(DnsMessage::kAuthority, "veldana.test", "c.ns.example")
                      .A(DnsMessage::kAuthority, "a.ns.example", "10.0.0.99")  // not an NS
                      .A(DnsMessage::kAdditional, "a.ns.example", "127.53.9.2")
                      .A(DnsMessage::kAdditional, "b.NS.EXAMPLE", "127.53.9.3")
                      .Build();
    EXPECT_EQ(Parse(reply), 1);
    EXPECT_EQ(ReferralNames(),
              (std::vector<std::string>{"a.ns.example", "B.ns.example", "c.ns.example"}));
    const auto& t = DnsClient().ReferralTable;
    EXPECT_EQ(t[0].address, Address("127.53.9.2"));
    EXPECT_EQ(t[1].address, Address("127.53.9.3"));
    EXPECT_EQ(t[2].address, 0u) << "no address came with it";
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(t[i].answered, 0u);
        EXPECT_EQ(t[i].tries, 0u);
    }
    EXPECT_EQ(count, 0) << "glue is no answer";
    // The same referral again teaches nothing: a server sending it would be retired.
    EXPECT_EQ(Parse(reply), 0);
    EXPECT_EQ(DnsClient().referralCount, 3);
}

TEST_F(DnsReply, AnAdditionalAddressOfAnotherOwnerGoesToTheList) {
    Bytes reply = Reply()
                      .Ns(DnsMessage::kAuthority, "veldana.test", "ns.veldana.test")
                      .A(DnsMessage::kAdditional, "ns.veldana.test", "127.53.9.3")
                      .A(DnsMessage::kAdditional, "www.veldana.test", "10.7.7.7")
                      .A(DnsMessage::kAdditional, "www.veldana.test", "0.0.0.0")
                      .Build();
    EXPECT_EQ(Parse(reply), 1);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(list[0], Address("10.7.7.7"));
    EXPECT_EQ(DnsClient().ReferralTable[0].address, Address("127.53.9.3"));
}

TEST_F(DnsReply, RejectsAndKeepsWhatCameBefore) {
    const Bytes answerOnly = Reply().A(DnsMessage::kAnswer, "www.veldana.test", "10.1.2.3").Build();
    const Bytes withReferral = Reply()
                                   .A(DnsMessage::kAnswer, "www.veldana.test", "10.1.2.3")
                                   .Ns(DnsMessage::kAuthority, "veldana.test", "ns.veldana.test")
                                   .Build();
    const Bytes good = Reply()
                           .A(DnsMessage::kAnswer, "www.veldana.test", "10.1.2.3")
                           .Ns(DnsMessage::kAuthority, "veldana.test", "ns.veldana.test")
                           .A(DnsMessage::kAdditional, "ns.veldana.test", "127.53.9.3")
                           .Build();
    EXPECT_EQ(Parse(good, 0x4243), 0) << "wrong ID";
    EXPECT_EQ(count, 0);
    EXPECT_EQ(DnsClient().referralCount, 0);

    Bytes twoQuestions = Reply()
                             .Question("second.example")
                             .A(DnsMessage::kAnswer, "www.veldana.test", "10.1.2.3")
                             .Build();
    EXPECT_EQ(Parse(twoQuestions), 0) << "QDCOUNT 2";
    EXPECT_EQ(count, 0);

    // Every cut of the good reply: read only within the bytes given, and keep what was
    // complete before the cut.
    for (std::size_t size = 0; size < good.size(); ++size) {
        ResetDnsClient();
        list = {};
        count = 0;
        Bytes cut(good.begin(), good.begin() + static_cast<long>(size));
        EXPECT_EQ(Parse(cut), 0) << size;
        EXPECT_EQ(count, size >= answerOnly.size() ? 1 : 0) << size;
        EXPECT_EQ(DnsClient().referralCount, size >= withReferral.size() ? 1 : 0) << size;
        EXPECT_EQ(DnsClient().ReferralTable[0].address, 0u) << size;
    }

    // A record whose data runs past the datagram.
    Bytes longData = Reply().A(DnsMessage::kAnswer, "www.veldana.test", "10.1.2.3").Build();
    longData[longData.size() - 5] = 5;  // RDLENGTH 5, four bytes follow
    list = {};
    count = 0;
    EXPECT_EQ(Parse(longData), 0);
    EXPECT_EQ(count, 0);

    // More records announced than present.
    Bytes missing = Reply().A(DnsMessage::kAnswer, "x", "10.1.2.3").Count(1, 2).Build();
    list = {};
    count = 0;
    EXPECT_EQ(Parse(missing), 0);
    EXPECT_EQ(count, 1);
}

TEST_F(DnsReply, AFullReferralTableAndAFullAddressListDropFurtherEntries) {
    DnsMessage many = Reply();
    for (int i = 0; i < 130; ++i) {
        many.Ns(DnsMessage::kAuthority, "example", "ns" + std::to_string(i) + ".example");
        many.A(DnsMessage::kAnswer, "www.example",
               "10.0." + std::to_string(i / 100) + "." + std::to_string(i % 100 + 1));
    }
    EXPECT_EQ(Parse(many.Build()), 1);
    EXPECT_EQ(DnsClient().referralCount, kReferralRecords);
    EXPECT_EQ(DnsClient().ReferralTable[127].name, "ns127.example");
    EXPECT_EQ(count, kMaxAddresses);
    EXPECT_EQ(list[126], Address("10.0.1.27"));
    EXPECT_EQ(list[127], 0u) << "the list stays ended by a 0 word";

    Bytes more = Reply()
                     .A(DnsMessage::kAnswer, "www.example", "10.9.9.9")
                     .Ns(DnsMessage::kAuthority, "example", "late.example")
                     .Build();
    EXPECT_EQ(Parse(more), 0) << "dropped entries teach nothing";
    EXPECT_EQ(count, kMaxAddresses);
    EXPECT_EQ(list[127], 0u);
    EXPECT_EQ(DnsClient().referralCount, kReferralRecords);
}

TEST_F(DnsReply, AServerNameTooLongForTheTableIsNotRecorded) {
    const std::string longName = std::string(63, 'a') + "." + std::string(63, 'b') + ".c";  // 129
    Bytes reply = Reply()
                      .Ns(DnsMessage::kAuthority, "c", longName)
                      .A(DnsMessage::kAdditional, longName, "127.53.9.7")
                      .Build();
    EXPECT_EQ(Parse(reply), 1) << "the glue of an unknown owner is an address";
    EXPECT_EQ(DnsClient().referralCount, 0);
    EXPECT_EQ(count, 1);
}

TEST_F(DnsReply, CompressedNamesInRecordsAndReferrals) {
    // Question www.veldana.test at 12; the NS data points into it (veldana.test at 16).
    Bytes r = FromString(std::string("\x42\x42\x84\x00\x00\x01\x00\x01\x00\x01\x00\x01", 12));
    Bytes q = dnspeers::EncodeName("www.veldana.test");
    r.insert(r.end(), q.begin(), q.end());
    r.insert(r.end(), {0, 1, 0, 1});
    // Answer: owner -> 12, A 10.1.2.3.
    r.insert(r.end(), {0xC0, 12, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4, 10, 1, 2, 3});
    // Authority: owner -> 16, NS "ns" + pointer to 16.
    r.insert(r.end(), {0xC0, 16, 0, 2, 0, 1, 0, 0, 0, 60, 0, 5, 2, 'n', 's', 0xC0, 16});
    // Additional: owner "ns" + pointer to 16, A 127.53.9.3.
    r.insert(r.end(), {2, 'N', 'S', 0xC0, 16, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4, 127, 53, 9, 3});
    EXPECT_EQ(Parse(r), 1);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(list[0], Address("10.1.2.3"));
    ASSERT_EQ(DnsClient().referralCount, 1);
    EXPECT_EQ(DnsClient().ReferralTable[0].name, "ns.veldana.test");
    EXPECT_EQ(DnsClient().ReferralTable[0].address, Address("127.53.9.3"));
}

// ---------------------------------------------------------------- server settings

class DnsServers : public ::testing::Test {
  protected:
    void SetUp() override { ResetDnsClient(); }
    void TearDown() override { ResetDnsClient(); }
    static std::string Setting(int n) {
        return settings::ReadSetting(settings::kKeyDnsServers, "QTXDNS" + std::to_string(n), "");
    }
    testsupport::TempInstall install;
};

TEST_F(DnsServers, LoadingWritesTheDefaultsWhenNoneIsSet) {
    LoadDnsServers();
    EXPECT_EQ(Setting(1), "198.41.0.4");
    EXPECT_EQ(Setting(2), "128.9.0.107");
    EXPECT_EQ(Setting(3), "192.33.4.12");
    EXPECT_EQ(Setting(4), "128.8.10.90");
    for (const auto& e : DnsClient().DnsServerTable) EXPECT_EQ(e, "") << "until reloaded";
    EXPECT_EQ(DnsClient().DnsServerCount, 0);

    EXPECT_EQ(ReloadDnsServers(), 4);
    EXPECT_EQ(DnsClient().DnsServerTable[0], "198.41.0.4");
    EXPECT_EQ(DnsClient().DnsServerTable[3], "128.8.10.90");
    EXPECT_EQ(DnsClient().DnsServerCount, 0) << "the count is the caller's to keep";
}

TEST_F(DnsServers, OneSetServerKeepsTheOthersEmpty) {
    ASSERT_EQ(settings::WriteSetting(settings::kKeyDnsServers, "QTXDNS3", "10.9.8.7"), 1);
    const std::string longText(80, '1');
    ASSERT_EQ(settings::WriteSetting(settings::kKeyDnsServers, "qtxdns4", longText), 1);
    LoadDnsServers();
    EXPECT_EQ(Setting(1), "") << "no defaults written";
    const auto& t = DnsClient().DnsServerTable;
    EXPECT_EQ(t[0], "");
    EXPECT_EQ(t[2], "10.9.8.7");
    EXPECT_EQ(t[3], longText.substr(0, kDnsServerChars));
    EXPECT_EQ(ReloadDnsServers(), 2);
}

}  // namespace
