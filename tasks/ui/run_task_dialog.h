// TdlgRunTask: asks how a task that has run before runs again (restart, resume, update, recovery),
// over a summary of what its previous run achieved.
#pragma once

#include <QDialog>

#include "engine/task.h"
#include "tasks/run_task_choice.h"

class QLabel;
class QPushButton;
class QRadioButton;
class QTableWidget;

namespace pellix {

class TdlgRunTask final : public QDialog {
    Q_OBJECT
public:
    explicit TdlgRunTask(const TPXTask& task, QWidget* parent = nullptr);
    ~TdlgRunTask() override;

    // The checked mode; read after "&Run".
    TRunMode SelectedMode() const;
    const TRunTaskChoice& Choice() const { return m_choice; }

    QRadioButton* rbRestart = nullptr;
    QRadioButton* rbResume = nullptr;
    QRadioButton* rbSmartUpdate = nullptr;
    QRadioButton* rbSmartRecovery = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* lblDesc = nullptr;
    QTableWidget* lvSummary = nullptr;
    QPushButton* btnRun = nullptr;
    QPushButton* btnCancel = nullptr;

private:
    QRadioButton* Button(TRunMode mode) const;
    void actShowDescriptionExecute();

    TRunTaskChoice m_choice;
};

} // namespace pellix
