// TTaskListView: the Tasks view: the categories, the task list of the chosen category, its Task
// menu and pop-up menu, and the error report.
#pragma once

#include <QWidget>

#include <memory>

class QMenu;

namespace pellix {

class TPXTask;
class TSession;

class TTaskListView final : public QWidget {
    Q_OBJECT
public:
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

signals:
    // Task > Explore: the main window switches to the Explore view.
    void ExploreRequested();

private:
    TSession& m_session;
    QMenu* m_taskMenu = nullptr;
};

} // namespace pellix
