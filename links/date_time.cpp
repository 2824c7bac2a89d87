// TDateTime: the date-time values of tasks, schedules and reports, and their task-file text form.
#include "links/date_time.h"

#include <chrono>
#include <cmath>
#include <cstdio>

namespace pellix {

namespace {

constexpr double kMillisecondsPerDay = 86400000.0;
// Beyond year 9999 a value is no date.
constexpr double kLargestDay = 2958466.0;

// Days from 1970-01-01 to a proleptic Gregorian date (H. Hinnant's algorithm).
constexpr long long DaysFromCivil(long long year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

void CivilFromDays(long long days, int& year, int& month, int& day)
{
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(static_cast<long long>(yearOfEra) + era * 400 + (month <= 2));
}

// Day 0 of TDateTime, counted from 1970-01-01; constexpr, so that other files' static values
// made from dates never see it unset.
constexpr long long kEpochOffset = DaysFromCivil(1899, 12, 30);

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool ValidDate(int year, int month, int day)
{
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1
        && day <= DaysInMonth(year, month);
}

bool ValidTime(int hour, int minute, int second, int millisecond)
{
    return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60
        && millisecond >= 0 && millisecond < 1000;
}

TDateTime Combine(double date, double time) { return date < 0 ? date - time : date + time; }

TDateTime FromTm(const std::tm& tm, int millisecond)
{
    return EncodeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                          tm.tm_sec < 60 ? tm.tm_sec : 59, millisecond);
}

// Reads 1 to maxDigits decimal digits at text[pos]; false when there are none.
bool ReadNumber(std::string_view text, std::size_t& pos, std::size_t maxDigits, int& value,
                std::size_t& digits)
{
    value = 0;
    digits = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < maxDigits) {
        value = value * 10 + (text[pos] - '0');
        ++pos;
        ++digits;
    }
    return digits > 0;
}

bool Expect(std::string_view text, std::size_t& pos, char c)
{
    if (pos < text.size() && text[pos] == c) {
        ++pos;
        return true;
    }
    return false;
}

} // namespace

TDateTime Now()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millisecond = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 now.time_since_epoch()).count() % 1000;
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr)
        return 0;
    return FromTm(local, static_cast<int>(millisecond < 0 ? millisecond + 1000 : millisecond));
}

TDateTime EncodeDate(int year, int month, int day)
{
    if (!ValidDate(year, month, day))
        return 0;
    return static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month),
                                             static_cast<unsigned>(day)) - kEpochOffset);
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond)
{
    if (!ValidTime(hour, minute, second, millisecond))
        return 0;
    return (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond) / kMillisecondsPerDay;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond)
{
    if (!ValidDate(year, month, day) || !ValidTime(hour, minute, second, millisecond))
        return 0;
    return Combine(EncodeDate(year, month, day), EncodeTime(hour, minute, second, millisecond));
}

TDateTimeParts DecodeDateTime(TDateTime value)
{
    TDateTimeParts parts;
    if (!std::isfinite(value) || std::fabs(value) >= kLargestDay)
        return parts;
    long long days = static_cast<long long>(std::trunc(value));
    auto milliseconds = static_cast<long long>(std::llround(std::fabs(value - std::trunc(value)) * kMillisecondsPerDay));
    if (milliseconds >= static_cast<long long>(kMillisecondsPerDay)) {
        milliseconds -= static_cast<long long>(kMillisecondsPerDay);
        ++days;
    }
    CivilFromDays(days + kEpochOffset, parts.year, parts.month, parts.day);
    parts.millisecond = static_cast<int>(milliseconds % 1000);
    parts.second = static_cast<int>(milliseconds / 1000 % 60);
    parts.minute = static_cast<int>(milliseconds / 60000 % 60);
    parts.hour = static_cast<int>(milliseconds / 3600000);
    return parts;
}

int DayOfWeek(TDateTime value)
{
    if (!std::isfinite(value) || std::fabs(value) >= kLargestDay)
        return 7;
    const auto days = static_cast<long long>(std::trunc(value));
    // Day 0, 1899-12-30, was a Saturday.
    return static_cast<int>(((days % 7) + 7 + 6) % 7) + 1;
}

TDateTime DateOf(TDateTime value) { return std::trunc(value); }

TDateTime TimeOf(TDateTime value) { return std::fabs(value - std::trunc(value)); }

TDateTime FromTimeT(std::time_t time)
{
    std::tm local{};
    if (localtime_r(&time, &local) == nullptr)
        return 0;
    return FromTm(local, 0);
}

std::time_t ToTimeT(TDateTime value)
{
    const TDateTimeParts parts = DecodeDateTime(value);
    std::tm local{};
    local.tm_year = parts.year - 1900;
    local.tm_mon = parts.month - 1;
    local.tm_mday = parts.day;
    local.tm_hour = parts.hour;
    local.tm_min = parts.minute;
    local.tm_sec = parts.second;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

std::string FormatTaskDateTime(TDateTime value)
{
    if (value == 0 || !std::isfinite(value))
        return {};
    const TDateTimeParts p = DecodeDateTime(value);
    char text[32];
    std::snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d", p.month, p.day, p.year % 100,
                  p.hour, p.minute, p.second);
    return text;
}

TDateTime ParseTaskDateTime(std::string_view text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);

    std::size_t pos = 0;
    std::size_t digits = 0;
    int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (!ReadNumber(text, pos, 2, month, digits) || !Expect(text, pos, '/')
        || !ReadNumber(text, pos, 2, day, digits) || !Expect(text, pos, '/')
        || !ReadNumber(text, pos, 4, year, digits) || (digits != 2 && digits != 4))
        return 0;
    if (digits == 2)
        year += year < 50 ? 2000 : 1900;

    if (pos < text.size()) {
        if (text[pos] != ' ')
            return 0;
        while (pos < text.size() && text[pos] == ' ')
            ++pos;
        if (!ReadNumber(text, pos, 2, hour, digits) || !Expect(text, pos, ':')
            || !ReadNumber(text, pos, 2, minute, digits))
            return 0;
        if (Expect(text, pos, ':') && !ReadNumber(text, pos, 2, second, digits))
            return 0;
        if (pos != text.size())
            return 0;
    }
    return EncodeDateTime(year, month, day, hour, minute, second);
}

} // namespace pellix
