// TScheduleDialog: when a task runs: once, every few hours and minutes, daily or on week days.
#pragma once

#include <QDialog>

namespace pellix {

class TPXTask;

class TScheduleDialog final : public QDialog {
    Q_OBJECT
public:
    // OK writes the chosen schedule into the task (the caller saves it).
    explicit TScheduleDialog(TPXTask& task, QWidget* parent = nullptr);
    ~TScheduleDialog() override;

private:
    TPXTask& m_task;
};

} // namespace pellix
