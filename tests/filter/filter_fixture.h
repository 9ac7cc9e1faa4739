// An installation whose databases "veldana /qr" built from known inputs, for the filter's
// tests: a restricted list (level 3: path keys as segment checksums) with whole sites, path
// items, a site block and an alias; an approved list (level 2: path keys as text); raw name
// lists that give the list sites their names; the administrator's sites (dotted addresses,
// paths, and www.veldana.test resolved through nsd on loopback) and domain parts.
#pragma once

#include <memory>
#include <string>

#include "tests/resolve/dns_peers.h"
#include "tests/support/temp_install.h"

namespace filtertest {

class FilterInstallation {
  public:
    // `dnsBase` is the nsd chain's address block ("127.53.230.").
    explicit FilterInstallation(const std::string& dnsBase);
    // False, with the reason, when the machine cannot run nsd (a reason to skip).
    bool Available(std::string& why) const;
    // Writes the inputs and runs veldana /qr; false with its output when that fails.
    bool Build(std::string& error);
    // Sets a policy value as the console publishes it (and VELDADATA_Changed).
    void SetPolicy(const std::string& name, const std::string& value);
    // Runs "veldana /qr" again (a rebuild, after changed inputs).
    bool Rebuild(std::string& error);

    testsupport::TempInstall install;
    std::unique_ptr<dnspeers::NsdChain> chain;
};

// The addresses the fixture's names stand for.
inline constexpr const char* kRestrictedListSource =
    "level 3\n"
    "kind restricted\n"
    "address 192.0.2.10 0x0001\n"                                    // bad.example
    "address 192.0.2.20 path /ads/ 0x0004 path /img/banners 0x0008\n"  // paths.example
    "block 192.0.2.30 0x0002\n"                                      // siteblock.example
    "alias 192.0.2.10 192.0.2.11\n"                                  // alias.example
    "address 192.0.2.40 0x0400\n";                                   // gamble.example
inline constexpr const char* kApprovedListSource =
    "level 2\n"
    "kind approved\n"
    "address 198.51.100.1 0x0200\n"                 // school.example
    "address 198.51.100.2 path /kids/ 0x0001\n";    // mixed.example

}  // namespace filtertest
