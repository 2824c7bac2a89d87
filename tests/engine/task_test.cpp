// Tests of TPXTask: the task file, "ActiveTasks.lst", rename, runs and their modes.
#include "engine/task.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "engine/active_task_list.h"
#include "links/file_io.h"
#include "tests/support/temp_folder.h"
#include "workspace/app_settings.h"
#include "workspace/ini_file.h"

namespace pellix {
namespace {

const std::filesystem::path kFixtures = std::filesystem::path(PELLIX_SOURCE_DIR) / "tests/fixtures/task_model";

constexpr TDateTime kMinute = 1.0 / (24 * 60);

class TaskTest : public ::testing::Test {
protected:
    TaskTest()
    {
        TAppPaths paths;
        paths.programFolder = m_folder.Path() / "home";
        paths.settingsFile = m_folder.Path() / "registry.ini";
        paths.systemTemp = m_folder.Path() / "tmp";
        paths.homeFolder = m_folder.Path() / "user";
        m_app = std::make_unique<TPXApp>(paths);
        m_app->Store().WriteSetting(kFileTypesKey, "HTML", ".htm;.html;");
        m_app->Store().WriteSetting(kFileTypesKey, "Images", ".gif;.jpg;.jpeg;");
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

TEST_F(TaskTest, BadTaskFilesLoadWithDefaults)
{
    std::string binary;
    for (int i = 0; i < 5000; ++i)
        binary += static_cast<char>((i * 7919) % 256);
    const std::pair<const char*, std::string> cases[] = {
        {"empty", ""},
        {"binary", binary},
        {"cut short", "[Task]\r\nTask Name=Cut\r\nStatus=2\r\nTotal By"},
        {"absurd numbers", "[Task]\r\nStatus=99999999999999\r\nTotal Pages=-99999999999\r\nTotal Bytes=1e99\r\n"
                           "Elapsed Time=99/99/99 99:99:99\r\n[Profile]\r\nDepth=12345678901234\r\n"},
    };
    for (const auto& [name, data] : cases) {
        SCOPED_TRACE(name);
        const std::string path = TaskPath("Bad");
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        ASSERT_TRUE(WriteFileAtomically(path, data));
        TPXTask task(m_app.get());
        task.SetTaskFile(path);
        EXPECT_TRUE(task.Load());
        EXPECT_GE(task.Status(), 0);
        EXPECT_EQ(task.TotalPages(), 0);
        EXPECT_EQ(task.TotalBytes(), 0);
        EXPECT_EQ(task.ElapsedTime(), 0);
        EXPECT_EQ(task.Profile().Depth(), -1);
    }

    // A file far larger than any task file is refused with a reason, not read.
    const std::string huge = TaskPath("Huge");
    {
        std::FILE* f = std::fopen(huge.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(::ftruncate(::fileno(f), 64 << 20), 0);
        std::fclose(f);
    }
    TPXTask task(m_app.get());
    task.SetTaskFile(huge);
    std::string error;
    EXPECT_FALSE(task.Load(&error));
    EXPECT_NE(error.find("too large"), std::string::npos);
    EXPECT_EQ(task.TaskName(), "");
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

    const std::tuple<int, int, int, int> cases[] = {
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

} // namespace
} // namespace pellix
