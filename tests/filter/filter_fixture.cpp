#include "tests/filter/filter_fixture.h"

#include <cstdio>

#include "dbread/text.h"
#include "platform/registry.h"
#include "settings/settings_store.h"
#include "sitelists/site_list.h"
#include "update/download_schedule.h"

namespace filtertest {
namespace {

std::uint32_t A(const char* dotted) {
    std::uint32_t word = 0;
    dbread::ParseDottedAddress(dotted, word);
    return word;
}

}  // namespace

FilterInstallation::FilterInstallation(const std::string& dnsBase)
    : chain(std::make_unique<dnspeers::NsdChain>(dnsBase)) {}

bool FilterInstallation::Available(std::string& why) const {
    if (!chain->unavailable()) return true;
    why = chain->error();
    return false;
}

bool FilterInstallation::Build(std::string& error) {
    if (!chain->ok()) {
        error = chain->error();
        return false;
    }
    if (testsupport::MakeListFile(kRestrictedListSource, install.file("VELDA.NOT"), &error) != 0 ||
        testsupport::MakeListFile(kApprovedListSource, install.file("VELDA.YES"), &error) != 0)
        return false;
    install.writeFile(install.file("DNSRAW.NOT"),
                      testsupport::RawNameList({{"bad.example", A("192.0.2.10")},
                                                {"paths.example", A("192.0.2.20")},
                                                {"siteblock.example", A("192.0.2.30")},
                                                {"alias.example", A("192.0.2.11")},
                                                {"gamble.example", A("192.0.2.40")},
                                                {"www.kept.example", A("192.0.2.10")}}));
    install.writeFile(install.file("DNSRAW.YES"),
                      testsupport::RawNameList({{"school.example", A("198.51.100.1")},
                                                {"mixed.example", A("198.51.100.2")}}));

    using namespace sitelists;
    const char* restricted[] = {"www.veldana.test", "10.5.5.5", "http://10.6.6.6/bad/path"};
    for (int i = 0; i < 3; ++i) SetSiteName(SiteList::kRestricted, i, restricted[i]);
    const char* approved[] = {"10.8.8.8", "192.0.2.40", "http://192.0.2.10/good/"};
    for (int i = 0; i < 3; ++i) SetSiteName(SiteList::kApproved, i, approved[i]);
    SetDomainRecord(0, kDomainRestricted, "casino.example");
    SetDomainRecord(1, kDomainApproved, "safe.casino.example");
    SetDomainRecord(2, kDomainApproved, "edu");
    if (SaveSiteList() != 1) {
        error = "USER.LST not saved";
        return false;
    }

    using namespace settings;
    WriteSetting(kKeyDnsServers, "QTXDNS1", chain->RootServer());
    const std::string today = std::to_string(update::DayNumber());
    WriteSetting(kKeyNotDownloadDay, {}, today);
    WriteSetting(kKeyYesDownloadDay, {}, today);
    return Rebuild(error);
}

bool FilterInstallation::Rebuild(std::string& error) {
    std::string out;
    // Every database is built anew: the start-up check rebuilds when a database is missing.
    for (const char* db : {"VeldaNOT.BIN", "VeldaYES.BIN", "NoneNOT.BIN", "NoneYES.BIN"})
        std::remove(install.file(db).c_str());
    platform::ResetRegistry();
    const int rc = testsupport::RunCommand(testsupport::BuiltProgram("veldana") + " /qr", &out, &error);
    platform::ResetRegistry();
    if (rc != 0) error = "veldana /qr ended with " + std::to_string(rc) + ": " + error + out;
    return rc == 0;
}

void FilterInstallation::SetPolicy(const std::string& name, const std::string& value) {
    const std::string key = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\W3Velda\\Services";
    std::string error;
    testsupport::RunCommand(testsupport::BuiltProgram("veldana-reg") + " add '" + key + "' /v '" +
                                name + "' /d '" + value + "' /f",
                            nullptr, &error);
}

}  // namespace filtertest
