// TTaskList: the task list's data and commands without a window: categories, the rows of the
// shown category or of the active tasks, the start-up pass, run, stop, schedule, delete, rename,
// and the texts, images and enabled commands that the window shows.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "links/date_time.h"

namespace pellix {

class TPXApp;
class TPXTask;

inline constexpr const char* kActiveTasksCategory = "Active Tasks";
inline constexpr const char* kDefaultCategory = "General";

// The commands of the Task menu, the pop-up menu and the tool buttons.
enum class TTaskCommand {
    New,
    Edit,
    Delete,
    Run,
    Stop,
    Schedule,
    Unschedule,
    CopyStartURL,
    CopyLocalStartURL,
    Browse,
    Explore,
};

// Statuses as bits (1 << status) for the enabling table.
using TStatusSet = unsigned;
inline constexpr TStatusSet kAnyStatus = ~0u;

struct TTaskCommandInfo {
    TTaskCommand command;
    const char* caption;
    const char* hint;       // empty: none
    const char* shortcut;   // empty: none
    const char* button;     // the tool button's caption; empty: no button
    bool needsRow;          // enabled only with a selected row
    TStatusSet statuses;    // with a row: the statuses of its task for which it is enabled
    bool needsIntranet;     // and only for a task in Personal Intranet Mode
    bool needsNoDownload;   // and only while no task is downloading
};

// Every command in menu order with its caption, hint, shortcut, button and enabling.
const std::vector<TTaskCommandInfo>& TaskCommands();
const TTaskCommandInfo& TaskCommandInfo(TTaskCommand command);

// Whether the command is enabled with this task selected (null: no row selected) while a task
// is (or is not) downloading. The menu items, the pop-up menu and the buttons all read it.
bool TaskCommandEnabled(TTaskCommand command, const TPXTask* selected, bool taskDownloading);

// The list's columns, in order.
enum TTaskColumn : int {
    kColumnTaskName,
    kColumnStartPageTitle,
    kColumnStatus,
    kColumnSchedule,
    kColumnLastRun,
    kColumnNextRun,
    kColumnPages,
    kColumnResources,
    kColumnErrors,
    kColumnStartingURL,
    kColumnDestination,
    kColumnDownloadMethod,
    kTaskColumnCount,
};

struct TTaskColumnInfo {
    const char* caption;
    int width; // pixels; 0: the default width
};

const std::array<TTaskColumnInfo, kTaskColumnCount>& TaskColumns();
std::string TaskCellText(const TPXTask& task, int column);
// A date-time as the list shows it ("YYYY-MM-DD HH:MM:SS"); empty when not later than 0.
std::string TaskDateTimeText(TDateTime value);

// State images: 0 run sign, 1 stop sign (downloading), 2 clock (scheduled).
enum TTaskStateImage : int { kImageRun = 0, kImageStop = 1, kImageClock = 2 };
int TaskStateImage(const TPXTask& task);
// "Run", "Stop", "Scheduled".
std::string StateImageHint(int image);

struct TRgb {
    int red = 0;
    int green = 0;
    int blue = 0;
    bool operator==(const TRgb&) const = default;
};
// Olive while downloading; grey for 0, 1, 3 and 4; navy for 5 and above.
TRgb TaskTextColour(const TPXTask& task);

// The hint over a row's caption: name, address and destination, and with an elapsed time the
// counters of the run.
std::string TaskSummary(const TPXTask& task);

// Where the start page of the task's offline copy lies: under the destination folder in
// Personal Intranet Mode, under the temp folder (where the Zip is extracted for browsing)
// otherwise.
std::string LocalStartPage(const TPXApp& app, const TPXTask& task);
// The entry of the start page inside a Zip-mode task's Zip file ("host/index.htm").
std::string StartPageEntry(const TPXTask& task);
// The start page under the task's destination folder (the Copy command's local address).
std::string LocalStartPageInDestination(const TPXTask& task);

struct TOfflinePage {
    bool ok = false;
    bool missingZip = false; // zip mode: the task has not run, or its Zip file is gone
    std::string path;        // the local start page
    std::string message;     // why the copy could not be made ready
};

// Makes the offline copy of the task ready for a browser: a Zip-mode task's Zip is extracted
// into the temp folder (entries that would leave it are refused).
TOfflinePage PrepareOfflinePage(const TPXApp& app, const TPXTask& task);

struct TTaskCommandResult {
    bool ok = true;
    std::string message; // the error to show when !ok
};

// What the rows of a view do, around each change: the window's model follows them.
class ITaskListObserver {
public:
    virtual ~ITaskListObserver() = default;
    virtual void OnRowsAboutToReset() {}
    virtual void OnRowsReset() {}
    virtual void OnRowAboutToBeAdded(std::size_t /*row*/) {}
    virtual void OnRowAdded(std::size_t /*row*/) {}
    virtual void OnRowAboutToBeRemoved(std::size_t /*row*/) {}
    virtual void OnRowRemoved(std::size_t /*row*/) {}
    // A task of a row was saved (its texts may have changed).
    virtual void OnRowChanged(std::size_t /*row*/) {}
};

// Owner thread only. A category view holds its own task objects, loaded from the category's
// folder, except for tasks that are live already (on the active-task list, or the runner's
// current task): those rows show the live object, so that a task is never loaded twice and a run
// is never shown, scheduled or started from a stale copy. Released rows keep the active-task
// list's objects alive.
class TTaskList final {
public:
    using TTrashEvent = std::function<bool(const std::string& path, std::string* error)>;
    // The run dialog: the run mode chosen for a task that has run before; nothing: cancelled.
    using TChooseRunModeEvent = std::function<std::optional<int>(TPXTask& task)>;

    explicit TTaskList(TPXApp& app);
    ~TTaskList();
    TTaskList(const TTaskList&) = delete;
    TTaskList& operator=(const TTaskList&) = delete;

    TPXApp& App() { return m_app; }
    void SetObserver(ITaskListObserver* observer) { m_observer = observer; }

    // Hooks, each optional.
    std::function<void(TPXTask&)> OnStopTask;                  // the runner's stop task
    std::function<std::shared_ptr<TPXTask>()> OnCurrentTask;   // the runner's current task
    std::function<void(TPXTask&)> OnReleaseCurrent;            // make no task current
    std::function<void()> OnScheduled;                         // a task was made due: wake the scheduler

    // "Active Tasks", then the sub-folders of the tasks folder in alphabetical order. The
    // default category's folder is created when missing.
    std::vector<std::string> Categories() const;
    // The view shown: "Active Tasks" or a category name.
    const std::string& Category() const { return m_category; }
    bool ShowsActiveTasks() const;
    // Tasks folder + category + "/"; the default category for an empty name.
    std::string FolderOf(const std::string& category) const;

    // At start-up: "ActiveTasks.lst" is read into the application's active-task list and each
    // task loaded. A task found in status 2 to 5 (a run that cannot be going on now) becomes
    // "Incomplete" with its schedule cleared and is saved, which takes it off the list; entries
    // whose task is not scheduled (its file is gone, or was changed elsewhere) go too. Every entry
    // is visited once. Returns how many tasks were made "Incomplete".
    int LoadActiveTasks();
    // Shows a view: "Active Tasks" or a category (loading its "*.pxt" files; a task found in
    // status 3 or 5 becomes "Incomplete" and is saved).
    void ShowCategory(const std::string& category);
    // The category box was changed: a category also becomes the last category; the empty text
    // makes the default the last category without reloading.
    void ChooseCategory(const std::string& category);

    std::size_t Count() const { return m_rows.size(); }
    const std::shared_ptr<TPXTask>& Task(std::size_t row) const { return m_rows.at(row).task; }
    std::optional<std::size_t> RowOf(const TPXTask& task) const;

    // A row's task has status 2 or 5.
    bool AnyTaskRunning() const;
    // The first task with status 2 or 5 in the rows after the given task's row (from the top when
    // none is given).
    std::shared_ptr<TPXTask> NextRunningTask(const TPXTask* after = nullptr) const;
    // The first row whose task has status 1 and is due: "Now", or a next run not later than now.
    // Tasks whose start was refused wait until they are saved again.
    std::shared_ptr<TPXTask> FindDueTask(TDateTime now) const;
    void MarkRefused(const TPXTask& task);

    // Shows a task in the list: its saves refresh its row; saved first when save is set (a task
    // created by the runner was saved already). Its row is added when the task belongs to the
    // view shown and has none yet.
    TTaskCommandResult AddTask(const std::shared_ptr<TPXTask>& task, bool save = true);
    // The task's on-saved notification: refreshes its row.
    void TaskChanged(TPXTask& task);
    // Gives a task this list's on-saved notification (a task loaded outside the list).
    void Adopt(TPXTask& task);

    // Whether the task has run before: its list in memory or its list file holds an address.
    static bool HasRunBefore(TPXTask& task);
    // Status 1, schedule "Now", saved; a task that has run before first has its run mode chosen
    // (chooser; nothing or no chooser cancels). A task that is busy (2, 5) is left alone.
    // cancelled is set when the chooser cancelled.
    TTaskCommandResult Run(TPXTask& task, const TChooseRunModeEvent& chooser, bool* cancelled = nullptr);
    // Every given task with status 2 is stopped through OnStopTask.
    void Stop(const std::vector<std::shared_ptr<TPXTask>>& tasks);
    // A click on a row's state image: run sign runs, stop sign stops, the clock does nothing.
    void StateImageClicked(std::size_t row, const TChooseRunModeEvent& chooser);
    // The schedule dialog wrote its text and next run into the task: status 1, saved.
    TTaskCommandResult Schedule(TPXTask& task);
    // Status 0, no schedule, no next run; saved. Busy tasks are left alone.
    TTaskCommandResult Unschedule(TPXTask& task);
    // Each task's download list file and then its task file (each if it exists) go to the
    // trash; then the task leaves the active-task list and the rows (the current task is let go
    // first). A busy task is skipped. The first file that cannot be trashed ends the command and
    // keeps that task and its row; the message says why.
    TTaskCommandResult Delete(const std::vector<std::shared_ptr<TPXTask>>& tasks, const TTrashEvent& trash);
    // In-place rename; a busy task keeps its name.
    TTaskCommandResult Rename(TPXTask& task, const std::string& newName);

private:
    struct TRow {
        std::shared_ptr<TPXTask> task;
        bool refused = false;
    };

    void ClearRows();
    void AppendRow(std::shared_ptr<TPXTask> task);
    bool BelongsToView(const TPXTask& task) const;
    // An object already live for this task file (active-task list or the current task).
    std::shared_ptr<TPXTask> LiveTask(const std::string& taskFile) const;
    std::shared_ptr<TPXTask> MakeTask(const std::string& taskFile);
    TTaskCommandResult SaveTask(TPXTask& task);

    TPXApp& m_app;
    ITaskListObserver* m_observer = nullptr;
    std::string m_category;
    std::vector<TRow> m_rows;
    std::shared_ptr<bool> m_alive; // the tasks' on-saved notifications check it
};

} // namespace pellix
