// TTaskListView: the Tasks view: the categories, the task list of the chosen category, its Task
// menu and pop-up menu, and the error report.
#pragma once

#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tasks/task_list.h"
#include "workspace/session_observer.h"
#include "workspace/url_launcher.h"

class QAction;
class QComboBox;
class QMenu;
class QModelIndex;
class QPushButton;
class QTreeView;

namespace pellix {

class TPXTask;
class TSession;
class TTaskListModel;

// Thin: what is enabled, the texts and every operation come from TTaskList; the view shows them,
// asks the user and opens the dialogs. Dialogs are opened from the view's own slots or posted,
// never inside a core event.
class TTaskListView final : public QWidget, private ISessionObserver {
    Q_OBJECT
public:
    using TConfirmEvent = std::function<bool(const QString& text)>;
    using TInformEvent = std::function<void(const QString& text)>;

    explicit TTaskListView(TSession& session, QWidget* parent = nullptr);
    ~TTaskListView() override;

    // The Task menu (the main window puts it into its menu bar; enabling is applied each time
    // it opens). Owned by the view.
    QMenu* TaskMenu();
    // Shows a created task (already scheduled and saved by the runner) in its category.
    void AddTask(const std::shared_ptr<TPXTask>& task);
    // A task file opened into the list: the task editor captioned "Add a Task".
    void AddTaskFromFile(const QString& path);
    // A task whose status is "Downloading..." or "Download Complete".
    bool AnyTaskRunning() const;
    // Stops the first running task from the top, if any.
    void StopFirstRunningTask();

    // The core list the view shows, and the rows' model.
    TTaskList& List() { return *m_list; }
    TTaskListModel& Model() { return *m_model; }
    QTreeView& TaskView() { return *m_tasks; }
    QComboBox& CategoryBox() { return *m_category; }
    // The pop-up menu of the list (the Task menu with "Error Report" in its Browse sub-menu).
    QMenu* PopupMenu() { return m_popup; }
    QAction* Action(TTaskCommand command) const;
    QPushButton* Button(TTaskCommand command) const;
    QAction* ErrorReportAction() const { return m_errorReport; }
    // Sets the enabled states of the commands from the focused row (also done when a menu opens).
    void UpdateTaskCommands();

    // Where deleted files go (the desktop's trash unless replaced), and the message boxes (tests
    // answer them).
    void SetTrash(TTaskList::TTrashEvent trash) { m_trash = std::move(trash); }
    void SetConfirm(TConfirmEvent confirm) { m_confirm = std::move(confirm); }
    void SetInform(TInformEvent inform) { m_inform = std::move(inform); }
    void SetError(TInformEvent error) { m_error = std::move(error); }
    // Answers the run dialog instead of showing it (tests).
    void SetRunModeChooser(TTaskList::TChooseRunModeEvent chooser) { m_runModeChooser = std::move(chooser); }

    // Runs a task as the Run command does: the run dialog first when it has run before, then
    // scheduled to start now (the status panel's Run button comes here too).
    void RunTask(TPXTask& task);

signals:
    // Task > Explore: the main window switches to the Explore view.
    void ExploreRequested();
    // Task > New: the main window's new-task command.
    void NewTaskRequested();
    // Browse > Integrated Browser: offline, the start page inside the task's Zip file (an
    // intranet task's page is a local address); online, the task's address.
    void BrowseZipEntryRequested(const QString& zipPath, const QString& entry);
    void BrowseAddressRequested(const QString& address);

private:
    // ISessionObserver (owner thread).
    void OnTaskAdded(TPXTask& task) override;
    void OnTaskChanged(TPXTask& task) override;
    void OnTaskCompleted(TPXTask& task, const std::string& report) override;

    void CreateActions();
    void FillMenu(QMenu* menu, bool popup);
    void FillCategories();
    void ShowCategory(const QString& category);
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool OnStateImage(const QModelIndex& index, const QPoint& viewportPos) const;

    std::shared_ptr<TPXTask> FocusedTask() const;
    std::vector<std::shared_ptr<TPXTask>> SelectedTasks() const;
    std::optional<int> ChooseRunMode(TPXTask& task);

    // Handlers.
    void pmiNewClick();
    void pmiEditClick();
    void pmiDeleteClick();
    void pmiRunClick();
    void pmiStopClick();
    void pmiScheduleClick();
    void pmiUnscheduleClick();
    void pmiCopyURLClick(bool local);
    void pmiExploreClick();
    // How a browse was asked for.
    enum class TBrowser { Default, Chromium, Firefox, Integrated };
    void Browse(bool online, TBrowser browser);
    void pmiErrorReportClick();
    void cmbCategoryChange(int index);
    void lvTasksDblClick(const QModelIndex& index);

    void Inform(const QString& text);
    void Error(const QString& text);
    bool Confirm(const QString& text);

    TSession& m_session;
    std::unique_ptr<TTaskList> m_list;
    TTaskListModel* m_model = nullptr;
    QTreeView* m_tasks = nullptr;
    QComboBox* m_category = nullptr;
    QMenu* m_taskMenu = nullptr;
    QMenu* m_popup = nullptr;
    std::map<TTaskCommand, QAction*> m_actions;
    std::map<TTaskCommand, QPushButton*> m_buttons;
    QAction* m_offline[3] = {};
    QAction* m_online[3] = {};
    QAction* m_errorReport = nullptr;
    std::vector<QMenu*> m_copyMenus;
    std::vector<QMenu*> m_browseMenus;
    std::string m_chromium;
    std::string m_firefox;
    TURLLauncher m_launcher;
    TTaskList::TTrashEvent m_trash;
    TConfirmEvent m_confirm;
    TInformEvent m_inform;
    TTaskList::TChooseRunModeEvent m_runModeChooser;
    TInformEvent m_error;
    bool m_fillingCategories = false;
};

} // namespace pellix
