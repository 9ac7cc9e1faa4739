// USER.LST is a file on disk that anything may have written: loading any bytes, of any
// length, must stay inside the image, and every accessor must stay inside its slot.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sitelists/site_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::string dir = [] {
        char tmpl[] = "/tmp/veldana-fuzz-sites-XXXXXX";
        std::string d = mkdtemp(tmpl);
        setenv("VELDANA_PROGRAM_DIR", d.c_str(), 1);
        return d;
    }();
    std::string path = dir + "/USER.LST";
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    using namespace sitelists;
    ResetSiteLists();
    LoadSiteList();
    std::size_t total = 0;
    for (int i = 0; i < kEntriesPerList; ++i) {
        total += SiteName(SiteList::kApproved, i).size() + SiteName(SiteList::kRestricted, i).size();
        total += SiteAddress(SiteList::kApproved, i) & 1;
    }
    for (int i = 0; i < kDomainRecords; ++i) total += DomainPart(i).size() + DomainKindAt(i);
    total += static_cast<std::size_t>(BlockEntryCount(SiteList::kApproved, 0) +
                                      BlockEntryCount(SiteList::kRestricted, 1));
    return total == static_cast<std::size_t>(-1);
}
