// Tests for TDateTime values and their task-file text form.
#include "links/date_time.h"

#include <cmath>

#include <gtest/gtest.h>

namespace pellix {
namespace {

TEST(DateTimeTest, EncodeCountsDaysFrom18991230)
{
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0);
    EXPECT_EQ(EncodeDate(1900, 1, 1), 2);
    EXPECT_EQ(EncodeDate(2000, 1, 1), 36526);
    EXPECT_EQ(EncodeDate(1899, 12, 29), -1);
    EXPECT_DOUBLE_EQ(EncodeTime(6, 0, 0), 0.25);
    EXPECT_DOUBLE_EQ(EncodeTime(12, 0, 0), 0.5);
    EXPECT_DOUBLE_EQ(EncodeDateTime(2000, 1, 1, 18, 0, 0), 36526.75);
    // Before day 0 the fraction still counts forward from midnight.
    EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 29, 6, 0, 0), -1.25);

    // Dates and times that do not exist.
    EXPECT_EQ(EncodeDate(2001, 2, 29), 0);
    EXPECT_EQ(EncodeDate(2000, 13, 1), 0);
    EXPECT_EQ(EncodeDate(0, 1, 1), 0);
    EXPECT_EQ(EncodeTime(24, 0, 0), 0);
    EXPECT_EQ(EncodeTime(0, 60, 0), 0);
    EXPECT_EQ(EncodeDateTime(2000, 2, 30, 1, 0, 0), 0);
}

TEST(DateTimeTest, DecodeRoundTrips)
{
    const TDateTimeParts samples[] = {
        {2000, 2, 29, 23, 59, 59, 999}, {1899, 12, 30, 0, 0, 0, 0}, {1899, 12, 29, 6, 0, 0, 0},
        {1600, 3, 1, 12, 30, 15, 500},  {9999, 12, 31, 23, 59, 59, 0}, {2049, 12, 31, 0, 0, 1, 1},
    };
    for (const TDateTimeParts& p : samples) {
        SCOPED_TRACE(std::to_string(p.year) + "-" + std::to_string(p.month) + "-" + std::to_string(p.day));
        const TDateTimeParts d = DecodeDateTime(
            EncodeDateTime(p.year, p.month, p.day, p.hour, p.minute, p.second, p.millisecond));
        EXPECT_EQ(d.year, p.year);
        EXPECT_EQ(d.month, p.month);
        EXPECT_EQ(d.day, p.day);
        EXPECT_EQ(d.hour, p.hour);
        EXPECT_EQ(d.minute, p.minute);
        EXPECT_EQ(d.second, p.second);
        EXPECT_EQ(d.millisecond, p.millisecond);
    }

    // A value a hair before midnight rounds into the next day, not to 24:00.
    const TDateTimeParts next = DecodeDateTime(EncodeDate(2000, 12, 31) + 1 - 1e-10);
    EXPECT_EQ(next.year, 2001);
    EXPECT_EQ(next.month, 1);
    EXPECT_EQ(next.day, 1);
    EXPECT_EQ(next.hour, 0);

    // Values that are no date decode to day 0 instead of garbage.
    EXPECT_EQ(DecodeDateTime(NAN).year, 1899);
    EXPECT_EQ(DecodeDateTime(1e300).year, 1899);
}

TEST(DateTimeTest, DayOfWeekStartsOnSunday)
{
    EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 30)), 7); // Saturday
    EXPECT_EQ(DayOfWeek(EncodeDate(2024, 6, 2)), 1);   // Sunday
    EXPECT_EQ(DayOfWeek(EncodeDateTime(2024, 6, 3, 23, 0, 0)), 2);
    EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 29)), 6);
    EXPECT_EQ(DayOfWeek(EncodeDate(1800, 1, 1)), 4); // Wednesday
}

TEST(DateTimeTest, DateOfTimeOf)
{
    const TDateTime value = EncodeDateTime(2010, 5, 6, 18, 0, 0);
    EXPECT_EQ(DateOf(value), EncodeDate(2010, 5, 6));
    EXPECT_DOUBLE_EQ(TimeOf(value), 0.75);
    EXPECT_DOUBLE_EQ(TimeOf(-1.25), 0.25);
}

TEST(DateTimeTest, SystemTimeConversions)
{
    const TDateTime value = EncodeDateTime(2021, 7, 4, 13, 14, 15);
    EXPECT_EQ(FromTimeT(ToTimeT(value)), value);
    const TDateTime now = Now();
    EXPECT_LE(std::fabs(now - FromTimeT(std::time(nullptr))), 2.0 / 86400);
}

TEST(DateTimeTest, TaskTextFormat)
{
    EXPECT_EQ(FormatTaskDateTime(0), "");
    EXPECT_EQ(FormatTaskDateTime(EncodeDateTime(2003, 4, 5, 6, 7, 8)), "04/05/03 06:07:08");
    EXPECT_EQ(FormatTaskDateTime(EncodeDateTime(1999, 12, 31, 23, 59, 59, 999)), "12/31/99 23:59:59");
    EXPECT_EQ(FormatTaskDateTime(NAN), "");
}

TEST(DateTimeTest, TaskTextParse)
{
    const struct {
        const char* text;
        TDateTime value;
    } cases[] = {
        {"04/05/03 06:07:08", EncodeDateTime(2003, 4, 5, 6, 7, 8)},
        {"12/31/99 23:59:59", EncodeDateTime(1999, 12, 31, 23, 59, 59)},
        {"01/01/49 00:00:00", EncodeDate(2049, 1, 1)},
        {"01/01/50 00:00:00", EncodeDate(1950, 1, 1)},
        {"1/2/2024 3:04", EncodeDateTime(2024, 1, 2, 3, 4, 0)},
        {" 6/7/08 ", EncodeDate(2008, 6, 7)},
        {"", 0},
        {"garbage", 0},
        {"13/01/03 00:00:00", 0},
        {"02/30/03 00:00:00", 0},
        {"01/01/03 24:00:00", 0},
        {"01/01/03 10:00:00 PM", 0},
        {"01/01/3 10:00:00", 0},
        {"01/01/03x", 0},
        {"01/01/03 10:", 0},
        {"99999999999999/1/1", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseTaskDateTime(c.text), c.value);
    }

    // Whole seconds survive the text form.
    const TDateTime value = EncodeDateTime(2030, 10, 11, 12, 13, 14);
    EXPECT_EQ(ParseTaskDateTime(FormatTaskDateTime(value)), value);
}

} // namespace
} // namespace pellix
