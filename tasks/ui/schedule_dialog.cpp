#include "tasks/ui/schedule_dialog.h"

#include "engine/task.h"

namespace pellix {

TScheduleDialog::TScheduleDialog(TPXTask& task, QWidget* parent) : QDialog(parent), m_task(task) {}

TScheduleDialog::~TScheduleDialog() = default;

} // namespace pellix
