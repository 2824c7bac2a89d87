#include "tasks/ui/task_editor.h"

#include "engine/task.h"
#include "workspace/session.h"

namespace pellix {

TTaskEditor::TTaskEditor(TSession& session, std::shared_ptr<TPXTask> task, TTaskEditorCaption caption,
                         QWidget* parent)
    : QDialog(parent), m_session(session), m_task(std::move(task)), m_caption(caption) {
    switch (m_caption) {
    case TTaskEditorCaption::Edit: setWindowTitle("Edit Task"); break;
    case TTaskEditorCaption::Add: setWindowTitle("Add a Task"); break;
    case TTaskEditorCaption::Create: setWindowTitle("Create New Task"); break;
    }
}

TTaskEditor::~TTaskEditor() = default;

} // namespace pellix
