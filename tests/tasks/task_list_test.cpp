// Tests for the task list without a window: enabled commands, the start-up pass, categories,
// due tasks, run, delete, row texts, the banner frameset and the report in the temp folder.
#include "tasks/task_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/active_task_list.h"
#include "engine/download_list.h"
#include "engine/task.h"
#include "links/file_io.h"
#include "tasks/banner_frameset.h"
#include "tasks/error_report.h"
#include "tasks/schedule.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_app.h"
#include "workspace/app_settings.h"

namespace fs = std::filesystem;

namespace pellix {
namespace {

class TaskListTest : public ::testing::Test {
protected:
    TaskListTest()
    {
        m_app = std::make_unique<TPXApp>(test::TestAppPaths(m_folder.Path()));
    }

    std::string TaskPath(const std::string& name, const std::string& category = "General") const
    {
        return m_app->TasksFolder() + category + "/" + name + ".pxt";
    }

    // A task file written with that status, as another session left it; the object is let go.
    void WriteTask(const std::string& name, int status, const std::string& category = "General",
                   const std::string& schedule = "")
    {
        TPXTask task(nullptr); // no active-task list: the file alone
        task.SetTaskFile(TaskPath(name, category));
        task.SetTaskName(name);
        task.SetURL("http://host/" + name + "/");
        task.SetStatus(static_cast<TTaskStatus>(status));
        task.SetSchedule(schedule);
        ASSERT_TRUE(task.Save());
    }

    int StatusOnDisk(const std::string& name, const std::string& category = "General")
    {
        TPXTask task(nullptr);
        task.SetTaskFile(TaskPath(name, category));
        EXPECT_TRUE(task.Load());
        return task.Status();
    }

    std::string ActiveList() const { return ReadWholeFile(ActiveTaskListPath(*m_app)).value_or("<missing>"); }

    std::vector<std::string> RowNames(const TTaskList& list) const
    {
        std::vector<std::string> names;
        for (std::size_t i = 0; i < list.Count(); ++i)
            names.push_back(list.Task(i)->TaskName());
        return names;
    }

    test::TTempFolder m_folder;
    std::unique_ptr<TPXApp> m_app;
};

TEST(TaskCommandTest, EnabledByStatus)
{
    using C = TTaskCommand;
    // Per status 0..8: Edit/Delete/Run/Schedule, Stop, Unschedule.
    const struct {
        int status;
        bool idle;
        bool stop;
        bool unschedule;
    } rows[] = {
        {0, true, false, false}, {1, false, false, true}, {2, false, true, false},
        {3, true, false, false}, {4, true, false, false}, {5, false, false, false},
        {6, true, false, false}, {7, true, false, false}, {8, false, false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("status " + std::to_string(row.status));
        TPXTask task;
        task.SetStatus(static_cast<TTaskStatus>(row.status));
        for (const C idle : {C::Edit, C::Delete, C::Run, C::Schedule})
            EXPECT_EQ(TaskCommandEnabled(idle, &task, false), row.idle);
        EXPECT_EQ(TaskCommandEnabled(C::Stop, &task, false), row.stop);
        EXPECT_EQ(TaskCommandEnabled(C::Unschedule, &task, false), row.unschedule);
        EXPECT_TRUE(TaskCommandEnabled(C::New, &task, false));
        EXPECT_TRUE(TaskCommandEnabled(C::Browse, &task, false));
        EXPECT_TRUE(TaskCommandEnabled(C::CopyStartURL, &task, false));
        EXPECT_TRUE(TaskCommandEnabled(C::Explore, &task, false));
        EXPECT_FALSE(TaskCommandEnabled(C::Explore, &task, true));
        EXPECT_FALSE(TaskCommandEnabled(C::CopyLocalStartURL, &task, false));
        task.SetIntranetMode(true);
        EXPECT_TRUE(TaskCommandEnabled(C::CopyLocalStartURL, &task, false));
    }
    // Without a selected row only New is enabled.
    for (const TTaskCommandInfo& info : TaskCommands())
        EXPECT_EQ(TaskCommandEnabled(info.command, nullptr, false), info.command == C::New) << info.caption;
}

// A crash left the first of three listed tasks "Downloading...": all three load, the first
// becomes "Incomplete" without a schedule and leaves the list, the others stay. A line naming a
// task twice is visited once, and one whose file is gone is dropped.
TEST_F(TaskListTest, StartUpPassOverActiveTasks)
{
    WriteTask("Crashed", kStatusDownloading, "General", "Now");
    WriteTask("Later", kStatusScheduled, "General", "Daily at 10:00:00");
    WriteTask("Other", kStatusScheduled, "Work", "Now");
    const std::string crashed = TaskPath("Crashed"), later = TaskPath("Later"), other = TaskPath("Other", "Work");
    const std::string gone = TaskPath("Gone");
    ASSERT_TRUE(WriteFileAtomically(ActiveTaskListPath(*m_app),
                                    crashed + "\r\n" + later + "\r\n" + gone + "\r\n" + other + "\r\n" + later + "\r\n"));

    TTaskList list(*m_app);
    EXPECT_EQ(list.LoadActiveTasks(), 1);
    const auto& active = m_app->ActiveTasks();
    ASSERT_EQ(active.size(), 2u);
    EXPECT_EQ(active[0].path, later);
    EXPECT_EQ(active[1].path, other);
    ASSERT_TRUE(active[0].task && active[1].task);
    EXPECT_EQ(active[1].task->Status(), kStatusScheduled);
    EXPECT_EQ(ActiveList(), later + "\r\n" + other + "\r\n");

    TPXTask reread(nullptr);
    reread.SetTaskFile(crashed);
    ASSERT_TRUE(reread.Load());
    EXPECT_EQ(reread.Status(), kStatusIncomplete);
    EXPECT_EQ(reread.Schedule(), "");

    list.ShowCategory(kActiveTasksCategory);
    EXPECT_EQ(RowNames(list), (std::vector<std::string>{"Later", "Other"}));
}

// A category shows its folder's tasks, a stopped or completed-but-unpacked one as "Incomplete";
// a task on the active-task list appears as that list's own object, which outlives the view.
TEST_F(TaskListTest, CategoriesAndTheirRows)
{
    WriteTask("Stopped", kStatusStopped);
    WriteTask("Packed", kStatusZipped);
    WriteTask("Half", kStatusComplete);
    WriteTask("Due", kStatusScheduled, "General", "Now");
    WriteTask("Elsewhere", kStatusUnscheduled, "Work");
    ASSERT_TRUE(WriteFileAtomically(ActiveTaskListPath(*m_app), TaskPath("Due") + "\r\n"));

    TTaskList list(*m_app);
    list.LoadActiveTasks();
    EXPECT_EQ(list.Categories(), (std::vector<std::string>{"Active Tasks", "General", "Work"}));

    list.ShowCategory("General");
    EXPECT_EQ(RowNames(list), (std::vector<std::string>{"Due", "Half", "Packed", "Stopped"}));
    EXPECT_EQ(list.Task(1)->Status(), kStatusIncomplete);
    EXPECT_EQ(StatusOnDisk("Half"), kStatusIncomplete);
    EXPECT_EQ(StatusOnDisk("Stopped"), kStatusIncomplete);
    EXPECT_EQ(StatusOnDisk("Packed"), kStatusZipped);
    const std::shared_ptr<TPXTask> due = m_app->ActiveTasks().at(0).task;
    EXPECT_EQ(list.Task(0), due);

    list.ChooseCategory("Work");
    EXPECT_EQ(RowNames(list), (std::vector<std::string>{"Elsewhere"}));
    EXPECT_EQ(m_app->LastCategory(), "Work");
    // The live object still reports its saves, and to the view that shows it again.
    list.ChooseCategory(kActiveTasksCategory);
    EXPECT_EQ(m_app->LastCategory(), "Work");
    EXPECT_EQ(list.Task(0), due);
    // The empty text makes the default the last category and leaves the rows.
    list.ChooseCategory("");
    EXPECT_EQ(m_app->LastCategory(), "General");
    EXPECT_EQ(list.Category(), kActiveTasksCategory);
    EXPECT_EQ(list.Count(), 1u);
}

// Busy is status 2 or 5; the next running task is looked for below the given row.
TEST_F(TaskListTest, RunningTasks)
{
    for (const auto& [name, status] : std::vector<std::pair<std::string, int>>{
             {"A", kStatusComplete}, {"B", kStatusUnscheduled}, {"C", kStatusDownloading}})
        WriteTask(name, status);
    TTaskList list(*m_app);
    list.ShowCategory("General");
    // Loading turned A's 5 into 4; make it busy again as a run would.
    list.Task(0)->SetStatus(kStatusComplete);
    EXPECT_TRUE(list.AnyTaskRunning());
    EXPECT_EQ(list.NextRunningTask(), list.Task(0));
    EXPECT_EQ(list.NextRunningTask(list.Task(0).get()), list.Task(2));
    EXPECT_EQ(list.NextRunningTask(list.Task(2).get()), nullptr);
    list.Task(0)->SetStatus(kStatusZipped);
    list.Task(2)->SetStatus(kStatusStopped);
    EXPECT_FALSE(list.AnyTaskRunning());
}

// Run: a task that never ran is marked "Now" without the run dialog; one that ran asks for its
// run mode, and a cancelled choice changes nothing.
TEST_F(TaskListTest, RunAsksForTheModeOnlyAfterARun)
{
    WriteTask("Fresh", kStatusUnscheduled);
    WriteTask("Ran", kStatusZipped);
    TTaskList list(*m_app);
    int scheduled = 0;
    list.OnScheduled = [&] { ++scheduled; };
    list.ShowCategory("General");
    TPXTask& fresh = *list.Task(0);
    TPXTask& ran = *list.Task(1);
    ASSERT_EQ(ran.TaskName(), "Ran");
    ASSERT_TRUE(WriteFileAtomically(ran.DownloadList().FilePath(), "http://host/Ran/\r\n"));

    int asked = 0;
    std::optional<int> choice;
    const TTaskList::TChooseRunModeEvent chooser = [&](TPXTask&) {
        ++asked;
        return choice;
    };
    EXPECT_TRUE(list.Run(fresh, chooser).ok);
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(fresh.Status(), kStatusScheduled);
    EXPECT_EQ(fresh.Schedule(), "Now");
    EXPECT_EQ(StatusOnDisk("Fresh"), kStatusScheduled);

    bool cancelled = false;
    list.Run(ran, chooser, &cancelled);
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(ran.Status(), kStatusZipped);
    choice = kRunSmartUpdate;
    list.Run(ran, chooser, &cancelled);
    EXPECT_FALSE(cancelled);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(ran.RunMode(), kRunSmartUpdate);
    EXPECT_EQ(ran.Status(), kStatusScheduled);
    EXPECT_EQ(scheduled, 2);
    EXPECT_EQ(ActiveList(), TaskPath("Fresh") + "\r\n" + TaskPath("Ran") + "\r\n");

    // The clock image does nothing; unscheduling clears the schedule and takes it off the list.
    list.StateImageClicked(0, chooser);
    EXPECT_EQ(fresh.Status(), kStatusScheduled);
    EXPECT_TRUE(list.Unschedule(fresh).ok);
    EXPECT_EQ(fresh.Schedule(), "");
    EXPECT_EQ(fresh.NextRun(), 0);
    EXPECT_EQ(ActiveList(), TaskPath("Ran") + "\r\n");

    // A running task is not rescheduled under its run.
    ran.SetStatus(kStatusDownloading);
    list.Run(ran, chooser);
    list.Unschedule(ran);
    EXPECT_EQ(ran.Status(), kStatusDownloading);
}

// Delete sends the list file and then the task file to the trash; a trash that fails keeps the
// task and its row; a busy task is never deleted.
TEST_F(TaskListTest, DeleteGoesToTheTrash)
{
    WriteTask("One", kStatusUnscheduled);
    WriteTask("Two", kStatusScheduled, "General", "Now");
    WriteTask("Busy", kStatusDownloading);
    TTaskList list(*m_app);
    list.ShowCategory("General");
    ASSERT_EQ(RowNames(list), (std::vector<std::string>{"Busy", "One", "Two"}));
    std::shared_ptr<TPXTask> busy = list.Task(0), one = list.Task(1), two = list.Task(2);
    two->Save(); // on the active-task list
    ASSERT_TRUE(WriteFileAtomically(one->DownloadList().FilePath(), "http://host/One/\r\n"));

    std::vector<std::string> trashed;
    bool refuse = false;
    const TTaskList::TTrashEvent trash = [&](const std::string& path, std::string* error) {
        if (refuse) {
            *error = "no trash";
            return false;
        }
        trashed.push_back(path);
        fs::remove(path);
        return true;
    };
    refuse = true;
    const TTaskCommandResult failed = list.Delete({one}, trash);
    EXPECT_FALSE(failed.ok);
    EXPECT_NE(failed.message.find("no trash"), std::string::npos);
    EXPECT_EQ(list.Count(), 3u);

    refuse = false;
    EXPECT_TRUE(list.Delete({busy, one, two}, trash).ok);
    EXPECT_EQ(trashed, (std::vector<std::string>{one->DownloadList().FilePath().string(), TaskPath("One"),
                                                 TaskPath("Two")}));
    EXPECT_EQ(RowNames(list), (std::vector<std::string>{"Busy"}));
    EXPECT_TRUE(fs::exists(TaskPath("Busy")));
    EXPECT_EQ(ActiveList(), "");
}

TEST_F(TaskListTest, RowTextsImagesAndSummary)
{
    TPXTask task;
    task.SetTaskName("Docs");
    task.SetURL("http://host/docs/");
    task.SetStartPageTitle("Docs Home");
    task.SetDestination("/home/me/Downloads/Docs.zip");
    task.SetStatus(kStatusDownloading);
    task.SetSchedule("Now");
    task.SetLastRun(EncodeDateTime(2026, 12, 10, 9, 5, 7));
    task.SetPagesSaved(7);
    task.SetTotalPages(9);
    task.SetResourcesSaved(20);
    task.SetTotalResources(25);
    task.SetPageErrors(1);
    task.SetResourceErrors(2);
    task.Profile().SetProfileName("Default");
    const std::vector<std::string> cells = {"Docs", "Docs Home", "Downloading...", "Now", "2026-12-10 09:05:07", "",
                                            "7/9", "20/25", "3", "http://host/docs/",
                                            "\\home\\me\\Downloads\\Docs.zip", "Default"};
    for (int column = 0; column < kTaskColumnCount; ++column)
        EXPECT_EQ(TaskCellText(task, column), cells[static_cast<std::size_t>(column)]) << TaskColumns()[column].caption;

    const struct {
        int status;
        int image;
        TRgb colour;
    } looks[] = {
        {0, kImageRun, {128, 128, 128}}, {1, kImageClock, {128, 128, 128}}, {2, kImageStop, {128, 128, 0}},
        {4, kImageRun, {128, 128, 128}}, {5, kImageRun, {0, 0, 128}},       {7, kImageRun, {0, 0, 128}},
    };
    for (const auto& look : looks) {
        task.SetStatus(static_cast<TTaskStatus>(look.status));
        EXPECT_EQ(TaskStateImage(task), look.image) << look.status;
        EXPECT_EQ(TaskTextColour(task), look.colour) << look.status;
    }
    EXPECT_EQ(StateImageHint(kImageRun), "Run");
    EXPECT_EQ(StateImageHint(kImageStop), "Stop");
    EXPECT_EQ(StateImageHint(kImageClock), "Scheduled");

    const std::string head = "Task Name: Docs\nURL: http://host/docs/\nDestination: /home/me/Downloads/Docs.zip";
    EXPECT_EQ(TaskSummary(task), head);
    task.SetElapsedTime(EncodeTime(1, 2, 3));
    EXPECT_EQ(TaskSummary(task), head + "\n\n\nElapsed Time: 1 Hrs 2 Min 3 Sec\n\nPages:\n    6 downloaded\n"
                                        "    1 not found\n\nResources:\n    18 downloaded\n    2 not found");
}

TEST_F(TaskListTest, BannerFramesetIsLocal)
{
    const std::string expected = "\n"
                                 "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\">\n"
                                 "<HTML>\n"
                                 "<FRAMESET FRAMEBORDER=NO FRAMESPACING=0 ROWS=\"60,*\" BORDER=NO>\n"
                                 "  <FRAME SRC=\"PellixBanner.htm\" MARGINHEIGHT=0 MARGINWIDTH=0 SCROLLING=NO>\n"
                                 "  <FRAME SRC=\"http://host/a?b=1&c=2\" MARGINHEIGHT=0 MARGINWIDTH=0 SCROLLING=YES>\n"
                                 "</FRAMESET>\n"
                                 "<NOFRAMES>\n"
                                 "<BODY BGPROPERTIES=\"FIXED\" BGCOLOR=\"#FFFFFF\">\n"
                                 "<BLOCKQUOTE><FONT FACE=\"VERDANA,ARIAL,HELVETICA\" SIZE=\"2\">\n"
                                 "<P><B>Tomefold</B>\n"
                                 "<P>Your browser does not support frames.<BR>\n"
                                 "</FONT></BLOCKQUOTE>\n"
                                 "</BODY>\n"
                                 "</NOFRAMES>\n"
                                 "</HTML>\n";
    const TFramesetResult written = WriteBannerFrameset(*m_app, "http://host/a?b=1&c=2");
    ASSERT_TRUE(written.ok) << written.message;
    EXPECT_EQ(fs::path(written.path), fs::path(m_app->TempFolder()) / "Pellix.htm");
    EXPECT_EQ(ReadWholeFile(written.path), expected);
    // The banner frame's page lies beside the frameset and names no host.
    const std::optional<std::string> banner = ReadWholeFile(fs::path(m_app->TempFolder()) / "PellixBanner.htm");
    ASSERT_TRUE(banner.has_value());
    EXPECT_EQ(banner->find("://"), std::string::npos);
    // An address cannot end its attribute.
    EXPECT_NE(BannerFramesetText("http://h/\"><script>").find("SRC=\"http://h/%22%3E%3Cscript%3E\""),
              std::string::npos);
}

// The desktop's report goes to the temp folder; without a list file nothing is written.
TEST_F(TaskListTest, ErrorReportInTheTempFolder)
{
    TPXTask task(m_app.get());
    task.SetTaskFile(TaskPath("Docs"));
    task.SetTaskName("Docs");
    task.SetStartPageTitle("Docs Home");
    const fs::path report = fs::path(m_app->TempFolder()) / "Docs_errors.htm";
    const TErrorReportResult missing = WriteTaskErrorReport(*m_app, task);
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.message.find("Docs.dwn"), std::string::npos);
    EXPECT_FALSE(fs::exists(report));

    const std::string sep(1, kRecordSeparator);
    fs::create_directories(fs::path(TaskPath("Docs")).parent_path());
    const std::string record = "3" + sep + "Not Found" + sep + "HTML" + sep + sep + "1" + sep + "http://h/" + sep;
    ASSERT_TRUE(WriteFileAtomically(task.DownloadList().FilePath(),
                                    "http://h/\r\n10" + sep + "\r\nhttp://h/x.htm\r\n" + record + "\r\n"));
    const TErrorReportResult written = WriteTaskErrorReport(*m_app, task);
    ASSERT_TRUE(written.ok) << written.message;
    EXPECT_EQ(fs::path(written.path), report);
    EXPECT_EQ(ReadWholeFile(report), ErrorReportText("Docs", "Docs Home", {{"http://h/x.htm", "Not Found", "http://h/"}}));
}

} // namespace
} // namespace pellix

namespace pellix {
namespace {

// The integrated browser opens the start page inside the Zip under the name the packer gave it.
TEST(StartPageEntryTest, TheEntryIsTheStartPageBelowTheTempFolder)
{
    struct Case {
        const char* url;
        const char* entry;
    };
    const Case cases[] = {
        {"http://127.0.0.1:8080/", "127.0.0.1_8080/index.htm"},
        {"http://www.example.org/docs/guide.html", "www.example.org/docs/guide.html"},
        {"https://example.org:443/a/", "example.org/a/index.htm"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        TPXTask task(nullptr);
        task.SetURL(c.url);
        EXPECT_EQ(StartPageEntry(task), c.entry);
    }
}

} // namespace
} // namespace pellix
