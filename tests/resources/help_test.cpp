// The help pages: every context the console opens lands on an anchor that exists, and
// every link between the pages leads somewhere.
#include "resources/help.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "tests/support/temp_install.h"

namespace {

using resources::FindHelpPage;
using resources::FindHelpTarget;
using resources::HelpPages;

// How many times id="anchor" occurs in all pages together.
std::size_t AnchorCount(const std::string& anchor) {
    std::size_t n = 0;
    for (const auto& page : HelpPages())
        n += testsupport::CountOccurrences(page.html, "id=\"" + anchor + "\"");
    return n;
}

TEST(HelpPagesTest, EveryContextOfTheConsoleOpensAnAnchorOfItsOwn) {
    struct Case {
        unsigned context;
        const char* page;
        const char* heading;  // what the administrator sees there
    };
    const Case cases[] = {
        {999, "headquarters.html", "Headquarters"},
        {134, "work-hours.html", "Work / Leisure Time"},
        {105, "web-sites.html", "Web Sites Control"},
        {128, "domains.html", "Domain Name Filter Setup"},
        {135, "headquarters.html", "Proxy Server Setup"},
        {117, "contents.html", "The console"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.context);
        const auto target = FindHelpTarget("VDP.HLP", c.context);
        ASSERT_TRUE(target);
        EXPECT_EQ(target->page, c.page);
        EXPECT_EQ(target->anchor, "ctx-" + std::to_string(c.context));
        const auto page = FindHelpPage(target->page);
        ASSERT_TRUE(page);
        const std::string opening = "id=\"" + target->anchor + "\">" + c.heading + "<";
        EXPECT_NE(page->html.find(opening), std::string_view::npos) << opening;
        EXPECT_EQ(AnchorCount(target->anchor), 1u) << "one anchor per context";
    }
}

TEST(HelpPagesTest, OnlyTheConsolesHelpFileOpensAndUnknownContextsOpenTheContents) {
    EXPECT_FALSE(FindHelpTarget("OTHER.HLP", 999));
    EXPECT_FALSE(FindHelpTarget("", 999));
    EXPECT_EQ(FindHelpTarget("vdp.hlp", 999)->page, "headquarters.html");
    EXPECT_EQ(FindHelpTarget("C:\\VELDANA\\VDP.HLP", 128)->page, "domains.html");
    const auto unknown = FindHelpTarget("VDP.HLP", 4242);
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->page, HelpPages().front().name);
    EXPECT_EQ(unknown->anchor, "");
    EXPECT_FALSE(FindHelpPage("missing.html"));
    EXPECT_TRUE(FindHelpPage("CONTENTS.HTML"));
}

TEST(HelpPagesTest, EveryLinkLeadsToAPageAndAnchorThatExist) {
    const std::regex link("href=\"([^\"#]*)(#([^\"]*))?\"");
    std::size_t links = 0;
    for (const auto& page : HelpPages()) {
        SCOPED_TRACE(std::string(page.name));
        EXPECT_EQ(page.html.substr(0, 15), "<!DOCTYPE html>");
        EXPECT_NE(page.html.find("</html>"), std::string_view::npos);
        EXPECT_EQ(page.html.find("<script"), std::string_view::npos);
        const std::string html(page.html);
        for (std::sregex_iterator it(html.begin(), html.end(), link), end; it != end; ++it) {
            ++links;
            const std::string target =
                (*it)[1].str().empty() ? std::string(page.name) : (*it)[1].str();
            const auto linked = FindHelpPage(target);
            ASSERT_TRUE(linked) << target;
            if ((*it)[3].matched) {
                EXPECT_NE(linked->html.find("id=\"" + (*it)[3].str() + "\""),
                          std::string_view::npos)
                    << (*it)[0].str();
            }
        }
    }
    EXPECT_GT(links, 0u);
}

}  // namespace
