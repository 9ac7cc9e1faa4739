// Profile files (WIN.INI, STRINGS.INI) are edited by hand: any bytes must parse safely.
#include <cstdint>
#include <string>

#include "platform/profile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    platform::ParseProfileSection(text, "strings");
    platform::ParseProfileSection(text, "intl");
    return 0;
}
