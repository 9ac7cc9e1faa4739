// Fuzzes the filter's decision over damaged databases: the input (in the short form of
// tests/fuzz/expand.h) stands for all four filter databases, and as it is for DNSHASH.DAT;
// requests for addresses, names and paths are decided under every list choice. The first
// line of the input is also taken as a line from Squid and as a URL. Nothing may read past
// the input or crash, whatever the bytes.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "filter/decision.h"
#include "filter/squid_helper.h"
#include "tests/fuzz/expand.h"

namespace {

void Decide(const filter::DatabaseSet& set) {
    static const char* kUrls[] = {
        "http://192.0.2.10/", "http://192.0.2.20/ads/x.gif", "http://bad.example/a/b/c",
        "http://www.sub.example.com/path?q=1", "example.com:443", "http://10.0.0.1/TEST",
        "http://z.z.z.z.z/", "http://255.255.255.255/"};
    filter::PublishedPolicy policy;
    std::tm at{};
    at.tm_wday = 1;
    at.tm_hour = 10;
    for (const char* url : kUrls) {
        filter::RequestTarget target;
        std::string error;
        if (!filter::ParseRequestTarget(url, target, error)) continue;
        const filter::HostValues values = filter::FindHostValues(set, target);
        for (int list = 0; list < 4; ++list) {
            policy.work.list = static_cast<filter::ListChoice>(list);
            filter::Decide(policy, set, target, values, at);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::vector<std::uint8_t> expanded;
    fuzzsupport::Expand(data, size, expanded);

    filter::DatabaseSet set;
    std::string error;
    bool usable = true;
    for (filter::OpenDatabase* db : {&set.restricted, &set.approved, &set.noneNot, &set.noneYes}) {
        usable = usable && dbread::OpenImage(expanded, db->image, error);
        if (!usable) break;
        db->keyForm = filter::DetectKeyForm(db->image, filter::KeyForm::kText);
    }
    set.approved.sense = set.noneYes.sense = filter::Sense::kApproving;
    const bool dns = dbread::OpenDnsHashBytes(std::span(data, size), set.dns, error);
    if (usable && dns) Decide(set);
    if (usable && !dns) {
        // A set whose DNSHASH.DAT is the smallest sound one.
        static const std::vector<std::uint8_t> empty = [] {
            std::vector<std::uint8_t> b(1024, 0xFF);
            const std::uint8_t head[24] = {0x72, 0x74, 76, 0, 0, 2, 0, 0, 100, 0, 0, 0, 0, 4, 0, 0};
            std::copy(head, head + 24, b.begin());
            std::fill(b.begin() + 24, b.begin() + 512, 0);
            return b;
        }();
        if (dbread::OpenDnsHashBytes(empty, set.dns, error)) Decide(set);
    }

    std::string_view text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\n'));
    filter::HelperLine line;
    filter::ParseHelperLine(text, filter::HelperKind::kExternalAcl, line);
    filter::RequestTarget target;
    filter::ParseRequestTarget(text, target, error);
    return 0;
}
