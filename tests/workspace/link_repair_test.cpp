// TLinkRepair: which local links lead to failed items, and how they are given their address back.
#include "links/link_repair.h"

#include <gtest/gtest.h>

#include <string>

#include "links/css_scanner.h"
#include "links/text_helpers.h"
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
// A versioned style sheet that failed: pages of this run link its present name, pages saved by
// an earlier run the page-rule name it had then; both get the address back.
TEST(TLinkRepairTest, VersionedFileFailedUnderEitherName)
{
    TLinkRepair repair(1);
    repair.AddFailed("http://www.x.com/docs/theme.css?v=3");
    std::string page = "<link href=\"../theme.css%C2%BFv=3.css\"><link href=\"../theme.css%C2%BFv=3.html\">";
    EXPECT_EQ(repair.RepairPage(kPage, page), 2u);
    EXPECT_EQ(page, "<link href=\"http://www.x.com/docs/theme.css?v=3\"><link href=\"http://www.x.com/docs/theme.css?v=3\">");
}

// Items whose reply named them (an image behind "?id=7" is a PNG): links written before, under
// the name the address alone gives, lead to the file as saved; a failed one under either name
// gets its address; a recovered one gets its local link with its type.
TEST(TLinkRepairTest, LinksFollowItemsRenamedByTheirReply)
{
    TLinkRepair repair(1);
    repair.AddSaved("http://www.x.com/docs/img?id=7", ".png");
    repair.AddRenamed("http://www.x.com/docs/img?id=7", ".png");
    repair.AddSaved("http://www.x.com/docs/guide/font?f=1", ".woff2");
    repair.AddRenamed("http://www.x.com/docs/guide/font?f=1", ".woff2");
    repair.AddFailed("http://www.x.com/docs/gone?id=1", ".png");
    std::string page = "<img src=\"../img%C2%BFid=7.html#a\"><img src=\"../img%C2%BFid=7.png\">"
                       "<img src=\"../gone%C2%BFid=1.html\"><img src=\"../gone%C2%BFid=1.png\">"
                       "<style>@font-face { src: url(font%C2%BFf=1.html); }</style>";
    EXPECT_EQ(repair.RepairPage(kPage, page), 4u);
    EXPECT_EQ(page, "<img src=\"../img%C2%BFid=7.png#a\"><img src=\"../img%C2%BFid=7.png\">"
                    "<img src=\"http://www.x.com/docs/gone?id=1\"><img src=\"http://www.x.com/docs/gone?id=1\">"
                    "<style>@font-face { src: url(font%C2%BFf=1.woff2); }</style>");
    std::string sheet = "body { background: url(\"../img%C2%BFid=7.html\"); }";
    EXPECT_EQ(repair.RepairPage("http://www.x.com/docs/guide/site.css", sheet, true), 1u);
    EXPECT_EQ(sheet, "body { background: url(\"../img%C2%BFid=7.png\"); }");

    TLinkRepair later(1);
    later.AddRecovered("http://www.x.com/docs/gone?id=1", ".png");
    std::string restored = "<img src=\"http://www.x.com/docs/gone?id=1\">";
    EXPECT_EQ(later.RestorePage(kPage, restored), 1u);
    EXPECT_EQ(restored, "<img src=\"../gone%C2%BFid=1.png\">");
}

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

// The links of a page on one port to failed files of the same host on another port.
TEST(TLinkRepairTest, PortsKeepTheirOwnFiles)
{
    TLinkRepair repair(0);
    repair.AddFailed("http://h:8002/a.txt");
    repair.AddSaved("http://h:8001/a.txt");
    repair.AddFailed("http://h/b.txt");
    const std::string page = "http://h:8001/index.html";
    const std::string toOther = LocalLink("http://h:8002/a.txt", URLDirectory(page));
    ASSERT_EQ(toOther, "../h_8002/a.txt");
    std::string text = "<a href=\"" + toOther + "\"></a><a href=\"a.txt\"></a><a href=\"../h/b.txt\"></a>"
                       "<a href=\"b.txt\"></a>";
    EXPECT_EQ(repair.RepairPage(page, text), 2u);
    EXPECT_EQ(text, "<a href=\"http://h:8002/a.txt\"></a><a href=\"a.txt\"></a><a href=\"http://h/b.txt\"></a>"
                    "<a href=\"b.txt\"></a>");
}

// srcset lists and style text hold local links too: the parse thread rewrites them.
TEST(TLinkRepairTest, RepairsListsAndStyles)
{
    const TLinkRepair repair = FailedSite(0);
    std::string page = "<img srcset=\"../missing.png 2x, ../logo.png 3x\">"
                       "<div style=\"background: url(../missing.png#a)\"></div>"
                       "<style>@import 'shared.css'; p { background: url(\"../missing.png\") }</style>";
    EXPECT_EQ(repair.RepairPage(kPage, page), 3u);
    EXPECT_EQ(page, "<img srcset=\"http://www.x.com/docs/missing.png 2x, ../logo.png 3x\">"
                    "<div style=\"background: url(http://www.x.com/docs/missing.png#a)\"></div>"
                    "<style>@import 'shared.css'; p { background: url(\"http://www.x.com/docs/missing.png\") }</style>");

    std::string sheet = "a { background: url(../../missing.png) } b { background: url( 'img/ok.png' ) }";
    EXPECT_EQ(repair.RepairPage("http://www.x.com/docs/guide/css/site.css", sheet, true), 1u);
    EXPECT_EQ(sheet, "a { background: url(http://www.x.com/docs/missing.png) } b { background: url( 'img/ok.png' ) }");
}

TEST(TLinkRepairTest, RecoveredItemsGetLocalLinksAgain)
{
    TLinkRepair repair(1);
    repair.AddRecovered("http://www.x.com/docs/missing.png");
    repair.AddRecovered("http://other.invalid/it's (1).png");
    repair.AddRecovered("http://www.x.com/applets/Gone.class");
    const struct {
        const char* name;
        std::string page;
        std::string expected;
    } cases[] = {
        {"anchor kept", "<a href=\"http://www.x.com/docs/missing.png#part\">x</a>", "<a href=\"../missing.png#part\">x</a>"},
        {"address as the repair made it safe", "<img src='http://other.invalid/it%27s%20(1).png'>",
         "<img src='../../../other.invalid/it%27s%20(1).png'>"},
        {"script string with a port-less address", "<script>var i = 'http://www.x.com/docs/missing.png';</script>",
         "<script>var i = '../missing.png';</script>"},
        {"applet code below its code base", "<applet codebase=\"../../applets/\" code=\"http://www.x.com/applets/Gone.class\">",
         "<applet codebase=\"../../applets/\" code=\"Gone.class\">"},
        {"other addresses and local links stay",
         "<a href=\"http://www.x.com/docs/other.png\"></a><a href=\"../missing.png\"></a>"
         "<a href=\"HTTP://WWW.X.COM/docs/missing.png\"></a><a href=\"http://www.x.com/docs/missing.png?x\"></a>",
         "<a href=\"http://www.x.com/docs/other.png\"></a><a href=\"../missing.png\"></a>"
         "<a href=\"HTTP://WWW.X.COM/docs/missing.png\"></a><a href=\"http://www.x.com/docs/missing.png?x\"></a>"},
        {"text that is no link stays", "<p>see http://www.x.com/docs/missing.png</p><p title=\"http://www.x.com/docs/missing.png\"></p>",
         "<p>see http://www.x.com/docs/missing.png</p><p title=\"http://www.x.com/docs/missing.png\"></p>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = c.page;
        const std::size_t changed = repair.RestorePage(kPage, text);
        EXPECT_EQ(text, c.expected);
        EXPECT_EQ(changed > 0, c.page != c.expected);
    }

    std::string untouched = cases[0].page;
    EXPECT_EQ(FailedSite().RestorePage(kPage, untouched), 0u);
    EXPECT_EQ(untouched, cases[0].page);
}

// What the parse thread wrote, given back its addresses for failed items and then recovered:
// the page is the same, byte for byte, under every parser setting.
TEST(TLinkRepairTest, RepairThenRecoveryGivesBackThePage)
{
    const std::string page = "http://h:8001/docs/guide/index.html";
    const std::string folder = URLDirectory(page);
    const std::string failed[] = {
        "http://h:8001/docs/missing.png",
        "http://h:8002/docs/other port.png",
        "http://other.invalid/it's (1).png",
        "http://h:8001/docs/guide/p.asp?id=3",
        "http://h:8001/applets/Gone.class",
        "http://[::1]:8080/v6.css",
    };
    const auto local = [&](const std::string& url) { return LocalLink(url, folder); };
    const std::string original =
        "<html><head><link rel=\"stylesheet\" href=\"" + local(failed[5]) + "\">"
        "<style>p { background: url(" + local(failed[0]) + ") } q { background: url('" + local(failed[1]) + "') }</style>"
        "</head><body>"
        "<a href=\"" + local(failed[3]) + "#top\">p</a> <a href=" + local(failed[0]) + ">m</a>"
        "<img src='" + local(failed[2]) + "' srcset=\"" + local(failed[1]) + " 2x, ../logo.png 3x\">"
        "<applet codebase=\"../../applets/\" code=\"Gone.class\"></applet>"
        "<div style=\"background-image: url(&quot;" + local(failed[1]) + "&quot;)\"></div>"
        "<a href=\"../saved.html\">s</a> <a href=\"http://h:8001/docs/missing.png\">kept?</a>"
        "<script>var a = '" + local(failed[0]) + "'; var b = \"" + local(failed[1]) + "\"; var c = 'x:y';</script>"
        "<p>\x01 \x02 bytes the page holds</p>"
        "</body></html>";

    for (const int aggressive : {0, 1, 2}) {
        SCOPED_TRACE(aggressive);
        TLinkRepair repair(aggressive);
        TLinkRepair recovery(aggressive);
        for (const std::string& url : failed) {
            repair.AddFailed(url);
            recovery.AddRecovered(url);
        }
        repair.AddSaved("http://h:8001/docs/saved.html");
        std::string text = original;
        const std::size_t repaired = repair.RepairPage(page, text);
        EXPECT_GT(repaired, 0u);
        if (aggressive == 1) { // every scanner pass: no dead local link is left
            for (const std::string& url : failed)
                EXPECT_EQ(text.find(local(url)), std::string::npos) << url;
            EXPECT_EQ(text.find("\"Gone.class\""), std::string::npos);
        }
        EXPECT_EQ(recovery.RestorePage(page, text) > 0, repaired > 0);
        // The absolute link the page held from the start turns local like the repaired ones.
        const std::string expected = ReplaceText(original, "\"http://h:8001/docs/missing.png\"",
                                                 "\"" + local(failed[0]) + "\"", false);
        EXPECT_EQ(text, expected);
        // Once more: nothing left to do.
        std::string again = text;
        recovery.RestorePage(page, again);
        EXPECT_EQ(again, text);
    }

    // A style sheet, quoted and unquoted.
    const std::string sheetURL = "http://h:8001/docs/css/site.css";
    const std::string sheet = "a { background: url(" + UnquotedCssURL(LocalLink(failed[2], URLDirectory(sheetURL))) + ") }"
                              " @import \"" + LocalLink(failed[5], URLDirectory(sheetURL)) + "\";";
    TLinkRepair repair(1);
    TLinkRepair recovery(1);
    for (const std::string& url : failed) {
        repair.AddFailed(url);
        recovery.AddRecovered(url);
    }
    std::string text = sheet;
    EXPECT_EQ(repair.RepairPage(sheetURL, text, true), 2u);
    EXPECT_NE(text, sheet);
    EXPECT_EQ(recovery.RestorePage(sheetURL, text, true), 2u);
    EXPECT_EQ(text, sheet);
}

} // namespace
} // namespace pellix
