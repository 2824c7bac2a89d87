// Whole crawls over kept connections: what the server sees (connections, one GET per item) and
// what the user gets, which must be what a crawl with HEAD and GET over a connection each gets.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/download_list.h"
#include "engine/http_client.h"
#include "engine/loop_owner_thread.h"
#include "engine/queue_item.h"
#include "engine/slot_list.h"
#include "engine/task.h"
#include "links/file_io.h"
#include "links/text_helpers.h"
#include "tests/engine/crawl_sites.h"
#include "tests/support/crawl_fixture.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_http_server.h"
#include "tests/support/zip_entries.h"
#include "workspace/app_settings.h"
#include "workspace/session.h"
#include "workspace/task_runner.h"

namespace pellix {
namespace {

using namespace std::chrono_literals;
using test::TCrawlFixture;
using test::TServerOptions;
using test::TTestHttpServer;

constexpr auto kCrawlTimeout = 90s;

TServerOptions KeepAlive(int closeIdleAfter = 0, int dropRequestAfter = 0)
{
    TServerOptions options;
    options.keepAlive = true;
    options.closeIdleAfter = closeIdleAfter;
    options.dropRequestAfter = dropRequestAfter;
    return options;
}

// How a crawl talks to the server.
struct TWire {
    bool persistent = true;
    int pipelineDepth = 1; // requests in flight per kept connection
    int connections = 4;
};

constexpr TWire kClassic{false, 1, 4};
constexpr TWire kKept{true, 1, 4};
// One slot, so that every transfer starts while no other slot is free: requests go ahead.
constexpr TWire kPipelined{true, 3, 1};

void UseWire(TCrawlFixture& crawl, const TWire& wire)
{
    crawl.Owner().Call([&] {
        crawl.Slots().OnSetupClient = [persistent = wire.persistent](TagHTTP& http) { http.SetPersistent(persistent); };
        crawl.Slots().SetPipelineDepth(wire.pipelineDepth);
    });
}

// A page linking count images; image i is "/img/i.gif".
void ServeImages(TTestHttpServer& server, int count)
{
    std::string page = "<html><body>";
    for (int i = 0; i < count; ++i) {
        const std::string name = "/img/" + std::to_string(i) + ".gif";
        server.Route(name).Header("Content-Type", "image/gif").Body(test::RedDot() + name);
        page += "<img src=\"" + name.substr(1) + "\">";
    }
    server.Route("/index.html").Header("Content-Type", "text/html").Body(page + "</body></html>");
}

// Relative path -> content of every file under folder.
std::map<std::string, std::string> FilesUnder(const std::filesystem::path& folder)
{
    std::map<std::string, std::string> files;
    if (!std::filesystem::exists(folder))
        return files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files[entry.path().lexically_relative(folder).string()] = ReadWholeFile(entry.path()).value_or("?");
    return files;
}

// A file's lines without those that hold the moment of the run, the crawl's own folder named
// "<folder>".
std::vector<std::string> StableLines(const std::filesystem::path& file, const std::string& folder)
{
    std::vector<std::string> lines;
    const std::string text = ReadWholeFile(file).value_or("<missing>");
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        const bool moment = line.starts_with("Elapsed Time=") || line.starts_with("Start Time=") ||
                            line.starts_with("Last Run") || line.starts_with("Date");
        for (std::size_t at = line.find(folder); !folder.empty() && at != std::string::npos; at = line.find(folder))
            line.replace(at, folder.size(), "<folder>");
        if (!moment)
            lines.push_back(line.substr(0, 300));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> SplitText(const std::string& text, const std::string& separator)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + separator.size())
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

std::string JoinText(const std::vector<std::string>& parts, const std::string& separator)
{
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i)
        text += (i ? separator : "") + parts[i];
    return text;
}

// What a crawl left for the user: files, list records, task file, counters.
struct TOutcome {
    std::map<std::string, std::string> files;
    // URL line -> record line. The order of the list, and which page a link was found on first,
    // follow which transfer ends first, which differs between any two runs: both are left out.
    std::map<std::string, std::string> list;
    std::vector<std::string> taskFile;
    std::vector<int> counters; // pages, resources, page errors, resource errors
    std::int64_t totalBytes = 0;
};

void ExpectSameLines(const std::vector<std::string>& kept, const std::vector<std::string>& classic)
{
    EXPECT_EQ(kept.size(), classic.size());
    for (std::size_t i = 0; i < std::min(kept.size(), classic.size()); ++i)
        EXPECT_EQ(kept[i], classic[i]) << "line " << i;
}

TOutcome Crawl(TTestHttpServer& server, const std::filesystem::path& folder, const TWire& wire)
{
    TCrawlFixture crawl(folder, wire.connections);
    UseWire(crawl, wire);
    crawl.NewTask(server.Url("/index.html"));
    EXPECT_TRUE(crawl.Run(kRunRestart));
    EXPECT_TRUE(crawl.WaitComplete(kCrawlTimeout));
    TOutcome outcome;
    outcome.files = FilesUnder(crawl.SiteFolder());
    std::filesystem::path list;
    crawl.Owner().Call([&] {
        TPXTask& task = crawl.Task();
        task.DownloadList().SaveList();
        list = task.DownloadList().FilePath();
        outcome.counters = {task.PagesSaved(), task.ResourcesSaved(), task.PageErrors(), task.ResourceErrors()};
        outcome.totalBytes = task.TotalBytes();
    });
    const std::vector<std::string> lines = StableLines(list, folder.string());
    for (std::size_t i = 0; i + 1 < lines.size(); i += 2) {
        std::vector<std::string> fields = SplitText(lines[i + 1], "\xB6");
        if (fields.size() > 5)
            fields[5].clear(); // the parent URL
        outcome.list[lines[i]] = JoinText(fields, "\xB6");
    }
    outcome.taskFile = StableLines(crawl.TaskFile(), folder.string());
    return outcome;
}

TEST(PersistentConnectionTest, SameSiteGivesTheSameFilesListAndCountersOverEitherWire)
{
    struct TSite {
        const char* name;
        TServerOptions options;
        std::function<void(TTestHttpServer&)> serve;
    };
    const TSite sites[] = {
        {"small site", KeepAlive(), [](TTestHttpServer& s) { test::ServeSite(s); }},
        {"bad pages and broken replies", KeepAlive(), test::ServeBrokenSite},
        {"modern site", KeepAlive(), test::ServeModernSite},
        {"idle connections dropped", KeepAlive(2, 0), [](TTestHttpServer& s) { test::ServeSite(s); }},
        {"requests dropped unanswered", KeepAlive(0, 5), [](TTestHttpServer& s) { ServeImages(s, 24); }},
        // Replies that end their connection while requests are ahead of them on it.
        {"replies that end their connection", KeepAlive(),
         [](TTestHttpServer& s) {
             ServeImages(s, 24);
             s.Route("/img/4.gif").Header("Content-Type", "image/gif").Body(test::RedDot() + "4").ConnectionClose();
             s.Route("/img/9.gif").Header("Content-Type", "image/gif").Body(test::RedDot() + "9").NoLength();
             // Too long to read past: the body is left unread with its connection.
             s.Route("/img/13.gif").Status(404).Body(std::string(100000, 'x'));
             s.Route("/img/17.gif").Status(301).Header("Location", s.Url("/img/18.gif")).Body(std::string(100000, 'r'));
         }},
    };
    for (const TSite& site : sites) {
        SCOPED_TRACE(site.name);
        // One server for every crawl, so that addresses in the saved files are the same; a client
        // that asks for "Connection: close" gets one connection per request from it.
        TTestHttpServer server(site.options);
        site.serve(server);
        test::TTempFolder before;
        const TOutcome classic = Crawl(server, before.Path(), kClassic);
        EXPECT_FALSE(classic.files.empty());
        const int classicConnections = server.ConnectionCount();
        for (const TWire& wire : {kKept, kPipelined}) {
            SCOPED_TRACE(wire.pipelineDepth > 1 ? "requests sent ahead" : "one request at a time");
            const std::size_t requestsBefore = server.Requests().size();
            const int connectionsBefore = server.ConnectionCount();
            test::TTempFolder after;
            const TOutcome kept = Crawl(server, after.Path(), wire);

            EXPECT_EQ(kept.files, classic.files);
            EXPECT_EQ(kept.list, classic.list);
            ExpectSameLines(kept.taskFile, classic.taskFile);
            EXPECT_EQ(kept.counters, classic.counters);
            EXPECT_EQ(kept.totalBytes, classic.totalBytes);

            // No HEAD was sent, and far fewer connections were needed.
            const std::vector<test::TReceivedRequest> requests = server.Requests();
            std::size_t heads = 0;
            for (std::size_t i = requestsBefore; i < requests.size(); ++i)
                heads += requests[i].method == "HEAD";
            EXPECT_EQ(heads, 0u);
            EXPECT_LT(server.ConnectionCount() - connectionsBefore, classicConnections / 2);
        }
    }
}

TEST(PersistentConnectionTest, RequestsGoAheadOfTheirTurnOnAKeptConnection)
{
    TTestHttpServer server(KeepAlive());
    ServeImages(server, 40);
    // Held back until the GETs of the next two images have arrived on its connection.
    server.Route("/img/10.gif").Header("Content-Type", "image/gif").Body(test::RedDot() + "/img/10.gif").AwaitAhead(2);
    test::TTempFolder folder;
    TCrawlFixture crawl(folder.Path(), 1);
    UseWire(crawl, kPipelined);
    crawl.NewTask(server.Url("/index.html"));
    ASSERT_TRUE(crawl.Run(kRunRestart));
    ASSERT_TRUE(crawl.WaitComplete(kCrawlTimeout));
    EXPECT_EQ(crawl.CountInState(kStateSaved), 40); // the page is "Parsed"
    EXPECT_EQ(crawl.Task().ResourcesSaved(), 40);
    EXPECT_EQ(crawl.Task().ResourceErrors(), 0);
    EXPECT_GE(server.MaxRequestsAhead(), 2);
    // Every item asked for once, all over one connection.
    EXPECT_EQ(server.Requests().size(), 41u);
    EXPECT_EQ(server.RequestsPerConnection(), std::vector<int>{41});
    EXPECT_EQ(crawl.FileText(server.Url("/img/39.gif")), test::RedDot() + "/img/39.gif");
}

TEST(PersistentConnectionTest, AStopLeavesTheItemsAheadWaitingAndTheyFollowOnResume)
{
    TTestHttpServer server(KeepAlive());
    ServeImages(server, 10);
    server.Route("/img/3.gif").NeverAnswer();
    test::TTempFolder folder;
    {
        TCrawlFixture crawl(folder.Path(), 1);
        UseWire(crawl, kPipelined);
        crawl.NewTask(server.Url("/index.html"));
        ASSERT_TRUE(crawl.Run(kRunRestart));
        // index.html and images 0 to 3: the transfer of image 3 waits with GETs ahead of it.
        ASSERT_TRUE(server.WaitForRequests(5, kCrawlTimeout));
        ASSERT_TRUE(crawl.Owner().WaitUntil([&] { return crawl.Task().ResourcesSaved() == 3; },
                                            TLoopOwnerThread::TClock::now() + kCrawlTimeout));
        crawl.Stop();
        EXPECT_EQ(crawl.CountInState(kStateSaved), 3);
        EXPECT_EQ(crawl.CountInState(kStateError), 0);
        EXPECT_EQ(crawl.CountInState(kStateNone), 7);
        EXPECT_EQ(crawl.Task().ResourceErrors(), 0);
        crawl.Owner().Call([&] {
            // Those picked ahead look like those never picked.
            const TPXDownloadList& list = crawl.Task().DownloadList();
            for (std::size_t i = 0; i < list.Count(); ++i) {
                const TPXQItem* item = list.Item(i);
                if (item->URL().ends_with("4.gif") || item->URL().ends_with("5.gif")) {
                    EXPECT_EQ(item->StatusText(), "") << item->URL();
                }
            }
        });
    }
    server.SetRoute("/img/3.gif", test::TRoute{});
    server.Route("/img/3.gif").Header("Content-Type", "image/gif").Body(test::RedDot() + "/img/3.gif");
    TCrawlFixture crawl(folder.Path(), 1);
    UseWire(crawl, kPipelined);
    ASSERT_TRUE(crawl.LoadTask());
    ASSERT_TRUE(crawl.Run(kRunResume));
    ASSERT_TRUE(crawl.WaitComplete(kCrawlTimeout));
    EXPECT_EQ(crawl.CountInState(kStateSaved), 10);
    EXPECT_EQ(crawl.Task().ResourceErrors(), 0);
    EXPECT_EQ(crawl.FileText(server.Url("/img/3.gif")), test::RedDot() + "/img/3.gif");
}

TEST(PersistentConnectionTest, ZipModeGivesTheSameEntriesOverEitherWire)
{
    TTestHttpServer server(KeepAlive());
    test::ServeSite(server);
    std::vector<test::TStoredZipEntry> entries[2];
    for (const bool persistent : {false, true}) {
        SCOPED_TRACE(persistent ? "kept connections" : "a connection per request");
        test::TTempFolder folder;
        TCrawlFixture crawl(folder.Path());
        crawl.App().SetBeepOnCompletion(false);
        UseWire(crawl, persistent ? kKept : kClassic);
        TTaskRunner& runner = crawl.Session().Runner();
        TCreateTaskResult created;
        crawl.Owner().Call([&] { created = runner.CreateTaskFromAddress(server.Url("/index.html"), "Default", false, false); });
        ASSERT_TRUE(created.ok) << created.message;
        const std::shared_ptr<TPXTask> task = created.task;
        bool started = false;
        crawl.Owner().Call([&] {
            task->SetRunMode(kRunRestart);
            started = runner.StartTask(task).ok;
        });
        ASSERT_TRUE(started);
        ASSERT_TRUE(crawl.Owner().WaitUntil([&] { return task->Status() == kStatusZipped; },
                                            TLoopOwnerThread::TClock::now() + kCrawlTimeout));
        entries[persistent] = test::StoredZipEntries(task->Destination());
        for (test::TStoredZipEntry& entry : entries[persistent])
            entry.mtime = 0; // the moment each file was written
        EXPECT_TRUE(test::UnzipTest(task->Destination()));
    }
    EXPECT_EQ(entries[1].size(), 14u); // the site and its banner page
    // The same entries with the same bytes; the order follows which transfer finished first.
    std::sort(entries[0].begin(), entries[0].end(), [](auto& a, auto& b) { return a.name < b.name; });
    std::sort(entries[1].begin(), entries[1].end(), [](auto& a, auto& b) { return a.name < b.name; });
    EXPECT_EQ(entries[1], entries[0]);
}

TEST(PersistentConnectionTest, KeptConnectionsCarryTheWholeSite)
{
    TTestHttpServer server(KeepAlive());
    // A single-host site of 200 items: one page that links every image.
    std::string page = "<html><body>";
    for (int i = 0; i < 199; ++i) {
        const std::string name = "/img/" + std::to_string(i) + ".gif";
        server.Route(name).Body(test::RedDot() + name);
        page += "<img src=\"" + name.substr(1) + "\">";
    }
    server.Route("/index.html").Header("Content-Type", "text/html").Body(page + "</body></html>");
    test::TTempFolder folder;
    TCrawlFixture crawl(folder.Path(), 4);
    crawl.NewTask(server.Url("/index.html"));
    ASSERT_TRUE(crawl.Run(kRunRestart));
    ASSERT_TRUE(crawl.WaitComplete(kCrawlTimeout));
    EXPECT_EQ(crawl.CountInState(kStateSaved), 199);
    EXPECT_EQ(server.Requests().size(), 200u); // one GET per item, nothing else
    EXPECT_EQ(test::Requests(server, "HEAD").size(), 0u);
    // At most one connection per slot: below 0.1 connections per item.
    EXPECT_LE(server.ConnectionCount(), 4);
}

TEST(PersistentConnectionTest, RedirectToAnotherHostIsSavedUnderTheItemsOwnName)
{
    TTestHttpServer origin(KeepAlive());
    TTestHttpServer other(KeepAlive());
    other.Route("/moved/a.gif").Body("GIF89a moved");
    other.Route("/b.gif").Body("GIF89a b");
    origin.Route("/index.html")
        .Header("Content-Type", "text/html")
        .Body("<html><body><img src=\"a.gif\"><img src=\"c.gif\"></body></html>");
    origin.Route("/a.gif").Status(302).Header("Location", other.Url("/moved/a.gif"));
    origin.Route("/c.gif").Body("GIF89a c");
    test::TTempFolder folder;
    TCrawlFixture crawl(folder.Path(), 1);
    // One request at a time: a GET sent ahead would be lost with the origin's connection.
    UseWire(crawl, kKept);
    crawl.NewTask(origin.Url("/index.html"));
    ASSERT_TRUE(crawl.Run(kRunRestart));
    ASSERT_TRUE(crawl.WaitComplete(kCrawlTimeout));
    EXPECT_EQ(crawl.FileText(origin.Url("/a.gif")), "GIF89a moved");
    EXPECT_EQ(crawl.FileText(origin.Url("/c.gif")), "GIF89a c");
    EXPECT_EQ(crawl.CountInState(kStateSaved), 2);
    EXPECT_EQ(crawl.Task().ResourceErrors(), 0);
    // The redirect's body was not read and its connection served the next item on the origin;
    // the other host got a connection of its own.
    EXPECT_EQ(test::Requests(origin), (std::vector<std::string>{"GET /index.html", "GET /a.gif", "GET /c.gif"}));
    EXPECT_LE(origin.ConnectionCount(), 2);
    EXPECT_EQ(other.ConnectionCount(), 1);
}

TEST(PersistentConnectionTest, ServersGetNoMoreSlotsThanTheirLimit)
{
    // Two servers with slow images; 4 slots, at most 2 per server.
    TTestHttpServer first(KeepAlive());
    TTestHttpServer second(KeepAlive());
    std::string page = "<html><body>";
    for (int i = 0; i < 12; ++i) {
        const std::string name = "/" + std::to_string(i) + ".gif";
        first.Route(name).Body("GIF89a 1" + name).Delay(20ms);
        second.Route(name).Body("GIF89a 2" + name).Delay(20ms);
        page += "<img src=\"" + first.Url(name) + "\"><img src=\"" + second.Url(name) + "\">";
    }
    first.Route("/index.html").Header("Content-Type", "text/html").Body(page + "</body></html>");
    test::TTempFolder folder;
    TCrawlFixture crawl(folder.Path(), 4);
    crawl.Owner().Call([&] { crawl.Slots().SetPerHostLimit(2); });
    crawl.NewTask(first.Url("/index.html"));
    ASSERT_TRUE(crawl.Run(kRunRestart));
    ASSERT_TRUE(crawl.WaitComplete(kCrawlTimeout));
    EXPECT_EQ(crawl.CountInState(kStateSaved), 24);
    EXPECT_LE(first.MaxOpenConnections(), 2);
    EXPECT_LE(second.MaxOpenConnections(), 2);
    EXPECT_EQ(second.MaxOpenConnections(), 2); // both servers worked in parallel
}

} // namespace
} // namespace pellix
