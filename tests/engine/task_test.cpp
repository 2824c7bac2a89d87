// Tests of TPXTask: the task file, "ActiveTasks.lst", rename, runs and their modes.
#include "engine/task.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <optional>

#include "engine/active_task_list.h"
#include "engine/loop_owner_thread.h"
#include "links/file_io.h"
#include "tests/support/crawl_fixture.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_app.h"
#include "tests/support/test_http_server.h"
#include "workspace/app_settings.h"
#include "workspace/ini_file.h"

namespace pellix {
namespace {

const std::filesystem::path kFixtures = std::filesystem::path(PELLIX_SOURCE_DIR) / "tests/fixtures/task_model";

constexpr TDateTime kMinute = 1.0 / (24 * 60);

std::string Record(std::initializer_list<std::string> fields)
{
    std::string line;
    for (const std::string& field : fields)
        line += field + kRecordSeparator;
    return line;
}

struct TCounters {
    int totalPages, totalResources, pagesSaved, resourcesSaved, pageErrors, resourceErrors;
    std::int64_t totalBytes;
    bool operator==(const TCounters&) const = default;
};

TCounters CountersOf(const TPXTask& task)
{
    return {task.TotalPages(), task.TotalResources(), task.PagesSaved(), task.ResourcesSaved(),
            task.PageErrors(), task.ResourceErrors(), task.TotalBytes()};
}

void PrintTo(const TCounters& c, std::ostream* out)
{
    *out << "pages " << c.totalPages << "/" << c.pagesSaved << "/" << c.pageErrors << ", resources "
         << c.totalResources << "/" << c.resourcesSaved << "/" << c.resourceErrors << ", bytes " << c.totalBytes;
}

class TaskTest : public ::testing::Test {
protected:
    TaskTest()
    {
        m_app = test::MakeTestApp(m_folder.Path(), {{"HTML", ".htm;.html;"}, {"Images", ".gif;.jpg;.jpeg;"}});
    }

    std::string TaskPath(const std::string& name) const
    {
        return m_app->TasksFolder() + "General/" + name + ".pxt";
    }

    std::shared_ptr<TPXTask> NewTask(const std::string& name)
    {
        auto task = std::make_shared<TPXTask>(m_app.get());
        task->SetTaskName(name);
        task->SetTaskFile(TaskPath(name));
        task->SetURL("http://host/docs/index.html");
        return task;
    }

    std::string ActiveList() const { return ReadWholeFile(ActiveTaskListPath(*m_app)).value_or("<missing>"); }

    test::TTempFolder m_folder;
    std::unique_ptr<TPXApp> m_app;
};

TEST_F(TaskTest, TaskFileRoundTripsByteForByte)
{
    TPXTask task(m_app.get());
    task.SetTaskFile((kFixtures / "Site.pxt").string());
    ASSERT_TRUE(task.Load());
    EXPECT_EQ(task.TaskName(), "Site");
    EXPECT_EQ(task.Status(), kStatusStopped);
    EXPECT_EQ(task.TotalBytes(), 123456);
    EXPECT_EQ(task.PageErrors(), 1);
    EXPECT_NEAR(task.ElapsedTime(), 65 * kMinute, 1e-9);
    EXPECT_EQ(task.NextRun(), 0); // empty reads as "not set"
    EXPECT_NE(task.LastRun(), 0);
    EXPECT_EQ(task.Profile().ProfileName(), "Docs");
    EXPECT_EQ(task.Profile().IncludeFilters(), std::vector<std::string>{"[PL]docs"});

    task.SetTaskFile(TaskPath("Site"));
    ASSERT_TRUE(task.Save());
    EXPECT_EQ(ReadWholeFile(TaskPath("Site")), ReadWholeFile(kFixtures / "Site.pxt"));
}

TEST_F(TaskTest, MissingKeysReadAsDefaults)
{
    const std::string path = TaskPath("Named After File");
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    ASSERT_TRUE(WriteFileAtomically(path, "[Task]\r\nURL=http://h/\r\nLast Run=\r\nNext Run=13/45/99 xx\r\n"));
    TPXTask task(m_app.get());
    task.SetTaskFile(path);
    ASSERT_TRUE(task.Load());
    EXPECT_EQ(task.TaskName(), "Named After File");
    EXPECT_EQ(task.URL(), "http://h/");
    EXPECT_EQ(task.LastRun(), 0);
    EXPECT_EQ(task.NextRun(), 0);
    EXPECT_EQ(task.Status(), 0);
    EXPECT_EQ(task.Profile().Depth(), -1);
    EXPECT_EQ(task.Profile().PageLocation(), kLocationCurrentSite);
    ASSERT_TRUE(task.Save());
    const TIniFile written(path);
    EXPECT_EQ(written.ReadString(kTaskSection, "Last Run", "?"), "");
    EXPECT_EQ(written.ReadString(kTaskSection, "Elapsed Time", "?"), "");
}

TEST_F(TaskTest, FilesThatAreNoTaskAreRefusedAndLeftUntouched)
{
    std::string binary;
    for (int i = 0; i < 5000; ++i)
        binary += static_cast<char>((i * 7919) % 256);
    struct TCase {
        const char* name;
        std::string data;
        const char* message; // a part of the reason
    };
    const TCase cases[] = {
        {"empty", "", "Not a Pellix task file: "},
        {"binary", binary, "Not a Pellix task file: "},
        {"other text", "just some notes\r\nURL=http://h/\r\n", "Not a Pellix task file: "},
        {"only the profile", "[Profile]\r\nDepth=3\r\n", "it has no [Task] section"},
        {"cut short", "[Task]\r\nTask Name=Cut\r\nStatus=2\r\nTotal By", "has no start address"},
        {"empty address", "[Task]\r\nTask Name=X\r\nURL=  \r\n[Profile]\r\nDepth=1\r\n", "has no start address"},
    };
    const std::string path = TaskPath("Bad");
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteFileAtomically(path, c.data));
        TPXTask task(m_app.get());
        task.SetTaskFile(path);
        task.SetTaskName("Before");
        std::string error;
        EXPECT_FALSE(task.Load(&error));
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_NE(error.find(path), std::string::npos) << error;
        EXPECT_EQ(task.TaskName(), "Before"); // nothing of the file was taken
        EXPECT_EQ(ReadWholeFile(path), c.data);
    }
    std::string error;
    TPXTask missing(m_app.get());
    missing.SetTaskFile(TaskPath("Missing"));
    EXPECT_FALSE(missing.Load(&error));
    EXPECT_NE(error.find("does not exist"), std::string::npos) << error;

    // The least a task file needs is its section with the start address; the rest reads as the
    // defaults, and absurd values as sane ones.
    ASSERT_TRUE(WriteFileAtomically(path, "[Task]\r\nURL=http://h/\r\nStatus=99999999999999\r\n"
                                          "Total Pages=-99999999999\r\nTotal Bytes=1e99\r\n"
                                          "Elapsed Time=99/99/99 99:99:99\r\n[Profile]\r\nDepth=12345678901234\r\n"));
    TPXTask task(m_app.get());
    task.SetTaskFile(path);
    ASSERT_TRUE(task.Load(&error)) << error;
    EXPECT_EQ(task.URL(), "http://h/");
    EXPECT_GE(task.Status(), 0);
    EXPECT_EQ(task.TotalPages(), 0);
    EXPECT_EQ(task.TotalBytes(), 0);
    EXPECT_EQ(task.ElapsedTime(), 0);
    EXPECT_EQ(task.Profile().Depth(), -1);

    // A file far larger than any task file is refused with a reason, not read.
    const std::string huge = TaskPath("Huge");
    {
        std::FILE* f = std::fopen(huge.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(::ftruncate(::fileno(f), 64 << 20), 0);
        std::fclose(f);
    }
    TPXTask hugeTask(m_app.get());
    hugeTask.SetTaskFile(huge);
    EXPECT_FALSE(hugeTask.Load(&error));
    EXPECT_NE(error.find("too large"), std::string::npos);
    EXPECT_EQ(hugeTask.TaskName(), "");
}

TEST_F(TaskTest, TaskFilesTheProgramWritesLoad)
{
    // A new task as the address bar makes it, and one with every field set.
    auto plain = NewTask("Plain");
    ASSERT_TRUE(plain->Save());
    auto full = NewTask("Full");
    full->SetStartPageTitle("Title");
    full->SetPassword("pw");
    full->SetStatus(kStatusZipped);
    full->SetIntranetMode(true);
    full->SetDestination("/tmp/x/");
    ASSERT_TRUE(full->Save());
    for (const std::string name : {"Plain", "Full"}) {
        SCOPED_TRACE(name);
        TPXTask loaded(m_app.get());
        loaded.SetTaskFile(TaskPath(name));
        std::string error;
        ASSERT_TRUE(loaded.Load(&error)) << error;
        EXPECT_EQ(loaded.TaskName(), name);
        EXPECT_EQ(loaded.URL(), "http://host/docs/index.html");
    }
}

TEST_F(TaskTest, StatusTexts)
{
    const char* texts[] = {"Unscheduled", "Scheduled", "Downloading...", "Download Stopped", "Incomplete",
                           "Download Complete", "Zipped!", "Task Complete", "Deleted"};
    for (int code = 0; code < 9; ++code)
        EXPECT_EQ(TPXTask::StatusText(code), texts[code]);
    EXPECT_EQ(TPXTask::StatusText(9), "Unknown");
    EXPECT_EQ(TPXTask::StatusText(-1), "Unknown");
}

TEST_F(TaskTest, SavingKeepsActiveTasksListInStepWithTheStatus)
{
    auto a = NewTask("A");
    auto b = NewTask("B");
    int saved = 0;
    a->SetOnSaved([&](TPXTask& task) {
        EXPECT_EQ(&task, a.get());
        ++saved;
    });
    a->SetStatus(kStatusDownloading);
    ASSERT_TRUE(a->Save());
    b->SetStatus(kStatusScheduled);
    ASSERT_TRUE(b->Save());
    EXPECT_EQ(ActiveList(), TaskPath("A") + "\r\n" + TaskPath("B") + "\r\n");
    ASSERT_EQ(m_app->ActiveTasks().size(), 2u);
    EXPECT_EQ(m_app->ActiveTasks()[0].task, a);

    // Saving again with the same status does not touch the file.
    struct stat before {};
    ASSERT_EQ(::stat(ActiveTaskListPath(*m_app).c_str(), &before), 0);
    ASSERT_TRUE(a->Save());
    struct stat after {};
    ASSERT_EQ(::stat(ActiveTaskListPath(*m_app).c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);

    a->SetStatus(kStatusStopped);
    ASSERT_TRUE(a->Save());
    EXPECT_EQ(ActiveList(), TaskPath("B") + "\r\n");
    EXPECT_EQ(saved, 3);
}

TEST_F(TaskTest, ActiveTaskListRoundTripsByteForByte)
{
    const std::vector<std::string> paths = ReadActiveTaskList(kFixtures / "ActiveTasks.lst");
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(paths[1], "/home/user/.local/share/Pellix/Tasks/Work/Intranet Copy.pxt");
    std::vector<TActiveTask> entries;
    for (const std::string& path : paths)
        entries.push_back({path, nullptr});
    const std::filesystem::path out = m_folder.Path() / "ActiveTasks.lst";
    ASSERT_TRUE(WriteActiveTaskList(out, entries));
    EXPECT_EQ(ReadWholeFile(out), ReadWholeFile(kFixtures / "ActiveTasks.lst"));
    EXPECT_TRUE(ReadActiveTaskList(m_folder.Path() / "missing.lst").empty());
}

TEST_F(TaskTest, PasswordsAreWrittenOwnerOnly)
{
    auto task = NewTask("Secret");
    task->SetPassword("hunter2");
    ASSERT_TRUE(task->Save());
    struct stat info {};
    ASSERT_EQ(::stat(TaskPath("Secret").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(TaskTest, RenameMovesTaskAndListOrExplainsWhyNot)
{
    auto task = NewTask("Old");
    task->DownloadList().AddItem(task->MakeItem("http://host/", kActionDownload));
    ASSERT_TRUE(task->DownloadList().SaveList().ok);
    ASSERT_TRUE(task->Save());
    auto other = NewTask("Taken");
    ASSERT_TRUE(other->Save());

    const std::string folder = m_app->TasksFolder() + "General/";
    const TRenameResult exists = task->Rename("Taken");
    EXPECT_FALSE(exists.ok);
    EXPECT_EQ(exists.message, "Unable to rename task to: " + folder + "Taken.pxt\nFile already exists.");
    const TRenameResult illegal = task->Rename("a:b");
    EXPECT_FALSE(illegal.ok);
    EXPECT_EQ(illegal.message, "Unable to rename task to: " + folder +
                                   "a:b.pxt\nA file may not contain any of the following characters: \n\\/:*?\"<>|");
    EXPECT_FALSE(task->Rename("../escape").ok);
    EXPECT_EQ(task->TaskName(), "Old");
    EXPECT_EQ(task->TaskFile(), folder + "Old.pxt");
    EXPECT_EQ(ReadWholeFile(folder + "Taken.pxt"), ReadWholeFile(other->TaskFile()));

    const TRenameResult renamed = task->Rename("New");
    ASSERT_TRUE(renamed.ok) << renamed.message;
    EXPECT_EQ(task->TaskName(), "New");
    EXPECT_FALSE(std::filesystem::exists(folder + "Old.pxt"));
    EXPECT_FALSE(std::filesystem::exists(folder + "Old.dwn"));
    EXPECT_TRUE(std::filesystem::exists(folder + "New.dwn"));
    TPXTask reloaded(m_app.get());
    reloaded.SetTaskFile(folder + "New.pxt");
    reloaded.Load();
    EXPECT_EQ(reloaded.TaskName(), "New");
    EXPECT_TRUE(reloaded.DownloadList().LoadList().ok);
    EXPECT_EQ(reloaded.DownloadList().Count(), 1u);
}

TEST_F(TaskTest, BeginAndContinueRunKeepElapsedTime)
{
    auto task = NewTask("Run");
    TDateTime now = 45000.5;
    task->SetClock([&] { return now; });
    task->BeginRun();
    EXPECT_EQ(task->LastRun(), now);
    EXPECT_EQ(task->ElapsedTime(), 0);
    ASSERT_EQ(task->DownloadList().Count(), 1u);
    TPXQItem* first = task->DownloadList().Item(0);
    EXPECT_EQ(first->Action(), kActionDownload);
    EXPECT_TRUE(first->IsPage());
    EXPECT_EQ(task->TotalPages(), 1);

    // The run went on for 10 minutes; the next run resumes from there.
    now += 10 * kMinute;
    task->SetElapsedTime(now - task->RunStartTime());
    task->AddPageTaken();
    now += 60 * kMinute;
    task->ContinueRun();
    EXPECT_EQ(task->LastRun(), now);
    EXPECT_EQ(task->PagesTaken(), 0);
    now += 5 * kMinute;
    EXPECT_NEAR(now - task->RunStartTime(), 15 * kMinute, 1e-9);
}

TEST_F(TaskTest, ResetReadsZipLastWithTheTasksValueAsDefault)
{
    const struct {
        std::optional<bool> stored; // nothing: the store has no "Zip Last"
        bool before;
        bool after;
    } cases[] = {
        {std::nullopt, true, true},
        {std::nullopt, false, false},
        {false, true, false},
        {true, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "stored " << (c.stored ? int(*c.stored) : -1) << ", task " << c.before);
        if (c.stored)
            m_app->SetZipLast(*c.stored);
        else
            m_app->Store().DeleteSetting(kSettingsKey, "Zip Last");
        TPXTask task(m_app.get());
        task.SetZipLast(c.before);
        task.Reset();
        EXPECT_EQ(task.ZipLast(), c.after);
    }
}

TEST_F(TaskTest, MapModeQueuesTheStartURLForMappingOnce)
{
    auto task = NewTask("Map");
    task->SetRunMode(kRunMap);
    ASSERT_TRUE(task->PrepareRun(false).ok);
    EXPECT_EQ(task->RunMode(), kRunRestart);
    EXPECT_EQ(task->DownloadList().Item(0)->Action(), kActionMap);
    EXPECT_EQ(task->Status(), kStatusDownloading);
    EXPECT_EQ(ActiveList(), TaskPath("Map") + "\r\n");
}

TEST_F(TaskTest, RunModesPrepareTheList)
{
    // A finished run: one parsed page, one failed image.
    auto task = NewTask("Modes");
    task->BeginRun();
    TPXQItem& page = *task->DownloadList().Item(0);
    page.SetState(kStateParsed);
    page.WriteBack(true);
    TPXQItem& image = task->DownloadList().AddItem(task->MakeItem("http://host/docs/a.gif", kActionDownload));
    image.SetState(kStateError);
    image.WriteBack(true);
    task->SetPagesSaved(1);
    task->SetResourcesSaved(1);
    task->SetResourceErrors(1);
    ASSERT_TRUE(task->DownloadList().SaveList().ok);
    ASSERT_TRUE(task->Save());

    const std::tuple<TRunMode, int, int, int> cases[] = {
        // mode, page state, image state, page action
        {kRunResume, kStateParsed, kStateError, kActionDownload},
        {kRunSmartUpdate, kStateNone, kStateError, kActionUpdate},
        {kRunSmartRecovery, kStateParsed, kStateNone, kActionDownload},
        {kRunRestart, kStateNone, -1, kActionDownload},
    };
    for (const auto& [mode, pageState, imageState, pageAction] : cases) {
        SCOPED_TRACE(mode);
        TPXTask loaded(m_app.get());
        loaded.SetTaskFile(TaskPath("Modes"));
        loaded.Load();
        loaded.SetRunMode(mode);
        ASSERT_TRUE(loaded.PrepareRun(false).ok);
        TPXDownloadList& list = loaded.DownloadList();
        EXPECT_EQ(list.Item(0)->State(), pageState);
        EXPECT_EQ(list.Item(0)->Action(), pageAction);
        if (imageState >= 0)
            EXPECT_EQ(list.Item(1)->State(), imageState);
        else
            EXPECT_EQ(list.Count(), 1u);
        loaded.SetStatus(kStatusStopped);
        loaded.Save();
    }
}

// A process killed mid-run saved its list now and then but the task file only when the run
// started: the counters there are those of an earlier moment, the list has the truth.
TEST_F(TaskTest, ResumeFromTheListOfAKilledRunCountsTheWholeTask)
{
    const std::string page = "HTML";
    const std::string image = "Images";
    const std::string parent = "http://host/docs/index.html";
    std::string list;
    const auto pair = [&](const std::string& name, std::initializer_list<std::string> fields) {
        list += "http://host/docs/" + name + "\r\n" + Record(fields) + "\r\n";
    };
    // state, status text, group, -, depth, parent, Last-Modified, action, title, size, frame
    pair("index.html", {"10", "200 OK", page, "", "0", "", "", "1", "Docs Home", "500", ""});
    pair("a.html", {"10", "200 OK", page, "", "1", parent, "", "1", "A", "300", ""});
    pair("b.html", {"1", "", page, "", "1", parent, "", "1", "B", "0", ""}); // was being fetched
    pair("missing.html", {"3", "404 Not Found", page, "", "1", parent, "", "1", "", "0", ""});
    pair("c.html", {"5", "200 OK", page, "", "1", parent, "", "1", "", "200", ""}); // waits for parsing
    pair("d.html", {"0", "", page, "", "1", parent, "", "1", "", "0", ""});
    pair("skipped.html", {"0", "", page, "", "2", parent, "", "0", "", "0", ""});
    pair("a.gif", {"5", "200 OK", image, "", "1", parent, "", "1", "", "1000", ""});
    pair("b.gif", {"3", "Incomplete (400 bytes)", image, "", "1", parent, "", "1", "", "4000", ""});
    pair("c.gif", {"2", "", image, "", "1", parent, "", "3", "", "70", ""}); // was being updated
    pair("d.gif", {"6", "304 Not Modified", image, "", "1", parent, "", "3", "", "50", ""});
    pair("e.gif", {"3", "404 Not Found", image, "", "1", parent, "", "1", "", "0", ""});

    struct TCase {
        TRunMode mode;
        const char* storedTitle;
        TCounters expected;
        const char* title;
    };
    const TCase cases[] = {
        // Pages: 7, of which index, a, missing and c ended (missing failed); resources: 5, of
        // which a, b, d and e ended (b and e failed). Bytes: what the ended items hold.
        {kRunResume, "", {7, 5, 4, 4, 1, 2, 500 + 300 + 200 + 1000 + 400 + 50}, "Docs Home"},
        {kRunResume, "Kept", {7, 5, 4, 4, 1, 2, 2450}, "Kept"},
        // Retry takes the failed items back (b.gif keeps its 400 bytes for the rest of its body).
        {kRunSmartRecovery, "", {7, 5, 3, 2, 0, 0, 2450}, "Docs Home"},
        // Update takes the finished ones back, and their bytes.
        {kRunSmartUpdate, "", {7, 5, 1, 2, 1, 2, 400}, "Docs Home"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.mode) + " " + c.storedTitle);
        auto killed = NewTask("Killed");
        killed->SetStatus(kStatusDownloading);
        killed->SetTotalPages(1); // as saved when the run began
        killed->SetStartPageTitle(c.storedTitle);
        ASSERT_TRUE(killed->Save());
        ASSERT_TRUE(WriteFileAtomically(killed->DefaultDownloadListPath(), list));

        TPXTask task(m_app.get());
        task.SetTaskFile(TaskPath("Killed"));
        ASSERT_TRUE(task.Load());
        task.SetRunMode(c.mode);
        const TListResult prepared = task.PrepareRun(false);
        ASSERT_TRUE(prepared.ok) << prepared.message;
        EXPECT_EQ(CountersOf(task), c.expected);
        EXPECT_EQ(task.StartPageTitle(), c.title);
        // What remains to fetch is what the counters say remains.
        EXPECT_EQ(task.DownloadList().CountStates().pagesSaved, task.PagesSaved());
        TPXTask stored(m_app.get());
        stored.SetTaskFile(TaskPath("Killed"));
        ASSERT_TRUE(stored.Load());
        EXPECT_EQ(CountersOf(stored), c.expected);
        EXPECT_EQ(stored.StartPageTitle(), c.title);
        task.SetStatus(kStatusStopped);
        task.Save();
    }

    // The stored byte count stays when it holds more than the items do (bodies of failed
    // replies, bodies fetched twice).
    auto task = NewTask("Killed");
    task->SetTotalBytes(999999);
    task->DownloadList().LoadList();
    task->RecountFromList();
    EXPECT_EQ(task->TotalBytes(), 999999);
    EXPECT_EQ(task->PagesSaved(), 4);
}

TEST_F(TaskTest, PrepareRunOnAListThatDoesNotLoadLeavesTheTaskAsItWas)
{
    auto task = NewTask("Broken");
    task->SetStatus(kStatusStopped);
    task->SetPagesSaved(3);
    ASSERT_TRUE(task->Save());
    const std::string garbage = "\x7f\x45\x4c\x46\x02\x01\r\n\x01\xB6\r\n";
    ASSERT_TRUE(WriteFileAtomically(task->DefaultDownloadListPath(), garbage));
    const std::optional<std::string> before = ReadWholeFile(TaskPath("Broken"));

    TPXTask loaded(m_app.get());
    loaded.SetTaskFile(TaskPath("Broken"));
    ASSERT_TRUE(loaded.Load());
    loaded.SetRunMode(kRunResume);
    const TListResult prepared = loaded.PrepareRun(false);
    EXPECT_FALSE(prepared.ok);
    EXPECT_NE(prepared.message.find("Not a Pellix download list: "), std::string::npos) << prepared.message;
    EXPECT_EQ(loaded.Status(), kStatusStopped);
    EXPECT_EQ(loaded.PagesSaved(), 3);
    EXPECT_EQ(ReadWholeFile(TaskPath("Broken")), before);
    EXPECT_EQ(ReadWholeFile(loaded.DefaultDownloadListPath()), garbage);
    EXPECT_EQ(ActiveList(), "<missing>");
}

// The recount must give what a clean run counts as its transfers end, or a resumed task would
// report other figures than one that ran straight through.
TEST(TaskRecountTest, RecountAgreesWithACleanRun)
{
    test::TTestHttpServer server;
    server.Route("/index.html")
        .Header("Content-Type", "text/html")
        .Body("<html><head><title>Start Page</title></head><body><a href=\"a.html\">a</a>"
              "<a href=\"gone.html\">gone</a><img src=\"a.gif\"><img src=\"gone.gif\">"
              "<link rel=stylesheet href=\"s.css\"></body></html>");
    server.Route("/a.html").Header("Content-Type", "text/html").Body("<html><body><img src=\"b.gif\"></body></html>");
    server.Route("/s.css").Body("body { background: url(c.gif) }");
    for (const char* image : {"/a.gif", "/b.gif", "/c.gif"})
        server.Route(image).Header("Content-Type", "image/gif").Body(std::string("GIF89a ") + image);
    server.Route("/gone.html").Status(404, "Not Found").Body("no such page");
    server.Route("/gone.gif").Status(404, "Not Found").Body("no such image");

    test::TTempFolder folder;
    TCounters clean{};
    std::string title;
    {
        test::TCrawlFixture crawl(folder.Path());
        crawl.NewTask(server.Url("/index.html"));
        ASSERT_TRUE(crawl.Run(kRunRestart));
        ASSERT_TRUE(crawl.WaitComplete(std::chrono::seconds(60)));
        crawl.Owner().Call([&] {
            clean = CountersOf(crawl.Task());
            title = crawl.Task().StartPageTitle();
            const TListCounts counts = crawl.Task().DownloadList().CountStates();
            EXPECT_EQ((TCounters{counts.totalPages, counts.totalResources, counts.pagesSaved, counts.resourcesSaved,
                                 counts.pageErrors, counts.resourceErrors, clean.totalBytes}),
                      clean);
            EXPECT_GT(counts.bytesHeld, 0);
            EXPECT_LE(counts.bytesHeld, clean.totalBytes);
        });
    }
    EXPECT_EQ(clean.pageErrors, 1);
    EXPECT_EQ(clean.resourceErrors, 1);
    EXPECT_EQ(title, "Start Page");

    // The same list with the task file of a process killed right after it started.
    {
        TIniFile file(folder.Path() / "home" / "Tasks" / "General" / "Site.pxt");
        for (const char* key : {"Total Pages", "Total Resources", "Pages Saved", "Resources Saved", "Page Errors",
                                "Resource Errors", "Total Bytes"})
            file.WriteInteger(kTaskSection, key, 0);
        file.WriteString(kTaskSection, "Start Page Title", "");
        file.WriteInteger(kTaskSection, "Status", kStatusDownloading);
        ASSERT_TRUE(file.Save());
    }
    test::TCrawlFixture resumed(folder.Path());
    ASSERT_TRUE(resumed.LoadTask());
    ASSERT_TRUE(resumed.Run(kRunResume));
    ASSERT_TRUE(resumed.WaitComplete(std::chrono::seconds(60)));
    resumed.Owner().Call([&] {
        TCounters counters = CountersOf(resumed.Task());
        EXPECT_GT(counters.totalBytes, 0);
        EXPECT_LE(counters.totalBytes, clean.totalBytes);
        counters.totalBytes = clean.totalBytes;
        EXPECT_EQ(counters, clean);
        EXPECT_EQ(resumed.Task().StartPageTitle(), title);
    });
}

} // namespace
} // namespace pellix
