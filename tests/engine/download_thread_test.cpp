// The coordinator: pick rules, completion, live connection count, stop and resume.
#include "engine/download_thread.h"

#include <csignal>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "engine/download_list.h"
#include "engine/loop_owner_thread.h"
#include "engine/queue_item.h"
#include "engine/slot_list.h"
#include "engine/task.h"
#include "engine/transfer_thread.h"
#include "links/file_io.h"
#include "links/url_rules.h"
#include "tasks/status_model.h"
#include "tests/support/crawl_fixture.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_http_server.h"

extern char** environ;

namespace pellix::test {
namespace {

using namespace std::chrono_literals;

TEST(TThreadDownloadRuleTest, PageFirst)
{
    struct TCase {
        int pages, resources, priority;
        bool pageFirst;
    };
    const TCase cases[] = {
        {0, 0, 10, true},  // nothing taken yet: a page
        {1, 0, 10, false}, {0, 5, 10, true}, // no page taken yet: 0 is not above 0
        {7, 0, 0, true},   {3, 3, 5, true},   // 3/6 is not above 0.5
        {4, 3, 5, false},  {1, 1, 5, true},   {2, 1, 5, false},
        {1, 4, 8, true},   {1, 3, 8, false},  // 0.2 against 0.2 and 0.25
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pages << "/" << c.resources << " P=" << c.priority);
        EXPECT_EQ(TThreadDownload::PageFirst(c.pages, c.resources, c.priority), c.pageFirst);
    }
}

class TThreadDownloadTest : public TCrawlTest {
protected:
    // Pages and resources in alternating list order, all served.
    void AddMixedList(TTestHttpServer& server)
    {
        for (int i = 1; i <= 3; ++i) {
            const std::string page = "/p" + std::to_string(i) + ".html";
            const std::string resource = "/r" + std::to_string(i) + ".gif";
            server.Route(page).Body("page");
            server.Route(resource).Body("image");
            m_crawl->Add(server.Url(page), "HTML");
            m_crawl->Add(server.Url(resource));
        }
    }
};

TEST_F(TThreadDownloadTest, PriorityDecidesTheOrderOfFetches)
{
    struct TCase {
        int priority;
        std::vector<std::string> order;
    };
    const TCase cases[] = {
        {0, {"GET /p1.html", "GET /p2.html", "GET /p3.html", "GET /r1.gif", "GET /r2.gif", "GET /r3.gif"}},
        {10, {"GET /p1.html", "GET /r1.gif", "GET /r2.gif", "GET /r3.gif", "GET /p2.html", "GET /p3.html"}},
        {5, {"GET /p1.html", "GET /r1.gif", "GET /p2.html", "GET /r2.gif", "GET /p3.html", "GET /r3.gif"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.priority);
        TearDown();
        SetUp();
        TTestHttpServer server;
        m_crawl->ParsePagesOnSave();
        m_crawl->SetConnections(1);
        m_crawl->Coordinator().SetPriority(c.priority);
        AddMixedList(server);
        ASSERT_TRUE(m_crawl->RunToEnd());
        EXPECT_EQ(m_crawl->Task().Status(), kStatusComplete);
        EXPECT_EQ(Requests(server, "GET"), c.order);
        EXPECT_EQ(m_crawl->Task().PagesSaved(), 3);
        EXPECT_EQ(m_crawl->Task().ResourcesSaved(), 3);
    }
}

TEST_F(TThreadDownloadTest, TaskWhoseItemsAllFailCompletesWithErrorsEqualToTotals)
{
    TTestHttpServer server;
    server.Route("/b.html").Status(500);
    server.Route("/c.gif").Status(500);
    m_crawl->Add(server.Url("/a.html"), "HTML"); // not routed: 404
    m_crawl->Add(server.Url("/b.html"), "HTML");
    m_crawl->Add(server.Url("/c.gif"));
    m_crawl->Add(server.Url("/d.gif"));
    int completions = 0;
    m_crawl->Coordinator().OnComplete = [&](TPXTask&) { ++completions; };
    ASSERT_TRUE(m_crawl->RunToEnd());
    EXPECT_EQ(m_crawl->Task().Status(), kStatusComplete);
    EXPECT_EQ(m_crawl->Task().PageErrors(), m_crawl->Task().TotalPages());
    EXPECT_EQ(m_crawl->Task().ResourceErrors(), m_crawl->Task().TotalResources());
    EXPECT_EQ(m_crawl->Task().PageErrors() + m_crawl->Task().ResourceErrors(), 4);
    EXPECT_EQ(completions, 1);
    EXPECT_FALSE(m_crawl->Task().DownloadList().HasUnsavedChanges());
    EXPECT_TRUE(std::filesystem::exists(m_crawl->TaskFile().parent_path() / "Site.dwn"));
    EXPECT_TRUE(std::filesystem::exists(m_crawl->TaskFile()));
    m_crawl->Owner().Call([&] { m_crawl->Status().RefreshCounters(); });
    EXPECT_EQ(m_crawl->Status().Counters().errorsCaption, "4/4 -> ");
}

TEST_F(TThreadDownloadTest, SavedPageAwaitingItsParseKeepsTheTaskOpen)
{
    TTestHttpServer server;
    server.Route("/index.html").Body("<html></html>");
    TPXQItem* page = m_crawl->Add(server.Url("/index.html"), "HTML");
    m_crawl->StartRun();
    ASSERT_TRUE(server.WaitForRequests(1, 10s));
    ASSERT_TRUE(m_crawl->Owner().WaitUntil([&] { return page->State() == kStateSaved; },
                                           std::chrono::steady_clock::now() + kDeadline));
    // Every slot idle and nothing to fetch, but the page may still add links.
    EXPECT_FALSE(m_crawl->Coordinator().WaitSuspended(1500ms));
    EXPECT_EQ(m_crawl->Task().Status(), kStatusDownloading);

    m_crawl->Owner().Call([&] {
        page->SetState(kStateParsed);
        page->WriteBack(true);
    });
    m_crawl->Coordinator().Wake();
    ASSERT_TRUE(m_crawl->Coordinator().WaitSuspended(kDeadline));
    EXPECT_EQ(m_crawl->Task().Status(), kStatusComplete);
}

TEST_F(TThreadDownloadTest, LinksQueuedWhileRunningAreFetchedAtOnce)
{
    // A page whose "parse" queues two more pages, the way the parse thread does.
    TTestHttpServer server;
    server.Route("/index.html").Body("start");
    server.Route("/next1.html").Body("one");
    server.Route("/next2.html").Body("two");
    m_crawl->Owner().Call([&] {
        m_crawl->Slots().OnPageSaved = [this, &server](TPXQItem& item) {
            item.SetState(kStateParsed);
            item.WriteBack(true);
            TPXDownloadList& list = m_crawl->Task().DownloadList();
            if (list.Count() == 1) {
                list.AddItem(std::make_unique<TPXQItem>(server.Url("/next1.html"), "HTML", 1));
                list.AddItem(std::make_unique<TPXQItem>(server.Url("/next2.html"), "HTML", 1));
                m_crawl->Coordinator().Wake();
            }
        };
    });
    m_crawl->Add(server.Url("/index.html"), "HTML");
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(m_crawl->RunToEnd());
    EXPECT_EQ(m_crawl->Task().Status(), kStatusComplete);
    EXPECT_EQ(m_crawl->Task().PagesSaved(), 3);
    // Woken by the queueing and by each transfer's end, not by the one-second cycle.
    EXPECT_LT(std::chrono::steady_clock::now() - started, TThreadDownload::kCycle);
}

TEST_F(TThreadDownloadTest, TransfersThatCannotStartStillSendTheNextItemOutAtOnce)
{
    // The client refuses the address before any request: the transfer ends at its start.
    constexpr int kItems = 100;
    for (int i = 0; i < kItems; ++i)
        m_crawl->Add("ftp://127.0.0.1/f" + std::to_string(i) + ".gif");
    m_crawl->SetConnections(4);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(m_crawl->RunToEnd());
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(m_crawl->Task().Status(), kStatusComplete);
    EXPECT_EQ(m_crawl->Task().ResourceErrors(), kItems);
    // One cycle per item would take 25 s over 4 connections.
    EXPECT_LT(took, 5s);
}

TEST_F(TThreadDownloadTest, ConnectionCountFollowsTheSliderDuringARun)
{
    TTestHttpServer server;
    for (int i = 0; i < 40; ++i) {
        const std::string target = "/f" + std::to_string(i) + ".gif";
        server.Route(target).Body("data").Delay(30ms);
        m_crawl->Add(server.Url(target));
    }
    m_crawl->SetConnections(10);
    m_crawl->StartRun();
    ASSERT_TRUE(server.WaitForRequests(10, 10s));

    std::size_t countAfterLowering = 0;
    m_crawl->Owner().Call([&] {
        m_crawl->Slots().SetConnections(4);
        countAfterLowering = m_crawl->Slots().Count();
    });
    EXPECT_EQ(countAfterLowering, 10u); // busy slots finish first
    ASSERT_TRUE(m_crawl->Owner().WaitUntil([&] { return m_crawl->Slots().Count() == 4; },
                                           std::chrono::steady_clock::now() + kDeadline));

    std::size_t countAfterRaising = 0;
    m_crawl->Owner().Call([&] {
        m_crawl->Slots().SetConnections(6);
        countAfterRaising = m_crawl->Slots().Count();
    });
    EXPECT_EQ(countAfterRaising, 6u);
    ASSERT_TRUE(m_crawl->Coordinator().WaitSuspended(kDeadline));
    EXPECT_EQ(m_crawl->Task().Status(), kStatusComplete);
    EXPECT_EQ(m_crawl->Task().ResourcesSaved(), 40);
    EXPECT_EQ(m_crawl->Task().ResourceErrors(), 0);
    m_crawl->Stop();
    m_crawl->Owner().Call([&] {
        EXPECT_EQ(m_crawl->Slots().Count(), 6u);
        EXPECT_EQ(m_crawl->Slots().Connections(), 6);
        EXPECT_EQ(m_crawl->Slots().BusyCount(), 0);
    });
}

TEST_F(TThreadDownloadTest, StopLeavesInterruptedItemsWaitingAndResumeFetchesThem)
{
    TTestHttpServer server;
    server.Route("/done.gif").Body("early");
    std::vector<TPXQItem*> items{m_crawl->Add(server.Url("/done.gif"))};
    for (int i = 0; i < 3; ++i) {
        const std::string target = "/hang" + std::to_string(i) + ".gif";
        server.Route(target).NeverAnswer();
        items.push_back(m_crawl->Add(server.Url(target)));
    }
    m_crawl->SetConnections(3);
    m_crawl->StartRun();
    ASSERT_TRUE(m_crawl->Owner().WaitUntil(
        [&] { return items[0]->State() == kStateSaved && m_crawl->Slots().BusyCount() == 3; },
        std::chrono::steady_clock::now() + kDeadline));
    m_crawl->Stop();
    EXPECT_EQ(m_crawl->StateOf(items[0]), kStateSaved);
    for (std::size_t i = 1; i < items.size(); ++i)
        EXPECT_EQ(m_crawl->StateOf(items[i]), kStateNone);
    EXPECT_FALSE(m_crawl->Task().DownloadList().HasUnsavedChanges());
    m_crawl->Owner().Call([&] { EXPECT_EQ(m_crawl->Slots().BusyCount(), 0); });

    TRoute answering;
    answering.body = "late";
    for (int i = 0; i < 3; ++i)
        server.SetRoute("/hang" + std::to_string(i) + ".gif", answering);
    const std::size_t before = Requests(server, "GET").size();
    ASSERT_TRUE(m_crawl->RunToEnd());
    EXPECT_EQ(m_crawl->Task().Status(), kStatusComplete);
    for (TPXQItem* item : items)
        EXPECT_EQ(m_crawl->StateOf(item), kStateSaved);
    EXPECT_EQ(Requests(server, "GET").size(), before + 3); // the saved one is not fetched again
}

TEST_F(TThreadDownloadTest, ResourcesOfAZipModeTaskGoToTheZipQueue)
{
    TTestHttpServer server;
    server.Route("/a.gif").Body("gif");
    server.Route("/index.html").Body("page");
    m_crawl->Owner().Call([&] { m_crawl->Task().SetIntranetMode(false); });
    m_crawl->ParsePagesOnSave();
    m_crawl->Add(server.Url("/index.html"), "HTML");
    m_crawl->Add(server.Url("/a.gif"));
    m_crawl->Add(server.Url("/missing.gif"));
    ASSERT_TRUE(m_crawl->RunToEnd());
    ASSERT_EQ(m_crawl->Task().ZipQueueCount(), 1u); // pages are queued by the parse thread; errors never
    const std::optional<TZipQueueEntry> entry = m_crawl->Task().TakeFromZipQueue();
    ASSERT_TRUE(entry);
    EXPECT_EQ(ReadWholeFile(entry->path).value_or(""), "gif");
}

// A crawl in a child process that the parent kills with SIGKILL several times.
constexpr const char* kChildFolderVariable = "PELLIX_CRAWL_CHILD_FOLDER";
constexpr const char* kChildPortVariable = "PELLIX_CRAWL_CHILD_PORT";
constexpr int kKillFiles = 24;

std::string KillFileBody(int i)
{
    std::string body(150000 + i * 1000, ' ');
    for (std::size_t k = 0; k < body.size(); ++k)
        body[k] = static_cast<char>('A' + (k * 31 + static_cast<std::size_t>(i)) % 26);
    return body;
}

std::string KillFileUrl(int port, int i)
{
    return "http://127.0.0.1:" + std::to_string(port) + "/k/" + std::to_string(i) + ".bin";
}

// Runs only inside the child: resumes the list left by the killed run, or starts one.
TEST(TThreadDownloadKillChild, Crawl)
{
    const char* folder = std::getenv(kChildFolderVariable);
    const char* port = std::getenv(kChildPortVariable);
    if (!folder || !port)
        GTEST_SKIP() << "runs as the child of KilledCrawlResumesWithoutTornFiles";
    TCrawlFixture crawl(folder, 4);
    crawl.Owner().Call([&] {
        TPXDownloadList& list = crawl.Task().DownloadList();
        ASSERT_TRUE(list.LoadList().ok);
        if (list.Count() == 0) {
            for (int i = 0; i < kKillFiles; ++i)
                list.AddItem(std::make_unique<TPXQItem>(KillFileUrl(std::atoi(port), i), "BIN", 1));
            list.SaveList();
        }
    });
    crawl.StartRun();
    ASSERT_TRUE(crawl.Coordinator().WaitSuspended(std::chrono::seconds(60)));
    EXPECT_EQ(crawl.Task().Status(), kStatusComplete);
}

pid_t SpawnChild(const std::string& folder, int port)
{
    std::vector<std::string> variables;
    for (char** entry = environ; *entry; ++entry)
        variables.emplace_back(*entry);
    variables.push_back(std::string(kChildFolderVariable) + "=" + folder);
    variables.push_back(std::string(kChildPortVariable) + "=" + std::to_string(port));
    std::vector<char*> envp;
    for (std::string& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::string exe = "/proc/self/exe";
    std::string filter = "--gtest_filter=TThreadDownloadKillChild.Crawl";
    char* argv[] = {exe.data(), filter.data(), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv, envp.data()) != 0)
        return -1;
    return pid;
}

TEST(TThreadDownloadKillTest, KilledCrawlResumesWithoutTornFiles)
{
    using namespace std::chrono_literals;
    TTempFolder folder;
    TTestHttpServer server;
    for (int i = 0; i < kKillFiles; ++i)
        server.Route("/k/" + std::to_string(i) + ".bin").Body(KillFileBody(i)).Slow(16 * 1024, 2ms);
    const std::string site = folder.Text() + "site/";
    const auto checkSavedFiles = [&](bool all) {
        for (int i = 0; i < kKillFiles; ++i) {
            const std::string url = KillFileUrl(server.Port(), i);
            const std::filesystem::path path = LocalFileName(site, URLDirectory(url), url);
            if (!all && !std::filesystem::exists(path))
                continue;
            EXPECT_TRUE(ReadWholeFile(path).value_or("") == KillFileBody(i)) << "torn or missing: " << path;
        }
    };
    int kills = 0;
    int killsMidBody = 0; // kills that left a body half written
    // Kill at several depths of the crawl (one request per item).
    for (const std::size_t requests : {3u, 7u, 13u, 19u}) {
        SCOPED_TRACE(requests);
        const std::size_t before = server.Requests().size();
        const pid_t child = SpawnChild(folder.Path().string(), server.Port());
        ASSERT_GT(child, 0);
        const bool reached = server.WaitForRequests(before + requests, 60s);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        if (!reached || !WIFSIGNALED(status))
            break; // the crawl was over before the kill
        ++kills;
        std::error_code ec;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(site, ec))
            if (entry.path().string().ends_with(TThreadHTTP::kPartSuffix) && entry.file_size() > 0) {
                ++killsMidBody;
                break;
            }
        checkSavedFiles(false);
    }
    EXPECT_EQ(kills, 4);
    EXPECT_GE(killsMidBody, 1);
    const pid_t child = SpawnChild(folder.Path().string(), server.Port());
    ASSERT_GT(child, 0);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    checkSavedFiles(true);
    // Every part file became its item's file.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(site))
        EXPECT_EQ(entry.path().string().find(TThreadHTTP::kPartSuffix), std::string::npos) << entry.path();
}

} // namespace
} // namespace pellix::test
