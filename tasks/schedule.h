// Schedules: the schedule texts of a task, the next-run computations and RescheduleTask.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "links/date_time.h"

namespace pellix {

class TPXTask;

// Weekday flags indexed 0 = Sunday ... 6 = Saturday.
using TWeekDays = std::array<bool, 7>;

// What a schedule text starts with (case-sensitive).
enum class TScheduleKind { None, Now, Once, Every, Daily, Weekly };

inline constexpr const char* kScheduleNow = "Now";

// Dates and times in schedule texts use one fixed, locale-independent form, so that a text
// reads the same on every machine: the date "YYYY-MM-DD", the time "HH:MM:SS" (24-hour clock),
// and the task editor's short time "HH:MM".
std::string ScheduleDateText(TDateTime value);
std::string ScheduleTimeText(TDateTime value);
std::string ScheduleShortTimeText(TDateTime value);

TScheduleKind ScheduleKindOf(std::string_view text);

// "Once at " + date + two blanks + time.
std::string OnceScheduleText(TDateTime when);
// "Every " + H + " hours, " + M + " mins", the numbers as given.
std::string EveryScheduleText(const std::string& hours, const std::string& minutes);
// "Daily at " + time.
std::string DailyScheduleText(TDateTime timeOfDay);
// The chosen days as "Mon, Wed, Sun": always Mon to Sun, Sunday last. Empty when none.
std::string WeekDaysText(const TWeekDays& days);
// "Weekly every " + days + " at " + time.
std::string WeeklyScheduleText(const TWeekDays& days, TDateTime timeOfDay);
// The task editor's "At:" form: date + one blank + short time (no keyword).
std::string EditorDateScheduleText(TDateTime when);

// Reading texts back: a day counts as chosen when its abbreviation occurs anywhere in the text.
TWeekDays WeekDaysFromText(std::string_view text);
// H between "Every " and " hours", M between "hours, " and " mins"; nothing when either is not
// an integer.
std::optional<std::array<int, 2>> IntervalFromText(std::string_view text);
// A whole decimal integer with optional blanks around and an optional sign.
std::optional<int> ScheduleNumber(std::string_view text);

// Next-run rules (now and the results are date-times).
// Interval: now + H hours + M minutes.
TDateTime NextIntervalRun(TDateTime now, int hours, int minutes);
// Daily: today at timeOfDay, or tomorrow when now's time of day is later (equal counts as today).
TDateTime NextDailyRun(TDateTime now, TDateTime timeOfDay);
// Weekly: the first day from today, at timeOfDay, that is chosen and not earlier than now;
// nothing when no day is chosen.
std::optional<TDateTime> NextWeeklyRun(TDateTime now, const TWeekDays& days, TDateTime timeOfDay);

// What the schedule dialog's controls hold.
struct TScheduleChoice {
    TScheduleKind kind = TScheduleKind::Once;
    TDateTime atDate = 0;        // Once: the date picker
    TDateTime atTime = 0;        // Once: the time picker (time of day)
    std::string hours = "0";     // Every: the edit boxes as typed
    std::string minutes = "0";
    TDateTime dailyAt = 0;       // Daily: time of day
    TDateTime weeklyAt = 0;      // Weekly: time of day
    TWeekDays days{};            // Weekly
};

// One recompute of the dialog.
struct TScheduleOutcome {
    bool ok = true;              // false: a number could not be read; labels stay as they were
    std::string error;           // the conversion error to show
    std::string hours;           // Every: the boxes after clamping (empty -> "0", > 23 -> "23",
    std::string minutes;         //   >= 60 -> "59", negative -> "0")
    std::string scheduleText;
    std::string scheduleLabel;   // lblSchedule
    std::optional<TDateTime> nextRun; // nothing: keep the previous value (weekly without a day)
    std::string nextRunLabel;    // lblNextRun; empty when nextRun is empty
    std::string days;            // Weekly: the chosen-days string, checked by OK
};

TScheduleOutcome ComputeSchedule(const TScheduleChoice& choice, TDateTime now);

// The warning when a weekly schedule is confirmed without a day.
inline constexpr const char* kNoWeekDayMessage = "A least one day must be selected for a weekly schedule.";

struct TRescheduleResult {
    bool ok = true;
    bool changed = false;  // the task was changed and saved
    std::string error;     // an interval whose numbers cannot be read
};

// After a run of the task ended (completed or stopped), by its schedule text:
// "Now" clears the text and the next run; "Once" changes nothing; "Every" counts the interval
// from now; "Daily" and "Weekly" move the stored next run forward by whole days to the first
// occurrence not earlier than now (missed ones are skipped); those three set status 1. A changed
// task is saved. Any other text changes nothing.
TRescheduleResult RescheduleTask(TPXTask& task, TDateTime now);

} // namespace pellix
