// The console's help: HTML pages compiled into the program, and where a help request
// (the help file "VDP.HLP" and a context number, as ui::WinHelp passes them) opens them.
//
// Every context the console opens has an anchor id="ctx-<number>" in one page:
//   117 the console and its commands (contents.html)      999 Headquarters (headquarters.html)
//   135 Proxy Server Setup (headquarters.html)          134 Work / Leisure Time (work-hours.html)
//   105 Web Sites Control (web-sites.html)              128 Domain Name Filter Setup (domains.html)
// The pages link to each other by relative names ("work-hours.html#ctx-134") and need no
// scripts, so a display can serve them as they are.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "ui/types.h"

namespace resources {

struct HelpPage {
    std::string_view name;  // "contents.html"
    std::string_view html;
};
// Every page, the contents page first.
std::span<const HelpPage> HelpPages();
// The page of that name (letter case ignored); none for an unknown name.
std::optional<HelpPage> FindHelpPage(std::string_view name);

// The anchor of a context: "ctx-999".
std::string HelpAnchor(ui::UINT context);

struct HelpTarget {
    std::string page;    // a name HelpPages() holds
    std::string anchor;  // an id in that page; empty: the top of the page
};
// Where (file, context) opens. The file is the console's help file, "VDP.HLP" (letter case
// ignored, a directory in front allowed); any other file is none. A context the pages do not
// know opens the contents page at its top.
std::optional<HelpTarget> FindHelpTarget(std::string_view file, ui::UINT context);

}  // namespace resources
