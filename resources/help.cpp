#include "resources/help.h"

#include <array>
#include <cctype>
#include <cstddef>

namespace embedded {
extern const std::span<const unsigned char> contents_html;
extern const std::span<const unsigned char> headquarters_html;
extern const std::span<const unsigned char> work_hours_html;
extern const std::span<const unsigned char> web_sites_html;
extern const std::span<const unsigned char> domains_html;
}  // namespace embedded

namespace resources {
namespace {

constexpr std::string_view kHelpFile = "VDP.HLP";

std::string_view Text(std::span<const unsigned char> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

const std::array<HelpPage, 5>& Pages() {
    static const std::array<HelpPage, 5> pages{{
        {"contents.html", Text(embedded::contents_html)},
        {"headquarters.html", Text(embedded::headquarters_html)},
        {"work-hours.html", Text(embedded::work_hours_html)},
        {"web-sites.html", Text(embedded::web_sites_html)},
        {"domains.html", Text(embedded::domains_html)},
    }};
    return pages;
}

struct ContextPage {
    ui::UINT context;
    std::string_view page;
};
constexpr std::array kContexts{
    ContextPage{117, "contents.html"},        ContextPage{999, "headquarters.html"},
    ContextPage{135, "headquarters.html"}, ContextPage{134, "work-hours.html"},
    ContextPage{105, "web-sites.html"},    ContextPage{128, "domains.html"},
};

bool SameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

std::span<const HelpPage> HelpPages() {
    return Pages();
}

std::optional<HelpPage> FindHelpPage(std::string_view name) {
    for (const HelpPage& page : Pages())
        if (SameNoCase(page.name, name)) return page;
    return std::nullopt;
}

std::string HelpAnchor(ui::UINT context) {
    return "ctx-" + std::to_string(context);
}

std::optional<HelpTarget> FindHelpTarget(std::string_view file, ui::UINT context) {
    if (const auto slash = file.find_last_of("/\\"); slash != std::string_view::npos)
        file.remove_prefix(slash + 1);
    if (!SameNoCase(file, kHelpFile)) return std::nullopt;
    for (const ContextPage& entry : kContexts)
        if (entry.context == context)
            return HelpTarget{std::string(entry.page), HelpAnchor(context)};
    return HelpTarget{std::string(Pages().front().name), {}};
}

}  // namespace resources
