// TTaskList: the task list's data and commands without a window: categories, the rows of the
// shown category or of the active tasks, the start-up pass, run, stop, schedule, delete, rename,
// and the texts, images and enabled commands that the window shows.
#include "tasks/task_list.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include "engine/active_task_list.h"
#include "engine/task.h"
#include "links/text_helpers.h"
#include "links/url_rules.h"
#include "tasks/schedule.h"
#include "workspace/app_settings.h"
#include "workspace/zip_archive.h"

namespace fs = std::filesystem;

namespace pellix {

namespace {

bool IsBusy(const TPXTask& task)
{
    return task.Status() == kStatusDownloading || task.Status() == kStatusComplete;
}

std::string WithSlash(std::string folder)
{
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    return folder;
}

} // namespace

const std::vector<TTaskCommandInfo>& TaskCommands()
{
    constexpr TStatusSet idle = 1u << kStatusUnscheduled | 1u << kStatusStopped | 1u << kStatusIncomplete |
                                1u << kStatusZipped | 1u << kStatusTaskComplete;
    constexpr TStatusSet downloading = 1u << kStatusDownloading;
    constexpr TStatusSet scheduled = 1u << kStatusScheduled;
    static const std::vector<TTaskCommandInfo> commands = {
        {TTaskCommand::New, "&New...", "Create a new task", "Ctrl+N", "", false, kAnyStatus, false, false},
        {TTaskCommand::Edit, "&Edit...", "Edit selected task", "Ctrl+E", "Edit", true, idle, false, false},
        {TTaskCommand::Delete, "&Delete", "Delete selected task(s)", "", "Delete", true, idle, false, false},
        {TTaskCommand::Run, "&Run", "Start selected task", "Ctrl+R", "Run", true, idle, false, false},
        {TTaskCommand::Stop, "&Stop", "Abort selected task", "Ctrl+S", "Stop", true, downloading, false, false},
        {TTaskCommand::Schedule, "Schedu&le...", "Schedule selected task...", "", "Schedule", true, idle, false,
         false},
        {TTaskCommand::Unschedule, "&Unschedule", "Unschedule selected task", "", "", true, scheduled, false, false},
        {TTaskCommand::CopyStartURL, "Start Page URL", "", "", "", true, kAnyStatus, false, false},
        {TTaskCommand::CopyLocalStartURL, "Start Page URL (local)", "", "", "", true, kAnyStatus, true, false},
        {TTaskCommand::Browse, "&Browse", "", "", "Browse", true, kAnyStatus, false, false},
        {TTaskCommand::Explore, "E&xplore", "", "", "Explore", true, kAnyStatus, false, true},
    };
    return commands;
}

const TTaskCommandInfo& TaskCommandInfo(TTaskCommand command)
{
    for (const TTaskCommandInfo& info : TaskCommands())
        if (info.command == command)
            return info;
    return TaskCommands().front();
}

bool TaskCommandEnabled(TTaskCommand command, const TPXTask* selected, bool taskDownloading)
{
    const TTaskCommandInfo& info = TaskCommandInfo(command);
    if (!info.needsRow)
        return true;
    if (!selected)
        return false;
    const int status = selected->Status();
    if (status < 0 || status >= 32 || !(info.statuses & (1u << status)))
        return false;
    if (info.needsIntranet && !selected->IntranetMode())
        return false;
    return !(info.needsNoDownload && taskDownloading);
}

const std::array<TTaskColumnInfo, kTaskColumnCount>& TaskColumns()
{
    static const std::array<TTaskColumnInfo, kTaskColumnCount> columns = {{
        {"Task Name", 100},
        {"Start Page Title", 200},
        {"Status", 100},
        {"Schedule", 80},
        {"Last Run", 85},
        {"Next Run", 85},
        {"Pages", 0},
        {"Resources", 65},
        {"Errors", 0},
        {"Starting URL", 200},
        {"Destination", 200},
        {"Download Method", 200},
    }};
    return columns;
}

std::string TaskDateTimeText(TDateTime value)
{
    if (!(value > 0))
        return {};
    return ScheduleDateText(value) + " " + ScheduleTimeText(value);
}

std::string TaskCellText(const TPXTask& task, int column)
{
    switch (column) {
    case kColumnTaskName:
        return task.TaskName();
    case kColumnStartPageTitle:
        return task.StartPageTitle();
    case kColumnStatus:
        return TPXTask::StatusText(task.Status());
    case kColumnSchedule:
        return task.Schedule();
    case kColumnLastRun:
        return TaskDateTimeText(task.LastRun());
    case kColumnNextRun:
        return TaskDateTimeText(task.NextRun());
    case kColumnPages:
        return std::to_string(task.PagesSaved()) + "/" + std::to_string(task.TotalPages());
    case kColumnResources:
        return std::to_string(task.ResourcesSaved()) + "/" + std::to_string(task.TotalResources());
    case kColumnErrors:
        return std::to_string(static_cast<long long>(task.PageErrors()) + task.ResourceErrors());
    case kColumnStartingURL:
        return task.URL();
    case kColumnDestination:
        return ToBackslashes(task.Destination());
    case kColumnDownloadMethod:
        return task.Profile().ProfileName();
    default:
        return {};
    }
}

int TaskStateImage(const TPXTask& task)
{
    switch (task.Status()) {
    case kStatusDownloading:
        return kImageStop;
    case kStatusScheduled:
        return kImageClock;
    default:
        return kImageRun;
    }
}

std::string StateImageHint(int image)
{
    switch (image) {
    case kImageRun:
        return "Run";
    case kImageStop:
        return "Stop";
    case kImageClock:
        return "Scheduled";
    default:
        return {};
    }
}

TRgb TaskTextColour(const TPXTask& task)
{
    const int status = task.Status();
    if (status == kStatusDownloading)
        return {128, 128, 0};
    if (status >= kStatusComplete)
        return {0, 0, 128};
    return {128, 128, 128};
}

std::string TaskSummary(const TPXTask& task)
{
    std::string text = "Task Name: " + task.TaskName() + "\n" + "URL: " + task.URL() + "\n" + "Destination: " +
                       task.Destination();
    if (task.ElapsedTime() != 0) {
        text += "\n\n\nElapsed Time: " + ElapsedText(task.ElapsedTime()) + "\n\n" + "Pages:" + "\n" + "    " +
                std::to_string(task.PagesSaved() - task.PageErrors()) + " downloaded" + "\n" + "    " +
                std::to_string(task.PageErrors()) + " not found" + "\n\n" + "Resources:" + "\n" + "    " +
                std::to_string(task.ResourcesSaved() - task.ResourceErrors()) + " downloaded" + "\n" + "    " +
                std::to_string(task.ResourceErrors()) + " not found";
    }
    return text;
}

std::string LocalStartPage(const TPXApp& app, const TPXTask& task)
{
    const std::string root = task.IntranetMode() ? ToSlashes(task.Destination()) : app.TempFolder();
    return LocalFileName(WithSlash(root), URLDirectory(task.URL()), task.URL());
}

std::string StartPageEntry(const TPXTask& task)
{
    // Entries are the files' paths below the temp folder the task wrote them to.
    const std::string root = "/r/";
    return LocalFileName(root, URLDirectory(task.URL()), task.URL()).substr(root.size());
}

std::string LocalStartPageInDestination(const TPXTask& task)
{
    return LocalFileName(WithSlash(ToSlashes(task.Destination())), URLDirectory(task.URL()), task.URL());
}

TOfflinePage PrepareOfflinePage(const TPXApp& app, const TPXTask& task)
{
    TOfflinePage page;
    page.path = LocalStartPage(app, task);
    if (task.IntranetMode()) {
        page.ok = true;
        return page;
    }
    const std::string zipPath = ToSlashes(task.Destination());
    std::error_code ec;
    if (zipPath.empty() || !fs::is_regular_file(zipPath, ec)) {
        page.missingZip = true;
        return page;
    }
    TZipArchive archive;
    const TZipOpenResult opened = archive.Open(zipPath);
    if (!opened.zip) {
        page.message = opened.view.message.empty() ? "Cannot open " + zipPath + "." : opened.view.message;
        return page;
    }
    const TZipOutcome extracted = archive.ExtractAllForBrowsing(*opened.zip, app.TempFolder(), false);
    if (extracted.code != kZipOk && !extracted.view.message.empty()) {
        page.message = extracted.view.message;
        return page;
    }
    page.ok = true;
    return page;
}

// ---------------------------------------------------------------------------------------------

TTaskList::TTaskList(TPXApp& app) : m_app(app), m_alive(std::make_shared<bool>(true))
{
    m_category = m_app.LastCategory();
}

TTaskList::~TTaskList()
{
    *m_alive = false;
    // The active-task list's objects outlive the window; their saves must not reach it.
    for (const TRow& row : m_rows)
        row.task->SetOnSaved(nullptr);
    for (const TActiveTask& entry : m_app.ActiveTasks())
        if (entry.task)
            entry.task->SetOnSaved(nullptr);
}

std::vector<std::string> TTaskList::Categories() const
{
    const fs::path tasks(m_app.TasksFolder());
    std::error_code ec;
    fs::create_directories(tasks / kDefaultCategory, ec);
    std::vector<std::string> names;
    for (fs::directory_iterator it(tasks, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->is_directory(typeError))
            names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    names.insert(names.begin(), kActiveTasksCategory);
    return names;
}

bool TTaskList::ShowsActiveTasks() const
{
    return m_category == kActiveTasksCategory;
}

std::string TTaskList::FolderOf(const std::string& category) const
{
    return WithSlash(m_app.TasksFolder()) + (category.empty() ? std::string(kDefaultCategory) : category) + "/";
}

std::shared_ptr<TPXTask> TTaskList::LiveTask(const std::string& taskFile) const
{
    for (const TActiveTask& entry : m_app.ActiveTasks())
        if (entry.task && entry.path == taskFile)
            return entry.task;
    if (OnCurrentTask) {
        std::shared_ptr<TPXTask> current = OnCurrentTask();
        if (current && current->TaskFile() == taskFile)
            return current;
    }
    return nullptr;
}

std::shared_ptr<TPXTask> TTaskList::MakeTask(const std::string& taskFile)
{
    auto task = std::make_shared<TPXTask>(&m_app);
    task->SetTaskFile(taskFile);
    Adopt(*task);
    // A file that cannot be read still gives a row, with what the loader left.
    task->Load();
    return task;
}

void TTaskList::Adopt(TPXTask& task)
{
    std::weak_ptr<bool> alive = m_alive;
    task.SetOnSaved([this, alive](TPXTask& saved) {
        if (auto flag = alive.lock(); flag && *flag)
            TaskChanged(saved);
    });
}

TTaskCommandResult TTaskList::SaveTask(TPXTask& task)
{
    std::string error;
    if (!task.Save(&error))
        return {false, "Unable to save the task " + task.TaskName() + ": " + error};
    return {};
}

int TTaskList::LoadActiveTasks()
{
    const std::vector<std::string> listed = ReadActiveTaskList(ActiveTaskListPath(m_app));
    std::vector<TActiveTask>& active = m_app.ActiveTasks();
    // Each task file once, also when the file names it twice.
    std::vector<std::string> paths;
    std::set<std::string> seen;
    for (const TActiveTask& entry : active)
        seen.insert(entry.path);
    for (const std::string& path : listed)
        if (seen.insert(path).second)
            paths.push_back(path);
    for (const std::string& path : paths)
        active.push_back({path, nullptr});

    int madeIncomplete = 0;
    bool dropped = false;
    for (const std::string& path : paths) {
        const std::shared_ptr<TPXTask> task = MakeTask(path);
        auto entry = std::find_if(active.begin(), active.end(), [&](const TActiveTask& e) { return e.path == path; });
        if (entry == active.end())
            continue;
        entry->task = task;
        const int status = task->Status();
        if (status >= kStatusDownloading && status <= kStatusComplete) {
            task->SetStatus(kStatusIncomplete);
            task->SetSchedule({});
            task->Save(); // takes it off the list
            ++madeIncomplete;
        } else if (status != kStatusScheduled) {
            // Listed but not scheduled: the file went, or another program changed it.
            active.erase(entry);
            dropped = true;
        }
    }
    if (dropped)
        WriteActiveTaskList(ActiveTaskListPath(m_app), active);
    return madeIncomplete;
}

void TTaskList::ClearRows()
{
    for (const TRow& row : m_rows) {
        // A released task stops calling back; a live one keeps its notification for its next row.
        if (!LiveTask(row.task->TaskFile()))
            row.task->SetOnSaved(nullptr);
    }
    m_rows.clear();
}

void TTaskList::AppendRow(std::shared_ptr<TPXTask> task)
{
    m_rows.push_back({std::move(task), false});
}

void TTaskList::ShowCategory(const std::string& category)
{
    if (m_observer)
        m_observer->OnRowsAboutToReset();
    ClearRows();
    m_category = category.empty() ? std::string(kDefaultCategory) : category;
    if (ShowsActiveTasks()) {
        for (const TActiveTask& entry : m_app.ActiveTasks()) {
            if (!entry.task)
                continue;
            Adopt(*entry.task);
            AppendRow(entry.task);
        }
    } else {
        const fs::path folder(FolderOf(m_category));
        std::vector<std::string> files;
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code typeError;
            if (it->is_regular_file(typeError) && it->path().extension() == kTaskFileExtension)
                files.push_back(it->path().string());
        }
        std::sort(files.begin(), files.end());
        for (const std::string& file : files) {
            if (std::shared_ptr<TPXTask> live = LiveTask(file)) {
                // A live task's status is its run's, never a stale one to correct.
                Adopt(*live);
                AppendRow(std::move(live));
                continue;
            }
            std::shared_ptr<TPXTask> task = MakeTask(file);
            if (task->Status() == kStatusStopped || task->Status() == kStatusComplete) {
                task->SetStatus(kStatusIncomplete);
                task->Save();
            }
            AppendRow(std::move(task));
        }
    }
    if (m_observer)
        m_observer->OnRowsReset();
}

void TTaskList::ChooseCategory(const std::string& category)
{
    if (category.empty()) {
        m_app.SetLastCategory(kDefaultCategory);
        return;
    }
    // "Active Tasks" is a view, not a folder new tasks could go to.
    if (category != kActiveTasksCategory)
        m_app.SetLastCategory(category);
    ShowCategory(category);
}

std::optional<std::size_t> TTaskList::RowOf(const TPXTask& task) const
{
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        if (m_rows[i].task.get() == &task)
            return i;
    return std::nullopt;
}

bool TTaskList::AnyTaskRunning() const
{
    return std::any_of(m_rows.begin(), m_rows.end(), [](const TRow& row) { return IsBusy(*row.task); });
}

std::shared_ptr<TPXTask> TTaskList::NextRunningTask(const TPXTask* after) const
{
    std::size_t start = 0;
    if (after) {
        if (const std::optional<std::size_t> row = RowOf(*after))
            start = *row + 1;
    }
    for (std::size_t i = start; i < m_rows.size(); ++i)
        if (IsBusy(*m_rows[i].task))
            return m_rows[i].task;
    return nullptr;
}

std::shared_ptr<TPXTask> TTaskList::FindDueTask(TDateTime now) const
{
    for (const TRow& row : m_rows) {
        const TPXTask& task = *row.task;
        if (row.refused || task.Status() != kStatusScheduled)
            continue;
        if (task.Schedule() == kScheduleNow || task.NextRun() <= now)
            return row.task;
    }
    return nullptr;
}

void TTaskList::MarkRefused(const TPXTask& task)
{
    if (const std::optional<std::size_t> row = RowOf(task))
        m_rows[*row].refused = true;
}

bool TTaskList::BelongsToView(const TPXTask& task) const
{
    if (ShowsActiveTasks()) {
        const auto& active = m_app.ActiveTasks();
        return std::any_of(active.begin(), active.end(),
                           [&](const TActiveTask& entry) { return entry.path == task.TaskFile(); });
    }
    return fs::path(task.TaskFile()).parent_path().lexically_normal() ==
           fs::path(FolderOf(m_category)).parent_path().lexically_normal();
}

TTaskCommandResult TTaskList::AddTask(const std::shared_ptr<TPXTask>& task, bool save)
{
    if (!task)
        return {false, "No task."};
    Adopt(*task);
    TTaskCommandResult result;
    if (save)
        result = SaveTask(*task);
    if (!RowOf(*task) && BelongsToView(*task)) {
        // A row of another object for the same file (loaded before the task was created) gives
        // way to this one.
        const auto same = std::find_if(m_rows.begin(), m_rows.end(),
                                       [&](const TRow& row) { return row.task->TaskFile() == task->TaskFile(); });
        if (same != m_rows.end()) {
            same->task = task;
            same->refused = false;
            if (m_observer)
                m_observer->OnRowChanged(static_cast<std::size_t>(same - m_rows.begin()));
        } else {
            if (m_observer)
                m_observer->OnRowAboutToBeAdded(m_rows.size());
            AppendRow(task);
            if (m_observer)
                m_observer->OnRowAdded(m_rows.size() - 1);
        }
    }
    if (task->Status() == kStatusScheduled && OnScheduled)
        OnScheduled();
    return result;
}

void TTaskList::TaskChanged(TPXTask& task)
{
    const std::optional<std::size_t> row = RowOf(task);
    if (!row)
        return;
    m_rows[*row].refused = false;
    if (m_observer)
        m_observer->OnRowChanged(*row);
}

bool TTaskList::HasRunBefore(TPXTask& task)
{
    if (task.DownloadList().Count() > 0)
        return true;
    // Only the first line is needed: the whole list of a large site is not read for this.
    std::ifstream in(task.DownloadList().FilePath(), std::ios::binary);
    std::string first;
    if (!in || !std::getline(in, first))
        return false;
    if (!first.empty() && first.back() == '\r')
        first.pop_back();
    return !first.empty();
}

TTaskCommandResult TTaskList::Run(TPXTask& task, const TChooseRunModeEvent& chooser, bool* cancelled)
{
    if (cancelled)
        *cancelled = false;
    if (IsBusy(task))
        return {};
    if (HasRunBefore(task)) {
        const std::optional<int> mode = chooser ? chooser(task) : std::nullopt;
        if (!mode) {
            if (cancelled)
                *cancelled = true;
            return {};
        }
        task.SetRunMode(static_cast<TRunMode>(*mode));
    }
    task.SetStatus(kStatusScheduled);
    task.SetSchedule(kScheduleNow);
    TTaskCommandResult result = SaveTask(task);
    if (OnScheduled)
        OnScheduled();
    return result;
}

void TTaskList::Stop(const std::vector<std::shared_ptr<TPXTask>>& tasks)
{
    for (const std::shared_ptr<TPXTask>& task : tasks)
        if (task && task->Status() == kStatusDownloading && OnStopTask)
            OnStopTask(*task);
}

void TTaskList::StateImageClicked(std::size_t row, const TChooseRunModeEvent& chooser)
{
    if (row >= m_rows.size())
        return;
    const std::shared_ptr<TPXTask> task = m_rows[row].task;
    switch (TaskStateImage(*task)) {
    case kImageRun:
        Run(*task, chooser);
        break;
    case kImageStop:
        Stop({task});
        break;
    default:
        break;
    }
}

TTaskCommandResult TTaskList::Schedule(TPXTask& task)
{
    if (IsBusy(task))
        return {};
    task.SetStatus(kStatusScheduled);
    TTaskCommandResult result = SaveTask(task);
    if (OnScheduled)
        OnScheduled();
    return result;
}

TTaskCommandResult TTaskList::Unschedule(TPXTask& task)
{
    if (IsBusy(task))
        return {};
    task.SetStatus(kStatusUnscheduled);
    task.SetSchedule({});
    task.SetNextRun(0);
    return SaveTask(task);
}

TTaskCommandResult TTaskList::Delete(const std::vector<std::shared_ptr<TPXTask>>& tasks, const TTrashEvent& trash)
{
    for (const std::shared_ptr<TPXTask>& task : tasks) {
        if (!task || IsBusy(*task))
            continue; // a run's files are not pulled from under it
        const std::string listFile = task->DownloadList().FilePath().string();
        for (const std::string& file : {listFile, task->TaskFile()}) {
            std::error_code ec;
            if (!fs::exists(fs::symlink_status(file, ec)))
                continue;
            std::string error;
            if (!trash || !trash(file, &error))
                return {false, "Unable to delete " + file + (error.empty() ? std::string(".") : ": " + error)};
        }
        if (m_app.CurrentTask() == task.get() && OnReleaseCurrent)
            OnReleaseCurrent(*task);
        // Its file is gone: the active-task list must not name it any more.
        UpdateActiveTask(m_app, task->TaskFile(), kStatusUnscheduled, nullptr);
        task->SetOnSaved(nullptr);
        if (const std::optional<std::size_t> row = RowOf(*task)) {
            if (m_observer)
                m_observer->OnRowAboutToBeRemoved(*row);
            m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(*row));
            if (m_observer)
                m_observer->OnRowRemoved(*row);
        }
    }
    return {};
}

TTaskCommandResult TTaskList::Rename(TPXTask& task, const std::string& newName)
{
    if (IsBusy(task) || newName == task.TaskName())
        return {};
    const std::string oldFile = task.TaskFile();
    const TRenameResult renamed = task.Rename(newName);
    if (!renamed.ok)
        return {false, renamed.message};
    // The save of the rename listed the new path; the old one names a file that is gone.
    std::vector<TActiveTask>& active = m_app.ActiveTasks();
    const auto stale = std::remove_if(active.begin(), active.end(),
                                      [&](const TActiveTask& entry) { return entry.path == oldFile; });
    if (stale != active.end()) {
        active.erase(stale, active.end());
        WriteActiveTaskList(ActiveTaskListPath(m_app), active);
    }
    return {};
}

} // namespace pellix
