// Tests of TPXDownloadList: the list file, picks, URL index, run preparation, threads, crash safety.
#include "engine/download_list.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cctype>
#include <random>
#include <set>
#include <thread>

#include "engine/task.h"
#include "links/file_io.h"
#include "tests/support/crawl_fixture.h"
#include "links/url_rules.h"
#include "tests/support/site_checker.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_app.h"
#include "tests/support/test_http_server.h"
#include "workspace/app_settings.h"

namespace pellix {
namespace {

const std::filesystem::path kFixtures = std::filesystem::path(PELLIX_SOURCE_DIR) / "tests/fixtures/task_model";

std::string Record(std::initializer_list<std::string> fields)
{
    std::string line;
    for (const std::string& field : fields)
        line += field + kRecordSeparator;
    return line;
}

// A task in a temp folder with the two built-in groups and "Archives".
class DownloadListTest : public ::testing::Test {
protected:
    DownloadListTest()
    {
        m_app = test::MakeTestApp(m_folder.Path(), {{"HTML", ".htm;.html;.shtm;.shtml;.asp;"},
                                                     {"Images", ".gif;.jpg;.jpeg;"},
                                                     {"Archives", ".zip;"}});
        m_task = std::make_unique<TPXTask>(m_app.get());
        m_task->SetTaskName("Site");
        m_task->SetTaskFile((m_folder.Path() / "General" / "Site.pxt").string());
    }

    TPXDownloadList& List() { return m_task->DownloadList(); }

    TPXQItem& Add(const std::string& url, int action = kActionDownload)
    {
        return List().AddItem(m_task->MakeItem(url, action));
    }

    // Writes a list file from URL and record line pairs and loads it.
    TListResult LoadLines(const std::vector<std::pair<std::string, std::string>>& pairs)
    {
        std::string data;
        for (const auto& [url, record] : pairs)
            data += url + "\r\n" + record + "\r\n";
        WriteListFile(data);
        return List().LoadList();
    }

    void WriteListFile(const std::string& data)
    {
        std::filesystem::create_directories(List().FilePath().parent_path());
        ASSERT_TRUE(WriteFileAtomically(List().FilePath(), data));
    }

    test::TTempFolder m_folder;
    std::unique_ptr<TPXApp> m_app;
    std::unique_ptr<TPXTask> m_task;
};

TEST_F(DownloadListTest, FileRoundTripsByteForByte)
{
    const std::optional<std::string> original = ReadWholeFile(kFixtures / "Site.dwn");
    ASSERT_TRUE(original);
    WriteListFile(*original);
    const TListResult loaded = List().LoadList();
    ASSERT_TRUE(loaded.ok) << loaded.message;
    ASSERT_EQ(List().Count(), 6u);
    std::filesystem::remove(List().FilePath());
    ASSERT_TRUE(List().SaveList().ok);
    EXPECT_EQ(ReadWholeFile(List().FilePath()), original);
    EXPECT_EQ(List().FilePath(), m_folder.Path() / "General" / "Site.dwn");

    // Loading reads state, type group and action, and leaves the task's counters alone.
    EXPECT_EQ(List().Item(0)->State(), kStateParsed);
    EXPECT_EQ(List().Item(1)->TypeGroup(), "Images");
    EXPECT_EQ(List().Item(3)->State(), kStateNone);
    EXPECT_EQ(m_task->TotalPages(), 0);
}

TEST_F(DownloadListTest, AddItemWritesTheRecordAndCountsTotals)
{
    TPXQItem& page = Add("http://host/docs/");
    TPXQItem& image = Add("http://host/docs/a.gif");
    Add("http://host/x.zip");
    EXPECT_EQ(m_task->TotalPages(), 1);
    EXPECT_EQ(m_task->TotalResources(), 2);
    EXPECT_TRUE(List().HasUnsavedChanges());
    EXPECT_EQ(page.ListIndex(), 0u);
    EXPECT_EQ(image.ListIndex(), 2u);
    EXPECT_EQ(List().Line(2), "http://host/docs/a.gif");
    EXPECT_EQ(List().Line(3), Record({"0", "", "Images", "", "0", "", "", "1", "", "0", ""}));
    // Strings are released once the item is in the list; Reload brings them back.
    EXPECT_EQ(image.URL(), "");
    image.Reload();
    EXPECT_EQ(image.URL(), "http://host/docs/a.gif");
    EXPECT_EQ(image.BaseURL(), "http://host/docs/");
}

TEST_F(DownloadListTest, WriteBackKeepsStoredStringsThatWereReleased)
{
    TPXQItem& item = Add("http://host/a.html");
    item.Reload();
    item.SetTitle("Title");
    item.SetStatusText("  200 OK\r\n");
    item.SetParentURL("http://host/");
    item.SetSize(77);
    item.SetDepth(2);
    item.WriteBack(true);
    EXPECT_EQ(item.Title(), "");

    // A released item written back keeps every stored string; numbers are always written.
    item.SetSize(0);
    item.SetState(kStateSaved);
    item.WriteBack(true);
    EXPECT_EQ(List().Line(1),
              Record({"5", "200 OK", "HTML", "", "2", "http://host/", "", "1", "Title", "0", ""}));
}

TEST_F(DownloadListTest, RecordFieldsNeverBreakTheLine)
{
    // A UTF-8 title may hold the separator byte inside a character ("ö" is C3 B6); a line break
    // in a text would split the pair. Neither may shift the fields.
    TPXQItem& item = Add("http://host/a.html");
    item.Reload();
    item.SetTitle("Sch\xC3\xB6n\r\nTitel \xB6");
    item.SetLastModified("Mon\n");
    item.SetParentURL("http://host/\xB6x");
    item.WriteBack(true);
    const std::string record = List().Line(1);
    EXPECT_EQ(std::count(record.begin(), record.end(), kRecordSeparator), 11);
    EXPECT_EQ(TPXDownloadList::RecordField(record, 8), "Sch?nTitel");
    EXPECT_EQ(TPXDownloadList::RecordField(record, 5), "http://host/%B6x");
    EXPECT_EQ(TPXDownloadList::RecordField(record, 6), "Mon");
}

struct TPickCase {
    const char* url;
    int action;
    TItemState state;
    bool page;
    bool resource;
    bool saved;
};

TEST_F(DownloadListTest, PickRulesByTypeActionAndState)
{
    const TPickCase cases[] = {
        {"http://h/a.html", kActionDownload, kStateNone, true, false, false},
        {"http://h/a.html", kActionMap, kStateNone, true, false, false},
        {"http://h/a.html", kActionSkip, kStateNone, false, false, false},
        {"http://h/a.html", kActionUpdate, kStateNone, true, false, false},
        {"http://h/a.html", kActionUpdate, kStateDownloading, true, false, false},
        {"http://h/a.html", kActionDownload, kStateDownloading, false, false, false},
        {"http://h/a.html", kActionUpdate, kStateUpdating, false, false, false},
        {"http://h/a.html", kActionDownload, kStateSaved, false, false, true},
        {"http://h/a.html", kActionDownload, kStateParsed, false, false, false},
        {"http://h/a.gif", kActionDownload, kStateNone, false, true, false},
        {"http://h/a.gif", kActionMap, kStateNone, false, false, false},
        {"http://h/a.gif", kActionUpdate, kStateDownloading, false, true, false},
        {"http://h/a.gif", kActionDownload, kStateDownloading, false, false, false},
        {"http://h/a.gif", kActionDownload, kStateSaved, false, false, false},
        {"http://h/a.zip", kActionUpdate, kStateNone, false, true, false},
        // Style sheets are fetched as resources and wait for the parse thread once saved.
        {"http://h/s.css", kActionDownload, kStateNone, false, true, false},
        {"http://h/S.CSS", kActionDownload, kStateSaved, false, false, true},
        {"http://h/s.css#x", kActionDownload, kStateSaved, false, false, true},
        {"http://h/s.css", kActionDownload, kStateParsed, false, false, false},
        {"http://h/s.css.gif", kActionDownload, kStateSaved, false, false, false},
        {"http://h/a.zip#s.css", kActionDownload, kStateSaved, false, false, false},
    };
    for (const TPickCase& c : cases) {
        SCOPED_TRACE(std::string(c.url) + " action " + std::to_string(c.action) + " state " +
                     std::to_string(c.state));
        m_task->Reset();
        TPXQItem& item = Add(c.url, c.action);
        item.SetState(c.state);
        EXPECT_EQ(List().NextPage() == &item, c.page);
        EXPECT_EQ(List().NextResource() == &item, c.resource);
        EXPECT_EQ(List().NextSavedPage() == &item, c.saved);
    }
}

TEST_F(DownloadListTest, PicksFollowListOrderAsStatesMoveBothWays)
{
    std::vector<TPXQItem*> pages;
    for (int i = 0; i < 5; ++i)
        pages.push_back(&Add("http://h/p" + std::to_string(i) + ".html"));
    TPXQItem& image = Add("http://h/i.gif");

    // Taking each pick leaves state 0, so the next pick is the next page in list order.
    for (TPXQItem* expected : pages) {
        ASSERT_EQ(List().NextPage(), expected);
        expected->SetState(kStateDownloading);
    }
    EXPECT_EQ(List().NextPage(), nullptr);
    EXPECT_EQ(List().NextResource(), &image);

    // An earlier item that becomes waiting again is the first pick once more.
    pages[3]->SetState(kStateNone);
    pages[1]->SetState(kStateNone);
    EXPECT_EQ(List().NextPage(), pages[1]);
    pages[4]->SetState(kStateSaved);
    pages[2]->SetState(kStateSaved);
    EXPECT_EQ(List().NextSavedPage(), pages[2]);
    // A second parse thread skips the page the first one holds; the window bounds the look.
    const auto notHeld = [&](const TPXQItem& item) { return &item != pages[2]; };
    EXPECT_EQ(List().NextSavedPageWhere(notHeld, 2), pages[4]);
    EXPECT_EQ(List().NextSavedPageWhere(notHeld, 1), nullptr);
    pages[2]->SetState(kStateParsed);
    EXPECT_EQ(List().NextSavedPage(), pages[4]);
    // The explore view's action changes count too.
    pages[1]->SetAction(kActionSkip);
    EXPECT_EQ(List().NextPage(), pages[3]);
}

TEST_F(DownloadListTest, LoadedStyleSheetWaitsForTheParseThreadWithItsURLReleased)
{
    const TListResult result = LoadLines({
        {"http://h/a.gif", Record({"5", "", "Images", "", "1", "", "", "1", "", "0", ""})},
        {"http://h/site.css", Record({"5", "", "", "", "1", "", "", "1", "", "0", ""})},
    });
    ASSERT_TRUE(result.ok) << result.message;
    TPXQItem* sheet = List().Item(1);
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->URL().empty());
    EXPECT_TRUE(sheet->IsStyleSheet());
    EXPECT_FALSE(sheet->IsPage());
    EXPECT_TRUE(sheet->IsLinkSource());
    EXPECT_FALSE(List().Item(0)->IsLinkSource());
    EXPECT_EQ(List().NextSavedPage(), sheet);
}

TEST_F(DownloadListTest, TypeExtensionRoundTripsAndOldRecordsKeepTheirNames)
{
    // An old record (field 3 empty), a new one holding ".css", and one whose field 3 holds
    // something no type could be.
    const TListResult result = LoadLines({
        {"http://h/thumb?w=200", Record({"5", "200 OK", "HTML", "", "1", "", "", "1", "", "0", ""})},
        {"http://h/css?family=Roboto", Record({"5", "200 OK", "HTML", ".css", "1", "", "", "1", "", "0", ""})},
        {"http://h/img?id=7", Record({"5", "200 OK", "Images", "../x", "1", "", "", "1", "", "0", ""})},
    });
    ASSERT_TRUE(result.ok) << result.message;
    ASSERT_EQ(List().Count(), 3u);
    const std::string root = m_task->WorkFolder();
    EXPECT_EQ(List().Item(0)->TypeExtension(), "");
    EXPECT_EQ(m_task->LocalFileOf("http://h/thumb?w=200", List().Item(0)->TypeExtension()),
              LocalFileName(root, "", "http://h/thumb?w=200"));
    EXPECT_TRUE(m_task->LocalFileOf("http://h/thumb?w=200").ends_with(".html"));

    TPXQItem* sheet = List().Item(1);
    EXPECT_EQ(sheet->TypeExtension(), ".css");
    EXPECT_TRUE(sheet->IsStyleSheet()); // its links are followed, and no banner goes into it
    EXPECT_TRUE(m_task->LocalFileOf("http://h/css?family=Roboto", sheet->TypeExtension()).ends_with("=Roboto.css"));
    EXPECT_EQ(List().TypeExtensionOf("http://h/css?family=Roboto"), ".css");
    EXPECT_EQ(List().TypeExtensionOf("http://h/unknown"), "");

    EXPECT_EQ(List().Item(2)->TypeExtension(), "");

    // Set later (a reply's type), written back, saved and loaded again.
    List().Item(2)->SetTypeExtension(".png");
    List().Item(2)->Reload();
    List().Item(2)->WriteBack(true);
    EXPECT_EQ(TPXDownloadList::RecordField(List().Line(5), 3), ".png");
    ASSERT_TRUE(List().SaveList().ok);
    List().Clear();
    ASSERT_TRUE(List().LoadList().ok);
    EXPECT_EQ(List().Item(2)->TypeExtension(), ".png");
    EXPECT_EQ(List().Item(1)->TypeExtension(), ".css");
}

TEST_F(DownloadListTest, URLIndexComparesSchemeAndHostWithoutCaseAndTheRestWithIt)
{
    struct TCase {
        const char* first;
        const char* second;
        bool oneItem;
    };
    const TCase cases[] = {
        {"http://host/Index.html", "http://host/index.html", false},
        {"http://host/docs/A/b.html", "http://host/docs/a/b.html", false},
        {"http://host/a.html?Q=1", "http://host/a.html?q=1", false},
        {"http://User:pw@host/a.html", "http://user:pw@host/a.html", false},
        {"http://HOST/a.html", "http://host/a.html", true},
        {"HTTP://Host/a.html", "http://host/a.html", true},
        {"HTTPS://h/x.gif", "https://h/x.gif", true},
        {"http://h:8080/a.html", "http://H:8080/a.html", true},
        {"http://user@HOST/a.html", "http://user@host/a.html", true},
        {"http://Host?Q", "http://host?Q", true},
        {"http://host/a.html", "https://host/a.html", false},
        // A "://" further on is no scheme: the whole text keeps its case.
        {"x/http://Host/", "x/http://host/", false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.first) + " / " + c.second);
        m_task->Reset();
        Add(c.first);
        EXPECT_EQ(List().ContainsURL(c.second), c.oneItem);
        Add(c.second);
        EXPECT_EQ(List().Count(), 2u); // the list keeps every pair it is given
        EXPECT_EQ(List().URLIndexCount(), c.oneItem ? 1u : 2u);
        EXPECT_EQ(URLIndexKey(c.first) == URLIndexKey(c.second), c.oneItem);
    }
}

// A look-up takes the URL in the form a line holds it: a line break inside is dropped and the
// separator byte is percent-encoded, so both spellings name one item.
TEST_F(DownloadListTest, URLIndexLooksUpTheStoredFormOfAURL)
{
    Add("http://Host/a\xB6" "b.html");
    Add("http://host/line\r\nbreak.html");
    EXPECT_EQ(List().Line(0), "http://Host/a%B6b.html");
    const std::pair<const char*, bool> cases[] = {
        {"http://host/a\xB6" "b.html", true},
        {"HTTP://HOST/a%B6b.html", true},
        {"http://host/a%b6b.html", false}, // the path keeps its case, escapes too
        {"http://host/linebreak.html", true},
        {"http://HOST/line\nbreak.html", true},
        {"http://host/line break.html", false},
        {"http://host/a", false},
        {"", false},
    };
    for (const auto& [url, found] : cases) {
        SCOPED_TRACE(url);
        EXPECT_EQ(List().ContainsURL(url), found);
        EXPECT_EQ(URLIndexKey(url) == URLIndexKey(List().Line(0)) || URLIndexKey(url) == URLIndexKey(List().Line(2)),
                  found);
    }
    EXPECT_EQ(List().URLIndexCount(), 2u);
}

// The index is a sorted set under a comparator that folds only some bytes of each URL; if that
// order were not consistent, lookups would miss URLs the index holds.
TEST_F(DownloadListTest, URLIndexAgreesWithItsKeysForManyMixedCaseURLs)
{
    std::mt19937 random(11);
    const auto mixCase = [&](std::string text) {
        for (char& c : text)
            if (random() % 2 == 0)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return text;
    };
    std::set<std::string> keys;
    std::vector<std::string> added;
    for (int i = 0; i < 3000; ++i) {
        const std::string url = mixCase(i % 2 ? "http" : "https") + "://" + mixCase("host" + std::to_string(i % 5)) +
                                "/" + mixCase("dir" + std::to_string(i % 7)) + "/" + mixCase("page") +
                                (i % 3 ? ".html" : "?id=" + std::to_string(i % 11));
        Add(url);
        added.push_back(url);
        keys.insert(URLIndexKey(url));
    }
    EXPECT_EQ(List().URLIndexCount(), keys.size());
    for (const std::string& url : added)
        ASSERT_TRUE(List().ContainsURL(url)) << url;
    // Sorted by key: each indexed URL's key is above the one before it.
    const std::vector<std::string> indexed = List().IndexedURLs();
    ASSERT_EQ(indexed.size(), keys.size());
    for (std::size_t i = 1; i < indexed.size(); ++i)
        ASSERT_LT(URLIndexKey(indexed[i - 1]), URLIndexKey(indexed[i])) << indexed[i];
    EXPECT_FALSE(List().ContainsURL("http://host0/DIR0/PAGE.HTMLX"));

    // The same holds after the list went through its file.
    ASSERT_TRUE(List().SaveList().ok);
    TPXTask loaded(m_app.get());
    loaded.SetTaskName("Site");
    loaded.SetTaskFile(m_task->TaskFile());
    ASSERT_TRUE(loaded.DownloadList().LoadList().ok);
    EXPECT_EQ(loaded.DownloadList().URLIndexCount(), keys.size());
    EXPECT_EQ(loaded.DownloadList().IndexedURLs(), indexed);
}

// Through the whole crawl: links that differ only in the letter case of their path are two files
// on this system, each fetched, saved and linked to.
TEST(DownloadListCrawlTest, NamesThatDifferInCaseAreFetchedAsTwoFiles)
{
    test::TTestHttpServer server;
    server.Route("/start.html")
        .Header("Content-Type", "text/html")
        .Body("<html><body><a href=\"Doc.html\">upper</a> <a href=\"doc.html\">lower</a>"
              "<img src=\"Pic.gif\"><img src=\"pic.gif\"><a href=\"doc.html#again\">again</a></body></html>");
    server.Route("/Doc.html").Header("Content-Type", "text/html").Body("<html><body>Upper</body></html>");
    server.Route("/doc.html").Header("Content-Type", "text/html").Body("<html><body>lower</body></html>");
    server.Route("/Pic.gif").Header("Content-Type", "image/gif").Body("GIF89a upper");
    server.Route("/pic.gif").Header("Content-Type", "image/gif").Body("GIF89a lower");
    test::TTempFolder folder;
    test::TCrawlFixture crawl(folder.Path());
    crawl.NewTask(server.Url("/start.html"));
    ASSERT_TRUE(crawl.Run(kRunRestart));
    ASSERT_TRUE(crawl.WaitComplete(std::chrono::seconds(60)));

    EXPECT_EQ(crawl.Task().DownloadList().Count(), 5u);
    EXPECT_EQ(crawl.CountInState(kStateError), 0);
    const auto content = [&](const std::string& path) {
        return ReadWholeFile(crawl.FileOf(server.Url(path))).value_or("<missing>");
    };
    EXPECT_NE(crawl.FileOf(server.Url("/Doc.html")), crawl.FileOf(server.Url("/doc.html")));
    EXPECT_NE(content("/Doc.html").find("Upper"), std::string::npos);
    EXPECT_NE(content("/doc.html").find("lower"), std::string::npos);
    EXPECT_EQ(content("/Pic.gif"), "GIF89a upper");
    EXPECT_EQ(content("/pic.gif"), "GIF89a lower");
    const std::string start = content("/start.html");
    EXPECT_NE(start.find("href=\"Doc.html\""), std::string::npos) << start;
    EXPECT_NE(start.find("href=\"doc.html\""), std::string::npos) << start;
    const test::TSiteReport report = test::TSiteChecker(crawl.SiteFolder()).Check();
    EXPECT_TRUE(report.broken.empty()) << report.Describe();
}

TEST_F(DownloadListTest, FailedPageRetriesAndKeepsItsStatusText)
{
    ASSERT_TRUE(LoadLines({{"http://host/a.html", Record({"3", "404 Not Found", "HTML", "", "2",
                                                          "http://host/", "", "1", "", "0", ""})}})
                    .ok);
    TPXQItem& item = *List().Item(0);
    EXPECT_TRUE(item.IsPage());
    EXPECT_EQ(item.State(), kStateError);
    item.Reload();
    EXPECT_EQ(item.Depth(), 2);
    EXPECT_EQ(item.ParentURL(), "http://host/");

    m_task->SetPageErrors(1);
    m_task->SetPagesSaved(1);
    List().PrepareRetry();
    EXPECT_EQ(item.State(), kStateNone);
    EXPECT_EQ(m_task->PageErrors(), 0);
    EXPECT_EQ(m_task->PagesSaved(), 0);
    EXPECT_EQ(List().NextPage(), &item);
    item.Reload();
    EXPECT_EQ(item.Size(), 0);
    EXPECT_EQ(item.StatusText(), "404 Not Found");
}

TEST_F(DownloadListTest, InterruptedItemsLoadAsWaitingAndStayWaitingAfterReload)
{
    ASSERT_TRUE(LoadLines({{"http://host/a.html", Record({"2", "", "HTML", "", "0", "", "", "3", "", "10", ""})},
                           {"http://host/b.gif", Record({"1", "", "Images", "", "1", "", "", "1", "", "0", ""})}})
                    .ok);
    m_task->SetPagesSaved(4);
    for (std::size_t i = 0; i < 2; ++i) {
        TPXQItem& item = *List().Item(i);
        EXPECT_EQ(item.State(), kStateNone);
        item.Reload(); // what the record says must agree, or the stale state comes back
        EXPECT_EQ(item.State(), kStateNone);
    }
    EXPECT_EQ(m_task->PagesSaved(), 4);
    EXPECT_EQ(List().NextPage(), List().Item(0));
    EXPECT_EQ(List().NextResource(), List().Item(1));
}

TEST_F(DownloadListTest, ResetInterruptedAndPrepareUpdate)
{
    TPXQItem& a = Add("http://h/a.html");
    TPXQItem& b = Add("http://h/b.gif");
    TPXQItem& c = Add("http://h/c.html");
    a.SetState(kStateDownloading);
    b.SetState(kStateUpdating);
    c.Reload();
    c.SetState(kStateParsed);
    c.SetSize(300);
    c.SetStatusText("200 OK");
    c.WriteBack(true);
    List().ResetInterrupted();
    EXPECT_EQ(a.State(), kStateNone);
    EXPECT_EQ(b.State(), kStateNone);
    EXPECT_EQ(c.State(), kStateParsed);

    m_task->SetPagesSaved(1);
    m_task->SetTotalBytes(1000);
    List().PrepareUpdate();
    EXPECT_EQ(c.State(), kStateNone);
    EXPECT_EQ(c.Action(), kActionUpdate);
    EXPECT_EQ(m_task->PagesSaved(), 0);
    EXPECT_EQ(m_task->TotalBytes(), 700);
    EXPECT_EQ(List().Line(5), Record({"0", "200 OK", "HTML", "", "0", "", "", "3", "", "300", ""}));
}

TEST_F(DownloadListTest, StateThatIsNotANumberStopsTheLoadAndKeepsWhatCameBefore)
{
    const std::string data = "http://host/a.html\r\n" + Record({"10", "", "HTML"}) +
                             "\r\nhttp://host/b.html\r\n" + Record({"x1", "", "HTML"}) +
                             "\r\nhttp://host/c.html\r\n" + Record({"0", "", "HTML"}) + "\r\n";
    WriteListFile(data);
    const TListResult result = List().LoadList();
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find("x1"), std::string::npos) << result.message;
    EXPECT_NE(result.message.find("line 4"), std::string::npos) << result.message;
    ASSERT_EQ(List().Count(), 3u);
    EXPECT_NE(List().Item(0), nullptr);
    EXPECT_EQ(List().Item(1), nullptr);
    EXPECT_EQ(List().NextPage(), nullptr);
    // Nothing read is lost when the list is written again.
    ASSERT_TRUE(List().SaveList().ok);
    EXPECT_EQ(ReadWholeFile(List().FilePath()), data);
}

TEST_F(DownloadListTest, BadFilesAreRefusedOrLoadWhatIsSound)
{
    struct TCase {
        const char* name;
        std::string data;
        bool ok;
        std::size_t items;
        const char* message = ""; // a part of the message when !ok
    };
    std::string binary;
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i)
        binary += static_cast<char>(random());
    const std::string good = "http://h/a.html\r\n" + Record({"10", "200 OK", "HTML"}) + "\r\n";
    const TCase cases[] = {
        {"empty", "", true, 0},
        {"only line breaks", "\r\n\r\n\n", false, 0, "Not a Pellix download list: "},
        {"cut after a URL line", good + "http://h/b.html\r\n", false, 1, "without its record line"},
        {"cut inside a record", "http://h/a.html\r\n5\xB6" "200 O", true, 1},
        {"record without separators", "http://h/a.html\r\n1", true, 1},
        {"binary", binary, false, 0, "(line 1 is not a web address); nothing was loaded."},
        // Lines that pass for records but follow no address are no items.
        {"numbers", "12\r\n3\xB6\r\n45\r\n6\xB6\r\n", false, 0, "Not a Pellix download list: "},
        {"other text", "[Task]\r\nURL=http://h/\r\n", false, 0, "Not a Pellix download list: "},
        {"garbage after sound pairs", good + "\x01\x02zz\xff\r\n5\xB6\r\n" + good, false, 1,
         "has \"??zz?\" on line 3, which is not a web address; loading stopped there."},
        {"NUL in an address", good + std::string("http://h/\0.html\r\n5\xB6\r\n", 21), false, 1, "on line 3"},
        {"binary state", good + "http://h/b.html\r\n\x01\x02\xB6\r\n", false, 1,
         "has \"??\" as the state on line 4"},
        {"state out of range", "http://h/a.html\r\n99999999999\xB6", false, 0, "99999999999"},
        {"absurd size and depth", "http://h/a.html\r\n" + Record({"3", "", "HTML", "", "-99999999999999999999", "", "", "7", "", "1e400", ""}), true, 1},
        {"LF line ends", "http://h/a.html\n" + Record({"0"}) + "\n", true, 1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        m_task->Reset();
        WriteListFile(c.data);
        const TListResult result = List().LoadList();
        EXPECT_EQ(result.ok, c.ok) << result.message;
        if (!result.ok) {
            EXPECT_NE(result.message.find(c.message), std::string::npos) << result.message;
        }
        // Loading never writes: the file is as it was.
        EXPECT_EQ(ReadWholeFile(List().FilePath()), c.data);
        std::size_t items = 0;
        for (std::size_t i = 0; i < List().Count(); ++i)
            if (TPXQItem* item = List().Item(i)) {
                ++items;
                item->Reload();
                item->WriteBack(true);
            }
        EXPECT_EQ(items, c.items);
    }

    // Random files of any length, also ones made of the bytes a list holds, never give an item.
    const std::string alphabet = "0123456789\xB6\r\n:/htp";
    for (int round = 0; round < 300; ++round) {
        std::string data;
        const std::size_t size = random() % 400;
        for (std::size_t i = 0; i < size; ++i)
            data += round % 2 ? static_cast<char>(random()) : alphabet[random() % alphabet.size()];
        m_task->Reset();
        ASSERT_TRUE(ReplaceFileQuickly(List().FilePath(), data)); // no flush: 300 files
        const TListResult result = List().LoadList();
        ASSERT_EQ(List().Item(0), nullptr) << "round " << round << ": " << result.message;
        ASSERT_EQ(result.ok, data.empty()) << "round " << round;
    }
}

TEST_F(DownloadListTest, MissingFileGivesAnEmptyList)
{
    const TListResult result = List().LoadList();
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(List().Count(), 0u);
}

TEST_F(DownloadListTest, PeriodicSaveWritesOnEveryEleventhCheck)
{
    Add("http://h/a.html");
    for (int i = 0; i < kSaveInterval; ++i) {
        ASSERT_TRUE(List().PeriodicSave().ok);
        EXPECT_FALSE(std::filesystem::exists(List().FilePath())) << "check " << i + 1;
    }
    ASSERT_TRUE(List().PeriodicSave().ok);
    EXPECT_TRUE(std::filesystem::exists(List().FilePath()));
    EXPECT_FALSE(List().HasUnsavedChanges());
    EXPECT_EQ(List().SaveCountdown(), 0);
}

class TRecordingObserver final : public IDownloadListObserver {
public:
    void BeginUpdate() override { m_events.push_back("begin"); }
    void EndUpdate() override { m_events.push_back("end"); }
    void RowsCleared() override { m_events.push_back("cleared"); }
    void RowAdded(TPXQItem& item) override { m_events.push_back("added " + std::to_string(item.ListIndex())); }
    void RowChanged(TPXQItem& item, std::optional<int> image) override
    {
        m_events.push_back("changed " + std::to_string(item.ListIndex()) + " " +
                           (image ? std::to_string(*image) : std::string("keep")));
    }
    std::vector<std::string> m_events;
};

TEST_F(DownloadListTest, ObserverSeesRowsAndStateImages)
{
    TRecordingObserver view;
    List().SetObserver(&view);
    TPXQItem& item = Add("http://h/a.html", kActionMap);
    const std::pair<TItemState, std::string> images[] = {
        {kStateNone, "2"}, {kStateUpdating, "2"}, {kStateError, "4"}, {kStateDownloaded, "keep"},
        {kStateSaved, "5"}, {kStateZipped, "5"}};
    for (const auto& [state, image] : images) {
        item.SetState(state);
        item.WriteBack(true);
    }
    m_task->Clear();
    EXPECT_EQ(view.m_events,
              (std::vector<std::string>{"added 0", "changed 0 2", "changed 0 2", "changed 0 4", "changed 0 keep",
                                        "changed 0 5", "changed 0 5", "begin", "cleared", "end"}));

    view.m_events.clear();
    WriteListFile("http://h/a.html\r\n" + Record({"0"}) + "\r\nhttp://h/b.html\r\n" + Record({"5"}) + "\r\n");
    List().LoadList();
    EXPECT_EQ(view.m_events, (std::vector<std::string>{"begin", "added 0", "added 2", "end"}));
    List().SetObserver(nullptr);
}

TEST_F(DownloadListTest, LoadReportsProgress)
{
    std::string data;
    for (int i = 0; i < 120; ++i)
        data += "http://h/" + std::to_string(i) + ".html\r\n" + Record({"0"}) + "\r\n";
    WriteListFile(data);
    std::vector<std::int64_t> positions;
    m_task->SetOnProgress([&](const std::string& text, std::int64_t position, std::int64_t maximum) {
        EXPECT_EQ(text, "Opening task....");
        EXPECT_EQ(maximum, 239);
        positions.push_back(position);
    });
    ASSERT_TRUE(List().LoadList().ok);
    EXPECT_EQ(positions, (std::vector<std::int64_t>{1, 101, 201, 239}));
}

// The coordinator and the parse thread pick while the owner thread moves items through their
// states and appends new ones.
TEST_F(DownloadListTest, PicksFromOtherThreadsWhileTheOwnerChangesTheList)
{
    for (int i = 0; i < 200; ++i)
        Add("http://h/" + std::to_string(i) + (i % 3 == 0 ? ".gif" : ".html"));
    std::atomic<bool> stop{false};
    std::atomic<long> picks{0};
    const auto picker = [&] {
        while (!stop.load()) {
            for (TPXQItem* item : {List().NextPage(), List().NextResource(), List().NextSavedPage()})
                if (item) {
                    const int state = item->State(); // readable from any thread
                    EXPECT_GE(state, kStateNone);
                    picks.fetch_add(1);
                }
            EXPECT_TRUE(List().ContainsURL("http://h/0.gif"));
            EXPECT_GT(List().Count(), 0u);
            List().Line(1);
        }
    };
    std::thread coordinator(picker);
    std::thread parser(picker);
    for (int round = 0; round < 30; ++round) {
        for (std::size_t i = 0; i < List().Count(); ++i) {
            TPXQItem* item = List().Item(i);
            item->Reload();
            item->SetState(static_cast<TItemState>((item->State() + 1 + round) % 6));
            item->WriteBack(true);
        }
        Add("http://h/new" + std::to_string(round) + ".html");
        List().SaveList();
    }
    stop = true;
    coordinator.join();
    parser.join();
    EXPECT_GT(picks.load(), 0);
}

// A child process saves a large list over and over and is killed at varying moments; what is
// left on disk must always be one whole list, the old one or the new one.
TEST_F(DownloadListTest, KilledDuringSaveLeavesAWholeFile)
{
    constexpr int kItems = 5000;
    for (int i = 0; i < kItems; ++i)
        Add("http://host/some/folder/page" + std::to_string(i) + ".html");
    ASSERT_TRUE(List().SaveList().ok);
    const std::string first = *ReadWholeFile(List().FilePath());

    std::mt19937 random(42);
    for (int round = 0; round < 10; ++round) {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(ready[0]);
            for (int n = 0;; ++n) {
                // Each save differs from the last in its final item's title and state.
                TPXQItem* last = List().Item(kItems - 1);
                last->Reload();
                last->SetTitle("save " + std::to_string(n));
                last->SetState(n % 2 == 0 ? kStateSaved : kStateParsed);
                last->WriteBack(true);
                const char byte = 's';
                if (::write(ready[1], &byte, 1) != 1)
                    ::_exit(1);
                List().SaveList();
            }
        }
        ::close(ready[1]);
        // Let the child start a few saves, then kill it after a random short spin.
        const int saves = 1 + static_cast<int>(random() % 2);
        char byte;
        for (int i = 0; i < saves; ++i)
            ASSERT_EQ(::read(ready[0], &byte, 1), 1);
        const auto spin = std::chrono::microseconds(random() % 5000);
        const auto until = std::chrono::steady_clock::now() + spin;
        while (std::chrono::steady_clock::now() < until) {
        }
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(ready[0]);

        TPXTask loaded(m_app.get());
        loaded.SetTaskName("Site");
        loaded.SetTaskFile(m_task->TaskFile());
        const TListResult result = loaded.DownloadList().LoadList();
        ASSERT_TRUE(result.ok) << "round " << round << ": " << result.message;
        ASSERT_EQ(loaded.DownloadList().Count(), static_cast<std::size_t>(kItems)) << "round " << round;
        TPXQItem* last = loaded.DownloadList().Item(kItems - 1);
        last->Reload();
        const std::string content = *ReadWholeFile(List().FilePath());
        EXPECT_TRUE(content == first || last->Title().starts_with("save ")) << "round " << round;
        EXPECT_EQ(content.substr(content.size() - 2), "\r\n");
    }
}

} // namespace
} // namespace pellix
