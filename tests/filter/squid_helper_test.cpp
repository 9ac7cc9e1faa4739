// veldana-filter as Squid runs it, over pipes: the external ACL protocol with channel ids
// (answers out of order, a slow name not holding up the others, bad lines answered), the
// URL rewriter without ids, and the log of blocked requests. The system resolver is pointed
// at a scripted name server on loopback in a mount namespace of the helper's own.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>

#include "filter/squid_helper.h"
#include "tests/filter/filter_fixture.h"

namespace {

using testsupport::BuiltProgram;

// The question name of a DNS query.
std::string QuestionName(const dnspeers::Bytes& q) {
    std::string name;
    for (std::size_t i = 12; i < q.size() && q[i] != 0 && i + q[i] < q.size(); i += q[i] + 1) {
        if (!name.empty()) name += '.';
        name.append(reinterpret_cast<const char*>(&q[i + 1]), q[i]);
    }
    return name;
}

// A child with its standard input and output on pipes.
class Helper {
  public:
    bool Start(const std::vector<std::string>& argv, const std::string& errPath) {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) return false;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(err, 2);
            close(in[1]);
            close(out[0]);
            std::vector<char*> args;
            for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        to_ = in[1];
        from_ = out[0];
        return pid_ > 0;
    }
    ~Helper() {
        if (to_ >= 0) close(to_);
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (from_ >= 0) close(from_);
    }
    void Send(const std::string& text) {
        std::size_t done = 0;
        while (done < text.size()) {
            ssize_t n = write(to_, text.data() + done, text.size() - done);
            if (n <= 0) return;
            done += static_cast<std::size_t>(n);
        }
    }
    // The next answer line, or empty after `ms` without one.
    std::string Line(int ms = 10000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            std::size_t nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                std::string line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return {};
            pollfd p{from_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return {};
            char chunk[4096];
            ssize_t n = read(from_, chunk, sizeof chunk);
            if (n <= 0) return {};
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }
    // Ends the input; the exit status.
    int Finish() {
        close(to_);
        to_ = -1;
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    pid_t pid_ = -1;
    int to_ = -1, from_ = -1;
    std::string buffer_;
};

class SquidHelperTest : public ::testing::Test {
  protected:
    void Build(int block) {
        fixture = std::make_unique<filtertest::FilterInstallation>(
            std::string(VELDANA_DNS_NET) + std::to_string(245 + block) + ".");
        std::string why;
        if (!fixture->Available(why)) GTEST_SKIP() << why;
        ASSERT_TRUE(fixture->Build(why)) << why;
        fixture->SetPolicy("RedirectedSite", "http://block.example/stop.html");
    }
    std::string ErrPath() const { return fixture->install.root() + "/helper.err"; }

    std::unique_ptr<filtertest::FilterInstallation> fixture;
};

TEST(SquidHelperLines, ChannelsUrlsAndClients) {
    struct Case {
        const char* line;
        filter::HelperKind kind;
        bool ok;
        const char* channel;  // nullptr: none
        const char* url;
        const char* client;
    };
    const Case cases[] = {
        {"7 http://a.example/ 10.0.0.1 GET -", filter::HelperKind::kExternalAcl, true, "7",
         "http://a.example/", "10.0.0.1"},
        {"http://a.example/ 10.0.0.1 GET", filter::HelperKind::kExternalAcl, true, nullptr,
         "http://a.example/", "10.0.0.1"},
        {"0 a.example:443 10.0.0.2 CONNECT -", filter::HelperKind::kExternalAcl, true, "0",
         "a.example:443", "10.0.0.2"},
        {"12 http://a.example/x 10.0.0.3/host.lan - GET myip=127.0.0.1 myport=3128",
         filter::HelperKind::kUrlRewrite, true, "12", "http://a.example/x", "10.0.0.3"},
        {"http://a.example/", filter::HelperKind::kUrlRewrite, true, nullptr, "http://a.example/", "-"},
        {"42", filter::HelperKind::kExternalAcl, true, nullptr, "42", "-"},
        {"   ", filter::HelperKind::kExternalAcl, false, nullptr, "", ""},
    };
    for (const Case& c : cases) {
        filter::HelperLine line;
        ASSERT_EQ(filter::ParseHelperLine(c.line, c.kind, line), c.ok) << c.line;
        if (!c.ok) continue;
        EXPECT_EQ(line.channel.has_value(), c.channel != nullptr) << c.line;
        if (c.channel) {
            EXPECT_EQ(*line.channel, c.channel);
        }
        EXPECT_EQ(line.url, c.url) << c.line;
        EXPECT_EQ(line.client, c.client) << c.line;
    }
    filter::Decision blocked;
    blocked.rule = "restricted-list";
    blocked.reason = "on the \"restricted\" list";
    EXPECT_EQ(filter::FormatAnswer(filter::HelperKind::kExternalAcl, "3", blocked, "http://b/"),
              "3 ERR message=restricted-list log=\"on the \\\"restricted\\\" list\"\n");
    EXPECT_EQ(filter::FormatAnswer(filter::HelperKind::kUrlRewrite, std::nullopt, blocked, "http://b/?u=1"),
              "OK status=302 url=\"http://b/?u=1\"\n");
    filter::Decision allowed;
    allowed.verdict = filter::Verdict::kAllow;
    allowed.rule = "not-restricted";
    EXPECT_EQ(filter::FormatAnswer(filter::HelperKind::kExternalAcl, "3", allowed, ""), "3 OK log=not-restricted\n");
    EXPECT_EQ(filter::FormatAnswer(filter::HelperKind::kUrlRewrite, "3", allowed, ""), "3 ERR\n");
}

TEST_F(SquidHelperTest, ExternalAclAnswersEveryChannelAndASlowNameHoldsUpNoOther) {
    Build(0);
    // The helper's system resolver: a name server that answers slow.test late and
    // never.test never.
    const std::string dnsAddress = std::string(VELDANA_DNS_NET) + "252.1";
    dnspeers::UdpResponder dns(
        dnsAddress,
        [](const dnspeers::Bytes& q) -> std::vector<dnspeers::Bytes> {
            if (QuestionName(q) != "slow.test") return {};
            return {dnspeers::DnsMessage::ReplyTo(q).A(dnspeers::DnsMessage::kAnswer, "slow.test", "192.0.2.10").Build()};
        },
        800);
    if (dns.unavailable()) GTEST_SKIP() << dns.error();
    ASSERT_TRUE(dns.ok()) << dns.error();
    const std::string resolv = fixture->install.root() + "/resolv.conf";
    fixture->install.writeFile(resolv, "nameserver " + dnsAddress + "\noptions timeout:3 attempts:1\n");
    std::string probe;
    if (testsupport::RunCommand("unshare -m true", nullptr, &probe) != 0)
        GTEST_SKIP() << "no mount namespace for the helper's resolver: " << probe;

    Helper h;
    ASSERT_TRUE(h.Start({"/usr/bin/unshare", "-m", "/bin/sh", "-c",
                         "mount --bind \"$0\" /etc/resolv.conf && exec \"$1\" acl --at '2026-12-07 10:00'",
                         resolv, BuiltProgram("veldana-filter")},
                        ErrPath()));
    h.Send("7 http://slow.test/ 127.0.0.1 GET -\n");
    h.Send("9 http://never.test/ 127.0.0.1 GET -\n");
    h.Send("1 http://bad.example/ 127.0.0.1 GET -\n"
           "2 http://school.example/ 127.0.0.1 GET -\n"
           "3 bad.example:443 127.0.0.1 CONNECT -\n");
    h.Send("4 " + std::string(100000, 'x') + "\n");
    h.Send("5 http://[broken/ 127.0.0.1 GET -\n");
    h.Send(std::string("6 \x01\x02\xff 127.0.0.1 GET -\n"));
    h.Send("8 http://bad.example/again 127.0.0.1 GET -\n");

    std::vector<std::string> order;
    std::map<std::string, std::string> answers;
    for (int i = 0; i < 9; ++i) {
        std::string line = h.Line(8000);
        ASSERT_FALSE(line.empty()) << "answers so far: " << order.size();
        std::string id = line.substr(0, line.find(' '));
        order.push_back(id);
        answers[id] = line;
    }
    EXPECT_EQ(answers["1"], "1 ERR message=restricted-list log=\"on the restricted list in "
                            "categories 0x0001 chosen for work time\"");
    EXPECT_EQ(answers["2"], "2 OK log=not-restricted");
    EXPECT_EQ(answers["3"].substr(0, 29), "3 ERR message=restricted-list");
    for (const char* bad : {"4", "5", "6"})
        EXPECT_EQ(answers[bad].substr(0, 2 + 23), std::string(bad) + " ERR message=bad-request") << answers[bad];
    EXPECT_EQ(answers["7"].substr(0, 29), "7 ERR message=restricted-list") << "slow.test is 192.0.2.10";
    EXPECT_EQ(answers["9"], "9 OK log=not-restricted") << "given up: decided on the name alone";
    // The quick ones went first; the slow name and the one never answered came last.
    ASSERT_EQ(order.size(), 9u);
    EXPECT_EQ(order[7], "7");
    EXPECT_EQ(order[8], "9");
    EXPECT_EQ(h.Finish(), 0);
    const std::string err = fixture->install.readFile(ErrPath());
    EXPECT_NE(err.find("a line over the length limit"), std::string::npos) << err;
    EXPECT_NE(err.find("an unusable URL"), std::string::npos) << err;
}

TEST_F(SquidHelperTest, RewriterKeepsOrderAndLogsBlockedRequests) {
    Build(1);
    fixture->SetPolicy("LogSites", "1");
    const std::string log = fixture->install.root() + "/blocked.log";
    Helper h;
    ASSERT_TRUE(h.Start({BuiltProgram("veldana-filter"), "rewrite", "--log", log, "--at",
                         "2026-12-07 10:00"},
                        ErrPath()));
    h.Send("http://bad.example/p?q=1 10.9.9.9/- - GET\n"
           "http://school.example/ 10.9.9.9/- - GET\n"
           "http://10.5.5.5/ 10.9.9.8/- - GET\n");
    EXPECT_EQ(h.Line(), "OK status=302 url=\"http://block.example/stop.html?url=http%3A%2F%2F"
                        "bad.example%2Fp%3Fq%3D1&reason=restricted-list\"");
    EXPECT_EQ(h.Line(), "ERR");
    EXPECT_EQ(h.Line().substr(0, 20), "OK status=302 url=\"h");
    EXPECT_EQ(h.Finish(), 0);
    const std::string logged = fixture->install.readFile(log);
    EXPECT_NE(logged.find("2026-12-07 10:00:00 10.9.9.9 http://bad.example/p?q=1 restricted-list "),
              std::string::npos)
        << logged;
    EXPECT_NE(logged.find("10.9.9.8 http://10.5.5.5/ restricted-site"), std::string::npos) << logged;
    EXPECT_EQ(logged.find("school.example"), std::string::npos);
}

}  // namespace
