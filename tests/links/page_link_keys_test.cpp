// TPageLinkKeys and TLinkRepair::MayChange: a page that the keys of its links rule out is one the
// repair would leave exactly as it is.
#include "links/page_link_keys.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "links/link_repair.h"
#include "links/page_rewriter.h"
#include "links/url_rules.h"

namespace pellix {
namespace {

// Collects the keys as the parse thread does, and every address a link resolved to.
class TKeyRecorder final : public IPageRewriteObserver {
public:
    void OnLink(const TRewritePass& pass, const TLinkDecision& decision) override
    {
        keys.Add(pass, decision);
        if (!decision.url.empty())
            urls.insert(StripAnchor(std::string(decision.url)));
    }

    TLinkKeyList keys;
    std::set<std::string> urls;
};

struct TParsedPage {
    std::string url;
    bool sheet = false;
    std::string text;                  // as written back
    std::vector<std::uint64_t> keys;
};

TEST(TPageLinkKeysTest, PagesRuledOutAreThoseRepairLeavesAlone)
{
    const std::string site = "http://h:8001/docs/";
    struct TSource {
        const char* path;
        bool sheet;
        const char* text;
    };
    const TSource sources[] = {
        {"index.html", false,
         "<html><head><title>T</title><link rel=stylesheet href=\"css/site.css?v=2\"></head><body>"
         "<a href=\"guide/a b.html#top\">a</a>"
         "<img src=\"img/logo.png\" srcset=\"img/logo-2x.png 2x, img/logo%203x.png 3x\">"
         "<a href=\"http://other.invalid/pic.png\">o</a> <a href=\"/docs/rooted.html\">r</a>"
         "<applet codebase=\"../applets/\" code=\"Main.class\"></applet>"
         "<div style=\"background: url(img/bg%281%29.png)\"></div>"
         "<a href=\"img?id=7\">q</a> <a href=\"p.asp?id=3\">asp</a>"
         "<script>var a = 'img/script.png'; var b = \"guide/x.html\";</script></body></html>"},
        {"guide/a b.html", false,
         "<html><body><a href=\"../index.html\">up</a> <a href='../img/logo.png'>l</a>"
         "<frame src=\"frame.html\"></body></html>"},
        {"folders.html", false, "<html><body><a href=guide/>g</a> <a href=\"./\">here</a> <a href=\"../\">up</a></body></html>"},
        {"guide/frame.html", false, "<html><body><img src=\"../img/bg(1).png\"></body></html>"},
        {"plain.html", false, "<html><body><p>no links at all</p></body></html>"},
        {"css/site.css", true,
         "@import \"more.css\"; a { background: url( '../img/bg(1).png' ) } b { background: url(../img/b.gif) }"},
    };

    for (const int aggressive : {0, 1, 2}) {
        SCOPED_TRACE(aggressive);
        std::vector<TParsedPage> pages;
        std::set<std::string> linked;
        for (const TSource& source : sources) {
            TPageRewriteInput input;
            input.url = site + source.path;
            input.startURL = site + "index.html";
            input.styleSheet = source.sheet;
            input.aggressiveParser = aggressive;
            input.convertUnfollowedLinks = 1;
            input.groups = {{"HTML", ".htm;.html;"}, {"Images", ".gif;.jpg;.png;"}};
            const TPageRewriter rewriter(
                input,
                [](std::string_view url, std::string_view, int, std::string_view) {
                    return url.find("//h:8001/") != std::string_view::npos;
                },
                {});
            TKeyRecorder recorder;
            TPageRewrite rewrite = rewriter.Rewrite(source.text, &recorder);
            linked.insert(recorder.urls.begin(), recorder.urls.end());
            pages.push_back({input.url, source.sheet, std::move(rewrite.text), recorder.keys.Take()});
        }
        ASSERT_GT(linked.size(), 10u);
        linked.insert(site + "unlinked.png");

        std::size_t ruledOut = 0;
        std::size_t changed = 0;
        // Each linked address failing on its own, then renamed by its reply.
        for (const std::string& url : linked) {
            for (const bool renamed : {false, true}) {
                SCOPED_TRACE(url + (renamed ? " renamed" : " failed"));
                TLinkRepair repair(aggressive);
                if (renamed)
                    repair.AddRenamed(url, ".png");
                else
                    repair.AddFailed(url);
                for (const TParsedPage& page : pages) {
                    std::string text = page.text;
                    const std::size_t count = repair.RepairPage(page.url, text, page.sheet);
                    changed += count > 0 ? 1 : 0;
                    if (!repair.MayChange(page.keys)) {
                        ++ruledOut;
                        EXPECT_EQ(count, 0u) << page.url;
                        EXPECT_EQ(text, page.text) << page.url;
                    }
                }
            }
        }
        // Both kinds occur, or the test proves nothing.
        EXPECT_GT(changed, 10u);
        EXPECT_GT(ruledOut, changed);
    }
}

TEST(TPageLinkKeysTest, UnknownPagesAndRecoveredItemsAreAlwaysRead)
{
    TPageLinkKeys index;
    TLinkRepair repair(1);
    repair.AddFailed("http://h/docs/missing.png");
    index.Set("http://h/docs/a.html", {TLinkRepair::LinkKey("other.png")});
    index.Set("http://h/docs/b.html", {TLinkRepair::LinkKey("missing.png#x")});
    index.Set("http://h/docs/c.html", {TLinkRepair::LinkKey("sub/")});
    EXPECT_FALSE(index.MayChange("http://h/docs/a.html", repair));
    EXPECT_TRUE(index.MayChange("http://h/docs/b.html", repair));
    EXPECT_TRUE(index.MayChange("http://h/docs/c.html", repair)); // a folder link: not reasoned away
    EXPECT_TRUE(index.MayChange("http://h/docs/earlier.html", repair));
    // Recovered items are found by address, which a page may hold anywhere.
    repair.AddRecovered("http://h/docs/back.png");
    EXPECT_TRUE(index.MayChange("http://h/docs/a.html", repair));
    // Nothing to repair: no page needs reading.
    EXPECT_FALSE(index.MayChange("http://h/docs/a.html", TLinkRepair(1)));
    index.Clear();
    EXPECT_EQ(index.Count(), 0u);
    EXPECT_TRUE(index.MayChange("http://h/docs/a.html", repair));

    // Keys of what can name no local file.
    for (const char* value : {"", "#top", "/rooted.png", "http://h/a.png", "mailto:x@y", "p.asp?id=3"})
        EXPECT_EQ(TLinkRepair::LinkKey(value), TLinkRepair::kNoFileKey) << value;
    for (const char* value : {".", "..", "sub/", "a/./", "a/.."})
        EXPECT_EQ(TLinkRepair::LinkKey(value), TLinkRepair::kAnyFileKey) << value;
    EXPECT_EQ(TLinkRepair::LinkKey("a%20b.html#x"), TLinkRepair::LinkKey("../x/a b.html"));
    EXPECT_NE(TLinkRepair::LinkKey("a.html"), TLinkRepair::LinkKey("A.html"));
}

} // namespace
} // namespace pellix
