// TTaskEditor: the modal dialog in which a task is created or changed, in its three captions.
#pragma once

#include <QDialog>

#include <memory>

namespace pellix {

class TPXTask;
class TSession;

// Which caller opened the editor; it decides the caption and a few rules.
enum class TTaskEditorCaption {
    Edit,   // "Edit Task": the task list's Edit command
    Add,    // "Add a Task": a task file opened into the task list
    Create, // "Create New Task": a task created from an address
};

class TTaskEditor final : public QDialog {
    Q_OBJECT
public:
    TTaskEditor(TSession& session, std::shared_ptr<TPXTask> task, TTaskEditorCaption caption,
                QWidget* parent = nullptr);
    ~TTaskEditor() override;

    // After OK with the caption "Add a Task": an existing task file of the same name was replaced.
    bool ReplacedExisting() const { return m_replacedExisting; }

private:
    TSession& m_session;
    std::shared_ptr<TPXTask> m_task;
    TTaskEditorCaption m_caption;
    bool m_replacedExisting = false;
};

} // namespace pellix
