// The schedule dialog: the schedule text, its label and the next run for each kind, the clamping
// of the interval boxes, the weekly check of OK, and what OK writes into a task.
#include <QCheckBox>
#include <QDateEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimeEdit>

#include <functional>

#include "engine/task.h"
#include "links/date_time.h"
#include "tasks/schedule.h"
#include "tasks/ui/schedule_dialog.h"

using namespace pellix;

namespace {

// Thursday 2026-12-10, 10:00:00 (a function: the date-time helpers are not ready during static
// initialisation).
TDateTime TestNow() { return EncodeDateTime(2026, 12, 10, 10, 0, 0); }

} // namespace

class TScheduleDialogTest : public QObject {
    Q_OBJECT
private:
    std::vector<QString> m_boxes;

    std::unique_ptr<TScheduleDialog> Dialog(TPXTask* task = nullptr)
    {
        auto dialog = task ? std::make_unique<TScheduleDialog>(*task) : std::make_unique<TScheduleDialog>();
        dialog->SetClock([] { return TestNow(); });
        dialog->SetMessageHandler([this](QWidget*, QMessageBox::Icon, const QString& text, QMessageBox::StandardButtons) {
            m_boxes.push_back(text);
            return QMessageBox::Ok;
        });
        dialog->show();
        return dialog;
    }

private slots:
    void init() { m_boxes.clear(); }

    void TextsForEachKind()
    {
        struct TCase {
            const char* kind;
            std::function<void(TScheduleDialog&)> set;
            std::string text;
            QString label;
            QString nextRun;
        };
        const TCase cases[] = {
            {"once, as opened", [](TScheduleDialog&) {}, "Once at 2026-12-10  10:00:00",
             " Run once at 2026-12-10  10:00:00", " Next Run: 2026-12-10  10:00:00"},
            {"once, picked",
             [](TScheduleDialog& d) {
                 d.dtAtDate->setDate(QDate(2027, 1, 2));
                 d.dtAtTime->setTime(QTime(7, 5, 9));
             },
             "Once at 2027-01-02  07:05:09", " Run once at 2027-01-02  07:05:09", " Next Run: 2027-01-02  07:05:09"},
            {"every, clamped",
             [](TScheduleDialog& d) {
                 d.edHours->setValue(24);
                 d.edMins->setValue(60);
             },
             "Every 23 hours, 59 mins", " Run every 23 hours, 59 mins", " Next Run: 2026-12-11  09:59:00"},
            {"every, nothing typed", [](TScheduleDialog& d) { d.rbEvery->click(); }, "Every 0 hours, 0 mins",
             " Run every 0 hours, 0 mins", " Next Run: 2026-12-10  10:00:00"},
            {"daily, passed today", [](TScheduleDialog& d) { d.dtDailyAt->setTime(QTime(9, 59, 59)); },
             "Daily at 09:59:59", " Run daily at 09:59:59", " Next Run: 2026-12-11  09:59:59"},
            {"daily, now is today",
             [](TScheduleDialog& d) {
                 d.dtDailyAt->setTime(QTime(1, 0, 0));
                 d.dtDailyAt->setTime(QTime(10, 0, 0));
             },
             "Daily at 10:00:00", " Run daily at 10:00:00", " Next Run: 2026-12-10  10:00:00"},
            {"weekly, Sunday last",
             [](TScheduleDialog& d) {
                 d.dtWeeklyAt->setTime(QTime(8, 0, 0));
                 d.cbDays[0]->click(); // Sun
                 d.cbDays[1]->click(); // Mon
             },
             "Weekly every Mon, Sun at 08:00:00", " Run every Mon, Sun of every week at 08:00:00",
             " Next Run: 2026-12-13  08:00:00"},
            {"weekly, today passed",
             [](TScheduleDialog& d) {
                 d.cbDays[4]->click(); // Thu
                 d.dtWeeklyAt->setTime(QTime(9, 0, 0));
             },
             "Weekly every Thu at 09:00:00", " Run every Thu of every week at 09:00:00",
             " Next Run: 2026-12-17  09:00:00"},
        };
        for (const TCase& c : cases) {
            auto dialog = Dialog();
            QCOMPARE(dialog->windowTitle(), QString("Schedule Task"));
            c.set(*dialog);
            QCOMPARE(QString::fromStdString(dialog->ScheduleText()), QString::fromStdString(c.text));
            QCOMPARE(dialog->ScheduleLabel(), c.label);
            QCOMPARE(dialog->NextRunLabel(), c.nextRun);
        }
    }

    // A weekly schedule needs a day: OK warns and stays; the next run keeps its last value.
    void WeeklyWithoutADayIsRefused()
    {
        auto dialog = Dialog();
        const TDateTime before = dialog->NextRun();
        dialog->rbWeekly->click();
        QCOMPARE(dialog->NextRunLabel(), QString(" Next Run: 2026-12-10  10:00:00"));
        QCOMPARE(dialog->NextRun(), before);
        dialog->findChild<QPushButton*>("btnOK")->click();
        QCOMPARE(m_boxes, std::vector<QString>{kNoWeekDayMessage});
        QVERIFY(dialog->isVisible());
        dialog->cbDays[5]->click();
        dialog->findChild<QPushButton*>("btnOK")->click();
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
    }

    // OK stores the text and next run of the last recompute and schedules the task; Cancel leaves it.
    void OkWritesTheTask()
    {
        TPXTask task;
        auto dialog = Dialog(&task);
        dialog->dtDailyAt->setTime(QTime(22, 30, 0));
        dialog->findChild<QPushButton*>("btnCancel")->click();
        QCOMPARE(task.Schedule(), std::string());
        QCOMPARE(task.Status(), int(kStatusUnscheduled));

        dialog = Dialog(&task);
        dialog->dtDailyAt->setTime(QTime(22, 30, 0));
        dialog->findChild<QPushButton*>("btnOK")->click();
        QCOMPARE(task.Schedule(), std::string("Daily at 22:30:00"));
        QCOMPARE(task.NextRun(), EncodeDateTime(2026, 12, 10, 22, 30, 0));
        QCOMPARE(task.Status(), int(kStatusScheduled));
    }
};

QTEST_MAIN(TScheduleDialogTest)
#include "schedule_dialog_test.moc"
