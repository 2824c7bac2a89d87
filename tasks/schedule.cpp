// Schedules: the schedule texts of a task, the next-run computations and RescheduleTask.
#include "tasks/schedule.h"

#include <cmath>
#include <cstdio>

#include "engine/task.h"

namespace pellix {

namespace {

// Sunday first, as the weekday flags are indexed.
constexpr const char* kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
// The order in which chosen days are written: Monday first, Sunday last.
constexpr int kWrittenOrder[7] = {1, 2, 3, 4, 5, 6, 0};

std::string ConversionError(std::string_view text)
{
    return "'" + std::string(text) + "' is not a valid integer value";
}

// The text between start and end markers (exact comparison), or nothing.
std::optional<std::string_view> Between(std::string_view text, std::string_view start, std::string_view end)
{
    const std::size_t from = text.find(start);
    if (from == std::string_view::npos)
        return std::nullopt;
    const std::size_t begin = from + start.size();
    const std::size_t to = text.find(end, begin);
    if (to == std::string_view::npos)
        return std::nullopt;
    return text.substr(begin, to - begin);
}

int WeekDayIndex(TDateTime value) { return DayOfWeek(value) - 1; }

bool AnyDay(const TWeekDays& days)
{
    for (bool day : days)
        if (day)
            return true;
    return false;
}

// The first value of from + k days (k >= 0 whole) that is not earlier than now.
TDateTime SkipToNow(TDateTime from, TDateTime now)
{
    if (!(now > from))
        return from;
    double days = std::floor(now - from);
    TDateTime next = from + days;
    while (now > next)
        next += 1;
    return next;
}

} // namespace

std::string ScheduleDateText(TDateTime value)
{
    const TDateTimeParts p = DecodeDateTime(value);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", p.year, p.month, p.day);
    return text;
}

std::string ScheduleTimeText(TDateTime value)
{
    const TDateTimeParts p = DecodeDateTime(value);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", p.hour, p.minute, p.second);
    return text;
}

std::string ScheduleShortTimeText(TDateTime value)
{
    const TDateTimeParts p = DecodeDateTime(value);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d", p.hour, p.minute);
    return text;
}

TScheduleKind ScheduleKindOf(std::string_view text)
{
    if (text.starts_with("Now"))
        return TScheduleKind::Now;
    if (text.starts_with("Once"))
        return TScheduleKind::Once;
    if (text.starts_with("Every"))
        return TScheduleKind::Every;
    if (text.starts_with("Daily"))
        return TScheduleKind::Daily;
    if (text.starts_with("Weekly"))
        return TScheduleKind::Weekly;
    return TScheduleKind::None;
}

std::string OnceScheduleText(TDateTime when)
{
    return "Once at " + ScheduleDateText(when) + "  " + ScheduleTimeText(when);
}

std::string EveryScheduleText(const std::string& hours, const std::string& minutes)
{
    return "Every " + hours + " hours, " + minutes + " mins";
}

std::string DailyScheduleText(TDateTime timeOfDay)
{
    return "Daily at " + ScheduleTimeText(timeOfDay);
}

std::string WeekDaysText(const TWeekDays& days)
{
    std::string text;
    for (int index : kWrittenOrder) {
        if (!days[static_cast<std::size_t>(index)])
            continue;
        if (!text.empty())
            text += ", ";
        text += kDayNames[index];
    }
    return text;
}

std::string WeeklyScheduleText(const TWeekDays& days, TDateTime timeOfDay)
{
    return "Weekly every " + WeekDaysText(days) + " at " + ScheduleTimeText(timeOfDay);
}

std::string EditorDateScheduleText(TDateTime when)
{
    return ScheduleDateText(when) + " " + ScheduleShortTimeText(when);
}

TWeekDays WeekDaysFromText(std::string_view text)
{
    TWeekDays days{};
    for (std::size_t i = 0; i < days.size(); ++i)
        days[i] = text.find(kDayNames[i]) != std::string_view::npos;
    return days;
}

std::optional<int> ScheduleNumber(std::string_view text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return negative ? -value : value;
}

std::optional<std::array<int, 2>> IntervalFromText(std::string_view text)
{
    const auto hours = Between(text, "Every ", " hours");
    const auto minutes = Between(text, "hours, ", " mins");
    if (!hours || !minutes)
        return std::nullopt;
    const auto h = ScheduleNumber(*hours);
    const auto m = ScheduleNumber(*minutes);
    if (!h || !m)
        return std::nullopt;
    return std::array<int, 2>{*h, *m};
}

TDateTime NextIntervalRun(TDateTime now, int hours, int minutes)
{
    return now + hours / 24.0 + minutes / 1440.0;
}

TDateTime NextDailyRun(TDateTime now, TDateTime timeOfDay)
{
    const TDateTime today = DateOf(now);
    return TimeOf(now) > timeOfDay ? today + 1 + timeOfDay : today + timeOfDay;
}

std::optional<TDateTime> NextWeeklyRun(TDateTime now, const TWeekDays& days, TDateTime timeOfDay)
{
    if (!AnyDay(days))
        return std::nullopt;
    TDateTime candidate = DateOf(now) + timeOfDay;
    while (now > candidate || !days[static_cast<std::size_t>(WeekDayIndex(candidate))])
        candidate += 1;
    return candidate;
}

TScheduleOutcome ComputeSchedule(const TScheduleChoice& choice, TDateTime now)
{
    TScheduleOutcome out;
    switch (choice.kind) {
    case TScheduleKind::Once:
    case TScheduleKind::Now:
    case TScheduleKind::None: {
        const TDateTime when = DateOf(choice.atDate) + TimeOf(choice.atTime);
        const std::string at = ScheduleDateText(when) + "  " + ScheduleTimeText(when);
        out.nextRun = when;
        out.scheduleText = "Once at " + at;
        out.scheduleLabel = " Run once at " + at;
        break;
    }
    case TScheduleKind::Every: {
        out.hours = choice.hours.empty() ? "0" : choice.hours;
        out.minutes = choice.minutes.empty() ? "0" : choice.minutes;
        const auto h = ScheduleNumber(out.hours);
        if (!h) {
            out.ok = false;
            out.error = ConversionError(out.hours);
            return out;
        }
        if (*h > 23)
            out.hours = "23";
        else if (*h < 0)
            out.hours = "0";
        const auto m = ScheduleNumber(out.minutes);
        if (!m) {
            out.ok = false;
            out.error = ConversionError(out.minutes);
            return out;
        }
        if (*m >= 60)
            out.minutes = "59";
        else if (*m < 0)
            out.minutes = "0";
        out.nextRun = NextIntervalRun(now, *ScheduleNumber(out.hours), *ScheduleNumber(out.minutes));
        out.scheduleText = EveryScheduleText(out.hours, out.minutes);
        out.scheduleLabel = " Run every " + out.hours + " hours, " + out.minutes + " mins";
        break;
    }
    case TScheduleKind::Daily: {
        const TDateTime next = NextDailyRun(now, TimeOf(choice.dailyAt));
        out.nextRun = next;
        out.scheduleText = "Daily at " + ScheduleTimeText(next);
        out.scheduleLabel = " Run daily at " + ScheduleTimeText(next);
        break;
    }
    case TScheduleKind::Weekly: {
        out.days = WeekDaysText(choice.days);
        const std::string at = ScheduleTimeText(choice.weeklyAt);
        out.scheduleLabel = " Run every " + out.days + " of every week at " + at;
        out.scheduleText = "Weekly every " + out.days + " at " + at;
        out.nextRun = NextWeeklyRun(now, choice.days, TimeOf(choice.weeklyAt));
        break;
    }
    }
    if (out.nextRun)
        out.nextRunLabel = " Next Run: " + ScheduleDateText(*out.nextRun) + "  " + ScheduleTimeText(*out.nextRun);
    return out;
}

TRescheduleResult RescheduleTask(TPXTask& task, TDateTime now)
{
    TRescheduleResult result;
    const std::string text = task.Schedule();
    switch (ScheduleKindOf(text)) {
    case TScheduleKind::Now:
        task.SetNextRun(0);
        task.SetSchedule("");
        break;
    case TScheduleKind::Every: {
        const auto interval = IntervalFromText(text);
        if (!interval) {
            const auto hours = Between(text, "Every ", " hours");
            result.ok = false;
            result.error = ConversionError(hours ? *hours : std::string_view(text));
            return result;
        }
        task.SetNextRun(NextIntervalRun(now, (*interval)[0], (*interval)[1]));
        task.SetStatus(kStatusScheduled);
        break;
    }
    case TScheduleKind::Daily:
        task.SetNextRun(SkipToNow(task.NextRun(), now));
        task.SetStatus(kStatusScheduled);
        break;
    case TScheduleKind::Weekly: {
        const TWeekDays days = WeekDaysFromText(text);
        // A text naming no day (edited by hand) has no next occurrence: leave the task alone
        // rather than search forever.
        if (!AnyDay(days)) {
            result.ok = false;
            result.error = "The weekly schedule names no day: " + text;
            return result;
        }
        TDateTime next = SkipToNow(task.NextRun(), now);
        while (!days[static_cast<std::size_t>(WeekDayIndex(next))])
            next += 1;
        task.SetNextRun(next);
        task.SetStatus(kStatusScheduled);
        break;
    }
    case TScheduleKind::Once:
    case TScheduleKind::None:
        return result;
    }
    task.Save();
    result.changed = true;
    return result;
}

} // namespace pellix
