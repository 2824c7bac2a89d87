// TDateTime: the date-time values of tasks, schedules and reports, and their task-file text form.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace pellix {

// Days since 1899-12-30 00:00 with the time of day as the fraction, in local time. 0 means
// "not set". Before 1899-12-30 the whole part is negative and the fraction still counts
// forward from midnight (-1.25 is 1899-12-29 06:00).
using TDateTime = double;

struct TDateTimeParts {
    int year = 1899;
    int month = 12;
    int day = 30;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// The current local date and time.
TDateTime Now();

// Whole days for a date (years 1..9999); 0 for a date that does not exist.
TDateTime EncodeDate(int year, int month, int day);
// The fraction of a day for a time of day; 0 for a time out of range.
TDateTime EncodeTime(int hour, int minute, int second, int millisecond = 0);
// Both; 0 when either is out of range.
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond = 0);

// The calendar parts of a value, to the nearest millisecond.
TDateTimeParts DecodeDateTime(TDateTime value);

// 1 = Sunday, 2 = Monday, ... 7 = Saturday.
int DayOfWeek(TDateTime value);

// The date alone (midnight) and the time of day alone (fraction).
TDateTime DateOf(TDateTime value);
TDateTime TimeOf(TDateTime value);

// Conversions with system time, in local time (file times, HTTP dates).
TDateTime FromTimeT(std::time_t time);
std::time_t ToTimeT(TDateTime value);

// The task-file form "mm/dd/yy hh:mm:ss" (24-hour clock); 0 gives the empty text.
std::string FormatTaskDateTime(TDateTime value);

// Reads the task-file form. Accepts one- or two-digit fields, four-digit years and a missing
// time ("mm/dd/yy" is midnight). Two-digit years 00-49 are 2000-2049, 50-99 are 1950-1999.
// Empty or malformed text, or a date that does not exist, gives 0.
TDateTime ParseTaskDateTime(std::string_view text);

} // namespace pellix
