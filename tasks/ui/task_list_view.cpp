#include "tasks/ui/task_list_view.h"

#include <QMenu>

#include "engine/task.h"
#include "workspace/session.h"

namespace pellix {

TTaskListView::TTaskListView(TSession& session, QWidget* parent) : QWidget(parent), m_session(session) {
    m_taskMenu = new QMenu(tr("&Task"), this);
}

TTaskListView::~TTaskListView() = default;

QMenu* TTaskListView::TaskMenu() { return m_taskMenu; }

void TTaskListView::AddTask(const std::shared_ptr<TPXTask>&) {}

void TTaskListView::AddTaskFromFile(const QString&) {}

bool TTaskListView::AnyTaskRunning() const { return false; }

void TTaskListView::StopFirstRunningTask() {}

} // namespace pellix
