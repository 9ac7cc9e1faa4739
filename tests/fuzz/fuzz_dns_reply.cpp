// A DNS reply is whatever a datagram from port 53 holds: parsing any bytes must read only
// within them, end (no pointer loop may hang it), and keep the referral table and the
// address list within their bounds.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "resolve/dns_client.h"

namespace {
void Check(bool ok) {
    if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace resolve;
    // An exact-size copy, so that a read past the datagram is caught.
    std::vector<std::uint8_t> reply(data, data + size);
    const std::uint16_t id = size >= 2 ? static_cast<std::uint16_t>(data[0] << 8 | data[1]) : 0;

    ResetDnsClient();
    AddressList list{};
    int count = 0;
    // Twice: the second pass meets the names and addresses the first one recorded.
    for (int pass = 0; pass < 2; ++pass) {
        ParseDnsReply(reply, id, list, count);
        Check(count >= 0 && count <= kMaxAddresses && list[count] == 0);
        const auto& st = DnsClient();
        Check(st.referralCount >= 0 && st.referralCount <= kReferralRecords);
        for (int i = 0; i < st.referralCount; ++i)
            Check(st.ReferralTable[i].name.size() <= kMaxHostChars);
    }
    for (int i = 0; i < count; ++i) Check(list[i] != 0);

    std::string name;
    for (std::size_t at = 0; at <= size && at < 512; ++at) {
        int end = DecodeDnsName(reply, at, name);
        Check(end == -1 || (end > static_cast<int>(at) && end <= static_cast<int>(size)));
        if (end >= 0) Check(name.size() <= kMaxNameChars);
    }
    return 0;
}
