// A stand-in for the privacy-profile library: each entry appends one line
// "<entry> <owner> <word 0> <word 1>" to privacy-profile.log in the program directory
// (VELDANA_PROGRAM_DIR), so that a test can see what the console passed. Built without
// UpdGrpMask when PRIVACY_STUB_WITHOUT_MASK_ENTRY is defined.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "dialogs/headquarters.h"

namespace {

int Record(const char* entry, std::uint32_t owner, const std::uint32_t* words) {
    const char* dir = std::getenv("VELDANA_PROGRAM_DIR");
    if (!dir || !words) return 0;
    const std::string path = std::string(dir) + "/privacy-profile.log";
    std::FILE* f = std::fopen(path.c_str(), "a");
    if (!f) return 0;
    std::fprintf(f, "%s %u %u %u\n", entry, static_cast<unsigned>(owner),
                 static_cast<unsigned>(words[0]), static_cast<unsigned>(words[1]));
    std::fclose(f);
    return 1;
}

}  // namespace

extern "C" dialogs::PrivacyProfileEntry IpUIDialog;
int IpUIDialog(std::uint32_t owner, std::uint32_t* policyWords) {
    return Record("IpUIDialog", owner, policyWords);
}

#ifndef PRIVACY_STUB_WITHOUT_MASK_ENTRY
extern "C" dialogs::PrivacyProfileEntry UpdGrpMask;
int UpdGrpMask(std::uint32_t owner, std::uint32_t* policyWords) {
    return Record("UpdGrpMask", owner, policyWords);
}
#endif
