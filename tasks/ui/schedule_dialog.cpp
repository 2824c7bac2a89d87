#include "tasks/ui/schedule_dialog.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "engine/task.h"
#include "tasks/schedule.h"

namespace pellix {
namespace {

// The weekday boxes in the order they are shown, with their day index (0 = Sunday).
constexpr std::array<std::pair<const char*, int>, 7> kDayBoxes{{
    {"Mon", 1}, {"Tue", 2}, {"Wed", 3}, {"Thu", 4}, {"Fri", 5}, {"Sat", 6}, {"Sun", 0},
}};

} // namespace

TDateTime ToDateTime(const QDate& date) { return EncodeDate(date.year(), date.month(), date.day()); }

TDateTime ToTimeOfDay(const QTime& time) { return EncodeTime(time.hour(), time.minute(), time.second()); }

QDate ToQDate(TDateTime value)
{
    const TDateTimeParts parts = DecodeDateTime(value);
    return QDate(parts.year, parts.month, parts.day);
}

QTime ToQTime(TDateTime value)
{
    const TDateTimeParts parts = DecodeDateTime(value);
    return QTime(parts.hour, parts.minute, parts.second);
}

TScheduleDialog::TScheduleDialog(TPXTask& task, QWidget* parent) : QDialog(parent), m_task(&task) { Build(); }

TScheduleDialog::TScheduleDialog(QWidget* parent) : QDialog(parent) { Build(); }

TScheduleDialog::~TScheduleDialog() = default;

void TScheduleDialog::Build()
{
    setWindowTitle("Schedule Task");
    auto named = [](QWidget* w, const char* object, const QString& accessible) {
        w->setObjectName(object);
        w->setAccessibleName(accessible);
    };

    auto* once = new QGroupBox("Schedule (Once-off): ", this);
    rbAt = new QRadioButton("At", once);
    named(rbAt, "rbAt", "At");
    dtAtDate = new QDateEdit(once);
    named(dtAtDate, "dtAtDate", "Date");
    dtAtDate->setCalendarPopup(true);
    dtAtDate->setDisplayFormat("yyyy-MM-dd");
    dtAtTime = new QTimeEdit(once);
    named(dtAtTime, "dtAtTime", "Time");
    dtAtTime->setDisplayFormat("HH:mm:ss");
    auto* onceRow = new QHBoxLayout(once);
    onceRow->addWidget(rbAt);
    onceRow->addWidget(dtAtDate);
    onceRow->addWidget(dtAtTime);
    onceRow->addStretch();

    auto* recurring = new QGroupBox("Schedule (recurring): ", this);
    auto* grid = new QGridLayout(recurring);
    rbEvery = new QRadioButton("Every", recurring);
    named(rbEvery, "rbEvery", "Every");
    edHours = new QSpinBox(recurring);
    named(edHours, "edHours", "Hours");
    edMins = new QSpinBox(recurring);
    named(edMins, "edMins", "Minutes");
    for (QSpinBox* box : {edHours, edMins}) {
        box->setRange(0, 999);
        box->setValue(0);
    }
    auto* everyRow = new QHBoxLayout;
    everyRow->addWidget(edHours);
    everyRow->addWidget(new QLabel("Hours", recurring));
    everyRow->addWidget(edMins);
    everyRow->addWidget(new QLabel("Minutes", recurring));
    everyRow->addStretch();
    grid->addWidget(rbEvery, 0, 0);
    grid->addLayout(everyRow, 0, 1);

    rbDaily = new QRadioButton("Daily at", recurring);
    named(rbDaily, "rbDaily", "Daily at");
    dtDailyAt = new QTimeEdit(recurring);
    named(dtDailyAt, "dtDailyAt", "Daily at");
    dtDailyAt->setDisplayFormat("HH:mm:ss");
    auto* dailyRow = new QHBoxLayout;
    dailyRow->addWidget(dtDailyAt);
    dailyRow->addStretch();
    grid->addWidget(rbDaily, 1, 0);
    grid->addLayout(dailyRow, 1, 1);

    rbWeekly = new QRadioButton("Weekly at", recurring);
    named(rbWeekly, "rbWeekly", "Weekly at");
    dtWeeklyAt = new QTimeEdit(recurring);
    named(dtWeeklyAt, "dtWeeklyAt", "Weekly at");
    dtWeeklyAt->setDisplayFormat("HH:mm:ss");
    auto* weeklyRow = new QHBoxLayout;
    weeklyRow->addWidget(dtWeeklyAt);
    weeklyRow->addWidget(new QLabel("on", recurring));
    for (const auto& [caption, day] : kDayBoxes) {
        auto* box = new QCheckBox(caption, recurring);
        named(box, (std::string("cb") + caption).c_str(), caption);
        cbDays[static_cast<std::size_t>(day)] = box;
        weeklyRow->addWidget(box);
    }
    weeklyRow->addStretch();
    grid->addWidget(rbWeekly, 2, 0);
    grid->addLayout(weeklyRow, 2, 1);

    m_lblSchedule = new QLabel("Schedule:", this);
    named(m_lblSchedule, "lblSchedule", "Schedule:");
    m_lblNextRun = new QLabel("Next Run:", this);
    named(m_lblNextRun, "lblNextRun", "Next Run:");

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton("&OK", QDialogButtonBox::AcceptRole);
    named(ok, "btnOK", "OK");
    ok->setDefault(true);
    QPushButton* cancel = buttons->addButton("&Cancel", QDialogButtonBox::RejectRole);
    named(cancel, "btnCancel", "Cancel");
    connect(ok, &QPushButton::clicked, this, &TScheduleDialog::btnOKClick);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(once);
    layout->addWidget(recurring);
    layout->addWidget(m_lblSchedule);
    layout->addWidget(m_lblNextRun);
    layout->addWidget(buttons);

    rbAt->setChecked(true);
    connect(rbAt, &QRadioButton::clicked, this, &TScheduleDialog::AtChange);
    connect(dtAtDate, &QDateEdit::dateChanged, this, &TScheduleDialog::AtChange);
    connect(dtAtTime, &QTimeEdit::timeChanged, this, &TScheduleDialog::AtChange);
    connect(rbEvery, &QRadioButton::clicked, this, &TScheduleDialog::EveryChange);
    connect(edHours, &QSpinBox::textChanged, this, &TScheduleDialog::EveryChange);
    connect(edMins, &QSpinBox::textChanged, this, &TScheduleDialog::EveryChange);
    connect(rbDaily, &QRadioButton::clicked, this, &TScheduleDialog::DailyChange);
    connect(dtDailyAt, &QTimeEdit::timeChanged, this, &TScheduleDialog::DailyChange);
    connect(rbWeekly, &QRadioButton::clicked, this, &TScheduleDialog::WeeklyChange);
    connect(dtWeeklyAt, &QTimeEdit::timeChanged, this, &TScheduleDialog::WeeklyChange);
    for (QCheckBox* box : cbDays)
        connect(box, &QCheckBox::clicked, this, &TScheduleDialog::WeeklyChange);
}

TDateTime TScheduleDialog::CurrentTime() const { return m_clock ? m_clock() : Now(); }

TDateTime TScheduleDialog::OnceAt() const { return ToDateTime(dtAtDate->date()) + ToTimeOfDay(dtAtTime->time()); }

QString TScheduleDialog::ScheduleLabel() const { return m_lblSchedule->text(); }

QString TScheduleDialog::NextRunLabel() const { return m_lblNextRun->text(); }

void TScheduleDialog::showEvent(QShowEvent* event)
{
    const TDateTime now = CurrentTime();
    m_updating = true;
    dtAtDate->setDate(ToQDate(now));
    dtAtTime->setTime(ToQTime(now));
    m_updating = false;
    Recompute();
    QDialog::showEvent(event);
}

void TScheduleDialog::AtChange()
{
    if (m_updating)
        return;
    rbAt->setChecked(true);
    Recompute();
}

void TScheduleDialog::EveryChange()
{
    if (m_updating)
        return;
    rbEvery->setChecked(true);
    Recompute();
}

void TScheduleDialog::DailyChange()
{
    if (m_updating)
        return;
    rbDaily->setChecked(true);
    Recompute();
}

void TScheduleDialog::WeeklyChange()
{
    if (m_updating)
        return;
    rbWeekly->setChecked(true);
    Recompute();
}

void TScheduleDialog::Recompute()
{
    TScheduleChoice choice;
    if (rbEvery->isChecked())
        choice.kind = TScheduleKind::Every;
    else if (rbDaily->isChecked())
        choice.kind = TScheduleKind::Daily;
    else if (rbWeekly->isChecked())
        choice.kind = TScheduleKind::Weekly;
    choice.atDate = ToDateTime(dtAtDate->date());
    choice.atTime = ToTimeOfDay(dtAtTime->time());
    choice.hours = edHours->cleanText().toStdString();
    choice.minutes = edMins->cleanText().toStdString();
    choice.dailyAt = ToTimeOfDay(dtDailyAt->time());
    choice.weeklyAt = ToTimeOfDay(dtWeeklyAt->time());
    for (std::size_t day = 0; day < 7; ++day)
        choice.days[day] = cbDays[day]->isChecked();

    const TScheduleOutcome out = ComputeSchedule(choice, CurrentTime());
    if (!out.ok) {
        ShowMessage(m_messages, this, QMessageBox::Critical, QString::fromStdString(out.error));
        return;
    }
    if (choice.kind == TScheduleKind::Every) {
        // The boxes show the clamped numbers.
        m_updating = true;
        if (out.hours != choice.hours)
            edHours->setValue(std::stoi(out.hours));
        if (out.minutes != choice.minutes)
            edMins->setValue(std::stoi(out.minutes));
        m_updating = false;
    }
    m_scheduleText = out.scheduleText;
    m_days = out.days;
    m_lblSchedule->setText(QString::fromStdString(out.scheduleLabel));
    if (out.nextRun) {
        m_nextRun = *out.nextRun;
        m_lblNextRun->setText(QString::fromStdString(out.nextRunLabel));
    }
}

void TScheduleDialog::btnOKClick()
{
    if (rbWeekly->isChecked() && m_days.empty()) {
        ShowMessage(m_messages, this, QMessageBox::Warning, kNoWeekDayMessage);
        return;
    }
    if (m_task) {
        m_task->SetSchedule(m_scheduleText);
        m_task->SetNextRun(m_nextRun);
        m_task->SetStatus(kStatusScheduled);
    }
    accept();
}

} // namespace pellix
