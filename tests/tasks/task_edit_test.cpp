// Tests for the task editor's rules: the checks of OK in order, default names, what OK writes and
// how a task file moves between categories.
#include "tasks/task_edit.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "engine/active_task_list.h"
#include "engine/task.h"
#include "links/file_io.h"
#include "workspace/app_settings.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_app.h"

namespace pellix {
namespace {

namespace fs = std::filesystem;

class TTaskEditTest : public ::testing::Test {
protected:
    TTaskEditTest()
    {
        m_app = std::make_unique<TPXApp>(test::TestAppPaths(m_folder.Path()));
        m_app->SetDownloadsFolder((m_folder.Path() / "dl").string() + "/");
    }

    std::shared_ptr<TPXTask> NewTask(const std::string& category, const std::string& name)
    {
        auto task = std::make_shared<TPXTask>(m_app.get());
        task->SetTaskName(name);
        task->SetTaskFile(m_app->TasksFolder() + category + "/" + name + ".pxt");
        task->SetURL("http://example.net/");
        task->SetDestination(m_app->DownloadsFolder() + name + ".zip");
        return task;
    }

    TTaskEditFields ValidFields()
    {
        TTaskEditFields fields;
        fields.taskName = "example";
        fields.category = "General";
        fields.profileName = "Custom";
        fields.url = "example.net";
        fields.zipFile = m_app->DownloadsFolder() + "example.zip";
        fields.intranetFolder = m_app->IntranetFolder();
        return fields;
    }

    static void Touch(const std::string& path)
    {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path) << "[Task]\nURL=http://x/\n";
    }

    test::TTempFolder m_folder;
    std::unique_ptr<TPXApp> m_app;
};

// Each rule in the order OK applies them: the first failing one is reported, with its box kind.
TEST_F(TTaskEditTest, ChecksRunInOrderAndNormalise)
{
    struct TCase {
        const char* name;
        std::function<void(TTaskEditFields&)> change;
        TTaskEditCheckKind kind;
        std::string message;
    };
    const std::string dl = m_app->DownloadsFolder();
    const TCase cases[] = {
        {"valid", [](TTaskEditFields&) {}, TTaskEditCheckKind::Ok, ""},
        {"empty address", [](TTaskEditFields& f) { f.url = "  "; f.taskName = ""; }, TTaskEditCheckKind::Error,
         kEditURLRequired},
        {"ftp address", [](TTaskEditFields& f) { f.url = "ftp://example.net/"; f.taskName = ""; },
         TTaskEditCheckKind::Error, kEditURLRequired},
        {"https is accepted", [](TTaskEditFields& f) { f.url = "https://example.net/"; }, TTaskEditCheckKind::Ok, ""},
        {"empty name", [](TTaskEditFields& f) { f.taskName = " "; f.zipFile = "x"; }, TTaskEditCheckKind::Error,
         kEditNameRequired},
        {"dot-dot name", [](TTaskEditFields& f) { f.taskName = ".."; }, TTaskEditCheckKind::Error, kEditNameRequired},
        {"intranet without folder", [](TTaskEditFields& f) { f.intranetMode = true; f.intranetFolder = "Sites"; },
         TTaskEditCheckKind::Warning, kEditIntranetRequired},
        {"intranet relative", [](TTaskEditFields& f) { f.intranetMode = true; f.intranetFolder = "a/Sites"; },
         TTaskEditCheckKind::Warning, kEditIntranetRequired},
        {"intranet full path", [](TTaskEditFields& f) { f.intranetMode = true; f.intranetFolder = "/srv/Sites"; },
         TTaskEditCheckKind::Ok, ""},
        {"zip without folder", [](TTaskEditFields& f) { f.zipFile = "example.zip"; }, TTaskEditCheckKind::Warning,
         kEditZipRequired},
        {"zip only extension", [dl](TTaskEditFields& f) { f.zipFile = dl + ".zip"; }, TTaskEditCheckKind::Warning,
         kEditZipRequired},
        {"zip folder only", [dl](TTaskEditFields& f) { f.zipFile = dl; }, TTaskEditCheckKind::Warning,
         kEditZipRequired},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto task = NewTask("General", "example");
        TTaskEditFields fields = ValidFields();
        c.change(fields);
        const TTaskEditCheck check = CheckTaskEdit(*m_app, *task, TTaskEditMode::Create, fields);
        EXPECT_EQ(check.kind, c.kind);
        EXPECT_EQ(check.message, c.message);
    }

    auto task = NewTask("General", "example");
    TTaskEditFields fields = ValidFields();
    fields.url = " example.net ";
    fields.taskName = "a/b:c";
    fields.zipFile = m_app->DownloadsFolder() + "site";
    ASSERT_TRUE(CheckTaskEdit(*m_app, *task, TTaskEditMode::Create, fields).ok());
    EXPECT_EQ(fields.url, "http://example.net/");
    EXPECT_EQ(fields.taskName, "a_b_c");
    EXPECT_EQ(fields.zipFile, m_app->DownloadsFolder() + "site.zip");

    // A failure later than the address keeps the normalised address.
    fields = ValidFields();
    fields.taskName = "";
    CheckTaskEdit(*m_app, *task, TTaskEditMode::Create, fields);
    EXPECT_EQ(fields.url, "http://example.net/");
}

// Add mode asks before any task file of the name is replaced; the other modes ask only when the
// file is another task's, never for the task's own file.
TEST_F(TTaskEditTest, ReplacingATaskFileIsAskedFirst)
{
    const std::string general = m_app->TasksFolder() + "General/";
    Touch(general + "example.pxt");
    Touch(general + "other.pxt");
    auto task = NewTask("General", "example");

    TTaskEditFields fields = ValidFields();
    EXPECT_EQ(CheckTaskEdit(*m_app, *task, TTaskEditMode::Add, fields).kind, TTaskEditCheckKind::Replace);
    EXPECT_TRUE(CheckTaskEdit(*m_app, *task, TTaskEditMode::Add, fields, true).ok());
    EXPECT_TRUE(CheckTaskEdit(*m_app, *task, TTaskEditMode::Edit, fields).ok());

    fields.taskName = "other";
    const TTaskEditCheck check = CheckTaskEdit(*m_app, *task, TTaskEditMode::Edit, fields);
    EXPECT_EQ(check.kind, TTaskEditCheckKind::Replace);
    EXPECT_EQ(check.message, kEditReplaceQuestion);
    EXPECT_EQ(CheckTaskEdit(*m_app, *task, TTaskEditMode::Create, fields).kind, TTaskEditCheckKind::Replace);
}

// Default names are free in the chosen category and in the downloads folder.
TEST_F(TTaskEditTest, DefaultNamesAreFreeWhereTheyAreWritten)
{
    Touch(m_app->TasksFolder() + "Other/example.pxt");
    Touch(m_app->DownloadsFolder() + "example.zip");
    TTaskEditNames names = DefaultTaskEditNames(*m_app, "http://www.example.net/docs/", "Other");
    EXPECT_EQ(names.taskName, "example(0)");
    EXPECT_EQ(names.zipFile, m_app->DownloadsFolder() + "example(0).zip");
    names = DefaultTaskEditNames(*m_app, "http://www.example.net/", "General");
    EXPECT_EQ(names.taskName, "example");
}

// What OK writes, read back from the saved task file; the fields shown when the task is opened
// again are the ones written (the Schedule page always opens empty).
TEST_F(TTaskEditTest, WrittenTaskReadsBackAsTheFields)
{
    struct TCase {
        const char* name;
        std::function<void(TTaskEditFields&)> change;
        std::function<void(const TPXTask&)> expect;
    };
    const TCase cases[] = {
        {"zip, now, account",
         [](TTaskEditFields& f) {
             f.useAccount = true;
             f.userName = "ann";
             f.password = "secret";
             f.schedule = TTaskEditSchedule::Now;
         },
         [](const TPXTask& t) {
             EXPECT_EQ(t.UserName(), "ann");
             EXPECT_EQ(t.Password(), "secret");
             EXPECT_EQ(t.Schedule(), "Now");
             EXPECT_EQ(t.Status(), kStatusScheduled);
             EXPECT_FALSE(t.IntranetMode());
         }},
        {"account box unchecked clears it",
         [](TTaskEditFields& f) {
             f.userName = "ann";
             f.password = "secret";
         },
         [](const TPXTask& t) {
             EXPECT_EQ(t.UserName(), "");
             EXPECT_EQ(t.Password(), "");
             EXPECT_EQ(t.Status(), kStatusUnscheduled);
             EXPECT_EQ(t.Schedule(), "");
         }},
        {"intranet gets its slash, a date schedules",
         [](TTaskEditFields& f) {
             f.intranetMode = true;
             f.intranetFolder = "/srv/Sites";
             f.schedule = TTaskEditSchedule::At;
             f.scheduleText = "2026-12-24 08:00";
         },
         [](const TPXTask& t) {
             EXPECT_TRUE(t.IntranetMode());
             EXPECT_EQ(t.Destination(), "/srv/Sites/");
             EXPECT_EQ(t.Schedule(), "2026-12-24 08:00");
             EXPECT_EQ(t.Status(), kStatusScheduled);
         }},
        {"profile pages",
         [](TTaskEditFields& f) {
             f.profileName = "Custom";
             f.depth = 3;
             f.pageLocation = 0;
             f.resourceLocation = 1;
             f.aggressiveParser = 2;
             f.convertFollowedLinks = 0;
             f.convertUnfollowedLinks = 2;
             f.useStartPageTitle = false;
             f.allFileTypes = false;
             f.fileTypes = {".htm", ".gif"};
             f.includeFilters = {"[AL]docs"};
             f.excludeFilters = {"[RL]ads", "[PL]print"};
         },
         [](const TPXTask& t) {
             const TPXProfile& p = t.Profile();
             EXPECT_EQ(p.Depth(), 3);
             EXPECT_EQ(p.PageLocation(), 0);
             EXPECT_EQ(p.ResourceLocation(), 1);
             EXPECT_EQ(p.AggressiveParser(), 2);
             EXPECT_EQ(p.ConvertFollowedLinks(), 0);
             EXPECT_EQ(p.ConvertUnfollowedLinks(), 2);
             EXPECT_FALSE(p.UseStartPageTitle());
             EXPECT_EQ(p.FileTypes(), (std::vector<std::string>{".htm", ".gif"}));
             EXPECT_EQ(p.IncludeFilters(), (std::vector<std::string>{"[AL]docs"}));
             EXPECT_EQ(p.ExcludeFilters(), (std::vector<std::string>{"[RL]ads", "[PL]print"}));
         }},
        {"All file types store an empty list",
         [](TTaskEditFields& f) {
             f.allFileTypes = true;
             f.fileTypes = {".htm"};
         },
         [](const TPXTask& t) { EXPECT_TRUE(t.Profile().FileTypes().empty()); }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto task = NewTask("General", "example");
        TTaskEditFields fields = ValidFields();
        c.change(fields);
        ASSERT_TRUE(CheckTaskEdit(*m_app, *task, TTaskEditMode::Edit, fields).ok());
        const TTaskEditWriteResult written = WriteTaskEdit(*m_app, *task, fields);
        ASSERT_TRUE(written.ok) << written.message;
        EXPECT_FALSE(written.movedCategory);

        auto loaded = std::make_shared<TPXTask>(m_app.get());
        loaded->SetTaskFile(m_app->TasksFolder() + "General/example.pxt");
        ASSERT_TRUE(loaded->Load());
        EXPECT_EQ(loaded->URL(), "http://example.net/");
        c.expect(*loaded);

        TTaskEditFields shown = TaskEditFieldsOf(*m_app, *loaded);
        TTaskEditFields expected = fields;
        if (!expected.useAccount) {
            expected.userName.clear();
            expected.password.clear();
        }
        if (expected.intranetMode) {
            expected.intranetFolder = "/srv/Sites/";
            expected.zipFile.clear();
        }
        if (expected.allFileTypes)
            expected.fileTypes.clear();
        expected.schedule = TTaskEditSchedule::Later;
        expected.scheduleText.clear();
        EXPECT_TRUE(shown == expected);
        fs::remove(loaded->TaskFile());
    }
}

// A task that ran "Once at" and is edited without touching the Schedule page loses its schedule.
TEST_F(TTaskEditTest, EditingAFinishedOnceTaskUnschedulesIt)
{
    auto task = NewTask("General", "example");
    task->SetSchedule("Once at 2026-12-01  10:00:00");
    task->SetStatus(kStatusTaskComplete);
    ASSERT_TRUE(task->Save());
    TTaskEditFields fields = TaskEditFieldsOf(*m_app, *task);
    ASSERT_TRUE(CheckTaskEdit(*m_app, *task, TTaskEditMode::Edit, fields).ok());
    ASSERT_TRUE(WriteTaskEdit(*m_app, *task, fields).ok);
    EXPECT_EQ(task->Schedule(), "");
    EXPECT_EQ(task->Status(), kStatusUnscheduled);
}

// Another category (or name): the new task file is written, the download list follows under the
// new name and the old task file goes, also from the active-task list. A task file opened from
// outside the tasks folder is left where it is.
TEST_F(TTaskEditTest, MovingATaskTakesItsDownloadListAlong)
{
    m_app->SetLastCategory("General");
    auto task = NewTask("General", "example");
    task->SetStatus(kStatusScheduled);
    task->SetSchedule("Now");
    ASSERT_TRUE(task->Save());
    const fs::path oldList = task->DefaultDownloadListPath();
    ASSERT_TRUE(WriteFileAtomically(oldList, "list"));

    TTaskEditFields fields = TaskEditFieldsOf(*m_app, *task);
    fields.category = "Other";
    fields.taskName = "renamed";
    fields.schedule = TTaskEditSchedule::Now;
    ASSERT_TRUE(CheckTaskEdit(*m_app, *task, TTaskEditMode::Edit, fields).ok());
    const TTaskEditWriteResult written = WriteTaskEdit(*m_app, *task, fields);
    ASSERT_TRUE(written.ok);
    EXPECT_TRUE(written.movedCategory);

    const std::string other = m_app->TasksFolder() + "Other/";
    EXPECT_EQ(task->TaskFile(), other + "renamed.pxt");
    EXPECT_TRUE(fs::exists(other + "renamed.pxt"));
    EXPECT_EQ(ReadWholeFile(other + "renamed.dwn").value_or(""), "list");
    EXPECT_FALSE(fs::exists(m_app->TasksFolder() + "General/example.pxt"));
    EXPECT_FALSE(fs::exists(oldList));
    const auto active = ReadActiveTaskList(ActiveTaskListPath(*m_app));
    EXPECT_EQ(active, (std::vector<std::string>{other + "renamed.pxt"}));

    // Opened from elsewhere: the original stays.
    const std::string outside = (m_folder.Path() / "mail" / "site.pxt").string();
    auto opened = std::make_shared<TPXTask>(m_app.get());
    opened->SetTaskFile(outside);
    opened->SetTaskName("site");
    opened->SetURL("http://example.org/");
    ASSERT_TRUE(opened->Save());
    fields = TaskEditFieldsOf(*m_app, *opened);
    EXPECT_EQ(fields.category, "General");
    fields.zipFile = m_app->DownloadsFolder() + "site.zip";
    ASSERT_TRUE(CheckTaskEdit(*m_app, *opened, TTaskEditMode::Add, fields).ok());
    ASSERT_TRUE(WriteTaskEdit(*m_app, *opened, fields).ok);
    EXPECT_TRUE(fs::exists(outside));
    EXPECT_TRUE(fs::exists(m_app->TasksFolder() + "General/site.pxt"));
}

// The editor opens on the category that holds the task file, with the stored profiles listed after
// "Custom".
TEST_F(TTaskEditTest, CategoriesAndProfileEntries)
{
    m_app->SetLastCategory("General");
    fs::create_directories(m_app->TasksFolder() + "Work");
    Touch(m_app->ProfilesFolder() + "Images Only.pxp");
    Touch(m_app->ProfilesFolder() + "Default.pxp");
    EXPECT_EQ(TaskCategories(*m_app), (std::vector<std::string>{"General", "Work"}));
    EXPECT_EQ(ProfileEntries(*m_app), (std::vector<std::string>{"Custom", "Default", "Images Only"}));
    auto task = NewTask("Work", "w");
    EXPECT_EQ(TaskEditFieldsOf(*m_app, *task).category, "Work");
}

} // namespace
} // namespace pellix
