// The string table's text format, also used for overrides: any bytes parse safely.
#include <cstdint>
#include <map>
#include <string>

#include "resources/string_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::map<int, std::string> table;
    std::string error;
    resources::ParseStringTable(text, table, error);
    resources::UnescapeText(text);
    return 0;
}
