// Tests for schedule texts, next-run rules and RescheduleTask.
#include "tasks/schedule.h"

#include <gtest/gtest.h>

#include "engine/task.h"
#include "tests/support/temp_folder.h"

namespace pellix {
namespace {

// 2024-05-15 is a Wednesday.
TDateTime At(int day, int hour, int minute, int second = 0)
{
    return EncodeDateTime(2024, 5, day, hour, minute, second);
}

TWeekDays Days(std::initializer_list<int> indexes)
{
    TWeekDays days{};
    for (int i : indexes)
        days[static_cast<std::size_t>(i)] = true;
    return days;
}

TEST(ScheduleTest, Texts)
{
    const TDateTime when = At(15, 9, 5, 7);
    EXPECT_EQ(OnceScheduleText(when), "Once at 2024-05-15  09:05:07");
    EXPECT_EQ(EveryScheduleText("3", "30"), "Every 3 hours, 30 mins");
    EXPECT_EQ(DailyScheduleText(EncodeTime(18, 0, 0)), "Daily at 18:00:00");
    // Mon and Sun: Sunday is written last.
    EXPECT_EQ(WeeklyScheduleText(Days({0, 1}), EncodeTime(7, 30, 0)), "Weekly every Mon, Sun at 07:30:00");
    EXPECT_EQ(WeekDaysText(Days({0, 1, 3})), "Mon, Wed, Sun");
    EXPECT_EQ(WeekDaysText(Days({})), "");
    EXPECT_EQ(EditorDateScheduleText(when), "2024-05-15 09:05");

    EXPECT_EQ(WeekDaysFromText("Weekly every Mon, Sun at 07:30:00"), Days({0, 1}));
    const auto interval = IntervalFromText("Every 23 hours, 59 mins");
    ASSERT_TRUE(interval);
    EXPECT_EQ((*interval)[0], 23);
    EXPECT_EQ((*interval)[1], 59);
    EXPECT_FALSE(IntervalFromText("Every x hours, 5 mins"));
}

TEST(ScheduleTest, DialogRecompute)
{
    const TDateTime now = At(15, 12, 0, 0); // Wednesday noon
    struct Case {
        const char* name;
        TScheduleChoice choice;
        std::string text;
        std::optional<TDateTime> next;
        std::string hours = "";
        std::string minutes = "";
    };
    TScheduleChoice every;
    every.kind = TScheduleKind::Every;
    auto everyWith = [&](std::string h, std::string m) {
        TScheduleChoice c = every;
        c.hours = std::move(h);
        c.minutes = std::move(m);
        return c;
    };
    TScheduleChoice daily;
    daily.kind = TScheduleKind::Daily;
    auto dailyAt = [&](TDateTime t) {
        TScheduleChoice c = daily;
        c.dailyAt = t;
        return c;
    };
    auto weeklyAt = [&](TWeekDays d, TDateTime t) {
        TScheduleChoice c;
        c.kind = TScheduleKind::Weekly;
        c.days = d;
        c.weeklyAt = t;
        return c;
    };
    TScheduleChoice once;
    once.atDate = EncodeDate(2024, 6, 1);
    once.atTime = EncodeTime(8, 15, 0);

    const Case cases[] = {
        {"once", once, "Once at 2024-06-01  08:15:00", EncodeDateTime(2024, 6, 1, 8, 15, 0)},
        {"every clamps 24 and 60", everyWith("24", "60"), "Every 23 hours, 59 mins", now + 23 / 24.0 + 59 / 1440.0,
         "23", "59"},
        {"every empty boxes", everyWith("", ""), "Every 0 hours, 0 mins", now, "0", "0"},
        {"every in range", everyWith("2", "5"), "Every 2 hours, 5 mins", now + 2 / 24.0 + 5 / 1440.0, "2", "5"},
        {"daily at now is today", dailyAt(EncodeTime(12, 0, 0)), "Daily at 12:00:00", At(15, 12, 0)},
        {"daily a second ago is tomorrow", dailyAt(EncodeTime(11, 59, 59)), "Daily at 11:59:59", At(16, 11, 59, 59)},
        {"weekly today later", weeklyAt(Days({3}), EncodeTime(18, 0, 0)), "Weekly every Wed at 18:00:00",
         At(15, 18, 0)},
        {"weekly today passed", weeklyAt(Days({3}), EncodeTime(8, 0, 0)), "Weekly every Wed at 08:00:00",
         At(22, 8, 0)},
        {"weekly next chosen day", weeklyAt(Days({0, 1}), EncodeTime(8, 0, 0)), "Weekly every Mon, Sun at 08:00:00",
         At(19, 8, 0)},
        {"weekly without a day", weeklyAt(Days({}), EncodeTime(8, 0, 0)), "Weekly every  at 08:00:00", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TScheduleOutcome out = ComputeSchedule(c.choice, now);
        ASSERT_TRUE(out.ok);
        EXPECT_EQ(out.scheduleText, c.text);
        ASSERT_EQ(out.nextRun.has_value(), c.next.has_value());
        if (c.next) {
            EXPECT_NEAR(*out.nextRun, *c.next, 1e-9);
            EXPECT_FALSE(out.nextRunLabel.empty());
        } else {
            EXPECT_TRUE(out.nextRunLabel.empty());
        }
        if (!c.hours.empty()) {
            EXPECT_EQ(out.hours, c.hours);
            EXPECT_EQ(out.minutes, c.minutes);
        }
    }

    const TScheduleOutcome bad = ComputeSchedule(everyWith("2x", "0"), now);
    EXPECT_FALSE(bad.ok);
    EXPECT_EQ(bad.error, "'2x' is not a valid integer value");
}

TEST(ScheduleTest, RescheduleTask)
{
    test::TTempFolder folder;
    const TDateTime now = At(15, 12, 0, 0); // Wednesday noon
    struct Case {
        const char* name;
        std::string schedule;
        TDateTime nextRun;
        TTaskStatus status;      // what the run left
        std::string wantSchedule;
        TDateTime wantNext;
        int wantStatus;
        bool ok = true;
    };
    const Case cases[] = {
        {"now is cleared", "Now", At(15, 11, 0), kStatusZipped, "", 0, kStatusZipped},
        {"once is not rescheduled", "Once at 2024-05-15  11:00:00", At(15, 11, 0), kStatusZipped,
         "Once at 2024-05-15  11:00:00", At(15, 11, 0), kStatusZipped},
        {"every counts from now", "Every 2 hours, 30 mins", At(15, 9, 0), kStatusZipped, "Every 2 hours, 30 mins",
         At(15, 14, 30), kStatusScheduled},
        {"daily missed three days", "Daily at 10:00:00", At(12, 10, 0), kStatusZipped, "Daily at 10:00:00",
         At(16, 10, 0), kStatusScheduled},
        {"daily later today", "Daily at 13:00:00", At(12, 13, 0), kStatusStopped, "Daily at 13:00:00", At(15, 13, 0),
         kStatusScheduled},
        // From Sunday 12th 08:00: Monday 13th has passed, Wednesday 15th 08:00 has passed too,
        // so the next chosen day is Monday 20th.
        {"weekly day order", "Weekly every Mon, Wed at 08:00:00", At(12, 8, 0), kStatusZipped,
         "Weekly every Mon, Wed at 08:00:00", At(20, 8, 0), kStatusScheduled},
        {"weekly later today", "Weekly every Wed, Sun at 18:00:00", At(12, 18, 0), kStatusZipped,
         "Weekly every Wed, Sun at 18:00:00", At(15, 18, 0), kStatusScheduled},
        {"every unreadable keeps the task", "Every many hours, 5 mins", At(15, 9, 0), kStatusZipped,
         "Every many hours, 5 mins", At(15, 9, 0), kStatusZipped, false},
        {"editor date form is left", "2024-05-15 11:00", At(15, 11, 0), kStatusZipped, "2024-05-15 11:00",
         At(15, 11, 0), kStatusZipped},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TPXTask task;
        task.SetTaskFile((folder.Path() / "Tasks" / "t.pxt").string());
        task.SetSchedule(c.schedule);
        task.SetNextRun(c.nextRun);
        task.SetStatus(c.status);
        const TRescheduleResult result = RescheduleTask(task, now);
        EXPECT_EQ(result.ok, c.ok);
        EXPECT_EQ(task.Schedule(), c.wantSchedule);
        EXPECT_NEAR(task.NextRun(), c.wantNext, 1e-9);
        EXPECT_EQ(task.Status(), c.wantStatus);
    }
}

} // namespace
} // namespace pellix
