// TScheduleDialog: when a task runs: once, every few hours and minutes, daily or on week days.
#pragma once

#include <QDialog>

#include <array>
#include <functional>
#include <string>

#include "links/date_time.h"
#include "tasks/ui/message_box.h"

class QCheckBox;
class QDateEdit;
class QLabel;
class QRadioButton;
class QSpinBox;
class QTimeEdit;

namespace pellix {

class TPXTask;

class TScheduleDialog final : public QDialog {
    Q_OBJECT
public:
    // OK writes the chosen schedule into the task (the caller saves it).
    explicit TScheduleDialog(TPXTask& task, QWidget* parent = nullptr);
    // Without a task: the caller reads the results (the task editor takes the once-off date).
    explicit TScheduleDialog(QWidget* parent = nullptr);
    ~TScheduleDialog() override;

    // The results of the last recompute.
    const std::string& ScheduleText() const { return m_scheduleText; }
    TDateTime NextRun() const { return m_nextRun; }
    const std::string& Days() const { return m_days; }
    // The once-off pickers: date plus time.
    TDateTime OnceAt() const;

    QString ScheduleLabel() const;
    QString NextRunLabel() const;

    // Where "now" comes from (tests pin it); the pickers are set from it when the dialog shows.
    void SetClock(std::function<TDateTime()> clock) { m_clock = std::move(clock); }
    void SetMessageHandler(TMessageHandler handler) { m_messages = std::move(handler); }

    QRadioButton* rbAt = nullptr;
    QDateEdit* dtAtDate = nullptr;
    QTimeEdit* dtAtTime = nullptr;
    QRadioButton* rbEvery = nullptr;
    QSpinBox* edHours = nullptr;
    QSpinBox* edMins = nullptr;
    QRadioButton* rbDaily = nullptr;
    QTimeEdit* dtDailyAt = nullptr;
    QRadioButton* rbWeekly = nullptr;
    QTimeEdit* dtWeeklyAt = nullptr;
    std::array<QCheckBox*, 7> cbDays{}; // indexed 0 = Sunday ... 6 = Saturday

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Build();
    void Recompute();
    void AtChange();
    void EveryChange();
    void DailyChange();
    void WeeklyChange();
    void btnOKClick();
    TDateTime CurrentTime() const;

    TPXTask* m_task = nullptr;
    QLabel* m_lblSchedule = nullptr;
    QLabel* m_lblNextRun = nullptr;
    std::string m_scheduleText;
    TDateTime m_nextRun = 0;
    std::string m_days;
    bool m_updating = false;
    std::function<TDateTime()> m_clock;
    TMessageHandler m_messages;
};

// Conversions between the pickers and date-times.
TDateTime ToDateTime(const QDate& date);
TDateTime ToTimeOfDay(const QTime& time);
QDate ToQDate(TDateTime value);
QTime ToQTime(TDateTime value);

} // namespace pellix
