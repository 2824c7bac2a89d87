// TLinkRepair: which local links lead to failed items, and how they are given their address back.
#include "links/link_repair.h"

#include <gtest/gtest.h>

#include <string>

#include "links/url_rules.h"

namespace pellix {
namespace {

constexpr const char* kPage = "http://www.x.com/docs/guide/index.html";

TLinkRepair FailedSite(int aggressive = 1)
{
    TLinkRepair repair(aggressive);
    repair.AddFailed("http://www.x.com/docs/missing.png");
    repair.AddFailed("http://www.x.com/docs/guide/a b.html");
    repair.AddFailed("http://other.invalid/pic.png");
    repair.AddFailed("http://www.x.com/docs/guide/shared.css");
    repair.AddFailed("http://www.x.com/applets/Gone.class");
    // The same local file came over https: links to it stay local.
    repair.AddSaved("https://www.x.com/docs/guide/shared.css");
    return repair;
}

TEST(TLinkRepairTest, LinksToFailedItemsGetTheirAddress)
{
    const TLinkRepair repair = FailedSite();
    const struct {
        const char* name;
        std::string page;
        std::string expected;
    } cases[] = {
        {"climbing link keeps its anchor", "<a href=\"../missing.png#part\">x</a>",
         "<a href=\"http://www.x.com/docs/missing.png#part\">x</a>"},
        {"percent-encoded name, address made safe for the attribute", "<a href='a%20b.html'>x</a>",
         "<a href='http://www.x.com/docs/guide/a%20b.html'>x</a>"},
        {"another host's folder, unquoted", "<img src=../../../other.invalid/pic.png>",
         "<img src=http://other.invalid/pic.png>"},
        {"the local link the parse thread writes", "<img src=\"" + LocalLink("http://other.invalid/pic.png",
                                                                              "http://www.x.com/docs/guide/") + "\">",
         "<img src=\"http://other.invalid/pic.png\">"},
        {"script string", "<script>var i = 'missing.png'; var j = '../missing.png';</script>",
         "<script>var i = 'missing.png'; var j = 'http://www.x.com/docs/missing.png';</script>"},
        {"applet code below its code base", "<applet codebase=\"../../applets/\" code=\"Gone.class\">",
         "<applet codebase=\"../../applets/\" code=\"http://www.x.com/applets/Gone.class\">"},
        {"file shared with a saved item", "<link href=\"shared.css\">", "<link href=\"shared.css\">"},
        {"absolute, rooted, query and anchor-only links",
         "<a href=\"http://www.x.com/docs/missing.png\"></a><a href=\"/docs/missing.png\"></a>"
         "<a href=\"../missing.png?x=1\"></a><a href=\"#missing.png\"></a>",
         "<a href=\"http://www.x.com/docs/missing.png\"></a><a href=\"/docs/missing.png\"></a>"
         "<a href=\"../missing.png?x=1\"></a><a href=\"#missing.png\"></a>"},
        {"link to a file that came", "<img src=\"../logo.png\">", "<img src=\"../logo.png\">"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = c.page;
        const std::size_t changed = repair.RepairPage(kPage, text);
        EXPECT_EQ(text, c.expected);
        EXPECT_EQ(changed > 0, c.page != c.expected);
    }
}

// The passes follow the profile's "Aggressive Parser" setting like the parse thread's: 0 tags
// only, 2 quoted strings anywhere without the tag passes.
TEST(TLinkRepairTest, PassesFollowTheParserSetting)
{
    const std::string page = "<img src=\"../missing.png\"><script>x('../missing.png')</script>";
    const std::string absolute = "http://www.x.com/docs/missing.png";
    std::string tagsOnly = page;
    EXPECT_EQ(FailedSite(0).RepairPage(kPage, tagsOnly), 1u);
    EXPECT_EQ(tagsOnly, "<img src=\"" + absolute + "\"><script>x('../missing.png')</script>");
    std::string strings = page;
    EXPECT_EQ(FailedSite(2).RepairPage(kPage, strings), 2u);
    EXPECT_EQ(strings, "<img src=\"" + absolute + "\"><script>x('" + absolute + "')</script>");

    std::string untouched = page;
    EXPECT_EQ(TLinkRepair(1).RepairPage(kPage, untouched), 0u);
    EXPECT_EQ(untouched, page);
}

} // namespace
} // namespace pellix
