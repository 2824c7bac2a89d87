// Tests of TThreadParse: the links it queues, how it rewrites pages, and the states pages end in.
#include "links/parse_thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/download_list.h"
#include "engine/loop_owner_thread.h"
#include "engine/task.h"
#include "links/banner.h"
#include "links/file_io.h"
#include "links/url_rules.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_app.h"
#include "workspace/app_settings.h"

namespace pellix {
namespace {

using namespace std::chrono_literals;

// What a queue item of the list holds, read on the owner thread.
struct TItemView {
    std::string url;
    int state = -1;
    int action = -1;
    int depth = -1;
    std::string parent;
    std::string title;
    std::string frameFlag;
    std::string statusText;
    std::string typeGroup;
};

// An Intranet-mode task in a temp folder with pages saved by hand, and a parse thread over it.
class ParseThreadTest : public ::testing::Test {
protected:
    ParseThreadTest()
    {
        m_app = test::MakeTestApp(m_folder.Path(), {{"HTML", ".htm;.html;"}, {"Images", ".gif;.jpg;"}});
        m_task = std::make_shared<TPXTask>(m_app.get());
        m_task->SetTaskName("Site");
        m_task->SetTaskFile((m_folder.Path() / "General" / "Site.pxt").string());
        m_task->SetIntranetMode(true);
        m_task->SetDestination(Root());
        m_parse = std::make_unique<TThreadParse>(m_owner);
    }

    ~ParseThreadTest() override { m_parse.reset(); }

    std::string Root() const { return (m_folder.Path() / "site").string() + "/"; }
    std::string FileOf(const std::string& url) const { return LocalFileName(Root(), URLDirectory(url), url); }
    std::string SavedText(const std::string& url) const { return ReadWholeFile(FileOf(url)).value_or("<missing>"); }

    // Adds url as an item saved with the given page text; the first one is the start page.
    void AddSaved(const std::string& url, const std::string& text, int depth = 0,
                  int action = kActionDownload, const std::string& frameFlag = "")
    {
        if (m_task->URL().empty())
            m_task->SetURL(url);
        std::filesystem::create_directories(std::filesystem::path(FileOf(url)).parent_path());
        ASSERT_TRUE(WriteFileAtomically(FileOf(url), text));
        ASSERT_TRUE(m_owner.Call([&] {
            TPXQItem& item = m_task->DownloadList().AddItem(m_task->MakeItem(url, action));
            item.Reload();
            item.SetDepth(depth);
            item.SetFrameFlag(frameFlag);
            item.SetState(kStateSaved);
            item.WriteBack(true);
        }));
    }

    // Lets the thread work until nothing saved is left.
    void Parse()
    {
        m_parse->Start(m_task);
        m_parse->Wake();
        ASSERT_TRUE(m_parse->WaitForIdle(std::chrono::steady_clock::now() + 60s));
    }

    std::vector<TItemView> Items()
    {
        std::vector<TItemView> views;
        EXPECT_TRUE(m_owner.Call([&] {
            const TPXDownloadList& list = m_task->DownloadList();
            for (std::size_t i = 0; i < list.Count(); ++i) {
                const std::string record = list.Line(2 * i + 1);
                TItemView view;
                view.url = list.Line(2 * i);
                view.state = list.Item(i)->State();
                view.action = list.Item(i)->Action();
                view.statusText = TPXDownloadList::RecordField(record, 1);
                view.typeGroup = TPXDownloadList::RecordField(record, 2);
                view.depth = std::stoi(TPXDownloadList::RecordField(record, 4));
                view.parent = TPXDownloadList::RecordField(record, 5);
                view.title = TPXDownloadList::RecordField(record, 8);
                view.frameFlag = TPXDownloadList::RecordField(record, 10);
                views.push_back(view);
            }
        }));
        return views;
    }

    std::vector<std::string> URLs()
    {
        std::vector<std::string> urls;
        for (const TItemView& item : Items())
            urls.push_back(item.url);
        return urls;
    }

    TItemView ItemOf(const std::string& url)
    {
        for (const TItemView& item : Items()) {
            if (item.url == url)
                return item;
        }
        ADD_FAILURE() << "no item for " << url;
        return {};
    }

    TPXProfile& Profile() { return m_task->Profile(); }

    test::TTempFolder m_folder;
    std::unique_ptr<TPXApp> m_app;
    std::shared_ptr<TPXTask> m_task;
    TLoopOwnerThread m_owner;
    std::unique_ptr<TThreadParse> m_parse;
};

TEST_F(ParseThreadTest, QueuesAcceptedLinksOnceAndRewritesThemForOfflineUse)
{
    std::vector<std::string> statuses;
    m_parse->SetOnStatus([&](const std::string& text) { statuses.push_back(text); });
    int queuedCalls = 0;
    m_parse->SetOnItemsQueued([&] { ++queuedCalls; });
    AddSaved("http://host/docs/index.html",
             "<HTML><HEAD><TITLE>\r\n Docs  Home\r\n</TITLE></HEAD><BODY>\n"
             "<a href=\"guide.html\">The guide</a>\n"
             "<A HREF=Guide.HTML>other file, other case</A>\n"
             "<a href='guide.html#part2'>anchor</a>\n"
             "<a href=\"#top\">top</a>\n"
             "<a href=\"mailto:me@host\">mail</a>\n"
             "<a href=\"/top.html\">root page</a>\n"
             "<a href=\"http://elsewhere/x.html\">away</a>\n"
             "<img src=\"pics/logo.gif\"><frame src=\"frame.html\">\n"
             "</BODY></HTML>");
    Parse();

    // Link table order: the FRAME pass runs before the A and IMG passes.
    EXPECT_EQ(URLs(), (std::vector<std::string>{"http://host/docs/index.html", "http://host/docs/frame.html",
                                                "http://host/docs/guide.html", "http://host/docs/Guide.HTML",
                                                "http://host/top.html", "http://host/docs/pics/logo.gif"}));
    const TItemView start = ItemOf("http://host/docs/index.html");
    EXPECT_EQ(start.state, kStateParsed);
    EXPECT_EQ(start.title, "Docs  Home");
    EXPECT_EQ(m_task->StartPageTitle(), "Docs  Home");

    const TItemView guide = ItemOf("http://host/docs/guide.html");
    EXPECT_EQ(guide.state, kStateNone);
    EXPECT_EQ(guide.depth, 1);
    EXPECT_EQ(guide.parent, "http://host/docs/index.html");
    EXPECT_EQ(guide.title, "The guide");
    EXPECT_EQ(guide.typeGroup, "HTML");
    EXPECT_EQ(ItemOf("http://host/docs/frame.html").frameFlag, "Y");
    EXPECT_EQ(ItemOf("http://host/docs/pics/logo.gif").typeGroup, "Images");

    const std::string page = SavedText("http://host/docs/index.html");
    EXPECT_NE(page.find("<a href=\"guide.html\">"), std::string::npos);
    EXPECT_NE(page.find("<a href='guide.html#part2'>"), std::string::npos);
    EXPECT_NE(page.find("<a href=\"#top\">"), std::string::npos);
    EXPECT_NE(page.find("<a href=\"mailto:me@host\">"), std::string::npos);
    EXPECT_NE(page.find("<a href=\"../top.html\">"), std::string::npos);
    EXPECT_NE(page.find("<a href=\"http://elsewhere/x.html\">"), std::string::npos);
    // A path in another letter case is another file: queued, and its link keeps its own case.
    EXPECT_NE(page.find("<A HREF=Guide.HTML>"), std::string::npos);
    EXPECT_NE(page.find("<img src=\"pics/logo.gif\">"), std::string::npos);
    // The banner block sits after <BODY> and its layer before </BODY>.
    const std::size_t body = page.find("<BODY>");
    const std::size_t banner = page.find(kBannerStartComment);
    const std::size_t layer = page.find("<layer src=\"");
    ASSERT_NE(banner, std::string::npos);
    EXPECT_EQ(banner, body + 6 + 2);
    ASSERT_NE(layer, std::string::npos);
    EXPECT_LT(layer, page.find("</BODY>"));
    // Its page is the one the run wrote at the root of the saved site, two folders up.
    EXPECT_NE(page.find("<IFRAME SRC=\"../../PellixBanner.htm\""), std::string::npos);
    EXPECT_NE(page.find("<layer src=\"../../PellixBanner.htm\""), std::string::npos);
    const std::string bannerPage = ReadWholeFile(Root() + kBannerPageName).value_or("");
    EXPECT_NE(bannerPage.find("Saved with Pellix"), std::string::npos);
    EXPECT_NE(bannerPage.find("http://host/docs/index.html"), std::string::npos);

    EXPECT_GE(queuedCalls, 1);
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Parsing... Links: 4  New Links: 3"), statuses.end())
        << "the A pass counts guide.html twice (new once), Guide.HTML, /top.html, and not the rest";
    EXPECT_EQ(statuses.back(), "");
}

TEST_F(ParseThreadTest, FramedPageCountsAtItsHolderLevelAndGetsNoBanner)
{
    Profile().SetDepth(1);
    AddSaved("http://host/index.html", "<html><body>start</body></html>");
    AddSaved("http://host/one.html",
             "<body><frameset><frame src=\"framed.html\"></frameset><a href=\"two.html\">x</a></body>", 1);
    Parse();
    // The frame is tested at level 1 (accepted) and stored at depth 2; the anchor at level 2.
    const TItemView framed = ItemOf("http://host/framed.html");
    EXPECT_EQ(framed.depth, 2);
    EXPECT_EQ(framed.frameFlag, "Y");
    for (const std::string& url : URLs())
        EXPECT_NE(url, "http://host/two.html");

    // The framed page's own links are tested at level 3: none is followed.
    const std::string framedPage = "<body><a href=\"three.html\">3</a><frame src=\"four.html\"></body>";
    ASSERT_TRUE(WriteFileAtomically(FileOf("http://host/framed.html"), framedPage));
    ASSERT_TRUE(m_owner.Call([&] {
        TPXQItem* item = m_task->DownloadList().Item(2);
        item->Reload();
        item->SetState(kStateSaved);
        item->WriteBack(true);
    }));
    Parse();
    EXPECT_EQ(URLs().size(), 3u);
    EXPECT_EQ(ItemOf("http://host/framed.html").state, kStateParsed);
    const std::string saved = SavedText("http://host/framed.html");
    EXPECT_EQ(saved.find(kBannerStartComment), std::string::npos);
    EXPECT_NE(SavedText("http://host/one.html").find(kBannerStartComment), std::string::npos);
}

TEST_F(ParseThreadTest, MapActionSkipsResourcesAndAreaLinksAreReadOnce)
{
    AddSaved("http://host/map.html",
             "<body><img src=\"a.gif\" usemap=\"#m\"><map name=\"m\">"
             "<area shape=rect coords=\"0,0,1,1\" href=\"r.html\"><AREA HREF=\"s.gif\"></map>"
             "<a href=\"p.html\">p</a><abbr href=\"q.html\">q</abbr></body>",
             0, kActionMap);
    Parse();
    EXPECT_EQ(URLs(), (std::vector<std::string>{"http://host/map.html", "http://host/p.html", "http://host/a.gif",
                                                "http://host/r.html", "http://host/s.gif"}));
    EXPECT_EQ(ItemOf("http://host/p.html").action, kActionMap);
    EXPECT_EQ(ItemOf("http://host/r.html").action, kActionMap);
    EXPECT_EQ(ItemOf("http://host/a.gif").action, kActionSkip);
    EXPECT_EQ(ItemOf("http://host/s.gif").action, kActionSkip);
}

TEST_F(ParseThreadTest, BaseTagIsRemovedAndItsFolderResolvesTheLinks)
{
    AddSaved("http://host/b/page.html",
             "<html><head><BASE HREF=\"http://host/a/index.html\"></head>"
             "<body><a href=\"x.html\">x</a><img src=\"/img/y.gif\"></body></html>");
    Parse();
    EXPECT_EQ(URLs(), (std::vector<std::string>{"http://host/b/page.html", "http://host/a/x.html",
                                                "http://host/img/y.gif"}));
    const std::string page = SavedText("http://host/b/page.html");
    EXPECT_EQ(page.find("BASE"), std::string::npos);
    // The saved page has no BASE tag any more, so its links lead from its own folder.
    EXPECT_NE(page.find("<a href=\"../a/x.html\">"), std::string::npos) << page;
    EXPECT_NE(page.find("<img src=\"../img/y.gif\">"), std::string::npos) << page;
}

TEST_F(ParseThreadTest, AppletCodeIsResolvedAgainstItsCodebase)
{
    AddSaved("http://host/a/p.html",
             "<body><APPLET CODE=\"Main.class\" CODEBASE=\"classes/\" width=1></APPLET>"
             "<applet codebase=lib code=Tool.class></applet><applet code=Plain.class></applet>"
             // An anchor on the code base is no folder of the class.
             "<applet code='Anchored.class' codebase=\"ext#top\"></applet></body>");
    Parse();
    EXPECT_EQ(URLs(), (std::vector<std::string>{"http://host/a/p.html", "http://host/a/classes/Main.class",
                                                "http://host/a/lib/Tool.class", "http://host/a/Plain.class",
                                                "http://host/a/ext/Anchored.class"}));
    const std::string page = SavedText("http://host/a/p.html");
    EXPECT_NE(page.find("CODE=\"Main.class\" CODEBASE=\"classes/\""), std::string::npos) << page;
    EXPECT_NE(page.find("code=Tool.class"), std::string::npos) << page;
    EXPECT_NE(page.find("code='Anchored.class'"), std::string::npos) << page;
}

TEST_F(ParseThreadTest, AggressiveParserModes)
{
    const std::string text = "<html><body><a href=\"http://host/abs.html\">abs</a>\n"
                             "<script>var s = 'pics/s.gif'; document.write(\"<img src=\" + \"w.gif\");</script>\n"
                             "<p title='pics/t.gif'>t</p></body></html>";
    struct TCase {
        int mode;
        std::vector<std::string> queued;
    };
    const TCase cases[] = {
        {0, {"http://host/abs.html"}},
        {1, {"http://host/abs.html", "http://host/pics/s.gif", "http://host/w.gif"}},
        {2, {"http://host/pics/s.gif", "http://host/pics/t.gif", "http://host/w.gif"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.mode);
        ASSERT_TRUE(m_owner.Call([&] { m_task->Clear(); }));
        m_task->SetURL("");
        Profile().SetAggressiveParser(c.mode);
        AddSaved("http://host/index.html", text);
        Parse();
        std::vector<std::string> expected{"http://host/index.html"};
        expected.insert(expected.end(), c.queued.begin(), c.queued.end());
        EXPECT_EQ(URLs(), expected);
    }
}

TEST_F(ParseThreadTest, ConvertRulesForFollowedAndUnfollowedLinks)
{
    // Pages are followed only in the start folder, so /other/ is a same-site link not followed.
    Profile().SetPageLocation(kLocationCurrentDirectory);
    const std::string text = "<body><a href=\"http://host/docs/f.html\">followed</a>"
                             "<a href=\"http://host/other/o.html\">same site</a>"
                             "<a href=\"http://elsewhere/e.html#x\">other server</a>"
                             "<a href=\"mailto:a@host\">mail</a><a href=\"ftp://host/f.zip\">ftp</a></body>";
    struct TCase {
        int followed;
        int unfollowed;
        std::vector<std::string> hrefs;
    };
    const TCase cases[] = {
        {1, 0, {"f.html", "http://host/other/o.html", "http://elsewhere/e.html#x"}},
        {1, 1, {"f.html", "../other/o.html", "http://elsewhere/e.html#x"}},
        {0, 2, {"http://host/docs/f.html", "../other/o.html", "../../elsewhere/e.html#x"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.followed << "/" << c.unfollowed);
        ASSERT_TRUE(m_owner.Call([&] { m_task->Clear(); }));
        m_task->SetURL("");
        Profile().SetConvertFollowedLinks(c.followed);
        Profile().SetConvertUnfollowedLinks(c.unfollowed);
        AddSaved("http://host/docs/index.html", text);
        Parse();
        EXPECT_EQ(URLs(), (std::vector<std::string>{"http://host/docs/index.html", "http://host/docs/f.html"}));
        const std::string page = SavedText("http://host/docs/index.html");
        for (const std::string& href : c.hrefs)
            EXPECT_NE(page.find("<a href=\"" + href + "\">"), std::string::npos) << href << "\n" << page;
        EXPECT_NE(page.find("<a href=\"mailto:a@host\">"), std::string::npos);
        EXPECT_NE(page.find("<a href=\"ftp://host/f.zip\">"), std::string::npos);
    }
}

TEST_F(ParseThreadTest, LinksResolveAgainstTheAddressAfterRedirects)
{
    // The transfer followed http://host/old/ to http://host/new/deep/ and left that folder as the
    // item's base URL; the page itself is stored under its own URL.
    AddSaved("http://host/old/page.html", "<body><a href=\"x.html\">x</a></body>");
    ASSERT_TRUE(m_owner.Call([&] { m_task->DownloadList().Item(0)->SetBaseURL("http://host/new/deep/"); }));
    Parse();
    EXPECT_EQ(URLs(), (std::vector<std::string>{"http://host/old/page.html", "http://host/new/deep/x.html"}));
    EXPECT_NE(SavedText("http://host/old/page.html").find("<a href=\"../new/deep/x.html\">"), std::string::npos);
}

TEST_F(ParseThreadTest, EveryPageLeavesSavedEvenWhenItCannotBeParsedOrWritten)
{
    AddSaved("http://host/index.html", "<body><a href=\"missing.html\">m</a><a href=\"empty.html\">e</a></body>");
    AddSaved("http://host/empty.html", "");
    AddSaved("http://host/missing.html", "<body>soon gone</body>");
    AddSaved("http://host/locked.html", "<body><a href=\"after.html\">a</a></body>");
    AddSaved("http://host/last.html", "<body><a href=\"z.html\">z</a></body>");
    std::filesystem::remove(FileOf("http://host/missing.html"));
    m_parse->SetPageWriter([&](const std::filesystem::path& path, std::string_view data, std::string* error) {
        if (path == FileOf("http://host/locked.html")) {
            *error = "No space left on device";
            return false;
        }
        return WriteFileAtomically(path, data, error);
    });
    Parse();

    EXPECT_EQ(ItemOf("http://host/index.html").state, kStateParsed);
    // An empty page is done as it is, not picked again and again.
    EXPECT_EQ(ItemOf("http://host/empty.html").state, kStateParsed);
    EXPECT_EQ(SavedText("http://host/empty.html"), "");
    // A missing file is fetched again.
    EXPECT_EQ(ItemOf("http://host/missing.html").state, kStateNone);
    // A page that cannot be written back fails with the reason; its file keeps the old text;
    // the pages after it are still done.
    const TItemView locked = ItemOf("http://host/locked.html");
    EXPECT_EQ(locked.state, kStateError);
    EXPECT_NE(locked.statusText.find("No space left on device"), std::string::npos) << locked.statusText;
    EXPECT_EQ(m_task->PageErrors(), 1);
    EXPECT_EQ(SavedText("http://host/locked.html"), "<body><a href=\"after.html\">a</a></body>");
    EXPECT_EQ(ItemOf("http://host/last.html").state, kStateParsed);
    EXPECT_EQ(m_parse->PagesProcessed(), 5u);
}

TEST_F(ParseThreadTest, ParsingAPageAgainKeepsOneBannerAndTheSameLinks)
{
    // A run killed before its list was saved finds an already rewritten page "Saved" again.
    AddSaved("http://host/index.html", "<html><body><a href=\"http://host/a.html\">a</a></body></html>");
    Parse();
    const std::string once = SavedText("http://host/index.html");
    ASSERT_TRUE(m_owner.Call([&] {
        TPXQItem* item = m_task->DownloadList().Item(0);
        item->Reload();
        item->SetState(kStateSaved);
        item->WriteBack(true);
    }));
    Parse();
    EXPECT_EQ(SavedText("http://host/index.html"), once);
    EXPECT_EQ(URLs(), (std::vector<std::string>{"http://host/index.html", "http://host/a.html"}));
}

// A site saved before versioned files kept their extension: its pages link "s.css?v=2" as
// "s.css¿v=2.html". An update run parses a changed page again, which now links the new name; the
// unchanged sheet is not fetched again, so its file gets the new name beside the old one.
TEST_F(ParseThreadTest, FileSavedUnderItsEarlierNameKeepsBothNames)
{
    const std::string sheet = "http://host/s.css?v=2";
    const std::string legacy = LegacyLocalFileName(Root(), sheet);
    ASSERT_FALSE(legacy.empty());
    std::filesystem::create_directories(std::filesystem::path(legacy).parent_path());
    ASSERT_TRUE(WriteFileAtomically(legacy, "body { color: red }"));
    AddSaved("http://host/index.html", "<html><head><link rel=stylesheet href=\"s.css?v=2\"></head></html>");
    ASSERT_TRUE(m_owner.Call([&] {
        TPXQItem& item = m_task->DownloadList().AddItem(m_task->MakeItem(sheet, kActionDownload));
        item.SetState(kStateParsed);
        item.WriteBack(true);
    }));
    Parse();
    EXPECT_NE(SavedText("http://host/index.html").find("href=\"s.css%C2%BFv=2.css\""), std::string::npos);
    EXPECT_EQ(SavedText(sheet), "body { color: red }");
    EXPECT_EQ(ReadWholeFile(legacy).value_or(""), "body { color: red }");
}

TEST_F(ParseThreadTest, ZipModeQueuesParsedPagesForPacking)
{
    m_task->SetIntranetMode(false);
    const std::string url = "http://host/index.html";
    const std::string path = m_task->LocalFileOf(url);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    ASSERT_TRUE(WriteFileAtomically(path, "<body>x</body>"));
    m_task->SetURL(url);
    ASSERT_TRUE(m_owner.Call([&] {
        TPXQItem& item = m_task->DownloadList().AddItem(m_task->MakeItem(url, kActionDownload));
        item.SetState(kStateSaved); // no local path in memory, as after loading the list
        item.WriteBack(true);
    }));
    Parse();
    EXPECT_EQ(ItemOf(url).state, kStateParsed);
    // The page, then the banner page it links to, at the top of the Zip and of no item.
    ASSERT_EQ(m_task->ZipQueueCount(), 2u);
    EXPECT_EQ(m_task->TakeFromZipQueue()->path, path);
    const std::optional<TZipQueueEntry> banner = m_task->TakeFromZipQueue();
    EXPECT_EQ(banner->path, m_task->WorkFolder() + kBannerPageName);
    EXPECT_EQ(banner->item, nullptr);
    EXPECT_NE(ReadWholeFile(banner->path).value_or("").find("Saved with Pellix"), std::string::npos);
    EXPECT_EQ(ItemOf(url).state, kStateParsed);

    // A style sheet is packed once parsed, like a page.
    const std::string sheet = "http://host/s.css";
    const std::string sheetPath = m_task->LocalFileOf(sheet);
    std::filesystem::create_directories(std::filesystem::path(sheetPath).parent_path());
    ASSERT_TRUE(WriteFileAtomically(sheetPath, "a { background: url(x.gif) }"));
    ASSERT_TRUE(m_owner.Call([&] {
        TPXQItem& item = m_task->DownloadList().AddItem(m_task->MakeItem(sheet, kActionDownload));
        item.SetState(kStateSaved);
        item.WriteBack(true);
    }));
    Parse();
    EXPECT_EQ(ItemOf(sheet).state, kStateParsed);
    // A new run packs the banner page that the last one left in the temp folder again: a run
    // resumed by a new process may parse no page at all.
    ASSERT_EQ(m_task->ZipQueueCount(), 2u);
    EXPECT_EQ(m_task->TakeFromZipQueue()->path, m_task->WorkFolder() + kBannerPageName);
    EXPECT_EQ(m_task->TakeFromZipQueue()->path, sheetPath);
}

TEST_F(ParseThreadTest, BadInputPagesEndParsed)
{
    std::string nul = "<body><a href=\"n";
    nul += '\0';
    nul += "ul.html\">x</a>";
    nul += std::string(3, '\0');
    nul += "<img src=\"ok.gif\"></body>";
    const std::string longName(100 * 1024, 'l');
    struct TCase {
        const char* name;
        std::string text;
        std::string expectQueued; // one URL that must be queued, or empty
    };
    const TCase cases[] = {
        {"unclosed tags", "<html><body><a href=\"u.html\">u<img src=\"v.gif\"<a href=\"w.html", "http://host/u.html"},
        {"< last", "<body><a href=\"t.html\">t</a></body><", "http://host/t.html"},
        {"10 MB attribute", "<body><img alt=\"" + std::string(10 * 1024 * 1024, 'x') + "\" src=\"big.gif\"></body>",
         "http://host/big.gif"},
        {"NUL bytes", nul, "http://host/ok.gif"},
        {"100 kB link", "<body><a href=\"" + longName + ".html\">long</a><a href=\"b.html\">b</a></body>",
         "http://host/b.html"},
        {"only <", "<", ""},
        {"BODY never closed", "<body", ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(m_owner.Call([&] { m_task->Clear(); }));
        m_task->SetURL("");
        AddSaved("http://host/index.html", c.text);
        Parse();
        const std::vector<TItemView> items = Items();
        ASSERT_FALSE(items.empty());
        EXPECT_EQ(items[0].state, kStateParsed);
        for (const TItemView& item : items)
            EXPECT_TRUE(item.state == kStateParsed || item.state == kStateNone) << item.url.substr(0, 80);
        if (!c.expectQueued.empty()) {
            EXPECT_TRUE(std::any_of(items.begin(), items.end(),
                                    [&](const TItemView& item) { return item.url == c.expectQueued; }));
        }
    }
}

TEST_F(ParseThreadTest, ModernTagsStylesAndBlankNamesAreFollowedAndOtherSchemesLeftAlone)
{
    AddSaved("http://host/d/index.html",
             "<html><head><link rel=stylesheet href=\"css/site.css\"><script src=\"js/app.js\"></script>\n"
             "<style>body{background:url(\"img/bg one.gif\")} @import 'http://host/d/css/more.css';</style>\n"
             "</head><body><a href=\" Visual Studio 10.rst.txt \">vs</a><a href=\"about:tracing\">t</a>\n"
             "<a href=\"javascript:void(0)\">j</a><img src=\"data:image/gif;base64,R0lG\">\n"
             "<iframe src=\"frame.html\"></iframe><embed src=\"m/e.swf\">\n"
             "<video src=\"m/v.mp4\" poster=\"m/p.jpg\"><source src=\"m/v.webm\"></video>\n"
             "<audio src=\"m/a.ogg\"></audio><object data=\"m/o.svg\"></object>\n"
             "<img src=\"i/1.gif\" srcset=\"i/1.gif 1x, http://host/d/i/2.gif 2x,i/3.gif\">\n"
             "<p style=\"background:url(http://host/d/img/p.gif)\">x</p></body></html>");
    Parse();

    EXPECT_EQ(URLs(), (std::vector<std::string>{
                          "http://host/d/index.html", "http://host/d/Visual%20Studio%2010.rst.txt",
                          "http://host/d/i/1.gif", "http://host/d/css/site.css", "http://host/d/js/app.js",
                          "http://host/d/frame.html", "http://host/d/m/e.swf", "http://host/d/m/v.webm",
                          "http://host/d/m/v.mp4", "http://host/d/m/p.jpg", "http://host/d/m/a.ogg",
                          "http://host/d/m/o.svg", "http://host/d/i/2.gif", "http://host/d/i/3.gif",
                          "http://host/d/img/bg%20one.gif", "http://host/d/css/more.css",
                          "http://host/d/img/p.gif"}));
    EXPECT_EQ(ItemOf("http://host/d/frame.html").frameFlag, "Y");

    const std::string page = SavedText("http://host/d/index.html");
    for (const char* kept : {"<a href=\"about:tracing\">", "<a href=\"javascript:void(0)\">",
                             "<img src=\"data:image/gif;base64,R0lG\">", "<script src=\"js/app.js\">",
                             "poster=\"m/p.jpg\""}) {
        EXPECT_NE(page.find(kept), std::string::npos) << kept;
    }
    for (const char* rewritten : {"<a href=\" Visual%20Studio%2010.rst.txt \">",
                                  "srcset=\"i/1.gif 1x, i/2.gif 2x,i/3.gif\"",
                                  "url(\"img/bg%20one.gif\")", "@import 'css/more.css';",
                                  "style=\"background:url(img/p.gif)\""}) {
        EXPECT_NE(page.find(rewritten), std::string::npos) << rewritten;
    }
}

TEST_F(ParseThreadTest, StyleSheetIsParsedForItsLinksLikeAPage)
{
    AddSaved("http://host/d/index.html", "<html><body>start</body></html>");
    const std::string sheet = "@import \"more.css\";\n"
                              "body { background: url(../img/a%20b.gif) }\n"
                              ".x { background: url('http://host/d/img/c (1).gif') }\n"
                              ".y { background: url(http://host/d/img/d\\(2\\).gif) }\n"
                              ".z { background: url(data:image/gif;base64,R0lG) } <body>";
    AddSaved("http://host/d/css/site.css", sheet, 1);
    Parse();

    EXPECT_EQ(URLs(), (std::vector<std::string>{"http://host/d/index.html", "http://host/d/css/site.css",
                                                "http://host/d/css/more.css", "http://host/d/img/a%20b.gif",
                                                "http://host/d/img/c%20(1).gif", "http://host/d/img/d(2).gif"}));
    const TItemView css = ItemOf("http://host/d/css/site.css");
    EXPECT_EQ(css.state, kStateParsed);
    EXPECT_EQ(ItemOf("http://host/d/img/c%20(1).gif").depth, 2);
    EXPECT_EQ(ItemOf("http://host/d/img/c%20(1).gif").parent, "http://host/d/css/site.css");
    // Rewritten from the sheet's own folder; an unquoted value gets its parentheses encoded.
    // No banner and no other page treatment: the text is style text.
    EXPECT_EQ(SavedText("http://host/d/css/site.css"),
              "@import \"more.css\";\n"
              "body { background: url(../img/a%20b.gif) }\n"
              ".x { background: url('../img/c%20(1).gif') }\n"
              ".y { background: url(../img/d%282%29.gif) }\n"
              ".z { background: url(data:image/gif;base64,R0lG) } <body>");
}

TEST_F(ParseThreadTest, ScriptTagAttributesAreNotScriptStrings)
{
    Profile().SetAggressiveParser(1);
    AddSaved("http://host/d/search.html",
             "<html><body><script data-url_root=\"./\" id=\"opts\" src=\"opts.js\"></script>"
             "<script>var u = \"sub/x.js\";</script></body></html>");
    Parse();
    EXPECT_EQ(URLs(), (std::vector<std::string>{"http://host/d/search.html", "http://host/d/opts.js",
                                                "http://host/d/sub/x.js"}));
    EXPECT_NE(SavedText("http://host/d/search.html").find("data-url_root=\"./\""), std::string::npos);
}

// Pages parsed at the same time find the same new links, some as images and some as pages (a
// link's context names its file): each is queued once, and every page links it by one name.
TEST_F(ParseThreadTest, PagesParsedAtOnceQueueASharedLinkOnceAndNameItAlike)
{
    m_parse = std::make_unique<TThreadParse>(m_owner, 3);
    constexpr int kPages = 48;
    constexpr int kShared = 12;
    AddSaved("http://host/p/index.html", "<html><body>start</body></html>");
    for (int page = 0; page < kPages; ++page) {
        std::string text = "<html><body>";
        for (int shared = 0; shared < kShared; ++shared) {
            const std::string url = "pic?id=" + std::to_string((shared + page) % kShared);
            text += page % 2 == 0 ? "<img src=\"" + url + "\">" : "<a href=\"" + url + "\">x</a>";
        }
        AddSaved("http://host/p/" + std::to_string(page) + ".html", text + "</body></html>", 1);
    }
    Parse();

    std::vector<std::string> urls = URLs();
    std::sort(urls.begin(), urls.end());
    EXPECT_EQ(std::adjacent_find(urls.begin(), urls.end()), urls.end()) << "a link was queued twice";
    EXPECT_EQ(urls.size(), 1u + kPages + kShared);
    for (int shared = 0; shared < kShared; ++shared) {
        const std::string url = "http://host/p/pic?id=" + std::to_string(shared);
        EXPECT_EQ(ItemOf(url).state, kStateNone);
        std::string extension;
        ASSERT_TRUE(m_owner.Call([&] { extension = m_task->DownloadList().TypeExtensionOf(url); }));
        const std::string name = LocalLink(url, "http://host/p/", extension);
        for (int page = 0; page < kPages; ++page) {
            const std::string text = SavedText("http://host/p/" + std::to_string(page) + ".html");
            EXPECT_NE(text.find("\"" + name + "\""), std::string::npos)
                << "page " << page << " does not link " << url << " as " << name << ": " << text;
        }
    }
}

} // namespace
} // namespace pellix
