// The station's clock: the calendar.
#include <gtest/gtest.h>

#include "calendar.h"

// Each day of 4000 years from a known day around year 0 and each int32 year's end follows the
// day before, weekday too, and comes back, with a second of it; a reading less its offset.
TEST(Calendar, DaysAndSeconds)
{
    const struct { int64_t days, year; int month, weekday; } starts[] = {
        {-1449953, -2000, 3, 3}, {-784353746318, INT32_MIN - 2000LL, 1, 2},
        {784350845927, INT32_MAX - 2000LL, 1, 2},
    };
    const t_civil_time local = {1999, 12, 31, 23, 30, 0}, west = {2000, 1, 1, 0, 30, 0};
    EXPECT_TRUE(daysFromCivil(1970, 1, 1) == 0 && daysInMonth(2003, 0) == 0 &&
                daysInMonth(2003, 13) == 0 && !dateExists(2003, 1, 0) &&
                secondsFromCivil(&local) + 3600 == secondsFromCivil(&west));
    for (const auto& start : starts) {
        t_civil_time day = {start.year, start.month, 1, 0, 0, 0}, next, time;
        for (int64_t days = start.days; days < start.days + 1461000; days++, day = next) {
            bool same_month = dateExists(day.year, day.month, day.day + 1);
            int64_t year, second = days * 86400 + (days * 7919 & 0xFFFF) % 86400;
            int month, date;
            civilFromDays(days + 1, &year, &month, &date);
            civilFromSeconds(second, &time);
            next = {year, month, date, 0, 0, 0};
            ASSERT_TRUE(daysFromCivil(day.year, day.month, day.day) == days &&
                        dateExists(day.year, day.month, day.day) &&
                        weekdayFromDays(days) == (start.weekday + days - start.days) % 7 &&
                        date == (same_month ? day.day + 1 : 1) &&
                        month == (same_month ? day.month : day.month % 12 + 1) &&
                        year == day.year + (!same_month && day.month == 12) &&
                        time.year == day.year && time.month == day.month && time.day == day.day &&
                        time.minute < 60 && time.second < 60 && secondsFromCivil(&time) == second)
                << days;
        }
    }
}
