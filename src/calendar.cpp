#include "calendar.h"

// Days are counted in eras of 400 years, each exactly 146097 days long, whose
// years begin on 1 March so that a leap day ends its year: the era of day 0
// begins on 0000-03-01, 719468 days before 1970-01-01.
static const int64_t ERA_DAYS = 146097;
static const int64_t MARCH_OF_YEAR_0 = 719468;
static const int64_t DAY_SECONDS = 86400;

// The quotient rounded down and the remainder of 0 to by - 1, whatever the
// sign of value: days and seconds before 1970 too, and without overflow.
static int64_t floorDivide(int64_t value, int64_t by, int64_t* rest)
{
    int64_t remainder = value % by;

    *rest = remainder < 0 ? remainder + by : remainder;
    return value / by - (remainder < 0);
}

bool isLeapYear(int64_t year)
{
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int daysInMonth(int64_t year, int month)
{
    static const int DAYS[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

    if (month < 1 || month > 12)
        return 0;
    return month == 2 && isLeapYear(year) ? 29 : DAYS[month - 1];
}

bool dateExists(int64_t year, int month, int day)
{
    return day >= 1 && day <= daysInMonth(year, month);
}

// Months from March: (153 m + 2) / 5 days lie before month m of a year from 1
// March, 0 for March to 306 for February.
int64_t daysFromCivil(int64_t year, int month, int day)
{
    int64_t year_of_era, from_march = month > 2 ? (int64_t)month - 3 : (int64_t)month + 9;
    int64_t era = floorDivide(month > 2 ? year : year - 1, 400, &year_of_era);
    int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 +
                         (153 * from_march + 2) / 5 + day - 1;

    return era * ERA_DAYS + day_of_era - MARCH_OF_YEAR_0;
}

void civilFromDays(int64_t days, int64_t* year, int* month, int* day)
{
    int64_t day_of_era;
    int64_t era = floorDivide(days, ERA_DAYS, &day_of_era);

    // Day 0 of the era counted from 1 March of year 0 of the era, as it begins.
    day_of_era += MARCH_OF_YEAR_0;
    era += day_of_era / ERA_DAYS;
    day_of_era %= ERA_DAYS;
    // The leap days so far taken out, each year of the era is 365 days long.
    int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 -
                           day_of_era / (ERA_DAYS - 1)) / 365;
    int64_t day_of_year = day_of_era - (year_of_era * 365 + year_of_era / 4 - year_of_era / 100);
    int64_t from_march = (5 * day_of_year + 2) / 153;

    *day = (int)(day_of_year - (153 * from_march + 2) / 5 + 1);
    *month = (int)(from_march < 10 ? from_march + 3 : from_march - 9);
    *year = era * 400 + year_of_era + (*month <= 2);
}

int weekdayFromDays(int64_t days)
{
    int64_t weekday;

    floorDivide(days, 7, &weekday);
    return (int)((weekday + 4) % 7);   // 1970-01-01 was a Thursday
}

int64_t secondsFromCivil(const t_civil_time* time)
{
    return daysFromCivil(time->year, time->month, time->day) * DAY_SECONDS +
           (int64_t)time->hour * 3600 + (int64_t)time->minute * 60 + time->second;
}

void civilFromSeconds(int64_t seconds, t_civil_time* time)
{
    int64_t of_day;

    civilFromDays(floorDivide(seconds, DAY_SECONDS, &of_day), &time->year, &time->month,
                  &time->day);
    time->hour = (int)(of_day / 3600);
    time->minute = (int)(of_day / 60 % 60);
    time->second = (int)(of_day % 60);
}
