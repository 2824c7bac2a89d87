// Tests of TPageRewriter on its own: what it decides for each link, the passes it runs, what it
// hands its observer, and the memory a dense style sheet costs.
#include "links/page_rewriter.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "links/banner.h"
#include "links/resolved_link_cache.h"

namespace pellix {
namespace {

constexpr const char* kPage = "http://host/d/index.html";

TPageRewriteInput PageInput()
{
    TPageRewriteInput input;
    input.url = kPage;
    input.startURL = kPage;
    input.aggressiveParser = 0;
    input.groups = {{"HTML", ".htm;.html;"}, {"Images", ".gif;.jpg;"}};
    return input;
}

// A link test that accepts the URLs of a set and records the level each link was tested at.
struct TLinkRules {
    std::set<std::string> accepted;
    std::set<std::string> known;
    mutable std::vector<std::pair<std::string, int>> tested;

    TPageRewriter Rewriter(TPageRewriteInput input) const
    {
        return TPageRewriter(
            std::move(input),
            [this](std::string_view url, std::string_view startFolder, int level, std::string_view) {
                EXPECT_EQ(startFolder, "http://host/d/");
                tested.emplace_back(std::string(url), level);
                return accepted.contains(std::string(url));
            },
            [this](std::string_view url) { return known.contains(std::string(url)); });
    }
};

// Records what the rewriter reports; takes no links unless told to.
class TRecorder final : public IPageRewriteObserver {
public:
    struct TPassSeen {
        TRewritePassKind kind;
        std::string tag;
        std::string attribute;
    };

    void OnStart(std::string_view text, const std::string& title) override
    {
        startText = std::string(text);
        this->title = title;
    }
    void OnLink(const TRewritePass&, const TLinkDecision& decision) override { values.emplace_back(decision.value); }
    bool OnPassEnd(const TPassReport& report, std::vector<TQueuedLink>& queued) override
    {
        passes.push_back({report.pass.kind, std::string(report.pass.tag), std::string(report.pass.attribute)});
        if (takeLinks) {
            taken.insert(taken.end(), queued.begin(), queued.end());
            queued.clear();
        }
        return static_cast<int>(passes.size()) < stopAfter;
    }

    bool takeLinks = false;
    int stopAfter = 1000;
    std::string startText;
    std::string title;
    std::vector<std::string> values;
    std::vector<TPassSeen> passes;
    std::vector<TQueuedLink> taken;
};

std::vector<std::string> URLsOf(const std::vector<TQueuedLink>& links)
{
    std::vector<std::string> urls;
    for (const TQueuedLink& link : links)
        urls.push_back(link.url);
    return urls;
}

TEST(PageRewriterTest, EachLinkIsQueuedAndWrittenAsTheRulesSay)
{
    // The start site is http://host/; "/d/" is the start folder.
    struct TCase {
        const char* name;
        std::string href;
        int followed;   // ConvertFollowedLinks
        int unfollowed; // ConvertUnfollowedLinks
        std::string written;
        std::vector<std::string> queued;
        TPassCounts counts;
    };
    const TCase cases[] = {
        {"accepted and new", "a.html", 1, 0, "a.html", {"http://host/d/a.html"}, {1, 1}},
        {"accepted, not converted", "a.html#x", 0, 2, "a.html#x", {"http://host/d/a.html"}, {1, 1}},
        {"accepted absolute, made local", "http://host/d/sub/b.html#x", 1, 0, "sub/b.html#x",
         {"http://host/d/sub/b.html"}, {1, 1}},
        {"known to the task: written and counted, not queued", "http://host/d/known.html", 1, 0, "known.html", {},
         {1, 0}},
        {"rejected on the start site, unfollowed 1", "http://host/other/o.html", 1, 1, "../other/o.html", {}, {0, 0}},
        {"rejected on another server, unfollowed 1", "http://away/e.html", 1, 1, "http://away/e.html", {}, {0, 0}},
        {"rejected on another server, unfollowed 2", "http://away/e.html#x", 1, 2, "../../away/e.html#x", {},
         {0, 0}},
        {"rejected, unfollowed 0", "http://host/other/o.html", 1, 0, "http://host/other/o.html", {}, {0, 0}},
        {"mailto is never written", "mailto:me@host", 1, 2, "mailto:me@host", {}, {0, 0}},
        {"an address with mailto: in it is not written when rejected", "http://away/mailto:x.html", 1, 2,
         "http://away/mailto:x.html", {}, {0, 0}},
        {"other schemes are no links", "ftp://host/f.zip", 1, 2, "ftp://host/f.zip", {}, {0, 0}},
        {"anchors in the page are skipped", "#top", 1, 2, "#top", {}, {0, 0}},
    };
    TLinkRules rules;
    rules.accepted = {"http://host/d/a.html", "http://host/d/a.html#x", "http://host/d/sub/b.html#x",
                      "http://host/d/known.html"};
    rules.known = {"http://host/d/known.html"};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TPageRewriteInput input = PageInput();
        input.convertFollowedLinks = c.followed;
        input.convertUnfollowedLinks = c.unfollowed;
        input.noAds = true;
        const TPageRewrite result = rules.Rewriter(input).Rewrite("<a href=\"" + c.href + "\">x</a>");
        EXPECT_EQ(result.text, "<a href=\"" + c.written + "\">x</a>");
        EXPECT_EQ(URLsOf(result.queued), c.queued);
        ASSERT_FALSE(result.passes.empty());
        EXPECT_EQ(result.passes[0].links, c.counts.links);
        EXPECT_EQ(result.passes[0].newLinks, c.counts.newLinks);
    }

    // The same file twice in a page (another anchor, another letter case in the host) is queued
    // once but counted each time; a path in another case is another file.
    TPageRewriteInput input = PageInput();
    rules.accepted = {"http://host/d/a.html", "http://host/d/a.html#x", "http://HOST/d/a.html", "http://host/d/A.html"};
    const TPageRewrite twice = rules.Rewriter(input).Rewrite(
        "<a href=a.html>1</a><a href=a.html#x>2</a><a href=http://HOST/d/a.html>3</a><a href=A.html>4</a>");
    EXPECT_EQ(URLsOf(twice.queued), (std::vector<std::string>{"http://host/d/a.html", "http://host/d/A.html"}));
    EXPECT_EQ(twice.passes[0].links, 4);
    EXPECT_EQ(twice.passes[0].newLinks, 2);
}

// A link repeated in a page (menus, headers) is decided once per context: every copy is counted,
// reported and written alike, and the same text in an image tag is decided as an image.
TEST(PageRewriterTest, RepeatedLinksAreDecidedOncePerContextAndWrittenAlike)
{
    TLinkRules rules;
    rules.accepted = {"http://host/d/x.php", "http://host/d/y.html"};
    TRecorder recorder;
    TPageRewriteInput input = PageInput();
    input.noAds = true;
    const TPageRewrite result = rules.Rewriter(input).Rewrite(
        "<a href=x.php>1</a><a href=y.html>2</a><a href=x.php>3</a><img src=x.php><a href=x.php>4</a>", &recorder);
    EXPECT_EQ(result.text, "<a href=x.php>1</a><a href=y.html>2</a><a href=x.php>3</a><img src=x.php><a href=x.php>4</a>");
    EXPECT_EQ(URLsOf(result.queued), (std::vector<std::string>{"http://host/d/x.php", "http://host/d/y.html"}));
    ASSERT_GE(result.passes.size(), 2u);
    EXPECT_EQ(result.passes[0].links, 4); // the A pass
    EXPECT_EQ(result.passes[0].newLinks, 2);
    EXPECT_EQ(result.passes[1].links, 1); // the IMG pass: queued by then, so not new
    EXPECT_EQ(result.passes[1].newLinks, 0);
    EXPECT_EQ(recorder.values.size(), 5u);
    // Tested once in the A pass and once as an image, not at every copy.
    EXPECT_EQ(rules.tested, (std::vector<std::pair<std::string, int>>{
                                {"http://host/d/x.php", 1}, {"http://host/d/y.html", 1}, {"http://host/d/x.php", 1}}));
}

// Links resolved for one page serve the next pages of the folder, yet each page still tests them
// at its own level and names them as the task knows them by then.
TEST(PageRewriterTest, LinksResolvedForOnePageAreDecidedAfreshOnTheNext)
{
    std::map<std::string, std::string> known; // URL -> the list's type extension
    const auto rewrite = [&](TResolvedLinkCache* cache, int depth) {
        TPageRewriteInput input = PageInput();
        input.depth = depth;
        input.noAds = true;
        input.convertUnfollowedLinks = 0;
        TPageRewriter rewriter(
            std::move(input),
            [](std::string_view, std::string_view, int level, std::string_view group) {
                return group != "HTML" || level <= 2;
            },
            [&](std::string_view url) { return known.contains(std::string(url)); },
            [&](std::string_view url) { return known.at(std::string(url)); });
        rewriter.SetResolvedLinks(cache);
        return rewriter.Rewrite("<a href=http://host/d/p.html>1</a><img src=\"q.cgi?x=1\">").text;
    };
    TResolvedLinkCache cache;
    std::vector<std::string> texts[2];
    for (const bool cached : {false, true}) {
        known.clear();
        texts[cached].push_back(rewrite(cached ? &cache : nullptr, 0));
        // The task now holds both, the image as a ".png"; the next page is too deep for pages.
        known = {{"http://host/d/p.html", ""}, {"http://host/d/q.cgi?x=1", ".png"}};
        texts[cached].push_back(rewrite(cached ? &cache : nullptr, 2));
        texts[cached].push_back(rewrite(cached ? &cache : nullptr, 0));
    }
    EXPECT_GT(cache.Size(), 0u);
    EXPECT_EQ(texts[1], texts[0]);
    EXPECT_TRUE(texts[0][0].starts_with("<a href=p.html>")) << texts[0][0];
    EXPECT_TRUE(texts[0][1].starts_with("<a href=http://host/d/p.html>")) << texts[0][1]; // tested at level 3
    EXPECT_TRUE(texts[0][2].starts_with("<a href=p.html>")) << texts[0][2];
    EXPECT_NE(texts[0][1].find(".png\">"), std::string::npos) << texts[0][1];
    EXPECT_EQ(texts[0][0].find(".png"), std::string::npos) << texts[0][0];
}

TEST(PageRewriterTest, QueuedLinksCarryThePageFieldsAndTheLevelTheyWereTestedAt)
{
    TPageRewriteInput input = PageInput();
    input.depth = 2;
    input.action = kActionMap;
    TLinkRules rules;
    rules.accepted = {"http://host/d/f.html", "http://host/d/i.html", "http://host/d/a.html", "http://host/d/p.gif",
                      "http://host/d/next.html", "http://host/d/s.gif"};
    const TPageRewrite result = rules.Rewriter(input).Rewrite(
        "<body><frame src=f.html><iframe src=i.html></iframe><a href=a.html> The\r\n text </a>"
        "<img src=p.gif srcset=\"s.gif 2x\"><meta http-equiv=refresh content=\"0; URL=next.html\"></body>");

    struct TExpected {
        std::string url;
        int level;
        bool framed;
        int action;
        std::string title;
    };
    // Link table order: FRAME, A, IMG, META, IFRAME, then the srcset list.
    const std::vector<TExpected> expected = {
        {"http://host/d/f.html", 2, true, kActionMap, ""},     // a framed page counts at its holder's level
        {"http://host/d/a.html", 3, false, kActionMap, "The text"},
        {"http://host/d/p.gif", 3, false, kActionSkip, ""},    // resources under Map are skipped
        {"http://host/d/next.html", 2, false, kActionMap, ""}, // so does a refresh target
        {"http://host/d/i.html", 2, true, kActionMap, ""},
        {"http://host/d/s.gif", 3, false, kActionSkip, ""},
    };
    ASSERT_EQ(result.queued.size(), expected.size());
    ASSERT_EQ(rules.tested.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].url);
        const TQueuedLink& link = result.queued[i];
        EXPECT_EQ(link.url, expected[i].url);
        EXPECT_EQ(rules.tested[i], std::make_pair(expected[i].url, expected[i].level));
        EXPECT_EQ(link.framed, expected[i].framed);
        EXPECT_EQ(link.action, expected[i].action);
        EXPECT_EQ(link.title, expected[i].title);
        EXPECT_EQ(link.depth, 3);
        EXPECT_EQ(link.parentURL, kPage);
        EXPECT_EQ(link.typeGroup, link.url.ends_with(".gif") ? "Images" : "HTML");
    }
}

TEST(PageRewriterTest, PassesRunInTableOrderForTheTagsThePageHolds)
{
    const std::string page = "<html><head><title> Two\r\n Words </title><BASE href=\"http://host/b/\"></head>"
                             "<body><a href=a.html>a</a><img src=b.gif srcset=\"c.gif 2x\">"
                             "<script>var d = 'd.gif';</script><p style=\"x:url(e.gif)\"></p></body></html>";
    using K = TRewritePassKind;
    struct TCase {
        int aggressive;
        bool styleSheet;
        std::vector<std::string> passes; // tag/attribute
        std::vector<std::string> values;
    };
    const TCase cases[] = {
        // BODY and SCRIPT are in the page (and in the table), though without a link.
        {0, false, {"A/HREF", "IMG/SRC", "BODY/BACKGROUND", "SCRIPT/SRC", "IMG/SRCSET", "STYLE/"},
         {"a.html", "b.gif", "c.gif", "e.gif"}},
        {1, false, {"A/HREF", "IMG/SRC", "BODY/BACKGROUND", "SCRIPT/SRC", "IMG/SRCSET", "STYLE/", "'/", "\"/"},
         {"a.html", "b.gif", "c.gif", "e.gif", "d.gif"}},
        {2, false, {"'/", "\"/"}, {}},
        // In a sheet the markup is only text: the quotes of the style attribute are a CSS string.
        {1, true, {"STYLE/"}, {}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.aggressive << (c.styleSheet ? " sheet" : " page"));
        TPageRewriteInput input = PageInput();
        input.aggressiveParser = c.aggressive;
        input.styleSheet = c.styleSheet;
        TRecorder recorder;
        const TPageRewrite result = TLinkRules().Rewriter(input).Rewrite(page, &recorder);
        std::vector<std::string> passes;
        for (const TRecorder::TPassSeen& pass : recorder.passes) {
            passes.push_back(pass.tag + "/" + pass.attribute);
            EXPECT_EQ(pass.kind, pass.tag == "STYLE" ? K::Style
                                 : pass.attribute.empty() ? K::Strings
                                 : pass.attribute == "SRCSET" ? K::List
                                                              : K::Tag);
        }
        EXPECT_EQ(passes, c.passes);
        EXPECT_EQ(result.passes.size(), c.passes.size());
        if (c.aggressive != 2) {
            EXPECT_EQ(recorder.values, c.values);
        }
        if (c.styleSheet) {
            // A sheet keeps its text: no BASE removal, no title, no banner.
            EXPECT_EQ(recorder.startText, page);
            EXPECT_EQ(result.title, "");
            EXPECT_EQ(result.text, page);
        } else {
            EXPECT_EQ(recorder.startText.find("BASE"), std::string::npos);
            EXPECT_EQ(recorder.title, "Two Words");
            EXPECT_EQ(result.title, "Two Words");
            EXPECT_TRUE(HasBanner(result.text));
        }
    }
}

TEST(PageRewriterTest, ObserverTakesEachPassLinksLeavesThemOrStops)
{
    const std::string page = "<body><a href=a.html>a</a><img src=b.gif><img src=c.gif></body>";
    TLinkRules rules;
    rules.accepted = {"http://host/d/a.html", "http://host/d/b.gif", "http://host/d/c.gif"};
    TPageRewriteInput input = PageInput();
    const TPageRewriter rewriter = rules.Rewriter(input);

    TRecorder taker;
    taker.takeLinks = true;
    const TPageRewrite taken = rewriter.Rewrite(page, &taker);
    EXPECT_TRUE(taken.queued.empty());
    EXPECT_EQ(URLsOf(taker.taken), (std::vector<std::string>{"http://host/d/a.html", "http://host/d/b.gif",
                                                             "http://host/d/c.gif"}));

    TRecorder leaver;
    const TPageRewrite left = rewriter.Rewrite(page, &leaver);
    EXPECT_EQ(URLsOf(left.queued), URLsOf(taker.taken));
    EXPECT_EQ(left.text, taken.text);
    ASSERT_EQ(left.passes.size(), 5u); // A, IMG, BODY, the srcset list of IMG, style
    EXPECT_EQ(left.passes[1].links, 2);
    EXPECT_FALSE(left.stopped);

    // An observer that cannot hand the links on stops the page: nothing more is scanned.
    TRecorder stopper;
    stopper.stopAfter = 1;
    const TPageRewrite stopped = rewriter.Rewrite(page, &stopper);
    EXPECT_TRUE(stopped.stopped);
    EXPECT_EQ(stopper.values, std::vector<std::string>{"a.html"});
    EXPECT_EQ(stopped.passes.size(), 1u);
}

// An index page with more new links than a batch hands them over while its pass runs, in the
// order found; a refused batch stops the rewrite at that pass's end.
TEST(PageRewriterTest, LongPassHandsItsLinksOverInBatches)
{
    class TBatchTaker final : public IPageRewriteObserver {
    public:
        bool OnLinksQueued(const TRewritePass&, std::vector<TQueuedLink>& queued) override
        {
            batches.push_back(queued.size());
            taken.insert(taken.end(), queued.begin(), queued.end());
            queued.clear();
            return !refuse;
        }
        bool OnPassEnd(const TPassReport&, std::vector<TQueuedLink>& queued) override
        {
            atEnds.push_back(queued.size());
            taken.insert(taken.end(), queued.begin(), queued.end());
            queued.clear();
            return true;
        }
        bool refuse = false;
        std::vector<std::size_t> batches;
        std::vector<std::size_t> atEnds;
        std::vector<TQueuedLink> taken;
    };
    constexpr std::size_t kBatch = IPageRewriteObserver::kQueueBatch;
    const std::size_t count = 2 * kBatch + 7;
    TLinkRules rules;
    std::string page = "<body>";
    std::vector<std::string> expected;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string name = "p" + std::to_string(i) + ".html";
        page += "<a href=" + name + ">x</a><a href=" + name + ">again</a>";
        expected.push_back("http://host/d/" + name);
        rules.accepted.insert(expected.back());
    }
    page += "</body>";
    const TPageRewriter rewriter = rules.Rewriter(PageInput());

    TBatchTaker taker;
    const TPageRewrite result = rewriter.Rewrite(page, &taker);
    EXPECT_EQ(taker.batches, (std::vector<std::size_t>{kBatch, kBatch}));
    ASSERT_FALSE(taker.atEnds.empty());
    EXPECT_EQ(taker.atEnds.front(), 7u); // the A pass's rest
    EXPECT_EQ(URLsOf(taker.taken), expected);
    EXPECT_EQ(result.passes.front().newLinks, static_cast<int>(count));
    EXPECT_FALSE(result.stopped);

    TBatchTaker refuser;
    refuser.refuse = true;
    const TPageRewrite stopped = rewriter.Rewrite(page, &refuser);
    EXPECT_EQ(refuser.batches, std::vector<std::size_t>{kBatch});
    EXPECT_TRUE(refuser.atEnds.empty());
    EXPECT_TRUE(stopped.stopped);
    EXPECT_EQ(stopped.passes.size(), 1u);
    EXPECT_EQ(stopped.queued.size(), count - kBatch); // what was not handed over stays
}

TEST(PageRewriterTest, BannerOnlyForPagesShownOnTheirOwnWithAdsOn)
{
    struct TCase {
        bool framed;
        bool noAds;
        bool styleSheet;
        bool banner;
    };
    const TCase cases[] = {
        {false, false, false, true},
        {true, false, false, false},
        {false, true, false, false},
        {false, false, true, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.framed << c.noAds << c.styleSheet);
        TPageRewriteInput input = PageInput();
        input.framed = c.framed;
        input.noAds = c.noAds;
        input.styleSheet = c.styleSheet;
        const TPageRewrite result = TLinkRules().Rewriter(input).Rewrite("<html><body>x</body></html>");
        EXPECT_EQ(HasBanner(result.text), c.banner);
    }
}

// The block as a saved page starts with it, byte for byte: its page is the one the task writes at
// the root of the saved site, reached from the page's own folder.
TEST(PageRewriterTest, BannerBlockLoadsTheLocalBannerPage)
{
    const std::string top =
        "<html><body>\r\n"
        "<!-- Brackwell Pellix Ad Banner Insert -->\r\n"
        "<TABLE width=100% border=\"0\" cellpadding=\"0\" cellspacing=\"0\">\r\n"
        "<TR>\r\n"
        "<TD>\r\n"
        "<ILAYER id=ad1 visibility=hidden height=60></ILAYER>\r\n"
        "<NOLAYER>\r\n"
        "<IFRAME SRC=\"../../PellixBanner.htm\" width=\"100%\" height=\"60\" marginwidth=0 marginheight=0 "
        "hspace=0 vspace=0 frameborder=0 scrolling=no></IFRAME>\r\n"
        "</NOLAYER>\r\n"
        "</TD>\r\n"
        "</TR>\r\n"
        "</TABLE>\r\n"
        "<!-- End of Brackwell Pellix Ad Banner Insert-->\r\n"
        "x\r\n"
        "<layer src=\"../../PellixBanner.htm\" visibility=hidden id=a1 width=600 "
        "onload=\"moveToAbsolute(ad1.pageX,ad1.pageY); a1.clip.height=60; a1.visibility='show';\"></layer>\r\n"
        "</body></html>";
    const TPageRewrite once = TLinkRules().Rewriter(PageInput()).Rewrite("<html><body>x</body></html>");
    EXPECT_EQ(once.text, top);

    // Parsed again (a run stopped before its list was saved), or saved by a version whose block
    // loaded a page from the web: the block is not read as the page's links, and is placed anew.
    TLinkRules rules;
    TRecorder recorder;
    EXPECT_EQ(rules.Rewriter(PageInput()).Rewrite(once.text, &recorder).text, top);
    std::string old = once.text;
    for (std::size_t at = old.find("../../PellixBanner.htm"); at != std::string::npos;
         at = old.find("../../PellixBanner.htm"))
        old.replace(at, 22, "https://pellix.org/banner.htm");
    const TPageRewrite again = rules.Rewriter(PageInput()).Rewrite(old, &recorder);
    EXPECT_EQ(again.text, top);
    EXPECT_TRUE(again.queued.empty());
    EXPECT_TRUE(rules.tested.empty());

    // From the top folder of a host the banner page is one folder up.
    TPageRewriteInput top1 = PageInput();
    top1.url = "http://host/";
    top1.startURL = "http://host/d/";
    EXPECT_NE(TLinkRules().Rewriter(top1).Rewrite("<body></body>").text.find("SRC=\"../PellixBanner.htm\""),
              std::string::npos);
}

// Peak resident memory in bytes (VmHWM) or the current one (VmRSS); 0 when unknown.
[[maybe_unused]] long long StatusBytes(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::stringstream text;
    text << status.rdbuf();
    const std::string s = text.str();
    const std::size_t at = s.find(field);
    return at == std::string::npos ? 0 : std::strtoll(s.c_str() + at + std::string(field).size(), nullptr, 10) * 1024;
}

// A style sheet made only of links costs about two copies of its text, however many links it
// holds: they are taken one at a time and the new text is built as they come.
TEST(PageRewriterTest, DenseStyleSheetIsRewrittenInBoundedMemory)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's own memory would count too";
#else
    constexpr std::size_t kSize = 2 << 20;
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A fresh high-water mark, from what the child holds now.
        std::ofstream("/proc/self/clear_refs") << "5";
        const long long before = StatusBytes("VmRSS:");
        std::string sheet;
        sheet.reserve(kSize);
        // Every link changes (a blank is encoded), so the whole text is rebuilt.
        for (int i = 0; sheet.size() + 32 < kSize; ++i)
            sheet += "url('i/x " + std::to_string(i % 100) + ".gif')\n";
        TPageRewriteInput input = PageInput();
        input.url = "http://host/d/css/site.css";
        input.styleSheet = true;
        const TPageRewrite result =
            TPageRewriter(input, [](auto, auto, int, auto) { return true; }, nullptr).Rewrite(std::move(sheet));
        const bool rewritten = result.text.find("url('i/x%2042.gif')") != std::string::npos;
        const std::string report = std::to_string(rewritten ? StatusBytes("VmHWM:") - before : -1);
        [[maybe_unused]] const ssize_t wrote = ::write(pipe[1], report.data(), report.size());
        ::_exit(0);
    }
    ::close(pipe[1]);
    char buffer[64] = {};
    const ssize_t got = ::read(pipe[0], buffer, sizeof buffer - 1);
    ::close(pipe[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_GT(got, 0);
    const long long grown = std::strtoll(buffer, nullptr, 10);
    std::printf("[ measured ] %zu MB sheet of links: peak grew by %lld MB\n", kSize >> 20, grown >> 20);
    ASSERT_GT(grown, 0) << "not rewritten, or no memory figures";
    // The text, its rewritten copy and some slack; a list of links and edits costs several times that.
    EXPECT_LT(grown, static_cast<long long>(3 * kSize));
#endif
}

} // namespace
} // namespace pellix
