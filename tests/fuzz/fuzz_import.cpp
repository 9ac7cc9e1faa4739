// Fuzzes the blocklist readers of veldana-list import: every line of the input is read as a
// domains line and as a urls line, and the input is taken as a category map. A line that
// is read gives a name the import can keep: lower case, at most 63 bytes, no blank.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "tools/list_import.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    listimport::CategoryMap map;
    std::vector<std::string> problems;
    listimport::ParseCategoryMap(text, map, problems);
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        const std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        for (auto kind : {listimport::LineKind::kDomains, listimport::LineKind::kUrls}) {
            listimport::SourceEntry entry;
            const auto verdict = listimport::ReadSourceLine(line, kind, entry);
            if (verdict != listimport::NameVerdict::kHost) continue;
            if (entry.name.empty() || entry.name.size() > 63) std::abort();
            for (char c : entry.name)
                if ((c >= 'A' && c <= 'Z') || c == ' ' || c == '\t') std::abort();
        }
    }
    return 0;
}
