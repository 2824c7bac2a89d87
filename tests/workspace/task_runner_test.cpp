// Tests for TTaskRunner: task creation, start, stop, the zip timer's tick and completion.
#include "workspace/task_runner.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "engine/download_thread.h"
#include "engine/loop_owner_thread.h"
#include "engine/slot_list.h"
#include "engine/task.h"
#include "links/banner.h"
#include "links/parse_thread.h"
#include "links/text_helpers.h"
#include "workspace/app_settings.h"
#include "workspace/session.h"
#include "links/file_io.h"
#include "tests/support/crawl_fixture.h"
#include "tests/support/site_checker.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_http_server.h"
#include "tests/support/zip_entries.h"

namespace pellix {
namespace {

// The folder of the test server's files: its host and, as it is no default port, its port.
std::string HostFolder(const test::TTestHttpServer& server)
{
    return "127.0.0.1_" + std::to_string(server.Port());
}

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using TClock = TLoopOwnerThread::TClock;

// The program's objects as every program assembles them, from the crawl fixture (its own task
// is not used here), kept on disk under one folder, so a second harness on the same folder
// stands in for a later process. The harness subscribes to the session's events and keeps what
// they said (owner thread).
class TRunnerHarness final : public ISessionObserver {
public:
    explicit TRunnerHarness(const fs::path& folder)
        : crawl(folder), app(&crawl.App()), owner(&crawl.Owner()), runner(&crawl.Session().Runner())
    {
        app->SetBeepOnCompletion(false);
        crawl.Session().Events().Subscribe(*this);
    }

    ~TRunnerHarness() override { crawl.Session().Events().Unsubscribe(*this); }

    void OnStatusText(const std::string& text) override { statuses.push_back(text); }
    void OnMessage(TRunnerMessageKind, const std::string& text) override { messages.push_back(text); }
    void OnTaskCompleted(TPXTask&, const std::string& text) override { report = text; }
    void OnTaskStopped(TPXTask&, const std::string& text) override { stopped = text; }
    void OnZipPacked(TPXTask& task, std::size_t) override { statusAtPack.push_back(task.Status()); }
    void OnProgress(const std::string& text, std::int64_t position, std::int64_t maximum) override
    {
        progress.push_back(text + " " + std::to_string(position) + "/" + std::to_string(maximum));
    }

    std::shared_ptr<TPXTask> Create(const std::string& url, bool intranet = false)
    {
        TCreateTaskResult created;
        owner->Call([&] { created = runner->CreateTaskFromAddress(url, "Default", false, intranet); });
        EXPECT_TRUE(created.ok) << created.message;
        return created.task;
    }

    bool Start(const std::shared_ptr<TPXTask>& task, TRunMode mode)
    {
        bool ok = false;
        owner->Call([&] {
            task->SetRunMode(mode);
            ok = runner->StartTask(task).ok;
        });
        return ok;
    }

    bool WaitFor(const std::function<bool()>& predicate, std::chrono::milliseconds timeout = 30s)
    {
        return owner->WaitUntil(predicate, TClock::now() + timeout);
    }

    test::TCrawlFixture crawl;
    TPXApp* app;
    TLoopOwnerThread* owner;
    TTaskRunner* runner;
    std::string report;
    std::string stopped;
    std::vector<std::string> messages;
    std::vector<std::string> statuses;
    std::vector<int> statusAtPack;
    std::vector<std::string> progress;
};

// A page with two images; slow.png answers only after a pause, so the run stays in status 2
// for a while after everything else is saved.
void ServeSite(test::TTestHttpServer& server, std::chrono::milliseconds slowDelay)
{
    server.Route("/").Header("Content-Type", "text/html")
        .Body("<html><head><title>Docs: What?</title></head><body>"
              "<a href=\"about.html\">about</a><img src=\"a.png\"><img src=\"slow.png\"></body></html>");
    server.Route("/about.html").Header("Content-Type", "text/html")
        .Body("<html><head><title>About</title></head><body><img src=\"a.png\"></body></html>");
    server.Route("/a.png").Header("Content-Type", "image/png").Body("PNGDATA-A");
    server.Route("/slow.png").Header("Content-Type", "image/png").Body("PNGDATA-SLOW").Delay(slowDelay);
}

std::set<std::string> SiteEntries(const test::TTestHttpServer& server)
{
    const std::string host = HostFolder(server);
    // The banner page that the saved pages load sits at the top of the Zip, beside the host.
    return {host + "/index.htm", host + "/about.html", host + "/a.png", host + "/slow.png", kBannerPageName};
}

TEST(TTaskRunnerTest, CompletionReportDropsWholeDays)
{
    TPXTask task;
    task.SetTaskName("docs");
    task.SetURL("http://docs.example.net/");
    task.SetDestination("/home/u/Downloads/docs.zip");
    task.SetPagesSaved(12);
    task.SetPageErrors(2);
    task.SetResourcesSaved(30);
    task.SetResourceErrors(1);
    task.SetElapsedTime(1 + EncodeTime(1, 2, 3)); // 25 hours, 2 minutes, 3 seconds
    EXPECT_EQ(TTaskRunner::CompletionReport(task),
              "Pellix Task Completed.\n\nTask Name: docs\nURL: http://docs.example.net/\n"
              "Destination: /home/u/Downloads/docs.zip\n\n\nElapsed Time: 1 Hrs 2 Min 3 Sec\n\n"
              "Pages:\n    10 downloaded\n    2 not found\n\n"
              "Resources:\n    29 downloaded\n    1 not found");
    task.SetElapsedTime(EncodeTime(0, 4, 5));
    EXPECT_NE(TTaskRunner::CompletionReport(task).find("Elapsed Time: 4 Min 5 Sec\n"), std::string::npos);
}

TEST(TTaskRunnerTest, CreateTaskNamesAndRefusals)
{
    test::TTempFolder folder;
    TRunnerHarness h(folder.Path());
    // A Zip of the site's name is already in the downloads folder.
    std::string downloads;
    h.owner->Call([&] { downloads = h.app->DownloadsFolder(); });
    std::ofstream(downloads + "example.zip") << "taken";

    const auto first = h.Create("www.example.net/docs/");
    const auto second = h.Create("http://www.example.net/");
    ASSERT_TRUE(first && second);
    const std::string category = h.app->TasksFolder() + "General/";
    EXPECT_EQ(first->TaskFile(), category + "example.pxt");
    EXPECT_EQ(second->TaskFile(), category + "example(0).pxt");
    EXPECT_EQ(second->TaskName(), "example(0)");
    EXPECT_EQ(first->Destination(), downloads + "example(0).zip");
    EXPECT_EQ(first->URL(), "http://www.example.net/docs/");
    EXPECT_EQ(first->Schedule(), "Now");
    EXPECT_EQ(first->Status(), kStatusScheduled);
    EXPECT_TRUE(fs::exists(first->TaskFile()));
    EXPECT_EQ(h.app->RecentItems(kRecentURLsKey).front(), "http://www.example.net/");

    const struct {
        const char* address;
        const char* message;
    } refused[] = {
        {"", "Invalid URL."},
        {"ftp://files.example.net/", "Invalid URL."},
        {"http://", "Invalid URL."},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.address);
        TCreateTaskResult result;
        h.owner->Call([&] { result = h.runner->CreateTaskFromAddress(c.address, "Default", false, false); });
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.message, c.message);
        EXPECT_FALSE(result.task);
    }
    EXPECT_EQ(FilesIn(category, "*.pxt").size(), 2u);

    // No named profile: nothing is checked or saved until the caller has the task edited.
    TCreateTaskResult custom;
    h.owner->Call([&] { custom = h.runner->CreateTaskFromAddress("not an address", "Custom", false, false); });
    EXPECT_TRUE(custom.ok && custom.needsEditor);
    EXPECT_FALSE(fs::exists(custom.task->TaskFile()));
}

TEST(TTaskRunnerTest, ZipModeRunPacksRenamesAfterTitleAndReports)
{
    test::TTempFolder folder;
    test::TTestHttpServer server;
    ServeSite(server, 0ms);
    TRunnerHarness h(folder.Path());
    const auto task = h.Create(server.Url("/"));
    ASSERT_TRUE(h.Start(task, kRunRestart));
    ASSERT_TRUE(h.WaitFor([&] { return task->Status() == kStatusZipped; }));
    // The status line ends on the task's status, not on the compaction that came before it.
    EXPECT_TRUE(h.WaitFor([&] { return !h.statuses.empty() && h.statuses.back() == "Zipped!"; }));

    std::string downloads;
    h.owner->Call([&] { downloads = h.app->DownloadsFolder(); });
    // ":" and "?" of the title become blanks.
    EXPECT_EQ(task->Destination(), downloads + "Docs  What .zip");
    EXPECT_EQ(test::ZipEntryNames(task->Destination()), SiteEntries(server));
    EXPECT_EQ(FilesIn(downloads, "*.zip").size(), 1u);
    EXPECT_TRUE(h.messages.empty()) << h.messages.front();
    EXPECT_NE(h.report.find("Destination: " + downloads + "Docs  What .zip\n"), std::string::npos);
    EXPECT_NE(h.report.find("Pages:\n    2 downloaded\n    0 not found"), std::string::npos) << h.report;
    EXPECT_NE(h.report.find("Resources:\n    2 downloaded\n    0 not found"), std::string::npos) << h.report;
    // "Now" is cleared once the run is over; the status stays.
    TPXTask stored(h.app);
    stored.SetTaskFile(task->TaskFile());
    stored.Load();
    EXPECT_EQ(stored.Status(), kStatusZipped);
    EXPECT_EQ(stored.Schedule(), "");
    EXPECT_EQ(stored.Destination(), downloads + "Docs  What .zip");
}

TEST(TTaskRunnerTest, IntranetRunCompletesWithStatus7)
{
    test::TTempFolder folder;
    test::TTestHttpServer server;
    ServeSite(server, 0ms);
    TRunnerHarness h(folder.Path());
    const auto task = h.Create(server.Url("/"), true);
    ASSERT_TRUE(h.Start(task, kRunRestart));
    ASSERT_TRUE(h.WaitFor([&] { return task->Status() == kStatusTaskComplete; }));
    EXPECT_TRUE(fs::exists(folder.Path() / "site" / HostFolder(server) / "slow.png"));
    EXPECT_FALSE(h.report.empty());
    EXPECT_TRUE(FilesIn(h.app->DownloadsFolder(), "*.zip").empty());
}

// An item whose body broke off ends in Error at completion; its partial body must not stay in
// the user's folder.
TEST(TTaskRunnerTest, IntranetCompletionLeavesNoPartialBodies)
{
    test::TTempFolder folder;
    test::TTestHttpServer server;
    ServeSite(server, 0ms);
    server.Route("/a.png").Header("Content-Type", "image/png").Body(std::string(4000, 'x')).CutAfter(1000);
    TRunnerHarness h(folder.Path());
    const auto task = h.Create(server.Url("/"), true);
    ASSERT_TRUE(h.Start(task, kRunRestart));
    ASSERT_TRUE(h.WaitFor([&] { return task->Status() == kStatusTaskComplete; }));
    EXPECT_GE(task->ResourceErrors(), 1);
    std::vector<std::string> parts;
    for (const auto& entry : fs::recursive_directory_iterator(folder.Path() / "site"))
        if (entry.path().string().ends_with(".pxpart"))
            parts.push_back(entry.path().string());
    EXPECT_TRUE(parts.empty()) << parts.front();
}

// Start page titles that give no file name: the Zip keeps a valid name ending in ".zip" (the
// task's own for a title with nothing usable), and completion is not held up.
TEST(TTaskRunnerTest, TitlesWithoutAUsableNameStillNameTheZip)
{
    struct TCase {
        std::string title;
        std::string zipName; // empty: the task's name
    };
    const TCase cases[] = {
        {std::string("Bad\0Title\x01", 10), "Bad Title .zip"},
        {"..", ""},
        {"<>|*?", ""},
        {"Docs: What?", "Docs  What .zip"},
        // The title as a reader sees it; a decoded "/" is no path.
        {"Guide &mdash; Tom &amp; Jerry", "Guide \u2014 Tom & Jerry.zip"},
        {"a&#47;..&#47;b", "a .. b.zip"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.zipName.empty() ? c.title : c.zipName);
        test::TTempFolder folder;
        test::TTestHttpServer server;
        server.Route("/").Header("Content-Type", "text/html")
            .Body("<html><head><title>" + c.title + "</title></head><body>x</body></html>");
        TRunnerHarness h(folder.Path());
        const auto task = h.Create(server.Url("/"));
        ASSERT_TRUE(h.Start(task, kRunRestart));
        ASSERT_TRUE(h.WaitFor([&] { return task->Status() == kStatusZipped; }, 10s));
        const std::string name = fs::path(task->Destination()).filename().string();
        EXPECT_EQ(name, c.zipName.empty() ? task->TaskName() + ".zip" : c.zipName);
        EXPECT_TRUE(fs::exists(task->Destination()));
    }
}

// Two tasks of one site (two homes, two processes) never share working copies.
TEST(TTaskRunnerTest, TasksOfOneSiteHaveTheirOwnWorkingFolders)
{
    test::TTempFolder folder;
    TRunnerHarness h(folder.Path());
    TPXTask one(h.app);
    TPXTask two(h.app);
    one.SetTaskFile("/home/a/Pellix/Tasks/General/site.pxt");
    two.SetTaskFile("/home/b/Pellix/Tasks/General/site.pxt");
    EXPECT_NE(one.WorkFolder(), two.WorkFolder());
    EXPECT_EQ(one.WorkFolder().rfind(h.app->TempFolder(), 0), 0u);
    EXPECT_NE(one.LocalFileOf("http://site/a.html"), two.LocalFileOf("http://site/a.html"));
}

// With "Zip Last" a tick packs nothing while the download runs; without it, the same tick packs
// everything queued.
TEST(TTaskRunnerTest, ZipLastPacksOnlyAfterDownloadComplete)
{
    for (const bool zipLast : {true, false}) {
        SCOPED_TRACE(zipLast ? "Zip Last" : "packing while downloading");
        test::TTempFolder folder;
        test::TTestHttpServer server;
        ServeSite(server, 1500ms);
        TRunnerHarness h(folder.Path());
        h.app->SetZipLast(zipLast);
        h.runner->SetZipTimerInterval(0ms); // ticks by hand, and the one at completion
        std::vector<int>& statusAtPack = h.statusAtPack;
        const auto task = h.Create(server.Url("/"));
        ASSERT_TRUE(h.Start(task, kRunRestart));
        // Both pages, the banner page and a.png are saved and queued; slow.png is still on its way.
        ASSERT_TRUE(h.WaitFor([&] { return task->ZipQueueCount() >= 4 && task->Status() == kStatusDownloading; }));
        std::size_t queued = 0;
        h.owner->Call([&] {
            ASSERT_EQ(task->Status(), kStatusDownloading);
            h.runner->ZipTimerTick();
            queued = task->ZipQueueCount();
        });
        if (zipLast) {
            EXPECT_GE(queued, 3u);
            EXPECT_FALSE(fs::exists(task->Destination()));
        } else {
            EXPECT_EQ(queued, 0u);
            EXPECT_EQ(test::ZipEntryNames(task->Destination()).size(), 4u); // with the banner page
        }
        ASSERT_TRUE(h.WaitFor([&] { return task->Status() == kStatusZipped; }));
        EXPECT_EQ(test::ZipEntryNames(task->Destination()), SiteEntries(server));
        if (zipLast)
            EXPECT_EQ(statusAtPack, std::vector<int>{kStatusComplete});
        else
            EXPECT_EQ(statusAtPack.front(), kStatusDownloading);
    }
}

TEST(TTaskRunnerTest, StopKeepsWhatWasPackedAndResumeFinishes)
{
    test::TTempFolder folder;
    test::TTestHttpServer server;
    ServeSite(server, 1500ms);
    TRunnerHarness h(folder.Path());
    h.runner->SetZipTimerInterval(0ms);
    const auto task = h.Create(server.Url("/"));
    ASSERT_TRUE(h.Start(task, kRunRestart));
    ASSERT_TRUE(h.WaitFor([&] { return task->ZipQueueCount() >= 4; }));
    h.owner->Call([&] {
        h.runner->ZipTimerTick();
        h.runner->StopTask(*task);
    });
    ASSERT_TRUE(h.runner->WaitRunSettled(30s));
    EXPECT_EQ(task->Status(), kStatusStopped);
    const std::string zip = task->Destination();
    const std::set<std::string> packed = test::ZipEntryNames(zip);
    EXPECT_EQ(packed.size(), 4u); // the pages, a.png and the banner page
    EXPECT_FALSE(packed.count(HostFolder(server) + "/slow.png"));

    // The resume opens the Zip, and the session's observers see it listed.
    h.owner->Call([&] { h.progress.clear(); });
    ASSERT_TRUE(h.Start(task, kRunResume));
    h.owner->Call([&] {
        EXPECT_EQ(h.progress, (std::vector<std::string>{"Opening Zip File... 1/4", "Opening Zip File... 2/4",
                                                        "Opening Zip File... 3/4", "Opening Zip File... 4/4",
                                                        " 0/0"}));
    });
    ASSERT_TRUE(h.WaitFor([&] { return task->Status() == kStatusZipped; }));
    EXPECT_EQ(test::ZipEntryNames(task->Destination()), SiteEntries(server));
}

// With the clock far off, a backlog of queued files is packed while the crawl goes on: a page
// saved (or parsed) while the packer is idle asks for the pack, so the end of the run is left
// with little to compress.
TEST(TTaskRunnerTest, BacklogIsPackedWithoutWaitingForTheClock)
{
    test::TTempFolder folder;
    test::TTestHttpServer server;
    const int images = static_cast<int>(TTaskRunner::kMinBacklogPack) + 6;
    std::string page = "<html><head><title>Many</title></head><body>";
    for (int i = 0; i < images; ++i) {
        const std::string name = "/i" + std::to_string(i) + ".png";
        page += "<img src=\"" + name.substr(1) + "\">";
        server.Route(name).Header("Content-Type", "image/png").Body("PNG" + std::to_string(i));
    }
    // The later page is saved once the images are in; the slow image keeps the run going.
    page += "<a href=\"later.html\">later</a><img src=\"slow.png\"></body></html>";
    server.Route("/").Header("Content-Type", "text/html").Body(page);
    server.Route("/later.html").Header("Content-Type", "text/html").Body("<html><body>later</body></html>")
        .Delay(300ms);
    server.Route("/slow.png").Header("Content-Type", "image/png").Body("SLOW").Delay(20s);
    TRunnerHarness h(folder.Path());
    h.runner->SetZipTimerInterval(std::chrono::hours(1));
    const auto task = h.Create(server.Url("/"));
    ASSERT_TRUE(h.Start(task, kRunRestart));
    ASSERT_TRUE(h.WaitFor([&] { return !h.statusAtPack.empty(); }, 15s));
    h.owner->Call([&] {
        EXPECT_EQ(h.statusAtPack.front(), kStatusDownloading);
        h.runner->StopTask(*task);
    });
    ASSERT_TRUE(h.runner->WaitRunSettled(30s));
    const std::set<std::string> packed = test::ZipEntryNames(task->Destination());
    EXPECT_GE(packed.size(), TTaskRunner::kMinBacklogPack);
    EXPECT_FALSE(packed.count(HostFolder(server) + "/slow.png"));
}

// A start that cannot go on leaves the task stopped with the reason, never "Downloading..." with
// nothing running.
TEST(TTaskRunnerTest, FailedStartLeavesTaskStoppedWithTheReason)
{
    struct TCase {
        const char* name;
        std::function<void(TRunnerHarness&, TPXTask&, const fs::path&)> spoil;
        const char* message;
    };
    const TCase cases[] = {
        {"temp folder is a symbolic link",
         [](TRunnerHarness& h, TPXTask&, const fs::path& root) {
             const std::string temp = h.app->TempFolder();
             fs::remove_all(temp);
             fs::create_directories(root / "elsewhere");
             fs::create_directory_symlink(root / "elsewhere", temp.substr(0, temp.size() - 1));
         },
         "symbolic link"},
        {"working folder is a symbolic link",
         [](TRunnerHarness&, TPXTask& task, const fs::path& root) {
             std::string work = task.WorkFolder();
             work.pop_back();
             fs::create_directories(root / "elsewhere");
             fs::create_directory_symlink(root / "elsewhere", work);
         },
         "symbolic link"},
        {"Zip folder cannot be made",
         [](TRunnerHarness&, TPXTask& task, const fs::path& root) {
             ASSERT_TRUE(WriteFileAtomically(root / "plain-file", "x"));
             task.SetDestination((root / "plain-file" / "Site.zip").string());
         },
         "Cannot create the Zip file"},
        {"download list cannot be read",
         [](TRunnerHarness&, TPXTask& task, const fs::path&) {
             task.SetRunMode(kRunResume);
             fs::create_directories(task.DefaultDownloadListPath()); // a folder where the list should be
         },
         ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        test::TTempFolder folder;
        TRunnerHarness h(folder.Path());
        const auto task = h.Create("http://127.0.0.1:9/");
        ASSERT_TRUE(task);
        h.owner->Call([&] { c.spoil(h, *task, folder.Path()); });
        const TRunMode mode = task->RunMode() == kRunResume ? kRunResume : kRunRestart;
        TStartResult started;
        h.owner->Call([&] {
            task->SetRunMode(mode);
            started = h.runner->StartTask(task);
        });
        EXPECT_FALSE(started.ok);
        EXPECT_NE(started.message.find(c.message), std::string::npos) << started.message;
        EXPECT_EQ(task->Status(), kStatusStopped);
        EXPECT_EQ(h.runner->RunningTask(), nullptr);
        ASSERT_FALSE(h.messages.empty());
        EXPECT_EQ(h.messages.back(), started.message);
        // The file says so too, so the task list of a later process shows it stopped.
        TPXTask reread(h.app);
        reread.SetTaskFile(task->TaskFile());
        h.owner->Call([&] { reread.Load(); });
        EXPECT_EQ(reread.Status(), kStatusStopped);
    }
}

// Two runs of one task (two processes, here two runners) would crawl twice and split the Zip:
// the second start is refused while the first runs, and taken once it ended.
TEST(TTaskRunnerTest, SecondRunOfARunningTaskIsRefused)
{
    test::TTempFolder folder;
    test::TTestHttpServer server;
    ServeSite(server, 3000ms);
    TRunnerHarness first(folder.Path());
    TRunnerHarness second(folder.Path());
    const auto task = first.Create(server.Url("/"));
    ASSERT_TRUE(first.Start(task, kRunRestart));

    auto same = std::make_shared<TPXTask>(second.app);
    same->SetTaskFile(task->TaskFile());
    second.owner->Call([&] { same->Load(); });
    TStartResult refused;
    second.owner->Call([&] {
        same->SetRunMode(kRunResume);
        refused = second.runner->StartTask(same);
    });
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.message.find("already running"), std::string::npos) << refused.message;
    EXPECT_EQ(task->Status(), kStatusDownloading); // the first run goes on untouched

    first.owner->Call([&] { first.runner->StopTask(*task); });
    ASSERT_TRUE(first.runner->WaitRunSettled(30s));
    second.owner->Call([&] { same->Load(); });
    EXPECT_TRUE(second.Start(same, kRunResume));
}

// A write fault recorded by any worker stops the run at once, resumable, and is reported as a
// stop, never as a completion.
TEST(TTaskRunnerTest, WriteFaultStopsTheRunAndSaysWhy)
{
    test::TTempFolder folder;
    test::TTestHttpServer server;
    ServeSite(server, 3000ms);
    TRunnerHarness h(folder.Path());
    const std::string& stopped = h.stopped;
    const auto task = h.Create(server.Url("/"));
    ASSERT_TRUE(h.Start(task, kRunRestart));
    ASSERT_TRUE(h.WaitFor([&] { return task->ZipQueueCount() >= 1; }));
    task->RecordWriteFault("/some/where/file.png", "disk full");
    ASSERT_TRUE(h.WaitFor([&] { return !stopped.empty(); }, 5s));
    EXPECT_EQ(task->Status(), kStatusStopped);
    EXPECT_NE(stopped.find("/some/where/file.png: disk full"), std::string::npos) << stopped;
    EXPECT_TRUE(h.report.empty()) << h.report;
    EXPECT_EQ(h.runner->RunningTask(), nullptr);
}

// The Zip cannot grow (a file size limit stands in for a full disk): the run stops, the entries
// that did not go in are not counted as packed and their working copies stay, and a resume
// after the limit is lifted finishes the Zip with every entry.
TEST(TTaskRunnerTest, FullDiskWhilePackingStopsAndResumeFinishesTheZip)
{
    test::TTempFolder folder;
    test::TTestHttpServer server;
    // Incompressible bodies, each below the limit, together above it.
    auto noise = [](unsigned seed) {
        std::string bytes(24 * 1024, '\0');
        for (char& c : bytes) {
            seed = seed * 1103515245u + 12345u;
            c = static_cast<char>(seed >> 16);
        }
        return bytes;
    };
    server.Route("/").Header("Content-Type", "text/html")
        .Body("<html><head><title>Noise</title></head><body><img src=\"a.png\"><img src=\"b.png\">"
              "<img src=\"c.png\"><img src=\"d.png\"></body></html>");
    for (const char* name : {"a", "b", "c", "d"})
        server.Route(std::string("/") + name + ".png").Header("Content-Type", "image/png").Body(noise(name[0]));
    const std::string host = HostFolder(server);
    const std::set<std::string> all = {host + "/index.htm", host + "/a.png", host + "/b.png", host + "/c.png",
                                       host + "/d.png", kBannerPageName};

    std::string taskFile;
    std::string zip;
    {
        TRunnerHarness h(folder.Path());
        const std::string& stopped = h.stopped;
        const auto task = h.Create(server.Url("/"));
        taskFile = task->TaskFile();
        zip = task->Destination();
        // Working copies stay below the limit; the Zip grows past it.
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        ::getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = 60 * 1024;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        ASSERT_TRUE(h.Start(task, kRunRestart));
        const bool sawStop = h.WaitFor([&] { return !stopped.empty(); }, 10s);
        ::setrlimit(RLIMIT_FSIZE, &old);
        ASSERT_TRUE(sawStop);
        EXPECT_EQ(task->Status(), kStatusStopped);
        EXPECT_NE(stopped.find(zip), std::string::npos) << stopped;
        EXPECT_TRUE(h.report.empty());
        const std::set<std::string> packed = test::ZipEntryNames(zip);
        EXPECT_LT(packed.size(), all.size());
        // What did not go in is still on disk for the resume.
        for (const std::string& name : all) {
            if (!packed.count(name)) {
                EXPECT_TRUE(fs::exists(task->WorkFolder() + name)) << name;
            }
        }
    }
    TRunnerHarness second(folder.Path());
    auto task = std::make_shared<TPXTask>(second.app);
    task->SetTaskFile(taskFile);
    second.owner->Call([&] { task->Load(); });
    ASSERT_TRUE(second.Start(task, kRunResume)) << (second.messages.empty() ? "" : second.messages.back());
    ASSERT_TRUE(second.WaitFor([&] { return task->Status() == kStatusZipped; }))
        << task->Status() << " " << (second.messages.empty() ? "" : second.messages.front());
    EXPECT_EQ(test::ZipEntryNames(task->Destination()), all);
    EXPECT_FALSE(fs::exists(task->WorkFolder())); // a finished Zip needs no working copies
}

// The zip queue lives in memory: files saved by a process that ended before packing them are
// found again and packed when the task is resumed by a new one.
TEST(TTaskRunnerTest, ResumeInNewProcessPacksFilesNeverPacked)
{
    test::TTempFolder folder;
    test::TTestHttpServer server;
    ServeSite(server, 1500ms);
    std::string taskFile;
    {
        TRunnerHarness first(folder.Path());
        first.runner->SetZipTimerInterval(0ms);
        const auto task = first.Create(server.Url("/"));
        taskFile = task->TaskFile();
        ASSERT_TRUE(first.Start(task, kRunRestart));
        ASSERT_TRUE(first.WaitFor([&] { return task->ZipQueueCount() >= 4; }));
        first.owner->Call([&] { first.runner->StopTask(*task); });
        ASSERT_TRUE(first.runner->WaitRunSettled(30s));
        EXPECT_FALSE(fs::exists(task->Destination()));
    }
    TRunnerHarness second(folder.Path());
    auto task = std::make_shared<TPXTask>(second.app);
    task->SetTaskFile(taskFile);
    second.owner->Call([&] { task->Load(); });
    ASSERT_TRUE(second.Start(task, kRunResume)) << (second.messages.empty() ? "" : second.messages.back());
    ASSERT_TRUE(second.WaitFor([&] { return task->Status() == kStatusZipped; }));
    EXPECT_EQ(test::ZipEntryNames(task->Destination()), SiteEntries(server));
    EXPECT_NE(second.report.find("Pages:\n    2 downloaded"), std::string::npos) << second.report;
}

// A start page whose links lead to a file the server does not have, a file on a host that does
// not resolve, and a name in a script string that also ends in 404; the rest of the site is there.
// slowMissing makes the 404 come late, so the pages can be packed before the run completes.
void ServeSiteWithFailures(test::TTestHttpServer& server, std::chrono::milliseconds slowMissing)
{
    server.Route("/").Header("Content-Type", "text/html")
        .Body("<html><head><title>Broken</title></head><body>"
              "<a href=\"about.html#top\">about</a> <img src=\"a.png\"> <img src=\"missing.png\">"
              "<a href=\"missing.png#part\">again</a> <img src=\"http://pellix-test.invalid/pic.png\">"
              "<script>var gone = 'gone.png';</script></body></html>");
    server.Route("/about.html").Header("Content-Type", "text/html")
        .Body("<html><head><title>About</title></head><body><a name=\"top\"></a><img src=\"a.png\">"
              "<img src=\"missing.png\"></body></html>");
    server.Route("/a.png").Header("Content-Type", "image/png").Body("PNGDATA-A");
    server.Route("/missing.png").Status(404).Body("no").Delay(slowMissing);
}

void ExpectRepairedStartPage(const std::string& page, const std::string& missingURL)
{
    EXPECT_NE(page.find("src=\"" + missingURL + "\""), std::string::npos) << page;
    EXPECT_NE(page.find("href=\"" + missingURL + "#part\""), std::string::npos) << page;
    EXPECT_NE(page.find("src=\"http://pellix-test.invalid/pic.png\""), std::string::npos) << page;
    EXPECT_EQ(page.find("'gone.png'"), std::string::npos) << page;
    EXPECT_NE(page.find("href=\"about.html#top\""), std::string::npos) << page;
    EXPECT_NE(page.find("src=\"a.png\""), std::string::npos) << page;
}

TEST(TTaskRunnerLinkRepairTest, IntranetPagesLinkFailedItemsByAddress)
{
    test::TTempFolder folder;
    test::TTestHttpServer server;
    ServeSiteWithFailures(server, 0ms);
    TRunnerHarness h(folder.Path());
    const auto task = h.Create(server.Url("/"), true);
    ASSERT_TRUE(h.Start(task, kRunRestart));
    ASSERT_TRUE(h.WaitFor([&] { return task->Status() == kStatusTaskComplete; }));
    EXPECT_GE(task->ResourceErrors(), 3);

    const fs::path root = folder.Path() / "site";
    const std::string start = ReadWholeFile(root / HostFolder(server) / "index.htm").value_or("");
    ExpectRepairedStartPage(start, server.Url("/missing.png"));
    EXPECT_NE(start.find(server.Url("/gone.png")), std::string::npos) << start;
    const std::string about = ReadWholeFile(root / HostFolder(server) / "about.html").value_or("");
    EXPECT_NE(about.find("src=\"" + server.Url("/missing.png") + "\""), std::string::npos) << about;
    const test::TSiteReport report = test::TSiteChecker(root).Check();
    EXPECT_EQ(report.pages, 2u);
    EXPECT_GE(report.links, 3u);
    EXPECT_TRUE(report.broken.empty()) << report.Describe();
    EXPECT_TRUE(h.messages.empty()) << h.messages.front();
}

// The pages are packed by a tick while the 404 is still on its way, and their temp copies are
// gone before completion (as after an earlier process ended): the repair reads them from the Zip
// and replaces their entries, titles kept.
TEST(TTaskRunnerLinkRepairTest, ZipPagesPackedEarlierAreRepairedInTheZip)
{
    test::TTempFolder folder;
    test::TTestHttpServer server;
    ServeSiteWithFailures(server, 1500ms);
    TRunnerHarness h(folder.Path());
    h.runner->SetZipTimerInterval(0ms);
    const auto task = h.Create(server.Url("/"));
    task->Profile().SetUseStartPageTitle(false);
    ASSERT_TRUE(h.Start(task, kRunRestart));
    // Both pages, the banner page and a.png are queued; missing.png is still on its way.
    ASSERT_TRUE(h.WaitFor([&] { return task->ZipQueueCount() >= 4 && task->Status() == kStatusDownloading; }));
    h.owner->Call([&] { h.runner->ZipTimerTick(); });
    const std::string temp = task->WorkFolder();
    ASSERT_TRUE(test::ZipEntryNames(task->Destination()).count(HostFolder(server) + "/index.htm"));
    fs::remove(fs::path(temp) / HostFolder(server) / "index.htm");
    fs::remove(fs::path(temp) / HostFolder(server) / "about.html");
    ASSERT_TRUE(h.WaitFor([&] { return task->Status() == kStatusZipped; }));
    EXPECT_TRUE(h.messages.empty()) << h.messages.front();

    TZipArchive archive;
    TZipOpenResult opened = archive.Open(task->Destination());
    ASSERT_NE(opened.zip, nullptr);
    std::map<std::string, std::string> comments;
    for (const TZipEntry& row : opened.rows)
        comments[row.name] = row.comment;
    EXPECT_EQ(comments.size(), 4u); // index.htm, about.html, a.png, the banner page: no entry twice
    EXPECT_EQ(comments[HostFolder(server) + "/index.htm"], "Broken");
    EXPECT_EQ(comments[HostFolder(server) + "/about.html"], "About");

    const fs::path unpacked = folder.Path() / "unpacked";
    const TZipOutcome extracted = archive.Extract(*opened.zip, {"*.*"}, unpacked.string(), true, true);
    ASSERT_EQ(extracted.code, kZipOk) << archive.Engine().LastError();
    ExpectRepairedStartPage(ReadWholeFile(unpacked / HostFolder(server) / "index.htm").value_or(""),
                            server.Url("/missing.png"));
    const test::TSiteReport report = test::TSiteChecker(unpacked).Check();
    EXPECT_EQ(report.pages, 2u);
    EXPECT_TRUE(report.broken.empty()) << report.Describe();
}

// A retry that recovers an item makes the links completion gave its address back local again,
// in the folder and inside the Zip alike.
TEST(TTaskRunnerLinkRepairTest, RetryThatRecoversAnItemMakesItsLinksLocalAgain)
{
    for (const bool intranet : {true, false}) {
        SCOPED_TRACE(intranet ? "intranet" : "zip");
        test::TTempFolder folder;
        test::TTestHttpServer server;
        ServeSiteWithFailures(server, 0ms);
        TRunnerHarness h(folder.Path());
        const auto task = h.Create(server.Url("/"), intranet);
        task->Profile().SetUseStartPageTitle(false);
        const int done = intranet ? kStatusTaskComplete : kStatusZipped;
        ASSERT_TRUE(h.Start(task, kRunRestart));
        ASSERT_TRUE(h.WaitFor([&] { return task->Status() == done; }));

        server.Route("/missing.png").Status(200).Header("Content-Type", "image/png").Body("PNGDATA-M");
        ASSERT_TRUE(h.Start(task, kRunSmartRecovery));
        ASSERT_TRUE(h.WaitFor([&] { return task->Status() == done; }));

        fs::path root = folder.Path() / "site";
        if (!intranet) {
            TZipArchive archive;
            TZipOpenResult opened = archive.Open(task->Destination());
            ASSERT_NE(opened.zip, nullptr);
            root = folder.Path() / "unpacked";
            ASSERT_EQ(archive.Extract(*opened.zip, {"*.*"}, root.string(), true, true).code, kZipOk);
        }
        const std::string start = ReadWholeFile(root / HostFolder(server) / "index.htm").value_or("");
        EXPECT_NE(start.find("src=\"missing.png\""), std::string::npos) << start;
        EXPECT_NE(start.find("href=\"missing.png#part\""), std::string::npos) << start;
        EXPECT_EQ(start.find(server.Url("/missing.png")), std::string::npos) << start;
        // Still failing: stays online.
        EXPECT_NE(start.find("src=\"http://pellix-test.invalid/pic.png\""), std::string::npos) << start;
        const std::string about = ReadWholeFile(root / HostFolder(server) / "about.html").value_or("");
        EXPECT_NE(about.find("src=\"missing.png\""), std::string::npos) << about;
        const test::TSiteReport report = test::TSiteChecker(root).Check();
        EXPECT_EQ(report.pages, 2u);
        EXPECT_TRUE(report.broken.empty()) << report.Describe();
        EXPECT_TRUE(fs::exists(root / HostFolder(server) / "missing.png"));
    }
}

// Every file of a saved site but the banner page (which carries the run's date), by path.
std::map<std::string, std::string> SavedFiles(const fs::path& root)
{
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file() && entry.path().filename() != kBannerPageName)
            files[fs::relative(entry.path(), root).generic_string()] = ReadWholeFile(entry.path()).value_or("?");
    }
    return files;
}

// Pages linking a missing file from two folders, one linking nothing that fails, and an address
// whose reply renames its file; missing.png is served once missingServed is set.
void ServeRepairSite(test::TTestHttpServer& server, bool missingServed)
{
    server.Route("/").Header("Content-Type", "text/html")
        .Body("<html><head><title>Repair</title></head><body>"
              "<a href=\"about.html\">about</a> <a href=\"guide/deep.html\">deep</a>"
              "<img src=\"a.png\"> <img src=\"missing.png\"> <a href=\"missing.png#part\">again</a>"
              "<a href=\"data?id=7\">data</a> <img src=\"http://pellix-test.invalid/pic.png\"></body></html>");
    server.Route("/about.html").Header("Content-Type", "text/html")
        .Body("<html><head><title>About</title></head><body><img src=\"a.png\"> <a href=\"./\">home</a></body></html>");
    server.Route("/guide/deep.html").Header("Content-Type", "text/html")
        .Body("<html><head><title>Deep</title></head><body><img src=\"../missing.png\">"
              "<a href=\"../data?id=7\">data</a> <img src=\"../a.png\"></body></html>");
    server.Route("/a.png").Header("Content-Type", "image/png").Body("PNGDATA-A");
    server.Route("/data").Header("Content-Type", "image/png").Body("PNGDATA-DATA");
    if (missingServed)
        server.Route("/missing.png").Status(200).Header("Content-Type", "image/png").Body("PNGDATA-M");
    else
        server.Route("/missing.png").Status(404).Body("no");
}

// Completion reads only the pages whose links may lead to what failed or was renamed: the site
// comes out byte for byte as when every page is read; and a site whose missing file is recovered
// by a retry is byte for byte the site of a run where it never failed.
TEST(TTaskRunnerLinkRepairTest, RepairGivesTheSameBytesAsReadingEveryPage)
{
    test::TTestHttpServer server;
    ServeRepairSite(server, false);
    const auto run = [&](const fs::path& folder, bool everyPage, TRunMode mode = kRunRestart,
                         std::shared_ptr<TPXTask> task = nullptr) {
        TRunnerHarness h(folder);
        if (everyPage)
            h.crawl.Parser().SetLinkKeys(nullptr);
        if (!task) {
            task = h.Create(server.Url("/"), true);
        } else {
            const std::string file = task->TaskFile();
            task = std::make_shared<TPXTask>(h.app);
            task->SetTaskFile(file);
            h.owner->Call([&] { task->Load(); });
        }
        EXPECT_TRUE(h.Start(task, mode));
        EXPECT_TRUE(h.WaitFor([&] { return task->Status() == kStatusTaskComplete; }));
        EXPECT_TRUE(h.messages.empty()) << h.messages.front();
        return task;
    };
    test::TTempFolder full;
    test::TTempFolder targeted;
    run(full.Path(), true);
    const auto failedTask = run(targeted.Path(), false);
    const std::map<std::string, std::string> repaired = SavedFiles(targeted.Path() / "site");
    EXPECT_EQ(repaired, SavedFiles(full.Path() / "site"));

    const std::string host = HostFolder(server) + "/";
    ASSERT_TRUE(repaired.count(host + "index.htm"));
    const std::string& start = repaired.at(host + "index.htm");
    EXPECT_NE(start.find("src=\"" + server.Url("/missing.png") + "\""), std::string::npos) << start;
    EXPECT_NE(start.find("href=\"" + server.Url("/missing.png") + "#part\""), std::string::npos) << start;
    EXPECT_NE(start.find("src=\"http://pellix-test.invalid/pic.png\""), std::string::npos) << start;
    EXPECT_NE(start.find("src=\"a.png\""), std::string::npos) << start;
    const std::string& deep = repaired.at(host + "guide/deep.html");
    EXPECT_NE(deep.find("src=\"" + server.Url("/missing.png") + "\""), std::string::npos) << deep;
    EXPECT_NE(deep.find("src=\"../a.png\""), std::string::npos) << deep;
    EXPECT_EQ(repaired.count(host + "missing.png"), 0u);
    EXPECT_TRUE(test::TSiteChecker(targeted.Path() / "site").Check().broken.empty());

    // Recovered by a retry (a new process), against a run where it never failed.
    ServeRepairSite(server, true);
    test::TTempFolder clean;
    run(clean.Path(), false);
    run(targeted.Path(), false, kRunSmartRecovery, failedTask);
    const std::map<std::string, std::string> recovered = SavedFiles(targeted.Path() / "site");
    EXPECT_EQ(recovered, SavedFiles(clean.Path() / "site"));
    ASSERT_TRUE(recovered.count(host + "guide/deep.html"));
    EXPECT_NE(recovered.at(host + "guide/deep.html").find("src=\"../missing.png\""), std::string::npos);
    EXPECT_EQ(recovered.at(host + "missing.png"), "PNGDATA-M");
}

// Without any failure the pages stay exactly as the parse thread wrote them.
TEST(TTaskRunnerLinkRepairTest, NothingFailedLeavesPagesAlone)
{
    test::TTempFolder folder;
    test::TTestHttpServer server;
    ServeSite(server, 0ms);
    TRunnerHarness h(folder.Path());
    const std::vector<std::string>& statuses = h.statuses;
    const auto task = h.Create(server.Url("/"), true);
    ASSERT_TRUE(h.Start(task, kRunRestart));
    ASSERT_TRUE(h.WaitFor([&] { return task->Status() == kStatusTaskComplete; }));
    EXPECT_TRUE(std::none_of(statuses.begin(), statuses.end(),
                             [](const std::string& s) { return s.find("Repairing") != std::string::npos; }));
    EXPECT_TRUE(test::TSiteChecker(folder.Path() / "site").Check().broken.empty());
}

} // namespace
} // namespace pellix
